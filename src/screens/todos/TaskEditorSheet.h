#pragma once

#include "screens/todos/TaskEditorModel.h"

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <functional>
#include <optional>
#include <vector>

class ChoiceDialog;
class Eyebrow;
class FocusButton;
class FocusSectionHeader;
class QAbstractButton;
class QDateEdit;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QTimeEdit;
class QToolButton;
class QVBoxLayout;
class Reminders;
class StepCheckbox;

// The sheet in which a to-do is created or edited. It shows a TaskEditorModel, hands the finished
// record to onSave (or the untouched one to onDelete) and closes; it never writes data itself.
// When onSave answers with an error the record was not kept: the sheet stays open and says why.
// Object names: "cancelButton", "saveButton", "deleteButton", "titleField", "priority-high|medium|low",
// "addDueButton", "dueDateEdit", "dueTimeEdit", "removeDueButton", "addReminderButton",
// "reminderMenuButton", "remindAtEdit", "removeReminderButton", "notificationsNotice",
// "repeatButton", "stepsHeader", "stepRow" (each: "stepCheck", "stepTitle", "removeStepButton"),
// "newStepField", "descriptionField", "footer".
class TaskEditorSheet : public QDialog {
    Q_OBJECT
public:
    struct Inputs {
        std::optional<TaskItem> existingTodo;
        Date selectedDate = 0;
        const Clock* clock = nullptr;
        std::function<Calendar()> calendar;
        Reminders* reminders = nullptr; // notification permission; may be absent
        // Opens the desktop's notification settings; empty where the desktop has none to open.
        std::function<bool()> openNotificationSettings;
        std::function<std::optional<QString>(const TaskItem&)> onSave;
        std::function<void(const TaskItem&)> onDelete; // empty: the sheet offers no deletion
    };

    TaskEditorSheet(Inputs inputs, QWidget* parent = nullptr);

    TaskEditorModel& model() { return m_model; }
    // A sheet for a new to-do, built ahead or closed after an earlier one, made to start as one
    // built now for `selectedDate` would: blank, its defaults following the clock, the keyboard on
    // the title once it shows.
    void restart(Date selectedDate);
    // Gives back the window of a sheet closed and kept: its buffer alone takes megabytes at a
    // scale of 2. Showing it again makes a new one.
    void releaseWindow();
    // Lays the sheet out and draws it once off the screen, so that its fonts and glyphs are ready
    // before it first shows.
    void prepareFirstFrame();
    bool notificationsDenied() const { return m_notificationsDenied; }
    // The question the sheet shows now, if any.
    ChoiceDialog* openQuestion() const;

    void cancel();
    // Something else needs the window: closes at once when nothing changed (true); otherwise
    // asks as Cancel does and runs `then` after "Discard Changes" (false).
    bool closeOrAsk(std::function<void()> then);
    void save();
    void requestDelete();
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    QWidget* buildHeader();
    QWidget* buildForm();
    QWidget* buildFooter();
    QWidget* editorRow(int symbol, const QString& title, QWidget* content);
    void buildStepRows();
    // Shows the model's state; code that sets a control blocks its signals first.
    void sync();
    void syncSteps();
    void updateNotificationsDenied();
    void refreshNotificationStatus();
    void applyNotesLimit();
    void ask(ChoiceDialog* dialog);
    void finishWith(QDialog::DialogCode code);

    Inputs m_inputs;
    TaskEditorModel m_model;
    bool m_shownOnce = false;
    bool m_notificationsDenied = false;
    bool m_composingNotes = false;
    QPointer<ChoiceDialog> m_question;
    QIcon m_check;

    Eyebrow* m_headerTitle = nullptr;
    QAbstractButton* m_saveButton = nullptr;
    QLineEdit* m_title = nullptr;
    std::vector<QAbstractButton*> m_chips;
    QPushButton* m_addDue = nullptr;
    QDateEdit* m_dateEdit = nullptr;
    QTimeEdit* m_timeEdit = nullptr;
    QToolButton* m_removeDue = nullptr;
    QPushButton* m_addReminder = nullptr;
    QToolButton* m_reminderMenuButton = nullptr;
    QMenu* m_reminderMenu = nullptr;
    QTimeEdit* m_remindAt = nullptr;
    QLabel* m_reminderDay = nullptr;
    QToolButton* m_removeReminder = nullptr;
    QWidget* m_notice = nullptr;
    QToolButton* m_repeatButton = nullptr;
    QMenu* m_repeatMenu = nullptr;
    FocusSectionHeader* m_stepsHeader = nullptr;
    QVBoxLayout* m_stepRows = nullptr;
    struct StepRowWidgets {
        QUuid id;
        QWidget* row;
        StepCheckbox* check;
        QLineEdit* title;
        QToolButton* remove;
    };
    std::vector<StepRowWidgets> m_stepWidgets;
    QLineEdit* m_newStep = nullptr;
    QPlainTextEdit* m_notes = nullptr;
    QScrollArea* m_formScroll = nullptr;
};

#pragma once

#include "model/Clock.h"
#include "screens/block/RuleForm.h"

#include <QAbstractButton>
#include <QDialog>
#include <QMap>
#include <QPointer>
#include <functional>
#include <optional>

class ChoiceDialog;
class FocusButton;
class FocusSwitch;
class QLabel;
class QLineEdit;
class QTimeEdit;
class QWidget;

// The add/edit rule sheet. It never writes to the store: Save hands the finished rule to
// `onSave`, which answers nothing when the change was stored and written, or the text to show
// when it was not (the sheet then stays open). Window-modal; open it with open().
//
// Object names: "cancelButton", "saveButton", "websiteField", "websiteMessage", "nameField",
// "preset" buttons (property "site"), "mode" rows (property "mode"), "fromTime", "toTime",
// "limit" chips (property "minutes"), "weekdayPreset" (property "title"), "weekday" buttons
// (property "weekday"), "breakSwitch", "savedLabel", "saveError".
class AddRuleSheet : public QDialog {
    Q_OBJECT
public:
    using SaveAction = std::function<std::optional<QString>(const BlockRule&)>;

    AddRuleSheet(std::optional<BlockRule> existingRule, QSet<QString> existingDomains, SaveAction onSave,
                 const Clock& clock, QWidget* parent = nullptr);

    const RuleForm& form() const { return m_form; }

    // Saves when saving is allowed (the primary button and Return).
    void save();
    // Cancel, Escape and the window's close: asks before changes are thrown away.
    void reject() override;
    // The discard question while it is open.
    ChoiceDialog* openQuestion() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* buildWebsiteBlock();
    QWidget* buildWhenBlock();
    QWidget* buildDaysBlock();
    QWidget* buildBreakRow();
    void refresh();

    RuleForm m_form;
    SaveAction m_onSave;
    const Clock& m_clock;

    QAbstractButton* m_saveButton;
    QLineEdit* m_website;
    QLabel* m_websiteMessage;
    QLineEdit* m_name;
    QList<QAbstractButton*> m_presets;
    QList<QAbstractButton*> m_modeButtons;
    QMap<int, QWidget*> m_modeFrames;
    QWidget* m_times;
    QTimeEdit* m_from;
    QTimeEdit* m_to;
    QWidget* m_limits;
    QList<FocusButton*> m_limitChips;
    QList<FocusButton*> m_weekdayPresets;
    QList<QAbstractButton*> m_weekdays;
    FocusSwitch* m_breakSwitch;
    QLabel* m_saved;
    QLabel* m_saveError;
    QPointer<ChoiceDialog> m_question;
};

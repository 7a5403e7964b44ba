#pragma once

#include "screens/block/DoomScrollTexts.h"

#include <QDialog>
#include <QPointer>
#include <functional>

class ChoiceDialog;
class Eyebrow;
class FlowingChips;
class FocusButton;
class FocusSwitch;
class QLabel;
class QLineEdit;
class WrappingLabel;

// The doom-scroll settings on a copy of their values: Save hands them to `onSave` and closes,
// Cancel or Escape closes and changes nothing, after asking when something was changed. Return in the add field adds
// the site only.
//
// Object names: "cancelButton", "saveButton", "summaryEyebrow", "summaryText", "addField",
// "addButton", "domainError", "emptyText", "chips", "usage"/"break" option buttons (property
// "minutes"), "enableSwitch".
class DoomScrollConfigSheet : public QDialog {
    Q_OBJECT
public:
    using SaveAction = std::function<void(const DoomScrollConfig&)>;

    DoomScrollConfigSheet(const DoomScrollConfig& config, SaveAction onSave, QWidget* parent = nullptr);

    const DoomScrollForm& form() const { return m_form; }
    void save();
    void reject() override;
    // The discard question while it is open.
    ChoiceDialog* openQuestion() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void addDomain();
    void refresh();

    DoomScrollForm m_form;
    SaveAction m_onSave;
    Eyebrow* m_eyebrow;
    WrappingLabel* m_summary;
    QLineEdit* m_field;
    FocusButton* m_add;
    QLabel* m_error;
    QLabel* m_empty;
    QWidget* m_listed;
    FlowingChips* m_chips;
    QList<FocusButton*> m_usageButtons;
    QList<FocusButton*> m_breakButtons;
    FocusSwitch* m_switch;
    QPointer<ChoiceDialog> m_question;
};

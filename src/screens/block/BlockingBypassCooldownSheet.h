#pragma once

#include "screens/block/BypassCooldown.h"

#include <QDialog>
#include <QTimer>
#include <QUuid>
#include <functional>
#include <optional>

class CountdownRing;
class Eyebrow;
class FocusButton;
class QLabel;
class QWidget;
struct AppContext;

// The sheet that makes a weakening step wait 15 seconds before it can be confirmed. It performs
// nothing itself: `onGrant` runs once, from the confirm button, after the wait, and reports
// whether the step was granted. Window-modal; open it with open().
//
// Object names: "cancelButton", "confirmButton", "closeButton", "doneButton", "ring",
// "focusReminder", "failureText", "grantedTitle".
class BlockingBypassCooldownSheet : public QDialog {
    Q_OBJECT
public:
    BlockingBypassCooldownSheet(const BlockingBypassKind& kind, const std::optional<QString>& focusTitle,
                                std::function<bool()> onGrant, const MonotonicClock& clock, QWidget* parent = nullptr);

    // The urgent-break sheet for a rule, as the main window presents it when the router asks:
    // the site's name, the to-do in focus, and a grant that asks the store for today's break
    // (its fallback end two hours on). Null when the store has no such rule.
    static BlockingBypassCooldownSheet* forUrgentBreak(AppContext& context, const QUuid& ruleId,
                                                       QWidget* parent = nullptr);

    const BypassCooldown& cooldown() const { return m_cooldown; }
    // What the sheet says when the grant fails, in place of "no longer available" (a refusal of
    // the store's disk is no change of the rule).
    void setFailureText(const QString& text);
    // Reads the monotonic clock now (the timer does it every 0.25 seconds).
    void tick();

    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void confirm();
    void refresh();

    BlockingBypassKind m_kind;
    std::function<bool()> m_onGrant;
    BypassCooldown m_cooldown;
    QTimer m_timer;

    QWidget* m_waiting;
    QWidget* m_granted;
    CountdownRing* m_ring;
    QWidget* m_focusReminder = nullptr;
    QLabel* m_failure;
    QWidget* m_buttonRow;
    FocusButton* m_cancel;
    FocusButton* m_confirm;
    FocusButton* m_close;
};

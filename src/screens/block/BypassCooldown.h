#pragma once

#include "model/Clock.h"

#include <QString>
#include <functional>

// The step that a cool-down asks about, with every text the sheet shows for it.
struct BlockingBypassKind {
    enum class Case { urgentBreak, pause, removeRule, loosenRule };

    Case kind = Case::urgentBreak;
    QString siteName;    // urgentBreak, removeRule, loosenRule
    double duration = 0; // pause, in seconds

    static BlockingBypassKind urgentBreak(const QString& siteName) { return {Case::urgentBreak, siteName, 0}; }
    static BlockingBypassKind pause(double seconds) { return {Case::pause, {}, seconds}; }
    static BlockingBypassKind removeRule(const QString& siteName) { return {Case::removeRule, siteName, 0}; }
    static BlockingBypassKind loosenRule(const QString& siteName) { return {Case::loosenRule, siteName, 0}; }

    QString headingText() const;
    QString titleText() const;
    QString explanationText() const;
    QString cancelLabel() const;
    QString confirmLabel() const;
    QString grantedTitle() const;
    QString grantedDetailText() const;

    // "1 hour" above 59 whole minutes, otherwise "<minutes> minutes" (also "1 minutes").
    static QString durationText(double seconds);
};

// The 15-second wait before a weakening step can be confirmed. It reads a monotonic clock, so
// setting the wall clock forward neither ends nor shortens it, and it follows the clock rather
// than the number of ticks: a late tick catches up at once.
class BypassCooldown {
public:
    static constexpr int cooldownSeconds = 15;
    enum class Phase { counting, ready, granted, failed };

    explicit BypassCooldown(const MonotonicClock& clock);

    // Reads the clock; does nothing once the step was confirmed.
    void tick();

    Phase phase() const;
    int secondsRemaining() const { return m_secondsRemaining; }
    // Share of the ring drawn, 0 ... 1.
    double progress() const;
    QString confirmLabel(const BlockingBypassKind& kind) const;
    QString ringAccessibleText() const;

    // Runs the grant once, only when the wait is over and nothing was confirmed before; true
    // when the grant ran. Its answer decides granted or failed.
    bool confirm(const std::function<bool()>& onGrant);

private:
    const MonotonicClock& m_clock;
    double m_deadline;
    int m_secondsRemaining = cooldownSeconds;
    bool m_didGrant = false;
    bool m_grantFailed = false;
};

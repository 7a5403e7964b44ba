#include "screens/block/BypassCooldown.h"

#include <algorithm>
#include <cmath>

QString BlockingBypassKind::headingText() const
{
    switch (kind) {
    case Case::urgentBreak:
        return QStringLiteral("Urgent break · ") + siteName;
    case Case::pause:
        return QStringLiteral("Pause blocking");
    case Case::removeRule:
        return QStringLiteral("Remove block · ") + siteName;
    case Case::loosenRule:
        return QStringLiteral("Change block · ") + siteName;
    }
    return {};
}

QString BlockingBypassKind::titleText() const
{
    switch (kind) {
    case Case::urgentBreak:
        return QStringLiteral("Do you really need an urgent break?");
    case Case::pause:
        return QStringLiteral("Pause blocking?");
    case Case::removeRule:
        return QStringLiteral("Remove this block?");
    case Case::loosenRule:
        return QStringLiteral("Loosen this block?");
    }
    return {};
}

QString BlockingBypassKind::explanationText() const
{
    switch (kind) {
    case Case::urgentBreak:
        return QStringLiteral("Take a moment before opening ") + siteName +
               QStringLiteral(". The break is available once today and ends after 10 minutes of active use.");
    case Case::pause:
        return QStringLiteral("This opens every blocked site for ") + durationText(duration) +
               QStringLiteral(". You get one pause a day — take a moment to decide if this is the right time.");
    case Case::removeRule:
        return siteName +
               QStringLiteral(
                   " won't be blocked anymore. Take a moment to decide if that supports what matters to you.");
    case Case::loosenRule:
        return QStringLiteral("This change blocks ") + siteName +
               QStringLiteral(" less than before. Take a moment to decide if that supports what matters to you.");
    }
    return {};
}

QString BlockingBypassKind::cancelLabel() const
{
    switch (kind) {
    case Case::urgentBreak:
        return QStringLiteral("Never mind");
    case Case::pause:
        return QStringLiteral("Keep blocking");
    case Case::removeRule:
    case Case::loosenRule:
        return QStringLiteral("Keep block");
    }
    return {};
}

QString BlockingBypassKind::confirmLabel() const
{
    switch (kind) {
    case Case::urgentBreak:
        return QStringLiteral("Unlock for 10 minutes");
    case Case::pause:
        return QStringLiteral("Pause blocking");
    case Case::removeRule:
        return QStringLiteral("Remove block");
    case Case::loosenRule:
        return QStringLiteral("Save changes");
    }
    return {};
}

QString BlockingBypassKind::grantedTitle() const
{
    switch (kind) {
    case Case::urgentBreak:
        return QStringLiteral("The site is now unlocked");
    case Case::pause:
        return QStringLiteral("Blocking is paused");
    case Case::removeRule:
        return QStringLiteral("Block removed");
    case Case::loosenRule:
        return QStringLiteral("Block updated");
    }
    return {};
}

QString BlockingBypassKind::grantedDetailText() const
{
    switch (kind) {
    case Case::urgentBreak:
        return QStringLiteral("Switch back to your browser — the blocked page returns to the site by itself. It blocks "
                              "again after 10 minutes of active use.");
    case Case::pause:
        return QStringLiteral("Blocking will resume automatically in ") + durationText(duration) + u'.';
    case Case::removeRule:
        return QStringLiteral("You can add it back any time from the Block list.");
    case Case::loosenRule:
        return QStringLiteral("Your new schedule is saved.");
    }
    return {};
}

QString BlockingBypassKind::durationText(double seconds)
{
    // A pause length that is not a number or out of range reads as no minutes, never as garbage.
    const double minutes = std::isfinite(seconds) ? std::trunc(seconds / 60.0) : 0.0;
    if (minutes > 59)
        return QStringLiteral("1 hour");
    return QString::number(static_cast<qint64>(std::max(minutes, -1e15))) + QStringLiteral(" minutes");
}

BypassCooldown::BypassCooldown(const MonotonicClock& clock)
    : m_clock(clock), m_deadline(clock.seconds() + cooldownSeconds)
{
}

void BypassCooldown::tick()
{
    if (m_didGrant || m_grantFailed)
        return;
    const double left = std::ceil(m_deadline - m_clock.seconds());
    m_secondsRemaining = static_cast<int>(std::clamp(left, 0.0, double(cooldownSeconds)));
}

BypassCooldown::Phase BypassCooldown::phase() const
{
    if (m_didGrant)
        return Phase::granted;
    if (m_grantFailed)
        return Phase::failed;
    return m_secondsRemaining > 0 ? Phase::counting : Phase::ready;
}

double BypassCooldown::progress() const
{
    return 1.0 - double(m_secondsRemaining) / double(cooldownSeconds);
}

QString BypassCooldown::confirmLabel(const BlockingBypassKind& kind) const
{
    if (m_secondsRemaining <= 0)
        return kind.confirmLabel();
    return kind.confirmLabel() + QStringLiteral(" in ") + QString::number(m_secondsRemaining) + u's';
}

QString BypassCooldown::ringAccessibleText() const
{
    if (m_secondsRemaining < 1)
        return QStringLiteral("Done waiting");
    return QString::number(m_secondsRemaining) + QStringLiteral(" seconds left");
}

bool BypassCooldown::confirm(const std::function<bool()>& onGrant)
{
    tick();
    if (phase() != Phase::ready || !onGrant)
        return false;
    if (onGrant())
        m_didGrant = true;
    else
        m_grantFailed = true;
    return true;
}

#include "blocking/UsageAccounting.h"

#include "store/StorageService.h"

#include <cmath>

namespace {

double stepSince(std::optional<Date> last, Date now)
{
    const double delta = now - *last;
    if (!(delta > 0)) // negative, zero or not a number
        return 0;
    return std::min(delta, UsageAccounting::stepCap);
}

} // namespace

UsageAccounting::UsageAccounting(StorageService* storage, std::function<Calendar()> calendar)
    : m_storage(storage), m_calendar(std::move(calendar))
{
}

void UsageAccounting::reset()
{
    m_ruleID.reset();
    m_lastInspection.reset();
    m_remainder = 0;
    m_lastDoomInspection.reset();
    m_doomRemainder = 0;
}

std::optional<BlockRule> UsageAccounting::activeUrgentBreakRule(const QString& host, Date now) const
{
    if (!m_storage || !m_storage->blocking().state().urgentBreak)
        return std::nullopt;
    const UrgentBreakState& b = *m_storage->blocking().state().urgentBreak;
    if (!b.isRunning(now))
        return std::nullopt;
    for (const BlockRule& rule : m_storage->blocking().rules())
        if (rule.id == b.ruleId && BlockRule::hostMatches(host, rule.domain))
            return rule;
    return std::nullopt;
}

void UsageAccounting::account(const QString& host, Date t)
{
    if (!m_storage)
        return;
    accountDoomScroll(host, t);
    if (!m_storage)
        return;
    std::optional<BlockRule> rule = activeUrgentBreakRule(host, t);
    if (!rule)
        rule = limitRule(host, t);
    if (!rule) {
        m_ruleID.reset();
        m_lastInspection.reset();
        m_remainder = 0;
        return;
    }
    if (m_ruleID != rule->id || !m_lastInspection) {
        m_ruleID = rule->id;
        m_lastInspection = t;
        m_remainder = 0;
        return;
    }
    m_remainder += stepSince(m_lastInspection, t);
    m_lastInspection = t;
    const double whole = std::trunc(m_remainder);
    if (whole >= 1) {
        m_remainder -= whole;
        m_storage->blocking().recordUsage(*rule, static_cast<qint64>(whole));
    }
}

std::optional<BlockRule> UsageAccounting::limitRule(const QString& host, Date t) const
{
    // The weekday is worked out only for a limit rule that covers the host: on most looks none does.
    std::optional<int> weekday;
    for (const BlockRule& r : m_storage->blocking().rules()) {
        if (!r.blockApplySchedule.isAfterMaxDailyTime || !BlockRule::hostMatches(host, r.domain))
            continue;
        if (!r.activeWeekdays.isEmpty() && !weekday)
            weekday = m_calendar().weekday(t);
        if (r.activeWeekdays.isEmpty() || r.activeWeekdays.contains(*weekday))
            return r;
    }
    return std::nullopt;
}

bool UsageAccounting::doomScrollCounts(const QString& host, Date t) const
{
    const DoomScrollConfig& config = m_storage->blocking().doomScrollConfig();
    const auto& doom = m_storage->blocking().state().doomScroll;
    return config.isEnabled && config.matches(host) && !(doom && doom->breakEndsAt && *doom->breakEndsAt > t);
}

bool UsageAccounting::hasUsageToMeasure(const QString& host, Date t) const
{
    if (!m_storage)
        return false;
    return doomScrollCounts(host, t) || activeUrgentBreakRule(host, t) || limitRule(host, t);
}

void UsageAccounting::accountDoomScroll(const QString& host, Date t)
{
    if (!doomScrollCounts(host, t)) {
        m_lastDoomInspection.reset();
        m_doomRemainder = 0;
        return;
    }
    if (!m_lastDoomInspection) {
        m_lastDoomInspection = t;
        m_doomRemainder = 0;
        return;
    }
    m_doomRemainder += stepSince(m_lastDoomInspection, t);
    m_lastDoomInspection = t;
    const double whole = std::trunc(m_doomRemainder);
    if (whole >= 1) {
        m_doomRemainder -= whole;
        m_storage->blocking().recordDoomScrollUsage(static_cast<qint64>(whole));
    }
}

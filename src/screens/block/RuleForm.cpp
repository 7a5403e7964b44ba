#include "screens/block/RuleForm.h"

#include <QUuid>
#include <algorithm>

namespace {

QTime timeOr(std::optional<qint64> hour, std::optional<qint64> minute, int defaultHour)
{
    // Values from a hand-edited file may lie outside a day; they are held to it.
    return QTime(static_cast<int>(std::clamp<qint64>(hour.value_or(defaultHour), 0, 23)),
                 static_cast<int>(std::clamp<qint64>(minute.value_or(0), 0, 59)));
}

} // namespace

const std::vector<RuleForm::Mode>& RuleForm::modes()
{
    static const std::vector<Mode> all{Mode::allDay, Mode::dailyLimit, Mode::hours};
    return all;
}

QString RuleForm::modeText(Mode mode)
{
    switch (mode) {
    case Mode::allDay:
        return QStringLiteral("All day");
    case Mode::dailyLimit:
        return QStringLiteral("After a daily limit");
    case Mode::hours:
        return QStringLiteral("At certain hours");
    }
    return {};
}

std::optional<RuleForm::Mode> RuleForm::modeFromText(const QString& text)
{
    for (Mode mode : modes())
        if (modeText(mode) == text)
            return mode;
    return std::nullopt;
}

QString RuleForm::modeSubtitle(Mode mode)
{
    switch (mode) {
    case Mode::allDay:
        return QStringLiteral("Keep it out of the way on the days you choose");
    case Mode::dailyLimit:
        return QStringLiteral("Use it for a while, then it's blocked until midnight");
    case Mode::hours:
        return QStringLiteral("Blocked during the hours you pick");
    }
    return {};
}

const QList<int>& RuleForm::limitOptions()
{
    static const QList<int> options{5, 10, 15, 20, 30, 45, 60, 90, 120};
    return options;
}

QString RuleForm::limitLabel(int minutes)
{
    if (minutes <= 59)
        return QStringLiteral("%1 min").arg(minutes);
    const int h = minutes / 60, r = minutes % 60;
    return r == 0 ? QStringLiteral("%1 h").arg(h) : QStringLiteral("%1 h %2 min").arg(h).arg(r);
}

const std::vector<RuleForm::WeekdayPreset>& RuleForm::weekdayPresets()
{
    static const std::vector<WeekdayPreset> presets{{QStringLiteral("Every day"), {1, 2, 3, 4, 5, 6, 7}},
                                                    {QStringLiteral("Weekdays"), {2, 3, 4, 5, 6}},
                                                    {QStringLiteral("Weekends"), {1, 7}}};
    return presets;
}

RuleForm::RuleForm(std::optional<BlockRule> existing, QSet<QString> existingDomains) : m_existing(std::move(existing))
{
    if (m_existing)
        existingDomains.remove(m_existing->domain);
    // Compared the way the store compares, so the sheet refuses exactly what the store would.
    for (const QString& d : std::as_const(existingDomains))
        m_takenDomains.insert(BlockRule::normalizedDomain(d));
    if (m_existing)
        fillFrom(*m_existing);
    m_opened = values();
}

RuleForm::Values RuleForm::values() const
{
    return {m_domain,         m_displayName,       m_mode,         m_startTime, m_endTime,
            m_activeWeekdays, m_dailyLimitMinutes, m_allowOneBreak};
}

void RuleForm::fillFrom(const BlockRule& r)
{
    const BlockApplySchedule& s = r.blockApplySchedule;
    m_domain = r.domain;
    m_displayName = r.displayName;
    m_mode = s.isAllDay ? Mode::allDay : s.isAfterMaxDailyTime ? Mode::dailyLimit : Mode::hours;
    m_startTime = timeOr(s.startHour, s.startMinute, 9);
    m_endTime = timeOr(s.endHour, s.endMinute, 17);
    // An empty set means every day, and is shown that way; numbers outside a week mean nothing.
    m_activeWeekdays.clear();
    for (int day : r.activeWeekdays)
        if (day >= 1 && day <= 7)
            m_activeWeekdays.insert(day);
    if (m_activeWeekdays.isEmpty())
        m_activeWeekdays = {1, 2, 3, 4, 5, 6, 7};
    m_dailyLimitMinutes = static_cast<int>(std::clamp<qint64>(r.dailyLimitMinutes.value_or(30), 0, 100000));
    m_allowOneBreak = r.allowOneBreak;
    m_didEditName = true;
}

void RuleForm::setDomain(const QString& text)
{
    if (text == m_domain)
        return;
    m_domain = text;
    m_saveError.reset();
    if (!m_didEditName)
        setDisplayName(BlockRule::suggestedDisplayName(text));
}

void RuleForm::setDisplayName(const QString& text)
{
    if (text == m_displayName)
        return;
    m_displayName = text;
    m_didEditName = !text.trimmed().isEmpty() && text != BlockRule::suggestedDisplayName(m_domain);
}

void RuleForm::pressPresetSite(const QString& site)
{
    m_didEditName = true;
    setDomain(site);
    setDisplayName(BlockRule::suggestedDisplayName(site));
    // The chip chose the suggestion, so the name follows the website again, also when it already
    // was the suggestion and did not change.
    m_didEditName = false;
}

bool RuleForm::isPresetSelected(const QString& site) const
{
    return BlockRule::normalizedDomain(m_domain) == site;
}

void RuleForm::toggleWeekday(int weekday, bool wasOn)
{
    if (wasOn) {
        if (m_activeWeekdays.size() < 2)
            return;
        m_activeWeekdays.remove(weekday);
    } else {
        m_activeWeekdays.insert(weekday);
    }
}

QString RuleForm::savedDomain() const
{
    return BlockRule::normalizedDomain(BlockRule::normalizedDomain(m_domain));
}

bool RuleForm::isDuplicate() const
{
    return m_takenDomains.contains(BlockRule::normalizedDomain(savedDomain()));
}

bool RuleForm::canSave() const
{
    return BlockRule::isValidDomain(m_domain) && BlockRule::isValidDomain(savedDomain()) && !isDuplicate() &&
           !m_displayName.trimmed().isEmpty();
}

std::optional<RuleForm::Message> RuleForm::websiteMessage() const
{
    if (m_domain.isEmpty())
        return std::nullopt;
    if (isDuplicate())
        return Message{QStringLiteral("This site already has a block."), true};
    if (!BlockRule::isValidDomain(m_domain) || !BlockRule::isValidDomain(savedDomain()))
        return Message{QStringLiteral("Enter a website such as ") + exampleDomain(), true};
    return Message{QStringLiteral("We'll block ") + savedDomain() + QStringLiteral(" and its subdomains."), false};
}

BlockRule RuleForm::build(Date now) const
{
    BlockRule rule;
    rule.id = m_existing ? m_existing->id : QUuid::createUuid();
    rule.domain = savedDomain();
    rule.displayName = m_displayName.trimmed();
    BlockApplySchedule& s = rule.blockApplySchedule;
    s.isAllDay = m_mode == Mode::allDay;
    s.isAfterMaxDailyTime = m_mode == Mode::dailyLimit;
    if (m_mode == Mode::hours) {
        s.startHour = m_startTime.isValid() ? m_startTime.hour() : 9;
        s.startMinute = m_startTime.isValid() ? m_startTime.minute() : 0;
        s.endHour = m_endTime.isValid() ? m_endTime.hour() : 17;
        s.endMinute = m_endTime.isValid() ? m_endTime.minute() : 0;
    }
    if (m_mode == Mode::dailyLimit)
        rule.dailyLimitMinutes = m_dailyLimitMinutes;
    rule.activeWeekdays = m_activeWeekdays;
    rule.allowOneBreak = m_allowOneBreak;
    rule.urgentBreakUsedCalendarDay = m_existing ? m_existing->urgentBreakUsedCalendarDay : std::nullopt;
    rule.createdAt = m_existing ? m_existing->createdAt : now;
    rule.updatedAt = now;
    return rule;
}

std::optional<BlockRule> RuleForm::beginSave(Date now)
{
    if (m_saved || !canSave())
        return std::nullopt;
    m_saveError.reset();
    return build(now);
}

#include "store/BlockingStore.h"

#include "model/Json.h"
#include "model/LocaleFormats.h"
#include "store/StoreCore.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <sys/stat.h>

namespace {

constexpr double usageSaveInterval = 10.0;

// The wall clock and the boot clock drift apart a little (time synchronisation slews the wall
// clock by up to half a millisecond a second); only a larger difference is a change of the clock.
bool isClockChange(double jump, double elapsed)
{
    return std::abs(jump) > 2.0 + elapsed * 0.001;
}

QString windowReason(const BlockApplySchedule& s)
{
    const QString start = timeOfDayText(*s.startHour, *s.startMinute);
    const QString end = timeOfDayText(*s.endHour, *s.endMinute);
    QString reason;
    reason.reserve(16 + start.size() + end.size());
    reason += QLatin1String("Blocked from ");
    reason += start;
    reason += QStringView(u" – ");
    reason += end;
    return reason;
}

bool isClockTime(qint64 hour, qint64 minute)
{
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60;
}

// Whether the usage day `next` replaces the stored day `stored`. A day at most two earlier is the
// stored day still: the zones of the world are up to 26 hours apart, so moving to a zone further
// west grants nothing and moving back starts nothing. A day further back than any zone reaches
// is a clock that was wrong when the day was stored, and the days follow the clock again.
bool startsNewUsageDay(qint64 stored, qint64 next)
{
    if (next >= stored)
        return next > stored;
    const auto date = [](qint64 id) { return QDate(int(id / 10000), int(id / 100 % 100), int(id % 100)); };
    const QDate from = date(stored);
    const QDate to = date(next);
    return !from.isValid() || !to.isValid() || to.daysTo(from) > 2;
}

} // namespace

BlockingStore::BlockingStore(StoreCore& core, QObject* parent) : QObject(parent), m_core(core)
{
    m_state = SharedState::fresh(now(), calendar());
    m_boundaryTimer.setSingleShot(true);
    m_boundaryTimer.setTimerType(Qt::PreciseTimer); // a coarse timer may fire early
    connect(&m_boundaryTimer, &QTimer::timeout, this, &BlockingStore::onBoundaryTimer);
}

Date BlockingStore::now() const
{
    return m_core.now();
}

Calendar BlockingStore::calendar() const
{
    return m_core.calendar();
}

void BlockingStore::loadRules(QStringList& unreadable)
{
    m_rules = m_core.loadList<BlockRule>(QStringLiteral("block rules"), rulesFile, decodeBlockRule, unreadable);
    m_rulesSetAside = unreadable.contains(QStringLiteral("block rules"));
    ++m_rulesGeneration;
}

void BlockingStore::loadState()
{
    m_statePath = m_core.fileStore().filePath(stateFile);
    const FileStore::LoadedState loaded = m_core.fileStore().loadSharedState(now(), calendar());
    const std::optional<WallClockCheck>& check = loaded.check;
    const QByteArray& stateText = loaded.bytes;
    if (loaded.state) {
        m_state = *loaded.state;
        // Only a file in exactly the form this store writes counts as already written.
        if (!stateText.isEmpty() && stateFileText(m_state, check) == stateText)
            m_stateOnDisk = StateOnDisk{m_state, check, fileIdentity(m_statePath)};
        // Only readings of this same boot can tell how much time really passed since the last run.
        const QString boot = m_core.env().monotonic->bootId();
        if (check && !boot.isEmpty() && check->bootId == boot) {
            m_lastClockReading = ClockReading{check->wallTime, check->bootSeconds};
            m_dayOffset = check->dayOffset;
        }
    } else {
        m_core.backupUnreadableFile(stateFile);
        // The state is rebuilt every day anyway; losing today's counters is better than not starting.
        m_core.forgiveUnbacked(stateFile);
        m_state = SharedState::fresh(now(), calendar());
    }
}

void BlockingStore::loadDoomScrollConfig(QStringList& unreadable)
{
    const QString doomPath = m_core.fileStore().filePath(doomScrollFile);
    m_doomScrollConfig = DoomScrollConfig::defaults();
    if (QFileInfo::exists(doomPath)) {
        QFile file(doomPath);
        std::optional<DoomScrollConfig> config;
        if (file.open(QIODevice::ReadOnly)) {
            QJsonParseError parseError{};
            const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
            if (parseError.error == QJsonParseError::NoError && doc.isObject())
                config = decodeDoomScrollConfig(doc.object());
        }
        if (config) {
            m_doomScrollConfig = *config;
        } else {
            m_core.backupUnreadableFile(doomScrollFile);
            unreadable.append(QStringLiteral("Doom Scroll settings"));
        }
    }
}

void BlockingStore::setState(const SharedState& state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged();
}

// Time windows repeat among hundreds of rules and their texts go through the locale's slow
// formatter: each text is made once per locale.
QString BlockingStore::reasonFor(const BlockRule& rule)
{
    const BlockApplySchedule& s = rule.blockApplySchedule;
    switch (scheduleKind(s)) {
    case ScheduleKind::allDay:
        return QStringLiteral("Blocked all day");
    case ScheduleKind::timeWindow: {
        if (!isClockTime(*s.startHour, *s.startMinute) || !isClockTime(*s.endHour, *s.endMinute))
            return windowReason(s);
        const int key = static_cast<int>((*s.startHour * 60 + *s.startMinute) * 1440 + *s.endHour * 60 + *s.endMinute);
        if (const auto it = m_windowReasons.constFind(key); it != m_windowReasons.cend())
            return *it;
        const QString reason = windowReason(s);
        m_windowReasons.insert(key, reason);
        return reason;
    }
    case ScheduleKind::dailyLimit:
        return QStringLiteral("Limit reached: %1 min today").arg(rule.dailyLimitMinutes.value_or(0));
    case ScheduleKind::none:
        break;
    }
    return {};
}

bool BlockingStore::followWallClock()
{
    const Date wall = now();
    const double boot = m_core.env().monotonic->seconds();
    const std::optional<ClockReading> last = m_lastClockReading;
    m_lastClockReading = ClockReading{wall, boot};
    if (!last)
        return false;
    const double elapsed = boot - last->boot;
    const double jump = (wall - last->wall) - elapsed;
    if (elapsed < 0 || !isClockChange(jump, elapsed))
        return false;

    // The waits are kept as wall-clock moments (the files say so, and other readers compare them
    // with the wall clock), so they move with it: what was left of each stays left.
    SharedState s = m_state;
    if (s.blockingPausedUntil)
        *s.blockingPausedUntil += jump;
    if (s.urgentBreak) {
        s.urgentBreak->startedAt += jump;
        s.urgentBreak->fallbackExpiresAt += jump;
    }
    if (s.usageDayEndsAt)
        *s.usageDayEndsAt += jump;
    if (s.doomScroll) {
        s.doomScroll->windowStartedAt += jump;
        if (s.doomScroll->breakEndsAt)
            *s.doomScroll->breakEndsAt += jump;
    }
    // Which rules block follows the wall clock, so the list must be worked out again.
    s.validUntil = std::min(s.validUntil, wall);
    m_dayOffset += jump;
    m_lastUsageStateSave += jump;
    setState(s);
    return true;
}

qint64 BlockingStore::usageDayId(Date t, const Calendar& calendar) const
{
    return SharedState::dayIdFor(t - m_dayOffset, calendar);
}

Date BlockingStore::usageDayEnd(Date t, const Calendar& calendar) const
{
    return calendar.addDays(calendar.startOfDay(t - m_dayOffset), 1) + m_dayOffset;
}

bool BlockingStore::beginsNewUsageDay(const SharedState& s, Date t, const Calendar& calendar) const
{
    const qint64 next = usageDayId(t, calendar);
    if (!startsNewUsageDay(s.dayId, next))
        return false;
    // A later date with the stored day not yet over is a zone further east, not time passing.
    return next < s.dayId || !s.usageDayEndsAt || t >= *s.usageDayEndsAt;
}

std::optional<WallClockCheck> BlockingStore::wallClockCheck() const
{
    const QString boot = m_core.env().monotonic->bootId();
    if (!m_lastClockReading || boot.isEmpty())
        return std::nullopt;
    return WallClockCheck{boot, m_lastClockReading->boot, m_lastClockReading->wall, m_dayOffset};
}

void BlockingStore::normalizeSharedState(const Calendar& cal)
{
    followWallClock();
    const Date t = now();
    // Mostly nothing has run out: then there is no state to copy.
    const SharedState& c = m_state;
    const bool newDay = beginsNewUsageDay(c, t, cal);
    // A file of an older version does not say when its day ends: where the day is the one it
    // stored, it ends at this zone's midnight.
    const bool endUnknown = !c.usageDayEndsAt && c.dayId == usageDayId(t, cal);
    if (!(c.blockingPausedUntil && *c.blockingPausedUntil <= t) &&
        !(c.doomScroll && c.doomScroll->breakEndsAt && *c.doomScroll->breakEndsAt <= t) && !newDay && !endUnknown &&
        !(c.urgentBreak && !c.urgentBreak->isRunning(t)))
        return;
    SharedState s = m_state;
    if (s.blockingPausedUntil && *s.blockingPausedUntil <= t)
        s.blockingPausedUntil.reset();
    if (s.doomScroll && s.doomScroll->breakEndsAt && *s.doomScroll->breakEndsAt <= t)
        s.doomScroll->breakEndsAt.reset();
    // The usage day ends when real time reaches its midnight, not when the clock is set past it
    // nor when the zone moves east. The new day is the wall clock's own again, unless the clock
    // was set back so far that its day was had already: then the days keep following real time.
    if (endUnknown)
        s.usageDayEndsAt = usageDayEnd(t, cal);
    if (newDay) {
        const qint64 usageDay = usageDayId(t, cal);
        const qint64 wallDay = SharedState::dayIdFor(t, cal);
        if (wallDay > s.dayId)
            m_dayOffset = 0;
        s.dayId = wallDay > s.dayId ? wallDay : usageDay;
        s.usageDayEndsAt = usageDayEnd(t, cal);
        s.usageSecondsByRuleId.clear();
        s.exceededRuleIds.clear();
        s.urgentBreak.reset();
    } else if (s.urgentBreak && !s.urgentBreak->isRunning(t)) {
        s.urgentBreak.reset();
    }
    setState(s);
}

void BlockingStore::refreshBlockingState()
{
    const Calendar cal = calendar();
    normalizeSharedState(cal);
    const Date t = now();
    const MomentFacts facts = MomentFacts::of(t, cal);
    const qint64 today = m_state.dayId; // the usage day: a changed clock does not grant a new break

    if (const QLocale locale; !(locale == m_reasonLocale)) {
        m_reasonLocale = locale;
        m_windowReasons.clear();
    }
    // Worked out beside the state, which is copied only when the outcome differs from it.
    const SharedState& s = m_state;
    const bool paused = s.blockingPausedUntil && *s.blockingPausedUntil > t;
    const bool doomBreak = !paused && m_doomScrollConfig.isEnabled && s.doomScroll && s.doomScroll->breakEndsAt &&
                           *s.doomScroll->breakEndsAt > t;
    const auto offersBreak = [today](const BlockRule& rule) {
        return rule.allowOneBreak && rule.urgentBreakUsedCalendarDay != today;
    };
    // Mostly the same rules block for the same reasons as at the last refresh; that is checked
    // against the list held before a new list is built.
    bool unchanged = !doomBreak;
    size_t listed = 0;
    for (auto rule = m_rules.begin(); unchanged && rule != m_rules.end(); ++rule) {
        if (!isRuleActive(*rule, facts, s))
            continue;
        const std::vector<BlockedSiteSnapshot>& held = s.blockedNow;
        unchanged = listed < held.size() && held[listed].ruleId == rule->id && held[listed].domain == rule->domain &&
                    held[listed].displayName == rule->displayName && !held[listed].kind &&
                    held[listed].allowUrgentBreak == offersBreak(*rule) && held[listed].reason == reasonFor(*rule);
        ++listed;
    }
    unchanged = unchanged && listed == s.blockedNow.size();
    std::vector<BlockedSiteSnapshot> blocked;
    if (!unchanged) {
        blocked.reserve(m_rules.size());
        for (const BlockRule& rule : m_rules)
            if (isRuleActive(rule, facts, s))
                blocked.push_back(
                    {rule.id, rule.domain, rule.displayName, reasonFor(rule), offersBreak(rule), std::nullopt});
    }
    if (doomBreak) {
        const LocalDateTime end = cal.components(*s.doomScroll->breakEndsAt);
        const QString reason = QStringLiteral("Doom scroll break — back at ") +
                               LocaleFormats::shortTime(QLocale(), QTime(end.hour, end.minute));
        for (const DoomScrollDomain& site : m_doomScrollConfig.domains) {
            const bool listed = std::any_of(blocked.begin(), blocked.end(),
                                            [&site](const BlockedSiteSnapshot& b) { return b.domain == site.domain; });
            if (!listed)
                blocked.push_back(
                    {site.id, site.domain, site.domain, reason, false, BlockedSiteSnapshot::doomBreakKind});
        }
    }
    Date boundary = m_boundaryMemo.next(m_rules, m_rulesGeneration, t, s, cal);
    // The usage day may end at a midnight of its own: while the clock is off by m_dayOffset, or
    // after the zone moved.
    if (s.usageDayEndsAt && *s.usageDayEndsAt > t)
        boundary = std::min(boundary, *s.usageDayEndsAt);
    if ((!unchanged && blocked != m_state.blockedNow) || boundary != m_state.validUntil) {
        SharedState changed = m_state;
        if (!unchanged)
            changed.blockedNow = std::move(blocked);
        changed.validUntil = boundary;
        setState(changed);
    }
    saveState();
    scheduleBoundaryTimer(boundary);
}

// The clock reading in the file need only be one of this boot from which the clock has kept time
// since; an older one serves the next start as well as a new one.
std::optional<WallClockCheck> BlockingStore::keptClockReading(const std::optional<WallClockCheck>& current) const
{
    if (!current || !m_stateOnDisk || !m_stateOnDisk->check)
        return std::nullopt;
    const WallClockCheck& kept = *m_stateOnDisk->check;
    const double elapsed = current->bootSeconds - kept.bootSeconds;
    if (kept.bootId != current->bootId || elapsed < 0 ||
        isClockChange((current->wallTime - kept.wallTime) - elapsed, elapsed))
        return std::nullopt;
    WallClockCheck c = *current;
    c.bootSeconds = kept.bootSeconds;
    c.wallTime = kept.wallTime;
    return c;
}

std::optional<BlockingStore::FileIdentity> BlockingStore::fileIdentity(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return FileIdentity{static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino),
                        static_cast<qint64>(info.st_size), static_cast<qint64>(info.st_mtim.tv_sec),
                        static_cast<qint64>(info.st_mtim.tv_nsec)};
}

bool BlockingStore::saveState()
{
    const std::optional<WallClockCheck> check = wallClockCheck();
    // Most refreshes change nothing; writing the file anyway would cost each of them an atomic
    // replacement on disk.
    if (m_stateOnDisk && m_stateOnDisk->file) {
        const std::optional<WallClockCheck> kept = keptClockReading(check);
        if ((kept || !check) && kept == m_stateOnDisk->check && m_state == m_stateOnDisk->state &&
            fileIdentity(m_statePath) == m_stateOnDisk->file) {
            m_core.clearFailure(stateFile);
            m_lastUsageStateSave = now();
            return true;
        }
    }
    if (const FileWrite written = m_core.writeFile(stateFile, stateFileText(m_state, check)); !written) {
        m_stateOnDisk.reset();
        m_core.recordFailure(stateFile, written.error);
        return false;
    }
    m_stateOnDisk = StateOnDisk{m_state, check, fileIdentity(m_statePath)};
    m_core.clearFailure(stateFile);
    m_lastUsageStateSave = now();
    return true;
}

void BlockingStore::scheduleBoundaryTimer(Date boundary)
{
    // One pending timer: restarting replaces the previous one. It aims a tenth of a second past
    // the boundary and the handler checks the wall clock, so it never acts early.
    m_boundaryAt = boundary;
    const double interval = std::max(boundary - now() + 0.1, 0.25);
    m_boundaryTimer.start(static_cast<int>(std::min(std::ceil(interval * 1000.0), 3600.0 * 1000.0)));
}

void BlockingStore::onBoundaryTimer()
{
    // After a change of the clock the armed boundary is on the old clock: work it out afresh.
    if (followWallClock()) {
        emit clockEventDue();
        return;
    }
    const Date t = now();
    if (m_boundaryAt && t < *m_boundaryAt) {
        // Woken before the boundary (a long wait split up, or the clock moved back): wait the rest.
        scheduleBoundaryTimer(*m_boundaryAt);
        return;
    }
    emit clockEventDue();
}

void BlockingStore::throttledStateSave()
{
    if (now() - m_lastUsageStateSave >= usageSaveInterval)
        saveState();
}

void BlockingStore::recordUsage(const BlockRule& rule, qint64 seconds)
{
    if (seconds < 1)
        return;
    normalizeSharedState();
    SharedState s = m_state;
    bool breakEnded = false;
    if (s.urgentBreak && s.urgentBreak->ruleId == rule.id) {
        s.urgentBreak->usedSeconds = saturatingAdd(s.urgentBreak->usedSeconds, seconds);
        if (s.urgentBreak->isUsedUp()) {
            s.urgentBreak.reset();
            breakEnded = true;
        }
    }
    bool crossedLimit = false;
    if (rule.blockApplySchedule.isAfterMaxDailyTime && rule.dailyLimitMinutes) {
        const QString key = uuidText(rule.id);
        const qint64 used = saturatingAdd(s.usageSecondsByRuleId.value(key, 0), seconds);
        s.usageSecondsByRuleId.insert(key, used);
        const bool wasExceeded = s.exceededRuleIds.contains(rule.id);
        const bool exceeded = used >= saturatingMul(*rule.dailyLimitMinutes, 60);
        if (exceeded)
            s.exceededRuleIds.insert(rule.id);
        crossedLimit = exceeded != wasExceeded;
    }
    setState(s);
    if (breakEnded) {
        refreshBlockingState();
        m_core.reminders().postUrgentBreakEndedNotice(rule.displayName);
    } else if (crossedLimit) {
        refreshBlockingState();
    } else {
        throttledStateSave();
    }
}

void BlockingStore::recordDoomScrollUsage(qint64 seconds)
{
    if (seconds <= 0 || !m_doomScrollConfig.isEnabled || m_doomScrollConfig.domains.empty())
        return;
    normalizeSharedState();
    const Date t = now();
    SharedState s = m_state;
    if (s.doomScroll && s.doomScroll->breakEndsAt) {
        if (t < *s.doomScroll->breakEndsAt)
            return;
        s.doomScroll->breakEndsAt.reset();
    }
    DoomScrollRuntimeState window = s.doomScroll.value_or(DoomScrollRuntimeState{t, 0, std::nullopt});
    const qint64 windowSeconds = saturatingMul(m_doomScrollConfig.usageWindowMinutes, 60);
    if (t - window.windowStartedAt > static_cast<double>(saturatingMul(m_doomScrollConfig.usageWindowMinutes, 180)))
        window = {t, 0, std::nullopt};
    const qint64 used = saturatingAdd(window.usedSeconds, seconds);
    if (used < windowSeconds) {
        window.usedSeconds = used;
        s.doomScroll = window;
        setState(s);
        throttledStateSave();
        return;
    }
    s.doomScroll =
        DoomScrollRuntimeState{t, 0, t + static_cast<double>(saturatingMul(m_doomScrollConfig.breakMinutes, 60))};
    setState(s);
    refreshBlockingState();
}

bool BlockingStore::startUrgentBreak(const QUuid& ruleId, double fallbackSeconds)
{
    normalizeSharedState();
    const auto it =
        std::find_if(m_rules.begin(), m_rules.end(), [&ruleId](const BlockRule& r) { return r.id == ruleId; });
    if (it == m_rules.end() || !it->allowOneBreak)
        return false;
    const Date t = now();
    const Calendar cal = calendar();
    if (!isRuleActive(*it, t, m_state, cal))
        return false;
    const qint64 today = m_state.dayId; // normalised above: the usage day
    if (it->urgentBreakUsedCalendarDay == today)
        return false;

    const BlockRule before = *it;
    ++m_rulesGeneration;
    it->urgentBreakUsedCalendarDay = today;
    it->updatedAt = t;
    SharedState s = m_state;
    s.urgentBreak = UrgentBreakState{ruleId, t, 0, t + fallbackSeconds};

    if (const FileWrite written = m_core.writeFile(rulesFile, rulesFileText(m_rules)); !written) {
        // Not granted, so nothing of it may stay: the day's break would otherwise be spent for nothing
        // (the state copy with the new break is simply dropped).
        *it = before;
        m_core.recordFailure(rulesFile, written.error);
        return false;
    }
    m_core.clearFailure(rulesFile);
    emit rulesChanged();
    setState(s);
    refreshBlockingState();
    return true;
}

void BlockingStore::resumeBlocking()
{
    if (!m_state.blockingPausedUntil)
        return;
    SharedState s = m_state;
    s.blockingPausedUntil.reset();
    setState(s);
    refreshBlockingState();
}

// ---------------------------------------------------------------- rule and doom-scroll settings

bool BlockingStore::isDomainFree(const QString& domain, const std::optional<QUuid>& excluding) const
{
    const QString n = BlockRule::normalizedDomain(domain);
    return std::none_of(m_rules.begin(), m_rules.end(), [&](const BlockRule& r) {
        return r.id != excluding && BlockRule::normalizedDomain(r.domain) == n;
    });
}

bool BlockingStore::addRule(const BlockRule& rule)
{
    if (!isDomainFree(rule.domain, std::nullopt)) {
        m_core.recordFailure(rulesFile + QStringLiteral("#duplicate"),
                             QStringLiteral("A blocking rule already exists for %1.").arg(rule.domain));
        return false;
    }
    std::vector<BlockRule> before = m_rules;
    m_rules.push_back(rule);
    std::stable_sort(m_rules.begin(), m_rules.end(),
                     [](const BlockRule& a, const BlockRule& b) { return a.createdAt < b.createdAt; });
    return commitRules(std::move(before));
}

bool BlockingStore::updateRule(const BlockRule& rule)
{
    const auto it =
        std::find_if(m_rules.begin(), m_rules.end(), [&rule](const BlockRule& r) { return r.id == rule.id; });
    if (it == m_rules.end())
        return false;
    if (!isDomainFree(rule.domain, rule.id)) {
        m_core.recordFailure(rulesFile + QStringLiteral("#duplicate"),
                             QStringLiteral("A blocking rule already exists for %1.").arg(rule.domain));
        return false;
    }
    std::vector<BlockRule> before = m_rules;
    const auto index = it - m_rules.begin();
    m_rules[index] = rule;
    m_rules[index].updatedAt = now();
    return commitRules(std::move(before));
}

bool BlockingStore::removeRule(const QUuid& id)
{
    std::vector<BlockRule> before = m_rules;
    if (std::erase_if(m_rules, [&id](const BlockRule& r) { return r.id == id; }) == 0)
        return false;
    SharedState s = m_state;
    s.exceededRuleIds.remove(id);
    s.usageSecondsByRuleId.remove(uuidText(id));
    if (s.urgentBreak && s.urgentBreak->ruleId == id)
        s.urgentBreak.reset();
    return commitRules(std::move(before), s);
}

bool BlockingStore::commitRules(std::vector<BlockRule> before, std::optional<SharedState> changedState)
{
    ++m_rulesGeneration;
    if (const FileWrite written = m_core.writeFile(rulesFile, rulesFileText(m_rules)); !written) {
        // The rules stay as they are on disk: a loosening the disk refused must not loosen, and an
        // added rule that a restart would not have must not block either; the screen says why.
        m_rules = std::move(before);
        m_core.recordFailure(rulesFile, written.error);
        return false;
    }
    m_core.clearFailure(rulesFile);
    emit rulesChanged();
    if (changedState)
        setState(*changedState);
    refreshBlockingState();
    return true;
}

bool BlockingStore::updateDoomScrollConfig(const DoomScrollConfig& given)
{
    const DoomScrollConfig old = m_doomScrollConfig;
    std::vector<DoomScrollDomain> cleaned;
    for (const DoomScrollDomain& d : given.domains)
        if (!d.domain.isEmpty())
            cleaned.push_back(d);
    const bool enabled = given.isEnabled && !cleaned.empty();
    if (enabled == old.isEnabled && cleaned == old.domains && given.usageWindowMinutes == old.usageWindowMinutes &&
        given.breakMinutes == old.breakMinutes)
        return true;

    const auto domainSet = [](const std::vector<DoomScrollDomain>& list) {
        QSet<QString> set;
        for (const DoomScrollDomain& d : list)
            set.insert(d.domain);
        return set;
    };
    const bool sameWindow = enabled == old.isEnabled &&
                            saturatingMul(given.usageWindowMinutes, 60) == saturatingMul(old.usageWindowMinutes, 60) &&
                            domainSet(cleaned) == domainSet(old.domains);
    const Date breakEnd = m_state.doomScroll && m_state.doomScroll->breakEndsAt ? *m_state.doomScroll->breakEndsAt : 0;

    const DoomScrollConfig config{enabled, cleaned, given.usageWindowMinutes, given.breakMinutes};
    JsonTextWriter text;
    writeDoomScrollConfig(text, config);
    if (const FileWrite written = m_core.writeFile(doomScrollFile, text.take()); !written) {
        m_core.recordFailure(doomScrollFile, written.error); // the settings stay as they are on disk
        return false;
    }
    m_core.clearFailure(doomScrollFile);
    m_doomScrollConfig = config;
    emit doomScrollConfigChanged();
    if (!sameWindow && breakEnd <= now()) {
        SharedState s = m_state;
        s.doomScroll.reset();
        setState(s);
    }
    refreshBlockingState();
    return true;
}

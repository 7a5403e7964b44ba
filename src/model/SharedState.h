#pragma once

#include "model/Calendar.h"
#include "model/DoomScroll.h"
#include "model/Json.h"
#include "model/JsonWriter.h"

#include <QHash>
#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QUuid>
#include <optional>
#include <vector>

struct UrgentBreakState {
    QUuid ruleId;
    Date startedAt = 0;
    qint64 usedSeconds = 0;
    Date fallbackExpiresAt = 0;

    bool operator==(const UrgentBreakState&) const = default;

    // Ten minutes of active use on the site, or until the fallback, whichever comes first.
    static constexpr qint64 lengthSeconds = 600;
    static constexpr double defaultFallbackSeconds = 7200;

    bool isUsedUp() const { return usedSeconds >= lengthSeconds; }
    // Whether the break still releases its rule at the moment; a recorded break may have ended.
    bool isRunning(Date moment) const { return !isUsedUp() && moment < fallbackExpiresAt; }
};

struct BlockedSiteSnapshot {
    QUuid ruleId; // for a doom-scroll break, the id of the listed site's entry
    QString domain;
    QString displayName;
    QString reason;
    bool allowUrgentBreak = false;
    std::optional<QString> kind; // absent for a block rule; "doomBreak" for a doom-scroll break

    bool operator==(const BlockedSiteSnapshot&) const = default;

    static inline const QString doomBreakKind = QStringLiteral("doomBreak");
};

// The blocking state of the current local day. Times are seconds since 1970.
struct SharedState {
    qint64 dayId = 0;
    QHash<QString, qint64> usageSecondsByRuleId; // key: the rule id's upper-case UUID text
    QSet<QUuid> exceededRuleIds;
    std::optional<UrgentBreakState> urgentBreak;
    std::optional<Date> blockingPausedUntil;
    std::vector<BlockedSiteSnapshot> blockedNow;
    Date validUntil = 0;
    std::optional<DoomScrollRuntimeState> doomScroll;
    std::optional<qint64> pauseUsedDayId;
    // When the usage day ends, as counted where it began: a zone further east starts its next day
    // by the calendar alone, and that must not begin a new usage day before real time gets there.
    // Absent in files of older versions.
    std::optional<Date> usageDayEndsAt;

    bool operator==(const SharedState&) const = default;

    // year * 10000 + month * 100 + day of the instant's local day.
    static qint64 dayIdFor(Date t, const Calendar& calendar);

    // A new day's state: nothing used, nothing blocked, valid for 60 seconds, ending at the next
    // midnight.
    static SharedState fresh(Date now, const Calendar& calendar);
};

// Where the wall clock stood against the boot clock at the store's last look, so that the next
// run in the same boot can tell a change of the wall clock from time passing. It travels in
// "state.json" beside the state under "clockCheck"; readers that do not know it ignore it.
struct WallClockCheck {
    QString bootId;
    double bootSeconds = 0;
    Date wallTime = 0;
    // Wall-clock changes since the usage day began that real time has not made up for; the usage
    // day is the day of (wall time - dayOffset).
    double dayOffset = 0;

    bool operator==(const WallClockCheck&) const = default;
};

// One description of each JSON form, for either writer of JsonWriter.h; keys in sorted order.
template <typename Writer> void writeUrgentBreakState(Writer& w, const UrgentBreakState& b)
{
    w.beginObject();
    w.key("fallbackExpiresAt");
    w.value(b.fallbackExpiresAt);
    w.key("ruleId");
    w.value(uuidField(b.ruleId));
    w.key("startedAt");
    w.value(b.startedAt);
    w.key("usedSeconds");
    w.value(b.usedSeconds);
    w.endObject();
}

template <typename Writer> void writeBlockedSiteSnapshot(Writer& w, const BlockedSiteSnapshot& b)
{
    w.beginObject();
    w.key("allowUrgentBreak");
    w.value(b.allowUrgentBreak);
    w.key("displayName");
    w.value(b.displayName);
    w.key("domain");
    w.value(b.domain);
    if (b.kind) {
        w.key("kind");
        w.value(*b.kind);
    }
    w.key("reason");
    w.value(b.reason);
    w.key("ruleId");
    w.value(uuidField(b.ruleId));
    w.endObject();
}

template <typename Writer> void writeWallClockCheck(Writer& w, const WallClockCheck& c)
{
    w.beginObject();
    w.key("bootId");
    w.value(c.bootId);
    w.key("bootSeconds");
    w.value(c.bootSeconds);
    w.key("dayOffset");
    w.value(c.dayOffset);
    w.key("wallTime");
    w.value(c.wallTime);
    w.endObject();
}

template <typename Writer>
void writeSharedState(Writer& w, const SharedState& s, const std::optional<WallClockCheck>& check = std::nullopt)
{
    w.beginObject();
    w.key("blockedNow");
    w.beginArray();
    for (const BlockedSiteSnapshot& b : s.blockedNow)
        writeBlockedSiteSnapshot(w, b);
    w.endArray();
    if (s.blockingPausedUntil) {
        w.key("blockingPausedUntil");
        w.value(*s.blockingPausedUntil);
    }
    if (check) {
        w.key("clockCheck");
        writeWallClockCheck(w, *check);
    }
    w.key("dayId");
    w.value(s.dayId);
    if (s.doomScroll) {
        w.key("doomScroll");
        writeDoomScrollRuntimeState(w, *s.doomScroll);
    }
    QStringList exceeded;
    for (const QUuid& id : s.exceededRuleIds)
        exceeded.append(uuidText(id));
    exceeded.sort();
    w.key("exceededRuleIds");
    w.beginArray();
    for (const QString& id : std::as_const(exceeded))
        w.value(id);
    w.endArray();
    if (s.pauseUsedDayId) {
        w.key("pauseUsedDayId");
        w.value(*s.pauseUsedDayId);
    }
    if (s.urgentBreak) {
        w.key("urgentBreak");
        writeUrgentBreakState(w, *s.urgentBreak);
    }
    if (s.usageDayEndsAt) {
        w.key("usageDayEndsAt");
        w.value(*s.usageDayEndsAt);
    }
    QStringList usageKeys = s.usageSecondsByRuleId.keys();
    usageKeys.sort();
    w.key("usageSecondsByRuleId");
    w.beginObject();
    for (const QString& key : std::as_const(usageKeys)) {
        w.key(key);
        w.value(s.usageSecondsByRuleId.value(key));
    }
    w.endObject();
    w.key("validUntil");
    w.value(s.validUntil);
    w.endObject();
}

// The text of "state.json".
QByteArray stateFileText(const SharedState& state, const std::optional<WallClockCheck>& check = std::nullopt);

QJsonObject encodeUrgentBreakState(const UrgentBreakState& state);
std::optional<UrgentBreakState> decodeUrgentBreakState(const QJsonValue& value, QString* error = nullptr);
QJsonObject encodeBlockedSiteSnapshot(const BlockedSiteSnapshot& snapshot);
std::optional<BlockedSiteSnapshot> decodeBlockedSiteSnapshot(const QJsonValue& value, QString* error = nullptr);
QJsonObject encodeSharedState(const SharedState& state);
std::optional<SharedState> decodeSharedState(const QJsonValue& value, QString* error = nullptr);
// The clock check of a "state.json" object; one that is missing or damaged reads as absent and
// never costs the state itself.
std::optional<WallClockCheck> decodeWallClockCheck(const QJsonValue& stateObject);

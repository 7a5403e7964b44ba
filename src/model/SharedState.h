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

    bool operator==(const SharedState&) const = default;

    // year * 10000 + month * 100 + day of the instant's local day.
    static qint64 dayIdFor(Date t, const Calendar& calendar);

    // A new day's state: nothing used, nothing blocked, valid for 60 seconds.
    static SharedState fresh(Date now, const Calendar& calendar);
};

// One description of each JSON form, for either writer of JsonWriter.h; keys in sorted order.
template <typename Writer> void writeUrgentBreakState(Writer& w, const UrgentBreakState& b)
{
    w.beginObject();
    w.key("fallbackExpiresAt");
    w.value(b.fallbackExpiresAt);
    w.key("ruleId");
    w.value(uuidText(b.ruleId));
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
    w.value(uuidText(b.ruleId));
    w.endObject();
}

template <typename Writer> void writeSharedState(Writer& w, const SharedState& s)
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
QByteArray stateFileText(const SharedState& state);

QJsonObject encodeUrgentBreakState(const UrgentBreakState& state);
std::optional<UrgentBreakState> decodeUrgentBreakState(const QJsonValue& value, QString* error = nullptr);
QJsonObject encodeBlockedSiteSnapshot(const BlockedSiteSnapshot& snapshot);
std::optional<BlockedSiteSnapshot> decodeBlockedSiteSnapshot(const QJsonValue& value, QString* error = nullptr);
QJsonObject encodeSharedState(const SharedState& state);
std::optional<SharedState> decodeSharedState(const QJsonValue& value, QString* error = nullptr);

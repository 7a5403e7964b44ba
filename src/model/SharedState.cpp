#include "model/SharedState.h"

#include "model/Json.h"

#include <cmath>

qint64 SharedState::dayIdFor(Date t, const Calendar& calendar)
{
    const QDate day = calendar.localDate(t);
    return day.year() * 10000LL + day.month() * 100LL + day.day();
}

SharedState SharedState::fresh(Date now, const Calendar& calendar)
{
    SharedState s;
    s.dayId = dayIdFor(now, calendar);
    s.validUntil = now + 60;
    s.usageDayEndsAt = calendar.addDays(calendar.startOfDay(now), 1);
    return s;
}

QJsonObject encodeUrgentBreakState(const UrgentBreakState& state)
{
    JsonValueBuilder b;
    writeUrgentBreakState(b, state);
    return b.result().toObject();
}

std::optional<UrgentBreakState> decodeUrgentBreakState(const QJsonValue& value, QString* error)
{
    JsonReader r(value, QStringLiteral("UrgentBreakState"));
    UrgentBreakState s;
    s.ruleId = r.uuid(QStringLiteral("ruleId"));
    s.startedAt = r.number(QStringLiteral("startedAt"));
    s.usedSeconds = r.integer(QStringLiteral("usedSeconds"));
    s.fallbackExpiresAt = r.number(QStringLiteral("fallbackExpiresAt"));
    if (!r.ok()) {
        if (error)
            *error = r.error();
        return std::nullopt;
    }
    return s;
}

QJsonObject encodeBlockedSiteSnapshot(const BlockedSiteSnapshot& snapshot)
{
    JsonValueBuilder b;
    writeBlockedSiteSnapshot(b, snapshot);
    return b.result().toObject();
}

std::optional<BlockedSiteSnapshot> decodeBlockedSiteSnapshot(const QJsonValue& value, QString* error)
{
    JsonReader r(value, QStringLiteral("BlockedSiteSnapshot"));
    BlockedSiteSnapshot s;
    s.ruleId = r.uuid(QStringLiteral("ruleId"));
    s.domain = r.string(QStringLiteral("domain"));
    s.displayName = r.string(QStringLiteral("displayName"));
    s.reason = r.string(QStringLiteral("reason"));
    s.allowUrgentBreak = r.boolean(QStringLiteral("allowUrgentBreak"));
    s.kind = r.optString(QStringLiteral("kind"));
    if (!r.ok()) {
        if (error)
            *error = r.error();
        return std::nullopt;
    }
    return s;
}

QJsonObject encodeSharedState(const SharedState& state)
{
    JsonValueBuilder b;
    writeSharedState(b, state);
    return b.result().toObject();
}

QByteArray stateFileText(const SharedState& state, const std::optional<WallClockCheck>& check)
{
    JsonTextWriter w;
    writeSharedState(w, state, check);
    return w.take();
}

std::optional<WallClockCheck> decodeWallClockCheck(const QJsonValue& stateObject)
{
    const QJsonValue value = stateObject.toObject().value(QStringLiteral("clockCheck"));
    if (!value.isObject())
        return std::nullopt;
    JsonReader r(value, QStringLiteral("WallClockCheck"));
    WallClockCheck c;
    c.bootId = r.string(QStringLiteral("bootId"));
    c.bootSeconds = r.number(QStringLiteral("bootSeconds"));
    c.wallTime = r.number(QStringLiteral("wallTime"));
    c.dayOffset = r.number(QStringLiteral("dayOffset"));
    if (!r.ok() || !std::isfinite(c.bootSeconds) || !std::isfinite(c.wallTime) || !std::isfinite(c.dayOffset))
        return std::nullopt;
    return c;
}

std::optional<SharedState> decodeSharedState(const QJsonValue& value, QString* error)
{
    JsonReader r(value, QStringLiteral("SharedState"));
    SharedState s;
    s.dayId = r.integer(QStringLiteral("dayId"));
    s.usageSecondsByRuleId =
        r.nested<QHash<QString, qint64>>(QStringLiteral("usageSecondsByRuleId"),
                                         [](const QJsonValue& v, QString* e) -> std::optional<QHash<QString, qint64>> {
                                             if (!v.isObject()) {
                                                 *e = QStringLiteral("expected an object");
                                                 return std::nullopt;
                                             }
                                             QHash<QString, qint64> usage;
                                             const QJsonObject o = v.toObject();
                                             for (auto it = o.begin(); it != o.end(); ++it) {
                                                 const std::optional<qint64> seconds = integralValue(it.value());
                                                 if (!seconds) {
                                                     *e = QStringLiteral("expected whole numbers");
                                                     return std::nullopt;
                                                 }
                                                 usage.insert(it.key(), *seconds);
                                             }
                                             return usage;
                                         });
    s.exceededRuleIds = r.nested<QSet<QUuid>>(QStringLiteral("exceededRuleIds"), decodeUuidSet);
    s.urgentBreak = r.optNested<UrgentBreakState>(
        QStringLiteral("urgentBreak"), [](const QJsonValue& v, QString* e) { return decodeUrgentBreakState(v, e); });
    s.blockingPausedUntil = r.optNumber(QStringLiteral("blockingPausedUntil"));
    s.blockedNow =
        r.nested<std::vector<BlockedSiteSnapshot>>(QStringLiteral("blockedNow"), [](const QJsonValue& v, QString* e) {
            return decodeStrictList<BlockedSiteSnapshot>(v, decodeBlockedSiteSnapshot, e);
        });
    s.validUntil = r.number(QStringLiteral("validUntil"));
    s.doomScroll =
        r.optNested<DoomScrollRuntimeState>(QStringLiteral("doomScroll"), [](const QJsonValue& v, QString* e) {
            return decodeDoomScrollRuntimeState(v, e);
        });
    s.pauseUsedDayId = r.optInteger(QStringLiteral("pauseUsedDayId"));
    s.usageDayEndsAt = r.optNumber(QStringLiteral("usageDayEndsAt"));
    if (s.usageDayEndsAt && !std::isfinite(*s.usageDayEndsAt))
        s.usageDayEndsAt.reset();
    if (!r.ok()) {
        if (error)
            *error = r.error();
        return std::nullopt;
    }
    return s;
}

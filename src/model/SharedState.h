#pragma once

#include "model/Calendar.h"
#include "model/DoomScroll.h"

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

QJsonObject encodeUrgentBreakState(const UrgentBreakState& state);
std::optional<UrgentBreakState> decodeUrgentBreakState(const QJsonValue& value, QString* error = nullptr);
QJsonObject encodeBlockedSiteSnapshot(const BlockedSiteSnapshot& snapshot);
std::optional<BlockedSiteSnapshot> decodeBlockedSiteSnapshot(const QJsonValue& value, QString* error = nullptr);
QJsonObject encodeSharedState(const SharedState& state);
std::optional<SharedState> decodeSharedState(const QJsonValue& value, QString* error = nullptr);

#pragma once

#include "model/Clock.h"

#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QUuid>
#include <bitset>
#include <optional>

struct SharedState;

// The minutes of a day, 0 ... 1439.
using MinuteSet = std::bitset<1440>;

// When a rule blocks. Flags are tested in order: all day, then after a daily limit, otherwise
// the time window [start, end), which runs past midnight when end is not after start.
struct BlockApplySchedule {
    bool isAllDay = true;
    bool isAfterMaxDailyTime = false;
    std::optional<qint64> startHour;
    std::optional<qint64> startMinute;
    std::optional<qint64> endHour;
    std::optional<qint64> endMinute;

    bool operator==(const BlockApplySchedule&) const = default;
};

struct BlockRule {
    QUuid id;
    QString domain;
    QString displayName;
    BlockApplySchedule blockApplySchedule;
    std::optional<qint64> dailyLimitMinutes;
    QSet<int> activeWeekdays; // 1 = Sunday ... 7 = Saturday; empty = every day
    bool allowOneBreak = false;
    std::optional<qint64> urgentBreakUsedCalendarDay;
    Date createdAt = 0;
    Date updatedAt = 0;

    bool operator==(const BlockRule&) const = default;

    static MinuteSet blockedMinutes(std::optional<qint64> startHour, std::optional<qint64> startMinute,
                                    std::optional<qint64> endHour, std::optional<qint64> endMinute);

    // True when this (edited) rule blocks less than `before` in at least one respect.
    bool isLoosened(const BlockRule& before) const;

    // Share of the daily limit used today, 0 ... 1.
    double limitUsageFraction(const SharedState& state) const;

    static QString normalizedDomain(const QString& text);
    static bool isValidDomain(const QString& text);
    static bool hostMatches(const QString& host, const QString& domain);
    static QString suggestedDisplayName(const QString& text);
};

QJsonObject encodeBlockApplySchedule(const BlockApplySchedule& schedule);
std::optional<BlockApplySchedule> decodeBlockApplySchedule(const QJsonValue& value, QString* error = nullptr);

QJsonObject encodeBlockRule(const BlockRule& rule);
std::optional<BlockRule> decodeBlockRule(const QJsonValue& value, QString* error = nullptr);

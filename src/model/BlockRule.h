#pragma once

#include "model/Clock.h"
#include "model/Iso8601.h"
#include "model/Json.h"
#include "model/JsonWriter.h"

#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QUuid>
#include <algorithm>
#include <bitset>
#include <optional>
#include <vector>

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
    // The five feed sites offered as one-press choices, by the onboarding and the add-rule sheet
    // alike: bare lower-case domains, each equal to its own normalised form.
    static const QStringList& suggestedSites();
};

namespace JsonFields {
template <typename Writer> void optionalInteger(Writer& w, const char* key, const std::optional<qint64>& v)
{
    if (v) {
        w.key(key);
        w.value(*v);
    }
}
} // namespace JsonFields

// One description of each JSON form, for either writer of JsonWriter.h; keys in sorted order.
template <typename Writer> void writeBlockApplySchedule(Writer& w, const BlockApplySchedule& s)
{
    w.beginObject();
    JsonFields::optionalInteger(w, "endHour", s.endHour);
    JsonFields::optionalInteger(w, "endMinute", s.endMinute);
    w.key("isAfterMaxDailyTime");
    w.value(s.isAfterMaxDailyTime);
    w.key("isAllDay");
    w.value(s.isAllDay);
    JsonFields::optionalInteger(w, "startHour", s.startHour);
    JsonFields::optionalInteger(w, "startMinute", s.startMinute);
    w.endObject();
}

template <typename Writer> void writeBlockRule(Writer& w, const BlockRule& r)
{
    QList<int> weekdays = r.activeWeekdays.values();
    std::sort(weekdays.begin(), weekdays.end());
    w.beginObject();
    w.key("activeWeekdays");
    w.beginArray();
    for (int day : weekdays)
        w.value(day);
    w.endArray();
    w.key("allowOneBreak");
    w.value(r.allowOneBreak);
    w.key("blockApplySchedule");
    writeBlockApplySchedule(w, r.blockApplySchedule);
    w.key("createdAt");
    w.value(Iso8601::field(r.createdAt));
    JsonFields::optionalInteger(w, "dailyLimitMinutes", r.dailyLimitMinutes);
    w.key("displayName");
    w.value(r.displayName);
    w.key("domain");
    w.value(r.domain);
    w.key("id");
    w.value(uuidField(r.id));
    w.key("updatedAt");
    w.value(Iso8601::field(r.updatedAt));
    JsonFields::optionalInteger(w, "urgentBreakUsedCalendarDay", r.urgentBreakUsedCalendarDay);
    w.endObject();
}

// The text of "rules.json".
QByteArray rulesFileText(const std::vector<BlockRule>& rules);

QJsonObject encodeBlockApplySchedule(const BlockApplySchedule& schedule);
std::optional<BlockApplySchedule> decodeBlockApplySchedule(const QJsonValue& value, QString* error = nullptr);

QJsonObject encodeBlockRule(const BlockRule& rule);
std::optional<BlockRule> decodeBlockRule(const QJsonValue& value, QString* error = nullptr);

#pragma once

#include "model/Calendar.h"
#include "model/Iso8601.h"
#include "model/Json.h"
#include "model/JsonWriter.h"

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTime>
#include <QUuid>
#include <limits>
#include <optional>
#include <vector>

struct Subtask {
    QUuid id;
    QString title;
    bool isCompleted = false;

    bool operator==(const Subtask&) const = default;
};

enum class RepeatOption { none, daily, weekly, monthly };

enum class ReminderPreset { atDueTime, fiveMinBefore, fifteenMinBefore, oneHourBefore, twoHoursBefore };

enum class DueDateReminderPreset { onDueDate, oneDayBefore, twoDaysBefore };

QString rawValue(RepeatOption option);
std::optional<RepeatOption> repeatOptionFromRaw(const QString& text);
const std::vector<RepeatOption>& allRepeatOptions();

QString rawValue(ReminderPreset preset);
std::optional<ReminderPreset> reminderPresetFromRaw(const QString& text);
const std::vector<ReminderPreset>& allReminderPresets();
// The reminder moment for a due date-time.
Date reminderDate(ReminderPreset preset, Date due, const Calendar& calendar);

QString rawValue(DueDateReminderPreset preset);
std::optional<DueDateReminderPreset> dueDateReminderPresetFromRaw(const QString& text);
const std::vector<DueDateReminderPreset>& allDueDateReminderPresets();
// 09:00 on the preset's day, counted from the due day.
Date reminderDate(DueDateReminderPreset preset, Date dueDay, const Calendar& calendar);

struct TaskItem {
    enum class Priority { high, medium, low };

    QUuid id;
    QString title;
    QString time; // free text of the time of day; "Anytime" or empty means none
    Priority priority = Priority::medium;
    bool isCompleted = false;
    std::optional<Date> dueDate;
    Date createdAt = 0;
    Date updatedAt = 0;
    std::optional<Date> reminderDate;
    std::vector<Subtask> subtasks;
    std::optional<QString> notes;
    RepeatOption repeatOption = RepeatOption::none;
    std::optional<QUuid> recurringSeriesId;

    bool operator==(const TaskItem&) const = default;

    static QString rawValue(Priority priority);
    static std::optional<Priority> priorityFromRaw(const QString& text);
    static const std::vector<Priority>& allPriorities();

    static inline const QString anytime = QStringLiteral("Anytime");

    // The clock time a person meant by a time text, or nothing ("Anytime", empty, unreadable).
    static std::optional<QTime> parseTime(const QString& text);
    static std::optional<int> minutesOfDay(const QString& time);

    // The one display order of every to-do list.
    static bool isOrderedBefore(const TaskItem& a, const TaskItem& b);
    // Sorts by isOrderedBefore, reading each time text once.
    static void sortForDisplay(std::vector<TaskItem>& list);
    static std::vector<TaskItem> sortedForDisplay(std::vector<TaskItem> list);
    // The first `first` of `items` in display order (all of them by default); those past `first`
    // are not put in order. Items the order cannot tell apart keep the order they are given in.
    static std::vector<const TaskItem*> orderForDisplay(std::vector<const TaskItem*> items,
                                                        size_t first = std::numeric_limits<size_t>::max());
    // The same, copied: each to-do once.
    static std::vector<TaskItem> firstForDisplay(const std::vector<const TaskItem*>& items,
                                                 size_t first = std::numeric_limits<size_t>::max());

    // Whether the to-do belongs to the list of the day that contains `day`.
    bool isVisible(Date day, const Calendar& calendar) const;

    QString displayTime() const;
    std::optional<QString> stepsProgressText() const;
    std::optional<QString> focusMetaText() const;
};

// One description of the JSON form, for either writer of JsonWriter.h; keys in sorted order.
template <typename Writer> void writeSubtask(Writer& w, const Subtask& s)
{
    w.beginObject();
    w.key("id");
    w.value(uuidField(s.id));
    w.key("isCompleted");
    w.value(s.isCompleted);
    w.key("title");
    w.value(s.title);
    w.endObject();
}

template <typename Writer> void writeTaskItem(Writer& w, const TaskItem& t)
{
    w.beginObject();
    w.key("createdAt");
    w.value(Iso8601::field(t.createdAt));
    if (t.dueDate) {
        w.key("dueDate");
        w.value(Iso8601::field(*t.dueDate));
    }
    w.key("id");
    w.value(uuidField(t.id));
    w.key("isCompleted");
    w.value(t.isCompleted);
    if (t.notes) {
        w.key("notes");
        w.value(*t.notes);
    }
    w.key("priority");
    w.value(TaskItem::rawValue(t.priority));
    if (t.recurringSeriesId) {
        w.key("recurringSeriesId");
        w.value(uuidField(*t.recurringSeriesId));
    }
    if (t.reminderDate) {
        w.key("reminderDate");
        w.value(Iso8601::field(*t.reminderDate));
    }
    w.key("repeatOption");
    w.value(rawValue(t.repeatOption));
    w.key("subtasks");
    w.beginArray();
    for (const Subtask& s : t.subtasks)
        writeSubtask(w, s);
    w.endArray();
    w.key("time");
    w.value(t.time);
    w.key("title");
    w.value(t.title);
    w.key("updatedAt");
    w.value(Iso8601::field(t.updatedAt));
    w.endObject();
}

// The text of "todos.json".
QByteArray todosFileText(const std::vector<TaskItem>& list);

// Where one to-do's text lies in a file's text: offset and length in bytes.
using TextSpan = std::pair<qsizetype, qsizetype>;

QJsonObject encodeSubtask(const Subtask& step);
std::optional<Subtask> decodeSubtask(const QJsonValue& value, QString* error = nullptr);
QJsonObject encodeTaskItem(const TaskItem& item);
std::optional<TaskItem> decodeTaskItem(const QJsonValue& value, QString* error = nullptr);

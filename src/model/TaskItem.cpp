#include "model/TaskItem.h"
#include "model/LocaleFormats.h"

#include "model/Iso8601.h"
#include "model/Json.h"

#include <QHash>
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace {

template <typename E> struct RawTable {
    std::vector<std::pair<E, QString>> rows;

    QString raw(E value) const
    {
        for (const auto& [e, text] : rows)
            if (e == value)
                return text;
        return {};
    }
    std::optional<E> from(const QString& text) const
    {
        for (const auto& [e, raw] : rows)
            if (raw == text)
                return e;
        return std::nullopt;
    }
    std::vector<E> all() const
    {
        std::vector<E> out;
        for (const auto& row : rows)
            out.push_back(row.first);
        return out;
    }
};

const RawTable<RepeatOption>& repeatTable()
{
    static const RawTable<RepeatOption> t{{{RepeatOption::none, QStringLiteral("None")},
                                           {RepeatOption::daily, QStringLiteral("Daily")},
                                           {RepeatOption::weekly, QStringLiteral("Weekly")},
                                           {RepeatOption::monthly, QStringLiteral("Monthly")}}};
    return t;
}

const RawTable<ReminderPreset>& reminderTable()
{
    static const RawTable<ReminderPreset> t{{{ReminderPreset::atDueTime, QStringLiteral("At due time")},
                                             {ReminderPreset::fiveMinBefore, QStringLiteral("5 min before")},
                                             {ReminderPreset::fifteenMinBefore, QStringLiteral("15 min before")},
                                             {ReminderPreset::oneHourBefore, QStringLiteral("1 hour before")},
                                             {ReminderPreset::twoHoursBefore, QStringLiteral("2 hours before")}}};
    return t;
}

const RawTable<DueDateReminderPreset>& dueDateReminderTable()
{
    static const RawTable<DueDateReminderPreset> t{
        {{DueDateReminderPreset::onDueDate, QStringLiteral("On due date")},
         {DueDateReminderPreset::oneDayBefore, QStringLiteral("1 day before")},
         {DueDateReminderPreset::twoDaysBefore, QStringLiteral("2 days before")}}};
    return t;
}

const RawTable<TaskItem::Priority>& priorityTable()
{
    static const RawTable<TaskItem::Priority> t{{{TaskItem::Priority::high, QStringLiteral("high")},
                                                 {TaskItem::Priority::medium, QStringLiteral("medium")},
                                                 {TaskItem::Priority::low, QStringLiteral("low")}}};
    return t;
}

// Formats tried after the locale's own short time, on the upper-cased text, in this order.
const QStringList& fixedTimeFormats()
{
    static const QStringList formats{
        QStringLiteral("h:mm AP"), QStringLiteral("h:mmAP"), QStringLiteral("HH:mm"),
        QStringLiteral("H:mm"),    QStringLiteral("h AP"),   QStringLiteral("hAP"),
    };
    return formats;
}

constexpr int noTime = std::numeric_limits<int>::max();

int timeKey(const TaskItem& t)
{
    return TaskItem::minutesOfDay(t.time).value_or(noTime);
}

bool orderedBefore(const TaskItem& a, int aTime, const TaskItem& b, int bTime)
{
    if (a.isCompleted != b.isCompleted)
        return !a.isCompleted;
    if (a.priority != b.priority)
        return a.priority < b.priority;
    if (aTime != bTime)
        return aTime < bTime;
    if (a.createdAt != b.createdAt)
        return a.createdAt < b.createdAt;
    return uuidText(a.id) < uuidText(b.id);
}

} // namespace

QString rawValue(RepeatOption option)
{
    return repeatTable().raw(option);
}
std::optional<RepeatOption> repeatOptionFromRaw(const QString& text)
{
    return repeatTable().from(text);
}
const std::vector<RepeatOption>& allRepeatOptions()
{
    static const std::vector<RepeatOption> all = repeatTable().all();
    return all;
}

QString rawValue(ReminderPreset preset)
{
    return reminderTable().raw(preset);
}
std::optional<ReminderPreset> reminderPresetFromRaw(const QString& text)
{
    return reminderTable().from(text);
}
const std::vector<ReminderPreset>& allReminderPresets()
{
    static const std::vector<ReminderPreset> all = reminderTable().all();
    return all;
}

Date reminderDate(ReminderPreset preset, Date due, const Calendar&)
{
    // Minutes and hours are spans of elapsed time, so they are plain seconds even across a clock change.
    switch (preset) {
    case ReminderPreset::atDueTime:
        return due;
    case ReminderPreset::fiveMinBefore:
        return due - 5 * 60;
    case ReminderPreset::fifteenMinBefore:
        return due - 15 * 60;
    case ReminderPreset::oneHourBefore:
        return due - 3600;
    case ReminderPreset::twoHoursBefore:
        return due - 2 * 3600;
    }
    return due;
}

QString rawValue(DueDateReminderPreset preset)
{
    return dueDateReminderTable().raw(preset);
}
std::optional<DueDateReminderPreset> dueDateReminderPresetFromRaw(const QString& text)
{
    return dueDateReminderTable().from(text);
}
const std::vector<DueDateReminderPreset>& allDueDateReminderPresets()
{
    static const std::vector<DueDateReminderPreset> all = dueDateReminderTable().all();
    return all;
}

Date reminderDate(DueDateReminderPreset preset, Date dueDay, const Calendar& calendar)
{
    const int daysBefore = preset == DueDateReminderPreset::onDueDate      ? 0
                           : preset == DueDateReminderPreset::oneDayBefore ? 1
                                                                           : 2;
    return calendar.date(calendar.localDate(dueDay).addDays(-daysBefore), 9, 0, 0);
}

QString TaskItem::rawValue(Priority priority)
{
    return priorityTable().raw(priority);
}
std::optional<TaskItem::Priority> TaskItem::priorityFromRaw(const QString& text)
{
    return priorityTable().from(text);
}
const std::vector<TaskItem::Priority>& TaskItem::allPriorities()
{
    static const std::vector<Priority> all = priorityTable().all();
    return all;
}

namespace {

// "9:41", "21:05", "9:41 PM", "9:41pm": the forms people type, and the editor writes in most
// locales, read by hand. Every locale's parser reads them as the fixed forms do, for a small part
// of the cost, and a start meets a few dozen distinct times for the first time. Anything else, or
// a time these forms do not allow, is left to the parsers.
std::optional<QTime> parseCommonTime(QStringView text)
{
    const auto digit = [&text](qsizetype at) -> std::optional<int> {
        if (at < text.size() && text[at] >= u'0' && text[at] <= u'9')
            return text[at].unicode() - u'0';
        return std::nullopt;
    };
    const std::optional<int> first = digit(0);
    if (!first)
        return std::nullopt;
    int hour = *first;
    qsizetype at = 1;
    if (const std::optional<int> second = digit(at)) {
        hour = hour * 10 + *second;
        ++at;
    }
    if (at >= text.size() || text[at] != u':')
        return std::nullopt;
    const std::optional<int> tens = digit(at + 1);
    const std::optional<int> ones = digit(at + 2);
    if (!tens || !ones || *tens > 5)
        return std::nullopt;
    const int minute = *tens * 10 + *ones;
    at += 3;
    if (at == text.size())
        return hour < 24 ? std::optional<QTime>(QTime(hour, minute)) : std::nullopt;
    if (text[at] == u' ')
        ++at;
    if (text.size() - at != 2 || hour > 12 || text[at + 1].toUpper() != u'M')
        return std::nullopt;
    const QChar half = text[at].toUpper();
    if (half != u'A' && half != u'P')
        return std::nullopt;
    // As the parsers read a 12-hour clock: hour 0 is 12.
    return QTime(hour % 12 + (half == u'P' ? 12 : 0), minute);
}

std::optional<QTime> parseTimeUncached(const QString& trimmed, const QLocale& locale)
{
    if (const std::optional<QTime> common = parseCommonTime(trimmed))
        return common;
    QTime t = locale.toTime(trimmed, QLocale::ShortFormat);
    if (t.isValid())
        return t;
    const QString upper = trimmed.toUpper();
    static const QLocale posix(QLocale::English, QLocale::UnitedStates);
    for (const QString& format : fixedTimeFormats()) {
        t = posix.toTime(upper, format);
        if (t.isValid())
            return t;
    }
    return std::nullopt;
}

} // namespace

std::optional<QTime> TaskItem::parseTime(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed == anytime)
        return std::nullopt;
    // Qt's date parser is slow and every list is sorted on each screen update, while people use a
    // handful of distinct time texts: remember the answers, per locale.
    thread_local QString cachedLocale;
    thread_local QHash<QString, std::optional<QTime>> cache;
    const QLocale locale;
    if (locale.name() != cachedLocale || cache.size() > 4096) {
        cachedLocale = locale.name();
        cache.clear();
    }
    if (const auto it = cache.constFind(trimmed); it != cache.cend())
        return *it;
    const std::optional<QTime> parsed = parseTimeUncached(trimmed, locale);
    cache.insert(trimmed, parsed);
    return parsed;
}

std::optional<int> TaskItem::minutesOfDay(const QString& time)
{
    const std::optional<QTime> t = parseTime(time);
    if (!t)
        return std::nullopt;
    return t->hour() * 60 + t->minute();
}

bool TaskItem::isOrderedBefore(const TaskItem& a, const TaskItem& b)
{
    return orderedBefore(a, timeKey(a), b, timeKey(b));
}

namespace {

// The time keys of a list's to-dos: thousands of to-dos share a handful of time texts, and each
// is read once. Found by a hash of the text's code units, cheaper than the general string hash.
class TimeKeys {
public:
    int of(const TaskItem& t)
    {
        const QString& text = t.time;
        size_t h = 1469598103934665603ULL;
        for (const QChar c : text)
            h = (h ^ c.unicode()) * 1099511628211ULL;
        for (size_t probe = 0; probe < m_table.size(); ++probe) {
            Slot& s = m_table[(h + probe) & (m_table.size() - 1)];
            if (!s.used) {
                if (m_used * 2 >= m_table.size())
                    break; // crowded: the general table takes the rest
                s = {true, h, text, timeKey(t)};
                ++m_used;
                return s.key;
            }
            if (s.hash == h && s.text == text)
                return s.key;
        }
        auto it = m_overflow.constFind(text);
        if (it == m_overflow.cend())
            it = m_overflow.insert(text, timeKey(t));
        return *it;
    }

private:
    struct Slot {
        bool used = false;
        size_t hash = 0;
        QString text;
        int key = 0;
    };
    std::array<Slot, 1024> m_table{};
    size_t m_used = 0;
    QHash<QString, int> m_overflow;
};

} // namespace

void TaskItem::sortForDisplay(std::vector<TaskItem>& list)
{
    std::vector<std::pair<int, size_t>> keys;
    keys.reserve(list.size());
    TimeKeys times;
    for (size_t i = 0; i < list.size(); ++i)
        keys.emplace_back(times.of(list[i]), i);
    std::stable_sort(keys.begin(), keys.end(), [&list](const auto& x, const auto& y) {
        return orderedBefore(list[x.second], x.first, list[y.second], y.first);
    });
    std::vector<TaskItem> sorted;
    sorted.reserve(list.size());
    for (const auto& key : keys)
        sorted.push_back(std::move(list[key.second]));
    list = std::move(sorted);
}

std::vector<const TaskItem*> TaskItem::orderForDisplay(std::vector<const TaskItem*> items, size_t first)
{
    // The order's keys side by side, so a sort of thousands compares small records instead of
    // reaching into every to-do; only exact ties look at the ids.
    struct Key {
        bool done;
        Priority priority;
        int time;
        Date created;
        size_t index;
    };
    std::vector<Key> keys;
    keys.reserve(items.size());
    TimeKeys times;
    for (size_t i = 0; i < items.size(); ++i) {
        const TaskItem& t = *items[i];
        keys.push_back({t.isCompleted, t.priority, times.of(t), t.createdAt, i});
    }
    // Places given break the last ties, so the order is total and a partial sort agrees with a
    // stable one.
    const auto before = [&items](const Key& x, const Key& y) {
        if (x.done != y.done)
            return !x.done;
        if (x.priority != y.priority)
            return x.priority < y.priority;
        if (x.time != y.time)
            return x.time < y.time;
        if (x.created != y.created)
            return x.created < y.created;
        if (orderedBefore(*items[x.index], x.time, *items[y.index], y.time))
            return true;
        if (orderedBefore(*items[y.index], y.time, *items[x.index], x.time))
            return false;
        return x.index < y.index;
    };
    if (first < keys.size()) {
        std::partial_sort(keys.begin(), keys.begin() + qsizetype(first), keys.end(), before);
        keys.resize(first);
    } else {
        std::sort(keys.begin(), keys.end(), before);
    }
    std::vector<const TaskItem*> out;
    out.reserve(keys.size());
    for (const Key& key : keys)
        out.push_back(items[key.index]);
    return out;
}

std::vector<TaskItem> TaskItem::firstForDisplay(const std::vector<const TaskItem*>& items, size_t first)
{
    std::vector<TaskItem> out;
    const std::vector<const TaskItem*> order = orderForDisplay(items, first);
    out.reserve(order.size());
    for (const TaskItem* t : order)
        out.push_back(*t);
    return out;
}

std::vector<TaskItem> TaskItem::sortedForDisplay(std::vector<TaskItem> list)
{
    sortForDisplay(list);
    return list;
}

bool TaskItem::isVisible(Date day, const Calendar& calendar) const
{
    const QDate created = calendar.localDate(createdAt);
    const QDate shown = calendar.localDate(day);
    const QDate last = calendar.localDate(dueDate.value_or(createdAt));
    return created <= shown && shown <= last;
}

QString TaskItem::displayTime() const
{
    const std::optional<QTime> t = parseTime(time);
    if (!t)
        return time;
    return LocaleFormats::shortTime(QLocale(), *t);
}

std::optional<QString> TaskItem::stepsProgressText() const
{
    if (subtasks.empty())
        return std::nullopt;
    const auto done = std::count_if(subtasks.begin(), subtasks.end(), [](const Subtask& s) { return s.isCompleted; });
    return QStringLiteral("%1 of %2 steps").arg(done).arg(subtasks.size());
}

std::optional<QString> TaskItem::focusMetaText() const
{
    if (time != anytime && !time.isEmpty())
        return displayTime();
    if (repeatOption != RepeatOption::none)
        return ::rawValue(repeatOption);
    return stepsProgressText();
}

QJsonObject encodeSubtask(const Subtask& s)
{
    JsonValueBuilder b;
    writeSubtask(b, s);
    return b.result().toObject();
}

std::optional<Subtask> decodeSubtask(const QJsonValue& value, QString* error)
{
    JsonReader r(value, QStringLiteral("Subtask"));
    Subtask s{r.uuid(QStringLiteral("id")), r.string(QStringLiteral("title")),
              r.boolean(QStringLiteral("isCompleted"))};
    if (!r.ok()) {
        if (error)
            *error = r.error();
        return std::nullopt;
    }
    return s;
}

QJsonObject encodeTaskItem(const TaskItem& t)
{
    JsonValueBuilder b;
    writeTaskItem(b, t);
    return b.result().toObject();
}

QByteArray todosFileText(const std::vector<TaskItem>& list)
{
    JsonTextWriter w;
    w.reserve(static_cast<qsizetype>(list.size()) * 640 + 16);
    w.beginArray();
    for (const TaskItem& t : list)
        writeTaskItem(w, t);
    w.endArray();
    return w.take();
}

std::optional<TaskItem> decodeTaskItem(const QJsonValue& value, QString* error)
{
    JsonReader r(value, QStringLiteral("TaskItem"));
    TaskItem t;
    t.id = r.uuid(QStringLiteral("id"));
    t.title = r.string(QStringLiteral("title"));
    t.time = r.string(QStringLiteral("time"));
    const QString priority = r.string(QStringLiteral("priority"));
    if (r.ok()) {
        if (const auto p = TaskItem::priorityFromRaw(priority))
            t.priority = *p;
        else
            r.fail(QStringLiteral("priority"), QStringLiteral("unknown priority \"%1\"").arg(priority));
    }
    t.isCompleted = r.boolean(QStringLiteral("isCompleted"));
    t.dueDate = r.optDate(QStringLiteral("dueDate"));
    t.createdAt = r.date(QStringLiteral("createdAt"));
    t.updatedAt = r.optDate(QStringLiteral("updatedAt")).value_or(t.createdAt);
    t.reminderDate = r.optDate(QStringLiteral("reminderDate"));
    t.subtasks = r.optNested<std::vector<Subtask>>(QStringLiteral("subtasks"), [](const QJsonValue& v, QString* e) {
                      return decodeStrictList<Subtask>(v, decodeSubtask, e);
                  }).value_or(std::vector<Subtask>{});
    t.notes = r.optString(QStringLiteral("notes"));
    if (const auto repeat = r.optString(QStringLiteral("repeatOption")); repeat && r.ok()) {
        if (const auto option = repeatOptionFromRaw(*repeat))
            t.repeatOption = *option;
        else
            r.fail(QStringLiteral("repeatOption"), QStringLiteral("unknown repeat \"%1\"").arg(*repeat));
    }
    t.recurringSeriesId = r.optUuid(QStringLiteral("recurringSeriesId"));
    if (!r.ok()) {
        if (error)
            *error = r.error();
        return std::nullopt;
    }
    return t;
}

#include "model/TaskRecurrence.h"

#include "model/Json.h"

#include <QCryptographicHash>
#include <algorithm>

namespace TaskRecurrence {

const QUuid& namespaceUUID()
{
    static const QUuid ns = [] {
        static constexpr unsigned char bytes[16] = {0x6b, 0x3f, 0x9a, 0x1e, 0x52, 0xc4, 0x4d, 0x07,
                                                    0x8e, 0x21, 0xd5, 0x90, 0x3a, 0x7c, 0xb6, 0x48};
        return QUuid::fromRfc4122(QByteArrayView(reinterpret_cast<const char*>(bytes), 16));
    }();
    return ns;
}

QString dayKey(Date date, const Calendar& calendar)
{
    const QDate d = calendar.localDate(date);
    return QString::asprintf("%04d-%02d-%02d", d.year(), d.month(), d.day());
}

QUuid occurrenceId(const QUuid& seriesId, const QString& dayKey)
{
    const QByteArray name = seriesId.toString(QUuid::WithoutBraces).toLower().toUtf8() + '|' + dayKey.toUtf8();
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    sha1.addData(namespaceUUID().toRfc4122());
    sha1.addData(name);
    QByteArray digest = sha1.result().left(16);
    digest[6] = static_cast<char>(0x50 | (static_cast<unsigned char>(digest[6]) & 0x0F));
    digest[8] = static_cast<char>(0x80 | (static_cast<unsigned char>(digest[8]) & 0x3F));
    return QUuid::fromRfc4122(digest);
}

std::map<QString, std::vector<TaskItem>> groupBySeries(const std::vector<TaskItem>& list)
{
    std::map<QString, std::vector<TaskItem>> groups;
    for (const TaskItem& item : list)
        if (item.recurringSeriesId)
            groups[uuidText(*item.recurringSeriesId)].push_back(item);
    return groups;
}

namespace {

// A series' to-dos where they lie: every start looks at every series.
using SeriesItems = std::vector<const TaskItem*>;

Date anchorOf(const SeriesItems& series, const Calendar& calendar)
{
    Date earliest = series.front()->createdAt;
    for (const TaskItem* item : series)
        earliest = std::min(earliest, item->createdAt);
    return calendar.startOfDay(earliest);
}

// The template is the series' latest to-do.
const TaskItem& latest(const SeriesItems& series)
{
    return **std::max_element(series.begin(), series.end(), [](const TaskItem* a, const TaskItem* b) {
        if (a->createdAt != b->createdAt)
            return a->createdAt < b->createdAt;
        if (a->updatedAt != b->updatedAt)
            return a->updatedAt < b->updatedAt;
        return uuidText(a->id) < uuidText(b->id);
    });
}

} // namespace

std::optional<Date> seriesAnchorDay(const std::vector<TaskItem>& series, const Calendar& calendar)
{
    if (series.empty())
        return std::nullopt;
    SeriesItems items;
    for (const TaskItem& item : series)
        items.push_back(&item);
    return anchorOf(items, calendar);
}

qint64 daysBetween(Date a, Date b, const Calendar& calendar)
{
    return calendar.daysBetween(a, b);
}

namespace {

Date step(Date anchor, RepeatOption option, qint64 k, const Calendar& calendar)
{
    switch (option) {
    case RepeatOption::daily:
        return calendar.startOfDay(calendar.addDays(anchor, k));
    case RepeatOption::weekly:
        return calendar.startOfDay(calendar.addDays(anchor, saturatingMul(k, 7)));
    case RepeatOption::monthly:
        return calendar.startOfDay(calendar.addMonths(anchor, k));
    case RepeatOption::none:
        break;
    }
    return anchor;
}

// `day` at the wall time of `source` (seconds dropped); a gap resolves to the next valid instant.
Date atTimeOf(Date day, Date source, const Calendar& calendar)
{
    const LocalDateTime c = calendar.components(source);
    return calendar.date(calendar.localDate(day), c.hour, c.minute, 0);
}

} // namespace

std::optional<Date> scheduledDay(Date onOrBefore, Date anchor, RepeatOption option, const Calendar& calendar)
{
    if (option == RepeatOption::none)
        return std::nullopt;
    const Date t = calendar.startOfDay(onOrBefore);
    const Date a = calendar.startOfDay(anchor);
    if (t < a)
        return std::nullopt;
    qint64 n = 0;
    switch (option) {
    case RepeatOption::daily:
        n = calendar.daysBetween(a, t);
        break;
    case RepeatOption::weekly:
        n = calendar.daysBetween(a, t) / 7;
        break;
    case RepeatOption::monthly:
        n = calendar.monthsBetween(a, t);
        break;
    case RepeatOption::none:
        break;
    }
    while (n > 0 && step(a, option, n, calendar) > t)
        --n;
    qint64 k = n;
    while (step(a, option, k + 1, calendar) <= t)
        ++k;
    return step(a, option, k, calendar);
}

TaskItem makeOccurrence(const TaskItem& p, const QUuid& seriesId, Date day, const Calendar& calendar)
{
    const Date d = calendar.startOfDay(day);
    const Date c = calendar.startOfDay(p.createdAt);
    TaskItem item;
    item.id = occurrenceId(seriesId, dayKey(d, calendar));
    item.title = p.title;
    item.time = p.time;
    item.priority = p.priority;
    item.notes = p.notes;
    item.repeatOption = p.repeatOption;
    item.isCompleted = false;
    item.createdAt = d;
    item.updatedAt = d;
    for (const Subtask& s : p.subtasks)
        item.subtasks.push_back({s.id, s.title, false});
    item.recurringSeriesId = seriesId;

    qint64 a = 0;
    qint64 b = 0;
    if (p.dueDate) {
        a = std::max<qint64>(0, calendar.daysBetween(c, *p.dueDate));
        switch (p.repeatOption) {
        case RepeatOption::none:
            b = a;
            break;
        case RepeatOption::daily:
            b = std::min<qint64>(a, 0);
            break;
        case RepeatOption::weekly:
            b = std::min<qint64>(a, 6);
            break;
        case RepeatOption::monthly:
            b = std::min<qint64>(a, 27);
            break;
        }
        item.dueDate = atTimeOf(calendar.addDays(d, b), *p.dueDate, calendar);
    }
    if (p.reminderDate) {
        const qint64 r = calendar.daysBetween(c, *p.reminderDate) - (a - b);
        item.reminderDate = atTimeOf(calendar.addDays(d, r), *p.reminderDate, calendar);
    }
    return item;
}

namespace {

// The list's to-dos whose ids are in `skipping` count as already gone.
std::vector<TaskItem> rollForward(TaskItemsView list, const QSet<QUuid>& skipping, const QSet<QUuid>& excludingSeries,
                                  Date now, const Calendar& calendar)
{
    QHash<QUuid, SeriesItems> groups;
    for (const TaskItem& item : list)
        if (item.recurringSeriesId && !skipping.contains(item.id))
            groups[*item.recurringSeriesId].push_back(&item);
    std::vector<TaskItem> created;
    for (auto group = groups.cbegin(); group != groups.cend(); ++group) {
        const QUuid& seriesId = group.key();
        const SeriesItems& series = group.value();
        if (excludingSeries.contains(seriesId))
            continue;
        const TaskItem& templateItem = latest(series);
        if (templateItem.repeatOption == RepeatOption::none)
            continue;
        const std::optional<Date> due =
            scheduledDay(now, anchorOf(series, calendar), templateItem.repeatOption, calendar);
        if (!due || !(*due > calendar.startOfDay(templateItem.createdAt)))
            continue;
        const QUuid id = occurrenceId(seriesId, dayKey(*due, calendar));
        const bool exists = std::any_of(series.begin(), series.end(), [&](const TaskItem* item) {
            return item->id == id || calendar.isSameDay(item->createdAt, *due);
        });
        if (!exists)
            created.push_back(makeOccurrence(templateItem, seriesId, *due, calendar));
    }
    // In the order of their ids, whatever order the series were looked at in.
    std::sort(created.begin(), created.end(),
              [](const TaskItem& a, const TaskItem& b) { return uuidText(a.id) < uuidText(b.id); });
    return created;
}

} // namespace

std::vector<TaskItem> rollForward(TaskItemsView list, const QSet<QUuid>& excludingSeries, Date now,
                                  const Calendar& calendar)
{
    return rollForward(list, {}, excludingSeries, now, calendar);
}

SeriesChanges applySeriesChanges(TaskItemsView list, const QSet<QUuid>& stopped, const QSet<QUuid>& deleted, Date now)
{
    SeriesChanges out;
    out.list.reserve(list.size());
    for (const TaskItem& item : list) {
        if (!item.recurringSeriesId) {
            out.list.push_back(item);
        } else if (deleted.contains(*item.recurringSeriesId)) {
            out.dropped.insert(item.id);
            out.changed = true;
        } else if (stopped.contains(*item.recurringSeriesId)) {
            TaskItem oneOff = item;
            oneOff.repeatOption = RepeatOption::none;
            oneOff.recurringSeriesId.reset();
            oneOff.updatedAt = std::max(item.updatedAt, wholeSeconds(now));
            out.list.push_back(std::move(oneOff));
            out.changed = true;
        } else {
            out.list.push_back(item);
        }
    }
    return out;
}

namespace {

// One series' to-dos of one local day.
struct SeriesDay {
    QUuid series;
    qint64 day = 0; // the local day's Julian number
    bool operator==(const SeriesDay&) const = default;
};

size_t qHash(const SeriesDay& key, size_t seed = 0)
{
    return qHashMulti(seed, key.series, key.day);
}

QSet<QUuid> duplicateOccurrences(TaskItemsView list, const Calendar& calendar)
{
    // Group members by series and day, in list order. Every start reads every series' to-do:
    // the keys are compared as values, and a day's text is made only for groups of two or more.
    QHash<SeriesDay, std::vector<size_t>> groups;
    std::vector<SeriesDay> keyOrder;
    for (size_t i = 0; i < list.size(); ++i) {
        const TaskItem& item = list[i];
        if (!item.recurringSeriesId)
            continue;
        const SeriesDay key{*item.recurringSeriesId, calendar.localDate(item.createdAt).toJulianDay()};
        auto it = groups.find(key);
        if (it == groups.end()) {
            groups.insert(key, {i});
            keyOrder.push_back(key);
        } else {
            it->push_back(i);
        }
    }

    auto isCanonical = [&](size_t i) {
        return list[i].id == occurrenceId(*list[i].recurringSeriesId, dayKey(list[i].createdAt, calendar));
    };
    auto preferred = [&](size_t candidate, size_t current) {
        const TaskItem& x = list[candidate];
        const TaskItem& y = list[current];
        if (x.isCompleted != y.isCompleted)
            return x.isCompleted;
        const bool xc = isCanonical(candidate);
        const bool yc = isCanonical(current);
        if (xc != yc)
            return xc;
        if (x.updatedAt != y.updatedAt)
            return x.updatedAt > y.updatedAt;
        return uuidText(x.id) < uuidText(y.id);
    };

    QSet<QUuid> dropped;
    for (const SeriesDay& key : keyOrder) {
        const std::vector<size_t>& members = groups[key];
        if (members.size() < 2)
            continue;
        size_t kept = members.front();
        for (size_t k = 1; k < members.size(); ++k)
            if (preferred(members[k], kept))
                kept = members[k];
        for (size_t index : members)
            if (list[index].id != list[kept].id)
                dropped.insert(list[index].id);
    }
    return dropped;
}

} // namespace

DuplicateRemoval removeDuplicateOccurrences(const std::vector<TaskItem>& list, const Calendar& calendar)
{
    DuplicateRemoval out;
    out.dropped = duplicateOccurrences(list, calendar);
    if (out.dropped.isEmpty()) {
        out.list = list;
        return out;
    }
    for (const TaskItem& item : list)
        if (!out.dropped.contains(item.id))
            out.list.push_back(item);
    return out;
}

SeriesChanges maintain(TaskItemsView list, const QSet<QUuid>& stopped, const QSet<QUuid>& deleted, Date now,
                       const Calendar& zoneCalendar)
{
    // Series ask the zone about the same few days over and over.
    const Calendar calendar = zoneCalendar.remembering();
    // Large lists mostly hold no to-do of a stopped or deleted series, and duplicates are rare:
    // the steps read the list where it is, and only the result is copied.
    const bool marked = std::any_of(list.begin(), list.end(), [&](const TaskItem& item) {
        return item.recurringSeriesId &&
               (stopped.contains(*item.recurringSeriesId) || deleted.contains(*item.recurringSeriesId));
    });
    std::optional<SeriesChanges> first;
    if (marked)
        first = applySeriesChanges(list, stopped, deleted, now);
    const TaskItemsView afterFirst = first ? TaskItemsView(first->list) : list;
    const QSet<QUuid> duplicates = duplicateOccurrences(afterFirst, calendar);
    std::vector<TaskItem> created = rollForward(afterFirst, duplicates, stopped + deleted, now, calendar);

    SeriesChanges out;
    out.changed = (first && first->changed) || !duplicates.isEmpty() || !created.empty();
    out.dropped = first ? first->dropped + duplicates : duplicates;
    // Mostly nothing is due: a copy of every to-do would be made only to be thrown away.
    if (!out.changed)
        return out;
    out.list = std::move(created);
    out.list.reserve(out.list.size() + afterFirst.size());
    for (const TaskItem& item : afterFirst)
        if (duplicates.isEmpty() || !duplicates.contains(item.id))
            out.list.push_back(item);
    return out;
}

Calendar maintenanceCalendar(const Calendar& current)
{
    return Calendar(current.timeZone(), current.firstWeekday(), QLocale(QLocale::English, QLocale::UnitedStates));
}

} // namespace TaskRecurrence

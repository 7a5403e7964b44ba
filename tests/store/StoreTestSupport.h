#pragma once

// Small builders and file helpers shared by the store tests.

#include "TestEnvironment.h"
#include "model/Json.h"
#include "model/Note.h"
#include "model/TaskItem.h"
#include "model/TaskRecurrence.h"
#include "store/TodoList.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QList>
#include <QSet>
#include <QUuid>
#include <vector>

namespace StoreTest {

inline TaskItem todo(const QString& title, Date createdAt)
{
    TaskItem t;
    t.id = QUuid::createUuid();
    t.title = title;
    t.createdAt = createdAt;
    t.updatedAt = createdAt;
    return t;
}

inline Note note(const QString& title, Date at)
{
    Note n;
    n.id = QUuid::createUuid();
    n.title = title;
    n.body = title + QStringLiteral(" body");
    n.createdAt = at;
    n.updatedAt = at;
    return n;
}

inline QByteArray readBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

inline bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size();
}

inline std::vector<TaskItem> todosInFile(const QString& path)
{
    const QJsonDocument doc = QJsonDocument::fromJson(readBytes(path));
    return decodeStrictList<TaskItem>(doc.array(), decodeTaskItem, nullptr).value_or(std::vector<TaskItem>{});
}

inline std::vector<Note> notesInFile(const QString& path)
{
    const QJsonDocument doc = QJsonDocument::fromJson(readBytes(path));
    return decodeStrictList<Note>(doc.array(), decodeNote, nullptr).value_or(std::vector<Note>{});
}

inline QByteArray todosJson(const std::vector<TaskItem>& list)
{
    return QJsonDocument(encodeList(list, encodeTaskItem)).toJson();
}

inline QByteArray notesJson(const std::vector<Note>& list)
{
    return QJsonDocument(encodeList(list, encodeNote)).toJson();
}

// Puts a folder where a data file belongs, so that writing it fails even for root, who is not
// stopped by folder permissions.
inline bool blockFile(const QString& path)
{
    QFile::remove(path);
    return QDir().mkpath(path);
}

inline bool unblockFile(const QString& path)
{
    return QDir(path).removeRecursively();
}

inline QList<QUuid> ids(const TodoList& list)
{
    QList<QUuid> out;
    for (const TaskItem& t : list)
        out.push_back(t.id);
    return out;
}

inline QList<QUuid> ids(const std::vector<TaskItem>& list)
{
    QList<QUuid> out;
    for (const TaskItem& t : list)
        out.push_back(t.id);
    return out;
}

inline QList<QUuid> ids(const std::vector<Note>& list)
{
    QList<QUuid> out;
    for (const Note& n : list)
        out.push_back(n.id);
    return out;
}

inline QSet<QUuid> idSet(const QStringList& texts)
{
    QSet<QUuid> out;
    for (const QString& text : texts)
        if (const auto id = parseUuid(text))
            out.insert(*id);
    return out;
}

inline const QString pendingTaskDeletesKey = QStringLiteral("sync.pendingTaskDeletes.v1");

// One occurrence of a series, with the id the series maintenance gives that day.
inline TaskItem occurrence(const QString& title, const QUuid& series, Date day,
                           RepeatOption repeat = RepeatOption::daily)
{
    const Calendar cal = TaskRecurrence::maintenanceCalendar(TestEnvironment::calendar());
    TaskItem t = todo(title, cal.startOfDay(day));
    t.id = TaskRecurrence::occurrenceId(series, TaskRecurrence::dayKey(day, cal));
    t.repeatOption = repeat;
    t.recurringSeriesId = series;
    return t;
}

} // namespace StoreTest

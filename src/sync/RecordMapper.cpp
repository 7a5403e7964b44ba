#include "sync/RecordMapper.h"

#include "model/Json.h"
#include "model/JsonWriter.h"

#include <QJsonArray>
#include <QJsonDocument>

Q_LOGGING_CATEGORY(recordMapperLog, "RecordMapper")

namespace RecordMapper {

QString subtasksJSON(const std::vector<Subtask>& steps)
{
    JsonTextWriter w(JsonTextWriter::Style::compactEscapedSlash);
    w.checkSortedKeys = false; // the phone app's encoder writes a step's keys in field order
    w.beginArray();
    for (const Subtask& s : steps) {
        w.beginObject();
        w.key("id");
        w.value(uuidText(s.id));
        w.key("title");
        w.value(s.title);
        w.key("isCompleted");
        w.value(s.isCompleted);
        w.endObject();
    }
    w.endArray();
    return QString::fromUtf8(w.take());
}

std::optional<std::vector<Subtask>> decodeSubtasksJSON(const QString& text)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    return decodeStrictList<Subtask>(doc.array(), decodeSubtask, nullptr);
}

const QStringList& taskFields()
{
    static const QStringList fields{QStringLiteral("title"),
                                    QStringLiteral("time"),
                                    QStringLiteral("priority"),
                                    QStringLiteral("isCompleted"),
                                    QStringLiteral("createdAt"),
                                    QStringLiteral("updatedAt"),
                                    QStringLiteral("dueDate"),
                                    QStringLiteral("reminderDate"),
                                    QStringLiteral("notes"),
                                    QStringLiteral("repeatOption"),
                                    QStringLiteral("recurringSeriesId"),
                                    QStringLiteral("subtasksJSON")};
    return fields;
}

const QStringList& noteFields()
{
    static const QStringList fields{QStringLiteral("title"), QStringLiteral("body"), QStringLiteral("createdAt"),
                                    QStringLiteral("updatedAt")};
    return fields;
}

std::optional<TaskItem> taskItem(const CloudRecord& record)
{
    const auto malformed = [&record]() -> std::optional<TaskItem> {
        qCCritical(recordMapperLog, "Skipping malformed task record %s", qUtf8Printable(record.recordName()));
        return std::nullopt;
    };
    TaskItem t;
    const std::optional<QUuid> id = parseUuid(record.recordName());
    const std::optional<QString> title = record.string(QStringLiteral("title"));
    const std::optional<QString> time = record.string(QStringLiteral("time"));
    const std::optional<QString> priorityText = record.string(QStringLiteral("priority"));
    if (!id || !title || !time || !priorityText)
        return malformed();
    const std::optional<TaskItem::Priority> priority = TaskItem::priorityFromRaw(*priorityText);
    const std::optional<Date> createdAt = record.date(QStringLiteral("createdAt"));
    if (!priority || !createdAt)
        return malformed();
    t.id = *id;
    t.title = *title;
    t.time = *time;
    t.priority = *priority;
    t.createdAt = *createdAt;
    const std::optional<double> completed = record.number(QStringLiteral("isCompleted"));
    t.isCompleted = completed && *completed != 0;
    t.updatedAt = record.date(QStringLiteral("updatedAt")).value_or(*createdAt);
    t.repeatOption = repeatOptionFromRaw(record.string(QStringLiteral("repeatOption")).value_or(QStringLiteral("None")))
                         .value_or(RepeatOption::none);
    if (const auto steps = record.string(QStringLiteral("subtasksJSON")))
        t.subtasks = decodeSubtasksJSON(*steps).value_or(std::vector<Subtask>{});
    if (const auto series = record.string(QStringLiteral("recurringSeriesId")))
        t.recurringSeriesId = parseUuid(*series);
    t.dueDate = record.date(QStringLiteral("dueDate"));
    t.reminderDate = record.date(QStringLiteral("reminderDate"));
    t.notes = record.string(QStringLiteral("notes"));
    return t;
}

std::optional<Note> note(const CloudRecord& record)
{
    const std::optional<QUuid> id = parseUuid(record.recordName());
    const std::optional<QString> title = record.string(QStringLiteral("title"));
    const std::optional<QString> body = record.string(QStringLiteral("body"));
    const std::optional<Date> createdAt = record.date(QStringLiteral("createdAt"));
    if (!id || !title || !body || !createdAt) {
        qCCritical(recordMapperLog, "Skipping malformed note record %s", qUtf8Printable(record.recordName()));
        return std::nullopt;
    }
    return Note{*id, *title, *body, *createdAt, record.date(QStringLiteral("updatedAt")).value_or(*createdAt)};
}

void apply(const TaskItem& t, CloudRecord& record)
{
    record.setString(QStringLiteral("title"), t.title);
    record.setString(QStringLiteral("time"), t.time);
    record.setString(QStringLiteral("priority"), TaskItem::rawValue(t.priority));
    record.setInt64(QStringLiteral("isCompleted"), t.isCompleted ? 1 : 0);
    record.setDate(QStringLiteral("createdAt"), t.createdAt);
    record.setDate(QStringLiteral("updatedAt"), t.updatedAt);
    record.setDate(QStringLiteral("dueDate"), t.dueDate);
    record.setDate(QStringLiteral("reminderDate"), t.reminderDate);
    record.setString(QStringLiteral("notes"), t.notes);
    record.setString(QStringLiteral("repeatOption"), rawValue(t.repeatOption));
    record.setString(QStringLiteral("recurringSeriesId"),
                     t.recurringSeriesId ? std::optional(uuidText(*t.recurringSeriesId)) : std::nullopt);
    record.setString(QStringLiteral("subtasksJSON"), subtasksJSON(t.subtasks));
}

void fillNoteRecord(const Note& n, CloudRecord& record)
{
    record.setString(QStringLiteral("title"), n.title);
    record.setString(QStringLiteral("body"), n.body);
    record.setDate(QStringLiteral("createdAt"), n.createdAt);
    record.setDate(QStringLiteral("updatedAt"), n.updatedAt);
}

} // namespace RecordMapper

#pragma once

#include "model/Note.h"
#include "model/TaskItem.h"
#include "sync/CloudRecord.h"

#include <QLoggingCategory>
#include <optional>

Q_DECLARE_LOGGING_CATEGORY(recordMapperLog)

// How to-dos and notes look as records of the cloud record store, which the phone app reads and
// writes too: "QHTask" and "QHNote" named by the item's id.
namespace RecordMapper {

inline const QString taskRecordType = QStringLiteral("QHTask");
inline const QString noteRecordType = QStringLiteral("QHNote");

// The fields this version reads and writes; a record keeps any other field as it is.
const QStringList& taskFields();
const QStringList& noteFields();

std::optional<TaskItem> taskItem(const CloudRecord& record);
std::optional<Note> note(const CloudRecord& record);
// Writes all twelve fields; an absent optional clears the field on a fetched record.
void apply(const TaskItem& todo, CloudRecord& record);
void fillNoteRecord(const Note& note, CloudRecord& record);

// The steps as "subtasksJSON": compact, keys in field order, "/" escaped.
QString subtasksJSON(const std::vector<Subtask>& steps);
std::optional<std::vector<Subtask>> decodeSubtasksJSON(const QString& text);

} // namespace RecordMapper

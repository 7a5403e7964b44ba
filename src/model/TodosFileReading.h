#pragma once

#include "model/TaskItem.h"

#include <QByteArrayView>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

// Every to-do of a "todos.json" text read in one pass, or nothing when the text holds anything
// the quick reading is not sure of, down to a single to-do that does not decode: the caller then
// reads it through a document with decodeTaskItem, which decides what it means.
std::optional<std::vector<TaskItem>> decodeTodosFileText(QByteArrayView text);
// The same, also noting where each to-do's text lies.
std::optional<std::vector<TaskItem>> decodeTodosFileText(QByteArrayView text, std::vector<TextSpan>* spans);
// The same; a text of `splitFrom` bytes or more is read in parts at once, about `splitFrom` bytes
// each (0: as many as it may), all but the first by threads of their own, with the same result
// as one pass.
std::optional<std::vector<TaskItem>> decodeTodosFileText(QByteArrayView text, std::vector<TextSpan>* spans,
                                                         qsizetype splitFrom);
// Where each part but the first of a reading in `parts` parts would begin: guesses at to-dos'
// starts, proved only by the reading before a part arriving there exactly.
std::vector<qsizetype> todosTextPartStarts(QByteArrayView text, int parts);

// A to-dos text read in parts that any thread may take, with the result of one pass: a thread
// begun early reads what it can, and a thread that needs the list sooner reads the parts still
// left instead of waiting for them.
class TodosTextReading {
public:
    // How the reading of a part ended: at the list's end, or at the start of the next part.
    enum class Elements { failed, ended, reachedStop };

    // The text must outlive the reading. At most `parts` parts, fewer in a text with fewer
    // places to begin one. `withCopies`: each part's reader also copies its to-dos, for a holder
    // that keeps the list as read beside the one it changes (the file's writer).
    TodosTextReading(QByteArrayView text, int parts, bool withSpans, bool withCopies = false);
    TodosTextReading(const TodosTextReading&) = delete;
    TodosTextReading& operator=(const TodosTextReading&) = delete;

    size_t parts() const { return m_count; }
    // Reads the parts no one has taken, one after another, until none is left.
    void readParts();
    // Reads what is left, waits for the parts others are reading, and answers as
    // decodeTodosFileText does, spans and copies included when the reading was made with them.
    // The copies stay in their parts, in order: put together, they are the list. Once.
    std::optional<std::vector<TaskItem>> finish(std::vector<TextSpan>* spans = nullptr,
                                                std::vector<std::vector<TaskItem>>* copies = nullptr);

private:
    struct Part {
        std::vector<TaskItem> items;
        std::vector<TextSpan> spans;
        std::vector<TaskItem> copies;
        Elements read = Elements::failed;
    };
    void readPart(size_t k);

    QByteArrayView m_text;
    bool m_withSpans;
    bool m_withCopies;
    std::vector<qsizetype> m_starts;
    std::vector<Part> m_parts;
    size_t m_count; // the parts', kept apart: a thread may still look after the list is made
    std::atomic<size_t> m_next{0};
    std::mutex m_mutex;
    std::condition_variable m_partRead;
    size_t m_read = 0;
};

#include "model/TodosFileReading.h"

#include "model/Iso8601.h"
#include "model/Json.h"
#include "model/JsonScanner.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <thread>

namespace {

bool scanDate(JsonScanner& s, Date& out)
{
    std::string_view text;
    const std::optional<Date> d = s.readString(text) ? Iso8601::parse(text) : std::nullopt;
    if (d)
        out = *d;
    return d.has_value();
}

bool scanUuid(JsonScanner& s, QUuid& out)
{
    std::string_view text;
    const std::optional<QUuid> id = s.readString(text) ? parseUuid(text) : std::nullopt;
    if (id)
        out = *id;
    return id.has_value();
}

template <typename T, typename FromRaw> bool scanRaw(JsonScanner& s, T& out, FromRaw fromRaw)
{
    QString raw;
    const std::optional<T> value = s.readText(raw) ? fromRaw(raw) : std::nullopt;
    if (value)
        out = *value;
    return value.has_value();
}

bool scanSubtask(JsonScanner& s, Subtask& step)
{
    if (!s.enterObject())
        return false;
    unsigned seen = 0;
    bool first = true;
    std::string_view key;
    while (s.nextKey(first, key)) {
        const unsigned bit = key == "id" ? 1 : key == "title" ? 2 : key == "isCompleted" ? 4 : 0;
        seen |= bit;
        const bool read = bit == 1   ? scanUuid(s, step.id)
                          : bit == 2 ? s.readText(step.title)
                          : bit == 4 ? s.readBool(step.isCompleted)
                                     : s.skipValue();
        if (!read)
            return false;
    }
    return s.ok() && seen == 7;
}

// What one reading keeps from to-do to to-do, so that each to-do takes fewer blocks of memory:
// each block costs a turn at a heap's lock, which threads reading at once may share.
struct Scratch {
    // The steps of the to-do in reading, moved into a list of their own exact size at its end.
    std::vector<Subtask> steps;
    // The last few times of day read: a list holds few different ones ("Anytime", "9:30 AM"),
    // and to-dos with the same one share its text.
    struct Time {
        std::string utf8;
        QString text;
    };
    std::array<Time, 8> times;
    size_t nextTime = 0;

    bool readTime(JsonScanner& s, QString& out)
    {
        std::string_view utf8;
        if (!s.readString(utf8))
            return false;
        // Short ASCII texts only; any other is converted as every text is.
        constexpr size_t longest = 16;
        const bool ascii = std::all_of(utf8.begin(), utf8.end(), [](char c) { return uchar(c) < 0x80; });
        if (utf8.size() > longest || !ascii) {
            out = s.textOf(utf8);
            return true;
        }
        for (const Time& time : times)
            if (!time.text.isNull() && time.utf8 == utf8) {
                out = time.text;
                return true;
            }
        out = QString::fromLatin1(utf8.data(), qsizetype(utf8.size()));
        times[nextTime++ % times.size()] = {std::string(utf8), out};
        return true;
    }
};

// A key given twice counts with its last value, as in the document reading: each field is set
// afresh from its key's value, so a later one replaces an earlier one whole.
bool scanTaskItem(JsonScanner& s, TaskItem& t, Scratch& scratch)
{
    enum : unsigned { id = 1, title = 2, time = 4, priority = 8, isCompleted = 16, createdAt = 32 };
    if (!s.enterObject())
        return false;
    unsigned seen = 0;
    bool hasUpdatedAt = false;
    bool first = true;
    std::string_view key;
    while (s.nextKey(first, key)) {
        bool read = false;
        // An optional key holding null is absent.
        const auto optional = [&s](auto& field, auto readValue) {
            field.reset();
            return s.isNull() || (s.ok() && readValue(field.emplace()));
        };
        const auto required = [&seen](unsigned bit, bool read) {
            seen |= bit;
            return read;
        };
        if (key == "id") {
            read = required(id, scanUuid(s, t.id));
        } else if (key == "title") {
            read = required(title, s.readText(t.title));
        } else if (key == "time") {
            read = required(time, scratch.readTime(s, t.time));
        } else if (key == "priority") {
            read = required(priority, scanRaw(s, t.priority, TaskItem::priorityFromRaw));
        } else if (key == "isCompleted") {
            read = required(isCompleted, s.readBool(t.isCompleted));
        } else if (key == "createdAt") {
            read = required(createdAt, scanDate(s, t.createdAt));
        } else if (key == "dueDate") {
            read = optional(t.dueDate, [&s](Date& d) { return scanDate(s, d); });
        } else if (key == "updatedAt") {
            hasUpdatedAt = !s.isNull();
            read = hasUpdatedAt ? scanDate(s, t.updatedAt) : s.ok();
        } else if (key == "reminderDate") {
            read = optional(t.reminderDate, [&s](Date& d) { return scanDate(s, d); });
        } else if (key == "notes") {
            read = optional(t.notes, [&s](QString& text) { return s.readText(text); });
        } else if (key == "recurringSeriesId") {
            read = optional(t.recurringSeriesId, [&s](QUuid& series) { return scanUuid(s, series); });
        } else if (key == "repeatOption") {
            t.repeatOption = RepeatOption::none;
            read = s.isNull() || (s.ok() && scanRaw(s, t.repeatOption, repeatOptionFromRaw));
        } else if (key == "subtasks") {
            t.subtasks.clear();
            read = s.isNull();
            if (!read && s.ok() && s.enterArray()) {
                std::vector<Subtask>& steps = scratch.steps;
                steps.clear();
                read = true;
                for (bool firstStep = true; read && s.nextElement(firstStep);)
                    read = scanSubtask(s, steps.emplace_back());
                read = read && s.ok();
                t.subtasks.assign(std::make_move_iterator(steps.begin()), std::make_move_iterator(steps.end()));
            }
        } else {
            read = s.skipValue();
        }
        if (!read) {
            s.fail();
            return false;
        }
    }
    constexpr unsigned all = id | title | time | priority | isCompleted | createdAt;
    if (!s.ok() || seen != all)
        return false;
    if (!hasUpdatedAt)
        t.updatedAt = t.createdAt;
    return true;
}

using Elements = TodosTextReading::Elements;

// Reads to-dos up to the end of the list, or up to the one whose text begins at `stopAt`. A to-do's
// text runs from just past the '[' or ',' before it, white space included, as the writer writes it.
Elements scanElements(JsonScanner& s, bool first, qsizetype stopAt, std::vector<TaskItem>& out,
                      std::vector<TextSpan>* spans)
{
    Scratch scratch;
    qsizetype afterPrevious = s.offset();
    for (bool isFirst = first; s.nextElement(first); isFirst = first) {
        const qsizetype start = isFirst ? afterPrevious : s.offset();
        if (start == stopAt)
            return Elements::reachedStop;
        if (!scanTaskItem(s, out.emplace_back(), scratch))
            return Elements::failed;
        if (spans)
            spans->emplace_back(start, s.offset() - start);
        afterPrevious = s.offset();
    }
    return s.atEnd() ? Elements::ended : Elements::failed;
}

// Just past a "}," before a '{' from `from` on: where a to-do's text would begin, were it not
// inside a string or a to-do's steps. Steps are objects too, and every to-do with steps holds
// such a boundary between them, so a '{' that opens with "createdAt" (a to-do's first key as
// written, which no step has) is taken where one comes soon; else the first boundary found. Only
// the reading of the part before arriving there exactly proves it is a to-do's start.
qsizetype likelyElementStart(QByteArrayView text, qsizetype from)
{
    const auto space = [&](qsizetype i) {
        const char c = text[i];
        return c == ' ' || c == '\n' || c == '\r' || c == '\t';
    };
    constexpr QByteArrayView firstKey = "\"createdAt\"";
    constexpr qsizetype lookAhead = 64 * 1024;
    qsizetype firstFound = -1;
    for (qsizetype i = text.indexOf('}', from); i >= 0; i = text.indexOf('}', i + 1)) {
        if (firstFound >= 0 && i - firstFound > lookAhead)
            break;
        qsizetype k = i + 1;
        while (k < text.size() && space(k))
            ++k;
        if (k >= text.size() || text[k] != ',')
            continue;
        const qsizetype afterComma = ++k;
        while (k < text.size() && space(k))
            ++k;
        if (k >= text.size() || text[k] != '{')
            continue;
        if (firstFound < 0)
            firstFound = afterComma;
        ++k;
        while (k < text.size() && space(k))
            ++k;
        if (text.sliced(k).startsWith(firstKey))
            return afterComma;
    }
    return firstFound;
}

} // namespace

std::optional<std::vector<TaskItem>> decodeTodosFileText(QByteArrayView text)
{
    return decodeTodosFileText(text, nullptr);
}

std::optional<std::vector<TaskItem>> decodeTodosFileText(QByteArrayView text, std::vector<TextSpan>* spans)
{
    // Ten thousand to-dos take one thread tens of milliseconds, and the window waits for them.
    constexpr qsizetype splitFrom = 256 * 1024;
    return decodeTodosFileText(text, spans, splitFrom);
}

std::vector<qsizetype> todosTextPartStarts(QByteArrayView text, int parts)
{
    std::vector<qsizetype> starts;
    for (int k = 1; k < parts; ++k) {
        const qsizetype from = std::max(text.size() / parts * k, starts.empty() ? 0 : starts.back() + 1);
        const qsizetype start = likelyElementStart(text, from);
        if (start < 0)
            break;
        starts.push_back(start);
    }
    return starts;
}

std::optional<std::vector<TaskItem>> decodeTodosFileText(QByteArrayView text, std::vector<TextSpan>* spans,
                                                         qsizetype splitFrom)
{
    // More threads than this would wait on one another's memory more than they save.
    constexpr int mostParts = 4;
    const int parts = splitFrom <= 0 ? mostParts : int(std::clamp<qsizetype>(text.size() / splitFrom, 1, mostParts));
    TodosTextReading reading(text, parts, spans != nullptr);
    std::vector<std::jthread> readers;
    for (size_t k = 1; k < reading.parts(); ++k)
        readers.emplace_back([&reading] { reading.readParts(); });
    return reading.finish(spans);
}

TodosTextReading::TodosTextReading(QByteArrayView text, int parts, bool withSpans, bool withCopies)
    : m_text(text), m_withSpans(withSpans), m_withCopies(withCopies)
{
    // Not a list at all: the first part finds it out at once, and there is nothing to share.
    JsonScanner s(text);
    s.skipByteOrderMark();
    if (s.enterArray())
        m_starts = todosTextPartStarts(text, parts);
    m_parts.resize(m_starts.size() + 1);
    m_count = m_parts.size();
}

void TodosTextReading::readParts()
{
    for (size_t k = m_next++; k < m_count; k = m_next++) {
        readPart(k);
        {
            const std::lock_guard lock(m_mutex);
            ++m_read;
        }
        m_partRead.notify_all();
    }
}

void TodosTextReading::readPart(size_t k)
{
    Part& part = m_parts[k];
    JsonScanner s = k == 0 ? JsonScanner(m_text) : JsonScanner(m_text, m_starts[k - 1]);
    if (k == 0)
        s.skipByteOrderMark();
    if (k == 0 && !s.enterArray())
        return;
    const qsizetype stop = k < m_starts.size() ? m_starts[k] : -1;
    // Room for the part's to-dos at once, so that none is moved as the list grows: hardly a
    // to-do's text is shorter than this, and room not used takes no memory.
    constexpr qsizetype shortestTodo = 128;
    const qsizetype bytes = (stop < 0 ? m_text.size() : stop) - (k == 0 ? 0 : m_starts[k - 1]);
    part.items.reserve(size_t(bytes / shortestTodo + 1));
    part.read = scanElements(s, true, stop, part.items, m_withSpans ? &part.spans : nullptr);
    if (m_withCopies && part.read != Elements::failed)
        part.copies = part.items;
}

std::optional<std::vector<TaskItem>> TodosTextReading::finish(std::vector<TextSpan>* spans,
                                                              std::vector<std::vector<TaskItem>>* copies)
{
    readParts();
    {
        std::unique_lock lock(m_mutex);
        m_partRead.wait(lock, [this] { return m_read == m_count; });
    }
    // Each part that the reading before it arrived at exactly begins where a to-do does, and reads
    // as the one pass would have; a reading that ran past a guessed start read the rest itself.
    size_t used = 1;
    while (used < m_parts.size() && m_parts[used - 1].read == Elements::reachedStop)
        ++used;
    const Elements read = m_parts[used - 1].read;
    if (read != Elements::ended) {
        m_parts.clear();
        return std::nullopt;
    }
    // Room for all of them at once: a to-do moved is not cheap, and growing the list part by
    // part would move the ones before again at each part. Room too for the to-dos a person adds
    // meanwhile: a full list would move every one of them to a larger one on the first.
    size_t count = 0;
    for (size_t k = 0; k < used; ++k)
        count += m_parts[k].items.size();
    std::vector<TaskItem> out;
    out.reserve(count + count / 16 + 64);
    if (spans)
        spans->reserve(spans->size() + count);
    for (size_t k = 0; k < used; ++k) {
        Part& part = m_parts[k];
        std::move(part.items.begin(), part.items.end(), std::back_inserter(out));
        if (spans)
            spans->insert(spans->end(), part.spans.begin(), part.spans.end());
        if (copies)
            copies->push_back(std::move(part.copies));
    }
    m_parts.clear();
    return out;
}

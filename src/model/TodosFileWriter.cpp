#include "model/TodosFileWriter.h"

#include "model/JsonWriter.h"

#include <QHash>
#include <cstring>
#include <iterator>
#include <utility>

namespace {

// Where the to-do at `i` ends in a text in the writer's own form whose to-dos start at `starts`.
qsizetype endIn(const QByteArray& text, const std::vector<qsizetype>& starts, size_t i)
{
    return i + 1 < starts.size() ? starts[i + 1] - 1 : text.size() - 3;
}

} // namespace

QByteArray TodosFileWriter::write(const TaskItem& item)
{
    JsonTextWriter w;
    w.continueArray();
    writeTaskItem(w, item);
    return w.take();
}

void TodosFileWriter::adopt(std::vector<TaskItem> list, const QByteArray& text, const std::vector<TextSpan>& spans)
{
    std::vector<std::vector<TaskItem>> parts(1);
    parts.front() = std::move(list);
    adopt(std::move(parts), text, spans);
}

void TodosFileWriter::adopt(std::vector<std::vector<TaskItem>> parts, const QByteArray& text,
                            const std::vector<TextSpan>& spans)
{
    ++m_uses;
    m_items.clear();
    m_adoptedParts.clear();
    m_texts.clear();
    m_starts.clear();
    m_text.clear();
    m_adopted.clear();
    m_inText = false;
    size_t count = 0;
    for (const std::vector<TaskItem>& part : parts)
        count += part.size();
    if (spans.size() != count)
        return;
    for (const auto& [start, length] : spans)
        if (start < 0 || length <= 0 || start + length > text.size())
            return;
    bool oneForm = !text.isEmpty() && text.front() == '[' && text.endsWith("\n]\n") &&
                   (spans.empty() ? text.size() == 4 : spans.front().first == 1);
    for (size_t i = 0; oneForm && i < spans.size(); ++i) {
        const qsizetype next = i + 1 < spans.size() ? spans[i + 1].first - 1 : text.size() - 3;
        oneForm = spans[i].first + spans[i].second == next && (i + 1 == spans.size() || text.at(next) == ',');
    }
    if (parts.size() == 1)
        m_items = std::move(parts.front());
    else
        m_adoptedParts = std::move(parts);
    if (oneForm) {
        // Not copied: once the reader lets go of it, the first change is made in it.
        m_text = text;
        m_inText = true;
        m_texts.resize(count);
        m_starts.reserve(count);
        for (const TextSpan& span : spans)
            m_starts.push_back(span.first);
        return;
    }
    // Not copied either: the adopted text is kept as long as any of it may be written again.
    m_adopted = text;
    m_texts.reserve(count);
    for (const auto& [start, length] : spans)
        m_texts.push_back(QByteArray::fromRawData(m_adopted.constData() + start, length));
}

void TodosFileWriter::joinAdoptedParts()
{
    if (m_adoptedParts.empty())
        return;
    size_t count = 0;
    for (const std::vector<TaskItem>& part : m_adoptedParts)
        count += part.size();
    m_items.reserve(count);
    for (std::vector<TaskItem>& part : m_adoptedParts)
        std::move(part.begin(), part.end(), std::back_inserter(m_items));
    m_adoptedParts.clear();
}

QByteArray TodosFileWriter::takeTextsApart()
{
    QByteArray last = std::exchange(m_text, QByteArray());
    if (m_inText) {
        for (size_t i = 0; i < m_texts.size(); ++i)
            m_texts[i] =
                QByteArray::fromRawData(last.constData() + m_starts[i], endIn(last, m_starts, i) - m_starts[i]);
        m_inText = false;
    }
    return last;
}

QByteArray TodosFileWriter::text(const std::vector<TaskItem>& list)
{
    ++m_uses;
    joinAdoptedParts();
    m_compared = m_writtenAfresh = 0;
    // The kept texts are read out of the last text, which stays until the new one is made.
    QByteArray last = takeTextsApart();
    // Most saves change a to-do in place: then the kept texts are met in the same order. Otherwise
    // (to-dos added, removed or moved) they are found by id and the kept list rebuilt.
    const bool inPlace =
        m_items.size() == list.size() && std::equal(list.begin(), list.end(), m_items.begin(),
                                                    [](const TaskItem& t, const TaskItem& w) { return t.id == w.id; });
    if (inPlace) {
        for (size_t i = 0; i < list.size(); ++i) {
            ++m_compared;
            if (!(m_items[i] == list[i])) {
                m_items[i] = list[i];
                m_texts[i] = QByteArray();
            }
        }
    } else {
        QHash<QUuid, size_t> byId;
        byId.reserve(static_cast<qsizetype>(m_items.size()));
        for (size_t i = 0; i < m_items.size(); ++i)
            byId.insert(m_items[i].id, i);
        std::vector<TaskItem> items;
        std::vector<QByteArray> texts;
        items.reserve(list.size());
        texts.reserve(list.size());
        for (const TaskItem& t : list) {
            const size_t at = byId.value(t.id, m_items.size());
            // Taken at most once: an id listed twice is written afresh the second time.
            ++m_compared;
            if (at < m_items.size() && !m_texts[at].isNull() && m_items[at] == t) {
                items.push_back(std::move(m_items[at]));
                texts.push_back(std::exchange(m_texts[at], QByteArray()));
            } else {
                items.push_back(t);
                texts.emplace_back();
            }
        }
        m_items = std::move(items);
        m_texts = std::move(texts);
    }
    return assemble(std::move(last));
}

bool TodosFileWriter::edit(size_t baseSize, const std::optional<TaskItem>& inserted,
                           const std::vector<std::pair<size_t, TaskItem>>& replaced,
                           const std::vector<std::pair<size_t, QUuid>>& removed)
{
    joinAdoptedParts();
    if (m_items.size() != baseSize)
        return false;
    // Every place looked at before anything changes: an edit that does not fit leaves the list
    // as it was.
    const size_t shift = inserted ? 1 : 0;
    const auto idAt = [&](size_t at) -> std::optional<QUuid> {
        if (inserted && at == 0)
            return inserted->id;
        if (at - shift < m_items.size())
            return m_items[at - shift].id;
        return std::nullopt;
    };
    for (const auto& [at, t] : replaced)
        if (idAt(at) != t.id)
            return false;
    for (size_t i = 0; i < removed.size(); ++i)
        if (idAt(removed[i].first) != removed[i].second || (i > 0 && removed[i].first <= removed[i - 1].first))
            return false;
    ++m_uses;
    m_compared = replaced.size() + shift;
    m_writtenAfresh = 0;
    m_text = takeTextsApart();
    if (inserted) {
        m_items.insert(m_items.begin(), *inserted);
        m_texts.insert(m_texts.begin(), QByteArray());
    }
    for (const auto& [at, t] : replaced) {
        m_items[at] = t;
        m_texts[at] = QByteArray();
    }
    if (!removed.empty()) {
        size_t kept = 0, next = 0;
        for (size_t i = 0; i < m_items.size(); ++i) {
            if (next < removed.size() && removed[next].first == i) {
                ++next;
                continue;
            }
            if (kept != i) {
                m_items[kept] = std::move(m_items[i]);
                m_texts[kept] = std::move(m_texts[i]);
            }
            ++kept;
        }
        m_items.resize(kept);
        m_texts.resize(kept);
    }
    return true;
}

QByteArray TodosFileWriter::heldText()
{
    ++m_uses;
    joinAdoptedParts();
    return assemble(takeTextsApart());
}

QByteArray TodosFileWriter::assemble(QByteArray last)
{
    // Written into the room of the text before the last: a fresh buffer of this size would come
    // from the system as new pages, each faulted in and cleared, on every save.
    QByteArray& out = m_text;
    out = std::exchange(m_spare, QByteArray());
    out.resize(0);
    out.reserve(static_cast<qsizetype>(m_items.size()) * 640 + 16);
    qsizetype size = 1 + 3;
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (m_texts[i].isNull()) {
            m_texts[i] = write(m_items[i]);
            ++m_writtenAfresh;
        }
        size += m_texts[i].size() + (i > 0 ? 1 : 0);
    }
    // Copied in place, without an append's bookkeeping for each of ten thousand pieces.
    out.resize(size);
    m_starts.resize(m_items.size());
    char* at = out.data();
    *at++ = '[';
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (i > 0)
            *at++ = ',';
        const QByteArray& text = m_texts[i];
        m_starts[i] = at - out.constData();
        std::memcpy(at, text.constData(), size_t(text.size()));
        at += text.size();
    }
    std::memcpy(at, "\n]\n", 3);
    // Every to-do's text now lies in the new text: the pieces, and what they were read from, go.
    for (QByteArray& text : m_texts)
        text = QByteArray();
    m_inText = true;
    m_adopted.clear();
    m_spare = std::move(last);
    return out;
}

size_t TodosFileWriter::listSize() const
{
    size_t count = m_items.size();
    for (const std::vector<TaskItem>& part : m_adoptedParts)
        count += part.size();
    return count;
}

QByteArray TodosFileWriter::textChangedAt(const std::vector<TaskItem>& list, size_t index)
{
    if (index < list.size())
        if (std::optional<QByteArray> changed = textReplacing(list.size(), index, list[index]))
            return *changed;
    return text(list);
}

std::optional<QByteArray> TodosFileWriter::textReplacing(size_t count, size_t index, const TaskItem& item)
{
    joinAdoptedParts();
    if (!m_inText || m_items.size() != count || index >= count || m_items[index].id != item.id)
        return std::nullopt;
    ++m_uses;
    m_compared = 1;
    m_writtenAfresh = 0;
    if (m_items[index] == item)
        return m_text;
    const QByteArray fresh = write(item);
    m_writtenAfresh = 1;
    const qsizetype start = m_starts[index];
    const qsizetype oldEnd = endIn(m_text, m_starts, index);
    const qsizetype newLength = fresh.size();
    const qsizetype grown = start + newLength - oldEnd;
    const qsizetype size = m_text.size() + grown;
    if (m_text.isDetached()) {
        // In place: only what follows the to-do moves, and only when its length changed. A text
        // that outgrows its room is moved by the allocator, which for one this large remaps its
        // pages rather than copying them.
        if (grown > 0)
            m_text.resize(size);
        char* data = m_text.data();
        std::memmove(data + start + newLength, data + oldEnd, size_t(size - start - newLength));
        std::memcpy(data + start, fresh.constData(), size_t(newLength));
        if (grown < 0)
            m_text.resize(size);
    } else {
        // Someone else still holds the text (a save on its way, or the reader it came from): one
        // copy, with room for the changes that follow.
        QByteArray changed;
        changed.reserve(size + size / 64 + 1024);
        changed.append(QByteArrayView(m_text).first(start));
        changed.append(fresh);
        changed.append(QByteArrayView(m_text).sliced(oldEnd));
        m_text = std::move(changed);
    }
    for (size_t i = index + 1; i < m_starts.size(); ++i)
        m_starts[i] += grown;
    m_items[index] = item;
    return m_text;
}

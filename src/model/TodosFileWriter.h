#pragma once

#include "model/TaskItem.h"

#include <QByteArray>
#include <QUuid>
#include <optional>
#include <utility>
#include <vector>

// The text of "todos.json", written again only for the to-dos that differ from the last list it
// was given: saving after one change then costs little more than copying the file's bytes.
class TodosFileWriter {
public:
    QByteArray text(const std::vector<TaskItem>& list);
    // The same, for a caller that knows `list` is the last list given but for the to-do at
    // `index`: only that one is looked at, and its new text put in place of its old one. A list
    // of another length, or another to-do at that place, is taken as text() takes it.
    QByteArray textChangedAt(const std::vector<TaskItem>& list, size_t index);
    // The same without the list: the last list given, of `count` to-dos, with `item` in place of
    // the to-do of the same id at `index`. None when the writer cannot tell that it holds such a
    // list in its own form.
    std::optional<QByteArray> textReplacing(size_t count, size_t index, const TaskItem& item);
    // Changes the last list given in place, the way its holder changed its own copy: `inserted`
    // put first, then the to-dos at the places of `replaced` (ids unchanged) replaced, then those
    // at the places of `removed` (ascending, places after the insertion) taken out. Every other
    // to-do keeps its text and is neither copied nor compared. False, with nothing changed, when
    // the list is not of `baseSize` to-dos or a place does not hold that id.
    bool edit(size_t baseSize, const std::optional<TaskItem>& inserted,
              const std::vector<std::pair<size_t, TaskItem>>& replaced,
              const std::vector<std::pair<size_t, QUuid>>& removed);
    // The text of the list held: after edit(), only the to-dos it put in are written afresh.
    QByteArray heldText();
    // The length of the last list given (or adopted).
    size_t listSize() const;
    // Takes the file a list was just read from as the last text given: the first save after a
    // load then writes afresh only the to-dos that changed, and keeps the others as they were read
    // (each reads back as the same to-do, the way it did at the load).
    // The list is taken as it is: a caller with a copy of its own to spare moves it in.
    void adopt(std::vector<TaskItem> list, const QByteArray& text, const std::vector<TextSpan>& spans);
    // The same for a list read in parts, one after another: they are put together only when the
    // writer first needs them, so a start that reads a long list does not wait for that.
    void adopt(std::vector<std::vector<TaskItem>> parts, const QByteArray& text, const std::vector<TextSpan>& spans);
    // Counts the texts made and the files adopted: a caller that noted it can tell whether
    // anyone else has used the writer since.
    quint64 uses() const { return m_uses; }
    // What the last text cost: the to-dos compared with the ones kept, and those written afresh.
    size_t lastCompared() const { return m_compared; }
    size_t lastWrittenAfresh() const { return m_writtenAfresh; }

private:
    static QByteArray write(const TaskItem& item);
    void joinAdoptedParts();
    // Each kept to-do's text as a piece of its own (read out of m_text while it lies there), and
    // the last text, which those pieces may point into: it must stay until the next is made.
    QByteArray takeTextsApart();
    // The text of m_items from their texts, a null one written afresh; `last` becomes the spare.
    QByteArray assemble(QByteArray last);
    // The last list given, and each to-do's text, null while it lies in m_text (m_inText). Apart,
    // so that a list adopted is kept as it is, not moved to-do by to-do.
    std::vector<TaskItem> m_items;
    std::vector<std::vector<TaskItem>> m_adoptedParts; // m_items as adopted, until first needed
    std::vector<QByteArray> m_texts;
    QByteArray m_text;
    // The last text is "[", the to-dos one after another with a comma between, and "\n]\n", the
    // way this writer makes them, and each kept to-do's text is read from it where it starts: a
    // change of one to-do is put straight into it, and no to-do's text is held twice.
    bool m_inText = false;
    std::vector<qsizetype> m_starts;
    QByteArray m_adopted; // a load's text in another form, which the kept texts point into
    QByteArray m_spare;   // the text before the last, whose room the next full text is written into
    quint64 m_uses = 0;
    size_t m_compared = 0, m_writtenAfresh = 0;
};

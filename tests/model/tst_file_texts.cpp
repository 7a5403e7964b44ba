#include "TestEnvironment.h"
#include "model/Iso8601.h"
#include "model/Note.h"
#include "model/TaskItem.h"
#include "model/TodosFileReading.h"
#include "model/TodosFileWriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>
#include <limits>
#include <thread>

// The one-pass reading of the list files must never read a file differently from the document
// path it stands in for: whatever it takes, it takes exactly; whatever it doubts, it leaves.
namespace {

TaskItem sample(const QString& title, Date at)
{
    TaskItem t;
    t.id = QUuid::createUuid();
    t.title = title;
    t.time = QStringLiteral("9:30 AM");
    t.createdAt = at;
    t.updatedAt = at + 5;
    return t;
}

// `count` to-dos a second apart, as a list of the tests below starts.
std::vector<TaskItem> samples(int count, Date at)
{
    std::vector<TaskItem> list;
    for (int i = 0; i < count; ++i)
        list.push_back(sample(QStringLiteral("To-do %1").arg(i), at + i));
    return list;
}

// The text of "todos.json" holding `list`, as the store writes it or indented by another program.
QByteArray fileText(const std::vector<TaskItem>& list, bool indented)
{
    const QByteArray text = todosFileText(list);
    return indented ? QJsonDocument::fromJson(text).toJson(QJsonDocument::Indented) : text;
}

QByteArray storedTodos()
{
    const Date at = TestEnvironment::at(2026, 12, 7, 10, 0, 0);
    TaskItem full = sample(QStringLiteral("Café ☕ 😀 a/b \"quoted\" \\ \x01 tab\there"), at);
    full.notes = QStringLiteral("line one\nline two");
    full.dueDate = at + 86400;
    full.reminderDate = at + 3600;
    full.priority = TaskItem::Priority::high;
    full.isCompleted = true;
    full.repeatOption = RepeatOption::weekly;
    full.recurringSeriesId = QUuid::createUuid();
    full.subtasks = {{QUuid::createUuid(), QStringLiteral("Step é"), true}, {QUuid::createUuid(), QString(), false}};
    return todosFileText({full, sample(QString(), -86400.0 * 400), sample(QStringLiteral("plain"), at)});
}

// A to-do's required keys with the given text spliced in before them.
QByteArray todo(const char* extra)
{
    return QByteArray("{") + extra +
           R"("createdAt":"2026-12-07T15:00:00Z","id":"0F8FAD5B-D9CB-469F-A165-70867728950E",)"
           R"("isCompleted":false,"priority":"low","time":"Anytime","title":"T"})";
}

// `count` to-dos whose titles are `title` followed by their number, each with `steps` steps.
std::vector<TaskItem> manyTodos(int count, const QString& title, int steps = 0)
{
    std::vector<TaskItem> list;
    const Date at = TestEnvironment::at(2026, 12, 7, 10, 0, 0);
    for (int i = 0; i < count; ++i) {
        list.push_back(sample(title + QString::number(i), at + i));
        for (int k = 0; k < steps; ++k)
            list.back().subtasks.push_back({QUuid::createUuid(), QStringLiteral("Step %1").arg(k), k % 2 == 0});
    }
    return list;
}

QByteArray indented(const std::vector<TaskItem>& list)
{
    QJsonArray array;
    for (const TaskItem& t : list)
        array.append(encodeTaskItem(t));
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

} // namespace

class TestFileTexts : public QObject {
    Q_OBJECT
private slots:
    void quickReadingAgreesWithTheDocument_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("notes");
        QTest::addColumn<bool>("quick"); // whether the quick reading is expected to take it
        QTest::newRow("to-dos as stored") << storedTodos() << false << true;
        QTest::newRow("compact, unknown keys")
            << "[" + todo(R"("extra":{"a":[1,-2.5,true,null,"x"]},"n":0,)") + "," + todo("") + "]" << false << true;
        QTest::newRow("null optionals")
            << "[" +
                   todo(R"("dueDate":null,"notes":null,"recurringSeriesId":null,"reminderDate":null,)"
                        R"("repeatOption":null,"subtasks":null,"updatedAt":null,)") +
                   "]"
            << false << true;
        QTest::newRow("escapes and offsets")
            << "[" + todo(R"("notes":"\ud83d\ude00 \/ \u00e9\n","dueDate":"2026-12-07T10:00:00+01:00",)") + "]" << false
            << true;
        QTest::newRow("empty list") << QByteArray(" [ ] \n") << false << true;
        QTest::newRow("duplicate key") << "[" + todo(R"("title":"first",)") + "]" << false << true;
        QTest::newRow("lone surrogate") << "[" + todo(R"("notes":"\ud83d",)") + "]" << false << false;
        QTest::newRow("trailing comma") << "[" + todo("") + ",]" << false << false;
        QTest::newRow("required key null") << "[" + todo("").replace(R"("T")", "null") + "]" << false << false;
        QTest::newRow("unknown priority") << "[" + todo("").replace("low", "urgent") + "]" << false << false;
        QTest::newRow("bad date") << "[" + todo(R"("dueDate":"2026-02-30T10:00:00Z",)") + "]" << false << false;
        QTest::newRow("overlong UTF-8") << "[" + todo("\"notes\":\"\xC0\xAF\",") + "]" << false << false;
        QTest::newRow("exponent") << "[" + todo(R"("n":1e3,)") + "]" << false << false;
        const auto timed = [](const QByteArray& time) {
            return QByteArray(todo("")).replace(R"("time":"Anytime")", "\"time\":\"" + time + "\"");
        };
        QTest::newRow("times shared between to-dos, and times that are not")
            << "[" + timed("Anytime") + "," + timed("9:30 AM") + "," + timed("Anytime") + "," + timed("9:30 AM") + "," +
                   timed("a time longer than sixteen") + "," + timed(R"(\u00e9t\u00e9)") + "," +
                   timed(R"(\ufeff9:30)") + "," +
                   timed("\xEF\xBB\xBF"
                         "9:30") +
                   "," + timed(R"(\u0041nytime)") + "," + timed("9:30 AM") + "]"
            << false << true;
        QTest::newRow("raw control character") << "[" + todo("\"notes\":\"a\x01\",") + "]" << false << true;

        const Note n{QUuid::createUuid(), QStringLiteral("Title ☕"), QStringLiteral("Body\n/"), 1.0e9, 1.0e9 + 7};
        QTest::newRow("notes as stored") << notesFileText({n, n}) << true << true;
        QTest::newRow("lenient note fields")
            << QByteArray(R"([{"id":"0f8fad5b-d9cb-469f-a165-70867728950e","title":5,"body":null,)"
                          R"("createdAt":"garbage","updatedAt":["x"]}])")
            << true << true;
        QTest::newRow("note without id") << QByteArray(R"([{"title":"t"}])") << true << false;
        QTest::newRow("notes: byte-order mark, keys twice, NUL, U+FEFF")
            << QByteArray("\xEF\xBB\xBF"
                          R"([{"id":"0f8fad5b-d9cb-469f-a165-70867728950e","title":"a","body":"\ufeff\u0000",)"
                          R"("title":5,"createdAt":"2026-12-07T15:00:00Z","createdAt":"x","updatedAt":null,)"
                          R"("body":"\ufeffb\u0000","id":"0f8fad5b-d9cb-469f-a165-70867728950f"}])")
            << true << true;
        QTest::newRow("priority opening with U+FEFF")
            << "[" + todo(R"("priority":"\ufeffhigh",)").replace(R"("priority":"low",)", "") + "]" << false << false;
    }
    void quickReadingAgreesWithTheDocument()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, notes);
        QFETCH(bool, quick);
        const QJsonDocument document = QJsonDocument::fromJson(text);
        if (notes) {
            const auto read = decodeNotesFileText(text);
            QCOMPARE(read.has_value(), quick);
            if (read)
                QVERIFY(!document.isNull() && decodeStrictList<Note>(document.array(), decodeNote, nullptr) == read);
        } else {
            const auto read = decodeTodosFileText(text);
            QCOMPARE(read.has_value(), quick);
            if (read)
                QVERIFY(!document.isNull() &&
                        decodeStrictList<TaskItem>(document.array(), decodeTaskItem, nullptr) == read);
        }
    }

    // What the document reading takes from a file with a byte-order mark, a NUL or a key given
    // twice, the quick reading takes too, and to the same to-do: the texts a person sees, the last
    // of two values, steps replaced whole.
    void quickReadingTakesWhatTheDocumentTakes_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("notes"); // "-" for none
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("shown"); // priority, repeat, due date, updated at creation
        const QByteArray bom = "\xEF\xBB\xBF";
        const QString nul(QChar(0));
        const QString feff(QChar(0xFEFF));
        const QString plain = QStringLiteral("low None - same");
        const auto list = [](const QByteArray& extra) { return "[" + QByteArray(todo("")).insert(1, extra) + "]"; };
        const auto titled = [&list](const QByteArray& title) {
            return list("").replace(R"("title":"T")", "\"title\":\"" + title + "\"");
        };
        QTest::newRow("byte-order mark before the list")
            << bom + list("") << QStringLiteral("T") << QStringLiteral("-") << QStringList() << plain;
        QTest::newRow("byte-order mark and white space")
            << bom + "\n  " + list("") + "\n"
            << QStringLiteral("T") << QStringLiteral("-") << QStringList() << plain;
        QTest::newRow("NUL escaped in the title")
            << titled(R"(a\u0000b)") << "a" + nul + "b" << QStringLiteral("-") << QStringList() << plain;
        QTest::newRow("NUL alone and last in the notes")
            << list(R"("notes":"x\u0000",)") << QStringLiteral("T") << "x" + nul << QStringList() << plain;
        QTest::newRow("NUL unescaped in the notes") << list(QByteArray("\"notes\":\"x\0y\",", 14))
                                                    << QStringLiteral("T") << "x" + nul + "y" << QStringList() << plain;
        QTest::newRow("NUL in a step's title")
            << list(
                   R"("subtasks":[{"id":"0F8FAD5B-D9CB-469F-A165-70867728950F","isCompleted":true,"title":"\u0000"}],)")
            << QStringLiteral("T") << QStringLiteral("-") << QStringList{nul} << plain;
        QTest::newRow("U+FEFF opening the title, escaped")
            << titled(R"(\ufeffx)") << feff + "x" << QStringLiteral("-") << QStringList() << plain;
        // The document reading drops one leading mark from a text without escapes, as a conversion
        // from UTF-8 does, and keeps every character of a text with escapes.
        QTest::newRow("U+FEFF opening the notes, unescaped")
            << list("\"notes\":\"" + bom + "n\",") << QStringLiteral("T") << QStringLiteral("n") << QStringList()
            << plain;
        QTest::newRow("U+FEFF opening the notes, twice, unescaped")
            << list("\"notes\":\"" + bom + bom + "n\",") << QStringLiteral("T") << feff + "n" << QStringList() << plain;
        QTest::newRow("U+FEFF opening the notes, unescaped, an escape later")
            << list("\"notes\":\"" + bom + "\\n\",") << QStringLiteral("T") << feff + "\n"
            << QStringList() << plain;
        QTest::newRow("U+FEFF inside the title, unescaped")
            << titled("a" + bom) << "a" + feff << QStringLiteral("-") << QStringList() << plain;
        QTest::newRow("noncharacters in the title") << titled("\\uffff\xEF\xB7\x90") << QStringLiteral("\uFFFF\uFDD0")
                                                    << QStringLiteral("-") << QStringList() << plain;
        QTest::newRow("title twice") << list(R"("title":"first",)") << QStringLiteral("T") << QStringLiteral("-")
                                     << QStringList() << plain;
        QTest::newRow("title twice, the second spelled with an escape")
            << list(R"("ti\u0074le":"second",)").replace(R"("title":"T")", R"("title":"T","ti\u0074le":"last")")
            << QStringLiteral("last") << QStringLiteral("-") << QStringList() << plain;
        QTest::newRow("priority twice") << list(R"("priority":"high",)") << QStringLiteral("T") << QStringLiteral("-")
                                        << QStringList() << plain;
        QTest::newRow("notes, then null") << list(R"("notes":"gone","notes":null,)") << QStringLiteral("T")
                                          << QStringLiteral("-") << QStringList() << plain;
        QTest::newRow("null, then notes") << list(R"("notes":null,"notes":"kept",)") << QStringLiteral("T")
                                          << QStringLiteral("kept") << QStringList() << plain;
        QTest::newRow("due date, then null, updated at, then null, repeat, then null")
            << list(R"("dueDate":"2026-12-08T00:00:00Z","dueDate":null,"updatedAt":"2026-12-09T00:00:00Z",)"
                    R"("updatedAt":null,"repeatOption":"Daily","repeatOption":null,)")
            << QStringLiteral("T") << QStringLiteral("-") << QStringList() << plain;
        QTest::newRow("null, then due date, repeat twice, updated at twice")
            << list(R"("dueDate":null,"dueDate":"2026-12-08T00:00:00Z","repeatOption":"Daily",)"
                    R"("repeatOption":"Weekly","updatedAt":"2026-12-07T15:00:00Z","updatedAt":"2026-12-09T00:00:00Z",)")
            << QStringLiteral("T") << QStringLiteral("-") << QStringList()
            << QStringLiteral("low Weekly 2026-12-08 later");
        const QByteArray stepA = R"({"id":"0F8FAD5B-D9CB-469F-A165-70867728950A","isCompleted":false,"title":"A"})";
        const QByteArray stepB = R"({"id":"0F8FAD5B-D9CB-469F-A165-70867728950B","isCompleted":true,"title":"B"})";
        QTest::newRow("steps twice: the second list whole")
            << list("\"subtasks\":[" + stepA + "," + stepB + "],\"subtasks\":[" + stepB + "],") << QStringLiteral("T")
            << QStringLiteral("-") << QStringList{QStringLiteral("B")} << plain;
        QTest::newRow("steps, then null") << list("\"subtasks\":[" + stepA + "],\"subtasks\":null,")
                                          << QStringLiteral("T") << QStringLiteral("-") << QStringList() << plain;
        QTest::newRow("a step's title and state twice")
            << list("\"subtasks\":[" +
                    QByteArray(stepA)
                        .replace(R"("title":"A")", R"("title":"A","title":"A2")")
                        .replace(R"("isCompleted":false)", R"("isCompleted":true,"isCompleted":false)") +
                    "],")
            << QStringLiteral("T") << QStringLiteral("-") << QStringList{QStringLiteral("A2")} << plain;
        QTest::newRow("unknown key twice, of other kinds")
            << list(R"("colour":[1,{"a":1,"a":2}],"colour":"red",)") << QStringLiteral("T") << QStringLiteral("-")
            << QStringList() << plain;
        QTest::newRow("all at once") << bom +
                                            list("\"title\":\"one\",\"notes\":\"\\u0000\xEF\xBB\xBF\",\"subtasks\":[" +
                                                 stepA + "],\"subtasks\":[" +
                                                 QByteArray(stepB).replace(R"("title":"B")",
                                                                           R"("title":"\u0000","title":"B\u0000")") +
                                                 "],\"priority\":\"medium\",")
                                                .replace(R"("title":"T")", R"("title":"T\u0000")")
                                     << "T" + nul << nul + feff << QStringList{"B" + nul} << plain;
    }
    void quickReadingTakesWhatTheDocumentTakes()
    {
        QFETCH(QByteArray, text);
        const std::optional<std::vector<TaskItem>> quick = decodeTodosFileText(text);
        QVERIFY2(quick && quick->size() == 1, "the quick reading gave up");
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(text, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(decodeStrictList<TaskItem>(document.array(), decodeTaskItem, nullptr), quick);

        const TaskItem& t = quick->front();
        QTEST(t.title, "title");
        QTEST(t.notes.value_or(QStringLiteral("-")), "notes");
        QStringList steps;
        for (const Subtask& step : t.subtasks)
            steps.append(step.title);
        QTEST(steps, "steps");
        const QString shown = QStringList{TaskItem::rawValue(t.priority), rawValue(t.repeatOption),
                                          t.dueDate ? Iso8601::format(*t.dueDate).left(10) : QStringLiteral("-"),
                                          t.updatedAt == t.createdAt ? QStringLiteral("same") : QStringLiteral("later")}
                                  .join(' ');
        QTEST(shown, "shown");
    }

    // A long list is read in parts at once; whatever the text, the result is the one pass's.
    void partsReadAsOnePass_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("quick");
        const std::vector<TaskItem> plain = manyTodos(300, QStringLiteral("Plain to-do "));
        QTest::newRow("compact, as stored") << todosFileText(plain) << true;
        QTest::newRow("indented, white space around the commas") << indented(plain) << true;
        QTest::newRow("to-dos with steps") << todosFileText(manyTodos(300, QStringLiteral("With steps "), 3)) << true;
        // The text between two to-dos also appears inside the titles, where it must not split.
        const std::vector<TaskItem> lookalike = manyTodos(300, QStringLiteral("a},{b }, {c},\n{ \"},{\" "));
        QTest::newRow("titles that look like a boundary") << todosFileText(lookalike) << true;
        QTest::newRow("titles that look like a boundary, indented") << indented(lookalike) << true;
        QTest::newRow("one to-do") << todosFileText(manyTodos(1, QStringLiteral("only"))) << true;
        QByteArray text = todosFileText(plain);
        QTest::newRow("byte-order mark before the list") << "\xEF\xBB\xBF" + text << true;
        QTest::newRow("every to-do with a key twice and a NUL")
            << QByteArray(text).replace("\"9:30 AM\"", "\"x\\u0000\",\"time\":\"9:30 AM\\u0000\"") << true;
        const qsizetype late = text.lastIndexOf("\"9:30 AM\"");
        QTest::newRow("unreadable to-do in the second half")
            << QByteArray(text).replace(late, 9, "\"9:30 AM\",\"title\":5") << false;
        const qsizetype early = text.indexOf("\"9:30 AM\"", 100);
        QTest::newRow("unreadable to-do in the first half") << QByteArray(text).replace(early, 9, "null") << false;
        QTest::newRow("text after the list") << text + "[]" << false;
        // A file cut short, as a full disk leaves one: every part after the cut ends nowhere.
        QTest::newRow("cut off in the middle") << text.left(text.size() / 2 + 7) << false;
        QTest::newRow("trailing comma") << QByteArray(text).insert(text.lastIndexOf(']'), ",") << false;
    }
    void partsReadAsOnePass()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, quick);
        std::vector<TextSpan> onePassSpans;
        const auto onePass = decodeTodosFileText(text, &onePassSpans, std::numeric_limits<qsizetype>::max());
        QCOMPARE(onePass.has_value(), quick);
        // Two parts, then as many as the reading takes.
        for (const qsizetype partBytes : {text.size() / 2, qsizetype(0)}) {
            std::vector<TextSpan> partsSpans;
            const auto parts = decodeTodosFileText(text, &partsSpans, partBytes);
            QCOMPARE(parts.has_value(), quick);
            if (!quick)
                continue;
            QCOMPARE(parts->size(), onePass->size());
            QVERIFY(*parts == *onePass);
            QVERIFY(partsSpans == onePassSpans);
            QCOMPARE(decodeTodosFileText(text, nullptr, partBytes), onePass);
        }
        // A reading shared with another thread, which reads alone first or alongside; its copies,
        // put together in order, are the list again.
        for (const bool first : {true, false}) {
            TodosTextReading reading(text, 7, true, true);
            std::thread other([&reading] { reading.readParts(); });
            if (first)
                other.join();
            std::vector<TextSpan> spans;
            std::vector<std::vector<TaskItem>> copies;
            const auto read = reading.finish(&spans, &copies);
            if (other.joinable())
                other.join();
            QCOMPARE(read, onePass);
            if (!quick)
                continue;
            QVERIFY(spans == onePassSpans);
            std::vector<TaskItem> joined;
            for (const std::vector<TaskItem>& part : copies)
                joined.insert(joined.end(), part.begin(), part.end());
            QVERIFY(joined == *onePass);
        }
    }

    // The parts are of use only when their guessed starts are to-dos' starts: a to-do's steps
    // hold the same boundary between objects, and a guess among them sent every part but the
    // first back to the one pass.
    void partsBeginAtTodos_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("parts");
        const std::vector<TaskItem> plain = manyTodos(200, QStringLiteral("Plain "));
        const std::vector<TaskItem> withSteps = manyTodos(200, QStringLiteral("Steps "), 4);
        QTest::newRow("plain, as stored, halves") << todosFileText(plain) << 2;
        QTest::newRow("plain, indented, four parts") << indented(plain) << 4;
        QTest::newRow("with steps, as stored, halves") << todosFileText(withSteps) << 2;
        QTest::newRow("with steps, as stored, four parts") << todosFileText(withSteps) << 4;
        QTest::newRow("with steps, indented, four parts") << indented(withSteps) << 4;
        std::vector<TaskItem> someSteps = plain;
        for (size_t i = 0; i < someSteps.size(); i += 7)
            someSteps[i].subtasks = withSteps[i].subtasks;
        QTest::newRow("steps on some, as stored, three parts") << todosFileText(someSteps) << 3;
    }
    void partsBeginAtTodos()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, parts);
        std::vector<TextSpan> spans;
        QVERIFY(decodeTodosFileText(text, &spans, std::numeric_limits<qsizetype>::max()));
        const std::vector<qsizetype> starts = todosTextPartStarts(text, parts);
        QCOMPARE(int(starts.size()), parts - 1);
        for (const qsizetype start : starts)
            QVERIFY2(std::any_of(spans.begin(), spans.end(), [&](const TextSpan& s) { return s.first == start; }),
                     qPrintable(QStringLiteral("no to-do begins at %1").arg(start)));
    }

    // Each step changes the list the way the store does; the kept texts must never show through.
    void keptTextsMatchAFreshWrite()
    {
        const Date at = TestEnvironment::at(2026, 12, 7, 10, 0, 0);
        std::vector<TaskItem> list = samples(4, at);
        TodosFileWriter writer;
        const std::vector<std::function<void()>> steps = {
            [] {},
            [&] { list[1].isCompleted = true; }, // a toggle, the same second
            [&] {
                list[2].subtasks.push_back({QUuid::createUuid(), QStringLiteral("Step"), false});
            },
            [&] { list[2].subtasks[0].isCompleted = true; }, // a step within a kept to-do
            [&] { list.insert(list.begin(), sample(QStringLiteral("New"), at)); },
            [&] { list.erase(list.begin() + 2); },
            [&] { list.push_back(list[0]); }, // the same id twice
            [&] { list.back().title = QStringLiteral("Changed copy"); },
            [&] { list.clear(); },
        };
        for (size_t i = 0; i < steps.size(); ++i) {
            steps[i]();
            QVERIFY2(writer.text(list) == todosFileText(list), qPrintable(QStringLiteral("step %1").arg(i)));
        }
    }

    // A change of one to-do known to the caller costs one comparison and one to-do written; a list
    // that is not the last one but for that to-do (another length, another to-do at that place)
    // falls back to comparing them all. Either way the text reads back as the list, and a text
    // given out before keeps its bytes.
    void oneChangeWritesOneToDo_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("compared");
        QTest::addColumn<int>("afresh");
        QTest::newRow("a toggle after a text") << "written"
                                               << "toggle" << 2 << 1 << 1;
        QTest::newRow("a toggle after a load") << "adopted"
                                               << "toggle" << 0 << 1 << 1;
        QTest::newRow("a toggle after a load, the reader gone") << "adopted alone"
                                                                << "toggle" << 2 << 1 << 1;
        QTest::newRow("a longer title after a load, the reader gone") << "adopted alone"
                                                                      << "longer" << 4 << 1 << 1;
        QTest::newRow("the last to-do") << "written"
                                        << "toggle" << 4 << 1 << 1;
        QTest::newRow("a longer title") << "written"
                                        << "longer" << 1 << 1 << 1;
        QTest::newRow("a shorter title") << "adopted"
                                         << "shorter" << 3 << 1 << 1;
        QTest::newRow("nothing changed") << "adopted"
                                         << "none" << 2 << 1 << 0;
        QTest::newRow("a toggle after a load read in parts") << "adopted in parts"
                                                             << "toggle" << 3 << 1 << 1;
        QTest::newRow("the list grew after a load read in parts") << "adopted in parts"
                                                                  << "grown" << 0 << 6 << 1;
        QTest::newRow("a load indented by another program") << "indented"
                                                            << "toggle" << 2 << 1 << 1;
        QTest::newRow("the list grew") << "written"
                                       << "grown" << 0 << 6 << 1;
        QTest::newRow("another to-do at that place") << "adopted"
                                                     << "swapped" << 1 << 5 << 0;
    }
    void oneChangeWritesOneToDo()
    {
        QFETCH(QString, start);
        QFETCH(QString, change);
        QFETCH(int, index);
        QFETCH(int, compared);
        QFETCH(int, afresh);
        const Date at = TestEnvironment::at(2026, 12, 7, 10, 0, 0);
        std::vector<TaskItem> list = samples(5, at);
        TodosFileWriter writer;
        const QByteArray text = fileText(list, start == QLatin1String("indented"));
        std::vector<TextSpan> spans;
        const std::optional<std::vector<TaskItem>> loaded = decodeTodosFileText(text, &spans);
        QVERIFY(loaded && *loaded == list);
        if (start == QLatin1String("written"))
            writer.text(list);
        else if (start == QLatin1String("adopted alone")) // the writer holds the only copy
            writer.adopt(*loaded, QByteArray(text.constData(), text.size()), spans);
        else if (start == QLatin1String("adopted in parts")) // one of them empty
            writer.adopt(std::vector<std::vector<TaskItem>>{{loaded->begin(), loaded->begin() + 2},
                                                            {},
                                                            {loaded->begin() + 2, loaded->end()}},
                         text, spans);
        else
            writer.adopt(*loaded, text, spans);
        const size_t i = size_t(index);
        if (change == QLatin1String("toggle"))
            list[i].isCompleted = !list[i].isCompleted;
        else if (change == QLatin1String("longer"))
            list[i].title += QStringLiteral(" with more words");
        else if (change == QLatin1String("shorter"))
            list[i].title = QStringLiteral("S");
        else if (change == QLatin1String("grown"))
            list.insert(list.begin(), sample(QStringLiteral("New"), at));
        else if (change == QLatin1String("swapped"))
            std::swap(list[1], list[2]);
        const QByteArray changed = writer.textChangedAt(list, i);
        QCOMPARE(int(writer.lastCompared()), compared);
        QCOMPARE(int(writer.lastWrittenAfresh()), afresh);
        // A second change further on finds its to-do where the first change left it.
        const size_t next = (i + 1) % list.size();
        list[next].title = QStringLiteral("Second change");
        const QByteArray again = writer.textChangedAt(list, next);
        QCOMPARE(int(writer.lastWrittenAfresh()), 1);
        QVERIFY(decodeTodosFileText(changed) != list); // still held, so not changed under its holder
        QVERIFY(decodeTodosFileText(again) == list);
        if (start != QLatin1String("indented"))
            QVERIFY(again == todosFileText(list));
    }

    // Edits made in the writer's own list, as the store sends them: each text reads back as the
    // list the store holds, only the to-dos put in are written, and an edit that does not fit the
    // list (a wrong length, another to-do at a place) changes nothing.
    void editsInPlaceMatchTheList_data()
    {
        QTest::addColumn<QString>("start");
        QTest::newRow("written here") << "written";
        QTest::newRow("adopted in the store's form") << "adopted";
        QTest::newRow("adopted, indented by another program") << "indented";
    }
    void editsInPlaceMatchTheList()
    {
        QFETCH(QString, start);
        const Date at = TestEnvironment::at(2026, 12, 7, 10, 0, 0);
        std::vector<TaskItem> list = samples(6, at);
        TodosFileWriter writer;
        const QByteArray text = fileText(list, start == QLatin1String("indented"));
        std::vector<TextSpan> spans;
        const std::optional<std::vector<TaskItem>> loaded = decodeTodosFileText(text, &spans);
        QVERIFY(loaded);
        if (start == QLatin1String("written"))
            writer.text(list);
        else
            writer.adopt(*loaded, text, spans);
        using Replaced = std::vector<std::pair<size_t, TaskItem>>;
        using Removed = std::vector<std::pair<size_t, QUuid>>;
        const auto check = [&](int afresh) {
            const QByteArray made = writer.heldText();
            QVERIFY(decodeTodosFileText(made) == list);
            if (start != QLatin1String("indented"))
                QVERIFY(made == todosFileText(list));
            QCOMPARE(int(writer.lastWrittenAfresh()), afresh);
        };

        const TaskItem added = sample(QStringLiteral("Added"), at + 10);
        QVERIFY(writer.edit(list.size(), added, {}, {}));
        list.insert(list.begin(), added);
        check(1);

        // A to-do put first, one changed and two removed in one edit, places counted after the
        // insertion; then a toggle finds its to-do where that edit left it.
        const TaskItem second = sample(QStringLiteral("Second"), at + 11);
        TaskItem renamed = list[3];
        renamed.title = QStringLiteral("Renamed");
        const Removed gone{{2, list[1].id}, {5, list[4].id}};
        QVERIFY(writer.edit(list.size(), second, Replaced{{4, renamed}}, gone));
        list.insert(list.begin(), second);
        list[4] = renamed;
        list.erase(list.begin() + 5);
        list.erase(list.begin() + 2);
        check(2);
        list[1].isCompleted = true;
        QVERIFY(writer.textReplacing(list.size(), 1, list[1]) == todosFileText(list) ||
                start == QLatin1String("indented"));

        // Edits that do not fit: nothing changes, and the next text is still the list's.
        TaskItem stranger = sample(QStringLiteral("Not in the list"), at);
        QVERIFY(!writer.edit(list.size() + 1, std::nullopt, {}, {}));
        QVERIFY(!writer.edit(list.size(), std::nullopt, Replaced{{0, stranger}}, {}));
        QVERIFY(!writer.edit(list.size(), added, {}, Removed{{list.size() + 1, list.back().id}}));
        QVERIFY(!writer.edit(list.size(), std::nullopt, {}, Removed{{1, list[1].id}, {1, list[1].id}}));
        QVERIFY(decodeTodosFileText(writer.heldText()) == list);
    }

    // A writer that took the file it was loaded from: whatever the file's form, every save reads
    // back as the list saved; a file in the store's own form is written exactly as afresh.
    void adoptedTextReadsBack_data()
    {
        QTest::addColumn<QString>("form");
        QTest::newRow("as the store writes it") << "store";
        QTest::newRow("indented by another program") << "indented";
        QTest::newRow("with a key the store does not know") << "unknown key";
    }
    void adoptedTextReadsBack()
    {
        QFETCH(QString, form);
        const Date at = TestEnvironment::at(2026, 12, 7, 10, 0, 0);
        std::vector<TaskItem> list = samples(4, at);
        QByteArray text = fileText(list, form == QLatin1String("indented"));
        if (form == QLatin1String("unknown key"))
            text.replace("\"createdAt\": ", "\"later\": [1, {\"a\": \"}\"}], \"createdAt\": ");
        std::vector<TextSpan> spans;
        const std::optional<std::vector<TaskItem>> loaded = decodeTodosFileText(text, &spans);
        QVERIFY(loaded);
        QVERIFY(*loaded == list);
        TodosFileWriter writer;
        writer.adopt(*loaded, text, spans);
        const std::vector<std::function<void()>> steps = {
            [] {},
            [&] { list[1].isCompleted = true; },
            [&] { list.insert(list.begin(), sample(QStringLiteral("New"), at)); },
            [&] { list.erase(list.begin() + 3); },
            [&] { list[3].title = QStringLiteral("Changed"); },
        };
        for (size_t i = 0; i < steps.size(); ++i) {
            steps[i]();
            const QByteArray written = writer.text(list);
            const QString step = QStringLiteral("step %1").arg(i);
            QVERIFY2(decodeTodosFileText(written) == list, qPrintable(step));
            if (form == QLatin1String("store"))
                QVERIFY2(written == todosFileText(list), qPrintable(step));
            if (form == QLatin1String("unknown key") && i == 0)
                QVERIFY2(written.contains("\"later\""), "a kept to-do is written as it was read");
        }
    }
};

QTEST_GUILESS_MAIN(TestFileTexts)
#include "tst_file_texts.moc"

#include "TestEnvironment.h"
#include "model/Note.h"
#include "model/TaskItem.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>
#include <limits>

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

// `count` to-dos whose titles are `title` followed by their number.
std::vector<TaskItem> manyTodos(int count, const QString& title)
{
    std::vector<TaskItem> list;
    const Date at = TestEnvironment::at(2026, 12, 7, 10, 0, 0);
    for (int i = 0; i < count; ++i)
        list.push_back(sample(title + QString::number(i), at + i));
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
        QTest::newRow("duplicate key") << "[" + todo(R"("title":"first",)") + "]" << false << false;
        QTest::newRow("lone surrogate") << "[" + todo(R"("notes":"\ud83d",)") + "]" << false << false;
        QTest::newRow("trailing comma") << "[" + todo("") + ",]" << false << false;
        QTest::newRow("required key null") << "[" + todo("").replace(R"("T")", "null") + "]" << false << false;
        QTest::newRow("unknown priority") << "[" + todo("").replace("low", "urgent") + "]" << false << false;
        QTest::newRow("bad date") << "[" + todo(R"("dueDate":"2026-02-30T10:00:00Z",)") + "]" << false << false;
        QTest::newRow("overlong UTF-8") << "[" + todo("\"notes\":\"\xC0\xAF\",") + "]" << false << false;
        QTest::newRow("exponent") << "[" + todo(R"("n":1e3,)") + "]" << false << false;
        QTest::newRow("raw control character") << "[" + todo("\"notes\":\"a\x01\",") + "]" << false << false;

        const Note n{QUuid::createUuid(), QStringLiteral("Title ☕"), QStringLiteral("Body\n/"), 1.0e9, 1.0e9 + 7};
        QTest::newRow("notes as stored") << notesFileText({n, n}) << true << true;
        QTest::newRow("lenient note fields")
            << QByteArray(R"([{"id":"0f8fad5b-d9cb-469f-a165-70867728950e","title":5,"body":null,)"
                          R"("createdAt":"garbage","updatedAt":["x"]}])")
            << true << true;
        QTest::newRow("note without id") << QByteArray(R"([{"title":"t"}])") << true << false;
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

    // A long list is read as two halves at once; whatever the text, the result is the one pass's.
    void halvesReadAsOnePass_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("quick");
        const std::vector<TaskItem> plain = manyTodos(300, QStringLiteral("Plain to-do "));
        QTest::newRow("compact, as stored") << todosFileText(plain) << true;
        QTest::newRow("indented, white space around the commas") << indented(plain) << true;
        // The text between two to-dos also appears inside the titles, where it must not split.
        const std::vector<TaskItem> lookalike = manyTodos(300, QStringLiteral("a},{b }, {c},\n{ \"},{\" "));
        QTest::newRow("titles that look like a boundary") << todosFileText(lookalike) << true;
        QTest::newRow("titles that look like a boundary, indented") << indented(lookalike) << true;
        QTest::newRow("one to-do") << todosFileText(manyTodos(1, QStringLiteral("only"))) << true;
        QByteArray text = todosFileText(plain);
        const qsizetype late = text.lastIndexOf("\"9:30 AM\"");
        QTest::newRow("unreadable to-do in the second half")
            << QByteArray(text).replace(late, 9, "\"9:30 AM\",\"title\":\"again\"") << false;
        const qsizetype early = text.indexOf("\"9:30 AM\"", 100);
        QTest::newRow("unreadable to-do in the first half") << QByteArray(text).replace(early, 9, "null") << false;
        QTest::newRow("text after the list") << text + "[]" << false;
        QTest::newRow("trailing comma") << QByteArray(text).insert(text.lastIndexOf(']'), ",") << false;
    }
    void halvesReadAsOnePass()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, quick);
        std::vector<TextSpan> onePassSpans;
        const auto onePass = decodeTodosFileText(text, &onePassSpans, std::numeric_limits<qsizetype>::max());
        QCOMPARE(onePass.has_value(), quick);
        std::vector<TextSpan> halvesSpans;
        const auto halves = decodeTodosFileText(text, &halvesSpans, 0);
        QCOMPARE(halves.has_value(), quick);
        if (!quick)
            return;
        QCOMPARE(halves->size(), onePass->size());
        QVERIFY(*halves == *onePass);
        QVERIFY(halvesSpans == onePassSpans);
        QCOMPARE(decodeTodosFileText(text, nullptr, 0), onePass);
    }

    // Each step changes the list the way the store does; the kept texts must never show through.
    void keptTextsMatchAFreshWrite()
    {
        const Date at = TestEnvironment::at(2026, 12, 7, 10, 0, 0);
        std::vector<TaskItem> list;
        for (int i = 0; i < 4; ++i)
            list.push_back(sample(QStringLiteral("To-do %1").arg(i), at + i));
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
                                               << "toggle" << 2 << 1 << 1;
        QTest::newRow("the first to-do") << "adopted"
                                         << "toggle" << 0 << 1 << 1;
        QTest::newRow("the last to-do") << "written"
                                        << "toggle" << 4 << 1 << 1;
        QTest::newRow("a longer title") << "written"
                                        << "longer" << 1 << 1 << 1;
        QTest::newRow("a shorter title") << "adopted"
                                         << "shorter" << 3 << 1 << 1;
        QTest::newRow("a step done") << "written"
                                     << "step" << 2 << 1 << 1;
        QTest::newRow("nothing changed") << "adopted"
                                         << "none" << 2 << 1 << 0;
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
        std::vector<TaskItem> list;
        for (int i = 0; i < 5; ++i)
            list.push_back(sample(QStringLiteral("To-do %1").arg(i), at + i));
        list[2].subtasks = {{QUuid::createUuid(), QStringLiteral("Step"), false}};
        TodosFileWriter writer;
        QByteArray before;
        if (start == QLatin1String("written")) {
            before = writer.text(list);
        } else {
            before = todosFileText(list);
            if (start == QLatin1String("indented"))
                before = QJsonDocument::fromJson(before).toJson(QJsonDocument::Indented);
            std::vector<TextSpan> spans;
            const std::optional<std::vector<TaskItem>> loaded = decodeTodosFileText(before, &spans);
            QVERIFY(loaded && *loaded == list);
            writer.adopt(*loaded, before, spans);
        }
        const QByteArray held = QByteArray(before.constData(), before.size());
        const size_t i = size_t(index);
        if (change == QLatin1String("toggle"))
            list[i].isCompleted = !list[i].isCompleted;
        else if (change == QLatin1String("longer"))
            list[i].title += QStringLiteral(" with many more words than before");
        else if (change == QLatin1String("shorter"))
            list[i].title = QStringLiteral("S");
        else if (change == QLatin1String("step"))
            list[i].subtasks[0].isCompleted = true;
        else if (change == QLatin1String("grown"))
            list.insert(list.begin(), sample(QStringLiteral("New"), at));
        else if (change == QLatin1String("swapped"))
            std::swap(list[1], list[2]);
        const QByteArray changed = writer.textChangedAt(list, i);
        QCOMPARE(int(writer.lastCompared()), compared);
        QCOMPARE(int(writer.lastWrittenAfresh()), afresh);
        QVERIFY(before == held);
        QVERIFY(decodeTodosFileText(changed) == list);
        if (start != QLatin1String("indented"))
            QVERIFY(changed == todosFileText(list));
        // A second change further on finds its to-do where the first change left it.
        const size_t next = (i + 1) % list.size();
        list[next].title = QStringLiteral("Second change");
        const QByteArray again = writer.textChangedAt(list, next);
        QCOMPARE(int(writer.lastWrittenAfresh()), 1);
        QVERIFY(decodeTodosFileText(changed) != list); // the first text, still held, kept its bytes
        QVERIFY(decodeTodosFileText(again) == list);
        if (start != QLatin1String("indented"))
            QVERIFY(again == todosFileText(list));
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
        std::vector<TaskItem> list;
        for (int i = 0; i < 4; ++i)
            list.push_back(sample(QStringLiteral("To-do %1").arg(i), at + i));
        QByteArray text = todosFileText(list);
        if (form == QLatin1String("indented"))
            text = QJsonDocument::fromJson(text).toJson(QJsonDocument::Indented);
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

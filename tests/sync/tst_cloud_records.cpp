// To-dos and notes as cloud records: the exact texts the phone app must agree with byte for byte
// (the steps text and the fingerprints), how a fetched record is read, and what an upload writes.
#include "TestEnvironment.h"
#include "model/Iso8601.h"
#include "model/Json.h"
#include "model/Note.h"
#include "model/TaskItem.h"
#include "sync/CloudRecord.h"
#include "sync/RecordMapper.h"
#include "sync/SyncMerge.h"

#include <QtTest>

using Value = CloudRecord::Value;

Q_DECLARE_METATYPE(CloudRecord::Value)
Q_DECLARE_METATYPE(TaskItem)
Q_DECLARE_METATYPE(Note)
Q_DECLARE_METATYPE(std::vector<Subtask>)

// Failure messages show the item's JSON, with the update time at full precision.
char* toString(const TaskItem& t)
{
    return qstrdup(QStringLiteral("%1 (updatedAt %2)")
                       .arg(SyncMerge::fingerprint(t))
                       .arg(t.updatedAt, 0, 'f', 6)
                       .toUtf8()
                       .constData());
}
char* toString(const Note& n)
{
    return qstrdup(SyncMerge::fingerprint(n).toUtf8().constData());
}

namespace {

const QString todoName = QStringLiteral("6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8");
const QString seriesName = QStringLiteral("0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9");
const QString stepName = QStringLiteral("11111111-2222-4333-8444-555555555555");
const QString noteName = QStringLiteral("C0FFEE00-1234-4ABC-9DEF-0123456789AB");

QUuid uuid(const QString& text)
{
    return parseUuid(text).value();
}

Date iso(const char* text)
{
    return Iso8601::parse(QString::fromLatin1(text)).value();
}

// Every character class the encoder treats specially, plus plain non-ASCII text that it must not.
QString awkwardText()
{
    return QStringLiteral("a/b \"q\" \\ \n\r\t\b\f ") + QChar(0x01) + QChar(0x1F) + QChar(0x7F) +
           QString::fromUtf8(" é 日 😀");
}
QByteArray awkwardJson()
{
    return QByteArray(R"(a\/b \"q\" \\ \n\r\t\b\f \u0001\u001f)") + "\x7f" + " é 日 😀";
}
// Expected JSON with "@@" standing for awkwardJson().
QByteArray withAwkward(const char* json)
{
    return QByteArray(json).replace("@@", awkwardJson());
}

TaskItem minimalTodo()
{
    TaskItem t;
    t.id = uuid(todoName);
    t.title = QStringLiteral("Buy milk");
    t.time = QStringLiteral("Anytime");
    t.priority = TaskItem::Priority::medium;
    t.createdAt = iso("2024-12-01T08:00:00Z");
    t.updatedAt = t.createdAt;
    return t;
}

TaskItem fullTodo()
{
    TaskItem t;
    t.id = uuid(todoName);
    t.title = QStringLiteral("Pay rent/bills");
    t.time = QStringLiteral("9:30 AM");
    t.priority = TaskItem::Priority::high;
    t.isCompleted = true;
    t.dueDate = iso("2024-12-06T00:00:00Z") + 0.75;
    t.createdAt = iso("2024-12-01T08:00:00Z") + 0.999;
    t.updatedAt = iso("2024-12-05T17:45:30Z") + 0.5;
    t.reminderDate = iso("2024-12-05T14:00:00Z");
    t.subtasks = {Subtask{uuid(stepName), QStringLiteral("Find IBAN/BIC"), true}};
    t.notes = QStringLiteral("Line 1\nLine 2");
    t.repeatOption = RepeatOption::monthly;
    t.recurringSeriesId = uuid(seriesName);
    return t;
}

// fullTodo() as the phone app would have stored it, built field by field rather than by apply().
CloudRecord fullTodoRecord(const QString& name = todoName)
{
    const TaskItem t = fullTodo();
    CloudRecord r(RecordMapper::taskRecordType, name);
    r.setString(QStringLiteral("title"), t.title);
    r.setString(QStringLiteral("time"), t.time);
    r.setString(QStringLiteral("priority"), QStringLiteral("high"));
    r.setInt64(QStringLiteral("isCompleted"), 1);
    r.setDate(QStringLiteral("createdAt"), t.createdAt);
    r.setDate(QStringLiteral("updatedAt"), t.updatedAt);
    r.setDate(QStringLiteral("dueDate"), t.dueDate);
    r.setDate(QStringLiteral("reminderDate"), t.reminderDate);
    r.setString(QStringLiteral("notes"), t.notes);
    r.setString(QStringLiteral("repeatOption"), QStringLiteral("Monthly"));
    r.setString(QStringLiteral("recurringSeriesId"), seriesName);
    r.setString(QStringLiteral("subtasksJSON"),
                QStringLiteral(
                    R"([{"id":"11111111-2222-4333-8444-555555555555","title":"Find IBAN\/BIC","isCompleted":true}])"));
    r.clearChangedKeys();
    return r;
}

Note sampleNote()
{
    return Note{uuid(noteName), QStringLiteral("Trip/plan"), QStringLiteral("Pack:\n\t- boots"),
                iso("2024-03-10T06:59:59Z") + 0.25, iso("2024-03-11T12:00:00Z") + 0.999};
}

CloudRecord noteRecord(const QString& name = noteName)
{
    const Note n = sampleNote();
    CloudRecord r(RecordMapper::noteRecordType, name);
    r.setString(QStringLiteral("title"), n.title);
    r.setString(QStringLiteral("body"), n.body);
    r.setDate(QStringLiteral("createdAt"), n.createdAt);
    r.setDate(QStringLiteral("updatedAt"), n.updatedAt);
    r.clearChangedKeys();
    return r;
}

// Collects what the mapper logs, with its level; everything else goes on to the test's handler.
class MapperLog {
public:
    MapperLog()
    {
        s_lines = &m_lines;
        s_previous = qInstallMessageHandler(&MapperLog::handle);
    }
    ~MapperLog()
    {
        qInstallMessageHandler(s_previous);
        s_lines = nullptr;
    }
    QStringList criticalLines() const
    {
        QStringList out;
        for (const auto& [type, text] : m_lines)
            out << (type == QtCriticalMsg ? text : QStringLiteral("(not an error) ") + text);
        return out;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (s_lines && context.category && qstrcmp(context.category, "RecordMapper") == 0)
            s_lines->append({type, message});
        else if (s_previous)
            s_previous(type, context, message);
    }
    QList<std::pair<QtMsgType, QString>> m_lines;
    static inline QList<std::pair<QtMsgType, QString>>* s_lines = nullptr;
    static inline QtMessageHandler s_previous = nullptr;
};

// A field of each type the record store knows, for "present but of the wrong type".
Value aString()
{
    return QStringLiteral("1");
}
Value anInt()
{
    return qint64(1);
}
Value aDouble()
{
    return 1.5;
}
Value aDate()
{
    return CloudRecord::DateValue{iso("2024-12-05T17:45:30Z")};
}

// Reads a record that must be well formed; a malformed one fails the comparison with a blank item.
TaskItem readTodo(const CloudRecord& r)
{
    return RecordMapper::taskItem(r).value_or(TaskItem{});
}
Note readNote(const CloudRecord& r)
{
    return RecordMapper::note(r).value_or(Note{});
}

} // namespace

class TestCloudRecords : public QObject {
    Q_OBJECT
private slots:
    // ---- "subtasksJSON": the phone app's encoder at default settings

    void subtasksJSONText_data()
    {
        QTest::addColumn<std::vector<Subtask>>("steps");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("no steps") << std::vector<Subtask>{} << QByteArray("[]");
        QTest::newRow("slash escaped, id upper-case")
            << std::vector<Subtask>{{uuid(QStringLiteral("aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee")),
                                     QStringLiteral("Call Mom/Dad"), false}}
            << QByteArray(
                   R"([{"id":"AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE","title":"Call Mom\/Dad","isCompleted":false}])");
        QTest::newRow("two steps, awkward characters")
            << std::vector<Subtask>{{uuid(stepName), awkwardText(), true}, {uuid(seriesName), QString(), false}}
            << withAwkward(R"([{"id":"11111111-2222-4333-8444-555555555555","title":"@@","isCompleted":true},)"
                           R"({"id":"0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9","title":"","isCompleted":false}])");
    }
    void subtasksJSONText()
    {
        QFETCH(std::vector<Subtask>, steps);
        QFETCH(QByteArray, expected);
        const QString text = RecordMapper::subtasksJSON(steps);
        QCOMPARE(text.toUtf8(), expected);
        QCOMPARE(RecordMapper::decodeSubtasksJSON(text), std::optional(steps));
    }

    // ---- fingerprints

    void todoFingerprint_data()
    {
        QTest::addColumn<TaskItem>("item");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("no optionals")
            << minimalTodo()
            << QByteArray(R"({"createdAt":"2024-12-01T08:00:00Z","id":"6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8",)"
                          R"("isCompleted":false,"priority":"medium","repeatOption":"None","subtasks":[],)"
                          R"("time":"Anytime","title":"Buy milk","updatedAt":"2024-12-01T08:00:00Z"})");
        QTest::newRow("every optional")
            << fullTodo()
            << QByteArray(R"({"createdAt":"2024-12-01T08:00:00Z","dueDate":"2024-12-06T00:00:00Z",)"
                          R"("id":"6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8","isCompleted":true,)"
                          R"("notes":"Line 1\nLine 2","priority":"high",)"
                          R"("recurringSeriesId":"0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9",)"
                          R"("reminderDate":"2024-12-05T14:00:00Z","repeatOption":"Monthly",)"
                          R"("subtasks":[{"id":"11111111-2222-4333-8444-555555555555","isCompleted":true,)"
                          R"("title":"Find IBAN\/BIC"}],"time":"9:30 AM","title":"Pay rent\/bills",)"
                          R"("updatedAt":"2024-12-05T17:45:30Z"})");
        {
            TaskItem t = minimalTodo();
            t.notes = QString();
            t.recurringSeriesId = uuid(QStringLiteral("0a1b2c3d-4e5f-4061-8273-94a5b6c7d8e9"));
            t.repeatOption = RepeatOption::weekly;
            t.priority = TaskItem::Priority::low;
            QTest::newRow("empty notes written, series only")
                << t
                << QByteArray(
                       R"({"createdAt":"2024-12-01T08:00:00Z","id":"6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8",)"
                       R"("isCompleted":false,"notes":"","priority":"low",)"
                       R"("recurringSeriesId":"0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9","repeatOption":"Weekly",)"
                       R"("subtasks":[],"time":"Anytime","title":"Buy milk","updatedAt":"2024-12-01T08:00:00Z"})");
        }
        {
            TaskItem t = minimalTodo();
            t.title = awkwardText();
            t.time = QStringLiteral(" 7:05 pm\t");
            t.notes = awkwardText();
            t.subtasks = {{uuid(stepName), awkwardText(), false}};
            QTest::newRow("awkward characters everywhere")
                << t
                << withAwkward(
                       R"({"createdAt":"2024-12-01T08:00:00Z","id":"6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8",)"
                       R"("isCompleted":false,"notes":"@@","priority":"medium","repeatOption":"None",)"
                       R"("subtasks":[{"id":"11111111-2222-4333-8444-555555555555","isCompleted":false,"title":"@@"}],)"
                       R"("time":" 7:05 pm\t","title":"@@","updatedAt":"2024-12-01T08:00:00Z"})");
        }
        {
            TaskItem t = minimalTodo();
            t.createdAt = -0.5;
            t.dueDate = -1.0;
            t.reminderDate = 0.0;
            t.updatedAt = -86399.9;
            QTest::newRow("before 1970 rounds toward the past")
                << t
                << QByteArray(R"({"createdAt":"1969-12-31T23:59:59Z","dueDate":"1969-12-31T23:59:59Z",)"
                              R"("id":"6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8","isCompleted":false,"priority":"medium",)"
                              R"("reminderDate":"1970-01-01T00:00:00Z","repeatOption":"None","subtasks":[],)"
                              R"("time":"Anytime","title":"Buy milk","updatedAt":"1969-12-31T00:00:00Z"})");
        }
        {
            TaskItem t = minimalTodo();
            t.repeatOption = RepeatOption::daily;
            t.updatedAt = iso("2024-12-01T08:00:59Z") + 0.999999;
            QTest::newRow("fraction just below the next second")
                << t
                << QByteArray(R"({"createdAt":"2024-12-01T08:00:00Z","id":"6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8",)"
                              R"("isCompleted":false,"priority":"medium","repeatOption":"Daily","subtasks":[],)"
                              R"("time":"Anytime","title":"Buy milk","updatedAt":"2024-12-01T08:00:59Z"})");
        }
    }
    void todoFingerprint()
    {
        QFETCH(TaskItem, item);
        QFETCH(QByteArray, expected);
        QCOMPARE(SyncMerge::fingerprint(item).toUtf8(), expected);
    }

    void noteFingerprint_data()
    {
        QTest::addColumn<Note>("item");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("plain") << sampleNote()
                               << QByteArray(R"({"body":"Pack:\n\t- boots","createdAt":"2024-03-10T06:59:59Z",)"
                                             R"("id":"C0FFEE00-1234-4ABC-9DEF-0123456789AB","title":"Trip\/plan",)"
                                             R"("updatedAt":"2024-03-11T12:00:00Z"})");
        QTest::newRow("empty texts, before 1970")
            << Note{uuid(noteName), QString(), QString(), -0.5, -0.0}
            << QByteArray(
                   R"({"body":"","createdAt":"1969-12-31T23:59:59Z","id":"C0FFEE00-1234-4ABC-9DEF-0123456789AB",)"
                   R"("title":"","updatedAt":"1970-01-01T00:00:00Z"})");
        QTest::newRow("awkward characters")
            << Note{uuid(noteName), awkwardText(), awkwardText(), 0, 0}
            << withAwkward(
                   R"({"body":"@@","createdAt":"1970-01-01T00:00:00Z",)"
                   R"("id":"C0FFEE00-1234-4ABC-9DEF-0123456789AB","title":"@@","updatedAt":"1970-01-01T00:00:00Z"})");
    }
    void noteFingerprint()
    {
        QFETCH(Note, item);
        QFETCH(QByteArray, expected);
        QCOMPARE(SyncMerge::fingerprint(item).toUtf8(), expected);
    }

    void fingerprintsIgnoreFractionsOfASecondOnly()
    {
        TaskItem a = fullTodo();
        TaskItem b = fullTodo();
        a.updatedAt = 10.2;
        b.updatedAt = 10.9;
        a.dueDate = 500.01;
        b.dueDate = 500.99;
        QCOMPARE(SyncMerge::fingerprint(a), SyncMerge::fingerprint(b));
        b.title += u'!';
        QVERIFY(SyncMerge::fingerprint(a) != SyncMerge::fingerprint(b));
        b = a;
        b.updatedAt = 11.0;
        QVERIFY(SyncMerge::fingerprint(a) != SyncMerge::fingerprint(b));

        Note m = sampleNote();
        Note n = sampleNote();
        m.updatedAt = std::floor(m.updatedAt) + 0.01;
        QCOMPARE(SyncMerge::fingerprint(m), SyncMerge::fingerprint(n));
        n.body += u' ';
        QVERIFY(SyncMerge::fingerprint(m) != SyncMerge::fingerprint(n));
    }

    // ---- reading a to-do record

    void readsAWellFormedRecord()
    {
        MapperLog log;
        QCOMPARE(readTodo(fullTodoRecord()), fullTodo());
        // The name is parsed, not compared: lower-case UUID text names the same to-do.
        QCOMPARE(readTodo(fullTodoRecord(todoName.toLower())), fullTodo());
        QCOMPARE(log.criticalLines(), QStringList());
    }

    void malformedTaskRecords_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("key");
        QTest::addColumn<Value>("value");

        for (const QString& name :
             {QStringLiteral("not-a-uuid"), QStringLiteral("{6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8}"),
              QStringLiteral("6F1C2A3B4D5E4F60817293A4B5C6D7E8"),
              QStringLiteral("6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7EG"), QStringLiteral("qh-sync-manifest"), QString()})
            QTest::addRow("name \"%s\"", qPrintable(name)) << name << QString() << Value();

        const struct {
            const char* key;
            std::vector<std::pair<const char*, Value>> values;
        } fields[] = {
            {"title", {{"missing", Value()}, {"Int64", anInt()}, {"Date", aDate()}}},
            {"time", {{"missing", Value()}, {"Int64", anInt()}, {"Double", aDouble()}}},
            {"priority",
             {{"missing", Value()},
              {"Int64", anInt()},
              {"capitalised", Value(QStringLiteral("High"))},
              {"upper case", Value(QStringLiteral("LOW"))},
              {"unknown", Value(QStringLiteral("urgent"))},
              {"padded", Value(QStringLiteral("high "))},
              {"empty", Value(QString())}}},
            {"createdAt",
             {{"missing", Value()},
              {"ISO text", Value(QStringLiteral("2024-12-01T08:00:00Z"))},
              {"Int64", anInt()},
              {"Double", aDouble()}}},
        };
        for (const auto& field : fields)
            for (const auto& [what, value] : field.values)
                QTest::addRow("%s %s", field.key, what) << todoName << QString::fromLatin1(field.key) << value;
    }
    void malformedTaskRecords()
    {
        QFETCH(QString, name);
        QFETCH(QString, key);
        QFETCH(Value, value);
        CloudRecord r = fullTodoRecord(name);
        if (!key.isEmpty())
            r.set(key, value);
        MapperLog log;
        QVERIFY(!RecordMapper::taskItem(r));
        QCOMPARE(log.criticalLines(), QStringList{QStringLiteral("Skipping malformed task record ") + name});
    }

    // Each row changes one field of fullTodoRecord(); a monostate value removes the field.
    void readingRules_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<Value>("value");
        QTest::addColumn<TaskItem>("expected");

        const TaskItem full = fullTodo();
        const auto row = [&full](const char* name, const char* key, const Value& value, auto change) {
            TaskItem expected = full;
            change(expected);
            QTest::newRow(name) << QString::fromLatin1(key) << value << expected;
        };
        const auto open = [](TaskItem& t) { t.isCompleted = false; };
        const auto done = [](TaskItem& t) { t.isCompleted = true; };
        row("isCompleted missing", "isCompleted", Value(), open);
        row("isCompleted 0", "isCompleted", qint64(0), open);
        row("isCompleted 2", "isCompleted", qint64(2), done);
        row("isCompleted -1", "isCompleted", qint64(-1), done);
        row("isCompleted text \"1\"", "isCompleted", aString(), open);
        row("isCompleted text \"true\"", "isCompleted", QStringLiteral("true"), open);
        row("isCompleted Double 0", "isCompleted", 0.0, open);
        row("isCompleted Double 1", "isCompleted", 1.0, done);
        row("isCompleted Double 0.5", "isCompleted", 0.5, done);
        row("isCompleted Date", "isCompleted", aDate(), open);

        const auto fromCreated = [](TaskItem& t) { t.updatedAt = t.createdAt; };
        row("updatedAt missing", "updatedAt", Value(), fromCreated);
        row("updatedAt ISO text", "updatedAt", QStringLiteral("2024-12-05T17:45:30Z"), fromCreated);
        row("updatedAt Int64", "updatedAt", anInt(), fromCreated);
        row("updatedAt Double", "updatedAt", aDouble(), fromCreated);
        row("updatedAt before createdAt kept", "updatedAt", CloudRecord::DateValue{-0.5},
            [](TaskItem& t) { t.updatedAt = -0.5; });

        const auto noDue = [](TaskItem& t) { t.dueDate.reset(); };
        row("dueDate missing", "dueDate", Value(), noDue);
        row("dueDate ISO text", "dueDate", QStringLiteral("2024-12-06T00:00:00Z"), noDue);
        row("dueDate Double", "dueDate", aDouble(), noDue);
        const auto noReminder = [](TaskItem& t) { t.reminderDate.reset(); };
        row("reminderDate missing", "reminderDate", Value(), noReminder);
        row("reminderDate Int64", "reminderDate", anInt(), noReminder);

        const auto noNotes = [](TaskItem& t) { t.notes.reset(); };
        row("notes missing", "notes", Value(), noNotes);
        row("notes Int64", "notes", anInt(), noNotes);
        row("notes Date", "notes", aDate(), noNotes);
        row("notes empty", "notes", QString(), [](TaskItem& t) { t.notes = QString(); });

        const auto once = [](TaskItem& t) { t.repeatOption = RepeatOption::none; };
        row("repeatOption missing", "repeatOption", Value(), once);
        row("repeatOption None", "repeatOption", QStringLiteral("None"), once);
        row("repeatOption Daily", "repeatOption", QStringLiteral("Daily"),
            [](TaskItem& t) { t.repeatOption = RepeatOption::daily; });
        row("repeatOption Weekly", "repeatOption", QStringLiteral("Weekly"),
            [](TaskItem& t) { t.repeatOption = RepeatOption::weekly; });
        row("repeatOption lower case", "repeatOption", QStringLiteral("daily"), once);
        row("repeatOption yearly", "repeatOption", QStringLiteral("Yearly"), once);
        row("repeatOption padded", "repeatOption", QStringLiteral("Monthly "), once);
        row("repeatOption empty", "repeatOption", QString(), once);
        row("repeatOption Int64", "repeatOption", anInt(), once);

        const auto noSeries = [](TaskItem& t) { t.recurringSeriesId.reset(); };
        row("recurringSeriesId missing", "recurringSeriesId", Value(), noSeries);
        row("recurringSeriesId not a UUID", "recurringSeriesId", QStringLiteral("series-1"), noSeries);
        row("recurringSeriesId in braces", "recurringSeriesId",
            QStringLiteral("{0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9}"), noSeries);
        row("recurringSeriesId empty", "recurringSeriesId", QString(), noSeries);
        row("recurringSeriesId Int64", "recurringSeriesId", anInt(), noSeries);
        row("recurringSeriesId lower case", "recurringSeriesId", seriesName.toLower(), [](TaskItem&) {});

        const auto noSteps = [](TaskItem& t) { t.subtasks.clear(); };
        const Subtask good{uuid(stepName), QStringLiteral("a/b"), false};
        row("subtasksJSON missing", "subtasksJSON", Value(), noSteps);
        row("subtasksJSON Int64", "subtasksJSON", anInt(), noSteps);
        row("subtasksJSON empty text", "subtasksJSON", QString(), noSteps);
        row("subtasksJSON empty array", "subtasksJSON", QStringLiteral("[]"), noSteps);
        row("subtasksJSON not JSON", "subtasksJSON", QStringLiteral("[{"), noSteps);
        row("subtasksJSON an object", "subtasksJSON",
            QStringLiteral(R"({"id":"11111111-2222-4333-8444-555555555555","title":"x","isCompleted":false})"),
            noSteps);
        row("subtasksJSON one step lacks isCompleted", "subtasksJSON",
            QStringLiteral(R"([{"id":"11111111-2222-4333-8444-555555555555","title":"ok","isCompleted":false},)"
                           R"({"id":"AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE","title":"bad"}])"),
            noSteps);
        row("subtasksJSON isCompleted as 1", "subtasksJSON",
            QStringLiteral(R"([{"id":"11111111-2222-4333-8444-555555555555","title":"x","isCompleted":1}])"), noSteps);
        row("subtasksJSON title null", "subtasksJSON",
            QStringLiteral(R"([{"id":"11111111-2222-4333-8444-555555555555","title":null,"isCompleted":true}])"),
            noSteps);
        row("subtasksJSON id not a UUID", "subtasksJSON",
            QStringLiteral(R"([{"id":"step-1","title":"x","isCompleted":true}])"), noSteps);
        row("subtasksJSON other key order, unknown key, plain slash", "subtasksJSON",
            QStringLiteral(
                R"([ {"isCompleted":false, "extra":[1], "title":"a/b", "id":"11111111-2222-4333-8444-555555555555"} ])"),
            [good](TaskItem& t) { t.subtasks = {good}; });

        row("title empty", "title", QString(), [](TaskItem& t) { t.title.clear(); });
        row("time taken as it is", "time", QStringLiteral("  around 9 \n"),
            [](TaskItem& t) { t.time = QStringLiteral("  around 9 \n"); });
        row("priority low", "priority", QStringLiteral("low"),
            [](TaskItem& t) { t.priority = TaskItem::Priority::low; });
        row("priority medium", "priority", QStringLiteral("medium"),
            [](TaskItem& t) { t.priority = TaskItem::Priority::medium; });
    }
    void readingRules()
    {
        QFETCH(QString, key);
        QFETCH(Value, value);
        QFETCH(TaskItem, expected);
        CloudRecord r = fullTodoRecord();
        r.set(key, value);
        MapperLog log;
        QCOMPARE(readTodo(r), expected);
        QCOMPARE(log.criticalLines(), QStringList()); // a bad optional is never worth a log line
    }

    // ---- writing a to-do record

    void writesEveryFieldWithItsType()
    {
        CloudRecord r(RecordMapper::taskRecordType, todoName);
        const TaskItem t = fullTodo();
        RecordMapper::apply(t, r);
        const QStringList all{"createdAt",    "dueDate",      "isCompleted",  "notes", "priority", "recurringSeriesId",
                              "reminderDate", "repeatOption", "subtasksJSON", "time",  "title",    "updatedAt"};
        QCOMPARE(r.keys(), all);
        QCOMPARE(r.value("title"), Value(QStringLiteral("Pay rent/bills")));
        QCOMPARE(r.value("time"), Value(QStringLiteral("9:30 AM")));
        QCOMPARE(r.value("priority"), Value(QStringLiteral("high")));
        QCOMPARE(r.value("isCompleted"), Value(qint64(1)));
        QCOMPARE(r.value("createdAt"), Value(CloudRecord::DateValue{t.createdAt}));
        QCOMPARE(r.value("updatedAt"), Value(CloudRecord::DateValue{t.updatedAt}));
        QCOMPARE(r.value("dueDate"), Value(CloudRecord::DateValue{*t.dueDate}));
        QCOMPARE(r.value("reminderDate"), Value(CloudRecord::DateValue{*t.reminderDate}));
        QCOMPARE(r.value("notes"), Value(QStringLiteral("Line 1\nLine 2")));
        QCOMPARE(r.value("repeatOption"), Value(QStringLiteral("Monthly")));
        QCOMPARE(r.value("recurringSeriesId"), Value(seriesName));
        QCOMPARE(r.string("subtasksJSON")->toUtf8(),
                 QByteArray(
                     R"([{"id":"11111111-2222-4333-8444-555555555555","title":"Find IBAN\/BIC","isCompleted":true}])"));
        // The caller names and types the record.
        QCOMPARE(r.recordType(), RecordMapper::taskRecordType);
        QCOMPARE(r.recordName(), todoName);

        TaskItem open = minimalTodo();
        open.notes = QString();
        CloudRecord s(RecordMapper::taskRecordType, todoName);
        RecordMapper::apply(open, s);
        QCOMPARE(s.value("isCompleted"), Value(qint64(0)));
        QCOMPARE(s.value("notes"), Value(QString())); // an empty text is a value, not "none"
        QCOMPARE(s.value("repeatOption"), Value(QStringLiteral("None")));
        QCOMPARE(s.value("subtasksJSON"), Value(QStringLiteral("[]")));
        QVERIFY(!s.has("dueDate") && !s.has("reminderDate") && !s.has("recurringSeriesId"));
    }

    void writingClearsAbsentOptionalsOnAFetchedRecord()
    {
        CloudRecord r = fullTodoRecord();
        r.setString(QStringLiteral("fieldFromANewerApp"), QStringLiteral("kept"));
        r.clearChangedKeys();
        TaskItem t = minimalTodo();
        RecordMapper::apply(t, r);

        for (const char* key : {"dueDate", "reminderDate", "notes", "recurringSeriesId"}) {
            QVERIFY2(!r.has(QString::fromLatin1(key)), key);
            QVERIFY2(r.changedKeys().contains(QString::fromLatin1(key)), key); // the clearing is uploaded
        }
        const QSet<QString> written{"title",     "time",         "priority",          "isCompleted",
                                    "createdAt", "updatedAt",    "dueDate",           "reminderDate",
                                    "notes",     "repeatOption", "recurringSeriesId", "subtasksJSON"};
        QCOMPARE(r.changedKeys(), written);
        QCOMPARE(r.value("fieldFromANewerApp"), Value(QStringLiteral("kept")));
        QCOMPARE(r.value("isCompleted"), Value(qint64(0)));
        QCOMPARE(r.value("subtasksJSON"), Value(QStringLiteral("[]")));
        QCOMPARE(r.value("repeatOption"), Value(QStringLiteral("None")));
        QCOMPARE(readTodo(r), t);
    }

    void writeThenReadGivesTheTodo_data()
    {
        QTest::addColumn<TaskItem>("item");
        QTest::newRow("no optionals") << minimalTodo();
        QTest::newRow("every optional") << fullTodo();
        TaskItem t = fullTodo();
        t.title = awkwardText();
        t.time = QStringLiteral("\t 7:05 pm ");
        t.notes = awkwardText();
        t.subtasks = {{uuid(stepName), awkwardText(), false}, {uuid(seriesName), QStringLiteral("x/y\\z"), true}};
        t.priority = TaskItem::Priority::low;
        t.repeatOption = RepeatOption::daily;
        QTest::newRow("awkward texts") << t;
        t = minimalTodo();
        t.createdAt = -86400.125;
        t.updatedAt = -0.5;
        t.dueDate = -1e9 + 0.3;
        t.notes = QString();
        QTest::newRow("before 1970, empty notes") << t;
    }
    void writeThenReadGivesTheTodo()
    {
        QFETCH(TaskItem, item);
        CloudRecord r(RecordMapper::taskRecordType, uuidText(item.id));
        RecordMapper::apply(item, r);
        QCOMPARE(readTodo(r), item);
    }

    // ---- note records

    void noteRecordFields()
    {
        CloudRecord r(RecordMapper::noteRecordType, noteName);
        const Note n = sampleNote();
        RecordMapper::fillNoteRecord(n, r);
        QCOMPARE(r.keys(), (QStringList{"body", "createdAt", "title", "updatedAt"}));
        QCOMPARE(r.changedKeys(), (QSet<QString>{"body", "createdAt", "title", "updatedAt"}));
        QCOMPARE(r.value("title"), Value(n.title));
        QCOMPARE(r.value("body"), Value(n.body));
        QCOMPARE(r.value("createdAt"), Value(CloudRecord::DateValue{n.createdAt}));
        QCOMPARE(r.value("updatedAt"), Value(CloudRecord::DateValue{n.updatedAt}));
        QCOMPARE(readNote(r), n);

        // Refilling a fetched record with empty texts keeps them as values.
        const Note blank{n.id, QString(), QString(), -0.5, -0.5};
        RecordMapper::fillNoteRecord(blank, r);
        QCOMPARE(r.value("body"), Value(QString()));
        QCOMPARE(readNote(r), blank);
    }

    void readingNotes_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<Value>("value");
        QTest::addColumn<Note>("expected");
        const Note n = sampleNote();
        Note fromCreated = n;
        fromCreated.updatedAt = n.createdAt;
        QTest::newRow("as written") << QStringLiteral("title") << Value(n.title) << n;
        QTest::newRow("updatedAt missing") << QStringLiteral("updatedAt") << Value() << fromCreated;
        QTest::newRow("updatedAt ISO text")
            << QStringLiteral("updatedAt") << Value(QStringLiteral("2024-03-11T12:00:00Z")) << fromCreated;
        QTest::newRow("updatedAt Double") << QStringLiteral("updatedAt") << aDouble() << fromCreated;
        Note emptyBody = n;
        emptyBody.body.clear();
        QTest::newRow("empty body") << QStringLiteral("body") << Value(QString()) << emptyBody;
        Note emptyTitle = n;
        emptyTitle.title.clear();
        QTest::newRow("empty title") << QStringLiteral("title") << Value(QString()) << emptyTitle;
    }
    void readingNotes()
    {
        QFETCH(QString, key);
        QFETCH(Value, value);
        QFETCH(Note, expected);
        CloudRecord r = noteRecord();
        r.set(key, value);
        MapperLog log;
        QCOMPARE(readNote(r), expected);
        QCOMPARE(log.criticalLines(), QStringList());
    }

    void malformedNoteRecords_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("key");
        QTest::addColumn<Value>("value");
        QTest::newRow("name not a UUID") << QStringLiteral("note-1") << QString() << Value();
        QTest::newRow("name empty") << QString() << QString() << Value();
        QTest::newRow("title missing") << noteName << QStringLiteral("title") << Value();
        QTest::newRow("title Int64") << noteName << QStringLiteral("title") << anInt();
        QTest::newRow("body missing") << noteName << QStringLiteral("body") << Value();
        QTest::newRow("body Date") << noteName << QStringLiteral("body") << aDate();
        QTest::newRow("createdAt missing") << noteName << QStringLiteral("createdAt") << Value();
        QTest::newRow("createdAt ISO text")
            << noteName << QStringLiteral("createdAt") << Value(QStringLiteral("2024-03-10T06:59:59Z"));
        QTest::newRow("createdAt Double") << noteName << QStringLiteral("createdAt") << aDouble();
    }
    void malformedNoteRecords()
    {
        QFETCH(QString, name);
        QFETCH(QString, key);
        QFETCH(Value, value);
        CloudRecord r = noteRecord(name);
        if (!key.isEmpty())
            r.set(key, value);
        MapperLog log;
        QVERIFY(!RecordMapper::note(r));
        QCOMPARE(log.criticalLines(), QStringList{QStringLiteral("Skipping malformed note record ") + name});
    }
};

QTEST_GUILESS_MAIN(TestCloudRecords)
#include "tst_cloud_records.moc"

// The domain records and their JSON forms: block rules, doom-scroll records, the shared state,
// notes, to-dos, tolerant list decoding, and the share of a daily limit used.
#include "TestEnvironment.h"
#include "model/BlockRule.h"
#include "model/DoomScroll.h"
#include "model/Iso8601.h"
#include "model/Json.h"
#include "model/Note.h"
#include "model/SharedState.h"
#include "model/TaskItem.h"
#include "model/Text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>
#include <cmath>
#include <functional>
#include <limits>

using TestEnvironment::at;

// ---------------------------------------------------------------------------------------------
// Printing records in failure messages (found by QCOMPARE through argument-dependent lookup).

namespace {
char* jsonText(const QJsonObject& o)
{
    return qstrdup(QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
}
} // namespace

char* toString(const BlockApplySchedule& v)
{
    return jsonText(encodeBlockApplySchedule(v));
}
char* toString(const BlockRule& v)
{
    return jsonText(encodeBlockRule(v));
}
char* toString(const DoomScrollDomain& v)
{
    return jsonText(encodeDoomScrollDomain(v));
}
char* toString(const DoomScrollConfig& v)
{
    return jsonText(encodeDoomScrollConfig(v));
}
char* toString(const DoomScrollRuntimeState& v)
{
    return jsonText(encodeDoomScrollRuntimeState(v));
}
char* toString(const UrgentBreakState& v)
{
    return jsonText(encodeUrgentBreakState(v));
}
char* toString(const BlockedSiteSnapshot& v)
{
    return jsonText(encodeBlockedSiteSnapshot(v));
}
char* toString(const SharedState& v)
{
    return jsonText(encodeSharedState(v));
}
char* toString(const Note& v)
{
    return jsonText(encodeNote(v));
}
char* toString(const Subtask& v)
{
    return jsonText(encodeSubtask(v));
}
char* toString(const TaskItem& v)
{
    return jsonText(encodeTaskItem(v));
}

namespace {

// ---------------------------------------------------------------------------------------------
// Fixed ids, instants and samples.

const QString kRuleIdText = QStringLiteral("6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B");
const QString kRule2IdText = QStringLiteral("0A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9");
const QString kDomainIdText = QStringLiteral("B7E1F2A3-C4D5-46E7-8F90-A1B2C3D4E5F6");
const QString kDomain2IdText = QStringLiteral("C8F2A3B4-D5E6-47F8-90A1-B2C3D4E5F6A7");
const QString kNoteIdText = QStringLiteral("D9A3B4C5-E6F7-4809-A1B2-C3D4E5F6A7B8");
const QString kTaskIdText = QStringLiteral("EAB4C5D6-F7A8-491A-B2C3-D4E5F6A7B8C9");
const QString kStep1IdText = QStringLiteral("FBC5D6E7-A8B9-4A2B-83D4-E5F6A7B8C9DA");
const QString kStep2IdText = QStringLiteral("1CD6E7F8-B9CA-4B3C-94E5-F6A7B8C9DAEB");
const QString kSeriesIdText = QStringLiteral("2DE7F8A9-CADB-4C4D-A5F6-A7B8C9DAEBFC");

QUuid uuid(const QString& text)
{
    return QUuid::fromString(text);
}

constexpr Date kDecember1At8 = 1733040000;  // 2024-12-01T08:00:00Z
constexpr Date kDecember6 = 1733480100;     // 2024-12-06T10:15:00Z
constexpr Date kDecember6At16 = 1733500800; // 2024-12-06T16:00:00Z
constexpr Date kDecember6At17 = 1733504400; // 2024-12-06T17:00:00Z

constexpr qint64 kInt64Max = std::numeric_limits<qint64>::max();
constexpr qint64 kInt64Min = std::numeric_limits<qint64>::min();

QJsonObject scheduleJson()
{
    return {{"isAllDay", false}, {"isAfterMaxDailyTime", false}, {"startHour", 9}, {"startMinute", 30}, {"endHour", 17},
            {"endMinute", 0}};
}
BlockApplySchedule fullSchedule()
{
    BlockApplySchedule s;
    s.isAllDay = false;
    s.isAfterMaxDailyTime = false;
    s.startHour = 9;
    s.startMinute = 30;
    s.endHour = 17;
    s.endMinute = 0;
    return s;
}

QJsonObject ruleJson()
{
    return {
        {"id", kRuleIdText},
        {"domain", "youtube.com"},
        {"displayName", "YouTube"},
        {"blockApplySchedule", scheduleJson()},
        {"dailyLimitMinutes", 30},
        {"activeWeekdays", QJsonArray{2, 3, 4, 5, 6}},
        {"allowOneBreak", true},
        {"urgentBreakUsedCalendarDay", 20241205},
        {"createdAt", "2024-12-01T08:00:00Z"},
        {"updatedAt", "2024-12-06T10:15:00Z"},
    };
}
BlockRule fullRule()
{
    BlockRule r;
    r.id = uuid(kRuleIdText);
    r.domain = QStringLiteral("youtube.com");
    r.displayName = QStringLiteral("YouTube");
    r.blockApplySchedule = fullSchedule();
    r.dailyLimitMinutes = 30;
    r.activeWeekdays = {2, 3, 4, 5, 6};
    r.allowOneBreak = true;
    r.urgentBreakUsedCalendarDay = 20241205;
    r.createdAt = kDecember1At8;
    r.updatedAt = kDecember6;
    return r;
}
BlockRule minimalRule()
{
    BlockRule r;
    r.id = uuid(kRule2IdText);
    r.domain = QStringLiteral("reddit.com");
    r.displayName = QStringLiteral("Reddit");
    r.createdAt = kDecember1At8;
    r.updatedAt = kDecember1At8;
    return r;
}

QJsonObject domainJson()
{
    return {{"id", kDomainIdText}, {"domain", "reddit.com"}};
}
DoomScrollDomain fullDomain()
{
    return {uuid(kDomainIdText), QStringLiteral("reddit.com")};
}

QJsonObject configJson()
{
    return {
        {"isEnabled", true},
        {"domains", QJsonArray{domainJson(), QJsonObject{{"id", kDomain2IdText}, {"domain", "x.com"}}}},
        {"usageWindowMinutes", 30},
        {"breakMinutes", 10},
    };
}
DoomScrollConfig fullConfig()
{
    DoomScrollConfig c;
    c.isEnabled = true;
    c.domains = {fullDomain(), {uuid(kDomain2IdText), QStringLiteral("x.com")}};
    c.usageWindowMinutes = 30;
    c.breakMinutes = 10;
    return c;
}

QJsonObject runtimeJson()
{
    return {{"windowStartedAt", 1733480000.5}, {"usedSeconds", 600}, {"breakEndsAt", 1733481800.25}};
}
DoomScrollRuntimeState fullRuntime()
{
    return {1733480000.5, 600, 1733481800.25};
}

QJsonObject urgentJson()
{
    return {
        {"ruleId", kRuleIdText}, {"startedAt", 1733480100.5}, {"usedSeconds", 42}, {"fallbackExpiresAt", 1733480400.5}};
}
UrgentBreakState fullUrgent()
{
    return {uuid(kRuleIdText), 1733480100.5, 42, 1733480400.5};
}

QJsonObject snapshotJson()
{
    return {{"ruleId", kDomainIdText},       {"domain", "reddit.com"},    {"displayName", "Reddit"},
            {"reason", "Doom-scroll break"}, {"allowUrgentBreak", false}, {"kind", "doomBreak"}};
}
BlockedSiteSnapshot fullSnapshot()
{
    return {uuid(kDomainIdText),
            QStringLiteral("reddit.com"),
            QStringLiteral("Reddit"),
            QStringLiteral("Doom-scroll break"),
            false,
            QStringLiteral("doomBreak")};
}
QJsonObject ruleSnapshotJson()
{
    return {{"ruleId", kRuleIdText},
            {"domain", "youtube.com"},
            {"displayName", "YouTube"},
            {"reason", "Blocked until 5:00 PM"},
            {"allowUrgentBreak", true}};
}
BlockedSiteSnapshot ruleSnapshot()
{
    return {uuid(kRuleIdText),
            QStringLiteral("youtube.com"),
            QStringLiteral("YouTube"),
            QStringLiteral("Blocked until 5:00 PM"),
            true,
            std::nullopt};
}

QJsonObject stateJson()
{
    return {
        {"dayId", 20241206},
        {"usageSecondsByRuleId", QJsonObject{{kRuleIdText, 900}, {kRule2IdText, 3600}}},
        {"exceededRuleIds", QJsonArray{kRule2IdText, kRuleIdText}},
        {"urgentBreak", urgentJson()},
        {"blockingPausedUntil", 1733483700.75},
        {"blockedNow", QJsonArray{ruleSnapshotJson(), snapshotJson()}},
        {"validUntil", 1733480160.125},
        {"doomScroll", runtimeJson()},
        {"pauseUsedDayId", 20241206},
    };
}
SharedState fullState()
{
    SharedState s;
    s.dayId = 20241206;
    s.usageSecondsByRuleId = {{kRuleIdText, 900}, {kRule2IdText, 3600}};
    s.exceededRuleIds = {uuid(kRuleIdText), uuid(kRule2IdText)};
    s.urgentBreak = fullUrgent();
    s.blockingPausedUntil = 1733483700.75;
    s.blockedNow = {ruleSnapshot(), fullSnapshot()};
    s.validUntil = 1733480160.125;
    s.doomScroll = fullRuntime();
    s.pauseUsedDayId = 20241206;
    return s;
}
SharedState minimalState()
{
    SharedState s;
    s.dayId = 20241206;
    s.validUntil = kDecember6 + 60;
    return s;
}

QJsonObject noteJson()
{
    return {{"id", kNoteIdText},
            {"title", "Groceries"},
            {"body", "Milk\nEggs"},
            {"createdAt", "2024-12-01T08:00:00Z"},
            {"updatedAt", "2024-12-06T10:15:00Z"}};
}
Note fullNote()
{
    return {uuid(kNoteIdText), QStringLiteral("Groceries"), QStringLiteral("Milk\nEggs"), kDecember1At8, kDecember6};
}

QJsonObject subtaskJson()
{
    return {{"id", kStep1IdText}, {"title", "Outline"}, {"isCompleted", true}};
}
Subtask fullSubtask()
{
    return {uuid(kStep1IdText), QStringLiteral("Outline"), true};
}

QJsonObject taskJson()
{
    return {
        {"id", kTaskIdText},
        {"title", "Write report"},
        {"time", "9:30 AM"},
        {"priority", "high"},
        {"isCompleted", false},
        {"dueDate", "2024-12-06T17:00:00Z"},
        {"createdAt", "2024-12-01T08:00:00Z"},
        {"updatedAt", "2024-12-06T10:15:00Z"},
        {"reminderDate", "2024-12-06T16:00:00Z"},
        {"subtasks",
         QJsonArray{subtaskJson(), QJsonObject{{"id", kStep2IdText}, {"title", "Draft"}, {"isCompleted", false}}}},
        {"notes", "Ask Sam"},
        {"repeatOption", "Weekly"},
        {"recurringSeriesId", kSeriesIdText},
    };
}
TaskItem fullTask()
{
    TaskItem t;
    t.id = uuid(kTaskIdText);
    t.title = QStringLiteral("Write report");
    t.time = QStringLiteral("9:30 AM");
    t.priority = TaskItem::Priority::high;
    t.isCompleted = false;
    t.dueDate = kDecember6At17;
    t.createdAt = kDecember1At8;
    t.updatedAt = kDecember6;
    t.reminderDate = kDecember6At16;
    t.subtasks = {fullSubtask(), {uuid(kStep2IdText), QStringLiteral("Draft"), false}};
    t.notes = QStringLiteral("Ask Sam");
    t.repeatOption = RepeatOption::weekly;
    t.recurringSeriesId = uuid(kSeriesIdText);
    return t;
}
TaskItem minimalTask()
{
    TaskItem t;
    t.id = uuid(kTaskIdText);
    t.title = QStringLiteral("Call the bank");
    t.time = TaskItem::anytime;
    t.priority = TaskItem::Priority::low;
    t.isCompleted = true;
    t.createdAt = kDecember1At8;
    t.updatedAt = kDecember1At8;
    return t;
}

QJsonObject without(QJsonObject o, const QStringList& keys)
{
    for (const QString& key : keys)
        o.remove(key);
    return o;
}
QJsonObject with(QJsonObject o, const QString& key, const QJsonValue& value)
{
    o.insert(key, value);
    return o;
}

QJsonValue parseJson(const char* text)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(text), &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("bad JSON in the test: %s", qPrintable(error.errorString()));
    return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
}

QStringList sortedKeys(const QJsonObject& o)
{
    QStringList keys = o.keys();
    keys.sort();
    return keys;
}
QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

// Walks a JSON value; returns the path of the first null found, or an empty text.
QString firstNullPath(const QJsonValue& v, const QString& path = QStringLiteral("$"))
{
    if (v.isNull() || v.isUndefined())
        return path;
    if (v.isObject()) {
        const QJsonObject o = v.toObject();
        for (auto it = o.begin(); it != o.end(); ++it) {
            const QString found = firstNullPath(it.value(), path + QLatin1Char('.') + it.key());
            if (!found.isEmpty())
                return found;
        }
    } else if (v.isArray()) {
        const QJsonArray a = v.toArray();
        for (qsizetype i = 0; i < a.size(); ++i) {
            const QString found = firstNullPath(a.at(i), QStringLiteral("%1[%2]").arg(path).arg(i));
            if (!found.isEmpty())
                return found;
        }
    }
    return {};
}

const QRegularExpression& uuidPattern()
{
    static const QRegularExpression re(
        QStringLiteral("^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"));
    return re;
}

// Every text (value or object key) of a JSON value that has the form of a UUID.
void collectUuidTexts(const QJsonValue& v, QStringList& out)
{
    if (v.isString() && uuidPattern().match(v.toString()).hasMatch()) {
        out.append(v.toString());
    } else if (v.isObject()) {
        const QJsonObject o = v.toObject();
        for (auto it = o.begin(); it != o.end(); ++it) {
            if (uuidPattern().match(it.key()).hasMatch())
                out.append(it.key());
            collectUuidTexts(it.value(), out);
        }
    } else if (v.isArray()) {
        for (const QJsonValue& e : v.toArray())
            collectUuidTexts(e, out);
    }
}

// The same JSON with every UUID text value (not object keys) in lower case.
QJsonValue lowerCaseUuids(const QJsonValue& v)
{
    if (v.isString() && uuidPattern().match(v.toString()).hasMatch())
        return v.toString().toLower();
    if (v.isObject()) {
        QJsonObject o = v.toObject();
        for (auto it = o.begin(); it != o.end(); ++it)
            it.value() = lowerCaseUuids(it.value());
        return o;
    }
    if (v.isArray()) {
        QJsonArray a = v.toArray();
        for (qsizetype i = 0; i < a.size(); ++i)
            a[i] = lowerCaseUuids(a.at(i));
        return a;
    }
    return v;
}

// ---------------------------------------------------------------------------------------------
// One entry per record type, for the data-driven decoding matrices.

struct RecordType {
    QString name;
    QJsonObject full;     // every key present, every value valid
    QStringList required; // a missing or null key fails the record
    QStringList optional; // a missing or null key takes its default or is absent
    std::function<bool(const QJsonValue&, QString*)> decodes;
    std::function<bool(const QJsonValue&, const QJsonValue&)> decodeSame; // both decode, to equal values
    std::function<bool(const QJsonValue&)> reencodesWithoutNull;
};

template <typename T, typename Encode>
RecordType makeType(const QString& name, const QJsonObject& full, const QStringList& required,
                    const QStringList& optional, std::optional<T> (*decode)(const QJsonValue&, QString*), Encode encode)
{
    RecordType t;
    t.name = name;
    t.full = full;
    t.required = required;
    t.optional = optional;
    t.decodes = [decode](const QJsonValue& v, QString* error) { return decode(v, error).has_value(); };
    t.decodeSame = [decode](const QJsonValue& a, const QJsonValue& b) {
        const std::optional<T> x = decode(a, nullptr);
        const std::optional<T> y = decode(b, nullptr);
        return x && y && *x == *y;
    };
    t.reencodesWithoutNull = [decode, encode](const QJsonValue& v) {
        const std::optional<T> x = decode(v, nullptr);
        return x && firstNullPath(encode(*x)).isEmpty();
    };
    return t;
}

const QList<RecordType>& recordTypes()
{
    static const QList<RecordType> types{
        makeType<BlockRule>(QStringLiteral("BlockRule"), ruleJson(),
                            {"id", "domain", "displayName", "blockApplySchedule", "activeWeekdays", "allowOneBreak",
                             "createdAt", "updatedAt"},
                            {"dailyLimitMinutes", "urgentBreakUsedCalendarDay"}, decodeBlockRule, encodeBlockRule),
        makeType<BlockApplySchedule>(
            QStringLiteral("BlockApplySchedule"), scheduleJson(), {},
            {"isAllDay", "isAfterMaxDailyTime", "startHour", "startMinute", "endHour", "endMinute"},
            decodeBlockApplySchedule, encodeBlockApplySchedule),
        makeType<DoomScrollConfig>(QStringLiteral("DoomScrollConfig"), configJson(),
                                   {"isEnabled", "domains", "usageWindowMinutes", "breakMinutes"}, {},
                                   decodeDoomScrollConfig, encodeDoomScrollConfig),
        makeType<DoomScrollDomain>(QStringLiteral("DoomScrollDomain"), domainJson(), {"id", "domain"}, {},
                                   decodeDoomScrollDomain, encodeDoomScrollDomain),
        makeType<DoomScrollRuntimeState>(QStringLiteral("DoomScrollRuntimeState"), runtimeJson(),
                                         {"windowStartedAt", "usedSeconds"}, {"breakEndsAt"},
                                         decodeDoomScrollRuntimeState, encodeDoomScrollRuntimeState),
        makeType<SharedState>(QStringLiteral("SharedState"), stateJson(),
                              {"dayId", "usageSecondsByRuleId", "exceededRuleIds", "blockedNow", "validUntil"},
                              {"urgentBreak", "blockingPausedUntil", "doomScroll", "pauseUsedDayId"}, decodeSharedState,
                              encodeSharedState),
        makeType<UrgentBreakState>(QStringLiteral("UrgentBreakState"), urgentJson(),
                                   {"ruleId", "startedAt", "usedSeconds", "fallbackExpiresAt"}, {},
                                   decodeUrgentBreakState, encodeUrgentBreakState),
        makeType<BlockedSiteSnapshot>(QStringLiteral("BlockedSiteSnapshot"), snapshotJson(),
                                      {"ruleId", "domain", "displayName", "reason", "allowUrgentBreak"}, {"kind"},
                                      decodeBlockedSiteSnapshot, encodeBlockedSiteSnapshot),
        makeType<Note>(QStringLiteral("Note"), noteJson(), {"id"}, {"title", "body", "createdAt", "updatedAt"},
                       decodeNote, encodeNote),
        makeType<TaskItem>(
            QStringLiteral("TaskItem"), taskJson(), {"id", "title", "time", "priority", "isCompleted", "createdAt"},
            {"dueDate", "updatedAt", "reminderDate", "subtasks", "notes", "repeatOption", "recurringSeriesId"},
            decodeTaskItem, encodeTaskItem),
        makeType<Subtask>(QStringLiteral("Subtask"), subtaskJson(), {"id", "title", "isCompleted"}, {}, decodeSubtask,
                          encodeSubtask),
    };
    return types;
}

const RecordType& recordType(const QString& name)
{
    for (const RecordType& t : recordTypes())
        if (t.name == name)
            return t;
    qFatal("unknown record type %s", qPrintable(name));
    return recordTypes().first();
}

// Encodes, decodes the object and the object's file text, and compares with the value.
template <typename T, typename Encode, typename Decode>
void checkRoundTrip(const T& value, Encode encode, Decode decode)
{
    const QJsonObject encoded = encode(value);
    QVERIFY2(firstNullPath(encoded).isEmpty(), qPrintable(firstNullPath(encoded)));
    QString error;
    const std::optional<T> back = decode(encoded, &error);
    QVERIFY2(back.has_value(), qPrintable(error));
    QCOMPARE(*back, value);

    const QByteArray bytes = QJsonDocument(encoded).toJson(QJsonDocument::Indented);
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    QCOMPARE(parseError.error, QJsonParseError::NoError);
    const std::optional<T> fromText = decode(doc.object(), &error);
    QVERIFY2(fromText.has_value(), qPrintable(error));
    QCOMPARE(*fromText, value);
}

#define ROUND_TRIP(value, encode, decode)                                                                              \
    do {                                                                                                               \
        checkRoundTrip(value, encode, decode);                                                                         \
        if (QTest::currentTestFailed())                                                                                \
            return;                                                                                                    \
    } while (false)

std::optional<BlockRule> decodeRule(const QJsonValue& v)
{
    QString error;
    std::optional<BlockRule> r = decodeBlockRule(v, &error);
    if (!r)
        qWarning("BlockRule decode failed: %s", qPrintable(error));
    return r;
}
std::optional<SharedState> decodeState(const QJsonValue& v)
{
    QString error;
    std::optional<SharedState> s = decodeSharedState(v, &error);
    if (!s)
        qWarning("SharedState decode failed: %s", qPrintable(error));
    return s;
}
std::optional<TaskItem> decodeTask(const QJsonValue& v)
{
    QString error;
    std::optional<TaskItem> t = decodeTaskItem(v, &error);
    if (!t)
        qWarning("TaskItem decode failed: %s", qPrintable(error));
    return t;
}
std::optional<Note> decodeNoteValue(const QJsonValue& v)
{
    QString error;
    std::optional<Note> n = decodeNote(v, &error);
    if (!n)
        qWarning("Note decode failed: %s", qPrintable(error));
    return n;
}

// Minutes of a bitset as [from, to) ranges.
QList<int> ranges(const MinuteSet& minutes)
{
    QList<int> out;
    int m = 0;
    while (m < 1440) {
        if (!minutes.test(static_cast<size_t>(m))) {
            ++m;
            continue;
        }
        const int from = m;
        while (m < 1440 && minutes.test(static_cast<size_t>(m)))
            ++m;
        out << from << m;
    }
    return out;
}

std::optional<qint64> opt(int v)
{
    return v < 0 ? std::nullopt : std::optional<qint64>(v);
}

QString repeated(const QString& unit, int count)
{
    QString out;
    for (int i = 0; i < count; ++i)
        out += unit;
    return out;
}

const QString kFamily = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467"); // man, woman, girl: 1 character
const QString kFlag = QStringLiteral("\U0001F1EB\U0001F1F7");                         // France: 1 character
const QString kDecomposedE = QStringLiteral("e\u0301");                               // é as two code points
const QString kEllipsis = QStringLiteral("\u2026");

} // namespace

class TestRecords : public QObject {
    Q_OBJECT
private slots:
    // =========================================================================================
    // The samples themselves

    void fullSamplesDecodeToTheirValues()
    {
        std::optional<BlockRule> rule = decodeRule(ruleJson());
        QVERIFY(rule);
        QCOMPARE(*rule, fullRule());
        std::optional<BlockApplySchedule> schedule = decodeBlockApplySchedule(scheduleJson());
        QVERIFY(schedule);
        QCOMPARE(*schedule, fullSchedule());
        std::optional<DoomScrollConfig> config = decodeDoomScrollConfig(configJson());
        QVERIFY(config);
        QCOMPARE(*config, fullConfig());
        std::optional<DoomScrollDomain> domain = decodeDoomScrollDomain(domainJson());
        QVERIFY(domain);
        QCOMPARE(*domain, fullDomain());
        std::optional<DoomScrollRuntimeState> runtime = decodeDoomScrollRuntimeState(runtimeJson());
        QVERIFY(runtime);
        QCOMPARE(*runtime, fullRuntime());
        std::optional<UrgentBreakState> urgent = decodeUrgentBreakState(urgentJson());
        QVERIFY(urgent);
        QCOMPARE(*urgent, fullUrgent());
        std::optional<BlockedSiteSnapshot> snapshot = decodeBlockedSiteSnapshot(snapshotJson());
        QVERIFY(snapshot);
        QCOMPARE(*snapshot, fullSnapshot());
        std::optional<SharedState> state = decodeState(stateJson());
        QVERIFY(state);
        QCOMPARE(*state, fullState());
        std::optional<Note> note = decodeNoteValue(noteJson());
        QVERIFY(note);
        QCOMPARE(*note, fullNote());
        std::optional<Subtask> step = decodeSubtask(subtaskJson());
        QVERIFY(step);
        QCOMPARE(*step, fullSubtask());
        std::optional<TaskItem> task = decodeTask(taskJson());
        QVERIFY(task);
        QCOMPARE(*task, fullTask());
    }

    void fullSamplesHoldExactlyTheirKeys_data()
    {
        QTest::addColumn<QString>("record");
        for (const RecordType& t : recordTypes())
            QTest::newRow(qPrintable(t.name)) << t.name;
    }
    void fullSamplesHoldExactlyTheirKeys()
    {
        QFETCH(QString, record);
        const RecordType& t = recordType(record);
        QCOMPARE(sortedKeys(t.full), sorted(t.required + t.optional));
    }

    // =========================================================================================
    // Decoding matrices

    void requiredKeyMissingOrNullFails_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("asNull");
        for (const RecordType& t : recordTypes()) {
            for (const QString& key : t.required) {
                QTest::addRow("%s.%s missing", qPrintable(t.name), qPrintable(key)) << t.name << key << false;
                QTest::addRow("%s.%s null", qPrintable(t.name), qPrintable(key)) << t.name << key << true;
            }
        }
    }
    void requiredKeyMissingOrNullFails()
    {
        QFETCH(QString, record);
        QFETCH(QString, key);
        QFETCH(bool, asNull);
        const RecordType& t = recordType(record);
        QVERIFY(t.decodes(t.full, nullptr));
        const QJsonObject broken = asNull ? with(t.full, key, QJsonValue::Null) : without(t.full, {key});
        QString error;
        QVERIFY2(!t.decodes(broken, &error), qPrintable(QStringLiteral("decoded without \"%1\"").arg(key)));
        QVERIFY(!error.isEmpty());
    }

    void optionalKeyMissingOrNullStillDecodes_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("asNull");
        for (const RecordType& t : recordTypes()) {
            for (const QString& key : t.optional) {
                QTest::addRow("%s.%s missing", qPrintable(t.name), qPrintable(key)) << t.name << key << false;
                QTest::addRow("%s.%s null", qPrintable(t.name), qPrintable(key)) << t.name << key << true;
            }
        }
    }
    void optionalKeyMissingOrNullStillDecodes()
    {
        QFETCH(QString, record);
        QFETCH(QString, key);
        QFETCH(bool, asNull);
        const RecordType& t = recordType(record);
        const QJsonObject reduced = asNull ? with(t.full, key, QJsonValue::Null) : without(t.full, {key});
        QString error;
        QVERIFY2(t.decodes(reduced, &error), qPrintable(error));
        // Missing and null mean the same.
        QVERIFY(t.decodeSame(with(t.full, key, QJsonValue::Null), without(t.full, {key})));
        // And what is encoded again never holds a null.
        QVERIFY(t.reencodesWithoutNull(reduced));
    }

    void allOptionalKeysMissingOrNullAtOnce_data()
    {
        QTest::addColumn<QString>("record");
        for (const RecordType& t : recordTypes())
            QTest::newRow(qPrintable(t.name)) << t.name;
    }
    void allOptionalKeysMissingOrNullAtOnce()
    {
        QFETCH(QString, record);
        const RecordType& t = recordType(record);
        QJsonObject nulls = t.full;
        for (const QString& key : t.optional)
            nulls.insert(key, QJsonValue::Null);
        const QJsonObject missing = without(t.full, t.optional);
        QVERIFY(t.decodes(missing, nullptr));
        QVERIFY(t.decodeSame(missing, nulls));
        QVERIFY(t.reencodesWithoutNull(missing));
    }

    void nonObjectsFail_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<QJsonValue>("value");
        for (const RecordType& t : recordTypes()) {
            QTest::addRow("%s from null", qPrintable(t.name)) << t.name << QJsonValue(QJsonValue::Null);
            QTest::addRow("%s from undefined", qPrintable(t.name)) << t.name << QJsonValue(QJsonValue::Undefined);
            QTest::addRow("%s from array", qPrintable(t.name)) << t.name << QJsonValue(QJsonArray{t.full});
            QTest::addRow("%s from text", qPrintable(t.name)) << t.name << QJsonValue(QStringLiteral("{}"));
            QTest::addRow("%s from number", qPrintable(t.name)) << t.name << QJsonValue(1);
            QTest::addRow("%s from bool", qPrintable(t.name)) << t.name << QJsonValue(true);
        }
    }
    void nonObjectsFail()
    {
        QFETCH(QString, record);
        QFETCH(QJsonValue, value);
        QVERIFY(!recordType(record).decodes(value, nullptr));
    }

    void wrongTypeFails_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value");
        auto row = [](const char* record, const char* key, const char* label, const QJsonValue& value) {
            QTest::addRow("%s.%s %s", record, key, label)
                << QString::fromLatin1(record) << QString::fromLatin1(key) << value;
        };
        const QString lower = kRuleIdText.toLower();

        // BlockRule: required keys
        row("BlockRule", "id", "number", 42);
        row("BlockRule", "id", "not a UUID", "not-a-uuid");
        row("BlockRule", "id", "braces", QStringLiteral("{%1}").arg(kRuleIdText));
        row("BlockRule", "id", "no dashes", QString(kRuleIdText).remove(u'-'));
        row("BlockRule", "id", "trailing garbage", kRuleIdText + QStringLiteral("0"));
        row("BlockRule", "id", "urn", QStringLiteral("urn:uuid:") + lower);
        row("BlockRule", "id", "non-hex", QString(kRuleIdText).replace(0, 1, u'G'));
        row("BlockRule", "id", "array", QJsonArray{kRuleIdText});
        row("BlockRule", "domain", "number", 1);
        row("BlockRule", "domain", "array", QJsonArray{"youtube.com"});
        row("BlockRule", "displayName", "bool", true);
        row("BlockRule", "blockApplySchedule", "text", "allDay");
        row("BlockRule", "blockApplySchedule", "array", QJsonArray{});
        row("BlockRule", "blockApplySchedule", "bad isAllDay", QJsonObject{{"isAllDay", "yes"}});
        row("BlockRule", "blockApplySchedule", "bad startHour", QJsonObject{{"isAllDay", false}, {"startHour", "9"}});
        row("BlockRule", "activeWeekdays", "object", QJsonObject{});
        row("BlockRule", "activeWeekdays", "number", 1);
        row("BlockRule", "activeWeekdays", "texts", QJsonArray{"1"});
        row("BlockRule", "activeWeekdays", "fraction", QJsonArray{1, 2.5});
        row("BlockRule", "activeWeekdays", "null element", QJsonArray{1, QJsonValue::Null});
        row("BlockRule", "activeWeekdays", "bool element", QJsonArray{true});
        row("BlockRule", "allowOneBreak", "number", 1);
        row("BlockRule", "allowOneBreak", "text", "true");
        row("BlockRule", "createdAt", "number", kDecember1At8);
        row("BlockRule", "createdAt", "date only", "2024-12-01");
        row("BlockRule", "createdAt", "zone-less", "2024-12-01T08:00:00");
        row("BlockRule", "createdAt", "fraction", "2024-12-01T08:00:00.500Z");
        row("BlockRule", "updatedAt", "prose", "yesterday");
        // BlockRule: optional keys, present with the wrong type
        row("BlockRule", "dailyLimitMinutes", "text", "30");
        row("BlockRule", "dailyLimitMinutes", "fraction", 30.5);
        row("BlockRule", "dailyLimitMinutes", "bool", true);
        row("BlockRule", "dailyLimitMinutes", "object", QJsonObject{});
        row("BlockRule", "dailyLimitMinutes", "too large", 1e300);
        row("BlockRule", "dailyLimitMinutes", "2^63", 9223372036854775808.0);
        row("BlockRule", "dailyLimitMinutes", "-1e19", -1e19);
        row("BlockRule", "urgentBreakUsedCalendarDay", "text", "20241205");
        row("BlockRule", "urgentBreakUsedCalendarDay", "bool", false);
        row("BlockRule", "urgentBreakUsedCalendarDay", "fraction", 20241205.5);

        // BlockApplySchedule: every key optional, every wrong type an error
        row("BlockApplySchedule", "isAllDay", "number", 1);
        row("BlockApplySchedule", "isAllDay", "text", "true");
        row("BlockApplySchedule", "isAfterMaxDailyTime", "number", 0);
        row("BlockApplySchedule", "isAfterMaxDailyTime", "object", QJsonObject{});
        row("BlockApplySchedule", "startHour", "text", "9");
        row("BlockApplySchedule", "startHour", "fraction", 9.5);
        row("BlockApplySchedule", "startMinute", "fraction", 0.5);
        row("BlockApplySchedule", "endHour", "bool", true);
        row("BlockApplySchedule", "endMinute", "array", QJsonArray{0});
        row("BlockApplySchedule", "endMinute", "too large", 1e20);

        // DoomScrollConfig
        row("DoomScrollConfig", "isEnabled", "text", "yes");
        row("DoomScrollConfig", "isEnabled", "number", 1);
        row("DoomScrollConfig", "domains", "object", QJsonObject{});
        row("DoomScrollConfig", "domains", "texts", QJsonArray{"reddit.com"});
        row("DoomScrollConfig", "domains", "one bad entry", QJsonArray{domainJson(), QJsonObject{{"domain", "x.com"}}});
        row("DoomScrollConfig", "domains", "null entry", QJsonArray{domainJson(), QJsonValue::Null});
        row("DoomScrollConfig", "usageWindowMinutes", "text", "20");
        row("DoomScrollConfig", "usageWindowMinutes", "fraction", 20.5);
        row("DoomScrollConfig", "breakMinutes", "fraction", 5.5);
        row("DoomScrollConfig", "breakMinutes", "bool", true);

        // DoomScrollDomain
        row("DoomScrollDomain", "id", "number", 1);
        row("DoomScrollDomain", "id", "not a UUID", "reddit");
        row("DoomScrollDomain", "domain", "number", 3);

        // DoomScrollRuntimeState
        row("DoomScrollRuntimeState", "windowStartedAt", "text", "0");
        row("DoomScrollRuntimeState", "windowStartedAt", "ISO date", "2024-12-06T10:15:00Z");
        row("DoomScrollRuntimeState", "usedSeconds", "fraction", 1.5);
        row("DoomScrollRuntimeState", "usedSeconds", "text", "3");
        row("DoomScrollRuntimeState", "breakEndsAt", "text", "later");
        row("DoomScrollRuntimeState", "breakEndsAt", "bool", true);

        // SharedState
        row("SharedState", "dayId", "text", "20241206");
        row("SharedState", "dayId", "fraction", 20241206.5);
        row("SharedState", "usageSecondsByRuleId", "array", QJsonArray{});
        row("SharedState", "usageSecondsByRuleId", "text value", QJsonObject{{kRuleIdText, "5"}});
        row("SharedState", "usageSecondsByRuleId", "fraction value", QJsonObject{{kRuleIdText, 1.5}});
        row("SharedState", "usageSecondsByRuleId", "null value", QJsonObject{{kRuleIdText, QJsonValue::Null}});
        row("SharedState", "usageSecondsByRuleId", "too large value", QJsonObject{{kRuleIdText, 1e300}});
        row("SharedState", "exceededRuleIds", "object", QJsonObject{});
        row("SharedState", "exceededRuleIds", "number element", QJsonArray{1});
        row("SharedState", "exceededRuleIds", "non-UUID element", QJsonArray{kRuleIdText, "nope"});
        row("SharedState", "exceededRuleIds", "null element", QJsonArray{QJsonValue::Null});
        row("SharedState", "urgentBreak", "text", "x");
        row("SharedState", "urgentBreak", "empty object", QJsonObject{});
        row("SharedState", "urgentBreak", "bad usedSeconds", with(urgentJson(), "usedSeconds", "42"));
        row("SharedState", "blockingPausedUntil", "text", "soon");
        row("SharedState", "blockingPausedUntil", "ISO date", "2024-12-06T10:15:00Z");
        row("SharedState", "blockedNow", "object", QJsonObject{});
        row("SharedState", "blockedNow", "number element", QJsonArray{1});
        row("SharedState", "blockedNow", "element without reason",
            QJsonArray{ruleSnapshotJson(), without(snapshotJson(), {"reason"})});
        row("SharedState", "validUntil", "text", "1733480160");
        row("SharedState", "validUntil", "bool", false);
        row("SharedState", "doomScroll", "array", QJsonArray{});
        row("SharedState", "doomScroll", "empty object", QJsonObject{});
        row("SharedState", "pauseUsedDayId", "text", "20241206");
        row("SharedState", "pauseUsedDayId", "fraction", 1.5);

        // UrgentBreakState
        row("UrgentBreakState", "ruleId", "number", 1);
        row("UrgentBreakState", "ruleId", "not a UUID", "rule");
        row("UrgentBreakState", "startedAt", "text", "x");
        row("UrgentBreakState", "usedSeconds", "fraction", 0.5);
        row("UrgentBreakState", "fallbackExpiresAt", "bool", false);

        // BlockedSiteSnapshot
        row("BlockedSiteSnapshot", "ruleId", "not a UUID", "x");
        row("BlockedSiteSnapshot", "domain", "number", 1);
        row("BlockedSiteSnapshot", "displayName", "number", 1);
        row("BlockedSiteSnapshot", "reason", "array", QJsonArray{});
        row("BlockedSiteSnapshot", "allowUrgentBreak", "text", "no");
        row("BlockedSiteSnapshot", "allowUrgentBreak", "number", 0);
        row("BlockedSiteSnapshot", "kind", "number", 5);
        row("BlockedSiteSnapshot", "kind", "bool", true);

        // Note: only the id is strict (the lenient keys have their own test)
        row("Note", "id", "number", 5);
        row("Note", "id", "not a UUID", "x");
        row("Note", "id", "braces", QStringLiteral("{%1}").arg(kNoteIdText));

        // TaskItem: required keys
        row("TaskItem", "id", "not a UUID", "x");
        row("TaskItem", "title", "number", 1);
        row("TaskItem", "time", "number", 930);
        row("TaskItem", "priority", "capitalised", "High");
        row("TaskItem", "priority", "unknown", "urgent");
        row("TaskItem", "priority", "empty", "");
        row("TaskItem", "priority", "number", 0);
        row("TaskItem", "isCompleted", "text", "false");
        row("TaskItem", "isCompleted", "number", 0);
        row("TaskItem", "createdAt", "number", kDecember1At8);
        row("TaskItem", "createdAt", "zone-less", "2024-12-01T08:00:00");
        // TaskItem: optional keys, present with the wrong type
        row("TaskItem", "dueDate", "number", kDecember6At17);
        row("TaskItem", "dueDate", "date only", "2024-12-06");
        row("TaskItem", "updatedAt", "prose", "bad");
        row("TaskItem", "updatedAt", "number", kDecember6);
        row("TaskItem", "reminderDate", "text", "x");
        row("TaskItem", "reminderDate", "lower-case z", "2024-12-06T16:00:00z");
        row("TaskItem", "subtasks", "object", QJsonObject{});
        row("TaskItem", "subtasks", "number element", QJsonArray{1});
        row("TaskItem", "subtasks", "step without isCompleted",
            QJsonArray{subtaskJson(), QJsonObject{{"id", kStep2IdText}, {"title", "Draft"}}});
        row("TaskItem", "notes", "number", 5);
        row("TaskItem", "notes", "array", QJsonArray{"Ask Sam"});
        row("TaskItem", "repeatOption", "lower case", "daily");
        row("TaskItem", "repeatOption", "lower-case none", "none");
        row("TaskItem", "repeatOption", "upper case", "WEEKLY");
        row("TaskItem", "repeatOption", "unknown", "Yearly");
        row("TaskItem", "repeatOption", "number", 0);
        row("TaskItem", "recurringSeriesId", "number", 5);
        row("TaskItem", "recurringSeriesId", "not a UUID", "x");

        // Subtask
        row("Subtask", "id", "not a UUID", "x");
        row("Subtask", "title", "number", 1);
        row("Subtask", "isCompleted", "text", "yes");
    }
    void wrongTypeFails()
    {
        QFETCH(QString, record);
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        const RecordType& t = recordType(record);
        QVERIFY(t.full.contains(key));
        QString error;
        QVERIFY2(!t.decodes(with(t.full, key, value), &error), "decoded a value of the wrong type");
        QVERIFY(!error.isEmpty());
    }

    void unknownKeysAreIgnored_data()
    {
        QTest::addColumn<QString>("record");
        for (const RecordType& t : recordTypes())
            QTest::newRow(qPrintable(t.name)) << t.name;
    }
    void unknownKeysAreIgnored()
    {
        QFETCH(QString, record);
        const RecordType& t = recordType(record);
        QJsonObject extended = t.full;
        extended.insert(QStringLiteral("unknownKey"), 1);
        extended.insert(QStringLiteral("nested"), QJsonObject{{"deeper", QJsonArray{QJsonValue::Null, "x"}}});
        extended.insert(QStringLiteral("nothing"), QJsonValue::Null);
        extended.insert(QStringLiteral("ID"), QStringLiteral("not the id")); // keys are case-sensitive
        extended.insert(QStringLiteral("Title"), 5);
        extended.insert(QStringLiteral("goals"), QJsonArray{1, 2, 3});
        QVERIFY(t.decodeSame(extended, t.full));
        // Also on the minimal form.
        QJsonObject minimal = without(t.full, t.optional);
        minimal.insert(QStringLiteral("unknownKey"), QJsonObject{});
        QVERIFY(t.decodeSame(minimal, without(t.full, t.optional)));
    }

    void unknownKeysInsideNestedRecordsAreIgnored()
    {
        QJsonObject rule = ruleJson();
        rule.insert("blockApplySchedule", with(scheduleJson(), "timeZone", "UTC"));
        QCOMPARE(decodeRule(rule).value(), fullRule());

        QJsonObject state = stateJson();
        state.insert("urgentBreak", with(urgentJson(), "extra", true));
        state.insert("doomScroll", with(runtimeJson(), "extra", "x"));
        state.insert("blockedNow", QJsonArray{with(ruleSnapshotJson(), "extra", 1), snapshotJson()});
        QCOMPARE(decodeState(state).value(), fullState());

        QJsonObject task = taskJson();
        task.insert("subtasks",
                    QJsonArray{with(subtaskJson(), "extra", QJsonObject{}),
                               QJsonObject{{"id", kStep2IdText}, {"title", "Draft"}, {"isCompleted", false}}});
        QCOMPARE(decodeTask(task).value(), fullTask());

        QJsonObject config = configJson();
        config.insert("domains", QJsonArray{with(domainJson(), "extra", 1),
                                            QJsonObject{{"id", kDomain2IdText}, {"domain", "x.com"}}});
        QCOMPARE(decodeDoomScrollConfig(config).value(), fullConfig());
    }

    // =========================================================================================
    // Defaults for missing and null keys

    void ruleOptionalsMissingOrNullAreAbsent()
    {
        for (const bool asNull : {false, true}) {
            QJsonObject o = ruleJson();
            for (const char* key : {"dailyLimitMinutes", "urgentBreakUsedCalendarDay"})
                asNull ? void(o.insert(key, QJsonValue::Null)) : void(o.remove(key));
            const std::optional<BlockRule> rule = decodeRule(o);
            QVERIFY(rule);
            QVERIFY(!rule->dailyLimitMinutes);
            QVERIFY(!rule->urgentBreakUsedCalendarDay);
            BlockRule expected = fullRule();
            expected.dailyLimitMinutes.reset();
            expected.urgentBreakUsedCalendarDay.reset();
            QCOMPARE(*rule, expected);
            // Written again, both keys are left out.
            const QJsonObject again = encodeBlockRule(*rule);
            QVERIFY(!again.contains("dailyLimitMinutes"));
            QVERIFY(!again.contains("urgentBreakUsedCalendarDay"));
        }
    }

    void scheduleDefaults_data()
    {
        QTest::addColumn<QJsonValue>("json");
        QTest::addColumn<bool>("isAllDay");
        QTest::addColumn<bool>("isAfterMaxDailyTime");
        QTest::newRow("{}") << QJsonValue(QJsonObject{}) << true << false;
        QTest::newRow("all null") << parseJson(R"({"isAllDay": null, "isAfterMaxDailyTime": null, "startHour": null,
                                                    "startMinute": null, "endHour": null, "endMinute": null})")
                                  << true << false;
        QTest::newRow("isAllDay false") << parseJson(R"({"isAllDay": false})") << false << false;
        QTest::newRow("after limit only") << parseJson(R"({"isAfterMaxDailyTime": true})") << true << true;
        QTest::newRow("unknown keys only") << parseJson(R"({"mode": "window", "start": "09:00"})") << true << false;
    }
    void scheduleDefaults()
    {
        QFETCH(QJsonValue, json);
        QFETCH(bool, isAllDay);
        QFETCH(bool, isAfterMaxDailyTime);
        const std::optional<BlockApplySchedule> s = decodeBlockApplySchedule(json);
        QVERIFY(s);
        QCOMPARE(s->isAllDay, isAllDay);
        QCOMPARE(s->isAfterMaxDailyTime, isAfterMaxDailyTime);
        QVERIFY(!s->startHour && !s->startMinute && !s->endHour && !s->endMinute);
        // A window schedule without a window covers nothing.
        QVERIFY(BlockRule::blockedMinutes(s->startHour, s->startMinute, s->endHour, s->endMinute).none());
        // Written again: the flags always, no window keys.
        QCOMPARE(sortedKeys(encodeBlockApplySchedule(*s)), (QStringList{"isAfterMaxDailyTime", "isAllDay"}));
    }

    void emptyScheduleObjectInARule()
    {
        const std::optional<BlockRule> rule = decodeRule(with(ruleJson(), "blockApplySchedule", QJsonObject{}));
        QVERIFY(rule);
        QCOMPARE(rule->blockApplySchedule, BlockApplySchedule{});
        QVERIFY(rule->blockApplySchedule.isAllDay);
        // The nested object itself is required, even though all its keys are optional.
        QVERIFY(!decodeBlockRule(without(ruleJson(), {"blockApplySchedule"})));
        QVERIFY(!decodeBlockRule(with(ruleJson(), "blockApplySchedule", QJsonValue::Null)));
    }

    void activeWeekdays()
    {
        const std::optional<BlockRule> everyDay = decodeRule(with(ruleJson(), "activeWeekdays", QJsonArray{}));
        QVERIFY(everyDay);
        QVERIFY(everyDay->activeWeekdays.isEmpty());
        const std::optional<BlockRule> weekend = decodeRule(with(ruleJson(), "activeWeekdays", QJsonArray{1, 7}));
        QVERIFY(weekend);
        QCOMPARE(weekend->activeWeekdays, (QSet<int>{1, 7}));
        // Repeated elements collapse into the set.
        const std::optional<BlockRule> repeated =
            decodeRule(with(ruleJson(), "activeWeekdays", QJsonArray{7, 1, 7, 1}));
        QVERIFY(repeated);
        QCOMPARE(repeated->activeWeekdays, (QSet<int>{1, 7}));
        QCOMPARE(*repeated, *weekend);
        // An empty set is written as an empty array.
        QCOMPARE(encodeBlockRule(*everyDay).value("activeWeekdays"), QJsonValue(QJsonArray{}));
    }

    void taskDefaultsForMissingKeys()
    {
        const QJsonObject o = without(taskJson(), {"updatedAt", "subtasks", "repeatOption", "dueDate", "reminderDate",
                                                   "notes", "recurringSeriesId"});
        const std::optional<TaskItem> t = decodeTask(o);
        QVERIFY(t);
        QCOMPARE(t->updatedAt, t->createdAt);
        QCOMPARE(t->updatedAt, kDecember1At8);
        QVERIFY(t->subtasks.empty());
        QCOMPARE(t->repeatOption, RepeatOption::none);
        QVERIFY(!t->dueDate && !t->reminderDate && !t->notes && !t->recurringSeriesId);
        // Written again: updatedAt, subtasks and repeatOption are always there; the four optionals not.
        const QJsonObject again = encodeTaskItem(*t);
        QCOMPARE(again.value("updatedAt").toString(), QStringLiteral("2024-12-01T08:00:00Z"));
        QCOMPARE(again.value("subtasks"), QJsonValue(QJsonArray{}));
        QCOMPARE(again.value("repeatOption").toString(), QStringLiteral("None"));
        QCOMPARE(sortedKeys(again), sorted({"id", "title", "time", "priority", "isCompleted", "createdAt", "updatedAt",
                                            "subtasks", "repeatOption"}));
    }

    void taskDefaultsForNullKeys()
    {
        QJsonObject o = taskJson();
        for (const char* key :
             {"updatedAt", "subtasks", "repeatOption", "dueDate", "reminderDate", "notes", "recurringSeriesId"})
            o.insert(key, QJsonValue::Null);
        const std::optional<TaskItem> t = decodeTask(o);
        QVERIFY(t);
        QCOMPARE(t->updatedAt, kDecember1At8);
        QVERIFY(t->subtasks.empty());
        QCOMPARE(t->repeatOption, RepeatOption::none);
        QVERIFY(!t->dueDate && !t->reminderDate && !t->notes && !t->recurringSeriesId);
        QVERIFY(firstNullPath(encodeTaskItem(*t)).isEmpty());
    }

    void taskOptionalTextsKeepEmptyValues()
    {
        // An empty notes text is present, not absent.
        const std::optional<TaskItem> t = decodeTask(with(taskJson(), "notes", ""));
        QVERIFY(t);
        QVERIFY(t->notes.has_value());
        QCOMPARE(*t->notes, QString());
        QVERIFY(encodeTaskItem(*t).contains("notes"));
        // An empty steps array is an empty list.
        const std::optional<TaskItem> noSteps = decodeTask(with(taskJson(), "subtasks", QJsonArray{}));
        QVERIFY(noSteps);
        QVERIFY(noSteps->subtasks.empty());
    }

    void stateOptionalsMissingOrNullAreAbsent()
    {
        const QStringList keys{"urgentBreak", "blockingPausedUntil", "doomScroll", "pauseUsedDayId"};
        for (const bool asNull : {false, true}) {
            QJsonObject o = stateJson();
            for (const QString& key : keys)
                asNull ? void(o.insert(key, QJsonValue::Null)) : void(o.remove(key));
            const std::optional<SharedState> s = decodeState(o);
            QVERIFY(s);
            QVERIFY(!s->urgentBreak && !s->blockingPausedUntil && !s->doomScroll && !s->pauseUsedDayId);
            QCOMPARE(s->blockedNow.size(), size_t(2));
            const QJsonObject again = encodeSharedState(*s);
            for (const QString& key : keys)
                QVERIFY2(!again.contains(key), qPrintable(key));
            QCOMPARE(sortedKeys(again),
                     sorted({"dayId", "usageSecondsByRuleId", "exceededRuleIds", "blockedNow", "validUntil"}));
        }
    }

    void stateEmptyCollections()
    {
        const std::optional<SharedState> s = decodeState(parseJson(
            R"({"dayId": 20241206, "usageSecondsByRuleId": {}, "exceededRuleIds": [], "blockedNow": [], "validUntil": 0})"));
        QVERIFY(s);
        QVERIFY(s->usageSecondsByRuleId.isEmpty());
        QVERIFY(s->exceededRuleIds.isEmpty());
        QVERIFY(s->blockedNow.empty());
        QCOMPARE(s->validUntil, 0.0);
    }

    void snapshotKind()
    {
        for (const bool asNull : {false, true}) {
            const QJsonObject o =
                asNull ? with(snapshotJson(), "kind", QJsonValue::Null) : without(snapshotJson(), {"kind"});
            const std::optional<BlockedSiteSnapshot> s = decodeBlockedSiteSnapshot(o);
            QVERIFY(s);
            QVERIFY(!s->kind);
            QVERIFY(!encodeBlockedSiteSnapshot(*s).contains("kind"));
        }
        const std::optional<BlockedSiteSnapshot> doom = decodeBlockedSiteSnapshot(snapshotJson());
        QVERIFY(doom);
        QCOMPARE(doom->kind.value_or(QString()), BlockedSiteSnapshot::doomBreakKind);
        QCOMPARE(encodeBlockedSiteSnapshot(*doom).value("kind").toString(), QStringLiteral("doomBreak"));
        QCOMPARE(decodeBlockedSiteSnapshot(encodeBlockedSiteSnapshot(*doom)).value(), *doom);
        // Any other text is carried as it is.
        const std::optional<BlockedSiteSnapshot> other =
            decodeBlockedSiteSnapshot(with(snapshotJson(), "kind", "future"));
        QVERIFY(other);
        QCOMPARE(other->kind.value_or(QString()), QStringLiteral("future"));
    }

    void runtimeWithoutBreak()
    {
        for (const bool asNull : {false, true}) {
            const QJsonObject o =
                asNull ? with(runtimeJson(), "breakEndsAt", QJsonValue::Null) : without(runtimeJson(), {"breakEndsAt"});
            const std::optional<DoomScrollRuntimeState> s = decodeDoomScrollRuntimeState(o);
            QVERIFY(s);
            QVERIFY(!s->breakEndsAt);
            QCOMPARE(s->windowStartedAt, 1733480000.5);
            QCOMPARE(s->usedSeconds, qint64(600));
            QCOMPARE(sortedKeys(encodeDoomScrollRuntimeState(*s)), (QStringList{"usedSeconds", "windowStartedAt"}));
        }
    }

    void configWithoutSites()
    {
        const std::optional<DoomScrollConfig> c = decodeDoomScrollConfig(with(configJson(), "domains", QJsonArray{}));
        QVERIFY(c);
        QVERIFY(c->domains.empty());
        QVERIFY(c->isEnabled);
        QCOMPARE(c->usageWindowMinutes, qint64(30));
        QCOMPARE(c->breakMinutes, qint64(10));
        // No per-key defaults: without "breakMinutes" the whole configuration fails.
        QVERIFY(!decodeDoomScrollConfig(without(configJson(), {"breakMinutes"})));
        QVERIFY(!decodeDoomScrollConfig(QJsonObject{}));
    }

    void configDefaults()
    {
        const DoomScrollConfig d = DoomScrollConfig::defaults();
        QCOMPARE(d.isEnabled, false);
        QVERIFY(d.domains.empty());
        QCOMPARE(d.usageWindowMinutes, qint64(20));
        QCOMPARE(d.breakMinutes, qint64(5));
    }

    // =========================================================================================
    // Notes: lenient decoding

    void noteFromIdOnly()
    {
        for (const QString& id : {kNoteIdText, kNoteIdText.toLower()}) {
            const std::optional<Note> n = decodeNoteValue(QJsonObject{{"id", id}});
            QVERIFY(n);
            QCOMPARE(n->id, uuid(kNoteIdText));
            QCOMPARE(n->title, QString());
            QCOMPARE(n->body, QString());
            QCOMPARE(n->createdAt, 0.0);
            QCOMPARE(n->updatedAt, 0.0);
            // Encoding always writes all five keys.
            const QJsonObject again = encodeNote(*n);
            QCOMPARE(sortedKeys(again), sorted({"id", "title", "body", "createdAt", "updatedAt"}));
            QCOMPARE(again.value("createdAt").toString(), QStringLiteral("1970-01-01T00:00:00Z"));
            QCOMPARE(again.value("updatedAt").toString(), QStringLiteral("1970-01-01T00:00:00Z"));
            QCOMPARE(again.value("title").toString(), QString());
            QVERIFY(again.value("title").isString());
            QCOMPARE(again.value("id").toString(), kNoteIdText);
        }
    }

    void noteLenientFallbacks_data()
    {
        QTest::addColumn<QJsonObject>("json");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("body");
        QTest::addColumn<double>("createdAt");
        QTest::addColumn<double>("updatedAt");
        const QJsonObject full = noteJson();
        QTest::newRow("title number") << with(full, "title", 42) << QString() << "Milk\nEggs" << kDecember1At8
                                      << kDecember6;
        QTest::newRow("title null") << with(full, "title", QJsonValue::Null) << QString() << "Milk\nEggs"
                                    << kDecember1At8 << kDecember6;
        QTest::newRow("title bool") << with(full, "title", true) << QString() << "Milk\nEggs" << kDecember1At8
                                    << kDecember6;
        QTest::newRow("title object") << with(full, "title", QJsonObject{{"text", "x"}}) << QString() << "Milk\nEggs"
                                      << kDecember1At8 << kDecember6;
        QTest::newRow("body array") << with(full, "body", QJsonArray{"Milk"}) << "Groceries" << QString()
                                    << kDecember1At8 << kDecember6;
        QTest::newRow("body missing") << without(full, {"body"}) << "Groceries" << QString() << kDecember1At8
                                      << kDecember6;
        QTest::newRow("body null") << with(full, "body", QJsonValue::Null) << "Groceries" << QString() << kDecember1At8
                                   << kDecember6;
        QTest::newRow("createdAt missing") << without(full, {"createdAt"}) << "Groceries"
                                           << "Milk\nEggs" << 0.0 << kDecember6;
        QTest::newRow("createdAt null") << with(full, "createdAt", QJsonValue::Null) << "Groceries"
                                        << "Milk\nEggs" << 0.0 << kDecember6;
        QTest::newRow("createdAt number") << with(full, "createdAt", kDecember1At8) << "Groceries"
                                          << "Milk\nEggs" << 0.0 << kDecember6;
        QTest::newRow("createdAt date only") << with(full, "createdAt", "2024-12-01") << "Groceries"
                                             << "Milk\nEggs" << 0.0 << kDecember6;
        QTest::newRow("updatedAt missing") << without(full, {"updatedAt"}) << "Groceries"
                                           << "Milk\nEggs" << kDecember1At8 << kDecember1At8;
        QTest::newRow("updatedAt null") << with(full, "updatedAt", QJsonValue::Null) << "Groceries"
                                        << "Milk\nEggs" << kDecember1At8 << kDecember1At8;
        QTest::newRow("updatedAt not ISO 8601") << with(full, "updatedAt", "Dec 6, 2024") << "Groceries"
                                                << "Milk\nEggs" << kDecember1At8 << kDecember1At8;
        QTest::newRow("updatedAt fraction") << with(full, "updatedAt", "2024-12-06T10:15:00.5Z") << "Groceries"
                                            << "Milk\nEggs" << kDecember1At8 << kDecember1At8;
        QTest::newRow("updatedAt number") << with(full, "updatedAt", kDecember6) << "Groceries"
                                          << "Milk\nEggs" << kDecember1At8 << kDecember1At8;
        QTest::newRow("both dates unreadable") << with(with(full, "createdAt", 1), "updatedAt", false) << "Groceries"
                                               << "Milk\nEggs" << 0.0 << 0.0;
        QTest::newRow("createdAt unreadable, updatedAt fine") << with(full, "createdAt", "soon") << "Groceries"
                                                              << "Milk\nEggs" << 0.0 << kDecember6;
        QTest::newRow("updatedAt with offset") << with(full, "updatedAt", "2024-12-06T11:15:00+01:00") << "Groceries"
                                               << "Milk\nEggs" << kDecember1At8 << kDecember6;
    }
    void noteLenientFallbacks()
    {
        QFETCH(QJsonObject, json);
        QFETCH(QString, title);
        QFETCH(QString, body);
        QFETCH(double, createdAt);
        QFETCH(double, updatedAt);
        const std::optional<Note> n = decodeNoteValue(json);
        QVERIFY(n);
        QCOMPARE(n->id, uuid(kNoteIdText));
        QCOMPARE(n->title, title);
        QCOMPARE(n->body, body);
        QCOMPARE(n->createdAt, createdAt);
        QCOMPARE(n->updatedAt, updatedAt);
    }

    void noteWithoutIdFails()
    {
        QVERIFY(!decodeNote(without(noteJson(), {"id"})));
        QVERIFY(!decodeNote(with(noteJson(), "id", QJsonValue::Null)));
        QVERIFY(!decodeNote(with(noteJson(), "id", "")));
        QVERIFY(!decodeNote(QJsonObject{}));
    }

    // =========================================================================================
    // Round trips and the written form

    void roundTrips()
    {
        ROUND_TRIP(fullRule(), encodeBlockRule, decodeBlockRule);
        ROUND_TRIP(minimalRule(), encodeBlockRule, decodeBlockRule);
        BlockRule limit = minimalRule();
        limit.blockApplySchedule = {false, true, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
        limit.dailyLimitMinutes = 0;
        limit.activeWeekdays = {1, 2, 3, 4, 5, 6, 7};
        ROUND_TRIP(limit, encodeBlockRule, decodeBlockRule);
        BlockRule partialWindow = minimalRule();
        partialWindow.blockApplySchedule = {false, false, 22, std::nullopt, 6, 0};
        ROUND_TRIP(partialWindow, encodeBlockRule, decodeBlockRule);
        BlockRule before1970 = minimalRule();
        before1970.createdAt = -86400;
        before1970.updatedAt = -1;
        ROUND_TRIP(before1970, encodeBlockRule, decodeBlockRule);

        ROUND_TRIP(fullSchedule(), encodeBlockApplySchedule, decodeBlockApplySchedule);
        ROUND_TRIP(BlockApplySchedule{}, encodeBlockApplySchedule, decodeBlockApplySchedule);

        ROUND_TRIP(fullConfig(), encodeDoomScrollConfig, decodeDoomScrollConfig);
        ROUND_TRIP(DoomScrollConfig::defaults(), encodeDoomScrollConfig, decodeDoomScrollConfig);
        ROUND_TRIP(fullDomain(), encodeDoomScrollDomain, decodeDoomScrollDomain);
        ROUND_TRIP(fullRuntime(), encodeDoomScrollRuntimeState, decodeDoomScrollRuntimeState);
        ROUND_TRIP((DoomScrollRuntimeState{-12.75, 0, std::nullopt}), encodeDoomScrollRuntimeState,
                   decodeDoomScrollRuntimeState);

        ROUND_TRIP(fullUrgent(), encodeUrgentBreakState, decodeUrgentBreakState);
        ROUND_TRIP(fullSnapshot(), encodeBlockedSiteSnapshot, decodeBlockedSiteSnapshot);
        ROUND_TRIP(ruleSnapshot(), encodeBlockedSiteSnapshot, decodeBlockedSiteSnapshot);
        ROUND_TRIP(fullState(), encodeSharedState, decodeSharedState);
        ROUND_TRIP(minimalState(), encodeSharedState, decodeSharedState);
        // Times are numbers: fractions survive exactly, also through the file text.
        SharedState precise = fullState();
        precise.validUntil = 1733480160.123456789;
        precise.blockingPausedUntil = 0.1 + 0.2;
        precise.doomScroll->windowStartedAt = -0.000001;
        precise.urgentBreak->fallbackExpiresAt = 1e-300;
        ROUND_TRIP(precise, encodeSharedState, decodeSharedState);

        ROUND_TRIP(fullNote(), encodeNote, decodeNote);
        ROUND_TRIP((Note{uuid(kNoteIdText), QString(), QString(), 0, 0}), encodeNote, decodeNote);
        ROUND_TRIP(
            (Note{uuid(kNoteIdText), QStringLiteral("  Ünïcødé \U0001F600 "),
                  QStringLiteral("line 1\r\nline 2\u2028line 3\ttab \"quoted\" / slash \\ back"), -1, 4102444800}),
            encodeNote, decodeNote);

        ROUND_TRIP(fullSubtask(), encodeSubtask, decodeSubtask);
        ROUND_TRIP(fullTask(), encodeTaskItem, decodeTaskItem);
        ROUND_TRIP(minimalTask(), encodeTaskItem, decodeTaskItem);
        for (const TaskItem::Priority p : TaskItem::allPriorities()) {
            for (const RepeatOption r : allRepeatOptions()) {
                TaskItem t = fullTask();
                t.priority = p;
                t.repeatOption = r;
                ROUND_TRIP(t, encodeTaskItem, decodeTaskItem);
            }
        }
    }

    void datesAreWrittenWithoutFractions()
    {
        BlockRule rule = minimalRule();
        rule.createdAt = kDecember6 + 0.9;
        rule.updatedAt = -0.5;
        const QJsonObject o = encodeBlockRule(rule);
        QCOMPARE(o.value("createdAt").toString(), QStringLiteral("2024-12-06T10:15:00Z"));
        QCOMPARE(o.value("updatedAt").toString(), QStringLiteral("1969-12-31T23:59:59Z"));
        const std::optional<BlockRule> back = decodeRule(o);
        QVERIFY(back);
        QCOMPARE(back->createdAt, kDecember6);
        QCOMPARE(back->updatedAt, -1.0);

        TaskItem t = fullTask();
        t.dueDate = kDecember6At17 + 0.999;
        t.reminderDate = kDecember6At16 + 0.001;
        const QJsonObject to = encodeTaskItem(t);
        QCOMPARE(to.value("dueDate").toString(), QStringLiteral("2024-12-06T17:00:00Z"));
        QCOMPARE(to.value("reminderDate").toString(), QStringLiteral("2024-12-06T16:00:00Z"));

        Note n = fullNote();
        n.updatedAt = kDecember6 + 0.5;
        QCOMPARE(encodeNote(n).value("updatedAt").toString(), QStringLiteral("2024-12-06T10:15:00Z"));
    }

    void writtenFormOfTheFullRecords()
    {
        const QJsonObject rule = encodeBlockRule(fullRule());
        QCOMPARE(sortedKeys(rule), sortedKeys(ruleJson()));
        QCOMPARE(rule.value("blockApplySchedule").toObject(), scheduleJson());
        QCOMPARE(rule.value("createdAt").toString(), QStringLiteral("2024-12-01T08:00:00Z"));
        QCOMPARE(rule.value("dailyLimitMinutes"), QJsonValue(30));
        QCOMPARE(rule.value("urgentBreakUsedCalendarDay"), QJsonValue(20241205));
        QList<int> days;
        for (const QJsonValue& d : rule.value("activeWeekdays").toArray())
            days.append(d.toInt());
        std::sort(days.begin(), days.end());
        QCOMPARE(days, (QList<int>{2, 3, 4, 5, 6}));

        QCOMPARE(encodeDoomScrollConfig(fullConfig()), configJson());
        QCOMPARE(encodeDoomScrollRuntimeState(fullRuntime()), runtimeJson());
        QCOMPARE(encodeUrgentBreakState(fullUrgent()), urgentJson());
        QCOMPARE(encodeBlockedSiteSnapshot(fullSnapshot()), snapshotJson());
        QCOMPARE(encodeBlockedSiteSnapshot(ruleSnapshot()), ruleSnapshotJson());
        QCOMPARE(encodeNote(fullNote()), noteJson());
        QCOMPARE(encodeSubtask(fullSubtask()), subtaskJson());
        QCOMPARE(encodeTaskItem(fullTask()), taskJson());

        QJsonObject state = encodeSharedState(fullState());
        QCOMPARE(sortedKeys(state), sortedKeys(stateJson()));
        QCOMPARE(state.value("usageSecondsByRuleId").toObject(), stateJson().value("usageSecondsByRuleId").toObject());
        QCOMPARE(state.value("blockedNow").toArray(), stateJson().value("blockedNow").toArray()); // in list order
        QStringList exceeded;
        for (const QJsonValue& id : state.value("exceededRuleIds").toArray())
            exceeded.append(id.toString());
        QCOMPARE(sorted(exceeded), sorted({kRuleIdText, kRule2IdText}));
        state.remove("exceededRuleIds");
        QJsonObject expected = stateJson();
        expected.remove("exceededRuleIds");
        QCOMPARE(state, expected);
    }

    void wholeNumbersAreWrittenAsIntegers()
    {
        // Written as 30, not 30.0 or 3e1, so that any JSON integer reader takes them.
        const QByteArray rule = QJsonDocument(encodeBlockRule(fullRule())).toJson(QJsonDocument::Compact);
        QVERIFY2(rule.contains("\"dailyLimitMinutes\":30,"), rule.constData());
        QVERIFY2(rule.contains("\"urgentBreakUsedCalendarDay\":20241205"), rule.constData());
        QVERIFY2(rule.contains("\"startHour\":9,"), rule.constData());
        const QByteArray state = QJsonDocument(encodeSharedState(fullState())).toJson(QJsonDocument::Compact);
        QVERIFY2(state.contains("\"dayId\":20241206,"), state.constData());
        QVERIFY2(state.contains(QStringLiteral("\"%1\":900").arg(kRuleIdText).toLatin1()), state.constData());
    }

    void absentOptionalsAreLeftOut()
    {
        QCOMPARE(sortedKeys(encodeBlockRule(minimalRule())),
                 sorted({"id", "domain", "displayName", "blockApplySchedule", "activeWeekdays", "allowOneBreak",
                         "createdAt", "updatedAt"}));
        QCOMPARE(sortedKeys(encodeBlockApplySchedule(BlockApplySchedule{})),
                 (QStringList{"isAfterMaxDailyTime", "isAllDay"}));
        BlockApplySchedule partial{false, false, 9, std::nullopt, std::nullopt, 0};
        QCOMPARE(sortedKeys(encodeBlockApplySchedule(partial)),
                 (QStringList{"endMinute", "isAfterMaxDailyTime", "isAllDay", "startHour"}));
        QCOMPARE(sortedKeys(encodeDoomScrollRuntimeState({1, 2, std::nullopt})),
                 (QStringList{"usedSeconds", "windowStartedAt"}));
        QCOMPARE(sortedKeys(encodeSharedState(minimalState())),
                 sorted({"dayId", "usageSecondsByRuleId", "exceededRuleIds", "blockedNow", "validUntil"}));
        QCOMPARE(sortedKeys(encodeBlockedSiteSnapshot(ruleSnapshot())),
                 sorted({"ruleId", "domain", "displayName", "reason", "allowUrgentBreak"}));
        QCOMPARE(sortedKeys(encodeTaskItem(minimalTask())),
                 sorted({"id", "title", "time", "priority", "isCompleted", "createdAt", "updatedAt", "subtasks",
                         "repeatOption"}));
        // Empty collections are written as empty containers, never left out or null.
        const QJsonObject state = encodeSharedState(minimalState());
        QCOMPARE(state.value("usageSecondsByRuleId"), QJsonValue(QJsonObject{}));
        QCOMPARE(state.value("exceededRuleIds"), QJsonValue(QJsonArray{}));
        QCOMPARE(state.value("blockedNow"), QJsonValue(QJsonArray{}));
        QCOMPARE(encodeDoomScrollConfig(DoomScrollConfig::defaults()).value("domains"), QJsonValue(QJsonArray{}));
        QCOMPARE(encodeTaskItem(minimalTask()).value("subtasks"), QJsonValue(QJsonArray{}));
    }

    void encodedFormsHoldNoNull_data()
    {
        QTest::addColumn<QJsonObject>("encoded");
        QTest::newRow("full rule") << encodeBlockRule(fullRule());
        QTest::newRow("minimal rule") << encodeBlockRule(minimalRule());
        QTest::newRow("default schedule") << encodeBlockApplySchedule({});
        QTest::newRow("full config") << encodeDoomScrollConfig(fullConfig());
        QTest::newRow("default config") << encodeDoomScrollConfig(DoomScrollConfig::defaults());
        QTest::newRow("runtime without break") << encodeDoomScrollRuntimeState({});
        QTest::newRow("full state") << encodeSharedState(fullState());
        QTest::newRow("minimal state") << encodeSharedState(minimalState());
        QTest::newRow("fresh state") << encodeSharedState(SharedState::fresh(kDecember6, TestEnvironment::calendar()));
        QTest::newRow("rule snapshot") << encodeBlockedSiteSnapshot(ruleSnapshot());
        QTest::newRow("empty note") << encodeNote(Note{});
        QTest::newRow("full task") << encodeTaskItem(fullTask());
        QTest::newRow("minimal task") << encodeTaskItem(minimalTask());
        QTest::newRow("default task") << encodeTaskItem(TaskItem{});
    }
    void encodedFormsHoldNoNull()
    {
        QFETCH(QJsonObject, encoded);
        const QString path = firstNullPath(encoded);
        QVERIFY2(path.isEmpty(), qPrintable(path));
        QVERIFY(!QJsonDocument(encoded).toJson().contains("null"));
    }

    // =========================================================================================
    // UUIDs

    void uuidsAreWrittenUpperCase()
    {
        QStringList texts;
        collectUuidTexts(encodeBlockRule(fullRule()), texts);
        collectUuidTexts(encodeDoomScrollConfig(fullConfig()), texts);
        collectUuidTexts(encodeSharedState(fullState()), texts);
        collectUuidTexts(encodeNote(fullNote()), texts);
        collectUuidTexts(encodeTaskItem(fullTask()), texts);
        // rule, 2 domains, state: 2 usage keys, 2 exceeded, urgent, 2 snapshots; note; task, 2 steps, series
        QCOMPARE(texts.size(), qsizetype(1 + 2 + 7 + 1 + 4));
        for (const QString& text : texts)
            QCOMPARE(text, text.toUpper());
        // Also for an id made with lower-case hex digits.
        const QUuid generated = QUuid::createUuid();
        BlockRule r = minimalRule();
        r.id = generated;
        const QString written = encodeBlockRule(r).value("id").toString();
        QCOMPARE(written, generated.toString(QUuid::WithoutBraces).toUpper());
        QCOMPARE(written.size(), qsizetype(36));
        QCOMPARE(uuidText(generated), written);
    }

    void lowerCaseUuidsAreAccepted_data()
    {
        QTest::addColumn<QString>("record");
        for (const RecordType& t : recordTypes())
            QTest::newRow(qPrintable(t.name)) << t.name;
    }
    void lowerCaseUuidsAreAccepted()
    {
        QFETCH(QString, record);
        const RecordType& t = recordType(record);
        const QJsonValue lower = lowerCaseUuids(t.full);
        QString error;
        QVERIFY2(t.decodes(lower, &error), qPrintable(error));
        QVERIFY(t.decodeSame(lower, t.full));
        // Mixed case too.
        QJsonObject mixed = t.full;
        for (auto it = mixed.begin(); it != mixed.end(); ++it) {
            if (it.value().isString() && uuidPattern().match(it.value().toString()).hasMatch()) {
                QString text = it.value().toString();
                for (qsizetype i = 0; i < text.size(); i += 2)
                    text[i] = text[i].toLower();
                it.value() = text;
            }
        }
        QVERIFY(t.decodeSame(mixed, t.full));
    }

    void lowerCaseIdsAreWrittenBackUpperCase()
    {
        const std::optional<TaskItem> t = decodeTask(lowerCaseUuids(taskJson()));
        QVERIFY(t);
        QCOMPARE(encodeTaskItem(*t), taskJson());
        const std::optional<SharedState> s = decodeState(lowerCaseUuids(stateJson()));
        QVERIFY(s);
        QStringList texts;
        collectUuidTexts(encodeSharedState(*s), texts);
        for (const QString& text : texts)
            QCOMPARE(text, text.toUpper());
    }

    void nilUuidIsAUuid()
    {
        const std::optional<Note> n = decodeNoteValue(QJsonObject{{"id", "00000000-0000-0000-0000-000000000000"}});
        QVERIFY(n);
        QVERIFY(n->id.isNull());
    }

    void parseUuidIsExact_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("upper") << kRuleIdText << true;
        QTest::newRow("lower") << kRuleIdText.toLower() << true;
        QTest::newRow("braces") << QStringLiteral("{%1}").arg(kRuleIdText) << false;
        QTest::newRow("no dashes") << QString(kRuleIdText).remove(u'-') << false;
        QTest::newRow("dash moved") << QStringLiteral("6F1C2A3B4-D5E-4F60-8A7B-9C0D1E2F3A4B") << false;
        QTest::newRow("short") << kRuleIdText.left(35) << false;
        QTest::newRow("long") << kRuleIdText + QStringLiteral("A") << false;
        QTest::newRow("leading space") << QStringLiteral(" ") + kRuleIdText.left(35) << false;
        QTest::newRow("non-hex") << QStringLiteral("6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4G") << false;
        QTest::newRow("fullwidth digit") << QStringLiteral("\uFF16F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4B") << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("letter past f") << QStringLiteral("6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3A4g") << false;
        QTest::newRow("dash for a digit") << QStringLiteral("6F1C2A3B-4D5E-4F60-8A7B--C0D1E2F3A4B") << false;
        QTest::newRow("accented letter") << QStringLiteral("6F1C2A3B-4D5E-4F60-8A7B-9C0D1E2F3AÉ") << false;
    }
    void parseUuidIsExact()
    {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        const QByteArray utf8 = text.toUtf8();
        for (const std::optional<QUuid>& id :
             {parseUuid(text), parseUuid(std::string_view(utf8.data(), size_t(utf8.size())))}) {
            QCOMPARE(id.has_value(), accepted);
            if (accepted)
                QCOMPARE(*id, uuid(kRuleIdText));
        }
    }

    // =========================================================================================
    // Equality: the comparisons are the compiler's own; what is checked is that weekdays and
    // exceeded rules are sets and usage a map, so their order in a file never makes a change.

    void ruleEquality()
    {
        QCOMPARE(fullRule(), fullRule());
        // Weekdays compare as sets, in whatever order they came.
        BlockRule a = fullRule();
        BlockRule b = fullRule();
        a.activeWeekdays.clear();
        b.activeWeekdays.clear();
        for (int d : {1, 7, 3})
            a.activeWeekdays.insert(d);
        for (int d : {3, 7, 1})
            b.activeWeekdays.insert(d);
        QCOMPARE(a, b);
        const std::optional<BlockRule> forward =
            decodeRule(with(ruleJson(), "activeWeekdays", QJsonArray{1, 2, 3, 4, 5, 6, 7}));
        const std::optional<BlockRule> backward =
            decodeRule(with(ruleJson(), "activeWeekdays", QJsonArray{7, 6, 5, 4, 3, 2, 1}));
        QVERIFY(forward && backward);
        QCOMPARE(*forward, *backward);
        // Different sets, and an empty set against the full one, are different values.
        b.activeWeekdays.insert(2);
        QVERIFY(!(a == b));
        BlockRule empty = fullRule();
        empty.activeWeekdays.clear();
        QVERIFY(!(empty == *forward));

        auto differs = [](const std::function<void(BlockRule&)>& change) {
            BlockRule changed = fullRule();
            change(changed);
            return !(changed == fullRule());
        };
        QVERIFY(differs([](BlockRule& r) { r.id = uuid(kRule2IdText); }));
        QVERIFY(differs([](BlockRule& r) { r.domain = QStringLiteral("YouTube.com"); }));
        QVERIFY(differs([](BlockRule& r) { r.displayName = QStringLiteral("Youtube"); }));
        QVERIFY(differs([](BlockRule& r) { r.blockApplySchedule.endMinute = 1; }));
        QVERIFY(differs([](BlockRule& r) { r.blockApplySchedule.endMinute.reset(); }));
        QVERIFY(differs([](BlockRule& r) { r.blockApplySchedule.isAllDay = true; }));
        QVERIFY(differs([](BlockRule& r) { r.blockApplySchedule.isAfterMaxDailyTime = true; }));
        QVERIFY(differs([](BlockRule& r) { r.dailyLimitMinutes.reset(); }));
        QVERIFY(differs([](BlockRule& r) { r.dailyLimitMinutes = 31; }));
        QVERIFY(differs([](BlockRule& r) { r.allowOneBreak = false; }));
        QVERIFY(differs([](BlockRule& r) { r.urgentBreakUsedCalendarDay.reset(); }));
        QVERIFY(differs([](BlockRule& r) { r.createdAt += 0.001; })); // dates exactly
        QVERIFY(differs([](BlockRule& r) { r.updatedAt -= 1; }));
        // An absent optional is not the same as a present 0.
        BlockRule absent = minimalRule();
        BlockRule zero = minimalRule();
        zero.dailyLimitMinutes = 0;
        QVERIFY(!(absent == zero));
    }

    void stateEquality()
    {
        QCOMPARE(fullState(), fullState());
        // exceededRuleIds compare as a set: decoded from either order they are equal.
        QJsonObject swapped = stateJson();
        swapped.insert("exceededRuleIds", QJsonArray{kRuleIdText, kRule2IdText});
        QCOMPARE(decodeState(swapped).value(), decodeState(stateJson()).value());
        SharedState a = fullState();
        SharedState b = fullState();
        a.exceededRuleIds.clear();
        b.exceededRuleIds.clear();
        a.exceededRuleIds.insert(uuid(kRuleIdText));
        a.exceededRuleIds.insert(uuid(kRule2IdText));
        b.exceededRuleIds.insert(uuid(kRule2IdText));
        b.exceededRuleIds.insert(uuid(kRuleIdText));
        QCOMPARE(a, b);
        // The usage map compares as a map.
        QJsonObject usageSwapped = stateJson();
        usageSwapped.insert("usageSecondsByRuleId", QJsonObject{{kRule2IdText, 3600}, {kRuleIdText, 900}});
        QCOMPARE(decodeState(usageSwapped).value(), fullState());
        SharedState otherUsage = fullState();
        otherUsage.usageSecondsByRuleId[kRuleIdText] = 901;
        QVERIFY(!(otherUsage == fullState()));
        SharedState zeroEntry = fullState();
        zeroEntry.usageSecondsByRuleId.insert(uuidText(QUuid::createUuid()), 0);
        QVERIFY(!(zeroEntry == fullState())); // an entry of 0 is still an entry

        // blockedNow is a list: order matters.
        SharedState reordered = fullState();
        std::reverse(reordered.blockedNow.begin(), reordered.blockedNow.end());
        QVERIFY(!(reordered == fullState()));
        QJsonObject reversedJson = stateJson();
        const QJsonArray blocked = reversedJson.value("blockedNow").toArray();
        reversedJson.insert("blockedNow", QJsonArray{blocked.at(1), blocked.at(0)});
        QVERIFY(!(decodeState(reversedJson).value() == fullState()));

        // kind absent differs from any text, the empty text included.
        BlockedSiteSnapshot noKind = ruleSnapshot();
        BlockedSiteSnapshot emptyKind = ruleSnapshot();
        emptyKind.kind = QString();
        QVERIFY(!(noKind == emptyKind));

        // Optional records and reals.
        SharedState noUrgent = fullState();
        noUrgent.urgentBreak.reset();
        QVERIFY(!(noUrgent == fullState()));
        SharedState urgentChanged = fullState();
        urgentChanged.urgentBreak->usedSeconds += 1;
        QVERIFY(!(urgentChanged == fullState()));
        SharedState doomChanged = fullState();
        doomChanged.doomScroll->breakEndsAt.reset();
        QVERIFY(!(doomChanged == fullState()));
        SharedState validLater = fullState();
        validLater.validUntil += 0.001;
        QVERIFY(!(validLater == fullState()));
        SharedState noPauseDay = fullState();
        noPauseDay.pauseUsedDayId.reset();
        QVERIFY(!(noPauseDay == fullState()));
    }

    // =========================================================================================
    // Note.trimmedTitle and Note.previewText

    void trimmedTitle_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << QStringLiteral("Groceries") << QStringLiteral("Groceries");
        QTest::newRow("surrounding blanks") << QStringLiteral("  Groceries \n\t") << QStringLiteral("Groceries");
        QTest::newRow("inner blanks kept") << QStringLiteral(" a  b ") << QStringLiteral("a  b");
        QTest::newRow("inner newline kept") << QStringLiteral("\na\nb\n") << QStringLiteral("a\nb");
        QTest::newRow("empty") << QString() << QStringLiteral("New Note");
        QTest::newRow("spaces") << QStringLiteral("     ") << QStringLiteral("New Note");
        QTest::newRow("newlines and tabs") << QStringLiteral("\n\t\r\n") << QStringLiteral("New Note");
        QTest::newRow("Unicode blanks") << QStringLiteral("\u00A0\u3000\u2028\u2029\u0085\u2003")
                                        << QStringLiteral("New Note");
        QTest::newRow("Unicode blanks around")
            << QStringLiteral("\u00A0Caf\u00E9\u3000") << QStringLiteral("Caf\u00E9");
        QTest::newRow("emoji") << QStringLiteral(" \U0001F600 ") << QStringLiteral("\U0001F600");
    }
    void trimmedTitle()
    {
        QFETCH(QString, title);
        QFETCH(QString, expected);
        Note n = fullNote();
        n.title = title;
        QCOMPARE(n.trimmedTitle(), expected);
        QCOMPARE(n.title, title); // the stored title is untouched
    }

    void previewText_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("expected");
        const QString a120 = QString(120, u'a');
        const QString a121 = QString(121, u'a');
        const QString a117 = QString(117, u'a');
        QTest::newRow("empty") << QString() << QStringLiteral("No additional text");
        QTest::newRow("blank") << QStringLiteral(" \n\t\r\n ") << QStringLiteral("No additional text");
        QTest::newRow("Unicode blanks") << QStringLiteral("\u2028\u2029\u0085\u00A0\u000B\u000C")
                                        << QStringLiteral("No additional text");
        QTest::newRow("one line") << QStringLiteral("Milk") << QStringLiteral("Milk");
        QTest::newRow("two empty lines first") << QStringLiteral("\n\nThird line") << QStringLiteral("Third line");
        QTest::newRow("blank lines first")
            << QStringLiteral("  \n \t \nText here\nmore") << QStringLiteral("Text here");
        QTest::newRow("LF") << QStringLiteral("First\nSecond") << QStringLiteral("First");
        QTest::newRow("CR LF") << QStringLiteral("First\r\nSecond") << QStringLiteral("First");
        QTest::newRow("CR") << QStringLiteral("First\rSecond") << QStringLiteral("First");
        QTest::newRow("VT") << QStringLiteral("First\u000BSecond") << QStringLiteral("First");
        QTest::newRow("FF") << QStringLiteral("First\u000CSecond") << QStringLiteral("First");
        QTest::newRow("NEL") << QStringLiteral("First\u0085Second") << QStringLiteral("First");
        QTest::newRow("line separator") << QStringLiteral("First\u2028Second") << QStringLiteral("First");
        QTest::newRow("paragraph separator") << QStringLiteral("First\u2029Second") << QStringLiteral("First");
        QTest::newRow("tab is not a break") << QStringLiteral("First\tSecond") << QStringLiteral("First\tSecond");
        QTest::newRow("NBSP is not a break")
            << QStringLiteral("First\u00A0Second") << QStringLiteral("First\u00A0Second");
        QTest::newRow("line keeps its inner end blanks")
            << QStringLiteral("  First   \nSecond") << QStringLiteral("First   ");
        QTest::newRow("120 characters") << a120 << a120;
        QTest::newRow("120 characters, then more lines") << a120 + QStringLiteral("\nSecond") << a120;
        QTest::newRow("121 characters") << a121 << a117 + kEllipsis;
        QTest::newRow("200 characters") << QString(200, u'b') << QString(117, u'b') + kEllipsis;
        QTest::newRow("121 characters after a blank line") << QStringLiteral("\n") + a121 << a117 + kEllipsis;
        QTest::newRow("121 characters with surrounding blanks")
            << QStringLiteral("   ") + a121 + QStringLiteral("   ") << a117 + kEllipsis;
        QTest::newRow("120 decomposed characters") << repeated(kDecomposedE, 120) << repeated(kDecomposedE, 120);
        QTest::newRow("121 decomposed characters")
            << repeated(kDecomposedE, 121) << repeated(kDecomposedE, 117) + kEllipsis;
        QTest::newRow("120 family emoji") << repeated(kFamily, 120) << repeated(kFamily, 120);
        QTest::newRow("121 family emoji") << repeated(kFamily, 121) << repeated(kFamily, 117) + kEllipsis;
        QTest::newRow("121 flags") << repeated(kFlag, 121) << repeated(kFlag, 117) + kEllipsis;
        QTest::newRow("119 letters and an emoji") << QString(119, u'x') + kFamily << QString(119, u'x') + kFamily;
        QTest::newRow("emoji at the cut is kept whole")
            << QString(116, u'x') + kFamily + QStringLiteral("yyyy") << QString(116, u'x') + kFamily + kEllipsis;
        QTest::newRow("combining mark at the cut is kept") << QString(116, u'x') + kDecomposedE + QStringLiteral("yyyy")
                                                           << QString(116, u'x') + kDecomposedE + kEllipsis;
        QTest::newRow("CR LF is one break") << QStringLiteral("\r\n\r\nText") << QStringLiteral("Text");
    }
    void previewText()
    {
        QFETCH(QString, body);
        QFETCH(QString, expected);
        Note n = fullNote();
        n.body = body;
        const QString preview = n.previewText();
        QCOMPARE(preview, expected);
        QVERIFY(Text::characterCount(preview) <= 120);
    }

    void previewTextLengths()
    {
        Note n = fullNote();
        n.body = QString(121, u'a');
        QCOMPARE(Text::characterCount(n.previewText()), qsizetype(118));
        n.body = repeated(kFamily, 121);
        QCOMPARE(Text::characterCount(n.previewText()), qsizetype(118));
        QVERIFY(n.previewText().endsWith(kEllipsis));
        n.body = repeated(kFamily, 120);
        QCOMPARE(Text::characterCount(n.previewText()), qsizetype(120));
        QVERIFY(n.previewText().size() > 120); // counted as characters, not as UTF-16 units
    }

    void characterCounting()
    {
        QCOMPARE(Text::characterCount(QString()), qsizetype(0));
        QCOMPARE(Text::characterCount(kFamily), qsizetype(1));
        QCOMPARE(Text::characterCount(kFlag), qsizetype(1));
        QCOMPARE(Text::characterCount(kDecomposedE), qsizetype(1));
        QCOMPARE(Text::characterCount(QStringLiteral("\r\n")), qsizetype(1));
        QCOMPARE(Text::characterCount(QStringLiteral("a") + kFamily + QStringLiteral("b")), qsizetype(3));
        QCOMPARE(Text::leftCharacters(QStringLiteral("a") + kFamily + QStringLiteral("b"), 2),
                 QStringLiteral("a") + kFamily);
        QCOMPARE(Text::leftCharacters(QStringLiteral("ab"), 5), QStringLiteral("ab"));
        QCOMPARE(Text::leftCharacters(QStringLiteral("ab"), 0), QString());
    }

    // =========================================================================================
    // Enumerations: raw texts and presets

    void rawTexts()
    {
        using P = TaskItem::Priority;
        QCOMPARE(TaskItem::allPriorities(), (std::vector<P>{P::high, P::medium, P::low}));
        QCOMPARE(TaskItem::rawValue(P::high), QStringLiteral("high"));
        QCOMPARE(TaskItem::rawValue(P::medium), QStringLiteral("medium"));
        QCOMPARE(TaskItem::rawValue(P::low), QStringLiteral("low"));
        QVERIFY(P::high < P::medium && P::medium < P::low); // declaration order is the rank

        QCOMPARE(allRepeatOptions(), (std::vector<RepeatOption>{RepeatOption::none, RepeatOption::daily,
                                                                RepeatOption::weekly, RepeatOption::monthly}));
        QCOMPARE(rawValue(RepeatOption::none), QStringLiteral("None"));
        QCOMPARE(rawValue(RepeatOption::daily), QStringLiteral("Daily"));
        QCOMPARE(rawValue(RepeatOption::weekly), QStringLiteral("Weekly"));
        QCOMPARE(rawValue(RepeatOption::monthly), QStringLiteral("Monthly"));

        QCOMPARE(allReminderPresets(),
                 (std::vector<ReminderPreset>{ReminderPreset::atDueTime, ReminderPreset::fiveMinBefore,
                                              ReminderPreset::fifteenMinBefore, ReminderPreset::oneHourBefore,
                                              ReminderPreset::twoHoursBefore}));
        QCOMPARE(rawValue(ReminderPreset::atDueTime), QStringLiteral("At due time"));
        QCOMPARE(rawValue(ReminderPreset::fiveMinBefore), QStringLiteral("5 min before"));
        QCOMPARE(rawValue(ReminderPreset::fifteenMinBefore), QStringLiteral("15 min before"));
        QCOMPARE(rawValue(ReminderPreset::oneHourBefore), QStringLiteral("1 hour before"));
        QCOMPARE(rawValue(ReminderPreset::twoHoursBefore), QStringLiteral("2 hours before"));

        QCOMPARE(allDueDateReminderPresets(), (std::vector<DueDateReminderPreset>{
                                                  DueDateReminderPreset::onDueDate, DueDateReminderPreset::oneDayBefore,
                                                  DueDateReminderPreset::twoDaysBefore}));
        QCOMPARE(rawValue(DueDateReminderPreset::onDueDate), QStringLiteral("On due date"));
        QCOMPARE(rawValue(DueDateReminderPreset::oneDayBefore), QStringLiteral("1 day before"));
        QCOMPARE(rawValue(DueDateReminderPreset::twoDaysBefore), QStringLiteral("2 days before"));
    }

    void rawTextsRoundTrip()
    {
        for (const TaskItem::Priority p : TaskItem::allPriorities())
            QCOMPARE(TaskItem::priorityFromRaw(TaskItem::rawValue(p)).value(), p);
        for (const RepeatOption r : allRepeatOptions())
            QCOMPARE(repeatOptionFromRaw(rawValue(r)).value(), r);
        for (const ReminderPreset r : allReminderPresets())
            QCOMPARE(reminderPresetFromRaw(rawValue(r)).value(), r);
        for (const DueDateReminderPreset r : allDueDateReminderPresets())
            QCOMPARE(dueDateReminderPresetFromRaw(rawValue(r)).value(), r);
    }

    void rawTextsAreCaseSensitive_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        auto row = [](const char* kind, const QString& text) {
            QTest::addRow("%s \"%s\"", kind, qPrintable(text)) << QString::fromLatin1(kind) << text;
        };
        for (const char* t : {"High", "HIGH", "Medium", "Low", " high", "high ", "", "urgent", "1", "None"})
            row("priority", t);
        for (const char* t : {"none", "daily", "WEEKLY", "monthly", "Daily ", " None", "", "Yearly", "high"})
            row("repeat", t);
        for (const char* t : {"at due time", "At Due Time", "5 Min before", "5 min before ", "5 minutes before",
                              "1 Hour before", "2 hours Before", "", "1 day before"})
            row("reminder", t);
        for (const char* t : {"on due date", "On Due Date", "1 Day before", "2 days before ", "", "At due time"})
            row("dueDateReminder", t);
    }
    void rawTextsAreCaseSensitive()
    {
        QFETCH(QString, kind);
        QFETCH(QString, text);
        if (kind == QLatin1String("priority"))
            QVERIFY(!TaskItem::priorityFromRaw(text));
        else if (kind == QLatin1String("repeat"))
            QVERIFY(!repeatOptionFromRaw(text));
        else if (kind == QLatin1String("reminder"))
            QVERIFY(!reminderPresetFromRaw(text));
        else
            QVERIFY(!dueDateReminderPresetFromRaw(text));
    }

    void taskEnumsInJson()
    {
        for (const char* p : {"high", "medium", "low"})
            QVERIFY2(decodeTaskItem(with(taskJson(), "priority", p)), p);
        for (const char* r : {"None", "Daily", "Weekly", "Monthly"})
            QVERIFY2(decodeTaskItem(with(taskJson(), "repeatOption", r)), r);
        QCOMPARE(decodeTask(with(taskJson(), "priority", "medium"))->priority, TaskItem::Priority::medium);
        QCOMPARE(decodeTask(with(taskJson(), "repeatOption", "Monthly"))->repeatOption, RepeatOption::monthly);
        TaskItem t = fullTask();
        t.priority = TaskItem::Priority::low;
        t.repeatOption = RepeatOption::daily;
        QCOMPARE(encodeTaskItem(t).value("priority"), QJsonValue("low"));
        QCOMPARE(encodeTaskItem(t).value("repeatOption"), QJsonValue("Daily"));
    }

    void reminderPresetMoments_data()
    {
        QTest::addColumn<int>("preset");
        QTest::addColumn<double>("due");
        QTest::addColumn<double>("expected");
        const Date due = at(2024, 12, 6, 8, 30);
        auto row = [](const char* name, ReminderPreset p, Date d, Date e) { QTest::newRow(name) << int(p) << d << e; };
        row("at due time", ReminderPreset::atDueTime, due, due);
        row("5 min before", ReminderPreset::fiveMinBefore, due, at(2024, 12, 6, 8, 25));
        row("15 min before", ReminderPreset::fifteenMinBefore, due, at(2024, 12, 6, 8, 15));
        row("1 hour before 08:30", ReminderPreset::oneHourBefore, due, at(2024, 12, 6, 7, 30));
        row("2 hours before", ReminderPreset::twoHoursBefore, due, at(2024, 12, 6, 6, 30));
        row("15 min before midnight", ReminderPreset::fifteenMinBefore, at(2024, 12, 7, 0, 10),
            at(2024, 12, 6, 23, 55));
        row("2 hours before, previous year", ReminderPreset::twoHoursBefore, at(2025, 1, 1, 1, 0),
            at(2024, 12, 31, 23, 0));
        // Across the spring-forward gap (02:00 EST -> 03:00 EDT on 2025-03-09): hours and minutes
        // are elapsed time.
        const Date afterJump = at(2025, 3, 9, 3, 30); // 07:30Z
        row("1 hour before, across the gap", ReminderPreset::oneHourBefore, afterJump, afterJump - 3600);
        row("2 hours before, across the gap", ReminderPreset::twoHoursBefore, afterJump, at(2025, 3, 9, 0, 30));
        row("5 min before the jump", ReminderPreset::fiveMinBefore, at(2025, 3, 9, 3, 0), at(2025, 3, 9, 1, 55));
        // Fractions of a second of the due moment are kept.
        row("fraction kept", ReminderPreset::fiveMinBefore, due + 0.5, at(2024, 12, 6, 8, 25) + 0.5);
    }
    void reminderPresetMoments()
    {
        QFETCH(int, preset);
        QFETCH(double, due);
        QFETCH(double, expected);
        const Date got = reminderDate(static_cast<ReminderPreset>(preset), due, TestEnvironment::calendar());
        QCOMPARE(Iso8601::format(got), Iso8601::format(expected));
        QCOMPARE(got, expected);
    }

    void dueDateReminderPresetMoments_data()
    {
        QTest::addColumn<int>("preset");
        QTest::addColumn<double>("dueDay");
        QTest::addColumn<double>("expected");
        QTest::addColumn<QString>("zone");
        const QString ny = QStringLiteral("America/New_York");
        auto row = [](const char* name, DueDateReminderPreset p, Date d, Date e, const QString& zone) {
            QTest::newRow(name) << int(p) << d << e << zone;
        };
        using D = DueDateReminderPreset;
        row("on due date", D::onDueDate, at(2024, 12, 3), at(2024, 12, 3, 9, 0), ny);
        row("1 day before", D::oneDayBefore, at(2024, 12, 3), at(2024, 12, 2, 9, 0), ny);
        row("2 days before the 3rd", D::twoDaysBefore, at(2024, 12, 3), at(2024, 12, 1, 9, 0), ny);
        row("due late in the evening", D::onDueDate, at(2024, 12, 3, 23, 30), at(2024, 12, 3, 9, 0), ny);
        row("due just before midnight, 2 days", D::twoDaysBefore, at(2024, 12, 3, 23, 59, 59), at(2024, 12, 1, 9, 0),
            ny);
        row("across a month end", D::twoDaysBefore, at(2025, 3, 1), at(2025, 2, 27, 9, 0), ny);
        row("across a leap day", D::oneDayBefore, at(2024, 3, 1, 12, 0), at(2024, 2, 29, 9, 0), ny);
        row("across a year end", D::twoDaysBefore, at(2025, 1, 1), at(2024, 12, 30, 9, 0), ny);
        // Calendar days, not 86400-second steps: across the spring-forward change 09:00 stays 09:00.
        row("2 days before, across spring forward", D::twoDaysBefore, at(2025, 3, 10, 10, 0), at(2025, 3, 8, 9, 0), ny);
        row("1 day before, across fall back", D::oneDayBefore, at(2025, 11, 3, 10, 0), at(2025, 11, 2, 9, 0), ny);
        row("on the day of the change", D::onDueDate, at(2025, 3, 9, 20, 0), at(2025, 3, 9, 9, 0), ny);
        // The day is the local day of the calendar passed in.
        row("Berlin", D::onDueDate, 1733268600 /* 2024-12-03T23:30:00Z, Dec 4 in Berlin */,
            at(2024, 12, 4, 9, 0, 0, "Europe/Berlin"), QStringLiteral("Europe/Berlin"));
    }
    void dueDateReminderPresetMoments()
    {
        QFETCH(int, preset);
        QFETCH(double, dueDay);
        QFETCH(double, expected);
        QFETCH(QString, zone);
        const Calendar calendar = TestEnvironment::calendar(zone.toLatin1().constData());
        const Date got = reminderDate(static_cast<DueDateReminderPreset>(preset), dueDay, calendar);
        QCOMPARE(Iso8601::format(got), Iso8601::format(expected));
        QCOMPARE(got, expected);
    }

    void springForwardReminderIsAt0900Local()
    {
        // 2025-03-08 09:00 EST is 14:00Z; subtracting 2 × 86400 s from 2025-03-10 09:00 EDT would give 13:00Z.
        const Date got =
            reminderDate(DueDateReminderPreset::twoDaysBefore, at(2025, 3, 10, 10, 0), TestEnvironment::calendar());
        QCOMPARE(Iso8601::format(got), QStringLiteral("2025-03-08T14:00:00Z"));
    }

    // =========================================================================================
    // LossyDecodableList

    void lossyListOfTasks()
    {
        const QJsonObject second = without(with(taskJson(), "id", kSeriesIdText), {"title"});
        QJsonObject first = with(taskJson(), "title", "First");
        QJsonObject third = with(with(taskJson(), "id", kStep2IdText), "title", "Third");
        const QJsonArray array{first, second, third};
        // The strict decode of the same array fails.
        QVERIFY(!decodeStrictList<TaskItem>(QJsonValue(array), decodeTaskItem, nullptr));
        const auto list = LossyDecodableList<TaskItem>::decode(array, decodeTaskItem);
        QVERIFY(list);
        QCOMPARE(list->elements.size(), size_t(2));
        QCOMPARE(list->elements[0].title, QStringLiteral("First"));
        QCOMPARE(list->elements[1].title, QStringLiteral("Third"));
        QCOMPARE(list->elements[1].id, uuid(kStep2IdText));
    }

    void lossyListOfMixedElements()
    {
        const QJsonObject bad1 = with(taskJson(), "priority", "High");
        const QJsonObject bad2 = with(taskJson(), "repeatOption", "daily");
        const QJsonObject bad3 = with(taskJson(), "subtasks", QJsonArray{QJsonObject{{"id", kStep1IdText}}});
        const QJsonArray array{with(taskJson(), "title", "A"),
                               5,
                               "text",
                               QJsonValue::Null,
                               QJsonObject{},
                               bad1,
                               with(taskJson(), "title", "B"),
                               QJsonArray{taskJson()},
                               true,
                               bad2,
                               bad3,
                               with(taskJson(), "title", "C"),
                               3.5};
        const auto list = LossyDecodableList<TaskItem>::decode(array, decodeTaskItem);
        QVERIFY(list);
        QStringList titles;
        for (const TaskItem& t : list->elements)
            titles << t.title;
        QCOMPARE(titles, (QStringList{"A", "B", "C"}));
        for (const TaskItem& t : list->elements)
            QCOMPARE(with(encodeTaskItem(t), "title", "Write report"), taskJson());
    }

    void lossyListOfOtherRecords()
    {
        // Notes: only a missing id drops one.
        const QJsonArray notes{noteJson(), QJsonObject{{"title", "no id"}},
                               QJsonObject{{"id", kTaskIdText}, {"title", 7}}};
        const auto noteList = LossyDecodableList<Note>::decode(notes, decodeNote);
        QVERIFY(noteList);
        QCOMPARE(noteList->elements.size(), size_t(2));
        QCOMPARE(noteList->elements[0], fullNote());
        QCOMPARE(noteList->elements[1].id, uuid(kTaskIdText));
        QCOMPARE(noteList->elements[1].title, QString());

        // Rules.
        const QJsonArray rules{without(ruleJson(), {"displayName"}), ruleJson(), 42, encodeBlockRule(minimalRule())};
        const auto ruleList = LossyDecodableList<BlockRule>::decode(rules, decodeBlockRule);
        QVERIFY(ruleList);
        QCOMPARE(ruleList->elements.size(), size_t(2));
        QCOMPARE(ruleList->elements[0], fullRule());
        QCOMPARE(ruleList->elements[1], minimalRule());
    }

    void lossyListEdgeCases()
    {
        const auto empty = LossyDecodableList<TaskItem>::decode(QJsonArray{}, decodeTaskItem);
        QVERIFY(empty);
        QVERIFY(empty->elements.empty());

        const auto numbers = LossyDecodableList<TaskItem>::decode(parseJson("[1, 2, 3, 4.5, -1]"), decodeTaskItem);
        QVERIFY(numbers);                   // no failure...
        QVERIFY(numbers->elements.empty()); // ...and no elements

        const auto nulls = LossyDecodableList<Note>::decode(parseJson("[null, null]"), decodeNote);
        QVERIFY(nulls);
        QVERIFY(nulls->elements.empty());

        // Anything but an array fails as a whole.
        QString error;
        QVERIFY(!LossyDecodableList<TaskItem>::decode(taskJson(), decodeTaskItem, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!LossyDecodableList<TaskItem>::decode(QJsonObject{}, decodeTaskItem));
        QVERIFY(!LossyDecodableList<TaskItem>::decode(QJsonValue(QStringLiteral("[]")), decodeTaskItem));
        QVERIFY(!LossyDecodableList<TaskItem>::decode(QJsonValue(1), decodeTaskItem));
        QVERIFY(!LossyDecodableList<TaskItem>::decode(QJsonValue(QJsonValue::Null), decodeTaskItem));
        QVERIFY(!LossyDecodableList<TaskItem>::decode(QJsonValue(), decodeTaskItem));
        // Bytes that are not JSON at all reach the list as no array either.
        const QJsonDocument garbage = QJsonDocument::fromJson("not json at all");
        QVERIFY(garbage.isNull());
        QVERIFY(!LossyDecodableList<TaskItem>::decode(garbage.isArray() ? QJsonValue(garbage.array()) : QJsonValue(),
                                                      decodeTaskItem));
    }

    void lossyListFromFileText()
    {
        const QByteArray text = QStringLiteral(R"([
            {"id": "%1", "title": "Kept", "time": "Anytime", "priority": "low", "isCompleted": false,
             "createdAt": "2024-12-01T08:00:00Z"},
            {"id": "%2", "time": "Anytime", "priority": "low", "isCompleted": false,
             "createdAt": "2024-12-01T08:00:00Z"},
            {"id": "%3", "title": "Also kept", "time": "", "priority": "high", "isCompleted": true,
             "createdAt": "2024-12-02T08:00:00Z", "futureKey": [1, 2]}
        ])")
                                    .arg(kTaskIdText.toLower(), kSeriesIdText, kStep1IdText)
                                    .toUtf8();
        const QJsonDocument doc = QJsonDocument::fromJson(text);
        QVERIFY(doc.isArray());
        const auto list = LossyDecodableList<TaskItem>::decode(doc.array(), decodeTaskItem);
        QVERIFY(list);
        QCOMPARE(list->elements.size(), size_t(2));
        QCOMPARE(list->elements[0].title, QStringLiteral("Kept"));
        QCOMPARE(list->elements[0].id, uuid(kTaskIdText));
        QCOMPARE(list->elements[0].updatedAt, kDecember1At8);
        QCOMPARE(list->elements[1].title, QStringLiteral("Also kept"));
    }

    // =========================================================================================
    // SharedState::fresh and the day id

    void freshState()
    {
        const Calendar calendar = TestEnvironment::calendar();
        const Date t = at(2024, 12, 6, 10, 15) + 0.25;
        const SharedState s = SharedState::fresh(t, calendar);
        QCOMPARE(s.dayId, qint64(20241206));
        QCOMPARE(s.validUntil, t + 60);
        QVERIFY(s.usageSecondsByRuleId.isEmpty());
        QVERIFY(s.exceededRuleIds.isEmpty());
        QVERIFY(!s.urgentBreak);
        QVERIFY(!s.blockingPausedUntil);
        QVERIFY(s.blockedNow.empty());
        QVERIFY(!s.doomScroll);
        QVERIFY(!s.pauseUsedDayId);
        ROUND_TRIP(s, encodeSharedState, decodeSharedState);
    }

    void freshStateUsesTheCalendarsDay()
    {
        const Date t = 1733448600; // 2024-12-06T01:30:00Z: still 5 December in New York
        QCOMPARE(SharedState::fresh(t, TestEnvironment::calendar()).dayId, qint64(20241205));
        QCOMPARE(SharedState::fresh(t, TestEnvironment::calendar("Europe/Berlin")).dayId, qint64(20241206));
        QCOMPARE(SharedState::fresh(t, TestEnvironment::calendar()).validUntil, t + 60);
    }

    void dayIds()
    {
        const Calendar calendar = TestEnvironment::calendar();
        const qint64 newYearsEve = SharedState::dayIdFor(at(2024, 12, 31, 23, 59, 59), calendar);
        const qint64 newYear = SharedState::dayIdFor(at(2025, 1, 1, 0, 0), calendar);
        QCOMPARE(newYearsEve, qint64(20241231));
        QCOMPARE(newYear, qint64(20250101));
        QVERIFY(newYearsEve < newYear);
        QVERIFY(newYear - newYearsEve != 1);
        QCOMPARE(SharedState::dayIdFor(at(2024, 12, 6), calendar), qint64(20241206));
        QCOMPARE(SharedState::dayIdFor(at(2024, 2, 29, 12), calendar), qint64(20240229));
        QCOMPARE(SharedState::dayIdFor(at(2024, 3, 1), calendar) - SharedState::dayIdFor(at(2024, 2, 29), calendar),
                 qint64(72));
    }

    // =========================================================================================
    // BlockRule.blockedMinutes

    void blockedMinutes_data()
    {
        QTest::addColumn<int>("startHour");
        QTest::addColumn<int>("startMinute");
        QTest::addColumn<int>("endHour");
        QTest::addColumn<int>("endMinute");
        QTest::addColumn<QList<int>>("expectedRanges"); // [from, to) pairs
        QTest::addColumn<int>("count");
        QTest::newRow("09:00-17:00") << 9 << 0 << 17 << 0 << QList<int>{540, 1020} << 480;
        QTest::newRow("22:00-06:00") << 22 << 0 << 6 << 0 << QList<int>{0, 360, 1320, 1440} << 480;
        QTest::newRow("22:00-00:00") << 22 << 0 << 0 << 0 << QList<int>{1320, 1440} << 120;
        QTest::newRow("08:00-08:00") << 8 << 0 << 8 << 0 << QList<int>{0, 1440} << 1440;
        QTest::newRow("00:00-00:00") << 0 << 0 << 0 << 0 << QList<int>{0, 1440} << 1440;
        QTest::newRow("00:00-23:59") << 0 << 0 << 23 << 59 << QList<int>{0, 1439} << 1439;
        QTest::newRow("23:59-00:00") << 23 << 59 << 0 << 0 << QList<int>{1439, 1440} << 1;
        QTest::newRow("00:00-00:01") << 0 << 0 << 0 << 1 << QList<int>{0, 1} << 1;
        QTest::newRow("23:59-23:58") << 23 << 59 << 23 << 58 << QList<int>{0, 1438, 1439, 1440} << 1439;
        QTest::newRow("09:30-09:31") << 9 << 30 << 9 << 31 << QList<int>{570, 571} << 1;
        QTest::newRow("12:45-12:15") << 12 << 45 << 12 << 15 << QList<int>{0, 735, 765, 1440} << 1410;
        QTest::newRow("endMinute absent") << 9 << 0 << 17 << -1 << QList<int>{} << 0;
        QTest::newRow("endHour absent") << 9 << 0 << -1 << 0 << QList<int>{} << 0;
        QTest::newRow("startMinute absent") << 9 << -1 << 17 << 0 << QList<int>{} << 0;
        QTest::newRow("startHour absent") << -1 << 0 << 17 << 0 << QList<int>{} << 0;
        QTest::newRow("all absent") << -1 << -1 << -1 << -1 << QList<int>{} << 0;
        QTest::newRow("absent, equal otherwise") << 8 << 0 << 8 << -1 << QList<int>{} << 0;
    }
    void blockedMinutes()
    {
        QFETCH(int, startHour);
        QFETCH(int, startMinute);
        QFETCH(int, endHour);
        QFETCH(int, endMinute);
        QFETCH(QList<int>, expectedRanges);
        QFETCH(int, count);
        const MinuteSet minutes =
            BlockRule::blockedMinutes(opt(startHour), opt(startMinute), opt(endHour), opt(endMinute));
        QCOMPARE(ranges(minutes), expectedRanges);
        QCOMPARE(int(minutes.count()), count);
    }

    void blockedMinutesOfADecodedRule()
    {
        const std::optional<BlockRule> rule = decodeRule(ruleJson()); // 09:30 to 17:00
        QVERIFY(rule);
        const BlockApplySchedule& s = rule->blockApplySchedule;
        const MinuteSet minutes = BlockRule::blockedMinutes(s.startHour, s.startMinute, s.endHour, s.endMinute);
        QCOMPARE(ranges(minutes), (QList<int>{570, 1020}));
    }

    // =========================================================================================
    // BlockRule.limitUsageFraction

    void limitUsageFraction_data()
    {
        QTest::addColumn<int>("limit");   // -1: absent
        QTest::addColumn<qint64>("used"); // -1: no entry
        QTest::addColumn<bool>("exceeded");
        QTest::addColumn<double>("expected");
        QTest::newRow("30 min, 900 s") << 30 << qint64(900) << false << 0.5;
        QTest::newRow("30 min, 2400 s") << 30 << qint64(2400) << false << 1.0;
        QTest::newRow("30 min, 1800 s") << 30 << qint64(1800) << false << 1.0;
        QTest::newRow("30 min, 1799 s") << 30 << qint64(1799) << false << 1799.0 / 1800.0;
        QTest::newRow("30 min, 0 s") << 30 << qint64(0) << false << 0.0;
        QTest::newRow("30 min, no entry") << 30 << qint64(-1) << false << 0.0;
        QTest::newRow("exceeded, 0 s") << 30 << qint64(0) << true << 1.0;
        QTest::newRow("exceeded, no entry") << 30 << qint64(-1) << true << 1.0;
        QTest::newRow("exceeded, 900 s") << 30 << qint64(900) << true << 1.0;
        QTest::newRow("no limit") << -1 << qint64(900) << false << 0.0;
        QTest::newRow("no limit, exceeded") << -1 << qint64(900) << true << 0.0;
        QTest::newRow("limit 0") << 0 << qint64(900) << false << 0.0;
        QTest::newRow("limit 0, exceeded") << 0 << qint64(900) << true << 0.0;
        QTest::newRow("negative limit") << -5 << qint64(900) << true << 0.0;
        QTest::newRow("1 min, 15 s") << 1 << qint64(15) << false << 0.25;
    }
    void limitUsageFraction()
    {
        QFETCH(int, limit);
        QFETCH(qint64, used);
        QFETCH(bool, exceeded);
        QFETCH(double, expected);
        BlockRule rule = fullRule();
        rule.dailyLimitMinutes = limit == -1 ? std::nullopt : std::optional<qint64>(limit);
        SharedState state = minimalState();
        if (used >= 0)
            state.usageSecondsByRuleId.insert(uuidText(rule.id), used);
        state.usageSecondsByRuleId.insert(kRule2IdText, 99999); // another rule's usage is not counted
        if (exceeded)
            state.exceededRuleIds.insert(rule.id);
        state.exceededRuleIds.insert(uuid(kRule2IdText));
        QCOMPARE(rule.limitUsageFraction(state), expected);
    }

    void limitUsageFractionLooksUpTheUpperCaseKey()
    {
        BlockRule rule = fullRule();
        SharedState state = minimalState();
        state.usageSecondsByRuleId.insert(kRuleIdText.toLower(), 900);
        QCOMPARE(rule.limitUsageFraction(state), 0.0);
        state.usageSecondsByRuleId.insert(kRuleIdText, 450);
        QCOMPARE(rule.limitUsageFraction(state), 0.25);
        // A state read from a file with lower-case ids in exceededRuleIds still matches the rule.
        QJsonObject json = stateJson();
        json.insert("exceededRuleIds", QJsonArray{kRuleIdText.toLower()});
        json.insert("usageSecondsByRuleId", QJsonObject{});
        const std::optional<SharedState> decoded = decodeState(json);
        QVERIFY(decoded);
        QCOMPARE(rule.limitUsageFraction(*decoded), 1.0);
    }

    // =========================================================================================
    // Values from files that would overflow

    void hugeIntegersFromFilesDecode()
    {
        // The largest doubles below 2^63 are whole numbers that fit: they decode.
        const double big = 9223372036854774784.0; // 2^63 - 1024
        QJsonObject o = ruleJson();
        o.insert("dailyLimitMinutes", big);
        o.insert("urgentBreakUsedCalendarDay", -big);
        o.insert(
            "blockApplySchedule",
            QJsonObject{
                {"isAllDay", false}, {"startHour", big}, {"startMinute", big}, {"endHour", -big}, {"endMinute", -big}});
        const std::optional<BlockRule> rule = decodeRule(o);
        QVERIFY(rule);
        QCOMPARE(*rule->dailyLimitMinutes, qint64(9223372036854774784LL));
        QCOMPARE(*rule->urgentBreakUsedCalendarDay, qint64(-9223372036854774784LL));
        ROUND_TRIP(*rule, encodeBlockRule, decodeBlockRule);

        QJsonObject s = stateJson();
        s.insert("dayId", big);
        s.insert("pauseUsedDayId", -big);
        s.insert("usageSecondsByRuleId", QJsonObject{{kRuleIdText, 9.0e18}, {kRule2IdText, -9.0e18}});
        s.insert("urgentBreak", with(urgentJson(), "usedSeconds", big));
        s.insert("doomScroll", with(runtimeJson(), "usedSeconds", big));
        s.insert("validUntil", 1e300);
        const std::optional<SharedState> state = decodeState(s);
        QVERIFY(state);
        ROUND_TRIP(*state, encodeSharedState, decodeSharedState);

        QJsonObject c = configJson();
        c.insert("usageWindowMinutes", big);
        c.insert("breakMinutes", -big);
        QVERIFY(decodeDoomScrollConfig(c));
    }

    void usageMapTakesEveryWholeNumberThatFits()
    {
        // "usageSecondsByRuleId" maps to integers like every other integer key: the largest whole
        // doubles below 2^63 fit in 64 bits and decode, as they do for "dayId" above.
        const double big = 9223372036854774784.0; // 2^63 - 1024
        for (const double v : {9.2e18, big, -big}) {
            const std::optional<SharedState> state =
                decodeState(with(stateJson(), "usageSecondsByRuleId", QJsonObject{{kRuleIdText, v}}));
            QVERIFY2(state, qPrintable(QString::number(v, 'g', 19)));
            QCOMPARE(state->usageSecondsByRuleId.value(kRuleIdText), static_cast<qint64>(v));
        }
        // 2^63 itself does not fit.
        QVERIFY(!decodeSharedState(
            with(stateJson(), "usageSecondsByRuleId", QJsonObject{{kRuleIdText, 9223372036854775808.0}})));
    }

    void blockedMinutesWithHugeValuesDoesNotOverflow_data()
    {
        QTest::addColumn<qint64>("startHour");
        QTest::addColumn<qint64>("startMinute");
        QTest::addColumn<qint64>("endHour");
        QTest::addColumn<qint64>("endMinute");
        const qint64 big = 9223372036854774784LL;
        QTest::newRow("max start hour") << kInt64Max << qint64(0) << qint64(17) << qint64(0);
        QTest::newRow("max start minute") << qint64(9) << kInt64Max << qint64(17) << qint64(0);
        QTest::newRow("max everything") << kInt64Max << kInt64Max << kInt64Max << kInt64Max;
        QTest::newRow("min everything") << kInt64Min << kInt64Min << kInt64Min << kInt64Min;
        QTest::newRow("min start, max end") << kInt64Min << kInt64Min << kInt64Max << kInt64Max;
        QTest::newRow("max start, min end") << kInt64Max << kInt64Max << kInt64Min << kInt64Min;
        QTest::newRow("hour max, minute min") << kInt64Max << kInt64Min << kInt64Max << kInt64Min;
        QTest::newRow("largest from a file") << big << big << -big << -big;
        QTest::newRow("hour just past the product limit") << kInt64Max / 60 + 1 << qint64(0) << qint64(1) << qint64(0);
        QTest::newRow("25:00-26:00") << qint64(25) << qint64(0) << qint64(26) << qint64(0);
        QTest::newRow("-1:00-01:00") << qint64(-1) << qint64(0) << qint64(1) << qint64(0);
        QTest::newRow("09:00-09:-61") << qint64(9) << qint64(0) << qint64(9) << qint64(-61);
    }
    void blockedMinutesWithHugeValuesDoesNotOverflow()
    {
        QFETCH(qint64, startHour);
        QFETCH(qint64, startMinute);
        QFETCH(qint64, endHour);
        QFETCH(qint64, endMinute);
        // Outside the supported ranges the result is not specified; it must only stay a set of
        // minutes of one day and be computed without overflow (run under UBSan to see it).
        const MinuteSet minutes = BlockRule::blockedMinutes(startHour, startMinute, endHour, endMinute);
        QVERIFY(minutes.count() <= 1440);
        // A rule decoded from such values can be compared with itself without trouble.
        BlockRule rule = fullRule();
        rule.blockApplySchedule = {false, false, startHour, startMinute, endHour, endMinute};
        QVERIFY(!rule.isLoosened(rule));
    }

    void limitUsageFractionWithHugeValues_data()
    {
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<qint64>("used");
        QTest::newRow("max limit") << kInt64Max << qint64(900);
        QTest::newRow("max limit, max used") << kInt64Max << kInt64Max;
        QTest::newRow("limit past the product limit") << kInt64Max / 60 + 1 << qint64(900);
        QTest::newRow("largest limit from a file") << qint64(9223372036854774784LL) << qint64(9000000000000000000LL);
        QTest::newRow("1 min, max used") << qint64(1) << kInt64Max;
        QTest::newRow("min limit") << kInt64Min << qint64(900);
        QTest::newRow("min used") << qint64(30) << kInt64Min;
    }
    void limitUsageFractionWithHugeValues()
    {
        QFETCH(qint64, limit);
        QFETCH(qint64, used);
        BlockRule rule = fullRule();
        rule.dailyLimitMinutes = limit;
        SharedState state = minimalState();
        state.usageSecondsByRuleId.insert(kRuleIdText, used);
        const double fraction = rule.limitUsageFraction(state);
        QVERIFY2(std::isfinite(fraction), qPrintable(QString::number(fraction)));
        QVERIFY2(fraction <= 1.0, qPrintable(QString::number(fraction)));
        if (limit < 1)
            QCOMPARE(fraction, 0.0);
        if (limit >= 1 && used >= 0)
            QVERIFY2(fraction >= 0.0, qPrintable(QString::number(fraction)));
        if (limit == 1 && used == kInt64Max)
            QCOMPARE(fraction, 1.0);
    }

    void limitUsageFractionOfAHugeDecodedLimit()
    {
        const std::optional<BlockRule> rule = decodeRule(with(ruleJson(), "dailyLimitMinutes", 9.2e18));
        QVERIFY(rule);
        const std::optional<SharedState> state =
            decodeState(with(stateJson(), "usageSecondsByRuleId", QJsonObject{{kRuleIdText, 9.0e18}}));
        QVERIFY(state);
        SharedState notExceeded = *state;
        notExceeded.exceededRuleIds.clear();
        const double fraction = rule->limitUsageFraction(notExceeded);
        QVERIFY(std::isfinite(fraction));
        QVERIFY(fraction >= 0.0 && fraction <= 1.0);
        // A day's worth of use against such a limit is next to nothing.
        notExceeded.usageSecondsByRuleId.insert(kRuleIdText, 86400);
        const double small = rule->limitUsageFraction(notExceeded);
        QVERIFY(small >= 0.0 && small < 1e-9);
    }

    void absurdNumbersDoNotCrashTheDecoders_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value");
        const QList<QJsonValue> absurd{1e300,        -1e300,       9223372036854775808.0, -9223372036854775808.0,
                                       4294967296.0, 2147483648.0, -2147483649.0,         1e-300,
                                       -0.0};
        const QList<std::pair<const char*, const char*>> keys{
            {"BlockRule", "dailyLimitMinutes"},
            {"BlockRule", "urgentBreakUsedCalendarDay"},
            {"BlockApplySchedule", "startHour"},
            {"BlockApplySchedule", "endMinute"},
            {"DoomScrollConfig", "usageWindowMinutes"},
            {"DoomScrollConfig", "breakMinutes"},
            {"DoomScrollRuntimeState", "usedSeconds"},
            {"DoomScrollRuntimeState", "windowStartedAt"},
            {"SharedState", "dayId"},
            {"SharedState", "pauseUsedDayId"},
            {"SharedState", "validUntil"},
            {"UrgentBreakState", "usedSeconds"},
        };
        for (const auto& [record, key] : keys)
            for (const QJsonValue& v : absurd)
                QTest::addRow("%s.%s = %s", record, key, qPrintable(QString::number(v.toDouble(), 'g', 17)))
                    << QString::fromLatin1(record) << QString::fromLatin1(key) << v;
        for (const QJsonValue& v : absurd) {
            QTest::addRow("BlockRule.activeWeekdays [%s]", qPrintable(QString::number(v.toDouble(), 'g', 17)))
                << QStringLiteral("BlockRule") << QStringLiteral("activeWeekdays") << QJsonValue(QJsonArray{v});
            QTest::addRow("SharedState.usageSecondsByRuleId %s", qPrintable(QString::number(v.toDouble(), 'g', 17)))
                << QStringLiteral("SharedState") << QStringLiteral("usageSecondsByRuleId")
                << QJsonValue(QJsonObject{{kRuleIdText, v}});
        }
    }
    void absurdNumbersDoNotCrashTheDecoders()
    {
        QFETCH(QString, record);
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        const RecordType& t = recordType(record);
        const QJsonObject o = with(t.full, key, value);
        // Either outcome is allowed; a decoded record must encode again without nulls.
        if (t.decodes(o, nullptr))
            QVERIFY(t.reencodesWithoutNull(o));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"

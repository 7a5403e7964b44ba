// Start-up load, a to-do toggle, today's list and the blocking refresh on a large data set, each
// beside what it cannot do without (parsing the same files, writing the same bytes, evaluating
// the rules), so the ratios printed at the end come from one run on one machine.
#include "Figure.h"
#include "LargeTodoList.h"
#include "NullNotifications.h"
#include "files/Defaults.h"
#include "model/Json.h"
#include "store/RuleEvaluation.h"
#include "store/StorageService.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <memory>
#include <unistd.h>

namespace {

const Calendar& calendar()
{
    static const Calendar c(QTimeZone("America/New_York"), 1, QLocale(QLocale::English, QLocale::UnitedStates));
    return c;
}

Date startOfBench()
{
    return calendar().date(QDate(2026, 12, 7), 10, 0, 0);
}

void writeJson(const QString& path, const QJsonValue& value)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(value.isArray() ? QJsonDocument(value.toArray()).toJson() : QJsonDocument(value.toObject()).toJson());
}

std::vector<BlockRule> makeRules(int count)
{
    std::vector<BlockRule> rules;
    for (int i = 0; i < count; ++i) {
        BlockRule r;
        r.id = QUuid::createUuid();
        r.domain = QStringLiteral("site%1.example").arg(i);
        r.displayName = QStringLiteral("Site %1").arg(i);
        switch (i % 4) {
        case 0:
            r.blockApplySchedule = {true, false, {}, {}, {}, {}};
            break;
        case 1:
            r.blockApplySchedule = {false, true, {}, {}, {}, {}};
            r.dailyLimitMinutes = 30;
            break;
        case 2:
            r.blockApplySchedule = {false, false, i % 24, (i * 7) % 60, (i + 8) % 24, (i * 11) % 60};
            r.activeWeekdays = {2, 3, 4, 5, 6};
            break;
        default:
            r.blockApplySchedule = {false, false, 22, 0, 6, 30};
            break;
        }
        r.allowOneBreak = i % 2 == 0;
        r.createdAt = r.updatedAt = startOfBench() - 86400 * 30 + i;
        rules.push_back(r);
    }
    return rules;
}

// 10,000 to-dos with steps and reminders, a few hundred of them daily series, and 2,000 notes.
void writeLargeDataSet(const QString& folder)
{
    const Date now = startOfBench();
    writeJson(folder + QStringLiteral("/todos.json"), largeTodoList(now));
    QJsonArray notes;
    for (int i = 0; i < 2000; ++i)
        notes.append(encodeNote({QUuid::createUuid(), QStringLiteral("Note %1").arg(i),
                                 QStringLiteral("Body of the note, a few lines long.\nSecond line %1.").arg(i), now - i,
                                 now - i}));
    writeJson(folder + QStringLiteral("/notes.json"), notes);
    writeJson(folder + QStringLiteral("/rules.json"), encodeList(makeRules(500), encodeBlockRule));
}

// Time passes on neither clock, so a refresh finds nothing changed, as between two boundaries.
struct StillBootClock final : MonotonicClock {
    double seconds() const override { return 1000.0; }
    QString bootId() const override { return QStringLiteral("bench-boot"); }
};

StorageEnvironment environment(const Clock* clock, Defaults* defaults, NotificationCenter* notifications)
{
    static StillBootClock boot;
    StorageEnvironment env;
    env.clock = clock;
    env.calendar = [] { return calendar(); };
    env.defaults = defaults;
    env.notifications = notifications;
    env.monotonic = &boot;
    return env;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

struct Fixture {
    QTemporaryDir folder;
    ManualClock clock{startOfBench()};
    Defaults defaults{folder.filePath(QStringLiteral("defaults.json"))};
    NullNotifications notifications;
    QString data = folder.filePath(QStringLiteral("data"));

    Fixture()
    {
        QDir().mkpath(data);
        writeLargeDataSet(data);
        open(); // writes "state.json", which every later load reads
    }
    std::unique_ptr<StorageService> open()
    {
        return std::make_unique<StorageService>(FileStore{data}, environment(&clock, &defaults, &notifications));
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

void BM_StartupLoad(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        auto store = f.open();
        benchmark::DoNotOptimize(store->todos().todos().size());
    }
}
BENCHMARK(BM_StartupLoad)->Unit(benchmark::kMillisecond);

// What any load costs: reading and parsing the files the store reads, into plain documents.
void BM_PlainParse(benchmark::State& state)
{
    Fixture& f = fixture();
    const QDir data(f.data);
    for (auto _ : state) {
        for (const QString& name : data.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name))
            benchmark::DoNotOptimize(QJsonDocument::fromJson(readFile(data.filePath(name))).isNull());
    }
}
BENCHMARK(BM_PlainParse)->Unit(benchmark::kMillisecond);

// The first toggle after a load, as a person's first click after the start: each iteration loads
// the store afresh (not timed) and times its first toggle.
void BM_FirstToggleAfterLoad(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        state.PauseTiming();
        auto store = f.open();
        const QUuid id = store->todos().todos()[store->todos().todos().size() / 2].id;
        state.ResumeTiming();
        store->todos().toggleTodo(id);
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
}
// Each iteration pays a whole untimed load: the library would run as many as fill half a second of
// toggles, minutes of loads in all. A fixed few per repetition keep the median's meaning.
constexpr benchmark::IterationCount afterLoadIterations = 10;
BENCHMARK(BM_FirstToggleAfterLoad)->Unit(benchmark::kMillisecond)->Iterations(afterLoadIterations);

void BM_ToggleTodo(benchmark::State& state)
{
    Fixture& f = fixture();
    auto store = f.open();
    const QUuid id = store->todos().todos()[store->todos().todos().size() / 2].id;
    for (auto _ : state)
        store->todos().toggleTodo(id);
}
// The toggle returns once its write is handed over; the write itself (a whole file) runs beside
// it, so thousands of them would keep the machine busy for minutes after the figure was clear.
BENCHMARK(BM_ToggleTodo)->Unit(benchmark::kMillisecond)->Iterations(200);

// What any toggle costs: "todos.json" replaced by the same bytes as durably as the store does it,
// with nothing else around it: a temporary file beside it, written whole and synced, renamed over
// it, and the folder synced so that the rename itself survives a crash.
bool writeDurably(const QString& path, const QByteArray& bytes)
{
    QByteArray temporary = QFile::encodeName(path) + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return false;
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n <= 0)
            break;
        written += n;
    }
    bool ok = written == bytes.size() && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.constData(), QFile::encodeName(path).constData()) == 0;
    if (!ok) {
        ::unlink(temporary.constData());
        return false;
    }
    const int folder = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    ok = folder >= 0 && ::fsync(folder) == 0;
    if (folder >= 0)
        ::close(folder);
    return ok;
}

void BM_AtomicWrite(benchmark::State& state)
{
    Fixture& f = fixture();
    const QString path = QDir(f.data).filePath(QStringLiteral("todos.json"));
    const QByteArray bytes = readFile(path);
    for (auto _ : state)
        if (!writeDurably(path, bytes))
            state.SkipWithError("the file could not be replaced");
}
BENCHMARK(BM_AtomicWrite)->Unit(benchmark::kMillisecond);

// The same write where the first toggle makes it: right after a load. The load leaves the
// system's caches and free pages otherwise than a loop of writes does, and a write then costs
// more whoever makes it; beside the first toggle, this shows how much of it is the write's own.
void BM_AtomicWriteAfterLoad(benchmark::State& state)
{
    Fixture& f = fixture();
    const QString path = QDir(f.data).filePath(QStringLiteral("todos.json"));
    const QByteArray bytes = readFile(path);
    for (auto _ : state) {
        state.PauseTiming();
        auto store = f.open();
        state.ResumeTiming();
        if (!writeDurably(path, bytes))
            state.SkipWithError("the file could not be replaced");
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_AtomicWriteAfterLoad)->Unit(benchmark::kMillisecond)->Iterations(afterLoadIterations);

void BM_TodayTodos(benchmark::State& state)
{
    Fixture& f = fixture();
    auto store = f.open();
    for (auto _ : state)
        benchmark::DoNotOptimize(store->todos().todayTodos().size());
}
BENCHMARK(BM_TodayTodos)->Unit(benchmark::kMicrosecond);

void BM_RefreshBlockingState(benchmark::State& state)
{
    Fixture& f = fixture();
    auto store = f.open();
    for (auto _ : state)
        store->blocking().refreshBlockingState();
}
BENCHMARK(BM_RefreshBlockingState)->Unit(benchmark::kMicrosecond);

// What any refresh costs: which of the 500 rules block now and when that next changes.
void BM_RuleEvaluation(benchmark::State& state)
{
    Fixture& f = fixture();
    auto store = f.open();
    const std::vector<BlockRule>& rules = store->blocking().rules();
    const SharedState& s = store->blocking().state();
    const Date now = startOfBench();
    for (auto _ : state) {
        const Calendar cal = calendar();
        const MomentFacts facts = MomentFacts::of(now, cal);
        int blocked = 0;
        for (const BlockRule& rule : rules)
            blocked += isRuleActive(rule, facts, s) ? 1 : 0;
        benchmark::DoNotOptimize(blocked);
        benchmark::DoNotOptimize(nextRuleBoundary(rules, now, s, cal));
    }
}
BENCHMARK(BM_RuleEvaluation)->Unit(benchmark::kMicrosecond);

// Keeps each benchmark's wall time (the median when repeated) for the ratios.
class RatioReporter final : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median"))
                continue;
            seconds[run.run_name.function_name] =
                run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        }
    }
};

void printRatio(const RatioReporter& r, const char* what, const std::string& a, const char* anchorName,
                const std::string& b, double goal)
{
    if (!r.seconds.count(a) || !r.seconds.count(b))
        return;
    benchFigure(what, r.seconds.at(a) * 1000.0, "ms", anchorName, r.seconds.at(b) * 1000.0, goal);
}

// Resident memory of a process that has loaded the store from the data set and saved one change.
double residentMegabytesAfterLoad()
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--resident-after-load"), fixture().data});
    child.waitForFinished(120000);
    return child.readAllStandardOutput().trimmed().toDouble();
}

int residentAfterLoad(const QString& data)
{
    QTemporaryDir folder;
    ManualClock clock{startOfBench()};
    Defaults defaults{folder.filePath(QStringLiteral("defaults.json"))};
    NullNotifications notifications;
    StorageService store(FileStore{data}, environment(&clock, &defaults, &notifications));
    store.todos().toggleTodo(store.todos().todos().front().id);
    store.todos().toggleTodo(store.todos().todos().front().id);
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            std::printf("%.1f\n", line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0);
    return store.todos().todos().size() == 10000 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    if (argc > 2 && std::string(argv[1]) == "--resident-after-load")
        return residentAfterLoad(QString::fromLocal8Bit(argv[2]));
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n");
    printRatio(reporter, "load of 10,000 to-dos, 2,000 notes, 500 rules", "BM_StartupLoad",
               "plain parse of the same files", "BM_PlainParse", 1.5);
    printRatio(reporter, "first toggle after a load", "BM_FirstToggleAfterLoad", "durable write of the same bytes",
               "BM_AtomicWrite", 1.5);
    printRatio(reporter, "first toggle after a load", "BM_FirstToggleAfterLoad", "the same write after a load",
               "BM_AtomicWriteAfterLoad", 0);
    printRatio(reporter, "toggle, repeated", "BM_ToggleTodo", "durable write of the same bytes", "BM_AtomicWrite", 1.5);
    printRatio(reporter, "blocking refresh, nothing changed", "BM_RefreshBlockingState", "evaluation of the 500 rules",
               "BM_RuleEvaluation", 1.1);
    if (reporter.seconds.count("BM_TodayTodos"))
        benchLimit("today's list of 10,000 to-dos", reporter.seconds.at("BM_TodayTodos") * 1000.0, "ms", 1.0);
    benchLimit("resident memory after loading and a toggle", residentMegabytesAfterLoad(), "MB", 40.0);
    return 0;
}

// Start-up load, a to-do toggle and the blocking refresh on a large data set.
#include "NullNotifications.h"
#include "model/Json.h"
#include "platform/Defaults.h"
#include "store/RuleEvaluation.h"
#include "store/StorageService.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>
#include <random>

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
    std::mt19937 random(7);
    QJsonArray todos;
    const Date now = startOfBench();
    for (int i = 0; i < 10000; ++i) {
        TaskItem t;
        t.id = QUuid::createUuid();
        t.title = QStringLiteral("To-do number %1 with a realistic title").arg(i);
        t.time = i % 3 == 0 ? QStringLiteral("Anytime")
                            : QStringLiteral("%1:%2 PM").arg(1 + i % 12).arg(i % 60, 2, 10, QLatin1Char('0'));
        t.priority = TaskItem::Priority(i % 3);
        t.isCompleted = i % 4 == 0;
        t.createdAt = now - 86400.0 * (random() % 400);
        t.updatedAt = t.createdAt + 60;
        if (i % 5 == 0)
            t.reminderDate = now + 3600.0 * (random() % 200);
        for (int s = 0; s < i % 4; ++s)
            t.subtasks.push_back({QUuid::createUuid(), QStringLiteral("Step %1").arg(s), s % 2 == 0});
        if (i < 300) {
            t.repeatOption = RepeatOption::daily;
            t.recurringSeriesId = QUuid::createUuid();
        }
        todos.append(encodeTaskItem(t));
    }
    writeJson(folder + QStringLiteral("/todos.json"), todos);
    QJsonArray notes;
    for (int i = 0; i < 2000; ++i)
        notes.append(encodeNote({QUuid::createUuid(), QStringLiteral("Note %1").arg(i),
                                 QStringLiteral("Body of the note, a few lines long.\nSecond line %1.").arg(i), now - i,
                                 now - i}));
    writeJson(folder + QStringLiteral("/notes.json"), notes);
    writeJson(folder + QStringLiteral("/rules.json"), encodeList(makeRules(500), encodeBlockRule));
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
    }
    std::unique_ptr<StorageService> open()
    {
        StorageEnvironment env{&clock, [] { return calendar(); }, &defaults, &notifications, nullptr};
        return std::make_unique<StorageService>(FileStore{data}, env);
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
        benchmark::DoNotOptimize(store->todos().size());
    }
}
BENCHMARK(BM_StartupLoad)->Unit(benchmark::kMillisecond);

void BM_ToggleTodo(benchmark::State& state)
{
    Fixture& f = fixture();
    auto store = f.open();
    const QUuid id = store->todos()[store->todos().size() / 2].id;
    for (auto _ : state)
        store->toggleTodo(id);
}
BENCHMARK(BM_ToggleTodo)->Unit(benchmark::kMillisecond);

void BM_RefreshBlockingState(benchmark::State& state)
{
    Fixture& f = fixture();
    auto store = f.open();
    for (auto _ : state)
        store->refreshBlockingState();
}
BENCHMARK(BM_RefreshBlockingState)->Unit(benchmark::kMicrosecond);

void BM_NextRuleBoundary(benchmark::State& state)
{
    const std::vector<BlockRule> rules = makeRules(500);
    const SharedState s = SharedState::fresh(startOfBench(), calendar());
    for (auto _ : state)
        benchmark::DoNotOptimize(nextRuleBoundary(rules, startOfBench(), s, calendar()));
}
BENCHMARK(BM_NextRuleBoundary)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

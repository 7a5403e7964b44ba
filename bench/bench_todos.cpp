// The Today page and the to-do editor on a large data set: rebuilding the page after a store
// change, opening the editor, and one keystroke in the editor's title.
#include "Figure.h"
#include "LargeTodoList.h"
#include "NullNotifications.h"
#include "files/Defaults.h"
#include "router/AppRouter.h"
#include "screens/todos/TaskEditorSheet.h"
#include "screens/todos/TodosView.h"
#include "store/StorageService.h"
#include "ui/Theme.h"
#include "ui/TodoRows.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <map>
#include <memory>

namespace {

Calendar calendar()
{
    return Calendar(QTimeZone("America/New_York"), 1, QLocale(QLocale::English, QLocale::UnitedStates));
}

Date startOfBench()
{
    return calendar().date(QDate(2026, 12, 7), 10, 0, 0);
}

// 10,000 to-dos over the last 400 days, 300 of them daily series, a few dozen on today.
void writeTodos(const QString& folder, int count)
{
    QFile f(folder + QStringLiteral("/todos.json"));
    f.open(QIODevice::WriteOnly);
    f.write(QJsonDocument(largeTodoList(startOfBench(), 40, count)).toJson());
}

struct Fixture {
    QTemporaryDir folder;
    ManualClock clock{startOfBench()};
    Defaults defaults{folder.filePath(QStringLiteral("defaults.json"))};
    NullNotifications notifications;
    std::unique_ptr<StorageService> store;
    AppRouter router;
    AppContext context;

    explicit Fixture(int count = 10000)
    {
        const QString data = folder.filePath(QStringLiteral("data"));
        QDir().mkpath(data);
        writeTodos(data, count);
        StorageEnvironment env;
        env.clock = &clock;
        env.calendar = [] { return calendar(); };
        env.defaults = &defaults;
        env.notifications = &notifications;
        store = std::make_unique<StorageService>(FileStore{data}, env);
        context.storage = store.get();
        context.router = &router;
        context.clock = &clock;
        context.calendar = [] { return calendar(); };
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

void BM_TodayPageRebuild(benchmark::State& state)
{
    Fixture& f = fixture();
    TodosView view(f.context);
    view.resize(900, 1000);
    view.show();
    QCoreApplication::processEvents();
    // Each round is one store change: a to-do of today toggled, so it moves between sections.
    const QUuid id = f.store->todos().todayTodos()[5].id;
    for (auto _ : state) {
        state.PauseTiming();
        f.store->todos().toggleTodo(id); // the store's own file write is not the page's time
        state.ResumeTiming();
        view.refresh();
        QCoreApplication::processEvents(); // layout and painting of what changed
    }
    state.counters["today"] = double(f.store->todos().todayTodos().size());
}
BENCHMARK(BM_TodayPageRebuild)->Unit(benchmark::kMillisecond);

// The main thread's part of adding one to-do with the page open: the store's change and the
// page's refresh. Apart, so that an instruction count can be taken of it alone
// (valgrind --tool=callgrind --collect-atstart=no --toggle-collect='*addWithPageOpen*').
[[gnu::noinline]] void addWithPageOpen(StorageService& store, const TaskItem& todo)
{
    store.todos().addTodo(todo);
    QCoreApplication::processEvents();
}

// One to-do added with the Today page open, as the editor's Save does, by the number of to-dos
// held. The file is written on the writing thread.
void BM_AddTodoWithPageOpen(benchmark::State& state)
{
    Fixture f(int(state.range(0)));
    TodosView view(f.context);
    view.resize(900, 1000);
    view.show();
    QCoreApplication::processEvents();
    // The rest of a long day is listed a slice per turn after the first screen.
    while (view.listsFirstScreenOnly())
        QCoreApplication::processEvents();
    int added = 0;
    for (auto _ : state) {
        TaskItem t;
        t.id = QUuid::createUuid();
        t.title = QStringLiteral("Added while measuring %1").arg(++added);
        t.time = TaskItem::anytime;
        t.createdAt = t.updatedAt = f.clock.now();
        addWithPageOpen(*f.store, t);
        state.PauseTiming();
        f.store->core().waitForWrites();
        state.ResumeTiming();
    }
    state.counters["today"] = double(f.store->todos().todayTodos().size());
}
// A set number of adds: each run loads its to-dos afresh.
BENCHMARK(BM_AddTodoWithPageOpen)->Arg(10000)->Arg(50000)->Arg(100000)->Iterations(30)->Unit(benchmark::kMillisecond);

// What the page asks of the store on each rebuild, for comparison.
void BM_TodayListsFromStore(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.store->todos().todayTodos());
        benchmark::DoNotOptimize(f.store->todos().earlierTodos());
    }
}
BENCHMARK(BM_TodayListsFromStore)->Unit(benchmark::kMillisecond);

TaskEditorSheet::Inputs inputsFor(Fixture& f, const TaskItem& todo)
{
    TaskEditorSheet::Inputs inputs;
    inputs.existingTodo = todo;
    inputs.selectedDate = f.clock.now();
    inputs.clock = &f.clock;
    inputs.calendar = f.context.calendar;
    inputs.reminders = &f.store->core().reminders();
    inputs.onSave = [](const TaskItem&) { return std::optional<QString>(); };
    inputs.onDelete = [](const TaskItem&) {};
    return inputs;
}

void BM_OpenEditor(benchmark::State& state)
{
    Fixture& f = fixture();
    const TaskItem todo = f.store->todos().todos()[3]; // three steps and a time
    for (auto _ : state) {
        TaskEditorSheet sheet(inputsFor(f, todo));
        sheet.show();
        QCoreApplication::processEvents();
        sheet.done(QDialog::Rejected);
    }
}
BENCHMARK(BM_OpenEditor)->Unit(benchmark::kMillisecond);

void BM_TypeInTitle(benchmark::State& state)
{
    Fixture& f = fixture();
    TaskEditorSheet sheet(inputsFor(f, f.store->todos().todos()[3]));
    sheet.show();
    QCoreApplication::processEvents();
    auto* title = sheet.findChild<QLineEdit*>(QStringLiteral("titleField"));
    for (auto _ : state) {
        QTest::keyClick(title, Qt::Key_A);
        if (title->text().size() > 140)
            title->clear();
    }
}
BENCHMARK(BM_TypeInTitle)->Unit(benchmark::kMicrosecond);

// Milliseconds of each opening of the Today page, by the number of open to-dos.
std::map<int, std::vector<double>> openings;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The Today page opened on N open to-dos of today (the start-up's share of a long day): built,
// shown and laid out. 20,000 should cost at most three times 10,000.
void BM_TodayPageOpensOnOpenTodos(benchmark::State& state)
{
    const int count = int(state.range(0));
    QTemporaryDir folder;
    ManualClock clock{startOfBench()};
    Defaults defaults{folder.filePath(QStringLiteral("defaults.json"))};
    NullNotifications notifications;
    const QString data = folder.filePath(QStringLiteral("data"));
    QDir().mkpath(data);
    QJsonArray todos;
    for (int i = 0; i < count; ++i) {
        TaskItem t;
        t.id = QUuid::createUuid();
        t.title = QStringLiteral("Open to-do number %1 with a realistic title").arg(i);
        t.time = i % 3 == 0 ? TaskItem::anytime
                            : QStringLiteral("%1:%2 PM").arg(1 + i % 12).arg(i % 60, 2, 10, QLatin1Char('0'));
        t.priority = TaskItem::Priority(i % 3);
        t.createdAt = t.updatedAt = clock.now() - i;
        todos.append(encodeTaskItem(t));
    }
    QFile file(data + QStringLiteral("/todos.json"));
    file.open(QIODevice::WriteOnly);
    file.write(QJsonDocument(todos).toJson());
    file.close();
    StorageEnvironment env;
    env.clock = &clock;
    env.calendar = [] { return calendar(); };
    env.defaults = &defaults;
    env.notifications = &notifications;
    StorageService store(FileStore{data}, env);
    AppRouter router;
    AppContext context;
    context.storage = &store;
    context.router = &router;
    context.clock = &clock;
    context.calendar = [] { return calendar(); };
    for (auto _ : state) {
        QElapsedTimer took;
        took.start();
        TodosView view(context);
        view.resize(900, 1000);
        view.show();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        openings[count].push_back(double(took.nsecsElapsed()) / 1e6);
        state.counters["rows"] = double(view.findChildren<QuietTodoRow*>().size());
    }
}
BENCHMARK(BM_TodayPageOpensOnOpenTodos)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Theme::prepareApplication();
    QApplication app(argc, argv);
    Theme::apply(app);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (openings.count(10000) && openings.count(20000))
        benchFigure("Today page opened, 20,000 open to-dos", median(openings[20000]), "ms", "10,000 open to-dos",
                    median(openings[10000]), 3.0);
    return 0;
}

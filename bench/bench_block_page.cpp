// The Block page with 500 and 20,000 rules: one rebuild after a store change (the statuses of every row,
// their next-change searches, and the layout). Not part of the test run.
#include "Figure.h"
#include "OfflineSiteIcons.h"
#include "PageRig.h"
#include "screens/block/BlockRulesView.h"
#include "screens/block/SiteRow.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <map>

namespace {

// A mix of the four kinds of rule; `distinct` gives every window rule its own minutes, so that
// no two rules share a schedule (the worst case for the page).
std::unique_ptr<PageRig> rigWithRules(int count, bool distinct = false)
{
    std::vector<BlockRule> rules;
    for (int i = 0; i < count; ++i) {
        const QString domain = QStringLiteral("site%1.example").arg(i);
        if (distinct && i % 2 == 0) {
            rules.push_back(
                BlockTest::rule(domain, BlockTest::window(12 + i % 11, i % 60, 13 + i % 10, (i / 60) % 60), {4, 6}));
            continue;
        }
        switch (i % 4) {
        case 0:
            rules.push_back(BlockTest::rule(domain));
            break;
        case 1:
            rules.push_back(BlockTest::rule(domain, BlockTest::dailyLimit(), {}, 30));
            break;
        case 2: // windows that start later, on some weekdays: the longest next-change searches
            rules.push_back(BlockTest::rule(domain, BlockTest::window(18 + i % 5, 0, 19 + i % 5, 30), {4, 6}));
            break;
        default:
            rules.push_back(BlockTest::rule(domain, BlockTest::window(8, 0, 17, 0), {2, 3, 4, 5, 6}));
            break;
        }
    }
    // Written before the store loads: adding 20,000 rules one by one would write the file each time.
    return std::make_unique<PageRig>([&rules](StoreFixture& f) {
        QDir().mkpath(f.dataPath());
        QFile file(f.file(BlockingStore::rulesFile));
        if (file.open(QIODevice::WriteOnly))
            file.write(QJsonDocument(encodeList(rules, encodeBlockRule)).toJson(QJsonDocument::Compact));
    });
}

void rebuildAfterStoreChange(benchmark::State& state)
{
    auto rig = rigWithRules(int(state.range(0)), state.range(1) != 0);
    BlockRulesView page(rig->context);
    page.resize(760, 900);
    page.show();
    QCoreApplication::processEvents();
    const BlockRule first = rig->store.blocking().rules().front();
    for (auto _ : state) {
        state.PauseTiming();
        rig->store.blocking().recordUsage(first, 1);
        state.ResumeTiming();
        page.refresh();
    }
}
BENCHMARK(rebuildAfterStoreChange)->Args({500, 0})->Args({500, 1})->Args({20000, 0})->Unit(benchmark::kMillisecond);

// Milliseconds of each opening of the page, by the number of rules.
std::map<int, std::vector<double>> openings;

// The page opened: built, shown and laid out.
void opens(benchmark::State& state)
{
    const int count = int(state.range(0));
    auto rig = rigWithRules(count);
    for (auto _ : state) {
        QElapsedTimer took;
        took.start();
        BlockRulesView page(rig->context);
        page.resize(760, 900);
        page.show();
        QCoreApplication::processEvents();
        openings[count].push_back(double(took.nsecsElapsed()) / 1e6);
    }
}
BENCHMARK(opens)->Arg(500)->Arg(20000)->Unit(benchmark::kMillisecond);

// The statuses alone, without widgets.
void statuses(benchmark::State& state)
{
    auto rig = rigWithRules(int(state.range(0)));
    for (auto _ : state) {
        const Calendar calendar = rig->context.calendar();
        RuleStatus::StatusBatch batch({rig->f.clock.now(), rig->store.blocking().state(), calendar});
        for (const BlockRule& rule : rig->store.blocking().rules())
            benchmark::DoNotOptimize(SiteRow::contentFor(rule, batch, false));
    }
}
BENCHMARK(statuses)->Arg(500)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    Theme::prepareApplication();
    QApplication app(argc, argv);
    Theme::apply(app);
    useOfflineSiteIcons();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (openings.count(500) && openings.count(20000)) {
        const auto median = [](std::vector<double> v) {
            std::sort(v.begin(), v.end());
            return v[v.size() / 2];
        };
        // No ratio goal: the list builds a screenful, so twenty thousand should cost about what 500 do.
        benchFigure("Block page opened, 20,000 rules", median(openings[20000]), "ms", "500 rules",
                    median(openings[500]), 0);
    }
    return 0;
}

#include "StoreFixture.h"
#include "blocking/BrowserAutomationService.h"
#include "model/Text.h"
#include "onboarding/OnboardingFlow.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using Step = OnboardingFlow::Step;
using Kind = BrowserAccessState::Kind;
using BrowserStates = QList<std::pair<QString, int>>; // browser id, Kind

namespace {

// Runs a script of flow actions: "go:<raw>", "back", "skipSites", "skipPriority", "toggle:<site>",
// "type:<text>" (typed into the add-a-site field, then Return).
void play(OnboardingFlow& flow, const QStringList& actions)
{
    for (const QString& action : actions) {
        const QString arg = action.section(QLatin1Char(':'), 1);
        if (action.startsWith(QStringLiteral("go:")))
            flow.go(Step(arg.toInt()));
        else if (action == QStringLiteral("back"))
            flow.back();
        else if (action == QStringLiteral("skipSites"))
            flow.skipSites();
        else if (action == QStringLiteral("skipPriority"))
            flow.skipPriority();
        else if (action.startsWith(QStringLiteral("toggle:")))
            flow.toggleSite(arg);
        else if (action.startsWith(QStringLiteral("type:"))) {
            flow.newSite = arg;
            flow.addCustomSite();
        }
    }
}

QList<int> raw(const QList<Step>& steps)
{
    QList<int> out;
    for (Step s : steps)
        out.append(int(s));
    return out;
}

QJsonObject readJson(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

} // namespace

class TestOnboardingFlow : public QObject {
    Q_OBJECT
private slots:
    void startStep_data();
    void startStep();
    void navigation_data();
    void navigation();
    void sites_data();
    void sites();
    void figuresAndTexts_data();
    void figuresAndTexts();
    void priorityLimit_data();
    void priorityLimit();
    void browsers_data();
    void browsers();
    void finish_data();
    void finish();
    void finishRunsOnce();
};

void TestOnboardingFlow::startStep_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<bool>("offersMove");
    QTest::addColumn<int>("first");
    QTest::addColumn<bool>("moveAsked");
    QTest::addColumn<bool>("hasEstimate");
    QTest::newRow("0 outside the install folders") << 0 << true << int(Step::install) << true << false;
    QTest::newRow("0 installed") << 0 << false << int(Step::welcome) << true << false;
    QTest::newRow("-1 as 0") << -1 << true << int(Step::install) << true << false;
    QTest::newRow("9 is no step, as 0") << 9 << false << int(Step::welcome) << true << true;
    QTest::newRow("1 daily scroll") << 1 << true << int(Step::dailyScroll) << false << true;
    QTest::newRow("5 priority, no install test") << 5 << true << int(Step::priority) << false << true;
    QTest::newRow("8 install itself") << 8 << false << int(Step::install) << false << true;
}

void TestOnboardingFlow::startStep()
{
    QFETCH(int, start);
    QFETCH(bool, offersMove);
    QFETCH(int, first);
    QFETCH(bool, moveAsked);
    QFETCH(bool, hasEstimate);
    bool asked = false;
    OnboardingFlow flow(start, [&] {
        asked = true;
        return offersMove;
    });
    QCOMPARE(int(flow.step()), first);
    QCOMPARE(asked, moveAsked);
    QCOMPARE(flow.hoursPerDay().has_value(), hasEstimate);
    if (hasEstimate)
        QCOMPARE(*flow.hoursPerDay(), 2.0);
    QVERIFY(flow.history().isEmpty());
    QVERIFY(!flow.back());
}

void TestOnboardingFlow::navigation_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<int>("step");
    QTest::addColumn<QList<int>>("history");
    QTest::addColumn<bool>("primaryEnabled");
    QTest::newRow("not now, then forward") << 8 << QStringList{"go:0", "go:1"} << 1 << QList<int>{8, 0} << true;
    QTest::newRow("back retraces") << 1 << QStringList{"go:2", "go:3", "back"} << 2 << QList<int>{1} << true;
    QTest::newRow("back at the start") << 5 << QStringList{"back", "back"} << 5 << QList<int>{} << true;
    QTest::newRow("skip sites passes the browser step") << 3 << QStringList{"skipSites"} << 5 << QList<int>{3} << true;
    QTest::newRow("skip sites, back: continue disabled")
        << 3 << QStringList{"skipSites", "back"} << 3 << QList<int>{} << false;
    QTest::newRow("unpicking the only site disables continue")
        << 3 << QStringList{"toggle:youtube.com"} << 3 << QList<int>{} << false;
    QTest::newRow("a typed site enables it again")
        << 3 << QStringList{"toggle:youtube.com", "type:Reddit.com/r/all"} << 3 << QList<int>{} << true;
    QTest::newRow("skip priority") << 5 << QStringList{"skipPriority"} << 6 << QList<int>{5} << true;
    QTest::newRow("the same step twice is recorded twice")
        << 7 << QStringList{"go:7", "go:7"} << 7 << QList<int>{7, 7} << true;
}

void TestOnboardingFlow::navigation()
{
    QFETCH(int, start);
    QFETCH(QStringList, actions);
    QFETCH(int, step);
    QFETCH(QList<int>, history);
    QFETCH(bool, primaryEnabled);
    OnboardingFlow flow(start, [] { return false; });
    play(flow, actions);
    QCOMPARE(int(flow.step()), step);
    QCOMPARE(raw(flow.history()), history);
    QCOMPARE(flow.isPrimaryEnabled(), primaryEnabled);

    // The daily question's Continue waits for an answer.
    OnboardingFlow fresh(0, [] { return false; });
    fresh.go(Step::dailyScroll);
    QVERIFY(!fresh.isPrimaryEnabled());
    fresh.setHoursPerDay(1);
    QVERIFY(fresh.isPrimaryEnabled());
}

void TestOnboardingFlow::sites_data()
{
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QStringList>("picked");
    QTest::addColumn<QStringList>("custom");
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<QString>("leftInField");
    QTest::newRow("first display") << QStringList{} << QStringList{"youtube.com"} << QStringList{}
                                   << QStringList{"youtube.com"} << "";
    QTest::newRow("picks in click order") << QStringList{"toggle:instagram.com", "toggle:tiktok.com"}
                                          << QStringList{"youtube.com", "instagram.com", "tiktok.com"} << QStringList{}
                                          << QStringList{"youtube.com", "instagram.com", "tiktok.com"} << "";
    QTest::newRow("a typed suggested site picks its chip")
        << QStringList{"type:https://WWW.Instagram.com/explore"} << QStringList{"youtube.com", "instagram.com"}
        << QStringList{} << QStringList{"youtube.com", "instagram.com"} << "";
    QTest::newRow("typed twice, in other forms, stored once")
        << QStringList{"type:reddit.com", "type:WWW.REDDIT.COM/", "type: reddit.com. "} << QStringList{"youtube.com"}
        << QStringList{"reddit.com"} << QStringList{"youtube.com", "reddit.com"} << "";
    QTest::newRow("no dot: stays in the field") << QStringList{"type:reddit"} << QStringList{"youtube.com"}
                                                << QStringList{} << QStringList{"youtube.com"} << "reddit";
    QTest::newRow("empty Return does nothing")
        << QStringList{"type:"} << QStringList{"youtube.com"} << QStringList{} << QStringList{"youtube.com"} << "";
    QTest::newRow("a name that is not suggested is not toggled on")
        << QStringList{"toggle:reddit.com"} << QStringList{"youtube.com"} << QStringList{} << QStringList{"youtube.com"}
        << "";
    QTest::newRow("skip empties both lists") << QStringList{"type:reddit.com", "toggle:tiktok.com", "skipSites", "back"}
                                             << QStringList{} << QStringList{} << QStringList{} << "";
}

void TestOnboardingFlow::sites()
{
    QFETCH(QStringList, actions);
    QFETCH(QStringList, picked);
    QFETCH(QStringList, custom);
    QFETCH(QStringList, selected);
    QFETCH(QString, leftInField);
    OnboardingFlow flow(3, [] { return false; });
    play(flow, actions);
    QCOMPARE(flow.pickedSites(), picked);
    QCOMPARE(flow.customSites(), custom);
    QCOMPARE(flow.selectedSites(), selected);
    QCOMPARE(flow.newSite, leftInField);
    QCOMPARE(flow.showsSiteHint(), !leftInField.isEmpty());
    QCOMPARE(flow.previewSite(), selected.isEmpty() ? QStringLiteral("youtube.com") : selected.first());
}

void TestOnboardingFlow::figuresAndTexts_data()
{
    QTest::addColumn<double>("hours"); // 0: none chosen
    QTest::addColumn<int>("days");
    QTest::addColumn<int>("months");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<QString>("duration");
    QTest::newRow("none") << 0.0 << 30 << 10 << 15 << "15 min";
    QTest::newRow("1 hour") << 1.0 << 15 << 5 << 59 << "59 min";
    QTest::newRow("2 hours") << 2.0 << 30 << 10 << 60 << "1 hour";
    QTest::newRow("3 hours") << 3.0 << 46 << 15 << 61 << "1 hour 1 min";
    QTest::newRow("4 hours") << 4.0 << 61 << 20 << 90 << "1 hour 30 min";
    QTest::newRow("two hours") << 2.0 << 30 << 10 << 120 << "2 hours";
    QTest::newRow("two and a half") << 2.0 << 30 << 10 << 150 << "2 hours 30 min";
}

void TestOnboardingFlow::figuresAndTexts()
{
    QFETCH(double, hours);
    QFETCH(int, days);
    QFETCH(int, months);
    QFETCH(int, minutes);
    QFETCH(QString, duration);
    OnboardingFlow flow(0, [] { return false; });
    if (hours > 0)
        flow.setHoursPerDay(hours);
    QCOMPARE(flow.daysLostPerYear(), days);
    QCOMPARE(flow.monthsLostOverTenYears(), months);
    QCOMPARE(OnboardingFlow::durationLabel(minutes), duration);
}

void TestOnboardingFlow::priorityLimit_data()
{
    const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::newRow("150 stays whole") << QString(150, QLatin1Char('a')) << QString(150, QLatin1Char('a'));
    QTest::newRow("151 loses its last") << QString(151, QLatin1Char('a')) << QString(150, QLatin1Char('a'));
    QTest::newRow("an emoji is one character")
        << QString(149, QLatin1Char('a')) + family << QString(149, QLatin1Char('a')) + family;
    QTest::newRow("an emoji at the cut is dropped whole")
        << QString(150, QLatin1Char('a')) + family << QString(150, QLatin1Char('a'));
    QTest::newRow("a pasted long text keeps its beginning")
        << QString(100, QLatin1Char('b')) + QString(60, QChar(0x00E9))
        << QString(100, QLatin1Char('b')) + QString(50, QChar(0x00E9));
}

void TestOnboardingFlow::priorityLimit()
{
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    OnboardingFlow flow(5, [] { return false; });
    flow.setPriorityTitle(typed);
    QCOMPARE(flow.priorityTitle(), kept);
    QVERIFY(flow.priorityTitle().isValidUtf16());
}

void TestOnboardingFlow::browsers_data()
{
    QTest::addColumn<BrowserStates>("states");
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("needing");
    QTest::addColumn<QString>("prompt");
    using L = BrowserStates;
    QTest::newRow("none known") << L{} << QStringList{} << ""
                                << "Safari";
    QTest::newRow("not installed is not listed")
        << L{{"safari", int(Kind::notInstalled)}, {"chrome", int(Kind::notConnected)}} << QStringList{"Google Chrome"}
        << ""
        << "Google Chrome";
    QTest::newRow("two refused: the first in table order")
        << L{{"edge", int(Kind::permissionNeeded)}, {"chrome", int(Kind::permissionNeeded)}}
        << QStringList{"Google Chrome", "Microsoft Edge"} << "Google Chrome"
        << "Google Chrome";
    QTest::newRow("all connected: the prompt names Safari")
        << L{{"brave", int(Kind::connected)}, {"arc", int(Kind::connected)}} << QStringList{"Arc", "Brave"} << ""
        << "Safari";
    QTest::newRow("prompt skips the connected")
        << L{{"chrome", int(Kind::connected)}, {"brave", int(Kind::browserClosed)}}
        << QStringList{"Google Chrome", "Brave"} << ""
        << "Brave";
}

void TestOnboardingFlow::browsers()
{
    QFETCH(BrowserStates, states);
    QFETCH(QStringList, listed);
    QFETCH(QString, needing);
    QFETCH(QString, prompt);
    QHash<QString, BrowserAccessState> access;
    for (const auto& [id, kind] : states)
        access.insert(id, BrowserAccessState::of(Kind(kind)));
    const auto installed = OnboardingFlow::installedBrowsers(SupportedBrowser::all(), access);
    QStringList names;
    for (const SupportedBrowser& b : installed)
        names.append(b.name);
    QCOMPARE(names, listed);
    const auto need = OnboardingFlow::browserNeedingPermission(installed, access);
    QCOMPARE(need ? need->name : QString(), needing);
    QCOMPARE(OnboardingFlow::promptBrowserName(installed, access), prompt);
}

void TestOnboardingFlow::finish_data()
{
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QStringList>("existing"); // domains already in the doom-scroll settings
    QTest::addColumn<QString>("priority");
    QTest::addColumn<bool>("reminders");
    QTest::addColumn<QStringList>("domains"); // expected in doomscroll.json, in order; empty: untouched
    QTest::addColumn<QString>("todoTitle");   // empty: no to-do
    QTest::addColumn<bool>("permissionAsked");
    QTest::newRow("defaults") << QStringList{} << QStringList{} << "Deep work" << true << QStringList{"youtube.com"}
                              << "Deep work" << true;
    QTest::newRow("skipped sites leave the settings alone")
        << QStringList{"skipSites"} << QStringList{} << "" << false << QStringList{} << "" << false;
    QTest::newRow("known sites are not added again, in any spelling")
        << QStringList{"toggle:tiktok.com", "type:reddit.com"} << QStringList{"WWW.YouTube.com", "reddit.com"}
        << "  \n " << true << QStringList{"WWW.YouTube.com", "reddit.com", "tiktok.com"} << "" << true;
    QTest::newRow("a long priority is cut to 150 characters")
        << QStringList{} << QStringList{} << QString(200, QLatin1Char('p')) << false << QStringList{"youtube.com"}
        << QString(150, QLatin1Char('p')) << false;
}

void TestOnboardingFlow::finish()
{
    QFETCH(QStringList, actions);
    QFETCH(QStringList, existing);
    QFETCH(QString, priority);
    QFETCH(bool, reminders);
    QFETCH(QStringList, domains);
    QFETCH(QString, todoTitle);
    QFETCH(bool, permissionAsked);

    StoreFixture f;
    StorageService& store = f.make();
    DoomScrollConfig before;
    for (const QString& d : existing)
        before.domains.push_back({QUuid::createUuid(), d});
    if (!existing.isEmpty())
        store.updateDoomScrollConfig(before);
    const DoomScrollConfig stored = store.doomScrollConfig();

    OnboardingFlow flow(3, [] { return false; });
    play(flow, actions);
    flow.setHoursPerDay(3);
    flow.usageMinutes = 45;
    flow.breakMinutes = 20;
    flow.setPriorityTitle(priority);
    flow.remindersOn = reminders;

    QStringList order;
    OnboardingFlow::FinishTargets targets;
    targets.storage = &store;
    targets.defaults = &f.defaults;
    targets.now = f.clock.peek();
    targets.calendar = f.calendar;
    targets.requestNotificationPermission = [&] {
        order << (f.defaults.contains(OnboardingFlow::completedKey) ? "permission after flag" : "permission");
    };
    targets.onFinish = [&] {
        // By the hand-over everything is on disk, the flag included.
        const Defaults onDisk(f.defaults.path());
        order << (onDisk.boolean(OnboardingFlow::completedKey).value_or(false) ? "finish" : "finish before flag");
        order << (onDisk.number(OnboardingFlow::hoursPerDayKey) == 3.0 ? "hours" : "no hours");
    };
    QVERIFY(flow.finish(targets));
    QStringList expectedOrder;
    if (permissionAsked)
        expectedOrder << "permission";
    expectedOrder << "finish"
                  << "hours";
    QCOMPARE(order, expectedOrder);

    const QJsonObject doom = readJson(f.file(StorageService::doomScrollFile));
    const DoomScrollConfig after = store.doomScrollConfig();
    if (domains.isEmpty()) {
        QCOMPARE(after, stored);
        QVERIFY(!after.isEnabled);
    } else {
        QStringList onDisk;
        for (const QJsonValue& v : doom.value(QStringLiteral("domains")).toArray())
            onDisk.append(v.toObject().value(QStringLiteral("domain")).toString());
        QCOMPARE(onDisk, domains);
        QCOMPARE(doom.value(QStringLiteral("isEnabled")).toBool(), true);
        QCOMPARE(doom.value(QStringLiteral("usageWindowMinutes")).toInt(), 45);
        QCOMPARE(doom.value(QStringLiteral("breakMinutes")).toInt(), 20);
        // Existing entries keep their ids and order.
        for (size_t i = 0; i < stored.domains.size(); ++i)
            QCOMPARE(after.domains[i], stored.domains[i]);
    }

    const auto& todos = store.todos();
    QCOMPARE(todos.size(), todoTitle.isEmpty() ? size_t(0) : size_t(1));
    if (!todoTitle.isEmpty()) {
        const TaskItem& t = todos.front();
        QCOMPARE(t.title, todoTitle);
        QCOMPARE(t.priority, TaskItem::Priority::high);
        QCOMPARE(t.time, TaskItem::anytime);
        QCOMPARE(t.createdAt, f.calendar.startOfDay(f.clock.peek()));
        QVERIFY(!t.dueDate && !t.reminderDate && !t.notes && !t.recurringSeriesId && t.subtasks.empty());
        QVERIFY(!t.isCompleted);
        QCOMPARE(t.repeatOption, RepeatOption::none);
        QFile file(f.file(StorageService::todosFile));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains(todoTitle.toUtf8()));
    }
}

void TestOnboardingFlow::finishRunsOnce()
{
    StoreFixture f;
    StorageService& store = f.make();
    OnboardingFlow flow(7, [] { return false; });
    flow.setPriorityTitle(QStringLiteral("Call family"));
    int finished = 0;
    OnboardingFlow::FinishTargets targets;
    targets.storage = &store;
    targets.defaults = &f.defaults;
    targets.calendar = f.calendar;
    targets.onFinish = [&] { ++finished; };
    QVERIFY(flow.finish(targets));
    QVERIFY(!flow.isPrimaryEnabled());
    QVERIFY(!flow.finish(targets));
    QCOMPARE(finished, 1);
    QCOMPARE(store.todos().size(), size_t(1));

    // A store that cannot write still hands over, with the flag set.
    StoreFixture g;
    g.failing = {QStringLiteral("*")};
    StorageService& failing = g.make();
    OnboardingFlow second(7, [] { return false; });
    second.setPriorityTitle(QStringLiteral("Call family"));
    bool handed = false;
    targets.storage = &failing;
    targets.defaults = &g.defaults;
    targets.onFinish = [&] { handed = true; };
    QVERIFY(second.finish(targets));
    QVERIFY(handed);
    QVERIFY(failing.lastError().has_value());
    QCOMPARE(g.defaults.boolean(OnboardingFlow::completedKey), std::optional<bool>(true));
}

QTEST_MAIN(TestOnboardingFlow)
#include "tst_onboarding_flow.moc"

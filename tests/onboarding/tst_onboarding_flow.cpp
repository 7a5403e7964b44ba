#include "StoreFixture.h"
#include "blocking/BrowserAutomationService.h"
#include "model/Text.h"
#include "onboarding/OnboardingFlow.h"

#include <QTest>

using Step = OnboardingFlow::Step;
using Kind = BrowserAccessState::Kind;
using BrowserStates = QList<std::pair<QString, int>>; // browser id, Kind

namespace {

// Runs a script of flow actions: "go:<raw>", "back", "skipSites", "skipPriority", "toggle:<site>",
// "hours:<n>", "type:<text>" (typed into the add-a-site field, then Return).
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
        else if (action.startsWith(QStringLiteral("hours:")))
            flow.setHoursPerDay(arg.toDouble());
        else if (action.startsWith(QStringLiteral("type:"))) {
            flow.newSite = arg;
            flow.addCustomSite();
        }
    }
}

OnboardingFlow::FinishTargets targetsOn(StoreFixture& f)
{
    OnboardingFlow::FinishTargets targets;
    targets.storage = &f.make();
    targets.defaults = &f.defaults;
    targets.now = f.clock.peek();
    targets.calendar = f.calendar;
    return targets;
}

} // namespace

class TestOnboardingFlow : public QObject {
    Q_OBJECT
private slots:
    void steps_data();
    void steps();
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
};

void TestOnboardingFlow::steps_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<bool>("offersMove");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<int>("step");
    QTest::addColumn<QList<int>>("history");
    QTest::addColumn<bool>("primaryEnabled");
    using A = QStringList;
    using H = QList<int>;
    QTest::newRow("0 outside the install folders") << 0 << true << A{} << int(Step::install) << H{} << true;
    QTest::newRow("-1 as 0") << -1 << true << A{} << int(Step::install) << H{} << true;
    QTest::newRow("0 installed: the daily question waits for an answer")
        << 0 << false << A{"go:1"} << 1 << H{0} << false;
    QTest::newRow("answered") << 0 << false << A{"go:1", "hours:1"} << 1 << H{0} << true;
    QTest::newRow("9 is no step, as 0, with an estimate") << 9 << false << A{"go:1"} << 1 << H{0} << true;
    QTest::newRow("1 daily scroll, no install test") << 1 << true << A{} << 1 << H{} << true;
    QTest::newRow("8 install itself") << 8 << false << A{} << int(Step::install) << H{} << true;
    QTest::newRow("not now, then forward") << 8 << false << A{"go:0", "go:1"} << 1 << H{8, 0} << true;
    QTest::newRow("back retraces") << 1 << false << A{"go:2", "go:3", "back"} << 2 << H{1} << true;
    QTest::newRow("back at the start") << 5 << false << A{"back", "back"} << 5 << H{} << true;
    QTest::newRow("skip sites passes the browser step") << 3 << false << A{"skipSites"} << 5 << H{3} << true;
    QTest::newRow("unpicking the only site disables continue")
        << 3 << false << A{"toggle:youtube.com"} << 3 << H{} << false;
    QTest::newRow("a typed site enables it again")
        << 3 << false << A{"toggle:youtube.com", "type:Reddit.com/r/all"} << 3 << H{} << true;
    QTest::newRow("skip priority") << 5 << false << A{"skipPriority"} << 6 << H{5} << true;
    QTest::newRow("the same step twice is recorded twice") << 7 << false << A{"go:7", "go:7"} << 7 << H{7, 7} << true;
}

void TestOnboardingFlow::steps()
{
    QFETCH(int, start);
    QFETCH(bool, offersMove);
    QFETCH(QStringList, actions);
    QFETCH(int, step);
    QFETCH(QList<int>, history);
    QFETCH(bool, primaryEnabled);
    OnboardingFlow flow(start, [&] { return offersMove; });
    play(flow, actions);
    QCOMPARE(int(flow.step()), step);
    QList<int> went;
    for (Step s : flow.history())
        went.append(int(s));
    QCOMPARE(went, history);
    QCOMPARE(flow.isPrimaryEnabled(), primaryEnabled);
}

void TestOnboardingFlow::sites_data()
{
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QStringList>("custom");
    QTest::addColumn<QStringList>("selected"); // the picked chips, then the custom sites
    QTest::addColumn<QString>("leftInField");
    using L = QStringList;
    QTest::newRow("picks in click order") << L{"toggle:instagram.com", "toggle:tiktok.com"} << L{}
                                          << L{"youtube.com", "instagram.com", "tiktok.com"} << "";
    QTest::newRow("a typed suggested site picks its chip")
        << L{"type:https://WWW.Instagram.com/explore"} << L{} << L{"youtube.com", "instagram.com"} << "";
    QTest::newRow("typed twice, in other forms, stored once")
        << L{"type:reddit.com", "type:WWW.REDDIT.COM/", "type: reddit.com. "} << L{"reddit.com"}
        << L{"youtube.com", "reddit.com"} << "";
    QTest::newRow("no dot: stays in the field") << L{"type:reddit"} << L{} << L{"youtube.com"} << "reddit";
    QTest::newRow("empty Return does nothing") << L{"type:"} << L{} << L{"youtube.com"} << "";
    QTest::newRow("a name that is not suggested is not toggled on")
        << L{"toggle:reddit.com"} << L{} << L{"youtube.com"} << "";
    QTest::newRow("skip empties both lists")
        << L{"type:reddit.com", "toggle:tiktok.com", "skipSites", "back"} << L{} << L{} << "";
}

void TestOnboardingFlow::sites()
{
    QFETCH(QStringList, actions);
    QFETCH(QStringList, custom);
    QFETCH(QStringList, selected);
    QFETCH(QString, leftInField);
    OnboardingFlow flow(3, [] { return false; });
    play(flow, actions);
    QCOMPARE(flow.pickedSites() + flow.customSites(), selected);
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
    QTest::newRow("none") << 0.0 << 30 << 10 << 59 << "59 min";
    QTest::newRow("1 hour") << 1.0 << 15 << 5 << 60 << "1 hour";
    QTest::newRow("2 hours") << 2.0 << 30 << 10 << 61 << "1 hour 1 min";
    QTest::newRow("3 hours") << 3.0 << 46 << 15 << 120 << "2 hours";
    QTest::newRow("4 hours") << 4.0 << 61 << 20 << 150 << "2 hours 30 min";
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
    QTest::newRow("none known") << L{} << QStringList{} << QString() << "Google Chrome";
    QTest::newRow("not installed is not listed")
        << L{{"chromium", int(Kind::notInstalled)}, {"chrome", int(Kind::notConnected)}} << QStringList{"Google Chrome"}
        << QString() << "Google Chrome";
    QTest::newRow("two refused: the first in table order")
        << L{{"edge", int(Kind::permissionNeeded)}, {"chrome", int(Kind::permissionNeeded)}}
        << QStringList{"Google Chrome", "Microsoft Edge"} << "Google Chrome" << QString("Google Chrome");
    QTest::newRow("all protected: the prompt names the first browser")
        << L{{"brave", int(Kind::connected)}, {"vivaldi", int(Kind::privateWindowsHidden)}}
        << QStringList{"Brave", "Vivaldi"} << QString() << "Google Chrome";
    QTest::newRow("prompt skips the connected")
        << L{{"chrome", int(Kind::connected)}, {"brave", int(Kind::browserClosed)}}
        << QStringList{"Google Chrome", "Brave"} << QString() << "Brave";
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
    QTest::addColumn<QStringList>("domains"); // expected after a restart, in order; empty: untouched
    QTest::addColumn<QString>("todoTitle");   // empty: no to-do
    QTest::addColumn<bool>("failing");        // every write of the store fails
    QTest::newRow("defaults") << QStringList{} << QStringList{} << "Deep work" << true << QStringList{"youtube.com"}
                              << "Deep work" << false;
    QTest::newRow("skipped sites leave the settings alone")
        << QStringList{"skipSites"} << QStringList{} << "" << false << QStringList{} << "" << false;
    QTest::newRow("known sites are not added again, in any spelling")
        << QStringList{"toggle:tiktok.com", "type:reddit.com"} << QStringList{"WWW.YouTube.com", "reddit.com"}
        << "  \n " << true << QStringList{"WWW.YouTube.com", "reddit.com", "tiktok.com"} << "" << false;
    QTest::newRow("a store that cannot write still hands over, with the flag set")
        << QStringList{} << QStringList{} << "Deep work" << true << QStringList{} << "" << true;
}

void TestOnboardingFlow::finish()
{
    QFETCH(QStringList, actions);
    QFETCH(QStringList, existing);
    QFETCH(QString, priority);
    QFETCH(bool, reminders);
    QFETCH(QStringList, domains);
    QFETCH(QString, todoTitle);
    QFETCH(bool, failing);

    StoreFixture f;
    if (failing)
        f.failing = {QStringLiteral("*")};
    OnboardingFlow::FinishTargets targets = targetsOn(f);
    DoomScrollConfig before;
    for (const QString& d : existing)
        before.domains.push_back({QUuid::createUuid(), d});
    if (!existing.isEmpty())
        f.store->blocking().updateDoomScrollConfig(before);
    const DoomScrollConfig stored = f.store->blocking().doomScrollConfig();

    OnboardingFlow flow(3, [] { return false; });
    play(flow, actions);
    flow.setHoursPerDay(3);
    flow.usageMinutes = 45;
    flow.breakMinutes = 20;
    flow.setPriorityTitle(priority);
    flow.remindersOn = reminders;

    QStringList order;
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
    QVERIFY(!flow.finish(targets)); // a second press writes and hands over nothing again
    QVERIFY(!flow.isPrimaryEnabled());
    QCOMPARE(f.store->core().lastError().has_value(), failing);
    const QStringList handOver{"finish", "hours"};
    QCOMPARE(order, reminders ? QStringList{"permission"} + handOver : handOver);

    const DoomScrollConfig after = f.make().blocking().doomScrollConfig(); // a restart reads what is on disk
    if (domains.isEmpty()) {
        QCOMPARE(after, stored);
    } else {
        QStringList onDisk;
        for (const DoomScrollDomain& d : after.domains)
            onDisk.append(d.domain);
        QCOMPARE(onDisk, domains);
        QVERIFY(after.isEnabled);
        QCOMPARE(after.usageWindowMinutes, 45);
        QCOMPARE(after.breakMinutes, 20);
        // Existing entries keep their ids and order.
        for (size_t i = 0; i < stored.domains.size(); ++i)
            QCOMPARE(after.domains[i], stored.domains[i]);
    }

    const auto& todos = f.store->todos().todos();
    QCOMPARE(todos.size(), todoTitle.isEmpty() ? size_t(0) : size_t(1));
    if (!todoTitle.isEmpty()) {
        QCOMPARE(todos.front().title, todoTitle);
        QCOMPARE(todos.front().priority, TaskItem::Priority::high);
        QCOMPARE(todos.front().createdAt, f.calendar.startOfDay(f.clock.peek()));
    }
}

QTEST_MAIN(TestOnboardingFlow)
#include "tst_onboarding_flow.moc"

// The executor that carries the engine's commands to a browser's route, one at a time, and
// answers each exactly once.

#include "FakeBrowser.h"
#include "blocking/BrowserScriptExecutor.h"

#include <QElapsedTimer>
#include <QTest>

using Operation = BrowserCommand::Operation;

namespace {

SupportedBrowser browserNamed(const QString& browserId)
{
    return {browserId, QStringLiteral("Test"), {}};
}

BrowserCommand readCommand(const QString& browserId)
{
    return BrowserCommand::read(browserNamed(browserId));
}

// Addresses as they come from tabs: none of them may be altered on the way to the browser.
const QStringList& awkwardAddresses()
{
    static const QStringList list{
        QStringLiteral("https://www.example.com/"),
        QString(),
        QStringLiteral("https://e.com/?q=\"x\""),
        QStringLiteral("C:\\dir\\"),
        QStringLiteral("a\r\nb"),
        QStringLiteral("https://e.com/#\"\nend\n--"),
        QStringLiteral("https://例え.jp/ü?x=€"),
    };
    return list;
}

struct Completion {
    QString tag;
    BrowserScriptResult result;
    QThread* thread = nullptr;
};

} // namespace

class TestCommandExecutor : public QObject {
    Q_OBJECT

private slots:
    void addressesArriveUnchanged();

    void executorRunsOneAtATimeAndCompletesInOrder_data();
    void executorRunsOneAtATimeAndCompletesInOrder();
    void executorTimesOutAHangingRunner();
    void executorAsksItsRunnerWhetherAReadStands_data();
    void executorAsksItsRunnerWhetherAReadStands();
    void lateAnswerAfterTheTimeOutIsIgnored();
    void illFormedCommandIsAnsweredUnprepared();
    void executorDestroyedWithScriptsPending_data() { executorRunsOneAtATimeAndCompletesInOrder_data(); }
    void executorDestroyedWithScriptsPending();
};

void TestCommandExecutor::addressesArriveUnchanged()
{
    // Across the executor's thread, every address reaches the browser as the engine read it.
    auto runner = std::make_unique<FakeBrowser>();
    FakeBrowser* browser = runner.get();
    BrowserScriptExecutor executor(std::move(runner));
    const SupportedBrowser b = browserNamed(QStringLiteral("example"));
    QList<BrowserCommand> sent;
    for (const QString& address : awkwardAddresses()) {
        sent.append(BrowserCommand::redirect(b, address, address + QStringLiteral("#to")));
        sent.append(BrowserCommand::close(b, address));
    }
    int answered = 0;
    for (const BrowserCommand& command : sent)
        executor.run(command, [&answered](const BrowserScriptResult&) { ++answered; });
    QTRY_COMPARE(answered, sent.size());
    QList<BrowserCommand> received;
    for (const FakeBrowser::Received& r : browser->received())
        received.append(r.command);
    QCOMPARE(received, sent);
}

// ---------------------------------------------------------------- executor

void TestCommandExecutor::executorRunsOneAtATimeAndCompletesInOrder_data()
{
    QTest::addColumn<BrowserScriptExecutor::Placement>("placement");
    QTest::newRow("own thread") << BrowserScriptExecutor::Placement::ownThread;
    QTest::newRow("calling thread") << BrowserScriptExecutor::Placement::callingThread;
}

void TestCommandExecutor::executorRunsOneAtATimeAndCompletesInOrder()
{
    QFETCH(BrowserScriptExecutor::Placement, placement);
    auto runner = std::make_unique<FakeBrowser>();
    FakeBrowser* browser = runner.get();
    // The first script is the slowest: if scripts overlapped, later ones would finish first.
    const QList<QPair<QString, int>> plan{{QStringLiteral("slow"), 80},
                                          {QStringLiteral("fast"), 0},
                                          {QStringLiteral("medium"), 30},
                                          {QStringLiteral("fast2"), 0},
                                          {QStringLiteral("slow2"), 50}};
    for (const auto& [name, delay] : plan) {
        browser->open(name, QStringLiteral("https://%1.example/").arg(name));
        browser->setDelay(name, delay);
    }
    BrowserScriptExecutor executor(std::move(runner), 3000, nullptr, placement);

    QList<Completion> completions;
    for (const auto& [name, delay] : plan)
        executor.run(readCommand(name), [&completions, name = name](const BrowserScriptResult& r) {
            completions.append({name, r, QThread::currentThread()});
        });
    // run() returns at once; nothing completes before the event loop runs.
    QVERIFY(completions.isEmpty());

    QTRY_COMPARE(completions.size(), plan.size());
    for (qsizetype i = 0; i < plan.size(); ++i) {
        QCOMPARE(completions[i].tag, plan[i].first);
        QCOMPARE(completions[i].result.output, QStringLiteral("https://%1.example/").arg(plan[i].first));
        QVERIFY(!completions[i].result.failed());
        QCOMPARE(completions[i].thread, QCoreApplication::instance()->thread());
    }
    QCOMPARE(browser->maxInFlight(), 1);
    const QList<FakeBrowser::Received> received = browser->received();
    QCOMPARE(received.size(), plan.size());
    for (qsizetype i = 0; i < received.size(); ++i) {
        QCOMPARE(received[i].command.browserId, plan[i].first);
        QCOMPARE(received[i].thread == QCoreApplication::instance()->thread(),
                 placement == BrowserScriptExecutor::Placement::callingThread);
        QCOMPARE(received[i].thread, received.first().thread);
    }
}

void TestCommandExecutor::executorAsksItsRunnerWhetherAReadStands_data()
{
    QTest::addColumn<BrowserScriptExecutor::Placement>("placement");
    QTest::addColumn<bool>("hangs");     // the read never answers: it is still under way
    QTest::addColumn<bool>("navigates"); // the page changes after the read
    QTest::addColumn<bool>("stands");
    const auto own = BrowserScriptExecutor::Placement::ownThread;
    const auto beside = BrowserScriptExecutor::Placement::callingThread;
    QTest::newRow("beside, nothing changed") << beside << false << false << true;
    QTest::newRow("beside, the page changed") << beside << false << true << false;
    QTest::newRow("beside, the read still under way") << beside << true << false << false;
    // A runner on a thread of its own is never asked across threads.
    QTest::newRow("own thread, nothing changed") << own << false << false << false;
}

void TestCommandExecutor::executorAsksItsRunnerWhetherAReadStands()
{
    QFETCH(BrowserScriptExecutor::Placement, placement);
    QFETCH(bool, hangs);
    QFETCH(bool, navigates);
    QFETCH(bool, stands);
    const QString browserId = QStringLiteral("example");
    const QString stuck = QStringLiteral("stuck");
    auto runner = std::make_unique<FakeBrowser>();
    FakeBrowser* browser = runner.get();
    browser->open(browserId, QStringLiteral("https://example.org/"));
    browser->open(stuck, QStringLiteral("https://stuck.example/"));
    browser->setHang(stuck, true);
    browser->setTellsChanges(true);
    BrowserScriptExecutor executor(std::move(runner), 3000, nullptr, placement);
    QVERIFY(!executor.readUnchanged(browserId)); // nothing read yet

    bool completed = false;
    executor.run(readCommand(browserId), [&completed](const BrowserScriptResult&) { completed = true; });
    QTRY_VERIFY(completed);
    if (hangs) {
        // Another browser's read, which the runner holds on to.
        executor.run(readCommand(stuck), [](const BrowserScriptResult&) {});
        QTRY_COMPARE(browser->received().size(), 2);
    }
    if (navigates)
        browser->navigate(browserId, QStringLiteral("https://example.org/next"));
    QCOMPARE(executor.readUnchanged(browserId), stands);
    QVERIFY(!executor.readUnchanged(stuck));
}

void TestCommandExecutor::executorTimesOutAHangingRunner()
{
    auto runner = std::make_unique<FakeBrowser>();
    FakeBrowser* browser = runner.get();
    browser->open(QStringLiteral("stuck"), QStringLiteral("https://stuck.example/"));
    browser->setHang(QStringLiteral("stuck"), true);
    browser->open(QStringLiteral("next"), QStringLiteral("https://next.example/"));
    BrowserScriptExecutor executor(std::move(runner), 200);

    QList<Completion> completions;
    QElapsedTimer elapsed;
    elapsed.start();
    qint64 timedOutAfter = -1;
    executor.run(readCommand(QStringLiteral("stuck")), [&](const BrowserScriptResult& r) {
        timedOutAfter = elapsed.elapsed();
        completions.append({QStringLiteral("stuck"), r, QThread::currentThread()});
    });
    executor.run(readCommand(QStringLiteral("next")), [&](const BrowserScriptResult& r) {
        completions.append({QStringLiteral("next"), r, QThread::currentThread()});
    });

    QTRY_COMPARE(completions.size(), 2);
    QCOMPARE(completions[0].tag, QStringLiteral("stuck"));
    const BrowserScriptResult expected{std::nullopt, BrowserCommandError::timedOut,
                                       QStringLiteral("The browser did not respond in time.")};
    QCOMPARE(completions[0].result, expected);
    QCOMPARE(completions[0].result, BrowserScriptExecutor::timedOut());
    QVERIFY2(timedOutAfter >= 190, qPrintable(QString::number(timedOutAfter)));
    QCOMPARE(completions[0].thread, QCoreApplication::instance()->thread());
    // The queue moves on after the time-out.
    QCOMPARE(completions[1].tag, QStringLiteral("next"));
    QCOMPARE(completions[1].result.output, QStringLiteral("https://next.example/"));
}

void TestCommandExecutor::lateAnswerAfterTheTimeOutIsIgnored()
{
    auto runner = std::make_unique<FakeBrowser>();
    FakeBrowser* browser = runner.get();
    // "late" answers 100 ms after its time-out, while "second" (which takes 250 ms) is running:
    // the late answer must neither complete anything twice nor pass for the second's.
    browser->open(QStringLiteral("late"), QStringLiteral("https://late.example/"));
    browser->setDelay(QStringLiteral("late"), 400);
    browser->open(QStringLiteral("second"), QStringLiteral("https://second.example/"));
    browser->setDelay(QStringLiteral("second"), 250);
    BrowserScriptExecutor executor(std::move(runner), 300);

    QList<Completion> completions;
    for (const QString& name : {QStringLiteral("late"), QStringLiteral("second")})
        executor.run(readCommand(name), [&completions, name](const BrowserScriptResult& r) {
            completions.append({name, r, QThread::currentThread()});
        });

    QTRY_COMPARE(completions.size(), 2);
    QCOMPARE(completions[0].tag, QStringLiteral("late"));
    QCOMPARE(completions[0].result, BrowserScriptExecutor::timedOut());
    QCOMPARE(completions[1].tag, QStringLiteral("second"));
    QCOMPARE(completions[1].result.output, QStringLiteral("https://second.example/"));
    QTest::qWait(300);
    QCOMPARE(completions.size(), 2);
}

void TestCommandExecutor::illFormedCommandIsAnsweredUnprepared()
{
    auto runner = std::make_unique<FakeBrowser>();
    FakeBrowser* browser = runner.get();
    browser->open(QStringLiteral("before"), QStringLiteral("https://before.example/"));
    browser->setDelay(QStringLiteral("before"), 30);
    browser->open(QStringLiteral("after"), QStringLiteral("https://after.example/"));
    BrowserScriptExecutor executor(std::move(runner));
    QList<Completion> completions;
    const auto record = [&completions](const QString& tag) {
        return [&completions, tag](const BrowserScriptResult& r) {
            completions.append({tag, r, QThread::currentThread()});
        };
    };
    executor.run(readCommand(QStringLiteral("before")), record(QStringLiteral("before")));
    executor.run(BrowserCommand::redirect(browserNamed(QStringLiteral("after")), QStringLiteral("https://a/"), {}),
                 record(QStringLiteral("ill-formed")));
    executor.run(readCommand(QStringLiteral("after")), record(QStringLiteral("after")));

    QTRY_COMPARE(completions.size(), 3);
    // It waits its turn like any other, and never reaches the browser.
    QCOMPARE(completions[0].tag, QStringLiteral("before"));
    QCOMPARE(completions[1].tag, QStringLiteral("ill-formed"));
    const BrowserScriptResult expected{std::nullopt, BrowserCommandError::unprepared,
                                       QStringLiteral("The browser command could not be prepared.")};
    QCOMPARE(completions[1].result, expected);
    QCOMPARE(completions[1].result, BrowserScriptExecutor::unprepared());
    QCOMPARE(completions[2].result.output, QStringLiteral("https://after.example/"));
    QCOMPARE(browser->operations(), (QList<Operation>{Operation::read, Operation::read}));
}

void TestCommandExecutor::executorDestroyedWithScriptsPending()
{
    QFETCH(BrowserScriptExecutor::Placement, placement);
    bool called = false;
    {
        auto runner = std::make_unique<FakeBrowser>();
        runner->open(QStringLiteral("stuck"), QStringLiteral("https://stuck.example/"));
        runner->setHang(QStringLiteral("stuck"), true);
        BrowserScriptExecutor executor(std::move(runner), 60000, nullptr, placement);
        executor.run(readCommand(QStringLiteral("stuck")), [&](const BrowserScriptResult&) { called = true; });
        executor.run(readCommand(QStringLiteral("stuck")), [&](const BrowserScriptResult&) { called = true; });
        QTest::qWait(50);
    }
    // Tearing down must neither block on the runner nor call back into a dead owner.
    QTest::qWait(50);
    QVERIFY(!called);
}

QTEST_GUILESS_MAIN(TestCommandExecutor)
#include "tst_command_executor.moc"

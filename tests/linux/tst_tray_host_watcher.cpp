#include "linux/TrayHostWatcher.h"

#include <QMutex>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>

namespace {

// Answers the watcher's looks from a script, counting them, noting the threads they run on and
// how many were out at once.
struct ScriptedHost {
    std::vector<bool> answers; // the last one repeats
    int slowLook = -1;         // this look waits until the watcher's thread has turned
    std::atomic<int> looks{0};
    std::atomic<int> out{0};
    std::atomic<int> mostOut{0};
    std::atomic<int> onMainThread{0};
    std::atomic<bool> turned{false};
    QThread* mainThread = QThread::currentThread();

    bool look()
    {
        const int index = looks++;
        mostOut = std::max(mostOut.load(), ++out);
        if (QThread::currentThread() == mainThread)
            ++onMainThread;
        if (index == slowLook) {
            // A look that waits for the bus: the watcher's thread goes on meanwhile, polling too.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [this] { QTimer::singleShot(600, [this] { turned = true; }); },
                Qt::QueuedConnection);
            for (int i = 0; i < 3000 && !turned; ++i)
                QThread::msleep(10);
        }
        --out;
        return answers[std::min(size_t(index), answers.size() - 1)];
    }
};

} // namespace

// Whether a tray host exists is asked on a worker, one look at a time, and decided once.
class TestTrayHostWatcher : public QObject {
    Q_OBJECT

private slots:
    void decidesOnceFromLooksOffTheMainThread_data()
    {
        QTest::addColumn<std::vector<bool>>("answers");
        QTest::addColumn<int>("patienceMs");
        QTest::addColumn<int>("slowLook");
        QTest::addColumn<bool>("seen");
        QTest::addColumn<int>("looks");
        QTest::newRow("a host at once") << std::vector<bool>{true} << 10000 << -1 << true << 1;
        QTest::newRow("none, no patience") << std::vector<bool>{false} << 0 << -1 << false << 1;
        QTest::newRow("a host at the third look") << std::vector<bool>{false, false, true} << 10000 << -1 << true << 3;
        QTest::newRow("a slow look, then a host") << std::vector<bool>{false, true} << 10000 << 0 << true << 2;
        QTest::newRow("a slow look outlasting the patience") << std::vector<bool>{false} << 300 << 0 << false << 1;
    }
    void decidesOnceFromLooksOffTheMainThread()
    {
        QFETCH(std::vector<bool>, answers);
        QFETCH(int, patienceMs);
        QFETCH(int, slowLook);
        QFETCH(bool, seen);
        QFETCH(int, looks);
        ScriptedHost host;
        host.answers = answers;
        host.slowLook = slowLook;
        TrayHostWatcher watcher(patienceMs, nullptr, [&host] { return host.look(); });
        QSignalSpy decided(&watcher, &TrayHostWatcher::decided);
        watcher.start();
        QTRY_COMPARE_WITH_TIMEOUT(decided.size(), 1, 30000);
        QCOMPARE(decided.at(0).at(0).toBool(), seen);
        QCOMPARE(host.looks.load(), looks);
        QCOMPARE(host.onMainThread.load(), 0);
        QCOMPARE(host.mostOut.load(), 1);
    }

    // The watcher may go while a look is still out: its answer then goes nowhere.
    void goneWhileLooking()
    {
        ScriptedHost host;
        host.answers = {true};
        host.slowLook = 0;
        auto watcher = std::make_unique<TrayHostWatcher>(10000, nullptr, [&host] { return host.look(); });
        QSignalSpy decided(watcher.get(), &TrayHostWatcher::decided);
        watcher->start();
        QTRY_COMPARE_WITH_TIMEOUT(host.out.load(), 1, 30000);
        watcher.reset();
        QTRY_COMPARE_WITH_TIMEOUT(host.out.load(), 0, 30000);
        QCoreApplication::processEvents();
        QCOMPARE(decided.size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTrayHostWatcher)
#include "tst_tray_host_watcher.moc"

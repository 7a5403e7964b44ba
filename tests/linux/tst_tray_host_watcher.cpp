#include "linux/TrayHostWatcher.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <atomic>

// Whether a tray host exists is asked on a worker, one look at a time, and decided once.
class TestTrayHostWatcher : public QObject {
    Q_OBJECT

private slots:
    void decidesOnceFromLooksOffTheMainThread_data()
    {
        QTest::addColumn<std::vector<bool>>("answers"); // the last one repeats
        QTest::addColumn<int>("patienceMs");
        QTest::addColumn<bool>("slowFirst"); // the first look lasts several polls
        QTest::addColumn<bool>("seen");
        QTest::addColumn<int>("looks");
        QTest::newRow("a host at once") << std::vector<bool>{true} << 10000 << false << true << 1;
        QTest::newRow("none, no patience") << std::vector<bool>{false} << 0 << false << false << 1;
        QTest::newRow("a host at the third look")
            << std::vector<bool>{false, false, true} << 10000 << false << true << 3;
        QTest::newRow("a slow look, then a host") << std::vector<bool>{false, true} << 10000 << true << true << 2;
    }
    void decidesOnceFromLooksOffTheMainThread()
    {
        QFETCH(std::vector<bool>, answers);
        QFETCH(int, patienceMs);
        QFETCH(bool, slowFirst);
        QFETCH(bool, seen);
        QFETCH(int, looks);
        std::atomic<int> looked{0}, out{0}, mostOut{0}, onMainThread{0};
        QThread* const mainThread = QThread::currentThread();
        TrayHostWatcher watcher(patienceMs, nullptr, [&]() -> bool {
            const int index = looked++;
            mostOut = std::max(mostOut.load(), ++out);
            onMainThread += QThread::currentThread() == mainThread;
            if (index == 0 && slowFirst)
                QThread::msleep(700); // a bus slow to answer: the watcher's polls go on meanwhile
            --out;
            return answers[std::min(size_t(index), answers.size() - 1)];
        });
        QSignalSpy decided(&watcher, &TrayHostWatcher::decided);
        watcher.start();
        QTRY_COMPARE_WITH_TIMEOUT(decided.size(), 1, 30000);
        QCOMPARE(decided.at(0).at(0).toBool(), seen);
        QCOMPARE(looked.load(), looks);
        QCOMPARE(onMainThread.load(), 0);
        QCOMPARE(mostOut.load(), 1);
    }
};

QTEST_GUILESS_MAIN(TestTrayHostWatcher)
#include "tst_tray_host_watcher.moc"

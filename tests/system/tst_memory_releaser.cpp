#include "TestEnvironment.h"
#include "system/MemoryReturn.h"

#include <QMutex>
#include <QThread>
#include <QtTest>
#include <cstdlib>
#include <latch>
#include <thread>

// Data handed over go on the releaser's worker, and a give-back comes only after everything handed
// over before it (a trim that ran first would hand back nothing), even when the releaser ends; and
// the allocator's rules keep the workers off the main thread's heap.
class TestMemoryReleaser : public QObject {
    Q_OBJECT

private slots:
    void freedBeforeTheTrim_data()
    {
        QTest::addColumn<int>("released");
        QTest::addColumn<bool>("endsFirst"); // the releaser goes before anyone waits for it
        QTest::newRow("nothing released") << 0 << false;
        QTest::newRow("many, in order") << 40 << false;
        QTest::newRow("releaser ends first") << 5 << true;
    }
    void freedBeforeTheTrim()
    {
        QFETCH(int, released);
        QFETCH(bool, endsFirst);
        QMutex mutex;
        QStringList log, expected;
        const auto add = [&](const QString& e) {
            const QMutexLocker lock(&mutex);
            log.append(e);
        };
        {
            MemoryReleaser releaser([&] { add(QStringLiteral("trim")); });
            for (int i = 0; i < released; ++i) {
                const auto free = [&, i, caller = QThread::currentThread()](int* datum) {
                    add(QString::number(i) + (QThread::currentThread() == caller ? " here" : ""));
                    delete datum;
                };
                releaser.release(std::shared_ptr<int>(new int(i), free));
                expected.append(QString::number(i));
            }
            releaser.giveBack();
            releaser.post([&] { add(QStringLiteral("after")); });
            if (!endsFirst)
                releaser.waitForDone();
        }
        QCOMPARE(log, expected << QStringLiteral("trim") << QStringLiteral("after"));
    }

    // As many threads at once as the program runs at its busiest (the painting threads, one per
    // processor, and its own): none is given the main thread's heap, whose lock the window would
    // then wait on for every block the worker makes.
    void workersKeepOffTheMainHeap()
    {
#ifdef __GLIBC__
        MemoryReturn::setAllocatorPolicy();
        const int threads = int(std::thread::hardware_concurrency()) + 12;
        std::latch allAllocated(threads);
        std::vector<char> onMainHeap(size_t(threads), 0);
        {
            std::vector<std::jthread> workers;
            for (int i = 0; i < threads; ++i)
                workers.emplace_back([&, i] {
                    void* block = std::malloc(64);
                    // The C library marks a block from any heap but the main thread's in its header,
                    // the word before the block (written by the library, which the compiler cannot see).
                    constexpr size_t fromAnotherHeap = 0x4;
                    const size_t* volatile header = static_cast<size_t*>(block) - 1;
                    onMainHeap[size_t(i)] = (*header & fromAnotherHeap) == 0;
                    allAllocated.arrive_and_wait(); // held, so that no heap is handed on
                    std::free(block);
                });
        }
        QCOMPARE(std::count(onMainHeap.begin(), onMainHeap.end(), 1), 0);
#endif
    }
};

QTEST_GUILESS_MAIN(TestMemoryReleaser)
#include "tst_memory_releaser.moc"

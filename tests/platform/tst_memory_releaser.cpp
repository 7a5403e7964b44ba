#include "TestEnvironment.h"
#include "platform/MemoryReturn.h"

#include <QMutex>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <vector>

namespace {

// What happened on the releaser's side, in order: "freed <n>" when a datum went, "trim", "job".
struct Log {
    QMutex mutex;
    QStringList events;
    std::vector<QThread*> freedOn;

    void add(const QString& event, QThread* thread = nullptr)
    {
        const QMutexLocker lock(&mutex);
        events.append(event);
        if (thread)
            freedOn.push_back(thread);
    }
    QStringList taken()
    {
        const QMutexLocker lock(&mutex);
        return events;
    }
};

// A datum that tells the log when it is destroyed, and on which thread.
struct Probe {
    Probe(Log* log, int number) : log(log), number(number) {}
    Log* log;
    int number;
    std::vector<char> bytes = std::vector<char>(64 * 1024, 'x');
    ~Probe() { log->add(QStringLiteral("freed %1").arg(number), QThread::currentThread()); }
};

} // namespace

// Data handed to the releaser goes on its worker, and a give-back runs only after everything
// handed over before it: a trim that ran first would hand back nothing.
class TestMemoryReleaser : public QObject {
    Q_OBJECT

private slots:
    void freedBeforeTheTrim_data()
    {
        QTest::addColumn<int>("released");
        QTest::addColumn<bool>("heldElsewhere"); // another reference outlives the hand-over
        QTest::newRow("nothing released") << 0 << false;
        QTest::newRow("one") << 1 << false;
        QTest::newRow("many, in order") << 40 << false;
        QTest::newRow("still referenced elsewhere") << 3 << true;
    }
    void freedBeforeTheTrim()
    {
        QFETCH(int, released);
        QFETCH(bool, heldElsewhere);
        Log log;
        std::atomic<int> trims{0};
        MemoryReleaser releaser([&] {
            ++trims;
            log.add(QStringLiteral("trim"));
        });
        std::vector<std::shared_ptr<Probe>> kept;
        QStringList expected;
        for (int i = 0; i < released; ++i) {
            auto probe = std::make_shared<Probe>(&log, i);
            if (heldElsewhere)
                kept.push_back(probe);
            else
                expected.append(QStringLiteral("freed %1").arg(i));
            releaser.release(std::move(probe));
        }
        releaser.giveBack();
        releaser.post([&] { log.add(QStringLiteral("job")); });
        releaser.waitForDone();
        expected << QStringLiteral("trim") << QStringLiteral("job");
        QCOMPARE(log.taken(), expected);
        QCOMPARE(trims.load(), 1);
        for (QThread* thread : log.freedOn)
            QVERIFY(thread != QThread::currentThread());
        // The other holder's reference keeps them: they go with it, here.
        kept.clear();
        QCOMPARE(int(log.taken().size()), expected.size() + (heldElsewhere ? released : 0));
    }

    // A releaser that goes away first finishes what it was handed; without a trim it only frees.
    void endsWhatItWasHanded_data()
    {
        QTest::addColumn<bool>("withTrim");
        QTest::newRow("trims") << true;
        QTest::newRow("no trim given") << false;
    }
    void endsWhatItWasHanded()
    {
        QFETCH(bool, withTrim);
        Log log;
        {
            MemoryReleaser releaser(withTrim ? std::function<void()>([&] { log.add(QStringLiteral("trim")); })
                                             : std::function<void()>());
            releaser.post([] { QThread::yieldCurrentThread(); });
            for (int i = 0; i < 5; ++i)
                releaser.release(std::make_shared<Probe>(&log, i));
            releaser.giveBack();
        }
        QStringList expected;
        for (int i = 0; i < 5; ++i)
            expected.append(QStringLiteral("freed %1").arg(i));
        if (withTrim)
            expected.append(QStringLiteral("trim"));
        QCOMPARE(log.taken(), expected);
    }
};

QTEST_GUILESS_MAIN(TestMemoryReleaser)
#include "tst_memory_releaser.moc"

#include "TestEnvironment.h"
#include "platform/MemoryReturn.h"

#include <QMutex>
#include <QThread>
#include <QtTest>

// Data handed over go on the releaser's worker, and a give-back comes only after everything handed
// over before it (a trim that ran first would hand back nothing), even when the releaser ends.
class TestMemoryReleaser : public QObject {
    Q_OBJECT

    struct Log {
        QMutex mutex;
        QStringList events;
        void add(const QString& e)
        {
            const QMutexLocker lock(&mutex);
            events.append(e);
        }
    };
    struct Probe {
        Probe(Log* log, int n, QThread* caller) : log(log), n(n), caller(caller) {}
        ~Probe() { log->add(QString::number(n) + (QThread::currentThread() == caller ? " here" : "")); }
        Log* log;
        int n;
        QThread* caller;
    };

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
        Log log;
        QStringList expected;
        {
            MemoryReleaser releaser([&] { log.add(QStringLiteral("trim")); });
            for (int i = 0; i < released; ++i) {
                releaser.release(std::make_shared<Probe>(&log, i, QThread::currentThread()));
                expected.append(QString::number(i));
            }
            releaser.giveBack();
            releaser.post([&] { log.add(QStringLiteral("after")); });
            if (!endsFirst)
                releaser.waitForDone();
        }
        QCOMPARE(log.events, expected << QStringLiteral("trim") << QStringLiteral("after"));
    }
};

QTEST_GUILESS_MAIN(TestMemoryReleaser)
#include "tst_memory_releaser.moc"

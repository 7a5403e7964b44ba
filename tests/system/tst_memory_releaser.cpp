#include "TestEnvironment.h"
#include "system/MemoryReturn.h"

#include <QMutex>
#include <QThread>
#include <QtTest>

// Data handed over go on the releaser's worker, and a give-back comes only after everything handed
// over before it (a trim that ran first would hand back nothing), even when the releaser ends.
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
};

QTEST_GUILESS_MAIN(TestMemoryReleaser)
#include "tst_memory_releaser.moc"

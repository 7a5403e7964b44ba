// Two real processes, each a device with its own data folder, edit at random and sync at the same
// time through one record store (a SQLite file, then a PostgreSQL server); after quiet syncs both
// hold the same items and nothing is pending.
#include "PostgresServer.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

class SyncProcesses : public QObject {
    Q_OBJECT
    QTemporaryDir m_folder;
    PostgresServer m_postgres;

    QString program() const { return QCoreApplication::applicationDirPath() + QStringLiteral("/sync_device"); }

    QProcess* launch(const QString& device, const QString& store, int seed, int edits)
    {
        auto* p = new QProcess(this);
        p->start(program(), {m_folder.filePath(device), store, QString::number(seed), QString::number(edits)});
        return p;
    }

    // The device's output, or a failure with its error text.
    static QByteArray finish(QProcess* p)
    {
        if (!p->waitForFinished(180000)) {
            p->kill();
            p->waitForFinished();
        }
        const QByteArray out = p->readAllStandardOutput();
        if (p->exitStatus() != QProcess::NormalExit || p->exitCode() != 0)
            qWarning() << "device failed:" << p->exitCode() << p->readAllStandardError();
        return p->exitCode() == 0 && p->exitStatus() == QProcess::NormalExit ? out : QByteArray();
    }

private slots:
    void initTestCase() { m_postgres.start(); }
    void cleanupTestCase() { m_postgres.stop(); }

    void converge_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<int>("seed");
        QTest::newRow("sqlite") << QStringLiteral("sqlite") << 11;
        QTest::newRow("postgresql") << QStringLiteral("postgresql") << 23;
    }
    void converge()
    {
        QFETCH(QString, backend);
        QFETCH(int, seed);
        QString store = m_folder.filePath(backend + QStringLiteral(".sqlite"));
        if (backend == QLatin1String("postgresql")) {
            QH_REQUIRE_POSTGRES(m_postgres, m_postgres.isRunning());
            m_postgres.freshSchema(QStringLiteral("processes"));
            store = QStringLiteral("postgresql:///postgres?host=%1&user=postgres&options=%2")
                        .arg(QString::fromUtf8(QUrl::toPercentEncoding(m_postgres.folder())),
                             QString::fromUtf8(QUrl::toPercentEncoding(QStringLiteral("-c search_path=processes"))));
        }
        const QString a = backend + QStringLiteral("-a");
        const QString b = backend + QStringLiteral("-b");
        QProcess* first = launch(a, store, seed, 40);
        QProcess* second = launch(b, store, seed + 1, 40);
        QVERIFY(!finish(first).isEmpty());
        QVERIFY(!finish(second).isEmpty());

        // Quiet: each device syncs again, the first once more to take in what the second sent last.
        QVERIFY(!finish(launch(a, store, 0, 0)).isEmpty());
        const QByteArray fromB = finish(launch(b, store, 0, 0));
        const QByteArray fromA = finish(launch(a, store, 0, 0));
        QVERIFY(!fromA.isEmpty());
        QCOMPARE(fromA, fromB);
        QVERIFY(fromA.endsWith("pending 0\n"));
        QVERIFY2(fromA.count('\n') > 3, "the devices should hold some items");
    }
};

QTEST_GUILESS_MAIN(SyncProcesses)
#include "tst_sync_processes.moc"

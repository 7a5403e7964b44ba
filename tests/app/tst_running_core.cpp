#include "TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

// The program itself: it starts the services on a private data folder, serves the block page,
// and on SIGINT or SIGTERM saves the blocking state and exits cleanly.
class TestRunningCore : public QObject {
    Q_OBJECT

    static QString readLine(QProcess& p)
    {
        QByteArray line;
        QElapsedTimer t;
        t.start();
        while (!line.contains('\n') && t.elapsed() < 10000 && p.state() == QProcess::Running) {
            p.waitForReadyRead(100);
            line += p.readAllStandardOutput();
        }
        return QString::fromUtf8(line).trimmed();
    }

private slots:
    void startsServesAndSavesOnSignal_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void startsServesAndSavesOnSignal()
    {
        QFETCH(int, signalNumber);
        QTemporaryDir folder;
        const QString data = folder.filePath(QStringLiteral("data"));
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUILLHARBOUR_DATA_DIR"), data);
        env.remove(QStringLiteral("DISPLAY"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(QUILLHARBOUR_BINARY), {QStringLiteral("quillharbour://settings")});
        QVERIFY(app.waitForStarted(5000));
        const QString line = readLine(app);
        QVERIFY2(line.contains(QStringLiteral("block page on http://127.0.0.1:")), qPrintable(line));
        QVERIFY(QFileInfo::exists(QDir(data).filePath(QStringLiteral("state.json"))));

        QFile::remove(QDir(data).filePath(QStringLiteral("state.json")));
        ::kill(static_cast<pid_t>(app.processId()), signalNumber);
        QVERIFY(app.waitForFinished(5000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QFile state(QDir(data).filePath(QStringLiteral("state.json")));
        QVERIFY2(state.open(QIODevice::ReadOnly), "state.json was not saved on the way out");
        QVERIFY(QJsonDocument::fromJson(state.readAll()).object().contains(QStringLiteral("dayId")));
    }
};

QTEST_GUILESS_MAIN(TestRunningCore)
#include "tst_running_core.moc"

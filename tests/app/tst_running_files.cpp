#include "TestEnvironment.h"
#include "model/BlockRule.h"
#include "model/Json.h"
#include "model/SharedState.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

namespace {

qint64 dayIdIn(const char* zone)
{
    const QDate d = QDateTime::currentDateTimeUtc().toTimeZone(QTimeZone(zone)).date();
    return d.year() * 10000 + d.month() * 100 + d.day();
}

} // namespace

// The program itself in a home of its own: started, stopped with SIGTERM, its files read after.
class TestRunningFiles : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QString path(const char* relative) const { return m_home.filePath(QString::fromLatin1(relative)); }

    // Runs the program in `zone` until it serves and `ready` holds; true when it then ended cleanly.
    bool run(
        const char* zone, const std::function<bool()>& ready = [] { return true; })
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path("config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), path("share"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), path("cache"));
        env.insert(QStringLiteral("QUILLHARBOUR_DATA_DIR"), path("data"));
        env.insert(QStringLiteral("TZ"), QString::fromLatin1(zone));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QUILLHARBOUR_RECORD_STORE"})
            env.remove(QString::fromLatin1(name));
        QProcess app; // its destructor kills it should a check fail
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(QUILLHARBOUR_BINARY), {});
        QByteArray out;
        const bool serving = QTest::qWaitFor(
            [&] {
                app.waitForReadyRead(50);
                out += app.readAllStandardOutput();
                return out.contains("block page on") || app.state() == QProcess::NotRunning;
            },
            30000);
        if (!serving || !out.contains("block page on") || !QTest::qWaitFor(ready, 30000))
            return false;
        ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
        return app.waitForFinished(30000) && app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0;
    }

private slots:
    void cleanup() { QDir(m_home.path()).removeRecursively(); }

    // Flipping the zone between starts keeps a used-up limit used up and the day's urgent break
    // spent. UTC and Honolulu differ in date only in UTC's first ten hours; Kiritimati always,
    // and it is a day or two ahead of UTC-12, where the day is counted first in the last row.
    void zoneFlipsGrantNothing_data()
    {
        QTest::addColumn<QByteArray>("east");
        QTest::addColumn<QByteArray>("west");
        QTest::newRow("UTC") << QByteArray("UTC") << QByteArray("Pacific/Honolulu");
        QTest::newRow("a whole day apart") << QByteArray("Pacific/Kiritimati") << QByteArray("Pacific/Honolulu");
        QTest::newRow("counted in the west, then east") << QByteArray("Etc/GMT+12") << QByteArray("Pacific/Kiritimati");
    }
    void zoneFlipsGrantNothing()
    {
        QFETCH(QByteArray, east);
        QFETCH(QByteArray, west);
        const qint64 day = dayIdIn(east);
        BlockRule rule;
        rule.id = QUuid::createUuid();
        rule.domain = rule.displayName = QStringLiteral("feed.example");
        rule.blockApplySchedule.isAfterMaxDailyTime = true;
        rule.dailyLimitMinutes = 1;
        rule.allowOneBreak = true;
        rule.urgentBreakUsedCalendarDay = day;
        SharedState used;
        used.dayId = day;
        used.usageSecondsByRuleId.insert(uuidText(rule.id), 120);
        used.exceededRuleIds.insert(rule.id);
        QVERIFY(TestEnvironment::writeFile(path("data/rules.json"), rulesFileText({rule})));
        QVERIFY(TestEnvironment::writeFile(path("data/state.json"), stateFileText(used)));

        for (const char* zone : {east.constData(), west.constData(), east.constData(), west.constData()}) {
            QVERIFY2(run(zone), zone);
            const auto state =
                decodeSharedState(QJsonDocument::fromJson(TestEnvironment::readFile(path("data/state.json"))).object());
            if (dayIdIn(east) != day)
                QSKIP("the day ended in the first zone while the test ran");
            QVERIFY(state && state->dayId == day && state->exceededRuleIds.contains(rule.id));
            QCOMPARE(state->blockedNow.size(), size_t(1));
            QVERIFY2(!state->blockedNow.front().allowUrgentBreak, zone);
        }
    }

    // A number no double holds costs that preference alone (the onboarding stays done), and the
    // file as it was is kept aside when the first sync rewrites it. Fresh folders are private.
    void oneBadPreferenceCostsOnlyItself()
    {
        const QByteArray damaged = "{\"onboarding.completed.v1\": true, \"opportunityCost.hoursPerDay\": 1e400, "
                                   "\"opportunityCost.hourlyRate\": 40}";
        QVERIFY(TestEnvironment::writeFile(path("config/quillharbour/defaults.json"), damaged));
        QVERIFY(run("UTC", [this] {
            return TestEnvironment::readFile(path("config/quillharbour/defaults.json")).contains("lastSuccess");
        }));
        const QJsonObject values =
            QJsonDocument::fromJson(TestEnvironment::readFile(path("config/quillharbour/defaults.json"))).object();
        QCOMPARE(values.value(QStringLiteral("onboarding.completed.v1")), QJsonValue(true));
        QCOMPARE(values.value(QStringLiteral("opportunityCost.hourlyRate")), QJsonValue(40));
        const QDir config(path("config/quillharbour"));
        const QStringList backups = config.entryList({QStringLiteral("defaults.unreadable-*.json")});
        QCOMPARE(backups.size(), 1);
        QCOMPARE(TestEnvironment::readFile(config.filePath(backups.first())), damaged);
        for (const char* folder : {"data", "share/Quillharbour"}) {
            struct stat info {};
            QCOMPARE(::stat(QFile::encodeName(path(folder)).constData(), &info), 0);
            QCOMPARE(info.st_mode & 0777, 0700u);
        }
    }
};

QTEST_GUILESS_MAIN(TestRunningFiles)
#include "tst_running_files.moc"

#include "TestEnvironment.h"
#include "model/BlockRule.h"
#include "model/Json.h"
#include "model/SharedState.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

unsigned modeOf(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 07777) : 0xffff;
}

qint64 dayIdIn(const QString& zone)
{
    const QDate d = QDateTime::currentDateTimeUtc().toTimeZone(QTimeZone(zone.toLatin1())).date();
    return d.year() * 10000 + d.month() * 100 + d.day();
}

} // namespace

// The program itself on its own files: a home of its own, started and stopped like a person
// would, its files read afterwards.
class TestRunningFiles : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QString data() const { return m_home.filePath(QStringLiteral("data")); }
    QString dataHome() const { return m_home.filePath(QStringLiteral("share")); }
    QString defaultsPath() const { return m_home.filePath(QStringLiteral("config/quillharbour/defaults.json")); }

    QProcessEnvironment environment(const QString& zone) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome());
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("QUILLHARBOUR_DATA_DIR"), data());
        env.insert(QStringLiteral("TZ"), zone);
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QUILLHARBOUR_RECORD_STORE"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        return env;
    }

    // Starts the program, waits until it serves and `ready` holds, and ends it with SIGTERM.
    bool run(const QString& zone, const std::function<bool()>& ready = {})
    {
        QProcess app; // killed by its destructor should a check below fail
        app.setProcessEnvironment(environment(zone));
        app.start(QStringLiteral(QUILLHARBOUR_BINARY), {});
        if (!app.waitForStarted(30000))
            return false;
        QByteArray output;
        const bool serving = QTest::qWaitFor(
            [&] {
                app.waitForReadyRead(50);
                output += app.readAllStandardOutput();
                return output.contains("block page on") || app.state() != QProcess::Running;
            },
            30000);
        if (!serving || !output.contains("block page on")) {
            qWarning() << output << app.readAllStandardError();
            return false;
        }
        if (ready && !QTest::qWaitFor(ready, 30000)) {
            qWarning() << "never ready:" << app.readAllStandardError();
            return false;
        }
        ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
        return app.waitForFinished(30000) && app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0;
    }

private slots:
    void init() { QVERIFY(m_home.isValid()); }
    void cleanup()
    {
        QDir(m_home.path()).removeRecursively();
        QDir().mkpath(m_home.path());
    }

    // Flipping time zones between starts keeps the day's used-up limit used up and its urgent
    // break spent. Kiritimati and Honolulu are always a calendar day apart; UTC and Honolulu only
    // in UTC's first ten hours.
    void zoneFlipsGrantNothing_data()
    {
        QTest::addColumn<QString>("east");
        QTest::newRow("a whole day apart") << "Pacific/Kiritimati";
        QTest::newRow("UTC") << "UTC";
    }
    void zoneFlipsGrantNothing()
    {
        QFETCH(QString, east);
        const QString west = QStringLiteral("Pacific/Honolulu");
        const qint64 day = dayIdIn(east);
        BlockRule rule;
        rule.id = QUuid::createUuid();
        rule.domain = rule.displayName = QStringLiteral("feed.example");
        rule.blockApplySchedule.isAfterMaxDailyTime = true;
        rule.dailyLimitMinutes = 1;
        rule.allowOneBreak = true;
        rule.urgentBreakUsedCalendarDay = day;
        rule.createdAt = rule.updatedAt = 1765000000;
        SharedState used;
        used.dayId = day;
        used.usageSecondsByRuleId.insert(uuidText(rule.id), 120);
        used.exceededRuleIds.insert(rule.id);
        QVERIFY(writeAll(QDir(data()).filePath(QStringLiteral("rules.json")), rulesFileText({rule})));
        QVERIFY(writeAll(QDir(data()).filePath(QStringLiteral("state.json")), stateFileText(used)));

        for (const QString& zone : {east, west, east, west}) {
            QVERIFY2(run(zone), qPrintable(zone));
            const QJsonDocument doc =
                QJsonDocument::fromJson(readAll(QDir(data()).filePath(QStringLiteral("state.json"))));
            const std::optional<SharedState> state = decodeSharedState(doc.object());
            QVERIFY(state);
            if (dayIdIn(east) != day)
                QSKIP("the day ended in the first zone while the test ran");
            QCOMPARE(state->dayId, day);
            QVERIFY2(state->exceededRuleIds.contains(rule.id), qPrintable(zone));
            QCOMPARE(state->blockedNow.size(), size_t(1));
            QVERIFY2(!state->blockedNow.front().allowUrgentBreak, qPrintable(zone));
        }
    }

    // One value no double can hold costs that preference alone: the onboarding stays done and
    // the file as it was is kept aside when the first sync rewrites it. The data folders a fresh
    // start makes are private from the start.
    void startWithOneBadPreference()
    {
        const QByteArray damaged =
            "{\n  \"onboarding.completed.v1\": true,\n  \"opportunityCost.hoursPerDay\": 1e400,\n"
            "  \"opportunityCost.hourlyRate\": 40\n}\n";
        QVERIFY(writeAll(defaultsPath(), damaged));
        QVERIFY(run(QStringLiteral("UTC"), [this] {
            return QJsonDocument::fromJson(readAll(defaultsPath()))
                .object()
                .contains(QStringLiteral("sync.lastSuccessAt.v1"));
        }));
        const QJsonObject values = QJsonDocument::fromJson(readAll(defaultsPath())).object();
        QCOMPARE(values.value(QStringLiteral("onboarding.completed.v1")), QJsonValue(true));
        QCOMPARE(values.value(QStringLiteral("opportunityCost.hourlyRate")), QJsonValue(40));
        QVERIFY(!values.contains(QStringLiteral("opportunityCost.hoursPerDay")));
        const QDir config = QFileInfo(defaultsPath()).dir();
        const QStringList backups = config.entryList({QStringLiteral("defaults.unreadable-*.json")});
        QCOMPARE(backups.size(), 1);
        QCOMPARE(readAll(config.filePath(backups.first())), damaged);

        QCOMPARE(modeOf(data()), 0700u);
        QCOMPARE(modeOf(QDir(dataHome()).filePath(QStringLiteral("Quillharbour"))), 0700u);
    }

    // A temporary that a killed save left behind is gone after the next start.
    void staleTemporaryGoesAtStart()
    {
        const QString stale = QDir(data()).filePath(QStringLiteral("state.json.kL0m2Q"));
        QVERIFY(writeAll(stale, "{\"dayId\":"));
        QFile file(stale);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-3600), QFileDevice::FileModificationTime));
        file.close();
        QVERIFY(run(QStringLiteral("UTC")));
        QVERIFY(!QFileInfo::exists(stale));
        QVERIFY(QFileInfo::exists(QDir(data()).filePath(QStringLiteral("state.json"))));
    }
};

QTEST_GUILESS_MAIN(TestRunningFiles)
#include "tst_running_files.moc"

#include "TestEnvironment.h"
#include "platform/Defaults.h"

#include <QDir>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestDefaults : public QObject {
    Q_OBJECT
    QTemporaryDir folder;
    QString path() const { return folder.filePath(QStringLiteral("quillharbour/defaults.json")); }

private slots:
    void init() { QFile::remove(path()); }

    void oneElementArrayIsStillAnArrayAfterRestart()
    {
        {
            Defaults d(path());
            QVERIFY(d.setStringArray(QStringLiteral("attemptedBrowserAutomationIDs"),
                                     {QStringLiteral("com.google.Chrome")}));
            QVERIFY(d.setStringArray(QStringLiteral("empty"), {}));
        }
        Defaults again(path());
        QCOMPARE(again.stringArray(QStringLiteral("attemptedBrowserAutomationIDs")),
                 std::optional(QStringList{QStringLiteral("com.google.Chrome")}));
        QCOMPARE(again.stringArray(QStringLiteral("empty")), std::optional(QStringList{}));
    }

    void valueOfAnotherTypeReadsAsAbsent()
    {
        Defaults d(path());
        d.set(QStringLiteral("rate"), 36.5);
        d.set(QStringLiteral("flag"), true);
        d.set(QStringLiteral("mixed"), QJsonArray{QStringLiteral("a"), 1});
        QCOMPARE(d.number(QStringLiteral("rate")), std::optional(36.5));
        QVERIFY(!d.string(QStringLiteral("rate")));
        QVERIFY(!d.integer(QStringLiteral("rate"))); // not whole
        QVERIFY(!d.boolean(QStringLiteral("rate")));
        QVERIFY(!d.number(QStringLiteral("flag")));
        QVERIFY(!d.stringArray(QStringLiteral("flag")));
        QVERIFY(!d.stringArray(QStringLiteral("mixed"))); // an array, but not of texts only
        QVERIFY(!d.string(QStringLiteral("missing")));
    }

    void fileIsPlainJsonOwnedByTheUser()
    {
        Defaults d(path());
        d.set(QStringLiteral("onboarding.completed.v1"), true);
        d.set(QStringLiteral("sync.lastSuccessAt.v1"), QStringLiteral("2026-12-07T10:15:00Z"));
        QFile file(path());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject o = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(o.value(QStringLiteral("onboarding.completed.v1")).toBool(), true);
        QCOMPARE(o.value(QStringLiteral("sync.lastSuccessAt.v1")).toString(), QStringLiteral("2026-12-07T10:15:00Z"));
        QCOMPARE(file.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());
    }

    void removingAndNullValues()
    {
        Defaults d(path());
        QSignalSpy changed(&d, &Defaults::valueChanged);
        d.set(QStringLiteral("k"), 1);
        d.set(QStringLiteral("k"), 1); // unchanged: no write, no signal
        QCOMPARE(changed.size(), 1);
        d.set(QStringLiteral("k"), QJsonValue::Null);
        QVERIFY(!d.contains(QStringLiteral("k")));
        QCOMPARE(changed.size(), 2);
        QVERIFY(!Defaults(path()).contains(QStringLiteral("k")));
    }

    void unreadableFileIsKeptAsideBeforeTheFirstWrite()
    {
        QDir().mkpath(QFileInfo(path()).path());
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("{ \"broken\": ");
        file.close();

        Defaults d(path());
        QVERIFY(!d.contains(QStringLiteral("broken")));
        QVERIFY(!d.lastError().isEmpty());
        QVERIFY(d.set(QStringLiteral("fresh"), 1));
        const QStringList backups =
            QDir(QFileInfo(path()).path()).entryList({QStringLiteral("defaults.unreadable-*.json")});
        QCOMPARE(backups.size(), 1);
        QFile backup(QFileInfo(path()).dir().filePath(backups.first()));
        QVERIFY(backup.open(QIODevice::ReadOnly));
        QCOMPARE(backup.readAll(), QByteArray("{ \"broken\": "));
        QVERIFY(d.lastError().isEmpty());
        QCOMPARE(Defaults(path()).integer(QStringLiteral("fresh")), std::optional<qint64>(1));
    }

    // A change the disk refuses is not made, so trying it again writes again.
    void refusedWriteIsNoChange_data()
    {
        QTest::addColumn<bool>("removing");
        QTest::newRow("set") << false;
        QTest::newRow("remove") << true;
    }
    void refusedWriteIsNoChange()
    {
        QFETCH(bool, removing);
        Defaults d(path());
        QVERIFY(d.set(QStringLiteral("k"), 1));
        QVERIFY(QFile::remove(path()));
        QVERIFY(QDir().mkpath(path())); // a folder where the file belongs fails every write, even as root
        QSignalSpy changed(&d, &Defaults::valueChanged);
        const auto change = [&] { return removing ? d.remove(QStringLiteral("k")) : d.set(QStringLiteral("k"), 2); };
        QVERIFY(!change());
        QVERIFY(!change());
        QCOMPARE(d.integer(QStringLiteral("k")), std::optional<qint64>(1));
        QVERIFY(!d.lastError().isEmpty());
        QCOMPARE(changed.size(), 0);
        QVERIFY(QDir(path()).removeRecursively());
        QVERIFY(change());
        QCOMPARE(Defaults(path()).integer(QStringLiteral("k")), removing ? std::nullopt : std::optional<qint64>(2));
    }

    // A value the JSON parser refuses costs only its own key; the file as it was is kept aside
    // before the first write replaces it.
    void damagedFileLosesOnlyWhatIsDamaged_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("kept");
        const QByteArray onboarded = "\"onboarding.completed.v1\": true";
        const QByteArray rate = "\"opportunityCost.hourlyRate\": 40";
        const QStringList both{QStringLiteral("onboarding.completed.v1"), QStringLiteral("opportunityCost.hourlyRate")};
        QTest::newRow("number beyond a double")
            << "{" + onboarded + ", \"opportunityCost.hoursPerDay\": 1e400, " + rate + "}" << both;
        QTest::newRow("misspelt literal") << "{" + onboarded + ",\n \"sync.accountKey.v1\": tru, " + rate + "}" << both;
        QTest::newRow("bad value inside an array")
            << "{\"attemptedBrowserAutomationIDs\": [\"x\", 1e999], " + onboarded + ", " + rate + "}" << both;
        QTest::newRow("cut short") << "{" + onboarded + ", " + rate + ", \"sync.lastSuccessAt.v1\": \"2026-" << both;
        QTest::newRow("not an object") << QByteArray("[1, 2]") << QStringList();
    }
    void damagedFileLosesOnlyWhatIsDamaged()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, kept);
        QTemporaryDir own;
        const QString path = own.filePath(QStringLiteral("quillharbour/defaults.json"));
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();

        Defaults d(path);
        QVERIFY(!d.lastError().isEmpty());
        for (const QString& key : kept)
            QVERIFY2(d.contains(key), qPrintable(key));
        if (kept.contains(QStringLiteral("onboarding.completed.v1")))
            QCOMPARE(d.boolean(QStringLiteral("onboarding.completed.v1")), std::optional(true));
        if (kept.contains(QStringLiteral("opportunityCost.hourlyRate")))
            QCOMPARE(d.number(QStringLiteral("opportunityCost.hourlyRate")), std::optional(40.0));
        QVERIFY(!d.contains(QStringLiteral("opportunityCost.hoursPerDay")));

        QVERIFY(d.set(QStringLiteral("fresh"), 1));
        const QDir dir = QFileInfo(path).dir();
        const QStringList backups = dir.entryList({QStringLiteral("defaults.unreadable-*.json")});
        QCOMPARE(backups.size(), 1);
        QFile backup(dir.filePath(backups.first()));
        QVERIFY(backup.open(QIODevice::ReadOnly));
        QCOMPARE(backup.readAll(), text);
        Defaults again(path);
        QVERIFY(again.lastError().isEmpty());
        for (const QString& key : kept + QStringList{QStringLiteral("fresh")})
            QVERIFY2(again.contains(key), qPrintable(key));
    }
};

QTEST_GUILESS_MAIN(TestDefaults)
#include "tst_defaults.moc"

#include "linux/NotificationSettings.h"

#include <QTest>

class TestNotificationSettings : public QObject {
    Q_OBJECT
private slots:
    // Which settings page opens, by the desktop the session names and the programs installed.
    void command_data()
    {
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QStringList>("command"); // empty: none to offer
        const QStringList all{"gnome-control-center", "systemsettings", "systemsettings5"};
        QTest::newRow("GNOME") << "GNOME" << all << QStringList{"/usr/bin/gnome-control-center", "notifications"};
        QTest::newRow("GNOME under a distribution's name")
            << "ubuntu:GNOME" << all << QStringList{"/usr/bin/gnome-control-center", "notifications"};
        QTest::newRow("GNOME without its settings program")
            << "GNOME" << QStringList{"systemsettings"} << QStringList();
        QTest::newRow("Plasma 6") << "KDE" << all << QStringList{"/usr/bin/systemsettings", "kcm_notifications"};
        QTest::newRow("Plasma 5") << "KDE" << QStringList{"systemsettings5"}
                                  << QStringList{"/usr/bin/systemsettings5", "kcm_notifications"};
        QTest::newRow("a desktop with no page") << "XFCE" << all << QStringList();
        QTest::newRow("no desktop named") << "" << all << QStringList();
        QTest::newRow("a name that only contains one") << "NOTGNOME" << all << QStringList();
    }
    void command()
    {
        QFETCH(QString, desktop);
        QFETCH(QStringList, installed);
        const auto found = NotificationSettings::command(desktop, [&installed](const QString& program) {
            return installed.contains(program) ? QStringLiteral("/usr/bin/") + program : QString();
        });
        QTEST(found.value_or(QStringList()), "command");
    }
};

QTEST_GUILESS_MAIN(TestNotificationSettings)
#include "tst_notification_settings.moc"

#include "TestEnvironment.h"
#include "linux/DesktopEntry.h"
#include "linux/UrlHandler.h"
#include "linux/UserInstaller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool writeAll(const QString& path, const QByteArray& bytes, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    return !executable || file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

// A home of its own, with the desktop's folders inside it and nothing of the machine's.
struct Home {
    QTemporaryDir dir;
    UrlHandler::Places places;
    Home()
    {
        places.home = dir.path();
        places.dataHome = dir.filePath(QStringLiteral(".local/share"));
        places.configHome = dir.filePath(QStringLiteral(".config"));
        places.iconPng = QByteArray("\x89PNG\r\n\x1a\n the program's icon");
    }
    QString path(const QString& relative) const { return dir.filePath(relative); }
    QString entryPath() const { return places.dataHome + QStringLiteral("/applications/quillharbour.desktop"); }
    QString entryProgram() const { return UrlHandler::entryExecutable(TestEnvironment::readFile(entryPath())); }
    // The picture the entry's icon shows; empty when it names none, or one that is not there.
    QByteArray entryIcon() const
    {
        const QString icon = UserInstaller::entryIcon(TestEnvironment::readFile(entryPath()));
        return icon.isEmpty() ? QByteArray() : TestEnvironment::readFile(icon);
    }
    QString program(const QString& relative) const
    {
        const QString at = path(relative);
        return writeAll(at, "#!/bin/sh\n", true) ? at : QString();
    }

    // What the desktop's own tool answers for the scheme; empty when it cannot be asked.
    QString queryDefault() const
    {
        const QString tool = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
        if (tool.isEmpty())
            return {};
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                                 "KDE_SESSION_VERSION", "GNOME_DESKTOP_SESSION_ID", "MATE_DESKTOP_SESSION_ID"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("X-Generic"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
        env.insert(QStringLiteral("HOME"), places.home);
        env.insert(QStringLiteral("XDG_DATA_HOME"), places.dataHome);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), places.configHome);
        env.insert(QStringLiteral("XDG_DATA_DIRS"), path(QStringLiteral("system/share")));
        env.insert(QStringLiteral("XDG_CONFIG_DIRS"), path(QStringLiteral("system/etc")));
        QProcess query;
        query.setProcessEnvironment(env);
        query.start(tool, {QStringLiteral("query"), QStringLiteral("default"), UrlHandler::mimeType});
        if (!query.waitForFinished(30000)) {
            query.kill();
            query.waitForFinished();
            return QStringLiteral("(no answer)");
        }
        return QString::fromUtf8(query.readAllStandardOutput()).trimmed();
    }
};

} // namespace

class TestUrlHandler : public QObject {
    Q_OBJECT
private slots:
    // What an entry's Exec line starts, for every quoting the entry writer may produce and a few
    // it never does.
    void entryExecutable_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QString>("program");
        for (const char* path : {"/home/ann/build/quillharbour", "/home/ann/my builds/quillharbour",
                                 "/tmp/a\"b/$HOME/`x`/back\\slash/quillharbour", "/tmp/100%/quillharbour"}) {
            const QString program = QString::fromUtf8(path);
            QTest::newRow(path) << UserInstaller::desktopEntry(program, QString()) << program;
        }
        QTest::newRow("quote never closed")
            << QByteArray("[Desktop Entry]\nExec=\"/tmp/quillharbour %u\n") << QString();
    }
    void entryExecutable()
    {
        QFETCH(QByteArray, entry);
        QTEST(UrlHandler::entryExecutable(entry), "program");
    }

    // The default is set without losing what the file says about anything else.
    void defaultKeepsTheRest_data()
    {
        QTest::addColumn<QByteArray>("before"); // "-": no file
        QTest::addColumn<QByteArray>("after");
        const QByteArray line = "x-scheme-handler/quillharbour=quillharbour.desktop;";
        QTest::newRow("no file") << QByteArray("-") << "[Default Applications]\n" + line + "\n";
        QTest::newRow("other groups only")
            << QByteArray("[Added Associations]\ntext/plain=gedit.desktop;\n")
            << "[Added Associations]\ntext/plain=gedit.desktop;\n\n[Default Applications]\n" + line + "\n";
        QTest::newRow("joins the group, before the next one")
            << QByteArray("[Default Applications]\ntext/html=firefox.desktop;\n\n[Added Associations]\na=b;\n")
            << "[Default Applications]\ntext/html=firefox.desktop;\n" + line + "\n\n[Added Associations]\na=b;\n";
        QTest::newRow("another handler replaced")
            << QByteArray("[Default Applications]\nx-scheme-handler/quillharbour=old.desktop;\ntext/html=f;\n")
            << "[Default Applications]\n" + line + "\ntext/html=f;\n";
        QTest::newRow("the same key in another group stays")
            << QByteArray("[Added Associations]\nx-scheme-handler/quillharbour=a.desktop;\n")
            << "[Added Associations]\nx-scheme-handler/quillharbour=a.desktop;\n\n[Default Applications]\n" + line +
                   "\n";
    }
    void defaultKeepsTheRest()
    {
        QFETCH(QByteArray, before);
        Home home;
        const QString file = home.places.configHome + QStringLiteral("/mimeapps.list");
        if (before != "-")
            QVERIFY(writeAll(file, before));
        QString error;
        QVERIFY2(UrlHandler::setDefault(home.places.configHome, QStringLiteral("quillharbour.desktop"), &error),
                 qPrintable(error));
        QTEST(TestEnvironment::readFile(file), "after");
        // Asking again changes nothing.
        const QDateTime written = QFileInfo(file).lastModified();
        QVERIFY(UrlHandler::setDefault(home.places.configHome, QStringLiteral("quillharbour.desktop"), &error));
        QCOMPARE(QFileInfo(file).lastModified(), written);
    }

    // Which program the links open after a start, whatever an earlier copy left behind.
    void registeredAtStart_data()
    {
        QTest::addColumn<QString>("running");  // relative to the home
        QTest::addColumn<QString>("entryFor"); // "": no entry; "*" prefix: a program that no longer exists
        QTest::addColumn<QString>("opens");
        QTest::addColumn<QString>("icon"); // the entry's Icon=, relative to the home; empty: none
        const QString build = QStringLiteral("src/build/quillharbour");
        const QString installed = QStringLiteral(".local/bin/quillharbour");
        QTest::newRow("first start") << build << QString() << build << QString();
        QTest::newRow("the entry's copy was moved away")
            << build << QStringLiteral("*Downloads/quillharbour") << build << QString();
        QTest::newRow("an installed copy keeps the links") << build << installed << installed << QString();
        QTest::newRow("another build gives way")
            << build << QStringLiteral("old/build/quillharbour") << build << QString();
        QTest::newRow("the installed copy takes them from a build") << installed << build << installed << QString();
        // The entry an earlier copy wrote keeps its program and gets the icon back.
        QTest::newRow("an installed copy's icon was removed")
            << build << installed << installed << QStringLiteral(".local/share/icons/gone.png");
    }
    void registeredAtStart()
    {
        QFETCH(QString, running);
        QFETCH(QString, entryFor);
        QFETCH(QString, opens);
        QFETCH(QString, icon);
        Home home;
        const QString self = home.program(running);
        if (!entryFor.isEmpty()) {
            const bool gone = entryFor.startsWith(QLatin1Char('*'));
            const QString other = gone ? home.path(entryFor.mid(1)) : home.program(entryFor);
            QVERIFY(writeAll(home.entryPath(),
                             UserInstaller::desktopEntry(other, icon.isEmpty() ? QString() : home.path(icon))));
        }
        QString error;
        QVERIFY2(UrlHandler::registerAtStart(self, home.places, &error), qPrintable(error));
        QCOMPARE(home.entryProgram(), home.path(opens));
        // The desktop's menus and task bars show the program's own icon.
        QCOMPARE(home.entryIcon(), home.places.iconPng);
        const QString answer = home.queryDefault();
        if (answer.isEmpty() && QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty())
            QSKIP("xdg-mime is not installed (scripts/install-deps installs xdg-utils)");
        QCOMPARE(answer, UserInstaller::entryName);
    }

    // From a download: the links open it at once, and still right after the install step moved it.
    void linksFollowTheInstall()
    {
        Home home;
        const QString download = home.program(QStringLiteral("Downloads/quillharbour"));
        QString error;
        QVERIFY2(UrlHandler::registerAtStart(download, home.places, &error), qPrintable(error));
        if (QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty())
            QSKIP("xdg-mime is not installed (scripts/install-deps installs xdg-utils)");
        QCOMPARE(home.queryDefault(), UserInstaller::entryName);

        UserInstaller::Places places;
        places.home = home.places.home;
        places.binFolder = home.path(QStringLiteral(".local/bin"));
        places.dataHome = home.places.dataHome;
        places.configHome = home.places.configHome;
        const std::optional<QString> installed = UserInstaller::installCopy(download, places, &error);
        QVERIFY2(installed, qPrintable(error));
        QCOMPARE(home.entryProgram(), *installed);
        QCOMPARE(home.queryDefault(), UserInstaller::entryName);

        // The download started once more leaves the links with the installed copy.
        QVERIFY(UrlHandler::registerAtStart(download, home.places, &error));
        QCOMPARE(home.entryProgram(), *installed);
    }
};

QTEST_GUILESS_MAIN(TestUrlHandler)
#include "tst_url_handler.moc"

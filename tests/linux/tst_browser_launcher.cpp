#include "linux/AutomationHelp.h"
#include "linux/BrowserLauncher.h"
#include "linux/LinuxBrowsers.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// The launchers the help page shows and the program writes are ones the desktop accepts, whatever
// the paths hold.
class TestBrowserLauncher : public QObject {
    Q_OBJECT

    static QString unescaped(QString html)
    {
        html.replace(QStringLiteral("&lt;"), QStringLiteral("<"))
            .replace(QStringLiteral("&gt;"), QStringLiteral(">"))
            .replace(QStringLiteral("&quot;"), QStringLiteral("\""))
            .replace(QStringLiteral("&amp;"), QStringLiteral("&"));
        return html;
    }

private slots:
    void launchersPassTheValidator_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("icon");
        QTest::newRow("plain, default profile") << "/usr/bin/chromium" << QString() << "chromium";
        QTest::newRow("own profile") << "/opt/google/chrome/google-chrome"
                                     << "/home/ada/.config/google-chrome-quillharbour"
                                     << "google-chrome";
        QTest::newRow("spaces and a dollar, icon by path") << "/opt/My Browser/brave"
                                                           << "/home/ada/$work/profile dir"
                                                           << "/opt/My Browser/logo 64.png";
        QTest::newRow("quotes, backslash, backtick, percent, no icon") << "/opt/a\"b/c\\d`e/f%g"
                                                                       << "/home/o'neil/100% \"focus\"" << QString();
        QTest::newRow("an icon that would end its line is left out")
            << "/usr/bin/chromium" << QString() << "chromium\nExec=/bin/false";
    }

    void launchersPassTheValidator()
    {
        QFETCH(QString, executable);
        QFETCH(QString, profile);
        QFETCH(QString, icon);
        if (QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate")).isEmpty())
            QSKIP("desktop-file-validate is missing (scripts/install-deps installs it)");
        const BrowserLauncher::Plan plan{QStringLiteral("browser.desktop"), executable, profile, icon};
        const QString text = BrowserLauncher::entry(QStringLiteral("Test <Browser>"), plan);
        QCOMPARE(text.count(QStringLiteral("\nExec=")), 1);
        QCOMPARE(text.contains(QStringLiteral("\nIcon=") + icon + u'\n'), !icon.isEmpty() && !icon.contains(u'\n'));
        const QString page = AutomationHelp::page({{QStringLiteral("Test <Browser>"), plan}});
        const QRegularExpression pre(QStringLiteral("<pre class=\"launcher\">(.*?)</pre>"),
                                     QRegularExpression::DotMatchesEverythingOption);
        const QRegularExpressionMatch shown = pre.match(page);
        QVERIFY(shown.hasMatch());
        QCOMPARE(unescaped(shown.captured(1)), BrowserLauncher::entry(QStringLiteral("Test <Browser>"), plan));
        QVERIFY(!shown.captured(1).contains(QStringLiteral("$HOME")));

        // Written by the program: accepted and kept.
        QTemporaryDir applications;
        const std::optional<QString> refused =
            BrowserLauncher::write(QStringLiteral("Test <Browser>"), plan, applications.path());
        QVERIFY2(!refused, qPrintable(refused.value_or(QString())));
        QVERIFY(QFile::exists(applications.filePath(QStringLiteral("browser.desktop"))));
        QProcess check;
        check.start(QStringLiteral("desktop-file-validate"),
                    {applications.filePath(QStringLiteral("browser.desktop"))});
        QVERIFY(check.waitForFinished(30000));
        QCOMPARE(check.readAll() + check.readAllStandardError(), QByteArray());
        QCOMPARE(check.exitCode(), 0);
    }

    // The launcher takes the place of the browser's own in menus, so it shows the same icon.
    void planKeepsTheSystemLaunchersIcon_data()
    {
        QTest::addColumn<QByteArray>("systemLauncher"); // empty: none installed
        QTest::addColumn<QString>("icon");
        QTest::newRow("the system launcher's icon")
            << QByteArray("[Desktop Entry]\nName=Chromium\nIcon=chromium-browser\n") << "chromium-browser";
        QTest::newRow("only an action's icon: the command's name")
            << QByteArray("[Desktop Entry]\nName=Chromium\n[Desktop Action new]\nIcon=other\n") << "chromium";
        QTest::newRow("an icon with a control character: the command's name")
            << QByteArray("[Desktop Entry]\nIcon=chro\tmium\n") << "chromium";
        QTest::newRow("no system launcher: the command's name") << QByteArray() << "chromium";
    }

    void planKeepsTheSystemLaunchersIcon()
    {
        QFETCH(QByteArray, systemLauncher);
        QFETCH(QString, icon);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("bin")) &&
                QDir(root.path()).mkpath(QStringLiteral("data/applications")));
        QFile program(root.filePath(QStringLiteral("bin/chromium")));
        QVERIFY(program.open(QIODevice::WriteOnly));
        program.write("#!/bin/sh\n");
        program.close();
        QVERIFY(program.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        if (!systemLauncher.isEmpty()) {
            QFile launcher(root.filePath(QStringLiteral("data/applications/chromium.desktop")));
            QVERIFY(launcher.open(QIODevice::WriteOnly));
            launcher.write(systemLauncher);
        }
        const QByteArray path = qgetenv("PATH"), home = qgetenv("XDG_DATA_HOME"), dirs = qgetenv("XDG_DATA_DIRS");
        const auto restore = qScopeGuard([&] {
            qputenv("PATH", path);
            qputenv("XDG_DATA_HOME", home);
            qputenv("XDG_DATA_DIRS", dirs);
        });
        qputenv("PATH", root.filePath(QStringLiteral("bin")).toLocal8Bit());
        qputenv("XDG_DATA_HOME", root.filePath(QStringLiteral("home-data")).toLocal8Bit());
        qputenv("XDG_DATA_DIRS", root.filePath(QStringLiteral("data")).toLocal8Bit());
        const LinuxBrowserIdentity identity{QStringLiteral("chromium"),
                                            {QStringLiteral("chromium")},
                                            {QStringLiteral("Chromium")},
                                            QStringLiteral(".config/chromium")};
        const std::optional<BrowserLauncher::Plan> plan = BrowserLauncher::plan(identity, root.path());
        QVERIFY(plan);
        QCOMPARE(plan->fileName, QStringLiteral("chromium.desktop"));
        QCOMPARE(plan->icon, icon);
    }

    // What the desktop reads back from an Exec= argument is the text that went in.
    void execArgumentReadsBack_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::newRow("plain") << "--remote-debugging-port=0";
        QTest::newRow("space") << "/opt/My Browser/x";
        QTest::newRow("reserved") << "a\"b`c$d\\e";
        QTest::newRow("percent") << "100%";
    }

    void execArgumentReadsBack()
    {
        QFETCH(QString, argument);
        // The two levels a reader undoes: the string's escapes (\\ → \), then the quoting
        // (\x → x inside double quotes) and %% → %.
        QString value = BrowserLauncher::execArgument(argument);
        value.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
        QVERIFY(value.startsWith(u'"') && value.endsWith(u'"'));
        value = value.mid(1, value.size() - 2);
        QString read;
        for (qsizetype i = 0; i < value.size(); ++i) {
            if (value.at(i) == u'\\' && i + 1 < value.size())
                read += value.at(++i);
            else if (value.at(i) == u'%' && i + 1 < value.size() && value.at(i + 1) == u'%')
                read += value.at(++i);
            else
                read += value.at(i);
        }
        QCOMPARE(read, argument);
    }

    // The page is written at every start; the disk is asked to take it only when it differs.
    void pageIsWrittenOnlyWhenItsBytesDiffer_data()
    {
        QTest::addColumn<QByteArray>("before"); // empty: no file yet
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<int>("writes");
        QTest::newRow("no file yet") << QByteArray() << QByteArray("<p>launchers</p>") << 1;
        QTest::newRow("the same page") << QByteArray("<p>launchers</p>") << QByteArray("<p>launchers</p>") << 0;
        QTest::newRow("same size, other bytes")
            << QByteArray("<p>launchers</p>") << QByteArray("<p>LAUNCHERS</p>") << 1;
        QTest::newRow("a longer page") << QByteArray("<p>one</p>") << QByteArray("<p>one</p><p>two</p>") << 1;
        QTest::newRow("a shorter page") << QByteArray("<p>one</p><p>two</p>") << QByteArray("<p>one</p>") << 1;
    }

    void pageIsWrittenOnlyWhenItsBytesDiffer()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, page);
        QFETCH(int, writes);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cache/automation-help.html"));
        if (!before.isEmpty())
            QVERIFY(FileSafety::writeAtomically(path, before));
        int opened = 0;
        const FileSafety::SaveFileFactory counting = [&opened](const QString& target) {
            ++opened;
            return std::make_unique<QSaveFile>(target);
        };
        QVERIFY(AutomationHelp::keepPage(path, page, counting));
        QCOMPARE(opened, writes);
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), page);
    }
};

QTEST_GUILESS_MAIN(TestBrowserLauncher)
#include "tst_browser_launcher.moc"

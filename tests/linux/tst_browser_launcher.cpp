#include "linux/AutomationHelp.h"
#include "linux/BrowserLauncher.h"

#include <QProcess>
#include <QRegularExpression>
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
        QTest::newRow("plain, default profile") << "/usr/bin/chromium" << QString();
        QTest::newRow("own profile") << "/opt/google/chrome/google-chrome"
                                     << "/home/ada/.config/google-chrome-quillharbour";
        QTest::newRow("spaces and a dollar") << "/opt/My Browser/brave"
                                             << "/home/ada/$work/profile dir";
        QTest::newRow("quotes, backslash, backtick, percent") << "/opt/a\"b/c\\d`e/f%g"
                                                              << "/home/o'neil/100% \"focus\"";
    }

    void launchersPassTheValidator()
    {
        QFETCH(QString, executable);
        QFETCH(QString, profile);
        if (QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate")).isEmpty())
            QSKIP("desktop-file-validate is missing (scripts/install-deps installs it)");
        const BrowserLauncher::Plan plan{QStringLiteral("browser.desktop"), executable, profile};
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
};

QTEST_GUILESS_MAIN(TestBrowserLauncher)
#include "tst_browser_launcher.moc"

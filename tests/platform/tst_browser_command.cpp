// The commands the engine sends to a browser, whichever route carries them.

#include "platform/BrowserCommand.h"

#include <QTest>

using Operation = BrowserCommand::Operation;

Q_DECLARE_METATYPE(BrowserCommand)

class TestBrowserCommand : public QObject {
    Q_OBJECT

private slots:
    void commands_data();
    void commands();
    void wellFormed_data();
    void wellFormed();
};

// The four commands, each as the engine builds it: what it asks of which browser, the address
// the tab must still show, where a redirect goes, and what a browser without a window answers.
void TestBrowserCommand::commands_data()
{
    QTest::addColumn<BrowserCommand>("command");
    QTest::addColumn<int>("operation");
    QTest::addColumn<QString>("expectedAddress");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("noWindow");
    QTest::addColumn<bool>("reads");
    const SupportedBrowser& chrome = *SupportedBrowser::withId(QStringLiteral("chrome"));
    const QString from = QStringLiteral("https://a.example/");
    const QString to = QStringLiteral("http://127.0.0.1:1/blocked");
    QTest::newRow("read") << BrowserCommand::read(chrome) << int(Operation::read) << QString() << QString() << QString()
                          << true;
    QTest::newRow("focused read") << BrowserCommand::readFocused(chrome) << int(Operation::readFocused) << QString()
                                  << QString() << QString() << true;
    QTest::newRow("redirect") << BrowserCommand::redirect(chrome, from, to) << int(Operation::redirect) << from << to
                              << QStringLiteral("no-window") << false;
    QTest::newRow("close") << BrowserCommand::close(chrome, from) << int(Operation::close) << from << QString()
                           << QStringLiteral("no-window") << false;
}

void TestBrowserCommand::commands()
{
    QFETCH(BrowserCommand, command);
    QFETCH(int, operation);
    QFETCH(QString, expectedAddress);
    QFETCH(QString, target);
    QFETCH(QString, noWindow);
    QFETCH(bool, reads);
    QCOMPARE(int(command.operation), operation);
    QCOMPARE(command.browserId, QStringLiteral("chrome"));
    QCOMPARE(command.expectedAddress, expectedAddress);
    QCOMPARE(command.target, target);
    QCOMPARE(command.noWindowAnswer(), noWindow);
    QCOMPARE(command.reads(), reads);
    QVERIFY(command.isWellFormed());
}

void TestBrowserCommand::wellFormed_data()
{
    QTest::addColumn<BrowserCommand>("command");
    QTest::addColumn<bool>("wellFormed");
    const SupportedBrowser chrome = *SupportedBrowser::withId(QStringLiteral("chrome"));
    const SupportedBrowser nameless{};
    const QString from = QStringLiteral("https://a.example/");
    QTest::newRow("read") << BrowserCommand::read(chrome) << true;
    QTest::newRow("read of no browser") << BrowserCommand::read(nameless) << false;
    QTest::newRow("focused read of no browser") << BrowserCommand::readFocused(nameless) << false;
    QTest::newRow("redirect") << BrowserCommand::redirect(chrome, from, QStringLiteral("http://x/")) << true;
    // A tab that showed nothing may still be moved: only where it goes must be known.
    QTest::newRow("redirect from the empty address")
        << BrowserCommand::redirect(chrome, QString(), QStringLiteral("http://x/")) << true;
    QTest::newRow("redirect to nowhere") << BrowserCommand::redirect(chrome, from, QString()) << false;
    QTest::newRow("close") << BrowserCommand::close(chrome, from) << true;
    QTest::newRow("close in no browser") << BrowserCommand::close(nameless, from) << false;
    QTest::newRow("default") << BrowserCommand{} << false;
}

void TestBrowserCommand::wellFormed()
{
    QFETCH(BrowserCommand, command);
    QFETCH(bool, wellFormed);
    QCOMPARE(command.isWellFormed(), wellFormed);
}

QTEST_GUILESS_MAIN(TestBrowserCommand)
#include "tst_browser_command.moc"

// The script texts sent to the browsers, read back by parse(), and the executor that runs them.

#include "FakeBrowser.h"
#include "blocking/BrowserScriptExecutor.h"
#include "platform/BrowserScripts.h"

#include <QElapsedTimer>
#include <QTest>

using Parsed = BrowserScripts::Parsed;
using Operation = Parsed::Operation;

Q_DECLARE_METATYPE(BrowserScriptStyle)

namespace {

// The texts as the browsers must receive them, in the "active tab" wording; ⟨B⟩, ⟨F⟩, ⟨T⟩ and
// ⟨X⟩ are the quoted bundle identifier, compared address, new address and fallback.
const QString readTemplate = QStringLiteral("tell application id ⟨B⟩\n"
                                            "    if (count of windows) is 0 then return \"\"\n"
                                            "    return URL of active tab of front window\n"
                                            "end tell");
const QString redirectTemplate = QStringLiteral("tell application id ⟨B⟩\n"
                                                "    if (count of windows) is 0 then return \"no-window\"\n"
                                                "    if (URL of active tab of front window as text) is ⟨F⟩ then\n"
                                                "        set URL of active tab of front window to ⟨T⟩\n"
                                                "        return \"redirected\"\n"
                                                "    end if\n"
                                                "    return \"changed\"\n"
                                                "end tell");
const QString closeTemplate = QStringLiteral("tell application id ⟨B⟩\n"
                                             "    if (count of windows) is 0 then return \"no-window\"\n"
                                             "    if (URL of active tab of front window as text) is ⟨F⟩ then\n"
                                             "        close active tab of front window\n"
                                             "        return \"closed\"\n"
                                             "    end if\n"
                                             "    return \"changed\"\n"
                                             "end tell");
const QString guardTemplate = QStringLiteral("if application id ⟨B⟩ is running then\n"
                                             "    with timeout of 3 seconds\n"
                                             "⟨I⟩\n"
                                             "    end timeout\n"
                                             "end if\n"
                                             "return ⟨X⟩");

// The wording is swapped in the template, before any value goes in: a value that happens to
// contain "active tab" must arrive unchanged.
QString fill(QString text, BrowserScriptStyle style, const QHash<QString, QString>& values)
{
    if (style == BrowserScriptStyle::safari)
        text.replace(QStringLiteral("active tab"), QStringLiteral("current tab"));
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        text.replace(it.key(), it.value());
    return text;
}

SupportedBrowser browserFor(BrowserScriptStyle style, const QString& bundle)
{
    return {QStringLiteral("test"), QStringLiteral("Test"), bundle, style};
}

// A value and the string literal it must become, written out by hand.
struct Hostile {
    const char* tag;
    QString value;
    QString literal;
};

const QList<Hostile>& hostileValues()
{
    static const QList<Hostile> list{
        {"plain", QStringLiteral("https://www.example.com/"), QStringLiteral("\"https://www.example.com/\"")},
        {"empty", QString(), QStringLiteral("\"\"")},
        {"quote", QStringLiteral("https://e.com/?q=\"x\""), QStringLiteral("\"https://e.com/?q=\\\"x\\\"\"")},
        {"backslash", QStringLiteral("C:\\dir\\"), QStringLiteral("\"C:\\\\dir\\\\\"")},
        {"backslash before quote", QStringLiteral("\\\""), QStringLiteral("\"\\\\\\\"\"")},
        {"CR and LF", QStringLiteral("a\r\nb"), QStringLiteral("\"a\\r\\nb\"")},
        {"backslash and n", QStringLiteral("a\\nb"), QStringLiteral("\"a\\\\nb\"")},
        {"backslash and CR", QStringLiteral("\\\r"), QStringLiteral("\"\\\\\\r\"")},
        {"the tab word", QStringLiteral("https://e.com/active tab of front window"),
         QStringLiteral("\"https://e.com/active tab of front window\"")},
        {"script injection", QStringLiteral("\"\nend tell\ntell application \"Finder\" to quit\n--"),
         QStringLiteral("\"\\\"\\nend tell\\ntell application \\\"Finder\\\" to quit\\n--\"")},
        {"non-Latin", QStringLiteral("https://例え.jp/ü?x=€"), QStringLiteral("\"https://例え.jp/ü?x=€\"")},
    };
    return list;
}

struct Completion {
    QString tag;
    BrowserScriptResult result;
    QThread* thread = nullptr;
};

} // namespace

class TestBrowserScripts : public QObject {
    Q_OBJECT

private slots:
    void quoting_data();
    void quoting();
    void texts_data();
    void texts();
    void stylesDifferOnlyInTheTabWord();
    void parseRefusesAlteredTexts_data();
    void parseRefusesAlteredTexts();

    void executorRunsOneAtATimeAndCompletesInOrder_data();
    void executorRunsOneAtATimeAndCompletesInOrder();
    void executorTimesOutAHangingRunner();
    void executorAsksItsRunnerWhetherAReadStands_data();
    void executorAsksItsRunnerWhetherAReadStands();
    void lateAnswerAfterTheTimeOutIsIgnored();
    void unparsableTextIsAnsweredWithMinusOne();
    void executorDestroyedWithScriptsPending_data() { executorRunsOneAtATimeAndCompletesInOrder_data(); }
    void executorDestroyedWithScriptsPending();
};

void TestBrowserScripts::quoting_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("literal");
    for (const Hostile& h : hostileValues())
        QTest::newRow(h.tag) << h.value << h.literal;
}

void TestBrowserScripts::quoting()
{
    QFETCH(QString, value);
    QFETCH(QString, literal);
    QCOMPARE(BrowserScripts::quoted(value), literal);
}

void TestBrowserScripts::texts_data()
{
    QTest::addColumn<BrowserScriptStyle>("style");
    QTest::addColumn<QString>("bundle");
    QTest::addColumn<QString>("bundleLiteral");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("literal");
    for (BrowserScriptStyle style : {BrowserScriptStyle::chromium, BrowserScriptStyle::safari}) {
        const QString bundle = style == BrowserScriptStyle::safari ? QStringLiteral("com.apple.Safari")
                                                                   : QStringLiteral("com.google.Chrome");
        for (const Hostile& h : hostileValues())
            QTest::addRow("%s, %s", qPrintable(rawValue(style)), h.tag)
                << style << bundle << QStringLiteral("\"%1\"").arg(bundle) << h.value << h.literal;
        // The bundle identifier is quoted like any other value.
        QTest::addRow("%s, hostile bundle", qPrintable(rawValue(style)))
            << style << QStringLiteral("x\"y\\z\n") << QStringLiteral("\"x\\\"y\\\\z\\n\"")
            << QStringLiteral("https://a.example/") << QStringLiteral("\"https://a.example/\"");
    }
}

void TestBrowserScripts::texts()
{
    QFETCH(BrowserScriptStyle, style);
    QFETCH(QString, bundle);
    QFETCH(QString, bundleLiteral);
    QFETCH(QString, value);
    QFETCH(QString, literal);

    const SupportedBrowser browser = browserFor(style, bundle);
    // The new address gets a suffix so that a mix-up of from and to shows.
    const QString to = value + QStringLiteral("#to");
    const QString toLiteral = literal.chopped(1) + QStringLiteral("#to\"");
    const QHash<QString, QString> values{
        {QStringLiteral("⟨B⟩"), bundleLiteral}, {QStringLiteral("⟨F⟩"), literal}, {QStringLiteral("⟨T⟩"), toLiteral}};

    const QString read = BrowserScripts::readActiveTabURL(browser);
    const QString redirect = BrowserScripts::redirectActiveTab(browser, value, to);
    const QString close = BrowserScripts::closeActiveTab(browser, value);
    QCOMPARE(read, fill(readTemplate, style, values));
    QCOMPARE(redirect, fill(redirectTemplate, style, values));
    QCOMPARE(close, fill(closeTemplate, style, values));

    // The guard takes the inner script as it is, without indenting it; the fallback is quoted.
    const struct {
        QString inner;
        Operation operation;
    } inners[] = {{read, Operation::read}, {redirect, Operation::redirect}, {close, Operation::close}};
    for (const auto& [inner, operation] : inners) {
        const QString text = BrowserScripts::guarded(inner, browser, value);
        QString expected = guardTemplate;
        expected.replace(QStringLiteral("⟨B⟩"), bundleLiteral).replace(QStringLiteral("⟨X⟩"), literal);
        expected.replace(QStringLiteral("⟨I⟩"), inner);
        QCOMPARE(text, expected);

        // Every text the builders make reads back to what it was made from.
        const std::optional<Parsed> parsed = BrowserScripts::parse(text);
        QVERIFY2(parsed, qPrintable(text));
        QCOMPARE(parsed->operation, operation);
        QCOMPARE(parsed->bundleIdentifier, bundle);
        QCOMPARE(parsed->style, style);
        QCOMPARE(parsed->fallback, value);
        QCOMPARE(parsed->from, operation == Operation::read ? QString() : value);
        QCOMPARE(parsed->to, operation == Operation::redirect ? to : QString());
    }
    // An inner script on its own is not something that leaves the engine.
    QVERIFY(!BrowserScripts::parse(read));
    QVERIFY(!BrowserScripts::parse(redirect));
}

void TestBrowserScripts::stylesDifferOnlyInTheTabWord()
{
    for (const SupportedBrowser& chromium : SupportedBrowser::all()) {
        if (chromium.scriptStyle != BrowserScriptStyle::chromium)
            continue;
        SupportedBrowser asSafari = chromium;
        asSafari.scriptStyle = BrowserScriptStyle::safari;
        const QString from = QStringLiteral("https://a.example/");
        const QString to = QStringLiteral("http://127.0.0.1:1/blocked");
        const QStringList chromiumTexts{BrowserScripts::readActiveTabURL(chromium),
                                        BrowserScripts::redirectActiveTab(chromium, from, to),
                                        BrowserScripts::closeActiveTab(chromium, from)};
        const QStringList safariTexts{BrowserScripts::readActiveTabURL(asSafari),
                                      BrowserScripts::redirectActiveTab(asSafari, from, to),
                                      BrowserScripts::closeActiveTab(asSafari, from)};
        for (qsizetype i = 0; i < chromiumTexts.size(); ++i) {
            QVERIFY(chromiumTexts[i].contains(QStringLiteral("active tab")));
            QVERIFY(!chromiumTexts[i].contains(QStringLiteral("current tab")));
            QVERIFY(!safariTexts[i].contains(QStringLiteral("active tab")));
            QCOMPARE(QString(safariTexts[i]).replace(QStringLiteral("current tab"), QStringLiteral("active tab")),
                     chromiumTexts[i]);
        }
    }
}

void TestBrowserScripts::parseRefusesAlteredTexts_data()
{
    QTest::addColumn<QString>("text");
    const SupportedBrowser& chrome = *SupportedBrowser::withId(QStringLiteral("chrome"));
    SupportedBrowser safari = chrome;
    safari.scriptStyle = BrowserScriptStyle::safari;
    const QString from = QStringLiteral("https://a.example/");
    const QString to = QStringLiteral("http://127.0.0.1:1/blocked");
    const QString read = BrowserScripts::guarded(BrowserScripts::readActiveTabURL(chrome), chrome, QString());
    const QString redirect = BrowserScripts::guarded(BrowserScripts::redirectActiveTab(chrome, from, to), chrome,
                                                     QStringLiteral("no-window"));
    const QString close =
        BrowserScripts::guarded(BrowserScripts::closeActiveTab(safari, from), safari, QStringLiteral("no-window"));
    const auto altered = [](QString text, const QString& before, const QString& after) {
        const qsizetype at = text.indexOf(before);
        Q_ASSERT(at >= 0);
        return text.replace(at, before.size(), after);
    };

    QTest::newRow("empty") << QString();
    QTest::newRow("trailing line feed") << read + u'\n';
    QTest::newRow("leading space") << u' ' + read;
    QTest::newRow("CR LF lines") << QString(read).replace(u'\n', QStringLiteral("\r\n"));
    QTest::newRow("other time-out") << altered(read, QStringLiteral("3 seconds"), QStringLiteral("30 seconds"));
    QTest::newRow("indented inner script") << altered(read, QStringLiteral("\ntell"), QStringLiteral("\n    tell"));
    QTest::newRow("tab indentation") << altered(read, QStringLiteral("    if (count"), QStringLiteral("\tif (count"));
    QTest::newRow("mixed wording") << altered(redirect, QStringLiteral("active tab"), QStringLiteral("current tab"));
    QTest::newRow("safari wording in one place only")
        << altered(close, QStringLiteral("current tab"), QStringLiteral("active tab"));
    QTest::newRow("guard names another browser")
        << altered(read, QStringLiteral("if application id \"com.google.Chrome\""),
                   QStringLiteral("if application id \"com.brave.Browser\""));
    QTest::newRow("different inner command")
        << altered(close, QStringLiteral("close current tab of front window"), QStringLiteral("activate"));
    QTest::newRow("redirect answering closed")
        << altered(redirect, QStringLiteral("\"redirected\""), QStringLiteral("\"closed\""));
    QTest::newRow("unterminated literal") << read.chopped(1);
    QTest::newRow("unknown escape") << altered(redirect, QStringLiteral("a.example"), QStringLiteral("a\\t.example"));
    QTest::newRow("extra line") << altered(redirect, QStringLiteral("    end timeout"),
                                           QStringLiteral("    delay 1\n    end timeout"));
    QTest::newRow("unguarded") << BrowserScripts::readActiveTabURL(chrome);
    QTest::newRow("guard around a foreign script") << BrowserScripts::guarded(
        QStringLiteral("tell application id \"com.google.Chrome\"\n    quit\nend tell"), chrome, QString());
}

void TestBrowserScripts::parseRefusesAlteredTexts()
{
    QFETCH(QString, text);
    QVERIFY(!BrowserScripts::parse(text));
}

// ---------------------------------------------------------------- executor

namespace {

QString readScript(const QString& bundle)
{
    const SupportedBrowser b{QString(), QString(), bundle, BrowserScriptStyle::chromium};
    return BrowserScripts::guarded(BrowserScripts::readActiveTabURL(b), b, QString());
}

} // namespace

void TestBrowserScripts::executorRunsOneAtATimeAndCompletesInOrder_data()
{
    QTest::addColumn<BrowserScriptExecutor::Placement>("placement");
    QTest::newRow("own thread") << BrowserScriptExecutor::Placement::ownThread;
    QTest::newRow("calling thread") << BrowserScriptExecutor::Placement::callingThread;
}

void TestBrowserScripts::executorRunsOneAtATimeAndCompletesInOrder()
{
    QFETCH(BrowserScriptExecutor::Placement, placement);
    auto runner = std::make_unique<FakeBrowser>();
    FakeBrowser* browser = runner.get();
    // The first script is the slowest: if scripts overlapped, later ones would finish first.
    const QList<QPair<QString, int>> plan{{QStringLiteral("slow"), 80},
                                          {QStringLiteral("fast"), 0},
                                          {QStringLiteral("medium"), 30},
                                          {QStringLiteral("fast2"), 0},
                                          {QStringLiteral("slow2"), 50}};
    for (const auto& [name, delay] : plan) {
        browser->open(name, QStringLiteral("https://%1.example/").arg(name));
        browser->setDelay(name, delay);
    }
    BrowserScriptExecutor executor(std::move(runner), 3000, nullptr, placement);

    QList<Completion> completions;
    for (const auto& [name, delay] : plan)
        executor.run(readScript(name), [&completions, name = name](const BrowserScriptResult& r) {
            completions.append({name, r, QThread::currentThread()});
        });
    // run() returns at once; nothing completes before the event loop runs.
    QVERIFY(completions.isEmpty());

    QTRY_COMPARE(completions.size(), plan.size());
    for (qsizetype i = 0; i < plan.size(); ++i) {
        QCOMPARE(completions[i].tag, plan[i].first);
        QCOMPARE(completions[i].result.output, QStringLiteral("https://%1.example/").arg(plan[i].first));
        QVERIFY(!completions[i].result.failed());
        QCOMPARE(completions[i].thread, QCoreApplication::instance()->thread());
    }
    QCOMPARE(browser->maxInFlight(), 1);
    const QList<FakeBrowser::Received> received = browser->received();
    QCOMPARE(received.size(), plan.size());
    for (qsizetype i = 0; i < received.size(); ++i) {
        QCOMPARE(received[i].parsed->bundleIdentifier, plan[i].first);
        QCOMPARE(received[i].thread == QCoreApplication::instance()->thread(),
                 placement == BrowserScriptExecutor::Placement::callingThread);
        QCOMPARE(received[i].thread, received.first().thread);
    }
}

void TestBrowserScripts::executorAsksItsRunnerWhetherAReadStands_data()
{
    QTest::addColumn<BrowserScriptExecutor::Placement>("placement");
    QTest::addColumn<bool>("hangs");     // the read never answers: it is still under way
    QTest::addColumn<bool>("navigates"); // the page changes after the read
    QTest::addColumn<bool>("stands");
    const auto own = BrowserScriptExecutor::Placement::ownThread;
    const auto beside = BrowserScriptExecutor::Placement::callingThread;
    QTest::newRow("beside, nothing changed") << beside << false << false << true;
    QTest::newRow("beside, the page changed") << beside << false << true << false;
    QTest::newRow("beside, the read still under way") << beside << true << false << false;
    // A runner on a thread of its own is never asked across threads.
    QTest::newRow("own thread, nothing changed") << own << false << false << false;
}

void TestBrowserScripts::executorAsksItsRunnerWhetherAReadStands()
{
    QFETCH(BrowserScriptExecutor::Placement, placement);
    QFETCH(bool, hangs);
    QFETCH(bool, navigates);
    QFETCH(bool, stands);
    const QString bundle = QStringLiteral("org.example.Browser");
    const QString stuck = QStringLiteral("org.example.Stuck");
    auto runner = std::make_unique<FakeBrowser>();
    FakeBrowser* browser = runner.get();
    browser->open(bundle, QStringLiteral("https://example.org/"));
    browser->open(stuck, QStringLiteral("https://stuck.example/"));
    browser->setHang(stuck, true);
    browser->setTellsChanges(true);
    BrowserScriptExecutor executor(std::move(runner), 3000, nullptr, placement);
    QVERIFY(!executor.readUnchanged(bundle)); // nothing read yet

    bool completed = false;
    executor.run(readScript(bundle), [&completed](const BrowserScriptResult&) { completed = true; });
    QTRY_VERIFY(completed);
    if (hangs) {
        // Another browser's read, which the runner holds on to.
        executor.run(readScript(stuck), [](const BrowserScriptResult&) {});
        QTRY_COMPARE(browser->received().size(), 2);
    }
    if (navigates)
        browser->navigate(bundle, QStringLiteral("https://example.org/next"));
    QCOMPARE(executor.readUnchanged(bundle), stands);
    QVERIFY(!executor.readUnchanged(stuck));
}

void TestBrowserScripts::executorTimesOutAHangingRunner()
{
    auto runner = std::make_unique<FakeBrowser>();
    FakeBrowser* browser = runner.get();
    browser->open(QStringLiteral("stuck"), QStringLiteral("https://stuck.example/"));
    browser->setHang(QStringLiteral("stuck"), true);
    browser->open(QStringLiteral("next"), QStringLiteral("https://next.example/"));
    BrowserScriptExecutor executor(std::move(runner), 200);

    QList<Completion> completions;
    QElapsedTimer elapsed;
    elapsed.start();
    qint64 timedOutAfter = -1;
    executor.run(readScript(QStringLiteral("stuck")), [&](const BrowserScriptResult& r) {
        timedOutAfter = elapsed.elapsed();
        completions.append({QStringLiteral("stuck"), r, QThread::currentThread()});
    });
    executor.run(readScript(QStringLiteral("next")), [&](const BrowserScriptResult& r) {
        completions.append({QStringLiteral("next"), r, QThread::currentThread()});
    });

    QTRY_COMPARE(completions.size(), 2);
    QCOMPARE(completions[0].tag, QStringLiteral("stuck"));
    const BrowserScriptResult expected{std::nullopt, BrowserCommandError::timedOut,
                                       QStringLiteral("The browser did not respond in time.")};
    QCOMPARE(completions[0].result, expected);
    QCOMPARE(completions[0].result, BrowserScriptExecutor::timedOut());
    QVERIFY2(timedOutAfter >= 190, qPrintable(QString::number(timedOutAfter)));
    QCOMPARE(completions[0].thread, QCoreApplication::instance()->thread());
    // The queue moves on after the time-out.
    QCOMPARE(completions[1].tag, QStringLiteral("next"));
    QCOMPARE(completions[1].result.output, QStringLiteral("https://next.example/"));
}

void TestBrowserScripts::lateAnswerAfterTheTimeOutIsIgnored()
{
    auto runner = std::make_unique<FakeBrowser>();
    FakeBrowser* browser = runner.get();
    // "late" answers 100 ms after its time-out, while "second" (which takes 250 ms) is running:
    // the late answer must neither complete anything twice nor pass for the second's.
    browser->open(QStringLiteral("late"), QStringLiteral("https://late.example/"));
    browser->setDelay(QStringLiteral("late"), 400);
    browser->open(QStringLiteral("second"), QStringLiteral("https://second.example/"));
    browser->setDelay(QStringLiteral("second"), 250);
    BrowserScriptExecutor executor(std::move(runner), 300);

    QList<Completion> completions;
    for (const QString& name : {QStringLiteral("late"), QStringLiteral("second")})
        executor.run(readScript(name), [&completions, name](const BrowserScriptResult& r) {
            completions.append({name, r, QThread::currentThread()});
        });

    QTRY_COMPARE(completions.size(), 2);
    QCOMPARE(completions[0].tag, QStringLiteral("late"));
    QCOMPARE(completions[0].result, BrowserScriptExecutor::timedOut());
    QCOMPARE(completions[1].tag, QStringLiteral("second"));
    QCOMPARE(completions[1].result.output, QStringLiteral("https://second.example/"));
    QTest::qWait(300);
    QCOMPARE(completions.size(), 2);
}

void TestBrowserScripts::unparsableTextIsAnsweredWithMinusOne()
{
    BrowserScriptExecutor executor(std::make_unique<FakeBrowser>());
    std::optional<BrowserScriptResult> result;
    executor.run(QStringLiteral("tell application \"Finder\" to quit"),
                 [&](const BrowserScriptResult& r) { result = r; });
    QTRY_VERIFY(result);
    const BrowserScriptResult expected{std::nullopt, BrowserCommandError::unprepared,
                                       QStringLiteral("The browser command could not be prepared.")};
    QCOMPARE(*result, expected);
}

void TestBrowserScripts::executorDestroyedWithScriptsPending()
{
    QFETCH(BrowserScriptExecutor::Placement, placement);
    bool called = false;
    {
        auto runner = std::make_unique<FakeBrowser>();
        runner->open(QStringLiteral("stuck"), QStringLiteral("https://stuck.example/"));
        runner->setHang(QStringLiteral("stuck"), true);
        BrowserScriptExecutor executor(std::move(runner), 60000, nullptr, placement);
        executor.run(readScript(QStringLiteral("stuck")), [&](const BrowserScriptResult&) { called = true; });
        executor.run(readScript(QStringLiteral("stuck")), [&](const BrowserScriptResult&) { called = true; });
        QTest::qWait(50);
    }
    // Tearing down must neither block on the runner nor call back into a dead owner.
    QTest::qWait(50);
    QVERIFY(!called);
}

QTEST_GUILESS_MAIN(TestBrowserScripts)
#include "tst_browser_scripts.moc"

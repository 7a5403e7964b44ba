#include "SettingsRig.h"
#include "TestEnvironment.h"
#include "screens/settings/SettingsRow.h"
#include "screens/settings/SettingsTexts.h"
#include "screens/settings/TimeMoneyCard.h"
#include "ui/Motion.h"
#include "ui/Palette.h"
#include "ui/RollingText.h"
#include "ui/Theme.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QDir>
#include <QLabel>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Kind = BrowserAccessState::Kind;

struct PageRig : SettingsRig {
    PageRig()
    {
        view->resize(900, 2400);
        view->show();
    }
    SettingsRow* row(const QString& name) const { return find<SettingsRow>(name); }
};

} // namespace

class TestSettingsPage : public QObject {
    Q_OBJECT
private slots:
    void cardFigures_data();
    void cardFigures();
    void storedValues_data();
    void storedValues();
    void cardWritesOnlyOnPress();
    void yearlyCostShrinksToFit_data();
    void yearlyCostShrinksToFit();
    void stepperNames_data();
    void stepperNames();
    void browserRows_data();
    void browserRows();
    void browsersRefreshOnShowingOnly();
    void launcherButton_data();
    void launcherButton();
    void syncSection();
    void syncNowKeepsTheKeyboard();
    void loginSwitch();
    void links_data();
    void links();
    void quitAndShortcuts();
};

void TestSettingsPage::cardFigures_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("hours");
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("figures"); // yearly, monthly, rate, hours
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    QTest::newRow("defaults") << 50.0 << 2.0 << us << "$36,500 $3,000 $50/hr 2 hrs";
    QTest::newRow("half up, not to even") << 5.0 << 0.5 << us << "$913 $75 $5/hr 0.5 hrs";
    QTest::newRow("one hour") << 300.0 << 1.0 << us << "$109,500 $9,000 $300/hr 1 hr";
    QTest::newRow("C locale, half") << 5.0 << 0.5 << QLocale::c() << "$913 $75 $5/hr 0.5 hrs";
    QTest::newRow("a 75-minute estimate") << 40.0 << 1.25 << us << "$18,250 $1,500 $40/hr 1.25 hrs";
}

void TestSettingsPage::cardFigures()
{
    QFETCH(double, rate);
    QFETCH(double, hours);
    QFETCH(QLocale, locale);
    QFETCH(QString, figures);
    const TimeMoneyModel model(nullptr, rate, hours);
    QCOMPARE(QStringList({TimeMoneyModel::formatMoney(model.yearlyCost(), locale),
                          TimeMoneyModel::formatMoney(model.monthlyCost(), locale), model.rateText(locale),
                          model.hoursText()})
                 .join(u' '),
             figures);
    QCOMPARE(model.canDecreaseRate(), rate > 5);
    QCOMPARE(model.canIncreaseHours(), hours < 8);
}

void TestSettingsPage::storedValues_data()
{
    QTest::addColumn<QJsonValue>("storedRate");
    QTest::addColumn<QJsonValue>("storedHours");
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("hours");
    const QJsonValue none(QJsonValue::Undefined);
    QTest::newRow("nothing stored") << none << none << 50.0 << 2.0;
    QTest::newRow("hours from the onboarding") << none << QJsonValue(3) << 50.0 << 3.0;
    QTest::newRow("rate above the range") << QJsonValue(1000) << none << 300.0 << 2.0;
    QTest::newRow("hours below the range") << none << QJsonValue(0.2) << 50.0 << 0.5;
    QTest::newRow("zero and negative ignored") << QJsonValue(0) << QJsonValue(-3) << 50.0 << 2.0;
    QTest::newRow("not numbers ignored") << QJsonValue(QStringLiteral("80")) << QJsonValue(true) << 50.0 << 2.0;
}

void TestSettingsPage::storedValues()
{
    QFETCH(QJsonValue, storedRate);
    QFETCH(QJsonValue, storedHours);
    QFETCH(double, rate);
    QFETCH(double, hours);
    StoreFixture f;
    if (!storedRate.isUndefined())
        f.defaults.set(TimeMoneyModel::rateKey, storedRate);
    if (!storedHours.isUndefined())
        f.defaults.set(TimeMoneyModel::hoursKey, storedHours);
    TimeMoneyModel model(&f.defaults, 50, 2);
    model.loadStoredValues();
    QCOMPARE(model.hourlyRate(), rate);
    QCOMPARE(model.hoursPerDay(), hours);
}

void TestSettingsPage::yearlyCostShrinksToFit_data()
{
    QTest::addColumn<double>("room"); // the width offered, as a share of what the text needs
    QTest::addColumn<double>("scale");
    QTest::newRow("room to spare") << 1.5 << 1.0;
    QTest::newRow("just enough") << 1.0 << 1.0;
    QTest::newRow("three quarters") << 0.75 << 0.75;
    QTest::newRow("half: no smaller than 0.6") << 0.5 << 0.6;
}

void TestSettingsPage::yearlyCostShrinksToFit()
{
    QFETCH(double, room);
    QFETCH(double, scale);
    RollingText text(Theme::font(42, QFont::DemiBold, Theme::Design::digits), Qt::white);
    text.setText(QStringLiteral("$1,095,000"), false);
    const int needed = text.sizeHint().width();
    QVERIFY2(std::abs(text.scaleAt(int(needed * room)) - scale) < 0.02,
             qPrintable(QString::number(text.scaleAt(int(needed * room)))));
}

void TestSettingsPage::stepperNames_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("name"); // what a screen reader says
    QTest::newRow("rate down") << "rateMinus"
                               << "Decrease hourly rate";
    QTest::newRow("rate up") << "ratePlus"
                             << "Increase hourly rate";
    QTest::newRow("hours down") << "hoursMinus"
                                << "Decrease time lost a day";
    QTest::newRow("hours up") << "hoursPlus"
                              << "Increase time lost a day";
}

void TestSettingsPage::stepperNames()
{
    QFETCH(QString, button);
    StoreFixture f;
    TimeMoneyCard card(&f.defaults, 50, 2);
    auto* b = card.findChild<QAbstractButton*>(button);
    QVERIFY(b);
    QTEST(QAccessible::queryAccessibleInterface(b)->text(QAccessible::Name), "name");
}

void TestSettingsPage::cardWritesOnlyOnPress()
{
    StoreFixture f;
    f.defaults.set(TimeMoneyModel::rateKey, 1000);
    TimeMoneyCard card(&f.defaults, 50, 2);
    card.resize(600, 400);
    card.show();
    const auto button = [&card](const char* name) {
        return card.findChild<QAbstractButton*>(QString::fromLatin1(name));
    };
    const auto text = [&card](const char* name) {
        return card.findChild<QWidget*>(QString::fromLatin1(name))->property("text").toString();
    };
    QVERIFY(!button("ratePlus")->isEnabled()); // the stored 1000 read as 300, and not written back
    QCOMPARE(f.defaults.value(TimeMoneyModel::rateKey), QJsonValue(1000));

    // The press writes at once; the yearly cost shows its new figures at once too, the ones that
    // changed rolling into place over 0.2 s.
    double now = 0;
    Motion::setTimeSource([&now] { return now; });
    auto* roll = card.findChild<QWidget*>(QStringLiteral("yearlyCost"))->findChild<Tween*>(QStringLiteral("roll"));
    QTest::mouseClick(button("rateMinus"), Qt::LeftButton);
    QCOMPARE(f.defaults.value(TimeMoneyModel::rateKey), QJsonValue(295));
    QVERIFY(!f.defaults.contains(TimeMoneyModel::hoursKey));
    QCOMPARE(text("yearlyCost"), QStringLiteral("$215,350"));
    QCOMPARE(roll->value(), 0.0);
    now = 0.1;
    roll->tick();
    QCOMPARE(roll->value(), 0.5); // half way on an ease in and out
    now = 0.2;
    roll->tick();
    QCOMPARE(roll->value(), 1.0);
    QVERIFY(!roll->isRunning());
    Motion::setTimeSource({});

    for (int i = 0; i < 4; ++i)
        QTest::mouseClick(button("hoursMinus"), Qt::LeftButton);
    QCOMPARE(f.defaults.value(TimeMoneyModel::hoursKey), QJsonValue(0.5));
    QVERIFY(!button("hoursMinus")->isEnabled());
    // A disabled step button cannot be pressed.
    QTest::mouseClick(button("hoursMinus"), Qt::LeftButton);
    QCOMPARE(f.defaults.value(TimeMoneyModel::hoursKey), QJsonValue(0.5));
}

void TestSettingsPage::browserRows_data()
{
    QTest::addColumn<int>("kind"); // -1: no entry
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("control"); // empty: not listed; Try Again rows are errors
    const struct {
        const char* name;
        int kind;
        const char *message, *detail, *control;
    } rows[] = {
        {"no entry", -1, "", "", ""},
        {"not installed", int(Kind::notInstalled), "", "", ""},
        {"not connected", int(Kind::notConnected), "", "Not connected yet.", "connect"},
        // Closed with its route in place: nothing to press, and what happens when it starts.
        {"browser closed", int(Kind::browserClosed), "", "Closed. Protected again as soon as Google Chrome starts.",
         "none"},
        {"connected", int(Kind::connected), "", "", "connected"},
        {"permission needed", int(Kind::permissionNeeded), "",
         "Started without remote debugging. Reopen it from a launcher that turns it on.", "tryAgain"},
        {"problem", int(Kind::problem), "<b>Port closed</b>", "<b>Port closed</b>", "tryAgain"},
        {"problem without text", int(Kind::problem), "", "", "tryAgain"},
        // The extension and consent states: a detail of their own ("*": any), and the fix.
        {"extension missing", int(Kind::extensionMissing), "", "*", "fix"},
        {"extension cannot start the link", int(Kind::hostMissing), "", "*", "fix"},
        {"extension switched off or removed", int(Kind::extensionOff), "", "*", "fix"},
        {"waiting for Allow", int(Kind::awaitingConsent), "", "*", "none"},
        // A browser that cannot be protected says why, and offers no dead end.
        {"only signed add-ons", int(Kind::notPossible), "Firefox accepts only add-ons its maker signed.",
         "Firefox accepts only add-ons its maker signed.", "none"},
        // Connected, with the way to cover private windows beside it.
        {"private windows hidden", int(Kind::privateWindowsHidden), "", "*", "connected+fix"},
    };
    for (const auto& r : rows)
        QTest::newRow(r.name) << r.kind << QString::fromUtf8(r.message) << QString::fromUtf8(r.detail)
                              << QString::fromUtf8(r.control);
}

void TestSettingsPage::browserRows()
{
    QFETCH(int, kind);
    QFETCH(QString, message);
    QFETCH(QString, detail);
    QFETCH(QString, control);
    const bool listed = !control.isEmpty();
    PageRig rig;
    const SupportedBrowser& chrome = *SupportedBrowser::withId(QStringLiteral("chrome"));
    if (kind >= 0)
        rig.engine->setAccess(BrowserAccessState::of(Kind(kind), message), chrome);

    SettingsRow* row = rig.row(QStringLiteral("browserRow_chrome"));
    QTRY_COMPARE(row->isVisible(), listed);
    QCOMPARE(rig.row(QStringLiteral("noBrowserRow"))->isVisible(), !listed);
    // The browsers are named once: by the no-browser row when none is listed, never again below it.
    QVERIFY(!rig.find<QLabel>(QStringLiteral("alsoWorksWith"))->text().contains(QStringLiteral("Google Chrome")));
    if (!listed)
        return;
    if (detail == QLatin1String("*"))
        QVERIFY(!row->detail().isEmpty());
    else
        QCOMPARE(row->detail(), detail);
    QCOMPARE(row->isError(), BrowserAccessState::of(Kind(kind)).needsAttention());
    for (const char* name : {"connect", "tryAgain", "connected", "fix"}) {
        auto* w = row->findChild<QWidget*>(QString::fromLatin1(name));
        QCOMPARE(w && w->isVisible(), control.split(u'+').contains(QLatin1String(name)));
    }

    if (control == QLatin1String("connected") || control == QLatin1String("none"))
        return;
    if (control.endsWith(QLatin1String("fix"))) {
        // Without the extension's own install steps, the fix is the help page.
        row->findChild<QAbstractButton*>(QStringLiteral("fix"))->click();
        QCOMPARE(rig.workspace.openedURLs.size(), 1);
        return;
    }
    // Connect and Try Again ask the engine and leave the hint naming the browser.
    rig.workspace.installed.insert(chrome.id);
    row->findChild<QAbstractButton*>(control)->click();
    QVERIFY(rig.engine->attemptedBrowserIDs().contains(QStringLiteral("chrome")));
    QCOMPARE(rig.find<QLabel>(QStringLiteral("connectionMessage"))->text(),
             QStringLiteral("If Google Chrome asks whether to let Quillharbour in, choose Allow."));
}

void TestSettingsPage::launcherButton_data()
{
    QTest::addColumn<bool>("installed"); // chromium on PATH
    QTest::addColumn<bool>("validates"); // the validator accepts it
    QTest::addColumn<QString>("told");   // empty: no button
    QTest::newRow("written") << true << true << "Launcher saved to";
    QTest::newRow("refused by the validator") << true << false << "Couldn't create a launcher for Chromium";
    QTest::newRow("nothing a launcher could start") << false << true << "";
}

// A browser started without remote debugging: the row offers a launcher that turns it on, and the
// footer says where it went or why not, in the alert colour when it failed.
void TestSettingsPage::launcherButton()
{
    QFETCH(bool, installed);
    QFETCH(bool, validates);
    QFETCH(QString, told);
    QTemporaryDir bin;
    const auto script = [&bin](const QString& name, const QByteArray& text) {
        QVERIFY(TestEnvironment::writeFile(bin.filePath(name), text));
        QFile::setPermissions(bin.filePath(name), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    };
    if (installed)
        script(QStringLiteral("chromium"), "#!/bin/sh\nexit 0\n");
    script(QStringLiteral("desktop-file-validate"),
           validates ? "#!/bin/sh\nexit 0\n" : "#!/bin/sh\necho bad\nexit 1\n");
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toLocal8Bit());
    PageRig rig;
    const SupportedBrowser& chromium = *SupportedBrowser::withId(QStringLiteral("chromium"));
    rig.engine->setAccess(BrowserAccessState::of(Kind::permissionNeeded), chromium);
    SettingsRow* row = rig.row(QStringLiteral("browserRow_chromium"));
    QTRY_VERIFY(row->isVisible());
    auto* button = row->findChild<QAbstractButton*>(QStringLiteral("createLauncher"));
    QCOMPARE(button->isVisible(), !told.isEmpty());
    if (!told.isEmpty()) {
        // Pressed from the keyboard, the button keeps the focus while the rows are refreshed.
        button->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(button->window()));
        button->setFocus();
        // Running without its debugging port, as the offer's state says.
        rig.workspace.installed.insert(chromium.id);
        rig.workspace.running.insert(chromium.id);
        QTest::keyClick(button, Qt::Key_Space);
        QCOMPARE(QApplication::focusWidget(), button);
        // A launcher written is the browser chosen: started from it, the checks read it.
        QCOMPARE(rig.engine->attemptedBrowserIDs().contains(chromium.id), validates);
        auto* message = rig.find<QLabel>(QStringLiteral("connectionMessage"));
        QVERIFY2(message->text().startsWith(told), qPrintable(message->text()));
        QCOMPARE(message->palette().color(QPalette::WindowText) == FocusColor::alert(), !validates);
        const QString written = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation) +
                                QStringLiteral("/chromium.desktop");
        QCOMPARE(QFile::exists(written), validates);
        QFile::remove(written);
    }
    qputenv("PATH", path);
}

void TestSettingsPage::browsersRefreshOnShowingOnly()
{
    PageRig rig;
    QVERIFY(rig.row(QStringLiteral("noBrowserRow"))->isVisible());
    QVERIFY(!rig.find<QLabel>(QStringLiteral("alsoWorksWith"))->isVisible());

    // Coming back to the application re-reads the login item, not the browsers.
    rig.workspace.installed.insert(QStringLiteral("brave"));
    rig.f.clock.advance(600);
    rig.view->applicationBecameActive();
    QTest::qWait(0);
    QVERIFY(!rig.row(QStringLiteral("browserRow_brave"))->isVisible());
    // Showing the page again lists it at once, even within the engine's 30 seconds.
    rig.view->hide();
    rig.view->show();
    QTRY_VERIFY(rig.row(QStringLiteral("browserRow_brave"))->isVisible());
    QVERIFY(!rig.find<QLabel>(QStringLiteral("alsoWorksWith"))->text().contains(QStringLiteral("Brave")));
}

void TestSettingsPage::syncSection()
{
    PageRig rig;
    SettingsRow* row = rig.row(QStringLiteral("syncRow"));
    auto* syncNow = rig.find<QAbstractButton>(QStringLiteral("syncNow"));

    // Syncing: the spinner instead of the button, until the run ends.
    syncNow->click();
    QTRY_VERIFY(rig.find<QWidget>(QStringLiteral("syncSpinner"))->isVisible());
    QVERIFY(!syncNow->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.sync->isSyncing(), 10000);
    QTRY_VERIFY(syncNow->isVisible());
    QVERIFY(!rig.find<QWidget>(QStringLiteral("syncSpinner"))->isVisible());
    QCOMPARE(row->detail(), rig.sync->statusMessage());
    QVERIFY(!row->isError());

    // A failed run: its error, in the error style, instead of the status.
    MemoryRecordStore::Fault fault;
    fault.error.kind = RecordFailure::unreachable;
    fault.error.message = QStringLiteral("The network is down.");
    rig.records.faultChooser = [fault](MemoryRecordStore::Operation) { return std::optional(fault); };
    syncNow->click();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.sync->isSyncing() && rig.sync->lastError(), 10000);
    QTRY_COMPARE(row->detail(), *rig.sync->lastError());
    QVERIFY(row->isError());
}

// Space on "Sync now" twice syncs twice: the keyboard waits on the spinner while the run lasts
// and comes back to the button, never passing to the sign-in switch below.
void TestSettingsPage::syncNowKeepsTheKeyboard()
{
    PageRig rig;
    auto* syncNow = rig.find<QAbstractButton>(QStringLiteral("syncNow"));
    auto* spinner = rig.find<QWidget>(QStringLiteral("syncSpinner"));
    auto* login = rig.find<QAbstractButton>(QStringLiteral("loginSwitch"));
    const bool loginWas = login->isChecked();
    syncNow->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(syncNow->window()));
    syncNow->setFocus(Qt::TabFocusReason);
    QSignalSpy runs(rig.sync.get(), &SyncService::syncRunStarted);
    // A run with nothing to send can end within a turn of the event loop: each run's first
    // request waits until the page has shown the spinner, so what it shows is seen.
    int spinnersFocused = 0;
    rig.records.beforeRequest = [&](MemoryRecordStore::Operation) {
        if (QTest::qWaitFor([&] { return spinner->isVisible(); }, 5000) && spinner->hasFocus())
            ++spinnersFocused;
    };
    for (int press = 1; press <= 2; ++press) {
        const int focusedBefore = spinnersFocused;
        QTest::keyClick(syncNow, Qt::Key_Space);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.sync->isSyncing(), 10000);
        QVERIFY(spinnersFocused > focusedBefore);
        QTRY_VERIFY(syncNow->hasFocus());
        QCOMPARE(runs.size(), press);
    }
    QCOMPARE(login->isChecked(), loginWas);
}

void TestSettingsPage::loginSwitch()
{
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    QVERIFY(!config.isEmpty());
    PageRig rig;
    auto& login = static_cast<LaunchAtLoginService&>(rig.view->launchAtLogin());
    auto* toggle = rig.find<QAbstractButton>(QStringLiteral("loginSwitch"));
    auto* error = rig.find<QLabel>(QStringLiteral("loginError"));
    QVERIFY(!toggle->isChecked());

    toggle->click();
    QVERIFY(QFileInfo::exists(login.entryPath()) && toggle->isChecked());
    toggle->click();
    QVERIFY(!QFileInfo::exists(login.entryPath()) && !toggle->isChecked());

    // The entry written elsewhere shows when the application becomes active again.
    QFile entry(login.entryPath());
    QVERIFY(entry.open(QIODevice::WriteOnly) && entry.write(login.entryText()) > 0);
    entry.close();
    rig.view->applicationBecameActive();
    QVERIFY(toggle->isChecked());
    toggle->click();
    QVERIFY(!toggle->isChecked());

    // It cannot be registered: the switch stays off and says why.
    QVERIFY(QDir(config).rmdir(QStringLiteral("autostart")));
    QFile blocker(config + QStringLiteral("/autostart"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    toggle->click();
    QVERIFY(!toggle->isChecked());
    QVERIFY(error->isVisible());
    QVERIFY(error->text().size() > QStringLiteral("Couldn't change this: ").size());
    QVERIFY(blocker.remove());
}

void TestSettingsPage::links_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("opens");
    // The two real links open in quitAndShortcuts.
    QTest::newRow("plain http") << "http://quillharbour.app" << false;
    QTest::newRow("script") << "javascript:alert(1)" << false;
    QTest::newRow("local file") << "file:///etc/passwd" << false;
    QTest::newRow("user in the address") << "https://me@quillharbour.app" << false;
    QTest::newRow("mailto without address") << "mailto:@quillharbour.app" << false;
    QTest::newRow("space in host") << "https://quill harbour.app" << false;
}

void TestSettingsPage::links()
{
    QFETCH(QString, text);
    QFETCH(bool, opens);
    QCOMPARE(SettingsTexts::safeLink(text).has_value(), opens);
}

void TestSettingsPage::quitAndShortcuts()
{
    PageRig rig;
    rig.find<QAbstractButton>(QStringLiteral("quitButton"))->click();
    QCOMPARE(rig.quitRequests, 1);
    rig.find<QAbstractButton>(QStringLiteral("websiteLink"))->click();
    rig.find<QAbstractButton>(QStringLiteral("contactLink"))->click();
    QCOMPARE(rig.opened, (QList<QUrl>{QUrl(SettingsTexts::websiteLink), QUrl(SettingsTexts::contactLink)}));

    // This desktop's notation, not the Mac's glyphs.
    QCOMPARE(SettingsTexts::shortcuts().at(1).keys, QStringLiteral("Ctrl+Shift+N"));
}

QTEST_MAIN(TestSettingsPage)
#include "tst_settings_page.moc"

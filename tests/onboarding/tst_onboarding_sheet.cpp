#include "OfflineSiteIcons.h"
#include "OnboardingRig.h"
#include "onboarding/OnboardingIllustrations.h"
#include "ui/CardShadow.h"
#include "ui/Palette.h"
#include "ui/ReturnKey.h"
#include "ui/WrappingLabel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

using Step = OnboardingFlow::Step;
using Kind = BrowserAccessState::Kind;

namespace {

bool near(QRgb a, const QColor& b)
{
    return qAbs(qRed(a) - b.red()) <= 24 && qAbs(qGreen(a) - b.green()) <= 24 && qAbs(qBlue(a) - b.blue()) <= 24;
}

OnboardingView& shown(OnboardingView& view)
{
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.show();
    QCoreApplication::processEvents();
    return view;
}

} // namespace

class TestOnboardingSheet : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        useOfflineSiteIcons();
        ReturnKey::install(*qApp);
    }
    void keys_data();
    void keys();
    void typedSitesWrap();
    void installStep();
    void installForEveryoneFirst();
    void yearDots_data();
    void yearDots();
    void countdownRing();
    void trayPictureShadowFadesOut();
    void qrCode_data();
    void qrCode();
    void browserStep();
    void browserStepPictureFollowsTheBrowser_data();
    void browserStepPictureFollowsTheBrowser();
    void finishFromTheSheet_data();
    void finishFromTheSheet();
    void whereToFindItAgain_data();
    void whereToFindItAgain();
};

void TestOnboardingSheet::keys_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QList<int>>("before"); // steps gone through first
    // Object name of the focused field or button, "*" what the step starts on, or empty.
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("after");
    QTest::addColumn<int>("historyLength");
    QTest::newRow("Return on welcome starts") << 0 << QList<int>{} << "" << int(Qt::Key_Return) << 1 << 1;
    QTest::newRow("Escape on welcome stays") << 8 << QList<int>{0} << "" << int(Qt::Key_Escape) << 0 << 1;
    QTest::newRow("Escape on install stays") << 8 << QList<int>{} << "" << int(Qt::Key_Escape) << 8 << 0;
    QTest::newRow("Return unanswered stays") << 0 << QList<int>{1} << "" << int(Qt::Key_Return) << 1 << 1;
    QTest::newRow("Return in the site field adds, stays")
        << 3 << QList<int>{} << "siteField" << int(Qt::Key_Return) << 3 << 0;
    QTest::newRow("Return in the priority field continues")
        << 5 << QList<int>{} << "priorityField" << int(Qt::Key_Enter) << 6 << 1;
    QTest::newRow("Escape in the priority field goes back")
        << 3 << QList<int>{5} << "priorityField" << int(Qt::Key_Escape) << 3 << 0;
    // Return presses the focused button, not "Continue".
    QTest::newRow("Return on a focused Back goes back")
        << 3 << QList<int>{5} << "backButton" << int(Qt::Key_Return) << 3 << 0;
    QTest::newRow("Return on the answer the step starts on picks it, stays")
        << 0 << QList<int>{1} << "*" << int(Qt::Key_Return) << 1 << 1;
}

void TestOnboardingSheet::keys()
{
    QFETCH(int, start);
    QFETCH(QList<int>, before);
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(int, after);
    QFETCH(int, historyLength);
    OnboardingRig rig;
    OnboardingView& view = shown(rig.open(start));
    for (int step : before)
        view.go(Step(step));
    QCoreApplication::processEvents(); // the step's page shows
    QWidget* target = &view;
    if (focus == QLatin1String("*")) {
        QVERIFY(view.focusWidget() && view.focusWidget() != &view);
        QApplication::setActiveWindow(&view);
        target = view.focusWidget();
    } else if (!focus.isEmpty() && rig.find<QAbstractButton>(focus)) {
        // The step's own, not the one of the step left, which goes once the loop turns.
        for (auto* button : view.findChildren<QAbstractButton*>(focus))
            if (button->isVisible())
                target = button;
        QVERIFY(target != &view);
        target->setFocus(Qt::TabFocusReason);
    } else if (!focus.isEmpty()) {
        auto* edit = rig.find<QLineEdit>(focus);
        QVERIFY(edit);
        QTest::keyClicks(edit, QStringLiteral("reddit.com"));
        target = edit;
    }
    QTest::keyClick(target, Qt::Key(key));
    QCOMPARE(int(view.step()), after);
    QCOMPARE(view.flow().history().size(), historyLength);
    QVERIFY(!view.close()); // nor by the window manager or reject()
    view.reject();
    QVERIFY(view.isVisible());
    QCOMPARE(rig.finished, 0);
    if (focus == QLatin1String("*"))
        QCOMPARE(view.flow().hoursPerDay(), std::optional<double>(1));
    if (focus == QStringLiteral("siteField")) {
        QCOMPARE(view.flow().customSites(), QStringList{QStringLiteral("reddit.com")});
        QVERIFY(rig.find<QLineEdit>(focus)->text().isEmpty());
    }
}

void TestOnboardingSheet::typedSitesWrap()
{
    OnboardingRig rig;
    OnboardingView& view = shown(rig.open(3));
    auto* field = rig.find<QLineEdit>(QStringLiteral("siteField"));
    const QStringList sites{"reddit.com",    "news.ycombinator.com", "twitch.tv",
                            "pinterest.com", "discord.com",          "a-very-long-domain-name-for-a-forum.example.org",
                            "x.com"};
    for (const QString& site : sites) {
        QTest::keyClicks(field, site);
        QTest::keyClick(field, Qt::Key_Return);
    }
    QStringList expected = sites;
    expected.sort();
    QSet<int> rows;
    // Every chip comes to lie whole inside the column, where it can be seen and pressed.
    const auto settled = [&] {
        QStringList shown;
        rows.clear();
        for (QAbstractButton* chip : view.findChildren<QAbstractButton*>(QStringLiteral("customSiteChip"))) {
            if (!chip->isVisible())
                continue;
            if (!chip->parentWidget()->rect().contains(chip->geometry()))
                return false;
            shown.append(chip->text());
            rows.insert(chip->y());
        }
        shown.sort();
        return shown == expected;
    };
    QTRY_VERIFY_WITH_TIMEOUT(settled(), 5000);
    QVERIFY(rows.size() >= 3);
}

void TestOnboardingSheet::installStep()
{
    OnboardingRig rig;
    OnboardingView& view = shown(rig.open(0, true));
    int attempts = 0;
    view.setMoveHandler([&](QString* error) {
        ++attempts;
        *error = QStringLiteral("Permission denied");
        return false;
    });
    auto* status = rig.find<WrappingLabel>(QStringLiteral("moveStatus"));
    QTest::keyClick(&view, Qt::Key_Return);
    QCOMPARE(attempts, 1);
    QCOMPARE(view.step(), Step::install);
    QVERIFY(status->text().startsWith(QStringLiteral("Couldn't install it.")));
    QVERIFY(!status->text().contains(QStringLiteral("Permission denied")));
    rig.find<QAbstractButton>(QStringLiteral("notNowButton"))->click();
    QCOMPARE(view.step(), Step::welcome);
    QCOMPARE(view.flow().history(), QList<Step>{Step::install});
}

// Where the program can install itself for everyone, that comes first and takes Return; a failure
// is said in the handler's words, and installing for this person alone is still one click away.
void TestOnboardingSheet::installForEveryoneFirst()
{
    OnboardingRig rig;
    OnboardingView& view = shown(rig.open(0, true));
    int moves = 0;
    view.setMoveHandler([&](QString*) {
        ++moves;
        return true;
    });
    std::function<void(const QString&, bool)> finish;
    const QString command = QStringLiteral("sudo /x/quillharbour --install-for-everyone");
    view.setMachineHandler([&](std::function<void(const QString&, bool)> done) { finish = std::move(done); }, command);
    QTRY_VERIFY(view.primaryButton()->isVisibleTo(&view));
    const QList<QAbstractButton*> buttons = view.page()->findChildren<QAbstractButton*>();
    QStringList titles;
    for (QAbstractButton* button : buttons)
        if (button->isVisibleTo(&view))
            titles.append(button->text());
    QCOMPARE(titles, (QStringList{QStringLiteral("Install for Everyone…"), QStringLiteral("Just for Me"),
                                  QStringLiteral("Not now")}));
    auto* status = view.page()->findChild<WrappingLabel*>(QStringLiteral("moveStatus"));
    QVERIFY(status->text().contains(QStringLiteral("every Chromium-family browser and profile")));
    QTest::keyClick(&view, Qt::Key_Return);
    QVERIFY(finish);
    QTRY_COMPARE(status->text(), QStringLiteral("Asking for the administrator's password…"));
    // Pressed again while it asks: one request only.
    auto done = std::exchange(finish, {});
    QTest::keyClick(&view, Qt::Key_Return);
    QVERIFY(!finish);
    const QString refused = QStringLiteral("The password request was closed, so nothing was installed.\n\nTo install "
                                           "it yourself, run this in a terminal:\nsudo /x/quillharbour");
    done(refused, false);
    QTRY_COMPARE(status->text(), refused);
    QCOMPARE(status->color(), FocusColor::alert());
    // The command to type, one click from the clipboard.
    auto* copy = view.page()->findChild<QAbstractButton*>(QStringLiteral("copyCommandButton"));
    QVERIFY(copy->isVisibleTo(&view));
    copy->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), command);
    QCOMPARE(view.step(), Step::install);
    view.page()->findChild<QAbstractButton*>(QStringLiteral("justForMeButton"))->click();
    QCOMPARE(moves, 1);
}

void TestOnboardingSheet::yearDots_data()
{
    QTest::addColumn<int>("lost");
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("day");
    QTest::addColumn<bool>("filled");
    QTest::newRow("0: first day empty") << 0 << 0 << 0 << false;
    QTest::newRow("31: January's last filled") << 31 << 0 << 30 << true;
    QTest::newRow("31: February's first empty") << 31 << 1 << 0 << false;
    QTest::newRow("32: February's first filled") << 32 << 1 << 0 << true;
    QTest::newRow("365: 31 December filled") << 365 << 11 << 30 << true;
    QTest::newRow("400: 31 December filled") << 400 << 11 << 30 << true;
}

void TestOnboardingSheet::yearDots()
{
    QFETCH(int, lost);
    QFETCH(int, month);
    QFETCH(int, day);
    QFETCH(bool, filled);
    OnboardingYearDots dots(0, 6, 3);
    dots.setLostDays(lost);
    const QImage image = dots.grab().toImage();
    const QPoint c = dots.dotCenter(month, day).toPoint();
    QCOMPARE(near(image.pixel(c), FocusColor::priorityHigh()), filled);
    // February has 28 days: the place of a 29th stays empty whatever is lost.
    QCOMPARE(qAlpha(image.pixel(dots.dotCenter(1, 28).toPoint())), 0);
}

void TestOnboardingSheet::trayPictureShadowFadesOut()
{
    // Soft under the popover, gone at the picture's sides: a shadow cut off there is a flat slab.
    OnboardingTrayIllustration picture(QStringLiteral("Deep work"));
    const QImage image = picture.grab().toImage();
    const int y = int((picture.height() - CardShadow::extent(20, 10).bottom() + 6) * image.devicePixelRatio());
    const int middle = qAlpha(image.pixel(image.width() / 2, y));
    QVERIFY(middle > 16);
    QVERIFY(qAlpha(image.pixel(1, y)) * 8 < middle && qAlpha(image.pixel(image.width() - 2, y)) * 8 < middle);

    // Without a tray the menu meets the picture's left edge; its shadow must fade there too.
    OnboardingAppMenuIllustration menu;
    const QImage menuImage = menu.grab().toImage();
    const int below = int((menu.height() - 24 + 6) * menuImage.devicePixelRatio());
    const int underMenu = qAlpha(menuImage.pixel(int(menuImage.width() * 0.39), below));
    QVERIFY(underMenu > 16);
    QVERIFY(qAlpha(menuImage.pixel(1, below)) * 8 < underMenu);
}

void TestOnboardingSheet::countdownRing()
{
    OnboardingBlockPagePreview preview(QStringLiteral("youtube.com"), 10, std::nullopt, 372);
    QImage image = preview.grab().toImage();
    const QRectF ring = preview.ringRect();
    QVERIFY(!ring.isEmpty());
    // The whole circle is gold: top, right, bottom and left of the ring, and the inside is the card's.
    const QPointF c = ring.center();
    const qreal r = ring.width() / 2 - 2;
    for (const QPointF& p :
         {QPointF(c.x(), c.y() - r), QPointF(c.x() + r, c.y()), QPointF(c.x(), c.y() + r), QPointF(c.x() - r, c.y())})
        QVERIFY(near(image.pixel(p.toPoint()), FocusColor::gold()));
    QVERIFY(near(image.pixel(c.toPoint()), FocusColor::ink()));
    const int drawn = preview.drawCount();
    preview.grab();
    QCOMPARE(preview.drawCount(), drawn); // cached, not drawn again

    preview.setContent(QStringLiteral("youtube.com"), 10, QString());
    QVERIFY(preview.ringRect().isEmpty());
}

void TestOnboardingSheet::qrCode_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QByteArray>("library");
    QTest::addColumn<int>("modules"); // 0: nothing encoded
    const QByteArray installed = QrEncoder::defaultLibrary;
    QTest::newRow("guide link") << OnboardingView::syncGuideLink << installed << 29;
    QTest::newRow("empty") << "" << installed << 0;
    // Opened only when a code is drawn: a library gone since the start says so where the code goes.
    QTest::newRow("library missing") << OnboardingView::syncGuideLink << QByteArray("libqrencode-absent.so.4") << 0;
}

void TestOnboardingSheet::qrCode()
{
    QFETCH(QString, link);
    QFETCH(QByteArray, library);
    QFETCH(int, modules);
    const QImage grid = OnboardingQRCode::moduleImage(link, library.constData());
    OnboardingQRCode view(link, nullptr, library.constData());
    view.resize(92, 92);
    const QImage shown = view.grab().toImage();
    const bool missing = library != QrEncoder::defaultLibrary;
    QCOMPARE(view.error().contains(QLatin1String(library)), missing);
    QCOMPARE(view.accessibleDescription(), view.error());
    if (modules == 0) {
        QVERIFY(grid.isNull());
        int dark = 0;
        for (int y = 0; y < 92; ++y)
            for (int x = 0; x < 92; ++x)
                dark += qGray(shown.pixel(x, y)) < 200;
        QCOMPARE(dark > 0, missing); // the reason written, or a blank white square
        return;
    }
    QCOMPARE(grid.width(), modules);
    const auto dark = [&](int x, int y) { return qGray(grid.pixel(x, y)) < 128; };
    // A finder pattern in three corners: a dark ring, a light ring, a dark 3 × 3 centre, a light separator.
    const int n = modules;
    for (const QPoint& origin : {QPoint(0, 0), QPoint(n - 7, 0), QPoint(0, n - 7)}) {
        QVERIFY(dark(origin.x(), origin.y()));
        QVERIFY(!dark(origin.x() + 1, origin.y() + 1));
        QVERIFY(dark(origin.x() + 3, origin.y() + 3));
    }
    QVERIFY(!dark(7, 7));
    QVERIFY(!dark(n - 8, 7));
    // Ten pixels a module, and the view stretches the modules with hard edges.
    QCOMPARE(OnboardingQRCode::makeImage(link).width(), modules * 10);
    const qreal step = 92.0 / modules;
    for (int y = 0; y < modules; y += 3)
        for (int x = 0; x < modules; x += 2) {
            const QPoint p(int((x + 0.5) * step), int((y + 0.5) * step));
            QCOMPARE(qGray(shown.pixel(p)) < 128, dark(x, y));
        }
}

void TestOnboardingSheet::browserStep()
{
    OnboardingRig rig;
    const QString chrome = QStringLiteral("chrome");
    const QString brave = QStringLiteral("brave");
    rig.workspace.installed = {chrome, brave};
    OnboardingView& view = shown(rig.open(4)); // lists the installed browsers afresh
    auto* row = rig.find(QStringLiteral("browserRow:chrome"));
    QVERIFY(row && rig.find(QStringLiteral("browserRow:brave")) && !rig.find(QStringLiteral("browserRow:edge")));
    QVERIFY(OnboardingBrowserIcon(QStringList{QStringLiteral("not-a-browser")}).showsFallback());

    // Connect with the browser closed: the engine says so and the row asks to open it.
    row->findChild<QAbstractButton*>(QStringLiteral("browserButton"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(
        rig.engine->accessByBrowserID().value(QStringLiteral("chrome")).kind == Kind::browserClosed, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.find<QLabel>(QStringLiteral("browserNote"))->text().isEmpty(), 10000);

    // Refused: the Automation mock-up names it; coming back probes again, for real.
    rig.engine->setAccess(BrowserAccessState::of(Kind::permissionNeeded), *SupportedBrowser::withId("chrome"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.find(QStringLiteral("extensionsPage"))->isVisible(), 10000);
    QVERIFY(!rig.find(QStringLiteral("promptCard"))->isVisible());
    rig.workspace.running.insert(chrome);
    rig.browser->open(chrome, QStringLiteral("https://example.com/"));
    view.reconnectBrowsersNeedingPermission();
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine->accessByBrowserID().value(QStringLiteral("chrome")).kind == Kind::connected,
                             10000);
    QTRY_VERIFY_WITH_TIMEOUT(rig.find(QStringLiteral("promptCard"))->isVisible(), 10000);

    // Away from the step nothing is probed.
    rig.engine->setAccess(BrowserAccessState::of(Kind::permissionNeeded), *SupportedBrowser::withId("brave"));
    view.go(Step::priority);
    rig.browser->clearReceived();
    view.reconnectBrowsersNeedingPermission();
    QCoreApplication::processEvents();
    QCOMPARE(rig.engine->accessByBrowserID().value(QStringLiteral("brave")).kind, Kind::permissionNeeded);
    QVERIFY(rig.browser->received().isEmpty());
}

// The picture beside the browser list shows the steps of the browser it names, in its own words.
void TestOnboardingSheet::browserStepPictureFollowsTheBrowser_data()
{
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("connected"); // empty: none
    QTest::addColumn<QString>("named");
    QTest::addColumn<QString>("button"); // the one to choose
    QTest::newRow("Firefox ESR alone") << QStringList{"firefox"} << ""
                                       << "Firefox"
                                       << "Install Add-on From File…";
    QTest::newRow("Chromium connected, Firefox next") << QStringList{"chromium", "firefox"} << "chromium"
                                                      << "Firefox"
                                                      << "Install Add-on From File…";
    QTest::newRow("Chromium connected, Brave next") << QStringList{"chromium", "brave", "firefox"} << "chromium"
                                                    << "Brave"
                                                    << "Load unpacked";
}

void TestOnboardingSheet::browserStepPictureFollowsTheBrowser()
{
    QFETCH(QStringList, installed);
    QFETCH(QString, connected);
    QFETCH(QString, named);
    QFETCH(QString, button);
    OnboardingRig rig;
    for (const QString& id : installed)
        rig.workspace.installed.insert(id);
    shown(rig.open(4));
    if (!connected.isEmpty())
        rig.engine->setAccess(BrowserAccessState::of(Kind::connected), *SupportedBrowser::withId(connected));
    auto* card = rig.find<OnboardingExtensionPromptCard>(QStringLiteral("promptCard"));
    QTRY_VERIFY_WITH_TIMEOUT(card->isVisible() && card->texts().instruction.contains(named), 10000);
    const auto texts = card->texts();
    QCOMPARE(texts.buttons.last(), button);
    const bool firefox = named == QLatin1String("Firefox");
    QCOMPARE(texts.instruction.contains(QLatin1String("xpinstall.signatures.required")), firefox);
    QCOMPARE(texts.instruction.contains(QLatin1String("Developer mode")), !firefox);
}

void TestOnboardingSheet::finishFromTheSheet_data()
{
    QTest::addColumn<int>("status"); // NotificationAuthorization
    QTest::addColumn<bool>("answered");
    QTest::addColumn<bool>("reminders");
    QTest::addColumn<int>("requests");
    QTest::newRow("not asked yet, answered") << int(NotificationAuthorization::notDetermined) << true << true << 1;
    QTest::newRow("no notification service answers")
        << int(NotificationAuthorization::notDetermined) << false << true << 1;
    QTest::newRow("already allowed") << int(NotificationAuthorization::authorized) << true << true << 0;
    QTest::newRow("reminders off") << int(NotificationAuthorization::notDetermined) << true << false << 0;
}

void TestOnboardingSheet::finishFromTheSheet()
{
    QFETCH(int, status);
    QFETCH(bool, answered);
    QFETCH(bool, reminders);
    QFETCH(int, requests);
    OnboardingRig rig;
    rig.f.notifications.status = NotificationAuthorization(status);
    rig.f.notifications.deferAnswers = !answered;
    rig.acceptOnFinish = true;
    OnboardingView& view = shown(rig.open(5));
    QTest::keyClicks(rig.find<QLineEdit>(QStringLiteral("priorityField")), QStringLiteral("  Deep work "));
    view.go(Step::otherComputer);
    view.go(Step::done);
    view.flow().remindersOn = reminders;
    auto* primary = view.primaryButton();
    primary->click();
    primary->click(); // a second press writes nothing again
    QCOMPARE(rig.finished, 1);
    QVERIFY(!view.isVisible());
    QCOMPARE(rig.f.defaults.boolean(OnboardingFlow::completedKey), std::optional<bool>(true));
    QCOMPARE(rig.store.todos().todos().size(), size_t(1));
    QCOMPARE(rig.store.todos().todos().front().title, QStringLiteral("Deep work"));
    // The question is asked after the hand-over, never before it.
    QCOMPARE(rig.f.notifications.authorizationRequests, 0);
    QTRY_COMPARE_WITH_TIMEOUT(rig.f.notifications.authorizationRequests, requests, 5000);
    QCoreApplication::processEvents();
    QCOMPARE(rig.f.notifications.authorizationRequests, requests);
}

// The priority step's caption and the done step's words name where the program waits: the tray
// where the desktop shows one, the applications menu where it does not (GNOME).
void TestOnboardingSheet::whereToFindItAgain_data()
{
    QTest::addColumn<int>("tray"); // -1: not known yet
    QTest::addColumn<QString>("place");
    QTest::newRow("a tray") << 1 << "system tray";
    QTest::newRow("no tray") << 0 << "applications menu";
    QTest::newRow("not known yet") << -1 << "system tray";
}

void TestOnboardingSheet::whereToFindItAgain()
{
    QFETCH(int, tray);
    QFETCH(QString, place);
    OnboardingRig rig;
    if (tray >= 0)
        rig.context.hasTray = [tray] { return tray == 1; };
    OnboardingView& view = shown(rig.open(5));
    view.go(Step::priority);
    view.go(Step::done);
    QStringList said;
    for (QLabel* label : view.findChildren<QLabel*>())
        if (label->text().startsWith(QLatin1String("Also waiting in")) ||
            label->text().startsWith(QLatin1String("Find Quillharbour in")))
            said.append(label->text());
    QVERIFY2(said.size() >= 2, qPrintable(said.join(u'|')));
    for (const QString& text : std::as_const(said))
        QVERIFY2(text.contains(place), qPrintable(text));
    // The picture beside the words shows that same place.
    const bool inTray = place == QLatin1String("system tray");
    QCOMPARE(view.findChild<OnboardingTrayIllustration*>() != nullptr, inTray);
    QCOMPARE(view.findChild<OnboardingAppMenuIllustration*>() != nullptr, !inTray);
}

QTEST_MAIN(TestOnboardingSheet)
#include "tst_onboarding_sheet.moc"

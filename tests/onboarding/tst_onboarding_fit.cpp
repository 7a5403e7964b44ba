#include "LayoutFit.h"
#include "OfflineSiteIcons.h"
#include "OnboardingRig.h"
#include "linux/LaunchAtLoginService.h"
#include "ui/Theme.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

using Step = OnboardingFlow::Step;
using Kind = BrowserAccessState::Kind;

namespace {

// Lays the sheet out at `size` (the design size, or what a small screen leaves of it).
void layOut(OnboardingView& view, const QSize& size)
{
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.show();
    view.setFixedSize(size);
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

QByteArray listed(const QStringList& cuts)
{
    return cuts.join(QStringLiteral("\n")).toUtf8();
}

const QString longPath = QStringLiteral("/home/someone-with-a-long-name/.local/share/flatpak/exports/"
                                        "some-very-deep-folder/another-folder-level/bin/quillharbour");

} // namespace

class TestOnboardingFit : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { useOfflineSiteIcons(); }
    void installStep_data();
    void installStep();
    void everyStep_data();
    void everyStep();
};

void TestOnboardingFit::installStep_data()
{
    QTest::addColumn<QString>("failure"); // empty: no failure; "press": a real failed attempt
    QTest::addColumn<QSize>("sheet");
    const QSize design(880, 600);
    QTest::newRow("first display") << QString() << design;
    QTest::newRow("failed attempt") << QStringLiteral("press") << design;
    QTest::newRow("failure naming a long path")
        << QStringLiteral("Couldn't install it into %1. Quit Quillharbour, then copy it by hand.").arg(longPath)
        << design;
    QTest::newRow("failure of many words") << QStringLiteral("Couldn't install it. ").repeated(14) << design;
    QTest::newRow("first display, low screen") << QString() << QSize(880, 460);
    QTest::newRow("failed attempt, small screen") << QStringLiteral("press") << QSize(760, 480);
    QTest::newRow("long path, small screen") << longPath << QSize(700, 420);
}

void TestOnboardingFit::installStep()
{
    QFETCH(QString, failure);
    QFETCH(QSize, sheet);
    OnboardingRig rig;
    OnboardingView& view = rig.open(0, true);
    view.setAnimated(false);
    layOut(view, sheet);
    if (failure == QStringLiteral("press")) {
        view.setMoveHandler([](QString* error) {
            *error = QStringLiteral("Permission denied");
            return false;
        });
        QTest::keyClick(&view, Qt::Key_Return);
    } else if (!failure.isEmpty()) {
        // The step shows whatever message the flow holds when it is built.
        view.go(Step::welcome);
        view.flow().moveError = failure;
        view.back();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the pages left behind
    QCOMPARE(view.step(), Step::install);
    layOut(view, sheet);
    // Services answer through the event loop, and each answer lays the step out again.
    QStringList cuts;
    QTRY_VERIFY2_WITH_TIMEOUT((cuts = LayoutFit::cut(&view)).isEmpty(), listed(cuts).constData(), 5000);
    // Both ways on stay within reach, and Return still presses the first.
    QVERIFY(view.primaryButton()->isVisibleTo(&view));
    QVERIFY(rig.find<QAbstractButton>(QStringLiteral("notNowButton"))->isVisibleTo(&view));
}

void TestOnboardingFit::everyStep_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("state"); // what is set before the check, see everyStep()
    QTest::addColumn<QSize>("sheet");
    const struct {
        const char* name;
        Step step;
        int state;
    } rows[] = {
        {"welcome", Step::welcome, 0},
        {"daily scroll, unanswered", Step::dailyScroll, 0},
        {"daily scroll, answered", Step::dailyScroll, 1},
        {"how it works", Step::howItWorks, 0},
        {"sites, first display", Step::sites, 0},
        {"sites, many typed and a bad one", Step::sites, 1},
        {"browser, none installed", Step::browser, 0},
        {"browser, every state", Step::browser, 1},
        {"priority, empty", Step::priority, 0},
        {"priority, long title", Step::priority, 1},
        {"other computer", Step::otherComputer, 0},
        {"done, all chosen", Step::done, 1},
        {"done, login needs approval", Step::done, 2},
    };
    // The design size, and what a screen of 800 by 600 with a panel leaves of it.
    for (const QSize sheet : {QSize(880, 600), QSize(792, 540)})
        for (const auto& row : rows)
            QTest::addRow("%s, %dx%d", row.name, sheet.width(), sheet.height()) << int(row.step) << row.state << sheet;
}

void TestOnboardingFit::everyStep()
{
    QFETCH(int, step);
    QFETCH(int, state);
    QFETCH(QSize, sheet);
    OnboardingRig rig;
    if (step == int(Step::browser) && state == 1)
        for (const char* id : {"chromium", "chrome", "vivaldi", "edge"})
            rig.workspace.installed.insert(SupportedBrowser::withId(QString::fromLatin1(id))->bundleIdentifier);
    OnboardingView& view = rig.open(step);
    view.setAnimated(false);
    layOut(view, sheet);
    switch (Step(step)) {
    case Step::dailyScroll:
        if (state == 1)
            rig.find<QAbstractButton>(QStringLiteral("hours3"))->click();
        break;
    case Step::sites:
        if (state == 1) {
            auto* field = rig.find<QLineEdit>(QStringLiteral("siteField"));
            for (const char* site :
                 {"reddit.com", "news.ycombinator.com", "a-very-long-domain-name-for-a-forum.example.org", "twitch.tv",
                  "discord.com", "pinterest.com"}) {
                QTest::keyClicks(field, QString::fromLatin1(site));
                QTest::keyClick(field, Qt::Key_Return);
            }
            QTest::keyClicks(field, QStringLiteral("not a site"));
            QTest::keyClick(field, Qt::Key_Return);
        }
        break;
    case Step::browser:
        if (state == 1) {
            rig.engine->setAccess(BrowserAccessState::of(Kind::connected), *SupportedBrowser::withId("chromium"));
            rig.engine->setAccess(BrowserAccessState::of(Kind::permissionNeeded), *SupportedBrowser::withId("chrome"));
            rig.engine->setAccess(BrowserAccessState::of(Kind::browserClosed), *SupportedBrowser::withId("vivaldi"));
            rig.engine->setAccess(BrowserAccessState::of(Kind::problem, QStringLiteral("No answer from the browser")),
                                  *SupportedBrowser::withId("edge"));
        }
        break;
    case Step::priority:
        if (state == 1)
            QTest::keyClicks(rig.find<QLineEdit>(QStringLiteral("priorityField")),
                             QStringLiteral("Write the grant report, call the printer about the proofs and book the "
                                            "train for Thursday"));
        break;
    case Step::done:
        if (state == 1) {
            view.flow().toggleSite(QStringLiteral("tiktok.com"));
            view.flow().setPriorityTitle(QStringLiteral("Write the grant report and book the train"));
            view.back();
            view.go(Step::done);
        } else if (state == 2) {
            view.launchAtLogin().setStatus(LaunchAtLoginService::Status::requiresApproval);
        }
        break;
    default:
        break;
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    layOut(view, sheet);
    // Services answer through the event loop, and each answer lays the step out again.
    QStringList cuts;
    QTRY_VERIFY2_WITH_TIMEOUT((cuts = LayoutFit::cut(&view)).isEmpty(), listed(cuts).constData(), 5000);
    // At the design size a step shows all of itself at once; only a long list of typed sites scrolls.
    if (sheet == QSize(880, 600) && !(Step(step) == Step::sites && state == 1))
        for (auto* area : view.findChildren<QScrollArea*>())
            if (area->isVisibleTo(&view))
                QCOMPARE(area->verticalScrollBar()->maximum(), 0);
}

// In the program's own fonts: what fits in another face says nothing.
int main(int argc, char** argv)
{
    Theme::prepareApplication();
    QApplication app(argc, argv);
    Theme::apply(app);
    TestOnboardingFit test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_onboarding_fit.moc"

#include "OfflineSiteIcons.h"
#include "OnboardingRig.h"
#include "Screenshots.h"
#include "browsers/ExtensionSetup.h"
#include "linux/LaunchAtLoginService.h"
#include "onboarding/OnboardingIllustrations.h"
#include "ui/Theme.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>

namespace {

using Kind = BrowserAccessState::Kind;
using Step = OnboardingFlow::Step;

const QSize sheet(880, 600);

// Opens the sheet at `step`, lets `prepare` set the flow and services, and saves it.
void shot(const QString& name, Step step, const std::function<void(OnboardingRig&)>& prepare = {},
          const QList<std::pair<const char*, BrowserAccessState>>& browsers = {})
{
    OnboardingRig rig;
    for (const auto& [id, state] : browsers)
        if (state.kind != Kind::notInstalled)
            rig.workspace.installed.insert(QString::fromLatin1(id));
    OnboardingView& view = rig.open(int(step), step == Step::install);
    view.setAnimated(false);
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.show();
    for (const auto& [id, state] : browsers)
        rig.engine->setAccess(state, *SupportedBrowser::withId(QString::fromLatin1(id)));
    if (prepare)
        prepare(rig);
    QCoreApplication::processEvents();
    Screenshots::save(&view, QStringLiteral("onboarding_") + name, sheet);
}

void type(OnboardingRig& rig, const char* field, const QString& text)
{
    auto* edit = rig.find<QLineEdit>(QString::fromLatin1(field));
    edit->setFocus();
    QTest::keyClicks(edit, text);
}

} // namespace

int main(int argc, char** argv)
{
    Theme::prepareApplication();
    QApplication app(argc, argv);
    Theme::apply(app);
    useOfflineSiteIcons();

    shot(QStringLiteral("1_install"), Step::install);
    shot(QStringLiteral("1_install_move_failed"), Step::install, [](OnboardingRig& rig) {
        rig.view->setMoveHandler([](QString* error) {
            *error = QStringLiteral("Permission denied");
            return false;
        });
        rig.view->install();
    });
    shot(QStringLiteral("1_install_for_everyone"), Step::install,
         [](OnboardingRig& rig) { rig.view->setMachineHandler([](std::function<void(const QString&, bool)>) {}); });
    shot(QStringLiteral("1_install_for_everyone_failed"), Step::install, [](OnboardingRig& rig) {
        const QString command = QStringLiteral("sudo /home/ada/Downloads/quillharbour --install-for-everyone --prefix "
                                               "/usr/local --extension /home/ada/Downloads/browser-extension");
        rig.view->setMachineHandler(
            [command](std::function<void(const QString&, bool)> done) {
                done(ExtensionSetup::machineRouteOutcome(
                         {{QStringLiteral("/usr/bin/pkexec")}, command, {}}, 127,
                         QStringLiteral("Error executing command as another user: No authentication agent found.")),
                     false);
            },
            command);
        rig.view->installForEveryone();
    });
    shot(QStringLiteral("2_welcome"), Step::welcome);
    shot(QStringLiteral("3_daily_scroll_unanswered"), Step::dailyScroll, [](OnboardingRig& rig) {
        // Reached from the welcome step, before any answer.
        rig.view->back();
        rig.view->flow() = OnboardingFlow(0, [] { return false; });
        rig.view->go(Step::dailyScroll);
    });
    shot(QStringLiteral("3_daily_scroll_one_hour"), Step::dailyScroll,
         [](OnboardingRig& rig) { rig.find<QAbstractButton>(QStringLiteral("hours1"))->click(); });
    shot(QStringLiteral("4_how_it_works"), Step::howItWorks);
    shot(QStringLiteral("5_sites_first_display"), Step::sites);
    shot(QStringLiteral("5_sites_custom_and_hint"), Step::sites, [](OnboardingRig& rig) {
        rig.view->flow().toggleSite(QStringLiteral("instagram.com"));
        rig.view->flow().usageMinutes = 60;
        rig.view->flow().breakMinutes = 30;
        for (const char* site : {"reddit.com", "news.ycombinator.com", "twitch.tv", "x.com", "pinterest.com",
                                 "a-very-long-domain-name-for-a-forum.example.org", "discord.com"}) {
            type(rig, "siteField", QString::fromLatin1(site));
            QTest::keyClick(rig.find<QLineEdit>(QStringLiteral("siteField")), Qt::Key_Return);
        }
        type(rig, "siteField", QStringLiteral("reddit"));
    });
    shot(QStringLiteral("5_sites_skipped"), Step::sites, [](OnboardingRig& rig) {
        rig.view->flow().skipSites();
        rig.view->back();
    });
    shot(QStringLiteral("6_browser_none_installed"), Step::browser);
    shot(QStringLiteral("6_browser_states"), Step::browser, {},
         {{"chromium", BrowserAccessState::of(Kind::connected)},
          {"chrome", BrowserAccessState::of(Kind::notConnected)},
          {"vivaldi", BrowserAccessState::of(Kind::browserClosed)},
          {"edge", BrowserAccessState::of(Kind::problem, QStringLiteral("No answer"))}});
    shot(QStringLiteral("6_browser_permission_refused"), Step::browser, {},
         {{"chrome", BrowserAccessState::of(Kind::permissionNeeded)},
          {"brave", BrowserAccessState::of(Kind::unsupported)}});
    shot(QStringLiteral("6_browser_all_connected"), Step::browser, {},
         {{"chrome", BrowserAccessState::of(Kind::connected)}, {"brave", BrowserAccessState::of(Kind::connected)}});
    shot(QStringLiteral("7_priority_empty"), Step::priority);
    shot(QStringLiteral("7_priority_typed"), Step::priority, [](OnboardingRig& rig) {
        type(rig, "priorityField", QStringLiteral("Finish the chapter draft and send it to Maya before lunch"));
    });
    shot(QStringLiteral("7_priority_example"), Step::priority,
         [](OnboardingRig& rig) { rig.find<QAbstractButton>(QStringLiteral("example:Go for a walk"))->click(); });
    shot(QStringLiteral("8_phone"), Step::otherComputer);
    shot(QStringLiteral("9_done"), Step::done, [](OnboardingRig& rig) {
        rig.view->flow().toggleSite(QStringLiteral("tiktok.com"));
        rig.view->flow().setPriorityTitle(QStringLiteral("Deep work"));
        rig.view->go(Step::done);
    });
    shot(QStringLiteral("9_done_no_tray"), Step::done, [](OnboardingRig& rig) {
        rig.context.hasTray = [] { return false; };
        rig.view->go(Step::done);
    });
    shot(QStringLiteral("9_done_nothing_chosen"), Step::done, [](OnboardingRig& rig) {
        rig.view->flow().skipSites();
        rig.view->go(Step::done);
    });
    shot(QStringLiteral("9_done_login_needs_approval"), Step::done, [](OnboardingRig& rig) {
        static_cast<LaunchAtLoginService&>(rig.view->launchAtLogin())
            .setStatus(LaunchAtLoginService::Status::requiresApproval);
    });

    // The drawings alone, where the sheet shows them small.
    OnboardingYearDots none(0, 6, 3), all(400, 6, 3), some(46, 6, 3);
    Screenshots::save(&none, QStringLiteral("onboarding_year_dots_0"));
    Screenshots::save(&some, QStringLiteral("onboarding_year_dots_46"));
    Screenshots::save(&all, QStringLiteral("onboarding_year_dots_all"));
    OnboardingTrayIllustration longPriority(
        QStringLiteral("Write the grant report, call the printer about the proofs and book the train for Thursday"));
    Screenshots::save(&longPriority, QStringLiteral("onboarding_menu_bar_long_priority"));
    return Screenshots::exitCode();
}

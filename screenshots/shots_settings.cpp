#include "Screenshots.h"
#include "SettingsRig.h"
#include "screens/settings/TimeMoneyCard.h"
#include "ui/FocusPage.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Kind = BrowserAccessState::Kind;

// Shows the page (which lists the installed browsers afresh), then gives each browser its state.
void showWith(SettingsRig& rig, const QList<std::pair<const char*, BrowserAccessState>>& states)
{
    for (const auto& [id, state] : states)
        if (state.kind != Kind::notInstalled)
            rig.workspace.installed.insert(QString::fromLatin1(id));
    rig.view->setAttribute(Qt::WA_DontShowOnScreen);
    rig.view->resize(1000, 800);
    rig.view->show();
    for (const auto& [id, state] : states)
        rig.engine->setAccess(state, *SupportedBrowser::withId(QString::fromLatin1(id)));
    QCoreApplication::processEvents();
}

// The whole page, as tall as its content.
void savePage(SettingsRig& rig, const QString& name)
{
    QWidget* content = rig.view->findChild<FocusPage*>()->mainContent();
    const int height = content->heightForWidth(FocusPage::mainMaxWidth);
    Screenshots::save(rig.view.get(), name, QSize(1000, (height > 0 ? height : content->sizeHint().height()) + 80));
}

} // namespace

int main(int argc, char** argv)
{
    Theme::prepareApplication();
    QApplication app(argc, argv);
    Theme::apply(app);
    const QString autostart = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart");
    {
        // Five states of the browsers, sync idle, login on.
        SettingsRig rig;
        rig.view->launchAtLogin().setEnabled(true);
        showWith(rig, {{"chromium", BrowserAccessState::of(Kind::connected)},
                       {"chrome", BrowserAccessState::of(Kind::notConnected)},
                       {"vivaldi", BrowserAccessState::of(Kind::browserClosed)},
                       {"brave", BrowserAccessState::of(Kind::permissionNeeded)},
                       {"edge", BrowserAccessState::of(Kind::unsupported)}});
        savePage(rig, QStringLiteral("settings_browsers_sync_idle_login_on"));
        rig.view->launchAtLogin().setEnabled(false);
    }
    {
        // A problem and browsers not installed, sync running, login off, a store warning.
        SettingsRig rig;
        showWith(rig, {{"chrome",
                        BrowserAccessState::of(Kind::problem, QStringLiteral("The browser did not answer in time."))},
                       {"brave", BrowserAccessState::of(Kind::connected)}});
        rig.view->connectBrowser(*SupportedBrowser::withId(QStringLiteral("chrome")));
        rig.engine->setAccess(
            BrowserAccessState::of(Kind::problem, QStringLiteral("The browser did not answer in time.")),
            *SupportedBrowser::withId(QStringLiteral("chrome")));
        rig.sync->syncNow();
        rig.store.core().setLastError(QStringLiteral("Couldn't save your notes: the disk is full."));
        QCoreApplication::processEvents();
        savePage(rig, QStringLiteral("settings_problem_syncing_login_off"));
    }
    {
        // No browser, a sync error, the login item refused.
        SettingsRig rig;
        MemoryRecordStore::Fault fault;
        fault.error.kind = RecordFailure::unreachable;
        rig.records.faultChooser = [fault](MemoryRecordStore::Operation) { return std::optional(fault); };
        rig.sync->syncNow();
        if (!QTest::qWaitFor([&rig] { return !rig.sync->isSyncing(); }, 5000))
            return 1;
        QDir().rmdir(autostart);
        QFile blocker(autostart);
        blocker.open(QIODevice::WriteOnly);
        blocker.close();
        rig.view->launchAtLogin().setEnabled(true);
        showWith(rig, {});
        savePage(rig, QStringLiteral("settings_no_browser_sync_error_login_error"));
        blocker.remove();
    }
    {
        // Chromium started without remote debugging: the launcher offered, then written.
        QTemporaryDir bin;
        QFile program(bin.filePath(QStringLiteral("chromium")));
        program.open(QIODevice::WriteOnly);
        program.write("#!/bin/sh\n");
        program.close();
        program.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.path().toLocal8Bit() + ':' + path);
        SettingsRig rig;
        showWith(rig, {{"chromium", BrowserAccessState::of(Kind::permissionNeeded)},
                       {"firefox", BrowserAccessState::of(Kind::connected)}});
        savePage(rig, QStringLiteral("settings_browser_without_debugging"));
        rig.view->createLauncher(*SupportedBrowser::withId(QStringLiteral("chromium")));
        QCoreApplication::processEvents();
        savePage(rig, QStringLiteral("settings_browser_launcher_written"));
        qputenv("PATH", path);
    }
    {
        StoreFixture f;
        TimeMoneyCard card(&f.defaults, 50, 2);
        Screenshots::save(&card, QStringLiteral("settings_time_money_card"), QSize(620, 0).expandedTo(card.sizeHint()));
        f.defaults.set(TimeMoneyModel::rateKey, 5);
        f.defaults.set(TimeMoneyModel::hoursKey, 0.5);
        card.loadStoredValues();
        Screenshots::save(&card, QStringLiteral("settings_time_money_card_minimum"),
                          QSize(620, card.sizeHint().height()));
    }
    return Screenshots::exitCode();
}

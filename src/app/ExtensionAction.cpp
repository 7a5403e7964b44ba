#include "app/ExtensionAction.h"

#include "browsers/ExtensionPageOpener.h"
#include "ui/ExtensionInstallDialog.h"

#include <QApplication>

void showExtensionAction(const SupportedBrowser& browser, BrowserAccessState::Kind kind,
                         const ExtensionSetup::Places& places, const std::function<void()>& afterwards,
                         const std::function<void()>& installedForEveryone, const ExtensionPageOpener::Ways& ways)
{
    const ExtensionSetup::Sheet sheet = ExtensionSetup::prepare(browser, kind, places);
    if (afterwards)
        afterwards();
    ExtensionInstallDialog::Content content;
    content.title = sheet.title;
    content.done = sheet.done;
    content.error = sheet.error;
    content.steps = sheet.steps;
    content.path = sheet.path;
    content.pathName = sheet.pathName;
    content.pageToOpen = sheet.pageToOpen;
    content.openTitle = sheet.openTitle;
    if (sheet.machine) {
        content.offersMachineRoute = !sheet.machine->command.isEmpty();
        content.machineRouteText = sheet.machine->instead;
    }
    ExtensionInstallDialog::Actions actions;
    actions.openPage = [browser, ways, page = sheet.pageToOpen](auto shown) {
        ExtensionPageOpener::open(browser, page, ways, [shown](const ExtensionPageOpener::Outcome& outcome) {
            shown(outcome.note, outcome.clipboard);
        });
    };
    if (sheet.machine && !sheet.machine->command.isEmpty())
        // Owned by the application: an install under way finishes even when the sheet is closed.
        actions.runMachineRoute = [route = *sheet.machine,
                                   installedForEveryone](std::function<void(const QString&, bool)> done) {
            ExtensionSetup::runMachineRoute(route, qApp, [done, installedForEveryone](const QString& said, bool ok) {
                if (ok && installedForEveryone)
                    installedForEveryone();
                done(said, ok);
            });
        };
    // A modal dialog in front is where the button was pressed (the onboarding sheet); otherwise
    // the active window (the main window's pages).
    QWidget* parent =
        QApplication::activeModalWidget() ? QApplication::activeModalWidget() : QApplication::activeWindow();
    auto* dialog = new ExtensionInstallDialog(content, std::move(actions), parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

#pragma once

#include "blocking/BrowserAutomationService.h"

#include <QString>
#include <QStringList>
#include <functional>

class QObject;

// What the browser rows' extension action does and what its sheet says: a fresh copy of the
// extension where the browser can keep loading it, the browser's link file written again, and the
// steps that are true for that browser. Without widgets, so it is tested alone.
namespace ExtensionSetup {

struct Places {
    QString executable;       // this program: the link files name it
    QString executableFolder; // where the packaged extension is looked for, and a build's own folder
    QString home;
    QString dataHome; // $XDG_DATA_HOME: the copy goes to quillharbour/browser-extension/ there
    QStringList machineIds;
};

// The administrator's route: the whole-machine install, which needs no Developer mode.
struct MachineRoute {
    QStringList command; // run as is (through pkexec); empty when it cannot be run from here
    QString instead;     // what to run by hand, when the command cannot be
};

struct Sheet {
    QString title;
    QString done; // what the action did, when that is news (a link file written again)
    QString error;
    QStringList steps;
    QString path; // what to choose in the browser, or the file written; empty: nothing
    QString pathName = QStringLiteral("Extension location"); // what that path is
    QString pageToOpen;                                      // the browser's page for the next step; empty: no button
    QString openTitle;                                       // that button's title
    std::optional<MachineRoute> machine;
};

// Does the action's work for `kind` (the row's state) and says what to show.
Sheet prepare(const SupportedBrowser& browser, BrowserAccessState::Kind kind, const Places& places);

// Where the whole-machine install can come from: a build folder (its own install), with pkexec
// to ask for the administrator's password; where neither, what to run.
MachineRoute machineRoute(const QString& executableFolder, const QString& pkexec);

// Runs the route's command; `done` gets what it printed (the files it installed, or why not)
// and whether it succeeded, on the calling thread. Output is kept to its last 16 KiB.
void runMachineRoute(const MachineRoute& route, QObject* owner, std::function<void(const QString&, bool)> done);

} // namespace ExtensionSetup

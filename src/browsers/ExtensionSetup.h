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

// The administrator's route: this program installing itself for everyone, which needs no
// Developer mode in any browser.
struct MachineRoute {
    QStringList command; // run as is (through pkexec); empty when it cannot be run from here
    QString terminal;    // the same install as a person types it (sudo …); empty when there is none
    QString instead;     // what to do by hand, when the command cannot be run from here
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

// The whole-machine install of `executable` (any copy, with its packaged extension), through
// pkexec when there is one; without pkexec, the command to type.
MachineRoute machineRoute(const QString& executable, const QString& packagedExtension, const QString& pkexec);

// What the route's end means for the person, in words: `exitCode` -1 when it could not start,
// `output` what it printed. A failure says what to type instead.
QString machineRouteOutcome(const MachineRoute& route, int exitCode, const QString& output);

// Runs the route's command; `done` gets machineRouteOutcome() of it and whether it succeeded, on
// the calling thread. Of what it prints, the last 16 KiB are read.
void runMachineRoute(const MachineRoute& route, QObject* owner, std::function<void(const QString&, bool)> done);

} // namespace ExtensionSetup

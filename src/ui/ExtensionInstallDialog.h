#pragma once

#include <QDialog>
#include <functional>

class QLabel;

// The sheet of a browser row's extension action: what was done, the steps, where the copy is
// (with a button that copies that path), the browser's page one click away, and the
// administrator's route for every profile on this computer.
class ExtensionInstallDialog : public QDialog {
    Q_OBJECT
public:
    struct Content {
        QString title;
        QString done; // what the action did, when that is news
        QString error;
        QStringList steps;
        QString path;       // what to choose in the browser, or the file written; empty: no path row
        QString pathName;   // what that path is, for the screen reader
        QString pageToOpen; // "chrome://extensions", ...; empty: no button
        QString openTitle;
        bool offersMachineRoute = false;
        QString machineRouteText; // what to run by hand, when the route cannot run from here
    };
    struct Actions {
        // Brings the person to `pageToOpen`; the callback gets what to say and what to put on
        // the clipboard (empty: nothing).
        std::function<void(std::function<void(const QString& note, const QString& clipboard)>)> openPage;
        // Runs the administrator's route; the callback gets what it printed and whether it worked.
        std::function<void(std::function<void(const QString&, bool)>)> runMachineRoute;
    };
    ExtensionInstallDialog(const Content& content, Actions actions, QWidget* parent = nullptr);

private:
    QLabel* m_note = nullptr;
};

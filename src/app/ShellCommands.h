#pragma once

#include "router/AppRouter.h"

#include <QObject>
#include <functional>

class MainWindowOpener;
class QAction;
class QMenu;
class QWidget;
class Updater;

// The program's commands and their shortcuts. They work from every window of the program, and
// from the tray menu when no window is open: each sets the router, then asks for the main window.
class ShellCommands : public QObject {
    Q_OBJECT
public:
    ShellCommands(AppRouter& router, MainWindowOpener& opener, std::function<void()> activate,
                  std::function<void()> quit, QObject* parent = nullptr);

    void navigate(AppRouter::Destination destination);
    void requestNewItem(AppRouter::NewItem item);

    // Makes the shortcuts work while `window` is active.
    void attach(QWidget* window) const;
    // Offers the update check where `updater` can make it, and says why not where it cannot.
    void useUpdater(Updater* updater);
    // The tray's menu: open, the new items, the pages, updates, quit.
    void fillTrayMenu(QMenu& menu) const;
    QList<QAction*> actions() const { return m_all; }

    QAction* open = nullptr;
    QAction* checkForUpdates = nullptr;
    QAction* newTodo = nullptr;
    QAction* newNote = nullptr;
    QAction* settings = nullptr;
    QAction* today = nullptr;
    QAction* block = nullptr;
    QAction* notes = nullptr;
    QAction* quit = nullptr;

private:
    QAction* make(const QString& title, const QKeySequence& keys, const QString& name);

    AppRouter& m_router;
    MainWindowOpener& m_opener;
    std::function<void()> m_activate;
    QList<QAction*> m_all;
};

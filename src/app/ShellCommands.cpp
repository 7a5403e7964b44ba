#include "app/ShellCommands.h"

#include "platform/Updater.h"
#include "router/MainWindowOpener.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

ShellCommands::ShellCommands(AppRouter& router, MainWindowOpener& opener, std::function<void()> activate,
                             std::function<void()> quitAction, QObject* parent)
    : QObject(parent), m_router(router), m_opener(opener), m_activate(std::move(activate))
{
    using D = AppRouter::Destination;
    open = make(QStringLiteral("Open Quillharbour"), {}, QStringLiteral("open"));
    connect(open, &QAction::triggered, this, [this] { navigate(m_router.destination()); });
    checkForUpdates = make(QStringLiteral("Check for Updates\u2026"), {}, QStringLiteral("checkForUpdates"));
    checkForUpdates->setEnabled(false);
    newTodo = make(QStringLiteral("New To-do"), QKeySequence(Qt::CTRL | Qt::Key_N), QStringLiteral("newTodo"));
    connect(newTodo, &QAction::triggered, this, [this] { requestNewItem(AppRouter::NewItem::todo); });
    newNote =
        make(QStringLiteral("New Note"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N), QStringLiteral("newNote"));
    connect(newNote, &QAction::triggered, this, [this] { requestNewItem(AppRouter::NewItem::note); });
    settings =
        make(QStringLiteral("Settings\u2026"), QKeySequence(Qt::CTRL | Qt::Key_Comma), QStringLiteral("settings"));
    connect(settings, &QAction::triggered, this, [this] { navigate(D::settings); });
    today = make(QStringLiteral("Today"), QKeySequence(Qt::CTRL | Qt::Key_1), QStringLiteral("today"));
    connect(today, &QAction::triggered, this, [this] { navigate(D::todos); });
    block = make(QStringLiteral("Block"), QKeySequence(Qt::CTRL | Qt::Key_2), QStringLiteral("block"));
    connect(block, &QAction::triggered, this, [this] { navigate(D::block); });
    notes = make(QStringLiteral("Notes"), QKeySequence(Qt::CTRL | Qt::Key_3), QStringLiteral("notes"));
    connect(notes, &QAction::triggered, this, [this] { navigate(D::notes); });
    quit = make(QStringLiteral("Quit Quillharbour"), QKeySequence(Qt::CTRL | Qt::Key_Q), QStringLiteral("quit"));
    connect(quit, &QAction::triggered, this, [quitAction] {
        if (quitAction)
            quitAction();
    });
}

QAction* ShellCommands::make(const QString& title, const QKeySequence& keys, const QString& name)
{
    auto* action = new QAction(title, this);
    action->setObjectName(name);
    action->setShortcut(keys);
    // Any window of ours that is active takes the shortcut, the popover and the quit window too.
    action->setShortcutContext(Qt::ApplicationShortcut);
    m_all.append(action);
    return action;
}

void ShellCommands::navigate(AppRouter::Destination destination)
{
    m_router.setDestination(destination);
    m_opener.request();
    if (m_activate)
        m_activate();
}

void ShellCommands::requestNewItem(AppRouter::NewItem item)
{
    navigate(item == AppRouter::NewItem::todo ? AppRouter::Destination::todos : AppRouter::Destination::notes);
    m_router.setNewItemRequest(item);
}

void ShellCommands::useUpdater(Updater* updater)
{
    if (!updater)
        return;
    checkForUpdates->setEnabled(updater->canCheckForUpdates());
    checkForUpdates->setToolTip(updater->unavailableText());
    connect(checkForUpdates, &QAction::triggered, this, [updater] { updater->checkForUpdates(); });
}

void ShellCommands::attach(QWidget* window) const
{
    for (QAction* action : m_all)
        if (!action->shortcut().isEmpty())
            window->addAction(action);
}

void ShellCommands::fillTrayMenu(QMenu& menu) const
{
    menu.addAction(open);
    menu.addSeparator();
    menu.addAction(newTodo);
    menu.addAction(newNote);
    menu.addSeparator();
    menu.addAction(today);
    menu.addAction(block);
    menu.addAction(notes);
    menu.addAction(settings);
    menu.addSeparator();
    menu.addAction(checkForUpdates);
    menu.addSeparator();
    menu.addAction(quit);
}

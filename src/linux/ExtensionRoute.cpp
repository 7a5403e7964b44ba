#include "linux/ExtensionRoute.h"

ExtensionScriptRunner::ExtensionScriptRunner(ExtensionLink* link, QObject* parent) : ScriptRunner(parent), m_link(link)
{
    if (!link)
        return;
    const auto told = [this] {
        ++m_told;
        emit browserTold();
    };
    QObject::connect(link, &ExtensionLink::reportChanged, this, told);
    QObject::connect(link, &ExtensionLink::setupChanged, this, told);
}

bool ExtensionScriptRunner::readUnchanged(const QString& browserId) const
{
    const auto it = m_readsAt.constFind(browserId);
    return m_link && it != m_readsAt.cend() && *it == m_told;
}

void ExtensionScriptRunner::run(const BrowserCommand& command, std::function<void(const BrowserScriptResult&)> done)
{
    using Op = BrowserCommand::Operation;
    // Whatever it answers (the report, or no window while there is none) stands until the link
    // tells of a change.
    if (command.reads())
        m_readsAt.insert(command.browserId, m_told);
    const std::optional<ExtensionTabReport> report =
        m_link ? m_link->report(command.browserId) : std::optional<ExtensionTabReport>();
    // A browser whose extension is gone answers like one that is not running.
    if (!report || report->tabId < 0) {
        done(BrowserScriptResult::answer(command.noWindowAnswer()));
        return;
    }
    const auto moved = [done](const QString& acted) {
        return [done, acted](bool ok) { done(BrowserScriptResult::answer(ok ? acted : QStringLiteral("changed"))); };
    };
    switch (command.operation) {
    case Op::read:
        done(BrowserScriptResult::answer(report->url));
        return;
    case Op::readFocused:
        done(BrowserScriptResult::focusedRead(report->windowFocused, report->url));
        return;
    case Op::redirect:
        m_link->redirectTab(command.browserId, report->tabId, command.expectedAddress, command.target,
                            moved(QStringLiteral("redirected")));
        return;
    case Op::close:
        m_link->closeTab(command.browserId, report->tabId, command.expectedAddress, moved(QStringLiteral("closed")));
        return;
    }
}

RoutingScriptRunner::RoutingScriptRunner(ExtensionLink* link, std::unique_ptr<ScriptRunner> extension,
                                         std::unique_ptr<ScriptRunner> fallback, QObject* parent)
    : ScriptRunner(parent), m_link(link), m_extension(std::move(extension)), m_fallback(std::move(fallback))
{
    for (ScriptRunner* runner : {m_extension.get(), m_fallback.get()})
        QObject::connect(runner, &ScriptRunner::browserTold, this, &ScriptRunner::browserTold);
    // A connection made or lost moves a browser's reads to the other route.
    if (m_link)
        QObject::connect(m_link, &ExtensionLink::setupChanged, this, &ScriptRunner::browserTold);
}

bool RoutingScriptRunner::viaExtension(const QString& browserId) const
{
    return m_link && m_link->connectedBrowsers().contains(browserId);
}

void RoutingScriptRunner::run(const BrowserCommand& command, std::function<void(const BrowserScriptResult&)> done)
{
    const bool extension = viaExtension(command.browserId);
    if (command.reads())
        m_lastReadRoute.insert(command.browserId, extension);
    (extension ? m_extension : m_fallback)->run(command, std::move(done));
}

bool RoutingScriptRunner::readUnchanged(const QString& browserId) const
{
    // Only a read that would take the same route as the last one can answer the same.
    const auto last = m_lastReadRoute.constFind(browserId);
    if (last == m_lastReadRoute.cend())
        return false;
    const bool extension = viaExtension(browserId);
    return extension == *last && (extension ? m_extension : m_fallback)->readUnchanged(browserId);
}

ExtensionWorkspace::ExtensionWorkspace(Workspace& desktop, const ExtensionLink& link) : m_desktop(desktop), m_link(link)
{
    const auto forget = [this] { m_focused.reset(); };
    QObject::connect(&m_link, &ExtensionLink::reportChanged, &m_listening, forget);
    QObject::connect(&m_link, &ExtensionLink::setupChanged, &m_listening, forget);
}

std::optional<QString> ExtensionWorkspace::focusedByReport() const
{
    if (!m_focused) {
        m_focused.emplace();
        for (const QString& id : m_link.connectedBrowsers())
            if (const std::optional<ExtensionTabReport> r = m_link.report(id); r && r->windowFocused) {
                *m_focused = id;
                break;
            }
    }
    return *m_focused;
}

std::optional<QString> ExtensionWorkspace::frontmostApplicationId() const
{
    // Where the desktop names the window in front (X11), it is right: a browser may never tell
    // that it lost the focus. Only where it cannot do the extensions' reports decide.
    if (std::optional<QString> desktop = m_desktop.frontmostApplicationId())
        return desktop;
    return focusedByReport();
}

bool ExtensionWorkspace::tellsFrontmostChanges() const
{
    return m_desktop.tellsFrontmostChanges() || focusedByReport();
}

bool ExtensionWorkspace::isInstalled(const QString& browserId) const
{
    return m_link.connectedBrowsers().contains(browserId) || m_desktop.isInstalled(browserId);
}

bool ExtensionWorkspace::isRunning(const QString& browserId) const
{
    return m_link.connectedBrowsers().contains(browserId) || m_desktop.isRunning(browserId);
}

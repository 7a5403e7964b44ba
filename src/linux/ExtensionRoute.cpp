#include "linux/ExtensionRoute.h"

namespace {

BrowserScriptResult output(const QString& text)
{
    return BrowserScriptResult{text, std::nullopt, std::nullopt};
}

} // namespace

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

bool ExtensionScriptRunner::readUnchanged(const QString& bundleIdentifier) const
{
    const auto it = m_readsAt.constFind(bundleIdentifier);
    return m_link && it != m_readsAt.cend() && *it == m_told;
}

void ExtensionScriptRunner::run(const QString& script, std::function<void(const BrowserScriptResult&)> done)
{
    const std::optional<BrowserScripts::Parsed> parsed = BrowserScripts::parse(script);
    if (!parsed) {
        done(BrowserScriptResult{std::nullopt, BrowserCommandError::unprepared,
                                 QStringLiteral("The browser command could not be prepared.")});
        return;
    }
    using Op = BrowserScripts::Parsed::Operation;
    // Whatever it answers (the report, or the fallback while there is none) stands until the
    // link tells of a change.
    if (parsed->operation == Op::read || parsed->operation == Op::readFocused)
        m_readsAt.insert(parsed->bundleIdentifier, m_told);
    const std::optional<ExtensionTabReport> report =
        m_link ? m_link->report(parsed->bundleIdentifier) : std::optional<ExtensionTabReport>();
    // A browser whose extension is gone answers like one that is not running: the guard's fallback.
    if (!report || report->tabId < 0) {
        done(output(parsed->fallback));
        return;
    }
    switch (parsed->operation) {
    case Op::read:
        done(output(report->url));
        return;
    case Op::readFocused:
        done(output((report->windowFocused ? QStringLiteral("focused\n") : QStringLiteral("background\n")) +
                    report->url));
        return;
    case Op::redirect:
        m_link->redirectTab(parsed->bundleIdentifier, report->tabId, parsed->from, parsed->to, [done](bool moved) {
            done(output(moved ? QStringLiteral("redirected") : QStringLiteral("changed")));
        });
        return;
    case Op::close:
        m_link->closeTab(parsed->bundleIdentifier, report->tabId, parsed->from, [done](bool closed) {
            done(output(closed ? QStringLiteral("closed") : QStringLiteral("changed")));
        });
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

bool RoutingScriptRunner::viaExtension(const QString& bundleIdentifier) const
{
    return m_link && m_link->connectedBrowsers().contains(bundleIdentifier);
}

void RoutingScriptRunner::run(const QString& script, std::function<void(const BrowserScriptResult&)> done)
{
    const std::optional<BrowserScripts::Parsed> parsed = BrowserScripts::parse(script);
    const bool extension = parsed && viaExtension(parsed->bundleIdentifier);
    if (parsed && (parsed->operation == BrowserScripts::Parsed::Operation::read ||
                   parsed->operation == BrowserScripts::Parsed::Operation::readFocused))
        m_lastReadRoute.insert(parsed->bundleIdentifier, extension);
    (extension ? m_extension : m_fallback)->run(script, std::move(done));
}

bool RoutingScriptRunner::readUnchanged(const QString& bundleIdentifier) const
{
    // Only a read that would take the same route as the last one can answer the same.
    const auto last = m_lastReadRoute.constFind(bundleIdentifier);
    if (last == m_lastReadRoute.cend())
        return false;
    const bool extension = viaExtension(bundleIdentifier);
    return extension == *last && (extension ? m_extension : m_fallback)->readUnchanged(bundleIdentifier);
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

std::optional<QString> ExtensionWorkspace::frontmostApplicationID() const
{
    // Where the desktop names the window in front (X11), it is right: a browser may never tell
    // that it lost the focus. Only where it cannot do the extensions' reports decide.
    if (std::optional<QString> desktop = m_desktop.frontmostApplicationID())
        return desktop;
    return focusedByReport();
}

bool ExtensionWorkspace::tellsFrontmostChanges() const
{
    return m_desktop.tellsFrontmostChanges() || focusedByReport();
}

bool ExtensionWorkspace::isInstalled(const QString& bundleIdentifier) const
{
    return m_link.connectedBrowsers().contains(bundleIdentifier) || m_desktop.isInstalled(bundleIdentifier);
}

bool ExtensionWorkspace::isRunning(const QString& bundleIdentifier) const
{
    return m_link.connectedBrowsers().contains(bundleIdentifier) || m_desktop.isRunning(bundleIdentifier);
}

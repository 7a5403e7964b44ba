#pragma once

#include "platform/ExtensionLink.h"
#include "platform/ScriptRunner.h"
#include "platform/Workspace.h"

#include <QHash>
#include <QPointer>
#include <memory>

// Answers the engine's commands from a browser's companion extension: a read is the last tab the
// extension reported (nothing crosses a process boundary), a redirect or close is the extension's
// conditional move. Only for browsers whose extension is connected.
class ExtensionScriptRunner : public ScriptRunner {
    Q_OBJECT
public:
    explicit ExtensionScriptRunner(ExtensionLink* link, QObject* parent = nullptr);
    void run(const BrowserCommand& command, std::function<void(const BrowserScriptResult&)> done) override;
    // A read is the extension's last report: the same until the link tells of a change.
    bool readUnchanged(const QString& browserId) const override;

private:
    QPointer<ExtensionLink> m_link;
    quint64 m_told = 0;                // reports and connections the link told of
    QHash<QString, quint64> m_readsAt; // by browser id: m_told at its last read
};

// Sends each browser's commands to its extension while that is connected, else to the other route.
// Both runners live on this runner's thread.
class RoutingScriptRunner : public ScriptRunner {
    Q_OBJECT
public:
    RoutingScriptRunner(ExtensionLink* link, std::unique_ptr<ScriptRunner> extension,
                        std::unique_ptr<ScriptRunner> fallback, QObject* parent = nullptr);
    void run(const BrowserCommand& command, std::function<void(const BrowserScriptResult&)> done) override;
    bool readUnchanged(const QString& browserId) const override;

private:
    bool viaExtension(const QString& browserId) const;

    QPointer<ExtensionLink> m_link;
    std::unique_ptr<ScriptRunner> m_extension;
    std::unique_ptr<ScriptRunner> m_fallback;
    QHash<QString, bool> m_lastReadRoute; // by browser id: whether its last read went to the extension
};

// The desktop as the engine sees it, with what the extensions say: where the desktop cannot name
// the window in front (Wayland), a browser whose extension reports a focused window is the one in
// front; a browser whose extension is connected is running. Everything else is the wrapped
// desktop's answer.
class ExtensionWorkspace : public Workspace {
public:
    ExtensionWorkspace(Workspace& desktop, const ExtensionLink& link);

    std::optional<QString> frontmostApplicationId() const override;
    // The desktop tells as it can; a browser in front by its extension's report leaves it by
    // another report, which the link tells its own listeners of.
    bool tellsFrontmostChanges() const override;
    void onFrontmostChange(std::function<void()> handler) override { m_desktop.onFrontmostChange(std::move(handler)); }
    QString ownApplicationId() const override { return m_desktop.ownApplicationId(); }
    bool isInstalled(const QString& browserId) const override;
    bool isRunning(const QString& browserId) const override;
    bool openURL(const QUrl& url) override { return m_desktop.openURL(url); }

private:
    Workspace& m_desktop;
    const ExtensionLink& m_link;
    // Asked on every check while the reports rarely change: which browser reports a focused
    // window (none: the desktop answers) is kept until a report or a connection changes.
    mutable std::optional<std::optional<QString>> m_focused;
    std::optional<QString> focusedByReport() const;
    QObject m_listening; // ends the connections to the link with this workspace
};

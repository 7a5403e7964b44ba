#pragma once

#include <QHash>
#include <QJsonArray>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <functional>

class BrowserDiscovery;
class DevToolsClient;

// One debugging connection per browser, shared by everything that talks to it (the tab reader
// and the navigation interceptor), so that a browser that asks the person to allow each new
// connection asks once per run. While a connection is being opened no second one is tried; one
// that waits long for the browser's answer is waiting for the person ("Allow remote debugging?")
// and is given time to be allowed. An endpoint that refused (a port file left by a browser that
// has gone) is tried again only once its port file names another one, or after a pause.
class DevToolsConnections : public QObject {
    Q_OBJECT
public:
    // Where to look for a browser's port file, most likely first.
    using ProfileFolders = std::function<QStringList(const QString& browserId)>;
    explicit DevToolsConnections(ProfileFolders folders, QObject* parent = nullptr);
    // Looks in the browsers' default profile folders under `home`, reading the port file afresh
    // on every attempt.
    explicit DevToolsConnections(const QString& home, QObject* parent = nullptr);
    // Looks where the running browsers keep their profiles, reading a port file again only after
    // the discovery reported a change.
    explicit DevToolsConnections(BrowserDiscovery* discovery, QObject* parent = nullptr);
    ~DevToolsConnections() override;

    enum class State { none, opening, awaitingConsent, open, refused };
    State state(const QString& browserId) const;
    // The open connection, or nothing; asking starts an attempt when none is under way and the
    // browser has a port file that did not just refuse.
    DevToolsClient* client(const QString& browserId);
    // The open connection, without starting an attempt.
    DevToolsClient* openClient(const QString& browserId) const;
    // The endpoint the browser's port file names now, if any.
    std::optional<QUrl> endpoint(const QString& browserId) const;
    // Forgets a refusal, for an explicit attempt.
    void retry(const QString& browserId);
    // Page sessions attached over the connection, by target id, whoever attached them.
    QString session(const QString& browserId, const QString& targetId) const;
    // The browser's targets as its own reports keep them (each as the protocol's TargetInfo),
    // once the open connection has heard of all of them; nothing before, and nothing for a
    // browser that would not report them.
    std::optional<QJsonArray> targets(const QString& browserId) const;
    int attempts(const QString& browserId) const { return m_browsers.value(browserId).attempts; }
    // Changes whenever what the calls above answer may have changed: a connection opened or
    // lost, a target or session reported, a port file that may name another endpoint.
    quint64 revision() const { return m_revision; }

    // After this long without the browser's answer the person is being asked.
    static constexpr int consentAfterMs = 1500;
    // How long the person has to answer.
    static constexpr int openTimeoutMs = 90000;
    // A refused endpoint is tried again after this long even when its port file stays.
    static constexpr int refusalPauseMs = 30000;
    // Targets kept per browser from its reports; past this many a read asks the browser.
    static constexpr qsizetype maximumTargets = 1000;
    static constexpr int discoverTimeoutMs = 5000;

signals:
    void stateChanged(const QString& browserId);
    void opened(const QString& browserId);
    void closed(const QString& browserId);
    // The browsers' port files may name other endpoints now (a browser started, quit or was
    // given a debugging port): who waits for a browser tries again.
    void endpointsChanged();
    // revision() moved on.
    void revised();

private:
    struct Browser {
        QPointer<DevToolsClient> client;
        QString endpoint;
        State state = State::none;
        QString refusedEndpoint;
        qint64 refusedAt = 0;             // monotonic ms
        QHash<QString, QString> sessions; // target id -> session id
        QList<QJsonObject> targets;       // TargetInfo, in the order the browser reported them
        bool targetsKnown = false;        // the browser has reported every target
        int attempts = 0;
        QTimer* consent = nullptr;
    };
    void setState(const QString& browserId, State state);
    void revise()
    {
        ++m_revision;
        emit revised();
    }
    void onEvent(const QString& browserId, const QString& method, const QJsonObject& params);

    ProfileFolders m_folders;
    bool m_caching = false;
    mutable QHash<QString, std::optional<QUrl>> m_endpoints; // while caching
    QHash<QString, Browser> m_browsers;
    quint64 m_revision = 0;
};

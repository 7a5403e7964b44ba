#pragma once

#include "linux/NativeMessaging.h"
#include "platform/ExtensionLink.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QLocalServer>
#include <QPointer>
#include <QTimer>

class QLocalSocket;

// The running program's end of the companion extensions: a local socket in the user's runtime
// folder that each browser's relay connects to. Every connection is one browser profile; it counts
// once its relay and its extension have said who they are, and from then on gets the blocked list
// and pushes its tab reports. Lives on the main thread.
class ExtensionBridge : public ExtensionLink {
    Q_OBJECT
public:
    // How the route stands for a browser whose extension is not talking to us now.
    using OfflineSetup = std::function<Setup(const QString& browserId)>;

    // Where the profiles without the extension are learnt, for a browser whose extension is connected.
    using ProfileCheck = std::function<QStringList(const QString& browserId)>;

    explicit ExtensionBridge(OfflineSetup offlineSetup = {}, ProfileCheck profileCheck = {}, QObject* parent = nullptr);
    ~ExtensionBridge() override;

    // Listens at `path`; false with lastError() set when it cannot (another program answers there,
    // or the folder refuses). A socket left behind by a copy that is gone is replaced.
    bool listen(const QString& path);
    QString lastError() const { return m_error; }

    Setup setup(const QString& browserId) const override;
    QStringList connectedBrowsers() const override;
    std::optional<ExtensionTabReport> report(const QString& browserId) const override;
    QStringList profilesLeftOut(const QString& browserId) const override;
    void setBlockedSites(const QList<BlockedSite>& sites) override;
    void redirectTab(const QString& browserId, qint64 tabId, const QString& ifURL, const QString& to,
                     std::function<void(bool)> done) override;
    void closeTab(const QString& browserId, qint64 tabId, const QString& ifURL,
                  std::function<void(bool)> done) override;
    void openPage(const QString& browserId, const QString& address, std::function<void(bool)> done) override;

    // The files the offline answer reads were written (at start, or by the install action):
    // every browser's setup is looked at again, and the change told.
    void recheckSetup();

    // The browser an extension's hello names, when its relay could not tell.
    static QString browserForBrand(const QString& brand);

    static constexpr int answerTimeoutMs = 3000;
    static constexpr int maximumConnections = 32;
    // A connection whose relay and extension have not both said who they are this long after it
    // came is let go (ours do at once); and when every place is taken, a newcomer gets the place
    // of one that never said hello, else of the one heard from least recently.
    static constexpr int introductionTimeoutMs = 5000;
    void setIntroductionTimeout(int ms) { m_introductionTimeoutMs = ms; }
    static constexpr int maximumPendingAnswers = 64;
    int openConnections() const { return int(m_peers.size()); }
    // Connections whose relay has said who it is.
    int relayedConnections() const;

private:
    struct Peer {
        QPointer<QLocalSocket> socket;
        NativeMessaging::FrameReader reader;
        QString relayBrowser;   // from the relay: the program that started it
        bool relayed = false;   // the relay has introduced itself
        bool saidHello = false; // the extension has said hello, from a browser known or not
        bool greeted = false;   // the extension has said hello from a browser we know
        ExtensionTabReport report;
        quint64 reportedAt = 0; // order of the last report, to pick the current profile
        quint64 heardAt = 0;    // order of its arrival or its last message, to find the idlest
    };
    struct Pending {
        QLocalSocket* socket = nullptr;
        std::function<void(bool)> done;
        QTimer* timer = nullptr;
    };
    void onNewConnection();
    void onReadable(QLocalSocket* socket);
    void onMessage(Peer& peer, const QJsonObject& message);
    void drop(QLocalSocket* socket, const QString& why);
    void send(QLocalSocket* socket, const QJsonObject& message);
    void sendBlockedSites(QLocalSocket* socket);
    void ask(const QString& browserId, QJsonObject request, std::function<void(bool)> done);
    void answer(quint64 id, bool ok);
    const Peer* current(const QString& browserId) const;
    void updateConnected();

    OfflineSetup m_offlineSetup;
    ProfileCheck m_profileCheck;
    // The offline answer looks at files and PATH: asked for on every refresh of a screen, it is
    // kept for a few seconds.
    mutable QHash<QString, std::pair<Setup, qint64>> m_offlineCache;
    QElapsedTimer m_clock;
    int m_introductionTimeoutMs = introductionTimeoutMs;
    quint64 m_heard = 0;
    QLocalSocket* idlest() const;
    static constexpr qint64 offlineCacheMs = 5000;
    QLocalServer m_server;
    QString m_error;
    QHash<QLocalSocket*, Peer> m_peers;
    QHash<quint64, Pending> m_pending;
    quint64 m_nextRequest = 1;
    quint64 m_reportCount = 0;
    QList<BlockedSite> m_sites;
    QStringList m_connected; // sorted; asked for on every check, so kept as the peers come and go
};

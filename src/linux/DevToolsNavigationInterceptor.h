#pragma once

#include "platform/NavigationInterceptor.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPointer>

class DevToolsClient;
class DevToolsConnections;

// Holds navigations in Chromium-family browsers through their remote debugging protocol: over the
// browser's one shared connection, attached to every page as it appears (a new page waits until it is
// held), with the request stage of each page's top-level documents paused for the watched
// domains and answered with a redirect, so the site never receives the request. Lives on the
// main thread, beside the engine that decides.
//
// A browser without a debugging port, one whose port file is stale, or one that refuses to attach
// is not held; the connection is tried again only once its port file names another endpoint.
class DevToolsNavigationInterceptor : public QObject, public NavigationInterceptor {
    Q_OBJECT
public:
    // `home` is where the browsers' profile folders are.
    explicit DevToolsNavigationInterceptor(QString home, QObject* parent = nullptr);
    // Over connections shared with the tab reader.
    explicit DevToolsNavigationInterceptor(DevToolsConnections* connections, QObject* parent = nullptr);
    ~DevToolsNavigationInterceptor() override;

    void setDecision(Decision decision) override { m_decide = std::move(decision); }
    void watch(const QString& browserId, const QStringList& domains) override;
    bool isIntercepting(const QString& browserId) const override;

    // The request patterns that hold a domain's documents; nothing for text that is not a host name.
    static QStringList patterns(const QString& domain);

    static constexpr int commandTimeoutMs = 2000;
    // Longer addresses are let through unread: no page of ours is built from them.
    static constexpr qsizetype maximumAddressLength = 16 * 1024;

signals:
    void interceptingChanged(const QString& browserId);

private:
    struct Browser {
        QStringList domains;
        QPointer<DevToolsClient> client;  // the shared connection, once auto-attach was asked on it
        QPointer<DevToolsClient> refused; // a connection that would not auto-attach
        bool attached = false;            // auto-attach accepted: pages are being held
        QHash<QString, QString> pages;    // session id -> target id (its main frame's id)
    };
    void connectTo(const QString& browserId);
    void holdOn(const QString& browserId, DevToolsClient* client);
    void onEvent(const QString& browserId, const QString& method, const QJsonObject& params, const QString& sessionId);
    void enableFetch(const QString& browserId, const QString& sessionId, bool thenRun);
    void answer(const QString& browserId, const QString& sessionId, const QJsonObject& params);
    void drop(const QString& browserId, bool refused);
    QJsonObject fetchParameters(const Browser& browser) const;

    QPointer<DevToolsConnections> m_shared;
    Decision m_decide;
    QHash<QString, Browser> m_browsers; // by browser id
};

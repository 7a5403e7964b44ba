#include "linux/DevToolsScriptRunner.h"

#include "linux/DevToolsClient.h"
#include "linux/LinuxBrowsers.h"

#include <QDir>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

namespace {

BrowserScriptResult output(const QString& text)
{
    return {text, std::nullopt, std::nullopt};
}

BrowserScriptResult failure(int number, const QString& message)
{
    return {std::nullopt, number, message};
}

BrowserScriptResult notAllowed()
{
    return failure(-1743, QStringLiteral("The browser was started without remote debugging, so Quillharbour cannot see "
                                         "its tabs."));
}

BrowserScriptResult gone()
{
    return failure(-600, QStringLiteral("The browser is not running."));
}

BrowserScriptResult timedOut()
{
    return failure(-1712, QStringLiteral("The browser did not respond in time."));
}

QString jsString(const QString& text)
{
    // A JSON string is a JavaScript string literal; the array form keeps QJsonDocument happy.
    const QByteArray json = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}

} // namespace

struct DevToolsScriptRunner::Job {
    BrowserScripts::Parsed script;
    QString profile;
    std::function<void(const BrowserScriptResult&)> done;
    bool finished = false;
    void finish(const BrowserScriptResult& result)
    {
        if (finished)
            return;
        finished = true;
        done(result);
    }
    QString noWindow() const
    {
        return script.operation == BrowserScripts::Parsed::Operation::read ? QString() : QStringLiteral("no-window");
    }
};

DevToolsScriptRunner::DevToolsScriptRunner(std::function<bool(const QString&)> isRunning, QString home, QObject* parent)
    : ScriptRunner(parent), m_isRunning(std::move(isRunning)),
      m_home(home.isEmpty() ? QDir::homePath() : std::move(home))
{
}

DevToolsScriptRunner::~DevToolsScriptRunner() = default;

void DevToolsScriptRunner::run(const QString& text, std::function<void(const BrowserScriptResult&)> done)
{
    const std::optional<BrowserScripts::Parsed> parsed = BrowserScripts::parse(text);
    if (!parsed) {
        done(failure(-1, QStringLiteral("The browser command could not be prepared.")));
        return;
    }
    // As the guard of the script says: a browser that is not running is never started, and the
    // script's fallback comes back.
    if (!m_isRunning(parsed->bundleIdentifier)) {
        done(output(parsed->fallback));
        return;
    }
    const LinuxBrowserIdentity* identity = LinuxBrowsers::forBundleIdentifier(parsed->bundleIdentifier);
    if (!identity || identity->profileFolder.isEmpty()) {
        done(failure(-1708, QStringLiteral("This browser cannot be reached on this system.")));
        return;
    }
    auto job = std::make_shared<Job>();
    job->script = *parsed;
    job->profile = LinuxBrowsers::profilePath(*identity, m_home);
    job->done = std::move(done);
    withClient(job, [this, job](DevToolsClient*) {
        listPages(job, [this, job](const QJsonArray& pages) {
            if (pages.isEmpty()) {
                job->finish(output(job->noWindow()));
                return;
            }
            pickCurrentPage(job, pages, 0, [this, job](const QJsonObject& page) { act(job, page); });
        });
    });
}

void DevToolsScriptRunner::withClient(const std::shared_ptr<Job>& job, std::function<void(DevToolsClient*)> next)
{
    const std::optional<QUrl> endpoint =
        DevToolsClient::browserEndpoint(QDir(job->profile).filePath(QStringLiteral("DevToolsActivePort")));
    if (!endpoint) {
        job->finish(notAllowed());
        return;
    }
    Connection& c = m_connections[job->profile];
    if (c.client && c.client->isOpen() && c.endpoint == endpoint->toString()) {
        next(c.client);
        return;
    }
    if (c.client)
        c.client->deleteLater();
    c.sessions.clear();
    auto* client = new DevToolsClient(this);
    c.client = client;
    c.endpoint = endpoint->toString();
    const QString profile = job->profile;
    QObject::connect(client, &DevToolsClient::event, this,
                     [this, profile](const QString& method, const QJsonObject& params, const QString&) {
                         if (method == QLatin1String("Target.detachedFromTarget"))
                             m_connections[profile].sessions.remove(
                                 params.value(QStringLiteral("targetId")).toString());
                     });
    client->open(*endpoint, stepTimeoutMs, [job, client, next](const QString& error) {
        if (!error.isEmpty()) {
            // The port file is left behind by a browser that has gone (or a stale one): nobody answers.
            job->finish(gone());
            return;
        }
        next(client);
    });
}

void DevToolsScriptRunner::listPages(const std::shared_ptr<Job>& job, std::function<void(const QJsonArray&)> next)
{
    // The HTTP listing orders pages by the time they were last activated, most recent first,
    // which the protocol's own target list does not.
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    const QUrl ws(m_connections.value(job->profile).endpoint);
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/json/list").arg(ws.port())));
    request.setTransferTimeout(stepTimeoutMs);
    QNetworkReply* reply = m_network->get(request);
    QObject::connect(reply, &QNetworkReply::finished, this, [job, reply, next] {
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError) {
            job->finish(reply->error() == QNetworkReply::OperationCanceledError ||
                                reply->error() == QNetworkReply::TimeoutError
                            ? timedOut()
                            : gone());
            return;
        }
        QJsonArray pages;
        for (const QJsonValue& target : QJsonDocument::fromJson(reply->read(4 * 1024 * 1024)).array())
            if (target.toObject().value(QStringLiteral("type")).toString() == QLatin1String("page"))
                pages.append(target);
        next(pages);
    });
}

void DevToolsScriptRunner::session(const std::shared_ptr<Job>& job, const QString& targetId,
                                   std::function<void(const QString&)> next, std::function<void(bool timedOut)> fail)
{
    Connection& c = m_connections[job->profile];
    if (const auto it = c.sessions.constFind(targetId); it != c.sessions.cend()) {
        next(*it);
        return;
    }
    const QString profile = job->profile;
    c.client->send(QStringLiteral("Target.attachToTarget"),
                   {{QStringLiteral("targetId"), targetId}, {QStringLiteral("flatten"), true}}, stepTimeoutMs,
                   [this, profile, targetId, next, fail](const QJsonObject& result, const QString& error) {
                       const QString id = result.value(QStringLiteral("sessionId")).toString();
                       if (!error.isEmpty() || id.isEmpty()) {
                           fail(error.contains(QLatin1String("in time")));
                           return;
                       }
                       m_connections[profile].sessions.insert(targetId, id);
                       next(id);
                   });
}

void DevToolsScriptRunner::pickCurrentPage(const std::shared_ptr<Job>& job, const QJsonArray& pages, int index,
                                           std::function<void(const QJsonObject&)> next)
{
    // The focused page wins; with none focused (the address bar has focus, or the browser is in
    // the background) the most recently activated page is the active tab of the front window.
    constexpr int candidates = 3;
    if (pages.size() == 1 || index >= std::min<int>(candidates, static_cast<int>(pages.size()))) {
        next(pages.first().toObject());
        return;
    }
    const QJsonObject page = pages.at(index).toObject();
    const auto skip = [this, job, pages, index, next](bool) { pickCurrentPage(job, pages, index + 1, next); };
    session(
        job, page.value(QStringLiteral("id")).toString(),
        [this, job, pages, index, page, next](const QString& id) {
            m_connections[job->profile].client->send(
                QStringLiteral("Runtime.evaluate"),
                {{QStringLiteral("expression"), QStringLiteral("document.hasFocus()")},
                 {QStringLiteral("returnByValue"), true}},
                stepTimeoutMs / 3,
                [this, job, pages, index, page, next](const QJsonObject& result, const QString&) {
                    // A page that cannot answer (an open alert) is simply not the focused one.
                    if (result.value(QStringLiteral("result")).toObject().value(QStringLiteral("value")).toBool())
                        next(page);
                    else
                        pickCurrentPage(job, pages, index + 1, next);
                },
                id);
        },
        skip);
}

void DevToolsScriptRunner::act(const std::shared_ptr<Job>& job, const QJsonObject& page)
{
    using Op = BrowserScripts::Parsed::Operation;
    const QString address = page.value(QStringLiteral("url")).toString();
    const QString targetId = page.value(QStringLiteral("id")).toString();
    if (job->script.operation == Op::read) {
        job->finish(output(address));
        return;
    }
    const bool redirect = job->script.operation == Op::redirect;
    const QString done = redirect ? QStringLiteral("redirected") : QStringLiteral("closed");
    // Compared and acted on inside the page in one step, so a navigation in between cannot slip
    // through. An error page reports its own internal address; then the address the browser
    // was asked to load (what the read returned) decides.
    const QString expression =
        QStringLiteral("(function (from, to) {"
                       " if (location.href === from) { if (to !== null) location.replace(to); return 'match'; }"
                       " if (location.protocol === 'chrome-error:') return 'error-page';"
                       " return 'changed'; })(") +
        jsString(job->script.from) + QStringLiteral(", ") +
        (redirect ? jsString(job->script.to) : QStringLiteral("null")) + QStringLiteral(")");
    // A tab that went away, or a session the browser dropped, changed under us: nothing is done
    // now and the next check reads afresh.
    const auto vanished = [this, job, targetId](bool timeout) {
        m_connections[job->profile].sessions.remove(targetId);
        job->finish(timeout ? timedOut() : output(QStringLiteral("changed")));
    };
    session(
        job, targetId,
        [this, job, targetId, expression, redirect, done, vanished](const QString& id) {
            DevToolsClient* client = m_connections[job->profile].client;
            client->send(
                QStringLiteral("Runtime.evaluate"),
                {{QStringLiteral("expression"), expression}, {QStringLiteral("returnByValue"), true}},
                pageAnswerTimeoutMs,
                [this, job, targetId, redirect, done, id, client, vanished](const QJsonObject& result,
                                                                            const QString& error) {
                    const QString verdict =
                        result.value(QStringLiteral("result")).toObject().value(QStringLiteral("value")).toString();
                    if (error.isEmpty() && verdict == QLatin1String("changed")) {
                        job->finish(output(QStringLiteral("changed")));
                        return;
                    }
                    if (error.isEmpty() && verdict == QLatin1String("match")) {
                        if (redirect) {
                            job->finish(output(done));
                            return;
                        }
                        closeTarget(job, targetId, done);
                        return;
                    }
                    if (!error.isEmpty() && !error.contains(QLatin1String("in time"))) {
                        vanished(false);
                        return;
                    }
                    // The page cannot answer: an error page has no address of its own, a page whose
                    // next document is still on its way has none yet, an open alert blocks it. Then
                    // the address the browser shows for the tab decides, checked afresh.
                    listPages(job, [this, job, targetId, redirect, done, id, client](const QJsonArray& pages) {
                        QString current;
                        for (const QJsonValue& p : pages)
                            if (p.toObject().value(QStringLiteral("id")).toString() == targetId)
                                current = p.toObject().value(QStringLiteral("url")).toString();
                        if (current.isEmpty()) {
                            job->finish(output(job->noWindow()));
                            return;
                        }
                        if (current != job->script.from) {
                            job->finish(output(QStringLiteral("changed")));
                            return;
                        }
                        if (!redirect) {
                            closeTarget(job, targetId, done);
                            return;
                        }
                        client->send(
                            QStringLiteral("Page.navigate"), {{QStringLiteral("url"), job->script.to}}, stepTimeoutMs,
                            [job, done](const QJsonObject&, const QString& e) {
                                job->finish(e.isEmpty() ? output(done) : timedOut());
                            },
                            id);
                    });
                },
                id);
        },
        vanished);
}

void DevToolsScriptRunner::closeTarget(const std::shared_ptr<Job>& job, const QString& targetId, const QString& done)
{
    m_connections[job->profile].client->send(
        QStringLiteral("Target.closeTarget"), {{QStringLiteral("targetId"), targetId}}, stepTimeoutMs,
        [job, done](const QJsonObject&, const QString& e) { job->finish(e.isEmpty() ? output(done) : timedOut()); });
}

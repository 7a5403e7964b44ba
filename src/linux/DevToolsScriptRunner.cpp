#include "linux/DevToolsScriptRunner.h"

#include "linux/DevToolsClient.h"
#include "linux/DevToolsConnections.h"
#include "linux/LinuxBrowsers.h"

#include <QDir>
#include <QJsonDocument>
#include <QTimer>
#include <algorithm>

namespace {

using Result = BrowserScriptResult;

BrowserScriptResult notAllowed()
{
    return Result::failure(
        BrowserCommandError::notPermitted,
        QStringLiteral("The browser was started without remote debugging, so Quillharbour cannot see "
                       "its tabs."));
}

BrowserScriptResult gone()
{
    return Result::failure(BrowserCommandError::browserNotRunning, QStringLiteral("The browser is not running."));
}

BrowserScriptResult awaitingConsent()
{
    return Result::failure(BrowserCommandError::awaitingConsent,
                           QStringLiteral("The browser is asking whether to allow Quillharbour to connect."));
}

BrowserScriptResult timedOut()
{
    return Result::failure(BrowserCommandError::timedOut, QStringLiteral("The browser did not respond in time."));
}

QString jsString(const QString& text)
{
    // A JSON string is a JavaScript string literal; the array form keeps QJsonDocument happy.
    const QByteArray json = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(json.mid(1, json.size() - 2));
}

} // namespace

struct DevToolsScriptRunner::Job {
    enum class Step { connect, list, focus, checkInPage, recheck, navigate, close };
    Step step = Step::connect;
    BrowserCommand command;
    QString browserId;
    QPointer<DevToolsClient> client;
    QJsonArray pages;     // the browser's listing, most recently activated first
    QString targetId;     // the current tab, once found
    QString address;      // what the browser lists for it
    QString sessionId;    // attached to the current tab, for navigating it
    bool focused = false; // the current tab's window has the keyboard focus
    bool askedLastFocused = false;
    std::function<void(const BrowserScriptResult&)> done;
    bool finished = false;

    void finish(const BrowserScriptResult& result)
    {
        if (finished)
            return;
        finished = true;
        done(result);
    }
    bool reads() const { return command.reads(); }
    bool focusedOnly() const { return command.operation == BrowserCommand::Operation::readFocused; }
    QString noWindow() const { return command.noWindowAnswer(); }
    bool redirects() const { return command.operation == BrowserCommand::Operation::redirect; }
    QString acted() const { return redirects() ? QStringLiteral("redirected") : QStringLiteral("closed"); }
};

DevToolsScriptRunner::DevToolsScriptRunner(std::function<bool(const QString&)> isRunning, QString home, QObject* parent)
    : ScriptRunner(parent), m_isRunning(std::move(isRunning)), m_shared(new DevToolsConnections(home, this))
{
    QObject::connect(m_shared, &DevToolsConnections::revised, this, &ScriptRunner::browserTold);
}

DevToolsScriptRunner::DevToolsScriptRunner(std::function<bool(const QString&)> isRunning,
                                           DevToolsConnections* connections, QObject* parent)
    : ScriptRunner(parent), m_isRunning(std::move(isRunning)), m_shared(connections)
{
    if (m_shared)
        QObject::connect(m_shared, &DevToolsConnections::revised, this, &ScriptRunner::browserTold);
}

DevToolsScriptRunner::~DevToolsScriptRunner() = default;

void DevToolsScriptRunner::run(const BrowserCommand& command, std::function<void(const BrowserScriptResult&)> done)
{
    // A browser that is not running is never started: it answers as one with no window.
    if (!m_isRunning(command.browserId)) {
        done(Result::answer(command.noWindowAnswer()));
        return;
    }
    const LinuxBrowserIdentity* identity = LinuxBrowsers::forId(command.browserId);
    if (!identity || identity->profileFolder.isEmpty()) {
        done(Result::failure(BrowserCommandError::unsupported,
                             QStringLiteral("This browser cannot be reached on this system.")));
        return;
    }
    if (!m_shared) {
        done(gone());
        return;
    }
    auto job = std::make_shared<Job>();
    job->command = command;
    job->browserId = command.browserId;
    job->done = std::move(done);
    // Either kind of read: the one the engine makes next is of the kind it made last.
    const bool aRead = job->reads();
    if (aRead)
        m_readsAt.remove(job->browserId);
    // A read that ends before this returns asked the browser nothing: the next one finds the
    // same reports, and so the same answer, until the browser tells of a change.
    const auto answered = std::make_shared<std::optional<bool>>();
    if (aRead)
        job->done = [done = std::move(job->done), answered](const BrowserScriptResult& result) {
            *answered = !result.failed();
            done(result);
        };
    advance(job);
    if (aRead && answered->value_or(false) && job->client)
        m_readsAt.insert(job->browserId, told());
}

DevToolsScriptRunner::Told DevToolsScriptRunner::told() const
{
    return {m_shared ? m_shared->revision() : 0, m_changes};
}

bool DevToolsScriptRunner::readUnchanged(const QString& browserId) const
{
    const auto it = m_readsAt.constFind(browserId);
    return m_shared && it != m_readsAt.cend() && *it == told();
}

void DevToolsScriptRunner::advance(const JobPtr& job)
{
    if (job->finished)
        return;
    using Step = Job::Step;
    if (job->step != Step::connect && !clientOf(job)) {
        // The connection went away between two steps: the browser has gone.
        job->finish(gone());
        return;
    }
    switch (job->step) {
    case Step::connect:
        connectStep(job);
        return;
    case Step::list:
        listStep(job);
        return;
    case Step::focus:
        focusStep(job);
        return;
    case Step::checkInPage:
        checkInPageStep(job);
        return;
    case Step::recheck:
        recheckStep(job);
        return;
    case Step::navigate:
        navigateStep(job);
        return;
    case Step::close:
        closeStep(job);
        return;
    }
}

DevToolsClient* DevToolsScriptRunner::clientOf(const JobPtr& job)
{
    DevToolsClient* client = job->client.data();
    return client && m_shared && m_shared->openClient(job->browserId) == client ? client : nullptr;
}

DevToolsScriptRunner::Connection& DevToolsScriptRunner::connectionOf(const JobPtr& job)
{
    Connection& c = m_connections[job->browserId];
    if (c.client != job->client) {
        // Another connection: what this runner attached to the last one is gone with it.
        noteChange();
        c.client = job->client;
        c.sessions.clear();
        c.lastFocused.clear();
        c.watches.clear();
        if (job->client)
            QObject::connect(job->client, &DevToolsClient::protocolEvent, this,
                             [this, browserId = job->browserId](const QString& method, const QJsonObject& params,
                                                                const QString& session) {
                                 onEvent(browserId, method, params, session);
                             });
    }
    return c;
}

namespace {

// The name of the world the pages tell of their focus from, and of the function they call; the
// page's own scripts reach neither, so a page cannot claim to be in the background.
const QString watchWorld = QStringLiteral("quillharbour-focus");
const QString watchBinding = QStringLiteral("quillharbourFocus");

// Runs in that world at the start of every top-level document (and once in the one shown when
// the watch begins). Only the browser's own events count: a page can dispatch look-alikes.
QString watchSource()
{
    return QStringLiteral("(() => {"
                          " if (window !== window.top) return;"
                          " const report = globalThis.%1;"
                          " if (typeof report !== 'function') return;"
                          " const tell = () => report(document.hasFocus() ? '2'"
                          "   : document.visibilityState === 'visible' ? '1' : '0');"
                          " const changed = e => { if (e.isTrusted) { tell(); setTimeout(tell, 0); } };"
                          " window.addEventListener('focus', changed);"
                          " window.addEventListener('blur', changed);"
                          " window.addEventListener('pageshow', changed);"
                          " document.addEventListener('visibilitychange', changed);"
                          " window.addEventListener('pagehide', e => { if (e.isTrusted) report('gone'); });"
                          " tell();"
                          "})()")
        .arg(watchBinding);
}

} // namespace

void DevToolsScriptRunner::onEvent(const QString& browserId, const QString& method, const QJsonObject& params,
                                   const QString& session)
{
    const auto it = m_connections.find(browserId);
    if (it == m_connections.end() || session.isEmpty())
        return;
    if (method == QLatin1String("Runtime.bindingCalled")) {
        if (params.value(QStringLiteral("name")).toString() != watchBinding)
            return;
        const QString payload = params.value(QStringLiteral("payload")).toString();
        static const QStringList states{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")};
        const int state = int(states.indexOf(payload)); // anything else (a page going away): unknown
        for (Connection::Watch& w : it->watches)
            if (w.session == session && w.state != state) {
                w.state = state;
                noteChange();
            }
    } else if (method == QLatin1String("Target.detachedFromTarget")) {
        if (it->watches.removeIf([&session](const auto& w) { return w.value().session == session; }) > 0)
            noteChange();
    }
}

void DevToolsScriptRunner::watch(const JobPtr& job, const QString& targetId, const QString& session)
{
    Connection& c = connectionOf(job);
    if (c.watches.contains(targetId) || !job->client)
        return;
    c.watches.insert(targetId, {session, -1});
    noteChange();
    // Sent together: the browser carries out a session's commands in order. Until the page's first
    // word arrives, checks ask it as before.
    const auto ignore = [](const QJsonObject&, const DevToolsClient::Error&) {};
    QPointer<DevToolsScriptRunner> self(this);
    const QPointer<DevToolsClient> client = job->client;
    const QString browserId = job->browserId;
    const auto drop = [self, browserId, targetId, session] {
        if (!self)
            return;
        const auto it = self->m_connections.find(browserId);
        if (it != self->m_connections.end() && it->watches.value(targetId).session == session) {
            it->watches.remove(targetId);
            self->noteChange();
        }
    };
    // The binding reaches the worlds of new documents only while the session reports contexts,
    // and the script runs in them only while it follows the page.
    client->send(QStringLiteral("Runtime.enable"), {}, stepTimeoutMs, ignore, session);
    client->send(QStringLiteral("Page.enable"), {}, stepTimeoutMs, ignore, session);
    client->send(QStringLiteral("Runtime.addBinding"),
                 {{QStringLiteral("name"), watchBinding}, {QStringLiteral("executionContextName"), watchWorld}},
                 stepTimeoutMs, ignore, session);
    client->send(QStringLiteral("Page.addScriptToEvaluateOnNewDocument"),
                 {{QStringLiteral("source"), watchSource()}, {QStringLiteral("worldName"), watchWorld}}, stepTimeoutMs,
                 ignore, session);
    client->send(
        QStringLiteral("Page.createIsolatedWorld"),
        {{QStringLiteral("frameId"), targetId}, {QStringLiteral("worldName"), watchWorld}}, stepTimeoutMs,
        [client, session, drop](const QJsonObject& result, const DevToolsClient::Error& error) {
            const QJsonValue context = result.value(QStringLiteral("executionContextId"));
            if (!error.isEmpty() || !context.isDouble() || !client) {
                // Not watched (a page of the browser's own, say): it is asked at every check.
                drop();
                return;
            }
            client->send(
                QStringLiteral("Runtime.evaluate"),
                {{QStringLiteral("expression"), watchSource()}, {QStringLiteral("contextId"), context}}, stepTimeoutMs,
                [drop](const QJsonObject&, const DevToolsClient::Error& e) {
                    if (!e.isEmpty())
                        drop();
                },
                session);
        },
        session);
}

void DevToolsScriptRunner::connectStep(const JobPtr& job)
{
    using State = DevToolsConnections::State;
    const auto proceed = [this, job](DevToolsClient* client) {
        job->client = client;
        connectionOf(job);
        job->step = Job::Step::list;
        advance(job);
    };
    if (DevToolsClient* client = m_shared->client(job->browserId)) {
        proceed(client);
        return;
    }
    const auto settle = [job](State state) {
        switch (state) {
        case State::none:
            job->finish(notAllowed());
            return true;
        case State::refused:
            // The port file is left behind by a browser that has gone (or a stale one): nobody answers.
            job->finish(gone());
            return true;
        case State::awaitingConsent:
            job->finish(awaitingConsent());
            return true;
        case State::opening:
        case State::open:
            return false;
        }
        return false;
    };
    if (settle(m_shared->state(job->browserId)))
        return;
    // Being opened: a browser that answers at once is used by this very script; one that keeps
    // the person deciding answers "waiting" and is used by a later one.
    auto* waiting = new QObject(this);
    const auto end = [waiting] { waiting->deleteLater(); };
    QObject::connect(m_shared, &DevToolsConnections::stateChanged, waiting,
                     [this, job, settle, proceed, end](const QString& browserId) {
                         if (browserId != job->browserId || job->finished)
                             return;
                         const State state = m_shared->state(browserId);
                         if (state == State::open) {
                             end();
                             proceed(m_shared->openClient(browserId));
                         } else if (settle(state)) {
                             end();
                         }
                     });
    QTimer::singleShot(DevToolsConnections::consentAfterMs + stepTimeoutMs, waiting, [job, end] {
        end();
        job->finish(awaitingConsent());
    });
}

namespace {

// The tabs among the browser's targets. The protocol's list is not ordered by use, so the tab
// last seen with the focus goes first.
QJsonArray pagesOf(const QJsonArray& targets, const QString& lastFocused)
{
    QJsonArray pages;
    // A docked or separate developer-tools window is listed as a page too, and may have the
    // focus; it is never the tab in use. Nor is a page being prepared out of sight.
    for (const QJsonValue& value : targets) {
        const QJsonObject target = value.toObject();
        const QString url = target.value(QStringLiteral("url")).toString();
        if (target.value(QStringLiteral("type")).toString() != QLatin1String("page") ||
            url.startsWith(QLatin1String("devtools://")) ||
            !target.value(QStringLiteral("subtype")).toString().isEmpty())
            continue;
        const QJsonObject page{{QStringLiteral("id"), target.value(QStringLiteral("targetId"))},
                               {QStringLiteral("url"), url}};
        if (page.value(QStringLiteral("id")).toString() == lastFocused)
            pages.prepend(page);
        else
            pages.append(page);
    }
    return pages;
}

} // namespace

void DevToolsScriptRunner::listPages(const JobPtr& job, std::function<void(const QJsonArray&)> next, bool afresh)
{
    const QString lastFocused = connectionOf(job).lastFocused;
    // The targets the browser keeps telling of serve a read without a round trip; a check of
    // what a tab shows right now asks.
    if (!afresh && m_shared)
        if (const std::optional<QJsonArray> known = m_shared->targets(job->browserId)) {
            next(pagesOf(*known, lastFocused));
            return;
        }
    // Over the open connection: an HTTP listing per check would cost a request of its own.
    job->client->send(QStringLiteral("Target.getTargets"), {}, stepTimeoutMs,
                      [job, next, lastFocused](const QJsonObject& result, const DevToolsClient::Error& error) {
                          if (!error.isEmpty()) {
                              job->finish(error.kind == DevToolsClient::Error::Kind::timedOut ? timedOut() : gone());
                              return;
                          }
                          next(pagesOf(result.value(QStringLiteral("targetInfos")).toArray(), lastFocused));
                      });
}

void DevToolsScriptRunner::withSession(const JobPtr& job, const QString& targetId,
                                       std::function<void(const QString&)> next,
                                       std::function<void(const DevToolsClient::Error&)> fail)
{
    // A session someone else attached over the shared connection serves as well as our own.
    if (const QString shared = m_shared ? m_shared->session(job->browserId, targetId) : QString(); !shared.isEmpty()) {
        next(shared);
        return;
    }
    Connection& c = connectionOf(job);
    if (const auto it = c.sessions.constFind(targetId); it != c.sessions.cend()) {
        next(*it);
        return;
    }
    QPointer<DevToolsScriptRunner> self(this);
    const JobPtr owner = job;
    job->client->send(QStringLiteral("Target.attachToTarget"),
                      {{QStringLiteral("targetId"), targetId}, {QStringLiteral("flatten"), true}}, stepTimeoutMs,
                      [self, owner, targetId, next, fail](const QJsonObject& result, const DevToolsClient::Error& e) {
                          if (!self)
                              return;
                          const QString id = result.value(QStringLiteral("sessionId")).toString();
                          if (!e.isEmpty() || id.isEmpty()) {
                              fail(e.isEmpty() ? DevToolsClient::Error{DevToolsClient::Error::Kind::refused,
                                                                       QStringLiteral("No session.")}
                                               : e);
                              return;
                          }
                          self->connectionOf(owner).sessions.insert(targetId, id);
                          self->noteChange();
                          next(id);
                      });
}

bool DevToolsScriptRunner::askLastFocused(const JobPtr& job)
{
    // Where the desktop cannot say which window is in front, this question comes every check; the
    // tab that had the focus last time most often still has it, and asked alone it gives its
    // address in one round trip where a listing first takes two. Any other answer goes the long way.
    job->askedLastFocused = true;
    const Connection& c = connectionOf(job);
    if (c.lastFocused.isEmpty())
        return false;
    QString session = m_shared ? m_shared->session(job->browserId, c.lastFocused) : QString();
    if (session.isEmpty())
        session = c.sessions.value(c.lastFocused);
    if (session.isEmpty())
        return false;
    QPointer<DevToolsScriptRunner> self(this);
    const QString target = c.lastFocused;
    job->client->send(
        QStringLiteral("Runtime.evaluate"),
        {{QStringLiteral("expression"), QStringLiteral("document.hasFocus() ? location.href : ''")},
         {QStringLiteral("returnByValue"), true}},
        focusAnswerTimeoutMs,
        [self, job, target](const QJsonObject& result, const DevToolsClient::Error& error) {
            if (!self || job->finished)
                return;
            const QString address =
                result.value(QStringLiteral("result")).toObject().value(QStringLiteral("value")).toString();
            // An error page's own address is not the one the tab tried: the listing has that.
            if (error.isEmpty() && !address.isEmpty() && !address.startsWith(QLatin1String("chrome-error:"))) {
                job->targetId = target;
                job->address = address;
                job->focused = true;
                job->step = Job::Step::checkInPage;
            } else if (self->clientOf(job) && self->connectionOf(job).lastFocused == target) {
                // The focus has left it: until a tab has it again, each check goes the long way
                // at once instead of asking this one first.
                self->connectionOf(job).lastFocused.clear();
                self->noteChange();
            }
            self->advance(job);
        },
        session);
    return true;
}

bool DevToolsScriptRunner::everyPageTold(const JobPtr& job)
{
    const std::optional<QJsonArray> known = m_shared ? m_shared->targets(job->browserId) : std::nullopt;
    if (!known)
        return false;
    const Connection& c = connectionOf(job);
    const QJsonArray pages = pagesOf(*known, c.lastFocused);
    return !pages.isEmpty() && std::all_of(pages.begin(), pages.end(), [&c](const QJsonValue& page) {
        return c.watches.value(page.toObject().value(QStringLiteral("id")).toString()).state >= 0;
    });
}

void DevToolsScriptRunner::listStep(const JobPtr& job)
{
    if (job->focusedOnly() && !job->askedLastFocused && !everyPageTold(job) && askLastFocused(job))
        return;
    QPointer<DevToolsScriptRunner> self(this);
    listPages(job, [self, job](const QJsonArray& pages) {
        if (!self)
            return;
        if (pages.isEmpty()) {
            job->finish(Result::answer(job->noWindow()));
            return;
        }
        job->pages = pages;
        job->step = Job::Step::focus;
        self->advance(job);
    });
}

void DevToolsScriptRunner::focusStep(const JobPtr& job)
{
    // Every page is asked at once whether it has the focus and whether it is shown: only the
    // active tab of the focused window has it, wherever that tab stands in the listing. With none
    // focused (the address bar has the focus, or the browser is in the background) the tab last
    // seen with the focus wins while it is shown, else the first shown one; a page that cannot
    // answer (an open alert) is neither.
    const auto choose = [job](qsizetype index) {
        const QJsonObject page = job->pages.at(index).toObject();
        job->targetId = page.value(QStringLiteral("id")).toString();
        job->address = page.value(QStringLiteral("url")).toString();
    };
    if (job->pages.size() == 1 && !job->focusedOnly()) {
        choose(0);
        job->step = Job::Step::checkInPage;
        advance(job);
        return;
    }
    struct Probe {
        std::vector<int> answers; // -1 pending, 0 hidden or silent, 1 shown, 2 focused
        QString focusedAddress;   // what the focused page says it shows
        qsizetype pending = 0;
        bool decided = false;
    };
    auto probe = std::make_shared<Probe>();
    probe->answers.assign(size_t(job->pages.size()), -1);
    probe->pending = job->pages.size();
    QPointer<DevToolsScriptRunner> self(this);
    const auto decide = [self, job, probe, choose] {
        if (!self || probe->decided)
            return;
        const auto focused = std::find(probe->answers.cbegin(), probe->answers.cend(), 2);
        if (focused == probe->answers.cend() && probe->pending > 0)
            return;
        probe->decided = true;
        qsizetype index = focused - probe->answers.cbegin();
        if (focused == probe->answers.cend()) {
            const auto shown = std::find(probe->answers.cbegin(), probe->answers.cend(), 1);
            index = shown == probe->answers.cend() ? 0 : shown - probe->answers.cbegin();
        }
        choose(index);
        // The browser's reports may trail a navigation by a moment; the page knows. An error
        // page's own address is not the one the tab tried: the reports have that.
        if (focused != probe->answers.cend() && !probe->focusedAddress.isEmpty() &&
            !probe->focusedAddress.startsWith(QLatin1String("chrome-error:")))
            job->address = probe->focusedAddress;
        if (focused != probe->answers.cend() && self->connectionOf(job).lastFocused != job->targetId) {
            self->connectionOf(job).lastFocused = job->targetId;
            self->noteChange();
        }
        job->focused = focused != probe->answers.cend();
        job->step = Job::Step::checkInPage;
        self->advance(job);
    };
    const auto answer = [probe, decide](qsizetype index, int value, const QString& address = QString()) {
        if (probe->answers[size_t(index)] != -1)
            return;
        probe->answers[size_t(index)] = value;
        if (value == 2)
            probe->focusedAddress = address;
        --probe->pending;
        decide();
    };
    // A page that tells of its focus itself is not asked.
    QList<qsizetype> ask;
    for (qsizetype i = 0; i < job->pages.size(); ++i) {
        const QString targetId = job->pages.at(i).toObject().value(QStringLiteral("id")).toString();
        if (const int told = connectionOf(job).watches.value(targetId).state; told >= 0)
            probe->answers[size_t(i)] = told, --probe->pending;
        else
            ask.append(i);
    }
    if (ask.isEmpty() || std::find(probe->answers.cbegin(), probe->answers.cend(), 2) != probe->answers.cend()) {
        decide();
        return;
    }
    for (const qsizetype i : ask) {
        const QString targetId = job->pages.at(i).toObject().value(QStringLiteral("id")).toString();
        withSession(
            job, targetId,
            [self, job, i, answer, targetId](const QString& session) {
                if (!self || !self->clientOf(job)) {
                    answer(i, 0);
                    return;
                }
                job->client->send(
                    QStringLiteral("Runtime.evaluate"),
                    {{QStringLiteral("expression"),
                      QStringLiteral("document.hasFocus() ? [2, location.href]"
                                     " : [document.visibilityState === 'visible' ? 1 : 0, '']")},
                     {QStringLiteral("returnByValue"), true}},
                    focusAnswerTimeoutMs,
                    [i, answer](const QJsonObject& result, const DevToolsClient::Error&) {
                        const QJsonArray value =
                            result.value(QStringLiteral("result")).toObject().value(QStringLiteral("value")).toArray();
                        answer(i, value.at(0).toInt(0), value.at(1).toString());
                    },
                    session);
                // From now on the page tells, and later checks need not ask.
                self->watch(job, targetId, session);
            },
            [i, answer](const DevToolsClient::Error&) { answer(i, 0); });
    }
}

void DevToolsScriptRunner::checkInPageStep(const JobPtr& job)
{
    if (job->focusedOnly()) {
        job->finish(Result::focusedRead(job->focused, job->address));
        return;
    }
    if (job->reads()) {
        job->finish(Result::answer(job->address));
        return;
    }
    // Compared and acted on inside the page in one step, so a navigation in between cannot slip
    // through. An error page reports its own internal address; then the address the browser
    // was asked to load (what the read returned) decides.
    const QString expression =
        QStringLiteral("(function (from, to) {"
                       " if (location.href === from) { if (to !== null) location.assign(to); return 'match'; }"
                       " if (location.protocol === 'chrome-error:') return 'error-page';"
                       " return 'changed'; })(") +
        jsString(job->command.expectedAddress) + QStringLiteral(", ") +
        (job->redirects() ? jsString(job->command.target) : QStringLiteral("null")) + QStringLiteral(")");
    QPointer<DevToolsScriptRunner> self(this);
    // A tab that went away, or a session the browser dropped, changed under us: nothing is done
    // now and the next check reads afresh.
    const auto vanished = [self, job](const DevToolsClient::Error& error) {
        if (!self)
            return;
        self->connectionOf(job).sessions.remove(job->targetId);
        self->noteChange();
        job->finish(error.kind == DevToolsClient::Error::Kind::timedOut ? timedOut()
                                                                        : Result::answer(QStringLiteral("changed")));
    };
    withSession(
        job, job->targetId,
        [self, job, expression, vanished](const QString& session) {
            if (!self || !self->clientOf(job)) {
                job->finish(gone());
                return;
            }
            job->sessionId = session;
            job->client->send(
                QStringLiteral("Runtime.evaluate"),
                {{QStringLiteral("expression"), expression}, {QStringLiteral("returnByValue"), true}},
                pageAnswerTimeoutMs,
                [self, job, vanished](const QJsonObject& result, const DevToolsClient::Error& error) {
                    if (!self)
                        return;
                    const QString verdict =
                        result.value(QStringLiteral("result")).toObject().value(QStringLiteral("value")).toString();
                    if (error.isEmpty() && verdict == QLatin1String("changed")) {
                        job->finish(Result::answer(QStringLiteral("changed")));
                        return;
                    }
                    if (error.isEmpty() && verdict == QLatin1String("match")) {
                        if (job->redirects()) {
                            job->finish(Result::answer(job->acted()));
                            return;
                        }
                        job->step = Job::Step::close;
                        self->advance(job);
                        return;
                    }
                    if (!error.isEmpty() && error.kind != DevToolsClient::Error::Kind::timedOut) {
                        vanished(error);
                        return;
                    }
                    // The page cannot answer: an error page has no address of its own, a page whose
                    // next document is still on its way has none yet, an open alert blocks it. Then
                    // the address the browser shows for the tab decides, checked afresh.
                    job->step = Job::Step::recheck;
                    self->advance(job);
                },
                session);
        },
        vanished);
}

void DevToolsScriptRunner::recheckStep(const JobPtr& job)
{
    QPointer<DevToolsScriptRunner> self(this);
    listPages(
        job,
        [self, job](const QJsonArray& pages) {
            if (!self)
                return;
            QString current;
            for (const QJsonValue& p : pages)
                if (p.toObject().value(QStringLiteral("id")).toString() == job->targetId)
                    current = p.toObject().value(QStringLiteral("url")).toString();
            if (current.isEmpty()) {
                job->finish(Result::answer(job->noWindow()));
                return;
            }
            if (current != job->command.expectedAddress) {
                job->finish(Result::answer(QStringLiteral("changed")));
                return;
            }
            job->step = job->redirects() ? Job::Step::navigate : Job::Step::close;
            self->advance(job);
        },
        true);
}

void DevToolsScriptRunner::navigateStep(const JobPtr& job)
{
    job->client->send(
        QStringLiteral("Page.navigate"), {{QStringLiteral("url"), job->command.target}}, stepTimeoutMs,
        [job](const QJsonObject&, const DevToolsClient::Error& e) {
            job->finish(e.isEmpty() ? Result::answer(job->acted()) : timedOut());
        },
        job->sessionId);
}

void DevToolsScriptRunner::closeStep(const JobPtr& job)
{
    job->client->send(QStringLiteral("Target.closeTarget"), {{QStringLiteral("targetId"), job->targetId}},
                      stepTimeoutMs, [job](const QJsonObject&, const DevToolsClient::Error& e) {
                          job->finish(e.isEmpty() ? Result::answer(job->acted()) : timedOut());
                      });
}

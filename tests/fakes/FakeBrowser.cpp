#include "FakeBrowser.h"

#include <QMutexLocker>
#include <QTimer>
#include <algorithm>

void FakeBrowser::run(const BrowserCommand& command, std::function<void(const BrowserScriptResult&)> done)
{
    int delay = 0;
    bool hang = false;
    {
        QMutexLocker lock(&m_mutex);
        m_received.append({command, QThread::currentThread()});
        const auto it = m_browsers.constFind(command.browserId);
        if (it != m_browsers.cend()) {
            hang = it->hang;
            delay = it->delayMs;
        }
        m_maxInFlight = std::max(m_maxInFlight, ++m_inFlight);
    }
    if (hang) {
        QMutexLocker lock(&m_mutex);
        m_hung.append(std::move(done));
        return;
    }
    auto finish = [this, command, done = std::move(done)] {
        BeforeAnswer hook;
        {
            QMutexLocker lock(&m_mutex);
            hook = m_beforeAnswer;
        }
        if (hook)
            hook(*this, command);
        const BrowserScriptResult result = answer(command);
        {
            QMutexLocker lock(&m_mutex);
            --m_inFlight;
        }
        done(result);
    };
    if (delay > 0)
        QTimer::singleShot(delay, this, std::move(finish));
    else
        finish();
}

BrowserScriptResult FakeBrowser::answer(const BrowserCommand& c)
{
    using R = BrowserScriptResult;
    QMutexLocker lock(&m_mutex);
    const auto it = m_browsers.find(c.browserId);
    // A browser that is not running is never reached, let alone started.
    if (it == m_browsers.end() || !it->running)
        return R::answer(c.noWindowAnswer());
    Browser& b = *it;
    if (!b.permitted)
        return R::failure(BrowserCommandError::notPermitted, permissionMessage);
    if (b.forcedError)
        return {std::nullopt, *b.forcedError, b.forcedMessage};
    if (b.windows.isEmpty())
        return R::answer(c.noWindowAnswer());

    Window& front = b.windows.first();
    front.activeTab = std::clamp(front.activeTab, 0, int(front.tabs.size()) - 1);
    const QString shown = front.tabs.value(front.activeTab);
    switch (c.operation) {
    case Operation::read:
        m_reads.insert(c.browserId, m_changes);
        return R::answer(shown);
    case Operation::readFocused:
        m_reads.insert(c.browserId, m_changes);
        return R::focusedRead(b.focused, shown);
    case Operation::redirect:
        if (shown != c.expectedAddress)
            return R::answer(QStringLiteral("changed"));
        front.tabs[front.activeTab] = c.target;
        ++m_changes;
        return R::answer(QStringLiteral("redirected"));
    case Operation::close:
        if (shown != c.expectedAddress)
            return R::answer(QStringLiteral("changed"));
        front.tabs.removeAt(front.activeTab);
        if (front.tabs.isEmpty())
            b.windows.removeFirst();
        else
            front.activeTab = std::min(front.activeTab, int(front.tabs.size()) - 1);
        ++m_changes;
        return R::answer(QStringLiteral("closed"));
    }
    return R::failure(BrowserCommandError::unprepared, QStringLiteral("Not a command of this browser."));
}

bool FakeBrowser::readUnchanged(const QString& browserId) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_reads.constFind(browserId);
    return m_tellsChanges && it != m_reads.cend() && *it == m_changes;
}

void FakeBrowser::setTellsChanges(bool tells)
{
    QMutexLocker lock(&m_mutex);
    m_tellsChanges = tells;
}

void FakeBrowser::setFocused(const QString& browserId, bool focused)
{
    QMutexLocker lock(&m_mutex);
    ++m_changes;
    m_browsers[browserId].focused = focused;
}

void FakeBrowser::open(const QString& browserId, const QString& address)
{
    QMutexLocker lock(&m_mutex);
    ++m_changes;
    Browser& b = m_browsers[browserId];
    b.running = true;
    b.windows = {Window{{address}, 0}};
}

void FakeBrowser::setBrowser(const QString& browserId, const Browser& browser)
{
    QMutexLocker lock(&m_mutex);
    ++m_changes;
    m_browsers.insert(browserId, browser);
}

void FakeBrowser::setRunning(const QString& browserId, bool running)
{
    QMutexLocker lock(&m_mutex);
    ++m_changes;
    m_browsers[browserId].running = running;
}

void FakeBrowser::setPermitted(const QString& browserId, bool permitted)
{
    QMutexLocker lock(&m_mutex);
    ++m_changes;
    m_browsers[browserId].permitted = permitted;
}

void FakeBrowser::setForcedError(const QString& browserId, std::optional<BrowserCommandError> error,
                                 std::optional<QString> message)
{
    QMutexLocker lock(&m_mutex);
    ++m_changes;
    Browser& b = m_browsers[browserId];
    b.forcedError = error;
    b.forcedMessage = std::move(message);
}

void FakeBrowser::setHang(const QString& browserId, bool hang)
{
    QMutexLocker lock(&m_mutex);
    ++m_changes;
    m_browsers[browserId].hang = hang;
}

void FakeBrowser::releaseHung(const BrowserScriptResult& result)
{
    QList<std::function<void(const BrowserScriptResult&)>> hung;
    {
        QMutexLocker lock(&m_mutex);
        hung = std::exchange(m_hung, {});
        m_inFlight -= int(hung.size());
    }
    // Answered on the runner's own thread, as a real late answer would be.
    for (auto& done : hung)
        QMetaObject::invokeMethod(
            this, [done, result] { done(result); }, Qt::QueuedConnection);
}

void FakeBrowser::setDelay(const QString& browserId, int ms)
{
    QMutexLocker lock(&m_mutex);
    ++m_changes;
    m_browsers[browserId].delayMs = ms;
}

void FakeBrowser::closeAllWindows(const QString& browserId)
{
    QMutexLocker lock(&m_mutex);
    ++m_changes;
    m_browsers[browserId].windows.clear();
}

void FakeBrowser::navigate(const QString& browserId, const QString& address)
{
    QMutexLocker lock(&m_mutex);
    noteChange();
    Browser& b = m_browsers[browserId];
    if (b.windows.isEmpty())
        b.windows.append(Window{{address}, 0});
    Window& front = b.windows.first();
    front.activeTab = std::clamp(front.activeTab, 0, int(front.tabs.size()) - 1);
    front.tabs[front.activeTab] = address;
}

void FakeBrowser::setBeforeAnswer(BeforeAnswer hook)
{
    QMutexLocker lock(&m_mutex);
    m_beforeAnswer = std::move(hook);
}

FakeBrowser::Browser FakeBrowser::browser(const QString& browserId) const
{
    QMutexLocker lock(&m_mutex);
    return m_browsers.value(browserId);
}

std::optional<QString> FakeBrowser::activeAddress(const QString& browserId) const
{
    QMutexLocker lock(&m_mutex);
    const Browser b = m_browsers.value(browserId);
    if (b.windows.isEmpty())
        return std::nullopt;
    const Window& front = b.windows.first();
    return front.tabs.value(std::clamp(front.activeTab, 0, int(front.tabs.size()) - 1));
}

QList<FakeBrowser::Received> FakeBrowser::received() const
{
    QMutexLocker lock(&m_mutex);
    return m_received;
}

QList<FakeBrowser::Operation> FakeBrowser::operations() const
{
    QMutexLocker lock(&m_mutex);
    QList<Operation> out;
    for (const Received& r : m_received)
        out.append(r.command.operation);
    return out;
}

qsizetype FakeBrowser::count(Operation operation) const
{
    QMutexLocker lock(&m_mutex);
    return std::count_if(m_received.cbegin(), m_received.cend(),
                         [operation](const Received& r) { return r.command.operation == operation; });
}

int FakeBrowser::maxInFlight() const
{
    QMutexLocker lock(&m_mutex);
    return m_maxInFlight;
}

void FakeBrowser::clearReceived()
{
    QMutexLocker lock(&m_mutex);
    m_received.clear();
    m_maxInFlight = m_inFlight;
}

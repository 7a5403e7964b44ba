#include "sync/SyncService.h"

#include "files/Defaults.h"
#include "model/Iso8601.h"
#include "model/Json.h"
#include "platform/SystemEvents.h"
#include "store/StorageService.h"

#include <QDateTime>
#include <QFutureWatcher>
#include <QLoggingCategory>
#include <utility>

Q_LOGGING_CATEGORY(syncLog, "Sync")

namespace {

const QString unavailableText = QStringLiteral("Sync is off: its database setting can't be used.");

// The codes the sync's texts and retries are chosen by, numbered as the phone app's side numbers
// them: what a failure means is agreed between the two sides in these.
enum class ErrorCode : int {
    internalError = 1,
    partialFailure = 2,
    networkUnavailable = 3,
    networkFailure = 4,
    serviceUnavailable = 6,
    requestRateLimited = 7,
    notAuthenticated = 9,
    permissionFailure = 10,
    unknownItem = 11,
    invalidArguments = 12,
    serverRecordChanged = 14,
    quotaExceeded = 25,
    limitExceeded = 27,
};

// The code of a record store's failure. Failures of our own have none and are told apart before.
ErrorCode errorCode(RecordFailure failure)
{
    switch (failure) {
    case RecordFailure::partial:
        return ErrorCode::partialFailure;
    case RecordFailure::unreachable:
        return ErrorCode::networkUnavailable;
    case RecordFailure::connectionLost:
        return ErrorCode::networkFailure;
    case RecordFailure::startingUp:
        return ErrorCode::serviceUnavailable;
    case RecordFailure::busy:
        return ErrorCode::requestRateLimited;
    case RecordFailure::notAuthenticated:
        return ErrorCode::notAuthenticated;
    case RecordFailure::notPermitted:
        return ErrorCode::permissionFailure;
    case RecordFailure::unknownItem:
        return ErrorCode::unknownItem;
    case RecordFailure::invalidRecord:
        return ErrorCode::invalidArguments;
    case RecordFailure::changedOnServer:
        return ErrorCode::serverRecordChanged;
    case RecordFailure::storageFull:
        return ErrorCode::quotaExceeded;
    case RecordFailure::tooLarge:
        return ErrorCode::limitExceeded;
    case RecordFailure::internal:
    case RecordFailure::batchFailed:
    case RecordFailure::untrustedServer:
    case RecordFailure::localWrite:
        break;
    }
    return ErrorCode::internalError;
}

} // namespace

SyncService::SyncService(StorageService* storage, Defaults& defaults, SyncEnvironment environment, QObject* parent)
    : CloudSync(parent), m_storage(storage), m_env(std::move(environment)), m_bookkeeping(defaults, m_env.knownIds),
      m_statusMessage(QStringLiteral("Not synced yet"))
{
    if (!m_env.clock)
        m_env.clock = &SystemClock::instance();
    if (!m_env.calendar)
        m_env.calendar = [] { return Calendar::current(); };
    if (!m_env.releaser)
        m_ownReleaser = std::make_unique<MemoryReleaser>();
    m_releaser = m_env.releaser ? m_env.releaser : m_ownReleaser.get();
    m_giveBackTimer.setSingleShot(true);
    connect(&m_giveBackTimer, &QTimer::timeout, this, [this] {
        // A run under way takes it over: its end starts the wait again.
        if (m_isSyncing || !m_giveBackDue)
            return;
        const qint64 sinceInput = m_env.sinceLastInputMs ? m_env.sinceLastInputMs() : m_env.giveBackAfterInputMs;
        if (sinceInput < m_env.giveBackAfterInputMs) {
            m_giveBackTimer.start(int(m_env.giveBackAfterInputMs - sinceInput));
            return;
        }
        m_giveBackDue = false;
        m_releaser->giveBack();
    });

    // Every change of a preference, by anyone, drops what was read of it.
    const auto changed = [this](const QString& key) {
        m_bookkeeping.forget(key);
        // What a run reads besides the lists: a change by anyone but the run itself (which settles
        // only at its end) needs the next run to read everything again.
        // (Deletions waiting to be sent are read again by every run that has changes to send.)
        if (((key == knownTasksKey || key == knownNotesKey) && m_runMemory.ownWrites == 0) || key == accountKeyKey ||
            key == SeriesPass::stoppedSeriesKey || key == SeriesPass::deletedSeriesKey)
            m_runMemory.settled.reset();
    };
    // What a run leaves to be written after it ends: a failure then is the run's failure.
    connect(&defaults, &Defaults::valueChanged, this, changed);
    connect(&defaults, &Defaults::writeFailed, this, &SyncService::laterWriteFailed);
    if (m_bookkeeping.knownApart()) {
        connect(&m_bookkeeping.known(), &Defaults::valueChanged, this, changed);
        connect(&m_bookkeeping.known(), &Defaults::writeFailed, this, &SyncService::laterWriteFailed);
    }
    if (m_storage) {
        connect(&m_storage->core(), &StoreCore::backgroundWriteFailed, this, &SyncService::laterWriteFailed);
        connect(&m_storage->todos(), &TodoStore::todosChanged, this, [this] { ++m_runMemory.localChanges; });
        connect(&m_storage->notes(), &NoteStore::notesChanged, this, [this] { ++m_runMemory.localChanges; });
    }

    m_pushTimer.setSingleShot(true);
    m_pushTimer.setInterval(pushDelayMilliseconds);
    connect(&m_pushTimer, &QTimer::timeout, this, &SyncService::syncNow);
    m_refreshTimer.setInterval(refreshIntervalSeconds * 1000);
    connect(&m_refreshTimer, &QTimer::timeout, this, &SyncService::syncNow);
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &SyncService::syncNow);

    if (!isCloudSyncAvailable()) {
        m_statusMessage = unavailableText;
        return;
    }
    if (const std::optional<QString> text = defaults.string(lastSuccessKey))
        if (const std::optional<Date> at = Iso8601::parse(*text))
            m_statusMessage = QStringLiteral("Last synced ") + lastSyncedText(*at);
}

SyncService::~SyncService()
{
    // A run suspended in a request finds this when it resumes and ends without touching us.
    *m_alive = false;
    m_bookkeeping.keepCopyForEarlierVersions();
}

Date SyncService::now() const
{
    return m_env.clock->now();
}

// ---- triggers

void SyncService::start()
{
    if (!isCloudSyncAvailable() || m_started)
        return;
    m_started = true;
    syncNow();
    m_refreshTimer.start();
    if (m_env.events)
        connect(m_env.events, &SystemEvents::didWake, this, &SyncService::syncNow);
}

void SyncService::syncNow()
{
    if (m_isSyncing) {
        m_syncRequestedWhileRunning = true;
        return;
    }
    runCoalesced();
}

QCoro::Task<> SyncService::runCoalesced()
{
    const std::shared_ptr<bool> alive = m_alive;
    setSyncing(true);
    do {
        m_syncRequestedWhileRunning = false;
        emit syncRunStarted();
        co_await performSync();
        if (!*alive)
            co_return;
    } while (m_syncRequestedWhileRunning);
    giveBackMemory();
    setSyncing(false);
    emit syncFinished();
}

QCoro::Task<> SyncService::performSync()
{
    if (!isCloudSyncAvailable()) {
        setStatusMessage(unavailableText);
        co_return;
    }
    // A store that is gone leaves nothing to sync and nothing to say.
    if (!m_storage)
        co_return;
    SyncRun run({m_storage, &m_env, &m_bookkeeping, &m_runMemory, this, this, m_releaser, m_alive});
    co_await run.perform();
}

void SyncService::runStarted()
{
    setStatusMessage(QStringLiteral("Syncing\u2026"));
}

void SyncService::accountStatusRead(int status)
{
    setSyncAvailable(status == RecordStore::accountAvailable);
    if (status != RecordStore::accountAvailable) {
        setLastError(syncDescription(status));
        setStatusMessage(QStringLiteral("Sync database unavailable"));
        return;
    }
    setLastError(std::nullopt);
}

void SyncService::runSucceeded(int tasks, int notes, int uploaded)
{
    const Date finishedAt = now();
    {
        // Also after a run with nothing to do: the file holds every known id, too large to
        // rewrite while the window waits.
        const Defaults::Batch oneWrite(defaults(), Defaults::Writing::inBackground);
        defaults().set(lastSuccessKey, Iso8601::format(finishedAt));
    }
    setStatusMessage(QStringLiteral("Synced at ") + lastSyncedText(finishedAt));
    // Everything else synced; what could not be read is said until a run reads it.
    const int unreadable = m_runMemory.unreadableItems;
    if (unreadable > 0) {
        setLastError(unreadableItemsText(unreadable));
        qCWarning(syncLog, "Sync finished with %d records it cannot read: %d tasks, %d notes, %d uploaded", unreadable,
                  tasks, notes, uploaded);
    } else {
        qCInfo(syncLog, "Sync completed: %d tasks, %d notes, %d uploaded", tasks, notes, uploaded);
    }
}

void SyncService::runFailed(const RecordError& error)
{
    setLastError(userMessage(error));
    setStatusMessage(QStringLiteral("Sync didn't finish"));
    scheduleRetry(error);
    qCCritical(syncLog, "Sync failed: %s", qUtf8Printable(error.description()));
}

void SyncService::giveBackMemory()
{
    // A run that read thousands of records freed tens of megabytes that the allocator would keep
    // for good. Part of what it leaves is freed only after it ends (on other threads, in later
    // turns), and a trim never returns what is still held at that moment: so such a run gives back
    // after it and again after the next run, whatever that one read, each time once the record
    // store dropped its cache. Runs that read only what changed free a few blocks, which the heap
    // keeps for the next run: a trim would walk all of it for them.
    const bool readEverything = std::exchange(m_runMemory.readEverything, false);
    const bool giveBack = readEverything || m_runMemory.giveBackOwed || m_giveBackDue;
    m_runMemory.giveBackOwed = readEverything;
    QFuture<void> cache = m_env.recordStore ? m_env.recordStore->releaseMemory() : QtFuture::makeReadyFuture();
    // Watched by a child rather than continued in this context: the store may drop its cache after
    // the service is gone, and a continuation whose context is gone stops the program.
    auto* watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, giveBack] {
        watcher->deleteLater();
        // Not at once: a trim holds each heap while it walks it (tens of milliseconds after a large
        // run), and the window's thread, taking in what the run changed, would wait on it for every
        // block it allocates or frees meanwhile. (Later, too, than the run's data handed to the
        // releaser.)
        if (giveBack) {
            m_giveBackDue = true;
            m_giveBackTimer.start(m_env.giveBackAfterMs);
        }
    });
    watcher->setFuture(cache);
}

void SyncService::laterWriteFailed(const QString& message)
{
    const RecordError error{RecordFailure::localWrite, message, {}, {}};
    m_runMemory.settled.reset();
    setLastError(userMessage(error));
    scheduleRetry(error);
}

void SyncService::schedulePush()
{
    // Restarting the timer is the debounce: a burst of saves makes one run a second after the last.
    m_pushTimer.start();
    emit pushScheduled();
}

// ---- bookkeeping

QSet<QUuid> SyncService::idSet(const QString& key) const
{
    return m_bookkeeping.idSet(key);
}

void SyncService::noteDeleted(const QUuid& id)
{
    m_bookkeeping.addToIdSet(pendingNoteDeletes, {id});
}

void SyncService::tasksDeleted(const QSet<QUuid>& ids)
{
    m_bookkeeping.addToIdSet(pendingTaskDeletes, ids);
}

void SyncService::tasksKept(const QSet<QUuid>& ids)
{
    m_bookkeeping.clearPendingDeletes(ids, {});
}

// ---- observable state

void SyncService::setSyncing(bool value)
{
    if (m_isSyncing == value)
        return;
    m_isSyncing = value;
    emit isSyncingChanged();
}

void SyncService::setStatusMessage(const QString& text)
{
    if (m_statusMessage == text)
        return;
    m_statusMessage = text;
    emit statusMessageChanged();
}

void SyncService::setLastError(const std::optional<QString>& text)
{
    if (m_lastError == text)
        return;
    m_lastError = text;
    emit lastErrorChanged();
}

void SyncService::setSyncAvailable(bool value)
{
    if (m_isSyncAvailable == value)
        return;
    m_isSyncAvailable = value;
    emit isSyncAvailableChanged();
}

// ---- texts and retries

QString SyncService::syncDescription(int accountStatus)
{
    switch (accountStatus) {
    case 0:
        return QStringLiteral("Could not check the sync database. Try again.");
    case 1:
        return QStringLiteral("The sync database is available");
    case 2:
        return QStringLiteral("The sync database is restricted on this computer.");
    case 3:
        return QStringLiteral("The sync database knows no account for you. Check its setting.");
    case 4:
        return QStringLiteral("The sync database is temporarily unavailable. Try again.");
    default:
        return QStringLiteral("The sync database is not available (status %1).").arg(accountStatus);
    }
}

QString SyncService::userMessage(const RecordError& error)
{
    // Failures of our own, which the phone app's side has no code for.
    switch (error.kind) {
    case RecordFailure::localWrite: {
        // The store's own message names the file and the reason ("No space left on device").
        QString reason = error.message.isEmpty() ? QStringLiteral("A data file could not be written") : error.message;
        if (!reason.endsWith(u'.'))
            reason += u'.';
        return QStringLiteral("Sync couldn't save what it received on this computer. %1 It will try again "
                              "in a minute.")
            .arg(reason);
    }
    case RecordFailure::untrustedServer:
        return QStringLiteral("The sync server's certificate could not be verified, so nothing was synced: ") +
               error.message;
    default:
        break;
    }
    // Only failures with a retry of their own promise one; the rest wait for the next sync.
    const QString generic = QStringLiteral("Sync didn't finish. It will try again at the next sync.");
    const QString offline = QStringLiteral("Can't reach the sync database \u2014 sync will retry automatically.");
    const QString busy = QStringLiteral("The sync database is busy \u2014 sync will retry automatically.");
    switch (errorCode(error.kind)) {
    case ErrorCode::partialFailure:
        // The first failing item in request order speaks for the request.
        if (!error.partialErrors.empty())
            return userMessage(error.partialErrors.front().second);
        return QStringLiteral("Some items didn't sync. It will try again at the next sync.");
    case ErrorCode::networkUnavailable:
    case ErrorCode::networkFailure:
        return offline;
    case ErrorCode::serviceUnavailable:
        return QStringLiteral("The sync database is starting up \u2014 sync will retry in a moment.");
    case ErrorCode::requestRateLimited:
        return busy;
    case ErrorCode::notAuthenticated:
        return QStringLiteral("The sync database refused the login. Check its user and password.");
    case ErrorCode::serverRecordChanged:
        return QStringLiteral("Another computer was syncing at the same time \u2014 retrying shortly.");
    case ErrorCode::quotaExceeded:
        return QStringLiteral("The sync database's disk is full, so sync is paused.");
    case ErrorCode::invalidArguments:
    case ErrorCode::limitExceeded:
        // Sending the same item again cannot succeed.
        return QStringLiteral("The sync database refused a to-do or note, so sync is paused until it changes.");
    default:
        return generic;
    }
}

QString SyncService::unreadableItemsText(int count)
{
    if (count == 1)
        return QStringLiteral("A to-do or note in the sync database couldn't be read by this version, so it was left "
                              "as it is and changes to it here aren't sent. A newer version of Quillharbour may read "
                              "it.");
    return QStringLiteral("%1 to-dos or notes in the sync database couldn't be read by this version, so they were "
                          "left as they are and changes to them here aren't sent. A newer version of Quillharbour "
                          "may read them.")
        .arg(count);
}

std::optional<int> SyncService::retryDelaySeconds(const RecordError& error)
{
    switch (error.kind) {
    case RecordFailure::localWrite:
        return 60; // a full disk is often freed again soon; the store has its changes meanwhile
    case RecordFailure::untrustedServer:
        return std::nullopt; // trusting it takes a person
    default:
        break;
    }
    switch (errorCode(error.kind)) {
    case ErrorCode::networkUnavailable:
    case ErrorCode::networkFailure:
    case ErrorCode::serverRecordChanged:
        return 30;
    case ErrorCode::serviceUnavailable:
    case ErrorCode::requestRateLimited: {
        const double suggested = error.retryAfterSeconds.value_or(30);
        if (!(suggested > 5)) // also NaN
            return 5;
        return suggested > 300 ? 300 : int(std::ceil(suggested));
    }
    default:
        return std::nullopt;
    }
}

void SyncService::scheduleRetry(const RecordError& error)
{
    const std::optional<int> delay = retryDelaySeconds(error);
    if (!delay)
        return;
    // One retry pending at most: a newer failure with a delay replaces it.
    m_retryTimer.start(*delay * 1000);
}

QString SyncService::lastSyncedText(Date date) const
{
    const Calendar calendar = m_env.calendar();
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(qint64(std::floor(date * 1000)), calendar.timeZone());
    const QString time = calendar.locale().toString(at.time(), QLocale::ShortFormat);
    if (calendar.isSameDay(date, now()))
        return time;
    return calendar.locale().toString(at.date(), QLocale::ShortFormat) + QStringLiteral(", ") + time;
}

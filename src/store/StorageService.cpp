#include "store/StorageService.h"

#include "model/Json.h"
#include "model/LenientJson.h"
#include "model/TodosFileReading.h"
#include "platform/Defaults.h"
#include "platform/FileSafety.h"
#include "platform/SystemEvents.h"
#include "store/CloudSync.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString loadNoticeSource = QStringLiteral("load");
const QString folderNoticeSource = QStringLiteral("folder");

// A per-user fallback under the temporary folder; a folder of that name that belongs to someone
// else is refused, so no other user can read or plant our data.
std::optional<QString> privateTemporaryFolder(QString* error)
{
    // Qt reports a missing temporary folder as an empty path, which would put the data in
    // whatever folder the process happens to run in.
    const QString temp = QDir::tempPath();
    if (temp.isEmpty() || QDir::isRelativePath(temp)) {
        *error = QStringLiteral("The temporary folder could not be found.");
        return std::nullopt;
    }
    const QString path = QDir(temp).filePath(QStringLiteral("Quillharbour-%1").arg(getuid()));
    if (!FileSafety::makeFolder(path, error))
        return std::nullopt;
    struct stat info {};
    if (lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()) {
        *error = QStringLiteral("The folder “%1” belongs to another user.").arg(path);
        return std::nullopt;
    }
    return path;
}

} // namespace

StorageService::StorageService(std::optional<FileStore> fileStore, StorageEnvironment environment, QObject* parent)
    : QObject(parent), m_env(std::move(environment)), m_reminders(m_env.notifications)
{
    Q_ASSERT(m_env.clock && m_env.calendar && m_env.defaults);
    if (!m_env.monotonic)
        m_env.monotonic = &SystemMonotonicClock::instance();
    m_state = SharedState::fresh(now(), calendar());
    m_boundaryTimer.setSingleShot(true);
    m_boundaryTimer.setTimerType(Qt::PreciseTimer); // a coarse timer may fire early
    connect(&m_boundaryTimer, &QTimer::timeout, this, &StorageService::onBoundaryTimer);
    // First of all who hear of a change, so every one of them already sees the new revision.
    connect(this, &StorageService::todosChanged, this, [this] { ++m_todosRevision; });
    connect(this, &StorageService::notesChanged, this, [this] { ++m_notesRevision; });
    if (!chooseDataDirectory(std::move(fileStore)))
        return;
    m_statePath = m_fileStore.filePath(stateFile);
    load();
    installObservers();
}

StorageService::~StorageService() = default;

void StorageService::setCloudSync(CloudSync* sync)
{
    m_cloudSync = sync;
}

CloudSync* StorageService::cloudSync() const
{
    return m_cloudSync.data();
}

Date StorageService::now() const
{
    return m_env.clock->now();
}

Date StorageService::stamp() const
{
    return wholeSeconds(now());
}

bool StorageService::chooseDataDirectory(std::optional<FileStore> given)
{
    if (given) {
        m_fileStore = *given;
        return true;
    }
    m_fileStore = FileStore{FileStore::defaultRootURL()};
    if (FileSafety::makeFolder(m_fileStore.rootURL))
        return true;
    const QString firstError = QStringLiteral("The data folder “%1” could not be created.").arg(m_fileStore.rootURL);
    QString fallbackError;
    const std::optional<QString> fallback = privateTemporaryFolder(&fallbackError);
    if (!fallback) {
        m_fatalError = firstError + QLatin1Char(' ') + fallbackError;
        return false;
    }
    reportProblem(m_fileStore.rootURL, firstError + QStringLiteral(" Using “%1” instead.").arg(*fallback));
    m_fileStore = FileStore{*fallback};
    recordFailure(folderNoticeSource, firstError);
    return true;
}

// ---------------------------------------------------------------- lastError

std::optional<QString> StorageService::lastError() const
{
    if (m_failures.empty())
        return std::nullopt;
    return m_failures.back().message;
}

void StorageService::setLastError(const std::optional<QString>& message)
{
    const auto before = lastError();
    m_failures.clear();
    if (message)
        m_failures.push_back({QStringLiteral("user"), *message});
    emitIfLastErrorChanged(before);
}

void StorageService::recordFailure(const QString& source, const QString& message)
{
    const auto before = lastError();
    // Sources named after a data file are problems with that file; others are notices.
    const bool isFile = source.endsWith(QLatin1String(".json")) && !source.contains(u'#');
    const bool known = std::any_of(m_failures.begin(), m_failures.end(),
                                   [&](const Failure& f) { return f.source == source && f.message == message; });
    if (isFile && !known)
        reportProblem(m_fileStore.filePath(source), message);
    std::erase_if(m_failures, [&source](const Failure& f) { return f.source == source; });
    m_failures.push_back({source, message});
    emitIfLastErrorChanged(before);
}

void StorageService::clearFailure(const QString& source)
{
    const auto before = lastError();
    std::erase_if(m_failures, [&](const Failure& f) {
        // Start-up notices go with the first successful save after loading, as any message would.
        return f.source == source || f.source.startsWith(source + u'#') ||
               (!m_loading && (f.source == loadNoticeSource || f.source == folderNoticeSource));
    });
    emitIfLastErrorChanged(before);
}

void StorageService::emitIfLastErrorChanged(const std::optional<QString>& before)
{
    if (lastError() != before)
        emit lastErrorChanged();
}

void StorageService::reportProblem(const QString& path, const QString& message)
{
    QMetaObject::invokeMethod(
        this, [this, path, message] { emit problemReported(path, message); }, Qt::QueuedConnection);
}

// ---------------------------------------------------------------- files

QString StorageService::unbackedMessage(const QString& name) const
{
    if (m_unreadableFolder)
        return *m_unreadableFolder;
    return QStringLiteral("“%1” could not be read and no backup copy of it could be made, so it was not "
                          "overwritten and the change was not saved.")
        .arg(name);
}

bool StorageService::writeFile(const QString& name, const QByteArray& text, QString* error)
{
    if (m_unbackedFiles.contains(name)) {
        if (error)
            *error = unbackedMessage(name);
        return false;
    }
    const QString path = m_fileStore.filePath(name);
    // A write of the file still on its way would otherwise land after this one, with older data.
    if (m_writer)
        m_writer->waitFor(path);
    QString reason;
    if (FileSafety::writeAtomically(path, text, &reason, m_env.saveFiles)) {
        if (m_writer)
            m_backgroundOvertaken.insert(name, m_writer->lastGeneration());
        m_unwrittenFiles.remove(name);
        return true;
    }
    // Name the file: "is a directory" alone does not tell the person what was not stored.
    if (error)
        *error = QStringLiteral("“%1” could not be saved: %2").arg(name, reason);
    return false;
}

std::optional<StorageService::FileIdentity> StorageService::fileIdentity(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return FileIdentity{static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino),
                        static_cast<qint64>(info.st_size), static_cast<qint64>(info.st_mtim.tv_sec),
                        static_cast<qint64>(info.st_mtim.tv_nsec)};
}

bool StorageService::backupUnreadableFile(const QString& name)
{
    const QString path = m_fileStore.filePath(name);
    const qint64 seconds = static_cast<qint64>(std::floor(now()));
    const QFileInfo info(path);
    QFile source(path);
    QString reason;
    if (source.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = source.readAll();
        if (source.error() != QFileDevice::NoError)
            reason = source.errorString();
        for (int attempt = 0; reason.isEmpty() && attempt < 100; ++attempt) {
            const QString suffix = attempt == 0 ? QString() : QStringLiteral("-%1").arg(attempt);
            const QString backup = info.absoluteDir().filePath(
                QStringLiteral("%1.unreadable-%2%3.json").arg(info.completeBaseName()).arg(seconds).arg(suffix));
            if (QFileInfo::exists(backup))
                continue;
            if (FileSafety::writeAtomically(backup, bytes, &reason, m_env.saveFiles)) {
                reportProblem(path, QStringLiteral("could not be read; a copy was kept as “%1”.").arg(backup));
                return true;
            }
        }
    } else {
        reason = source.errorString();
    }
    if (reason.isEmpty())
        reason = QStringLiteral("every backup name is taken");
    reportProblem(path, QStringLiteral("could not be read, and no copy of it could be kept (%1).").arg(reason));
    // Without a copy the unreadable file is the only one left: never write over it.
    m_unbackedFiles.insert(name);
    return false;
}

template <typename T>
std::vector<T> StorageService::loadList(const QString& part, const QString& name,
                                        std::optional<T> (*decode)(const QJsonValue&, QString*),
                                        QStringList& unreadable,
                                        std::function<std::optional<std::vector<T>>(const QByteArray&)> decodeText,
                                        const PrereadFile<T>* early)
{
    QByteArray bytes;
    bool readOK = false;
    if (early) {
        if (!early->exists)
            return {};
        bytes = early->bytes;
        readOK = early->readOK;
    } else {
        QFile file(m_fileStore.filePath(name));
        if (!file.exists())
            return {};
        if (file.open(QIODevice::ReadOnly))
            bytes = file.readAll();
        readOK = file.error() == QFileDevice::NoError;
    }
    if (readOK && decodeText) {
        if (auto quick = decodeText(bytes))
            return std::move(*quick);
    }
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    const QJsonValue root = doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
    if (readOK && parseError.error == QJsonParseError::NoError) {
        if (auto strict = decodeStrictList<T>(root, decode, nullptr))
            return std::move(*strict);
    }
    backupUnreadableFile(name);
    unreadable.append(part);
    if (!readOK)
        return {};
    if (parseError.error == QJsonParseError::NoError) {
        if (auto lossy = LossyDecodableList<T>::decode(root, decode))
            return std::move(lossy->elements);
        return {};
    }
    // A value the parser refuses (a number no double holds, say) costs its own record only.
    bool complete = false;
    std::vector<T> kept;
    for (const std::optional<QJsonValue>& element : LenientJson::readArray(bytes, complete)) {
        QString error;
        if (element)
            if (std::optional<T> value = decode(*element, &error))
                kept.push_back(std::move(*value));
    }
    return kept;
}

void StorageService::load()
{
    m_loading = true;
    const QStringList files{todosFile, notesFile, rulesFile, doomScrollFile, stateFile, pendingNotificationsFile};
    FileSafety::keepPrivate(m_fileStore.rootURL, files);
    FileSafety::removeStaleTemporaries(m_fileStore.rootURL, files);
    // A folder that cannot be looked into looks empty: say so, and write nothing over what it
    // may hold.
    const QByteArray root = QFile::encodeName(m_fileStore.rootURL);
    if (::access(root.constData(), R_OK | X_OK) != 0 && errno != ENOENT) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        for (const QString& name : files)
            m_unbackedFiles.insert(name);
        m_unreadableFolder = QStringLiteral("The data folder “%1” can't be read (%2). Nothing was loaded from it, "
                                            "and nothing is written there until it can be read.")
                                 .arg(m_fileStore.rootURL, why);
        recordFailure(folderNoticeSource, *m_unreadableFolder);
    }
    QStringList unreadable;
    // What another thread already read and decoded is taken as it is, unless the file changed since.
    std::optional<PrereadTodos> earlyTodos =
        m_env.preread ? m_env.preread->takeTodos(m_fileStore.filePath(todosFile)) : std::nullopt;
    std::optional<PrereadFile<Note>> earlyNotes =
        m_env.preread ? m_env.preread->takeNotes(m_fileStore.filePath(notesFile)) : std::nullopt;
    // The writer takes the file as read, so the first save writes afresh only what changed.
    m_todos = loadList<TaskItem>(
        QStringLiteral("to-dos"), todosFile, decodeTaskItem, unreadable,
        [this, &earlyTodos](const QByteArray& text) {
            if (earlyTodos) {
                if (earlyTodos->decoded)
                    m_todosEncoding->writer = std::move(earlyTodos->writer);
                return std::move(earlyTodos->decoded);
            }
            std::vector<TextSpan> spans;
            std::optional<std::vector<TaskItem>> list = decodeTodosFileText(text, &spans);
            if (list)
                m_todosEncoding->writer.adopt(*list, text, spans);
            return list;
        },
        earlyTodos ? &*earlyTodos : nullptr);
    const quint64 loadedUses = m_todosEncoding->writer.uses();
    m_notes = loadList<Note>(
        QStringLiteral("notes"), notesFile, decodeNote, unreadable,
        [&earlyNotes](const QByteArray& text) {
            return earlyNotes ? std::move(earlyNotes->decoded) : decodeNotesFileText(text);
        },
        earlyNotes ? &*earlyNotes : nullptr);
    m_rules = loadList<BlockRule>(QStringLiteral("block rules"), rulesFile, decodeBlockRule, unreadable);
    m_rulesSetAside = unreadable.contains(QStringLiteral("block rules"));
    ++m_rulesGeneration;

    m_fileStore.removeLegacyGoalsFile();
    std::optional<WallClockCheck> check;
    QByteArray stateText;
    if (auto loaded = m_fileStore.loadSharedState(now(), calendar(), nullptr, &check, &stateText)) {
        m_state = *loaded;
        // Only a file in exactly the form this store writes counts as already written.
        if (!stateText.isEmpty() && stateFileText(m_state, check) == stateText)
            m_stateOnDisk = StateOnDisk{m_state, check, fileIdentity(m_statePath)};
        // Only readings of this same boot can tell how much time really passed since the last run.
        const QString boot = m_env.monotonic->bootId();
        if (check && !boot.isEmpty() && check->bootId == boot) {
            m_lastClockReading = ClockReading{check->wallTime, check->bootSeconds};
            m_dayOffset = check->dayOffset;
        }
    } else {
        backupUnreadableFile(stateFile);
        // The state is rebuilt every day anyway; losing today's counters is better than not starting.
        m_unbackedFiles.remove(stateFile);
        m_state = SharedState::fresh(now(), calendar());
    }

    const QString doomPath = m_fileStore.filePath(doomScrollFile);
    m_doomScrollConfig = DoomScrollConfig::defaults();
    if (QFileInfo::exists(doomPath)) {
        QFile file(doomPath);
        std::optional<DoomScrollConfig> config;
        if (file.open(QIODevice::ReadOnly)) {
            QJsonParseError parseError{};
            const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
            if (parseError.error == QJsonParseError::NoError && doc.isObject())
                config = decodeDoomScrollConfig(doc.object());
        }
        if (config) {
            m_doomScrollConfig = *config;
        } else {
            backupUnreadableFile(doomScrollFile);
            unreadable.append(QStringLiteral("Doom Scroll settings"));
        }
    }

    rollOverRecurringTodos(now());
    // The writer holds the text just read, of the to-dos as loaded, unless the roll-over used it.
    if (m_todosEncoding->writer.uses() == loadedUses)
        m_todosWriterNote = TodosWriterNote{loadedUses, m_todosRevision};

    normalizeSharedState();
    refreshBlockingState();

    if (!unreadable.isEmpty()) {
        QString message = QStringLiteral("Some saved %1 couldn't be read. A backup copy was kept next to your data.")
                              .arg(unreadable.join(QStringLiteral(", ")));
        QStringList unbacked;
        for (const QString& name : {todosFile, notesFile, rulesFile, doomScrollFile})
            if (m_unbackedFiles.contains(name))
                unbacked.append(name);
        if (!unbacked.isEmpty())
            message = QStringLiteral("Some saved %1 couldn't be read, and no backup copy could be made of %2. "
                                     "Those files are left untouched.")
                          .arg(unreadable.join(QStringLiteral(", ")), unbacked.join(QStringLiteral(", ")));
        recordFailure(loadNoticeSource, message);
    }
    m_loading = false;
}

void StorageService::installObservers()
{
    if (!m_env.events)
        return;
    // Queued: the work runs as its own main-thread task, never inside the sender's callback.
    for (auto signal : {&SystemEvents::dayChanged, &SystemEvents::clockChanged, &SystemEvents::timeZoneChanged,
                        &SystemEvents::didWake})
        connect(m_env.events, signal, this, &StorageService::handleClockEvent, Qt::QueuedConnection);
}

bool StorageService::saveTodos(bool sync)
{
    return writeTodos(sync, std::nullopt);
}

bool StorageService::writeTodos(bool sync, std::optional<size_t> changedAt)
{
    QString error;
    m_todosSaved.reset();
    quint64 uses = 0;
    const QByteArray text = currentTodosText(changedAt, &uses);
    if (!writeFile(todosFile, text, &error)) {
        recordFailure(todosFile, error);
        return false;
    }
    m_todosSaved = TodosWriterNote{uses, m_todosRevision};
    clearFailure(todosFile);
    if (sync && m_cloudSync)
        m_cloudSync->schedulePush();
    return true;
}

bool StorageService::saveNotes(bool sync)
{
    QString error;
    if (!writeFile(notesFile, notesFileText(m_notes), &error)) {
        recordFailure(notesFile, error);
        return false;
    }
    clearFailure(notesFile);
    if (sync && m_cloudSync)
        m_cloudSync->schedulePush();
    return true;
}

void StorageService::setTodos(std::vector<TaskItem> todos)
{
    m_todos = std::move(todos);
    emit todosChanged();
}

void StorageService::setNotes(std::vector<Note> notes)
{
    m_notes = std::move(notes);
    emit notesChanged();
}

void StorageService::setState(const SharedState& state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged();
}

void StorageService::setFocusTodoID(const std::optional<QUuid>& id)
{
    if (id == m_focusTodoID)
        return;
    m_focusTodoID = id;
    emit focusTodoIDChanged();
}

void StorageService::handleClockEvent()
{
    if (rollOverRecurringTodos(now()) && m_cloudSync)
        m_cloudSync->schedulePush();
    refreshBlockingState();
}

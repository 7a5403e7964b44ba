#include "store/StoreCore.h"

#include "model/BlockRule.h"
#include "model/Json.h"
#include "model/LenientJson.h"
#include "model/Note.h"
#include "model/TaskItem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

StoreCore::StoreCore(StorageEnvironment environment, QObject* parent)
    : QObject(parent), m_env(std::move(environment)), m_reminders(m_env.notifications)
{
    Q_ASSERT(m_env.clock && m_env.calendar && m_env.defaults);
    if (!m_env.monotonic)
        m_env.monotonic = &SystemMonotonicClock::instance();
}

StoreCore::~StoreCore() = default;

bool StoreCore::chooseDataDirectory(std::optional<FileStore> given)
{
    if (given) {
        m_fileStore = *given;
        return true;
    }
    m_fileStore = FileStore{FileStore::defaultFolderPath()};
    if (FileSafety::makeFolder(m_fileStore.folderPath()))
        return true;
    const QString firstError =
        QStringLiteral("The data folder “%1” could not be created.").arg(m_fileStore.folderPath());
    QString fallbackError;
    const std::optional<QString> fallback = privateTemporaryFolder(&fallbackError);
    if (!fallback) {
        m_fatalError = firstError + QLatin1Char(' ') + fallbackError;
        return false;
    }
    reportProblem(m_fileStore.folderPath(), firstError + QStringLiteral(" Using “%1” instead.").arg(*fallback));
    m_fileStore = FileStore{*fallback};
    recordFailure(folderNoticeSource, firstError);
    return true;
}

// ---------------------------------------------------------------- lastError

std::optional<QString> StoreCore::lastError() const
{
    if (m_failures.empty())
        return std::nullopt;
    return m_failures.back().message;
}

void StoreCore::setLastError(const std::optional<QString>& message)
{
    const auto before = lastError();
    m_failures.clear();
    if (message)
        m_failures.push_back({QStringLiteral("user"), *message});
    emitIfLastErrorChanged(before);
}

void StoreCore::recordFailure(const QString& source, const QString& message)
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

void StoreCore::clearFailure(const QString& source)
{
    const auto before = lastError();
    std::erase_if(m_failures, [&](const Failure& f) {
        // Start-up notices go with the first successful save after loading, as any message would.
        return f.source == source || f.source.startsWith(source + u'#') ||
               (!m_loading && (f.source == loadNoticeSource || f.source == folderNoticeSource));
    });
    emitIfLastErrorChanged(before);
}

void StoreCore::emitIfLastErrorChanged(const std::optional<QString>& before)
{
    if (lastError() != before)
        emit lastErrorChanged();
}

void StoreCore::reportProblem(const QString& path, const QString& message)
{
    QMetaObject::invokeMethod(
        this, [this, path, message] { emit problemReported(path, message); }, Qt::QueuedConnection);
}

// ---------------------------------------------------------------- files

QString StoreCore::unbackedMessage(const QString& name) const
{
    if (m_unreadableFolder)
        return *m_unreadableFolder;
    return QStringLiteral("“%1” could not be read and no backup copy of it could be made, so it was not "
                          "overwritten and the change was not saved.")
        .arg(name);
}

std::optional<QString> StoreCore::writeRefusal(const QString& name) const
{
    if (m_unbackedFiles.contains(name))
        return unbackedMessage(name);
    if (m_unloadedFiles.contains(name))
        return QStringLiteral("“%1” is still being read, so the change was not saved. Try again in a moment.")
            .arg(name);
    return std::nullopt;
}

FileWrite StoreCore::writeFile(const QString& name, const QByteArray& text)
{
    if (const std::optional<QString> why = writeRefusal(name))
        return FileWrite::refused(*why);
    const QString path = m_fileStore.filePath(name);
    // A write of the file still on its way would otherwise land after this one, with older data.
    if (m_writer)
        m_writer->waitFor(path);
    QString reason;
    if (FileSafety::writeAtomically(path, text, &reason, m_env.saveFiles)) {
        if (m_writer)
            m_backgroundOvertaken.insert(name, m_writer->lastGeneration());
        m_unwrittenFiles.remove(name);
        settleWriteWaiters();
        return FileWrite::done();
    }
    // Name the file: "is a directory" alone does not tell the person what was not stored.
    return FileWrite::refused(QStringLiteral("“%1” could not be saved: %2").arg(name, reason));
}

bool StoreCore::backupUnreadableFile(const QString& name, const QByteArray* read)
{
    const QString path = m_fileStore.filePath(name);
    const qint64 seconds = static_cast<qint64>(std::floor(now()));
    const QFileInfo info(path);
    QFile source(path);
    QString reason;
    // What was read whole already is not read a second time: a file of hundreds of megabytes
    // would be held twice.
    if (read || source.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = read ? *read : source.readAll();
        if (!read && source.error() != QFileDevice::NoError)
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
std::vector<T> StoreCore::loadList(const QString& part, const QString& name,
                                   std::optional<T> (*decode)(const QJsonValue&, QString*), QStringList& unreadable,
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
    // A record far beyond any a person writes (a title of hundreds of megabytes) is never
    // decoded: it would take the memory of many times its text. The file is kept aside whole,
    // and the other records are read one by one.
    // A text the preread decoded was looked at there already.
    const bool oversized = readOK && !(early && early->decoded) && LenientJson::holdsOversizedRecord(bytes);
    if (readOK && decodeText && !oversized) {
        if (auto quick = decodeText(bytes))
            return std::move(*quick);
    }
    QJsonParseError parseError{};
    const QJsonDocument doc = oversized ? QJsonDocument() : QJsonDocument::fromJson(bytes, &parseError);
    const QJsonValue root = doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
    if (readOK && !oversized && parseError.error == QJsonParseError::NoError) {
        if (auto strict = decodeStrictList<T>(root, decode, nullptr))
            return std::move(*strict);
    }
    backupUnreadableFile(name, readOK ? &bytes : nullptr);
    unreadable.append(part);
    if (!readOK)
        return {};
    if (!oversized && parseError.error == QJsonParseError::NoError) {
        if (auto lossy = LossyDecodableList<T>::decode(root, decode))
            return std::move(lossy->elements);
        return {};
    }
    // A value the parser refuses (a number no double holds, say) costs its own record only.
    bool complete = false;
    std::vector<T> kept;
    for (const std::optional<QJsonValue>& element :
         LenientJson::readArray(bytes, complete, LenientJson::maximumRecordBytes)) {
        QString error;
        if (element)
            if (std::optional<T> value = decode(*element, &error))
                kept.push_back(std::move(*value));
    }
    return kept;
}

// The lists the store keeps.
template std::vector<TaskItem>
StoreCore::loadList(const QString&, const QString&, std::optional<TaskItem> (*)(const QJsonValue&, QString*),
                    QStringList&, std::function<std::optional<std::vector<TaskItem>>(const QByteArray&)>,
                    const PrereadFile<TaskItem>*);
template std::vector<Note> StoreCore::loadList(const QString&, const QString&,
                                               std::optional<Note> (*)(const QJsonValue&, QString*), QStringList&,
                                               std::function<std::optional<std::vector<Note>>(const QByteArray&)>,
                                               const PrereadFile<Note>*);
template std::vector<BlockRule>
StoreCore::loadList(const QString&, const QString&, std::optional<BlockRule> (*)(const QJsonValue&, QString*),
                    QStringList&, std::function<std::optional<std::vector<BlockRule>>(const QByteArray&)>,
                    const PrereadFile<BlockRule>*);

void StoreCore::prepareFolder(const QStringList& files)
{
    FileSafety::keepPrivate(m_fileStore.folderPath(), files);
    FileSafety::removeStaleTemporaries(m_fileStore.folderPath(), files);
    // A folder that cannot be looked into looks empty: say so, and write nothing over what it
    // may hold.
    const QByteArray root = QFile::encodeName(m_fileStore.folderPath());
    if (::access(root.constData(), R_OK | X_OK) != 0 && errno != ENOENT) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        for (const QString& name : files)
            m_unbackedFiles.insert(name);
        m_unreadableFolder = QStringLiteral("The data folder “%1” can't be read (%2). Nothing was loaded from it, "
                                            "and nothing is written there until it can be read.")
                                 .arg(m_fileStore.folderPath(), why);
        recordFailure(folderNoticeSource, *m_unreadableFolder);
    }
}

// ---------------------------------------------------------------- writes on the writing thread

FileWrite StoreCore::writeInBackground(const QString& name, BackgroundWriter::Encoder encode)
{
    if (const std::optional<QString> why = writeRefusal(name))
        return FileWrite::refused(*why);
    if (!m_writer) {
        m_writer = std::make_unique<BackgroundWriter>(
            [saveFiles = m_env.saveFiles](const QString& path, const QByteArray& bytes, QString* reason) {
                return FileSafety::writeAtomically(path, bytes, reason, saveFiles);
            });
        connect(m_writer.get(), &BackgroundWriter::written, this, &StoreCore::backgroundWritten);
    }
    m_backgroundAsked.insert(name, m_writer->write(m_fileStore.filePath(name), std::move(encode)));
    return FileWrite::done();
}

void StoreCore::backgroundWritten(const QString& path, quint64 generation, bool ok, const QString& error)
{
    const QString name = QFileInfo(path).fileName();
    m_backgroundAnswered.insert(name, std::max(generation, m_backgroundAnswered.value(name)));
    // A newer write of the file, here or there, decides.
    const bool newest = generation > m_backgroundOvertaken.value(name) && generation >= m_backgroundAsked.value(name);
    const auto watcher = m_outcomeWatchers.constFind(name);
    const bool takenBack = watcher != m_outcomeWatchers.cend() && (*watcher)(generation, newest, ok);
    if (!newest) {
        settleWriteWaiters();
        return;
    }
    if (ok) {
        m_unwrittenFiles.remove(name);
        clearFailure(name);
        settleWriteWaiters();
        return;
    }
    const QString message = QStringLiteral("“%1” could not be saved: %2").arg(name, error);
    if (takenBack) {
        // What is held is what is on disk again: the failure is news, not a write still owed.
        m_unwrittenFiles.remove(name);
        recordFailure(name, message);
        settleWriteWaiters();
        emit writeTakenBack(name);
        return;
    }
    m_unwrittenFiles.insert(name, message);
    recordFailure(name, message);
    // Those waiting learn of the failure before anyone who hears of it.
    settleWriteWaiters();
    emit backgroundWriteFailed(message);
}

bool StoreCore::isWriting(const QString& name) const
{
    const quint64 asked = m_backgroundAsked.value(name);
    return asked > m_backgroundAnswered.value(name) && asked > m_backgroundOvertaken.value(name);
}

QFuture<void> StoreCore::whenWritten(const QStringList& names)
{
    QPromise<void> promise;
    QFuture<void> future = promise.future();
    promise.start();
    if (std::none_of(names.cbegin(), names.cend(), [this](const QString& n) { return isWriting(n); })) {
        promise.finish();
        return future;
    }
    m_writeWaiters.push_back({names, std::move(promise)});
    return future;
}

void StoreCore::settleWriteWaiters()
{
    for (auto it = m_writeWaiters.begin(); it != m_writeWaiters.end();) {
        if (std::any_of(it->names.cbegin(), it->names.cend(), [this](const QString& n) { return isWriting(n); })) {
            ++it;
            continue;
        }
        QPromise<void> promise = std::move(it->promise);
        it = m_writeWaiters.erase(it);
        promise.finish();
    }
}

void StoreCore::waitForFile(const QString& name)
{
    if (m_writer)
        m_writer->waitFor(m_fileStore.filePath(name));
}

void StoreCore::waitForWrites()
{
    if (!m_writer)
        return;
    m_writer->finish();
    // Their outcomes too, which wait in this thread's queue.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

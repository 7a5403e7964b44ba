#include "store/DataPreread.h"

#include "model/LenientJson.h"
#include "model/TodosFileReading.h"
#include "store/NoteStore.h"
#include "store/TodoStore.h"
#include "system/MemoryReturn.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

DataPreread::Identity identityOfStat(const struct stat& info)
{
    return {true,
            static_cast<quint64>(info.st_dev),
            static_cast<quint64>(info.st_ino),
            static_cast<qint64>(info.st_size),
            static_cast<qint64>(info.st_mtim.tv_sec),
            static_cast<qint64>(info.st_mtim.tv_nsec)};
}

// The whole file and the identity of what was read. A file that cannot be opened for another
// reason than its absence counts as existing and unreadable, as the store's own reading has it.
template <typename T> PrereadFile<T> readFile(const QString& path, DataPreread::Identity* identity)
{
    PrereadFile<T> file;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        file.exists = errno != ENOENT;
        *identity = DataPreread::identityOf(path);
        return file;
    }
    file.exists = true;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        *identity = {};
        return file;
    }
    qint64 size = info.st_size;
    QByteArray bytes(size, Qt::Uninitialized);
    // Its new pages are taken here, a write to each: taken by read() instead, in the kernel, each
    // takes the process's memory-map lock, and the main thread mapping libraries and fonts at the
    // same time waits for it.
    for (qsizetype page = 0; page < bytes.size(); page += 4096)
        bytes.data()[page] = 0;
    qint64 done = 0;
    bool ok = true;
    while (ok) {
        if (done == bytes.size())
            bytes.resize(bytes.size() + 4096); // the file grew: read on to its end
        const ssize_t n = ::read(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n >= 0;
        if (n <= 0)
            break;
        done += n;
    }
    bytes.truncate(done);
    // Identified after the read: a write during it changes the identity, so the text is not used.
    struct stat after {};
    *identity = ::fstat(fd, &after) == 0 && ok && identityOfStat(after) == identityOfStat(info)
                    ? identityOfStat(after)
                    : DataPreread::Identity{};
    ::close(fd);
    file.readOK = ok;
    file.bytes = std::move(bytes);
    return file;
}

} // namespace

DataPreread::DataPreread(QString folder, QStringList preferencesPaths, std::function<void()> afterTodosText)
    : m_todosPath(QDir(folder).filePath(TodoStore::fileName)), m_notesPath(QDir(folder).filePath(NoteStore::fileName)),
      m_afterTodosText(std::move(afterTodosText)), m_todosTextRead(m_todosTextDone.get_future()),
      m_todosFinished(m_todosFinishDone.get_future()), m_notesRead(m_notesDone.get_future()),
      m_preferences(preferencesPaths.begin(), preferencesPaths.end()), m_defaultsRead(m_defaultsDone.get_future()),
      m_laterDefaultsRead(m_laterDefaultsDone.get_future())
{
    // Sized before the reader starts; a file that changes size meanwhile is read all the same, by
    // as many as were planned.
    struct stat info {};
    if (::stat(QFile::encodeName(m_todosPath).constData(), &info) == 0) {
        m_todosFileSize = info.st_size;
        m_readers = readersFor(info.st_size);
    }
    m_thread = std::thread([this] { run(); });
    // Wanted before the window shows, while the to-dos may still be being read.
    if (m_preferences.size() > 1)
        m_laterThread = std::thread([this] {
            ::setpriority(PRIO_PROCESS, ::gettid(), readerNiceness);
            for (size_t i = 1; i < m_preferences.size(); ++i)
                readPreferences(m_preferences[i]);
            m_laterDefaultsDone.set_value();
        });
    else
        m_laterDefaultsDone.set_value();
}

int DataPreread::readersFor(qint64 bytes)
{
    if (bytes < largeText)
        return 1;
    const int parts = int(std::clamp<qint64>(bytes / partBytes, 1, mostParts));
    const int processors = int(std::thread::hardware_concurrency());
    return 1 + std::max(0, std::min({parts - 1, processors - 2, mostHelpers}));
}

DataPreread::~DataPreread()
{
    wait();
}

void DataPreread::run()
{
    // Behind the main thread: they share a processor often enough, and the toolkit's start there
    // is what the window waits for. What the readers have not come to when the store wants it,
    // the main thread reads itself. Not far behind, though: a store that comes while the reader
    // puts the to-dos together waits for it.
    ::setpriority(PRIO_PROCESS, ::gettid(), readerNiceness);
    // The preferences first, as their owner wants them first.
    if (!m_preferences.empty())
        readPreferences(m_preferences.front());
    m_defaultsDone.set_value();

    static_cast<PrereadFile<TaskItem>&>(m_todosFile) = readFile<TaskItem>(m_todosPath, &m_todosIdentity);
    // A text with a record too long to decode is left to the store, which keeps the file aside.
    // Looking for one takes a pass over the whole text, which a long list cannot spare before its
    // parts are shared out: the parts' readers measure each to-do as they go (finishTodos).
    if (m_todosFile.readOK) {
        const int parts = int(std::clamp<qsizetype>(m_todosFile.bytes.size() / partBytes, 1, mostParts));
        m_todosReading = std::make_unique<TodosTextReading>(m_todosFile.bytes, parts, true, true);
    }
    m_todosTextDone.set_value();
    if (m_afterTodosText)
        m_afterTodosText();
    // A long list is read by a few threads at once: fifty thousand to-dos take one thread about as
    // long as the toolkit's whole start, and on a busy machine a reader alone falls far behind.
    // Each grows its heap at once for its share: the to-dos decoded, and the writer's copies of
    // them, take about twice their text.
    std::vector<std::jthread> helpers;
    if (m_todosReading) {
        const int readers = std::min(m_readers, int(m_todosReading->parts()));
        const qint64 share = m_todosFile.bytes.size() >= largeText ? 2 * m_todosFile.bytes.size() / readers : 0;
        const auto read = [this, share] {
            if (share > 0)
                MemoryReturn::growThreadHeap(share);
            m_todosReading->readParts();
        };
        for (int i = 1; i < readers; ++i)
            helpers.emplace_back(read);
        read();
    }
    // Put together here too, while the store has often not come yet: the list joined and the
    // writer's record of it made are then off the main thread's way to the window.
    if (!m_todosFinishTaken.exchange(true))
        finishTodos();
    helpers.clear();
    if (!m_notesReadTaken.exchange(true))
        readNotes();
}

void DataPreread::readPreferences(Preferences& preferences)
{
    PrereadFile<QJsonObject> file = readFile<QJsonObject>(preferences.path, &preferences.identity);
    QJsonParseError error{};
    const QJsonDocument document = file.readOK ? QJsonDocument::fromJson(file.bytes, &error) : QJsonDocument();
    if (file.readOK && error.error == QJsonParseError::NoError && document.isObject())
        file.decoded = std::vector<QJsonObject>{document.object()};
    file.bytes.clear();
    preferences.file = std::move(file);
}

void DataPreread::finishTodos()
{
    PrereadTodos todos = std::move(m_todosFile);
    if (m_todosReading) {
        std::vector<TextSpan> spans;
        std::vector<std::vector<TaskItem>> copies;
        todos.decoded = m_todosReading->finish(&spans, &copies);
        // A span holds its to-do's text and at most the white space before it: none longer than a
        // record may be, and no record is. Only a longer one takes the exact look.
        const bool longSpan = std::any_of(spans.begin(), spans.end(), [](const TextSpan& span) {
            return span.second > LenientJson::maximumRecordBytes;
        });
        if (longSpan && LenientJson::holdsOversizedRecord(todos.bytes)) {
            todos.decoded.reset();
            copies.clear();
        }
        if (todos.decoded)
            todos.writer.adopt(std::move(copies), todos.bytes, spans);
    }
    m_todos = std::move(todos);
    m_todosFinishDone.set_value();
    const std::lock_guard lock(m_tellMutex);
    m_todosTold = true;
    if (m_tellTodosRead)
        std::exchange(m_tellTodosRead, {})();
}

void DataPreread::whenTodosRead(std::function<void()> tell)
{
    const std::lock_guard lock(m_tellMutex);
    if (m_todosTold && tell)
        tell();
    else
        m_tellTodosRead = std::move(tell);
}

void DataPreread::readNotes()
{
    PrereadFile<Note> notes = readFile<Note>(m_notesPath, &m_notesIdentity);
    if (notes.readOK && !LenientJson::holdsOversizedRecord(notes.bytes))
        notes.decoded = decodeNotesFileText(notes.bytes);
    m_notes = std::move(notes);
    m_notesDone.set_value();
}

void DataPreread::wait()
{
    if (m_thread.joinable())
        m_thread.join();
    if (m_laterThread.joinable())
        m_laterThread.join();
}

DataPreread::Identity DataPreread::identityOf(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return identityOfStat(info);
}

template <typename Read>
std::optional<Read> DataPreread::take(std::optional<Read>& slot, const Identity& identity, const QString& ownPath,
                                      const QString& path)
{
    std::optional<Read> read = std::move(slot);
    slot.reset();
    if (!read || QDir::cleanPath(path) != QDir::cleanPath(ownPath))
        return std::nullopt;
    // Absent then and now, or the very file that was read.
    const Identity now = identityOf(path);
    if (read->exists ? !(identity.exists && identity == now) : now.exists)
        return std::nullopt;
    return read;
}

std::optional<PrereadTodos> DataPreread::takeTodos(const QString& path)
{
    m_todosTextRead.wait();
    // Before the reader has come to the end of the parts, this thread reads those left and waits
    // only for the ones under way. The reading itself stays until the reader has left it: it may
    // still be looking for a part when the last one is read.
    if (!m_todosFinishTaken.exchange(true))
        finishTodos();
    else
        m_todosFinished.wait();
    return take(m_todos, m_todosIdentity, m_todosPath, path);
}

std::optional<PrereadFile<Note>> DataPreread::takeNotes(const QString& path)
{
    if (!m_notesReadTaken.exchange(true))
        readNotes();
    else
        m_notesRead.wait();
    return take(m_notes, m_notesIdentity, m_notesPath, path);
}

std::optional<QJsonObject> DataPreread::takeDefaults(const QString& path)
{
    const auto it = std::find_if(m_preferences.begin(), m_preferences.end(), [&path](const Preferences& p) {
        return QDir::cleanPath(p.path) == QDir::cleanPath(path);
    });
    if (it == m_preferences.end())
        return std::nullopt;
    if (it != m_preferences.begin())
        m_laterDefaultsRead.wait();
    else
        m_defaultsRead.wait();
    const std::optional<PrereadFile<QJsonObject>> read = take(it->file, it->identity, it->path, path);
    if (!read || !read->decoded || read->decoded->size() != 1)
        return std::nullopt;
    return read->decoded->front();
}

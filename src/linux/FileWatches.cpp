#include "linux/FileWatches.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSocketNotifier>
#include <cerrno>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

// What QFileSystemWatcher asks for, so that callers hear of what they heard of before.
constexpr uint32_t folderEvents = IN_ATTRIB | IN_MOVE | IN_CREATE | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr uint32_t fileEvents = IN_ATTRIB | IN_MODIFY | IN_MOVE | IN_MOVE_SELF | IN_DELETE_SELF;
// Running a program opens its file, and the file is closed when the last process holding it ends;
// an upgrade unlinks it (its link count changes) or moves another one over it.
constexpr uint32_t programEvents = IN_OPEN | IN_CLOSE_NOWRITE | IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF;

} // namespace

FileWatches& FileWatches::shared()
{
    static FileWatches* watches = new FileWatches(true); // lives as long as the program
    return *watches;
}

FileWatches::FileWatches(bool usable, QObject* parent) : QObject(parent)
{
    if (!usable)
        return;
    m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0)
        return;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &FileWatches::readEvents);
}

FileWatches::~FileWatches()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int FileWatches::add(const QString& path, Changed changed)
{
    return addWatch(path, QFileInfo(path).isDir() ? folderEvents : fileEvents, std::move(changed));
}

int FileWatches::addProgram(const QString& path, Changed changed)
{
    return addWatch(path, programEvents, std::move(changed));
}

int FileWatches::addWatch(const QString& path, uint32_t events, Changed changed)
{
    if (m_fd < 0)
        return -1;
    // IN_MASK_ADD: a path another caller watches keeps what that one asked for.
    const int descriptor = inotify_add_watch(m_fd, QFile::encodeName(path).constData(), events | IN_MASK_ADD);
    if (descriptor < 0)
        return -1;
    const int id = m_nextId++;
    m_watches.insert(id, Watch{descriptor, std::move(changed)});
    m_idsByDescriptor[descriptor].append(id);
    return id;
}

void FileWatches::remove(int id)
{
    const auto it = m_watches.find(id);
    if (it == m_watches.end())
        return;
    const int descriptor = it->descriptor;
    m_watches.erase(it);
    if (descriptor < 0)
        return;
    QList<int>& ids = m_idsByDescriptor[descriptor];
    ids.removeAll(id);
    if (ids.isEmpty()) {
        m_idsByDescriptor.remove(descriptor);
        inotify_rm_watch(m_fd, descriptor);
    }
}

bool FileWatches::watching(int id) const
{
    const auto it = m_watches.constFind(id);
    return it != m_watches.cend() && it->descriptor >= 0;
}

void FileWatches::readEvents()
{
    QSet<int> touched, ended;
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (char* p = buffer; p < buffer + n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(p);
            touched.insert(event->wd);
            if (event->mask & IN_IGNORED)
                ended.insert(event->wd);
            p += sizeof(inotify_event) + event->len;
        }
    }
    // The callers to tell, worked out first: a call may add or remove watches.
    QList<int> ids;
    for (const int descriptor : std::as_const(touched))
        ids += m_idsByDescriptor.value(descriptor);
    // The kernel dropped these watches (their paths went): their ids stay until removed, watching
    // nothing.
    for (const int descriptor : std::as_const(ended))
        for (const int id : m_idsByDescriptor.take(descriptor))
            m_watches[id].descriptor = -1;
    for (const int id : std::as_const(ids))
        if (const auto it = m_watches.constFind(id); it != m_watches.cend()) {
            const Changed changed = it->changed; // the call may remove its own watch
            changed();
        }
}

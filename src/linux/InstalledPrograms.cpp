#include "linux/InstalledPrograms.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

void InstalledPrograms::forget()
{
    m_answers.clear();
    // A folder may have appeared or gone: which one stands for it is worked out again.
    m_watching = false;
}

void InstalledPrograms::watchFolders()
{
    m_watching = true;
    m_pathFolders.clear();
    for (const QString& folder : qEnvironmentVariable("PATH").split(u':', Qt::SkipEmptyParts))
        m_pathFolders.append(QDir::cleanPath(QDir::current().absoluteFilePath(folder)));
    m_applicationFolders = QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    QStringList wanted;
    for (const QString& folder : m_pathFolders + m_applicationFolders) {
        // The nearest folder that exists: the one that tells when this one is made.
        QString existing = QDir::cleanPath(folder);
        while (!QFileInfo(existing).isDir()) {
            const QString above = QFileInfo(existing).path();
            if (above == existing)
                break;
            existing = above;
        }
        if (QFileInfo(existing).isDir() && !wanted.contains(existing))
            wanted.append(existing);
    }
    if (!m_watcher) {
        m_watcher = std::make_unique<QFileSystemWatcher>();
        QObject::connect(m_watcher.get(), &QFileSystemWatcher::directoryChanged, m_watcher.get(), [this] { forget(); });
    }
    if (const QStringList old = m_watcher->directories(); !old.isEmpty())
        m_watcher->removePaths(old);
    m_allWatched = m_watcher->addPaths(wanted).isEmpty();
}

bool InstalledPrograms::anyInstalled(const QStringList& executables, qint64 nowMs)
{
    if (!m_watching)
        watchFolders();
    const QString key = executables.join(u'\n');
    if (const auto it = m_answers.constFind(key);
        it != m_answers.cend() && (m_allWatched || nowMs - it->atMs < unwatchedAnswerMs))
        return it->installed;
    ++m_lookups;
    const bool installed = find(executables);
    m_answers.insert(key, {installed, nowMs});
    return installed;
}

bool InstalledPrograms::find(const QStringList& executables) const
{
    for (const QString& executable : executables) {
        if (!QStandardPaths::findExecutable(executable, m_pathFolders).isEmpty())
            return true;
        for (const QString& folder : m_applicationFolders)
            if (QFileInfo::exists(QDir(folder).filePath(executable + QStringLiteral(".desktop"))))
                return true;
    }
    return false;
}

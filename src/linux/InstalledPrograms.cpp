#include "linux/InstalledPrograms.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

bool InstalledPrograms::anyInstalled(const QStringList& executables, qint64 nowMs)
{
    const QString key = executables.join(u'\n');
    if (const auto it = m_answers.constFind(key); it != m_answers.cend() && nowMs - it->atMs < answerMs)
        return it->installed;
    ++m_lookups;
    const bool installed = find(executables);
    m_answers.insert(key, {installed, nowMs});
    return installed;
}

bool InstalledPrograms::find(const QStringList& executables) const
{
    // Read afresh at each look: an environment changed since counts.
    QStringList pathFolders;
    for (const QString& folder : qEnvironmentVariable("PATH").split(u':', Qt::SkipEmptyParts))
        pathFolders.append(QDir::cleanPath(QDir::current().absoluteFilePath(folder)));
    const QStringList applicationFolders = QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    for (const QString& executable : executables) {
        if (!QStandardPaths::findExecutable(executable, pathFolders).isEmpty())
            return true;
        for (const QString& folder : applicationFolders)
            if (QFileInfo::exists(QDir(folder).filePath(executable + QStringLiteral(".desktop"))))
                return true;
    }
    return false;
}

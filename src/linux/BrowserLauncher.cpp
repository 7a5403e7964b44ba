#include "linux/BrowserLauncher.h"

#include "files/FileSafety.h"
#include "linux/LinuxBrowsers.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>

namespace BrowserLauncher {

namespace {

// The browsers whose branded builds refuse remote debugging on their default profile.
bool needsOwnProfile(const LinuxBrowserIdentity& identity)
{
    return identity.browserId == QLatin1String("chrome") || identity.browserId == QLatin1String("edge");
}

// In every launcher written here, so a later write knows it replaces its own.
const QByteArray ownMarker = QByteArrayLiteral("so Quillharbour can keep blocked sites away");

// The Icon= of a launcher's main group; empty when it has none or cannot be read.
QString iconOf(const QString& launcherPath)
{
    QFile file(launcherPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    bool mainGroup = false;
    for (const QByteArray& raw : file.read(1 << 20).split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('['))
            mainGroup = line == "[Desktop Entry]";
        else if (mainGroup && line.startsWith("Icon="))
            return QString::fromUtf8(line.mid(5)).trimmed();
    }
    return {};
}

// An icon value that cannot break out of its line or the entry.
bool safeIcon(const QString& icon)
{
    return !icon.isEmpty() && icon.size() <= 1024 &&
           std::none_of(icon.cbegin(), icon.cend(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

} // namespace

std::optional<Plan> plan(const LinuxBrowserIdentity& identity, const QString& home)
{
    if (identity.profileFolder.isEmpty())
        return std::nullopt;
    for (const QString& command : identity.executables) {
        const QString path = QStandardPaths::findExecutable(command);
        if (path.isEmpty())
            continue;
        Plan p;
        p.executable = QFileInfo(path).absoluteFilePath();
        p.fileName = identity.executables.constFirst() + QStringLiteral(".desktop");
        p.icon = identity.executables.constFirst();
        // Keep the name and the icon of the launcher the system has, so that this one takes its
        // place in menus and docks.
        for (const QString& c : identity.executables) {
            const QString system =
                QStandardPaths::locate(QStandardPaths::ApplicationsLocation, c + QStringLiteral(".desktop"));
            if (!system.isEmpty()) {
                p.fileName = c + QStringLiteral(".desktop");
                if (const QString icon = iconOf(system); safeIcon(icon))
                    p.icon = icon;
                break;
            }
        }
        if (needsOwnProfile(identity))
            p.profile = LinuxBrowsers::homeFolder(home, identity.profileFolder + QStringLiteral("-quillharbour"));
        return p;
    }
    return std::nullopt;
}

QString execArgument(const QString& argument)
{
    // Inside double quotes the desktop entry rules reserve ", `, $ and \, escaped with a
    // backslash; the value is itself a string whose backslashes are doubled; a literal % is %%.
    QString quoted;
    for (const QChar c : argument) {
        if (c == u'\\')
            quoted += QStringLiteral("\\\\\\\\");
        else if (c == u'"' || c == u'`' || c == u'$')
            quoted += QStringLiteral("\\\\") + c;
        else
            quoted += c == u'%' ? QStringLiteral("%%") : QString(c);
    }
    return u'"' + quoted + u'"';
}

QString entry(const QString& name, const Plan& plan)
{
    QStringList exec{execArgument(plan.executable), execArgument(QStringLiteral("--remote-debugging-port=0"))};
    if (!plan.profile.isEmpty())
        exec.append(execArgument(QStringLiteral("--user-data-dir=") + plan.profile));
    exec.append(QStringLiteral("%U"));
    QString clean = name;
    clean.replace(u'\n', u' ').replace(u'\r', u' ');
    const QString icon = safeIcon(plan.icon) ? QStringLiteral("Icon=%1\n").arg(plan.icon) : QString();
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Version=1.0\n"
                          "Name=%1\n"
                          "Comment=Started with remote debugging, so Quillharbour can keep blocked sites away\n"
                          "Exec=%2\n"
                          "%3"
                          "Terminal=false\n"
                          "Categories=Network;WebBrowser;\n"
                          "MimeType=text/html;x-scheme-handler/http;x-scheme-handler/https;\n")
        .arg(clean, exec.join(u' '), icon);
}

std::optional<QString> write(const QString& name, const Plan& plan, const QString& applicationsFolder, QString* keptAs)
{
    const QString path = QDir(applicationsFolder).filePath(plan.fileName);
    const QByteArray text = entry(name, plan).toUtf8();
    std::optional<QByteArray> before;
    if (QFileInfo::exists(path)) {
        QFile existing(path);
        if (!existing.open(QIODevice::ReadOnly))
            return QStringLiteral("Could not read %1: %2").arg(path, existing.errorString());
        before = existing.readAll();
    }
    // Someone's own launcher (not one written here) is worth keeping.
    QString backup;
    if (before && *before != text && !before->contains(ownMarker)) {
        backup = path + QStringLiteral(".before-quillharbour");
        if (!FileSafety::writeAtomically(backup, *before))
            return QStringLiteral("Could not keep a copy of %1.").arg(path);
    }
    const auto undo = [&] {
        if (before)
            FileSafety::writeAtomically(path, *before);
        else
            QFile::remove(path);
        if (!backup.isEmpty())
            QFile::remove(backup);
    };
    if (!QDir().mkpath(applicationsFolder) || !FileSafety::writeAtomically(path, text)) {
        if (!backup.isEmpty())
            QFile::remove(backup);
        return QStringLiteral("Could not write %1.").arg(path);
    }
    if (keptAs)
        *keptAs = backup;
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        return std::nullopt;
    QProcess check;
    check.start(validator, {path});
    if (!check.waitForFinished(10000)) {
        check.kill();
        check.waitForFinished(1000);
        return std::nullopt; // the file is written; only the check could not finish
    }
    if (check.exitStatus() != QProcess::NormalExit || check.exitCode() != 0) {
        const QString why = QString::fromLocal8Bit(check.readAllStandardOutput() + check.readAllStandardError());
        undo();
        if (keptAs)
            keptAs->clear();
        return QStringLiteral("The launcher was refused: %1").arg(why.trimmed().left(400));
    }
    return std::nullopt;
}

} // namespace BrowserLauncher

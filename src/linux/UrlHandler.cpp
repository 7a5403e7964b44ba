#include "linux/UrlHandler.h"

#include "linux/UserInstaller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace UrlHandler {

namespace {

bool writeAtomically(const QString& path, const QByteArray& bytes, QString* error)
{
    QSaveFile file(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !file.open(QIODevice::WriteOnly) ||
        file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("Couldn't write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

// A string value's escapes, as the desktop entry specification reads them first.
QString unescapeValue(const QString& value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value.at(++i);
        if (next == QLatin1Char('s'))
            out += QLatin1Char(' ');
        else if (next == QLatin1Char('n'))
            out += QLatin1Char('\n');
        else if (next == QLatin1Char('t'))
            out += QLatin1Char('\t');
        else if (next == QLatin1Char('r'))
            out += QLatin1Char('\r');
        else
            out += next;
    }
    return out;
}

bool isSameProgram(const QString& a, const QString& b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

} // namespace

Places defaultPlaces()
{
    Places places{QDir::homePath(),
                  QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation),
                  QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
                  {}};
    QFile icon(QStringLiteral(":/app-icon.png"));
    if (icon.open(QIODevice::ReadOnly))
        places.iconPng = icon.readAll();
    return places;
}

QString entryExecutable(const QByteArray& entry)
{
    bool inMainGroup = false;
    for (const QByteArray& rawLine : entry.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup || !line.startsWith(QLatin1String("Exec=")))
            continue;
        const QString command = unescapeValue(line.mid(5));
        QString program;
        if (command.startsWith(QLatin1Char('"'))) {
            qsizetype i = 1;
            for (; i < command.size() && command.at(i) != QLatin1Char('"'); ++i) {
                if (command.at(i) == QLatin1Char('\\') && i + 1 < command.size())
                    ++i;
                program += command.at(i);
            }
            if (i == command.size()) // no closing quote: not a command at all
                return {};
        } else {
            program = command.section(QLatin1Char(' '), 0, 0);
        }
        return program.replace(QStringLiteral("%%"), QStringLiteral("%"));
    }
    return {};
}

bool setDefault(const QString& configHome, const QString& entryName, QString* error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    const QString path = QDir(configHome).filePath(QStringLiteral("mimeapps.list"));
    QFile file(path);
    QByteArray text;
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("Couldn't read %1: %2").arg(path, file.errorString());
            return false;
        }
        text = file.readAll();
        file.close();
    }
    const QByteArray wanted = (mimeType + QLatin1Char('=') + entryName + QLatin1Char(';')).toUtf8();
    const QByteArray key = (mimeType + QLatin1Char('=')).toUtf8();
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    qsizetype section = -1;
    qsizetype sectionEnd = lines.size();
    qsizetype existing = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        if (line.startsWith('[')) {
            if (section >= 0 && sectionEnd == lines.size())
                sectionEnd = i;
            if (line == "[Default Applications]" && section < 0)
                section = i;
        } else if (section >= 0 && sectionEnd == lines.size() && line.startsWith(key)) {
            existing = i;
        }
    }
    if (existing >= 0) {
        if (lines.at(existing).trimmed() == wanted)
            return true;
        lines[existing] = wanted;
    } else if (section >= 0) {
        // After the group's last entry, before any blank lines that part it from the next group.
        qsizetype at = sectionEnd;
        while (at > section + 1 && lines.at(at - 1).trimmed().isEmpty())
            --at;
        lines.insert(at, wanted);
    } else {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines.append(QByteArray());
        lines.append("[Default Applications]");
        lines.append(wanted);
    }
    return writeAtomically(path, lines.join('\n') + '\n', error);
}

bool registerAtStart(const QString& executable, const Places& places, QString* error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    const QString entryPath =
        QDir(places.dataHome).filePath(QStringLiteral("applications/") + UserInstaller::entryName);
    QFile entry(entryPath);
    const QByteArray text = entry.open(QIODevice::ReadOnly) ? entry.readAll() : QByteArray();
    const QString current = entryExecutable(text);
    const bool usable = !current.isEmpty() && QFileInfo(current).isExecutable();
    const bool keep =
        usable && (isSameProgram(current, executable) || (!UserInstaller::shouldOfferMove(current, places.home) &&
                                                          UserInstaller::shouldOfferMove(executable, places.home)));
    // Without its icon the program shows as a generic one in the desktop's menus and task bars.
    // An icon that cannot be written costs the entry its icon, not its links.
    QString iconError;
    const QString icon = UserInstaller::iconPath(places.dataHome);
    const bool hasIcon =
        (!places.iconPng.isEmpty() && UserInstaller::writeIcon(places.dataHome, places.iconPng, &iconError)) ||
        QFileInfo::exists(icon);
    const QString named = UserInstaller::entryIcon(text);
    const bool iconShown = !named.isEmpty() && (!QDir::isAbsolutePath(named) || QFileInfo::exists(named));
    if (!keep || (hasIcon && !iconShown)) {
        if (!writeAtomically(
                entryPath, UserInstaller::desktopEntry(keep ? current : executable, hasIcon ? icon : QString()), error))
            return false;
    }
    return setDefault(places.configHome, UserInstaller::entryName, error);
}

} // namespace UrlHandler

#include "linux/FirefoxEdition.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

namespace FirefoxEdition {

Channel channel(const QString& folder)
{
    QFile prefs(QDir(folder).filePath(QStringLiteral("defaults/pref/channel-prefs.js")));
    if (!prefs.open(QIODevice::ReadOnly))
        return Channel::unknown;
    // One line matters in a file of a few hundred bytes.
    static const QRegularExpression pref(
        QStringLiteral(R"re(pref\(\s*"app\.update\.channel"\s*,\s*"([a-z-]+)"\s*\))re"));
    const QRegularExpressionMatch m = pref.match(QString::fromUtf8(prefs.read(16 * 1024)));
    if (!m.hasMatch())
        return Channel::unknown;
    const QString name = m.captured(1);
    if (name == QLatin1String("release"))
        return Channel::release;
    if (name == QLatin1String("beta"))
        return Channel::beta;
    if (name.startsWith(QLatin1String("esr")))
        return Channel::esr;
    if (name == QLatin1String("aurora"))
        return Channel::developer;
    if (name == QLatin1String("nightly"))
        return Channel::nightly;
    return Channel::unknown;
}

QStringList installFolders()
{
    QStringList folders;
    const auto add = [&folders](const QString& folder) {
        if (QFileInfo(QDir(folder).filePath(QStringLiteral("application.ini"))).isFile() && !folders.contains(folder))
            folders.append(folder);
    };
    // Debian's firefox is a script that starts the program under /usr/lib; the others link there.
    for (const char* name : {"firefox", "firefox-esr", "firefox-developer-edition", "firefox-nightly"}) {
        const QString program = QStandardPaths::findExecutable(QLatin1String(name));
        if (!program.isEmpty())
            add(QFileInfo(QFileInfo(program).canonicalFilePath()).absolutePath());
    }
    for (const char* folder : {"/usr/lib/firefox", "/usr/lib/firefox-esr", "/usr/lib64/firefox", "/opt/firefox",
                               "/opt/firefox-developer-edition", "/snap/firefox/current/usr/lib/firefox"})
        add(QLatin1String(folder));
    return folders;
}

bool loadsUnsigned(const QStringList& folders)
{
    if (folders.isEmpty())
        return true;
    for (const QString& folder : folders) {
        const Channel c = channel(folder);
        if (c != Channel::release && c != Channel::beta)
            return true;
    }
    return false;
}

} // namespace FirefoxEdition

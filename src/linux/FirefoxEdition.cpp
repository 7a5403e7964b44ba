#include "linux/FirefoxEdition.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// Skips spaces from `at`; then whether `text` there is `word`, and where it ends.
bool takeWord(const QString& text, qsizetype& at, QLatin1String word)
{
    while (at < text.size() && text.at(at).isSpace())
        ++at;
    if (!QStringView(text).mid(at).startsWith(word))
        return false;
    at += word.size();
    return true;
}

// The channel the preference names (lower-case letters, digits and dashes), or nothing.
QString channelName(const QString& prefs)
{
    for (qsizetype from = 0; (from = prefs.indexOf(QLatin1String("pref("), from)) >= 0;) {
        qsizetype at = from + 5;
        from = at;
        if (!takeWord(prefs, at, QLatin1String("\"app.update.channel\"")) || !takeWord(prefs, at, QLatin1String(",")) ||
            !takeWord(prefs, at, QLatin1String("\"")))
            continue;
        const qsizetype start = at;
        const auto inName = [](QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-'; };
        while (at < prefs.size() && inName(prefs.at(at)))
            ++at;
        const qsizetype end = at;
        if (end > start && takeWord(prefs, at, QLatin1String("\"")) && takeWord(prefs, at, QLatin1String(")")))
            return prefs.mid(start, end - start);
    }
    return {};
}

} // namespace

namespace FirefoxEdition {

Channel channel(const QString& folder)
{
    QFile prefs(QDir(folder).filePath(QStringLiteral("defaults/pref/channel-prefs.js")));
    if (!prefs.open(QIODevice::ReadOnly))
        return Channel::unknown;
    // One line matters in a file of a few hundred bytes: pref("app.update.channel", "<name>").
    // Read by hand: a regular expression, asked at every start, would load its compiler for good.
    const QString name = channelName(QString::fromUtf8(prefs.read(16 * 1024)));
    if (name.isEmpty())
        return Channel::unknown;
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

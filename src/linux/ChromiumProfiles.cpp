#include "linux/ChromiumProfiles.h"

#include "linux/FileWatches.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace ChromiumProfiles {

namespace {

// The file's JSON object, or nothing when it is missing, past `limit` or not an object.
std::optional<QJsonObject> readObject(const QString& path, qint64 limit)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > limit)
        return std::nullopt;
    const QByteArray bytes = file.read(limit + 1);
    if (bytes.size() > limit)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

// A profile's folder as the list names it: one plain name inside the data folder.
bool isProfileFolder(const QString& name)
{
    return !name.isEmpty() && name.size() <= 255 && !name.contains(u'/') && !name.contains(QChar(0)) &&
           name != QLatin1String(".") && name != QLatin1String("..");
}

bool turnedOff(const QJsonObject& entry)
{
    const QJsonValue reasons = entry.value(QLatin1String("disable_reasons"));
    if (reasons.isArray() && !reasons.toArray().isEmpty())
        return true;
    if (reasons.isDouble() && reasons.toDouble() != 0)
        return true;
    // Older browsers kept a state instead: 0 is off.
    const QJsonValue state = entry.value(QLatin1String("state"));
    return state.isDouble() && state.toDouble() == 0;
}

QString key(const QString& path, const QStringList& extensionIds)
{
    return path + u'\n' + extensionIds.join(u',');
}

} // namespace

QString policyFolder(const QString& browserId)
{
    static const QHash<QString, QString> folders{
        {QStringLiteral("chromium"), QStringLiteral("/etc/chromium/policies/managed")},
        {QStringLiteral("chrome"), QStringLiteral("/etc/opt/chrome/policies/managed")},
        {QStringLiteral("edge"), QStringLiteral("/etc/opt/edge/policies/managed")},
        {QStringLiteral("brave"), QStringLiteral("/etc/brave/policies/managed")},
    };
    return folders.value(browserId);
}

Reader::~Reader()
{
    if (m_watches)
        for (const Watch& w : std::as_const(m_watched))
            m_watches->remove(w.id);
}

void Reader::watchFiles(FileWatches* watches, std::function<void()> changed)
{
    m_watches = watches;
    m_changed = std::move(changed);
}

void Reader::watch(const QString& path, bool exists)
{
    if (!m_watches)
        return;
    // A file not written yet is heard of in its folder; once written, in itself. The browser
    // replaces its files whole, which ends the watch: the reading that follows watches the new one.
    const QString target = exists ? path : QFileInfo(path).path();
    Watch& w = m_watched[path];
    if (w.id >= 0 && w.target == target && m_watches->watching(w.id))
        return;
    m_watches->remove(w.id);
    w = {target, m_watches->add(target, [this] {
             if (m_changed)
                 m_changed();
         })};
}

Reader::Stamp Reader::stampOf(const QString& path)
{
    const QFileInfo info(path);
    watch(path, info.exists());
    if (!info.exists())
        return {};
    return {info.size(), info.lastModified()};
}

Reader::Listed Reader::extensionIn(const QString& path, const QStringList& extensionIds)
{
    const Stamp stamp = stampOf(path);
    const QString k = key(path, extensionIds);
    if (const auto it = m_preferences.constFind(k); it != m_preferences.cend() && it->first == stamp)
        return it->second;
    Listed listed = Listed::unknown;
    if (stamp.size < 0) {
        listed = Listed::absent; // a browser that never wrote the file keeps nothing there
    } else if (const std::optional<QJsonObject> prefs = readObject(path, preferencesLimit)) {
        const QJsonValue settings =
            prefs->value(QLatin1String("extensions")).toObject().value(QLatin1String("settings"));
        listed = settings.isUndefined() || settings.isObject() ? Listed::absent : Listed::unknown;
        for (const QString& id : extensionIds) {
            const QJsonValue entry = settings.toObject().value(id);
            if (!entry.isObject())
                continue;
            if (turnedOff(entry.toObject())) {
                listed = Listed::off;
                break;
            }
            listed = Listed::on;
        }
    }
    m_preferences.insert(k, {stamp, listed});
    return listed;
}

QList<Profile> Reader::profiles(const QString& userDataFolder, const QStringList& extensionIds)
{
    const QDir folder(userDataFolder);
    const QString localState = folder.filePath(QStringLiteral("Local State"));
    const Stamp stamp = stampOf(localState);
    auto cached = m_lists.constFind(localState);
    if (cached == m_lists.cend() || cached->first != stamp) {
        std::optional<QList<Profile>> listed;
        if (const std::optional<QJsonObject> state = readObject(localState, localStateLimit)) {
            const QJsonObject profile = state->value(QLatin1String("profile")).toObject();
            const QJsonObject cache = profile.value(QLatin1String("info_cache")).toObject();
            // The picker's order where the browser keeps one, then any it left out.
            QStringList order;
            for (const QJsonValue& v : profile.value(QLatin1String("profiles_order")).toArray())
                if (cache.contains(v.toString()) && !order.contains(v.toString()))
                    order.append(v.toString());
            for (const QString& name : cache.keys())
                if (!order.contains(name))
                    order.append(name);
            listed.emplace();
            for (const QString& name : std::as_const(order)) {
                if (!isProfileFolder(name) || listed->size() >= profileLimit)
                    continue;
                QString shown = cache.value(name).toObject().value(QLatin1String("name")).toString().trimmed();
                if (shown.isEmpty() || shown.size() > 200)
                    shown = name;
                listed->append(Profile{name, shown, Profile::Extension::unknown});
            }
        }
        cached = m_lists.insert(localState, {stamp, listed});
    }
    if (!cached->second)
        return {};
    QList<Profile> result = *cached->second;
    for (Profile& p : result) {
        const QDir profileFolder(folder.filePath(p.folder));
        if (!profileFolder.exists())
            continue; // listed, but not there: nothing to tell of it
        const Listed prefs = extensionIn(profileFolder.filePath(QStringLiteral("Preferences")), extensionIds);
        const Listed secure = extensionIn(profileFolder.filePath(QStringLiteral("Secure Preferences")), extensionIds);
        if (prefs == Listed::off || secure == Listed::off)
            p.extension = Profile::Extension::offOrMissing;
        else if (prefs == Listed::on || secure == Listed::on)
            p.extension = Profile::Extension::on;
        else if (prefs == Listed::absent && secure == Listed::absent &&
                 QFileInfo::exists(profileFolder.filePath(QStringLiteral("Preferences"))))
            p.extension = Profile::Extension::offOrMissing;
    }
    return result;
}

bool Reader::forceInstalled(const QString& folder, const QStringList& extensionIds)
{
    if (folder.isEmpty())
        return false;
    // A policy written later (an install for everyone) is heard of in its folder.
    if (QFileInfo(folder).isDir())
        watch(folder, true);
    const QStringList files =
        QDir(folder).entryList({QStringLiteral("*.json")}, QDir::Files | QDir::Readable, QDir::Name);
    for (qsizetype i = 0; i < files.size() && i < profileLimit; ++i) {
        const QString path = QDir(folder).filePath(files.at(i));
        const Stamp stamp = stampOf(path);
        const QString k = key(path, extensionIds);
        if (const auto it = m_policies.constFind(k); it != m_policies.cend() && it->first == stamp) {
            if (it->second)
                return true;
            continue;
        }
        bool forced = false;
        if (const std::optional<QJsonObject> policy = readObject(path, preferencesLimit)) {
            for (const QJsonValue& v : policy->value(QLatin1String("ExtensionInstallForcelist")).toArray())
                forced = forced || extensionIds.contains(v.toString().section(u';', 0, 0).trimmed());
            const QJsonObject settings = policy->value(QLatin1String("ExtensionSettings")).toObject();
            for (const QString& id : extensionIds)
                forced = forced || settings.value(id).toObject().value(QLatin1String("installation_mode")).toString() ==
                                       QLatin1String("force_installed");
        }
        m_policies.insert(k, {stamp, forced});
        if (forced)
            return true;
    }
    return false;
}

QStringList Reader::leftOut(const QStringList& userDataFolders, const QString& policyFolder,
                            const QStringList& extensionIds)
{
    if (forceInstalled(policyFolder, extensionIds))
        return {};
    QStringList names;
    bool anyOn = false;
    for (const QString& folder : userDataFolders)
        for (const Profile& p : profiles(folder, extensionIds)) {
            anyOn = anyOn || p.extension == Profile::Extension::on;
            if (p.extension == Profile::Extension::offOrMissing && !names.contains(p.name))
                names.append(p.name);
        }
    // Asked about a connected extension: files that show it nowhere are not written yet (a browser
    // keeps its preferences a few seconds before it writes them) and tell nothing.
    return anyOn ? names : QStringList();
}

} // namespace ChromiumProfiles

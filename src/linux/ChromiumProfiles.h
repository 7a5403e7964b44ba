#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class FileWatches;

// The profiles of a Chromium-family browser's data folder and whether each has our extension: an
// extension loaded in one profile is absent from the others, so a connected extension says
// nothing of the profile beside it. The browser's own files tell: `Local State` lists the
// profiles with the names its profile picker shows, and each profile's `Preferences` and
// `Secure Preferences` list its extensions. A managed policy that force-installs the extension
// covers every profile.
namespace ChromiumProfiles {

struct Profile {
    QString folder; // inside the data folder: "Default", "Profile 2"…
    QString name;   // as the browser's profile picker shows it
    enum class Extension { on, offOrMissing, unknown };
    Extension extension = Extension::unknown;
    bool operator==(const Profile&) const = default;
};

// The folder a browser's machine-wide managed policies are read from; empty when none is known.
QString policyFolder(const QString& browserId);

// Reads the browser's files, keeping what it parsed while a file's size and time stay the same:
// asked about on every look at the browsers' states, it mostly only looks at the files' dates.
// Files past their bound and files that are not what the browser writes read as unknown.
class Reader {
public:
    Reader() = default;
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    static constexpr qint64 localStateLimit = 4 * 1024 * 1024;
    static constexpr qint64 preferencesLimit = 16 * 1024 * 1024;
    static constexpr int profileLimit = 100;

    // The profiles `userDataFolder` lists, in the browser's own order where it keeps one; none
    // when its list cannot be read.
    QList<Profile> profiles(const QString& userDataFolder, const QStringList& extensionIds);
    // Whether a policy file of `folder` force-installs one of `extensionIds`.
    bool forceInstalled(const QString& folder, const QStringList& extensionIds);
    // The names of the profiles over `userDataFolders` known to be without the extension (or
    // with it switched off), for a browser whose extension is connected; none when `policyFolder`
    // force-installs it, and none while no profile's files show the extension yet.
    QStringList leftOut(const QStringList& userDataFolders, const QString& policyFolder,
                        const QStringList& extensionIds);

    // From here on every file a reading looks at is watched, and `changed` runs after a burst of
    // changes to one: the browser writes what a profile holds some seconds after the change and
    // tells nobody, and nothing else would look again while the program rests.
    void watchFiles(FileWatches* watches, std::function<void()> changed);

private:
    // A file's size and time: while they stay, what was read of it stands.
    struct Stamp {
        qint64 size = -1;
        QDateTime modified;
        bool operator==(const Stamp&) const = default;
    };
    Stamp stampOf(const QString& path);
    void watch(const QString& path, bool exists);
    enum class Listed { on, off, absent, unknown }; // our extension in one preferences file
    Listed extensionIn(const QString& path, const QStringList& extensionIds);

    QHash<QString, std::pair<Stamp, std::optional<QList<Profile>>>> m_lists; // by Local State path
    QHash<QString, std::pair<Stamp, Listed>> m_preferences;                  // by path and ids
    QHash<QString, std::pair<Stamp, bool>> m_policies;                       // by path and ids
    FileWatches* m_watches = nullptr;
    std::function<void()> m_changed;
    struct Watch {
        QString target; // the file, or the folder it will be made in
        int id = -1;
    };
    QHash<QString, Watch> m_watched; // by file
};

} // namespace ChromiumProfiles

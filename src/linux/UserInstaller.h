#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

// Installs a copy that runs from a build folder or a download for this user: the program into
// ~/.local/bin, a desktop entry that handles "quillharbour:" links, an icon; then relaunches from
// there. An older installed copy goes to the trash only once the new one is complete, and comes
// back when a later step fails.
class UserInstaller {
public:
    struct Places {
        QString home;
        QString binFolder;  // ~/.local/bin
        QString dataHome;   // $XDG_DATA_HOME: applications/, icons/, Trash/
        QByteArray iconPng; // written as the entry's icon when not empty
        QString configHome; // $XDG_CONFIG_HOME: mimeapps.list names the link handler
    };
    static Places defaultPlaces();

    static inline const QString programName = QStringLiteral("quillharbour");
    static inline const QString entryName = QStringLiteral("quillharbour.desktop");

    // True once the program quits to start its installed copy; the quit gate lets that through.
    static bool isRelocating();

    // False when the program (links resolved) lies in /usr, /opt or ~/.local.
    static bool shouldOfferMove();
    static bool shouldOfferMove(const QString& executable, const QString& home);

    // The installed program's path, or nothing with `error` set; nothing is left half done.
    static std::optional<QString> installCopy(const QString& source, const Places& places, QString* error);

    // Installs, starts a shell that waits for this process to end and then runs the installed
    // copy, marks the relaunch and calls `terminate`. False with `error` when nothing was started.
    static bool moveAndRelaunch(const std::function<void()>& terminate, QString* error);
    // The second half of that: runs `installed` once this process has ended, and terminates.
    static bool relaunch(const QString& installed, const std::function<void()>& terminate, QString* error);

    static QByteArray desktopEntry(const QString& executable, const QString& icon);
    // The icon the user's desktop entry names, in the user's icon theme folder below `dataHome`.
    static QString iconPath(const QString& dataHome);
    // Puts `png` there unless it is there already; false with `error` when it could not.
    static bool writeIcon(const QString& dataHome, const QByteArray& png, QString* error);
    // The Icon= of an entry's main group; empty when it has none.
    static QString entryIcon(const QByteArray& entry);
    // Waits for the process "$1" to end, then runs the rest of its arguments.
    static QString relaunchScript()
    {
        return QStringLiteral("while kill -0 \"$1\" 2>/dev/null; do sleep 0.2; done; shift; exec \"$@\"");
    }
};

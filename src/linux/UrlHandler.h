#pragma once

#include <QString>

// This program as the user's handler of "quillharbour:" links: a desktop entry in
// $XDG_DATA_HOME/applications and the default in $XDG_CONFIG_HOME/mimeapps.list, the file that
// xdg-mime and the desktops read. Links from the block page then open this copy even before it
// is installed.
namespace UrlHandler {

inline const QString mimeType = QStringLiteral("x-scheme-handler/quillharbour");

struct Places {
    QString home;
    QString dataHome;   // $XDG_DATA_HOME
    QString configHome; // $XDG_CONFIG_HOME
    QByteArray iconPng; // the program's icon, put beside the entry; none when empty
};
Places defaultPlaces();

// The program an entry's Exec line starts, its quoting and escapes undone; empty when none.
QString entryExecutable(const QByteArray& entry);

// Names `entryName` as the default handler of the scheme, keeping every other line of the file.
// Leaves the file alone when it already says so.
bool setDefault(const QString& configHome, const QString& entryName, QString* error);

// Run at every start. An entry that starts this program, or an installed copy while this one is
// not installed, stays; any other (missing, or left by a copy that was moved or deleted) is
// written anew for `executable`. The entry names the program's icon, written into the user's icon
// theme folder; one that names none, or a missing one, gets it. Then the default. False with
// `error` when a write of the entry or the default failed.
bool registerAtStart(const QString& executable, const Places& places, QString* error);

} // namespace UrlHandler

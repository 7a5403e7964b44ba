#pragma once

#include <QString>
#include <QStringList>

// Which Firefox is installed: releases (and betas) load only add-ons Mozilla signed, while ESR,
// Developer Edition and Nightly load the companion extension once signatures are not required.
// Told by the update channel each build names in defaults/pref/channel-prefs.js.
namespace FirefoxEdition {

enum class Channel { unknown, release, beta, esr, developer, nightly };

// The channel of the Firefox installed in `folder` (the one holding application.ini).
Channel channel(const QString& folder);
// The folders of the Firefox builds this system has: beside each firefox program on PATH, and
// the places distributions and Mozilla's own archives use.
QStringList installFolders();
// Whether any of those builds can load the extension; true when none can be told (a build we do
// not know may well load it, and the steps say what it takes).
bool loadsUnsigned(const QStringList& folders);

} // namespace FirefoxEdition

#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// The desktop's own page of notification settings. Desktops share no address for it: GNOME and
// KDE each have a settings program that opens at that page; elsewhere there is none to offer.
namespace NotificationSettings {

using Finder = std::function<QString(const QString& program)>;

// The command for the desktop named by XDG_CURRENT_DESKTOP (a colon-separated list), when its
// settings program is installed; `find` looks a program up on PATH.
std::optional<QStringList> command(const QString& currentDesktop, const Finder& find);

// Opens this desktop's page; empty when none is known, so the caller can leave the offer out.
// It answers false when the settings program could not be started.
std::function<bool()> opener();

} // namespace NotificationSettings

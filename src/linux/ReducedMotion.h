#pragma once

// Whether the desktop asks programs to keep motion down: the desktop portal's setting
// "org.gnome.desktop.interface" / "enable-animations" (GNOME, and desktops that follow it through
// the portal). Read without blocking; `apply` runs with the answer and again on every change.
// With no portal or no such setting nothing is ever applied.

#include <QDBusConnection>
#include <QObject>
#include <functional>

namespace ReducedMotion {

void watch(QDBusConnection bus, QObject* owner, std::function<void(bool reduced)> apply);

} // namespace ReducedMotion

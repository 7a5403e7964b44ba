#pragma once

#include <QPoint>
#include <optional>

// A StatusNotifierItem tray host says where it wants the item's popup as it activates the item
// (Activate(x, y), screen coordinates); the toolkit's tray icon passes the activation on without
// it. Under Wayland nothing else tells a program where its tray icon is.
namespace TrayActivation {

// Starts listening; once per process, before the tray icon is made.
void listen();
// The point of the activation being delivered now, taken once; nothing when the host gave none.
std::optional<QPoint> take();

} // namespace TrayActivation

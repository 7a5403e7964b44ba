#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

// The tray's padlock in four states, drawn here rather than loaded: light with a dark outline,
// because Linux trays do not tint icons and a dark glyph vanishes on a dark panel.
namespace TrayIcon {

enum class State { idle, active, paused, attention };

State state(bool hasRules, bool needsAttention, bool isPaused);
QString accessibleLabel(State state);

// The padlock at `pixels` square; the same drawing at every size.
QImage render(State state, int pixels);
// 18, 36 and the common tray sizes; built once per state and process.
const QIcon& icon(State state);

} // namespace TrayIcon

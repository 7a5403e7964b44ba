#pragma once

// Window sizes that yield to the screen.
//
// Every window of the program has a size it is designed for. On a screen too small for it the
// window takes what the screen offers instead, and its minimum shrinks with it, so that nothing
// opens off screen; a window that grows with its content grows up to the screen and no further
// (its content scrolls from there).

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

class QScreen;
class QWidget;

namespace WindowFit {

// The area of the screen the window opens on (its parent's screen, else the one under the
// cursor), without panels and docks; for a window kept within its parent, the part of it that
// the parent window's client area takes (below its title bar).
QRect availableArea(const QWidget* window);

// The part of `screen` windows may take, without panels and docks.
QRect usableArea(const QScreen* screen);
// The same from the screen's whole and available rectangles. A platform that does not report the
// desktop's panels (Qt under Wayland) gives the whole screen as available: room is left for a
// panel of the usual height, at the bottom, where it costs a window the least.
QRect usableArea(const QRect& geometry, const QRect& available, bool reportsPanels);

// Sizes the window now as it would be sized as it shows.
void refit(QWidget* window);

// Sizes the window, from its next showing on, to stay within its parent's window (a sheet).
void keepWithinParent(QWidget* window);

// The preferred size, shrunk to the available area where it does not fit.
QSize fitted(QSize preferred, const QRect& available);

// Resizable windows: opens at the preferred size where it fits, with a minimum that yields too.
// Applied again each time the window is shown, as it may be shown on another screen.
void preferSize(QWidget* window, QSize preferred, QSize minimum);

// Sheets of a fixed design size: fixed at the preferred size where it fits, else at the screen's.
void fixSize(QWidget* window, QSize preferred);

// Sheets of a fixed width whose height follows their content, up to the available height.
void fixWidthGrowHeight(QWidget* window, int width, int minimumHeight = 0);

// Where a window of `size` opens over the window it belongs to (its frame `parent`): centred
// across it, a third of the spare height above and two thirds below, kept inside `available`.
QPoint overParent(const QRect& parent, QSize size, const QRect& available);

// Makes `window` belong to `owner` for the window manager (its transient parent) without making it
// a child widget that `owner` would take down with it. A window-modal sheet over `owner` would
// block such a window: it then belongs to the sheet instead. Returns the window it belongs to,
// none when `owner` is not shown.
QWidget* belongTo(QWidget* window, QWidget* owner);

// The title a window shows in task bars and switchers: what it is, then the program.
QString programTitle(const QString& name);

} // namespace WindowFit

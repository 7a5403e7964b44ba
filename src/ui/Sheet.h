#pragma once

// Sheets belong to the window they open over.
//
// A sheet is window-modal, carries no frame of the window manager (a title bar would repeat its
// heading and offer to minimise or maximise what only comes and goes with its window), draws a
// hairline outline of its own, and stands over its window: no larger than the window below its
// title bar, centred across it, its top just below the title bar (moved up where it would reach
// past the window's bottom), and off the screen only where its window is. It follows its window
// when that moves or changes size.

#include <QRect>
#include <QSize>

class QDialog;
class WindowHints;
class QWidget;

namespace Sheet {

// How a shown sheet is said to be modal to the compositor, which then centres it over its window;
// set once where the desktop's backends are picked. None: nothing is said.
void useWindowHints(WindowHints* hints);

// Makes `sheet` a sheet of `over`'s window. Call it before the sheet is first shown; calling it
// again moves the sheet to the window of the new `over`. While the sheet shows, the window's
// content under it is dimmed (a child of the window named "sheetDimmer").
void attach(QDialog* sheet, QWidget* over);

// Whoever shows a sheet deletes it once it closes, unless it is kept: its owner shows it again.
void keepAfterClose(QDialog* sheet);
bool isKeptAfterClose(const QDialog* sheet);

// Where a sheet of `size` goes over a window whose frame (title bar included) takes `frame` and
// whose client area starts at `clientTop`, on a screen offering `available`.
QRect placement(QSize size, const QRect& frame, int clientTop, const QRect& available);

} // namespace Sheet

#pragma once

#include "model/Calendar.h"
#include "model/TaskItem.h"

#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>
#include <vector>

class StorageService;

// What the tray popover shows, worked out from the store without widgets.
namespace PopoverContent {

constexpr int quickAddLimit = 150;

// The open to-dos after the focus, in display order; none without a focus.
std::vector<TaskItem> followingTodos(const StorageService& storage);
// "+ 3 more · 2 from earlier · 1 done", or nothing when there is nothing to say.
std::optional<QString> summaryLine(const StorageService& storage, int moreCount);
// "Sunday, December 6": weekday, month and day in the locale's order.
QString dateText(Date now, const Calendar& calendar);
// The to-do the quick-add field makes of `text`, or nothing for blank text.
std::optional<TaskItem> quickTodo(const QString& text, Date now, const Calendar& calendar);

// Where the popover goes: under (or over) the tray icon, centred on it and kept on screen. When the
// tray reports no icon rectangle: at the pointer where its position is current (X11), else at
// the end of the panel's edge of the screen (the edge the available area leaves out; the top
// when none is left out), where tray areas are.
QPoint position(const QRect& icon, const std::optional<QPoint>& cursor, const QSize& popover, const QRect& screen,
                const QRect& available);

} // namespace PopoverContent

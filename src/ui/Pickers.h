#pragma once

// The compact date and time fields of the design: the value on a rounded wash field, with no
// spin arrows; a date field opens a month calendar when clicked (or with Alt+Down). Dates show
// a four-digit year, times hours and minutes in the locale's order.

class QDateEdit;
class QTimeEdit;

namespace Pickers {

void applyLook(QDateEdit* edit);
void applyLook(QTimeEdit* edit);

} // namespace Pickers

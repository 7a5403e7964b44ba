#pragma once

#include "model/Calendar.h"

#include <QString>

namespace NoteDates {

// The date of a notes-list row: "Today", "Yesterday", a short weekday within the past six days
// (and for any later day, which only a skewed clock elsewhere produces), else day and short month.
QString label(Date date, Date now, const Calendar& calendar);

} // namespace NoteDates

#include "screens/notes/NoteDates.h"
#include "model/LocaleFormats.h"

namespace NoteDates {

QString label(Date date, Date now, const Calendar& calendar)
{
    const QDate day = calendar.localDate(date);
    const QDate today = calendar.localDate(now);
    if (day == today)
        return QStringLiteral("Today");
    if (day == today.addDays(-1))
        return QStringLiteral("Yesterday");
    const QLocale& locale = calendar.locale();
    if (calendar.daysBetween(date, now) <= 6)
        return locale.dayName(day.dayOfWeek(), QLocale::ShortFormat);
    return LocaleFormats::effective(locale).toString(day, LocaleFormats::dayMonthPattern(locale));
}

} // namespace NoteDates

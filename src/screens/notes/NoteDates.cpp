#include "screens/notes/NoteDates.h"

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
    // The locale's own order of day and month, read from its short date pattern.
    const QString pattern = locale.dateFormat(QLocale::ShortFormat);
    const qsizetype d = pattern.indexOf(QLatin1Char('d'));
    const qsizetype m = pattern.indexOf(QLatin1Char('M'));
    const bool dayFirst = d >= 0 && m >= 0 && d < m;
    return locale.toString(day, dayFirst ? QStringLiteral("d MMM") : QStringLiteral("MMM d"));
}

} // namespace NoteDates

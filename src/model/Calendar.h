#pragma once

#include "model/Clock.h"

#include <QDate>
#include <QLocale>
#include <QTimeZone>
#include <memory>
#include <optional>
#include <vector>

// Wall time on one local day, as the calendar reads an instant.
struct LocalDateTime {
    QDate date;
    int hour = 0;
    int minute = 0;
    int second = 0;
    double fraction = 0; // of a second, 0 <= fraction < 1
};

// A Gregorian calendar in one time zone. Every service takes one so tests can stand in any zone.
//
// Qt on its own does not resolve wall times the way the records expect: a wall time inside a
// daylight-saving gap resolves here to the next valid instant (the moment the clocks jump), and a
// repeated wall time to its first occurrence. Month arithmetic clamps to the month's last day.
class Calendar {
public:
    explicit Calendar(QTimeZone zone = QTimeZone::systemTimeZone(), int firstWeekday = 1, QLocale locale = QLocale());

    // The user's calendar as the system sees it now (TZ and the default locale).
    static Calendar current();
    // The system's zone setting changed: the next current() reads it afresh.
    static void systemTimeZoneChanged();

    const QTimeZone& timeZone() const { return m_zone; }
    int firstWeekday() const { return m_firstWeekday; }
    const QLocale& locale() const { return m_locale; }

    LocalDateTime components(Date t) const;
    QDate localDate(Date t) const { return components(t).date; }

    // The instant of a wall time on a day (gap: next valid instant; repeated hour: first occurrence).
    Date date(const QDate& day, int hour = 0, int minute = 0, int second = 0) const;
    // Same as date(), but nothing when the day or the time is not a real one.
    std::optional<Date> dateIfValid(const QDate& day, int hour, int minute, int second) const;

    Date startOfDay(Date t) const;
    Date startOfDay(const QDate& day) const { return date(day); }
    bool isSameDay(Date a, Date b) const { return localDate(a) == localDate(b); }

    // Calendar arithmetic keeps the wall time; months clamp to the month's last day.
    Date addDays(Date t, qint64 days) const;
    Date addMonths(Date t, qint64 months) const;

    // Whole days between the local days of a and b (negative when b is earlier).
    qint64 daysBetween(Date a, Date b) const;
    // Whole months from a to b, as far as a + n months does not pass b.
    qint64 monthsBetween(Date a, Date b) const;

    // 1 = Sunday ... 7 = Saturday.
    int weekday(Date t) const;

    int offsetFromUtc(Date t) const;

    // A copy that remembers what the zone answered, for one pass over thousands of records: the
    // answers are the same, but each is looked up once. Used on one thread, then dropped.
    Calendar remembering() const;

private:
    struct Memo;

    QTimeZone m_zone;
    int m_firstWeekday;
    QLocale m_locale;
    std::shared_ptr<Memo> m_memo;
};

// Where instants fall against a run of local days [first, last], answered as comparing
// calendar.localDate(t) with them would, for lists that ask it of thousands of records. No zone
// offset reaches a day, so an instant more than two days from the run is decided by comparison
// alone; only those near it are read in the zone. The calendar must outlive this.
class LocalDays {
public:
    LocalDays(const Calendar& calendar, const QDate& first, const QDate& last);
    // Below 0 before the first day, 0 within the run, above 0 after the last day.
    int compare(Date t) const;

private:
    const Calendar* m_calendar;
    QDate m_first;
    QDate m_last;
    Date m_surelyBefore; // instants below this fall before the first day
    Date m_surelyAfter;  // instants at or above this fall after the last day
    // The zone's offsets between the two, read once: from which instant (ms) each holds. Empty
    // when the zone cannot list its changes; then each instant near the run is asked of it.
    std::vector<std::pair<qint64, int>> m_offsets;
};

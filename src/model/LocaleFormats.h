#pragma once

// Date and time patterns built from the locale's own, with parts taken out field by field: the
// year of a long date goes with the words and marks that belong to it ("yyyy年", "'de' yyyy",
// "yyyy 'г'."), and a short time never shows seconds.
//
// The C locale reads as United States English: it is what a desktop without a language setting
// runs under, and its own patterns show seconds and join lists without "and".

#include <QDate>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTime>

namespace LocaleFormats {

// The locale that formats for `locale`: itself, or United States English for C.
QLocale effective(const QLocale& locale);

// The wide weekday, the day and the wide month, in the locale's order: "Monday, December 7".
QString dayLinePattern(const QLocale& locale);
QString dayLine(const QLocale& locale, QDate date);

// The day and the abbreviated month, in the locale's order: "Dec 7".
QString dayMonthPattern(const QLocale& locale);

// The short date with a four-digit year: "12/7/2026".
QString shortDatePattern(const QLocale& locale);

// The short time of day, hours and minutes only: "9:30 AM", "09:30".
QString shortTimePattern(const QLocale& locale);
QString shortTime(const QLocale& locale, QTime time);

// Names joined as the locale joins them: "A, B, and C".
QString list(const QLocale& locale, const QStringList& items);

} // namespace LocaleFormats

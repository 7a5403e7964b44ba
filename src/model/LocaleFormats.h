#pragma once

// Date and time patterns built from the locale's own, with parts taken out field by field: the
// year of a long date goes with the words and marks that belong to it ("yyyy年", "'de' yyyy",
// "yyyy 'г'."), and a short time never shows seconds.
//
// The C locale reads as United States English: it is what a desktop without a language setting
// runs under, and its own patterns show seconds.

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

// The short time of day, hours and minutes only: "9:30 AM", "09:30". The pattern is the
// locale's, for pickers; the text, which stands in English sentences ("by 9:30 PM"), says AM
// and PM in English where the locale would say them in its own words.
QString shortTimePattern(const QLocale& locale);
QString shortTime(const QLocale& locale, QTime time);

// Names joined in English, as the sentences they stand in are: "A, B, and C".
QString list(const QStringList& items);

} // namespace LocaleFormats

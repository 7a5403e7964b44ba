#pragma once

#include "model/Calendar.h"

#include <QByteArray>
#include <QString>

// Set up before main() in every test executable: private HOME, XDG and temporary folders, the
// en_US locale, and the zone from TZ (America/New_York unless ctest says otherwise).
namespace TestEnvironment {

QString homePath();

// A calendar in the named zone with Sunday as the first weekday and the en_US locale.
Calendar calendar(const char* zone = "America/New_York");

// Seconds since 1970 of a wall time in the named zone (gap and fold resolved like Calendar does).
Date at(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
        const char* zone = "America/New_York");

// A file's bytes, empty when it cannot be read.
QByteArray readFile(const QString& path);
// Writes a whole file, making its folder first; false when any of it failed.
bool writeFile(const QString& path, const QByteArray& bytes);

} // namespace TestEnvironment

#pragma once

#include <QString>

// The application itself, started as at login (in the tray, no window), idle on a private
// desktop: with every inotify instance of the user taken, with no browser ever started, with Chromium connected over
// its debugging port, after that browser quit, and with Chromium connected through the companion extension. Each window
// is measured beside `bareProgram --bare-timer` (a Qt process that only wakes for the same 0.65 s timer), and each
// figure is printed beside it.
void measureRunningProgramIdle(const QString& program, const QString& bareProgram, int seconds);

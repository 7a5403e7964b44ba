#pragma once

#include <QUrl>

// The page that explains how to let the application reach a browser on Linux. It ships inside
// the program and is written to the cache folder so that a browser can open it.
namespace AutomationHelp {
QUrl pageUrl();
}

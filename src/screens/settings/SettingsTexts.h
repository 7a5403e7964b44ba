#pragma once

#include "blocking/BrowserAutomationService.h"

#include <QHash>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>
#include <vector>

// What the Settings page says, decided without widgets.
namespace SettingsTexts {

// The C and POSIX locales know no list words and no currency layout; they read as en_US.
QLocale effectiveLocale(const QLocale& locale);
// "A, B and C" in the locale's way.
QString joinList(const QStringList& items, const QLocale& locale = QLocale());

enum class BrowserControl { none, connect, tryAgain, connected, fix };

struct BrowserRow {
    SupportedBrowser browser;
    QString detail; // empty: no detail line
    bool isError = false;
    BrowserControl control = BrowserControl::none;
    QString fixTitle;         // the fix button's title
    bool isConnected = false; // "Connected" shows, beside any fix (private windows left out)
};

// One row per browser with a known state other than not installed, in table order.
std::vector<BrowserRow> browserRows(const std::vector<SupportedBrowser>& browsers,
                                    const QHash<QString, BrowserAccessState>& access);
// "Also works with …." naming the browsers with no state or not installed; empty when none.
QString alsoWorksWith(const std::vector<SupportedBrowser>& browsers, const QHash<QString, BrowserAccessState>& access,
                      const QLocale& locale = QLocale());
QString connectionMessage(const SupportedBrowser& browser);

struct SyncRow {
    QString detail;
    bool isError = false;
};
SyncRow syncRow(const std::optional<QString>& lastError, const QString& statusMessage);

struct Shortcut {
    QString label;
    QString keys; // in this desktop's notation
};
// The fixed table of the shortcuts section.
QList<Shortcut> shortcuts();

// The About section's addresses: fixed, and opened only when they parse strictly as https with a
// host or as mailto with an address.
std::optional<QUrl> safeLink(const QString& text);
inline const QString contactLink = QStringLiteral("mailto:hello@quillharbour.app");
inline const QString websiteLink = QStringLiteral("https://quillharbour.app");
inline const QString websiteLabel = QStringLiteral("quillharbour.app");

// The version the program was built as, "1.0" when it has none.
QString versionText(const QString& applicationVersion);

} // namespace SettingsTexts

#pragma once

#include "model/SharedState.h"
#include "model/TaskItem.h"

#include <QString>
#include <optional>
#include <vector>

// The three documents the loopback server sends to a blocked tab. Every value from the person's
// data is escaped; the return address reaches the script only as Base64.
namespace BlockPage {

extern const QStringList headlines;
extern const QString styleSheet;

QString render(const BlockedSiteSnapshot& snapshot, const std::vector<TaskItem>& tasks, qint64 todayCount,
               const std::optional<QString>& returnURL);
// With `goesBack`, the page takes the tab back to `returnURL` by itself; without, it only
// offers to (an address this program did not send to the block page is not followed unasked).
QString blockEnded(const std::optional<QString>& returnURL, bool goesBack = true);
QString closing();

// The address the tab may be sent back to: http or https, not the loopback server itself.
std::optional<QString> safeReturnURL(const std::optional<QString>& text);
// The host a browser would go to for a safe return address (as the browser reads it): what is
// checked before the address is trusted, since a name may still lead to this computer.
std::optional<QString> returnHost(const std::optional<QString>& text);
// "null", or atob('<Base64 of the address's UTF-8 bytes>').
QString targetExpression(const std::optional<QString>& text);
QString escapeHTML(const QString& text);

// The same site always gets the same headline; any text gives a valid index.
int headlineIndex(const QString& domain);

} // namespace BlockPage

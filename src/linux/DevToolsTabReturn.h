#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class DevToolsConnections;

// At the end of a run, the tabs of the browsers reached over their debugging connections that
// show the block page go back to the sites they came from: with the program gone, the page would
// wait on a server that no longer answers.
namespace DevToolsTabReturn {

// Where a tab showing that address goes; nothing: it stays.
using ReturnAddress = std::function<std::optional<QString>(const QString& address)>;

// Asks every open connection among `browserIds`; `done` runs once, on the calling thread,
// when every browser has answered or after `timeoutMs`, whichever comes first.
void sendBack(DevToolsConnections& connections, const QStringList& browserIds, ReturnAddress returnAddress,
              int timeoutMs, std::function<void()> done);

} // namespace DevToolsTabReturn

#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <functional>

// Where a host name leads, for the places that must not let a name from a web page reach this
// computer or the local network: the site-icon fetcher and the block page's return address.
namespace HostAddresses {

// Looks up the addresses of a host name (or reads an address written as one) and answers on the
// thread of `context`, only while it exists; an empty list when the name does not resolve.
using Resolver =
    std::function<void(const QString& host, QObject* context, std::function<void(const QList<QHostAddress>&)> done)>;

// The system's resolver, on threads of its own that nothing waits for.
Resolver systemResolver();

// False for loopback, unspecified, private, shared (100.64/10), link-local, unique-local,
// multicast, reserved and documentation-free special ranges, also inside IPv4-mapped, NAT64
// and 6to4 addresses.
bool isPublic(const QHostAddress& address);

// Loopback, unspecified (which reaches local listeners too), or an address of one of this
// computer's own network interfaces.
bool isThisComputer(const QHostAddress& address);

// Whether a host as written in an address is known to lead to this computer without asking any
// name server: such an address written out, "localhost" and the names under it, this computer's
// own name, or a name the hosts file maps to such an address. Reads only local files, so it
// answers at once when the network is down or its name servers are silent.
bool isThisComputerName(const QString& host, const QString& hostsFile = QStringLiteral("/etc/hosts"));

} // namespace HostAddresses

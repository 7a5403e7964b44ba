#include "system/HostAddresses.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QMutex>
#include <QNetworkInterface>
#include <QThreadPool>
#include <QUrl>
#include <memory>
#include <netdb.h>
#include <sys/socket.h>

namespace {

struct Subnet {
    QHostAddress address;
    int length;
};

const QList<Subnet>& refusedSubnets()
{
    static const QList<Subnet> subnets = [] {
        QList<Subnet> list;
        for (const char* text :
             {"0.0.0.0/8", "10.0.0.0/8", "100.64.0.0/10", "127.0.0.0/8", "169.254.0.0/16", "172.16.0.0/12",
              "192.0.0.0/24", "192.168.0.0/16", "198.18.0.0/15", "224.0.0.0/4", "240.0.0.0/4", "::/96", "::1/128",
              "100::/64", "fc00::/7", "fe80::/10", "fec0::/10", "ff00::/8"}) {
            const auto [address, length] = QHostAddress::parseSubnet(QString::fromLatin1(text));
            list.append({address, length});
        }
        return list;
    }();
    return subnets;
}

bool isPublic(const QHostAddress& address, int depth = 0)
{
    if (address.isNull() || depth > 2)
        return false;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        // Addresses that carry an IPv4 address are judged by it.
        bool isMapped = false;
        const quint32 v4 = address.toIPv4Address(&isMapped);
        if (isMapped)
            return isPublic(QHostAddress(v4), depth + 1);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        const auto embedded = [&bytes](int at) {
            return QHostAddress(quint32(bytes[at]) << 24 | quint32(bytes[at + 1]) << 16 | quint32(bytes[at + 2]) << 8 |
                                quint32(bytes[at + 3]));
        };
        if (address.isInSubnet(QHostAddress(QStringLiteral("64:ff9b::")), 96))
            return isPublic(embedded(12), depth + 1);
        if (address.isInSubnet(QHostAddress(QStringLiteral("2002::")), 16))
            return isPublic(embedded(2), depth + 1);
    }
    for (const Subnet& subnet : refusedSubnets())
        if (address.isInSubnet(subnet.address, subnet.length))
            return false;
    return !address.isLoopback() && !address.isMulticast() && !address.isBroadcast() && !address.isLinkLocal() &&
           !address.isUniqueLocalUnicast() && !address.isSiteLocal();
}

// The system resolver, on threads of our own. A lookup cannot be interrupted, and a slow name
// server makes it last many seconds; Qt's own lookup threads are waited for when the program ends,
// which held every quit that came during one. These threads are never waited for: a lookup whose
// owner is gone drops its answer, and one still running when the process ends ends with it.
QThreadPool& lookupThreads()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool; // never destroyed, so nothing waits for it
        p->setMaxThreadCount(8);
        return p;
    }();
    return *pool;
}

QList<QHostAddress> resolve(const QString& host)
{
    const QByteArray name = QUrl::toAce(host);
    if (name.isEmpty())
        return {};
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    if (getaddrinfo(name.constData(), nullptr, &hints, &found) != 0)
        return {};
    QList<QHostAddress> addresses;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        if (a->ai_family != AF_INET && a->ai_family != AF_INET6)
            continue;
        const QHostAddress address(a->ai_addr);
        if (!address.isNull() && !addresses.contains(address))
            addresses.append(address);
    }
    freeaddrinfo(found);
    return addresses;
}

// One lookup, owned by the object that asked; the answer comes only while it exists.
class HostLookup : public QObject {
public:
    HostLookup(const QString& host, QObject* owner, std::function<void(const QList<QHostAddress>&)> done)
        : QObject(owner), m_done(std::move(done)), m_link(std::make_shared<Link>())
    {
        m_link->receiver = this;
        lookupThreads().start([host, link = m_link] {
            const QList<QHostAddress> addresses = resolve(host);
            const QMutexLocker lock(&link->mutex);
            if (link->receiver)
                QMetaObject::invokeMethod(
                    link->receiver, [receiver = link->receiver, addresses] { receiver->answer(addresses); },
                    Qt::QueuedConnection);
        });
    }

    ~HostLookup() override
    {
        const QMutexLocker lock(&m_link->mutex);
        m_link->receiver = nullptr;
    }

private:
    // Shared with the lookup thread; `receiver` is cleared, under the lock, before the lookup goes.
    struct Link {
        QMutex mutex;
        HostLookup* receiver = nullptr;
    };

    void answer(const QList<QHostAddress>& addresses)
    {
        deleteLater();
        const auto done = std::move(m_done);
        done(addresses);
    }

    std::function<void(const QList<QHostAddress>&)> m_done;
    std::shared_ptr<Link> m_link;
};

QString plainName(QString host)
{
    host = host.toLower();
    if (host.endsWith(u'.'))
        host.chop(1);
    return host;
}

// The names the hosts file gives to addresses of this computer, read again when the file changes.
// A file is read only up to a size no real hosts file comes near.
QStringList hostsFileNamesHere(const QString& path)
{
    static QMutex mutex;
    static QString readPath;
    static QDateTime readModified;
    static qint64 readSize = -1;
    static QStringList names;
    const QMutexLocker lock(&mutex);
    const QFileInfo info(path);
    const QDateTime modified = info.lastModified();
    const qint64 size = info.exists() ? info.size() : -1;
    if (path == readPath && modified == readModified && size == readSize)
        return names;
    readPath = path;
    readModified = modified;
    readSize = size;
    names.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return names;
    constexpr qint64 maximumBytes = 4 * 1024 * 1024;
    const QByteArray text = file.read(maximumBytes);
    for (const QByteArray& rawLine : text.split('\n')) {
        const qsizetype comment = rawLine.indexOf('#');
        const QByteArray line = comment >= 0 ? rawLine.left(comment) : rawLine;
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 2)
            continue;
        QHostAddress address;
        if (!address.setAddress(QString::fromLatin1(fields.first())) || !HostAddresses::isThisComputer(address))
            continue;
        for (qsizetype i = 1; i < fields.size(); ++i)
            names.append(plainName(QString::fromUtf8(fields.at(i))));
    }
    return names;
}

} // namespace

namespace HostAddresses {

Resolver systemResolver()
{
    return [](const QString& host, QObject* context, std::function<void(const QList<QHostAddress>&)> done) {
        new HostLookup(host, context, std::move(done));
    };
}

bool isPublic(const QHostAddress& address)
{
    return ::isPublic(address);
}

bool isThisComputer(const QHostAddress& address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped || address.protocol() == QAbstractSocket::IPv4Protocol) {
        if ((v4 >> 24) == 127 || (v4 >> 24) == 0)
            return true;
    } else if (address.isLoopback() || address == QHostAddress(QHostAddress::AnyIPv6)) {
        return true;
    }
    const QHostAddress plain = mapped ? QHostAddress(v4) : address;
    for (const QHostAddress& own : QNetworkInterface::allAddresses())
        if (own.isEqual(plain, QHostAddress::TolerantConversion))
            return true;
    return false;
}

bool isThisComputerName(const QString& host, const QString& hostsFile)
{
    const QString name = plainName(host);
    if (name.isEmpty())
        return true;
    if (QHostAddress address; address.setAddress(name))
        return isThisComputer(address);
    if (name == QLatin1String("localhost") || name.endsWith(QLatin1String(".localhost")))
        return true;
    if (const QString own = plainName(QHostInfo::localHostName()); !own.isEmpty()) {
        const QString domain = plainName(QHostInfo::localDomainName());
        if (name == own || (!domain.isEmpty() && name == own + u'.' + domain))
            return true;
    }
    return hostsFileNamesHere(hostsFile).contains(name);
}

} // namespace HostAddresses

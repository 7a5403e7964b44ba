#pragma once

// SiteIconStore finds, downloads and caches the icon of a website, per normalised domain
// ("https://www.Example.com/feed" and "example.com" share one icon). Three layers: a memory cache
// for the run, the raw downloaded bytes on disk ("<key>.icon", never expires) and a failure
// marker ("<key>.none") that stops asking a site again for three days after it gave nothing.
//
// A download reads the site's home page (then the "www." one when the first gave no link), ranks
// its icon links, adds the conventional fallbacks and keeps the first candidate that is a real
// image at least 16 pixels wide. Everything runs on the main thread without blocking it: requests
// are asynchronous, bodies are read as they arrive and cut at their caps, parsing and decoding run
// on the thread pool.
//
// Safety: before every request (page, candidate and each redirect hop) the host is resolved and
// the request goes to the checked address itself, so a name cannot point the application at a
// loopback, private, link-local or multicast address. SVG and images larger than 1024 pixels are
// refused before decoding.

#include "model/Clock.h"

#include <QHash>
#include <QHostAddress>
#include <QImage>
#include <QList>
#include <QNetworkProxy>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

class QNetworkAccessManager;
class QThreadPool;
class SiteIconDownload;

// Looks up the addresses of a host name and answers on the main thread (an empty list when the
// name does not resolve).
using SiteIconResolver =
    std::function<void(const QString& host, QObject* context, std::function<void(const QList<QHostAddress>&)> done)>;

struct SiteIconStoreOptions {
    QString directory;                                  // default: defaultDirectory()
    const Clock* clock = nullptr;                       // default: the system clock
    SiteIconResolver resolver;                          // default: systemResolver()
    std::function<bool(const QHostAddress&)> isAllowed; // default: isPublicAddress
    // For tests: a proxy every request goes through and certificates to trust besides the
    // system's.
    std::optional<QNetworkProxy> proxy;
    QList<QSslCertificate> extraCaCertificates;
};

class SiteIconStore : public QObject {
    Q_OBJECT
public:
    using Resolver = SiteIconResolver;

    using Options = SiteIconStoreOptions;

    static constexpr double retryAfterFailure = 259200; // seconds a failure marker holds
    static constexpr qint64 pageByteCap = 600000;       // bytes of a page that are read
    static constexpr qint64 iconMinBytes = 65;          // a body must hold at least this ...
    static constexpr qint64 iconMaxBytes = 1999999;     // ... and at most this
    static constexpr int maxCandidates = 8;
    static constexpr int minIconWidth = 16;
    static constexpr int maxIconEdge = 1024;
    static constexpr int maxRedirects = 10;
    static constexpr int inactivityTimeoutMs = 8000;
    static constexpr int requestTimeoutMs = 15000;
    static const char* const userAgent;

    explicit SiteIconStore(Options options = {}, QObject* parent = nullptr);
    ~SiteIconStore() override;

    // The store of the running application (made on first use, on the main thread). It is
    // destroyed just before the application object, so no download outlives it.
    static SiteIconStore& shared();
    // Looks names up with the system's resolver; a lookup whose context is destroyed is called
    // off, so its answer never arrives.
    static Resolver systemResolver();
    // The resolver of every later lookup; tests give the shared store one that never touches the
    // network. An empty one restores systemResolver().
    void setResolver(Resolver resolver);
    // $XDG_CACHE_HOME/quillharbour/SiteIcons
    static QString defaultDirectory();
    QString directory() const { return m_directory; }

    // The icon of a domain from memory or disk, never from the network; a null image when there
    // is none or the domain is not a valid one.
    QImage cachedImage(const QString& domain);
    // The icon of a domain, downloaded when needed. `done` runs later on the main thread with the
    // icon or a null image, and only while `context` still exists. Requests for one domain share
    // one download.
    void image(const QString& domain, QObject* context, std::function<void(const QImage&)> done);

    // The key of a domain, or an empty text when it is not a valid one.
    static QString key(const QString& domain);

    // Icon links of a page, best first: apple-touch icons before others, then by declared size.
    static QList<QUrl> iconLinks(const QString& html, const QUrl& baseUrl);
    // The value of an attribute in one tag; nothing when the tag has no such attribute.
    static std::optional<QString> attributeValue(const QString& name, const QString& tag);
    // The first number of a "sizes" attribute ("32x32" gives 32).
    static std::optional<int> iconSize(const QString& sizes);
    // The bytes as an icon: a PNG, ICO, JPEG, GIF, BMP or WebP image at least 16 pixels wide and at
    // most 1024 pixels on either side (checked before decoding); a null image otherwise.
    static QImage decodeIcon(const QByteArray& bytes);
    // The four conventional icon addresses of a key.
    static QList<QUrl> fallbackUrls(const QString& key);
    // False for loopback, unspecified, private, shared (100.64/10), link-local, unique-local,
    // multicast and broadcast addresses (also inside IPv4-mapped IPv6 addresses).
    static bool isPublicAddress(const QHostAddress& address);

signals:
    // A download for `key` ended (with or without an icon); for tests and diagnostics.
    void downloadFinished(const QString& key, bool found);

private:
    friend class SiteIconDownload;
    friend class GuardedFetch;
    struct Waiter {
        QPointer<QObject> context;
        std::function<void(const QImage&)> done;
    };

    QString iconPath(const QString& key) const;
    QString markerPath(const QString& key) const;
    bool hasFreshMarker(const QString& key) const;
    void finish(const QString& key, const QByteArray& bytes, const QImage& image);

    QString m_directory;
    const Clock* m_clock;
    Resolver m_resolver;
    std::function<bool(const QHostAddress&)> m_isAllowed;
    QNetworkAccessManager* m_network;
    QThreadPool* m_pool;
    QObject* m_jobs; // parent of every download, deleted before the network manager
    QList<QSslCertificate> m_caCertificates;
    QHash<QString, QImage> m_memory;
    QHash<QString, SiteIconDownload*> m_inFlight;
    QHash<QString, QList<Waiter>> m_waiters;
};

#include "ui/SiteIconStore.h"

#include "model/BlockRule.h"
#include "system/HostAddresses.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QThreadPool>
#include <QTimeZone>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <netdb.h>
#include <sys/socket.h>
#include <utility>

const char* const SiteIconStore::userAgent = "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 "
                                             "(KHTML, like Gecko) Version/17.0 Safari/605.1.15";

namespace {

// ---------------------------------------------------------------------------------------------
// Page text

// The page as text: UTF-8 when it is valid (a sequence cut by the byte cap at the very end does
// not count against it), else ISO Latin 1.
QString decodePage(QByteArray bytes, bool wasCut)
{
    if (wasCut) {
        // Drop an incomplete multi-byte sequence at the end.
        qsizetype i = bytes.size();
        qsizetype back = 0;
        while (i > 0 && back < 4 && (uchar(bytes.at(i - 1)) & 0xC0) == 0x80) {
            --i;
            ++back;
        }
        if (i > 0 && uchar(bytes.at(i - 1)) >= 0xC0) {
            const uchar lead = uchar(bytes.at(i - 1));
            const qsizetype need = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
            if (back < need)
                bytes.truncate(i - 1);
        }
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (!decoder.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

// ---------------------------------------------------------------------------------------------
// Work off the main thread

template <typename Work, typename Then> void offThread(QThreadPool* pool, QObject* receiver, Work work, Then then)
{
    pool->start([receiver, work = std::move(work), then = std::move(then)]() mutable {
        auto result = work();
        // The store waits for its pool before it deletes the receivers, so `receiver` is alive.
        QMetaObject::invokeMethod(
            receiver, [then = std::move(then), result = std::move(result)]() mutable { then(std::move(result)); },
            Qt::QueuedConnection);
    });
}

SiteIconStore* sharedStore = nullptr;

} // namespace

// ---------------------------------------------------------------------------------------------
// One guarded request: resolve, check the address, ask that address, follow redirects the same
// way, read the body up to a cap.

struct FetchResult {
    bool ok = false;
    QUrl url;       // the address of the last hop, by name
    int status = 0; // 0: not an HTTP answer
    QByteArray body;
    bool cut = false; // the body was longer than the cap and cut there
};

class GuardedFetch : public QObject {
public:
    enum class Overflow { cut, refuse };

    GuardedFetch(SiteIconStore* store, const QUrl& url, qint64 cap, Overflow overflow,
                 std::function<void(const FetchResult&)> done, QObject* parent)
        : QObject(parent), m_store(store), m_cap(cap), m_overflow(overflow), m_done(std::move(done))
    {
        m_deadline.setSingleShot(true);
        connect(&m_deadline, &QTimer::timeout, this, [this] { fail(); });
        m_deadline.start(SiteIconStore::requestTimeoutMs);
        hop(url, SiteIconStore::maxRedirects);
    }

private:
    void hop(const QUrl& url, int redirectsLeft)
    {
        const QString scheme = url.scheme();
        if (!url.isValid() || (scheme != u"https" && scheme != u"http") || url.host().isEmpty())
            return fail();
        m_url = url;
        const QString host = url.host();
        const QHostAddress literal(host);
        if (!literal.isNull())
            return send(url, literal, redirectsLeft);
        m_store->m_resolver(host, this, [this, url, redirectsLeft](const QList<QHostAddress>& addresses) {
            // Any refused address is enough to refuse the name: it may be the one a later lookup
            // (by another program on the path) would pick.
            if (addresses.isEmpty())
                return fail();
            for (const QHostAddress& a : addresses)
                if (!m_store->m_isAllowed(a))
                    return fail();
            send(url, addresses.first(), redirectsLeft);
        });
    }

    void send(const QUrl& url, const QHostAddress& address, int redirectsLeft)
    {
        if (!m_store->m_isAllowed(address))
            return fail();
        // Ask the checked address itself, so that no second lookup can lead elsewhere; the name
        // still goes in the Host header and is what the certificate is checked against.
        QUrl physical = url;
        physical.setHost(address.toString());
        QNetworkRequest request(physical);
        const QHostAddress literal(url.host());
        QByteArray hostHeader = literal.protocol() == QAbstractSocket::IPv6Protocol ? '[' + url.host().toLatin1() + ']'
                                                                                    : QUrl::toAce(url.host());
        if (url.port() != -1)
            hostHeader += ':' + QByteArray::number(url.port());
        request.setRawHeader("Host", hostHeader);
        request.setRawHeader("User-Agent", SiteIconStore::userAgent);
        request.setPeerVerifyName(url.host());
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
        request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
        request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
        // HTTP/2 would name the address, not the host, in its request.
        request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
        request.setTransferTimeout(SiteIconStore::inactivityTimeoutMs);
        if (!m_store->m_caCertificates.isEmpty()) {
            QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
            tls.addCaCertificates(m_store->m_caCertificates);
            request.setSslConfiguration(tls);
        }

        m_body.clear();
        m_cut = false;
        QNetworkReply* reply = m_store->m_network->get(request);
        reply->setParent(this);
        reply->setReadBufferSize(64 * 1024);
        m_reply = reply;
        connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
            if (isRedirect(reply))
                return;
            const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
            if (m_overflow == Overflow::refuse && length.isValid() && length.toLongLong() > m_cap) {
                // Refused before a byte of the body is read.
                m_refused = true;
                reply->abort();
            }
        });
        connect(reply, &QIODevice::readyRead, this, [this, reply] { read(reply); });
        connect(reply, &QNetworkReply::finished, this,
                [this, reply, redirectsLeft] { finished(reply, redirectsLeft); });
    }

    static bool isRedirect(QNetworkReply* reply)
    {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        return (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) &&
               reply->hasRawHeader("Location");
    }

    void read(QNetworkReply* reply)
    {
        if (m_refused || m_cut || isRedirect(reply))
            return;
        while (reply->bytesAvailable() > 0) {
            const QByteArray chunk = reply->read(std::min<qint64>(reply->bytesAvailable(), 64 * 1024));
            if (m_body.size() + chunk.size() > m_cap) {
                if (m_overflow == Overflow::refuse) {
                    m_refused = true;
                    m_body.clear();
                } else {
                    m_body.append(chunk.left(m_cap - m_body.size()));
                    m_cut = true;
                }
                reply->abort();
                return;
            }
            m_body.append(chunk);
        }
    }

    void finished(QNetworkReply* reply, int redirectsLeft)
    {
        reply->deleteLater();
        if (m_reply != reply || m_over)
            return;
        m_reply = nullptr;
        if (m_refused)
            return fail();
        if (isRedirect(reply)) {
            if (redirectsLeft <= 0)
                return fail();
            const QUrl location = QUrl::fromEncoded(reply->rawHeader("Location"));
            return hop(m_url.resolved(location), redirectsLeft - 1);
        }
        if (!m_cut)
            read(reply);
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        // A transport failure has no HTTP answer; an HTTP error status is still an answer.
        if (!status.isValid() && !m_cut)
            return fail();
        if (m_refused)
            return fail();
        FetchResult result;
        result.ok = true;
        result.url = m_url;
        result.status = status.toInt();
        result.body = m_body;
        result.cut = m_cut;
        complete(result);
    }

    void fail() { complete(FetchResult{}); }

    void complete(const FetchResult& result)
    {
        if (m_over)
            return;
        m_over = true;
        m_deadline.stop();
        if (m_reply) {
            QNetworkReply* reply = m_reply;
            m_reply = nullptr;
            reply->abort();
        }
        m_done(result);
        deleteLater();
    }

    SiteIconStore* m_store;
    qint64 m_cap;
    Overflow m_overflow;
    std::function<void(const FetchResult&)> m_done;
    QTimer m_deadline;
    QUrl m_url;
    QNetworkReply* m_reply = nullptr;
    QByteArray m_body;
    bool m_cut = false;
    bool m_refused = false;
    bool m_over = false;
};

// ---------------------------------------------------------------------------------------------
// The pipeline of one key: pages, candidates, the first good icon.

class SiteIconDownload : public QObject {
public:
    SiteIconDownload(SiteIconStore* store, const QString& key) : QObject(store->m_jobs), m_store(store), m_key(key) {}

    void start() { readPage(0); }

private:
    void readPage(int index)
    {
        const QStringList hosts{m_key, QStringLiteral("www.") + m_key};
        if (index >= hosts.size() || !m_links.isEmpty())
            return tryCandidates();
        const QUrl page(QStringLiteral("https://") + hosts.at(index) + u'/', QUrl::StrictMode);
        if (!page.isValid() || page.host().isEmpty())
            return readPage(index + 1);
        new GuardedFetch(
            m_store, page, SiteIconStore::pageByteCap, GuardedFetch::Overflow::cut,
            [this, index, page](const FetchResult& result) {
                if (!result.ok)
                    return readPage(index + 1);
                const QUrl base = result.url.isValid() ? result.url : page;
                offThread(
                    m_store->m_pool, this,
                    [body = result.body, cut = result.cut, base] {
                        return SiteIconStore::iconLinks(decodePage(body, cut), base);
                    },
                    [this, index](const QList<QUrl>& links) {
                        m_links += links;
                        readPage(index + 1);
                    });
            },
            this);
    }

    void tryCandidates()
    {
        QList<QUrl> candidates = m_links;
        for (const QUrl& fallback : SiteIconStore::fallbackUrls(m_key))
            if (!candidates.contains(fallback))
                candidates.append(fallback);
        m_candidates = candidates.mid(0, SiteIconStore::maxCandidates);
        tryCandidate(0);
    }

    void tryCandidate(int index)
    {
        if (index >= m_candidates.size())
            return m_store->finish(m_key, {}, {});
        new GuardedFetch(
            m_store, m_candidates.at(index), SiteIconStore::iconMaxBytes, GuardedFetch::Overflow::refuse,
            [this, index](const FetchResult& result) {
                if (!result.ok || result.status > 399 || result.body.size() < SiteIconStore::iconMinBytes ||
                    result.body.size() > SiteIconStore::iconMaxBytes)
                    return tryCandidate(index + 1);
                offThread(
                    m_store->m_pool, this, [body = result.body] { return SiteIconStore::decodeIcon(body); },
                    [this, index, body = result.body](const QImage& image) {
                        if (image.isNull())
                            return tryCandidate(index + 1);
                        m_store->finish(m_key, body, image);
                    });
            },
            this);
    }

    SiteIconStore* m_store;
    QString m_key;
    QList<QUrl> m_links;
    QList<QUrl> m_candidates;
};

// ---------------------------------------------------------------------------------------------
// The store

SiteIconStore::SiteIconStore(Options options, QObject* parent) : QObject(parent)
{
    m_directory = options.directory.isEmpty() ? defaultDirectory() : options.directory;
    m_clock = options.clock ? options.clock : &SystemClock::instance();
    setResolver(std::move(options.resolver));
    m_isAllowed = options.isAllowed ? options.isAllowed : &SiteIconStore::isPublicAddress;
    m_caCertificates = options.extraCaCertificates;
    m_network = new QNetworkAccessManager(this);
    m_network->setCookieJar(nullptr);
    m_network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    if (options.proxy)
        m_network->setProxy(*options.proxy);
    m_pool = new QThreadPool(this);
    m_jobs = new QObject(this);
    m_pool->setMaxThreadCount(2);
    // Made once; a failure leaves the caches empty and writes failing quietly.
    if (QDir().mkpath(m_directory))
        QFile::setPermissions(m_directory, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

SiteIconStore::~SiteIconStore()
{
    // Work on the pool posts back to the downloads: let it end before they go, and let them go
    // (with their replies) before the network manager does.
    m_pool->waitForDone();
    delete m_jobs;
    m_inFlight.clear();
}

SiteIconStore& SiteIconStore::shared()
{
    if (!sharedStore) {
        sharedStore = new SiteIconStore(Options{}, QCoreApplication::instance());
        // As a child of the application it would go only after the application object is half
        // destroyed, when a lookup still running could answer into it; gone before, its lookups
        // are called off while the application still exists.
        qAddPostRoutine([] { delete std::exchange(sharedStore, nullptr); });
    }
    return *sharedStore;
}

SiteIconStore::Resolver SiteIconStore::systemResolver()
{
    return HostAddresses::systemResolver();
}

void SiteIconStore::setResolver(Resolver resolver)
{
    m_resolver = resolver ? std::move(resolver) : systemResolver();
}

QString SiteIconStore::defaultDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/quillharbour/SiteIcons");
}

QString SiteIconStore::key(const QString& domain)
{
    const QString normalized = BlockRule::normalizedDomain(domain);
    if (!BlockRule::isValidDomain(normalized))
        return {};
    return normalized;
}

QString SiteIconStore::iconPath(const QString& key) const
{
    return m_directory + u'/' + key + QStringLiteral(".icon");
}

QString SiteIconStore::markerPath(const QString& key) const
{
    return m_directory + u'/' + key + QStringLiteral(".none");
}

QImage SiteIconStore::cachedImage(const QString& domain)
{
    const QString k = key(domain);
    if (k.isEmpty())
        return {};
    if (const auto it = m_memory.constFind(k); it != m_memory.constEnd())
        return *it;
    QFile file(iconPath(k));
    if (!file.open(QIODevice::ReadOnly) || file.size() > iconMaxBytes)
        return {};
    const QImage image = decodeIcon(file.readAll());
    if (image.isNull())
        return {};
    m_memory.insert(k, image);
    return image;
}

bool SiteIconStore::hasFreshMarker(const QString& key) const
{
    const QFileInfo marker(markerPath(key));
    if (!marker.exists())
        return false;
    const QDateTime modified = marker.lastModified();
    if (!modified.isValid())
        return false;
    const double age = m_clock->now() - double(modified.toMSecsSinceEpoch()) / 1000.0;
    return age < retryAfterFailure;
}

void SiteIconStore::image(const QString& domain, QObject* context, std::function<void(const QImage&)> done)
{
    const auto answerLater = [context, done](const QImage& image) {
        QMetaObject::invokeMethod(
            context, [done, image] { done(image); }, Qt::QueuedConnection);
    };
    const QString k = key(domain);
    if (k.isEmpty())
        return answerLater({});
    if (const QImage cached = cachedImage(k); !cached.isNull())
        return answerLater(cached);
    if (hasFreshMarker(k))
        return answerLater({});
    m_waiters[k].append(Waiter{context, std::move(done)});
    if (m_inFlight.contains(k))
        return;
    auto* download = new SiteIconDownload(this, k);
    m_inFlight.insert(k, download);
    download->start();
}

void SiteIconStore::finish(const QString& key, const QByteArray& bytes, const QImage& image)
{
    if (SiteIconDownload* download = m_inFlight.take(key))
        download->deleteLater();
    const bool found = !image.isNull();
    if (found) {
        QSaveFile file(iconPath(key));
        if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
            file.commit();
        QFile::remove(markerPath(key));
        m_memory.insert(key, image);
    } else {
        // The marker's modification time is the time of the failure, on the store's clock.
        QFile marker(markerPath(key));
        if (marker.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            const QDateTime now = QDateTime::fromMSecsSinceEpoch(qint64(m_clock->now() * 1000), Qt::UTC);
            marker.setFileTime(now, QFileDevice::FileModificationTime);
            marker.close();
        }
    }
    const QList<Waiter> waiters = m_waiters.take(key);
    for (const Waiter& waiter : waiters)
        if (waiter.context)
            waiter.done(image);
    emit downloadFinished(key, found);
}

// ---------------------------------------------------------------------------------------------
// Pure parts

QImage SiteIconStore::decodeIcon(const QByteArray& bytes)
{
    static const QList<QByteArray> formats{"png", "ico", "jpeg", "jpg", "gif", "bmp", "webp"};
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    if (!formats.contains(reader.format().toLower()))
        return {};
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > maxIconEdge || size.height() > maxIconEdge))
        return {};
    reader.setAllocationLimit(64);
    QImage image = reader.read();
    if (image.isNull() || image.width() < minIconWidth || image.width() > maxIconEdge || image.height() > maxIconEdge)
        return {};
    return image;
}

std::optional<QString> SiteIconStore::attributeValue(const QString& name, const QString& tag)
{
    const QRegularExpression expression(QStringLiteral("\\b") + name +
                                            QStringLiteral("\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s>]+))"),
                                        QRegularExpression::CaseInsensitiveOption);
    if (!expression.isValid())
        return std::nullopt;
    const QRegularExpressionMatch match = expression.match(tag);
    if (!match.hasMatch())
        return std::nullopt;
    for (int group = 1; group <= 3; ++group)
        if (match.capturedStart(group) >= 0)
            return match.captured(group);
    return std::nullopt;
}

std::optional<int> SiteIconStore::iconSize(const QString& sizes)
{
    const QStringList pieces = sizes.toLower().split(u'x', Qt::SkipEmptyParts);
    if (pieces.isEmpty())
        return std::nullopt;
    const QString& first = pieces.first();
    // A whole base-10 number with an optional sign; no spaces.
    static const QRegularExpression whole(QStringLiteral("^[+-]?[0-9]+$"));
    if (!whole.match(first).hasMatch())
        return std::nullopt;
    bool ok = false;
    const int value = first.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

QList<QUrl> SiteIconStore::iconLinks(const QString& html, const QUrl& baseUrl)
{
    static const QRegularExpression linkTag(QStringLiteral("<link\\b[^>]*>"),
                                            QRegularExpression::CaseInsensitiveOption);
    struct Candidate {
        QUrl url;
        qint64 score;
    };
    QList<Candidate> found;
    for (auto it = linkTag.globalMatch(html); it.hasNext();) {
        const QString tag = it.next().captured(0);
        const std::optional<QString> relValue = attributeValue(QStringLiteral("rel"), tag);
        if (!relValue)
            continue;
        const QString rel = relValue->toLower();
        if (!rel.contains(QStringLiteral("icon")))
            continue;
        std::optional<QString> href = attributeValue(QStringLiteral("href"), tag);
        if (!href)
            continue;
        href->replace(QStringLiteral("&amp;"), QStringLiteral("&"));
        if (href->toLower().endsWith(QStringLiteral(".svg")) || href->startsWith(QStringLiteral("data:")))
            continue;
        const QUrl relative(*href);
        if (!relative.isValid())
            continue;
        const QUrl absolute = baseUrl.resolved(relative);
        if (!absolute.isValid() || (absolute.scheme() != u"https" && absolute.scheme() != u"http"))
            continue;
        qint64 score = rel.contains(QStringLiteral("apple-touch-icon")) ? 1000 : 0;
        if (const auto sizes = attributeValue(QStringLiteral("sizes"), tag))
            if (const auto size = iconSize(*sizes))
                score += std::min(512, *size);
        found.append({absolute, score});
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
    QList<QUrl> urls;
    for (const Candidate& c : found)
        urls.append(c.url);
    return urls;
}

QList<QUrl> SiteIconStore::fallbackUrls(const QString& key)
{
    QList<QUrl> urls;
    for (const QString& text :
         {QStringLiteral("https://%1/apple-touch-icon.png"), QStringLiteral("https://www.%1/apple-touch-icon.png"),
          QStringLiteral("https://%1/favicon.ico"), QStringLiteral("https://www.%1/favicon.ico")}) {
        const QUrl url(text.arg(key), QUrl::StrictMode);
        if (url.isValid() && !url.host().isEmpty() && !urls.contains(url))
            urls.append(url);
    }
    return urls;
}

bool SiteIconStore::isPublicAddress(const QHostAddress& address)
{
    return HostAddresses::isPublic(address);
}

#include "IconSiteProxy.h"
#include "TestEnvironment.h"

#include "ui/SiteIconStore.h"
#include "ui/SiteIconView.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

namespace {

QByteArray png(int width, int height = 0)
{
    QImage image(width, height > 0 ? height : width, QImage::Format_ARGB32);
    image.fill(QColor(200, 80, 60));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QString page(const QString& links)
{
    return QStringLiteral("<!DOCTYPE html><html><head><title>t</title>") + links + QStringLiteral("</head></html>");
}

const QHostAddress publicAddress(QStringLiteral("93.184.216.34"));

} // namespace

class TestSiteIcons : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void iconLinks_data();
    void iconLinks();
    void iconSize_data();
    void iconSize();
    void publicAddresses_data();
    void publicAddresses();
    void decodeIcon_data();
    void decodeIcon();
    void keysAreCheckedBeforeAnyPath_data();
    void keysAreCheckedBeforeAnyPath();

    void downloadsTheBestIconAndKeepsIt();
    void candidatesAreCheckedInTurn_data();
    void candidatesAreCheckedInTurn();
    void bodiesOverTheCapAreNotReadWhole_data();
    void bodiesOverTheCapAreNotReadWhole();
    void pageIsReadUpToItsCap();
    void localAddressesAreRefused_data();
    void localAddressesAreRefused();
    void failureMarkerHoldsForThreeDays();
    void oneDownloadPerSiteAndGoneViewsAreLeftAlone();
    void viewShowsCachedIconAtOnceAndFollowsItsDomain();
    void storeGoneMidDownload();
    void systemResolver_data();
    void systemResolver();

private:
    std::unique_ptr<SiteIconStore> makeStore();
    QImage fetch(SiteIconStore& store, const QString& domain);

    IconSiteProxy m_proxy;
    QTemporaryDir m_cache;
    ManualClock m_clock{1'750'000'000};
    QHash<QString, QHostAddress> m_addresses; // names that do not resolve to publicAddress
};

void TestSiteIcons::initTestCase()
{
    QStringList names;
    for (const char* site : {"alpha.example", "beta.example", "gamma.example", "delta.example", "big.example",
                             "page.example", "shared.example", "private.example", "view.example"})
        names << QString::fromLatin1(site) << QStringLiteral("www.") + QString::fromLatin1(site);
    QVERIFY(m_proxy.start(names));
}

void TestSiteIcons::init()
{
    m_proxy.routes.clear();
    m_proxy.requests.clear();
    m_proxy.connectTargets.clear();
    m_addresses.clear();
    QDir(m_cache.path()).removeRecursively();
}

std::unique_ptr<SiteIconStore> TestSiteIcons::makeStore()
{
    SiteIconStoreOptions options;
    options.directory = m_cache.path() + QStringLiteral("/SiteIcons");
    options.clock = &m_clock;
    // Every name resolves to a public address, which the proxy stands in for; the production
    // address policy stays in force.
    options.resolver = [this](const QString& host, QObject* context,
                              std::function<void(const QList<QHostAddress>&)> done) {
        const QHostAddress address = m_addresses.value(host, publicAddress);
        QMetaObject::invokeMethod(
            context, [done, address] { done({address}); }, Qt::QueuedConnection);
    };
    options.proxy = m_proxy.proxy();
    options.extraCaCertificates = {m_proxy.certificate()};
    return std::make_unique<SiteIconStore>(options);
}

QImage TestSiteIcons::fetch(SiteIconStore& store, const QString& domain)
{
    QImage result;
    bool answered = false;
    QObject context;
    store.image(domain, &context, [&](const QImage& image) {
        result = image;
        answered = true;
    });
    [&] { QTRY_VERIFY_WITH_TIMEOUT(answered, 30000); }();
    return result;
}

// ---------------------------------------------------------------------------------------------

void TestSiteIcons::iconLinks_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("apple-touch first") << page("<link rel=\"icon\" sizes=\"16x16\" href=\"/a.png\"><LINK "
                                               "REL='apple-touch-icon' sizes=180x180 href=/b.png>")
                                       << "https://x.com/" << QStringList{"https://x.com/b.png", "https://x.com/a.png"};
    QTest::newRow("size capped at 512, below any touch icon")
        << page("<link rel=icon sizes=1024x1024 href=/big.png><link rel=apple-touch-icon href=/t.png>")
        << "https://x.com/" << QStringList{"https://x.com/t.png", "https://x.com/big.png"};
    QTest::newRow("equal scores keep page order")
        << page("<link rel='shortcut icon' href=/1.ico><link rel=icon href=/2.ico>") << "https://x.com/"
        << QStringList{"https://x.com/1.ico", "https://x.com/2.ico"};
    QTest::newRow("svg and data skipped")
        << page("<link rel=icon href=/a.SVG><link rel=icon href=\"data:image/png;base64,AAAA\">") << "https://x.com/"
        << QStringList{};
    QTest::newRow("entities and the redirected base")
        << page("<link rel=icon href=\"/img/fav.png?v=2&amp;x=1\">") << "https://www.example.com/"
        << QStringList{"https://www.example.com/img/fav.png?v=2&x=1"};
    QTest::newRow("relative and scheme-relative")
        << page("<link rel=icon href=i.png><link rel=icon href=//cdn.example.net/j.png>") << "https://x.com/dir/"
        << QStringList{"https://x.com/dir/i.png", "https://cdn.example.net/j.png"};
    QTest::newRow("other schemes, no rel, other rels")
        << page("<link rel=icon href=javascript:alert(1)><link href=/n.png><link rel=stylesheet href=/s.css>"
                "<link rel=icon href=ftp://x.com/f.png>")
        << "https://x.com/" << QStringList{};
    QTest::newRow("spaces around =, no href") << page("<link rel = icon href = /s.png><link rel=icon>")
                                              << "https://x.com/" << QStringList{"https://x.com/s.png"};
    QTest::newRow("a hyphenated attribute ending in rel counts")
        << page("<link data-rel=icon href=/d.png>") << "https://x.com/" << QStringList{"https://x.com/d.png"};
}

void TestSiteIcons::iconLinks()
{
    QFETCH(QString, html);
    QFETCH(QString, base);
    QFETCH(QStringList, expected);
    QStringList urls;
    for (const QUrl& url : SiteIconStore::iconLinks(html, QUrl(base)))
        urls << url.toString(QUrl::FullyEncoded);
    QCOMPARE(urls, expected);
}

void TestSiteIcons::iconSize_data()
{
    QTest::addColumn<QString>("sizes");
    QTest::addColumn<int>("expected"); // -1: none
    QTest::newRow("first of several") << "16x16 32x32" << 16;
    QTest::newRow("capital X") << "180X180" << 180;
    QTest::newRow("any") << "any" << -1;
    QTest::newRow("leading blank") << " 32x32" << -1;
    QTest::newRow("signed") << "+48x48" << 48;
}

void TestSiteIcons::iconSize()
{
    QFETCH(QString, sizes);
    QFETCH(int, expected);
    QCOMPARE(SiteIconStore::iconSize(sizes).value_or(-1), expected);
}

void TestSiteIcons::publicAddresses_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("isPublic");
    QTest::newRow("global v4") << "93.184.216.34" << true;
    QTest::newRow("loopback") << "127.0.0.1" << false;
    QTest::newRow("unspecified") << "0.0.0.0" << false;
    QTest::newRow("172.16/12") << "172.31.255.1" << false;
    QTest::newRow("172.32 is public") << "172.32.0.1" << true;
    QTest::newRow("shared 100.64/10") << "100.100.1.1" << false;
    QTest::newRow("link-local v4") << "169.254.169.254" << false;
    QTest::newRow("multicast v4") << "239.1.1.1" << false;
    QTest::newRow("broadcast") << "255.255.255.255" << false;
    QTest::newRow("global v6") << "2606:4700::1111" << true;
    QTest::newRow("loopback v6") << "::1" << false;
    QTest::newRow("unique-local") << "fd00::1" << false;
    QTest::newRow("mapped loopback") << "::ffff:127.0.0.1" << false;
    QTest::newRow("mapped global") << "::ffff:8.8.8.8" << true;
    QTest::newRow("NAT64 of a private address") << "64:ff9b::a00:1" << false;
    QTest::newRow("6to4 of a private address") << "2002:c0a8:101::1" << false;
}

void TestSiteIcons::publicAddresses()
{
    QFETCH(QString, address);
    QFETCH(bool, isPublic);
    QCOMPARE(SiteIconStore::isPublicAddress(QHostAddress(address)), isPublic);
}

void TestSiteIcons::decodeIcon_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("width"); // 0: refused
    QTest::newRow("16 wide") << png(16) << 16;
    QTest::newRow("15 wide") << png(15, 40) << 0;
    QTest::newRow("1024") << png(1024) << 1024;
    QTest::newRow("over 1024 tall") << png(32, 1025) << 0;
    QTest::newRow("svg") << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\">"
                                       "<rect width=\"64\" height=\"64\"/></svg>")
                         << 0;
    QTest::newRow("truncated png") << png(64).left(60) << 0;
}

void TestSiteIcons::decodeIcon()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, width);
    QCOMPARE(SiteIconStore::decodeIcon(bytes).width(), width);
}

void TestSiteIcons::keysAreCheckedBeforeAnyPath_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("key");
    QTest::newRow("one key for every form") << "https://www.Example.COM/feed"
                                            << "example.com";
    QTest::newRow("localhost") << "localhost"
                               << "";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("path climbing") << "../../icons/x.com"
                                   << "";
    QTest::newRow("separator") << "a\\..\\b.com"
                               << "";
}

void TestSiteIcons::keysAreCheckedBeforeAnyPath()
{
    QFETCH(QString, domain);
    QFETCH(QString, key);
    QCOMPARE(SiteIconStore::key(domain), key);
    if (!key.isEmpty())
        return;
    // An unchecked text never becomes a file name, neither when reading nor when fetching.
    auto store = makeStore();
    QFile planted(m_cache.path() + QStringLiteral("/SiteIcons/") + domain + QStringLiteral(".icon"));
    QDir().mkpath(QFileInfo(planted).absolutePath());
    if (planted.open(QIODevice::WriteOnly)) {
        planted.write(png(32));
        planted.close();
    }
    QVERIFY(store->cachedImage(domain).isNull());
    QVERIFY(fetch(*store, domain).isNull());
    QVERIFY(m_proxy.requests.isEmpty());
    QVERIFY(QDir(store->directory()).entryList({QStringLiteral("*.none")}).isEmpty());
}

// ---------------------------------------------------------------------------------------------

void TestSiteIcons::downloadsTheBestIconAndKeepsIt()
{
    const QByteArray touch = png(180);
    m_proxy.routes.insert(QStringLiteral("alpha.example/"),
                          {200, "Content-Type: text/html\r\n",
                           page("<link rel=icon sizes=16x16 href=/small.png>"
                                "<link rel=apple-touch-icon sizes=180x180 href=/touch.png>")
                               .toUtf8()});
    m_proxy.routes.insert(QStringLiteral("alpha.example/small.png"), {200, {}, png(16)});
    m_proxy.routes.insert(QStringLiteral("alpha.example/touch.png"), {200, {}, touch});
    {
        auto store = makeStore();
        QCOMPARE(fetch(*store, QStringLiteral("https://www.Alpha.example/feed")).width(), 180);
        QCOMPARE(m_proxy.requests, (QStringList{"alpha.example/", "alpha.example/touch.png"}));
        QFile icon(store->directory() + QStringLiteral("/alpha.example.icon"));
        QVERIFY(icon.open(QIODevice::ReadOnly));
        QCOMPARE(icon.readAll(), touch);
        QVERIFY(!QFile::exists(store->directory() + QStringLiteral("/alpha.example.none")));
        for (const QString& target : std::as_const(m_proxy.connectTargets))
            QCOMPARE(target, publicAddress.toString() + QStringLiteral(":443"));
    }
    // A new store (a new run) finds it on disk, without a request.
    m_proxy.requests.clear();
    auto again = makeStore();
    QCOMPARE(again->cachedImage(QStringLiteral("alpha.example")).width(), 180);
    QCOMPARE(fetch(*again, QStringLiteral("alpha.example")).width(), 180);
    QVERIFY(m_proxy.requests.isEmpty());
}

void TestSiteIcons::candidatesAreCheckedInTurn_data()
{
    // One page link answers each way; the favicon fallback is good, so the result shows which
    // answers were refused.
    QTest::addColumn<IconSiteProxy::Response>("link");
    QTest::addColumn<int>("width");
    QTest::newRow("accepted") << IconSiteProxy::Response{200, {}, png(48)} << 48;
    QTest::newRow("HTTP 404 with an image") << IconSiteProxy::Response{404, {}, png(48)} << 32;
    QTest::newRow("64 bytes") << IconSiteProxy::Response{200, {}, QByteArray(64, 'a')} << 32;
    QTest::newRow("redirect within the site") << IconSiteProxy::Response{302, "Location: /moved.png\r\n", {}} << 64;
    QTest::newRow("endless redirects") << IconSiteProxy::Response{302, "Location: /l.png\r\n", {}} << 32;
}

void TestSiteIcons::candidatesAreCheckedInTurn()
{
    QFETCH(IconSiteProxy::Response, link);
    QFETCH(int, width);
    m_proxy.routes.insert(QStringLiteral("beta.example/"), {200, {}, page("<link rel=icon href=/l.png>").toUtf8()});
    m_proxy.routes.insert(QStringLiteral("beta.example/l.png"), link);
    m_proxy.routes.insert(QStringLiteral("beta.example/moved.png"), {200, {}, png(64)});
    m_proxy.routes.insert(QStringLiteral("beta.example/favicon.ico"), {200, {}, png(32)});
    auto store = makeStore();
    QCOMPARE(fetch(*store, QStringLiteral("beta.example")).width(), width);
}

void TestSiteIcons::bodiesOverTheCapAreNotReadWhole_data()
{
    QTest::addColumn<bool>("announceLength");
    QTest::newRow("announced length over the cap") << true;
    QTest::newRow("no length, streamed") << false;
}

void TestSiteIcons::bodiesOverTheCapAreNotReadWhole()
{
    QFETCH(bool, announceLength);
    const qint64 huge = 64 * 1024 * 1024;
    m_proxy.routes.insert(QStringLiteral("big.example/"), {200, {}, page("<link rel=icon href=/huge.png>").toUtf8()});
    m_proxy.routes.insert(QStringLiteral("big.example/huge.png"), {200, {}, png(64), huge, announceLength});
    auto store = makeStore();
    QVERIFY(fetch(*store, QStringLiteral("big.example")).isNull());
    QVERIFY(m_proxy.requests.contains(QStringLiteral("big.example/huge.png")));
    // Reading stopped near the cap, long before the end of the body.
    QVERIFY2(m_proxy.fillerServed < 8 * 1024 * 1024, qPrintable(QString::number(m_proxy.fillerServed)));
    QVERIFY(QFile::exists(store->directory() + QStringLiteral("/big.example.none")));
}

void TestSiteIcons::pageIsReadUpToItsCap()
{
    // A link inside the first 600,000 bytes is found; one after them is not (the www. page and
    // the fallbacks are asked instead). The padding is multi-byte text cut in the middle.
    const QByteArray padding = QString(SiteIconStore::pageByteCap / 2, QChar(0x00E9)).toUtf8();
    m_proxy.routes.insert(QStringLiteral("page.example/"),
                          {200, {}, "<link rel=icon href=/early.png>" + padding + "<link rel=icon href=/late.png>"});
    m_proxy.routes.insert(QStringLiteral("page.example/early.png"), {404, {}, {}});
    m_proxy.routes.insert(QStringLiteral("page.example/late.png"), {200, {}, png(20)});
    auto store = makeStore();
    QVERIFY(fetch(*store, QStringLiteral("page.example")).isNull());
    QVERIFY(m_proxy.requests.contains(QStringLiteral("page.example/early.png")));
    QVERIFY(!m_proxy.requests.contains(QStringLiteral("page.example/late.png")));
    QVERIFY(!m_proxy.requests.contains(QStringLiteral("www.page.example/")));
}

void TestSiteIcons::localAddressesAreRefused_data()
{
    QTest::addColumn<QString>("linkTarget");
    QTest::addColumn<QString>("privateName"); // a name that resolves to a private address
    QTest::newRow("redirect to 127.0.0.1") << "/r.png"
                                           << "";
    QTest::newRow("link to a private address") << "https://10.0.0.7/i.png"
                                               << "";
    QTest::newRow("name of a private address") << "https://private.example/i.png"
                                               << "private.example";
}

void TestSiteIcons::localAddressesAreRefused()
{
    QFETCH(QString, linkTarget);
    QFETCH(QString, privateName);
    if (!privateName.isEmpty())
        m_addresses.insert(privateName, QHostAddress(QStringLiteral("192.168.1.20")));
    m_proxy.routes.insert(QStringLiteral("gamma.example/"),
                          {200, {}, page(QStringLiteral("<link rel=icon href=\"%1\">").arg(linkTarget)).toUtf8()});
    m_proxy.routes.insert(
        QStringLiteral("gamma.example/r.png"),
        {302, "Location: https://127.0.0.1:" + QByteArray::number(m_proxy.serverPort()) + "/i.png\r\n", {}});
    auto store = makeStore();
    QVERIFY(fetch(*store, QStringLiteral("gamma.example")).isNull());
    for (const QString& target : std::as_const(m_proxy.connectTargets))
        QCOMPARE(target, publicAddress.toString() + QStringLiteral(":443"));
    QVERIFY(!m_proxy.requests.contains(QStringLiteral("private.example/i.png")));
}

void TestSiteIcons::failureMarkerHoldsForThreeDays()
{
    auto store = makeStore();
    QVERIFY(fetch(*store, QStringLiteral("delta.example")).isNull());
    const QString marker = store->directory() + QStringLiteral("/delta.example.none");
    QVERIFY(QFile::exists(marker));
    const qsizetype asked = m_proxy.requests.size();
    QVERIFY(asked > 0);

    m_proxy.routes.insert(QStringLiteral("delta.example/favicon.ico"), {200, {}, png(32)});
    m_clock.advance(2 * 86400);
    QVERIFY(fetch(*store, QStringLiteral("delta.example")).isNull());
    QCOMPARE(m_proxy.requests.size(), asked);

    m_clock.advance(86400 + 1);
    QCOMPARE(fetch(*store, QStringLiteral("delta.example")).width(), 32);
    QVERIFY(!QFile::exists(marker));
    QVERIFY(QFile::exists(store->directory() + QStringLiteral("/delta.example.icon")));
}

void TestSiteIcons::oneDownloadPerSiteAndGoneViewsAreLeftAlone()
{
    m_proxy.routes.insert(QStringLiteral("shared.example/favicon.ico"), {200, {}, png(24)});
    auto store = makeStore();
    QSignalSpy finished(store.get(), &SiteIconStore::downloadFinished);
    QList<QImage> answers;
    auto gone = std::make_unique<QObject>();
    bool goneAnswered = false;
    QObject context;
    store->image(QStringLiteral("shared.example"), &context, [&](const QImage& image) { answers << image; });
    store->image(QStringLiteral("www.shared.example"), gone.get(), [&](const QImage&) { goneAnswered = true; });
    store->image(QStringLiteral("https://shared.example/x"), &context, [&](const QImage& image) { answers << image; });
    gone.reset();
    QTRY_COMPARE_WITH_TIMEOUT(answers.size(), 2, 30000);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(answers.at(0).width(), 24);
    QCOMPARE(answers.at(0), answers.at(1));
    QVERIFY(!goneAnswered);
    QCOMPARE(m_proxy.requests.count(QStringLiteral("shared.example/")), 1);
    QCOMPARE(m_proxy.requests.count(QStringLiteral("shared.example/favicon.ico")), 1);
}

void TestSiteIcons::viewShowsCachedIconAtOnceAndFollowsItsDomain()
{
    auto store = makeStore();
    QDir().mkpath(store->directory());
    QFile icon(store->directory() + QStringLiteral("/view.example.icon"));
    QVERIFY(icon.open(QIODevice::WriteOnly));
    icon.write(png(180));
    icon.close();

    SiteIconView view(QStringLiteral("www.view.example"), QStringLiteral("View"), 40, nullptr, store.get());
    QCOMPARE(view.image().width(), 180); // before it is ever shown

    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.show();
    view.setDomain(QStringLiteral("delta.example")); // nothing cached: the letter tile at once
    QVERIFY(view.image().isNull());
    QSignalSpy finished(store.get(), &SiteIconStore::downloadFinished);
    QVERIFY(finished.wait(30000));
    QVERIFY(view.image().isNull());
}

void TestSiteIcons::storeGoneMidDownload()
{
    m_proxy.routes.insert(QStringLiteral("big.example/"), {200, {}, page("<link rel=icon href=/slow.png>").toUtf8()});
    m_proxy.routes.insert(QStringLiteral("big.example/slow.png"), {200, {}, png(64), 1024 * 1024, true});
    auto store = makeStore();
    bool answered = false;
    QObject context;
    store->image(QStringLiteral("big.example"), &context, [&](const QImage&) { answered = true; });
    QTRY_VERIFY_WITH_TIMEOUT(m_proxy.requests.contains(QStringLiteral("big.example/slow.png")), 30000);
    store.reset();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!answered);
}

void TestSiteIcons::systemResolver_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("address"); // one of the answers; empty: none
    QTest::newRow("address") << QStringLiteral("127.0.0.1") << QStringLiteral("127.0.0.1");
    QTest::newRow("name of the hosts file") << QStringLiteral("localhost") << QStringLiteral("127.0.0.1");
    QTest::newRow("label over 63 characters") << QString(70, u'a') + QStringLiteral(".com") << QString();
}

void TestSiteIcons::systemResolver()
{
    QFETCH(QString, host);
    QFETCH(QString, address);
    const SiteIconStore::Resolver resolve = SiteIconStore::systemResolver();
    bool goneAnswered = false;
    auto* gone = new QObject;
    resolve(host, gone, [&](const QList<QHostAddress>&) { goneAnswered = true; });
    delete gone;
    std::optional<QList<QHostAddress>> answer;
    QObject owner;
    resolve(host, &owner, [&](const QList<QHostAddress>& addresses) { answer = addresses; });
    QTRY_VERIFY_WITH_TIMEOUT(answer.has_value(), 30000);
    QCoreApplication::processEvents();
    QVERIFY(!goneAnswered);
    QCOMPARE(answer->isEmpty(), address.isEmpty());
    QVERIFY(address.isEmpty() || answer->contains(QHostAddress(address)));
    QCOMPARE(QSet<QHostAddress>(answer->begin(), answer->end()).size(), answer->size()); // each address once
}

QTEST_MAIN(TestSiteIcons)
#include "tst_site_icons.moc"

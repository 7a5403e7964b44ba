#include "blocking/BlockPage.h"

#include "model/Json.h"

#include <QHostAddress>
#include <QUrl>
#include <algorithm>

namespace BlockPage {

const QStringList headlines{
    QStringLiteral("Before you scroll…"),
    QStringLiteral("Hold on a second"),
    QStringLiteral("Wait — one quick thing"),
};

const QString styleSheet = QStringLiteral(R"CSS(
:root {
  color-scheme: light;
  --ink: #201f1c; --muted: #6e6a60; --ivory: #f1eee7; --char: #23221f; --gold: #edcb6a;
  --onchar: #cfc9bb; --hair: #e4e0d4; --quiet: #cfc8b8;
  --high: #c75b45; --medium: #d9a13f; --low: #7e96ab;
  --sans: -apple-system, BlinkMacSystemFont, "SF Pro Text", "Helvetica Neue", sans-serif;
  --serif: ui-serif, "New York", "Iowan Old Style", Georgia, serif;
}
* { box-sizing: border-box; }
body { margin: 0; min-width: 320px; min-height: 100vh; background: var(--ivory); color: var(--ink); font-family: var(--sans); }
.page { width: min(100% - 40px, 560px); margin: 0 auto; padding: 72px 0 56px; display: flex; flex-direction: column; gap: 24px; }
.brand { display: flex; align-items: center; gap: 12px; }
.logo { width: 40px; height: 40px; border-radius: 11px; background: #fff; object-fit: cover; flex-shrink: 0; }
.eyebrow, .section, .hero-eyebrow { margin: 0; font-size: 11.5px; font-weight: 800; letter-spacing: .11em; text-transform: uppercase; }
.eyebrow, .section { color: var(--muted); }
.intro { display: flex; flex-direction: column; gap: 10px; }
h1 { margin: 0; font-family: var(--serif); font-weight: 600; font-size: clamp(34px, 6vw, 48px); line-height: 1.08; letter-spacing: -.01em; }
.lede { margin: 0; font-family: var(--serif); font-size: 19px; line-height: 1.45; color: var(--muted); }
.hero { background: var(--char); border-radius: 24px; padding: 26px 28px; display: flex; flex-direction: column; gap: 14px; box-shadow: 0 20px 44px rgba(35,34,31,.22); }
.hero-eyebrow { color: var(--gold); }
.hero h2 { margin: 0; color: #fff; font-family: var(--serif); font-weight: 600; font-size: 30px; line-height: 1.15; }
.hero-meta { margin: 0; color: var(--onchar); font-size: 13px; }
.actions { display: flex; flex-wrap: wrap; gap: 10px; padding-top: 2px; }
.gold, .ghost, .dark, .outline { display: inline-flex; align-items: center; justify-content: center; min-height: 44px; padding: 0 20px; border-radius: 13px; font: inherit; font-size: 14px; font-weight: 800; text-decoration: none; cursor: pointer; }
.gold { background: var(--gold); color: var(--char); border: none; }
.ghost { background: transparent; color: #fff; border: 1px solid rgba(255,255,255,.28); }
.dark { background: var(--char); color: #fff; border: none; }
.outline { background: transparent; color: var(--ink); border: 1px solid var(--quiet); }
.gold:hover, .dark:hover { filter: brightness(1.06); }
.ghost:hover { border-color: rgba(255,255,255,.55); }
.outline:hover { border-color: var(--ink); }
a:focus-visible, button:focus-visible { outline: 2px solid var(--gold); outline-offset: 2px; }
.then { display: flex; flex-direction: column; }
.section { margin-bottom: 4px; }
.row { display: flex; align-items: center; gap: 12px; min-height: 46px; border-bottom: 1px solid var(--hair); font-size: 15px; font-weight: 600; }
.dot { width: 8px; height: 8px; border-radius: 50%; flex-shrink: 0; }
.dot-high { background: var(--high); }
.dot-medium { background: var(--medium); }
.dot-low { background: var(--low); }
.more { margin: 10px 0 0; color: var(--muted); font-size: 12.5px; font-weight: 600; }
.urgent { margin: 0; color: var(--muted); font-size: 13px; }
.urgent a { color: var(--ink); font-weight: 700; text-underline-offset: 3px; }
@media (max-width: 520px) { .page { padding-top: 40px; } .hero { padding: 22px 20px; } }
)CSS");

namespace {

QString head(const QString& title)
{
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>") +
           escapeHTML(title) + QStringLiteral("</title>\n<style>") + styleSheet + QStringLiteral("</style>\n</head>\n");
}

QString brand(const QString& eyebrow)
{
    return QStringLiteral(
               "<header class=\"brand\"><img class=\"logo\" src=\"/app-icon.png\" width=\"40\" height=\"40\" "
               "alt=\"Quillharbour\"><p class=\"eyebrow\">") +
           escapeHTML(eyebrow) + QStringLiteral("</p></header>\n");
}

QString intro(const QString& headline, const QString& lede)
{
    return QStringLiteral("<div class=\"intro\"><h1>") + escapeHTML(headline) +
           QStringLiteral("</h1><p class=\"lede\">") + escapeHTML(lede) + QStringLiteral("</p></div>\n");
}

QString heroMeta(const TaskItem& task)
{
    QStringList parts;
    if (const auto steps = task.stepsProgressText())
        parts.append(*steps);
    if (task.time != TaskItem::anytime && !task.time.isEmpty())
        parts.append(QStringLiteral("by ") + task.displayTime());
    return parts.join(QStringLiteral(" · "));
}

} // namespace

QString escapeHTML(const QString& text)
{
    QString out;
    out.reserve(text.size() + 16);
    for (QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            out += QLatin1String("&amp;");
            break;
        case u'<':
            out += QLatin1String("&lt;");
            break;
        case u'>':
            out += QLatin1String("&gt;");
            break;
        case u'"':
            out += QLatin1String("&quot;");
            break;
        case u'\'':
            out += QLatin1String("&#39;");
            break;
        default:
            out += c;
        }
    }
    return out;
}

namespace {

// An IPv4 address the way browsers read a host: one to four parts, each decimal, octal (a
// leading 0) or hexadecimal (0x), the last filling the remaining bytes ("0", "127.1",
// "0x7f.0.0.1" and "2130706433" are all addresses). Nothing when the host is not numeric.
std::optional<quint32> browserIPv4(QString host)
{
    if (host.endsWith(u'.'))
        host.chop(1);
    const QStringList parts = host.split(u'.');
    if (parts.isEmpty() || parts.size() > 4)
        return std::nullopt;
    std::vector<quint64> numbers;
    for (const QString& part : parts) {
        if (part.isEmpty())
            return std::nullopt;
        int base = 10;
        QString digits = part;
        if (digits.startsWith(QLatin1String("0x"))) {
            base = 16;
            digits = digits.mid(2);
        } else if (digits.size() > 1 && digits.startsWith(u'0')) {
            base = 8;
            digits = digits.mid(1);
        }
        if (digits.isEmpty()) {
            numbers.push_back(0);
            continue;
        }
        bool ok = false;
        const quint64 n = digits.toULongLong(&ok, base);
        if (!ok || digits.startsWith(u'+') || digits.startsWith(u'-'))
            return std::nullopt;
        numbers.push_back(n);
    }
    quint64 address = 0;
    for (size_t i = 0; i + 1 < numbers.size(); ++i) {
        if (numbers[i] > 255)
            return std::nullopt;
        address |= numbers[i] << (8 * (3 - i));
    }
    const quint64 last = numbers.back();
    if (last >= (quint64(1) << (8 * (5 - numbers.size()))))
        return std::nullopt;
    return quint32(address | last);
}

// This computer or no computer: 0.0.0.0/8 and [::] reach local listeners just like loopback.
bool isLocalAddress(const QHostAddress& address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped || address.protocol() == QAbstractSocket::IPv4Protocol)
        return (v4 >> 24) == 127 || (v4 >> 24) == 0;
    return address.isLoopback() || address == QHostAddress(QHostAddress::AnyIPv6);
}

// The host a browser would go to for an http or https address: tabs and line breaks vanish, any
// run of slashes or backslashes follows the scheme, the authority ends at the first slash,
// backslash, "?" or "#", the user part ends at its last "@", and the host is percent-decoded.
// Nothing when a browser would refuse the address.
std::optional<QString> browserHost(QString text)
{
    text.remove(u'\t');
    text.remove(u'\n');
    text.remove(u'\r');
    text = text.trimmed();
    const qsizetype colon = text.indexOf(u':');
    if (colon < 0)
        return std::nullopt;
    const QString scheme = text.left(colon).toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return std::nullopt;
    qsizetype i = colon + 1;
    while (i < text.size() && (text.at(i) == u'/' || text.at(i) == u'\\'))
        ++i;
    qsizetype end = i;
    while (end < text.size() && !QStringView(u"/\\?#").contains(text.at(end)))
        ++end;
    QString authority = text.mid(i, end - i);
    if (const qsizetype at = authority.lastIndexOf(u'@'); at >= 0)
        authority = authority.mid(at + 1);
    QString host = authority;
    QString port;
    if (host.startsWith(u'[')) {
        const qsizetype close = host.indexOf(u']');
        if (close < 0)
            return std::nullopt;
        port = host.mid(close + 1);
        host = host.left(close + 1);
        if (!port.isEmpty() && !port.startsWith(u':'))
            return std::nullopt;
        port = port.mid(1);
    } else if (const qsizetype portColon = host.indexOf(u':'); portColon >= 0) {
        port = host.mid(portColon + 1);
        host = host.left(portColon);
    }
    if (!port.isEmpty()) {
        bool ok = false;
        if (port.toUInt(&ok) > 65535 || !ok || port.startsWith(u'+'))
            return std::nullopt;
    }
    if (host.startsWith(u'['))
        return host.toLower();
    host = QString::fromUtf8(QByteArray::fromPercentEncoding(host.toUtf8()));
    // Full-width digits and letters map to their plain forms, as in a browser's host reading.
    if (std::any_of(host.cbegin(), host.cend(), [](QChar c) { return c.unicode() > 0x7f; }))
        host = QString::fromLatin1(QUrl::toAce(host));
    host = host.toLower();
    static const QString forbidden = QStringLiteral(" #%/:<>?@[\\]^|");
    if (host.isEmpty() ||
        std::any_of(host.cbegin(), host.cend(), [](QChar c) { return c.unicode() < 0x20 || forbidden.contains(c); }))
        return std::nullopt;
    return host;
}

bool isThisComputer(QString host)
{
    if (host.startsWith(u'[')) {
        const QHostAddress address(host.mid(1, host.size() - 2));
        return address.isNull() || isLocalAddress(address);
    }
    if (const std::optional<quint32> v4 = browserIPv4(host))
        return isLocalAddress(QHostAddress(*v4));
    while (host.endsWith(u'.'))
        host.chop(1);
    return host.isEmpty() || host == QLatin1String("localhost") || host.endsWith(QLatin1String(".localhost")) ||
           QHostAddress(host).isLoopback();
}

} // namespace

std::optional<QString> safeReturnURL(const std::optional<QString>& text)
{
    if (!text)
        return std::nullopt;
    // Read twice: tolerantly, as before (a tab may report characters such as "<" unencoded), and
    // as a browser reads it, for a backslash or a numeric host means something else there. Both
    // readings must name another computer. The text itself is returned as it came.
    const QUrl url(*text, QUrl::TolerantMode);
    if (!url.isValid())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return std::nullopt;
    const QString host = url.host().toLower();
    if (host.isEmpty() || isThisComputer(host.contains(u':') ? u'[' + host + u']' : host))
        return std::nullopt;
    const std::optional<QString> browser = browserHost(*text);
    if (!browser || isThisComputer(*browser))
        return std::nullopt;
    return text;
}

std::optional<QString> returnHost(const std::optional<QString>& text)
{
    if (!safeReturnURL(text))
        return std::nullopt;
    std::optional<QString> host = browserHost(*text);
    if (host && host->startsWith(u'[') && host->endsWith(u']'))
        *host = host->mid(1, host->size() - 2);
    return host;
}

QString targetExpression(const std::optional<QString>& text)
{
    const std::optional<QString> safe = safeReturnURL(text);
    if (!safe)
        return QStringLiteral("null");
    return QStringLiteral("atob('") + QString::fromLatin1(safe->toUtf8().toBase64()) + QStringLiteral("')");
}

int headlineIndex(const QString& domain)
{
    // Unsigned and seeded with a constant: defined for every text, stable for the whole run.
    const size_t h = qHash(domain, size_t(0));
    return static_cast<int>(h % 3);
}

QString render(const BlockedSiteSnapshot& snapshot, const std::vector<TaskItem>& tasks, qint64 todayCount,
               const std::optional<QString>& returnURL)
{
    QString headline = headlines.at(headlineIndex(snapshot.domain));
    QString lede;
    if (snapshot.kind == BlockedSiteSnapshot::doomBreakKind) {
        headline = QStringLiteral("Time for a break");
        lede = QStringLiteral(
            "You've been scrolling for a while. This site is on a short break. It opens again automatically.");
    } else if (!tasks.empty()) {
        lede = QStringLiteral("You set priorities today. Are they done yet?");
    } else if (todayCount <= 0) {
        lede = QStringLiteral("You haven't set any priorities yet. Open Quillharbour and choose what matters today.");
    } else {
        lede = QStringLiteral("Everything for today is done. Spend the time on something that matters to you.");
    }
    const QString ruleId = uuidText(snapshot.ruleId);

    QString html = head(QStringLiteral("Before you scroll… · Quillharbour"));
    html += QStringLiteral("<body>\n<main class=\"page\">\n");
    html += brand(snapshot.domain + QStringLiteral(" · ") + snapshot.reason);
    html += intro(headline, lede);

    if (!tasks.empty()) {
        const TaskItem& top = tasks.front();
        const QString meta = heroMeta(top);
        html += QStringLiteral("<section class=\"hero\" aria-label=\"Your top priority\"><p class=\"hero-eyebrow\">") +
                escapeHTML(QStringLiteral("Right now · ") + TaskItem::rawValue(top.priority) +
                           QStringLiteral(" priority")) +
                QStringLiteral("</p><h2>") + escapeHTML(top.title) + QStringLiteral("</h2>");
        if (!meta.isEmpty())
            html += QStringLiteral("<p class=\"hero-meta\">") + escapeHTML(meta) + QStringLiteral("</p>");
        html +=
            QStringLiteral("<div class=\"actions\"><a class=\"gold\" href=\"quillharbour://open\">Open Quillharbour</a>"
                           "<button id=\"close-button\" class=\"ghost\" type=\"button\">Close this tab</button></div>"
                           "</section>\n");
    } else {
        html += QStringLiteral(
            "<div class=\"actions\"><a class=\"dark\" href=\"quillharbour://open\">Open Quillharbour</a>"
            "<button id=\"close-button\" class=\"outline\" type=\"button\">Close this tab</button></div>\n");
    }

    const size_t rows = tasks.size() > 1 ? std::min<size_t>(tasks.size() - 1, 3) : 0;
    if (rows > 0) {
        html += QStringLiteral("<section class=\"then\" aria-label=\"Then\"><p class=\"section\">Then</p>");
        for (size_t i = 1; i <= rows; ++i) {
            const QString priority = escapeHTML(TaskItem::rawValue(tasks[i].priority));
            html += QStringLiteral("<div class=\"row\"><span class=\"dot dot-") + priority +
                    QStringLiteral("\"></span><span>") + escapeHTML(tasks[i].title) + QStringLiteral("</span></div>");
        }
        const size_t more = tasks.size() - 1 - rows;
        if (more > 0)
            html += QStringLiteral("<p class=\"more\">+ %1 more today</p>").arg(more);
        html += QStringLiteral("</section>\n");
    }
    if (snapshot.allowUrgentBreak)
        html += QStringLiteral("<p class=\"urgent\">Need it urgently? <a href=\"quillharbour://urgent-break?rule=") +
                ruleId + QStringLiteral("\">Take a 10-minute urgent break</a></p>\n");
    html += QStringLiteral("</main>\n<script>\n"
                           "document.getElementById('close-button').addEventListener('click', function () {\n"
                           "  window.location.href = '/close';\n"
                           "});\n"
                           "var target = ") +
            targetExpression(returnURL) +
            QStringLiteral(";\n"
                           "var checks = 0;\n"
                           "var timer = setInterval(function () {\n"
                           "  checks += 1;\n"
                           "  if (checks > 7200) { clearInterval(timer); return; }\n"
                           "  fetch('/status?rule=") +
            ruleId +
            QStringLiteral("', { cache: 'no-store' })\n"
                           "    .then(function (response) { return response.json(); })\n"
                           "    .then(function (result) {\n"
                           "      if (result && result.blocked === false) {\n"
                           "        clearInterval(timer);\n"
                           "        if (target) { window.location.replace(target); } else { history.back(); }\n"
                           "      }\n"
                           "    })\n"
                           "    .catch(function () {});\n"
                           "}, 2000);\n"
                           "</script>\n</body>\n</html>\n");
    return html;
}

QString blockEnded(const std::optional<QString>& returnURL, bool goesBack)
{
    const bool leaves = goesBack && safeReturnURL(returnURL);
    QString html = head(QStringLiteral("Quillharbour"));
    html += QStringLiteral("<body>\n<main class=\"page\">\n");
    html += brand(QStringLiteral("Quillharbour"));
    html +=
        intro(QStringLiteral("This block has ended"), leaves ? QStringLiteral("Taking you back to the site…")
                                                             : QStringLiteral("You can go back when you're ready."));
    html += QStringLiteral(
                "<div class=\"actions\"><button id=\"back-button\" class=\"dark\" type=\"button\">Go back</button>"
                "<a class=\"outline\" href=\"quillharbour://open\">Open Quillharbour</a></div>\n"
                "</main>\n<script>\n"
                "var target = ") +
            targetExpression(returnURL) +
            QStringLiteral(";\n"
                           "document.getElementById('back-button').addEventListener('click', function () {\n"
                           "  if (target) { window.location.replace(target); } else { history.back(); }\n"
                           "});\n") +
            (leaves ? QStringLiteral("window.location.replace(target);\n") : QString()) +
            QStringLiteral("</script>\n</body>\n</html>\n");
    return html;
}

QString closing()
{
    QString html = head(QStringLiteral("Closing tab · Quillharbour"));
    html += QStringLiteral("<body>\n<main class=\"page\">\n");
    html += brand(QStringLiteral("Quillharbour"));
    html +=
        intro(QStringLiteral("Leaving this distraction"),
              QStringLiteral(
                  "This tab should close automatically. If your browser keeps it open, you can close it normally."));
    html += QStringLiteral(
        "<div class=\"actions\"><a class=\"dark\" href=\"quillharbour://open\">Open Quillharbour</a></div>\n"
        "</main>\n</body>\n</html>\n");
    return html;
}

} // namespace BlockPage

#include "blocking/BlockPageRequest.h"

#include <QStringConverter>
#include <QUrl>

namespace BlockPageRequest {

qsizetype headEnd(const QByteArray& bytes)
{
    qsizetype lineStart = 0;
    for (;;) {
        const qsizetype lf = bytes.indexOf('\n', lineStart);
        if (lf < 0)
            return -1;
        const qsizetype length = lf - lineStart;
        if (length == 0 || (length == 1 && bytes.at(lineStart) == '\r'))
            return lf + 1;
        lineStart = lf + 1;
    }
}

namespace {

// A request must name this server in exactly one Host header: otherwise a web page could reach
// it through a name that resolves to the loopback address (DNS rebinding). Without a port (the
// server is not listening) only the name is checked.
bool hostAllowed(const QList<QStringView>& lines, std::optional<quint16> port)
{
    int hosts = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringView line = lines.at(i);
        if (line.isEmpty())
            break;
        const qsizetype colon = line.indexOf(u':');
        if (colon < 0 || line.first(colon).trimmed().compare(QLatin1String("host"), Qt::CaseInsensitive) != 0)
            continue;
        if (++hosts > 1)
            return false;
        const QString value = line.sliced(colon + 1).trimmed().toString().toLower();
        if (port) {
            const QString suffix = QStringLiteral(":%1").arg(*port);
            if (value != QLatin1String("127.0.0.1") + suffix && value != QLatin1String("localhost") + suffix)
                return false;
            continue;
        }
        const qsizetype portColon = value.lastIndexOf(u':');
        const QString name = portColon < 0 ? value : value.left(portColon);
        if (name != QLatin1String("127.0.0.1") && name != QLatin1String("localhost"))
            return false;
    }
    return hosts == 1;
}

// At most three parts; runs of spaces separate like one, and the third part is the rest of the line.
QList<QStringView> splitRequestLine(QStringView line)
{
    QList<QStringView> parts;
    qsizetype i = 0;
    while (parts.size() < 3) {
        while (i < line.size() && line.at(i) == u' ')
            ++i;
        if (i >= line.size())
            break;
        if (parts.size() == 2) {
            parts.append(line.sliced(i));
            break;
        }
        const qsizetype start = i;
        while (i < line.size() && line.at(i) != u' ')
            ++i;
        parts.append(line.sliced(start, i - start));
    }
    return parts;
}

// Whether the head says a body follows it: then more bytes may come after the head.
bool announcesBody(const QList<QStringView>& lines)
{
    for (qsizetype i = 1; i < lines.size() && !lines.at(i).isEmpty(); ++i) {
        const QStringView line = lines.at(i);
        const qsizetype colon = line.indexOf(u':');
        if (colon < 0)
            continue;
        const QStringView name = line.first(colon).trimmed();
        if (name.compare(QLatin1String("transfer-encoding"), Qt::CaseInsensitive) == 0)
            return true;
        if (name.compare(QLatin1String("content-length"), Qt::CaseInsensitive) == 0 &&
            line.sliced(colon + 1).trimmed() != QLatin1String("0"))
            return true;
    }
    return false;
}

QString percentDecoded(QStringView text)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text.toUtf8()));
}

} // namespace

std::variant<Target, Refusal> readTarget(const QByteArray& request, std::optional<quint16> port)
{
    // Only the head counts, and its size limit holds however the bytes arrived: a head that has
    // not ended within the limit is refused, and anything after the head is never read.
    const qsizetype end = headEnd(request);
    if (end < 0 ? request.size() > maximumHeadBytes : end > maximumHeadBytes)
        return Refusal::badRequest;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(end < 0 ? QByteArrayView(request) : QByteArrayView(request).first(end));
    if (decoder.hasError())
        return Refusal::badRequest;
    // Views into the text: a head of a dozen lines costs no copy of each.
    QList<QStringView> lines = QStringView(text).split(u'\n');
    for (QStringView& line : lines)
        if (line.endsWith(u'\r'))
            line.chop(1);
    const QList<QStringView> requestLine = splitRequestLine(lines.first());
    if (requestLine.size() != 3 || requestLine.at(0) != QLatin1String("GET"))
        return Refusal::onlyGet;
    if (!hostAllowed(lines, port))
        return Refusal::badRequest;
    // A browser extension's redirect rule cannot percent-encode: it appends the blocked address
    // as it was, after `&url=`. That is taken verbatim, whatever characters it holds.
    QString wanted = requestLine.at(1).toString();
    std::optional<QString> address;
    if (const qsizetype at = wanted.indexOf(QLatin1String("&url="));
        at >= 0 && wanted.startsWith(QLatin1String("/blocked?"))) {
        address = wanted.mid(at + 5);
        wanted.truncate(at);
    }
    const QUrl url(QStringLiteral("http://127.0.0.1") + wanted, QUrl::StrictMode);
    if (!url.isValid() || !wanted.startsWith(u'/'))
        return Refusal::badRequest;
    return Target{url.path(QUrl::FullyDecoded), url.query(QUrl::FullyEncoded), address, announcesBody(lines)};
}

std::optional<QString> queryValue(const QString& query, const QString& name)
{
    for (const QStringView item : QStringView(query).split(u'&')) {
        const qsizetype eq = item.indexOf(u'=');
        const QStringView key = eq < 0 ? item : item.first(eq);
        // Without an escape a key is what it says (the common case: no copies).
        if (key.contains(u'%') ? percentDecoded(key) != name : key != name)
            continue;
        if (eq < 0)
            return std::nullopt;
        return percentDecoded(item.sliced(eq + 1));
    }
    return std::nullopt;
}

} // namespace BlockPageRequest

#include "model/BlockRule.h"

#include "model/Iso8601.h"
#include "model/Json.h"
#include "model/SharedState.h"
#include "model/Text.h"

#include <QHash>
#include <algorithm>
#include <cmath>

namespace {

bool isAsciiAlpha(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}
bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}
bool isHexDigit(QChar c)
{
    return isAsciiDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}
bool isUnreserved(QChar c)
{
    return isAsciiAlpha(c) || isAsciiDigit(c) || c == u'-' || c == u'.' || c == u'_' || c == u'~';
}
bool isSubDelim(QChar c)
{
    return QStringView(u"!$&'()*+,;=").contains(c);
}

// Characters of one component of an RFC 3986 reference. Percent escapes must be complete.
// Non-ASCII letters are let through as they stand, so that internationalised names survive.
bool validComponent(QStringView text, QStringView extra)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'%') {
            if (i + 2 >= text.size() || !isHexDigit(text.at(i + 1)) || !isHexDigit(text.at(i + 2)))
                return false;
            i += 2;
        } else if (c.unicode() >= 0x80) {
            if (c.isSpace() || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
                return false;
        } else if (!isUnreserved(c) && !isSubDelim(c) && !extra.contains(c)) {
            return false;
        }
    }
    return true;
}

// The host of an RFC 3986 URI reference, or nothing when the text is not a valid reference or
// has no authority. Percent escapes in the host are decoded.
std::optional<QString> referenceHost(const QString& text)
{
    qsizetype pos = 0;
    // scheme ":" when the text starts with one
    if (!text.isEmpty() && isAsciiAlpha(text.at(0))) {
        qsizetype i = 1;
        while (i < text.size() && (isAsciiAlpha(text.at(i)) || isAsciiDigit(text.at(i)) || text.at(i) == u'+' ||
                                   text.at(i) == u'-' || text.at(i) == u'.'))
            ++i;
        if (i < text.size() && text.at(i) == u':')
            pos = i + 1;
    }
    const qsizetype fragmentAt = text.indexOf(u'#', pos);
    const qsizetype end = fragmentAt < 0 ? text.size() : fragmentAt;
    if (fragmentAt >= 0 && !validComponent(QStringView(text).mid(fragmentAt + 1), u":@/?"))
        return std::nullopt;
    const qsizetype queryAt = text.indexOf(u'?', pos);
    const qsizetype hierEnd = (queryAt >= 0 && queryAt < end) ? queryAt : end;
    if (hierEnd < end && !validComponent(QStringView(text).mid(hierEnd + 1, end - hierEnd - 1), u":@/?"))
        return std::nullopt;

    QStringView hier = QStringView(text).mid(pos, hierEnd - pos);
    std::optional<QString> host;
    if (hier.startsWith(u"//")) {
        const qsizetype slash = hier.indexOf(u'/', 2);
        const QStringView authority = hier.mid(2, slash < 0 ? -1 : slash - 2);
        hier = slash < 0 ? QStringView() : hier.mid(slash);
        QStringView hostPort = authority;
        const qsizetype at = authority.lastIndexOf(u'@');
        if (at >= 0) {
            if (!validComponent(authority.left(at), u":"))
                return std::nullopt;
            hostPort = authority.mid(at + 1);
        }
        QStringView hostPart = hostPort;
        if (hostPort.startsWith(u'[')) {
            const qsizetype close = hostPort.indexOf(u']');
            if (close < 0)
                return std::nullopt;
            hostPart = hostPort.mid(1, close - 1);
            for (QChar c : hostPart)
                if (!isHexDigit(c) && c != u':' && c != u'.')
                    return std::nullopt;
            const QStringView rest = hostPort.mid(close + 1);
            if (!rest.isEmpty() && !rest.startsWith(u':'))
                return std::nullopt;
            for (QChar c : rest.mid(1))
                if (!isAsciiDigit(c))
                    return std::nullopt;
            host = hostPart.toString();
        } else {
            const qsizetype colon = hostPort.lastIndexOf(u':');
            if (colon >= 0) {
                for (QChar c : hostPort.mid(colon + 1))
                    if (!isAsciiDigit(c))
                        return std::nullopt;
                hostPart = hostPort.left(colon);
            }
            if (!validComponent(hostPart, u""))
                return std::nullopt;
            const QByteArray decoded = QByteArray::fromPercentEncoding(hostPart.toUtf8());
            QString decodedText = QString::fromUtf8(decoded);
            if (decodedText.toUtf8() != decoded) // escapes that are not UTF-8
                return std::nullopt;
            host = decodedText;
        }
    } else {
        // A relative path's first segment may not hold a colon (it would read as a scheme).
        const qsizetype firstSlash = hier.indexOf(u'/');
        if (pos == 0 && hier.left(firstSlash < 0 ? hier.size() : firstSlash).contains(u':'))
            return std::nullopt;
    }
    if (!validComponent(hier, u":@/"))
        return std::nullopt;
    return host;
}

bool isLabelScalar(char32_t u)
{
    if (u == U'-')
        return true;
    switch (QChar::category(u)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
        return true;
    default:
        return false;
    }
}

// First letter of each blank-separated word upper case, the rest lower case.
QString capitalized(const QString& text)
{
    QString out;
    out.reserve(text.size());
    bool atWordStart = true;
    for (QChar c : text) {
        out += atWordStart ? c.toUpper() : c.toLower();
        atWordStart = c.isSpace();
    }
    return out;
}

} // namespace

MinuteSet BlockRule::blockedMinutes(std::optional<qint64> startHour, std::optional<qint64> startMinute,
                                    std::optional<qint64> endHour, std::optional<qint64> endMinute)
{
    MinuteSet minutes;
    if (!startHour || !startMinute || !endHour || !endMinute)
        return minutes;
    // Values outside the day are not written by any editor; clamping keeps a damaged file harmless.
    const qint64 start = std::clamp<qint64>(saturatingAdd(saturatingMul(*startHour, 60), *startMinute), 0, 1440);
    const qint64 end = std::clamp<qint64>(saturatingAdd(saturatingMul(*endHour, 60), *endMinute), 0, 1440);
    if (start < end) {
        for (qint64 m = start; m < end; ++m)
            minutes.set(static_cast<size_t>(m));
    } else {
        for (qint64 m = start; m < 1440; ++m)
            minutes.set(static_cast<size_t>(m));
        for (qint64 m = 0; m < end; ++m)
            minutes.set(static_cast<size_t>(m));
    }
    return minutes;
}

bool BlockRule::isLoosened(const BlockRule& before) const
{
    if (normalizedDomain(domain) != normalizedDomain(before.domain))
        return true;
    if (allowOneBreak && !before.allowOneBreak)
        return true;
    static const QSet<int> everyDay{1, 2, 3, 4, 5, 6, 7};
    const QSet<int>& oldDays = before.activeWeekdays.isEmpty() ? everyDay : before.activeWeekdays;
    const QSet<int>& newDays = activeWeekdays.isEmpty() ? everyDay : activeWeekdays;
    if (!newDays.contains(oldDays))
        return true;

    const BlockApplySchedule& o = before.blockApplySchedule;
    const BlockApplySchedule& n = blockApplySchedule;
    if (n.isAllDay)
        return false;
    if (o.isAllDay)
        return true;
    if (o.isAfterMaxDailyTime) {
        if (!n.isAfterMaxDailyTime)
            return true;
        return before.dailyLimitMinutes.value_or(0) < dailyLimitMinutes.value_or(0);
    }
    if (n.isAfterMaxDailyTime)
        return true;
    const MinuteSet oldMinutes = blockedMinutes(o.startHour, o.startMinute, o.endHour, o.endMinute);
    const MinuteSet newMinutes = blockedMinutes(n.startHour, n.startMinute, n.endHour, n.endMinute);
    return (oldMinutes & ~newMinutes).any();
}

double BlockRule::limitUsageFraction(const SharedState& state) const
{
    if (!dailyLimitMinutes || *dailyLimitMinutes < 1)
        return 0;
    if (state.exceededRuleIds.contains(id))
        return 1;
    const qint64 used = state.usageSecondsByRuleId.value(uuidText(id), 0);
    // In doubles: a damaged file's huge or negative numbers still give a share between 0 and 1.
    const double share = static_cast<double>(used) / (static_cast<double>(*dailyLimitMinutes) * 60.0);
    return std::clamp(share, 0.0, 1.0);
}

namespace {

QString normalizeDomain(const QString& text);

} // namespace

QString BlockRule::normalizedDomain(const QString& text)
{
    // Every check matches the tab's host against each blocked domain: the few texts seen lately
    // are remembered, per thread, rather than parsed as addresses again.
    thread_local QHash<QString, QString> remembered;
    if (const auto it = remembered.constFind(text); it != remembered.cend())
        return *it;
    if (remembered.size() >= 256)
        remembered.clear();
    const QString domain = normalizeDomain(text);
    remembered.insert(text, domain);
    return domain;
}

namespace {

QString normalizeDomain(const QString& text)
{
    QString s = text.trimmed().toLower();
    if (s.isEmpty())
        return {};
    if (!s.contains(QLatin1String("://")))
        s.prepend(QLatin1String("https://"));
    std::optional<QString> host = referenceHost(s);
    if (!host)
        return {};
    // Escapes are decoded after the text was lowered, so an escaped capital would survive otherwise.
    QString h = host->toLower();
    qsizetype first = 0;
    qsizetype last = h.size();
    while (first < last && h.at(first) == u'.')
        ++first;
    while (last > first && h.at(last - 1) == u'.')
        --last;
    h = h.mid(first, last - first);
    if (h.startsWith(QLatin1String("www.")))
        h.remove(0, 4);
    return h;
}

} // namespace

bool BlockRule::isValidDomain(const QString& text)
{
    const QString d = normalizedDomain(text);
    if (Text::characterCount(d) >= 254 || !d.contains(u'.'))
        return false;
    const QStringList labels = d.split(u'.');
    if (labels.size() < 2)
        return false;
    for (const QString& label : labels) {
        if (label.isEmpty() || Text::characterCount(label) > 63 || label.startsWith(u'-') || label.endsWith(u'-'))
            return false;
        for (char32_t u : label.toUcs4())
            if (!isLabelScalar(u))
                return false;
    }
    return true;
}

bool BlockRule::hostMatches(const QString& host, const QString& domain)
{
    const QString h = normalizedDomain(host);
    const QString d = normalizedDomain(domain);
    if (h.isEmpty() || d.isEmpty())
        return false;
    return h == d || h.endsWith(u'.' + d);
}

const QStringList& BlockRule::suggestedSites()
{
    static const QStringList sites{QStringLiteral("facebook.com"), QStringLiteral("instagram.com"),
                                   QStringLiteral("tiktok.com"), QStringLiteral("youtube.com"),
                                   QStringLiteral("linkedin.com")};
    return sites;
}

QString BlockRule::suggestedDisplayName(const QString& text)
{
    static const QHash<QString, QString> knownSites{
        {QStringLiteral("x"), QStringLiteral("X")},
        {QStringLiteral("youtube"), QStringLiteral("YouTube")},
        {QStringLiteral("tiktok"), QStringLiteral("TikTok")},
        {QStringLiteral("linkedin"), QStringLiteral("LinkedIn")},
        {QStringLiteral("netflix"), QStringLiteral("Netflix")},
        {QStringLiteral("twitch"), QStringLiteral("Twitch")},
        {QStringLiteral("reddit"), QStringLiteral("Reddit")},
        {QStringLiteral("discord"), QStringLiteral("Discord")},
        {QStringLiteral("facebook"), QStringLiteral("Facebook")},
        {QStringLiteral("instagram"), QStringLiteral("Instagram")},
        {QStringLiteral("pinterest"), QStringLiteral("Pinterest")},
        {QStringLiteral("news"), QStringLiteral("Hacker News")},
    };
    const QString d = normalizedDomain(text);
    const QStringList pieces = d.split(u'.', Qt::SkipEmptyParts);
    if (pieces.isEmpty())
        return d;
    const QString& label = pieces.first();
    const auto known = knownSites.constFind(label);
    return known != knownSites.cend() ? *known : capitalized(label);
}

QJsonObject encodeBlockApplySchedule(const BlockApplySchedule& schedule)
{
    JsonValueBuilder b;
    writeBlockApplySchedule(b, schedule);
    return b.result().toObject();
}

std::optional<BlockApplySchedule> decodeBlockApplySchedule(const QJsonValue& value, QString* error)
{
    JsonReader r(value, QStringLiteral("blockApplySchedule"));
    BlockApplySchedule s;
    s.isAllDay = r.optBoolean(QStringLiteral("isAllDay")).value_or(true);
    s.isAfterMaxDailyTime = r.optBoolean(QStringLiteral("isAfterMaxDailyTime")).value_or(false);
    s.startHour = r.optInteger(QStringLiteral("startHour"));
    s.startMinute = r.optInteger(QStringLiteral("startMinute"));
    s.endHour = r.optInteger(QStringLiteral("endHour"));
    s.endMinute = r.optInteger(QStringLiteral("endMinute"));
    if (!r.ok()) {
        if (error)
            *error = r.error();
        return std::nullopt;
    }
    return s;
}

QJsonObject encodeBlockRule(const BlockRule& rule)
{
    JsonValueBuilder b;
    writeBlockRule(b, rule);
    return b.result().toObject();
}

QByteArray rulesFileText(const std::vector<BlockRule>& rules)
{
    JsonTextWriter w;
    w.beginArray();
    for (const BlockRule& r : rules)
        writeBlockRule(w, r);
    w.endArray();
    return w.take();
}

std::optional<BlockRule> decodeBlockRule(const QJsonValue& value, QString* error)
{
    JsonReader r(value, QStringLiteral("BlockRule"));
    BlockRule rule;
    rule.id = r.uuid(QStringLiteral("id"));
    rule.domain = r.string(QStringLiteral("domain"));
    rule.displayName = r.string(QStringLiteral("displayName"));
    rule.blockApplySchedule =
        r.nested<BlockApplySchedule>(QStringLiteral("blockApplySchedule"),
                                     [](const QJsonValue& v, QString* e) { return decodeBlockApplySchedule(v, e); });
    rule.dailyLimitMinutes = r.optInteger(QStringLiteral("dailyLimitMinutes"));
    rule.activeWeekdays = r.nested<QSet<int>>(
        QStringLiteral("activeWeekdays"), [](const QJsonValue& v, QString* e) -> std::optional<QSet<int>> {
            if (!v.isArray()) {
                *e = QStringLiteral("expected an array");
                return std::nullopt;
            }
            QSet<int> days;
            for (const QJsonValue& day : v.toArray()) {
                const double d = day.toDouble(-1);
                if (!day.isDouble() || d != std::floor(d) || d < -1e9 || d > 1e9) {
                    *e = QStringLiteral("expected whole numbers");
                    return std::nullopt;
                }
                days.insert(static_cast<int>(d));
            }
            return days;
        });
    rule.allowOneBreak = r.boolean(QStringLiteral("allowOneBreak"));
    rule.urgentBreakUsedCalendarDay = r.optInteger(QStringLiteral("urgentBreakUsedCalendarDay"));
    rule.createdAt = r.date(QStringLiteral("createdAt"));
    rule.updatedAt = r.date(QStringLiteral("updatedAt"));
    if (!r.ok()) {
        if (error)
            *error = r.error();
        return std::nullopt;
    }
    return rule;
}

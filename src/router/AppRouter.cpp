#include "router/AppRouter.h"

#include "model/Json.h"

#include <utility>

QString AppRouter::rawValue(Destination destination)
{
    switch (destination) {
    case Destination::todos:
        return QStringLiteral("todos");
    case Destination::block:
        return QStringLiteral("block");
    case Destination::notes:
        return QStringLiteral("notes");
    case Destination::settings:
        return QStringLiteral("settings");
    }
    return {};
}

std::optional<AppRouter::Destination> AppRouter::destinationFromRaw(const QString& text)
{
    for (Destination d : {Destination::todos, Destination::block, Destination::notes, Destination::settings})
        if (rawValue(d) == text)
            return d;
    return std::nullopt;
}

void AppRouter::setDestination(Destination destination)
{
    if (destination == m_destination)
        return;
    m_destination = destination;
    emit destinationChanged();
}

void AppRouter::setUrgentBreakRuleID(const std::optional<QUuid>& id)
{
    if (id == m_urgentBreakRuleID)
        return;
    m_urgentBreakRuleID = id;
    emit urgentBreakRuleIDChanged();
}

void AppRouter::setNewItemRequest(const std::optional<NewItem>& request)
{
    if (request == m_newItemRequest)
        return;
    m_newItemRequest = request;
    emit newItemRequestChanged();
}

void AppRouter::requestShowToday()
{
    ++m_showTodayRequest;
    emit showTodayRequestChanged();
}

void AppRouter::requestUrgentBreakChoice()
{
    m_urgentBreakChoice = true;
    emit urgentBreakChoiceRequested();
}

bool AppRouter::takeUrgentBreakChoice()
{
    return std::exchange(m_urgentBreakChoice, false);
}

namespace {

// The host of a link with the letters as written, which QUrl does not keep.
QString hostAsWritten(const QString& link, const QUrl& url)
{
    if (!url.isValid() || url.host().isEmpty())
        return {};
    const QString text = link.trimmed();
    const qsizetype colon = text.indexOf(u':');
    if (colon < 0 || !QStringView(text).mid(colon + 1).startsWith(u"//"))
        return url.host(QUrl::FullyDecoded);
    QStringView authority = QStringView(text).mid(colon + 3);
    for (qsizetype i = 0; i < authority.size(); ++i) {
        if (authority.at(i) == u'/' || authority.at(i) == u'?' || authority.at(i) == u'#') {
            authority = authority.left(i);
            break;
        }
    }
    authority = authority.mid(authority.lastIndexOf(u'@') + 1);
    if (!authority.startsWith(u'[') && authority.contains(u':'))
        authority = authority.left(authority.lastIndexOf(u':'));
    return QUrl::fromPercentEncoding(authority.toUtf8());
}

} // namespace

void AppRouter::handle(const QString& link)
{
    const QUrl url(link);
    route(hostAsWritten(link, url), url);
}

void AppRouter::handle(const QUrl& url)
{
    route(url.host(QUrl::FullyDecoded), url);
}

void AppRouter::route(const QString& host, const QUrl& url)
{
    if (host == QLatin1String("urgent-break")) {
        setDestination(Destination::block);
        const auto query = queryParameters(url);
        if (query && !query->isEmpty() && query->contains(QStringLiteral("rule")))
            setUrgentBreakRuleID(parseUuid(query->value(QStringLiteral("rule"))));
        else
            setUrgentBreakRuleID(std::nullopt);
        return;
    }
    if (host == QLatin1String("settings")) {
        setDestination(Destination::settings);
        return;
    }
    setDestination(Destination::todos);
}

std::optional<QHash<QString, QString>> AppRouter::queryParameters(const QUrl& url)
{
    if (!url.isValid() || !url.hasQuery())
        return std::nullopt;
    QHash<QString, QString> out;
    const QString query = url.query(QUrl::FullyEncoded);
    if (query.isEmpty())
        return out;
    for (const QString& item : query.split(u'&')) {
        const qsizetype eq = item.indexOf(u'=');
        const QString name = QUrl::fromPercentEncoding(item.left(eq < 0 ? item.size() : eq).toUtf8());
        if (eq < 0)
            out.remove(name);
        else
            out.insert(name, QUrl::fromPercentEncoding(item.mid(eq + 1).toUtf8()));
    }
    return out;
}

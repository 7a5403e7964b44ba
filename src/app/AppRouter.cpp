#include "app/AppRouter.h"

#include "model/Json.h"

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

void AppRouter::handle(const QUrl& url)
{
    const QString host = url.host(QUrl::FullyDecoded);
    if (!host.isEmpty() && host == QLatin1String("urgent-break")) {
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

#include "model/DoomScroll.h"

#include "model/BlockRule.h"
#include "model/Json.h"

bool DoomScrollConfig::matches(const QString& host) const
{
    for (const DoomScrollDomain& entry : domains)
        if (BlockRule::hostMatches(host, entry.domain))
            return true;
    return false;
}

QJsonObject encodeDoomScrollDomain(const DoomScrollDomain& domain)
{
    JsonValueBuilder b;
    writeDoomScrollDomain(b, domain);
    return b.result().toObject();
}

std::optional<DoomScrollDomain> decodeDoomScrollDomain(const QJsonValue& value, QString* error)
{
    JsonReader r(value, QStringLiteral("DoomScrollDomain"));
    DoomScrollDomain d{r.uuid(QStringLiteral("id")), r.string(QStringLiteral("domain"))};
    if (!r.ok()) {
        if (error)
            *error = r.error();
        return std::nullopt;
    }
    return d;
}

QJsonObject encodeDoomScrollConfig(const DoomScrollConfig& config)
{
    JsonValueBuilder b;
    writeDoomScrollConfig(b, config);
    return b.result().toObject();
}

std::optional<DoomScrollConfig> decodeDoomScrollConfig(const QJsonValue& value, QString* error)
{
    JsonReader r(value, QStringLiteral("DoomScrollConfig"));
    DoomScrollConfig c;
    c.isEnabled = r.boolean(QStringLiteral("isEnabled"));
    c.domains = r.nested<std::vector<DoomScrollDomain>>(QStringLiteral("domains"), [](const QJsonValue& v, QString* e) {
        return decodeStrictList<DoomScrollDomain>(v, decodeDoomScrollDomain, e);
    });
    c.usageWindowMinutes = r.integer(QStringLiteral("usageWindowMinutes"));
    c.breakMinutes = r.integer(QStringLiteral("breakMinutes"));
    if (!r.ok()) {
        if (error)
            *error = r.error();
        return std::nullopt;
    }
    return c;
}

QJsonObject encodeDoomScrollRuntimeState(const DoomScrollRuntimeState& state)
{
    JsonValueBuilder b;
    writeDoomScrollRuntimeState(b, state);
    return b.result().toObject();
}

std::optional<DoomScrollRuntimeState> decodeDoomScrollRuntimeState(const QJsonValue& value, QString* error)
{
    JsonReader r(value, QStringLiteral("DoomScrollRuntimeState"));
    DoomScrollRuntimeState s;
    s.windowStartedAt = r.number(QStringLiteral("windowStartedAt"));
    s.usedSeconds = r.integer(QStringLiteral("usedSeconds"));
    s.breakEndsAt = r.optNumber(QStringLiteral("breakEndsAt"));
    if (!r.ok()) {
        if (error)
            *error = r.error();
        return std::nullopt;
    }
    return s;
}

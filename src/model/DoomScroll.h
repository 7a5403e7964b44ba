#pragma once

#include "model/Clock.h"
#include "model/Json.h"
#include "model/JsonWriter.h"

#include <QJsonObject>
#include <QString>
#include <QUuid>
#include <optional>
#include <vector>

struct DoomScrollDomain {
    QUuid id;
    QString domain;

    bool operator==(const DoomScrollDomain&) const = default;
};

// Feed sites that share one usage window, followed by a break.
struct DoomScrollConfig {
    bool isEnabled = false;
    std::vector<DoomScrollDomain> domains; // in the order the user added them
    qint64 usageWindowMinutes = 20;
    qint64 breakMinutes = 5;

    bool operator==(const DoomScrollConfig&) const = default;

    // The configuration used when there is no settings file yet.
    static DoomScrollConfig defaults() { return {}; }

    // True when the host falls under any listed domain; does not look at isEnabled.
    bool matches(const QString& host) const;
};

// The running usage window. Times are seconds since 1970.
struct DoomScrollRuntimeState {
    Date windowStartedAt = 0;
    qint64 usedSeconds = 0;
    std::optional<Date> breakEndsAt;

    bool operator==(const DoomScrollRuntimeState&) const = default;
};

// One description of each JSON form, for either writer of JsonWriter.h; keys in sorted order.
template <typename Writer> void writeDoomScrollDomain(Writer& w, const DoomScrollDomain& d)
{
    w.beginObject();
    w.key("domain");
    w.value(d.domain);
    w.key("id");
    w.value(uuidField(d.id));
    w.endObject();
}

template <typename Writer> void writeDoomScrollConfig(Writer& w, const DoomScrollConfig& c)
{
    w.beginObject();
    w.key("breakMinutes");
    w.value(c.breakMinutes);
    w.key("domains");
    w.beginArray();
    for (const DoomScrollDomain& d : c.domains)
        writeDoomScrollDomain(w, d);
    w.endArray();
    w.key("isEnabled");
    w.value(c.isEnabled);
    w.key("usageWindowMinutes");
    w.value(c.usageWindowMinutes);
    w.endObject();
}

template <typename Writer> void writeDoomScrollRuntimeState(Writer& w, const DoomScrollRuntimeState& s)
{
    w.beginObject();
    if (s.breakEndsAt) {
        w.key("breakEndsAt");
        w.value(*s.breakEndsAt);
    }
    w.key("usedSeconds");
    w.value(s.usedSeconds);
    w.key("windowStartedAt");
    w.value(s.windowStartedAt);
    w.endObject();
}

QJsonObject encodeDoomScrollDomain(const DoomScrollDomain& domain);
std::optional<DoomScrollDomain> decodeDoomScrollDomain(const QJsonValue& value, QString* error = nullptr);
QJsonObject encodeDoomScrollConfig(const DoomScrollConfig& config);
std::optional<DoomScrollConfig> decodeDoomScrollConfig(const QJsonValue& value, QString* error = nullptr);
QJsonObject encodeDoomScrollRuntimeState(const DoomScrollRuntimeState& state);
std::optional<DoomScrollRuntimeState> decodeDoomScrollRuntimeState(const QJsonValue& value, QString* error = nullptr);

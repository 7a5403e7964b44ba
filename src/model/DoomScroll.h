#pragma once

#include "model/Clock.h"

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

QJsonObject encodeDoomScrollDomain(const DoomScrollDomain& domain);
std::optional<DoomScrollDomain> decodeDoomScrollDomain(const QJsonValue& value, QString* error = nullptr);
QJsonObject encodeDoomScrollConfig(const DoomScrollConfig& config);
std::optional<DoomScrollConfig> decodeDoomScrollConfig(const QJsonValue& value, QString* error = nullptr);
QJsonObject encodeDoomScrollRuntimeState(const DoomScrollRuntimeState& state);
std::optional<DoomScrollRuntimeState> decodeDoomScrollRuntimeState(const QJsonValue& value, QString* error = nullptr);

#pragma once

#include <optional>

class IdleTime {
public:
    virtual ~IdleTime() = default;
    // Nothing when no source on this desktop can tell: unknown is never "just now".
    virtual std::optional<double> secondsSinceLastInput() const = 0;
};

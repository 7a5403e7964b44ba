#pragma once

class IdleTime {
public:
    virtual ~IdleTime() = default;
    virtual double secondsSinceLastInput() const = 0;
};

#pragma once

#include <QString>
#include <QtGlobal>
#include <cmath>

// Seconds since 1970-01-01 00:00:00 UTC, the way every record and service measures wall time.
using Date = double;

// Wall-clock time source. Services take one so tests can stand on any instant.
class Clock {
public:
    virtual ~Clock() = default;
    virtual Date now() const = 0;
};

class SystemClock final : public Clock {
public:
    Date now() const override;
    static const SystemClock& instance();
};

// A clock that only moves when told to; optionally steps forward on every read.
class ManualClock final : public Clock {
public:
    explicit ManualClock(Date start = 0, double stepPerRead = 0) : m_now(start), m_step(stepPerRead) {}
    Date now() const override;
    // The time without stepping, for fakes that follow this clock.
    Date peek() const { return m_now; }
    void set(Date t) { m_now = t; }
    void advance(double seconds) { m_now += seconds; }

private:
    mutable Date m_now;
    double m_step;
};

// Monotonic seconds (CLOCK_BOOTTIME): waits the user must sit through are measured on this so that
// setting the wall clock forward does not shorten them.
class MonotonicClock {
public:
    virtual ~MonotonicClock() = default;
    virtual double seconds() const = 0;
    // Names the current boot: readings of two boots cannot be compared. Empty when unknown.
    virtual QString bootId() const { return {}; }
};

class SystemMonotonicClock final : public MonotonicClock {
public:
    double seconds() const override;
    QString bootId() const override; // the kernel's random boot id
    static const SystemMonotonicClock& instance();
};

// Rounds toward negative infinity, also before 1970.
inline Date wholeSeconds(Date t)
{
    return std::floor(t);
}

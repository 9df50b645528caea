#pragma once

#include <cstdint>

// Source of the current time: seconds since 1970-01-01 00:00 UTC. The
// programs use the system clock; tests substitute a CManualClock.
class CClock
{
public:
    virtual ~CClock() = default;
    virtual std::int64_t Now() const = 0;

    // The computer's clock.
    static CClock& System();
};

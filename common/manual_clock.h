#pragma once

#include "common/clock.h"

// A clock that stands still until it is told the time, for tests and
// benchmarks that must cross minutes or midnight without waiting.
class CManualClock final : public CClock
{
public:
    explicit CManualClock(std::int64_t now = 0);

    std::int64_t Now() const override;
    void Set(std::int64_t now);
    void Advance(std::int64_t seconds);

private:
    std::int64_t now_ = 0;
};

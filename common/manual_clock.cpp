#include "common/manual_clock.h"

CManualClock::CManualClock(std::int64_t now) : now_(now) {}

std::int64_t CManualClock::Now() const { return now_; }

void CManualClock::Set(std::int64_t now) { now_ = now; }

void CManualClock::Advance(std::int64_t seconds) { now_ += seconds; }

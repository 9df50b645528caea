#include "common/clock.h"

#include <ctime>

namespace {

class CSystemClock final : public CClock
{
public:
    std::int64_t Now() const override { return static_cast<std::int64_t>(std::time(nullptr)); }
};

} // namespace

CClock& CClock::System()
{
    static CSystemClock clock;
    return clock;
}

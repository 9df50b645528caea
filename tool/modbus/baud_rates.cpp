#include "tool/modbus/baud_rates.h"

#include <algorithm>
#include <array>

#include <termios.h>

namespace {

// A speed is listed when termios names it: B<rate> exists. B0 (hang up) is
// no speed.
constexpr auto kRates = std::to_array<std::uint32_t>({
    50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, 2400, 4800, 9600, 19200, 38400,
#ifdef B57600
    57600,
#endif
#ifdef B115200
    115200,
#endif
#ifdef B230400
    230400,
#endif
#ifdef B460800
    460800,
#endif
#ifdef B500000
    500000,
#endif
#ifdef B576000
    576000,
#endif
#ifdef B921600
    921600,
#endif
#ifdef B1000000
    1000000,
#endif
#ifdef B1152000
    1152000,
#endif
#ifdef B1500000
    1500000,
#endif
#ifdef B2000000
    2000000,
#endif
#ifdef B2500000
    2500000,
#endif
#ifdef B3000000
    3000000,
#endif
#ifdef B3500000
    3500000,
#endif
#ifdef B4000000
    4000000,
#endif
});

} // namespace

std::span<const std::uint32_t> SettableBaudRates()
{
    return kRates;
}

bool IsSettableBaudRate(std::uint32_t baudRate)
{
    return std::find(kRates.begin(), kRates.end(), baudRate) != kRates.end();
}

#pragma once

#include "common/serial_device.h"
#include "sim/modem_emulator.h"
#include "sim/modem_emulator_link.h"
#include "tests/server/server_fixture.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>

// Time-outs for tests that are not about the modem's own: an answer ends
// after 50 ms of silence, a silent modem is given up after 1.5 s.
inline constexpr T_SERIALTIMEOUTS kQuickTimeouts{50, 0, 1500, 0, 0};

// The GSM modem emulator on a pseudo-terminal, served by a thread of this
// process.
class CEmulatedModem
{
public:
    explicit CEmulatedModem(T_MODEMFAULTS faults = {});
    const std::string& Path() const { return link.Path(); }

    CModemEmulator modem;
    CModemEmulatorLink link{modem};
};

// The SMS text of a report frame: 128 capital hexadecimal digits.
std::string SmsText(const std::array<std::uint8_t, 64>& frame);

// Descriptors of this process open on the device at path.
int OpenDescriptors(const std::string& path);

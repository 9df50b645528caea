#pragma once

#include "server/model/report_frame.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little,
              "records are kept in memory in their little-endian file layout");

// How the last report of a point arrived; also the source of an event.
enum : std::uint8_t {
    SRC_SYSTEM = 0, // the server itself (events only)
    SRC_GPRS = 1,
    SRC_SMS = 2,
};

// The last report of a point. Memory only, never written to a file.
struct T_PKTINFO
{
    std::uint8_t source = 0;              // 0 = none since load or add
    std::array<std::uint8_t, CReportFrame::kSize> report{}; // exactly as received, CRC included
    std::int64_t received = 0;             // when the server accepted it
};

#pragma pack(push, 1)
// One journal event; also the 24-byte record of the day files:
//  0 code, 1 source, 2..3 reserved (0), 4..11 time (seconds since 1970 UTC),
// 12..15 serial (0 = the server), 16..23 reserved (0).
struct T_EVENT
{
    std::uint8_t code = 0;
    std::uint8_t source = 0;
    std::uint16_t reserved1 = 0;
    std::int64_t time = 0;
    std::uint32_t serial = 0;
    std::uint8_t reserved2[8] = {};
};
#pragma pack(pop)

static_assert(sizeof(T_EVENT) == 24);
static_assert(offsetof(T_EVENT, time) == 4);
static_assert(offsetof(T_EVENT, serial) == 12);
static_assert(offsetof(T_EVENT, reserved2) == 16);

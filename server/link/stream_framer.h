#pragma once

#include "server/model/report_frame.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

// Cuts one connection's byte stream into report frames, taking a window of
// 64 bytes off the stream only on evidence, so that the bytes of a stranger
// on the port (scanners, probes) plant no points.
//
// The connection has a 64-byte grid starting at its first byte. A window on
// the grid is a frame when its CRC is valid, whatever its serial number; an
// invalid one (noise, a corrupted frame) leaves the grid where it is. Where
// the window on the grid is invalid, the windows between it and the next
// grid position are searched byte by byte. A valid window off the grid is a
// frame when its serial number is registered (at once, so that an alarm does
// not wait for the next report), or when the next window on the grid, which
// it overlaps, is not valid and the 64 bytes after it are a valid frame of
// the same serial number (both are then taken). The grid then starts at the
// frame taken.
//
// The framer holds no bytes: the caller keeps the bytes it has not consumed
// and hands them in again, followed by new ones. It is a pure function of
// those bytes, where the grid lies among them, the register's answers and
// whether the stream has ended; how the stream was cut into reads changes
// nothing.
class CStreamFramer
{
public:
    static constexpr std::size_t kFrameSize = CReportFrame::kSize;
    // The most bytes one decision looks at: a window off the grid and the
    // window after it.
    static constexpr std::size_t kMaxLook = 2 * kFrameSize;
    // The most bytes left unconsumed when the framer asks for more.
    static constexpr std::size_t kMaxPending = kMaxLook - 1;

    // Whether a serial number is in the register (none is, when empty).
    using KnownSerial = std::function<bool(std::uint32_t serial)>;

    enum class CutStatus {
        Incomplete, // no frame in the bytes yet: keep the unconsumed ones, add more
        Frame,      // a frame: the kFrameSize bytes that end where `consumed` ends
    };

    struct T_CUT
    {
        CutStatus status = CutStatus::Incomplete;
        // Bytes from the front that are done with: the frame and what came
        // before it, or the bytes that can start no frame.
        std::size_t consumed = 0;
    };

    // Looks for the next frame in `bytes`, which start where the consumed
    // bytes of the previous call ended. With `streamEnded`, no bytes follow
    // these: a window that waits only for the next grid window is taken, one
    // that waits for its confirmation is not.
    T_CUT Next(std::span<const std::uint8_t> bytes, const KnownSerial& known, bool streamEnded = false);

    // The distance from the first unconsumed byte to the next grid position
    // (0 when that byte is on the grid and its window not yet looked at).
    std::size_t ToGrid() const { return toGrid_; }

private:
    std::uint8_t toGrid_ = 0;
};

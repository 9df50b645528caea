#include "server/link/stream_framer.h"

CStreamFramer::T_CUT CStreamFramer::Next(std::span<const std::uint8_t> bytes, const KnownSerial& known,
                                         bool streamEnded)
{
    const auto whole = [&](std::size_t at) { return bytes.size() >= at + kFrameSize; };
    const auto valid = [&](std::size_t at) { return CReportFrame::Valid(bytes.data() + at); };
    const auto frameAt = [&](std::size_t at) {
        toGrid_ = 0;
        return T_CUT{CutStatus::Frame, at + kFrameSize};
    };

    std::size_t at = 0;             // the window looked at
    std::size_t toGrid = toGrid_;   // from `at` to the next grid position
    for (;;) {
        if (!whole(at))
            break;
        if (toGrid == 0) {
            if (valid(at))
                return frameAt(at);
            // The window on the grid is noise or a corrupted frame: search the
            // windows up to the next grid position.
            ++at;
            toGrid = kFrameSize - 1;
            continue;
        }
        if (valid(at)) {
            // A registered point's frame is taken at once: an alarm must not
            // wait for the controller's next report.
            const std::uint32_t serial = FrameSerial(bytes.data() + at);
            if (known && known(serial))
                return frameAt(at);
            // Otherwise this window overlaps the next window on the grid,
            // which goes first.
            const std::size_t grid = at + toGrid;
            if (whole(grid)) {
                if (valid(grid)) {
                    at = grid;
                    toGrid = 0;
                    continue;
                }
            } else if (!streamEnded) {
                break;
            }
            const std::size_t after = at + kFrameSize;
            if (whole(after)) {
                if (valid(after) && FrameSerial(bytes.data() + after) == serial)
                    return frameAt(at);
            } else if (!streamEnded) {
                break;
            }
        }
        ++at;
        --toGrid;
    }
    toGrid_ = static_cast<std::uint8_t>(toGrid);
    return T_CUT{CutStatus::Incomplete, at};
}

// Any bytes as a connection's stream, cut into reads at places the input
// chooses: the framer must take the same frames however the stream was cut,
// only windows with a valid CRC, in order and without overlap, and never keep
// more than 127 bytes between reads; the receive state of a connection must
// take the very same frames through its shared read space.
//
// Byte 0 chooses the reads and which serial numbers count as registered.
// With its high bit set the rest of the input is taken as it is; otherwise it
// describes the stream piece by piece, so that frames with valid CRCs (whole,
// repeated, corrupted) are easy to reach: a tag byte, then for an odd tag the
// first 62 bytes of a frame whose CRC is sealed (and, when bit 1 of the tag is
// set, one byte of it then changed), for an even tag (tag / 2) bytes of noise.
#include "server/link/rx_pkg.h"
#include "server/link/stream_framer.h"
#include "server/model/report_frame.h"

#include "common/crc16.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kFrame = CReportFrame::kSize;

Bytes Describe(std::span<const std::uint8_t> input)
{
    Bytes stream;
    std::size_t at = 0;
    const auto take = [&](std::size_t count, Bytes& out) {
        for (std::size_t k = 0; k < count; ++k)
            out.push_back(at < input.size() ? input[at++] : 0);
    };
    while (at < input.size()) {
        const std::uint8_t tag = input[at++];
        if (tag & 1) {
            Bytes frame;
            take(CReportFrame::kCrcOffset, frame);
            frame.resize(kFrame);
            StoreCrcHighFirst(Crc16Modbus(std::span<const std::uint8_t>(frame.data(), CReportFrame::kCrcOffset)),
                              frame.data() + CReportFrame::kCrcOffset);
            if (tag & 2)
                frame[(tag >> 2) % kFrame] ^= 0x5A;
            stream.insert(stream.end(), frame.begin(), frame.end());
        } else {
            take(tag / 2, stream);
        }
    }
    return stream;
}

// The ends of the reads: sizes from a small generator seeded by `seed`.
std::vector<std::size_t> Reads(std::size_t size, std::uint8_t seed)
{
    std::vector<std::size_t> ends;
    std::uint32_t state = seed * 2654435761u + 1;
    const std::size_t most = 1 + (seed % 8) * 40;
    for (std::size_t end = 0;;) {
        state = state * 1103515245u + 12345u;
        end += 1 + (state >> 16) % most;
        if (end >= size)
            break;
        ends.push_back(end);
    }
    ends.push_back(size);
    return ends;
}

std::vector<std::size_t> Frames(const Bytes& stream, const std::vector<std::size_t>& ends,
                                const CStreamFramer::KnownSerial& known)
{
    CStreamFramer framer;
    std::vector<std::size_t> frames;
    Bytes pending;
    std::size_t pendingAt = 0;
    std::size_t from = 0;
    const auto cut = [&](bool ended) {
        for (;;) {
            const CStreamFramer::T_CUT result = framer.Next(pending, known, ended);
            if (result.consumed > pending.size())
                std::abort();
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(result.consumed));
            pendingAt += result.consumed;
            if (result.status != CStreamFramer::CutStatus::Frame)
                return;
            frames.push_back(pendingAt - kFrame);
        }
    };
    for (std::size_t end : ends) {
        pending.insert(pending.end(), stream.begin() + static_cast<std::ptrdiff_t>(from),
                       stream.begin() + static_cast<std::ptrdiff_t>(end));
        from = end;
        cut(false);
        if (pending.size() > CStreamFramer::kMaxPending)
            std::abort();
    }
    cut(true);
    return frames;
}

// The same stream through a connection's receive state, reads of at most
// kReadChunk bytes; the frames it copies out, in order.
std::vector<Bytes> ThroughRxPkg(const Bytes& stream, const std::vector<std::size_t>& ends,
                                const CStreamFramer::KnownSerial& known)
{
    CRxPkg rx;
    std::vector<Bytes> frames;
    std::size_t from = 0;
    const auto read = [&](std::size_t count, bool ended) {
        std::uint8_t* space = rx.ReadSpace();
        if (count > 0)
            std::memcpy(space, stream.data() + from, count);
        rx.Received(count);
        from += count;
        while (rx.NextFrame(known, ended))
            frames.emplace_back(rx.data.begin(), rx.data.end());
        rx.Park();
        if (rx.Pending() > CRxPkg::kMaxPending)
            std::abort();
    };
    for (std::size_t end : ends)
        while (from < end)
            read(std::min(end - from, CRxPkg::kReadChunk), false);
    read(0, true);
    return frames;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t options = data[0];
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    const Bytes stream = (options & 0x80) ? Bytes(rest.begin(), rest.end()) : Describe(rest);
    // Registered: serial numbers whose two lowest bits, as a number, are below (options / 8) % 5.
    const unsigned registered = (options / 8) % 5;
    const CStreamFramer::KnownSerial known = [registered](std::uint32_t serial) { return (serial & 3) < registered; };

    const std::vector<std::size_t> whole = Frames(stream, {stream.size()}, known);
    std::size_t previousEnd = 0;
    for (std::size_t at : whole) {
        if (at < previousEnd || !CReportFrame::Valid(stream.data() + at))
            std::abort();
        previousEnd = at + kFrame;
    }
    const std::vector<std::size_t> ends = Reads(stream.size(), options);
    if (Frames(stream, ends, known) != whole)
        std::abort();
    const std::vector<Bytes> copied = ThroughRxPkg(stream, ends, known);
    if (copied.size() != whole.size())
        std::abort();
    for (std::size_t k = 0; k < whole.size(); ++k)
        if (std::memcmp(copied[k].data(), stream.data() + whole[k], kFrame) != 0)
            std::abort();
    return 0;
}

#pragma once

#include "server/link/stream_framer.h"
#include "server/model/report_frame.h"

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>

// The receive state of one controller connection. TCP delivers a byte
// stream, not blocks: bytes are gathered here and cut into frames by a
// CStreamFramer, which recovers from noise without taking a stranger's bytes
// for a frame. Between reads a connection keeps only the bytes the framer has
// not decided on (fewer than two frames), so an idle connection costs little
// memory.
class CRxPkg
{
public:
    static constexpr std::size_t kFrameSize = CReportFrame::kSize;
    // Bytes read from the socket in one go.
    static constexpr std::size_t kReadChunk = 4096;
    // Bytes a connection keeps between reads, at most.
    static constexpr std::size_t kMaxPending = CStreamFramer::kMaxPending;
    using KnownSerial = CStreamFramer::KnownSerial;

    // The last valid frame of this connection; its first four bytes (the
    // serial number) are zero until one arrived.
    std::array<std::uint8_t, kFrameSize> data{};
    QString peerAddress;
    std::uint32_t peerPort = 0;

    // Space for the next read (kReadChunk bytes), after the bytes carried
    // over from earlier reads. The space is shared by every connection:
    // read, take the frames, then Park() before another connection reads.
    std::uint8_t* ReadSpace();
    // Takes note of `count` bytes just read into ReadSpace().
    void Received(std::size_t count);
    // Finds the next frame among the gathered bytes: copies it into `data`
    // and returns true, or returns false when the bytes gathered so far hold
    // no more. `known` tells the registered serial numbers; `streamEnded`
    // says that the peer has closed, so nothing waits for more bytes.
    bool NextFrame(const KnownSerial& known, bool streamEnded = false);
    // Keeps the bytes not yet decided on (at most kMaxPending, once NextFrame
    // returned false) for the next read.
    void Park();
    // Bytes kept since the last read.
    std::size_t Pending() const { return carried_; }

private:
    std::array<std::uint8_t, kMaxPending> carry_{};
    std::uint8_t carried_ = 0;
    CStreamFramer framer_;
};

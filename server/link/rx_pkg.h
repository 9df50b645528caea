#pragma once

#include "server/model/report_frame.h"

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>

// The receive state of one controller connection. TCP delivers a byte
// stream, not blocks, so bytes are gathered here until 64 of them carry a
// valid CRC; on a mismatch the oldest byte is dropped and the search goes
// on, so a frame is found however the network split or joined it and the
// stream recovers after garbage. Between reads a connection keeps only the
// bytes of an incomplete frame, so an idle connection costs little memory.
class CRxPkg
{
public:
    static constexpr std::size_t kFrameSize = CReportFrame::kSize;
    // Bytes read from the socket in one go.
    static constexpr std::size_t kReadChunk = 4096;

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
    // Finds the next valid frame among the gathered bytes: copies it into
    // `data` and returns true, or returns false once fewer than 64 bytes
    // remain.
    bool NextFrame();
    // Keeps the remaining bytes (fewer than 64) for the next read.
    void Park();
    // Bytes of an incomplete frame kept since the last read.
    std::size_t Pending() const { return carried_; }

private:
    std::array<std::uint8_t, kFrameSize - 1> carry_{};
    std::uint8_t carried_ = 0;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

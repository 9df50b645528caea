// The framer as a pure function over chunked input: streams of good frames,
// noise, corrupted frames, registered and unregistered serial numbers, cut
// into reads at every place, and the frames expected of them.
#include "common/crc16.h"
#include "server/link/stream_framer.h"
#include "server/model/report_frame.h"
#include "tests/server/server_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kFrame = CReportFrame::kSize;
constexpr std::uint32_t kRegistered = 0x0001E240; // the one registered serial number

// One piece of a stream, and whether the framer must take it as a frame.
struct Piece
{
    Bytes bytes;
    bool taken = false;
};

Bytes FrameOf(std::uint32_t serial, std::uint16_t flags = 0)
{
    const auto frame = MakeFrame(serial, flags);
    return Bytes(frame.begin(), frame.end());
}

Piece Good(std::uint32_t serial, bool taken = true) { return {FrameOf(serial), taken}; }

// A frame with one byte changed: its CRC fails.
Piece Corrupted(std::uint32_t serial)
{
    Bytes bytes = FrameOf(serial);
    bytes[20] ^= 0x40;
    return {bytes, false};
}

Piece Noise(std::size_t length, unsigned seed = 1)
{
    std::mt19937 random(seed);
    Bytes bytes(length);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random());
    return {bytes, false};
}

Piece Cut(const Piece& piece, std::size_t length) { return {Bytes(piece.bytes.begin(), piece.bytes.begin() + length), false}; }

bool ValidAt(const Bytes& stream, std::size_t at)
{
    return at + kFrame <= stream.size() && CReportFrame::Valid(stream.data() + at);
}

// 64 bytes of noise that hide, `offset` bytes in, a window with a valid CRC
// and the given serial number, which runs on into the `next` bytes (the
// frame that follows on the grid). Two of the noise bytes are chosen so that
// the hidden window's CRC comes out right.
// What the framer did with a stream.
struct Outcome
{
    std::vector<std::size_t> frames; // where each frame taken starts in the stream
    std::size_t mostPending = 0;     // the most bytes left unconsumed after a read
};

// Feeds the stream read by read (each read ends at one of `ends`, the last at
// the stream's end), keeping the unconsumed bytes between reads as a
// connection does, then, when `closed`, tells the framer the stream ended.
Outcome Feed(const Bytes& stream, const std::vector<std::size_t>& ends, bool closed)
{
    const CStreamFramer::KnownSerial known = [](std::uint32_t serial) { return serial == kRegistered; };
    CStreamFramer framer;
    Outcome outcome;
    Bytes pending;
    std::size_t pendingAt = 0; // where the pending bytes start in the stream
    std::size_t from = 0;
    const auto cut = [&](bool ended) {
        for (;;) {
            const CStreamFramer::T_CUT result = framer.Next(pending, known, ended);
            EXPECT_LE(result.consumed, pending.size());
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(result.consumed));
            pendingAt += result.consumed;
            if (result.status != CStreamFramer::CutStatus::Frame)
                return;
            EXPECT_GE(result.consumed, kFrame);
            outcome.frames.push_back(pendingAt - kFrame);
        }
    };
    for (std::size_t end : ends) {
        pending.insert(pending.end(), stream.begin() + static_cast<std::ptrdiff_t>(from),
                       stream.begin() + static_cast<std::ptrdiff_t>(end));
        from = end;
        cut(false);
        outcome.mostPending = std::max(outcome.mostPending, pending.size());
    }
    if (closed)
        cut(true);
    return outcome;
}

std::vector<std::size_t> EveryChunk(std::size_t size, std::size_t chunk)
{
    std::vector<std::size_t> ends;
    for (std::size_t end = chunk; end < size; end += chunk)
        ends.push_back(end);
    ends.push_back(size);
    return ends;
}

// The reads a stream is cut into: whole; in chunks of every size from 1 to
// two frames and a byte; in two reads split at every place; in random reads.
std::vector<std::vector<std::size_t>> Chunkings(std::size_t size)
{
    std::vector<std::vector<std::size_t>> chunkings;
    for (std::size_t chunk = 1; chunk <= 2 * kFrame + 1; ++chunk)
        chunkings.push_back(EveryChunk(size, chunk));
    chunkings.push_back({size});
    for (std::size_t split = 1; split < size; ++split)
        chunkings.push_back({split, size});
    std::mt19937 random(static_cast<unsigned>(size));
    for (int n = 0; n < 20; ++n) {
        std::vector<std::size_t> ends;
        for (std::size_t end = 1 + random() % 100; end < size; end += 1 + random() % 100)
            ends.push_back(end);
        ends.push_back(size);
        chunkings.push_back(ends);
    }
    return chunkings;
}

struct Case
{
    std::string name;
    std::vector<Piece> pieces;
    bool closed = true; // the peer closes after the last byte
};

std::vector<Case> Cases()
{
    const std::uint32_t kStranger = 0x00770077;
    return {
        {"frames back to back, whatever their serial", {Good(1), Good(kRegistered), Good(3)}},
        {"a partial frame is kept for later", {Good(1), Cut(Good(2), 63)}, false},
        {"a stranger's probe plants nothing", {Noise(517, 3)}},
        {"a stranger's frame off the grid is not taken", {Noise(5), Good(kStranger, false), Noise(30)}},
        {"noise then a registered point's frame", {Noise(5), Good(kRegistered), Good(kStranger)}},
        {"noise then a registered point's frame, the peer closing", {Noise(5), Good(kRegistered)}},
        {"a registered point's frame off the grid is taken at once", {Noise(5), Good(kRegistered)}, false},
        {"noise then two frames of one unregistered serial", {Noise(5), Good(8), Good(8), Good(9)}},
        {"an unconfirmed frame waits for the next 64 bytes", {Noise(3), Good(8, false)}, false},
        {"an unconfirmed frame is not taken when the peer closes first", {Noise(3), Good(8, false), Cut(Good(8), 63)}},
        {"the frame after is of another serial: no confirmation",
         {Noise(5), Good(8, false), Good(9, false), Noise(70, 2)}},
        {"a corrupted frame on the grid keeps the grid", {Good(1), Corrupted(2), Good(3), Good(4)}},
        {"64 bytes of noise then a frame on the grid", {Noise(kFrame), Good(5), Good(6)}},
        {"128 bytes of noise then a frame on the grid", {Good(1), Noise(2 * kFrame, 4), Good(5)}},
        {"a frame cut short, then a registered point's frames", {Cut(Good(1), 40), Good(kRegistered), Good(2)}},
        {"a frame cut short, then two frames of one serial", {Cut(Good(1), 40), Good(7), Good(7), Good(2)}},
        {"garbage, a corrupted frame, then a registered frame",
         {Good(1), Noise(3), Corrupted(4), Good(kRegistered), Good(5)}},
        {"noise again and again", {Noise(10), Good(kRegistered), Noise(63, 5), Good(kRegistered), Noise(1), Good(11),
                                   Good(11), Noise(65, 6), Good(kRegistered)}},
    };
}

} // namespace

TEST(StreamFramer, TakesFramesOnlyOnEvidenceHoweverTheStreamIsCut)
{
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        Bytes stream;
        std::vector<std::size_t> expected;
        for (const Piece& piece : c.pieces) {
            if (piece.taken) {
                ASSERT_TRUE(ValidAt(piece.bytes, 0));
                expected.push_back(stream.size());
            }
            stream.insert(stream.end(), piece.bytes.begin(), piece.bytes.end());
        }
        for (const auto& ends : Chunkings(stream.size())) {
            const Outcome outcome = Feed(stream, ends, c.closed);
            ASSERT_EQ(outcome.frames, expected) << "reads: " << ends.size() << ", first ends at " << ends.front();
            ASSERT_LE(outcome.mostPending, CStreamFramer::kMaxPending);
        }
    }
}

TEST(StreamFramer, WhatItWaitsForAndWhatItKeeps)
{
    const CStreamFramer::KnownSerial known = [](std::uint32_t serial) { return serial == kRegistered; };
    // Three bytes of noise, then a frame of an unregistered serial: its
    // confirmation needs 64 more bytes, so it keeps the frame and 63 bytes at most.
    Bytes stream = Noise(3).bytes;
    const Bytes frame = FrameOf(8);
    stream.insert(stream.end(), frame.begin(), frame.end());
    CStreamFramer framer;
    CStreamFramer::T_CUT cut = framer.Next(stream, known);
    EXPECT_EQ(cut.status, CStreamFramer::CutStatus::Incomplete);
    EXPECT_EQ(cut.consumed, 3u);
    EXPECT_EQ(framer.ToGrid(), 61u); // the next grid position is 64, 61 bytes on
    Bytes rest(stream.begin() + 3, stream.end());
    const Bytes second = FrameOf(8, RF_SHOCK);
    rest.insert(rest.end(), second.begin(), second.begin() + 63);
    cut = framer.Next(rest, known);
    EXPECT_EQ(cut.status, CStreamFramer::CutStatus::Incomplete);
    EXPECT_EQ(cut.consumed, 0u);
    EXPECT_EQ(rest.size(), CStreamFramer::kMaxPending);
    // The last byte confirms it: both frames follow.
    rest.push_back(second.back());
    cut = framer.Next(rest, known);
    ASSERT_EQ(cut.status, CStreamFramer::CutStatus::Frame);
    EXPECT_EQ(cut.consumed, kFrame);
    EXPECT_EQ(framer.ToGrid(), 0u);
    rest.erase(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(kFrame));
    cut = framer.Next(rest, known);
    ASSERT_EQ(cut.status, CStreamFramer::CutStatus::Frame);
    EXPECT_EQ(cut.consumed, kFrame);
    EXPECT_EQ(FrameSerial(rest.data()), 8u);
    EXPECT_EQ(CReportFrame::WordOf(rest.data(), CReportFrame::kFlagsOffset), RF_SHOCK);

    // Without a register, nothing off the grid is known.
    CStreamFramer alone;
    Bytes registered = Noise(5).bytes;
    const Bytes mine = FrameOf(kRegistered);
    registered.insert(registered.end(), mine.begin(), mine.end());
    EXPECT_EQ(alone.Next(registered, {}, true).status, CStreamFramer::CutStatus::Incomplete);
}

// Random streams of frames, noise and corrupted frames: every frame the
// framer takes is a valid window, frames do not overlap, and every frame on
// a grid that no noise disturbed is taken.
TEST(StreamFramer, RandomStreamsGiveTheSameFramesHoweverCut)
{
    std::mt19937 random(2024);
    for (int round = 0; round < 200; ++round) {
        Bytes stream;
        std::set<std::size_t> clean; // frames that start a stream or follow a taken frame directly
        bool onGrid = true;
        for (int k = 0; k < 8; ++k) {
            const unsigned kind = random() % 4;
            Piece piece = kind == 0   ? Noise(random() % 80, random())
                          : kind == 1 ? Corrupted(random() % 5)
                                      : Good(kind == 2 ? kRegistered : random() % 3);
            if (kind >= 2 && onGrid)
                clean.insert(stream.size());
            if (kind == 0 && piece.bytes.size() % kFrame != 0)
                onGrid = false;
            stream.insert(stream.end(), piece.bytes.begin(), piece.bytes.end());
        }
        const Outcome whole = Feed(stream, {stream.size()}, true);
        std::size_t previousEnd = 0;
        for (std::size_t at : whole.frames) {
            EXPECT_TRUE(ValidAt(stream, at)) << round;
            EXPECT_GE(at, previousEnd) << round;
            previousEnd = at + kFrame;
        }
        for (std::size_t at : clean)
            EXPECT_TRUE(std::find(whole.frames.begin(), whole.frames.end(), at) != whole.frames.end()) << round;
        for (std::size_t chunk : {1u, 2u, 63u, 64u, 65u, 127u})
            EXPECT_EQ(Feed(stream, EveryChunk(stream.size(), chunk), true).frames, whole.frames) << round;
    }
}

// The receive state of a connection: bytes gathered read by read in the
// shared read space, cut by the framer, the undecided ones carried over.
#include "server/link/rx_pkg.h"
#include "server/model/report_frame.h"
#include "tests/server/server_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>

namespace {

// Feeds a byte stream to a receive state in random chunk sizes, the peer
// closing after the last byte, and returns the serial numbers of the frames
// found.
std::vector<std::uint32_t> Frames(const std::vector<std::uint8_t>& stream, std::mt19937& random, std::size_t maxChunk,
                                  const CRxPkg::KnownSerial& known)
{
    CRxPkg rx;
    std::vector<std::uint32_t> serials;
    for (std::size_t at = 0; at <= stream.size();) {
        const std::size_t chunk = std::min<std::size_t>(1 + random() % maxChunk, stream.size() - at);
        std::memcpy(rx.ReadSpace(), stream.data() + at, chunk);
        rx.Received(chunk);
        const bool ended = chunk == 0;
        while (rx.NextFrame(known, ended))
            serials.push_back(FrameSerial(rx.data.data()));
        rx.Park();
        EXPECT_LE(rx.Pending(), CRxPkg::kMaxPending);
        if (ended)
            break;
        at += chunk;
    }
    return serials;
}

} // namespace

TEST(RxPkg, FramesAreFoundHoweverTheStreamIsCut)
{
    // Registered points' frames, with garbage and a corrupted frame before
    // every fifth: each is found after the garbage, as the points are known.
    std::mt19937 random(7);
    std::vector<std::uint8_t> stream;
    std::vector<std::uint32_t> sent;
    std::set<std::uint32_t> registered;
    for (std::uint32_t serial = 1; serial <= 300; ++serial) {
        const auto frame = MakeFrame(serial * 7919, static_cast<std::uint16_t>(serial));
        if (serial % 5 == 0) { // garbage between frames, and a corrupted frame
            for (int i = 0; i < static_cast<int>(serial % 70); ++i)
                stream.push_back(static_cast<std::uint8_t>(random()));
            auto bad = frame;
            bad[20] ^= 0x01;
            stream.insert(stream.end(), bad.begin(), bad.end());
        }
        stream.insert(stream.end(), frame.begin(), frame.end());
        sent.push_back(serial * 7919);
        registered.insert(serial * 7919);
    }
    const CRxPkg::KnownSerial known = [&](std::uint32_t serial) { return registered.count(serial) > 0; };
    for (std::size_t maxChunk : {1u, 7u, 64u, 65u, 200u, 4096u})
        EXPECT_EQ(Frames(stream, random, maxChunk, known), sent) << maxChunk;
}

TEST(RxPkg, AnUnregisteredControllerIsFoundAgainAfterGarbage)
{
    // One controller not in the register, its frames told apart by their
    // flags, with garbage before every third: after garbage its frame is
    // confirmed by the next one, so none is lost but a last one that follows
    // garbage and is not confirmed before the peer closes.
    constexpr std::uint32_t kSerial = 0x00ABCDEF;
    std::mt19937 random(11);
    std::vector<std::uint8_t> stream;
    std::vector<std::uint32_t> expected;
    const auto frame = [](std::uint16_t flags) { return MakeFrame(kSerial, flags); };
    const auto flagsOf = [](const std::uint8_t* bytes) {
        return CReportFrame::WordOf(bytes, CReportFrame::kFlagsOffset);
    };
    for (std::uint16_t k = 0; k < 60; ++k) {
        if (k % 3 == 1)
            for (int i = 0; i < 1 + k % 63; ++i)
                stream.push_back(static_cast<std::uint8_t>(random()));
        const auto bytes = frame(k);
        stream.insert(stream.end(), bytes.begin(), bytes.end());
        expected.push_back(k);
    }
    stream.insert(stream.end(), {1, 2, 3});
    const auto last = frame(999);
    stream.insert(stream.end(), last.begin(), last.end());

    for (std::size_t maxChunk : {1u, 13u, 64u, 4096u}) {
        CRxPkg rx;
        std::vector<std::uint32_t> found;
        for (std::size_t at = 0; at <= stream.size();) {
            const std::size_t chunk = std::min<std::size_t>(1 + random() % maxChunk, stream.size() - at);
            std::memcpy(rx.ReadSpace(), stream.data() + at, chunk);
            rx.Received(chunk);
            while (rx.NextFrame({}, chunk == 0))
                found.push_back(flagsOf(rx.data.data()));
            rx.Park();
            if (chunk == 0)
                break;
            at += chunk;
        }
        EXPECT_EQ(found, expected) << maxChunk;
    }
}

TEST(RxPkg, NothingBeforeTheFirstValidFrame)
{
    CRxPkg rx;
    EXPECT_EQ(FrameSerial(rx.data.data()), 0u);
    std::memset(rx.ReadSpace(), 0xAB, 63);
    rx.Received(63);
    EXPECT_FALSE(rx.NextFrame({}));
    rx.Park();
    EXPECT_EQ(rx.Pending(), 63u);
    EXPECT_EQ(FrameSerial(rx.data.data()), 0u);
}

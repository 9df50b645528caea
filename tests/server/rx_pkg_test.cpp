#include "server/link/rx_pkg.h"
#include "server/model/report_frame.h"
#include "tests/server/server_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace {

// Feeds a byte stream to a receive state in the given chunk sizes and
// returns the serial numbers of the frames found.
std::vector<std::uint32_t> Frames(const std::vector<std::uint8_t>& stream, std::mt19937& random, std::size_t maxChunk)
{
    CRxPkg rx;
    std::vector<std::uint32_t> serials;
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t chunk = std::min<std::size_t>(1 + random() % maxChunk, stream.size() - at);
        std::memcpy(rx.ReadSpace(), stream.data() + at, chunk);
        rx.Received(chunk);
        while (rx.NextFrame())
            serials.push_back(FrameSerial(rx.data.data()));
        rx.Park();
        EXPECT_LT(rx.Pending(), 64u);
        at += chunk;
    }
    return serials;
}

} // namespace

TEST(RxPkg, FramesAreFoundHoweverTheStreamIsCut)
{
    std::mt19937 random(7);
    std::vector<std::uint8_t> stream;
    std::vector<std::uint32_t> sent;
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
    }
    for (std::size_t maxChunk : {1u, 7u, 64u, 65u, 200u, 4096u})
        EXPECT_EQ(Frames(stream, random, maxChunk), sent) << maxChunk;
}

TEST(RxPkg, NothingBeforeTheFirstValidFrame)
{
    CRxPkg rx;
    EXPECT_EQ(FrameSerial(rx.data.data()), 0u);
    std::memset(rx.ReadSpace(), 0xAB, 63);
    rx.Received(63);
    EXPECT_FALSE(rx.NextFrame());
    rx.Park();
    EXPECT_EQ(rx.Pending(), 63u);
    EXPECT_EQ(FrameSerial(rx.data.data()), 0u);
}

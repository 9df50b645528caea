#pragma once

#include <QByteArray>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// The 64-byte report frame an alarm controller sends, written from the
// published layout with the emulator's own code: the emulator is the
// server's peer, so it must not borrow the server's reading of the layout.
//
//  0  serial, bits 31..16    16  temperature2           30  sensor state bits
//  2  serial, bits 15..0     18  light                  32  balance (10 single-byte characters)
//  4  sequence               20  reserved               42  reserved (20)
//  6  version, minor         22  key identifier (8)     62  CRC-16/MODBUS of bytes 0..61,
//  7  version, major                                        high byte first
//  8  tilt X, 10 tilt Y, 12 tilt Z, 14 temperature1
//
// Every 16-bit field is little-endian; only the CRC is stored high byte first.
class CReportFrameWriter
{
public:
    static constexpr std::size_t kSize = 64;
    static constexpr std::size_t kBalanceSize = 10;
    static constexpr std::size_t kKeySize = 8;
    using Frame = std::array<std::uint8_t, kSize>;

    // Sensor state bits the emulator sets by default.
    static constexpr std::uint16_t kShock = 0x0080;

    void SetSerial(std::uint32_t serial);
    void SetSequence(std::uint16_t sequence);
    void SetVersion(std::uint8_t major, std::uint8_t minor);
    void SetTemperatures(std::uint16_t temperature1, std::uint16_t temperature2);
    void SetLight(std::uint16_t light);
    void SetKey(std::span<const std::uint8_t, kKeySize> key);
    void SetFlags(std::uint16_t flags);
    // At most kBalanceSize single-byte characters, the rest zero.
    void SetBalance(const QByteArray& latin1);

    // The frame with its CRC computed over what has been set.
    Frame Sealed() const;

private:
    void SetWord(std::size_t offset, std::uint16_t value);

    Frame bytes_{};
};

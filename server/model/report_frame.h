#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <span>

// Sensor state bits of a report frame (a set bit means the sensor tripped).
enum : std::uint16_t {
    RF_TILT_X = 0x0001,
    RF_TILT_Y = 0x0002,
    RF_TILT_Z = 0x0004,
    RF_TEMPERATURE_1 = 0x0008,
    RF_TEMPERATURE_2 = 0x0010,
    RF_CABINET_OPEN = 0x0020,
    RF_SAFE_OPEN = 0x0040,
    RF_SHOCK = 0x0080,
    RF_POWER_LOST = 0x0100,
    RF_LIGHT = 0x0200,
};

// The 64-byte report frame of an alarm controller, as it arrives over GPRS
// and (hex-encoded) by SMS. Multi-byte fields are little-endian; the CRC at
// the end is stored high byte first.
//
//  0  serial, high word     22  keyId (8 bytes)
//  2  serial, low word      30  flags
//  4  sequence              32  balance (10 single-byte characters)
//  6  versionMinor          42  reserved (20)
//  7  versionMajor          62  CRC-16/MODBUS of bytes 0..61, high byte first
//  8  tiltX, 10 tiltY, 12 tiltZ
// 14  temperature1, 16 temperature2, 18 light, 20 reserved
class CReportFrame
{
public:
    static constexpr std::size_t kSize = 64;
    static constexpr std::size_t kCrcOffset = 62;
    static constexpr std::size_t kKeyOffset = 22;
    static constexpr std::size_t kBalanceSize = 10;

    CReportFrame() = default;
    explicit CReportFrame(std::span<const std::uint8_t, kSize> bytes);

    const std::array<std::uint8_t, kSize>& Bytes() const { return bytes_; }

    std::uint32_t Serial() const;
    std::uint16_t Sequence() const;
    std::uint8_t VersionMinor() const { return bytes_[6]; }
    std::uint8_t VersionMajor() const { return bytes_[7]; }
    QString VersionText() const;
    std::uint16_t TiltX() const { return Word(8); }
    std::uint16_t TiltY() const { return Word(10); }
    std::uint16_t TiltZ() const { return Word(12); }
    std::uint16_t Temperature1Raw() const { return Word(14); }
    std::uint16_t Temperature2Raw() const { return Word(16); }
    std::uint16_t LightRaw() const { return Word(18); }
    std::uint16_t Flags() const { return Word(30); }
    bool KeyPresent() const;
    QString KeyText() const;
    QString Balance() const;

    // Degrees Celsius of a raw temperature; nothing when no sensor is connected.
    static std::optional<double> Temperature(std::uint16_t raw);
    static double LightPercent(std::uint16_t raw);

    std::uint16_t StoredCrc() const;
    std::uint16_t ComputedCrc() const;
    bool CrcValid() const { return StoredCrc() == ComputedCrc(); }

    // Builders, used by the emulator and tests.
    void SetSerial(std::uint32_t serial);
    void SetSequence(std::uint16_t sequence);
    void SetVersion(std::uint8_t major, std::uint8_t minor);
    void SetWord(std::size_t offset, std::uint16_t value);
    void SetFlags(std::uint16_t flags) { SetWord(30, flags); }
    void SetKey(std::span<const std::uint8_t, 8> key);
    void SetBalance(const QString& balance);
    void SealCrc();

    std::uint16_t Word(std::size_t offset) const;

private:
    std::array<std::uint8_t, kSize> bytes_{};
};

// The serial number of a report frame given as raw bytes.
std::uint32_t FrameSerial(const std::uint8_t* frame);

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
// the end is stored high byte first. Every reader and writer of the layout
// takes the offsets from here.
class CReportFrame
{
public:
    static constexpr std::size_t kSize = 64;

    static constexpr std::size_t kSerialHighOffset = 0;   // bits 31..16 of the serial number (word)
    static constexpr std::size_t kSerialLowOffset = 2;    // bits 15..0 (word)
    static constexpr std::size_t kSequenceOffset = 4;     // transmission number (word)
    static constexpr std::size_t kVersionMinorOffset = 6; // byte
    static constexpr std::size_t kVersionMajorOffset = 7; // byte
    static constexpr std::size_t kTiltXOffset = 8;        // raw tilt readings (words)
    static constexpr std::size_t kTiltYOffset = 10;
    static constexpr std::size_t kTiltZOffset = 12;
    static constexpr std::size_t kTemperature1Offset = 14; // raw temperatures (words), 0 = no sensor
    static constexpr std::size_t kTemperature2Offset = 16;
    static constexpr std::size_t kLightOffset = 18;       // raw light level (word); 20..21 reserved
    static constexpr std::size_t kKeyOffset = 22;         // key identifier; its first byte alone means "opened by key"
    static constexpr std::size_t kKeySize = 8;
    static constexpr std::size_t kFlagsOffset = 30;       // sensor state bits (word)
    static constexpr std::size_t kBalanceOffset = 32;     // single-byte text, zero-ended when shorter; 42..61 reserved
    static constexpr std::size_t kBalanceSize = 10;
    static constexpr std::size_t kCrcOffset = 62;         // CRC-16/MODBUS of bytes 0..61, high byte first

    CReportFrame() = default;
    explicit CReportFrame(std::span<const std::uint8_t, kSize> bytes);

    const std::array<std::uint8_t, kSize>& Bytes() const { return bytes_; }

    std::uint32_t Serial() const;
    std::uint16_t Sequence() const;
    std::uint8_t VersionMinor() const { return bytes_[kVersionMinorOffset]; }
    std::uint8_t VersionMajor() const { return bytes_[kVersionMajorOffset]; }
    QString VersionText() const;
    std::uint16_t TiltX() const { return Word(kTiltXOffset); }
    std::uint16_t TiltY() const { return Word(kTiltYOffset); }
    std::uint16_t TiltZ() const { return Word(kTiltZOffset); }
    std::uint16_t Temperature1Raw() const { return Word(kTemperature1Offset); }
    std::uint16_t Temperature2Raw() const { return Word(kTemperature2Offset); }
    std::uint16_t LightRaw() const { return Word(kLightOffset); }
    std::uint16_t Flags() const { return Word(kFlagsOffset); }
    bool KeyPresent() const;
    QString KeyText() const;
    QString Balance() const;

    // Degrees Celsius of a raw temperature; nothing when no sensor is connected.
    static std::optional<double> Temperature(std::uint16_t raw);
    static double LightPercent(std::uint16_t raw);

    std::uint16_t StoredCrc() const;
    std::uint16_t ComputedCrc() const;
    bool CrcValid() const { return Valid(bytes_.data()); }

    // Whether kSize raw bytes carry a valid CRC.
    static bool Valid(const std::uint8_t* frame);
    // A little-endian word of kSize raw bytes.
    static std::uint16_t WordOf(const std::uint8_t* frame, std::size_t offset);

    // Builders, used by the emulator and tests.
    void SetSerial(std::uint32_t serial);
    void SetSequence(std::uint16_t sequence);
    void SetVersion(std::uint8_t major, std::uint8_t minor);
    void SetWord(std::size_t offset, std::uint16_t value);
    void SetFlags(std::uint16_t flags) { SetWord(kFlagsOffset, flags); }
    void SetKey(std::span<const std::uint8_t, kKeySize> key);
    void SetBalance(const QString& balance);
    void SealCrc();

    std::uint16_t Word(std::size_t offset) const { return WordOf(bytes_.data(), offset); }

private:
    std::array<std::uint8_t, kSize> bytes_{};
};

// The serial number of a report frame given as raw bytes.
std::uint32_t FrameSerial(const std::uint8_t* frame);

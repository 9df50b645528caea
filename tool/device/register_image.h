#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// A 16-bit number inside a register block: low byte at the lower offset, so
// it travels as a register value with its two bytes swapped.
struct T_NUMBER16
{
    std::uint8_t low;
    std::uint8_t high;

    std::uint16_t Get() const { return static_cast<std::uint16_t>(high << 8 | low); }
    void Set(std::uint16_t value)
    {
        low = static_cast<std::uint8_t>(value & 0xFF);
        high = static_cast<std::uint8_t>(value >> 8);
    }
};

// A key of the controller's reader, bytes k0 .. k7 as they travel.
struct T_KEY
{
    std::uint8_t k[8];

    bool operator==(const T_KEY&) const = default;
};

// The controller's settings block: holding registers 0 .. 127.
struct T_SETTINGS
{
    T_NUMBER16 serverIp[2];          // 0: address bits 31 .. 16, 2: bits 15 .. 0
    T_NUMBER16 serverPort;           // 4
    T_NUMBER16 tiltLimit[6];         // 6: lower, upper limit of angles 1, 2, 3
    T_NUMBER16 temperatureLimit[4];  // 18: lower, upper limit of temperatures 1, 2
    T_NUMBER16 lightLimit;           // 26
    T_NUMBER16 polarityMask;         // 28: bits 0 .. 2, discrete sensors 1 .. 3
    T_NUMBER16 sirenMask;            // 30: sensor bits 0 .. 7
    T_NUMBER16 gprsMask;             // 32: sensor bits 0 .. 9
    std::uint8_t smsPhone[12];       // 34: "+7" and 10 digits
    std::uint8_t serverPhone[12];    // 46: "+7" and 10 digits
    std::uint8_t reserved58[2];      // 58: not interpreted, written back as read
    T_NUMBER16 keyCounter[16];       // 60
    std::uint8_t serialPrefix[2];    // 92
    T_NUMBER16 serialNumber[2];      // 94: bits 31 .. 16, 96: bits 15 .. 0
    std::uint8_t reserved98[30];     // 98: not interpreted, written back as read
    T_KEY keys[16];                  // 128: slot i at 128 + 8i
};

// The controller's live readings: input registers 0 .. 10.
struct T_STATUS
{
    T_NUMBER16 tiltX;         // angle 1
    T_NUMBER16 tiltY;         // angle 2
    T_NUMBER16 tiltZ;         // angle 3
    T_NUMBER16 temperature1;  // raw: degrees C = (raw - 440) / 8
    T_NUMBER16 temperature2;
    T_NUMBER16 light;
    T_NUMBER16 inputState;    // bits 0 .. 2, discrete sensors 1 .. 3
    T_KEY lastKey;            // the key last presented to the reader
};

static_assert(sizeof(T_SETTINGS) == 256 && offsetof(T_SETTINGS, reserved58) == 58 &&
              offsetof(T_SETTINGS, serialPrefix) == 92 && offsetof(T_SETTINGS, keys) == 128);
static_assert(sizeof(T_STATUS) == 22 && offsetof(T_STATUS, lastKey) == 14);

// The controller's registers as the tool mirrors them: T_SETTINGS (bytes
// 0 .. 255) followed by T_STATUS (bytes 256 .. 277). Register n of a table
// occupies two bytes, its high byte first, in the order they travel.
class CRegisterImage
{
public:
    static constexpr std::size_t kSize = 278;
    static constexpr std::size_t kStatusOffset = 256;
    static constexpr std::uint16_t kBlockRegisters = 64;   // one settings block
    static constexpr std::uint16_t kStatusRegisters = 11;

    T_SETTINGS settings{};
    T_STATUS status{};

    std::span<std::uint8_t, kSize> Bytes();
    std::span<const std::uint8_t, kSize> Bytes() const;

    // Holding registers first .. first + count - 1 into bytes 2 first ...
    void StoreHolding(std::uint16_t first, std::span<const std::uint16_t> values);
    std::vector<std::uint16_t> HoldingRegisters(std::uint16_t first, std::uint16_t count) const;
    // Input registers 0 .. 10 into bytes 256 .. 277.
    void StoreStatus(std::span<const std::uint16_t> values);
};

static_assert(sizeof(CRegisterImage) == CRegisterImage::kSize);

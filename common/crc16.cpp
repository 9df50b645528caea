#include "common/crc16.h"

#include <array>

namespace {

constexpr std::uint16_t kPolynomial = 0xA001;

constexpr std::array<std::uint16_t, 256> MakeTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned n = 0; n < 256; ++n) {
        std::uint16_t value = static_cast<std::uint16_t>(n);
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1) ? static_cast<std::uint16_t>((value >> 1) ^ kPolynomial)
                                : static_cast<std::uint16_t>(value >> 1);
        table[n] = value;
    }
    return table;
}

constexpr auto kTable = MakeTable();

} // namespace

std::uint16_t Crc16Modbus(std::span<const std::uint8_t> bytes)
{
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : bytes)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kTable[(crc ^ b) & 0xFF]);
    return crc;
}

void StoreCrcHighFirst(std::uint16_t crc, std::uint8_t* out)
{
    out[0] = static_cast<std::uint8_t>(crc >> 8);
    out[1] = static_cast<std::uint8_t>(crc & 0xFF);
}

std::uint16_t LoadCrcHighFirst(const std::uint8_t* in)
{
    return static_cast<std::uint16_t>((in[0] << 8) | in[1]);
}

void StoreCrcLowFirst(std::uint16_t crc, std::uint8_t* out)
{
    out[0] = static_cast<std::uint8_t>(crc & 0xFF);
    out[1] = static_cast<std::uint8_t>(crc >> 8);
}

std::uint16_t LoadCrcLowFirst(const std::uint8_t* in)
{
    return static_cast<std::uint16_t>(in[0] | (in[1] << 8));
}

#include "tool/device/register_image.h"

#include <algorithm>

namespace {

// The settings block holds 128 registers; nothing is stored past it.
constexpr std::size_t kSettingsRegisters = 128;

void Store(std::span<std::uint8_t> bytes, std::span<const std::uint16_t> values)
{
    const std::size_t count = std::min(values.size(), bytes.size() / 2);
    for (std::size_t n = 0; n < count; ++n) {
        bytes[2 * n] = static_cast<std::uint8_t>(values[n] >> 8);
        bytes[2 * n + 1] = static_cast<std::uint8_t>(values[n] & 0xFF);
    }
}

} // namespace

std::span<std::uint8_t, CRegisterImage::kSize> CRegisterImage::Bytes()
{
    return std::span<std::uint8_t, kSize>(reinterpret_cast<std::uint8_t*>(this), kSize);
}

std::span<const std::uint8_t, CRegisterImage::kSize> CRegisterImage::Bytes() const
{
    return std::span<const std::uint8_t, kSize>(reinterpret_cast<const std::uint8_t*>(this), kSize);
}

void CRegisterImage::StoreHolding(std::uint16_t first, std::span<const std::uint16_t> values)
{
    if (first >= kSettingsRegisters)
        return;
    Store(Bytes().subspan(2 * std::size_t{first}, 2 * (kSettingsRegisters - first)), values);
}

std::vector<std::uint16_t> CRegisterImage::HoldingRegisters(std::uint16_t first, std::uint16_t count) const
{
    std::vector<std::uint16_t> values;
    const auto bytes = Bytes();
    for (std::size_t n = first; n < std::size_t{first} + count && n < kSettingsRegisters; ++n)
        values.push_back(static_cast<std::uint16_t>(bytes[2 * n] << 8 | bytes[2 * n + 1]));
    return values;
}

void CRegisterImage::StoreStatus(std::span<const std::uint16_t> values)
{
    Store(Bytes().subspan(kStatusOffset), values);
}

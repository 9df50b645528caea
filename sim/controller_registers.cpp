#include "sim/controller_registers.h"

#include <cstdio>
#include <cstring>
#include <fstream>

namespace {

constexpr char kMagic[8] = {'O', 'S', 'T', 'R', 'C', 'T', 'L', '1'};
constexpr std::size_t kFileSize = sizeof(kMagic) + 2 * CControllerRegisters::kHoldingSpan;

// Inside the blocks every 16-bit number is little-endian, so a register
// carries the number with its bytes swapped.
std::uint16_t Swap(std::uint16_t v)
{
    return static_cast<std::uint16_t>((v << 8) | (v >> 8));
}

void PutNumber(std::uint8_t* bytes, std::size_t offset, std::uint16_t value)
{
    bytes[offset] = static_cast<std::uint8_t>(value & 0xFF);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void PutText(std::uint8_t* bytes, std::size_t offset, const char* text)
{
    std::memcpy(bytes + offset, text, std::strlen(text));
}

// An SMS slot with an empty text addressed to +79100000000.
void PutEmptySms(std::uint8_t* slot)
{
    PutText(slot, 0, "0011000B91" "9701000000F0" "000817" "00");
    slot[30] = 0x1A;
    slot[31] = 0x00;
}

} // namespace

CControllerRegisters::CControllerRegisters()
{
    // A plausible controller: server 192.168.1.10:5000, tilt limits 1800 .. 3100,
    // temperatures 5.0 .. 40.0 degrees C, serial number 01.02-0001-E240, no keys.
    std::uint8_t settings[2 * kSettingsRegisters] = {};
    const std::uint8_t ip[] = {0xA8, 0xC0, 0x0A, 0x01};
    std::memcpy(settings, ip, sizeof(ip));
    PutNumber(settings, 4, 5000);
    for (int axis = 0; axis < 3; ++axis) {
        PutNumber(settings, 6 + 4 * axis, 1800);
        PutNumber(settings, 8 + 4 * axis, 3100);
    }
    for (int sensor = 0; sensor < 2; ++sensor) {
        PutNumber(settings, 18 + 4 * sensor, 480);
        PutNumber(settings, 20 + 4 * sensor, 760);
    }
    PutNumber(settings, 26, 2048);
    PutNumber(settings, 30, 0x00FF);
    PutNumber(settings, 32, 0x03FF);
    PutText(settings, 34, "+79100000000");
    PutText(settings, 46, "+79000000000");
    settings[92] = 0x02;
    settings[93] = 0x01;
    PutNumber(settings, 94, 0x0001);
    PutNumber(settings, 96, 0xE240);
    std::memset(settings + 128, 0xFF, 128);
    for (std::uint16_t n = 0; n < kSettingsRegisters; ++n)
        holding_[n] = static_cast<std::uint16_t>(settings[2 * n] << 8 | settings[2 * n + 1]);

    for (std::uint16_t slot = 0; slot < kSmsBlocks / 2; ++slot) {
        std::uint8_t bytes[256] = {};
        PutEmptySms(bytes);
        for (std::uint16_t half = 0; half < 2; ++half) {
            const std::uint16_t base = static_cast<std::uint16_t>(128 * (2 * slot + half + 1));
            for (std::uint16_t n = 0; n < kSmsBlockRegisters; ++n)
                holding_[base + n] = static_cast<std::uint16_t>(bytes[128 * half + 2 * n] << 8 |
                                                                bytes[128 * half + 2 * n + 1]);
        }
    }
}

bool CControllerRegisters::IsHoldingAddress(std::uint32_t address)
{
    if (address < kSettingsRegisters)
        return true;
    return address < kHoldingSpan && address % 128 < kSmsBlockRegisters;
}

std::uint8_t CControllerRegisters::ReadHolding(std::uint16_t start, std::uint16_t count,
                                               std::vector<std::uint16_t>* values) const
{
    for (std::uint32_t a = start; a < std::uint32_t{start} + count; ++a) {
        if (!IsHoldingAddress(a))
            return kIllegalAddress;
    }
    std::lock_guard guard(mutex_);
    values->assign(holding_.begin() + start, holding_.begin() + start + count);
    return 0;
}

std::uint8_t CControllerRegisters::WriteHolding(std::uint16_t start, std::span<const std::uint16_t> values)
{
    for (std::uint32_t a = start; a < start + values.size(); ++a) {
        if (!IsHoldingAddress(a))
            return kIllegalAddress;
    }
    std::lock_guard guard(mutex_);
    std::copy(values.begin(), values.end(), holding_.begin() + start);
    ++writes_;
    return 0;
}

std::vector<std::uint16_t> CControllerRegisters::InputValues() const
{
    // Readings as numbers: three tilt angles, two temperatures, light, the
    // discrete inputs; then the key presented, its bytes in order.
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start_).count();
    const int drift = frozen_ ? 0 : static_cast<int>((elapsed / 700) % 9) - 4;
    const std::uint16_t numbers[] = {
        static_cast<std::uint16_t>(2400 + drift), static_cast<std::uint16_t>(2500 - drift),
        static_cast<std::uint16_t>(2450 + 2 * drift), static_cast<std::uint16_t>(600 + drift),
        static_cast<std::uint16_t>(628 - drift), static_cast<std::uint16_t>(1500 + 10 * drift),
        static_cast<std::uint16_t>(frozen_ ? 0 : (elapsed / 5000) % 8)};
    std::vector<std::uint16_t> values;
    for (std::uint16_t n : numbers)
        values.push_back(Swap(n));
    const Key none = {0, 0, 0, 0, 0, 0, 0, 0};
    const Key& key = key_ ? *key_ : none;
    for (std::size_t i = 0; i < key.size(); i += 2)
        values.push_back(static_cast<std::uint16_t>(key[i] << 8 | key[i + 1]));
    return values;
}

std::uint8_t CControllerRegisters::ReadInput(std::uint16_t start, std::uint16_t count,
                                             std::vector<std::uint16_t>* values) const
{
    if (std::uint32_t{start} + count > kInputRegisters)
        return kIllegalAddress;
    std::lock_guard guard(mutex_);
    const auto all = InputValues();
    values->assign(all.begin() + start, all.begin() + start + count);
    return 0;
}

std::uint16_t CControllerRegisters::Holding(std::uint16_t address) const
{
    if (!IsHoldingAddress(address))
        return 0;
    std::lock_guard guard(mutex_);
    return holding_[address];
}

void CControllerRegisters::SetHolding(std::uint16_t address, std::uint16_t value)
{
    if (!IsHoldingAddress(address))
        return;
    std::lock_guard guard(mutex_);
    holding_[address] = value;
}

void CControllerRegisters::PresentKey(const std::optional<Key>& key)
{
    std::lock_guard guard(mutex_);
    key_ = key;
}

void CControllerRegisters::FreezeReadings(bool frozen)
{
    std::lock_guard guard(mutex_);
    frozen_ = frozen;
}

std::uint64_t CControllerRegisters::WriteCount() const
{
    std::lock_guard guard(mutex_);
    return writes_;
}

bool CControllerRegisters::Load(const std::string& path, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot open " + path;
        return false;
    }
    // One byte more than a register file holds tells a longer file apart.
    std::vector<char> bytes(kFileSize + 1);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const auto size = static_cast<std::size_t>(in.gcount());
    if (size != kFileSize || std::memcmp(bytes.data(), kMagic, sizeof(kMagic)) != 0) {
        *error = path + " is not a controller register file";
        return false;
    }
    std::lock_guard guard(mutex_);
    for (std::size_t n = 0; n < kHoldingSpan; ++n) {
        const auto high = static_cast<std::uint8_t>(bytes[sizeof(kMagic) + 2 * n]);
        const auto low = static_cast<std::uint8_t>(bytes[sizeof(kMagic) + 2 * n + 1]);
        holding_[n] = IsHoldingAddress(static_cast<std::uint32_t>(n)) ? static_cast<std::uint16_t>(high << 8 | low) : 0;
    }
    return true;
}

bool CControllerRegisters::Save(const std::string& path, std::string* error) const
{
    std::vector<char> bytes(kMagic, kMagic + sizeof(kMagic));
    {
        std::lock_guard guard(mutex_);
        for (std::uint16_t v : holding_) {
            bytes.push_back(static_cast<char>(v >> 8));
            bytes.push_back(static_cast<char>(v & 0xFF));
        }
    }
    // Written beside the old file and renamed over it, so a reader never
    // sees half a file.
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            *error = "cannot write " + temporary;
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        *error = "cannot replace " + path;
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

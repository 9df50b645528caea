#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The registers of the emulated alarm controller: holding registers 0 .. 127
// (settings and keys) and the 22 SMS blocks of 64 registers at 128 x (b + 1),
// and input registers 0 .. 10 (live readings). Safe to use from the serving
// thread and a test at once.
class CControllerRegisters
{
public:
    static constexpr std::uint16_t kSettingsRegisters = 128;
    static constexpr std::uint16_t kSmsBlocks = 22;
    static constexpr std::uint16_t kSmsBlockRegisters = 64;
    // Holding addresses 0 .. kHoldingSpan - 1; the gaps between SMS blocks hold nothing.
    static constexpr std::uint16_t kHoldingSpan = 128 * (kSmsBlocks + 1);
    static constexpr std::uint16_t kInputRegisters = 11;
    // Modbus exception codes the register tables give.
    static constexpr std::uint8_t kIllegalAddress = 0x02;

    using Key = std::array<std::uint8_t, 8>;

    CControllerRegisters();

    static bool IsHoldingAddress(std::uint32_t address);

    // 0 or a Modbus exception code.
    std::uint8_t ReadHolding(std::uint16_t start, std::uint16_t count, std::vector<std::uint16_t>* values) const;
    std::uint8_t WriteHolding(std::uint16_t start, std::span<const std::uint16_t> values);
    std::uint8_t ReadInput(std::uint16_t start, std::uint16_t count, std::vector<std::uint16_t>* values) const;

    // Direct access for tests and the program; addresses outside the map read 0 and are not written.
    std::uint16_t Holding(std::uint16_t address) const;
    void SetHolding(std::uint16_t address, std::uint16_t value);

    // The key presented to the reader; nullopt: none.
    void PresentKey(const std::optional<Key>& key);
    // Live readings drift over time unless frozen.
    void FreezeReadings(bool frozen);

    // Register file: the magic "OSTRCTL1" and the holding registers
    // 0 .. kHoldingSpan - 1, two bytes each, high byte first.
    bool Load(const std::string& path, std::string* error);
    bool Save(const std::string& path, std::string* error) const;

    std::uint64_t WriteCount() const;

private:
    std::vector<std::uint16_t> InputValues() const;

    mutable std::mutex mutex_;
    std::array<std::uint16_t, kHoldingSpan> holding_{};
    std::optional<Key> key_;
    bool frozen_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::uint64_t writes_ = 0;
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF, no final
// exclusive-or. "123456789" gives 0x4B37.
std::uint16_t Crc16Modbus(std::span<const std::uint8_t> bytes);

// The report frame stores its CRC high byte first.
void StoreCrcHighFirst(std::uint16_t crc, std::uint8_t* out);
std::uint16_t LoadCrcHighFirst(const std::uint8_t* in);

// A Modbus RTU frame carries its CRC low byte first.
void StoreCrcLowFirst(std::uint16_t crc, std::uint8_t* out);
std::uint16_t LoadCrcLowFirst(const std::uint8_t* in);

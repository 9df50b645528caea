#pragma once

#include <cstdint>
#include <span>

// The line speeds, in bit/s, that the system's serial driver interface
// (termios) can set, slowest first. Any other speed makes opening a port fail.
std::span<const std::uint32_t> SettableBaudRates();
bool IsSettableBaudRate(std::uint32_t baudRate);

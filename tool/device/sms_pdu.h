#pragma once

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

struct T_SETTINGS;

// One SMS slot of the controller: 256 bytes holding an SMS-SUBMIT PDU in
// hexadecimal characters, ready for a GSM modem's send command.
//
//   0   "0011000B91"  service centre 00 (the modem's default), SMS-SUBMIT with
//                     a relative validity period, reference 00, 11 digits,
//                     international number
//  10   12 digits     the number after "+" in smsPhone, swapped pairwise, F-padded
//  22   "000817"      protocol 00, UCS2, valid for 2 hours
//  28   2 digits      user data length in octets (2 x n)
//  30   4 x n digits  the n UTF-16 code units of the text, most significant first
//  30 + 4n            0x1A (Ctrl-Z), then 0x00
inline constexpr std::size_t kSmsSlotSize = 256;
inline constexpr std::size_t kSmsTextOffset = 30;
inline constexpr int kSmsMaxLength = 56;   // UTF-16 code units: a full slot
inline constexpr std::uint8_t kSmsEnd = 0x1A;

using T_SMSSLOT = std::array<std::uint8_t, kSmsSlotSize>;

// Writes the PDU of text, addressed to the settings' smsPhone, into slot.
// Only the first kSmsMaxLength code units of text are taken; the bytes after
// the closing 0x1A, 0x00 are left as they were.
void BuildSmsPdu(const QString& text, const T_SETTINGS& settings, T_SMSSLOT& slot);

// The text of a slot: code units of four hexadecimal characters from offset
// 30 up to the first group holding 0x00 or 0x1A, at most kSmsMaxLength. The
// header is not looked at; a character that is no hexadecimal digit counts
// as 0.
QString DecodeSmsPdu(std::span<const std::uint8_t, kSmsSlotSize> slot);

#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// The address SMS tells an alarm controller where to report from now on:
// the server's public IPv4 address a.b.c.d and its listening port as six
// bytes, the address as two 16-bit little-endian words (a·256 + b, then
// c·256 + d) and the port as a 16-bit little-endian word:
//   0 b   1 a   2 d   3 c   4 port low   5 port high
// A controller that takes a wrong address cannot be reached by GPRS any
// more, so the message is only ever built from a well-formed address.

using AddressPayload = std::array<std::uint8_t, 6>;
using Ipv4Address = std::array<std::uint8_t, 4>;

// Four decimal numbers 0..255 of at most three digits, separated by single
// dots; white space around the whole (the service's line break) is allowed.
std::optional<Ipv4Address> ParseDottedIpv4(const QString& text);

AddressPayload BuildAddressPayload(const Ipv4Address& address, std::uint16_t port);

struct AddressSmsCheck
{
    enum Verdict { Ready, NoAddress, BadAddress, BadPort };
    Verdict verdict = NoAddress;
    AddressPayload payload{};
};

// Whether the address SMS can be built from the server's address text and
// port, and its payload when it can.
AddressSmsCheck CheckAddressSms(const QString& address, std::uint32_t port);

#include "server/core/address_sms.h"

namespace {

constexpr int kParts = 4;
constexpr int kMaxDigits = 3;
constexpr int kMaxByte = 255;
constexpr std::uint32_t kMaxPort = 65535;

} // namespace

std::optional<Ipv4Address> ParseDottedIpv4(const QString& text)
{
    const QString trimmed = text.trimmed();
    Ipv4Address address{};
    int part = 0;
    int digits = 0;
    int value = 0;
    for (const QChar c : trimmed) {
        if (c >= u'0' && c <= u'9') {
            if (++digits > kMaxDigits)
                return std::nullopt;
            value = value * 10 + (c.unicode() - u'0');
            continue;
        }
        if (c != u'.' || digits == 0 || value > kMaxByte || part == kParts - 1)
            return std::nullopt;
        address[static_cast<std::size_t>(part++)] = static_cast<std::uint8_t>(value);
        digits = 0;
        value = 0;
    }
    if (part != kParts - 1 || digits == 0 || value > kMaxByte)
        return std::nullopt;
    address[kParts - 1] = static_cast<std::uint8_t>(value);
    return address;
}

AddressPayload BuildAddressPayload(const Ipv4Address& address, std::uint16_t port)
{
    return {address[1], address[0], address[3], address[2], static_cast<std::uint8_t>(port & 0xFF),
            static_cast<std::uint8_t>(port >> 8)};
}

AddressSmsCheck CheckAddressSms(const QString& address, std::uint32_t port)
{
    AddressSmsCheck check;
    if (address.trimmed().isEmpty()) {
        check.verdict = AddressSmsCheck::NoAddress;
        return check;
    }
    const auto parsed = ParseDottedIpv4(address);
    if (!parsed) {
        check.verdict = AddressSmsCheck::BadAddress;
        return check;
    }
    if (port == 0 || port > kMaxPort) {
        check.verdict = AddressSmsCheck::BadPort;
        return check;
    }
    check.verdict = AddressSmsCheck::Ready;
    check.payload = BuildAddressPayload(*parsed, static_cast<std::uint16_t>(port));
    return check;
}

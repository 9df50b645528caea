#include "tool/device/sms_pdu.h"

#include "tool/device/register_image.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr char kHeader[] = "0011000B91";
constexpr char kParameters[] = "000817";
// Places in smsPhone ("+" and 11 digits d1 .. d11) of the twelve destination
// characters: d2 d1 d4 d3 d6 d5 d8 d7 d10 d9 F d11; 0 stands for the padding F.
constexpr std::array<int, 12> kDestinationPlaces = {2, 1, 4, 3, 6, 5, 8, 7, 10, 9, 0, 11};
constexpr std::uint8_t kPadding = 'F';
constexpr int kDigitsPerUnit = 4;
constexpr char kHexDigits[] = "0123456789ABCDEF";

int DigitValue(std::uint8_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}

} // namespace

void BuildSmsPdu(const QString& text, const T_SETTINGS& settings, T_SMSSLOT& slot)
{
    std::size_t at = 0;
    auto put = [&slot, &at](std::uint8_t c) { slot[at++] = c; };
    auto putHex = [&put](unsigned value, int digits) {
        for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
            put(static_cast<std::uint8_t>(kHexDigits[(value >> shift) & 0xF]));
    };

    for (const char c : std::string_view(kHeader))
        put(static_cast<std::uint8_t>(c));
    for (const int place : kDestinationPlaces)
        put(place == 0 ? kPadding : settings.smsPhone[place]);
    for (const char c : std::string_view(kParameters))
        put(static_cast<std::uint8_t>(c));

    const auto length = static_cast<int>(std::min<qsizetype>(text.size(), kSmsMaxLength));
    putHex(static_cast<unsigned>(2 * length), 2);
    for (int i = 0; i < length; ++i)
        putHex(text.at(i).unicode(), kDigitsPerUnit);
    put(kSmsEnd);
    put(0x00);
}

QString DecodeSmsPdu(std::span<const std::uint8_t, kSmsSlotSize> slot)
{
    QString text;
    for (std::size_t offset = kSmsTextOffset; offset + kDigitsPerUnit <= kSmsSlotSize; offset += kDigitsPerUnit) {
        const auto group = slot.subspan(offset, kDigitsPerUnit);
        unsigned unit = 0;
        for (const std::uint8_t c : group) {
            if (c == 0x00 || c == kSmsEnd)
                return text;
            unit = unit * 16 + static_cast<unsigned>(DigitValue(c));
        }
        text += QChar(static_cast<char16_t>(unit));
    }
    return text;
}

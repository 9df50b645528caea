#include "tool/device/device_texts.h"

#include "tool/device/register_image.h"
#include "common/serial_device.h"

#include <cstring>

namespace {

constexpr int kTemperatureZero = 440;     // raw value of 0 degrees C
constexpr double kDegreesPerStep = 0.125;
constexpr char kPhonePrefix[] = "+7";
constexpr qsizetype kPhoneDigits = 10;
constexpr char kMissingDigit = '_';

QString Hex(unsigned value, int width)
{
    return QStringLiteral("%1").arg(value, width, 16, QLatin1Char('0')).toUpper();
}

} // namespace

QString FormatKey(const T_KEY& key)
{
    const std::uint8_t* k = key.k;
    return Hex(k[1], 2) + Hex(k[2], 2) + QStringLiteral(" - ") + Hex(k[3], 2) + Hex(k[4], 2) + QStringLiteral(" - ") + Hex(k[5], 2) +
           Hex(k[6], 2) + QStringLiteral(" - ") + Hex(k[7], 2) + QStringLiteral(" - ") + Hex(k[0], 2);
}

QString KeySlotText(int slot, const T_KEY& key)
{
    return QStringLiteral("Ключ %1: ").arg(slot + 1) + FormatKey(key);
}

QString LastKeyText(const T_KEY& key)
{
    return QStringLiteral("Ключ: ") + FormatKey(key);
}

QString FormatSerial(const CRegisterImage& image)
{
    const T_SETTINGS& s = image.settings;
    return QStringLiteral("Серийный номер\r\n") + Hex(s.serialPrefix[1], 2) + u'.' + Hex(s.serialPrefix[0], 2) +
           u'-' + Hex(s.serialNumber[0].Get(), 4) + u'-' + Hex(s.serialNumber[1].Get(), 4);
}

QString LineRefusedText(const QString& port, std::uint32_t baudRate, std::uint16_t dataBits, std::uint8_t parity,
                        int error)
{
    static const char16_t* const kParityNames[] = {u"нет", u"нечёт", u"чёт", u"маркер", u"пробел"};
    const QString reason = QString::fromLocal8Bit(std::strerror(error));
    if (!IsSettableBaudRate(baudRate))
        return QStringLiteral("Порт %1 не открыт: скорость %2 бит/с не может быть установлена (%3).\n"
                              "Выберите другую скорость кнопкой «Порт».")
            .arg(port)
            .arg(baudRate)
            .arg(reason);
    const QString parityName = parity < std::size(kParityNames) ? QString::fromUtf16(kParityNames[parity])
                                                                : QString::number(parity);
    return QStringLiteral("Порт %1 не открыт: параметры линии (%2 бит/с, %3 бит данных, чётность: %4) "
                          "не могут быть установлены (%5).\nИзмените их кнопкой «Порт».")
        .arg(port)
        .arg(baudRate)
        .arg(dataBits & 0xFF)
        .arg(parityName, reason);
}

QString SerialNumberText(std::uint32_t serial)
{
    return Hex(serial >> 16, 4) + u'-' + Hex(serial & 0xFFFF, 4);
}

QString TemperatureText(int value)
{
    return QString::asprintf("%.1f", (value - kTemperatureZero) * kDegreesPerStep) + QStringLiteral(" °C");
}

QString PhoneText(const std::uint8_t (&phone)[12])
{
    QString text;
    for (int i = 0; i < 12; ++i) {
        if (i == 2)
            text += u'(';
        else if (i == 5)
            text += u')';
        else if (i == 8 || i == 10)
            text += u'-';
        text += QLatin1Char(static_cast<char>(phone[i]));   // one Latin-1 character a byte
    }
    return text;
}

void StorePhone(std::uint8_t (&phone)[12], const QString& digits)
{
    phone[0] = kPhonePrefix[0];
    phone[1] = kPhonePrefix[1];
    for (qsizetype i = 0; i < kPhoneDigits; ++i) {
        char16_t c = i < digits.size() ? digits.at(i).unicode() : char16_t{kMissingDigit};
        if (c > 0xFF)
            c = u'?';
        phone[2 + i] = static_cast<std::uint8_t>(c);
    }
}

std::uint32_t ServerAddress(const CRegisterImage& image)
{
    return std::uint32_t{image.settings.serverIp[0].Get()} << 16 | image.settings.serverIp[1].Get();
}

void SetServerAddress(CRegisterImage& image, std::uint32_t address)
{
    image.settings.serverIp[0].Set(static_cast<std::uint16_t>(address >> 16));
    image.settings.serverIp[1].Set(static_cast<std::uint16_t>(address & 0xFFFF));
}

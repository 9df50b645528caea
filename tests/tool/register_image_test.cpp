// The register image, its byte order and the texts made from it.
#include "tool/device/device_texts.h"
#include "tool/device/register_image.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace {

QByteArray Bytes(const CRegisterImage& image, std::size_t offset, std::size_t count)
{
    return QByteArray(reinterpret_cast<const char*>(image.Bytes().data() + offset), static_cast<qsizetype>(count));
}

TEST(RegisterImage, RegistersTravelHighByteFirstAndNumbersInsideAreLittleEndian)
{
    CRegisterImage image;
    // Registers 0 .. 3 as the controller sends 192.168.1.10, port 5000 and a limit of 1800.
    const std::uint16_t first[] = {0xA8C0, 0x0A01, 0x8813, 0x0807};
    image.StoreHolding(0, first);
    EXPECT_EQ(Bytes(image, 0, 8), QByteArray::fromHex("a8c00a0188130807"));
    EXPECT_EQ(ServerAddress(image), 0xC0A8010Au);   // 192.168.1.10
    EXPECT_EQ(image.settings.serverPort.Get(), 5000);
    EXPECT_EQ(image.settings.tiltLimit[0].Get(), 1800);

    SetServerAddress(image, 0x0A000001);   // 10.0.0.1
    image.settings.serverPort.Set(49275);
    EXPECT_EQ(Bytes(image, 0, 6), QByteArray::fromHex("000a01007bc0"));
    EXPECT_EQ(image.HoldingRegisters(0, 3), (std::vector<std::uint16_t>{0x000A, 0x0100, 0x7BC0}));

    // The second block lands at bytes 128 .. 255, the status at 256 .. 277.
    image.StoreHolding(64, std::vector<std::uint16_t>(64, 0x1234));
    EXPECT_EQ(Bytes(image, 126, 4), QByteArray::fromHex("00001234"));
    const std::uint16_t status[] = {0x6009, 0, 0, 0x5802, 0, 0, 0x0500, 0x0123, 0x4567, 0x89AB, 0xCDEF};
    image.StoreStatus(status);
    EXPECT_EQ(image.status.tiltX.Get(), 2400);
    EXPECT_EQ(image.status.temperature1.Get(), 600);
    EXPECT_EQ(image.status.inputState.Get(), 5);
    EXPECT_EQ(Bytes(image, 270, 8), QByteArray::fromHex("0123456789abcdef"));
    EXPECT_EQ(image.HoldingRegisters(64, 64), std::vector<std::uint16_t>(64, 0x1234));
}

TEST(RegisterImage, StoresNothingPastItsEnd)
{
    CRegisterImage image;
    std::memset(image.Bytes().data(), 0x55, CRegisterImage::kSize);
    image.StoreHolding(100, std::vector<std::uint16_t>(200, 0xAAAA));   // registers 100 .. 127 only
    image.StoreHolding(500, std::vector<std::uint16_t>(10, 0xBBBB));
    image.StoreStatus(std::vector<std::uint16_t>(50, 0xCCCC));
    EXPECT_EQ(Bytes(image, 198, 2), QByteArray::fromHex("5555"));
    EXPECT_EQ(Bytes(image, 200, 56), QByteArray(56, '\xAA'));
    EXPECT_EQ(Bytes(image, 256, 22), QByteArray(22, '\xCC'));
    EXPECT_EQ(image.HoldingRegisters(120, 64).size(), 8u);
}

TEST(DeviceTexts, TemperatureTexts)
{
    const struct { int value; const char* text; } cases[] = {
        {440, "0.0 °C"}, {0, "-55.0 °C"}, {1440, "125.0 °C"}, {628, "23.5 °C"}, {600, "20.0 °C"}, {1240, "100.0 °C"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TemperatureText(c.value), QString::fromUtf8(c.text)) << c.value;
}

TEST(DeviceTexts, KeysSerialNumberAndPhones)
{
    CRegisterImage image;
    image.StoreHolding(46, std::vector<std::uint16_t>{0x0201, 0x0100, 0x40E2});   // bytes 92 .. 97
    EXPECT_EQ(FormatSerial(image), QStringLiteral("Серийный номер\r\n01.02-0001-E240"));
    image.StoreHolding(46, std::vector<std::uint16_t>{0xA0FF, 0xFFFF, 0x0000});
    EXPECT_EQ(FormatSerial(image), QStringLiteral("Серийный номер\r\nFF.A0-FFFF-0000"));

    const T_KEY key{{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
    EXPECT_EQ(FormatKey(key), QStringLiteral("2345 - 6789 - ABCD - EF - 01"));
    EXPECT_EQ(KeySlotText(15, key), QStringLiteral("Ключ 16: 2345 - 6789 - ABCD - EF - 01"));
    EXPECT_EQ(LastKeyText(key), QStringLiteral("Ключ: 2345 - 6789 - ABCD - EF - 01"));

    std::memcpy(image.settings.smsPhone, "+79100000000", 12);
    EXPECT_EQ(PhoneText(image.settings.smsPhone), QStringLiteral("+7(910)000-00-00"));
    StorePhone(image.settings.serverPhone, QStringLiteral("91234567"));   // two places left blank
    EXPECT_EQ(Bytes(image, 46, 12), QByteArray("+791234567__"));
    StorePhone(image.settings.serverPhone, QStringLiteral("12345678901234"));
    EXPECT_EQ(Bytes(image, 46, 12), QByteArray("+71234567890"));
    EXPECT_EQ(Bytes(image, 58, 2), QByteArray(2, '\0'));
}

// Whatever bytes the controller holds, the texts made of them are bounded.
TEST(DeviceTexts, AnyBytesGiveBoundedTexts)
{
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        CRegisterImage image;
        for (auto& b : image.Bytes())
            b = static_cast<std::uint8_t>(random());
        EXPECT_EQ(PhoneText(image.settings.smsPhone).size(), 16);
        EXPECT_LE(FormatSerial(image).size(), 31);
        EXPECT_EQ(FormatKey(image.status.lastKey).size(), 28);
        EXPECT_LE(TemperatureText(image.status.temperature1.Get()).size(), 12);
    }
}

} // namespace

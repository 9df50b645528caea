// The SMS slot codec against hexadecimal vectors.
#include "tool/device/register_image.h"
#include "tool/device/sms_pdu.h"

#include <QByteArray>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <cstring>

namespace {

T_SETTINGS Settings(const char* smsPhone)
{
    T_SETTINGS settings{};
    std::memcpy(settings.smsPhone, smsPhone, sizeof(settings.smsPhone));
    return settings;
}

T_SMSSLOT Filled(std::uint8_t value)
{
    T_SMSSLOT slot;
    slot.fill(value);
    return slot;
}

QByteArray Bytes(const T_SMSSLOT& slot, std::size_t from, std::size_t count)
{
    return QByteArray(reinterpret_cast<const char*>(slot.data() + from), static_cast<qsizetype>(count));
}

T_SMSSLOT Slot(const QByteArray& bytes, std::uint8_t rest = 0x00)
{
    T_SMSSLOT slot = Filled(rest);
    std::memcpy(slot.data(), bytes.constData(), std::min<std::size_t>(bytes.size(), slot.size()));
    return slot;
}

TEST(SmsPdu, BuildWritesHeaderDestinationLengthTextAndEnd)
{
    const struct
    {
        const char* phone;
        QString text;
        QByteArray expected;   // up to and including 0x1A, 0x00
    } cases[] = {
        {"+79100000000", QString(), QByteArray("0011000B91" "9701000000F0" "000817" "00") + QByteArray::fromHex("1a00")},
        {"+79100000000", QStringLiteral("Тест"),
         QByteArray("0011000B91" "9701000000F0" "000817" "08" "0422043504410442") + QByteArray::fromHex("1a00")},
        {"+79161234567", QStringLiteral("Ab"),
         QByteArray("0011000B91" "9761214365F7" "000817" "04" "00410062") + QByteArray::fromHex("1a00")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.phone);
        T_SMSSLOT slot = Filled(0xEE);
        BuildSmsPdu(c.text, Settings(c.phone), slot);
        EXPECT_EQ(Bytes(slot, 0, c.expected.size()), c.expected);
        // What follows the end is left as it was.
        EXPECT_EQ(Bytes(slot, c.expected.size(), slot.size() - c.expected.size()),
                  QByteArray(slot.size() - c.expected.size(), '\xEE'));
    }
}

TEST(SmsPdu, AFullTextFillsTheSlotAndALongerOneIsCut)
{
    for (const int length : {56, 57, 300}) {
        T_SMSSLOT slot = Filled(0xEE);
        BuildSmsPdu(QString(length, QChar(u'Я')), Settings("+79100000000"), slot);
        EXPECT_EQ(Bytes(slot, 28, 2), QByteArray("70")) << length;   // 112 octets
        EXPECT_EQ(Bytes(slot, 250, 4), QByteArray("042F"));
        EXPECT_EQ(slot[254], 0x1A);
        EXPECT_EQ(slot[255], 0x00);
        EXPECT_EQ(DecodeSmsPdu(slot), QString(56, QChar(u'Я')));
    }
}

TEST(SmsPdu, DecodeStopsAtTheEndAndReadsAnyDigits)
{
    const QByteArray header("0011000B91" "9701000000F0" "000817" "08");
    const struct
    {
        const char* name;
        QByteArray bytes;
        std::uint8_t rest;
        QString expected;
    } cases[] = {
        {"end at once", header + QByteArray::fromHex("1a00"), 0x00, QString()},
        {"zero at once", header + QByteArray(1, '\0'), 0x41, QString()},
        {"Тест", header + "0422043504410442" + QByteArray::fromHex("1a00"), 0x00, QStringLiteral("Тест")},
        {"lower case", header + "043f0440043e" + QByteArray::fromHex("1a"), 0x00, QStringLiteral("про")},
        {"other bytes as 0", header + "0G41" + "04 1" + "z" + QByteArray::fromHex("1a"), 0x00,
         QStringLiteral("A") + QChar(0x0401)},
        {"end inside a group", header + "0041" + "04" + QByteArray::fromHex("1a"), 0x30, QStringLiteral("A")},
        {"header not looked at", QByteArray(30, '\x1a') + "0031", 0x00, QStringLiteral("1")},
        {"no end at all", header, '7', QString(56, QChar(0x7777))},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeSmsPdu(Slot(c.bytes, c.rest)), c.expected) << c.name;
}

TEST(SmsPdu, WhatIsBuiltDecodesToTheSameText)
{
    const QString texts[] = {
        QString(), QStringLiteral("Проверка канала связи"), QStringLiteral("Датчик 3 "),
        QStringLiteral("Дверь открыта! 100% \u20AC"), QStringLiteral("\U0001F6A8 тревога"),
    };
    for (const QString& text : texts) {
        T_SMSSLOT slot = Filled(0x00);
        BuildSmsPdu(text, Settings("+79001234567"), slot);
        EXPECT_EQ(DecodeSmsPdu(slot), text);
    }
}

TEST(SmsPdu, DecodeTakesAnyBytes)
{
    QRandomGenerator random(20240);
    for (int round = 0; round < 2000; ++round) {
        T_SMSSLOT slot;
        for (auto& b : slot)
            b = static_cast<std::uint8_t>(random.bounded(256));
        EXPECT_LE(DecodeSmsPdu(slot).size(), kSmsMaxLength);
    }
}

} // namespace

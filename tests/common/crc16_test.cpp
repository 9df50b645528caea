#include "common/crc16.h"

#include <QByteArray>
#include <gtest/gtest.h>

namespace {

std::span<const std::uint8_t> Bytes(const QByteArray& data)
{
    return {reinterpret_cast<const std::uint8_t*>(data.constData()), static_cast<std::size_t>(data.size())};
}

} // namespace

TEST(Crc16, CheckValueAndEmptyInput)
{
    EXPECT_EQ(Crc16Modbus(Bytes(QByteArrayLiteral("123456789"))), 0x4B37);
    EXPECT_EQ(Crc16Modbus({}), 0xFFFF);
}

TEST(Crc16, ModbusRequestCarriesCrcLowByteFirst)
{
    // Read one holding register at 0 from slave 1: the request ends 84 0A.
    const QByteArray request = QByteArray::fromHex("010300000001");
    std::uint8_t tail[2];
    StoreCrcLowFirst(Crc16Modbus(Bytes(request)), tail);
    EXPECT_EQ(tail[0], 0x84);
    EXPECT_EQ(tail[1], 0x0A);
    EXPECT_EQ(LoadCrcLowFirst(tail), Crc16Modbus(Bytes(request)));
}

TEST(Crc16, ReportFrameStoresCrcHighByteFirst)
{
    std::uint8_t tail[2];
    StoreCrcHighFirst(0x4B37, tail);
    EXPECT_EQ(tail[0], 0x4B);
    EXPECT_EQ(tail[1], 0x37);
    EXPECT_EQ(LoadCrcHighFirst(tail), 0x4B37);
}

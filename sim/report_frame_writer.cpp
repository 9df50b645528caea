#include "sim/report_frame_writer.h"

#include "common/crc16.h"

#include <algorithm>

namespace {

constexpr std::size_t kSerialHighOffset = 0;
constexpr std::size_t kSerialLowOffset = 2;
constexpr std::size_t kSequenceOffset = 4;
constexpr std::size_t kVersionMinorOffset = 6;
constexpr std::size_t kVersionMajorOffset = 7;
constexpr std::size_t kTemperature1Offset = 14;
constexpr std::size_t kTemperature2Offset = 16;
constexpr std::size_t kLightOffset = 18;
constexpr std::size_t kKeyOffset = 22;
constexpr std::size_t kFlagsOffset = 30;
constexpr std::size_t kBalanceOffset = 32;
constexpr std::size_t kCrcOffset = 62;

} // namespace

void CReportFrameWriter::SetWord(std::size_t offset, std::uint16_t value)
{
    bytes_[offset] = static_cast<std::uint8_t>(value & 0xFF);
    bytes_[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void CReportFrameWriter::SetSerial(std::uint32_t serial)
{
    SetWord(kSerialHighOffset, static_cast<std::uint16_t>(serial >> 16));
    SetWord(kSerialLowOffset, static_cast<std::uint16_t>(serial & 0xFFFF));
}

void CReportFrameWriter::SetSequence(std::uint16_t sequence)
{
    SetWord(kSequenceOffset, sequence);
}

void CReportFrameWriter::SetVersion(std::uint8_t major, std::uint8_t minor)
{
    bytes_[kVersionMinorOffset] = minor;
    bytes_[kVersionMajorOffset] = major;
}

void CReportFrameWriter::SetTemperatures(std::uint16_t temperature1, std::uint16_t temperature2)
{
    SetWord(kTemperature1Offset, temperature1);
    SetWord(kTemperature2Offset, temperature2);
}

void CReportFrameWriter::SetLight(std::uint16_t light)
{
    SetWord(kLightOffset, light);
}

void CReportFrameWriter::SetKey(std::span<const std::uint8_t, kKeySize> key)
{
    std::copy(key.begin(), key.end(), bytes_.begin() + kKeyOffset);
}

void CReportFrameWriter::SetFlags(std::uint16_t flags)
{
    SetWord(kFlagsOffset, flags);
}

void CReportFrameWriter::SetBalance(const QByteArray& latin1)
{
    const auto length = std::min<std::size_t>(static_cast<std::size_t>(latin1.size()), kBalanceSize);
    std::fill_n(bytes_.begin() + kBalanceOffset, kBalanceSize, 0);
    std::copy_n(latin1.constData(), length, bytes_.begin() + kBalanceOffset);
}

CReportFrameWriter::Frame CReportFrameWriter::Sealed() const
{
    Frame frame = bytes_;
    StoreCrcHighFirst(Crc16Modbus(std::span<const std::uint8_t>(frame.data(), kCrcOffset)), frame.data() + kCrcOffset);
    return frame;
}

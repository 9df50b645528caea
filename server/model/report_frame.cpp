#include "server/model/report_frame.h"

#include "common/crc16.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kTemperatureZero = 440;     // raw value of 0 °C
constexpr double kTemperatureStep = 0.125; // degrees per raw unit
constexpr double kLightFull = 40.96;       // raw units per percent (4096 = 100 %)

static_assert(CReportFrame::kCrcOffset + 2 == CReportFrame::kSize, "the CRC ends the frame");
static_assert(CReportFrame::kBalanceOffset + CReportFrame::kBalanceSize <= CReportFrame::kCrcOffset);

} // namespace

std::uint32_t FrameSerial(const std::uint8_t* frame)
{
    const std::uint32_t high = CReportFrame::WordOf(frame, CReportFrame::kSerialHighOffset);
    const std::uint32_t low = CReportFrame::WordOf(frame, CReportFrame::kSerialLowOffset);
    return (high << 16) | low;
}

CReportFrame::CReportFrame(std::span<const std::uint8_t, kSize> bytes)
{
    std::copy(bytes.begin(), bytes.end(), bytes_.begin());
}

std::uint16_t CReportFrame::WordOf(const std::uint8_t* frame, std::size_t offset)
{
    return static_cast<std::uint16_t>(frame[offset] | (frame[offset + 1] << 8));
}

bool CReportFrame::Valid(const std::uint8_t* frame)
{
    return Crc16Modbus(std::span<const std::uint8_t>(frame, kCrcOffset)) == LoadCrcHighFirst(frame + kCrcOffset);
}

void CReportFrame::SetWord(std::size_t offset, std::uint16_t value)
{
    bytes_[offset] = static_cast<std::uint8_t>(value & 0xFF);
    bytes_[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint32_t CReportFrame::Serial() const { return FrameSerial(bytes_.data()); }

std::uint16_t CReportFrame::Sequence() const { return Word(kSequenceOffset); }

QString CReportFrame::VersionText() const
{
    return QStringLiteral("%1.%2")
        .arg(VersionMajor(), 2, 16, QLatin1Char('0'))
        .arg(VersionMinor(), 2, 16, QLatin1Char('0'))
        .toUpper();
}

bool CReportFrame::KeyPresent() const
{
    for (std::size_t offset = kKeyOffset; offset < kKeyOffset + kKeySize; offset += 2)
        if (Word(offset) != 0)
            return true;
    return false;
}

QString CReportFrame::KeyText() const
{
    return QStringLiteral("%1%2%3%4")
        .arg(bytes_[kKeyOffset], 2, 16, QLatin1Char('0'))
        .arg(Word(kKeyOffset + 2), 4, 16, QLatin1Char('0'))
        .arg(Word(kKeyOffset + 4), 4, 16, QLatin1Char('0'))
        .arg(bytes_[kKeyOffset + 7], 2, 16, QLatin1Char('0'))
        .toUpper();
}

QString CReportFrame::Balance() const
{
    const auto* begin = reinterpret_cast<const char*>(bytes_.data() + kBalanceOffset);
    const auto* end = static_cast<const char*>(std::memchr(begin, 0, kBalanceSize));
    const qsizetype length = end ? end - begin : static_cast<qsizetype>(kBalanceSize);
    return QString::fromLatin1(begin, length);
}

std::optional<double> CReportFrame::Temperature(std::uint16_t raw)
{
    if (raw == 0)
        return std::nullopt;
    return (static_cast<int>(raw) - kTemperatureZero) * kTemperatureStep;
}

double CReportFrame::LightPercent(std::uint16_t raw) { return raw / kLightFull; }

std::uint16_t CReportFrame::StoredCrc() const { return LoadCrcHighFirst(bytes_.data() + kCrcOffset); }

std::uint16_t CReportFrame::ComputedCrc() const
{
    return Crc16Modbus(std::span<const std::uint8_t>(bytes_.data(), kCrcOffset));
}

void CReportFrame::SetSerial(std::uint32_t serial)
{
    SetWord(kSerialHighOffset, static_cast<std::uint16_t>(serial >> 16));
    SetWord(kSerialLowOffset, static_cast<std::uint16_t>(serial & 0xFFFF));
}

void CReportFrame::SetSequence(std::uint16_t sequence) { SetWord(kSequenceOffset, sequence); }

void CReportFrame::SetVersion(std::uint8_t major, std::uint8_t minor)
{
    bytes_[kVersionMinorOffset] = minor;
    bytes_[kVersionMajorOffset] = major;
}

void CReportFrame::SetKey(std::span<const std::uint8_t, kKeySize> key)
{
    std::copy(key.begin(), key.end(), bytes_.begin() + kKeyOffset);
}

void CReportFrame::SetBalance(const QString& balance)
{
    const QByteArray text = balance.toLatin1().left(kBalanceSize);
    std::fill_n(bytes_.begin() + kBalanceOffset, kBalanceSize, 0);
    std::copy(text.begin(), text.end(), bytes_.begin() + kBalanceOffset);
}

void CReportFrame::SealCrc() { StoreCrcHighFirst(ComputedCrc(), bytes_.data() + kCrcOffset); }

#include "server/model/report_frame.h"

#include "common/crc16.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kTemperatureZero = 440;     // raw value of 0 °C
constexpr double kTemperatureStep = 0.125; // degrees per raw unit
constexpr double kLightFull = 40.96;       // raw units per percent (4096 = 100 %)

} // namespace

std::uint32_t FrameSerial(const std::uint8_t* frame)
{
    const std::uint32_t high = static_cast<std::uint32_t>(frame[0] | (frame[1] << 8));
    const std::uint32_t low = static_cast<std::uint32_t>(frame[2] | (frame[3] << 8));
    return (high << 16) | low;
}

CReportFrame::CReportFrame(std::span<const std::uint8_t, kSize> bytes)
{
    std::copy(bytes.begin(), bytes.end(), bytes_.begin());
}

std::uint16_t CReportFrame::Word(std::size_t offset) const
{
    return static_cast<std::uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
}

void CReportFrame::SetWord(std::size_t offset, std::uint16_t value)
{
    bytes_[offset] = static_cast<std::uint8_t>(value & 0xFF);
    bytes_[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint32_t CReportFrame::Serial() const { return FrameSerial(bytes_.data()); }

std::uint16_t CReportFrame::Sequence() const { return Word(4); }

QString CReportFrame::VersionText() const
{
    return QStringLiteral("%1.%2")
        .arg(VersionMajor(), 2, 16, QLatin1Char('0'))
        .arg(VersionMinor(), 2, 16, QLatin1Char('0'))
        .toUpper();
}

bool CReportFrame::KeyPresent() const
{
    return Word(22) != 0 || Word(24) != 0 || Word(26) != 0 || Word(28) != 0;
}

QString CReportFrame::KeyText() const
{
    return QStringLiteral("%1%2%3%4")
        .arg(bytes_[22], 2, 16, QLatin1Char('0'))
        .arg(Word(24), 4, 16, QLatin1Char('0'))
        .arg(Word(26), 4, 16, QLatin1Char('0'))
        .arg(bytes_[29], 2, 16, QLatin1Char('0'))
        .toUpper();
}

QString CReportFrame::Balance() const
{
    const auto* begin = reinterpret_cast<const char*>(bytes_.data() + 32);
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
    SetWord(0, static_cast<std::uint16_t>(serial >> 16));
    SetWord(2, static_cast<std::uint16_t>(serial & 0xFFFF));
}

void CReportFrame::SetSequence(std::uint16_t sequence) { SetWord(4, sequence); }

void CReportFrame::SetVersion(std::uint8_t major, std::uint8_t minor)
{
    bytes_[6] = minor;
    bytes_[7] = major;
}

void CReportFrame::SetKey(std::span<const std::uint8_t, 8> key)
{
    std::copy(key.begin(), key.end(), bytes_.begin() + kKeyOffset);
}

void CReportFrame::SetBalance(const QString& balance)
{
    const QByteArray text = balance.toLatin1().left(kBalanceSize);
    std::fill_n(bytes_.begin() + 32, kBalanceSize, 0);
    std::copy(text.begin(), text.end(), bytes_.begin() + 32);
}

void CReportFrame::SealCrc() { StoreCrcHighFirst(ComputedCrc(), bytes_.data() + kCrcOffset); }

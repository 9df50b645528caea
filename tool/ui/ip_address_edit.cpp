#include "tool/ui/ip_address_edit.h"

#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace {

constexpr int kOctets = 4;

} // namespace

CIpAddressEdit::CIpAddressEdit(QWidget* parent) : QLineEdit(parent)
{
    const QString octet = QStringLiteral("(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])?");
    setValidator(new QRegularExpressionValidator(
        QRegularExpression(octet + QStringLiteral("(\\.") + octet + QStringLiteral("){0,3}")), this));
}

std::uint32_t CIpAddressEdit::Address() const
{
    const QStringList fields = text().split(QLatin1Char('.'));
    std::uint32_t address = 0;
    for (int n = 0; n < kOctets; ++n) {
        bool ok = false;
        const unsigned value = n < fields.size() ? fields.at(n).toUInt(&ok) : 0;
        address = address << 8 | (ok && value <= 255 ? value : 0);
    }
    return address;
}

void CIpAddressEdit::SetAddress(std::uint32_t address)
{
    setText(QStringLiteral("%1.%2.%3.%4")
                .arg(address >> 24)
                .arg((address >> 16) & 0xFF)
                .arg((address >> 8) & 0xFF)
                .arg(address & 0xFF));
}

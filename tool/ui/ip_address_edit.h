#pragma once

#include <QLineEdit>

#include <cstdint>

// An IPv4 address field: four dotted numbers of 0 .. 255. Its value is the
// 32-bit address, first octet most significant; a field left empty counts 0.
class CIpAddressEdit : public QLineEdit
{
    Q_OBJECT

public:
    explicit CIpAddressEdit(QWidget* parent = nullptr);

    std::uint32_t Address() const;
    void SetAddress(std::uint32_t address);
};

#pragma once

#include <QDialog>

#include <cstdint>

class CRegisterImage;
class QLineEdit;

// "Новая схема": proposes the next serial number and, on OK, puts the one
// accepted into the register image's serialNumber and, when it is larger,
// into the stored "Last serial". Serial numbers are shown and typed in
// hexadecimal, two groups of four digits, as the tool shows them everywhere.
class CNewSensorDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CNewSensorDlg(CRegisterImage& image, QWidget* parent = nullptr);

    void accept() override;

    std::uint32_t Proposal() const { return proposal_; }
    std::uint32_t NewSerial() const { return newSerial_; }

    // The serial number the field shows: eight hexadecimal digits, the
    // dash and anything else in between skipped, blanks counting as 0.
    static std::uint32_t ReadSerial(const QString& shown);

private:
    CRegisterImage& image_;
    std::uint32_t proposal_ = 0;
    std::uint32_t newSerial_ = 0;
    QLineEdit* number_ = nullptr;
};

#pragma once

#include <QDialog>

#include <cstdint>

class QLineEdit;

// "Введите пароль": guards the change of the controller's serial number.
// Ends with OK only when the access code was entered.
class CPasswordDlg : public QDialog
{
    Q_OBJECT

public:
    static constexpr std::uint32_t kAccessCode = 58204716;

    explicit CPasswordDlg(QWidget* parent = nullptr);

    void accept() override;

    std::uint32_t EnteredCode() const { return enteredCode_; }

    // An unsigned decimal number between optional blanks and tabs; nothing
    // else (no sign, no other character, nothing beyond 32 bits) reads.
    static bool ReadUnsigned(const QString& text, std::uint32_t* value);

private:
    std::uint32_t enteredCode_ = 0;
    QLineEdit* code_ = nullptr;
};

#pragma once

#include "tool/device/sms_pdu.h"

#include <QDialog>

#include <array>
#include <cstdint>

class CModbus;
class CRegisterImage;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

// "Редактор SMS": the eleven texts the controller sends, read from its SMS
// slots when the editor runs and written back one block per tick of the
// write timer, every PDU rebuilt for the phone number of the register image.
class CSMSEditDlg : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kTexts = 11;
    static constexpr int kBlocks = 2 * kTexts;   // each slot in two blocks of 64 registers
    static constexpr int kWriteIntervalMs = 800;

    // master and image are the main window's, borrowed for one modal run.
    CSMSEditDlg(CModbus& master, const CRegisterImage& image, QWidget* parent = nullptr);

    // Reads the slots as soon as the editor's loop runs, then lets the user edit.
    int exec() override;
    void done(int result) override;

    // The period of the write timer; tests shorten it.
    void SetWriteInterval(int ms) { writeIntervalMs_ = ms; }
    int WriteInterval() const { return writeIntervalMs_; }
    QTimer* WriteTimer() const { return writeTimer_; }
    // True once reading has ended, whether every slot was read or not.
    bool SlotsRead() const { return slotsRead_; }
    const std::array<QString, kTexts>& Texts() const { return texts_; }

    // Holding register of block b: 128 x (b + 1).
    static std::uint16_t BlockStart(int block);

private:
    void ReadSlots();
    void ShowTexts();
    void TakeTexts();
    void OnOk();
    void OnWriteTick();
    void SetStatus(const QString& text);

    std::array<QString, kTexts> texts_;
    CModbus& master_;
    const CRegisterImage& image_;
    T_SMSSLOT slotBuffer_{};
    std::uint8_t writeStep_ = 0;   // the next block to write
    QTimer* writeTimer_ = nullptr;
    int writeIntervalMs_ = kWriteIntervalMs;
    bool slotsRead_ = false;
    std::array<QLineEdit*, kTexts> edits_{};
    QLabel* status_ = nullptr;
};

#include "tool/ui/sms_edit_dlg.h"

#include "common/dialog_units.h"
#include "common/settings_store.h"
#include "tool/device/register_image.h"
#include "tool/modbus/modbus.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <thread>

namespace {

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kFirstEditId = 1065;   // .. 1075
constexpr int kStatusId = 1076;
constexpr int kDialogFontPoints = 8;

// Template in dialog units: a label and an edit per text, the status line
// and the buttons below them.
constexpr int kWidthUnits = 340;
constexpr int kHeightUnits = 228;
constexpr int kRowTop = 7;
constexpr int kRowStep = 18;
constexpr int kLabelX = 7;
constexpr int kLabelWidth = 96;
constexpr int kEditX = 106;
constexpr int kEditWidth = 227;

// A pause between the reads of two blocks, for the controller's sake.
constexpr std::chrono::milliseconds kReadPause{10};
constexpr std::uint16_t kBlockRegisters = 64;
constexpr std::size_t kHalf = kSmsSlotSize / 2;

const char16_t* const kLabels[CSMSEditDlg::kTexts] = {
    u"Проверка канала связи", u"Напряжение питания", u"Датчик освещенности", u"Датчик температуры 1",
    u"Датчик температуры 2",  u"Датчик 1 (отключение)", u"Датчик 2",         u"Датчик 3 ",
    u"Угол наклона",          u"Снят с охраны",         u"Поставлен на охрану",
};

} // namespace

CSMSEditDlg::CSMSEditDlg(CModbus& master, const CRegisterImage& image, QWidget* parent)
    : QDialog(parent), master_(master), image_(image)
{
    setObjectName(QStringLiteral("smsEditor"));
    setWindowTitle(QStringLiteral("Редактор SMS"));
    QFont dialogFont = font();
    dialogFont.setPointSize(kDialogFontPoints);
    setFont(dialogFont);
    resize(DialogRect(this, 0, 0, kWidthUnits, kHeightUnits).size());

    for (int n = 0; n < kTexts; ++n) {
        const int y = kRowTop + kRowStep * n;
        auto* label = new QLabel(QString::fromUtf16(kLabels[n]), this);
        PlaceControl(label, -1, QByteArray("smsLabel" + QByteArray::number(n)).constData(),
                     QRect(kLabelX, y + 1, kLabelWidth, 12));
        auto* edit = new QLineEdit(this);
        PlaceControl(edit, kFirstEditId + n, QByteArray("smsText" + QByteArray::number(n)).constData(),
                     QRect(kEditX, y, kEditWidth, 13));
        label->setBuddy(edit);
        edit->setMaxLength(kSmsMaxLength);
        edits_[n] = edit;
    }
    const int footer = kRowTop + kRowStep * kTexts + 4;
    status_ = new QLabel(this);
    PlaceControl(status_, kStatusId, "status", QRect(kLabelX, footer + 2, 210, 12));

    auto* ok = new QPushButton(QStringLiteral("ОК"), this);
    PlaceControl(ok, kIdOk, "ok", QRect(kWidthUnits - 122, footer, 54, 16));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), this);
    PlaceControl(cancel, kIdCancel, "cancel", QRect(kWidthUnits - 62, footer, 54, 16));
    connect(ok, &QPushButton::clicked, this, &CSMSEditDlg::OnOk);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    writeTimer_ = new QTimer(this);
    writeTimer_->setObjectName(QStringLiteral("writeTimer"));
    writeTimer_->setSingleShot(true);
    connect(writeTimer_, &QTimer::timeout, this, &CSMSEditDlg::OnWriteTick);
}

std::uint16_t CSMSEditDlg::BlockStart(int block)
{
    return static_cast<std::uint16_t>(2 * kBlockRegisters * (block + 1));
}

int CSMSEditDlg::exec()
{
    // Read inside the editor's own loop, so that a box reporting a failed
    // read belongs to a running editor and anything that closes the editor
    // (Cancel, a stop of the program) also ends it.
    QTimer::singleShot(0, this, &CSMSEditDlg::ReadSlots);
    return QDialog::exec();
}

void CSMSEditDlg::done(int result)
{
    // Blocks not written yet stay as they are in the controller.
    writeTimer_->stop();
    QDialog::done(result);
}

void CSMSEditDlg::ReadSlots()
{
    if (slotsRead_)
        return;
    std::vector<std::uint16_t> values;
    for (int block = 0; block < kBlocks; ++block) {
        const std::uint16_t code = master_.ReadHoldingRegisters(kBlockRegisters, BlockStart(block), values);
        if (code != MB_OK) {
            slotsRead_ = true;
            ShowTexts();
            QMessageBox::warning(this, QString::fromUtf16(Settings::kToolProgram), master_.ErrorMessage(code));
            return;
        }
        const std::size_t half = block % 2 ? kHalf : 0;
        for (std::size_t n = 0; n < kBlockRegisters; ++n) {
            slotBuffer_[half + 2 * n] = static_cast<std::uint8_t>(values[n] >> 8);
            slotBuffer_[half + 2 * n + 1] = static_cast<std::uint8_t>(values[n] & 0xFF);
        }
        if (block % 2)
            texts_[block / 2] = DecodeSmsPdu(slotBuffer_);
        if (block + 1 < kBlocks)
            std::this_thread::sleep_for(kReadPause);
    }
    slotsRead_ = true;
    ShowTexts();
}

void CSMSEditDlg::ShowTexts()
{
    for (int n = 0; n < kTexts; ++n)
        edits_[n]->setText(texts_[n]);
}

void CSMSEditDlg::TakeTexts()
{
    for (int n = 0; n < kTexts; ++n)
        texts_[n] = edits_[n]->text();
}

void CSMSEditDlg::OnOk()
{
    // OK while writing starts again from the first block.
    TakeTexts();
    writeStep_ = 0;
    writeTimer_->start(writeIntervalMs_);
}

void CSMSEditDlg::OnWriteTick()
{
    writeTimer_->stop();
    const int block = writeStep_;
    const std::size_t half = block % 2 ? kHalf : 0;
    if (half == 0) {
        // What follows the PDU's end means nothing; zeros keep it tidy.
        slotBuffer_.fill(0);
        BuildSmsPdu(texts_[block / 2], image_.settings, slotBuffer_);
    }
    std::vector<std::uint16_t> values(kBlockRegisters);
    for (std::size_t i = 0; i < kBlockRegisters; ++i)
        values[i] = static_cast<std::uint16_t>(slotBuffer_[half + 2 * i] << 8 | slotBuffer_[half + 2 * i + 1]);
    const std::uint16_t code = master_.WriteMultipleRegisters(kBlockRegisters, BlockStart(block), values);
    ++writeStep_;
    if (code != MB_OK) {
        SetStatus(QStringLiteral("Строка %1, часть %2. %3").arg(block / 2).arg(block % 2).arg(master_.ErrorMessage(code)));
        return;
    }
    SetStatus(QStringLiteral("Запись строки %1, часть %2.").arg(block / 2).arg(block % 2));
    if (block == kBlocks - 1)
        accept();
    else
        writeTimer_->start(writeIntervalMs_);
}

void CSMSEditDlg::SetStatus(const QString& text)
{
    status_->setText(text);
}

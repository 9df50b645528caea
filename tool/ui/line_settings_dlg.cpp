#include "tool/ui/line_settings_dlg.h"

#include "common/dialog_units.h"
#include "common/serial_device.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace {

constexpr int kDialogFontPoints = 8;
constexpr int kWidthUnits = 170;
constexpr int kHeightUnits = 100;
constexpr int kRowTop = 7;
constexpr int kRowStep = 18;

// Codes as the settings store keeps them, with their names.
struct T_CHOICE
{
    int code;
    const char16_t* text;
};
constexpr T_CHOICE kDataBits[] = {{5, u"5"}, {6, u"6"}, {7, u"7"}, {8, u"8"}};
constexpr T_CHOICE kParities[] = {{0, u"Нет"}, {1, u"Нечёт"}, {2, u"Чёт"}, {3, u"Маркер"}, {4, u"Пробел"}};
constexpr T_CHOICE kStopBits[] = {{0, u"1"}, {1, u"1.5"}, {2, u"2"}};

template <std::size_t N>
void Fill(QComboBox* combo, const T_CHOICE (&choices)[N], int current)
{
    for (const T_CHOICE& c : choices)
        combo->addItem(QString::fromUtf16(c.text), c.code);
    combo->setCurrentIndex(combo->findData(current));
}

// The chosen code, or the one the record holds when nothing is chosen.
template <typename T>
T Chosen(const QComboBox* combo, T held)
{
    return combo->currentIndex() < 0 ? held : static_cast<T>(combo->currentData().toLongLong());
}

} // namespace

CLineSettingsDlg::CLineSettingsDlg(const QString& portName, T_SERIALLINE* record, QWidget* parent)
    : QDialog(parent), record_(record)
{
    setObjectName(QStringLiteral("lineSettings"));
    setWindowTitle(QStringLiteral("Параметры линии: %1").arg(portName));
    QFont dialogFont = font();
    dialogFont.setPointSize(kDialogFontPoints);
    setFont(dialogFont);
    resize(DialogRect(this, 0, 0, kWidthUnits, kHeightUnits).size());

    baudRate_ = AddRow(0, QStringLiteral("Скорость (бит/с):"), "baudRate");
    for (const std::uint32_t rate : SettableBaudRates())
        baudRate_->addItem(QString::number(rate), QVariant::fromValue<qlonglong>(rate));
    baudRate_->setCurrentIndex(baudRate_->findData(QVariant::fromValue<qlonglong>(record->baudRate)));
    dataBits_ = AddRow(1, QStringLiteral("Биты данных:"), "dataBits");
    Fill(dataBits_, kDataBits, record->dataBits);
    parity_ = AddRow(2, QStringLiteral("Чётность:"), "parity");
    Fill(parity_, kParities, record->parity);
    stopBits_ = AddRow(3, QStringLiteral("Стоповые биты:"), "stopBits");
    Fill(stopBits_, kStopBits, record->stopBits);

    auto* ok = new QPushButton(QStringLiteral("ОК"), this);
    PlaceControl(ok, 1, "ok", QRect(kWidthUnits - 122, kHeightUnits - 21, 54, 14));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), this);
    PlaceControl(cancel, 2, "cancel", QRect(kWidthUnits - 62, kHeightUnits - 21, 54, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QComboBox* CLineSettingsDlg::AddRow(int row, const QString& caption, const char* name)
{
    const int y = kRowTop + kRowStep * row;
    auto* label = new QLabel(caption, this);
    PlaceControl(label, -1, QByteArray(name).append("Caption").constData(), QRect(7, y + 2, 80, 10));
    auto* combo = new QComboBox(this);
    PlaceControl(combo, -1, name, QRect(90, y, 73, 14));
    label->setBuddy(combo);
    return combo;
}

void CLineSettingsDlg::accept()
{
    record_->baudRate = Chosen(baudRate_, record_->baudRate);
    record_->dataBits = Chosen(dataBits_, record_->dataBits);
    record_->parity = Chosen(parity_, record_->parity);
    record_->stopBits = Chosen(stopBits_, record_->stopBits);
    QDialog::accept();
}

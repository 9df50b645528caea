#include "tool/ui/new_sensor_dlg.h"

#include "common/dialog_units.h"
#include "common/settings_store.h"
#include "tool/device/device_texts.h"
#include "tool/device/register_image.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

constexpr int kIdSerialText = 1034;
constexpr int kIdNumber = 1066;
constexpr int kDialogFontPoints = 8;
constexpr int kWidthUnits = 205;
constexpr int kHeightUnits = 46;
// Two groups of four hexadecimal digits, upper case; unfilled places show 0.
constexpr char kSerialMask[] = ">HHHH-HHHH;0";
constexpr int kSerialDigits = 8;

CSettingsStore Store()
{
    return CSettingsStore(QString::fromUtf16(Settings::kToolProgram));
}

QString Section()
{
    return QString::fromUtf16(Settings::kSettingSection);
}

QString LastSerial()
{
    return QString::fromUtf16(Settings::kLastSerial);
}

std::uint32_t Serial(const CRegisterImage& image)
{
    return std::uint32_t{image.settings.serialNumber[0].Get()} << 16 | image.settings.serialNumber[1].Get();
}

} // namespace

CNewSensorDlg::CNewSensorDlg(CRegisterImage& image, QWidget* parent) : QDialog(parent), image_(image)
{
    setObjectName(QStringLiteral("newSensor"));
    setWindowTitle(QStringLiteral("Новая схема"));
    QFont dialogFont = font();
    dialogFont.setPointSize(kDialogFontPoints);
    setFont(dialogFont);
    resize(DialogRect(this, 0, 0, kWidthUnits, kHeightUnits).size());

    auto* serialText = new QLabel(QStringLiteral("Датчик не подключен"), this);
    PlaceControl(serialText, kIdSerialText, "serialText", QRect(7, 7, 80, 32));
    serialText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* caption = new QLabel(QStringLiteral("Новый номер"), this);
    PlaceControl(caption, -1, "numberCaption", QRect(92, 7, 50, 9));
    number_ = new QLineEdit(this);
    PlaceControl(number_, kIdNumber, "number", QRect(92, 18, 50, 14));
    number_->setInputMask(QLatin1StringView(kSerialMask));
    caption->setBuddy(number_);

    auto* ok = new QPushButton(QStringLiteral("ОК"), this);
    PlaceControl(ok, 1, "ok", QRect(146, 7, 54, 14));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), this);
    PlaceControl(cancel, 2, "cancel", QRect(146, 25, 54, 14));
    connect(ok, &QPushButton::clicked, this, &CNewSensorDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CNewSensorDlg::reject);

    serialText->setText(FormatSerial(image_));
    // One past the last number issued, unless the controller already
    // carries a larger one.
    proposal_ = Store().GetUInt(Section(), LastSerial(), 0) + 1;
    if (Serial(image_) > proposal_)
        proposal_ = Serial(image_);
    number_->setText(SerialNumberText(proposal_));
}

std::uint32_t CNewSensorDlg::ReadSerial(const QString& shown)
{
    std::uint32_t serial = 0;
    int digits = 0;
    for (const QChar c : shown) {
        if (digits == kSerialDigits)
            break;
        if (c == u'-')
            continue;
        int value = 0;
        if (c >= u'0' && c <= u'9')
            value = c.unicode() - u'0';
        else if (c >= u'A' && c <= u'F')
            value = c.unicode() - u'A' + 10;
        else if (c >= u'a' && c <= u'f')
            value = c.unicode() - u'a' + 10;
        serial = serial << 4 | static_cast<std::uint32_t>(value);
        ++digits;
    }
    return serial;
}

void CNewSensorDlg::accept()
{
    newSerial_ = ReadSerial(number_->displayText());
    // "Last serial" moves before the number is written: a number lost to a
    // failed write costs nothing, one issued twice would name two controllers.
    CSettingsStore store = Store();
    if (newSerial_ > store.GetUInt(Section(), LastSerial(), 1))
        store.WriteString(Section(), LastSerial(), QString::number(newSerial_));
    image_.settings.serialNumber[0].Set(static_cast<std::uint16_t>(newSerial_ >> 16));
    image_.settings.serialNumber[1].Set(static_cast<std::uint16_t>(newSerial_ & 0xFFFF));
    QDialog::accept();
}

#include "tool/ui/rs232_setup_dlg.h"

#include "common/dialog_units.h"
#include "common/settings_store.h"
#include "tool/modbus/port_list.h"
#include "tool/ui/image_button.h"
#include "tool/ui/line_settings_dlg.h"

#include <QComboBox>
#include <QLabel>

namespace {

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdPortList = 15010;
constexpr int kIdLineSetup = 15011;
constexpr int kDialogFontPoints = 8;
// Wider than the 159 units of the original template: the pictures and
// captions of the three buttons need more room in this toolkit's style.
constexpr int kWidthUnits = 214;
constexpr int kHeightUnits = 71;
constexpr QSize kLargePicture{32, 32};

CSettingsStore Store()
{
    return CSettingsStore(QString::fromUtf16(Settings::kToolProgram));
}

QString Rs232(const char16_t* value)
{
    return QString::fromUtf16(value);
}

} // namespace

CRS232SetupDlg::CRS232SetupDlg(QWidget* parent, const QStringList& devicePatterns) : QDialog(parent)
{
    setObjectName(QStringLiteral("rs232Setup"));
    setWindowTitle(QStringLiteral("Установки порта"));
    QFont dialogFont = font();
    dialogFont.setPointSize(kDialogFontPoints);
    setFont(dialogFont);
    resize(DialogRect(this, 0, 0, kWidthUnits, kHeightUnits).size());
    QPalette look = palette();
    look.setBrush(QPalette::Window, QBrush(QPixmap(QStringLiteral(":/tool/background.svg"))));
    setPalette(look);
    setAutoFillBackground(true);

    auto* caption = new QLabel(QStringLiteral("Выбор порта"), this);
    PlaceControl(caption, -1, "portCaption", QRect(6, 4, 100, 9));
    ports_ = new QComboBox(this);
    PlaceControl(ports_, kIdPortList, "ports", QRect(6, 14, kWidthUnits - 12, 14));
    // A device path is longer than the list is wide: the drop-down shows it whole.
    ports_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    caption->setBuddy(ports_);

    auto* lineSetup = new CImageButton(QStringLiteral("RS232 SETUP"), QStringLiteral(":/tool/buttons/rs232_setup.svg"),
                                       QStringLiteral(":/tool/buttons/rs232_setup_hot.svg"), this, kLargePicture);
    PlaceControl(lineSetup, kIdLineSetup, "lineSetup", QRect(4, 33, 84, 32));
    auto* ok = new CImageButton(QStringLiteral("ОК"), QStringLiteral(":/tool/buttons/ok.svg"),
                                QStringLiteral(":/tool/buttons/ok_hot.svg"), this, kLargePicture);
    PlaceControl(ok, kIdOk, "ok", QRect(92, 33, 56, 32));
    auto* cancel = new CImageButton(QStringLiteral("Отмена"), QStringLiteral(":/tool/buttons/cancel.svg"),
                                    QStringLiteral(":/tool/buttons/cancel_hot.svg"), this);
    PlaceControl(cancel, kIdCancel, "cancel", QRect(152, 33, 58, 32));
    for (QPushButton* button : {static_cast<QPushButton*>(lineSetup), static_cast<QPushButton*>(ok),
                                static_cast<QPushButton*>(cancel)})
        button->setAutoDefault(false);
    ok->setDefault(true);
    connect(lineSetup, &QPushButton::clicked, this, &CRS232SetupDlg::OnLineSettings);
    connect(ok, &QPushButton::clicked, this, &CRS232SetupDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CRS232SetupDlg::reject);

    LoadSettings();
    FillList(devicePatterns);
    connect(ports_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            portName_ = ports_->itemText(index);
    });
}

QStringList CRS232SetupDlg::DefaultPatterns()
{
    return DefaultDevicePatterns();
}

void CRS232SetupDlg::LoadSettings()
{
    const CSettingsStore store = Store();
    const QString section = Rs232(Settings::kRs232Section);
    portName_ = store.GetString(section, Rs232(Settings::kRs232Port), Rs232(Settings::kDefaultRs232Port));
    line_ = T_SERIALLINE{};
    line_.baudRate = static_cast<std::uint32_t>(
        store.GetInt(section, Rs232(Settings::kRs232Baudrate), Settings::kDefaultRs232Baudrate));
    line_.dataBits = static_cast<std::uint8_t>(
        store.GetInt(section, Rs232(Settings::kRs232Size), Settings::kDefaultRs232Size));
    line_.stopBits = static_cast<std::uint8_t>(
        store.GetInt(section, Rs232(Settings::kRs232Stop), Settings::kDefaultRs232Stop));
    line_.parity = static_cast<std::uint8_t>(
        store.GetInt(section, Rs232(Settings::kRs232Parity), Settings::kDefaultRs232Parity));
    line_.flowControl = 0;
}

void CRS232SetupDlg::FillList(const QStringList& devicePatterns)
{
    ports_->clear();
    ports_->addItems(ListOpenablePorts(Store(), devicePatterns));
    if (ports_->count() == 0) {
        ports_->setPlaceholderText(QStringLiteral("Последовательный порт не найден"));
        ports_->setCurrentIndex(-1);
        return;
    }

    // The entry named exactly as stored; otherwise the first whose name
    // begins with the stored name, ignoring case, looked for from the second
    // entry on and then the first; otherwise the first entry. (The exact
    // name comes first because device paths may begin with one another:
    // /dev/ttyUSB1 and /dev/ttyUSB10.)
    int selected = ports_->findText(portName_, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (selected < 0 && !portName_.isEmpty()) {
        for (int step = 1; step <= ports_->count() && selected < 0; ++step) {
            const int index = step % ports_->count();
            if (ports_->itemText(index).startsWith(portName_, Qt::CaseInsensitive))
                selected = index;
        }
    }
    if (selected < 0)
        selected = 0;
    ports_->setCurrentIndex(selected);
    portName_ = ports_->itemText(selected);
}

void CRS232SetupDlg::OnLineSettings()
{
    CLineSettingsDlg editor(portName_, &line_, this);
    editor.exec();
}

void CRS232SetupDlg::accept()
{
    // With no port to name, nothing is stored: the settings keep leading
    // where they led.
    if (ports_->count() == 0) {
        reject();
        return;
    }
    CSettingsStore store = Store();
    const QString section = Rs232(Settings::kRs232Section);
    store.WriteString(section, Rs232(Settings::kRs232Port), portName_);
    store.WriteInt(section, Rs232(Settings::kRs232Baudrate), static_cast<int>(line_.baudRate));
    store.WriteInt(section, Rs232(Settings::kRs232Size), line_.dataBits);
    store.WriteInt(section, Rs232(Settings::kRs232Stop), line_.stopBits);
    store.WriteInt(section, Rs232(Settings::kRs232Parity), line_.parity);
    QDialog::accept();
}

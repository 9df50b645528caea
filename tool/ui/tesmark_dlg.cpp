#include "tool/ui/tesmark_dlg.h"

#include "common/dialog_units.h"
#include "common/settings_store.h"
#include "tool/device/control_ids.h"
#include "tool/device/device_texts.h"
#include "tool/ui/about_dlg.h"
#include "tool/ui/image_button.h"
#include "tool/ui/ip_address_edit.h"
#include "tool/ui/new_sensor_dlg.h"
#include "tool/ui/password_dlg.h"
#include "tool/ui/pro_slider_ctrl.h"
#include "tool/ui/rs232_setup_dlg.h"
#include "tool/ui/sms_edit_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QRegularExpressionValidator>
#include <QTimer>

#include <array>
#include <utility>

namespace {

// The window in dialog units.
constexpr int kWidthUnits = 607;
constexpr int kHeightUnits = 359;
constexpr int kDialogFontPoints = 8;
// Bold font: "Arial" of 20 pixels cell height.
constexpr int kBoldPixelSize = 17;
constexpr QSize kPictureSize{16, 16};

constexpr char kPhoneMask[] = "+7(999)999-99-99;_";
// Places of the ten digits in "+7(___)___-__-__".
constexpr std::array<int, 10> kPhoneDigitPlaces = {3, 4, 5, 7, 8, 9, 11, 12, 14, 15};
constexpr std::uint32_t kMaxPort = 65535;
constexpr int kPortDigits = 5;

// The sensor groups stand side by side, left to right: three tilt groups,
// two temperature groups and the light group, all of one height.
constexpr int kGroupTop = 78;
constexpr int kGroupHeight = 274;
constexpr std::array<int, 3> kTiltGroupX = {6, 64, 122};
constexpr int kTiltGroupWidth = 54;
constexpr std::array<int, 2> kTemperatureGroupX = {180, 254};
constexpr int kTemperatureGroupWidth = 70;
constexpr int kLightGroupX = 328;
constexpr int kLightGroupWidth = 42;
constexpr int kTiltSliderHeight = 216;   // also the light slider
constexpr int kTemperatureSliderHeight = 192;
// The rows of the "Сирена" and "GPRS" boxes at the foot of each group.
constexpr int kBoxRow1 = kGroupTop + 234;
constexpr int kBoxRow2 = kGroupTop + 250;
constexpr int kKeySlots = 16;

// The master while the SMS editor is open: a longer drain limit and five
// attempts per block.
constexpr std::uint32_t kSmsResponseTimeoutMs = 1000;
constexpr std::uint16_t kSmsAttempts = 5;

// A coupled slider pair: the left slider holds the lower limit, the right
// one the upper limit, and the left position stays at least gap above the
// right one (the lower limit at least gap below the upper one).
struct T_SLIDERPAIR
{
    int left;
    int right;
    int gap;
    int minimum;
    int maximum;
};
constexpr int kTiltGap = 100;
constexpr int kTemperatureGap = 200;
constexpr std::array<T_SLIDERPAIR, 5> kPairs = {{
    {IDC_TILT1_LOWER, IDC_TILT1_UPPER, kTiltGap, kTiltMin, kTiltMax},
    {IDC_TILT2_LOWER, IDC_TILT2_UPPER, kTiltGap, kTiltMin, kTiltMax},
    {IDC_TILT3_LOWER, IDC_TILT3_UPPER, kTiltGap, kTiltMin, kTiltMax},
    {IDC_TEMP1_LOWER, IDC_TEMP1_UPPER, kTemperatureGap, kTemperatureMin, kTemperatureMax},
    {IDC_TEMP2_LOWER, IDC_TEMP2_UPPER, kTemperatureGap, kTemperatureMin, kTemperatureMax},
}};

QString ToolName()
{
    return QString::fromUtf16(Settings::kToolProgram);
}

QString CheckBoxStyle(const char* unchecked, const char* checked)
{
    return QStringLiteral("QCheckBox { background: transparent; }"
                          "QCheckBox::indicator { width: 16px; height: 16px; }"
                          "QCheckBox::indicator:unchecked { image: url(%1); }"
                          "QCheckBox::indicator:checked { image: url(%2); }")
        .arg(QLatin1StringView(unchecked), QLatin1StringView(checked));
}

} // namespace

CTesmarkDlg::CTesmarkDlg(QWidget* parent)
    : QDialog(parent),
      device_(*this),
      smsWriteIntervalMs_(CSMSEditDlg::kWriteIntervalMs),
      devicePatterns_(CRS232SetupDlg::DefaultPatterns())
{
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Alarm system setting"));
    setWindowIcon(QIcon(QStringLiteral(":/tool/app_icon.svg")));
    QFont dialogFont = font();
    dialogFont.setPointSize(kDialogFontPoints);
    setFont(dialogFont);
    resize(DialogRect(this, 0, 0, kWidthUnits, kHeightUnits).size());

    // The pale circuit board, tiled over the whole window.
    QPalette look = palette();
    look.setBrush(QPalette::Window, QBrush(QPixmap(QStringLiteral(":/tool/background.svg"))));
    setPalette(look);
    setAutoFillBackground(true);

    upPicture_ = QIcon(QStringLiteral(":/tool/pictures/up.svg")).pixmap(kPictureSize);
    downPicture_ = QIcon(QStringLiteral(":/tool/pictures/down.svg")).pixmap(kPictureSize);
    boldFont_ = QFont(QStringLiteral("Arial"));
    boldFont_.setPixelSize(kBoldPixelSize);
    boldFont_.setBold(true);

    pollTimer_ = new QTimer(this);
    pollTimer_->setObjectName(QStringLiteral("pollTimer"));
    connect(pollTimer_, &QTimer::timeout, this, [this] { device_.PollStatus(); });

    CreateControls();
    for (int id : kStatePictures)
        SetStatePicture(id, false);
    device_.ShowDisconnected();
    for (int id : {IDC_SERVER_PHONE, IDC_SMS_PHONE})
        SetText(id, QStringLiteral("+7(910)000-00-00"));
    if (device_.OpenPort())
        StartPoll(CTesmarkDevice::kSlowPollMs);
}

CTesmarkDlg::~CTesmarkDlg()
{
    pollTimer_->stop();
    device_.ClosePort();
}

void CTesmarkDlg::CreateControls()
{
    CreateConnectionRow();
    CreateTiltGroups();
    CreateTemperatureGroups();
    CreateLightGroup();
    CreateSensorGroups();
    CreateKeyColumn();
}

// The top of the window: the status text, the phones, the server's address
// and port, power control and the push buttons.
void CTesmarkDlg::CreateConnectionRow()
{
    auto* status = AddLabel(IDC_STATUS, "status", QStringLiteral("Запрос ..."), QRect(7, 4, 170, 28));
    status->setFont(boldFont_);

    auto* sendSms = new QPushButton(QStringLiteral("Отправка SMS"), this);
    PlaceControl(sendSms, IDC_SEND_SMS, "sendSms", QRect(7, 36, 66, 16));
    // Enter is the window's own key (see keyPressEvent), never a default button's.
    sendSms->setAutoDefault(false);
    connect(sendSms, &QPushButton::clicked, this, &CTesmarkDlg::OnSendSms);
    AddPhoneEdit(IDC_SMS_PHONE, "smsPhone", QRect(78, 36, 112, 16));
    AddCheckBox(IDC_POWER, "powerControl", QStringLiteral("Контроль питания"), QRect(198, 38, 100, 12));
    AddLabel(-1, "serverCaption", QStringLiteral("Сервер"), QRect(7, 56, 66, 16));
    AddPhoneEdit(IDC_SERVER_PHONE, "serverPhone", QRect(78, 56, 112, 16));

    serverAddressEdit_ = new CIpAddressEdit(this);
    PlaceControl(serverAddressEdit_, IDC_SERVER_IP, "serverAddress", QRect(198, 56, 96, 16));
    serverAddressEdit_->setFont(boldFont_);
    serverPortEdit_ = new QLineEdit(this);
    PlaceControl(serverPortEdit_, IDC_SERVER_PORT, "serverPort", QRect(298, 56, 44, 16));
    serverPortEdit_->setFont(boldFont_);
    serverPortEdit_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    serverPortEdit_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(kPortDigits)), this));
    ShowServer(0, 0);

    struct T_BUTTON
    {
        int id;
        const char* name;
        QString text;
        const char* picture;
        const char* hotPicture;
        QRect units;
    };
    const T_BUTTON buttons[] = {
        {IDC_WRITE, "write", QStringLiteral("Запись"), ":/tool/buttons/write.svg", ":/tool/buttons/write_hot.svg",
         QRect(372, 6, 110, 22)},
        {IDC_PORT, "port", QStringLiteral("Порт"), ":/tool/buttons/port.svg", ":/tool/buttons/port_hot.svg",
         QRect(488, 6, 112, 22)},
        {IDC_CLEAR_KEYS, "clearKeys", QStringLiteral("Удалить ключи"), ":/tool/buttons/clear_keys.svg",
         ":/tool/buttons/clear_keys_hot.svg", QRect(372, 32, 110, 22)},
        {IDCANCEL, "cancel", QStringLiteral("Отмена"), ":/tool/buttons/cancel.svg", ":/tool/buttons/cancel_hot.svg",
         QRect(488, 32, 112, 22)},
    };
    std::map<int, QPushButton*> pushButtons;
    for (const T_BUTTON& b : buttons) {
        auto* button = new CImageButton(b.text, QLatin1StringView(b.picture), QLatin1StringView(b.hotPicture), this);
        PlaceControl(button, b.id, b.name, b.units);
        button->setAutoDefault(false);
        pushButtons[b.id] = button;
    }
    connect(pushButtons[IDC_WRITE], &QPushButton::clicked, this, &CTesmarkDlg::OnWrite);
    connect(pushButtons[IDC_PORT], &QPushButton::clicked, this, [this] { OnPort(); });
    connect(pushButtons[IDC_CLEAR_KEYS], &QPushButton::clicked, this, [this] { device_.ClearKeys(); });
    connect(pushButtons[IDCANCEL], &QPushButton::clicked, this, &QDialog::reject);
}

QGroupBox* CTesmarkDlg::AddGroupBox(const char* name, const QString& title, const QRect& units)
{
    auto* box = new QGroupBox(title, this);
    PlaceControl(box, -1, name, units);
    // Behind the controls it frames.
    box->lower();
    return box;
}

// "Угол 1" .. "Угол 3": two sliders side by side (lower limit left) with
// the "Сирена" and "GPRS" boxes below.
void CTesmarkDlg::CreateTiltGroups()
{
    struct T_TILT
    {
        const char* names[5];
    };
    const T_TILT axes[] = {
        {{"angle1Group", "angle1Lower", "angle1Upper", "angle1Siren", "angle1Gprs"}},
        {{"angle2Group", "angle2Lower", "angle2Upper", "angle2Siren", "angle2Gprs"}},
        {{"angle3Group", "angle3Lower", "angle3Upper", "angle3Siren", "angle3Gprs"}},
    };
    for (int axis = 0; axis < 3; ++axis) {
        const int x = kTiltGroupX[axis];
        const T_TILT& t = axes[axis];
        AddGroupBox(t.names[0], QStringLiteral("Угол %1").arg(axis + 1),
                    QRect(x, kGroupTop, kTiltGroupWidth, kGroupHeight));
        AddSlider(IDC_TILT1_LOWER + 2 * axis, t.names[1], x + 7, kGroupTop + 12, kTiltSliderHeight, kTiltMin, kTiltMax);
        AddSlider(IDC_TILT1_UPPER + 2 * axis, t.names[2], x + 29, kGroupTop + 12, kTiltSliderHeight, kTiltMin, kTiltMax);
        AddCheckBox(kSirenBoxes[axis], t.names[3], QStringLiteral("Сирена"), QRect(x + 4, kBoxRow1, 50, 12));
        AddCheckBox(kGprsBoxes[axis], t.names[4], QStringLiteral("GPRS"), QRect(x + 4, kBoxRow2, 50, 12));
    }
}

// "Температура 1" and "Температура 2": the live reading above two sliders,
// the texts of both limits below them, then the "Сирена" and "GPRS" boxes.
void CTesmarkDlg::CreateTemperatureGroups()
{
    struct T_TEMPERATURE
    {
        int lower, upper, text, upperText, lowerText;
        const char* names[8];
    };
    const T_TEMPERATURE temperatures[] = {
        {IDC_TEMP1_LOWER, IDC_TEMP1_UPPER, IDC_TEMP1_TEXT, IDC_TEMP1_UPPER_TEXT, IDC_TEMP1_LOWER_TEXT,
         {"temperature1Group", "temperature1Lower", "temperature1Upper", "temperature1", "temperature1UpperText",
          "temperature1LowerText", "temperature1Siren", "temperature1Gprs"}},
        {IDC_TEMP2_LOWER, IDC_TEMP2_UPPER, IDC_TEMP2_TEXT, IDC_TEMP2_UPPER_TEXT, IDC_TEMP2_LOWER_TEXT,
         {"temperature2Group", "temperature2Lower", "temperature2Upper", "temperature2", "temperature2UpperText",
          "temperature2LowerText", "temperature2Siren", "temperature2Gprs"}},
    };
    const QString initialTemperature = QStringLiteral("23.3 °C");
    for (int n = 0; n < 2; ++n) {
        const T_TEMPERATURE& t = temperatures[n];
        const int x = kTemperatureGroupX[n];
        AddGroupBox(t.names[0], QStringLiteral("Температура %1").arg(n + 1),
                    QRect(x, kGroupTop, kTemperatureGroupWidth, kGroupHeight));
        AddLabel(t.text, t.names[3], initialTemperature, QRect(x + 2, kGroupTop + 11, 66, 10), Qt::AlignCenter);
        AddSlider(t.lower, t.names[1], x + 12, kGroupTop + 23, kTemperatureSliderHeight, kTemperatureMin,
                  kTemperatureMax);
        AddSlider(t.upper, t.names[2], x + 40, kGroupTop + 23, kTemperatureSliderHeight, kTemperatureMin,
                  kTemperatureMax);
        AddLabel(t.lowerText, t.names[5], initialTemperature, QRect(x + 1, kGroupTop + 217, 34, 10), Qt::AlignCenter);
        AddLabel(t.upperText, t.names[4], initialTemperature, QRect(x + 35, kGroupTop + 217, 34, 10), Qt::AlignCenter);
        AddCheckBox(kSirenBoxes[3 + n], t.names[6], QStringLiteral("Сирена"), QRect(x + 4, kBoxRow1, 60, 12));
        AddCheckBox(kGprsBoxes[3 + n], t.names[7], QStringLiteral("GPRS"), QRect(x + 4, kBoxRow2, 60, 12));
    }
}

// "Свет": one slider and its "GPRS" box.
void CTesmarkDlg::CreateLightGroup()
{
    AddGroupBox("lightGroup", QStringLiteral("Свет"), QRect(kLightGroupX, kGroupTop, kLightGroupWidth, kGroupHeight));
    AddSlider(IDC_LIGHT, "light", kLightGroupX + 12, kGroupTop + 12, kTiltSliderHeight, kLightMin, kLightMax);
    AddCheckBox(kGprsBoxes[9], "lightGprs", QStringLiteral("GPRS"), QRect(kLightGroupX + 3, kBoxRow2, 38, 12));
}

// "Датчик 1" .. "Датчик 3", one above the other right of "Свет": the state
// picture, the polarity, "Сирена" and "GPRS".
void CTesmarkDlg::CreateSensorGroups()
{
    constexpr int kSensorX = 374;
    constexpr int kSensorWidth = 78;
    constexpr int kSensorHeight = 80;
    constexpr int kSensorSpacing = 6;
    const char* sensorNames[][6] = {
        {"sensor1Group", "sensor1State", "sensor1Polarity", "sensor1Siren", "sensor1Gprs", "sensor1StateCaption"},
        {"sensor2Group", "sensor2State", "sensor2Polarity", "sensor2Siren", "sensor2Gprs", "sensor2StateCaption"},
        {"sensor3Group", "sensor3State", "sensor3Polarity", "sensor3Siren", "sensor3Gprs", "sensor3StateCaption"},
    };
    for (int n = 0; n < 3; ++n) {
        const int y = kGroupTop + n * (kSensorHeight + kSensorSpacing);
        AddGroupBox(sensorNames[n][0], QStringLiteral("Датчик %1").arg(n + 1),
                    QRect(kSensorX, y, kSensorWidth, kSensorHeight));
        AddLabel(-1, sensorNames[n][5], QStringLiteral("Состояние"), QRect(kSensorX + 6, y + 12, 48, 12));
        AddLabel(kStatePictures[n], sensorNames[n][1], QString(), QRect(kSensorX + 56, y + 12, 16, 12), Qt::AlignCenter);
        AddCheckBox(kPolarityBoxes[n], sensorNames[n][2], QStringLiteral("Полярность"),
                    QRect(kSensorX + 6, y + 27, 70, 12), true);
        AddCheckBox(kSirenBoxes[5 + n], sensorNames[n][3], QStringLiteral("Сирена"), QRect(kSensorX + 6, y + 42, 70, 12));
        AddCheckBox(kGprsBoxes[5 + n], sensorNames[n][4], QStringLiteral("GPRS"), QRect(kSensorX + 6, y + 57, 70, 12));
    }
}

// The key slots in a column at the right edge, "Ключ запомнить" under them,
// and the key last presented at the bottom.
void CTesmarkDlg::CreateKeyColumn()
{
    for (int slot = 0; slot < kKeySlots; ++slot) {
        const QByteArray name = "key" + QByteArray::number(slot + 1);
        AddLabel(IDC_KEY1 + slot, name.constData(),
                 QStringLiteral("Ключ %1: FFFF - FFFF - FFFF - FF - FF").arg(slot + 1),
                 QRect(456, 80 + 11 * slot, 144, 10), Qt::AlignRight | Qt::AlignVCenter);
    }
    // "Ключ 16" is the one label that reports double-clicks.
    labels_.at(IDC_KEY16)->installEventFilter(this);
    auto* rememberKey = new QPushButton(QStringLiteral("Ключ запомнить"), this);
    rememberKey->setCursor(Qt::PointingHandCursor);
    PlaceControl(rememberKey, IDC_REMEMBER_KEY, "rememberKey", QRect(516, 262, 84, 16));
    rememberKey->setAutoDefault(false);
    connect(rememberKey, &QPushButton::clicked, this, [this] { device_.RememberKey(); });

    auto* lastKey = AddLabel(IDC_LAST_KEY, "lastKey", QStringLiteral("Ключ: FFFF - FFFF - FFFF - FF - FF"),
                             QRect(374, 334, 226, 16), Qt::AlignRight | Qt::AlignVCenter);
    lastKey->setFont(boldFont_);
}

CProSliderCtrl* CTesmarkDlg::AddSlider(int id, const char* name, int x, int y, int height, int minimum, int maximum)
{
    auto* slider = new CProSliderCtrl(this);
    PlaceControl(slider, id, name, QRect(x, y, 18, height));
    slider->setRange(minimum, maximum);
    slider->setPageStep((maximum - minimum) / 5);
    slider->SetRangeCopy(minimum, maximum);
    sliders_[id] = slider;
    connect(slider, &QAbstractSlider::actionTriggered, this, [this, slider] { OnScroll(slider); });
    connect(slider, &QAbstractSlider::sliderReleased, this, [this, slider] { OnScroll(slider); });
    return slider;
}

QCheckBox* CTesmarkDlg::AddCheckBox(int id, const char* name, const QString& text, const QRect& units, bool polarity)
{
    auto* box = new QCheckBox(text, this);
    PlaceControl(box, id, name, units);
    box->setStyleSheet(polarity ? CheckBoxStyle(":/tool/pictures/down.svg", ":/tool/pictures/up.svg")
                                : CheckBoxStyle(":/tool/pictures/unchecked.svg", ":/tool/pictures/checked.svg"));
    box->setCursor(Qt::PointingHandCursor);
    checkBoxes_[id] = box;
    return box;
}

QLabel* CTesmarkDlg::AddLabel(int id, const char* name, const QString& text, const QRect& units, Qt::Alignment alignment)
{
    auto* label = new QLabel(text, this);
    PlaceControl(label, id, name, units);
    label->setAlignment(alignment);
    if (id > 0)
        labels_[id] = label;
    return label;
}

QLineEdit* CTesmarkDlg::AddPhoneEdit(int id, const char* name, const QRect& units)
{
    auto* edit = new QLineEdit(this);
    PlaceControl(edit, id, name, units);
    edit->setInputMask(QLatin1StringView(kPhoneMask));
    edit->setFont(boldFont_);
    phoneEdits_[id] = edit;
    return edit;
}

void CTesmarkDlg::OnScroll(CProSliderCtrl* slider)
{
    const int id = slider->property("controlId").toInt();
    for (const T_SLIDERPAIR& pair : kPairs) {
        if (id != pair.left && id != pair.right)
            continue;
        CProSliderCtrl* left = sliders_.at(pair.left);
        CProSliderCtrl* right = sliders_.at(pair.right);
        const int pL = left->sliderPosition();
        const int pU = right->sliderPosition();
        if (pL - pU < pair.gap) {
            if (id == pair.left) {
                if (pL < pair.minimum + pair.gap) {
                    left->setValue(pair.minimum + pair.gap);
                    right->setValue(pair.minimum);
                } else {
                    right->setValue(pL - pair.gap);
                }
            } else {
                if (pU > pair.maximum - pair.gap) {
                    right->setValue(pair.maximum - pair.gap);
                    left->setValue(pair.maximum);
                } else {
                    left->setValue(pU + pair.gap);
                }
            }
        }
        if (pair.gap == kTemperatureGap)
            device_.ShowTemperatureLimits(id);
    }
}

void CTesmarkDlg::OnWrite()
{
    if (device_.WriteSettings().refused)
        ReportWriteRefused();
}

void CTesmarkDlg::OnPort()
{
    StopPoll();
    // When the port does not close, the dialog is skipped: it could not
    // list the port, and the port opens again with the stored settings.
    if (device_.ClosePort()) {
        CRS232SetupDlg dialog(this, devicePatterns_);
        dialog.exec();
    }
    if (closing_)
        return;
    if (device_.OpenPort()) {
        device_.blinkFlag = false;
        device_.settingsLoaded = false;
        StartPoll(CTesmarkDevice::kSlowPollMs);
    }
}

void CTesmarkDlg::OnSendSms()
{
    StopPoll();
    QMessageBox question(QMessageBox::NoIcon, ToolName(),
                         QStringLiteral("Перед редакцией сообщений необходимо установить правильно телефонный номер"),
                         QMessageBox::Ok | QMessageBox::Cancel, this);
    if (question.exec() == QMessageBox::Ok && !closing_) {
        // The port is not reopened: the longer time-out lengthens only the
        // wait for a written block to leave the line.
        CLocalModbus& master = device_.master;
        master.responseTimeout = kSmsResponseTimeoutMs;
        master.attempts = kSmsAttempts;
        {
            CSMSEditDlg editor(master, device_.image, this);
            editor.SetWriteInterval(smsWriteIntervalMs_);
            editor.exec();
        }
        master.responseTimeout = kToolResponseTimeoutMs;
        master.attempts = kToolAttempts;
    }
    StartPoll(CTesmarkDevice::kSlowPollMs);
}

void CTesmarkDlg::OnSerialChange()
{
    // The poll goes on during both dialogs; WriteSettings stops and
    // restarts it.
    CPasswordDlg password(this);
    if (password.exec() != QDialog::Accepted || closing_)
        return;
    CNewSensorDlg newSensor(device_.image, this);
    if (newSensor.exec() != QDialog::Accepted || closing_)
        return;
    const QString serial = SerialNumberText(newSensor.NewSerial());
    const T_WRITERESULT result = device_.WriteSettings();
    if (result.Written())
        return;
    // The number is spent ("Last serial" has moved on): the installer needs
    // to know it did not reach the controller.
    if (result.refused)
        ShowMessage(QStringLiteral("Серийный номер %1 не записан: настройки устройства ещё не прочитаны.\n"
                                   "Дождитесь, когда появится серийный номер устройства, и повторите смену номера.")
                        .arg(serial));
    else
        ShowMessage(QStringLiteral("Серийный номер %1 не записан: %2.\n"
                                   "Проверьте подключение устройства и повторите смену номера.")
                        .arg(serial, device_.master.ErrorMessage(result.code)));
}

void CTesmarkDlg::OnAbout()
{
    CAboutDlg about(this);
    about.exec();
}

int CTesmarkDlg::Position(int id) const
{
    return sliders_.at(id)->sliderPosition();
}

void CTesmarkDlg::SetPosition(int id, int position)
{
    sliders_.at(id)->setValue(position);
}

void CTesmarkDlg::SetCurrentValue(int id, int value)
{
    sliders_.at(id)->SetCurrentValue(value);
}

bool CTesmarkDlg::Checked(int id) const
{
    return checkBoxes_.at(id)->isChecked();
}

void CTesmarkDlg::SetChecked(int id, bool checked)
{
    checkBoxes_.at(id)->setChecked(checked);
}

void CTesmarkDlg::SetText(int id, const QString& text)
{
    if (const auto edit = phoneEdits_.find(id); edit != phoneEdits_.end())
        edit->second->setText(text);
    else
        labels_.at(id)->setText(text);
}

void CTesmarkDlg::SetStatePicture(int id, bool up)
{
    labels_.at(id)->setPixmap(up ? upPicture_ : downPicture_);
}

QString CTesmarkDlg::PhoneDigits(int id) const
{
    const QString shown = phoneEdits_.at(id)->displayText();
    QString digits;
    for (int place : kPhoneDigitPlaces)
        digits += place < shown.size() ? shown.at(place) : QLatin1Char('_');
    return digits;
}

void CTesmarkDlg::ShowServer(std::uint32_t address, std::uint32_t port)
{
    serverAddressEdit_->SetAddress(address);
    serverPortEdit_->setText(QString::number(port));
}

bool CTesmarkDlg::TakeServer(std::uint32_t* address, std::uint32_t* port)
{
    *address = serverAddressEdit_->Address();
    bool ok = false;
    const unsigned value = serverPortEdit_->text().toUInt(&ok);
    if (!ok) {
        ShowMessage(QStringLiteral("Введите положительное целое число."));
        return false;
    }
    // The controller keeps the port in 16 bits: a larger number would arrive
    // there cut short.
    if (value > kMaxPort) {
        ShowMessage(QStringLiteral("Введите целое число от 0 до 65535."));
        return false;
    }
    *port = value;
    return true;
}

void CTesmarkDlg::StartPoll(int periodMs)
{
    if (closing_)
        return;
    pollTimer_->start(periodMs);
}

void CTesmarkDlg::StopPoll()
{
    pollTimer_->stop();
}

bool CTesmarkDlg::ConfirmClearKeys()
{
    QMessageBox question(QMessageBox::Critical, ToolName(), QStringLiteral("Вы уверены, что хотите удалить все ключи"),
                         QMessageBox::Yes | QMessageBox::No, this);
    return question.exec() == QMessageBox::Yes;
}

void CTesmarkDlg::ReportPortRefused(const QString& text)
{
    // Not over a window that is not there yet: the report waits for it.
    if (!isVisible()) {
        pendingPortReport_ = text;
        return;
    }
    ShowMessage(text);
}

void CTesmarkDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (pendingPortReport_.isEmpty())
        return;
    QTimer::singleShot(0, this, [this] {
        const QString text = std::exchange(pendingPortReport_, QString());
        if (!text.isEmpty() && !closing_)
            ShowMessage(text);
    });
}

void CTesmarkDlg::ReportWriteRefused()
{
    QMessageBox::warning(this, ToolName(),
                         QStringLiteral("Настройки устройства ещё не прочитаны, запись отменена.\n"
                                        "Дождитесь, когда появится серийный номер устройства, и повторите запись."));
}

void CTesmarkDlg::ShowMessage(const QString& text)
{
    QMessageBox::warning(this, ToolName(), text);
}

void CTesmarkDlg::CloseOnStopSignal()
{
    // A box of a handler runs its own loop: while it is open the window's
    // loop cannot end. Each round hides one; the bound only guards against a
    // widget that refuses to close.
    constexpr int kMaxNestedBoxes = 16;
    // The window's menu runs a loop of its own as well.
    for (int round = 0; round < kMaxNestedBoxes; ++round) {
        QWidget* popup = QApplication::activePopupWidget();
        if (!popup)
            break;
        popup->close();
    }
    for (int round = 0; round < kMaxNestedBoxes; ++round) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == this)
            break;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    }
    reject();
}

void CTesmarkDlg::done(int result)
{
    closing_ = true;
    pollTimer_->stop();
    device_.ClosePort();
    QDialog::done(result);
}

void CTesmarkDlg::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (event->modifiers() == Qt::NoModifier || (event->modifiers() & Qt::KeypadModifier)) {
        if (key == Qt::Key_Escape) {
            reject();
            return;
        }
        if (key == Qt::Key_F1) {
            OnAbout();
            return;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
                button->click();
            } else {
                std::uint32_t address = device_.serverAddress;
                std::uint32_t port = device_.serverPort;
                if (TakeServer(&address, &port)) {
                    device_.serverAddress = address;
                    device_.serverPort = port;
                    accept();
                }
            }
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

void CTesmarkDlg::contextMenuEvent(QContextMenuEvent* event)
{
    // A Linux window has no system menu a program can extend: the about box
    // has its entry here, on the window's background.
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("windowMenu"));
    QAction* about = menu.addAction(QStringLiteral("&О проекте Tesmark..."));
    if (menu.exec(event->globalPos()) == about && !closing_)
        OnAbout();
}

bool CTesmarkDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonDblClick && watched == labels_.at(IDC_KEY16) &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        OnSerialChange();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

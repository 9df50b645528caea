#include "server/ui/signal_info_dlg.h"

#include "common/clock.h"
#include "common/format_time.h"
#include "server/model/event_codes.h"
#include "server/model/point_base.h"
#include "server/model/report_frame.h"
#include "server/storage/register_file.h"
#include "common/dialog_units.h"
#include "server/ui/report_list.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>

#include <array>

const QColor CSignalInfoDlg::kBlack(0, 0, 0);
const QColor CSignalInfoDlg::kRed(255, 0, 0);
const QColor CSignalInfoDlg::kGreen(0, 128, 0);
const QColor CSignalInfoDlg::kOlive(128, 128, 0);

// The texts of the link verdict are the controller operators' familiar ones,
// spelling included.
const QString CSignalInfoDlg::kNoLinkTwoDaysText = QStringLiteral(
    " С устройством по GPRS каналу\r\nнет связи последие 2 суток,\r\nв случае возникновения тревоги\r\n"
    "с устройства будет передано SMS.\r\nВозможно неполадки возникли из-за\r\nсмены IP адреса или порта на "
    "сервере,\r\nпопробуйти отправить на устройство\r\nновый IP адрес через SMS");
const QString CSignalInfoDlg::kNoLinkForAWhileText = QStringLiteral(
    " С устройством по GPRS каналу\r\nнекоторое время нет связи,\r\nв случае возникновения тревоги\r\n"
    "с устройства будет передано SMS.\r\nВозможно неполадки возникли из-за\r\nсмены IP адреса или порта на "
    "сервере,\r\nпопробуйти отправить на устройство\r\nновый IP адрес через SMS");
const QString CSignalInfoDlg::kLinkWorksText = QStringLiteral(" GPRS канал открыт и работает\r\nнормально");
const QString CSignalInfoDlg::kSmsSentText = QStringLiteral(" SMS было отправлено");
const QString CSignalInfoDlg::kNotRegisteredText = QStringLiteral(
    " Этой точки нет в базе точек:\r\nона была удалена.\r\nНажмите \"Сохранить\", чтобы\r\n"
    "добавить её как новую точку.");
const QString CSignalInfoDlg::kDeleteQuestion = QStringLiteral("Вы уверены, что хотите удалить эту точку?");

namespace {

// The phone field: "+7", then ten digits in groups.
const QString kPhoneMask = QStringLiteral("+7(999)999-99-99;_");
const QString kPhoneTemplate = QStringLiteral("+7(___)___-__-__");
constexpr QChar kBlank = u'_';
constexpr qsizetype kPhoneDigits = 10;
constexpr int kSecondsPerMinute = 60;
// How much of an unusable address text the link status quotes.
constexpr qsizetype kQuotedAddress = 40;

struct FlagLine
{
    std::uint16_t mask;
    const char16_t* set;
    const char16_t* clear;
};

// One line per sensor, in this order: red when its bit is set, green when not.
constexpr std::array<FlagLine, 10> kFlagLines = {{
    {RF_TILT_X, u" Сработал датчик наклона оси X\r\n", u" Датчик наклона оси X в норме\r\n"},
    {RF_TILT_Y, u" Сработал датчик наклона оси Y\r\n", u" Датчик наклона оси Y в норме\r\n"},
    {RF_TILT_Z, u" Сработал датчик наклона оси Z\r\n", u" Датчик наклона оси Z в норме\r\n"},
    {RF_TEMPERATURE_1, u" Сработал датчик температуры 1\r\n", u" Датчик температуры 1 в норме\r\n"},
    {RF_TEMPERATURE_2, u" Сработал датчик температуры 2\r\n", u" Датчик температуры 2 в норме\r\n"},
    {RF_CABINET_OPEN, u" Дверь банкомата открыта\r\n", u" Дверь банкомата закрыта\r\n"},
    {RF_SAFE_OPEN, u" Сейф открыт\r\n", u" Сейф закрыт\r\n"},
    {RF_SHOCK, u" Сработал внутренний датчик\r\n", u" Внутренний датчик в норме\r\n"},
    {RF_LIGHT, u" Сработал датчик освещенности\r\n", u" Датчик освещенности в норме\r\n"},
    {RF_POWER_LOST, u" Пропало напряжение питания\r\n", u" Напряжение питания в норме\r\n"},
}};

QString Hex2(unsigned value) { return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper(); }

QString TemperatureLine(int sensor, std::uint16_t raw)
{
    const auto degrees = CReportFrame::Temperature(raw);
    if (!degrees)
        return QStringLiteral(" Датчик температуры %1 не подключен\r\n").arg(sensor);
    return QStringLiteral(" Температура на датчике %1: %2 °C\r\n").arg(sensor).arg(*degrees, 0, 'f', 1);
}

QString SmsRefusal(AddressSmsCheck::Verdict verdict, const QString& address, std::uint32_t port)
{
    switch (verdict) {
    case AddressSmsCheck::NoAddress:
        return QStringLiteral("\r\n\r\n Внешний IP адрес сервера ещё не\r\nполучен: SMS с адресом отправить\r\nнельзя.");
    case AddressSmsCheck::BadAddress: {
        QString quoted = address.simplified();
        if (quoted.size() > kQuotedAddress)
            quoted = quoted.left(kQuotedAddress) + QStringLiteral("...");
        return QStringLiteral("\r\n\r\n Внешний IP адрес сервера \"%1\"\r\nне является адресом IPv4: SMS с\r\n"
                              "адресом отправить нельзя.")
            .arg(quoted);
    }
    case AddressSmsCheck::BadPort:
        return QStringLiteral("\r\n\r\n Порт сервера %1 вне пределов\r\n1..65535: SMS с адресом отправить\r\nнельзя.")
            .arg(port);
    case AddressSmsCheck::Ready: break;
    }
    return {};
}

// Positions of the phone template that take a digit.
std::vector<qsizetype> PhoneInputPositions()
{
    std::vector<qsizetype> positions;
    for (qsizetype i = 0; i < kPhoneTemplate.size(); ++i)
        if (kPhoneTemplate[i] == kBlank)
            positions.push_back(i);
    return positions;
}

} // namespace

CSignalInfoDlg::CSignalInfoDlg(std::uint32_t serial, CPointBase& base, const QString& serverAddress,
                               std::uint32_t serverPort, CSmsSender* sender, QWidget* parent)
    : QDialog(parent),
      serial(serial),
      base_(base),
      serverAddress_(serverAddress),
      serverPort_(serverPort),
      sender_(sender),
      addressSms_(CheckAddressSms(serverAddress, serverPort))
{
    CreateControls();
    if (sender_)
        connect(sender_, &CSmsSender::smsFinished, this, &CSignalInfoDlg::SmsFinished);
    FillFields();
    refreshTimer_ = new QTimer(this);
    refreshTimer_->setObjectName(QStringLiteral("refreshTimer"));
    refreshTimer_->setInterval(kRefreshMs);
    connect(refreshTimer_, &QTimer::timeout, this, &CSignalInfoDlg::RenderReport);
    refreshTimer_->start();
}

void CSignalInfoDlg::CreateControls()
{
    setObjectName(QStringLiteral("signalInfoDlg"));
    setWindowTitle(QStringLiteral("Информация о точке"));
    setFixedSize(DialogRect(this, 0, 0, 407, 253).size());

    QFont serialFont(QStringLiteral("Arial"));
    serialFont.setPixelSize(20);
    serialFont.setBold(true);
    QFont phoneFont(QStringLiteral("Arial"));
    phoneFont.setPixelSize(28);
    phoneFont.setBold(true);

    serialEdit_ = new QLineEdit(this);
    serialEdit_->setObjectName(QStringLiteral("serialEdit"));
    serialEdit_->setReadOnly(true);
    serialEdit_->setFont(serialFont);
    PlaceControl(serialEdit_, 1008, 7, 7, 73, 14);
    nameEdit_ = new QLineEdit(this);
    nameEdit_->setObjectName(QStringLiteral("nameEdit"));
    PlaceControl(nameEdit_, 1009, 7, 26, 73, 14);
    descriptionEdit_ = new QPlainTextEdit(this);
    descriptionEdit_->setObjectName(QStringLiteral("descriptionEdit"));
    descriptionEdit_->setTabChangesFocus(true);
    PlaceControl(descriptionEdit_, 1010, 87, 7, 153, 34);
    phoneEdit_ = new QLineEdit(this);
    phoneEdit_->setObjectName(QStringLiteral("phoneEdit"));
    phoneEdit_->setInputMask(kPhoneMask);
    phoneEdit_->setFont(phoneFont);
    PlaceControl(phoneEdit_, 1067, 249, 7, 151, 25);

    reportView_ = new QTextEdit(this);
    reportView_->setObjectName(QStringLiteral("reportView"));
    reportView_->setReadOnly(true);
    reportView_->setUndoRedoEnabled(false);
    PlaceControl(reportView_, 1011, 7, 45, 233, 166);
    linkStatus_ = new QPlainTextEdit(this);
    linkStatus_->setObjectName(QStringLiteral("linkStatus"));
    linkStatus_->setReadOnly(true);
    PlaceControl(linkStatus_, 1012, 249, 45, 151, 80);

    sendSmsButton_ = MakePictureButton(this, QStringLiteral("Отправить SMS"), QStringLiteral("sendSmsButton"), 4,
                                       QStringLiteral(":/server/buttons/send_sms.svg"),
                                       QStringLiteral(":/server/buttons/send_sms_hot.svg"), QRect(282, 133, 84, 25));
    deleteButton_ = MakePictureButton(this, QStringLiteral("Удалить"), QStringLiteral("deleteButton"), 3,
                                      QStringLiteral(":/server/buttons/delete.svg"),
                                      QStringLiteral(":/server/buttons/delete_hot.svg"), QRect(7, 221, 71, 25));
    saveButton_ = MakePictureButton(this, QStringLiteral("Сохранить"), QStringLiteral("saveButton"), 1,
                                    QStringLiteral(":/server/buttons/ok.svg"),
                                    QStringLiteral(":/server/buttons/ok_hot.svg"), QRect(251, 221, 71, 25));
    saveButton_->setDefault(true);
    cancelButton_ = MakePictureButton(this, QStringLiteral("Отмена"), QStringLiteral("cancelButton"), 2,
                                      QStringLiteral(":/server/buttons/cancel.svg"),
                                      QStringLiteral(":/server/buttons/cancel_hot.svg"), QRect(329, 221, 71, 25));
    connect(sendSmsButton_, &QPushButton::clicked, this, &CSignalInfoDlg::OnSendSms);
    connect(deleteButton_, &QPushButton::clicked, this, &CSignalInfoDlg::OnDelete);
    connect(saveButton_, &QPushButton::clicked, this, &CSignalInfoDlg::OnSave);
    connect(cancelButton_, &QPushButton::clicked, this, &CSignalInfoDlg::reject);
}

void CSignalInfoDlg::FindIndex()
{
    index_ = base_.FindPoint(serial);
    if (index_ < 0)
        index_ = base_.count();
}

void CSignalInfoDlg::FillFields()
{
    serialEdit_->setText(QLatin1Char(' ') + CPointBase::SerialName(serial));
    FindIndex();
    if (index_ < base_.count()) {
        nameEdit_->setText(base_.DisplayName(index_));
        descriptionEdit_->setPlainText(base_.Description(index_));
    }
    ShowLinkStatus();
    RenderReport();
    phoneEdit_->setText(PhoneFieldText(base_.Phone(index_)));
}

std::vector<CSignalInfoDlg::ReportLine> CSignalInfoDlg::ReportLines(const T_PKTINFO& info)
{
    const CReportFrame frame(info.report);
    std::vector<ReportLine> lines;
    auto black = [&](const QString& text) { lines.push_back({text, kBlack}); };
    black(QStringLiteral(" Версия ПО %1.%2\r\n").arg(Hex2(frame.VersionMajor()), Hex2(frame.VersionMinor())));
    black(QStringLiteral(" Передача №%1 от %2\r\n")
              .arg(frame.Sequence())
              .arg(FormatTimeOrEmpty(info.received, "%d-%b-%Y %H:%M")));
    // The X of this one line is the Cyrillic letter Ха.
    black(QStringLiteral(" Наклон по оси \u0425: %1\r\n").arg(frame.TiltX()));
    black(QStringLiteral(" Наклон по оси Y: %1\r\n").arg(frame.TiltY()));
    black(QStringLiteral(" Наклон по оси Z: %1\r\n").arg(frame.TiltZ()));
    black(TemperatureLine(1, frame.Temperature1Raw()));
    black(TemperatureLine(2, frame.Temperature2Raw()));
    black(QStringLiteral(" Уровень датчика освещенности: %1 %\r\n")
              .arg(CReportFrame::LightPercent(frame.LightRaw()), 0, 'f', 1));
    black(QStringLiteral(" Баланс: ") + frame.Balance() + QStringLiteral("\r\n"));
    const std::uint16_t flags = frame.Flags();
    for (const FlagLine& line : kFlagLines) {
        const bool set = (flags & line.mask) != 0;
        lines.push_back({QString::fromUtf16(set ? line.set : line.clear), set ? kRed : kGreen});
    }
    if (frame.KeyPresent())
        lines.push_back({QStringLiteral(" Воспользовались ключом ") + frame.KeyText(), kOlive});
    return lines;
}

void CSignalInfoDlg::AppendText(const QString& text, const QColor& colour)
{
    QTextCursor cursor(reportView_->document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(colour);
    cursor.insertText(text, format);
}

void CSignalInfoDlg::RenderReport()
{
    // Reports keep arriving while the dialog is open; the point may even have
    // registered itself meanwhile.
    FindIndex();
    reportView_->clear();
    const auto& reports = base_.lastReports();
    if (index_ < 0 || static_cast<std::size_t>(index_) >= reports.size())
        return;
    for (const ReportLine& line : ReportLines(reports[static_cast<std::size_t>(index_)]))
        AppendText(line.text, line.colour);
}

CSignalInfoDlg::LinkStatus CSignalInfoDlg::LinkVerdict(const CPointBase& base, std::uint32_t serial, int index,
                                                       std::int64_t now)
{
    const T_EVENT* deciding = base.LatestTodayEvent(serial);
    if (deciding == nullptr || deciding->source != SRC_GPRS) {
        deciding = base.LatestYesterdayEvent(serial);
        if (deciding != nullptr && deciding->source != SRC_GPRS)
            deciding = nullptr;
    }
    if (deciding == nullptr)
        return {kNoLinkTwoDaysText, true};
    if (deciding->code == EV_GPRS_LOST)
        return {kNoLinkForAWhileText, true};
    const auto& reports = base.lastReports();
    if (index < 0 || static_cast<std::size_t>(index) >= reports.size())
        return {kNoLinkForAWhileText, true};
    // Whole minutes, truncated toward zero: a report from the future counts
    // as a fresh one.
    const std::int64_t minutes = (now - reports[static_cast<std::size_t>(index)].received) / kSecondsPerMinute;
    if (minutes < kWorkingLinkMinutes)
        return {kLinkWorksText, false};
    return {kNoLinkForAWhileText, true};
}

void CSignalInfoDlg::SetLinkStatusText(const QString& text) { linkStatus_->setPlainText(text); }

void CSignalInfoDlg::ShowLinkStatus()
{
    if (index_ >= base_.count()) {
        SetLinkStatusText(kNotRegisteredText);
        sendSmsButton_->setEnabled(false);
        return;
    }
    const LinkStatus verdict = LinkVerdict(base_, serial, index_, base_.Clock().Now());
    QString text = verdict.text;
    bool sms = verdict.smsWanted;
    // A wrong address would cut the controller off for good.
    if (sms && addressSms_.verdict != AddressSmsCheck::Ready) {
        text += SmsRefusal(addressSms_.verdict, serverAddress_, serverPort_);
        sms = false;
    }
    SetLinkStatusText(text);
    sendSmsButton_->setEnabled(sms);
}

QString CSignalInfoDlg::PhoneFieldText(const QString& stored)
{
    // The register keeps the ten digits; a point the server added carries
    // the whole template form, whose digits are shown.
    QString digits = stored;
    if (stored.size() == kPhoneTemplate.size() && stored.startsWith(kPhoneTemplate.left(3))) {
        digits.clear();
        for (qsizetype position : PhoneInputPositions())
            digits += stored[position];
    }
    if (digits.size() != kPhoneDigits)
        return QString();
    QString shown = kPhoneTemplate.left(3) + digits;
    shown.insert(6, QLatin1Char(')'));
    shown.insert(10, QLatin1Char('-'));
    shown.insert(13, QLatin1Char('-'));
    return shown;
}

QString CSignalInfoDlg::PhoneValue() const
{
    const QString shown = phoneEdit_->displayText();
    QString value;
    for (qsizetype position : PhoneInputPositions()) {
        const QChar c = position < shown.size() ? shown[position] : kBlank;
        value += c == kBlank ? QChar(u' ') : c;
    }
    return value;
}

void CSignalInfoDlg::OnSave()
{
    FindIndex();
    if (index_ >= base_.count()) {
        base_.AddPoint(serial);
        index_ = base_.count() - 1;
    }
    base_.SetPhone(index_, PhoneValue());
    base_.SetName(index_, nameEdit_->text());
    base_.SetDescription(index_, descriptionEdit_->toPlainText());
    if (!SaveRegister(base_))
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("Не удалось записать файл базы точек %1.\n"
                                            "Изменения действуют до остановки сервера.")
                                 .arg(RegisterPath(base_)));
    accept();
}

void CSignalInfoDlg::OnDelete()
{
    QMessageBox box(QMessageBox::Critical, windowTitle(), kDeleteQuestion, QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName(QStringLiteral("deleteQuestion"));
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes)
        return;
    base_.RemovePoint(serial);
    SaveRegister(base_);
    serial = 0;
    reject();
}

void CSignalInfoDlg::OnSendSms()
{
    if (!sender_ || smsPending_ || addressSms_.verdict != AddressSmsCheck::Ready || index_ >= base_.count())
        return;
    sendSmsButton_->setEnabled(false);
    smsPending_ = true;
    sender_->SendSms(base_.Phone(index_), addressSms_.payload);
}

void CSignalInfoDlg::SmsFinished(CSmsSender::Result result)
{
    if (!smsPending_)
        return;
    smsPending_ = false;
    switch (result) {
    case CSmsSender::Sent: SetLinkStatusText(kSmsSentText); break;
    case CSmsSender::Refused: sendSmsButton_->setEnabled(true); break;
    case CSmsSender::PortError: break; // the operator has been shown the port's failure
    }
}

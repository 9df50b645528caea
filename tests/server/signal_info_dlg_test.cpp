#include "common/manual_clock.h"
#include "common/settings_store.h"
#include "server/core/external_ip_check.h"
#include "server/core/sms_sender.h"
#include "server/link/gprs_link.h"
#include "server/model/event_codes.h"
#include "server/model/point_base.h"
#include "server/model/report_frame.h"
#include "server/storage/register_file.h"
#include "server/ui/signal_info_dlg.h"
#include "server/ui/varkon_dlg.h"
#include "tests/server/local_http_server.h"
#include "tests/server/modal_answers.h"
#include "tests/server/qstring_printer.h"
#include "tests/server/server_fixture.h"
#include "tests/support/temp_env.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTextBlock>
#include <QTextEdit>

namespace {

using Line = CSignalInfoDlg::ReportLine;

// Records the messages it is asked to send; the test decides the outcome.
class CRecordingSmsSender final : public CSmsSender
{
public:
    bool IsAvailable() const override { return true; }
    void SendSms(const QString& phone, const std::array<std::uint8_t, 6>& payload) override
    {
        sent.push_back({phone, payload});
    }
    std::vector<std::pair<QString, AddressPayload>> sent;
};

// Newlines as the text views keep them.
QString Shown(QString text) { return text.remove(QLatin1Char('\r')); }

T_PKTINFO Report(std::int64_t received, std::uint16_t flags = 0)
{
    CReportFrame frame;
    frame.SetSerial(123456);
    frame.SetSequence(77);
    frame.SetVersion(0x02, 0x1A);
    frame.SetWord(8, 100);
    frame.SetWord(10, 200);
    frame.SetWord(12, 65535);
    frame.SetWord(14, 600);  // 20.0 °C
    frame.SetWord(16, 0);    // no sensor
    frame.SetWord(18, 2048); // 50.0 %
    frame.SetFlags(flags);
    frame.SetBalance(QStringLiteral("12.50"));
    frame.SealCrc();
    T_PKTINFO info;
    info.source = SRC_GPRS;
    info.report = frame.Bytes();
    info.received = received;
    return info;
}

constexpr std::uint32_t kSerial = 123456; // shown as 0001 - E240

class SignalInfoDlgTest : public ::testing::Test
{
protected:
    SignalInfoDlgTest()
    {
        base.AddPoint(kSerial);
        base.SetPhone(0, QStringLiteral("9101234567"));
        base.SetLastReport(0, Report(kNoon - 60));
        // Its link works: the latest event came by GPRS a minute ago.
        base.SetJournals({MakeEvent(kSerial, SRC_GPRS, EV_ARMED, kNoon - 60)}, {});
    }

    std::unique_ptr<CSignalInfoDlg> Open(std::uint32_t serial = kSerial, const QString& address = QStringLiteral("10.0.1.2\n"),
                                         std::uint32_t port = 49275)
    {
        auto dialog = std::make_unique<CSignalInfoDlg>(serial, base, address, port, &sender);
        dialog->show();
        return dialog;
    }

    void LinkDown() { base.SetLastReport(0, Report(kNoon - 3600)); }

    template <typename T> static T* Child(QWidget* dialog, const char* name)
    {
        auto* child = dialog->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    static QString LinkText(QWidget* dialog) { return Child<QPlainTextEdit>(dialog, "linkStatus")->toPlainText(); }
    static QPushButton* SendButton(QWidget* dialog) { return Child<QPushButton>(dialog, "sendSmsButton"); }

    QString folder = MakeTempFolder();
    CManualClock clock{kNoon};
    CPointBase base{clock, folder};
    CRecordingSmsSender sender;
};

} // namespace

TEST(SignalInfoReport, EveryLineOfAReportWithItsColour)
{
    const QColor black = CSignalInfoDlg::kBlack, red = CSignalInfoDlg::kRed, green = CSignalInfoDlg::kGreen;
    const std::vector<Line> expected = {
        {QStringLiteral(" Версия ПО 02.1A\r\n"), black},
        {QStringLiteral(" Передача №77 от 10-Dec-2025 12:00\r\n"), black},
        {QStringLiteral(" Наклон по оси Х: 100\r\n"), black}, // Cyrillic Х
        {QStringLiteral(" Наклон по оси Y: 200\r\n"), black},
        {QStringLiteral(" Наклон по оси Z: 65535\r\n"), black},
        {QStringLiteral(" Температура на датчике 1: 20.0 °C\r\n"), black},
        {QStringLiteral(" Датчик температуры 2 не подключен\r\n"), black},
        {QStringLiteral(" Уровень датчика освещенности: 50.0 %\r\n"), black},
        {QStringLiteral(" Баланс: 12.50\r\n"), black},
        {QStringLiteral(" Датчик наклона оси X в норме\r\n"), green},
        {QStringLiteral(" Датчик наклона оси Y в норме\r\n"), green},
        {QStringLiteral(" Сработал датчик наклона оси Z\r\n"), red},
        {QStringLiteral(" Датчик температуры 1 в норме\r\n"), green},
        {QStringLiteral(" Датчик температуры 2 в норме\r\n"), green},
        {QStringLiteral(" Дверь банкомата закрыта\r\n"), green},
        {QStringLiteral(" Сейф закрыт\r\n"), green},
        {QStringLiteral(" Внутренний датчик в норме\r\n"), green},
        {QStringLiteral(" Датчик освещенности в норме\r\n"), green},
        {QStringLiteral(" Напряжение питания в норме\r\n"), green},
    };
    const auto lines = CSignalInfoDlg::ReportLines(Report(kNoon, RF_TILT_Z));
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].text, expected[i].text) << i;
        EXPECT_EQ(lines[i].colour, expected[i].colour) << i;
    }
    EXPECT_EQ(lines[2].text[15].unicode(), 0x0425);
}

TEST(SignalInfoReport, EverySensorBitTemperaturesAndTheKey)
{
    // All bits set: every sensor line red, the latin X in the tilt line.
    const auto all = CSignalInfoDlg::ReportLines(Report(kNoon, 0x03FF));
    const QStringList tripped = {
        QStringLiteral(" Сработал датчик наклона оси X\r\n"), QStringLiteral(" Сработал датчик наклона оси Y\r\n"),
        QStringLiteral(" Сработал датчик наклона оси Z\r\n"), QStringLiteral(" Сработал датчик температуры 1\r\n"),
        QStringLiteral(" Сработал датчик температуры 2\r\n"), QStringLiteral(" Дверь банкомата открыта\r\n"),
        QStringLiteral(" Сейф открыт\r\n"),                   QStringLiteral(" Сработал внутренний датчик\r\n"),
        QStringLiteral(" Сработал датчик освещенности\r\n"),  QStringLiteral(" Пропало напряжение питания\r\n"),
    };
    ASSERT_EQ(all.size(), 19u);
    for (int i = 0; i < tripped.size(); ++i) {
        EXPECT_EQ(all[9 + static_cast<std::size_t>(i)].text, tripped[i]);
        EXPECT_EQ(all[9 + static_cast<std::size_t>(i)].colour, CSignalInfoDlg::kRed);
    }
    EXPECT_EQ(all[9].text[29].unicode(), u'X');

    // A key whose only non-zero byte is the last: the olive line, no line end.
    T_PKTINFO info = Report(kNoon);
    info.report[22 + 7] = 0x01;
    info.report[14] = 436 & 0xFF; // -0.5 °C
    info.report[15] = 436 >> 8;
    auto lines = CSignalInfoDlg::ReportLines(info);
    ASSERT_EQ(lines.size(), 20u);
    EXPECT_EQ(lines.back(), (Line{QStringLiteral(" Воспользовались ключом 000000000001"), CSignalInfoDlg::kOlive}));
    EXPECT_EQ(lines[5].text, QStringLiteral(" Температура на датчике 1: -0.5 °C\r\n"));
    // Bytes 1 and 6 of the key are not shown, yet make it present.
    info = Report(kNoon);
    const std::uint8_t key[8] = {0xAB, 0xFF, 0x34, 0x12, 0x78, 0x56, 0xEE, 0xCD};
    std::copy(std::begin(key), std::end(key), info.report.begin() + 22);
    lines = CSignalInfoDlg::ReportLines(info);
    EXPECT_EQ(lines.back().text, QStringLiteral(" Воспользовались ключом AB12345678CD"));
}

TEST_F(SignalInfoDlgTest, TheLinkVerdict)
{
    const std::int64_t now = kNoon;
    const struct
    {
        const char* name;
        std::vector<T_EVENT> today;
        std::vector<T_EVENT> yesterday;
        std::int64_t received;
        const QString& text;
        bool sms;
    } cases[] = {
        {"359 s: five whole minutes", {MakeEvent(kSerial, SRC_GPRS, EV_ARMED, now)}, {}, now - 359, CSignalInfoDlg::kLinkWorksText, false},
        {"360 s", {MakeEvent(kSerial, SRC_GPRS, EV_ARMED, now)}, {}, now - 360, CSignalInfoDlg::kNoLinkForAWhileText, true},
        {"from the future", {MakeEvent(kSerial, SRC_GPRS, EV_ARMED, now)}, {}, now + 600, CSignalInfoDlg::kLinkWorksText, false},
        {"lost", {MakeEvent(kSerial, SRC_GPRS, EV_GPRS_LOST, now)}, {}, now, CSignalInfoDlg::kNoLinkForAWhileText, true},
        {"today by SMS, yesterday by GPRS", {MakeEvent(kSerial, SRC_SMS, EV_SHOCK, now)},
         {MakeEvent(kSerial, SRC_GPRS, EV_ARMED, now - 50000)}, now - 10, CSignalInfoDlg::kLinkWorksText, false},
        {"today by GPRS, then by SMS", {MakeEvent(kSerial, SRC_GPRS, EV_ARMED, now - 100), MakeEvent(kSerial, SRC_SMS, EV_SHOCK, now)},
         {}, now - 10, CSignalInfoDlg::kNoLinkTwoDaysText, true},
        {"both days by SMS", {MakeEvent(kSerial, SRC_SMS, EV_SHOCK, now)}, {MakeEvent(kSerial, SRC_SMS, EV_ARMED, now - 50000)},
         now - 10, CSignalInfoDlg::kNoLinkTwoDaysText, true},
        {"silence noticed by the server", {MakeEvent(kSerial, SRC_SYSTEM, EV_GPRS_LOST, now)},
         {MakeEvent(kSerial, SRC_GPRS, EV_ARMED, now - 50000)}, now - 3600, CSignalInfoDlg::kNoLinkForAWhileText, true},
        {"another point's events", {MakeEvent(999, SRC_GPRS, EV_ARMED, now)}, {}, now, CSignalInfoDlg::kNoLinkTwoDaysText, true},
        {"no events", {}, {}, now, CSignalInfoDlg::kNoLinkTwoDaysText, true},
    };
    for (const auto& c : cases) {
        base.SetJournals(c.today, c.yesterday);
        base.SetLastReport(0, Report(c.received));
        const auto verdict = CSignalInfoDlg::LinkVerdict(base, kSerial, 0, now);
        EXPECT_EQ(verdict.text, c.text) << c.name;
        EXPECT_EQ(verdict.smsWanted, c.sms) << c.name;
    }
    EXPECT_EQ(CSignalInfoDlg::kNoLinkTwoDaysText,
              QStringLiteral(" С устройством по GPRS каналу\r\nнет связи последие 2 суток,\r\nв случае возникновения "
                             "тревоги\r\nс устройства будет передано SMS.\r\nВозможно неполадки возникли из-за\r\n"
                             "смены IP адреса или порта на сервере,\r\nпопробуйти отправить на устройство\r\nновый IP "
                             "адрес через SMS"));
    EXPECT_EQ(CSignalInfoDlg::kNoLinkForAWhileText,
              QString(CSignalInfoDlg::kNoLinkTwoDaysText)
                  .replace(QStringLiteral("нет связи последие 2 суток,"), QStringLiteral("некоторое время нет связи,")));
    EXPECT_EQ(CSignalInfoDlg::kLinkWorksText, QStringLiteral(" GPRS канал открыт и работает\r\nнормально"));
}

TEST_F(SignalInfoDlgTest, FieldsReportAndItsRefresh)
{
    base.SetDescription(0, QStringLiteral("Банкомат\nу входа"));
    auto dialog = Open();
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Информация о точке"));
    for (auto [name, id] : {std::pair{"serialEdit", 1008}, {"nameEdit", 1009}, {"descriptionEdit", 1010},
                            {"phoneEdit", 1067}, {"reportView", 1011}, {"linkStatus", 1012}, {"sendSmsButton", 4},
                            {"deleteButton", 3}, {"saveButton", 1}, {"cancelButton", 2}})
        EXPECT_EQ(Child<QWidget>(dialog.get(), name)->property("controlId").toInt(), id) << name;
    EXPECT_TRUE(Child<QPushButton>(dialog.get(), "saveButton")->isDefault());
    EXPECT_EQ(Child<QLineEdit>(dialog.get(), "serialEdit")->text(), QStringLiteral(" 0001 - E240"));
    EXPECT_TRUE(Child<QLineEdit>(dialog.get(), "serialEdit")->isReadOnly());
    EXPECT_EQ(Child<QLineEdit>(dialog.get(), "nameEdit")->text(), QStringLiteral("0001 - E240"));
    EXPECT_EQ(Child<QPlainTextEdit>(dialog.get(), "descriptionEdit")->toPlainText(), QStringLiteral("Банкомат\nу входа"));
    EXPECT_EQ(Child<QLineEdit>(dialog.get(), "phoneEdit")->displayText(), QStringLiteral("+7(910)123-45-67"));
    EXPECT_EQ(LinkText(dialog.get()), Shown(CSignalInfoDlg::kLinkWorksText));
    EXPECT_FALSE(SendButton(dialog.get())->isEnabled());

    // The view holds the report's lines in their colours.
    auto* view = Child<QTextEdit>(dialog.get(), "reportView");
    auto shownLines = [view] {
        std::vector<Line> lines;
        for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next())
            for (auto it = block.begin(); !it.atEnd(); ++it)
                lines.push_back({it.fragment().text(), it.fragment().charFormat().foreground().color()});
        return lines;
    };
    std::vector<Line> expected;
    for (const Line& line : CSignalInfoDlg::ReportLines(base.lastReports()[0]))
        expected.push_back({Shown(line.text).remove(QLatin1Char('\n')), line.colour});
    EXPECT_EQ(shownLines(), expected);

    // A report that arrives meanwhile shows within the refresh period.
    auto* timer = dialog->findChild<QTimer*>(QStringLiteral("refreshTimer"));
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 5000);
    base.SetLastReport(0, Report(kNoon, RF_SAFE_OPEN));
    timer->setInterval(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->toPlainText().contains(QStringLiteral(" Сейф открыт")); }, 5000));
    EXPECT_EQ(shownLines().size(), expected.size());
}

TEST_F(SignalInfoDlgTest, TheAddressSmsGoesOnlyWithAWellFormedAddress)
{
    LinkDown();
    const struct
    {
        const char* address;
        std::uint32_t port;
        const char* reason; // empty: the button is enabled
    } cases[] = {
        {"10.0.1.2\n", 49275, ""},
        {"", 49275, "ещё не\nполучен"},
        {"<html>Too many requests</html>\n", 49275, "\"<html>Too many requests</html>\"\nне является адресом IPv4"},
        {"10.0.1", 49275, "\"10.0.1\"\nне является адресом IPv4"},
        {"10.0.1.2", 0, "Порт сервера 0 вне пределов"},
        {"10.0.1.2", 70000, "Порт сервера 70000 вне пределов"},
    };
    for (const auto& c : cases) {
        auto dialog = Open(kSerial, QString::fromUtf8(c.address), c.port);
        const QString text = LinkText(dialog.get());
        EXPECT_TRUE(text.startsWith(Shown(CSignalInfoDlg::kNoLinkForAWhileText))) << c.address;
        const bool refused = *c.reason != '\0';
        EXPECT_EQ(SendButton(dialog.get())->isEnabled(), !refused) << c.address;
        if (refused) {
            EXPECT_TRUE(text.contains(QString::fromUtf8(c.reason))) << c.address << "\n" << text.toStdString();
        }
        dialog->OnSendSms(); // refused: nothing goes out
    }
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.sent[0].first, QStringLiteral("9101234567"));
    EXPECT_EQ(sender.sent[0].second, (AddressPayload{0x00, 0x0A, 0x02, 0x01, 0x7B, 0xC0}));
}

TEST_F(SignalInfoDlgTest, TheOutcomeOfTheSmsDecidesTheButton)
{
    LinkDown();
    const struct
    {
        CSmsSender::Result result;
        bool enabledAfter;
        const QString& text;
    } cases[] = {
        {CSmsSender::Sent, false, CSignalInfoDlg::kSmsSentText},
        {CSmsSender::Refused, true, CSignalInfoDlg::kNoLinkForAWhileText},
        {CSmsSender::PortError, false, CSignalInfoDlg::kNoLinkForAWhileText},
    };
    for (const auto& c : cases) {
        sender.sent.clear();
        auto dialog = Open();
        ASSERT_TRUE(SendButton(dialog.get())->isEnabled());
        QTest::mouseClick(SendButton(dialog.get()), Qt::LeftButton);
        ASSERT_EQ(sender.sent.size(), 1u);
        EXPECT_EQ(sender.sent[0].second, (AddressPayload{0x00, 0x0A, 0x02, 0x01, 0x7B, 0xC0}));
        EXPECT_FALSE(SendButton(dialog.get())->isEnabled()); // while the modem works
        dialog->OnSendSms();                                  // one message at a time
        EXPECT_EQ(sender.sent.size(), 1u);
        emit sender.smsFinished(c.result);
        EXPECT_EQ(SendButton(dialog.get())->isEnabled(), c.enabledAfter) << c.result;
        EXPECT_EQ(LinkText(dialog.get()), Shown(c.text)) << c.result;
    }

    // Without a modem the button does nothing.
    sender.sent.clear();
    CSignalInfoDlg noModem(kSerial, base, QStringLiteral("10.0.1.2"), 49275, nullptr);
    noModem.show();
    QTest::mouseClick(SendButton(&noModem), Qt::LeftButton);
    EXPECT_TRUE(SendButton(&noModem)->isEnabled());
    EXPECT_TRUE(sender.sent.empty());
}

TEST_F(SignalInfoDlgTest, SavingANamelessPointWritesItsDisplayedSerialAndTheFields)
{
    auto dialog = Open();
    auto* phone = Child<QLineEdit>(dialog.get(), "phoneEdit");
    phone->clear();
    phone->setFocus();
    phone->home(false);
    QTest::keyClicks(phone, QStringLiteral("9a1234567890")); // the letter is refused, the last digit has no place
    EXPECT_EQ(phone->displayText(), QStringLiteral("+7(912)345-67-89"));
    Child<QPlainTextEdit>(dialog.get(), "descriptionEdit")->setPlainText(QStringLiteral("Склад\nвход со двора"));
    QTest::mouseClick(Child<QPushButton>(dialog.get(), "saveButton"), Qt::LeftButton);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(base.names()[0], QStringLiteral("0001 - E240"));
    EXPECT_EQ(base.phones()[0], QStringLiteral("9123456789"));
    EXPECT_EQ(base.descriptions()[0], QStringLiteral("Склад\nвход со двора"));
    EXPECT_EQ(base.count(), 1);

    CPointBase reread(clock, folder);
    ASSERT_EQ(LoadRegister(reread).status, RegisterLoadResult::Loaded);
    ASSERT_EQ(reread.count(), 1);
    EXPECT_EQ(reread.names()[0], QStringLiteral("0001 - E240"));
    EXPECT_EQ(reread.phones()[0], QStringLiteral("9123456789"));

    // A phone typed in part keeps its blanks as spaces; the template form of
    // a point the server added shows its zeros.
    base.SetPhone(0, CPointBase::kNewPointPhone);
    dialog = Open();
    phone = Child<QLineEdit>(dialog.get(), "phoneEdit");
    EXPECT_EQ(phone->displayText(), QStringLiteral("+7(000)000-00-00"));
    phone->setText(QStringLiteral("+7(91"));
    dialog->OnSave();
    EXPECT_EQ(base.phones()[0], QStringLiteral("91        "));
}

TEST_F(SignalInfoDlgTest, DeletingAsksFirst)
{
    ASSERT_TRUE(SaveRegister(base));
    auto dialog = Open();
    for (auto [button, name] : {std::pair{QMessageBox::No, "No"}, {QMessageBox::Yes, "Yes"}}) {
        QString question;
        WhenModal([&question, button](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            question = box->text();
            EXPECT_EQ(box->icon(), QMessageBox::Critical);
            box->button(button)->click();
        });
        QTest::mouseClick(Child<QPushButton>(dialog.get(), "deleteButton"), Qt::LeftButton);
        EXPECT_EQ(question, QStringLiteral("Вы уверены, что хотите удалить эту точку?")) << name;
        if (button == QMessageBox::No) {
            EXPECT_EQ(base.count(), 1);
            EXPECT_EQ(dialog->serial, kSerial);
            EXPECT_TRUE(dialog->isVisible());
        }
    }
    EXPECT_EQ(base.count(), 0);
    EXPECT_EQ(dialog->serial, 0u);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    CPointBase reread(clock, folder);
    ASSERT_EQ(LoadRegister(reread).status, RegisterLoadResult::Loaded);
    EXPECT_EQ(reread.count(), 0);
}

TEST_F(SignalInfoDlgTest, APointNotInTheRegisterIsShownAsSuchAndCanBeSavedAnew)
{
    LinkDown();
    base.SetJournals({MakeEvent(777, SRC_GPRS, EV_ARMED, kNoon)}, {});
    auto dialog = Open(777);
    EXPECT_EQ(dialog->index(), base.count());
    EXPECT_EQ(LinkText(dialog.get()), Shown(CSignalInfoDlg::kNotRegisteredText));
    EXPECT_FALSE(SendButton(dialog.get())->isEnabled());
    EXPECT_EQ(Child<QTextEdit>(dialog.get(), "reportView")->toPlainText(), QString());
    EXPECT_EQ(Child<QLineEdit>(dialog.get(), "serialEdit")->text(), QStringLiteral(" 0000 - 0309"));
    EXPECT_EQ(Child<QLineEdit>(dialog.get(), "nameEdit")->text(), QString());
    dialog->OnSendSms();
    EXPECT_TRUE(sender.sent.empty());

    // The point registers itself by reporting while the dialog is open: it is
    // saved once, and the report shows.
    base.AddPoint(777);
    base.SetLastReport(1, Report(kNoon));
    dialog->RenderReport();
    EXPECT_TRUE(Child<QTextEdit>(dialog.get(), "reportView")->toPlainText().startsWith(QStringLiteral(" Версия ПО")));
    Child<QLineEdit>(dialog.get(), "nameEdit")->setText(QStringLiteral("Касса"));
    dialog->OnSave();
    ASSERT_EQ(base.count(), 2);
    EXPECT_EQ(base.FindLastPoint(777), 1);
    EXPECT_EQ(base.names()[1], QStringLiteral("Касса"));

    // Deleted meanwhile and saved again: a new entry.
    base.RemovePoint(777);
    dialog = Open(777);
    Child<QLineEdit>(dialog.get(), "nameEdit")->setText(QStringLiteral("Касса"));
    dialog->OnSave();
    ASSERT_EQ(base.count(), 2);
    EXPECT_EQ(base.names()[1], QStringLiteral("Касса"));
    EXPECT_EQ(base.phones()[1], QStringLiteral("          "));
}

namespace {

class PointRowTest : public ::testing::Test
{
protected:
    PointRowTest()
    {
        CSettingsStore store(QString::fromUtf16(Settings::kServerProgram));
        const QString ip = QString::fromUtf16(Settings::kIpSection);
        store.WriteString(ip, QString::fromUtf16(Settings::kIpPort), QStringLiteral("0"));
        store.WriteString(ip, QString::fromUtf16(CExternalIpCheck::kServiceValue), http.Url());
        store.WriteString(QString::fromUtf16(Settings::kSettingSection), QString::fromUtf16(Settings::kBaseFolder),
                          MakeTempFolder());
        http.Answer(200, "127.0.0.1\n");
        MapModemPorts({}); // the machine's own serial ports are left alone
        window = std::make_unique<CVarkonDlg>(clock, &sound);
        window->show();
        const auto frame = MakeFrame(kSerial);
        window->core().pipeline().AcceptReport(frame, SRC_GPRS);
        window->core().points().Flush();
        list = window->findChild<QTableView*>(QStringLiteral("pointList"));
    }

    CLocalHttpServer http;
    void DoubleClickRow(int row)
    {
        const QPoint at = list->visualRect(list->model()->index(row, 0)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    }

    CManualClock clock{kNoon};
    CRecordingSound sound;
    std::unique_ptr<CVarkonDlg> window;
    QTableView* list = nullptr;
};

} // namespace

TEST_F(PointRowTest, TheWindowShowsTheAddressCheckAndHandsItsResultToThePoint)
{
    auto* status = window->findChild<QLabel*>(QStringLiteral("statusText"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !status->text().isEmpty(); }, 10000));
    const quint16 port = window->core().link().ListeningPort();
    EXPECT_EQ(status->text(), QStringLiteral("Внешний IP: 127.0.0.1\nПорт %1 открыт.").arg(port));

    AddressSmsCheck handed;
    CModalAnswerer answerer(window.get(), [&](QWidget* modal) {
        if (auto* dialog = qobject_cast<CSignalInfoDlg*>(modal))
            handed = dialog->addressSms();
        qobject_cast<QDialog*>(modal)->reject();
    });
    list->setCurrentIndex(list->model()->index(0, 1));
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(answerer.seen, QStringList{QStringLiteral("signalInfoDlg")});
    ASSERT_EQ(handed.verdict, AddressSmsCheck::Ready);
    EXPECT_EQ(handed.payload,
              (AddressPayload{0, 127, 1, 0, static_cast<std::uint8_t>(port & 0xFF), static_cast<std::uint8_t>(port >> 8)}));
}

TEST_F(PointRowTest, EnterOrADoubleClickOpensThePointAndNothingElse)
{
    {
        CModalAnswerer answerer(window.get(), [](QWidget* modal) {
            auto* dialog = qobject_cast<CSignalInfoDlg*>(modal);
            if (dialog == nullptr) {
                modal->close(); // anything else is wrong
                if (auto* other = qobject_cast<QDialog*>(modal))
                    other->reject();
                return;
            }
            dialog->findChild<QLineEdit*>(QStringLiteral("nameEdit"))->setText(QStringLiteral("Склад 1"));
            dialog->findChild<QPushButton*>(QStringLiteral("saveButton"))->click();
        });
        list->setCurrentIndex(list->model()->index(0, 0));
        list->setFocus();
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter})
            QTest::keyClick(list, key);
        EXPECT_EQ(answerer.seen, (QStringList{QStringLiteral("signalInfoDlg"), QStringLiteral("signalInfoDlg")}));
        window->core().points().Flush();
        EXPECT_EQ(list->model()->index(0, 0).data().toString(), QStringLiteral("Склад 1"));
        EXPECT_EQ(window->core().pointBase().names()[0], QStringLiteral("Склад 1"));
    }

    // Rows that arrive while the dialog is open push the point's row down;
    // the saved name still goes to its row.
    CModalAnswerer renamer(window.get(), [&](QWidget* modal) {
        window->core().pipeline().AcceptReport(MakeFrame(42), SRC_GPRS);
        window->core().points().Flush();
        modal->findChild<QLineEdit*>(QStringLiteral("nameEdit"))->setText(QStringLiteral("Склад 2"));
        modal->findChild<QPushButton*>(QStringLiteral("saveButton"))->click();
    });
    DoubleClickRow(0);
    EXPECT_EQ(renamer.seen, QStringList{QStringLiteral("signalInfoDlg")});
    ASSERT_EQ(list->model()->rowCount(), 2);
    EXPECT_EQ(list->model()->index(1, 0).data().toString(), QStringLiteral("Склад 2"));
    EXPECT_EQ(list->model()->index(0, 0).data().toString(), QStringLiteral("0000 - 002A"));
}

TEST_F(PointRowTest, DeletingThePointRebuildsTheLists)
{
    CModalAnswerer answerer(window.get(), [](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            box->button(QMessageBox::Yes)->click();
            return;
        }
        // The question opens from a queued click, so that it is answered too.
        QTimer::singleShot(0, modal->findChild<QPushButton*>(QStringLiteral("deleteButton")), &QPushButton::click);
    });
    DoubleClickRow(0);
    EXPECT_EQ(answerer.seen, (QStringList{QStringLiteral("signalInfoDlg"), QStringLiteral("deleteQuestion")}));
    EXPECT_EQ(window->core().pointBase().count(), 0);
    EXPECT_EQ(window->core().points().rowCount(), 0);
}

// The server core and its window with a GSM modem: the probe at the end of
// start-up, the modem timer, the SMS reports, the address SMS and the stop,
// against the modem emulator on pseudo-terminals mapped as COM ports.
#include "common/settings_store.h"
#include "server/link/gprs_link.h"
#include "server/model/event_codes.h"
#include "server/model/report_frame.h"
#include "server/ui/signal_info_dlg.h"
#include "server/ui/varkon_dlg.h"
#include "tests/server/modem_fixture.h"
#include "tests/server/server_fixture.h"
#include "tests/support/temp_env.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kDeadlineMs = 10000;
constexpr std::array<std::uint8_t, 6> kPayload{0x01, 0xAB, 0x00, 0xFF, 0x7B, 0xC0};

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void UseTemporarySettings()
{
    CSettingsStore store(QString::fromUtf16(Settings::kServerProgram));
    store.WriteString(QString::fromUtf16(Settings::kIpSection), QString::fromUtf16(Settings::kIpPort),
                      QStringLiteral("0")); // any free port
    store.WriteString(QString::fromUtf16(Settings::kSettingSection), QString::fromUtf16(Settings::kBaseFolder),
                      MakeTempFolder());
}

std::size_t CountCommands(const CModemEmulator& modem, const std::string& start)
{
    std::size_t count = 0;
    for (const std::string& command : modem.Commands())
        count += command.rfind(start, 0) == 0 ? 1 : 0;
    return count;
}

// A server core whose modem is the emulator at COM0.
class ModemCore : public ::testing::Test
{
protected:
    ModemCore() { UseTemporarySettings(); }

    // Starts the core and waits for the end of the probe.
    void Start(const T_SERIALTIMEOUTS& timeouts = kQuickTimeouts, bool withModem = true)
    {
        if (withModem)
            MapModemPorts({{0, emulated.Path()}});
        else
            MapModemPorts({});
        core = std::make_unique<CServerCore>(clock, sound, alert);
        messages = std::make_unique<QSignalSpy>(core.get(), &CServerCore::modemMessage);
        errors = std::make_unique<QSignalSpy>(core.get(), &CServerCore::modemError);
        core->modem().SetTimeouts(timeouts);
        QSignalSpy probed(&core->modem(), &CModemLink::probeFinished);
        core->StartUp();
        ASSERT_TRUE(probed.wait(kDeadlineMs));
        afterProbe = emulated.modem.Commands().size();
    }

    std::size_t SmsEvents() const
    {
        std::size_t count = 0;
        for (const T_EVENT& e : core->pointBase().todayEvents())
            count += e.source == SRC_SMS ? 1 : 0;
        return count;
    }

    CManualClock clock{kNoon};
    CRecordingSound sound;
    CRecordingAlert alert;
    CEmulatedModem emulated;
    std::unique_ptr<CServerCore> core;
    std::unique_ptr<QSignalSpy> messages;
    std::unique_ptr<QSignalSpy> errors;
    std::size_t afterProbe = 0;
};

} // namespace

TEST_F(ModemCore, AModemFoundAtTheEndOfStartUpStartsTheModemTimer)
{
    Start();
    EXPECT_TRUE(core->modem().IsAvailable());
    EXPECT_EQ(core->modem().portName(), QStringLiteral("COM0"));
    EXPECT_TRUE(core->modemTimer().isActive());
    EXPECT_EQ(core->modemTimer().interval(), 5000);
    EXPECT_EQ(messages->count(), 0);
    // The probe came after the rest of start-up.
    ASSERT_FALSE(core->pointBase().todayEvents().empty());
    EXPECT_EQ(core->pointBase().todayEvents().back().code, EV_SERVER_STARTED);
    EXPECT_TRUE(core->minuteTimer().isActive());
}

TEST_F(ModemCore, WithoutAModemTheOperatorIsToldAndNothingPolls)
{
    Start(kQuickTimeouts, false);
    ASSERT_EQ(messages->count(), 1);
    EXPECT_EQ(messages->at(0).at(0).toString(), QStringLiteral("GPRS модем не активирован"));
    EXPECT_FALSE(core->modemTimer().isActive());
    EXPECT_FALSE(core->modem().IsAvailable());
    EXPECT_FALSE(core->modem().Poll());
    // The address SMS is refused, after the call has returned.
    QSignalSpy finished(core->smsSender(), &CSmsSender::smsFinished);
    core->smsSender()->SendSms(QStringLiteral("9161234567"), kPayload);
    EXPECT_EQ(finished.count(), 0);
    ASSERT_TRUE(finished.wait(kDeadlineMs));
    EXPECT_EQ(finished.at(0).at(0).value<CSmsSender::Result>(), CSmsSender::Refused);
}

TEST_F(ModemCore, SmsReportsBecomeEventsAndLeaveTheModem)
{
    Start();
    emulated.modem.Receive(SmsText(MakeFrame(4242, RF_SHOCK)));
    emulated.modem.Receive("Баланс 10 руб.");
    emulated.modem.Receive(SmsText(MakeFrame(4242)), "+70000000000");
    QSignalSpy polled(&core->modem(), &CModemLink::pollFinished);
    core->modemTimer().setInterval(1); // the timer's tick polls
    ASSERT_TRUE(polled.wait(kDeadlineMs));
    core->modemTimer().stop();
    EXPECT_EQ(polled.at(0).at(0).toInt(), 0);
    std::vector<std::uint8_t> codes;
    for (const T_EVENT& e : core->pointBase().todayEvents()) {
        if (e.source == SRC_SMS)
            codes.push_back(e.code);
    }
    EXPECT_EQ(codes, (std::vector<std::uint8_t>{EV_NEW_POINT, EV_SHOCK, EV_ARMED}));
    EXPECT_TRUE(core->modem().messages.empty());
    EXPECT_TRUE(emulated.modem.Stored().empty());

    // An empty listing: nothing more.
    core->OnModemTimer();
    ASSERT_TRUE(polled.wait(kDeadlineMs));
    EXPECT_EQ(polled.at(1).at(0).toInt(), 1);
    EXPECT_EQ(SmsEvents(), 3u);
}

TEST_F(ModemCore, AListingWithoutOkStopsPollingForGoodButNotTheAddressSms)
{
    Start();
    T_MODEMFAULTS faults;
    faults.listingWithoutOk = true;
    emulated.modem.SetFaults(faults);
    emulated.modem.Receive(SmsText(MakeFrame(1)));
    core->OnModemTimer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return messages->count() == 1; }, kDeadlineMs));
    EXPECT_EQ(messages->at(0).at(0).toString(), QStringLiteral("Необходимо перезапустить GPRS модем и программу"));
    EXPECT_FALSE(core->modemTimer().isActive());
    EXPECT_EQ(SmsEvents(), 0u);
    EXPECT_EQ(emulated.modem.Stored().size(), 1u);

    QSignalSpy finished(core->smsSender(), &CSmsSender::smsFinished);
    core->smsSender()->SendSms(QStringLiteral("9161234567"), kPayload);
    ASSERT_TRUE(finished.wait(kDeadlineMs));
    EXPECT_EQ(finished.at(0).at(0).value<CSmsSender::Result>(), CSmsSender::Sent);
    ASSERT_EQ(emulated.modem.Sent().size(), 1u);
    EXPECT_EQ(emulated.modem.Sent()[0].text, "01AB00FF7BC0");
}

TEST_F(ModemCore, APortFailureAbandonsTheTickAndTheNextTickTriesAgain)
{
    Start();
    T_MODEMFAULTS faults;
    faults.hangUpOn = "AT+CMGL";
    emulated.modem.SetFaults(faults);
    const QString text = QString::fromLocal8Bit(std::strerror(EIO));
    for (int tick = 1; tick <= 2; ++tick) {
        core->OnModemTimer();
        ASSERT_TRUE(QTest::qWaitFor([&] { return errors->count() == tick; }, kDeadlineMs)) << tick;
        EXPECT_EQ(errors->at(tick - 1).at(0).toString(), text);
        EXPECT_TRUE(core->modemTimer().isActive());
        EXPECT_FALSE(core->modem().IsPolling());
    }
    // The address SMS fails the same way, and says so.
    QSignalSpy finished(core->smsSender(), &CSmsSender::smsFinished);
    core->smsSender()->SendSms(QStringLiteral("9161234567"), kPayload);
    ASSERT_TRUE(finished.wait(kDeadlineMs));
    EXPECT_EQ(finished.at(0).at(0).value<CSmsSender::Result>(), CSmsSender::PortError);
    EXPECT_EQ(errors->count(), 3);
    EXPECT_EQ(messages->count(), 0);
}

TEST_F(ModemCore, TheAddressSmsReportsItsOutcome)
{
    Start();
    QSignalSpy finished(core->smsSender(), &CSmsSender::smsFinished);
    core->smsSender()->SendSms(QStringLiteral("0161234567"), kPayload); // refused without a byte sent
    T_MODEMFAULTS faults;
    faults.errorCommands = {"AT+CMGS"};
    core->smsSender()->SendSms(QStringLiteral("9161234567"), kPayload); // sent
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 2; }, kDeadlineMs));
    emulated.modem.SetFaults(faults);
    core->smsSender()->SendSms(QStringLiteral("9161234567"), kPayload); // no prompt
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 3; }, kDeadlineMs));
    EXPECT_EQ(finished.at(0).at(0).value<CSmsSender::Result>(), CSmsSender::Refused);
    EXPECT_EQ(finished.at(1).at(0).value<CSmsSender::Result>(), CSmsSender::Sent);
    EXPECT_EQ(finished.at(2).at(0).value<CSmsSender::Result>(), CSmsSender::Refused);
    ASSERT_EQ(emulated.modem.Sent().size(), 1u);
    EXPECT_EQ(emulated.modem.Sent()[0].number, "+79161234567");
}

TEST_F(ModemCore, ATickIsSkippedWhileThePreviousOneRuns)
{
    Start();
    T_MODEMFAULTS faults;
    faults.silent = true; // each poll waits out its read
    emulated.modem.SetFaults(faults);
    QSignalSpy polled(&core->modem(), &CModemLink::pollFinished);
    for (int tick = 0; tick < 3; ++tick)
        core->OnModemTimer();
    EXPECT_TRUE(core->modem().IsPolling());
    ASSERT_TRUE(polled.wait(kDeadlineMs));
    EXPECT_EQ(polled.count(), 1);
    EXPECT_EQ(CountCommands(emulated.modem, "AT+CMGL"), 1u);
}

TEST_F(ModemCore, GprsReportsAreTakenWhileTheModemWaitsAndTheStopIsPrompt)
{
    Start(CGsmModem::kTimeouts); // a silent modem holds a poll for 12.3 s
    T_MODEMFAULTS faults;
    faults.silent = true;
    emulated.modem.SetFaults(faults);
    emulated.modem.Receive(SmsText(MakeFrame(99)));
    core->OnModemTimer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return CountCommands(emulated.modem, "AT+CMGL") == 1; }, kDeadlineMs));

    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), core->link().ListeningPort());
    ASSERT_TRUE(socket.waitForConnected(kDeadlineMs));
    const auto frame = MakeFrame(7, RF_SAFE_OPEN);
    socket.write(reinterpret_cast<const char*>(frame.data()), 64);
    ASSERT_TRUE(QTest::qWaitFor([&] { return core->pointBase().FindPoint(7) >= 0; }, kDeadlineMs));
    EXPECT_TRUE(core->modem().IsPolling()); // the report did not wait for the modem

    const auto start = Clock::now();
    core->Shutdown();
    EXPECT_LT(MsSince(start), 3000);
    EXPECT_FALSE(core->modem().IsRunning());
    EXPECT_FALSE(CSerialPortTimeout::CanOpen(QStringLiteral("/nonexistent")));
    EXPECT_TRUE(CSerialPortTimeout::CanOpen(QString::fromStdString(emulated.Path()))); // the port was closed
    EXPECT_EQ(core->pointBase().todayEvents().back().code, EV_SERVER_STOPPED);
    EXPECT_EQ(emulated.modem.Stored().size(), 1u); // nothing deleted
}

TEST_F(ModemCore, AfterTheStopNoListedMessageIsProcessed)
{
    Start();
    emulated.modem.Receive(SmsText(MakeFrame(31)));
    core->OnModemTimer();
    // The worker deletes the message once it has listed it; the result is
    // then on its way to this thread, which has not taken it yet.
    const auto deadline = Clock::now() + std::chrono::milliseconds(kDeadlineMs);
    while (!emulated.modem.Stored().empty() && Clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_TRUE(emulated.modem.Stored().empty());
    core->Shutdown();
    const std::size_t recorded = core->pointBase().todayEvents().size();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(core->modem().messages.empty());
    EXPECT_EQ(SmsEvents(), 0u);
    EXPECT_EQ(core->pointBase().todayEvents().size(), recorded);
    EXPECT_FALSE(core->modemTimer().isActive());
    core->OnModemTimer();
    EXPECT_FALSE(core->modem().IsPolling());
}

// The window: the modem's boxes and its events, with the modem's own time-outs.
class ModemWindow : public ::testing::Test
{
protected:
    ModemWindow() { UseTemporarySettings(); }

    void Open()
    {
        window = std::make_unique<CVarkonDlg>(clock, &sound);
        window->show();
    }
    bool Probed() { return QTest::qWaitFor([&] { return window->core().modemTimer().isActive(); }, kDeadlineMs); }
    QMessageBox* Box(const char* name) { return window->findChild<QMessageBox*>(QString::fromLatin1(name)); }

    CManualClock clock{kNoon};
    CRecordingSound sound;
    std::unique_ptr<CVarkonDlg> window;
};

TEST_F(ModemWindow, NoModemIsShownInABoxThatBlocksNothing)
{
    MapModemPorts({});
    Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Box("modemMessageBox") != nullptr; }, kDeadlineMs));
    EXPECT_EQ(Box("modemMessageBox")->text(), QStringLiteral("GPRS модем не активирован"));
    EXPECT_TRUE(Box("modemMessageBox")->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(window->core().modemTimer().isActive());
}

TEST_F(ModemWindow, AnSmsReportIsListedAndPortFailuresShareOneBox)
{
    CEmulatedModem emulated;
    MapModemPorts({{0, emulated.Path()}});
    Open();
    ASSERT_TRUE(Probed());
    emulated.modem.Receive(SmsText(MakeFrame(4242, RF_SHOCK)));
    window->core().OnModemTimer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->core().pointBase().todayEvents().back().code == EV_SHOCK; },
                                kDeadlineMs));
    window->core().events().Flush();
    EXPECT_TRUE(ListRows(window->core().events()).front().contains(QStringLiteral("SMS: Сработал датчик удара")))
        << ListRows(window->core().events()).front().toStdString();

    T_MODEMFAULTS faults;
    faults.hangUpOn = "AT+CMGL";
    emulated.modem.SetFaults(faults);
    window->core().OnModemTimer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Box("modemErrorBox") != nullptr; }, kDeadlineMs));
    EXPECT_EQ(Box("modemErrorBox")->text(), QString::fromLocal8Bit(std::strerror(EIO)));
    EXPECT_EQ(Box("modemErrorBox")->icon(), QMessageBox::Critical);
    QSignalSpy failed(&window->core(), &CServerCore::modemError);
    window->core().OnModemTimer();
    ASSERT_TRUE(failed.wait(kDeadlineMs));
    EXPECT_EQ(window->findChildren<QMessageBox*>(QStringLiteral("modemErrorBox")).size(), 1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(ModemWindow, ABrokenListingAsksForARestart)
{
    T_MODEMFAULTS faults;
    CEmulatedModem emulated;
    MapModemPorts({{0, emulated.Path()}});
    Open();
    ASSERT_TRUE(Probed());
    faults.listingWithoutOk = true;
    emulated.modem.SetFaults(faults);
    window->core().OnModemTimer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Box("modemMessageBox") != nullptr; }, kDeadlineMs));
    EXPECT_EQ(Box("modemMessageBox")->text(), QStringLiteral("Необходимо перезапустить GPRS модем и программу"));
    EXPECT_FALSE(window->core().modemTimer().isActive());
}

TEST_F(ModemWindow, ClosingTheWindowDoesNotWaitForASilentModem)
{
    CEmulatedModem emulated;
    MapModemPorts({{0, emulated.Path()}});
    Open();
    ASSERT_TRUE(Probed());
    T_MODEMFAULTS faults;
    faults.silent = true;
    emulated.modem.SetFaults(faults);
    window->core().OnModemTimer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return CountCommands(emulated.modem, "AT+CMGL") == 1; }, kDeadlineMs));
    const auto start = Clock::now();
    window->reject();
    EXPECT_LT(MsSince(start), 3000);
    EXPECT_FALSE(window->core().modem().IsRunning());
    EXPECT_FALSE(window->isVisible());
}

TEST_F(ModemCore, ThePointDialogsAddressSmsReachesTheModemAsTwelveDigits)
{
    Start();
    const std::uint32_t serial = 123456;
    core->pointBase().AddPoint(serial);
    core->pointBase().SetPhone(core->pointBase().FindPoint(serial), QStringLiteral("9161234567"));
    CSignalInfoDlg dialog(serial, core->pointBase(), QStringLiteral("10.0.1.2"), 49275, core->smsSender());
    auto* send = dialog.findChild<QPushButton*>(QStringLiteral("sendSmsButton"));
    ASSERT_NE(send, nullptr);
    ASSERT_TRUE(send->isEnabled());
    QSignalSpy finished(core->smsSender(), &CSmsSender::smsFinished);
    send->click();
    ASSERT_TRUE(finished.wait(kDeadlineMs));
    EXPECT_EQ(finished.at(0).at(0).value<CSmsSender::Result>(), CSmsSender::Sent);
    ASSERT_EQ(emulated.modem.Sent().size(), 1u);
    EXPECT_EQ(emulated.modem.Sent()[0].number, "+79161234567");
    EXPECT_EQ(emulated.modem.Sent()[0].text, "000A02017BC0");
}

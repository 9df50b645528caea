// CGsmModem against the modem emulator on pseudo-terminals mapped as COM
// ports, and its listing parse on its own.
#include "server/modem/gsm_modem.h"
#include "server/modem/serial_exception.h"
#include "tests/server/modem_fixture.h"

#include <QTest>
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

std::uint32_t Thrown(const std::function<void()>& call)
{
    try {
        call();
    } catch (const CSerialException& failure) {
        return failure.errorCode;
    }
    return 0;
}

T_MODEMFAULTS ErrorTo(const std::string& command)
{
    T_MODEMFAULTS faults;
    faults.errorCommands = {command};
    return faults;
}

// The commands the emulator received after the first `skip`.
Strings CommandsAfter(const CModemEmulator& modem, std::size_t skip)
{
    const Strings all = modem.Commands();
    return Strings(all.begin() + static_cast<std::ptrdiff_t>(std::min(skip, all.size())), all.end());
}

Strings Texts(const std::vector<T_SMS>& records)
{
    Strings texts;
    for (const T_SMS& sms : records)
        texts.emplace_back(sms.text);
    return texts;
}

// A modem found by the probe on the emulator mapped as COM0.
class ProbedModem : public ::testing::Test
{
protected:
    explicit ProbedModem(T_MODEMFAULTS faults = {}) : emulated(std::move(faults))
    {
        MapModemPorts({{0, emulated.Path()}});
        probed = modem.Probe();
        afterProbe = emulated.modem.Commands().size();
    }

    CEmulatedModem emulated;
    CGsmModem modem{kQuickTimeouts};
    bool probed = false;
    std::size_t afterProbe = 0;
};

constexpr std::array<std::uint8_t, 6> kPayload{0x01, 0xAB, 0x00, 0xFF, 0x7B, 0xC0};

} // namespace

TEST(GsmModemProbe, TenPortsWithoutAModemGiveFalseAndLeaveEveryPortClosed)
{
    CGsmModem modem(kQuickTimeouts);
    MapModemPorts({}); // no device at all
    EXPECT_FALSE(modem.Probe());

    T_MODEMFAULTS silence;
    silence.silent = true;
    CEmulatedModem silent(silence), refusing(ErrorTo("AT"));
    MapModemPorts({{4, silent.Path()}, {7, refusing.Path()}});
    EXPECT_FALSE(modem.Probe());
    EXPECT_FALSE(modem.port().IsOpen());
    EXPECT_TRUE(modem.portName().isEmpty());
    EXPECT_EQ(silent.modem.Commands(), Strings{"AT"});
    EXPECT_EQ(refusing.modem.Commands(), Strings{"AT"});
    EXPECT_TRUE(CSerialPortTimeout::CanOpen(QString::fromStdString(silent.Path())));
    EXPECT_TRUE(CSerialPortTimeout::CanOpen(QString::fromStdString(refusing.Path())));
}

TEST(GsmModemProbe, AModemRejectingIndicationsIsClosedAndTheNextPortAnswers)
{
    CEmulatedModem rejecting(ErrorTo("AT+CNMI")), good;
    MapModemPorts({{2, rejecting.Path()}, {3, good.Path()}});
    CGsmModem modem(kQuickTimeouts);
    ASSERT_TRUE(modem.Probe());
    EXPECT_EQ(modem.portName(), QStringLiteral("COM3"));
    EXPECT_TRUE(modem.port().IsOpen());
    EXPECT_EQ(rejecting.modem.Commands(), (Strings{"AT", "ATE0", "AT+CNMI=3,1,0,0"}));
    EXPECT_TRUE(CSerialPortTimeout::CanOpen(QString::fromStdString(rejecting.Path())));
    EXPECT_FALSE(CSerialPortTimeout::CanOpen(QString::fromStdString(good.Path()))); // held by the modem
    // Each command goes out with its terminating zero byte.
    EXPECT_EQ(good.modem.Received(), std::string("AT\r\0ATE0\r\0AT+CNMI=3,1,0,0\r\0AT+CMGF=1\r\0", 38));
    EXPECT_FALSE(good.modem.EchoOn());
}

TEST(GsmModemProbe, GivesThePortTheModemsTimeoutsAndTheTransmitEvent)
{
    CEmulatedModem good;
    MapModemPorts({{0, good.Path()}});
    CGsmModem modem; // the modem's own time-outs
    ASSERT_TRUE(modem.Probe());
    EXPECT_EQ(modem.port().GetTimeouts(), (T_SERIALTIMEOUTS{590, 3, 10, 0, 0}));
    EXPECT_EQ(modem.port().GetMask(), CSerialPortTimeout::kEventTxEmpty);
}

TEST(GsmModemProbe, APortFailureEndsTheSearchAtOnce)
{
    T_MODEMFAULTS hangUp;
    hangUp.hangUpOn = "ATE0";
    CEmulatedModem leaving(hangUp), good;
    MapModemPorts({{1, leaving.Path()}, {2, good.Path()}});
    CGsmModem modem(kQuickTimeouts);
    EXPECT_EQ(Thrown([&] { modem.Probe(); }), static_cast<std::uint32_t>(EIO));
    EXPECT_TRUE(good.modem.Commands().empty());
}

TEST(GsmModemReadAll, ClosedEmptyListedAndUnfinishedListings)
{
    CGsmModem closed(kQuickTimeouts);
    EXPECT_EQ(closed.ReadAll(), -1);

    T_MODEMFAULTS withoutOk;
    withoutOk.listingWithoutOk = true;
    const struct
    {
        const char* name;
        T_MODEMFAULTS faults;
        Strings stored;
        int result;
        Strings delivered;
        Strings left;
    } cases[] = {
        {"empty", {}, {}, 1, {}, {}},
        {"two messages", {}, {"A", "B"}, 0, {"A\r", "B\r"}, {}},
        {"no OK", withoutOk, {"A"}, -1, {}, {"A"}},
        {"empty without OK", withoutOk, {}, -1, {}, {}},
    };
    for (const auto& c : cases) {
        CEmulatedModem emulated;
        MapModemPorts({{0, emulated.Path()}});
        CGsmModem modem(kQuickTimeouts);
        ASSERT_TRUE(modem.Probe()) << c.name;
        emulated.modem.SetFaults(c.faults);
        for (const std::string& text : c.stored)
            emulated.modem.Receive(text);
        const std::size_t before = emulated.modem.Commands().size();
        EXPECT_EQ(modem.ReadAll(), c.result) << c.name;
        EXPECT_EQ(Texts(modem.messages), c.delivered) << c.name;
        Strings left;
        for (const T_STOREDSMS& sms : emulated.modem.Stored())
            left.push_back(sms.text);
        EXPECT_EQ(left, c.left) << c.name;
        Strings expected{"AT+CMGL=\"ALL\""};
        for (std::size_t i = 0; i < c.delivered.size(); ++i)
            expected.push_back("AT+CMGD=" + std::to_string(i + 1));
        EXPECT_EQ(CommandsAfter(emulated.modem, before), expected) << c.name; // no delete when nothing was delivered
    }
}

TEST(GsmModemReadAll, TakesEachFieldAsPrintedWithinItsSize)
{
    const std::string body254(254, 'x'), body255(255, 'y');
    for (const bool zeroBytes : {false, true}) {
        CEmulatedModem emulated;
        MapModemPorts({{0, emulated.Path()}});
        CGsmModem modem(kQuickTimeouts);
        ASSERT_TRUE(modem.Probe());
        T_MODEMFAULTS faults;
        faults.zeroBytes = zeroBytes; // zero bytes in the answer are passed over
        emulated.modem.SetFaults(faults);
        emulated.modem.Receive("first", "+79161234567", "25/12/10,12:00:00+12");
        emulated.modem.Receive("line one\r\nline two\r\nline three", "+79161234568");
        emulated.modem.Receive(body254);                     // 255 bytes with its CR: kept
        emulated.modem.Receive(body255);                     // 256 bytes with its CR: too long
        emulated.modem.Receive("s15", "+79161234567890");    // 15 characters: kept
        emulated.modem.Receive("s16", "+791612345678901");   // 16: too long
        emulated.modem.Receive("t31", "+7", std::string(31, '1'));
        emulated.modem.Receive("t32", "+7", std::string(32, '2'));
        ASSERT_EQ(modem.ReadAll(), 0);
        ASSERT_EQ(modem.messages.size(), 8u);
        const auto& m = modem.messages;
        EXPECT_EQ(Texts(m), (Strings{"first\r", "line one\r", body254 + "\r", "", "s15\r", "s16\r", "t31\r", "t32\r"}));
        EXPECT_STREQ(m[0].sender, "+79161234567");
        EXPECT_STREQ(m[0].stamp, "25/12/10,12:00:00+12");
        EXPECT_STREQ(m[1].sender, "+79161234568");
        EXPECT_STREQ(m[4].sender, "+79161234567890");
        EXPECT_STREQ(m[5].sender, "");
        EXPECT_STREQ(m[6].stamp, std::string(31, '1').c_str());
        EXPECT_STREQ(m[7].stamp, "");
        EXPECT_TRUE(emulated.modem.Stored().empty()) << zeroBytes;
    }
}

TEST_F(ProbedModem, DeletesOnlyTheListedMessagesAndKeepsOneArrivingMeanwhile)
{
    ASSERT_TRUE(probed);
    T_MODEMFAULTS faults;
    faults.arriveAfterList = {"LATE"};
    emulated.modem.SetFaults(faults);
    for (const char* text : {"A", "B", "C"})
        emulated.modem.Receive(text);
    ASSERT_EQ(modem.ReadAll(), 0);
    EXPECT_EQ(Texts(modem.messages), (Strings{"A\r", "B\r", "C\r"}));
    EXPECT_EQ(CommandsAfter(emulated.modem, afterProbe),
              (Strings{"AT+CMGL=\"ALL\"", "AT+CMGD=1", "AT+CMGD=2", "AT+CMGD=3"}));
    const auto stored = emulated.modem.Stored();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].text, "LATE");

    modem.messages.clear();
    ASSERT_EQ(modem.ReadAll(), 0);
    EXPECT_EQ(Texts(modem.messages), Strings{"LATE\r"});
    EXPECT_TRUE(emulated.modem.Stored().empty());
}

TEST_F(ProbedModem, AListingCutAtTheEndOfTheBufferLeavesTheRestForTheNextPoll)
{
    ASSERT_TRUE(probed);
    Strings sent;
    for (int i = 0; i < 30; ++i) {
        sent.push_back("M" + std::to_string(100 + i) + std::string(150, '.'));
        ASSERT_NE(emulated.modem.Receive(sent.back()), 0u);
    }
    ASSERT_EQ(modem.ReadAll(), 0);
    const std::size_t first = modem.messages.size();
    EXPECT_GT(first, 0u);
    EXPECT_LT(first, 30u); // about 4 KB of 6.5
    for (int poll = 0; poll < 5 && !emulated.modem.Stored().empty(); ++poll)
        ASSERT_EQ(modem.ReadAll(), 0);
    Strings expected;
    for (const std::string& text : sent)
        expected.push_back(text + "\r");
    EXPECT_EQ(Texts(modem.messages), expected); // each once, in order
    EXPECT_TRUE(emulated.modem.Stored().empty());
    for (const std::string& command : emulated.modem.Commands())
        EXPECT_NE(command.rfind("AT+CMGDA", 0), 0u);
}

TEST_F(ProbedModem, SendsTheAddressCommandThenTheTwelveDigitsAndCtrlZ)
{
    ASSERT_TRUE(probed);
    const std::string before = emulated.modem.Received();
    // Refused without a byte on the line.
    for (const QString& phone : {QStringLiteral("0161234567"), QString(), QStringLiteral("91612x4567"),
                                QStringLiteral("916 1234567"), QString(30, QLatin1Char('9'))})
        EXPECT_FALSE(modem.SendSms(phone, kPayload)) << phone.toStdString();
    EXPECT_EQ(emulated.modem.Received(), before);

    ASSERT_TRUE(modem.SendSms(QStringLiteral("9161234567"), kPayload));
    EXPECT_EQ(emulated.modem.Received().substr(before.size()), "AT+CMGS=\"+79161234567\"\r01AB00FF7BC0\x1A");
    ASSERT_EQ(emulated.modem.Sent().size(), 1u);
    EXPECT_EQ(emulated.modem.Sent()[0].number, "+79161234567");
    EXPECT_EQ(emulated.modem.Sent()[0].text, "01AB00FF7BC0");
    // The longest number that fits.
    EXPECT_TRUE(modem.SendSms(QString(29, QLatin1Char('9')), kPayload));
    EXPECT_EQ(emulated.modem.Sent().back().number, "+7" + std::string(29, '9'));

    CGsmModem closed(kQuickTimeouts);
    EXPECT_FALSE(closed.SendSms(QStringLiteral("9161234567"), kPayload));
}

TEST(GsmModemSendSms, AnAnswerOtherThanThePromptGivesFalseAndNoBody)
{
    const struct
    {
        const char* name;
        T_MODEMFAULTS faults;
    } cases[] = {
        {"error", ErrorTo("AT+CMGS")},
        {"echo still on", ErrorTo("ATE0")}, // the answer starts with the command's echo
    };
    for (const auto& c : cases) {
        CEmulatedModem emulated(c.faults);
        MapModemPorts({{0, emulated.Path()}});
        CGsmModem modem(kQuickTimeouts);
        ASSERT_TRUE(modem.Probe()) << c.name;
        const std::size_t before = emulated.modem.Received().size();
        EXPECT_FALSE(modem.SendSms(QStringLiteral("9161234567"), kPayload)) << c.name;
        EXPECT_TRUE(emulated.modem.Sent().empty()) << c.name;
        // An escape ends a text the modem might wait for, so polling goes on.
        const std::string command = "AT+CMGS=\"+79161234567\"\r";
        ASSERT_TRUE(QTest::qWaitFor([&] { return emulated.modem.Received().size() > before + command.size(); }, 5000))
            << c.name;
        const std::string written = emulated.modem.Received().substr(before);
        EXPECT_EQ(written.find("01AB"), std::string::npos) << c.name;
        EXPECT_EQ(written, command + "\x1B") << c.name;
        EXPECT_EQ(modem.ReadAll(), 1) << c.name;
    }
}

TEST(GsmModemFailures, APortFailingInAPollThrowsAndTheModemIsClosedAllTheSame)
{
    T_MODEMFAULTS hangUp;
    hangUp.hangUpOn = "AT+CMGL";
    CEmulatedModem emulated(hangUp);
    const std::string path = emulated.Path();
    MapModemPorts({{0, path}});
    auto modem = std::make_unique<CGsmModem>(kQuickTimeouts);
    ASSERT_TRUE(modem->Probe());
    emulated.modem.Receive("A");
    EXPECT_EQ(Thrown([&] { modem->ReadAll(); }), static_cast<std::uint32_t>(EIO));
    EXPECT_TRUE(modem->port().IsOpen());
    EXPECT_EQ(Thrown([&] { modem->ReadAll(); }), static_cast<std::uint32_t>(EIO)); // and again next time
    EXPECT_TRUE(modem->messages.empty());
    EXPECT_EQ(emulated.modem.Stored().size(), 1u); // nothing deleted

    // Discarding and flushing fail on the hung-up line; destroying still closes it.
    EXPECT_EQ(Thrown([&] { modem->port().Purge(CSerialPortTimeout::kPurgeRxClear); }), static_cast<std::uint32_t>(EIO));
    EXPECT_EQ(Thrown([&] { modem->port().Flush(); }), static_cast<std::uint32_t>(EIO));
    EXPECT_EQ(OpenDescriptors(path), 2); // the modem's, and the emulator's own
    modem.reset();
    EXPECT_EQ(OpenDescriptors(path), 1);
}

TEST(GsmModemFailures, ARecordIsKeptOnceItsDeleteCommandWentOut)
{
    T_MODEMFAULTS hangUp;
    hangUp.hangUpOn = "AT+CMGD=2";
    CEmulatedModem emulated(hangUp);
    MapModemPorts({{0, emulated.Path()}});
    CGsmModem modem(kQuickTimeouts);
    ASSERT_TRUE(modem.Probe());
    for (const char* text : {"A", "B", "C"})
        emulated.modem.Receive(text);
    EXPECT_EQ(Thrown([&] { modem.ReadAll(); }), static_cast<std::uint32_t>(EIO));
    EXPECT_EQ(Texts(modem.messages), (Strings{"A\r", "B\r"}));
}

TEST(GsmModemListing, AnEntryLackingASeparatorIsSkippedAndTheNextOneTaken)
{
    const auto entry = [](int index, const std::string& body) {
        return "+CMGL: " + std::to_string(index) + ",\"REC READ\",\"+79161234567\",\"\",\"25/12/10,12:00:00+12\"\r\n"
               + body + "\r\n";
    };
    const struct
    {
        const char* name;
        std::string broken;
    } cases[] = {
        {"no comma after the index", "+CMGL: 2\r\nbody\r\n"},
        {"no comma after the status", "+CMGL: 2,\"REC READ\"\r\nbody\r\n"},
        {"no comma after the address", "+CMGL: 2,\"REC READ\",\"+7916\"\r\nbody\r\n"},
        {"no comma after the alpha", "+CMGL: 2,\"REC READ\",\"+7916\",\"\"\r\nbody\r\n"},
        {"no stamp after the last comma", "+CMGL: 2,\"REC READ\",\"+7916\",\"\",\r\nbody\r\n"},
        {"an index that is no number", "+CMGL: x,\"REC READ\",\"+7916\",\"\",\"25/12/10,12:00:00+12\"\r\nbody\r\n"},
        {"no line end in the header", "+CMGL: 2,\"REC READ\",\"+7916\",\"\",\"25/12/10,12:00:00+12\"+CMGL: 9,"},
    };
    for (const auto& c : cases) {
        const std::string listing = "\r\n" + entry(1, "one") + c.broken + entry(3, "three") + "\r\nOK\r\n";
        std::vector<T_SMS> records;
        std::vector<unsigned> indices;
        CGsmModem::ParseListing(listing, records, indices);
        EXPECT_EQ(indices, (std::vector<unsigned>{1, 3})) << c.name;
        EXPECT_EQ(Texts(records), (Strings{"one\r", "three\r"})) << c.name;
    }
    // A listing cut in an entry's header or body: the whole entries before it.
    for (const std::string& cut : {entry(1, "one") + "+CMGL: 2,\"REC", entry(1, "one") + entry(2, "two").substr(0, 64)}) {
        std::vector<T_SMS> records;
        std::vector<unsigned> indices;
        CGsmModem::ParseListing(cut, records, indices);
        EXPECT_EQ(indices, std::vector<unsigned>{1});
    }
}

TEST(GsmModemListing, AnyBytesAreParsedWithoutHarm)
{
    // Fragments of entries in random order and length.
    const Strings pieces{"+CMGL: ", "1", "99999", "123456", ",", "\"", "\r\n", "\n", "\r", "REC", "OK\r\n", "x"};
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::string listing;
        const int count = static_cast<int>(random() % 40);
        for (int i = 0; i < count; ++i)
            listing += pieces[random() % pieces.size()];
        std::vector<T_SMS> records;
        std::vector<unsigned> indices;
        CGsmModem::ParseListing(listing, records, indices);
        ASSERT_EQ(records.size(), indices.size());
        ASSERT_LE(records.size(), static_cast<std::size_t>(count));
        for (const T_SMS& sms : records) {
            ASSERT_LT(std::strlen(sms.text), sizeof sms.text);
            ASSERT_LT(std::strlen(sms.sender), sizeof sms.sender);
            ASSERT_LT(std::strlen(sms.stamp), sizeof sms.stamp);
        }
    }
}

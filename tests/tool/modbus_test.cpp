// The Modbus RTU master against the controller emulator on a pseudo-terminal.
#include "common/crc16.h"
#include "common/settings_store.h"
#include "sim/controller_registers.h"
#include "sim/modbus_slave.h"
#include "sim/modbus_slave_link.h"
#include "common/serial_device.h"
#include "tool/modbus/local_modbus.h"
#include "tool/modbus/modbus_exception.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <thread>

#include <poll.h>
#include <pty.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// Waits until the thread is blocked in poll(), as the kernel reports in
// /proc/self/task/<tid>/syscall (the number of the system call it is in).
bool WaitUntilInPoll(pid_t thread, int timeoutMs)
{
    const std::string path = "/proc/self/task/" + std::to_string(thread) + "/syscall";
    const auto deadline = Clock::now() + milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        std::ifstream file(path);
        long number = -1;
        if (file >> number) {
#ifdef SYS_poll
            if (number == SYS_poll)
                return true;
#endif
            if (number == SYS_ppoll)
                return true;
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    return false;
}

std::vector<std::uint8_t> Hex(const char* hex)
{
    const QByteArray bytes = QByteArray::fromHex(hex);
    return {bytes.begin(), bytes.end()};
}

QString Path(const std::string& path) { return QString::fromStdString(path); }

constexpr std::uint32_t kResponseTimeout = 200;

class ModbusTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        registers.FreezeReadings(true);
        ASSERT_TRUE(link.StartOnPty());
        master.responseTimeout = kResponseTimeout;
        ASSERT_TRUE(master.Open(Path(link.Path()), 0, 115200));
    }

    std::vector<std::uint16_t> Holding(std::uint16_t start, std::uint16_t count) const
    {
        std::vector<std::uint16_t> values;
        for (std::uint16_t n = 0; n < count; ++n)
            values.push_back(registers.Holding(static_cast<std::uint16_t>(start + n)));
        return values;
    }

    CControllerRegisters registers;
    CModbusSlave slave{registers};
    CModbusSlaveLink link{slave};
    CLocalModbus master;
};

TEST_F(ModbusTest, ReadsAndWritesTheControllerRegisters)
{
    std::vector<std::uint16_t> values;   // grown by the read
    ASSERT_EQ(master.ReadHoldingRegisters(64, 0, values), MB_OK);
    EXPECT_EQ(values, Holding(0, 64));
    EXPECT_EQ(values[0], 0xA8C0);   // 192.168.1.10 as the controller stores it

    registers.PresentKey(CControllerRegisters::Key{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF});
    ASSERT_EQ(master.ReadInputRegisters(11, values), MB_OK);
    EXPECT_EQ(values[7], 0x0123);
    EXPECT_EQ(values[10], 0xCDEF);

    std::vector<std::uint16_t> block(64);
    for (std::uint16_t k = 0; k < 64; ++k)
        block[k] = static_cast<std::uint16_t>(0x3000 + k);
    ASSERT_EQ(master.WriteMultipleRegisters(64, 128 * 22, block), MB_OK);
    EXPECT_EQ(Holding(128 * 22, 64), block);
}

TEST_F(ModbusTest, RequestFramesCarryTheirCrcLowByteFirst)
{
    std::vector<std::uint16_t> values;
    ASSERT_EQ(master.ReadHoldingRegisters(1, 0, values), MB_OK);
    EXPECT_EQ(slave.LastRequest(), Hex("010300000001840a"));
    ASSERT_EQ(master.ReadInputRegisters(11, values), MB_OK);
    EXPECT_EQ(slave.LastRequest(), Hex("01040000000bb1cd"));
    ASSERT_EQ(master.ReadHoldingRegisters(64, 64, values), MB_OK);
    EXPECT_EQ(slave.LastRequest(), Hex("01030040004045ee"));

    // 64 registers: 7 header bytes, 128 data bytes, byte count 0x80, then the CRC.
    std::vector<std::uint16_t> block(64, 0xBEEF);
    ASSERT_EQ(master.WriteMultipleRegisters(64, 128, block), MB_OK);
    const auto request = slave.LastRequest();
    ASSERT_EQ(request.size(), 137u);
    EXPECT_EQ(std::vector<std::uint8_t>(request.begin(), request.begin() + 9), Hex("0110008000408" "0beef"));
    EXPECT_EQ(LoadCrcLowFirst(request.data() + 135), Crc16Modbus({request.data(), 135}));
}

// A complete reply ends the exchange at once: the master waits for exactly
// the reply length (8 bytes for a write, 3 + 2 x count + 2 for a read) and
// never for a time-out of its own.
TEST_F(ModbusTest, ACompleteReplyEndsTheExchangeWithoutWaitingForTimeouts)
{
    master.responseTimeout = 3000;
    ASSERT_TRUE(master.Open(Path(link.Path()), 255, 0));
    std::vector<std::uint16_t> values(64, 0x1234);
    auto start = Clock::now();
    ASSERT_EQ(master.WriteMultipleRegisters(64, 0, values), MB_OK);
    EXPECT_LT(MsSince(start), 1500);
    start = Clock::now();
    ASSERT_EQ(master.ReadHoldingRegisters(64, 0, values), MB_OK);
    EXPECT_LT(MsSince(start), 1500);

    std::vector<std::uint8_t> request{0x01, 0x03, 0x00, 0x00, 0x00, 0x02};
    std::vector<std::uint8_t> reply;
    std::uint16_t received = 0;
    ASSERT_EQ(master.Transact(request, 6, reply, 7, &received), MB_OK);
    EXPECT_EQ(received, 7);
    EXPECT_EQ(reply, Hex("0103041234" "1234"));
}

struct FaultCase
{
    const char* name;
    T_SLAVEFAULTS faults;
    std::uint16_t code;
    const char* text;
};

class ModbusFaultTest : public ModbusTest, public ::testing::WithParamInterface<FaultCase>
{
};

TEST_P(ModbusFaultTest, EachOperationReportsTheFault)
{
    const FaultCase& c = GetParam();
    slave.SetFaults(c.faults);
    std::vector<std::uint16_t> values(64, 0x5555);
    const std::uint16_t codes[] = {
        master.ReadHoldingRegisters(64, 0, values),
        master.ReadInputRegisters(11, values),
        master.WriteMultipleRegisters(64, 0, values),
    };
    for (std::uint16_t code : codes) {
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(master.ErrorMessage(code), QString::fromLatin1(c.text));
    }
    EXPECT_EQ(slave.RequestCount(), 3u);
}

T_SLAVEFAULTS Silent() { T_SLAVEFAULTS f; f.silent = true; return f; }
T_SLAVEFAULTS WrongAddress() { T_SLAVEFAULTS f; f.wrongAddress = true; return f; }
T_SLAVEFAULTS BadCrc() { T_SLAVEFAULTS f; f.badCrc = true; return f; }
T_SLAVEFAULTS Short(int n) { T_SLAVEFAULTS f; f.shortReply = n; return f; }
T_SLAVEFAULTS Exception(std::uint8_t e) { T_SLAVEFAULTS f; f.exceptionCode = e; return f; }
T_SLAVEFAULTS Cut(int n) { T_SLAVEFAULTS f; f.cutReply = n; return f; }
T_SLAVEFAULTS Function(int b) { T_SLAVEFAULTS f; f.functionByte = b; return f; }
T_SLAVEFAULTS ExceptionAs(std::uint8_t e, int b) { T_SLAVEFAULTS f = Exception(e); f.functionByte = b; return f; }

INSTANTIATE_TEST_SUITE_P(
    Faults, ModbusFaultTest,
    ::testing::Values(
        FaultCase{"Silent", Silent(), MB_ERR_TIMEOUT, "Time Out Error"},
        FaultCase{"WrongAddress", WrongAddress(), MB_ERR_INVALID_RESPONSE, "invalid returned device response"},
        FaultCase{"OtherFunction", Function(0x06), MB_ERR_INVALID_RESPONSE, "invalid returned device response"},
        // 0x80 itself is no exception reply: a full reply fails the function check...
        FaultCase{"Function80", Function(0x80), MB_ERR_INVALID_RESPONSE, "invalid returned device response"},
        // ... and a 5-byte one the CRC check.
        FaultCase{"Exception80", ExceptionAs(2, 0x80), MB_ERR_CRC, "crc error"},
        FaultCase{"BadCrc", BadCrc(), MB_ERR_CRC, "crc error"},
        FaultCase{"OneByte", Short(1), MB_ERR_CRC, "crc error"},
        FaultCase{"TwoBytes", Short(2), MB_ERR_CRC, "crc error"},
        FaultCase{"ThreeBytes", Short(3), MB_ERR_CRC, "crc error"},
        // Short frames with a correct CRC of their own are short all the same.
        FaultCase{"CutToThree", Cut(3), MB_ERR_CRC, "crc error"},
        FaultCase{"CutToFive", Cut(5), MB_ERR_CRC, "crc error"},
        FaultCase{"Exception2", Exception(2), 0x8002, "Modbus device return an exception code 2"},
        FaultCase{"Exception255", Exception(255), 0x80FF, "Modbus device return an exception code 255"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ModbusTest, AWrongByteCountIsAccepted)
{
    T_SLAVEFAULTS faults;
    faults.byteCountDelta = 3;
    slave.SetFaults(faults);
    std::vector<std::uint16_t> values;
    ASSERT_EQ(master.ReadHoldingRegisters(64, 0, values), MB_OK);
    EXPECT_EQ(values, Holding(0, 64));
}

TEST_F(ModbusTest, TheControllersOwnExceptionsComeBack)
{
    std::vector<std::uint16_t> values;
    // Between the SMS blocks there are no registers; the input block has 11.
    EXPECT_EQ(master.ReadHoldingRegisters(64, 128 + 64, values), 0x8002);
    EXPECT_EQ(master.ReadInputRegisters(12, values), 0x8002);
    // The controller refuses a byte count that disagrees with the count.
    EXPECT_EQ(master.ReadHoldingRegisters(126, 0, values), 0x8003);
}

TEST_F(ModbusTest, AttemptsRepeatAFailedRequest)
{
    struct Case
    {
        T_SLAVEFAULTS faults;
        std::uint16_t attempts;
        std::uint16_t code;
        std::uint64_t requests;
    };
    const Case cases[] = {
        {WrongAddress(), 5, MB_ERR_INVALID_RESPONSE, 5},
        {Silent(), 3, MB_ERR_TIMEOUT, 3},
        {Silent(), 0, MB_ERR_TIMEOUT, 1},   // 0 still makes one exchange
        {T_SLAVEFAULTS{}, 5, MB_OK, 1},     // success ends the loop
    };
    std::uint64_t before = slave.RequestCount();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.attempts);
        slave.SetFaults(c.faults);
        master.attempts = c.attempts;
        std::vector<std::uint16_t> values;
        EXPECT_EQ(master.ReadHoldingRegisters(4, 0, values), c.code);
        EXPECT_EQ(slave.RequestCount() - before, c.requests);
        before = slave.RequestCount();
    }
}

TEST_F(ModbusTest, ASilentControllerCostsTheReadTimeoutsAndThePause)
{
    slave.SetFaults(Silent());
    // At 115200 bit/s: 1 ms per byte of the 4-byte first read + the response time-out.
    const long long oneExchange = 4 + kResponseTimeout;
    std::vector<std::uint16_t> values;
    auto start = Clock::now();
    EXPECT_EQ(master.ReadHoldingRegisters(64, 0, values), MB_ERR_TIMEOUT);
    auto elapsed = MsSince(start);
    EXPECT_GE(elapsed, oneExchange - 1);
    EXPECT_LT(elapsed, oneExchange + 700);

    master.attempts = 2;
    master.pauseAfterError = 100;
    start = Clock::now();
    EXPECT_EQ(master.ReadHoldingRegisters(64, 0, values), MB_ERR_TIMEOUT);
    elapsed = MsSince(start);
    EXPECT_GE(elapsed, 2 * (oneExchange + 100) - 1);
    EXPECT_LT(elapsed, 2 * (oneExchange + 100) + 900);
}

TEST_F(ModbusTest, AClosedPortAnswers10WithoutTouchingTheLine)
{
    CLocalModbus closed;
    EXPECT_FALSE(closed.IsOpen());
    std::vector<std::uint16_t> values(64);
    const auto start = Clock::now();
    EXPECT_EQ(closed.ReadHoldingRegisters(64, 0, values), MB_ERR_NOT_OPEN);
    EXPECT_EQ(closed.ReadInputRegisters(11, values), MB_ERR_NOT_OPEN);
    EXPECT_EQ(closed.WriteMultipleRegisters(64, 0, values), MB_ERR_NOT_OPEN);
    EXPECT_LT(MsSince(start), 100);
    EXPECT_EQ(closed.ErrorMessage(MB_ERR_NOT_OPEN), QStringLiteral("Comm port not opened"));

    EXPECT_TRUE(master.Close());
    EXPECT_FALSE(master.IsOpen());
    EXPECT_EQ(master.ReadHoldingRegisters(64, 0, values), MB_ERR_NOT_OPEN);
    EXPECT_EQ(slave.RequestCount(), 0u);
    EXPECT_TRUE(master.Close());   // closing a closed port does nothing
}

TEST_F(ModbusTest, ALineThatHangsUpFailsTheWrite)
{
    link.Stop();
    std::vector<std::uint16_t> values(64);
    const std::uint16_t code = master.WriteMultipleRegisters(64, 0, values);
    EXPECT_EQ(code, MB_ERR_WRITE);
    EXPECT_EQ(master.ErrorMessage(code), QStringLiteral("Write communication error"));
}

// A peer of our own that takes the request and then hangs up, so that the
// write succeeds and the read of the reply fails.
TEST(ModbusReadFailure, ALineThatHangsUpAfterTheRequestFailsTheRead)
{
    int ptyMaster = -1;
    int ptySlave = -1;
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    ASSERT_EQ(openpty(&ptyMaster, &ptySlave, name, &raw, nullptr), 0);
    ::close(ptySlave);

    CLocalModbus master;
    master.responseTimeout = 3000;
    ASSERT_TRUE(master.Open(QString::fromLatin1(name), 0, 115200));
    const pid_t masterThread = ::gettid();
    bool sawRead = false;
    std::thread peer([ptyMaster, masterThread, &sawRead] {
        std::uint8_t request[8];
        std::size_t got = 0;
        const auto deadline = Clock::now() + milliseconds(3000);
        while (got < sizeof(request) && Clock::now() < deadline) {
            pollfd p{ptyMaster, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                const ssize_t n = ::read(ptyMaster, request + got, sizeof(request) - got);
                if (n > 0)
                    got += static_cast<std::size_t>(n);
            }
        }
        // Hang up only once the master has left its write and waits in
        // poll() for the reply: a hang-up before that fails the write.
        sawRead = WaitUntilInPoll(masterThread, 3000);
        ::close(ptyMaster);
    });
    std::vector<std::uint16_t> values;
    const auto start = Clock::now();
    const std::uint16_t code = master.ReadHoldingRegisters(1, 0, values);
    peer.join();
    ASSERT_TRUE(sawRead);
    EXPECT_EQ(code, MB_ERR_READ);
    EXPECT_EQ(master.ErrorMessage(code), QStringLiteral("Read communication error"));
    EXPECT_LT(MsSince(start), 2500);   // not the read time-out
}

TEST_F(ModbusTest, TimeoutsFollowTheLineSpeedAndCharTimeoutOnlyGrows)
{
    struct Step
    {
        std::uint16_t dataBits;
        std::uint32_t baudRate;
        std::uint32_t readInterval;   // also the write per-byte part
        std::uint32_t readPerByte;
    };
    struct Case
    {
        const char* name;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"9600", {{8, 9600, 5, 1}}},
        {"115200", {{8, 115200, 0, 1}}},
        {"7 bits 9600", {{7, 9600, 4, 1}}},
        {"1200", {{8, 1200, 40, 10}}},
        {"9600 then 115200", {{8, 9600, 5, 1}, {8, 115200, 5, 1}}},
        {"1200 then 9600 then 115200", {{8, 1200, 40, 10}, {8, 9600, 40, 1}, {8, 115200, 40, 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CLocalModbus fresh;
        fresh.responseTimeout = 250;
        for (const auto& step : c.steps) {
            fresh.dataBits = step.dataBits;
            master.Close();   // the fixture's master holds the port
            ASSERT_TRUE(fresh.Open(Path(link.Path()), 0, step.baudRate));
            const T_SERIALTIMEOUTS expected{step.readInterval, step.readPerByte, 250, step.readInterval, 250};
            EXPECT_EQ(fresh.Timeouts(), expected);
            EXPECT_EQ(fresh.charTimeout, step.readInterval);
        }
    }
}

// A written frame counts as sent when the driver's queue has emptied within
// the frame's own time on the line plus the response time-out. A pty sends
// at no speed, so the budget is checked as numbers.
TEST(ModbusDrainLimit, TheFramesOwnTimeOnTheLineComesFirst)
{
    const struct
    {
        std::size_t bytes;
        std::uint32_t baudRate;
        std::uint8_t dataBits, parity, stopBits;
        std::uint32_t ms;
    } cases[] = {
        {137, 2400, 8, 0, 0, 571},     // the first settings block: 1370 bits
        {137, 4800, 8, 2, 0, 314},     // with even parity: 1507 bits
        {137, 4800, 8, 0, 0, 286},
        {137, 115200, 8, 0, 0, 12},
        {8, 115200, 8, 0, 0, 1},       // a read request: 80 bits, rounded up
        {8, 9600, 8, 1, 2, 10},        // odd parity, two stop bits: 12 bits a character
        {10, 300, 5, 0, 1, 250},       // one and a half stop bits: 7.5 bits a character
        {12, 1200, 7, 3, 0, 100},      // mark parity is a parity bit too
        {0, 2400, 8, 0, 0, 0},
        {137, 0, 8, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bytes << " bytes at " << c.baudRate << " " << int(c.dataBits) << "/"
                                        << int(c.parity) << "/" << int(c.stopBits));
        EXPECT_EQ(TransmitTimeMs(c.bytes, c.baudRate, c.dataBits, c.parity, c.stopBits), c.ms);
    }

    // The master's budget for "Запись" at 2400 bit/s: the block's 571 ms
    // plus the tool's 300 ms response time-out.
    CLocalModbus master;
    master.responseTimeout = 300;
    master.baudRate = 2400;
    master.dataBits = 0x0108;   // only its low byte counts
    master.parity = 0;
    EXPECT_EQ(master.DrainLimitMs(137), 871u);
    master.baudRate = 4800;
    master.parity = 2;
    EXPECT_EQ(master.DrainLimitMs(137), 614u);
}

TEST_F(ModbusTest, OpenWithSpeed0AndParity255KeepsTheStoredValues)
{
    ASSERT_TRUE(master.Open(Path(link.Path()), 2, 19200));
    ASSERT_TRUE(master.Open(Path(link.Path()), 255, 0));
    EXPECT_EQ(master.baudRate, 19200u);
    EXPECT_EQ(master.parity, 2);
    T_SERIALLINE line;
    ASSERT_TRUE(master.Line(&line));
    EXPECT_EQ(line.baudRate, 19200u);   // a pty keeps the speed, not the parity
    ASSERT_TRUE(master.Open(Path(link.Path()), 0, 9600));
    EXPECT_EQ(master.baudRate, 9600u);
    EXPECT_EQ(master.parity, 0);
    std::vector<std::uint16_t> values;
    EXPECT_EQ(master.ReadHoldingRegisters(2, 0, values), MB_OK);
}

TEST_F(ModbusTest, OpenResolvesComNamesThroughThePortsSection)
{
    master.Close();
    CSettingsStore store(QString::fromUtf16(Settings::kToolProgram));
    store.WriteString(QString::fromUtf16(Settings::kPortsSection), QStringLiteral("COM12"), Path(link.Path()));

    CLocalModbus named;
    ASSERT_TRUE(named.Open(QStringLiteral("COM12"), 255, 0));
    EXPECT_EQ(named.portName, QStringLiteral("COM12"));
    std::vector<std::uint16_t> values;
    EXPECT_EQ(named.ReadHoldingRegisters(2, 0, values), MB_OK);
    named.Close();

    for (const char* name : {"COM0", "COM9999", "", "PORT1", "/dev/ostrel-no-such-port"}) {
        SCOPED_TRACE(name);
        CLocalModbus missing;
        EXPECT_FALSE(missing.Open(QString::fromLatin1(name), 0, 9600));
        EXPECT_FALSE(missing.IsOpen());
    }
}

TEST_F(ModbusTest, APortHeldElsewhereCannotBeOpened)
{
    CLocalModbus second;
    EXPECT_FALSE(second.Open(Path(link.Path()), 0, 115200));
    EXPECT_FALSE(second.IsOpen());
    master.Close();
    EXPECT_TRUE(second.Open(Path(link.Path()), 0, 115200));
    // An open that fails leaves the master's own open port closed first.
    EXPECT_FALSE(master.Open(Path(link.Path()), 0, 115200));
    EXPECT_FALSE(master.IsOpen());
}

TEST_F(ModbusTest, ALineSettingTheDeviceRefusesFailsOpenButLeavesThePortOpen)
{
    master.dataBits = 9;
    EXPECT_FALSE(master.Open(Path(link.Path()), 0, 115200));
    EXPECT_TRUE(master.IsOpen());
    master.dataBits = 8;
    ASSERT_TRUE(master.Open(Path(link.Path()), 0, 115200));
    std::vector<std::uint16_t> values;
    EXPECT_EQ(master.ReadHoldingRegisters(2, 0, values), MB_OK);
}

TEST_F(ModbusTest, OpenTellsAtWhichStepAndWhyItFailed)
{
    using Step = CLocalModbus::EOpenStep;
    EXPECT_EQ(master.LastOpenFailure().step, Step::kNone);

    master.dataBits = 9;
    EXPECT_FALSE(master.Open(Path(link.Path()), 0, 115200));
    EXPECT_EQ(master.LastOpenFailure().step, Step::kLine);
    EXPECT_EQ(master.LastOpenFailure().error, EINVAL);
    master.dataBits = 8;
    EXPECT_FALSE(master.Open(Path(link.Path()), 0, 12345));
    EXPECT_EQ(master.LastOpenFailure().step, Step::kLine);
    EXPECT_EQ(master.LastOpenFailure().error, EINVAL);
    EXPECT_FALSE(IsSettableBaudRate(12345));

    EXPECT_FALSE(master.Open(QStringLiteral("/dev/ostrel-no-such-port"), 0, 9600));
    EXPECT_EQ(master.LastOpenFailure().step, Step::kDevice);
    EXPECT_EQ(master.LastOpenFailure().error, ENOENT);
    EXPECT_FALSE(master.Open(QStringLiteral("COM0"), 0, 9600));
    EXPECT_EQ(master.LastOpenFailure().step, Step::kDevice);

    // Every speed offered for the line can be set, and a success clears the
    // failure.
    ASSERT_FALSE(SettableBaudRates().empty());
    for (const std::uint32_t rate : SettableBaudRates()) {
        ASSERT_TRUE(master.Open(Path(link.Path()), 0, rate)) << rate;
        EXPECT_EQ(master.LastOpenFailure().step, Step::kNone);
        EXPECT_TRUE(IsSettableBaudRate(rate));
    }
    EXPECT_EQ(SettableBaudRates().front(), 50u);
    EXPECT_TRUE(IsSettableBaudRate(115200));
}

TEST_F(ModbusTest, OpenFromSettingsUsesTheStoredRs232Values)
{
    master.Close();
    CSettingsStore store(QString::fromUtf16(Settings::kToolProgram));
    const QString rs232 = QString::fromUtf16(Settings::kRs232Section);
    store.WriteString(QString::fromUtf16(Settings::kPortsSection), QStringLiteral("COM5"), Path(link.Path()));
    store.WriteString(rs232, QString::fromUtf16(Settings::kRs232Port), QStringLiteral("COM5"));
    store.WriteInt(rs232, QString::fromUtf16(Settings::kRs232Baudrate), 9600);
    store.WriteInt(rs232, QString::fromUtf16(Settings::kRs232Size), 7);
    store.WriteInt(rs232, QString::fromUtf16(Settings::kRs232Parity), 2);

    CLocalModbus tool;
    tool.attempts = 5;
    ASSERT_TRUE(OpenFromSettings(tool));
    EXPECT_EQ(tool.portName, QStringLiteral("COM5"));
    EXPECT_EQ(tool.baudRate, 9600u);
    EXPECT_EQ(tool.dataBits, 7);
    EXPECT_EQ(tool.parity, 2);
    EXPECT_EQ(tool.responseTimeout, 300u);
    EXPECT_EQ(tool.attempts, 1);
    EXPECT_EQ(tool.Timeouts(), (T_SERIALTIMEOUTS{4, 1, 300, 4, 300}));
    std::vector<std::uint16_t> values;
    EXPECT_EQ(tool.ReadHoldingRegisters(64, 0, values), MB_OK);

    // Values that name no line are refused, not trusted.
    store.WriteString(rs232, QString::fromUtf16(Settings::kRs232Baudrate), QStringLiteral("fast"));
    store.WriteInt(rs232, QString::fromUtf16(Settings::kRs232Size), -3);
    EXPECT_FALSE(OpenFromSettings(tool));
}

TEST_F(ModbusTest, ThrowOnErrorRaisesTheCodeAndItsText)
{
    master.throwOnError = true;
    std::vector<std::uint16_t> values;
    EXPECT_EQ(master.ReadHoldingRegisters(2, 0, values), MB_OK);
    slave.SetFaults(Silent());
    try {
        master.ReadHoldingRegisters(2, 0, values);
        ADD_FAILURE() << "no exception";
    } catch (const CModbusException& e) {
        EXPECT_EQ(e.code, MB_ERR_TIMEOUT);
        EXPECT_EQ(e.message, QStringLiteral("Time Out Error"));
        EXPECT_STREQ(e.what(), "Time Out Error");
        EXPECT_STREQ(e.className(), "CModbusException");
    }
}

TEST_F(ModbusTest, RunTimeClassNames)
{
    EXPECT_STREQ(master.className(), "CLocalModbus");
    EXPECT_STREQ(master.CModbus::className(), "CModbus");
    const CModbus& base = master;
    EXPECT_STREQ(base.className(), "CLocalModbus");
}

TEST_F(ModbusTest, ConcurrentCallersTakeTurnsOnTheLine)
{
    auto worker = [this](std::uint16_t start, int* failures) {
        std::vector<std::uint16_t> values;
        for (int i = 0; i < 25; ++i) {
            if (master.ReadHoldingRegisters(64, start, values) != MB_OK || values != Holding(start, 64))
                ++*failures;
        }
    };
    int failuresA = 0;
    int failuresB = 0;
    std::thread a(worker, 0, &failuresA);
    std::thread b(worker, 64, &failuresB);
    a.join();
    b.join();
    EXPECT_EQ(failuresA, 0);
    EXPECT_EQ(failuresB, 0);
}

TEST_F(ModbusTest, RequestsThatCannotBeFramedAreRefusedBeforeTheLine)
{
    std::vector<std::uint16_t> few(10);
    EXPECT_EQ(master.WriteMultipleRegisters(64, 0, few), MB_ERR_BAD_REQUEST);
    std::vector<std::uint16_t> many(200);
    EXPECT_EQ(master.WriteMultipleRegisters(128, 0, many), MB_ERR_BAD_REQUEST);
    EXPECT_EQ(master.ReadHoldingRegisters(40000, 0, many), MB_ERR_BAD_REQUEST);
    EXPECT_EQ(master.ReadInputRegisters(65535, many), MB_ERR_BAD_REQUEST);
    EXPECT_EQ(slave.RequestCount(), 0u);

    std::vector<std::uint8_t> request{0x01, 0x03};
    std::vector<std::uint8_t> reply;
    EXPECT_EQ(master.Transact(request, 6, reply, 7, nullptr), MB_ERR_BAD_REQUEST);
}

// Transact called with a reply length shorter than an exception reply still
// reads and checks the exception without running off its buffer.
TEST_F(ModbusTest, TinyExpectedLengthsAreSafe)
{
    slave.SetFaults(Exception(2));
    for (std::uint16_t expected : {1, 2, 3}) {
        std::vector<std::uint8_t> request{0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
        std::vector<std::uint8_t> reply;
        EXPECT_EQ(master.Transact(request, 6, reply, expected, nullptr), 0x8002);
    }
}

// Whatever bytes come back, the master answers with one of its codes and
// never reads or writes outside its buffers.
TEST(ModbusAnyReply, RandomRepliesGiveACode)
{
    int ptyMaster = -1;
    int ptySlave = -1;
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    ASSERT_EQ(openpty(&ptyMaster, &ptySlave, name, &raw, nullptr), 0);

    CLocalModbus master;
    master.responseTimeout = 20;
    ASSERT_TRUE(master.Open(QString::fromLatin1(name), 0, 115200));
    std::atomic<bool> stop{false};
    std::thread peer([ptyMaster, &stop] {
        std::mt19937 random(4242);
        std::uint8_t request[256];
        while (!stop) {
            pollfd p{ptyMaster, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0 || ::read(ptyMaster, request, sizeof(request)) <= 0)
                continue;
            // Mostly replies that start like the real one, some pure noise.
            std::vector<std::uint8_t> reply(random() % 20);
            for (auto& b : reply)
                b = static_cast<std::uint8_t>(random());
            if (reply.size() > 2 && random() % 2) {
                reply[0] = 0x01;
                reply[1] = request[1];
            }
            if (!reply.empty())
                [[maybe_unused]] auto n = ::write(ptyMaster, reply.data(), reply.size());
        }
    });
    const std::set<std::uint16_t> plain{MB_OK, MB_ERR_TIMEOUT, MB_ERR_INVALID_RESPONSE, MB_ERR_CRC};
    std::vector<std::uint16_t> values;
    for (int i = 0; i < 120; ++i) {
        const std::uint16_t code = i % 3 == 0   ? master.ReadHoldingRegisters(4, 0, values)
                                   : i % 3 == 1 ? master.ReadInputRegisters(3, values)
                                                : master.WriteMultipleRegisters(4, 0, std::vector<std::uint16_t>(4));
        EXPECT_TRUE(plain.count(code) || (code & 0xFF00) == MB_ERR_EXCEPTION) << code;
    }
    stop = true;
    peer.join();
    master.Close();
    ::close(ptyMaster);
    ::close(ptySlave);
}

TEST(ModbusErrorMessage, CodesWithoutAnExchange)
{
    CLocalModbus master;
    EXPECT_EQ(master.ErrorMessage(MB_OK), QStringLiteral("Ok"));
    EXPECT_EQ(master.ErrorMessage(MB_ERR_LOCK_TIMEOUT), QStringLiteral("Critical section lock time-out error"));
    for (std::uint16_t unknown : {4, 7, 13, 0x7FFF, 0x8100, 0xFFFF})
        EXPECT_TRUE(master.ErrorMessage(unknown).isEmpty()) << unknown;
}

} // namespace

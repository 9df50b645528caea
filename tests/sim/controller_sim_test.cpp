// The controller emulator: its register file, its request handling with any
// bytes, libmodbus as an independent master, and the program as a process.
#include "common/crc16.h"
#include "sim/controller_registers.h"
#include "sim/modbus_slave.h"
#include "sim/modbus_slave_link.h"
#include "tests/support/temp_env.h"
#include "tool/modbus/local_modbus.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>
#include <modbus/modbus.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

std::vector<std::uint8_t> Hex(const char* hex)
{
    const QByteArray bytes = QByteArray::fromHex(hex);
    return {bytes.begin(), bytes.end()};
}

std::string TempFile(const char* name)
{
    return (MakeTempFolder() + QLatin1Char('/') + QLatin1String(name)).toStdString();
}

void WriteBytes(const std::string& path, const QByteArray& bytes)
{
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

TEST(ControllerRegisters, SaveAndLoadKeepTheHoldingRegisters)
{
    CControllerRegisters written;
    written.SetHolding(5, 0x1234);
    written.SetHolding(128 * 22 + 63, 0xABCD);   // last register of the last SMS block
    written.SetHolding(128 + 64, 0x7777);        // between blocks: holds nothing
    const std::string path = TempFile("controller.regs");
    std::string error;
    ASSERT_TRUE(written.Save(path, &error)) << error;

    CControllerRegisters read;
    ASSERT_TRUE(read.Load(path, &error)) << error;
    EXPECT_EQ(read.Holding(5), 0x1234);
    EXPECT_EQ(read.Holding(128 * 22 + 63), 0xABCD);
    EXPECT_EQ(read.Holding(128 + 64), 0);
    EXPECT_EQ(read.Holding(0), 0xA8C0);
}

TEST(ControllerRegisters, LoadRefusesWhatIsNotARegisterFile)
{
    const std::string good = TempFile("good.regs");
    std::string error;
    ASSERT_TRUE(CControllerRegisters().Save(good, &error));
    QFile file(QString::fromStdString(good));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();

    QByteArray wrongMagic = bytes;
    wrongMagic[0] = 'X';
    const QByteArray cases[] = {
        QByteArray(), bytes.left(8), bytes.left(bytes.size() - 1), bytes + QByteArray(1, '\0'),
        wrongMagic, QByteArray(100000, '\xFF'),
    };
    for (const auto& content : cases) {
        SCOPED_TRACE(content.size());
        const std::string path = TempFile("bad.regs");
        WriteBytes(path, content);
        CControllerRegisters registers;
        registers.SetHolding(1, 0x4242);
        EXPECT_FALSE(registers.Load(path, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(registers.Holding(1), 0x4242);
    }
    CControllerRegisters registers;
    EXPECT_FALSE(registers.Load("/nonexistent/ostrel.regs", &error));
}

TEST(ModbusSlave, AnswersOnlyWhatIsMeantForIt)
{
    CControllerRegisters registers;
    CModbusSlave slave(registers);
    struct Case
    {
        const char* request;   // without its CRC
        const char* reply;     // without its CRC; empty: no reply
        bool corruptCrc = false;
    };
    const Case cases[] = {
        {"010300000001", "010302a8c0"},
        {"010300000001", "", true},           // bad CRC
        {"020300000001", ""},                 // another slave
        {"010700", "0187" "01"},              // unknown function
        {"01030000007e", "0183" "03"},        // 126 registers
        {"010300c00001", "0183" "02"},        // between SMS blocks
        {"01040000000c", "0184" "02"},        // 12 input registers
        {"011000000001040001", "0190" "03"},  // byte count disagrees with count
        {"001000050001020102", ""},           // broadcast: applied, not answered
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        auto frame = Hex(c.request);
        const std::uint16_t crc = Crc16Modbus(frame) ^ (c.corruptCrc ? 0x0100 : 0);
        frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        frame.push_back(static_cast<std::uint8_t>(crc >> 8));
        const auto reply = slave.Answer(frame);
        if (*c.reply == '\0') {
            EXPECT_TRUE(reply.empty());
            continue;
        }
        const auto body = Hex(c.reply);
        ASSERT_EQ(reply.size(), body.size() + 2);
        EXPECT_TRUE(std::equal(body.begin(), body.end(), reply.begin()));
        EXPECT_EQ(Crc16Modbus({reply.data(), body.size()}),
                  static_cast<std::uint16_t>(reply[body.size()] | reply[body.size() + 1] << 8));
    }
    EXPECT_EQ(registers.Holding(5), 0x0102);
}

TEST(ModbusSlave, AnyBytesAreSafe)
{
    CControllerRegisters registers;
    CModbusSlave slave(registers);
    std::mt19937 random(12345);
    for (int i = 0; i < 20000; ++i) {
        std::vector<std::uint8_t> bytes(random() % 300);
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(random());
        if (!bytes.empty())
            bytes[0] = static_cast<std::uint8_t>(random() % 3);
        if (bytes.size() > 1)
            bytes[1] = static_cast<std::uint8_t>(std::array{3, 4, 16, 0x83}[random() % 4]);
        if (bytes.size() > 4) {
            // Half of them with a correct CRC, so that they get past it.
            if (random() % 2) {
                const std::uint16_t crc = Crc16Modbus({bytes.data(), bytes.size() - 2});
                bytes[bytes.size() - 2] = static_cast<std::uint8_t>(crc & 0xFF);
                bytes[bytes.size() - 1] = static_cast<std::uint8_t>(crc >> 8);
            }
        }
        const T_FRAMEEND end = FindRequestEnd(bytes);
        if (end.status == FrameStatus::Complete) {
            ASSERT_LE(end.length, bytes.size());
        }
        const auto reply = slave.Answer(bytes);
        ASSERT_LE(reply.size(), CModbusSlave::kMaxFrame);
    }
}

// libmodbus, an independent master, agrees with the emulator.
TEST(ModbusSlave, LibmodbusMasterReadsAndWritesTheEmulator)
{
    CControllerRegisters registers;
    registers.PresentKey(CControllerRegisters::Key{1, 2, 3, 4, 5, 6, 7, 8});
    CModbusSlave slave(registers);
    CModbusSlaveLink link(slave);
    ASSERT_TRUE(link.StartOnPty());

    modbus_t* ctx = modbus_new_rtu(link.Path().c_str(), 115200, 'N', 8, 1);
    ASSERT_NE(ctx, nullptr);
    modbus_set_slave(ctx, 1);
    ASSERT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);

    std::uint16_t values[64] = {};
    ASSERT_EQ(modbus_read_registers(ctx, 0, 64, values), 64) << modbus_strerror(errno);
    EXPECT_EQ(values[0], 0xA8C0);
    ASSERT_EQ(modbus_read_input_registers(ctx, 7, 4, values), 4) << modbus_strerror(errno);
    EXPECT_EQ(values[0], 0x0102);
    EXPECT_EQ(values[3], 0x0708);
    std::uint16_t block[64];
    for (int k = 0; k < 64; ++k)
        block[k] = static_cast<std::uint16_t>(0x4000 + k);
    ASSERT_EQ(modbus_write_registers(ctx, 128 * 5, 64, block), 64) << modbus_strerror(errno);
    EXPECT_EQ(registers.Holding(128 * 5 + 63), 0x403F);
    EXPECT_EQ(modbus_read_registers(ctx, 128 + 64, 1, values), -1);
    EXPECT_EQ(errno, EMBXILADD);
    modbus_close(ctx);
    modbus_free(ctx);
}

// Whether the exclusive mark of the tty at path is set, as a look through
// a new descriptor shows it: root passes the mark and reads it; any other
// user is refused with EBUSY while it is set.
bool MarkedExclusive(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EBUSY;
    int exclusive = 0;
    EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
    ::close(fd);
    return exclusive != 0;
}

// A master that marks the port exclusive and ends without lifting the mark,
// as a killed one does, leaves the pty free for the next master; a look by
// another opener meanwhile leaves the mark to its holder.
TEST(ModbusSlaveLink, TheExclusiveMarkOfAMasterEndsWithIt)
{
    CControllerRegisters registers;
    CModbusSlave slave(registers);
    CModbusSlaveLink link(slave);
    ASSERT_TRUE(link.StartOnPty());
    const std::string path = link.Path();
    constexpr int kDeadlineMs = 10000;

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        EXPECT_FALSE(MarkedExclusive(path));
        const int master = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(master, 0) << std::strerror(errno);
        ASSERT_EQ(::ioctl(master, TIOCEXCL), 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return link.PtyOpeners() == 1; }, kDeadlineMs));

        if (::geteuid() == 0) {
            const int look = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            ASSERT_GE(look, 0);
            ASSERT_TRUE(QTest::qWaitFor([&] { return link.PtyOpeners() == 2; }, kDeadlineMs));
            ::close(look);
            ASSERT_TRUE(QTest::qWaitFor([&] { return link.PtyOpeners() == 1; }, kDeadlineMs));
        } else {
            EXPECT_EQ(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC), -1);
            EXPECT_EQ(errno, EBUSY);
        }
        int exclusive = 0;
        ASSERT_EQ(::ioctl(master, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);

        ::close(master);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !MarkedExclusive(path); }, kDeadlineMs));
        ASSERT_TRUE(QTest::qWaitFor([&] { return link.PtyOpeners() == 0; }, kDeadlineMs));
    }

    // The next master opens the port the tool's way and is served.
    CLocalModbus master;
    master.responseTimeout = 300;
    ASSERT_TRUE(master.Open(QString::fromStdString(path), 0, 115200));
    std::vector<std::uint16_t> values;
    EXPECT_EQ(master.ReadHoldingRegisters(1, 0, values), MB_OK);
}

class ControllerProgram : public ::testing::Test
{
protected:
    void TearDown() override
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    QProcess process;
};

TEST_F(ControllerProgram, HelpNamesTheOptions)
{
    process.start(QStringLiteral(CONTROLLER_SIM), {QStringLiteral("--help")});
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 0);
    const QString help = QString::fromLocal8Bit(process.readAllStandardOutput());
    for (const char* option : {"--device", "--load", "--save", "--key", "--silent", "--wrong-address", "--bad-crc",
                               "--short-reply", "--exception", "--first-block-only"})
        EXPECT_TRUE(help.contains(QLatin1String(option))) << option;
}

TEST_F(ControllerProgram, ServesOnAPtyAndSavesWhatAWriteLeft)
{
    const std::string initial = TempFile("initial.regs");
    const std::string saved = TempFile("saved.regs");
    CControllerRegisters setup;
    setup.SetHolding(10, 0x0A0B);
    std::string error;
    ASSERT_TRUE(setup.Save(initial, &error));

    process.start(QStringLiteral(CONTROLLER_SIM),
                  {QStringLiteral("--load"), QString::fromStdString(initial), QStringLiteral("--save"),
                   QString::fromStdString(saved), QStringLiteral("--first-block-only")});
    ASSERT_TRUE(process.waitForStarted(10000));
    ASSERT_TRUE(process.waitForReadyRead(10000));
    const QString path = QString::fromLocal8Bit(process.readLine()).trimmed();
    ASSERT_TRUE(path.startsWith(QLatin1Char('/'))) << path.toStdString();

    CLocalModbus master;
    master.responseTimeout = 300;
    ASSERT_TRUE(master.Open(path, 0, 115200));
    std::vector<std::uint16_t> values;
    ASSERT_EQ(master.ReadHoldingRegisters(64, 0, values), MB_OK);
    EXPECT_EQ(values[10], 0x0A0B);
    EXPECT_EQ(master.ReadHoldingRegisters(64, 64, values), MB_ERR_TIMEOUT);   // the second block stays unanswered
    std::vector<std::uint16_t> block(64, 0x5A5A);
    ASSERT_EQ(master.WriteMultipleRegisters(64, 128 * 3, block), MB_OK);
    master.Close();

    // Saved before the write was answered.
    CControllerRegisters result;
    ASSERT_TRUE(result.Load(saved, &error)) << error;
    EXPECT_EQ(result.Holding(128 * 3), 0x5A5A);
    EXPECT_EQ(result.Holding(10), 0x0A0B);

    process.terminate();
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
}

TEST_F(ControllerProgram, NumbersAreDecimalOrHexadecimalNeverOctal)
{
    for (const auto& [given, code] : {std::pair{"010", 10}, std::pair{"0x11", 0x11}}) {
        SCOPED_TRACE(given);
        process.start(QStringLiteral(CONTROLLER_SIM), {QStringLiteral("--exception"), QString::fromLatin1(given)});
        ASSERT_TRUE(process.waitForReadyRead(10000));
        const QString path = QString::fromLocal8Bit(process.readLine()).trimmed();
        CLocalModbus master;
        master.responseTimeout = 300;
        ASSERT_TRUE(master.Open(path, 0, 115200));
        std::vector<std::uint16_t> values;
        EXPECT_EQ(master.ReadHoldingRegisters(1, 0, values), MB_ERR_EXCEPTION + code);
        master.Close();
        process.terminate();
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), 0);
    }
}

TEST_F(ControllerProgram, RefusesBadOptions)
{
    const std::string garbage = TempFile("garbage.regs");
    WriteBytes(garbage, QByteArray("not registers"));
    const QStringList cases[] = {
        {QStringLiteral("--key"), QStringLiteral("12345")},
        {QStringLiteral("--exception"), QStringLiteral("0")},
        {QStringLiteral("--short-reply"), QStringLiteral("x")},
        {QStringLiteral("--load"), QString::fromStdString(garbage)},
        {QStringLiteral("--device"), QStringLiteral("/dev/ostrel-no-such-port")},
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
        process.start(QStringLiteral(CONTROLLER_SIM), arguments);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_NE(process.exitCode(), 0);
    }
}

} // namespace

// The termios serial primitives and port name resolution, on pseudo-terminals.
#include "common/port_name.h"
#include "common/serial_device.h"
#include "common/settings_store.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// A pseudo-terminal whose master side the test holds as the peer.
class Pty
{
public:
    Pty()
    {
        char name[256] = {};
        termios raw{};
        cfmakeraw(&raw);
        if (openpty(&master_, &slave_, name, &raw, nullptr) == 0)
            path_ = name;
        // Only the device under test keeps the slave side open.
        ::close(slave_);
    }
    ~Pty() { CloseMaster(); }
    const std::string& Path() const { return path_; }
    int Master() const { return master_; }
    void CloseMaster()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }
    void Send(const std::vector<std::uint8_t>& bytes) const
    {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Everything the device sent within the deadline, up to count bytes.
    std::vector<std::uint8_t> Receive(std::size_t count, int deadlineMs = 2000) const
    {
        std::vector<std::uint8_t> bytes;
        const auto deadline = Clock::now() + milliseconds(deadlineMs);
        while (bytes.size() < count && Clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            std::uint8_t buffer[256];
            const ssize_t n = ::read(master_, buffer, std::min(sizeof(buffer), count - bytes.size()));
            if (n <= 0)
                break;
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
        return bytes;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// Waits until the device has count bytes waiting (bytes written to a pty
// master reach the slave side asynchronously).
bool WaitForInput(const CSerialDevice& device, int count)
{
    const auto deadline = Clock::now() + milliseconds(2000);
    while (Clock::now() < deadline) {
        int waiting = 0;
        if (::ioctl(device.Handle(), TIOCINQ, &waiting) == 0 && waiting >= count)
            return true;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return false;
}

class SerialDeviceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(pty.Path().empty());
        ASSERT_TRUE(device.Open(pty.Path())) << std::strerror(device.LastError());
    }

    Pty pty;
    CSerialDevice device;
};

TEST(SerialDeviceOpen, MissingDeviceFailsAndStaysClosed)
{
    CSerialDevice device;
    EXPECT_FALSE(device.Open("/dev/ostrel-no-such-port"));
    EXPECT_EQ(device.LastError(), ENOENT);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_TRUE(device.Close());
}

TEST_F(SerialDeviceTest, SecondOpenIsRefusedInThisAndAnotherProcess)
{
    CSerialDevice second;
    EXPECT_FALSE(second.Open(pty.Path()));
    EXPECT_EQ(second.LastError(), EBUSY);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CSerialDevice other;
        _exit(other.Open(pty.Path()) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << "another process opened the held port";

    // Released, it can be taken again.
    device.Close();
    EXPECT_TRUE(second.Open(pty.Path()));
}

// A pseudo-terminal keeps speed, stop bits and flow control but forces 8 data
// bits without parity, so size and parity are checked for acceptance only.
TEST_F(SerialDeviceTest, LineSettingsAreAppliedOrRefused)
{
    struct Case
    {
        T_SERIALLINE line;
        bool accepted;
        speed_t speed;
        bool twoStopBits;
        bool rtsCts;
    };
    const Case cases[] = {
        {{9600, 8, 0, 0, 0, false}, true, B9600, false, false},
        {{115200, 7, 2, 0, 0, false}, true, B115200, false, false},
        {{19200, 8, 1, 2, 0, false}, true, B19200, true, false},
        {{9600, 8, 3, 0, 0, false}, true, B9600, false, false},
        {{1200, 8, 4, 0, 0, false}, true, B1200, false, false},
        {{9600, 5, 0, 1, 0, false}, true, B9600, true, false},
        {{57600, 8, 0, 0, 2, false}, true, B57600, false, true},
        {{9600, 9, 0, 0, 0, false}, false, 0, false, false},
        {{9600, 8, 5, 0, 0, false}, false, 0, false, false},
        {{9600, 8, 0, 1, 0, false}, false, 0, false, false},
        {{9600, 8, 0, 3, 0, false}, false, 0, false, false},
        {{12345, 8, 0, 0, 0, false}, false, 0, false, false},
        {{0, 8, 0, 0, 0, false}, false, 0, false, false},
        {{9600, 8, 0, 0, 1, false}, false, 0, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.line.baudRate << " " << int(c.line.dataBits) << " parity "
                                        << int(c.line.parity) << " stop " << int(c.line.stopBits));
        ASSERT_EQ(device.SetLine(c.line), c.accepted);
        if (!c.accepted) {
            EXPECT_EQ(device.LastError() == EINVAL || device.LastError() == ENOTSUP, true);
            continue;
        }
        termios tio{};
        ASSERT_EQ(tcgetattr(device.Handle(), &tio), 0);
        EXPECT_EQ(cfgetospeed(&tio), c.speed);
        EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.twoStopBits);
        EXPECT_EQ((tio.c_cflag & CRTSCTS) != 0, c.rtsCts);
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
        T_SERIALLINE back;
        ASSERT_TRUE(device.GetLine(&back));
        EXPECT_EQ(back.baudRate, c.line.baudRate);
    }
    T_SERIALLINE xonxoff;
    xonxoff.flowControl = 0x04;
    ASSERT_TRUE(device.SetLine(xonxoff));
    termios tio{};
    ASSERT_EQ(tcgetattr(device.Handle(), &tio), 0);
    EXPECT_TRUE((tio.c_iflag & IXON) && (tio.c_iflag & IXOFF));
    EXPECT_EQ(tio.c_cc[VSTART], 0x11);
    EXPECT_EQ(tio.c_cc[VSTOP], 0x13);
}

TEST_F(SerialDeviceTest, ReadEndsWhenTheCountHasArrived)
{
    ASSERT_TRUE(device.SetTimeouts({0, 10, 3000, 0, 0}));
    pty.Send({1, 2, 3, 4, 5, 6});
    std::uint8_t buffer[6] = {};
    std::size_t got = 0;
    const auto start = Clock::now();
    ASSERT_TRUE(device.Read(buffer, 6, &got));
    EXPECT_EQ(got, 6u);
    EXPECT_LT(MsSince(start), 1500);
    EXPECT_EQ(buffer[5], 6);
}

TEST_F(SerialDeviceTest, ReadWithoutDataEndsAtTheTotalTimeWithoutError)
{
    // 10 ms per byte x 8 + 150 ms = 230 ms
    ASSERT_TRUE(device.SetTimeouts({40, 10, 150, 0, 0}));
    std::uint8_t buffer[8] = {};
    std::size_t got = 99;
    const auto start = Clock::now();
    EXPECT_TRUE(device.Read(buffer, 8, &got));
    const auto elapsed = MsSince(start);
    EXPECT_EQ(got, 0u);
    EXPECT_GE(elapsed, 229);   // the interval time-out does not run before the first byte
    EXPECT_LT(elapsed, 1000);
}

TEST_F(SerialDeviceTest, ReadEndsAfterTheIntervalFollowingAByte)
{
    ASSERT_TRUE(device.SetTimeouts({60, 0, 3000, 0, 0}));
    pty.Send({0x11, 0x22, 0x33});
    ASSERT_TRUE(WaitForInput(device, 3));
    std::uint8_t buffer[10] = {};
    std::size_t got = 0;
    const auto start = Clock::now();
    EXPECT_TRUE(device.Read(buffer, 10, &got));
    const auto elapsed = MsSince(start);
    EXPECT_EQ(got, 3u);
    EXPECT_GE(elapsed, 59);
    EXPECT_LT(elapsed, 1500);
}

TEST_F(SerialDeviceTest, ReadWithoutTimeoutsWaitsForTheCount)
{
    ASSERT_TRUE(device.SetTimeouts({}));
    std::thread peer([this] {
        pty.Send({1, 2});
        std::this_thread::sleep_for(milliseconds(100));   // a pause inside the reply
        pty.Send({3, 4});
    });
    std::uint8_t buffer[4] = {};
    std::size_t got = 0;
    const bool ok = device.Read(buffer, 4, &got);
    peer.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(got, 4u);
}

TEST_F(SerialDeviceTest, WriteIsBoundedByTheWriteTotalTime)
{
    // Nobody reads the master side, so the pty fills up.
    ASSERT_TRUE(device.SetTimeouts({0, 0, 0, 0, 200}));
    std::vector<std::uint8_t> data(4 * 1024 * 1024, 0x55);
    std::size_t sent = 0;
    const auto start = Clock::now();
    EXPECT_TRUE(device.Write(data.data(), data.size(), &sent));
    const auto elapsed = MsSince(start);
    EXPECT_LT(sent, data.size());
    EXPECT_GT(sent, 0u);
    EXPECT_GE(elapsed, 199);
    EXPECT_LT(elapsed, 2000);
}

TEST_F(SerialDeviceTest, WriteReachesThePeerAndTheQueueEmpties)
{
    const std::vector<std::uint8_t> frame{0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    std::size_t sent = 0;
    ASSERT_TRUE(device.Write(frame.data(), frame.size(), &sent));
    EXPECT_EQ(sent, frame.size());
    EXPECT_TRUE(device.WaitTransmitEmpty(1000));
    EXPECT_EQ(device.TransmitQueueLength(), 0);
    EXPECT_TRUE(device.Drain());
    EXPECT_EQ(pty.Receive(frame.size()), frame);
}

TEST_F(SerialDeviceTest, PurgeDiscardsWhatWaits)
{
    pty.Send({9, 9, 9, 9});
    ASSERT_TRUE(WaitForInput(device, 4));
    T_SERIALSTATUS status;
    ASSERT_TRUE(device.ClearError(&status));
    EXPECT_EQ(status.inQueue, 4u);
    ASSERT_TRUE(device.Purge(true, true));
    ASSERT_TRUE(device.ClearError(&status));
    EXPECT_EQ(status.inQueue, 0u);
    ASSERT_TRUE(device.SetTimeouts({0, 0, 50, 0, 0}));
    std::uint8_t buffer[4] = {};
    std::size_t got = 9;
    EXPECT_TRUE(device.Read(buffer, 4, &got));
    EXPECT_EQ(got, 0u);
}

TEST_F(SerialDeviceTest, HangUpFailsTransfersAndIsReportedOnce)
{
    ASSERT_TRUE(device.SetTimeouts({0, 0, 2000, 0, 500}));
    pty.CloseMaster();
    std::uint8_t buffer[4] = {};
    std::size_t got = 0;
    const auto start = Clock::now();
    EXPECT_FALSE(device.Read(buffer, 4, &got));
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_FALSE(device.Write(buffer, 4, &got));
    T_SERIALSTATUS status;
    device.ClearError(&status);
    EXPECT_TRUE(status.errors & T_SERIALSTATUS::kIoError);
}

TEST_F(SerialDeviceTest, OperationsOnAClosedDeviceFail)
{
    device.Close();
    EXPECT_FALSE(device.IsOpen());
    std::uint8_t byte = 0;
    std::size_t n = 0;
    EXPECT_FALSE(device.Read(&byte, 1, &n));
    EXPECT_FALSE(device.Write(&byte, 1, &n));
    EXPECT_FALSE(device.Purge(true, true));
    EXPECT_FALSE(device.SetTimeouts({}));
    EXPECT_FALSE(device.SetLine({}));
    EXPECT_EQ(device.TransmitQueueLength(), -1);
    EXPECT_TRUE(device.Close());
}

TEST(PortName, ResolvesDevicePathsAndMappedAndUnmappedComNames)
{
    CSettingsStore store(QStringLiteral("PortNameTest"));
    const QString ports = QString::fromUtf16(Settings::kPortsSection);
    store.WriteString(ports, QStringLiteral("COM3"), QStringLiteral("/dev/ttyUSB0"));
    store.WriteString(ports, QStringLiteral("COM0"), QStringLiteral("/dev/pts/7"));
    store.WriteString(ports, QStringLiteral("COM12"), QStringLiteral("/dev/ttyACM1"));

    struct Case
    {
        const char* name;
        const char* path;   // nullptr: no device
    };
    const Case cases[] = {
        {"/dev/pts/4", "/dev/pts/4"},
        {"COM1", "/dev/ttyS0"},
        {"COM2", "/dev/ttyS1"},
        {"com2", "/dev/ttyS1"},
        {"COM3", "/dev/ttyUSB0"},
        {"COM03", "/dev/ttyUSB0"},
        {"COM12", "/dev/ttyACM1"},
        {"COM13", "/dev/ttyS12"},
        {"COM0", "/dev/pts/7"},
        {"COM", nullptr},
        {"", nullptr},
        {"COM1a", nullptr},
        {"COM-1", nullptr},
        {"LPT1", nullptr},
        {"dev/ttyS0", nullptr},
        {"COM99999999999999999999", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = ResolvePortName(store, QString::fromLatin1(c.name));
        if (c.path == nullptr) {
            EXPECT_FALSE(path.has_value());
        } else {
            ASSERT_TRUE(path.has_value());
            EXPECT_EQ(*path, QString::fromLatin1(c.path));
        }
    }

    CSettingsStore empty(QStringLiteral("PortNameTestEmpty"));
    EXPECT_FALSE(ResolvePortName(empty, QStringLiteral("COM0")).has_value());
}

} // namespace

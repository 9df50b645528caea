// CSerialPortTimeout and CSerialException on pseudo-terminals whose other
// end the test holds.
#include "common/settings_store.h"
#include "server/modem/serial_exception.h"
#include "server/modem/serial_port_timeout.h"
#include "tests/server/modem_fixture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A pseudo-terminal whose master side the test holds.
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
        ::close(slave_); // only the port under test holds the slave side
    }
    ~Pty() { CloseMaster(); }
    QString Path() const { return QString::fromStdString(path_); }
    const std::string& StdPath() const { return path_; }
    void CloseMaster()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }
    void Send(const std::string& bytes) const
    {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // What the port sent within the deadline, up to count bytes.
    std::string Receive(std::size_t count, int deadlineMs = 2000) const
    {
        std::string bytes;
        const auto deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
        while (bytes.size() < count && Clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            char buffer[256];
            const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - bytes.size()));
            if (n <= 0)
                break;
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
        return bytes;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// The error code the call threw, 0 when it threw nothing.
std::uint32_t Thrown(const std::function<void()>& call)
{
    try {
        call();
    } catch (const CSerialException& failure) {
        return failure.errorCode;
    }
    return 0;
}

void MapPort(int number, const QString& path)
{
    CSettingsStore(QString::fromUtf16(Settings::kServerProgram))
        .WriteString(QString::fromUtf16(Settings::kPortsSection), QStringLiteral("COM%1").arg(number), path);
}

} // namespace

TEST(SerialPortTimeout, APortThatDoesNotExistFailsWithFileNotFoundAndStaysClosed)
{
    MapPort(0, QString());
    MapPort(5, QStringLiteral("/nonexistent/ttyUSB5"));
    for (const QString& name : {QStringLiteral("/nonexistent/ttyS9"), QStringLiteral("COM0"), QStringLiteral("COM5"),
                               QStringLiteral("LPT1"), QString()}) {
        CSerialPortTimeout port;
        EXPECT_EQ(Thrown([&] { port.Open(name); }), static_cast<std::uint32_t>(ENOENT)) << name.toStdString();
        EXPECT_FALSE(port.IsOpen());
        EXPECT_FALSE(CSerialPortTimeout::CanOpen(name));
    }
}

TEST(SerialPortTimeout, OpensMappedNamesExclusivelyAndReleasesThePreviousDevice)
{
    Pty first, second;
    MapPort(3, first.Path());
    CSerialPortTimeout port;
    ASSERT_EQ(Thrown([&] { port.Open(QStringLiteral("COM3")); }), 0u);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(OpenDescriptors(first.StdPath()), 1);
    // Nobody else gets the device while the port holds it.
    CSerialPortTimeout other;
    EXPECT_EQ(Thrown([&] { other.Open(first.Path()); }), static_cast<std::uint32_t>(EBUSY));
    EXPECT_FALSE(CSerialPortTimeout::CanOpen(QStringLiteral("COM3")));

    // Opening another device closes the first one before.
    ASSERT_EQ(Thrown([&] { port.Open(second.Path()); }), 0u);
    EXPECT_EQ(OpenDescriptors(first.StdPath()), 0);
    EXPECT_EQ(OpenDescriptors(second.StdPath()), 1);
    EXPECT_TRUE(CSerialPortTimeout::CanOpen(first.Path()));
    EXPECT_EQ(OpenDescriptors(first.StdPath()), 0); // CanOpen leaves nothing open

    port.Close();
    port.Close(); // harmless
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(OpenDescriptors(second.StdPath()), 0);
    {
        CSerialPortTimeout held;
        held.Open(second.Path());
        EXPECT_EQ(OpenDescriptors(second.StdPath()), 1);
    }
    EXPECT_EQ(OpenDescriptors(second.StdPath()), 0); // the destructor closed it
}

TEST(SerialPortTimeout, EveryOperationOnAClosedPortFailsAndCloseNeverDoes)
{
    CSerialPortTimeout port;
    char buffer[8] = {};
    const std::pair<const char*, std::function<void()>> operations[] = {
        {"GetTimeouts", [&] { port.GetTimeouts(); }},
        {"SetTimeouts", [&] { port.SetTimeouts(kQuickTimeouts); }},
        {"Purge", [&] { port.Purge(CSerialPortTimeout::kPurgeRxClear); }},
        {"Flush", [&] { port.Flush(); }},
        {"GetMask", [&] { port.GetMask(); }},
        {"SetMask", [&] { port.SetMask(CSerialPortTimeout::kEventTxEmpty); }},
        {"WaitEvent", [&] { port.WaitEvent(); }},
        {"Read", [&] { port.Read(buffer, sizeof buffer); }},
        {"Write", [&] { port.Write(buffer, sizeof buffer); }},
    };
    for (const auto& [name, operation] : operations)
        EXPECT_EQ(Thrown(operation), static_cast<std::uint32_t>(EBADF)) << name;
    EXPECT_EQ(Thrown([&] { port.Close(); }), 0u);
    EXPECT_FALSE(port.IsOpen());
}

TEST(SerialPortTimeout, RequestsTheDeviceCannotMeetFailWithInvalidArgument)
{
    Pty pty;
    CSerialPortTimeout port;
    port.Open(pty.Path());
    EXPECT_EQ(port.GetMask(), 0u);
    EXPECT_EQ(Thrown([&] { port.WaitEvent(); }), static_cast<std::uint32_t>(EINVAL)); // no event asked for
    EXPECT_EQ(Thrown([&] { port.SetMask(0x0001); }), static_cast<std::uint32_t>(EINVAL));
    EXPECT_EQ(Thrown([&] { port.Purge(0x0001); }), static_cast<std::uint32_t>(EINVAL));
    EXPECT_TRUE(port.IsOpen()); // a failure leaves the port as it was
}

TEST(SerialPortTimeout, ReadsEndOnTheCountTheIntervalOrTheTotalTime)
{
    Pty pty;
    CSerialPortTimeout port;
    port.Open(pty.Path());
    port.SetTimeouts({60, 2, 100, 0, 0});
    EXPECT_EQ(port.GetTimeouts(), (T_SERIALTIMEOUTS{60, 2, 100, 0, 0}));
    char buffer[64] = {};

    // Nothing arrives: no failure, nothing read, after 2 x 50 + 100 ms.
    auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer, 50), 0u);
    EXPECT_GE(MsSince(start), 195);

    // The count arrives: the read ends with it.
    pty.Send("0123456789");
    EXPECT_EQ(port.Read(buffer, 10), 10u);
    EXPECT_EQ(std::string(buffer, 10), "0123456789");

    // Fewer bytes than asked: the interval after the last one ends the read.
    port.SetTimeouts({60, 0, 5000, 0, 0});
    pty.Send("abc");
    start = Clock::now();
    EXPECT_EQ(port.Read(buffer, 50), 3u);
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_EQ(std::string(buffer, 3), "abc");
}

TEST(SerialPortTimeout, WritesWaitForTheTransmitterAndPurgesDiscard)
{
    Pty pty;
    CSerialPortTimeout port;
    port.Open(pty.Path());
    port.SetTimeouts({50, 0, 200, 0, 0});
    port.SetMask(CSerialPortTimeout::kEventTxEmpty);
    EXPECT_EQ(port.GetMask(), CSerialPortTimeout::kEventTxEmpty);
    const std::string command("AT\r\0", 4);
    EXPECT_EQ(port.Write(command.data(), command.size()), 4u);
    EXPECT_EQ(port.WaitEvent(), CSerialPortTimeout::kEventTxEmpty);
    port.Flush();
    EXPECT_EQ(pty.Receive(4), command);

    // What waits in the receive buffer is discarded: the bytes of one write
    // arrive together, so once two are read the other three wait.
    pty.Send("stale");
    char buffer[16];
    ASSERT_EQ(port.Read(buffer, 2), 2u);
    port.Purge(CSerialPortTimeout::kPurgeAbortReads);
    port.Purge(CSerialPortTimeout::kPurgeTxClear | CSerialPortTimeout::kPurgeRxClear);
    EXPECT_EQ(port.Read(buffer, sizeof buffer), 0u);
}

TEST(SerialPortTimeout, AHungUpDeviceFailsReadsAndWritesWithItsCode)
{
    Pty pty;
    CSerialPortTimeout port;
    port.Open(pty.Path());
    port.SetTimeouts({50, 0, 2000, 0, 0});
    pty.CloseMaster();
    char buffer[16] = {};
    EXPECT_EQ(Thrown([&] { port.Read(buffer, sizeof buffer); }), static_cast<std::uint32_t>(EIO));
    EXPECT_EQ(Thrown([&] { port.Write(buffer, sizeof buffer); }), static_cast<std::uint32_t>(EIO));
    EXPECT_TRUE(port.IsOpen()); // open until closed
    port.Close();
    EXPECT_EQ(OpenDescriptors(pty.StdPath()), 0);
}

TEST(SerialPortTimeout, InterruptEndsAPendingReadAndEveryLaterTransfer)
{
    Pty pty;
    CSerialPortTimeout port;
    port.Open(pty.Path());
    port.SetTimeouts({590, 3, 10, 0, 0});
    auto reading = std::async(std::launch::async, [&] {
        char buffer[4095];
        return Thrown([&] { port.Read(buffer, sizeof buffer); }); // 12.3 s unless interrupted
    });
    ASSERT_EQ(reading.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    const auto start = Clock::now();
    port.Interrupt();
    ASSERT_EQ(reading.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(reading.get(), static_cast<std::uint32_t>(ECANCELED));
    EXPECT_LT(MsSince(start), 5000);
    EXPECT_TRUE(port.IsInterrupted());

    char byte = 'x';
    EXPECT_EQ(Thrown([&] { port.Write(&byte, 1); }), static_cast<std::uint32_t>(ECANCELED));
    EXPECT_EQ(Thrown([&] { port.Read(&byte, 1); }), static_cast<std::uint32_t>(ECANCELED));
    EXPECT_EQ(pty.Receive(1, 100), std::string()); // nothing went out
    // Purging, flushing and closing still work.
    EXPECT_EQ(Thrown([&] { port.Purge(CSerialPortTimeout::kPurgeRxClear); }), 0u);
    EXPECT_EQ(Thrown([&] { port.Flush(); }), 0u);
    port.Close();
    EXPECT_EQ(OpenDescriptors(pty.StdPath()), 0);
}

TEST(SerialException, ThrowingWithZeroTakesTheLastSystemError)
{
    errno = ENOENT;
    EXPECT_EQ(Thrown([] { ThrowSerialException(0); }), static_cast<std::uint32_t>(ENOENT));
    errno = ENOENT;
    EXPECT_EQ(Thrown([] { ThrowSerialException(EACCES); }), static_cast<std::uint32_t>(EACCES));
}

TEST(SerialException, ItsTextIsTheSystemsTextForItsCode)
{
    for (const int code : {ENOENT, EACCES, EIO, EBUSY}) {
        const CSerialException failure(static_cast<std::uint32_t>(code));
        const QString expected = QString::fromLocal8Bit(std::strerror(code));
        EXPECT_EQ(failure.Text(), expected);
        EXPECT_EQ(QString::fromLocal8Bit(failure.what()), expected);

        char16_t buffer[64];
        unsigned helpContext = 99;
        ASSERT_TRUE(failure.GetErrorMessage(buffer, 64, &helpContext));
        EXPECT_EQ(helpContext, 0u);
        EXPECT_EQ(QString::fromUtf16(buffer), expected);
        // Cut to the capacity less one character.
        ASSERT_TRUE(failure.GetErrorMessage(buffer, 5));
        EXPECT_EQ(QString::fromUtf16(buffer), expected.left(4));
    }
    // A code the system has no text for.
    const CSerialException unknown(100000);
    char16_t buffer[16] = {u'x', u'y'};
    unsigned helpContext = 99;
    EXPECT_FALSE(unknown.GetErrorMessage(buffer, 16, &helpContext));
    EXPECT_EQ(buffer[0], u'\0');
    EXPECT_EQ(helpContext, 0u);
    EXPECT_TRUE(unknown.Text().isEmpty());
    EXPECT_FALSE(unknown.Message().isEmpty()); // what the operator is shown instead
}

// The GSM modem emulator: its AT dialogue over a pseudo-terminal, its
// faults, and the ostrel-modem program fed from a file and standard input.
#include "common/serial_device.h"
#include "sim/modem_emulator.h"
#include "sim/modem_emulator_link.h"
#include "tests/support/temp_env.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <string>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int kDeadlineMs = 10000;

// The server's side of the line: writes a command, reads the answer until
// the line has been quiet for a while.
class Terminal
{
public:
    explicit Terminal(const std::string& path)
    {
        EXPECT_TRUE(device_.Open(path));
        T_SERIALLINE line;
        line.baudRate = 115200;
        EXPECT_TRUE(device_.SetLine(line));
        device_.SetTimeouts({50, 0, 2000, 0, 0});
    }
    // Without an answer, the exchange ends after waitMs.
    std::string Exchange(const std::string& command, std::uint32_t waitMs = 2000)
    {
        std::size_t n = 0;
        EXPECT_TRUE(device_.Write(reinterpret_cast<const std::uint8_t*>(command.data()), command.size(), &n));
        return Read(waitMs);
    }
    std::string Read(std::uint32_t waitMs = 2000)
    {
        device_.SetTimeouts({50, 0, waitMs, 0, 0});
        std::uint8_t buffer[8192];
        std::size_t n = 0;
        device_.Read(buffer, sizeof buffer, &n);
        return std::string(reinterpret_cast<const char*>(buffer), n);
    }
    bool Failed()
    {
        std::uint8_t byte = 0;
        std::size_t n = 0;
        return !device_.Read(&byte, 1, &n);
    }

private:
    CSerialDevice device_;
};

std::string Z(const char* command) { return std::string(command) + '\0'; }

class ModemSim : public ::testing::Test
{
protected:
    ModemSim() { EXPECT_TRUE(link.StartOnPty()); }

    // Echo off and text mode, as the server leaves the modem.
    void SetUp() override
    {
        terminal = std::make_unique<Terminal>(link.Path());
        ASSERT_EQ(terminal->Exchange(Z("ATE0\r")), "ATE0\r\r\nOK\r\n");
        ASSERT_EQ(terminal->Exchange(Z("AT+CMGF=1\r")), "\r\nOK\r\n");
    }

    CModemEmulator modem;
    CModemEmulatorLink link{modem};
    std::unique_ptr<Terminal> terminal;
};

} // namespace

TEST(ModemSimDialogue, EchoesUntilAte0AndAnswersTheSetUp)
{
    CModemEmulator modem;
    CModemEmulatorLink link(modem);
    ASSERT_TRUE(link.StartOnPty());
    Terminal terminal(link.Path());
    EXPECT_EQ(terminal.Exchange(Z("AT\r")), "AT\r\r\nOK\r\n");
    EXPECT_EQ(terminal.Exchange(Z("ATE0\r")), "ATE0\r\r\nOK\r\n");
    EXPECT_EQ(terminal.Exchange(Z("AT\r")), "\r\nOK\r\n");
    EXPECT_EQ(terminal.Exchange(Z("AT+CNMI=3,1,0,0\r")), "\r\nOK\r\n");
    EXPECT_EQ(terminal.Exchange(Z("AT+CMGL=\"ALL\"\r")), "\r\nERROR\r\n"); // not yet in text mode
    EXPECT_EQ(terminal.Exchange(Z("AT+CMGF=1\r")), "\r\nOK\r\n");
    EXPECT_EQ(terminal.Exchange(Z("AT+CNMI=x\r")), "\r\nERROR\r\n");
    EXPECT_EQ(terminal.Exchange(Z("AT+FOO\r")), "\r\nERROR\r\n");
    EXPECT_EQ(modem.Commands(), (std::vector<std::string>{"AT", "ATE0", "AT", "AT+CNMI=3,1,0,0", "AT+CMGL=\"ALL\"",
                                                          "AT+CMGF=1", "AT+CNMI=x", "AT+FOO"}));
}

TEST_F(ModemSim, ListsDeletesAndSends)
{
    EXPECT_EQ(terminal->Exchange(Z("AT+CMGL=\"ALL\"\r")), "\r\nOK\r\n");
    EXPECT_EQ(modem.Receive("first", "+79161234567", "25/12/10,12:00:00+12"), 1u);
    EXPECT_EQ(modem.Receive("two\r\nlines", "+79161234568", "25/12/10,12:00:05+12"), 2u);
    const std::string listing = "\r\n+CMGL: 1,\"REC UNREAD\",\"+79161234567\",\"\",\"25/12/10,12:00:00+12\"\r\nfirst\r\n"
                                "+CMGL: 2,\"REC UNREAD\",\"+79161234568\",\"\",\"25/12/10,12:00:05+12\"\r\ntwo\r\nlines\r\n"
                                "\r\nOK\r\n";
    EXPECT_EQ(terminal->Exchange(Z("AT+CMGL=\"ALL\"\r")), listing);
    EXPECT_EQ(terminal->Exchange(Z("AT+CMGL=\"REC UNREAD\"\r")), "\r\nOK\r\n"); // both read now
    EXPECT_EQ(terminal->Exchange(Z("AT+CMGD=1\r")), "\r\nOK\r\n");
    EXPECT_EQ(terminal->Exchange(Z("AT+CMGD=1\r")), "\r\n+CMS ERROR: 321\r\n");
    EXPECT_EQ(modem.Receive("third"), 1u); // the lowest free index
    EXPECT_EQ(terminal->Exchange(Z("AT+CMGDA=\"DEL ALL\"\r")), "\r\nOK\r\n");
    EXPECT_TRUE(modem.Stored().empty());

    EXPECT_EQ(terminal->Exchange("AT+CMGS=\"+79161234567\"\r"), "\r\n> ");
    EXPECT_EQ(terminal->Exchange("01AB00FF7BC0\x1A"), "\r\n+CMGS: 1\r\n\r\nOK\r\n");
    EXPECT_EQ(terminal->Exchange("AT+CMGS=\"+79990000000\"\r"), "\r\n> ");
    EXPECT_EQ(terminal->Exchange("never sent\x1B"), "\r\nOK\r\n"); // escape: nothing is sent
    ASSERT_EQ(modem.Sent().size(), 1u);
    EXPECT_EQ(modem.Sent()[0].number, "+79161234567");
    EXPECT_EQ(modem.Sent()[0].text, "01AB00FF7BC0");
    EXPECT_EQ(terminal->Exchange(Z("AT\r")), "\r\nOK\r\n");
}

TEST_F(ModemSim, FaultsChangeTheAnswers)
{
    modem.Receive("one");
    T_MODEMFAULTS faults;
    faults.errorCommands = {"AT+CNMI"};
    modem.SetFaults(faults);
    EXPECT_EQ(terminal->Exchange(Z("AT+CNMI=3,1,0,0\r")), "\r\nERROR\r\n");
    EXPECT_EQ(terminal->Exchange(Z("AT\r")), "\r\nOK\r\n");

    faults = {};
    faults.listingWithoutOk = true;
    faults.zeroBytes = true;
    modem.SetFaults(faults);
    const std::string listing = terminal->Exchange(Z("AT+CMGL=\"ALL\"\r"));
    EXPECT_EQ(listing.find("OK"), std::string::npos);
    EXPECT_EQ(listing.substr(0, 3), std::string("\r\n\0", 3));
    EXPECT_NE(listing.find(std::string("\r\n\0one\r\n\0", 9)), std::string::npos);

    // A message arrives right after the listing, with its indication.
    faults = {};
    faults.unsolicited = true;
    faults.arriveAfterList = {"late"};
    modem.SetFaults(faults);
    const std::string second = terminal->Exchange(Z("AT+CMGL=\"ALL\"\r"));
    EXPECT_NE(second.find("\r\none\r\n\r\nOK\r\n"), std::string::npos);
    EXPECT_EQ(second.find("late"), std::string::npos);
    EXPECT_NE(second.find("+CMTI: \"SM\",2\r\n"), std::string::npos);
    EXPECT_EQ(modem.Stored().back().text, "late");
    // An indication goes out without a command.
    modem.Receive("more");
    EXPECT_EQ(terminal->Read(), "\r\n+CMTI: \"SM\",3\r\n");

    faults = {};
    faults.silent = true;
    modem.SetFaults(faults);
    EXPECT_EQ(terminal->Exchange(Z("AT\r"), 300), "");
    EXPECT_EQ(terminal->Exchange("AT+CMGS=\"+79161234567\"\r", 300), "");

    faults = {};
    faults.hangUpOn = "AT+CMGD";
    modem.SetFaults(faults);
    EXPECT_EQ(terminal->Exchange(Z("AT+CMGD=1\r"), 300), "");
    EXPECT_TRUE(terminal->Failed()); // the line hung up
    EXPECT_FALSE(link.Serving());
    EXPECT_EQ(modem.Stored().size(), 3u);
}

TEST(ModemSimDialogue, AnyBytesKeepTheLineBounded)
{
    CModemEmulator modem;
    std::string noise = "AT" + std::string(20000, 'A');
    noise += "\rAT\r";
    noise += std::string(3000, '\0');
    const auto answer = modem.Feed(noise);
    EXPECT_LT(answer.bytes.size(), noise.size() + 64);
    EXPECT_EQ(modem.Commands().size(), 2u);
    EXPECT_LE(modem.Commands()[0].size(), CModemEmulator::kMaxCommand);
    EXPECT_EQ(modem.Commands()[1], "AT");
    EXPECT_LE(modem.Received().size(), CModemEmulator::kMaxReceived);

    std::string many;
    for (std::size_t i = 0; i < CModemEmulator::kMaxCommands + 10; ++i)
        many += "ATE1\r";
    modem.Feed(many);
    EXPECT_LE(modem.Commands().size(), CModemEmulator::kMaxCommands);
    EXPECT_EQ(modem.Commands().back(), "ATE1");
}

// Whether the exclusive mark of the tty at path is set: root passes the mark
// and reads it; any other user is refused with EBUSY while it is set.
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

// A server that marks the port exclusive and ends without lifting the mark,
// as a killed one does, leaves the modem free for the next server.
TEST(ModemSimDialogue, TheExclusiveMarkOfAServerEndsWithIt)
{
    CModemEmulator modem;
    CModemEmulatorLink link(modem);
    ASSERT_TRUE(link.StartOnPty());
    const std::string path = link.Path();
    EXPECT_FALSE(MarkedExclusive(path));
    const int server = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(server, 0) << std::strerror(errno);
    ASSERT_EQ(::ioctl(server, TIOCEXCL), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return link.PtyOpeners() == 1; }, kDeadlineMs));
    int exclusive = 0;
    ASSERT_EQ(::ioctl(server, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    ::close(server);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !MarkedExclusive(path); }, kDeadlineMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return link.PtyOpeners() == 0; }, kDeadlineMs));
    // The next server is answered.
    Terminal next(path);
    EXPECT_EQ(next.Exchange(Z("AT\r")), "AT\r\r\nOK\r\n");
}

// The program.
class ModemProgram : public ::testing::Test
{
protected:
    ~ModemProgram() override
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    // Starts the program and returns the path it printed.
    std::string Start(const QStringList& arguments)
    {
        process.start(QStringLiteral(MODEM_SIM), arguments);
        EXPECT_TRUE(process.waitForStarted(kDeadlineMs));
        EXPECT_TRUE(QTest::qWaitFor([&] { return process.canReadLine(); }, kDeadlineMs));
        return process.readLine().trimmed().toStdString();
    }

    // Waits for a line of standard output that starts with `start`.
    bool WaitForLine(const QByteArray& start)
    {
        return QTest::qWaitFor([&] {
            while (process.canReadLine()) {
                const QByteArray line = process.readLine();
                output << QString::fromUtf8(line.trimmed());
                if (line.startsWith(start))
                    return true;
            }
            return false;
        }, kDeadlineMs);
    }

    QProcess process;
    QStringList output;
};

TEST_F(ModemProgram, HelpNamesTheOptionsAndBadOnesAreRefused)
{
    process.start(QStringLiteral(MODEM_SIM), {QStringLiteral("--help")});
    ASSERT_TRUE(process.waitForFinished(kDeadlineMs));
    EXPECT_EQ(process.exitCode(), 0);
    const QString help = QString::fromLocal8Bit(process.readAllStandardOutput());
    for (const char* option : {"--device", "--link", "--messages", "--sent", "--silent", "--error", "--no-ok", "--cmti",
                               "--zero-bytes", "--arrive-after-list", "--hang-up-on", ":sms", ":fault"})
        EXPECT_TRUE(help.contains(QLatin1String(option))) << option;
    for (const QStringList& bad : {QStringList{QStringLiteral("--capacity"), QStringLiteral("0")},
                                   QStringList{QStringLiteral("--error")}, QStringList{QStringLiteral("--bogus")}}) {
        process.start(QStringLiteral(MODEM_SIM), bad);
        ASSERT_TRUE(process.waitForFinished(kDeadlineMs));
        EXPECT_EQ(process.exitCode(), 2) << bad.join(QLatin1Char(' ')).toStdString();
    }
}

TEST_F(ModemProgram, StoresWhatItIsFedRecordsWhatItSendsAndStopsOnSigterm)
{
    const QString folder = MakeTempFolder();
    const QString linkPath = folder + QStringLiteral("/modem");
    const QString sentPath = folder + QStringLiteral("/sent.txt");
    const QString messagesPath = folder + QStringLiteral("/inbox.txt");
    QFile messages(messagesPath);
    ASSERT_TRUE(messages.open(QIODevice::WriteOnly));
    messages.write("from the file\r\n\n:sms +79161234567 second\\r\\nline\n");
    messages.close();

    const std::string path = Start({QStringLiteral("--link"), linkPath, QStringLiteral("--sent"), sentPath,
                                    QStringLiteral("--messages"), messagesPath, QStringLiteral("--sender"),
                                    QStringLiteral("+79990001122")});
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    EXPECT_EQ(QFileInfo(linkPath).symLinkTarget(), QString::fromStdString(path));

    process.write("0100ABCD\n:fault arrive-after-list late\n");
    ASSERT_TRUE(WaitForLine("stored 3"));
    EXPECT_TRUE(output.contains(QStringLiteral("stored 1 +79990001122 from the file")));
    EXPECT_TRUE(output.contains(QStringLiteral("stored 2 +79161234567 second\\r\\nline")));
    EXPECT_TRUE(output.contains(QStringLiteral("stored 3 +79990001122 0100ABCD")));

    Terminal terminal(linkPath.toStdString());
    ASSERT_EQ(terminal.Exchange(Z("ATE0\r")), "ATE0\r\r\nOK\r\n");
    ASSERT_EQ(terminal.Exchange(Z("AT+CMGF=1\r")), "\r\nOK\r\n");
    const std::string listing = terminal.Exchange(Z("AT+CMGL=\"ALL\"\r"));
    EXPECT_NE(listing.find("\"+79161234567\",\"\",\""), std::string::npos);
    EXPECT_NE(listing.find("\r\nsecond\r\nline\r\n"), std::string::npos);
    EXPECT_NE(listing.find("\r\n0100ABCD\r\n\r\nOK\r\n"), std::string::npos);
    ASSERT_TRUE(WaitForLine("stored 4"));
    EXPECT_EQ(terminal.Exchange(Z("AT+CMGD=2\r")), "\r\nOK\r\n");
    ASSERT_TRUE(WaitForLine("deleted 2"));
    EXPECT_EQ(terminal.Exchange("AT+CMGS=\"+79161234567\"\r"), "\r\n> ");
    EXPECT_EQ(terminal.Exchange("01AB00FF7BC0\x1A"), "\r\n+CMGS: 1\r\n\r\nOK\r\n");
    ASSERT_TRUE(WaitForLine("sent +79161234567 01AB00FF7BC0"));
    QFile sent(sentPath);
    ASSERT_TRUE(sent.open(QIODevice::ReadOnly));
    EXPECT_EQ(sent.readAll(), QByteArray("+79161234567 01AB00FF7BC0\n"));

    // A fault switched on from standard input.
    process.write(":fault error AT+CMGL\n:clear\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return terminal.Exchange(Z("AT+CMGL=\"ALL\"\r")) == "\r\nERROR\r\n"; },
                                kDeadlineMs));

    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(kDeadlineMs));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_FALSE(QFileInfo::exists(linkPath));
    EXPECT_FALSE(QFileInfo(linkPath).isSymLink());
}

TEST_F(ModemProgram, FaultsCanBeGivenOnTheCommandLine)
{
    const std::string path = Start({QStringLiteral("--error"), QStringLiteral("AT+CNMI"), QStringLiteral("--error"),
                                    QStringLiteral("at+cmgs"), QStringLiteral("--no-ok")});
    Terminal terminal(path);
    ASSERT_EQ(terminal.Exchange(Z("ATE0\r")), "ATE0\r\r\nOK\r\n");
    EXPECT_EQ(terminal.Exchange(Z("AT+CNMI=3,1,0,0\r")), "\r\nERROR\r\n");
    EXPECT_EQ(terminal.Exchange(Z("AT+CMGF=1\r")), "\r\nOK\r\n");
    EXPECT_EQ(terminal.Exchange("AT+CMGS=\"+79161234567\"\r"), "\r\nERROR\r\n");
    EXPECT_EQ(terminal.Exchange(Z("AT+CMGL=\"ALL\"\r")), "\r\n");
}

TEST_F(ModemProgram, StoresTheReportTextsTheControllerEmulatorPrints)
{
    QProcess controller;
    controller.start(QStringLiteral(GPRS_SIM), {QStringLiteral("--sms"), QStringLiteral("--serial"),
                                                QStringLiteral("777"), QStringLiteral("--count"), QStringLiteral("2")});
    ASSERT_TRUE(controller.waitForFinished(kDeadlineMs));
    const QByteArray texts = controller.readAllStandardOutput();
    const QList<QByteArray> lines = texts.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    ASSERT_EQ(lines[0].size(), 128);

    Start({});
    process.write(texts);
    ASSERT_TRUE(WaitForLine("stored 2"));
    EXPECT_TRUE(output.contains(QStringLiteral("stored 1 +79000000000 ") + QString::fromLatin1(lines[0])));
    EXPECT_TRUE(output.contains(QStringLiteral("stored 2 +79000000000 ") + QString::fromLatin1(lines[1])));
}

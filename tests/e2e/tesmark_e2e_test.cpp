// The Tesmark program as a process, on the controller emulator's
// pseudo-terminal: a stop signal closes it the normal way, and the port it
// held exclusively is free for the next opener however it ended.
#include "tests/support/temp_env.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int kDeadlineMs = 20000;

enum class PortState { Free, HeldExclusively, Unknown };

// Whether an opener would be refused. Root passes the exclusive mark, so the
// mark itself is read; any other user is refused with EBUSY.
PortState StateOf(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EBUSY ? PortState::HeldExclusively : PortState::Unknown;
    int exclusive = 0;
    const bool read = ::ioctl(fd, TIOCGEXCL, &exclusive) == 0;
    ::close(fd);
    if (!read)
        return PortState::Unknown;
    return exclusive ? PortState::HeldExclusively : PortState::Free;
}

class TesmarkProcess : public ::testing::Test
{
protected:
    void SetUp() override
    {
        emulator.start(QStringLiteral(CONTROLLER_SIM), {});
        ASSERT_TRUE(emulator.waitForStarted(kDeadlineMs));
        ASSERT_TRUE(emulator.waitForReadyRead(kDeadlineMs));
        port = QString::fromLocal8Bit(emulator.readLine()).trimmed();
        ASSERT_TRUE(port.startsWith(QLatin1Char('/'))) << port.toStdString();
        ASSERT_EQ(StateOf(port), PortState::Free);

        // COM1, the tool's default port, is the emulator's pseudo-terminal.
        home = MakeTempFolder();
        ASSERT_TRUE(QDir(home).mkpath(QStringLiteral(".config/Ostrel")));
        QFile settings(home + QStringLiteral("/.config/Ostrel/Tesmark.conf"));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write(QStringLiteral("[Ports]\nCOM1=%1\n").arg(port).toUtf8());
    }

    void TearDown() override
    {
        for (QProcess* process : {&tool, &emulator}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(kDeadlineMs);
            }
        }
    }

    // Starts the tool and waits until it holds the port.
    void Start()
    {
        PrepareProgram(tool, home);
        tool.start(QStringLiteral(TESMARK), {});
        ASSERT_TRUE(tool.waitForStarted(kDeadlineMs));
        ASSERT_TRUE(QTest::qWaitFor([&] { return StateOf(port) == PortState::HeldExclusively; }, kDeadlineMs));
    }

    QProcess emulator;
    QProcess tool;
    QString port;
    QString home;
};

TEST_F(TesmarkProcess, AStopSignalClosesThePortAndEndsWithStatus0)
{
    for (const int stopSignal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(stopSignal);
        Start();
        ASSERT_EQ(::kill(static_cast<pid_t>(tool.processId()), stopSignal), 0);
        ASSERT_TRUE(tool.waitForFinished(kDeadlineMs));
        EXPECT_EQ(tool.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(tool.exitCode(), 0);
        // Released by the tool itself before it ended.
        EXPECT_EQ(StateOf(port), PortState::Free);
    }
    EXPECT_EQ(emulator.state(), QProcess::Running);
}

TEST_F(TesmarkProcess, AKilledToolLeavesThePortFreeForTheNextOpener)
{
    Start();
    tool.kill(); // SIGKILL: the tool releases nothing itself
    ASSERT_TRUE(tool.waitForFinished(kDeadlineMs));
    EXPECT_EQ(tool.exitStatus(), QProcess::CrashExit);
    // The emulator sees the port closed and lifts the exclusive mark.
    EXPECT_TRUE(QTest::qWaitFor([&] { return StateOf(port) == PortState::Free; }, kDeadlineMs));

    // The next tool opens it and ends normally.
    Start();
    tool.terminate();
    ASSERT_TRUE(tool.waitForFinished(kDeadlineMs));
    EXPECT_EQ(tool.exitCode(), 0);
}

} // namespace

// The Varkon program as a process: fed by the controller emulator over TCP,
// stopped with SIGTERM, judged by the files it leaves.
#include "common/format_time.h"
#include "common/manual_clock.h"
#include "server/model/event_codes.h"
#include "server/model/point_base.h"
#include "server/storage/day_journal.h"
#include "server/storage/register_file.h"
#include "tests/support/temp_env.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

#include <map>

namespace {

quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class VarkonProcess : public ::testing::Test
{
protected:
    VarkonProcess()
    {
        home = MakeTempFolder();
        folder = MakeTempFolder();
        port = FreePort();
        QDir(home).mkpath(QStringLiteral(".config/Ostrel"));
        QFile settings(home + QStringLiteral("/.config/Ostrel/Varkon.conf"));
        EXPECT_TRUE(settings.open(QIODevice::WriteOnly));
        // The public address check asks a service that is not there.
        // The machine's own serial ports are left alone: no modem is probed.
        QString ports = QStringLiteral("[Ports]\n");
        for (int n = 0; n < 10; ++n)
            ports += QStringLiteral("COM%1=/nonexistent/ttyCOM%1\n").arg(n);
        settings.write((QStringLiteral("[IP%20setting]\nIP%20port=%1\nIP%20service=http://127.0.0.1:1/ip\n"
                                       "[Setting]\nBase%20folder=%2\n")
                            .arg(port)
                            .arg(folder)
                        + ports)
                           .toUtf8());
    }

    // Starts the server and waits until it has journaled its start: the
    // day file then holds more than `eventsBefore` events.
    void Start(std::size_t eventsBefore = 0)
    {
        PrepareProgram(server, home);
        server.start(QStringLiteral(VARKON), {});
        ASSERT_TRUE(server.waitForStarted(10000));
        // Listening starts before the journals load and the start event is
        // recorded: wait for the start event in today's file.
        ASSERT_TRUE(QTest::qWaitFor([&] { return Journal().size() > eventsBefore; }, 20000));
    }

    void Stop()
    {
        server.terminate(); // SIGTERM
        ASSERT_TRUE(server.waitForFinished(20000));
        EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(server.exitCode(), 0);
    }

    QString TodayFile() const
    {
        return CDayJournal::DayFileName(folder, QDateTime::currentSecsSinceEpoch());
    }

    std::vector<T_EVENT> Journal() const
    {
        std::vector<T_EVENT> events;
        CDayJournal::ReadDayFile(TodayFile(), events);
        return events;
    }

    QString home;
    QString folder;
    quint16 port = 0;
    QProcess server;
};

} // namespace

TEST_F(VarkonProcess, FedByTheEmulatorAndStoppedBySigterm)
{
    // Two points registered beforehand; the emulator's third is new.
    CManualClock clock(QDateTime::currentSecsSinceEpoch());
    CPointBase registered(clock, folder);
    registered.AddPoint(123456);
    registered.AddPoint(123457);
    registered.SetName(1, QStringLiteral("Банкомат, Тверская 7"));
    ASSERT_TRUE(SaveRegister(registered));
    const QByteArray registerBefore = ReadAll(RegisterPath(registered));

    const std::int64_t began = QDateTime::currentSecsSinceEpoch();
    Start();
    QProcess emulator;
    emulator.start(QStringLiteral(GPRS_SIM),
                   {QStringLiteral("--port"), QString::number(port), QStringLiteral("--serial"), QStringLiteral("123456"),
                    QStringLiteral("--controllers"), QStringLiteral("3"), QStringLiteral("--count"), QStringLiteral("4"),
                    QStringLiteral("--interval"), QStringLiteral("50"), QStringLiteral("--alternate")});
    ASSERT_TRUE(emulator.waitForFinished(30000));
    EXPECT_EQ(emulator.exitCode(), 0) << emulator.readAll().constData();

    // Per registered point: found, shock, found, shock; the new one first
    // announces itself. Plus the start event.
    constexpr std::size_t kExpected = 1 + 4 + 4 + 5;
    ASSERT_TRUE(QTest::qWaitFor([&] { return Journal().size() >= kExpected; }, 20000)) << Journal().size();
    Stop();
    const std::int64_t ended = QDateTime::currentSecsSinceEpoch();

    const QByteArray bytes = ReadAll(TodayFile());
    ASSERT_EQ(bytes.size(), 4 + 24 * static_cast<int>(kExpected + 1));
    const std::uint32_t count = kExpected + 1;
    EXPECT_EQ(bytes.left(4), QByteArray(reinterpret_cast<const char*>(&count), 4));
    const std::vector<T_EVENT> events = Journal();
    EXPECT_EQ(events.front().code, EV_SERVER_STARTED);
    EXPECT_EQ(events.back().code, EV_SERVER_STOPPED);
    std::map<std::uint32_t, std::vector<std::uint8_t>> bySerial;
    std::int64_t previous = began;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const QByteArray record = bytes.mid(4 + 24 * static_cast<int>(i), 24);
        EXPECT_EQ(record.mid(2, 2), QByteArray(2, '\0'));
        EXPECT_EQ(record.mid(16, 8), QByteArray(8, '\0'));
        const T_EVENT& e = events[i];
        const std::int64_t time = e.time; // a copy: the packed field is not aligned
        EXPECT_GE(time, previous);
        EXPECT_LE(time, ended);
        previous = time;
        EXPECT_EQ(e.source, e.serial == 0 ? SRC_SYSTEM : SRC_GPRS);
        if (e.serial != 0)
            bySerial[e.serial].push_back(e.code);
    }
    const std::vector<std::uint8_t> known{EV_POINT_FOUND, EV_SHOCK, EV_POINT_FOUND, EV_SHOCK};
    EXPECT_EQ(bySerial[123456], known);
    EXPECT_EQ(bySerial[123457], known);
    EXPECT_EQ(bySerial[123458],
              (std::vector<std::uint8_t>{EV_NEW_POINT, EV_POINT_FOUND, EV_SHOCK, EV_POINT_FOUND, EV_SHOCK}));

    // The register is the operator's: the server never rewrites it.
    EXPECT_EQ(ReadAll(RegisterPath(registered)), registerBefore);
}

TEST_F(VarkonProcess, StopAskedForDuringStartUpIsCarriedOut)
{
    Start();
    Stop();
    // SIGTERM as soon as the port is open: the server may still be loading
    // its files and has not journaled its start yet.
    server.start(QStringLiteral(VARKON), {});
    ASSERT_TRUE(server.waitForStarted(10000));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        QTcpSocket probe;
        probe.connectToHost(QStringLiteral("127.0.0.1"), port);
        return probe.waitForConnected(100);
    }, 20000));
    Stop();
    const std::vector<T_EVENT> events = Journal();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().code, EV_SERVER_STOPPED);
}

TEST_F(VarkonProcess, RestartTheSameDayKeepsTheDaysEvents)
{
    Start();
    Stop();
    Start(2);
    Stop();
    const std::vector<T_EVENT> events = Journal();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].code, EV_SERVER_STARTED);
    EXPECT_EQ(events[1].code, EV_SERVER_STOPPED);
    EXPECT_EQ(events[2].code, EV_SERVER_STARTED);
    EXPECT_EQ(events[3].code, EV_SERVER_STOPPED);
}

TEST_F(VarkonProcess, StopsWithStatusZeroWhileItsErrorBoxesAreOpen)
{
    // The port is taken, so the server opens a box about it at start-up, and
    // the damaged register opens another; SIGTERM must still end it at once.
    QTcpServer busy;
    ASSERT_TRUE(busy.listen(QHostAddress::Any, port));
    QFile damaged(folder + QStringLiteral("/SerialBase.base"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray::fromHex("0200000001000000"));
    damaged.close();
    Start();
    Stop();
    const auto events = Journal();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events.front().code, EV_SERVER_STARTED);
    EXPECT_EQ(events.back().code, EV_SERVER_STOPPED);
}

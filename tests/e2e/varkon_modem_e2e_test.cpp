// The Varkon program with a GSM modem: the modem emulator mapped as COM0,
// an SMS report injected into it, GPRS reports from the controller
// emulator while the modem keeps the server's modem thread waiting, and a
// stop by SIGTERM that does not wait for the modem.
#include "server/model/event_codes.h"
#include "server/model/records.h"
#include "server/storage/day_journal.h"
#include "tests/support/temp_env.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr int kDeadlineMs = 20000;

quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

class VarkonWithModem : public ::testing::Test
{
protected:
    VarkonWithModem()
    {
        home = MakeTempFolder();
        folder = MakeTempFolder();
        port = FreePort();
        modemLink = home + QStringLiteral("/modem");
        // COM0 is the emulator; no other port leads to a device.
        QString ports;
        for (int n = 1; n < 10; ++n)
            ports += QStringLiteral("COM%1=%2/none%1\n").arg(n).arg(home);
        QDir(home).mkpath(QStringLiteral(".config/Ostrel"));
        QFile settings(home + QStringLiteral("/.config/Ostrel/Varkon.conf"));
        EXPECT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write(QStringLiteral("[IP%20setting]\nIP%20port=%1\n[Setting]\nBase%20folder=%2\n[Ports]\nCOM0=%3\n%4")
                           .arg(port)
                           .arg(folder, modemLink, ports)
                           .toUtf8());
    }

    ~VarkonWithModem() override
    {
        for (QProcess* process : {&server, &modem}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }

    std::vector<T_EVENT> Journal() const
    {
        std::vector<T_EVENT> events;
        CDayJournal::ReadDayFile(CDayJournal::DayFileName(folder, QDateTime::currentSecsSinceEpoch()), events);
        return events;
    }

    std::size_t Count(std::uint8_t source, std::uint32_t serial) const
    {
        const auto events = Journal();
        return static_cast<std::size_t>(std::count_if(events.begin(), events.end(), [&](const T_EVENT& e) {
            return e.source == source && e.serial == serial;
        }));
    }

    // Waits for a line of the modem's output that starts with `start`.
    bool ModemSaid(const QByteArray& start)
    {
        return QTest::qWaitFor([&] {
            while (modem.canReadLine()) {
                if (modem.readLine().startsWith(start))
                    return true;
            }
            return false;
        }, kDeadlineMs);
    }

    QString home;
    QString folder;
    QString modemLink;
    quint16 port = 0;
    QProcess modem;
    QProcess server;
};

} // namespace

TEST_F(VarkonWithModem, AnSmsReportIsJournaledAndGprsReportsFlowWhileTheModemIsSilent)
{
    modem.start(QStringLiteral(MODEM_SIM), {QStringLiteral("--link"), modemLink, QStringLiteral("--verbose")});
    ASSERT_TRUE(modem.waitForStarted(kDeadlineMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return modem.canReadLine(); }, kDeadlineMs));
    modem.readLine(); // the pseudo-terminal's path

    PrepareProgram(server, home);
    server.start(QStringLiteral(VARKON), {});
    ASSERT_TRUE(server.waitForStarted(kDeadlineMs));
    // The probe is the last step of start-up.
    ASSERT_TRUE(ModemSaid("command AT+CMGF=1"));
    ASSERT_FALSE(Journal().empty());
    EXPECT_EQ(Journal().front().code, EV_SERVER_STARTED);

    // The report text as the controller emulator writes it.
    QProcess controller;
    controller.start(QStringLiteral(GPRS_SIM), {QStringLiteral("--sms"), QStringLiteral("--serial"),
                                                QStringLiteral("555"), QStringLiteral("--flags"), QStringLiteral("0x80")});
    ASSERT_TRUE(controller.waitForFinished(kDeadlineMs));
    modem.write(controller.readAllStandardOutput());
    ASSERT_TRUE(ModemSaid("stored 1"));
    // The modem timer's next tick lists it, deletes it and journals it.
    ASSERT_TRUE(ModemSaid("deleted 1"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Count(SRC_SMS, 555) == 2; }, kDeadlineMs));

    // From now on each poll waits 12.3 s for an answer that never comes.
    modem.write(":fault silent on\n");
    ASSERT_TRUE(ModemSaid("command AT+CMGL"));
    QElapsedTimer stalled;
    stalled.start();
    QProcess gprs;
    gprs.start(QStringLiteral(GPRS_SIM),
               {QStringLiteral("--port"), QString::number(port), QStringLiteral("--serial"), QStringLiteral("600"),
                QStringLiteral("--count"), QStringLiteral("4"), QStringLiteral("--interval"), QStringLiteral("50"),
                QStringLiteral("--alternate")});
    ASSERT_TRUE(gprs.waitForFinished(kDeadlineMs));
    EXPECT_EQ(gprs.exitCode(), 0);
    // New point, found, shock, found, shock: all journaled while the modem's
    // read is still pending.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Count(SRC_GPRS, 600) == 5; }, kDeadlineMs));
    EXPECT_LT(stalled.elapsed(), 10000);

    // The stop does not wait for the modem either.
    QElapsedTimer stopping;
    stopping.start();
    server.terminate();
    ASSERT_TRUE(server.waitForFinished(kDeadlineMs));
    EXPECT_LT(stopping.elapsed(), 5000);
    EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(server.exitCode(), 0);

    const std::vector<T_EVENT> events = Journal();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().code, EV_SERVER_STOPPED);
    std::vector<std::uint8_t> sms;
    for (const T_EVENT& e : events) {
        if (e.source == SRC_SMS)
            sms.push_back(e.code);
    }
    EXPECT_EQ(sms, (std::vector<std::uint8_t>{EV_NEW_POINT, EV_SHOCK}));
}

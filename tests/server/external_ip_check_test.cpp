#include "common/manual_clock.h"
#include "common/settings_store.h"
#include "server/core/external_ip_check.h"
#include "server/core/server_core.h"
#include "server/link/gprs_link.h"
#include "tests/server/local_http_server.h"
#include "tests/server/qstring_printer.h"
#include "tests/server/server_fixture.h"
#include "tests/support/temp_env.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

namespace {

CSettingsStore Store() { return CSettingsStore(QString::fromUtf16(Settings::kServerProgram)); }

void UseService(const QString& url)
{
    Store().WriteString(QString::fromUtf16(Settings::kIpSection), QString::fromUtf16(CExternalIpCheck::kServiceValue),
                        url);
}

// A port that nothing listens on right now.
quint16 ClosedPort()
{
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    return probe.serverPort();
}

struct Outcome
{
    bool answered = false;
    QString address;
    std::uint32_t port = 0;
    bool open = false;
};

Outcome Last(const QSignalSpy& spy)
{
    const QList<QVariant> args = spy.back();
    return {args[0].toBool(), args[1].toString(), args[2].toUInt(), args[3].toBool()};
}

class ExternalIpCheckTest : public ::testing::Test
{
protected:
    ExternalIpCheckTest()
    {
        UseService(http.Url());
        check.httpTimeoutMs = 300;
        check.connectTimeoutMs = 300;
    }

    // Runs a whole check and waits for its end.
    Outcome Run(std::uint32_t port)
    {
        const qsizetype before = spy.size();
        check.CheckExternalPort(port);
        EXPECT_TRUE(QTest::qWaitFor([&] { return spy.size() > before; }, 10000));
        EXPECT_EQ(spy.size(), before + 1);
        EXPECT_FALSE(check.IsRunning());
        return spy.isEmpty() ? Outcome{} : Last(spy);
    }

    CLocalHttpServer http;
    CExternalIpCheck check;
    QSignalSpy spy{&check, &CExternalIpCheck::checked};
};

} // namespace

TEST_F(ExternalIpCheckTest, TheAnswerWithItsLineBreakIsTheAddressAndThePortIsTried)
{
    QTcpServer own;
    ASSERT_TRUE(own.listen(QHostAddress::Any, 0));
    http.Answer(200, "127.0.0.1\n");
    const struct
    {
        quint16 port;
        bool open;
    } cases[] = {{own.serverPort(), true}, {ClosedPort(), false}};
    for (const auto& c : cases) {
        const Outcome outcome = Run(c.port);
        EXPECT_TRUE(outcome.answered);
        EXPECT_EQ(outcome.address, QStringLiteral("127.0.0.1\n")); // as received
        EXPECT_EQ(outcome.port, c.port);
        EXPECT_EQ(outcome.open, c.open) << c.port;
    }
    EXPECT_EQ(CExternalIpCheck::PortOpenText(QStringLiteral("127.0.0.1\n"), 49275),
              QStringLiteral("Внешний IP: 127.0.0.1\nПорт 49275 открыт."));
    EXPECT_EQ(CExternalIpCheck::PortClosedText(QStringLiteral("127.0.0.1\n"), 49275),
              QStringLiteral("Внешний IP: 127.0.0.1\nПорт 49275 закрыт!!!"));

    // GET of /ip, taking anything, as agent QUARN.
    ASSERT_EQ(http.requests().size(), 2);
    const QByteArray head = http.requests().front();
    EXPECT_TRUE(head.startsWith("GET /ip HTTP/1.1\r\n")) << head.constData();
    EXPECT_TRUE(head.contains("\r\nAccept: */*")) << head.constData();
    EXPECT_TRUE(head.contains("\r\nUser-Agent: QUARN")) << head.constData();
}

TEST_F(ExternalIpCheckTest, FailuresOfTheServiceGiveNoAddress)
{
    QSignalSpy queried(&check, &CExternalIpCheck::queried);
    http.Answer(404, "127.0.0.1\n");
    EXPECT_FALSE(Run(ClosedPort()).answered);
    ASSERT_EQ(queried.size(), 1);
    EXPECT_FALSE(queried.back()[0].toBool());

    // A redirection is not followed.
    http.Answer(302, QByteArray());
    EXPECT_FALSE(Run(ClosedPort()).answered);

    // A service that accepts and never answers is given up after the wait.
    http.Hang();
    EXPECT_FALSE(Run(ClosedPort()).answered);
    ASSERT_TRUE(QTest::qWaitFor([&] { return http.OpenConnections() == 0; }, 5000));

    // Nothing listens at the service's address, or it is no URL at all.
    for (const QString& url : {QStringLiteral("http://127.0.0.1:%1/ip").arg(ClosedPort()), QStringLiteral("::: no url"),
                               QStringLiteral("ftp://127.0.0.1/ip")}) {
        UseService(url);
        EXPECT_FALSE(Run(ClosedPort()).answered) << url.toStdString();
    }
}

TEST_F(ExternalIpCheckTest, AnAnswerIsCutAt1023Characters)
{
    QByteArray body(3000, 'x');
    body[0] = '\xE9'; // each byte one character
    http.Answer(200, body);
    QSignalSpy queried(&check, &CExternalIpCheck::queried);
    const Outcome outcome = Run(ClosedPort());
    EXPECT_TRUE(outcome.answered);
    EXPECT_EQ(outcome.address.size(), 1023);
    EXPECT_EQ(outcome.address, QString::fromLatin1(body.left(1023)));
    EXPECT_FALSE(outcome.open); // no address to connect to
    ASSERT_EQ(queried.size(), 1);
    EXPECT_EQ(queried.back()[1].toString(), outcome.address);
}

TEST_F(ExternalIpCheckTest, ANewerCheckSupersedesOneStillRunning)
{
    check.httpTimeoutMs = 60000;
    http.Hang();
    check.CheckExternalPort(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return http.requests().size() == 1; }, 5000));
    CLocalHttpServer second;
    second.Answer(200, "127.0.0.1");
    UseService(second.Url());
    const Outcome outcome = Run(2);
    EXPECT_TRUE(outcome.answered);
    EXPECT_EQ(outcome.port, 2u);
    // The older request was dropped: it can report nothing any more.
    ASSERT_TRUE(QTest::qWaitFor([&] { return http.OpenConnections() == 0; }, 5000));
    EXPECT_EQ(spy.size(), 1);
}

namespace {

class CoreAddressCheckTest : public ::testing::Test
{
protected:
    CoreAddressCheckTest()
    {
        CSettingsStore store = Store();
        store.WriteString(QString::fromUtf16(Settings::kIpSection), QString::fromUtf16(Settings::kIpPort),
                          QStringLiteral("0"));
        store.WriteString(QString::fromUtf16(Settings::kSettingSection), QString::fromUtf16(Settings::kBaseFolder),
                          MakeTempFolder());
        UseService(http.Url());
        MapModemPorts({}); // the machine's own serial ports are left alone
        core.ipCheck().httpTimeoutMs = 300;
    }

    // Waits for the next end of a check and gives its status text.
    QString NextStatus(const std::function<void()>& start)
    {
        const qsizetype before = spy.size();
        start();
        EXPECT_TRUE(QTest::qWaitFor([&] { return spy.size() > before; }, 10000));
        return spy.isEmpty() ? QString() : spy.back()[0].toString();
    }

    CLocalHttpServer http;
    CManualClock clock{kNoon};
    CRecordingSound sound;
    CRecordingAlert alert;
    CServerCore core{clock, sound, alert};
    QSignalSpy spy{&core, &CServerCore::externalAddressChecked};
};

} // namespace

TEST_F(CoreAddressCheckTest, ExternalIpKeepsTheLastAnswerAndTheStatusShowsTheVerdict)
{
    // At start-up, without an answer, nothing is shown.
    http.Answer(404, QByteArray());
    EXPECT_EQ(NextStatus([&] { core.StartUp(); }), QString());
    EXPECT_EQ(core.externalIp, QString());
    ASSERT_TRUE(core.link().IsListening());

    // The server's own listening port, reached at the answered address.
    http.Answer(200, "127.0.0.1\n");
    const QString status = NextStatus([&] { core.SettingsChanged(); });
    EXPECT_EQ(status, QStringLiteral("Внешний IP: 127.0.0.1\nПорт %1 открыт.").arg(core.link().ListeningPort()));
    EXPECT_NE(core.link().ListeningPort(), 0);
    EXPECT_EQ(core.externalIp, QStringLiteral("127.0.0.1\n"));
    EXPECT_EQ(core.externalStatus(), spy.back()[0].toString());

    // A later failure shows the address obtained before, alone.
    http.Answer(404, "10.9.9.9\n");
    EXPECT_EQ(NextStatus([&] { core.CheckExternalAddress(); }), QStringLiteral("127.0.0.1\n"));
    EXPECT_EQ(core.externalIp, QStringLiteral("127.0.0.1\n"));

    core.link().StopListening();
    http.Answer(200, "127.0.0.1\n");
    EXPECT_EQ(NextStatus([&] { core.CheckExternalAddress(); }),
              QStringLiteral("Внешний IP: 127.0.0.1\nПорт 0 закрыт!!!")); // the stored port, 0: nothing there
}

TEST_F(CoreAddressCheckTest, ACheckStillRunningAtShutdownTouchesNothing)
{
    core.ipCheck().httpTimeoutMs = 60000;
    http.Answer(200, "127.0.0.1\n");
    EXPECT_FALSE(NextStatus([&] { core.StartUp(); }).isEmpty());
    const QString address = core.externalIp;
    const qsizetype reported = spy.size();
    http.Hang();
    core.CheckExternalAddress();
    ASSERT_TRUE(QTest::qWaitFor([&] { return http.OpenConnections() == 1; }, 5000));
    core.Shutdown();
    EXPECT_FALSE(core.ipCheck().IsRunning());
    ASSERT_TRUE(QTest::qWaitFor([&] { return http.OpenConnections() == 0; }, 5000));
    http.Answer(200, "10.1.1.1\n");
    core.CheckExternalAddress(); // asked after the stop: nothing starts
    core.SettingsChanged();
    EXPECT_FALSE(core.ipCheck().IsRunning());
    EXPECT_EQ(spy.size(), reported);
    EXPECT_EQ(core.externalIp, address);
}

// The TCP side on loopback with real sockets: what the link takes off a
// connection's byte stream, strangers and noise included.
#include "server/link/gprs_link.h"
#include "server/model/event_codes.h"
#include "server/model/report_frame.h"
#include "tests/server/server_fixture.h"

#include <QTcpSocket>
#include <QTest>

#include <memory>

namespace {

constexpr int kDeadlineMs = 5000;

QByteArray FrameBytes(std::uint32_t serial, std::uint16_t flags = 0)
{
    const auto frame = MakeFrame(serial, flags);
    return QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(frame.size()));
}

class GprsLinkTest : public PipelineTest
{
protected:
    GprsLinkTest() { EXPECT_TRUE(link.Listen(0)); }

    // A connection the link has accepted.
    std::unique_ptr<QTcpSocket> Connect()
    {
        const std::size_t before = link.ConnectionCount();
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QStringLiteral("127.0.0.1"), link.ListeningPort());
        EXPECT_TRUE(socket->waitForConnected(kDeadlineMs));
        EXPECT_TRUE(QTest::qWaitFor([&] { return link.ConnectionCount() == before + 1; }, kDeadlineMs));
        return socket;
    }

    // Sends the bytes and hangs up; returns once the link has closed its end.
    void SendAndHangUp(QTcpSocket& socket, const QByteArray& bytes)
    {
        const std::size_t before = link.ConnectionCount();
        socket.write(bytes);
        socket.disconnectFromHost();
        EXPECT_TRUE(QTest::qWaitFor([&] { return link.ConnectionCount() == before - 1; }, kDeadlineMs));
    }

    CGprsLink link{pipeline};
};

} // namespace

TEST_F(GprsLinkTest, AStrangersProbePlantsNoPoint)
{
    // A valid frame of an unregistered serial, off the grid among a
    // scanner's bytes, and the scanner leaves: nothing is taken.
    auto stranger = Connect();
    SendAndHangUp(*stranger, QByteArrayLiteral("\x16\x03\x01\x02\x00") + FrameBytes(0x31337)
                                 + QByteArrayLiteral("GET / HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(base.count(), 0);
    EXPECT_TRUE(base.todayEvents().empty());
    EXPECT_TRUE(sound.played.isEmpty());
}

TEST_F(GprsLinkTest, NoiseCostsAControllerNothing)
{
    // An unregistered controller after noise: its next frame confirms it,
    // and both frames are taken in order.
    auto first = Connect();
    first->write(QByteArrayLiteral("\r\nCONNECT\r\n") + FrameBytes(77) + FrameBytes(77, RF_SHOCK));
    ASSERT_TRUE(QTest::qWaitFor([&] { return base.todayEvents().size() >= 3; }, kDeadlineMs));
    EXPECT_EQ(TodayCodes(), (std::vector<std::uint8_t>{EV_NEW_POINT, EV_POINT_FOUND, EV_SHOCK}));
    SendAndHangUp(*first, {});

    // Now registered: after noise on a new connection, its alarm is taken
    // when it hangs up, with nothing after it.
    auto second = Connect();
    SendAndHangUp(*second, QByteArrayLiteral("\r\nCONNECT\r\n") + FrameBytes(77, RF_SAFE_OPEN));
    ASSERT_EQ(base.todayEvents().size(), 4u);
    EXPECT_EQ(base.todayEvents().back().code, EV_SAFE_OPEN);
    EXPECT_EQ(sound.played, (QStringList{QStringLiteral("alarm.wav"), QStringLiteral("alarm.wav")}));
    EXPECT_EQ(base.count(), 1);
}

// The GPRS side of the controller emulator against a real TCP server on
// loopback: what bytes arrive, on how many connections, in which order. The
// emulator writes its frames with its own code; the server's reader of the
// frame checks them here, so that the two independent writers of the layout
// keep each other honest.
#include "common/crc16.h"
#include "server/model/report_frame.h"
#include "sim/gprs_controllers.h"
#include "sim/gprs_plan.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <thread>

namespace {

constexpr int kDeadlineMs = 20000;
constexpr qsizetype kFrame = 64;

// A server that keeps every byte each connection delivered, in accept order.
class Receiver
{
public:
    Receiver()
    {
        // Room for every controller's connection while this thread is busy elsewhere.
        server_.setListenBacklogSize(1024);
        server_.setMaxPendingConnections(1024);
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                const std::size_t index = streams_.size();
                streams_.emplace_back();
                QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                 [this, socket, index] { streams_[index] += socket->readAll(); });
            }
        });
    }

    std::uint16_t Port() const { return server_.serverPort(); }
    const std::vector<QByteArray>& Streams() const { return streams_; }
    qsizetype TotalBytes() const
    {
        qsizetype total = 0;
        for (const QByteArray& s : streams_)
            total += s.size();
        return total;
    }
    // Waits until the connections have delivered this many bytes in all.
    bool WaitForBytes(qsizetype total)
    {
        return QTest::qWaitFor([&] { return TotalBytes() >= total; }, kDeadlineMs);
    }

private:
    QTcpServer server_;
    std::vector<QByteArray> streams_;
};

// Runs the controllers on a thread of their own while this thread serves the receiver.
T_GPRSRESULT RunControllers(const T_GPRSPLAN& plan, Receiver& receiver,
                            const std::function<void(CGprsControllers&)>& whileRunning = {})
{
    CGprsControllers controllers(plan);
    std::atomic<bool> done{false};
    T_GPRSRESULT result;
    std::thread thread([&] {
        result = controllers.Run();
        done = true;
    });
    if (whileRunning)
        whileRunning(controllers);
    const bool finished = QTest::qWaitFor([&] { return done.load(); }, kDeadlineMs);
    if (!finished)
        controllers.Stop();
    thread.join();
    EXPECT_TRUE(finished);
    // Whatever is still in flight on loopback arrives now.
    receiver.WaitForBytes(static_cast<qsizetype>(result.framesSent) * kFrame);
    return result;
}

T_GPRSPLAN PlanFor(const Receiver& receiver)
{
    T_GPRSPLAN plan;
    plan.port = receiver.Port();
    plan.intervalMs = 0;
    plan.maxConnecting = 16;
    return plan;
}

const std::uint8_t* At(const QByteArray& bytes, qsizetype offset)
{
    return reinterpret_cast<const std::uint8_t*>(bytes.constData()) + offset;
}

bool CrcValid(const QByteArray& stream, qsizetype offset)
{
    return Crc16Modbus(std::span<const std::uint8_t>(At(stream, offset), 62)) == LoadCrcHighFirst(At(stream, offset + 62));
}

std::uint16_t WordAt(const QByteArray& stream, qsizetype offset)
{
    return static_cast<std::uint16_t>(At(stream, offset)[0] | (At(stream, offset)[1] << 8));
}

} // namespace

TEST(GprsSim, FramesCarrySerialFlagsSequenceAndCrc)
{
    Receiver receiver;
    T_GPRSPLAN plan = PlanFor(receiver);
    plan.serialBase = 123456;  // high word 0001, low word E240
    plan.firstSequence = 0xFFFE;
    plan.count = 4;
    plan.alternate = true;
    plan.key = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    plan.balance = QStringLiteral("12.50");
    plan.versionMajor = 0x02;
    plan.versionMinor = 0x0A;

    const T_GPRSRESULT result = RunControllers(plan, receiver);
    EXPECT_EQ(result.framesSent, 4u);
    EXPECT_EQ(result.connected, 1u);
    EXPECT_EQ(result.connectFailed, 0u);
    ASSERT_EQ(receiver.Streams().size(), 1u);
    const QByteArray& stream = receiver.Streams()[0];
    ASSERT_EQ(stream.size(), 4 * kFrame);

    // The first frame, byte for byte: serial, sequence, version, key, flags, balance, CRC high byte first.
    EXPECT_EQ(stream.left(kFrame).toHex(),
              QByteArray("010040e2feff0a02" "0000000000000000000000000000" "1122334455667788" "0000"
                         "31322e35300000000000" "0000000000000000000000000000000000000000" "bfcd"));

    const std::uint16_t expectedSequences[] = {0xFFFE, 0xFFFF, 0x0000, 0x0001};
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        const qsizetype at = k * kFrame;
        EXPECT_EQ(FrameSerial(At(stream, at)), 123456u);
        EXPECT_EQ(WordAt(stream, at + 4), expectedSequences[k]);
        EXPECT_EQ(WordAt(stream, at + 30), k % 2 == 0 ? 0 : RF_SHOCK);
        EXPECT_TRUE(CrcValid(stream, at));
    }
}

TEST(GprsSim, TheServersReaderReadsEveryFieldTheEmulatorWrites)
{
    T_GPRSPLAN plan;
    plan.firstSequence = 0x1234;
    plan.versionMajor = 0x03;
    plan.versionMinor = 0x1B;
    plan.temperature1 = 600;   // 20.0 degrees
    plan.temperature2 = 0xABCD;
    plan.light = 2048;         // 50 %
    plan.key = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    plan.flags = RF_TILT_X | RF_POWER_LOST | RF_LIGHT;
    plan.alternate = true;
    plan.alarmFlags = RF_TEMPERATURE_2 | RF_CABINET_OPEN;
    plan.balance = QStringLiteral("0123456789");

    for (const std::uint32_t serial : {0x00000001u, 0x0001E240u, 0xFFFF0000u, 0xFFFFFFFFu}) {
        for (std::uint64_t index = 0; index < 2; ++index) {
            SCOPED_TRACE(testing::Message() << serial << " frame " << index);
            const CReportFrame frame(MakeReportFrame(plan, serial, index));
            EXPECT_TRUE(frame.CrcValid());
            EXPECT_EQ(frame.Serial(), serial);
            EXPECT_EQ(frame.Sequence(), 0x1234 + index);
            EXPECT_EQ(frame.VersionText(), QStringLiteral("03.1B"));
            EXPECT_EQ(frame.TiltX(), 0);
            EXPECT_EQ(frame.Temperature1Raw(), 600);
            EXPECT_EQ(CReportFrame::Temperature(frame.Temperature1Raw()), 20.0);
            EXPECT_EQ(frame.Temperature2Raw(), 0xABCD);
            EXPECT_EQ(frame.LightRaw(), 2048);
            EXPECT_TRUE(frame.KeyPresent());
            EXPECT_EQ(frame.Flags(), index == 0 ? plan.flags : plan.alarmFlags);
            EXPECT_EQ(frame.Balance(), QStringLiteral("0123456789"));
        }
    }

    // A short balance ends with a zero byte; no key is all zero.
    plan.balance = QStringLiteral("5.00");
    plan.key = {};
    const CReportFrame frame(MakeReportFrame(plan, 7, 0));
    EXPECT_EQ(frame.Balance(), QStringLiteral("5.00"));
    EXPECT_EQ(frame.Bytes()[36], 0);
    EXPECT_FALSE(frame.KeyPresent());
    EXPECT_TRUE(frame.CrcValid());
}

TEST(GprsSim, ManyControllersEachOnItsOwnConnectionWithItsOwnSerial)
{
    Receiver receiver;
    T_GPRSPLAN plan = PlanFor(receiver);
    plan.controllers = 300;
    plan.serialBase = 0x0001FFF0;  // the serials cross a change of the high word
    plan.count = 3;
    plan.alternate = true;
    plan.alarmFlags = RF_SAFE_OPEN;

    const T_GPRSRESULT result = RunControllers(plan, receiver);
    EXPECT_EQ(result.connected, 300u);
    EXPECT_EQ(result.framesSent, 900u);
    EXPECT_EQ(result.framesUnsent, 0u);
    ASSERT_EQ(receiver.Streams().size(), 300u);

    std::set<std::uint32_t> serials;
    for (const QByteArray& stream : receiver.Streams()) {
        ASSERT_EQ(stream.size(), 3 * kFrame);
        const std::uint32_t serial = FrameSerial(At(stream, 0));
        serials.insert(serial);
        for (int k = 0; k < 3; ++k) {
            const qsizetype at = k * kFrame;
            EXPECT_EQ(FrameSerial(At(stream, at)), serial);
            EXPECT_EQ(WordAt(stream, at + 4), k + 1);
            EXPECT_EQ(WordAt(stream, at + 30), k % 2 == 0 ? 0 : RF_SAFE_OPEN);
            EXPECT_TRUE(CrcValid(stream, at));
        }
    }
    ASSERT_EQ(serials.size(), 300u);
    EXPECT_EQ(*serials.begin(), 0x0001FFF0u);
    EXPECT_EQ(*serials.rbegin(), 0x0001FFF0u + 299);
}

TEST(GprsSim, SplitAndJoinedWritesDeliverTheSameStream)
{
    struct Case
    {
        const char* name;
        bool split;
        int splitGapMs;
        bool join;
    };
    const Case cases[] = {
        {"split", true, 0, false},
        {"split with a pause between halves", true, 5, false},
        {"two frames per write", false, 0, true},
    };

    T_GPRSPLAN reference;
    reference.serialBase = 77;
    reference.count = 5;  // odd, so the last joined write carries one frame
    reference.alternate = true;
    QByteArray expected;
    for (std::uint64_t k = 0; k < reference.count; ++k) {
        const auto bytes = FrameBytes(reference, reference.serialBase, k);
        expected.append(reinterpret_cast<const char*>(bytes.data()), kFrame);
    }

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Receiver receiver;
        T_GPRSPLAN plan = PlanFor(receiver);
        plan.serialBase = reference.serialBase;
        plan.count = reference.count;
        plan.alternate = true;
        plan.split = c.split;
        plan.splitGapMs = c.splitGapMs;
        plan.join = c.join;
        const T_GPRSRESULT result = RunControllers(plan, receiver);
        EXPECT_EQ(result.framesSent, 5u);
        EXPECT_EQ(result.framesUnsent, 0u);
        ASSERT_EQ(receiver.Streams().size(), 1u);
        EXPECT_EQ(receiver.Streams()[0].toHex(), expected.toHex());
    }
}

TEST(GprsSim, CorruptedByteBreaksTheCrcOfChosenFramesOnly)
{
    Receiver receiver;
    T_GPRSPLAN plan = PlanFor(receiver);
    plan.count = 4;
    plan.corruptByte = 10;
    plan.corruptEvery = 2;  // the 2nd and 4th frames

    const T_GPRSRESULT result = RunControllers(plan, receiver);
    EXPECT_EQ(result.framesSent, 4u);
    ASSERT_EQ(receiver.Streams().size(), 1u);
    const QByteArray& stream = receiver.Streams()[0];
    ASSERT_EQ(stream.size(), 4 * kFrame);
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        const bool corrupted = k % 2 == 1;
        EXPECT_EQ(CrcValid(stream, k * kFrame), !corrupted);
        EXPECT_EQ(static_cast<std::uint8_t>(stream[k * kFrame + 10]), corrupted ? 0xFF : 0x00);
    }
}

TEST(GprsSim, RefusedConnectionCountsAsFailed)
{
    std::uint16_t closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    T_GPRSPLAN plan;
    plan.port = closedPort;
    plan.controllers = 3;
    plan.count = 2;
    CGprsControllers controllers(plan);
    const T_GPRSRESULT result = controllers.Run();
    EXPECT_EQ(result.connectFailed, 3u);
    EXPECT_EQ(result.connected, 0u);
    EXPECT_EQ(result.framesSent, 0u);
    EXPECT_EQ(result.framesUnsent, 6u);
}

TEST(GprsSim, StopEndsAnEndlessRun)
{
    Receiver receiver;
    T_GPRSPLAN plan = PlanFor(receiver);
    plan.count = 0;
    plan.intervalMs = 1;
    const T_GPRSRESULT result = RunControllers(plan, receiver, [&](CGprsControllers& controllers) {
        EXPECT_TRUE(receiver.WaitForBytes(3 * kFrame));
        controllers.Stop();
    });
    EXPECT_TRUE(result.stopped);
    EXPECT_GE(result.framesSent, 3u);
    ASSERT_EQ(receiver.Streams().size(), 1u);
    EXPECT_EQ(receiver.Streams()[0].size(), static_cast<qsizetype>(result.framesSent) * kFrame);
}

TEST(GprsSim, SmsTextIsTheFrameInCapitalHexadecimal)
{
    T_GPRSPLAN plan;
    plan.serialBase = 123456;
    plan.flags = RF_SHOCK | RF_TILT_X;
    const CReportFrame frame(MakeReportFrame(plan, plan.serialBase, 0));
    const QByteArray text = ReportSmsText(frame.Bytes());
    ASSERT_EQ(text.size(), 128);
    EXPECT_TRUE(text.startsWith("010040E20100"));
    EXPECT_EQ(text.mid(60, 4), QByteArray("8100"));  // flags at byte 30, little-endian
    EXPECT_EQ(text, text.toUpper());
    EXPECT_EQ(QByteArray::fromHex(text), QByteArray(reinterpret_cast<const char*>(frame.Bytes().data()), kFrame));
    EXPECT_EQ(text.right(4), QByteArray::number(frame.ComputedCrc(), 16).rightJustified(4, '0').toUpper());

    // The program prints one such line per frame and connects nowhere.
    QProcess program;
    program.start(QStringLiteral(GPRS_SIM),
                  {QStringLiteral("--sms"), QStringLiteral("--serial"), QStringLiteral("123456"), QStringLiteral("--flags"),
                   QStringLiteral("0x81"), QStringLiteral("--count"), QStringLiteral("2")});
    ASSERT_TRUE(program.waitForFinished(kDeadlineMs));
    EXPECT_EQ(program.exitCode(), 0);
    const QList<QByteArray> lines = program.readAllStandardOutput().split('\n');
    ASSERT_EQ(lines.size(), 3);  // two lines and the empty rest after the last newline
    EXPECT_EQ(lines[0], text);
    EXPECT_EQ(lines[1], ReportSmsText(MakeReportFrame(plan, plan.serialBase, 1)));
}

TEST(GprsSim, OptionsAreCheckedBeforeAnythingIsSent)
{
    const QString program = QStringLiteral("ostrel-gprs");
    const QStringList bad[] = {
        {},                                                           // no port
        {QStringLiteral("--port"), QStringLiteral("0")},
        {QStringLiteral("--port"), QStringLiteral("65536")},
        {QStringLiteral("--port"), QStringLiteral("x")},
        {QStringLiteral("--port"), QStringLiteral("1"), QStringLiteral("--controllers"), QStringLiteral("0")},
        {QStringLiteral("--port"), QStringLiteral("1"), QStringLiteral("--controllers"), QStringLiteral("65537")},
        {QStringLiteral("--port"), QStringLiteral("1"), QStringLiteral("--serial"), QStringLiteral("0xFFFFFFFF"),
         QStringLiteral("--controllers"), QStringLiteral("2")},
        {QStringLiteral("--port"), QStringLiteral("1"), QStringLiteral("--flags"), QStringLiteral("0x10000")},
        {QStringLiteral("--port"), QStringLiteral("1"), QStringLiteral("--key"), QStringLiteral("1122")},
        {QStringLiteral("--port"), QStringLiteral("1"), QStringLiteral("--key"), QStringLiteral("11223344556677GG")},
        {QStringLiteral("--port"), QStringLiteral("1"), QStringLiteral("--balance"), QStringLiteral("12345678901")},
        {QStringLiteral("--port"), QStringLiteral("1"), QStringLiteral("--corrupt-byte"), QStringLiteral("64")},
        {QStringLiteral("--port"), QStringLiteral("1"), QStringLiteral("--split"), QStringLiteral("--join")},
        {QStringLiteral("--port"), QStringLiteral("1"), QStringLiteral("--interval"), QStringLiteral("-5")},
        {QStringLiteral("--port"), QStringLiteral("1"), QStringLiteral("--host"), QStringLiteral("not.an.address")},
        {QStringLiteral("--port"), QStringLiteral("1"), QStringLiteral("--firmware"), QStringLiteral("1")},
        {QStringLiteral("--port"), QStringLiteral("1"), QStringLiteral("--no-such-option")},
        {QStringLiteral("--port"), QStringLiteral("1"), QStringLiteral("stray")},
        {QStringLiteral("--sms"), QStringLiteral("--count"), QStringLiteral("0")},
    };
    for (const QStringList& arguments : bad) {
        SCOPED_TRACE(arguments.join(QLatin1Char(' ')).toStdString());
        const T_PLANPARSE parsed = ParseGprsPlan(QStringList{program} + arguments);
        EXPECT_EQ(parsed.status, PlanStatus::Error);
        EXPECT_FALSE(parsed.text.isEmpty());
    }

    const T_PLANPARSE good = ParseGprsPlan({program, QStringLiteral("--port"), QStringLiteral("49275"),
                                            QStringLiteral("--serial"), QStringLiteral("0x10E240"),
                                            QStringLiteral("--alarm-flags"), QStringLiteral("0x40"),
                                            QStringLiteral("--key"), QStringLiteral("0102030405060708"),
                                            QStringLiteral("--sequence"), QStringLiteral("010")});
    ASSERT_EQ(good.status, PlanStatus::Run) << good.text.toStdString();
    EXPECT_EQ(good.plan.port, 49275);
    EXPECT_EQ(good.plan.serialBase, 0x10E240u);
    EXPECT_TRUE(good.plan.alternate);
    EXPECT_EQ(good.plan.alarmFlags, RF_SAFE_OPEN);
    EXPECT_EQ(good.plan.key[7], 0x08);
    EXPECT_EQ(good.plan.firstSequence, 10);  // a leading zero is not octal

    const T_PLANPARSE help = ParseGprsPlan({program, QStringLiteral("--help")});
    EXPECT_EQ(help.status, PlanStatus::Help);
    EXPECT_TRUE(help.text.contains(QStringLiteral("--corrupt-byte")));
}

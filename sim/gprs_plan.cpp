#include "sim/gprs_plan.h"

#include "sim/sim_options.h"

#include <QHostAddress>

#include <algorithm>
#include <limits>

namespace {

QString Text(const char* latin1) { return QString::fromLatin1(latin1); }

// "MM.mm": the major and minor version as hexadecimal bytes, as the server shows them.
bool ParseVersion(const QString& text, std::uint8_t* major, std::uint8_t* minor)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 2)
        return false;
    bool okMajor = false;
    bool okMinor = false;
    const uint a = parts[0].toUInt(&okMajor, 16);
    const uint b = parts[1].toUInt(&okMinor, 16);
    if (!okMajor || !okMinor || a > 0xFF || b > 0xFF || parts[0].isEmpty() || parts[1].isEmpty())
        return false;
    *major = static_cast<std::uint8_t>(a);
    *minor = static_cast<std::uint8_t>(b);
    return true;
}

} // namespace

CReportFrameWriter::Frame MakeReportFrame(const T_GPRSPLAN& plan, std::uint32_t serial, std::uint64_t index)
{
    CReportFrameWriter frame;
    frame.SetSerial(serial);
    frame.SetSequence(static_cast<std::uint16_t>(plan.firstSequence + index));
    frame.SetVersion(plan.versionMajor, plan.versionMinor);
    frame.SetTemperatures(plan.temperature1, plan.temperature2);
    frame.SetLight(plan.light);
    frame.SetKey(plan.key);
    frame.SetFlags(plan.alternate && index % 2 == 1 ? plan.alarmFlags : plan.flags);
    frame.SetBalance(plan.balance.toLatin1());
    return frame.Sealed();
}

CReportFrameWriter::Frame FrameBytes(const T_GPRSPLAN& plan, std::uint32_t serial, std::uint64_t index)
{
    CReportFrameWriter::Frame bytes = MakeReportFrame(plan, serial, index);
    if (plan.corruptByte >= 0 && plan.corruptEvery > 0 && (index + 1) % plan.corruptEvery == 0)
        bytes[static_cast<std::size_t>(plan.corruptByte)] ^= 0xFF;
    return bytes;
}

QByteArray ReportSmsText(std::span<const std::uint8_t, CReportFrameWriter::kSize> frame)
{
    return QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(frame.size()))
        .toHex()
        .toUpper();
}

T_PLANPARSE ParseGprsPlan(const QStringList& arguments)
{
    T_PLANPARSE result;
    T_GPRSPLAN& plan = result.plan;

    CSimOptions options(Text(
        "Alarm controller emulator, GPRS side: connects to a monitoring server over TCP\n"
        "and sends 64-byte report frames, one connection per controller. Serial numbers\n"
        "count up from --serial; each controller numbers its frames from --sequence.\n"
        "Numbers may be decimal or hexadecimal with 0x. With --sms it prints the SMS text\n"
        "of each frame (128 capital hexadecimal digits) instead of connecting.\n"
        "Prints a summary at the end; exits with 1 when a connection failed or a frame\n"
        "could not be sent, 2 on bad options. SIGINT or SIGTERM stops it early."));

    const QCommandLineOption host(Text("host"), Text("Server address (default 127.0.0.1)."), Text("address"), plan.host);
    const QCommandLineOption port(Text("port"), Text("Server TCP port (required unless --sms)."), Text("port"));
    const QCommandLineOption serial(Text("serial"), Text("Serial number of the first controller (default 1)."), Text("n"), Text("1"));
    const QCommandLineOption controllers(Text("controllers"), Text("Number of controllers, 1..65536, each on its own connection (default 1)."), Text("n"), Text("1"));
    const QCommandLineOption sequence(Text("sequence"), Text("Sequence number of each controller's first frame (default 1)."), Text("n"), Text("1"));
    const QCommandLineOption count(Text("count"), Text("Frames per controller; 0 sends until stopped (default 1)."), Text("n"), Text("1"));
    const QCommandLineOption interval(Text("interval"), Text("Milliseconds between a controller's frames (default 1000)."), Text("ms"), Text("1000"));
    const QCommandLineOption spread(Text("spread"), Text("Stagger the controllers' first frames evenly over one interval."));
    const QCommandLineOption flags(Text("flags"), Text("Sensor state bits of the frames (default 0)."), Text("bits"), Text("0"));
    const QCommandLineOption alternate(Text("alternate"), Text("Alternate plain and alarm frames: the 2nd, 4th, ... frame carries the alarm bits."));
    const QCommandLineOption alarmFlags(Text("alarm-flags"), Text("Sensor bits of the alarm frames (default 0x80, shock); implies --alternate."), Text("bits"));
    const QCommandLineOption key(Text("key"), Text("Key identifier: 16 hexadecimal digits, bytes 22..29 of the frame (default none)."), Text("hex"));
    const QCommandLineOption balance(Text("balance"), Text("Account balance text, at most 10 Latin-1 characters."), Text("text"));
    const QCommandLineOption firmware(Text("firmware"), Text("Software version as two hexadecimal bytes MM.mm (default 01.00)."), Text("MM.mm"), Text("01.00"));
    const QCommandLineOption temperature1(Text("temperature1"), Text("Raw temperature 1 (0 = no sensor; degrees = (raw - 440) x 0.125)."), Text("raw"), Text("0"));
    const QCommandLineOption temperature2(Text("temperature2"), Text("Raw temperature 2."), Text("raw"), Text("0"));
    const QCommandLineOption light(Text("light"), Text("Raw light level (4096 = 100 %)."), Text("raw"), Text("0"));
    const QCommandLineOption split(Text("split"), Text("Write each frame in two halves of 32 bytes (TCP_NODELAY)."));
    const QCommandLineOption splitGap(Text("split-gap"), Text("Milliseconds between the two halves of a split frame (default 0)."), Text("ms"), Text("0"));
    const QCommandLineOption join(Text("join"), Text("Write two frames in one write; --interval then separates the writes."));
    const QCommandLineOption corrupt(Text("corrupt-byte"), Text("Invert this byte (0..63) of frames after the CRC is sealed."), Text("offset"));
    const QCommandLineOption corruptEvery(Text("corrupt-every"), Text("Corrupt only every n-th frame of each controller (default 1)."), Text("n"), Text("1"));
    const QCommandLineOption maxConnecting(Text("max-connecting"), Text("Connection attempts in flight at once (default 256)."), Text("n"), Text("256"));
    const QCommandLineOption connectTimeout(Text("connect-timeout"), Text("Milliseconds before a connection attempt counts as failed (default 10000)."), Text("ms"), Text("10000"));
    const QCommandLineOption hold(Text("hold"), Text("Keep the connections open this many milliseconds after the last frame; -1 until stopped (default 0)."), Text("ms"), Text("0"));
    const QCommandLineOption sms(Text("sms"), Text("Print the SMS text of every frame, one per line, instead of connecting."));
    options.Add({host, port, serial, controllers, sequence, count, interval, spread, flags, alternate, alarmFlags,
                  key, balance, firmware, temperature1, temperature2, light, split, splitGap, join, corrupt,
                  corruptEvery, maxConnecting, connectTimeout, hold, sms});

    switch (options.Parse(arguments)) {
    case CSimOptions::Status::Run:
        break;
    case CSimOptions::Status::Help:
        result.status = PlanStatus::Help;
        result.text = options.Message();
        return result;
    case CSimOptions::Status::Error:
        result.text = options.Message();
        return result;
    }

    auto fail = [&result](const char* message) {
        result.status = PlanStatus::Error;
        result.text = Text(message);
        return result;
    };
    std::int64_t n = 0;
    // A number option into an int field of the plan.
    auto readInt = [&options, &n](const QCommandLineOption& option, int low, int high, int* field) {
        if (!options.Number(option, low, high, &n))
            return false;
        *field = static_cast<int>(n);
        return true;
    };

    plan.printSms = options.IsSet(sms);
    plan.host = options.Value(host);
    if (QHostAddress(plan.host).isNull())
        return fail("--host takes an IPv4 or IPv6 address");
    if (options.IsSet(port)) {
        if (!options.Number(port, 1, 65535, &n))
            return fail("--port takes 1..65535");
        plan.port = static_cast<std::uint16_t>(n);
    } else if (!plan.printSms) {
        return fail("--port is required");
    }
    if (!options.Number(controllers, 1, T_GPRSPLAN::kMaxControllers, &n))
        return fail("--controllers takes 1..65536");
    plan.controllers = static_cast<std::uint32_t>(n);
    if (!options.Number(serial, 0, std::numeric_limits<std::uint32_t>::max(), &n)
        || n + plan.controllers - 1 > std::numeric_limits<std::uint32_t>::max())
        return fail("--serial: the serial numbers must fit in 32 bits");
    plan.serialBase = static_cast<std::uint32_t>(n);
    if (!options.Number(sequence, 0, 0xFFFF, &n))
        return fail("--sequence takes 0..65535");
    plan.firstSequence = static_cast<std::uint16_t>(n);
    if (!options.Number(count, 0, std::numeric_limits<std::uint32_t>::max(), &n))
        return fail("--count takes 0..4294967295");
    plan.count = static_cast<std::uint32_t>(n);
    if (plan.printSms && (plan.count == 0 || std::uint64_t(plan.count) * plan.controllers > T_GPRSPLAN::kMaxPrintedFrames))
        return fail("--sms prints 1..1000000 frames in all");
    if (!readInt(interval, 0, T_GPRSPLAN::kMaxIntervalMs, &plan.intervalMs))
        return fail("--interval takes 0..86400000 milliseconds");
    plan.spread = options.IsSet(spread);

    if (!options.Number(flags, 0, 0xFFFF, &n))
        return fail("--flags takes 0..0xFFFF");
    plan.flags = static_cast<std::uint16_t>(n);
    plan.alternate = options.IsSet(alternate) || options.IsSet(alarmFlags);
    if (options.IsSet(alarmFlags)) {
        if (!options.Number(alarmFlags, 0, 0xFFFF, &n))
            return fail("--alarm-flags takes 0..0xFFFF");
        plan.alarmFlags = static_cast<std::uint16_t>(n);
    }
    if (options.IsSet(key) && !options.Key(key, &plan.key))
        return fail("--key takes 16 hexadecimal digits");
    plan.balance = options.Value(balance);
    const bool latin1 = std::all_of(plan.balance.cbegin(), plan.balance.cend(),
                                    [](QChar c) { return c.unicode() <= 0xFF; });
    if (plan.balance.size() > static_cast<qsizetype>(CReportFrameWriter::kBalanceSize) || !latin1)
        return fail("--balance takes at most 10 Latin-1 characters");
    if (!ParseVersion(options.Value(firmware), &plan.versionMajor, &plan.versionMinor))
        return fail("--firmware takes two hexadecimal bytes, for instance 01.0A");
    const std::pair<const QCommandLineOption*, std::uint16_t*> readings[] = {
        {&temperature1, &plan.temperature1}, {&temperature2, &plan.temperature2}, {&light, &plan.light}};
    for (const auto& [option, field] : readings) {
        if (!options.Number(*option, 0, 0xFFFF, &n))
            return fail("--temperature1, --temperature2 and --light take 0..65535");
        *field = static_cast<std::uint16_t>(n);
    }

    plan.split = options.IsSet(split);
    plan.join = options.IsSet(join);
    if (plan.split && plan.join)
        return fail("--split and --join exclude each other");
    if (!readInt(splitGap, 0, T_GPRSPLAN::kMaxIntervalMs, &plan.splitGapMs))
        return fail("--split-gap takes 0..86400000 milliseconds");
    if (options.IsSet(corrupt)) {
        if (!readInt(corrupt, 0, static_cast<int>(CReportFrameWriter::kSize) - 1, &plan.corruptByte))
            return fail("--corrupt-byte takes 0..63");
    }
    if (!options.Number(corruptEvery, 1, std::numeric_limits<std::uint32_t>::max(), &n))
        return fail("--corrupt-every takes 1 or more");
    plan.corruptEvery = static_cast<std::uint32_t>(n);
    if (!readInt(maxConnecting, 1, static_cast<int>(T_GPRSPLAN::kMaxControllers), &plan.maxConnecting))
        return fail("--max-connecting takes 1..65536");
    if (!readInt(connectTimeout, 1, T_GPRSPLAN::kMaxIntervalMs, &plan.connectTimeoutMs))
        return fail("--connect-timeout takes 1..86400000 milliseconds");
    if (!readInt(hold, -1, T_GPRSPLAN::kMaxIntervalMs, &plan.holdMs))
        return fail("--hold takes -1..86400000 milliseconds");
    if (plan.count == 0 && plan.holdMs != 0 && !plan.printSms)
        return fail("--hold needs a --count");

    result.status = PlanStatus::Run;
    return result;
}

// gprs_load: a load driver for a receiver of GPRS report frames. It starts
// the receiver as a child process (the bare receiver, or the Varkon server
// with its settings in a temporary home), lets many emulated controllers
// report to it over loopback, stops it with SIGTERM and reports what it
// recorded, what it cost in CPU and memory, and how long a frame took from
// its send to its record in the output file.
//
// Modes:
//   load (default): N controllers, one report a second each for D seconds,
//     alternating plain and shock reports so that every report records one
//     event;
//   --idle: N connections (default 10000) that each send one frame and then
//     stay open; the receiver's resident memory is read from /proc.
#include "sim/gprs_controllers.h"
#include "server/model/event_codes.h"
#include "server/model/records.h"
#include "sim/gprs_plan.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kRecord = 24;            // one event record in the output file
constexpr std::size_t kDayHeader = 4;          // a day file begins with its u32 record count
constexpr std::uint32_t kSerialBase = 1000000;
constexpr int kMaxControllers = 60000;
constexpr int kMaxDurationS = 600;
constexpr int kStartDeadlineMs = 30000;        // for the receiver to listen
constexpr int kExitDeadlineMs = 60000;         // for the receiver to exit after SIGTERM
constexpr int kQuietMs = 1000;                 // CPU-idle time that counts as "caught up"
constexpr std::int64_t kNsPerMs = 1000000;

QString Text(const char* latin1) { return QString::fromLatin1(latin1); }

std::int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A loopback port that was free a moment ago.
std::uint16_t FreePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

bool PortAnswers(std::uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

// The receiver: how it is started and where it writes.
struct Receiver
{
    bool varkon = false;
    QString program;
    QStringList arguments;
    QStringList environment;  // NAME=value added to the driver's own
    QString output;           // bare: the record file; Varkon: the base folder
    QString log;              // the receiver's standard output and error
    pid_t pid = -1;
    std::uint16_t port = 0;
};

pid_t Spawn(const Receiver& receiver)
{
    std::vector<QByteArray> args{receiver.program.toLocal8Bit()};
    for (const QString& a : receiver.arguments)
        args.push_back(a.toLocal8Bit());
    std::vector<QByteArray> env;
    for (const QString& e : receiver.environment)
        env.push_back(e.toLocal8Bit());
    const QByteArray log = receiver.log.toLocal8Bit();
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    for (const QByteArray& e : env)
        putenv(const_cast<char*>(e.constData()));
    const int fd = open(log.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
    }
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

// Records in the receiver's output so far: the bare receiver's plain record
// file, or the count headers of Varkon's day files.
std::uint64_t RecordCount(const Receiver& receiver)
{
    if (!receiver.varkon) {
        struct stat info{};
        if (stat(receiver.output.toLocal8Bit().constData(), &info) != 0)
            return 0;
        return static_cast<std::uint64_t>(info.st_size) / kRecord;
    }
    std::uint64_t total = 0;
    const QDir base(receiver.output);
    for (const QString& name : base.entryList({Text("*Day.base")}, QDir::Files)) {
        QFile file(base.filePath(name));
        std::uint32_t count = 0;
        if (file.open(QIODevice::ReadOnly) && file.read(reinterpret_cast<char*>(&count), sizeof count) == sizeof count)
            total += count;
    }
    return total;
}

// The records of the output file in order: the bare receiver's one file,
// or Varkon's day files oldest first, each after its count header.
QByteArray AllRecords(const Receiver& receiver)
{
    if (!receiver.varkon) {
        QFile file(receiver.output);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QByteArray records;
    const QDir base(receiver.output);
    for (const QString& name : base.entryList({Text("*Day.base")}, QDir::Files, QDir::Time | QDir::Reversed)) {
        QFile file(base.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            records += file.readAll().mid(kDayHeader);
    }
    return records;
}

// For each count c of records, how many of the first c records answer a
// report. Varkon's files also hold its start and stop events and one "new
// point" event per controller, which no report frame of the load matches.
std::vector<std::uint64_t> ReportsUpTo(const Receiver& receiver)
{
    const QByteArray records = AllRecords(receiver);
    const std::size_t count = static_cast<std::size_t>(records.size()) / kRecord;
    std::vector<std::uint64_t> upTo(count + 1, 0);
    for (std::size_t i = 0; i < count; ++i) {
        const auto code = static_cast<std::uint8_t>(records[static_cast<qsizetype>(i * kRecord)]);
        const auto source = static_cast<std::uint8_t>(records[static_cast<qsizetype>(i * kRecord + 1)]);
        const bool report = !receiver.varkon || (source == SRC_GPRS && code != EV_NEW_POINT);
        upTo[i + 1] = upTo[i] + (report ? 1 : 0);
    }
    return upTo;
}

// user + system CPU seconds of a running process, from /proc.
double ProcessCpu(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = file.readAll();
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    // After the name: state is field 3, utime 14, stime 15 (1-based over the whole line).
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    return (fields[11].toDouble() + fields[12].toDouble()) / ticks;
}

long VmRssKiB(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Waits until the receiver's CPU time has stood still for kQuietMs, or the deadline.
void WaitUntilQuiet(pid_t pid, int deadlineMs, const std::function<bool()>& done = {})
{
    const std::int64_t end = NowNs() + deadlineMs * kNsPerMs;
    double last = ProcessCpu(pid);
    std::int64_t stillSince = NowNs();
    while (NowNs() < end) {
        if (done && done())
            return;
        SleepMs(50);
        const double cpu = ProcessCpu(pid);
        if (cpu != last) {
            last = cpu;
            stillSince = NowNs();
        } else if (NowNs() - stillSince >= kQuietMs * kNsPerMs) {
            return;
        }
    }
}

bool StartReceiver(Receiver& receiver)
{
    receiver.pid = Spawn(receiver);
    if (receiver.pid < 0)
        return false;
    const std::int64_t end = NowNs() + kStartDeadlineMs * kNsPerMs;
    while (NowNs() < end) {
        int status = 0;
        if (waitpid(receiver.pid, &status, WNOHANG) == receiver.pid) {
            receiver.pid = -1;
            return false;
        }
        if (PortAnswers(receiver.port))
            return true;
        SleepMs(20);
    }
    return false;
}

struct T_EXIT
{
    bool exited = false;
    int status = 0;
    rusage usage{};
};

T_EXIT StopReceiver(Receiver& receiver)
{
    T_EXIT result;
    kill(receiver.pid, SIGTERM);
    const std::int64_t end = NowNs() + kExitDeadlineMs * kNsPerMs;
    while (NowNs() < end) {
        const pid_t got = wait4(receiver.pid, &result.status, WNOHANG, &result.usage);
        if (got == receiver.pid) {
            result.exited = true;
            break;
        }
        SleepMs(10);
    }
    if (!result.exited) {
        std::fprintf(stderr, "gprs_load: the receiver did not exit after SIGTERM; killing it\n");
        kill(receiver.pid, SIGKILL);
        wait4(receiver.pid, &result.status, 0, &result.usage);
    }
    receiver.pid = -1;
    return result;
}

void PrintLog(const Receiver& receiver)
{
    QFile file(receiver.log);
    if (!file.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            std::printf("  receiver: %s\n", line.constData());
    }
}

double CpuSeconds(const rusage& usage)
{
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Samples the record count at a fine interval, keeping each change with its time.
class CountPoller
{
public:
    CountPoller(const Receiver& receiver, int intervalUs) : receiver_(receiver), intervalUs_(intervalUs)
    {
        thread_ = std::thread([this] {
            std::uint64_t last = 0;
            while (!stop_) {
                const std::uint64_t count = RecordCount(receiver_);
                if (count != last) {
                    samples_.push_back({NowNs(), count});
                    last = count;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(intervalUs_));
            }
        });
    }
    ~CountPoller() { Finish(); }
    void Finish()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    struct Sample
    {
        std::int64_t at;
        std::uint64_t count;
    };
    const std::vector<Sample>& Samples() const { return samples_; }

private:
    const Receiver& receiver_;
    const int intervalUs_;
    std::atomic<bool> stop_{false};
    std::vector<Sample> samples_;
    std::thread thread_;
};

double Percentile(std::vector<double>& sorted, double p)
{
    if (sorted.empty())
        return 0;
    const auto at = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
}

struct T_LOADSETTINGS
{
    int controllers = 5000;
    int durationS = 30;
    int intervalMs = 1000;
    int pollUs = 1000;
    int settleMs = 15000;
    bool idle = false;
    int idleWaitMs = 30000;
};

int RunLoad(Receiver& receiver, const T_LOADSETTINGS& settings)
{
    T_GPRSPLAN plan;
    plan.port = receiver.port;
    plan.controllers = static_cast<std::uint32_t>(settings.controllers);
    plan.serialBase = kSerialBase;
    plan.count = static_cast<std::uint32_t>(settings.durationS * 1000 / std::max(settings.intervalMs, 1));
    plan.intervalMs = settings.intervalMs;
    plan.spread = true;
    plan.alternate = true;
    plan.alarmFlags = CReportFrameWriter::kShock;

    std::vector<std::int64_t> sendTimes;
    sendTimes.reserve(std::size_t(plan.count) * plan.controllers);
    std::uint64_t controllersHeard = 0;  // controllers whose first frame went out
    CGprsControllers controllers(plan);
    controllers.SetSentHook([&](std::uint32_t, std::uint64_t index) {
        sendTimes.push_back(NowNs());
        if (index == 0)
            ++controllersHeard;
    });

    WaitUntilQuiet(receiver.pid, settings.settleMs);  // let start-up work finish first
    const double cpuAtStart = ProcessCpu(receiver.pid);
    std::printf("load: %d controllers, %u reports each, one every %d ms, receiver on port %u\n", settings.controllers,
                plan.count, plan.intervalMs, receiver.port);
    std::fflush(stdout);
    CountPoller poller(receiver, settings.pollUs);
    const std::int64_t started = NowNs();
    const T_GPRSRESULT sent = controllers.Run();
    const double sendSeconds = static_cast<double>(NowNs() - started) / 1e9;

    // Let the receiver catch up: the records arrive (bare), or its CPU goes quiet.
    const std::uint64_t framesSent = sent.framesSent;
    // Varkon records a new point per controller and its start before SIGTERM.
    const std::uint64_t awaited = receiver.varkon ? framesSent + controllersHeard + 1 : framesSent;
    WaitUntilQuiet(receiver.pid, settings.settleMs, [&] { return RecordCount(receiver) >= awaited; });
    const double cpuBeforeStop = ProcessCpu(receiver.pid);
    const std::uint64_t beforeStop = RecordCount(receiver);
    const long rssBeforeStop = VmRssKiB(receiver.pid);
    const T_EXIT exit = StopReceiver(receiver);
    poller.Finish();
    const std::uint64_t records = RecordCount(receiver);

    std::uint64_t expected = framesSent;
    if (receiver.varkon)
        expected += controllersHeard + 2;  // a new point per controller, server start and stop

    // Delay: the k-th report record to appear is matched with the k-th frame sent.
    const std::vector<std::uint64_t> reportsUpTo = ReportsUpTo(receiver);
    std::vector<double> delaysMs;
    std::uint64_t previous = 0;
    for (const auto& sample : poller.Samples()) {
        const std::uint64_t reports = reportsUpTo[std::min<std::size_t>(sample.count, reportsUpTo.size() - 1)];
        const std::uint64_t upTo = std::min<std::uint64_t>(reports, sendTimes.size());
        for (std::uint64_t k = previous; k < upTo; ++k)
            delaysMs.push_back(static_cast<double>(sample.at - sendTimes[k]) / 1e6);
        previous = std::max(previous, upTo);
    }
    std::sort(delaysMs.begin(), delaysMs.end());

    const double cpu = CpuSeconds(exit.usage);
    std::printf("reports sent:            %llu in %.1f s (%llu not sent)\n", static_cast<unsigned long long>(framesSent),
                sendSeconds, static_cast<unsigned long long>(sent.framesUnsent));
    std::printf("connections:             %u made, %u failed, %u lost\n", sent.connected, sent.connectFailed,
                sent.connectionsLost);
    std::printf("records in output:       %llu (%llu before SIGTERM)\n", static_cast<unsigned long long>(records),
                static_cast<unsigned long long>(beforeStop));
    if (receiver.varkon)
        std::printf("records expected:        %llu = %llu reports + %llu new points + start + stop\n",
                    static_cast<unsigned long long>(expected), static_cast<unsigned long long>(framesSent),
                    static_cast<unsigned long long>(controllersHeard));
    else
        std::printf("records expected:        %llu (one per report)\n", static_cast<unsigned long long>(expected));
    std::printf("nothing lost:            %s\n", records == expected ? "yes" : "NO");
    std::printf("receiver exit:           %s, status %d\n", exit.exited ? "after SIGTERM" : "killed",
                WIFEXITED(exit.status) ? WEXITSTATUS(exit.status) : -WTERMSIG(exit.status));
    std::printf("receiver CPU:            %.3f s (user %.3f, sys %.3f)\n", cpu,
                exit.usage.ru_utime.tv_sec + exit.usage.ru_utime.tv_usec / 1e6,
                exit.usage.ru_stime.tv_sec + exit.usage.ru_stime.tv_usec / 1e6);
    const double loadCpu = cpuBeforeStop - cpuAtStart;
    std::printf("receiver CPU under load: %.3f s (from the end of start-up to SIGTERM, /proc at %ld Hz)\n", loadCpu,
                sysconf(_SC_CLK_TCK));
    if (framesSent > 0)
        std::printf("receiver CPU per report: %.2f us in all, %.2f us under load\n",
                    cpu * 1e6 / static_cast<double>(framesSent), loadCpu * 1e6 / static_cast<double>(framesSent));
    std::printf("receiver peak memory:    %ld KiB (VmRSS before SIGTERM %ld KiB)\n", exit.usage.ru_maxrss, rssBeforeStop);
    if (delaysMs.empty()) {
        std::printf("send-to-record delay:    n/a (no record appeared in the file before SIGTERM)\n");
    } else {
        std::printf("send-to-record delay:    median %.2f ms, p99 %.2f ms, max %.2f ms over %zu records"
                    " (polled every %d us)\n",
                    Percentile(delaysMs, 0.5), Percentile(delaysMs, 0.99), delaysMs.back(), delaysMs.size(),
                    settings.pollUs);
    }
    PrintLog(receiver);
    return records == expected && sent.connectFailed == 0 ? 0 : 1;
}

int RunIdle(Receiver& receiver, const T_LOADSETTINGS& settings)
{
    WaitUntilQuiet(receiver.pid, settings.idleWaitMs);
    const long baseline = VmRssKiB(receiver.pid);

    T_GPRSPLAN plan;
    plan.port = receiver.port;
    plan.controllers = static_cast<std::uint32_t>(settings.controllers);
    plan.serialBase = kSerialBase;
    plan.count = 1;
    plan.holdMs = -1;  // until stopped
    std::atomic<std::uint64_t> framesSent{0};
    CGprsControllers controllers(plan);
    controllers.SetSentHook([&](std::uint32_t, std::uint64_t) { ++framesSent; });
    T_GPRSRESULT sent;
    std::thread sender([&] { sent = controllers.Run(); });

    std::printf("idle: %d connections, one frame each, receiver on port %u, VmRSS before %ld KiB\n",
                settings.controllers, receiver.port, baseline);
    std::fflush(stdout);
    const std::int64_t end = NowNs() + settings.idleWaitMs * kNsPerMs;
    while (framesSent < plan.controllers && NowNs() < end)
        SleepMs(20);
    WaitUntilQuiet(receiver.pid, settings.idleWaitMs,
                   [&] { return !receiver.varkon && RecordCount(receiver) >= framesSent; });
    const long loaded = VmRssKiB(receiver.pid);
    const std::uint64_t records = RecordCount(receiver);
    controllers.Stop();
    sender.join();
    const T_EXIT exit = StopReceiver(receiver);

    std::printf("frames sent:             %llu (%u connected, %u failed)\n",
                static_cast<unsigned long long>(framesSent.load()), sent.connected, sent.connectFailed);
    std::printf("records before SIGTERM:  %llu\n", static_cast<unsigned long long>(records));
    std::printf("receiver VmRSS:          %ld KiB idle, %ld KiB with the connections open\n", baseline, loaded);
    if (sent.connected > 0 && baseline >= 0 && loaded >= 0)
        std::printf("memory per connection:   %.2f KiB\n",
                    static_cast<double>(loaded - baseline) / static_cast<double>(sent.connected));
    std::printf("receiver peak memory:    %ld KiB, CPU %.3f s\n", exit.usage.ru_maxrss, CpuSeconds(exit.usage));
    PrintLog(receiver);
    return sent.connectFailed == 0 ? 0 : 1;
}

bool ParseRange(const QCommandLineParser& parser, const QCommandLineOption& option, int low, int high, int* value)
{
    bool ok = false;
    const int v = parser.value(option).toInt(&ok);
    if (!ok || v < low || v > high) {
        std::fprintf(stderr, "gprs_load: --%s takes %d..%d\n", qPrintable(option.names().first()), low, high);
        return false;
    }
    *value = v;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(Text(
        "Load driver for a receiver of GPRS report frames. Starts the receiver (the bare\n"
        "receiver next to this program, or a Varkon binary given with --varkon) on a free\n"
        "loopback port with a temporary home and base folder, loads it, stops it with\n"
        "SIGTERM and reports records, CPU, memory and send-to-record delays."));
    parser.addHelpOption();
    const QCommandLineOption varkon(Text("varkon"), Text("Path of a Varkon binary to load instead of the bare receiver."), Text("path"));
    const QCommandLineOption bare(Text("bare"), Text("Path of the bare receiver (default: next to this program)."), Text("path"));
    const QCommandLineOption controllersOption(Text("controllers"), Text("Controllers, one connection each (default 5000; 10000 with --idle)."), Text("n"));
    const QCommandLineOption duration(Text("duration"), Text("Seconds of reporting (default 30)."), Text("s"), Text("30"));
    const QCommandLineOption interval(Text("interval"), Text("Milliseconds between a controller's reports (default 1000)."), Text("ms"), Text("1000"));
    const QCommandLineOption poll(Text("poll"), Text("Microseconds between looks at the output file (default 1000)."), Text("us"), Text("1000"));
    const QCommandLineOption settle(Text("settle"), Text("Longest wait, in ms, for the receiver to catch up after the last report (default 15000)."), Text("ms"), Text("15000"));
    const QCommandLineOption idle(Text("idle"), Text("Measure the memory of idle connections instead of a load."));
    parser.addOptions({varkon, bare, controllersOption, duration, interval, poll, settle, idle});
    parser.process(app);

    T_LOADSETTINGS settings;
    settings.idle = parser.isSet(idle);
    settings.controllers = settings.idle ? 10000 : 5000;
    if (parser.isSet(controllersOption) && !ParseRange(parser, controllersOption, 1, kMaxControllers, &settings.controllers))
        return 2;
    if (!ParseRange(parser, duration, 1, kMaxDurationS, &settings.durationS)
        || !ParseRange(parser, interval, 10, 60000, &settings.intervalMs)
        || !ParseRange(parser, poll, 100, 100000, &settings.pollUs)
        || !ParseRange(parser, settle, 0, 600000, &settings.settleMs))
        return 2;

    const std::uint64_t files = RaiseFileLimit();
    if (files < static_cast<std::uint64_t>(settings.controllers) + 64) {
        std::fprintf(stderr, "gprs_load: %d connections need more than the %llu open files allowed\n",
                     settings.controllers, static_cast<unsigned long long>(files));
        return 2;
    }

    QTemporaryDir temp;
    if (!temp.isValid())
        return 1;
    const QString home = temp.filePath(Text("home"));
    const QString config = home + Text("/.config");
    const QString data = home + Text("/.local/share");
    const QString base = temp.filePath(Text("base"));
    for (const QString& folder : {config, data, base})
        QDir().mkpath(folder);

    Receiver receiver;
    receiver.port = FreePort();
    receiver.log = temp.filePath(Text("receiver.log"));
    if (parser.isSet(varkon)) {
        receiver.varkon = true;
        receiver.program = QFileInfo(parser.value(varkon)).absoluteFilePath();
        receiver.output = base;
        QSettings store(config + Text("/Ostrel/Varkon.conf"), QSettings::IniFormat);
        store.setValue(Text("IP setting/IP port"), receiver.port);
        store.setValue(Text("Setting/Base folder"), base);
        store.sync();
        receiver.environment = {Text("QT_QPA_PLATFORM=offscreen"), Text("HOME=") + home,
                                Text("XDG_CONFIG_HOME=") + config, Text("XDG_DATA_HOME=") + data};
    } else {
        receiver.program = parser.isSet(bare) ? QFileInfo(parser.value(bare)).absoluteFilePath()
                                              : QCoreApplication::applicationDirPath() + Text("/bare_receiver");
        receiver.output = temp.filePath(Text("records.bin"));
        receiver.arguments = {Text("--port"), QString::number(receiver.port), Text("--out"), receiver.output};
    }
    if (!QFileInfo(receiver.program).isExecutable()) {
        std::fprintf(stderr, "gprs_load: %s is not a program\n", qPrintable(receiver.program));
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    if (!StartReceiver(receiver)) {
        std::fprintf(stderr, "gprs_load: the receiver did not start listening on port %u\n", receiver.port);
        if (receiver.pid > 0)
            StopReceiver(receiver);
        PrintLog(receiver);
        return 1;
    }
    std::printf("receiver: %s (pid %d)\n", qPrintable(receiver.program), receiver.pid);
    return settings.idle ? RunIdle(receiver, settings) : RunLoad(receiver, settings);
}

// bare_receiver: the least a receiver of report frames can do, as a yardstick
// for the monitoring server. One epoll loop accepts connections and reads
// them; each connection's byte stream is cut into 64-byte frames found by
// their CRC (on a mismatch one byte is dropped and the search goes on); each
// frame appends one 24-byte record to the output file. The file is a plain
// sequence of records, without the count header of a day file, so its size
// divided by 24 is the number of frames received so far. Records of one pass
// of the loop are appended with one write. SIGTERM or SIGINT stops it; it
// then prints frames received and its own CPU time.
//
//   bare_receiver --port PORT --out FILE
#include "common/crc16.h"

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <span>
#include <string>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kFrame = 64;
constexpr std::size_t kCrcOffset = 62;  // CRC-16/MODBUS of bytes 0..61, high byte first
constexpr std::size_t kRecord = 24;     // code, source, 2 reserved, time i64 at 4, serial u32 at 12, 8 reserved
constexpr std::uint8_t kSourceGprs = 1;
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr int kMaxEvents = 1024;
constexpr int kBacklog = 4096;
constexpr std::uint64_t kListenTag = ~std::uint64_t{0};
constexpr std::uint64_t kSignalTag = ~std::uint64_t{0} - 1;

// What a connection carries over between reads: less than one frame.
struct Carry
{
    std::uint8_t length = 0;
    std::array<std::uint8_t, kFrame - 1> bytes{};
};

struct Totals
{
    std::uint64_t frames = 0;
    std::uint64_t droppedBytes = 0;
    std::uint64_t connections = 0;
};

std::uint32_t Serial(const std::uint8_t* frame)
{
    const std::uint32_t high = frame[0] | (frame[1] << 8);
    const std::uint32_t low = frame[2] | (frame[3] << 8);
    return (high << 16) | low;
}

void AppendRecord(std::vector<std::uint8_t>& out, const std::uint8_t* frame, std::int64_t now)
{
    std::array<std::uint8_t, kRecord> record{};
    record[1] = kSourceGprs;
    for (int b = 0; b < 8; ++b)
        record[4 + b] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(now) >> (8 * b));
    const std::uint32_t serial = Serial(frame);
    for (int b = 0; b < 4; ++b)
        record[12 + b] = static_cast<std::uint8_t>(serial >> (8 * b));
    out.insert(out.end(), record.begin(), record.end());
}

// Finds the frames in bytes; returns how many bytes it consumed (all but a
// tail shorter than a frame).
std::size_t FindFrames(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& records, std::int64_t now,
                       Totals& totals)
{
    std::size_t at = 0;
    while (bytes.size() - at >= kFrame) {
        const std::uint8_t* frame = bytes.data() + at;
        const std::uint16_t stored = static_cast<std::uint16_t>((frame[kCrcOffset] << 8) | frame[kCrcOffset + 1]);
        if (Crc16Modbus(std::span<const std::uint8_t>(frame, kCrcOffset)) == stored) {
            AppendRecord(records, frame, now);
            ++totals.frames;
            at += kFrame;
        } else {
            ++totals.droppedBytes;
            ++at;
        }
    }
    return at;
}

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

int Usage()
{
    std::fprintf(stderr, "usage: bare_receiver --port PORT --out FILE\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    int port = -1;
    std::string outPath;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--port") == 0)
            port = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--out") == 0)
            outPath = argv[i + 1];
        else
            return Usage();
    }
    if (argc % 2 == 0 || port < 0 || port > 65535 || outPath.empty())
        return Usage();

    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);

    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0) {
        std::perror("bare_receiver: output file");
        return 1;
    }
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, kBacklog) != 0) {
        std::perror("bare_receiver: listen");
        return 1;
    }
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::printf("listening on port %u\n", ntohs(address.sin_port));
    std::fflush(stdout);

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    const int signals = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);

    const int epollFd = epoll_create1(EPOLL_CLOEXEC);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kListenTag;
    epoll_ctl(epollFd, EPOLL_CTL_ADD, listener, &event);
    event.data.u64 = kSignalTag;
    epoll_ctl(epollFd, EPOLL_CTL_ADD, signals, &event);

    std::vector<Carry> carries;  // by descriptor
    std::vector<std::uint8_t> work(kFrame - 1 + kReadChunk);
    std::vector<std::uint8_t> records;
    std::vector<epoll_event> events(kMaxEvents);
    Totals totals;
    bool running = true;
    while (running) {
        const int n = epoll_wait(epollFd, events.data(), kMaxEvents, -1);
        if (n < 0 && errno != EINTR)
            break;
        const std::int64_t now = std::time(nullptr);
        for (int k = 0; k < n; ++k) {
            const std::uint64_t tag = events[k].data.u64;
            if (tag == kSignalTag) {
                running = false;
            } else if (tag == kListenTag) {
                for (;;) {
                    const int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                    if (fd < 0)
                        break;
                    if (static_cast<std::size_t>(fd) >= carries.size())
                        carries.resize(static_cast<std::size_t>(fd) + 1024);
                    carries[static_cast<std::size_t>(fd)] = Carry{};
                    epoll_event client{};
                    client.events = EPOLLIN;
                    client.data.u64 = static_cast<std::uint64_t>(fd);
                    epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &client);
                    ++totals.connections;
                }
            } else {
                const int fd = static_cast<int>(tag);
                Carry& carry = carries[static_cast<std::size_t>(fd)];
                std::memcpy(work.data(), carry.bytes.data(), carry.length);
                const ssize_t got = read(fd, work.data() + carry.length, kReadChunk);
                if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
                    close(fd);  // closing also removes it from the epoll set
                    continue;
                }
                if (got < 0)
                    continue;
                const std::size_t total = carry.length + static_cast<std::size_t>(got);
                const std::size_t used = FindFrames(std::span<const std::uint8_t>(work.data(), total), records, now, totals);
                carry.length = static_cast<std::uint8_t>(total - used);
                std::memcpy(carry.bytes.data(), work.data() + used, carry.length);
            }
        }
        if (!records.empty()) {
            if (write(out, records.data(), records.size()) != static_cast<ssize_t>(records.size()))
                std::perror("bare_receiver: write");
            records.clear();
        }
    }
    close(out);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("frames received: %llu\n", static_cast<unsigned long long>(totals.frames));
    std::printf("bytes dropped: %llu\n", static_cast<unsigned long long>(totals.droppedBytes));
    std::printf("connections accepted: %llu\n", static_cast<unsigned long long>(totals.connections));
    std::printf("cpu user %.3f s, sys %.3f s\n", Seconds(usage.ru_utime), Seconds(usage.ru_stime));
    std::printf("peak memory %ld KiB\n", usage.ru_maxrss);
    return 0;
}

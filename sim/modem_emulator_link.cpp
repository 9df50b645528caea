#include "sim/modem_emulator_link.h"

#include "sim/emulator_pty.h"
#include "sim/modem_emulator.h"

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Bytes read from the line at once.
constexpr std::size_t kChunk = 512;

} // namespace

CModemEmulatorLink::CModemEmulatorLink(CModemEmulator& modem) : modem_(modem) {}

CModemEmulatorLink::~CModemEmulatorLink()
{
    Stop();
}

bool CModemEmulatorLink::StartOnPty()
{
    Stop();
    T_EMULATORPTY pty;
    if (!OpenEmulatorPty(pty)) {
        error_ = errno;
        return false;
    }
    ptyMaster_ = pty.master;
    ptySlave_ = pty.slave;
    path_ = pty.path;
    if (!release_.Start(path_, ptySlave_)) {
        error_ = release_.LastError();
        Stop();
        return false;
    }
    if (!StartThread(ptyMaster_)) {
        Stop();
        return false;
    }
    releaseThread_ = std::thread([this] { release_.Run(stopFd_); });
    return true;
}

bool CModemEmulatorLink::StartOnDevice(const std::string& path)
{
    Stop();
    T_SERIALLINE line;
    line.baudRate = 115200;
    if (!device_.Open(path) || !device_.SetLine(line)) {
        error_ = device_.LastError();
        device_.Close();
        return false;
    }
    path_ = path;
    if (!StartThread(device_.Handle())) {
        Stop();
        return false;
    }
    return true;
}

bool CModemEmulatorLink::StartThread(int fd)
{
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0 || wakeFd_ < 0) {
        error_ = errno;
        return false;
    }
    hungUp_ = false;
    const int wake = wakeFd_;
    modem_.SetUnsolicitedHook([wake] {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wake, &one, sizeof one);
    });
    thread_ = std::thread([this, fd] { Serve(fd); });
    return true;
}

void CModemEmulatorLink::Serve(int fd)
{
    char chunk[kChunk];
    for (;;) {
        pollfd fds[3] = {{fd, POLLIN, 0}, {stopFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        if (fds[2].revents) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto got = ::read(wakeFd_, &count, sizeof count);
            if (!WriteAll(fd, modem_.TakeUnsolicited()))
                return;
        }
        if (fds[0].revents & (POLLERR | POLLNVAL))
            return;
        if (!(fds[0].revents & (POLLIN | POLLHUP)))
            continue;
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0) {
            // Nobody holds the other end of a device: wait for the next opener.
            pollfd stop{stopFd_, POLLIN, 0};
            if (::poll(&stop, 1, 20) > 0)
                return;
            continue;
        }
        const CModemEmulator::T_ANSWER answer = modem_.Feed(std::string_view(chunk, static_cast<std::size_t>(n)));
        if (!WriteAll(fd, answer.bytes))
            return;
        if (answer.hangUp) {
            HangUp();
            return;
        }
    }
}

bool CModemEmulatorLink::WriteAll(int fd, const std::string& bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        // The reader is behind: wait for room, or for the stop.
        pollfd fds[2] = {{fd, POLLOUT, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return false;
        if (fds[1].revents)
            return false;
    }
    return true;
}

bool CModemEmulatorLink::Serving() const { return thread_.joinable() && !hungUp_; }

void CModemEmulatorLink::HangUp()
{
    // The modem goes away: whoever has the line open sees it hang up. The
    // slave side stays held until Stop, for the release watch.
    hungUp_ = true;
    if (ptyMaster_ >= 0)
        ::close(ptyMaster_);
    ptyMaster_ = -1;
    device_.Close();
}

void CModemEmulatorLink::ReleaseLine()
{
    if (ptySlave_ >= 0)
        ::close(ptySlave_);
    if (ptyMaster_ >= 0)
        ::close(ptyMaster_);
    ptySlave_ = ptyMaster_ = -1;
    device_.Close();
}

void CModemEmulatorLink::Stop()
{
    // Both threads watch stopFd; neither reads it, so one write stops both.
    if (thread_.joinable() || releaseThread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(stopFd_, &one, sizeof one);
    }
    if (thread_.joinable())
        thread_.join();
    if (releaseThread_.joinable())
        releaseThread_.join();
    release_.Stop();
    modem_.SetUnsolicitedHook({});
    for (int* fd : {&stopFd_, &wakeFd_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    ReleaseLine();
}

#include "sim/modbus_slave_link.h"

#include "sim/emulator_pty.h"
#include "sim/modbus_slave.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Bytes on a pty arrive at once; a short gap ends an unknown frame.
constexpr int kPtyFrameGapMs = 5;

// The Modbus inter-frame silence: 3.5 characters of 11 bits, at least 1.75 ms.
int FrameGapMs(std::uint32_t baudRate)
{
    const std::uint32_t us = baudRate ? 38500000u / baudRate : 0;
    return std::max(2, static_cast<int>((std::max(us, 1750u) + 999) / 1000));
}

} // namespace

CModbusSlaveLink::CModbusSlaveLink(CModbusSlave& slave) : slave_(slave) {}

CModbusSlaveLink::~CModbusSlaveLink()
{
    Stop();
}

bool CModbusSlaveLink::StartOnPty()
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
    if (!StartThread(ptyMaster_, kPtyFrameGapMs)) {
        Stop();
        return false;
    }
    releaseThread_ = std::thread([this] { release_.Run(stopFd_); });
    return true;
}

bool CModbusSlaveLink::StartOnDevice(const std::string& path, const T_SERIALLINE& line)
{
    Stop();
    if (!device_.Open(path) || !device_.SetLine(line)) {
        error_ = device_.LastError();
        device_.Close();
        return false;
    }
    path_ = path;
    if (!StartThread(device_.Handle(), FrameGapMs(line.baudRate))) {
        Stop();
        return false;
    }
    return true;
}

bool CModbusSlaveLink::StartThread(int fd, int frameGapMs)
{
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (stopFd_ < 0) {
        error_ = errno;
        return false;
    }
    thread_ = std::thread([this, fd, frameGapMs] { slave_.Serve(fd, stopFd_, frameGapMs); });
    return true;
}

void CModbusSlaveLink::Stop()
{
    // Both threads watch stopFd; neither reads it, so one write stops both.
    if (thread_.joinable() || releaseThread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(stopFd_, &one, sizeof(one));
    }
    if (thread_.joinable())
        thread_.join();
    if (releaseThread_.joinable())
        releaseThread_.join();
    release_.Stop();
    if (stopFd_ >= 0)
        ::close(stopFd_);
    stopFd_ = -1;
    if (ptySlave_ >= 0)
        ::close(ptySlave_);
    if (ptyMaster_ >= 0)
        ::close(ptyMaster_);
    ptySlave_ = ptyMaster_ = -1;
    device_.Close();
}

#include "server/modem/serial_port_timeout.h"

#include "common/port_name.h"
#include "common/settings_store.h"
#include "server/modem/serial_exception.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// While the transmitter drains, its queue is looked at this often.
constexpr int kDrainPollMs = 1;

Clock::time_point After(Clock::time_point from, std::uint64_t ms) { return from + std::chrono::milliseconds(ms); }

int RemainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

std::optional<std::string> DevicePath(const QString& name)
{
    const CSettingsStore store(QString::fromUtf16(Settings::kServerProgram));
    const std::optional<QString> path = ResolvePortName(store, name);
    if (!path)
        return std::nullopt;
    return QFile::encodeName(*path).toStdString();
}

} // namespace

CSerialPortTimeout::CSerialPortTimeout() : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CSerialPortTimeout::~CSerialPortTimeout()
{
    Close();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void CSerialPortTimeout::Open(const QString& name)
{
    Close();
    const std::optional<std::string> path = DevicePath(name);
    if (!path)
        ThrowSerialException(ENOENT);
    if (!device_.Open(*path))
        ThrowSerialException(static_cast<std::uint32_t>(device_.LastError()));
    mask_ = 0;
    T_SERIALLINE line;
    errno = 0;
    if (!device_.GetLine(&line))
        ThrowSerialException(errno != 0 ? static_cast<std::uint32_t>(errno) : EIO);
    // Only these change; everything else stays as the device had it.
    line.baudRate = 115200;
    line.dataBits = 8;
    line.parity = 0;
    line.stopBits = 0;
    line.flowControl = 0;
    line.checkParity = false;
    if (!device_.SetLine(line))
        ThrowSerialException(static_cast<std::uint32_t>(device_.LastError()));
}

void CSerialPortTimeout::Close() noexcept
{
    device_.Close();
    mask_ = 0;
}

bool CSerialPortTimeout::CanOpen(const QString& name)
{
    const std::optional<std::string> path = DevicePath(name);
    if (!path)
        return false;
    CSerialDevice device;
    return device.Open(*path); // closed again by its destructor
}

T_SERIALTIMEOUTS CSerialPortTimeout::GetTimeouts() const
{
    T_SERIALTIMEOUTS timeouts;
    if (!device_.GetTimeouts(&timeouts))
        ThrowSerialException(EBADF);
    return timeouts;
}

void CSerialPortTimeout::SetTimeouts(const T_SERIALTIMEOUTS& timeouts)
{
    if (!device_.SetTimeouts(timeouts))
        ThrowSerialException(static_cast<std::uint32_t>(device_.LastError()));
}

void CSerialPortTimeout::Purge(std::uint32_t flags)
{
    if (!IsOpen())
        ThrowSerialException(EBADF);
    if (flags & ~std::uint32_t{kPurgeAbortReads | kPurgeTxClear | kPurgeRxClear})
        ThrowSerialException(EINVAL);
    if (!device_.Purge((flags & kPurgeTxClear) != 0, (flags & kPurgeRxClear) != 0))
        ThrowSerialException(static_cast<std::uint32_t>(device_.LastError()));
}

void CSerialPortTimeout::Flush()
{
    if (!device_.Drain())
        ThrowSerialException(static_cast<std::uint32_t>(device_.LastError()));
}

std::uint32_t CSerialPortTimeout::GetMask() const
{
    if (!IsOpen())
        ThrowSerialException(EBADF);
    return mask_;
}

void CSerialPortTimeout::SetMask(std::uint32_t mask)
{
    if (!IsOpen())
        ThrowSerialException(EBADF);
    if (mask & ~std::uint32_t{kEventTxEmpty})
        ThrowSerialException(EINVAL); // no other event can be waited for here
    mask_ = mask;
}

std::uint32_t CSerialPortTimeout::WaitEvent()
{
    CheckTransfer();
    if ((mask_ & kEventTxEmpty) == 0)
        ThrowSerialException(EINVAL); // nothing to wait for
    for (;;) {
        const long queued = device_.TransmitQueueLength();
        if (queued < 0)
            ThrowSerialException(0);
        if (queued == 0)
            return kEventTxEmpty;
        if (wakeFd_ >= 0) {
            pollfd wake{wakeFd_, POLLIN, 0};
            if (::poll(&wake, 1, kDrainPollMs) > 0)
                ThrowSerialException(ECANCELED);
        } else if (interrupted_) {
            ThrowSerialException(ECANCELED);
        }
    }
}

std::size_t CSerialPortTimeout::Read(void* buffer, std::size_t count)
{
    CheckTransfer();
    if (count == 0)
        return 0;
    const T_SERIALTIMEOUTS t = GetTimeouts();
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    const bool hasTotal = t.readTotalPerByte != 0 || t.readTotalConstant != 0;
    const auto totalDeadline = After(Clock::now(), std::uint64_t{t.readTotalPerByte} * count + t.readTotalConstant);
    Clock::time_point intervalDeadline{};
    std::size_t got = 0;

    for (;;) {
        const ssize_t n = ::read(device_.Handle(), bytes + got, count - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            if (got == count)
                return got;
            if (t.readInterval != 0)
                intervalDeadline = After(Clock::now(), t.readInterval);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            ThrowSerialException(0);

        int waitMs = hasTotal ? RemainingMs(totalDeadline) : -1;
        if (got > 0 && t.readInterval != 0) {
            const int interval = RemainingMs(intervalDeadline);
            waitMs = waitMs < 0 ? interval : std::min(waitMs, interval);
        }
        if (waitMs == 0)
            return got; // a time-out, not a failure
        if (WaitReady(POLLIN, waitMs) & (POLLHUP | POLLERR | POLLNVAL)) {
            // What is still buffered is read above; after it the hang-up fails the read.
            const ssize_t last = ::read(device_.Handle(), bytes + got, count - got);
            if (last > 0) {
                got += static_cast<std::size_t>(last);
                if (got == count)
                    return got;
                continue;
            }
            ThrowSerialException(EIO);
        }
    }
}

std::size_t CSerialPortTimeout::Write(const void* data, std::size_t count)
{
    CheckTransfer();
    const T_SERIALTIMEOUTS t = GetTimeouts();
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const bool hasTotal = t.writeTotalPerByte != 0 || t.writeTotalConstant != 0;
    const auto deadline = After(Clock::now(), std::uint64_t{t.writeTotalPerByte} * count + t.writeTotalConstant);
    std::size_t sent = 0;
    while (sent < count) {
        const ssize_t n = ::write(device_.Handle(), bytes + sent, count - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            ThrowSerialException(0);
        const int waitMs = hasTotal ? RemainingMs(deadline) : -1;
        if (waitMs == 0)
            return sent; // a time-out: the caller sees the short count
        const short revents = WaitReady(POLLOUT, waitMs);
        if ((revents & (POLLHUP | POLLERR | POLLNVAL)) && !(revents & POLLOUT))
            ThrowSerialException(EIO);
    }
    return sent;
}

void CSerialPortTimeout::Interrupt() noexcept
{
    interrupted_ = true;
    if (wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
    }
}

void CSerialPortTimeout::CheckTransfer() const
{
    if (interrupted_)
        ThrowSerialException(ECANCELED);
    if (!IsOpen())
        ThrowSerialException(EBADF);
}

short CSerialPortTimeout::WaitReady(short events, int waitMs) const
{
    pollfd fds[2] = {{device_.Handle(), events, 0}, {wakeFd_, POLLIN, 0}};
    const nfds_t count = wakeFd_ >= 0 ? 2 : 1;
    const int ready = ::poll(fds, count, waitMs);
    if (interrupted_ || (count == 2 && (fds[1].revents & POLLIN)))
        ThrowSerialException(ECANCELED);
    if (ready < 0) {
        if (errno == EINTR)
            return 0; // the caller looks at its deadlines again
        ThrowSerialException(0);
    }
    return ready > 0 ? fds[0].revents : 0;
}

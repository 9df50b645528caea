#include "common/serial_device.h"

#include <array>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Size of the kernel's tty receive buffer; requests above it cannot be met.
constexpr std::size_t kKernelQueueSize = 4096;

struct SpeedCode
{
    std::uint32_t rate;
    speed_t code;
};

constexpr SpeedCode kSpeeds[] = {
    {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200},
    {300, B300}, {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400},
    {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800},
    {500000, B500000}, {576000, B576000}, {921600, B921600}, {1000000, B1000000},
    {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

constexpr auto kRates = [] {
    std::array<std::uint32_t, std::size(kSpeeds)> rates{};
    for (std::size_t i = 0; i < rates.size(); ++i)
        rates[i] = kSpeeds[i].rate;
    return rates;
}();

bool SpeedToCode(std::uint32_t rate, speed_t* code)
{
    for (const auto& s : kSpeeds) {
        if (s.rate == rate) {
            *code = s.code;
            return true;
        }
    }
    return false;
}

std::uint32_t CodeToSpeed(speed_t code)
{
    for (const auto& s : kSpeeds) {
        if (s.code == code)
            return s.rate;
    }
    return 0;
}

int RemainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

Clock::time_point Deadline(Clock::time_point from, std::uint64_t ms)
{
    return from + std::chrono::milliseconds(ms);
}

// The slave side of a Unix 98 pseudo-terminal (majors 136 .. 143).
bool IsPseudoTerminal(int fd)
{
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned int devMajor = major(st.st_rdev);
    return devMajor >= 136 && devMajor <= 143;
}

} // namespace

std::span<const std::uint32_t> SettableBaudRates() { return kRates; }

bool IsSettableBaudRate(std::uint32_t baudRate)
{
    speed_t code = 0;
    return SpeedToCode(baudRate, &code);
}

CSerialDevice::~CSerialDevice()
{
    Close();
}

bool CSerialDevice::Fail(int error)
{
    lastError_ = error;
    return false;
}

bool CSerialDevice::Open(const std::string& path)
{
    if (IsOpen())
        Close();
    if (path.empty())
        return Fail(ENOENT);
    // O_NONBLOCK: the time-outs are ours, kept by poll(); no O_CREAT, so the
    // device must exist.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Fail(errno);
    if (!::isatty(fd)) {
        ::close(fd);
        return Fail(ENOTTY);
    }
    // flock refuses a second holder in any process (and in this one, since
    // each open has its own lock); TIOCEXCL also keeps out plain openers that
    // do not lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return Fail(error);
    }
    ::ioctl(fd, TIOCEXCL);

    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        const int error = errno;
        ::close(fd);
        return Fail(error);
    }
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        const int error = errno;
        ::close(fd);
        return Fail(error);
    }
    fd_ = fd;
    ioFailed_ = false;
    timeouts_ = {};
    counters_ = {};
    T_SERIALSTATUS ignored;
    ClearError(&ignored);
    return true;
}

bool CSerialDevice::Close()
{
    if (!IsOpen())
        return true;
    ::ioctl(fd_, TIOCNXCL);
    // close() releases the descriptor even when it reports an error.
    const int result = ::close(fd_);
    fd_ = -1;
    if (result != 0 && errno != EINTR)
        lastError_ = errno;
    return true;
}

bool CSerialDevice::SetQueueSizes(std::size_t receive, std::size_t transmit)
{
    if (!IsOpen())
        return Fail(EBADF);
    if (receive > kKernelQueueSize || transmit > kKernelQueueSize)
        return Fail(EINVAL);
    return true;
}

bool CSerialDevice::SetLine(const T_SERIALLINE& line)
{
    if (!IsOpen())
        return Fail(EBADF);
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0)
        return Fail(errno);

    speed_t speed = 0;
    if (!SpeedToCode(line.baudRate, &speed))
        return Fail(EINVAL);
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);

    tcflag_t size = 0;
    switch (line.dataBits) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: return Fail(EINVAL);
    }
    tio.c_cflag = (tio.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | size;

    tio.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
    switch (line.parity) {
    case 0: break;
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default: return Fail(EINVAL);
    }
    if (line.checkParity && line.parity != 0)
        tio.c_iflag |= INPCK;
    else
        tio.c_iflag &= ~static_cast<tcflag_t>(INPCK);

    switch (line.stopBits) {
    case 0: tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB); break;
    // A UART set to two stop bits sends one and a half with 5 data bits,
    // the only size at which one and a half exists.
    case 1:
        if (line.dataBits != 5)
            return Fail(EINVAL);
        tio.c_cflag |= CSTOPB;
        break;
    case 2: tio.c_cflag |= CSTOPB; break;
    default: return Fail(EINVAL);
    }

    // termios has no DSR/DTR handshake.
    if (line.flowControl & 0x01)
        return Fail(ENOTSUP);
    if (line.flowControl & 0x02)
        tio.c_cflag |= CRTSCTS;
    else
        tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    if (line.flowControl & 0x04) {
        tio.c_iflag |= IXON | IXOFF;
        tio.c_cc[VSTART] = 0x11;
        tio.c_cc[VSTOP] = 0x13;
    } else {
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    }

    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) {
        // A pseudo-terminal carries bytes, not characters: it always runs 8
        // data bits without parity and some kernels refuse to be told
        // otherwise. Apply the rest.
        if (errno != EINVAL || !IsPseudoTerminal(fd_))
            return Fail(errno);
        tio.c_cflag = (tio.c_cflag & ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR)) | CS8;
        if (::tcsetattr(fd_, TCSANOW, &tio) != 0)
            return Fail(errno);
    }

    // Hold DTR and RTS on; devices without modem lines (pseudo-terminals)
    // refuse the request, which does not matter.
    if (!(line.flowControl & 0x02)) {
        int lines = TIOCM_DTR | TIOCM_RTS;
        ::ioctl(fd_, TIOCMBIS, &lines);
    }
    return true;
}

bool CSerialDevice::GetLine(T_SERIALLINE* line) const
{
    if (!IsOpen())
        return false;
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0)
        return false;
    T_SERIALLINE out;
    out.baudRate = CodeToSpeed(::cfgetospeed(&tio));
    switch (tio.c_cflag & CSIZE) {
    case CS5: out.dataBits = 5; break;
    case CS6: out.dataBits = 6; break;
    case CS7: out.dataBits = 7; break;
    default: out.dataBits = 8; break;
    }
    if (!(tio.c_cflag & PARENB))
        out.parity = 0;
    else if (tio.c_cflag & CMSPAR)
        out.parity = (tio.c_cflag & PARODD) ? 3 : 4;
    else
        out.parity = (tio.c_cflag & PARODD) ? 1 : 2;
    out.stopBits = (tio.c_cflag & CSTOPB) ? (out.dataBits == 5 ? 1 : 2) : 0;
    out.flowControl = static_cast<std::uint8_t>(((tio.c_cflag & CRTSCTS) ? 0x02 : 0) |
                                                ((tio.c_iflag & IXON) ? 0x04 : 0));
    out.checkParity = (tio.c_iflag & INPCK) != 0;
    *line = out;
    return true;
}

bool CSerialDevice::SetTimeouts(const T_SERIALTIMEOUTS& timeouts)
{
    if (!IsOpen())
        return Fail(EBADF);
    timeouts_ = timeouts;
    return true;
}

bool CSerialDevice::GetTimeouts(T_SERIALTIMEOUTS* timeouts) const
{
    if (!IsOpen())
        return false;
    *timeouts = timeouts_;
    return true;
}

bool CSerialDevice::Read(std::uint8_t* buffer, std::size_t count, std::size_t* transferred)
{
    *transferred = 0;
    if (!IsOpen())
        return Fail(EBADF);
    if (count == 0)
        return true;

    const auto start = Clock::now();
    const bool hasTotal = timeouts_.readTotalPerByte != 0 || timeouts_.readTotalConstant != 0;
    const auto totalDeadline = Deadline(
        start, std::uint64_t{timeouts_.readTotalPerByte} * count + timeouts_.readTotalConstant);
    Clock::time_point intervalDeadline{};
    std::size_t got = 0;

    for (;;) {
        const ssize_t n = ::read(fd_, buffer + got, count - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            *transferred = got;
            if (got == count)
                return true;
            if (timeouts_.readInterval != 0)
                intervalDeadline = Deadline(Clock::now(), timeouts_.readInterval);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            ioFailed_ = true;
            return Fail(errno);
        }

        int waitMs = -1;
        if (hasTotal)
            waitMs = RemainingMs(totalDeadline);
        if (got > 0 && timeouts_.readInterval != 0) {
            const int interval = RemainingMs(intervalDeadline);
            waitMs = waitMs < 0 ? interval : std::min(waitMs, interval);
        }
        if (waitMs == 0)
            return true;   // a time-out, not an error

        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, waitMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            ioFailed_ = true;
            return Fail(errno);
        }
        if (ready == 0)
            continue;   // the deadlines are checked again above
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // Take what is still buffered, then report the hang-up.
            const ssize_t last = ::read(fd_, buffer + got, count - got);
            if (last > 0) {
                got += static_cast<std::size_t>(last);
                *transferred = got;
                if (got == count)
                    return true;
                continue;
            }
            ioFailed_ = true;
            return Fail(EIO);
        }
    }
}

bool CSerialDevice::Write(const std::uint8_t* data, std::size_t count, std::size_t* transferred)
{
    *transferred = 0;
    if (!IsOpen())
        return Fail(EBADF);
    const bool hasTotal = timeouts_.writeTotalPerByte != 0 || timeouts_.writeTotalConstant != 0;
    const auto deadline = Deadline(
        Clock::now(), std::uint64_t{timeouts_.writeTotalPerByte} * count + timeouts_.writeTotalConstant);
    std::size_t sent = 0;
    while (sent < count) {
        const ssize_t n = ::write(fd_, data + sent, count - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            *transferred = sent;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            ioFailed_ = true;
            return Fail(errno);
        }
        const int waitMs = hasTotal ? RemainingMs(deadline) : -1;
        if (waitMs == 0)
            return true;   // a time-out: the caller sees the short count
        pollfd p{fd_, POLLOUT, 0};
        const int ready = ::poll(&p, 1, waitMs);
        if (ready < 0 && errno != EINTR) {
            ioFailed_ = true;
            return Fail(errno);
        }
        if (ready > 0 && (p.revents & (POLLERR | POLLNVAL | POLLHUP)) && !(p.revents & POLLOUT)) {
            ioFailed_ = true;
            return Fail(EIO);
        }
    }
    return true;
}

bool CSerialDevice::Purge(bool transmit, bool receive)
{
    if (!IsOpen())
        return Fail(EBADF);
    if (!transmit && !receive)
        return true;
    const int which = transmit && receive ? TCIOFLUSH : (transmit ? TCOFLUSH : TCIFLUSH);
    if (::tcflush(fd_, which) != 0)
        return Fail(errno);
    return true;
}

bool CSerialDevice::ClearError(T_SERIALSTATUS* status)
{
    *status = {};
    if (!IsOpen())
        return Fail(EBADF);
    if (ioFailed_)
        status->errors |= T_SERIALSTATUS::kIoError;
    ioFailed_ = false;

    // Line error counters exist on real UARTs only.
    serial_icounter_struct icount{};
    if (::ioctl(fd_, TIOCGICOUNT, &icount) == 0) {
        if (icount.frame != counters_.frame)
            status->errors |= T_SERIALSTATUS::kFrameError;
        if (icount.overrun != counters_.overrun)
            status->errors |= T_SERIALSTATUS::kOverrun;
        if (icount.parity != counters_.parity)
            status->errors |= T_SERIALSTATUS::kParityError;
        if (icount.brk != counters_.brk)
            status->errors |= T_SERIALSTATUS::kBreak;
        if (icount.buf_overrun != counters_.bufOverrun)
            status->errors |= T_SERIALSTATUS::kBufferOverrun;
        counters_ = {icount.frame, icount.overrun, icount.parity, icount.brk, icount.buf_overrun};
    }

    int inQueue = 0;
    if (::ioctl(fd_, TIOCINQ, &inQueue) != 0)
        return Fail(errno);
    const long outQueue = TransmitQueueLength();
    if (outQueue < 0)
        return Fail(errno);
    status->inQueue = static_cast<std::size_t>(std::max(inQueue, 0));
    status->outQueue = static_cast<std::size_t>(outQueue);
    return true;
}

long CSerialDevice::TransmitQueueLength() const
{
    if (!IsOpen()) {
        errno = EBADF;
        return -1;
    }
    int outQueue = 0;
    if (::ioctl(fd_, TIOCOUTQ, &outQueue) != 0)
        return -1;
    if (outQueue > 0)
        return outQueue;
    // The UART's own shift register and FIFO are not counted by TIOCOUTQ;
    // where the driver reports it, count one byte until the transmitter is empty.
    unsigned int lsr = 0;
    if (::ioctl(fd_, TIOCSERGETLSR, &lsr) == 0 && !(lsr & TIOCSER_TEMT))
        return 1;
    return 0;
}

bool CSerialDevice::WaitTransmitEmpty(std::uint32_t timeoutMs)
{
    const auto deadline = Deadline(Clock::now(), timeoutMs);
    for (;;) {
        const long queued = TransmitQueueLength();
        if (queued < 0)
            return Fail(errno);
        if (queued == 0)
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

bool CSerialDevice::Drain()
{
    if (!IsOpen())
        return Fail(EBADF);
    while (::tcdrain(fd_) != 0) {
        if (errno != EINTR)
            return Fail(errno);
    }
    return true;
}

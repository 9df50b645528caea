#include "sim/modbus_slave.h"

#include "common/crc16.h"
#include "sim/controller_registers.h"

#include <cerrno>

#include <poll.h>
#include <unistd.h>

namespace {

constexpr std::uint8_t kReadHolding = 0x03;
constexpr std::uint8_t kReadInput = 0x04;
constexpr std::uint8_t kWriteMultiple = 0x10;
constexpr std::uint8_t kExceptionFlag = 0x80;

constexpr std::uint8_t kIllegalFunction = 0x01;
constexpr std::uint8_t kIllegalValue = 0x03;

constexpr std::uint8_t kBroadcast = 0;
constexpr std::size_t kCrcLength = 2;
// Read request: address, function, start (2), count (2), CRC (2).
constexpr std::size_t kReadRequestLength = 8;
// Write request: address, function, start (2), count (2), byte count, data, CRC (2).
constexpr std::size_t kWriteHeader = 7;
constexpr std::uint16_t kMaxReadCount = 125;
constexpr std::uint16_t kMaxWriteCount = 123;

std::uint16_t Word(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

void AppendCrc(std::vector<std::uint8_t>& frame)
{
    const std::uint16_t crc = Crc16Modbus(frame);
    frame.resize(frame.size() + kCrcLength);
    StoreCrcLowFirst(crc, frame.data() + frame.size() - kCrcLength);
}

bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes)
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
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 1000) <= 0)
            return false;
    }
    return true;
}

} // namespace

T_FRAMEEND FindRequestEnd(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < 2)
        return {};
    std::size_t length = 0;
    switch (bytes[1]) {
    case kReadHolding:
    case kReadInput:
        length = kReadRequestLength;
        break;
    case kWriteMultiple:
        if (bytes.size() < kWriteHeader)
            return {};
        length = kWriteHeader + bytes[6] + kCrcLength;
        break;
    default:
        return {};
    }
    if (bytes.size() < length)
        return {};
    return {FrameStatus::Complete, length};
}

CModbusSlave::CModbusSlave(CControllerRegisters& registers, std::uint8_t address)
    : registers_(registers), address_(address)
{
}

void CModbusSlave::SetFaults(const T_SLAVEFAULTS& faults)
{
    std::lock_guard guard(mutex_);
    faults_ = faults;
}

T_SLAVEFAULTS CModbusSlave::Faults() const
{
    std::lock_guard guard(mutex_);
    return faults_;
}

std::vector<std::uint8_t> CModbusSlave::LastRequest() const
{
    std::lock_guard guard(mutex_);
    return lastRequest_;
}

void CModbusSlave::SetWriteHook(std::function<void()> hook)
{
    std::lock_guard guard(mutex_);
    writeHook_ = std::move(hook);
}

// The reply PDU (function and data) to a frame with a good CRC.
std::vector<std::uint8_t> CModbusSlave::Pdu(std::span<const std::uint8_t> frame, bool* wrote)
{
    const std::uint8_t function = frame[1];
    auto exception = [function](std::uint8_t code) {
        return std::vector<std::uint8_t>{static_cast<std::uint8_t>(function | kExceptionFlag), code};
    };
    std::vector<std::uint16_t> values;
    switch (function) {
    case kReadHolding:
    case kReadInput: {
        if (frame.size() != kReadRequestLength)
            return exception(kIllegalValue);
        const std::uint16_t start = Word(frame, 2);
        const std::uint16_t count = Word(frame, 4);
        if (count == 0 || count > kMaxReadCount)
            return exception(kIllegalValue);
        const std::uint8_t error = function == kReadHolding ? registers_.ReadHolding(start, count, &values)
                                                            : registers_.ReadInput(start, count, &values);
        if (error != 0)
            return exception(error);
        std::vector<std::uint8_t> pdu{function, static_cast<std::uint8_t>(2 * count)};
        for (std::uint16_t v : values) {
            pdu.push_back(static_cast<std::uint8_t>(v >> 8));
            pdu.push_back(static_cast<std::uint8_t>(v & 0xFF));
        }
        return pdu;
    }
    case kWriteMultiple: {
        if (frame.size() < kWriteHeader + kCrcLength)
            return exception(kIllegalValue);
        const std::uint16_t start = Word(frame, 2);
        const std::uint16_t count = Word(frame, 4);
        const std::uint8_t byteCount = frame[6];
        if (count == 0 || count > kMaxWriteCount || byteCount != 2 * count ||
            frame.size() != kWriteHeader + byteCount + kCrcLength)
            return exception(kIllegalValue);
        for (std::uint16_t k = 0; k < count; ++k)
            values.push_back(Word(frame, kWriteHeader + 2 * k));
        if (const std::uint8_t error = registers_.WriteHolding(start, values); error != 0)
            return exception(error);
        *wrote = true;
        return {function, frame[2], frame[3], frame[4], frame[5]};
    }
    default:
        return exception(kIllegalFunction);
    }
}

std::vector<std::uint8_t> CModbusSlave::Answer(std::span<const std::uint8_t> frame)
{
    if (frame.size() < 2 + kCrcLength || frame.size() > kMaxFrame)
        return {};
    const std::size_t body = frame.size() - kCrcLength;
    if (Crc16Modbus(frame.first(body)) != LoadCrcLowFirst(frame.data() + body))
        return {};
    const std::uint8_t address = frame[0];
    if (address != address_ && address != kBroadcast)
        return {};

    T_SLAVEFAULTS faults;
    std::function<void()> hook;
    {
        std::lock_guard guard(mutex_);
        lastRequest_.assign(frame.begin(), frame.end());
        faults = faults_;
        hook = writeHook_;
    }
    ++requests_;

    if (faults.firstBlockOnly && frame[1] == kReadHolding && body >= 6) {
        const std::uint16_t start = Word(frame, 2);
        if (start >= 64 && start < CControllerRegisters::kSettingsRegisters)
            return {};
    }

    std::vector<std::uint8_t> pdu;
    bool wrote = false;
    if (faults.exceptionCode != 0)
        pdu = {static_cast<std::uint8_t>(frame[1] | kExceptionFlag), faults.exceptionCode};
    else
        pdu = Pdu(frame, &wrote);
    if (wrote && hook)
        hook();
    if (address == kBroadcast || faults.silent)
        return {};

    std::vector<std::uint8_t> reply{faults.wrongAddress ? static_cast<std::uint8_t>(address_ + 1) : address_};
    reply.insert(reply.end(), pdu.begin(), pdu.end());
    const bool readReply = (pdu[0] == kReadHolding || pdu[0] == kReadInput);
    if (readReply && faults.byteCountDelta != 0)
        reply[2] = static_cast<std::uint8_t>(reply[2] + faults.byteCountDelta);
    if (faults.functionByte >= 0)
        reply[1] = static_cast<std::uint8_t>(faults.functionByte);
    if (faults.cutReply > 0 && static_cast<std::size_t>(faults.cutReply) < reply.size())
        reply.resize(static_cast<std::size_t>(faults.cutReply));
    AppendCrc(reply);
    if (faults.badCrc)
        reply[reply.size() - 1] ^= 0xFF;
    if (faults.shortReply > 0 && static_cast<std::size_t>(faults.shortReply) < reply.size())
        reply.resize(static_cast<std::size_t>(faults.shortReply));
    return reply;
}

bool CModbusSlave::Serve(int fd, int stopFd, int frameGapMs)
{
    std::vector<std::uint8_t> pending;
    pending.reserve(kMaxFrame);
    std::uint8_t chunk[kMaxFrame];
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int ready = ::poll(fds, 2, pending.empty() ? -1 : frameGapMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (fds[1].revents)
            return true;
        if (ready == 0) {
            // Silence ends a frame whose length its bytes did not tell.
            const auto reply = Answer(pending);
            pending.clear();
            if (!reply.empty() && !WriteAll(fd, reply))
                return false;
            continue;
        }
        if (fds[0].revents & (POLLERR | POLLNVAL))
            return false;
        const ssize_t n = ::read(fd, chunk, sizeof(chunk));
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            if (fds[0].revents & POLLHUP)
                return false;
            continue;
        }
        pending.insert(pending.end(), chunk, chunk + n);
        for (;;) {
            const T_FRAMEEND end = FindRequestEnd(pending);
            if (end.status != FrameStatus::Complete || end.length > pending.size())
                break;
            const auto reply = Answer(std::span(pending).first(end.length));
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(end.length));
            if (!reply.empty() && !WriteAll(fd, reply))
                return false;
        }
        // No request is longer than kMaxFrame: what has grown beyond it is noise.
        if (pending.size() > kMaxFrame)
            pending.clear();
    }
}

#include "tool/modbus/local_modbus.h"

#include "common/crc16.h"
#include "common/port_name.h"
#include "common/settings_store.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>
#include <thread>

namespace {

// Requested sizes of the driver's receive and transmit queues.
constexpr std::size_t kQueueSize = 1024;
// The CRC follows every frame: 2 bytes, low byte first.
constexpr std::size_t kCrcLength = 2;
// An exception reply: address, function | 0x80, exception code, CRC.
constexpr std::size_t kExceptionReplyLength = 5;
// ReadFrame's first read: enough to tell an exception reply from the start
// of a normal one.
constexpr std::size_t kFirstReadLength = 4;
// parity and baudRate arguments of Open that keep the stored values.
constexpr std::uint8_t kKeepParity = 255;
constexpr std::uint32_t kKeepBaudRate = 0;

} // namespace

CLocalModbus::CLocalModbus()
{
    rxBuffer_.reserve(1024);
}

CLocalModbus::~CLocalModbus()
{
    Close();
}

QString CLocalModbus::ErrorMessage(std::uint16_t code) const
{
    return CModbus::ErrorMessage(code);
}

bool CLocalModbus::IsOpen() const
{
    return port_.IsOpen();
}

bool CLocalModbus::Open(const QString& name, std::uint8_t newParity, std::uint32_t newBaudRate)
{
    std::lock_guard guard(lock_);
    openFailure_ = {};
    if (port_.IsOpen() && !port_.Close())
        return OpenFailed(EOpenStep::kDevice, port_.LastError());

    portName = name;
    const auto path = ResolvePortName(CSettingsStore(QString::fromUtf16(Settings::kToolProgram)), name);
    if (!path)
        return OpenFailed(EOpenStep::kDevice, ENOENT);
    if (!port_.Open(path->toStdString()))
        return OpenFailed(EOpenStep::kDevice, port_.LastError());
    // From here a failure leaves the port open; the next Open closes it.
    if (!port_.SetQueueSizes(kQueueSize, kQueueSize))
        return OpenFailed(EOpenStep::kQueues, port_.LastError());

    if (newBaudRate != kKeepBaudRate)
        baudRate = newBaudRate;
    if (newParity != kKeepParity)
        parity = newParity;

    // A character is the data bits plus start, parity and stop bits and a
    // margin: d + 4 bit times.
    const std::uint32_t d = dataBits & 0xFF;
    const std::uint32_t c4 = (d + 4) * 4000 / baudRate;
    if (c4 > charTimeout && c4 != 0)
        charTimeout = c4;
    std::uint32_t c1 = (d + 4) * 1000 / baudRate;
    if (c1 == 0)
        c1 = 1;
    T_SERIALTIMEOUTS timeouts;
    timeouts.readInterval = charTimeout;
    timeouts.readTotalPerByte = c1;
    timeouts.readTotalConstant = responseTimeout;
    timeouts.writeTotalPerByte = charTimeout;
    timeouts.writeTotalConstant = responseTimeout;
    if (!port_.SetTimeouts(timeouts))
        return OpenFailed(EOpenStep::kTimeouts, port_.LastError());

    T_SERIALLINE line;
    line.baudRate = baudRate;
    line.dataBits = static_cast<std::uint8_t>(d);
    line.parity = parity;
    line.stopBits = stopBits;
    line.flowControl = flowControl;
    line.checkParity = false;
    if (!port_.SetLine(line))
        return OpenFailed(EOpenStep::kLine, port_.LastError());
    return true;
}

bool CLocalModbus::OpenFailed(EOpenStep step, int error)
{
    openFailure_ = {step, error};
    return false;
}

bool CLocalModbus::Close()
{
    return port_.Close();
}

void CLocalModbus::Purge()
{
    port_.Purge(true, true);
}

bool CLocalModbus::WriteFrame(const std::uint8_t* bytes, std::size_t length)
{
    T_SERIALSTATUS status;
    std::size_t written = 0;
    // A write that ran out of time sent only part of the frame: the slave
    // cannot answer it, so it is a failed write, not a success.
    if (!port_.Write(bytes, length, &written) || written != length) {
        port_.ClearError(&status);
        return false;
    }
    // The driver's queue empties only as fast as the line sends: on a slow
    // line a whole settings block takes longer than the response time-out.
    const auto start = std::chrono::steady_clock::now();
    const auto limit = start + std::chrono::milliseconds(DrainLimitMs(length));
    for (;;) {
        if (!port_.ClearError(&status))
            return false;
        if (status.outQueue == 0)
            return true;
        if (std::chrono::steady_clock::now() >= limit)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

std::uint32_t CLocalModbus::DrainLimitMs(std::size_t length) const
{
    const std::uint64_t limit = std::uint64_t{TransmitTimeMs(length, baudRate, static_cast<std::uint8_t>(dataBits & 0xFF),
                                                             parity, stopBits)} + responseTimeout;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(limit, std::numeric_limits<std::uint32_t>::max()));
}

bool CLocalModbus::ReadFrame(std::vector<std::uint8_t>& buffer, std::size_t* count)
{
    T_SERIALSTATUS status;
    *count = 0;
    std::size_t got = 0;
    if (!port_.Read(buffer.data(), std::min(kFirstReadLength, buffer.size()), &got)) {
        port_.ClearError(&status);
        return false;
    }
    *count = got;
    if (got != kFirstReadLength || buffer.size() <= kFirstReadLength)
        return true;
    if (!port_.Read(buffer.data() + kFirstReadLength, buffer.size() - kFirstReadLength, &got)) {
        port_.ClearError(&status);
        return false;
    }
    *count += got;
    return true;
}

T_SERIALTIMEOUTS CLocalModbus::Timeouts() const
{
    T_SERIALTIMEOUTS timeouts;
    port_.GetTimeouts(&timeouts);
    return timeouts;
}

bool CLocalModbus::Line(T_SERIALLINE* line) const
{
    return port_.GetLine(line);
}

std::uint16_t CLocalModbus::Transact(std::vector<std::uint8_t>& request, std::uint16_t requestLength,
                                     std::vector<std::uint8_t>& reply, std::uint16_t expectedLength,
                                     std::uint16_t* receivedLength)
{
    if (reply.size() < expectedLength)
        reply.resize(expectedLength);

    std::lock_guard guard(lock_);
    std::uint16_t code = MB_OK;
    std::size_t received = 0;
    if (!port_.IsOpen()) {
        code = MB_ERR_NOT_OPEN;
    } else if (request.size() < requestLength) {
        // The caller claims more request bytes than it gave.
        code = MB_ERR_BAD_REQUEST;
    } else {
        request.resize(std::max<std::size_t>(request.size(), requestLength + kCrcLength));
        StoreCrcLowFirst(Crc16Modbus({request.data(), requestLength}), request.data() + requestLength);
        Purge();
        if (!WriteFrame(request.data(), requestLength + kCrcLength)) {
            code = MB_ERR_WRITE;
        } else {
            // Never shorter than an exception reply, which is looked at below.
            rxBuffer_.assign(std::max<std::size_t>(expectedLength + kCrcLength, kExceptionReplyLength), 0);
            if (!ReadFrame(rxBuffer_, &received))
                code = MB_ERR_READ;
            else if (received == 0)
                code = MB_ERR_TIMEOUT;
            else if (rxBuffer_[1] > 0x80) {
                // address, function | 0x80, exception code, CRC
                code = Crc16Modbus({rxBuffer_.data(), 3}) == LoadCrcLowFirst(rxBuffer_.data() + 3)
                           ? static_cast<std::uint16_t>(MB_ERR_EXCEPTION + rxBuffer_[2])
                           : MB_ERR_CRC;
            } else if (received < expectedLength + kCrcLength) {
                // A short frame with a correct CRC of its own leaves a CRC
                // residue of 0, which the zeroed rest of the buffer matches:
                // the length itself has to be checked.
                code = MB_ERR_CRC;
            } else if (Crc16Modbus({rxBuffer_.data(), expectedLength}) !=
                       LoadCrcLowFirst(rxBuffer_.data() + expectedLength)) {
                code = MB_ERR_CRC;
            }
        }
    }

    if (code == MB_OK) {
        reply.assign(rxBuffer_.begin(), rxBuffer_.begin() + expectedLength);
        if (receivedLength)
            *receivedLength = expectedLength;
        return MB_OK;
    }
    if (pauseAfterError != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseAfterError));
    return code;
}

std::uint32_t TransmitTimeMs(std::size_t bytes, std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
                             std::uint8_t stopBits)
{
    if (baudRate == 0)
        return 0;
    // Counted in half bits, for one and a half stop bits.
    constexpr std::uint64_t kStartHalfBits = 2;
    const std::uint64_t parityHalfBits = parity == 0 ? 0 : 2;
    const std::uint64_t stopHalfBits = stopBits == 1 ? 3 : stopBits == 2 ? 4 : 2;
    const std::uint64_t halfBits = kStartHalfBits + 2 * std::uint64_t{dataBits} + parityHalfBits + stopHalfBits;
    const std::uint64_t perMs = 2 * std::uint64_t{baudRate};
    const std::uint64_t ms = (std::uint64_t{bytes} * halfBits * 1000 + perMs - 1) / perMs;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, std::numeric_limits<std::uint32_t>::max()));
}

bool OpenFromSettings(CLocalModbus& master)
{
    const CSettingsStore store(QString::fromUtf16(Settings::kToolProgram));
    const QString section = QString::fromUtf16(Settings::kRs232Section);
    master.dataBits = static_cast<std::uint16_t>(
        store.GetInt(section, QString::fromUtf16(Settings::kRs232Size), Settings::kDefaultRs232Size));
    const int parity = store.GetInt(section, QString::fromUtf16(Settings::kRs232Parity), Settings::kDefaultRs232Parity);
    master.parity = static_cast<std::uint8_t>(parity);
    master.responseTimeout = kToolResponseTimeoutMs;
    master.attempts = kToolAttempts;
    const QString port = store.GetString(section, QString::fromUtf16(Settings::kRs232Port),
                                         QString::fromUtf16(Settings::kDefaultRs232Port));
    const int baud = store.GetInt(section, QString::fromUtf16(Settings::kRs232Baudrate),
                                  Settings::kDefaultRs232Baudrate);
    return master.Open(port, static_cast<std::uint8_t>(parity), static_cast<std::uint32_t>(baud));
}

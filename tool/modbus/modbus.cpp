#include "tool/modbus/modbus.h"

#include "tool/modbus/modbus_exception.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kSlaveAddress = 1;
constexpr std::uint8_t kReadHoldingRegisters = 0x03;
constexpr std::uint8_t kReadInputRegisters = 0x04;
constexpr std::uint8_t kWriteMultipleRegisters = 0x10;

// Read request: address, function, start (2), count (2).
constexpr std::uint16_t kReadRequestLength = 6;
// Read reply: address, function, byte count, then 2 bytes per register.
constexpr std::uint16_t kReadReplyHeader = 3;
// Write request: address, function, start (2), count (2), byte count, then
// 2 bytes per register.
constexpr std::uint16_t kWriteRequestHeader = 7;
// Write reply: address, function, start (2), count (2).
constexpr std::uint16_t kWriteReplyLength = 6;
// The byte count of a request or reply is one byte: 127 registers at most.
constexpr std::uint16_t kMaxRegisters = 127;

std::uint8_t High(std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); }
std::uint8_t Low(std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFF); }

std::vector<std::uint8_t> ReadRequest(std::uint8_t function, std::uint16_t start, std::uint16_t count)
{
    return {kSlaveAddress, function, High(start), Low(start), High(count), Low(count)};
}

std::uint16_t ReadReplyLength(std::uint16_t count)
{
    return static_cast<std::uint16_t>(kReadReplyHeader + 2 * count);
}

// A read reply must come from the slave asked and answer the function asked;
// its byte count is not examined.
std::uint16_t TakeReadReply(const std::vector<std::uint8_t>& request, const std::vector<std::uint8_t>& reply,
                            std::uint16_t count, std::vector<std::uint16_t>& values)
{
    if (reply[0] != request[0] || reply[1] != request[1])
        return MB_ERR_INVALID_RESPONSE;
    for (std::uint16_t k = 0; k < count; ++k)
        values[k] = static_cast<std::uint16_t>(reply[3 + 2 * k] * 256 + reply[4 + 2 * k]);
    return MB_OK;
}

} // namespace

CModbus::~CModbus() = default;

QString CModbus::ErrorMessage(std::uint16_t code) const
{
    switch (code) {
    case MB_OK: return QStringLiteral("Ok");
    case MB_ERR_TIMEOUT: return QStringLiteral("Time Out Error");
    case MB_ERR_INVALID_RESPONSE: return QStringLiteral("invalid returned device response");
    case MB_ERR_CRC: return QStringLiteral("crc error");
    case MB_ERR_WRITE: return QStringLiteral("Write communication error");
    case MB_ERR_READ: return QStringLiteral("Read communication error");
    case MB_ERR_NOT_OPEN: return QStringLiteral("Comm port not opened");
    case MB_ERR_LOCK_TIMEOUT: return QStringLiteral("Critical section lock time-out error");
    case MB_ERR_BAD_REQUEST: return QStringLiteral("invalid request");
    default: break;
    }
    if ((code & 0xFF00) == MB_ERR_EXCEPTION)
        return QStringLiteral("Modbus device return an exception code %1").arg(code & 0xFF);
    return QString();
}

std::uint16_t CModbus::Finish(std::uint16_t code) const
{
    if (code != MB_OK && throwOnError)
        throw CModbusException(code, ErrorMessage(code));
    return code;
}

std::uint16_t CModbus::Request(std::vector<std::uint8_t>& request, std::uint16_t requestLength,
                               std::uint16_t expectedLength, const ReplyCheck& check)
{
    std::vector<std::uint8_t> reply;
    std::uint16_t code = MB_OK;
    for (std::uint16_t attempt = 0;;) {
        code = Transact(request, requestLength, reply, expectedLength, nullptr);
        if (code == MB_OK)
            code = reply.size() < expectedLength ? MB_ERR_INVALID_RESPONSE : check(reply);
        // attempts 0 still makes one exchange
        if (++attempt >= attempts || code == MB_OK)
            break;
    }
    return Finish(code);
}

std::uint16_t CModbus::ReadHoldingRegisters(std::uint16_t count, std::uint16_t start,
                                            std::vector<std::uint16_t>& values)
{
    if (count > kMaxRegisters)
        return Finish(MB_ERR_BAD_REQUEST);
    if (values.size() < count)
        values.resize(count);
    auto request = ReadRequest(kReadHoldingRegisters, start, count);
    return Request(request, kReadRequestLength, ReadReplyLength(count),
                   [&](const std::vector<std::uint8_t>& reply) { return TakeReadReply(request, reply, count, values); });
}

std::uint16_t CModbus::ReadInputRegisters(std::uint16_t count, std::vector<std::uint16_t>& values)
{
    if (count > kMaxRegisters)
        return Finish(MB_ERR_BAD_REQUEST);
    if (values.size() < count)
        values.resize(count);
    auto request = ReadRequest(kReadInputRegisters, 0, count);
    return Request(request, kReadRequestLength, ReadReplyLength(count),
                   [&](const std::vector<std::uint8_t>& reply) { return TakeReadReply(request, reply, count, values); });
}

std::uint16_t CModbus::WriteMultipleRegisters(std::uint16_t count, std::uint16_t start,
                                              const std::vector<std::uint16_t>& values)
{
    if (count > kMaxRegisters || values.size() < count)
        return Finish(MB_ERR_BAD_REQUEST);
    std::vector<std::uint8_t> request{kSlaveAddress, kWriteMultipleRegisters, High(start), Low(start),
                                      High(count), Low(count), static_cast<std::uint8_t>(2 * count)};
    for (std::uint16_t k = 0; k < count; ++k) {
        request.push_back(High(values[k]));
        request.push_back(Low(values[k]));
    }
    const auto length = static_cast<std::uint16_t>(kWriteRequestHeader + 2 * count);
    // The reply echoes address, function, start and count.
    return Request(request, length, kWriteReplyLength, [&](const std::vector<std::uint8_t>& reply) {
        return std::equal(reply.begin(), reply.begin() + kWriteReplyLength, request.begin())
                   ? MB_OK : MB_ERR_INVALID_RESPONSE;
    });
}

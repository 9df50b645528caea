#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

// Result codes of a Modbus request.
inline constexpr std::uint16_t MB_OK = 0;
inline constexpr std::uint16_t MB_ERR_TIMEOUT = 1;          // nothing arrived before the read time-outs ran out
inline constexpr std::uint16_t MB_ERR_INVALID_RESPONSE = 2; // other slave or function, or a write echo that differs
inline constexpr std::uint16_t MB_ERR_CRC = 3;              // wrong CRC, or a reply shorter than expected
inline constexpr std::uint16_t MB_ERR_WRITE = 8;            // writing the request failed
inline constexpr std::uint16_t MB_ERR_READ = 9;             // reading the reply failed
inline constexpr std::uint16_t MB_ERR_NOT_OPEN = 10;        // the port is not open
inline constexpr std::uint16_t MB_ERR_LOCK_TIMEOUT = 11;    // never produced: the lock is waited for without limit
inline constexpr std::uint16_t MB_ERR_BAD_REQUEST = 12;     // the request cannot be framed; nothing was sent
inline constexpr std::uint16_t MB_ERR_EXCEPTION = 0x8000;   // + the slave's exception code

// A Modbus RTU master of one slave: builds the requests of functions 3, 4
// and 16, checks the replies, repeats failed exchanges and names the result
// codes. How an exchange reaches the slave is the subclass's business.
class CModbus
{
public:
    CModbus() = default;
    virtual ~CModbus();
    CModbus(const CModbus&) = delete;
    CModbus& operator=(const CModbus&) = delete;

    // Run-time class name.
    virtual const char* className() const { return "CModbus"; }

    // One exchange: appends the CRC to request[0 .. requestLength-1], sends
    // it and reads a reply of expectedLength bytes plus CRC into reply.
    virtual std::uint16_t Transact(std::vector<std::uint8_t>& request, std::uint16_t requestLength,
                                   std::vector<std::uint8_t>& reply, std::uint16_t expectedLength,
                                   std::uint16_t* receivedLength) = 0;
    virtual QString ErrorMessage(std::uint16_t code) const;
    virtual bool IsOpen() const = 0;

    // values is grown to count when it is smaller.
    std::uint16_t ReadHoldingRegisters(std::uint16_t count, std::uint16_t start,
                                       std::vector<std::uint16_t>& values);
    std::uint16_t ReadInputRegisters(std::uint16_t count, std::vector<std::uint16_t>& values);
    // Writes values[0 .. count-1]; count must not exceed values.size() nor 127.
    std::uint16_t WriteMultipleRegisters(std::uint16_t count, std::uint16_t start,
                                         const std::vector<std::uint16_t>& values);

    std::uint16_t attempts = 1;          // exchanges one request may use
    std::uint32_t pauseAfterError = 0;   // ms slept after every failed exchange
    bool throwOnError = false;           // raise CModbusException instead of returning a failure

protected:
    // Held for a whole exchange and a whole open, never nested.
    std::mutex lock_;

private:
    using ReplyCheck = std::function<std::uint16_t(const std::vector<std::uint8_t>&)>;
    // The attempt loop around one request frame.
    std::uint16_t Request(std::vector<std::uint8_t>& request, std::uint16_t requestLength,
                          std::uint16_t expectedLength, const ReplyCheck& check);
    std::uint16_t Finish(std::uint16_t code) const;
};

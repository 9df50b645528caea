#pragma once

#include "common/serial_device.h"
#include "tool/modbus/modbus.h"

#include <QString>

#include <cstdint>
#include <vector>

// A Modbus RTU master whose line is a local serial port.
class CLocalModbus : public CModbus
{
public:
    // The step at which the last Open failed, with the system's error number.
    enum class EOpenStep { kNone, kDevice, kQueues, kTimeouts, kLine };
    struct T_OPENFAILURE
    {
        EOpenStep step = EOpenStep::kNone;
        int error = 0;   // errno
    };

    CLocalModbus();
    ~CLocalModbus() override;

    const char* className() const override { return "CLocalModbus"; }

    std::uint16_t Transact(std::vector<std::uint8_t>& request, std::uint16_t requestLength,
                           std::vector<std::uint8_t>& reply, std::uint16_t expectedLength,
                           std::uint16_t* receivedLength) override;
    QString ErrorMessage(std::uint16_t code) const override;
    bool IsOpen() const override;

    // Opens portName ("COMn" or a device path); parity 255 keeps the stored
    // parity, baudRate 0 the stored speed. The values used are stored.
    bool Open(const QString& portName, std::uint8_t parity, std::uint32_t baudRate);
    bool Close();
    // Why the last Open returned false; step kNone after a successful one.
    T_OPENFAILURE LastOpenFailure() const { return openFailure_; }

    // The line primitives of one exchange; Transact calls them under the lock.
    void Purge();
    bool WriteFrame(const std::uint8_t* bytes, std::size_t length);
    // Reads at most buffer.size() bytes: 4 first, then the rest.
    bool ReadFrame(std::vector<std::uint8_t>& buffer, std::size_t* count);
    // How long WriteFrame waits for `length` written bytes to leave the line:
    // their own transmission time at the stored line settings plus
    // responseTimeout.
    std::uint32_t DrainLimitMs(std::size_t length) const;

    // The time-outs the port runs with since the last Open.
    T_SERIALTIMEOUTS Timeouts() const;
    // The line settings of the open port, read back from the device.
    bool Line(T_SERIALLINE* line) const;

    QString portName;
    std::uint32_t responseTimeout = 1000;  // ms: constant part of the time-outs, drain limit
    std::uint32_t charTimeout = 0;         // ms between characters; 0 none; only ever grows
    std::uint16_t dataBits = 8;            // its low byte is used
    std::uint32_t baudRate = 9600;
    std::uint8_t parity = 0;               // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t flowControl = 0;          // bit 0 DSR/DTR, bit 1 CTS/RTS, bit 2 XON/XOFF
    std::uint8_t stopBits = 0;             // 0 one, 1 one and a half, 2 two

private:
    bool OpenFailed(EOpenStep step, int error);

    CSerialDevice port_;
    T_OPENFAILURE openFailure_;
    std::vector<std::uint8_t> rxBuffer_;
};

// Milliseconds that `bytes` characters take on a line of baudRate bit/s,
// rounded up. A character is a start bit, the data bits, a parity bit unless
// parity is 0 (none), and one, one and a half or two stop bits (stopBits 0,
// 1, 2). 0 when baudRate is 0.
std::uint32_t TransmitTimeMs(std::size_t bytes, std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
                             std::uint8_t stopBits);

// The master's response time-out and attempts for the tool's normal work.
inline constexpr std::uint32_t kToolResponseTimeoutMs = 300;
inline constexpr std::uint16_t kToolAttempts = 1;

// Opens the master's port from the tool's stored "RS232" settings with the
// tool's response time-out and attempts.
bool OpenFromSettings(CLocalModbus& master);

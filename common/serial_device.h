#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// Line settings of a serial device, with the codes the programs store.
struct T_SERIALLINE
{
    std::uint32_t baudRate = 9600;  // bit/s; one of the standard termios speeds
    std::uint8_t dataBits = 8;      // 5 .. 8
    std::uint8_t parity = 0;        // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t stopBits = 0;      // 0 one, 1 one and a half (5 data bits only), 2 two
    std::uint8_t flowControl = 0;   // bit 0 DSR/DTR (not available), bit 1 CTS/RTS, bit 2 XON/XOFF
    bool checkParity = false;       // check the parity of received characters
};

// The line speeds, in bit/s, that the system's serial driver interface
// (termios) can set, slowest first. Any other speed makes opening a port fail.
std::span<const std::uint32_t> SettableBaudRates();
bool IsSettableBaudRate(std::uint32_t baudRate);

// The five time-outs of a serial device, in milliseconds.
//
// A read ends when the requested count has arrived; when, after a received
// byte, no further byte arrives within readInterval (0: no interval limit);
// or when readTotalPerByte x count + readTotalConstant have passed since the
// read began (both 0: no total limit). A write ends when every byte has been
// handed to the driver or when writeTotalPerByte x count + writeTotalConstant
// have passed (both 0: no limit). A time-out is not an error: the call
// reports how many bytes it transferred.
struct T_SERIALTIMEOUTS
{
    std::uint32_t readInterval = 0;
    std::uint32_t readTotalPerByte = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalPerByte = 0;
    std::uint32_t writeTotalConstant = 0;

    bool operator==(const T_SERIALTIMEOUTS&) const = default;
};

// Error state of a serial device since it was last cleared.
struct T_SERIALSTATUS
{
    enum : std::uint32_t {
        kFrameError = 1u << 0,
        kOverrun = 1u << 1,
        kParityError = 1u << 2,
        kBreak = 1u << 3,
        kBufferOverrun = 1u << 4,
        kIoError = 1u << 5,   // a transfer failed since the last clear
    };
    std::uint32_t errors = 0;
    std::size_t inQueue = 0;    // bytes received and not yet read
    std::size_t outQueue = 0;   // bytes written and not yet sent
};

// One open serial device on termios, used synchronously by one owner at a
// time. The device is opened exclusively: a second open of the same device,
// from this process or another, is refused while it is held.
class CSerialDevice
{
public:
    CSerialDevice() = default;
    ~CSerialDevice();
    CSerialDevice(const CSerialDevice&) = delete;
    CSerialDevice& operator=(const CSerialDevice&) = delete;

    // Opens an existing device for reading and writing. Fails with EBUSY when
    // the device is held elsewhere. Leaves the line raw (no echo, no line
    // editing, no character translation).
    bool Open(const std::string& path);
    // Releases the device; true when it is closed now.
    bool Close();
    bool IsOpen() const { return fd_ >= 0; }
    int Handle() const { return fd_; }

    // The kernel's tty queues are of fixed size; the call only checks that
    // they can hold what is asked for.
    bool SetQueueSizes(std::size_t receive, std::size_t transmit);

    // Changes the listed line settings and keeps every other one.
    bool SetLine(const T_SERIALLINE& line);
    bool GetLine(T_SERIALLINE* line) const;

    bool SetTimeouts(const T_SERIALTIMEOUTS& timeouts);
    bool GetTimeouts(T_SERIALTIMEOUTS* timeouts) const;

    // Blocking transfers bounded by the time-outs; *transferred receives the
    // byte count also when the call fails.
    bool Read(std::uint8_t* buffer, std::size_t count, std::size_t* transferred);
    bool Write(const std::uint8_t* data, std::size_t count, std::size_t* transferred);

    // Discards what waits in the chosen directions.
    bool Purge(bool transmit, bool receive);
    // Reads and clears the error state, with the current queue lengths.
    bool ClearError(T_SERIALSTATUS* status);
    // Bytes written and not yet sent, or -1 on failure.
    long TransmitQueueLength() const;
    // Waits until the transmit queue is empty, at most timeoutMs; true when it is.
    bool WaitTransmitEmpty(std::uint32_t timeoutMs);
    // Blocks until every byte written has been sent (no limit).
    bool Drain();

    // errno of the last failed operation.
    int LastError() const { return lastError_; }

private:
    bool Fail(int error);

    int fd_ = -1;
    int lastError_ = 0;
    bool ioFailed_ = false;
    T_SERIALTIMEOUTS timeouts_;
    // Error counters of the driver when the error state was last cleared.
    struct Counters { int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0; } counters_;
};

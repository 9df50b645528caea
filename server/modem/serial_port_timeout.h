#pragma once

#include "common/serial_device.h"

#include <QString>

#include <atomic>
#include <cstddef>
#include <cstdint>

// The GSM modem's serial port: a thin synchronous wrapper around one serial
// device. Every failing call throws CSerialException with the system's error
// code; Close, IsOpen and the destructor never throw.
//
// A port belongs to one thread. The only exception is Interrupt, through
// which another thread ends what the owner is waiting for.
class CSerialPortTimeout
{
public:
    // Purge: what to discard.
    enum : std::uint32_t {
        kPurgeAbortReads = 0x0002,
        kPurgeTxClear = 0x0004,
        kPurgeRxClear = 0x0008,
    };
    // Event mask: the one event the port reports.
    enum : std::uint32_t { kEventTxEmpty = 0x0004 };

    CSerialPortTimeout();
    virtual ~CSerialPortTimeout();
    CSerialPortTimeout(const CSerialPortTimeout&) = delete;
    CSerialPortTimeout& operator=(const CSerialPortTimeout&) = delete;

    // Opens the named port exclusively, at 115200 bit/s, 8 data bits, no
    // parity, one stop bit, without flow control; an open port is closed
    // first. "COMn" is resolved through the server's "Ports" settings, a name
    // that starts with "/" is a device path. The time-outs are the caller's.
    void Open(const QString& name);
    void Close() noexcept;
    bool IsOpen() const noexcept { return device_.IsOpen(); }
    // Whether the named port exists and can be opened now: it is opened and
    // closed again at once. Never throws.
    static bool CanOpen(const QString& name);

    T_SERIALTIMEOUTS GetTimeouts() const;
    void SetTimeouts(const T_SERIALTIMEOUTS& timeouts);
    // Any combination of the kPurge flags. The owner never has a read
    // pending while it purges, so aborting reads has nothing to end.
    void Purge(std::uint32_t flags);
    // Returns when every byte written so far has been transmitted.
    void Flush();
    std::uint32_t GetMask() const;
    void SetMask(std::uint32_t mask);
    // Blocks until an event of the mask occurs and returns it: with
    // kEventTxEmpty, once the last queued byte has left the port.
    std::uint32_t WaitEvent();
    // Blocking transfers bounded by the time-outs (see T_SERIALTIMEOUTS); a
    // read that ends on a time-out returns what arrived, possibly nothing.
    std::size_t Read(void* buffer, std::size_t count);
    std::size_t Write(const void* data, std::size_t count);

    // May be called from any thread: a Read, Write or WaitEvent under way
    // ends at once, and it and every later one fail with ECANCELED, so that
    // the owner can be stopped without waiting out the time-outs. Opening,
    // purging, flushing and closing still work.
    void Interrupt() noexcept;
    bool IsInterrupted() const noexcept { return interrupted_.load(); }

private:
    // Throws unless the port is open and not interrupted.
    void CheckTransfer() const;
    // Waits until fd is ready for `events` or waitMs pass (-1: no limit);
    // returns what poll reported of fd (0 on a time-out). Throws ECANCELED
    // when interrupted meanwhile.
    short WaitReady(short events, int waitMs) const;

    CSerialDevice device_;
    std::uint32_t mask_ = 0;
    int wakeFd_ = -1;
    std::atomic<bool> interrupted_{false};
};

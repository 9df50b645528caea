#pragma once

#include "common/serial_device.h"
#include "sim/pty_release_watch.h"

#include <string>
#include <thread>

class CModbusSlave;

// Runs a CModbusSlave on its own thread, on a pseudo-terminal it creates
// (the master sees the pty's other end at Path()) or on a serial device.
// On a pty a second thread lifts the exclusive mark a master leaves behind
// (CPtyReleaseWatch), so every master after it can open the port.
class CModbusSlaveLink
{
public:
    explicit CModbusSlaveLink(CModbusSlave& slave);
    ~CModbusSlaveLink();
    CModbusSlaveLink(const CModbusSlaveLink&) = delete;
    CModbusSlaveLink& operator=(const CModbusSlaveLink&) = delete;

    bool StartOnPty();
    bool StartOnDevice(const std::string& path, const T_SERIALLINE& line);
    // Stops serving and releases the line; a master on the pty then sees it hang up.
    void Stop();

    // The device a master opens: the pty's slave side or the serial device.
    const std::string& Path() const { return path_; }
    bool Running() const { return thread_.joinable(); }
    // errno of the last failure of Start*.
    int LastError() const { return error_; }
    // Masters that have the pty open now, as far as the link has seen.
    int PtyOpeners() const { return release_.Openers(); }

private:
    bool StartThread(int fd, int frameGapMs);

    CModbusSlave& slave_;
    std::string path_;
    int ptyMaster_ = -1;
    int ptySlave_ = -1;   // kept open so the pty does not hang up between masters
    CPtyReleaseWatch release_;
    CSerialDevice device_;
    int stopFd_ = -1;
    int error_ = 0;
    std::thread thread_;
    std::thread releaseThread_;
};

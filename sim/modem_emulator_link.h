#pragma once

#include "common/serial_device.h"

#include <atomic>
#include <string>
#include <thread>

class CModemEmulator;

// Runs a CModemEmulator on its own thread, on a pseudo-terminal it creates
// (the server opens the other end, at Path()) or on a serial device.
class CModemEmulatorLink
{
public:
    explicit CModemEmulatorLink(CModemEmulator& modem);
    ~CModemEmulatorLink();
    CModemEmulatorLink(const CModemEmulatorLink&) = delete;
    CModemEmulatorLink& operator=(const CModemEmulatorLink&) = delete;

    bool StartOnPty();
    bool StartOnDevice(const std::string& path);
    // Stops serving and releases the line; whoever has it open then sees it hang up.
    void Stop();

    const std::string& Path() const { return path_; }
    // False once stopped or hung up by a fault.
    bool Serving() const;
    // errno of the last failure of Start*.
    int LastError() const { return error_; }

private:
    bool StartThread(int fd);
    void Serve(int fd);
    bool WriteAll(int fd, const std::string& bytes);
    void ReleaseLine();

    CModemEmulator& modem_;
    std::string path_;
    int ptyMaster_ = -1;
    int ptySlave_ = -1; // kept open so the pty does not hang up between openers
    CSerialDevice device_;
    int stopFd_ = -1;
    int wakeFd_ = -1;
    int error_ = 0;
    std::atomic<bool> hungUp_{false};
    std::thread thread_;
};

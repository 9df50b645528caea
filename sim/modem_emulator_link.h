#pragma once

#include "common/serial_device.h"
#include "sim/pty_release_watch.h"

#include <atomic>
#include <string>
#include <thread>

class CModemEmulator;

// Runs a CModemEmulator on its own thread, on a pseudo-terminal it creates
// (the server opens the other end, at Path()) or on a serial device. On a
// pty a second thread lifts the exclusive mark an opener leaves behind
// (CPtyReleaseWatch), so a server that was killed does not lock out the next.
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
    // Openers of the pty now, as far as the link has seen.
    int PtyOpeners() const { return release_.Openers(); }

private:
    bool StartThread(int fd);
    void Serve(int fd);
    bool WriteAll(int fd, const std::string& bytes);
    void HangUp();
    void ReleaseLine();

    CModemEmulator& modem_;
    std::string path_;
    int ptyMaster_ = -1;
    int ptySlave_ = -1; // kept open so the pty does not hang up between openers
    CPtyReleaseWatch release_;
    CSerialDevice device_;
    int stopFd_ = -1;
    int wakeFd_ = -1;
    int error_ = 0;
    std::atomic<bool> hungUp_{false};
    std::thread thread_;
    std::thread releaseThread_;
};

#pragma once

#include "sim/gprs_plan.h"

#include <cstdint>
#include <functional>
#include <memory>

// What a run of the emulated controllers achieved.
struct T_GPRSRESULT
{
    std::uint64_t framesSent = 0;    // frames whose last byte the kernel took
    std::uint64_t framesUnsent = 0;  // frames planned but not sent: connection failed or lost, socket full
    std::uint32_t connected = 0;
    std::uint32_t connectFailed = 0;
    std::uint32_t connectionsLost = 0;  // closed by the server or broken after connecting
    bool stopped = false;               // Stop() ended the run
};

// Many alarm controllers reporting over GPRS from one thread: one
// non-blocking TCP connection per controller, all driven by one epoll loop
// and one timer queue, so that tens of thousands of controllers cost one
// process and little memory.
class CGprsControllers
{
public:
    // Called on the running thread when a frame has been handed to the kernel whole.
    using SentHook = std::function<void(std::uint32_t serial, std::uint64_t index)>;

    explicit CGprsControllers(T_GPRSPLAN plan);
    ~CGprsControllers();
    CGprsControllers(const CGprsControllers&) = delete;
    CGprsControllers& operator=(const CGprsControllers&) = delete;

    void SetSentHook(SentHook hook);

    // Connects, sends the plan's frames, holds, closes. Runs once.
    T_GPRSRESULT Run();

    // Ends Run early; safe from any thread and from a signal handler.
    void Stop();

private:
    struct Engine;
    std::unique_ptr<Engine> engine_;
};

// Raises the soft limit of open files to the hard limit; returns the limit now in force.
std::uint64_t RaiseFileLimit();

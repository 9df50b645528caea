// ostrel-gprs: alarm controllers reporting to a monitoring server over TCP,
// or printing the SMS texts of their report frames.
#include "sim/gprs_controllers.h"
#include "sim/gprs_plan.h"
#include "sim/sim_options.h"

#include <QCoreApplication>
#include <QStringList>

#include <csignal>
#include <cstdio>

namespace {

CGprsControllers* running = nullptr;

void OnStopSignal(int)
{
    if (running)
        running->Stop();
}

int PrintSms(const T_GPRSPLAN& plan)
{
    for (std::uint32_t c = 0; c < plan.controllers; ++c) {
        for (std::uint32_t k = 0; k < plan.count; ++k) {
            std::printf("%s\n", ReportSmsText(FrameBytes(plan, plan.serialBase + c, k)).constData());
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ostrel-gprs"));

    const T_PLANPARSE parsed = ParseGprsPlan(QCoreApplication::arguments());
    if (parsed.status == PlanStatus::Help) {
        std::printf("%s", qPrintable(parsed.text));
        return 0;
    }
    if (parsed.status == PlanStatus::Error)
        return CSimOptions::Fail(parsed.text);
    const T_GPRSPLAN& plan = parsed.plan;
    if (plan.printSms)
        return PrintSms(plan);

    const std::uint64_t files = RaiseFileLimit();
    if (files < plan.controllers + std::uint64_t{16})
        std::fprintf(stderr, "ostrel-gprs: warning: only %llu open files allowed for %u connections\n",
                     static_cast<unsigned long long>(files), plan.controllers);

    CGprsControllers controllers(plan);
    running = &controllers;
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    const T_GPRSRESULT result = controllers.Run();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    running = nullptr;

    std::printf("frames sent: %llu\n", static_cast<unsigned long long>(result.framesSent));
    std::printf("frames not sent: %llu\n", static_cast<unsigned long long>(result.framesUnsent));
    std::printf("connections made: %u\n", result.connected);
    std::printf("connections failed: %u\n", result.connectFailed);
    std::printf("connections lost: %u\n", result.connectionsLost);
    if (result.stopped)
        std::printf("stopped early\n");
    const bool clean = result.connectFailed == 0 && result.connectionsLost == 0 && result.framesUnsent == 0;
    return clean ? 0 : 1;
}

// Varkon, the monitoring server.
#include "common/clock.h"
#include "common/settings_store.h"
#include "server/ui/varkon_app.h"
#include "server/ui/varkon_dlg.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void OnStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// Thousands of controllers stay connected at once: allow as many open
// descriptors as the system lets this user have.
void RaiseOpenFileLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int main(int argc, char** argv)
{
    RaiseOpenFileLimit();
    ::signal(SIGPIPE, SIG_IGN);
    CVarkonApp app(argc, argv);

    // SIGTERM and SIGINT close the window the normal way, so the stop of the
    // server is journaled and today's file saved. The handlers are in place
    // before start-up, so a stop asked for during start-up is not lost: it
    // is carried out as soon as the window runs.
    const bool signalsWatched = ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0;
    if (signalsWatched) {
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
    }

    CVarkonDlg window(CClock::System());
    if (signalsWatched) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &window);
        QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
            char byte = 0;
            [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
            window.reject();
        });
    }

    window.exec();
    return 0;
}

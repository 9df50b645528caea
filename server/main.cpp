// Varkon, the monitoring server.
#include "common/clock.h"
#include "common/command_line.h"
#include "common/settings_store.h"
#include "common/stop_signal.h"
#include "server/ui/varkon_app.h"
#include "server/ui/varkon_dlg.h"

#include <csignal>
#include <sys/resource.h>

namespace {

// The base name of the program's desktop entry: on Wayland the window finds
// its icon through it.
constexpr char16_t kDesktopEntry[] = u"ru.ostrel.Varkon";

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

CCommandLine CommandLine()
{
    return CCommandLine(QStringLiteral(
        "Ostrel monitoring server: receives the reports of alarm controllers over TCP (GPRS)\n"
        "and by SMS through a GSM modem, and shows points, alarms and events in its window.\n"
        "Settings: ~/.config/Ostrel/Varkon.conf. Stops the normal way on SIGTERM or SIGINT."));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setApplicationName(QString::fromUtf16(Settings::kServerProgram));
    QCoreApplication::setApplicationVersion(QStringLiteral(OSTREL_VERSION));
    CommandLine().AnswerHelpAndVersion(argc, argv);

    RaiseOpenFileLimit();
    ::signal(SIGPIPE, SIG_IGN);
    CVarkonApp app(argc, argv);
    QGuiApplication::setDesktopFileName(QString::fromUtf16(kDesktopEntry));
    if (!CommandLine().Accept(app))
        return 1;

    // SIGTERM and SIGINT close the window the normal way, so the stop of the
    // server is journaled and today's file saved. The handlers are in place
    // before start-up, so a stop asked for during start-up is not lost: it
    // is carried out as soon as the window runs.
    CStopSignal stopSignal;
    CVarkonDlg window(CClock::System());
    QObject::connect(&stopSignal, &CStopSignal::stopRequested, &window, &CVarkonDlg::reject);
    stopSignal.Deliver();

    window.exec();
    return 0;
}

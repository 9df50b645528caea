// Tesmark, the setup tool of the alarm controllers.
#include "common/settings_store.h"
#include "tool/ui/tesmark_dlg.h"

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>
#include <QStyleFactory>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void OnStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QString::fromUtf16(Settings::kOrganisation));
    QApplication::setApplicationName(QString::fromUtf16(Settings::kToolProgram));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tool/app_icon.svg")));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    // SIGTERM and SIGINT close the window the normal way, so that the port is
    // closed and left free for the next opener. The handlers are in place
    // before the window opens the port, so a stop asked for meanwhile is
    // carried out as soon as the window runs.
    const bool signalsWatched = ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0;
    if (signalsWatched) {
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
    }

    // The window is the program: it ends when the window closes.
    CTesmarkDlg window;
    if (signalsWatched) {
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &window);
        QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
            char byte = 0;
            [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
            window.CloseOnStopSignal();
        });
    }
    window.exec();
    return 0;
}

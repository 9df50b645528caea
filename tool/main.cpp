// Tesmark, the setup tool of the alarm controllers.
#include "common/command_line.h"
#include "common/settings_store.h"
#include "common/stop_signal.h"
#include "tool/ui/tesmark_dlg.h"

#include <QApplication>
#include <QIcon>
#include <QStyleFactory>

namespace {

// The base name of the program's desktop entry: on Wayland the window finds
// its icon through it.
constexpr char16_t kDesktopEntry[] = u"ru.ostrel.Tesmark";

CCommandLine CommandLine()
{
    return CCommandLine(QStringLiteral(
        "Ostrel setup tool: reads, shows live and writes back the settings, keys and SMS texts\n"
        "of an alarm controller, a Modbus RTU slave on a serial port.\n"
        "Settings: ~/.config/Ostrel/Tesmark.conf (port names COMn map to devices in [Ports]).\n"
        "Closes the port and stops the normal way on SIGTERM or SIGINT."));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setApplicationName(QString::fromUtf16(Settings::kToolProgram));
    QCoreApplication::setApplicationVersion(QStringLiteral(OSTREL_VERSION));
    CommandLine().AnswerHelpAndVersion(argc, argv);

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QString::fromUtf16(Settings::kOrganisation));
    QApplication::setApplicationName(QString::fromUtf16(Settings::kToolProgram));
    QGuiApplication::setDesktopFileName(QString::fromUtf16(kDesktopEntry));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tool/app_icon.svg")));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (!CommandLine().Accept(app))
        return 1;

    // SIGTERM and SIGINT close the window the normal way, so that the port is
    // closed and left free for the next opener. The handlers are in place
    // before the window opens the port, so a stop asked for meanwhile is
    // carried out as soon as the window runs.
    CStopSignal stopSignal;
    // The window is the program: it ends when the window closes.
    CTesmarkDlg window;
    QObject::connect(&stopSignal, &CStopSignal::stopRequested, &window, &CTesmarkDlg::CloseOnStopSignal);
    stopSignal.Deliver();
    window.exec();
    return 0;
}

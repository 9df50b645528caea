// Tesmark, the setup tool of the alarm controllers.
#include "common/settings_store.h"
#include "common/stop_signal.h"
#include "tool/ui/tesmark_dlg.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QStyleFactory>

#include <cstdio>

namespace {

// The base name of the program's desktop entry: on Wayland the window finds
// its icon through it.
constexpr char16_t kDesktopEntry[] = u"ru.ostrel.Tesmark";

void DescribeCommandLine(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Ostrel setup tool: reads, shows live and writes back the settings, keys and SMS texts\n"
        "of an alarm controller, a Modbus RTU slave on a serial port.\n"
        "Settings: ~/.config/Ostrel/Tesmark.conf (port names COMn map to devices in [Ports]).\n"
        "Closes the port and stops the normal way on SIGTERM or SIGINT."));
    // -platform, -style and Qt's other window-system options stay whole words.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
}

// --help and --version are answered before the window system is reached, so
// that they work without a display. --help-all, which lists the window
// system's options too, is left to the application.
void AnswerHelpAndVersion(int& argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser parser;
    DescribeCommandLine(parser);
    parser.parse(arguments); // Qt's window-system options are unknown here
    const bool version = parser.isSet(QStringLiteral("version"));
    if (!version && !parser.isSet(QStringLiteral("help")))
        return;
    QCoreApplication core(argc, argv);
    if (version)
        parser.showVersion();
    parser.showHelp();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setApplicationName(QString::fromUtf16(Settings::kToolProgram));
    QCoreApplication::setApplicationVersion(QStringLiteral(OSTREL_VERSION));
    AnswerHelpAndVersion(argc, argv);

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QString::fromUtf16(Settings::kOrganisation));
    QApplication::setApplicationName(QString::fromUtf16(Settings::kToolProgram));
    QGuiApplication::setDesktopFileName(QString::fromUtf16(kDesktopEntry));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tool/app_icon.svg")));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    {
        QCommandLineParser parser;
        DescribeCommandLine(parser);
        parser.process(app);
        if (!parser.positionalArguments().isEmpty()) {
            std::fprintf(stderr, "%s: Unexpected argument '%s'.\n", qPrintable(QCoreApplication::applicationName()),
                         qPrintable(parser.positionalArguments().constFirst()));
            return 1;
        }
    }

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

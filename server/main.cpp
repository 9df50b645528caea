// Varkon, the monitoring server.
#include "common/clock.h"
#include "common/settings_store.h"
#include "common/stop_signal.h"
#include "server/ui/varkon_app.h"
#include "server/ui/varkon_dlg.h"

#include <QCommandLineParser>

#include <csignal>
#include <cstdio>
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

void DescribeCommandLine(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Ostrel monitoring server: receives the reports of alarm controllers over TCP (GPRS)\n"
        "and by SMS through a GSM modem, and shows points, alarms and events in its window.\n"
        "Settings: ~/.config/Ostrel/Varkon.conf. Stops the normal way on SIGTERM or SIGINT."));
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
    QCoreApplication::setApplicationName(QString::fromUtf16(Settings::kServerProgram));
    QCoreApplication::setApplicationVersion(QStringLiteral(OSTREL_VERSION));
    AnswerHelpAndVersion(argc, argv);

    RaiseOpenFileLimit();
    ::signal(SIGPIPE, SIG_IGN);
    CVarkonApp app(argc, argv);
    QGuiApplication::setDesktopFileName(QString::fromUtf16(kDesktopEntry));
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

#include "common/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

CCommandLine::CCommandLine(QString description) : description_(std::move(description)) {}

void CCommandLine::Describe(QCommandLineParser& parser) const
{
    parser.setApplicationDescription(description_);
    // -platform, -style and Qt's other window-system options stay whole words.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
}

void CCommandLine::AnswerHelpAndVersion(int& argc, char** argv) const
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser parser;
    Describe(parser);
    parser.parse(arguments); // Qt's window-system options are unknown here
    const bool version = parser.isSet(QStringLiteral("version"));
    if (!version && !parser.isSet(QStringLiteral("help")))
        return;
    QCoreApplication core(argc, argv);
    if (version)
        parser.showVersion();
    parser.showHelp();
}

bool CCommandLine::Accept(QCoreApplication& app) const
{
    QCommandLineParser parser;
    Describe(parser);
    parser.process(app); // an unknown option ends the process with its message
    if (parser.positionalArguments().isEmpty())
        return true;
    std::fprintf(stderr, "%s: Unexpected argument '%s'.\n", qPrintable(QCoreApplication::applicationName()),
                 qPrintable(parser.positionalArguments().constFirst()));
    return false;
}

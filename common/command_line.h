#pragma once

#include <QString>

class QCommandLineParser;
class QCoreApplication;

// The command line of both programs: --help and --version, besides Qt's own
// window-system options; nothing configures the programs there.
class CCommandLine
{
public:
    explicit CCommandLine(QString description);

    // Answers --help and --version and ends the process, before the window
    // system is reached, so that they work without a display. --help-all,
    // which lists the window system's options too, is left to the
    // application. Returns when neither was asked for.
    void AnswerHelpAndVersion(int& argc, char** argv) const;
    // Once the application exists: false (and a message on standard error)
    // for an option or argument the program does not take.
    bool Accept(QCoreApplication& app) const;

private:
    void Describe(QCommandLineParser& parser) const;

    QString description_;
};

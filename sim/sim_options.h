#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>

// The command line of an emulator program: its options with their help, and
// the readings of option values that the emulators share. Numbers are
// decimal, or hexadecimal after 0x, with an optional minus sign; never
// octal: a leading zero is just a zero.
class CSimOptions
{
public:
    enum class Status { Run, Help, Error };

    // The description opens the help text, after the usage line.
    explicit CSimOptions(const QString& description);

    void Add(const QList<QCommandLineOption>& options);

    // Reads the arguments (arguments[0] is the program). Help: Message() is
    // the help text. Error: Message() says what was wrong (an unknown option,
    // a missing value, a stray argument). "--help-all" prints the help with
    // Qt's own options and ends the program with status 0, as
    // QCommandLineParser does.
    Status Parse(const QStringList& arguments);
    const QString& Message() const { return message_; }

    bool IsSet(const QCommandLineOption& option) const;
    QString Value(const QCommandLineOption& option) const;
    // Every value of an option given more than once, in order.
    QStringList Values(const QCommandLineOption& option) const;

    // The option's value as a number within [low, high].
    bool Number(const QCommandLineOption& option, std::int64_t low, std::int64_t high, std::int64_t* value) const;
    // The option's value as a key identifier: exactly 16 hexadecimal digits,
    // bytes k0 .. k7 in order.
    bool Key(const QCommandLineOption& option, std::array<std::uint8_t, 8>* key) const;

    static bool ParseNumber(const QString& text, std::int64_t low, std::int64_t high, std::int64_t* value);
    static bool ParseKey(const QString& text, std::array<std::uint8_t, 8>* key);

    // The end of a run that did not get past its options: Help prints the
    // help text on standard output and gives status 0; Error is Fail(Message()).
    int Finish(Status status) const;
    // Prints "<program>: <message>" on standard error; the status of bad
    // options and of failures to start, 2.
    static int Fail(const QString& message);

private:
    QCommandLineParser parser_;
    QString message_;
};

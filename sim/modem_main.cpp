// ostrel-modem: a GSM modem answering text-mode AT commands, on a
// pseudo-terminal it creates or on a serial device, until SIGINT or SIGTERM.
// Messages arrive from a file at start and from lines on standard input.
#include "sim/modem_emulator.h"
#include "sim/modem_emulator_link.h"
#include "sim/sim_options.h"

#include <QCoreApplication>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

QString Text(const char* latin1) { return QString::fromLatin1(latin1); }

// A longer line of standard input is cut.
constexpr std::size_t kMaxInputLine = 4096;

struct T_MODEMOPTIONS
{
    std::string device;
    std::string link;
    std::string messages;
    std::string sender;
    std::string sent;
    std::size_t capacity = CModemEmulator::kDefaultCapacity;
    bool verbose = false;
    T_MODEMFAULTS faults;
};

// \r, \n, \\ and \xHH of a text typed on one line.
std::string Unescape(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'r')
            out += '\r';
        else if (c == 'n')
            out += '\n';
        else if (c == 'x' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1]))
                 && std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else
            out += c;
    }
    return out;
}

std::mutex outputMutex;

void Print(const std::string& line)
{
    std::lock_guard lock(outputMutex);
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

void Complain(const std::string& line)
{
    std::lock_guard lock(outputMutex);
    std::fprintf(stderr, "ostrel-modem: %s\n", line.c_str());
}

// One line of standard input or of the --messages file.
void Obey(CModemEmulator& modem, const std::string& sender, std::string line)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.empty())
        return;
    if (line[0] != ':') {
        if (modem.Receive(line, sender) == 0)
            Complain("the store is full");
        return;
    }
    const std::size_t space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (word == ":sms") {
        const std::size_t gap = rest.find(' ');
        if (gap == 0 || gap == std::string::npos) {
            Complain(":sms takes a sender and a text");
            return;
        }
        if (modem.Receive(Unescape(rest.substr(gap + 1)), rest.substr(0, gap)) == 0)
            Complain("the store is full");
        return;
    }
    if (word == ":clear") {
        modem.Clear();
        return;
    }
    if (word != ":fault") {
        Complain("unknown command " + word);
        return;
    }
    const std::size_t gap = rest.find(' ');
    const std::string fault = rest.substr(0, gap);
    const std::string argument = gap == std::string::npos ? std::string() : rest.substr(gap + 1);
    T_MODEMFAULTS faults = modem.Faults();
    const bool on = argument == "on";
    if (!on && argument != "off" && (fault == "silent" || fault == "no-ok" || fault == "cmti" || fault == "zero-bytes")) {
        Complain(":fault " + fault + " takes on or off");
        return;
    }
    if (fault == "silent")
        faults.silent = on;
    else if (fault == "no-ok")
        faults.listingWithoutOk = on;
    else if (fault == "cmti")
        faults.unsolicited = on;
    else if (fault == "zero-bytes")
        faults.zeroBytes = on;
    else if (fault == "error") {
        if (argument == "off")
            faults.errorCommands.clear();
        else if (!argument.empty())
            faults.errorCommands.push_back(argument);
    } else if (fault == "hang-up-on")
        faults.hangUpOn = argument == "off" ? std::string() : argument;
    else if (fault == "arrive-after-list")
        faults.arriveAfterList.push_back(Unescape(argument));
    else {
        Complain("unknown fault " + fault);
        return;
    }
    modem.SetFaults(std::move(faults));
}

// Reads lines from fd until its end or until stopFd becomes readable.
void ReadLines(int fd, int stopFd, const std::function<void(std::string)>& obey)
{
    std::string line;
    char chunk[512];
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            if (chunk[i] == '\n') {
                obey(std::move(line));
                line.clear();
            } else if (line.size() < kMaxInputLine) {
                line += chunk[i];
            }
        }
    }
    if (!line.empty())
        obey(std::move(line));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(Text("ostrel-modem"));

    CSimOptions options(Text(
        "GSM modem emulator: answers AT, ATE0/ATE1, AT+CNMI, AT+CMGF, AT+CMGL, AT+CMGD,\n"
        "AT+CMGDA and AT+CMGS (with its \"> \" prompt) in text mode, echo on until ATE0.\n"
        "Without --device it creates a pseudo-terminal and prints its path on the first\n"
        "line of standard output; map it as a COM port in the server's settings.\n"
        "Runs until SIGINT or SIGTERM.\n"
        "\n"
        "Standard input, one line each:\n"
        "  TEXT                       a message from the default sender, for instance a\n"
        "                             line printed by ostrel-gprs --sms\n"
        "  :sms SENDER TEXT           a message from SENDER; TEXT may hold \\r \\n \\\\ \\xHH\n"
        "  :fault NAME on|off         NAME: silent, no-ok, cmti, zero-bytes\n"
        "  :fault error CMD|off       :fault hang-up-on CMD|off\n"
        "  :fault arrive-after-list TEXT\n"
        "  :clear                     empty the store\n"
        "Standard output, after the path: \"stored INDEX SENDER TEXT\", \"deleted INDEX\",\n"
        "\"sent NUMBER TEXT\", \"full\", and with --verbose \"command LINE\"."));
    const QCommandLineOption device(Text("device"), Text("Serve on this serial device instead of a new pseudo-terminal."), Text("path"));
    const QCommandLineOption link(Text("link"), Text("Also make a symbolic link to the pseudo-terminal at this path."), Text("path"));
    const QCommandLineOption messages(Text("messages"), Text("Store the messages of this file at start, one line each, written as on standard input."), Text("file"));
    const QCommandLineOption sender(Text("sender"), Text("Sender of messages given without one (default +79000000000)."), Text("number"), Text(CModemEmulator::kDefaultSender));
    const QCommandLineOption sent(Text("sent"), Text("Append every message the modem sends to this file: the number, a space and the text."), Text("file"));
    const QCommandLineOption capacity(Text("capacity"), Text("Messages the store holds, 1..1000 (default 50)."), Text("n"), QString::number(CModemEmulator::kDefaultCapacity));
    const QCommandLineOption verbose(Text("verbose"), Text("Print every command received."));
    const QCommandLineOption silent(Text("silent"), Text("Fault: answer nothing."));
    const QCommandLineOption errorTo(Text("error"), Text("Fault: answer ERROR to commands that start with this (repeatable)."), Text("command"));
    const QCommandLineOption noOk(Text("no-ok"), Text("Fault: end every listing without its final OK."));
    const QCommandLineOption cmti(Text("cmti"), Text("Fault: send \"+CMTI\" for every message that arrives."));
    const QCommandLineOption zeroBytes(Text("zero-bytes"), Text("Fault: put a zero byte after every line feed of a listing."));
    const QCommandLineOption arrive(Text("arrive-after-list"), Text("Fault: a message with this text arrives right after the next listing (repeatable: one per listing)."), Text("text"));
    const QCommandLineOption hangUp(Text("hang-up-on"), Text("Fault: close the line when a command that starts with this arrives."), Text("command"));
    options.Add({device, link, messages, sender, sent, capacity, verbose, silent, errorTo, noOk, cmti, zeroBytes, arrive,
                 hangUp});
    if (const auto status = options.Parse(QCoreApplication::arguments()); status != CSimOptions::Status::Run)
        return options.Finish(status);

    T_MODEMOPTIONS settings;
    std::int64_t n = 0;
    if (!options.Number(capacity, 1, 1000, &n))
        return CSimOptions::Fail(Text("--capacity takes 1..1000"));
    settings.capacity = static_cast<std::size_t>(n);
    settings.device = options.Value(device).toStdString();
    settings.link = options.Value(link).toStdString();
    settings.messages = options.Value(messages).toStdString();
    settings.sender = options.Value(sender).toStdString();
    if (settings.sender.empty())
        return CSimOptions::Fail(Text("--sender needs a number"));
    settings.sent = options.Value(sent).toStdString();
    settings.verbose = options.IsSet(verbose);
    settings.faults.silent = options.IsSet(silent);
    settings.faults.listingWithoutOk = options.IsSet(noOk);
    settings.faults.unsolicited = options.IsSet(cmti);
    settings.faults.zeroBytes = options.IsSet(zeroBytes);
    for (const QString& command : options.Values(errorTo)) {
        if (command.isEmpty())
            return CSimOptions::Fail(Text("--error needs a command"));
        settings.faults.errorCommands.push_back(command.toStdString());
    }
    for (const QString& text : options.Values(arrive))
        settings.faults.arriveAfterList.push_back(text.toStdString());
    settings.faults.hangUpOn = options.Value(hangUp).toStdString();

    CModemEmulator modem(settings.capacity);
    modem.SetFaults(settings.faults);
    std::FILE* sentLog = nullptr;
    if (!settings.sent.empty()) {
        sentLog = std::fopen(settings.sent.c_str(), "a");
        if (sentLog == nullptr) {
            Complain("cannot write " + settings.sent + ": " + std::strerror(errno));
            return 1;
        }
        modem.SetSentHook([sentLog](const T_SENTSMS& sms) {
            std::fprintf(sentLog, "%s %s\n", sms.number.c_str(), sms.text.c_str());
            std::fflush(sentLog);
        });
    }
    const bool everyCommand = settings.verbose;
    modem.SetEventHook([everyCommand](const std::string& event) {
        if (everyCommand || event.rfind("command ", 0) != 0)
            Print(event);
    });

    std::FILE* inbox = nullptr;
    if (!settings.messages.empty()) {
        inbox = std::fopen(settings.messages.c_str(), "r");
        if (inbox == nullptr) {
            Complain("cannot read " + settings.messages + ": " + std::strerror(errno));
            return 1;
        }
    }

    // The serving threads inherit the blocked signals; this thread waits for them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    CModemEmulatorLink line(modem);
    if (!settings.device.empty()) {
        if (!line.StartOnDevice(settings.device)) {
            Complain("cannot serve on " + settings.device + ": " + std::strerror(line.LastError()));
            return 1;
        }
    } else if (!line.StartOnPty()) {
        Complain(std::string("cannot create a pseudo-terminal: ") + std::strerror(line.LastError()));
        return 1;
    }
    if (!settings.link.empty()) {
        ::unlink(settings.link.c_str());
        if (::symlink(line.Path().c_str(), settings.link.c_str()) != 0) {
            Complain("cannot make the link " + settings.link + ": " + std::strerror(errno));
            return 1;
        }
    }
    Print(line.Path()); // the first line of the output

    const auto obey = [&modem, &settings](std::string line) { Obey(modem, settings.sender, std::move(line)); };
    if (inbox != nullptr) {
        const int stopNever = ::eventfd(0, EFD_CLOEXEC);
        ReadLines(::fileno(inbox), stopNever, obey);
        ::close(stopNever);
        std::fclose(inbox);
    }

    const int stopInput = ::eventfd(0, EFD_CLOEXEC);
    std::thread input([&] { ReadLines(STDIN_FILENO, stopInput, obey); });

    int received = 0;
    sigwait(&stopSignals, &received);
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(stopInput, &one, sizeof one);
    input.join();
    ::close(stopInput);
    line.Stop();
    if (!settings.link.empty())
        ::unlink(settings.link.c_str());
    if (sentLog)
        std::fclose(sentLog);
    return 0;
}

// ostrel-modem: a GSM modem answering text-mode AT commands, on a
// pseudo-terminal it creates or on a serial device, until SIGINT or SIGTERM.
// Messages arrive from a file at start and from lines on standard input.
#include "sim/modem_emulator.h"
#include "sim/modem_emulator_link.h"

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

constexpr char kUsage[] =
    "Usage: ostrel-modem [options]\n"
    "GSM modem emulator: answers AT, ATE0/ATE1, AT+CNMI, AT+CMGF, AT+CMGL, AT+CMGD,\n"
    "AT+CMGDA and AT+CMGS (with its \"> \" prompt) in text mode, echo on until ATE0.\n"
    "Without --device it creates a pseudo-terminal and prints its path on the first\n"
    "line of standard output; map it as a COM port in the server's settings.\n"
    "Runs until SIGINT or SIGTERM.\n"
    "\n"
    "Options:\n"
    "  --device PATH            serve on this serial device instead of a new pseudo-terminal\n"
    "  --link PATH              also make a symbolic link to the pseudo-terminal at this path\n"
    "  --messages FILE          store the messages of this file at start, one line each,\n"
    "                           written as on standard input\n"
    "  --sender NUMBER          sender of messages given without one (default +79000000000)\n"
    "  --sent FILE              append every message the modem sends to this file:\n"
    "                           the number, a space and the text\n"
    "  --capacity N             messages the store holds, 1..1000 (default 50)\n"
    "  --verbose                print every command received\n"
    "  --help                   print this text\n"
    "Faults:\n"
    "  --silent                 answer nothing\n"
    "  --error CMD              answer ERROR to commands that start with CMD (repeatable)\n"
    "  --no-ok                  end every listing without its final OK\n"
    "  --cmti                   send \"+CMTI\" for every message that arrives\n"
    "  --zero-bytes             put a zero byte after every line feed of a listing\n"
    "  --arrive-after-list TEXT a message with TEXT arrives right after the next\n"
    "                           listing (repeatable: one per listing)\n"
    "  --hang-up-on CMD         close the line when a command that starts with CMD arrives\n"
    "\n"
    "Standard input, one line each:\n"
    "  TEXT                     a message from the default sender, for instance a line\n"
    "                           printed by ostrel-gprs --sms\n"
    "  :sms SENDER TEXT         a message from SENDER; TEXT may hold \\r \\n \\\\ \\xHH\n"
    "  :fault NAME on|off       NAME: silent, no-ok, cmti, zero-bytes\n"
    "  :fault error CMD|off     :fault hang-up-on CMD|off\n"
    "  :fault arrive-after-list TEXT\n"
    "  :clear                   empty the store\n"
    "Standard output, after the path: \"stored INDEX SENDER TEXT\", \"deleted INDEX\",\n"
    "\"sent NUMBER TEXT\", \"full\", and with --verbose \"command LINE\".\n";

// A longer line of standard input is cut.
constexpr std::size_t kMaxInputLine = 4096;

struct T_MODEMOPTIONS
{
    std::string device;
    std::string link;
    std::string messages;
    std::string sender = CModemEmulator::kDefaultSender;
    std::string sent;
    std::size_t capacity = CModemEmulator::kDefaultCapacity;
    bool verbose = false;
    bool help = false;
    T_MODEMFAULTS faults;
};

// Parses the command line; an empty result means success.
std::string ParseModemOptions(int argc, char** argv, T_MODEMOPTIONS* options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        const auto value = [&](std::string* out) {
            if (i + 1 >= argc)
                return false;
            *out = argv[++i];
            return true;
        };
        std::string text;
        if (name == "--help" || name == "-h") {
            options->help = true;
        } else if (name == "--verbose") {
            options->verbose = true;
        } else if (name == "--silent") {
            options->faults.silent = true;
        } else if (name == "--no-ok") {
            options->faults.listingWithoutOk = true;
        } else if (name == "--cmti") {
            options->faults.unsolicited = true;
        } else if (name == "--zero-bytes") {
            options->faults.zeroBytes = true;
        } else if (name == "--device") {
            if (!value(&options->device))
                return name + " needs a path";
        } else if (name == "--link") {
            if (!value(&options->link))
                return name + " needs a path";
        } else if (name == "--messages") {
            if (!value(&options->messages))
                return name + " needs a file";
        } else if (name == "--sender") {
            if (!value(&options->sender) || options->sender.empty())
                return name + " needs a number";
        } else if (name == "--sent") {
            if (!value(&options->sent))
                return name + " needs a file";
        } else if (name == "--capacity") {
            char* end = nullptr;
            if (!value(&text))
                return name + " needs a number";
            const unsigned long n = std::strtoul(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || n < 1 || n > 1000)
                return name + " takes 1..1000";
            options->capacity = n;
        } else if (name == "--error") {
            if (!value(&text) || text.empty())
                return name + " needs a command";
            options->faults.errorCommands.push_back(text);
        } else if (name == "--arrive-after-list") {
            if (!value(&text))
                return name + " needs a text";
            options->faults.arriveAfterList.push_back(text);
        } else if (name == "--hang-up-on") {
            if (!value(&options->faults.hangUpOn) || options->faults.hangUpOn.empty())
                return name + " needs a command";
        } else {
            return "unknown option " + name + " (see --help)";
        }
    }
    return {};
}

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
    T_MODEMOPTIONS options;
    const std::string error = ParseModemOptions(argc, argv, &options);
    if (!error.empty()) {
        Complain(error);
        return 2;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    CModemEmulator modem(options.capacity);
    modem.SetFaults(options.faults);
    std::FILE* sentLog = nullptr;
    if (!options.sent.empty()) {
        sentLog = std::fopen(options.sent.c_str(), "a");
        if (sentLog == nullptr) {
            Complain("cannot write " + options.sent + ": " + std::strerror(errno));
            return 1;
        }
        modem.SetSentHook([sentLog](const T_SENTSMS& sms) {
            std::fprintf(sentLog, "%s %s\n", sms.number.c_str(), sms.text.c_str());
            std::fflush(sentLog);
        });
    }
    const bool verbose = options.verbose;
    modem.SetEventHook([verbose](const std::string& event) {
        if (verbose || event.rfind("command ", 0) != 0)
            Print(event);
    });

    std::FILE* inbox = nullptr;
    if (!options.messages.empty()) {
        inbox = std::fopen(options.messages.c_str(), "r");
        if (inbox == nullptr) {
            Complain("cannot read " + options.messages + ": " + std::strerror(errno));
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
    if (!options.device.empty()) {
        if (!line.StartOnDevice(options.device)) {
            Complain("cannot serve on " + options.device + ": " + std::strerror(line.LastError()));
            return 1;
        }
    } else if (!line.StartOnPty()) {
        Complain(std::string("cannot create a pseudo-terminal: ") + std::strerror(line.LastError()));
        return 1;
    }
    if (!options.link.empty()) {
        ::unlink(options.link.c_str());
        if (::symlink(line.Path().c_str(), options.link.c_str()) != 0) {
            Complain("cannot make the link " + options.link + ": " + std::strerror(errno));
            return 1;
        }
    }
    Print(line.Path()); // the first line of the output

    const auto obey = [&modem, &options](std::string line) { Obey(modem, options.sender, std::move(line)); };
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
    if (!options.link.empty())
        ::unlink(options.link.c_str());
    if (sentLog)
        std::fclose(sentLog);
    return 0;
}

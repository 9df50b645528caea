#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// Faults the emulated modem can be told to commit, for tests.
struct T_MODEMFAULTS
{
    bool silent = false;                     // answer nothing at all
    std::vector<std::string> errorCommands;  // commands answered with ERROR, by their start ("AT+CNMI")
    bool listingWithoutOk = false;           // a listing ends without its final OK
    bool unsolicited = false;                // a "+CMTI" line goes out for every message that arrives
    bool zeroBytes = false;                  // a zero byte follows every line feed of a listing
    std::deque<std::string> arriveAfterList; // one of these arrives right after each listing, until none is left
    std::string hangUpOn;                    // the line is closed when a command with this start arrives
};

// A message in the modem's store.
struct T_STOREDSMS
{
    unsigned index = 0;
    bool read = false;  // listed at least once
    std::string sender;
    std::string stamp;  // "yy/MM/dd,hh:mm:ss+zz"
    std::string text;   // may hold several lines
};

// A message the modem was asked to send.
struct T_SENTSMS
{
    std::string number;
    std::string text;
};

// A GSM modem answering text-mode AT commands: AT, ATE0/ATE1, AT+CNMI,
// AT+CMGF, AT+CMGL, AT+CMGD, AT+CMGDA and AT+CMGS with its "> " prompt,
// over a store of received messages that its owner fills. Echo is on until
// ATE0. Safe to use from several threads.
class CModemEmulator
{
public:
    static constexpr std::size_t kDefaultCapacity = 50;
    static constexpr std::size_t kMaxCommand = 512;  // a longer command line is cut
    static constexpr std::size_t kMaxText = 1024;    // a longer message text is cut
    static constexpr std::size_t kMaxReceived = 65536; // bytes of the line kept for Received()
    static constexpr std::size_t kMaxCommands = 10000; // command lines kept for Commands()
    static constexpr char kDefaultSender[] = "+79000000000";

    struct T_ANSWER
    {
        std::string bytes;    // what goes back on the line
        bool hangUp = false;  // the line is to be closed now
    };

    explicit CModemEmulator(std::size_t capacity = kDefaultCapacity);

    // Bytes received from the line; returns what goes back.
    T_ANSWER Feed(std::string_view bytes);

    // A message arrives; returns its index in the store, 0 when it is full.
    // An empty stamp is the current local time.
    unsigned Receive(std::string_view text, std::string_view sender = kDefaultSender, std::string_view stamp = {});
    void Clear();

    std::vector<T_STOREDSMS> Stored() const;
    std::vector<T_SENTSMS> Sent() const;
    // The command lines received, in order, the latest kMaxCommands of them.
    std::vector<std::string> Commands() const;
    // The bytes received from the line, exactly, the latest kMaxReceived of them.
    std::string Received() const;
    bool EchoOn() const;

    void SetFaults(T_MODEMFAULTS faults);
    T_MODEMFAULTS Faults() const;

    // Output that answers no command (new-message indications), once.
    std::string TakeUnsolicited();

    // Hooks, called with the emulator locked: they must not call it back.
    // Unsolicited output is waiting.
    void SetUnsolicitedHook(std::function<void()> hook);
    // A line for a person watching: "stored 3 +79...", "deleted 3", "command AT".
    void SetEventHook(std::function<void(const std::string&)> hook);
    void SetSentHook(std::function<void(const T_SENTSMS&)> hook);

    // The time stamp of a message arriving now, as a modem prints it.
    static std::string StampNow();

private:
    enum class Mode { Command, Text };

    std::string Execute(const std::string& line, bool* hangUp);
    std::string List(const std::string& status);
    std::string Delete(unsigned index, unsigned flag);
    std::string DeleteAll(const std::string& kind);
    unsigned Store(std::string_view text, std::string_view sender, std::string_view stamp);
    void Event(const std::string& line) const;

    mutable std::mutex mutex_;
    std::size_t capacity_;
    std::vector<T_STOREDSMS> store_;
    std::vector<T_SENTSMS> sent_;
    std::vector<std::string> commands_;
    std::string received_;
    T_MODEMFAULTS faults_;
    Mode mode_ = Mode::Command;
    bool echo_ = true;
    bool textMode_ = false;
    std::string line_;
    std::string number_;
    std::string text_;
    unsigned reference_ = 0;
    std::string unsolicited_;
    std::function<void()> unsolicitedHook_;
    std::function<void(const std::string&)> eventHook_;
    std::function<void(const T_SENTSMS&)> sentHook_;
};

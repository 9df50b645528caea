#include "sim/modem_emulator.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>

namespace {

constexpr char kOk[] = "\r\nOK\r\n";
constexpr char kError[] = "\r\nERROR\r\n";
// +CMS ERROR 321: no message at that index.
constexpr char kInvalidIndex[] = "\r\n+CMS ERROR: 321\r\n";
constexpr char kPrompt[] = "\r\n> ";
constexpr char kCtrlZ = 0x1A;
constexpr char kEscape = 0x1B;

std::string Upper(std::string_view text)
{
    std::string upper(text);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

bool StartsWith(std::string_view text, std::string_view start) { return text.substr(0, start.size()) == start; }

// The text between the first pair of quotes, or the whole text without them.
std::string Unquote(std::string_view text)
{
    const std::size_t open = text.find('"');
    if (open == std::string_view::npos)
        return std::string(text);
    const std::size_t close = text.find('"', open + 1);
    return std::string(text.substr(open + 1, close == std::string_view::npos ? close : close - open - 1));
}

// Up to `count` unsigned decimal numbers separated by commas; false on anything else.
bool ParseNumbers(std::string_view text, std::vector<unsigned>& numbers, std::size_t count)
{
    numbers.clear();
    std::size_t at = 0;
    while (at <= text.size() && numbers.size() < count) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string_view field = text.substr(at, comma - at);
        if (field.empty() || field.size() > 9 || !std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        numbers.push_back(static_cast<unsigned>(std::stoul(std::string(field))));
        at = comma + 1;
        if (comma == text.size())
            return true;
    }
    return false;
}

// Printable form of a text for one line of a report.
std::string Escaped(std::string_view text)
{
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\')
            out += "\\\\";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (byte < 0x20 || byte == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else
            out += c;
    }
    return out;
}

} // namespace

CModemEmulator::CModemEmulator(std::size_t capacity) : capacity_(capacity) {}

CModemEmulator::T_ANSWER CModemEmulator::Feed(std::string_view bytes)
{
    std::lock_guard lock(mutex_);
    received_.append(bytes.substr(bytes.size() - std::min(bytes.size(), kMaxReceived)));
    if (received_.size() > kMaxReceived)
        received_.erase(0, received_.size() - kMaxReceived);
    T_ANSWER answer;
    for (char c : bytes) {
        if (mode_ == Mode::Text) {
            if (echo_ && !faults_.silent)
                answer.bytes += c;
            if (c == kCtrlZ) {
                mode_ = Mode::Command;
                const T_SENTSMS sent{number_, text_};
                sent_.push_back(sent);
                if (sentHook_)
                    sentHook_(sent);
                Event("sent " + number_ + " " + Escaped(text_));
                reference_ = (reference_ + 1) % 256;
                if (!faults_.silent)
                    answer.bytes += "\r\n+CMGS: " + std::to_string(reference_) + "\r\n" + kOk;
            } else if (c == kEscape) {
                mode_ = Mode::Command;
                if (!faults_.silent)
                    answer.bytes += kOk;
            } else if (text_.size() < kMaxText) {
                text_ += c;
            }
            continue;
        }
        // Zero bytes and line feeds between commands are not part of them.
        if (c == '\0' || c == '\n')
            continue;
        if (echo_ && !faults_.silent)
            answer.bytes += c;
        if (c != '\r') {
            if (line_.size() < kMaxCommand)
                line_ += c;
            continue;
        }
        const std::string line = std::move(line_);
        line_.clear();
        answer.bytes += Execute(line, &answer.hangUp);
        if (answer.hangUp)
            break;
    }
    return answer;
}

std::string CModemEmulator::Execute(const std::string& line, bool* hangUp)
{
    // Whatever comes before "AT" is noise.
    const std::string upper = Upper(line);
    const std::size_t start = upper.find("AT");
    if (start == std::string::npos)
        return {};
    const std::string command = upper.substr(start);
    const std::string original = line.substr(start);
    if (commands_.size() == kMaxCommands)
        commands_.erase(commands_.begin(), commands_.begin() + kMaxCommands / 2);
    commands_.push_back(original);
    Event("command " + Escaped(original));

    if (!faults_.hangUpOn.empty() && StartsWith(command, Upper(faults_.hangUpOn))) {
        *hangUp = true;
        return {};
    }
    if (faults_.silent)
        return {};
    for (const std::string& failing : faults_.errorCommands) {
        if (!failing.empty() && StartsWith(command, Upper(failing)))
            return kError;
    }

    std::vector<unsigned> numbers;
    if (command == "AT")
        return kOk;
    if (command == "ATE0" || command == "ATE1" || command == "ATE") {
        echo_ = command == "ATE1" || command == "ATE";
        return kOk;
    }
    if (StartsWith(command, "AT+CNMI="))
        return ParseNumbers(std::string_view(command).substr(8), numbers, 5) ? kOk : kError;
    if (StartsWith(command, "AT+CMGF=")) {
        const std::string value = command.substr(8);
        if (value != "0" && value != "1")
            return kError;
        textMode_ = value == "1";
        return kOk;
    }
    if (StartsWith(command, "AT+CMGL")) {
        if (!textMode_)
            return kError;
        const std::string status = command.size() > 7 ? Unquote(std::string_view(command).substr(7)) : "REC UNREAD";
        if (command.size() > 7 && command[7] != '=')
            return kError;
        return List(status);
    }
    if (StartsWith(command, "AT+CMGDA="))
        return DeleteAll(Unquote(std::string_view(command).substr(9)));
    if (StartsWith(command, "AT+CMGD=")) {
        if (!ParseNumbers(std::string_view(command).substr(8), numbers, 2))
            return kError;
        return Delete(numbers[0], numbers.size() > 1 ? numbers[1] : 0);
    }
    if (StartsWith(command, "AT+CMGS=")) {
        if (!textMode_)
            return kError;
        number_ = Unquote(std::string_view(original).substr(8));
        text_.clear();
        mode_ = Mode::Text;
        return kPrompt;
    }
    return kError;
}

std::string CModemEmulator::List(const std::string& status)
{
    const bool all = status == "ALL";
    if (!all && status != "REC UNREAD" && status != "REC READ" && status != "STO UNSENT" && status != "STO SENT")
        return kError;
    std::vector<T_STOREDSMS*> listed;
    for (T_STOREDSMS& sms : store_) {
        if (all || (status == "REC UNREAD" && !sms.read) || (status == "REC READ" && sms.read))
            listed.push_back(&sms);
    }
    std::sort(listed.begin(), listed.end(), [](auto* a, auto* b) { return a->index < b->index; });
    std::string out = "\r\n";
    for (T_STOREDSMS* sms : listed) {
        out += "+CMGL: " + std::to_string(sms->index) + ",\"" + (sms->read ? "REC READ" : "REC UNREAD") + "\",\""
               + sms->sender + "\",\"\",\"" + sms->stamp + "\"\r\n" + sms->text + "\r\n";
        sms->read = true;
    }
    if (!faults_.listingWithoutOk)
        out += listed.empty() ? "OK\r\n" : kOk;
    if (faults_.zeroBytes) {
        std::string spaced;
        for (char c : out) {
            spaced += c;
            if (c == '\n')
                spaced += '\0';
        }
        out.swap(spaced);
    }
    if (!faults_.arriveAfterList.empty()) {
        const std::string text = std::move(faults_.arriveAfterList.front());
        faults_.arriveAfterList.pop_front();
        Store(text, kDefaultSender, {});
    }
    return out;
}

std::string CModemEmulator::Delete(unsigned index, unsigned flag)
{
    if (flag > 4)
        return kError;
    if (flag == 0) {
        const auto it = std::find_if(store_.begin(), store_.end(), [&](const auto& s) { return s.index == index; });
        if (it == store_.end())
            return kInvalidIndex;
        store_.erase(it);
        Event("deleted " + std::to_string(index));
        return kOk;
    }
    // 1 read ones; 2 and 3 also sent and unsent ones, which this store never holds; 4 all.
    return DeleteAll(flag == 4 ? "DEL ALL" : "DEL READ");
}

std::string CModemEmulator::DeleteAll(const std::string& kind)
{
    bool (*which)(const T_STOREDSMS&) = nullptr;
    if (kind == "DEL ALL" || kind == "DEL INBOX")
        which = [](const T_STOREDSMS&) { return true; };
    else if (kind == "DEL READ")
        which = [](const T_STOREDSMS& s) { return s.read; };
    else if (kind == "DEL UNREAD")
        which = [](const T_STOREDSMS& s) { return !s.read; };
    else if (kind == "DEL SENT" || kind == "DEL UNSENT")
        which = [](const T_STOREDSMS&) { return false; };
    else
        return kError;
    for (auto it = store_.begin(); it != store_.end();) {
        if (which(*it)) {
            Event("deleted " + std::to_string(it->index));
            it = store_.erase(it);
        } else {
            ++it;
        }
    }
    return kOk;
}

unsigned CModemEmulator::Receive(std::string_view text, std::string_view sender, std::string_view stamp)
{
    std::lock_guard lock(mutex_);
    return Store(text, sender, stamp);
}

unsigned CModemEmulator::Store(std::string_view text, std::string_view sender, std::string_view stamp)
{
    // The lowest free index, from 1.
    unsigned index = 1;
    for (; index <= capacity_; ++index) {
        if (std::none_of(store_.begin(), store_.end(), [&](const auto& s) { return s.index == index; }))
            break;
    }
    if (index > capacity_) {
        Event("full");
        return 0;
    }
    T_STOREDSMS sms;
    sms.index = index;
    sms.sender = std::string(sender);
    sms.stamp = stamp.empty() ? StampNow() : std::string(stamp);
    sms.text = std::string(text.substr(0, kMaxText));
    Event("stored " + std::to_string(index) + " " + sms.sender + " " + Escaped(sms.text));
    store_.push_back(std::move(sms));
    if (faults_.unsolicited) {
        unsolicited_ += "\r\n+CMTI: \"SM\"," + std::to_string(index) + "\r\n";
        if (unsolicitedHook_)
            unsolicitedHook_();
    }
    return index;
}

void CModemEmulator::Clear()
{
    std::lock_guard lock(mutex_);
    store_.clear();
}

std::vector<T_STOREDSMS> CModemEmulator::Stored() const
{
    std::lock_guard lock(mutex_);
    std::vector<T_STOREDSMS> stored = store_;
    std::sort(stored.begin(), stored.end(), [](const auto& a, const auto& b) { return a.index < b.index; });
    return stored;
}

std::vector<T_SENTSMS> CModemEmulator::Sent() const
{
    std::lock_guard lock(mutex_);
    return sent_;
}

std::vector<std::string> CModemEmulator::Commands() const
{
    std::lock_guard lock(mutex_);
    return commands_;
}

std::string CModemEmulator::Received() const
{
    std::lock_guard lock(mutex_);
    return received_;
}

bool CModemEmulator::EchoOn() const
{
    std::lock_guard lock(mutex_);
    return echo_;
}

void CModemEmulator::SetFaults(T_MODEMFAULTS faults)
{
    std::lock_guard lock(mutex_);
    faults_ = std::move(faults);
}

T_MODEMFAULTS CModemEmulator::Faults() const
{
    std::lock_guard lock(mutex_);
    return faults_;
}

std::string CModemEmulator::TakeUnsolicited()
{
    std::lock_guard lock(mutex_);
    std::string out;
    out.swap(unsolicited_);
    return out;
}

void CModemEmulator::SetUnsolicitedHook(std::function<void()> hook)
{
    std::lock_guard lock(mutex_);
    unsolicitedHook_ = std::move(hook);
}

void CModemEmulator::SetEventHook(std::function<void(const std::string&)> hook)
{
    std::lock_guard lock(mutex_);
    eventHook_ = std::move(hook);
}

void CModemEmulator::SetSentHook(std::function<void(const T_SENTSMS&)> hook)
{
    std::lock_guard lock(mutex_);
    sentHook_ = std::move(hook);
}

void CModemEmulator::Event(const std::string& line) const
{
    if (eventHook_)
        eventHook_(line);
}

std::string CModemEmulator::StampNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    // The zone in quarters of an hour, with its sign.
    const int quarters = static_cast<int>(local.tm_gmtoff / 900) % 100;
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%02d/%02d/%02d,%02d:%02d:%02d%c%02d", local.tm_year % 100, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, quarters < 0 ? '-' : '+',
                  quarters < 0 ? -quarters : quarters);
    return stamp;
}

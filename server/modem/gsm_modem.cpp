#include "server/modem/gsm_modem.h"

#include "server/modem/serial_exception.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Commands of the probe, the set-up and the poll go out with their
// terminating zero byte.
template <std::size_t N>
constexpr std::string_view WithZero(const char (&command)[N])
{
    return std::string_view(command, N);
}

constexpr char kAt[] = "AT\r";
constexpr char kEchoOff[] = "ATE0\r";
constexpr char kIndications[] = "AT+CNMI=3,1,0,0\r";
constexpr char kTextMode[] = "AT+CMGF=1\r";
constexpr char kList[] = "AT+CMGL=\"ALL\"\r";
constexpr char kDeleteFormat[] = "AT+CMGD=%u\r";
constexpr char kSendFormat[] = "AT+CMGS=\"%s\"\r";

constexpr std::string_view kEntryTag = "+CMGL: ";
constexpr std::string_view kLineEnd = "\r\n";
constexpr char kPrompt[] = "\r\n> ";
constexpr std::size_t kPromptSize = 4;
constexpr char kCtrlZ = 0x1A;
constexpr char kEscape = 0x1B;
// An index on the modem has at most this many digits.
constexpr std::size_t kMaxIndexDigits = 5;

// Answers are zero-terminated and searched as text.
bool HasText(const char* answer, const char* text) { return std::strstr(answer, text) != nullptr; }

// Copies a field of the listing into a record's string, or leaves it empty
// when it does not fit with its zero byte.
template <std::size_t N>
void CopyField(char (&field)[N], std::string_view text)
{
    const std::size_t length = text.size() < N ? text.size() : 0;
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

bool ParseIndex(std::string_view digits, unsigned* index)
{
    if (digits.empty() || digits.size() > kMaxIndexDigits)
        return false;
    unsigned value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    *index = value;
    return true;
}

} // namespace

CGsmModem::CGsmModem(const T_SERIALTIMEOUTS& timeouts) : timeouts_(timeouts) {}

CGsmModem::~CGsmModem()
{
    if (!port_.IsOpen())
        return;
    // The port is closed whatever fails before.
    for (std::uint32_t flag : {CSerialPortTimeout::kPurgeAbortReads, CSerialPortTimeout::kPurgeTxClear,
                               CSerialPortTimeout::kPurgeRxClear}) {
        try {
            port_.Purge(flag);
        } catch (const CSerialException&) {
        }
    }
    try {
        port_.Flush();
    } catch (const CSerialException&) {
    }
    port_.Close();
}

bool CGsmModem::Probe()
{
    for (int number = 0; number < kPortCount; ++number) {
        const QString name = QStringLiteral("COM%1").arg(number);
        if (!CSerialPortTimeout::CanOpen(name))
            continue;
        port_.Open(name);
        port_.GetTimeouts(); // read, then replaced
        port_.SetTimeouts(timeouts_);
        port_.Purge(CSerialPortTimeout::kPurgeRxClear);
        port_.Purge(CSerialPortTimeout::kPurgeTxClear);
        port_.GetMask(); // read; not restored later
        port_.SetMask(CSerialPortTimeout::kEventTxEmpty);
        const std::string_view at = WithZero(kAt);
        const std::size_t written = port_.Write(at.data(), at.size());
        port_.WaitEvent();
        if (written == at.size()) {
            char answer[kShortAnswer + 1];
            const std::size_t got = port_.Read(answer, kShortAnswer);
            answer[got] = '\0';
            if (got > 0 && HasText(answer, "\r\nOK\r\n") && InitModem()) {
                port_.Purge(CSerialPortTimeout::kPurgeAbortReads);
                port_.Purge(CSerialPortTimeout::kPurgeTxClear);
                port_.Purge(CSerialPortTimeout::kPurgeRxClear);
                portName_ = name;
                return true;
            }
        }
        port_.Purge(CSerialPortTimeout::kPurgeAbortReads);
        port_.Purge(CSerialPortTimeout::kPurgeTxClear);
        port_.Purge(CSerialPortTimeout::kPurgeRxClear);
        port_.Flush();
        port_.Close();
    }
    return false;
}

std::size_t CGsmModem::Command(std::string_view command, char* answer, std::size_t capacity)
{
    port_.Purge(CSerialPortTimeout::kPurgeRxClear);
    port_.Write(command.data(), command.size());
    const std::size_t got = port_.Read(answer, capacity);
    answer[got] = '\0';
    return got;
}

bool CGsmModem::InitModem()
{
    char answer[kShortAnswer + 1];
    Command(WithZero(kEchoOff), answer, kShortAnswer); // not examined
    if (Command(WithZero(kIndications), answer, kShortAnswer) == 0 || !HasText(answer, "OK\r\n"))
        return false;
    if (Command(WithZero(kTextMode), answer, kShortAnswer) == 0 || !HasText(answer, "OK\r\n"))
        return false;
    return true;
}

int CGsmModem::ReadAll()
{
    if (!port_.IsOpen())
        return -1;
    const std::size_t got = Command(WithZero(kList), answer_, kLongAnswer);
    // Zero bytes in the answer are left out of the text that is searched.
    std::size_t length = 0;
    for (std::size_t i = 0; i < got; ++i) {
        if (answer_[i] != '\0')
            listing_[length++] = answer_[i];
    }
    listing_[length] = '\0';
    const std::string_view listing(listing_, length);

    // A listing that filled the buffer was cut before its final "OK": its
    // whole entries are delivered, the others wait for the next poll.
    const bool cut = got == kLongAnswer && listing.find(kEntryTag) != std::string_view::npos;
    if (listing.find("OK\r\n") == std::string_view::npos && !cut)
        return -1;
    if (listing.find(kEntryTag) == std::string_view::npos)
        return 1;

    listed_.clear();
    indices_.clear();
    ParseListing(listing, listed_, indices_);
    if (listed_.empty())
        return 1;
    // Only what was listed is deleted, by index: a message stored since the
    // listing stays for the next poll. A record is kept once its delete
    // command went out; if the port fails on the way, the messages not yet
    // deleted are listed again next time.
    for (std::size_t i = 0; i < listed_.size(); ++i) {
        char command[32];
        const int size = std::snprintf(command, sizeof command, kDeleteFormat, indices_[i]);
        port_.Purge(CSerialPortTimeout::kPurgeRxClear);
        port_.Write(command, static_cast<std::size_t>(size) + 1);
        messages.push_back(listed_[i]);
        port_.Read(answer_, kLongAnswer); // not examined
    }
    return 0;
}

void CGsmModem::ParseListing(std::string_view listing, std::vector<T_SMS>& records, std::vector<unsigned>& indices)
{
    constexpr auto npos = std::string_view::npos;
    std::size_t entry = listing.find(kEntryTag);
    while (entry != npos) {
        // Where the search for the next entry starts when this one is skipped.
        std::size_t next = entry + kEntryTag.size();
        // The header line: tag and index, status, address, alpha, stamp. It
        // ends before the next entry begins.
        std::size_t headerEnd = listing.find(kLineEnd, entry);
        if (headerEnd != npos && listing.find(kEntryTag, next) < headerEnd)
            headerEnd = npos;
        const auto within = [&](std::size_t at) { return at != npos && at < headerEnd; };
        const std::size_t afterIndex = headerEnd == npos ? npos : listing.find(',', entry);
        const std::size_t afterStatus = within(afterIndex) ? listing.find(',', afterIndex + 1) : npos;
        const std::size_t address = within(afterStatus) ? afterStatus + 2 : npos; // past the comma and the quote
        const std::size_t afterAddress = address != npos && address <= headerEnd ? listing.find(',', address) : npos;
        const std::size_t afterAlpha = within(afterAddress) && afterAddress > address
                                           ? listing.find(',', afterAddress + 1)
                                           : npos;
        const std::size_t stamp = within(afterAlpha) ? afterAlpha + 2 : npos;
        const std::size_t body = stamp != npos && stamp < headerEnd ? headerEnd + kLineEnd.size() : npos;
        const std::size_t bodyEnd = body != npos ? listing.find('\n', body) : npos;
        unsigned index = 0;
        if (bodyEnd != npos && ParseIndex(listing.substr(entry + kEntryTag.size(), afterIndex - entry - kEntryTag.size()), &index)) {
            T_SMS record;
            // The closing quotes are left out; the body keeps the CR before its LF.
            CopyField(record.sender, listing.substr(address, afterAddress - address - 1));
            CopyField(record.stamp, listing.substr(stamp, headerEnd - stamp - 1));
            CopyField(record.text, listing.substr(body, bodyEnd - body));
            records.push_back(record);
            indices.push_back(index);
            next = bodyEnd;
        }
        entry = listing.find(kEntryTag, next);
    }
}

bool CGsmModem::SendSms(const QString& phone, std::span<const std::uint8_t, kPayloadSize> payload)
{
    if (!port_.IsOpen())
        return false;
    // The register keeps ten digits; anything else would end up inside the command.
    const QByteArray digits = phone.toLatin1();
    if (digits.isEmpty() || static_cast<std::size_t>(digits.size()) > kMaxPhoneLength || digits[0] < '1'
        || digits[0] > '9')
        return false;
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;

    char command[kLongAnswer + 1];
    const int size = std::snprintf(command, sizeof command, kSendFormat, ("+7" + digits).constData());
    // Indications of new messages may wait in the receive buffer; they would hide the prompt.
    port_.Purge(CSerialPortTimeout::kPurgeRxClear);
    port_.Write(command, static_cast<std::size_t>(size));
    const std::size_t got = port_.Read(answer_, kLongAnswer);
    answer_[got] = '\0';
    if (got < kPromptSize || std::memcmp(answer_, kPrompt, kPromptSize) != 0) {
        // Should the modem wait for a text all the same, the escape ends that
        // wait, so that the next command is not taken for a message.
        const char escape = kEscape;
        port_.Write(&escape, 1);
        return false;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    char text[2 * kPayloadSize + 1];
    for (std::size_t i = 0; i < kPayloadSize; ++i) {
        text[2 * i] = kHex[payload[i] >> 4];
        text[2 * i + 1] = kHex[payload[i] & 0x0F];
    }
    text[2 * kPayloadSize] = kCtrlZ;
    port_.Write(text, sizeof text);
    port_.Read(answer_, kLongAnswer); // the modem's verdict is not waited for further
    return true;
}

#pragma once

#include "server/modem/serial_port_timeout.h"
#include "server/modem/sms_record.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

// The GSM modem on one of the ports COM0 .. COM9, driven with text-mode AT
// commands: found and set up by Probe, its received messages listed and
// deleted by ReadAll, the address SMS sent by SendSms. Every exchange is
// synchronous; a failing port operation throws CSerialException.
class CGsmModem
{
public:
    // Read interval 590 ms, read total 3 ms per requested byte plus 10 ms,
    // no write time-out.
    static constexpr T_SERIALTIMEOUTS kTimeouts{590, 3, 10, 0, 0};
    static constexpr int kPortCount = 10;               // COM0 .. COM9
    static constexpr std::size_t kShortAnswer = 99;     // probe and set-up answers
    static constexpr std::size_t kLongAnswer = 4095;    // listings and the answers of SendSms
    static constexpr std::size_t kMaxPhoneLength = 29;  // "+7", the number and a zero byte in 32 bytes
    static constexpr std::size_t kPayloadSize = 6;      // the address SMS: IPv4 address and port

    // The time-outs are the ones above; tests that are not about them pass shorter ones.
    explicit CGsmModem(const T_SERIALTIMEOUTS& timeouts = kTimeouts);
    // Closes the port, even when discarding or flushing fails.
    ~CGsmModem();
    CGsmModem(const CGsmModem&) = delete;
    CGsmModem& operator=(const CGsmModem&) = delete;

    // Looks for a modem on COM0 .. COM9 in turn; true when one answered and
    // was set up, its port then stays open.
    bool Probe();
    // Echo off, new-message indications, text mode; used by Probe.
    bool InitModem();
    // Lists the stored messages and appends them to `messages`:
    //  -1 the port is closed or the modem's answer lacks "OK";
    //   1 no message was listed (nothing appended, nothing deleted);
    //   0 records were appended, and each of their messages deleted on the
    //     modem by its index (messages stored meanwhile stay there).
    // A listing cut at the end of the buffer delivers its whole entries; the
    // rest stay on the modem for the next call.
    int ReadAll();
    // Sends the payload as 12 hexadecimal digits to "+7" and `phone` (the
    // ten national digits). False, with nothing sent, when the port is
    // closed, the number is not digits starting with 1..9 or is longer than
    // 29, or the modem gives no "> " prompt.
    bool SendSms(const QString& phone, std::span<const std::uint8_t, kPayloadSize> payload);

    // Appends every entry of a listing (zero bytes already left out) that has
    // all its separators to `records`, its index on the modem to `indices`.
    // An entry that lacks one is skipped and the parse goes on with the next.
    static void ParseListing(std::string_view listing, std::vector<T_SMS>& records, std::vector<unsigned>& indices);

    CSerialPortTimeout& port() { return port_; }
    // The port the modem answered on; empty while none did.
    const QString& portName() const { return portName_; }

    // Received messages in listing order, until the consumer empties it.
    std::vector<T_SMS> messages;

private:
    // Discards what was received, writes the command with its zero byte and
    // reads the answer into `answer` (capacity + 1 bytes), zero-terminated.
    std::size_t Command(std::string_view command, char* answer, std::size_t capacity);

    CSerialPortTimeout port_;
    T_SERIALTIMEOUTS timeouts_;
    QString portName_;
    std::vector<T_SMS> listed_;
    std::vector<unsigned> indices_;
    char answer_[kLongAnswer + 1] = {};
    char listing_[kLongAnswer + 1] = {};
};

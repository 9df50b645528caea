#pragma once

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>

// Sends an SMS through the server's GSM modem without blocking the caller:
// the modem's exchanges run elsewhere and the outcome comes back as
// smsFinished. The point information dialog sends the address SMS through it.
class CSmsSender : public QObject
{
    Q_OBJECT

public:
    enum Result {
        Sent,      // the message body went to the modem
        Refused,   // nothing sent: no modem, a number the modem cannot take, no prompt
        PortError, // the modem's port failed; the operator has been shown the system's text
    };
    Q_ENUM(Result)

    using QObject::QObject;

    // Whether a modem was found at start-up and can take a message.
    virtual bool IsAvailable() const = 0;
    // `phone` holds the ten national digits as the point register keeps them.
    virtual void SendSms(const QString& phone, const std::array<std::uint8_t, 6>& payload) = 0;

signals:
    void smsFinished(CSmsSender::Result result);
};

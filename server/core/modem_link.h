#pragma once

#include "server/core/sms_sender.h"
#include "server/modem/gsm_modem.h"

#include <QString>
#include <QThread>

#include <memory>
#include <vector>

class CModemWorker;

// The server's GSM modem as the user-interface thread sees it: the modem
// works on a thread of its own (CModemWorker) and its results come back here
// as signals, in the order the work was asked for. It also sends the address
// SMS for the point information dialog.
class CModemLink final : public CSmsSender
{
    Q_OBJECT

public:
    explicit CModemLink(QObject* parent = nullptr);
    ~CModemLink() override;

    // The time-outs of the modem's port from the next Probe on. The modem's
    // own are the default; tests that are not about them shorten them.
    void SetTimeouts(const T_SERIALTIMEOUTS& timeouts) { timeouts_ = timeouts; }

    // Starts the modem's thread and looks for the modem on COM0 .. COM9;
    // probeFinished follows, or portError when a port failed on the way.
    void Probe();
    // Lists and deletes the modem's messages, unless a poll is still under
    // way (false then); pollFinished follows, or portError.
    bool Poll();
    bool IsPolling() const { return polling_; }
    // The exchange under way is cut short, the port closed and the thread
    // ended; nothing is reported afterwards. Runs once.
    void Stop();
    bool IsRunning() const { return thread_.isRunning(); }

    // A modem answered the probe (and the link has not been stopped).
    bool IsAvailable() const override { return found_ && !stopped_; }
    void SendSms(const QString& phone, const std::array<std::uint8_t, 6>& payload) override;

    // The port the modem answered on.
    const QString& portName() const { return portName_; }

    // Messages of the polls that returned 0, in listing order, until the
    // consumer empties the list.
    std::vector<T_SMS> messages;

signals:
    void probeFinished(bool found);
    // -1: the modem answered the listing wrongly; 1: nothing was listed;
    // 0: messages were appended to `messages`.
    void pollFinished(int result);
    // A port operation failed; the text is the system's.
    void portError(const QString& text);

private:
    void OnProbeFinished(bool found, const QString& portName, const QString& error);
    void OnReadFinished(int result, const std::vector<T_SMS>& received, const QString& error);
    void OnSendFinished(bool sent, const QString& error);

    T_SERIALTIMEOUTS timeouts_ = CGsmModem::kTimeouts;
    QThread thread_;
    std::unique_ptr<CModemWorker> worker_;
    QString portName_;
    bool found_ = false;
    bool polling_ = false;
    bool stopped_ = false;
};

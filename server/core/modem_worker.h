#pragma once

#include "server/modem/gsm_modem.h"

#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class QThread;

// The GSM modem on a thread of its own: every exchange with it runs there,
// one at a time in the order asked, so that its waits (up to seconds) never
// hold up the user interface. A port failure ends the exchange; its text
// comes back with the result.
class CModemWorker final : public QObject
{
    Q_OBJECT

public:
    // `home` is the thread the worker returns to when it finishes.
    CModemWorker(const T_SERIALTIMEOUTS& timeouts, QThread* home);
    ~CModemWorker() override;

    // From any thread: the exchange under way ends at once and the ones
    // still asked for do nothing.
    void Interrupt();

    // On the worker's thread.
    void Probe();
    void ReadAll();
    void SendSms(const QString& phone, const std::array<std::uint8_t, CGsmModem::kPayloadSize>& payload);
    // Closes the modem's port, gives the worker back to its home thread and
    // ends the worker's thread.
    void Finish();

signals:
    // `error` is the port's failure text, empty when there was none.
    void probeFinished(bool found, const QString& portName, const QString& error);
    // The messages of a poll that returned 0; empty otherwise.
    void readFinished(int result, const std::vector<T_SMS>& messages, const QString& error);
    void sendFinished(bool sent, const QString& error);

private:
    std::unique_ptr<CGsmModem> modem_;
    QThread* home_;
    std::atomic<bool> interrupted_{false};
};

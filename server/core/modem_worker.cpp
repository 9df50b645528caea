#include "server/core/modem_worker.h"

#include "server/modem/serial_exception.h"

#include <QThread>

#include <exception>

namespace {

// Runs one exchange; the text of what it threw, empty when nothing.
template <typename Exchange>
QString Run(Exchange exchange)
{
    try {
        exchange();
    } catch (const CSerialException& failure) {
        return failure.Message();
    } catch (const std::exception& failure) {
        return QString::fromLocal8Bit(failure.what());
    }
    return {};
}

} // namespace

CModemWorker::CModemWorker(const T_SERIALTIMEOUTS& timeouts, QThread* home)
    : modem_(std::make_unique<CGsmModem>(timeouts)), home_(home)
{
}

CModemWorker::~CModemWorker() = default;

void CModemWorker::Interrupt()
{
    interrupted_ = true;
    modem_->port().Interrupt();
}

void CModemWorker::Probe()
{
    if (interrupted_)
        return;
    bool found = false;
    const QString error = Run([&] { found = modem_->Probe(); });
    emit probeFinished(found, modem_->portName(), error);
}

void CModemWorker::ReadAll()
{
    if (interrupted_)
        return;
    int result = -1;
    const QString error = Run([&] { result = modem_->ReadAll(); });
    std::vector<T_SMS> messages;
    // Records of a poll that failed after deleting some messages wait for
    // the next poll that succeeds, and go with it.
    if (error.isEmpty() && result != -1 && !modem_->messages.empty()) {
        messages.swap(modem_->messages);
        result = 0;
    }
    emit readFinished(result, messages, error);
}

void CModemWorker::SendSms(const QString& phone, const std::array<std::uint8_t, CGsmModem::kPayloadSize>& payload)
{
    if (interrupted_)
        return;
    bool sent = false;
    const QString error = Run([&] { sent = modem_->SendSms(phone, payload); });
    emit sendFinished(sent, error);
}

void CModemWorker::Finish()
{
    modem_.reset();
    moveToThread(home_);
    QThread::currentThread()->quit();
}

#include "server/core/modem_link.h"

#include "server/core/modem_worker.h"

#include <QMetaObject>

CModemLink::CModemLink(QObject* parent) : CSmsSender(parent)
{
    thread_.setObjectName(QStringLiteral("modem"));
}

CModemLink::~CModemLink() { Stop(); }

void CModemLink::Probe()
{
    if (worker_ || stopped_)
        return;
    worker_ = std::make_unique<CModemWorker>(timeouts_, thread());
    worker_->moveToThread(&thread_);
    connect(worker_.get(), &CModemWorker::probeFinished, this, &CModemLink::OnProbeFinished);
    connect(worker_.get(), &CModemWorker::readFinished, this, &CModemLink::OnReadFinished);
    connect(worker_.get(), &CModemWorker::sendFinished, this, &CModemLink::OnSendFinished);
    thread_.start();
    QMetaObject::invokeMethod(worker_.get(), &CModemWorker::Probe, Qt::QueuedConnection);
}

bool CModemLink::Poll()
{
    if (!found_ || stopped_ || polling_)
        return false;
    polling_ = true;
    QMetaObject::invokeMethod(worker_.get(), &CModemWorker::ReadAll, Qt::QueuedConnection);
    return true;
}

void CModemLink::SendSms(const QString& phone, const std::array<std::uint8_t, 6>& payload)
{
    if (!IsAvailable()) {
        // The outcome always arrives after the call has returned.
        QMetaObject::invokeMethod(this, [this] { emit smsFinished(Refused); }, Qt::QueuedConnection);
        return;
    }
    CModemWorker* worker = worker_.get();
    QMetaObject::invokeMethod(worker, [worker, phone, payload] { worker->SendSms(phone, payload); },
                              Qt::QueuedConnection);
}

void CModemLink::Stop()
{
    if (stopped_)
        return;
    stopped_ = true;
    polling_ = false;
    if (!worker_)
        return;
    // Interrupted, the exchange under way ends at once and the ones queued
    // behind it do nothing; Finish then closes the port on its own thread.
    worker_->Interrupt();
    QMetaObject::invokeMethod(worker_.get(), &CModemWorker::Finish, Qt::QueuedConnection);
    thread_.wait();
    worker_.reset();
}

void CModemLink::OnProbeFinished(bool found, const QString& portName, const QString& error)
{
    if (stopped_)
        return;
    if (!error.isEmpty()) {
        emit portError(error);
        return;
    }
    found_ = found;
    portName_ = portName;
    emit probeFinished(found);
}

void CModemLink::OnReadFinished(int result, const std::vector<T_SMS>& received, const QString& error)
{
    if (stopped_)
        return;
    polling_ = false;
    if (!error.isEmpty()) {
        emit portError(error);
        return;
    }
    messages.insert(messages.end(), received.begin(), received.end());
    emit pollFinished(result);
}

void CModemLink::OnSendFinished(bool sent, const QString& error)
{
    if (stopped_)
        return;
    if (!error.isEmpty()) {
        emit portError(error);
        emit smsFinished(PortError);
        return;
    }
    emit smsFinished(sent ? Sent : Refused);
}

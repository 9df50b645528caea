#include "common/stop_signal.h"

#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// Written by the handler, read by the notifier: [0] is read, [1] written.
int stopPipe[2] = {-1, -1};

void OnStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(stopPipe[1], &byte, 1);
}

} // namespace

CStopSignal::CStopSignal(QObject* parent) : QObject(parent)
{
    if (stopPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, stopPipe) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, &previousTerm_);
    ::sigaction(SIGINT, &action, &previousInt_);
    notifier_ = new QSocketNotifier(stopPipe[0], QSocketNotifier::Read, this);
    notifier_->setEnabled(false);
    connect(notifier_, &QSocketNotifier::activated, this, &CStopSignal::OnReadable);
}

CStopSignal::~CStopSignal()
{
    if (!notifier_)
        return;
    ::sigaction(SIGTERM, &previousTerm_, nullptr);
    ::sigaction(SIGINT, &previousInt_, nullptr);
    delete notifier_;
    for (int& fd : stopPipe) {
        ::close(fd);
        fd = -1;
    }
}

void CStopSignal::Deliver()
{
    if (notifier_)
        notifier_->setEnabled(true);
}

void CStopSignal::OnReadable()
{
    char byte = 0;
    [[maybe_unused]] const auto got = ::read(stopPipe[0], &byte, 1);
    emit stopRequested();
}

#include "server/link/gprs_link.h"

#include "server/link/client_socket.h"
#include "server/link/event_pipeline.h"
#include "server/model/point_base.h"
#include "server/model/records.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr std::uint64_t kListenerKey = 0; // connection ids start at 1
constexpr int kEventsPerWait = 256;
constexpr int kAcceptPauseMs = 1000;

} // namespace

CGprsLink::CGprsLink(CEventPipeline& pipeline, QObject* parent)
    : QObject(parent),
      pipeline_(pipeline),
      registered_([this](std::uint32_t serial) { return pipeline_.base().FindPoint(serial) >= 0; })
{
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    notifier_ = std::make_unique<QSocketNotifier>(epoll_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &CGprsLink::OnEvents);
    acceptPause_.setSingleShot(true);
    acceptPause_.setInterval(kAcceptPauseMs);
    connect(&acceptPause_, &QTimer::timeout, this, [this] {
        if (listener_)
            Watch(listener_->Fd(), kListenerKey, EPOLLIN);
    });
}

CGprsLink::~CGprsLink()
{
    StopListening();
    CloseAllConnections();
    notifier_.reset();
    if (epoll_ >= 0)
        ::close(epoll_);
}

void CGprsLink::Watch(int fd, std::uint64_t key, std::uint32_t events)
{
    epoll_event event{};
    event.events = events;
    event.data.u64 = key;
    if (::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event) != 0)
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
}

void CGprsLink::Unwatch(int fd) { ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr); }

bool CGprsLink::Listen(std::uint32_t port)
{
    if (!connections_.empty())
        CloseAllConnections();
    StopListening();
    auto listener = std::make_unique<CListeningSocket>();
    listenError_.clear();
    if (!listener->Listen(port)) {
        listenError_ = listener->Error();
        return false;
    }
    listener_ = std::move(listener);
    Watch(listener_->Fd(), kListenerKey, EPOLLIN);
    return true;
}

std::uint16_t CGprsLink::ListeningPort() const { return listener_ ? listener_->LocalPort() : 0; }

void CGprsLink::CloseAllConnections()
{
    while (!connections_.empty())
        Close(connections_.begin()->first);
}

void CGprsLink::StopListening()
{
    if (!listener_)
        return;
    CloseAllConnections();
    acceptPause_.stop();
    Unwatch(listener_->Fd());
    listener_.reset();
}

void CGprsLink::OnEvents()
{
    epoll_event events[kEventsPerWait];
    int n = 0;
    do {
        n = ::epoll_wait(epoll_, events, kEventsPerWait, 0);
        for (int i = 0; i < n; ++i) {
            const std::uint64_t key = events[i].data.u64;
            if (key == kListenerKey) {
                OnAccept();
                continue;
            }
            // A connection closed earlier in this batch is simply not found.
            const auto it = connections_.find(key);
            if (it == connections_.end())
                continue;
            const auto result = it->second->OnReceive();
            if (result == CClientSocket::ReceiveResult::Open)
                continue;
            Close(key);
            if (result == CClientSocket::ReceiveResult::Failed)
                emit receiveError();
        }
    } while (n == kEventsPerWait);
}

void CGprsLink::OnAccept()
{
    if (!listener_)
        return;
    for (;;) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(listener_->Fd(), reinterpret_cast<sockaddr*>(&peer), &length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // The pending connection stays queued; try again shortly
                // rather than spinning on a listener that stays readable.
                Watch(listener_->Fd(), kListenerKey, 0);
                acceptPause_.start();
            }
            return;
        }
        const std::uint64_t id = nextId_++;
        auto connection = std::make_unique<CClientSocket>(this, fd, id);
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
        connection->rx.peerAddress = QString::fromLatin1(text);
        connection->rx.peerPort = ntohs(peer.sin_port);
        IndexSerial(*connection, 0);
        Watch(fd, id, EPOLLIN);
        connections_.emplace(id, std::move(connection));
    }
}

void CGprsLink::IndexSerial(CClientSocket& connection, std::uint32_t serial)
{
    auto& list = bySerial_[serial];
    // Kept oldest first: a connection re-filed under a new serial goes to
    // its place by acceptance order.
    const auto at = std::lower_bound(list.begin(), list.end(), connection.Id(),
                                     [](const CClientSocket* c, std::uint64_t id) { return c->Id() < id; });
    list.insert(at, &connection);
    filedSerial_[connection.Id()] = serial;
}

void CGprsLink::UnindexSerial(CClientSocket& connection)
{
    const auto filed = filedSerial_.find(connection.Id());
    if (filed == filedSerial_.end())
        return;
    const auto it = bySerial_.find(filed->second);
    if (it != bySerial_.end()) {
        auto& list = it->second;
        list.erase(std::remove(list.begin(), list.end(), &connection), list.end());
        if (list.empty())
            bySerial_.erase(it);
    }
    filedSerial_.erase(filed);
}

void CGprsLink::Close(std::uint64_t id)
{
    const auto it = connections_.find(id);
    if (it == connections_.end())
        return;
    UnindexSerial(*it->second);
    Unwatch(it->second->Fd());
    connections_.erase(it); // the destructor closes the socket
    // A descriptor is free again: accepting may go on.
    if (acceptPause_.isActive()) {
        acceptPause_.stop();
        if (listener_)
            Watch(listener_->Fd(), kListenerKey, EPOLLIN);
    }
}

void CGprsLink::ProcessGprsFrame(CClientSocket& connection)
{
    const std::uint32_t serial = connection.Serial();
    if (filedSerial_[connection.Id()] != serial) {
        UnindexSerial(connection);
        IndexSerial(connection, serial);
    }
    // A controller that reconnected from another address or port: its older
    // connection is closed (the first one found, oldest first).
    const auto it = bySerial_.find(serial);
    if (it != bySerial_.end()) {
        for (CClientSocket* other : it->second) {
            if (other->rx.peerAddress != connection.rx.peerAddress || other->rx.peerPort != connection.rx.peerPort) {
                Close(other->Id());
                break;
            }
        }
    }
    pipeline_.AcceptReport(connection.rx.data, SRC_GPRS);
}

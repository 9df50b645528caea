#include "server/link/client_socket.h"

#include "server/link/gprs_link.h"
#include "server/model/report_frame.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

CClientSocket::CClientSocket(CGprsLink* owner, int fd, std::uint64_t id) : owner_(owner), fd_(fd), id_(id) {}

CClientSocket::~CClientSocket()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::uint32_t CClientSocket::Serial() const { return FrameSerial(rx.data.data()); }

CClientSocket::ReceiveResult CClientSocket::OnReceive()
{
    for (;;) {
        const ssize_t n = ::recv(fd_, rx.ReadSpace(), CRxPkg::kReadChunk, 0);
        if (n >= 0) {
            // 0 bytes: the peer has closed; what waited for more bytes is decided now.
            const bool ended = n == 0;
            rx.Received(static_cast<std::size_t>(n));
            while (rx.NextFrame(owner_->Registered(), ended))
                owner_->ProcessGprsFrame(*this);
            rx.Park();
            if (ended)
                return ReceiveResult::PeerClosed;
            if (static_cast<std::size_t>(n) < CRxPkg::kReadChunk)
                return ReceiveResult::Open;
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return ReceiveResult::Open;
        return ReceiveResult::Failed;
    }
}

#include "server/link/listening_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

namespace {

constexpr std::uint32_t kMaxPort = 65535;

} // namespace

CListeningSocket::~CListeningSocket() { Close(); }

bool CListeningSocket::Listen(std::uint32_t port)
{
    Close();
    error_.clear();
    if (port > kMaxPort) {
        error_ = QStringLiteral("номер порта больше %1").arg(kMaxPort);
        return false;
    }
    auto fail = [this] {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        Close();
        return false;
    };
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return fail();
    const int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    // The kernel caps the backlog at its own maximum (net.core.somaxconn).
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(fd_, std::numeric_limits<int>::max()) != 0)
        return fail();
    return true;
}

void CListeningSocket::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

std::uint16_t CListeningSocket::LocalPort() const
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

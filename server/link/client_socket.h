#pragma once

#include "server/link/rx_pkg.h"

#include <cstdint>

class CGprsLink;

// One accepted controller connection: a non-blocking socket and its
// receive state. The link owns it; the destructor closes the socket.
class CClientSocket
{
public:
    CClientSocket(CGprsLink* owner, int fd, std::uint64_t id);
    ~CClientSocket();
    CClientSocket(const CClientSocket&) = delete;
    CClientSocket& operator=(const CClientSocket&) = delete;

    enum class ReceiveResult { Open, PeerClosed, Failed };

    // Reads what arrived and hands each frame taken to the link; when the
    // peer has closed, what waited for more bytes is decided first. Anything
    // but Open means the connection must be closed.
    ReceiveResult OnReceive();

    int Fd() const { return fd_; }
    // Order of acceptance: older connections have smaller ids.
    std::uint64_t Id() const { return id_; }
    // The serial number of the last valid frame (0 before any).
    std::uint32_t Serial() const;

    CRxPkg rx;

private:
    CGprsLink* owner_;
    int fd_;
    std::uint64_t id_;
};

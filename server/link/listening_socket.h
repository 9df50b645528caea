#pragma once

#include <QString>

#include <cstdint>

// The listening socket of the link: non-blocking, on every local IPv4
// address, with the largest backlog the system allows, so that thousands of
// controllers reconnecting at once after a restart are not refused.
class CListeningSocket
{
public:
    CListeningSocket() = default;
    ~CListeningSocket();
    CListeningSocket(const CListeningSocket&) = delete;
    CListeningSocket& operator=(const CListeningSocket&) = delete;

    // False when the port cannot be bound or listened on; ports above
    // 65535 are refused rather than wrapped onto another port. Port 0 takes
    // any free port.
    bool Listen(std::uint32_t port);
    // Why the last Listen failed, in the system's words.
    const QString& Error() const { return error_; }
    void Close();
    int Fd() const { return fd_; }
    // The port actually listened on.
    std::uint16_t LocalPort() const;

private:
    int fd_ = -1;
    QString error_;
};

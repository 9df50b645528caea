#pragma once

#include "server/link/listening_socket.h"
#include "server/link/stream_framer.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdint>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

class CClientSocket;
class CEventPipeline;

// The TCP side of the server: the listening socket and every accepted
// controller connection. All notifications come from one epoll set behind a
// single QSocketNotifier on the GUI thread, so a report costs the same with
// ten connections or ten thousand, and a connection is a small record.
// Valid frames go to the event pipeline as GPRS reports.
class CGprsLink : public QObject
{
    Q_OBJECT

public:
    explicit CGprsLink(CEventPipeline& pipeline, QObject* parent = nullptr);
    ~CGprsLink() override;

    // Closes any connections, then listens on the port. False when the
    // port cannot be listened on (the server then accepts nothing).
    bool Listen(std::uint32_t port);
    // Why the last Listen failed, in the system's words.
    QString ListenError() const { return listenError_; }
    void CloseAllConnections();
    void StopListening();

    bool IsListening() const { return listener_ != nullptr; }
    std::uint16_t ListeningPort() const;
    std::size_t ConnectionCount() const { return connections_.size(); }

    // Called by a connection for each valid frame it received.
    void ProcessGprsFrame(CClientSocket& connection);
    // Whether a serial number is registered: a frame of a registered point
    // is taken off a connection's frame grid.
    const CStreamFramer::KnownSerial& Registered() const { return registered_; }

signals:
    // A connection failed with an error other than "no data yet" and was
    // closed. Reception of the others goes on.
    void receiveError();

private:
    void OnEvents();
    void OnAccept();
    void Close(std::uint64_t id);
    void Watch(int fd, std::uint64_t key, std::uint32_t events);
    void Unwatch(int fd);
    void IndexSerial(CClientSocket& connection, std::uint32_t serial);
    void UnindexSerial(CClientSocket& connection);

    CEventPipeline& pipeline_;
    CStreamFramer::KnownSerial registered_;
    int epoll_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unique_ptr<CListeningSocket> listener_;
    QString listenError_;
    // While no descriptor is free, accepting pauses for a moment instead of
    // waking the loop again and again.
    QTimer acceptPause_;
    std::uint64_t nextId_ = 1;
    // Every connection, oldest first.
    std::map<std::uint64_t, std::unique_ptr<CClientSocket>> connections_;
    // Connections by the serial number of their last valid frame, oldest first.
    std::unordered_map<std::uint32_t, std::vector<CClientSocket*>> bySerial_;
    // The serial each connection is filed under in bySerial_.
    std::unordered_map<std::uint64_t, std::uint32_t> filedSerial_;
    CClientSocket* current_ = nullptr; // the connection whose frames are being handled
    bool currentReplaced_ = false;
};

#pragma once

#include <QObject>

#include <csignal>

class QSocketNotifier;

// SIGTERM and SIGINT as a Qt signal on the thread that made this object. The
// handlers only write a byte to a socket pair; a notifier reads it in the
// event loop and emits stopRequested, so the program stops the normal way.
// The handlers are in place from construction; stopRequested is emitted from
// Deliver() on, so a stop asked for before its receiver exists waits for it.
// One object per program; its destruction puts back the previous handlers.
class CStopSignal final : public QObject
{
    Q_OBJECT

public:
    explicit CStopSignal(QObject* parent = nullptr);
    ~CStopSignal() override;

    // False when the socket pair could not be made: the signals then keep
    // their previous handling.
    bool IsWatching() const { return notifier_ != nullptr; }
    // Starts emitting stopRequested, at once for a stop already asked for.
    void Deliver();

signals:
    void stopRequested();

private:
    void OnReadable();

    QSocketNotifier* notifier_ = nullptr;
    struct sigaction previousTerm_ {};
    struct sigaction previousInt_ {};
};

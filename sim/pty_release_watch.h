#pragma once

#include <atomic>
#include <string>

// Lifts the exclusive mark (TIOCEXCL) of a pseudo-terminal once no opener
// is left besides its creator.
//
// The creator keeps the pty's slave side open, so that the pty does not hang
// up between masters. The kernel then keeps the slave's exclusive mark for
// as long as the pty lives: a master that ended without lifting it (killed,
// crashed) would leave the port refused to every later opener but root.
// The watch counts the opens and closes of the slave's device node (inotify
// reports every open that succeeded and every close of one) and, when the
// last of them has closed, lifts the mark through the creator's descriptor.
class CPtyReleaseWatch
{
public:
    CPtyReleaseWatch() = default;
    ~CPtyReleaseWatch();
    CPtyReleaseWatch(const CPtyReleaseWatch&) = delete;
    CPtyReleaseWatch& operator=(const CPtyReleaseWatch&) = delete;

    // Watches the slave at path; heldSlave is the creator's own descriptor of
    // it, opened before the watch began (so it is not counted). False with
    // errno in LastError() when the watch cannot be set up.
    bool Start(const std::string& path, int heldSlave);
    void Stop();

    // Follows the openers until stopFd becomes readable. Runs on a thread of
    // its own.
    void Run(int stopFd);

    // Openers besides the creator, as far as the events read so far tell.
    int Openers() const { return openers_; }
    int LastError() const { return error_; }

private:
    void ReadEvents();

    int inotify_ = -1;
    int heldSlave_ = -1;
    std::atomic<int> openers_{0};
    int error_ = 0;
};

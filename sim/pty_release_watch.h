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
// Whenever the slave's device node is opened or closed (inotify tells), the
// watch counts the descriptors that processes hold on it, and when a close
// leaves none besides the creator's, lifts the mark through the creator's
// descriptor.
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

    // Descriptors on the slave besides the creator's, as last counted.
    int Openers() const { return openers_; }
    int LastError() const { return error_; }

private:
    void ReadEvents();
    int CountOpeners() const;

    int inotify_ = -1;
    int heldSlave_ = -1;
    std::atomic<int> openers_{0};
    int error_ = 0;
};

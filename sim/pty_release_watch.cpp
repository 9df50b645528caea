#include "sim/pty_release_watch.h"

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

CPtyReleaseWatch::~CPtyReleaseWatch()
{
    Stop();
}

bool CPtyReleaseWatch::Start(const std::string& path, int heldSlave)
{
    Stop();
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0) {
        error_ = errno;
        return false;
    }
    if (::inotify_add_watch(inotify_, path.c_str(), IN_OPEN | IN_CLOSE) < 0) {
        error_ = errno;
        Stop();
        return false;
    }
    heldSlave_ = heldSlave;
    openers_ = 0;
    return true;
}

void CPtyReleaseWatch::Stop()
{
    if (inotify_ >= 0)
        ::close(inotify_);
    inotify_ = -1;
    heldSlave_ = -1;
}

void CPtyReleaseWatch::Run(int stopFd)
{
    for (;;) {
        pollfd fds[2] = {{inotify_, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        if (fds[0].revents & (POLLERR | POLLNVAL))
            return;
        if (fds[0].revents & POLLIN)
            ReadEvents();
    }
}

void CPtyReleaseWatch::ReadEvents()
{
    // Events of a watched file carry no name: each is one inotify_event.
    alignas(inotify_event) char buffer[64 * sizeof(inotify_event)];
    for (;;) {
        const ssize_t n = ::read(inotify_, buffer, sizeof(buffer));
        if (n <= 0)
            return;
        bool closed = false;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof(event));
            at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
            if (event.mask & IN_Q_OVERFLOW) {
                // Events were lost: the count starts again from nobody, and
                // the next close lifts the mark.
                openers_ = 0;
            } else if (event.mask & IN_OPEN) {
                ++openers_;
            } else if (event.mask & IN_CLOSE) {
                if (openers_ > 0)
                    --openers_;
                closed = true;
            }
        }
        if (closed && openers_ == 0)
            ::ioctl(heldSlave_, TIOCNXCL);
    }
}

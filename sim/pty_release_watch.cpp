#include "sim/pty_release_watch.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <sys/stat.h>

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

int CPtyReleaseWatch::CountOpeners() const
{
    // Every descriptor of every process that leads to the slave, but the
    // creator's own. inotify merges identical events that follow each other
    // unread, so its events only say when to look, not how many there are.
    struct stat slave {};
    if (::fstat(heldSlave_, &slave) != 0)
        return 0;
    const pid_t self = ::getpid();
    int count = 0;
    DIR* processes = ::opendir("/proc");
    if (processes == nullptr)
        return 0;
    while (const dirent* process = ::readdir(processes)) {
        char* end = nullptr;
        const long pid = std::strtol(process->d_name, &end, 10);
        if (end == process->d_name || *end != '\0')
            continue;
        const std::string fdFolder = std::string("/proc/") + process->d_name + "/fd";
        DIR* fds = ::opendir(fdFolder.c_str());
        if (fds == nullptr)
            continue; // gone meanwhile, or another user's
        while (const dirent* fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.')
                continue;
            if (pid == self && std::atoi(fd->d_name) == heldSlave_)
                continue;
            struct stat target {};
            if (::stat((fdFolder + "/" + fd->d_name).c_str(), &target) == 0 && S_ISCHR(target.st_mode)
                && target.st_rdev == slave.st_rdev)
                ++count;
        }
        ::closedir(fds);
    }
    ::closedir(processes);
    return count;
}

void CPtyReleaseWatch::ReadEvents()
{
    // Events of a watched file carry no name: each is one inotify_event.
    alignas(inotify_event) char buffer[64 * sizeof(inotify_event)];
    bool seen = false;
    bool closed = false;
    for (;;) {
        const ssize_t n = ::read(inotify_, buffer, sizeof(buffer));
        if (n <= 0)
            break;
        seen = true;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof(event));
            at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
            if (event.mask & (IN_CLOSE | IN_Q_OVERFLOW))
                closed = true;
        }
    }
    if (!seen)
        return;
    openers_ = CountOpeners();
    if (closed && openers_ == 0)
        ::ioctl(heldSlave_, TIOCNXCL);
}

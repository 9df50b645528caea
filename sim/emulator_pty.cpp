#include "sim/emulator_pty.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>

bool OpenEmulatorPty(T_EMULATORPTY& pty)
{
    char name[256] = {};
    termios raw{};
    ::cfmakeraw(&raw);
    if (::openpty(&pty.master, &pty.slave, name, &raw, nullptr) != 0)
        return false;
    ::fcntl(pty.master, F_SETFD, FD_CLOEXEC);
    ::fcntl(pty.slave, F_SETFD, FD_CLOEXEC);
    ::fcntl(pty.master, F_SETFL, ::fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    pty.path = name;
    return true;
}

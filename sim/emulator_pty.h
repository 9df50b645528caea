#pragma once

#include <string>

// A pseudo-terminal for an emulator to serve: raw line settings, both sides
// closed on exec, the master side non-blocking. The emulator reads and
// writes the master; its peer opens the slave by `path`.
struct T_EMULATORPTY
{
    int master = -1;
    int slave = -1;
    std::string path;
};

// False with errno set when no pseudo-terminal could be made.
bool OpenEmulatorPty(T_EMULATORPTY& pty);

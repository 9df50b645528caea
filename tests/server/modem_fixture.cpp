#include "tests/server/modem_fixture.h"

#include "common/settings_store.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <unistd.h>

CEmulatedModem::CEmulatedModem(T_MODEMFAULTS faults)
{
    modem.SetFaults(std::move(faults));
    EXPECT_TRUE(link.StartOnPty());
}

std::string SmsText(const std::array<std::uint8_t, 64>& frame)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint8_t byte : frame) {
        text += kHex[byte >> 4];
        text += kHex[byte & 0x0F];
    }
    return text;
}

int OpenDescriptors(const std::string& path)
{
    int count = 0;
    DIR* fds = ::opendir("/proc/self/fd");
    if (fds == nullptr)
        return -1;
    while (const dirent* entry = ::readdir(fds)) {
        char target[512] = {};
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        // A device that went away is shown with " (deleted)" after its path.
        const std::string shown(target, static_cast<std::size_t>(n));
        if (shown == path || shown == path + " (deleted)")
            ++count;
    }
    ::closedir(fds);
    return count;
}

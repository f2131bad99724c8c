#include "platform/system/Privilege.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <initializer_list>
#include <optional>
#include <vector>

namespace platform::system {

namespace {

std::optional<std::vector<int>> capabilitiesOf(const QString &name)
{
    if (name.compare(QLatin1String("SeDebugPrivilege"), Qt::CaseInsensitive) == 0)
        return std::vector<int>{CAP_SYS_PTRACE, CAP_KILL, CAP_SYS_NICE};
    return std::nullopt;
}

struct CapSets
{
    __user_cap_header_struct header{};
    __user_cap_data_struct data[2]{};
};

bool readCaps(CapSets &caps)
{
    caps.header.version = _LINUX_CAPABILITY_VERSION_3;
    caps.header.pid = 0;
    return ::syscall(SYS_capget, &caps.header, caps.data) == 0;
}

} // namespace

bool enablePrivilege(const QString &name)
{
    const auto caps = capabilitiesOf(name);
    if (!caps)
        return false;
    CapSets sets;
    if (!readCaps(sets))
        return false;
    bool change = false;
    for (const int cap : *caps) {
        const int word = cap / 32;
        const __u32 bit = 1u << (cap % 32);
        if ((sets.data[word].permitted & bit) && !(sets.data[word].effective & bit)) {
            sets.data[word].effective |= bit;
            change = true;
        }
    }
    if (!change)
        return true;
    sets.header.version = _LINUX_CAPABILITY_VERSION_3;
    sets.header.pid = 0;
    return ::syscall(SYS_capset, &sets.header, sets.data) == 0;
}

} // namespace platform::system

#include "platform/system/Privilege.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <initializer_list>
#include <optional>
#include <vector>

namespace platform::system {

namespace {

std::optional<std::vector<int>> CapabilitiesOf(const QString &Name)
{
    if (Name.compare(QLatin1String("SeDebugPrivilege"), Qt::CaseInsensitive) == 0)
        return std::vector<int>{CAP_SYS_PTRACE, CAP_KILL, CAP_SYS_NICE};
    return std::nullopt;
}

struct CapSets
{
    __user_cap_header_struct Header{};
    __user_cap_data_struct Data[2]{};
};

bool ReadCaps(CapSets &Caps)
{
    Caps.Header.version = _LINUX_CAPABILITY_VERSION_3;
    Caps.Header.pid = 0;
    return ::syscall(SYS_capget, &Caps.Header, Caps.Data) == 0;
}

} // namespace

bool EnablePrivilege(const QString &Name)
{
    const auto caps = CapabilitiesOf(Name);
    if (!caps)
        return false;
    CapSets sets;
    if (!ReadCaps(sets))
        return false;
    bool change = false;
    for (const int cap : *caps) {
        const int word = cap / 32;
        const __u32 bit = 1u << (cap % 32);
        if ((sets.Data[word].permitted & bit) && !(sets.Data[word].effective & bit)) {
            sets.Data[word].effective |= bit;
            change = true;
        }
    }
    if (!change)
        return true;
    sets.Header.version = _LINUX_CAPABILITY_VERSION_3;
    sets.Header.pid = 0;
    return ::syscall(SYS_capset, &sets.Header, sets.Data) == 0;
}

} // namespace platform::system

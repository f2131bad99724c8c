#include "platform/network/NetworkSource.h"

#include "platform/processes/ProcFs.h"

namespace platform::network {

namespace {

bool endpoints(const char *v4, const char *v6, bool tcp, std::vector<Endpoint> &out)
{
    std::vector<SocketRow> rows;
    if (!readSocketTable(QLatin1String(v4), tcp, false, rows))
        return false;
    // IPv4 peers of dual-stack sockets are listed with the IPv6 ones, and a dual-stack socket
    // on the wildcard is an IPv4 endpoint as well; a machine without IPv6 has no such file.
    const std::optional<QSet<quint64>> dualStack = dualStackWildcardInodes(tcp);
    readSocketTable(QLatin1String(v6), tcp, true, rows, dualStack ? &*dualStack : nullptr);
    const QHash<quint64, SocketOwner> owners = socketOwners();
    out.reserve(out.size() + rows.size());
    for (const SocketRow &row : rows) {
        Endpoint e;
        e.row = row;
        if (row.inode != 0) {
            const auto it = owners.constFind(row.inode);
            if (it != owners.cend()) {
                e.owned = true;
                e.owner = *it;
            }
        }
        out.push_back(e);
    }
    return true;
}

} // namespace

bool NetworkSource::tcpEndpoints(std::vector<Endpoint> &out)
{
    return endpoints("/proc/net/tcp", "/proc/net/tcp6", true, out);
}

bool NetworkSource::udpEndpoints(std::vector<Endpoint> &out)
{
    return endpoints("/proc/net/udp", "/proc/net/udp6", false, out);
}

bool NetworkSource::interfaces(std::vector<InterfaceRow> &out)
{
    return readInterfaces(QStringLiteral("/sys/class/net"), out);
}

bool NetworkSource::addresses(std::vector<AddressRow> &out)
{
    return readIPv4Addresses(out);
}

std::optional<QString> NetworkSource::processPath(quint32 pid, quint64 startTime)
{
    using namespace platform::processes;
    if (pid == 0 || pid > 0x7FFFFFFFu)
        return std::nullopt;
    auto path = readExePath(qint32(pid));
    // The identifier must still be the owner's: read the start time after the path.
    ProcStat st;
    if (!path || !readStat(qint32(pid), st) || st.startTime != startTime)
        return std::nullopt;
    return path;
}

bool NetworkSource::isKernelProcess(quint32 pid)
{
    using namespace platform::processes;
    ProcStat st;
    return pid != 0 && pid <= 0x7FFFFFFFu && readStat(qint32(pid), st) && st.isKernelThread();
}

std::optional<Moment> NetworkSource::processStart(quint32, quint64 startTime)
{
    using namespace platform::processes;
    const qint64 boot = bootTimeSeconds();
    const long hz = clockTicksPerSecond();
    if (boot <= 0 || hz <= 0)
        return std::nullopt;
    Moment m;
    m.seconds = boot + qint64(startTime / quint64(hz));
    m.nanoseconds = quint32((startTime % quint64(hz)) * (1000000000ull / quint64(hz)));
    return m;
}

NetworkSource &defaultNetworkSource()
{
    static NetworkSource source;
    return source;
}

} // namespace platform::network

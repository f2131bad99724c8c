#include "platform/network/NetworkSource.h"

#include "platform/processes/ProcFs.h"
#include "platform/processes/ProcessActions.h"

#include <optional>

#include <sys/resource.h>
#include <unistd.h>

namespace platform::network {

namespace {

// The nice value of a reader beside the window.
constexpr int kReaderNice = 5;

// The owners found for the first of both tables read together, for the second: set on the thread
// that reads both.
thread_local std::optional<QHash<quint64, SocketOwner>> *g_SharedOwners = nullptr;

bool ReadEndpoints(const char *V4, const char *V6, bool Tcp, std::vector<Endpoint> &Out)
{
    std::vector<SocketRow> rows;
    if (!ReadSocketTable(QLatin1String(V4), Tcp, false, rows))
        return false;
    // IPv4 peers of dual-stack sockets are listed with the IPv6 ones, and a dual-stack socket
    // on the wildcard is an IPv4 endpoint as well; a machine without IPv6 has no such file.
    const std::optional<QSet<quint64>> dualStack = DualStackWildcardInodes(Tcp);
    ReadSocketTable(QLatin1String(V6), Tcp, true, rows, dualStack ? &*dualStack : nullptr);
    QHash<quint64, SocketOwner> ownOwners;
    const QHash<quint64, SocketOwner> *owners = &ownOwners;
    if (g_SharedOwners) {
        if (!*g_SharedOwners)
            g_SharedOwners->emplace(SocketOwners());
        owners = &**g_SharedOwners;
    } else {
        ownOwners = SocketOwners();
    }
    Out.reserve(Out.size() + rows.size());
    for (const SocketRow &row : rows) {
        Endpoint e;
        e.Row = row;
        if (row.Inode != 0) {
            const auto it = owners->constFind(row.Inode);
            if (it != owners->cend()) {
                e.Owned = true;
                e.Owner = *it;
            }
        }
        Out.push_back(e);
    }
    return true;
}

} // namespace

bool NetworkSource::TcpEndpoints(std::vector<Endpoint> &Out)
{
    return ReadEndpoints("/proc/net/tcp", "/proc/net/tcp6", true, Out);
}

bool NetworkSource::UdpEndpoints(std::vector<Endpoint> &Out)
{
    return ReadEndpoints("/proc/net/udp", "/proc/net/udp6", false, Out);
}

void NetworkSource::Endpoints(std::vector<Endpoint> &Tcp, bool &TcpRead, std::vector<Endpoint> &Udp, bool &UdpRead)
{
    std::optional<QHash<quint64, SocketOwner>> owners;
    struct TShare
    {
        explicit TShare(std::optional<QHash<quint64, SocketOwner>> *Owners) { g_SharedOwners = Owners; }
        ~TShare() { g_SharedOwners = nullptr; }
        TShare(const TShare &) = delete;
        TShare &operator=(const TShare &) = delete;
    } share(&owners);
    TcpRead = TcpEndpoints(Tcp);
    UdpRead = UdpEndpoints(Udp);
}

bool NetworkSource::Interfaces(std::vector<InterfaceRow> &Out)
{
    return ReadInterfaces(QStringLiteral("/sys/class/net"), Out);
}

bool NetworkSource::Addresses(std::vector<AddressRow> &Out)
{
    return ReadIPv4Addresses(Out);
}

std::optional<QString> NetworkSource::ProcessPath(quint32 Pid, quint64 StartTime)
{
    using namespace platform::processes;
    if (Pid == 0 || Pid > 0x7FFFFFFFu)
        return std::nullopt;
    auto path = ReadExePath(qint32(Pid));
    // The identifier must still be the owner's: read the start time after the path.
    ProcStat st;
    if (!path || !ReadStat(qint32(Pid), st) || st.StartTime != StartTime)
        return std::nullopt;
    return path;
}

bool NetworkSource::IsKernelProcess(quint32 Pid)
{
    using namespace platform::processes;
    ProcStat st;
    return Pid != 0 && Pid <= 0x7FFFFFFFu && ReadStat(qint32(Pid), st) && st.IsKernelThread();
}

namespace {

// Holds the process that started at `StartTime`; nothing when the identifier names another
// process by now.
std::optional<processes::PidFd> HoldOwner(quint32 Pid, quint64 StartTime)
{
    if (Pid == 0 || Pid > 0x7FFFFFFFu)
        return std::nullopt;
    std::optional<processes::PidFd> pin;
    if (!processes::PidFd::Identify(qint32(Pid), StartTime, &pin))
        return std::nullopt;
    return pin;
}

} // namespace

std::optional<processes::ImageFacts> NetworkSource::OwnerImageFacts(quint32 Pid, quint64 StartTime)
{
    const auto pin = HoldOwner(Pid, StartTime);
    if (!pin)
        return std::nullopt;
    return processes::ReadWhileHeld(*pin, [&] { return processes::ReadImageFacts(qint32(Pid)); });
}

int NetworkSource::OpenOwnerImage(quint32 Pid, quint64 StartTime)
{
    const auto pin = HoldOwner(Pid, StartTime);
    return pin ? processes::OpenImageWhileHeld(*pin) : -1;
}

bool NetworkSource::OwnerPathIsImage(quint32 Pid, quint64 StartTime, const QString &Path)
{
    if (Path.isEmpty())
        return false;
    const auto pin = HoldOwner(Pid, StartTime);
    if (!pin)
        return false;
    const auto image = processes::ReadWhileHeld(*pin, [&] { return processes::ImageIdentity(qint32(Pid)); });
    return image && processes::LeadsWithoutLinksTo(Path, *image);
}

std::optional<Moment> NetworkSource::ProcessStart(quint32, quint64 StartTime)
{
    using namespace platform::processes;
    const qint64 boot = BootTimeSeconds();
    const long hz = ClockTicksPerSecond();
    if (boot <= 0 || hz <= 0)
        return std::nullopt;
    Moment m;
    m.Seconds = boot + qint64(StartTime / quint64(hz));
    m.Nanoseconds = quint32((StartTime % quint64(hz)) * (1000000000ull / quint64(hz)));
    return m;
}

NetworkSource &DefaultNetworkSource()
{
    static NetworkSource source;
    return source;
}

void LowerReaderPriority()
{
    // Linux gives every thread a nice value of its own; failing leaves the thread as it was.
    ::setpriority(PRIO_PROCESS, id_t(::gettid()), kReaderNice);
}

} // namespace platform::network

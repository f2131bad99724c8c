#include "platform_network/Addr.h"

#include "platform/processes/ProcFs.h"
#include "sysinfo/NetworkMonitor.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QProcess>

#include <cstring>
#include <map>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace platform::network;
using nettest::Addr;

namespace {

// Identifiers above the kernel's largest possible one: nothing real can carry them.
constexpr quint32 kFakePid = 4194304 + 500;
constexpr quint32 kKernelPid = 4194304 + 2;

// A scripted system: only what the test put there.
class FakeNetwork : public NetworkSource
{
public:
    std::optional<std::vector<Endpoint>> tcp, udp;
    std::optional<std::vector<InterfaceRow>> ifs;
    std::optional<std::vector<AddressRow>> addrs;
    std::map<std::pair<quint32, quint64>, QString> paths;
    std::map<quint32, Moment> starts;

    bool TcpEndpoints(std::vector<Endpoint> &out) override { return take(tcp, out); }
    bool UdpEndpoints(std::vector<Endpoint> &out) override { return take(udp, out); }
    bool Interfaces(std::vector<InterfaceRow> &out) override { return take(ifs, out); }
    bool Addresses(std::vector<AddressRow> &out) override { return take(addrs, out); }
    std::optional<QString> ProcessPath(quint32 pid, quint64 start) override
    {
        const auto it = paths.find({pid, start});
        return it == paths.end() ? std::nullopt : std::optional(it->second);
    }
    bool IsKernelProcess(quint32 pid) override { return pid == kKernelPid; }
    std::optional<Moment> ProcessStart(quint32 pid, quint64) override
    {
        const auto it = starts.find(pid);
        return it == starts.end() ? std::nullopt : std::optional(it->second);
    }

private:
    template <typename T>
    static bool take(const std::optional<std::vector<T>> &from, std::vector<T> &out)
    {
        if (!from)
            return false;
        out.insert(out.end(), from->begin(), from->end());
        return true;
    }
};

Endpoint Owned(quint32 localAddr, quint32 localPort, quint32 remoteAddr, quint32 remotePort, quint8 state, quint32 pid,
               quint64 start = 77)
{
    Endpoint e;
    e.Row.State = state;
    e.Row.LocalAddress = localAddr;
    e.Row.LocalPort = localPort;
    e.Row.RemoteAddress = remoteAddr;
    e.Row.RemotePort = remotePort;
    e.Row.Inode = 1000 + pid;
    e.Owned = true;
    e.Owner = {pid, start};
    return e;
}

InterfaceRow If(quint32 index, const char *name, quint64 in, quint64 out, quint32 macLen = 6)
{
    InterfaceRow r;
    r.Index = index;
    r.Name = QLatin1String(name);
    r.Description = r.Name;
    r.Type = IfTypeEthernet;
    r.OperStatus = IfOperOperational;
    r.PhysLength = macLen;
    r.PhysAddress = {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x60, 0x71};
    r.InOctets = in;
    r.OutOctets = out;
    return r;
}

} // namespace

TEST(NetworkMonitor, EndpointsCarryTheirOwnersOrNone)
{
    FakeNetwork net;
    net.paths[{kFakePid, 77}] = QStringLiteral("/opt/app/bin/server");
    net.starts[kFakePid] = Moment{1700000000, 0};
    Endpoint timeWait;
    timeWait.Row.State = TcpTimeWait;
    timeWait.Row.LocalAddress = Addr(10, 0, 0, 1);
    timeWait.Row.LocalPort = 443;
    net.tcp = std::vector<Endpoint>{Owned(Addr(0, 0, 0, 0), 80, 0, 0, TcpListen, kFakePid),
                                    Owned(Addr(10, 0, 0, 1), 2049, Addr(10, 0, 0, 9), 700, TcpEstablished, kKernelPid),
                                    timeWait, Owned(Addr(10, 0, 0, 1), 9, 0, 0, TcpListen, kFakePid, 78)};
    TNetworkMonitor m(nullptr, &net);
    m.RefreshTCP();
    ASSERT_EQ(m.GetTCPCount(), 4);

    const auto server = m.GetTCPItem(0);
    EXPECT_EQ(server->ClassName(), QStringLiteral("TTCPItem"));
    EXPECT_EQ(server->Protocol, 0);
    EXPECT_EQ(server->ProcessID, kFakePid);
    EXPECT_EQ(server->ProcessPath, QStringLiteral("/opt/app/bin/server"));
    EXPECT_EQ(server->ProcessName, QStringLiteral("server"));
    EXPECT_EQ(server->LocalPort, 80u);
    EXPECT_EQ(server->State, TcpListen);
    EXPECT_NE(server->CreateTime.WYear, 0);
    EXPECT_EQ(server->ProcessStartTime, std::optional<quint64>(77));

    const auto kernel = m.GetTCPItem(1);
    EXPECT_EQ(kernel->ProcessPath, QStringLiteral("System"));
    EXPECT_EQ(kernel->ProcessName, QStringLiteral("System"));
    EXPECT_EQ(kernel->RemoteAddress, Addr(10, 0, 0, 9));
    EXPECT_EQ(kernel->RemotePort, 700u);

    // No owner: identifier 0, no path, no creation time.
    const auto orphan = m.GetTCPItem(2);
    EXPECT_EQ(orphan->ProcessID, 0u);
    EXPECT_TRUE(orphan->ProcessPath.isEmpty());
    EXPECT_TRUE(orphan->ProcessName.isEmpty());
    EXPECT_EQ(orphan->CreateTime.WYear, 0);
    EXPECT_EQ(orphan->CreateTime.WDay, 0);
    EXPECT_FALSE(orphan->ProcessStartTime.has_value());

    // An identifier now used by another process shows no path.
    EXPECT_TRUE(m.GetTCPItem(3)->ProcessPath.isEmpty());

    EXPECT_EQ(m.GetTCPItem(4), nullptr);
    EXPECT_EQ(m.GetTCPItem(-1), nullptr);
    EXPECT_EQ(m.GetUDPItem(0), nullptr);
    EXPECT_EQ(m.GetInterface(0), nullptr);

    // A table that cannot be read empties the list.
    net.tcp.reset();
    m.RefreshTCP();
    EXPECT_EQ(m.GetTCPCount(), 0);
}

TEST(NetworkMonitor, InterfaceDeltasAddressesAndHardwareText)
{
    FakeNetwork net;
    net.ifs = std::vector<InterfaceRow>{If(1, "lo", 100, 100, 0), If(2, "eth0", 1000, 5000)};
    net.addrs = std::vector<AddressRow>{{2, Addr(192, 168, 0, 7)}, {1, Addr(127, 0, 0, 1)}, {2, Addr(10, 1, 1, 1)}};
    TNetworkMonitor m(nullptr, &net);
    m.RefreshInterfaces();
    ASSERT_EQ(m.GetInterfaceCount(), 2);
    TNetInterface *lo = m.GetInterface(0), *eth = m.GetInterface(1);
    EXPECT_EQ(lo->MACText, QString());
    EXPECT_EQ(eth->MACText, QStringLiteral("0A-1B-2C-3D-4E-5F"));
    EXPECT_EQ(eth->IPAddress, Addr(192, 168, 0, 7)); // the first of its two
    EXPECT_EQ(lo->IPAddress, Addr(127, 0, 0, 1));
    EXPECT_EQ(eth->InDelta, 0u);
    EXPECT_EQ(eth->OutDelta, 0u);
    EXPECT_FALSE(eth->FirstPass);

    // The table lists the interfaces in another order, beyond 32 bits, and one is new.
    net.ifs = std::vector<InterfaceRow>{If(3, "wlan0", 9, 9), If(2, "eth0", 1500 + (1ull << 32), 5300),
                                        If(1, "lo", 160, 170, 0)};
    net.addrs = std::vector<AddressRow>{};
    m.RefreshInterfaces();
    ASSERT_EQ(m.GetInterfaceCount(), 3);
    EXPECT_EQ(m.GetInterface(0), lo);
    EXPECT_EQ(eth->InDelta, 500 + (1ull << 32));
    EXPECT_EQ(eth->OutDelta, 300u);
    EXPECT_EQ(eth->InOctets, 1500 + (1ull << 32));
    EXPECT_EQ(lo->InDelta, 60u);
    EXPECT_EQ(lo->OutDelta, 70u);
    EXPECT_EQ(m.GetInterface(2)->Name, QStringLiteral("wlan0"));
    EXPECT_EQ(m.GetInterface(2)->InDelta, 0u);
    EXPECT_EQ(eth->IPAddress, Addr(192, 168, 0, 7)); // no address rows: kept

    // A counter that went back (the interface was reset) counts nothing, not 2^64 bytes.
    net.ifs = std::vector<InterfaceRow>{If(2, "eth0", 10, 5400)};
    m.RefreshInterfaces();
    EXPECT_EQ(eth->InDelta, 0u);
    EXPECT_EQ(eth->OutDelta, 100u);
    // Interfaces that left the table stay with their last values.
    EXPECT_EQ(m.GetInterfaceCount(), 3);
    EXPECT_EQ(lo->InDelta, 60u);

    // A table that cannot be read changes nothing.
    net.ifs.reset();
    m.RefreshInterfaces();
    EXPECT_EQ(m.GetInterfaceCount(), 3);
    EXPECT_EQ(eth->InOctets, 10u);

    m.SetSource(&net);
    EXPECT_EQ(m.GetInterfaceCount(), 0);
}

// The real system: sockets this test opens are listed with this process as their owner.
TEST(NetworkMonitor, FindsOwnLoopbackSockets)
{
    const int tcp = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(tcp, 0);
    ASSERT_GE(udp, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(tcp, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(tcp, 1), 0);
    ASSERT_EQ(::bind(udp, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    auto portOf = [](int fd) {
        sockaddr_in b{};
        socklen_t len = sizeof b;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&b), &len);
        return quint32(ntohs(b.sin_port));
    };
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();

    TNetworkMonitor m;
    m.RefreshTCP();
    m.RefreshUDP();
    std::unique_ptr<TTCPItem> t;
    for (int i = 0; i < m.GetTCPCount(); ++i)
        if (m.GetTCPItem(i)->LocalPort == portOf(tcp) && m.GetTCPItem(i)->LocalAddress == Addr(127, 0, 0, 1))
            t = m.GetTCPItem(i);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->ProcessID, quint32(::getpid()));
    EXPECT_EQ(t->ProcessPath, self);
    EXPECT_EQ(t->ProcessName, QFileInfo(self).fileName());
    EXPECT_EQ(t->State, TcpListen);
    EXPECT_GE(t->CreateTime.WYear, 2000);
    std::unique_ptr<TUDPItem> u;
    for (int i = 0; i < m.GetUDPCount(); ++i)
        if (m.GetUDPItem(i)->LocalPort == portOf(udp))
            u = m.GetUDPItem(i);
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->ProcessID, quint32(::getpid()));
    EXPECT_EQ(NetworkMonitor::TProcessHelper::GetProcessPath(quint32(::getpid())), self);
    EXPECT_TRUE(NetworkMonitor::TProcessHelper::GetProcessPath(0).isEmpty());
    // This program never ends itself through an endpoint of its own.
    EXPECT_FALSE(t->Terminate());
    ::close(tcp);
    ::close(udp);
}

// Ending the owner acts on the process that held the endpoint, and only on it.
TEST(NetworkMonitor, TerminateEndsOnlyTheListedOwner)
{
    QProcess child;
    child.start(QStringLiteral("/usr/bin/sleep"), {QStringLiteral("60")});
    ASSERT_TRUE(child.waitForStarted(5000));
    const quint32 pid = quint32(child.processId());
    platform::processes::ProcStat st;
    ASSERT_TRUE(platform::processes::ReadStat(qint32(pid), st));

    FakeNetwork net;
    net.tcp =
        std::vector<Endpoint>{Owned(0, 1, 0, 0, TcpListen, pid, st.StartTime + 1),
                              Owned(0, 2, 0, 0, TcpListen, pid, st.StartTime), Owned(0, 3, 0, 0, TcpListen, kFakePid)};
    Endpoint none;
    net.tcp->push_back(none);
    TNetworkMonitor m(nullptr, &net);
    m.RefreshTCP();
    ASSERT_EQ(m.GetTCPCount(), 4);
    EXPECT_FALSE(m.GetTCPItem(0)->Terminate()); // another start: another process
    EXPECT_EQ(child.state(), QProcess::Running);
    EXPECT_FALSE(m.GetTCPItem(2)->Terminate());
    EXPECT_FALSE(m.GetTCPItem(3)->Terminate()); // identifier 0 is never acted on
    EXPECT_TRUE(m.GetTCPItem(1)->Terminate());
    EXPECT_TRUE(child.waitForFinished(5000));
}

namespace {

// Counts what the monitor asks about owners.
class CountingNetwork : public FakeNetwork
{
public:
    int pathQueries = 0;
    int startQueries = 0;

    std::optional<QString> ProcessPath(quint32 pid, quint64 start) override
    {
        ++pathQueries;
        return FakeNetwork::ProcessPath(pid, start);
    }
    std::optional<Moment> ProcessStart(quint32 pid, quint64 start) override
    {
        ++startQueries;
        return FakeNetwork::ProcessStart(pid, start);
    }
};

} // namespace

TEST(NetworkMonitor, EndpointsOfOneOwnerShareOneLookUpPerRefresh)
{
    CountingNetwork net;
    net.paths[{kFakePid, 77}] = QStringLiteral("/opt/app/bin/server");
    net.starts[kFakePid] = Moment{1700000000, 0};
    std::vector<Endpoint> rows;
    for (quint32 port = 1000; port < 1010; ++port)
        rows.push_back(Owned(Addr(10, 0, 0, 1), port, Addr(10, 0, 0, 2), 80, TcpEstablished, kFakePid));
    net.tcp = rows;
    net.udp = rows;
    TNetworkMonitor m(nullptr, &net);

    m.RefreshTCP();
    ASSERT_EQ(m.GetTCPCount(), 10);
    for (int i = 0; i < m.GetTCPCount(); ++i) {
        const auto item = m.GetTCPItem(i);
        EXPECT_EQ(item->ProcessPath, QStringLiteral("/opt/app/bin/server"));
        EXPECT_EQ(item->ProcessName, QStringLiteral("server"));
        EXPECT_EQ(item->CreateTime.WYear, m.GetTCPItem(0)->CreateTime.WYear);
        EXPECT_NE(item->CreateTime.WYear, 0);
    }
    EXPECT_EQ(net.pathQueries, 1);
    EXPECT_EQ(net.startQueries, 1);

    // What was learnt does not outlive its refresh: an owner that ran another program since
    // shows the new one.
    net.paths[{kFakePid, 77}] = QStringLiteral("/opt/app/bin/other");
    m.RefreshUDP();
    ASSERT_EQ(m.GetUDPCount(), 10);
    EXPECT_EQ(m.GetUDPItem(9)->ProcessName, QStringLiteral("other"));
    m.RefreshTCP();
    EXPECT_EQ(m.GetTCPItem(0)->ProcessName, QStringLiteral("other"));
    EXPECT_EQ(net.pathQueries, 3);
}

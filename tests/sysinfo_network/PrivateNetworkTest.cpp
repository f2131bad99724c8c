// The network monitor against the real kernel, in a private network namespace: interfaces
// brought up there, and listeners on the IPv6 wildcard. Nothing here touches or listens on the
// machine's own network; where no namespace can be made (as root, or as a user through a user
// namespace of its own) the tests skip themselves.

#include "platform/network/InterfaceTable.h"
#include "sysinfo/NetworkMonitor.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <poll.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using platform::network::IfOperConnecting;
using platform::network::IfTypeTunnel;
using platform::network::TcpListen;

bool WriteProcFile(const char *Path, const std::string &Text);

std::string Errno(const char *What)
{
    return std::string(What) + ": " + std::strerror(errno);
}

// Sets an interface up (and gives it an IPv4 address, when one is named).
std::string BringUp(const char *Name, const char *Address = nullptr)
{
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return Errno("socket");
    ifreq req{};
    std::strncpy(req.ifr_name, Name, IFNAMSIZ - 1);
    std::string failure;
    if (Address) {
        auto *in = reinterpret_cast<sockaddr_in *>(&req.ifr_addr);
        in->sin_family = AF_INET;
        ::inet_pton(AF_INET, Address, &in->sin_addr);
        if (::ioctl(s, SIOCSIFADDR, &req) != 0)
            failure = Errno("SIOCSIFADDR");
        ::inet_pton(AF_INET, "255.255.255.0", &in->sin_addr);
        if (failure.empty() && ::ioctl(s, SIOCSIFNETMASK, &req) != 0)
            failure = Errno("SIOCSIFNETMASK");
    }
    if (failure.empty() && ::ioctl(s, SIOCGIFFLAGS, &req) != 0)
        failure = Errno("SIOCGIFFLAGS");
    req.ifr_flags = short(req.ifr_flags | IFF_UP);
    if (failure.empty() && ::ioctl(s, SIOCSIFFLAGS, &req) != 0)
        failure = Errno("SIOCSIFFLAGS");
    ::close(s);
    return failure;
}

// Runs Body in a child process, in a network namespace of its own with its own view of /sys and
// its loopback up. The child's report: empty when every check held, else one line per failed
// check; "SKIP: …" when no namespace could be made.
std::string InChild(const std::function<std::string()> &Body)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return Errno("pipe");
    const pid_t child = ::fork();
    if (child < 0)
        return Errno("fork");
    if (child == 0) {
        ::close(pipeFds[0]);
        std::string report;
        bool isPrivate = ::unshare(CLONE_NEWNET | CLONE_NEWNS) == 0;
        std::string why = isPrivate ? std::string() : Errno("no private network namespace");
        if (!isPrivate && errno == EPERM) {
            // Without the right to make one, a user namespace of its own may give it.
            const uid_t uid = ::getuid();
            const gid_t gid = ::getgid();
            isPrivate = ::unshare(CLONE_NEWUSER | CLONE_NEWNET | CLONE_NEWNS) == 0 &&
                WriteProcFile("/proc/self/setgroups", "deny") &&
                WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") &&
                WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
            if (!isPrivate)
                why += "; " + Errno("no user namespace either");
        }
        if (isPrivate && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            why = Errno("mounts cannot be made private");
            isPrivate = false;
        }
        if (isPrivate && ::mount("sysfs", "/sys", "sysfs", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) {
            why = Errno("no sysfs of the namespace");
            isPrivate = false;
        }
        if (isPrivate) {
            const std::string up = BringUp("lo");
            if (!up.empty()) {
                why = "loopback of the namespace: " + up;
                isPrivate = false;
            }
        }
        report = isPrivate ? Body() : "SKIP: " + why;
        const ssize_t written = ::write(pipeFds[1], report.data(), report.size());
        ::_exit(written == ssize_t(report.size()) ? 0 : 1);
    }
    ::close(pipeFds[1]);
    std::string report;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        report.append(buffer, std::size_t(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        report += "\nthe child ended abnormally";
    return report;
}

bool WriteProcFile(const char *Path, const std::string &Text)
{
    const int fd = ::open(Path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, Text.data(), Text.size()) == ssize_t(Text.size());
    ::close(fd);
    return ok;
}

quint32 Ipv4(const char *Text)
{
    in_addr a{};
    ::inet_pton(AF_INET, Text, &a);
    return a.s_addr;
}

} // namespace

TEST(PrivateNetwork, InterfacesThatAreUpAreConnectedAndCountTheirTraffic)
{
    const std::string report = InChild([] {
        std::string failures;
        auto check = [&](bool Ok, const std::string &What) {
            if (!Ok)
                failures += What + "\n";
        };
        // A VPN's tunnel: its state is "unknown" while a program holds it open.
        const int tun = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
        if (tun >= 0) {
            ifreq req{};
            req.ifr_flags = IFF_TUN | IFF_NO_PI;
            std::strncpy(req.ifr_name, "tvvpn0", IFNAMSIZ - 1);
            if (::ioctl(tun, TUNSETIFF, &req) != 0) {
                ::close(tun);
                return Errno("TUNSETIFF");
            }
            const std::string up = BringUp("tvvpn0", "10.77.0.1");
            if (!up.empty())
                return up;
        }

        TNetworkMonitor monitor;
        monitor.RefreshInterfaces();
        const TNetInterface *lo = nullptr, *vpn = nullptr;
        for (int i = 0; i < monitor.GetInterfaceCount(); ++i) {
            const TNetInterface *item = monitor.GetInterface(i);
            if (item->Name == QLatin1String("lo"))
                lo = item;
            if (item->Name == QLatin1String("tvvpn0"))
                vpn = item;
        }
        check(lo != nullptr, "the loopback is listed");
        if (lo) {
            check(lo->OperStatus >= IfOperConnecting,
                  "the loopback is connected, state " + std::to_string(lo->OperStatus));
            check(lo->IPAddress == Ipv4("127.0.0.1"), "the loopback has its address");
        }
        if (tun < 0)
            return failures;
        check(vpn != nullptr, "the tunnel is listed");
        if (!vpn)
            return failures;
        check(vpn->OperStatus >= IfOperConnecting, "the tunnel is connected, state " + std::to_string(vpn->OperStatus));
        check(vpn->InterfaceType == IfTypeTunnel, "the tunnel is a tunnel");
        check(vpn->IPAddress == Ipv4("10.77.0.1"), "the tunnel has its address");
        check(vpn->MACText.isEmpty(), "the tunnel has no hardware address");

        // What is sent into the tunnel is its traffic of the next refresh.
        const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(9);
        to.sin_addr.s_addr = Ipv4("10.77.0.2");
        const char payload[500] = {};
        for (int i = 0; i < 4; ++i)
            check(::sendto(s, payload, sizeof payload, 0, reinterpret_cast<sockaddr *>(&to), sizeof to) ==
                      ssize_t(sizeof payload),
                  Errno("sendto"));
        ::close(s);
        // The tunnel counts a packet as sent once the program behind it has taken it (with
        // whatever the interface sent of its own accord).
        char packet[2048];
        std::size_t taken = 0;
        for (int wait = 2000;; wait = 200) {
            pollfd p{tun, POLLIN, 0};
            if (::poll(&p, 1, wait) != 1)
                break;
            const ssize_t n = ::read(tun, packet, sizeof packet);
            if (n > 0 && std::size_t(n) == 28 + sizeof payload)
                ++taken;
        }
        check(taken == 4, "the tunnel carried the datagrams: " + std::to_string(taken));
        monitor.RefreshInterfaces();
        check(vpn->OutDelta >= 4 * (28 + sizeof payload),
              "the tunnel counts what was sent: " + std::to_string(vpn->OutDelta));
        ::close(tun);
        return failures;
    });
    if (report.rfind("SKIP: ", 0) == 0)
        GTEST_SKIP() << report.substr(6);
    EXPECT_EQ(report, "");
}

TEST(PrivateNetwork, ADualStackListenerIsAlsoTheIPv4EndpointItServes)
{
    const std::string report = InChild([] {
        std::string failures;
        auto check = [&](bool Ok, const std::string &What) {
            if (!Ok)
                failures += What + "\n";
        };
        auto listener = [&](int Type, bool V6Only, quint16 &Port) {
            const int s = ::socket(AF_INET6, Type | SOCK_CLOEXEC, 0);
            const int v6only = V6Only ? 1 : 0;
            ::setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only);
            sockaddr_in6 a{};
            a.sin6_family = AF_INET6;
            a.sin6_addr = in6addr_any;
            socklen_t len = sizeof a;
            if (s < 0 || ::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
                (Type == SOCK_STREAM && ::listen(s, 4) != 0) ||
                ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
                failures += Errno("an IPv6 listener") + "\n";
                return -1;
            }
            Port = ntohs(a.sin6_port);
            return s;
        };
        quint16 dualTcp = 0, onlyTcp = 0, dualUdp = 0;
        const int a = listener(SOCK_STREAM, false, dualTcp);
        const int b = listener(SOCK_STREAM, true, onlyTcp);
        const int c = listener(SOCK_DGRAM, false, dualUdp);
        if (a < 0 || b < 0 || c < 0)
            return failures;

        // An IPv4 client reaches it.
        const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(dualTcp);
        to.sin_addr.s_addr = Ipv4("127.0.0.1");
        check(::connect(client, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0, Errno("IPv4 connect"));

        TNetworkMonitor monitor;
        monitor.RefreshTCP();
        monitor.RefreshUDP();
        bool listed = false, onlyListed = false;
        for (int i = 0; i < monitor.GetTCPCount(); ++i) {
            const auto t = monitor.GetTCPItem(i);
            if (t->LocalPort == dualTcp && t->State == TcpListen) {
                listed = true;
                check(t->LocalAddress == 0 && t->RemoteAddress == 0, "the listener is 0.0.0.0");
                check(t->ProcessID == quint32(::getpid()), "the listener's owner is this process");
            }
            if (t->LocalPort == onlyTcp)
                onlyListed = true;
        }
        check(listed, "the dual-stack TCP listener on port " + std::to_string(dualTcp) + " is listed");
        check(!onlyListed, "the IPv6-only listener is not an IPv4 endpoint");
        bool udpListed = false;
        for (int i = 0; i < monitor.GetUDPCount(); ++i) {
            const auto u = monitor.GetUDPItem(i);
            if (u->LocalPort == dualUdp && u->LocalAddress == 0)
                udpListed = u->ProcessID == quint32(::getpid());
        }
        check(udpListed, "the dual-stack UDP socket is listed as 0.0.0.0 with its owner");
        for (int fd : {client, a, b, c})
            ::close(fd);
        return failures;
    });
    if (report.rfind("SKIP: ", 0) == 0)
        GTEST_SKIP() << report.substr(6);
    EXPECT_EQ(report, "");
}

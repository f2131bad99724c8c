#include "platform/network/SocketTable.h"

#include "platform/processes/ProcFs.h"
#include "platform/system/StatusReaders.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace platform::network {

namespace {

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return c - 'a' + 10;
}

// Exactly `digits` hexadecimal digits.
bool parseHex(QByteArrayView text, qsizetype digits, quint32 &value)
{
    if (text.size() != digits)
        return false;
    quint32 v = 0;
    for (char c : text) {
        if (!isHexDigit(c))
            return false;
        v = (v << 4) | quint32(hexValue(c));
    }
    value = v;
    return true;
}

using platform::system::parseDecimal;

// "AAAAAAAA:PPPP" (IPv4) or 32 digits, a colon and a port (IPv6). The kernel prints each
// 32-bit word of the address as a number in the machine's own byte order, so the word's
// bytes in memory are the address bytes in network order.
bool parseEndpoint(QByteArrayView text, bool ipv6, quint8 (&bytes)[16], quint32 &port)
{
    const qsizetype colon = text.indexOf(':');
    const qsizetype addrDigits = ipv6 ? 32 : 8;
    if (colon != addrDigits)
        return false;
    quint32 p = 0;
    if (!parseHex(text.sliced(colon + 1), 4, p))
        return false;
    for (qsizetype w = 0; w < addrDigits / 8; ++w) {
        quint32 word = 0;
        if (!parseHex(text.sliced(w * 8, 8), 8, word))
            return false;
        std::memcpy(bytes + w * 4, &word, 4);
    }
    port = p;
    return true;
}

// An IPv6 address that carries an IPv4 one (::ffff:a.b.c.d), or all zeros.
bool ipv4OfMapped(const quint8 (&bytes)[16], bool allowAny, quint32 &address)
{
    static const quint8 prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    static const quint8 zeros[16] = {};
    if (std::memcmp(bytes, prefix, 12) == 0) {
        std::memcpy(&address, bytes + 12, 4);
        return true;
    }
    if (allowAny && std::memcmp(bytes, zeros, 16) == 0) {
        address = 0;
        return true;
    }
    return false;
}

// One line split at blanks; false for a line with more fields than any table has.
bool splitFields(QByteArrayView line, QByteArrayView (&fields)[24], int &count)
{
    count = 0;
    qsizetype i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size())
            break;
        const qsizetype start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (count == 24)
            return false;
        fields[count++] = line.sliced(start, i - start);
    }
    return true;
}

enum class LineResult { Row, Skipped, Malformed };

LineResult parseLine(QByteArrayView line, bool tcp, bool ipv6, const QSet<quint64> *dualStack, SocketRow &row)
{
    QByteArrayView f[24];
    int n = 0;
    if (!splitFields(line, f, n))
        return LineResult::Malformed;
    if (n == 0)
        return LineResult::Skipped;
    // "sl:" then local, remote, state, queues, timer, retransmits, uid, timeout, inode.
    if (n < 10 || f[0].size() < 2 || !f[0].endsWith(':'))
        return LineResult::Malformed;
    quint64 slot = 0, uid = 0, inode = 0;
    if (!parseDecimal(f[0].chopped(1), slot) || !parseDecimal(f[7], uid) || uid > 0xFFFFFFFFull ||
        !parseDecimal(f[9], inode))
        return LineResult::Malformed;
    quint8 local[16] = {}, remote[16] = {};
    quint32 localPort = 0, remotePort = 0, kernelState = 0;
    if (!parseEndpoint(f[1], ipv6, local, localPort) || !parseEndpoint(f[2], ipv6, remote, remotePort) ||
        !parseHex(f[3], 2, kernelState))
        return LineResult::Malformed;
    row = SocketRow();
    if (tcp) {
        row.state = tcpStateFromKernel(kernelState);
        if (row.state == 0)
            return LineResult::Malformed;
    }
    if (ipv6) {
        // The wildcard of a dual-stack socket is also the IPv4 wildcard.
        const bool takesIPv4 = dualStack && inode != 0 && dualStack->contains(inode);
        if (!ipv4OfMapped(local, takesIPv4, row.localAddress) || !ipv4OfMapped(remote, true, row.remoteAddress))
            return LineResult::Skipped; // a true IPv6 endpoint: no room for it in an IPv4 row
    } else {
        std::memcpy(&row.localAddress, local, 4);
        std::memcpy(&row.remoteAddress, remote, 4);
    }
    row.localPort = localPort;
    row.remotePort = remotePort;
    row.uid = quint32(uid);
    row.inode = inode;
    return LineResult::Row;
}

} // namespace

quint8 tcpStateFromKernel(unsigned kernelState)
{
    switch (kernelState) {
    case 1:
        return TcpEstablished;
    case 2:
        return TcpSynSent;
    case 3:
        return TcpSynReceived;
    case 4:
        return TcpFinWait1;
    case 5:
        return TcpFinWait2;
    case 6:
        return TcpTimeWait;
    case 7:
        return TcpClosed;
    case 8:
        return TcpCloseWait;
    case 9:
        return TcpLastAck;
    case 10:
        return TcpListen;
    case 11:
        return TcpClosing;
    case 12:
        return TcpSynReceived; // a request socket still in its handshake
    default:
        return 0;
    }
}

void parseSocketTable(QByteArrayView text, bool tcp, bool ipv6, std::vector<SocketRow> &rows, int *rejected,
                      const QSet<quint64> *dualStack)
{
    int bad = 0;
    bool header = true;
    qsizetype at = 0;
    while (at < text.size()) {
        qsizetype end = text.indexOf('\n', at);
        if (end < 0)
            end = text.size();
        QByteArrayView line = text.sliced(at, end - at);
        at = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (header) {
            header = false;
            if (line.trimmed().startsWith("sl"))
                continue;
        }
        SocketRow row;
        switch (parseLine(line, tcp, ipv6, dualStack, row)) {
        case LineResult::Row:
            rows.push_back(row);
            break;
        case LineResult::Malformed:
            ++bad;
            break;
        case LineResult::Skipped:
            break;
        }
    }
    if (rejected)
        *rejected = bad;
}

bool readSocketTable(const QString &path, bool tcp, bool ipv6, std::vector<SocketRow> &rows,
                     const QSet<quint64> *dualStack)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    // A proc file reports no size: read until its end.
    const QByteArray text = f.readAll();
    parseSocketTable(text, tcp, ipv6, rows, nullptr, dualStack);
    return true;
}

std::optional<QSet<quint64>> dualStackWildcardInodes(bool tcp)
{
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0)
        return std::nullopt;
    // The kernel answers at once; the limit only guards against a reply that never ends.
    timeval timeout{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

    struct
    {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    message.header.nlmsg_seq = 1;
    message.request.sdiag_family = AF_INET6;
    message.request.sdiag_protocol = quint8(tcp ? IPPROTO_TCP : IPPROTO_UDP);
    message.request.idiag_states = ~0u;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd, &message, sizeof message, 0, reinterpret_cast<const sockaddr *>(&kernel), sizeof kernel) < 0) {
        ::close(fd);
        return std::nullopt;
    }

    QSet<quint64> inodes;
    alignas(nlmsghdr) char buffer[32768];
    bool done = false;
    bool failed = false;
    while (!done && !failed) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            failed = true;
            break;
        }
        int left = int(got);
        // The kernel's NLMSG_OK compares a signed length with an unsigned one: spelt out instead.
        auto whole = [](const nlmsghdr *h, int left) {
            return left >= int(sizeof(nlmsghdr)) && h->nlmsg_len >= sizeof(nlmsghdr) && h->nlmsg_len <= unsigned(left);
        };
        for (auto *h = reinterpret_cast<nlmsghdr *>(buffer); whole(h, left); h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_type == NLMSG_DONE) {
                done = true;
                break;
            }
            if (h->nlmsg_type == NLMSG_ERROR || h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
                failed = true;
                break;
            }
            const auto *msg = static_cast<const inet_diag_msg *>(NLMSG_DATA(h));
            if (msg->idiag_family != AF_INET6)
                continue;
            static const __be32 any[4] = {};
            if (std::memcmp(msg->id.idiag_src, any, sizeof any) != 0)
                continue;
            int attrLeft = int(h->nlmsg_len - NLMSG_LENGTH(sizeof(inet_diag_msg)));
            for (auto *a = reinterpret_cast<const rtattr *>(msg + 1); RTA_OK(a, attrLeft); a = RTA_NEXT(a, attrLeft)) {
                if (a->rta_type == INET_DIAG_SKV6ONLY && RTA_PAYLOAD(a) >= 1) {
                    if (*static_cast<const quint8 *>(RTA_DATA(a)) == 0)
                        inodes.insert(msg->idiag_inode);
                    break;
                }
            }
        }
    }
    ::close(fd);
    if (failed)
        return std::nullopt;
    return inodes;
}

std::optional<quint64> socketInodeOfLink(QByteArrayView link)
{
    if (!link.startsWith("socket:[") || !link.endsWith(']') || link.size() < 10)
        return std::nullopt;
    quint64 inode = 0;
    if (!parseDecimal(link.sliced(8, link.size() - 9), inode))
        return std::nullopt;
    return inode;
}

QHash<quint64, SocketOwner> socketOwners(const QString &procRoot)
{
    QHash<quint64, SocketOwner> owners;
    const QByteArray root = QFile::encodeName(procRoot);
    DIR *proc = ::opendir(root.constData());
    if (!proc)
        return owners;
    const bool realProc = procRoot == QLatin1String("/proc");
    while (const dirent *e = ::readdir(proc)) {
        quint64 pid = 0;
        if (!parseDecimal(QByteArrayView(e->d_name, qsizetype(std::strlen(e->d_name))), pid) || pid == 0 ||
            pid > 0x7FFFFFFFull)
            continue;
        const QByteArray fdDir = root + '/' + e->d_name + "/fd";
        const int dirFd = ::open(fdDir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0)
            continue; // another user's process, or gone
        DIR *fds = ::fdopendir(dirFd);
        if (!fds) {
            ::close(dirFd);
            continue;
        }
        bool any = false;
        quint64 startTime = 0;
        while (const dirent *d = ::readdir(fds)) {
            if (d->d_name[0] == '.')
                continue;
            char link[64];
            const ssize_t len = ::readlinkat(dirFd, d->d_name, link, sizeof link);
            if (len <= 0 || len >= ssize_t(sizeof link))
                continue;
            const auto inode = socketInodeOfLink(QByteArrayView(link, qsizetype(len)));
            if (!inode)
                continue;
            if (!any) {
                any = true;
                platform::processes::ProcStat st;
                if (realProc && platform::processes::readStat(qint32(pid), st))
                    startTime = st.startTime;
            }
            auto it = owners.find(*inode);
            if (it == owners.end())
                owners.insert(*inode, SocketOwner{quint32(pid), startTime});
            else if (quint32(pid) < it->pid)
                *it = SocketOwner{quint32(pid), startTime};
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return owners;
}

} // namespace platform::network

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

bool IsHexDigit(char C)
{
    return (C >= '0' && C <= '9') || (C >= 'A' && C <= 'F') || (C >= 'a' && C <= 'f');
}

int HexValue(char C)
{
    if (C >= '0' && C <= '9')
        return C - '0';
    if (C >= 'A' && C <= 'F')
        return C - 'A' + 10;
    return C - 'a' + 10;
}

// Exactly `Digits` hexadecimal digits.
bool ParseHex(QByteArrayView Text, qsizetype Digits, quint32 &Value)
{
    if (Text.size() != Digits)
        return false;
    quint32 v = 0;
    for (char c : Text) {
        if (!IsHexDigit(c))
            return false;
        v = (v << 4) | quint32(HexValue(c));
    }
    Value = v;
    return true;
}

using platform::system::ParseDecimal;

// "AAAAAAAA:PPPP" (IPv4) or 32 digits, a colon and a port (IPv6). The kernel prints each
// 32-bit word of the address as a number in the machine's own byte order, so the word's
// bytes in memory are the address bytes in network order.
bool ParseEndpoint(QByteArrayView Text, bool Ipv6, quint8 (&Bytes)[16], quint32 &Port)
{
    const qsizetype colon = Text.indexOf(':');
    const qsizetype addrDigits = Ipv6 ? 32 : 8;
    if (colon != addrDigits)
        return false;
    quint32 p = 0;
    if (!ParseHex(Text.sliced(colon + 1), 4, p))
        return false;
    for (qsizetype w = 0; w < addrDigits / 8; ++w) {
        quint32 word = 0;
        if (!ParseHex(Text.sliced(w * 8, 8), 8, word))
            return false;
        std::memcpy(Bytes + w * 4, &word, 4);
    }
    Port = p;
    return true;
}

// An IPv6 address that carries an IPv4 one (::ffff:a.b.c.d), or all zeros.
bool Ipv4OfMapped(const quint8 (&Bytes)[16], bool AllowAny, quint32 &Address)
{
    static const quint8 kPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    static const quint8 kZeros[16] = {};
    if (std::memcmp(Bytes, kPrefix, 12) == 0) {
        std::memcpy(&Address, Bytes + 12, 4);
        return true;
    }
    if (AllowAny && std::memcmp(Bytes, kZeros, 16) == 0) {
        Address = 0;
        return true;
    }
    return false;
}

// One line split at blanks; false for a line with more fields than any table has.
bool SplitFields(QByteArrayView Line, QByteArrayView (&Fields)[24], int &Count)
{
    Count = 0;
    qsizetype i = 0;
    while (i < Line.size()) {
        while (i < Line.size() && (Line[i] == ' ' || Line[i] == '\t'))
            ++i;
        if (i >= Line.size())
            break;
        const qsizetype start = i;
        while (i < Line.size() && Line[i] != ' ' && Line[i] != '\t')
            ++i;
        if (Count == 24)
            return false;
        Fields[Count++] = Line.sliced(start, i - start);
    }
    return true;
}

enum class LineResult { Row, Skipped, Malformed };

LineResult ParseLine(QByteArrayView Line, bool Tcp, bool Ipv6, const QSet<quint64> *DualStack, SocketRow &Row)
{
    QByteArrayView f[24];
    int n = 0;
    if (!SplitFields(Line, f, n))
        return LineResult::Malformed;
    if (n == 0)
        return LineResult::Skipped;
    // "sl:" then local, remote, state, queues, timer, retransmits, uid, timeout, inode.
    if (n < 10 || f[0].size() < 2 || !f[0].endsWith(':'))
        return LineResult::Malformed;
    quint64 slot = 0, uid = 0, inode = 0;
    if (!ParseDecimal(f[0].chopped(1), slot) || !ParseDecimal(f[7], uid) || uid > 0xFFFFFFFFull ||
        !ParseDecimal(f[9], inode))
        return LineResult::Malformed;
    quint8 local[16] = {}, remote[16] = {};
    quint32 localPort = 0, remotePort = 0, kernelState = 0;
    if (!ParseEndpoint(f[1], Ipv6, local, localPort) || !ParseEndpoint(f[2], Ipv6, remote, remotePort) ||
        !ParseHex(f[3], 2, kernelState))
        return LineResult::Malformed;
    Row = SocketRow();
    if (Tcp) {
        Row.State = TcpStateFromKernel(kernelState);
        if (Row.State == 0)
            return LineResult::Malformed;
    }
    if (Ipv6) {
        // The wildcard of a dual-stack socket is also the IPv4 wildcard.
        const bool takesIPv4 = DualStack && inode != 0 && DualStack->contains(inode);
        if (!Ipv4OfMapped(local, takesIPv4, Row.LocalAddress) || !Ipv4OfMapped(remote, true, Row.RemoteAddress))
            return LineResult::Skipped; // a true IPv6 endpoint: no room for it in an IPv4 row
    } else {
        std::memcpy(&Row.LocalAddress, local, 4);
        std::memcpy(&Row.RemoteAddress, remote, 4);
    }
    Row.LocalPort = localPort;
    Row.RemotePort = remotePort;
    Row.Uid = quint32(uid);
    Row.Inode = inode;
    return LineResult::Row;
}

} // namespace

quint8 TcpStateFromKernel(unsigned KernelState)
{
    switch (KernelState) {
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

void ParseSocketTable(QByteArrayView Text, bool Tcp, bool Ipv6, std::vector<SocketRow> &Rows, int *Rejected,
                      const QSet<quint64> *DualStack)
{
    int bad = 0;
    bool header = true;
    qsizetype at = 0;
    while (at < Text.size()) {
        qsizetype end = Text.indexOf('\n', at);
        if (end < 0)
            end = Text.size();
        QByteArrayView line = Text.sliced(at, end - at);
        at = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (header) {
            header = false;
            if (line.trimmed().startsWith("sl"))
                continue;
        }
        SocketRow row;
        switch (ParseLine(line, Tcp, Ipv6, DualStack, row)) {
        case LineResult::Row:
            Rows.push_back(row);
            break;
        case LineResult::Malformed:
            ++bad;
            break;
        case LineResult::Skipped:
            break;
        }
    }
    if (Rejected)
        *Rejected = bad;
}

bool ReadSocketTable(const QString &Path, bool Tcp, bool Ipv6, std::vector<SocketRow> &Rows,
                     const QSet<quint64> *DualStack)
{
    QFile f(Path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    // A proc file reports no size: read until its end.
    const QByteArray text = f.readAll();
    ParseSocketTable(text, Tcp, Ipv6, Rows, nullptr, DualStack);
    return true;
}

std::optional<QSet<quint64>> DualStackWildcardInodes(bool Tcp)
{
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0)
        return std::nullopt;
    // The kernel answers at once; the limit only guards against a reply that never ends.
    timeval timeout{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

    struct
    {
        nlmsghdr Header;
        inet_diag_req_v2 Request;
    } message{};
    message.Header.nlmsg_len = sizeof message;
    message.Header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.Header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    message.Header.nlmsg_seq = 1;
    message.Request.sdiag_family = AF_INET6;
    message.Request.sdiag_protocol = quint8(Tcp ? IPPROTO_TCP : IPPROTO_UDP);
    message.Request.idiag_states = ~0u;
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
        auto whole = [](const nlmsghdr *H, int Left) {
            return Left >= int(sizeof(nlmsghdr)) && H->nlmsg_len >= sizeof(nlmsghdr) && H->nlmsg_len <= unsigned(Left);
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
            static const __be32 kAny[4] = {};
            if (std::memcmp(msg->id.idiag_src, kAny, sizeof kAny) != 0)
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

std::optional<quint64> SocketInodeOfLink(QByteArrayView Link)
{
    if (!Link.startsWith("socket:[") || !Link.endsWith(']') || Link.size() < 10)
        return std::nullopt;
    quint64 inode = 0;
    if (!ParseDecimal(Link.sliced(8, Link.size() - 9), inode))
        return std::nullopt;
    return inode;
}

QHash<quint64, SocketOwner> SocketOwners(const QString &ProcRoot)
{
    QHash<quint64, SocketOwner> owners;
    const QByteArray root = QFile::encodeName(ProcRoot);
    DIR *proc = ::opendir(root.constData());
    if (!proc)
        return owners;
    const bool realProc = ProcRoot == QLatin1String("/proc");
    while (const dirent *e = ::readdir(proc)) {
        quint64 pid = 0;
        if (!ParseDecimal(QByteArrayView(e->d_name, qsizetype(std::strlen(e->d_name))), pid) || pid == 0 ||
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
            const auto inode = SocketInodeOfLink(QByteArrayView(link, qsizetype(len)));
            if (!inode)
                continue;
            if (!any) {
                any = true;
                platform::processes::ProcStat st;
                if (realProc && platform::processes::ReadStat(qint32(pid), st))
                    startTime = st.StartTime;
            }
            auto it = owners.find(*inode);
            if (it == owners.end())
                owners.insert(*inode, SocketOwner{quint32(pid), startTime});
            else if (quint32(pid) < it->Pid)
                *it = SocketOwner{quint32(pid), startTime};
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return owners;
}

} // namespace platform::network

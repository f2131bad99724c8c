#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QSet>
#include <QString>

#include <optional>
#include <vector>

namespace platform::network {

// TCP states by the numbers the display texts use: 1 closed, 2 listen, 3 SYN sent,
// 4 SYN received, 5 established, 6 FIN wait 1, 7 FIN wait 2, 8 close wait, 9 closing,
// 10 last ACK, 11 time wait, 12 delete TCB.
enum : quint8 {
    TcpClosed = 1,
    TcpListen,
    TcpSynSent,
    TcpSynReceived,
    TcpEstablished,
    TcpFinWait1,
    TcpFinWait2,
    TcpCloseWait,
    TcpClosing,
    TcpLastAck,
    TcpTimeWait,
    TcpDeleteTcb,
};

// The display number of a kernel TCP state (1 established … 12 new SYN received); 0 for
// a number the kernel does not use.
quint8 TcpStateFromKernel(unsigned KernelState);

// One row of a kernel socket table, IPv4 only. Addresses are kept as their four bytes in
// network order (the first byte is the first dotted number); ports in host order.
struct SocketRow
{
    quint8 State = 0; // display number (TCP only; 0 for UDP)
    quint32 LocalAddress = 0;
    quint32 LocalPort = 0;
    quint32 RemoteAddress = 0;
    quint32 RemotePort = 0;
    quint32 Uid = 0;
    quint64 Inode = 0; // 0: no socket file (time wait, or held by the kernel)
};

// Parses the text of /proc/net/tcp or udp (IPv4 rows) or tcp6 or udp6 (`Ipv6`: only rows
// whose addresses are IPv4 addresses mapped into IPv6 are kept, as IPv4; so is a socket bound
// to the IPv6 wildcard whose inode is in `DualStack`, as 0.0.0.0, since it takes IPv4 peers
// too). The header line is passed over; a malformed line is refused and counted in `Rejected`,
// never taken in part. TCP rows carry their state; a TCP row with a state the kernel does not
// use is malformed.
void ParseSocketTable(QByteArrayView Text, bool Tcp, bool Ipv6, std::vector<SocketRow> &Rows, int *Rejected = nullptr,
                      const QSet<quint64> *DualStack = nullptr);

// Reads a socket table file; false when it cannot be read.
bool ReadSocketTable(const QString &Path, bool Tcp, bool Ipv6, std::vector<SocketRow> &Rows,
                     const QSet<quint64> *DualStack = nullptr);

// The inodes of this network namespace's IPv6 TCP or UDP sockets bound to the wildcard address
// that accept IPv4 peers too (IPV6_V6ONLY off, the default of most servers), as the kernel's
// socket diagnostics report them. Nothing when the kernel cannot be asked.
std::optional<QSet<quint64>> DualStackWildcardInodes(bool Tcp);

// The inode of a descriptor link "socket:[N]"; nothing for any other link.
std::optional<quint64> SocketInodeOfLink(QByteArrayView Link);

// The owner of a socket: a process that holds it open, with that process's start time
// (clock ticks after boot) to tell it from a later user of the identifier.
struct SocketOwner
{
    quint32 Pid = 0;
    quint64 StartTime = 0;
};

// Every socket inode that some readable descriptor of some process under `ProcRoot`
// refers to, with its owner (the lowest identifier when several processes share it).
// Processes whose descriptors cannot be read are passed over.
QHash<quint64, SocketOwner> SocketOwners(const QString &ProcRoot = QStringLiteral("/proc"));

} // namespace platform::network

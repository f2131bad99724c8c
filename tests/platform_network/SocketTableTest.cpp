#include "common/TempDir.h"
#include "platform_network/Addr.h"
#include "platform/network/NetworkSource.h"
#include "platform/network/SocketTable.h"
#include "platform/processes/ProcFs.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace platform::network;
using nettest::Addr;

namespace {

// The kernel's text of an IPv4 address: the 32-bit word in the machine's byte order.
QByteArray Word(quint32 networkOrder)
{
    return QByteArray::number(networkOrder, 16).rightJustified(8, '0').toUpper();
}

const QByteArray kHeader =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n";

QByteArray Line(int slot, quint32 local, int lport, quint32 remote, int rport, const char *state, quint64 inode,
                int uid = 1000)
{
    return QByteArray("   ") + QByteArray::number(slot) + ": " + Word(local) + ':' +
        QByteArray::number(lport, 16).rightJustified(4, '0').toUpper() + ' ' + Word(remote) + ':' +
        QByteArray::number(rport, 16).rightJustified(4, '0').toUpper() + ' ' + state +
        " 00000000:00000000 00:00000000 00000000  " + QByteArray::number(uid) + "        0 " +
        QByteArray::number(inode) + " 1 0000000000000000 100 0 0 10 0\n";
}

} // namespace

TEST(SocketTable, ParsesTcpRowsWithHostOrderPortsAndDisplayStates)
{
    const QByteArray text = kHeader + Line(0, Addr(127, 0, 0, 1), 0x0CEA, 0, 0, "0A", 28917) +
        Line(1, Addr(192, 168, 1, 5), 0xC350, Addr(93, 184, 216, 34), 0x0050, "01", 4242, 0) +
        Line(2, Addr(10, 0, 0, 1), 22, Addr(10, 0, 0, 2), 5555, "06", 0);
    std::vector<SocketRow> rows;
    int rejected = -1;
    ParseSocketTable(text, true, false, rows, &rejected);
    EXPECT_EQ(rejected, 0);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].LocalAddress, Addr(127, 0, 0, 1));
    EXPECT_EQ(rows[0].LocalPort, 0x0CEAu);
    EXPECT_EQ(rows[0].State, TcpListen);
    EXPECT_EQ(rows[0].Inode, 28917u);
    EXPECT_EQ(rows[0].Uid, 1000u);
    EXPECT_EQ(rows[1].RemoteAddress, Addr(93, 184, 216, 34));
    EXPECT_EQ(rows[1].RemotePort, 80u);
    EXPECT_EQ(rows[1].State, TcpEstablished);
    EXPECT_EQ(rows[2].State, TcpTimeWait);
    EXPECT_EQ(rows[2].Inode, 0u);
}

TEST(SocketTable, MalformedLinesAreRefusedAndTheRestKept)
{
    const QByteArray good = Line(0, Addr(1, 2, 3, 4), 80, 0, 0, "0A", 7);
    const QByteArray bad[] = {
        "   1: 0100007F:0050 00000000:0000 0A\n",                                         // too few fields
        Line(2, 0, 80, 0, 0, "0D", 8),                                                    // no such state
        Line(3, 0, 80, 0, 0, "0G", 9),                                                    // not hexadecimal
        "   4: 0100007:0050 00000000:0000 0A 0:0 0:0 0 0 0 10 1\n",                       // short address
        "   5: 0100007F:50 00000000:0000 0A 0:0 0:0 0 0 0 10 1\n",                        // short port
        "   6: 0100007F0050 00000000:0000 0A 0:0 0:0 0 0 0 10 1\n",                       // no colon
        "   x: 0100007F:0050 00000000:0000 0A 0:0 0:0 0 0 0 10 1\n",                      // slot
        "   7: 0100007F:0050 00000000:0000 0A 0:0 0:0 0 -1 0 10 1\n",                     // uid
        "   8: 0100007F:0050 00000000:0000 0A 0:0 0:0 0 0 0 99999999999999999999999 1\n", // inode overflow
        "   9: 0100007F:0050 00000000:0000 0A 0:0 0:0 0 4294967296 0 10 1\n",             // uid too large
    };
    QByteArray text = kHeader + good;
    for (const QByteArray &b : bad)
        text += b;
    text += good;
    std::vector<SocketRow> rows;
    int rejected = 0;
    ParseSocketTable(text, true, false, rows, &rejected);
    EXPECT_EQ(rejected, int(std::size(bad)));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].LocalAddress, Addr(1, 2, 3, 4));
}

TEST(SocketTable, Ipv6TableKeepsOnlyMappedIPv4Endpoints)
{
    // ::ffff:127.0.0.1 -> words 0, 0, ffff0000 (as memory bytes 00 00 ff ff), 127.0.0.1.
    quint32 mapped = 0;
    const unsigned char ffff[4] = {0, 0, 0xFF, 0xFF};
    std::memcpy(&mapped, ffff, 4);
    const QByteArray v4mapped = "00000000"
                                "00000000" +
        Word(mapped) + Word(Addr(127, 0, 0, 1));
    const QByteArray any6 = QByteArray(32, '0');
    quint32 doc = 0;
    const unsigned char db8[4] = {0x20, 0x01, 0x0D, 0xB8};
    std::memcpy(&doc, db8, 4);
    const QByteArray real6 = Word(doc) +
        "00000000"
        "00000000"
        "01000000";
    auto line6 = [](const QByteArray &l, const QByteArray &r, const char *st) {
        return QByteArray("   0: ") + l + ":1F90 " + r + ":0000 " + st +
            " 00000000:00000000 00:00000000 00000000  1000        0 77 1 0000000000000000\n";
    };
    const QByteArray text = kHeader + line6(v4mapped, any6, "0A") + line6(real6, any6, "0A") + line6(any6, any6, "0A") +
        line6(v4mapped, v4mapped, "01") + "   0: 0000:1F90 " + any6 + ":0000 0A 0:0 0:0 0 0 0 10\n";
    std::vector<SocketRow> rows;
    int rejected = -1;
    ParseSocketTable(text, true, true, rows, &rejected);
    EXPECT_EQ(rejected, 1); // the short address; true IPv6 endpoints are not faults
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].LocalAddress, Addr(127, 0, 0, 1));
    EXPECT_EQ(rows[0].LocalPort, 8080u);
    EXPECT_EQ(rows[0].RemoteAddress, 0u);
    EXPECT_EQ(rows[1].RemoteAddress, Addr(127, 0, 0, 1));
    EXPECT_EQ(rows[1].State, TcpEstablished);
}

TEST(SocketTable, WildcardOfADualStackSocketIsAlsoTheIPv4Wildcard)
{
    const QByteArray any6 = QByteArray(32, '0');
    auto line6 = [&](const char *Port, const char *State, int Inode) {
        return QByteArray("   0: ") + any6 + ':' + Port + ' ' + any6 + ":0000 " + State +
            " 00000000:00000000 00:00000000 00000000  1000        0 " + QByteArray::number(Inode) +
            " 1 0000000000000000\n";
    };
    const QByteArray text = kHeader + line6("1F90", "0A", 77) + line6("0050", "0A", 78) + line6("0035", "07", 79);
    // IPv4 clients reach [::]:8080 and [::]:53 (UDP rows read "closed"); [::]:80 is IPv6 only.
    const QSet<quint64> dualStack{77, 79};
    std::vector<SocketRow> rows;
    int rejected = -1;
    ParseSocketTable(text, true, true, rows, &rejected, &dualStack);
    EXPECT_EQ(rejected, 0);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].LocalAddress, 0u);
    EXPECT_EQ(rows[0].LocalPort, 8080u);
    EXPECT_EQ(rows[0].State, TcpListen);
    EXPECT_EQ(rows[0].Inode, 77u);
    EXPECT_EQ(rows[1].LocalPort, 53u);

    // Without the kernel's word on a socket, the wildcard stays an IPv6 endpoint.
    rows.clear();
    ParseSocketTable(text, true, true, rows);
    EXPECT_TRUE(rows.empty());
}

TEST(SocketTable, OwnersComeFromReadableDescriptorsLowestIdentifierFirst)
{
    tvtest::TempDir dir;
    ASSERT_TRUE(dir.isValid());
    auto link = [&](const char *pid, const char *fd, const char *target) {
        const QString fdDir = dir.path() + QLatin1Char('/') + QLatin1String(pid) + QStringLiteral("/fd");
        QDir().mkpath(fdDir);
        ASSERT_TRUE(QFile::link(QLatin1String(target), fdDir + QLatin1Char('/') + QLatin1String(fd)));
    };
    link("300", "3", "socket:[555]");
    link("45", "1", "socket:[555]");
    link("45", "2", "pipe:[555]");
    link("45", "4", "socket:[777]");
    link("self", "3", "socket:[888]");
    QDir().mkpath(dir.path() + QStringLiteral("/12")); // no descriptors to read
    const QHash<quint64, SocketOwner> owners = SocketOwners(dir.path());
    EXPECT_EQ(owners.size(), 2);
    EXPECT_EQ(owners.value(555).Pid, 45u);
    EXPECT_EQ(owners.value(777).Pid, 45u);
    EXPECT_FALSE(owners.contains(888));
    EXPECT_TRUE(SocketOwners(dir.file(QStringLiteral("missing"))).isEmpty());
}

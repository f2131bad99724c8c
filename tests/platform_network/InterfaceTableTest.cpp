#include "common/TempDir.h"
#include "platform/network/InterfaceTable.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <optional>

#include <cstring>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace platform::network;

namespace {

void WriteFile(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

struct FakeIf
{
    const char *name;
    const char *index;
    const char *type;
    const char *oper;
    const char *flags;
    const char *address;
    const char *addrLen;
    const char *rx;
    const char *tx;
    const char *carrier; // nullptr: unreadable, as while the interface is down
};

void WriteInterface(const QString &root, const FakeIf &i)
{
    const QString d = root + QLatin1Char('/') + QLatin1String(i.name) + QLatin1Char('/');
    QDir().mkpath(d);
    auto put = [&](const char *file, const char *value) {
        if (value)
            WriteFile(d + QLatin1String(file), QByteArray(value) + '\n');
    };
    put("ifindex", i.index);
    put("type", i.type);
    put("operstate", i.oper);
    put("flags", i.flags);
    put("address", i.address);
    put("addr_len", i.addrLen);
    put("statistics/rx_bytes", i.rx);
    put("statistics/tx_bytes", i.tx);
    put("carrier", i.carrier);
}

} // namespace

TEST(InterfaceTable, ReadsASysTreeOrderedByIndex)
{
    tvtest::TempDir dir;
    ASSERT_TRUE(dir.isValid());
    // The flags as the kernel writes them: the flags set, never the running flag it derives.
    WriteInterface(dir.path(), {"wlan0", "3", "1", "dormant", "0x1003", "11:22:33:44:55:66", "6", "10", "20", "1"});
    WriteInterface(dir.path(),
                   {"lo", "1", "772", "unknown", "0x9", "00:00:00:00:00:00", "6", "123456789012", "123456789012", "1"});
    WriteInterface(dir.path(), {"eth0", "2", "1", "up", "0x1003", "aa:bb:cc:0d:ee:ff", "6", "5000", "7000", "1"});
    WriteInterface(dir.path(), {"tun0", "7", "65534", "unknown", "0x1090", "", "0", "1", "2", nullptr});
    WriteInterface(dir.path(), {"broken", nullptr, "1", "up", "0x1003", "aa:bb", "2", "0", "0", "1"});
    WriteInterface(dir.path(), {"weird", "4", "1", "up", "0x1003", "zz:bb:cc", "3", "x", "9", "1"});
    WriteInterface(dir.path(), {"vpn0", "8", "65534", "unknown", "0x1091", "", "0", "3", "4", "1"});
    WriteInterface(dir.path(), {"dummy0", "9", "1", "unknown", "0x83", "aa:bb:cc:dd:ee:01", "6", "0", "0", "0"});
    QDir().mkpath(dir.path() + QStringLiteral("/wlan0/wireless"));
    WriteFile(dir.path() + QStringLiteral("/eth0/ifalias"), "uplink\n");

    std::vector<InterfaceRow> rows;
    ASSERT_TRUE(ReadInterfaces(dir.path(), rows));
    ASSERT_EQ(rows.size(), 7u); // the entry without an index is passed over
    EXPECT_EQ(rows[0].Name, QStringLiteral("lo"));
    EXPECT_EQ(rows[1].Name, QStringLiteral("eth0"));
    EXPECT_EQ(rows[2].Name, QStringLiteral("wlan0"));
    EXPECT_EQ(rows[3].Name, QStringLiteral("weird"));
    EXPECT_EQ(rows[4].Name, QStringLiteral("tun0"));

    const InterfaceRow &lo = rows[0];
    EXPECT_EQ(lo.Index, 1u);
    EXPECT_EQ(lo.Type, quint32(IfTypeLoopback));
    EXPECT_EQ(lo.OperStatus, IfOperOperational); // unknown, but up with a carrier
    EXPECT_EQ(lo.InOctets, 123456789012ull);     // beyond 32 bits
    EXPECT_EQ(lo.Description, QStringLiteral("lo"));

    const InterfaceRow &eth = rows[1];
    EXPECT_EQ(eth.Description, QStringLiteral("uplink"));
    EXPECT_EQ(eth.Type, quint32(IfTypeEthernet));
    EXPECT_EQ(eth.OperStatus, IfOperOperational);
    EXPECT_EQ(eth.PhysLength, 6u);
    const std::array<quint8, 8> mac{0xAA, 0xBB, 0xCC, 0x0D, 0xEE, 0xFF, 0, 0};
    EXPECT_EQ(eth.PhysAddress, mac);
    EXPECT_EQ(eth.InOctets, 5000u);
    EXPECT_EQ(eth.OutOctets, 7000u);

    EXPECT_EQ(rows[2].Type, quint32(IfTypeWireless));
    EXPECT_EQ(rows[2].OperStatus, IfOperConnecting);
    // A malformed address and counter leave those fields empty, not the interface.
    EXPECT_EQ(rows[3].PhysLength, 0u);
    EXPECT_EQ(rows[3].InOctets, 0u);
    EXPECT_EQ(rows[3].OutOctets, 9u);
    EXPECT_EQ(rows[4].Type, quint32(IfTypeTunnel));
    EXPECT_EQ(rows[4].PhysLength, 0u);
    EXPECT_EQ(rows[4].OperStatus, IfOperDisconnected); // unknown and down
    // A VPN's tun interface that is up; an interface that is up without a carrier.
    EXPECT_EQ(rows[5].Name, QStringLiteral("vpn0"));
    EXPECT_EQ(rows[5].OperStatus, IfOperOperational);
    EXPECT_EQ(rows[6].OperStatus, IfOperDisconnected);

    rows.clear();
    EXPECT_FALSE(ReadInterfaces(dir.file(QStringLiteral("none")), rows));
    EXPECT_TRUE(rows.empty());
}

TEST(InterfaceTable, LastingAttributesAreReadOncePerInterface)
{
    tvtest::TempDir dir;
    ASSERT_TRUE(dir.isValid());
    WriteInterface(dir.path(), {"eth0", "2", "1", "up", "0x1003", "aa:bb:cc:0d:ee:ff", "6", "5000", "7000", "1"});
    std::vector<InterfaceRow> rows;
    ASSERT_TRUE(ReadInterfaces(dir.path(), rows));
    ASSERT_EQ(rows.size(), 1u);

    // Counters and state follow every read; kind, address and alias stay as first read.
    WriteInterface(dir.path(),
                   {"eth0", "2", "772", "down", "0x1002", "11:11:11:11:11:11", "6", "6000", "9000", nullptr});
    WriteFile(dir.path() + QStringLiteral("/eth0/ifalias"), "renamed\n");
    rows.clear();
    ASSERT_TRUE(ReadInterfaces(dir.path(), rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].InOctets, 6000u);
    EXPECT_EQ(rows[0].OutOctets, 9000u);
    EXPECT_EQ(rows[0].OperStatus, IfOperDisconnected);
    EXPECT_EQ(rows[0].Type, quint32(IfTypeEthernet));
    EXPECT_EQ(rows[0].Description, QStringLiteral("eth0"));
    EXPECT_EQ(rows[0].PhysAddress[0], 0xAA);

    // The same name with a new index is a new interface: everything is read again.
    WriteInterface(dir.path(), {"eth0", "9", "772", "unknown", "0x49", "11:11:11:11:11:11", "6", "1", "2", "1"});
    rows.clear();
    ASSERT_TRUE(ReadInterfaces(dir.path(), rows));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Index, 9u);
    EXPECT_EQ(rows[0].Type, quint32(IfTypeLoopback));
    EXPECT_EQ(rows[0].Description, QStringLiteral("renamed"));
    EXPECT_EQ(rows[0].PhysAddress[0], 0x11);
    EXPECT_EQ(rows[0].OperStatus, IfOperOperational); // unknown: judged by the flags and the carrier
}

// The loopback's counters move by at least what this test sends to itself over it.
TEST(InterfaceTable, LoopbackCountersMoveAfterOwnTraffic)
{
    auto loopback = []() -> std::optional<InterfaceRow> {
        std::vector<InterfaceRow> rows;
        if (!ReadInterfaces(QStringLiteral("/sys/class/net"), rows))
            return std::nullopt;
        for (const InterfaceRow &r : rows)
            if (r.Type == IfTypeLoopback)
                return r;
        return std::nullopt;
    };
    const auto before = loopback();
    if (!before)
        GTEST_SKIP() << "no loopback interface is listed here";
    // The loopback never reports a state of its own: it is up, so it is operational.
    EXPECT_EQ(before->OperStatus, IfOperOperational);

    const int rx = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int tx = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(rx, 0);
    ASSERT_GE(tx, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(rx, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(rx, reinterpret_cast<sockaddr *>(&a), &len);
    const QByteArray payload(8000, 'x');
    constexpr int kDatagrams = 40;
    char sink[9000];
    for (int i = 0; i < kDatagrams; ++i) {
        ASSERT_EQ(
            ::sendto(tx, payload.constData(), size_t(payload.size()), 0, reinterpret_cast<sockaddr *>(&a), sizeof a),
            payload.size());
        ASSERT_EQ(::recv(rx, sink, sizeof sink, 0), payload.size());
    }
    ::close(rx);
    ::close(tx);
    const auto after = loopback();
    ASSERT_TRUE(after.has_value());
    EXPECT_GE(after->InOctets - before->InOctets, quint64(kDatagrams) * quint64(payload.size()));
    EXPECT_GE(after->OutOctets - before->OutOctets, quint64(kDatagrams) * quint64(payload.size()));

    std::vector<AddressRow> addresses;
    ASSERT_TRUE(ReadIPv4Addresses(addresses));
    const unsigned char lo[4] = {127, 0, 0, 1};
    quint32 loAddr = 0;
    std::memcpy(&loAddr, lo, 4);
    EXPECT_TRUE(std::any_of(addresses.begin(), addresses.end(),
                            [&](const AddressRow &r) { return r.Index == before->Index && r.Address == loAddr; }));
}

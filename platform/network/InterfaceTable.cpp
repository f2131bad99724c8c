#include "platform/network/InterfaceTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace platform::network {

namespace {

// The first line of a small attribute file; empty when it cannot be read (some attributes
// refuse reads while the interface is down).
QString ReadAttribute(const QString &Dir, const char *Name, bool *Ok = nullptr)
{
    QFile f(Dir + QLatin1Char('/') + QLatin1String(Name));
    if (!f.open(QIODevice::ReadOnly)) {
        if (Ok)
            *Ok = false;
        return QString();
    }
    const QByteArray text = f.read(4096);
    if (Ok)
        *Ok = !text.isEmpty() || f.error() == QFileDevice::NoError;
    const qsizetype nl = text.indexOf('\n');
    return QString::fromUtf8(nl < 0 ? text : text.left(nl)).trimmed();
}

bool ReadUnsigned(const QString &Dir, const char *Name, quint64 &Value, int Base = 10)
{
    bool readable = false;
    const QString text = ReadAttribute(Dir, Name, &readable);
    if (!readable || text.isEmpty())
        return false;
    QString digits = text;
    if (Base == 16 && digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        digits = digits.mid(2);
    bool ok = false;
    const quint64 v = digits.toULongLong(&ok, Base);
    if (!ok)
        return false;
    Value = v;
    return true;
}

// What an interface keeps for its life: read when an interface (a name with an index) is
// first seen, not on every refresh.
struct LastingAttributes
{
    QString Description;
    quint32 Type = IfTypeOther;
    std::array<quint8, 8> PhysAddress{};
    quint32 PhysLength = 0;
};

struct LastingCache
{
    std::mutex Lock;
    QHash<QString, std::pair<quint64, LastingAttributes>> ByDir; // interface directory -> index, attributes
};

LastingCache &SharedCache()
{
    static LastingCache cache;
    return cache;
}

LastingAttributes ReadLasting(const QString &D, const QString &Name, quint32 HwType)
{
    LastingAttributes a;
    const QString alias = ReadAttribute(D, "ifalias");
    a.Description = alias.isEmpty() ? Name : alias;
    a.Type = InterfaceTypeFromHardware(unsigned(HwType), QFileInfo::exists(D + QLatin1String("/wireless")));
    std::array<quint8, 8> phys{};
    quint32 physLen = 0;
    if (ParseHardwareAddress(ReadAttribute(D, "address"), phys, physLen)) {
        // The address file may show more bytes than the hardware address has.
        quint64 addrLen = 0;
        if (ReadUnsigned(D, "addr_len", addrLen) && addrLen < physLen)
            physLen = quint32(addrLen);
        a.PhysAddress = phys;
        a.PhysLength = physLen;
    }
    return a;
}

// The state number of an "operstate" word that decides by itself; nothing for "unknown" (or a
// word the kernel does not use), where the interface's flags and carrier decide.
std::optional<quint8> ReportedOperStatus(const QString &OperState)
{
    const QString s = OperState.trimmed().toLower();
    if (s == QLatin1String("up"))
        return IfOperOperational;
    if (s == QLatin1String("dormant"))
        return IfOperConnecting;
    if (s == QLatin1String("down") || s == QLatin1String("lowerlayerdown"))
        return IfOperDisconnected;
    if (s == QLatin1String("testing"))
        return IfOperUnreachable;
    if (s == QLatin1String("notpresent"))
        return IfOperNonOperational;
    return std::nullopt;
}

} // namespace

quint32 InterfaceTypeFromHardware(unsigned HardwareType, bool Wireless)
{
    if (Wireless)
        return IfTypeWireless;
    switch (HardwareType) {
    case 1: // Ethernet
        return IfTypeEthernet;
    case 512: // PPP
        return IfTypePpp;
    case 772: // loopback
        return IfTypeLoopback;
    case 801: // IEEE 802.11 and its monitor forms
    case 802:
    case 803:
        return IfTypeWireless;
    case 768: // IP in IP, IPv6 in IPv4, GRE, generic tunnels
    case 769:
    case 776:
    case 778:
    case 823:
    case 65534:
        return IfTypeTunnel;
    default:
        return IfTypeOther;
    }
}

quint8 OperStatusFromText(const QString &OperState, quint32 Flags, bool Carrier)
{
    if (const std::optional<quint8> reported = ReportedOperStatus(OperState))
        return *reported;
    // "unknown". The flags file holds the flags as set, never the running flag the kernel
    // derives from the carrier: the carrier is read for that.
    return ((Flags & IFF_UP) && Carrier) ? IfOperOperational : IfOperDisconnected;
}

bool ParseHardwareAddress(const QString &Text, std::array<quint8, 8> &Bytes, quint32 &Length)
{
    Bytes.fill(0);
    Length = 0;
    const QString t = Text.trimmed();
    if (t.isEmpty())
        return true;
    const QStringList parts = t.split(QLatin1Char(':'));
    if (parts.size() > 8)
        return false;
    std::array<quint8, 8> out{};
    for (int i = 0; i < parts.size(); ++i) {
        if (parts[i].size() != 2)
            return false;
        bool ok = false;
        const uint v = parts[i].toUInt(&ok, 16);
        if (!ok)
            return false;
        out[size_t(i)] = quint8(v);
    }
    Bytes = out;
    Length = quint32(parts.size());
    return true;
}

bool ReadInterfaces(const QString &SysClassNet, std::vector<InterfaceRow> &Rows)
{
    const QDir dir(SysClassNet);
    if (!dir.exists())
        return false;
    const QStringList names = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    std::vector<InterfaceRow> found;
    for (const QString &name : names) {
        const QString d = dir.filePath(name);
        InterfaceRow row;
        quint64 index = 0;
        if (!ReadUnsigned(d, "ifindex", index) || index == 0 || index > 0xFFFFFFFFull)
            continue;
        row.Index = quint32(index);
        row.Name = name;
        LastingAttributes lasting;
        {
            LastingCache &cache = SharedCache();
            std::unique_lock<std::mutex> guard(cache.Lock);
            const auto known = cache.ByDir.constFind(d);
            if (known != cache.ByDir.cend() && known->first == index) {
                lasting = known->second;
            } else {
                guard.unlock();
                quint64 hw = 0;
                ReadUnsigned(d, "type", hw);
                lasting = ReadLasting(d, name, quint32(hw));
                guard.lock();
                cache.ByDir.insert(d, {index, lasting});
            }
        }
        row.Description = lasting.Description;
        row.Type = lasting.Type;
        row.PhysAddress = lasting.PhysAddress;
        row.PhysLength = lasting.PhysLength;
        const QString operState = ReadAttribute(d, "operstate");
        // The flags and the carrier decide only for an interface that reports no state of its own.
        if (const std::optional<quint8> reported = ReportedOperStatus(operState)) {
            row.OperStatus = *reported;
        } else {
            quint64 flags = 0, carrier = 0;
            ReadUnsigned(d, "flags", flags, 16);
            // The carrier cannot be read while the interface is down.
            ReadUnsigned(d, "carrier", carrier);
            row.OperStatus = OperStatusFromText(operState, quint32(flags), carrier == 1);
        }
        ReadUnsigned(d, "statistics/rx_bytes", row.InOctets);
        ReadUnsigned(d, "statistics/tx_bytes", row.OutOctets);
        found.push_back(row);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const InterfaceRow &A, const InterfaceRow &B) { return A.Index < B.Index; });
    Rows.insert(Rows.end(), found.begin(), found.end());
    return true;
}

bool ReadIPv4Addresses(std::vector<AddressRow> &Rows)
{
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    for (const ifaddrs *a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !a->ifa_name)
            continue;
        // A labelled address ("eth0:1") belongs to the interface before the colon.
        char name[IF_NAMESIZE + 1] = {};
        std::strncpy(name, a->ifa_name, IF_NAMESIZE);
        if (char *colon = std::strchr(name, ':'))
            *colon = '\0';
        const unsigned index = ::if_nametoindex(name);
        if (index == 0)
            continue;
        AddressRow row;
        row.Index = index;
        const auto *in = reinterpret_cast<const sockaddr_in *>(a->ifa_addr);
        std::memcpy(&row.Address, &in->sin_addr, 4);
        Rows.push_back(row);
    }
    ::freeifaddrs(list);
    return true;
}

} // namespace platform::network

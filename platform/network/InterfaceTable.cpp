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
QString readAttribute(const QString &dir, const char *name, bool *ok = nullptr)
{
    QFile f(dir + QLatin1Char('/') + QLatin1String(name));
    if (!f.open(QIODevice::ReadOnly)) {
        if (ok)
            *ok = false;
        return QString();
    }
    const QByteArray text = f.read(4096);
    if (ok)
        *ok = !text.isEmpty() || f.error() == QFileDevice::NoError;
    const qsizetype nl = text.indexOf('\n');
    return QString::fromUtf8(nl < 0 ? text : text.left(nl)).trimmed();
}

bool readUnsigned(const QString &dir, const char *name, quint64 &value, int base = 10)
{
    bool readable = false;
    const QString text = readAttribute(dir, name, &readable);
    if (!readable || text.isEmpty())
        return false;
    QString digits = text;
    if (base == 16 && digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        digits = digits.mid(2);
    bool ok = false;
    const quint64 v = digits.toULongLong(&ok, base);
    if (!ok)
        return false;
    value = v;
    return true;
}

// What an interface keeps for its life: read when an interface (a name with an index) is
// first seen, not on every refresh.
struct LastingAttributes
{
    QString description;
    quint32 type = IfTypeOther;
    std::array<quint8, 8> physAddress{};
    quint32 physLength = 0;
};

struct LastingCache
{
    std::mutex lock;
    QHash<QString, std::pair<quint64, LastingAttributes>> byDir; // interface directory -> index, attributes
};

LastingCache &lastingCache()
{
    static LastingCache cache;
    return cache;
}

LastingAttributes readLasting(const QString &d, const QString &name, quint32 hwType)
{
    LastingAttributes a;
    const QString alias = readAttribute(d, "ifalias");
    a.description = alias.isEmpty() ? name : alias;
    a.type = interfaceTypeFromHardware(unsigned(hwType), QFileInfo::exists(d + QLatin1String("/wireless")));
    std::array<quint8, 8> phys{};
    quint32 physLen = 0;
    if (parseHardwareAddress(readAttribute(d, "address"), phys, physLen)) {
        // The address file may show more bytes than the hardware address has.
        quint64 addrLen = 0;
        if (readUnsigned(d, "addr_len", addrLen) && addrLen < physLen)
            physLen = quint32(addrLen);
        a.physAddress = phys;
        a.physLength = physLen;
    }
    return a;
}

// The state number of an "operstate" word that decides by itself; nothing for "unknown" (or a
// word the kernel does not use), where the interface's flags and carrier decide.
std::optional<quint8> reportedOperStatus(const QString &operState)
{
    const QString s = operState.trimmed().toLower();
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

quint32 interfaceTypeFromHardware(unsigned hardwareType, bool wireless)
{
    if (wireless)
        return IfTypeWireless;
    switch (hardwareType) {
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

quint8 operStatusFromText(const QString &operState, quint32 flags, bool carrier)
{
    if (const std::optional<quint8> reported = reportedOperStatus(operState))
        return *reported;
    // "unknown". The flags file holds the flags as set, never the running flag the kernel
    // derives from the carrier: the carrier is read for that.
    return ((flags & IFF_UP) && carrier) ? IfOperOperational : IfOperDisconnected;
}

bool parseHardwareAddress(const QString &text, std::array<quint8, 8> &bytes, quint32 &length)
{
    bytes.fill(0);
    length = 0;
    const QString t = text.trimmed();
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
    bytes = out;
    length = quint32(parts.size());
    return true;
}

bool readInterfaces(const QString &sysClassNet, std::vector<InterfaceRow> &rows)
{
    const QDir dir(sysClassNet);
    if (!dir.exists())
        return false;
    const QStringList names = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    std::vector<InterfaceRow> found;
    for (const QString &name : names) {
        const QString d = dir.filePath(name);
        InterfaceRow row;
        quint64 index = 0;
        if (!readUnsigned(d, "ifindex", index) || index == 0 || index > 0xFFFFFFFFull)
            continue;
        row.index = quint32(index);
        row.name = name;
        LastingAttributes lasting;
        {
            LastingCache &cache = lastingCache();
            std::unique_lock<std::mutex> guard(cache.lock);
            const auto known = cache.byDir.constFind(d);
            if (known != cache.byDir.cend() && known->first == index) {
                lasting = known->second;
            } else {
                guard.unlock();
                quint64 hw = 0;
                readUnsigned(d, "type", hw);
                lasting = readLasting(d, name, quint32(hw));
                guard.lock();
                cache.byDir.insert(d, {index, lasting});
            }
        }
        row.description = lasting.description;
        row.type = lasting.type;
        row.physAddress = lasting.physAddress;
        row.physLength = lasting.physLength;
        const QString operState = readAttribute(d, "operstate");
        // The flags and the carrier decide only for an interface that reports no state of its own.
        if (const std::optional<quint8> reported = reportedOperStatus(operState)) {
            row.operStatus = *reported;
        } else {
            quint64 flags = 0, carrier = 0;
            readUnsigned(d, "flags", flags, 16);
            // The carrier cannot be read while the interface is down.
            readUnsigned(d, "carrier", carrier);
            row.operStatus = operStatusFromText(operState, quint32(flags), carrier == 1);
        }
        readUnsigned(d, "statistics/rx_bytes", row.inOctets);
        readUnsigned(d, "statistics/tx_bytes", row.outOctets);
        found.push_back(row);
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const InterfaceRow &a, const InterfaceRow &b) { return a.index < b.index; });
    rows.insert(rows.end(), found.begin(), found.end());
    return true;
}

bool readIPv4Addresses(std::vector<AddressRow> &rows)
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
        row.index = index;
        const auto *in = reinterpret_cast<const sockaddr_in *>(a->ifa_addr);
        std::memcpy(&row.address, &in->sin_addr, 4);
        rows.push_back(row);
    }
    ::freeifaddrs(list);
    return true;
}

} // namespace platform::network

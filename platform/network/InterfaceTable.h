#pragma once

#include <QString>

#include <array>
#include <vector>

namespace platform::network {

// Interface kinds by their customary numbers.
enum : quint32 {
    IfTypeOther = 1,
    IfTypeEthernet = 6,
    IfTypePpp = 23,
    IfTypeLoopback = 24,
    IfTypeWireless = 71,
    IfTypeTunnel = 131,
};

// Operational states by their customary numbers; 3 and above count as usable.
enum : quint8 {
    IfOperNonOperational = 0,
    IfOperUnreachable = 1,
    IfOperDisconnected = 2,
    IfOperConnecting = 3,
    IfOperConnected = 4,
    IfOperOperational = 5,
};

// One network interface as the kernel reports it.
struct InterfaceRow
{
    quint32 index = 0;
    QString name;
    QString description; // the interface's alias, else its name
    quint32 type = IfTypeOther;
    quint8 operStatus = IfOperNonOperational;
    quint32 physLength = 0;
    std::array<quint8, 8> physAddress{};
    quint64 inOctets = 0;
    quint64 outOctets = 0;
};

// One IPv4 address of an interface, in network order.
struct AddressRow
{
    quint32 index = 0;
    quint32 address = 0;
};

// The kind number of a hardware type (ARPHRD_*); `wireless` for an interface with a
// wireless extension.
quint32 interfaceTypeFromHardware(unsigned hardwareType, bool wireless);
// The state number of an "operstate" word; "unknown" (the loopback, tun and many other
// virtual interfaces never report a state) is judged by the interface: administratively up
// (IFF_UP in `flags`) with a carrier is operational.
quint8 operStatusFromText(const QString &operState, quint32 flags, bool carrier);
// Parses "aa:bb:…" of at most 8 bytes; false (and length 0) for anything else.
bool parseHardwareAddress(const QString &text, std::array<quint8, 8> &bytes, quint32 &length);

// Every interface under `sysClassNet` (one directory per interface), ordered by index.
// An entry whose index cannot be read is passed over. False when the directory cannot be
// listed.
bool readInterfaces(const QString &sysClassNet, std::vector<InterfaceRow> &rows);
// Every IPv4 address of the machine's interfaces, in the order the system lists them.
bool readIPv4Addresses(std::vector<AddressRow> &rows);

} // namespace platform::network

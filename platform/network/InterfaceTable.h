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
    quint32 Index = 0;
    QString Name;
    QString Description; // the interface's alias, else its name
    quint32 Type = IfTypeOther;
    quint8 OperStatus = IfOperNonOperational;
    quint32 PhysLength = 0;
    std::array<quint8, 8> PhysAddress{};
    quint64 InOctets = 0;
    quint64 OutOctets = 0;
};

// One IPv4 address of an interface, in network order.
struct AddressRow
{
    quint32 Index = 0;
    quint32 Address = 0;
};

// The kind number of a hardware type (ARPHRD_*); `Wireless` for an interface with a
// wireless extension.
quint32 InterfaceTypeFromHardware(unsigned HardwareType, bool Wireless);
// The state number of an "operstate" word; "unknown" (the loopback, tun and many other
// virtual interfaces never report a state) is judged by the interface: administratively up
// (IFF_UP in `Flags`) with a carrier is operational.
quint8 OperStatusFromText(const QString &OperState, quint32 Flags, bool Carrier);
// Parses "aa:bb:…" of at most 8 bytes; false (and length 0) for anything else.
bool ParseHardwareAddress(const QString &Text, std::array<quint8, 8> &Bytes, quint32 &Length);

// Every interface under `SysClassNet` (one directory per interface), ordered by index.
// An entry whose index cannot be read is passed over. False when the directory cannot be
// listed.
bool ReadInterfaces(const QString &SysClassNet, std::vector<InterfaceRow> &Rows);
// Every IPv4 address of the machine's interfaces, in the order the system lists them.
bool ReadIPv4Addresses(std::vector<AddressRow> &Rows);

} // namespace platform::network

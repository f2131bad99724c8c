#pragma once

#include "platform/network/InterfaceTable.h"
#include "platform/network/SocketTable.h"

#include <QString>

#include <optional>
#include <vector>

namespace platform::network {

// One IPv4 endpoint with its owner, when a readable descriptor of some process holds it.
struct Endpoint
{
    SocketRow row;
    bool owned = false;
    SocketOwner owner;
};

// A moment as seconds and nanoseconds since the Unix epoch.
struct Moment
{
    qint64 seconds = 0;
    quint32 nanoseconds = 0;
};

// What the network monitor asks of the system, in one replaceable interface: the real one
// reads /proc, /sys and the interface address list; tests put a scripted one in its place.
class NetworkSource
{
public:
    virtual ~NetworkSource() = default;

    // False when the table cannot be read at all.
    virtual bool tcpEndpoints(std::vector<Endpoint> &out);
    virtual bool udpEndpoints(std::vector<Endpoint> &out);
    virtual bool interfaces(std::vector<InterfaceRow> &out);
    virtual bool addresses(std::vector<AddressRow> &out);

    // The image path of the process that started at `startTime`; nothing when it cannot
    // be read or the identifier now belongs to another process.
    virtual std::optional<QString> processPath(quint32 pid, quint64 startTime);
    // A kernel thread (the stand-in for the system process).
    virtual bool isKernelProcess(quint32 pid);
    // When the process that started at `startTime` (clock ticks after boot) started.
    virtual std::optional<Moment> processStart(quint32 pid, quint64 startTime);
};

// The process-wide real source.
NetworkSource &defaultNetworkSource();

} // namespace platform::network

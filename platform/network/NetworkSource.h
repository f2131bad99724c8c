#pragma once

#include "platform/network/InterfaceTable.h"
#include "platform/network/SocketTable.h"
#include "platform/processes/ProcFs.h"

#include <QString>

#include <optional>
#include <vector>

namespace platform::network {

// One IPv4 endpoint with its owner, when a readable descriptor of some process holds it.
struct Endpoint
{
    SocketRow Row;
    bool Owned = false;
    SocketOwner Owner;
};

// A moment as seconds and nanoseconds since the Unix epoch.
struct Moment
{
    qint64 Seconds = 0;
    quint32 Nanoseconds = 0;
};

// What the network monitor asks of the system, in one replaceable interface: the real one
// reads /proc, /sys and the interface address list; tests put a scripted one in its place.
class NetworkSource
{
public:
    virtual ~NetworkSource() = default;

    // False when the table cannot be read at all.
    virtual bool TcpEndpoints(std::vector<Endpoint> &Out);
    virtual bool UdpEndpoints(std::vector<Endpoint> &Out);
    // Both tables, as the two above read them, but with one look through every process's
    // descriptors for both: that look costs more than the tables themselves.
    void Endpoints(std::vector<Endpoint> &Tcp, bool &TcpRead, std::vector<Endpoint> &Udp, bool &UdpRead);
    virtual bool Interfaces(std::vector<InterfaceRow> &Out);
    virtual bool Addresses(std::vector<AddressRow> &Out);

    // The image path of the process that started at `StartTime`; nothing when it cannot
    // be read or the identifier now belongs to another process.
    virtual std::optional<QString> ProcessPath(quint32 Pid, quint64 StartTime);
    // A kernel thread (the stand-in for the system process).
    virtual bool IsKernelProcess(quint32 Pid);

    // What is read of an owner's program comes from the process that started at `StartTime`,
    // read while that process is held, never through a path: who runs it and the path the
    // kernel reports for its file; the file itself, opened through the process (-1 when it
    // cannot be; the caller closes it); and whether `Path`, resolved here without following any
    // link, is that very file.
    virtual std::optional<processes::ImageFacts> OwnerImageFacts(quint32 Pid, quint64 StartTime);
    virtual int OpenOwnerImage(quint32 Pid, quint64 StartTime);
    virtual bool OwnerPathIsImage(quint32 Pid, quint64 StartTime, const QString &Path);
    // When the process that started at `StartTime` (clock ticks after boot) started.
    virtual std::optional<Moment> ProcessStart(quint32 Pid, quint64 StartTime);
};

// The process-wide real source.
NetworkSource &DefaultNetworkSource();

// Gives the calling thread a smaller share of the processor than the program's other threads: a
// reader beside the window leaves the processor to the window first.
void LowerReaderPriority();

} // namespace platform::network

#pragma once

#include "platform/files/SystemTime.h"
#include "platform/network/NetworkSource.h"
#include "platform/system/TestSeams.h"
#include "sysinfo/ProcessHelper.h"
#include "sysinfo/ProcessReaders.h"

#include <QHash>
#include <QObject>
#include <QPair>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace NetworkMonitor { // NOLINT(readability-identifier-naming): the unit's own name

// Class-level routines on the owning processes of endpoints (not the process list's
// helper of the same name).
class TProcessHelper
{
public:
    TProcessHelper() = delete;

    // The image path, normalised; empty when the process cannot be read. With a start
    // time, only the process that started then counts.
    static QString GetProcessPath(quint32 Pid);
    static QString GetProcessPath(quint32 Pid, quint64 StartTime, platform::network::NetworkSource &Source);
    // Ends the process through the process operations; with a start time, only the
    // process that started then is ended. With a `HandOver`, only as it lets it.
    static bool TerminateProcess(quint32 Pid, std::optional<quint64> StartTime = std::nullopt,
                                 TOperationHandOver *HandOver = nullptr);
};

} // namespace NetworkMonitor

// One process that owns endpoints, kept once for all of them.
struct TConnectionOwner
{
    quint32 ProcessID = 0;
    // When it started (clock ticks after boot), so that a later process under the same
    // identifier is never taken for it; nothing when unknown.
    std::optional<quint64> StartTime;
    QString ProcessName;
    QString ProcessPath;
    // The endpoints' creation time: the kernel keeps none for a socket, the owner's start stands for it.
    SYSTEMTIME CreateTime;
    // The icon of the program it runs in the system image list; -1 for none.
    qint32 IconIndex = -1;
    // Identifier 0 or a kernel thread: the system's own.
    bool SystemProcess = false;
};

// One endpoint as the monitor keeps it: a few bytes, its owner shared.
struct TEndpointRecord
{
    static constexpr quint32 kNoOwner = 0xFFFFFFFFu;

    quint32 LocalAddress = 0; // four bytes in network order
    quint32 RemoteAddress = 0;
    quint16 LocalPort = 0; // host order
    quint16 RemotePort = 0;
    quint8 Protocol = 0; // 0 TCP, 1 UDP
    quint8 State = 0;    // TCP: 1 closed … 12 delete TCB
    // Index in the table's owners; kNoOwner for an endpoint whose owner could not be read.
    quint32 Owner = kNoOwner;
};

// One endpoint table as one reading found it. Never changed once read, so that the window's rows
// and a worker's sorting may share it.
struct TEndpointTable
{
    std::vector<TEndpointRecord> Rows;
    std::vector<TConnectionOwner> Owners;

    // Null for an endpoint without an owner.
    const TConnectionOwner *OwnerOf(const TEndpointRecord &Record) const
    {
        return Record.Owner < Owners.size() ? &Owners[Record.Owner] : nullptr;
    }
};

// The two tables together. A key names one endpoint of both: the TCP endpoints come first, the
// UDP ones after them.
struct TConnectionList
{
    std::shared_ptr<const TEndpointTable> Tcp = std::make_shared<TEndpointTable>();
    std::shared_ptr<const TEndpointTable> Udp = std::make_shared<TEndpointTable>();

    quint32 TcpCount() const { return quint32(Tcp->Rows.size()); }
    quint32 Count() const { return quint32(Tcp->Rows.size() + Udp->Rows.size()); }
    const TEndpointTable &TableOf(quint32 Key) const { return Key < TcpCount() ? *Tcp : *Udp; }
    // Key must be below Count.
    const TEndpointRecord &At(quint32 Key) const
    {
        return Key < TcpCount() ? Tcp->Rows[Key] : Udp->Rows[Key - TcpCount()];
    }
    bool operator==(const TConnectionList &Other) const { return Tcp == Other.Tcp && Udp == Other.Udp; }
};

// One endpoint: a TCP connection or a UDP endpoint with its owning process. Made on demand for one
// endpoint of a list; it stays valid whatever happens to the list.
class TConnectionItem
{
public:
    virtual ~TConnectionItem() = default;
    TConnectionItem(const TConnectionItem &) = delete;
    TConnectionItem &operator=(const TConnectionItem &) = delete;

    // Ends the owning process.
    virtual bool Terminate();
    // "TTCPItem" or "TUDPItem".
    virtual QString ClassName() const = 0;

    quint8 Protocol = 0; // 0 TCP, 1 UDP
    // Whether the owning process could be read. An endpoint without one (in time wait, not yet
    // accepted, or another user's where that user's processes cannot be read) carries no
    // process: its identifier stays 0 and its name and path empty, and nothing is shown for them.
    bool HasOwner = false;
    quint32 ProcessID = 0;
    QString ProcessName;
    QString ProcessPath;
    // When the owner started (clock ticks after boot), so that a later process under the
    // same identifier is never taken for it; nothing when unknown.
    std::optional<quint64> ProcessStartTime;
    // Identifier 0 (no owner, or the idle process) or a kernel thread.
    bool SystemProcess = true;

protected:
    explicit TConnectionItem(quint8 AProtocol) : Protocol(AProtocol) {}
};

class TTCPItem : public TConnectionItem
{
public:
    TTCPItem() : TConnectionItem(0) {}
    QString ClassName() const override { return QStringLiteral("TTCPItem"); }

    quint8 State = 0;         // 1 closed … 12 delete TCB
    quint32 LocalAddress = 0; // four bytes in network order
    quint32 LocalPort = 0;    // host order
    quint32 RemoteAddress = 0;
    quint32 RemotePort = 0;
    SYSTEMTIME CreateTime; // all zero when unknown
};

class TUDPItem : public TConnectionItem
{
public:
    TUDPItem() : TConnectionItem(1) {}
    QString ClassName() const override { return QStringLiteral("TUDPItem"); }

    quint32 LocalAddress = 0;
    quint32 LocalPort = 0;
    SYSTEMTIME CreateTime;
};

// The endpoint of a key of a list, as an item of its kind; null for a key not below the count.
std::unique_ptr<TConnectionItem> MakeConnectionItem(const TConnectionList &List, quint32 Key);

// One network interface with its byte counters. The counters are the system's 64-bit
// ones, so that neither they nor their totals wrap on a busy link.
class TNetInterface
{
public:
    quint32 InterfaceIndex = 0;
    bool FirstPass = true;
    quint64 PrevOutOctets = 0;
    quint64 PrevInOctets = 0;
    QString Name;
    QString Description;
    quint32 InterfaceType = 0;
    quint8 OperStatus = 0;
    std::array<quint8, 8> PhysAddress{};
    QString MACText;
    quint32 IPAddress = 0; // network order
    quint64 OutDelta = 0;
    quint64 InDelta = 0;
    quint64 OutOctets = 0;
    quint64 InOctets = 0;
};

// What is said of an owner's program: who runs it and its file as the kernel reports them, and
// the version texts of that file, read through the process.
struct TOwnerProgram
{
    std::optional<platform::processes::ImageFacts> Facts;
    QString ProductName;
    QString FileDescription;
    QString CompanyName;
    QString LegalCopyright;
};

// The IPv4 TCP connections and UDP endpoints of the machine with their owners, and the
// network interfaces with their byte counters. Shows nothing; failures leave the lists as
// they stand.
//
// The Refresh routines read on the calling thread. A window never calls them: its reads go to the
// component's one worker (the ...InBackground routines), which hands what it read to the
// component's thread; the window's thread only applies it. Requests are taken in order, except
// that questions about an owner go before the rest and an interface sample before a table.
class TNetworkMonitor : public QObject
{
public:
    // `Source` replaces the system for tests; the monitor does not own it, and it must outlive
    // every read it is in.
    explicit TNetworkMonitor(QObject *AOwner = nullptr, platform::network::NetworkSource *Source = nullptr);
    // Nothing read after this is handed over. The worker is waited for a short while only: a read
    // that does not return (a process's file held by a stuck server) ends on its own later.
    ~TNetworkMonitor() override;

    void RefreshTCP();
    void RefreshUDP();
    void RefreshInterfaces();

    int GetTCPCount() const;
    int GetUDPCount() const;
    int GetInterfaceCount() const;
    // The endpoint as an item made now; null when Index is not below the count (taken unsigned:
    // a negative index too).
    std::unique_ptr<TTCPItem> GetTCPItem(int Index) const;
    std::unique_ptr<TUDPItem> GetUDPItem(int Index) const;
    TNetInterface *GetInterface(int Index) const;
    // The endpoints as last read; shared, never changed.
    const TConnectionList &Connections() const { return m_Connections; }

    // Reads both endpoint tables on the worker; there `Prepare` then runs on what was read (a
    // window's filter and order of its rows, which may take long as well). On this component's
    // thread the list then takes the old one's place and `Done` runs with what `Prepare` made. A
    // request while another waits to start takes its place.
    using TPrepare = std::function<std::vector<quint32>(const TConnectionList &)>;
    using TPrepared = std::function<void(std::vector<quint32> &)>;
    void RefreshInBackground(TPrepare Prepare, TPrepared Done);
    // Runs `Prepare` on the worker (on a list the caller holds), then `Done` here with its result.
    // A request while another waits to start takes its place.
    void PrepareInBackground(std::function<std::vector<quint32>()> Prepare, TPrepared Done);
    // RefreshInterfaces on the worker; the interface list takes what it read here, and `Done`
    // runs then.
    void RefreshInterfacesInBackground(std::function<void()> Done);
    // Work for the worker queued or running.
    bool Busy() const;

    // What is said of an endpoint's owning program comes from the process that owns the endpoint
    // (the one that started at its start time), never from its stored path: who runs it and the
    // path the kernel reports for its file, and (where `WithVersion`) the version texts of that
    // file, opened through the process; a package owns it only where the stored path leads here,
    // without links, to that very file. Read on the worker: the answer when it comes within
    // `WaitMs` (what the worker hands over meanwhile is applied).
    // Otherwise nothing; `Late` then runs on this thread when the answer comes, and a question
    // about that owner while it runs takes that answer at once. An owner without a program of its
    // own gets an empty answer without a question.
    std::optional<TOwnerProgram> OwnerProgram(const TConnectionItem &Item, bool WithVersion, int WaitMs,
                                              const std::function<void()> &Late = {});

    // Ends the endpoint's owning process as TConnectionItem::Terminate does, beside this thread on
    // a reader of its own (what it reads of the process may wait): the result when it comes
    // within `WaitMs`, else false, and the process is then not ended.
    bool Terminate(const TConnectionItem &Item, int WaitMs);

    platform::network::NetworkSource &Source() const { return *m_Source; }
#if TASKVANE_TEST_SEAMS
    // Takes another source; the lists are emptied, the interfaces start afresh, and what the
    // worker reads from the old one is not handed over.
    void SetSource(platform::network::NetworkSource *Source);
#endif

    // Makes one endpoint table (`Tcp`, else UDP) of what the source read, with one look-up per
    // owner; `Owners` keeps the owners already looked up, for the other table, and `Between` runs
    // after each look-up.
    using TOwnerCache = QHash<QPair<quint32, quint64>, TConnectionOwner>;
    static void MakeTable(platform::network::NetworkSource &Source, bool Tcp,
                          const std::vector<platform::network::Endpoint> &Rows, TEndpointTable &Table,
                          TOwnerCache &Owners, const std::function<void()> &Between = {});

private:
    struct TWorker;
    struct TOwnerQuestion;
    struct TInterfaceReading
    {
        bool Read = false;
        std::vector<platform::network::InterfaceRow> Rows;
        bool AddressesRead = false;
        std::vector<platform::network::AddressRow> Addresses;
    };
    enum class TJobKind : quint8 { Owner, Interfaces, Prepare, Refresh };

    static TInterfaceReading ReadInterfaces(platform::network::NetworkSource &Source);
    // The worker, started on first use.
    TWorker &Worker();
    void ApplyInterfaces(const TInterfaceReading &Reading);
    // Queues work; `Apply` runs on this component's thread afterwards unless the source changed.
    void Queue(TJobKind Kind, std::function<void()> Work, std::function<void()> Apply);

    platform::network::NetworkSource *m_Source;
    TConnectionList m_Connections;
    std::vector<std::unique_ptr<TNetInterface>> m_Interfaces;
    std::shared_ptr<TWorker> m_Worker;
    // Raised by SetSource: what was queued before is not handed over.
    quint64 m_Generation = 0;
    // Answers about owners that came too late for their question.
    QHash<QPair<quint32, quint64>, TOwnerProgram> m_LateAnswers;
    // Where the owners are ended, made on first use.
    std::unique_ptr<TProcessReaders> m_Terminations;
};

#pragma once

#include "platform/files/SystemTime.h"
#include "platform/network/NetworkSource.h"
#include "platform/system/TestSeams.h"

#include <QHash>
#include <QObject>
#include <QPair>
#include <QString>

#include <array>
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
    // process that started then is ended.
    static bool TerminateProcess(quint32 Pid, std::optional<quint64> StartTime = std::nullopt);
};

} // namespace NetworkMonitor

// One endpoint: a TCP connection or a UDP endpoint with its owning process.
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

// The IPv4 TCP connections and UDP endpoints of the machine with their owners, and the
// network interfaces with their byte counters. Shows nothing; failures leave the lists as
// they stand.
class TNetworkMonitor : public QObject
{
public:
    // `Source` replaces the system for tests; the monitor does not own it.
    explicit TNetworkMonitor(QObject *AOwner = nullptr, platform::network::NetworkSource *Source = nullptr);
    ~TNetworkMonitor() override;

    void RefreshTCP();
    void RefreshUDP();
    void RefreshInterfaces();

    int GetTCPCount() const;
    int GetUDPCount() const;
    int GetInterfaceCount() const;
    // Null when Index is not below the count (taken unsigned: a negative index too).
    TTCPItem *GetTCPItem(int Index) const;
    TUDPItem *GetUDPItem(int Index) const;
    TNetInterface *GetInterface(int Index) const;

    // What is said of an endpoint's owning program comes from the process that owns the endpoint
    // (the one that started at its start time), never from its stored path: who runs it and the
    // path the kernel reports for its file; that file, opened through the process (-1 when it
    // cannot be; the caller closes it or hands it on); and the stored path where it leads here,
    // without links, to that very file (empty where it does not: the file lies elsewhere).
    std::optional<platform::processes::ImageFacts> OwnerImageFacts(const TConnectionItem &Item) const;
    int OpenOwnerImage(const TConnectionItem &Item) const;
    QString OwnerImagePath(const TConnectionItem &Item) const;

    platform::network::NetworkSource &Source() const { return *m_Source; }
#if TASKVANE_TEST_SEAMS
    // Takes another source; the lists are emptied, the interfaces start afresh.
    void SetSource(platform::network::NetworkSource *Source);
#endif

private:
    // What one refresh learnt about an owning process; many endpoints share one owner.
    struct TOwnerFacts
    {
        QString Path;
        SYSTEMTIME CreateTime;
    };
    using TOwnerCache = QHash<QPair<quint32, quint64>, TOwnerFacts>;

    void FillOwner(TConnectionItem &Item, const platform::network::Endpoint &Row, SYSTEMTIME &CreateTime,
                   TOwnerCache &Owners);

    platform::network::NetworkSource *m_Source;
    std::vector<std::unique_ptr<TTCPItem>> m_Tcp;
    std::vector<std::unique_ptr<TUDPItem>> m_Udp;
    std::vector<std::unique_ptr<TNetInterface>> m_Interfaces;
};

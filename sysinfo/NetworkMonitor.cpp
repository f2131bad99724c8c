#include "sysinfo/NetworkMonitor.h"

#include "platform/Logging.h"
#include "sysinfo/Logging.h"
#include "sysinfo/ProcessHelper.h"
#include "sysinfo/Processes.h"

using platform::network::AddressRow;
using platform::network::Endpoint;
using platform::network::InterfaceRow;
using platform::network::NetworkSource;

namespace {

QString FileNamePart(const QString &Path)
{
    const qsizetype slash = Path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? Path : Path.mid(slash + 1);
}

QString MACTextOf(const std::array<quint8, 8> &Bytes, quint32 Length)
{
    QStringList parts;
    for (quint32 i = 0; i < Length && i < Bytes.size(); ++i)
        parts << QStringLiteral("%1").arg(Bytes[i], 2, 16, QLatin1Char('0')).toUpper();
    return parts.join(QLatin1Char('-'));
}

// The difference of two readings of a counter; a counter that went back was reset and
// counts nothing for this interval.
quint64 CounterDelta(quint64 Now, quint64 Before)
{
    return Now >= Before ? Now - Before : 0;
}

} // namespace

// ---- owning processes ----------------------------------------------------------------------

namespace NetworkMonitor {

QString TProcessHelper::GetProcessPath(quint32 Pid)
{
    NetworkSource &source = platform::network::DefaultNetworkSource();
    platform::processes::ProcStat st;
    if (Pid == 0 || Pid > 0x7FFFFFFFu || !platform::processes::ReadStat(qint32(Pid), st))
        return QString();
    return GetProcessPath(Pid, st.StartTime, source);
}

QString TProcessHelper::GetProcessPath(quint32 Pid, quint64 StartTime, NetworkSource &Source)
{
    const auto path = Source.ProcessPath(Pid, StartTime);
    return path ? NormalizePath(*path) : QString();
}

bool TProcessHelper::TerminateProcess(quint32 Pid, std::optional<quint64> StartTime)
{
    return ::TProcessHelper::Terminate(Pid, StartTime);
}

} // namespace NetworkMonitor

bool TConnectionItem::Terminate()
{
    return NetworkMonitor::TProcessHelper::TerminateProcess(ProcessID, ProcessStartTime);
}

// ---- the monitor ---------------------------------------------------------------------------

TNetworkMonitor::TNetworkMonitor(QObject *AOwner, NetworkSource *Source)
    : QObject(AOwner), m_Source(Source ? Source : &platform::network::DefaultNetworkSource())
{}

TNetworkMonitor::~TNetworkMonitor() = default;

#if TASKVANE_TEST_SEAMS
void TNetworkMonitor::SetSource(NetworkSource *Source)
{
    m_Source = Source ? Source : &platform::network::DefaultNetworkSource();
    m_Tcp.clear();
    m_Udp.clear();
    m_Interfaces.clear();
}
#endif

void TNetworkMonitor::FillOwner(TConnectionItem &Item, const Endpoint &Row, SYSTEMTIME &CreateTime, TOwnerCache &Owners)
{
    CreateTime = SYSTEMTIME();
    if (!Row.Owned)
        return; // time wait, a kernel socket or another user's: no process to show
    Item.HasOwner = true;
    Item.ProcessID = Row.Owner.Pid;
    Item.ProcessStartTime = Row.Owner.StartTime;
    const auto key = qMakePair(Row.Owner.Pid, Row.Owner.StartTime);
    auto known = Owners.constFind(key);
    if (known == Owners.cend()) {
        TOwnerFacts facts;
        if (m_Source->IsKernelProcess(Item.ProcessID))
            facts.Path = QStringLiteral("System");
        else
            facts.Path = NetworkMonitor::TProcessHelper::GetProcessPath(Item.ProcessID, Row.Owner.StartTime, *m_Source);
        // The kernel keeps no creation time for a socket: the owner's start stands for it.
        if (const auto start = m_Source->ProcessStart(Row.Owner.Pid, Row.Owner.StartTime))
            facts.CreateTime = platform::LocalSystemTime(start->Seconds, start->Nanoseconds);
        known = Owners.insert(key, facts);
    }
    Item.ProcessPath = known->Path;
    Item.ProcessName = FileNamePart(Item.ProcessPath);
    CreateTime = known->CreateTime;
}

void TNetworkMonitor::RefreshTCP()
{
    m_Tcp.clear();
    try {
        std::vector<Endpoint> rows;
        if (!m_Source->TcpEndpoints(rows) || rows.empty())
            return;
        TOwnerCache owners;
        for (const Endpoint &row : rows) {
            auto item = std::make_unique<TTCPItem>();
            item->State = row.Row.State;
            item->LocalAddress = row.Row.LocalAddress;
            item->LocalPort = row.Row.LocalPort;
            item->RemoteAddress = row.Row.RemoteAddress;
            item->RemotePort = row.Row.RemotePort;
            FillOwner(*item, row, item->CreateTime, owners);
            m_Tcp.push_back(std::move(item));
        }
    } catch (...) {
        // A failed row ends the refresh with what was taken so far.
        qCWarning(lcSysinfo) << "TCP table refresh ended by" << platform::CurrentExceptionText();
    }
}

void TNetworkMonitor::RefreshUDP()
{
    m_Udp.clear();
    try {
        std::vector<Endpoint> rows;
        if (!m_Source->UdpEndpoints(rows) || rows.empty())
            return;
        TOwnerCache owners;
        for (const Endpoint &row : rows) {
            auto item = std::make_unique<TUDPItem>();
            item->LocalAddress = row.Row.LocalAddress;
            item->LocalPort = row.Row.LocalPort;
            FillOwner(*item, row, item->CreateTime, owners);
            m_Udp.push_back(std::move(item));
        }
    } catch (...) {
        // As for TCP: the refresh ends quietly with what was taken so far.
        qCWarning(lcSysinfo) << "UDP table refresh ended by" << platform::CurrentExceptionText();
    }
}

void TNetworkMonitor::RefreshInterfaces()
{
    try {
        std::vector<InterfaceRow> rows;
        if (!m_Source->Interfaces(rows) || rows.empty())
            return;
        // Rows are matched to items by interface index, so that an interface that comes or
        // goes does not mix the counters of the others.
        std::vector<std::unique_ptr<TNetInterface>> added;
        for (const InterfaceRow &row : rows) {
            TNetInterface *item = nullptr;
            for (const auto &i : m_Interfaces) {
                if (i->InterfaceIndex == row.Index) {
                    item = i.get();
                    break;
                }
            }
            if (!item) {
                for (const auto &i : added) {
                    if (i->InterfaceIndex == row.Index)
                        item = i.get(); // a table that lists an index twice
                }
            }
            if (!item) {
                added.push_back(std::make_unique<TNetInterface>());
                item = added.back().get();
            }
            item->InterfaceIndex = row.Index;
            item->Name = row.Name;
            item->Description = row.Description;
            item->InterfaceType = row.Type;
            item->OperStatus = row.OperStatus;
            item->PhysAddress = row.PhysAddress;
            item->MACText = MACTextOf(row.PhysAddress, row.PhysLength);
            item->OutOctets = row.OutOctets;
            item->InOctets = row.InOctets;
            if (!item->FirstPass) {
                item->OutDelta = CounterDelta(item->OutOctets, item->PrevOutOctets);
                item->InDelta = CounterDelta(item->InOctets, item->PrevInOctets);
            } else {
                item->FirstPass = false;
            }
            item->PrevOutOctets = item->OutOctets;
            item->PrevInOctets = item->InOctets;
        }
        for (auto &i : added)
            m_Interfaces.push_back(std::move(i));

        std::vector<AddressRow> addresses;
        if (!m_Source->Addresses(addresses) || addresses.empty() || m_Interfaces.empty())
            return;
        for (const auto &item : m_Interfaces) {
            for (const AddressRow &a : addresses) {
                if (a.Index == item->InterfaceIndex) {
                    item->IPAddress = a.Address;
                    break;
                }
            }
        }
    } catch (...) {
        // The interfaces keep what the refresh had reached; nothing is raised to the pages.
        qCWarning(lcSysinfo) << "interface table refresh ended by" << platform::CurrentExceptionText();
    }
}

namespace {

// An owner whose program can be read: a process of its own, not the idle process or a kernel thread.
bool HasOwnProgram(const TConnectionItem &Item)
{
    return Item.HasOwner && Item.ProcessID != 0 && Item.ProcessStartTime && Item.ProcessPath != QLatin1String("System");
}

} // namespace

std::optional<platform::processes::ImageFacts> TNetworkMonitor::OwnerImageFacts(const TConnectionItem &Item) const
{
    if (!HasOwnProgram(Item))
        return std::nullopt;
    return m_Source->OwnerImageFacts(Item.ProcessID, *Item.ProcessStartTime);
}

int TNetworkMonitor::OpenOwnerImage(const TConnectionItem &Item) const
{
    if (!HasOwnProgram(Item))
        return -1;
    return m_Source->OpenOwnerImage(Item.ProcessID, *Item.ProcessStartTime);
}

QString TNetworkMonitor::OwnerImagePath(const TConnectionItem &Item) const
{
    if (!HasOwnProgram(Item) || Item.ProcessPath.isEmpty())
        return QString();
    return m_Source->OwnerPathIsImage(Item.ProcessID, *Item.ProcessStartTime, Item.ProcessPath) ? Item.ProcessPath
                                                                                                : QString();
}

int TNetworkMonitor::GetTCPCount() const
{
    return int(m_Tcp.size());
}

int TNetworkMonitor::GetUDPCount() const
{
    return int(m_Udp.size());
}

int TNetworkMonitor::GetInterfaceCount() const
{
    return int(m_Interfaces.size());
}

TTCPItem *TNetworkMonitor::GetTCPItem(int Index) const
{
    return quint32(Index) < m_Tcp.size() ? m_Tcp[quint32(Index)].get() : nullptr;
}

TUDPItem *TNetworkMonitor::GetUDPItem(int Index) const
{
    return quint32(Index) < m_Udp.size() ? m_Udp[quint32(Index)].get() : nullptr;
}

TNetInterface *TNetworkMonitor::GetInterface(int Index) const
{
    return quint32(Index) < m_Interfaces.size() ? m_Interfaces[quint32(Index)].get() : nullptr;
}

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

QString TProcessHelper::GetProcessPath(quint32 PID)
{
    NetworkSource &source = platform::network::defaultNetworkSource();
    platform::processes::ProcStat st;
    if (PID == 0 || PID > 0x7FFFFFFFu || !platform::processes::readStat(qint32(PID), st))
        return QString();
    return GetProcessPath(PID, st.startTime, source);
}

QString TProcessHelper::GetProcessPath(quint32 PID, quint64 StartTime, NetworkSource &Source)
{
    const auto path = Source.processPath(PID, StartTime);
    return path ? NormalizePath(*path) : QString();
}

bool TProcessHelper::TerminateProcess(quint32 PID, std::optional<quint64> StartTime)
{
    return ::TProcessHelper::Terminate(PID, StartTime);
}

} // namespace NetworkMonitor

bool TConnectionItem::Terminate()
{
    return NetworkMonitor::TProcessHelper::TerminateProcess(ProcessID, ProcessStartTime);
}

// ---- the monitor ---------------------------------------------------------------------------

TNetworkMonitor::TNetworkMonitor(QObject *AOwner, NetworkSource *Source)
    : QObject(AOwner), m_source(Source ? Source : &platform::network::defaultNetworkSource())
{}

TNetworkMonitor::~TNetworkMonitor() = default;

void TNetworkMonitor::SetSource(NetworkSource *Source)
{
    m_source = Source ? Source : &platform::network::defaultNetworkSource();
    m_tcp.clear();
    m_udp.clear();
    m_interfaces.clear();
}

void TNetworkMonitor::FillOwner(TConnectionItem &Item, const Endpoint &Row, SYSTEMTIME &CreateTime, TOwnerCache &Owners)
{
    CreateTime = SYSTEMTIME();
    if (!Row.owned)
        return; // time wait, a kernel socket or another user's: no process to show
    Item.HasOwner = true;
    Item.ProcessID = Row.owner.pid;
    Item.ProcessStartTime = Row.owner.startTime;
    const auto key = qMakePair(Row.owner.pid, Row.owner.startTime);
    auto known = Owners.constFind(key);
    if (known == Owners.cend()) {
        TOwnerFacts facts;
        if (m_source->isKernelProcess(Item.ProcessID))
            facts.Path = QStringLiteral("System");
        else
            facts.Path = NetworkMonitor::TProcessHelper::GetProcessPath(Item.ProcessID, Row.owner.startTime, *m_source);
        // The kernel keeps no creation time for a socket: the owner's start stands for it.
        if (const auto start = m_source->processStart(Row.owner.pid, Row.owner.startTime))
            facts.CreateTime = platform::localSystemTime(start->seconds, start->nanoseconds);
        known = Owners.insert(key, facts);
    }
    Item.ProcessPath = known->Path;
    Item.ProcessName = FileNamePart(Item.ProcessPath);
    CreateTime = known->CreateTime;
}

void TNetworkMonitor::RefreshTCP()
{
    m_tcp.clear();
    try {
        std::vector<Endpoint> rows;
        if (!m_source->tcpEndpoints(rows) || rows.empty())
            return;
        TOwnerCache owners;
        for (const Endpoint &row : rows) {
            auto item = std::make_unique<TTCPItem>();
            item->State = row.row.state;
            item->LocalAddress = row.row.localAddress;
            item->LocalPort = row.row.localPort;
            item->RemoteAddress = row.row.remoteAddress;
            item->RemotePort = row.row.remotePort;
            FillOwner(*item, row, item->CreateTime, owners);
            m_tcp.push_back(std::move(item));
        }
    } catch (...) {
        // A failed row ends the refresh with what was taken so far.
        qCWarning(lcSysinfo) << "TCP table refresh ended by" << platform::currentExceptionText();
    }
}

void TNetworkMonitor::RefreshUDP()
{
    m_udp.clear();
    try {
        std::vector<Endpoint> rows;
        if (!m_source->udpEndpoints(rows) || rows.empty())
            return;
        TOwnerCache owners;
        for (const Endpoint &row : rows) {
            auto item = std::make_unique<TUDPItem>();
            item->LocalAddress = row.row.localAddress;
            item->LocalPort = row.row.localPort;
            FillOwner(*item, row, item->CreateTime, owners);
            m_udp.push_back(std::move(item));
        }
    } catch (...) {
        // As for TCP: the refresh ends quietly with what was taken so far.
        qCWarning(lcSysinfo) << "UDP table refresh ended by" << platform::currentExceptionText();
    }
}

void TNetworkMonitor::RefreshInterfaces()
{
    try {
        std::vector<InterfaceRow> rows;
        if (!m_source->interfaces(rows) || rows.empty())
            return;
        // Rows are matched to items by interface index, so that an interface that comes or
        // goes does not mix the counters of the others.
        std::vector<std::unique_ptr<TNetInterface>> added;
        for (const InterfaceRow &row : rows) {
            TNetInterface *item = nullptr;
            for (const auto &i : m_interfaces) {
                if (i->InterfaceIndex == row.index) {
                    item = i.get();
                    break;
                }
            }
            if (!item) {
                for (const auto &i : added) {
                    if (i->InterfaceIndex == row.index)
                        item = i.get(); // a table that lists an index twice
                }
            }
            if (!item) {
                added.push_back(std::make_unique<TNetInterface>());
                item = added.back().get();
            }
            item->InterfaceIndex = row.index;
            item->Name = row.name;
            item->Description = row.description;
            item->InterfaceType = row.type;
            item->OperStatus = row.operStatus;
            item->PhysAddress = row.physAddress;
            item->MACText = MACTextOf(row.physAddress, row.physLength);
            item->OutOctets = row.outOctets;
            item->InOctets = row.inOctets;
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
            m_interfaces.push_back(std::move(i));

        std::vector<AddressRow> addresses;
        if (!m_source->addresses(addresses) || addresses.empty() || m_interfaces.empty())
            return;
        for (const auto &item : m_interfaces) {
            for (const AddressRow &a : addresses) {
                if (a.index == item->InterfaceIndex) {
                    item->IPAddress = a.address;
                    break;
                }
            }
        }
    } catch (...) {
        // The interfaces keep what the refresh had reached; nothing is raised to the pages.
        qCWarning(lcSysinfo) << "interface table refresh ended by" << platform::currentExceptionText();
    }
}

int TNetworkMonitor::GetTCPCount() const
{
    return int(m_tcp.size());
}

int TNetworkMonitor::GetUDPCount() const
{
    return int(m_udp.size());
}

int TNetworkMonitor::GetInterfaceCount() const
{
    return int(m_interfaces.size());
}

TTCPItem *TNetworkMonitor::GetTCPItem(int Index) const
{
    return quint32(Index) < m_tcp.size() ? m_tcp[quint32(Index)].get() : nullptr;
}

TUDPItem *TNetworkMonitor::GetUDPItem(int Index) const
{
    return quint32(Index) < m_udp.size() ? m_udp[quint32(Index)].get() : nullptr;
}

TNetInterface *TNetworkMonitor::GetInterface(int Index) const
{
    return quint32(Index) < m_interfaces.size() ? m_interfaces[quint32(Index)].get() : nullptr;
}

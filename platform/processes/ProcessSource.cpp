#include "platform/processes/ProcessSource.h"

#include "platform/processes/ProcessActions.h"

namespace platform::processes {

namespace {

// A thread's pins: the pidfd its last `Open` found a process with, and the one it holds for reads.
struct ThreadPins
{
    const ProcessSource *Source = nullptr;
    std::unique_ptr<PidFd> Opened;
    std::shared_ptr<const PidFd> Held;
    ProcessHandle OpenedHandle, HeldHandle;

    void Clear()
    {
        Opened.reset();
        Held.reset();
    }
};

thread_local ThreadPins t_Pins;

// The calling thread's pins for `Source`: those of another source are let go.
ThreadPins &PinsOf(const ProcessSource *Source)
{
    if (t_Pins.Source != Source) {
        t_Pins.Clear();
        t_Pins.Source = Source;
    }
    return t_Pins;
}

bool SameProcess(const ProcessHandle &A, const ProcessHandle &B)
{
    return A.Valid && B.Valid && A.Pid == B.Pid && A.StartTime == B.StartTime && A.Inode == B.Inode;
}

} // namespace

ProcessSource::ProcessSource() : m_Listing(std::make_unique<KeptListing>()) {}

ProcessSource::~ProcessSource()
{
    // A source made anew at the same address must not find this one's pins.
    if (t_Pins.Source == this) {
        t_Pins.Clear();
        t_Pins.Source = nullptr;
    }
}

bool ProcessSource::EnumeratePrimary(std::vector<ProcessEntry> &Out)
{
    return m_Listing->Enumerate(Out);
}

bool ProcessSource::EnumerateFallback(std::vector<ProcessEntry> &Out)
{
    return EnumerateByStatus(Out);
}

std::optional<ProcessHandle> ProcessSource::Open(quint32 Pid, quint64 StartTime)
{
    if (Pid == 0 || Pid > quint32(INT32_MAX))
        return std::nullopt;
    std::optional<PidFd> kept;
    const auto handle = PidFd::Identify(qint32(Pid), StartTime, &kept);
    ThreadPins &pins = PinsOf(this);
    pins.Opened.reset();
    if (handle && kept) {
        pins.Opened = std::make_unique<PidFd>(std::move(*kept));
        pins.OpenedHandle = *handle;
    }
    return handle;
}

void ProcessSource::HoldForReads(const ProcessHandle &Handle)
{
    ThreadPins &pins = PinsOf(this);
    pins.Held.reset();
    // Only the pidfd that has just found the process serves: anything else is pinned read by read.
    if (pins.Opened && SameProcess(pins.OpenedHandle, Handle)) {
        pins.Held = std::shared_ptr<const PidFd>(std::move(pins.Opened));
        pins.HeldHandle = Handle;
    }
    pins.Opened.reset();
}

void ProcessSource::Unpin()
{
    PinsOf(this).Clear();
}

std::shared_ptr<const PidFd> ProcessSource::SharePin(const ProcessHandle &Handle) const
{
    if (t_Pins.Source != this || !t_Pins.Held || !SameProcess(t_Pins.HeldHandle, Handle))
        return nullptr;
    return t_Pins.Held;
}

void ProcessSource::HoldShared(std::shared_ptr<const PidFd> Pin, const ProcessHandle &Handle)
{
    ThreadPins &pins = PinsOf(this);
    pins.Opened.reset();
    pins.Held = std::move(Pin);
    pins.HeldHandle = Handle;
}

const PidFd *ProcessSource::HeldPin(const ProcessHandle &Handle) const
{
    if (t_Pins.Source != this)
        return nullptr;
    return t_Pins.Held && SameProcess(t_Pins.HeldHandle, Handle) ? t_Pins.Held.get() : nullptr;
}

bool ProcessSource::IsAlive(const ProcessHandle &Handle)
{
    if (Handle.Inode != 0) {
        const auto pinned = PidFd::Pin(Handle);
        if (!pinned || !pinned->Held())
            return false;
    }
    return processes::IsAlive(Handle);
}

namespace {

// Runs `Use` on the pin of the handle's process: the one held for reads, or one made for this
// use; `None` when the identifier names another process by now.
template <typename Result, typename User>
Result WithPin(const ProcessSource &Source, const ProcessHandle &Handle, Result None, User &&Use)
{
    if (const PidFd *held = Source.HeldPin(Handle))
        return Use(*held);
    const auto pinned = PidFd::Pin(Handle);
    return pinned ? Use(*pinned) : None;
}

// Runs a read of one process's files while the process is pinned: nothing comes back when
// the identifier names another process, or when the process ended while it was read.
template <typename Reader>
auto PinnedRead(const ProcessSource &Source, const ProcessHandle &Handle, Reader &&Read) -> decltype(Read())
{
    return WithPin(Source, Handle, decltype(Read()){}, [&](const PidFd &Pin) { return ReadWhileHeld(Pin, Read); });
}

int PinnedCount(const ProcessSource &Source, const ProcessHandle &Handle, int (*Count)(qint32))
{
    return PinnedRead(Source, Handle, [&] { return std::optional<int>(Count(Handle.Pid)); }).value_or(-1);
}

} // namespace

std::optional<ProcStat> ProcessSource::Stat(const ProcessHandle &Handle)
{
    return PinnedRead(*this, Handle, [&]() -> std::optional<ProcStat> {
        ProcStat st;
        if (!ReadStat(Handle.Pid, st) || st.StartTime != Handle.StartTime)
            return std::nullopt;
        return st;
    });
}

std::optional<quint32> ProcessSource::Uid(const ProcessHandle &Handle)
{
    return PinnedRead(*this, Handle, [&] { return ReadEffectiveUid(Handle.Pid); });
}

std::optional<QString> ProcessSource::AccountName(quint32 Uid)
{
    return processes::AccountName(Uid);
}

QString ProcessSource::DomainName()
{
    static const QString kHost = HostName();
    return kHost;
}

std::optional<QString> ProcessSource::ExePath(const ProcessHandle &Handle)
{
    return PinnedRead(*this, Handle, [&] { return ReadExePath(Handle.Pid); });
}

std::optional<platform::files::FileIdentity> ProcessSource::ImageIdentity(const ProcessHandle &Handle)
{
    return PinnedRead(*this, Handle, [&] { return processes::ImageIdentity(Handle.Pid); });
}

int ProcessSource::OpenImage(const ProcessHandle &Handle)
{
    return WithPin(*this, Handle, -1, [](const PidFd &Pin) { return OpenImageWhileHeld(Pin); });
}

bool ProcessSource::PathIsImage(const ProcessHandle &Handle, const QString &Path)
{
    if (Path.isEmpty())
        return false;
    const auto image = ImageIdentity(Handle);
    return image && LeadsWithoutLinksTo(Path, *image);
}

ImageOnPath ProcessSource::ImageAndPath(const ProcessHandle &Handle, const QString &Path)
{
    ImageOnPath result;
    result.Image = ImageIdentity(Handle);
    result.PathIsImage = result.Image && LeadsWithoutLinksTo(Path, *result.Image);
    return result;
}

std::optional<ImageFacts> ProcessSource::ImageFactsOf(const ProcessHandle &Handle)
{
    return PinnedRead(*this, Handle, [&] { return ReadImageFacts(Handle.Pid); });
}

std::optional<QStringList> ProcessSource::Cmdline(const ProcessHandle &Handle, bool *RawSingle)
{
    return PinnedRead(*this, Handle, [&] { return ReadCmdline(Handle.Pid, RawSingle); });
}

std::optional<MemoryStatus> ProcessSource::Memory(const ProcessHandle &Handle)
{
    return PinnedRead(*this, Handle, [&] { return ReadMemoryStatus(Handle.Pid); });
}

std::optional<ResidentMemory> ProcessSource::Resident(const ProcessHandle &Handle, quint64 &FileInode)
{
    if (!Handle.Valid || Handle.Pid <= 0)
        return std::nullopt;
    if (FileInode != 0) {
        // A file of /proc/PID stays bound to the process it was made for: when the process
        // ends, a new one under the identifier gets new files with new inodes.
        quint64 inode = 0;
        const auto m = ReadStatm(Handle.Pid, &inode);
        if (m && inode == FileInode)
            return m;
    }
    quint64 inode = 0;
    const auto m = PinnedRead(*this, Handle, [&] { return ReadStatm(Handle.Pid, &inode); });
    FileInode = m ? inode : 0;
    return m;
}

int ProcessSource::FdCount(const ProcessHandle &Handle)
{
    return PinnedCount(*this, Handle, ReadFdCount);
}

int ProcessSource::ModuleCount(const ProcessHandle &Handle)
{
    return PinnedCount(*this, Handle, ReadModuleCount);
}

std::optional<SchedInfo> ProcessSource::Sched(const ProcessHandle &Handle)
{
    return PinnedRead(*this, Handle, [&] { return ReadSchedInfo(Handle.Pid); });
}

std::optional<std::vector<bool>> ProcessSource::Affinity(const ProcessHandle &Handle)
{
    return PinnedRead(*this, Handle, [&] { return ReadAffinity(Handle.Pid); });
}

unsigned ProcessSource::ProcessorCount()
{
    return OnlineProcessorCount();
}

std::optional<quint64> ProcessSource::IdleTime()
{
    const auto ticks = SystemIdleTicks();
    if (!ticks)
        return std::nullopt;
    return TicksTo100ns(*ticks);
}

quint64 ProcessSource::MonotonicNow()
{
    return MonotonicNow100ns();
}

qint64 ProcessSource::BootTimeSeconds()
{
    return processes::BootTimeSeconds();
}

qint64 ProcessSource::RealtimeNowNs()
{
    return processes::RealtimeNowNs();
}

long ProcessSource::ClockTicksPerSecond()
{
    return processes::ClockTicksPerSecond();
}

quint64 ProcessSource::TicksTo100ns(quint64 Ticks)
{
    const long hz = ClockTicksPerSecond();
    if (hz <= 0)
        return 0;
    return Ticks / quint64(hz) * 10000000ull + Ticks % quint64(hz) * 10000000ull / quint64(hz);
}

ProcessSource &DefaultProcessSource()
{
    static ProcessSource source;
    return source;
}

} // namespace platform::processes

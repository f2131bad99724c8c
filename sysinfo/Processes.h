#pragma once

#include "platform/files/SystemTime.h"
#include "platform/processes/ProcessSource.h"
#include "sysinfo/ProcessHelper.h"
#include "sysinfo/ProcessReaders.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TProcesses;
class TProcessItem;
class TPassReads;

// Notifications of the process list; the sender is always the list.
using TProcessAddedEvent = std::function<void(QObject *Sender, quint32 dwProcessID)>;
using TProcessReloadedEvent = std::function<void(QObject *Sender, quint32 dwProcessID)>;
using TProcessRemovedEvent = std::function<void(QObject *Sender, quint32 dwProcessID)>;

// Start-up of this unit: makes sure the terminal service runs. Runs once per program run
// (later calls do nothing); the program calls it before it creates any form. With an application
// object the check runs beside the caller, which it never holds.
void ProcessesUnitInitialization();

// The normalisation of image paths and command lines. Only a text in one of the Windows
// forms it knows is rewritten; every Linux path and command line comes back unchanged.
QString NormalizePath(const QString &Path);

class TProcessMemory
{
public:
    explicit TProcessMemory(TProcessItem *AOwner) : Owner(AOwner) {}

    TProcessItem *Owner;
    quint64 WorkingSetSize = 0;     // resident set
    quint64 PeakWorkingSetSize = 0; // its high-water mark
    qint64 WorkingSetDelta = 0;
    quint64 PagefileUsage = 0; // private bytes: the anonymous part of the resident set
    quint64 PeakPagefileUsage = 0;
    qint64 PagefileDelta = 0;
    quint64 PagedPoolUsage = 0; // page tables
    quint64 PeakPagedPoolUsage = 0;
    qint64 PagedPoolDelta = 0;
    quint64 NonPagedPoolUsage = 0; // locked memory
    quint64 PeakNonPagedPoolUsage = 0;
    qint64 NonPagedPoolDelta = 0;
    quint64 PageFaultCount = 0;

    // The two counters the process list shows (working set and page file, with their deltas and
    // peaks as far as seen), from the cheapest file that holds them, read now.
    void Refresh();
    // Every counter, the kernel's own high-water mark and the page-table and locked memory
    // included: for the details panel.
    void RefreshAll();
    // The same from what was read elsewhere: the resident set, or every counter with the faults
    // when they were read with them.
    void Take(const platform::processes::ResidentMemory &Read);
    void TakeAll(const platform::processes::MemoryStatus &Read, std::optional<quint64> Faults);

private:
    void Store(quint64 WorkingSet, quint64 Pagefile);
};

class TProcessTime
{
public:
    explicit TProcessTime(TProcessItem *AOwner) : Owner(AOwner) {}

    TProcessItem *Owner;
    qint64 KernelTime = 0; // milliseconds
    qint64 UserTime = 0;
    SYSTEMTIME StartTime; // local time
    SYSTEMTIME RunTime;   // a span: WDay counts whole days

    // What the times are made of, read together.
    struct TRead
    {
        platform::processes::ProcStat Stat;
        qint64 BootTime = 0; // seconds since the epoch
        long TicksPerSecond = 0;
        qint64 NowNs = 0; // real time
    };
    static std::optional<TRead> Read(platform::processes::ProcessSource &Source,
                                     const platform::processes::ProcessHandle &Handle);

    void Refresh();
    void Take(const TRead &Read);
};

class TProcessIO
{
public:
    explicit TProcessIO(TProcessItem *AOwner) : Owner(AOwner) {}

    TProcessItem *Owner;
};

class TProcessItem
{
public:
    explicit TProcessItem(TProcesses *AOwner);
    ~TProcessItem();
    TProcessItem(const TProcessItem &) = delete;
    TProcessItem &operator=(const TProcessItem &) = delete;

    TProcesses *Owner;
    quint32 FillAttempts = 0;
    bool DetailsComplete = false;
    platform::processes::ProcessHandle ProcessHandle; // invalid: the process could not be opened
    std::optional<quint32> UserSid;                   // the effective uid
    double LastSystemTime = 0;
    double LastIdleTime = 0;
    double LastProcessTime = 0;
    int UserData = 0;
    QString Name;
    quint32 ProcessID = 0;
    quint32 ParentProcessID = 0;
    quint32 SessionID = 0;
    QString Domain;
    QString UserName;
    QString Path;
    QString CommandLine;
    QString Icon; // icon name; empty for none
    int IconIndex = -1;
    int CPUUsage = 0;
    const std::unique_ptr<TProcessMemory> Memory;
    const std::unique_ptr<TProcessTime> Times;
    const std::unique_ptr<TProcessIO> IO;

    // The idle process and kernel threads: no path, command line or icon, never
    // completed later.
    bool IsSystemProcess() const { return ProcessID == 0 || m_KernelThread; }

    void UpdateCPUUsage();
    void CompleteDetails();

    void ReadTokenUser();
    void ReadParentPID();
    void ReadSessionID();
    void ReadUserName();
    void ReadImagePath();
    void ReadCommandLine();
    void ReadIcon();
    // The path, when it names here, without any link, the very file the process runs; empty
    // otherwise (a path of another mount namespace, a file or link put in its place, a deleted
    // file). Only such a path says anything about the process: the rules that go by a path
    // (critical processes, system files, icons, packages) look at this one.
    QString ImagePath() const;
    // The file the process runs, opened for reading through the process itself (never through
    // its path); -1 when it cannot be. The caller closes it.
    int OpenImage();
    // That file's device and inode, read through the process as well.
    std::optional<platform::files::FileIdentity> ImageIdentity();
    // That file and whether the path is it (as ImagePath), with the file looked up once.
    platform::processes::ImageOnPath ImageAndPath();
    // Who runs the process and the path the kernel reports for its program, read now (see
    // platform::processes::ImageFacts); nothing for the idle process, kernel threads and a
    // process that cannot be read.
    std::optional<platform::processes::ImageFacts> ImageFacts();
    // The memory counters are those of the latest pass (read in it or after it).
    bool MemoryCurrent() const;

    int GetHandleCount();
    int GetThreadCount();
    int GetModuleCount();
    quint32 GetPriority();
    bool GetAffinity(quint32 CPUIndex);

    void Suspend();
    void Resume();
    bool Terminate();
    bool TerminateTree();
    bool TerminateAndDelete();
    bool SetPriority(quint16 PriorityClass);
    bool SetAffinity(quint32 CPUIndex, bool Enabled);

private:
    friend class TProcesses;
    friend class TProcessMemory;
    friend class TProcessTime;

    platform::processes::ProcessSource &Source() const;
    void TakeSample(const platform::processes::ProcessEntry &Entry, quint64 Pass);
    // The process as the item knows it: the handle, or where none could be had the
    // identifier and start time.
    platform::processes::ProcessHandle Identity() const;

    // What a pass can notice of a process that is still the same one.
    enum Change : unsigned {
        NameChanged = 1,  // renamed, or running a new program under the same name
        ImageChanged = 2, // running a new program
        OwnerChanged = 4, // another effective user
        EntryChanged = 8, // its /proc entry was made anew: perhaps another process
    };
    unsigned ChangesIn(const platform::processes::ProcessEntry &Entry) const;
    // Reads again what the changes touch; true when the owner is to hear of it.
    bool Reload(const platform::processes::ProcessEntry &Entry, unsigned Changes);
    void SetName(const platform::processes::ProcessEntry &Entry);
    bool ReadUserAgain(const platform::processes::ProcessEntry &Entry);

    bool m_KernelThread = false;
    quint64 m_MemoryPass = 0; // the pass whose memory counters the item holds
    QByteArray m_NameBytes;   // the name as the kernel keeps it
    platform::processes::ImageLayout m_Layout;
    std::optional<quint32> m_OwnerUid; // owner of /proc/PID at the last pass
    quint64 m_ProcInode = 0;           // inode of /proc/PID at the last pass
    QString m_FirstArgument;
    unsigned m_PendingChanges = 0;
    quint64 m_ReloadPass = 0;
    quint64 m_StartTime = 0;  // as enumerated
    quint64 m_SeenPass = 0;   // the last pass that found the process alive
    quint64 m_SamplePass = 0; // the pass of the times below
    quint64 m_SampleTicks = 0;
    quint64 m_SampleFaults = 0;
    quint64 m_StatmInode = 0; // the statm file a pinned read found to be the process's
};

// What the details panel shows of a process beyond what its item holds, read together off the
// window's thread.
struct TProcessDetails
{
    std::optional<platform::processes::MemoryStatus> Memory;
    std::optional<quint64> Faults;
    std::optional<TProcessTime::TRead> Times;
    quint32 Priority = 0;
    int Threads = 0;
    int Modules = 0;
    int Handles = 0;
    // The file the process runs, whether its path is that file, and the file's version.
    std::optional<platform::files::FileIdentity> Image;
    bool PathIsImage = false;
    QString Version;
};

class TProcesses : public QObject
{
    Q_OBJECT

public:
    // `Source` replaces the system for tests; the list does not own it, and it must take reads
    // from several threads at once.
    explicit TProcesses(QObject *AOwner = nullptr, platform::processes::ProcessSource *Source = nullptr);
    // Ends the worker (it stops within one read of a /proc file) and lets go of the readers
    // without waiting for any.
    ~TProcesses() override;

    bool FirstPass = true;
    bool Busy = false;
    quint32 ProcessorCount = 1;
    TProcessAddedEvent OnProcessAdded;
    TProcessReloadedEvent OnProcessReloaded;
    TProcessRemovedEvent OnProcessRemoved;

    // Frees every item without events; refused while a pass runs (from an event handler) or
    // the worker reads.
    void Clear();
    // One pass on the calling thread, reading as it goes; refused (false) while a pass runs or
    // the worker reads.
    bool Refresh();
    int GetCount() const;
    TProcessItem *GetItem(int Index) const;
    TProcessItem *ItemByPID(quint32 Pid) const;
    bool CreateProcess(const QString &CommandLine);

    // ---- Off the window's thread -------------------------------------------------------------
    // One pass read by the worker: it lists the processes and reads what the items need, hands
    // the reads to this thread, and the pass then runs here as Refresh runs, its events included,
    // reading nothing. The memory counters of `MemoryOf` (or of every item) are read with it.
    // Returns at once; refused (false) while the last one is on its way.
    bool RefreshInBackground(const QList<quint32> &MemoryOf = {}, bool AllMemory = false);
    // Reads the memory counters of these processes on the worker; OnMemoryRead runs once they
    // are in the items.
    void ReadMemoryInBackground(const QList<quint32> &Pids);
    // A pass or a read of counters is on its way.
    bool Refreshing() const { return m_PassOnItsWay || m_MemoryReads > 0; }
    bool ReadingMemory() const { return m_MemoryReads > 0; }
    // Around a background pass as it is taken in: before its events, and after (with what
    // Refresh would have returned).
    std::function<void()> OnRefreshing;
    std::function<void(bool Listed)> OnRefreshed;
    std::function<void()> OnMemoryRead;
    // The passes taken in so far.
    quint64 Pass() const { return m_Pass; }
    // The path of process 1's program as the kernel reports it, read by the passes; empty when
    // it could not be read.
    QString InitProgramPath() const { return m_InitProgramPath; }

    // Reads of one process that may wait, asked off the window's thread; the answer of the same
    // read asked before and not let go yet is given back instead of asking again.
    using TFactsAnswer = TProcessReaders::TAnswer<platform::processes::ImageFacts>;
    using TPathAnswer = TProcessReaders::TAnswer<QString>;
    using TDetailsAnswer = TProcessReaders::TAnswer<TProcessDetails>;
    // ImageFacts of the item; ImagePath of the item (an empty path when none, nothing when it
    // cannot be read); what the details panel shows.
    std::shared_ptr<TFactsAnswer> AskImageFacts(const TProcessItem *Item);
    std::shared_ptr<TPathAnswer> AskImagePath(const TProcessItem *Item);
    std::shared_ptr<TDetailsAnswer> AskDetails(const TProcessItem *Item);
    // Ends the item's process and every other one of its file and deletes the file, as
    // TerminateAndDelete does, off the window's thread: the file's file system may keep it waiting.
    // Once `Cancel` is set (the caller gave up waiting) it ends nothing more and deletes nothing.
    using TActionAnswer = TProcessReaders::TAnswer<bool>;
    std::shared_ptr<TActionAnswer> AskTerminateAndDelete(const TProcessItem *Item,
                                                         const std::shared_ptr<std::atomic<bool>> &Cancel);
    // The process commands, off the window's thread as well (what they read of the process may
    // wait): each acts only as its hand-over lets it (see TOperationHandOver) and gives its result
    // there. They run apart from the process's other reads, which may wait on it, one at a time
    // for one process, in the order asked. Nothing is asked without an item.
    struct TOperationAsked
    {
        std::shared_ptr<TOperationHandOver> HandOver;
        std::shared_ptr<TProcessReaders::TJob> Job;
    };
    TOperationAsked AskTerminate(const TProcessItem *Item);
    // The children are the items whose parent the process was at their last pass.
    TOperationAsked AskTerminateTree(const TProcessItem *Item);
    TOperationAsked AskSuspend(const TProcessItem *Item);
    TOperationAsked AskResume(const TProcessItem *Item);
    TOperationAsked AskSetPriority(const TProcessItem *Item, quint16 PriorityClass);
    TOperationAsked AskSetAffinity(const TProcessItem *Item, quint32 CPUIndex, bool Enabled);
    // The result when it comes within `Ms` (see TOperationHandOver::Wait); false when nothing was
    // asked or the caller gave up.
    bool WaitForOperation(const TOperationAsked &Asked, int Ms);
    // The process's priority class and processor mask, read beside its commands.
    using TPriorityAnswer = TProcessReaders::TAnswer<quint32>;
    using TAffinityAnswer = TProcessReaders::TAnswer<std::vector<bool>>;
    std::shared_ptr<TPriorityAnswer> AskPriority(const TProcessItem *Item);
    std::shared_ptr<TAffinityAnswer> AskAffinity(const TProcessItem *Item);
    // Opens the file the item's process runs, through the process, for a worker (the open may
    // wait on the file's file system); empty for a process without one.
    std::function<int()> ImageOpener(const TProcessItem *Item) const;
    // Waits up to `Ms` for an answer; true when it is in.
    bool WaitFor(const TProcessReaders::TJob &Answer, int Ms) const;
    // Lets go of an answer taken: the next question reads again.
    void Forget(const std::shared_ptr<TProcessReaders::TJob> &Answer);
    // The readers (for the tests that weigh them).
    const TProcessReaders &Readers() const { return *m_Readers; }

    platform::processes::ProcessSource &Source() const;

private:
    friend class TProcessItem;
    friend class TProcessMemory;
    struct TRequest;
    struct TBackground;

    void DropEnded(const std::vector<platform::processes::ProcessEntry> *Entries);
    void RemoveAt(std::size_t Index);
    TProcessItem *CreateItem(const platform::processes::ProcessEntry &Entry, bool Primary);
    void ApplyEntries(std::vector<platform::processes::ProcessEntry> &Entries, bool Primary);
    // The pass after the listing: `Entries` null when neither listing succeeded.
    bool RunPass(std::vector<platform::processes::ProcessEntry> *Entries, bool Primary);

    // Within one pass, a user's name is looked up once, however many new processes share it.
    // Nothing when there is no name; `Pending` set (and nothing) while a look-up waits.
    std::optional<QString> AccountName(quint32 Uid, bool *Pending = nullptr);
    // The icon of the file the process runs, where `Path` is that file: its name and index.
    QPair<QString, int> IconOf(const platform::processes::ProcessHandle &Handle, const QString &Path);
    // Reads of the item that wait on a reader: its deferred completion is not counted meanwhile.
    bool ReadsPending(const TProcessItem &Item) const;
    TOperationAsked AskOperation(const TProcessItem *Item, std::function<bool(TOperationHandOver *)> Operation);

    // The worker's side.
    void StartWorker();
    void RunWorker();
    void ReadPass(TRequest &Request);
    void ReadMemory(TRequest &Request);
    // What a pass will ask of one listed process, read now or asked of the readers.
    void Prefetch(const platform::processes::ProcessEntry &Entry, TRequest &Request);
    void PrefetchNew(const platform::processes::ProcessEntry &Entry, bool Primary, TRequest &Request);
    bool PrefetchReload(const TProcessItem &Item, const platform::processes::ProcessEntry &Entry, unsigned Changes,
                        TRequest &Request);
    void PrefetchCompletion(const TProcessItem &Item, TRequest &Request);
    // Asks a reader for what may wait of one process: its command line, the icon of the file at
    // `IconPath` (null for none), process 1's program; one read that waits or runs stands for the
    // same asked again unless `Fresh`.
    void AskProcess(const platform::processes::ProcessHandle &Handle, quint32 Lane, bool CommandLine,
                    const QString &IconPath, bool Init, bool Fresh, TRequest &Request,
                    std::shared_ptr<const platform::processes::PidFd> Pin = nullptr);
    void AskAccount(quint32 Uid, TRequest &Request);
    // Waits for the reads asked by the pass while they make progress; serves what is in.
    void WaitForAsked(TRequest &Request);
    void ServeAsked(TRequest &Request);
    // The window's side.
    void TakeIn(TRequest &Request);
    void TakeMemory(TRequest &Request);

    platform::processes::ProcessSource *m_Source;
    std::vector<std::unique_ptr<TProcessItem>> m_Items; // in insertion order
    QHash<quint32, TProcessItem *> m_ByPid;
    quint64 m_Pass = 0;
    std::vector<platform::processes::ProcessEntry> m_Entries; // reused from pass to pass
    QHash<quint32, std::optional<QString>> m_AccountNames;
    QString m_InitProgramPath;
    // While a background pass is taken in: what its worker read.
    TPassReads *m_Reads = nullptr;
    bool m_PassOnItsWay = false;
    int m_MemoryReads = 0;
    std::unique_ptr<TProcessReaders> m_Readers;
    std::unique_ptr<TBackground> m_Background;
};

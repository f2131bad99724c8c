#pragma once

#include "platform/files/SystemTime.h"
#include "platform/processes/ProcessSource.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TProcesses;
class TProcessItem;

// Notifications of the process list; the sender is always the list.
using TProcessAddedEvent = std::function<void(QObject *Sender, quint32 dwProcessID)>;
using TProcessReloadedEvent = std::function<void(QObject *Sender, quint32 dwProcessID)>;
using TProcessRemovedEvent = std::function<void(QObject *Sender, quint32 dwProcessID)>;

// Start-up of this unit: makes sure the terminal service runs. Runs once per program run
// (later calls do nothing); the program calls it before it creates any form.
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
    // peaks as far as seen), from the cheapest file that holds them: run for every row in view
    // on every tick.
    void Refresh();
    // Every counter, the kernel's own high-water mark and the page-table and locked memory
    // included: for the details panel.
    void RefreshAll();

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

    void Refresh();
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
    QByteArray m_NameBytes; // the name as the kernel keeps it
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

class TProcesses : public QObject
{
    Q_OBJECT

public:
    // `Source` replaces the system for tests; the list does not own it.
    explicit TProcesses(QObject *AOwner = nullptr, platform::processes::ProcessSource *Source = nullptr);
    ~TProcesses() override;

    bool FirstPass = true;
    bool Busy = false;
    quint32 ProcessorCount = 1;
    TProcessAddedEvent OnProcessAdded;
    TProcessReloadedEvent OnProcessReloaded;
    TProcessRemovedEvent OnProcessRemoved;

    // Frees every item without events; refused while a pass runs (from an event handler).
    void Clear();
    bool Refresh();
    int GetCount() const;
    TProcessItem *GetItem(int Index) const;
    TProcessItem *ItemByPID(quint32 Pid) const;
    bool CreateProcess(const QString &CommandLine);

    platform::processes::ProcessSource &Source() const { return *m_Source; }

private:
    friend class TProcessItem;
    friend class TProcessMemory;

    void DropEnded(const std::vector<platform::processes::ProcessEntry> *Entries);
    void RemoveAt(std::size_t Index);
    TProcessItem *CreateItem(const platform::processes::ProcessEntry &Entry, bool Primary);
    void ApplyEntries(std::vector<platform::processes::ProcessEntry> &Entries, bool Primary);

    // Within one pass, a user's name is looked up once, however many new processes share it.
    std::optional<QString> AccountName(quint32 Uid);

    platform::processes::ProcessSource *m_Source;
    std::vector<std::unique_ptr<TProcessItem>> m_Items; // in insertion order
    QHash<quint32, TProcessItem *> m_ByPid;
    quint64 m_Pass = 0;
    std::vector<platform::processes::ProcessEntry> m_Entries; // reused from pass to pass
    QHash<quint32, std::optional<QString>> m_AccountNames;
};

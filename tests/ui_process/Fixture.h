#pragma once

#include "common/TempDir.h"
#include "common/UserDirs.h"
#include "dictdb_access/DictionaryFile.h"
#include "ui_message/MessageAnswers.h"
#include "dictdb/DBTools.h"
#include "dictdb/DictDBCreator.h"
#include "dictdb/DictTable.h"
#include "platform/files/FileHandle.h"
#include "platform/processes/ProcFs.h"
#include "platform/processes/ProcessSource.h"
#include "sysinfo/Processes.h"
#include "ui/UiHooks.h"
#include "ui/frmMain.h"
#include "ui/frmMainAutoruns.h"
#include "ui/frmMainDetails.h"
#include "ui/frmMainNetwork.h"
#include "ui/frmMainProcess.h"
#include "ui/frmMainServices.h"
#include "ui/frmMainSystem.h"
#include "ui/frmMainUpdate.h"
#include "ui/frmMessage.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QTextEdit>
#include <QTreeWidget>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace ptest {

using platform::processes::MemoryStatus;
using platform::processes::ProcessEntry;
using platform::processes::ProcessHandle;
using platform::processes::ProcStat;
using platform::processes::SchedInfo;

// Identifiers above the kernel's largest possible one: no real process can ever carry them,
// so a row of such a process can never lead to an action on the machine.
constexpr quint32 kNoSuchPid = 4194304 + 1000;

// One process of the scripted table.
struct FakeProc
{
    quint32 pid = 0;
    QString name;
    quint64 startTime = 1ull << 60; // matches no real process
    QString exe;
    // The file the process runs, where it is not the one `exe` names (a path of another mount
    // namespace, a file put in its place after the start).
    QString image;
    std::optional<QStringList> args; // the command line's words; the file alone when unset
    quint32 uid = 1000;
    quint32 ppid = 0;
    bool kernel = false;
    MemoryStatus mem;
    quint64 cpuTicks = 0; // user time so far, in clock ticks
    std::optional<SchedInfo> sched;
    std::optional<std::vector<bool>> affinity;
};

// The process table the form sees: only what the test put there. The list's worker and readers
// read it from threads of their own: every read holds `lock`, and a test that changes the table
// while the form may be reading (the timer runs) holds it too.
class FakeSource : public platform::processes::ProcessSource
{
public:
    std::vector<FakeProc> procs;
    unsigned cpus = 4;
    quint64 clock = 1;
    std::recursive_mutex lock;

    // The reads that wait on a process (its command line and memory map, its program file) wait,
    // for the processes listed here, until the test lets them go; `slowReads` counts such reads
    // of each process, and `waitingMost` the most that waited at once.
    void block(quint32 pid)
    {
        std::lock_guard g(gate);
        blocked.insert(pid);
    }
    void release(quint32 pid)
    {
        {
            std::lock_guard g(gate);
            blocked.erase(pid);
        }
        opened.notify_all();
    }
    void releaseAll()
    {
        {
            std::lock_guard g(gate);
            blocked.clear();
        }
        opened.notify_all();
    }
    int slowReadsOf(quint32 pid)
    {
        std::lock_guard g(gate);
        const auto it = slowReads.find(pid);
        return it == slowReads.end() ? 0 : it->second;
    }
    int waitingNow()
    {
        std::lock_guard g(gate);
        return waiting;
    }
    int waitingMost()
    {
        std::lock_guard g(gate);
        return most;
    }
    // Reads that waited end, and every read left the table, before it goes.
    ~FakeSource() override
    {
        releaseAll();
        QDeadlineTimer deadline(10000);
        for (int still = 0; still < 20 && !deadline.hasExpired(); still = calls == 0 ? still + 1 : 0)
            QThread::msleep(5);
    }

    // A read of the table in progress.
    struct Call
    {
        explicit Call(FakeSource *S) : s(S) { ++s->calls; }
        ~Call() { --s->calls; }
        FakeSource *s;
    };
    std::atomic<int> calls{0};

    FakeProc *find(quint32 pid)
    {
        auto it = std::find_if(procs.begin(), procs.end(), [pid](const FakeProc &p) { return p.pid == pid; });
        return it == procs.end() ? nullptr : &*it;
    }
    FakeProc *find(const ProcessHandle &h)
    {
        FakeProc *p = find(quint32(h.Pid));
        return (p && h.Valid && p->startTime == h.StartTime) ? p : nullptr;
    }
    void remove(quint32 pid)
    {
        std::erase_if(procs, [pid](const FakeProc &p) { return p.pid == pid; });
    }

    bool EnumeratePrimary(std::vector<ProcessEntry> &out) override
    {
        Call c(this);
        std::lock_guard g(lock);
        for (const FakeProc &p : procs) {
            ProcessEntry e;
            e.Pid = p.pid;
            e.Name = p.name;
            e.StartTime = p.startTime;
            e.Uid = p.uid;
            e.ParentPid = p.ppid;
            e.KernelThread = p.kernel;
            out.push_back(e);
        }
        return true;
    }
    bool EnumerateFallback(std::vector<ProcessEntry> &) override { return false; }
    std::optional<ProcessHandle> Open(quint32 pid, quint64 start) override
    {
        Call c(this);
        std::lock_guard g(lock);
        FakeProc *p = find(pid);
        return (p && p->startTime == start) ? std::optional(ProcessHandle{qint32(pid), start, true}) : std::nullopt;
    }
    bool IsAlive(const ProcessHandle &h) override
    {
        Call c(this);
        std::lock_guard g(lock);
        return find(h) != nullptr;
    }
    std::optional<ProcStat> Stat(const ProcessHandle &h) override
    {
        Call c(this);
        std::lock_guard g(lock);
        ++reads;
        FakeProc *p = find(h);
        if (!p)
            return std::nullopt;
        ProcStat st;
        st.Pid = qint32(p->pid);
        st.StartTime = p->startTime;
        st.ParentPid = qint32(p->ppid);
        st.Utime = p->cpuTicks;
        return st;
    }
    std::optional<quint32> Uid(const ProcessHandle &h) override
    {
        Call c(this);
        std::lock_guard g(lock);
        ++reads;
        FakeProc *p = find(h);
        return p ? std::optional(p->uid) : std::nullopt;
    }
    std::optional<QString> AccountName(quint32 uid) override { return QStringLiteral("user%1").arg(uid); }
    QString DomainName() override { return QStringLiteral("host"); }
    std::optional<QString> ExePath(const ProcessHandle &h) override
    {
        Call c(this);
        std::lock_guard g(lock);
        ++reads;
        FakeProc *p = find(h);
        return (p && !p->exe.isEmpty()) ? std::optional(p->exe) : std::nullopt;
    }
    // The scripted image is the file at `image`, or else at `exe`, as it is now.
    QString imageFile(const ProcessHandle &h)
    {
        std::lock_guard g(lock);
        FakeProc *p = find(h);
        return p ? (p->image.isEmpty() ? p->exe : p->image) : QString();
    }
    std::optional<platform::files::FileIdentity> ImageIdentity(const ProcessHandle &h) override
    {
        Call c(this);
        waitIfBlocked(h);
        const QString file = imageFile(h);
        return file.isEmpty() ? std::nullopt : platform::files::IdentityWithoutLinks(QFile::encodeName(file));
    }
    int OpenImage(const ProcessHandle &h) override
    {
        Call c(this);
        waitIfBlocked(h);
        const QString file = imageFile(h);
        QString why;
        return file.isEmpty() ? -1 : platform::files::OpenHandle(file, platform::files::HandleAccess::Read, false, why);
    }
    // The kernel's path is the scripted one; the uid is the scripted user's.
    std::optional<platform::processes::ImageFacts> ImageFactsOf(const ProcessHandle &h) override
    {
        Call c(this);
        waitIfBlocked(h);
        std::lock_guard g(lock);
        FakeProc *p = find(h);
        if (!p || p->exe.isEmpty())
            return std::nullopt;
        platform::processes::ImageFacts facts;
        facts.Uids = {p->uid, p->uid};
        facts.Path = p->exe;
        return facts;
    }
    std::optional<QStringList> Cmdline(const ProcessHandle &h, bool *) override
    {
        Call c(this);
        waitIfBlocked(h);
        std::lock_guard g(lock);
        ++reads;
        FakeProc *p = find(h);
        if (p && p->args)
            return p->args;
        return (p && !p->exe.isEmpty()) ? std::optional(QStringList{p->exe}) : std::nullopt;
    }
    std::optional<MemoryStatus> Memory(const ProcessHandle &h) override
    {
        Call c(this);
        std::lock_guard g(lock);
        ++reads;
        FakeProc *p = find(h);
        return p ? std::optional(p->mem) : std::nullopt;
    }
    std::optional<platform::processes::ResidentMemory> Resident(const ProcessHandle &h, quint64 &) override
    {
        Call c(this);
        std::lock_guard g(lock);
        ++reads;
        ++residentReads;
        FakeProc *p = find(h);
        if (!p)
            return std::nullopt;
        return platform::processes::ResidentMemory{p->mem.VmRss, p->mem.VmRss - qMin(p->mem.RssAnon, p->mem.VmRss)};
    }
    std::atomic<int> residentReads{0};
    std::atomic<int> reads{0}; // of any process's files
    int ModuleCount(const ProcessHandle &h) override
    {
        Call c(this);
        waitIfBlocked(h);
        return ProcessSource::ModuleCount(h);
    }
    // The priority and processor mask wait as well (not counted among the slow reads).
    std::optional<SchedInfo> Sched(const ProcessHandle &h) override
    {
        Call c(this);
        waitIfBlocked(h, false);
        std::lock_guard g(lock);
        FakeProc *p = find(h);
        return p ? p->sched : std::nullopt;
    }
    std::optional<std::vector<bool>> Affinity(const ProcessHandle &h) override
    {
        Call c(this);
        waitIfBlocked(h, false);
        std::lock_guard g(lock);
        FakeProc *p = find(h);
        return p ? p->affinity : std::nullopt;
    }
    unsigned ProcessorCount() override { return cpus; }
    std::optional<quint64> IdleTime() override { return 0; }
    // Each look at the clock is a second later, unless the test moves the clock itself.
    bool frozenClock = false;
    quint64 MonotonicNow() override
    {
        Call c(this);
        std::lock_guard g(lock);
        return frozenClock ? clock : clock += 10000000;
    }

private:
    void waitIfBlocked(const ProcessHandle &h, bool counted = true)
    {
        std::unique_lock g(gate);
        const quint32 pid = quint32(h.Pid);
        if (counted)
            ++slowReads[pid];
        if (!blocked.count(pid))
            return;
        ++waiting;
        most = std::max(most, waiting);
        opened.wait(g, [&] { return !blocked.count(pid); });
        --waiting;
    }

    std::mutex gate;
    std::condition_variable opened;
    std::set<quint32> blocked;
    std::map<quint32, int> slowReads;
    int waiting = 0;
    int most = 0;
};

// A child process of the test: the only kind of real process a test acts on.
struct Child
{
    std::unique_ptr<QProcess> process;
    quint32 pid = 0;
    quint64 startTime = 0;

    static Child Sleep()
    {
        Child c;
        c.process = std::make_unique<QProcess>();
        c.process->start(QStringLiteral("/usr/bin/sleep"), {QStringLiteral("60")});
        if (!c.process->waitForStarted(5000))
            return c;
        c.pid = quint32(c.process->processId());
        ProcStat st;
        if (platform::processes::ReadStat(qint32(c.pid), st))
            c.startTime = st.StartTime;
        return c;
    }
    bool running() const { return process && process->state() == QProcess::Running; }
    // Waits for the child to end; true when it did.
    bool waitEnded(int ms = 5000) const { return process->waitForFinished(ms) || !running(); }
    char state() const
    {
        ProcStat st;
        return platform::processes::ReadStat(qint32(pid), st) ? st.State : '?';
    }
    // Polls the kernel's state letter of the child until it is `want`.
    bool waitState(char want) const
    {
        QDeadlineTimer deadline(3000);
        while (!deadline.hasExpired()) {
            if (state() == want)
                return true;
            QThread::msleep(10);
        }
        return state() == want;
    }
    void end()
    {
        if (running()) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    // The scripted table's view of this child (the real identifier and start time).
    FakeProc proc(const QString &name, const QString &exe = QStringLiteral("/usr/bin/sleep")) const
    {
        FakeProc p;
        p.pid = pid;
        p.name = name;
        p.startTime = startTime;
        p.exe = exe;
        p.mem.VmRss = 4096 * 1024;
        p.mem.RssAnon = 1024 * 1024;
        return p;
    }
};

using uitest::Shown;
using uitest::Shows;

// A dictionary file with the given names: name -> dangerous.
inline void WriteDictionary(const QString &Path, const QList<QPair<QString, bool>> &Rows)
{
    QList<dicttest::DictionaryRow> rows;
    for (const auto &r : Rows)
        rows.append({r.first, QString(), r.second});
    dicttest::WriteDictionary(Path, QStringLiteral("2031-02-03"), rows);
}

// The form over a scripted process table, with every dialog and shell call answered here.
class FormTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UiHooks().ExecModal = [this](QDialog *Dialog) { return uitest::AnswerMessageBox(Dialog, shown, answers); };
        UiHooks().OpenUrl = [this](const QString &t) {
            opened << t;
            return true;
        };
        UiHooks().ShowInFileManager = [this](const QString &p) {
            located << p;
            return true;
        };
        UiHooks().PickOpenFile = [this](QWidget *, const QString &Title, const QString &, const QString &) {
            pickerTitles << Title;
            return picked;
        };
        UiHooks().ShowFileProperties = [this](const QString &p) {
            propertied << p;
            return true;
        };
    }

    void TearDown() override
    {
        form.reset();
        for (Child &c : children)
            c.end();
        RestoreDefaultUiHooks();
        QString v;
        GetDictVersion(v); // the dictionary look-ups read the program's own file again
    }

    // Creates and shows the form over `source` (or over the system's table), its timer stopped so
    // that each tick is the test's own, and waits until its list is in.
    void Create(bool RealSource = false)
    {
        form = std::make_unique<TFormMain>(nullptr, RealSource ? nullptr : &source);
        form->tmrProcess->stop();
        form->tmrTraffic->stop();
        form->tmrSystem->stop();
        // The tests that do not weigh the window's wait for a read give a loaded machine longer.
        form->ProcessPage->AnswerWait = 10000;
        form->show();
        EXPECT_TRUE(Settle());
    }

    // Runs the window until nothing is on its way to the process page (a pass, counters, details).
    bool Settle()
    {
        QDeadlineTimer deadline(30000);
        while (!form->ProcessPage->Settled() && !deadline.hasExpired()) {
            QCoreApplication::processEvents();
            QThread::msleep(1);
        }
        QCoreApplication::processEvents();
        return form->ProcessPage->Settled();
    }
    // One tick of the process timer, taken in.
    void Tick()
    {
        form->ProcessPage->ProcessTick();
        EXPECT_TRUE(Settle());
    }
    // The page selected again (or filled anew), with the pass it asks for taken in.
    void Fill()
    {
        form->ProcessPage->FillProcessList();
        EXPECT_TRUE(Settle());
    }

    Child &Spawn()
    {
        children.push_back(Child::Sleep());
        EXPECT_NE(children.back().pid, 0u);
        EXPECT_NE(children.back().startTime, 0u);
        return children.back();
    }

    QTreeWidget *List() const { return form->ProcessPage->lvProcesses; }

    int RowIndex(quint32 pid) const
    {
        for (int i = 0; i < List()->topLevelItemCount(); ++i) {
            quint32 p = 0;
            if (TProcessPage::RowPid(List()->topLevelItem(i), p) && p == pid)
                return i;
        }
        return -1;
    }
    QTreeWidgetItem *Row(quint32 pid) const
    {
        const int i = RowIndex(pid);
        return i < 0 ? nullptr : List()->topLevelItem(i);
    }
    void Select(const QList<quint32> &pids)
    {
        List()->clearSelection();
        for (quint32 pid : pids) {
            QTreeWidgetItem *r = Row(pid);
            EXPECT_NE(r, nullptr) << pid;
            if (r)
                r->setSelected(true);
        }
    }
    QList<quint32> RowPids() const
    {
        QList<quint32> out;
        for (int i = 0; i < List()->topLevelItemCount(); ++i) {
            quint32 p = 0;
            TProcessPage::RowPid(List()->topLevelItem(i), p);
            out << p;
        }
        return out;
    }

    FakeSource source;
    std::deque<Child> children; // references stay valid as it grows
    // The user's data directory of the objects the form makes: the test's own.
    tvtest::OwnHome userHome;
    std::unique_ptr<TFormMain> form;
    std::vector<Shown> shown;
    QList<quint8> answers;
    QStringList opened, located, propertied, pickerTitles;
    QString picked;
};

} // namespace ptest

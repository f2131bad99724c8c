#include <gtest/gtest.h>

#include "common/TempDir.h"
#include "platform/processes/ProcFs.h"
#include "platform/processes/ProcessActions.h"
#include "platform/processes/ProcessSource.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <csignal>
#include <deque>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace platform::processes;

namespace {

// A child of this test, killed and reaped when it goes (unless the test reaped it).
struct Kid
{
    pid_t pid = -1;
    bool reaped = false;

    Kid() = default;
    explicit Kid(std::vector<std::string> argv)
    {
        std::vector<char *> args;
        for (std::string &a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        if (::posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0)
            pid = -1;
    }
    ~Kid() { reap(); }
    void reap()
    {
        if (pid > 0 && !reaped) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            reaped = true;
        }
    }
    ProcStat stat() const
    {
        ProcStat st;
        ReadStat(pid, st);
        return st;
    }
};

template <typename Pred>
bool waitFor(Pred pred)
{
    QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        if (pred())
            return true;
        QThread::msleep(5);
    }
    return pred();
}

// Lets a shell child waiting at `read x < fifo` go on.
bool openGate(const QByteArray &fifo)
{
    return waitFor([&] {
        const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        const bool ok = ::write(fd, "\n", 1) == 1;
        ::close(fd);
        return ok;
    });
}

std::optional<ProcessEntry> entryOf(pid_t pid)
{
    std::vector<ProcessEntry> all;
    EnumerateByStat(all);
    for (const ProcessEntry &e : all) {
        if (e.Pid == quint32(pid))
            return e;
    }
    return std::nullopt;
}

} // namespace

TEST(ProcStatParser, LayoutOfTheRunningProgram)
{
    // 52 fields, as current kernels write them, with the layout visible.
    const char *full = "7 (p) S 1 7 7 0 -1 4194560 1 0 0 0 2 1 0 0 20 0 1 0 500 1000 10 "
                       "18446744073709551615 94000000000000 94000000100000 140730000000000 0 0 "
                       "0 0 0 0 0 0 0 17 3 0 0 0 0 0 94000000200000 94000000210000 94000001000000 "
                       "140730000001000 140730000001020 140730000001020 140730000002000 0\n";
    ProcStat st;
    ASSERT_TRUE(ParseStat(full, std::strlen(full), st));
    EXPECT_EQ(st.StartTime, 500u);
    EXPECT_EQ(st.Layout.StartCode, 94000000000000u);
    EXPECT_EQ(st.Layout.EndCode, 94000000100000u);
    EXPECT_EQ(st.Layout.StartStack, 140730000000000u);
    EXPECT_EQ(st.Layout.StartBrk, 94000001000000u);
    EXPECT_TRUE(st.Layout.Known());
    // Hidden from a reader that may not trace the process: the kernel writes 1, 1, 0.
    const char *hidden = "7 (p) S 1 7 7 0 -1 4194560 1 0 0 0 2 1 0 0 20 0 1 0 500 1000 10 "
                         "18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 3 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
    ASSERT_TRUE(ParseStat(hidden, std::strlen(hidden), st));
    EXPECT_FALSE(st.Layout.Known());
    // An older kernel's shorter line still parses, without a layout.
    const char *old = "7 (p) S 1 7 7 0 -1 0 1 0 0 0 2 1 0 0 20 0 1 0 500\n";
    ASSERT_TRUE(ParseStat(old, std::strlen(old), st));
    EXPECT_EQ(st.Layout, ImageLayout{});
}

TEST(ProcessIdentity, PidFdInodeTellsProcessesApartAndPinsReads)
{
    Kid a({"/bin/sleep", "30"}), b({"/bin/sleep", "30"});
    ASSERT_GT(a.pid, 0);
    ASSERT_GT(b.pid, 0);
    const auto ha = PidFd::Identify(a.pid, a.stat().StartTime);
    const auto hb = PidFd::Identify(b.pid, b.stat().StartTime);
    ASSERT_TRUE(ha && hb);
    EXPECT_FALSE(PidFd::Identify(a.pid, a.stat().StartTime + 1).has_value());
    if (ha->Inode == 0)
        GTEST_SKIP() << "this kernel gives pidfds no inode of their own (no pidfs)";
    EXPECT_NE(ha->Inode, hb->Inode);

    ProcessSource source;
    ASSERT_TRUE(source.ExePath(*ha).has_value());
    EXPECT_TRUE(source.IsAlive(*ha));
    // b's identifier with a's inode: another process; nothing of it is read or acted on.
    ProcessHandle crossed = *hb;
    crossed.Inode = ha->Inode;
    EXPECT_FALSE(PidFd::Pin(crossed).has_value());
    EXPECT_FALSE(source.IsAlive(crossed));
    EXPECT_FALSE(source.ExePath(crossed).has_value());
    EXPECT_FALSE(source.Cmdline(crossed, nullptr).has_value());
    EXPECT_FALSE(source.Memory(crossed).has_value());
    EXPECT_FALSE(source.Uid(crossed).has_value());
    EXPECT_FALSE(source.Stat(crossed).has_value());
    EXPECT_FALSE(source.Sched(crossed).has_value());
    EXPECT_FALSE(source.Affinity(crossed).has_value());
    EXPECT_EQ(source.FdCount(crossed), -1);
    EXPECT_EQ(source.ModuleCount(crossed), -1);
    EXPECT_FALSE(PidFd::Open(b.pid, hb->StartTime, ha->Inode).has_value());
    const auto right = PidFd::Open(b.pid, hb->StartTime, hb->Inode);
    ASSERT_TRUE(right);
    EXPECT_EQ(right->Inode(), hb->Inode);

    // Ended but not reaped: still pinned, no longer held, so no read counts.
    const auto pinned = PidFd::Pin(*ha);
    ASSERT_TRUE(pinned);
    EXPECT_TRUE(pinned->Held());
    ::kill(a.pid, SIGKILL);
    ASSERT_TRUE(waitFor([&] { return a.stat().IsZombie(); }));
    EXPECT_FALSE(pinned->Held());
    EXPECT_FALSE(source.ExePath(*ha).has_value());
    a.reap();
    EXPECT_FALSE(PidFd::Pin(*ha).has_value());
    EXPECT_FALSE(source.IsAlive(*ha));
}

TEST(ProcessIdentity, NewProgramGetsANewLayoutUnderTheSameIdentity)
{
    tvtest::TempDir tmp;
    // A gate of its own for each shell: one shared would let the second shell open it while
    // the first one's writer is still open, read its end and go on to sleep unseen.
    const QByteArray gate = QFile::encodeName(tmp.file(QStringLiteral("gate")));
    const QByteArray gate2 = QFile::encodeName(tmp.file(QStringLiteral("gate2")));
    ASSERT_EQ(::mkfifo(gate.constData(), 0600), 0);
    ASSERT_EQ(::mkfifo(gate2.constData(), 0600), 0);
    // A shell that runs a shell, then sleep: the same name first, then a new one.
    Kid child({"/bin/sh", "-c", "read x < \"$0\"; exec /bin/sh -c 'read y < \"$0\"; exec /bin/sleep 30' \"$1\"",
               gate.toStdString(), gate2.toStdString()});
    ASSERT_GT(child.pid, 0);
    // Asleep at the gate, a shell is done with its exec: its layout is whole and stays.
    auto waiting = [&] {
        const ProcStat s = child.stat();
        return s.Comm == QStringLiteral("sh") && s.State == 'S' && s.Layout.Known();
    };
    ASSERT_TRUE(waitFor(waiting));
    const ProcStat first = child.stat();
    const auto entry = entryOf(child.pid);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->Layout, first.Layout);
    EXPECT_EQ(entry->OwnerUid, quint32(::geteuid()));
    EXPECT_TRUE(entry->NameIs("sh"));

    ASSERT_TRUE(openGate(gate));
    auto argsOf = [&] { return ReadCmdline(child.pid).value_or(QStringList()); };
    ASSERT_TRUE(waitFor([&] { return argsOf().value(2).startsWith(QStringLiteral("read y")); }));
    ASSERT_TRUE(waitFor(waiting));
    const ProcStat second = child.stat();
    EXPECT_EQ(second.StartTime, first.StartTime);
    EXPECT_EQ(second.Comm, first.Comm);
    QFile aslr(QStringLiteral("/proc/sys/kernel/randomize_va_space"));
    if (aslr.open(QIODevice::ReadOnly) && aslr.readAll().trimmed() != "0") {
        EXPECT_NE(second.Layout, first.Layout) << "the same program started again is told by its layout";
    }

    ASSERT_TRUE(openGate(gate2));
    ASSERT_TRUE(waitFor([&] { return child.stat().Comm == QStringLiteral("sleep"); }));
    EXPECT_EQ(child.stat().StartTime, first.StartTime);
}

TEST(ProcessIdentity, ProcDirectoryOwnerFollowsTheEffectiveUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "changing a child's user needs root";
    int gate[2];
    ASSERT_EQ(::pipe2(gate, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char c;
        if (::read(gate[0], &c, 1) == 1 && ::setresuid(65534, 65534, 65534) == 0) {
            for (;;)
                ::pause();
        }
        ::_exit(1);
    }
    ::close(gate[0]);
    Kid kid; // adopts the forked child for the kill and reap
    kid.pid = child;
    ASSERT_EQ(entryOf(child).value_or(ProcessEntry()).OwnerUid, 0u);
    ASSERT_EQ(::write(gate[1], "x", 1), 1);
    ::close(gate[1]);
    ASSERT_TRUE(waitFor([&] { return ReadEffectiveUid(child) == 65534u; }));
    EXPECT_EQ(entryOf(child).value_or(ProcessEntry()).OwnerUid, 65534u);
    // Not dumpable now (unless the system says otherwise), so its files belong to root:
    // its directory does not.
    QFile dumpable(QStringLiteral("/proc/sys/fs/suid_dumpable"));
    if (dumpable.open(QIODevice::ReadOnly) && dumpable.readAll().trimmed() != "1") {
        struct stat st = {};
        const QByteArray status = "/proc/" + QByteArray::number(child) + "/status";
        ASSERT_EQ(::stat(status.constData(), &st), 0);
        EXPECT_EQ(st.st_uid, 0u);
    }
}

TEST(ResidentMemory, StatmTextAndItsRefusals)
{
    ResidentMemory m;
    const char good[] = "5000 1200 300 10 0 900 0\n";
    ASSERT_TRUE(ParseStatm(good, sizeof good - 1, 4096, m));
    EXPECT_EQ(m.Resident, 1200u * 4096);
    EXPECT_EQ(m.Shared, 300u * 4096);
    const char kernel[] = "0 0 0 0 0 0 0\n";
    ASSERT_TRUE(ParseStatm(kernel, sizeof kernel - 1, 4096, m));
    EXPECT_EQ(m.Resident, 0u);
    // Shared beyond resident, a count that overflows in bytes, short or foreign text.
    for (const char *bad : {"5000 10 300 0 0 0 0\n", "1 9223372036854775807 0\n", "5000 1200\n", "", "x y z"})
        EXPECT_FALSE(ParseStatm(bad, std::strlen(bad), 4096, m)) << bad;
}

TEST(ResidentMemory, ReadsStayWithTheProcessTheyFound)
{
    Kid child({"/bin/sleep", "30"});
    ASSERT_GT(child.pid, 0);
    ASSERT_TRUE(waitFor([&] { return child.stat().Comm == QStringLiteral("sleep"); }));
    ProcessSource source;
    const auto handle = source.Open(quint32(child.pid), child.stat().StartTime);
    ASSERT_TRUE(handle);
    quint64 file = 0;
    const auto first = source.Resident(*handle, file);
    ASSERT_TRUE(first);
    EXPECT_GT(first->Resident, 0u);
    EXPECT_LE(first->Shared, first->Resident);
    ASSERT_NE(file, 0u) << "the pinned read keeps the file it read";
    const quint64 found = file;
    EXPECT_TRUE(source.Resident(*handle, file));
    EXPECT_EQ(file, found) << "the same file serves without a new pin";

    // Without a file found before, the read is pinned: a handle of another start time gets nothing.
    quint64 none = 0;
    const ProcessHandle stale{handle->Pid, handle->StartTime + 1, true};
    EXPECT_FALSE(source.Resident(stale, none));
    EXPECT_EQ(none, 0u);

    child.reap();
    EXPECT_FALSE(source.Resident(*handle, file));
    EXPECT_EQ(file, 0u);
}

// The listing that keeps files open gives what the listing that opens them anew gives, keeps a
// process's files from its second listing on, and keeps none of a process once it has ended.
TEST(KeptListing, ListsAsTheOpeningListingAndLetsGoOfEndedProcesses)
{
    // This test's own descriptors that lead into a process's folder.
    auto filesOf = [](pid_t Pid) {
        const QString folder = QStringLiteral("/proc/%1").arg(Pid);
        int n = 0;
        const QDir fds(QStringLiteral("/proc/self/fd"));
        for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            const QString target = QFile::symLinkTarget(fds.filePath(fd));
            n += (target == folder || target.startsWith(folder + QLatin1Char('/'))) ? 1 : 0;
        }
        return n;
    };
    auto find = [](const std::vector<ProcessEntry> &All, pid_t Pid) -> const ProcessEntry * {
        for (const ProcessEntry &e : All)
            if (e.Pid == quint32(Pid))
                return &e;
        return nullptr;
    };
    KeptListing listing;
    std::deque<Kid> kids;
    for (int i = 0; i < 3; ++i)
        kids.emplace_back(std::vector<std::string>{"/bin/sleep", "30"});
    std::vector<ProcessEntry> kept, opened;
    ASSERT_TRUE(listing.Enumerate(kept));
    for (const Kid &k : kids)
        EXPECT_EQ(filesOf(k.pid), 0) << "a process seen once costs one open and read";
    ASSERT_TRUE(listing.Enumerate(kept));
    ASSERT_TRUE(EnumerateByStat(opened));
    for (const Kid &k : kids) {
        SCOPED_TRACE(k.pid);
        EXPECT_EQ(filesOf(k.pid), 2) << "its stat file and folder are kept";
        const ProcessEntry *a = find(kept, k.pid);
        const ProcessEntry *b = find(opened, k.pid);
        ASSERT_TRUE(a && b);
        EXPECT_EQ(a->StartTime, b->StartTime);
        EXPECT_EQ(a->ParentPid, b->ParentPid);
        EXPECT_EQ(a->OwnerUid, b->OwnerUid);
        EXPECT_EQ(a->ProcInode, b->ProcInode);
        EXPECT_EQ(a->NameBytes(), b->NameBytes());
        EXPECT_EQ(a->Layout, b->Layout);
    }

    // Ended (reaped, or a zombie not yet reaped): not listed, and its files are let go.
    const pid_t reaped = kids[0].pid, zombie = kids[1].pid;
    ::kill(zombie, SIGKILL);
    ASSERT_TRUE(waitFor([&] { return kids[1].stat().IsZombie(); }));
    kids[0].reap();
    ASSERT_TRUE(listing.Enumerate(kept));
    EXPECT_EQ(find(kept, reaped), nullptr);
    EXPECT_EQ(find(kept, zombie), nullptr);
    EXPECT_NE(find(kept, kids[2].pid), nullptr);
    EXPECT_EQ(filesOf(reaped), 0);
    EXPECT_EQ(filesOf(kids[2].pid), 2);
    kids[1].reap();
    ASSERT_TRUE(listing.Enumerate(kept));
    EXPECT_EQ(filesOf(zombie), 0);
}

// An identifier that passes to a new process before the list's next pass, forced with
// clone3's set_tid inside a PID namespace of the test's own, where no other process can
// take the identifier and /proc shows only the test's processes.

#include <gtest/gtest.h>

#include "common/SelfCopy.h"
#include "common/TempDir.h"
#include "platform/processes/ProcFs.h"
#include "platform/processes/ProcessActions.h"
#include "sysinfo/ProcessHelper.h"
#include "sysinfo/Processes.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <linux/sched.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr const char *kInsideVariable = "TASKVANE_TEST_IN_PID_NAMESPACE";
constexpr pid_t kReused = 300;
constexpr int kSkipped = 77;

// Starts `argv` as a child with the identifier `pid`; -1 on failure.
pid_t spawnAs(pid_t pid, char *const argv[])
{
    clone_args args{};
    args.exit_signal = SIGCHLD;
    args.set_tid = quint64(reinterpret_cast<std::uintptr_t>(&pid));
    args.set_tid_size = 1;
    const long rc = ::syscall(SYS_clone3, &args, sizeof args);
    if (rc == 0) {
        ::execve(argv[0], argv, environ);
        ::_exit(127);
    }
    return pid_t(rc);
}

// Waits for the start of a clock tick (10 ms of the boot clock), so that what follows is
// likely to fall within one tick.
void waitForTickStart()
{
    const long tick = 1000000000L / platform::processes::ClockTicksPerSecond();
    for (int i = 0; i < 1000000; ++i) {
        timespec now{};
        ::clock_gettime(CLOCK_BOOTTIME, &now);
        if (now.tv_nsec % tick < tick / 10)
            return;
    }
}

quint64 startTimeOf(pid_t pid)
{
    platform::processes::ProcStat st;
    return platform::processes::ReadStat(pid, st) ? st.StartTime : 0;
}

template <typename Pred>
bool waitFor(Pred pred)
{
    for (int i = 0; i < 500; ++i) {
        if (pred())
            return true;
        ::usleep(10000);
    }
    return pred();
}

bool runningChild(pid_t pid)
{
    return ::waitpid(pid, nullptr, WNOHANG) == 0;
}

// Runs inside the namespace as its first process.
void runInside()
{
    tvtest::TempDir tmp;
    // The second process runs a file of the test's own: nothing a wrong deletion could harm.
    const QString copy = tmp.file(QStringLiteral("sleeper"));
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), copy));
    ASSERT_TRUE(QFile::setPermissions(copy, QFile::ReadOwner | QFile::ExeOwner));
    QByteArray sleepPath = "/bin/sleep", copyPath = QFile::encodeName(copy), seconds = "30";
    char *const first[] = {sleepPath.data(), seconds.data(), nullptr};
    char *const second[] = {copyPath.data(), seconds.data(), nullptr};

    TProcesses list;
    std::vector<quint32> added, removed;
    list.OnProcessAdded = [&](QObject *, quint32 pid) { added.push_back(pid); };
    list.OnProcessRemoved = [&](QObject *, quint32 pid) { removed.push_back(pid); };
    ASSERT_TRUE(list.Refresh());

    int sameTick = 0, attempts = 0;
    for (; attempts < 20 && sameTick < 3; ++attempts) {
        waitForTickStart();
        const pid_t a = spawnAs(kReused, first);
        ASSERT_EQ(a, kReused) << std::strerror(errno);
        ASSERT_TRUE(list.Refresh());
        TProcessItem *item = list.ItemByPID(quint32(kReused));
        ASSERT_NE(item, nullptr);
        ASSERT_TRUE(item->ProcessHandle.Valid);
        // A read while the first process lives: later ones take the cheap way while the file
        // they found is still there.
        item->Memory->Refresh();
        ASSERT_GT(item->Memory->WorkingSetSize, 0u);
        ::kill(a, SIGKILL);
        ::waitpid(a, nullptr, 0);
        const pid_t b = spawnAs(kReused, second);
        ASSERT_EQ(b, kReused) << std::strerror(errno);
        const bool tick = startTimeOf(b) == item->ProcessHandle.StartTime;
        if (tick && item->ProcessHandle.Inode == 0) {
            // Nothing can tell the two apart on this kernel.
            ::kill(b, SIGKILL);
            ::waitpid(b, nullptr, 0);
            ASSERT_TRUE(list.Refresh());
            continue;
        }
        sameTick += tick ? 1 : 0;

        // The stale item reads nothing of the new process...
        item->Path.clear();
        item->CommandLine.clear();
        item->UserSid.reset();
        item->ReadImagePath();
        item->ReadCommandLine();
        item->ReadTokenUser();
        EXPECT_TRUE(item->Path.isEmpty());
        EXPECT_TRUE(item->CommandLine.isEmpty());
        EXPECT_FALSE(item->UserSid.has_value());
        EXPECT_EQ(item->GetHandleCount(), 0);
        EXPECT_EQ(item->GetThreadCount(), 0);
        EXPECT_EQ(item->GetModuleCount(), 0);
        EXPECT_EQ(item->GetPriority(), 0u);
        EXPECT_FALSE(item->GetAffinity(0));
        item->Memory->WorkingSetSize = 1;
        item->Memory->Refresh();
        EXPECT_EQ(item->Memory->WorkingSetSize, 1u);
        item->Times->UserTime = -1;
        item->Times->Refresh();
        EXPECT_EQ(item->Times->UserTime, -1);
        // ...and acts on nothing of it.
        item->Suspend();
        EXPECT_FALSE(item->SetPriority(IDLE_PRIORITY_CLASS));
        EXPECT_FALSE(item->SetAffinity(0, false));
        EXPECT_FALSE(item->Terminate());
        EXPECT_FALSE(item->TerminateTree());
        EXPECT_FALSE(item->TerminateAndDelete());
        EXPECT_TRUE(runningChild(b));
        EXPECT_TRUE(QFile::exists(copy));
        platform::processes::ProcStat st;
        ASSERT_TRUE(platform::processes::ReadStat(b, st));
        EXPECT_NE(st.State, 'T') << "the new process was stopped";
        EXPECT_EQ(st.Nice, 0);

        // The next pass sees a new process under the old identifier, whether or not it
        // runs its program yet (before, the two are copies of this test alike in all else).
        added.clear();
        removed.clear();
        ASSERT_TRUE(list.Refresh());
        EXPECT_EQ(removed, std::vector<quint32>{quint32(kReused)}) << (tick ? "same tick" : "");
        EXPECT_EQ(added, std::vector<quint32>{quint32(kReused)}) << (tick ? "same tick" : "");
        TProcessItem *fresh = list.ItemByPID(quint32(kReused));
        ASSERT_NE(fresh, nullptr);
        const auto now = platform::processes::PidFd::Identify(b, startTimeOf(b));
        ASSERT_TRUE(now);
        EXPECT_EQ(fresh->ProcessHandle.Inode, now->Inode);
        ASSERT_TRUE(waitFor([&] { return platform::processes::ReadExePath(b) == copy; }));
        ASSERT_TRUE(list.Refresh());
        ASSERT_EQ(list.ItemByPID(quint32(kReused)), fresh);
        EXPECT_EQ(fresh->Path, copy);
        EXPECT_TRUE(fresh->Terminate());
        ::kill(b, SIGKILL); // should it have failed
        ::waitpid(b, nullptr, 0);
        ASSERT_TRUE(list.Refresh());
        if (::testing::Test::HasFailure())
            return;
    }
    std::printf("identifier reused %d times, %d of them within one clock tick\n", attempts, sameTick);
}

} // namespace

TEST(ReusedIdentifier, StaleItemReadsAndActsOnNothing)
{
    if (qEnvironmentVariableIsSet(kInsideVariable)) {
        runInside();
        return;
    }
    if (::geteuid() != 0)
        GTEST_SKIP() << "choosing identifiers in a PID namespace needs root";
    // The test program again, as the first process of a new PID namespace with its own /proc.
    const tvtest::SelfCopy self("ReusedIdentifier.StaleItemReadsAndActsOnNothing", QByteArray(kInsideVariable) + "=1");

    const pid_t helper = ::fork();
    ASSERT_GE(helper, 0);
    if (helper == 0) {
        if (::unshare(CLONE_NEWPID | CLONE_NEWNS) != 0)
            ::_exit(kSkipped);
        const pid_t first = ::fork();
        if (first == 0) {
            if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
                ::_exit(kSkipped);
            self.Exec();
            ::_exit(kSkipped);
        }
        int status = 0;
        if (first < 0 || ::waitpid(first, &status, 0) != first)
            ::_exit(1);
        ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(helper, &status, 0), helper);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kSkipped)
        GTEST_SKIP() << "PID or mount namespaces refused here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the run inside the namespace failed (output above)";
}

// "End and delete" when the owner of the program's folder swaps that folder for a link to a
// root-only folder: the root-only file survives, whenever the swap happens.

#include <gtest/gtest.h>

#include "Children.h"
#include "common/OtherUser.h"
#include "common/TempDir.h"
#include "platform/files/AtomicFile.h"
#include "platform/processes/ProcFs.h"
#include "sysinfo/ProcessHelper.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <new>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef RENAME_EXCHANGE
#define RENAME_EXCHANGE (1 << 1)
#endif

using tvtest::Child;

namespace {

bool exchange(const QByteArray &a, const QByteArray &b)
{
    return ::syscall(SYS_renameat2, AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_EXCHANGE) == 0;
}

// The program's folder `user/d` beside a link `user/link` to a folder holding a file of the same
// name as the program, which must never be deleted.
struct Layout
{
    explicit Layout(const QString &Base)
        : user(Base + QStringLiteral("/user")), folder(QFile::encodeName(user + QStringLiteral("/d"))),
          link(QFile::encodeName(user + QStringLiteral("/link"))), secretDir(Base + QStringLiteral("/secret")),
          secret(secretDir + QStringLiteral("/prog"))
    {}
    QString program() const { return QFile::decodeName(folder) + QStringLiteral("/prog"); }

    // Back to the start: the real folder under its name, with the program in it.
    bool reset(bool OtherUser)
    {
        QFileInfo at(QFile::decodeName(folder));
        if (at.isSymLink() && !exchange(folder, link))
            return false;
        if (!QFileInfo::exists(QFile::decodeName(folder)) &&
            !(OtherUser ? tvtest::SharedDir::makeOwned(QFile::decodeName(folder))
                        : QDir().mkpath(QFile::decodeName(folder))))
            return false;
        if (!QFileInfo::exists(program()) &&
            !(OtherUser ? tvtest::SharedDir::copyOwned(QStringLiteral("/usr/bin/sleep"), program())
                        : QFile::copy(QStringLiteral("/usr/bin/sleep"), program())))
            return false;
        if (!QFileInfo(QFile::decodeName(link)).isSymLink() &&
            ::symlink(QFile::encodeName(secretDir).constData(), link.constData()) != 0)
            return false;
        return !OtherUser || ::lchown(link.constData(), tvtest::kOtherUid, tvtest::kOtherUid) == 0;
    }
    bool makeSecret()
    {
        QFile f(secret);
        return QDir().mkpath(secretDir) && ::chmod(QFile::encodeName(secretDir).constData(), 0700) == 0 &&
            f.open(QIODevice::WriteOnly) && f.write("root only\n") == 10;
    }

    QString user;
    QByteArray folder, link;
    QString secretDir, secret;
};

// The process runs the program at `path` (the kernel's view of it).
bool runsProgram(qint64 pid, const QString &path)
{
    for (int i = 0; i < 300; ++i) {
        if (QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget() == path)
            return true;
        QThread::msleep(10);
    }
    return false;
}

// The step at which the hook swaps the folder for the link; every step is counted.
int s_steps = 0;
int s_swapAt = 0;
Layout *s_layout = nullptr;

void swapAtStep()
{
    if (++s_steps == s_swapAt && s_layout)
        exchange(s_layout->folder, s_layout->link);
}

} // namespace

TEST(EndAndDelete, FolderSwappedForALinkAtAnyStepLeavesTheOtherFolderAlone)
{
    tvtest::TempDir base;
    Layout layout(base.path());
    ASSERT_TRUE(QDir().mkpath(layout.user));
    ASSERT_TRUE(layout.makeSecret());
    s_layout = &layout;
    platform::files::SetStepHook(&swapAtStep);
    int stepsOfAWholeRun = 0;
    for (int step = 1; step <= 20; ++step) {
        ASSERT_TRUE(layout.reset(false)) << step;
        Child child({layout.program(), QStringLiteral("30")});
        ASSERT_TRUE(runsProgram(child.pid(), layout.program())) << step;
        s_steps = 0;
        s_swapAt = step;
        const bool done = TProcessHelper::TerminateAndDelete(quint32(child.pid()));
        EXPECT_TRUE(QFileInfo::exists(layout.secret)) << "swapped before step " << step;
        if (step == 1) {
            EXPECT_FALSE(done) << "a folder reached through a link is refused";
            EXPECT_FALSE(child.tryReap()) << "and nothing is ended";
        }
        if (s_steps < step) {
            // The swap came after the last step: the run was whole, and deleted the program.
            stepsOfAWholeRun = s_steps;
            EXPECT_TRUE(done);
            EXPECT_FALSE(QFileInfo::exists(layout.program()));
            break;
        }
    }
    platform::files::SetStepHook(nullptr);
    s_layout = nullptr;
    // Holding the folder, checking the file, ending, waiting, checking again, deleting.
    EXPECT_GE(stepsOfAWholeRun, 6) << "every step of the delete is announced";
}

namespace {

// The swaps the folder's owner has made, counted in memory it shares with this process, as the
// hook saw them at each step of one run.
std::atomic<quint64> *s_swaps = nullptr;
std::vector<quint64> s_swapsAtStep;

void noteSwaps()
{
    if (s_swaps)
        s_swapsAtStep.push_back(s_swaps->load());
}

// A process of the other user that swaps the folder for the link and back as fast as it can,
// counting every swap; killed when it goes out of scope.
class Swapper
{
public:
    Swapper(const Layout &At, std::atomic<quint64> *Swaps) : m_pid(::fork())
    {
        if (m_pid != 0)
            return;
        if (::setresgid(tvtest::kOtherUid, tvtest::kOtherUid, tvtest::kOtherUid) != 0 ||
            ::setresuid(tvtest::kOtherUid, tvtest::kOtherUid, tvtest::kOtherUid) != 0)
            ::_exit(1);
        for (;;) {
            if (exchange(At.folder, At.link))
                Swaps->fetch_add(1);
        }
    }
    ~Swapper()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Swapper(const Swapper &) = delete;
    Swapper &operator=(const Swapper &) = delete;
    bool started() const { return m_pid > 0; }

private:
    pid_t m_pid;
};

} // namespace

TEST(EndAndDelete, FolderSwappedInALoopByItsOwnerNeverLeadsToARootOnlyFile)
{
    if (const QString why = tvtest::otherUserUnavailable(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    tvtest::SharedDir base;
    if (const QString why = base.unusable(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    Layout layout(base.path());
    ASSERT_TRUE(layout.makeSecret());
    void *shared =
        ::mmap(nullptr, sizeof(std::atomic<quint64>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    s_swaps = new (shared) std::atomic<quint64>(0);
    platform::files::SetStepHook(&noteSwaps);
    struct Reset
    {
        void *shared;
        ~Reset()
        {
            platform::files::SetStepHook(nullptr);
            s_swaps = nullptr;
            ::munmap(shared, sizeof(std::atomic<quint64>));
        }
    } reset{shared};

    int deleted = 0, swappedInWindow = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        ASSERT_TRUE(layout.reset(true));
        QProcess program;
        program.start(QStringLiteral("/usr/bin/setpriv"),
                      tvtest::asOtherUser({layout.program(), QStringLiteral("30")}));
        ASSERT_TRUE(program.waitForStarted(10000));
        ASSERT_TRUE(runsProgram(program.processId(), layout.program()));
        bool done = false;
        {
            const quint64 before = s_swaps->load();
            Swapper swapper(layout, s_swaps);
            ASSERT_TRUE(swapper.started());
            // Swapping already, however late the machine lets it start.
            QDeadlineTimer deadline(10000);
            while (s_swaps->load() == before && !deadline.hasExpired())
                QThread::usleep(50);
            ASSERT_NE(s_swaps->load(), before) << "the owner of the folder cannot swap it";
            s_swapsAtStep.clear();
            done = TProcessHelper::TerminateAndDelete(quint32(program.processId()));
        }
        // A deleted program passed every step: from the second on, the folder was held and
        // checked, and the last came right before the delete. Swaps between them are what would
        // lead a delete by the path into the other folder; the run is a test of it only with some.
        if (done && s_swapsAtStep.size() >= 3 && s_swapsAtStep.back() != s_swapsAtStep[1])
            ++swappedInWindow;
        deleted += done ? 1 : 0;
        ASSERT_TRUE(QFileInfo::exists(layout.secret)) << "attempt " << attempt;
        program.kill();
        program.waitForFinished(5000);
    }
    // Some runs found the folder in its place and deleted the program: they are no refusals.
    std::printf("deleted the program in %d of 100 runs, %d of them with the folder swapped between its check "
                "and the delete\n",
                deleted, swappedInWindow);
    EXPECT_GT(swappedInWindow, 0) << "no swap came between the check and the delete: the race was never run";
}

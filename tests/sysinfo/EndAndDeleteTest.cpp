// "End and delete" when the owner of the program's folder swaps that folder for a link to a
// root-only folder: the root-only file survives, whenever the swap happens.

#include <gtest/gtest.h>

#include "Children.h"
#include "common/OtherUser.h"
#include "common/TempDir.h"
#include "platform/files/AtomicFile.h"
#include "platform/processes/ProcFs.h"
#include "sysinfo/ProcessHelper.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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

TEST(EndAndDelete, FolderSwappedInALoopByItsOwnerNeverLeadsToARootOnlyFile)
{
    if (const QString why = tvtest::otherUserUnavailable(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    tvtest::SharedDir base;
    if (const QString why = base.unusable(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    Layout layout(base.path());
    ASSERT_TRUE(layout.makeSecret());

    int deleted = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        ASSERT_TRUE(layout.reset(true));
        QProcess program;
        program.start(QStringLiteral("/usr/bin/setpriv"),
                      tvtest::asOtherUser({layout.program(), QStringLiteral("30")}));
        ASSERT_TRUE(program.waitForStarted(10000));
        ASSERT_TRUE(runsProgram(program.processId(), layout.program()));
        // The owner of the folder swaps it for the link and back, as fast as it can.
        const pid_t swapper = ::fork();
        ASSERT_GE(swapper, 0);
        if (swapper == 0) {
            if (::setresgid(tvtest::kOtherUid, tvtest::kOtherUid, tvtest::kOtherUid) != 0 ||
                ::setresuid(tvtest::kOtherUid, tvtest::kOtherUid, tvtest::kOtherUid) != 0)
                ::_exit(1);
            for (;;)
                exchange(layout.folder, layout.link);
        }
        QThread::usleep(200);
        if (TProcessHelper::TerminateAndDelete(quint32(program.processId())))
            ++deleted;
        ::kill(swapper, SIGKILL);
        ::waitpid(swapper, nullptr, 0);
        ASSERT_TRUE(QFileInfo::exists(layout.secret)) << "attempt " << attempt;
        program.kill();
        program.waitForFinished(5000);
    }
    // Some runs found the folder in its place and deleted the program: they are no refusals.
    std::printf("deleted the program in %d of 100 runs\n", deleted);
}

#include "common/TempDir.h"
#include "platform/files/FileHandle.h"
#include "platform/files/FileStat.h"
#include "platform/files/RegularFile.h"
#include "platform/processes/CurrentProcess.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>

using namespace platform::files;

namespace {

int OpenReadWrite(const QString &Path)
{
    QString why;
    const int fd = OpenHandle(Path, HandleAccess::ReadWrite, false, why);
    EXPECT_GE(fd, 0) << why.toStdString();
    return fd;
}

} // namespace

// Two openers of one file, as two database objects are: shared locks of a byte agree, an
// exclusive one waits for nobody and is refused while the other holds any, other bytes are
// free, and releasing or closing lets the other in.
TEST(FileHandle, RangeLocksOfTwoOpenersRefuseEachOtherUntilReleased)
{
    tvtest::TempDir dir;
    const QString path = dir.file(QStringLiteral("locked"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("0123");
    }
    const int a = OpenReadWrite(path);
    const int b = OpenReadWrite(path);
    QString why;
    EXPECT_EQ(LockRange(a, 1, 1, RangeLock::Shared, why), RangeLockResult::Done);
    EXPECT_EQ(LockRange(b, 1, 1, RangeLock::Shared, why), RangeLockResult::Done);
    EXPECT_EQ(LockRange(b, 1, 1, RangeLock::Exclusive, why), RangeLockResult::Busy);
    EXPECT_EQ(LockRange(b, 2, 1, RangeLock::Exclusive, why), RangeLockResult::Done);
    EXPECT_EQ(LockRange(a, 1, 1, RangeLock::None, why), RangeLockResult::Done);
    EXPECT_EQ(LockRange(b, 1, 1, RangeLock::Exclusive, why), RangeLockResult::Done);
    EXPECT_EQ(LockRange(a, 1, 1, RangeLock::Shared, why), RangeLockResult::Busy);
    CloseHandle(b);
    EXPECT_EQ(LockRange(a, 1, 1, RangeLock::Exclusive, why), RangeLockResult::Done);
    EXPECT_TRUE(why.isEmpty());
    EXPECT_EQ(LockRange(-1, 1, 1, RangeLock::Shared, why), RangeLockResult::Failed);
    EXPECT_FALSE(why.isEmpty());
    EXPECT_TRUE(SyncHandle(a));
    EXPECT_FALSE(SyncHandle(-1));
    CloseHandle(a);
}

TEST(FileHandle, WriteAccessFollowsTheSystemsCheck)
{
    tvtest::TempDir dir;
    const QString path = dir.file(QStringLiteral("file"));
    EXPECT_FALSE(MayWriteFile(path));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    EXPECT_TRUE(MayWriteFile(path));
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner));
    if (platform::processes::EffectiveUserId() == 0)
        GTEST_SKIP() << "root may write any file: a refusal cannot be seen";
    EXPECT_FALSE(MayWriteFile(path));
}

TEST(CurrentProcess, IdentityIsThisProcesssOwn)
{
    EXPECT_EQ(platform::processes::CurrentProcessId(), qint32(QCoreApplication::applicationPid()));
    tvtest::TempDir dir;
    const QString path = dir.file(QStringLiteral("mine"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    FileStatus st;
    ASSERT_TRUE(StatFile(path, st));
    EXPECT_EQ(platform::processes::EffectiveUserId(), st.OwnerUid);
}

TEST(RegularFileReader, TheKernelsOwnFilesAreNeverRead)
{
    // They pass for regular files, yet one may wait for the kernel (the kernel log) or change as it
    // is read; a link to one is the same.
    tvtest::TempDir dir;
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/status"), dir.file(QStringLiteral("entry.desktop"))));
    for (const QString &path :
         {QStringLiteral("/proc/self/status"), QStringLiteral("/proc/self/environ"),
          QStringLiteral("/sys/kernel/uevent_seqnum"), dir.file(QStringLiteral("entry.desktop"))}) {
        if (!QFile::exists(path))
            continue;
        platform::files::RegularFileReader reader;
        EXPECT_EQ(reader.Open(path), platform::files::RegularFileReader::OpenResult::NotRegular) << path.toStdString();
    }
    ASSERT_TRUE(QFile(dir.file(QStringLiteral("plain"))).open(QIODevice::WriteOnly));
    platform::files::RegularFileReader reader;
    EXPECT_EQ(reader.Open(dir.file(QStringLiteral("plain"))), platform::files::RegularFileReader::OpenResult::Opened);
}

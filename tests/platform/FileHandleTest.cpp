#include "common/TempDir.h"
#include "platform/files/FileHandle.h"
#include "platform/files/FileStat.h"
#include "platform/files/RegularFile.h"
#include "platform/processes/CurrentProcess.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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

// A reader opens a name once and only a regular file that holds data: a pipe is not waited for,
// a device not opened (a device's open may do anything), a kernel interface file not read; a
// link leads to its file, which is then read as that very file.
TEST(FileHandle, ReadersOpenOnlyRegularFilesAndNothingElseAtAll)
{
    tvtest::TempDir dir;
    const QString fifo = dir.file(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QStringList watched{fifo};
    // Root may make a device node of its own: the numbers of /dev/null.
    const QString device = dir.file(QStringLiteral("device"));
    if (::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0600, makedev(1, 3)) == 0)
        watched << device;
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    for (const QString &w : watched)
        ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(w).constData(), IN_OPEN | IN_ACCESS), 0);

    for (const QString &w : watched + QStringList{QStringLiteral("/proc/self/status")}) {
        RegularFileReader reader;
        FileStatus st;
        EXPECT_EQ(reader.Open(w, &st), RegularFileReader::OpenResult::NotRegular) << w.toStdString();
        EXPECT_NE(st.Kind, FileKind::Other) << "described all the same: " << w.toStdString();
        QString why;
        EXPECT_EQ(OpenHandle(w, HandleAccess::Read, false, why), -1) << w.toStdString();
        EXPECT_EQ(why, QStringLiteral("not a regular file"));
    }
    char events[4096];
    EXPECT_LE(::read(watch, events, sizeof events), 0) << "opened or read";
    ::close(watch);

    const QString file = dir.file(QStringLiteral("file"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("0123456789");
    }
    const QString link = dir.file(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(file, link));
    RegularFileReader reader;
    ASSERT_EQ(reader.Open(link), RegularFileReader::OpenResult::Opened);
    EXPECT_EQ(reader.CurrentPath(), file);
    EXPECT_EQ(reader.ReadHead(4), QByteArray("0123"));
    EXPECT_EQ(reader.ReadAll(100), QByteArray("0123456789")) << "the head is read where it lies";
    struct stat st = {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(reader.Identity(), (FileIdentity{quint64(st.st_dev), quint64(st.st_ino)}));
    // Never through a link where none is meant to be followed.
    const int folder = ::open(QFile::encodeName(dir.path()).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    EXPECT_EQ(reader.OpenAt(folder, QStringLiteral("link")), RegularFileReader::OpenResult::NotRegular);
    EXPECT_EQ(reader.OpenAt(folder, QStringLiteral("file")), RegularFileReader::OpenResult::Opened);
    ::close(folder);
}

TEST(CurrentProcess, IdentityIsThisProcesssOwn)
{
    EXPECT_EQ(platform::processes::CurrentPid(), qint32(QCoreApplication::applicationPid()));
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

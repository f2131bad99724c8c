// The two ways a place is one user's alone: a folder (or file) only its owner may change, which
// others may still enter and read, and a folder only its owner may enter at all.

#include "common/OtherUser.h"
#include "common/TempDir.h"
#include "common/UserDirs.h"
#include "platform/files/OwnFolder.h"
#include "platform/files/OwnerOnly.h"
#include "platform/system/UserSession.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace platform::files;

class OwnerOnly : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString Folder(const char *Name, unsigned Mode) const
    {
        const QString path = dir.file(QString::fromLatin1(Name));
        EXPECT_TRUE(QDir().mkpath(path));
        EXPECT_EQ(::chmod(QFile::encodeName(path).constData(), mode_t(Mode)), 0);
        return path;
    }
    static int Open(const QString &Path, int Flags = O_RDONLY)
    {
        return ::open(QFile::encodeName(Path).constData(), Flags | O_CLOEXEC);
    }
    static FileStatus Status(const QString &Path)
    {
        FileStatus st;
        EXPECT_TRUE(StatNoFollow(Path, st)) << Path.toStdString();
        return st;
    }

    tvtest::TempDir dir;
    const quint32 me = ::geteuid();
};

TEST_F(OwnerOnly, AFolderOnlyItsOwnerMayChangeOrEnter)
{
    const struct
    {
        const char *Name;
        unsigned Mode;
        bool Change;
        bool Enter;
    } cases[] = {
        {"private", 0700, true, true},
        {"read-only", 0500, true, true},
        {"readable", 0755, true, false},
        {"passable", 0711, true, false},
        {"group-reads", 0750, true, false},
        {"sticky-readable", 01755, true, false},
        {"group-writes", 0770, false, false},
        {"others-write", 0703, false, false},
        {"open", 0777, false, false},
        // The sticky bit keeps others from removing entries of the owner's, not from adding theirs.
        {"sticky-open", 01777, false, false},
    };
    for (const auto &c : cases) {
        const QString path = Folder(c.Name, c.Mode);
        const FileStatus st = Status(path);
        EXPECT_EQ(OnlyOwnerMayChange(st, me), c.Change) << c.Name;
        EXPECT_EQ(OnlyOwnerMayEnter(st, me), c.Enter) << c.Name;
        // Another owner's in either sense it is not.
        EXPECT_FALSE(OnlyOwnerMayChange(st, me + 1)) << c.Name;
        EXPECT_FALSE(OnlyOwnerMayEnter(st, me + 1)) << c.Name;
        // Held open, the same answer, whatever the descriptor may do.
        for (const int flags : {O_RDONLY | O_DIRECTORY, O_PATH}) {
            const int fd = Open(path, flags);
            ASSERT_GE(fd, 0) << c.Name;
            EXPECT_EQ(IsFolderOnlyOwnerMayChange(fd, me), c.Change) << c.Name;
            EXPECT_EQ(IsFolderOnlyOwnerMayEnter(fd, me), c.Enter) << c.Name;
            ::close(fd);
        }
        // By name, the running user's: the one meaning each caller asks for.
        EXPECT_EQ(IsFolderOnlyUserMayChange(path), c.Change) << c.Name;
        EXPECT_EQ(platform::system::IsFolderOnlyUserMayEnter(path), c.Enter) << c.Name;
    }
}

TEST_F(OwnerOnly, OnlyAFolderIsAFolderAndAFileIsChangedOnlyByItsOwner)
{
    const QString folder = Folder("private", 0700);
    ASSERT_TRUE(tvtest::WriteFile(dir.file(QStringLiteral("file")), "x"));
    ASSERT_EQ(::chmod(QFile::encodeName(dir.file(QStringLiteral("file"))).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(folder, dir.file(QStringLiteral("link"))));

    // A file of the owner's that nobody else may write is changed by the owner alone; others may
    // read it. Entering is for folders.
    FileStatus file = Status(dir.file(QStringLiteral("file")));
    EXPECT_TRUE(OnlyOwnerMayChange(file, me));
    EXPECT_FALSE(OnlyOwnerMayEnter(file, me));
    file.Mode = 0644;
    EXPECT_TRUE(OnlyOwnerMayChange(file, me));
    file.Mode = 0664;
    EXPECT_FALSE(OnlyOwnerMayChange(file, me));

    const int fileFd = Open(dir.file(QStringLiteral("file")));
    ASSERT_GE(fileFd, 0);
    EXPECT_FALSE(IsFolderOnlyOwnerMayChange(fileFd, me));
    EXPECT_FALSE(IsFolderOnlyOwnerMayEnter(fileFd, me));
    ::close(fileFd);
    // A link in the folder's place, held as the link itself, is no folder; by name neither.
    const int linkFd = Open(dir.file(QStringLiteral("link")), O_PATH | O_NOFOLLOW);
    ASSERT_GE(linkFd, 0);
    EXPECT_FALSE(IsFolderOnlyOwnerMayChange(linkFd, me));
    EXPECT_FALSE(IsFolderOnlyOwnerMayEnter(linkFd, me));
    ::close(linkFd);
    EXPECT_FALSE(IsFolderOnlyUserMayChange(dir.file(QStringLiteral("link"))));
    EXPECT_TRUE(IsFolderOnlyUserMayChange(dir.file(QStringLiteral("link")), true));
    EXPECT_FALSE(platform::system::IsFolderOnlyUserMayEnter(dir.file(QStringLiteral("link"))));
    EXPECT_FALSE(IsFolderOnlyOwnerMayChange(-1, me));
    EXPECT_FALSE(IsFolderOnlyOwnerMayEnter(-1, me));
}

TEST_F(OwnerOnly, AnotherUsersFolderIsTheirsAlone)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a folder to another user";
    const QString theirs = Folder("theirs", 0700);
    ASSERT_EQ(::chown(QFile::encodeName(theirs).constData(), tvtest::kOtherUid, tvtest::kOtherUid), 0);
    const int fd = Open(theirs, O_PATH);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(IsFolderOnlyOwnerMayEnter(fd, tvtest::kOtherUid));
    EXPECT_TRUE(IsFolderOnlyOwnerMayChange(fd, tvtest::kOtherUid));
    EXPECT_FALSE(IsFolderOnlyOwnerMayEnter(fd, me));
    EXPECT_FALSE(IsFolderOnlyOwnerMayChange(fd, me));
    ::close(fd);
    EXPECT_FALSE(IsFolderOnlyUserMayChange(theirs));
    EXPECT_FALSE(platform::system::IsFolderOnlyUserMayEnter(theirs));
}

} // namespace

#include <gtest/gtest.h>

#include "common/TempDir.h"
#include "platform/files/FolderNoFollow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

using platform::files::FolderNoFollow;

TEST(FolderNoFollow, NoLinkAnywhereOnTheWayAndEntriesAreNeverFollowed)
{
    tvtest::TempDir dir;
    // The temporary folder may itself lie below a link.
    const QByteArray base = QFile::encodeName(QFileInfo(dir.path()).canonicalFilePath());
    ASSERT_TRUE(QDir().mkpath(dir.file(QStringLiteral("real/inner"))));
    QFile target(dir.file(QStringLiteral("real/inner/target")));
    ASSERT_TRUE(target.open(QIODevice::WriteOnly));
    target.close();
    ASSERT_EQ(::symlink("real", (base + "/link").constData()), 0);
    ASSERT_EQ(::symlink("target", (base + "/real/inner/alias").constData()), 0);

    ASSERT_TRUE(FolderNoFollow::Open(base + "/real/inner"));
    EXPECT_FALSE(FolderNoFollow::Open(base + "/link/inner")) << "a link on the way";
    EXPECT_FALSE(FolderNoFollow::Open(base + "/link")) << "the folder itself a link";
    EXPECT_FALSE(FolderNoFollow::Open(base + "/real/../real/inner"));
    EXPECT_FALSE(FolderNoFollow::Open("real/inner")) << "relative";
    EXPECT_FALSE(FolderNoFollow::Open(base + "/real/inner/target")) << "no folder";

    const auto folder = FolderNoFollow::Open(base + "/real/inner");
    ASSERT_TRUE(folder);
    const auto file = folder->IdentityOf("target");
    const auto alias = folder->IdentityOf("alias");
    ASSERT_TRUE(file && alias);
    EXPECT_NE(*file, *alias) << "the link itself, not what it leads to";
    EXPECT_FALSE(folder->IdentityOf("../inner/target"));
    EXPECT_EQ(platform::files::IdentityWithoutLinks(base + "/real/inner/target"), file);
    EXPECT_FALSE(platform::files::IdentityWithoutLinks(base + "/link/inner/target"));
    // Removing the link leaves its target.
    EXPECT_TRUE(folder->Remove("alias"));
    EXPECT_TRUE(QFile::exists(dir.file(QStringLiteral("real/inner/target"))));
    EXPECT_FALSE(folder->Remove("alias"));
}

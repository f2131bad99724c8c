// What a plain file name is, the one rule every place that takes a name from outside holds to: one
// entry of a folder, never a way out of it, and never cut short on its way to the system.

#include "common/TempDir.h"
#include "common/UserDirs.h"
#include "platform/files/PlainName.h"
#include "platform/system/UserSession.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using platform::files::IsPlainName;

void ExpectPlain(const QByteArray &Name, bool Plain)
{
    const std::string shown = Name.left(40).toStdString() + " (" + std::to_string(Name.size()) + " bytes)";
    EXPECT_EQ(IsPlainName(QByteArrayView(Name)), Plain) << shown;
    EXPECT_EQ(IsPlainName(QStringView(QFile::decodeName(Name))), Plain) << shown;
}

TEST(PlainName, OneEntryOfAFolderAsTheSystemStoresIt)
{
    // Whatever the system holds as one name is one, dots, blanks and line breaks included.
    for (const char *name : {"a", "Ravel.db", ".hidden", "...", "a b", "line\nbreak", "名字.desktop", "-", "a\\b"})
        ExpectPlain(name, true);
    // Nothing, the folder itself, its parent, and every way into another folder.
    for (const char *name : {"", ".", "..", "/", "a/b", "../x", "x/", "/etc"})
        ExpectPlain(name, false);
    ExpectPlain(QByteArray("a\0b", 3), false);
    ExpectPlain(QByteArray("\0", 1), false);

    // The length is counted in the bytes the file system stores, not in characters.
    ExpectPlain(QByteArray(255, 'x'), true);
    ExpectPlain(QByteArray(256, 'x'), false);
    const QString wide(85, QChar(0x540D)); // three bytes each in UTF-8
    EXPECT_TRUE(IsPlainName(wide));
    EXPECT_FALSE(IsPlainName(wide + QChar(0x540D)));
    EXPECT_FALSE(IsPlainName(wide + QLatin1Char('x')));
}

// A NUL in a name ends it for the system: a socket "a<NUL>b" in the instance folder would be bound
// and connected to as "a".
TEST(PlainName, ANameWithANulNeverReachesTheSystemCutShort)
{
    tvtest::TempDir runUser;
    ASSERT_EQ(::chmod(QFile::encodeName(runUser.path()).constData(), 0755), 0);
    ASSERT_TRUE(QDir(runUser.path()).mkdir(QString::number(::geteuid())));
    ASSERT_EQ(::chmod(QFile::encodeName(runUser.file(QString::number(::geteuid()))).constData(), 0700), 0);
    tvtest::ScopedEnv runUserVariable{"TASKVANE_RUN_USER_DIR", runUser.path()};
    const auto instance = platform::system::InstanceFolder::Open();
    ASSERT_TRUE(instance);
    EXPECT_FALSE(instance->Reach(QStringLiteral("socket")).isEmpty());
    EXPECT_TRUE(instance->Reach(QString::fromUtf8("socket\0.lock", 12)).isEmpty());
    EXPECT_TRUE(instance->Reach(QStringLiteral("..")).isEmpty());
}

} // namespace

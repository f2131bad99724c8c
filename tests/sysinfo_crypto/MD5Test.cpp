#include "sysinfo/MD5.h"

#include "common/TempDir.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace {

void WriteFile(const QString &Path, const QByteArray &Data)
{
    QFile f(Path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(Data), Data.size());
}

} // namespace

TEST(MD5Test, Rfc1321Suite)
{
    const struct
    {
        const char *in;
        const char *out;
    } suite[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "D174AB98D277D9F5A5611C2C9F419D9F"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    tvtest::TempDir dir;
    for (const auto &c : suite) {
        const QByteArray data(c.in);
        EXPECT_EQ(TMD5::HashBuffer(data.constData(), data.size()), QLatin1String(c.out));
        const QString path = dir.file(QStringLiteral("m.bin"));
        WriteFile(path, data);
        QString digest;
        TMD5::HashFile(path, digest);
        EXPECT_EQ(digest, QLatin1String(c.out)) << c.in;
    }
}

TEST(MD5Test, LargeFileIsHashedInChunks)
{
    tvtest::TempDir dir;
    QByteArray data;
    for (int i = 0; i < 1024 * 1024 + 3; ++i)
        data.append(char((i * 7) ^ (i >> 9)));
    const QString path = dir.file(QStringLiteral("big.bin"));
    WriteFile(path, data);
    QString digest;
    TMD5::HashFile(path, digest);
    EXPECT_EQ(digest, TMD5::HashBuffer(data.constData(), data.size()));
    EXPECT_EQ(digest.size(), 32);
}

TEST(MD5Test, MissingDirectoryAndPipeGiveEmptyDigest)
{
    tvtest::TempDir dir;
    QString digest = QStringLiteral("stale");
    TMD5::HashFile(dir.file(QStringLiteral("missing")), digest);
    EXPECT_TRUE(digest.isEmpty());
    digest = QStringLiteral("stale");
    TMD5::HashFile(dir.path(), digest);
    EXPECT_TRUE(digest.isEmpty());
    // A FIFO without a writer must not block the reader.
    const QString fifo = dir.file(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    digest = QStringLiteral("stale");
    TMD5::HashFile(fifo, digest);
    EXPECT_TRUE(digest.isEmpty());
}

TEST(MD5Test, UnopenableFileRaises)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permission bits do not stop root";
    tvtest::TempDir dir;
    const QString path = dir.file(QStringLiteral("locked.bin"));
    WriteFile(path, "data");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0), 0);
    QString digest;
    EXPECT_THROW(TMD5::HashFile(path, digest), EFOpenError);
    EXPECT_TRUE(digest.isEmpty());
}

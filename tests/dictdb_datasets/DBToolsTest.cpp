#include "DictionaryFile.h"
#include "resources/dictionary/DescriptionCipher.h"
#include "Helpers.h"

#include "dictdb/DBTools.h"
#include "platform/crypto/Gcrypt.h"

#include <gtest/gtest.h>

#include <QFile>

using namespace dstest;
using dicttest::WriteDictionary;

namespace {

QString Encipher(const QString &Plain)
{
    return EncryptDescriptionHex(Plain).value_or(QString());
}

class DBToolsTest : public ::testing::Test
{
protected:
    tvtest::TempDir dir;
    QString path;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.file(QStringLiteral("Ravel.db"));
    }

    void TearDown() override
    {
        // Point the shared table back at the program's own file.
        QString v;
        GetDictVersion(v);
    }
};

TEST_F(DBToolsTest, MissingFileGivesDefaults)
{
    QString version = QStringLiteral("junk");
    GetDictVersionIn(path, version);
    EXPECT_EQ(version, QStringLiteral("0000-00-00"));
    QString desc = QStringLiteral("kept");
    bool virus = true;
    EXPECT_FALSE(LookupProcess(QStringLiteral("bash"), desc, virus));
    EXPECT_EQ(desc, QStringLiteral("kept"));
    EXPECT_TRUE(virus);
}

TEST_F(DBToolsTest, LookupRules)
{
    WriteDictionary(path, QStringLiteral("2024-05-06"),
                    {{QStringLiteral("bash"), Encipher(QStringLiteral("命令行外壳")), false},
                     {QStringLiteral("xmrig"), Encipher(QStringLiteral("挖矿程序")), true},
                     {QStringLiteral("broken"), QStringLiteral("ZZ-not-hex"), false},
                     {QStringLiteral("short"), QStringLiteral("0123456789ABCDEF"), false},
                     {QStringLiteral("blank"), QString(), false}});
    QString version;
    GetDictVersionIn(path, version);
    EXPECT_EQ(version, QStringLiteral("2024-05-06"));

    QString desc;
    bool virus = true;
    ASSERT_TRUE(LookupProcess(QStringLiteral("bash"), desc, virus));
    EXPECT_EQ(desc, QStringLiteral("命令行外壳"));
    EXPECT_FALSE(virus);
    ASSERT_TRUE(LookupProcess(QStringLiteral("XMRig"), desc, virus)); // capitals match
    EXPECT_EQ(desc, QStringLiteral("挖矿程序"));
    EXPECT_TRUE(virus);

    desc = QStringLiteral("before");
    virus = true;
    for (const QString &name : {QStringLiteral(" bash"), QStringLiteral("bash "), QStringLiteral("   "),
                                QString(), QStringLiteral("bas"), QStringLiteral("nothing")}) {
        EXPECT_FALSE(LookupProcess(name, desc, virus)) << qPrintable(name);
        EXPECT_EQ(desc, QStringLiteral("before"));
        EXPECT_TRUE(virus);
    }
    // Undecipherable descriptions leave the outputs as they were.
    EXPECT_FALSE(LookupProcess(QStringLiteral("broken"), desc, virus));
    EXPECT_FALSE(LookupProcess(QStringLiteral("short"), desc, virus));
    EXPECT_EQ(desc, QStringLiteral("before"));
    EXPECT_TRUE(virus);
    // An empty description is a description.
    ASSERT_TRUE(LookupProcess(QStringLiteral("blank"), desc, virus));
    EXPECT_EQ(desc, QString());
    EXPECT_FALSE(virus);
}

TEST_F(DBToolsTest, VersionMissingAndUnreadableFlag)
{
    WriteDictionary(path, QString(), {{QStringLiteral("a"), Encipher(QStringLiteral("x")), true}}, ftInteger);
    QString version;
    GetDictVersionIn(path, version);
    EXPECT_EQ(version, QStringLiteral("0000-00-00"));
    QString desc = QStringLiteral("kept");
    bool virus = false;
    EXPECT_FALSE(LookupProcess(QStringLiteral("a"), desc, virus)); // "Virus" is no Boolean
    EXPECT_EQ(desc, QStringLiteral("kept"));

    // Not a database at all.
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("this is not a dictionary");
    f.close();
    GetDictVersionIn(path, version);
    EXPECT_EQ(version, QStringLiteral("0000-00-00"));
    EXPECT_FALSE(LookupProcess(QStringLiteral("a"), desc, virus));
}

TEST_F(DBToolsTest, AReplacedFileIsReadAfresh)
{
    WriteDictionary(path, QStringLiteral("2020-01-01"), {{QStringLiteral("old"), Encipher(QStringLiteral("旧")), false}});
    QString version, desc;
    bool virus = false;
    GetDictVersionIn(path, version);
    EXPECT_EQ(version, QStringLiteral("2020-01-01"));
    EXPECT_TRUE(LookupProcess(QStringLiteral("old"), desc, virus));

    const QString next = dir.file(QStringLiteral("next.db"));
    WriteDictionary(next, QStringLiteral("2021-02-02"), {{QStringLiteral("new"), Encipher(QStringLiteral("新")), true}});
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::copy(next, path));
    GetDictVersionIn(path, version);
    EXPECT_EQ(version, QStringLiteral("2021-02-02"));
    EXPECT_FALSE(LookupProcess(QStringLiteral("old"), desc, virus));
    ASSERT_TRUE(LookupProcess(QStringLiteral("new"), desc, virus));
    EXPECT_EQ(desc, QStringLiteral("新"));
    EXPECT_TRUE(virus);
}

TEST(ShippedDictionary, AnswersForKnownDangerousAndAbsentNames)
{
    const QString shipped = QStringLiteral(TASKVANE_BIN_DIR "/Ravel.db");
    ASSERT_TRUE(QFile::exists(shipped)) << "the build generates " << qPrintable(shipped);
    QString version;
    GetDictVersionIn(shipped, version);
    EXPECT_EQ(version, QStringLiteral("2026-12-07"));
    QString desc;
    bool virus = true;
    ASSERT_TRUE(LookupProcess(QStringLiteral("systemd"), desc, virus));
    EXPECT_TRUE(desc.contains(QStringLiteral("systemd")));
    EXPECT_FALSE(virus);
    ASSERT_TRUE(LookupProcess(QStringLiteral("NetworkManager"), desc, virus));
    EXPECT_FALSE(virus);
    ASSERT_TRUE(LookupProcess(QStringLiteral("kdevtmpfsi"), desc, virus));
    EXPECT_TRUE(virus);
    ASSERT_TRUE(LookupProcess(QStringLiteral("xmrig"), desc, virus));
    EXPECT_TRUE(virus);
    EXPECT_TRUE(desc.contains(QStringLiteral("挖矿")));
    desc = QStringLiteral("kept");
    EXPECT_FALSE(LookupProcess(QStringLiteral("no-such-process-here"), desc, virus));
    EXPECT_EQ(desc, QStringLiteral("kept"));
    QString back;
    GetDictVersion(back); // the program directory of this test holds no dictionary
    EXPECT_EQ(back, QStringLiteral("0000-00-00"));
}

} // namespace

#include "DictionaryFile.h"
#include "common/LogCapture.h"
#include "resources/dictionary/DescriptionCipher.h"
#include "dictdb_datasets/Helpers.h"

#include "dictdb/DBTools.h"
#include "platform/crypto/Gcrypt.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    for (const QString &name : {QStringLiteral(" bash"), QStringLiteral("bash "), QStringLiteral("   "), QString(),
                                QStringLiteral("bas"), QStringLiteral("nothing")}) {
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
    WriteDictionary(path, QStringLiteral("2020-01-01"),
                    {{QStringLiteral("old"), Encipher(QStringLiteral("旧")), false}});
    QString version, desc;
    bool virus = false;
    GetDictVersionIn(path, version);
    EXPECT_EQ(version, QStringLiteral("2020-01-01"));
    EXPECT_TRUE(LookupProcess(QStringLiteral("old"), desc, virus));

    const QString next = dir.file(QStringLiteral("next.db"));
    WriteDictionary(next, QStringLiteral("2021-02-02"),
                    {{QStringLiteral("new"), Encipher(QStringLiteral("新")), true}});
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
    GetDictVersion(back); // no places are set in this test program: no dictionary
    EXPECT_EQ(back, QStringLiteral("0000-00-00"));
}

// The choice between the user's copy (written by the update) and the shipped one.
class DictionaryChoice : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir().mkpath(dir.file(QStringLiteral("user"))));
        ASSERT_TRUE(QDir().mkpath(dir.file(QStringLiteral("share"))));
    }
    void TearDown() override { SetDictFiles({}); }

    QString User() const { return dir.file(QStringLiteral("user/Ravel.db")); }
    QString Shipped() const { return dir.file(QStringLiteral("share/Ravel.db")); }
    void Use(const QStringList &ShippedFiles)
    {
        TDictFiles files;
        files.UserFile = User();
        files.ShippedFiles = ShippedFiles;
        // Zero-padded dates compare as texts.
        files.IsNewer = [](const QString &Offered, const QString &Own) { return Offered > Own; };
        SetDictFiles(files);
    }
    static void Write(const QString &Path, const QString &Version, const QString &Name)
    {
        WriteDictionary(Path, Version, {{Name, Encipher(Name), false}});
    }
    // Version and whether the look-ups answer for Name.
    static std::string Answer(const QString &Name)
    {
        QString version, desc;
        bool virus = false;
        GetDictVersion(version);
        return (version + (LookupProcess(Name, desc, virus) ? QStringLiteral(" found") : QStringLiteral(" none")))
            .toStdString();
    }

    tvtest::TempDir dir;
};

TEST_F(DictionaryChoice, TheNewerOfTheUsersAndTheShippedCopyIsUsed)
{
    Write(Shipped(), QStringLiteral("2026-12-07"), QStringLiteral("shipped"));
    Write(User(), QStringLiteral("2020-01-01"), QStringLiteral("user"));
    Use({dir.file(QStringLiteral("missing/Ravel.db")), Shipped()});
    // An old download does not hide the newer dictionary an upgrade brought.
    EXPECT_EQ(DictFileInUse().toStdString(), Shipped().toStdString());
    EXPECT_EQ(Answer(QStringLiteral("shipped")), "2026-12-07 found");

    Write(User(), QStringLiteral("2030-03-03"), QStringLiteral("user"));
    EXPECT_EQ(Answer(QStringLiteral("user")), "2030-03-03 found");
    EXPECT_EQ(DictFileInUse().toStdString(), User().toStdString());

    // The same version: the shipped one.
    Write(User(), QStringLiteral("2026-12-07"), QStringLiteral("user"));
    EXPECT_EQ(Answer(QStringLiteral("shipped")), "2026-12-07 found");

    // Only one of them there.
    ASSERT_TRUE(QFile::remove(Shipped()));
    EXPECT_EQ(Answer(QStringLiteral("user")), "2026-12-07 found");
    ASSERT_TRUE(QFile::remove(User()));
    EXPECT_EQ(Answer(QStringLiteral("user")), "0000-00-00 none");
    EXPECT_TRUE(DictFileInUse().isEmpty());
}

TEST_F(DictionaryChoice, ADamagedCopyIsNeverUsedWhateverVersionItClaims)
{
    Write(Shipped(), QStringLiteral("2026-12-07"), QStringLiteral("shipped"));
    const QString next = dir.file(QStringLiteral("next.db"));
    QList<dicttest::DictionaryRow> rows;
    for (int i = 0; i < 200; ++i)
        rows.append({QStringLiteral("p%1").arg(i), Encipher(QStringLiteral("d%1").arg(i)), false});
    WriteDictionary(next, QStringLiteral("2099-01-01"), rows);
    QFile f(next);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray whole = f.readAll();
    f.close();
    for (const QByteArray &damaged : {whole.left(whole.size() / 2), whole.chopped(100)}) {
        QFile u(User());
        ASSERT_TRUE(u.open(QIODevice::WriteOnly | QIODevice::Truncate));
        u.write(damaged);
        u.close();
        Use({Shipped()});
        EXPECT_EQ(Answer(QStringLiteral("shipped")), "2026-12-07 found");
    }
    // A damaged shipped copy gives way to the next shipped place, or to the user's copy.
    const QString second = dir.file(QStringLiteral("second.db"));
    Write(second, QStringLiteral("2025-01-01"), QStringLiteral("second"));
    ASSERT_TRUE(QFile::copy(User(), dir.file(QStringLiteral("damaged.db"))));
    Use({dir.file(QStringLiteral("damaged.db")), second});
    EXPECT_EQ(Answer(QStringLiteral("second")), "2025-01-01 found");
    ASSERT_TRUE(QFile::remove(User()));
    ASSERT_TRUE(QFile::copy(next, User()));
    Use({dir.file(QStringLiteral("damaged.db"))});
    EXPECT_EQ(Answer(QStringLiteral("p7")), "2099-01-01 found");
}

TEST_F(DictionaryChoice, AFileIsCheckedOncePerIdentity)
{
    Write(Shipped(), QStringLiteral("2026-12-07"), QStringLiteral("shipped"));
    Write(User(), QStringLiteral("2030-03-03"), QStringLiteral("user"));
    // A modification time the file system keeps exactly as set.
    const QDateTime modified = QDateTime::fromSecsSinceEpoch(1700000000);
    {
        QFile u(User());
        ASSERT_TRUE(u.open(QIODevice::ReadWrite));
        ASSERT_TRUE(u.setFileTime(modified, QFileDevice::FileModificationTime));
    }
    Use({Shipped()});
    ASSERT_EQ(DictFileInUse().toStdString(), User().toStdString());
    // Damaged in place with size and modification time kept: still the same file, so the
    // verification is not run again (look-ups fail quietly, as for any unreadable file).
    {
        QFile u(User());
        ASSERT_TRUE(u.open(QIODevice::ReadWrite));
        const QByteArray garbage(u.size(), '\x5A');
        u.write(garbage.left(u.size()));
        u.close();
        ASSERT_TRUE(u.open(QIODevice::ReadWrite));
        ASSERT_TRUE(u.setFileTime(modified, QFileDevice::FileModificationTime));
        u.close();
    }
    QString version;
    GetDictVersion(version);
    EXPECT_EQ(DictFileInUse().toStdString(), User().toStdString());
    // Touched: another file now, checked again and refused.
    {
        QFile u(User());
        ASSERT_TRUE(u.open(QIODevice::ReadWrite));
        ASSERT_TRUE(u.setFileTime(modified.addSecs(5), QFileDevice::FileModificationTime));
    }
    EXPECT_EQ(Answer(QStringLiteral("shipped")), "2026-12-07 found");
    EXPECT_EQ(DictFileInUse().toStdString(), Shipped().toStdString());
}

// Why a copy is passed over, and why a look-up in a file damaged under the look-ups' feet
// found nothing: told to a user who turns the dictionary's warnings on, and to nobody else.
TEST_F(DictionaryChoice, TheReasonADamagedCopyIsRefusedIsLoggedOnlyWhenTurnedOn)
{
    if (tvtest::LogCapture::environmentSetsRules())
        GTEST_SKIP() << "QT_LOGGING_RULES is set in the environment and overrides the test's rules";
    const QString category = QStringLiteral("taskvane.dictionary");
    Write(Shipped(), QStringLiteral("2026-12-07"), QStringLiteral("shipped"));
    {
        QFile u(User());
        ASSERT_TRUE(u.open(QIODevice::WriteOnly | QIODevice::Truncate));
        u.write(QByteArray(4096, '\x5A'));
    }
    {
        tvtest::LogCapture log{QString()};
        Use({Shipped()});
        EXPECT_EQ(Answer(QStringLiteral("shipped")), "2026-12-07 found");
        EXPECT_TRUE(log.messages().isEmpty()) << log.messages().first().text.toStdString();
    }
    // Checked once per identity: a new file makes the check run again under the new rules.
    {
        QFile u(User());
        ASSERT_TRUE(u.open(QIODevice::WriteOnly | QIODevice::Truncate));
        u.write(QByteArray(8192, '\x5A'));
    }
    {
        tvtest::LogCapture log(QStringLiteral("taskvane.*.warning=true"));
        Use({Shipped()});
        EXPECT_EQ(Answer(QStringLiteral("shipped")), "2026-12-07 found");
        const QStringList warnings = log.warnings(category);
        ASSERT_EQ(warnings.size(), 1) << warnings.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(warnings.first().contains(QStringLiteral("not a whole dictionary")))
            << warnings.first().toStdString();
        EXPECT_TRUE(warnings.first().contains(QFileInfo(User()).fileName())) << warnings.first().toStdString();
    }
    // The file in use damaged in place: the look-up answers "not found" and logs what it caught.
    {
        QFile s(Shipped());
        ASSERT_TRUE(s.open(QIODevice::ReadWrite));
        s.write(QByteArray(s.size(), '\x5A'));
    }
    tvtest::LogCapture log(QStringLiteral("taskvane.*.warning=true"));
    QString desc;
    bool virus = false;
    EXPECT_FALSE(LookupProcess(QStringLiteral("shipped"), desc, virus));
    const QString reason = log.warnings(category).join(QLatin1Char('\n'));
    EXPECT_TRUE(reason.contains(QStringLiteral("look-up of process"))) << reason.toStdString();
}

} // namespace

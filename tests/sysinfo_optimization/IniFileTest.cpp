#include "common/TempDir.h"
#include "platform/files/IniFile.h"

#include <gtest/gtest.h>

#include <QFile>

#include <sys/stat.h>

using platform::files::IniFile;

namespace {

IniFile Parsed(const char *Text)
{
    IniFile ini;
    ini.Parse(QByteArray(Text));
    return ini;
}

QByteArray ReadAll(const QString &Path)
{
    QFile f(Path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

TEST(IniFile, ReadsSectionsKeysAndValuesIgnoringCase)
{
    const IniFile ini = Parsed("; comment\n"
                               "orphan=1\n"
                               "[ServicesBackup]\n"
                               "  Spooler = 2 \r\n"
                               "wuauserv=3\n"
                               "# note=7\n"
                               "not a key\n"
                               "SPOOLER=4\n"
                               "[Other]\n"
                               "x=\"  quoted  \"\n"
                               "y='a'\n"
                               "z=\"\n"
                               "[servicesbackup]\n"
                               "late=9\n");
    EXPECT_EQ(ini.SectionNames(), (QStringList{"ServicesBackup", "Other"}));
    // The first occurrence of a key and of a section counts; comments are no keys.
    EXPECT_EQ(ini.KeyNames("servicesBACKUP"), (QStringList{"Spooler", "wuauserv"}));
    EXPECT_EQ(ini.Value("ServicesBackup", "spooler"), "2");
    EXPECT_EQ(ini.IntValue("ServicesBackup", "WUAUSERV", 0), 3);
    EXPECT_FALSE(ini.HasKey("ServicesBackup", "late"));
    EXPECT_FALSE(ini.HasKey("ServicesBackup", "# note"));
    EXPECT_EQ(ini.Value("Other", "x"), "  quoted  ");
    EXPECT_EQ(ini.Value("Other", "y"), "a");
    EXPECT_EQ(ini.Value("Other", "z"), "\"");
    EXPECT_EQ(ini.Value("Missing", "x", "dflt"), "dflt");
}

TEST(IniFile, IntegerValuesFallBackToTheDefault)
{
    const IniFile ini = Parsed("[S]\na=0\nb=-12\nc=0x1F\nd=abc\ne=\nf=3x\ng=99999999999\nh=0x\ni=0x-1\nj= 4 \n");
    EXPECT_EQ(ini.IntValue("S", "a", 2), 0);
    EXPECT_EQ(ini.IntValue("S", "b", 2), -12);
    EXPECT_EQ(ini.IntValue("S", "c", 2), 31);
    EXPECT_EQ(ini.IntValue("S", "d", 2), 2);
    EXPECT_EQ(ini.IntValue("S", "e", 2), 2);
    EXPECT_EQ(ini.IntValue("S", "f", 2), 2);
    EXPECT_EQ(ini.IntValue("S", "g", 2), 2);
    EXPECT_EQ(ini.IntValue("S", "h", 2), 2);
    EXPECT_EQ(ini.IntValue("S", "i", 2), 2);
    EXPECT_EQ(ini.IntValue("S", "j", 2), 4);
    EXPECT_EQ(ini.IntValue("S", "none", 7), 7);
}

TEST(IniFile, WritingKeepsUntouchedLinesAndOrder)
{
    IniFile ini = Parsed("; head\n[A]\nk1=1\n\n[B]\nm=x\n");
    EXPECT_TRUE(ini.SetValue("a", "K1", "5")); // replaced in place, first spelling kept
    EXPECT_TRUE(ini.SetValue("A", "k2", "6")); // appended before the blank separator
    EXPECT_TRUE(ini.SetIntValue("C", "n", 7)); // new section at the end
    EXPECT_EQ(ini.ToText(), QByteArray("; head\n[A]\nk1=5\nk2=6\n\n[B]\nm=x\n[C]\nn=7\n"));
    EXPECT_TRUE(ini.RemoveKey("A", "k1"));
    EXPECT_FALSE(ini.RemoveKey("A", "k1"));
    EXPECT_TRUE(ini.RemoveSection("b"));
    EXPECT_FALSE(ini.RemoveSection("b"));
    EXPECT_EQ(ini.ToText(), QByteArray("; head\n[A]\nk2=6\n\n[C]\nn=7\n"));
}

TEST(IniFile, RefusesNamesAndValuesThatWouldBreakTheFile)
{
    IniFile ini;
    EXPECT_FALSE(ini.SetValue("", "k", "v"));
    EXPECT_FALSE(ini.SetValue("  ", "k", "v"));
    EXPECT_FALSE(ini.SetValue("S", "", "v"));
    EXPECT_FALSE(ini.SetValue("S", "a=b", "v"));
    EXPECT_FALSE(ini.SetValue("S", "[x", "v"));
    EXPECT_FALSE(ini.SetValue("S", ";x", "v"));
    EXPECT_FALSE(ini.SetValue("S]", "k", "v"));
    EXPECT_FALSE(ini.SetValue("S", "k", "line\nbreak"));
    EXPECT_FALSE(ini.SetValue("S", "k\r", "v"));
    EXPECT_TRUE(ini.ToText().isEmpty());
    // Values that would not read back as written are quoted.
    for (const QString &v : {QStringLiteral(" lead"), QStringLiteral("trail "), QStringLiteral("\"q\""),
                             QStringLiteral("'s'"), QStringLiteral("a=b;c"), QString()}) {
        ASSERT_TRUE(ini.SetValue("S", "k", v));
        IniFile again;
        again.Parse(ini.ToText());
        EXPECT_EQ(again.Value("S", "k", "none"), v) << v.toStdString();
    }
}

TEST(IniFile, KeepsCrLfAndSkipsByteOrderMark)
{
    IniFile ini = Parsed("\xEF\xBB\xBF[S]\r\na=1\r\n");
    EXPECT_EQ(ini.SectionNames(), QStringList{"S"});
    ini.SetValue("S", "b", QStringLiteral("中文"));
    EXPECT_EQ(ini.ToText(), QByteArray("[S]\r\na=1\r\nb=") + QStringLiteral("中文").toUtf8() + "\r\n");
}

TEST(IniFile, LoadAndSaveFiles)
{
    tvtest::TempDir dir;
    ASSERT_TRUE(dir.isValid());
    IniFile ini;
    // A missing file is an empty text; a directory or a FIFO is refused without blocking.
    EXPECT_TRUE(ini.Load(dir.file("missing.ini")));
    EXPECT_TRUE(ini.SectionNames().isEmpty());
    EXPECT_FALSE(ini.Load(dir.path()));
    ASSERT_EQ(::mkfifo(dir.file("fifo").toLocal8Bit().constData(), 0600), 0);
    EXPECT_FALSE(ini.Load(dir.file("fifo")));

    ASSERT_TRUE(ini.SetValue("S", "k", "v"));
    const QString path = dir.file("sub/dir/file.ini");
    ASSERT_TRUE(ini.Save(path));
    EXPECT_EQ(ReadAll(path), QByteArray("[S]\nk=v\n"));
    IniFile back;
    ASSERT_TRUE(back.Load(path));
    EXPECT_EQ(back.Value("S", "k"), "v");

    // Too large a file is refused and leaves the object empty.
    const QString big = dir.file("big.ini");
    {
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(IniFile::kMaxFileSize + 1));
    }
    EXPECT_FALSE(back.Load(big));
    EXPECT_TRUE(back.SectionNames().isEmpty());

    // Saving where a directory stands fails and leaves it alone.
    EXPECT_FALSE(ini.Save(dir.path() + QStringLiteral("/sub")));
}

TEST(IniFile, BinaryGarbageNeitherCrashesNorLosesLines)
{
    QByteArray junk;
    for (int i = 0; i < 4096; ++i)
        junk.append(char((i * 131 + 7) & 0xFF));
    junk.append("\n[S]\nk=1\n");
    IniFile ini;
    ini.Parse(junk);
    EXPECT_EQ(ini.IntValue("S", "k", 0), 1);
    IniFile again;
    again.Parse(ini.ToText());
    EXPECT_EQ(again.IntValue("S", "k", 0), 1);
}

TEST(IniFile, LinesThatCannotBeReadAreKeptByteForByteAndHideNothing)
{
    const QByteArray badValue = QByteArray("bad=\xFF\xFE x", 9);
    const QByteArray nulKey = QByteArray("nul=a\0b", 7);
    const QByteArray badHeader = QByteArray("[B\0]", 4);
    const QByteArray text =
        "[A]\nk=1\n" + badValue + "\n" + nulKey + "\nm=2\n" + badHeader + "\nk=lost\nonly=b\n[C]\nk=3\n";
    IniFile ini;
    ini.Parse(text);
    // The readable sections and keys, as if the unreadable lines were not there; the keys below
    // an unreadable header belong to no section.
    EXPECT_EQ(ini.SectionNames(), (QStringList{"A", "C"}));
    EXPECT_EQ(ini.KeyNames("A"), (QStringList{"k", "m"}));
    EXPECT_FALSE(ini.HasKey("A", "bad"));
    EXPECT_FALSE(ini.HasKey("A", "only"));
    EXPECT_EQ(ini.Value("C", "k"), "3");
    EXPECT_EQ(ini.ToText(), text);

    // Changes elsewhere keep every byte of them.
    ASSERT_TRUE(ini.SetValue("C", "k", "4"));
    ASSERT_TRUE(ini.RemoveKey("A", "m"));
    EXPECT_EQ(ini.ToText(),
              "[A]\nk=1\n" + badValue + "\n" + nulKey + "\n" + badHeader + "\nk=lost\nonly=b\n[C]\nk=4\n");
    ASSERT_TRUE(ini.RemoveSection("A"));
    EXPECT_EQ(ini.ToText(), badHeader + "\nk=lost\nonly=b\n[C]\nk=4\n");

    // Nothing is written that could not be read back.
    EXPECT_FALSE(ini.SetValue("C", "x", QStringLiteral("a") + QChar(0) + "b"));
    EXPECT_FALSE(ini.SetValue(QStringLiteral("D") + QChar(0), "x", "1"));
    EXPECT_FALSE(ini.SetValue("C", QStringLiteral("x") + QChar(0), "1"));
    EXPECT_EQ(ini.ToText(), badHeader + "\nk=lost\nonly=b\n[C]\nk=4\n");
}

#include "dictdb_access/DictionaryFile.h"
#include "platform_http/LoopbackServer.h"
#include "ui_process/Fixture.h"

#include "common/Pinger.h"
#include "common/UserDirs.h"

#include "dictdb/DictDBFileIO.h"

#include "sysinfo/HttpGet.h"
#include "sysinfo/Utils.h"
#include "ui/frmAbout.h"

#include <QDir>
#include <QElapsedTimer>

#include <QKeyEvent>

#include <cstdio>
#include <cstring>
#include <vector>

using httptest::LoopbackServer;
using httptest::Recorded;

namespace {

const QByteArray kDescriptorPath = "/download/taskvane/update/update.html";
const QByteArray kDictPath = "/download/taskvane/update/Ravel.zip";

// A dictionary file that answers `Version` for its version.
void MakeDictionary(const QString &Path, const QString &Version)
{
    dicttest::WriteDictionary(Path, Version, {}, ftBoolean, false);
}

QByteArray ReadFile(const QString &Path)
{
    QFile f(Path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The form starts its check itself from its creation; the tests start it again on their own server.
void StartCheck(TFormMain *Form)
{
    Form->UpdateCheck->StartUpdateCheck();
}

QString OwnVersion()
{
    QString v;
    GetFileVersion(QString(), v);
    return v;
}

class UpdateCheckTest : public ptest::FormTest
{
protected:
    void SetUp() override
    {
        FormTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        UiHooks().ExecModal = [this](QDialog *Dialog) {
            if (auto *about = qobject_cast<TFormAbout *>(Dialog)) {
                aboutTexts << about->lblTitle->text() << about->lblTilte->text() << about->lblText->text();
                about->show();
                QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QCoreApplication::sendEvent(about->lblText, &esc);
                aboutClosedByEsc = !about->isVisible();
                return 0;
            }
            return uitest::AnswerMessageBox(Dialog, shown, answers);
        };
        Create();
        // A display-less run checks nothing on its own.
        EXPECT_EQ(form->UpdateCheck->objHttpGet->Thread(), nullptr);
        // The update's files and the dictionary it writes lie in the user's data directory.
        EXPECT_EQ(form->UpdateCheck->UpdateDir, home.DataDir());
        ASSERT_TRUE(QDir().mkpath(home.DataDir()));
        form->UpdateCheck->objHttpGet->Limits.StallTimeoutMs = 1000;
        form->UpdateCheck->objHttpGet->Limits.TotalTimeoutMs = 8000;
        form->UpdateCheck->objHttpGet->Limits.ConnectTimeoutMs = 2000;
    }
    void TearDown() override
    {
        FormTest::TearDown();
        server.reset();
        qunsetenv(platform::http::kServerOverrideVariable);
    }

    // Serves the descriptor text and the dictionary answer.
    void Serve(const QByteArray &Descriptor, std::function<void(const LoopbackServer::Conn &)> Dictionary = {})
    {
        server = std::make_unique<LoopbackServer>(
            [Descriptor, Dictionary](const LoopbackServer::Conn &c, const Recorded &r) {
                if (r.target == kDescriptorPath)
                    c.send(LoopbackServer::response(200, Descriptor));
                else if (r.target == kDictPath && Dictionary)
                    Dictionary(c);
                else
                    c.send(LoopbackServer::response(404, "not here"));
            });
        ASSERT_NE(server->port(), 0);
        qputenv(platform::http::kServerOverrideVariable, server->connectTo());
    }

    // Runs the check to its end, both stages.
    bool RunCheck()
    {
        StartCheck(form.get());
        QDeadlineTimer deadline(15000);
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            TWorkThread *t = form->UpdateCheck->objHttpGet->Thread();
            if (t && !form->UpdateCheck->Busy() && t->Ended()) {
                QCoreApplication::processEvents();
                return true;
            }
        }
        return false;
    }

    QStringList Targets() const
    {
        QStringList out;
        for (const Recorded &r : server->requests())
            out << QString::fromLatin1(r.target);
        return out;
    }

    QString VersionLabel(const QString &Dict) const
    {
        return QStringLiteral("主程序版本：%1 | 进程库版本：%2").arg(OwnVersion(), Dict);
    }

    QString File(const char *Name) const { return home.DataDir() + QLatin1String(Name); }

    tvtest::TempDir dir;
    tvtest::PrivateHome home{dir.path()};
    std::unique_ptr<LoopbackServer> server;
    QStringList aboutTexts;
    bool aboutClosedByEsc = false;
};

TEST_F(UpdateCheckTest, NewerProgramOffersTheDownloadPage)
{
    MakeDictionary(File("Ravel.db"), QStringLiteral("2009-04-15"));
    Serve("[VERSION]\r\nAPP=99.0.0.0\r\nDB=2009-4-15\r\n");
    answers = {3};
    ASSERT_TRUE(RunCheck());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, QStringLiteral("已发现新版本 Taskvane v99.0.0.0，建议下载更新。是否立即打开下载页面？"));
    EXPECT_EQ(shown[0].Title, QStringLiteral("信息"));
    EXPECT_EQ(shown[0].Icon, 1);
    EXPECT_EQ(shown[0].Buttons, 2);
    EXPECT_EQ(opened, QStringList{QStringLiteral("http://www.taskvane.org/taskvane.html")});
    // 2009-4-15 is the dictionary's own date: nothing is downloaded.
    EXPECT_EQ(Targets(), QStringList{QString::fromLatin1(kDescriptorPath)});
    EXPECT_EQ(server->requests()[0].headers.value("host"), "www.taskvane.org");
    EXPECT_FALSE(QFile::exists(File("_update.tmp")));
    EXPECT_EQ(form->lblVersion->text(), VersionLabel(QStringLiteral("2009-04-15")));

    // Declined: nothing opens.
    shown.clear();
    opened.clear();
    answers = {4};
    ASSERT_TRUE(RunCheck());
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(UpdateCheckTest, SameProgramVersionOrMalformedDescriptorAsksNothing)
{
    MakeDictionary(File("Ravel.db"), QStringLiteral("2009-04-15"));
    for (const QByteArray &descriptor :
         {QByteArray("[VERSION]\nAPP=" + OwnVersion().toLatin1() + "\nDB=2009-04-15\n"),
          QByteArray("[version]\napp = \"0.9.9.9\"\ndb=2001-01-01\n"), QByteArray("garbage\x01\xff no ini at all"),
          QByteArray("[VERSION]\nAPP=x.y.z.w\nDB=next-year\n"), QByteArray()}) {
        Serve(descriptor);
        ASSERT_TRUE(RunCheck());
        EXPECT_TRUE(shown.empty()) << descriptor.toStdString();
        EXPECT_EQ(Targets().size(), 1) << descriptor.toStdString();
        EXPECT_FALSE(QFile::exists(File("_update.tmp")));
        EXPECT_EQ(form->lblVersion->text(), VersionLabel(QStringLiteral("2009-04-15")));
    }
}

TEST_F(UpdateCheckTest, NewerDictionaryReplacesTheOldOne)
{
    MakeDictionary(File("Ravel.db"), QStringLiteral("2009-04-15"));
    MakeDictionary(File("offered.db"), QStringLiteral("2031-02-03"));
    const QByteArray offered = ReadFile(File("offered.db"));
    Serve("[VERSION]\nAPP=0.0.0.1\nDB=2031-02-03\n",
          [offered](const LoopbackServer::Conn &c) { c.send(LoopbackServer::response(200, offered)); });
    ASSERT_TRUE(RunCheck());
    EXPECT_EQ(Targets(), (QStringList{QString::fromLatin1(kDescriptorPath), QString::fromLatin1(kDictPath)}));
    EXPECT_EQ(form->UpdateCheck->UpdateStage, 1);
    EXPECT_EQ(ReadFile(File("Ravel.db")), offered);
    EXPECT_FALSE(QFile::exists(File("_Ravel.tmp")));
    EXPECT_FALSE(QFile::exists(File("_update.tmp")));
    EXPECT_EQ(form->lblVersion->text(), VersionLabel(QStringLiteral("2031-02-03")));
}

TEST_F(UpdateCheckTest, MissingDictionaryIsFetched)
{
    MakeDictionary(File("offered.db"), QStringLiteral("2010-01-01"));
    const QByteArray offered = ReadFile(File("offered.db"));
    Serve("[VERSION]\nDB=2010-01-01\n",
          [offered](const LoopbackServer::Conn &c) { c.send(LoopbackServer::response(200, offered)); });
    ASSERT_TRUE(RunCheck());
    EXPECT_EQ(ReadFile(File("Ravel.db")), offered);
    EXPECT_EQ(form->lblVersion->text(), VersionLabel(QStringLiteral("2010-01-01")));
}

// A dictionary of many rows: damage anywhere in it lands in records, blobs or indexes.
void MakeFullDictionary(const QString &Path, const QString &Version)
{
    QList<dicttest::DictionaryRow> rows;
    for (int i = 0; i < 300; ++i)
        rows.append({QStringLiteral("proc%1").arg(i), QStringLiteral("%1").arg(i * 7919, 32, 16, QLatin1Char('0')),
                     i % 5 == 0});
    dicttest::WriteDictionary(Path, Version, rows);
}

// Only a whole dictionary replaces the user's copy. A download cut short (also one whose length
// header matches what came), a body that is no dictionary, an endless body and a failed request
// leave the copy as it was, and no temporary download behind; a redirect to a good file is
// followed.
TEST_F(UpdateCheckTest, OnlyAWholeDictionaryReplacesTheUsersCopy)
{
    MakeDictionary(File("Ravel.db"), QStringLiteral("2009-04-15"));
    const QByteArray before = ReadFile(File("Ravel.db"));
    MakeFullDictionary(dir.file(QStringLiteral("offered.db")), QStringLiteral("2031-02-03"));
    const QByteArray offered = ReadFile(dir.file(QStringLiteral("offered.db")));
    ASSERT_GT(offered.size(), 4096);
    // An endless body ends at the transfer's size bound, well before the time bounds.
    form->UpdateCheck->objHttpGet->Limits.MaxBodyBytes = 1024 * 1024;
    QByteArray garbage(offered.size(), '\0');
    for (qsizetype i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 131 + 7) % 251);
    // The file's own header, then garbage: it claims to be a database.
    QByteArray headed = offered.left(512) + garbage.mid(512);

    struct Case
    {
        const char *Name;
        std::function<void(const LoopbackServer::Conn &)> Answer;
    };
    const Case cases[] = {
        {"first half, length to match",
         [offered](const LoopbackServer::Conn &c) {
             c.send(LoopbackServer::response(200, offered.left(offered.size() / 2)));
         }},
        {"all but the last 100 bytes, length to match",
         [offered](const LoopbackServer::Conn &c) { c.send(LoopbackServer::response(200, offered.chopped(100))); }},
        {"first half, longer length",
         [offered](const LoopbackServer::Conn &c) {
             c.send("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(offered.size()) + "\r\n\r\n" +
                    offered.left(offered.size() / 2));
         }},
        {"garbage", [garbage](const LoopbackServer::Conn &c) { c.send(LoopbackServer::response(200, garbage)); }},
        {"garbage after a good header",
         [headed](const LoopbackServer::Conn &c) { c.send(LoopbackServer::response(200, headed)); }},
        {"a page instead of a file",
         [](const LoopbackServer::Conn &c) { c.send(LoopbackServer::response(200, "<html>sign in first</html>")); }},
        {"endless body",
         [](const LoopbackServer::Conn &c) {
             c.send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
             const QByteArray chunk(64 * 1024, 'x');
             for (int i = 0; i < 1000 && !c.stopping() && c.send(chunk); ++i) {
             }
         }},
        {"stalls",
         [](const LoopbackServer::Conn &c) {
             c.send("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\nabc");
             c.pause(3000);
         }},
        {"not found", [](const LoopbackServer::Conn &c) { c.send(LoopbackServer::response(404, "")); }},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.Name);
        Serve("[VERSION]\nDB=2031-02-03\n", k.Answer);
        ASSERT_TRUE(RunCheck());
        EXPECT_EQ(Targets().size(), 2);
        EXPECT_TRUE(ReadFile(File("Ravel.db")) == before) << "the user's copy was replaced";
        EXPECT_FALSE(QFile::exists(File("_Ravel.tmp")));
        EXPECT_FALSE(QFile::exists(File("_update.tmp")));
        EXPECT_EQ(form->lblVersion->text(), VersionLabel(QStringLiteral("2009-04-15")));
        // Nothing else was left beside the dictionary either.
        EXPECT_EQ(QDir(home.DataDir()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Ravel.db")});
    }

    // Moved elsewhere: the good file is fetched from there.
    server = std::make_unique<LoopbackServer>([offered](const LoopbackServer::Conn &c, const Recorded &r) {
        if (r.target == kDescriptorPath)
            c.send(LoopbackServer::response(200, "[VERSION]\nDB=2031-02-03\n"));
        else if (r.target == kDictPath)
            c.send(LoopbackServer::response(302, "", true, "Location: http://www.taskvane.org/mirror/Ravel.db\r\n"));
        else if (r.target == "/mirror/Ravel.db")
            c.send(LoopbackServer::response(200, offered));
        else
            c.send(LoopbackServer::response(404, ""));
    });
    qputenv(platform::http::kServerOverrideVariable, server->connectTo());
    ASSERT_TRUE(RunCheck());
    EXPECT_EQ(Targets(),
              (QStringList{QString::fromLatin1(kDescriptorPath), QString::fromLatin1(kDictPath),
                           QStringLiteral("/mirror/Ravel.db")}));
    EXPECT_EQ(ReadFile(File("Ravel.db")), offered);
    EXPECT_FALSE(QFile::exists(File("_Ravel.tmp")));
    EXPECT_EQ(form->lblVersion->text(), VersionLabel(QStringLiteral("2031-02-03")));
    QString desc;
    bool virus = false;
    EXPECT_TRUE(LookupProcess(QStringLiteral("proc10"), desc, virus));
    EXPECT_TRUE(virus);
}

// Where the pictures of a file that WriteLargeDictionary wrote lie: the table's header, and the
// blob slot of its last (deleted) picture.
struct PicturePlaces
{
    qint64 Header = 0;
    qint64 LastSlot = 0;
};

PicturePlaces FindPictures(const QString &Path)
{
    TDictDBFileIO io;
    io.ReadOnlyAccess = true;
    io.Open(Path, mtDisk, false);
    dictdb::TTableHeader header;
    io.ReadTableHeader(2, header);
    TRecordTabItems records;
    TIntegerAry blocks;
    io.ReadRecordTabItems(header, records, blocks);
    // The picture's slot follows its name of 20 characters and a NUL.
    return {io.TableTab.TableHeaderOffset[2], qint64(records.back().DataOffset) + 21};
}

template <class T>
void Put(QByteArray &Image, qint64 At, T Value)
{
    std::memcpy(Image.data() + At, &Value, sizeof Value);
}

template <class T>
T At(const QByteArray &Image, qint64 Where)
{
    T v;
    std::memcpy(&v, Image.constData() + Where, sizeof v);
    return v;
}

// The update takes a dictionary only as its own structures say: the file ends where they end and
// every one of them lies within it. Each offer refused leaves the user's copy as it was and writes
// nothing; a whole one (which here ends with a deleted record's blob area) is taken.
TEST_F(UpdateCheckTest, AnOfferedDictionaryIsTakenOnlyWhenItEndsWhereItsStructuresEnd)
{
    form->UpdateCheck->objHttpGet->Limits.TotalTimeoutMs = 120000;
    MakeDictionary(File("Ravel.db"), QStringLiteral("2009-04-15"));
    const QByteArray before = ReadFile(File("Ravel.db"));
    const QString offeredPath = dir.file(QStringLiteral("offered.db"));
    dicttest::WriteLargeDictionary(offeredPath, QStringLiteral("2031-02-03"), 3 * 1024 * 1024);
    const QByteArray offered = ReadFile(offeredPath);
    const PicturePlaces pictures = FindPictures(offeredPath);

    QByteArray padded = offered + QByteArray(66060288 - offered.size(), '\0');
    QByteArray reaching = offered;
    Put<qint32>(reaching, pictures.LastSlot + 8, At<qint32>(offered, pictures.LastSlot + 8) + 1024 * 1024);
    QByteArray counting = offered;
    Put<qint32>(counting, pictures.Header + 37, At<qint32>(offered, pictures.Header + 37) + 1);
    struct Case
    {
        const char *Name;
        QByteArray Body;
        bool Taken;
    };
    const Case cases[] = {
        {"padded with zeros to 63 MiB", padded, false},
        {"its last 1000 bytes cut", offered.chopped(1000), false},
        {"a deleted picture's area claimed past the end", reaching, false},
        {"a header counting a picture more than were written", counting, false},
        {"whole", offered, true},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.Name);
        const QByteArray body = k.Body;
        Serve("[VERSION]\nDB=2031-02-03\n",
              [body](const LoopbackServer::Conn &c) { c.send(LoopbackServer::response(200, body)); });
        ASSERT_TRUE(RunCheck());
        EXPECT_EQ(Targets().size(), 2);
        EXPECT_TRUE(ReadFile(File("Ravel.db")) == (k.Taken ? offered : before));
        EXPECT_EQ(QDir(home.DataDir()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Ravel.db")});
        EXPECT_EQ(form->lblVersion->text(),
                  VersionLabel(k.Taken ? QStringLiteral("2031-02-03") : QStringLiteral("2009-04-15")));
    }
    QString desc;
    bool virus = false;
    EXPECT_TRUE(LookupProcess(QStringLiteral("proc1"), desc, virus));
    EXPECT_TRUE(virus);
}

// The window's thread only shows what the update's workers did: it answers within 100 ms through
// the whole update of a large dictionary and of a padded one (descriptor, download, check, copy),
// and hears of the download at most about ten times a second, the last time at 100 %.
TEST_F(UpdateCheckTest, TheWindowAnswersThroughTheWholeUpdateOfALargeOrPaddedDictionary)
{
    form->UpdateCheck->objHttpGet->Limits.TotalTimeoutMs = 120000;
    MakeDictionary(File("Ravel.db"), QStringLiteral("2009-04-15"));
    const QByteArray before = ReadFile(File("Ravel.db"));
    const QString largePath = dir.file(QStringLiteral("large.db"));
    dicttest::WriteLargeDictionary(largePath, QStringLiteral("2031-02-03"), 48 * 1024 * 1024);
    const QByteArray large = ReadFile(largePath);
    MakeDictionary(dir.file(QStringLiteral("small.db")), QStringLiteral("2032-01-01"));
    QByteArray padded = ReadFile(dir.file(QStringLiteral("small.db")));
    padded += QByteArray(66060288 - padded.size(), '\0');

    struct Told
    {
        qint32 Current;
        qint32 Total;
        qint64 At;
        QString Label;
    };
    std::vector<Told> told;
    QElapsedTimer clock;
    clock.start();
    TUpdateCheck *check = form->UpdateCheck.get();
    const TProcessEvent shown = check->objHttpGet->OnProcess;
    check->objHttpGet->OnProcess = [&](QObject *Sender, qint32 Current, qint32 Total) {
        shown(Sender, Current, Total);
        if (check->UpdateStage == 1)
            told.push_back({Current, Total, clock.elapsed(), form->lblVersion->text()});
    };

    struct Case
    {
        const char *Name;
        QByteArray Body;
        QString Version;
        bool Taken;
    };
    const Case cases[] = {
        {"a large whole dictionary", large, QStringLiteral("2031-02-03"), true},
        {"a small one padded with zeros to 63 MiB", padded, QStringLiteral("2032-01-01"), false},
    };
    // The process's first transfer costs its threads some tens of milliseconds once, as the
    // program's start does; that one is no part of the update measured below.
    server = std::make_unique<LoopbackServer>(
        [](const LoopbackServer::Conn &c, const Recorded &) { c.send(LoopbackServer::response(404, "")); });
    qputenv(platform::http::kServerOverrideVariable, server->connectTo());
    ASSERT_TRUE(RunCheck());
    for (const Case &k : cases) {
        SCOPED_TRACE(k.Name);
        told.clear();
        // The user's copy is known before the update begins, as it is from the program's start.
        EXPECT_EQ(CheckedDictVersion(), QStringLiteral("2009-04-15"));
        const QByteArray body = k.Body;
        Serve("[VERSION]\nDB=" + k.Version.toLatin1() + "\n",
              [body](const LoopbackServer::Conn &c) { c.send(LoopbackServer::response(200, body)); });
        tvtest::Pinger ping(form.get());
        ASSERT_TRUE(RunCheck());
        const qint64 held = ping.Stop().count();
        EXPECT_LT(held, 100);
        EXPECT_TRUE(ReadFile(File("Ravel.db")) == (k.Taken ? large : before));
        EXPECT_EQ(form->lblVersion->text(), VersionLabel(k.Taken ? k.Version : QStringLiteral("2009-04-15")));

        ASSERT_FALSE(told.empty());
        const double seconds = double(told.back().At - told.front().At) / 1000.0;
        std::printf("%s: the window held at most %lld ms; %zu progress events in %.2f s\n", k.Name,
                    static_cast<long long>(held), told.size(), seconds);
        EXPECT_LE(double(told.size()), 10.0 * seconds + 2.0) << told.size() << " in " << seconds << " s";
        EXPECT_EQ(told.back().Current, qint32(body.size()));
        EXPECT_EQ(told.back().Total, qint32(body.size()));
        EXPECT_EQ(told.back().Label, QStringLiteral("正在下载更新文件... 100 %"));
        // Put back for the next case.
        if (k.Taken) {
            MakeDictionary(File("Ravel.db"), QStringLiteral("2009-04-15"));
            ASSERT_TRUE(ReadFile(File("Ravel.db")) == before);
        }
    }
}

// The update writes only the user's copy; the dictionary in use is the newer of that copy and the
// shipped one, and the check compares the offer with the one in use.
TEST_F(UpdateCheckTest, TheShippedDictionaryIsNeverWrittenAndTheNewerCopyIsUsed)
{
    const QString shippedDir = dir.file(QStringLiteral("share/taskvane"));
    ASSERT_TRUE(QDir().mkpath(shippedDir));
    const QString shipped = shippedDir + QStringLiteral("/Ravel.db");
    MakeDictionary(shipped, QStringLiteral("2026-12-07"));
    const QByteArray shippedBytes = ReadFile(shipped);
    TDictFiles files;
    files.UserFile = File("Ravel.db");
    files.ShippedFiles = {dir.file(QStringLiteral("bin/Ravel.db")), shipped};
    files.IsNewer = [](const QString &a, const QString &b) { return TUpdateCheck::IsNewerVersion(a, b, '-', 3); };
    SetDictFiles(files);
    EXPECT_EQ(DictFileInUse(), shipped);

    // An older download of the user's own does not hide the newer shipped dictionary: nothing is
    // fetched for an offer no newer than the one in use.
    MakeDictionary(File("Ravel.db"), QStringLiteral("2020-01-01"));
    Serve("[VERSION]\nDB=2026-12-07\n",
          [](const LoopbackServer::Conn &c) { c.send(LoopbackServer::response(404, "")); });
    ASSERT_TRUE(RunCheck());
    EXPECT_EQ(Targets().size(), 1);
    EXPECT_EQ(form->lblVersion->text(), VersionLabel(QStringLiteral("2026-12-07")));
    EXPECT_EQ(DictFileInUse(), shipped);

    // A newer offer lands in the user's copy, which is then the one in use.
    MakeDictionary(dir.file(QStringLiteral("offered.db")), QStringLiteral("2030-05-05"));
    const QByteArray offered = ReadFile(dir.file(QStringLiteral("offered.db")));
    Serve("[VERSION]\nDB=2030-05-05\n",
          [offered](const LoopbackServer::Conn &c) { c.send(LoopbackServer::response(200, offered)); });
    ASSERT_TRUE(RunCheck());
    EXPECT_EQ(ReadFile(File("Ravel.db")), offered);
    EXPECT_EQ(ReadFile(shipped), shippedBytes);
    EXPECT_EQ(DictFileInUse(), File("Ravel.db"));
    EXPECT_EQ(form->lblVersion->text(), VersionLabel(QStringLiteral("2030-05-05")));
}

TEST_F(UpdateCheckTest, UnreachableOrMissingDescriptorKeepsTheVersions)
{
    MakeDictionary(File("Ravel.db"), QStringLiteral("2009-04-15"));
    form->lblVersion->setText(VersionLabel(QStringLiteral("2009-04-15")));
    // Not found: no event at all.
    server = std::make_unique<LoopbackServer>(
        [](const LoopbackServer::Conn &c, const Recorded &) { c.send(LoopbackServer::response(404, "")); });
    qputenv(platform::http::kServerOverrideVariable, server->connectTo());
    ASSERT_TRUE(RunCheck());
    EXPECT_EQ(form->lblVersion->text(), VersionLabel(QStringLiteral("2009-04-15")));
    EXPECT_FALSE(QFile::exists(File("_update.tmp")));
    // Nobody listening: the failure text gives way to the versions at once.
    const quint16 port = server->port();
    server.reset();
    qputenv(platform::http::kServerOverrideVariable, "127.0.0.1:" + QByteArray::number(port));
    form->lblVersion->setText(QString());
    ASSERT_TRUE(RunCheck());
    EXPECT_EQ(form->lblVersion->text(), VersionLabel(QStringLiteral("2009-04-15")));
}

TEST_F(UpdateCheckTest, ClosingTheFormStopsARunningCheck)
{
    server = std::make_unique<LoopbackServer>([](const LoopbackServer::Conn &c, const Recorded &) {
        c.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n[VER");
        c.pause(5000);
    });
    qputenv(platform::http::kServerOverrideVariable, server->connectTo());
    form->UpdateCheck->objHttpGet->Limits.StallTimeoutMs = 8000;
    StartCheck(form.get());
    ASSERT_TRUE(form->UpdateCheck->objHttpGet->IsBusy());
    QDeadlineTimer deadline(2000);
    form->close();
    EXPECT_FALSE(deadline.hasExpired());
    EXPECT_FALSE(form->UpdateCheck->objHttpGet->IsBusy());
    EXPECT_TRUE(form->lblVersion->text().startsWith(QStringLiteral("主程序版本：")));
    EXPECT_FALSE(QFile::exists(File("_update.tmp")));
}

// A window closed while its worker checks an offered dictionary stops the worker, which writes
// nothing: the user's copy stays, nothing is left beside it, and the label ends with the versions.
TEST_F(UpdateCheckTest, ClosingTheFormWhileAnOfferedDictionaryIsCheckedLeavesTheUsersCopy)
{
    MakeDictionary(File("Ravel.db"), QStringLiteral("2009-04-15"));
    const QByteArray before = ReadFile(File("Ravel.db"));
    dicttest::WriteLargeDictionary(dir.file(QStringLiteral("offered.db")), QStringLiteral("2031-02-03"),
                                   16 * 1024 * 1024);
    const QByteArray offered = ReadFile(dir.file(QStringLiteral("offered.db")));
    Serve("[VERSION]\nDB=2031-02-03\n",
          [offered](const LoopbackServer::Conn &c) { c.send(LoopbackServer::response(200, offered)); });
    TUpdateCheck *check = form->UpdateCheck.get();
    const TGetFileCompletedEvent completed = check->objHttpGet->OnGetFileCompleted;
    check->objHttpGet->OnGetFileCompleted = [&](QObject *Sender, const QString &FileName, qint32 FileSize) {
        completed(Sender, FileName, FileSize);
        if (check->UpdateStage == 1)
            form->close();
    };
    ASSERT_TRUE(RunCheck());
    EXPECT_EQ(Targets().size(), 2);
    EXPECT_TRUE(ReadFile(File("Ravel.db")) == before);
    EXPECT_EQ(QDir(home.DataDir()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Ravel.db")});
    EXPECT_EQ(form->lblVersion->text(), VersionLabel(QStringLiteral("2009-04-15")));
}

// The question about a newer program may still be open when the window closes: what it then
// decides starts no download of the dictionary the descriptor also offers.
TEST_F(UpdateCheckTest, AWindowClosedWhileTheNewVersionQuestionIsOpenStartsNoDownload)
{
    MakeDictionary(File("Ravel.db"), QStringLiteral("2009-04-15"));
    Serve("[VERSION]\nAPP=99.0.0.0\nDB=2031-02-03\n",
          [](const LoopbackServer::Conn &c) { c.send(LoopbackServer::response(200, "never asked for")); });
    answers = {4};
    UiHooks().ExecModal = [this](QDialog *Dialog) {
        form->close();
        return uitest::AnswerMessageBox(Dialog, shown, answers);
    };
    ASSERT_TRUE(RunCheck());
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_EQ(Targets(), QStringList{QString::fromLatin1(kDescriptorPath)});
    EXPECT_EQ(form->lblVersion->text(), VersionLabel(QStringLiteral("2009-04-15")));
}

TEST_F(UpdateCheckTest, ProgressTexts)
{
    form->UpdateCheck->UpdateStage = 0;
    form->UpdateCheck->objHttpGetProcess(form->UpdateCheck->objHttpGet, 10, 100);
    EXPECT_EQ(form->lblVersion->text(), QStringLiteral("正在检查更新..."));
    form->UpdateCheck->UpdateStage = 1;
    form->UpdateCheck->objHttpGetProcess(form->UpdateCheck->objHttpGet, 1, 8); // 12.5 goes to the even 12
    EXPECT_EQ(form->lblVersion->text(), QStringLiteral("正在下载更新文件... 12 %"));
    form->UpdateCheck->objHttpGetProcess(form->UpdateCheck->objHttpGet, 3, 8); // 37.5 goes to 38
    EXPECT_EQ(form->lblVersion->text(), QStringLiteral("正在下载更新文件... 38 %"));
    form->UpdateCheck->objHttpGetProcess(form->UpdateCheck->objHttpGet, 700, 0);
    EXPECT_EQ(form->lblVersion->text(), QStringLiteral("正在下载更新文件... 0 %"));
}

TEST(UpdateVersions, CompareFieldByFieldAsNumbers)
{
    const QChar dot('.'), dash('-');
    EXPECT_TRUE(TUpdateCheck::IsNewerVersion(QStringLiteral("1.2.10.0"), QStringLiteral("1.2.9.9"), dot, 4));
    EXPECT_FALSE(TUpdateCheck::IsNewerVersion(QStringLiteral("1.2.9.9"), QStringLiteral("1.2.10.0"), dot, 4));
    EXPECT_FALSE(TUpdateCheck::IsNewerVersion(QStringLiteral("1.2.3.4"), QStringLiteral("1.2.3.4"), dot, 4));
    EXPECT_FALSE(TUpdateCheck::IsNewerVersion(QStringLiteral("9.9.9.9"), QString(), dot, 4)); // no own version
    // The first field decides before the unreadable one is looked at.
    EXPECT_TRUE(TUpdateCheck::IsNewerVersion(QStringLiteral("2.x.0.0"), QStringLiteral("1.0.0.0"), dot, 4));
    EXPECT_FALSE(TUpdateCheck::IsNewerVersion(QStringLiteral("1.x.0.0"), QStringLiteral("1.0.0.0"), dot, 4));
    EXPECT_FALSE(TUpdateCheck::IsNewerVersion(QStringLiteral("1.0"), QStringLiteral("1.0.0.0"), dot, 4));
    EXPECT_TRUE(TUpdateCheck::IsNewerVersion(QStringLiteral("1 . 0 . 1 . 0"), QStringLiteral("1.0.0.0"), dot, 4));
    EXPECT_FALSE(TUpdateCheck::IsNewerVersion(QStringLiteral("2009-4-15"), QStringLiteral("2009-04-15"), dash, 3));
    EXPECT_TRUE(TUpdateCheck::IsNewerVersion(QStringLiteral("2009-04-16"), QStringLiteral("0000-00-00"), dash, 3));
    EXPECT_FALSE(TUpdateCheck::IsNewerVersion(QStringLiteral("0000-00-00"), QStringLiteral("0000-00-00"), dash, 3));
    EXPECT_FALSE(
        TUpdateCheck::IsNewerVersion(QStringLiteral("99999999999-1-1"), QStringLiteral("2009-01-01"), dash, 3));

    EXPECT_EQ(TUpdateCheck::SplitDelimited(QStringLiteral("1.2.3.4"), dot), (QStringList{"1", "2", "3", "4"}));
    EXPECT_EQ(TUpdateCheck::SplitDelimited(QStringLiteral("\"1.2\".3 4"), dot), (QStringList{"1.2", "3", "4"}));
    EXPECT_EQ(TUpdateCheck::SplitDelimited(QStringLiteral("1..2."), dot), (QStringList{"1", "", "2", ""}));
    EXPECT_TRUE(TUpdateCheck::SplitDelimited(QStringLiteral("   "), dot).isEmpty());
}

TEST_F(UpdateCheckTest, AboutBoxShowsTheInformation)
{
    form->btnAboutClick(form->btnAbout);
    ASSERT_EQ(aboutTexts.size(), 3);
    EXPECT_EQ(aboutTexts[0], QStringLiteral("关于 Taskvane"));
    EXPECT_EQ(aboutTexts[1], QStringLiteral("Taskvane"));
    QString dict;
    GetDictVersion(dict);
    const QStringList lines = aboutTexts[2].split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 7);
    EXPECT_EQ(lines[0], QStringLiteral("主程序版本：") + OwnVersion());
    EXPECT_EQ(lines[1], QStringLiteral("数据库版本：") + dict);
    EXPECT_TRUE(aboutTexts[2].contains(maker::kMailAddress));
    EXPECT_TRUE(aboutClosedByEsc);

    // Without a version block and without a dictionary.
    const QStringList bare =
        TFormAbout::InformationText(QString(), QStringLiteral("0000-00-00")).split(QLatin1Char('\r'));
    EXPECT_EQ(bare[0], QStringLiteral("主程序版本："));
    EXPECT_EQ(bare[1], QStringLiteral("数据库版本：0000-00-00"));
}

} // namespace

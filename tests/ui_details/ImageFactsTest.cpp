// What the details panel and the process commands say about a process's file comes from the file
// the process runs, never from what its path names: another user's process in a mount namespace
// of its own, a path replaced by a link after the start, and a program file too large to read on
// the window's thread; nor is a command line too long to lay out on it laid out whole.

#include "DetailsFixture.h"
#include "common/OtherUser.h"
#include "ui_process/Fixture.h"

#include "sysinfo/MD5.h"
#include "ui/DisplayTexts.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <sys/stat.h>

using namespace ptest;

namespace {

const QString kDigest = QStringLiteral("MD5 值");
const QString kVersion = QStringLiteral("文件版本");

QString DigestOf(const QString &File)
{
    QString digest;
    TMD5::HashFile(File, digest);
    return digest;
}

bool SameFile(const QString &A, const QString &B)
{
    struct stat a = {}, b = {};
    return ::stat(QFile::encodeName(A).constData(), &a) == 0 && ::stat(QFile::encodeName(B).constData(), &b) == 0 &&
        a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Waits until the process runs `File` (whatever path it runs it under).
bool Runs(qint64 Pid, const QString &File)
{
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (SameFile(QStringLiteral("/proc/%1/exe").arg(Pid), File))
            return true;
        QThread::msleep(10);
    }
    return false;
}

// Not ended (a zombie has ended).
bool Alive(qint64 Pid)
{
    ProcStat st;
    return platform::processes::ReadStat(qint32(Pid), st) && !st.IsZombie();
}

// Waits while the process's standard input stays open: a program that runs until it is ended.
const QString kWaiter = QStringLiteral("/usr/bin/tac");

class ImageFacts : public FormTest
{
protected:
    void TearDown() override
    {
        for (QProcess *p : {&user, &mine}) {
            p->kill();
            p->waitForFinished(5000);
        }
        FormTest::TearDown();
        dtest::WaitForDigests();
    }
    // The other user's process; false when it did not start.
    bool StartAsOtherUser(const QStringList &Argv)
    {
        user.start(QStringLiteral("/usr/bin/setpriv"), tvtest::asOtherUser(Argv));
        return user.waitForStarted(10000);
    }
    // The other user's copy of the waiter at `Copy`, run under `Path` in namespaces of its own.
    bool StartCopyUnderPath(const QString &Copy, const QString &Path)
    {
        return tvtest::SharedDir::copyOwned(kWaiter, Copy) &&
            StartAsOtherUser({QStringLiteral("/usr/bin/unshare"), QStringLiteral("-Urm"), QStringLiteral("/bin/sh"),
                              QStringLiteral("-c"), QStringLiteral("mount --bind \"$0\" %1 && exec %1").arg(Path),
                              Copy}) &&
            Runs(user.processId(), Copy);
    }
    // Why the other user cannot act here (in namespaces of its own, with `Namespaces`); empty
    // when it can.
    static QString Unusable(const tvtest::SharedDir &Base, bool Namespaces)
    {
        if (const QString why = tvtest::otherUserUnavailable(); !why.isEmpty())
            return why;
        if (const QString why = Base.unusable(); !why.isEmpty())
            return why;
        if (Namespaces &&
            !tvtest::runAsOtherUser(
                {QStringLiteral("/usr/bin/unshare"), QStringLiteral("-Urm"), QStringLiteral("/usr/bin/true")}))
            return QStringLiteral("the other user cannot make a user and mount namespace here");
        return QString();
    }
    void Show(quint32 Pid)
    {
        Tick();
        Select({Pid});
        form->ProcessPage->lvProcessesClick(List());
        EXPECT_TRUE(Settle());
    }
    TProcessItem *Item(quint32 Pid) const { return form->ProcessPage->objProcesses->ItemByPID(Pid); }
    QString Value(const QString &Label) const { return dtest::LineValue(form->Details->redtDetails, Label); }

    QProcess user, mine;
};

} // namespace

TEST_F(ImageFacts, SystemFileBoundOverAUsersProgramInItsOwnNamespace)
{
    tvtest::SharedDir base;
    if (const QString why = Unusable(base, true); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    // The user's harmless-looking program; in the user's namespace a system program lies over it.
    const QString program = base.user() + QStringLiteral("/tool");
    ASSERT_TRUE(tvtest::SharedDir::copyOwned(QStringLiteral("/usr/bin/true"), program));
    ASSERT_TRUE(StartAsOtherUser({QStringLiteral("/usr/bin/unshare"), QStringLiteral("-Urm"), QStringLiteral("/bin/sh"),
                                  QStringLiteral("-c"),
                                  QStringLiteral("mount --bind %1 \"$0\" && exec \"$0\"").arg(kWaiter), program}));
    mine.start(kWaiter, {});
    ASSERT_TRUE(mine.waitForStarted(5000));
    ASSERT_TRUE(Runs(user.processId(), kWaiter));
    const quint32 pid = quint32(user.processId());
    Create(true);
    Show(pid);
    ASSERT_TRUE(dtest::WaitForDigests());
    EXPECT_EQ(Value(kDigest), DigestOf(kWaiter)) << "the digest of the file the process runs";
    EXPECT_EQ(Value(kVersion), QString()) << "no package: the path names another file here";

    TProcessItem *item = Item(pid);
    ASSERT_NE(item, nullptr);
    EXPECT_FALSE(item->TerminateAndDelete());
    EXPECT_TRUE(Alive(mine.processId())) << "root's process of the same file lives on";
    EXPECT_TRUE(Alive(user.processId())) << "refused before anything ended";
    EXPECT_TRUE(QFileInfo::exists(kWaiter));
    EXPECT_TRUE(QFileInfo::exists(program));
}

TEST_F(ImageFacts, UsersCopyRunUnderThePathOfASystemProgram)
{
    const QString system = QStringLiteral("/usr/bin/dbus-daemon");
    if (!QFileInfo::exists(system))
        GTEST_SKIP() << "no dbus-daemon, whose path counts as a critical process's";
    tvtest::SharedDir base;
    if (const QString why = Unusable(base, true); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    const QString copy = base.user() + QStringLiteral("/copy");
    ASSERT_TRUE(StartCopyUnderPath(copy, system));
    const quint32 pid = quint32(user.processId());
    Create(true);
    Show(pid);
    ASSERT_TRUE(dtest::WaitForDigests());
    EXPECT_EQ(Value(kDigest), DigestOf(copy));
    EXPECT_NE(Value(kDigest), DigestOf(system));
    EXPECT_EQ(Value(kVersion), QString()) << "not the version of the system program's package";

    // Asked like any process's end, not refused as a critical one.
    answers = {4};
    form->ProcessPage->btnTerminateProcessClick(form->ProcessPage->btnTerminateProcess);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Title, QStringLiteral("警告")) << shown[0].Text.toStdString();

    TProcessItem *item = Item(pid);
    ASSERT_NE(item, nullptr);
    EXPECT_FALSE(item->TerminateAndDelete());
    EXPECT_TRUE(Alive(user.processId()));
    EXPECT_TRUE(QFileInfo::exists(copy));
    EXPECT_TRUE(QFileInfo::exists(system));
}

TEST_F(ImageFacts, PathReplacedByALinkToARootOnlyFileAfterTheStart)
{
    tvtest::SharedDir base;
    if (const QString why = Unusable(base, false); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    const QString secretDir = base.file(QStringLiteral("secret"));
    const QString secret = secretDir + QStringLiteral("/file");
    ASSERT_TRUE(QDir().mkpath(secretDir));
    ASSERT_EQ(::chmod(QFile::encodeName(secretDir).constData(), 0700), 0);
    QFile s(secret);
    ASSERT_TRUE(s.open(QIODevice::WriteOnly));
    s.write("root only\n");
    s.close();
    const QString program = base.user() + QStringLiteral("/prog");
    ASSERT_TRUE(tvtest::SharedDir::copyOwned(kWaiter, program));
    ASSERT_TRUE(StartAsOtherUser({program}));
    ASSERT_TRUE(Runs(user.processId(), program));
    // The program and the name the kernel gives it once deleted both lead to the root-only file.
    ASSERT_TRUE(tvtest::runAsOtherUser({QStringLiteral("/usr/bin/ln"), QStringLiteral("-sfn"), secret, program}));
    ASSERT_TRUE(tvtest::runAsOtherUser(
        {QStringLiteral("/usr/bin/ln"), QStringLiteral("-sfn"), secret, program + QStringLiteral(" (deleted)")}));
    Create(true);
    Show(quint32(user.processId()));
    ASSERT_TRUE(dtest::WaitForDigests());
    EXPECT_EQ(Value(kDigest), DigestOf(kWaiter)) << "the digest of the image the process runs";
    EXPECT_NE(Value(kDigest), DigestOf(secret));
}

TEST_F(ImageFacts, HugeProgramIsHashedOffTheWindowsThread)
{
    tvtest::TempDir dir;
    const QString big = dir.file(QStringLiteral("big"));
    const QString small = dir.file(QStringLiteral("small"));
    ASSERT_TRUE(QFile::copy(kWaiter, big));
    ASSERT_TRUE(QFile::copy(kWaiter, small));
    {
        // Runs as before: only holes follow the program.
        QFile f(big);
        ASSERT_TRUE(f.resize(qint64(1) << 30));
    }
    ASSERT_TRUE(QFile::setPermissions(big, QFile::permissions(big) | QFile::ExeOwner));
    user.start(big, {});
    mine.start(small, {});
    ASSERT_TRUE(user.waitForStarted(5000));
    ASSERT_TRUE(mine.waitForStarted(5000));
    ASSERT_TRUE(Runs(user.processId(), big));
    ASSERT_TRUE(Runs(mine.processId(), small));
    QProcess sum;
    sum.start(QStringLiteral("/usr/bin/md5sum"), {big});

    Create(true);
    const quint32 pid = quint32(user.processId());
    Show(pid);
    ASSERT_TRUE(form->Details->pnlDetails->isVisible());
    bool handled = false;
    QTimer::singleShot(0, form.get(), [&] { handled = true; });
    QCoreApplication::processEvents();
    EXPECT_TRUE(handled) << "the window handles what is posted to it at once";
    EXPECT_EQ(Value(kDigest), QString()) << "the digest is still being computed";
    EXPECT_EQ(Value(QStringLiteral("进程 ID")), QString::number(pid)) << "every other line is there";
    EXPECT_FALSE(Value(QStringLiteral("进程描述")).isNull());
    ASSERT_TRUE(dtest::WaitForDigests());
    sum.waitForFinished(120000);
    ASSERT_EQ(sum.state(), QProcess::NotRunning);
    const QString expected = QString::fromLatin1(sum.readAllStandardOutput().left(32)).toUpper();
    EXPECT_EQ(Value(kDigest), expected);

    // Another selection drops the digest under way: only the new process's digest is shown.
    Show(pid);
    Show(quint32(mine.processId()));
    ASSERT_TRUE(dtest::WaitForDigests());
    EXPECT_EQ(Value(kDigest), DigestOf(small));
    // A window that closes while its panel waits for a digest does not wait for it.
    Show(pid);
    form.reset();
    EXPECT_TRUE(dtest::WaitForDigests());
}

TEST_F(ImageFacts, LongCommandLineIsShownCutAtOnce)
{
    // 384 KiB without a place to break a line; the kernel takes no word above 128 KiB.
    QStringList args{QStringLiteral("-c"), QStringLiteral("read line"), QStringLiteral("sh")};
    for (int i = 0; i < 4; ++i)
        args << QString(96 * 1024, QLatin1Char('x'));
    mine.start(QStringLiteral("/bin/sh"), args);
    ASSERT_TRUE(mine.waitForStarted(5000));
    const quint32 first = Spawn().pid;
    Create(true);
    Show(first); // what a first fill costs once (fonts, the package database) is not measured
    QElapsedTimer t;
    t.start();
    Show(quint32(mine.processId()));
    bool handled = false;
    QTimer::singleShot(0, form.get(), [&] { handled = true; });
    while (!handled && t.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_LT(t.elapsed(), 1000) << "the window handles what is posted to it within a second";
    const QString line = Value(QStringLiteral("命令行"));
    EXPECT_TRUE(line.startsWith(QStringLiteral("/bin/sh -c \"read line\" sh xxx"))) << line.left(40).toStdString();
    EXPECT_TRUE(line.endsWith(QString::fromUtf16(u"xxx…[已截断]")));
    EXPECT_LE(line.size(), kVisibleTextLimit + 10);
}

TEST_F(ImageFacts, APathThatIsNotTheFileRunSaysNothingOfTheProcess)
{
    const QString journal = QStringLiteral("/usr/lib/systemd/systemd-journald");
    if (!QFileInfo::exists(journal))
        GTEST_SKIP() << "no systemd-journald, whose path counts as a critical process's";
    tvtest::TempDir dir;
    const QString image = dir.file(QStringLiteral("image"));
    QFile f(image);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("abc");
    f.close();
    // A process of the test that names the journal's path but runs a file of its own.
    Child &c = Spawn();
    source.procs.push_back(c.proc(QStringLiteral("journal"), journal));
    source.procs.back().image = image;
    Child &same = Spawn();
    source.procs.push_back(same.proc(QStringLiteral("sleeper")));
    Create();
    Show(c.pid);
    ASSERT_TRUE(dtest::WaitForDigests());
    EXPECT_EQ(Value(kDigest), QStringLiteral("900150983CD24FB0D6963F7D28E17F72"));
    EXPECT_EQ(Item(c.pid)->ImagePath(), QString());
    EXPECT_EQ(Item(c.pid)->IconIndex, -1) << "no icon of what the path names";
    EXPECT_EQ(Item(same.pid)->ImagePath(), QStringLiteral("/usr/bin/sleep"));
    EXPECT_GE(Item(same.pid)->IconIndex, 0);

    answers = {4};
    form->ProcessPage->btnTerminateProcessClick(form->ProcessPage->btnTerminateProcess);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Title, QStringLiteral("警告")) << "asked, not refused as a critical process";
    EXPECT_TRUE(c.running());
}

TEST_F(ImageFacts, CriticalProgramReplacedSinceItsStartIsStillRefused)
{
    const QString system = QStringLiteral("/usr/bin/dbus-daemon");
    tvtest::SharedDir base;
    if (const QString why = Unusable(base, true); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    if (QProcess::execute(QStringLiteral("/usr/bin/unshare"),
                          {QStringLiteral("-m"), QStringLiteral("/usr/bin/true")}) != 0)
        GTEST_SKIP() << "no mount namespace of the test's own here";
    // Root's daemon, started in the test's own mount namespace from a folder that stands for the
    // system's there, then upgraded the way a package is: a new file renamed over the old one.
    const QString bin = base.file(QStringLiteral("bin"));
    ASSERT_TRUE(QDir().mkpath(bin));
    ASSERT_TRUE(QFile::copy(kWaiter, bin + QStringLiteral("/dbus-daemon")));
    mine.start(QStringLiteral("/usr/bin/unshare"),
               {QStringLiteral("-m"), QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                QStringLiteral("mount --bind \"$0\" /usr/bin && exec %1").arg(system), bin});
    ASSERT_TRUE(mine.waitForStarted(5000));
    ASSERT_TRUE(Runs(mine.processId(), bin + QStringLiteral("/dbus-daemon")));
    ASSERT_TRUE(QFile::copy(kWaiter, bin + QStringLiteral("/new")));
    ASSERT_EQ(::rename(QFile::encodeName(bin + QStringLiteral("/new")).constData(),
                       QFile::encodeName(bin + QStringLiteral("/dbus-daemon")).constData()),
              0);
    ASSERT_EQ(QFileInfo(QStringLiteral("/proc/%1/exe").arg(mine.processId())).symLinkTarget(),
              system + QStringLiteral(" (deleted)"));
    // Another user's copy under the same path in a namespace of its own, deleted after its start.
    const QString copy = base.user() + QStringLiteral("/copy");
    ASSERT_TRUE(StartCopyUnderPath(copy, system));
    ASSERT_TRUE(QFile::remove(copy));
    Child &plain = Spawn();

    const quint32 daemon = quint32(mine.processId()), posing = quint32(user.processId());
    Create(true);
    Show(daemon);
    form->ProcessPage->btnTerminateProcessClick(form->ProcessPage->btnTerminateProcess);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Title, QStringLiteral("禁止")) << shown[0].Text.toStdString();
    EXPECT_EQ(shown[0].Text,
              uitest::Shows(QStringLiteral("这是关键系统进程，不允许执行该操作！\r\rdbus-daemon [%1]").arg(daemon)));

    shown.clear();
    answers = {4};
    Show(posing);
    form->ProcessPage->btnTerminateProcessClick(form->ProcessPage->btnTerminateProcess);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Title, QStringLiteral("警告")) << "the user's copy is asked about like any process";

    // Among several rows the daemon is passed over, the others end.
    shown.clear();
    answers = {3};
    Select({daemon, posing, plain.pid});
    form->ProcessPage->ExecuteProcessCommand(0);
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_TRUE(plain.waitEnded());
    EXPECT_TRUE(user.waitForFinished(5000));
    EXPECT_TRUE(Alive(mine.processId())) << "the daemon lives on";
}

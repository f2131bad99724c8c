// The optimisation component without a service manager: every service is missing, which is
// what most of the run's services are on Linux.

#include "OptimizationHelpers.h"

#include "common/TempDir.h"
#include "common/UserDirs.h"
#include "platform/files/IniFile.h"
#include "sysinfo/Utils.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

using namespace optitest;

namespace {

const bool kIsolated = (IsolateFromSystemServices(), true);

using Steps = QList<TOptimizationThread::TStep>;

QString StepName(const Steps &S, int Step)
{
    return QString::fromLatin1(S.at(Step - 1).Name);
}

void WriteFile(const QString &Path, const QByteArray &Data)
{
    QFile f(Path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(Data);
}

TOptimizationOptions AllSet()
{
    TOptimizationOptions o;
    for (bool *b : {&o.AutomaticUpdates, &o.SystemRestore, &o.TaskSchedule, &o.WindowsFirewall, &o.CDBurning,
                    &o.RemoteDesktopAssistance, &o.RoutingAndRemoteAccess, &o.WirelessConnection, &o.PrintSpooler,
                    &o.Bluetooth, &o.ImageDevice, &o.SmartCard, &o.UPS})
        *b = true;
    return o;
}

} // namespace

TEST(OptimizationTable, RunHas81StepsInOrderWithFixedRowsLast)
{
    ASSERT_TRUE(kIsolated);
    const Steps clear = TOptimizationThread::OptimizationSteps({});
    const Steps set = TOptimizationThread::OptimizationSteps(AllSet());
    ASSERT_EQ(clear.size(), 81);
    ASSERT_EQ(set.size(), 81);
    for (int i = 1; i <= 15; ++i) {
        EXPECT_EQ(clear.at(i - 1).StartType, TServiceMode::Manual) << i;
        EXPECT_EQ(set.at(i - 1).StartType, TServiceMode::Automatic) << i;
    }
    for (int i = 16; i <= 81; ++i) {
        EXPECT_EQ(clear.at(i - 1).StartType, set.at(i - 1).StartType) << i;
        EXPECT_EQ(StepName(clear, i), StepName(set, i)) << i;
    }
    EXPECT_EQ(StepName(clear, 1), "wuauserv");
    EXPECT_EQ(StepName(clear, 15), "UPS");
    EXPECT_EQ(StepName(clear, 16), "Alerter");
    EXPECT_EQ(clear.at(15).StartType, TServiceMode::Disabled);
    EXPECT_EQ(StepName(clear, 30), "FastUserSwitchingCompatibility");
    EXPECT_EQ(StepName(clear, 69), "TermService");
    EXPECT_EQ(clear.at(68).StartType, TServiceMode::Manual);
    EXPECT_EQ(StepName(clear, 81), "lanmanworkstation");
    EXPECT_EQ(clear.at(80).StartType, TServiceMode::Automatic);
    // The two services of both parts end disabled whatever the flag: their fixed row comes later.
    for (const char *name : {"RDSessMgr", "RemoteAccess"}) {
        int last = -1;
        for (int i = 0; i < 81; ++i)
            if (set.at(i).Name == QByteArray(name))
                last = i;
        ASSERT_GE(last, 15) << name;
        EXPECT_EQ(set.at(last).StartType, TServiceMode::Disabled) << name;
    }
    int counts[5] = {};
    for (const auto &s : clear.mid(15))
        ++counts[int(s.StartType)];
    EXPECT_EQ(counts[2] + counts[3] + counts[4], 66);
    EXPECT_EQ(counts[0] + counts[1], 0);
}

TEST(OptimizationTable, EachFlagGovernsItsOwnServices)
{
    const QStringList governed[13] = {{"wuauserv", "BITS"},
                                      {"srservice"},
                                      {"Schedule"},
                                      {"SharedAccess"},
                                      {"ImapiService"},
                                      {"RDSessMgr"},
                                      {"RemoteAccess"},
                                      {"wzcsvc"},
                                      {"Spooler"},
                                      {"BthServ"},
                                      {"stisvc"},
                                      {"SCardSvr", "SCardDrv"},
                                      {"UPS"}};
    const Steps clear = TOptimizationThread::OptimizationSteps({});
    for (int flag = 0; flag < 13; ++flag) {
        TOptimizationOptions o;
        bool *flags[] = {&o.AutomaticUpdates,
                         &o.SystemRestore,
                         &o.TaskSchedule,
                         &o.WindowsFirewall,
                         &o.CDBurning,
                         &o.RemoteDesktopAssistance,
                         &o.RoutingAndRemoteAccess,
                         &o.WirelessConnection,
                         &o.PrintSpooler,
                         &o.Bluetooth,
                         &o.ImageDevice,
                         &o.SmartCard,
                         &o.UPS};
        *flags[flag] = true;
        const Steps one = TOptimizationThread::OptimizationSteps(o);
        QStringList changed;
        for (int i = 0; i < 81; ++i)
            if (one.at(i).StartType != clear.at(i).StartType) {
                EXPECT_LT(i, 15);
                EXPECT_EQ(one.at(i).StartType, TServiceMode::Automatic);
                changed << QString::fromLatin1(one.at(i).Name);
            }
        EXPECT_EQ(changed, governed[flag]) << flag;
    }
}

class OptimizationJob : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        opt = std::make_unique<TOptimization>(nullptr, home.DataDir());
        rec.Attach(*opt);
    }

    tvtest::TempDir dir;
    tvtest::PrivateHome home{dir.path()};
    std::unique_ptr<TOptimization> opt;
    Recorder rec;
};

TEST_F(OptimizationJob, OptimizeReportsEveryStepOnTheOwnersThread)
{
    int ended = 0;
    QObject::connect(opt.get(), &TOptimization::JobEnded, [&ended] { ++ended; });
    const TOptimizationOptions o = AllSet();
    opt->Optimize(o);
    EXPECT_TRUE(opt->Busy());
    ASSERT_TRUE(WaitIdle(*opt));
    const Steps steps = TOptimizationThread::OptimizationSteps(o);
    ASSERT_EQ(rec.Events.size(), 81u);
    for (quint32 i = 0; i < 81; ++i) {
        const Event &e = rec.Events[i];
        EXPECT_EQ(e.Kind, 'O');
        EXPECT_EQ(e.Current, i + 1);
        EXPECT_EQ(e.Total, 81u);
        // A missing service still gets its event, with the start type that was to be applied.
        EXPECT_EQ(e.Name, QString::fromLatin1(steps.at(i).Name));
        EXPECT_EQ(e.Mode, quint8(steps.at(i).StartType));
        EXPECT_TRUE(e.OnMainThread);
        EXPECT_TRUE(e.BusyDuringEvent);
    }
    EXPECT_FALSE(opt->Busy());
    EXPECT_TRUE(ProcessUntil([&] { return ended == 1; }));
}

TEST_F(OptimizationJob, SecondRequestWhileRunningIsRefusedSilently)
{
    const QString restoreFile = dir.file("restore.dat");
    WriteFile(restoreFile, "[ServicesBackup]\nalpha=3\n");
    int tries = 0;
    rec.During = [&](const Event &e) {
        if (e.Current != 1)
            return;
        ++tries;
        opt->Optimize({});
        opt->Backup(dir.file("b/backup.dat"));
        opt->Restore(restoreFile);
    };
    opt->Optimize({});
    // Requested at once, before the worker could have begun: still refused.
    opt->Restore(restoreFile);
    ASSERT_TRUE(WaitIdle(*opt));
    EXPECT_EQ(tries, 1);
    ASSERT_EQ(rec.Events.size(), 81u);
    for (const Event &e : rec.Events)
        EXPECT_EQ(e.Kind, 'O');
    // The refused backup's directory may exist, its file does not.
    EXPECT_FALSE(QFileInfo::exists(dir.file("b/backup.dat")));

    // Once idle, the component takes jobs again.
    rec.Events.clear();
    rec.During = nullptr;
    opt->Restore(restoreFile);
    ASSERT_TRUE(WaitIdle(*opt));
    ASSERT_EQ(rec.Events.size(), 1u);
    EXPECT_EQ(rec.Events[0].Kind, 'R');
}

TEST_F(OptimizationJob, RestoreTreatsEveryValueButManualAndDisabledAsAutomatic)
{
    const QString file = dir.file("restore.dat");
    WriteFile(file,
              "[Other]\nzeta=4\n"
              "[ServicesBackup]\n"
              "a=0\nb=1\nc=2\nd=3\ne=4\nf=5\ng=abc\nh=259\ni=-1\nj=\nk=0x3\nA=4\n"
              "[More]\nomega=3\n");
    opt->Restore(file);
    ASSERT_TRUE(WaitIdle(*opt));
    const QStringList names = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"};
    const quint8 modes[] = {2, 2, 2, 3, 4, 2, 2, 2, 2, 2, 3};
    ASSERT_EQ(rec.Events.size(), std::size_t(names.size()));
    for (int i = 0; i < names.size(); ++i) {
        const Event &e = rec.Events[std::size_t(i)];
        EXPECT_EQ(e.Kind, 'R');
        EXPECT_EQ(e.Current, quint32(i + 1));
        EXPECT_EQ(e.Total, quint32(names.size()));
        EXPECT_EQ(e.Name, names[i]);
        EXPECT_EQ(e.Mode, modes[i]) << names[i].toStdString();
        EXPECT_TRUE(e.OnMainThread);
    }
}

TEST_F(OptimizationJob, RestoreRefusalsAndDefaultFile)
{
    // A missing file, a directory and an empty default: nothing starts.
    opt->SetBackupDir(dir.file("Backup"));
    opt->Restore(dir.file("missing.dat"));
    EXPECT_FALSE(opt->Busy());
    opt->Restore(dir.path());
    EXPECT_FALSE(opt->Busy());
    opt->Restore(QString());
    EXPECT_FALSE(opt->Busy());
    ASSERT_TRUE(WaitIdle(*opt));
    EXPECT_TRUE(rec.Events.empty());

    // An empty name means the default file.
    EXPECT_EQ(opt->GetDefaultBackupFile(), dir.file("Backup/opti_services.dat"));
    QDir().mkpath(dir.file("Backup"));
    WriteFile(opt->GetDefaultBackupFile(), "[ServicesBackup]\nSpooler=4\n");
    opt->Restore(QString());
    ASSERT_TRUE(WaitIdle(*opt));
    ASSERT_EQ(rec.Events.size(), 1u);
    EXPECT_EQ(rec.Events[0].Name, "Spooler");
    EXPECT_EQ(rec.Events[0].Mode, 4);

    // A file without the section, or with garbage, ends the job quietly and frees the component.
    rec.Events.clear();
    QByteArray junk(5000, '\0');
    for (int i = 0; i < junk.size(); ++i)
        junk[i] = char((i * 37) & 0xFF);
    WriteFile(dir.file("junk.dat"), junk);
    int ended = 0;
    QObject::connect(opt.get(), &TOptimization::JobEnded, [&ended] { ++ended; });
    opt->Restore(dir.file("junk.dat"));
    ASSERT_TRUE(WaitIdle(*opt));
    EXPECT_TRUE(ProcessUntil([&] { return ended == 1; }));
    EXPECT_TRUE(rec.Events.empty());
    EXPECT_FALSE(opt->Busy());
}

TEST_F(OptimizationJob, DefaultBackupFileLiesInTheUsersDataDirectory)
{
    EXPECT_EQ(opt->GetDefaultBackupFile(), home.DataDir() + "Backup/opti_services.dat");
    // Its folders are made on the first backup, for the user's eyes only.
    opt->Backup(QString());
    ASSERT_TRUE(WaitIdle(*opt));
    for (const QString &folder : {home.DataDir(), home.DataDir() + "Backup"}) {
        EXPECT_TRUE(QFileInfo(folder).isDir()) << folder.toStdString();
        EXPECT_EQ(tvtest::FileMode(folder), 0700) << folder.toStdString();
    }

    // Without a data directory there is no default file: nothing is backed up or restored.
    TOptimization none;
    EXPECT_TRUE(none.GetDefaultBackupFile().isEmpty());
    none.Backup(QString());
    none.Restore(QString());
    EXPECT_FALSE(none.Busy());
}

TEST_F(OptimizationJob, ABackupFolderOfAnotherUserIsNeitherReadNorWritten)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a folder to another user";
    constexpr uid_t other = 4202;
    // Their Backup/, open to all, with start types they chose for the user's services.
    const QString backup = home.DataDir() + "Backup";
    ASSERT_TRUE(QDir().mkpath(backup));
    ASSERT_EQ(::chmod(QFile::encodeName(home.DataDir()).constData(), 0700), 0);
    const QByteArray forged = "[ServicesBackup]\nSpooler=4\n";
    WriteFile(opt->GetDefaultBackupFile(), forged);
    for (const QString &p : {backup, opt->GetDefaultBackupFile()})
        ASSERT_EQ(::chown(QFile::encodeName(p).constData(), other, other), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(backup).constData(), 0777), 0);

    bool succeeded = true;
    int ended = 0;
    QObject::connect(opt.get(), &TOptimization::JobEnded, [&](quint8, bool ok) {
        succeeded = ok;
        ++ended;
    });
    opt->Restore(QString());
    ASSERT_TRUE(WaitIdle(*opt));
    EXPECT_TRUE(ProcessUntil([&] { return ended == 1; }));
    EXPECT_FALSE(succeeded);
    EXPECT_TRUE(rec.Events.empty());
    EXPECT_FALSE(opt->Backup(QString()));
    EXPECT_EQ(QDir(backup).entryList(QDir::Files | QDir::Hidden), QStringList{"opti_services.dat"});
}

TEST_F(OptimizationJob, BackupNeedsADirectoryItCanUse)
{
    // No directory part: refused.
    opt->Backup(QStringLiteral("opti_services.dat"));
    EXPECT_FALSE(opt->Busy());
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("opti_services.dat")));
    // A file where the directory should be: refused.
    WriteFile(dir.file("plain"), "x");
    opt->Backup(dir.file("plain/sub/b.dat"));
    EXPECT_FALSE(opt->Busy());
    EXPECT_FALSE(EnsureBackupDir(dir.file("plain/sub/b.dat")));
    EXPECT_FALSE(EnsureBackupDir(QStringLiteral("b.dat")));
    EXPECT_TRUE(EnsureBackupDir(dir.file("x/y/z/b.dat")));
    EXPECT_TRUE(QFileInfo(dir.file("x/y/z")).isDir());

    // Missing parents are created; without any service the job ends without touching the file.
    opt->SetBackupDir(dir.file("deep/Backup"));
    opt->Backup(QString());
    ASSERT_TRUE(WaitIdle(*opt));
    EXPECT_TRUE(QFileInfo(dir.file("deep/Backup")).isDir());
    EXPECT_FALSE(QFileInfo::exists(dir.file("deep/Backup/opti_services.dat")));
    EXPECT_TRUE(rec.Events.empty());
}

TEST(OptimizationLifetime, DestroyingTheComponentDuringAJobNeitherHangsNorFires)
{
    auto opt = std::make_unique<TOptimization>();
    int fired = 0;
    auto count = [&fired](QObject *, quint32, quint32, const QString &, TServiceMode) { ++fired; };
    opt->OnOptimizingServices = count;
    opt->Optimize({});
    // No event is run here: the worker waits for its first one when the component goes.
    QThread::msleep(50);
    QElapsedTimer t;
    t.start();
    opt.reset();
    EXPECT_LT(t.elapsed(), 10000);
    QCoreApplication::processEvents();
    EXPECT_EQ(fired, 0);
}

TEST(OptimizationLifetime, DestroyingInsideAnEventHandlerIsSafe)
{
    // The owner goes away while an event of its own runs (a form closed from a handler).
    auto *opt = new TOptimization;
    int fired = 0;
    opt->OnOptimizingServices = [&](QObject *, quint32 Cur, quint32, const QString &, TServiceMode) {
        ++fired;
        if (Cur == 3)
            opt->deleteLater();
    };
    QPointer<TOptimization> guard(opt);
    opt->Optimize({});
    QDeadlineTimer deadline(20000);
    while (guard && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(guard.isNull());
    EXPECT_GE(fired, 3);
    EXPECT_LE(fired, 4);
}

TEST_F(OptimizationJob, JobsWithoutTheServiceManagerEndAsFailed)
{
    // No manager on the bus: nothing was backed up, optimised or restored, and the component
    // says so instead of ending the way a finished job ends.
    std::vector<std::pair<quint8, bool>> ends;
    QObject::connect(opt.get(), &TOptimization::JobEnded, opt.get(),
                     [&](quint8 Mode, bool Succeeded) { ends.emplace_back(Mode, Succeeded); });
    opt->SetBackupDir(dir.file("Backup"));
    opt->Backup(QString());
    ASSERT_TRUE(WaitIdle(*opt));
    ASSERT_TRUE(ProcessUntil([&] { return ends.size() == 1; }));
    EXPECT_EQ(ends[0], std::make_pair(quint8(TOptimizationThread::omBackup), false));
    EXPECT_FALSE(QFileInfo::exists(opt->GetDefaultBackupFile()));
    EXPECT_TRUE(rec.Events.empty());

    opt->Optimize({});
    ASSERT_TRUE(WaitIdle(*opt));
    ASSERT_TRUE(ProcessUntil([&] { return ends.size() == 2; }));
    EXPECT_EQ(ends[1], std::make_pair(quint8(TOptimizationThread::omOptimize), false));
    EXPECT_EQ(rec.Events.size(), 81u);

    WriteFile(dir.file("r.dat"), "[ServicesBackup]\nalpha=3\n");
    opt->Restore(dir.file("r.dat"));
    ASSERT_TRUE(WaitIdle(*opt));
    ASSERT_TRUE(ProcessUntil([&] { return ends.size() == 3; }));
    EXPECT_EQ(ends[2], std::make_pair(quint8(TOptimizationThread::omRestore), false));

    // A backup file that cannot be read is a failure too.
    QDir().mkpath(dir.file("Backup"));
    ASSERT_TRUE(QDir().mkpath(dir.file("Backup/opti_services.dat")));
    opt->Backup(QString());
    ASSERT_TRUE(WaitIdle(*opt));
    ASSERT_TRUE(ProcessUntil([&] { return ends.size() == 4; }));
    EXPECT_FALSE(ends[3].second);
}

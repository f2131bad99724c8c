// The optimisation jobs against a scripted service manager on a private bus.

#include "OptimizationHelpers.h"

#include "common/TempDir.h"
#include "common/UserDirs.h"
#include "platform/files/IniFile.h"
#include "platform_services/FakeSystemd.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <memory>

using namespace optitest;
using platform::files::IniFile;

namespace {

QString FileState(fakesd::Bus &Bus, const QString &Name)
{
    auto u = Bus.manager.unit(Name);
    return u ? u->unitFileState : QStringLiteral("<none>");
}

QString ActiveState(fakesd::Bus &Bus, const QString &Name)
{
    auto u = Bus.manager.unit(Name);
    return u ? u->activeState : QStringLiteral("<none>");
}

QByteArray ReadAll(const QString &Path)
{
    QFile f(Path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class FakeManagerJob : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { bus = new fakesd::Bus; }
    static void TearDownTestSuite()
    {
        delete bus;
        bus = nullptr;
        // The bus's end unsets the address: no later call may reach the machine's manager.
        IsolateFromSystemServices();
    }

    void SetUp() override
    {
        ASSERT_TRUE(bus && bus->ok()) << "no private message bus";
        ASSERT_TRUE(dir.isValid());
        opt = std::make_unique<TOptimization>(nullptr, userHome.DataDir());
        rec.Attach(*opt);
        bus->manager.clearCalls();
    }
    void TearDown() override { opt.reset(); }

    static fakesd::Bus *bus;
    tvtest::TempDir dir;
    tvtest::OwnHome userHome;
    std::unique_ptr<TOptimization> opt;
    Recorder rec;
};

fakesd::Bus *FakeManagerJob::bus = nullptr;

TEST_F(FakeManagerJob, OptimizeWithAllFlagsClearSetsManualAndStops)
{
    bus->manager.setUnits({
        fakesd::Service("Spooler", "active", "enabled"),     // step 10, flag clear: manual, stopped
        fakesd::Service("wuauserv", "active", "enabled"),    // step 1
        fakesd::Service("RDSessMgr", "active", "enabled"),   // steps 7 and 54: ends disabled
        fakesd::Service("Alerter", "active", "enabled"),     // fixed 4
        fakesd::Service("Themes", "inactive", "disabled"),   // fixed 2: automatic and started
        fakesd::Service("TermService", "active", "enabled"), // fixed 3
        fakesd::Service("unrelated", "active", "enabled"),
    });
    opt->Optimize({});
    ASSERT_TRUE(WaitIdle(*opt));
    ASSERT_EQ(rec.Events.size(), 81u);
    EXPECT_EQ(FileState(*bus, "Spooler"), "disabled");
    EXPECT_EQ(ActiveState(*bus, "Spooler"), "inactive");
    EXPECT_EQ(FileState(*bus, "wuauserv"), "disabled");
    EXPECT_EQ(ActiveState(*bus, "wuauserv"), "inactive");
    EXPECT_EQ(FileState(*bus, "RDSessMgr"), "masked");
    EXPECT_EQ(ActiveState(*bus, "RDSessMgr"), "inactive");
    EXPECT_EQ(FileState(*bus, "Alerter"), "masked");
    EXPECT_EQ(ActiveState(*bus, "Alerter"), "inactive");
    EXPECT_EQ(FileState(*bus, "Themes"), "enabled");
    EXPECT_EQ(ActiveState(*bus, "Themes"), "active");
    EXPECT_EQ(FileState(*bus, "TermService"), "disabled");
    EXPECT_EQ(ActiveState(*bus, "TermService"), "inactive");
    // A service outside the run is never asked about.
    EXPECT_EQ(FileState(*bus, "unrelated"), "enabled");
    EXPECT_EQ(ActiveState(*bus, "unrelated"), "active");
    for (const QString &c : bus->manager.calls())
        EXPECT_FALSE(c.contains("unrelated")) << c.toStdString();
}

TEST_F(FakeManagerJob, OptimizeWithAllFlagsSetKeepsFeaturesRunning)
{
    bus->manager.setUnits({
        fakesd::Service("Spooler", "inactive", "disabled"), fakesd::Service("SCardDrv", "inactive", "masked"),
        fakesd::Service("RemoteAccess", "inactive", "disabled"), // its fixed row disables it again
    });
    TOptimizationOptions o;
    o.PrintSpooler = o.SmartCard = o.RoutingAndRemoteAccess = true;
    opt->Optimize(o);
    ASSERT_TRUE(WaitIdle(*opt));
    ASSERT_EQ(rec.Events.size(), 81u);
    EXPECT_EQ(FileState(*bus, "Spooler"), "enabled");
    EXPECT_EQ(ActiveState(*bus, "Spooler"), "active");
    EXPECT_EQ(FileState(*bus, "SCardDrv"), "enabled");
    EXPECT_EQ(ActiveState(*bus, "SCardDrv"), "active");
    EXPECT_EQ(FileState(*bus, "RemoteAccess"), "masked");
    EXPECT_EQ(ActiveState(*bus, "RemoteAccess"), "inactive");
    const auto it =
        std::find_if(rec.Events.begin(), rec.Events.end(), [](const Event &e) { return e.Name == "Spooler"; });
    ASSERT_NE(it, rec.Events.end());
    EXPECT_EQ(it->Mode, 2);
}

TEST_F(FakeManagerJob, BackupWritesEveryServiceAndKeepsOtherKeys)
{
    bus->manager.setUnits({
        fakesd::Service("alpha", "active", "enabled"),
        fakesd::Service("beta", "inactive", "disabled"),
        fakesd::Service("gamma", "inactive", "masked"),
    });
    const QString file = dir.file("Backup/opti_services.dat");
    QDir().mkpath(dir.file("Backup"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("; kept\n[ServicesBackup]\nALPHA=4\nretired=3\n[Other]\nx=1\n");
    }
    QByteArray atLastEvent;
    rec.During = [&](const Event &e) {
        if (e.Current == e.Total)
            atLastEvent = ReadAll(file);
    };
    opt->SetBackupDir(dir.file("Backup"));
    opt->Backup(QString());
    ASSERT_TRUE(WaitIdle(*opt));

    IniFile ini;
    ASSERT_TRUE(ini.Load(file));
    EXPECT_EQ(ini.IntValue("ServicesBackup", "alpha", -1), 2);
    EXPECT_EQ(ini.IntValue("ServicesBackup", "beta", -1), 3);
    EXPECT_EQ(ini.IntValue("ServicesBackup", "gamma", -1), 4);
    EXPECT_EQ(ini.IntValue("ServicesBackup", "retired", -1), 3);
    EXPECT_EQ(ini.IntValue("Other", "x", -1), 1);
    // The file is whole by the time the last service is reported.
    EXPECT_EQ(atLastEvent, ReadAll(file));

    // Every listed service once, in list order, with its start type.
    std::vector<Event> backups;
    for (const Event &e : rec.Events)
        if (e.Kind == 'B')
            backups.push_back(e);
    ASSERT_EQ(backups.size(), rec.Events.size());
    ASSERT_GE(backups.size(), 3u);
    QStringList names;
    for (std::size_t i = 0; i < backups.size(); ++i) {
        EXPECT_EQ(backups[i].Current, quint32(i + 1));
        EXPECT_EQ(backups[i].Total, quint32(backups.size()));
        EXPECT_TRUE(backups[i].OnMainThread);
        names << backups[i].Name;
        EXPECT_EQ(ini.IntValue("ServicesBackup", backups[i].Name, -1), backups[i].Mode);
    }
    EXPECT_EQ(names.mid(0, 3), (QStringList{"alpha", "beta", "gamma"}));
    // A backup only reads.
    for (const QString &c : bus->manager.calls())
        EXPECT_FALSE(c.startsWith("Start") || c.startsWith("Stop") || c.startsWith("Enable") ||
                     c.startsWith("Disable") || c.startsWith("Mask") || c.startsWith("Unmask"))
            << c.toStdString();
}

TEST_F(FakeManagerJob, RestoreAppliesTheFileAndStartsAutomaticServices)
{
    bus->manager.setUnits({
        fakesd::Service("alpha", "inactive", "disabled"), // 5: automatic, started
        fakesd::Service("beta", "active", "enabled"),     // 4: disabled, stopped
        fakesd::Service("gamma", "active", "enabled"),    // 3: manual, stopped
        fakesd::Service("delta", "inactive", "masked"),   // text: automatic, started
    });
    const QString file = dir.file("r.dat");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[ServicesBackup]\nalpha=5\nbeta=4\ngamma=3\ndelta=auto\nmissing=2\n");
    }
    opt->Restore(file);
    ASSERT_TRUE(WaitIdle(*opt));
    ASSERT_EQ(rec.Events.size(), 5u);
    EXPECT_EQ(FileState(*bus, "alpha"), "enabled");
    EXPECT_EQ(ActiveState(*bus, "alpha"), "active");
    EXPECT_EQ(FileState(*bus, "beta"), "masked");
    EXPECT_EQ(ActiveState(*bus, "beta"), "inactive");
    EXPECT_EQ(FileState(*bus, "gamma"), "disabled");
    EXPECT_EQ(ActiveState(*bus, "gamma"), "inactive");
    EXPECT_EQ(FileState(*bus, "delta"), "enabled");
    EXPECT_EQ(ActiveState(*bus, "delta"), "active");
    // A service that does not exist still has its event, with the type that was to be applied.
    EXPECT_EQ(rec.Events[4].Name, "missing");
    EXPECT_EQ(rec.Events[4].Mode, 2);
    EXPECT_EQ(rec.Events[4].Current, 5u);
}

TEST_F(FakeManagerJob, BackupLeavesOutUnitsWhoseStartTypeIsFixed)
{
    // Static, generated and indirect units report "manual" without being it: a backup of that
    // made a later restore stop the message bus, the journal and the device manager.
    auto fixed = [](const char *Name, const char *FileState) {
        auto u = fakesd::Service(Name, "active", FileState);
        u.installable = false;
        return u;
    };
    bus->manager.setUnits({fakesd::Service("alpha", "active", "enabled"), fixed("dbus", "static"),
                           fixed("fstab-mount", "generated"), fixed("helper", "indirect"),
                           fakesd::Service("beta", "inactive", "masked")});
    int ended = 0;
    bool succeeded = false;
    QObject::connect(opt.get(), &TOptimization::JobEnded, opt.get(), [&](quint8 Mode, bool Ok) {
        EXPECT_EQ(Mode, TOptimizationThread::omBackup);
        succeeded = Ok;
        ++ended;
    });
    opt->SetBackupDir(dir.file("Backup"));
    opt->Backup(QString());
    ASSERT_TRUE(WaitIdle(*opt));
    ASSERT_TRUE(ProcessUntil([&] { return ended == 1; }));
    EXPECT_TRUE(succeeded);

    IniFile ini;
    ASSERT_TRUE(ini.Load(opt->GetDefaultBackupFile()));
    EXPECT_EQ(ini.KeyNames("ServicesBackup"), (QStringList{"alpha", "beta"}));
    ASSERT_EQ(rec.Events.size(), 2u);
    EXPECT_EQ(rec.Events[1].Total, 2u);
    EXPECT_EQ(rec.Events[1].Name, "beta");
    EXPECT_EQ(rec.Events[1].Mode, 4);
}

TEST_F(FakeManagerJob, RestoreNeverTouchesAUnitWhoseStartTypeIsFixed)
{
    auto bus1 = fakesd::Service("dbus", "active", "static");
    bus1.installable = false;
    auto journal = fakesd::Service("journald", "active", "generated");
    journal.installable = false;
    bus->manager.setUnits({bus1, journal, fakesd::Service("alpha", "active", "enabled")});
    // A backup of an earlier version holds 3 for every such unit.
    const QString file = dir.file("old.dat");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[ServicesBackup]\ndbus=3\njournald=4\nalpha=3\n");
    }
    int ended = 0;
    bool succeeded = false;
    QObject::connect(opt.get(), &TOptimization::JobEnded, opt.get(), [&](quint8, bool Ok) {
        succeeded = Ok;
        ++ended;
    });
    opt->Restore(file);
    ASSERT_TRUE(WaitIdle(*opt));
    ASSERT_TRUE(ProcessUntil([&] { return ended == 1; }));
    EXPECT_TRUE(succeeded);
    EXPECT_EQ(ActiveState(*bus, "dbus"), "active");
    EXPECT_EQ(FileState(*bus, "dbus"), "static");
    EXPECT_EQ(ActiveState(*bus, "journald"), "active");
    EXPECT_EQ(FileState(*bus, "journald"), "generated");
    // A unit whose start type can be set keeps the restore's steps.
    EXPECT_EQ(FileState(*bus, "alpha"), "disabled");
    EXPECT_EQ(ActiveState(*bus, "alpha"), "inactive");
    for (const QString &c : bus->manager.calls())
        EXPECT_FALSE((c.contains("dbus") || c.contains("journald")) &&
                     (c.startsWith("Stop") || c.startsWith("Start") || c.contains("UnitFiles")))
            << c.toStdString();
    // Every key still has its event, with the type the file asked for.
    ASSERT_EQ(rec.Events.size(), 3u);
    EXPECT_EQ(rec.Events[0].Name, "dbus");
    EXPECT_EQ(rec.Events[0].Mode, 3);
    EXPECT_EQ(rec.Events[1].Mode, 4);
}

TEST_F(FakeManagerJob, AStartTypeThatCouldNotBeSetFailsTheJob)
{
    // Enabling is accepted but changes nothing: the unit still reports "disabled".
    auto stubborn = fakesd::Service("alpha", "inactive", "disabled");
    stubborn.installable = false;
    bus->manager.setUnits({stubborn, fakesd::Service("beta", "active", "enabled")});
    const QString file = dir.file("r.dat");
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[ServicesBackup]\nalpha=2\nbeta=4\n");
    }
    int ended = 0;
    bool succeeded = true;
    QObject::connect(opt.get(), &TOptimization::JobEnded, opt.get(), [&](quint8 Mode, bool Ok) {
        EXPECT_EQ(Mode, TOptimizationThread::omRestore);
        succeeded = Ok;
        ++ended;
    });
    opt->Restore(file);
    ASSERT_TRUE(WaitIdle(*opt));
    ASSERT_TRUE(ProcessUntil([&] { return ended == 1; }));
    EXPECT_FALSE(succeeded);
    // The job went on with the others.
    ASSERT_EQ(rec.Events.size(), 2u);
    EXPECT_EQ(FileState(*bus, "beta"), "masked");
}

namespace {

int ThreadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

} // namespace

TEST_F(FakeManagerJob, DestroyingWhileAStepWaitsForTheManagerLeavesTheStepBehind)
{
    // The first step's unit is answered only after seconds (a manager that waits for an
    // authorisation, or does not answer at all).
    fakesd::Unit held = fakesd::Service("wuauserv", "active", "enabled");
    held.answerDelay = 3000;
    bus->manager.setUnits({held});
    const int threadsBefore = ThreadCount();
    opt->Optimize({});
    auto questionHeld = [&] {
        const QStringList calls = bus->manager.calls();
        const qsizetype unit = calls.indexOf(QRegularExpression(QStringLiteral(".*wuauserv.*")));
        return unit >= 0 && calls.indexOf(QRegularExpression(QStringLiteral("^Get.*")), unit + 1) > unit;
    };
    ASSERT_TRUE(ProcessUntil(questionHeld)) << bus->manager.calls().join(QLatin1Char('\n')).toStdString();
    const QStringList asked = bus->manager.calls();
    opt.reset();
    // The step had not gone on when the component was gone.
    EXPECT_EQ(bus->manager.calls(), asked) << "the end waited for the manager's answer";

    // Answered now, the step left behind goes on, tells nothing and ends.
    bus->manager.setUnits({fakesd::Service("wuauserv", "active", "enabled")});
    EXPECT_TRUE(ProcessUntil([&] { return ThreadCount() <= threadsBefore; }));
    EXPECT_FALSE(bus->manager.calls().isEmpty());
    EXPECT_TRUE(rec.Events.empty());
}

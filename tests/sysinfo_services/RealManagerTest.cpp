// The service layer against a real systemd user manager that the test starts in namespaces of
// its own (see RealManager.h), with units the test writes: the same calls the program makes.
// Skipped, with the reason, where the namespaces or the manager cannot be set up.

#include "common/UserDirs.h"
#include "sysinfo_services/ItemFields.h"
#include "sysinfo_services/RealManager.h"

#include "platform/files/IniFile.h"
#include "sysinfo/Optimization.h"
#include "sysinfo/Services.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>
#include <memory>
#include <optional>

namespace {

constexpr quint32 kNoLimit = TServiceHelper::WAIT_INFINITE;

// A suite with a manager of its own, with Many more services than the tests' own units.
template <int Many>
class ManagerSuite : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { manager = new realsd::UserManager(Many); }
    static void TearDownTestSuite()
    {
        delete manager;
        manager = nullptr;
        // No later call of this program may go to the machine's own manager.
        qputenv(platform::services::kBusAddressVariable, "unix:path=/nonexistent/taskvane-no-such-bus");
    }
    void SetUp() override
    {
        if (!manager->skipReason().isEmpty())
            GTEST_SKIP() << "no private systemd user manager: " << manager->skipReason().toStdString();
    }

    static inline realsd::UserManager *manager = nullptr;
};

class RealManager : public ManagerSuite<0>
{
protected:
    void SetUp() override
    {
        ManagerSuite::SetUp();
        if (IsSkipped())
            return;
        // Each test begins with the two units it changes stopped and started on demand only.
        for (const char *name : {"tv-dep", "tv-base"}) {
            ASSERT_TRUE(TServiceHelper::Stop(QLatin1String(name), kNoLimit)) << name;
            ASSERT_TRUE(TServiceHelper::SetStartType(QLatin1String(name), TServiceStartType::Manual)) << name;
        }
    }

    // The unit as the service layer reads it now.
    static std::unique_ptr<TServiceItem> Read(const QString &Name)
    {
        auto item = std::make_unique<TServiceItem>();
        item->Name = Name;
        EXPECT_TRUE(TServiceHelper::ReloadItem(Name, item.get())) << Name.toStdString();
        return item;
    }
    static bool Frozen(const QString &Unit)
    {
        QFile events(manager->unitCgroup(Unit) + QStringLiteral("/cgroup.events"));
        return events.open(QIODevice::ReadOnly) && events.readAll().contains("frozen 1");
    }
    // Runs a job of the component to its end; whether it succeeded.
    static bool RunJob(TOptimization &Opt, const std::function<void()> &Start)
    {
        int ended = 0;
        bool succeeded = false;
        const auto connection = QObject::connect(&Opt, &TOptimization::JobEnded, &Opt, [&](quint8, bool Ok) {
            succeeded = Ok;
            ++ended;
        });
        Start();
        QDeadlineTimer deadline(60000);
        while (ended == 0 && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QObject::disconnect(connection);
        EXPECT_EQ(ended, 1);
        return succeeded;
    }
};

TEST_F(RealManager, ListsServicesWithStatesStartTypesAndDependencies)
{
    // The manager knows who depends on a unit while the dependent is loaded: it runs here.
    ASSERT_TRUE(TServiceHelper::Start("tv-dep", kNoLimit));
    TServices list;
    list.Reload();
    ASSERT_FALSE(list.RefreshFailed());
    for (const char *name : {"dbus", "tv-base", "tv-dep", "tv-static", "tv-indirect", "tv-generated"})
        ASSERT_NE(list.ItemByName(QLatin1String(name)), nullptr) << name;

    const TServiceItem *statics = list.ItemByName("tv-static");
    EXPECT_EQ(statics->DisplayName, "Taskvane test static");
    EXPECT_EQ(statics->State, TServiceState::Running);
    EXPECT_NE(statics->ProcessID, 0u);
    EXPECT_TRUE(statics->BinaryPath.contains("sleep"));
    EXPECT_EQ(statics->Account, "root");
    EXPECT_TRUE(statics->AcceptsStop);
    EXPECT_TRUE(statics->AcceptsPause);
    // Units that report "manual" without their start type being settable.
    for (const char *name : {"tv-static", "tv-indirect", "tv-generated", "dbus"}) {
        EXPECT_EQ(list.ItemByName(QLatin1String(name))->StartType, TServiceStartType::Manual) << name;
        EXPECT_FALSE(list.ItemByName(QLatin1String(name))->StartTypeSettable) << name;
    }
    const TServiceItem *base = list.ItemByName("tv-base");
    EXPECT_EQ(base->StartType, TServiceStartType::Manual);
    EXPECT_TRUE(base->StartTypeSettable);
    EXPECT_TRUE(base->Dependents.contains("tv-dep"));
    EXPECT_TRUE(list.ItemByName("tv-dep")->Dependencies.contains("tv-base"));
}

// A call to the manager itself, as another client would make it; the answer's arguments, or
// nothing with the error's name.
std::optional<QVariantList> AskManager(const QString &Method, const QVariantList &Args)
{
    const QString address = qEnvironmentVariable(platform::services::kBusAddressVariable);
    const QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("taskvane-systemd:") + address);
    QDBusMessage msg = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.systemd1"),
                                                      QStringLiteral("/org/freedesktop/systemd1"),
                                                      QStringLiteral("org.freedesktop.systemd1.Manager"), Method);
    msg.setArguments(Args);
    const QDBusMessage reply = bus.call(msg, QDBus::Block, 10000);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    return reply.arguments();
}

// The services the manager names itself: its loaded service units that have a file, and the
// service unit files it lists that are neither templates nor other names of a unit.
QSet<QString> ManagerOwnServices()
{
    QSet<QString> names;
    const auto units = AskManager(QStringLiteral("ListUnits"), {});
    const auto files = AskManager(QStringLiteral("ListUnitFiles"), {});
    if (!units || !files || units->isEmpty() || files->isEmpty())
        return names;
    const QDBusArgument unitList = units->first().value<QDBusArgument>();
    unitList.beginArray();
    while (!unitList.atEnd()) {
        QString id, description, load, active, sub, following, jobType;
        QDBusObjectPath path, jobPath;
        quint32 job = 0;
        unitList.beginStructure();
        unitList >> id >> description >> load >> active >> sub >> following >> path >> job >> jobType >> jobPath;
        unitList.endStructure();
        if (id.endsWith(".service") && !id.endsWith("@.service") && load != "not-found")
            names.insert(id.chopped(8));
    }
    unitList.endArray();
    const QDBusArgument fileList = files->first().value<QDBusArgument>();
    fileList.beginArray();
    while (!fileList.atEnd()) {
        QString path, state;
        fileList.beginStructure();
        fileList >> path >> state;
        fileList.endStructure();
        const QString id = QFileInfo(path).fileName();
        if (id.endsWith(".service") && !id.endsWith("@.service") && state != "alias")
            names.insert(id.chopped(8));
    }
    fileList.endArray();
    return names;
}

// Every row's name, a name listed twice included.
QStringList RowNames(const TServices &List)
{
    QStringList names;
    for (int i = 0; i < List.GetCount(); ++i)
        names.append(List.GetItem(i)->Name);
    return names;
}

TEST_F(RealManager, UnitFilesNotLoadedAreListedOnceFromTheFirstFolderThatHasThem)
{
    using realsd::UserManager;
    const QByteArray sleep = QFile::encodeName(QStandardPaths::findExecutable("sleep"));
    const QString data = manager->unitDir(), config = manager->configUnitDir();
    // Nothing refers to these: the manager has not loaded them.
    ASSERT_TRUE(
        UserManager::Write(data + "/tv-idle.service",
                           UserManager::Unit("Taskvane test idle", "", "WantedBy=taskvane-test.target", sleep)));
    // The configuration folder comes first in the search path: its file is the unit.
    ASSERT_TRUE(UserManager::Write(config + "/tv-shadow.service",
                                   UserManager::Unit("Taskvane test shadow, first", "", "", sleep)));
    ASSERT_TRUE(UserManager::Write(data + "/tv-shadow.service",
                                   UserManager::Unit("Taskvane test shadow, second", "", "", sleep)));
    ASSERT_TRUE(
        UserManager::Write(data + "/tv-masked.service", UserManager::Unit("Taskvane test masked", "", "", sleep)));
    ASSERT_TRUE(QFile::link("/dev/null", config + "/tv-masked.service"));
    // Another name of a unit, and a template: no services of their own.
    ASSERT_TRUE(QFile::link("tv-idle.service", data + "/tv-other-name.service"));
    ASSERT_TRUE(UserManager::Write(data + "/tv-each@.service", UserManager::Unit("Taskvane test each", "", "", sleep)));
    const QStringList written{data + "/tv-idle.service",     config + "/tv-shadow.service",
                              data + "/tv-shadow.service",   data + "/tv-masked.service",
                              config + "/tv-masked.service", data + "/tv-other-name.service",
                              data + "/tv-each@.service"};
    for (const char *unit : {"tv-idle.service", "tv-shadow.service", "tv-masked.service"})
        ASSERT_FALSE(AskManager("GetUnit", {QLatin1String(unit)})) << unit << " is loaded already";

    TServices list;
    list.Reload();
    ASSERT_FALSE(list.RefreshFailed());
    const QStringList names = RowNames(list);
    for (const char *name : {"tv-idle", "tv-shadow", "tv-masked"})
        EXPECT_EQ(names.count(QLatin1String(name)), 1) << name;
    for (const char *name : {"tv-other-name", "tv-each@", "tv-each"})
        EXPECT_FALSE(names.contains(QLatin1String(name))) << name;

    const TServiceItem *idle = list.ItemByName("tv-idle");
    ASSERT_NE(idle, nullptr);
    EXPECT_EQ(idle->DisplayName, "Taskvane test idle");
    EXPECT_EQ(idle->State, TServiceState::Stopped);
    EXPECT_EQ(idle->StartType, TServiceStartType::Manual);
    EXPECT_TRUE(idle->StartTypeSettable);
    EXPECT_TRUE(idle->BinaryPath.contains("sleep"));
    const TServiceItem *shadow = list.ItemByName("tv-shadow");
    ASSERT_NE(shadow, nullptr);
    EXPECT_EQ(shadow->DisplayName, "Taskvane test shadow, first");
    EXPECT_EQ(shadow->StartType, TServiceStartType::Manual);
    EXPECT_FALSE(shadow->StartTypeSettable);
    const TServiceItem *masked = list.ItemByName("tv-masked");
    ASSERT_NE(masked, nullptr);
    EXPECT_EQ(masked->StartType, TServiceStartType::Disabled);
    EXPECT_TRUE(masked->StartTypeSettable);

    // The same services the manager names when asked for all of its unit files.
    const QSet<QString> own = ManagerOwnServices();
    ASSERT_FALSE(own.isEmpty());
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()), own);
    EXPECT_EQ(names.size(), own.size()) << "a service is listed twice";

    for (const QString &file : written)
        QFile::remove(file);
}

// Every kind of entry a unit folder may hold, each against what the manager itself lists.
TEST_F(RealManager, EveryKindOfUnitFolderEntryIsListedAsTheManagerListsIt)
{
    using realsd::UserManager;
    const QByteArray sleep = QFile::encodeName(QStandardPaths::findExecutable("sleep"));
    const QString data = manager->unitDir(), config = manager->configUnitDir();
    const QString outside = manager->scratch("outside"), runtime = manager->scratch("runtime/systemd/user");
    auto unit = [&](const char *Description) {
        return UserManager::Unit(Description, "", "WantedBy=taskvane-test.target", sleep);
    };
    for (const QString &folder : {config, outside, runtime})
        ASSERT_TRUE(QDir().mkpath(folder));
    QStringList written;
    auto write = [&](const QString &Path, const QByteArray &Text) {
        ASSERT_TRUE(UserManager::Write(Path, Text)) << Path.toStdString();
        written.append(Path);
    };
    auto link = [&](const QString &Target, const QString &Path) {
        ASSERT_TRUE(QFile::link(Target, Path)) << Path.toStdString();
        written.append(Path);
    };
    // Masked without a unit file of its own, and masked by an empty file.
    link("/dev/null", data + "/tv-k-maskonly.service");
    write(data + "/tv-k-empty.service", QByteArray());
    // Linked: a file outside the folders under its own name.
    write(outside + "/tv-k-linked.service", unit("Taskvane test linked"));
    link(outside + "/tv-k-linked.service", config + "/tv-k-linked.service");
    // Aliases: other names of files outside the folders, from the data and the configuration folder.
    write(outside + "/tv-k-elsewhere.service", unit("Taskvane test elsewhere"));
    link(outside + "/tv-k-elsewhere.service", data + "/tv-k-alias-out.service");
    link(outside + "/tv-k-elsewhere.service", config + "/tv-k-alias-cfg.service");
    // Links that lead nowhere, outside and inside the folders.
    link(outside + "/tv-k-none.service", data + "/tv-k-dangling.service");
    link("tv-k-nothere.service", data + "/tv-k-dangling-in.service");
    // A template with an instance file and an instance link.
    write(data + "/tv-k-each@.service", unit("Taskvane test each"));
    write(data + "/tv-k-each@one.service", unit("Taskvane test each one"));
    link("tv-k-each@.service", data + "/tv-k-each@two.service");
    // A unit for this boot only.
    write(runtime + "/tv-k-runtime.service", unit("Taskvane test runtime"));

    TServices list;
    list.Reload();
    ASSERT_FALSE(list.RefreshFailed());
    const QStringList names = RowNames(list);
    const QSet<QString> own = ManagerOwnServices();
    ASSERT_FALSE(own.isEmpty());
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()), own);
    EXPECT_EQ(names.size(), own.size()) << "a service is listed twice";
    for (const char *name : {"tv-k-alias-out", "tv-k-alias-cfg", "tv-k-elsewhere", "tv-k-each@", "tv-k-each"})
        EXPECT_FALSE(names.contains(QLatin1String(name))) << name;
    for (const char *name : {"tv-k-maskonly", "tv-k-empty"}) {
        const TServiceItem *masked = list.ItemByName(QLatin1String(name));
        ASSERT_NE(masked, nullptr) << name;
        EXPECT_EQ(masked->StartType, TServiceStartType::Disabled) << name;
    }
    for (const char *name : {"tv-k-linked", "tv-k-each@two"}) {
        const TServiceItem *fixed = list.ItemByName(QLatin1String(name));
        ASSERT_NE(fixed, nullptr) << name;
        EXPECT_TRUE(fixed->BinaryPath.contains("sleep")) << name;
        EXPECT_FALSE(fixed->StartTypeSettable) << name;
    }
    for (const char *name : {"tv-k-dangling", "tv-k-dangling-in"}) {
        const TServiceItem *bad = list.ItemByName(QLatin1String(name));
        ASSERT_NE(bad, nullptr) << name;
        EXPECT_EQ(bad->State, TServiceState::Stopped) << name;
        EXPECT_FALSE(bad->StartTypeSettable) << name;
    }
    for (const char *name : {"tv-k-each@one", "tv-k-runtime", "tv-generated"}) {
        const TServiceItem *item = list.ItemByName(QLatin1String(name));
        ASSERT_NE(item, nullptr) << name;
        EXPECT_TRUE(item->BinaryPath.contains("sleep")) << name;
    }

    for (const QString &file : written)
        QFile::remove(file);
}

// After an action the item is read again; it reads as a listing made then, whatever user the
// unit names.
TEST_F(RealManager, AnItemReadAfterAnActionReadsAsTheListingDoes)
{
    using realsd::UserManager;
    const QByteArray sleep = QFile::encodeName(QStandardPaths::findExecutable("sleep"));
    const QString data = manager->unitDir();
    const QStringList written{data + "/tv-user.service", data + "/tv-dynamic.service", data + "/tv-plain.service"};
    ASSERT_TRUE(
        UserManager::Write(written[0], UserManager::Unit("Taskvane test user", "", "", sleep) + "User=nobody\n"));
    ASSERT_TRUE(UserManager::Write(written[1],
                                   UserManager::Unit("Taskvane test dynamic", "", "", sleep) + "DynamicUser=yes\n"));
    ASSERT_TRUE(UserManager::Write(written[2], UserManager::Unit("Taskvane test plain", "", "", sleep)));

    for (const char *name : {"tv-user", "tv-dynamic", "tv-plain"}) {
        for (const bool start : {true, false}) {
            TServices before;
            before.Reload();
            TServiceItem *item = before.ItemByName(QLatin1String(name));
            ASSERT_NE(item, nullptr) << name;
            if (start)
                item->Start(kNoLimit);
            else
                item->Stop(kNoLimit);
            TServices after;
            after.Reload();
            const TServiceItem *listed = after.ItemByName(QLatin1String(name));
            ASSERT_NE(listed, nullptr) << name;
            svctest::ExpectSameFields(*listed, *item);
        }
    }
    EXPECT_EQ(Read("tv-user")->Account, "nobody");
    EXPECT_EQ(Read("tv-dynamic")->Account, "tv-dynamic");
    EXPECT_EQ(Read("tv-plain")->Account, "root");
    for (const QString &file : written)
        QFile::remove(file);
}

TEST_F(RealManager, StartStopWithDependentsPauseAndContinue)
{
    // Starting the dependent starts what it requires.
    ASSERT_TRUE(TServiceHelper::Start("tv-dep", kNoLimit));
    EXPECT_EQ(Read("tv-base")->State, TServiceState::Running);
    EXPECT_EQ(Read("tv-dep")->State, TServiceState::Running);

    // Stopping the base stops its running dependent too.
    const auto item = Read("tv-base");
    TServiceItem &base = *item;
    ASSERT_TRUE(base.Stop(kNoLimit));
    EXPECT_EQ(base.State, TServiceState::Stopped);
    EXPECT_EQ(base.ProcessID, 0u);
    EXPECT_EQ(Read("tv-dep")->State, TServiceState::Stopped);

    // Pausing freezes the unit's processes; continuing thaws them.
    ASSERT_TRUE(base.Start(kNoLimit));
    ASSERT_TRUE(TServiceHelper::Start("tv-dep", kNoLimit));
    const quint32 pid = base.ProcessID;
    ASSERT_TRUE(base.Pause(kNoLimit));
    EXPECT_EQ(base.State, TServiceState::Paused);
    EXPECT_TRUE(Frozen("tv-base.service"));
    EXPECT_EQ(Read("tv-dep")->State, TServiceState::Stopped) << "pausing stops the active dependents first";
    ASSERT_TRUE(base.Resume(kNoLimit));
    EXPECT_EQ(base.State, TServiceState::Running);
    EXPECT_FALSE(Frozen("tv-base.service"));
    EXPECT_EQ(base.ProcessID, pid);

    ASSERT_TRUE(base.Restart(kNoLimit));
    EXPECT_EQ(base.State, TServiceState::Running);
    EXPECT_NE(base.ProcessID, pid);
    ASSERT_TRUE(base.Stop(kNoLimit));
}

TEST_F(RealManager, StartTypeRoundTrip)
{
    const auto item = Read("tv-base");
    TServiceItem &base = *item;
    ASSERT_TRUE(base.ChangeStartType(TServiceStartType::Automatic));
    EXPECT_EQ(base.StartType, TServiceStartType::Automatic);
    EXPECT_TRUE(QFileInfo(manager->configUnitDir() + "/taskvane-test.target.wants/tv-base.service").isSymLink());

    ASSERT_TRUE(base.ChangeStartType(TServiceStartType::Disabled));
    EXPECT_EQ(base.StartType, TServiceStartType::Disabled);
    EXPECT_EQ(QFileInfo(manager->configUnitDir() + "/tv-base.service").symLinkTarget(), "/dev/null");
    EXPECT_FALSE(base.Start(kNoLimit)) << "a masked unit does not start";
    EXPECT_EQ(base.State, TServiceState::Stopped);

    ASSERT_TRUE(base.ChangeStartType(TServiceStartType::Manual));
    EXPECT_EQ(base.StartType, TServiceStartType::Manual);
    EXPECT_FALSE(QFileInfo::exists(manager->configUnitDir() + "/tv-base.service"));
    EXPECT_FALSE(QFileInfo::exists(manager->configUnitDir() + "/taskvane-test.target.wants/tv-base.service"));
    EXPECT_TRUE(base.Start(kNoLimit));
    ASSERT_TRUE(base.Stop(kNoLimit));

    // A unit without install information cannot start automatically: no false success.
    const auto staticItem = Read("tv-static");
    TServiceItem &statics = *staticItem;
    EXPECT_FALSE(statics.ChangeStartType(TServiceStartType::Automatic));
    EXPECT_EQ(statics.StartType, TServiceStartType::Manual);
}

TEST_F(RealManager, BackupAndRestoreLeaveUnitsWhoseStartTypeIsFixedAlone)
{
    ASSERT_TRUE(TServices::SetServiceStartType("tv-base", TServiceStartType::Automatic));
    ASSERT_TRUE(TServices::StartService("tv-base", kNoLimit));
    ASSERT_TRUE(TServices::SetServiceStartType("tv-dep", TServiceStartType::Manual));
    ASSERT_EQ(Read("tv-static")->State, TServiceState::Running);
    ASSERT_EQ(Read("tv-generated")->State, TServiceState::Running);

    tvtest::OwnHome userHome;
    TOptimization opt(nullptr, userHome.DataDir());
    opt.SetBackupDir(manager->scratch("Backup"));
    ASSERT_TRUE(RunJob(opt, [&] { opt.Backup(QString()); }));
    platform::files::IniFile ini;
    ASSERT_TRUE(ini.Load(opt.GetDefaultBackupFile()));
    const QStringList keys = ini.KeyNames("ServicesBackup");
    EXPECT_EQ(ini.IntValue("ServicesBackup", "tv-base", -1), 2);
    EXPECT_EQ(ini.IntValue("ServicesBackup", "tv-dep", -1), 3);
    for (const char *fixed : {"tv-static", "tv-generated", "tv-indirect", "dbus"})
        EXPECT_FALSE(keys.contains(QLatin1String(fixed))) << fixed;

    // A backup as earlier versions wrote it: "manual" for every unit that is not enabled.
    const QString old = manager->scratch("old.dat");
    ASSERT_TRUE(realsd::UserManager::Write(
        old, "[ServicesBackup]\ndbus=3\ntv-static=3\ntv-generated=3\ntv-indirect=4\ntv-base=3\n"));
    ASSERT_TRUE(RunJob(opt, [&] { opt.Restore(old); }));
    for (const char *fixed : {"dbus", "tv-static", "tv-generated"})
        EXPECT_EQ(Read(QLatin1String(fixed))->State, TServiceState::Running) << fixed << " was stopped";
    EXPECT_EQ(Read("tv-indirect")->StartType, TServiceStartType::Manual);
    const auto base = Read("tv-base");
    EXPECT_EQ(base->StartType, TServiceStartType::Manual);
    EXPECT_EQ(base->State, TServiceState::Stopped);

    // The backup brings back what it holds.
    ASSERT_TRUE(RunJob(opt, [&] { opt.Restore(QString()); }));
    EXPECT_EQ(Read("tv-base")->StartType, TServiceStartType::Automatic);
    EXPECT_EQ(Read("tv-base")->State, TServiceState::Running);
    EXPECT_EQ(Read("tv-dep")->StartType, TServiceStartType::Manual);
    ASSERT_TRUE(TServices::StopService("tv-base", kNoLimit));
    ASSERT_TRUE(TServices::SetServiceStartType("tv-base", TServiceStartType::Manual));
}

} // namespace

namespace {

constexpr int kManyUnits = 300;
// The questions one service may cost a listing, on average over the services listed.
constexpr double kMaxCallsPerService = 12;

// Every call of the service layer as it is sent and answered, in order.
class CallLog : public platform::services::CallObserver
{
public:
    struct Event
    {
        bool Sent;
        QString Member, Path;
    };
    std::vector<Event> Events;

    void Sent(const QString &Member, const QString &Path) override { Events.push_back({true, Member, Path}); }
    void Answered(const QString &Member, const QString &Path) override { Events.push_back({false, Member, Path}); }

    // Calls that ask about a single unit (its object, its job, or the manager to load it) rather
    // than about the manager itself.
    static bool PerUnit(const Event &E)
    {
        return E.Path != QLatin1String("/org/freedesktop/systemd1") || E.Member == QLatin1String("LoadUnit");
    }
};

class RealManagerManyUnits : public ManagerSuite<kManyUnits>
{
protected:
    void SetUp() override
    {
        ManagerSuite::SetUp();
        if (!IsSkipped()) {
            ASSERT_TRUE(manager->settle(60000)) << "the units did not start";
        }
    }
};

TEST_F(RealManagerManyUnits, AListingAsksFewQuestionsPerServiceAndKeepsThemInFlight)
{
    CallLog log;
    TServices list;
    platform::services::SetCallObserver(&log);
    list.Reload();
    platform::services::SetCallObserver(nullptr);
    ASSERT_FALSE(list.RefreshFailed());

    // Every row's fields, as the page shows them.
    for (int i = 0; i < kManyUnits; ++i) {
        const TServiceItem *item = list.ItemByName(realsd::UserManager::ManyName(i));
        ASSERT_NE(item, nullptr) << i;
        EXPECT_EQ(item->DisplayName, QStringLiteral("Taskvane test many %1").arg(i));
        EXPECT_EQ(item->Description, item->DisplayName);
        EXPECT_EQ(item->State, TServiceState::Running);
        EXPECT_EQ(item->StartType, TServiceStartType::Manual);
        EXPECT_TRUE(item->BinaryPath.endsWith("true")) << item->BinaryPath.toStdString();
        EXPECT_EQ(item->Account, "root");
        EXPECT_TRUE(item->AcceptsStop);
    }
    const int services = list.GetCount();
    ASSERT_GE(services, kManyUnits);

    const int bound = platform::services::ServiceManager::kListingCallsInFlight;
    int perUnit = 0, outstanding = 0;
    bool answeredOne = false;
    QSet<QString> asked;
    for (const CallLog::Event &e : log.Events) {
        if (!CallLog::PerUnit(e))
            continue;
        if (!e.Sent) {
            // The first answer is waited for only once the first questions fill the bound.
            if (!answeredOne) {
                EXPECT_GE(outstanding, std::min(bound, services)) << "waited for an answer with too few questions out";
            }
            answeredOne = true;
            --outstanding;
            continue;
        }
        ++perUnit;
        const bool newUnit =
            e.Path.startsWith(QLatin1String("/org/freedesktop/systemd1/unit/")) && !asked.contains(e.Path);
        const int unitsLeft = services - int(asked.size());
        if (newUnit)
            asked.insert(e.Path);
        // Once answers come, each one taken in makes room for one more question at once.
        if (answeredOne) {
            ASSERT_GE(outstanding, std::min(bound, unitsLeft) - 1)
                << "question " << perUnit << " (" << e.Member.toStdString() << " " << e.Path.toStdString()
                << ") sent with only " << outstanding << " others outstanding";
        }
        ++outstanding;
    }
    EXPECT_EQ(outstanding, 0);
    EXPECT_LE(double(perUnit) / services, kMaxCallsPerService) << perUnit << " questions for " << services;
}

} // namespace

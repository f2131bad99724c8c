#include "platform_services/FakeSystemd.h"
#include "sysinfo_services/ItemFields.h"
#include "sysinfo/Processes.h"
#include "sysinfo/Services.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using fakesd::Service;

class ServicesTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { bus = new fakesd::Bus; }
    static void TearDownTestSuite()
    {
        delete bus;
        bus = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(bus->ok()) << "private message bus did not start"; }
    fakesd::Manager &fake() { return bus->manager; }
    int callIndex(const QString &Call) { return int(fake().calls().indexOf(Call)); }

    static fakesd::Bus *bus;
};

fakesd::Bus *ServicesTest::bus = nullptr;

TEST(ServiceHelper, PollingStepIsATenthOfTheHintWithinBounds)
{
    EXPECT_EQ(TServiceHelper::PollInterval(0), 1000u);
    EXPECT_EQ(TServiceHelper::PollInterval(3000), 1000u);
    EXPECT_EQ(TServiceHelper::PollInterval(50000), 5000u);
    EXPECT_EQ(TServiceHelper::PollInterval(200000), 10000u);
    EXPECT_EQ(TServiceHelper::PollInterval(0xFFFFFFFFu), 10000u);
}

TEST(ServiceHelper, EmptyNamesAndUnknownOpsAreRefused)
{
    EXPECT_FALSE(TServiceHelper::IsRunning("  "));
    EXPECT_FALSE(TServiceHelper::Start(" ", 0));
    EXPECT_FALSE(TServiceHelper::SetStartType("", TServiceStartType::Automatic));
    EXPECT_FALSE(TServiceHelper::Control("x", TServiceControl(4), 0));
    TServiceItem item;
    EXPECT_FALSE(TServiceHelper::ReloadItem(" ", &item));
    EXPECT_FALSE(TServiceHelper::FillItem(nullptr, &item));
    TServices list;
    EXPECT_EQ(list.GetItem(-1), nullptr);
    EXPECT_EQ(list.GetItem(0), nullptr);
}

TEST_F(ServicesTest, ListIsRebuiltWholeAndFoundIgnoringCase)
{
    auto a = Service("Alpha", "active", "enabled");
    a.description = "Alpha daemon";
    a.documentation = {};
    auto b = Service("beta");
    b.description.clear(); // no description at all
    b.loaded = false;
    a.execPath = "\\SystemRoot\\System32\\alpha.exe";
    a.argv = {"alpha"};
    fake().setUnits({a, b});

    TServices list;
    list.Reload();
    list.Reload();
    ASSERT_EQ(list.GetCount(), 2);
    EXPECT_EQ(list.GetItem(0)->Name, "Alpha");
    EXPECT_EQ(list.GetItem(1)->Name, "beta");
    EXPECT_EQ(list.GetItem(2), nullptr);
    EXPECT_EQ(list.ItemByName("ALPHA"), list.GetItem(0));
    EXPECT_EQ(list.ItemByName("Beta"), list.GetItem(1));
    EXPECT_EQ(list.ItemByName("gamma"), nullptr);

    const TServiceItem *ia = list.GetItem(0);
    EXPECT_EQ(ia->DisplayName, "Alpha daemon");
    EXPECT_EQ(ia->State, TServiceState::Running);
    EXPECT_EQ(ia->StartType, TServiceStartType::Automatic);
    EXPECT_EQ(ia->ServiceType, 0x10);
    EXPECT_FALSE(ia->Interactive);
    EXPECT_NE(ia->ProcessID, 0u);
    EXPECT_EQ(ia->Account, "root");
    // The path normalisation applies to service command lines too.
    EXPECT_FALSE(ia->BinaryPath.startsWith("\\SystemRoot\\System32\\"));
    EXPECT_TRUE(ia->BinaryPath.endsWith("alpha.exe"));

    const TServiceItem *ib = list.GetItem(1);
    EXPECT_TRUE(ib->Description.isEmpty());
    EXPECT_EQ(ib->State, TServiceState::Stopped);
    EXPECT_EQ(ib->ProcessID, 0u);
    EXPECT_EQ(ib->StartType, TServiceStartType::Manual);
}

TEST_F(ServicesTest, DependencyListsPairUpAndSkipOtherUnits)
{
    auto a = Service("a", "active");
    // Dependents of a: a target (not listed), then two services; one unknown service.
    a.requiredBy = {"graphical.target", "b.service", "ghost.service"};
    a.wantedBy = {"c.service"};
    fake().setUnits({a, Service("b", "active"), Service("c")});
    TServices list;
    list.Reload();
    ASSERT_EQ(list.GetCount(), 3);
    EXPECT_EQ(list.ItemByName("a")->Dependents, (QStringList{"b", "c"}));
    EXPECT_TRUE(list.ItemByName("a")->Dependencies.isEmpty());
    EXPECT_EQ(list.ItemByName("b")->Dependencies, QStringList{"a"});
    EXPECT_EQ(list.ItemByName("c")->Dependencies, QStringList{"a"});
    EXPECT_TRUE(list.ItemByName("b")->Dependents.isEmpty());
}

// The user comes as the manager names it: a dynamic user it leaves unnamed reads the same
// before and after an action.
// A unit whose own questions are never answered, or refused, shows the start type the manager's
// list of unit files gives it, mapped as for every other unit; that list is asked of such units
// alone.
TEST_F(ServicesTest, AUnitThatGivesNoAnswerOfItsOwnHasTheStartTypeOfItsUnitFile)
{
    struct Case
    {
        const char *Name;
        const char *FileState;
        bool Silent; // else refused
        TServiceStartType StartType;
        bool Settable;
    };
    const Case cases[] = {
        {"on-silent", "enabled", true, TServiceStartType::Automatic, true},
        {"masked-silent", "masked", true, TServiceStartType::Disabled, true},
        {"off-silent", "disabled", true, TServiceStartType::Manual, true},
        {"static-silent", "static", true, TServiceStartType::Manual, false},
        {"on-refused", "enabled", false, TServiceStartType::Automatic, true},
    };
    std::vector<fakesd::Unit> units{Service("beta", "active", "masked")};
    QStringList unanswered;
    for (const Case &c : cases) {
        auto u = Service(c.Name, "active", c.FileState);
        u.silent = c.Silent;
        u.unreadable = !c.Silent;
        units.push_back(u);
        unanswered.append(u.id());
    }
    fake().setUnits(units);
    TServices list;
    list.Reload();
    ASSERT_FALSE(list.RefreshFailed());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        const TServiceItem *item = list.ItemByName(c.Name);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->StartType, c.StartType);
        EXPECT_EQ(item->StartTypeSettable, c.Settable);
        // The rest as the manager's own list says.
        EXPECT_EQ(item->State, TServiceState::Running);
        EXPECT_EQ(item->DisplayName, QString::fromLatin1(c.Name) + " daemon");
    }
    EXPECT_EQ(list.ItemByName("beta")->StartType, TServiceStartType::Disabled);
    EXPECT_TRUE(fake().calls().contains("ListUnitFilesByPatterns " + unanswered.join(',')));
}

TEST_F(ServicesTest, AnItemReadAfterAnActionReadsAsTheListingDoes)
{
    auto user = Service("alpha", "active", "enabled");
    user.user = "alphad";
    user.documentation = {"man:alpha(8)"};
    auto dynamic = Service("beta");
    dynamic.dynamicUser = true;
    fake().setUnits({user, dynamic, Service("gamma", "active", "static")});
    TServices list;
    list.Reload();
    ASSERT_EQ(list.GetCount(), 3);
    for (int i = 0; i < list.GetCount(); ++i) {
        TServiceItem &item = *list.GetItem(i);
        ASSERT_TRUE(item.State == TServiceState::Running ? item.Stop(1000) : item.Start(1000)) << i;
        TServices after;
        after.Reload();
        const TServiceItem *listed = after.ItemByName(item.Name);
        ASSERT_NE(listed, nullptr);
        svctest::ExpectSameFields(*listed, item);
    }
}

// A request that comes after a reading has queued the next one, but before that one started, is
// covered by it: the list's thread never waits for a worker that waits for this thread. The list
// lives on a thread of its own, so that such a wait fails here instead of hanging the program.
TEST_F(ServicesTest, ARequestWhileTheNextReadingIsQueuedStartsNoSecondWorker)
{
    fake().setUnits({Service("alpha", "active")});
    auto *thread = new QThread;
    thread->start();
    auto *list = new TServices;
    list->moveToThread(thread);
    std::atomic<int> reloaded{0};
    list->OnReloaded = [list, &reloaded] {
        if (++reloaded > 1)
            return;
        // Asked for while the list is handed over: the next reading is queued. The request posted
        // now runs before that queued start.
        list->ReloadInBackground();
        QMetaObject::invokeMethod(list, &TServices::ReloadInBackground, Qt::QueuedConnection);
    };
    QMetaObject::invokeMethod(list, &TServices::ReloadInBackground, Qt::QueuedConnection);

    std::atomic<bool> settled{false};
    QDeadlineTimer deadline(20000);
    while (!settled && !deadline.hasExpired()) {
        if (reloaded >= 2)
            QMetaObject::invokeMethod(
                list, [list, &settled] { settled = !list->Reloading(); }, Qt::QueuedConnection);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!settled) {
        // The list's thread is stuck for good: it and what it holds are left as they are.
        ADD_FAILURE() << "the list's thread did not answer after " << reloaded.load() << " reading(s)";
        return;
    }
    EXPECT_EQ(reloaded.load(), 2);
    QMetaObject::invokeMethod(
        list,
        [list] {
            EXPECT_EQ(list->GetCount(), 1);
            delete list;
        },
        Qt::BlockingQueuedConnection);
    thread->quit();
    thread->wait();
    delete thread;
}

TEST_F(ServicesTest, NoManagerLeavesTheListEmpty)
{
    const QByteArray saved = qgetenv(platform::services::kBusAddressVariable);
    qputenv(platform::services::kBusAddressVariable, "unix:path=/nonexistent/taskvane-test-bus");
    TServices list;
    list.Reload();
    EXPECT_EQ(list.GetCount(), 0);
    // Unlike a machine without services, this one could not be asked, and the list says so.
    EXPECT_TRUE(list.RefreshFailed());
    EXPECT_FALSE(TServiceHelper::ManagerReachable());
    EXPECT_FALSE(TServices::IsRunning("a"));
    qputenv(platform::services::kBusAddressVariable, saved);

    fake().setUnits({});
    list.Reload();
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_FALSE(list.RefreshFailed());
    EXPECT_TRUE(TServiceHelper::ManagerReachable());
    list.Clear();
    EXPECT_FALSE(list.RefreshFailed());
}

TEST_F(ServicesTest, StartingARunningOrStoppingAStoppedServiceIssuesNothing)
{
    fake().setUnits({Service("up", "active"), Service("down")});
    EXPECT_TRUE(TServices::StartService("up", 1000));
    EXPECT_TRUE(TServices::StopService("down", 1000));
    for (const QString &c : fake().calls())
        EXPECT_FALSE(c.startsWith("StartUnit") || c.startsWith("StopUnit")) << c.toStdString();
    EXPECT_TRUE(TServices::IsRunning("up"));
    EXPECT_FALSE(TServices::IsRunning("down"));
    EXPECT_FALSE(TServices::IsRunning("nosuch"));
}

TEST_F(ServicesTest, StopStopsRunningDependentsFirst)
{
    auto a = Service("a", "active");
    a.requiredBy = {"b.service", "c.service", "d.service"};
    auto b = Service("b", "active");
    b.stopDelay = 300; // waited for before the next step
    fake().setUnits({a, b, Service("c"), Service("d", "active")});
    TServices list;
    list.Reload();
    TServiceItem *item = list.ItemByName("a");
    ASSERT_TRUE(item);
    EXPECT_TRUE(item->Stop(TServiceHelper::WAIT_INFINITE));
    EXPECT_EQ(item->State, TServiceState::Stopped);
    const int sb = callIndex("StopUnit b.service"), sd = callIndex("StopUnit d.service"),
              sa = callIndex("StopUnit a.service");
    ASSERT_GE(sb, 0);
    ASSERT_GE(sd, 0);
    ASSERT_GE(sa, 0);
    EXPECT_LT(sb, sd);
    EXPECT_LT(sd, sa);
    EXPECT_EQ(callIndex("StopUnit c.service"), -1); // not running: left alone
    EXPECT_EQ(fake().unit("b")->activeState, "inactive");
}

TEST_F(ServicesTest, PauseAlsoStopsActiveDependentsAndResumeThaws)
{
    auto a = Service("a", "active");
    a.wantedBy = {"b.service"};
    fake().setUnits({a, Service("b", "active")});
    TServices list;
    list.Reload();
    TServiceItem *item = list.ItemByName("a");
    ASSERT_TRUE(item);
    EXPECT_TRUE(item->AcceptsPause);
    EXPECT_TRUE(item->Pause(5000));
    EXPECT_EQ(item->State, TServiceState::Paused);
    EXPECT_LT(callIndex("StopUnit b.service"), callIndex("FreezeUnit a.service"));
    EXPECT_GE(callIndex("StopUnit b.service"), 0);
    EXPECT_TRUE(item->Resume(5000));
    EXPECT_EQ(item->State, TServiceState::Running);
}

TEST_F(ServicesTest, TimeLimitEndsAWaitAndTheItemShowsThePendingState)
{
    auto a = Service("a", "active");
    a.stopDelay = -1; // stays pending
    fake().setUnits({a});
    TServices list;
    list.Reload();
    TServiceItem *item = list.ItemByName("a");
    ASSERT_TRUE(item);
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(item->Stop(1500));
    EXPECT_GT(t.elapsed(), 1500);
    EXPECT_LT(t.elapsed(), 4500);
    EXPECT_EQ(item->State, TServiceState::StopPending);
}

TEST_F(ServicesTest, AServiceThatSettlesElsewhereEndsAnEndlessWait)
{
    auto a = Service("a");
    a.startFails = true;
    a.startDelay = 200;
    auto b = Service("b", "active");
    b.refusesStop = true;
    fake().setUnits({a, b});
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(TServiceHelper::Start("a", TServiceHelper::WAIT_INFINITE));
    EXPECT_FALSE(TServiceHelper::Stop("b", TServiceHelper::WAIT_INFINITE));
    EXPECT_LT(t.elapsed(), 6000);
    // Masked units refuse to start.
    fake().setUnits({Service("m", "inactive", "masked")});
    EXPECT_FALSE(TServiceHelper::Start("m", TServiceHelper::WAIT_INFINITE));
}

TEST_F(ServicesTest, RestartOfAStoppedServiceJustStartsIt)
{
    auto a = Service("a");
    a.startDelay = 100;
    fake().setUnits({a});
    TServices list;
    list.Reload();
    TServiceItem *item = list.ItemByName("a");
    ASSERT_TRUE(item);
    EXPECT_TRUE(item->Restart(TServiceHelper::WAIT_INFINITE));
    EXPECT_EQ(item->State, TServiceState::Running);
    EXPECT_NE(item->ProcessID, 0u);
    EXPECT_EQ(callIndex("StopUnit a.service"), -1);
}

TEST_F(ServicesTest, StartTypeChangesThroughTheItem)
{
    auto s = Service("s", "inactive", "static");
    s.installable = false;
    fake().setUnits({Service("a"), s});
    TServices list;
    list.Reload();
    TServiceItem *a = list.ItemByName("a");
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->StartTypeSettable);
    EXPECT_FALSE(list.ItemByName("s")->StartTypeSettable);
    EXPECT_TRUE(a->ChangeStartType(TServiceStartType::Automatic));
    EXPECT_EQ(a->StartType, TServiceStartType::Automatic);
    EXPECT_TRUE(a->ChangeStartType(TServiceStartType::Disabled));
    EXPECT_EQ(a->StartType, TServiceStartType::Disabled);
    EXPECT_TRUE(TServices::SetServiceStartType("a", TServiceStartType::Manual));
    EXPECT_EQ(fake().unit("a")->unitFileState, "disabled");
    // The re-read's result, not the change's.
    TServiceItem *st = list.ItemByName("s");
    EXPECT_FALSE(st->ChangeStartType(TServiceStartType::Automatic));
    EXPECT_TRUE(st->SetStartType(TServiceStartType::Automatic));
    EXPECT_EQ(st->StartType, TServiceStartType::Manual);
    EXPECT_FALSE(TServices::SetServiceStartType("nosuch", TServiceStartType::Automatic));
}

TEST_F(ServicesTest, TerminalServiceCheckChangesNothingWhenTheUnitIsMissing)
{
    fake().setUnits({Service("a")});
    QElapsedTimer t;
    t.start();
    EnsureTerminalService();
    EXPECT_LT(t.elapsed(), 3000);
    for (const QString &c : fake().calls()) {
        EXPECT_FALSE(c.contains("UnitFiles")) << c.toStdString();
        EXPECT_FALSE(c.startsWith("StartUnit")) << c.toStdString();
    }
    EXPECT_TRUE(fake().calls().contains("LoadUnit TermService.service"));
}

TEST_F(ServicesTest, TerminalServiceCheckIsWiredToTheProcessUnitAndRunsBesideIt)
{
    // The process unit's start-up is the terminal-service check (it runs once per program); a
    // manager that takes seconds to answer holds neither the start nor the window.
    fakesd::Unit term = Service("TermService", "active");
    term.answerDelay = 3000;
    fake().setUnits({Service("a"), term});
    QElapsedTimer t;
    t.start();
    ProcessesUnitInitialization();
    EXPECT_LT(t.elapsed(), 1000);
    QDeadlineTimer deadline(30000);
    while (!fake().calls().contains("LoadUnit TermService.service") && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(fake().calls().contains("LoadUnit TermService.service"));
}

} // namespace

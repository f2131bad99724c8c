#include "common/LogCapture.h"
#include "platform_services/FakeSystemd.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

using namespace platform::services;

namespace {

class ServiceManagerTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { bus = new fakesd::Bus; }
    static void TearDownTestSuite()
    {
        delete bus;
        bus = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(bus->ok()) << "private message bus did not start";
        bus->manager.setHostile(false);
    }

    static fakesd::Bus *bus;
};

fakesd::Bus *ServiceManagerTest::bus = nullptr;

TEST(ServiceMappings, StatesFromUnitStateFreezerAndJob)
{
    EXPECT_EQ(ServiceManager::StateOf("active", "running", ""), StateRunning);
    EXPECT_EQ(ServiceManager::StateOf("inactive", "running", ""), StateStopped);
    EXPECT_EQ(ServiceManager::StateOf("failed", "", ""), StateStopped);
    EXPECT_EQ(ServiceManager::StateOf("activating", "", ""), StateStartPending);
    EXPECT_EQ(ServiceManager::StateOf("reloading", "", ""), StateStartPending);
    EXPECT_EQ(ServiceManager::StateOf("deactivating", "", ""), StateStopPending);
    EXPECT_EQ(ServiceManager::StateOf("active", "frozen", ""), StatePaused);
    EXPECT_EQ(ServiceManager::StateOf("active", "freezing", ""), StatePausePending);
    EXPECT_EQ(ServiceManager::StateOf("active", "thawing", ""), StateContinuePending);
    // A queued job is the change about to happen.
    EXPECT_EQ(ServiceManager::StateOf("inactive", "", "start"), StateStartPending);
    EXPECT_EQ(ServiceManager::StateOf("active", "", "stop"), StateStopPending);
    EXPECT_EQ(ServiceManager::StateOf("active", "", "restart"), StateStopPending);
    EXPECT_EQ(ServiceManager::StateOf("inactive", "", "restart"), StateStartPending);
    EXPECT_EQ(ServiceManager::StateOf("active", "", "nop"), StateRunning);
    EXPECT_EQ(ServiceManager::StateOf("whatever", "", ""), StateStopped);
}

TEST(ServiceMappings, StartTypesFromUnitFileState)
{
    EXPECT_EQ(ServiceManager::StartTypeOf("enabled"), StartAutomatic);
    EXPECT_EQ(ServiceManager::StartTypeOf("enabled-runtime"), StartAutomatic);
    EXPECT_EQ(ServiceManager::StartTypeOf("masked"), StartDisabled);
    EXPECT_EQ(ServiceManager::StartTypeOf("masked-runtime"), StartDisabled);
    for (const char *s : {"disabled", "static", "indirect", "generated", "", "bad"})
        EXPECT_EQ(ServiceManager::StartTypeOf(s), StartManual) << s;
    // Only enabled, disabled and masked units can be moved between the start types; the others
    // report "manual" without being it.
    for (const char *s : {"enabled", "enabled-runtime", "disabled", "masked", "masked-runtime"})
        EXPECT_TRUE(ServiceManager::StartTypeSettableOf(s)) << s;
    for (const char *s :
         {"static", "indirect", "generated", "transient", "alias", "linked", "linked-runtime", "bad", ""})
        EXPECT_FALSE(ServiceManager::StartTypeSettableOf(s)) << s;
}

TEST(ServiceMappings, NoManagerReachableFailsAtOnce)
{
    qputenv(kBusAddressVariable, "unix:path=/nonexistent/taskvane-test-bus");
    QElapsedTimer t;
    t.start();
    ServiceManager m;
    EXPECT_FALSE(m.IsConnected());
    EXPECT_FALSE(m.Ping());
    EXPECT_FALSE(m.ListServices().has_value());
    EXPECT_FALSE(m.OpenService(QStringLiteral("sshd")).has_value());
    EXPECT_FALSE(m.LastError().isEmpty());
    EXPECT_LT(t.elapsed(), 2000);
    qunsetenv(kBusAddressVariable);
}

// The bus is opened by the first use, not by making the object: one made while the manager
// cannot be reached works once it can, and then keeps that connection.
TEST_F(ServiceManagerTest, TheBusIsOpenedByTheFirstUse)
{
    bus->manager.setUnits({fakesd::Service("alpha", "active")});
    const QByteArray address = qgetenv(kBusAddressVariable);
    qputenv(kBusAddressVariable, "unix:path=/nonexistent/taskvane-test-bus");
    ServiceManager m;
    qputenv(kBusAddressVariable, address);
    EXPECT_TRUE(m.IsConnected());
    qputenv(kBusAddressVariable, "unix:path=/nonexistent/taskvane-test-bus");
    EXPECT_TRUE(m.Ping());
    const auto alpha = m.OpenService(QStringLiteral("alpha"));
    qputenv(kBusAddressVariable, address);
    ASSERT_TRUE(alpha.has_value());
}

TEST_F(ServiceManagerTest, ListsServiceUnitsOnlyWithWhatEachShows)
{
    auto a = fakesd::Service("alpha", "active", "enabled");
    a.documentation = {"man:alpha(8)", "https://alpha.example"};
    a.user = "alphad";
    a.requiredBy = {"graphical.target", "gamma.service"};
    a.wantedBy = {"gamma.service", "delta.service"};
    a.canFreeze = false;
    auto b = fakesd::Service("beta");
    b.loaded = false; // only its unit file is known
    b.unitFileState = "masked";
    fakesd::Unit target;
    target.name = "multi-user.target";
    target.activeState = "active";
    fakesd::Unit ghost = fakesd::Service("ghost");
    ghost.loadState = "not-found";
    auto c = fakesd::Service("gamma", "inactive", "static");
    bus->manager.setUnits({a, target, ghost, c, b});

    ServiceManager m;
    const auto list = m.ListServices();
    ASSERT_TRUE(list.has_value()) << m.LastError().toStdString();
    ASSERT_EQ(list->size(), 3u);
    const ServiceInfo &ia = (*list)[0];
    EXPECT_EQ(ia.Entry.Name, "alpha");
    EXPECT_EQ(ia.Entry.DisplayName, "alpha daemon");
    EXPECT_EQ(ia.Entry.State, StateRunning);
    ASSERT_TRUE(ia.Read);
    EXPECT_EQ(ia.Config.Description, "man:alpha(8), https://alpha.example");
    EXPECT_EQ(ia.Config.Account, "alphad");
    EXPECT_EQ(ia.Config.BinaryPath, "/usr/sbin/alpha --foreground");
    EXPECT_EQ(ia.Config.StartType, StartAutomatic);
    EXPECT_TRUE(ia.Config.StartTypeSettable);
    EXPECT_EQ(ia.Status.ProcessID, 4100000u);
    EXPECT_TRUE(ia.Status.AcceptsStop);
    EXPECT_FALSE(ia.Status.AcceptsPause);
    EXPECT_EQ(ia.Dependents, (QStringList{"gamma", "delta"}));

    const ServiceInfo &ic = (*list)[1];
    EXPECT_EQ(ic.Entry.Name, "gamma");
    EXPECT_EQ(ic.Entry.State, StateStopped);
    EXPECT_EQ(ic.Config.Account, "root");
    EXPECT_EQ(ic.Config.Description, "gamma daemon");
    EXPECT_EQ(ic.Config.StartType, StartManual);
    EXPECT_FALSE(ic.Config.StartTypeSettable);
    EXPECT_EQ(ic.Status.ProcessID, 0u);
    EXPECT_FALSE(ic.Status.AcceptsStop);

    // A unit file not loaded yet is read from its own answers.
    const ServiceInfo &ib = (*list)[2];
    EXPECT_EQ(ib.Entry.Name, "beta");
    EXPECT_EQ(ib.Entry.DisplayName, "beta daemon");
    EXPECT_EQ(ib.Entry.State, StateStopped);
    EXPECT_EQ(ib.Config.StartType, StartDisabled);
    EXPECT_EQ(ib.Config.BinaryPath, "/usr/sbin/beta --foreground");

    // Units listed by the manager are asked nothing that their listing gave.
    for (const QString &c : bus->manager.calls())
        EXPECT_FALSE(c.startsWith("LoadUnit") || c.startsWith("GetAll")) << c.toStdString();
}

TEST_F(ServiceManagerTest, AUnitThatRefusesItsPropertiesKeepsWhatTheListingGave)
{
    auto a = fakesd::Service("alpha", "active", "enabled");
    a.unreadable = true;
    auto b = fakesd::Service("beta");
    b.unreadable = true;
    b.loaded = false;
    bus->manager.setUnits({a, fakesd::Service("gamma", "active"), b});

    ServiceManager m;
    const auto list = m.ListServices();
    ASSERT_TRUE(list.has_value()) << m.LastError().toStdString();
    // The unit file whose unit cannot be read is passed over; the listed one keeps its entry.
    ASSERT_EQ(list->size(), 2u);
    EXPECT_EQ((*list)[0].Entry.Name, "alpha");
    EXPECT_EQ((*list)[0].Entry.DisplayName, "alpha daemon");
    EXPECT_EQ((*list)[0].Entry.State, StateRunning);
    EXPECT_FALSE((*list)[0].Read);
    EXPECT_TRUE((*list)[0].Dependents.isEmpty());
    EXPECT_EQ((*list)[1].Entry.Name, "gamma");
    EXPECT_TRUE((*list)[1].Read);
    EXPECT_EQ((*list)[1].Config.BinaryPath, "/usr/sbin/gamma --foreground");
}

// A unit whose questions the manager never answers is given up alone, whether units listed after
// it show that the manager went on (the first one) or nothing was asked after it (the last one).
TEST_F(ServiceManagerTest, AUnitThatNeverAnswersKeepsItsEntryAndTheRestAreListed)
{
    auto a = fakesd::Service("alpha", "active", "enabled");
    a.silent = true;
    auto z = fakesd::Service("omega");
    z.silent = true;
    auto idle = fakesd::Service("idle");
    idle.loaded = false;
    bus->manager.setUnits({a, fakesd::Service("beta", "active"), idle, z});

    QElapsedTimer t;
    t.start();
    ServiceManager m;
    const auto list = m.ListServices();
    ASSERT_TRUE(list.has_value()) << m.LastError().toStdString();
    EXPECT_LT(t.elapsed(), ServiceManager::kQueryTimeoutMs + 3000);
    QStringList names;
    for (const ServiceInfo &s : *list)
        names.append(s.Entry.Name);
    EXPECT_EQ(names, (QStringList{"alpha", "beta", "omega", "idle"}));
    const ServiceInfo &ia = (*list)[0];
    EXPECT_FALSE(ia.Read);
    EXPECT_EQ(ia.Entry.DisplayName, "alpha daemon");
    EXPECT_EQ(ia.Entry.State, StateRunning);
    EXPECT_FALSE((*list)[2].Read);
    EXPECT_EQ((*list)[2].Entry.State, StateStopped);
    ASSERT_TRUE((*list)[1].Read);
    EXPECT_EQ((*list)[1].Config.BinaryPath, "/usr/sbin/beta --foreground");
    ASSERT_TRUE((*list)[3].Read);
    EXPECT_EQ((*list)[3].Config.BinaryPath, "/usr/sbin/idle --foreground");
}

TEST_F(ServiceManagerTest, AFailingUnitListFailsTheListingWithTheManagersOwnWords)
{
    bus->manager.setUnits({fakesd::Service("alpha", "active")});
    bus->manager.setListError("org.freedesktop.DBus.Error.AccessDenied", "Access to ListUnits denied by policy");
    tvtest::LogCapture log(QStringLiteral("taskvane.platform.warning=true"));
    ServiceManager m;
    const auto list = m.ListServices();
    bus->manager.setListError({}, {});
    EXPECT_FALSE(list.has_value());
    EXPECT_EQ(m.LastError(), "Access to ListUnits denied by policy");
    bool logged = false;
    for (const auto &message : log.messages())
        logged = logged || message.text.contains("Access to ListUnits denied by policy");
    EXPECT_TRUE(logged);
}

TEST_F(ServiceManagerTest, ReadsConfigurationAndStatus)
{
    auto a = fakesd::Service("alpha", "active", "enabled");
    a.documentation = {"man:alpha(8)", "https://example.invalid/alpha"};
    a.user = "alphad";
    a.argv = {"alpha", "--config", "/etc/alpha dir/a.conf"};
    a.execPath = "/opt/my apps/alpha";
    auto b = fakesd::Service("beta", "inactive", "masked");
    b.execPath.clear();
    bus->manager.setUnits({a, b});

    ServiceManager m;
    auto h = m.OpenService("alpha");
    ASSERT_TRUE(h.has_value());
    ServiceConfig c;
    ASSERT_TRUE(m.QueryConfig(*h, c));
    EXPECT_EQ(c.DisplayName, "alpha daemon");
    EXPECT_EQ(c.Description, "man:alpha(8), https://example.invalid/alpha");
    EXPECT_EQ(c.Account, "alphad");
    EXPECT_EQ(c.BinaryPath, "\"/opt/my apps/alpha\" --config \"/etc/alpha dir/a.conf\"");
    EXPECT_EQ(c.StartType, StartAutomatic);
    EXPECT_TRUE(c.StartTypeSettable);
    EXPECT_EQ(c.ServiceType, TypeOwnProcess);
    ServiceStatus s;
    ASSERT_TRUE(m.QueryStatus(*h, s));
    EXPECT_EQ(s.State, StateRunning);
    EXPECT_NE(s.ProcessID, 0u);
    EXPECT_TRUE(s.AcceptsStop);
    EXPECT_TRUE(s.AcceptsPause);

    auto hb = m.OpenService("beta");
    ASSERT_TRUE(hb.has_value());
    ASSERT_TRUE(m.QueryConfig(*hb, c));
    EXPECT_EQ(c.Account, "root");
    EXPECT_EQ(c.BinaryPath, "");
    EXPECT_EQ(c.Description, "beta daemon");
    EXPECT_EQ(c.StartType, StartDisabled);
    EXPECT_TRUE(c.StartTypeSettable);
    ASSERT_TRUE(m.QueryStatus(*hb, s));
    EXPECT_EQ(s.State, StateStopped);
    EXPECT_EQ(s.ProcessID, 0u);
    EXPECT_FALSE(s.AcceptsStop); // a stopped service accepts no controls
    EXPECT_FALSE(s.AcceptsPause);

    EXPECT_FALSE(m.OpenService("nosuch").has_value());
    EXPECT_FALSE(m.OpenService("  ").has_value());
}

// A manager without the freezer reads as one whose services cannot be paused, in the list and
// when a service is opened.
TEST_F(ServiceManagerTest, PropertiesAManagerDoesNotHaveAreAbsent)
{
    auto a = fakesd::Service("alpha", "active", "enabled");
    a.missing = {"FreezerState", "CanFreeze"};
    bus->manager.setUnits({a});
    ServiceManager m;
    const auto list = m.ListServices();
    ASSERT_TRUE(list && list->size() == 1u);
    ASSERT_TRUE(list->front().Read);
    EXPECT_EQ(list->front().Status.State, StateRunning);
    EXPECT_FALSE(list->front().Status.AcceptsPause);
    auto h = m.OpenService("alpha");
    ASSERT_TRUE(h);
    ServiceStatus s;
    ASSERT_TRUE(m.QueryStatus(*h, s));
    EXPECT_EQ(s.State, StateRunning);
    EXPECT_TRUE(s.AcceptsStop);
    EXPECT_FALSE(s.AcceptsPause);
}

TEST_F(ServiceManagerTest, PendingChangesCarryNoWaitHint)
{
    // The unit's timeouts are limits, not the time a step takes: taken as the hint they made
    // every wait poll in 9 s steps for a unit that settles at once.
    auto a = fakesd::Service("alpha");
    a.startDelay = -1;
    a.timeoutStartUSec = 90000000;
    auto b = fakesd::Service("beta", "active");
    b.stopDelay = -1;
    b.timeoutStopUSec = 90000000;
    bus->manager.setUnits({a, b});
    ServiceManager m;
    auto ha = m.OpenService("alpha");
    auto hb = m.OpenService("beta");
    ASSERT_TRUE(ha && m.Start(*ha));
    ASSERT_TRUE(hb && m.Stop(*hb));
    ServiceStatus s;
    ASSERT_TRUE(m.QueryStatus(*ha, s));
    EXPECT_EQ(s.State, StateStartPending);
    EXPECT_EQ(s.WaitHint, 0u);
    ASSERT_TRUE(m.QueryStatus(*hb, s));
    EXPECT_EQ(s.State, StateStopPending);
    EXPECT_EQ(s.WaitHint, 0u);
}

TEST_F(ServiceManagerTest, AJobThatEndsBetweenTwoReadsIsNotTakenForNoChange)
{
    // Read while the start was queued, and its job asked about once it had ended: the unit is
    // read again rather than reported stopped.
    bus->manager.setUnits({fakesd::Service("alpha", "active")});
    bus->manager.withUnit("alpha", [](fakesd::Unit *u) { u->staleReads = 2; });
    ServiceManager m;
    auto h = m.OpenService("alpha");
    ASSERT_TRUE(h);
    ServiceStatus s;
    ASSERT_TRUE(m.QueryStatus(*h, s));
    EXPECT_EQ(s.State, StateRunning);
}

TEST_F(ServiceManagerTest, PingTellsAReachableManager)
{
    bus->manager.setUnits({});
    ServiceManager m;
    EXPECT_TRUE(m.Ping());
}

// Tells when a listing has sent the manager its unit list question.
class ListingSent : public CallObserver
{
public:
    void Sent(const QString &Member, const QString &) override
    {
        if (Member == QLatin1String("ListUnits"))
            sent = true;
    }
    void Answered(const QString &, const QString &) override {}
    std::atomic<bool> sent{false};
};

// While the manager is busy past the query time-out, a listing waits for it, but a question about
// a single service, whose caller waits, gives up after the query time-out.
TEST_F(ServiceManagerTest, SingleServiceQuestionsGiveUpOnABusyManagerWhileAListingWaits)
{
    bus->manager.setUnits({fakesd::Service("alpha", "active")});
    ServiceManager m;
    auto alpha = m.OpenService(QStringLiteral("alpha"));
    ASSERT_TRUE(alpha.has_value());
    ServiceStatus status;
    ASSERT_TRUE(m.QueryStatus(*alpha, status));

    constexpr int kLimit = ServiceManager::kQueryTimeoutMs + 1500;
    bus->manager.setListDelay(2 * kLimit + 2000);
    ListingSent observer;
    SetCallObserver(&observer);
    std::optional<std::vector<ServiceInfo>> listed;
    std::thread listing([&listed] { listed = ServiceManager().ListServices(); });
    QDeadlineTimer deadline(5000);
    while (!observer.sent && !deadline.hasExpired())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    SetCallObserver(nullptr);
    // The question is on its way to the manager, which then answers nothing else meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(m.OpenService(QStringLiteral("alpha")).has_value());
    EXPECT_LT(t.elapsed(), kLimit);
    t.restart();
    EXPECT_FALSE(m.QueryStatus(*alpha, status));
    EXPECT_LT(t.elapsed(), kLimit);
    EXPECT_FALSE(m.LastError().isEmpty());

    listing.join();
    bus->manager.setListDelay(0);
    ASSERT_TRUE(listed.has_value());
    EXPECT_EQ(listed->size(), 1u);
}

// A manager that answers each question about the unit just under the query time-out after the
// one before, its pings in their turn too, never leaves a question unanswered for that long; a read of a single service
// still ends the query time-out after it began: opening the service, reading it again, and the reading a change of its
// start type begins with.
TEST_F(ServiceManagerTest, ASingleServiceReadEndsOneTimeOutAfterItBeganHoweverSteadilyTheManagerAnswers)
{
    constexpr int kLimit = ServiceManager::kQueryTimeoutMs + 1500;
    struct Read
    {
        const char *What;
        std::function<bool(ServiceManager &, ServiceHandle &)> Ask;
    };
    const Read reads[] = {
        {"open", [](ServiceManager &M, ServiceHandle &) { return M.OpenService("alpha").has_value(); }},
        {"status",
         [](ServiceManager &M, ServiceHandle &H) {
             ServiceStatus s;
             return M.QueryStatus(H, s);
         }},
        {"start type", [](ServiceManager &M, ServiceHandle &H) { return M.SetStartType(H, StartDisabled); }},
    };
    ASSERT_TRUE(bus->refusePing(true));
    for (const Read &r : reads) {
        SCOPED_TRACE(r.What);
        auto alpha = fakesd::Service("alpha", "active", "enabled");
        bus->manager.setUnits({alpha});
        ServiceManager m;
        auto handle = m.OpenService("alpha");
        ASSERT_TRUE(handle.has_value());
        ServiceStatus status;
        ASSERT_TRUE(m.QueryStatus(*handle, status)); // what was read with the opening is used up
        alpha.answerDelay = ServiceManager::kQueryTimeoutMs - 100;
        bus->manager.setUnits({alpha});

        QElapsedTimer t;
        t.start();
        EXPECT_FALSE(r.Ask(m, *handle));
        EXPECT_LT(t.elapsed(), kLimit);
        EXPECT_FALSE(m.LastError().isEmpty());
        // The answers still held back go at once.
        bus->manager.setUnits({fakesd::Service("alpha", "active", "enabled")});
        EXPECT_EQ(bus->manager.unit("alpha")->unitFileState, "enabled");
    }
    EXPECT_TRUE(bus->refusePing(false));
}

TEST_F(ServiceManagerTest, DependentsAreServicesOnly)
{
    auto a = fakesd::Service("alpha", "active");
    a.requiredBy = {"multi-user.target", "beta.service"};
    a.wantedBy = {"gamma.service", "beta.service"};
    a.boundBy = {"delta.service"};
    bus->manager.setUnits(
        {a, fakesd::Service("beta", "active"), fakesd::Service("gamma"), fakesd::Service("delta", "active")});
    ServiceManager m;
    auto h = m.OpenService("alpha");
    ASSERT_TRUE(h);
    const auto all = m.Dependents(*h, false);
    ASSERT_TRUE(all);
    EXPECT_EQ(*all, (QStringList{"beta", "delta", "gamma"}));
    const auto active = m.Dependents(*h, true);
    ASSERT_TRUE(active);
    EXPECT_EQ(*active, (QStringList{"beta", "delta"}));
}

TEST_F(ServiceManagerTest, StartTypeChangesAreVerified)
{
    auto a = fakesd::Service("alpha");
    auto st = fakesd::Service("static1", "inactive", "static");
    st.installable = false;
    bus->manager.setUnits({a, st});
    ServiceManager m;
    auto h = m.OpenService("alpha");
    ASSERT_TRUE(h);
    EXPECT_TRUE(m.SetStartType(*h, StartAutomatic));
    EXPECT_EQ(bus->manager.unit("alpha")->unitFileState, "enabled");
    EXPECT_TRUE(m.SetStartType(*h, StartDisabled));
    EXPECT_EQ(bus->manager.unit("alpha")->unitFileState, "masked");
    // From disabled back to automatic: unmasked first.
    bus->manager.clearCalls();
    EXPECT_TRUE(m.SetStartType(*h, StartAutomatic));
    const QStringList calls = bus->manager.calls();
    EXPECT_LT(calls.indexOf("UnmaskUnitFiles alpha.service"), calls.indexOf("EnableUnitFiles alpha.service"));
    EXPECT_TRUE(calls.contains("Reload"));
    EXPECT_TRUE(m.SetStartType(*h, StartManual));
    EXPECT_EQ(bus->manager.unit("alpha")->unitFileState, "disabled");
    EXPECT_FALSE(m.SetStartType(*h, 1));
    EXPECT_FALSE(m.SetStartType(*h, 5));

    // A unit without install information cannot start automatically: no false success.
    auto hs = m.OpenService("static1");
    ASSERT_TRUE(hs);
    ServiceConfig c;
    ASSERT_TRUE(m.QueryConfig(*hs, c));
    EXPECT_EQ(c.StartType, StartManual);
    EXPECT_FALSE(c.StartTypeSettable);
    EXPECT_FALSE(m.SetStartType(*hs, StartAutomatic));
    EXPECT_TRUE(m.SetStartType(*hs, StartManual));
}

TEST_F(ServiceManagerTest, MalformedAnswersAreRefused)
{
    bus->manager.setUnits({fakesd::Service("alpha", "active")});
    bus->manager.setHostile(true);
    ServiceManager m;
    EXPECT_FALSE(m.ListServices().has_value());
    auto h = m.OpenService("alpha");
    if (h) {
        ServiceConfig c;
        ServiceStatus s;
        m.QueryConfig(*h, c);
        EXPECT_TRUE(c.BinaryPath.isEmpty());
        ASSERT_TRUE(m.QueryStatus(*h, s));
        EXPECT_EQ(s.State, StateStopped);
        const auto deps = m.Dependents(*h, false);
        ASSERT_TRUE(deps);
        EXPECT_TRUE(deps->isEmpty());
    }
}

} // namespace

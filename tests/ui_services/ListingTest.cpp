// The services page reads its list beside the window: the window keeps answering while the
// manager is slow or has many units, and the rows come when the list is in.

#include "common/Pinger.h"
#include "common/ServiceList.h"
#include "common/UserDirs.h"
#include "platform_services/FakeSystemd.h"
#include "sysinfo_services/RealManager.h"

#include "sysinfo/Services.h"
#include "ui/UiHooks.h"
#include "ui/frmMain.h"
#include "ui/frmMainServices.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTimer>
#include <QTreeWidget>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

using fakesd::Service;
using std::chrono::milliseconds;
using tvtest::Pinger;

const QString kReading = QStringLiteral("[服务管理] 正在读取服务列表……");

class ListingFixture : public ::testing::Test
{
protected:
    void TearDown() override
    {
        form.reset();
        RestoreDefaultUiHooks();
    }
    void NewForm()
    {
        UiHooks().ExecModal = [](QDialog *) { return 0; };
        form = std::make_unique<TFormMain>(nullptr, nullptr);
        for (QTimer *t : {form->tmrProcess, form->tmrTraffic, form->tmrSystem})
            t->stop();
        form->show();
        QCoreApplication::processEvents();
    }
    // Selects the page; how long the window was held.
    qint64 SelectPage()
    {
        QElapsedTimer t;
        t.start();
        form->btnLeftMenu_ServiceClick(form->btnLeftMenu_Service);
        return t.elapsed();
    }
    TServicePage &Page() const { return *form->ServicePage; }
    QStringList Captions() const
    {
        QStringList out;
        for (int i = 0; i < Page().lvServices->topLevelItemCount(); ++i)
            out << Page().lvServices->topLevelItem(i)->text(0);
        return out;
    }

    tvtest::OwnHome userHome;
    std::unique_ptr<TFormMain> form;
};

class ServicePageListing : public ListingFixture
{
protected:
    static void SetUpTestSuite() { bus = new fakesd::Bus; }
    static void TearDownTestSuite()
    {
        delete bus;
        bus = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(bus->ok()) << "private message bus did not start"; }
    void TearDown() override
    {
        ListingFixture::TearDown();
        fake().setListDelay(0);
    }
    fakesd::Manager &fake() { return bus->manager; }

    static inline fakesd::Bus *bus = nullptr;
};

// A manager busy past the time a single question may take is waited for, not shown as a list
// without services, and the window answers meanwhile.
TEST_F(ServicePageListing, ASlowManagerIsWaitedForWhileTheWindowAnswers)
{
    fake().setUnits({Service("alpha", "active"), Service("beta")});
    fake().setListDelay(platform::services::ServiceManager::kQueryTimeoutMs + 2000);
    NewForm();
    Pinger ping(form.get());
    EXPECT_LT(SelectPage(), 500);
    EXPECT_EQ(form->lblTopBarInfo->text(), kReading);
    EXPECT_EQ(Page().lvServices->topLevelItemCount(), 0);
    ASSERT_TRUE(tvtest::WaitForServices(Page().objServices, 60000));
    EXPECT_LT(ping.Stop().count(), 100);
    EXPECT_EQ(Captions(), (QStringList{"alpha", "beta"}));
    EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[服务管理] 服务: 2"));
}

// A fill asked for while another runs shows the later list, each service once; a refresh asked
// for during a fill adds no second row; a window closed while a list is read goes at once.
TEST_F(ServicePageListing, ListingsAskedForDuringAnotherAndAWindowClosedMidListing)
{
    fake().setUnits({Service("alpha"), Service("beta"), Service("gamma")});
    fake().setListDelay(1500);
    NewForm();
    EXPECT_LT(SelectPage(), 500);
    // Waits until the manager has answered the first list, then changes what it holds.
    fake().setUnits({Service("delta", "active"), Service("epsilon")});
    EXPECT_LT(SelectPage(), 500);
    ASSERT_TRUE(tvtest::WaitForServices(Page().objServices));
    EXPECT_EQ(Captions(), (QStringList{"delta", "epsilon"}));
    EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[服务管理] 服务: 2"));

    fake().setUnits({Service("delta", "active"), Service("epsilon"), Service("zeta")});
    SelectPage();
    Page().RefreshServiceList();
    ASSERT_TRUE(tvtest::WaitForServices(Page().objServices));
    EXPECT_EQ(Captions(), (QStringList{"delta", "epsilon", "zeta"}));

    SelectPage();
    ASSERT_TRUE(Page().objServices->Reloading());
    QElapsedTimer closing;
    closing.start();
    form.reset();
    EXPECT_LT(closing.elapsed(), 1000);
}

class ServicePageManyUnits : public ListingFixture
{
protected:
    static constexpr int kUnits = 1000;
    static void SetUpTestSuite() { manager = new realsd::UserManager(kUnits); }
    static void TearDownTestSuite()
    {
        delete manager;
        manager = nullptr;
    }
    void SetUp() override
    {
        if (!manager->skipReason().isEmpty())
            GTEST_SKIP() << "no private systemd user manager: " << manager->skipReason().toStdString();
        ASSERT_TRUE(manager->settle(300000)) << "the units did not start";
    }

    static inline realsd::UserManager *manager = nullptr;
};

TEST_F(ServicePageManyUnits, TheWindowAnswersWhileAThousandServicesAreRead)
{
    NewForm();
    Pinger ping(form.get());
    SelectPage();
    EXPECT_EQ(form->lblTopBarInfo->text(), kReading);
    ASSERT_TRUE(tvtest::WaitForServices(Page().objServices, 120000));
    const milliseconds longest = ping.Stop();
    EXPECT_GE(Page().lvServices->topLevelItemCount(), kUnits);
    EXPECT_LT(longest.count(), 100);
    EXPECT_EQ(form->lblTopBarInfo->text(),
              QStringLiteral("[服务管理] 服务: %1").arg(Page().lvServices->topLevelItemCount()));
}

// A real manager in namespaces of its own, with one enabled service whose properties the bus
// refuses to tell.
class ServicePageRealManager : public ListingFixture
{
protected:
    static void SetUpTestSuite() { manager = new realsd::UserManager(0, {QStringLiteral("tv-locked")}); }
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
        ASSERT_TRUE(manager->settle(60000)) << "the units did not start";
    }
    QTreeWidgetItem *Row(const QString &Name) const
    {
        for (int i = 0; i < Page().lvServices->topLevelItemCount(); ++i)
            if (Page().lvServices->topLevelItem(i)->text(0) == Name)
                return Page().lvServices->topLevelItem(i);
        return nullptr;
    }

    static inline realsd::UserManager *manager = nullptr;
};

// The manager's own list of unit files says what the unit itself may not: the row shows the
// start type it gives, and the state the manager's list of units gives.
TEST_F(ServicePageRealManager, AUnitWhoseOwnAnswersAreRefusedShowsTheStartTypeOfItsUnitFile)
{
    NewForm();
    SelectPage();
    ASSERT_TRUE(tvtest::WaitForServices(Page().objServices, 60000));
    const QTreeWidgetItem *row = Row(QStringLiteral("tv-locked"));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->text(1), QStringLiteral("Taskvane test refused"));
    EXPECT_EQ(row->text(2), QStringLiteral("运行中"));
    EXPECT_EQ(row->text(3), QStringLiteral("自动"));
    // Its own answers, such as its command line, stayed refused.
    EXPECT_EQ(row->text(4), QString());
}

// A start the manager takes seconds over: the window answers meanwhile behind the waiting panel,
// and the row then shows the service running.
TEST_F(ServicePageRealManager, AStartThatTakesSecondsKeepsTheWindowAnswering)
{
    const QByteArray sleep = QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("sleep")));
    ASSERT_TRUE(realsd::UserManager::Write(manager->unitDir() + QStringLiteral("/tv-slow.service"),
                                           realsd::UserManager::Unit("Taskvane test slow", "", "", sleep) +
                                               "ExecStartPre=" + sleep + " 2\n"));
    NewForm();
    int boxes = 0;
    UiHooks().ExecModal = [&boxes](QDialog *) {
        ++boxes;
        return 0;
    };
    SelectPage();
    ASSERT_TRUE(tvtest::WaitForServices(Page().objServices, 60000));
    QTreeWidgetItem *row = Row(QStringLiteral("tv-slow"));
    ASSERT_NE(row, nullptr);
    ASSERT_EQ(row->text(2), QStringLiteral("已停止"));
    row->setSelected(true);

    QString waiting;
    QTimer::singleShot(1000, form.get(), [&] {
        if (form->pnlWaiting->isVisible())
            waiting = form->pnlWaiting->Caption();
    });
    Pinger ping(form.get());
    Page().ServiceCommand(TServiceCommand::Start);
    EXPECT_LT(ping.Stop().count(), 100);
    EXPECT_EQ(waiting, QStringLiteral("正在启动服务，请等待……"));
    EXPECT_EQ(boxes, 0);
    ASSERT_TRUE(tvtest::WaitForServices(Page().objServices, 60000));
    row = Row(QStringLiteral("tv-slow"));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->text(2), QStringLiteral("运行中"));
    EXPECT_TRUE(TServiceHelper::Stop(QStringLiteral("tv-slow"), TServiceHelper::WAIT_INFINITE));
}

} // namespace

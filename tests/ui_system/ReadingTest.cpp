// The system page reads the kernel's figures beside the window: while a reading waits in the
// kernel (seconds on a busy machine), the window keeps answering, and the page fills when the
// figures are in.

#include "common/Pinger.h"
#include "common/UserDirs.h"
#include "sysinfo_system/FakeStatus.h"

#include "platform/system/StatusSource.h"
#include "sysinfo/SystemStatus.h"
#include "ui/ColorBox.h"
#include "ui/UiHooks.h"
#include "ui/frmMain.h"
#include "ui/frmMainSystem.h"

#include <gtest/gtest.h>

#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLineSeries>
#include <QThread>
#include <QTimer>

#include <condition_variable>
#include <memory>
#include <mutex>

using namespace stest;

namespace {

// A machine whose every answer waits while the test holds it. An answer asked for on the
// window's thread is counted and given at once, so that a page that reads there fails here
// instead of hanging.
class HeldStatus : public FakeStatus
{
public:
    explicit HeldStatus(int n) : FakeStatus(n)
    {
        mem = stest::Memory(4096 * 1024 * 1024ull, 1024 * 1024 * 1024ull, 2048 * 1024 * 1024ull, 512 * 1024 * 1024ull);
        os = OSRelease{QStringLiteral("Held Linux"), QStringLiteral("7"), {}, {}, {}};
        kinfo = KernelInfo{QStringLiteral("Linux"), QStringLiteral("6.1.0"), {}, {}, 3};
    }

    void Hold()
    {
        std::lock_guard l(m_Lock);
        m_Held = true;
        m_Entered = 0;
    }
    void Release()
    {
        {
            std::lock_guard l(m_Lock);
            m_Held = false;
        }
        m_Cond.notify_all();
    }
    // Waits (a bounded while) until a reader waits in the source.
    bool WaitForReader()
    {
        std::unique_lock l(m_Lock);
        return m_Cond.wait_for(l, std::chrono::seconds(10), [this] { return m_Waiting > 0; });
    }
    int Waiting()
    {
        std::lock_guard l(m_Lock);
        return m_Waiting;
    }
    // Readers that came to the held source since Hold.
    int Entered()
    {
        std::lock_guard l(m_Lock);
        return m_Entered;
    }
    int WindowReads() const { return m_WindowReads; }

    std::optional<CpuStat> Cpu() override
    {
        Pass();
        return FakeStatus::Cpu();
    }
    std::optional<MemoryInfo> Memory() override
    {
        Pass();
        return FakeStatus::Memory();
    }
    std::optional<KernelCounts> Counts() override
    {
        Pass();
        return FakeStatus::Counts();
    }
    std::optional<OSRelease> OsRelease() override
    {
        Pass();
        return FakeStatus::OsRelease();
    }

private:
    void Pass()
    {
        if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
            ++m_WindowReads;
            return;
        }
        std::unique_lock l(m_Lock);
        if (!m_Held)
            return;
        ++m_Entered;
        ++m_Waiting;
        m_Cond.notify_all();
        m_Cond.wait(l, [this] { return !m_Held; });
        --m_Waiting;
    }

    std::mutex m_Lock;
    std::condition_variable m_Cond;
    bool m_Held = false;
    int m_Waiting = 0;
    int m_Entered = 0;
    std::atomic<int> m_WindowReads{0};
};

class SystemPageReading : public ::testing::Test
{
protected:
    void TearDown() override
    {
        held().Release();
        form.reset();
        platform::system::SetDefaultStatusSource(nullptr);
        RestoreDefaultUiHooks();
    }

    // Lives as long as the program: a reading left behind by a window closed meanwhile ends in
    // it after the test.
    static HeldStatus &held()
    {
        static HeldStatus *source = new HeldStatus(2);
        return *source;
    }

    // The window over the held machine; its timers are the test's.
    void NewForm()
    {
        UiHooks().ExecModal = [](QDialog *) { return 0; };
        platform::system::SetDefaultStatusSource(&held());
        TColorBox::Reset();
        form = std::make_unique<TFormMain>(nullptr, nullptr);
        for (QTimer *t : {form->tmrProcess, form->tmrTraffic, form->tmrSystem})
            t->stop();
    }
    // Runs the window's loop a while, as the user would wait.
    static void Spin(int Ms)
    {
        QDeadlineTimer deadline(Ms);
        while (!deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    bool Settle()
    {
        QDeadlineTimer deadline(10000);
        while (form->SystemPage->objSystemStatus->Refreshing() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return !form->SystemPage->objSystemStatus->Refreshing();
    }
    TSystemPage &Page() const { return *form->SystemPage; }

    tvtest::OwnHome userHome;
    std::unique_ptr<TFormMain> form;
};

} // namespace

// At start, on the page's selection and on every tick the window answers while the figures wait
// in the kernel; ticks meanwhile start no second reading; the page fills when they are in.
TEST_F(SystemPageReading, TheWindowAnswersWhileTheFiguresWaitAndThePageFillsWhenTheyAreIn)
{
    held().Hold();
    NewForm();
    // The window is made while the first reading waits.
    ASSERT_TRUE(held().WaitForReader());
    EXPECT_EQ(held().WindowReads(), 0);
    tvtest::Pinger ping(form.get());
    form->btnLeftMenu_SystemClick(form->btnLeftMenu_System);
    for (int i = 0; i < 5; ++i) {
        Page().SystemTick();
        Spin(40);
    }
    form->btnLeftMenu_ConfigClick(form->btnLeftMenu_Config);
    form->btnLeftMenu_SystemClick(form->btnLeftMenu_System);
    Spin(100);
    EXPECT_EQ(held().Entered(), 1);
    EXPECT_EQ(form->lblStatusBar->text(), QStringLiteral("CPU: 00% | MEM: 00%"));
    EXPECT_TRUE(Page().lblSysVersion->text().isEmpty());
    held().Release();
    ASSERT_TRUE(Settle());
    EXPECT_LT(ping.Stop().count(), 100);
    EXPECT_EQ(held().WindowReads(), 0);
    EXPECT_EQ(Page().lblSysVersion->text(), QStringLiteral("Held Linux\n7\nLinux 6.1.0\nBuild 3"));
    EXPECT_EQ(form->lblStatusBar->text(), QStringLiteral("CPU: 0 % | MEM: 75 %"));
    EXPECT_EQ(Page().chtCPU->chart()->series().size(), 3);

    // A tick whose reading waits: the point comes when it is in.
    const int points = Page().tsCPU->count();
    held().Hold();
    held().advance(1.0, {0.5, 0.5});
    tvtest::Pinger tickPing(form.get());
    Page().SystemTick();
    ASSERT_TRUE(held().WaitForReader());
    Spin(100);
    EXPECT_EQ(Page().tsCPU->count(), points);
    held().Release();
    ASSERT_TRUE(Settle());
    EXPECT_LT(tickPing.Stop().count(), 100);
    EXPECT_EQ(Page().tsCPU->count(), points + 1);
    EXPECT_EQ(form->lblStatusBar->text(), QStringLiteral("CPU: 50 % | MEM: 75 %"));
    EXPECT_EQ(held().WindowReads(), 0);

    // A window closed while a reading waits goes without it.
    held().Hold();
    Page().SystemTick();
    ASSERT_TRUE(held().WaitForReader());
    form.reset();
    EXPECT_EQ(held().Waiting(), 1);
}

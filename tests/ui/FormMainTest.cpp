#include "common/ServiceList.h"
#include "common/UserDirs.h"
#include "platform_network/Addr.h"
#include "platform_services/FakeSystemd.h"
#include "sysinfo_autoruns/AutorunEnv.h"
#include "ui_network/ConnectionRows.h"
#include "sysinfo/Autoruns.h"
#include "sysinfo/NetworkMonitor.h"
#include "sysinfo/Processes.h"
#include "sysinfo/Services.h"
#include "sysinfo/SystemStatus.h"
#include "platform/network/NetworkSource.h"
#include "platform/processes/ProcessSource.h"
#include "ui/DisplayTexts.h"
#include "ui/PageSwitcher.h"
#include "ui_message/MessageAnswers.h"
#include "ui/UiHooks.h"
#include "ui/frmMain.h"
#include "ui/frmMainAutoruns.h"
#include "ui/frmMainDetails.h"
#include "ui/frmMainNetwork.h"
#include "ui/frmMainProcess.h"
#include "ui/frmMainServices.h"
#include "ui/frmMainSystem.h"
#include "ui/frmMainUpdate.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <QApplication>
#include <QDeadlineTimer>
#include <QChartView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

namespace {

class FormMain : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UiHooks().OpenUrl = [this](const QString &t) {
            opened << t;
            return true;
        };
        form = std::make_unique<TFormMain>();
    }
    void TearDown() override
    {
        form.reset();
        RestoreDefaultUiHooks();
    }
    TPicButton *MenuButton(int page) const
    {
        TPicButton *b[6] = {form->btnLeftMenu_Process, form->btnLeftMenu_Service, form->btnLeftMenu_Autorun,
                            form->btnLeftMenu_Network, form->btnLeftMenu_System,  form->btnLeftMenu_Config};
        return b[page];
    }
    QWidget *Page(int page) const
    {
        QWidget *p[6] = {form->pnlTab_Process, form->pnlTab_Service, form->pnlTab_Autorun,
                         form->pnlTab_Network, form->pnlTab_System,  form->pnlTab_Config};
        return p[page];
    }
    void Type(const QString &text)
    {
        for (QChar c : text) {
            QKeyEvent e(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(form->edtSearch, &e);
        }
    }
    void PressEnter(QWidget *w)
    {
        QKeyEvent e(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QApplication::sendEvent(w, &e);
    }
    // The user's data directory of the objects the form makes: the test's own.
    tvtest::OwnHome userHome;
    std::unique_ptr<TFormMain> form;
    QStringList opened;
};

} // namespace

TEST_F(FormMain, CreationSetsUpTheShell)
{
    EXPECT_EQ(form->size(), QSize(800, 600));
    EXPECT_EQ(form->minimumSize(), QSize(620, 450));
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Taskvane"));
    EXPECT_EQ(form->lblTitle->text(), QStringLiteral("Taskvane"));
    EXPECT_TRUE(form->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(form->palette().color(QPalette::Window), QColor(0xEB, 0xEB, 0xEB));
    EXPECT_TRUE(form->lblVersion->text().startsWith(QStringLiteral("主程序版本：")));
    EXPECT_TRUE(form->lblVersion->text().endsWith(QStringLiteral(" | 进程库版本：0000-00-00")));
    // The system page's first sample is read beside the window and comes in once it is built.
    QDeadlineTimer deadline(10000);
    while (form->SystemPage->objSystemStatus->Refreshing() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^CPU: \\d+ % \\| MEM: \\d+ %$"))
                    .match(form->lblStatusBar->text())
                    .hasMatch())
        << form->lblStatusBar->text().toStdString();
    EXPECT_EQ(form->pnlWaiting->size(), QSize(300, 160));
    EXPECT_FALSE(form->pnlWaiting->isVisibleTo(form.get()));
    for (QTimer *t : {form->tmrProcess, form->tmrTraffic, form->tmrSystem}) {
        EXPECT_TRUE(t->isActive());
        EXPECT_EQ(t->interval(), 1000);
    }
    for (int i = TFormMain::pgProcess; i <= TFormMain::pgNetwork; ++i) {
        const TListPage *s = form->ListPage(i);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->SortColumn, -1);
        EXPECT_EQ(s->HotColumn, -1);
        EXPECT_FALSE(s->SortDescending);
    }
    // Members carry their names, so that they can be found by name.
    for (const char *name : {"lblTitle", "btnLeftMenu_Process", "pnlTab_Service", "tmrProcess", "edtSearch2",
                             "pmSearch", "mniSearch_Yahoo", "imgMainBorder_Resize", "actHelp", "pnlDetails"})
        EXPECT_NE(form->findChild<QObject *>(QLatin1String(name)), nullptr) << name;
    EXPECT_EQ(form->ProcessPage->lvProcesses->columnCount(), 7);
    EXPECT_EQ(form->NetworkPage->lvConnections->model()->columnCount(), 7);
    EXPECT_EQ(form->ServicePage->lvServices->columnCount(), 5);
    EXPECT_EQ(form->AutorunPage->lvAutoruns->columnCount(), 5);
}

TEST_F(FormMain, ProcessPageIsShownFirst)
{
    form->show();
    EXPECT_EQ(form->CurrentPage, TFormMain::pgProcess);
    EXPECT_TRUE(form->pnlTab_Process->isVisible());
    EXPECT_FALSE(form->btnLeftMenu_Process->isEnabled());
    EXPECT_EQ(form->lblTopBarInfo->text(),
              QStringLiteral("[进程管理] 进程: %1").arg(form->ProcessPage->objProcesses->GetCount()));
}

TEST_F(FormMain, PageSwitchingShowsOnePageAndPressesItsButton)
{
    form->show();
    const int order[] = {3, 1, 5, 4, 2, 0, 4};
    for (int page : order) {
        MenuButton(page)->Click();
        EXPECT_EQ(form->CurrentPage, page);
        // The service list is read in the background; the status line says so meanwhile.
        if (page == TFormMain::pgService) {
            EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[服务管理] 正在读取服务列表……"));
            ASSERT_TRUE(tvtest::WaitForServices(form->ServicePage->objServices));
        }
        // So is the autorun list.
        if (page == TFormMain::pgAutorun) {
            EXPECT_EQ(form->lblTopBarInfo->text(), QStringLiteral("[启动配置] 正在读取启动项……"));
            QDeadlineTimer deadline(10000);
            while (form->AutorunPage->objAutoruns->Refreshing() && !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        // The counts are the ones each page's own refresh found.
        const QString status[6] = {
            QStringLiteral("[进程管理] 进程: %1").arg(form->ProcessPage->objProcesses->GetCount()),
            // A machine whose service manager cannot be reached is told from one without services.
            form->ServicePage->objServices->RefreshFailed()
                ? QStringLiteral("[服务管理] 无法连接服务管理器！")
                : QStringLiteral("[服务管理] 服务: %1").arg(form->ServicePage->objServices->GetCount()),
            QStringLiteral("[启动配置] 启动项: %1").arg(form->AutorunPage->objAutoruns->GetCount()),
            QStringLiteral("[网络监控] TCP: %1 | UDP %2")
                .arg(form->NetworkPage->objNetworkMonitor->GetTCPCount())
                .arg(form->NetworkPage->objNetworkMonitor->GetUDPCount()),
            QStringLiteral("[系统信息]"), QStringLiteral("[软件设置]")};
        EXPECT_EQ(form->lblTopBarInfo->text(), status[page]);
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(Page(i)->isVisible(), i == page) << "page " << i << " after " << page;
            EXPECT_EQ(MenuButton(i)->isEnabled(), i != page) << "button " << i << " after " << page;
        }
        EXPECT_EQ(form->TabPanel->CurrentIndex(), page);
    }
    // The system page hides the details panel.
    form->Details->pnlDetails->show();
    MenuButton(TFormMain::pgSystem)->setEnabled(true);
    form->btnLeftMenu_SystemClick(form->btnLeftMenu_System);
    EXPECT_FALSE(form->Details->pnlDetails->isVisible());
}

TEST_F(FormMain, ListPageSelectionResetsSortAndPlacesTheDetailsPanel)
{
    form->show();
    form->ServicePage->SortColumn = 3;
    form->btnLeftMenu_ServiceClick(form->btnLeftMenu_Service);
    EXPECT_EQ(form->ServicePage->SortColumn, -1);
    EXPECT_EQ(form->Details->redtDetails->toPlainText(), QStringLiteral("(请点击列表查看相关详细信息)"));
    EXPECT_EQ(form->Details->pnlDetails->y(), form->ServicePage->lvServices->y() + form->pnlTab_Service->y());
    EXPECT_EQ(form->Details->pnlDetails->height(), form->ServicePage->lvServices->height());
}

TEST_F(FormMain, FoldingTheLeftMenuTwiceRestoresTheLayout)
{
    form->show();
    std::vector<QRect> before;
    for (int i = 0; i < 6; ++i)
        before.push_back(Page(i)->geometry());
    const QImage unfolded = form->btnLeftMenu_Title->PicNormal().toImage();
    form->btnLeftMenu_TitleClick(form->btnLeftMenu_Title);
    EXPECT_FALSE(form->pnlLeftMenu->isVisible());
    EXPECT_FALSE(form->imgLeftMenuBody->isVisible());
    // The chevron turns: the folded menu's button shows another picture in every state.
    EXPECT_FALSE(form->btnLeftMenu_Title->PicNormal().isNull());
    EXPECT_NE(form->btnLeftMenu_Title->PicNormal().toImage(), unfolded);
    EXPECT_FALSE(form->btnLeftMenu_Title->PicMouseHover().isNull());
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Page(i)->x(), before[i].x() - 133) << i;
        EXPECT_EQ(Page(i)->width(), before[i].width() + 133) << i;
        EXPECT_EQ(Page(i)->geometry().right(), before[i].right()) << i;
    }
    EXPECT_EQ(Page(5)->geometry(), before[5]); // the settings page is not moved
    form->btnLeftMenu_TitleClick(form->btnLeftMenu_Title);
    EXPECT_TRUE(form->pnlLeftMenu->isVisible());
    EXPECT_EQ(form->btnLeftMenu_Title->PicNormal().toImage(), unfolded);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(Page(i)->geometry(), before[i]) << i;
}

TEST_F(FormMain, ResizingKeepsTheFrameAnchored)
{
    form->show();
    const QRect page = form->pnlTab_Process->geometry();
    const int closeFromRight = form->width() - form->btnClose->x();
    form->resize(1000, 700);
    EXPECT_EQ(form->pnlTab_Process->width(), page.width() + 200);
    EXPECT_EQ(form->pnlTab_Process->height(), page.height() + 100);
    EXPECT_EQ(form->width() - form->btnClose->x(), closeFromRight);
    EXPECT_EQ(form->imgMainBorder_Resize->geometry().bottomRight(), QPoint(999, 699));
    // The system page's charts: right of 214, split with a 6 pixel gap.
    const int w = form->pnlTab_System->width(), h = form->pnlTab_System->height();
    const int m = int(std::nearbyint((h - 6) / 2.0));
    EXPECT_EQ(form->SystemPage->chtCPU->geometry(), QRect(214, 0, w - 214, m));
    EXPECT_EQ(form->SystemPage->chtMEM->geometry(), QRect(214, m + 6, w - 214, m - 1));
}

TEST_F(FormMain, MaximiseAndRestoreSwitchTheGrip)
{
    form->show();
    const QRect normal = form->geometry();
    form->ToggleMaximize(form->btnMax);
    QApplication::processEvents();
    EXPECT_TRUE(form->isMaximized());
    EXPECT_FALSE(form->imgMainBorder_Resize->isEnabled());
    EXPECT_EQ(form->geometry(), form->screen()->availableGeometry());
    // A maximised window does not move when its title is dragged.
    const QPoint at = form->pos();
    form->TitleMouseDown(form->lblTitle, Qt::LeftButton, Qt::NoModifier, 5, 5);
    QMouseEvent move(QEvent::MouseMove, QPointF(50, 40), QPointF(form->lblTitle->mapToGlobal(QPoint(50, 40))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->lblTitle, &move);
    EXPECT_EQ(form->pos(), at);
    // Double-clicking the title restores it and enables the grip.
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(5, 5), QPointF(form->lblTitle->mapToGlobal(QPoint(5, 5))),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->lblTitle, &dbl);
    QApplication::processEvents();
    EXPECT_FALSE(form->isMaximized());
    EXPECT_TRUE(form->imgMainBorder_Resize->isEnabled());
    EXPECT_EQ(form->size(), normal.size());
}

TEST_F(FormMain, GripResizesButNeverBelowTheMinimum)
{
    form->show();
    auto *grip = form->imgMainBorder_Resize;
    const QPoint origin = form->geometry().topLeft();
    form->imgMainBorder_ResizeMouseDown(grip, Qt::LeftButton, Qt::NoModifier, 0, 0);
    ASSERT_NE(ResizeFrameWindow(), nullptr);
    EXPECT_EQ(ResizeFrameWindow()->geometry(), form->geometry());
    // Dragging far up and left: the frame stops at 620 x 450.
    const QPoint tiny = grip->mapFromGlobal(origin + QPoint(100, 50));
    form->imgMainBorder_ResizeMouseMove(grip, Qt::LeftButton, tiny.x(), tiny.y());
    EXPECT_EQ(ResizeFrameLastRect().size(), QSize(620, 450));
    form->imgMainBorder_ResizeMouseUp(grip, Qt::LeftButton, Qt::NoModifier, tiny.x(), tiny.y());
    EXPECT_EQ(ResizeFrameWindow(), nullptr);
    EXPECT_EQ(form->size(), QSize(620, 450));
    // And a larger drag gives the size of the pointer's position.
    form->imgMainBorder_ResizeMouseDown(grip, Qt::LeftButton, Qt::NoModifier, 0, 0);
    const QPoint big = grip->mapFromGlobal(origin + QPoint(900, 640));
    form->imgMainBorder_ResizeMouseMove(grip, Qt::NoButton, big.x(), big.y()); // no button: ignored
    EXPECT_EQ(ResizeFrameLastRect().size(), form->size());
    form->imgMainBorder_ResizeMouseUp(grip, Qt::LeftButton, Qt::NoModifier, big.x(), big.y());
    EXPECT_EQ(form->size(), QSize(900, 640));
}

TEST_F(FormMain, WaitingPanelIsCentredAndDisablesTheForm)
{
    form->show();
    form->resize(801, 601);
    form->ShowWaiting(QStringLiteral("正在处理..."));
    EXPECT_FALSE(form->isEnabled());
    EXPECT_TRUE(form->pnlWaiting->isVisible());
    EXPECT_EQ(form->pnlWaiting->Caption(), QStringLiteral("正在处理..."));
    // 801 / 2 - 150 = 250.5 and 601 / 2 - 80 = 220.5: halves go to the even neighbour.
    EXPECT_EQ(form->pnlWaiting->pos(), QPoint(250, 220));
    form->HideWaiting();
    EXPECT_TRUE(form->isEnabled());
    EXPECT_FALSE(form->pnlWaiting->isVisible());
}

TEST_F(FormMain, EscHidesTheDetailsPanelUnlessPinned)
{
    form->show();
    form->Details->pnlDetails->show();
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, QString(QChar(27)));
    form->Details->DetailsPinned = true;
    QApplication::sendEvent(form->ProcessPage->lvProcesses, &esc);
    EXPECT_TRUE(form->Details->pnlDetails->isVisible());
    form->Details->DetailsPinned = false;
    QApplication::sendEvent(form->ProcessPage->lvProcesses, &esc);
    EXPECT_FALSE(form->Details->pnlDetails->isVisible());
}

TEST_F(FormMain, SearchOpensTheEscapedAddress)
{
    form->show();
    Type(QStringLiteral("a b&c=d#e"));
    EXPECT_EQ(form->edtSearch->text(), QStringLiteral("a b&c=d#e"));
    PressEnter(form->edtSearch);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], QStringLiteral("http://www.baidu.com/s?word=a%20b%26c%3Dd%23e"));
    // The address parses back to the text as typed, as one query value.
    EXPECT_EQ(QUrl(opened[0]).query(QUrl::FullyDecoded), QStringLiteral("word=a b&c=d#e"));
}

TEST_F(FormMain, SearchWithoutABrowserIsReported)
{
    form->show();
    std::vector<uitest::Shown> shown;
    QList<quint8> answers;
    UiHooks().ExecModal = [&](QDialog *Dialog) { return uitest::AnswerMessageBox(Dialog, shown, answers); };
    UiHooks().OpenUrl = [this](const QString &t) {
        opened << t;
        return false;
    };
    Type(QStringLiteral("taskvane"));
    PressEnter(form->edtSearch);
    EXPECT_EQ(opened.size(), 1);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, QStringLiteral("网页搜索操作失败！\n\ntaskvane"));
    EXPECT_EQ(shown[0].Title, QStringLiteral("失败"));
    EXPECT_EQ(shown[0].Icon, 5);
}

TEST_F(FormMain, SearchKeepsUntrimmedTextAndEncodesChinese)
{
    form->mniSearch_GoogleClick(form->mniSearch_Google);
    form->edtSearch->setText(QStringLiteral(" 进程 "));
    form->btnSearchClick(form->btnSearch);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], QStringLiteral("http://www.google.com/search?&q=%20%E8%BF%9B%E7%A8%8B%20"));
    form->mniSearch_YahooClick(form->mniSearch_Yahoo);
    form->edtSearch->setText(QStringLiteral("100%s"));
    form->btnSearchClick(form->btnSearch);
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[1], QStringLiteral("http://search.yahoo.com/search?p=100%25s"));
}

TEST_F(FormMain, BlankOrEmptySearchOpensNothing)
{
    form->show();
    PressEnter(form->edtSearch);
    form->edtSearch->setText(QStringLiteral("   \t "));
    PressEnter(form->edtSearch);
    PressEnter(form->edtSearch2);
    form->btnSearchClick(form->btnSearch);
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(FormMain, TheHintIsNeverSearchedNorPartOfTheText)
{
    form->show();
    EXPECT_EQ(form->SearchHint, QStringLiteral("百度搜索"));
    EXPECT_EQ(form->edtSearch->placeholderText(), QStringLiteral("百度搜索"));
    EXPECT_TRUE(form->edtSearch->text().isEmpty());
    form->btnSearchClick(form->btnSearch);
    EXPECT_TRUE(opened.isEmpty());
    // Type, delete everything, type one character: only that character is searched.
    Type(QStringLiteral("xy"));
    form->edtSearch->clear();
    EXPECT_EQ(form->edtSearch->placeholderText(), QStringLiteral("百度搜索"));
    Type(QStringLiteral("q"));
    form->btnSearchClick(form->btnSearch);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], QStringLiteral("http://www.baidu.com/s?word=q"));
    // Hint grey, text black.
    EXPECT_EQ(form->edtSearch->palette().color(QPalette::PlaceholderText), QColor(0xC0, 0xC0, 0xC0));
    EXPECT_EQ(form->edtSearch->palette().color(QPalette::Text), QColor(Qt::black));
}

TEST_F(FormMain, ChoosingAnEngineReplacesTheTextByItsHint)
{
    form->edtSearch->setText(QStringLiteral("typed"));
    form->mniSearch_GoogleClick(form->mniSearch_Google);
    EXPECT_TRUE(form->edtSearch->text().isEmpty());
    EXPECT_EQ(form->SearchHint, QStringLiteral("谷歌搜索"));
    EXPECT_EQ(form->SearchURL, QStringLiteral("http://www.google.com/search?&q=%s"));
    EXPECT_EQ(form->btnSearchMenu->PicNormal().size(), QSize(16, 16));
    const QList<QAction *> items = form->pmSearch->actions();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0]->text(), QStringLiteral("百度(Baidu)"));
    EXPECT_EQ(items[1]->text(), QStringLiteral("谷歌(Google)"));
    EXPECT_EQ(items[2]->text(), QStringLiteral("雅虎(Yahoo)"));
    items[2]->trigger();
    EXPECT_EQ(form->SearchHint, QStringLiteral("雅虎搜索"));
}

TEST_F(FormMain, EngineNumbersBeyondTheTableAreIgnored)
{
    form->SetSearchEngine(1);
    for (int bad : {3, 4, 127, 128, 129, 255, -1}) {
        form->SetSearchEngine(bad);
        EXPECT_EQ(form->SearchHint, QStringLiteral("谷歌搜索")) << bad;
        EXPECT_EQ(form->SearchURL, QStringLiteral("http://www.google.com/search?&q=%s")) << bad;
    }
}

TEST_F(FormMain, ClickingIntoTheBoxSelectsTypedText)
{
    form->show();
    form->edtSearch->setText(QStringLiteral("abc"));
    form->edtSearch->deselect();
    form->edtSearchClick(form->edtSearch);
    EXPECT_EQ(form->edtSearch->selectedText(), QStringLiteral("abc"));
}

// One process, one service, one autorun entry and one endpoint of each kind, whose values have a
// backslash (shown doubled) or run past the cut of a shown text.
class SearchValues : public ::testing::Test
{
protected:
    class OneProcess : public platform::processes::ProcessSource
    {
    public:
        bool EnumeratePrimary(std::vector<platform::processes::ProcessEntry> &Out) override
        {
            platform::processes::ProcessEntry e;
            e.Pid = kPid;
            e.Name = kName;
            e.StartTime = kStart;
            e.Uid = 4242;
            Out.push_back(e);
            return true;
        }
        bool EnumerateFallback(std::vector<platform::processes::ProcessEntry> &) override { return false; }
        std::optional<platform::processes::ProcessHandle> Open(quint32 Pid, quint64 Start) override
        {
            if (Pid != kPid || Start != kStart)
                return std::nullopt;
            return platform::processes::ProcessHandle{qint32(Pid), Start, true};
        }
        bool IsAlive(const platform::processes::ProcessHandle &) override { return true; }
        std::optional<platform::processes::ProcStat> Stat(const platform::processes::ProcessHandle &) override
        {
            platform::processes::ProcStat st;
            st.Pid = qint32(kPid);
            st.StartTime = kStart;
            return st;
        }
        std::optional<quint32> Uid(const platform::processes::ProcessHandle &) override { return 4242; }
        std::optional<QString> AccountName(quint32) override { return QString(); }
        std::optional<QString> ExePath(const platform::processes::ProcessHandle &) override { return kLongPath; }
    };

    class OneEndpointEach : public platform::network::NetworkSource
    {
    public:
        bool TcpEndpoints(std::vector<platform::network::Endpoint> &Out) override
        {
            Out.push_back(Owned(nettest::Addr(10, 0, 0, 1), 443, nettest::Addr(10, 0, 0, 2), 5000));
            return true;
        }
        bool UdpEndpoints(std::vector<platform::network::Endpoint> &Out) override
        {
            Out.push_back(Owned(nettest::Addr(10, 0, 0, 1), 53, 0, 0));
            return true;
        }
        bool Interfaces(std::vector<platform::network::InterfaceRow> &) override { return true; }
        bool Addresses(std::vector<platform::network::AddressRow> &) override { return true; }
        std::optional<QString> ProcessPath(quint32, quint64) override { return kLongPath; }
        bool IsKernelProcess(quint32) override { return false; }
        static platform::network::Endpoint Owned(quint32 Local, quint32 LocalPort, quint32 Remote, quint32 RemotePort)
        {
            platform::network::Endpoint e;
            e.Row.State = platform::network::TcpEstablished;
            e.Row.LocalAddress = Local;
            e.Row.LocalPort = LocalPort;
            e.Row.RemoteAddress = Remote;
            e.Row.RemotePort = RemotePort;
            e.Owned = true;
            e.Owner = {kPid, kStart};
            return e;
        }
    };

    static void SetUpTestSuite() { bus = new fakesd::Bus; }
    static void TearDownTestSuite()
    {
        delete bus;
        bus = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(bus->ok()) << "private message bus did not start";
        fakesd::Unit unit = fakesd::Service(QStringLiteral("svc"));
        unit.description = kDisplayName;
        unit.execPath = kLongPath;
        unit.argv = {kLongPath};
        bus->manager.setUnits({unit});
        ASSERT_TRUE(autotest::AutorunEnv::SetRun(autotest::kUserRun, "tool", kLongPath));
        form = std::make_unique<TFormMain>(nullptr, &processes);
        for (QTimer *t : {form->tmrProcess, form->tmrTraffic, form->tmrSystem})
            t->stop();
        form->NetworkPage->objNetworkMonitor->SetSource(&endpoints);
        form->show();
    }
    void TearDown() override { form.reset(); }

    // Selects the row of the page that shows `Cell` in `Column`; false when there is none.
    bool Select(int Page, int Column, const QString &Cell)
    {
        if (Page == TFormMain::pgNetwork) {
            const int row = nettest::RowWith(form->NetworkPage, Column, Cell);
            nettest::SelectRow(form->NetworkPage, row);
            return row >= 0;
        }
        auto *list = static_cast<QTreeWidget *>(form->ListPage(Page)->List());
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            if (list->topLevelItem(i)->text(Column) == Cell) {
                list->clearSelection();
                list->topLevelItem(i)->setSelected(true);
                return true;
            }
        }
        return false;
    }

    static constexpr quint32 kPid = 4194304 + 1234; // no real process carries it
    static constexpr quint64 kStart = 1ull << 60;
    static inline const QString kName = QStringLiteral("a\\b");
    static inline const QString kDisplayName = QStringLiteral("Jobs of C:\\Users");
    // A path as long as the system allows, backslashes in its folders' names.
    static inline const QString kLongPath =
        QStringLiteral("/opt/") + QStringLiteral("dir\\").repeated(900) + QStringLiteral("/tool");

    static fakesd::Bus *bus;
    autotest::AutorunEnv autoruns;
    OneProcess processes;
    OneEndpointEach endpoints;
    tvtest::OwnHome userHome;
    std::unique_ptr<TFormMain> form;
};

fakesd::Bus *SearchValues::bus = nullptr;

TEST_F(SearchValues, TheSearchBoxTakesTheSelectedItemsValueNotItsShownText)
{
    ASSERT_GT(VisibleText(kLongPath).size(), kLongPath.size());
    ASSERT_TRUE(VisibleText(kLongPath).endsWith(QString::fromUtf16(kVisibleTextCut)));
    const struct
    {
        int page;
        int column; // of the cell that finds the row
        QString cell;
        int hot;
        QString text;
    } cases[] = {
        // Processes: column 2 the user (blank here: the name instead), 6 the path, any other the name.
        {TFormMain::pgProcess, 0, VisibleText(kName), 0, kName},
        {TFormMain::pgProcess, 0, VisibleText(kName), 6, kLongPath},
        {TFormMain::pgProcess, 0, VisibleText(kName), 2, kName},
        // Services: column 1 the display name, 4 the command line, any other the name.
        {TFormMain::pgService, 0, QStringLiteral("svc"), 1, kDisplayName},
        {TFormMain::pgService, 0, QStringLiteral("svc"), 3, QStringLiteral("svc")},
        // Autoruns: columns 1, 2 and 3 the description, the command and the location; others the name.
        {TFormMain::pgAutorun, 0, QStringLiteral("tool"), 2, kLongPath},
        {TFormMain::pgAutorun, 0, QStringLiteral("tool"), 3, autotest::kUserRun},
        {TFormMain::pgAutorun, 0, QStringLiteral("tool"), -1, QStringLiteral("tool")},
        // Connections: columns 1, 2 and 5 the local and remote address and the path; others the name.
        {TFormMain::pgNetwork, 1, QStringLiteral("TCP"), 5, kLongPath},
        {TFormMain::pgNetwork, 1, QStringLiteral("TCP"), 1, QStringLiteral("10.0.0.1:443")},
        {TFormMain::pgNetwork, 1, QStringLiteral("TCP"), 2, QStringLiteral("10.0.0.2:5000")},
        {TFormMain::pgNetwork, 1, QStringLiteral("TCP"), 6, QStringLiteral("tool")},
        // "N/A" clears the box.
        {TFormMain::pgNetwork, 1, QStringLiteral("UDP"), 2, QString()},
    };
    // The services' command line is the program with its arguments.
    const QString commandLine = kLongPath;
    TPicButton *menu[] = {form->btnLeftMenu_Process, form->btnLeftMenu_Service, form->btnLeftMenu_Autorun,
                          form->btnLeftMenu_Network};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "page " << c.page << ", hot column " << c.hot);
        if (form->CurrentPage != c.page) {
            menu[c.page]->Click();
            ASSERT_TRUE(tvtest::WaitForServices(form->ServicePage->objServices));
            ASSERT_TRUE(nettest::WaitForNetwork(form->NetworkPage));
        }
        // The lists are read beside the window: their rows come when their readings are in.
        QDeadlineTimer deadline(30000);
        while ((form->AutorunPage->objAutoruns->Refreshing() || !form->ProcessPage->Settled()) &&
               !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ASSERT_TRUE(Select(c.page, c.column, c.cell));
        form->ListPage(c.page)->HotColumn = c.hot;
        form->edtSearch->clear();
        form->UpdateSearchText();
        EXPECT_EQ(form->edtSearch->text(), c.text);
    }
    // The service's command line, whatever its arguments make of it.
    form->btnLeftMenu_ServiceClick(form->btnLeftMenu_Service);
    ASSERT_TRUE(tvtest::WaitForServices(form->ServicePage->objServices));
    ASSERT_TRUE(Select(TFormMain::pgService, 0, QStringLiteral("svc")));
    form->ServicePage->HotColumn = 4;
    form->UpdateSearchText();
    EXPECT_TRUE(form->edtSearch->text().startsWith(commandLine));

    // Without a selected row nothing changes.
    form->edtSearch->setText(QStringLiteral("kept"));
    form->ServicePage->lvServices->clearSelection();
    form->UpdateSearchText();
    EXPECT_EQ(form->edtSearch->text(), QStringLiteral("kept"));
}

TEST_F(FormMain, ClosingStopsTheTimersAndFreesTheSwitcher)
{
    form->show();
    form->btnCloseClick(form->btnClose);
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->tmrProcess->isActive());
    EXPECT_FALSE(form->tmrTraffic->isActive());
    EXPECT_FALSE(form->tmrSystem->isActive());
    EXPECT_EQ(form->TabPanel, nullptr);
    // A late menu click after closing does nothing.
    form->btnLeftMenu_ServiceClick(form->btnLeftMenu_Service);
    EXPECT_EQ(form->CurrentPage, TFormMain::pgProcess);
}

TEST_F(FormMain, PressingTheTitleLeavesTheDoubleClickToTheWindowAndMovesOnlyBeyondTheDragDistance)
{
    form->show();
    const QPoint at = form->pos();
    auto moveTo = [this](int X, int Y) {
        QMouseEvent move(QEvent::MouseMove, QPointF(X, Y), QPointF(form->lblTitle->mapToGlobal(QPoint(X, Y))),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form->lblTitle, &move);
    };
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(20, 10), QPointF(form->lblTitle->mapToGlobal(QPoint(20, 10))),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->lblTitle, &press);
    // A jitter within the drag distance is not a move: the press stays the window's own, so a
    // second click makes a double-click.
    moveTo(21, 10);
    EXPECT_EQ(form->pos(), at);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(21, 10),
                        QPointF(form->lblTitle->mapToGlobal(QPoint(21, 10))), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(form->lblTitle, &release);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(21, 10), QPointF(form->lblTitle->mapToGlobal(QPoint(21, 10))),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->lblTitle, &dbl);
    QApplication::processEvents();
    EXPECT_TRUE(form->isMaximized());
    form->ToggleMaximize(form->btnMax);
    QApplication::processEvents();
    EXPECT_FALSE(form->isMaximized());

    // Beyond the drag distance the window follows the pointer (by hand where, as here, the
    // window system would not move it).
    const QPoint start = form->pos();
    QApplication::sendEvent(form->lblTitle, &press);
    moveTo(20 + 40, 10 + 30);
    QApplication::processEvents();
    EXPECT_EQ(form->pos(), start + QPoint(40, 30));
    QApplication::sendEvent(form->lblTitle, &release);
}

TEST_F(FormMain, MinimiseAndRestoreOnActivation)
{
    form->show();
    // The click leaves the button under the pointer; minimised, it must not stay highlighted.
    const QPointF inside(5, 5), global(form->btnMin->mapToGlobal(QPoint(5, 5)));
    QEnterEvent enter(inside, inside, global);
    QApplication::sendEvent(form->btnMin, &enter);
    QMouseEvent press(QEvent::MouseButtonPress, inside, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form->btnMin, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, inside, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(form->btnMin, &release);
    QApplication::processEvents();
    EXPECT_TRUE(form->isMinimized());
    EXPECT_FALSE(form->btnMin->IsHover());
    EXPECT_FALSE(form->btnMin->IsDown());
    form->RestoreAndRaise();
    QApplication::processEvents();
    EXPECT_FALSE(form->isMinimized());
    EXPECT_TRUE(form->isVisible());
}

TEST_F(FormMain, FoldingKeepsTheListsHorizontalPosition)
{
    form->show();
    // The pinned details panel leaves the lists too narrow for their columns.
    form->Details->SetDetailsPinned(true);
    QApplication::processEvents();
    auto fold = [this] { form->btnLeftMenu_TitleClick(form->btnLeftMenu_Title); };
    for (int page = TFormMain::pgProcess; page <= TFormMain::pgNetwork; ++page) {
        MenuButton(page)->Click();
        QScrollBar *bar = form->ListPage(page)->List()->horizontalScrollBar();
        const int unfolded = bar->maximum();
        ASSERT_GT(unfolded, 0) << page;
        // Left, in between, and right: the right edge lies beyond what the wider list can scroll.
        for (int at : {0, unfolded / 4, unfolded}) {
            bar->setValue(at);
            fold();
            EXPECT_EQ(bar->value(), qMin(at, bar->maximum())) << page << " at " << at;
            EXPECT_LT(bar->maximum(), unfolded) << page;
            fold();
            EXPECT_EQ(bar->value(), at) << page << " unfolded from " << at;
        }
        // Scrolled while folded: unfolding leaves the list where the user took it.
        bar->setValue(unfolded);
        fold();
        bar->setValue(1);
        fold();
        EXPECT_EQ(bar->value(), 1) << page;
    }
}

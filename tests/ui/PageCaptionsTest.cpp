// The captions, order and widths of every page's list columns, and the items of their context
// menus, each page against its own table.

#include "common/UserDirs.h"
#include "sysinfo/Processes.h"
#include "ui/UiHooks.h"
#include "ui/frmMain.h"
#include "ui/frmMainAutoruns.h"
#include "ui/frmMainNetwork.h"
#include "ui/frmMainProcess.h"
#include "ui/frmMainServices.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QTreeWidget>

#include <memory>

namespace {

struct Column
{
    const char16_t *Caption;
    int Width;
};

// One line per menu item: its name and caption ("-" for a separator), a submenu's items indented
// below it.
struct Item
{
    const char *Name;
    const char16_t *Caption;
    int Depth = 0;
};

void ExpectColumns(const QTreeView *List, const std::vector<Column> &Want)
{
    SCOPED_TRACE(List->objectName().toStdString());
    ASSERT_EQ(List->model()->columnCount(), int(Want.size()));
    for (int i = 0; i < int(Want.size()); ++i) {
        EXPECT_EQ(List->model()->headerData(i, Qt::Horizontal).toString(), QString::fromUtf16(Want[size_t(i)].Caption))
            << "column " << i;
        EXPECT_EQ(List->header()->sectionSize(i), Want[size_t(i)].Width) << "column " << i;
    }
}

QStringList MenuLines(const QMenu *Menu, int Depth = 0)
{
    QStringList lines;
    for (const QAction *a : Menu->actions()) {
        const QString indent(Depth * 2, QLatin1Char(' '));
        if (const QMenu *sub = a->menu()) {
            lines << indent + sub->objectName() + QLatin1Char(' ') + a->text();
            lines << MenuLines(sub, Depth + 1);
        } else {
            lines << indent + a->objectName() + QLatin1Char(' ') + (a->isSeparator() ? QStringLiteral("-") : a->text());
        }
    }
    return lines;
}

QStringList Lines(const std::vector<Item> &Items)
{
    QStringList lines;
    for (const Item &i : Items)
        lines << QString(i.Depth * 2, QLatin1Char(' ')) + QLatin1String(i.Name) + QLatin1Char(' ') +
                QString::fromUtf16(i.Caption);
    return lines;
}

class PageCaptions : public ::testing::Test
{
protected:
    void SetUp() override { form = std::make_unique<TFormMain>(); }
    void TearDown() override
    {
        form.reset();
        RestoreDefaultUiHooks();
    }

    tvtest::OwnHome userHome;
    std::unique_ptr<TFormMain> form;
};

} // namespace

TEST_F(PageCaptions, Processes)
{
    ExpectColumns(form->ProcessPage->lvProcesses,
                  {{u"进程名", 120},
                   {u"进程 ID", 55},
                   {u"用户名", 90},
                   {u"CPU", 35},
                   {u"物理内存", 65},
                   {u"虚拟内存", 65},
                   {u"路径", 195}});
    std::vector<Item> menu = {{"mniProcess_Terminate", u"结束进程"},
                              {"mniProcess_TerminateTree", u"结束进程树"},
                              {"mniProcess_Delete", u"删除进程文件"},
                              {"mniProcess_Line1", u"-"},
                              {"mniProcess_Pause", u"暂停进程运行"},
                              {"mniProcess_Resume", u"恢复进程运行"},
                              {"mniProcess_Line2", u"-"},
                              {"mniProcess_Priority", u"设置优先级"},
                              {"mniProcess_Priority_Realtime", u"实时", 1},
                              {"mniProcess_Priority_High", u"高", 1},
                              {"mniProcess_Priority_AboveNormal", u"高于标准", 1},
                              {"mniProcess_Priority_Normal", u"标准", 1},
                              {"mniProcess_Priority_BelowNormal", u"低于标准", 1},
                              {"mniProcess_Priority_Low", u"低", 1},
                              {"mniProcess_Affinity", u"设置 CPU 分配"}};
    QStringList want = Lines(menu);
    // One item per processor, named by its number from 1; none on a machine with one.
    const quint32 processors = form->ProcessPage->objProcesses->ProcessorCount;
    QStringList cpus;
    for (quint32 i = 0; processors >= 2 && i < processors; ++i)
        cpus << QStringLiteral("CPU %1").arg(i + 1);
    want << Lines(
        {{"mniProcess_Line3", u"-"}, {"mniProcess_Location", u"定位文件"}, {"mniProcess_Properties", u"查看属性"}});
    QStringList got = MenuLines(form->ProcessPage->pmProcess);
    // The affinity items' own names are the program's: only their captions are compared.
    QStringList gotCpus;
    for (auto it = got.begin(); it != got.end();) {
        if (it->startsWith(QLatin1String("  mniProcess_Affinity_"))) {
            gotCpus << it->section(QLatin1Char(' '), 3);
            it = got.erase(it);
        } else {
            ++it;
        }
    }
    EXPECT_EQ(got, want);
    EXPECT_EQ(gotCpus, cpus);
    EXPECT_EQ(form->ProcessPage->mniProcess_Affinity->menuAction()->isVisible(), processors >= 2);
}

TEST_F(PageCaptions, Services)
{
    ExpectColumns(form->ServicePage->lvServices,
                  {{u"服务名", 100}, {u"显示名", 150}, {u"当前状态", 70}, {u"启动类型", 70}, {u"命令行", 235}});
    EXPECT_EQ(MenuLines(form->ServicePage->pmService),
              Lines({{"mniService_Start", u"启动服务"},
                     {"mniService_Stop", u"停止服务"},
                     {"mniService_Line1", u"-"},
                     {"mniService_Pause", u"暂停服务"},
                     {"mniService_Resume", u"恢复服务"},
                     {"mniService_Line2", u"-"},
                     {"mniService_Restart", u"重启服务"},
                     {"mniService_Line3", u"-"},
                     {"mniService_StartupType", u"设置启动类型"},
                     {"mniService_StartupType_Automatic", u"自动", 1},
                     {"mniService_StartupType_Manual", u"手动", 1},
                     {"mniService_StartupType_Disabled", u"禁用", 1}}));
}

TEST_F(PageCaptions, Autoruns)
{
    ExpectColumns(form->AutorunPage->lvAutoruns,
                  {{u"标题", 100}, {u"状态", 45}, {u"描述", 120}, {u"命令行", 180}, {u"位置", 180}});
    EXPECT_EQ(MenuLines(form->AutorunPage->pmAutorun),
              Lines({{"mniAutorun_Disable", u"禁用"},
                     {"mniAutorun_Enable", u"启用"},
                     {"mniAutorun_Line", u"-"},
                     {"mniAutorun_Delete", u"删除"}}));
}

TEST_F(PageCaptions, Network)
{
    QTreeView *list = form->NetworkPage->lvConnections;
    ExpectColumns(list,
                  {{u"进程名", 100},
                   {u"类型", 40},
                   {u"本地 IP:端口", 120},
                   {u"远程 IP:端口", 120},
                   {u"当前状态", 80},
                   {u"进程 ID", 55},
                   {u"进程路径", 200}});
    // No context menu: the right button on a selected row opens nothing.
    form->show();
    form->btnLeftMenu_NetworkClick(form->btnLeftMenu_Network);
    // One row of an endpoint of the test's own.
    auto table = std::make_shared<TEndpointTable>();
    table->Rows.push_back(TEndpointRecord());
    TConnectionList endpoints;
    endpoints.Tcp = table;
    form->NetworkPage->ConnectionRows->Reset(endpoints, {0}, false);
    const QModelIndex row = form->NetworkPage->ConnectionRows->index(0, 0);
    list->selectionModel()->select(row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const QPoint at = list->visualRect(row).center();
    QContextMenuEvent menu(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &menu);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_TRUE(form->NetworkPage->PagePanel()->findChildren<QMenu *>().isEmpty());
}

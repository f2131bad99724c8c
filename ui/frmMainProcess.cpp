// The process page of the main window and its commands.

#include "ui/frmMainProcess.h"

#include "dictdb/DBTools.h"
#include "sysinfo/ProcessHelper.h"
#include "sysinfo/Processes.h"
#include "sysinfo/ReadingWorker.h"
#include "sysinfo/Utils.h"
#include "ui/DisplayTexts.h"
#include "ui/frmMainDetails.h"
#include "ui/PageCommon.h"
#include "ui/UiHooks.h"
#include "ui/frmMessage.h"

#include <QAction>
#include <QActionGroup>
#include <QCursor>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QDeadlineTimer>
#include <QStyledItemDelegate>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <limits>

namespace {

// Commands of the process page.
enum : quint8 {
    pcTerminate = 0,
    pcTerminateTree = 1,
    pcDelete = 2,
    pcSuspend = 3,
    pcResume = 4,
    pcPriority = 5,
    pcAffinity = 6,
    pcLocation = 7,
    pcProperties = 8,
};

// Columns of the process list.
enum : int { colName = 0, colPid, colUser, colCPU, colWorkingSet, colPagefile, colPath };

// The new-process panel's height plus the layout's spacing: what the list gives up for it.
constexpr int kNewProcessPanelHeight = 66;

// How long the window waits for a read of a process (the details panel's, a command's) before it
// goes on without it: a read that does not answer by then waits on the process.
constexpr int kAnswerWaitMs = 50;
// How long the window waits for ending a program's processes and deleting its file, which itself
// waits up to a second for the processes to end.
constexpr int kEndAndDeleteWaitMs = 1500;

const char16_t kCriticalRefused[] = u"这是关键系统进程，不允许执行该操作！\r\r%1 [%2]";
const char16_t kSeveralRows[] =
    u"当前有多个进程同时被选中。对多个进程同时执行操作属较危险行为，可能会导致程序或系统异常。"
    u"是否确认对当前选中的多个进程同时执行操作？";
const char16_t kConfirmTerminate[] = u"结束进程可能会导致不可预期的结果，如：数据丢失，程序异常，甚至损坏系统。是否确定"
                                     u"要执行该操作？\r\r结束进程：%1 [%2]";
const char16_t kConfirmTerminateTree[] =
    u"结束进程树将结束该进程和它的子进程。该操作可能会导致不可预期的结果，如：数据丢失，程序异常，甚至损坏系统。"
    u"是否确定要执行该操作？\r\r结束进程树：%1 [%2]";
const char16_t kConfirmDelete[] =
    u"删除进程文件将结束该进程后并删除进程文件。该操作可能会导致不可预期的结果，如：数据丢失，程序异常，甚至损坏系统。"
    u"是否确定要执行该操作？\r\r删除进程文件：%1 [%2]";
const char16_t kConfirmSuspend[] = u"暂停进程运行可能会导致不可预期的结果，如：数据丢失，程序异常，甚至损坏系统。是否确"
                                   u"定要执行该操作？\r\r暂停进程运行：%1 [%2]";
const char16_t kConfirmPriority[] = u"改变进程优先级可能会导致不可预期的结果，如：数据丢失，程序异常，甚至损坏系统。是"
                                    u"否确定要执行该操作？\r\r改变进程优先级：%1 [%2]";
const char16_t kFailTerminate[] = u"结束进程操作失败！\r\r%1 [%2]";
const char16_t kFailTerminateTree[] = u"结束进程树操作失败！\r\r%1 [%2]";
const char16_t kFailDelete[] = u"删除进程文件操作失败！\r\r%1 [%2]";
const char16_t kFailPriority[] = u"设置优先级操作失败！\r\r%1 [%2]";
const char16_t kFailAffinity[] = u"设置 CPU 分配操作失败！\r\r%1 [%2]";
const char16_t kFailSuspend[] = u"暂停进程运行操作失败！\r\r%1 [%2]";
const char16_t kFailResume[] = u"恢复进程运行操作失败！\r\r%1 [%2]";
const char16_t kFailLocation[] = u"定位文件操作失败！\r\r%1 [%2]";
const char16_t kFailProperties[] = u"查看属性操作失败！\r\r%1 [%2]";
const char16_t kFailNewProcess[] = u"进程创建失败！请核实目标路径后重试。或者点击“浏览...”按钮查找目标。";

// What a command acts with: the parameter of the menu item, the affinity item's choice, and the
// file the process runs where its path leads to that very file (read for the commands on files).
struct TCommandArgs
{
    int Param = 0;
    const TProcessAffinityParam *Affinity = nullptr;
    QString File;
    TProcessPage *Page = nullptr;
    // The files the file commands gather, shown beside the window once every row is taken.
    QStringList *Files = nullptr;
    // Among several rows the operations are only asked here, and waited for together.
    std::vector<TProcesses::TOperationAsked> *Asked = nullptr;
};

// An operation on the process, run beside the window: its result, or false when it has not
// answered in time (it then does nothing).
bool Operate(const TCommandArgs &Args, TProcesses::TOperationAsked Asked)
{
    if (Args.Asked) {
        Args.Asked->push_back(std::move(Asked));
        return true;
    }
    return Args.Page->WaitForOperation(Asked);
}

// Suspend and resume report no failure of their own, only one to answer in time.
bool OperateQuietly(const TCommandArgs &Args, TProcesses::TOperationAsked Asked)
{
    const auto handOver = Asked.HandOver;
    Operate(Args, std::move(Asked));
    return !handOver || !handOver->GivenUp();
}

quint16 PriorityOf(const TCommandArgs &Args)
{
    return quint16(Args.Param & 0xFFFF);
}

// The commands of the process page. For one row: a question first where there is one, and a
// failure report where there is a text for it (suspend and resume fail only where what the command
// must read of the process does not come in time). For several rows: no question and no report.
struct TProcessCommand
{
    quint8 Command;
    const char16_t *Question;
    const char16_t *Failure;
    // Refused for a critical process; among several rows, system and critical processes are skipped.
    bool Guarded;
    // Acts on the file the process runs.
    bool OnFile;
    // False: nothing is done for that item.
    bool (*Applies)(const TProcessItem &, const TCommandArgs &);
    // Among several rows, an item the command does not apply to ends the whole command.
    bool StopsAtInapplicable;
    // False when the operation failed.
    bool (*Action)(TProcessItem &, const TCommandArgs &);
};

bool Always(const TProcessItem &, const TCommandArgs &)
{
    return true;
}

// The file a process runs, where its path leads to that very file here: the file manager is
// shown that file, never what the path may name instead (another user's file put at it).
bool HasFile(const TProcessItem &, const TCommandArgs &Args)
{
    return !Args.File.isEmpty();
}

// The file commands gather their files: the file manager is asked beside the window, once every row
// is taken (TProcessPage::ShowFiles), and a failure for one row is reported when it answers.
bool GatherFile(TProcessItem &, const TCommandArgs &Args)
{
    if (Args.Files)
        Args.Files->append(Args.File);
    return true;
}

// Where neither the file manager nor the default program could show the file, the user who
// asked is told so.
const TProcessCommand kProcessCommands[] = {
    {pcTerminate, kConfirmTerminate, kFailTerminate, true, false, Always, false,
     [](TProcessItem &P, const TCommandArgs &A) { return Operate(A, A.Page->objProcesses->AskTerminate(&P)); }},
    {pcTerminateTree, kConfirmTerminateTree, kFailTerminateTree, true, false, Always, false,
     [](TProcessItem &P, const TCommandArgs &A) { return Operate(A, A.Page->objProcesses->AskTerminateTree(&P)); }},
    {pcDelete, kConfirmDelete, kFailDelete, true, false, Always, false,
     [](TProcessItem &P, const TCommandArgs &A) { return A.Page->TerminateAndDelete(P); }},
    {pcSuspend, kConfirmSuspend, kFailSuspend, true, false, Always, false,
     [](TProcessItem &P, const TCommandArgs &A) { return OperateQuietly(A, A.Page->objProcesses->AskSuspend(&P)); }},
    {pcResume, nullptr, kFailResume, true, false, Always, false,
     [](TProcessItem &P, const TCommandArgs &A) { return OperateQuietly(A, A.Page->objProcesses->AskResume(&P)); }},
    {pcPriority, kConfirmPriority, kFailPriority, true, false,
     [](const TProcessItem &, const TCommandArgs &A) { return PriorityOf(A) != 0; }, false,
     [](TProcessItem &P, const TCommandArgs &A) {
         return Operate(A, A.Page->objProcesses->AskSetPriority(&P, PriorityOf(A)));
     }},
    {pcAffinity, nullptr, kFailAffinity, true, false,
     [](const TProcessItem &, const TCommandArgs &A) { return A.Affinity != nullptr; }, false,
     [](TProcessItem &P, const TCommandArgs &A) {
         return Operate(
             A, A.Page->objProcesses->AskSetAffinity(&P, quint32(qMax(0, A.Affinity->CPUIndex)), A.Affinity->Enabled));
     }},
    {pcLocation, nullptr, kFailLocation, false, true, HasFile, false, GatherFile},
    {pcProperties, nullptr, kFailProperties, false, true, HasFile, true, GatherFile},
};

const TProcessCommand *FindProcessCommand(quint8 Command)
{
    for (const TProcessCommand &c : kProcessCommands) {
        if (c.Command == Command)
            return &c;
    }
    return nullptr;
}

// The programs whose end brings the system down, by full path (run by root or a system account:
// see IsCriticalProcess). The program of process 1 is read from the list as well; these stand for
// it where its path cannot be read.
const char16_t *const kCriticalPaths[] = {
    u"/usr/lib/systemd/systemd",
    u"/lib/systemd/systemd",
    u"/sbin/init",
    u"/usr/sbin/init",
    u"/usr/lib/systemd/systemd-journald",
    u"/lib/systemd/systemd-journald",
    u"/usr/lib/systemd/systemd-logind",
    u"/lib/systemd/systemd-logind",
    u"/usr/bin/dbus-daemon",
    u"/bin/dbus-daemon",
    u"/usr/bin/dbus-broker",
    u"/usr/bin/dbus-broker-launch",
};

// One pass: a "%1" in the name is not read as a place for the identifier.
QString ProcessText(const char16_t *Format, const TProcessItem *Item)
{
    return QString::fromUtf16(Format).arg(VisibleText(Item->Name), QString::number(Item->ProcessID));
}

TMessageResult Ask(const char16_t *Format, const TProcessItem *Item)
{
    return AskWarning(ProcessText(Format, Item));
}

void ReportFailure(const char16_t *Format, const TProcessItem *Item)
{
    ::ReportFailure(ProcessText(Format, Item));
}

// Memory cells: kilobytes, "N/A" for nothing (an empty cell where a new row waits for its tick).
QString MemoryText(quint64 Bytes, bool BlankZero)
{
    if (Bytes == 0)
        return BlankZero ? QString() : QStringLiteral("N/A");
    QString text;
    ByteCountText(qint64(qMin<quint64>(Bytes, quint64(std::numeric_limits<qint64>::max()))), text);
    return text;
}

QString CPUText(int Usage)
{
    return QStringLiteral("%1").arg(Usage, 2, 10, QLatin1Char('0'));
}

TPicButton *ProcessButton(QWidget *Parent, const char *Name, const QString &Caption, int Width)
{
    return PageButton(Parent, Name, Caption, QSize(Width, 24));
}

// Paints each process row in the colour of its dictionary state.
class TProcessListDelegate : public TListDelegate
{
public:
    TProcessListDelegate(TProcessPage *Page, QAbstractItemView *View) : TListDelegate(View), m_Page(Page) {}

protected:
    void initStyleOption(QStyleOptionViewItem *Option, const QModelIndex &Index) const override
    {
        TListDelegate::initStyleOption(Option, Index);
        // Identifier and memory right, CPU centred: by column, not stored in every row.
        switch (Index.column()) {
        case colPid:
        case colWorkingSet:
        case colPagefile:
            Option->displayAlignment = Qt::AlignRight | Qt::AlignVCenter;
            break;
        case colCPU:
            Option->displayAlignment = Qt::AlignCenter;
            break;
        default:
            break;
        }
        QColor colour;
        if (!Index.parent().isValid() && m_Page->lvProcessesCustomDrawItem(m_Page->lvProcesses, Index.row(), colour))
            Option->palette.setColor(QPalette::Text, colour);
    }

private:
    TProcessPage *m_Page;
};

} // namespace

// ---- building the page -----------------------------------------------------------------------

TProcessPage::TProcessPage(const TPageContext &Context, QWidget *Page,
                           platform::processes::ProcessSource *ProcessSource)
    : TListPage(Context, Page)
{
    objProcesses = new TProcesses(this, ProcessSource);
    objProcesses->setObjectName(QStringLiteral("objProcesses"));
    objProcesses->OnProcessAdded = [this](QObject *S, quint32 Pid) { objProcessesProcessAdded(S, Pid); };
    objProcesses->OnProcessReloaded = [this](QObject *S, quint32 Pid) { objProcessesProcessReloaded(S, Pid); };
    objProcesses->OnProcessRemoved = [this](QObject *S, quint32 Pid) { objProcessesProcessRemoved(S, Pid); };
    objProcesses->OnRefreshing = [this] { PassStarting(); };
    objProcesses->OnRefreshed = [this](bool Listed) { PassTaken(Listed); };
    objProcesses->OnMemoryRead = [this] { MemoryTaken(); };
    m_DetailsPoll = new QTimer(this);
    m_DetailsPoll->setInterval(20);
    connect(m_DetailsPoll, &QTimer::timeout, this, [this] { DetailsPoll(); });
    BuildProcessPage();
}

TProcessPage::~TProcessPage()
{
    // The list's worker ends first: nothing it hands over reaches a page half gone.
    objProcesses->OnRefreshing = nullptr;
    objProcesses->OnRefreshed = nullptr;
    objProcesses->OnMemoryRead = nullptr;
    delete objProcesses;
    objProcesses = nullptr;
    // The rows go with the list, before the map that points at them.
    DropList();
    m_Rows.clear();
}

void TProcessPage::BuildProcessPage()
{
    QWidget *page = PagePanel();
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    lvProcesses = MakeList(page, "lvProcesses",
                           {{u"进程名", 120},
                            {u"进程 ID", 55},
                            {u"用户名", 90},
                            {u"CPU", 35},
                            {u"物理内存", 65},
                            {u"虚拟内存", 65},
                            {u"路径", 195}});
    lvProcesses->setSelectionMode(QAbstractItemView::ExtendedSelection);
    layout->addWidget(lvProcesses);
    lvProcesses->setItemDelegate(new TProcessListDelegate(this, lvProcesses));
    SetList(lvProcesses);
    // Rows that scroll into view show current values at once.
    connect(lvProcesses->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { UpdateRowsInView(); });
    // Column alignments: identifier and memory right, CPU centred.
    for (int c : {colPid, colWorkingSet, colPagefile})
        lvProcesses->headerItem()->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    lvProcesses->headerItem()->setTextAlignment(colCPU, Qt::AlignCenter);

    // The new-process panel, between the list and the buttons.
    pnlNewProcess = new TSkinImagePanel(page);
    pnlNewProcess->setObjectName(QStringLiteral("pnlNewProcess"));
    pnlNewProcess->SetColor(QColor(0xF7, 0xF9, 0xFC));
    pnlNewProcess->setFrameShape(QFrame::Box);
    pnlNewProcess->setFixedHeight(kNewProcessPanelHeight);
    {
        auto *grid = new QVBoxLayout(pnlNewProcess);
        grid->setContentsMargins(8, 6, 8, 6);
        grid->setSpacing(6);
        auto *top = new QHBoxLayout;
        edtNewProcessPath = new QLineEdit(pnlNewProcess);
        edtNewProcessPath->setObjectName(QStringLiteral("edtNewProcessPath"));
        edtNewProcessPath->setFont(PageFont(12));
        // An instruction, not a path: it shows only while the edit is empty.
        edtNewProcessPath->setPlaceholderText(QStringLiteral("请填写需要创建的进程路径。"));
        btnNewProcessBrowse = ProcessButton(pnlNewProcess, "btnNewProcessBrowse", QStringLiteral("浏览..."), 70);
        top->addWidget(edtNewProcessPath, 1);
        top->addWidget(btnNewProcessBrowse);
        auto *bottom = new QHBoxLayout;
        btnNewProcessOk = ProcessButton(pnlNewProcess, "btnNewProcessOk", QStringLiteral("确定"), 70);
        btnNewProcessCancel = ProcessButton(pnlNewProcess, "btnNewProcessCancel", QStringLiteral("取消"), 70);
        bottom->addStretch(1);
        bottom->addWidget(btnNewProcessOk);
        bottom->addWidget(btnNewProcessCancel);
        grid->addLayout(top);
        grid->addLayout(bottom);
    }
    pnlNewProcess->hide();
    layout->addWidget(pnlNewProcess);

    QHBoxLayout *barLayout = NewButtonBar(page, "pnlProcessButtons");
    QWidget *bar = barLayout->parentWidget();
    btnTerminateProcess = ProcessButton(bar, "btnTerminateProcess", QStringLiteral("结束进程"), 80);
    btnTerminateProcessTree = ProcessButton(bar, "btnTerminateProcessTree", QStringLiteral("结束进程树"), 90);
    btnNewProcess = ProcessButton(bar, "btnNewProcess", QStringLiteral("新建进程..."), 90);
    btnTerminateProcess->setEnabled(false);
    btnTerminateProcessTree->setEnabled(false);
    barLayout->addWidget(btnTerminateProcess);
    barLayout->addWidget(btnTerminateProcessTree);
    barLayout->addStretch(1);
    barLayout->addWidget(btnNewProcess);
    layout->addWidget(bar);

    btnTerminateProcess->OnClick = [this](QObject *S) { btnTerminateProcessClick(S); };
    btnTerminateProcessTree->OnClick = [this](QObject *S) { btnTerminateProcessTreeClick(S); };
    btnNewProcess->OnClick = [this](QObject *S) { btnNewProcessClick(S); };
    btnNewProcessOk->OnClick = [this](QObject *S) { btnNewProcessOkClick(S); };
    btnNewProcessCancel->OnClick = [this](QObject *S) { btnNewProcessCancelClick(S); };
    btnNewProcessBrowse->OnClick = [this](QObject *S) { btnNewProcessBrowseClick(S); };

    // The context menu.
    edtNewProcessPath->installEventFilter(this);

    pmProcess = new QMenu(page);
    pmProcess->setObjectName(QStringLiteral("pmProcess"));
    pmProcess->setFont(PageFont(12));
    mniProcess_Terminate = AddMenuItem(pmProcess, "mniProcess_Terminate", QStringLiteral("结束进程"));
    mniProcess_TerminateTree = AddMenuItem(pmProcess, "mniProcess_TerminateTree", QStringLiteral("结束进程树"));
    mniProcess_Delete = AddMenuItem(pmProcess, "mniProcess_Delete", QStringLiteral("删除进程文件"));
    mniProcess_Line1 = AddMenuLine(pmProcess, "mniProcess_Line1");
    mniProcess_Pause = AddMenuItem(pmProcess, "mniProcess_Pause", QStringLiteral("暂停进程运行"));
    mniProcess_Resume = AddMenuItem(pmProcess, "mniProcess_Resume", QStringLiteral("恢复进程运行"));
    mniProcess_Line2 = AddMenuLine(pmProcess, "mniProcess_Line2");
    mniProcess_Priority = pmProcess->addMenu(QStringLiteral("设置优先级"));
    mniProcess_Priority->setObjectName(QStringLiteral("mniProcess_Priority"));
    mniProcess_Affinity = pmProcess->addMenu(QStringLiteral("设置 CPU 分配"));
    mniProcess_Affinity->setObjectName(QStringLiteral("mniProcess_Affinity"));
    mniProcess_Line3 = AddMenuLine(pmProcess, "mniProcess_Line3");
    mniProcess_Location = AddMenuItem(pmProcess, "mniProcess_Location", QStringLiteral("定位文件"));
    mniProcess_Properties = AddMenuItem(pmProcess, "mniProcess_Properties", QStringLiteral("查看属性"));

    mniProcess_PriorityGroup = new QActionGroup(mniProcess_Priority);
    mniProcess_PriorityGroup->setExclusive(true);
    mniProcess_Priority_Realtime =
        AddMenuItem(mniProcess_Priority, "mniProcess_Priority_Realtime", QStringLiteral("实时"));
    mniProcess_Priority_High = AddMenuItem(mniProcess_Priority, "mniProcess_Priority_High", QStringLiteral("高"));
    mniProcess_Priority_AboveNormal =
        AddMenuItem(mniProcess_Priority, "mniProcess_Priority_AboveNormal", QStringLiteral("高于标准"));
    mniProcess_Priority_Normal = AddMenuItem(mniProcess_Priority, "mniProcess_Priority_Normal", QStringLiteral("标准"));
    mniProcess_Priority_BelowNormal =
        AddMenuItem(mniProcess_Priority, "mniProcess_Priority_BelowNormal", QStringLiteral("低于标准"));
    mniProcess_Priority_Low = AddMenuItem(mniProcess_Priority, "mniProcess_Priority_Low", QStringLiteral("低"));
    for (QAction *a : mniProcess_Priority->actions()) {
        a->setCheckable(true);
        mniProcess_PriorityGroup->addAction(a);
    }

    connect(mniProcess_Terminate, &QAction::triggered, this,
            [this] { mniProcess_TerminateClick(mniProcess_Terminate); });
    connect(mniProcess_TerminateTree, &QAction::triggered, this,
            [this] { mniProcess_TerminateTreeClick(mniProcess_TerminateTree); });
    connect(mniProcess_Delete, &QAction::triggered, this, [this] { mniProcess_DeleteClick(mniProcess_Delete); });
    connect(mniProcess_Pause, &QAction::triggered, this, [this] { mniProcess_PauseClick(mniProcess_Pause); });
    connect(mniProcess_Resume, &QAction::triggered, this, [this] { mniProcess_ResumeClick(mniProcess_Resume); });
    connect(mniProcess_Location, &QAction::triggered, this, [this] { mniProcess_LocationClick(mniProcess_Location); });
    connect(mniProcess_Properties, &QAction::triggered, this,
            [this] { mniProcess_PropertiesClick(mniProcess_Properties); });
    connect(mniProcess_Priority, &QMenu::aboutToShow, this, [this] { mniProcess_PriorityClick(mniProcess_Priority); });
    connect(mniProcess_Affinity, &QMenu::aboutToShow, this, [this] { mniProcess_AffinityClick(mniProcess_Affinity); });
    connect(mniProcess_Priority_Realtime, &QAction::triggered, this,
            [this] { mniProcess_Priority_RealtimeClick(mniProcess_Priority_Realtime); });
    connect(mniProcess_Priority_High, &QAction::triggered, this,
            [this] { mniProcess_Priority_HighClick(mniProcess_Priority_High); });
    connect(mniProcess_Priority_AboveNormal, &QAction::triggered, this,
            [this] { mniProcess_Priority_AboveNormalClick(mniProcess_Priority_AboveNormal); });
    connect(mniProcess_Priority_Normal, &QAction::triggered, this,
            [this] { mniProcess_Priority_NormalClick(mniProcess_Priority_Normal); });
    connect(mniProcess_Priority_BelowNormal, &QAction::triggered, this,
            [this] { mniProcess_Priority_BelowNormalClick(mniProcess_Priority_BelowNormal); });
    connect(mniProcess_Priority_Low, &QAction::triggered, this,
            [this] { mniProcess_Priority_LowClick(mniProcess_Priority_Low); });
}

// ---- rows --------------------------------------------------------------------------------------

bool TProcessPage::RowPid(const QTreeWidgetItem *Row, quint32 &Pid)
{
    // Rows of the lists are the only items of their type: no cast to be searched for in a sort.
    if (!Row || Row->type() != QTreeWidgetItem::UserType + 1)
        return false;
    Pid = static_cast<const TListRow *>(Row)->Pid;
    return true;
}

TProcessItem *TProcessPage::ItemOfRow(int Index) const
{
    const TListRow *row = Row(Index);
    return row ? objProcesses->ItemByPID(row->Pid) : nullptr;
}

TProcessItem *TProcessPage::SelectedProcess() const
{
    const TListRow *row = SelectedRow();
    return row ? objProcesses->ItemByPID(row->Pid) : nullptr;
}

bool TProcessPage::IsSystemPID(quint32 Pid) const
{
    if (Pid == 0)
        return true;
    const TProcessItem *item = objProcesses->ItemByPID(Pid);
    return item && item->IsSystemProcess();
}

void TProcessPage::SetDictionaryState(TProcessItem *Item)
{
    if (!Item)
        return;
    Item->UserData = int(TDictState::Known);
    // A name that comes several times in one fill of the list is looked up once.
    if (m_Filling) {
        const auto known = m_NameStates.constFind(Item->Name);
        if (known != m_NameStates.cend()) {
            Item->UserData = int(*known);
            return;
        }
    }
    QString description;
    bool dangerous = false;
    TDictState state = TDictState::NotInDictionary;
    if (LookupProcess(Item->Name, description, dangerous))
        state = dangerous ? TDictState::Dangerous : TDictState::Known;
    Item->UserData = int(state);
    if (m_Filling)
        m_NameStates.insert(Item->Name, state);
}

namespace {

// The names of one fill share their look-ups until it ends.
class TFillScope
{
public:
    TFillScope(bool &Filling, QHash<QString, TDictState> &States)
        : m_Filling(Filling), m_States(States), m_Outer(!Filling)
    {
        m_Filling = true;
    }
    ~TFillScope()
    {
        if (m_Outer) {
            m_Filling = false;
            m_States.clear();
        }
    }
    TFillScope(const TFillScope &) = delete;
    TFillScope &operator=(const TFillScope &) = delete;

private:
    bool &m_Filling;
    QHash<QString, TDictState> &m_States;
    bool m_Outer;
};

} // namespace

TProcessRow *TProcessPage::MakeProcessRow(TProcessItem *Item, bool BlankZeroCounters)
{
    auto *row = new TProcessRow(this);
    row->Pid = Item->ProcessID;
    row->setData(colName, kImageIndexRole, Item->IconIndex);
    row->setText(colName, VisibleText(Item->Name));
    row->setText(colPid, QString::number(Item->ProcessID));
    row->setText(colUser, VisibleText(Item->UserName));
    row->setText(colCPU, CPUText(Item->CPUUsage));
    row->ShownCPU = Item->CPUUsage;
    if (BlankZeroCounters) {
        // A new process: its counters as the item holds them, empty where zero, until a tick.
        row->setText(colWorkingSet, MemoryText(Item->Memory->WorkingSetSize, true));
        row->setText(colPagefile, MemoryText(Item->Memory->PagefileUsage, true));
        row->ShownWorkingSet = Item->Memory->WorkingSetSize;
        row->ShownPagefile = Item->Memory->PagefileUsage;
        row->MemoryShown = true;
        row->BlankZero = true;
    }
    // Otherwise the memory cells are written as the row comes into view, with counters read then.
    row->setText(colPath, VisibleText(Item->Path));
    // A second row for one identifier would leave the first one without its map entry.
    if (TProcessRow *old = m_Rows.take(Item->ProcessID))
        delete old;
    m_Rows.insert(Item->ProcessID, row);
    return row;
}

void TProcessPage::AddProcessRow(TProcessItem *Item, bool BlankZeroCounters)
{
    lvProcesses->addTopLevelItem(MakeProcessRow(Item, BlankZeroCounters));
    m_OrderDirty = true;
}

void TProcessPage::ClearRows()
{
    m_Rows.clear();
    lvProcesses->clear();
}

void TProcessPage::FillRows()
{
    TFillScope fill(m_Filling, m_NameStates);
    if (objProcesses->GetCount() == 0)
        return;
    lvProcesses->setUpdatesEnabled(false);
    ClearRows();
    QList<QTreeWidgetItem *> rows;
    rows.reserve(objProcesses->GetCount());
    for (int i = 0; i < objProcesses->GetCount(); ++i) {
        TProcessItem *item = objProcesses->GetItem(i);
        if (!item)
            continue;
        rows.append(MakeProcessRow(item, false));
        SetDictionaryState(item);
    }
    // All rows in one insertion: the view lays itself out once.
    lvProcesses->addTopLevelItems(rows);
    m_OrderDirty = true;
    UpdateRowsInView();
    lvProcesses->setUpdatesEnabled(true);
}

void TProcessPage::FillProcessList()
{
    // The rows follow the pass through its events; the first pass fires none.
    if (objProcesses->FirstPass)
        m_FillOnPass = true;
    else
        FillRows();
    ProcessTick();
}

bool TProcessPage::Settled() const
{
    return !objProcesses->Refreshing() && !m_Details && m_MemoryAsked.isEmpty();
}

void TProcessPage::tmrProcessTimer(QObject *)
{
    ProcessTick();
}

bool TProcessPage::SortsByMemory() const
{
    return SortColumn == colWorkingSet || SortColumn == colPagefile;
}

bool TProcessPage::RowsInView(int &First, int &Last) const
{
    const int n = lvProcesses->topLevelItemCount();
    if (n == 0)
        return false;
    const QWidget *viewport = lvProcesses->viewport();
    const QModelIndex top = lvProcesses->indexAt(QPoint(0, 0));
    if (!top.isValid() || viewport->height() <= 0)
        return false;
    const QModelIndex bottom = lvProcesses->indexAt(QPoint(0, viewport->height() - 1));
    First = top.row();
    Last = bottom.isValid() ? bottom.row() : n - 1;
    return First <= Last;
}

void TProcessPage::AskMemory(const QList<quint32> &Pids)
{
    QList<quint32> ask;
    for (const quint32 pid : Pids) {
        if (!m_MemoryAsked.contains(pid)) {
            m_MemoryAsked.insert(pid);
            ask.append(pid);
        }
    }
    objProcesses->ReadMemoryInBackground(ask);
}

void TProcessPage::AskAllMemory()
{
    QList<quint32> stale;
    for (auto it = m_Rows.cbegin(); it != m_Rows.cend(); ++it) {
        const TProcessItem *item = objProcesses->ItemByPID(it.key());
        if (item && !item->MemoryCurrent())
            stale.append(it.key());
    }
    if (stale.isEmpty())
        return;
    m_SortWhenMemoryIn = true;
    AskMemory(stale);
}

void TProcessPage::SetCell(TProcessRow *Row, int Column, const QString &Text)
{
    Row->setText(Column, Text);
    TASKVANE_TEST_SEAM(++CellWrites);
}

bool TProcessPage::UpdateRow(TProcessRow *Row, TProcessItem *Item)
{
    if (Item->CPUUsage != Row->ShownCPU) {
        SetCell(Row, colCPU, CPUText(Item->CPUUsage));
        Row->ShownCPU = Item->CPUUsage;
    }
    if (!Item->MemoryCurrent())
        return false;
    const quint64 workingSet = Item->Memory->WorkingSetSize;
    const quint64 pagefile = Item->Memory->PagefileUsage;
    // A new row's empty cell for a zero counter becomes "N/A" on its first tick.
    const bool rewrite = !Row->MemoryShown || Row->BlankZero;
    if (rewrite || workingSet != Row->ShownWorkingSet)
        SetCell(Row, colWorkingSet, MemoryText(workingSet, false));
    if (rewrite || pagefile != Row->ShownPagefile)
        SetCell(Row, colPagefile, MemoryText(pagefile, false));
    Row->ShownWorkingSet = workingSet;
    Row->ShownPagefile = pagefile;
    Row->MemoryShown = true;
    Row->BlankZero = false;
    return true;
}

void TProcessPage::UpdateRowsInView()
{
    // Within a pass the rows are brought up to date when it ends.
    if (objProcesses->Busy)
        return;
    int first = 0, last = -1;
    if (!RowsInView(first, last))
        return;
    QList<quint32> stale;
    for (int i = first; i <= last; ++i) {
        auto *row = dynamic_cast<TProcessRow *>(lvProcesses->topLevelItem(i));
        TProcessItem *item = row ? objProcesses->ItemByPID(row->Pid) : nullptr;
        if (item && !UpdateRow(row, item))
            stale.append(row->Pid);
    }
    AskMemory(stale);
}

void TProcessPage::MemoryTaken()
{
    // What was asked is in, or could not be read: a row still stale is asked again below.
    if (!objProcesses->ReadingMemory())
        m_MemoryAsked.clear();
    if (m_SortWhenMemoryIn && m_MemoryAsked.isEmpty()) {
        m_SortWhenMemoryIn = false;
        if (SortsByMemory())
            SortList();
    }
    UpdateRowsInView();
}

TProcessPage::TViewAnchor TProcessPage::TakeAnchor() const
{
    TViewAnchor anchor;
    int first = 0, last = -1;
    if (!PagePanel()->isVisible() || !RowsInView(first, last))
        return anchor;
    for (int i = first; i <= last; ++i) {
        quint32 pid = 0;
        if (QTreeWidgetItem *row = lvProcesses->topLevelItem(i); RowPid(row, pid))
            anchor.Rows.append({pid, lvProcesses->visualItemRect(row).top()});
    }
    return anchor;
}

void TProcessPage::KeepAnchor(const TViewAnchor &Anchor)
{
    for (const auto &[pid, top] : Anchor.Rows) {
        TProcessRow *row = m_Rows.value(pid, nullptr);
        if (!row)
            continue; // ended: the next row of the view stands in for it
        const QRect now = lvProcesses->visualItemRect(row);
        const int moved = now.top() - top;
        if (moved == 0 || now.height() <= 0)
            return;
        QScrollBar *bar = lvProcesses->verticalScrollBar();
        if (lvProcesses->verticalScrollMode() == QAbstractItemView::ScrollPerPixel)
            bar->setValue(bar->value() + moved);
        else
            bar->setValue(bar->value() + moved / now.height());
        return;
    }
}

bool TProcessPage::OrderMovesEveryTick() const
{
    return SortColumn == colCPU || SortsByMemory();
}

void TProcessPage::ProcessTick()
{
    QList<quint32> inView;
    const bool all = SortsByMemory() && PagePanel()->isVisible();
    int first = 0, last = -1;
    if (!all && PagePanel()->isVisible() && RowsInView(first, last)) {
        for (int i = first; i <= last; ++i) {
            quint32 pid = 0;
            if (RowPid(lvProcesses->topLevelItem(i), pid))
                inView.append(pid);
        }
    }
    objProcesses->RefreshInBackground(inView, all);
}

void TProcessPage::PassStarting()
{
    // The names of the pass share their look-ups until it is taken in.
    if (!m_Filling) {
        m_Filling = true;
        m_NameStates.clear();
    }
    // A view at the top stays there, so that whatever becomes first shows. In an order that
    // moves every tick the view keeps its place in the order: following a process there would
    // carry it off wherever that process's counters take it. In the other orders rows only come
    // and go: those above the view leave the rows in view where they are.
    const QScrollBar *bar = lvProcesses->verticalScrollBar();
    m_Scroll.Offset = bar->value();
    m_Scroll.AtTop = m_Scroll.Offset <= bar->minimum();
    m_Scroll.KeepOffset = m_Scroll.AtTop || OrderMovesEveryTick();
    m_Scroll.Anchor = m_Scroll.KeepOffset ? TViewAnchor() : TakeAnchor();
}

void TProcessPage::PassTaken(bool)
{
    // The first pass fires no events: the page fills itself.
    if (m_FillOnPass && !objProcesses->FirstPass) {
        m_FillOnPass = false;
        FillRows();
    }
    m_Filling = false;
    m_NameStates.clear();
    const TScroll scroll = std::exchange(m_Scroll, TScroll());
    if (lvProcesses->topLevelItemCount() == 0 || !PagePanel()->isVisible())
        return;
    SetStatusText(StatusText());
    bool sorted = false;
    if (SortColumn != -1 && (m_OrderDirty || OrderMovesEveryTick())) {
        SortList();
        sorted = true;
    }
    m_OrderDirty = false;
    QScrollBar *bar = lvProcesses->verticalScrollBar();
    if (scroll.KeepOffset)
        bar->setValue(scroll.AtTop ? bar->minimum() : scroll.Offset);
    else
        KeepAnchor(scroll.Anchor);
    // A sort still brings the selected row into view.
    if (TListRow *selected = sorted ? SelectedRow() : nullptr)
        ShowRow(selected);
    // Only the rows in view are written: the others are brought up to date as they scroll in.
    UpdateRowsInView();
}

void TProcessPage::objProcessesProcessAdded(QObject *, quint32 dwProcessID)
{
    TProcessItem *item = objProcesses->ItemByPID(dwProcessID);
    if (!item)
        return;
    // The memory cells stay empty until the row is in view on a tick.
    AddProcessRow(item, true);
    SetDictionaryState(item);
}

void TProcessPage::objProcessesProcessReloaded(QObject *, quint32 dwProcessID)
{
    TProcessItem *item = objProcesses->ItemByPID(dwProcessID);
    if (!item)
        return;
    TProcessRow *row = m_Rows.value(dwProcessID, nullptr);
    if (!row)
        return;
    // Items that can never be completed report on every pass: a row whose texts stand is not
    // touched again.
    const QString name = VisibleText(item->Name);
    if (row->text(colName) != name) {
        // A process that runs a new program or renames itself is looked up again.
        SetCell(row, colName, name);
        SetDictionaryState(item);
        m_OrderDirty = true;
    }
    if (row->data(colName, kImageIndexRole).toInt() != item->IconIndex) {
        row->setData(colName, kImageIndexRole, item->IconIndex);
        TASKVANE_TEST_SEAM(++CellWrites);
    }
    const QString user = VisibleText(item->UserName);
    if (row->text(colUser) != user) {
        SetCell(row, colUser, user);
        m_OrderDirty = true;
    }
    const QString path = VisibleText(item->Path);
    if (row->text(colPath) != path) {
        SetCell(row, colPath, path);
        m_OrderDirty = true;
    }
}

void TProcessPage::objProcessesProcessRemoved(QObject *, quint32 dwProcessID)
{
    TProcessRow *row = m_Rows.take(dwProcessID);
    if (!row)
        return;
    const bool shown = row->isSelected();
    delete row;
    // A panel that showed the ended process shows it no more.
    if (shown && m_Context.Details && m_Context.Details->Source == this)
        m_Context.Details->RefreshDetails();
}

void TProcessPage::UpdateProcessButtons()
{
    const TProcessItem *item = SelectedProcess();
    const bool enable = item && !IsSystemPID(item->ProcessID);
    btnTerminateProcess->setEnabled(enable);
    btnTerminateProcessTree->setEnabled(enable);
}

// ---- sorting and drawing -------------------------------------------------------------------------

void TProcessPage::lvProcessesColumnClick(QObject *, int Column)
{
    ListColumnClick(Column);
    // The order is made of current counters, not of what rows out of view last showed: it is
    // made again once they are in.
    if (SortsByMemory())
        AskAllMemory();
    UpdateRowsInView();
}

int TProcessPage::CompareRows(const QTreeWidgetItem *A, const QTreeWidgetItem *B) const
{
    return lvProcessesCompare(lvProcesses, A, B);
}

int TProcessPage::lvProcessesCompare(QObject *, const QTreeWidgetItem *A, const QTreeWidgetItem *B) const
{
    const bool desc = SortDescending;
    switch (SortColumn) {
    case colName:
    case colUser:
    case colPath:
        return CompareTexts(A->text(SortColumn), B->text(SortColumn), desc);
    case colPid:
    case colCPU:
    case colWorkingSet:
    case colPagefile: {
        // Each row's own identifier: rows move while they are sorted, so positions mean nothing.
        auto value = [this](const QTreeWidgetItem *Row) -> long double {
            quint32 pid = 0;
            const TProcessItem *item = RowPid(Row, pid) ? objProcesses->ItemByPID(pid) : nullptr;
            if (!item)
                return 0;
            switch (SortColumn) {
            case colPid:
                return item->ProcessID;
            case colCPU:
                return item->CPUUsage;
            case colWorkingSet:
                return item->Memory->WorkingSetSize;
            default:
                return item->Memory->PagefileUsage;
            }
        };
        return CompareNumbers(desc, value(A), value(B));
    }
    default:
        return 0;
    }
}

bool TProcessPage::lvProcessesCustomDrawItem(QObject *, int Index, QColor &FontColor)
{
    const TProcessItem *item = ItemOfRow(Index);
    if (!item)
        return false;
    switch (TDictState(item->UserData)) {
    case TDictState::Known:
        FontColor = QColor(0, 0, 0);
        return true;
    case TDictState::Dangerous:
        FontColor = QColor(0xFF, 0, 0);
        return true;
    case TDictState::NotInDictionary:
        FontColor = QColor(0, 0, 0xFF);
        return true;
    }
    return false;
}

// ---- mouse and keyboard ----------------------------------------------------------------------------

bool TProcessPage::eventFilter(QObject *Watched, QEvent *Event)
{
    // A list that shows or grows shows current values in the rows it brings into view.
    if (lvProcesses && Watched == lvProcesses->viewport() &&
        (Event->type() == QEvent::Resize || Event->type() == QEvent::Show))
        UpdateRowsInView();
    if (edtNewProcessPath && Watched == edtNewProcessPath && Event->type() == QEvent::KeyPress) {
        auto *e = static_cast<QKeyEvent *>(Event);
        if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
            QChar key(13);
            edtNewProcessPathKeyPress(edtNewProcessPath, key);
            return key.isNull();
        }
        return false;
    }
    return TListPage::eventFilter(Watched, Event);
}

void TProcessPage::SelectItem(QTreeWidgetItem *Item, bool Selected)
{
    lvProcessesSelectItem(lvProcesses, Item, Selected);
}

void TProcessPage::Click()
{
    lvProcessesClick(lvProcesses);
}

void TProcessPage::MouseMove(Qt::MouseButtons Shift, int X, int Y)
{
    lvProcessesMouseMove(lvProcesses, Shift, X, Y);
}

void TProcessPage::MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y)
{
    lvProcessesMouseDown(lvProcesses, Button, Shift, X, Y);
}

void TProcessPage::ColumnClick(int Column)
{
    lvProcessesColumnClick(lvProcesses, Column);
}

void TProcessPage::KeyDown(int &Key, Qt::KeyboardModifiers Shift)
{
    lvProcessesKeyDown(lvProcesses, Key, Shift);
}

void TProcessPage::lvProcessesSelectItem(QObject *, QTreeWidgetItem *, bool Selected)
{
    UpdateProcessButtons();
    ListSelected(Selected);
}

void TProcessPage::lvProcessesClick(QObject *)
{
    ListClick();
}

void TProcessPage::lvProcessesMouseMove(QObject *, Qt::MouseButtons, int X, int Y)
{
    ListMouseMove(X, Y);
}

void TProcessPage::lvProcessesMouseDown(QObject *, Qt::MouseButton Button, Qt::KeyboardModifiers, int, int)
{
    if (Button != Qt::RightButton)
        return;
    const TProcessItem *item = SelectedProcess();
    if (item && !IsSystemPID(item->ProcessID))
        pmProcess->popup(QCursor::pos());
}

void TProcessPage::lvProcessesKeyDown(QObject *, int &Key, Qt::KeyboardModifiers)
{
    if (Key == Qt::Key_Delete)
        btnTerminateProcessClick(btnTerminateProcess);
    // Every other key keeps its meaning in the list.
}

// ---- commands --------------------------------------------------------------------------------------

bool TProcessPage::IsCriticalProcess(const std::optional<platform::processes::ImageFacts> &Facts) const
{
    using platform::processes::IsSystemAccount;
    if (!Facts || Facts->Path.isEmpty() || !IsSystemAccount(Facts->Uids.Real) ||
        !IsSystemAccount(Facts->Uids.Effective))
        return false;
    const QString &path = Facts->Path;
    // The program of process 1, where its path could be read.
    const QString init = objProcesses->InitProgramPath();
    if (!init.isEmpty() && path.compare(init, Qt::CaseInsensitive) == 0)
        return true;
    for (const char16_t *critical : kCriticalPaths) {
        if (path.compare(QString::fromUtf16(critical), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

int TProcessPage::AnswerWaitMs() const
{
    int ms = kAnswerWaitMs;
    TASKVANE_TEST_SEAM(ms = AnswerWait);
    return ms;
}

bool TProcessPage::WaitForOperation(const TProcesses::TOperationAsked &Asked)
{
    return objProcesses->WaitForOperation(Asked, AnswerWaitMs());
}

bool TProcessPage::TerminateAndDelete(TProcessItem &Item)
{
    // The operation waits up to about a second for the processes to end; a file system that keeps
    // it waiting beyond that fails the command, and it then ends and deletes nothing more.
    const auto cancel = std::make_shared<std::atomic<bool>>(false);
    const auto done = objProcesses->AskTerminateAndDelete(&Item, cancel);
    if (!done)
        return false;
    if (!objProcesses->WaitFor(*done, kEndAndDeleteWaitMs)) {
        cancel->store(true);
        return false;
    }
    objProcesses->Forget(done);
    return done->Value().value_or(false);
}

void TProcessPage::ExecuteProcessCommand(quint8 Command, int Param)
{
    RunProcessCommand(Command, Param, nullptr);
    // The panel shows the process as the command left it.
    if (m_Context.Details && m_Context.Details->Source == this)
        m_Context.Details->RefreshDetails();
}

void TProcessPage::ExecuteProcessCommand(quint8 Command, const TProcessAffinityParam *Param)
{
    RunProcessCommand(Command, 0, Param);
    if (m_Context.Details && m_Context.Details->Source == this)
        m_Context.Details->RefreshDetails();
}

void TProcessPage::RunProcessCommand(quint8 Command, int Param, const TProcessAffinityParam *Affinity)
{
    const int selected = int(lvProcesses->selectedItems().size());
    TProcessItem *item = SelectedProcess();
    if (selected == 0 || !item)
        return;
    const TProcessCommand *command = FindProcessCommand(Command);
    TCommandArgs args{Param, Affinity, QString(), this, nullptr, nullptr};
    QStringList files;
    args.Files = &files;

    if (selected > 1) {
        if (AskWarning(QString::fromUtf16(kSeveralRows)) != TMessageResult::Yes || !command)
            return;
        // Rows are looked up again: the list may have moved on while the question was open. What
        // the command must read of each is asked at once and waited for together, a short while.
        struct TRow
        {
            TProcessItem *Item;
            std::shared_ptr<TProcesses::TFactsAnswer> Facts;
            std::shared_ptr<TProcesses::TPathAnswer> File;
        };
        std::vector<TRow> rows;
        for (int i = 0; i < lvProcesses->topLevelItemCount(); ++i) {
            if (!lvProcesses->topLevelItem(i)->isSelected())
                continue;
            TProcessItem *p = ItemOfRow(i);
            if (!p || (command->Guarded && IsSystemPID(p->ProcessID)))
                continue;
            rows.push_back({p, command->Guarded ? objProcesses->AskImageFacts(p) : nullptr,
                            command->OnFile ? objProcesses->AskImagePath(p) : nullptr});
        }
        const QDeadlineTimer deadline(AnswerWaitMs());
        auto in = [&](const TProcessReaders::TJob &Answer) {
            return objProcesses->WaitFor(Answer, int(deadline.remainingTime()));
        };
        struct TForget
        {
            TProcesses &List;
            const std::vector<TRow> &Rows;
            ~TForget()
            {
                for (const TRow &row : Rows) {
                    List.Forget(row.Facts);
                    List.Forget(row.File);
                }
            }
        } forget{*objProcesses, rows};
        // The operations are asked together and given up together when the deadline passes.
        std::vector<TProcesses::TOperationAsked> asked;
        args.Asked = &asked;
        struct TWait
        {
            TProcesses &List;
            const std::vector<TProcesses::TOperationAsked> &Asked;
            const QDeadlineTimer &Deadline;
            ~TWait()
            {
                for (const auto &a : Asked)
                    List.WaitForOperation(a, int(Deadline.remainingTime()));
            }
        } wait{*objProcesses, asked, deadline};
        for (const TRow &row : rows) {
            // Not read in time: passed over as a process that may not be acted on.
            if (row.Facts && (!in(*row.Facts) || IsCriticalProcess(row.Facts->Value())))
                continue;
            TCommandArgs each = args;
            if (row.File && in(*row.File))
                each.File = row.File->Value().value_or(QString());
            if (!command->Applies(*row.Item, each)) {
                if (command->StopsAtInapplicable)
                    break;
                continue;
            }
            command->Action(*row.Item, each);
        }
        if (!files.isEmpty())
            ShowFiles(Command, files, QString());
        return;
    }

    if (IsSystemPID(item->ProcessID))
        return;
    // Every number but the two file commands is refused for a critical process. What a command
    // must read of the process and cannot have in time fails the command.
    if (!command || command->Guarded) {
        const auto facts = objProcesses->AskImageFacts(item);
        if (facts && !objProcesses->WaitFor(*facts, AnswerWaitMs())) {
            if (command && command->Failure)
                ReportFailure(command->Failure, item);
            return;
        }
        objProcesses->Forget(facts);
        if (facts && IsCriticalProcess(facts->Value())) {
            ReportRefusal(ProcessText(kCriticalRefused, item));
            return;
        }
    }
    if (!command)
        return;
    if (command->OnFile) {
        const auto file = objProcesses->AskImagePath(item);
        if (file && !objProcesses->WaitFor(*file, AnswerWaitMs())) {
            ReportFailure(command->Failure, item);
            return;
        }
        if (file)
            args.File = file->Value().value_or(QString());
        objProcesses->Forget(file);
    }
    if (!command->Applies(*item, args))
        return;
    // While a question is open the tick goes on and may free the item: act only on the same one.
    const quint32 pid = item->ProcessID;
    if (command->Question &&
        (Ask(command->Question, item) != TMessageResult::Yes || objProcesses->ItemByPID(pid) != item))
        return;
    if (!command->Action(*item, args) && command->Failure)
        ReportFailure(command->Failure, item);
    if (!files.isEmpty())
        ShowFiles(Command, files, ProcessText(command->Failure, item));
}

void TProcessPage::ShowFiles(quint8 Command, const QStringList &Files, const QString &Failure)
{
    if (!m_ShellWorker)
        m_ShellWorker = std::make_unique<TReadingWorker>(this);
    // One that has answered and waits only for its turn on this thread comes first.
    m_ShellWorker->Await(std::chrono::milliseconds(0));
    // The hook is taken here, on the window's thread; the worker runs it and hands over only the
    // report, which needs nothing of the page or its items.
    const std::function<bool(const QString &)> show =
        Command == pcLocation ? UiHooks().ShowInFileManager : UiHooks().ShowFileProperties;
    const bool started = m_ShellWorker->Start([show, Files, Failure]() -> TReadingWorker::TApply {
        bool shown = true;
        for (const QString &file : Files)
            shown = show(file) && shown;
        if (shown || Failure.isEmpty())
            return {};
        return [Failure] { ::ReportFailure(Failure); };
    });
    // One at a time: a command while another still waits for the file manager is refused, and
    // for one row reported, so that a file manager that never answers piles nothing up.
    if (!started) {
        if (!Failure.isEmpty())
            ::ReportFailure(Failure);
        return;
    }
    // An answer that comes in time is applied in the command's own order.
    m_ShellWorker->Await(std::chrono::milliseconds(AnswerWaitMs()));
}

void TProcessPage::mniProcess_TerminateClick(QObject *)
{
    ExecuteProcessCommand(pcTerminate, 0);
}

void TProcessPage::mniProcess_TerminateTreeClick(QObject *)
{
    ExecuteProcessCommand(pcTerminateTree, 0);
}

void TProcessPage::mniProcess_DeleteClick(QObject *)
{
    ExecuteProcessCommand(pcDelete, 0);
}

void TProcessPage::mniProcess_PauseClick(QObject *)
{
    ExecuteProcessCommand(pcSuspend, 0);
}

void TProcessPage::mniProcess_ResumeClick(QObject *)
{
    ExecuteProcessCommand(pcResume, 0);
}

void TProcessPage::mniProcess_LocationClick(QObject *)
{
    ExecuteProcessCommand(pcLocation, 0);
}

void TProcessPage::mniProcess_PropertiesClick(QObject *)
{
    ExecuteProcessCommand(pcProperties, 0);
}

void TProcessPage::btnTerminateProcessClick(QObject *)
{
    ExecuteProcessCommand(pcTerminate, 0);
}

void TProcessPage::btnTerminateProcessTreeClick(QObject *)
{
    ExecuteProcessCommand(pcTerminateTree, 0);
}

void TProcessPage::mniProcess_Priority_RealtimeClick(QObject *)
{
    ExecuteProcessCommand(pcPriority, int(REALTIME_PRIORITY_CLASS));
}

void TProcessPage::mniProcess_Priority_HighClick(QObject *)
{
    ExecuteProcessCommand(pcPriority, int(HIGH_PRIORITY_CLASS));
}

void TProcessPage::mniProcess_Priority_AboveNormalClick(QObject *)
{
    ExecuteProcessCommand(pcPriority, int(ABOVE_NORMAL_PRIORITY_CLASS));
}

void TProcessPage::mniProcess_Priority_NormalClick(QObject *)
{
    ExecuteProcessCommand(pcPriority, int(NORMAL_PRIORITY_CLASS));
}

void TProcessPage::mniProcess_Priority_BelowNormalClick(QObject *)
{
    ExecuteProcessCommand(pcPriority, int(BELOW_NORMAL_PRIORITY_CLASS));
}

void TProcessPage::mniProcess_Priority_LowClick(QObject *)
{
    ExecuteProcessCommand(pcPriority, int(IDLE_PRIORITY_CLASS));
}

void TProcessPage::mniProcess_PriorityClick(QObject *)
{
    TProcessItem *item = SelectedProcess();
    if (!item)
        return;
    // Read beside the window: a process that does not answer in time shows no mark.
    quint32 priority = 0;
    const auto answer = objProcesses->AskPriority(item);
    if (answer && objProcesses->WaitFor(*answer, AnswerWaitMs())) {
        priority = answer->Value().value_or(0) & 0xFFFF;
        objProcesses->Forget(answer);
    }
    const std::pair<QAction *, quint32> table[] = {
        {mniProcess_Priority_Realtime, REALTIME_PRIORITY_CLASS},
        {mniProcess_Priority_High, HIGH_PRIORITY_CLASS},
        {mniProcess_Priority_AboveNormal, ABOVE_NORMAL_PRIORITY_CLASS},
        {mniProcess_Priority_Normal, NORMAL_PRIORITY_CLASS},
        {mniProcess_Priority_BelowNormal, BELOW_NORMAL_PRIORITY_CLASS},
        {mniProcess_Priority_Low, IDLE_PRIORITY_CLASS},
    };
    for (const auto &[action, value] : table) {
        if (value == priority) {
            action->setChecked(true);
            return;
        }
    }
    // No class of the table: no item stays marked.
    mniProcess_PriorityGroup->setExclusive(false);
    for (const auto &entry : table)
        entry.first->setChecked(false);
    mniProcess_PriorityGroup->setExclusive(true);
}

void TProcessPage::FillAffinityMenu()
{
    mniProcess_Affinity->clear();
    const quint32 n = objProcesses->ProcessorCount;
    if (n < 2) {
        mniProcess_Affinity->menuAction()->setVisible(false);
        return;
    }
    mniProcess_Affinity->menuAction()->setVisible(true);
    for (quint32 i = 0; i < n; ++i) {
        auto *a = new QAction(QStringLiteral("CPU %1").arg(i + 1), mniProcess_Affinity);
        a->setObjectName(QStringLiteral("mniProcess_Affinity_%1").arg(i));
        a->setData(int(i));
        a->setCheckable(true);
        mniProcess_Affinity->addAction(a);
        connect(a, &QAction::triggered, this, [this, a] {
            // The menu has already flipped the mark; the command asks for the mark as it was shown.
            a->setChecked(!a->isChecked());
            mniProcess_AffinitySubItemsClick(a);
        });
    }
}

void TProcessPage::mniProcess_AffinityClick(QObject *)
{
    TProcessItem *item = SelectedProcess();
    if (!item)
        return;
    // One read for every item, beside the window: a process that does not answer in time shows
    // no mark.
    std::optional<std::vector<bool>> mask;
    const auto answer = objProcesses->AskAffinity(item);
    if (answer && objProcesses->WaitFor(*answer, AnswerWaitMs())) {
        mask = answer->Value();
        objProcesses->Forget(answer);
    }
    for (QAction *a : mniProcess_Affinity->actions()) {
        const auto cpu = std::size_t(qMax(0, a->data().toInt()));
        a->setChecked(mask && cpu < objProcesses->ProcessorCount && cpu < mask->size() && (*mask)[cpu]);
    }
}

void TProcessPage::mniProcess_AffinitySubItemsClick(QObject *Sender)
{
    auto *a = qobject_cast<QAction *>(Sender);
    if (!a)
        return;
    TProcessAffinityParam param;
    param.CPUIndex = a->data().toInt();
    param.Enabled = !a->isChecked();
    ExecuteProcessCommand(pcAffinity, &param);
}

// ---- new process panel -------------------------------------------------------------------------

void TProcessPage::btnNewProcessClick(QObject *)
{
    const bool show = pnlNewProcess->isHidden();
    pnlNewProcess->setVisible(show);
    edtNewProcessPath->clear();
    // The list gives the panel its room (the layout takes it from the list's height).
    if (QLayout *l = PagePanel()->layout())
        l->activate();
    if (show)
        edtNewProcessPath->setFocus(Qt::OtherFocusReason);
    if (m_Context.Details)
        m_Context.Details->PlaceBeside(lvProcesses);
}

void TProcessPage::btnNewProcessOkClick(QObject *)
{
    const QString text = edtNewProcessPath->text();
    if (text.trimmed().isEmpty())
        return;
    // The program is looked for and started beside the window: its file may lie on a file system
    // that keeps it waiting. One at a time: OK stays off until the start under way has answered.
    if (!m_StartWorker)
        m_StartWorker = std::make_unique<TReadingWorker>(this);
    const bool started = m_StartWorker->Start([this, text]() -> TReadingWorker::TApply {
        const bool created = TProcessHelper::CreateProcess(text);
        return [this, created, text] { NewProcessStarted(created, text); };
    });
    if (!started)
        return;
    btnNewProcessOk->setEnabled(false);
    // A start that answers in time ends the click as it would have ended it on the window's thread.
    m_StartWorker->Await(std::chrono::milliseconds(AnswerWaitMs()));
}

void TProcessPage::NewProcessStarted(bool Created, const QString &Text)
{
    btnNewProcessOk->setEnabled(true);
    if (!Created)
        ReportFailure(QString::fromUtf16(kFailNewProcess));
    // A panel closed and opened again meanwhile holds another entry: it stays.
    if (!pnlNewProcess->isHidden() && edtNewProcessPath->text() == Text)
        btnNewProcessClick(btnNewProcessOk);
}

void TProcessPage::btnNewProcessCancelClick(QObject *Sender)
{
    if (!pnlNewProcess->isHidden())
        btnNewProcessClick(Sender);
}

void TProcessPage::btnNewProcessBrowseClick(QObject *)
{
    dlgOpenFile.Title = QStringLiteral("浏览");
    // The picker reads "*.exe" as files with the execute permission.
    dlgOpenFile.Filter = QStringLiteral("应用程序(*.exe)|*.exe|所有类型(*.*)|*.*");
    dlgOpenFile.DefaultExt = QStringLiteral("*.*");
    if (dlgOpenFile.Execute(m_Context.Host ? m_Context.Host->HostWindow() : nullptr))
        edtNewProcessPath->setText(dlgOpenFile.FileName);
}

void TProcessPage::edtNewProcessPathKeyPress(QObject *Sender, QChar &Key)
{
    if (Key == QChar(13)) {
        btnNewProcessOkClick(Sender);
        Key = QChar(0);
    }
}

// ---- the page in the window --------------------------------------------------------------------

void TProcessPage::FillPage()
{
    FillProcessList();
}

QString TProcessPage::StatusText() const
{
    return QStringLiteral("[进程管理] 进程: %1").arg(objProcesses->GetCount());
}

void TProcessPage::UpdateButtons()
{
    UpdateProcessButtons();
}

std::optional<QString> TProcessPage::SearchValue(int Hot) const
{
    const TProcessItem *item = SelectedProcess();
    if (!item)
        return std::nullopt;
    return Hot == colUser ? item->UserName : Hot == colPath ? item->Path : item->Name;
}

std::shared_ptr<TProcesses::TDetailsAnswer> TProcessPage::DetailsAnswerFor(TProcessItem *Item)
{
    const quint64 start = Item->ProcessHandle.StartTime;
    if (m_Details && m_Details->Pid == Item->ProcessID && m_Details->StartTime == start)
        return m_Details->Answer;
    if (m_Details)
        objProcesses->Forget(m_Details->Answer);
    m_Details = TDetailsWait{Item->ProcessID, start, objProcesses->AskDetails(Item)};
    return m_Details->Answer;
}

void TProcessPage::DetailsPoll()
{
    if (!m_Details || !m_Details->Answer) {
        m_DetailsPoll->stop();
        m_Details.reset();
        return;
    }
    if (!m_Details->Answer->Done())
        return;
    m_DetailsPoll->stop();
    const TProcessItem *shown = SelectedProcess();
    TDetailsPanel *panel = m_Context.Details;
    // Only a panel that still shows that very process is filled again, with the answer now in.
    if (panel && panel->Source == this && panel->pnlDetails->isVisible() && shown &&
        shown->ProcessID == m_Details->Pid && shown->ProcessHandle.StartTime == m_Details->StartTime) {
        panel->RefreshDetails();
        return;
    }
    objProcesses->Forget(m_Details->Answer);
    m_Details.reset();
}

bool TProcessPage::AddDetails(TDetailsPanel &Panel)
{
    TProcessItem *item = SelectedProcess();
    if (!item)
        return false;
    // What only a read of the process tells is read off the window's thread. The fill waits a
    // short while for it; a read that waits on the process leaves those lines empty, and the panel
    // is filled again when it answers.
    const auto answer = DetailsAnswerFor(item);
    const bool waited = m_Details && m_Details->Waited;
    const bool in = !answer || objProcesses->WaitFor(*answer, waited ? 0 : AnswerWaitMs());
    const TProcessDetails *read = (answer && in && answer->Value()) ? &*answer->Value() : nullptr;
    if (in) {
        if (answer)
            objProcesses->Forget(answer);
        m_Details.reset();
        m_DetailsPoll->stop();
    } else {
        m_Details->Waited = true;
        m_DetailsPoll->start();
    }
    if (read && read->Memory)
        item->Memory->TakeAll(*read->Memory, read->Faults);
    if (read && read->Times)
        item->Times->Take(*read->Times);
    auto number = [in, read](int Value) { return in ? QString::number(read ? Value : 0) : QString(); };
    QString text;
    Panel.AddDetailLine(QStringLiteral("进程名"), VisibleText(item->Name), true);
    Panel.AddDetailLine(QStringLiteral("进程 ID"), QString::number(item->ProcessID), true);
    Panel.AddDetailLine(QStringLiteral("父进程 ID"), QString::number(item->ParentProcessID), true);
    Panel.AddDetailLine(QStringLiteral("会话 ID"), QString::number(item->SessionID), true);
    text.clear();
    if (in)
        DateTimeText(item->Times->StartTime, text);
    Panel.AddDetailLine(QStringLiteral("创建时间"), text, true);
    // The separator is the program's own; the two names are the system's.
    Panel.AddDetailLine(QStringLiteral("用户"),
                        QStringLiteral("%1\\%2").arg(VisibleText(item->Domain), VisibleText(item->UserName)), true);
    Panel.AddDetailLine(QStringLiteral("路径"), VisibleText(item->Path), true);
    Panel.AddDetailLine(QStringLiteral("命令行"), VisibleText(item->CommandLine), true);
    text.clear();
    if (in)
        PriorityText(read ? read->Priority : 0, text);
    Panel.AddDetailLine(QStringLiteral("优先级"), text, true);
    Panel.AddDetailLine(QStringLiteral("线程数"), number(read ? read->Threads : 0), true);
    Panel.AddDetailLine(QStringLiteral("模块数"), number(read ? read->Modules : 0), true);
    Panel.AddDetailLine(QStringLiteral("句柄数"), number(read ? read->Handles : 0), true);
    const TProcessMemory &m = *item->Memory;
    ByteCountText(qint64(m.WorkingSetSize), text);
    Panel.AddDetailLine(QStringLiteral("物理内存使用"), text, true);
    ByteCountText(qint64(m.PeakWorkingSetSize), text);
    Panel.AddDetailLine(QStringLiteral("物理内存峰值"), text, true);
    ByteCountText(qint64(m.PagefileUsage), text);
    Panel.AddDetailLine(QStringLiteral("虚拟内存使用"), text, true);
    ByteCountText(qint64(m.PeakPagefileUsage), text);
    Panel.AddDetailLine(QStringLiteral("虚拟内存峰值"), text, true);
    // What is said of the file comes from the file the process runs, never from what its path
    // names now: the version only where the path is that very file, the digest from the file itself,
    // opened through the process by the digest's own worker.
    Panel.AddDetailLine(QStringLiteral("文件版本"), VisibleText(read ? read->Version : QString()), true);
    Panel.AddDigestLine(QStringLiteral("MD5 值"), objProcesses->ImageOpener(item), true);

    QString description;
    bool dangerous = false;
    const bool found = LookupProcess(item->Name, description, dangerous);
    if (found && dangerous)
        Panel.AddWarning(QStringLiteral("[警告 - 危险进程]\r"));
    // The description is the dictionary's, the program's own text: its line breaks stay breaks.
    Panel.AddDetailLine(QStringLiteral("进程描述"),
                        found ? description : QStringLiteral("抱歉！没有找到该进程相关信息。"), true);
    Panel.AddDisclaimer(QStringLiteral("\r(声明：进程描述信息均搜集自网络，仅供参考！)"));
    return true;
}

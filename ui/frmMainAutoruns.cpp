// The autoruns page of the main window and its commands.

#include "ui/frmMainAutoruns.h"

#include "sysinfo/Autoruns.h"
#include "sysinfo/ReadingWorker.h"
#include "sysinfo/Utils.h"
#include "ui/DisplayTexts.h"
#include "ui/frmMainDetails.h"
#include "ui/PageCommon.h"

#include <QAction>
#include <QCursor>
#include <QHBoxLayout>
#include <QMenu>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <chrono>
#include <utility>

namespace {

// Commands of the page.
enum : quint8 { acEnable = 0, acDisable = 1, acDelete = 2 };

// Columns of the list.
enum : int { colTitle = 0, colState, colDescription, colCommand, colLocation };

// The command a page button runs when clicked; none when the property is not set.
const char kClickCommand[] = "AutorunClickCommand";

const char16_t kFailEnable[] = u"启用启动项操作失败！\r\r%1";
const char16_t kFailDisable[] = u"禁用启动项操作失败！\r\r%1";
const char16_t kFailDelete[] = u"删除启动项操作失败！\r\r%1";

// How long the details wait for a program's file before they show what the list found.
constexpr std::chrono::milliseconds kProgramWait(25);

// The entry index a row holds; false for a row without one.
bool RowIndex(const TListRow *Row, int &Index)
{
    if (!Row || Row->Index < 0)
        return false;
    Index = Row->Index;
    return true;
}

// A Startup-folder entry lies in a folder of the user's; a Run-key entry's location is the name of
// the key as the program writes it, backslashes and all.
QString LocationText(const TAutorunItem *Item)
{
    return Item->RunType == TAutorunRunType::StartupFolder ? VisibleText(Item->Location) : Item->Location;
}

} // namespace

// ---- building the page -------------------------------------------------------------------------

TAutorunPage::TAutorunPage(const TPageContext &Context, QWidget *Page)
    : TListPage(Context, Page), m_ProgramReader(std::make_unique<TReadingWorker>(this))
{
    BuildAutorunPage();
    objAutoruns->OnRefreshed = [this] { AutorunsRefreshed(); };
}

TAutorunPage::~TAutorunPage()
{
    // Readings under way hand nothing over any more: nothing of the page is reached.
    m_ProgramReader.reset();
    objAutoruns->OnRefreshed = nullptr;
    delete objAutoruns;
    objAutoruns = nullptr;
    DropList();
}

void TAutorunPage::BuildAutorunPage()
{
    QWidget *page = PagePanel();
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    lvAutoruns =
        MakeList(page, "lvAutoruns", {{u"标题", 100}, {u"状态", 45}, {u"描述", 120}, {u"命令行", 180}, {u"位置", 180}});
    layout->addWidget(lvAutoruns);
    objAutoruns = new TAutoruns(this, m_Context.DataDir);
    objAutoruns->setObjectName(QStringLiteral("objAutoruns"));

    SetList(lvAutoruns);
    lvAutoruns->headerItem()->setTextAlignment(colState, Qt::AlignCenter);

    QHBoxLayout *barLayout = NewButtonBar(page, "pnlAutorunButtons");
    QWidget *bar = barLayout->parentWidget();
    const QSize size(100, 20);
    btnEnableAutorun = PageButton(bar, "btnEnableAutorun", QStringLiteral("启用"), size);
    btnDeleteAutorun = PageButton(bar, "btnDeleteAutorun", QStringLiteral("删除"), size);
    btnRefreshAutorunList = PageButton(bar, "btnRefreshAutorunList", QStringLiteral("刷新列表"), size);
    btnEnableAutorun->setEnabled(false);
    btnDeleteAutorun->setEnabled(false);
    barLayout->addStretch(1);
    barLayout->addWidget(btnEnableAutorun);
    barLayout->addWidget(btnDeleteAutorun);
    barLayout->addWidget(btnRefreshAutorunList);
    layout->addWidget(bar);

    // The two command buttons run whatever command UpdateAutorunButtons gave them last.
    for (TPicButton *b : {btnEnableAutorun, btnDeleteAutorun}) {
        b->OnClick = [this](QObject *Sender) {
            if (Sender == btnEnableAutorun)
                btnEnableAutorunClick(Sender);
            else
                btnDeleteAutorunClick(Sender);
            const QVariant command = Sender->property(kClickCommand);
            if (command.isValid())
                AutorunCommand(quint8(command.toUInt()));
        };
    }
    btnRefreshAutorunList->OnClick = [this](QObject *S) { btnRefreshAutorunListClick(S); };

    pmAutorun = new QMenu(page);
    pmAutorun->setObjectName(QStringLiteral("pmAutorun"));
    pmAutorun->setFont(PageFont(12));
    mniAutorun_Disable = AddMenuItem(pmAutorun, "mniAutorun_Disable", QStringLiteral("禁用"));
    mniAutorun_Enable = AddMenuItem(pmAutorun, "mniAutorun_Enable", QStringLiteral("启用"));
    mniAutorun_Line = AddMenuLine(pmAutorun, "mniAutorun_Line");
    mniAutorun_Delete = AddMenuItem(pmAutorun, "mniAutorun_Delete", QStringLiteral("删除"));
    connect(pmAutorun, &QMenu::aboutToShow, this, [this] { pmAutorunPopup(pmAutorun); });
    connect(mniAutorun_Disable, &QAction::triggered, this, [this] { mniAutorun_DisableClick(mniAutorun_Disable); });
    connect(mniAutorun_Enable, &QAction::triggered, this, [this] { mniAutorun_EnableClick(mniAutorun_Enable); });
    connect(mniAutorun_Delete, &QAction::triggered, this, [this] { mniAutorun_DeleteClick(mniAutorun_Delete); });
}

// ---- the list ----------------------------------------------------------------------------------

void TAutorunPage::FillAutorunList()
{
    m_FillWanted = true;
    objAutoruns->RefreshInBackground();
}

void TAutorunPage::RefreshAutorunList()
{
    if (!PagePanel()->isVisible())
        return;
    m_RefreshWanted = true;
    objAutoruns->RefreshInBackground();
    SetStatusText(StatusText());
}

void TAutorunPage::AutorunsRefreshed()
{
    const bool fill = std::exchange(m_FillWanted, false);
    const bool refresh = std::exchange(m_RefreshWanted, false);
    if (!fill && !refresh)
        return;
    ShowAutorunRows();
    if (PagePanel()->isVisible())
        SetStatusText(StatusText());
    // A column clicked while the list was being read keeps its order.
    if (SortColumn != -1)
        SortList();
    // The rows are new: none is selected.
    UpdateAutorunButtons();
    if (m_Context.Details && m_Context.Details->Source == this)
        m_Context.Details->RefreshDetails();
}

void TAutorunPage::ShowAutorunRows()
{
    lvAutoruns->setUpdatesEnabled(false);
    // Rows hold indexes into the component's list: none of the old ones may stay.
    lvAutoruns->clear();
    QList<QTreeWidgetItem *> rows;
    rows.reserve(objAutoruns->GetCount());
    for (int i = 0; i < objAutoruns->GetCount(); ++i) {
        const TAutorunItem *entry = objAutoruns->GetItem(i);
        auto *row = new TListRow(this);
        row->Index = i;
        row->setData(colTitle, kImageIndexRole, entry->Program.IconIndex);
        row->setText(colTitle, VisibleText(entry->Name));
        QString state;
        EnabledText(entry->Active, state);
        row->setText(colState, state);
        row->setTextAlignment(colState, Qt::AlignCenter);
        row->setText(colDescription, VisibleText(entry->Program.FileDescription));
        row->setText(colCommand, VisibleText(entry->Command));
        row->setText(colLocation, LocationText(entry));
        rows.append(row);
    }
    lvAutoruns->addTopLevelItems(rows);
    lvAutoruns->setUpdatesEnabled(true);
}

TAutorunItem *TAutorunPage::SelectedAutorun() const
{
    int index = 0;
    if (!RowIndex(SelectedRow(), index))
        return nullptr;
    return objAutoruns->GetItem(index);
}

void TAutorunPage::UpdateAutorunButtons()
{
    const TAutorunItem *item = SelectedAutorun();
    if (item) {
        btnEnableAutorun->setEnabled(true);
        btnEnableAutorun->SetCaption(item->Active ? QStringLiteral("禁用") : QStringLiteral("启用"));
        btnEnableAutorun->setProperty(kClickCommand, uint(item->Active ? acDisable : acEnable));
        btnDeleteAutorun->setEnabled(true);
        btnDeleteAutorun->setProperty(kClickCommand, uint(acDelete));
    } else {
        btnEnableAutorun->setEnabled(false);
        btnEnableAutorun->SetCaption(QStringLiteral("..."));
        btnEnableAutorun->setProperty(kClickCommand, QVariant());
        btnDeleteAutorun->setEnabled(false);
        btnDeleteAutorun->setProperty(kClickCommand, QVariant());
    }
}

// ---- commands ----------------------------------------------------------------------------------

void TAutorunPage::AutorunCommand(quint8 Code)
{
    const TAutorunItem *item = SelectedAutorun();
    int index = 0;
    if (!item || !RowIndex(SelectedRow(), index))
        return;
    // A deleted entry is freed by the operation: its name is kept for the report.
    const QString name = item->Name;
    switch (Code) {
    case acEnable:
        if (item->Active)
            return;
        if (!objAutoruns->Enable(index))
            ReportFailure(kFailEnable, name);
        break;
    case acDisable:
        if (!item->Active)
            return;
        if (!objAutoruns->Disable(index))
            ReportFailure(kFailDisable, name);
        break;
    case acDelete:
        if (!objAutoruns->Delete(index))
            ReportFailure(kFailDelete, name);
        break;
    default:
        break;
    }
    // The rows show at once what the command changed; the list read afresh follows.
    if (PagePanel()->isVisible()) {
        ShowAutorunRows();
        if (SortColumn != -1)
            SortList();
    }
    RefreshAutorunList();
    UpdateAutorunButtons();
    // The rows were rebuilt: the panel no longer shows the entry as it was before the command.
    if (m_Context.Details && m_Context.Details->Source == this)
        m_Context.Details->RefreshDetails();
}

void TAutorunPage::mniAutorun_DisableClick(QObject *)
{
    AutorunCommand(acDisable);
}

void TAutorunPage::mniAutorun_EnableClick(QObject *)
{
    AutorunCommand(acEnable);
}

void TAutorunPage::mniAutorun_DeleteClick(QObject *)
{
    AutorunCommand(acDelete);
}

void TAutorunPage::btnEnableAutorunClick(QObject *) {}

void TAutorunPage::btnDeleteAutorunClick(QObject *) {}

void TAutorunPage::btnRefreshAutorunListClick(QObject *)
{
    RefreshAutorunList();
}

void TAutorunPage::pmAutorunPopup(QObject *)
{
    const TAutorunItem *item = SelectedAutorun();
    if (!item)
        return;
    mniAutorun_Enable->setEnabled(!item->Active);
    mniAutorun_Disable->setEnabled(item->Active);
}

// ---- mouse and sorting ---------------------------------------------------------------------------

void TAutorunPage::lvAutorunsSelectItem(QObject *, QTreeWidgetItem *, bool Selected)
{
    UpdateAutorunButtons();
    ListSelected(Selected);
}

void TAutorunPage::lvAutorunsClick(QObject *)
{
    ListClick();
}

void TAutorunPage::lvAutorunsMouseMove(QObject *, Qt::MouseButtons, int X, int Y)
{
    ListMouseMove(X, Y);
}

void TAutorunPage::lvAutorunsMouseDown(QObject *, Qt::MouseButton Button, Qt::KeyboardModifiers, int, int)
{
    if (Button != Qt::RightButton || !SelectedAutorun())
        return;
    pmAutorun->popup(QCursor::pos());
}

void TAutorunPage::lvAutorunsColumnClick(QObject *, int Column)
{
    ListColumnClick(Column);
}

int TAutorunPage::lvAutorunsCompare(QObject *, const QTreeWidgetItem *A, const QTreeWidgetItem *B) const
{
    return CompareListTexts(A, B);
}

int TAutorunPage::CompareRows(const QTreeWidgetItem *A, const QTreeWidgetItem *B) const
{
    return lvAutorunsCompare(lvAutoruns, A, B);
}

void TAutorunPage::SelectItem(QTreeWidgetItem *Item, bool Selected)
{
    lvAutorunsSelectItem(lvAutoruns, Item, Selected);
}

void TAutorunPage::Click()
{
    lvAutorunsClick(lvAutoruns);
}

void TAutorunPage::MouseMove(Qt::MouseButtons Shift, int X, int Y)
{
    lvAutorunsMouseMove(lvAutoruns, Shift, X, Y);
}

void TAutorunPage::MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y)
{
    lvAutorunsMouseDown(lvAutoruns, Button, Shift, X, Y);
}

void TAutorunPage::ColumnClick(int Column)
{
    lvAutorunsColumnClick(lvAutoruns, Column);
}

// ---- the page in the window --------------------------------------------------------------------

void TAutorunPage::FillPage()
{
    FillAutorunList();
}

QString TAutorunPage::StatusText() const
{
    if (objAutoruns->Refreshing())
        return QStringLiteral("[启动配置] 正在读取启动项……");
    return QStringLiteral("[启动配置] 启动项: %1").arg(objAutoruns->GetCount());
}

void TAutorunPage::UpdateButtons()
{
    UpdateAutorunButtons();
}

std::optional<QString> TAutorunPage::SearchValue(int Hot) const
{
    const TAutorunItem *item = SelectedAutorun();
    if (!item)
        return std::nullopt;
    // Sub-item k of a row stands in column k + 1.
    switch (Hot) {
    case 1:
        return item->Program.FileDescription;
    case 2:
        return item->Command;
    case 3:
        return item->Location;
    default:
        return item->Name;
    }
}

bool TAutorunPage::AddDetails(TDetailsPanel &Panel)
{
    const TAutorunItem *item = SelectedAutorun();
    if (!item)
        return false;
    QString text;
    Panel.AddDetailLine(QStringLiteral("标题"), VisibleText(item->Name), true);
    EnabledText(item->Active, text);
    Panel.AddDetailLine(QStringLiteral("状态"), text, true);
    Panel.AddDetailLine(QStringLiteral("命令行"), VisibleText(item->Command), true);
    Panel.AddDetailLine(QStringLiteral("位置"), LocationText(item), true);
    AddProgramLines(Panel, *item);
    return true;
}

void TAutorunPage::AddProgramLines(TDetailsPanel &Panel, const TAutorunItem &Item)
{
    TAutorunProgram program = Item.Program;
    if (m_ProgramAnswer && m_ProgramAnswer->Command == Item.Command) {
        program = m_ProgramAnswer->Program;
    } else {
        m_ProgramAsked = Item.Command;
        m_AwaitingProgram = true;
        if (AskProgram(Item.Command))
            m_ProgramReader->Await(kProgramWait);
        m_AwaitingProgram = false;
        if (m_ProgramAnswer && m_ProgramAnswer->Command == Item.Command) {
            program = m_ProgramAnswer->Program;
            m_ProgramAsked.clear();
        }
    }
    m_ProgramAnswer.reset();
    Panel.AddVersionLines(program.ProductName, program.FileDescription, program.CompanyName, program.LegalCopyright);
}

bool TAutorunPage::AskProgram(const QString &Command)
{
    // One at a time: a program still being read asks for the wanted one when it is in.
    return m_ProgramReader->Start([this, Command]() -> TReadingWorker::TApply {
        const TAutorunProgram program = TAutoruns::ReadProgram(Command);
        return [this, Command, program] { ProgramRead(Command, program); };
    });
}

void TAutorunPage::ProgramRead(const QString &Command, const TAutorunProgram &Program)
{
    m_ProgramAnswer = TProgramAnswer{Command, Program};
    if (m_AwaitingProgram)
        return; // the details being filled take it
    if (m_ProgramAsked != Command) {
        // An entry asked for earlier: the one wanted now is read next.
        m_ProgramAnswer.reset();
        if (!m_ProgramAsked.isEmpty())
            AskProgram(m_ProgramAsked);
        return;
    }
    m_ProgramAsked.clear();
    // The panel fills again with the answer while it still shows that entry.
    const TAutorunItem *item = SelectedAutorun();
    TDetailsPanel *details = m_Context.Details;
    if (details && details->Source == this && details->pnlDetails->isVisible() && item && item->Command == Command)
        details->RefreshDetails();
    m_ProgramAnswer.reset();
}

// The autoruns page of the main window and its commands.

#include "ui/frmMain.h"

#include "sysinfo/Autoruns.h"
#include "sysinfo/FileProperties.h"
#include "sysinfo/Utils.h"
#include "ui/DisplayTexts.h"
#include "ui/PageCommon.h"

#include <QAction>
#include <QCursor>
#include <QHBoxLayout>
#include <QMenu>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// Commands of the page.
enum : quint8 { acEnable = 0, acDisable = 1, acDelete = 2 };

// Columns of the list.
enum : int { colTitle = 0, colState, colDescription, colCommand, colLocation };

// The row data: the entry's index in the component's list, in column 0.
constexpr int EntryIndexRole = Qt::UserRole;
// The command a page button runs when clicked; none when the property is not set.
const char kClickCommand[] = "AutorunClickCommand";

const char16_t kFailEnable[] = u"启用启动项操作失败！\r\r%1";
const char16_t kFailDisable[] = u"禁用启动项操作失败！\r\r%1";
const char16_t kFailDelete[] = u"删除启动项操作失败！\r\r%1";

// The entry index a row holds; false for a row without one.
bool RowIndex(const QTreeWidgetItem *Row, int &Index)
{
    if (!Row)
        return false;
    const QVariant v = Row->data(colTitle, EntryIndexRole);
    if (!v.isValid())
        return false;
    bool ok = false;
    Index = v.toInt(&ok);
    return ok;
}

} // namespace

// ---- building the page -------------------------------------------------------------------------

void TFormMain::BuildAutorunPage(QLayout *Layout)
{
    auto *layout = static_cast<QVBoxLayout *>(Layout);
    objAutoruns = new TAutoruns(this);
    objAutoruns->setObjectName(QStringLiteral("objAutoruns"));

    new TListMouseEvents(this, lvAutoruns,
                         {&TFormMain::lvAutorunsMouseMove, &TFormMain::lvAutorunsClick, &TFormMain::lvAutorunsMouseDown});
    PrepareList(lvAutoruns, &TFormMain::lvAutorunsColumnClick, &TFormMain::lvAutorunsSelectItem);
    lvAutoruns->headerItem()->setTextAlignment(colState, Qt::AlignCenter);

    QHBoxLayout *barLayout = NewButtonBar(pnlTab_Autorun, "pnlAutorunButtons");
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
    btnRefreshAutorunList->OnClick = [this](QObject *s) { btnRefreshAutorunListClick(s); };

    pmAutorun = new QMenu(this);
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

void TFormMain::FillAutorunList()
{
    objAutoruns->Refresh();
    lvAutoruns->setUpdatesEnabled(false);
    // Rows hold indexes into the list just rebuilt: none of the old ones may stay.
    lvAutoruns->clear();
    TFileProperties properties;
    for (int i = 0; i < objAutoruns->GetCount(); ++i) {
        const TAutorunItem *entry = objAutoruns->GetItem(i);
        QString path;
        ParseCommandLine(entry->Command, 0, path);
        properties.LoadFromFile(path);
        auto *row = new TFormRow(this, QTreeWidgetItem::UserType + 3, lvAutoruns, &TFormMain::lvAutorunsCompare);
        row->setData(colTitle, EntryIndexRole, i);
        row->setData(colTitle, ImageIndexRole, properties.GeneralInfo()->IconIndex);
        row->setText(colTitle, entry->Name);
        QString state;
        EnabledText(entry->Active, state);
        row->setText(colState, state);
        row->setTextAlignment(colState, Qt::AlignCenter);
        row->setText(colDescription, properties.VersionInfo()->FileDescription);
        row->setText(colCommand, entry->Command);
        row->setText(colLocation, entry->Location);
        lvAutoruns->addTopLevelItem(row);
        properties.Clear();
    }
    lvAutoruns->setUpdatesEnabled(true);
}

void TFormMain::RefreshAutorunList()
{
    if (!pnlTab_Autorun->isVisible())
        return;
    FillAutorunList();
    lblTopBarInfo->setText(QStringLiteral("[启动配置] 启动项: %1").arg(objAutoruns->GetCount()));
    if (Lists[lsAutoruns].SortColumn != -1)
        SortList(lvAutoruns);
}

TAutorunItem *TFormMain::SelectedAutorun() const
{
    int index = 0;
    if (!RowIndex(FirstSelectedRow(lvAutoruns), index))
        return nullptr;
    return objAutoruns->GetItem(index);
}

int TFormMain::AutorunCount() const
{
    return objAutoruns ? objAutoruns->GetCount() : 0;
}

void TFormMain::UpdateAutorunButtons()
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

void TFormMain::AutorunCommand(quint8 Code)
{
    const TAutorunItem *item = SelectedAutorun();
    int index = 0;
    if (!item || !RowIndex(FirstSelectedRow(lvAutoruns), index))
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
    RefreshAutorunList();
    UpdateAutorunButtons();
}

void TFormMain::mniAutorun_DisableClick(QObject *)
{
    AutorunCommand(acDisable);
}

void TFormMain::mniAutorun_EnableClick(QObject *)
{
    AutorunCommand(acEnable);
}

void TFormMain::mniAutorun_DeleteClick(QObject *)
{
    AutorunCommand(acDelete);
}

void TFormMain::btnEnableAutorunClick(QObject *) {}

void TFormMain::btnDeleteAutorunClick(QObject *) {}

void TFormMain::btnRefreshAutorunListClick(QObject *)
{
    RefreshAutorunList();
}

void TFormMain::pmAutorunPopup(QObject *)
{
    const TAutorunItem *item = SelectedAutorun();
    if (!item)
        return;
    mniAutorun_Enable->setEnabled(!item->Active);
    mniAutorun_Disable->setEnabled(item->Active);
}

// ---- mouse and sorting ---------------------------------------------------------------------------

void TFormMain::lvAutorunsSelectItem(QObject *, QTreeWidgetItem *, bool Selected)
{
    UpdateAutorunButtons();
    ListSelected(Selected);
}

void TFormMain::lvAutorunsClick(QObject *)
{
    ListClick(lsAutoruns);
}

void TFormMain::lvAutorunsMouseMove(QObject *, Qt::MouseButtons, int X, int Y)
{
    ListMouseMove(lsAutoruns, X, Y);
}

void TFormMain::lvAutorunsMouseDown(QObject *, Qt::MouseButton Button, Qt::KeyboardModifiers, int, int)
{
    if (Button != Qt::RightButton || !SelectedAutorun())
        return;
    pmAutorun->popup(QCursor::pos());
}

void TFormMain::lvAutorunsColumnClick(QObject *, int Column)
{
    ListColumnClick(lsAutoruns, Column);
}

int TFormMain::lvAutorunsCompare(QObject *, QTreeWidgetItem *A, QTreeWidgetItem *B)
{
    return CompareListTexts(lsAutoruns, A, B);
}

// The autoruns page of the main window and its commands.

#include "ui/frmMain.h"

#include "sysinfo/Autoruns.h"
#include "sysinfo/FileProperties.h"
#include "sysinfo/Utils.h"
#include "ui/DisplayTexts.h"
#include "ui/frmMessage.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCursor>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// Commands of the page.
enum : quint8 { acEnable = 0, acDisable = 1, acDelete = 2 };

// Columns of the list.
enum : int { colTitle = 0, colState, colDescription, colCommand, colLocation };

// The row data: the entry's index in the component's list, in column 0.
constexpr int EntryIndexRole = Qt::UserRole;
// The last sort direction of a column, kept on the header item.
constexpr int ColumnTagRole = Qt::UserRole + 1;
// The command a page button runs when clicked; none when the property is not set.
const char kClickCommand[] = "AutorunClickCommand";

const char16_t kFailEnable[] = u"启用启动项操作失败！\r\r%1";
const char16_t kFailDisable[] = u"禁用启动项操作失败！\r\r%1";
const char16_t kFailDelete[] = u"删除启动项操作失败！\r\r%1";
const char16_t kTitleFailure[] = u"失败";

QFont PageFont(int PixelSize)
{
    QFont f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    f.setFamilies({f.family(), QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
    f.setPixelSize(PixelSize);
    return f;
}

// A page button's face in one state: a rounded, gently shaded plate.
QPixmap ButtonFace(const QSize &Size, const QColor &Top, const QColor &Bottom, const QColor &Border)
{
    QPixmap pm(Size);
    pm.fill(QColor(0xEB, 0xEB, 0xEB));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, Size.height());
    g.setColorAt(0, Top);
    g.setColorAt(1, Bottom);
    QPainterPath path;
    path.addRoundedRect(QRectF(0.5, 0.5, Size.width() - 1, Size.height() - 1), 3, 3);
    p.fillPath(path, g);
    p.setPen(Border);
    p.drawPath(path);
    return pm;
}

TPicButton *PageButton(QWidget *Parent, const char *Name, const QString &Caption)
{
    auto *b = new TPicButton(Parent);
    b->setObjectName(QLatin1String(Name));
    const QSize size(100, 20);
    b->setFixedSize(size);
    b->SetPicNormal(ButtonFace(size, QColor(0xFC, 0xFD, 0xFE), QColor(0xDD, 0xE4, 0xEE), QColor(0x8C, 0x9C, 0xB4)));
    b->SetPicMouseHover(ButtonFace(size, QColor(0xF0, 0xF7, 0xFF), QColor(0xC4, 0xDC, 0xF6), QColor(0x3C, 0x7F, 0xD1)));
    b->SetPicMouseDown(ButtonFace(size, QColor(0xC4, 0xD8, 0xF0), QColor(0xE4, 0xEE, 0xFA), QColor(0x2C, 0x62, 0xA8)));
    b->SetPicDisabled(ButtonFace(size, QColor(0xF4, 0xF4, 0xF4), QColor(0xE8, 0xE8, 0xE8), QColor(0xC0, 0xC0, 0xC0)));
    b->SetCaption(Caption);
    b->SetFont(PageFont(12));
    b->SetFontColor(QColor(0x1F, 0x3A, 0x60));
    b->SetEnableStatesFont(true);
    b->SetFontMouseHover(PageFont(12));
    b->SetFontMouseHoverColor(QColor(0x1F, 0x4F, 0x8F));
    b->SetFontMouseDown(PageFont(12));
    b->SetFontMouseDownColor(QColor(0x1F, 0x4F, 0x8F));
    b->SetFontDisabled(PageFont(12));
    b->SetFontDisabledColor(QColor(0xA0, 0xA0, 0xA0));
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

void ReportFailure(const char16_t *Format, const QString &Name)
{
    TFormMessage::MessageBox(QString::fromUtf16(Format).arg(Name), QString::fromUtf16(kTitleFailure), 5, 0);
}

// An autorun row sorts by the form's comparison of the current sort state.
class TAutorunRow : public QTreeWidgetItem
{
public:
    explicit TAutorunRow(TFormMain *Form) : QTreeWidgetItem(QTreeWidgetItem::UserType + 3), m_Form(Form) {}

    bool operator<(const QTreeWidgetItem &Other) const override
    {
        return m_Form->lvAutorunsCompare(m_Form->lvAutoruns, const_cast<TAutorunRow *>(this),
                                         const_cast<QTreeWidgetItem *>(&Other)) < 0;
    }

private:
    TFormMain *m_Form;
};

// Mouse events of the list, passed to the form.
class TAutorunPageEvents : public QObject
{
public:
    // A child of the list's viewport: it goes with it, and touches neither the list nor the
    // form but for mouse events (none arrives while they are taken down).
    TAutorunPageEvents(TFormMain *Form, QTreeWidget *List)
        : QObject(List->viewport()), m_Form(Form), m_List(List)
    {
    }

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override
    {
        if (Watched != parent())
            return false;
        QTreeWidget *list = m_List;
        switch (Event->type()) {
        case QEvent::MouseMove: {
            auto *e = static_cast<QMouseEvent *>(Event);
            const QPoint p = list->viewport()->mapTo(list, e->position().toPoint());
            m_Form->lvAutorunsMouseMove(list, e->buttons(), p.x(), p.y());
            break;
        }
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent *>(Event)->button() == Qt::LeftButton)
                m_Form->lvAutorunsClick(list);
            break;
        case QEvent::ContextMenu: {
            // Sent after the press has selected the row under the pointer.
            auto *e = static_cast<QContextMenuEvent *>(Event);
            if (e->reason() == QContextMenuEvent::Mouse) {
                const QPoint p = list->viewport()->mapTo(list, e->pos());
                m_Form->lvAutorunsMouseDown(list, Qt::RightButton, e->modifiers(), p.x(), p.y());
                return true;
            }
            break;
        }
        default:
            break;
        }
        return false;
    }

private:
    TFormMain *m_Form;
    QTreeWidget *m_List;
};

// The first selected row of a list, or null.
QTreeWidgetItem *SelectedRow(const QTreeWidget *List)
{
    const int n = List->topLevelItemCount();
    for (int i = 0; i < n; ++i) {
        if (List->topLevelItem(i)->isSelected())
            return List->topLevelItem(i);
    }
    return nullptr;
}

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

    lvAutoruns->setMouseTracking(true);
    lvAutoruns->viewport()->setMouseTracking(true);
    lvAutoruns->viewport()->installEventFilter(new TAutorunPageEvents(this, lvAutoruns));
    lvAutoruns->header()->setSectionsClickable(true);
    lvAutoruns->header()->setSortIndicatorShown(false);
    lvAutoruns->headerItem()->setTextAlignment(colState, Qt::AlignCenter);
    connect(lvAutoruns->header(), &QHeaderView::sectionClicked, this,
            [this](int Column) { lvAutorunsColumnClick(lvAutoruns, Column); });
    connect(lvAutoruns->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection &Selected, const QItemSelection &) {
                QTreeWidgetItem *row = nullptr;
                if (!Selected.isEmpty())
                    row = lvAutoruns->itemFromIndex(Selected.indexes().first());
                lvAutorunsSelectItem(lvAutoruns, row, row != nullptr);
            });

    auto *bar = new QWidget(pnlTab_Autorun);
    bar->setObjectName(QStringLiteral("pnlAutorunButtons"));
    auto *barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(0, 0, 0, 2);
    barLayout->setSpacing(6);
    btnEnableAutorun = PageButton(bar, "btnEnableAutorun", QStringLiteral("启用"));
    btnDeleteAutorun = PageButton(bar, "btnDeleteAutorun", QStringLiteral("删除"));
    btnRefreshAutorunList = PageButton(bar, "btnRefreshAutorunList", QStringLiteral("刷新列表"));
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
    auto item = [this](const char *Name, const QString &Caption) {
        auto *a = new QAction(Caption, pmAutorun);
        a->setObjectName(QLatin1String(Name));
        pmAutorun->addAction(a);
        return a;
    };
    mniAutorun_Disable = item("mniAutorun_Disable", QStringLiteral("禁用"));
    mniAutorun_Enable = item("mniAutorun_Enable", QStringLiteral("启用"));
    mniAutorun_Line = pmAutorun->addSeparator();
    mniAutorun_Line->setObjectName(QStringLiteral("mniAutorun_Line"));
    mniAutorun_Delete = item("mniAutorun_Delete", QStringLiteral("删除"));
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
        auto *row = new TAutorunRow(this);
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
    if (!RowIndex(SelectedRow(lvAutoruns), index))
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
    if (!item || !RowIndex(SelectedRow(lvAutoruns), index))
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
    if (!Selected)
        return;
    if (pnlDetails->isVisible())
        FillDetails();
    UpdateSearchText();
}

void TFormMain::lvAutorunsClick(QObject *)
{
    FillDetails();
    Lists[lsAutoruns].HotColumn = ColumnUnderCursor(lvAutoruns);
    UpdateSearchText();
    activateWindow();
}

void TFormMain::lvAutorunsMouseMove(QObject *, Qt::MouseButtons, int X, int Y)
{
    if (DetailsPinned)
        return;
    QPoint screen;
    ControlToScreen(QPoint(X, Y), lvAutoruns, screen);
    if (qAbs(screen.y() - HoverPoint.y()) > 25) {
        pnlDetails->hide();
        HoverPoint.setY(-1);
    }
}

void TFormMain::lvAutorunsMouseDown(QObject *, Qt::MouseButton Button, Qt::KeyboardModifiers, int, int)
{
    if (Button != Qt::RightButton || !SelectedAutorun())
        return;
    pmAutorun->popup(QCursor::pos());
}

void TFormMain::lvAutorunsColumnClick(QObject *, int Column)
{
    QTreeWidgetItem *header = lvAutoruns->headerItem();
    const int tag = (header->data(Column, ColumnTagRole).toInt() + 1) % 2;
    header->setData(Column, ColumnTagRole, tag);
    Lists[lsAutoruns].SortColumn = Column;
    Lists[lsAutoruns].SortDescending = (tag == 0);
    SortList(lvAutoruns);
}

int TFormMain::lvAutorunsCompare(QObject *, QTreeWidgetItem *A, QTreeWidgetItem *B)
{
    const TListState &state = Lists[lsAutoruns];
    if (state.SortColumn < 0 || state.SortColumn >= lvAutoruns->columnCount())
        return 0;
    return CompareTexts(A->text(state.SortColumn), B->text(state.SortColumn), state.SortDescending);
}

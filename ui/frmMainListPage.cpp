#include "ui/frmMainListPage.h"

#include "ui/DisplayTexts.h"
#include "ui/FormControls.h"
#include "ui/PageCommon.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTreeWidget>

bool TListRow::operator<(const QTreeWidgetItem &Other) const
{
    return m_Page->CompareRows(this, &Other) < 0;
}

TListPage::TListPage(const TPageContext &Context, QWidget *Page) : m_Context(Context), m_Page(Page) {}

TListPage::~TListPage()
{
    DropList();
}

void TListPage::DropList()
{
    QTreeView *list = m_List;
    if (!list)
        return;
    m_List = nullptr;
    m_Rows = nullptr;
    list->viewport()->removeEventFilter(this);
    list->removeEventFilter(this);
    disconnect(list->selectionModel(), nullptr, this, nullptr);
    disconnect(list->header(), nullptr, this, nullptr);
    delete list;
}

void TListPage::SetList(QTreeView *List)
{
    m_List = List;
    m_Rows = qobject_cast<QTreeWidget *>(List);
    List->setMouseTracking(true);
    List->viewport()->setMouseTracking(true);
    List->header()->setSectionsClickable(true);
    List->header()->setSortIndicatorShown(false);
    connect(List->header(), &QHeaderView::sectionClicked, this, [this](int Column) { ColumnClick(Column); });
    connect(List->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection &Selected, const QItemSelection &) {
                if (!m_List)
                    return;
                QTreeWidgetItem *row = nullptr;
                if (m_Rows && !Selected.isEmpty())
                    row = m_Rows->itemFromIndex(Selected.indexes().first());
                SelectItem(row, m_Rows ? row != nullptr : !Selected.isEmpty());
            });
    List->viewport()->installEventFilter(this);
    List->installEventFilter(this);
    if (m_Context.Details)
        m_Context.Details->AddList(m_Page, List);
}

bool TListPage::eventFilter(QObject *Watched, QEvent *Event)
{
    if (!m_List)
        return false;
    if (Watched == m_List && Event->type() == QEvent::KeyPress) {
        auto *e = static_cast<QKeyEvent *>(Event);
        int key = e->key();
        KeyDown(key, e->modifiers());
        return key == 0;
    }
    if (Watched != m_List->viewport())
        return false;
    switch (Event->type()) {
    case QEvent::MouseMove: {
        auto *e = static_cast<QMouseEvent *>(Event);
        const QPoint p = m_List->viewport()->mapTo(m_List, e->position().toPoint());
        MouseMove(e->buttons(), p.x(), p.y());
        break;
    }
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent *>(Event)->button() == Qt::LeftButton)
            Click();
        break;
    case QEvent::ContextMenu: {
        // Sent after the press has selected the row under the pointer.
        auto *e = static_cast<QContextMenuEvent *>(Event);
        if (e->reason() == QContextMenuEvent::Mouse) {
            const QPoint p = m_List->viewport()->mapTo(m_List, e->pos());
            MouseDown(Qt::RightButton, e->modifiers(), p.x(), p.y());
            return true;
        }
        break;
    }
    default:
        break;
    }
    return false;
}

void TListPage::MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {}

void TListPage::KeyDown(int &, Qt::KeyboardModifiers) {}

void TListPage::ListSelected(bool Selected)
{
    if (!Selected)
        return;
    if (m_Context.Details && m_Context.Details->pnlDetails->isVisible())
        m_Context.Details->FillDetails();
    if (m_Context.Host)
        m_Context.Host->UpdateSearchText();
}

void TListPage::ListClick()
{
    if (m_Context.Details)
        m_Context.Details->FillDetails();
    HotColumn = ColumnUnderCursor(m_List);
    if (m_Context.Host) {
        m_Context.Host->UpdateSearchText();
        // The window takes the focus; the list keeps it inside the window.
        m_Context.Host->HostWindow()->activateWindow();
    }
}

void TListPage::ListMouseMove(int X, int Y)
{
    if (!m_Context.Details)
        return;
    QPoint screen;
    ControlToScreen(QPoint(X, Y), m_List, screen);
    m_Context.Details->PointerMoved(screen);
}

void TListPage::ListColumnClick(int Column)
{
    // The tag lives in the header's data: a tree widget's header item, or the page's model.
    QAbstractItemModel *model = m_List->model();
    const int tag = (model->headerData(Column, Qt::Horizontal, kColumnTagRole).toInt() + 1) % 2;
    model->setHeaderData(Column, Qt::Horizontal, tag, kColumnTagRole);
    SortColumn = Column;
    SortDescending = (tag == 0);
    SortList();
}

int TListPage::CompareListTexts(const QTreeWidgetItem *A, const QTreeWidgetItem *B) const
{
    if (!A || !B || !m_Rows || SortColumn < 0 || SortColumn >= m_Rows->columnCount())
        return 0;
    return CompareTexts(A->text(SortColumn), B->text(SortColumn), SortDescending);
}

int TListPage::CompareRows(const QTreeWidgetItem *A, const QTreeWidgetItem *B) const
{
    return CompareListTexts(A, B);
}

void TListPage::SortList()
{
    if (!m_Rows || m_Rows->columnCount() == 0)
        return;
    const int column = qBound(0, SortColumn, m_Rows->columnCount() - 1);
    // The rows' own comparison holds the direction, so the model sorts them ascending.
    m_Rows->sortItems(column, Qt::AscendingOrder);
    if (TListRow *row = SelectedRow())
        ShowRow(row);
}

void TListPage::ShowRow(QTreeWidgetItem *Row)
{
    // Up or down only: a list scrolled sideways stays where the user took it.
    QScrollBar *across = m_Rows->horizontalScrollBar();
    const int at = across->value();
    m_Rows->scrollToItem(Row, QAbstractItemView::EnsureVisible);
    across->setValue(at);
}

void TListPage::ShowIndex(const QModelIndex &Index)
{
    if (!m_List || !Index.isValid())
        return;
    QScrollBar *across = m_List->horizontalScrollBar();
    const int at = across->value();
    m_List->scrollTo(Index, QAbstractItemView::EnsureVisible);
    across->setValue(at);
}

TListRow *TListPage::Row(int Index) const
{
    if (!m_Rows || Index < 0 || Index >= m_Rows->topLevelItemCount())
        return nullptr;
    return dynamic_cast<TListRow *>(m_Rows->topLevelItem(Index));
}

QTreeWidgetItem *TListPage::SelectedItem() const
{
    if (!m_Rows)
        return nullptr;
    const QList<QTreeWidgetItem *> selected = m_Rows->selectedItems();
    if (selected.isEmpty())
        return nullptr;
    // The first selected row in the list's order.
    QTreeWidgetItem *first = nullptr;
    int firstIndex = -1;
    for (QTreeWidgetItem *item : selected) {
        const int i = m_Rows->indexOfTopLevelItem(item);
        if (i >= 0 && (firstIndex < 0 || i < firstIndex)) {
            firstIndex = i;
            first = item;
        }
    }
    return first;
}

TListRow *TListPage::SelectedRow() const
{
    return dynamic_cast<TListRow *>(SelectedItem());
}

void TListPage::SetStatusText(const QString &Text)
{
    if (m_Context.TopBarInfo)
        m_Context.TopBarInfo->setText(Text);
}

#pragma once

#include "ui/frmMainDetails.h"

#include <QObject>
#include <QString>
#include <QTreeWidgetItem>

#include <optional>

class QEvent;
class QModelIndex;
class QTreeView;
class QTreeWidget;
class QWidget;
class TLabel;
class TListPage;

// What a page asks of the window that holds it.
class TPageHost
{
public:
    virtual ~TPageHost() = default;
    // Disables the window and shows a waiting text until HideWaiting.
    virtual void ShowWaiting(const QString &Text) = 0;
    virtual void HideWaiting() = 0;
    // Copies a cell of the current page's clicked row into the search box.
    virtual void UpdateSearchText() = 0;
    // The window that dialogs and menus belong to.
    virtual QWidget *HostWindow() = 0;
};

// What every page gets from the window: the host, the details panel, the status label and the
// user's data directory, where whatever a page's components write lies.
struct TPageContext
{
    TPageHost *Host = nullptr;
    TDetailsPanel *Details = nullptr;
    TLabel *TopBarInfo = nullptr;
    QString DataDir;
};

// A row of a page's list. It keeps what identifies its item, and sorts by its page's comparison
// of the page's current sort state.
class TListRow : public QTreeWidgetItem
{
public:
    explicit TListRow(TListPage *Page) : QTreeWidgetItem(UserType + 1), m_Page(Page) {}

    bool operator<(const QTreeWidgetItem &Other) const override;

    // The process the row stands for (process rows).
    quint32 Pid = 0;
    // The item's index in its component's list (services, autoruns, endpoints); -1 for none.
    int Index = -1;

private:
    TListPage *m_Page;
};

// A page of the main window built around one list: the sort state of the list, the column under
// the pointer at the last click, and what every list does alike (the details panel follows the
// clicked row and closes when the pointer moves away; a header click sorts). The list is a tree
// widget of TListRow rows, or a tree view over a model of the page's own (the page then sorts,
// finds its selected row and gives its search values itself).
class TListPage : public QObject, public TDetailsSource
{
public:
    TListPage(const TPageContext &Context, QWidget *Page);
    ~TListPage() override;

    // Column of the last column click, -1 = unsorted; its direction; the column under the
    // pointer at the last click into the list, -1 = none.
    int SortColumn = -1;
    bool SortDescending = false;
    int HotColumn = -1;

    QWidget *PagePanel() const { return m_Page; }
    QTreeView *List() const { return m_List; }

    // Selecting the page: its rows, its status text, its buttons.
    virtual void FillPage() = 0;
    virtual QString StatusText() const = 0;
    virtual void UpdateButtons() = 0;
    // What the search box takes for a click into column Hot (-1 for none, which gives the row
    // caption's): the selected row's item's own value, never the text shown for it, which may be
    // escaped or cut. Nothing without a selected row.
    virtual std::optional<QString> SearchValue(int Hot) const = 0;
    // -1, 0 or 1 for row A before, level with or after row B in the current sort state.
    virtual int CompareRows(const QTreeWidgetItem *A, const QTreeWidgetItem *B) const;

    // Sorts the list by its current sort state and keeps the selected row in view.
    virtual void SortList();
    // Scrolls the row fully into view, keeping the horizontal position.
    void ShowRow(QTreeWidgetItem *Row);
    // The list's row of the given index, or null.
    TListRow *Row(int Index) const;
    // The first selected row in the list's order, or null; as the page's own row type.
    QTreeWidgetItem *SelectedItem() const;
    TListRow *SelectedRow() const;

    // Takes the list down while the page is whole: its rows sort and paint through the page.
    void DropList();

protected:
    // Makes the page's list: mouse tracking, a header that sorts on click without an indicator,
    // selection changes, clicks, moves, the context menu and keys passed to the handlers below.
    // A tree view has its model set first, and passes no row to SelectItem.
    void SetList(QTreeView *List);
    // Scrolls the row of the index fully into view, keeping the horizontal position.
    void ShowIndex(const QModelIndex &Index);

    // After a selection change has set the page's buttons: a selected row fills the details
    // (when they show) and the search text.
    void ListSelected(bool Selected);
    void ListClick();
    // The pointer leaving the row the details were opened for hides them (unless pinned).
    void ListMouseMove(int X, int Y);
    // A header click flips the column's direction and sorts by it.
    void ListColumnClick(int Column);
    // The two rows' texts in the sort column, in the sort direction.
    int CompareListTexts(const QTreeWidgetItem *A, const QTreeWidgetItem *B) const;
    // The status label, written while the page shows.
    void SetStatusText(const QString &Text);

    // The list's events, each handed to the page's own handler.
    virtual void SelectItem(QTreeWidgetItem *Item, bool Selected) = 0;
    virtual void Click() = 0;
    virtual void MouseMove(Qt::MouseButtons Shift, int X, int Y) = 0;
    virtual void MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    virtual void ColumnClick(int Column) = 0;
    // A key pressed in the list; Key set to 0 takes it.
    virtual void KeyDown(int &Key, Qt::KeyboardModifiers Shift);

    bool eventFilter(QObject *Watched, QEvent *Event) override;

    TPageContext m_Context;

private:
    QWidget *m_Page;
    QTreeView *m_List = nullptr;
    // The list when it is a tree widget of rows.
    QTreeWidget *m_Rows = nullptr;
};

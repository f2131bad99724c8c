#pragma once

// Pieces the pages of the main window share: fonts, button faces, menu items, list rows that
// sort by the form's comparison and the list's mouse events.

#include "ui/PicButton.h"

#include <QColor>
#include <QFont>
#include <QObject>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QTreeWidgetItem>

class QAction;
class QEvent;
class QHBoxLayout;
class QMenu;
class QTreeWidget;
class TFormMain;

// The last sort direction of a list's column, kept on the list's header item.
inline constexpr int ColumnTagRole = Qt::UserRole + 1;

// The desktop's sans-serif at a pixel size, with a CJK face behind it for the Chinese texts.
QFont PageFont(int PixelSize, bool Bold = false);

// A page button's face in one state: a rounded, gently shaded plate on the page's ground.
QPixmap ButtonFace(const QSize &Size, const QColor &Top, const QColor &Bottom, const QColor &Border,
                   const QColor &Ground = QColor(0xEB, 0xEB, 0xEB));
// The four shaded faces (normal, hover, down, disabled) of a page button.
void SetButtonFaces(TPicButton *Button, const QSize &Size, const QColor &Ground = QColor(0xEB, 0xEB, 0xEB));
// Caption, font and pointing-hand cursor of a page button; with StateFonts each state gets its
// own font colour.
void SetButtonCaption(TPicButton *Button, const QString &Caption, bool StateFonts = true);
// A page button of a fixed size with the shaded faces.
TPicButton *PageButton(QWidget *Parent, const char *Name, const QString &Caption, const QSize &Size);
// The row of buttons below a page's list; the caller fills the layout.
QHBoxLayout *NewButtonBar(QWidget *Page, const char *Name);

// A named menu item or separator appended to a menu.
QAction *AddMenuItem(QMenu *Menu, const char *Name, const QString &Caption);
QAction *AddMenuLine(QMenu *Menu, const char *Name);

// Reports a failed command on a named entry: the format's %1 is the name.
void ReportFailure(const char16_t *Format, const QString &Name);

// The first selected row of a list, or null.
QTreeWidgetItem *FirstSelectedRow(const QTreeWidget *List);

// A list row that sorts by the form's comparison of the list's current sort state.
class TFormRow : public QTreeWidgetItem
{
public:
    using TCompare = int (TFormMain::*)(QObject *, QTreeWidgetItem *, QTreeWidgetItem *);
    TFormRow(TFormMain *Form, int Type, QTreeWidget *List, TCompare Compare)
        : QTreeWidgetItem(Type), m_Form(Form), m_List(List), m_Compare(Compare)
    {
    }

    bool operator<(const QTreeWidgetItem &Other) const override;

private:
    TFormMain *m_Form;
    QTreeWidget *m_List;
    TCompare m_Compare;
};

// The form's handlers of a list's mouse: moves, left clicks and the context menu (none where
// the list has no menu).
struct TListMouseHandlers
{
    void (TFormMain::*MouseMove)(QObject *, Qt::MouseButtons, int, int) = nullptr;
    void (TFormMain::*Click)(QObject *) = nullptr;
    void (TFormMain::*MouseDown)(QObject *, Qt::MouseButton, Qt::KeyboardModifiers, int, int) = nullptr;
};

// Passes one event of a list's viewport to the form's handlers, in the list's coordinates; true
// when the event is used up.
bool PassListMouseEvent(TFormMain *Form, QTreeWidget *List, QEvent *Event, const TListMouseHandlers &Handlers);

// Watches a list's viewport for the form. A child of the viewport: it goes with it, and reads
// nothing of the form until a mouse event arrives (none does while the form is taken down).
class TListMouseEvents : public QObject
{
public:
    TListMouseEvents(TFormMain *Form, QTreeWidget *List, const TListMouseHandlers &Handlers);

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override;

private:
    TFormMain *m_Form;
    QTreeWidget *m_List;
    TListMouseHandlers m_Handlers;
};

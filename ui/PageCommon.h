#pragma once

// Pieces the pages of the main window share: fonts, button faces, menu items, lists and the
// file picker.

#include "ui/PicButton.h"

#include <QColor>
#include <QFont>
#include <QObject>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QList>
#include <QStyledItemDelegate>
#include <QPair>

class QAction;
class QHBoxLayout;
class QMenu;
class QAbstractItemModel;
class QAbstractItemView;
class QTreeView;
class QTreeWidget;
class QWidget;
enum class TMessageResult : quint8;

// The last sort direction of a list's column, kept on the list's header item.
inline constexpr int kColumnTagRole = Qt::UserRole + 1;

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

// The message boxes of the pages' commands, each kind with its one title and icon.
// A command that failed ("失败").
void ReportFailure(const QString &Text);
// A failed command on a named entry: the format's %1 is the name, shown as VisibleText.
void ReportFailure(const char16_t *Format, const QString &Name);
// A command refused outright ("禁止").
void ReportRefusal(const QString &Text);
// A risky command's confirmation ("警告") and a plain question ("询问"), answered yes or no.
TMessageResult AskWarning(const QString &Text);
TMessageResult AskQuestion(const QString &Text);

// The file picker of the pages; it asks through the replaceable hooks.
struct TOpenDialog
{
    QString Title;
    QString Filter;
    QString DefaultExt;
    QString InitialDir;
    QString FileName;
    bool Execute(QWidget *Parent);
};

// Draws the rows of a page's list: one fixed row height that fits the list's icons, and the
// icon's place kept empty in rows without one, so that every name starts at the same x.
class TListDelegate : public QStyledItemDelegate
{
public:
    explicit TListDelegate(QAbstractItemView *View);

    QSize sizeHint(const QStyleOptionViewItem &Option, const QModelIndex &Index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem *Option, const QModelIndex &Index) const override;

private:
    QAbstractItemView *m_View;
};

// A report-style list of a page: named columns with their widths, whole rows selected, read only.
QTreeWidget *MakeList(QWidget *Parent, const char *Name, const QList<QPair<const char16_t *, int>> &Columns);
// The same over a model of the page's own, which names the columns.
QTreeView *MakeListView(QWidget *Parent, const char *Name, QAbstractItemModel *Model, const QList<int> &Widths);

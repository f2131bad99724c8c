#include "ui/PageCommon.h"

#include "ui/DisplayTexts.h"
#include "ui/UiHooks.h"
#include "ui/frmMessage.h"

#include <QAction>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLinearGradient>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QTreeWidget>

QFont PageFont(int PixelSize, bool Bold)
{
    QFont f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    f.setFamilies({f.family(), QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
    f.setPixelSize(PixelSize);
    f.setBold(Bold);
    return f;
}

QPixmap ButtonFace(const QSize &Size, const QColor &Top, const QColor &Bottom, const QColor &Border,
                   const QColor &Ground)
{
    QPixmap pm(Size);
    pm.fill(Ground);
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

void SetButtonFaces(TPicButton *Button, const QSize &Size, const QColor &Ground)
{
    Button->SetPicNormal(
        ButtonFace(Size, QColor(0xFC, 0xFD, 0xFE), QColor(0xDD, 0xE4, 0xEE), QColor(0x8C, 0x9C, 0xB4), Ground));
    Button->SetPicMouseHover(
        ButtonFace(Size, QColor(0xF0, 0xF7, 0xFF), QColor(0xC4, 0xDC, 0xF6), QColor(0x3C, 0x7F, 0xD1), Ground));
    Button->SetPicMouseDown(
        ButtonFace(Size, QColor(0xC4, 0xD8, 0xF0), QColor(0xE4, 0xEE, 0xFA), QColor(0x2C, 0x62, 0xA8), Ground));
    Button->SetPicDisabled(
        ButtonFace(Size, QColor(0xF4, 0xF4, 0xF4), QColor(0xE8, 0xE8, 0xE8), QColor(0xC0, 0xC0, 0xC0), Ground));
}

void SetButtonCaption(TPicButton *Button, const QString &Caption, bool StateFonts)
{
    Button->SetCaption(Caption);
    Button->SetFont(PageFont(12));
    Button->SetFontColor(QColor(0x1F, 0x3A, 0x60));
    if (StateFonts) {
        Button->SetEnableStatesFont(true);
        Button->SetFontMouseHover(PageFont(12));
        Button->SetFontMouseHoverColor(QColor(0x1F, 0x4F, 0x8F));
        Button->SetFontMouseDown(PageFont(12));
        Button->SetFontMouseDownColor(QColor(0x1F, 0x4F, 0x8F));
        Button->SetFontDisabled(PageFont(12));
        Button->SetFontDisabledColor(QColor(0xA0, 0xA0, 0xA0));
    }
    Button->setCursor(Qt::PointingHandCursor);
}

TPicButton *PageButton(QWidget *Parent, const char *Name, const QString &Caption, const QSize &Size)
{
    auto *b = new TPicButton(Parent);
    b->setObjectName(QLatin1String(Name));
    b->setFixedSize(Size);
    SetButtonFaces(b, Size);
    SetButtonCaption(b, Caption);
    return b;
}

QHBoxLayout *NewButtonBar(QWidget *Page, const char *Name)
{
    auto *bar = new QWidget(Page);
    bar->setObjectName(QLatin1String(Name));
    auto *layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 0, 0, 2);
    layout->setSpacing(6);
    return layout;
}

QAction *AddMenuItem(QMenu *Menu, const char *Name, const QString &Caption)
{
    auto *a = new QAction(Caption, Menu);
    a->setObjectName(QLatin1String(Name));
    Menu->addAction(a);
    return a;
}

QAction *AddMenuLine(QMenu *Menu, const char *Name)
{
    QAction *a = Menu->addSeparator();
    a->setObjectName(QLatin1String(Name));
    return a;
}

void ReportFailure(const QString &Text)
{
    TFormMessage::MessageBox(Text, QStringLiteral("失败"), TMessageIcon::Error, TMessageButtons::Ok);
}

void ReportFailure(const char16_t *Format, const QString &Name)
{
    ReportFailure(QString::fromUtf16(Format).arg(VisibleText(Name)));
}

void ReportRefusal(const QString &Text)
{
    TFormMessage::MessageBox(Text, QStringLiteral("禁止"), TMessageIcon::Ban, TMessageButtons::Ok);
}

TMessageResult AskWarning(const QString &Text)
{
    return TFormMessage::MessageBox(Text, QStringLiteral("警告"), TMessageIcon::Warning, TMessageButtons::YesNo);
}

TMessageResult AskQuestion(const QString &Text)
{
    return TFormMessage::MessageBox(Text, QStringLiteral("询问"), TMessageIcon::Question, TMessageButtons::YesNo);
}

bool TOpenDialog::Execute(QWidget *Parent)
{
    const QString chosen = UiHooks().PickOpenFile(Parent, Title, InitialDir, Filter);
    if (chosen.isEmpty())
        return false;
    FileName = chosen;
    return true;
}

TListDelegate::TListDelegate(QAbstractItemView *View) : QStyledItemDelegate(View), m_View(View) {}

QSize TListDelegate::sizeHint(const QStyleOptionViewItem &Option, const QModelIndex &Index) const
{
    QSize size = QStyledItemDelegate::sizeHint(Option, Index);
    const QSize icon = m_View->iconSize();
    if (icon.isValid())
        size.setHeight(qMax(size.height(), icon.height() + 2));
    return size;
}

void TListDelegate::initStyleOption(QStyleOptionViewItem *Option, const QModelIndex &Index) const
{
    QStyledItemDelegate::initStyleOption(Option, Index);
    const QSize icon = m_View->iconSize();
    if (Index.column() != 0 || !icon.isValid() || (Option->features & QStyleOptionViewItem::HasDecoration))
        return;
    // An empty picture of the icon's size holds the place.
    static QIcon empty;
    static QSize emptySize;
    if (emptySize != icon) {
        QPixmap blank(icon);
        blank.fill(Qt::transparent);
        empty = QIcon(blank);
        emptySize = icon;
    }
    Option->features |= QStyleOptionViewItem::HasDecoration;
    Option->icon = empty;
    Option->decorationSize = icon;
}

namespace {

// What every list of a page looks like and how it is used.
void SetUpList(QTreeView *List, const char *Name)
{
    List->setObjectName(QLatin1String(Name));
    List->setRootIsDecorated(false);
    List->setItemsExpandable(false);
    // One height for all rows, from a delegate that makes it fit the icons whatever the first
    // row holds.
    List->setUniformRowHeights(true);
    List->setItemDelegate(new TListDelegate(List));
    List->setAllColumnsShowFocus(true);
    List->setEditTriggers(QAbstractItemView::NoEditTriggers);
    List->setSelectionBehavior(QAbstractItemView::SelectRows);
    List->setSelectionMode(QAbstractItemView::SingleSelection);
}

void SetWidths(QTreeView *List, const QList<int> &Widths)
{
    for (int i = 0; i < Widths.size(); ++i)
        List->header()->resizeSection(i, Widths[i]);
    List->header()->setStretchLastSection(false);
}

} // namespace

QTreeWidget *MakeList(QWidget *Parent, const char *Name, const QList<QPair<const char16_t *, int>> &Columns)
{
    auto *list = new QTreeWidget(Parent);
    SetUpList(list, Name);
    QStringList captions;
    QList<int> widths;
    for (const auto &c : Columns) {
        captions << QString::fromUtf16(c.first);
        widths << c.second;
    }
    list->setHeaderLabels(captions);
    SetWidths(list, widths);
    return list;
}

QTreeView *MakeListView(QWidget *Parent, const char *Name, QAbstractItemModel *Model, const QList<int> &Widths)
{
    auto *list = new QTreeView(Parent);
    SetUpList(list, Name);
    list->setModel(Model);
    SetWidths(list, Widths);
    return list;
}

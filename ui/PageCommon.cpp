#include "ui/PageCommon.h"

#include "ui/DisplayTexts.h"
#include "ui/frmMain.h"
#include "ui/frmMessage.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
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

void ReportFailure(const char16_t *Format, const QString &Name)
{
    TFormMessage::MessageBox(QString::fromUtf16(Format).arg(Name), QStringLiteral("失败"), 5, 0);
}

QTreeWidgetItem *FirstSelectedRow(const QTreeWidget *List)
{
    const int n = List->topLevelItemCount();
    for (int i = 0; i < n; ++i) {
        if (List->topLevelItem(i)->isSelected())
            return List->topLevelItem(i);
    }
    return nullptr;
}

bool TFormRow::operator<(const QTreeWidgetItem &Other) const
{
    return (m_Form->*m_Compare)(m_List, const_cast<TFormRow *>(this), const_cast<QTreeWidgetItem *>(&Other)) < 0;
}

bool PassListMouseEvent(TFormMain *Form, QTreeWidget *List, QEvent *Event, const TListMouseHandlers &Handlers)
{
    switch (Event->type()) {
    case QEvent::MouseMove: {
        auto *e = static_cast<QMouseEvent *>(Event);
        const QPoint p = List->viewport()->mapTo(List, e->position().toPoint());
        (Form->*Handlers.MouseMove)(List, e->buttons(), p.x(), p.y());
        break;
    }
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent *>(Event)->button() == Qt::LeftButton)
            (Form->*Handlers.Click)(List);
        break;
    case QEvent::ContextMenu: {
        // Sent after the press has selected the row under the pointer.
        auto *e = static_cast<QContextMenuEvent *>(Event);
        if (Handlers.MouseDown && e->reason() == QContextMenuEvent::Mouse) {
            const QPoint p = List->viewport()->mapTo(List, e->pos());
            (Form->*Handlers.MouseDown)(List, Qt::RightButton, e->modifiers(), p.x(), p.y());
            return true;
        }
        break;
    }
    default:
        break;
    }
    return false;
}

TListMouseEvents::TListMouseEvents(TFormMain *Form, QTreeWidget *List, const TListMouseHandlers &Handlers)
    : QObject(List->viewport()), m_Form(Form), m_List(List), m_Handlers(Handlers)
{
    List->viewport()->installEventFilter(this);
}

bool TListMouseEvents::eventFilter(QObject *Watched, QEvent *Event)
{
    if (Watched != parent())
        return false;
    return PassListMouseEvent(m_Form, m_List, Event, m_Handlers);
}

// ---- what the list pages of the form do alike ------------------------------------------------

void TFormMain::PrepareList(QTreeWidget *List, void (TFormMain::*ColumnClick)(QObject *, int),
                            void (TFormMain::*SelectItem)(QObject *, QTreeWidgetItem *, bool))
{
    List->setMouseTracking(true);
    List->viewport()->setMouseTracking(true);
    List->header()->setSectionsClickable(true);
    List->header()->setSortIndicatorShown(false);
    connect(List->header(), &QHeaderView::sectionClicked, this,
            [this, List, ColumnClick](int Column) { (this->*ColumnClick)(List, Column); });
    connect(List->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this, List, SelectItem](const QItemSelection &Selected, const QItemSelection &) {
                QTreeWidgetItem *row = nullptr;
                if (!Selected.isEmpty())
                    row = List->itemFromIndex(Selected.indexes().first());
                (this->*SelectItem)(List, row, row != nullptr);
            });
}

void TFormMain::ListSelected(bool Selected)
{
    if (!Selected)
        return;
    if (pnlDetails->isVisible())
        FillDetails();
    UpdateSearchText();
}

void TFormMain::ListClick(int List)
{
    FillDetails();
    Lists[List].HotColumn = ColumnUnderCursor(PageList(List));
    UpdateSearchText();
    // The window takes the focus; the list keeps it inside the window.
    activateWindow();
}

void TFormMain::ListMouseMove(int List, int X, int Y)
{
    if (DetailsPinned)
        return;
    QPoint screen;
    ControlToScreen(QPoint(X, Y), PageList(List), screen);
    if (qAbs(screen.y() - HoverPoint.y()) > 25) {
        pnlDetails->hide();
        HoverPoint.setY(-1);
    }
}

void TFormMain::ListColumnClick(int List, int Column)
{
    QTreeWidget *list = PageList(List);
    QTreeWidgetItem *header = list->headerItem();
    const int tag = (header->data(Column, ColumnTagRole).toInt() + 1) % 2;
    header->setData(Column, ColumnTagRole, tag);
    Lists[List].SortColumn = Column;
    Lists[List].SortDescending = (tag == 0);
    SortList(list);
}

int TFormMain::CompareListTexts(int List, const QTreeWidgetItem *A, const QTreeWidgetItem *B) const
{
    const TListState &state = Lists[List];
    if (!A || !B || state.SortColumn < 0 || state.SortColumn >= PageList(List)->columnCount())
        return 0;
    return CompareTexts(A->text(state.SortColumn), B->text(state.SortColumn), state.SortDescending);
}

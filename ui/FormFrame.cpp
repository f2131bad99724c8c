#include "ui/FormFrame.h"

#include "ui/FormControls.h"

#include <QCursor>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

void PlaceFramePieces(TImage *const (&Pieces)[8], const QSize &Size, const TFrameMeasures &M)
{
    const int w = Size.width(), h = Size.height();
    Pieces[0]->setGeometry(0, 0, M.TopLeftWidth, M.TitleHeight);
    Pieces[1]->setGeometry(M.TopLeftWidth, 0, qMax(0, w - M.TopLeftWidth - M.TopRightWidth), M.TitleHeight);
    Pieces[2]->setGeometry(w - M.TopRightWidth, 0, M.TopRightWidth, M.TitleHeight);
    const int side = qMax(0, h - M.TitleHeight - M.BottomHeight);
    Pieces[3]->setGeometry(0, M.TitleHeight, M.SideWidth, side);
    Pieces[4]->setGeometry(w - M.SideWidth, M.TitleHeight, M.SideWidth, side);
    Pieces[5]->setGeometry(0, h - M.BottomHeight, M.BottomCornerWidth, M.BottomHeight);
    Pieces[6]->setGeometry(M.BottomCornerWidth, h - M.BottomHeight, qMax(0, w - 2 * M.BottomCornerWidth),
                           M.BottomHeight);
    Pieces[7]->setGeometry(w - M.BottomCornerWidth, h - M.BottomHeight, M.BottomCornerWidth, M.BottomHeight);
    for (TImage *piece : Pieces)
        piece->lower();
}

void TFrameDrag::Begin(QWidget *Window, QObject *Sender, int X, int Y)
{
    if (Window->windowState() & Qt::WindowMaximized)
        return;
    if (QWindow *w = Window->windowHandle(); w && w->startSystemMove())
        return;
    auto *w = qobject_cast<QWidget *>(Sender);
    const QPoint global = w ? w->mapToGlobal(QPoint(X, Y)) : QCursor::pos();
    m_Dragging = true;
    m_Offset = global - Window->frameGeometry().topLeft();
}

bool TFrameDrag::Follow(QWidget *Window, QEvent *Event)
{
    if (!m_Dragging)
        return false;
    switch (Event->type()) {
    case QEvent::MouseMove: {
        auto *m = static_cast<QMouseEvent *>(Event);
        if (m->buttons() == Qt::NoButton)
            m_Dragging = false;
        else
            Window->move(m->globalPosition().toPoint() - m_Offset);
        return true;
    }
    case QEvent::MouseButtonRelease:
        m_Dragging = false;
        return true;
    default:
        return false;
    }
}

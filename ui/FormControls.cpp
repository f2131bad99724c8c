#include "ui/FormControls.h"

#include <QMouseEvent>
#include <QPainter>

void TMouseEvents::FireMouse(QObject *Sender, QEvent *Event)
{
    switch (Event->type()) {
    case QEvent::MouseButtonPress: {
        auto *e = static_cast<QMouseEvent *>(Event);
        if (OnMouseDown)
            OnMouseDown(Sender, e->button(), e->modifiers(), int(e->position().x()), int(e->position().y()));
        break;
    }
    case QEvent::MouseMove: {
        auto *e = static_cast<QMouseEvent *>(Event);
        if (OnMouseMove)
            OnMouseMove(Sender, e->buttons(), int(e->position().x()), int(e->position().y()));
        break;
    }
    case QEvent::MouseButtonRelease: {
        auto *e = static_cast<QMouseEvent *>(Event);
        const bool inside = Sender && qobject_cast<QWidget *>(Sender) &&
            qobject_cast<QWidget *>(Sender)->rect().contains(e->position().toPoint());
        if (OnMouseUp)
            OnMouseUp(Sender, e->button(), e->modifiers(), int(e->position().x()), int(e->position().y()));
        if (inside && e->button() == Qt::LeftButton && OnClick)
            OnClick(Sender);
        break;
    }
    case QEvent::MouseButtonDblClick:
        if (OnDblClick)
            OnDblClick(Sender);
        break;
    default:
        break;
    }
}

TImage::TImage(QWidget *Parent) : QWidget(Parent) {}

void TImage::SetPicture(const QPixmap &Picture)
{
    m_Picture = Picture;
    update();
}

void TImage::SetStretch(bool Value)
{
    if (m_Stretch == Value)
        return;
    m_Stretch = Value;
    update();
}

void TImage::paintEvent(QPaintEvent *)
{
    if (m_Picture.isNull())
        return;
    QPainter p(this);
    if (m_Stretch)
        p.drawPixmap(rect(), m_Picture);
    else
        p.drawPixmap(0, 0, m_Picture);
}

bool TImage::event(QEvent *Event)
{
    // A disabled picture (the grip of a maximised window) takes no mouse input at all.
    if (isEnabled())
        FireMouse(this, Event);
    return QWidget::event(Event);
}

TLabel::TLabel(QWidget *Parent) : QLabel(Parent) {}

bool TLabel::event(QEvent *Event)
{
    if (isEnabled())
        FireMouse(this, Event);
    return QLabel::event(Event);
}

TPanel::TPanel(QWidget *Parent) : QFrame(Parent)
{
    setFrameShape(QFrame::NoFrame);
}

void TPanel::SetCaption(const QString &Value)
{
    m_Caption = Value;
    update();
}

void TPanel::SetColor(const QColor &Value)
{
    m_Color = Value;
    update();
}

void TPanel::SetPicture(const QPixmap &Picture, bool Stretch)
{
    m_Picture = Picture;
    m_Stretch = Stretch;
    update();
}

void TPanel::SetParentBackground(bool Value)
{
    m_ParentBackground = Value;
    update();
}

void TPanel::paintEvent(QPaintEvent *Event)
{
    QPainter p(this);
    if (!m_Picture.isNull()) {
        if (m_Stretch)
            p.drawPixmap(rect(), m_Picture);
        else
            p.drawPixmap(0, 0, m_Picture);
    } else if (!m_ParentBackground) {
        p.fillRect(rect(), m_Color.isValid() ? m_Color : palette().color(QPalette::Window));
    }
    if (!m_Caption.isEmpty()) {
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, m_Caption);
    }
    QFrame::paintEvent(Event);
}

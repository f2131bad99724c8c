#include "skin/SkinImagePanel.h"

#include "skin/SkinPublic.h"

#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>

TSkinCustomPanel::TSkinCustomPanel(QWidget *AOwner) : QFrame(AOwner)
{
    // No bevels; the panel covers its whole area itself, nothing is erased before it paints.
    setFrameShape(QFrame::NoFrame);
    setAttribute(Qt::WA_OpaquePaintEvent, true);
}

void TSkinCustomPanel::SetPicture(const QImage &Value)
{
    m_Picture = Value;
    PictureChanged();
}

void TSkinCustomPanel::SetPicture(const QPixmap &Value)
{
    SetPicture(Value.toImage());
}

void TSkinCustomPanel::SetTransparent(bool Value)
{
    m_Transparent = Value;
    UpdateDrawnPicture();
    update();
}

void TSkinCustomPanel::UpdateDrawnPicture()
{
    if (m_Picture.isNull() || !m_Transparent || m_Picture.hasAlphaChannel()) {
        m_Drawn = m_Picture;
        return;
    }
    m_Drawn = MaskedImage(m_Picture, m_Picture.pixelColor(0, m_Picture.height() - 1));
}

void TSkinCustomPanel::SetAutoSize(bool Value)
{
    m_AutoSize = Value;
    if (!m_Picture.isNull())
        ApplyAutoSize();
}

void TSkinCustomPanel::SetDrawStyle(TSkinDrawStyle Value)
{
    m_DrawStyle = Value;
    PaintBackground();
    update();
}

void TSkinCustomPanel::SetCaptionPos(int X, int Y)
{
    m_CaptionX = X;
    m_CaptionY = Y;
    update();
}

void TSkinCustomPanel::SetEraseBackground(bool Value)
{
    m_EraseBackground = Value;
    setAttribute(Qt::WA_OpaquePaintEvent, !Value);
}

void TSkinCustomPanel::SetCaption(const QString &Value)
{
    if (Value == m_Text)
        return;
    m_Text = Value;
    CaptionChanged(m_CaptionRect);
    update();
}

void TSkinCustomPanel::SetAlignment(Qt::Alignment Value)
{
    m_Alignment = Value;
    update();
}

QColor TSkinCustomPanel::Color() const
{
    return m_Color.isValid() ? m_Color : palette().color(QPalette::Window);
}

void TSkinCustomPanel::SetColor(const QColor &Value)
{
    m_Color = Value;
    update();
}

void TSkinCustomPanel::SetBorderWidth(int Value)
{
    m_BorderWidth = qMax(0, Value);
    setContentsMargins(m_BorderWidth, m_BorderWidth, m_BorderWidth, m_BorderWidth);
    update();
}

void TSkinCustomPanel::PaintBackground()
{
    // The colour is laid down by the next paint, which covers the whole panel.
    update();
}

void TSkinCustomPanel::CaptionChanged(const QRect &) {}

void TSkinCustomPanel::PictureChanged()
{
    if (!m_Picture.isNull() && m_AutoSize)
        ApplyAutoSize();
    UpdateDrawnPicture();
    PaintBackground();
    update();
}

void TSkinCustomPanel::ApplyAutoSize()
{
    int w = width();
    int h = height();
    if (m_Align != alTop && m_Align != alBottom && m_Align != alClient)
        w = m_Picture.width();
    if (m_Align != alLeft && m_Align != alRight && m_Align != alClient)
        h = m_Picture.height();
    resize(w, h);
}

void TSkinCustomPanel::PaintPanel(QPainter &Canvas)
{
    const QRect client = rect();
    // Under a picture that does not cover the panel, its colour shows rather than stale pixels.
    if (m_Transparent)
        DrawParentBackground(Canvas, this);
    else
        Canvas.fillRect(client, Color());
    if (!m_Drawn.isNull()) {
        switch (m_DrawStyle) {
        case TSkinDrawStyle::skinStretch:
            Canvas.drawImage(client, m_Drawn);
            break;
        case TSkinDrawStyle::skinTile:
            TileDraw(Canvas, m_Drawn, client);
            break;
        case TSkinDrawStyle::skinNormal:
            Canvas.drawImage(QPoint(0, 0), m_Drawn);
            break;
        }
    }
    if (m_Text.trimmed().isEmpty())
        return;
    Canvas.setFont(font());
    Canvas.setPen(palette().color(QPalette::WindowText));
    if (m_CaptionX == -1 || m_CaptionY == -1) {
        Qt::Alignment h = Qt::AlignHCenter;
        if (m_Alignment & Qt::AlignLeft)
            h = Qt::AlignLeft;
        else if (m_Alignment & Qt::AlignRight)
            h = Qt::AlignRight;
        Canvas.drawText(client, int(h | Qt::AlignVCenter | Qt::TextSingleLine), m_Text);
        m_CaptionRect = client;
    } else {
        const QFontMetrics fm(font());
        m_CaptionRect = QRect(m_CaptionX, m_CaptionY, fm.horizontalAdvance(m_Text), fm.height());
        Canvas.drawText(m_CaptionRect, int(Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine), m_Text);
    }
}

void TSkinCustomPanel::paintEvent(QPaintEvent *)
{
    if (width() <= 0 || height() <= 0)
        return;
    // Painted off-screen and copied in one go, so that the panel never shows half-drawn.
    QImage buffer(size(), QImage::Format_ARGB32_Premultiplied);
    buffer.fill(Qt::transparent);
    {
        QPainter canvas(&buffer);
        PaintPanel(canvas);
    }
    QPainter p(this);
    p.drawImage(0, 0, buffer);
    // The panel itself has no bevels; a frame the owner asks for (setFrameShape) goes on top.
    drawFrame(&p);
}

void TSkinCustomPanel::resizeEvent(QResizeEvent *Event)
{
    QFrame::resizeEvent(Event);
    if (OnResize)
        OnResize(this);
    update();
}

void TSkinCustomPanel::mouseReleaseEvent(QMouseEvent *Event)
{
    QFrame::mouseReleaseEvent(Event);
    if (Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint()) && OnClick)
        OnClick(this);
}

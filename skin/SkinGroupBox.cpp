#include "skin/SkinGroupBox.h"

#include "skin/SkinPublic.h"

#include <QEvent>
#include <QFontInfo>
#include <QPainter>

TSkinCustomGroupBox::TSkinCustomGroupBox(QWidget *AOwner) : TSkinCustomPanel(AOwner)
{
    TSkinCustomPanel::SetCaption(QStringLiteral(" "));
    resize(185, 105);
    SetTransparent(false);
    RealignChildren();
    SetUIStyle(FormStyleOfOwner(AOwner ? AOwner->window() : nullptr));
}

void TSkinCustomGroupBox::SetBorderColor(const QColor &Value)
{
    m_BorderColor = Value;
    update();
}

void TSkinCustomGroupBox::SetCaption(const QString &Value)
{
    m_Caption = Value;
    update();
}

void TSkinCustomGroupBox::SetFileTheme(TSkinFileTheme *Value)
{
    if (m_FileTheme != Value) {
        disconnect(m_ThemeConnection);
        m_FileTheme = Value;
        if (Value)
            m_ThemeConnection = connect(Value, &QObject::destroyed, this, [this] { FileThemeRemoved(); });
    }
    SetUIStyle(m_UIStyle);
}

void TSkinCustomGroupBox::SetUIStyle(TSkinUIStyle Value)
{
    m_UIStyle = Value;
    UpdateUIStyle(m_UIStyle, m_FileTheme.data());
}

QColor TSkinCustomGroupBox::FontColor() const
{
    return palette().color(QPalette::WindowText);
}

void TSkinCustomGroupBox::UpdateUIStyle(TSkinUIStyle AUIStyle, TSkinFileTheme *AFileTheme)
{
    ApplyStyleToChildren(this, AUIStyle, AFileTheme);
    TSkinUIStyle style;
    QColor border, text;
    if (ThemeFileInEffect(AFileTheme, AUIStyle, style)) {
        border = ColorToQColor(TColor(AFileTheme->GetColor(22)));
        text = ColorToQColor(TColor(AFileTheme->GetColor(23)));
    } else {
        border = ColorToQColor(StyleColor(style, 25));
        text = ColorToQColor(StyleColor(style, 27));
    }
    m_BorderColor = border;
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, text);
    setPalette(pal);
    update();
}

void TSkinCustomGroupBox::FileThemeRemoved()
{
    m_FileTheme = nullptr;
    ApplyStyleToChildren(this, TSkinUIStyle::DeepBlue, nullptr);
    SetUIStyle(TSkinUIStyle::DeepBlue);
}

int TSkinCustomGroupBox::FontHeight() const
{
    return qAbs(QFontInfo(font()).pixelSize());
}

void TSkinCustomGroupBox::RealignChildren()
{
    setContentsMargins(3, FontHeight() + 5, 3, 3);
}

void TSkinCustomGroupBox::changeEvent(QEvent *Event)
{
    TSkinCustomPanel::changeEvent(Event);
    if (Event->type() == QEvent::FontChange) {
        RealignChildren();
        update();
    } else if (Event->type() == QEvent::EnabledChange) {
        update();
    }
}

void TSkinCustomGroupBox::paintEvent(QPaintEvent *)
{
    QPainter canvas(this);
    const int h = FontHeight();
    const QRect client = rect();
    if (!Transparent())
        canvas.fillRect(client, Color());
    else
        PaintPanel(canvas);

    const int left = client.x();
    const int right = client.x() + client.width();
    const int bottom = client.y() + client.height();
    const int y = h / 2 + 1;
    const QFontMetrics fm(font());
    const int captionWidth = m_Caption.isEmpty() ? 0 : fm.horizontalAdvance(m_Caption);
    canvas.setPen(m_BorderColor);
    canvas.setRenderHint(QPainter::Antialiasing, false);
    const bool rtl = MiddleEastRightToLeft(this);
    if (!rtl) {
        const int gapEnd = m_Caption.isEmpty() ? left : left + captionWidth + 6;
        const QPoint pts[] = {{left + 2, y},           {left, y},      {left, bottom - 1},
                              {right - 1, bottom - 1}, {right - 1, y}, {gapEnd, y}};
        canvas.drawPolyline(pts, 6);
    } else {
        const int gapEnd = m_Caption.isEmpty() ? right - 1 : right - captionWidth - 7;
        const QPoint pts[] = {{right - 3, y},         {right - 1, y}, {right - 1, bottom - 1},
                              {left + 1, bottom - 1}, {left + 1, y},  {gapEnd, y}};
        canvas.drawPolyline(pts, 6);
    }
    if (m_Caption.isEmpty())
        return;
    canvas.setFont(font());
    canvas.setPen(isEnabled() ? FontColor() : QColor(0x80, 0x80, 0x80));
    const int x = rtl ? width() - 6 - captionWidth : 5;
    canvas.drawText(QRect(x, 0, captionWidth + 1, fm.height()), int(Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine),
                    m_Caption);
}

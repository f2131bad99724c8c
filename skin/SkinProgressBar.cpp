#include "skin/SkinProgressBar.h"

#include "skin/SkinPublic.h"

#include <QPainter>

#include <cmath>

TSkinProgressBar::TSkinProgressBar(QWidget *AOwner) : QFrame(AOwner)
{
    setFrameShape(QFrame::NoFrame);
    // Painting covers the whole bar; nothing is erased before it.
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    resize(150, 12);
    m_Caption = QStringLiteral("50%");
    m_UIStyle = FormStyleOfOwner(AOwner ? AOwner->window() : nullptr);
    ApplyStyle();
}

void TSkinProgressBar::SetMax(qint32 Value)
{
    m_Max = Value;
    UpdateCaption();
}

void TSkinProgressBar::SetMin(qint32 Value)
{
    m_Min = Value;
    UpdateCaption();
}

void TSkinProgressBar::SetPosition(qint32 Value)
{
    m_Position = Value;
    UpdateCaption();
}

int TSkinProgressBar::Percent() const
{
    if (m_Max == m_Min)
        return 0;
    // In 64 bits: the ends may lie anywhere in the 32-bit range.
    const double p = double(qint64(m_Position) - m_Min) / double(qint64(m_Max) - m_Min) * 100.0;
    return int(qBound(-2147483648.0, std::trunc(p), 2147483647.0));
}

int TSkinProgressBar::FilledLength(int L) const
{
    if (m_Min >= m_Max || m_Min >= m_Position)
        return 0;
    if (m_Position > m_Max)
        return L;
    return int(std::trunc(double(qint64(m_Position) - m_Min) / double(qint64(m_Max) - m_Min) * L));
}

void TSkinProgressBar::UpdateCaption()
{
    m_Caption = QString::number(Percent()) + QLatin1Char('%');
    update();
}

void TSkinProgressBar::SetUIStyle(TSkinUIStyle Value)
{
    m_UIStyle = Value;
    ApplyStyle();
}

void TSkinProgressBar::SetFileTheme(TSkinFileTheme *Value)
{
    if (m_FileTheme != Value) {
        disconnect(m_ThemeConnection);
        m_FileTheme = Value;
        if (Value)
            m_ThemeConnection = connect(Value, &QObject::destroyed, this, [this] { FileThemeRemoved(); });
    }
    ApplyStyle();
}

void TSkinProgressBar::FileThemeRemoved()
{
    m_FileTheme = nullptr;
    SetUIStyle(TSkinUIStyle::DeepBlue);
}

void TSkinProgressBar::SetOrientation(TSkinProgressBarOrientation Value)
{
    m_Orientation = Value;
    ApplyStyle();
}

void TSkinProgressBar::SetBorderColor(const QColor &Value)
{
    m_BorderColor = Value;
    update();
}

void TSkinProgressBar::SetColor(const QColor &Value)
{
    m_Color = Value;
    update();
}

void TSkinProgressBar::SetPicture(const QImage &Value)
{
    m_Picture = Value;
    update();
}

void TSkinProgressBar::SetShowCaption(bool Value)
{
    m_ShowCaption = Value;
    update();
}

void TSkinProgressBar::SetCaptionColor(const QColor &Value)
{
    m_CaptionColor = Value;
    update();
}

void TSkinProgressBar::SetSmartShowCaption(bool Value)
{
    m_SmartShowCaption = Value;
    update();
}

void TSkinProgressBar::ApplyStyle()
{
    const bool vertical = m_Orientation == TSkinProgressBarOrientation::skinVertical;
    TSkinUIStyle style;
    if (ThemeFileInEffect(m_FileTheme.data(), m_UIStyle, style)) {
        const QImage *pic = m_FileTheme->GetBitmap(20);
        m_Picture = pic ? *pic : QImage();
        m_Color = ColorToQColor(TColor(m_FileTheme->GetColor(21)));
        m_BorderColor = ColorToQColor(TColor(m_FileTheme->GetColor(22)));
        auto piece = [&](int Key) {
            const QImage *src = m_FileTheme->GetBitmap(Key);
            QImage img = src ? src->convertToFormat(QImage::Format_RGB888) : QImage();
            if (vertical)
                RotateBitmap90(img);
            return img;
        };
        m_FramePiece = piece(19);
        m_BarPiece = piece(21);
        m_BarEndPiece = piece(22);
    } else {
        m_Picture = QImage();
        LoadStyleBitmap(style, 24, &m_Picture);
        m_Color = ColorToQColor(StyleColor(style, 26));
        m_BorderColor = ColorToQColor(StyleColor(style, 25));
    }
    if (vertical)
        RotateBitmap90(m_Picture);
    update();
}

void DrawPieces(QPainter &Canvas, const QImage &Piece, const QRect &R, int EndSize, bool Vertical)
{
    if (Piece.isNull() || R.x() < 0 || R.width() <= 0 || R.height() <= 0)
        return;
    const QImage p = Piece.convertToFormat(QImage::Format_RGB888);
    if (!Vertical) {
        const int e = qMin(EndSize, R.width());
        const int pe = qMin(EndSize, p.width());
        Canvas.drawImage(QRect(R.x(), R.y(), e, R.height()), p, QRect(0, 0, qMin(e, pe), p.height()));
        Canvas.drawImage(QRect(R.x() + R.width() - e, R.y(), e, R.height()), p,
                         QRect(p.width() - pe, 0, pe, p.height()));
        const int middle = R.width() - 2 * e;
        if (middle > 0 && p.width() - 2 * pe > 0)
            Canvas.drawImage(QRect(R.x() + e, R.y(), middle, R.height()), p,
                             QRect(pe, 0, p.width() - 2 * pe, p.height()));
    } else {
        const int e = qMin(EndSize, R.height());
        const int pe = qMin(EndSize, p.height());
        Canvas.drawImage(QRect(R.x(), R.y(), R.width(), e), p, QRect(0, 0, p.width(), qMin(e, pe)));
        Canvas.drawImage(QRect(R.x(), R.y() + R.height() - e, R.width(), e), p,
                         QRect(0, p.height() - pe, p.width(), pe));
        const int middle = R.height() - 2 * e;
        if (middle > 0 && p.height() - 2 * pe > 0)
            Canvas.drawImage(QRect(R.x(), R.y() + e, R.width(), middle), p,
                             QRect(0, pe, p.width(), p.height() - 2 * pe));
    }
}

void TSkinProgressBar::PaintBar(QPainter &Canvas, const QSize &Size)
{
    const int w = Size.width();
    const int h = Size.height();
    const bool vertical = m_Orientation == TSkinProgressBarOrientation::skinVertical;
    TSkinUIStyle style;
    const bool skin = ThemeFileInEffect(m_FileTheme.data(), m_UIStyle, style) && !m_FramePiece.isNull() &&
        !m_BarPiece.isNull() && !m_BarEndPiece.isNull();
    if (skin) {
        Canvas.fillRect(QRect(0, 0, w, h), m_Color);
        DrawPieces(Canvas, m_FramePiece, QRect(0, 0, w, h), 2, vertical);
        if (!vertical) {
            const int filled = FilledLength(w);
            DrawPieces(Canvas, m_BarPiece, QRect(0, 0, filled, h), 2, false);
            const int end = qMin(m_BarEndPiece.width(), filled);
            DrawPieces(Canvas, m_BarEndPiece, QRect(filled - end, 0, end, h), 2, false);
        } else {
            const int filled = FilledLength(h);
            DrawPieces(Canvas, m_BarPiece, QRect(0, h - filled, w, filled), 2, true);
            const int end = qMin(m_BarEndPiece.height(), filled);
            DrawPieces(Canvas, m_BarEndPiece, QRect(0, h - filled, w, end), 2, true);
        }
    } else if (!vertical) {
        int right = FilledLength(w - 1);
        if (right == 0)
            right = 1;
        if (!m_Picture.isNull() && right > 1)
            Canvas.drawImage(QRect(1, 1, right - 1, h - 2), m_Picture);
        if (w - 1 > right)
            Canvas.fillRect(QRect(right, 1, w - 1 - right, h - 2), m_Color);
    } else {
        int t = (h - 1) - FilledLength(h - 1);
        if (t == 0)
            t = 1;
        // The bar grows from the bottom with its picture upside down.
        if (!m_Picture.isNull() && h - 2 >= t)
            Canvas.drawImage(QRect(1, t, w - 2, h - 1 - t), m_Picture.mirrored(false, true));
        if (t > 1)
            Canvas.fillRect(QRect(1, 1, w - 2, t - 1), m_Color);
        m_ShowCaption = false;
    }
    if (m_ShowCaption && !(m_SmartShowCaption && m_Position == m_Min)) {
        Canvas.setFont(font());
        Canvas.setPen(m_CaptionColor);
        const QFontMetrics fm(font());
        const int x = (w - fm.horizontalAdvance(m_Caption)) / 2;
        const int y = (h - fm.height()) / 2;
        Canvas.drawText(QRect(x, y, fm.horizontalAdvance(m_Caption) + 1, fm.height()),
                        int(Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine), m_Caption);
    }
    if (!skin) {
        Canvas.setPen(m_BorderColor);
        Canvas.setBrush(Qt::NoBrush);
        Canvas.drawRect(QRect(0, 0, w - 1, h - 1));
    }
}

void TSkinProgressBar::paintEvent(QPaintEvent *)
{
    if (width() <= 0 || height() <= 0)
        return;
    // Painted off-screen and copied in one go.
    QImage buffer(size(), QImage::Format_RGB32);
    buffer.fill(m_Color.isValid() ? m_Color : palette().color(QPalette::Window));
    {
        QPainter canvas(&buffer);
        PaintBar(canvas, size());
    }
    QPainter p(this);
    p.drawImage(0, 0, buffer);
}

#include "skin/SkinPublic.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QMetaObject>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QWidget>

#include <cmath>

// This system draws as on a Windows release after Vista: the XP-and-later look, none of the
// Vista-only quirks.
const bool IsWinXP = true;
const bool IsWinVista = false;

void DrawParentBackground(QPainter &Canvas, QWidget *Control)
{
    if (!Control)
        return;
    QWidget *parent = Control->parentWidget();
    if (!parent)
        return;
    Canvas.save();
    Canvas.setClipRect(QRect(-Control->x(), -Control->y(), parent->width(), parent->height()), Qt::IntersectClip);
    // Only the parent's own background and painting: its children (this control among them)
    // would cover what the control is about to paint. The region's corner lands at the origin.
    parent->render(&Canvas, QPoint(0, 0), QRegion(Control->geometry()), QWidget::DrawWindowBackground);
    Canvas.restore();
}

void TileDraw(QPainter &Canvas, const QImage &Picture, const QRect &Rect)
{
    const int w = Picture.width();
    const int h = Picture.height();
    if (w <= 0 || h <= 0)
        return;
    for (int x = 0; x < w + Rect.width(); x += w)
        for (int y = 0; y < h + Rect.height(); y += h)
            Canvas.drawImage(QPoint(x, y), Picture);
}

void ExtractFrame(const QImage &Strip, QImage &Dest, int FrameCount, int FrameIndex)
{
    if (Strip.isNull() || FrameCount <= 0 || FrameIndex < 1 || FrameIndex > FrameCount) {
        Dest = QImage();
        return;
    }
    const int width = Strip.width() / FrameCount;
    if (width <= 0) {
        Dest = QImage();
        return;
    }
    const int left = (FrameIndex == FrameCount) ? Strip.width() - width : (FrameIndex - 1) * width;
    Dest = Strip.copy(left, 0, width, Strip.height());
}

void RotateBitmap90(QImage &Bitmap)
{
    if (Bitmap.isNull())
        return;
    const QImage src = Bitmap.convertToFormat(QImage::Format_ARGB32);
    const int w = src.width();
    const int h = src.height();
    QImage out(h, w, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(src.constScanLine(y));
        for (int x = 0; x < w; ++x)
            reinterpret_cast<QRgb *>(out.scanLine(w - 1 - x))[y] = line[x];
    }
    Bitmap = out.convertToFormat(Bitmap.format());
}

namespace {

int Step(int From, int To, int Span, int Offset)
{
    // Trunc((To - From) / Span * Offset), towards zero.
    return From + int(std::trunc(double(To - From) / double(Span) * double(Offset)));
}

QColor Blend(const QColor &From, const QColor &To, int Span, int Offset)
{
    int r1, g1, b1, r2, g2, b2;
    SplitColor(From, r1, g1, b1);
    SplitColor(To, r2, g2, b2);
    return QColor(qBound(0, Step(r1, r2, Span, Offset), 255), qBound(0, Step(g1, g2, Span, Offset), 255),
                  qBound(0, Step(b1, b2, Span, Offset), 255));
}

} // namespace

void DrawVerticalGradient(QPainter &Canvas, const QRect &Rect, const QColor &FromColor, const QColor &ToColor)
{
    const int top = Rect.y();
    const int bottom = Rect.y() + Rect.height();
    const int left = Rect.x();
    const int right = Rect.x() + Rect.width();
    if (top == bottom)
        return;
    Canvas.save();
    Canvas.setPen(FromColor);
    Canvas.drawLine(left, top, right - 1, top);
    for (int y = top + 1; y <= bottom - 2; ++y) {
        Canvas.setPen(Blend(FromColor, ToColor, bottom - top, y - top - 1));
        Canvas.drawLine(left, y, right - 1, y);
    }
    Canvas.setPen(ToColor);
    Canvas.drawLine(left, bottom - 1, right - 1, bottom - 1);
    Canvas.restore();
}

void DrawHorizontalGradient(QPainter &Canvas, const QRect &Rect, const QColor &FromColor, const QColor &ToColor)
{
    const int top = Rect.y();
    const int bottom = Rect.y() + Rect.height();
    const int left = Rect.x();
    const int right = Rect.x() + Rect.width();
    if (left == right)
        return;
    Canvas.save();
    Canvas.setPen(FromColor);
    Canvas.drawLine(left, top, left, bottom - 1);
    for (int x = left + 1; x <= right - 2; ++x) {
        Canvas.setPen(Blend(FromColor, ToColor, right - left, x - left));
        Canvas.drawLine(x, top, x, bottom - 1);
    }
    Canvas.setPen(ToColor);
    Canvas.drawLine(right - 1, top, right - 1, bottom - 1);
    Canvas.restore();
}

QImage MaskedImage(const QImage &Picture, const QColor &Color)
{
    QImage img = Picture.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = Color.rgb() & 0xFFFFFF;
    for (int y = 0; y < img.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x)
            if ((line[x] & 0xFFFFFF) == key)
                line[x] = 0;
    }
    return img;
}

void DrawThreeFrames(const QImage &Strip, QPainter &Canvas, const QRect &Rect, const QColor &TransparentColor,
                     bool UseTransparentColor)
{
    const int fw = Strip.width() / 3;
    if (Strip.isNull() || fw <= 0 || Rect.width() <= 0)
        return;
    const QImage src = UseTransparentColor ? MaskedImage(Strip, TransparentColor) : Strip;
    const int h = Rect.height();
    if (Rect.width() >= fw) {
        Canvas.drawImage(QRect(Rect.x(), Rect.y(), fw, h), src, QRect(0, 0, fw, Strip.height()));
        Canvas.drawImage(QRect(Rect.x() + Rect.width() - fw, Rect.y(), fw, h), src,
                         QRect(Strip.width() - fw, 0, fw, Strip.height()));
        const int middle = Rect.width() - 2 * fw;
        if (middle > 0)
            Canvas.drawImage(QRect(Rect.x() + fw, Rect.y(), middle, h), src, QRect(fw, 0, fw, Strip.height()));
    } else {
        Canvas.drawImage(QRect(Rect.x(), Rect.y(), Rect.width(), h), src, QRect(0, 0, Rect.width(), Strip.height()));
    }
}

TColor MakeColor(int R, int G, int B)
{
    return TColor(R & 0xFF) | (TColor(G & 0xFF) << 8) | (TColor(B & 0xFF) << 16);
}

void SplitColor(TColor Color, int &R, int &G, int &B)
{
    R = int(Color & 0xFF);
    G = int((Color >> 8) & 0xFF);
    B = int((Color >> 16) & 0xFF);
}

void SplitColor(const QColor &Color, int &R, int &G, int &B)
{
    const QColor c = Color.toRgb();
    R = c.red();
    G = c.green();
    B = c.blue();
}

bool PointInRect(const QPoint &Point, const QRect &Rect)
{
    return Point.x() >= Rect.x() && Point.x() <= Rect.x() + Rect.width() && Point.y() >= Rect.y() &&
        Point.y() <= Rect.y() + Rect.height();
}

namespace {

QPointer<QWidget> &MainFormRef()
{
    static QPointer<QWidget> form;
    return form;
}

} // namespace

QWidget *ApplicationMainForm()
{
    return MainFormRef().data();
}

void SetApplicationMainForm(QWidget *Form)
{
    MainFormRef() = Form;
}

void GetWorkArea(QRect &Rect)
{
    QScreen *screen = nullptr;
    if (QWidget *main = ApplicationMainForm())
        screen = main->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    Rect = screen ? screen->availableGeometry() : QRect();
}

void SetControlBounds(QWidget *Control, const QRect &Rect)
{
    if (Control)
        Control->setGeometry(Rect);
}

bool HasProperty(const QObject *Object, const char *Name)
{
    return Object && Object->metaObject()->indexOfProperty(Name) >= 0;
}

QString FitTextWithEllipsis(const QFontMetrics &Metrics, const QString &Text, int MaxWidth)
{
    if (Metrics.horizontalAdvance(Text) <= MaxWidth)
        return Text;
    const QString dots = QStringLiteral("...");
    for (int n = 0; n < Text.size(); ++n) {
        QString s = Text.left(n) + dots;
        if (Metrics.horizontalAdvance(s) >= MaxWidth)
            return s;
    }
    return Text;
}

namespace {

// A child form is active while its parent form's area has it as the active one.
bool ChildFormIsActive(const QMdiSubWindow *Child)
{
    return Child->mdiArea() && Child->mdiArea()->activeSubWindow() == Child;
}

TSkinMessageHandler &MessageHandler()
{
    static TSkinMessageHandler handler;
    return handler;
}

} // namespace

bool FormIsActive(QWidget *Form)
{
    QWidget *main = ApplicationMainForm();
    const auto *child = qobject_cast<const QMdiSubWindow *>(Form);
    if (!main) {
        if (!Form)
            return true;
        return child ? ChildFormIsActive(child) : Form->isActiveWindow();
    }
    // A parent form of child forms always draws as active.
    if (Form == main && main->findChild<QMdiArea *>())
        return true;
    if (!QApplication::activeWindow())
        return false;
    if (!Form || Form == main)
        return true;
    return child ? ChildFormIsActive(child) : Form->isActiveWindow();
}

QWidget *FormOf(const QWidget *Control)
{
    for (auto *w = const_cast<QWidget *>(Control); w; w = w->parentWidget()) {
        if (w->isWindow() || qobject_cast<QMdiSubWindow *>(w))
            return w;
    }
    return nullptr;
}

bool MiddleEastRightToLeft(const QWidget *Control)
{
    return Control && Control->layoutDirection() == Qt::RightToLeft &&
        QLocale::system().textDirection() == Qt::RightToLeft;
}

TSkinMessageHandler SetSkinMessageHandler(TSkinMessageHandler Handler)
{
    TSkinMessageHandler previous = std::move(MessageHandler());
    MessageHandler() = std::move(Handler);
    return previous;
}

void SkinShowMessage(const QString &Text)
{
    if (const TSkinMessageHandler &handler = MessageHandler()) {
        handler(Text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), Text, QMessageBox::Ok);
    box.exec();
}

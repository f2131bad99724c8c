// Draws the message box's pictures (frame pieces, button states, icons) into PNG files, which
// the main window embeds.
//
//   message_picture_gen <png directory>
//
// Run by hand when a picture changes; the PNG files are kept in the repository.

#include "../common/PictureTools.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <functional>
#include <vector>

namespace {

// Palette shared by all pieces.
const QColor kFrameDark(0x1A, 0x4A, 0x82);   // outer edge of the frame
const QColor kTitleTop(0x4E, 0x8E, 0xD8);    // title bar, top
const QColor kTitleBottom(0x22, 0x5E, 0xAA); // title bar, bottom
const QColor kTitleGloss(255, 255, 255, 46); // highlight of the upper half
const QColor kSideBlue(0x2A, 0x66, 0xB0);    // side and bottom frame
const QColor kBody(0xF0, 0xF0, 0xF0);        // form colour
const QColor kBodyShade(0xE2, 0xE6, 0xEC);   // bottom band, lower end

constexpr int kTitleHeight = 31;
constexpr int kSide = 4;
constexpr int kCorner = 5; // radius of the window's rounded corners

// Cuts a quarter circle out of one corner so that the window looks rounded.
void RoundCorner(QImage &Img, bool Left, bool Top)
{
    QPainter p(&Img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
    QPainterPath cut;
    const int x0 = Left ? 0 : Img.width() - kCorner;
    const int y0 = Top ? 0 : Img.height() - kCorner;
    cut.addRect(x0, y0, kCorner, kCorner);
    QPainterPath keep;
    const int cx = Left ? kCorner : Img.width() - kCorner;
    const int cy = Top ? kCorner : Img.height() - kCorner;
    keep.addEllipse(QPointF(cx, cy), kCorner, kCorner);
    p.fillPath(cut.subtracted(keep), Qt::black);
}

// The title band: gradient, gloss on the upper half, dark top edge, and the
// side frame's edge where the piece touches the left or right window border.
QImage TitlePiece(int W, bool LeftEdge, bool RightEdge)
{
    QImage img = NewImage(W, kTitleHeight);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, kTitleHeight);
    g.setColorAt(0.0, kTitleTop);
    g.setColorAt(1.0, kTitleBottom);
    p.fillRect(img.rect(), g);
    p.fillRect(QRect(0, 1, W, kTitleHeight / 2 - 1), kTitleGloss);
    p.fillRect(QRect(0, 0, W, 1), kFrameDark);
    // A thin light line under the band separates it from the body.
    p.fillRect(QRect(0, kTitleHeight - 1, W, 1), QColor(0x16, 0x4A, 0x8C));
    if (LeftEdge)
        p.fillRect(QRect(0, 0, 1, kTitleHeight), kFrameDark);
    if (RightEdge)
        p.fillRect(QRect(W - 1, 0, 1, kTitleHeight), kFrameDark);
    p.end();
    if (LeftEdge)
        RoundCorner(img, true, true);
    if (RightEdge)
        RoundCorner(img, false, true);
    return img;
}

QImage TopLeft()
{
    QImage img = TitlePiece(18, true, false);
    // A small emblem: three bars, as in a task list.
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 3; ++i) {
        QRectF bar(7, 10 + i * 4, 7 - i * 2, 2);
        p.fillRect(bar, QColor(255, 255, 255, 210));
    }
    return img;
}

QImage TopRight()
{
    QImage img = TitlePiece(68, false, true);
    // A faint sheen toward the corner.
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient r(QPointF(68, 0), 60);
    r.setColorAt(0.0, QColor(255, 255, 255, 40));
    r.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.fillRect(QRect(1, 1, 66, kTitleHeight - 2), r);
    return img;
}

// Side frame piece, 4 wide: dark outer edge, blue, a lighter inner line.
QImage SidePiece(bool Left)
{
    QImage img = NewImage(kSide, 8);
    QPainter p(&img);
    for (int x = 0; x < kSide; ++x) {
        const int fromOuter = Left ? x : kSide - 1 - x;
        QColor c = fromOuter == 0 ? kFrameDark : fromOuter == kSide - 1 ? QColor(0x9C, 0xB8, 0xDA) : kSideBlue;
        p.fillRect(QRect(x, 0, 1, 8), c);
    }
    return img;
}

// Bottom band, 31 high: the body shading down to the bottom frame.
QImage BottomPiece(int W, bool LeftEdge, bool RightEdge)
{
    QImage img = NewImage(W, 31);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, 31 - kSide);
    g.setColorAt(0.0, kBody);
    g.setColorAt(1.0, kBodyShade);
    p.fillRect(QRect(0, 0, W, 31 - kSide), g);
    for (int k = 0; k < kSide; ++k) {
        const int y = 31 - 1 - k; // k = 0 is the outer edge
        QColor c = k == 0 ? kFrameDark : k == kSide - 1 ? QColor(0x9C, 0xB8, 0xDA) : kSideBlue;
        p.fillRect(QRect(0, y, W, 1), c);
    }
    if (LeftEdge || RightEdge) {
        QImage s = SidePiece(LeftEdge);
        for (int y = 0; y < 31 - kSide; y += 8)
            p.drawImage(LeftEdge ? 0 : W - kSide, y, s, 0, 0, kSide, std::min(8, 31 - kSide - y));
        // Inner corner of the frame: the light line turns along the bottom.
        const int ix = LeftEdge ? kSide - 1 : W - kSide;
        p.fillRect(QRect(ix, 31 - kSide, 1, kSide - 1), kSideBlue);
        p.fillRect(QRect(LeftEdge ? 0 : W - 1, 31 - kSide, 1, kSide), kFrameDark);
    }
    p.end();
    if (LeftEdge)
        RoundCorner(img, true, false);
    if (RightEdge)
        RoundCorner(img, false, false);
    if (LeftEdge || RightEdge) {
        // Redraw the rounded outline so that the cut corner keeps a dark edge.
        QPainter q(&img);
        q.setRenderHint(QPainter::Antialiasing);
        q.setPen(QPen(kFrameDark, 1));
        const qreal cx = LeftEdge ? kCorner : W - kCorner;
        const qreal cy = 31 - kCorner;
        const int start = LeftEdge ? 180 : 270;
        q.drawArc(QRectF(cx - kCorner + 0.5, cy - kCorner + 0.5, 2 * kCorner - 1, 2 * kCorner - 1), start * 16,
                  90 * 16);
    }
    return img;
}

// Push button, 80 x 20: rounded, glossy blue; lighter on hover, pressed
// darker with the gloss turned over, disabled flat grey.
QImage ButtonState(int State)
{
    QImage img = NewImage(80, 20);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QColor top, bottom, edge;
    switch (State) {
    case 0:
        top = QColor(0x5A, 0x9A, 0xE2);
        bottom = QColor(0x2A, 0x68, 0xB6);
        edge = QColor(0x1C, 0x4E, 0x8E);
        break;
    case 1:
        top = QColor(0x7A, 0xB4, 0xF0);
        bottom = QColor(0x3A, 0x7C, 0xCC);
        edge = QColor(0x22, 0x5A, 0xA0);
        break;
    case 2:
        top = QColor(0x1E, 0x56, 0x9C);
        bottom = QColor(0x3C, 0x78, 0xC4);
        edge = QColor(0x14, 0x3E, 0x74);
        break;
    default:
        top = QColor(0xC8, 0xCC, 0xD2);
        bottom = QColor(0xA8, 0xAE, 0xB6);
        edge = QColor(0x90, 0x96, 0x9E);
        break;
    }
    const QRectF r(0.5, 0.5, 79, 19);
    QLinearGradient g(0, 0, 0, 20);
    g.setColorAt(0.0, top);
    g.setColorAt(1.0, bottom);
    p.setPen(QPen(edge, 1));
    p.setBrush(g);
    p.drawRoundedRect(r, 3, 3);
    if (State != 3) {
        QPainterPath gloss;
        gloss.addRoundedRect(QRectF(1.5, 1.5, 77, 8), 2, 2);
        p.fillPath(gloss, QColor(255, 255, 255, State == 2 ? 18 : 52));
    }
    return img;
}

// Close button, 16 x 16: a white cross; hover and pressed on red.
QImage CloseState(int State)
{
    QImage img = NewImage(16, 16);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    if (State == 1 || State == 2) {
        p.setPen(QPen(State == 1 ? QColor(0x9C, 0x1E, 0x1E) : QColor(0x6E, 0x10, 0x10), 1));
        QLinearGradient g(0, 0, 0, 16);
        g.setColorAt(0.0, State == 1 ? QColor(0xF0, 0x6A, 0x5E) : QColor(0xB8, 0x2A, 0x22));
        g.setColorAt(1.0, State == 1 ? QColor(0xC8, 0x32, 0x2A) : QColor(0x96, 0x1E, 0x18));
        p.setBrush(g);
        p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
    } else {
        p.setPen(QPen(QColor(255, 255, 255, State == 3 ? 50 : 90), 1));
        p.setBrush(QColor(255, 255, 255, State == 3 ? 10 : 28));
        p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
    }
    QPen cross(State == 3 ? QColor(255, 255, 255, 110) : QColor(Qt::white), 2.0, Qt::SolidLine, Qt::RoundCap);
    p.setPen(cross);
    const qreal a = 4.5, b = 11.5;
    p.drawLine(QPointF(a, a), QPointF(b, b));
    p.drawLine(QPointF(b, a), QPointF(a, b));
    return img;
}

// A round badge: shaded disc with a darker rim and a soft highlight.
void Disc(QPainter &P, QColor Light, QColor Dark)
{
    QRadialGradient g(QPointF(12, 10), 20);
    g.setColorAt(0.0, Light);
    g.setColorAt(1.0, Dark);
    P.setPen(QPen(Dark.darker(130), 1));
    P.setBrush(g);
    P.drawEllipse(QRectF(1.5, 1.5, 29, 29));
    QPainterPath shine;
    shine.addEllipse(QRectF(6, 3.5, 20, 11));
    P.fillPath(shine, QColor(255, 255, 255, 50));
}

QImage IconInformation()
{
    QImage img = NewImage(32, 32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    Disc(p, QColor(0x6C, 0xB0, 0xF4), QColor(0x1E, 0x5C, 0xB4));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(13.5, 6.5, 5, 5));
    QPainterPath stem;
    stem.addRoundedRect(QRectF(13.8, 13, 4.4, 12.5), 1.2, 1.2);
    p.fillPath(stem, Qt::white);
    return img;
}

QImage IconQuestion()
{
    QImage img = NewImage(32, 32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    Disc(p, QColor(0x78, 0xC8, 0x8C), QColor(0x1E, 0x82, 0x46));
    // The hook of the question mark: an arc into a short stem, then the dot.
    QPen hook(Qt::white, 3.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(hook);
    p.setBrush(Qt::NoBrush);
    QPainterPath q;
    q.moveTo(11.2, 12.0);
    q.cubicTo(11.2, 6.6, 20.8, 6.6, 20.8, 11.8);
    q.cubicTo(20.8, 15.2, 16.0, 15.6, 16.0, 19.2);
    q.lineTo(16.0, 19.8);
    p.drawPath(q);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(13.8, 22.2, 4.4, 4.4));
    return img;
}

QImage IconWarning()
{
    QImage img = NewImage(32, 32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath tri;
    tri.moveTo(16, 2.5);
    tri.lineTo(30, 28.5);
    tri.lineTo(2, 28.5);
    tri.closeSubpath();
    QLinearGradient g(0, 2, 0, 29);
    g.setColorAt(0.0, QColor(0xFF, 0xE0, 0x5A));
    g.setColorAt(1.0, QColor(0xF0, 0xA8, 0x10));
    p.setPen(QPen(QColor(0xB0, 0x72, 0x00), 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(g);
    p.drawPath(tri);
    const QColor mark(0x3A, 0x2A, 0x0A);
    QPainterPath bar;
    bar.moveTo(14.2, 11);
    bar.lineTo(17.8, 11);
    bar.lineTo(17.0, 20.5);
    bar.lineTo(15.0, 20.5);
    bar.closeSubpath();
    p.setPen(Qt::NoPen);
    p.fillPath(bar, mark);
    p.setBrush(mark);
    p.drawEllipse(QRectF(14.1, 22.2, 3.8, 3.8));
    return img;
}

QImage IconBan()
{
    QImage img = NewImage(32, 32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // White face inside a red ring crossed by a red bar.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(3, 3, 26, 26));
    const QColor red(0xD8, 0x2A, 0x22);
    QPen ring(red, 4.2);
    p.setPen(ring);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(4, 4, 24, 24));
    QPen bar(red, 4.2, Qt::SolidLine, Qt::FlatCap);
    p.setPen(bar);
    p.drawLine(QPointF(8.2, 8.2), QPointF(23.8, 23.8));
    p.setPen(QPen(red.darker(140), 0.9));
    p.drawEllipse(QRectF(1.6, 1.6, 28.8, 28.8));
    return img;
}

QImage IconError()
{
    QImage img = NewImage(32, 32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    Disc(p, QColor(0xF4, 0x76, 0x6A), QColor(0xB4, 0x1A, 0x14));
    QPen cross(Qt::white, 3.8, Qt::SolidLine, Qt::RoundCap);
    p.setPen(cross);
    p.drawLine(QPointF(10.5, 10.5), QPointF(21.5, 21.5));
    p.drawLine(QPointF(21.5, 10.5), QPointF(10.5, 21.5));
    return img;
}

std::vector<TPicture> AllPictures()
{
    std::vector<TPicture> l;
    l.push_back({"border_topleft", TopLeft()});
    l.push_back({"border_top", TitlePiece(8, false, false)});
    l.push_back({"border_topright", TopRight()});
    l.push_back({"border_left", SidePiece(true)});
    l.push_back({"border_right", SidePiece(false)});
    l.push_back({"border_bottomleft", BottomPiece(53, true, false)});
    l.push_back({"border_bottom", BottomPiece(8, false, false)});
    l.push_back({"border_bottomright", BottomPiece(53, false, true)});
    static const char *const kStates[] = {"normal", "hover", "down", "disabled"};
    for (int s = 0; s < 4; ++s)
        l.push_back({QStringLiteral("button_%1").arg(QLatin1String(kStates[s])), ButtonState(s)});
    for (int s = 0; s < 4; ++s)
        l.push_back({QStringLiteral("close_%1").arg(QLatin1String(kStates[s])), CloseState(s)});
    l.push_back({"icon_information", IconInformation()});
    l.push_back({"icon_question", IconQuestion()});
    l.push_back({"icon_warning", IconWarning()});
    l.push_back({"icon_ban", IconBan()});
    l.push_back({"icon_error", IconError()});
    return l;
}

} // namespace

int main(int argc, char **argv)
{
    return RunPictureGenerator(argc, argv, AllPictures);
}

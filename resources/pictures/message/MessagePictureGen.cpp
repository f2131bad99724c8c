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
const QColor FrameDark(0x1A, 0x4A, 0x82);   // outer edge of the frame
const QColor TitleTop(0x4E, 0x8E, 0xD8);    // title bar, top
const QColor TitleBottom(0x22, 0x5E, 0xAA); // title bar, bottom
const QColor TitleGloss(255, 255, 255, 46); // highlight of the upper half
const QColor SideBlue(0x2A, 0x66, 0xB0);    // side and bottom frame
const QColor Body(0xF0, 0xF0, 0xF0);        // form colour
const QColor BodyShade(0xE2, 0xE6, 0xEC);   // bottom band, lower end

constexpr int TitleHeight = 31;
constexpr int Side = 4;
constexpr int Corner = 5; // radius of the window's rounded corners

// Cuts a quarter circle out of one corner so that the window looks rounded.
void RoundCorner(QImage &Img, bool Left, bool Top)
{
    QPainter P(&Img);
    P.setRenderHint(QPainter::Antialiasing);
    P.setCompositionMode(QPainter::CompositionMode_DestinationOut);
    QPainterPath Cut;
    const int x0 = Left ? 0 : Img.width() - Corner;
    const int y0 = Top ? 0 : Img.height() - Corner;
    Cut.addRect(x0, y0, Corner, Corner);
    QPainterPath Keep;
    const int cx = Left ? Corner : Img.width() - Corner;
    const int cy = Top ? Corner : Img.height() - Corner;
    Keep.addEllipse(QPointF(cx, cy), Corner, Corner);
    P.fillPath(Cut.subtracted(Keep), Qt::black);
}

// The title band: gradient, gloss on the upper half, dark top edge, and the
// side frame's edge where the piece touches the left or right window border.
QImage TitlePiece(int W, bool LeftEdge, bool RightEdge)
{
    QImage Img = NewImage(W, TitleHeight);
    QPainter P(&Img);
    QLinearGradient G(0, 0, 0, TitleHeight);
    G.setColorAt(0.0, TitleTop);
    G.setColorAt(1.0, TitleBottom);
    P.fillRect(Img.rect(), G);
    P.fillRect(QRect(0, 1, W, TitleHeight / 2 - 1), TitleGloss);
    P.fillRect(QRect(0, 0, W, 1), FrameDark);
    // A thin light line under the band separates it from the body.
    P.fillRect(QRect(0, TitleHeight - 1, W, 1), QColor(0x16, 0x4A, 0x8C));
    if (LeftEdge)
        P.fillRect(QRect(0, 0, 1, TitleHeight), FrameDark);
    if (RightEdge)
        P.fillRect(QRect(W - 1, 0, 1, TitleHeight), FrameDark);
    P.end();
    if (LeftEdge)
        RoundCorner(Img, true, true);
    if (RightEdge)
        RoundCorner(Img, false, true);
    return Img;
}

QImage TopLeft()
{
    QImage Img = TitlePiece(18, true, false);
    // A small emblem: three bars, as in a task list.
    QPainter P(&Img);
    P.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 3; ++i) {
        QRectF Bar(7, 10 + i * 4, 7 - i * 2, 2);
        P.fillRect(Bar, QColor(255, 255, 255, 210));
    }
    return Img;
}

QImage TopRight()
{
    QImage Img = TitlePiece(68, false, true);
    // A faint sheen toward the corner.
    QPainter P(&Img);
    P.setRenderHint(QPainter::Antialiasing);
    QRadialGradient R(QPointF(68, 0), 60);
    R.setColorAt(0.0, QColor(255, 255, 255, 40));
    R.setColorAt(1.0, QColor(255, 255, 255, 0));
    P.fillRect(QRect(1, 1, 66, TitleHeight - 2), R);
    return Img;
}

// Side frame piece, 4 wide: dark outer edge, blue, a lighter inner line.
QImage SidePiece(bool Left)
{
    QImage Img = NewImage(Side, 8);
    QPainter P(&Img);
    for (int x = 0; x < Side; ++x) {
        const int FromOuter = Left ? x : Side - 1 - x;
        QColor C = FromOuter == 0 ? FrameDark : FromOuter == Side - 1 ? QColor(0x9C, 0xB8, 0xDA) : SideBlue;
        P.fillRect(QRect(x, 0, 1, 8), C);
    }
    return Img;
}

// Bottom band, 31 high: the body shading down to the bottom frame.
QImage BottomPiece(int W, bool LeftEdge, bool RightEdge)
{
    QImage Img = NewImage(W, 31);
    QPainter P(&Img);
    QLinearGradient G(0, 0, 0, 31 - Side);
    G.setColorAt(0.0, Body);
    G.setColorAt(1.0, BodyShade);
    P.fillRect(QRect(0, 0, W, 31 - Side), G);
    for (int k = 0; k < Side; ++k) {
        const int y = 31 - 1 - k; // k = 0 is the outer edge
        QColor C = k == 0 ? FrameDark : k == Side - 1 ? QColor(0x9C, 0xB8, 0xDA) : SideBlue;
        P.fillRect(QRect(0, y, W, 1), C);
    }
    if (LeftEdge || RightEdge) {
        QImage S = SidePiece(LeftEdge);
        for (int y = 0; y < 31 - Side; y += 8)
            P.drawImage(LeftEdge ? 0 : W - Side, y, S, 0, 0, Side, std::min(8, 31 - Side - y));
        // Inner corner of the frame: the light line turns along the bottom.
        const int ix = LeftEdge ? Side - 1 : W - Side;
        P.fillRect(QRect(ix, 31 - Side, 1, Side - 1), SideBlue);
        P.fillRect(QRect(LeftEdge ? 0 : W - 1, 31 - Side, 1, Side), FrameDark);
    }
    P.end();
    if (LeftEdge)
        RoundCorner(Img, true, false);
    if (RightEdge)
        RoundCorner(Img, false, false);
    if (LeftEdge || RightEdge) {
        // Redraw the rounded outline so that the cut corner keeps a dark edge.
        QPainter Q(&Img);
        Q.setRenderHint(QPainter::Antialiasing);
        Q.setPen(QPen(FrameDark, 1));
        const qreal cx = LeftEdge ? Corner : W - Corner;
        const qreal cy = 31 - Corner;
        const int Start = LeftEdge ? 180 : 270;
        Q.drawArc(QRectF(cx - Corner + 0.5, cy - Corner + 0.5, 2 * Corner - 1, 2 * Corner - 1), Start * 16, 90 * 16);
    }
    return Img;
}

// Push button, 80 x 20: rounded, glossy blue; lighter on hover, pressed
// darker with the gloss turned over, disabled flat grey.
QImage ButtonState(int State)
{
    QImage Img = NewImage(80, 20);
    QPainter P(&Img);
    P.setRenderHint(QPainter::Antialiasing);
    QColor Top, Bottom, Edge;
    switch (State) {
    case 0:
        Top = QColor(0x5A, 0x9A, 0xE2);
        Bottom = QColor(0x2A, 0x68, 0xB6);
        Edge = QColor(0x1C, 0x4E, 0x8E);
        break;
    case 1:
        Top = QColor(0x7A, 0xB4, 0xF0);
        Bottom = QColor(0x3A, 0x7C, 0xCC);
        Edge = QColor(0x22, 0x5A, 0xA0);
        break;
    case 2:
        Top = QColor(0x1E, 0x56, 0x9C);
        Bottom = QColor(0x3C, 0x78, 0xC4);
        Edge = QColor(0x14, 0x3E, 0x74);
        break;
    default:
        Top = QColor(0xC8, 0xCC, 0xD2);
        Bottom = QColor(0xA8, 0xAE, 0xB6);
        Edge = QColor(0x90, 0x96, 0x9E);
        break;
    }
    const QRectF R(0.5, 0.5, 79, 19);
    QLinearGradient G(0, 0, 0, 20);
    G.setColorAt(0.0, Top);
    G.setColorAt(1.0, Bottom);
    P.setPen(QPen(Edge, 1));
    P.setBrush(G);
    P.drawRoundedRect(R, 3, 3);
    if (State != 3) {
        QPainterPath Gloss;
        Gloss.addRoundedRect(QRectF(1.5, 1.5, 77, 8), 2, 2);
        P.fillPath(Gloss, QColor(255, 255, 255, State == 2 ? 18 : 52));
    }
    return Img;
}

// Close button, 16 x 16: a white cross; hover and pressed on red.
QImage CloseState(int State)
{
    QImage Img = NewImage(16, 16);
    QPainter P(&Img);
    P.setRenderHint(QPainter::Antialiasing);
    if (State == 1 || State == 2) {
        P.setPen(QPen(State == 1 ? QColor(0x9C, 0x1E, 0x1E) : QColor(0x6E, 0x10, 0x10), 1));
        QLinearGradient G(0, 0, 0, 16);
        G.setColorAt(0.0, State == 1 ? QColor(0xF0, 0x6A, 0x5E) : QColor(0xB8, 0x2A, 0x22));
        G.setColorAt(1.0, State == 1 ? QColor(0xC8, 0x32, 0x2A) : QColor(0x96, 0x1E, 0x18));
        P.setBrush(G);
        P.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
    } else {
        P.setPen(QPen(QColor(255, 255, 255, State == 3 ? 50 : 90), 1));
        P.setBrush(QColor(255, 255, 255, State == 3 ? 10 : 28));
        P.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
    }
    QPen Cross(State == 3 ? QColor(255, 255, 255, 110) : QColor(Qt::white), 2.0, Qt::SolidLine, Qt::RoundCap);
    P.setPen(Cross);
    const qreal a = 4.5, b = 11.5;
    P.drawLine(QPointF(a, a), QPointF(b, b));
    P.drawLine(QPointF(b, a), QPointF(a, b));
    return Img;
}

// A round badge: shaded disc with a darker rim and a soft highlight.
void Disc(QPainter &P, QColor Light, QColor Dark)
{
    QRadialGradient G(QPointF(12, 10), 20);
    G.setColorAt(0.0, Light);
    G.setColorAt(1.0, Dark);
    P.setPen(QPen(Dark.darker(130), 1));
    P.setBrush(G);
    P.drawEllipse(QRectF(1.5, 1.5, 29, 29));
    QPainterPath Shine;
    Shine.addEllipse(QRectF(6, 3.5, 20, 11));
    P.fillPath(Shine, QColor(255, 255, 255, 50));
}

QImage IconInformation()
{
    QImage Img = NewImage(32, 32);
    QPainter P(&Img);
    P.setRenderHint(QPainter::Antialiasing);
    Disc(P, QColor(0x6C, 0xB0, 0xF4), QColor(0x1E, 0x5C, 0xB4));
    P.setPen(Qt::NoPen);
    P.setBrush(Qt::white);
    P.drawEllipse(QRectF(13.5, 6.5, 5, 5));
    QPainterPath Stem;
    Stem.addRoundedRect(QRectF(13.8, 13, 4.4, 12.5), 1.2, 1.2);
    P.fillPath(Stem, Qt::white);
    return Img;
}

QImage IconQuestion()
{
    QImage Img = NewImage(32, 32);
    QPainter P(&Img);
    P.setRenderHint(QPainter::Antialiasing);
    Disc(P, QColor(0x78, 0xC8, 0x8C), QColor(0x1E, 0x82, 0x46));
    // The hook of the question mark: an arc into a short stem, then the dot.
    QPen Hook(Qt::white, 3.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    P.setPen(Hook);
    P.setBrush(Qt::NoBrush);
    QPainterPath Q;
    Q.moveTo(11.2, 12.0);
    Q.cubicTo(11.2, 6.6, 20.8, 6.6, 20.8, 11.8);
    Q.cubicTo(20.8, 15.2, 16.0, 15.6, 16.0, 19.2);
    Q.lineTo(16.0, 19.8);
    P.drawPath(Q);
    P.setPen(Qt::NoPen);
    P.setBrush(Qt::white);
    P.drawEllipse(QRectF(13.8, 22.2, 4.4, 4.4));
    return Img;
}

QImage IconWarning()
{
    QImage Img = NewImage(32, 32);
    QPainter P(&Img);
    P.setRenderHint(QPainter::Antialiasing);
    QPainterPath Tri;
    Tri.moveTo(16, 2.5);
    Tri.lineTo(30, 28.5);
    Tri.lineTo(2, 28.5);
    Tri.closeSubpath();
    QLinearGradient G(0, 2, 0, 29);
    G.setColorAt(0.0, QColor(0xFF, 0xE0, 0x5A));
    G.setColorAt(1.0, QColor(0xF0, 0xA8, 0x10));
    P.setPen(QPen(QColor(0xB0, 0x72, 0x00), 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    P.setBrush(G);
    P.drawPath(Tri);
    const QColor Mark(0x3A, 0x2A, 0x0A);
    QPainterPath Bar;
    Bar.moveTo(14.2, 11);
    Bar.lineTo(17.8, 11);
    Bar.lineTo(17.0, 20.5);
    Bar.lineTo(15.0, 20.5);
    Bar.closeSubpath();
    P.setPen(Qt::NoPen);
    P.fillPath(Bar, Mark);
    P.setBrush(Mark);
    P.drawEllipse(QRectF(14.1, 22.2, 3.8, 3.8));
    return Img;
}

QImage IconBan()
{
    QImage Img = NewImage(32, 32);
    QPainter P(&Img);
    P.setRenderHint(QPainter::Antialiasing);
    // White face inside a red ring crossed by a red bar.
    P.setPen(Qt::NoPen);
    P.setBrush(Qt::white);
    P.drawEllipse(QRectF(3, 3, 26, 26));
    const QColor Red(0xD8, 0x2A, 0x22);
    QPen Ring(Red, 4.2);
    P.setPen(Ring);
    P.setBrush(Qt::NoBrush);
    P.drawEllipse(QRectF(4, 4, 24, 24));
    QPen Bar(Red, 4.2, Qt::SolidLine, Qt::FlatCap);
    P.setPen(Bar);
    P.drawLine(QPointF(8.2, 8.2), QPointF(23.8, 23.8));
    P.setPen(QPen(Red.darker(140), 0.9));
    P.drawEllipse(QRectF(1.6, 1.6, 28.8, 28.8));
    return Img;
}

QImage IconError()
{
    QImage Img = NewImage(32, 32);
    QPainter P(&Img);
    P.setRenderHint(QPainter::Antialiasing);
    Disc(P, QColor(0xF4, 0x76, 0x6A), QColor(0xB4, 0x1A, 0x14));
    QPen Cross(Qt::white, 3.8, Qt::SolidLine, Qt::RoundCap);
    P.setPen(Cross);
    P.drawLine(QPointF(10.5, 10.5), QPointF(21.5, 21.5));
    P.drawLine(QPointF(21.5, 10.5), QPointF(10.5, 21.5));
    return Img;
}

std::vector<TPicture> AllPictures()
{
    std::vector<TPicture> L;
    L.push_back({"border_topleft", TopLeft()});
    L.push_back({"border_top", TitlePiece(8, false, false)});
    L.push_back({"border_topright", TopRight()});
    L.push_back({"border_left", SidePiece(true)});
    L.push_back({"border_right", SidePiece(false)});
    L.push_back({"border_bottomleft", BottomPiece(53, true, false)});
    L.push_back({"border_bottom", BottomPiece(8, false, false)});
    L.push_back({"border_bottomright", BottomPiece(53, false, true)});
    static const char *const States[] = {"normal", "hover", "down", "disabled"};
    for (int s = 0; s < 4; ++s)
        L.push_back({QStringLiteral("button_%1").arg(QLatin1String(States[s])), ButtonState(s)});
    for (int s = 0; s < 4; ++s)
        L.push_back({QStringLiteral("close_%1").arg(QLatin1String(States[s])), CloseState(s)});
    L.push_back({"icon_information", IconInformation()});
    L.push_back({"icon_question", IconQuestion()});
    L.push_back({"icon_warning", IconWarning()});
    L.push_back({"icon_ban", IconBan()});
    L.push_back({"icon_error", IconError()});
    return L;
}

} // namespace

int main(int argc, char **argv)
{
    return RunPictureGenerator(argc, argv, AllPictures);
}

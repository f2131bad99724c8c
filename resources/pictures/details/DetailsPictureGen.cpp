// Draws the details panel's frame pieces and its small buttons (refresh, pin, unpin, close),
// each in its four states, into PNG files, which the main window embeds.
//
//   details_picture_gen <png directory>
//
// Run by hand when a picture changes; the PNG files are kept in the repository.

#include "../common/PictureTools.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <functional>
#include <vector>

namespace {

constexpr int kSize = 16;

using Glyph = std::function<void(QPainter &, const QColor &)>;

// The circular arrow of "refresh".
void Refresh(QPainter &P, const QColor &Ink)
{
    P.setPen(QPen(Ink, 1.8, Qt::SolidLine, Qt::RoundCap));
    P.setBrush(Qt::NoBrush);
    P.drawArc(QRectF(3.5, 3.5, 9, 9), 60 * 16, 290 * 16);
    QPainterPath Head;
    Head.moveTo(9.2, 1.8);
    Head.lineTo(13.2, 3.9);
    Head.lineTo(9.6, 6.6);
    Head.closeSubpath();
    P.setPen(Qt::NoPen);
    P.setBrush(Ink);
    P.drawPath(Head);
}

// A push pin; Down stands it upright in the board, otherwise it lies loose on its side.
void Pin(QPainter &P, const QColor &Ink, bool Down)
{
    P.save();
    if (!Down) {
        P.translate(8, 8);
        P.rotate(-90);
        P.translate(-8, -8);
    }
    P.setPen(QPen(Ink, 1.2));
    P.setBrush(QColor(0xFF, 0xFF, 0xFF, 200));
    P.drawRect(QRectF(5.5, 1.5, 5, 6));
    P.setBrush(Ink);
    P.drawRect(QRectF(3.5, 7.5, 9, 1.5));
    P.setPen(QPen(Ink, 1.4, Qt::SolidLine, Qt::RoundCap));
    P.drawLine(QPointF(8, 9.5), QPointF(8, 14.5));
    P.restore();
}

// The cross of "close".
void Cross(QPainter &P, const QColor &Ink)
{
    P.setPen(QPen(Ink, 2, Qt::SolidLine, Qt::RoundCap));
    P.drawLine(QPointF(4.5, 4.5), QPointF(11.5, 11.5));
    P.drawLine(QPointF(11.5, 4.5), QPointF(4.5, 11.5));
}

enum class State { Normal, Hover, Down, Disabled };

// One state of a button: a plate for hover and down, the glyph on top (a pixel lower when down).
QImage Button(const Glyph &Draw, State S)
{
    QImage Img = NewImage(kSize, kSize);
    QPainter P(&Img);
    P.setRenderHint(QPainter::Antialiasing);
    if (S == State::Hover || S == State::Down) {
        QLinearGradient G(0, 0, 0, kSize);
        G.setColorAt(0, S == State::Hover ? QColor(0xF4, 0xF9, 0xFF) : QColor(0xC2, 0xD8, 0xF2));
        G.setColorAt(1, S == State::Hover ? QColor(0xCC, 0xE2, 0xFA) : QColor(0xE2, 0xEE, 0xFB));
        QPainterPath Plate;
        Plate.addRoundedRect(QRectF(0.5, 0.5, kSize - 1, kSize - 1), 2.5, 2.5);
        P.fillPath(Plate, G);
        P.setPen(S == State::Hover ? QColor(0x5A, 0x8F, 0xD0) : QColor(0x2C, 0x62, 0xA8));
        P.drawPath(Plate);
    }
    if (S == State::Down)
        P.translate(0.5, 1);
    const QColor Ink = S == State::Disabled ? QColor(0xB0, 0xB0, 0xB0)
        : S == State::Normal                ? QColor(0x3A, 0x4F, 0x6E)
                                            : QColor(0x1F, 0x4F, 0x8F);
    Draw(P, Ink);
    return Img;
}

// The frame: a title band over the panel's top edge that holds the caption and the buttons, and
// thin raised sides and bottom around the panel's own grey.
constexpr int kTitleHeight = 24;
constexpr int kSide = 3;
constexpr int kBottom = 3;

const QColor kPanel(0xF0, 0xF0, 0xF0);      // the panel's colour
const QColor kOutline(0x7F, 0x9B, 0xC0);    // outer edge
const QColor kCorner(0xB4, 0xC5, 0xDC);     // corner pixels, softening the square corners
const QColor kHighlight(0xFF, 0xFF, 0xFF);  // inner edge, top and left
const QColor kShade(0xD3, 0xDB, 0xE6);      // inner edge, right and bottom
const QColor kBandTop(0xF7, 0xFA, 0xFD);    // title band, top
const QColor kBandBottom(0xD9, 0xE4, 0xF2); // title band, bottom
const QColor kBandLine(0xB3, 0xC4, 0xDA);   // line under the title band

// The whole frame around a small panel; the pieces are cut from it, so they always meet.
QImage WholeFrame(int W, int H)
{
    QImage Img = NewImage(W, H);
    QPainter P(&Img);
    P.fillRect(Img.rect(), kPanel);
    QLinearGradient G(0, 0, 0, kTitleHeight);
    G.setColorAt(0, kBandTop);
    G.setColorAt(1, kBandBottom);
    P.fillRect(QRect(0, 0, W, kTitleHeight), G);
    P.setPen(kBandLine);
    P.drawLine(1, kTitleHeight - 1, W - 2, kTitleHeight - 1);
    P.setPen(kHighlight);
    P.drawLine(1, 1, W - 2, 1);
    P.drawLine(1, 1, 1, kTitleHeight - 2);
    P.drawLine(1, kTitleHeight, 1, H - 2);
    P.setPen(kShade);
    P.drawLine(W - 2, 2, W - 2, kTitleHeight - 2);
    P.drawLine(W - 2, kTitleHeight, W - 2, H - 2);
    P.drawLine(2, H - 2, W - 2, H - 2);
    P.setPen(kOutline);
    P.drawRect(0, 0, W - 1, H - 1);
    P.end();
    for (const QPoint &C : {QPoint(0, 0), QPoint(W - 1, 0), QPoint(0, H - 1), QPoint(W - 1, H - 1)})
        Img.setPixelColor(C, kCorner);
    return Img;
}

std::vector<TPicture> FramePictures()
{
    constexpr int W = 40, H = 60, Run = 8;
    const QImage F = WholeFrame(W, H);
    return {
        {QStringLiteral("details_border_topleft"), F.copy(0, 0, kSide, kTitleHeight)},
        {QStringLiteral("details_border_top"), F.copy(kSide, 0, Run, kTitleHeight)},
        {QStringLiteral("details_border_topright"), F.copy(W - kSide, 0, kSide, kTitleHeight)},
        {QStringLiteral("details_border_left"), F.copy(0, kTitleHeight, kSide, Run)},
        {QStringLiteral("details_border_right"), F.copy(W - kSide, kTitleHeight, kSide, Run)},
        {QStringLiteral("details_border_bottomleft"), F.copy(0, H - kBottom, kSide, kBottom)},
        {QStringLiteral("details_border_bottom"), F.copy(kSide, H - kBottom, Run, kBottom)},
        {QStringLiteral("details_border_bottomright"), F.copy(W - kSide, H - kBottom, kSide, kBottom)},
    };
}

std::vector<TPicture> AllPictures()
{
    const std::vector<std::pair<QString, Glyph>> Glyphs = {
        {QStringLiteral("details_refresh"), Refresh},
        {QStringLiteral("details_nailup"), [](QPainter &P, const QColor &C) { Pin(P, C, false); }},
        {QStringLiteral("details_naildown"), [](QPainter &P, const QColor &C) { Pin(P, C, true); }},
        {QStringLiteral("details_close"), Cross},
    };
    const std::pair<const char *, State> States[] = {
        {"normal", State::Normal}, {"hover", State::Hover}, {"down", State::Down}, {"disabled", State::Disabled}};
    std::vector<TPicture> Out;
    for (const auto &G : Glyphs)
        for (const auto &S : States)
            Out.push_back({G.first + QLatin1Char('_') + QLatin1String(S.first), Button(G.second, S.second)});
    for (TPicture &P : FramePictures())
        Out.push_back(std::move(P));
    return Out;
}

} // namespace

int main(int argc, char **argv)
{
    return RunPictureGenerator(argc, argv, AllPictures);
}

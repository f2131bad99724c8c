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
    QPainterPath head;
    head.moveTo(9.2, 1.8);
    head.lineTo(13.2, 3.9);
    head.lineTo(9.6, 6.6);
    head.closeSubpath();
    P.setPen(Qt::NoPen);
    P.setBrush(Ink);
    P.drawPath(head);
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
    QImage img = NewImage(kSize, kSize);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    if (S == State::Hover || S == State::Down) {
        QLinearGradient g(0, 0, 0, kSize);
        g.setColorAt(0, S == State::Hover ? QColor(0xF4, 0xF9, 0xFF) : QColor(0xC2, 0xD8, 0xF2));
        g.setColorAt(1, S == State::Hover ? QColor(0xCC, 0xE2, 0xFA) : QColor(0xE2, 0xEE, 0xFB));
        QPainterPath plate;
        plate.addRoundedRect(QRectF(0.5, 0.5, kSize - 1, kSize - 1), 2.5, 2.5);
        p.fillPath(plate, g);
        p.setPen(S == State::Hover ? QColor(0x5A, 0x8F, 0xD0) : QColor(0x2C, 0x62, 0xA8));
        p.drawPath(plate);
    }
    if (S == State::Down)
        p.translate(0.5, 1);
    const QColor ink = S == State::Disabled ? QColor(0xB0, 0xB0, 0xB0)
        : S == State::Normal                ? QColor(0x3A, 0x4F, 0x6E)
                                            : QColor(0x1F, 0x4F, 0x8F);
    Draw(p, ink);
    return img;
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
    QImage img = NewImage(W, H);
    QPainter p(&img);
    p.fillRect(img.rect(), kPanel);
    QLinearGradient g(0, 0, 0, kTitleHeight);
    g.setColorAt(0, kBandTop);
    g.setColorAt(1, kBandBottom);
    p.fillRect(QRect(0, 0, W, kTitleHeight), g);
    p.setPen(kBandLine);
    p.drawLine(1, kTitleHeight - 1, W - 2, kTitleHeight - 1);
    p.setPen(kHighlight);
    p.drawLine(1, 1, W - 2, 1);
    p.drawLine(1, 1, 1, kTitleHeight - 2);
    p.drawLine(1, kTitleHeight, 1, H - 2);
    p.setPen(kShade);
    p.drawLine(W - 2, 2, W - 2, kTitleHeight - 2);
    p.drawLine(W - 2, kTitleHeight, W - 2, H - 2);
    p.drawLine(2, H - 2, W - 2, H - 2);
    p.setPen(kOutline);
    p.drawRect(0, 0, W - 1, H - 1);
    p.end();
    for (const QPoint &c : {QPoint(0, 0), QPoint(W - 1, 0), QPoint(0, H - 1), QPoint(W - 1, H - 1)})
        img.setPixelColor(c, kCorner);
    return img;
}

std::vector<TPicture> FramePictures()
{
    constexpr int kW = 40, kH = 60, kRun = 8;
    const QImage f = WholeFrame(kW, kH);
    return {
        {QStringLiteral("details_border_topleft"), f.copy(0, 0, kSide, kTitleHeight)},
        {QStringLiteral("details_border_top"), f.copy(kSide, 0, kRun, kTitleHeight)},
        {QStringLiteral("details_border_topright"), f.copy(kW - kSide, 0, kSide, kTitleHeight)},
        {QStringLiteral("details_border_left"), f.copy(0, kTitleHeight, kSide, kRun)},
        {QStringLiteral("details_border_right"), f.copy(kW - kSide, kTitleHeight, kSide, kRun)},
        {QStringLiteral("details_border_bottomleft"), f.copy(0, kH - kBottom, kSide, kBottom)},
        {QStringLiteral("details_border_bottom"), f.copy(kSide, kH - kBottom, kRun, kBottom)},
        {QStringLiteral("details_border_bottomright"), f.copy(kW - kSide, kH - kBottom, kSide, kBottom)},
    };
}

std::vector<TPicture> AllPictures()
{
    const std::vector<std::pair<QString, Glyph>> glyphs = {
        {QStringLiteral("details_refresh"), Refresh},
        {QStringLiteral("details_nailup"), [](QPainter &P, const QColor &C) { Pin(P, C, false); }},
        {QStringLiteral("details_naildown"), [](QPainter &P, const QColor &C) { Pin(P, C, true); }},
        {QStringLiteral("details_close"), Cross},
    };
    const std::pair<const char *, State> states[] = {
        {"normal", State::Normal}, {"hover", State::Hover}, {"down", State::Down}, {"disabled", State::Disabled}};
    std::vector<TPicture> out;
    for (const auto &g : glyphs)
        for (const auto &s : states)
            out.push_back({g.first + QLatin1Char('_') + QLatin1String(s.first), Button(g.second, s.second)});
    for (TPicture &p : FramePictures())
        out.push_back(std::move(p));
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    return RunPictureGenerator(argc, argv, AllPictures);
}

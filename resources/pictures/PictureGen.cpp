// Draws every picture of the program's forms into PNG files.
// Run by hand (target taskvane_pictures) when a picture changes; the PNG files are committed.
#include "common/PictureTools.h"

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <cmath>
#include <functional>

namespace {

// What the drawing functions have drawn so far.
std::vector<TPicture> g_pictures;

// Palette shared by every piece so that the frame reads as one surface.
const QColor kTitleTop(0x3C, 0x7F, 0xD9);
const QColor kTitleBottom(0x1F, 0x4F, 0x8F);
const QColor kFrameDark(0x1A, 0x43, 0x7A);
const QColor kFrameLight(0x5B, 0x93, 0xDE);
const QColor kBarTop(0xF8, 0xFA, 0xFD);
const QColor kBarBottom(0xDC, 0xE5, 0xF1);
const QColor kBarLine(0xB3, 0xC4, 0xDA);
const QColor kMenuTop(0xEC, 0xF1, 0xF8);
const QColor kMenuBottom(0xD3, 0xDE, 0xED);
const QColor kInk(0x1F, 0x4F, 0x8F);
const QColor kKey(0xFF, 0x00, 0xFF);

constexpr int kTitleHeight = 30;

QColor Mix(const QColor &A, const QColor &B, double T)
{
    return QColor::fromRgbF(float(A.redF() + (B.redF() - A.redF()) * T),
                            float(A.greenF() + (B.greenF() - A.greenF()) * T),
                            float(A.blueF() + (B.blueF() - A.blueF()) * T));
}

QColor TitleAt(int Y)
{
    return Mix(kTitleTop, kTitleBottom, double(Y) / (kTitleHeight - 1));
}

void Save(const QImage &Img, const QString &Name)
{
    g_pictures.push_back({Name, Img.convertToFormat(QImage::Format_ARGB32)});
}

// Button pictures carry the transparency key instead of alpha: fully transparent pixels become
// magenta, partly covered ones are blended over the colour the button sits on, so no pink fringe
// shows around anti-aliased edges.
QImage Keyed(const QImage &Drawing, const std::function<QColor(int, int)> &Backdrop)
{
    QImage src = Drawing.convertToFormat(QImage::Format_ARGB32);
    QImage out(src.size(), QImage::Format_RGB32);
    for (int y = 0; y < src.height(); ++y) {
        for (int x = 0; x < src.width(); ++x) {
            const QRgb p = src.pixel(x, y);
            const int a = qAlpha(p);
            if (a == 0) {
                out.setPixel(x, y, kKey.rgb());
                continue;
            }
            const QColor b = Backdrop(x, y);
            const double t = a / 255.0;
            QColor c = QColor::fromRgbF(float(qRed(p) / 255.0 * t + b.redF() * (1 - t)),
                                        float(qGreen(p) / 255.0 * t + b.greenF() * (1 - t)),
                                        float(qBlue(p) / 255.0 * t + b.blueF() * (1 - t)));
            if (c.rgb() == kKey.rgb())
                c = QColor(0xFE, 0x00, 0xFE);
            out.setPixel(x, y, c.rgb());
        }
    }
    return out;
}

QPainterPath RoundRect(const QRectF &R, double Radius)
{
    QPainterPath p;
    p.addRoundedRect(R, Radius, Radius);
    return p;
}

// ---- frame ---------------------------------------------------------------------------------

void DrawTitleStrip(QPainter &P, int W, bool LeftEdge, bool RightEdge)
{
    for (int y = 0; y < kTitleHeight; ++y) {
        P.setPen(TitleAt(y));
        P.drawLine(0, y, W - 1, y);
    }
    P.setPen(kFrameLight.lighter(115));
    P.drawLine(0, 0, W - 1, 0);
    P.setPen(kFrameDark);
    if (LeftEdge)
        P.drawLine(0, 0, 0, kTitleHeight - 1);
    if (RightEdge)
        P.drawLine(W - 1, 0, W - 1, kTitleHeight - 1);
}

void Frame()
{
    {
        QImage img = NewImage(5, kTitleHeight);
        QPainter p(&img);
        DrawTitleStrip(p, 5, true, false);
        p.setPen(kFrameLight);
        p.drawLine(1, 1, 1, kTitleHeight - 1);
        p.end();
        Save(img, QStringLiteral("border_topleft"));
    }
    {
        QImage img = NewImage(8, kTitleHeight);
        QPainter p(&img);
        DrawTitleStrip(p, 8, false, false);
        p.end();
        Save(img, QStringLiteral("border_top"));
    }
    {
        QImage img = NewImage(5, kTitleHeight);
        QPainter p(&img);
        DrawTitleStrip(p, 5, false, true);
        p.setPen(kFrameLight);
        p.drawLine(3, 1, 3, kTitleHeight - 1);
        p.end();
        Save(img, QStringLiteral("border_topright"));
    }
    // Sides and bottom: a dark outer line, the title's bottom blue, a light inner line.
    const QColor side[5] = {kFrameDark, kTitleBottom, kTitleBottom, kFrameLight, kFrameDark.lighter(160)};
    {
        QImage img = NewImage(5, 8);
        for (int x = 0; x < 5; ++x)
            for (int y = 0; y < 8; ++y)
                img.setPixelColor(x, y, side[x]);
        Save(img, QStringLiteral("border_left"));
        Save(img.mirrored(true, false), QStringLiteral("border_right"));
    }
    {
        QImage img = NewImage(8, 5);
        for (int x = 0; x < 8; ++x)
            for (int y = 0; y < 5; ++y)
                img.setPixelColor(x, y, side[4 - y]);
        Save(img, QStringLiteral("border_bottom"));
    }
    {
        QImage img = NewImage(5, 5);
        for (int x = 0; x < 5; ++x)
            for (int y = 0; y < 5; ++y)
                img.setPixelColor(x, y, side[qMin(x, 4 - y)]);
        Save(img, QStringLiteral("border_bottomleft"));
        Save(img.mirrored(true, false), QStringLiteral("border_bottomright"));
    }
    {
        // Resize grip: three rows of raised dots along the diagonal.
        QImage img = NewImage(10, 10);
        QPainter p(&img);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j <= i; ++j) {
                const int x = 7 - 3 * j;
                const int y = 7 - 3 * (i - j);
                p.fillRect(x + 1, y + 1, 2, 2, QColor(255, 255, 255, 220));
                p.fillRect(x, y, 2, 2, kFrameDark);
            }
        }
        p.end();
        Save(img, QStringLiteral("grip"));
    }
}

// ---- icons ---------------------------------------------------------------------------------

// The program's mark: a rounded blue tile with three rising bars and a pulse line.
QImage ProgramIcon(int Size)
{
    QImage img = NewImage(Size, Size);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = Size / 16.0;
    QLinearGradient g(0, 0, 0, Size);
    g.setColorAt(0, QColor(0x4F, 0x9B, 0xF5));
    g.setColorAt(1, QColor(0x17, 0x4A, 0x99));
    p.setPen(QPen(QColor(0x10, 0x35, 0x70), qMax(1.0, s * 0.7)));
    p.setBrush(g);
    p.drawPath(RoundRect(QRectF(0.5 * s, 0.5 * s, 15 * s, 15 * s), 3.2 * s));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 215));
    const double bars[3][2] = {{3.5, 8.0}, {7.0, 5.5}, {10.5, 3.0}};
    for (const auto &b : bars)
        p.drawRect(QRectF(b[0] * s, (b[1] + 2.0) * s, 2.2 * s, (11.0 - b[1]) * s));
    QPainterPath pulse;
    pulse.moveTo(2.0 * s, 9.5 * s);
    pulse.lineTo(5.0 * s, 9.5 * s);
    pulse.lineTo(6.5 * s, 5.5 * s);
    pulse.lineTo(8.5 * s, 12.0 * s);
    pulse.lineTo(10.0 * s, 8.0 * s);
    pulse.lineTo(14.0 * s, 8.0 * s);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0xFF, 0xC8, 0x3D), qMax(1.2, 1.3 * s), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(pulse);
    p.end();
    return img;
}

void Icons()
{
    Save(ProgramIcon(16), QStringLiteral("icon"));
    Save(ProgramIcon(48), QStringLiteral("logo"));
}

// ---- bars and menu backgrounds -------------------------------------------------------------

void Bars()
{
    {
        QImage img = NewImage(8, 36);
        QPainter p(&img);
        QLinearGradient g(0, 0, 0, 36);
        g.setColorAt(0, kBarTop);
        g.setColorAt(1, kBarBottom);
        p.fillRect(img.rect(), g);
        p.setPen(kBarLine);
        p.drawLine(0, 35, 7, 35);
        p.end();
        Save(img, QStringLiteral("topbar"));
    }
    {
        QImage img = NewImage(130, 36);
        QPainter p(&img);
        QLinearGradient g(0, 0, 0, 36);
        g.setColorAt(0, QColor(0x34, 0x6F, 0xC4));
        g.setColorAt(1, QColor(0x24, 0x56, 0x9E));
        p.fillRect(img.rect(), g);
        p.setPen(QColor(0x16, 0x3C, 0x70));
        p.drawLine(0, 35, 129, 35);
        p.setPen(QColor(0x6A, 0x9C, 0xE0));
        p.drawLine(0, 0, 129, 0);
        p.end();
        Save(img, QStringLiteral("leftmenu_title"));
    }
    {
        QImage img = NewImage(130, 64);
        QPainter p(&img);
        QLinearGradient g(0, 0, 0, 64);
        g.setColorAt(0, kMenuTop);
        g.setColorAt(1, kMenuBottom);
        p.fillRect(img.rect(), g);
        p.setPen(kBarLine);
        p.drawLine(129, 0, 129, 63);
        p.end();
        Save(img, QStringLiteral("leftmenu_body"));
    }
    {
        // The search box's frame; the corners outside the rounding stay clear.
        QImage drawing = NewImage(222, 24);
        QPainter p(&drawing);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(QColor(0x8F, 0xA8, 0xC8), 1));
        p.setBrush(Qt::white);
        p.drawPath(RoundRect(QRectF(0.5, 0.5, 221, 23), 4));
        p.setPen(QColor(0xD6, 0xE0, 0xEC));
        p.drawLine(QPointF(31.5, 4), QPointF(31.5, 20));
        p.end();
        Save(drawing, QStringLiteral("search_box"));
    }
}

// ---- title-bar buttons ---------------------------------------------------------------------

enum State { Normal, Hover, Down, Disabled };
const char *const kStateNames[4] = {"normal", "hover", "down", "disabled"};

void TitleButton(const QString &Name, const std::function<void(QPainter &, const QColor &)> &Glyph, bool Danger)
{
    const int w = 28, h = 20;
    for (int s = 0; s < 4; ++s) {
        QImage drawing = NewImage(w, h);
        QPainter p(&drawing);
        p.setRenderHint(QPainter::Antialiasing);
        if (s == Hover || s == Down) {
            QColor fill = Danger ? QColor(0xE0, 0x3E, 0x3E) : QColor(255, 255, 255, 60);
            if (s == Down)
                fill = Danger ? QColor(0xA8, 0x22, 0x22) : QColor(0, 0x1A, 0x40, 90);
            p.setPen(Qt::NoPen);
            p.setBrush(fill);
            p.drawPath(RoundRect(QRectF(1, 1, w - 2, h - 2), 3));
        }
        QColor ink = Qt::white;
        if (s == Disabled)
            ink = QColor(0xA8, 0xBF, 0xDF);
        p.translate(s == Down ? 1 : 0, s == Down ? 1 : 0);
        Glyph(p, ink);
        p.end();
        // The buttons sit one pixel below the top of the title bar.
        Save(Keyed(drawing, [](int, int Y) { return TitleAt(Y + 1); }),
             QStringLiteral("btn_%1_%2").arg(Name, QLatin1String(kStateNames[s])));
    }
}

void TitleButtons()
{
    TitleButton(
        QStringLiteral("about"),
        [](QPainter &P, const QColor &Ink) {
            P.setPen(QPen(Ink, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            P.setBrush(Qt::NoBrush);
            QPainterPath q;
            q.moveTo(11.2, 7.4);
            q.cubicTo(11.2, 4.6, 16.8, 4.6, 16.8, 7.4);
            q.cubicTo(16.8, 9.6, 14.0, 9.6, 14.0, 12.0);
            P.drawPath(q);
            P.setPen(Qt::NoPen);
            P.setBrush(Ink);
            P.drawEllipse(QPointF(14.0, 14.8), 1.1, 1.1);
        },
        false);
    TitleButton(
        QStringLiteral("min"), [](QPainter &P, const QColor &Ink) { P.fillRect(QRectF(9, 12, 10, 2), Ink); }, false);
    TitleButton(
        QStringLiteral("max"),
        [](QPainter &P, const QColor &Ink) {
            P.setPen(QPen(Ink, 1));
            P.setBrush(Qt::NoBrush);
            P.drawRect(QRectF(9.5, 5.5, 9, 9));
            P.fillRect(QRectF(9.5, 5.5, 9, 2), Ink);
        },
        false);
    TitleButton(
        QStringLiteral("close"),
        [](QPainter &P, const QColor &Ink) {
            P.setPen(QPen(Ink, 1.8, Qt::SolidLine, Qt::RoundCap));
            P.drawLine(QPointF(10, 6), QPointF(18, 14));
            P.drawLine(QPointF(18, 6), QPointF(10, 14));
        },
        true);
}

// ---- left menu -----------------------------------------------------------------------------

using Glyph = std::function<void(QPainter &, const QColor &)>;

// Glyphs on a 20 x 20 grid.
void GlyphProcesses(QPainter &P, const QColor &Ink)
{
    P.setPen(QPen(Ink, 1.4));
    P.setBrush(Qt::NoBrush);
    P.drawRoundedRect(QRectF(2.5, 3.5, 15, 13), 1.5, 1.5);
    P.fillRect(QRectF(2.5, 3.5, 15, 3), Ink);
    for (int i = 0; i < 3; ++i) {
        P.fillRect(QRectF(5, 8.5 + 2.6 * i, 1.6, 1.6), Ink);
        P.fillRect(QRectF(8, 8.5 + 2.6 * i, 7 - 2 * (i % 2), 1.6), Ink);
    }
}

void GlyphServices(QPainter &P, const QColor &Ink)
{
    QPainterPath gear;
    const QPointF c(10, 10);
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const double a0 = (i - 0.5) * M_PI / teeth, a1 = (i + 0.5) * M_PI / teeth;
        const double r = (i % 2 == 0) ? 8.2 : 6.2;
        const QPointF p0 = c + QPointF(std::cos(a0) * r, std::sin(a0) * r);
        const QPointF p1 = c + QPointF(std::cos(a1) * r, std::sin(a1) * r);
        if (i == 0)
            gear.moveTo(p0);
        else
            gear.lineTo(p0);
        gear.lineTo(p1);
    }
    gear.closeSubpath();
    gear.addEllipse(c, 2.6, 2.6);
    gear.setFillRule(Qt::OddEvenFill);
    P.setPen(Qt::NoPen);
    P.setBrush(Ink);
    P.drawPath(gear);
}

void GlyphAutoruns(QPainter &P, const QColor &Ink)
{
    // A power symbol: starting with the session.
    P.setPen(QPen(Ink, 2.0, Qt::SolidLine, Qt::RoundCap));
    P.setBrush(Qt::NoBrush);
    P.drawArc(QRectF(3, 4, 14, 14), 120 * 16, -300 * 16);
    P.drawLine(QPointF(10, 2.5), QPointF(10, 10));
}

void GlyphNetwork(QPainter &P, const QColor &Ink)
{
    P.setPen(QPen(Ink, 1.4));
    P.setBrush(Qt::NoBrush);
    P.drawEllipse(QPointF(10, 10), 7.5, 7.5);
    P.drawEllipse(QPointF(10, 10), 3.2, 7.5);
    P.drawLine(QPointF(2.5, 10), QPointF(17.5, 10));
    P.drawLine(QPointF(4, 6), QPointF(16, 6));
    P.drawLine(QPointF(4, 14), QPointF(16, 14));
}

void GlyphSystem(QPainter &P, const QColor &Ink)
{
    P.setPen(QPen(Ink, 1.4));
    P.setBrush(Qt::NoBrush);
    P.drawRect(QRectF(5.5, 5.5, 9, 9));
    P.fillRect(QRectF(8, 8, 4, 4), Ink);
    for (int i = 0; i < 3; ++i) {
        const double t = 7.5 + 2.5 * i;
        P.drawLine(QPointF(t, 2), QPointF(t, 5.5));
        P.drawLine(QPointF(t, 14.5), QPointF(t, 18));
        P.drawLine(QPointF(2, t), QPointF(5.5, t));
        P.drawLine(QPointF(14.5, t), QPointF(18, t));
    }
}

void GlyphConfig(QPainter &P, const QColor &Ink)
{
    // Three sliders.
    P.setPen(QPen(Ink, 1.4, Qt::SolidLine, Qt::RoundCap));
    const double knob[3] = {6, 13, 9};
    for (int i = 0; i < 3; ++i) {
        const double y = 4.5 + 5.5 * i;
        P.drawLine(QPointF(3, y), QPointF(17, y));
        P.setBrush(Ink);
        P.drawEllipse(QPointF(knob[i], y), 2.1, 2.1);
    }
}

QColor MenuBackdrop(int Y, int Top)
{
    return Mix(kMenuTop, kMenuBottom, (Top + Y) / 510.0);
}

void MenuButton(const QString &Name, const Glyph &Glyph, int Top)
{
    const int w = 122, h = 40;
    for (int s = 0; s < 4; ++s) {
        QImage drawing = NewImage(w, h);
        QPainter p(&drawing);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF box(1, 1, w - 2, h - 2);
        QColor ink = kInk;
        if (s == Hover) {
            p.setPen(QPen(QColor(0x9C, 0xB9, 0xE0), 1));
            p.setBrush(QColor(255, 255, 255, 200));
            p.drawPath(RoundRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 4));
        } else if (s == Down) {
            p.setPen(QPen(QColor(0x86, 0xA6, 0xD2), 1));
            p.setBrush(QColor(0xC4, 0xD5, 0xEE));
            p.drawPath(RoundRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 4));
        } else if (s == Disabled) {
            // The current page's button: a filled blue bar with a marker on the left.
            QLinearGradient g(0, 0, 0, h);
            g.setColorAt(0, QColor(0x45, 0x87, 0xE0));
            g.setColorAt(1, QColor(0x25, 0x5D, 0xB0));
            p.setPen(QPen(QColor(0x1B, 0x4A, 0x8E), 1));
            p.setBrush(g);
            p.drawPath(RoundRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 4));
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0xFF, 0xC8, 0x3D));
            p.drawRoundedRect(QRectF(4, 10, 3, h - 20), 1.5, 1.5);
            ink = Qt::white;
        }
        p.translate(14 + (s == Down ? 1 : 0), (h - 20) / 2.0 + (s == Down ? 1 : 0));
        Glyph(p, ink);
        p.end();
        Save(Keyed(drawing, [Top](int, int Y) { return MenuBackdrop(Y, Top); }),
             QStringLiteral("menu_%1_%2").arg(Name, QLatin1String(kStateNames[s])));
    }
}

void LeftMenu()
{
    const struct
    {
        const char *Name;
        Glyph Glyph;
    } items[6] = {{"process", GlyphProcesses}, {"service", GlyphServices}, {"autorun", GlyphAutoruns},
                  {"network", GlyphNetwork},   {"system", GlyphSystem},    {"config", GlyphConfig}};
    for (int i = 0; i < 6; ++i)
        MenuButton(QLatin1String(items[i].Name), items[i].Glyph, 6 + 44 * i);

    // The menu title button: the title strip with a fold chevron at the right, pointing left
    // while the menu shows ("menutitle") and right while it is folded ("menutitle_folded").
    for (int f = 0; f < 2; ++f)
        for (int s = 0; s < 4; ++s) {
            QImage img = NewImage(130, 36);
            QPainter p(&img);
            p.setRenderHint(QPainter::Antialiasing);
            QLinearGradient g(0, 0, 0, 36);
            QColor top(0x34, 0x6F, 0xC4), bottom(0x24, 0x56, 0x9E);
            if (s == Hover) {
                top = top.lighter(112);
                bottom = bottom.lighter(112);
            } else if (s == Down) {
                top = top.darker(112);
                bottom = bottom.darker(112);
            } else if (s == Disabled) {
                top = QColor(0x8D, 0xA5, 0xC6);
                bottom = QColor(0x76, 0x8F, 0xB2);
            }
            g.setColorAt(0, top);
            g.setColorAt(1, bottom);
            p.fillRect(img.rect(), g);
            p.setPen(QColor(0x16, 0x3C, 0x70));
            p.drawLine(0, 35, 129, 35);
            p.setPen(top.lighter(125));
            p.drawLine(0, 0, 129, 0);
            const double dx = s == Down ? 1 : 0;
            p.setPen(QPen(QColor(255, 255, 255, 230), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
            for (int k = 0; k < 2; ++k) {
                QPainterPath chevron;
                const double x = 112 + dx + 5 * k;
                const double tip = f == 0 ? x - 4 : x;
                const double tail = f == 0 ? x : x - 4;
                chevron.moveTo(tail, 13 + dx);
                chevron.lineTo(tip, 18 + dx);
                chevron.lineTo(tail, 23 + dx);
                p.drawPath(chevron);
            }
            p.end();
            Save(img,
                 QStringLiteral("%1_%2").arg(f == 0 ? QStringLiteral("menutitle") : QStringLiteral("menutitle_folded"),
                                             QLatin1String(kStateNames[s])));
        }
}

// ---- search --------------------------------------------------------------------------------

// Neutral marks for the three search engines: a coloured tile with a magnifier, nothing more.
void EngineGlyphs()
{
    const QColor tiles[3] = {QColor(0x2F, 0x6F, 0xDB), QColor(0x2E, 0x9E, 0x5B), QColor(0x7B, 0x4B, 0xC4)};
    for (int i = 0; i < 3; ++i) {
        QImage drawing = NewImage(16, 16);
        QPainter p(&drawing);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient g(0, 0, 0, 16);
        g.setColorAt(0, tiles[i].lighter(125));
        g.setColorAt(1, tiles[i]);
        p.setPen(QPen(tiles[i].darker(140), 1));
        p.setBrush(g);
        p.drawPath(RoundRect(QRectF(0.5, 0.5, 15, 15), 3));
        p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(6.8, 6.8), 3.3, 3.3);
        p.drawLine(QPointF(9.3, 9.3), QPointF(12.5, 12.5));
        // Up to three dots tell the engines apart without naming them.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 230));
        for (int d = 0; d <= i; ++d)
            p.drawEllipse(QPointF(12.8 - 0.0, 3.0 + 2.6 * d), 0.9, 0.9);
        p.end();
        // Menu items and the engine button sit on white.
        Save(Keyed(drawing, [](int, int) { return QColor(Qt::white); }), QStringLiteral("engine_%1").arg(i));
    }

    const int w = 24, h = 22;
    for (int s = 0; s < 4; ++s) {
        QImage drawing = NewImage(w, h);
        QPainter p(&drawing);
        p.setRenderHint(QPainter::Antialiasing);
        QColor ink = kInk;
        if (s == Hover || s == Down) {
            p.setPen(Qt::NoPen);
            p.setBrush(s == Hover ? QColor(0xE3, 0xEC, 0xF8) : QColor(0xC4, 0xD5, 0xEE));
            p.drawPath(RoundRect(QRectF(1, 2, w - 3, h - 4), 3));
        }
        if (s == Disabled)
            ink = QColor(0xA0, 0xA8, 0xB4);
        const double d = s == Down ? 1 : 0;
        p.setPen(QPen(ink, 1.8, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(10 + d, 9.5 + d), 4.2, 4.2);
        p.drawLine(QPointF(13.2 + d, 12.7 + d), QPointF(17 + d, 16.5 + d));
        p.end();
        Save(Keyed(drawing, [](int, int) { return QColor(Qt::white); }),
             QStringLiteral("btn_search_%1").arg(QLatin1String(kStateNames[s])));
    }
}

} // namespace

int main(int argc, char **argv)
{
    return RunPictureGenerator(argc, argv, [] {
        Frame();
        Icons();
        Bars();
        TitleButtons();
        LeftMenu();
        EngineGlyphs();
        return std::move(g_pictures);
    });
}

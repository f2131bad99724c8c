// Draws the services page's pictures (the three row images of the service list and the
// four states of the page's buttons) into PNG files, which the main window embeds.
//
//   service_picture_gen <png directory>
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

// A round 16 x 16 badge in the given colour, its symbol drawn by the caller in white.
QImage Badge(const QColor &Light, const QColor &Dark, const std::function<void(QPainter &)> &Symbol)
{
    QImage img = NewImage(16, 16);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(QPointF(6, 5), 10);
    g.setColorAt(0, Light);
    g.setColorAt(1, Dark);
    p.setPen(QPen(Dark.darker(130), 1));
    p.setBrush(g);
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    Symbol(p);
    return img;
}

// The running service: a play triangle on green.
QImage Running()
{
    return Badge(QColor(0x7C, 0xD8, 0x6A), QColor(0x2E, 0x8B, 0x2A), [](QPainter &P) {
        QPainterPath t;
        t.moveTo(6, 4.5);
        t.lineTo(11.5, 8);
        t.lineTo(6, 11.5);
        t.closeSubpath();
        P.drawPath(t);
    });
}

// The stopped service: a square on red.
QImage Stopped()
{
    return Badge(QColor(0xF2, 0x7C, 0x6E), QColor(0xB0, 0x24, 0x1C),
                 [](QPainter &P) { P.drawRect(QRectF(5, 5, 6, 6)); });
}

// The paused service: two bars on amber.
QImage Paused()
{
    return Badge(QColor(0xFF, 0xD8, 0x6A), QColor(0xC8, 0x86, 0x10), [](QPainter &P) {
        P.drawRect(QRectF(5, 4.5, 2.2, 7));
        P.drawRect(QRectF(8.8, 4.5, 2.2, 7));
    });
}

// A 100 x 20 button plate in one state.
QImage Button(const QColor &Top, const QColor &Bottom, const QColor &Border)
{
    QImage img = NewImage(100, 20);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 20);
    g.setColorAt(0, Top);
    g.setColorAt(1, Bottom);
    QPainterPath path;
    path.addRoundedRect(QRectF(0.5, 0.5, 99, 19), 3, 3);
    p.fillPath(path, g);
    p.setPen(QColor(255, 255, 255, 110));
    p.drawLine(QPointF(3, 1.5), QPointF(97, 1.5));
    p.setPen(Border);
    p.drawPath(path);
    return img;
}

std::vector<TPicture> AllPictures()
{
    return {
        {QStringLiteral("service_running"), Running()},
        {QStringLiteral("service_stopped"), Stopped()},
        {QStringLiteral("service_paused"), Paused()},
        {QStringLiteral("button_normal"),
         Button(QColor(0xFC, 0xFD, 0xFE), QColor(0xDA, 0xE2, 0xEE), QColor(0x8C, 0x9C, 0xB4))},
        {QStringLiteral("button_hover"),
         Button(QColor(0xF0, 0xF7, 0xFF), QColor(0xC4, 0xDC, 0xF6), QColor(0x3C, 0x7F, 0xD1))},
        {QStringLiteral("button_down"),
         Button(QColor(0xC4, 0xD8, 0xF0), QColor(0xE4, 0xEE, 0xFA), QColor(0x2C, 0x62, 0xA8))},
        {QStringLiteral("button_disabled"),
         Button(QColor(0xF4, 0xF4, 0xF4), QColor(0xE8, 0xE8, 0xE8), QColor(0xC0, 0xC0, 0xC0))},
    };
}

} // namespace

int main(int argc, char **argv)
{
    return RunPictureGenerator(argc, argv, AllPictures);
}

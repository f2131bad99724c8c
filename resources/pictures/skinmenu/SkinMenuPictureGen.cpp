// Draws the bitmaps of the skinned menus (the check mark and the MacOS item and bar faces) into
// PNG files, which the skinned controls embed.
//
//   skin_menu_picture_gen <png directory>
//
// Run by hand when a picture changes; the PNG files are kept in the repository. The check mark
// lies on white, which the menus treat as transparent.

#include "../common/PictureTools.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <vector>

namespace {

QImage CheckMark()
{
    QImage img(16, 16, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(Qt::black, 1));
    // A two-pixel-thick tick, drawn pixel-exact so that no gray edge survives the white mask.
    const int pts[][2] = {{4, 7}, {5, 8}, {6, 9}, {7, 8}, {8, 7}, {9, 6}, {10, 5}, {11, 4}};
    for (const auto &pt : pts) {
        p.drawPoint(pt[0], pt[1]);
        p.drawPoint(pt[0], pt[1] + 1);
        p.drawPoint(pt[0], pt[1] + 2);
    }
    return img;
}

QImage Face(int Width, int Height, const QColor &Top, const QColor &Bottom, const QColor &Line)
{
    QImage img(Width, Height, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, Height);
    g.setColorAt(0, Top);
    g.setColorAt(1, Bottom);
    p.fillRect(img.rect(), g);
    p.setPen(Line);
    p.drawLine(0, Height - 1, Width - 1, Height - 1);
    return img;
}

std::vector<TPicture> DrawAll()
{
    return {
        {QStringLiteral("MENU_CHECKED"), CheckMark()},
        {QStringLiteral("MACOS_MENU_BAR"),
         Face(16, 20, QColor(250, 250, 250), QColor(222, 222, 222), QColor(200, 200, 200))},
        {QStringLiteral("MACOS_MENU_SELECT"),
         Face(16, 20, QColor(99, 149, 229), QColor(36, 88, 196), QColor(28, 70, 160))},
    };
}

} // namespace

int main(int argc, char **argv)
{
    return RunPictureGenerator(argc, argv, DrawAll);
}

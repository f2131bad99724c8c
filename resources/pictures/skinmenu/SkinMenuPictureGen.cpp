// Draws the bitmaps of the skinned menus (the check mark and the MacOS item and bar faces) into
// PNG files and writes the C++ source that embeds them in the program.
//
//   skin_menu_picture_gen <png directory> <embedded source file>
//
// Run by hand when a picture changes; both outputs are kept in the repository. The check mark
// lies on white, which the menus treat as transparent.

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <cstdio>
#include <vector>

namespace {

struct TPicture
{
    QString Name;
    QImage Image;
};

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
        {QStringLiteral("MACOS_MENU_BAR"), Face(16, 20, QColor(250, 250, 250), QColor(222, 222, 222), QColor(200, 200, 200))},
        {QStringLiteral("MACOS_MENU_SELECT"), Face(16, 20, QColor(99, 149, 229), QColor(36, 88, 196), QColor(28, 70, 160))},
    };
}

bool WriteSource(const QString &Path, const QString &PngDir, const std::vector<TPicture> &Pictures)
{
    QFile f(Path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    QTextStream s(&f);
    s << "// Bitmaps of the skinned menus, embedded as PNG data.\n"
         "// Written by resources/pictures/skinmenu/SkinMenuPictureGen.cpp from the PNG files in\n"
         "// resources/pictures/skinmenu/png/: change the generator, not this file.\n\n"
         "#include \"skin/SkinMenuPictures.h\"\n\nnamespace {\n\n";
    for (const TPicture &P : Pictures) {
        QFile png(PngDir + QLatin1Char('/') + P.Name + QStringLiteral(".png"));
        if (!png.open(QIODevice::ReadOnly))
            return false;
        const QByteArray data = png.readAll();
        s << "const unsigned char pic_" << P.Name << "[] = {";
        for (qsizetype i = 0; i < data.size(); ++i) {
            if (i % 16 == 0)
                s << "\n   ";
            s << QString::asprintf(" 0x%02x,", unsigned(uchar(data[i])));
        }
        s << "\n};\n\n";
    }
    s << "struct TMenuPicture\n{\n    const char16_t *Name;\n    const unsigned char *Data;\n    qsizetype Size;\n};\n\n"
         "const TMenuPicture MenuPictures[] = {\n";
    for (const TPicture &P : Pictures)
        s << "    {u\"" << P.Name << "\", pic_" << P.Name << ", sizeof(pic_" << P.Name << ")},\n";
    s << "};\n\n} // namespace\n\nnamespace skin_menu_pictures {\n\n"
         "QByteArrayView Find(QStringView Name)\n{\n"
         "    for (const TMenuPicture &P : MenuPictures)\n"
         "        if (Name == QStringView(P.Name))\n"
         "            return QByteArrayView(P.Data, P.Size);\n"
         "    return {};\n}\n\n} // namespace skin_menu_pictures\n";
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: skin_menu_picture_gen <png directory> <embedded source file>\n");
        return 2;
    }
    const QString pngDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(pngDir);
    const std::vector<TPicture> pictures = DrawAll();
    for (const TPicture &P : pictures)
        if (!P.Image.save(pngDir + QLatin1Char('/') + P.Name + QStringLiteral(".png"), "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(P.Name));
            return 1;
        }
    if (!WriteSource(QString::fromLocal8Bit(argv[2]), pngDir, pictures)) {
        std::fprintf(stderr, "cannot write the embedded source\n");
        return 1;
    }
    return 0;
}

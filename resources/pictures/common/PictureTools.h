#pragma once

// What the picture generators share: a blank canvas and saving the drawn pictures as PNG files.
//
// A generator is run by hand as
//   <generator> <png directory>
// (the build's target taskvane_pictures runs them all); the PNG files are kept in the repository
// and the libraries embed them as resources.

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QString>

#include <cstdio>
#include <vector>

struct TPicture
{
    QString Name;
    QImage Image;
};

// A transparent canvas to draw on.
inline QImage NewImage(int W, int H)
{
    QImage img(W, H, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

// Saves every picture as <PngDir>/<Name>.png.
inline bool SavePictures(const QString &PngDir, const std::vector<TPicture> &Pictures)
{
    for (const TPicture &p : Pictures) {
        const QString path = QDir(PngDir).filePath(p.Name + QStringLiteral(".png"));
        if (!p.Image.save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return false;
        }
    }
    return true;
}

// The whole run of a generator: draws the pictures (the application is up by then) and saves
// them. The exit code: 0 done, 1 a file could not be written, 2 usage.
template <typename TDraw>
int RunPictureGenerator(int Argc, char **Argv, TDraw Draw)
{
    // Drawing needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(Argc, Argv);
    if (Argc != 2) {
        std::fprintf(stderr, "usage: %s <png directory>\n", Argv[0]);
        return 2;
    }
    const QString pngDir = QString::fromLocal8Bit(Argv[1]);
    if (!QDir().mkpath(pngDir)) {
        std::fprintf(stderr, "cannot create %s\n", Argv[1]);
        return 1;
    }
    const std::vector<TPicture> pictures = Draw();
    if (!SavePictures(pngDir, pictures))
        return 1;
    std::printf("%zu pictures written\n", pictures.size());
    return 0;
}

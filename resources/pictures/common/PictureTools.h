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
    QImage Img(W, H, QImage::Format_ARGB32_Premultiplied);
    Img.fill(Qt::transparent);
    return Img;
}

// Saves every picture as <PngDir>/<Name>.png.
inline bool SavePictures(const QString &PngDir, const std::vector<TPicture> &Pictures)
{
    for (const TPicture &P : Pictures) {
        const QString path = QDir(PngDir).filePath(P.Name + QStringLiteral(".png"));
        if (!P.Image.save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return false;
        }
    }
    return true;
}

// The whole run of a generator: draws the pictures (the application is up by then) and saves
// them. The exit code: 0 done, 1 a file could not be written, 2 usage.
template <typename TDraw>
int RunPictureGenerator(int argc, char **argv, TDraw Draw)
{
    // Drawing needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <png directory>\n", argv[0]);
        return 2;
    }
    const QString pngDir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(pngDir)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    const std::vector<TPicture> pictures = Draw();
    if (!SavePictures(pngDir, pictures))
        return 1;
    std::printf("%zu pictures written\n", pictures.size());
    return 0;
}

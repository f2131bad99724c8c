#pragma once

// What the picture generators share: a blank canvas, saving the drawn pictures as PNG files and
// writing the C++ source that embeds those files in the program, behind a lookup by name.
//
// A generator is run by hand as
//   <generator> <png directory> <embedded source file>
// and both outputs are kept in the repository.

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QString>
#include <QTextStream>

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

// What makes one generator's embedded source its own.
struct TEmbeddedSource
{
    // The opening comment and the includes.
    QString Head;
    // The row type and the table of the pictures, and the namespace of the lookup.
    QString RowType;
    QString Table;
    QString Namespace;
    // Whether the lookup carries its comment.
    bool FindComment = true;
};

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

// Writes the source that embeds the saved PNG files, read back byte for byte.
inline bool WriteEmbeddedSource(const QString &Path, const QString &PngDir, const std::vector<TPicture> &Pictures,
                                const TEmbeddedSource &Source)
{
    QString out;
    QTextStream s(&out);
    s << Source.Head << "namespace {\n\n";
    for (const TPicture &P : Pictures) {
        QFile png(QDir(PngDir).filePath(P.Name + QStringLiteral(".png")));
        if (!png.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s back\n", qPrintable(png.fileName()));
            return false;
        }
        const QByteArray data = png.readAll();
        s << "const unsigned char pic_" << P.Name << "[] = {";
        for (qsizetype i = 0; i < data.size(); ++i) {
            if (i % 16 == 0)
                s << "\n   ";
            s << QString::asprintf(" 0x%02x,", unsigned(uchar(data[i])));
        }
        s << "\n};\n\n";
    }
    s << "struct " << Source.RowType
      << "\n{\n    const char16_t *Name;\n    const unsigned char *Data;\n    qsizetype Size;\n};\n\n"
      << "const " << Source.RowType << ' ' << Source.Table << "[] = {\n";
    for (const TPicture &P : Pictures)
        s << "    {u\"" << P.Name << "\", pic_" << P.Name << ", sizeof(pic_" << P.Name << ")},\n";
    s << "};\n\n} // namespace\n\nnamespace " << Source.Namespace << " {\n\n";
    if (Source.FindComment)
        s << "// The PNG data of the picture with this name; empty when there is none.\n";
    s << "QByteArrayView Find(QStringView Name)\n{\n"
      << "    for (const " << Source.RowType << " &P : " << Source.Table << ")\n"
      << "        if (Name == QStringView(P.Name))\n"
      << "            return QByteArrayView(P.Data, P.Size);\n"
      << "    return {};\n}\n\n} // namespace " << Source.Namespace << "\n";
    s.flush();

    QFile f(Path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(out.toUtf8()) < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(Path));
        return false;
    }
    return true;
}

// The whole run of a generator: draws the pictures (the application is up by then), saves them
// and writes the embedded source. The exit code: 0 done, 1 a file could not be written, 2 usage.
template <typename TDraw> int RunPictureGenerator(int argc, char **argv, TDraw Draw, const TEmbeddedSource &Source)
{
    // Drawing needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <png directory> <embedded source file>\n", argv[0]);
        return 2;
    }
    const QString pngDir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(pngDir)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    const std::vector<TPicture> pictures = Draw();
    if (!SavePictures(pngDir, pictures) ||
        !WriteEmbeddedSource(QString::fromLocal8Bit(argv[2]), pngDir, pictures, Source))
        return 1;
    std::printf("%zu pictures written\n", pictures.size());
    return 0;
}

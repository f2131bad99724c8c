// Draws the details panel's small buttons (refresh, pin, unpin, close), each in its four
// states, into PNG files and writes the C++ source that embeds them in the program.
//
//   details_picture_gen <png directory> <embedded source file>
//
// Run by hand when a picture changes; both outputs are kept in the repository.

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kSize = 16;

struct Picture
{
    QString Name;
    QImage Image;
};

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
    QImage Img(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    Img.fill(Qt::transparent);
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
                       : S == State::Normal ? QColor(0x3A, 0x4F, 0x6E)
                                            : QColor(0x1F, 0x4F, 0x8F);
    Draw(P, Ink);
    return Img;
}

std::vector<Picture> AllPictures()
{
    const std::vector<std::pair<QString, Glyph>> Glyphs = {
        {QStringLiteral("details_refresh"), Refresh},
        {QStringLiteral("details_nailup"), [](QPainter &P, const QColor &C) { Pin(P, C, false); }},
        {QStringLiteral("details_naildown"), [](QPainter &P, const QColor &C) { Pin(P, C, true); }},
        {QStringLiteral("details_close"), Cross},
    };
    const std::pair<const char *, State> States[] = {
        {"normal", State::Normal}, {"hover", State::Hover}, {"down", State::Down}, {"disabled", State::Disabled}};
    std::vector<Picture> Out;
    for (const auto &G : Glyphs)
        for (const auto &S : States)
            Out.push_back({G.first + QLatin1Char('_') + QLatin1String(S.first), Button(G.second, S.second)});
    return Out;
}

QString CIdent(const QString &Name)
{
    return QStringLiteral("pic_") + Name;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication App(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <png directory> <embedded source file>\n", argv[0]);
        return 2;
    }
    const QString PngDir = QString::fromLocal8Bit(argv[1]);
    const QString SourceFile = QString::fromLocal8Bit(argv[2]);
    if (!QDir().mkpath(PngDir)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }

    QString Out;
    QTextStream S(&Out);
    S << "// Pictures of the details panel, embedded as PNG data.\n"
         "// Written by resources/pictures/details/DetailsPictureGen.cpp from the PNG files\n"
         "// in resources/pictures/details/png/: change the generator, not this file.\n\n"
         "#include <QByteArrayView>\n#include <QStringView>\n\n"
         "namespace {\n\n";
    const std::vector<Picture> Pictures = AllPictures();
    for (const Picture &Pic : Pictures) {
        const QString Path = QDir(PngDir).filePath(Pic.Name + QStringLiteral(".png"));
        if (!Pic.Image.save(Path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(Path));
            return 1;
        }
        QFile F(Path);
        if (!F.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s back\n", qPrintable(Path));
            return 1;
        }
        const QByteArray Bytes = F.readAll();
        S << "const unsigned char " << CIdent(Pic.Name) << "[] = {";
        for (qsizetype i = 0; i < Bytes.size(); ++i) {
            if (i % 16 == 0)
                S << "\n   ";
            S << ' ' << QStringLiteral("0x%1").arg(quint8(Bytes[i]), 2, 16, QLatin1Char('0')) << ',';
        }
        S << "\n};\n\n";
    }
    S << "struct TDetailsPicture\n{\n    const char16_t *Name;\n    const unsigned char *Data;\n"
         "    qsizetype Size;\n};\n\n"
         "const TDetailsPicture DetailsPictures[] = {\n";
    for (const Picture &Pic : Pictures)
        S << "    {u\"" << Pic.Name << "\", " << CIdent(Pic.Name) << ", sizeof(" << CIdent(Pic.Name) << ")},\n";
    S << "};\n\n} // namespace\n\n"
         "namespace details_pictures {\n\n"
         "// The PNG data of the picture with this name; empty when there is none.\n"
         "QByteArrayView Find(QStringView Name)\n{\n"
         "    for (const TDetailsPicture &P : DetailsPictures)\n"
         "        if (Name == QStringView(P.Name))\n"
         "            return QByteArrayView(P.Data, P.Size);\n"
         "    return {};\n}\n\n"
         "} // namespace details_pictures\n";
    S.flush();

    QFile Src(SourceFile);
    if (!Src.open(QIODevice::WriteOnly | QIODevice::Truncate) || Src.write(Out.toUtf8()) < 0) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("%zu pictures written\n", Pictures.size());
    return 0;
}

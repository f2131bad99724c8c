// Draws the bitmaps of the skinned controls' five built-in styles into PNG files, which the
// skinned controls embed.
//
//   skin_picture_gen <png directory>
//
// Run by hand when a picture changes; the PNG files are kept in the repository. Every bitmap is
// opaque; magenta (255, 0, 255) marks the pixels a control may treat as transparent.

#include "../common/PictureTools.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <vector>

namespace {

const QColor kMagenta(255, 0, 255);

struct TStyle
{
    const char *Prefix;
    QColor Face;       // form colour
    QColor Accent;     // selection and bars
    QColor AccentDark; // borders and pressed parts
    QColor TitleTop, TitleBottom;
    QColor Glyph; // title-button symbols
    int TitleHeight;
    int ButtonSize;
    int ButtonTop;
    bool Round; // rounded title-button faces
};

const TStyle kStyles[] = {
    {"MACOS", QColor(0xE7, 0xE7, 0xE7), QColor(0x39, 0x73, 0xC4), QColor(0x7F, 0x7F, 0x7F), QColor(0xEE, 0xEE, 0xEE),
     QColor(0xB8, 0xB8, 0xB8), QColor(0x30, 0x30, 0x30), 23, 14, 4, true},
    {"WINXP", QColor(0xEF, 0xEB, 0xDE), QColor(0x31, 0x69, 0xC6), QColor(0x00, 0x2C, 0xC8), QColor(0x3A, 0x8C, 0xFF),
     QColor(0x00, 0x3C, 0xD8), QColor(255, 255, 255), 30, 21, 5, false},
    {"DEEPBLUE", QColor(0xE8, 0xE8, 0xE8), QColor(0x44, 0x4A, 0xA0), QColor(0x1C, 0x22, 0x5C), QColor(0x4A, 0x56, 0xB4),
     QColor(0x1E, 0x26, 0x6A), QColor(255, 255, 255), 24, 19, 2, false},
    {"PROTEIN", QColor(0xFB, 0xFB, 0xFB), QColor(0x2D, 0x30, 0xC4), QColor(0x18, 0x1A, 0x70), QColor(0x56, 0x5A, 0xDC),
     QColor(0x22, 0x24, 0x90), QColor(255, 255, 255), 24, 19, 2, true},
    {"BLUEGLASS", QColor(0xE7, 0xE7, 0xE7), QColor(0x5E, 0x5E, 0xEC), QColor(0x28, 0x28, 0x8C),
     QColor(0x9C, 0xB4, 0xF4), QColor(0x3C, 0x50, 0xC8), QColor(255, 255, 255), 30, 18, 6, true},
};

QImage NewImage(int W, int H, const QColor &Fill)
{
    QImage img(W, H, QImage::Format_RGB32);
    img.fill(Fill);
    return img;
}

QColor Mix(const QColor &A, const QColor &B, double T)
{
    return QColor(int(A.red() + (B.red() - A.red()) * T), int(A.green() + (B.green() - A.green()) * T),
                  int(A.blue() + (B.blue() - A.blue()) * T));
}

// The title band's gradient; buttons take the slice behind them so that they sit in the band.
void PaintTitleBand(QPainter &P, const TStyle &S, int X, int W, int DY = 0)
{
    QLinearGradient g(0, -DY, 0, S.TitleHeight - DY);
    g.setColorAt(0, S.TitleTop);
    g.setColorAt(1, S.TitleBottom);
    P.fillRect(QRect(X, 0, W, S.TitleHeight), g);
    P.fillRect(QRect(X, 1 - DY, W, S.TitleHeight / 2 - 1), QColor(255, 255, 255, 40));
}

// Four frames: checked, unchecked, checked disabled, unchecked disabled.
QImage CheckStrip(const TStyle &S, bool Radio)
{
    const int n = 13;
    QImage img = NewImage(4 * n, n, S.Face);
    QPainter p(&img);
    for (int f = 0; f < 4; ++f) {
        const bool checked = (f % 2) == 0;
        const bool enabled = f < 2;
        const QRect r(f * n, 0, n - 1, n - 1);
        const QColor border = enabled ? S.AccentDark : QColor(0xA8, 0xA8, 0xA8);
        QLinearGradient g(r.topLeft(), r.bottomRight());
        g.setColorAt(0, enabled ? QColor(0xFF, 0xFF, 0xFF) : QColor(0xF0, 0xF0, 0xF0));
        g.setColorAt(1, enabled ? Mix(S.Face, QColor(255, 255, 255), 0.3) : QColor(0xE0, 0xE0, 0xE0));
        p.setPen(border);
        p.setBrush(g);
        if (Radio) {
            p.setRenderHint(QPainter::Antialiasing, true);
            p.drawEllipse(QRectF(r).adjusted(0.5, 0.5, 0.5, 0.5));
        } else {
            p.drawRect(r);
        }
        if (checked) {
            const QColor mark = enabled ? S.Accent : QColor(0xA0, 0xA0, 0xA0);
            if (Radio) {
                p.setPen(Qt::NoPen);
                p.setBrush(mark);
                p.drawEllipse(QRectF(r.x() + 3.5, 3.5, 5, 5));
            } else {
                p.setRenderHint(QPainter::Antialiasing, false);
                p.setPen(mark);
                const int x = f * n;
                for (int i = 0; i < 3; ++i) {
                    p.drawLine(x + 3, 5 + i, x + 5, 7 + i);
                    p.drawLine(x + 5, 7 + i, x + 9, 3 + i);
                }
            }
        }
        p.setRenderHint(QPainter::Antialiasing, false);
    }
    return img;
}

// Eighteen frames of three states each: control box, help, maximise, restore, minimise, close.
QImage TitleButtons(const TStyle &S)
{
    const int n = S.ButtonSize;
    QImage img = NewImage(18 * n, n, kMagenta);
    QPainter p(&img);
    for (int f = 0; f < 18; ++f) {
        const int kind = f / 3;
        const int state = f % 3; // normal, mouse on, mouse down
        const int x = f * n;
        p.save();
        p.setClipRect(QRect(x, 0, n, n));
        PaintTitleBand(p, S, x, n, S.ButtonTop);
        QColor face = kind == 5 ? QColor(0xD0, 0x44, 0x30) : Mix(S.Accent, QColor(255, 255, 255), 0.15);
        if (state == 1)
            face = face.lighter(125);
        else if (state == 2)
            face = face.darker(130);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(QPen(Mix(S.AccentDark, QColor(0, 0, 0), 0.2), 1));
        QLinearGradient g(0, 0, 0, n);
        g.setColorAt(0, face.lighter(130));
        g.setColorAt(1, face);
        p.setBrush(g);
        const QRectF body(x + 0.5, 0.5, n - 1, n - 1);
        if (S.Round)
            p.drawEllipse(body.adjusted(1, 1, -1, -1));
        else
            p.drawRoundedRect(body, 3, 3);
        p.setPen(QPen(S.Glyph, n >= 19 ? 2 : 1.5, Qt::SolidLine, Qt::SquareCap));
        p.setBrush(Qt::NoBrush);
        const double a = n * 0.32, b = n * 0.68;
        switch (kind) {
        case 0: // control box: a small window
            p.drawRect(QRectF(x + a, a, b - a, b - a));
            break;
        case 1: // help
            p.drawArc(QRectF(x + a, a - 1, b - a, (b - a) * 0.6), 180 * 16, -270 * 16);
            p.drawPoint(QPointF(x + n / 2.0, b));
            break;
        case 2: // maximise
            p.drawRect(QRectF(x + a, a, b - a, b - a));
            p.drawLine(QPointF(x + a, a + 1), QPointF(x + b, a + 1));
            break;
        case 3: // restore
            p.drawRect(QRectF(x + a, a + 2, b - a - 2, b - a - 2));
            p.drawLine(QPointF(x + a + 2, a), QPointF(x + b, a));
            p.drawLine(QPointF(x + b, a), QPointF(x + b, b - 2));
            break;
        case 4: // minimise
            p.drawLine(QPointF(x + a, b), QPointF(x + b, b));
            break;
        default: // close
            p.drawLine(QPointF(x + a, a), QPointF(x + b, b));
            p.drawLine(QPointF(x + b, a), QPointF(x + a, b));
            break;
        }
        p.restore();
    }
    return img;
}

QImage TitlePiece(const TStyle &S, int W, int Corner)
{
    QImage img = NewImage(W, S.TitleHeight, kMagenta);
    QPainter p(&img);
    PaintTitleBand(p, S, 0, W);
    p.fillRect(QRect(0, 0, W, 1), S.AccentDark);
    if (Corner != 0) {
        // The outer top corner is cut round; magenta shows the form's region there.
        const int r = 6;
        QPainterPath cut;
        const int x0 = Corner < 0 ? 0 : W - r;
        cut.addRect(x0, 0, r, r);
        QPainterPath keep;
        keep.addEllipse(QPointF(Corner < 0 ? r : W - r, r), r, r);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.fillPath(cut.subtracted(keep), kMagenta);
    }
    return img;
}

QImage ProgressBar(const TStyle &S)
{
    QImage img = NewImage(16, 12, S.Accent);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, 12);
    g.setColorAt(0, S.Accent.lighter(160));
    g.setColorAt(0.5, S.Accent);
    g.setColorAt(1, S.Accent.darker(120));
    p.fillRect(img.rect(), g);
    p.fillRect(QRect(0, 1, 16, 4), QColor(255, 255, 255, 60));
    return img;
}

QImage Framed(const TStyle &S, int W, int H, int Frames, const QColor &Fill)
{
    QImage img = NewImage(W * Frames, H, kMagenta);
    QPainter p(&img);
    for (int f = 0; f < Frames; ++f) {
        const QColor c = f == 1 ? Fill.lighter(110)
            : f == 2            ? Fill.darker(115)
            : f == 3            ? QColor(0xD8, 0xD8, 0xD8)
                                : Fill;
        QLinearGradient g(0, 0, 0, H);
        g.setColorAt(0, c.lighter(115));
        g.setColorAt(1, c);
        p.fillRect(QRect(f * W, 0, W, H), g);
        p.setPen(f == 3 ? QColor(0xA8, 0xA8, 0xA8) : S.AccentDark);
        p.drawRect(QRect(f * W, 0, W - 1, H - 1));
    }
    return img;
}

QImage Arrows(const TStyle &S, int N)
{
    // Up, down, left and right, three states each.
    QImage img = Framed(S, N, N, 12, Mix(S.Face, S.Accent, 0.25));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(S.AccentDark);
    for (int f = 0; f < 12; ++f) {
        const double c = f * N + N / 2.0, m = N / 2.0, d = N * 0.2;
        QPolygonF t;
        switch (f / 3) {
        case 0:
            t << QPointF(c - d, m + d / 2) << QPointF(c + d, m + d / 2) << QPointF(c, m - d / 2);
            break;
        case 1:
            t << QPointF(c - d, m - d / 2) << QPointF(c + d, m - d / 2) << QPointF(c, m + d / 2);
            break;
        case 2:
            t << QPointF(c + d / 2, m - d) << QPointF(c + d / 2, m + d) << QPointF(c - d / 2, m);
            break;
        default:
            t << QPointF(c - d / 2, m - d) << QPointF(c - d / 2, m + d) << QPointF(c + d / 2, m);
            break;
        }
        p.drawPolygon(t);
    }
    return img;
}

QImage FormBackground(const TStyle &S, bool Stripes)
{
    QImage img = NewImage(64, 64, S.Face);
    QPainter p(&img);
    if (Stripes) {
        // Fine horizontal pin stripes.
        for (int y = 0; y < 64; y += 4)
            p.fillRect(QRect(0, y, 64, 2), S.Face.lighter(103));
    } else {
        QLinearGradient g(0, 0, 0, 64);
        g.setColorAt(0, QColor(255, 255, 255));
        g.setColorAt(1, S.Face);
        p.fillRect(img.rect(), g);
    }
    return img;
}

std::vector<TPicture> DrawAll()
{
    std::vector<TPicture> out;
    auto add = [&](const TStyle &S, const char *Name, const QImage &Img) {
        out.push_back({QString::fromLatin1(S.Prefix) + QLatin1Char('_') + QLatin1String(Name), Img});
    };
    for (const TStyle &s : kStyles) {
        const bool later = QByteArray(s.Prefix) != "MACOS" && QByteArray(s.Prefix) != "WINXP";
        add(s, "BUTTON", Framed(s, 24, 22, 5, Mix(s.Face, QColor(255, 255, 255), 0.4)));
        add(s, "CHECKBOX", CheckStrip(s, false));
        add(s, "RADIOBUTTON", CheckStrip(s, true));
        add(s, "TITLEBTN", TitleButtons(s));
        add(s, "TITLE_LEFT", TitlePiece(s, 32, -1));
        add(s, "TITLE_CLIENT", TitlePiece(s, 8, 0));
        add(s, "TITLE_RIGHT", TitlePiece(s, 32, 1));
        add(s, "PROGRESSBAR", ProgressBar(s));
        add(s, "TRACKBAR_BAR", Framed(s, 12, 4, 1, Mix(s.Face, QColor(0, 0, 0), 0.15)));
        add(s, "TRACKBAR_SLIDER", Framed(s, 11, 19, 3, Mix(s.Face, s.Accent, 0.3)));
        {
            QImage v = Framed(s, 19, 11, 3, Mix(s.Face, s.Accent, 0.3));
            add(s, "TRACKBAR_SLIDER_V", v);
        }
        add(s, "SCROLLBAR_BUTTON", Arrows(s, 16));
        add(s, "SCROLLBAR_TRACK", Framed(s, 16, 16, 3, Mix(s.Face, s.Accent, 0.2)));
        add(s, "CHECKLIST", CheckStrip(s, false));
        if (!later)
            add(s, "SCROLLBUTTON", Arrows(s, 14));
        add(s, "TAB", Framed(s, 40, 22, 3, Mix(s.Face, QColor(255, 255, 255), 0.5)));
        add(s, "TAB_LINE", Framed(s, 4, 3, 1, s.AccentDark));
        add(s, "SIDECHENNEL_HANDLE", Framed(s, 20, 24, 3, Mix(s.Face, s.Accent, 0.35)));
        add(s, "SIDECHENNEL_BAR", Framed(s, 20, 20, 1, Mix(s.Face, s.Accent, 0.15)));
    }
    out.push_back({QStringLiteral("MORE_SCROLLBUTTON"), Arrows(kStyles[2], 14)});
    out.push_back({QStringLiteral("MACOS_FORM_BACKGROUND"), FormBackground(kStyles[0], true)});
    out.push_back({QStringLiteral("PROTEIN_FORM_BACKGROUND"), FormBackground(kStyles[3], false)});
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    return RunPictureGenerator(argc, argv, DrawAll);
}

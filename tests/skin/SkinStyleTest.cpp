#include "SkinFileBuilder.h"

#include "common/EmbeddedPictures.h"
#include "common/TempDir.h"
#include "skin/SkinButton.h"
#include "skin/SkinGroupBox.h"
#include "skin/SkinMgr.h"
#include "skin/SkinPng.h"
#include "skin/SkinProgressBar.h"
#include "skin/SkinPublic.h"
#include "skin/SkinThemes.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QPainter>
#include <QWidget>

using namespace skintest;

namespace {

constexpr TSkinUIStyle AllStyles[] = {TSkinUIStyle::MacOS, TSkinUIStyle::WinXP, TSkinUIStyle::DeepBlue,
                                      TSkinUIStyle::Protein, TSkinUIStyle::BlueGlass};

TSkinUIStyle Raw(int V)
{
    return TSkinUIStyle(quint8(V));
}

// A ready skin file with a check strip, progress pieces and control colours.
QByteArray SampleSkin(const QByteArray &Password = {})
{
    QImage strip(60, 10, QImage::Format_RGB32);
    for (int f = 0; f < 6; ++f)
        for (int x = 0; x < 10; ++x)
            for (int y = 0; y < 10; ++y)
                strip.setPixel(f * 10 + x, y, qRgb(40 * f, 10, 200));
    QImage piece(12, 8, QImage::Format_RGB32);
    piece.fill(qRgb(0, 200, 0));
    const QByteArray table = BuildTable(
        {BitmapRecord("SKIN2_CHECKBOX", strip), BitmapRecord("SKIN2_PROGRESSBAR1", piece),
         BitmapRecord("SKIN2_PROGRESSBAR2", piece), BitmapRecord("SKIN2_PROGRESSBAR3", piece),
         BitmapRecord("SKIN2_PROGRESSBAR4", piece), IntegerRecord("SKIN2_CONTROLCOLOR", 0x112233),
         IntegerRecord("SKIN2_CONTROLBORDERCOLOR", 0x445566), IntegerRecord("SKIN2_CONTROLFONTCOLOR", 0x0000FF),
         IntegerRecord("SKIN2_TITLEBARBUTTONPOSY", 9), BoolRecord("SKIN2_TITLEBTNTRANS", true)});
    ArchiveOptions o;
    o.Password = Password;
    return BuildArchive(table, o);
}

} // namespace

TEST(SkinStyles, TableLookupsByKind)
{
    int kind = -1;
    EXPECT_EQ(StyleValue(TSkinUIStyle::WinXP, 16, kind), 0xC82C00);
    EXPECT_EQ(kind, skColor);
    EXPECT_EQ(StyleValue(TSkinUIStyle::BlueGlass, 8, kind), -3);
    EXPECT_EQ(kind, skInteger);
    StyleValue(TSkinUIStyle::MacOS, 3, kind);
    EXPECT_EQ(kind, skBitmap);
    StyleValue(TSkinUIStyle::Protein, 6, kind);
    EXPECT_EQ(kind, skBoolean);
    // No built-in style: integer kind, -1.
    for (int s : {0, 6, 127, 128}) {
        kind = -1;
        EXPECT_EQ(StyleValue(Raw(s), 15, kind), -1) << s;
        EXPECT_EQ(kind, skInteger) << s;
    }
    // The style is masked with 127.
    EXPECT_EQ(StyleColor(Raw(128 + 2), 16), 0xC82C00u);
    // Cross-kind answers.
    EXPECT_EQ(StyleInteger(TSkinUIStyle::DeepBlue, 15), -1);
    EXPECT_EQ(StyleColor(TSkinUIStyle::DeepBlue, 13), 0u);
    EXPECT_FALSE(StyleBool(TSkinUIStyle::MacOS, 15));
    EXPECT_TRUE(StyleBool(TSkinUIStyle::MacOS, 2));
    EXPECT_FALSE(StyleBool(TSkinUIStyle::WinXP, 2));
    // The values the controls and the form frame read.
    const TColor border25[] = {0x7F7F7F, 0x686868, 0, 0, 0};
    const TColor caption27[] = {0, 0xCF4602, 0, 0, 0};
    const TColor back26[] = {0xE7E7E7, 0xDEEBEF, 0xE8E8E8, 0xFBFBFB, 0xE7E7E7};
    const int width17[] = {1, 3, 1, 1, 1};
    const int corner14[] = {0, 13, 0, 0, 11};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(StyleColor(AllStyles[i], 25), border25[i]);
        EXPECT_EQ(StyleColor(AllStyles[i], 27), caption27[i]);
        EXPECT_EQ(StyleColor(AllStyles[i], 26), back26[i]);
        EXPECT_EQ(StyleColor(AllStyles[i], 48), back26[i]);
        EXPECT_EQ(StyleInteger(AllStyles[i], 17), width17[i]);
        EXPECT_EQ(StyleInteger(AllStyles[i], 14), corner14[i]);
    }
    EXPECT_EQ(StyleInteger(TSkinUIStyle::DeepBlue, 0), -1);
    EXPECT_EQ(StyleInteger(TSkinUIStyle::DeepBlue, 49), -1);
}

TEST(SkinStyles, BitmapNamesAndResources)
{
    EXPECT_EQ(StyleBitmapName(TSkinUIStyle::DeepBlue, 3), QStringLiteral("DEEPBLUE_CHECKBOX"));
    EXPECT_EQ(StyleBitmapName(TSkinUIStyle::MacOS, 38), QStringLiteral("MACOS_SCROLLBUTTON"));
    EXPECT_EQ(StyleBitmapName(TSkinUIStyle::Protein, 38), QStringLiteral("MORE_SCROLLBUTTON"));
    EXPECT_EQ(StyleBitmapName(TSkinUIStyle::BlueGlass, 41), QStringLiteral("BLUEGLASS_SIDECHENNEL_HANDLE"));
    EXPECT_TRUE(StyleBitmapName(TSkinUIStyle::WinXP, 43).isEmpty());
    EXPECT_TRUE(StyleBitmapName(TSkinUIStyle::WinXP, 15).isEmpty());

    // Every bitmap the table names is a resource of the program, with the frames its reader cuts.
    for (TSkinUIStyle s : AllStyles)
        for (int key = 1; key <= 48; ++key) {
            int kind = 0;
            StyleValue(s, key, kind);
            const QString name = StyleBitmapName(s, key);
            if (kind != skBitmap || name.isEmpty())
                continue;
            QImage img;
            ASSERT_TRUE(LoadStyleBitmap(s, key, &img)) << name.toStdString();
            EXPECT_FALSE(img.isNull()) << name.toStdString();
        }
    for (TSkinUIStyle s : AllStyles) {
        QImage strip, buttons, frame;
        ASSERT_TRUE(LoadStyleBitmap(s, 3, &strip));
        EXPECT_EQ(strip.width() % 4, 0);
        ASSERT_TRUE(LoadStyleBitmap(s, 5, &buttons));
        EXPECT_EQ(buttons.width() % 18, 0);
        ASSERT_TRUE(LoadStyleBitmapFrame(s, 3, &frame, 2, 4));
        EXPECT_EQ(frame.width(), strip.width() / 4);
        // Checked and unchecked frames differ.
        QImage checked;
        LoadStyleBitmapFrame(s, 3, &checked, 1, 4);
        EXPECT_NE(checked, frame);
    }
    EXPECT_FALSE(LoadSkinResourceBitmap(QStringLiteral("MACOS_FORM_BACKGROUND")).isNull());
    EXPECT_FALSE(LoadSkinResourceBitmap(QStringLiteral("PROTEIN_FORM_BACKGROUND")).isNull());
    EXPECT_TRUE(LoadSkinResourceBitmap(QStringLiteral("NO_SUCH")).isNull());
    // A key that is no bitmap, or no target, leaves the bitmap alone.
    QImage keep(3, 3, QImage::Format_RGB32);
    EXPECT_FALSE(LoadStyleBitmap(TSkinUIStyle::DeepBlue, 15, &keep));
    EXPECT_EQ(keep.size(), QSize(3, 3));
    EXPECT_FALSE(LoadStyleBitmap(TSkinUIStyle::DeepBlue, 3, nullptr));
}

TEST(SkinStyles, ThemeFileInEffectRule)
{
    tvtest::TempDir dir;
    ASSERT_TRUE(WriteFile(dir.file(QStringLiteral("a.skn")), SampleSkin()));
    TSkinFileTheme ready;
    ready.SetThemeFile(dir.file(QStringLiteral("a.skn")));
    ASSERT_TRUE(ready.Ready());
    TSkinFileTheme notReady;

    TSkinUIStyle style = TSkinUIStyle::MacOS;
    EXPECT_TRUE(ThemeFileInEffect(&ready, TSkinUIStyle::FromThemeFile, style));
    EXPECT_EQ(style, TSkinUIStyle::FromThemeFile);
    EXPECT_FALSE(ThemeFileInEffect(&notReady, TSkinUIStyle::FromThemeFile, style));
    EXPECT_EQ(style, TSkinUIStyle::DeepBlue);
    EXPECT_FALSE(ThemeFileInEffect(nullptr, TSkinUIStyle::FromThemeFile, style));
    EXPECT_EQ(style, TSkinUIStyle::DeepBlue);
    // A built-in style ignores a ready theme.
    EXPECT_FALSE(ThemeFileInEffect(&ready, TSkinUIStyle::WinXP, style));
    EXPECT_EQ(style, TSkinUIStyle::WinXP);
}

TEST(SkinStyles, OwnerStyleAndChildren)
{
    QWidget form;
    EXPECT_EQ(FormStyleOfOwner(&form), TSkinUIStyle::DeepBlue);
    EXPECT_EQ(FormStyleOfOwner(nullptr), TSkinUIStyle::DeepBlue);
    TSkinCheckBox box(&form);
    EXPECT_EQ(box.UIStyle(), TSkinUIStyle::DeepBlue);

    tvtest::TempDir dir;
    ASSERT_TRUE(WriteFile(dir.file(QStringLiteral("a.skn")), SampleSkin()));
    auto *theme = new TSkinFileTheme(&form);
    theme->SetThemeFile(dir.file(QStringLiteral("a.skn")));

    QWidget container;
    auto *check = new TSkinCheckBox(&container);
    auto *bar = new TSkinProgressBar(&container);
    auto *group = new TSkinGroupBox(&container);
    auto *inner = new TSkinCheckBox(group); // a grandchild: not reached directly
    auto *plain = new QWidget(&container);
    ApplyStyleToChildren(&container, TSkinUIStyle::Protein, theme);
    EXPECT_EQ(check->UIStyle(), TSkinUIStyle::Protein);
    EXPECT_EQ(check->FileTheme(), theme);
    EXPECT_EQ(bar->UIStyle(), TSkinUIStyle::Protein);
    EXPECT_EQ(group->UIStyle(), TSkinUIStyle::Protein);
    // The group box passes its own style on to its children.
    EXPECT_EQ(inner->UIStyle(), TSkinUIStyle::Protein);
    EXPECT_EQ(plain->property("UIStyle").isValid(), false);

    // Losing the theme sends every control back to DeepBlue.
    ApplyStyleToChildren(&container, TSkinUIStyle::FromThemeFile, theme);
    EXPECT_EQ(bar->BorderColor(), ColorToQColor(0x445566));
    delete theme;
    EXPECT_EQ(check->FileTheme(), nullptr);
    EXPECT_EQ(check->UIStyle(), TSkinUIStyle::DeepBlue);
    EXPECT_EQ(bar->UIStyle(), TSkinUIStyle::DeepBlue);
    EXPECT_EQ(bar->BorderColor(), ColorToQColor(StyleColor(TSkinUIStyle::DeepBlue, 25)));
    EXPECT_EQ(group->UIStyle(), TSkinUIStyle::DeepBlue);
    EXPECT_EQ(inner->UIStyle(), TSkinUIStyle::DeepBlue);
}

TEST(SkinTheme, FileLookupAndPassword)
{
    tvtest::TempDir dir, shared;
    const QByteArray oldShared = qgetenv("TASKVANE_SHARED_DIR");
    qputenv("TASKVANE_SHARED_DIR", shared.path().toLocal8Bit());
    ASSERT_TRUE(WriteFile(shared.file(QStringLiteral("only-shared.skn")), SampleSkin()));
    ASSERT_TRUE(WriteFile(dir.file(QStringLiteral("locked.skn")), SampleSkin("pw")));

    TSkinFileTheme theme;
    EXPECT_FALSE(theme.Ready());
    EXPECT_EQ(theme.GetBitmap(16), nullptr);
    EXPECT_EQ(theme.GetColor(21), 0);
    // A bare name found only in the shared directory is stored with its full path.
    theme.SetThemeFile(QStringLiteral("only-shared.skn"));
    EXPECT_TRUE(theme.Ready());
    EXPECT_EQ(theme.ThemeFile(), shared.path() + QStringLiteral("/only-shared.skn"));
    EXPECT_EQ(theme.GetColor(21), 0x112233);
    EXPECT_EQ(theme.GetInteger(4), 9);
    EXPECT_TRUE(theme.GetBool(4));
    EXPECT_FALSE(theme.GetBool(5));
    EXPECT_EQ(theme.GetColor(2), -1); // absent from the file
    // A name found nowhere changes nothing.
    theme.SetThemeFile(dir.file(QStringLiteral("nowhere.skn")));
    EXPECT_TRUE(theme.Ready());
    EXPECT_EQ(theme.ThemeFile(), shared.path() + QStringLiteral("/only-shared.skn"));
    // Writing Ready has no effect.
    theme.SetReady(false);
    EXPECT_TRUE(theme.Ready());
    // A file that needs a password: not ready without it, ready once it is given.
    theme.SetThemeFile(dir.file(QStringLiteral("locked.skn")));
    EXPECT_FALSE(theme.Ready());
    EXPECT_EQ(theme.GetBitmap(16), nullptr);
    theme.SetPassword(QString()); // an empty password does not reload
    EXPECT_FALSE(theme.Ready());
    theme.SetPassword(QStringLiteral("pw"));
    EXPECT_TRUE(theme.Ready());
    QImage frame;
    theme.GetBitmapFrame(16, frame, 3, 6);
    EXPECT_EQ(frame.size(), QSize(10, 10));
    EXPECT_EQ(frame.pixel(5, 5) & 0xFFFFFF, qRgb(80, 10, 200) & 0xFFFFFF);
    theme.GetBitmapFrame(16, frame, 0, 0);
    EXPECT_EQ(frame.width(), 60);
    qputenv("TASKVANE_SHARED_DIR", oldShared);
}

TEST(SkinPublic, FramesTilesAndRotation)
{
    QImage strip(70, 3, QImage::Format_RGB32);
    for (int x = 0; x < 70; ++x)
        for (int y = 0; y < 3; ++y)
            strip.setPixel(x, y, qRgb(x, 0, 0));
    QImage f;
    ExtractFrame(strip, f, 4, 1);
    EXPECT_EQ(f.width(), 17);
    EXPECT_EQ(qRed(f.pixel(0, 0)), 0);
    ExtractFrame(strip, f, 4, 2);
    EXPECT_EQ(qRed(f.pixel(0, 0)), 17);
    ExtractFrame(strip, f, 4, 4); // the rightmost 17 columns: 53 to 69
    EXPECT_EQ(f.width(), 17);
    EXPECT_EQ(qRed(f.pixel(0, 0)), 53);
    EXPECT_EQ(qRed(f.pixel(16, 0)), 69);
    ExtractFrame(strip, f, 4, 5);
    EXPECT_TRUE(f.isNull());
    ExtractFrame(strip, f, 0, 1);
    EXPECT_TRUE(f.isNull());

    // Tiling starts at the canvas origin: x = 0, 10, 20, 30 and y = 0, 10 for a 25 x 5 rectangle.
    QImage tile(10, 10, QImage::Format_RGB32);
    tile.fill(Qt::white);
    tile.setPixel(0, 0, qRgb(255, 0, 0));
    QImage canvas(60, 40, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    {
        QPainter p(&canvas);
        TileDraw(p, tile, QRect(7, 3, 25, 5));
        TileDraw(p, QImage(), QRect(0, 0, 60, 40));
    }
    for (int x : {0, 10, 20, 30})
        for (int y : {0, 10})
            EXPECT_EQ(canvas.pixel(x, y), qRgb(255, 0, 0)) << x << "," << y;
    EXPECT_EQ(canvas.pixel(40, 0), qRgb(0, 0, 0));
    EXPECT_EQ(canvas.pixel(0, 20), qRgb(0, 0, 0));

    QImage r(3, 2, QImage::Format_RGB32);
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 2; ++y)
            r.setPixel(x, y, qRgb(x, y, 9));
    RotateBitmap90(r);
    ASSERT_EQ(r.size(), QSize(2, 3));
    for (int x = 0; x < 3; ++x)
        for (int y = 0; y < 2; ++y)
            EXPECT_EQ(r.pixel(y, 3 - 1 - x), qRgb(x, y, 9));
}

TEST(SkinPublic, GradientsAndColours)
{
    QImage img(10, 10, QImage::Format_RGB32);
    img.fill(Qt::white);
    {
        QPainter p(&img);
        DrawVerticalGradient(p, QRect(0, 0, 10, 10), QColor(0, 0, 0), QColor(100, 200, 50));
    }
    EXPECT_EQ(img.pixel(5, 0), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(5, 9), qRgb(100, 200, 50));
    // Line 5: From + Trunc((To - From) / 10 * (5 - 0 - 1)).
    EXPECT_EQ(img.pixel(5, 5), qRgb(40, 80, 20));
    img.fill(Qt::white);
    {
        QPainter p(&img);
        DrawHorizontalGradient(p, QRect(0, 0, 10, 10), QColor(100, 0, 0), QColor(0, 0, 0));
    }
    EXPECT_EQ(img.pixel(0, 3), qRgb(100, 0, 0));
    EXPECT_EQ(img.pixel(9, 3), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(5, 3), qRgb(50, 0, 0)); // the step counts from Left
    // An empty rectangle draws nothing.
    img.fill(Qt::white);
    {
        QPainter p(&img);
        DrawVerticalGradient(p, QRect(0, 4, 10, 0), Qt::black, Qt::black);
    }
    EXPECT_EQ(img.pixel(3, 4), qRgb(255, 255, 255));

    EXPECT_EQ(MakeColor(1, 2, 3), 0x030201u);
    int r = 0, g = 0, b = 0;
    SplitColor(TColor(0xC82C00), r, g, b);
    EXPECT_EQ((std::array<int, 3>{r, g, b}), (std::array<int, 3>{0, 0x2C, 0xC8}));
    EXPECT_EQ(ColorToQColor(0xC82C00), QColor(0, 0x2C, 0xC8));
    EXPECT_EQ(QColorToColor(QColor(0, 0x2C, 0xC8)), 0xC82C00u);

    const QRect rc(10, 10, 5, 5);
    EXPECT_TRUE(PointInRect(QPoint(15, 15), rc)); // right and bottom edges count
    EXPECT_TRUE(PointInRect(QPoint(10, 10), rc));
    EXPECT_FALSE(PointInRect(QPoint(16, 12), rc));
    EXPECT_FALSE(PointInRect(QPoint(9, 12), rc));
}

TEST(SkinPublic, ThreeFramesAndEllipsis)
{
    QImage strip(30, 4, QImage::Format_RGB32);
    strip.fill(qRgb(255, 0, 255));
    for (int x = 0; x < 30; ++x)
        for (int y = 1; y < 4; ++y)
            strip.setPixel(x, y, x < 10 ? qRgb(200, 0, 0) : x < 20 ? qRgb(0, 200, 0) : qRgb(0, 0, 200));
    QImage img(50, 4, QImage::Format_RGB32);
    img.fill(Qt::white);
    {
        QPainter p(&img);
        DrawThreeFrames(strip, p, QRect(0, 0, 50, 4), QColor(255, 0, 255), true);
    }
    EXPECT_EQ(img.pixel(2, 2), qRgb(200, 0, 0));
    EXPECT_EQ(img.pixel(25, 2), qRgb(0, 200, 0));
    EXPECT_EQ(img.pixel(45, 2), qRgb(0, 0, 200));
    EXPECT_EQ(img.pixel(25, 0), qRgb(255, 255, 255)); // the transparent colour left the white
    img.fill(Qt::white);
    {
        QPainter p(&img);
        DrawThreeFrames(strip, p, QRect(0, 0, 6, 4), QColor(255, 0, 255), false);
    }
    EXPECT_EQ(img.pixel(5, 2), qRgb(200, 0, 0));
    EXPECT_EQ(img.pixel(6, 2), qRgb(255, 255, 255));

    const QFontMetrics fm(QFont(QStringLiteral("DejaVu Sans"), 9));
    const QString text = QStringLiteral("A rather long window caption");
    EXPECT_EQ(FitTextWithEllipsis(fm, text, 10000), text);
    const int limit = fm.horizontalAdvance(QStringLiteral("A rather"));
    const QString fitted = FitTextWithEllipsis(fm, text, limit);
    ASSERT_TRUE(fitted.endsWith(QStringLiteral("...")));
    // The shortest prefix whose result reaches the width.
    EXPECT_GE(fm.horizontalAdvance(fitted), limit);
    const QString shorter = text.left(fitted.size() - 4) + QStringLiteral("...");
    EXPECT_LT(fm.horizontalAdvance(shorter), limit);
}

#include "skin/SkinForm.h"

TEST(SkinStyles, ControlsTakeTheStyleOfTheFormFrame)
{
    QWidget form;
    auto *frame = new TSkinForm(&form);
    frame->SetUIStyle(TSkinUIStyle::WinXP);
    EXPECT_EQ(FormStyleOfOwner(&form), TSkinUIStyle::WinXP);
    // Only a form (a top-level widget) counts as an owner with a style.
    QWidget inner(&form);
    EXPECT_EQ(FormStyleOfOwner(&inner), TSkinUIStyle::DeepBlue);
    auto *box = new TSkinCheckBox(&inner);
    auto *bar = new TSkinProgressBar(&form);
    auto *group = new TSkinGroupBox(&form);
    EXPECT_EQ(box->UIStyle(), TSkinUIStyle::WinXP);
    EXPECT_EQ(bar->UIStyle(), TSkinUIStyle::WinXP);
    EXPECT_EQ(bar->BorderColor(), ColorToQColor(0x686868));
    EXPECT_EQ(group->UIStyle(), TSkinUIStyle::WinXP);
}

TEST(SkinStyles, ControlsDrawFromAReadySkinFile)
{
    tvtest::TempDir dir;
    ASSERT_TRUE(WriteFile(dir.file(QStringLiteral("a.skn")), SampleSkin()));
    QWidget form;
    auto *theme = new TSkinFileTheme(&form);
    theme->SetThemeFile(dir.file(QStringLiteral("a.skn")));
    ASSERT_TRUE(theme->Ready());

    auto *group = new TSkinGroupBox(&form);
    group->SetFileTheme(theme);
    EXPECT_EQ(group->BorderColor(), ColorToQColor(StyleColor(TSkinUIStyle::DeepBlue, 25))); // still DeepBlue
    group->SetUIStyle(TSkinUIStyle::FromThemeFile);
    EXPECT_EQ(group->BorderColor(), ColorToQColor(0x445566));
    EXPECT_EQ(group->FontColor(), ColorToQColor(0x0000FF));

    // The check box takes frames 1, 3, 4 and 6 of the skin's six-frame strip.
    auto *box = new TSkinCheckBox(&form);
    box->SetFileTheme(theme);
    box->SetUIStyle(TSkinUIStyle::FromThemeFile);
    box->SetColor(Qt::white);
    auto frameRed = [&] {
        box->grab();
        const QImage img = box->grab().toImage();
        return qRed(img.pixel(5, box->height() / 2));
    };
    EXPECT_EQ(frameRed(), 80); // unchecked: frame 3
    box->SetChecked(true);
    EXPECT_EQ(frameRed(), 0); // frame 1
    box->setEnabled(false);
    EXPECT_EQ(frameRed(), 120); // frame 4
    box->SetChecked(false);
    EXPECT_EQ(frameRed(), 200); // frame 6

    auto *bar = new TSkinProgressBar(&form);
    bar->SetFileTheme(theme);
    bar->SetUIStyle(TSkinUIStyle::FromThemeFile);
    EXPECT_EQ(bar->Color(), ColorToQColor(0x112233));
    EXPECT_EQ(bar->BorderColor(), ColorToQColor(0x445566));
    bar->SetShowCaption(false);
    bar->SetPosition(100);
    const QImage img = bar->grab().toImage();
    EXPECT_EQ(img.pixel(75, 6) | 0xFF000000, qRgb(0, 200, 0)); // the skin's bar piece
}

// The controls carry each drawn bitmap byte for byte, so they show the pixels that were drawn.
TEST(SkinStyles, EveryDrawnBitmapIsEmbeddedAsItIs)
{
    const struct
    {
        const char16_t *Folder;
        const char *Dir;
    } sets[] = {{u":/skin/styles/", "skin/png"}, {u":/skin/menus/", "skinmenu/png"}};
    for (const auto &set : sets)
        ASSERT_NO_FATAL_FAILURE(tvtest::ExpectEmbeddedAsDrawn(set.Folder, set.Dir, DecodeSkinPng));
    EXPECT_TRUE(EmbeddedPng(u":/skin/styles/", u"NO_SUCH_BITMAP").isEmpty());
    EXPECT_TRUE(EmbeddedPng(u":/skin/styles/", u"../menus/MENU_CHECKED").isEmpty());
}

#include "Helpers.h"
#include "SkinFile.h"

#include "common/TempDir.h"
#include "skin/SkinForm.h"
#include "skin/SkinPopupMenu.h"

using sftest::Bgr;
using sftest::Pixel;

namespace {

QImage Solid(int W, int H, const QColor &C)
{
    QImage img(W, H, QImage::Format_RGB32);
    img.fill(C);
    return img;
}

// A skin whose frame has a 6-pixel left edge, a 5-pixel right edge and a 6-row bottom whose
// left corner pixel is see-through.
std::vector<sftest::SkinValue> FrameSkin(bool TitleRegion, bool BottomRegion)
{
    QImage bottom = Solid(30, 6, Qt::darkBlue);
    bottom.setPixel(0, 5, qRgb(255, 0, 255));
    QImage title1 = Solid(10, 30, Qt::darkRed);
    title1.setPixel(0, 0, qRgb(255, 0, 255));
    return {
        sftest::SkinInteger("SKIN2_TRANSCOLOR", 0xFF00FF),
        sftest::SkinInteger("SKIN2_FORMCOLOR", 0x00FF00),
        sftest::SkinInteger("SKIN2_TITLEFONTCOLOR", 0x0000FF),
        sftest::SkinInteger("SKIN2_MENUBARSTARTCOLOR", 0x111111),
        sftest::SkinInteger("SKIN2_MENUBARENDCOLOR", 0x222222),
        sftest::SkinInteger("SKIN2_LEFTBARSTARTCOLOR", 0x010203),
        sftest::SkinInteger("SKIN2_SELECTEDMENUCOLOR", 0x0A0B0C),
        sftest::SkinBitmap("SKIN2_TITLEBAR1", title1),
        sftest::SkinBitmap("SKIN2_TITLEBAR2", Solid(8, 30, Qt::red)),
        sftest::SkinBitmap("SKIN2_TITLEBAR3", Solid(10, 30, Qt::darkRed)),
        sftest::SkinBitmap("SKIN2_TITLEBUTTONS", Solid(18 * 16, 16, Qt::gray)),
        sftest::SkinBitmap("SKIN2_FORMLEFTBORDER", Solid(6, 10, Qt::darkGreen)),
        sftest::SkinBitmap("SKIN2_FORMRIGHTBORDER", Solid(5, 10, Qt::darkGreen)),
        sftest::SkinBitmap("SKIN2_FORMBOTTOMBORDER1", bottom),
        sftest::SkinBool("SKIN2_TITLEBARNEEDREGION", TitleRegion),
        sftest::SkinBool("SKIN2_BOTTOMBORDERNEEDREGION", BottomRegion),
        sftest::SkinInteger("SKIN2_TITLEBARREGIONMINY", 0),
        sftest::SkinInteger("SKIN2_TITLEBARREGIONMAXY", 1),
        sftest::SkinInteger("SKIN2_BOTTOMREGIONMINY", 4),
        sftest::SkinInteger("SKIN2_BOTTOMREGIONMAXY", 5),
        sftest::SkinInteger("SKIN2_TITLEBARBUTTONPOSY", 7),
    };
}

} // namespace

TEST(SkinFormSkinFile, FrameFromTheSkinFile)
{
    tvtest::TempDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.file(QStringLiteral("frame.skn"));
    ASSERT_TRUE(sftest::WriteSkinFile(path, FrameSkin(false, true)));
    TSkinFileTheme theme;
    theme.SetThemeFile(path);
    ASSERT_TRUE(theme.Ready());

    auto form = sftest::MakeForm(400, 300);
    auto *skin = new TSkinForm(form.get());
    form->show();
    sftest::Settle();
    skin->SetFileTheme(&theme);
    skin->SetUIStyle(TSkinUIStyle::FromThemeFile);
    sftest::Settle();

    EXPECT_EQ(skin->Color(), 0x00FF00u);
    EXPECT_EQ(skin->MenuBarColor(), 0x111111u);
    EXPECT_EQ(skin->MenuBarToColor(), 0x222222u);
    EXPECT_EQ(skin->FrameMargins(), QMargins(6, 3, 5, 6));
    EXPECT_EQ(skin->FrameAnswer(), 6);
    EXPECT_EQ(skin->geometry(), QRect(6, 3, 389, 291));
    EXPECT_EQ(form->minimumHeight(), 6 + skin->TitleBarHeight() + 3);

    TSkinTitleBar *title = skin->TitleBar();
    EXPECT_EQ(title->Sections()->Count(), 3);
    EXPECT_EQ(title->FontColor(), 0x0000FFu);
    EXPECT_EQ(title->ButtonTop(), 7 - 3);
    EXPECT_EQ(title->Buttons()->Items(0)->PicNormal().size(), QSize(16, 16));

    // Only the bottom needs shaping: the title band stays whole, the bottom corner is cut.
    const QRegion region = skin->WindowRegion();
    EXPECT_TRUE(region.contains(QPoint(0, 0)));
    EXPECT_TRUE(region.contains(QPoint(0, 150)));
    EXPECT_FALSE(region.contains(QPoint(0, 299)));
    EXPECT_TRUE(region.contains(QPoint(1, 299)));
    EXPECT_TRUE(region.contains(QPoint(0, 298)));

    // The title picture shaped by its transparent pixels.
    ASSERT_TRUE(sftest::WriteSkinFile(path, FrameSkin(true, false)));
    theme.SetThemeFile(path);
    ASSERT_TRUE(theme.Ready());
    skin->SetFileTheme(&theme);
    title->grab();
    const QRegion shaped = skin->WindowRegion();
    const int titleX = skin->FrameMargins().left() - skin->FrameAnswer();
    EXPECT_FALSE(shaped.contains(QPoint(titleX, 0)));
    EXPECT_TRUE(shaped.contains(QPoint(titleX + 1, 0)));
    EXPECT_TRUE(shaped.contains(QPoint(0, 299)));

    // The edges: the left picture, the bottom picture, the form colour.
    const QImage img = form->grab().toImage();
    EXPECT_EQ(Pixel(img, 2, 150), QColor(Qt::darkGreen));
    EXPECT_EQ(Pixel(img, 200, 297), QColor(Qt::darkBlue));
    EXPECT_EQ(Pixel(img, 200, 200), Bgr(0x00FF00));
}

TEST(SkinFormSkinFile, MenusTakeTheSkinColours)
{
    tvtest::TempDir dir;
    const QString path = dir.file(QStringLiteral("menu.skn"));
    ASSERT_TRUE(sftest::WriteSkinFile(path, FrameSkin(false, false)));
    TSkinFileTheme theme;
    theme.SetThemeFile(path);
    ASSERT_TRUE(theme.Ready());
    TSkinPopupMenu menu;
    menu.SetFileTheme(&theme);
    menu.SetUIStyle(TSkinUIStyle::FromThemeFile);
    EXPECT_TRUE(menu.ThemeInEffect());
    EXPECT_EQ(menu.BarColor(), 0x010203u);
    EXPECT_EQ(menu.SelectedColor(), 0x0A0B0Cu);
    EXPECT_EQ(menu.MenuItemHeight(), 21);
    // The same theme with a built-in style assigned is ignored.
    menu.SetUIStyle(TSkinUIStyle::WinXP);
    EXPECT_EQ(menu.SelectedColor(), 0xEFD3C6u);
}

#include "Helpers.h"

#include "skin/SkinMainMenu.h"
#include "skin/SkinPopupMenu.h"
#include "skin/SkinMgr.h"
#include "skin/SkinPublic.h"

#include <QAction>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>

using sftest::Bgr;
using sftest::Pixel;

namespace {

QImage RenderItem(const TSkinCustomMenu &Menu, const TSkinMenuItemState &Item, int W = 200, int H = 21)
{
    QImage img(W, H, QImage::Format_RGB32);
    img.fill(Qt::magenta);
    QPainter p(&img);
    Menu.DrawItem(p, img.rect(), Item);
    return img;
}

TSkinMenuItemState Plain(const QString &Caption)
{
    TSkinMenuItemState s;
    s.Caption = Caption;
    return s;
}

bool HasBlackIn(const QImage &Img, const QRect &R)
{
    for (int y = R.top(); y <= R.bottom(); ++y)
        for (int x = R.left(); x <= R.right(); ++x)
            if (QColor(Img.pixel(x, y)) == QColor(Qt::black))
                return true;
    return false;
}

} // namespace

TEST(SkinMenu, StyleGivesSizesAndColours)
{
    TSkinPopupMenu menu;
    EXPECT_EQ(menu.UIStyle(), TSkinUIStyle::DeepBlue);
    EXPECT_TRUE(menu.OwnerDraw());
    menu.SetOwnerDraw(false);
    EXPECT_TRUE(menu.OwnerDraw());
    EXPECT_EQ(menu.BarWidth(), 26);
    EXPECT_EQ(menu.MenuItemHeight(), 21);
    EXPECT_EQ(menu.SeparatorHeight(), 5);
    EXPECT_EQ(menu.SeparatorColor(), 0x848284u);
    EXPECT_EQ(menu.Color(), 0xFFFFFFu);
    EXPECT_EQ(menu.BarColor(), 0xCED3D6u);
    EXPECT_EQ(menu.BarToColor(), 0xCED3D6u);
    EXPECT_EQ(menu.SelectedColor(), 0xA04A44u);
    EXPECT_EQ(menu.FontName(), QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(menu.FontSize(), 8);
    EXPECT_TRUE(menu.UseSystemFont());

    menu.SetUIStyle(TSkinUIStyle::WinXP);
    EXPECT_EQ(menu.SelectedBorderColor(), 0xC66931u);
    EXPECT_EQ(menu.SelectedColor(), 0xEFD3C6u);
    EXPECT_EQ(menu.SelectedFontColor(), 0x000000u);
    EXPECT_EQ(menu.Color(), 0xFFFFFFu);

    menu.SetUIStyle(TSkinUIStyle::MacOS);
    EXPECT_EQ(menu.MenuItemHeight(), 20);
    EXPECT_EQ(menu.SeparatorHeight(), 12);
    EXPECT_EQ(menu.SeparatorColor(), 0u);
}

TEST(SkinMenu, MacOSKeepsItsHeights)
{
    TSkinPopupMenu popup;
    popup.SetUIStyle(TSkinUIStyle::MacOS);
    popup.SetMenuItemHeight(40);
    popup.SetSeparatorHeight(30);
    EXPECT_EQ(popup.MenuItemHeight(), 20);
    EXPECT_EQ(popup.SeparatorHeight(), 12);

    // The main menu's item height always takes the value; its separators follow the style.
    TSkinMainMenu main;
    main.SetUIStyle(TSkinUIStyle::MacOS);
    main.SetMenuItemHeight(40);
    main.SetSeparatorHeight(30);
    EXPECT_EQ(main.MenuItemHeight(), 40);
    EXPECT_EQ(main.SeparatorHeight(), 12);

    popup.SetUIStyle(TSkinUIStyle::Protein);
    popup.SetMenuItemHeight(40);
    EXPECT_EQ(popup.MenuItemHeight(), 40);
}

TEST(SkinMenu, ItemMetrics)
{
    TSkinPopupMenu menu;
    menu.SetUseSystemFont(false);
    menu.SetFontSize(40);
    const QFontMetrics fm(menu.ItemFont());

    TSkinMenuItemState sep = Plain(QStringLiteral("-"));
    EXPECT_EQ(menu.MeasureItem(sep).height(), 5) << "a separator ignores the font";

    TSkinMenuItemState item = Plain(QStringLiteral("Open"));
    item.ShortCut = QStringLiteral("Ctrl+O");
    const QSize s = menu.MeasureItem(item);
    EXPECT_EQ(s.height(), qMax(fm.height(), 21));
    EXPECT_EQ(s.width(),
              fm.horizontalAdvance(QStringLiteral("Open")) + fm.horizontalAdvance(QStringLiteral("Ctrl+O")) + 26 + 40);

    menu.SetFontSize(6);
    menu.SetMenuItemHeight(30);
    EXPECT_EQ(menu.MeasureItem(item).height(), qMax(QFontMetrics(menu.ItemFont()).height(), 30));

    // An action's text after a tab is its shortcut text.
    QAction a(QStringLiteral("Save\tCtrl+S"));
    const TSkinMenuItemState st = menu.ItemState(&a, false);
    EXPECT_EQ(st.Caption, QStringLiteral("Save"));
    EXPECT_EQ(st.ShortCut, QStringLiteral("Ctrl+S"));
}

TEST(SkinMenu, PaintingStates)
{
    TSkinPopupMenu menu;
    menu.SetUIStyle(TSkinUIStyle::WinXP);
    const QColor bar = Bgr(menu.BarColor());
    const QColor fill = Bgr(menu.Color());

    QImage normal = RenderItem(menu, Plain(QString()));
    EXPECT_EQ(Pixel(normal, 5, 10), bar);
    EXPECT_EQ(Pixel(normal, 25, 10), bar);
    EXPECT_EQ(Pixel(normal, 26, 10), fill);
    EXPECT_EQ(Pixel(normal, 199, 20), fill);

    TSkinMenuItemState selected = Plain(QString());
    selected.Selected = true;
    QImage sel = RenderItem(menu, selected);
    EXPECT_EQ(Pixel(sel, 0, 0), Bgr(0xC66931));
    EXPECT_EQ(Pixel(sel, 199, 20), Bgr(0xC66931));
    EXPECT_EQ(Pixel(sel, 5, 10), Bgr(0xEFD3C6));

    // A disabled item is not highlighted even when selected.
    selected.Enabled = false;
    QImage dis = RenderItem(menu, selected);
    EXPECT_EQ(Pixel(dis, 5, 10), bar);
    EXPECT_EQ(Pixel(dis, 100, 0), fill);

    // A separator: the bar, the fill, a line two pixels down from past the bar to short of the edge.
    QImage sep = RenderItem(menu, Plain(QStringLiteral("-")), 200, 5);
    const QColor line = Bgr(0x848284);
    EXPECT_EQ(Pixel(sep, 5, 2), bar);
    EXPECT_EQ(Pixel(sep, 29, 2), fill);
    EXPECT_EQ(Pixel(sep, 30, 2), line);
    EXPECT_EQ(Pixel(sep, 197, 2), line);
    EXPECT_EQ(Pixel(sep, 198, 2), fill);
    EXPECT_EQ(Pixel(sep, 100, 1), fill);

    // Different bar colours give a left-to-right gradient.
    menu.SetBarColor(0x000000);
    menu.SetBarToColor(0xFFFFFF);
    QImage grad = RenderItem(menu, Plain(QString()));
    EXPECT_EQ(Pixel(grad, 0, 10), QColor(Qt::black));
    EXPECT_EQ(Pixel(grad, 25, 10), QColor(Qt::white));
    EXPECT_GT(Pixel(grad, 13, 10).red(), 0);
    EXPECT_LT(Pixel(grad, 13, 10).red(), 255);
}

TEST(SkinMenu, CheckMarksAndImages)
{
    TSkinPopupMenu menu;
    menu.SetUIStyle(TSkinUIStyle::DeepBlue);
    ASSERT_GT(TSkinPopupMenu::SharedCheckImages().Count(), 0) << "the check picture is built in";

    QImage unchecked = RenderItem(menu, Plain(QString()));
    EXPECT_FALSE(HasBlackIn(unchecked, QRect(4, 3, 16, 16)));
    TSkinMenuItemState checked = Plain(QString());
    checked.Checked = true;
    QImage check = RenderItem(menu, checked);
    EXPECT_TRUE(HasBlackIn(check, QRect(4, 3, 16, 16)));
    // The white around the mark is see-through: the bar shows.
    EXPECT_EQ(Pixel(check, 4, 3), Bgr(menu.BarColor()));

    // A checked item with a picture of its own is framed and filled instead.
    TSkinImageList images;
    QImage red(16, 16, QImage::Format_RGB32);
    red.fill(Qt::red);
    images.Add(red);
    menu.SetImages(&images);
    checked.ImageIndex = 0;
    checked.Selected = false;
    QImage framed = RenderItem(menu, checked);
    EXPECT_EQ(Pixel(framed, 2, 1), QColor(Qt::black));
    EXPECT_EQ(Pixel(framed, 20, 19), QColor(Qt::black));
    EXPECT_EQ(Pixel(framed, 3, 2), Bgr(menu.SelectedColor()));
    EXPECT_EQ(Pixel(framed, 10, 10), QColor(Qt::red));

    // An index beyond the list is no picture.
    checked.ImageIndex = 5;
    QImage beyond = RenderItem(menu, checked);
    EXPECT_NE(Pixel(beyond, 2, 1), QColor(Qt::black));
    EXPECT_TRUE(HasBlackIn(beyond, QRect(4, 3, 16, 16)));

    // A disabled item's picture is grayed.
    TSkinMenuItemState disabled = Plain(QString());
    disabled.ImageIndex = 0;
    disabled.Enabled = false;
    QImage gray = RenderItem(menu, disabled);
    const QColor g = Pixel(gray, 10, 10);
    EXPECT_EQ(g.red(), g.green());
}

TEST(SkinMenu, ShownMenuIsOwnerDrawnThroughSubMenus)
{
    TSkinPopupMenu menu;
    menu.SetUIStyle(TSkinUIStyle::WinXP);
    menu.addAction(QStringLiteral("One"));
    QAction *dash = menu.addAction(QStringLiteral("-"));
    QMenu *sub = menu.addMenu(QStringLiteral("More"));
    sub->addAction(QStringLiteral("Inner"));
    EXPECT_TRUE(dash->isSeparator()) << "a caption of \"-\" is a separator";
    EXPECT_EQ(sub->style(), menu.style());
    EXPECT_NE(sub->style(), QApplication::style());

    const QSize hint = menu.sizeHint();
    EXPECT_EQ(hint.height(), 3 + 21 + 5 + 21 + 3);

    menu.popup(QPoint(10, 10));
    sftest::Settle();
    const QImage img = menu.grab().toImage();
    const int w = img.width();
    const int h = img.height();
    // The flat frame of a menu with a separator: form colour outside, black, white.
    EXPECT_EQ(Pixel(img, w / 2, 0), Bgr(0xDEEBEF));
    EXPECT_EQ(Pixel(img, w / 2, 1), QColor(Qt::black));
    EXPECT_EQ(Pixel(img, w / 2, 2), QColor(Qt::white));
    EXPECT_EQ(Pixel(img, w - 1, h / 2), Bgr(0xDEEBEF));
    EXPECT_EQ(Pixel(img, 0, h / 2), QColor(Qt::black));
    EXPECT_EQ(Pixel(img, 5, 3 + 10), Bgr(menu.BarColor()));
    menu.hide();
}

TEST(SkinMenu, ThemeRemoval)
{
    TSkinMainMenu main;
    TSkinPopupMenu popup;
    auto *theme = new TSkinFileTheme;
    main.SetUIStyle(TSkinUIStyle::MacOS);
    popup.SetUIStyle(TSkinUIStyle::MacOS);
    main.SetFileTheme(theme);
    popup.SetFileTheme(theme);
    delete theme;
    EXPECT_EQ(main.FileTheme(), nullptr);
    EXPECT_EQ(popup.FileTheme(), nullptr);
    EXPECT_EQ(main.UIStyle(), TSkinUIStyle::DeepBlue);
    EXPECT_EQ(popup.UIStyle(), TSkinUIStyle::MacOS);

    // A theme that is not ready draws in DeepBlue.
    TSkinFileTheme notReady;
    popup.SetFileTheme(&notReady);
    popup.SetUIStyle(TSkinUIStyle::FromThemeFile);
    EXPECT_EQ(popup.EffectiveStyle(), TSkinUIStyle::DeepBlue);
    EXPECT_EQ(popup.SelectedColor(), 0xA04A44u);
}

TEST(SkinMenu, MainMenuShortCutsAndImages)
{
    TSkinMainMenu main;
    QMenu *file = main.addMenu(QStringLiteral("&File"));
    QAction *save = file->addAction(QStringLiteral("Save"));
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    int saved = 0;
    QObject::connect(save, &QAction::triggered, [&] { ++saved; });

    QKeyEvent ctrlS(QEvent::KeyPress, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(main.IsShortCut(&ctrlS));
    EXPECT_EQ(saved, 1);
    QKeyEvent plainS(QEvent::KeyPress, Qt::Key_S, Qt::NoModifier, QStringLiteral("s"));
    EXPECT_FALSE(main.IsShortCut(&plainS));
    save->setEnabled(false);
    EXPECT_FALSE(main.IsShortCut(&ctrlS));
    EXPECT_EQ(saved, 1);

    EXPECT_EQ(main.Images(), nullptr) << "the own list is in use";
    TSkinImageList mine;
    main.SetImages(&mine);
    EXPECT_EQ(main.Images(), &mine);
    main.SetImages(nullptr);
    EXPECT_EQ(main.Images(), nullptr);
    EXPECT_EQ(main.OwnImages()->Count(), 1);
}

TEST(SkinMenu, MenuBarButtons)
{
    TSkinMenuBarLook look;
    look.Style = TSkinUIStyle::WinXP;
    look.BarColor = Qt::white;
    look.BarToColor = Qt::white;
    QImage img(60, 22, QImage::Format_RGB32);
    img.fill(Qt::white);
    {
        QPainter p(&img);
        DrawMenuBarButton(p, img.rect(), QString(), true, true, look);
    }
    EXPECT_EQ(Pixel(img, 0, 0), Bgr(StyleColor(TSkinUIStyle::WinXP, 18)));
    EXPECT_EQ(Pixel(img, 30, 11), Bgr(StyleColor(TSkinUIStyle::WinXP, 19)));

    // A gradient background only when the two colours differ.
    look.BarToColor = Qt::black;
    QImage bar(60, 22, QImage::Format_RGB32);
    bar.fill(Qt::red);
    {
        QPainter p(&bar);
        DrawMenuBarBackground(p, bar.rect(), look);
    }
    EXPECT_EQ(Pixel(bar, 10, 0), QColor(Qt::white));
    EXPECT_EQ(Pixel(bar, 10, 21), QColor(Qt::black));
    look.BarToColor = Qt::white;
    bar.fill(Qt::red);
    {
        QPainter p(&bar);
        DrawMenuBarBackground(p, bar.rect(), look);
    }
    EXPECT_EQ(Pixel(bar, 10, 10), QColor(Qt::red));
}

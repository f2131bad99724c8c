#include "Helpers.h"

#include "skin/SkinForm.h"
#include "skin/SkinMainMenu.h"
#include "skin/SkinPublic.h"

#include <QAction>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>

using sftest::Bgr;
using sftest::Click;
using sftest::Pixel;

namespace {

struct SkinnedForm
{
    std::unique_ptr<QWidget> form = sftest::MakeForm(400, 300);
    TSkinForm *skin = nullptr;

    explicit SkinnedForm(bool Show = true)
    {
        form->setWindowTitle(QStringLiteral("Probe"));
        skin = new TSkinForm(form.get());
        if (Show) {
            form->show();
            sftest::Settle();
        }
    }
};

void Key(QWidget *W, int K, Qt::KeyboardModifiers Mods, const QString &Text = QString())
{
    QKeyEvent ev(QEvent::KeyPress, K, Mods, Text);
    QApplication::sendEvent(W, &ev);
}

} // namespace

TEST(SkinForm, TakesOverOneFormOnly)
{
    SkinnedForm f;
    EXPECT_TRUE(f.skin->Active());
    EXPECT_TRUE(f.form->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(f.skin->Caption(), QStringLiteral("Probe"));
    EXPECT_EQ(f.skin->TitleBar()->Caption(), QStringLiteral("Probe"));
    f.skin->SetCaption(QStringLiteral("Renamed"));
    EXPECT_EQ(f.form->windowTitle(), QStringLiteral("Renamed"));

    // A second component on the same form, and one on a plain child widget, stay plain panels.
    auto *second = new TSkinForm(f.form.get());
    EXPECT_FALSE(second->Active());
    EXPECT_EQ(second->TitleBar(), nullptr);
    QWidget child(f.form.get());
    TSkinForm onChild(&child);
    EXPECT_FALSE(onChild.Active());
    EXPECT_TRUE(f.skin->Active());

    // Styled children created on the form take the skinned form's style.
    f.skin->SetUIStyle(TSkinUIStyle::Protein);
    EXPECT_EQ(FormStyleOfOwner(f.form.get()), TSkinUIStyle::Protein);

    EXPECT_EQ(f.skin->Version(), QStringLiteral("6.3"));
    f.skin->SetVersion(QStringLiteral("1.0"));
    EXPECT_EQ(f.skin->Version(), QStringLiteral("6.3"));
    EXPECT_EQ(f.skin->SystemBottomFrame(), 4) << "a frameless window reports no frame of its own";
    EXPECT_EQ(f.skin->FrameAnswer(), 3);
}

TEST(SkinForm, StylesGiveFrameValues)
{
    SkinnedForm f;
    struct Row
    {
        TSkinUIStyle Style;
        int BorderWidth;
        TColor BorderColor;
        TColor Color;
        int RoundCorner;
    };
    const Row rows[] = {
        {TSkinUIStyle::MacOS, 1, 0x7F7F7F, 0xE7E7E7, 0}, {TSkinUIStyle::WinXP, 3, 0xC82C00, 0xDEEBEF, 13},
        {TSkinUIStyle::DeepBlue, 1, 0, 0xE8E8E8, 0},     {TSkinUIStyle::Protein, 1, 0, 0xFBFBFB, 0},
        {TSkinUIStyle::BlueGlass, 1, 0, 0xE7E7E7, 11},
    };
    for (const Row &r : rows) {
        f.skin->SetUIStyle(r.Style);
        EXPECT_EQ(f.skin->BorderWidth(), r.BorderWidth) << int(r.Style);
        EXPECT_EQ(f.skin->BorderColor(), r.BorderColor) << int(r.Style);
        EXPECT_EQ(f.skin->Color(), r.Color) << int(r.Style);
        EXPECT_EQ(f.skin->MenuBarColor(), r.Color) << int(r.Style);
        EXPECT_EQ(f.skin->MenuBarToColor(), r.Color) << int(r.Style);
        EXPECT_EQ(f.skin->RoundCorner(), r.RoundCorner) << int(r.Style);
        EXPECT_EQ(f.skin->RoundCornerBottom(), 0) << int(r.Style);
        EXPECT_EQ(f.skin->TitleBar()->UIStyle(), r.Style);
        EXPECT_EQ(f.form->minimumHeight(), f.skin->TitleBarHeight() + 3);
    }

    // A theme that is not ready draws DeepBlue; its removal sets DeepBlue.
    auto *theme = new TSkinFileTheme;
    f.skin->SetUIStyle(TSkinUIStyle::WinXP);
    f.skin->SetFileTheme(theme);
    f.skin->SetUIStyle(TSkinUIStyle::FromThemeFile);
    EXPECT_EQ(f.skin->Color(), 0xE8E8E8u);
    f.skin->SetUIStyle(TSkinUIStyle::MacOS);
    delete theme;
    EXPECT_EQ(f.skin->FileTheme(), nullptr);
    EXPECT_EQ(f.skin->UIStyle(), TSkinUIStyle::DeepBlue);
}

TEST(SkinForm, LayoutOfTitleBarMenuBarAndClientArea)
{
    SkinnedForm f;
    TSkinForm *skin = f.skin;
    TSkinTitleBar *title = skin->TitleBar();
    const int th = title->height();
    EXPECT_EQ(skin->geometry(), QRect(4, 3, 392, 293));
    EXPECT_EQ(title->geometry(), QRect(0, 0, 392, th));
    EXPECT_EQ(skin->TitleBarHeight(), th + 3);

    EXPECT_EQ(skin->MenuBarHeight(), 0) << "no menu, no menu bar";
    EXPECT_EQ(skin->MenuBar(), nullptr);

    QWidget *panel = new QWidget(skin);
    skin->SetFormPanel(panel);
    EXPECT_EQ(panel->geometry(), QRect(0, th, 392, 293 - th));
    {
        sftest::MessageCatcher catcher;
        skin->SetFormPanel(skin);
        EXPECT_EQ(skin->FormPanel(), panel) << "the component cannot be its own panel";
        EXPECT_EQ(panel->geometry(), QRect(0, th, 392, 293 - th));
        EXPECT_EQ(catcher.Messages,
                  QStringList{QStringLiteral("Sorry, you can't select the Form assign to FormPanel property")});
    }

    TSkinMainMenu menu(f.form.get());
    menu.addMenu(QStringLiteral("&File"))->addAction(QStringLiteral("Open"));
    menu.addMenu(QStringLiteral("&Edit"))->addAction(QStringLiteral("Copy"));
    skin->SetMenu(&menu);
    ASSERT_NE(skin->MenuBar(), nullptr);
    EXPECT_EQ(menu.SkinForm(), skin);
    EXPECT_EQ(skin->MenuBarHeight(), 22);
    EXPECT_EQ(skin->MenuBar()->geometry(), QRect(0, th, 392, 22));
    EXPECT_EQ(panel->geometry(), QRect(0, th + 22, 392, 293 - th - 22));
    ASSERT_EQ(skin->MenuBar()->ButtonCount(), 2);
    EXPECT_EQ(skin->MenuBar()->Button(0)->text(), QStringLiteral("&File"));
    EXPECT_EQ(skin->MenuBar()->Button(0)->height(), 22);
    EXPECT_LT(skin->MenuBar()->Button(0)->x(), skin->MenuBar()->Button(1)->x());

    skin->SetMenuBarHeight(30);
    EXPECT_EQ(skin->MenuBar()->Button(1)->height(), 30);
    EXPECT_EQ(panel->y(), th + 30);

    // Hiding the title bar moves the menu bar to the top.
    skin->SetTitleBarVisible(false);
    EXPECT_FALSE(title->isVisible());
    EXPECT_EQ(skin->TitleBarHeight(), 0);
    EXPECT_EQ(skin->RoundCorner(), 0);
    EXPECT_EQ(skin->MenuBar()->y(), 0);
    EXPECT_EQ(panel->y(), 30);
    skin->SetTitleBarVisible(true);
    EXPECT_EQ(skin->MenuBar()->y(), th);

    // The form grows with the window.
    f.form->resize(500, 400);
    sftest::Settle();
    EXPECT_EQ(skin->geometry(), QRect(4, 3, 492, 393));
    EXPECT_EQ(title->width(), 492);

    skin->SetMenu(nullptr);
    EXPECT_EQ(skin->MenuBar(), nullptr);
    EXPECT_EQ(skin->MenuBarHeight(), 0);
    EXPECT_EQ(menu.SkinForm(), nullptr);
    EXPECT_EQ(panel->y(), th);
}

TEST(SkinForm, MenuBarFollowsItsMenu)
{
    SkinnedForm f;
    TSkinMainMenu menu(f.form.get());
    QMenu *file = menu.addMenu(QStringLiteral("&File"));
    QAction *save = file->addAction(QStringLiteral("Save"));
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    QAction *edit = menu.addAction(QStringLiteral("&Edit"));
    f.skin->SetMenu(&menu);
    TSkinMenuBar *bar = f.skin->MenuBar();
    ASSERT_EQ(bar->ButtonCount(), 2);

    file->menuAction()->setText(QStringLiteral("&Datei"));
    edit->setEnabled(false);
    EXPECT_EQ(bar->Button(0)->text(), QStringLiteral("&Datei"));
    EXPECT_FALSE(bar->Button(1)->isEnabled());

    // The bar's buttons draw the style's colours: a marked one is filled.
    f.skin->SetUIStyle(TSkinUIStyle::WinXP);
    EXPECT_EQ(menu.UIStyle(), TSkinUIStyle::WinXP) << "the menu follows the form's style";
    EXPECT_EQ(bar->Button(0)->Tag(), 0);
    bar->Button(0)->Click();
    EXPECT_EQ(bar->Button(0)->Tag(), 888);
    EXPECT_TRUE(bar->Button(0)->MenuShown());
    EXPECT_TRUE(file->isVisible());
    const QImage img = bar->Button(0)->grab().toImage();
    EXPECT_EQ(Pixel(img, img.width() / 2, 1), Bgr(StyleColor(TSkinUIStyle::WinXP, 19)));
    file->hide();
    sftest::Settle();
    EXPECT_FALSE(bar->Button(0)->MenuShown());
}

TEST(SkinForm, Keys)
{
    SkinnedForm f;
    TSkinMainMenu menu(f.form.get());
    QMenu *file = menu.addMenu(QStringLiteral("&File"));
    QAction *save = file->addAction(QStringLiteral("Save"));
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    int saved = 0;
    QObject::connect(save, &QAction::triggered, [&] { ++saved; });
    f.skin->SetMenu(&menu);
    QWidget *form = f.form.get();

    // Without Alt a character opens nothing while no button is marked.
    Key(form, Qt::Key_F, Qt::NoModifier, QStringLiteral("f"));
    EXPECT_FALSE(file->isVisible());
    Key(form, Qt::Key_F, Qt::AltModifier, QStringLiteral("f"));
    EXPECT_TRUE(file->isVisible());
    // While a button is marked, a plain character moves to another item.
    QMenu *edit = menu.addMenu(QStringLiteral("&Edit"));
    edit->addAction(QStringLiteral("Copy"));
    f.skin->SetMenu(&menu);
    TSkinMenuBar *bar = f.skin->MenuBar();
    file->hide();
    sftest::Settle();
    EXPECT_FALSE(bar->DialogChar(QLatin1Char('e'), false));
    bar->Button(0)->Click();
    EXPECT_TRUE(bar->AnyMarked());
    EXPECT_TRUE(bar->DialogChar(QLatin1Char('e'), false));
    EXPECT_TRUE(edit->isVisible());
    EXPECT_FALSE(bar->DialogChar(QLatin1Char('x'), true));
    file->hide();
    edit->hide();
    sftest::Settle();

    if (FormIsActive(form)) {
        Key(form, Qt::Key_S, Qt::ControlModifier);
        EXPECT_EQ(saved, 1);
    }

    Key(form, Qt::Key_Space, Qt::AltModifier, QStringLiteral(" "));
    EXPECT_TRUE(f.skin->TitleBar()->SystemMenu()->isVisible());
    f.skin->TitleBar()->SystemMenu()->hide();
}

TEST(SkinForm, RegionOfTheStyles)
{
    SkinnedForm f;
    f.skin->SetUIStyle(TSkinUIStyle::DeepBlue);
    EXPECT_EQ(f.skin->WindowRegion(), QRegion(0, 0, 400, 300)) << "square corners";

    f.skin->SetUIStyle(TSkinUIStyle::WinXP);
    const QRegion xp = f.skin->WindowRegion();
    EXPECT_FALSE(xp.contains(QPoint(0, 0)));
    EXPECT_FALSE(xp.contains(QPoint(399, 0)));
    EXPECT_FALSE(xp.contains(QPoint(1, 1)));
    EXPECT_TRUE(xp.contains(QPoint(6, 0)));
    EXPECT_TRUE(xp.contains(QPoint(6, 6)));
    EXPECT_TRUE(xp.contains(QPoint(0, 7)));
    EXPECT_TRUE(xp.contains(QPoint(0, 299)));
    EXPECT_TRUE(xp.contains(QPoint(399, 299)));
    EXPECT_TRUE(xp.contains(QPoint(0, 150)));
    EXPECT_TRUE(xp.contains(QPoint(399, 149)));

    f.skin->SetRoundCornerBottom(9);
    const QRegion both = f.skin->WindowRegion();
    EXPECT_FALSE(both.contains(QPoint(0, 299)));
    EXPECT_FALSE(both.contains(QPoint(399, 299)));
    EXPECT_TRUE(both.contains(QPoint(0, 150)));
    EXPECT_TRUE(both.contains(QPoint(200, 299)));
}

TEST(SkinForm, PictureRegionScan)
{
    QImage pic(10, 4, QImage::Format_RGB32);
    pic.fill(Qt::blue);
    pic.setPixel(0, 1, qRgb(255, 0, 255));
    pic.setPixel(9, 1, qRgb(255, 0, 255));
    pic.setPixel(0, 3, qRgb(255, 0, 255));
    const QColor magenta(255, 0, 255);
    // Rows 1 and 2 are scanned: rows 0 and 3 are whole.
    const QRegion r = ScanPictureRegion(pic, QPoint(5, 7), 1, 2, magenta);
    EXPECT_TRUE(r.contains(QPoint(5, 7)));
    EXPECT_FALSE(r.contains(QPoint(5, 8)));
    EXPECT_FALSE(r.contains(QPoint(14, 8)));
    EXPECT_TRUE(r.contains(QPoint(6, 8)));
    EXPECT_TRUE(r.contains(QPoint(5, 10)));
    // A last row not above the first scans to the bottom; -1 starts at the top.
    const QRegion all = ScanPictureRegion(pic, QPoint(0, 0), -1, -1, magenta);
    EXPECT_FALSE(all.contains(QPoint(0, 1)));
    EXPECT_FALSE(all.contains(QPoint(0, 3)));
    EXPECT_TRUE(all.contains(QPoint(1, 3)));
    EXPECT_EQ(all.boundingRect(), QRect(0, 0, 10, 4));
}

TEST(SkinForm, FramePainting)
{
    SkinnedForm f;
    f.skin->SetUIStyle(TSkinUIStyle::WinXP);
    sftest::Settle();
    QImage img = f.form->grab().toImage();
    const QColor border = Bgr(0xC82C00);
    const QColor color = Bgr(0xDEEBEF);
    EXPECT_EQ(Pixel(img, 0, 150), border);
    EXPECT_EQ(Pixel(img, 2, 150), border);
    EXPECT_EQ(Pixel(img, 3, 150), color);
    EXPECT_EQ(Pixel(img, 399, 150), border);
    EXPECT_EQ(Pixel(img, 396, 150), color);
    EXPECT_EQ(Pixel(img, 200, 299), border);
    EXPECT_EQ(Pixel(img, 200, 296), color);
    EXPECT_EQ(Pixel(img, 200, 200), color) << "the client area in the form colour";

    // Without a title bar a border line runs along the top over two rows of the form colour.
    f.skin->SetUIStyle(TSkinUIStyle::DeepBlue);
    f.skin->SetTitleBarVisible(false);
    sftest::Settle();
    img = f.form->grab().toImage();
    EXPECT_EQ(Pixel(img, 200, 0), QColor(Qt::black));
    EXPECT_EQ(Pixel(img, 200, 1), Bgr(0xE8E8E8));
    EXPECT_EQ(Pixel(img, 200, 2), Bgr(0xE8E8E8));
    EXPECT_EQ(Pixel(img, 0, 150), QColor(Qt::black));
    EXPECT_EQ(Pixel(img, 1, 150), Bgr(0xE8E8E8));

    // A menu bar with two colours gets the gradient beside it too.
    TSkinMainMenu menu(f.form.get());
    menu.addMenu(QStringLiteral("&File"));
    f.skin->SetMenu(&menu);
    f.skin->SetMenuBarColor(0xFFFFFF);
    f.skin->SetMenuBarToColor(0x000000);
    sftest::Settle();
    img = f.form->grab().toImage();
    EXPECT_EQ(Pixel(img, 2, 3), QColor(Qt::white));
    EXPECT_EQ(Pixel(img, 2, 3 + 21), QColor(Qt::black));
}

TEST(SkinForm, MaximiseRestoreMinimise)
{
    SkinnedForm f;
    QWidget *form = f.form.get();
    TSkinTitleBar *title = f.skin->TitleBar();
    const QRect normal = form->geometry();
    Click(title, title->ButtonRect(1).center());
    sftest::Settle();
    ASSERT_TRUE(form->isMaximized());
    QRect area;
    GetWorkArea(area);
    EXPECT_EQ(form->geometry(), area) << "a maximised skinned form covers the work area";
    EXPECT_EQ(f.skin->geometry(), QRect(4, 3, area.width() - 8, area.height() - 7));

    // Dragging a maximised form does nothing.
    sftest::Mouse(title, QEvent::MouseButtonPress, QPoint(100, 10));
    QMouseEvent move(QEvent::MouseMove, QPointF(130, 30), QPointF(title->mapToGlobal(QPoint(130, 30))), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(title, &move);
    sftest::Mouse(title, QEvent::MouseButtonRelease, QPoint(130, 30), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(form->geometry(), area);

    Click(title, title->ButtonRect(1).center());
    sftest::Settle();
    EXPECT_FALSE(form->isMaximized());
    EXPECT_EQ(form->geometry(), normal);
    EXPECT_EQ(f.skin->geometry(), QRect(4, 3, 392, 293));

    Click(title, title->ButtonRect(2).center());
    sftest::Settle();
    EXPECT_TRUE(form->isMinimized());
    // A minimised form paints no frame.
    QImage img(400, 300, QImage::Format_RGB32);
    img.fill(Qt::red);
    {
        QPainter p(&img);
        f.skin->PaintFrame(p);
    }
    EXPECT_EQ(Pixel(img, 0, 150), QColor(Qt::red));
    form->showNormal();
    sftest::Settle();
    EXPECT_FALSE(form->isMinimized());
}

TEST(SkinForm, RemovingTheComponentGivesTheFrameBack)
{
    SkinnedForm f;
    QPointer<TSkinTitleBar> title = f.skin->TitleBar();
    delete f.skin;
    EXPECT_TRUE(title.isNull());
    sftest::Settle();
    EXPECT_FALSE(f.form->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(f.form->isVisible());

    // A form destroyed with its component leaves nothing behind.
    auto other = sftest::MakeForm();
    new TSkinForm(other.get());
    other->show();
    other.reset();
    sftest::Settle();
}

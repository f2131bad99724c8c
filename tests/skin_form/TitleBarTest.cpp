#include "Helpers.h"

#include "skin/SkinPublic.h"
#include "skin/SkinThemes.h"
#include "skin/SkinTitleBar.h"

#include <QAction>
#include <QFontMetrics>
#include <QVBoxLayout>

using sftest::Click;
using sftest::Mouse;
using sftest::Pixel;
using sftest::StripFrame;

namespace {

bool Same(const QImage &A, const QImage &B)
{
    return A.convertToFormat(QImage::Format_RGB32) == B.convertToFormat(QImage::Format_RGB32);
}

// The part of a button's picture the bar shows (a button may stand above the bar's top).
bool Shows(const QImage &Bar, const QRect &Button, const QImage &Picture)
{
    const QRect visible = Button & Bar.rect();
    return Same(Bar.copy(visible), Picture.copy(visible.translated(-Button.topLeft())));
}

// A bar standing on a form of the test's own (no skinned form).
struct BarOnForm
{
    std::unique_ptr<QWidget> form = sftest::MakeForm(400, 300);
    TSkinTitleBar *bar = nullptr;

    BarOnForm()
    {
        bar = new TSkinTitleBar(form.get());
        bar->setGeometry(0, 0, 400, 30);
        form->show();
        sftest::Settle();
    }
};

} // namespace

TEST(SkinTitleBar, NewBarHasCloseMaxMinRightToLeft)
{
    BarOnForm f;
    TSkinTitleBar *bar = f.bar;
    ASSERT_EQ(bar->Buttons()->Count(), 3);
    EXPECT_EQ(bar->Buttons()->Items(0)->ButtonType(), TSkinTitleBarBtnType::skinClose);
    EXPECT_EQ(bar->Buttons()->Items(1)->ButtonType(), TSkinTitleBarBtnType::skinMax);
    EXPECT_EQ(bar->Buttons()->Items(2)->ButtonType(), TSkinTitleBarBtnType::skinMin);
    EXPECT_EQ(bar->UIStyle(), TSkinUIStyle::DeepBlue) << "a form without a skinned form gives DeepBlue";
    EXPECT_TRUE(bar->DrawAppIcon());
    EXPECT_EQ(bar->FontColor(), 0xFFFFFFu);
    EXPECT_TRUE(bar->font().bold());
    EXPECT_EQ(bar->Sections()->Count(), 3);
    EXPECT_TRUE(bar->HasFullTitlePictures());
    EXPECT_EQ(bar->Sections()->Items(1)->Align(), TSkinTitleBarAlign::skinRight);
    EXPECT_EQ(bar->Sections()->Items(2)->Align(), TSkinTitleBarAlign::skinClient);
    EXPECT_TRUE(bar->Sections()->Items(2)->Stretch());

    const QImage closeNormal = StripFrame(TSkinUIStyle::DeepBlue, 16);
    const int w = closeNormal.width();
    ASSERT_GT(w, 0);
    const QRect close = bar->ButtonRect(0);
    const QRect max = bar->ButtonRect(1);
    const QRect min = bar->ButtonRect(2);
    // The close button sits at the right edge; the others leave one pixel between them.
    EXPECT_EQ(close.x(), 400 - StyleInteger(TSkinUIStyle::DeepBlue, 8) - 1 - w);
    EXPECT_EQ(max.x(), close.x() - w - 1);
    EXPECT_EQ(min.x(), max.x() - w - 1);
    EXPECT_EQ(close.y(), StyleInteger(TSkinUIStyle::DeepBlue, 9) - 3) << "a bar on a form is part of its frame";

    EXPECT_EQ(bar->Buttons()->Items(0)->PicNormal(), closeNormal);
    EXPECT_EQ(bar->Buttons()->Items(0)->PicMouseOn(), StripFrame(TSkinUIStyle::DeepBlue, 17));
    EXPECT_EQ(bar->Buttons()->Items(1)->PicNormal(), StripFrame(TSkinUIStyle::DeepBlue, 7));
    EXPECT_EQ(bar->Buttons()->Items(2)->PicMouseDown(), StripFrame(TSkinUIStyle::DeepBlue, 15));

    // A wider gap between buttons.
    bar->SetButtonInterval(5);
    EXPECT_EQ(bar->ButtonRect(1).x(), close.x() - w - 6);
}

TEST(SkinTitleBar, HitTestingAndButtonStates)
{
    BarOnForm f;
    TSkinTitleBar *bar = f.bar;
    const QRect close = bar->ButtonRect(0);
    EXPECT_EQ(bar->ButtonAt(close.center()), 0);
    EXPECT_EQ(bar->ButtonAt(bar->ButtonRect(2).center()), 2);
    EXPECT_EQ(bar->ButtonAt(QPoint(100, 10)), -1);

    // Hidden buttons take no room: the rest move right.
    bar->Buttons()->Items(0)->SetVisible(false);
    EXPECT_TRUE(bar->ButtonRect(0).isEmpty());
    EXPECT_EQ(bar->ButtonRect(1).x(), close.x() - 1);
    EXPECT_EQ(bar->ButtonAt(close.center()), 1);
    bar->Buttons()->Items(0)->SetVisible(true);

    const QPoint at = close.center();
    Mouse(bar, QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
    QImage img = bar->grab().toImage();
    EXPECT_EQ(bar->HotButton(), 0);
    EXPECT_TRUE(Shows(img, close, bar->Buttons()->Items(0)->PicMouseOn()));
    Mouse(bar, QEvent::MouseButtonPress, at);
    img = bar->grab().toImage();
    EXPECT_TRUE(bar->MouseIsDown());
    EXPECT_TRUE(Shows(img, close, bar->Buttons()->Items(0)->PicMouseDown()));
    // Release elsewhere: nothing acts, the button is normal again.
    Mouse(bar, QEvent::MouseButtonRelease, QPoint(100, 10), Qt::LeftButton, Qt::NoButton);
    Mouse(bar, QEvent::MouseMove, QPoint(100, 10), Qt::NoButton, Qt::NoButton);
    img = bar->grab().toImage();
    EXPECT_TRUE(f.form->isVisible());
    EXPECT_FALSE(bar->MouseIsDown());
    EXPECT_EQ(bar->HotButton(), -1);
    EXPECT_TRUE(Shows(img, close, bar->Buttons()->Items(0)->PicNormal()));
}

TEST(SkinTitleBar, Caption)
{
    BarOnForm f;
    TSkinTitleBar *bar = f.bar;
    bar->grab();
    EXPECT_TRUE(bar->DrawnCaption().isEmpty()) << "an empty caption draws nothing";

    bar->SetCaption(QStringLiteral("Short"));
    bar->grab();
    EXPECT_EQ(bar->DrawnCaption(), QStringLiteral("Short"));
    EXPECT_EQ(bar->CaptionLeft(), 6) << "no control box: the caption starts at 6";

    const QString longText(200, QLatin1Char('W'));
    bar->SetCaption(longText);
    bar->grab();
    const QString shown = bar->DrawnCaption();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("...")));
    EXPECT_LT(shown.size(), longText.size());
    const QFontMetrics fm(bar->font());
    EXPECT_LE(fm.horizontalAdvance(shown), bar->ButtonRect(2).x() - bar->CaptionLeft());

    // A control box showing the application's icon moves the caption to its right.
    TSkinTitleBarButton *box = bar->Buttons()->Add();
    box->SetButtonType(TSkinTitleBarBtnType::skinControlBox);
    bar->SetCaption(QStringLiteral("Short"));
    bar->grab();
    EXPECT_EQ(bar->CaptionLeft(), qMax(0, bar->LeftBtnXOffset() - 4 + 1) + 21);
    // Only one control box: a second is refused with a message and stays as it was.
    TSkinTitleBarButton *second = bar->Buttons()->Add();
    sftest::MessageCatcher catcher;
    second->SetButtonType(TSkinTitleBarBtnType::skinControlBox);
    EXPECT_EQ(second->ButtonType(), TSkinTitleBarBtnType::skinCustom);
    EXPECT_EQ(catcher.Messages,
              QStringList{QStringLiteral("Sorry, only one button's ButtonType property can be \"skinControlBox\"")});
    // The box itself may be set to what it already is.
    box->SetButtonType(TSkinTitleBarBtnType::skinControlBox);
    EXPECT_EQ(catcher.Messages.size(), 1);
}

TEST(SkinTitleBar, MaximiseRestoreMinimiseClose)
{
    BarOnForm f;
    TSkinTitleBar *bar = f.bar;
    QWidget *form = f.form.get();
    Click(bar, bar->ButtonRect(1).center());
    sftest::Settle();
    EXPECT_TRUE(form->isMaximized());
    QRect area;
    GetWorkArea(area);
    EXPECT_EQ(form->frameGeometry(), area);
    EXPECT_EQ(bar->Buttons()->Items(1)->PicNormal(), StripFrame(TSkinUIStyle::DeepBlue, 10)) << "restore frames";

    // Double click on the empty bar restores.
    Mouse(bar, QEvent::MouseButtonDblClick, QPoint(100, 10));
    sftest::Settle();
    EXPECT_FALSE(form->isMaximized());
    EXPECT_EQ(bar->Buttons()->Items(1)->PicNormal(), StripFrame(TSkinUIStyle::DeepBlue, 7));

    Click(bar, bar->ButtonRect(2).center());
    sftest::Settle();
    EXPECT_TRUE(form->isMinimized());
    form->showNormal();
    sftest::Settle();

    Click(bar, bar->ButtonRect(0).center());
    sftest::Settle();
    EXPECT_FALSE(form->isVisible());
}

TEST(SkinTitleBar, DraggingIsRefusedOverButtonsAndWhenMaximised)
{
    BarOnForm f;
    TSkinTitleBar *bar = f.bar;
    QWidget *form = f.form.get();
    const QPoint start = form->pos();

    auto drag = [&](const QPoint &From) {
        Mouse(bar, QEvent::MouseButtonPress, From);
        QMouseEvent move(QEvent::MouseMove, QPointF(From + QPoint(30, 20)),
                         QPointF(bar->mapToGlobal(From) + QPoint(30, 20)), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(bar, &move);
        Mouse(bar, QEvent::MouseButtonRelease, From + QPoint(30, 20), Qt::LeftButton, Qt::NoButton);
    };

    // Pressing over a button and moving away does not move the form.
    drag(bar->ButtonRect(2).center());
    EXPECT_EQ(form->pos(), start);

    drag(QPoint(100, 10));
    EXPECT_EQ(form->pos(), start + QPoint(30, 20));

    form->showMaximized();
    sftest::Settle();
    const QPoint maxPos = form->pos();
    drag(QPoint(100, 10));
    EXPECT_EQ(form->pos(), maxPos);
}

TEST(SkinTitleBar, ButtonEventsAndSystemMenu)
{
    BarOnForm f;
    TSkinTitleBar *bar = f.bar;
    TSkinTitleBarButton *custom = bar->Buttons()->Add();
    QImage pic(12, 12, QImage::Format_RGB32);
    pic.fill(Qt::green);
    custom->SetPicNormal(pic);
    custom->SetPicMouseOn(pic);
    custom->SetPicMouseDown(pic);
    TSkinTitleBarButton *help = bar->Buttons()->Add();
    help->SetButtonType(TSkinTitleBarBtnType::skinHelp);
    help->SetUIStyle(bar->UIStyle());
    ASSERT_TRUE(help->HasPictures());

    int customIndex = -1;
    int helpIndex = -1;
    bar->OnCustomBtnsClick = [&](QObject *Sender, int Index) {
        EXPECT_EQ(Sender, bar);
        customIndex = Index;
    };
    bar->OnHelpBtnClick = [&](QObject *, int Index) { helpIndex = Index; };
    Click(bar, bar->ButtonRect(3).center());
    EXPECT_EQ(customIndex, 3);
    EXPECT_EQ(helpIndex, -1);
    Click(bar, bar->ButtonRect(4).center());
    EXPECT_EQ(helpIndex, 4);

    TSkinTitleBarPopupMenu *menu = bar->SystemMenu();
    ASSERT_EQ(menu->actions().size(), 4);
    EXPECT_EQ(menu->actions().at(0)->text(), QStringLiteral("Mi&nimize"));
    EXPECT_EQ(menu->actions().at(1)->text(), QStringLiteral("Ma&ximize/Restore"));
    EXPECT_TRUE(menu->actions().at(2)->isSeparator());
    EXPECT_EQ(menu->actions().at(3)->text(), QStringLiteral("&Close"));
    bar->Buttons()->Items(0)->SetVisible(false);
    menu->UpdateItems();
    EXPECT_FALSE(menu->CloseItem()->isEnabled());
    EXPECT_TRUE(menu->MinimizeItem()->isEnabled());
    EXPECT_TRUE(menu->MaximizeItem()->isEnabled());
    bar->Buttons()->Delete(2);
    menu->UpdateItems();
    EXPECT_FALSE(menu->MinimizeItem()->isEnabled());

    // Maximise/restore acts through every visible maximise button.
    menu->MaximizeItem()->trigger();
    sftest::Settle();
    EXPECT_TRUE(f.form->isMaximized());
    menu->CloseItem()->setEnabled(true);
    menu->CloseItem()->trigger();
    sftest::Settle();
    EXPECT_FALSE(f.form->isVisible());
}

TEST(SkinTitleBar, SectionsAndStyles)
{
    BarOnForm f;
    TSkinTitleBar *bar = f.bar;
    // Only one middle section: a second is refused with a message, and so is setting the
    // middle one again.
    TSkinTitleBarSection *extra = bar->Sections()->Add();
    {
        sftest::MessageCatcher catcher;
        extra->SetAlign(TSkinTitleBarAlign::skinClient);
        EXPECT_EQ(extra->Align(), TSkinTitleBarAlign::skinLeft);
        EXPECT_FALSE(extra->Stretch());
        TSkinTitleBarSection *middle = bar->Sections()->Items(2);
        middle->SetAlign(TSkinTitleBarAlign::skinClient);
        EXPECT_EQ(middle->Align(), TSkinTitleBarAlign::skinClient);
        const QString text = QStringLiteral("Sorry, only one section's Align property can be \"skinClient\"");
        EXPECT_EQ(catcher.Messages, (QStringList{text, text}));
    }
    EXPECT_EQ(extra->Width(), 10);
    QImage pic(33, 20, QImage::Format_RGB32);
    pic.fill(Qt::blue);
    extra->SetPicture(pic);
    EXPECT_EQ(extra->Width(), 33);
    EXPECT_FALSE(bar->HasFullTitlePictures()) << "four sections";
    EXPECT_EQ(bar->Pictures(3), pic);

    // AutoSize follows the first section's picture, 3 rows less on a form frame.
    bar->SetAutoSize(true);
    EXPECT_EQ(bar->height(), bar->Sections()->Items(0)->Picture().height() - 3);

    bar->SetUIStyle(TSkinUIStyle::MacOS);
    EXPECT_EQ(bar->FontColor(), 0u);
    EXPECT_EQ(bar->Sections()->Count(), 3);
    EXPECT_EQ(bar->RoundCorner(), 0);
    bar->SetUIStyle(TSkinUIStyle::WinXP);
    EXPECT_EQ(bar->FontColor(), 0xFFFFFFu);
    EXPECT_EQ(bar->RoundCorner(), 13);
    EXPECT_EQ(bar->LeftBtnXOffset(), 2);
    EXPECT_EQ(bar->RightBtnXOffset(), -2);
    EXPECT_EQ(f.form->minimumWidth(), 150);
    EXPECT_EQ(f.form->minimumHeight(), 50);

    // A custom bar keeps its sections and colours through style changes.
    bar->Sections()->Clear();
    bar->SetFontColor(0x123456);
    bar->SetCustom(true);
    bar->SetUIStyle(TSkinUIStyle::Protein);
    EXPECT_EQ(bar->Sections()->Count(), 0);
    EXPECT_EQ(bar->FontColor(), 0x123456u);
    bar->SetAutoSize(true);
    EXPECT_FALSE(bar->AutoSize()) << "no sections, no auto size";
}

TEST(SkinTitleBar, ComposedPictureCoversTheFrame)
{
    BarOnForm f;
    TSkinTitleBar *bar = f.bar;
    bar->grab();
    // On a form without a skinned form (and without a parent of its own) the frame is 3 wide.
    const QImage composed = bar->Pictures(-1);
    EXPECT_EQ(composed.height(), bar->height() + 3);
    EXPECT_EQ(composed.width(), bar->width() + 6);
    EXPECT_EQ(bar->Pictures(-2).size(), composed.size());
    EXPECT_EQ(Pixel(bar->Pictures(-2), 0, 0), bar->BackgroundColor());
    // The bar shows the composed picture from column 3 and row 3.
    const QImage shown = bar->grab().toImage();
    EXPECT_EQ(Pixel(shown, 150, 10), Pixel(composed, 153, 13));
}

TEST(SkinTitleBar, StandAloneBarStretchesAcrossTheTopOfItsParent)
{
    auto form = sftest::MakeForm(400, 300);
    auto *bar = new TSkinTitleBar(form.get());
    form->show();
    sftest::Settle();
    const int h = bar->height();
    EXPECT_EQ(bar->geometry(), QRect(0, 0, 400, h));

    // It follows every resize of its form, and its buttons stay at the right end.
    form->resize(600, 300);
    sftest::Settle();
    EXPECT_EQ(bar->geometry(), QRect(0, 0, 600, h));
    EXPECT_GT(bar->ButtonRect(0).right(), 560);
    const QImage shot = form->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage own = bar->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shot.pixel(590, h / 2), own.pixel(590, h / 2)) << "the form shows the bar at its far end";
    form->resize(450, 200);
    sftest::Settle();
    EXPECT_EQ(bar->geometry(), QRect(0, 0, 450, h));

    // Its height is its own to set; it does not leave the top.
    bar->setGeometry(30, 40, 100, 28);
    EXPECT_EQ(bar->geometry(), QRect(0, 0, 450, 28));
    form->setContentsMargins(5, 6, 7, 0);
    EXPECT_EQ(bar->geometry(), QRect(5, 6, 438, 28));

    // On a panel of the form it spans the panel, and moves with its parent when reparented.
    auto *panel = new QWidget(form.get());
    panel->setGeometry(10, 100, 200, 80);
    panel->show();
    auto *inner = new TSkinTitleBar(panel);
    EXPECT_EQ(inner->geometry(), QRect(0, 0, 200, inner->height()));
    panel->resize(300, 80);
    EXPECT_EQ(inner->width(), 300);
    inner->setParent(form.get());
    EXPECT_EQ(inner->geometry(), QRect(5, 6, 438, inner->height()));
    panel->resize(100, 80);
    EXPECT_EQ(inner->width(), 438) << "the old parent no longer places it";

    // A layout that holds the bar places it itself.
    QWidget holder;
    auto *layout = new QVBoxLayout(&holder);
    layout->setContentsMargins(9, 9, 9, 9);
    auto *laid = new TSkinTitleBar(&holder);
    layout->addWidget(laid);
    holder.resize(300, 200);
    holder.show();
    sftest::Settle();
    EXPECT_EQ(laid->x(), 9);
    EXPECT_EQ(laid->width(), 282);
}

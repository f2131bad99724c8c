#include "Helpers.h"

#include "skin/SkinForm.h"

#include <QKeyEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>

using sftest::Click;
using sftest::StripFrame;

namespace {

// A parent form that answers its children's frame queries when told what to answer.
class ParentForm : public QWidget
{
public:
    int BottomAnswer = -1;
    int LeftAnswer = -1;

protected:
    bool event(QEvent *Event) override
    {
        if (Event->type() == TSkinFrameQueryEvent::EventType()) {
            auto *query = static_cast<TSkinFrameQueryEvent *>(Event);
            const int answer = query->Which == 0x87D0 ? BottomAnswer : query->Which == 0x87D1 ? LeftAnswer : -1;
            if (answer >= 0)
                query->Answer = answer;
            return true;
        }
        return QWidget::event(Event);
    }
};

// A skinned parent form with an MDI area as its client, and skinned children in it.
struct MdiParent
{
    std::unique_ptr<ParentForm> form = std::make_unique<ParentForm>();
    TSkinForm *skin = nullptr;
    QMdiArea *area = nullptr;

    explicit MdiParent(bool Skinned = true)
    {
        form->setGeometry(20, 30, 800, 600);
        if (Skinned) {
            skin = new TSkinForm(form.get());
            area = new QMdiArea(skin);
            skin->SetFormPanel(area);
        } else {
            area = new QMdiArea(form.get());
            area->setGeometry(form->rect());
        }
        form->show();
        sftest::Settle();
    }

    // A child form with a skinned form and a panel of content; Setup runs before the skin.
    TSkinForm *AddChild(const QString &Title, const QRect &Geometry,
                        const std::function<void(QMdiSubWindow *)> &Setup = {})
    {
        auto *sub = new QMdiSubWindow;
        sub->setAttribute(Qt::WA_DeleteOnClose);
        sub->setWindowTitle(Title);
        sub->setGeometry(Geometry);
        if (Setup)
            Setup(sub);
        auto *child = new TSkinForm(sub);
        child->SetFormPanel(new QWidget(child));
        area->addSubWindow(sub);
        sub->setGeometry(Geometry);
        sub->show();
        sftest::Settle();
        return child;
    }
};

QMdiSubWindow *Sub(TSkinForm *Child)
{
    return Child->MdiChild();
}

} // namespace

TEST(SkinFormMdi, ChildrenTakeTheirFramesAndAskTheMainFormForTheSystemFrame)
{
    MdiParent p;
    p.form->BottomAnswer = 7;
    p.form->LeftAnswer = 20;
    SetApplicationMainForm(p.form.get());
    TSkinForm *a = p.AddChild(QStringLiteral("A"), QRect(10, 10, 300, 200));
    p.form->BottomAnswer = -1;
    p.form->LeftAnswer = -1;
    TSkinForm *b = p.AddChild(QStringLiteral("B"), QRect(60, 60, 300, 200));
    SetApplicationMainForm(nullptr);

    ASSERT_TRUE(a->Active());
    ASSERT_TRUE(b->Active());
    EXPECT_EQ(Sub(a)->mdiArea(), p.area);
    EXPECT_EQ(a->Caption(), QStringLiteral("A"));
    EXPECT_EQ(a->SystemBottomFrame(), 7);
    EXPECT_EQ(a->SystemLeftFrame(), 4) << "an answer above 12 is taken as 4";
    EXPECT_EQ(b->SystemBottomFrame(), 0) << "unanswered, a child's frame is 0";
    EXPECT_EQ(b->SystemLeftFrame(), 0);
    EXPECT_EQ(b->FrameAnswer(), -1);

    // The child draws its own frame and title bar inside the area.
    EXPECT_TRUE(Sub(a)->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(Sub(a)->geometry(), QRect(10, 10, 300, 200));
    EXPECT_EQ(a->geometry(), QRect(4, 3, 292, 193));
    EXPECT_TRUE(a->TitleBar()->isVisible());
    EXPECT_EQ(a->FormPanel()->y(), a->TitleBar()->height());
    EXPECT_EQ(p.skin->TitleBar()->MaximizedChild(), nullptr);

    // It paints its frame around its client area: DeepBlue's black border, its form colour inside.
    QImage shot = Sub(a)->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(sftest::Pixel(shot, 0, 100), QColor(Qt::black));
    EXPECT_EQ(sftest::Pixel(shot, 299, 100), QColor(Qt::black));
    EXPECT_EQ(sftest::Pixel(shot, 150, 199), QColor(Qt::black));
    EXPECT_EQ(sftest::Pixel(shot, 2, 100), sftest::Bgr(0xE8E8E8));

    // Its shape is its own (a child can be shaped on any platform).
    a->SetUIStyle(TSkinUIStyle::WinXP);
    EXPECT_EQ(Sub(a)->geometry(), QRect(10, 10, 300, 200)) << "a change of look keeps the child's place";
    EXPECT_FALSE(Sub(a)->mask().isEmpty());
    EXPECT_FALSE(Sub(a)->mask().contains(QPoint(0, 0)));
    EXPECT_TRUE(Sub(a)->mask().contains(QPoint(150, 100)));

    // A second component on a child stays plain.
    auto *second = new TSkinForm(Sub(a));
    EXPECT_FALSE(second->Active());
    delete second;
}

TEST(SkinFormMdi, ActivationFollowsTheArea)
{
    MdiParent p;
    TSkinForm *a = p.AddChild(QStringLiteral("A"), QRect(10, 10, 300, 200));
    TSkinForm *b = p.AddChild(QStringLiteral("B"), QRect(60, 60, 300, 200));
    p.area->setActiveSubWindow(Sub(a));
    sftest::Settle();
    EXPECT_TRUE(a->TitleBar()->FormActive());
    EXPECT_FALSE(b->TitleBar()->FormActive());
    EXPECT_TRUE(FormIsActive(Sub(a)));
    EXPECT_FALSE(FormIsActive(Sub(b)));

    p.area->setActiveSubWindow(Sub(b));
    sftest::Settle();
    EXPECT_FALSE(a->TitleBar()->FormActive());
    EXPECT_TRUE(b->TitleBar()->FormActive());
    EXPECT_FALSE(FormIsActive(Sub(a)));
    EXPECT_TRUE(FormIsActive(Sub(b)));

    // A parent of child forms draws as active whatever its children do.
    SetApplicationMainForm(p.form.get());
    EXPECT_TRUE(FormIsActive(p.form.get()));
    SetApplicationMainForm(nullptr);
}

TEST(SkinFormMdi, MaximisedChildShowsItsButtonsOnTheParentsTitleBar)
{
    MdiParent p;
    TSkinForm *a = p.AddChild(QStringLiteral("A"), QRect(10, 10, 300, 200));
    TSkinForm *b = p.AddChild(QStringLiteral("B"), QRect(60, 60, 300, 200));
    TSkinTitleBar *parentBar = p.skin->TitleBar();
    TSkinTitleBar *aBar = a->TitleBar();

    // Maximised by its own button: the child fills the area, its title bar stands aside and
    // its content moves to the top; the parent's title bar shows its buttons.
    p.area->setActiveSubWindow(Sub(a));
    Click(aBar, aBar->ButtonRect(1).center());
    sftest::Settle();
    ASSERT_TRUE(Sub(a)->isMaximized());
    EXPECT_EQ(Sub(a)->geometry(), p.area->viewport()->rect());
    EXPECT_FALSE(aBar->isVisible());
    EXPECT_EQ(a->geometry(), Sub(a)->rect());
    EXPECT_EQ(a->FormPanel()->geometry(), a->rect());
    EXPECT_TRUE(Sub(a)->mask().isEmpty()) << "no corners cut off a maximised child";
    EXPECT_EQ(parentBar->MaximizedChild(), a);
    const QRect restore = parentBar->ChildButtonRect(TSkinTitleBar::cbRestore);
    const QRect minimize = parentBar->ChildButtonRect(TSkinTitleBar::cbMinimize);
    const QRect close = parentBar->ChildButtonRect(TSkinTitleBar::cbClose);
    ASSERT_FALSE(restore.isEmpty());
    EXPECT_LT(minimize.x(), restore.x());
    EXPECT_LT(restore.x(), close.x());
    EXPECT_LT(close.right(), parentBar->ButtonRect(2).x()) << "left of the parent's own buttons";
    const QImage shown = parentBar->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect visible = restore & shown.rect(); // a button may stand above the bar's top
    EXPECT_EQ(shown.copy(visible),
              StripFrame(p.skin->UIStyle(), 10)
                  .convertToFormat(QImage::Format_RGB32)
                  .copy(visible.translated(-restore.topLeft())));
    // The parent's own maximise button still shows its own state.
    EXPECT_EQ(parentBar->Buttons()->Items(1)->PicNormal(), StripFrame(p.skin->UIStyle(), 7));

    // Hiding the parent's title bar gives the child its own back, showing it takes it again.
    p.skin->SetTitleBarVisible(false);
    EXPECT_TRUE(aBar->isVisible());
    p.skin->SetTitleBarVisible(true);
    EXPECT_FALSE(aBar->isVisible());
    EXPECT_EQ(parentBar->MaximizedChild(), a);

    // Another child activated takes the maximised place; the first is given back its frame.
    p.area->setActiveSubWindow(Sub(b));
    sftest::Settle();
    ASSERT_TRUE(Sub(b)->isMaximized());
    EXPECT_FALSE(Sub(a)->isMaximized());
    EXPECT_EQ(parentBar->MaximizedChild(), b);
    EXPECT_TRUE(aBar->isVisible());
    EXPECT_FALSE(b->TitleBar()->isVisible());

    // Restored by the parent's button: the child's place, title bar and content come back.
    Click(parentBar, parentBar->ChildButtonRect(TSkinTitleBar::cbRestore).center());
    sftest::Settle();
    EXPECT_FALSE(Sub(b)->isMaximized());
    EXPECT_EQ(Sub(b)->geometry(), QRect(60, 60, 300, 200));
    EXPECT_TRUE(b->TitleBar()->isVisible());
    EXPECT_EQ(b->geometry(), QRect(4, 3, 292, 193));
    EXPECT_EQ(b->FormPanel()->y(), b->TitleBar()->height());
    EXPECT_EQ(parentBar->MaximizedChild(), nullptr);
    EXPECT_TRUE(parentBar->ChildButtonRect(TSkinTitleBar::cbRestore).isEmpty());
    EXPECT_EQ(b->TitleBar()->Buttons()->Items(1)->PicNormal(), StripFrame(b->UIStyle(), 7));
}

TEST(SkinFormMdi, ChildStartingMaximised)
{
    MdiParent p;
    TSkinForm *a = p.AddChild(QStringLiteral("A"), QRect(10, 10, 300, 200),
                              [](QMdiSubWindow *S) { S->setWindowState(Qt::WindowMaximized); });
    ASSERT_TRUE(Sub(a)->isMaximized());
    EXPECT_EQ(p.skin->TitleBar()->MaximizedChild(), a);
    EXPECT_FALSE(a->TitleBar()->isVisible());
    EXPECT_EQ(a->FormPanel()->y(), 0);
    Sub(a)->showNormal();
    sftest::Settle();
    EXPECT_TRUE(a->TitleBar()->isVisible());
    EXPECT_EQ(p.skin->TitleBar()->MaximizedChild(), nullptr);
}

TEST(SkinFormMdi, RestoreGivesBackTheWantedTitleBar)
{
    MdiParent p;
    TSkinForm *a = p.AddChild(QStringLiteral("A"), QRect(10, 10, 300, 200));
    a->SetTitleBarVisible(false);
    Sub(a)->showMaximized();
    sftest::Settle();
    EXPECT_EQ(p.skin->TitleBar()->MaximizedChild(), a);
    Sub(a)->showNormal();
    sftest::Settle();
    EXPECT_FALSE(a->TitleBar()->isVisible()) << "hidden before, hidden after";
    EXPECT_EQ(a->FormPanel()->y(), 0);
    a->SetTitleBarVisible(true);
    EXPECT_EQ(a->FormPanel()->y(), a->TitleBar()->height());
}

TEST(SkinFormMdi, MinimiseCloseAndRemoval)
{
    MdiParent p;
    TSkinForm *a = p.AddChild(QStringLiteral("A"), QRect(10, 10, 300, 200));
    QPointer<TSkinForm> b = p.AddChild(QStringLiteral("B"), QRect(60, 60, 300, 200));
    TSkinTitleBar *parentBar = p.skin->TitleBar();

    // Minimised, the area draws the child's caption itself; restored, the skin is back.
    Click(a->TitleBar(), a->TitleBar()->ButtonRect(2).center());
    sftest::Settle();
    ASSERT_TRUE(Sub(a)->isMinimized());
    EXPECT_FALSE(Sub(a)->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_FALSE(a->isVisible());
    Sub(a)->showNormal();
    sftest::Settle();
    EXPECT_TRUE(Sub(a)->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(a->isVisible());
    EXPECT_EQ(a->geometry(), QRect(4, 3, Sub(a)->width() - 8, Sub(a)->height() - 7));

    // Minimised from maximised: the parent's title bar lets the buttons go.
    Sub(a)->showMaximized();
    sftest::Settle();
    EXPECT_EQ(parentBar->MaximizedChild(), a);
    Click(parentBar, parentBar->ChildButtonRect(TSkinTitleBar::cbMinimize).center());
    sftest::Settle();
    EXPECT_TRUE(Sub(a)->isMinimized());
    EXPECT_EQ(parentBar->MaximizedChild(), nullptr);
    Sub(a)->showNormal();
    sftest::Settle();

    // Closed by the parent's button, a maximised child goes with its buttons.
    p.area->setActiveSubWindow(Sub(b));
    Sub(b)->showMaximized();
    sftest::Settle();
    EXPECT_EQ(parentBar->MaximizedChild(), b.data());
    Click(parentBar, parentBar->ChildButtonRect(TSkinTitleBar::cbClose).center());
    sftest::Settle();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(b.isNull());
    // The area shows the next child maximised in its place, and its buttons take theirs.
    ASSERT_TRUE(Sub(a)->isMaximized());
    EXPECT_EQ(parentBar->MaximizedChild(), a);
    Sub(a)->showNormal();
    sftest::Settle();
    EXPECT_EQ(parentBar->MaximizedChild(), nullptr);
    EXPECT_TRUE(parentBar->ChildButtonRect(TSkinTitleBar::cbClose).isEmpty());

    // Hidden, a maximised child takes its buttons along too.
    TSkinForm *c = p.AddChild(QStringLiteral("C"), QRect(30, 30, 300, 200));
    Sub(c)->setAttribute(Qt::WA_DeleteOnClose, false);
    Sub(c)->showMaximized();
    sftest::Settle();
    EXPECT_EQ(parentBar->MaximizedChild(), c);
    Sub(c)->hide();
    EXPECT_EQ(parentBar->MaximizedChild(), nullptr);
    Sub(c)->show();
    EXPECT_EQ(parentBar->MaximizedChild(), c);
    Sub(c)->showNormal();
    sftest::Settle();

    // A component removed from a living child gives the child the area's own frame back.
    QMdiSubWindow *sub = Sub(a);
    delete a;
    sftest::Settle();
    EXPECT_FALSE(sub->windowFlags() & Qt::FramelessWindowHint);
}

TEST(SkinFormMdi, ChildrenSizeAndMoveInsideTheArea)
{
    MdiParent p;
    TSkinForm *a = p.AddChild(QStringLiteral("A"), QRect(10, 10, 300, 200));
    QMdiSubWindow *sub = Sub(a);
    ASSERT_TRUE(a->Sizeable());
    EXPECT_EQ(a->FrameEdgesAt(QPoint(298, 100)), Qt::RightEdge);
    sftest::DragFrame(sub, QPoint(298, 198), QPoint(50, 40));
    EXPECT_EQ(sub->geometry(), QRect(10, 10, 350, 240));
    EXPECT_EQ(a->geometry(), QRect(4, 3, 342, 233));

    // Dragged by its title bar, the child moves inside the area.
    TSkinTitleBar *bar = a->TitleBar();
    const QPoint grip(100, 10);
    sftest::Mouse(bar, QEvent::MouseButtonPress, grip);
    QMouseEvent move(QEvent::MouseMove, QPointF(grip + QPoint(25, 15)),
                     QPointF(bar->mapToGlobal(grip) + QPoint(25, 15)), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    sftest::Mouse(bar, QEvent::MouseButtonRelease, grip + QPoint(25, 15), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(sub->pos(), QPoint(35, 25));
    EXPECT_EQ(sub->parentWidget(), p.area->viewport());

    // A child that started with a single border keeps a border that does not size.
    TSkinForm *fixed = p.AddChild(QStringLiteral("Fixed"), QRect(100, 100, 200, 150),
                                  [](QMdiSubWindow *S) { S->setFixedSize(200, 150); });
    EXPECT_EQ(fixed->InitialBorderStyle(), TSkinBorderStyle::bsSingle);
    EXPECT_FALSE(fixed->Sizeable());
    EXPECT_EQ(fixed->FrameEdgesAt(QPoint(198, 75)), Qt::Edges());
}

TEST(SkinFormMdi, WithoutASkinnedParentAMaximisedChildKeepsItsTitleBar)
{
    MdiParent p(false);
    TSkinForm *a = p.AddChild(QStringLiteral("A"), QRect(10, 10, 300, 200));
    Sub(a)->showMaximized();
    sftest::Settle();
    EXPECT_TRUE(a->TitleBar()->isVisible());
    EXPECT_EQ(a->TitleBar()->y(), 0);
    EXPECT_EQ(a->geometry(), Sub(a)->rect());
    EXPECT_EQ(a->TitleBar()->Buttons()->Items(1)->PicNormal(), StripFrame(a->UIStyle(), 10)) << "restore frames";
    Click(a->TitleBar(), a->TitleBar()->ButtonRect(1).center());
    sftest::Settle();
    EXPECT_FALSE(Sub(a)->isMaximized());
    EXPECT_EQ(Sub(a)->geometry(), QRect(10, 10, 300, 200));
}

TEST(SkinFormMdi, ChildKeysAndMenus)
{
    MdiParent p;
    TSkinForm *a = p.AddChild(QStringLiteral("A"), QRect(40, 50, 300, 200));

    // A child form's menu shows in no bar of its own.
    QMenu menu;
    menu.addMenu(QStringLiteral("&File"));
    a->SetMenu(&menu);
    EXPECT_EQ(a->MenuBar(), nullptr);
    EXPECT_EQ(a->MenuBarHeight(), 0);
    a->SetMenu(nullptr);

    // Alt+Space on the child opens the child's system menu at the child, not the parent's.
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Space, Qt::AltModifier, QStringLiteral(" "));
    QApplication::sendEvent(Sub(a), &key);
    TSkinTitleBarPopupMenu *childMenu = a->TitleBar()->SystemMenu();
    EXPECT_TRUE(childMenu->isVisible());
    EXPECT_FALSE(p.skin->TitleBar()->SystemMenu()->isVisible());
    EXPECT_EQ(childMenu->pos(), Sub(a)->mapToGlobal(QPoint(0, a->TitleBarHeight())));
    childMenu->hide();
}

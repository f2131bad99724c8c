#include "Helpers.h"

#include "skin/SkinForm.h"

#include <QMouseEvent>

using sftest::DragFrame;

namespace {

struct SizeableForm
{
    std::unique_ptr<QWidget> form;
    TSkinForm *skin = nullptr;

    explicit SizeableForm(std::unique_ptr<QWidget> Form = sftest::MakeForm(400, 300)) : form(std::move(Form))
    {
        skin = new TSkinForm(form.get());
        form->show();
        sftest::Settle();
    }
};

struct EdgeCase
{
    const char *Name;
    QPoint At; // in a 400 x 300 form
    Qt::Edges Edges;
    QPoint Out; // a drag that grows the form
};

const EdgeCase Cases[] = {
    {"left", {1, 150}, Qt::LeftEdge, {-30, 0}},
    {"right", {398, 150}, Qt::RightEdge, {30, 0}},
    {"top", {200, 1}, Qt::TopEdge, {0, -30}},
    {"bottom", {200, 298}, Qt::BottomEdge, {0, 30}},
    {"top-left", {1, 1}, Qt::TopEdge | Qt::LeftEdge, {-30, -20}},
    {"top-right", {398, 1}, Qt::TopEdge | Qt::RightEdge, {30, -20}},
    {"bottom-left", {1, 298}, Qt::BottomEdge | Qt::LeftEdge, {-30, 20}},
    {"bottom-right", {398, 298}, Qt::BottomEdge | Qt::RightEdge, {30, 20}},
    // Corners reach along the edges, so that they can be found with the mouse.
    {"top-left along the side", {2, 12}, Qt::TopEdge | Qt::LeftEdge, {-10, -10}},
    {"bottom-right along the bottom", {388, 297}, Qt::BottomEdge | Qt::RightEdge, {10, 10}},
};

// Where each edge of a geometry should end after a drag by Delta of the given edges.
QRect Expected(const QRect &Start, Qt::Edges Edges, const QPoint &Delta, const QSize &Min)
{
    QRect g = Start;
    if (Edges & Qt::LeftEdge)
        g.setLeft(qMin(Start.left() + Delta.x(), Start.right() + 1 - Min.width()));
    if (Edges & Qt::RightEdge)
        g.setRight(qMax(Start.right() + Delta.x(), Start.left() - 1 + Min.width()));
    if (Edges & Qt::TopEdge)
        g.setTop(qMin(Start.top() + Delta.y(), Start.bottom() + 1 - Min.height()));
    if (Edges & Qt::BottomEdge)
        g.setBottom(qMax(Start.bottom() + Delta.y(), Start.top() - 1 + Min.height()));
    return g;
}

} // namespace

TEST(SkinFormSizing, EveryEdgeAndCornerGrowsAndStopsAtTheMinimum)
{
    SizeableForm f;
    QWidget *form = f.form.get();
    EXPECT_EQ(f.skin->InitialBorderStyle(), TSkinBorderStyle::bsSizeable);
    EXPECT_EQ(f.skin->BorderStyle(), TSkinBorderStyle::bsSizeable);
    ASSERT_TRUE(f.skin->Sizeable());
    const QRect start(50, 60, 400, 300);
    const QSize min = form->minimumSize();
    EXPECT_EQ(min.width(), StyleInteger(TSkinUIStyle::DeepBlue, 13)) << "the title bar's minimum width";
    EXPECT_EQ(min.height(), f.skin->TitleBarHeight() + 3);

    for (const EdgeCase &c : Cases) {
        SCOPED_TRACE(c.Name);
        form->setGeometry(start);
        sftest::Settle();
        EXPECT_EQ(f.skin->FrameEdgesAt(c.At), c.Edges);
        DragFrame(form, c.At, c.Out);
        EXPECT_EQ(form->geometry(), Expected(start, c.Edges, c.Out, min));
        // The component follows: the frame's width of the style stays around it.
        EXPECT_EQ(f.skin->geometry(), QRect(4, 3, form->width() - 8, form->height() - 7));

        // Dragged far inwards, the form stops at its minimum size; the opposite edges stay.
        form->setGeometry(start);
        sftest::Settle();
        const QPoint in(-c.Out.x() * 100, -c.Out.y() * 100);
        DragFrame(form, c.At, in);
        const QRect shrunk = form->geometry();
        EXPECT_EQ(shrunk, Expected(start, c.Edges, in, min));
        if (c.Edges & (Qt::LeftEdge | Qt::RightEdge)) {
            EXPECT_EQ(shrunk.width(), min.width());
        }
        if (c.Edges & (Qt::TopEdge | Qt::BottomEdge)) {
            EXPECT_EQ(shrunk.height(), min.height());
        }
    }

    // The client area, the title bar and a click without a move size nothing.
    form->setGeometry(start);
    sftest::Settle();
    EXPECT_EQ(f.skin->FrameEdgesAt(QPoint(200, 150)), Qt::Edges());
    EXPECT_EQ(f.skin->FrameEdgesAt(QPoint(200, 10)), Qt::Edges()) << "the title bar drags, it does not size";
    EXPECT_EQ(f.skin->FrameEdgesAt(QPoint(400, 150)), Qt::Edges()) << "outside the form";
    DragFrame(form, QPoint(398, 150), QPoint(0, 0));
    EXPECT_EQ(form->geometry(), start);

    // A maximised form has no sizing edges.
    form->showMaximized();
    sftest::Settle();
    EXPECT_EQ(f.skin->FrameEdgesAt(QPoint(1, 150)), Qt::Edges());
    form->showNormal();
    sftest::Settle();
}

TEST(SkinFormSizing, TheWiderFrameOfAStyleAndOfASkinFileIsWhereSizingStarts)
{
    SizeableForm f;
    f.skin->SetUIStyle(TSkinUIStyle::WinXP);
    EXPECT_EQ(f.skin->FrameEdgesAt(QPoint(3, 150)), Qt::LeftEdge);
    EXPECT_EQ(f.skin->FrameEdgesAt(QPoint(4, 150)), Qt::Edges());
    EXPECT_EQ(f.skin->FrameEdgesAt(QPoint(200, 296)), Qt::BottomEdge);
    EXPECT_EQ(f.skin->FrameEdgesAt(QPoint(200, 295)), Qt::Edges());
    // A larger minimum (a menu bar, say) is kept too.
    f.form->setMinimumSize(250, 200);
    DragFrame(f.form.get(), QPoint(398, 298), QPoint(-1000, -1000));
    EXPECT_EQ(f.form->size(), QSize(250, 200));
    // A maximum size bounds the other way.
    f.form->setMaximumSize(500, 350);
    DragFrame(f.form.get(), QPoint(248, 198), QPoint(1000, 1000));
    EXPECT_EQ(f.form->size(), QSize(500, 350));
}

TEST(SkinFormSizing, CursorShowsTheEdgeUnderTheMouse)
{
    SizeableForm f;
    QWidget *form = f.form.get();
    auto hover = [form](const QPoint &At) { sftest::Mouse(form, QEvent::MouseMove, At, Qt::NoButton, Qt::NoButton); };
    EXPECT_TRUE(form->hasMouseTracking());
    hover(QPoint(1, 150));
    EXPECT_EQ(form->cursor().shape(), Qt::SizeHorCursor);
    hover(QPoint(200, 298));
    EXPECT_EQ(form->cursor().shape(), Qt::SizeVerCursor);
    hover(QPoint(398, 298));
    EXPECT_EQ(form->cursor().shape(), Qt::SizeFDiagCursor);
    hover(QPoint(398, 1));
    EXPECT_EQ(form->cursor().shape(), Qt::SizeBDiagCursor);
    // Onto a control of the form: the ordinary cursor again, for it and what it inherits.
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(f.skin->TitleBar(), &enter);
    EXPECT_EQ(form->cursor().shape(), Qt::ArrowCursor);
    hover(QPoint(1, 150));
    EXPECT_EQ(form->cursor().shape(), Qt::SizeHorCursor);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(form, &leave);
    EXPECT_EQ(form->cursor().shape(), Qt::ArrowCursor);

    // A cursor the form had of its own comes back when the mouse leaves the frame.
    form->setCursor(Qt::CrossCursor);
    hover(QPoint(200, 150));
    EXPECT_EQ(form->cursor().shape(), Qt::CrossCursor);
    hover(QPoint(1, 150));
    EXPECT_EQ(form->cursor().shape(), Qt::SizeHorCursor);
    QApplication::sendEvent(form, &leave);
    EXPECT_EQ(form->cursor().shape(), Qt::CrossCursor);
}

TEST(SkinFormSizing, OnlySizeableBordersSize)
{
    struct Row
    {
        const char *Name;
        Qt::WindowType Type;
        bool Fixed;
        TSkinBorderStyle Initial;
        TSkinBorderStyle Kept;
    };
    const Row rows[] = {
        {"sizeable window", Qt::Window, false, TSkinBorderStyle::bsSizeable, TSkinBorderStyle::bsSizeable},
        {"fixed window", Qt::Window, true, TSkinBorderStyle::bsSingle, TSkinBorderStyle::bsDialog},
        {"fixed dialog", Qt::Dialog, true, TSkinBorderStyle::bsDialog, TSkinBorderStyle::bsDialog},
        {"sizeable dialog", Qt::Dialog, false, TSkinBorderStyle::bsSizeable, TSkinBorderStyle::bsSizeable},
        {"fixed tool window", Qt::Tool, true, TSkinBorderStyle::bsToolWindow, TSkinBorderStyle::bsDialog},
        {"sizeable tool window", Qt::Tool, false, TSkinBorderStyle::bsSizeToolWin, TSkinBorderStyle::bsSizeToolWin},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.Name);
        auto form = std::make_unique<QWidget>(nullptr, r.Type);
        form->setGeometry(50, 60, 400, 300);
        if (r.Fixed)
            form->setFixedSize(400, 300);
        SizeableForm f(std::move(form));
        EXPECT_EQ(f.skin->InitialBorderStyle(), r.Initial);
        EXPECT_EQ(f.skin->BorderStyle(), r.Kept);
        const bool sizeable = r.Kept == TSkinBorderStyle::bsSizeable || r.Kept == TSkinBorderStyle::bsSizeToolWin;
        EXPECT_EQ(f.skin->Sizeable(), sizeable);
        EXPECT_EQ(bool(f.skin->FrameEdgesAt(QPoint(398, 150))), sizeable);
        DragFrame(f.form.get(), QPoint(398, 150), QPoint(40, 0));
        EXPECT_EQ(f.form->width(), sizeable ? 440 : 400);
    }

    // A window that had no frame at all gets the dialog frame: it does not size.
    auto bare = sftest::MakeForm();
    bare->setWindowFlag(Qt::FramelessWindowHint);
    SizeableForm f(std::move(bare));
    EXPECT_EQ(f.skin->InitialBorderStyle(), TSkinBorderStyle::bsNone);
    EXPECT_EQ(f.skin->BorderStyle(), TSkinBorderStyle::bsDialog);
    EXPECT_FALSE(f.skin->Sizeable());
}

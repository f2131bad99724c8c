#include "ui/PageSwitcher.h"

#include <gtest/gtest.h>

#include <QWidget>

#include <memory>
#include <vector>

namespace {

struct Pages
{
    QWidget host;
    std::vector<QWidget *> buttons, panels;
    TTabPanel tabs;

    explicit Pages(int n)
    {
        for (int i = 0; i < n; ++i) {
            buttons.push_back(new QWidget(&host));
            panels.push_back(new QWidget(&host));
            tabs.Add(buttons.back(), panels.back(), QString(), false);
        }
        host.show();
    }
    int VisibleCount() const
    {
        int n = 0;
        for (QWidget *p : panels)
            n += p->isVisible() ? 1 : 0;
        return n;
    }
};

int g_calls = 0;
void *g_param = nullptr;
void Count(TTabPanel *, void *Param)
{
    ++g_calls;
    g_param = Param;
}

} // namespace

TEST(TabPanel, NoTabIsCurrentBeforeTheFirstSelection)
{
    Pages p(3);
    EXPECT_EQ(p.tabs.CurrentIndex(), -1);
    EXPECT_EQ(p.tabs.PreviousIndex(), -1);
    EXPECT_EQ(p.tabs.CurrentTab(), nullptr);
    EXPECT_EQ(p.tabs.PreviousTab(), nullptr);
}

TEST(TabPanel, SelectingAnIndexShowsExactlyOnePage)
{
    Pages p(4);
    g_calls = 0;
    int marker = 0;
    p.tabs.SelectIndex(2, Count, &marker);
    EXPECT_EQ(g_calls, 1);
    EXPECT_EQ(g_param, &marker);
    EXPECT_EQ(p.VisibleCount(), 1);
    EXPECT_TRUE(p.panels[2]->isVisible());
    EXPECT_EQ(p.tabs.CurrentIndex(), 2);
    EXPECT_EQ(p.tabs.CurrentTab()->Panel, p.panels[2]);
    p.tabs.SelectIndex(0, Count, nullptr);
    EXPECT_EQ(p.tabs.CurrentIndex(), 0);
    EXPECT_EQ(p.tabs.PreviousIndex(), 2);
    EXPECT_TRUE(p.tabs.Item(2)->WasActive);
    EXPECT_FALSE(p.tabs.Item(2)->Active);
}

TEST(TabPanel, IndexAtOrAboveTheCountChangesNothing)
{
    Pages p(3);
    p.tabs.SelectIndex(1, nullptr, nullptr);
    g_calls = 0;
    p.tabs.SelectIndex(3, Count, nullptr);
    p.tabs.SelectIndex(100, Count, nullptr);
    EXPECT_EQ(g_calls, 0);
    EXPECT_EQ(p.tabs.CurrentIndex(), 1);
    EXPECT_EQ(p.tabs.PreviousIndex(), -1);
    EXPECT_TRUE(p.panels[1]->isVisible());
}

TEST(TabPanel, NegativeIndexHidesEveryPageAndStillCallsBack)
{
    Pages p(3);
    p.tabs.SelectIndex(1, nullptr, nullptr);
    g_calls = 0;
    p.tabs.SelectIndex(-1, Count, nullptr);
    EXPECT_EQ(g_calls, 1);
    EXPECT_EQ(p.VisibleCount(), 0);
    EXPECT_EQ(p.tabs.CurrentIndex(), 1); // kept
    EXPECT_EQ(p.tabs.PreviousIndex(), 1);
}

TEST(TabPanel, SelectingTheCurrentTabAgainMakesItItsOwnPrevious)
{
    Pages p(3);
    p.tabs.SelectIndex(2, nullptr, nullptr);
    p.tabs.SelectIndex(2, nullptr, nullptr);
    EXPECT_TRUE(p.panels[2]->isVisible());
    EXPECT_EQ(p.tabs.CurrentIndex(), 2);
    EXPECT_EQ(p.tabs.PreviousIndex(), 2);
}

TEST(TabPanel, SelectButtonAndForeignButton)
{
    Pages p(3);
    g_calls = 0;
    p.tabs.SelectButton(p.buttons[1], Count, nullptr);
    EXPECT_EQ(p.tabs.CurrentIndex(), 1);
    EXPECT_TRUE(p.panels[1]->isVisible());
    QWidget stranger;
    p.tabs.SelectButton(&stranger, Count, nullptr);
    EXPECT_EQ(g_calls, 2);
    EXPECT_EQ(p.VisibleCount(), 0);
    EXPECT_EQ(p.tabs.CurrentIndex(), 1);
    EXPECT_EQ(p.tabs.PreviousIndex(), 1);
    TTabPanel empty;
    g_calls = 0;
    empty.SelectButton(p.buttons[0], Count, nullptr);
    empty.SelectIndex(0, Count, nullptr);
    EXPECT_EQ(g_calls, 0);
}

TEST(TabPanel, AddWithAMissingControlAddsNothingAndIndexesStayDense)
{
    QWidget host;
    auto *b0 = new QWidget(&host), *p0 = new QWidget(&host), *b1 = new QWidget(&host), *p1 = new QWidget(&host);
    TTabPanel tabs;
    tabs.Add(b0, p0, QStringLiteral("a"), false);
    tabs.Add(nullptr, p1, QStringLiteral("x"), true);
    tabs.Add(b1, nullptr, QStringLiteral("y"), true);
    tabs.Add(b1, p1, QStringLiteral("b"), true); // active: selected at once
    ASSERT_EQ(tabs.Count(), 2);
    EXPECT_EQ(tabs.Item(0)->Index, 0);
    EXPECT_EQ(tabs.Item(1)->Index, 1);
    EXPECT_EQ(tabs.Item(1)->Caption, QStringLiteral("b"));
    EXPECT_EQ(tabs.CurrentIndex(), 1);
}

TEST(ResizeFrame, RingIsTheRectangleMinusItsInsetInterior)
{
    const QRect r(10, 20, 100, 50);
    const QRegion ring = ResizeFrameRing(r, 4);
    EXPECT_TRUE(ring.contains(QPoint(10, 20)));
    EXPECT_TRUE(ring.contains(QPoint(13, 40)));
    EXPECT_FALSE(ring.contains(QPoint(14, 40)));
    EXPECT_TRUE(ring.contains(QPoint(109, 69)));
    EXPECT_FALSE(ring.contains(QPoint(60, 45)));
    EXPECT_FALSE(ring.contains(QPoint(110, 40)));
    // Area: 100*50 - 92*42.
    int area = 0;
    for (const QRect &part : ring)
        area += part.width() * part.height();
    EXPECT_EQ(area, 100 * 50 - 92 * 42);
}

TEST(ResizeFrame, StepsChangeOnlyTheDifference)
{
    const QRect a(0, 0, 100, 80), b(0, 0, 120, 80);
    EXPECT_EQ(ResizeFrameChange(QRect(), a, 0, 4), ResizeFrameRing(a, 4));
    // Moving to the same rectangle changes nothing.
    EXPECT_TRUE(ResizeFrameChange(a, a, 1, 4).isEmpty());
    // Erasing removes exactly the last ring.
    EXPECT_EQ(ResizeFrameChange(a, b, 2, 4), ResizeFrameRing(a, 4));
    // A move leaves the shared left edge alone and changes both right edges.
    const QRegion moved = ResizeFrameChange(a, b, 1, 4);
    EXPECT_FALSE(moved.contains(QPoint(1, 40)));
    EXPECT_TRUE(moved.contains(QPoint(98, 40)));
    EXPECT_TRUE(moved.contains(QPoint(118, 40)));
    // Drawing the same ring twice restores the screen.
    EXPECT_TRUE(ResizeFrameRing(a, 4).xored(ResizeFrameRing(a, 4)).isEmpty());
}

TEST(ResizeFrame, FrameWindowFollowsTheStepsAndGoesOnErase)
{
    DrawResizeFrame(QRect(30, 30, 200, 150), 0, 4);
    ASSERT_NE(ResizeFrameWindow(), nullptr);
    EXPECT_EQ(ResizeFrameWindow()->geometry(), QRect(30, 30, 200, 150));
    EXPECT_FALSE(ResizeFrameWindow()->mask().contains(QPoint(100, 75)));
    EXPECT_TRUE(ResizeFrameWindow()->mask().contains(QPoint(1, 1)));
    DrawResizeFrame(QRect(30, 30, 260, 170), 1, 4);
    EXPECT_EQ(ResizeFrameWindow()->geometry(), QRect(30, 30, 260, 170));
    EXPECT_EQ(ResizeFrameLastRect(), QRect(30, 30, 260, 170));
    DrawResizeFrame(QRect(), 2, 4);
    EXPECT_EQ(ResizeFrameWindow(), nullptr);
}

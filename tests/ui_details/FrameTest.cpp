#include "common/UserDirs.h"
#include "platform/processes/ProcessSource.h"
#include "ui/frmMain.h"
#include "ui/frmMainAutoruns.h"
#include "ui/frmMainDetails.h"
#include "ui/frmMainNetwork.h"
#include "ui/frmMainProcess.h"
#include "ui/frmMainServices.h"
#include "ui/frmMainSystem.h"
#include "ui/frmMainUpdate.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTextEdit>
#include <QTimer>

#include <memory>

namespace {

class NoProcesses : public platform::processes::ProcessSource
{
public:
    bool EnumeratePrimary(std::vector<platform::processes::ProcessEntry> &) override { return true; }
    bool EnumerateFallback(std::vector<platform::processes::ProcessEntry> &) override { return true; }
};

const char *const kPieces[8] = {"imgDetailsBorder_TopLeft",  "imgDetailsBorder_Top",
                                "imgDetailsBorder_TopRight", "imgDetailsBorder_Left",
                                "imgDetailsBorder_Right",    "imgDetailsBorder_BottomLeft",
                                "imgDetailsBorder_Bottom",   "imgDetailsBorder_BottomRight"};

class DetailsFrame : public ::testing::Test
{
protected:
    void SetUp() override
    {
        form = std::make_unique<TFormMain>(nullptr, &processes);
        form->tmrProcess->stop();
        form->tmrTraffic->stop();
        form->tmrSystem->stop();
        form->show();
        form->Details->btnNailUpClick(form->Details->btnNailUp); // shows the panel
        QApplication::processEvents();
        panel = form->Details->pnlDetails;
    }

    TImage *Piece(int I) const
    {
        return panel->findChild<TImage *>(QLatin1String(kPieces[I]), Qt::FindDirectChildrenOnly);
    }

    // Every piece lies on the panel's edge, the pieces meet without gap or overlap, and together
    // they cover exactly the outer ring of the panel.
    void ExpectSurrounds() const
    {
        const int w = panel->width(), h = panel->height();
        QRect g[8];
        for (int i = 0; i < 8; ++i) {
            ASSERT_NE(Piece(i), nullptr) << kPieces[i];
            g[i] = Piece(i)->geometry();
            EXPECT_FALSE(g[i].isEmpty()) << kPieces[i];
        }
        const QRect &tl = g[0], &t = g[1], &tr = g[2], &l = g[3], &r = g[4], &bl = g[5], &b = g[6], &br = g[7];
        EXPECT_EQ(tl.topLeft(), QPoint(0, 0));
        EXPECT_EQ(tr.right(), w - 1);
        EXPECT_EQ(tr.top(), 0);
        EXPECT_EQ(bl.left(), 0);
        EXPECT_EQ(bl.bottom(), h - 1);
        EXPECT_EQ(br.bottomRight(), QPoint(w - 1, h - 1));
        // The top band, the sides and the bottom band each run unbroken.
        EXPECT_EQ(t.left(), tl.right() + 1);
        EXPECT_EQ(tr.left(), t.right() + 1);
        EXPECT_EQ(b.left(), bl.right() + 1);
        EXPECT_EQ(br.left(), b.right() + 1);
        EXPECT_EQ(l.left(), 0);
        EXPECT_EQ(r.right(), w - 1);
        EXPECT_EQ(l.top(), tl.bottom() + 1);
        EXPECT_EQ(bl.top(), l.bottom() + 1);
        EXPECT_EQ(r.top(), tr.bottom() + 1);
        EXPECT_EQ(br.top(), r.bottom() + 1);
        for (const QRect &band : {tl, t, tr})
            EXPECT_EQ(band.height(), tl.height());
        for (const QRect &band : {bl, b, br})
            EXPECT_EQ(band.height(), b.height());
        // The panel's contents lie inside the frame.
        const QRect inner(l.right() + 1, tl.bottom() + 1, r.left() - l.right() - 1, b.top() - tl.bottom() - 1);
        EXPECT_TRUE(inner.contains(form->Details->redtDetails->geometry()))
            << "text area inside the frame, panel " << w << "x" << h;
        const QRect band(tl.right() + 1, 0, tr.left() - tl.right() - 1, tl.height());
        for (QWidget *c : {static_cast<QWidget *>(form->Details->lblDetailsTitle),
                           static_cast<QWidget *>(form->Details->btnRefreshDetails),
                           static_cast<QWidget *>(form->Details->btnNailDown),
                           static_cast<QWidget *>(form->Details->btnDetailsClose)})
            EXPECT_TRUE(band.contains(c->geometry())) << c->objectName().toStdString() << " in the title band";
    }

    NoProcesses processes;
    // The user's data directory of the objects the form makes: the test's own.
    tvtest::OwnHome userHome;
    std::unique_ptr<TFormMain> form;
    QWidget *panel = nullptr;
};

} // namespace

TEST_F(DetailsFrame, PiecesByNameWithTheirPicturesSurroundThePanel)
{
    TImage *members[8] = {form->Details->imgDetailsBorder_TopLeft,  form->Details->imgDetailsBorder_Top,
                          form->Details->imgDetailsBorder_TopRight, form->Details->imgDetailsBorder_Left,
                          form->Details->imgDetailsBorder_Right,    form->Details->imgDetailsBorder_BottomLeft,
                          form->Details->imgDetailsBorder_Bottom,   form->Details->imgDetailsBorder_BottomRight};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(Piece(i), members[i]) << kPieces[i];
        ASSERT_NE(members[i], nullptr) << kPieces[i];
        EXPECT_FALSE(members[i]->Picture().isNull()) << kPieces[i] << " has its picture";
        EXPECT_TRUE(members[i]->isVisible()) << kPieces[i];
    }
    ExpectSurrounds();
}

TEST_F(DetailsFrame, FrameFollowsThePanelWhenTheWindowChangesSize)
{
    form->resize(form->width() + 150, form->height() + 90);
    QApplication::processEvents();
    EXPECT_EQ(panel->width(), 300);
    ExpectSurrounds();
    form->resize(620, 450);
    QApplication::processEvents();
    ExpectSurrounds();
}

TEST_F(DetailsFrame, PaintedEdgeIsTheFramesAndNotCoveredByTheContents)
{
    // The panel's edge shows the frame pictures' own pixels: nothing of the contents is laid
    // over them and the panel draws no frame of its own there.
    const QImage shot = panel->grab().toImage();
    ASSERT_FALSE(shot.isNull());
    const int w = shot.width(), h = shot.height();
    const QImage left = form->Details->imgDetailsBorder_Left->Picture().toImage();
    const QImage right = form->Details->imgDetailsBorder_Right->Picture().toImage();
    const QImage bottom = form->Details->imgDetailsBorder_Bottom->Picture().toImage();
    const QImage top = form->Details->imgDetailsBorder_Top->Picture().toImage();
    for (int y : {h / 3, h / 2, h - 20}) {
        for (int x = 0; x < left.width(); ++x)
            EXPECT_EQ(shot.pixelColor(x, y), left.pixelColor(x, 0)) << "left edge at " << x << "," << y;
        for (int x = 0; x < right.width(); ++x)
            EXPECT_EQ(shot.pixelColor(w - right.width() + x, y), right.pixelColor(x, 0))
                << "right edge at " << x << "," << y;
    }
    for (int x : {w / 4, w / 2}) {
        for (int y = 0; y < bottom.height(); ++y)
            EXPECT_EQ(shot.pixelColor(x, h - bottom.height() + y), bottom.pixelColor(0, y))
                << "bottom edge at " << x << "," << y;
        // The outer line and the line under the band, where no title text lies.
        EXPECT_EQ(shot.pixelColor(x, 0), top.pixelColor(0, 0));
        EXPECT_EQ(shot.pixelColor(x, top.height() - 1), top.pixelColor(0, top.height() - 1));
    }
}

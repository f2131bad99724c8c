#include "ui/PicButton.h"
#include "ui/QMUtils.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

namespace {

// Exposes the state picture choice of the button.
class ProbeButton : public TPicButton
{
public:
    using TPicButton::TPicButton;
    QPixmap State()
    {
        QPixmap p;
        return GetStatePicture(p) ? p : QPixmap();
    }
};

QPixmap Solid(const QColor &c, int w = 8, int h = 6)
{
    QPixmap p(w, h);
    p.fill(c);
    return p;
}

QRgb Pixel(const QPixmap &p, int x = 0, int y = 0)
{
    return p.toImage().pixel(x, y);
}

void Mouse(QWidget *w, QEvent::Type type, const QPoint &at, Qt::MouseButton b = Qt::LeftButton)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(b);
    QMouseEvent e(type, QPointF(at), QPointF(w->mapToGlobal(at)), b, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void Enter(QWidget *w)
{
    QEnterEvent e(QPointF(1, 1), QPointF(1, 1), QPointF(w->mapToGlobal(QPoint(1, 1))));
    QApplication::sendEvent(w, &e);
}

void Leave(QWidget *w)
{
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(w, &e);
}

void Wait(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

TEST(Alignment, PicturePlacesEveryAlignmentOfTheTable)
{
    const int W = 40, H = 30, w = 11, h = 7;
    struct Row
    {
        TAlignment a;
        int x, y;
    };
    const Row rows[] = {
        {alTopLeft, 0, 0},        {alTopCenter, 14, 0},    {alTopRight, 29, 0},   {alMiddleLeft, 0, 11},
        {alMiddleCenter, 14, 11}, {alMiddleRight, 29, 11}, {alBottomLeft, 0, 23}, {alBottomCenter, 14, 23},
        {alBottomRight, 29, 23},  {alCenter, 14, 11},      {alLeft, 0, 11},       {alRight, 29, 11},
        {alCustom, 5, 9},
    };
    for (const Row &r : rows)
        EXPECT_EQ(AlignedPicturePos(r.a, W, H, w, h, 5, 9), QPoint(r.x, r.y)) << int(r.a);
}

TEST(Alignment, HalvesTruncateTowardZeroForOversizedPictures)
{
    // A picture wider than the button: (10 - 15) / 2 is -2, not -3.
    EXPECT_EQ(AlignedPicturePos(alCenter, 10, 10, 15, 13, 0, 0), QPoint(-2, -1));
}

// Qt's vertical mask shares a bit with the single-line flag; compare the placement bits only.
constexpr int kHorizontal = Qt::AlignLeft | Qt::AlignRight | Qt::AlignHCenter;
constexpr int kVertical = Qt::AlignTop | Qt::AlignBottom | Qt::AlignVCenter;
constexpr int kPlace = kHorizontal | kVertical;

TEST(Alignment, TextFlagsFollowTheTableAndMultiLinesStayOnTop)
{
    EXPECT_EQ(AlignedTextFlags(alTopLeft, false) & kPlace, int(Qt::AlignLeft | Qt::AlignTop));
    EXPECT_EQ(AlignedTextFlags(alCenter, false) & kHorizontal, int(Qt::AlignHCenter));
    EXPECT_EQ(AlignedTextFlags(alCenter, false) & kVertical, int(Qt::AlignVCenter));
    EXPECT_EQ(AlignedTextFlags(alBottomRight, false) & kPlace, int(Qt::AlignRight | Qt::AlignBottom));
    EXPECT_EQ(AlignedTextFlags(alCustom, false) & kPlace, int(Qt::AlignLeft | Qt::AlignTop));
    EXPECT_TRUE(AlignedTextFlags(alLeft, false) & Qt::TextSingleLine);
    const int multi = AlignedTextFlags(alMiddleRight, true);
    EXPECT_TRUE(multi & Qt::TextWordWrap);
    EXPECT_EQ(multi & kVertical, int(Qt::AlignTop));
    EXPECT_EQ(multi & kHorizontal, int(Qt::AlignRight));
}

TEST(PicButton, OnlyNormalPictureShowsInEveryState)
{
    ProbeButton b;
    b.resize(20, 20);
    b.SetPicNormal(Solid(Qt::red));
    EXPECT_EQ(Pixel(b.State()), QColor(Qt::red).rgb());
    Enter(&b);
    EXPECT_TRUE(b.IsHover());
    EXPECT_EQ(Pixel(b.State()), QColor(Qt::red).rgb());
    Mouse(&b, QEvent::MouseButtonPress, QPoint(2, 2));
    EXPECT_TRUE(b.IsDown());
    EXPECT_EQ(Pixel(b.State()), QColor(Qt::red).rgb());
    Mouse(&b, QEvent::MouseButtonRelease, QPoint(2, 2));
    b.setEnabled(false);
    EXPECT_EQ(Pixel(b.State()), QColor(Qt::red).rgb());
}

TEST(PicButton, EachStateTakesItsOwnPicture)
{
    ProbeButton b;
    b.resize(20, 20);
    EXPECT_TRUE(b.State().isNull()); // no picture at all
    b.SetPicNormal(Solid(Qt::red));
    b.SetPicMouseHover(Solid(Qt::green));
    b.SetPicMouseDown(Solid(Qt::blue));
    b.SetPicDisabled(Solid(Qt::gray));
    EXPECT_EQ(Pixel(b.State()), QColor(Qt::red).rgb());
    Enter(&b);
    EXPECT_EQ(Pixel(b.State()), QColor(Qt::green).rgb());
    Mouse(&b, QEvent::MouseButtonPress, QPoint(2, 2));
    EXPECT_FALSE(b.IsHover());
    EXPECT_EQ(Pixel(b.State()), QColor(Qt::blue).rgb());
    // Leaving while pressed changes nothing.
    Leave(&b);
    EXPECT_TRUE(b.IsDown());
    Mouse(&b, QEvent::MouseButtonRelease, QPoint(2, 2));
    EXPECT_FALSE(b.IsDown());
    EXPECT_TRUE(b.IsHover());
    b.setEnabled(false);
    EXPECT_EQ(Pixel(b.State()), QColor(Qt::gray).rgb());
}

TEST(PicButton, TransparencyKeyMasksThePictureOnce)
{
    ProbeButton b;
    b.resize(8, 6);
    QPixmap pic = Solid(QColor(0xFF, 0x00, 0xFF));
    {
        QPainter p(&pic);
        p.fillRect(0, 0, 2, 2, Qt::blue);
    }
    b.SetEnableTransparentColor(true);
    b.SetPicNormal(pic);
    const QImage keyed = b.State().toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(qAlpha(keyed.pixel(0, 0)), 255);
    EXPECT_EQ(qAlpha(keyed.pixel(5, 5)), 0);
    // A painted button shows the colour under the keyed pixels.
    b.SetColor(Qt::yellow);
    const QImage shot = b.grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(5, 5)), QColor(Qt::yellow));
    EXPECT_EQ(QColor(shot.pixel(0, 0)), QColor(Qt::blue));
    b.SetEnableTransparentColor(false);
    EXPECT_EQ(qAlpha(b.State().toImage().convertToFormat(QImage::Format_ARGB32).pixel(5, 5)), 255);
}

TEST(CustomButton, ClickOnlyOnReleaseInside)
{
    TCustomButton b;
    b.resize(30, 20);
    int clicks = 0;
    b.OnClick = [&](QObject *s) {
        EXPECT_EQ(s, &b);
        ++clicks;
    };
    Mouse(&b, QEvent::MouseButtonPress, QPoint(5, 5));
    Mouse(&b, QEvent::MouseButtonRelease, QPoint(5, 5));
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(b.IsHover());
    Mouse(&b, QEvent::MouseButtonPress, QPoint(5, 5));
    Mouse(&b, QEvent::MouseButtonRelease, QPoint(50, 50));
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(b.IsDown());
    EXPECT_FALSE(b.IsHover());
    // Other buttons do not press it.
    Mouse(&b, QEvent::MouseButtonPress, QPoint(5, 5), Qt::RightButton);
    EXPECT_FALSE(b.IsDown());
}

TEST(CustomButton, HoldingRepeatsEveryIntervalUntilReleased)
{
    TCustomButton b;
    b.resize(30, 20);
    EXPECT_EQ(b.RepeatInterval(), 100);
    int repeats = 0, clicks = 0;
    b.OnMouseContinuouslyDown = [&](QObject *) { ++repeats; };
    b.OnClick = [&](QObject *) { ++clicks; };
    Mouse(&b, QEvent::MouseButtonPress, QPoint(5, 5));
    EXPECT_TRUE(b.IsRepeating());
    Wait(450);
    EXPECT_GE(repeats, 3);
    EXPECT_LE(repeats, 5);
    Mouse(&b, QEvent::MouseButtonRelease, QPoint(-5, -5));
    EXPECT_FALSE(b.IsRepeating());
    const int after = repeats;
    Wait(250);
    EXPECT_EQ(repeats, after);
    EXPECT_EQ(clicks, 0);
}

TEST(CustomButton, NegativeRepeatIntervalBecomesZero)
{
    TCustomButton b;
    int repeats = 0;
    b.SetRepeatInterval(-50);
    b.OnMouseContinuouslyDown = [&](QObject *) { ++repeats; };
    b.resize(10, 10);
    Mouse(&b, QEvent::MouseButtonPress, QPoint(2, 2));
    Wait(30);
    EXPECT_GT(repeats, 0);
    Mouse(&b, QEvent::MouseButtonRelease, QPoint(2, 2));
}

TEST(CustomButton, KeysPressAndClickWhenFocused)
{
    QWidget form;
    auto *b = new TCustomButton(&form);
    b->resize(30, 20);
    b->SetTabStop(true);
    form.show();
    QApplication::setActiveWindow(&form);
    b->setFocus();
    int clicks = 0;
    b->OnClick = [&](QObject *) { ++clicks; };
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(b, &down);
    if (!b->hasFocus())
        GTEST_SKIP() << "no keyboard focus on this platform";
    EXPECT_TRUE(b->IsDown());
    QKeyEvent up(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(b, &up);
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(b->IsDown());
}

TEST(CustomButton, CancelButtonTakesEscapeFromItsForm)
{
    QWidget form;
    auto *b = new TCustomButton(&form);
    auto *other = new QWidget(&form);
    other->setFocusPolicy(Qt::StrongFocus);
    int clicks = 0;
    b->OnClick = [&](QObject *) { ++clicks; };
    b->SetCancel(true);
    b->SetDefault(true);
    form.show();
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&form, &esc);
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(b->IsActiveDefault());
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    EXPECT_EQ(clicks, 2);
    // A disabled button takes no dialog key.
    b->setEnabled(false);
    QApplication::sendEvent(&form, &esc);
    EXPECT_EQ(clicks, 2);
}

TEST(CustomButton, DisabledCaptionUsesStateFontOnlyWhenEnabled)
{
    // The caption of a disabled button is drawn in the disabled colour only with state fonts on.
    TCustomButton b;
    b.resize(60, 30);
    b.SetColor(Qt::white);
    QFont big = b.font();
    big.setPixelSize(24);
    big.setBold(true);
    b.SetFont(big);
    b.SetFontDisabled(big);
    b.SetFontColor(Qt::black);
    b.SetFontDisabledColor(Qt::red);
    b.SetCaption(QStringLiteral("MMMM"));
    b.setEnabled(false);
    auto hasRed = [&] {
        const QImage img = b.grab().toImage();
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QColor c = img.pixelColor(x, y);
                if (c.red() > 200 && c.green() < 80 && c.blue() < 80)
                    return true;
            }
        return false;
    };
    EXPECT_FALSE(hasRed());
    b.SetEnableStatesFont(true);
    EXPECT_TRUE(hasRed());
}

TEST(CustomButton, BlankCaptionAndNoPicturePaintOnlyTheBackground)
{
    TCustomButton b;
    b.resize(20, 12);
    b.SetColor(QColor(0x12, 0x34, 0x56));
    b.SetCaption(QStringLiteral("   "));
    const QImage img = b.grab().toImage();
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            ASSERT_EQ(img.pixelColor(x, y), QColor(0x12, 0x34, 0x56)) << x << "," << y;
    b.SetDrawBorder(true);
    EXPECT_EQ(b.grab().toImage().pixelColor(0, 0), QColor(Qt::black));
}

TEST(PicButton, StretchedTopRightPictureFillsTheRightStrip)
{
    TPicButton b;
    b.resize(40, 20);
    b.SetColor(Qt::white);
    b.SetPicNormal(Solid(Qt::blue, 10, 5));
    b.SetPictureAlign(alTopRight);
    b.SetStretch(true);
    const QImage img = b.grab().toImage();
    EXPECT_EQ(img.pixelColor(35, 15), QColor(Qt::blue));
    EXPECT_EQ(img.pixelColor(29, 15), QColor(Qt::white));
    EXPECT_EQ(img.pixelColor(31, 0), QColor(Qt::blue));
}

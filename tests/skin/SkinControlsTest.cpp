#include "skin/SkinButton.h"
#include "skin/SkinGroupBox.h"
#include "skin/SkinImagePanel.h"
#include "skin/SkinProgressBar.h"
#include "skin/SkinPublic.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {

QImage Shot(QWidget &W)
{
    return W.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QRgb Rgb(const QColor &C)
{
    return C.rgb() | 0xFF000000;
}

// A parent that paints itself one flat colour.
class ColouredParent : public QWidget
{
public:
    explicit ColouredParent(QColor C) : Colour(C) { resize(200, 120); }
    QColor Colour;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), Colour);
    }
};

// Pixels clearly of the red caption colour (the text is antialiased).
int CountReddish(const QImage &Img)
{
    int n = 0;
    for (int y = 0; y < Img.height(); ++y)
        for (int x = 0; x < Img.width(); ++x) {
            const QRgb c = Img.pixel(x, y);
            n += (qRed(c) > 150 && qGreen(c) < 110 && qBlue(c) < 110) ? 1 : 0;
        }
    return n;
}

int CountPixels(const QImage &Img, const QRect &Area, QRgb Colour)
{
    int n = 0;
    for (int y = Area.top(); y <= Area.bottom(); ++y)
        for (int x = Area.left(); x <= Area.right(); ++x)
            n += (Img.pixel(x, y) == (Colour | 0xFF000000)) ? 1 : 0;
    return n;
}

void Click(QWidget &W, QEvent::Type Type = QEvent::MouseButtonPress)
{
    const QPointF at(3, 3);
    QMouseEvent press(Type, at, W.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&W, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, W.mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(&W, &release);
}

} // namespace

TEST(SkinPanel, ColourPictureAndTransparency)
{
    ColouredParent parent(QColor(10, 200, 30));
    auto *panel = new TSkinImagePanel(&parent);
    panel->setGeometry(20, 10, 40, 30);
    panel->SetColor(QColor(0, 0, 255));
    QImage img = Shot(*panel);
    EXPECT_EQ(img.pixel(20, 15), qRgb(0, 0, 255));

    // A transparent panel without a picture shows its parent and its caption only.
    panel->SetTransparent(true);
    panel->SetCaption(QStringLiteral("WWW"));
    img = Shot(*panel);
    EXPECT_EQ(img.pixel(1, 1), qRgb(10, 200, 30));
    EXPECT_EQ(img.pixel(38, 28), qRgb(10, 200, 30));
    const int text = img.width() * img.height() - CountPixels(img, img.rect(), qRgb(10, 200, 30));
    EXPECT_GT(text, 5);

    // Picture placements.
    panel->SetTransparent(false);
    panel->SetCaption(QString());
    QImage pic(10, 10, QImage::Format_RGB32);
    pic.fill(qRgb(250, 0, 0));
    pic.setPixel(9, 9, qRgb(0, 0, 0));
    panel->SetPicture(pic);
    img = Shot(*panel);
    EXPECT_EQ(img.pixel(5, 5), qRgb(250, 0, 0));
    EXPECT_EQ(img.pixel(15, 15), qRgb(0, 0, 255)); // plain: the panel's colour around the picture
    panel->SetDrawStyle(TSkinDrawStyle::skinTile);
    img = Shot(*panel);
    EXPECT_EQ(img.pixel(19, 19), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(29, 29), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(15, 25), qRgb(250, 0, 0));
    panel->SetDrawStyle(TSkinDrawStyle::skinStretch);
    img = Shot(*panel);
    EXPECT_EQ(img.pixel(30, 5), qRgb(250, 0, 0));
    EXPECT_EQ(img.pixel(39, 29), qRgb(0, 0, 0));
}

TEST(SkinPanel, PictureTransparencyFollowsTransparent)
{
    ColouredParent parent(QColor(10, 200, 30));
    auto *panel = new TSkinImagePanel(&parent);
    panel->setGeometry(20, 10, 40, 30);
    panel->SetColor(QColor(0, 0, 255));

    // An opaque picture: its see-through colour is that of its bottom-left pixel.
    const QRgb key = qRgb(255, 0, 255);
    QImage pic(20, 20, QImage::Format_RGB32);
    pic.fill(qRgb(250, 0, 0));
    for (int x = 0; x < 20; ++x)
        pic.setPixel(x, 19, key);
    pic.setPixel(5, 5, key);
    panel->SetPicture(pic);
    QImage img = Shot(*panel);
    EXPECT_EQ(img.pixel(5, 5), key) << "not transparent: every pixel drawn";
    EXPECT_EQ(img.pixel(3, 19), key);
    EXPECT_EQ(img.pixel(30, 25), qRgb(0, 0, 255));

    panel->SetTransparent(true);
    img = Shot(*panel);
    EXPECT_EQ(img.pixel(5, 5), qRgb(10, 200, 30)) << "transparent: the parent shows through";
    EXPECT_EQ(img.pixel(3, 19), qRgb(10, 200, 30));
    EXPECT_EQ(img.pixel(6, 6), qRgb(250, 0, 0));
    EXPECT_EQ(img.pixel(30, 25), qRgb(10, 200, 30));
    EXPECT_EQ(panel->Picture(), pic) << "the picture itself is kept whole";

    // A picture assigned while transparent is drawn so at once; stretched and tiled too.
    QImage other = pic;
    other.setPixel(7, 7, key);
    panel->SetPicture(other);
    img = Shot(*panel);
    EXPECT_EQ(img.pixel(7, 7), qRgb(10, 200, 30));
    panel->SetDrawStyle(TSkinDrawStyle::skinTile);
    img = Shot(*panel);
    EXPECT_EQ(img.pixel(25, 25), qRgb(10, 200, 30));
    EXPECT_EQ(img.pixel(26, 26), qRgb(250, 0, 0));
    panel->SetDrawStyle(TSkinDrawStyle::skinNormal);

    panel->SetTransparent(false);
    img = Shot(*panel);
    EXPECT_EQ(img.pixel(7, 7), key);
    EXPECT_EQ(img.pixel(30, 25), qRgb(0, 0, 255));

    // A picture with an alpha channel keeps its own: its clear pixels show the panel's colour,
    // or the parent when transparent; its opaque pixels are never taken as see-through.
    QImage alpha(20, 20, QImage::Format_ARGB32);
    alpha.fill(qRgba(0, 0, 0, 0));
    alpha.setPixel(0, 19, qRgba(250, 0, 0, 255));
    alpha.setPixel(10, 10, qRgba(250, 0, 0, 255));
    panel->SetPicture(alpha);
    img = Shot(*panel);
    EXPECT_EQ(img.pixel(5, 5), qRgb(0, 0, 255));
    EXPECT_EQ(img.pixel(10, 10), qRgb(250, 0, 0));
    panel->SetTransparent(true);
    img = Shot(*panel);
    EXPECT_EQ(img.pixel(5, 5), qRgb(10, 200, 30));
    EXPECT_EQ(img.pixel(10, 10), qRgb(250, 0, 0));
    EXPECT_EQ(img.pixel(0, 19), qRgb(250, 0, 0));
}

TEST(SkinPanel, AutoSizeFollowsThePicture)
{
    TSkinImagePanel panel;
    panel.resize(50, 50);
    panel.show();
    QImage pic(17, 9, QImage::Format_RGB32);
    pic.fill(Qt::red);
    panel.SetAutoSize(true);
    panel.SetPicture(pic);
    EXPECT_EQ(panel.size(), QSize(17, 9));
    int resized = 0;
    panel.OnResize = [&](QObject *Sender) {
        EXPECT_EQ(Sender, &panel);
        ++resized;
    };
    // Docked to the whole client area: the size stays.
    panel.SetAlign(TSkinCustomPanel::alClient);
    QImage other(30, 30, QImage::Format_RGB32);
    other.fill(Qt::blue);
    panel.SetPicture(other);
    EXPECT_EQ(panel.size(), QSize(17, 9));
    panel.SetAlign(TSkinCustomPanel::alTop); // the width follows the parent, the height the picture
    panel.SetPicture(pic);
    panel.SetPicture(other);
    EXPECT_EQ(panel.size(), QSize(17, 30));
    EXPECT_GE(resized, 1);
}

TEST(SkinGroupBox, FrameCaptionAndStyle)
{
    QWidget form;
    auto *box = new TSkinGroupBox(&form);
    EXPECT_EQ(box->size(), QSize(185, 105));
    EXPECT_EQ(box->UIStyle(), TSkinUIStyle::DeepBlue);
    box->SetColor(QColor(255, 255, 255));
    box->SetUIStyle(TSkinUIStyle::WinXP);
    EXPECT_EQ(box->BorderColor(), QColor(0x68, 0x68, 0x68));
    EXPECT_EQ(box->FontColor(), QColor(0x02, 0x46, 0xCF));

    // An empty caption: a closed frame along the whole top edge.
    const int y = QFontInfo(box->font()).pixelSize() / 2 + 1;
    QImage img = Shot(*box);
    const QRgb border = qRgb(0x68, 0x68, 0x68);
    for (int x = 0; x < 185; x += 7)
        EXPECT_EQ(img.pixel(x, y), border) << x;
    EXPECT_EQ(img.pixel(0, 60), border);
    EXPECT_EQ(img.pixel(184, 60), border);
    EXPECT_EQ(img.pixel(90, 104), border);
    EXPECT_EQ(img.pixel(90, 60), qRgb(255, 255, 255));

    // With a caption the top edge has a gap for it, and the caption has the style's colour.
    box->SetCaption(QStringLiteral("Memory"));
    const int w = QFontMetrics(box->font()).horizontalAdvance(QStringLiteral("Memory"));
    img = Shot(*box);
    EXPECT_EQ(img.pixel(1, y), border);
    EXPECT_NE(img.pixel(4 + w / 2, y), border);
    EXPECT_EQ(img.pixel(w + 10, y), border);
    const QRect captionArea(5, 0, w, QFontMetrics(box->font()).height());
    EXPECT_EQ(CountPixels(img, captionArea, qRgb(0x80, 0x80, 0x80)), 0);
    EXPECT_GT(CountPixels(img, captionArea, qRgb(0x02, 0x46, 0xCF)), 3);
    // Disabled: grey whatever the font colour.
    box->setEnabled(false);
    img = Shot(*box);
    EXPECT_GT(CountPixels(img, captionArea, qRgb(0x80, 0x80, 0x80)), 3);
    EXPECT_EQ(CountPixels(img, captionArea, qRgb(0x02, 0x46, 0xCF)), 0);
    // Children sit inside the frame, below the caption.
    const QMargins m = box->contentsMargins();
    EXPECT_EQ(m.left(), 3);
    EXPECT_EQ(m.top(), QFontInfo(box->font()).pixelSize() + 5);
}

TEST(SkinCheckBox, ClicksAndEvents)
{
    QWidget form;
    auto *box = new TSkinCheckBox(&form);
    EXPECT_FALSE(box->Checked());
    EXPECT_TRUE(box->TabStop());
    int clicks = 0;
    box->OnClick = [&](QObject *Sender) {
        EXPECT_EQ(Sender, box);
        ++clicks;
    };
    box->SetChecked(false); // unchanged: nothing fires
    EXPECT_EQ(clicks, 0);
    box->SetChecked(true);
    EXPECT_EQ(clicks, 1);
    box->SetState(Qt::PartiallyChecked);
    EXPECT_FALSE(box->Checked());
    EXPECT_EQ(box->State(), Qt::Unchecked);
    EXPECT_EQ(clicks, 2);
    box->SetState(Qt::Checked);
    EXPECT_TRUE(box->Checked());

    // A mouse click toggles once; a second quick click is another click.
    clicks = 0;
    Click(*box);
    EXPECT_FALSE(box->Checked());
    EXPECT_EQ(clicks, 1);
    Click(*box, QEvent::MouseButtonDblClick);
    EXPECT_TRUE(box->Checked());
    EXPECT_EQ(clicks, 2);
    // A release outside the box is no click.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(3, 3), QPointF(3, 3), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(box, &press);
    QMouseEvent away(QEvent::MouseButtonRelease, QPointF(500, 3), QPointF(500, 3), Qt::LeftButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(box, &away);
    EXPECT_EQ(clicks, 2);
    // Through the QCheckBox interface: one click toggles once and fires once; setChecked shares
    // the state.
    QCheckBox *asQt = box;
    asQt->click();
    EXPECT_FALSE(box->Checked());
    EXPECT_EQ(clicks, 3);
    asQt->setChecked(true);
    EXPECT_TRUE(box->Checked());
    EXPECT_EQ(box->State(), Qt::Checked);
    // Disabled boxes ignore the mouse.
    clicks = 2;
    box->setEnabled(false);
    Click(*box);
    EXPECT_EQ(clicks, 2);
}

TEST(SkinCheckBox, AcceleratorClicks)
{
    QWidget form;
    auto *box = new TSkinCheckBox(&form);
    box->SetCaption(QStringLiteral("&Hide"));
    form.show();
    QApplication::setActiveWindow(&form);
    int clicks = 0;
    box->OnClick = [&](QObject *) { ++clicks; };
    QKeyEvent alt(QEvent::ShortcutOverride, Qt::Key_H, Qt::AltModifier, QStringLiteral("h"));
    QKeyEvent key(QEvent::KeyPress, Qt::Key_H, Qt::AltModifier, QStringLiteral("h"));
    QApplication::sendEvent(&form, &alt);
    QApplication::sendEvent(&form, &key);
    if (clicks == 0)
        GTEST_SKIP() << "no shortcut delivery on this platform";
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(box->Checked());
    // Disabled: the accelerator does nothing.
    box->setEnabled(false);
    QApplication::sendEvent(&form, &alt);
    QApplication::sendEvent(&form, &key);
    EXPECT_EQ(clicks, 1);
}

TEST(SkinCheckBox, SpaceTogglesOnKeyUp)
{
    QWidget form;
    auto *box = new TSkinCheckBox(&form);
    form.show();
    QApplication::setActiveWindow(&form);
    box->setFocus();
    if (!box->hasFocus())
        GTEST_SKIP() << "no keyboard focus on this platform";
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QCoreApplication::sendEvent(box, &down);
    EXPECT_FALSE(box->Checked());
    QKeyEvent up(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QCoreApplication::sendEvent(box, &up);
    EXPECT_TRUE(box->Checked());
    QKeyEvent repeat(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
    QCoreApplication::sendEvent(box, &repeat);
    EXPECT_TRUE(box->Checked());
    QKeyEvent enter(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(box, &enter);
    EXPECT_FALSE(box->Checked());
    QKeyEvent other(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QCoreApplication::sendEvent(box, &other);
    EXPECT_FALSE(box->Checked());
}

TEST(SkinCheckBox, PaintsTheFrameOfItsState)
{
    QWidget form;
    auto *box = new TSkinCheckBox(&form);
    box->SetCaption(QStringLiteral("Hide"));
    box->SetColor(QColor(255, 255, 255));
    QImage strip;
    ASSERT_TRUE(LoadStyleBitmap(TSkinUIStyle::DeepBlue, 3, &strip));
    const int fw = strip.width() / 4;
    auto frameOf = [&](int Index) { return strip.copy((Index - 1) * fw, 0, fw, strip.height()); };
    auto shownFrame = [&] {
        const QImage img = Shot(*box);
        const int top = (box->height() - strip.height()) / 2;
        return img.copy(1, top, fw, strip.height());
    };
    // AutoSize: image width + 8 + caption width, and the taller of image and text plus 4.
    Shot(*box);
    const QFontMetrics fm(box->font());
    EXPECT_EQ(box->width(), fw + 8 + fm.horizontalAdvance(QStringLiteral("Hide")));
    EXPECT_EQ(box->height(), qMax(strip.height(), fm.height() + 2) + 4);

    EXPECT_EQ(shownFrame(), frameOf(2).convertToFormat(QImage::Format_RGB32));
    box->SetChecked(true);
    EXPECT_EQ(shownFrame(), frameOf(1).convertToFormat(QImage::Format_RGB32));
    box->setEnabled(false);
    EXPECT_EQ(shownFrame(), frameOf(3).convertToFormat(QImage::Format_RGB32));
    box->SetChecked(false);
    EXPECT_EQ(shownFrame(), frameOf(4).convertToFormat(QImage::Format_RGB32));
    box->setEnabled(true);
    box->SetChecked(true);
    EXPECT_EQ(shownFrame(), frameOf(1).convertToFormat(QImage::Format_RGB32));

    // A longer caption makes the box wider by its next paint.
    const int before = box->width();
    box->SetCaption(QStringLiteral("Hide local connections"));
    Shot(*box);
    EXPECT_EQ(box->width(),
              before - fm.horizontalAdvance(QStringLiteral("Hide")) +
                  fm.horizontalAdvance(QStringLiteral("Hide local connections")));

    // A transparent box shows its parent around the picture and the caption.
    ColouredParent parent(QColor(20, 40, 60));
    auto *clear = new TSkinCheckBox(&parent);
    clear->SetTransparent(true);
    clear->move(5, 5);
    Shot(*clear); // the first paint sizes the box
    const QImage img = Shot(*clear);
    EXPECT_EQ(img.pixel(0, 0), qRgb(20, 40, 60));
    EXPECT_EQ(img.pixel(img.width() - 1, img.height() - 1), qRgb(20, 40, 60));
}

TEST(SkinProgressBar, CaptionsAndLengths)
{
    TSkinProgressBar bar;
    EXPECT_EQ(bar.Caption(), QStringLiteral("50%"));
    EXPECT_EQ(bar.size(), QSize(150, 12));
    bar.SetPosition(0);
    EXPECT_EQ(bar.Caption(), QStringLiteral("0%"));
    bar.SetMax(99);
    bar.SetPosition(33);
    EXPECT_EQ(bar.Caption(), QStringLiteral("33%"));
    bar.SetMax(3);
    bar.SetPosition(2);
    EXPECT_EQ(bar.Caption(), QStringLiteral("66%"));
    bar.SetMax(100);
    bar.SetPosition(150);
    EXPECT_EQ(bar.Caption(), QStringLiteral("150%"));
    EXPECT_EQ(bar.FilledLength(149), 149);
    bar.SetPosition(-20);
    EXPECT_EQ(bar.Caption(), QStringLiteral("-20%"));
    EXPECT_EQ(bar.FilledLength(149), 0);
    bar.SetMin(100);
    EXPECT_EQ(bar.Caption(), QStringLiteral("0%"));
    EXPECT_EQ(bar.FilledLength(149), 0);
    // Ends far apart do not overflow.
    bar.SetMin(-2147483647 - 1);
    bar.SetMax(2147483647);
    bar.SetPosition(0);
    EXPECT_EQ(bar.Caption(), QStringLiteral("50%"));
    EXPECT_EQ(bar.FilledLength(100), 50);
}

TEST(SkinProgressBar, Painting)
{
    QWidget form;
    auto *bar = new TSkinProgressBar(&form);
    bar->SetUIStyle(TSkinUIStyle::MacOS);
    bar->resize(101, 14);
    bar->SetShowCaption(false);
    const QRgb back = Rgb(ColorToQColor(StyleColor(TSkinUIStyle::MacOS, 26)));
    const QRgb border = Rgb(ColorToQColor(StyleColor(TSkinUIStyle::MacOS, 25)));
    EXPECT_EQ(bar->Color().rgb() | 0xFF000000, back);
    bar->SetPosition(0);
    QImage img = Shot(*bar);
    EXPECT_EQ(img.pixel(0, 0), border);
    EXPECT_EQ(img.pixel(100, 13), border);
    EXPECT_EQ(CountPixels(img, QRect(2, 1, 97, 12), back), 97 * 12);
    bar->SetPosition(50);
    img = Shot(*bar);
    EXPECT_EQ(CountPixels(img, QRect(2, 1, 47, 12), back), 0);
    EXPECT_EQ(CountPixels(img, QRect(51, 1, 48, 12), back), 48 * 12);
    bar->SetPosition(150);
    img = Shot(*bar);
    EXPECT_EQ(CountPixels(img, QRect(1, 1, 99, 12), back), 0);
    EXPECT_EQ(img.pixel(100, 6), border);

    // The caption is centred; SmartShowCaption hides it at Min.
    bar->SetShowCaption(true);
    bar->SetCaptionColor(QColor(255, 0, 0));
    bar->SetPosition(0);
    img = Shot(*bar);
    EXPECT_GT(CountReddish(img), 3);
    bar->SetSmartShowCaption(true);
    img = Shot(*bar);
    EXPECT_EQ(CountReddish(img), 0);
    bar->SetPosition(1);
    img = Shot(*bar);
    EXPECT_GT(CountReddish(img), 3);

    // Vertical: no caption, whatever ShowCaption said; the bar grows from the bottom.
    bar->resize(14, 101);
    bar->SetOrientation(TSkinProgressBarOrientation::skinVertical);
    bar->SetPosition(50);
    img = Shot(*bar);
    EXPECT_FALSE(bar->ShowCaption());
    EXPECT_EQ(CountReddish(img), 0);
    EXPECT_EQ(CountPixels(img, QRect(1, 1, 12, 48), back), 12 * 48);
    EXPECT_EQ(CountPixels(img, QRect(1, 52, 12, 47), back), 0);
    EXPECT_EQ(bar->Picture().width(), 12); // the picture turned a quarter
}

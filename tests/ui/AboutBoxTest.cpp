#include "ui/frmAbout.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>

#include <cmath>

namespace {

// Relative luminance of a colour (sRGB), as contrast ratios are reckoned.
double Luminance(const QColor &C)
{
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(C.redF()) + 0.7152 * channel(C.greenF()) + 0.0722 * channel(C.blueF());
}

} // namespace

TEST(AboutBox, TitleReadsBlackOnALightBand)
{
    TFormAbout about;
    about.FormCreate(&about);
    const QColor text = about.lblTitle->palette().color(QPalette::WindowText);
    EXPECT_EQ(text, QColor(Qt::black));
    // The band behind the title, right of its text where only the band shows.
    const QImage shot = about.grab().toImage();
    const QRect title = about.lblTitle->geometry();
    const int textRight = title.left() + about.lblTitle->fontMetrics().horizontalAdvance(about.lblTitle->text());
    double darkest = 1.0;
    for (int x = textRight + 10; x < title.right() - 10; x += 7)
        for (int y = title.top(); y <= title.bottom(); y += 3)
            darkest = std::min(darkest, Luminance(shot.pixelColor(x, y)));
    const double contrast = (darkest + 0.05) / (Luminance(text) + 0.05);
    EXPECT_GE(contrast, 7.0) << "the title's band is too dark for black text";
}

TEST(AboutBox, CloseButtonReadsOnTheTitleBand)
{
    TFormAbout about;
    const QImage shot = about.grab().toImage();
    const QRect button = about.btnClose->geometry();
    // Where the cross's two strokes meet, and the band just left of the button.
    QList<double> cross, band;
    for (int dx : {7, 8})
        for (int dy : {7, 8})
            cross << Luminance(shot.pixelColor(button.left() + dx, button.top() + dy));
    for (int x = button.left() - 20; x < button.left() - 3; x += 2)
        for (int y = button.top(); y <= button.bottom(); y += 2)
            band << Luminance(shot.pixelColor(x, y));
    double worst = 21.0;
    for (double c : cross)
        for (double b : band)
            worst = std::min(worst, (std::max(b, c) + 0.05) / (std::min(b, c) + 0.05));
    EXPECT_GE(worst, 4.5) << "the close button's cross does not stand out from its band: " << worst;
}

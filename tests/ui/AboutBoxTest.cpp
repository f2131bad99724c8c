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

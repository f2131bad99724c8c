#include "skin/SkinButton.h"
#include "skin/SkinGroupBox.h"
#include "skin/SkinPublic.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLocale>
#include <QProcess>

namespace {

// The probe runs only in a child started with the locale under test; it reads what to expect here.
constexpr char ProbeVariable[] = "TASKVANE_RTL_PROBE";

int CountColour(const QImage &Img, const QRect &Area, QRgb Colour)
{
    int n = 0;
    const QRect r = Area & Img.rect();
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += Img.pixel(x, y) == (Colour | 0xFF000000) ? 1 : 0;
    return n;
}

// Whether the group box draws its caption at its right end (and none of it at the left).
bool GroupCaptionAtRight(TSkinGroupBox &Box)
{
    const QImage img = Box.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb caption = qRgb(0x02, 0x46, 0xCF); // WinXP's caption colour
    const int h = QFontMetrics(Box.font()).height();
    const int left = CountColour(img, QRect(0, 0, Box.width() / 3, h), caption);
    const int right = CountColour(img, QRect(Box.width() * 2 / 3, 0, Box.width() / 3, h), caption);
    EXPECT_TRUE((left == 0) != (right == 0)) << left << " " << right;
    return right > 0;
}

// Whether the check box draws its picture at its right end.
bool CheckPictureAtRight(TSkinCheckBox &Box)
{
    Box.grab(); // the first paint sizes the box
    const QImage img = Box.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QImage strip;
    LoadStyleBitmap(TSkinUIStyle::DeepBlue, 3, &strip);
    QImage frame;
    ExtractFrame(strip, frame, 4, 2);
    frame = frame.convertToFormat(QImage::Format_RGB32);
    const int top = (Box.height() - frame.height()) / 2;
    const bool atLeft = img.copy(1, top, frame.width(), frame.height()) == frame;
    const bool atRight = img.copy(Box.width() - frame.width() - 1, top, frame.width(), frame.height()) == frame;
    EXPECT_TRUE(atLeft != atRight) << atLeft << " " << atRight;
    return atRight;
}

} // namespace

TEST(SkinRightToLeft, Probe)
{
    const QByteArray expected = qgetenv(ProbeVariable);
    if (expected.isEmpty())
        GTEST_SKIP() << "run by SkinRightToLeft.EachDirectionAndLocale in a child with its locale";
    const bool rtlLocale = expected == "rtl";
    ASSERT_EQ(QLocale::system().textDirection() == Qt::RightToLeft, rtlLocale)
        << "the child runs the locale it was given: " << QLocale::system().name().toStdString();

    for (const Qt::LayoutDirection direction : {Qt::LeftToRight, Qt::RightToLeft}) {
        SCOPED_TRACE(direction == Qt::RightToLeft ? "right-to-left control" : "left-to-right control");
        const bool rightToLeft = rtlLocale && direction == Qt::RightToLeft;

        TSkinGroupBox group;
        group.SetUIStyle(TSkinUIStyle::WinXP);
        group.SetCaption(QStringLiteral("Mem"));
        group.setLayoutDirection(direction);
        EXPECT_EQ(MiddleEastRightToLeft(&group), rightToLeft);
        EXPECT_EQ(GroupCaptionAtRight(group), rightToLeft);

        TSkinCheckBox check;
        check.SetCaption(QStringLiteral("Hide local connections"));
        check.setLayoutDirection(direction);
        EXPECT_EQ(CheckPictureAtRight(check), rightToLeft);
    }
}

TEST(SkinRightToLeft, EachDirectionAndLocale)
{
    struct Run
    {
        const char *Locale;
        const char *Expect;
    };
    // The system's locale is read once at start, so each one runs in a child of its own.
    const Run runs[] = {{"C", "ltr"}, {"en_US.UTF-8", "ltr"}, {"ar_EG.UTF-8", "rtl"}, {"he_IL.UTF-8", "rtl"}};
    for (const Run &r : runs) {
        SCOPED_TRACE(r.Locale);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), QString::fromLatin1(r.Locale));
        env.insert(QStringLiteral("LANG"), QString::fromLatin1(r.Locale));
        env.remove(QStringLiteral("LANGUAGE"));
        env.insert(QString::fromLatin1(ProbeVariable), QString::fromLatin1(r.Expect));
        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=SkinRightToLeft.Probe")});
        ASSERT_TRUE(child.waitForFinished(120000));
        const QString output = QString::fromLocal8Bit(child.readAll());
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
        EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output.toStdString();
    }
}

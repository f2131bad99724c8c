#include "common/EmbeddedPictures.h"
#include "skin/SkinPng.h"
#include "ui/PngImage.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>

TEST(PngImage, DecodesWhatWasEncoded)
{
    QImage src(5, 3, QImage::Format_ARGB32);
    src.fill(Qt::transparent);
    src.setPixel(0, 0, qRgba(255, 0, 0, 255));
    src.setPixel(4, 2, qRgba(0, 0, 255, 128));
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    ASSERT_TRUE(src.save(&buf, "PNG"));
    const QImage out = DecodePng(bytes);
    ASSERT_FALSE(out.isNull());
    EXPECT_EQ(out.size(), QSize(5, 3));
    EXPECT_EQ(out.pixel(0, 0), qRgba(255, 0, 0, 255));
    EXPECT_EQ(qAlpha(out.pixel(4, 2)), 128);
    EXPECT_EQ(qBlue(out.pixel(4, 2)), 255);
    EXPECT_EQ(qAlpha(out.pixel(2, 1)), 0);
}

TEST(PngImage, DamagedDataGivesANullImage)
{
    EXPECT_TRUE(DecodePng(QByteArray()).isNull());
    EXPECT_TRUE(DecodePng(QByteArray("not a picture at all")).isNull());
    QImage src(40, 40, QImage::Format_RGB32);
    src.fill(Qt::green);
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    ASSERT_TRUE(src.save(&buf, "PNG"));
    EXPECT_TRUE(DecodePng(bytes.left(bytes.size() / 2)).isNull());
    QByteArray flipped = bytes;
    flipped[bytes.size() / 2] = char(flipped[bytes.size() / 2] ^ 0x5A);
    EXPECT_TRUE(DecodePng(flipped).isNull()); // the chunk checksum no longer matches
}

TEST(PngImage, EveryEmbeddedPictureDecodes)
{
    const char *names[] = {"border_topleft",
                           "border_top",
                           "border_topright",
                           "border_left",
                           "border_right",
                           "border_bottomleft",
                           "border_bottom",
                           "border_bottomright",
                           "grip",
                           "icon",
                           "logo",
                           "topbar",
                           "leftmenu_title",
                           "leftmenu_body",
                           "search_box",
                           "engine_0",
                           "engine_1",
                           "engine_2",
                           "btn_close_normal",
                           "btn_max_hover",
                           "btn_min_down",
                           "btn_about_disabled",
                           "menu_process_normal",
                           "menu_config_disabled",
                           "menutitle_hover",
                           "btn_search_down"};
    for (const char *n : names)
        EXPECT_FALSE(LoadPicture(QLatin1String(n)).isNull()) << n;
    EXPECT_TRUE(LoadPicture(QStringLiteral("no_such_picture")).isNull());
    EXPECT_EQ(LoadPicture(QStringLiteral("grip")).size(), QSize(10, 10));
}

// The program carries each drawn picture byte for byte, so it shows the pixels that were drawn.
TEST(PngImage, EveryDrawnPictureIsEmbeddedAsItIs)
{
    const struct
    {
        const char16_t *Folder;
        const char *Dir;
    } sets[] = {{u":/pictures/", "png"},
                {u":/pictures/message/", "message/png"},
                {u":/pictures/details/", "details/png"},
                {u":/pictures/services/", "services/png"}};
    for (const auto &set : sets)
        ASSERT_NO_FATAL_FAILURE(tvtest::ExpectEmbeddedAsDrawn(
            set.Folder, set.Dir, [](QByteArrayView Data) { return DecodePng(Data.toByteArray()); }));
    EXPECT_TRUE(EmbeddedPng(u":/pictures/message/", u"no_such_picture").isEmpty());
    EXPECT_TRUE(EmbeddedPng(u":/pictures/message/", u"../logo").isEmpty());
    EXPECT_TRUE(EmbeddedPng(u":/pictures/", u"").isEmpty());
}

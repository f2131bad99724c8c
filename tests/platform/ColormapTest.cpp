// A window on an X screen's own visual is put on that screen's default colormap; one on another
// visual keeps its own, and a window the server does not know is no window. Against a real X
// server of the test's own.

#include "platform/display/Colormap.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include <xcb/xcb.h>

#include <cstdlib>
#include <optional>

namespace {

using platform::display::UseScreenColormap;

struct XServer
{
    QProcess Server;
    QByteArray Display;

    XServer()
    {
        if (!QFileInfo(QStringLiteral("/usr/bin/Xvfb")).isExecutable())
            return;
        Server.start(
            QStringLiteral("/usr/bin/Xvfb"),
            {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        QElapsedTimer t;
        t.start();
        while (!Display.contains('\n') && t.elapsed() < 20000 && Server.waitForStarted())
            if (Server.waitForReadyRead(200))
                Display += Server.readAllStandardOutput();
        Display = Display.trimmed();
    }
    ~XServer()
    {
        Server.terminate();
        if (!Server.waitForFinished(5000))
            Server.kill();
        Server.waitForFinished(5000);
    }
};

struct Attributes
{
    xcb_visualid_t Visual = 0;
    xcb_colormap_t Colormap = 0;
};

std::optional<Attributes> AttributesOf(xcb_connection_t *C, xcb_window_t Window)
{
    xcb_generic_error_t *error = nullptr;
    auto *reply = xcb_get_window_attributes_reply(C, xcb_get_window_attributes(C, Window), &error);
    std::free(error);
    if (!reply)
        return std::nullopt;
    const Attributes a{reply->visual, reply->colormap};
    std::free(reply);
    return a;
}

// A window of the screen's on `Visual` (of the screen's depth), with a colormap of its own.
xcb_window_t WindowWithOwnColormap(xcb_connection_t *C, const xcb_screen_t *Screen, xcb_visualid_t Visual)
{
    const xcb_colormap_t colormap = xcb_generate_id(C);
    xcb_create_colormap(C, XCB_COLORMAP_ALLOC_NONE, colormap, Screen->root, Visual);
    const xcb_window_t window = xcb_generate_id(C);
    const uint32_t values[] = {0, colormap};
    xcb_create_window(C, Screen->root_depth, window, Screen->root, 0, 0, 40, 30, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      Visual, XCB_CW_BORDER_PIXEL | XCB_CW_COLORMAP, values);
    xcb_flush(C);
    return window;
}

TEST(ScreenColormap, AWindowOnTheScreensVisualTakesItsDefaultColormap)
{
    EXPECT_FALSE(UseScreenColormap(nullptr, 1));
    XServer x;
    if (x.Display.isEmpty())
        GTEST_SKIP() << "no X server to test against (Xvfb)";
    xcb_connection_t *c = xcb_connect((":" + x.Display).constData(), nullptr);
    ASSERT_EQ(xcb_connection_has_error(c), 0);
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;

    const xcb_window_t own = WindowWithOwnColormap(c, screen, screen->root_visual);
    ASSERT_NE(AttributesOf(c, own)->Colormap, screen->default_colormap);
    EXPECT_TRUE(UseScreenColormap(c, own));
    EXPECT_EQ(AttributesOf(c, own)->Colormap, screen->default_colormap);
    // Once there it stays there.
    EXPECT_TRUE(UseScreenColormap(c, own));
    EXPECT_EQ(AttributesOf(c, own)->Colormap, screen->default_colormap);

    // Another visual of the same depth, where the server offers one: the default colormap would
    // not fit it.
    std::optional<xcb_visualid_t> other;
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem && !other; xcb_depth_next(&d)) {
        if (d.data->depth != screen->root_depth)
            continue;
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem && !other; xcb_visualtype_next(&v))
            if (v.data->visual_id != screen->root_visual)
                other = v.data->visual_id;
    }
    if (other) {
        const xcb_window_t foreign = WindowWithOwnColormap(c, screen, *other);
        const auto before = AttributesOf(c, foreign);
        ASSERT_TRUE(before);
        EXPECT_FALSE(UseScreenColormap(c, foreign));
        EXPECT_EQ(AttributesOf(c, foreign)->Colormap, before->Colormap);
    }

    // A window the server does not know, and none at all; the connection stays usable.
    const xcb_window_t gone = WindowWithOwnColormap(c, screen, screen->root_visual);
    xcb_destroy_window(c, gone);
    xcb_flush(c);
    EXPECT_FALSE(UseScreenColormap(c, gone));
    EXPECT_FALSE(UseScreenColormap(c, XCB_WINDOW_NONE));
    EXPECT_EQ(xcb_connection_has_error(c), 0);
    EXPECT_TRUE(AttributesOf(c, own));
    xcb_disconnect(c);
}

} // namespace

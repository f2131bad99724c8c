#include "platform/display/Colormap.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace platform::display {

namespace {

struct FreeReply
{
    void operator()(void *Reply) const { std::free(Reply); }
};

} // namespace

bool UseScreenColormap(xcb_connection_t *Connection, quint32 Window)
{
    if (!Connection || Window == XCB_WINDOW_NONE)
        return false;
    const auto id = xcb_window_t(Window);
    // The error of a window the server does not know is taken here, not left to the toolkit's
    // event queue.
    xcb_generic_error_t *error = nullptr;
    const std::unique_ptr<xcb_get_window_attributes_reply_t, FreeReply> attributes(
        xcb_get_window_attributes_reply(Connection, xcb_get_window_attributes(Connection, id), &error));
    std::free(error);
    if (!attributes)
        return false;
    // Visual identifiers are unique on a display: the screen whose own visual it is holds the
    // default colormap that fits the window.
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(Connection)); it.rem; xcb_screen_next(&it)) {
        const xcb_screen_t *screen = it.data;
        if (screen->root_visual != attributes->visual)
            continue;
        if (attributes->colormap != screen->default_colormap) {
            const uint32_t colormap = screen->default_colormap;
            xcb_change_window_attributes(Connection, id, XCB_CW_COLORMAP, &colormap);
            xcb_flush(Connection);
        }
        return true;
    }
    return false;
}

} // namespace platform::display

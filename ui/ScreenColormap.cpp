#include "ui/ScreenColormap.h"

#include <QGuiApplication>
#include <QPlatformSurfaceEvent>
#include <QPointer>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {

struct TFreeReply
{
    void operator()(void *Reply) const { std::free(Reply); }
};

// Sees each native window as the toolkit creates it.
class TColormapFilter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override
    {
        if (Event->type() == QEvent::PlatformSurface &&
            static_cast<QPlatformSurfaceEvent *>(Event)->surfaceEventType() == QPlatformSurfaceEvent::SurfaceCreated) {
            if (auto *window = qobject_cast<QWindow *>(Watched))
                UseScreenColormap(window);
        }
        return false;
    }
};

xcb_connection_t *X11Connection()
{
    if (!qGuiApp)
        return nullptr;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

} // namespace

bool UseScreenColormap(QWindow *Window)
{
    xcb_connection_t *c = X11Connection();
    if (!c || !Window || !Window->handle())
        return false;
    const auto id = xcb_window_t(Window->winId());
    const std::unique_ptr<xcb_get_window_attributes_reply_t, TFreeReply> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, id), nullptr));
    if (!attributes)
        return false;
    // Visual identifiers are unique on a display: the screen whose own visual it is holds the
    // default colormap that fits the window.
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it)) {
        const xcb_screen_t *screen = it.data;
        if (screen->root_visual != attributes->visual)
            continue;
        if (attributes->colormap != screen->default_colormap) {
            const uint32_t colormap = screen->default_colormap;
            xcb_change_window_attributes(c, id, XCB_CW_COLORMAP, &colormap);
            xcb_flush(c);
        }
        return true;
    }
    return false;
}

void InstallScreenColormaps()
{
    if (!X11Connection())
        return;
    // One filter per application; it goes with the application.
    static QPointer<TColormapFilter> filter;
    if (filter)
        return;
    filter = new TColormapFilter(qGuiApp);
    qGuiApp->installEventFilter(filter);
    for (QWindow *window : QGuiApplication::allWindows())
        UseScreenColormap(window);
}

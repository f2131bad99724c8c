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
            if (auto *Window = qobject_cast<QWindow *>(Watched))
                UseScreenColormap(Window);
        }
        return false;
    }
};

xcb_connection_t *X11Connection()
{
    if (!qGuiApp)
        return nullptr;
    auto *X11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return X11 ? X11->connection() : nullptr;
}

} // namespace

bool UseScreenColormap(QWindow *Window)
{
    xcb_connection_t *C = X11Connection();
    if (!C || !Window || !Window->handle())
        return false;
    const auto Id = xcb_window_t(Window->winId());
    const std::unique_ptr<xcb_get_window_attributes_reply_t, TFreeReply> Attributes(
        xcb_get_window_attributes_reply(C, xcb_get_window_attributes(C, Id), nullptr));
    if (!Attributes)
        return false;
    // Visual identifiers are unique on a display: the screen whose own visual it is holds the
    // default colormap that fits the window.
    for (auto It = xcb_setup_roots_iterator(xcb_get_setup(C)); It.rem; xcb_screen_next(&It)) {
        const xcb_screen_t *Screen = It.data;
        if (Screen->root_visual != Attributes->visual)
            continue;
        if (Attributes->colormap != Screen->default_colormap) {
            const uint32_t Colormap = Screen->default_colormap;
            xcb_change_window_attributes(C, Id, XCB_CW_COLORMAP, &Colormap);
            xcb_flush(C);
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
    static QPointer<TColormapFilter> Filter;
    if (Filter)
        return;
    Filter = new TColormapFilter(qGuiApp);
    qGuiApp->installEventFilter(Filter);
    for (QWindow *Window : QGuiApplication::allWindows())
        UseScreenColormap(Window);
}

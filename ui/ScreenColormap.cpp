#include "ui/ScreenColormap.h"

#include "platform/display/Colormap.h"

#include <QGuiApplication>
#include <QPlatformSurfaceEvent>
#include <QPointer>
#include <QWindow>

namespace {

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
    return platform::display::UseScreenColormap(c, quint32(Window->winId()));
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

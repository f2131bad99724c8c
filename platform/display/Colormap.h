#pragma once

#include <QtGlobal>

// The toolkit hands out its connection to the X server as this type; only platform/ looks inside.
struct xcb_connection_t;

namespace platform::display {

// Puts the X window `Window` on the default colormap of the screen whose own visual it uses, over
// `Connection`. True when the window now uses that colormap; false without a connection, for a
// window the server does not know, or on another visual.
bool UseScreenColormap(xcb_connection_t *Connection, quint32 Window);

} // namespace platform::display

#pragma once

// The colormap of the program's windows on an X display.
//
// Qt gives its windows a colormap of their own, even on the screen's default visual. Readers of
// the screen that go colormap by colormap (xwd, the stock X screenshot tool) read all windows that
// share such a colormap through the lowest of them, whose covered part the server hands back
// black: every box over the main window came out as a black rectangle, though the screen showed
// it. A window on the default visual shows the same pixels through the default colormap, and with
// it is read as part of the screen.

class QWindow;

// Puts the window on its screen's default colormap when it uses the screen's own visual. True when
// it now uses that colormap; false off X11, before the window exists or on another visual.
bool UseScreenColormap(QWindow *Window);

// Does the same for every window the application has and creates from now on. Off X11 it does
// nothing.
void InstallScreenColormaps();

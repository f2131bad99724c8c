#pragma once

#include <QList>
#include <QRect>
#include <QRegion>
#include <QString>

class QWidget;

// One page of the switcher: the menu button that selects it and the panel it shows.
struct TTabItem
{
    int Index = 0;
    QString Caption;
    QWidget *Button = nullptr;
    QWidget *Panel = nullptr;
    bool Active = false;
    bool WasActive = false;
};

class TTabPanel;
// Called after a selection with the switcher and the caller's parameter.
using TTabChangedProc = void (*)(TTabPanel *Sender, void *Param);

// Pairs each menu button with its page panel and shows exactly one page at a time.
class TTabPanel
{
public:
    TTabPanel();
    ~TTabPanel();
    TTabPanel(const TTabPanel &) = delete;
    TTabPanel &operator=(const TTabPanel &) = delete;

    void Add(QWidget *Button, QWidget *Panel, const QString &Caption, bool Active);
    void SelectIndex(int Index, TTabChangedProc Callback, void *Param);
    void SelectButton(QWidget *Button, TTabChangedProc Callback, void *Param);
    TTabItem *CurrentTab() const;
    TTabItem *PreviousTab() const;

    int CurrentIndex() const { return m_CurrentIndex; }
    int PreviousIndex() const { return m_PreviousIndex; }
    int Count() const { return int(m_Tabs.size()); }
    TTabItem *Item(int Index) const;

private:
    void SetTabState(TTabItem *Tab, bool Show);

    QList<TTabItem *> m_Tabs;
    int m_CurrentIndex = -1;
    int m_PreviousIndex = -1;
};

// The ring of a resize frame: the rectangle minus the rectangle shrunk by Width on every side.
QRegion ResizeFrameRing(const QRect &Rect, int Width);

// The pixels a frame step changes: mode 0 draws the first frame at Rect, 1 moves the last frame to
// Rect, 2 erases the last frame. A stretch covered by the old and the new ring is left alone.
QRegion ResizeFrameChange(const QRect &LastRect, const QRect &Rect, quint8 Mode, int Width);

// The rubber-band frame shown while the main window's grip is dragged. The screen cannot be drawn
// on directly under compositing window systems, so the frame is a borderless top-level window
// shaped to the ring and filled with a halftone pattern.
void DrawResizeFrame(const QRect &Rect, quint8 Mode, int Width);

// The frame's last rectangle and its window (null when none is shown), for the form and its tests.
QRect ResizeFrameLastRect();
QWidget *ResizeFrameWindow();

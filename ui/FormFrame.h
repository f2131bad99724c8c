#pragma once

// What the borderless dialogs (message box, about box) share: their frame of eight pictures and
// moving the window by its title.

#include <QPoint>
#include <QSize>

class QEvent;
class QObject;
class QWidget;
class TImage;

// The measures of a frame: the title band with its two corner pieces, the sides, and the
// bottom band with its two corner pieces.
struct TFrameMeasures
{
    int TitleHeight;
    int TopLeftWidth;
    int TopRightWidth;
    int SideWidth;
    int BottomHeight;
    int BottomCornerWidth;
};

// Lays the pieces (top left, top, top right, left, right, bottom left, bottom, bottom right)
// around a window of the size, under everything else.
void PlaceFramePieces(TImage *const (&Pieces)[8], const QSize &Size, const TFrameMeasures &Measures);

// Moves a borderless window with the mouse. The window system moves it where it will; where it
// refuses, the window follows the pointer until the button is released.
class TFrameDrag
{
public:
    // A press at (X, Y) in the sender starts a move, unless the window is maximised.
    void Begin(QWidget *Window, QObject *Sender, int X, int Y);
    // Follows the pointer during a move of our own; true when the event belonged to it.
    bool Follow(QWidget *Window, QEvent *Event);

private:
    bool m_Dragging = false;
    QPoint m_Offset;
};

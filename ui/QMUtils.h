#pragma once

#include <QPoint>

class QPainter;
class QWidget;

// Placement of a button's caption or picture; the three short names place exactly like their
// "Middle" forms, alCustom at explicit coordinates.
enum TAlignment {
    alTopLeft,
    alTopCenter,
    alTopRight,
    alMiddleLeft,
    alMiddleCenter,
    alMiddleRight,
    alBottomLeft,
    alBottomCenter,
    alBottomRight,
    alCenter,
    alLeft,
    alRight,
    alCustom
};

// Where a PicWidth x PicHeight picture goes inside a Width x Height control (halves truncated
// toward zero).
QPoint AlignedPicturePos(TAlignment Align, int Width, int Height, int PicWidth, int PicHeight, int CustomX,
                         int CustomY);

// Text layout flags (Qt::AlignmentFlag | Qt::TextFlag) for a caption at the given alignment.
// Multi-line captions wrap at words and, as with the classic text drawing, are not centred vertically.
int AlignedTextFlags(TAlignment Align, bool MultiLines);

// Lets what lies under Control show through the painter's area. Qt composes the parent with its
// pictures and the sibling controls below a control into one backing store, so a transparent
// control only has to leave its pixels clear.
void PaintParentBackground(QPainter &Canvas, QWidget *Control);

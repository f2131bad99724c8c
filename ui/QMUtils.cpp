#include "ui/QMUtils.h"

#include <QPainter>
#include <QWidget>

QPoint AlignedPicturePos(TAlignment Align, int Width, int Height, int PicWidth, int PicHeight, int CustomX, int CustomY)
{
    // C++ integer division truncates toward zero, as the layout requires for negative slack.
    switch (Align) {
    case alTopLeft:
        return {0, 0};
    case alTopCenter:
        return {(Width - PicWidth) / 2, 0};
    case alTopRight:
        return {Width - PicWidth, 0};
    case alMiddleLeft:
    case alLeft:
        return {0, (Height - PicHeight) / 2};
    case alMiddleCenter:
    case alCenter:
        return {(Width - PicWidth) / 2, (Height - PicHeight) / 2};
    case alMiddleRight:
    case alRight:
        return {Width - PicWidth, (Height - PicHeight) / 2};
    case alBottomLeft:
        return {0, Height - PicHeight};
    case alBottomCenter:
        return {(Width - PicWidth) / 2, Height - PicHeight};
    case alBottomRight:
        return {Width - PicWidth, Height - PicHeight};
    case alCustom:
        return {CustomX, CustomY};
    }
    return {0, 0};
}

int AlignedTextFlags(TAlignment Align, bool MultiLines)
{
    int h = Qt::AlignLeft;
    int v = Qt::AlignTop;
    switch (Align) {
    case alTopLeft:
    case alCustom:
        break;
    case alTopCenter:
        h = Qt::AlignHCenter;
        break;
    case alTopRight:
        h = Qt::AlignRight;
        break;
    case alMiddleLeft:
    case alLeft:
        v = Qt::AlignVCenter;
        break;
    case alMiddleCenter:
    case alCenter:
        h = Qt::AlignHCenter;
        v = Qt::AlignVCenter;
        break;
    case alMiddleRight:
    case alRight:
        h = Qt::AlignRight;
        v = Qt::AlignVCenter;
        break;
    case alBottomLeft:
        v = Qt::AlignBottom;
        break;
    case alBottomCenter:
        h = Qt::AlignHCenter;
        v = Qt::AlignBottom;
        break;
    case alBottomRight:
        h = Qt::AlignRight;
        v = Qt::AlignBottom;
        break;
    }
    if (MultiLines)
        return h | Qt::AlignTop | Qt::TextWordWrap | Qt::TextExpandTabs;
    return h | v | Qt::TextSingleLine | Qt::TextExpandTabs;
}

void PaintParentBackground(QPainter &Canvas, QWidget *Control)
{
    if (!Control || !Control->parentWidget())
        return;
    Canvas.save();
    Canvas.setCompositionMode(QPainter::CompositionMode_Source);
    Canvas.fillRect(QRect(QPoint(0, 0), Control->size()), Qt::transparent);
    Canvas.restore();
}

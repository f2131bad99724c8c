#pragma once

// Drawing and geometry routines shared by the skinned controls.
//
// Rectangles follow the drawing convention of the controls: a QRect's x()/y() are Left/Top and
// Right = x() + width(), Bottom = y() + height() lie just outside it.

#include "skin/SkinThemes.h"

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>

#include <functional>

class QFontMetrics;
class QObject;
class QPainter;
class QWidget;

// Paints Control's parent (its background and its own painting, not its other children) into
// Canvas, shifted so that the control looks transparent. Nothing without a parent.
void DrawParentBackground(QPainter &Canvas, QWidget *Control);

// Tiles Picture from the canvas origin (not Rect's corner) over x < w + Rect.width(),
// y < h + Rect.height(); an empty picture draws nothing.
void TileDraw(QPainter &Canvas, const QImage &Picture, const QRect &Rect);

// Frame FrameIndex (from 1) of FrameCount frames side by side; the last frame is the rightmost
// frame-width columns. Dest gets a null image when the strip or the arguments give no frame.
void ExtractFrame(const QImage &Strip, QImage &Dest, int FrameCount, int FrameIndex);

// A quarter turn: (x, y) lands at (y, old width - 1 - x).
void RotateBitmap90(QImage &Bitmap);

// Horizontal lines from FromColor (top line) to ToColor (bottom line).
void DrawVerticalGradient(QPainter &Canvas, const QRect &Rect, const QColor &FromColor, const QColor &ToColor);
// Vertical lines from FromColor (left line) to ToColor (right line).
void DrawHorizontalGradient(QPainter &Canvas, const QRect &Rect, const QColor &FromColor, const QColor &ToColor);

// A strip of three frames: the first at the left, the third at the right, the second stretched
// between; a rectangle narrower than one frame gets the first frame cut to its width.
void DrawThreeFrames(const QImage &Strip, QPainter &Canvas, const QRect &Rect, const QColor &TransparentColor,
                     bool UseTransparentColor);

// The picture with every pixel of Color made fully transparent.
QImage MaskedImage(const QImage &Picture, const QColor &Color);

TColor MakeColor(int R, int G, int B);
void SplitColor(TColor Color, int &R, int &G, int &B);
void SplitColor(const QColor &Color, int &R, int &G, int &B);

// Inclusive of the right and bottom edges (x() + width(), y() + height()).
bool PointInRect(const QPoint &Point, const QRect &Rect);

// The available geometry of the screen that holds the application's main form, or of the
// primary screen when there is none.
void GetWorkArea(QRect &Rect);

void SetControlBounds(QWidget *Control, const QRect &Rect);

// Whether the object's class declares a property of that name.
bool HasProperty(const QObject *Object, const char *Name);

// Text when it fits MaxWidth; else the shortest "<first n characters>..." that is at least
// MaxWidth wide, or the whole text when no shorter prefix reaches that width.
QString FitTextWithEllipsis(const QFontMetrics &Metrics, const QString &Text, int MaxWidth);

// The application's main form, as the program names it at start; nil when none was named.
QWidget *ApplicationMainForm();
void SetApplicationMainForm(QWidget *Form);

// Whether a form counts as active for drawing its frame.
bool FormIsActive(QWidget *Form);

// The form a control stands on: the nearest of itself and its ancestors that is a window or a
// child form inside a parent form (an MDI sub-window); nil without one.
QWidget *FormOf(const QWidget *Control);

// Whether a widget lays out right to left and the system runs a right-to-left locale.
bool MiddleEastRightToLeft(const QWidget *Control);

// The controls' refusals ("Sorry, ...") go to the user through one routine. Its creator may put
// its own message box in; without one a plain modal box shows the text. Answers the previous.
using TSkinMessageHandler = std::function<void(const QString &Text)>;
TSkinMessageHandler SetSkinMessageHandler(TSkinMessageHandler Handler);
void SkinShowMessage(const QString &Text);

// Operating-system flags the Windows look depended on; this system always draws as the newer
// generation of Windows did.
// NOLINTBEGIN(readability-identifier-naming): the skin's interface names its flags so
extern const bool IsWinXP;
extern const bool IsWinVista;
// NOLINTEND(readability-identifier-naming)

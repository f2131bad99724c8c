#pragma once

// Built-in visual styles of the skinned controls: the style enumeration, the table of 48 values
// per style with its lookups, the style bitmaps, and the manager that holds a loaded skin file.

#include <QColor>
#include <QImage>
#include <QString>
#include <QMetaType>
#include <QtGlobal>

#include <memory>

class Tsk2SkinFileReader;

// A colour as the style tables and skin files store it: 0x00BBGGRR.
using TColor = quint32;

// The colour for painting; only the low 24 bits count.
QColor ColorToQColor(TColor Color);
TColor QColorToColor(const QColor &Color);

enum class TSkinUIStyle : quint8 {
    FromThemeFile = 0,
    MacOS = 1,
    WinXP = 2,
    DeepBlue = 3,
    Protein = 4,
    BlueGlass = 5,
};
Q_DECLARE_METATYPE(TSkinUIStyle)

// Kinds of the style-table keys.
enum TStyleKeyKind : int {
    skInteger = 0,
    skColor = 1,
    skBitmap = 2,
    skBoolean = 3,
};

// The transparent colour of the built-in style bitmaps (magenta).
constexpr TColor kStyleTransparentColor = 0xFF00FF;

// The raw value of Key (1..48) in Style and its kind. The style is masked with 127; a style of 0
// or above 5 (or a key outside the table) has kind integer and value -1.
qint32 StyleValue(TSkinUIStyle Style, int Key, int &Kind);
// The value when the key is a colour, else 0.
TColor StyleColor(TSkinUIStyle Style, int Key);
// The value when the key is a Boolean, else false.
bool StyleBool(TSkinUIStyle Style, int Key);
// The value when the key is an integer, else -1.
qint32 StyleInteger(TSkinUIStyle Style, int Key);
// The bitmap name of Key in Style ("DEEPBLUE_CHECKBOX"); empty when the key is no bitmap.
QString StyleBitmapName(TSkinUIStyle Style, int Key);

// A bitmap resource of the program by its name ("DEEPBLUE_CHECKBOX", "MORE_SCROLLBUTTON",
// "MACOS_FORM_BACKGROUND"); a null image when there is none.
QImage LoadSkinResourceBitmap(const QString &Name);

// Loads the bitmap of Key into Bitmap when the key is a bitmap and the resource exists; otherwise
// (or with a null Bitmap) leaves it alone and answers false.
bool LoadStyleBitmap(TSkinUIStyle Style, int Key, QImage *Bitmap);
// FrameCount 0 loads the whole bitmap; otherwise frame FrameIndex (from 1) of FrameCount.
bool LoadStyleBitmapFrame(TSkinUIStyle Style, int Key, QImage *Bitmap, int FrameIndex, int FrameCount);

// Holds the reader of one loaded skin file and answers look-ups by key number.
class TSkinFileThemeMgr
{
public:
    TSkinFileThemeMgr();
    ~TSkinFileThemeMgr();
    TSkinFileThemeMgr(const TSkinFileThemeMgr &) = delete;
    TSkinFileThemeMgr &operator=(const TSkinFileThemeMgr &) = delete;

    // False when the file does not exist (a reader already held stays), when the reader is not
    // ready or when reading failed (no reader is then held).
    bool Load(const QString &FileName, const QString &Password);
    bool HasReader() const { return m_Reader != nullptr; }

    // Key numbers: colour k is name entry k, bitmap k + 32, integer k + 66, Boolean k + 75
    // (k modulo 128). Without a reader: nil, 0 or false.
    const QImage *GetBitmap(int Key) const;
    qint32 GetColor(int Key) const;
    qint32 GetInteger(int Key) const;
    bool GetBool(int Key) const;

private:
    std::unique_ptr<Tsk2SkinFileReader> m_Reader;
};

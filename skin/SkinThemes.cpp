#include "skin/SkinThemes.h"

#include "skin/Skin2Define.h"
#include "skin/Logging.h"
#include "skin/SkinFileReader.h"
#include "skin/SkinPng.h"
#include "skin/SkinPublic.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>

#include <exception>

QColor ColorToQColor(TColor Color)
{
    return QColor(int(Color & 0xFF), int((Color >> 8) & 0xFF), int((Color >> 16) & 0xFF));
}

TColor QColorToColor(const QColor &Color)
{
    const QColor c = Color.toRgb();
    return TColor(c.red()) | (TColor(c.green()) << 8) | (TColor(c.blue()) << 16);
}

namespace {

constexpr int kKeyCount = 48;
constexpr int kStyleCount = 5;

struct TStyleRow
{
    int Kind;
    // Integer, colour and Boolean values per style; for bitmaps the name after the prefix.
    qint32 Values[kStyleCount];
    const char *Bitmap;
};

#define BMP(name)                                                                                                      \
    {                                                                                                                  \
        skBitmap, {0, 0, 0, 0, 0}, name                                                                                \
    }
#define INT(a, b, c, d, e)                                                                                             \
    {                                                                                                                  \
        skInteger, {a, b, c, d, e}, nullptr                                                                            \
    }
#define CLR(a, b, c, d, e)                                                                                             \
    {                                                                                                                  \
        skColor, {a, b, c, d, e}, nullptr                                                                              \
    }
#define BOOL(a, b, c, d, e)                                                                                            \
    {                                                                                                                  \
        skBoolean, {a, b, c, d, e}, nullptr                                                                            \
    }

const TStyleRow kStyleTable[kKeyCount] = {
    /* 1 */ BMP("BUTTON"),
    /* 2 */ BOOL(1, 0, 0, 0, 1),
    /* 3 */ BMP("CHECKBOX"),
    /* 4 */ BMP("RADIOBUTTON"),
    /* 5 */ BMP("TITLEBTN"),
    /* 6 */ BOOL(0, 0, 0, 1, 1),
    /* 7 */ INT(3, 2, 0, 0, 4),
    /* 8 */ INT(-2, -2, 0, 0, -3),
    /* 9 */ INT(4, 5, 2, 2, 6),
    /* 10 */ BMP("TITLE_LEFT"),
    /* 11 */ BMP("TITLE_CLIENT"),
    /* 12 */ BMP("TITLE_RIGHT"),
    /* 13 */ INT(130, 150, 130, 130, 270),
    /* 14 */ INT(0, 13, 0, 0, 11),
    /* 15 */ CLR(0xE7E7E7, 0xDEEBEF, 0xE8E8E8, 0xFBFBFB, 0xE7E7E7),
    /* 16 */ CLR(0x7F7F7F, 0xC82C00, 0x000000, 0x000000, 0x000000),
    /* 17 */ INT(1, 3, 1, 1, 1),
    /* 18 */ CLR(0xC47339, 0xC66931, 0xA04A44, 0xC4302D, 0xEC5E5E),
    /* 19 */ CLR(0xC47339, 0xEFD3C6, 0xA04A44, 0xC4302D, 0xEC5E5E),
    /* 20 */ CLR(0xFFFFFF, 0x000000, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF),
    /* 21 */ CLR(0x000000, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xE7E7E7),
    /* 22 */ CLR(0x000000, 0x000000, 0x000000, 0x000000, 0x000000),
    /* 23 */ CLR(0x000000, 0xCED3D6, 0xCED3D6, 0xCED3D6, 0xCED3D6),
    /* 24 */ BMP("PROGRESSBAR"),
    /* 25 */ CLR(0x7F7F7F, 0x686868, 0x000000, 0x000000, 0x000000),
    /* 26 */ CLR(0xE7E7E7, 0xDEEBEF, 0xE8E8E8, 0xFBFBFB, 0xE7E7E7),
    /* 27 */ CLR(0x000000, 0xCF4602, 0x000000, 0x000000, 0x000000),
    /* 28 */ BMP("TRACKBAR_BAR"),
    /* 29 */ BMP("TRACKBAR_SLIDER"),
    /* 30 */ BMP("TRACKBAR_SLIDER_V"),
    /* 31 */ CLR(0xC9C9C9, 0xF9F9F9, 0xF5F5F5, 0xF5F5F5, 0xF4F4F4),
    /* 32 */ BMP("SCROLLBAR_BUTTON"),
    /* 33 */ BMP("SCROLLBAR_TRACK"),
    /* 34 */ BMP("CHECKLIST"),
    /* 35 */ CLR(0x474747, 0xC66931, 0x474747, 0x474747, 0x474747),
    /* 36 */ CLR(0xEFEFEF, 0xEFD3C6, 0xEFEFEF, 0xEFEFEF, 0xEFEFEF),
    /* 37 */ CLR(0xD8D8D8, 0xE1AC93, 0xD8D8D8, 0xD8D8D8, 0xD8D8D8),
    /* 38 */ BMP("SCROLLBUTTON"),
    /* 39 */ BMP("TAB"),
    /* 40 */ BMP("TAB_LINE"),
    /* 41 */ BMP("SIDECHENNEL_HANDLE"),
    /* 42 */ BMP("SIDECHENNEL_BAR"),
    /* 43 */ BMP(""),
    /* 44 */ CLR(0x000000, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF),
    /* 45 */ BMP(""),
    /* 46 */ BMP(""),
    /* 47 */ INT(0, 0, 0, 0, 0),
    /* 48 */ CLR(0xE7E7E7, 0xDEEBEF, 0xE8E8E8, 0xFBFBFB, 0xE7E7E7),
};

#undef BMP
#undef INT
#undef CLR
#undef BOOL

const char *const kStylePrefixes[kStyleCount] = {"MACOS", "WINXP", "DEEPBLUE", "PROTEIN", "BLUEGLASS"};

// The style index 0..4, or -1 for no built-in style.
int StyleIndex(TSkinUIStyle Style)
{
    const int s = int(quint8(Style) & 127);
    return (s >= 1 && s <= kStyleCount) ? s - 1 : -1;
}

const TStyleRow *Row(TSkinUIStyle Style, int Key)
{
    if (StyleIndex(Style) < 0 || Key < 1 || Key > kKeyCount)
        return nullptr;
    return &kStyleTable[Key - 1];
}

// Decoded resource bitmaps, kept for the program's run: the controls ask on every paint.
QMutex CacheLock;
QHash<QString, QImage> &BitmapCache()
{
    static QHash<QString, QImage> cache;
    return cache;
}

} // namespace

qint32 StyleValue(TSkinUIStyle Style, int Key, int &Kind)
{
    const TStyleRow *row = Row(Style, Key);
    if (!row) {
        Kind = skInteger;
        return -1;
    }
    Kind = row->Kind;
    if (row->Kind == skBitmap)
        return Key; // the name is what a bitmap key carries; see StyleBitmapName
    return row->Values[StyleIndex(Style)];
}

TColor StyleColor(TSkinUIStyle Style, int Key)
{
    int kind = 0;
    const qint32 v = StyleValue(Style, Key, kind);
    return kind == skColor ? TColor(v) : 0;
}

bool StyleBool(TSkinUIStyle Style, int Key)
{
    int kind = 0;
    const qint32 v = StyleValue(Style, Key, kind);
    return kind == skBoolean ? v != 0 : false;
}

qint32 StyleInteger(TSkinUIStyle Style, int Key)
{
    int kind = 0;
    const qint32 v = StyleValue(Style, Key, kind);
    return kind == skInteger ? v : -1;
}

QString StyleBitmapName(TSkinUIStyle Style, int Key)
{
    const TStyleRow *row = Row(Style, Key);
    if (!row || row->Kind != skBitmap || !*row->Bitmap)
        return {};
    const int s = StyleIndex(Style);
    // The scroll button of the three later styles is one shared picture.
    if (Key == 38 && s >= 2)
        return QStringLiteral("MORE_SCROLLBUTTON");
    return QString::fromLatin1(kStylePrefixes[s]) + QLatin1Char('_') + QString::fromLatin1(row->Bitmap);
}

QImage LoadSkinResourceBitmap(const QString &Name)
{
    if (Name.isEmpty())
        return {};
    const QString key = Name.toUpper();
    QMutexLocker lock(&CacheLock);
    auto it = BitmapCache().constFind(key);
    if (it != BitmapCache().constEnd())
        return *it;
    const QByteArrayView data = EmbeddedPng(u":/skin/styles/", key);
    QImage img = data.isEmpty() ? QImage() : DecodeSkinPng(data);
    if (!img.isNull())
        img = img.convertToFormat(QImage::Format_RGB32);
    BitmapCache().insert(key, img);
    return img;
}

bool LoadStyleBitmap(TSkinUIStyle Style, int Key, QImage *Bitmap)
{
    if (!Bitmap)
        return false;
    const QImage img = LoadSkinResourceBitmap(StyleBitmapName(Style, Key));
    if (img.isNull())
        return false;
    *Bitmap = img;
    return true;
}

bool LoadStyleBitmapFrame(TSkinUIStyle Style, int Key, QImage *Bitmap, int FrameIndex, int FrameCount)
{
    if (!Bitmap)
        return false;
    if (FrameCount == 0)
        return LoadStyleBitmap(Style, Key, Bitmap);
    QImage strip;
    if (!LoadStyleBitmap(Style, Key, &strip))
        return false;
    ExtractFrame(strip, *Bitmap, FrameCount, FrameIndex);
    return !Bitmap->isNull();
}

// ---- TSkinFileThemeMgr ----

TSkinFileThemeMgr::TSkinFileThemeMgr() = default;
TSkinFileThemeMgr::~TSkinFileThemeMgr() = default;

bool TSkinFileThemeMgr::Load(const QString &FileName, const QString &Password)
{
    m_Reader.reset();
    try {
        auto reader = std::make_unique<Tsk2SkinFileReader>(FileName, Password);
        if (!reader->Ready()) {
            qCWarning(lcSkin) << "skin file" << FileName << "has no skin data";
            return false;
        }
        m_Reader = std::move(reader);
        return true;
    } catch (const std::exception &e) {
        qCWarning(lcSkin) << "skin file" << FileName << "unread:" << e.what();
        return false;
    }
}

namespace {

QString KeyName(int Base, int Key)
{
    return Skin2KeyName(Base + (Key % 128));
}

} // namespace

const QImage *TSkinFileThemeMgr::GetBitmap(int Key) const
{
    return m_Reader ? m_Reader->GetBitmap(KeyName(kSkin2BitmapBase, Key)) : nullptr;
}

qint32 TSkinFileThemeMgr::GetColor(int Key) const
{
    return m_Reader ? m_Reader->GetInteger(KeyName(kSkin2ColorBase, Key)) : 0;
}

qint32 TSkinFileThemeMgr::GetInteger(int Key) const
{
    return m_Reader ? m_Reader->GetInteger(KeyName(kSkin2IntegerBase, Key)) : 0;
}

bool TSkinFileThemeMgr::GetBool(int Key) const
{
    return m_Reader ? m_Reader->GetBool(KeyName(kSkin2BooleanBase, Key)) != 0 : false;
}

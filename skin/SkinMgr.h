#pragma once

// The theme-file component and the rule every skinned control uses to choose between a loaded
// skin file and a built-in style.

#include "skin/SkinThemes.h"

#include <QImage>
#include <QObject>
#include <QString>

class QWidget;

// One loaded skin file, asked by the controls for bitmaps, colours, integers and flags by key.
class TSkinFileTheme : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString ThemeFile READ ThemeFile WRITE SetThemeFile)
    Q_PROPERTY(bool Ready READ Ready WRITE SetReady)
    Q_PROPERTY(QString Password READ Password WRITE SetPassword)
public:
    explicit TSkinFileTheme(QObject *AOwner = nullptr);
    ~TSkinFileTheme() override;

    QString ThemeFile() const { return m_ThemeFile; }
    // Looks the file up (as given, then its name in the program directory, the shared data
    // directory and the system directory) and loads it with Password; a name found nowhere
    // changes nothing.
    void SetThemeFile(const QString &Value);
    bool Ready() const { return m_Ready; }
    // Stored state only follows loading; writing it has no effect.
    void SetReady(bool) {}
    QString Password() const { return m_Password; }
    // A non-empty password reloads the current file with it.
    void SetPassword(const QString &Value);

    // The skin's bitmap for the key; nil when nothing is loaded or the key is absent.
    const QImage *GetBitmap(int Key) const;
    // Frame FrameIndex of FrameCount when both are non-zero, else the whole bitmap. Dest stays
    // as it is when there is no such bitmap.
    void GetBitmapFrame(int Key, QImage &Dest, int FrameIndex, int FrameCount) const;
    qint32 GetColor(int Key) const;
    qint32 GetInteger(int Key) const;
    bool GetBool(int Key) const;

private:
    TSkinFileThemeMgr m_Manager;
    QString m_ThemeFile;
    bool m_Ready = false;
    QString m_Password;
};

// Style := UIStyle. True when UIStyle is FromThemeFile and FileTheme is assigned and ready;
// FromThemeFile without a ready theme gives false and Style := DeepBlue; any other style gives
// false even with a theme.
bool ThemeFileInEffect(const TSkinFileTheme *FileTheme, TSkinUIStyle UIStyle, TSkinUIStyle &Style);

// The style of the first direct child of a form (a top-level widget) that is a skinned form
// frame (class "TSkinForm", property "UIStyle"); DeepBlue otherwise.
TSkinUIStyle FormStyleOfOwner(const QObject *AOwner);

// Every direct child widget of Container that has both a "FileTheme" and a "UIStyle" property
// gets FileTheme and then UIStyle.
void ApplyStyleToChildren(QWidget *Container, TSkinUIStyle UIStyle, TSkinFileTheme *FileTheme);

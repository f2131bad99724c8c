#pragma once

// A skinned panel with a one-pixel group frame and a caption set into its top edge.

#include "skin/SkinImagePanel.h"
#include "skin/SkinMgr.h"

#include <QColor>
#include <QPointer>
#include <QString>

class TSkinCustomGroupBox : public TSkinCustomPanel
{
    Q_OBJECT
    Q_PROPERTY(TSkinUIStyle UIStyle READ UIStyle WRITE SetUIStyle)
    Q_PROPERTY(TSkinFileTheme *FileTheme READ FileTheme WRITE SetFileTheme)
public:
    explicit TSkinCustomGroupBox(QWidget *AOwner = nullptr);

    QColor BorderColor() const { return m_BorderColor; }
    void SetBorderColor(const QColor &Value);
    // The box's own caption, drawn into the frame (the panel's text stays blank).
    QString Caption() const { return m_Caption; }
    void SetCaption(const QString &Value);
    // The names the rest of the program knows from Qt's group box.
    QString Title() const { return m_Caption; }
    void SetTitle(const QString &Value) { SetCaption(Value); }
    TSkinFileTheme *FileTheme() const { return m_FileTheme.data(); }
    void SetFileTheme(TSkinFileTheme *Value);
    TSkinUIStyle UIStyle() const { return m_UIStyle; }
    void SetUIStyle(TSkinUIStyle Value);
    QColor FontColor() const;

protected:
    virtual void UpdateUIStyle(TSkinUIStyle AUIStyle, TSkinFileTheme *AFileTheme);

    void paintEvent(QPaintEvent *Event) override;
    void changeEvent(QEvent *Event) override;

private:
    void FileThemeRemoved();
    void RealignChildren();
    int FontHeight() const;

    QColor m_BorderColor;
    QString m_Caption;
    QPointer<TSkinFileTheme> m_FileTheme;
    QMetaObject::Connection m_ThemeConnection;
    TSkinUIStyle m_UIStyle = TSkinUIStyle::DeepBlue;
};

class TSkinGroupBox : public TSkinCustomGroupBox
{
    Q_OBJECT
public:
    explicit TSkinGroupBox(QWidget *AOwner = nullptr) : TSkinCustomGroupBox(AOwner) {}
};

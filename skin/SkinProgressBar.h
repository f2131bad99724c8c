#pragma once

// A value between Min and Max shown as a filled bar drawn from a picture, with an optional
// percentage caption.

#include "skin/SkinMgr.h"

#include <QColor>
#include <QFrame>
#include <QImage>
#include <QPointer>
#include <QString>

enum class TSkinProgressBarOrientation { skinHorizontal, skinVertical };

class TSkinProgressBar : public QFrame
{
    Q_OBJECT
    Q_PROPERTY(TSkinUIStyle UIStyle READ UIStyle WRITE SetUIStyle)
    Q_PROPERTY(TSkinFileTheme *FileTheme READ FileTheme WRITE SetFileTheme)
public:
    explicit TSkinProgressBar(QWidget *AOwner = nullptr);

    // Min, Max and Position are taken as given, without any check or clamping.
    qint32 Max() const { return m_Max; }
    void SetMax(qint32 Value);
    qint32 Min() const { return m_Min; }
    void SetMin(qint32 Value);
    qint32 Position() const { return m_Position; }
    void SetPosition(qint32 Value);
    TSkinUIStyle UIStyle() const { return m_UIStyle; }
    void SetUIStyle(TSkinUIStyle Value);
    TSkinFileTheme *FileTheme() const { return m_FileTheme.data(); }
    void SetFileTheme(TSkinFileTheme *Value);
    TSkinProgressBarOrientation Orientation() const { return m_Orientation; }
    void SetOrientation(TSkinProgressBarOrientation Value);
    QColor BorderColor() const { return m_BorderColor; }
    void SetBorderColor(const QColor &Value);
    QColor Color() const { return m_Color; }
    void SetColor(const QColor &Value);
    QImage Picture() const { return m_Picture; }
    void SetPicture(const QImage &Value);
    bool ShowCaption() const { return m_ShowCaption; }
    void SetShowCaption(bool Value);
    QColor CaptionColor() const { return m_CaptionColor; }
    void SetCaptionColor(const QColor &Value);
    bool SmartShowCaption() const { return m_SmartShowCaption; }
    void SetSmartShowCaption(bool Value);
    QString Caption() const { return m_Caption; }

    // The names the rest of the program knows from Qt's progress bar, over the same values.
    int Value() const { return m_Position; }
    void SetValue(int Value) { SetPosition(Value); }
    int Minimum() const { return m_Min; }
    void SetMinimum(int Value) { SetMin(Value); }
    int Maximum() const { return m_Max; }
    void SetMaximum(int Value) { SetMax(Value); }
    void SetRange(int Minimum, int Maximum)
    {
        SetMin(Minimum);
        SetMax(Maximum);
    }
    void SetTextVisible(bool Value) { SetShowCaption(Value); }

    // Trunc((Position - Min) / (Max - Min) * 100), unclamped; 0 when Max = Min.
    int Percent() const;
    // The filled part of an available length L.
    int FilledLength(int L) const;

protected:
    void paintEvent(QPaintEvent *Event) override;

private:
    void ApplyStyle();
    void UpdateCaption();
    void FileThemeRemoved();
    void PaintBar(QPainter &Canvas, const QSize &Size);

    qint32 m_Max = 100;
    qint32 m_Min = 0;
    qint32 m_Position = 50;
    TSkinUIStyle m_UIStyle = TSkinUIStyle::DeepBlue;
    QPointer<TSkinFileTheme> m_FileTheme;
    QMetaObject::Connection m_ThemeConnection;
    TSkinProgressBarOrientation m_Orientation = TSkinProgressBarOrientation::skinHorizontal;
    QColor m_BorderColor;
    QColor m_Color;
    QImage m_Picture;
    bool m_ShowCaption = true;
    QColor m_CaptionColor = Qt::black;
    bool m_SmartShowCaption = false;
    QString m_Caption;
    // The skin file's frame, bar and bar-end pieces, used only while a skin file is in effect.
    QImage m_FramePiece, m_BarPiece, m_BarEndPiece;
};

// Draws piece P over R as three slices: E fixed columns (rows when vertical) at each end and the
// middle stretched between them. Nothing when R's left edge is negative.
void DrawPieces(QPainter &Canvas, const QImage &Piece, const QRect &R, int EndSize, bool Vertical);

#include "ui/PicButton.h"

#include "ui/PngImage.h"

TPicButton::TPicButton(QWidget *AOwner) : TCustomButton(AOwner) {}

void TPicButton::RekeyPictures()
{
    m_KeyNormal = KeyedPicture(m_PicNormal);
    m_KeyMouseHover = KeyedPicture(m_PicMouseHover);
    m_KeyMouseDown = KeyedPicture(m_PicMouseDown);
    m_KeyDisabled = KeyedPicture(m_PicDisabled);
    m_KeyedColor = TransparentColor();
}

void TPicButton::SetPicNormal(const QPixmap &Value)
{
    m_PicNormal = Value;
    m_KeyNormal = KeyedPicture(Value);
    update();
}

void TPicButton::SetPicMouseHover(const QPixmap &Value)
{
    m_PicMouseHover = Value;
    m_KeyMouseHover = KeyedPicture(Value);
    update();
}

void TPicButton::SetPicMouseDown(const QPixmap &Value)
{
    m_PicMouseDown = Value;
    m_KeyMouseDown = KeyedPicture(Value);
    update();
}

void TPicButton::SetPicDisabled(const QPixmap &Value)
{
    m_PicDisabled = Value;
    m_KeyDisabled = KeyedPicture(Value);
    update();
}

void TPicButton::LoadStatePictures(const QString &Base)
{
    SetPicNormal(LoadPicture(Base + QStringLiteral("_normal")));
    SetPicMouseHover(LoadPicture(Base + QStringLiteral("_hover")));
    SetPicMouseDown(LoadPicture(Base + QStringLiteral("_down")));
    SetPicDisabled(LoadPicture(Base + QStringLiteral("_disabled")));
}

bool TPicButton::GetStatePicture(QPixmap &Picture)
{
    if (m_KeyedColor != TransparentColor())
        RekeyPictures();
    // The pictures handed out are already keyed; the painter then draws them as they are.
    const bool keyed = EnableTransparentColor();
    const QPixmap &normal = keyed ? m_KeyNormal : m_PicNormal;
    const auto pick = [&](const QPixmap &Plain, const QPixmap &WithKey) -> const QPixmap & {
        const QPixmap &p = keyed ? WithKey : Plain;
        return p.isNull() ? normal : p;
    };
    if (!isEnabled())
        Picture = pick(m_PicDisabled, m_KeyDisabled);
    else if (IsDown())
        Picture = pick(m_PicMouseDown, m_KeyMouseDown);
    else if (IsHover())
        Picture = pick(m_PicMouseHover, m_KeyMouseHover);
    else
        Picture = normal;
    return !Picture.isNull();
}

#include "skin/SkinMgr.h"

#include "platform/shell/Shell.h"
#include "platform/system/TestVariables.h"
#include "skin/SkinPublic.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QVariant>
#include <QWidget>

namespace {

QString WithSlash(QString Dir)
{
    if (!Dir.isEmpty() && !Dir.endsWith(QLatin1Char('/')))
        Dir += QLatin1Char('/');
    return Dir;
}

// Where a bare skin-file name is looked for after the name as given: the program directory and
// the program's shared data folder beside it (<program dir>/../share/taskvane/, where an install
// puts what it ships), the shared data directory (where Windows had its own directory) and the
// system programs' directory. The two system places can be moved by environment variables in
// builds for tests.
QStringList SkinSearchDirs()
{
    QString shared = platform::system::TestVariable("TASKVANE_SHARED_DIR");
    if (shared.isEmpty())
        shared = QStringLiteral("/usr/share/");
    QString system = platform::system::TestVariable("TASKVANE_SYSTEM_DIR");
    if (system.isEmpty())
        system = QStringLiteral("/usr/bin/");
    return platform::shell::ProgramDataDirs(QCoreApplication::applicationDirPath()) +
        QStringList{WithSlash(shared), WithSlash(system)};
}

bool IsSkinnedFormFrame(const QObject *Object)
{
    return Object && Object->inherits("TSkinForm");
}

} // namespace

TSkinFileTheme::TSkinFileTheme(QObject *AOwner) : QObject(AOwner) {}

TSkinFileTheme::~TSkinFileTheme() = default;

void TSkinFileTheme::SetThemeFile(const QString &Value)
{
    const bool wasEmpty = m_ThemeFile.isEmpty();
    QString found;
    if (QFileInfo(Value).isFile()) {
        found = Value;
    } else {
        const QString name = QFileInfo(Value).fileName();
        if (!name.isEmpty())
            for (const QString &dir : SkinSearchDirs())
                if (QFileInfo(dir + name).isFile()) {
                    found = dir + name;
                    break;
                }
    }
    if (found.isEmpty())
        return;
    m_ThemeFile = found;
    m_Ready = m_Manager.Load(found, m_Password);

    auto *form = qobject_cast<QWidget *>(parent());
    if (!m_Ready || !form || !form->isWindow())
        return;
    bool redrawFrame = false;
    const QVariant self = QVariant::fromValue(this);
    for (QObject *child : form->findChildren<QObject *>()) {
        if (!HasProperty(child, "FileTheme"))
            continue;
        if (child->property("FileTheme").value<TSkinFileTheme *>() != this)
            continue;
        if (IsSkinnedFormFrame(child)) {
            redrawFrame = true;
        } else if (QString::fromLatin1(child->metaObject()->className()).startsWith(QLatin1String("TSkin"))) {
            // Setting the theme again makes the control apply the new skin.
            child->setProperty("FileTheme", QVariant::fromValue<TSkinFileTheme *>(nullptr));
            child->setProperty("FileTheme", self);
        }
    }
    if (redrawFrame && !wasEmpty)
        form->update();
}

void TSkinFileTheme::SetPassword(const QString &Value)
{
    m_Password = Value;
    if (!Value.isEmpty())
        SetThemeFile(m_ThemeFile);
}

const QImage *TSkinFileTheme::GetBitmap(int Key) const
{
    return m_Manager.GetBitmap(Key);
}

void TSkinFileTheme::GetBitmapFrame(int Key, QImage &Dest, int FrameIndex, int FrameCount) const
{
    const QImage *bmp = m_Manager.GetBitmap(Key);
    if (!bmp)
        return;
    if (FrameIndex != 0 && FrameCount != 0)
        ExtractFrame(*bmp, Dest, FrameCount, FrameIndex);
    else
        Dest = *bmp;
}

qint32 TSkinFileTheme::GetColor(int Key) const
{
    return m_Manager.GetColor(Key);
}

qint32 TSkinFileTheme::GetInteger(int Key) const
{
    return m_Manager.GetInteger(Key);
}

bool TSkinFileTheme::GetBool(int Key) const
{
    return m_Manager.GetBool(Key);
}

bool ThemeFileInEffect(const TSkinFileTheme *FileTheme, TSkinUIStyle UIStyle, TSkinUIStyle &Style)
{
    Style = UIStyle;
    if (UIStyle != TSkinUIStyle::FromThemeFile)
        return false;
    if (FileTheme && FileTheme->Ready())
        return true;
    Style = TSkinUIStyle::DeepBlue;
    return false;
}

TSkinUIStyle FormStyleOfOwner(const QObject *AOwner)
{
    const auto *form = qobject_cast<const QWidget *>(AOwner);
    if (!form || !form->isWindow())
        return TSkinUIStyle::DeepBlue;
    for (const QObject *child : form->children()) {
        if (!child->isWidgetType() || !IsSkinnedFormFrame(child))
            continue;
        const QVariant v = child->property("UIStyle");
        if (v.canConvert<TSkinUIStyle>())
            return v.value<TSkinUIStyle>();
        return TSkinUIStyle::DeepBlue;
    }
    return TSkinUIStyle::DeepBlue;
}

void ApplyStyleToChildren(QWidget *Container, TSkinUIStyle UIStyle, TSkinFileTheme *FileTheme)
{
    if (!Container)
        return;
    for (QObject *child : Container->children()) {
        if (!child->isWidgetType() || !HasProperty(child, "FileTheme") || !HasProperty(child, "UIStyle"))
            continue;
        child->setProperty("FileTheme", QVariant::fromValue(FileTheme));
        child->setProperty("UIStyle", QVariant::fromValue(UIStyle));
    }
}

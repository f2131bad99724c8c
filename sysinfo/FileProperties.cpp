#include "sysinfo/FileProperties.h"

#include "platform/files/DesktopEntryFile.h"
#include "platform/files/Dpkg.h"
#include "platform/files/FileStat.h"
#include "platform/files/MimeInfo.h"
#include "platform/files/SystemImageList.h"

#include <QLocale>

namespace {

SYSTEMTIME ToLocal(const platform::files::StatTime &T)
{
    return platform::LocalSystemTime(T.Seconds, T.Nanoseconds);
}

// A word of a command line, in double quotes when it holds a blank or a quote.
QString QuoteArgument(const QString &Arg)
{
    if (!Arg.isEmpty() && !Arg.contains(QLatin1Char(' ')) && !Arg.contains(QLatin1Char('\t')) &&
        !Arg.contains(QLatin1Char('"')))
        return Arg;
    QString quoted = Arg;
    quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

TFileProperties::TFileProperties(QObject *AOwner)
    : QObject(AOwner), m_GeneralInfo(new TGeneralInfo(this)), m_VersionInfo(new TVersionInfo(this)),
      m_ShortcutInfo(new TShortcutInfo(this))
{}

TFileProperties::~TFileProperties()
{
    delete m_ShortcutInfo;
    delete m_VersionInfo;
    delete m_GeneralInfo;
}

bool TFileProperties::LoadFromFile(const QString &FileName)
{
    m_GeneralInfo->IconIndex = -1;
    if (!m_FilePath.isEmpty())
        Clear();
    platform::files::FileStatus st;
    if (!platform::files::StatFile(FileName, st) || st.Kind == platform::files::FileKind::Directory)
        return false;
    m_FilePath = FileName;
    ReadGeneralInfo();
    ReadVersionInfo();
    ReadShortcutInfo();
    return true;
}

bool TFileProperties::LoadVersionInfo(const QString &FileName)
{
    if (!m_FilePath.isEmpty())
        Clear();
    if (FileName.isEmpty())
        return false;
    m_FilePath = FileName;
    ReadNames();
    ReadVersionInfo();
    return true;
}

void TFileProperties::Clear()
{
    m_FilePath.clear();
    ClearGeneralInfo();
    ClearVersionInfo();
    ClearShortcutInfo();
}

void TFileProperties::ClearGeneralInfo()
{
    *m_GeneralInfo = TGeneralInfo(this);
}

void TFileProperties::ClearVersionInfo()
{
    *m_VersionInfo = TVersionInfo(this);
}

void TFileProperties::ClearShortcutInfo()
{
    *m_ShortcutInfo = TShortcutInfo(this);
}

void TFileProperties::ReadNames()
{
    TGeneralInfo &g = *m_GeneralInfo;
    const qsizetype slash = m_FilePath.lastIndexOf(QLatin1Char('/'));
    g.Directory = m_FilePath.left(slash + 1);
    g.FileName = m_FilePath.mid(slash + 1);
}

void TFileProperties::ReadGeneralInfo()
{
    ReadNames();
    TGeneralInfo &g = *m_GeneralInfo;

    platform::files::FileStatus st;
    if (platform::files::StatFile(m_FilePath, st)) {
        g.Size = st.Size;
        g.SizeOnDisk = st.Allocated;
        if (st.HasBirthTime)
            g.CreationTime = ToLocal(st.BirthTime);
        g.LastWriteTime = ToLocal(st.ModifyTime);
        g.LastAccessTime = ToLocal(st.AccessTime);
        g.ReadOnly = st.Immutable || (st.Mode & 0222) == 0;
        g.System = st.Kind == platform::files::FileKind::CharDevice ||
            st.Kind == platform::files::FileKind::BlockDevice || st.Kind == platform::files::FileKind::Fifo ||
            st.Kind == platform::files::FileKind::Socket;
        g.Archive = !st.NoDump;
        g.Indexed = true; // no attribute keeps a file out of indexing here
        g.Compressed = st.Compressed;
        g.Encrypted = st.Encrypted;
    }
    g.Hidden = g.FileName.startsWith(QLatin1Char('.'));

    const platform::files::MimeInfo mime = platform::files::MimeInfoForFile(m_FilePath);
    if (mime.Name.isEmpty()) {
        g.Icon.clear();
        g.IconIndex = -1;
        g.TypeName.clear();
    } else {
        g.Icon = mime.IconName;
        g.IconIndex = platform::files::SystemImageIndex(mime.IconName);
        g.TypeName = mime.Comment.left(80);
    }
}

void TFileProperties::ReadVersionInfo()
{
    // Linux executables carry no version block: a file that a package installed takes its
    // texts from the package database; any other file has none.
    const auto package = platform::files::OwningPackage(m_FilePath);
    if (!package)
        return;
    const auto info = platform::files::FindPackageInfo(*package);
    if (!info)
        return;
    TVersionInfo &v = *m_VersionInfo;
    v.ProductName = info->Name;
    v.FileVersion = info->Version;
    v.ProductVersion = info->Version;
    v.CompanyName = info->Maintainer;
    v.FileDescription = info->Description;
    v.InternalName = m_GeneralInfo->FileName;
    v.OriginalFilename = m_GeneralInfo->FileName;
}

void TFileProperties::ReadShortcutInfo()
{
    TShortcutInfo &s = *m_ShortcutInfo;
    s.IsShortcut = false;
    const auto entry = platform::files::ReadDesktopEntry(m_FilePath, QLocale().name());
    if (!entry)
        return;
    s.IsShortcut = true;
    s.Target = entry->Program;
    QStringList args;
    for (const QString &a : entry->Arguments)
        args.append(QuoteArgument(a));
    s.Arguments = args.join(QLatin1Char(' '));
    s.CommandLine = s.Arguments.isEmpty() ? s.Target : QLatin1Char('"') + s.Target + QLatin1String("\" ") + s.Arguments;
    s.WorkingDirectory = entry->Path;
    s.Description = entry->Comment;
    s.IconLocation = entry->Icon;
    s.IconIndex = entry->Icon.isEmpty() ? -1 : 0;
    s.ShowCmd = 1;
    s.Hotkey = 0;
}

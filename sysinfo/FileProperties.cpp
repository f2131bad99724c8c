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
    return platform::localSystemTime(T.seconds, T.nanoseconds);
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
    : QObject(AOwner), m_generalInfo(new TGeneralInfo(this)), m_versionInfo(new TVersionInfo(this)),
      m_shortcutInfo(new TShortcutInfo(this))
{}

TFileProperties::~TFileProperties()
{
    delete m_shortcutInfo;
    delete m_versionInfo;
    delete m_generalInfo;
}

bool TFileProperties::LoadFromFile(const QString &FileName)
{
    m_generalInfo->IconIndex = -1;
    if (!m_filePath.isEmpty())
        Clear();
    platform::files::FileStatus st;
    if (!platform::files::statFile(FileName, st) || st.kind == platform::files::FileKind::Directory)
        return false;
    m_filePath = FileName;
    ReadGeneralInfo();
    ReadVersionInfo();
    ReadShortcutInfo();
    return true;
}

bool TFileProperties::LoadVersionInfo(const QString &FileName)
{
    if (!m_filePath.isEmpty())
        Clear();
    if (FileName.isEmpty())
        return false;
    m_filePath = FileName;
    ReadNames();
    ReadVersionInfo();
    return true;
}

void TFileProperties::Clear()
{
    m_filePath.clear();
    ClearGeneralInfo();
    ClearVersionInfo();
    ClearShortcutInfo();
}

void TFileProperties::ClearGeneralInfo()
{
    *m_generalInfo = TGeneralInfo(this);
}

void TFileProperties::ClearVersionInfo()
{
    *m_versionInfo = TVersionInfo(this);
}

void TFileProperties::ClearShortcutInfo()
{
    *m_shortcutInfo = TShortcutInfo(this);
}

void TFileProperties::ReadNames()
{
    TGeneralInfo &g = *m_generalInfo;
    const qsizetype slash = m_filePath.lastIndexOf(QLatin1Char('/'));
    g.Directory = m_filePath.left(slash + 1);
    g.FileName = m_filePath.mid(slash + 1);
}

void TFileProperties::ReadGeneralInfo()
{
    ReadNames();
    TGeneralInfo &g = *m_generalInfo;

    platform::files::FileStatus st;
    if (platform::files::statFile(m_filePath, st)) {
        g.Size = st.size;
        g.SizeOnDisk = st.allocated;
        if (st.hasBirthTime)
            g.CreationTime = ToLocal(st.birthTime);
        g.LastWriteTime = ToLocal(st.modifyTime);
        g.LastAccessTime = ToLocal(st.accessTime);
        g.ReadOnly = st.immutable || (st.mode & 0222) == 0;
        g.System = st.kind == platform::files::FileKind::CharDevice ||
            st.kind == platform::files::FileKind::BlockDevice || st.kind == platform::files::FileKind::Fifo ||
            st.kind == platform::files::FileKind::Socket;
        g.Archive = !st.noDump;
        g.Indexed = true; // no attribute keeps a file out of indexing here
        g.Compressed = st.compressed;
        g.Encrypted = st.encrypted;
    }
    g.Hidden = g.FileName.startsWith(QLatin1Char('.'));

    const platform::files::MimeInfo mime = platform::files::mimeInfoForFile(m_filePath);
    if (mime.name.isEmpty()) {
        g.Icon.clear();
        g.IconIndex = -1;
        g.TypeName.clear();
    } else {
        g.Icon = mime.iconName;
        g.IconIndex = platform::files::systemImageIndex(mime.iconName);
        g.TypeName = mime.comment.left(80);
    }
}

void TFileProperties::ReadVersionInfo()
{
    // Linux executables carry no version block: a file that a package installed takes its
    // texts from the package database; any other file has none.
    const auto package = platform::files::owningPackage(m_filePath);
    if (!package)
        return;
    const auto info = platform::files::packageInfo(*package);
    if (!info)
        return;
    TVersionInfo &v = *m_versionInfo;
    v.ProductName = info->name;
    v.FileVersion = info->version;
    v.ProductVersion = info->version;
    v.CompanyName = info->maintainer;
    v.FileDescription = info->description;
    v.InternalName = m_generalInfo->FileName;
    v.OriginalFilename = m_generalInfo->FileName;
}

void TFileProperties::ReadShortcutInfo()
{
    TShortcutInfo &s = *m_shortcutInfo;
    s.IsShortcut = false;
    const auto entry = platform::files::readDesktopEntry(m_filePath, QLocale().name());
    if (!entry)
        return;
    s.IsShortcut = true;
    s.Target = entry->program;
    QStringList args;
    for (const QString &a : entry->arguments)
        args.append(QuoteArgument(a));
    s.Arguments = args.join(QLatin1Char(' '));
    s.CommandLine = s.Arguments.isEmpty() ? s.Target : QLatin1Char('"') + s.Target + QLatin1String("\" ") + s.Arguments;
    s.WorkingDirectory = entry->path;
    s.Description = entry->comment;
    s.IconLocation = entry->icon;
    s.IconIndex = entry->icon.isEmpty() ? -1 : 0;
    s.ShowCmd = 1;
    s.Hotkey = 0;
}

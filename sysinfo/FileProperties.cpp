#include "sysinfo/FileProperties.h"

#include "platform/files/DesktopEntryFile.h"
#include "platform/files/Dpkg.h"
#include "platform/files/FileStat.h"
#include "platform/files/MimeInfo.h"
#include "platform/files/RegularFile.h"
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
    using platform::files::FileKind;
    using platform::files::RegularFileReader;
    m_GeneralInfo->IconIndex = -1;
    if (!m_FilePath.isEmpty())
        Clear();
    RegularFileReader file;
    platform::files::FileStatus st;
    const RegularFileReader::OpenResult opened = file.Open(FileName, &st);
    // Looked at, but no regular file to read (a device, a FIFO, a kernel file) or not readable:
    // described from its status alone.
    const bool looked = opened == RegularFileReader::OpenResult::Opened || st.Kind != FileKind::Other;
    if (!looked || st.Kind == FileKind::Directory)
        return false;
    m_FilePath = FileName;
    if (file.IsOpen())
        ReadAll(&file, st, {FileName, file.CurrentPath()});
    else
        ReadAll(nullptr, st, {});
    return true;
}

bool TFileProperties::LoadFromImage(int Image, const QString &FileName, const QString &ImagePath)
{
    using platform::files::RegularFileReader;
    m_GeneralInfo->IconIndex = -1;
    if (!m_FilePath.isEmpty())
        Clear();
    if (Image < 0)
        return false;
    RegularFileReader file;
    platform::files::FileStatus st;
    if (file.Adopt(Image, &st) != RegularFileReader::OpenResult::Opened)
        return false;
    m_FilePath = FileName;
    ReadAll(&file, st, ImagePath.isEmpty() ? QStringList() : QStringList{ImagePath});
    return true;
}

bool TFileProperties::LoadVersionInfo(const QString &FileName, const platform::files::FileIdentity &Identity)
{
    if (!m_FilePath.isEmpty())
        Clear();
    if (FileName.isEmpty())
        return false;
    m_FilePath = FileName;
    ReadNames();
    ReadVersionInfo({FileName}, Identity);
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

void TFileProperties::ReadAll(platform::files::RegularFileReader *File, const platform::files::FileStatus &Status,
                              const QStringList &PackagePaths)
{
    // What the type is known by: the start of the file, read once from the open descriptor.
    QByteArray head;
    if (File)
        head = File->ReadHead(platform::files::kMimeHeadSize).value_or(QByteArray());
    ReadGeneralInfo(Status, head);
    if (!File)
        return;
    if (const auto identity = File->Identity())
        ReadVersionInfo(PackagePaths, *identity);
    ReadShortcutInfo(*File, head);
}

void TFileProperties::ReadGeneralInfo(const platform::files::FileStatus &Status, const QByteArray &Head)
{
    using platform::files::FileKind;
    ReadNames();
    TGeneralInfo &g = *m_GeneralInfo;

    const platform::files::FileStatus &st = Status;
    g.Size = st.Size;
    g.SizeOnDisk = st.Allocated;
    if (st.HasBirthTime)
        g.CreationTime = ToLocal(st.BirthTime);
    g.LastWriteTime = ToLocal(st.ModifyTime);
    g.LastAccessTime = ToLocal(st.AccessTime);
    g.ReadOnly = st.Immutable || (st.Mode & 0222) == 0;
    g.System = st.Kind == FileKind::CharDevice || st.Kind == FileKind::BlockDevice || st.Kind == FileKind::Fifo ||
        st.Kind == FileKind::Socket;
    g.Archive = !st.NoDump;
    g.Indexed = true; // no attribute keeps a file out of indexing here
    g.Compressed = st.Compressed;
    g.Encrypted = st.Encrypted;
    g.Hidden = g.FileName.startsWith(QLatin1Char('.'));

    const platform::files::MimeInfo mime = st.Kind == FileKind::Regular
        ? platform::files::MimeInfoForData(g.FileName, Head)
        : platform::files::MimeInfoForKind(st.Kind);
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

void TFileProperties::ReadVersionInfo(const QStringList &Paths, const platform::files::FileIdentity &Identity)
{
    // Linux executables carry no version block: a file that a package installed takes its
    // texts from the package database; any other file has none.
    const auto package = platform::files::OwningPackage(Paths, Identity);
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

void TFileProperties::ReadShortcutInfo(platform::files::RegularFileReader &File, const QByteArray &Head)
{
    TShortcutInfo &s = *m_ShortcutInfo;
    s.IsShortcut = false;
    if (!platform::files::MayBeDesktopEntry(Head))
        return;
    // A head shorter than asked for is the whole file already.
    std::optional<QByteArray> content = Head;
    if (Head.size() >= platform::files::kMimeHeadSize)
        content = File.ReadHead(platform::files::kMaxDesktopEntrySize + 1);
    const auto entry = content ? platform::files::ParseDesktopEntry(*content, QLocale().name()) : std::nullopt;
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

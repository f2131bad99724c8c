#include "platform/files/Dpkg.h"

#include "platform/files/RegularFile.h"
#include "platform/system/TestVariables.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QStringList>

#include <memory>
#include <mutex>

#include <sys/stat.h>

namespace platform::files {

namespace {

// The database's files, read whole: a file list of the largest packages is some megabytes, the
// status file some tens.
constexpr qint64 kMaxListSize = qint64{64} << 20;
constexpr qint64 kMaxStatusSize = qint64{256} << 20;

struct AliasDir
{
    QString Link;   // e.g. "/bin"
    QString Target; // e.g. "/usr/bin"
};

class DpkgDatabase
{
public:
    explicit DpkgDatabase(QString Dir) : m_Dir(std::move(Dir)) {}

    std::optional<QString> Owner(const QString &Path)
    {
        std::call_once(m_ListsOnce, [this] { LoadLists(); });
        for (const QString &candidate : Candidates(Path)) {
            const auto it = m_Owners.constFind(QFile::encodeName(candidate));
            if (it != m_Owners.cend())
                return m_Packages.at(it.value());
        }
        return std::nullopt;
    }

    std::optional<QString> Owner(const QStringList &Paths, const FileIdentity &Identity)
    {
        std::call_once(m_ListsOnce, [this] { LoadLists(); });
        for (const QString &path : Paths) {
            for (const QString &candidate : Candidates(path)) {
                const QByteArray native = QFile::encodeName(candidate);
                const auto it = m_Owners.constFind(native);
                if (it == m_Owners.cend())
                    continue;
                // A listed path of the system's, as it leads now: to the very file examined, or it
                // says nothing about that file.
                struct stat st = {};
                if (::stat(native.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
                    FileIdentity{quint64(st.st_dev), quint64(st.st_ino)} == Identity)
                    return m_Packages.at(it.value());
            }
        }
        return std::nullopt;
    }

    std::optional<PackageInfo> Info(const QString &Name)
    {
        std::call_once(m_StatusOnce, [this] { LoadStatus(); });
        const auto it = m_Status.constFind(Name);
        if (it == m_Status.cend())
            return std::nullopt;
        return it.value();
    }

private:
    void LoadLists()
    {
        QDir info(m_Dir + QStringLiteral("/info"));
        const QStringList lists = info.entryList({QStringLiteral("*.list")}, QDir::Files, QDir::Name);
        QHash<QString, int> packageIndex;
        for (const QString &fileName : lists) {
            QString package = fileName.chopped(5);
            const qsizetype colon = package.indexOf(QLatin1Char(':'));
            if (colon >= 0)
                package.truncate(colon);
            if (package.isEmpty())
                continue;
            const std::optional<QByteArray> content = ReadRegularFile(info.filePath(fileName), kMaxListSize);
            if (!content)
                continue;
            auto idx = packageIndex.constFind(package);
            if (idx == packageIndex.cend()) {
                idx = packageIndex.insert(package, int(m_Packages.size()));
                m_Packages.append(package);
            }
            for (QByteArray line : content->split('\n')) {
                if (line.endsWith('\r'))
                    line.chop(1);
                if (line.isEmpty() || line.at(0) != '/' || line == "/.")
                    continue;
                m_Owners.insert(line, idx.value()); // later lists win for shared directories
            }
        }
        m_Aliases = FindAliases();
    }

    // Top-level directories that are symbolic links to other directories (merged /usr).
    static QList<AliasDir> FindAliases()
    {
        QList<AliasDir> aliases;
        const QFileInfoList entries =
            QDir(QStringLiteral("/")).entryInfoList(QDir::Dirs | QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo &fi : entries) {
            if (!fi.isSymLink())
                continue;
            const QString target = fi.canonicalFilePath();
            if (!target.isEmpty() && target != fi.absoluteFilePath())
                aliases.append({fi.absoluteFilePath(), target});
        }
        return aliases;
    }

    QStringList Candidates(const QString &Path) const
    {
        // Only the text: a path is never followed here, where a link in it may be anyone's.
        QStringList result;
        const QString clean = QDir::cleanPath(Path);
        result.append(clean);
        for (const AliasDir &alias : m_Aliases) {
            if (clean.startsWith(alias.Target + QLatin1Char('/')))
                result.append(alias.Link + clean.mid(alias.Target.size()));
            else if (clean.startsWith(alias.Link + QLatin1Char('/')))
                result.append(alias.Target + clean.mid(alias.Link.size()));
        }
        return result;
    }

    void LoadStatus()
    {
        const std::optional<QByteArray> content = ReadRegularFile(m_Dir + QStringLiteral("/status"), kMaxStatusSize);
        if (!content)
            return;
        PackageInfo current;
        bool installed = false;
        auto flush = [&] {
            if (installed && !current.Name.isEmpty() && !m_Status.contains(current.Name))
                m_Status.insert(current.Name, current);
            current = PackageInfo();
            installed = false;
        };
        for (QByteArray line : content->split('\n')) {
            if (line.endsWith('\r'))
                line.chop(1);
            if (line.isEmpty()) {
                flush();
                continue;
            }
            if (line.at(0) == ' ' || line.at(0) == '\t')
                continue; // continuation of a multi-line field
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray key = line.left(colon);
            const QString value = QString::fromUtf8(line.mid(colon + 1).trimmed());
            if (key == "Package")
                current.Name = value;
            else if (key == "Status")
                installed = value.endsWith(QLatin1String(" installed"));
            else if (key == "Version")
                current.Version = value;
            else if (key == "Maintainer")
                current.Maintainer = value;
            else if (key == "Description")
                current.Description = value;
        }
        flush();
    }

    const QString m_Dir;
    std::once_flag m_ListsOnce;
    std::once_flag m_StatusOnce;
    QHash<QByteArray, int> m_Owners;
    QList<QString> m_Packages;
    QList<AliasDir> m_Aliases;
    QHash<QString, PackageInfo> m_Status;
};

std::mutex g_mutex;
std::shared_ptr<DpkgDatabase> g_database;

QString DefaultDir()
{
    const QString env = system::TestVariable("TASKVANE_DPKG_ADMINDIR");
    return env.isEmpty() ? QStringLiteral("/var/lib/dpkg") : env;
}

std::shared_ptr<DpkgDatabase> Database()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_database)
        g_database = std::make_shared<DpkgDatabase>(DefaultDir());
    return g_database;
}

} // namespace

std::optional<QString> OwningPackage(const QString &Path)
{
    // A relative path would be taken from the working folder: it names no installed file.
    if (!Path.startsWith(QLatin1Char('/')))
        return std::nullopt;
    return Database()->Owner(Path);
}

std::optional<QString> OwningPackage(const QStringList &Paths, const FileIdentity &Identity)
{
    if (Paths.isEmpty())
        return std::nullopt;
    return Database()->Owner(Paths, Identity);
}

std::optional<PackageInfo> FindPackageInfo(const QString &Name)
{
    if (Name.isEmpty())
        return std::nullopt;
    return Database()->Info(Name);
}

#if TASKVANE_TEST_SEAMS
void SetDpkgDatabaseDir(const QString &Dir)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_database = std::make_shared<DpkgDatabase>(Dir.isEmpty() ? DefaultDir() : Dir);
}
#endif

} // namespace platform::files

#include "platform/files/Dpkg.h"

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

namespace platform::files {

namespace {

struct AliasDir
{
    QString link;   // e.g. "/bin"
    QString target; // e.g. "/usr/bin"
};

class DpkgDatabase
{
public:
    explicit DpkgDatabase(QString dir) : m_dir(std::move(dir)) {}

    std::optional<QString> owner(const QString &path)
    {
        std::call_once(m_listsOnce, [this] { loadLists(); });
        for (const QString &candidate : candidates(path)) {
            const auto it = m_owners.constFind(QFile::encodeName(candidate));
            if (it != m_owners.cend())
                return m_packages.at(it.value());
        }
        return std::nullopt;
    }

    std::optional<PackageInfo> info(const QString &name)
    {
        std::call_once(m_statusOnce, [this] { loadStatus(); });
        const auto it = m_status.constFind(name);
        if (it == m_status.cend())
            return std::nullopt;
        return it.value();
    }

private:
    void loadLists()
    {
        QDir info(m_dir + QStringLiteral("/info"));
        const QStringList lists = info.entryList({QStringLiteral("*.list")}, QDir::Files, QDir::Name);
        QHash<QString, int> packageIndex;
        for (const QString &fileName : lists) {
            QString package = fileName.chopped(5);
            const qsizetype colon = package.indexOf(QLatin1Char(':'));
            if (colon >= 0)
                package.truncate(colon);
            if (package.isEmpty())
                continue;
            QFile f(info.filePath(fileName));
            if (!f.open(QIODevice::ReadOnly))
                continue;
            auto idx = packageIndex.constFind(package);
            if (idx == packageIndex.cend()) {
                idx = packageIndex.insert(package, int(m_packages.size()));
                m_packages.append(package);
            }
            const QByteArray content = f.readAll();
            for (QByteArray line : content.split('\n')) {
                if (line.endsWith('\r'))
                    line.chop(1);
                if (line.isEmpty() || line.at(0) != '/' || line == "/.")
                    continue;
                m_owners.insert(line, idx.value()); // later lists win for shared directories
            }
        }
        m_aliases = findAliases();
    }

    // Top-level directories that are symbolic links to other directories (merged /usr).
    static QList<AliasDir> findAliases()
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

    QStringList candidates(const QString &path) const
    {
        QStringList result;
        const QString clean = QDir::cleanPath(path);
        result.append(clean);
        const QString canonical = QFileInfo(clean).canonicalFilePath();
        if (!canonical.isEmpty() && canonical != clean)
            result.append(canonical);
        const QStringList bases = result;
        for (const QString &base : bases) {
            for (const AliasDir &alias : m_aliases) {
                if (base.startsWith(alias.target + QLatin1Char('/')))
                    result.append(alias.link + base.mid(alias.target.size()));
                else if (base.startsWith(alias.link + QLatin1Char('/')))
                    result.append(alias.target + base.mid(alias.link.size()));
            }
        }
        return result;
    }

    void loadStatus()
    {
        QFile f(m_dir + QStringLiteral("/status"));
        if (!f.open(QIODevice::ReadOnly))
            return;
        const QByteArray content = f.readAll();
        PackageInfo current;
        bool installed = false;
        auto flush = [&] {
            if (installed && !current.name.isEmpty() && !m_status.contains(current.name))
                m_status.insert(current.name, current);
            current = PackageInfo();
            installed = false;
        };
        for (QByteArray line : content.split('\n')) {
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
                current.name = value;
            else if (key == "Status")
                installed = value.endsWith(QLatin1String(" installed"));
            else if (key == "Version")
                current.version = value;
            else if (key == "Maintainer")
                current.maintainer = value;
            else if (key == "Description")
                current.description = value;
        }
        flush();
    }

    const QString m_dir;
    std::once_flag m_listsOnce;
    std::once_flag m_statusOnce;
    QHash<QByteArray, int> m_owners;
    QList<QString> m_packages;
    QList<AliasDir> m_aliases;
    QHash<QString, PackageInfo> m_status;
};

std::mutex g_mutex;
std::shared_ptr<DpkgDatabase> g_database;

QString defaultDir()
{
    const QString env = system::testVariable("TASKVANE_DPKG_ADMINDIR");
    return env.isEmpty() ? QStringLiteral("/var/lib/dpkg") : env;
}

std::shared_ptr<DpkgDatabase> database()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_database)
        g_database = std::make_shared<DpkgDatabase>(defaultDir());
    return g_database;
}

} // namespace

std::optional<QString> owningPackage(const QString &path)
{
    if (path.isEmpty())
        return std::nullopt;
    return database()->owner(path);
}

std::optional<PackageInfo> packageInfo(const QString &name)
{
    if (name.isEmpty())
        return std::nullopt;
    return database()->info(name);
}

void setDpkgDatabaseDir(const QString &dir)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_database = std::make_shared<DpkgDatabase>(dir.isEmpty() ? defaultDir() : dir);
}

} // namespace platform::files

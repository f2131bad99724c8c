#pragma once

#include "platform/files/FolderNoFollow.h"
#include "platform/system/TestSeams.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace platform::files {

// What the dpkg status database says about an installed package.
struct PackageInfo
{
    QString Name;
    QString Version;
    QString Maintainer;
    QString Description; // the first (synopsis) line
};

// The package that installed `Path`, looked up in the dpkg file lists (read once, on first
// use) by the text alone. Directory aliases of a merged /usr (/bin -> usr/bin ...) are followed
// both ways, so /usr/bin/ls finds the package that lists /bin/ls. Empty when no package owns it.
std::optional<QString> OwningPackage(const QString &Path);
// The package that installed the very file `Identity` names, examined by the caller and known to
// it under `Paths`: a package counts only when a listed path among them (or their aliases) leads
// now to that file, so that a path another user bound or linked elsewhere names no package.
std::optional<QString> OwningPackage(const QStringList &Paths, const FileIdentity &Identity);

// Version, maintainer and description of an installed package (status database, read once).
std::optional<PackageInfo> FindPackageInfo(const QString &Name);

#if TASKVANE_TEST_SEAMS
// Points the reader at another database directory (the layout of /var/lib/dpkg: info/*.list
// and status) and forgets what was read; an empty text restores the default, which is
// $TASKVANE_DPKG_ADMINDIR when set (in a build for tests), else /var/lib/dpkg.
void SetDpkgDatabaseDir(const QString &Dir);
#endif

} // namespace platform::files

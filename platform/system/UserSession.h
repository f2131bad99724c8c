#pragma once

#include "platform/files/UniqueFd.h"

#include <QString>
#include <QtGlobal>

#include <optional>

namespace platform::system {

// A folder only the running user may enter (files::OnlyOwnerMayEnter): a real directory (not a
// link) the user owns, with no permission for group or others. `Path` is tested as it stands.
bool IsFolderOnlyUserMayEnter(const QString &Path);

// What the account database says of a user.
struct Account
{
    QString Name;
    QString Home;  // absolute, or empty
    QString Shell; // empty when none is given
};
std::optional<Account> AccountOf(quint32 Uid);

// The folder that holds every user's session folder: /run/user (in a build for tests,
// TASKVANE_RUN_USER_DIR stands in for it).
QString RunUserRoot();

// A user's own session folder, <RunUserRoot>/<uid>, when it is a folder only that user may enter
// (the running user's, for the running user) below a folder only root may change; empty else.
// No environment variable is asked: whoever started the program chose those.
QString UserRuntimeDir(quint32 Uid);

// The folder of the program's own sockets, one per user whatever the environment says: the
// user's session folder (UserRuntimeDir), else "taskvane-<uid>" in /tmp (in a build for tests,
// TASKVANE_TEMP_DIR stands in for /tmp), made with mode 0700 when missing. Each is opened
// through its parent, which must be a trusted path, without following a link, and held open:
// what was checked is what is used. Nothing when neither is a folder only the user may enter
// (another user's folder, one open to others, a link): nothing that needs a private folder is to
// be done then.
class InstanceFolder
{
public:
    static std::optional<InstanceFolder> Open();

    InstanceFolder(InstanceFolder &&) noexcept = default;
    InstanceFolder &operator=(InstanceFolder &&) noexcept = default;

    // Where the folder lies, for the log and the tests.
    QString Path() const { return m_Path; }
    // `Name` (a plain file name) in the held folder, as a path that reaches it through the held
    // descriptor rather than by the folder's name: for bind, connect, lock files and removal.
    QString Reach(const QString &Name) const;

private:
    InstanceFolder(int Fd, const QString &Path) : m_Fd(Fd), m_Path(Path) {}
    files::UniqueFd m_Fd;
    QString m_Path;
};

// The user id of the process at the other end of a connected local socket (its descriptor);
// nothing when it cannot be told.
std::optional<quint32> PeerUserId(qintptr Socket);
// The user id of whoever listens on the abstract local socket `Name` (without its leading NUL),
// found by connecting to it; nothing when nobody answers at once.
std::optional<quint32> AbstractSocketOwner(const QByteArray &Name);

} // namespace platform::system

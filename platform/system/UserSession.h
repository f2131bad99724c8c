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
// user's session folder (UserRuntimeDir); else, for root, "taskvane-0" in /run, where only root
// may make names; else "taskvane-<uid>" in /tmp or, when another user has taken that name first,
// the first of "taskvane-<uid>-1" to "-15" that is free, the same for every start (an existing
// one of the user's first); in a build for tests TASKVANE_RUN_DIR and TASKVANE_TEMP_DIR stand in
// for /run and /tmp. A folder missing is made with mode 0700. Each is opened through its parent,
// which must be a trusted path, without following a link, and held open: what was checked is
// what is used. Nothing when no folder only the user may enter can be had: nothing that needs a
// private folder is to be done then. A name passed over, or none found, is written to the log.
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

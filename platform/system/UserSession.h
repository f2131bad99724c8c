#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace platform::system {

// A folder of the running user's that no one else may enter: a real directory (not a link)
// the user owns, with no permission for group or others. `Path` is tested as it stands.
bool IsPrivateDir(const QString &Path);

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

// A user's own session folder, <RunUserRoot>/<uid>, when it is a private folder of that user's
// (the running user's, for the running user) below a folder only root may change; empty else.
// No environment variable is asked: whoever started the program chose those.
QString UserRuntimeDir(quint32 Uid);

// The folder for the program's own sockets: $XDG_RUNTIME_DIR when it is a private folder of
// the running user's, else "taskvane-<uid>" in the temporary folder, made with mode 0700 when
// missing and then held to the same test. Empty when neither can be had (the temporary one
// exists and is not such a folder): nothing that needs a private folder is to be done then.
QString PrivateRuntimeDir();

// The user id of the process at the other end of a connected local socket (its descriptor);
// nothing when it cannot be told.
std::optional<quint32> PeerUserId(qintptr Socket);
// The user id of whoever listens on the abstract local socket `Name` (without its leading NUL),
// found by connecting to it; nothing when nobody answers at once.
std::optional<quint32> AbstractSocketOwner(const QByteArray &Name);

} // namespace platform::system

#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace platform::system {

// A folder of the running user's that no one else may enter: a real directory (not a link)
// the user owns, with no permission for group or others. `Path` is tested as it stands.
bool IsPrivateDir(const QString &Path);

// The folder for the program's own sockets: $XDG_RUNTIME_DIR when it is a private folder of
// the running user's, else "taskvane-<uid>" in the temporary folder, made with mode 0700 when
// missing and then held to the same test. Empty when neither can be had (the temporary one
// exists and is not such a folder): nothing that needs a private folder is to be done then.
QString PrivateRuntimeDir();

// The running user's own session folder and session bus for the programs the program starts:
// $XDG_RUNTIME_DIR when it is a private folder of the running user's, else /run/user/<uid> under
// the same test; empty when neither is. The bus address is that folder's "bus" socket when
// there is one, else empty.
QString OwnRuntimeDir();
QString OwnSessionBusAddress();

// The user id of the process at the other end of a connected local socket (its descriptor);
// nothing when it cannot be told.
std::optional<quint32> PeerUserId(qintptr Socket);

} // namespace platform::system

#pragma once

#include <QString>

namespace platform::system {

// Privileges by their customary names. "SeDebugPrivilege" stands for the capabilities that
// let this program read and act on other users' processes (CAP_SYS_PTRACE, CAP_KILL,
// CAP_SYS_NICE). Enabling raises those of them that are permitted into the effective set
// of the calling thread (new threads inherit it); already effective is success, and one
// that is not permitted at all is passed over, as an account that lacks a privilege is.
// False for an unknown name or when the capability sets cannot be read or set.
bool EnablePrivilege(const QString &Name);

} // namespace platform::system

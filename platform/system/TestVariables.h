#pragma once

#include <QString>

namespace platform::system {

// The variables that point the program at stand-ins (a package database, a message bus, a web
// server, skin folders, an instance name, a closing time) are read only in the builds made for
// tests and benchmarks (TASKVANE_TEST_VARIABLES). Elsewhere they read as unset: an installed
// program run through "sudo -E" takes none of them from the caller.
#if TASKVANE_TEST_VARIABLES
inline QString TestVariable(const char *Name)
{
    return qEnvironmentVariable(Name);
}
inline bool TestVariableIsSet(const char *Name)
{
    return qEnvironmentVariableIsSet(Name);
}
#else
inline QString TestVariable(const char *)
{
    return QString();
}
inline bool TestVariableIsSet(const char *)
{
    return false;
}
#endif

} // namespace platform::system

#include "sysinfo/Logging.h"

// Only critical messages pass by default: the program shows nothing and keeps no log file.
Q_LOGGING_CATEGORY(lcSysinfo, "taskvane.sysinfo", QtCriticalMsg)

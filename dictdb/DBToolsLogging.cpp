#include "dictdb/DBToolsLogging.h"

// Only critical messages pass by default: the program shows nothing and keeps no log file.
Q_LOGGING_CATEGORY(lcDictionary, "taskvane.dictionary", QtCriticalMsg)

#include "skin/Logging.h"

// Only critical messages pass by default: the program shows nothing and keeps no log file.
Q_LOGGING_CATEGORY(lcSkin, "taskvane.skin", QtCriticalMsg)

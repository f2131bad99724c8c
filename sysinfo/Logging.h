#pragma once

#include <QLoggingCategory>

// Why a component refused or dropped something. Silent unless turned on, e.g.
// QT_LOGGING_RULES="taskvane.sysinfo.warning=true".
Q_DECLARE_LOGGING_CATEGORY(lcSysinfo)

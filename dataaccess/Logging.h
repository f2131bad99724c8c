#pragma once

#include <QLoggingCategory>

// Why a stream or a data set operation failed. Silent unless turned on, e.g.
// QT_LOGGING_RULES="taskvane.dataaccess.warning=true".
Q_DECLARE_LOGGING_CATEGORY(lcDataAccess)

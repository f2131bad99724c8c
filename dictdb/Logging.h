#pragma once

#include <QLoggingCategory>

// Why the database engine dropped an error it caught. Silent unless turned on, e.g.
// QT_LOGGING_RULES="taskvane.engine.warning=true".
Q_DECLARE_LOGGING_CATEGORY(lcEngine)

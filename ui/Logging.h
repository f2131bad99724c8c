#pragma once

#include <QLoggingCategory>

// Why an action the window reports as failed failed. Silent unless turned on, e.g.
// QT_LOGGING_RULES="taskvane.ui.warning=true".
Q_DECLARE_LOGGING_CATEGORY(lcUi)

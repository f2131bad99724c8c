#pragma once

#include <QLoggingCategory>

// Why a dictionary look-up or check came back empty. Silent unless turned on, e.g.
// QT_LOGGING_RULES="taskvane.dictionary.warning=true".
Q_DECLARE_LOGGING_CATEGORY(lcDictionary)

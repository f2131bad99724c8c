#pragma once

#include <QLoggingCategory>

// Why a skin could not be read. Silent unless turned on, e.g. QT_LOGGING_RULES="taskvane.skin.warning=true".
Q_DECLARE_LOGGING_CATEGORY(lcSkin)

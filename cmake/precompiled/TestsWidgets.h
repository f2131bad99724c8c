// The headers most test sources read, precompiled once for the tests with widgets.
#include "Tests.h"
#include "Widgets.h"

#include <QLineEdit>
#include <QTextEdit>

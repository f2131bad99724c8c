#include "platform/Logging.h"

// Only critical messages pass by default: the program shows nothing and keeps no log file.
Q_LOGGING_CATEGORY(lcPlatform, "taskvane.platform", QtCriticalMsg)

#include <exception>

namespace platform {

QString CurrentExceptionText()
{
    const std::exception_ptr current = std::current_exception();
    if (!current)
        return QStringLiteral("no exception");
    try {
        std::rethrow_exception(current);
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("an exception of unknown type");
    }
}

} // namespace platform

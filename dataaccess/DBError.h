#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <exception>
#include <type_traits>

namespace dataaccess {

// Root of every exception the data-access layer and the engine above it raise.
// The message is the English text callers and tests compare against.
class Exception : public std::exception
{
public:
    explicit Exception(const QString &Message);
    const QString &Message() const { return m_Message; }
    const char *what() const noexcept override { return m_Utf8.constData(); }

private:
    QString m_Message;
    QByteArray m_Utf8;
};

// Every refusal of the database engine.
class EDatabaseError : public Exception
{
public:
    using Exception::Exception;
};

// The silent abort: unwinds an operation the user cancelled; nobody reports it.
class EAbort : public Exception
{
public:
    using Exception::Exception;
};

class EStreamError : public Exception
{
public:
    using Exception::Exception;
};
class EReadError : public EStreamError
{
public:
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError
{
public:
    using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError
{
public:
    using EStreamError::EStreamError;
};

// Text that does not convert to the value asked for (integers, floats, dates).
class EConvertError : public Exception
{
public:
    using Exception::Exception;
};

// Floating-point division by zero.
class EZeroDivide : public Exception
{
public:
    using Exception::Exception;
};

// The layer's own English messages.
namespace msg {
inline constexpr const char *kSOperationAborted = "Operation aborted";
inline constexpr const char *kSReadError = "Stream read error";
inline constexpr const char *kSWriteError = "Stream write error";
inline constexpr const char *kSfOpenError = "Cannot open file \"%s\". %s";
inline constexpr const char *kSfCreateError = "Cannot create file \"%s\". %s";
inline constexpr const char *kSFieldNotFound = "Field '%s' not found";
inline constexpr const char *kSDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr const char *kSDataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char *kSCircularDataLink = "Circular datalinks are not allowed";
inline constexpr const char *kSIndexNotFound = "Index '%s' not found";
inline constexpr const char *kSDuplicateName = "Duplicate name '%s' in %s";
inline constexpr const char *kSAssignError = "Cannot assign a %s to a %s";
inline constexpr const char *kSListIndexError = "List index out of bounds (%d)";
inline constexpr const char *kSInvalidInteger = "'%s' is not a valid integer value";
inline constexpr const char *kSInvalidFloat = "'%s' is not a valid floating point value";
inline constexpr const char *kSInvalidDate = "'%s' is not a valid date";
inline constexpr const char *kSInvalidTime = "'%s' is not a valid time";
inline constexpr const char *kSInvalidDateTime = "'%s' is not a valid date and time";
inline constexpr const char *kSDateEncodeError = "Invalid argument to date encode";
inline constexpr const char *kSTimeEncodeError = "Invalid argument to time encode";
inline constexpr const char *kSZeroDivide = "Floating point division by zero";
} // namespace msg

namespace detail {
inline QString FormatArg(const QString &V)
{
    return V;
}
inline QString FormatArg(const char *V)
{
    return QString::fromUtf8(V);
}
inline QString FormatArg(const QByteArray &V)
{
    return QString::fromUtf8(V);
}
template <class T, std::enable_if_t<std::is_integral_v<T>, int> = 0>
QString FormatArg(T V)
{
    return QString::number(V);
}
template <class T, std::enable_if_t<std::is_floating_point_v<T>, int> = 0>
QString FormatArg(T V)
{
    return QString::number(V);
}
} // namespace detail

// Replaces each "%s" / "%d" of Fmt by the next argument, in order ("%%" is one "%").
QString FormatText(const QString &Fmt, const QStringList &Args);

template <class... A>
QString Format(const QString &Fmt, const A &...Args)
{
    return FormatText(Fmt, QStringList{detail::FormatArg(Args)...});
}

[[noreturn]] void DatabaseError(const QString &Message);

template <class... A>
[[noreturn]] void DatabaseErrorFmt(const QString &Fmt, const A &...Args)
{
    DatabaseError(Format(Fmt, Args...));
}

// Raises the silent abort.
[[noreturn]] void Abort();

} // namespace dataaccess

using dataaccess::Abort;
using dataaccess::DatabaseError;
using dataaccess::DatabaseErrorFmt;
using dataaccess::EAbort;
using dataaccess::EConvertError;
using dataaccess::EDatabaseError;
using dataaccess::EFOpenError;
using dataaccess::EReadError;
using dataaccess::EStreamError;
using dataaccess::EWriteError;
using dataaccess::Exception;
using dataaccess::EZeroDivide;

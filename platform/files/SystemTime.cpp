#include "platform/files/SystemTime.h"

#include <QDateTime>
#include <QTimeZone>

namespace platform {

SYSTEMTIME toSystemTime(const QDateTime &dateTime)
{
    SYSTEMTIME st;
    if (!dateTime.isValid())
        return st;
    const QDate d = dateTime.date();
    const QTime t = dateTime.time();
    if (d.year() < 1601 || d.year() > 30827)
        return st;
    st.wYear = quint16(d.year());
    st.wMonth = quint16(d.month());
    st.wDayOfWeek = quint16(d.dayOfWeek() % 7);
    st.wDay = quint16(d.day());
    st.wHour = quint16(t.hour());
    st.wMinute = quint16(t.minute());
    st.wSecond = quint16(t.second());
    st.wMilliseconds = quint16(t.msec());
    return st;
}

SYSTEMTIME localSystemTime(qint64 seconds, quint32 nanoseconds)
{
    // Outside what QDateTime's milliseconds can carry there is nothing sensible to show.
    constexpr qint64 limit = qint64(1) << 43;
    if (seconds > limit || seconds < -limit || nanoseconds >= 1000000000u)
        return SYSTEMTIME();
    const qint64 ms = seconds * 1000 + qint64(nanoseconds / 1000000u);
    return toSystemTime(QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::systemTimeZone()));
}

} // namespace platform

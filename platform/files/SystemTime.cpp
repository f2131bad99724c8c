#include "platform/files/SystemTime.h"

#include <QDateTime>
#include <QTimeZone>

namespace platform {

SYSTEMTIME ToSystemTime(const QDateTime &DateTime)
{
    SYSTEMTIME st;
    if (!DateTime.isValid())
        return st;
    const QDate d = DateTime.date();
    const QTime t = DateTime.time();
    if (d.year() < 1601 || d.year() > 30827)
        return st;
    st.WYear = quint16(d.year());
    st.WMonth = quint16(d.month());
    st.WDayOfWeek = quint16(d.dayOfWeek() % 7);
    st.WDay = quint16(d.day());
    st.WHour = quint16(t.hour());
    st.WMinute = quint16(t.minute());
    st.WSecond = quint16(t.second());
    st.WMilliseconds = quint16(t.msec());
    return st;
}

SYSTEMTIME LocalSystemTime(qint64 Seconds, quint32 Nanoseconds)
{
    // Outside what QDateTime's milliseconds can carry there is nothing sensible to show.
    constexpr qint64 kLimit = qint64(1) << 43;
    if (Seconds > kLimit || Seconds < -kLimit || Nanoseconds >= 1000000000u)
        return SYSTEMTIME();
    const qint64 ms = Seconds * 1000 + qint64(Nanoseconds / 1000000u);
    return ToSystemTime(QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::systemTimeZone()));
}

} // namespace platform

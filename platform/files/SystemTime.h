#pragma once

#include <QtGlobal>

class QDateTime;

namespace platform {

// A calendar time broken into 16-bit words; also used for spans, with WDay counting whole days.
struct SYSTEMTIME
{
    quint16 WYear = 0;
    quint16 WMonth = 0;
    quint16 WDayOfWeek = 0; // 0 Sunday .. 6 Saturday
    quint16 WDay = 0;
    quint16 WHour = 0;
    quint16 WMinute = 0;
    quint16 WSecond = 0;
    quint16 WMilliseconds = 0;
};

// The local time of a moment given in seconds and nanoseconds since the Unix epoch;
// all zero for an invalid moment or a year outside 1601..30827.
SYSTEMTIME LocalSystemTime(qint64 Seconds, quint32 Nanoseconds);
SYSTEMTIME ToSystemTime(const QDateTime &DateTime);

} // namespace platform

using platform::SYSTEMTIME;

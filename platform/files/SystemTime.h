#pragma once

#include <QtGlobal>

class QDateTime;

namespace platform {

// A calendar time broken into 16-bit words; also used for spans, with wDay counting whole days.
struct SYSTEMTIME
{
    quint16 wYear = 0;
    quint16 wMonth = 0;
    quint16 wDayOfWeek = 0; // 0 Sunday .. 6 Saturday
    quint16 wDay = 0;
    quint16 wHour = 0;
    quint16 wMinute = 0;
    quint16 wSecond = 0;
    quint16 wMilliseconds = 0;
};

// The local time of a moment given in seconds and nanoseconds since the Unix epoch;
// all zero for an invalid moment or a year outside 1601..30827.
SYSTEMTIME localSystemTime(qint64 seconds, quint32 nanoseconds);
SYSTEMTIME toSystemTime(const QDateTime &dateTime);

} // namespace platform

using platform::SYSTEMTIME;

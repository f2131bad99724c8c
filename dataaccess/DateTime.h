#pragma once

#include "dataaccess/DBError.h"
#include "dataaccess/FormatSettings.h"

#include <QtGlobal>

namespace dataaccess {

// Days since 30 December 1899 (the fraction is the time of day). Before that day the
// integral part counts back and the fraction still runs forward (-1.25 is 29 Dec 06:00).
using TDateTime = double;

// Day 1 is 1 January of year 1; Time is milliseconds since midnight.
struct TTimeStamp
{
    qint32 Time = 0;
    qint32 Date = 0;
};

inline constexpr qint32 kDateDelta = 693594; // day number of 30 December 1899
inline constexpr qint32 kMSecsPerDay = 86400000;
inline constexpr qint32 kSecsPerDay = 86400;
inline constexpr qint32 kMaxDateDay = 3652059; // 31 December 9999

bool IsLeapYear(int Year);
int DaysInMonth(int Year, int Month);

bool TryEncodeDate(int Year, int Month, int Day, TDateTime &Date);
bool TryEncodeTime(int Hour, int Min, int Sec, int MSec, TDateTime &Time);
TDateTime EncodeDate(int Year, int Month, int Day); // EConvertError on a bad argument
TDateTime EncodeTime(int Hour, int Min, int Sec, int MSec);
void DecodeDate(TDateTime Date, int &Year, int &Month, int &Day);
void DecodeTime(TDateTime Time, int &Hour, int &Min, int &Sec, int &MSec);

TTimeStamp DateTimeToTimeStamp(TDateTime DateTime);
TDateTime TimeStampToDateTime(const TTimeStamp &TimeStamp);
double TimeStampToMSecs(const TTimeStamp &TimeStamp);
TTimeStamp MSecsToTimeStamp(double MSecs);
// Date from 1 to kMaxDateDay and Time within a day.
bool IsValidTimeStamp(const TTimeStamp &TimeStamp);
// A finite value whose time stamp is valid.
bool IsValidDateTime(TDateTime DateTime);

TDateTime Now();
TDateTime Date();
TDateTime Time();

// Text forms by the fixed settings: "yyyy-mm-dd", "hh:nn:ss", and both (the time left
// out when it is midnight).
QString DateToStr(TDateTime Value);
QString TimeToStr(TDateTime Value);
QString DateTimeToStr(TDateTime Value);
bool TryStrToDate(const QString &S, TDateTime &Value);
bool TryStrToTime(const QString &S, TDateTime &Value);
bool TryStrToDateTime(const QString &S, TDateTime &Value);
TDateTime StrToDate(const QString &S);     // EConvertError
TDateTime StrToTime(const QString &S);     // EConvertError
TDateTime StrToDateTime(const QString &S); // EConvertError

// Numbers and truth values.
bool TryStrToInt(const QString &S, qint32 &Value);
bool TryStrToInt64(const QString &S, qint64 &Value);
bool TryStrToFloat(const QString &S, double &Value);
qint32 StrToInt(const QString &S);   // EConvertError
qint64 StrToInt64(const QString &S); // EConvertError
double StrToFloat(const QString &S); // EConvertError
QString FloatToStr(double Value);    // 15 significant digits, the fixed decimal separator
QString BoolToStr(bool Value);       // "True" / "False"

} // namespace dataaccess

using dataaccess::DateTimeToTimeStamp;
using dataaccess::DecodeDate;
using dataaccess::DecodeTime;
using dataaccess::EncodeDate;
using dataaccess::EncodeTime;
using dataaccess::kDateDelta;
using dataaccess::kMaxDateDay;
using dataaccess::kMSecsPerDay;
using dataaccess::kSecsPerDay;
using dataaccess::MSecsToTimeStamp;
using dataaccess::TDateTime;
using dataaccess::TimeStampToDateTime;
using dataaccess::TimeStampToMSecs;
using dataaccess::TryEncodeDate;
using dataaccess::TryEncodeTime;
using dataaccess::TTimeStamp;

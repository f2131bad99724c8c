#include "dataaccess/DateTime.h"

#include <QDateTime>
#include <QStringList>

#include <cmath>

namespace dataaccess {

const TFormatSettings &FormatSettings()
{
    static const TFormatSettings kSettings;
    return kSettings;
}

namespace {

const int kMonthDays[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                               {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

qint32 DayNumber(int Year, int Month, int Day)
{
    const int leap = IsLeapYear(Year) ? 1 : 0;
    int doy = Day;
    for (int m = 0; m < Month - 1; ++m)
        doy += kMonthDays[leap][m];
    const int i = Year - 1;
    return i * 365 + i / 4 - i / 100 + i / 400 + doy;
}

// Day number (day 1 = 1 January of year 1) to its calendar date.
void DayToDate(qint32 DayNo, int &Year, int &Month, int &Day)
{
    if (DayNo <= 0 || DayNo > kMaxDateDay) {
        Year = Month = Day = 0;
        return;
    }
    qint32 t = DayNo - 1;
    int y = 1;
    y += (t / 146097) * 400;
    t %= 146097;
    int c = t / 36524;
    if (c == 4)
        c = 3;
    y += c * 100;
    t -= c * 36524;
    y += (t / 1461) * 4;
    t %= 1461;
    int a = t / 365;
    if (a == 4)
        a = 3;
    y += a;
    t -= a * 365;
    const int leap = IsLeapYear(y) ? 1 : 0;
    int m = 0;
    while (t >= kMonthDays[leap][m]) {
        t -= kMonthDays[leap][m];
        ++m;
    }
    Year = y;
    Month = m + 1;
    Day = t + 1;
}

bool ParseNumbers(const QString &S, QChar Sep, QList<int> &Out, int MaxParts)
{
    const QStringList parts = S.trimmed().split(Sep);
    if (parts.isEmpty() || parts.size() > MaxParts)
        return false;
    for (const QString &p : parts) {
        bool ok = false;
        const int v = p.trimmed().toInt(&ok);
        if (!ok || v < 0)
            return false;
        Out << v;
    }
    return true;
}

} // namespace

bool IsLeapYear(int Year)
{
    return (Year % 4 == 0) && ((Year % 100 != 0) || (Year % 400 == 0));
}

int DaysInMonth(int Year, int Month)
{
    if (Month < 1 || Month > 12)
        return 0;
    return kMonthDays[IsLeapYear(Year) ? 1 : 0][Month - 1];
}

bool TryEncodeDate(int Year, int Month, int Day, TDateTime &Date)
{
    if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1 || Day > DaysInMonth(Year, Month))
        return false;
    Date = double(DayNumber(Year, Month, Day) - kDateDelta);
    return true;
}

bool TryEncodeTime(int Hour, int Min, int Sec, int MSec, TDateTime &Time)
{
    if (Hour < 0 || Hour >= 24 || Min < 0 || Min >= 60 || Sec < 0 || Sec >= 60 || MSec < 0 || MSec >= 1000)
        return false;
    Time = double(((Hour * 60 + Min) * 60 + Sec) * 1000 + MSec) / kMSecsPerDay;
    return true;
}

TDateTime EncodeDate(int Year, int Month, int Day)
{
    TDateTime d = 0;
    if (!TryEncodeDate(Year, Month, Day, d))
        throw EConvertError(QString::fromLatin1(msg::kSDateEncodeError));
    return d;
}

TDateTime EncodeTime(int Hour, int Min, int Sec, int MSec)
{
    TDateTime t = 0;
    if (!TryEncodeTime(Hour, Min, Sec, MSec, t))
        throw EConvertError(QString::fromLatin1(msg::kSTimeEncodeError));
    return t;
}

void DecodeDate(TDateTime Date, int &Year, int &Month, int &Day)
{
    if (!std::isfinite(Date)) {
        Year = Month = Day = 0;
        return;
    }
    DayToDate(DateTimeToTimeStamp(Date).Date, Year, Month, Day);
}

void DecodeTime(TDateTime Time, int &Hour, int &Min, int &Sec, int &MSec)
{
    if (!std::isfinite(Time)) {
        Hour = Min = Sec = MSec = 0;
        return;
    }
    qint32 ms = DateTimeToTimeStamp(Time).Time;
    Hour = ms / 3600000;
    ms %= 3600000;
    Min = ms / 60000;
    ms %= 60000;
    Sec = ms / 1000;
    MSec = ms % 1000;
}

TTimeStamp DateTimeToTimeStamp(TDateTime DateTime)
{
    TTimeStamp ts;
    if (!std::isfinite(DateTime) || std::fabs(DateTime) > 3.0e6)
        return ts; // Date 0: never a valid stamp
    double whole = std::trunc(DateTime);
    qint64 ms = std::llround(std::fabs(DateTime - whole) * kMSecsPerDay);
    if (ms >= kMSecsPerDay) {
        ms -= kMSecsPerDay;
        whole += DateTime < 0 ? -1 : 1;
    }
    ts.Time = qint32(ms);
    ts.Date = qint32(whole) + kDateDelta;
    return ts;
}

TDateTime TimeStampToDateTime(const TTimeStamp &TimeStamp)
{
    const double d = double(TimeStamp.Date) - kDateDelta;
    const double t = double(TimeStamp.Time) / kMSecsPerDay;
    return d >= 0 ? d + t : d - t;
}

double TimeStampToMSecs(const TTimeStamp &TimeStamp)
{
    return double(TimeStamp.Date) * kMSecsPerDay + double(TimeStamp.Time);
}

TTimeStamp MSecsToTimeStamp(double MSecs)
{
    TTimeStamp ts;
    if (!std::isfinite(MSecs) || MSecs < 0 || MSecs > double(kMaxDateDay + 1) * kMSecsPerDay)
        return ts;
    const qint64 ms = qint64(MSecs);
    ts.Date = qint32(ms / kMSecsPerDay);
    ts.Time = qint32(ms % kMSecsPerDay);
    return ts;
}

bool IsValidTimeStamp(const TTimeStamp &TimeStamp)
{
    return TimeStamp.Date >= 1 && TimeStamp.Date <= kMaxDateDay && TimeStamp.Time >= 0 && TimeStamp.Time < kMSecsPerDay;
}

bool IsValidDateTime(TDateTime DateTime)
{
    return std::isfinite(DateTime) && IsValidTimeStamp(DateTimeToTimeStamp(DateTime));
}

TDateTime Now()
{
    return Date() + Time();
}

TDateTime Date()
{
    const QDate d = QDate::currentDate();
    return EncodeDate(d.year(), d.month(), d.day());
}

TDateTime Time()
{
    const QTime t = QTime::currentTime();
    return EncodeTime(t.hour(), t.minute(), t.second(), t.msec());
}

QString DateToStr(TDateTime Value)
{
    int y, m, d;
    DecodeDate(Value, y, m, d);
    const QChar sep = FormatSettings().DateSeparator;
    return QStringLiteral("%1%2%3%4%5")
        .arg(y, 4, 10, QLatin1Char('0'))
        .arg(sep)
        .arg(m, 2, 10, QLatin1Char('0'))
        .arg(sep)
        .arg(d, 2, 10, QLatin1Char('0'));
}

QString TimeToStr(TDateTime Value)
{
    int h, n, s, ms;
    DecodeTime(Value, h, n, s, ms);
    const QChar sep = FormatSettings().TimeSeparator;
    return QStringLiteral("%1%2%3%4%5")
        .arg(h, 2, 10, QLatin1Char('0'))
        .arg(sep)
        .arg(n, 2, 10, QLatin1Char('0'))
        .arg(sep)
        .arg(s, 2, 10, QLatin1Char('0'));
}

QString DateTimeToStr(TDateTime Value)
{
    const TTimeStamp ts = DateTimeToTimeStamp(Value);
    if (ts.Time == 0)
        return DateToStr(Value);
    return DateToStr(Value) + QLatin1Char(' ') + TimeToStr(Value);
}

bool TryStrToDate(const QString &S, TDateTime &Value)
{
    QList<int> n;
    if (!ParseNumbers(S, FormatSettings().DateSeparator, n, 3) || n.size() != 3)
        return false;
    return TryEncodeDate(n[0], n[1], n[2], Value);
}

bool TryStrToTime(const QString &S, TDateTime &Value)
{
    QString text = S.trimmed();
    int ms = 0;
    const qsizetype dot = text.indexOf(FormatSettings().DecimalSeparator);
    if (dot >= 0) {
        bool ok = false;
        ms = text.mid(dot + 1).toInt(&ok);
        if (!ok)
            return false;
        text.truncate(dot);
    }
    QList<int> n;
    if (!ParseNumbers(text, FormatSettings().TimeSeparator, n, 3) || n.size() < 2)
        return false;
    return TryEncodeTime(n[0], n[1], n.size() > 2 ? n[2] : 0, ms, Value);
}

bool TryStrToDateTime(const QString &S, TDateTime &Value)
{
    const QString text = S.trimmed();
    const qsizetype blank = text.indexOf(QLatin1Char(' '));
    if (blank < 0) {
        if (TryStrToDate(text, Value))
            return true;
        return TryStrToTime(text, Value);
    }
    TDateTime d = 0, t = 0;
    if (!TryStrToDate(text.left(blank), d) || !TryStrToTime(text.mid(blank + 1), t))
        return false;
    Value = d >= 0 ? d + t : d - t;
    return true;
}

TDateTime StrToDate(const QString &S)
{
    TDateTime v = 0;
    if (!TryStrToDate(S, v))
        throw EConvertError(Format(QString::fromLatin1(msg::kSInvalidDate), S));
    return v;
}

TDateTime StrToTime(const QString &S)
{
    TDateTime v = 0;
    if (!TryStrToTime(S, v))
        throw EConvertError(Format(QString::fromLatin1(msg::kSInvalidTime), S));
    return v;
}

TDateTime StrToDateTime(const QString &S)
{
    TDateTime v = 0;
    if (!TryStrToDateTime(S, v))
        throw EConvertError(Format(QString::fromLatin1(msg::kSInvalidDateTime), S));
    return v;
}

bool TryStrToInt(const QString &S, qint32 &Value)
{
    qint64 v = 0;
    if (!TryStrToInt64(S, v) || v < INT32_MIN || v > INT32_MAX)
        return false;
    Value = qint32(v);
    return true;
}

bool TryStrToInt64(const QString &S, qint64 &Value)
{
    QString t = S.trimmed();
    bool ok = false;
    qint64 v = 0;
    if (t.startsWith(QLatin1Char('$')))
        v = t.mid(1).toLongLong(&ok, 16);
    else if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        v = t.mid(2).toLongLong(&ok, 16);
    else
        v = t.toLongLong(&ok, 10);
    if (ok)
        Value = v;
    return ok;
}

bool TryStrToFloat(const QString &S, double &Value)
{
    QString t = S.trimmed();
    const QChar sep = FormatSettings().DecimalSeparator;
    if (sep != QLatin1Char('.')) {
        if (t.contains(QLatin1Char('.')))
            return false;
        t.replace(sep, QLatin1Char('.'));
    }
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (ok)
        Value = v;
    return ok;
}

qint32 StrToInt(const QString &S)
{
    qint32 v = 0;
    if (!TryStrToInt(S, v))
        throw EConvertError(Format(QString::fromLatin1(msg::kSInvalidInteger), S));
    return v;
}

qint64 StrToInt64(const QString &S)
{
    qint64 v = 0;
    if (!TryStrToInt64(S, v))
        throw EConvertError(Format(QString::fromLatin1(msg::kSInvalidInteger), S));
    return v;
}

double StrToFloat(const QString &S)
{
    double v = 0;
    if (!TryStrToFloat(S, v))
        throw EConvertError(Format(QString::fromLatin1(msg::kSInvalidFloat), S));
    return v;
}

QString FloatToStr(double Value)
{
    QString s = QString::number(Value, 'g', 15);
    const QChar sep = FormatSettings().DecimalSeparator;
    if (sep != QLatin1Char('.'))
        s.replace(QLatin1Char('.'), sep);
    return s;
}

QString BoolToStr(bool Value)
{
    return Value ? FormatSettings().TrueBoolStr : FormatSettings().FalseBoolStr;
}

} // namespace dataaccess

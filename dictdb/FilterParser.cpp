#include "dictdb/FilterParser.h"

#include "dictdb/DictDBUtils.h"

#include "dataaccess/DateTime.h"
#include "dataaccess/FormatSettings.h"

#include <QChar>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

using namespace filtermsg;

namespace {

// A hostile text must not exhaust the stack: the parser descends once per bracket level
// and the evaluator once per tree level (a long chain of "OR" or "+" is a deep tree).
constexpr int kMaxNesting = 100;
constexpr int kMaxDepth = 1000;

QString Msg(const char *Text)
{
    return QString::fromLatin1(Text);
}

[[noreturn]] void TypeMismatch()
{
    DatabaseError(Msg(kSExprTypeMis));
}

// --- type classes ---

bool IsIntegerType(TFieldType T)
{
    return T == ftSmallint || T == ftInteger || T == ftWord || T == ftAutoInc;
}

bool IsFloatType(TFieldType T)
{
    return T == ftFloat || T == ftCurrency;
}

bool IsNumericType(TFieldType T)
{
    return IsIntegerType(T) || T == ftLargeint || IsFloatType(T);
}

bool IsDateTimeType(TFieldType T)
{
    return T == ftDate || T == ftTime || T == ftDateTime;
}

bool IsStringType(TFieldType T)
{
    return T == ftString || T == ftFixedChar || T == ftWideString || T == ftGuid || IsBlobFieldType(T);
}

// The bytes a fixed-size value of the type takes; 0 for text and unknown types.
int ValueSize(TFieldType T)
{
    switch (T) {
    case ftBoolean:
        return 1;
    case ftSmallint:
    case ftWord:
        return 2;
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime:
        return 4;
    case ftLargeint:
    case ftFloat:
    case ftCurrency:
    case ftDateTime:
        return 8;
    default:
        return 0;
    }
}

int TypeRank(TFieldType T)
{
    switch (T) {
    case ftSmallint:
        return 1;
    case ftWord:
        return 2;
    case ftInteger:
    case ftAutoInc:
        return 3;
    case ftLargeint:
        return 4;
    case ftFloat:
        return 5;
    case ftCurrency:
        return 6;
    default:
        return 0;
    }
}

// --- rounding without undefined conversions ---

// Rounds half to even, as the arithmetic of dates always has.
qint64 RoundToInt64(double Value)
{
    const double r = std::nearbyint(Value);
    if (!std::isfinite(r) || r < -9.2e18 || r > 9.2e18)
        DatabaseError(Msg(kSInvalidFloatOp));
    return static_cast<qint64>(r);
}

qint32 WrapInt32(qint64 Value)
{
    return static_cast<qint32>(static_cast<quint32>(static_cast<quint64>(Value)));
}

// --- dates and times ---

constexpr double kMSecsPerDayF = dataaccess::kMSecsPerDay;

// The day number of a millisecond value, taken from the rounded value (NaN stays NaN).
double DayOfMSecs(double MSecs)
{
    return std::trunc(std::nearbyint(MSecs) / kMSecsPerDayF);
}

double TimeOfMSecs(double MSecs)
{
    double t = std::fmod(std::nearbyint(MSecs), kMSecsPerDayF);
    if (t < 0)
        t += kMSecsPerDayF;
    return t;
}

// A date or time value on one time line in milliseconds (a date is its midnight).
double TimelineMSecs(const TExprNode *N)
{
    switch (N->DataType) {
    case ftDate:
        return static_cast<double>(N->AsInteger()) * kMSecsPerDayF;
    case ftTime:
        return static_cast<double>(N->AsInteger());
    default:
        return N->AsFloat();
    }
}

// Year, month and day of a day number (1 is 1 January of year 1), proleptic Gregorian.
void DecodeDayNumber(qint64 Day, qint64 &Year, int &Month, int &DayOfMonth)
{
    // Days since 1 March of year 0, split into 400-year eras.
    const qint64 z = Day - 1 + 306;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    DayOfMonth = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    Month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    Year = era * 400 + yoe + (Month <= 2 ? 1 : 0);
}

enum class DateTextKind { Date, Time, DateTime };

DateTextKind KindOfDateText(const QString &Trimmed)
{
    if (Trimmed.contains(QLatin1Char(' ')))
        return DateTextKind::DateTime;
    if (Trimmed.contains(QLatin1Char(':')))
        return DateTextKind::Time;
    return DateTextKind::Date;
}

// Either reader: the engine's scanners (month/day/year) or the platform's fixed format.
bool ReadsAsDateTime(const QString &Text)
{
    TDateTime v = 0;
    return IsDateTimeStr(Text, v) || dataaccess::TryStrToDateTime(Text.trimmed(), v);
}

bool IsDateTextConst(const TExprNode *N)
{
    return N->Kind == enConst && N->DataType == ftString && ReadsAsDateTime(QString::fromUtf8(N->AsText()));
}

// Turns a string constant into a date, time or date-time constant by its text.
void ConvertToDateTimeConst(TExprNode *N)
{
    const QString text = QString::fromUtf8(N->AsText()).trimmed();
    const DateTextKind kind = KindOfDateText(text);
    TDateTime value = 0;
    switch (kind) {
    case DateTextKind::DateTime:
        if (!IsDateTimeStr(text, value))
            value = dataaccess::StrToDateTime(text);
        break;
    case DateTextKind::Time:
        if (!IsTimeStr(text, value))
            value = dataaccess::StrToTime(text);
        break;
    case DateTextKind::Date:
        if (!IsDateStr(text, value))
            value = dataaccess::StrToDate(text);
        break;
    }
    const TTimeStamp ts = dataaccess::DateTimeToTimeStamp(value);
    N->PartialLength = -1;
    switch (kind) {
    case DateTextKind::DateTime: {
        const double ms = dataaccess::TimeStampToMSecs(ts);
        N->DataType = ftDateTime;
        std::memcpy(N->SetDataSize(8), &ms, 8);
        break;
    }
    case DateTextKind::Time:
        N->DataType = ftTime;
        std::memcpy(N->SetDataSize(4), &ts.Time, 4);
        break;
    case DateTextKind::Date:
        N->DataType = ftDate;
        std::memcpy(N->SetDataSize(4), &ts.Date, 4);
        break;
    }
}

// --- type rules ---

// Whether two operands may be compared; a date text constant facing a date or time is
// converted on the way.
void CheckComparable(TExprNode *L, TExprNode *R, bool AllowBoolean)
{
    const TFieldType lt = L->DataType;
    const TFieldType rt = R->DataType;
    if (IsNumericType(lt) && IsNumericType(rt))
        return;
    if (IsDateTimeType(lt) && IsDateTimeType(rt))
        return;
    if (IsDateTimeType(lt) && IsDateTextConst(R)) {
        ConvertToDateTimeConst(R);
        return;
    }
    if (IsDateTimeType(rt) && IsDateTextConst(L)) {
        ConvertToDateTimeConst(L);
        return;
    }
    if (IsStringType(lt) && IsStringType(rt))
        return;
    if (AllowBoolean && lt == ftBoolean && rt == ftBoolean)
        return;
    TypeMismatch();
}

TFieldType ArithmeticType(TExprOperator Op, TExprNode *L, TExprNode *R)
{
    const TFieldType lt = L->DataType;
    const TFieldType rt = R->DataType;
    if (IsNumericType(lt) && IsNumericType(rt)) {
        if (Op == toDIV)
            return ftFloat;
        TFieldType t = TypeRank(rt) > TypeRank(lt) ? rt : lt;
        if (t == ftSmallint || t == ftWord)
            t = ftInteger;
        return t;
    }
    if (Op == toADD) {
        if (IsStringType(lt) && IsStringType(rt))
            return ftString;
        if (IsDateTimeType(lt) && IsNumericType(rt))
            return lt;
        TypeMismatch();
    }
    if (Op == toSUB) {
        if (IsDateTimeType(rt) && IsDateTextConst(L)) {
            ConvertToDateTimeConst(L);
            return ftFloat;
        }
        if (IsDateTimeType(lt) && (IsDateTimeType(rt) || IsNumericType(rt))) {
            if ((lt == ftDate && rt == ftDate) || (lt == ftTime && rt == ftTime) ||
                ((lt == ftDate || lt == ftTime) && IsNumericType(rt)))
                return ftInteger;
            return ftFloat;
        }
    }
    TypeMismatch();
}

// --- texts made of ASCII characters only ---
//
// Most texts are plain ASCII; for them the one order of texts (code points after case
// folding, as CompareDBString has it) and the pattern match are worked out on the bytes,
// without building wide strings. Any other text takes the general road.

bool IsAscii(std::string_view S)
{
    for (const char c : S)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

char FoldAscii(char C)
{
    return C >= 'A' && C <= 'Z' ? static_cast<char>(C + ('a' - 'A')) : C;
}

int CompareAsciiDBString(std::string_view A, std::string_view B, bool PartialCompare, bool CaseInsensitive, int Length)
{
    if (PartialCompare) {
        const size_t n = Length < 0 ? 0 : static_cast<size_t>(Length);
        A = A.substr(0, std::min(A.size(), n));
        B = B.substr(0, std::min(B.size(), n));
    }
    const size_t n = std::min(A.size(), B.size());
    for (size_t i = 0; i < n; ++i) {
        const char a = FoldAscii(A[i]), b = FoldAscii(B[i]);
        if (a != b)
            return a < b ? -1 : 1;
    }
    if (A.size() != B.size())
        return A.size() < B.size() ? -1 : 1;
    if (CaseInsensitive)
        return 0;
    for (size_t i = 0; i < n; ++i)
        if (A[i] != B[i])
            return static_cast<unsigned char>(A[i]) < static_cast<unsigned char>(B[i]) ? -1 : 1;
    return 0;
}

// The match of the value from i against the pattern from j, for every i, one pattern
// position at a time from the end: each "%" tries every later start once instead of
// recursing, so the cost is length(value) x length(pattern).
template <class Char>
bool LikeColumns(const Char *V, size_t N, const Char *P, size_t M)
{
    constexpr size_t kOnStack = 256;
    char stack[2 * (kOnStack + 1)];
    std::vector<char> heap;
    char *next = stack, *cur = stack + kOnStack + 1;
    if (N > kOnStack) {
        heap.assign(2 * (N + 1), 0);
        next = heap.data();
        cur = heap.data() + N + 1;
    }
    std::fill(next, next + N + 1, 0); // column j + 1
    next[N] = 1;                      // both used up
    for (size_t jj = M; jj-- > 0;) {
        const Char pc = P[jj];
        if (pc == Char('%') && jj == M - 1) {
            // The rest of the pattern is exactly "%".
            std::fill(cur, cur + N + 1, 1);
        } else if (pc == Char('%')) {
            // A "%" with more behind it takes a non-empty rest of the value.
            cur[N] = 0;
            char any = 0;
            for (size_t i = N; i-- > 0;) {
                any = static_cast<char>(any | next[i]);
                cur[i] = any;
            }
        } else {
            cur[N] = 0;
            for (size_t i = 0; i < N; ++i)
                cur[i] = static_cast<char>((pc == Char('_') || pc == V[i]) && next[i + 1]);
        }
        std::swap(cur, next);
    }
    return next[0] != 0;
}

// The usual shapes "text", "text%", "%text" and "%text%" (no "_" or other "%"), which come
// down to a comparison or a search for the text. Answers false when the pattern has another
// shape.
bool LikeByShape(std::string_view Value, std::string_view Pattern, bool &Match)
{
    const bool lead = !Pattern.empty() && Pattern.front() == '%';
    if (lead)
        Pattern.remove_prefix(1);
    const bool trail = !Pattern.empty() && Pattern.back() == '%';
    if (trail)
        Pattern.remove_suffix(1);
    if (Pattern.empty() || Pattern.find_first_of("%_") != std::string_view::npos)
        return false;
    if (lead && trail)
        Match = Value.find(Pattern) != std::string_view::npos;
    else if (lead)
        Match = Value.size() >= Pattern.size() && Value.substr(Value.size() - Pattern.size()) == Pattern;
    else if (trail)
        Match = Value.substr(0, std::min(Value.size(), Pattern.size())) == Pattern;
    else
        Match = Value == Pattern;
    return true;
}

bool LikeMatchText(std::string_view Value, std::string_view Pattern, bool CaseSensitive)
{
    if (!IsAscii(Value) || !IsAscii(Pattern))
        return LikeMatch(QString::fromUtf8(Value.data(), qsizetype(Value.size())),
                         QString::fromUtf8(Pattern.data(), qsizetype(Pattern.size())), CaseSensitive);
    constexpr size_t kOnStack = 256;
    char vs[kOnStack], ps[kOnStack];
    std::string vh, ph;
    if (!CaseSensitive) {
        // Both folded, on the stack when they are short.
        char *v = vs, *p = ps;
        if (Value.size() > kOnStack || Pattern.size() > kOnStack) {
            vh.assign(Value);
            ph.assign(Pattern);
            v = vh.data();
            p = ph.data();
        }
        for (size_t i = 0; i < Value.size(); ++i)
            v[i] = FoldAscii(Value[i]);
        for (size_t i = 0; i < Pattern.size(); ++i)
            p[i] = FoldAscii(Pattern[i]);
        Value = std::string_view(v, Value.size());
        Pattern = std::string_view(p, Pattern.size());
    }
    bool match = false;
    if (LikeByShape(Value, Pattern, match))
        return match;
    return LikeColumns(Value.data(), Value.size(), Pattern.data(), Pattern.size());
}

// --- evaluation ---

// Three-way comparison; 2 when the values are unordered (a NaN).
int CompareNodes(const TExprNode *L, const TExprNode *R, TFilterOptions Options)
{
    const TFieldType lt = L->DataType;
    const TFieldType rt = R->DataType;
    auto order = [](auto A, auto B) { return A < B ? -1 : (B < A ? 1 : (A == B ? 0 : 2)); };

    if (IsNumericType(lt) && IsNumericType(rt)) {
        if (IsFloatType(lt) || IsFloatType(rt))
            return order(L->AsFloat(), R->AsFloat());
        return order(L->AsInteger(), R->AsInteger());
    }
    if (IsDateTimeType(lt) && IsDateTimeType(rt)) {
        if (lt == ftDate && rt == ftDate)
            return order(L->AsInteger(), R->AsInteger());
        if (lt == ftDate && rt == ftDateTime)
            return order(static_cast<double>(L->AsInteger()), DayOfMSecs(R->AsFloat()));
        if (lt == ftDateTime && rt == ftDate)
            return order(DayOfMSecs(L->AsFloat()), static_cast<double>(R->AsInteger()));
        if (lt == rt)
            return CompareMSecs(L->AsFloat(), R->AsFloat());
        // A time facing a date-time meets its time of day.
        if (lt == ftTime && rt == ftDateTime)
            return CompareMSecs(L->AsFloat(), TimeOfMSecs(R->AsFloat()));
        if (lt == ftDateTime && rt == ftTime)
            return CompareMSecs(TimeOfMSecs(L->AsFloat()), R->AsFloat());
        return CompareMSecs(TimelineMSecs(L), TimelineMSecs(R));
    }
    if (IsStringType(lt) && IsStringType(rt)) {
        const bool partial = !(Options & foNoPartialCompare) && R->PartialLength >= 0;
        const std::string_view l = L->TextView(), r = R->TextView();
        if (IsAscii(l) && IsAscii(r))
            return CompareAsciiDBString(l, r, partial, Options.testFlag(foCaseInsensitive), R->PartialLength);
        return CompareDBString(QString::fromUtf8(L->AsText()), QString::fromUtf8(R->AsText()), partial,
                               Options.testFlag(foCaseInsensitive), R->PartialLength);
    }
    if (lt == ftBoolean && rt == ftBoolean)
        return order(int(L->AsBoolean()), int(R->AsBoolean()));
    TypeMismatch();
}

struct Number
{
    bool IsFloat = false;
    qint64 Int = 0;
    double Float = 0;
};

Number IntNum(qint64 V)
{
    return Number{false, V, 0};
}

Number FloatNum(double V)
{
    return Number{true, 0, V};
}

void StoreNumber(TExprNode *N, const Number &V)
{
    switch (N->DataType) {
    case ftFloat:
    case ftCurrency:
    case ftDateTime: {
        const double d = V.IsFloat ? V.Float : static_cast<double>(V.Int);
        std::memcpy(N->SetDataSize(8), &d, 8);
        break;
    }
    case ftLargeint: {
        const qint64 i = V.IsFloat ? RoundToInt64(V.Float) : V.Int;
        std::memcpy(N->SetDataSize(8), &i, 8);
        break;
    }
    default: {
        const qint32 i = WrapInt32(V.IsFloat ? RoundToInt64(V.Float) : V.Int);
        std::memcpy(N->SetDataSize(4), &i, 4);
        break;
    }
    }
}

// A number operand of date arithmetic, rounded to a whole number.
qint64 WholeNumber(const TExprNode *N)
{
    return IsFloatType(N->DataType) ? RoundToInt64(N->AsFloat()) : N->AsInteger();
}

qint64 WrapAdd(qint64 A, qint64 B)
{
    return static_cast<qint64>(static_cast<quint64>(A) + static_cast<quint64>(B));
}

qint64 WrapSub(qint64 A, qint64 B)
{
    return static_cast<qint64>(static_cast<quint64>(A) - static_cast<quint64>(B));
}

qint64 WrapMul(qint64 A, qint64 B)
{
    return static_cast<qint64>(static_cast<quint64>(A) * static_cast<quint64>(B));
}

Number DateArithmetic(TExprOperator Op, const TExprNode *L, const TExprNode *R)
{
    const TFieldType lt = L->DataType;
    const TFieldType rt = R->DataType;
    if (IsNumericType(rt)) {
        const qint64 n = WholeNumber(R);
        if (lt == ftDateTime) {
            const double days = static_cast<double>(n) * kMSecsPerDayF;
            return FloatNum(Op == toADD ? L->AsFloat() + days : L->AsFloat() - days);
        }
        // A day number or the milliseconds of the day, moved by the number.
        return IntNum(Op == toADD ? WrapAdd(L->AsInteger(), n) : WrapSub(L->AsInteger(), n));
    }
    // Differences of two dates or times.
    if (lt == ftDate && rt == ftDate)
        return IntNum(L->AsInteger() - R->AsInteger());
    if (lt == ftTime && rt == ftTime)
        return IntNum(L->AsInteger() - R->AsInteger());
    if (lt == ftDateTime && rt == ftDateTime)
        return FloatNum(L->AsFloat() - R->AsFloat());
    return FloatNum(TimelineMSecs(L) - TimelineMSecs(R));
}

Number NumericArithmetic(TExprOperator Op, TFieldType ResultType, const TExprNode *L, const TExprNode *R)
{
    if (IsFloatType(ResultType) || Op == toDIV) {
        const double a = L->AsFloat();
        const double b = R->AsFloat();
        switch (Op) {
        case toADD:
            return FloatNum(a + b);
        case toSUB:
            return FloatNum(a - b);
        case toMUL:
            return FloatNum(a * b);
        default:
            if (b == 0)
                throw EZeroDivide(Msg(dataaccess::msg::kSZeroDivide));
            return FloatNum(a / b);
        }
    }
    // Integers wrap around in their result type, as machine arithmetic does.
    const qint64 a = L->AsInteger();
    const qint64 b = R->AsInteger();
    switch (Op) {
    case toADD:
        return IntNum(WrapAdd(a, b));
    case toSUB:
        return IntNum(WrapSub(a, b));
    default:
        return IntNum(WrapMul(a, b));
    }
}

void EvalArithmetic(TExprNode *N)
{
    const TExprNode *l = N->Left;
    const TExprNode *r = N->Right;
    if (N->Operator == toADD && IsStringType(l->DataType) && IsStringType(r->DataType)) {
        N->SetText(l->AsText() + r->AsText());
        return;
    }
    if (IsDateTimeType(l->DataType)) {
        StoreNumber(N, DateArithmetic(N->Operator, l, r));
        return;
    }
    if (IsNumericType(l->DataType) && IsNumericType(r->DataType)) {
        StoreNumber(N, NumericArithmetic(N->Operator, N->DataType, l, r));
        return;
    }
    TypeMismatch();
}

bool IsBlank(char C)
{
    return static_cast<unsigned char>(C) <= ' ';
}

QByteArray SubstringOf(const QByteArray &Text, qint64 Start, qint64 Count)
{
    const std::u32string s = QString::fromUtf8(Text).toStdU32String();
    if (Start < 1)
        Start = 1;
    const qint64 len = static_cast<qint64>(s.size());
    if (Count <= 0 || Start > len)
        return QByteArray();
    const qint64 n = std::min(Count, len - Start + 1);
    return QString::fromStdU32String(s.substr(static_cast<size_t>(Start - 1), static_cast<size_t>(n))).toUtf8();
}

void EvalFunction(TExprNode *N)
{
    const TExprNode *a = N->Args.empty() ? nullptr : N->Args.front();
    switch (N->Function) {
    case fnUPPER:
    case fnLOWER: {
        QByteArray s = a->AsText();
        for (char &c : s) {
            if (N->Function == fnUPPER && c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
            else if (N->Function == fnLOWER && c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        N->SetText(s);
        return;
    }
    case fnTRIM:
    case fnTRIMLEFT:
    case fnTRIMRIGHT: {
        const QByteArray s = a->AsText();
        qsizetype b = 0;
        qsizetype e = s.size();
        if (N->Function != fnTRIMRIGHT)
            while (b < e && IsBlank(s[b]))
                ++b;
        if (N->Function != fnTRIMLEFT)
            while (e > b && IsBlank(s[e - 1]))
                --e;
        N->SetText(s.mid(b, e - b));
        return;
    }
    case fnSUBSTRING:
        N->SetText(SubstringOf(a->AsText(), N->Args[1]->AsInteger(), N->Args[2]->AsInteger()));
        return;
    case fnYEAR:
    case fnMONTH:
    case fnDAY: {
        qint64 day = 0;
        if (a->DataType == ftDate) {
            day = a->AsInteger();
        } else {
            const double d = DayOfMSecs(a->AsFloat());
            day = RoundToInt64(d);
        }
        qint64 year = 0;
        int month = 0;
        int dom = 0;
        DecodeDayNumber(day, year, month, dom);
        const qint64 v = N->Function == fnYEAR ? year : (N->Function == fnMONTH ? month : dom);
        StoreNumber(N, IntNum(v));
        return;
    }
    case fnHOUR:
    case fnMINUTE:
    case fnSECOND: {
        double ms = 0;
        if (a->DataType == ftTime)
            ms = TimeOfMSecs(static_cast<double>(a->AsInteger()));
        else
            ms = TimeOfMSecs(a->AsFloat());
        const qint64 t = RoundToInt64(ms);
        qint64 v = 0;
        if (N->Function == fnHOUR)
            v = t / 3600000;
        else if (N->Function == fnMINUTE)
            v = t / 60000 % 60;
        else
            v = t / 1000 % 60;
        StoreNumber(N, IntNum(v));
        return;
    }
    default:
        return;
    }
}

template <class T>
T ReadValue(const TExprNode *N)
{
    T v{};
    if (N->Data && N->DataSize > 0)
        std::memcpy(&v, N->Data, std::min<size_t>(sizeof(T), static_cast<size_t>(N->DataSize)));
    return v;
}

} // namespace

// ---------------------------------------------------------------- TExprNode

TExprNode::TExprNode(TExprNodes *AOwner) : Owner(AOwner) {}

char *TExprNode::SetDataSize(int Size)
{
    Size = std::max(Size, 0);
    if (Data != m_Buffer.data() || static_cast<int>(m_Buffer.size()) != Size) {
        m_Buffer.assign(static_cast<size_t>(Size), 0);
    }
    Data = m_Buffer.data();
    DataSize = Size;
    return m_Buffer.data();
}

void TExprNode::SetExternalData(const char *AData, int Size)
{
    Data = AData;
    DataSize = AData ? std::max(Size, 0) : 0;
}

bool TExprNode::AsBoolean() const
{
    // Stored truth values are 16 bits wide and any non-zero value is true.
    if (!Data)
        return false;
    for (int i = 0; i < DataSize; ++i)
        if (Data[i] != 0)
            return true;
    return false;
}

qint64 TExprNode::AsInteger() const
{
    switch (DataType) {
    case ftSmallint:
        return ReadValue<qint16>(this);
    case ftWord:
        return ReadValue<quint16>(this);
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime:
        return ReadValue<qint32>(this);
    case ftLargeint:
        return ReadValue<qint64>(this);
    case ftBoolean:
        return AsBoolean() ? 1 : 0;
    case ftFloat:
    case ftCurrency:
    case ftDateTime:
        return RoundToInt64(ReadValue<double>(this));
    default:
        return 0;
    }
}

double TExprNode::AsFloat() const
{
    switch (DataType) {
    case ftFloat:
    case ftCurrency:
    case ftDateTime:
        return ReadValue<double>(this);
    default:
        return static_cast<double>(AsInteger());
    }
}

std::string_view TExprNode::TextView() const
{
    if (!Data || DataSize <= 0)
        return std::string_view();
    const void *nul = std::memchr(Data, 0, static_cast<size_t>(DataSize));
    const size_t len = nul ? static_cast<size_t>(static_cast<const char *>(nul) - Data) : size_t(DataSize);
    return std::string_view(Data, len);
}

QByteArray TExprNode::AsText() const
{
    if (!Data || DataSize <= 0)
        return QByteArray();
    const void *nul = std::memchr(Data, 0, static_cast<size_t>(DataSize));
    const int len = nul ? static_cast<int>(static_cast<const char *>(nul) - Data) : DataSize;
    return QByteArray(Data, len);
}

void TExprNode::SetBoolean(bool Value)
{
    SetDataSize(1)[0] = Value ? 1 : 0;
}

void TExprNode::SetText(const QByteArray &Value)
{
    char *p = SetDataSize(static_cast<int>(Value.size()) + 1);
    std::memcpy(p, Value.constData(), static_cast<size_t>(Value.size()));
    p[Value.size()] = 0;
}

// ---------------------------------------------------------------- TExprNodes

TExprNodes::TExprNodes(TExprParserBase *AOwner) : Owner(AOwner) {}

TExprNodes::~TExprNodes()
{
    Clear();
}

void TExprNodes::Clear()
{
    TExprNode *n = FirstNode;
    while (n) {
        TExprNode *next = n->Next;
        delete n;
        n = next;
    }
    FirstNode = nullptr;
    Root = nullptr;
}

TExprNode *TExprNodes::NewNode(TExprNodeKind Kind)
{
    auto *n = new TExprNode(this);
    n->Kind = Kind;
    n->Next = FirstNode;
    FirstNode = n;
    return n;
}

TExprNode *TExprNodes::NewConstNode(TFieldType DataType)
{
    TExprNode *n = NewNode(enConst);
    n->DataType = DataType;
    n->SetDataSize(ValueSize(DataType));
    return n;
}

static void SetDepth(TExprNode *N, int ChildDepth)
{
    if (ChildDepth + 1 > kMaxDepth)
        DatabaseError(Msg(kSExprTooComplex));
    N->Depth = ChildDepth + 1;
}

TExprNode *TExprNodes::NewOperatorNode(TExprOperator Operator, TExprNode *Left, TExprNode *Right)
{
    TExprNode *n = NewNode(enOperator);
    n->Operator = Operator;
    n->Left = Left;
    n->Right = Right;
    SetDepth(n, std::max(Left->Depth, Right ? Right->Depth : 0));
    TFieldType type = ftBoolean;
    switch (Operator) {
    case toNOT:
        if (Left->DataType != ftBoolean)
            TypeMismatch();
        break;
    case toAND:
    case toOR:
        if (Left->DataType != ftBoolean || Right->DataType != ftBoolean)
            TypeMismatch();
        break;
    case toEQ:
    case toNE:
    case toGT:
    case toLT:
    case toGE:
    case toLE:
        CheckComparable(Left, Right, Operator == toEQ || Operator == toNE);
        break;
    case toLIKE:
        if (!IsStringType(Left->DataType) || !IsStringType(Right->DataType))
            TypeMismatch();
        break;
    case toADD:
    case toSUB:
    case toMUL:
    case toDIV:
        type = ArithmeticType(Operator, Left, Right);
        break;
    default:
        TypeMismatch();
    }
    n->DataType = type;
    n->SetDataSize(ValueSize(type));
    return n;
}

TExprNode *TExprNodes::NewInNode(TExprNode *Left, const std::vector<TExprNode *> &Items)
{
    TExprNode *n = NewNode(enOperator);
    n->Operator = toIN;
    n->Left = Left;
    n->Args = Items;
    int depth = Left->Depth;
    for (TExprNode *item : Items) {
        CheckComparable(Left, item, true);
        depth = std::max(depth, item->Depth);
    }
    SetDepth(n, depth);
    n->DataType = ftBoolean;
    n->SetDataSize(1);
    return n;
}

TExprNode *TExprNodes::NewFuncNode(const QString &Name, TExprFunction Function, const std::vector<TExprNode *> &Args)
{
    TExprNode *n = NewNode(enFunc);
    n->Name = Name;
    n->Function = Function;
    n->Args = Args;
    int depth = 0;
    for (TExprNode *a : Args)
        depth = std::max(depth, a->Depth);
    SetDepth(n, depth);

    const auto argType = [&](size_t I) { return Args[I]->DataType; };
    TFieldType type = ftUnknown;
    switch (Function) {
    case fnUPPER:
    case fnLOWER:
    case fnTRIM:
    case fnTRIMLEFT:
    case fnTRIMRIGHT:
        if (Args.size() != 1 || !IsStringType(argType(0)))
            TypeMismatch();
        type = ftString;
        break;
    case fnSUBSTRING:
        if (Args.size() != 3 || !IsStringType(argType(0)))
            TypeMismatch();
        for (size_t i = 1; i < 3; ++i)
            if (Args[i]->Kind != enConst || !IsIntegerType(argType(i)))
                TypeMismatch();
        type = ftString;
        break;
    case fnYEAR:
    case fnMONTH:
    case fnDAY:
        if (Args.size() != 1 || (argType(0) != ftDate && argType(0) != ftDateTime))
            TypeMismatch();
        type = ftInteger;
        break;
    case fnHOUR:
    case fnMINUTE:
    case fnSECOND:
        if (Args.size() != 1 || (argType(0) != ftTime && argType(0) != ftDateTime))
            TypeMismatch();
        type = ftInteger;
        break;
    case fnGETDATE: {
        if (!Args.empty())
            TypeMismatch();
        // Fixed at the moment of parsing.
        const double ms = dataaccess::TimeStampToMSecs(dataaccess::DateTimeToTimeStamp(dataaccess::Now()));
        n->Kind = enConst;
        n->DataType = ftDateTime;
        std::memcpy(n->SetDataSize(8), &ms, 8);
        return n;
    }
    default:
        TypeMismatch();
    }
    n->DataType = type;
    n->SetDataSize(ValueSize(type));
    return n;
}

TExprNode *TExprNodes::NewFieldNode(const QString &Name, TFieldType DataType)
{
    TExprNode *n = NewNode(enField);
    n->Name = Name;
    n->DataType = DataType;
    n->ReadAsText = IsBlobFieldType(DataType);
    return n;
}

// ---------------------------------------------------------------- TSyntaxParserBase

QString TSyntaxParserBase::TokenName() const
{
    if (m_Token == etEnd)
        return Msg(kSExprNothing);
    return QLatin1Char('\'') + QString::fromUtf8(m_TokenString) + QLatin1Char('\'');
}

// ---------------------------------------------------------------- TExprParserBase

TExprParserBase::TExprParserBase() : m_ExprNodes(std::make_unique<TExprNodes>(this)) {}

TExprParserBase::~TExprParserBase() = default;

void TExprParserBase::Parse(const QString &Text)
{
    m_ExprNodes->Clear();
    m_Text = Text;
    m_AnsiText = Text.toUtf8();
    m_SourcePos = 0;
    m_Token = etEnd;
    m_PrevToken = etEnd;
    m_TokenString.clear();
    NextToken();
    TExprNode *root = ParseExpr();
    if (m_Token != etEnd)
        DatabaseError(Msg(kSExprIncorrect));
    // Only a truth value can accept or reject a record.
    if (root->DataType != ftBoolean)
        TypeMismatch();
    m_ExprNodes->Root = root;
}

void TExprParserBase::Evaluate(TFilterOptions Options, QVariant &Result)
{
    m_FilterOptions = Options;
    TExprNode *root = m_ExprNodes->Root;
    if (!root)
        DatabaseErrorFmt(Msg(kSExprExpected), Msg(kSExprNothing));
    // Field values are looked up afresh for each evaluation, so that a record buffer
    // the data set has replaced since is never read.
    for (TExprNode *n = m_ExprNodes->FirstNode; n; n = n->Next)
        if (n->Kind == enField)
            n->SetExternalData(nullptr, 0);
    Calculate(root, Options);
    Result = QVariant(root->AsBoolean());
}

TFieldType TExprParserBase::GetFuncDataType(const QString &Name)
{
    const QString n = Name.toUpper();
    if (n == QLatin1String("YEAR") || n == QLatin1String("MONTH") || n == QLatin1String("DAY") ||
        n == QLatin1String("HOUR") || n == QLatin1String("MINUTE") || n == QLatin1String("SECOND"))
        return ftInteger;
    if (n == QLatin1String("GETDATE"))
        return ftDateTime;
    return ftUnknown;
}

static TExprFunction FunctionOf(const QString &Name)
{
    static const char *const kNames[] = {"UPPER", "LOWER", "SUBSTRING", "TRIM",   "TRIMLEFT", "TRIMRIGHT", "YEAR",
                                         "MONTH", "DAY",   "HOUR",      "MINUTE", "SECOND",   "GETDATE"};
    for (int i = 0; i < 13; ++i)
        if (Name.compare(QLatin1String(kNames[i]), Qt::CaseInsensitive) == 0)
            return static_cast<TExprFunction>(i + 1);
    return fnNONE;
}

bool TExprParserBase::TokenSymbolIsFunc(const QString &Name)
{
    return FunctionOf(Name) != fnNONE;
}

void TExprParserBase::Calculate(TExprNode *Node, TFilterOptions Options)
{
    switch (Node->Kind) {
    case enField:
        if (Node->ReadAsText || !Node->Data) {
            TExprParserBase *parser = Node->Owner ? Node->Owner->Owner : nullptr;
            if (parser)
                parser->GetFieldValue(Node);
            else
                Node->SetDataSize(ValueSize(Node->DataType));
        }
        return;
    case enConst:
        return;
    case enFunc:
        for (TExprNode *a : Node->Args)
            Calculate(a, Options);
        EvalFunction(Node);
        return;
    case enOperator:
        break;
    }

    TExprNode *l = Node->Left;
    TExprNode *r = Node->Right;
    switch (Node->Operator) {
    case toNOT:
        Calculate(l, Options);
        Node->SetBoolean(!l->AsBoolean());
        return;
    case toAND:
        Calculate(l, Options);
        if (!l->AsBoolean()) {
            Node->SetBoolean(false);
            return;
        }
        Calculate(r, Options);
        Node->SetBoolean(r->AsBoolean());
        return;
    case toOR:
        Calculate(l, Options);
        if (l->AsBoolean()) {
            Node->SetBoolean(true);
            return;
        }
        Calculate(r, Options);
        Node->SetBoolean(r->AsBoolean());
        return;
    case toIN:
        Calculate(l, Options);
        for (TExprNode *item : Node->Args) {
            Calculate(item, Options);
            if (CompareNodes(l, item, Options) == 0) {
                Node->SetBoolean(true);
                return;
            }
        }
        Node->SetBoolean(false);
        return;
    default:
        break;
    }

    Calculate(l, Options);
    Calculate(r, Options);
    switch (Node->Operator) {
    case toEQ:
        Node->SetBoolean(CompareNodes(l, r, Options) == 0);
        return;
    case toNE:
        Node->SetBoolean(CompareNodes(l, r, Options) != 0);
        return;
    case toLT:
        Node->SetBoolean(CompareNodes(l, r, Options) == -1);
        return;
    case toGT:
        Node->SetBoolean(CompareNodes(l, r, Options) == 1);
        return;
    case toGE:
        Node->SetBoolean(CompareNodes(l, r, Options) != -1);
        return;
    case toLE:
        Node->SetBoolean(CompareNodes(l, r, Options) != 1);
        return;
    case toLIKE:
        Node->SetBoolean(LikeMatchText(l->TextView(), r->TextView(), !Options.testFlag(foCaseInsensitive)));
        return;
    case toADD:
    case toSUB:
    case toMUL:
    case toDIV:
        EvalArithmetic(Node);
        return;
    default:
        TypeMismatch();
    }
}

// ---------------------------------------------------------------- TFilterParser

TFilterParser::TFilterParser(TFilterFieldSource *DataSet) : m_DataSet(DataSet) {}

TFieldType TFilterParser::GetFieldDataType(const QString &Name)
{
    const int idx = m_DataSet ? m_DataSet->FilterFieldIndex(Name) : -1;
    if (idx < 0)
        DatabaseErrorFmt(QString::fromLatin1(dataaccess::msg::kSFieldNotFound), Name);
    return m_DataSet->FilterFieldType(idx);
}

void TFilterParser::GetFieldValue(TExprNode *Node)
{
    if (Node->FieldIndex < 0 && m_DataSet)
        Node->FieldIndex = m_DataSet->FilterFieldIndex(Node->Name);
    if (!m_DataSet || Node->FieldIndex < 0) {
        Node->SetDataSize(ValueSize(Node->DataType));
        return;
    }
    if (Node->ReadAsText) {
        Node->TextValue = m_DataSet->FilterFieldText(Node->FieldIndex);
        Node->SetText(Node->TextValue.toUtf8());
        return;
    }
    int size = 0;
    const char *data = m_DataSet->FilterFieldData(Node->FieldIndex, size);
    if (data)
        Node->SetExternalData(data, size);
    else
        Node->SetDataSize(ValueSize(Node->DataType)); // no record: an empty value
}

namespace {

bool IsDigit(unsigned char C)
{
    return C >= '0' && C <= '9';
}

bool IsLetter(unsigned char C)
{
    return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z');
}

bool SameWord(const QByteArray &Token, const char *Word)
{
    return Token.compare(Word, Qt::CaseInsensitive) == 0;
}

} // namespace

// The character at a position of the 8-bit text, for a message.
static QString CharForMessage(const QByteArray &Text, int Pos)
{
    if (Pos >= Text.size() || Text[Pos] == 0)
        return QStringLiteral("#0");
    int end = Pos + 1;
    while (end < Text.size() && (static_cast<unsigned char>(Text[end]) & 0xC0) == 0x80)
        ++end;
    return QString::fromUtf8(Text.mid(Pos, end - Pos));
}

void TFilterParser::SkipBlanks()
{
    const QByteArray &s = m_AnsiText;
    const int n = static_cast<int>(s.size());
    auto skip = [&] {
        while (m_SourcePos < n && s[m_SourcePos] != 0 && IsBlank(s[m_SourcePos]))
            ++m_SourcePos;
    };
    skip();
    if (m_SourcePos + 1 < n && s[m_SourcePos] == '/' && s[m_SourcePos + 1] == '*') {
        int q = m_SourcePos + 2;
        while (q < n && s[q] != '*' && s[q] != 0)
            ++q;
        if (q >= n || s[q] == 0)
            DatabaseErrorFmt(Msg(kSExprInvalidChar), CharForMessage(s, q));
        if (q + 1 >= n || s[q + 1] != '/')
            DatabaseErrorFmt(Msg(kSExprInvalidChar), CharForMessage(s, q + 1));
        m_SourcePos = q + 2;
        skip();
    }
}

bool TFilterParser::NextIsLParen() const
{
    int p = m_SourcePos;
    while (p < m_AnsiText.size() && m_AnsiText[p] != 0 && IsBlank(m_AnsiText[p]))
        ++p;
    return p < m_AnsiText.size() && m_AnsiText[p] == '(';
}

void TFilterParser::NextToken()
{
    m_PrevToken = m_Token;
    m_TokenString.clear();
    SkipBlanks();

    const QByteArray &s = m_AnsiText;
    const int n = static_cast<int>(s.size());
    int &p = m_SourcePos;
    if (p >= n) {
        m_Token = etEnd;
        return;
    }
    auto at = [&](int I) -> unsigned char { return I < n ? static_cast<unsigned char>(s[I]) : 0; };
    const unsigned char c = at(p);
    auto single = [&](TExprToken T, int Len) {
        m_Token = T;
        m_TokenString = s.mid(p, Len);
        p += Len;
    };

    switch (c) {
    case '(':
        return single(etLParen, 1);
    case ')':
        return single(etRParen, 1);
    case ',':
        return single(etComma, 1);
    case '+':
        return single(etADD, 1);
    case '*':
        return single(etMUL, 1);
    case '/':
        return single(etDIV, 1);
    case '=':
        return single(etEQ, 1);
    case '<':
        if (at(p + 1) == '>')
            return single(etNE, 2);
        if (at(p + 1) == '=')
            return single(etLE, 2);
        return single(etLT, 1);
    case '>':
        if (at(p + 1) == '=')
            return single(etGE, 2);
        return single(etGT, 1);
    default:
        break;
    }

    const bool minusIsOperator = m_PrevToken == etLiteral || m_PrevToken == etNumLiteral || m_PrevToken == etName ||
        m_PrevToken == etSymbol || m_PrevToken == etRParen;
    if (c == '-' && minusIsOperator)
        return single(etSUB, 1);

    if (c == '-' || IsDigit(c)) {
        const char sep = dataaccess::FormatSettings().DecimalSeparator.toLatin1();
        const int start = p;
        ++p;
        while (p < n) {
            const unsigned char d = at(p);
            const bool exponentSign = (d == '+' || d == '-') && (at(p - 1) == 'E' || at(p - 1) == 'e');
            if (IsDigit(d) || d == 'E' || d == 'e' || d == static_cast<unsigned char>(sep) || exponentSign)
                ++p;
            else
                break;
        }
        // "1, 2" in a list where the separator is a comma: the comma is not the number's.
        if (sep == ',' && p - 1 > start && at(p - 1) == ',' && p < n && at(p) != 0 && IsBlank(s[p]))
            --p;
        m_Token = etNumLiteral;
        m_TokenString = s.mid(start, p - start);
        return;
    }

    if (c == '\'') {
        ++p;
        int chars = 0;
        bool dropping = false;
        for (;;) {
            if (p >= n || at(p) == 0)
                DatabaseError(Msg(kSExprStringTerminator));
            const unsigned char d = at(p);
            if (d == '\'') {
                if (at(p + 1) != '\'') {
                    ++p;
                    break;
                }
                ++p; // two quotes stand for one
            }
            // At most 256 characters are kept; the rest is read and dropped.
            if ((d & 0xC0) != 0x80) {
                if (chars == 256)
                    dropping = true;
                else
                    ++chars;
            }
            if (!dropping)
                m_TokenString.append(static_cast<char>(d));
            ++p;
        }
        m_Token = etLiteral;
        return;
    }

    if (c == '[') {
        const int start = ++p;
        while (p < n && at(p) != ']' && at(p) != 0)
            ++p;
        if (p >= n || at(p) == 0)
            DatabaseError(Msg(kSExprNameTerminator));
        m_TokenString = s.mid(start, p - start);
        ++p;
        m_Token = etName;
        return;
    }

    if (IsLetter(c) || c == '_' || (c >= 129 && c <= 254)) {
        const int start = p;
        ++p;
        while (p < n) {
            const unsigned char d = at(p);
            if (IsLetter(d) || IsDigit(d) || d == '_' || d == '.' || d == '[' || d == ']' || d >= 128)
                ++p;
            else
                break;
        }
        m_TokenString = s.mid(start, p - start);
        if (SameWord(m_TokenString, "LIKE"))
            m_Token = etLIKE;
        else if (SameWord(m_TokenString, "IN"))
            m_Token = etIN;
        else
            m_Token = etSymbol;
        return;
    }

    DatabaseErrorFmt(Msg(kSExprInvalidChar), CharForMessage(s, p));
}

TExprNode *TFilterParser::ParseExpr()
{
    m_Nesting = 0;
    return ParseOr();
}

namespace {
struct NestingGuard
{
    int &Level;
    explicit NestingGuard(int &L) : Level(L)
    {
        if (++Level > kMaxNesting) {
            --Level;
            DatabaseError(Msg(kSExprTooComplex));
        }
    }
    ~NestingGuard() { --Level; }
};
} // namespace

TExprNode *TFilterParser::ParseOr()
{
    NestingGuard guard(m_Nesting);
    TExprNode *left = ParseAnd();
    while (m_Token == etSymbol && SameWord(m_TokenString, "OR")) {
        NextToken();
        TExprNode *right = ParseAnd();
        left = m_ExprNodes->NewOperatorNode(toOR, left, right);
    }
    return left;
}

TExprNode *TFilterParser::ParseAnd()
{
    TExprNode *left = ParseNot();
    while (m_Token == etSymbol && SameWord(m_TokenString, "AND")) {
        NextToken();
        TExprNode *right = ParseNot();
        left = m_ExprNodes->NewOperatorNode(toAND, left, right);
    }
    return left;
}

TExprNode *TFilterParser::ParseNot()
{
    if (m_Token == etSymbol && SameWord(m_TokenString, "NOT")) {
        NextToken();
        TExprNode *operand = ParseCompare();
        return m_ExprNodes->NewOperatorNode(toNOT, operand, nullptr);
    }
    return ParseCompare();
}

std::vector<TExprNode *> TFilterParser::ParseList(bool AllowEmpty)
{
    // The current token is the one after "(".
    std::vector<TExprNode *> items;
    if (m_Token == etRParen) {
        if (!AllowEmpty)
            DatabaseError(Msg(kSExprEmptyInList));
        NextToken();
        return items;
    }
    for (;;) {
        items.push_back(ParseOr());
        if (m_Token == etComma) {
            NextToken();
            continue;
        }
        if (m_Token == etRParen) {
            NextToken();
            return items;
        }
        if (m_Token == etEnd)
            DatabaseErrorFmt(Msg(kSExprRParenExpected), TokenName());
        DatabaseErrorFmt(Msg(kSExprRParenOrCommaExpected), TokenName());
    }
}

TExprNode *TFilterParser::ParseCompare()
{
    TExprNode *left = ParseAdd();
    TExprOperator op = toNOTDEFINED;
    switch (m_Token) {
    case etEQ:
        op = toEQ;
        break;
    case etNE:
        op = toNE;
        break;
    case etGE:
        op = toGE;
        break;
    case etLE:
        op = toLE;
        break;
    case etGT:
        op = toGT;
        break;
    case etLT:
        op = toLT;
        break;
    case etLIKE:
        op = toLIKE;
        break;
    case etIN: {
        NextToken();
        if (m_Token != etLParen)
            DatabaseErrorFmt(Msg(kSExprLParenExpected), TokenName());
        NextToken();
        const std::vector<TExprNode *> items = ParseList(false);
        return m_ExprNodes->NewInNode(left, items);
    }
    default:
        return left;
    }
    NextToken();
    TExprNode *right = ParseAdd();
    return m_ExprNodes->NewOperatorNode(op, left, right);
}

TExprNode *TFilterParser::ParseAdd()
{
    TExprNode *left = ParseMul();
    while (m_Token == etADD || m_Token == etSUB) {
        const TExprOperator op = m_Token == etADD ? toADD : toSUB;
        NextToken();
        TExprNode *right = ParseMul();
        left = m_ExprNodes->NewOperatorNode(op, left, right);
    }
    return left;
}

TExprNode *TFilterParser::ParseMul()
{
    TExprNode *left = ParsePrimary();
    while (m_Token == etMUL || m_Token == etDIV) {
        const TExprOperator op = m_Token == etMUL ? toMUL : toDIV;
        NextToken();
        TExprNode *right = ParsePrimary();
        left = m_ExprNodes->NewOperatorNode(op, left, right);
    }
    return left;
}

// Reads a 32-bit integer written as an optional "-" and decimal digits only.
static bool ReadInt32(const QByteArray &Text, qint32 &Value)
{
    qsizetype i = 0;
    const bool negative = !Text.isEmpty() && Text[0] == '-';
    if (negative)
        ++i;
    if (i >= Text.size())
        return false;
    qint64 v = 0;
    for (; i < Text.size(); ++i) {
        const char c = Text[i];
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
        if (v > 2147483648LL)
            return false;
    }
    if (negative)
        v = -v;
    if (v > 2147483647LL || v < -2147483648LL)
        return false;
    Value = static_cast<qint32>(v);
    return true;
}

TExprNode *TFilterParser::ParsePrimary()
{
    switch (m_Token) {
    case etSymbol: {
        const QString name = QString::fromUtf8(m_TokenString);
        if (NextIsLParen() && TokenSymbolIsFunc(name)) {
            NestingGuard guard(m_Nesting);
            NextToken(); // "("
            NextToken();
            const std::vector<TExprNode *> args = ParseList(true);
            return m_ExprNodes->NewFuncNode(name, FunctionOf(name), args);
        }
        if (SameWord(m_TokenString, "TRUE") || SameWord(m_TokenString, "FALSE")) {
            TExprNode *n = m_ExprNodes->NewConstNode(ftBoolean);
            n->SetBoolean(SameWord(m_TokenString, "TRUE"));
            NextToken();
            return n;
        }
        [[fallthrough]];
    }
    case etName: {
        const QString name = QString::fromUtf8(m_TokenString);
        const TFieldType type = GetFieldDataType(name);
        TExprNode *n = m_ExprNodes->NewFieldNode(name, type);
        n->FieldIndex = m_DataSet ? m_DataSet->FilterFieldIndex(name) : -1;
        NextToken();
        return n;
    }
    case etNumLiteral: {
        qint32 i = 0;
        TExprNode *n = nullptr;
        if (ReadInt32(m_TokenString, i)) {
            n = m_ExprNodes->NewConstNode(ftInteger);
            std::memcpy(n->Buffer(), &i, 4);
        } else {
            const QString text = QString::fromLatin1(m_TokenString);
            const double d = dataaccess::StrToFloat(text);
            if (!std::isfinite(d))
                throw EConvertError(dataaccess::Format(QString::fromLatin1(dataaccess::msg::kSInvalidFloat), text));
            n = m_ExprNodes->NewConstNode(ftFloat);
            std::memcpy(n->Buffer(), &d, 8);
        }
        NextToken();
        return n;
    }
    case etLiteral: {
        TExprNode *n = m_ExprNodes->NewConstNode(ftString);
        n->SetText(m_TokenString);
        n->PartialLength = static_cast<int>(QString::fromUtf8(m_TokenString).indexOf(QLatin1Char('*')));
        NextToken();
        return n;
    }
    case etLParen: {
        NextToken();
        TExprNode *n = ParseOr();
        if (m_Token != etRParen)
            DatabaseErrorFmt(Msg(kSExprRParenExpected), TokenName());
        NextToken();
        return n;
    }
    default:
        DatabaseErrorFmt(Msg(kSExprExpected), TokenName());
    }
}

// ---------------------------------------------------------------- comparisons

namespace {

template <class T>
T Load(const void *P)
{
    T v;
    std::memcpy(&v, P, sizeof v);
    return v;
}

template <class T>
int Order(T A, T B)
{
    return A < B ? -1 : (B < A ? 1 : (A == B ? 0 : 1));
}

} // namespace

int CompareFieldValue(const void *A, const void *B, bool PartialKey, bool CaseInsensitive, TFieldType FieldType)
{
    // The common stored forms directly, in the order the nodes below would give.
    switch (FieldType) {
    case ftSmallint:
        return Order(Load<qint16>(A), Load<qint16>(B));
    case ftWord:
        return Order(Load<quint16>(A), Load<quint16>(B));
    case ftInteger:
    case ftAutoInc:
        return Order(Load<qint32>(A), Load<qint32>(B));
    case ftLargeint:
        return Order(Load<qint64>(A), Load<qint64>(B));
    case ftFloat:
    case ftCurrency:
        return Order(Load<double>(A), Load<double>(B));
    case ftString:
    case ftFixedChar: {
        const std::string_view a(static_cast<const char *>(A)), b(static_cast<const char *>(B));
        if (IsAscii(a) && IsAscii(b))
            return CompareAsciiDBString(a, b, PartialKey, CaseInsensitive, static_cast<int>(a.size()));
        break;
    }
    default:
        break;
    }
    TExprNode left(nullptr);
    TExprNode right(nullptr);
    left.DataType = FieldType;
    right.DataType = FieldType;
    const auto *a = static_cast<const char *>(A);
    const auto *b = static_cast<const char *>(B);
    if (IsStringType(FieldType)) {
        left.SetExternalData(a, static_cast<int>(std::strlen(a)) + 1);
        right.SetExternalData(b, static_cast<int>(std::strlen(b)) + 1);
    } else if (FieldType == ftBoolean) {
        // A stored truth value takes 16 bits.
        left.SetExternalData(a, 2);
        right.SetExternalData(b, 2);
    } else {
        left.SetExternalData(a, ValueSize(FieldType));
        right.SetExternalData(b, ValueSize(FieldType));
    }
    if (PartialKey &&
        (FieldType == ftString || FieldType == ftFixedChar || FieldType == ftWideString || FieldType == ftGuid)) {
        const int len = static_cast<int>(QString::fromUtf8(left.AsText()).size());
        left.PartialLength = len;
        right.PartialLength = len;
    }
    TFilterOptions options;
    if (CaseInsensitive)
        options |= foCaseInsensitive;
    if (!PartialKey)
        options |= foNoPartialCompare;
    const int c = CompareNodes(&left, &right, options);
    if (c == 0)
        return 0;
    return c == -1 ? -1 : 1;
}

bool LikeMatch(const QString &Value, const QString &Pattern, bool CaseSensitive)
{
    std::u32string v = Value.toStdU32String();
    std::u32string p = Pattern.toStdU32String();
    if (!CaseSensitive) {
        for (char32_t &c : v)
            c = QChar::toCaseFolded(c);
        for (char32_t &c : p)
            c = QChar::toCaseFolded(c);
    }
    return LikeColumns(v.data(), v.size(), p.data(), p.size());
}

#include "dictdb/DictDBUtils.h"

#include "dictdb/HashBase.h"
#include "dictdb/Hash_CheckSum.h"
#include "dictdb/Hash_SHA.h"

#include <QDate>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

// ---- definition collections ----

int TDictDefCollection::IndexOf(const QString &Name) const
{
    for (int i = 0; i < Count(); ++i) {
        const auto *item = static_cast<const TNamedItem *>(TCollection::Items(i));
        if (CompareDBString(item->Name(), Name, false, true, 0) == 0)
            return i;
    }
    return -1;
}

TNamedItem *TDictDefCollection::Find(const QString &Name) const
{
    const int i = IndexOf(Name);
    return i < 0 ? nullptr : static_cast<TNamedItem *>(TCollection::Items(i));
}

void TDictDefCollection::Added(TCollectionItem *Item)
{
    auto *named = dynamic_cast<TNamedItem *>(Item);
    if (named && named->Name().isEmpty())
        named->SetName(named->ClassName().mid(1, 5) + QString::number(named->ID() + 1));
}

void TDictFieldDef::Assign(const TCollectionItem *Source)
{
    if (const auto *src = dynamic_cast<const TDictFieldDef *>(Source)) {
        if (Collection())
            Collection()->BeginUpdate();
        SetName(src->Name());
        FieldType = src->FieldType;
        FieldSize = src->FieldSize;
        DPMode = src->DPMode;
        if (Collection())
            Collection()->EndUpdate();
        return;
    }
    TNamedItem::Assign(Source);
}

void TDictIndexDef::Assign(const TCollectionItem *Source)
{
    if (const auto *src = dynamic_cast<const TDictIndexDef *>(Source)) {
        if (Collection())
            Collection()->BeginUpdate();
        SetName(src->Name());
        Options = src->Options;
        FieldIdxes = src->FieldIdxes;
        if (Collection())
            Collection()->EndUpdate();
        return;
    }
    TNamedItem::Assign(Source);
}

// ---- field sizes and buffers ----

qint32 GetFieldSize(TFieldType FieldType, qint32 Size)
{
    switch (FieldType) {
    case ftString:
    case ftFixedChar:
        return Size + 1;
    case ftSmallint:
    case ftWord:
    case ftBoolean:
        return 2;
    case ftInteger:
    case ftDate:
    case ftTime:
    case ftAutoInc:
        return 4;
    case ftFloat:
    case ftCurrency:
    case ftDateTime:
    case ftLargeint:
        return 8;
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
        return 0;
    default:
        DatabaseError(QString::fromLatin1(dictdb::msg::kSGeneralError));
    }
}

TFieldBufferItem::~TFieldBufferItem()
{
    if (!AutoFree || !Buffer)
        return;
    if (IsBlob())
        delete static_cast<TMemoryStream *>(Buffer);
    else
        std::free(Buffer);
}

void *TFieldBufferItem::DataBuf() const
{
    if (IsBlob()) {
        TMemoryStream *s = BlobStream();
        if (!s)
            return nullptr;
        if (auto *o = dynamic_cast<TOptimBlobStream *>(s))
            o->LoadIfNeeded();
        return s->Memory();
    }
    return Buffer;
}

namespace {

template <class T>
T Get(const void *P)
{
    T v;
    std::memcpy(&v, P, sizeof v);
    return v;
}

} // namespace

QString TFieldBufferItem::AsString() const
{
    if (!Buffer)
        return QString();
    if (IsBlob()) {
        TMemoryStream *s = BlobStream();
        if (auto *o = dynamic_cast<TOptimBlobStream *>(s))
            o->LoadIfNeeded();
        return dictdb::SlotText(static_cast<const char *>(s->Memory()), int(s->Size()));
    }
    const void *p = Buffer;
    switch (FieldType) {
    case ftString:
    case ftFixedChar:
        return dictdb::SlotText(static_cast<const char *>(p), FieldSize);
    case ftSmallint:
        return QString::number(Get<qint16>(p));
    case ftWord:
        return QString::number(Get<quint16>(p));
    case ftInteger:
    case ftAutoInc:
        return QString::number(Get<qint32>(p));
    case ftLargeint:
        return QString::number(Get<qint64>(p));
    case ftFloat:
    case ftCurrency:
        return dataaccess::FloatToStr(Get<double>(p));
    case ftBoolean:
        return dataaccess::BoolToStr(Get<quint16>(p) != 0);
    case ftDate: {
        TTimeStamp ts;
        ts.Date = Get<qint32>(p);
        return dataaccess::IsValidTimeStamp(ts) ? dataaccess::DateToStr(dataaccess::TimeStampToDateTime(ts))
                                                : QString();
    }
    case ftTime: {
        TTimeStamp ts;
        ts.Date = dataaccess::kDateDelta;
        ts.Time = Get<qint32>(p);
        return dataaccess::IsValidTimeStamp(ts) ? dataaccess::TimeToStr(dataaccess::TimeStampToDateTime(ts))
                                                : QString();
    }
    case ftDateTime: {
        const TTimeStamp ts = dataaccess::MSecsToTimeStamp(std::round(Get<double>(p)));
        return dataaccess::IsValidTimeStamp(ts) ? dataaccess::DateTimeToStr(dataaccess::TimeStampToDateTime(ts))
                                                : QString();
    }
    default:
        return QString();
    }
}

TFieldBufferItem *TFieldBuffers::Add(void *Buffer, TFieldType FieldType, qint32 DataSize)
{
    auto *item = new TFieldBufferItem;
    item->FieldType = FieldType;
    item->FieldSize = DataSize;
    if (item->IsBlob() && Buffer) {
        TMemoryStream *stream = nullptr;
        std::memcpy(&stream, Buffer, sizeof stream); // NOLINT(bugprone-sizeof-expression): the buffer holds the pointer
        item->Buffer = stream;
    } else {
        item->Buffer = Buffer;
    }
    m_Items.push_back(item);
    return item;
}

void TFieldBuffers::Clear()
{
    for (TFieldBufferItem *item : m_Items)
        delete item;
    m_Items.clear();
}

// ---- the lazily loaded blob stream ----

void TOptimBlobStream::SetBlobInfo(TDictBlobReader *AFileIO, qint32 ASlotPosition, bool AEncrypted, bool ACompressed,
                                   const QString &AWhere)
{
    FileIO = AFileIO;
    Where = AWhere;
    SlotPosition = ASlotPosition;
    Encrypted = AEncrypted;
    Compressed = ACompressed;
    Loaded = false;
}

void TOptimBlobStream::LoadIfNeeded()
{
    if (Loaded || SlotPosition == 0 || !FileIO || m_Loading)
        return;
    Loaded = true;
    m_Loading = true;
    try {
        FileIO->ReadBlobData(this, SlotPosition, Compressed, Encrypted, Where);
    } catch (...) {
        m_Loading = false;
        TMemoryStream::Clear();
        throw;
    }
    m_Loading = false;
    TMemoryStream::Seek(0, dataaccess::soBeginning);
}

qint64 TOptimBlobStream::Read(void *Buffer, qint64 Count)
{
    LoadIfNeeded();
    return TMemoryStream::Read(Buffer, Count);
}

qint64 TOptimBlobStream::Seek(qint64 Offset, dataaccess::TSeekOrigin Origin)
{
    LoadIfNeeded();
    return TMemoryStream::Seek(Offset, Origin);
}

qint64 TOptimBlobStream::Size()
{
    LoadIfNeeded();
    return TMemoryStream::Size();
}

qint64 TOptimBlobStream::Write(const void *Buffer, qint64 Count)
{
    Loaded = true;
    return TMemoryStream::Write(Buffer, Count);
}

void TOptimBlobStream::SetSize(qint64 NewSize)
{
    Loaded = true;
    TMemoryStream::SetSize(NewSize);
}

void TOptimBlobStream::Realloc(qint64 NewCapacity)
{
    Loaded = true;
    TMemoryStream::Realloc(NewCapacity);
}

// ---- memory database names ----

namespace {

struct MemRegistry
{
    std::mutex Lock;
    std::map<quint64, TStream *> Streams;
    quint64 Next = 1;
};

MemRegistry &Registry()
{
    static MemRegistry r;
    return r;
}

bool IsHexStr(const QString &S)
{
    for (QChar c : S) {
        const char16_t u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f')))
            return false;
    }
    return true;
}

} // namespace

bool IsValidMemDBName(const QString &Name)
{
    // A colon alone names nothing: refused like any other malformed name.
    return Name.size() >= 2 && Name.at(0) == QLatin1Char(':') && IsHexStr(Name.mid(1));
}

TStream *DBNameToStreamAddr(const QString &Name)
{
    if (!IsValidMemDBName(Name))
        return nullptr;
    bool ok = false;
    const quint64 key = Name.mid(1).toUpper().toULongLong(&ok, 16);
    if (!ok)
        return nullptr;
    MemRegistry &r = Registry();
    std::lock_guard<std::mutex> g(r.Lock);
    const auto it = r.Streams.find(key);
    return it == r.Streams.end() ? nullptr : it->second;
}

QString RegisterMemDBStream(TStream *Stream)
{
    MemRegistry &r = Registry();
    std::lock_guard<std::mutex> g(r.Lock);
    for (const auto &[key, s] : r.Streams)
        if (s == Stream)
            return QLatin1Char(':') + QString::number(key, 16).toUpper();
    const quint64 key = r.Next++;
    r.Streams[key] = Stream;
    return QLatin1Char(':') + QString::number(key, 16).toUpper();
}

void UnregisterMemDBStream(TStream *Stream)
{
    MemRegistry &r = Registry();
    std::lock_guard<std::mutex> g(r.Lock);
    for (auto it = r.Streams.begin(); it != r.Streams.end(); ++it)
        if (it->second == Stream) {
            r.Streams.erase(it);
            return;
        }
}

// ---- strings ----

namespace {

int CompareCodePoints(const QString &A, const QString &B)
{
    const qsizetype n = qMin(A.size(), B.size());
    for (qsizetype i = 0; i < n; ++i) {
        char32_t a = A.at(i).unicode(), b = B.at(i).unicode();
        if (a == b)
            continue;
        // Surrogates stand for code points above every BMP character.
        if (a >= 0xD800 && a <= 0xDFFF)
            a += 0x110000;
        if (b >= 0xD800 && b <= 0xDFFF)
            b += 0x110000;
        return a < b ? -1 : 1;
    }
    if (A.size() == B.size())
        return 0;
    return A.size() < B.size() ? -1 : 1;
}

} // namespace

int CompareDBString(const QString &S1, const QString &S2, bool PartialCompare, bool CaseInsensitive, int Length)
{
    QString a = S1, b = S2;
    if (PartialCompare) {
        if (Length < 0)
            Length = 0;
        a.truncate(Length);
        b.truncate(Length);
    }
    const int folded = CompareCodePoints(a.toCaseFolded(), b.toCaseFolded());
    if (folded != 0 || CaseInsensitive)
        return folded;
    return CompareCodePoints(a, b);
}

bool IsInt(const QString &Text)
{
    qint32 v = 0;
    return dataaccess::TryStrToInt(Text, v);
}

// ---- date and time scanners ----

namespace {

struct Scanner
{
    const QString &S;
    qsizetype Pos = 0;

    void Blanks()
    {
        while (Pos < S.size() && S.at(Pos) == QLatin1Char(' '))
            ++Pos;
    }
    bool AtEnd()
    {
        Blanks();
        return Pos >= S.size();
    }
    bool Number(int &Value, int &Digits)
    {
        Blanks();
        Value = 0;
        Digits = 0;
        while (Pos < S.size() && S.at(Pos).isDigit() && S.at(Pos).unicode() < 128 && Value < 1000) {
            Value = Value * 10 + (S.at(Pos).unicode() - '0');
            ++Pos;
            ++Digits;
        }
        return Digits > 0;
    }
    bool Char(QChar C)
    {
        Blanks();
        if (Pos < S.size() && S.at(Pos) == C) {
            ++Pos;
            return true;
        }
        return false;
    }
    bool Word(const QString &W)
    {
        Blanks();
        if (!W.isEmpty() && S.mid(Pos, W.size()).compare(W, Qt::CaseInsensitive) == 0) {
            Pos += W.size();
            return true;
        }
        return false;
    }
    int Marker()
    {
        const TFormatSettings &fs = FormatSettings();
        if (Word(fs.TimeAMString) || Word(QStringLiteral("AM")))
            return 0;
        if (Word(fs.TimePMString) || Word(QStringLiteral("PM")))
            return 12;
        return -1;
    }

    bool Date(TDateTime &Value)
    {
        int m, d, y, nd, ny;
        if (!Number(m, nd) || !Char(QLatin1Char('/')) || !Number(d, nd) || !Char(QLatin1Char('/')) || !Number(y, ny))
            return false;
        if (ny <= 2) {
            const int window = FormatSettings().TwoDigitYearCenturyWindow;
            const int current = QDate::currentDate().year() - window;
            y += current / 100 * 100;
            if (window > 0 && current > y)
                y += 100;
        }
        return dataaccess::TryEncodeDate(y, m, d, Value);
    }

    bool Time(TDateTime &Value)
    {
        int base = Marker();
        int h, n = 0, sec = 0, ms = 0, digits;
        if (!Number(h, digits))
            return false;
        if (Char(QLatin1Char(':'))) {
            if (!Number(n, digits))
                return false;
            if (Char(QLatin1Char(':'))) {
                if (!Number(sec, digits))
                    return false;
                if (Char(FormatSettings().DecimalSeparator) && !Number(ms, digits))
                    return false;
            }
        }
        if (base < 0)
            base = Marker();
        if (base >= 0) {
            if (h == 0 || h > 12)
                return false;
            if (h == 12)
                h = 0;
            h += base;
        }
        return dataaccess::TryEncodeTime(h, n, sec, ms, Value);
    }
};

} // namespace

bool IsDateStr(const QString &Text, TDateTime &Value)
{
    Scanner sc{Text};
    TDateTime v = 0;
    if (!sc.Date(v) || !sc.AtEnd())
        return false;
    Value = v;
    return true;
}

bool IsTimeStr(const QString &Text, TDateTime &Value)
{
    Scanner sc{Text};
    TDateTime v = 0;
    if (!sc.Time(v) || !sc.AtEnd())
        return false;
    Value = v;
    return true;
}

bool IsDateTimeStr(const QString &Text, TDateTime &Value)
{
    {
        Scanner sc{Text};
        TDateTime d = 0, t = 0;
        if (sc.Date(d)) {
            if (sc.AtEnd()) {
                Value = d;
                return true;
            }
            if (sc.Time(t)) {
                Value = d >= 0 ? d + t : d - t;
                return true;
            }
        }
    }
    return IsTimeStr(Text, Value);
}

int CompareMSecs(double A, double B)
{
    if (std::fabs(A - B) < 1000)
        return 0;
    return A > B ? 1 : -1;
}

QString HashPassword(const QString &Password)
{
    return HashText(HashClassOf<THash_SHA>(), nullptr, Password);
}

qint32 CalcBufferCRC32(const void *Buffer, int Size)
{
    quint8 digest[4] = {};
    HashBuffer(HashClassOf<THash_CRC32>(), digest, Buffer, Size);
    qint32 v;
    std::memcpy(&v, digest, 4);
    return v;
}

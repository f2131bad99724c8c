#include "dataaccess/Fields.h"

#include "dataaccess/DataSet.h"
#include "dataaccess/Streams.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <cmath>
#include <cstring>
#include <memory>

namespace dataaccess {

namespace {

// Length of the longest prefix of at most MaxBytes bytes that ends on a UTF-8 character boundary.
int CutUtf8(const QByteArray &Text, int MaxBytes)
{
    if (Text.size() <= MaxBytes)
        return int(Text.size());
    int n = MaxBytes;
    // Step back over continuation bytes to the start of the character that would be split.
    while (n > 0 && (quint8(Text.at(n)) & 0xC0) == 0x80)
        --n;
    return n;
}

bool IsTextVariant(const QVariant &V)
{
    const int t = V.typeId();
    return t == QMetaType::QString || t == QMetaType::QByteArray || t == QMetaType::QChar;
}

qint64 VariantToInt64(const QVariant &V, const TField *Field)
{
    bool ok = false;
    qint64 r = 0;
    if (V.typeId() == QMetaType::Double || V.typeId() == QMetaType::Float) {
        const double d = V.toDouble();
        if (!std::isfinite(d) || std::fabs(d) > 9.2e18)
            DatabaseErrorFmt(QString::fromLatin1(msg::kSFieldValueError), Field->FieldName());
        return std::llround(d);
    }
    if (V.typeId() == QMetaType::Bool)
        return V.toBool() ? 1 : 0;
    r = V.toLongLong(&ok);
    if (!ok)
        DatabaseErrorFmt(QString::fromLatin1(msg::kSFieldValueError), Field->FieldName());
    return r;
}

} // namespace

// ---------------------------------------------------------------- TField

TField::TField() = default;

TField::TField(TFieldType DataType, int Size) : m_Size(Size), m_DataType(DataType) {}

TField::~TField()
{
    if (m_DataSet)
        m_DataSet->Fields()->Remove(this);
}

void TField::SetDataSet(TDataSet *Value)
{
    if (Value == m_DataSet)
        return;
    if (Value) {
        Value->CheckInactive();
        if (!m_FieldName.isEmpty() && Value->FindField(m_FieldName))
            DatabaseErrorFmt(QString::fromLatin1(msg::kSDuplicateFieldName), m_FieldName);
    }
    if (m_DataSet)
        m_DataSet->Fields()->Remove(this);
    if (Value)
        Value->Fields()->Add(this);
}

int TField::Index() const
{
    return m_DataSet ? m_DataSet->Fields()->IndexOf(this) : -1;
}

void TField::SetFieldName(const QString &Value)
{
    if (m_DataSet && Value.compare(m_FieldName, Qt::CaseInsensitive) != 0) {
        if (TField *other = m_DataSet->FindField(Value); other && other != this)
            DatabaseErrorFmt(QString::fromLatin1(msg::kSDuplicateFieldName), Value);
    }
    m_FieldName = Value;
}

void TField::SetSize(int Value)
{
    if (m_DataSet)
        m_DataSet->CheckInactive();
    m_Size = Value;
}

void TField::SetFieldKind(TFieldKind Value)
{
    if (m_DataSet)
        m_DataSet->CheckInactive();
    m_FieldKind = Value;
}

bool TField::CanModify() const
{
    return !m_ReadOnly && m_DataSet && m_DataSet->CanModify();
}

bool TField::GetData(void *Buffer, bool NativeFormat) const
{
    if (!m_DataSet)
        DatabaseErrorFmt(QString::fromLatin1(msg::kSDataSetMissing), m_FieldName);
    return m_DataSet->GetFieldData(const_cast<TField *>(this), Buffer, NativeFormat);
}

void TField::SetData(const void *Buffer, bool NativeFormat)
{
    if (!m_DataSet)
        DatabaseErrorFmt(QString::fromLatin1(msg::kSDataSetMissing), m_FieldName);
    m_DataSet->SetFieldData(this, Buffer, NativeFormat);
}

bool TField::IsNull() const
{
    return !GetData(nullptr);
}

void TField::Clear()
{
    SetData(nullptr);
}

void TField::AccessError(const char *TypeName) const
{
    DatabaseErrorFmt(QString::fromLatin1(msg::kSFieldAccessError), m_FieldName, TypeName);
}

QVariant TField::Value() const
{
    AccessError("Variant");
}
void TField::SetValue(const QVariant &)
{
    AccessError("Variant");
}
QString TField::AsString() const
{
    AccessError("String");
}
void TField::SetAsString(const QString &)
{
    AccessError("String");
}
qint32 TField::AsInteger() const
{
    AccessError("Integer");
}
void TField::SetAsInteger(qint32)
{
    AccessError("Integer");
}
qint64 TField::AsLargeInt() const
{
    AccessError("LargeInt");
}
void TField::SetAsLargeInt(qint64)
{
    AccessError("LargeInt");
}
double TField::AsFloat() const
{
    AccessError("Float");
}
void TField::SetAsFloat(double)
{
    AccessError("Float");
}
bool TField::AsBoolean() const
{
    AccessError("Boolean");
}
void TField::SetAsBoolean(bool)
{
    AccessError("Boolean");
}
TDateTime TField::AsDateTime() const
{
    AccessError("DateTime");
}
void TField::SetAsDateTime(TDateTime)
{
    AccessError("DateTime");
}

// ---------------------------------------------------------------- TStringField

TStringField::TStringField(int Size) : TField(ftString, Size) {}

void TStringField::SetFixedChar(bool Value)
{
    m_FixedChar = Value;
    SetDataType(Value ? ftFixedChar : ftString);
}

QByteArray TStringField::StoredText(const QString &Text) const
{
    QByteArray utf8 = Text.toUtf8();
    // A NUL inside the text would end the stored value there anyway.
    if (const qsizetype nul = utf8.indexOf('\0'); nul >= 0)
        utf8.truncate(nul);
    utf8.truncate(CutUtf8(utf8, Size()));
    utf8.append(QByteArray(DataSize() - utf8.size(), '\0'));
    return utf8;
}

QString TStringField::AsString() const
{
    QByteArray buf(DataSize() + 1, '\0');
    if (!GetData(buf.data()))
        return QString();
    QString s = QString::fromUtf8(buf.constData(), qsizetype(std::strlen(buf.constData())));
    if (m_FixedChar) {
        qsizetype n = s.size();
        while (n > 0 && s.at(n - 1) == QLatin1Char(' '))
            --n;
        s.truncate(n);
    }
    return s;
}

void TStringField::SetAsString(const QString &Value)
{
    const QByteArray stored = StoredText(Value);
    SetData(stored.constData());
}

QVariant TStringField::Value() const
{
    if (IsNull())
        return QVariant();
    return AsString();
}

void TStringField::SetValue(const QVariant &Value)
{
    if (Value.isNull())
        Clear();
    else if (Value.typeId() == QMetaType::Bool)
        SetAsBoolean(Value.toBool());
    else if (Value.typeId() == QMetaType::Double)
        SetAsFloat(Value.toDouble());
    else
        SetAsString(Value.toString());
}

qint32 TStringField::AsInteger() const
{
    return StrToInt(AsString());
}
qint64 TStringField::AsLargeInt() const
{
    return StrToInt64(AsString());
}
double TStringField::AsFloat() const
{
    return StrToFloat(AsString());
}
void TStringField::SetAsFloat(double Value)
{
    SetAsString(FloatToStr(Value));
}

bool TStringField::AsBoolean() const
{
    const QString s = AsString();
    return !s.isEmpty() && QStringLiteral("TtYy").contains(s.at(0));
}

void TStringField::SetAsBoolean(bool Value)
{
    SetAsString(Value ? QStringLiteral("T") : QStringLiteral("F"));
}

TDateTime TStringField::AsDateTime() const
{
    return StrToDateTime(AsString());
}
void TStringField::SetAsDateTime(TDateTime Value)
{
    SetAsString(DateTimeToStr(Value));
}

// ---------------------------------------------------------------- integers

TIntegerField::TIntegerField(TFieldType Type) : TNumericField(Type) {}

void TIntegerField::CheckRange(qint64 Value) const
{
    if (Value < MinValue() || Value > MaxValue())
        DatabaseErrorFmt(QString::fromLatin1(msg::kSFieldRangeError), QString::number(Value), FieldName(),
                         QString::number(MinValue()), QString::number(MaxValue()));
}

qint32 TIntegerField::AsInteger() const
{
    qint32 v = 0;
    if (!GetData(&v))
        return 0;
    return v;
}

void TIntegerField::SetAsInteger(qint32 Value)
{
    CheckRange(Value);
    SetData(&Value);
}

void TIntegerField::SetAsLargeInt(qint64 Value)
{
    CheckRange(Value);
    SetAsInteger(qint32(Value));
}

void TIntegerField::SetAsFloat(double Value)
{
    if (!std::isfinite(Value) || std::fabs(Value) > 9.2e18)
        DatabaseErrorFmt(QString::fromLatin1(msg::kSFieldValueError), FieldName());
    SetAsLargeInt(std::llround(Value));
}

QVariant TIntegerField::Value() const
{
    if (IsNull())
        return QVariant();
    return AsInteger();
}

void TIntegerField::SetValue(const QVariant &Value)
{
    if (Value.isNull())
        Clear();
    else if (IsTextVariant(Value))
        SetAsString(Value.toString());
    else
        SetAsLargeInt(VariantToInt64(Value, this));
}

QString TIntegerField::AsString() const
{
    return IsNull() ? QString() : QString::number(AsInteger());
}

void TIntegerField::SetAsString(const QString &Value)
{
    if (Value.isEmpty())
        Clear();
    else
        SetAsLargeInt(StrToInt64(Value));
}

qint32 TSmallintField::AsInteger() const
{
    qint16 v = 0;
    if (!GetData(&v))
        return 0;
    return v;
}

void TSmallintField::SetAsInteger(qint32 Value)
{
    CheckRange(Value);
    const qint16 v = qint16(Value);
    SetData(&v);
}

qint32 TWordField::AsInteger() const
{
    quint16 v = 0;
    if (!GetData(&v))
        return 0;
    return v;
}

void TWordField::SetAsInteger(qint32 Value)
{
    CheckRange(Value);
    const quint16 v = quint16(Value);
    SetData(&v);
}

qint64 TLargeintField::AsLargeInt() const
{
    qint64 v = 0;
    if (!GetData(&v))
        return 0;
    return v;
}

void TLargeintField::SetAsLargeInt(qint64 Value)
{
    SetData(&Value);
}

qint32 TLargeintField::AsInteger() const
{
    const qint64 v = AsLargeInt();
    if (v < INT32_MIN || v > INT32_MAX)
        DatabaseErrorFmt(QString::fromLatin1(msg::kSFieldRangeError), QString::number(v), FieldName(),
                         QString::number(INT32_MIN), QString::number(INT32_MAX));
    return qint32(v);
}

void TLargeintField::SetAsFloat(double Value)
{
    if (!std::isfinite(Value) || std::fabs(Value) > 9.2e18)
        DatabaseErrorFmt(QString::fromLatin1(msg::kSFieldValueError), FieldName());
    SetAsLargeInt(std::llround(Value));
}

QVariant TLargeintField::Value() const
{
    if (IsNull())
        return QVariant();
    return AsLargeInt();
}

void TLargeintField::SetValue(const QVariant &Value)
{
    if (Value.isNull())
        Clear();
    else if (IsTextVariant(Value))
        SetAsString(Value.toString());
    else
        SetAsLargeInt(VariantToInt64(Value, this));
}

void TLargeintField::SetAsString(const QString &Value)
{
    if (Value.isEmpty())
        Clear();
    else
        SetAsLargeInt(StrToInt64(Value));
}

// ---------------------------------------------------------------- floats

double TFloatField::AsFloat() const
{
    double v = 0;
    if (!GetData(&v))
        return 0;
    return v;
}

void TFloatField::SetAsFloat(double Value)
{
    SetData(&Value);
}

qint32 TFloatField::AsInteger() const
{
    const double v = AsFloat();
    if (!std::isfinite(v) || v < double(INT32_MIN) || v > double(INT32_MAX))
        DatabaseErrorFmt(QString::fromLatin1(msg::kSFieldValueError), FieldName());
    return qint32(std::lround(v));
}

qint64 TFloatField::AsLargeInt() const
{
    const double v = AsFloat();
    if (!std::isfinite(v) || std::fabs(v) > 9.2e18)
        DatabaseErrorFmt(QString::fromLatin1(msg::kSFieldValueError), FieldName());
    return std::llround(v);
}

void TFloatField::SetValue(const QVariant &Value)
{
    if (Value.isNull()) {
        Clear();
        return;
    }
    if (IsTextVariant(Value)) {
        SetAsString(Value.toString());
        return;
    }
    bool ok = false;
    const double d = Value.toDouble(&ok);
    if (!ok)
        DatabaseErrorFmt(QString::fromLatin1(msg::kSFieldValueError), FieldName());
    SetAsFloat(d);
}

QString TFloatField::AsString() const
{
    return IsNull() ? QString() : FloatToStr(AsFloat());
}

void TFloatField::SetAsString(const QString &Value)
{
    if (Value.isEmpty())
        Clear();
    else
        SetAsFloat(StrToFloat(Value));
}

// ---------------------------------------------------------------- Boolean

bool TBooleanField::AsBoolean() const
{
    quint16 v = 0;
    if (!GetData(&v))
        return false;
    return v != 0;
}

void TBooleanField::SetAsBoolean(bool Value)
{
    const quint16 v = Value ? 1 : 0;
    SetData(&v);
}

QString TBooleanField::AsString() const
{
    return IsNull() ? QString() : BoolToStr(AsBoolean());
}

void TBooleanField::SetAsString(const QString &Value)
{
    if (Value.isEmpty()) {
        Clear();
        return;
    }
    // A leading part of either text will do, as in "T" or "fal".
    const auto matches = [&](const QString &Word) {
        return Word.left(Value.size()).compare(Value, Qt::CaseInsensitive) == 0;
    };
    if (matches(FormatSettings().FalseBoolStr))
        SetAsBoolean(false);
    else if (matches(FormatSettings().TrueBoolStr))
        SetAsBoolean(true);
    else
        DatabaseErrorFmt(QString::fromLatin1(msg::kSInvalidBoolValue), Value, FieldName());
}

void TBooleanField::SetValue(const QVariant &Value)
{
    if (Value.isNull())
        Clear();
    else if (IsTextVariant(Value))
        SetAsString(Value.toString());
    else
        SetAsBoolean(Value.toBool());
}

// ---------------------------------------------------------------- dates and times

TDateTime TDateTimeField::AsDateTime() const
{
    TDateTime v = 0;
    if (!GetData(&v, false))
        return 0;
    return v;
}

void TDateTimeField::SetAsDateTime(TDateTime Value)
{
    SetData(&Value, false);
}

QVariant TDateTimeField::Value() const
{
    if (IsNull())
        return QVariant();
    return DateTimeToVariant(AsDateTime(), DataType());
}

void TDateTimeField::SetValue(const QVariant &Value)
{
    if (Value.isNull())
        Clear();
    else
        SetAsDateTime(VariantToDateTime(Value));
}

QString TDateTimeField::AsString() const
{
    if (IsNull())
        return QString();
    const TDateTime v = AsDateTime();
    switch (DataType()) {
    case ftDate:
        return DateToStr(v);
    case ftTime:
        return TimeToStr(v);
    default:
        return DateTimeToStr(v);
    }
}

void TDateTimeField::SetAsString(const QString &Value)
{
    if (Value.isEmpty()) {
        Clear();
        return;
    }
    switch (DataType()) {
    case ftDate:
        SetAsDateTime(StrToDate(Value));
        break;
    case ftTime:
        SetAsDateTime(StrToTime(Value));
        break;
    default:
        SetAsDateTime(StrToDateTime(Value));
        break;
    }
}

QVariant DateTimeToVariant(TDateTime Value, TFieldType DataType)
{
    if (!IsValidDateTime(Value))
        DatabaseError(QStringLiteral("Invalid date and time value"));
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    DecodeDate(Value, y, mo, d);
    DecodeTime(Value, h, mi, s, ms);
    switch (DataType) {
    case ftDate:
        return QDate(y, mo, d);
    case ftTime:
        return QTime(h, mi, s, ms);
    default:
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
    }
}

TDateTime VariantToDateTime(const QVariant &Value)
{
    const auto fromDate = [](const QDate &D) {
        if (!D.isValid())
            throw EConvertError(QString::fromLatin1(msg::kSDateEncodeError));
        return EncodeDate(D.year(), D.month(), D.day());
    };
    const auto fromTime = [](const QTime &T) {
        if (!T.isValid())
            throw EConvertError(QString::fromLatin1(msg::kSTimeEncodeError));
        return EncodeTime(T.hour(), T.minute(), T.second(), T.msec());
    };
    switch (Value.typeId()) {
    case QMetaType::QDate:
        return fromDate(Value.toDate());
    case QMetaType::QTime:
        return fromTime(Value.toTime());
    case QMetaType::QDateTime: {
        const QDateTime dt = Value.toDateTime();
        const TDateTime d = fromDate(dt.date());
        const TDateTime t = fromTime(dt.time());
        return d >= 0 ? d + t : d - t;
    }
    case QMetaType::QString:
    case QMetaType::QByteArray:
        return StrToDateTime(Value.toString());
    default: {
        bool ok = false;
        const double v = Value.toDouble(&ok);
        if (!ok || !std::isfinite(v))
            throw EConvertError(Format(QString::fromLatin1(msg::kSInvalidDateTime), Value.toString()));
        return v;
    }
    }
}

// ---------------------------------------------------------------- blobs

QByteArray TBlobField::AsBytes() const
{
    if (!DataSet())
        DatabaseErrorFmt(QString::fromLatin1(msg::kSDataSetMissing), FieldName());
    std::unique_ptr<TStream> s(DataSet()->CreateBlobStream(const_cast<TBlobField *>(this), bmRead));
    if (!s)
        return QByteArray();
    s->SetPosition(0);
    const qint64 size = s->Size();
    QByteArray out(qsizetype(size), '\0');
    if (size > 0)
        s->ReadBuffer(out.data(), size);
    return out;
}

void TBlobField::SetAsBytes(const QByteArray &Value)
{
    if (!DataSet())
        DatabaseErrorFmt(QString::fromLatin1(msg::kSDataSetMissing), FieldName());
    std::unique_ptr<TStream> s(DataSet()->CreateBlobStream(this, bmWrite));
    if (s && !Value.isEmpty())
        s->WriteBuffer(Value.constData(), Value.size());
}

void TBlobField::LoadFromStream(TStream *Stream)
{
    QByteArray data;
    Stream->SetPosition(0);
    data.resize(qsizetype(Stream->Size()));
    if (!data.isEmpty())
        Stream->ReadBuffer(data.data(), data.size());
    SetAsBytes(data);
}

void TBlobField::SaveToStream(TStream *Stream) const
{
    const QByteArray data = AsBytes();
    if (!data.isEmpty())
        Stream->WriteBuffer(data.constData(), data.size());
}

QString TBlobField::AsString() const
{
    return QString::fromLatin1(AsBytes());
}

void TBlobField::SetAsString(const QString &Value)
{
    SetAsBytes(Value.toLatin1());
}

void TBlobField::SetValue(const QVariant &Value)
{
    if (Value.isNull())
        SetAsBytes(QByteArray());
    else if (Value.typeId() == QMetaType::QByteArray)
        SetAsBytes(Value.toByteArray());
    else
        SetAsString(Value.toString());
}

QString TMemoField::AsString() const
{
    return QString::fromUtf8(AsBytes());
}

void TMemoField::SetAsString(const QString &Value)
{
    SetAsBytes(Value.toUtf8());
}

// ---------------------------------------------------------------- TFields

TFields::~TFields()
{
    Clear();
}

TField *TFields::Fields(int Index) const
{
    if (Index < 0 || Index >= Count())
        DatabaseError(Format(QString::fromLatin1(msg::kSListIndexError), Index));
    return m_Fields[size_t(Index)];
}

int TFields::IndexOf(const TField *Field) const
{
    for (size_t i = 0; i < m_Fields.size(); ++i)
        if (m_Fields[i] == Field)
            return int(i);
    return -1;
}

TField *TFields::FindField(const QString &Name) const
{
    for (TField *f : m_Fields)
        if (f->FieldName().compare(Name, Qt::CaseInsensitive) == 0)
            return f;
    return nullptr;
}

TField *TFields::FieldByName(const QString &Name) const
{
    TField *f = FindField(Name);
    if (!f)
        DatabaseErrorFmt(QString::fromLatin1(msg::kSFieldNotFound), Name);
    return f;
}

TField *TFields::FieldByNumber(int FieldNo) const
{
    for (TField *f : m_Fields)
        if (f->FieldNo() == FieldNo)
            return f;
    return nullptr;
}

void TFields::Clear()
{
    std::vector<TField *> all;
    all.swap(m_Fields);
    for (TField *f : all) {
        f->m_DataSet = nullptr;
        delete f;
    }
}

void TFields::Add(TField *Field)
{
    m_Fields.push_back(Field);
    Field->m_DataSet = m_DataSet;
}

void TFields::Remove(TField *Field)
{
    const int i = IndexOf(Field);
    if (i >= 0)
        m_Fields.erase(m_Fields.begin() + i);
    Field->m_DataSet = nullptr;
}

TField *CreateFieldOfType(TFieldType DataType, int Size)
{
    switch (DataType) {
    case ftString:
        return new TStringField(Size);
    case ftFixedChar: {
        auto *f = new TStringField(Size);
        f->SetFixedChar(true);
        return f;
    }
    case ftSmallint:
        return new TSmallintField;
    case ftInteger:
        return new TIntegerField;
    case ftWord:
        return new TWordField;
    case ftBoolean:
        return new TBooleanField;
    case ftFloat:
        return new TFloatField;
    case ftCurrency:
        return new TCurrencyField;
    case ftDate:
        return new TDateField;
    case ftTime:
        return new TTimeField;
    case ftDateTime:
        return new TDateTimeField;
    case ftAutoInc:
        return new TAutoIncField;
    case ftLargeint:
        return new TLargeintField;
    case ftBlob:
        return new TBlobField;
    case ftMemo:
        return new TMemoField;
    case ftFmtMemo:
        return new TMemoField(ftFmtMemo);
    case ftGraphic:
        return new TGraphicField;
    default:
        return nullptr;
    }
}

} // namespace dataaccess

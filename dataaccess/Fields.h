#pragma once

// The field objects of a data set: each reads and writes one value of the data set's
// current record buffer and converts it between the stored form and the usual types.

#include "dataaccess/DBError.h"
#include "dataaccess/DateTime.h"
#include "dataaccess/FieldType.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <vector>

namespace dataaccess {

class TDataSet;
class TFields;
class TStream;

enum TFieldKind : quint8 { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };
enum TBlobStreamMode : quint8 { bmRead, bmWrite, bmReadWrite };

namespace msg {
inline constexpr const char *kSFieldAccessError = "Cannot access field '%s' as type %s";
inline constexpr const char *kSDataSetMissing = "Field '%s' has no dataset";
inline constexpr const char *kSFieldReadOnly = "Field '%s' cannot be modified";
inline constexpr const char *kSNotEditing = "Dataset not in edit or insert mode";
inline constexpr const char *kSFieldRangeError =
    "%s is not a valid value for field '%s'. The allowed range is %s to %s";
inline constexpr const char *kSInvalidBoolValue = "'%s' is not a valid boolean value for field '%s'";
inline constexpr const char *kSFieldValueError = "Invalid value for field '%s'";
inline constexpr const char *kSInvalidStoredDate = "Invalid stored date or time value of field '%s'";
inline constexpr const char *kSUnknownFieldType = "Field '%s' is of an unknown type";
inline constexpr const char *kSFieldTypeMismatch = "Type mismatch for field '%s', expecting: %s actual: %s";
inline constexpr const char *kSDuplicateFieldName = "Duplicate field name '%s'";
inline constexpr const char *kSGeneralError = "General error";
} // namespace msg

// One field of a data set. The data set's field list owns it.
class TField
{
public:
    TField();
    virtual ~TField();
    TField(const TField &) = delete;
    TField &operator=(const TField &) = delete;

    TDataSet *DataSet() const { return m_DataSet; }
    // Moves the field into the data set's field list (and out of its old one).
    void SetDataSet(TDataSet *Value);
    int Index() const;

    const QString &FieldName() const { return m_FieldName; }
    void SetFieldName(const QString &Value);
    // 1-based position among the field definitions; -1 for calculated and lookup fields.
    int FieldNo() const { return m_FieldNo; }
    TFieldType DataType() const { return m_DataType; }
    int Size() const { return m_Size; }
    virtual void SetSize(int Value);
    // Bytes of the value in a record buffer.
    virtual int DataSize() const { return 0; }
    TFieldKind FieldKind() const { return m_FieldKind; }
    void SetFieldKind(TFieldKind Value);
    bool Calculated() const { return m_FieldKind == fkCalculated; }
    bool Lookup() const { return m_FieldKind == fkLookup; }
    // Offset of the value flag byte in the calculated-field area.
    int Offset() const { return m_Offset; }
    bool ReadOnly() const { return m_ReadOnly; }
    void SetReadOnly(bool Value) { m_ReadOnly = Value; }
    bool Required() const { return m_Required; }
    void SetRequired(bool Value) { m_Required = Value; }
    virtual bool IsBlob() const { return false; }
    bool CanModify() const;

    // Lookup fields: the value of LookupResultField of the record of LookupDataSet whose
    // LookupKeyFields equal this data set's KeyFields.
    TDataSet *LookupDataSet() const { return m_LookupDataSet; }
    void SetLookupDataSet(TDataSet *Value) { m_LookupDataSet = Value; }
    QString KeyFields, LookupKeyFields, LookupResultField;

    // Raw access to the current record buffer: the stored form with NativeFormat, the
    // converted form (dates as TDateTime) without it. GetData answers whether there is a value.
    bool GetData(void *Buffer, bool NativeFormat = true) const;
    void SetData(const void *Buffer, bool NativeFormat = true);

    bool IsNull() const;
    void Clear();

    virtual QVariant Value() const;
    virtual void SetValue(const QVariant &Value);
    virtual QString AsString() const;
    virtual void SetAsString(const QString &Value);
    virtual qint32 AsInteger() const;
    virtual void SetAsInteger(qint32 Value);
    virtual qint64 AsLargeInt() const;
    virtual void SetAsLargeInt(qint64 Value);
    virtual double AsFloat() const;
    virtual void SetAsFloat(double Value);
    double AsCurrency() const { return AsFloat(); }
    void SetAsCurrency(double Value) { SetAsFloat(Value); }
    virtual bool AsBoolean() const;
    virtual void SetAsBoolean(bool Value);
    virtual TDateTime AsDateTime() const;
    virtual void SetAsDateTime(TDateTime Value);
    QVariant AsVariant() const { return Value(); }
    void SetAsVariant(const QVariant &V) { SetValue(V); }
    QString Text() const { return AsString(); }
    void SetText(const QString &Value) { SetAsString(Value); }

    virtual QString ClassName() const { return QStringLiteral("TField"); }

protected:
    explicit TField(TFieldType DataType, int Size = 0);
    [[noreturn]] void AccessError(const char *TypeName) const;
    void SetDataType(TFieldType Value) { m_DataType = Value; }

private:
    friend class TDataSet;
    friend class TFields;
    TDataSet *m_DataSet = nullptr;
    TDataSet *m_LookupDataSet = nullptr;
    QString m_FieldName;
    int m_FieldNo = 0;
    int m_Offset = 0;
    int m_Size = 0;
    TFieldType m_DataType = ftUnknown;
    TFieldKind m_FieldKind = fkData;
    bool m_ReadOnly = false;
    bool m_Required = false;
};

// Text in a slot of Size bytes and a NUL (UTF-8, cut on a character boundary).
class TStringField : public TField
{
public:
    explicit TStringField(int Size = 20);
    int DataSize() const override { return Size() + 1; }
    bool FixedChar() const { return m_FixedChar; }
    void SetFixedChar(bool Value);
    QVariant Value() const override;
    void SetValue(const QVariant &Value) override;
    QString AsString() const override;
    void SetAsString(const QString &Value) override;
    qint32 AsInteger() const override;
    void SetAsInteger(qint32 Value) override { SetAsString(QString::number(Value)); }
    qint64 AsLargeInt() const override;
    void SetAsLargeInt(qint64 Value) override { SetAsString(QString::number(Value)); }
    double AsFloat() const override;
    void SetAsFloat(double Value) override;
    bool AsBoolean() const override;
    void SetAsBoolean(bool Value) override;
    TDateTime AsDateTime() const override;
    void SetAsDateTime(TDateTime Value) override;
    QString ClassName() const override { return QStringLiteral("TStringField"); }

    // The stored bytes of Text for a slot of this field's size.
    QByteArray StoredText(const QString &Text) const;

private:
    bool m_FixedChar = false;
};

class TNumericField : public TField
{
protected:
    using TField::TField;
};

// 32-bit integers; the smaller kinds and the auto-increment derive from it.
class TIntegerField : public TNumericField
{
public:
    TIntegerField() : TIntegerField(ftInteger) {}
    int DataSize() const override { return 4; }
    QVariant Value() const override;
    void SetValue(const QVariant &Value) override;
    QString AsString() const override;
    void SetAsString(const QString &Value) override;
    qint32 AsInteger() const override;
    void SetAsInteger(qint32 Value) override;
    qint64 AsLargeInt() const override { return AsInteger(); }
    void SetAsLargeInt(qint64 Value) override;
    double AsFloat() const override { return AsInteger(); }
    void SetAsFloat(double Value) override;
    QString ClassName() const override { return QStringLiteral("TIntegerField"); }

protected:
    explicit TIntegerField(TFieldType Type);
    virtual qint64 MinValue() const { return INT32_MIN; }
    virtual qint64 MaxValue() const { return INT32_MAX; }
    void CheckRange(qint64 Value) const;
};

class TSmallintField : public TIntegerField
{
public:
    TSmallintField() : TIntegerField(ftSmallint) {}
    int DataSize() const override { return 2; }
    qint32 AsInteger() const override;
    void SetAsInteger(qint32 Value) override;
    QString ClassName() const override { return QStringLiteral("TSmallintField"); }

protected:
    qint64 MinValue() const override { return -32768; }
    qint64 MaxValue() const override { return 32767; }
};

class TWordField : public TIntegerField
{
public:
    TWordField() : TIntegerField(ftWord) {}
    int DataSize() const override { return 2; }
    qint32 AsInteger() const override;
    void SetAsInteger(qint32 Value) override;
    QString ClassName() const override { return QStringLiteral("TWordField"); }

protected:
    qint64 MinValue() const override { return 0; }
    qint64 MaxValue() const override { return 65535; }
};

class TAutoIncField : public TIntegerField
{
public:
    TAutoIncField() : TIntegerField(ftAutoInc) {}
    QString ClassName() const override { return QStringLiteral("TAutoIncField"); }
};

class TLargeintField : public TNumericField
{
public:
    TLargeintField() : TNumericField(ftLargeint) {}
    int DataSize() const override { return 8; }
    QVariant Value() const override;
    void SetValue(const QVariant &Value) override;
    QString AsString() const override { return QString::number(AsLargeInt()); }
    void SetAsString(const QString &Value) override;
    qint32 AsInteger() const override;
    void SetAsInteger(qint32 Value) override { SetAsLargeInt(Value); }
    qint64 AsLargeInt() const override;
    void SetAsLargeInt(qint64 Value) override;
    double AsFloat() const override { return double(AsLargeInt()); }
    void SetAsFloat(double Value) override;
    QString ClassName() const override { return QStringLiteral("TLargeintField"); }
};

class TFloatField : public TNumericField
{
public:
    TFloatField() : TFloatField(ftFloat) {}
    int DataSize() const override { return 8; }
    QVariant Value() const override { return AsFloat(); }
    void SetValue(const QVariant &Value) override;
    QString AsString() const override;
    void SetAsString(const QString &Value) override;
    qint32 AsInteger() const override;
    void SetAsInteger(qint32 Value) override { SetAsFloat(Value); }
    qint64 AsLargeInt() const override;
    void SetAsLargeInt(qint64 Value) override { SetAsFloat(double(Value)); }
    double AsFloat() const override;
    void SetAsFloat(double Value) override;
    QString ClassName() const override { return QStringLiteral("TFloatField"); }

protected:
    explicit TFloatField(TFieldType Type) : TNumericField(Type) {}
};

class TCurrencyField : public TFloatField
{
public:
    TCurrencyField() : TFloatField(ftCurrency) {}
    QString ClassName() const override { return QStringLiteral("TCurrencyField"); }
};

// A 16-bit truth value: 0 false, anything else true.
class TBooleanField : public TField
{
public:
    TBooleanField() : TField(ftBoolean) {}
    int DataSize() const override { return 2; }
    QVariant Value() const override { return AsBoolean(); }
    void SetValue(const QVariant &Value) override;
    QString AsString() const override;
    void SetAsString(const QString &Value) override;
    bool AsBoolean() const override;
    void SetAsBoolean(bool Value) override;
    QString ClassName() const override { return QStringLiteral("TBooleanField"); }
};

// Dates and times are handed to and from the data set as TDateTime (NativeFormat off);
// the data set converts them to their stored forms.
class TDateTimeField : public TField
{
public:
    TDateTimeField() : TDateTimeField(ftDateTime) {}
    int DataSize() const override { return 8; }
    QVariant Value() const override;
    void SetValue(const QVariant &Value) override;
    QString AsString() const override;
    void SetAsString(const QString &Value) override;
    double AsFloat() const override { return AsDateTime(); }
    void SetAsFloat(double Value) override { SetAsDateTime(Value); }
    TDateTime AsDateTime() const override;
    void SetAsDateTime(TDateTime Value) override;
    QString ClassName() const override { return QStringLiteral("TDateTimeField"); }

protected:
    explicit TDateTimeField(TFieldType Type) : TField(Type) {}
};

class TDateField : public TDateTimeField
{
public:
    TDateField() : TDateTimeField(ftDate) {}
    int DataSize() const override { return 4; }
    QString ClassName() const override { return QStringLiteral("TDateField"); }
};

class TTimeField : public TDateTimeField
{
public:
    TTimeField() : TDateTimeField(ftTime) {}
    int DataSize() const override { return 4; }
    QString ClassName() const override { return QStringLiteral("TTimeField"); }
};

// A value kept outside the record; read and written through the data set's blob streams.
class TBlobField : public TField
{
public:
    TBlobField() : TBlobField(ftBlob) {}
    bool IsBlob() const override { return true; }
    QVariant Value() const override { return AsBytes(); }
    void SetValue(const QVariant &Value) override;
    QString AsString() const override;
    void SetAsString(const QString &Value) override;
    QByteArray AsBytes() const;
    void SetAsBytes(const QByteArray &Value);
    void LoadFromStream(TStream *Stream);
    void SaveToStream(TStream *Stream) const;
    // Set when the value of the active record was written through a blob stream.
    bool Modified() const { return m_Modified; }
    void SetModified(bool Value) { m_Modified = Value; }
    QString ClassName() const override { return QStringLiteral("TBlobField"); }

protected:
    explicit TBlobField(TFieldType Type) : TField(Type) {}

private:
    bool m_Modified = false;
};

// Text kept as a blob (UTF-8).
class TMemoField : public TBlobField
{
public:
    explicit TMemoField(TFieldType Type = ftMemo) : TBlobField(Type) {}
    QVariant Value() const override { return AsString(); }
    QString AsString() const override;
    void SetAsString(const QString &Value) override;
    QString ClassName() const override { return QStringLiteral("TMemoField"); }
};

class TGraphicField : public TBlobField
{
public:
    TGraphicField() : TBlobField(ftGraphic) {}
    QString ClassName() const override { return QStringLiteral("TGraphicField"); }
};

// A data set's fields, in order. Owns them.
class TFields
{
public:
    explicit TFields(TDataSet *ADataSet) : m_DataSet(ADataSet) {}
    ~TFields();
    TFields(const TFields &) = delete;
    TFields &operator=(const TFields &) = delete;

    int Count() const { return int(m_Fields.size()); }
    TField *Fields(int Index) const;
    TField *operator[](int Index) const { return Fields(Index); }
    int IndexOf(const TField *Field) const;
    // Case-insensitive; nullptr when none.
    TField *FindField(const QString &Name) const;
    // Raises "Field '%s' not found".
    TField *FieldByName(const QString &Name) const;
    TField *FieldByNumber(int FieldNo) const;
    void Clear();
    TDataSet *DataSet() const { return m_DataSet; }

private:
    friend class TField;
    void Add(TField *Field);
    void Remove(TField *Field);
    TDataSet *m_DataSet;
    std::vector<TField *> m_Fields;
};

// The field class for a stored type; nullptr for a type no field class stands for.
TField *CreateFieldOfType(TFieldType DataType, int Size);

// Conversions between TDateTime and Qt's date and time values.
QVariant DateTimeToVariant(TDateTime Value, TFieldType DataType);
// Accepts Qt dates and times, numbers (TDateTime) and text; EConvertError otherwise.
TDateTime VariantToDateTime(const QVariant &Value);

} // namespace dataaccess

using dataaccess::TAutoIncField;
using dataaccess::TBlobField;
using dataaccess::TBlobStreamMode;
using dataaccess::TBooleanField;
using dataaccess::TCurrencyField;
using dataaccess::TDateField;
using dataaccess::TDateTimeField;
using dataaccess::TField;
using dataaccess::TFieldKind;
using dataaccess::TFields;
using dataaccess::TFloatField;
using dataaccess::TGraphicField;
using dataaccess::TIntegerField;
using dataaccess::TLargeintField;
using dataaccess::TMemoField;
using dataaccess::TNumericField;
using dataaccess::TSmallintField;
using dataaccess::TStringField;
using dataaccess::TTimeField;
using dataaccess::TWordField;
using enum dataaccess::TFieldKind;
using enum dataaccess::TBlobStreamMode;

#pragma once

// Definitions of tables, fields and indexes; the field buffers that carry one record
// between a data set and the table I/O; the lazily loaded blob stream; the engine's
// small routines (field sizes, memory database names, string order, date and time
// scanners, password and CRC).

#include "dictdb/DictDBTypes.h"
#include "dataaccess/Collections.h"
#include "dataaccess/DateTime.h"
#include "dataaccess/Streams.h"

#include <QString>

#include <vector>

class TTDEDataSet;

// The engine's own English messages shared by its units.
namespace dictdb::msg {
inline constexpr const char *kSGeneralError = "General error";
inline constexpr const char *kSInvalidDbName = "Invalid database name '%s'";
inline constexpr const char *kSCorruptFile = "Database file '%s' is corrupt: %s";
inline constexpr const char *kSInvalidFieldValue = "Invalid value of field '%s'";
inline constexpr const char *kSDatabaseClosed = "Cannot perform this operation on a closed database";
} // namespace dictdb::msg

// Base of the field and index definition collections: names unnamed items and finds
// items by name.
class TDictDefCollection : public TOwnedCollection
{
public:
    using TOwnedCollection::TOwnedCollection;
    // The first item whose name equals Name ignoring case; -1 when none.
    int IndexOf(const QString &Name) const;
    TNamedItem *Find(const QString &Name) const;

protected:
    // An item added without a name is named after its class and identifier ("DictF1").
    void Added(TCollectionItem *Item) override;
};

class TDictTableDef : public TNamedItem
{
public:
    using TNamedItem::TNamedItem;
    QString ClassName() const override { return QStringLiteral("TDictTableDef"); }
    qint32 TableIdx = -1;
};

class TDictTableDefs : public TOwnedCollection
{
public:
    using TOwnedCollection::TOwnedCollection;
    TDictTableDef *Items(int Index) const { return static_cast<TDictTableDef *>(TCollection::Items(Index)); }
    TDictTableDef *Add() { return static_cast<TDictTableDef *>(TCollection::Add()); }
    int IndexOf(const QString &Name) const { return dataaccess::IndexOfName(this, Name); }

protected:
    TCollectionItem *CreateItem() override { return new TDictTableDef(this); }
};

class TDictFieldDef : public TNamedItem
{
public:
    using TNamedItem::TNamedItem;
    QString ClassName() const override { return QStringLiteral("TDictFieldDef"); }
    void Assign(const TCollectionItem *Source) override;

    TFieldType FieldType = ftUnknown;
    qint32 FieldSize = 0; // declared size (characters of a string field)
    quint8 DPMode = 0;    // 0: takes part in compression and encryption
};

class TDictFieldDefs : public TDictDefCollection
{
public:
    using TDictDefCollection::TDictDefCollection;
    TDictFieldDef *Items(int Index) const { return static_cast<TDictFieldDef *>(TCollection::Items(Index)); }
    TDictFieldDef *Add() { return static_cast<TDictFieldDef *>(TCollection::Add()); }

protected:
    TCollectionItem *CreateItem() override { return new TDictFieldDef(this); }
};

class TDictIndexDef : public TNamedItem
{
public:
    using TNamedItem::TNamedItem;
    QString ClassName() const override { return QStringLiteral("TDictIndexDef"); }
    void Assign(const TCollectionItem *Source) override;

    TTDIndexOptions Options;
    TIntegerAry FieldIdxes; // field numbers of the key, most significant first
};

class TDictIndexDefs : public TDictDefCollection
{
public:
    using TDictDefCollection::TDictDefCollection;
    TDictIndexDef *Items(int Index) const { return static_cast<TDictIndexDef *>(TCollection::Items(Index)); }
    TDictIndexDef *Add() { return static_cast<TDictIndexDef *>(TCollection::Add()); }

protected:
    TCollectionItem *CreateItem() override { return new TDictIndexDef(this); }
};

// The size of a field's value in a record: Size + 1 for strings, the fixed sizes of the
// other types, 0 for blobs (whose record slot is the 20-byte blob slot); any other
// type raises "General error".
qint32 GetFieldSize(TFieldType FieldType, qint32 Size);

// One field of one record in its stored form.
class TFieldBufferItem
{
public:
    TFieldBufferItem() = default;
    TFieldBufferItem(const TFieldBufferItem &) = delete;
    TFieldBufferItem &operator=(const TFieldBufferItem &) = delete;
    ~TFieldBufferItem();

    // The field's bytes, or for a blob type the TMemoryStream that holds the value.
    void *Buffer = nullptr;
    TFieldType FieldType = ftUnknown;
    qint32 FieldSize = 0;  // data size: the slot size (Size + 1 for strings)
    bool AutoFree = false; // the item frees its buffer (memory, or the stream)
    bool Active = true;    // takes part in the next read or write

    bool IsBlob() const { return IsBlobFieldType(FieldType); }
    TMemoryStream *BlobStream() const { return IsBlob() ? static_cast<TMemoryStream *>(Buffer) : nullptr; }
    // The stream's memory for a blob, else Buffer.
    void *DataBuf() const;
    // The value as text (for the duplicate-key message).
    QString AsString() const;
};

// One record's field buffers, indexed by field number; owns its items.
class TFieldBuffers
{
public:
    TFieldBuffers() = default;
    TFieldBuffers(const TFieldBuffers &) = delete;
    TFieldBuffers &operator=(const TFieldBuffers &) = delete;
    ~TFieldBuffers() { Clear(); }

    // For a blob type Buffer points at the place that holds the stream object.
    TFieldBufferItem *Add(void *Buffer, TFieldType FieldType, qint32 DataSize);
    int Count() const { return int(m_Items.size()); }
    TFieldBufferItem *Items(int Index) const { return m_Items.at(size_t(Index)); }
    void Clear();

private:
    std::vector<TFieldBufferItem *> m_Items;
};

// Where a blob's stored bytes come from: the open database file.
class TDictBlobReader
{
public:
    // Reads the blob whose slot lies at SlotPosition and decodes it into Dest. A refusal
    // ends with Where (such as " (table 'T', field 'F')") when given.
    virtual void ReadBlobData(TStream *Dest, qint64 SlotPosition, bool Compressed, bool Encrypted,
                              const QString &Where = QString()) = 0;

protected:
    ~TDictBlobReader() = default;
};

// The value of one blob field of a record buffer, read from the file on first use.
class TOptimBlobStream : public TMemoryStream
{
public:
    explicit TOptimBlobStream(TTDEDataSet *ADataSet = nullptr) : DataSet(ADataSet) {}

    TTDEDataSet *DataSet = nullptr;
    TDictBlobReader *FileIO = nullptr; // where the value is read from
    qint32 SlotPosition = 0;           // file position of the blob slot, 0 when none
    bool Encrypted = false;
    bool Compressed = false;
    bool Loaded = false;
    QString Where; // " (table 'T', field 'F')", for refusals

    void SetBlobInfo(TDictBlobReader *AFileIO, qint32 ASlotPosition, bool AEncrypted, bool ACompressed,
                     const QString &AWhere = QString());
    // Reads the value now when it has not been read yet.
    void LoadIfNeeded();

    qint64 Read(void *Buffer, qint64 Count) override;
    qint64 Seek(qint64 Offset, dataaccess::TSeekOrigin Origin) override;
    qint64 Size() override;
    qint64 Write(const void *Buffer, qint64 Count) override;
    void SetSize(qint64 NewSize) override;

protected:
    void Realloc(qint64 NewCapacity) override;

private:
    bool m_Loading = false;
};

// Memory databases are named ":" and hexadecimal digits. The name stands for a stream
// registered here, never for an address: unknown names find nothing.
bool IsValidMemDBName(const QString &Name);
// The stream registered under the name, nullptr when none (or not a memory name).
TStream *DBNameToStreamAddr(const QString &Name);
// Registers a stream the caller keeps alive and answers its name (":" and hex digits).
QString RegisterMemDBStream(TStream *Stream);
void UnregisterMemDBStream(TStream *Stream);

// The one ordering of texts in every file, index, search and filter, independent of the
// machine's locale: texts are compared by Unicode code point after full case folding;
// when case counts, texts equal under folding are then ordered by their code points.
// So the case-sensitive order refines the case-insensitive one. Partial compares take
// the first Length characters (UTF-16 units) of each text.
int CompareDBString(const QString &S1, const QString &S2, bool PartialCompare, bool CaseInsensitive, int Length);

bool IsInt(const QString &Text);
// The filter's date and time constants: month/day/year; [AM|PM] h[:m[:s[.ms]]] [AM|PM].
bool IsDateStr(const QString &Text, TDateTime &Value);
bool IsTimeStr(const QString &Text, TDateTime &Value);
bool IsDateTimeStr(const QString &Text, TDateTime &Value);
// 0 when the two millisecond values differ by less than a second.
int CompareMSecs(double A, double B);

QString HashPassword(const QString &Password);
qint32 CalcBufferCRC32(const void *Buffer, int Size);

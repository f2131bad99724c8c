#pragma once

// The database file's fixed areas, records and tabs, byte for byte, and the small types
// the engine's units share.

#include "platform/dataaccess/FieldType.h"

#include <QFlags>
#include <QString>
#include <QtGlobal>

#include <bit>
#include <vector>

static_assert(std::endian::native == std::endian::little, "the file layout is read in place");

// Where a database lives: a file on disk or a stream in memory.
enum TDictDBMediumType : quint8 { mtDisk = 0, mtMemory = 1 };

// Index options; the bit values are those of the options byte in the file.
enum TTDIndexOption : quint8 {
    tiPrimary = 0x01,
    tiUnique = 0x02,
    tiDescending = 0x04,
    tiCaseInsensitive = 0x08,
};
Q_DECLARE_FLAGS(TTDIndexOptions, TTDIndexOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TTDIndexOptions)

using TIntegerAry = std::vector<qint32>;

namespace dictdb {

inline constexpr char kMagic[] = "DictDB";
inline constexpr char kVersion[] = "1.0";

inline constexpr int kNameSize = 33;      // names: 32 characters and a NUL
inline constexpr int kMaxTables = 256;
inline constexpr int kMaxFields = 96;
inline constexpr int kMaxIndexes = 8;
inline constexpr int kMaxIndexFields = 8;
inline constexpr int kTabBlockEntries = 1024;

inline constexpr qint32 kExtDataOffset = 2317;
inline constexpr qint32 kTableTabOffset = 2789;
inline constexpr qint32 kDataStart = 3821;  // the first byte allocated by appending

inline constexpr int kRecordTabEntrySize = 5;
inline constexpr int kIndexTabEntrySize = 8;
inline constexpr qint32 kRecordTabBlockSize = 4 + kTabBlockEntries * kRecordTabEntrySize; // 5124
inline constexpr qint32 kIndexTabBlockSize = 4 + kTabBlockEntries * kIndexTabEntrySize;   // 8196
inline constexpr int kBlobSlotSize = 20;
inline constexpr int kBlobGranule = 64;
inline constexpr qint64 kMaxFileSize = 0x7FFFFFFF;  // int32 offsets
// The largest record the engine reads or writes, whatever the file claims.
inline constexpr qint64 kMaxRecordSize = 16 * 1024 * 1024;

// A blob area's capacity for a stored length: always more than the length. Computed in 64
// bits: a length near the int32 limit has a capacity beyond it, which no file can hold.
constexpr qint64 BlobCapacity(qint64 Length) { return Length + kBlobGranule - Length % kBlobGranule; }

#pragma pack(push, 1)

struct TFileHead
{
    char Magic[7];
    char Version[5];
    char Reserved[2305];
};

struct TExtData
{
    quint8 CompressFlag;
    quint8 Reserved1;
    char CompressAlgoName[kNameSize];
    quint8 EncryptFlag;
    quint8 EncryptMode;
    char EncryptAlgoName[kNameSize];
    quint8 VerifyFlag;       // write-verify of blobs
    char Reserved2[256];
    char PwdCheckText[129];
    char Reserved3[16];
};

struct TTableTab
{
    qint32 TableCount;
    qint32 Reserved;
    qint32 TableHeaderOffset[kMaxTables];
};

struct TFieldTabItem
{
    char FieldName[kNameSize];
    quint8 FieldType;
    qint32 FieldSize;
    quint8 DPMode;
    char Reserved[4];
};

struct TIndexHeaderItem
{
    char IndexName[kNameSize];
    quint8 IndexOptions;
    qint32 IndexFields[kMaxIndexFields];
    qint32 IndexTabOffset;
    qint32 StartIndex;       // head: the record number first in key order
    qint32 Reserved;
};

struct TTableHeader
{
    char TableName[kNameSize];
    qint32 RecTabOffset;
    qint32 RecordTotal;
    qint32 AutoIncCounter;
    qint32 FieldCount;
    TFieldTabItem FieldTab[kMaxFields];
    qint32 IndexCount;
    TIndexHeaderItem IndexHeader[kMaxIndexes];
    char Reserved[16];
};

struct TBlobSlot
{
    qint32 Offset;
    qint32 Length;
    qint32 Capacity;
    qint32 Reserved1;
    qint32 Reserved2;
};

#pragma pack(pop)

static_assert(sizeof(TFileHead) == kExtDataOffset);
static_assert(sizeof(TExtData) == 472);
static_assert(sizeof(TTableTab) == 1032);
static_assert(sizeof(TFieldTabItem) == 43);
static_assert(sizeof(TIndexHeaderItem) == 78);
static_assert(sizeof(TTableHeader) == 4821);
static_assert(sizeof(TBlobSlot) == kBlobSlotSize);

// The text of a fixed ANSI slot: up to its first NUL or its end.
QString SlotText(const char *Slot, int Size);
// Writes Text into a slot of Size bytes, cut so that a NUL fits and no character is split,
// the rest zero-filled.
void SetSlotText(char *Slot, int Size, const QString &Text);
// Byte length of the longest prefix of Data (at most MaxBytes) that ends on a character boundary.
int Utf8CutLength(const char *Data, int Length, int MaxBytes);

} // namespace dictdb

// One record-tab entry: where the record's data lies and whether it was deleted.
#pragma pack(push, 1)
struct TRecordTabItem
{
    qint32 DataOffset = 0;
    quint8 DeleteFlag = 0;
};
// One index-tab entry: the record it stands for and the next record in key order.
struct TIndexTabItem
{
    qint32 RecIndex = 0;
    qint32 NextRecIndex = -1;
};
#pragma pack(pop)
static_assert(sizeof(TRecordTabItem) == 5 && sizeof(TIndexTabItem) == 8);

using TRecordTabItems = std::vector<TRecordTabItem>;
using TIndexTabItems = std::vector<TIndexTabItem>;

// An entry of the table I/O's record and index lists, and of a data set's record list.
struct TRecInfo
{
    qint32 DataOffset = 0;
    qint32 RecIndex = 0;
};

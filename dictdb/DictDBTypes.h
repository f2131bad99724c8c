#pragma once

// The database file's fixed areas, records and tabs, byte for byte, and the small types
// the engine's units share.

#include "dataaccess/FieldType.h"

#include <QFlags>
#include <QString>
#include <QtGlobal>

#include <bit>
#include <compare>
#include <cstddef>
#include <iterator>
#include <type_traits>
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

inline constexpr int kNameSize = 33; // names: 32 characters and a NUL
inline constexpr int kMaxTables = 256;
inline constexpr int kMaxFields = 96;
inline constexpr int kMaxIndexes = 8;
inline constexpr int kMaxIndexFields = 8;
inline constexpr int kTabBlockEntries = 1024;

inline constexpr qint32 kExtDataOffset = 2317;
inline constexpr qint32 kTableTabOffset = 2789;
inline constexpr qint32 kDataStart = 3821; // the first byte allocated by appending

inline constexpr int kRecordTabEntrySize = 5;
inline constexpr int kIndexTabEntrySize = 8;
inline constexpr qint32 kRecordTabBlockSize = 4 + kTabBlockEntries * kRecordTabEntrySize; // 5124
inline constexpr qint32 kIndexTabBlockSize = 4 + kTabBlockEntries * kIndexTabEntrySize;   // 8196
inline constexpr int kBlobSlotSize = 20;
inline constexpr int kBlobGranule = 64;
inline constexpr qint64 kMaxFileSize = 0x7FFFFFFF; // int32 offsets
// The largest record the engine reads or writes, whatever the file claims (room for 96 text
// fields of ten thousand characters each); every data set that opens a table allocates
// several record buffers of this size.
inline constexpr qint64 kMaxRecordSize = qint64{1024} * 1024;

// A blob area's capacity for a stored length: always more than the length. Computed in 64
// bits: a length near the int32 limit has a capacity beyond it, which no file can hold.
constexpr qint64 BlobCapacity(qint64 Length)
{
    return Length + kBlobGranule - Length % kBlobGranule;
}

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
    quint8 VerifyFlag; // write-verify of blobs
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
    qint32 StartIndex; // head: the record number first in key order
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
    bool operator==(const TRecInfo &) const = default;
};

// A list of record positions in a given order, indexed like an array. It is kept in chunks
// of a few thousand entries, so that putting an entry in or taking one out costs about as
// much in a table of a hundred thousand records as in one of a thousand.
class TRecInfoList
{
public:
    template <bool Const>
    class Iterator
    {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = TRecInfo;
        using difference_type = std::ptrdiff_t;
        using pointer = std::conditional_t<Const, const TRecInfo *, TRecInfo *>;
        using reference = std::conditional_t<Const, const TRecInfo &, TRecInfo &>;
        using List = std::conditional_t<Const, const TRecInfoList, TRecInfoList>;

        Iterator() = default;
        Iterator(List *L, std::ptrdiff_t I) : m_List(L), m_Index(I) {}
        operator Iterator<true>() const { return Iterator<true>(m_List, m_Index); }

        reference operator*() const { return (*m_List)[size_t(m_Index)]; }
        pointer operator->() const { return &(*m_List)[size_t(m_Index)]; }
        reference operator[](std::ptrdiff_t N) const { return (*m_List)[size_t(m_Index + N)]; }
        Iterator &operator++()
        {
            ++m_Index;
            return *this;
        }
        Iterator operator++(int)
        {
            Iterator t = *this;
            ++m_Index;
            return t;
        }
        Iterator &operator--()
        {
            --m_Index;
            return *this;
        }
        Iterator operator--(int)
        {
            Iterator t = *this;
            --m_Index;
            return t;
        }
        Iterator &operator+=(std::ptrdiff_t N)
        {
            m_Index += N;
            return *this;
        }
        Iterator &operator-=(std::ptrdiff_t N)
        {
            m_Index -= N;
            return *this;
        }
        friend Iterator operator+(Iterator A, std::ptrdiff_t N) { return A += N; }
        friend Iterator operator+(std::ptrdiff_t N, Iterator A) { return A += N; }
        friend Iterator operator-(Iterator A, std::ptrdiff_t N) { return A -= N; }
        friend std::ptrdiff_t operator-(const Iterator &A, const Iterator &B) { return A.m_Index - B.m_Index; }
        friend bool operator==(const Iterator &A, const Iterator &B) { return A.m_Index == B.m_Index; }
        friend auto operator<=>(const Iterator &A, const Iterator &B) { return A.m_Index <=> B.m_Index; }
        std::ptrdiff_t Index() const { return m_Index; }

    private:
        List *m_List = nullptr;
        std::ptrdiff_t m_Index = 0;
    };
    using iterator = Iterator<false>;
    using const_iterator = Iterator<true>;
    using value_type = TRecInfo;

    TRecInfoList() = default;
    template <class It>
    TRecInfoList(It First, It Last)
    {
        for (; First != Last; ++First)
            push_back(*First);
    }

    size_t size() const { return m_Size; }
    bool empty() const { return m_Size == 0; }
    const TRecInfo &operator[](size_t Index) const;
    TRecInfo &operator[](size_t Index);
    iterator begin() { return iterator(this, 0); }
    iterator end() { return iterator(this, std::ptrdiff_t(m_Size)); }
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, std::ptrdiff_t(m_Size)); }
    void push_back(const TRecInfo &Value);
    iterator insert(const_iterator Pos, const TRecInfo &Value);
    iterator erase(const_iterator Pos);
    void clear();
    void reserve(size_t) {}
    bool operator==(const TRecInfoList &Other) const;

private:
    // The chunk that holds Index, and Index's place in it.
    size_t ChunkOf(size_t Index, size_t &Offset) const;
    void Renumber(size_t FromChunk);

    std::vector<std::vector<TRecInfo>> m_Chunks;
    std::vector<size_t> m_Starts; // the index of each chunk's first entry
    size_t m_Size = 0;
};

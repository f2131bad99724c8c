#pragma once

#include "dictdb/DictDBTypes.h"
#include "dictdb/DictDBUtils.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class TDictDBFileIO;
class TDictDBFileOwner;

// Moves a data set's record positions along when the table I/O inserts (IndexIdx -1 is
// the physical list) ...
using TOnAdjustIndexForAppend = std::function<void(int IndexIdx, int InsertPos, const TRecInfo &Item)>;
// ... or moves an entry of an index list.
using TOnAdjustIndexForModify = std::function<void(int IndexIdx, int FromPos, int ToPos)>;

// One open table of a connected database, shared by the data sets that show it.
//
// Every write keeps the file whole whatever single write a crash interrupts; the write
// order, its commit point, the invariants I1 to I6 and the torn states a load mends are set
// out at the top of DictTableIO.cpp. The chain state those invariants are about is this
// object's own: others read it.
class TDictTableIO
{
public:
    explicit TDictTableIO(TDictDBFileOwner *ADatabase);
    // A table read through a file object that belongs to no database (the verifier's).
    explicit TDictTableIO(TDictDBFileIO *AFileIO);
    TDictTableIO(const TDictTableIO &) = delete;
    TDictTableIO &operator=(const TDictTableIO &) = delete;
    ~TDictTableIO();

    TDictDBFileOwner *Database = nullptr;
    int RefCount = 0;
    QString TableName;
    int TableIdx = -1;
    // When not negative, the table is loaded from this directory position instead of by name.
    int LoadTableIdx = -1;
    // Whether loading mends an index chain torn by an interrupted write; when not, such a
    // chain is refused like any other damage.
    bool RepairTornChains = true;
    TDictFieldDefs *FieldDefs() const { return m_FieldDefs.get(); }
    TDictIndexDefs *IndexDefs() const { return m_IndexDefs.get(); }
    qint32 RecordSize = 0;
    TIntegerAry FieldOffsets;
    int AutoIncFieldIdx = -1;
    // The table header as the file holds it.
    const dictdb::TTableHeader &TableHeader() const { return m_TableHeader; }
    // Every record's record-tab entry, deleted ones included, and the file positions of the
    // record tab's blocks.
    const TRecordTabItems &RecTabItems() const { return m_RecTabItems; }
    const TIntegerAry &RecTabBlockOffsets() const { return m_RecTabBlockOffsets; }
    // List 0: live records in record-number order; list k + 1: index k in key order.
    std::vector<TRecInfoList> IndexLists;
    // Counts the changes of the lists, so that a data set can tell whether its copy of a
    // list still mirrors it.
    quint64 ListsVersion = 0;
    // The chains the last load found torn and mended: (index, record linked in again).
    std::vector<std::pair<int, int>> RepairedChains;

    void Open();
    void Close();
    bool Loaded() const { return TableIdx >= 0; }

    // One field's decoded value (a blob: the whole value). Strings come NUL-terminated,
    // truth values as 0 or 1.
    void ReadFieldData(TStream *Dest, int RecIdx, int FieldIdx);
    void ReadRecordData(TFieldBuffers &FieldBuffers, const TRecInfoList &List, int Pos);
    void AppendRecordData(TFieldBuffers &FieldBuffers, bool Flush, const TOnAdjustIndexForAppend &OnAdjust);
    void ModifyRecordData(TFieldBuffers &FieldBuffers, int RecPos, const TOnAdjustIndexForModify &OnAdjust, bool Flush);
    void DeleteRecordData(int RecPos, bool Flush);

    static int CompareFieldValue(const void *Value1, const void *Value2, bool PartialCompare, bool CaseInsensitive,
                                 TFieldType FieldType);
    int SearchIndexedField(TFieldBuffers &FieldBuffers, const TRecInfoList &List, bool PartialCompare, int FieldCount,
                           int &ResultState, int IndexIdx);
    int SearchIndexedFieldBound(TFieldBuffers &FieldBuffers, const TRecInfoList &List, bool PartialCompare,
                                int FieldCount, int &ResultState, int IndexIdx, bool LowBound);
    int SearchInsertPos(TFieldBuffers &FieldBuffers, int IndexIdx, int &ResultState);
    // The positions of List (a list in index IndexIdx's key order, or a part of it) whose entries
    // match the key on the index's first FieldCount fields, in List's order; only the first with
    // FirstOnly. With a partial key a text field's matches do not lie together (an index that
    // compares case orders its texts case-folded first; the fields after a partial one follow no
    // order across its matches): the run they lie in is searched for, then walked.
    std::vector<int> SearchIndexedFieldMatches(TFieldBuffers &FieldBuffers, const TRecInfoList &List,
                                               bool PartialCompare, int FieldCount, int IndexIdx, bool FirstOnly);
    int GetPrimaryIndexIdx() const;
    // Where record RecIdx stands in List, a list in index IndexIdx's key order (that index's
    // list or a part of it), searched for by the record's key as the file holds it; -1 when
    // List does not hold it where that key puts it.
    int FindRecord(const TRecInfoList &List, int IndexIdx, int RecIdx);
    // -1, 0 or 1 as record RecA's key stands before, with or after record RecB's in index
    // IndexIdx (both read from the file).
    int CompareRecordKeys(int RecA, int RecB, int IndexIdx);
    bool FieldIsEncrypted(int FieldIdx) const;
    bool FieldIsCompressed(int FieldIdx) const;

    // File position of record RecIdx's record-tab entry.
    qint64 RecTabPosition(int RecIdx) const;

private:
    // A search key: the decoded, stored form of each key field of one index.
    struct TKey
    {
        std::vector<QByteArray> Values;
    };
    // The bytes of a record that hold an index's key fields, read in one go.
    struct TKeySpan
    {
        qint32 Lo = 0;
        qint32 Hi = 0;
    };
    // One index's part in an append or a modify.
    struct TIndexStep
    {
        TKey Key;
        int OldPos = -1;    // the record's place in the list before (modify)
        int NewPos = 0;     // its place after
        bool Moves = false; // its chain links change
        int Pred = -1;      // the live record it follows after the change; -1: the head
    };

    // An append's writes, planned whole before the first of them.
    struct TAppendPlan
    {
        dictdb::TTableHeader Header{}; // the header as the commit point writes it
        qint32 Rec = 0;                // the new record's number
        std::vector<TIndexStep> Steps; // per index
        std::vector<QByteArray> Blobs; // per field: a blob's stored bytes
        bool NewBlock = false;         // the record begins a block of every tab
        qint64 Start = 0;              // the run of new bytes at the end of the file
        qint64 End = 0;
        qint64 RecBlockPos = -1; // the new record-tab block
        qint64 DataOffset = 0;
        std::vector<qint64> BlobPos;        // per field
        std::vector<qint64> IdxBlockPos;    // per index: its new block
        TRecordTabItem Tab;                 // the record's entry in the record tab ...
        std::vector<TIndexTabItem> Entries; // ... and in each index tab
    };
    // A blob value a modify writes to fresh space.
    struct TNewBlob
    {
        int Field;
        qint64 At;
        QByteArray Bytes;
        TMemoryStream *Value;
    };
    // A modify's writes, planned whole before the first of them.
    struct TModifyPlan
    {
        TRecInfo Info;
        std::vector<char> Old; // the record's bytes as the file holds them ...
        std::vector<char> Rec; // ... and as the modify writes them
        std::vector<TIndexStep> Steps;
        qint32 AutoIncCounter = 0;
        qint64 Start = 0; // the fresh space of the new blob areas
        qint64 End = 0;
        std::vector<TNewBlob> Blobs;
    };

    TDictDBFileIO *FileIO() const;
    TDictDBFileIO *CurrentFileIO() const;
    // The lists, tabs and offsets by the engine's own numbers (-1: list 0).
    TRecInfoList &IndexList(int IndexIdx);
    TRecordTabItem &RecTab(qint32 RecIdx);
    const TRecordTabItem &RecTab(qint32 RecIdx) const;
    TIndexTabItem &ChainEntry(int IndexIdx, qint32 RecIdx);
    const TIndexTabItem &ChainEntry(int IndexIdx, qint32 RecIdx) const;
    qint32 &ChainPred(int IndexIdx, qint32 RecIdx);
    qint32 ChainPred(int IndexIdx, qint32 RecIdx) const;
    qint32 FieldOffset(int FieldIdx) const;
    // " (table 'T', field 'F')": where a refusal was met.
    QString Where(int FieldIdx) const;
    void Load();
    void LoadFromFile(bool WriteRepairs);
    int FindTable() const;
    // Definitions, record layout and key spans from the table header.
    void LoadDefinitions(const dictdb::TTableHeader &Header);
    void LoadRecordTab(const dictdb::TTableHeader &Header);
    // Reads index IndexIdx's chain and its list; false when the chain is torn, missing just
    // the record Missing. Any other damage is refused.
    bool LoadChain(int IndexIdx, qint32 &Missing);
    void MendTornChains(const std::vector<std::pair<int, qint32>> &Torn, bool Write);
    // The in-memory invariants, each asserted by its own name in builds with assertions.
    void AssertInvariants() const;
    void AssertTabPerRecord() const;                          // I4
    void AssertLinksAgree(int IndexIdx, qint32 RecIdx) const; // I5
    void AssertEveryRecordOnce(int IndexIdx) const;           // I6
    void Unload();
    void CheckWritable();
    // Whether a chain that missed records (false in OnChain) misses exactly one, Missing.
    static bool IsTornChain(const std::vector<bool> &OnChain, qint32 &Missing);
    // Links a torn chain's missing record in again (and writes the links when Write).
    void MendChain(int IndexIdx, qint32 RecIdx, bool Write, bool &HeaderChanged);
    std::vector<char> ReadRecordBytes(qint32 DataOffset);
    QByteArray RecordValue(int RecIdx, int FieldIdx);
    // A field's decoded, normalised value from a record's raw bytes (blobs: the area their
    // slot there points to, read from the file).
    QByteArray FieldValueOf(const char *RawRecord, int FieldIdx);
    // Fields the buffers leave out come from FallbackRecord (a record's raw bytes) when given.
    TKey KeyOfBuffers(TFieldBuffers &FieldBuffers, int IndexIdx, const char *FallbackRecord = nullptr);
    TKey KeyOfRecord(const char *RawRecord, int IndexIdx);
    // With Run, a partial key compares its first text field case-folded and the fields after it
    // not at all: equal entries are then the run that holds every match.
    int CompareKeyAt(const TKey &Key, const TRecInfo &Entry, int IndexIdx, bool PartialCompare, int FieldCount,
                     bool Run = false);
    // Binary search of List (leaving out position Skip when not negative) for Key.
    int Search(const TKey &Key, const TRecInfoList &List, bool PartialCompare, int FieldCount, int &ResultState,
               int IndexIdx, int Skip = -1);
    int SearchBound(const TKey &Key, const TRecInfoList &List, bool PartialCompare, int FieldCount, int &ResultState,
                    int IndexIdx, bool LowBound, bool Run = false);
    static int InsertPosOf(int Pos, int ResultState);
    // Where record RecIdx, whose key is Key, stands in index IndexIdx's list; -1 when absent.
    int FindInList(int IndexIdx, int RecIdx, const TKey &Key);
    // The same in any list in that index's order, by key alone: -1 also when the list's order
    // is not the keys'.
    int FindByKey(const TRecInfoList &List, int IndexIdx, int RecIdx, const TKey &Key);
    [[noreturn]] void RaiseDuplicate(int IndexIdx, TFieldBuffers &FieldBuffers, const char *FallbackRecord = nullptr);
    void PrepareFixedField(int FieldIdx, const TFieldBufferItem *Item, char *Dest);
    void WriteBlob(TMemoryStream *Value, int FieldIdx, qint64 Offset, const QByteArray &Encoded);
    QByteArray EncodeBlob(TMemoryStream *Value, int FieldIdx);
    qint64 IdxTabPosition(int IndexIdx, int RecIdx) const;
    void WriteIndexEntry(int IndexIdx, int RecIdx);
    // Reads the index entries a relink relies on and refuses when the file no longer says
    // what this object believes.
    void CheckEntries(std::vector<std::pair<int, int>> Entries);
    void Unlink(int IndexIdx, int RecIdx, bool &HeaderChanged, bool Write);
    void LinkAfter(int IndexIdx, int RecIdx, int Predecessor, bool &HeaderChanged, bool Write);
    // Runs the live writes: when one fails, the file may be ahead of this object, which then
    // refuses to write until the table is loaded again (I2).
    void RunLiveWrites(const std::function<void()> &Writes);

    // The steps of an append.
    void PlanAppendPlaces(TFieldBuffers &FieldBuffers, TAppendPlan &Plan);
    // Gives the record its auto-increment value; true when it assigned a new one.
    bool AssignAutoInc(TFieldBuffers &FieldBuffers, dictdb::TTableHeader &Header);
    void PlanAppendLayout(TFieldBuffers &FieldBuffers, TAppendPlan &Plan);
    QByteArray BuildAppendImage(TFieldBuffers &FieldBuffers, const TAppendPlan &Plan);
    std::vector<std::pair<int, qint32>> ReliedByAppend(const TAppendPlan &Plan) const;
    void WriteAppendFresh(TFieldBuffers &FieldBuffers, const TAppendPlan &Plan, const QByteArray &Image);
    void LinkAppended(const TAppendPlan &Plan);
    void ApplyAppend(const TAppendPlan &Plan, const TOnAdjustIndexForAppend &OnAdjust);

    // The steps of a modify.
    void PlanModifyPlaces(TFieldBuffers &FieldBuffers, TModifyPlan &Plan);
    void BuildModifiedRecord(TFieldBuffers &FieldBuffers, TModifyPlan &Plan);
    std::vector<std::pair<int, qint32>> ReliedByModify(const TModifyPlan &Plan) const;
    void WriteModifyFresh(const TModifyPlan &Plan);
    void UnlinkMoved(const TModifyPlan &Plan);
    void LinkMoved(const TModifyPlan &Plan);
    void ApplyModify(const TModifyPlan &Plan, const TOnAdjustIndexForModify &OnAdjust);

    TDictDBFileIO *m_OwnFileIo = nullptr; // not owned
    dictdb::TTableHeader m_TableHeader{};
    TRecordTabItems m_RecTabItems;
    TIntegerAry m_RecTabBlockOffsets;
    std::vector<TIntegerAry> m_IdxTabBlockOffsets; // per index: its tab's blocks
    // The whole chain of every index, deleted records included (entry r: record r) ...
    std::vector<TIndexTabItems> m_IdxTabItems;
    // ... and each record's predecessor on it (-1: the head).
    std::vector<TIntegerAry> m_IdxTabPrev;
    std::unique_ptr<TDictFieldDefs> m_FieldDefs;
    std::unique_ptr<TDictIndexDefs> m_IndexDefs;
    std::vector<TKeySpan> m_KeySpans; // per index
    std::vector<char> m_Probe;        // scratch of a search probe
    std::vector<char> m_Record;       // scratch of a record read
    bool m_Stale = false;             // a write failed half-way: the lists may not match the file
};

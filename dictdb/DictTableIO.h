#pragma once

#include "dictdb/DictDBTypes.h"
#include "dictdb/DictDBUtils.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class TDictDatabase;
class TDictDBFileIO;

// Moves a data set's record positions along when the table I/O inserts (IndexIdx -1 is
// the physical list) ...
using TOnAdjustIndexForAppend = std::function<void(int IndexIdx, int InsertPos, const TRecInfo &Item)>;
// ... or moves an entry of an index list.
using TOnAdjustIndexForModify = std::function<void(int IndexIdx, int FromPos, int ToPos)>;

using TRecInfoList = std::vector<TRecInfo>;

// One open table of a connected database, shared by the data sets that show it.
class TDictTableIO
{
public:
    explicit TDictTableIO(TDictDatabase *ADatabase);
    // A table read through a file object that belongs to no database (the verifier's).
    explicit TDictTableIO(TDictDBFileIO *AFileIO);
    TDictTableIO(const TDictTableIO &) = delete;
    TDictTableIO &operator=(const TDictTableIO &) = delete;
    ~TDictTableIO();

    TDictDatabase *Database = nullptr;
    int RefCount = 0;
    QString TableName;
    int TableIdx = -1;
    // When not negative, the table is loaded from this directory position instead of by name.
    int LoadTableIdx = -1;
    // Whether loading mends an index chain torn by an interrupted write; when not, such a
    // chain is refused like any other damage.
    bool RepairTornChains = true;
    TDictFieldDefs *FieldDefs() const { return m_fieldDefs.get(); }
    TDictIndexDefs *IndexDefs() const { return m_indexDefs.get(); }
    qint32 RecordSize = 0;
    TIntegerAry FieldOffsets;
    int AutoIncFieldIdx = -1;
    dictdb::TTableHeader TableHeader{};
    TRecordTabItems RecTabItems;
    TIntegerAry RecTabBlockOffsets;
    std::vector<TIntegerAry> IdxTabBlockOffsets;
    // The whole chain of every index, deleted records included (entry r: record r).
    std::vector<TIndexTabItems> IdxTabItems;
    // List 0: live records in record-number order; list k + 1: index k in key order.
    std::vector<TRecInfoList> IndexLists;

    void Open();
    void Close();
    bool Loaded() const { return TableIdx >= 0; }

    // One field's decoded value (a blob: the whole value). Strings come NUL-terminated,
    // truth values as 0 or 1.
    void ReadFieldData(TStream *Dest, int RecIdx, int FieldIdx);
    void ReadRecordData(TFieldBuffers &FieldBuffers, const TRecInfoList &List, int Pos);
    void AppendRecordData(TFieldBuffers &FieldBuffers, bool Flush, const TOnAdjustIndexForAppend &OnAdjust);
    void ModifyRecordData(TFieldBuffers &FieldBuffers, int RecPos, const TOnAdjustIndexForModify &OnAdjust,
                          bool Flush);
    void DeleteRecordData(int RecPos, bool Flush);

    static int CompareFieldValue(const void *Value1, const void *Value2, bool PartialCompare, bool CaseInsensitive,
                                 TFieldType FieldType);
    int SearchIndexedField(TFieldBuffers &FieldBuffers, const TRecInfoList &List, bool PartialCompare,
                           int FieldCount, int &ResultState, int IndexIdx);
    int SearchIndexedFieldBound(TFieldBuffers &FieldBuffers, const TRecInfoList &List, bool PartialCompare,
                                int FieldCount, int &ResultState, int IndexIdx, bool LowBound);
    int SearchInsertPos(TFieldBuffers &FieldBuffers, int IndexIdx, int &ResultState);
    int GetPrimaryIndexIdx() const;
    // The same record's position in another list (-1 = list 0); -1 when absent.
    int ConvertRecIdx(int FromIndex, int Pos, int ToIndex) const;
    // -1, 0 or 1 as record RecA's key stands before, with or after record RecB's in index
    // IndexIdx (both read from the file).
    int CompareRecordKeys(int RecA, int RecB, int IndexIdx);
    bool FieldIsEncrypted(int FieldIdx) const;
    bool FieldIsCompressed(int FieldIdx) const;

    // File position of record RecIdx's record-tab entry.
    qint64 RecTabPosition(int RecIdx) const;

private:
    TDictDBFileIO *FileIO() const;
    TDictDBFileIO *CurrentFileIO() const;
    // " (table 'T', field 'F')": where a refusal was met.
    QString Where(int FieldIdx) const;
    void Load();
    void Unload();
    void CheckHeaderUnchanged();
    QByteArray RecordValue(int RecIdx, int FieldIdx);
    int CompareKey(TFieldBuffers &FieldBuffers, int RecIdx, int IndexIdx, bool PartialCompare, int FieldCount);
    void CheckUnique(TFieldBuffers &FieldBuffers, int ExceptRecIdx);
    void PrepareFixedField(int FieldIdx, const TFieldBufferItem *Item, char *Dest);
    void WriteBlob(TMemoryStream *Value, int FieldIdx, qint64 Offset, const QByteArray &Encoded);
    QByteArray EncodeBlob(TMemoryStream *Value, int FieldIdx);
    qint64 IdxTabPosition(int IndexIdx, int RecIdx) const;
    void WriteIndexEntry(int IndexIdx, int RecIdx);
    int ChainPredecessor(int IndexIdx, int RecIdx) const;
    void Unlink(int IndexIdx, int RecIdx, bool &HeaderChanged);
    void LinkAfter(int IndexIdx, int RecIdx, int Predecessor, bool &HeaderChanged);

    TDictDBFileIO *m_ownFileIO = nullptr;  // not owned
    std::unique_ptr<TDictFieldDefs> m_fieldDefs;
    int m_keyFallbackRec = -1;  // during a modify: where unchanged key fields are read
    std::unique_ptr<TDictIndexDefs> m_indexDefs;
};

#pragma once

// The table data set: one table of a database file, ordered by one of its indexes,
// with filtering, look-ups, the write path and a master range.

#include "dictdb/DataProcess.h"
#include "dictdb/DictDataSet.h"
#include "dictdb/DictTableIO.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace dictdb::msg {
inline constexpr const char *kSTableNotFound = "Table '%s' not found";
inline constexpr const char *kSNoIndexActive = "No index currently active";
} // namespace dictdb::msg

class TDictTable : public TTDEDataSet
{
public:
    explicit TDictTable(QObject *AOwner = nullptr);
    ~TDictTable() override;

    const QString &TableName() const { return m_TableName; }
    void SetTableName(const QString &Value);
    const QString &IndexName() const { return m_IndexName; }
    void SetIndexName(const QString &Value);
    int IndexIdx() const { return m_IndexIdx; }
    TIndexDefs *IndexDefs() const { return m_IndexDefs.get(); }
    bool ReadOnly() const { return m_ReadOnly; }
    void SetReadOnly(bool Value) { m_ReadOnly = Value; }
    TDataSource *MasterSource() const { return GetDataSource(); }
    void SetMasterSource(TDataSource *Value);
    QString MasterFields() const { return m_MasterLink->FieldNames(); }
    void SetMasterFields(const QString &Value) { m_MasterLink->SetFieldNames(Value); }
    TMasterDataLink *MasterLink() const { return m_MasterLink.get(); }
    bool RangeActive() const { return m_RangeActive; }
    int KeyFieldCount() const { return m_KeyFieldCount; }
    TDictTableIO *TableIO() const { return m_TableIo; }
    // The visible records, in the current order.
    const TRecInfoList &RecordList() const { return m_RecList ? *m_RecList : m_Empty; }

    TOnProgressEvent OnFilterProgress;

    void SetDatabaseName(const QString &Value) override;
    bool Locate(const QString &KeyFields, const QVariant &KeyValues, TLocateOptions Options) override;
    QVariant Lookup(const QString &KeyFields, const QVariant &KeyValues, const QString &ResultFields) override;
    void Post() override;
    bool BookmarkValid(const TBookmark &Bookmark) override;
    void ReadBlobData(TStream *Dest, int RecIdx, int FieldIdx) override;

    // Applies the master range when the master link is active.
    void CheckMasterRange();

protected:
    void DoAfterOpen() override;
    bool GetCanModify() override;
    TDataSource *GetDataSource() const override { return m_MasterLink->DataSource(); }
    int GetRecordCount() override { return m_RecList ? int(m_RecList->size()) : 0; }
    void InternalRefresh() override;
    void InternalAddRecord(TRecordBuffer Buffer, bool Append) override;
    void InternalDelete() override;
    void InternalGotoBookmark(const void *Bookmark) override;
    void InternalPost() override;
    TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) override;
    void InternalClose() override;
    void InternalInitFieldDefs() override;
    void InternalOpen() override;
    bool IsCursorOpen() override { return m_RecList.has_value(); }
    void ActivateFilter() override;
    void DeactivateFilter() override;
    void ReadRecordBuffer(TRecordBuffer Buffer, int RecIndex) override;
    void FreeRecordBuffer(TRecordBuffer &Buffer) override;

private:
    void MasterChanged();
    void MasterDisabled();
    void ApplyRange();
    void ReadIndexList();
    int FindIndexIdx(const QString &Name) const;
    void BuildFieldBuffers(TRecordBuffer Buffer, TFieldBuffers &FieldBuffers);
    int PhysicalPos(qint32 RecIndex) const;
    // Puts the entry of RecIndex where the current order wants it in the record list.
    int PlaceEntry(qint32 RecIndex);
    // Whether the record list is still part of the table I/O's list of the current order, in
    // that order (the table has not changed since the list was read) ...
    bool FollowsTableList() const;
    // ... and whether it is still that list, entry for entry (nothing narrows it either).
    bool MirrorsTableList() const;
    // Where record RecIndex stands in the record list; -1 when the list does not hold it.
    int RecordListPos(qint32 RecIndex);

    // The steps of a locate: the key values go into Buffer through the key fields; an index
    // whose key those fields are is searched, or else the record list is scanned. Each search
    // answers the position in the record list of the first record it finds, or -1.
    bool LocateRecord(const QString &KeyFields, const QVariant &KeyValues, TLocateOptions Options, bool SyncCursor);
    std::vector<TField *> SetLocateKey(const QString &KeyFields, const QVariant &KeyValues);
    int LocateIndexFor(const std::vector<TField *> &Fields, bool CaseInsensitive) const;
    int LocateByIndex(TFieldBuffers &Key, int IndexIdx, int FieldCount, bool PartialKey);
    // The first of the table list's entries at Candidates (positions in that list's order) that
    // the record list holds.
    int FirstHeld(const TRecInfoList &TableList, const std::vector<int> &Candidates);
    int LocateByScan(TRecordBuffer Buffer, const std::vector<TField *> &Fields, bool PartialKey, bool CaseInsensitive);
    bool StoredValuesMatch(TRecordBuffer Buffer, qint32 RecIndex, const std::vector<TField *> &Fields, bool PartialKey,
                           bool CaseInsensitive);
    bool FilterOrRange() const { return Filtered() || m_RangeActive; }

    QString m_TableName;
    std::unique_ptr<TIndexDefs> m_IndexDefs;
    QString m_IndexName;
    int m_IndexIdx = -1;
    std::optional<TRecInfoList> m_RecList;
    quint64 m_ListVersion = 0; // the table I/O's list version the record list mirrors
    TRecInfoList m_Empty;
    bool m_RangeActive = false;
    int m_KeyFieldCount = 0;
    bool m_ReadOnly = false;
    std::unique_ptr<TMasterDataLink> m_MasterLink;
    TDictTableIO *m_TableIo = nullptr;
    // The field buffers of the record buffer read last, kept for the next read into it.
    std::unique_ptr<TFieldBuffers> m_ReadBuffers;
    TRecordBuffer m_ReadBuffer = nullptr;
};

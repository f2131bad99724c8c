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
inline constexpr const char *STableNotFound = "Table '%s' not found";
inline constexpr const char *SNoIndexActive = "No index currently active";
} // namespace dictdb::msg

class TDictTable : public TTDEDataSet
{
public:
    explicit TDictTable(QObject *AOwner = nullptr);
    ~TDictTable() override;

    const QString &TableName() const { return m_tableName; }
    void SetTableName(const QString &Value);
    const QString &IndexName() const { return m_indexName; }
    void SetIndexName(const QString &Value);
    int IndexIdx() const { return m_indexIdx; }
    TIndexDefs *IndexDefs() const { return m_indexDefs.get(); }
    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool Value) { m_readOnly = Value; }
    TDataSource *MasterSource() const { return GetDataSource(); }
    void SetMasterSource(TDataSource *Value);
    QString MasterFields() const { return m_masterLink->FieldNames(); }
    void SetMasterFields(const QString &Value) { m_masterLink->SetFieldNames(Value); }
    TMasterDataLink *MasterLink() const { return m_masterLink.get(); }
    bool RangeActive() const { return m_rangeActive; }
    int KeyFieldCount() const { return m_keyFieldCount; }
    TDictTableIO *TableIO() const { return m_tableIO; }
    // The visible records, in the current order.
    const TRecInfoList &RecordList() const { return m_recList ? *m_recList : m_empty; }

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
    TDataSource *GetDataSource() const override { return m_masterLink->DataSource(); }
    int GetRecordCount() override { return m_recList ? int(m_recList->size()) : 0; }
    void InternalRefresh() override;
    void InternalAddRecord(TRecordBuffer Buffer, bool Append) override;
    void InternalDelete() override;
    void InternalGotoBookmark(const void *Bookmark) override;
    void InternalPost() override;
    TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) override;
    void InternalClose() override;
    void InternalInitFieldDefs() override;
    void InternalOpen() override;
    bool IsCursorOpen() override { return m_recList.has_value(); }
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
    // Whether the record list is still the table I/O's list of the current order, entry for
    // entry (nothing narrows it and no other data set changed the table since it was read).
    bool MirrorsTableList() const;
    bool LocateRecord(const QString &KeyFields, const QVariant &KeyValues, TLocateOptions Options, bool SyncCursor);
    bool FilterOrRange() const { return Filtered() || m_rangeActive; }

    QString m_tableName;
    std::unique_ptr<TIndexDefs> m_indexDefs;
    QString m_indexName;
    int m_indexIdx = -1;
    std::optional<TRecInfoList> m_recList;
    quint64 m_listVersion = 0; // the table I/O's list version the record list mirrors
    TRecInfoList m_empty;
    bool m_rangeActive = false;
    int m_keyFieldCount = 0;
    bool m_readOnly = false;
    std::unique_ptr<TMasterDataLink> m_masterLink;
    TDictTableIO *m_tableIO = nullptr;
    // The field buffers of the record buffer read last, kept for the next read into it.
    std::unique_ptr<TFieldBuffers> m_readBuffers;
    TRecordBuffer m_readBuffer = nullptr;
};

#pragma once

// The two abstract data-set layers of the engine: TTDBDataSet binds a data set to a
// session and a database by name; TTDEDataSet implements the record-buffer protocol over
// a record list its descendant keeps, with filtering, searching and blob streams.

#include "dictdb/DictDB.h"
#include "dictdb/DictDBUtils.h"
#include "dictdb/FilterParser.h"
#include "dataaccess/DataSet.h"

#include <QString>

#include <array>
#include <memory>
#include <vector>

class TDictTable;

namespace dictdb::msg {
inline constexpr const char *kSNoRecords = "No records";
} // namespace dictdb::msg

// Design-time only; carries nothing.
struct TDictAboutBox
{};

class TTDBDataSet : public TDataSet, public TDictDBClient
{
public:
    explicit TTDBDataSet(QObject *AOwner = nullptr);
    ~TTDBDataSet() override;

    const QString &DatabaseName() const { return m_DatabaseName; }
    virtual void SetDatabaseName(const QString &Value);
    const QString &SessionName() const { return m_SessionName; }
    void SetSessionName(const QString &Value);
    // The open database, nullptr while the cursor is closed.
    TDictDatabase *Database() const { return m_Database; }
    // The open database's session; else the session of that name, or the default one.
    TDictSession *DBSession() const;

    virtual void CloseDataSet() override { Close(); }
    void DatabaseConnectChange(bool Connected) override;
    TDictDBMediumType ClientMediumType() const override { return mtDisk; }
    void SetClientMediumType(TDictDBMediumType) override {}
    void SetClientSessionName(const QString &Value) override;

protected:
    void CloseCursor() override;
    void OpenCursor(bool InfoQuery) override;

private:
    QString m_DatabaseName;
    TDictDatabase *m_Database = nullptr;
    QString m_SessionName;
};

class TTDEDataSet : public TTDBDataSet, public TFilterFieldSource
{
public:
    explicit TTDEDataSet(QObject *AOwner = nullptr);
    ~TTDEDataSet() override;

    TDictAboutBox About;
    TDictDBMediumType MediumType() const { return m_MediumType; }
    void SetMediumType(TDictDBMediumType Value);

    TStream *CreateBlobStream(TField *Field, TBlobStreamMode Mode) override;
    bool GetFieldData(TField *Field, void *Buffer) override;
    void SetFieldData(TField *Field, const void *Buffer) override;
    using TDataSet::GetFieldData;
    using TDataSet::SetFieldData;
    void DataConvert(TField *Field, const void *Source, void *Dest, bool ToNative) override;

    // Where a data field's value lies in the data area of a record buffer.
    int FieldOffset(int FieldNo) const;
    int RecordSizeValue() const { return m_RecordSize; }
    int RecBufSize() const { return m_RecBufSize; }
    int CurRec() const { return m_CurRec; }
    // Chooses the buffer of the current state; false when there is none.
    virtual bool GetActiveRecBuf(TRecordBuffer &RecBuf);
    // Reads a blob field of the current table through the database's file object.
    virtual void ReadBlobData(TStream *Dest, int RecIdx, int FieldIdx);
    // The record buffer's blob stream of a blob field (data or calculated), or nullptr.
    TOptimBlobStream *BlobStreamOf(TRecordBuffer Buffer, TField *Field) const;

    TDictDBMediumType ClientMediumType() const override { return m_MediumType; }
    void SetClientMediumType(TDictDBMediumType Value) override;

    // TFilterFieldSource
    int FilterFieldIndex(const QString &Name) const override;
    TFieldType FilterFieldType(int FieldIndex) const override;
    const char *FilterFieldData(int FieldIndex, int &Size) const override;
    QString FilterFieldText(int FieldIndex) const override;

protected:
    void DoAfterOpen() override;
    bool FindRecord(bool Restart, bool GoForward) override;
    bool GetCanModify() override { return m_CanModify; }
    int GetRecordCount() override { return 0; }
    int GetRecNo() override;
    void SetFiltered(bool Value) override;
    void SetFilterOptions(TDataSetFilterOptions Value) override;
    void SetFilterText(const QString &Value) override;
    void SetRecNoValue(int Value) override;
    TRecordBuffer AllocRecordBuffer() override;
    void FreeRecordBuffer(TRecordBuffer &Buffer) override;
    void GetBookmarkData(TRecordBuffer Buffer, void *Data) override;
    TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer) override;
    int GetRecordSize() override { return m_RecordSize; }
    void InternalFirst() override { m_CurRec = -1; }
    void InternalInitRecord(TRecordBuffer Buffer) override;
    void InternalLast() override { m_CurRec = GetRecordCount(); }
    void InternalSetToRecord(TRecordBuffer Buffer) override;
    void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) override;
    void SetBookmarkData(TRecordBuffer Buffer, const void *Data) override;
    void InternalHandleException() override;
    bool IsCursorOpen() override { return false; }

    virtual void ActivateFilter() {}
    virtual void DeactivateFilter() {}
    virtual void ReadRecordBuffer(TRecordBuffer Buffer, int RecIndex)
    {
        (void)Buffer;
        (void)RecIndex;
    }

    // Computes RecordSize, RecBufSize and FieldOffsets from the current fields.
    void CalcRecordLayout();
    void AllocKeyBuffers();
    void FreeKeyBuffers();
    // The filter acceptance of the record in the active buffer.
    bool FilterAccept();
    void ParseFilter(const QString &Text);
    TFilterOptions EvaluatorOptions() const;
    TFilterParser *FilterParser() const { return m_FilterParser.get(); }

    int m_CurRec = -1;
    bool m_CanModify = false;
    // NOLINTBEGIN(readability-identifier-naming): the data set's interface names its buffers so
    std::array<TRecordBuffer, 4> KeyBuffers{};
    TRecordBuffer KeyBuffer = nullptr;
    TRecordBuffer FilterBuffer = nullptr;
    // NOLINTEND(readability-identifier-naming)

private:
    void SetFilterData(const QString &Text, TDataSetFilterOptions Options);

    TDictDBMediumType m_MediumType = mtDisk;
    std::unique_ptr<TFilterParser> m_FilterParser;
    int m_RecordSize = 0;
    int m_RecBufSize = 0;
    std::vector<int> m_FieldOffsets;
};

// The stream a data set hands out for a blob field: a copy of the active record's value
// that writes itself back into the record buffer.
class TDictBlobStream : public TMemoryStream
{
public:
    TDictBlobStream(TBlobField *Field, TBlobStreamMode Mode);
    ~TDictBlobStream() override;

    qint64 Write(const void *Buffer, qint64 Count) override;

    TBlobField *Field = nullptr;
    TTDEDataSet *DataSet = nullptr;
    TBlobStreamMode Mode = bmRead;
    int FieldNo = 0;
    bool Opened = false;
    bool Modified = false;

private:
    TOptimBlobStream *Target() const;
    void CopyBack();
};

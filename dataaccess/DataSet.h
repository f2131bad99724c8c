#pragma once

// The data set: a cursor over records with a window of record buffers that a descendant
// fills (the record-buffer protocol), with states, navigation, editing, bookmarks,
// filtering and data events; and the data source and data links that follow a data set.

#include "dataaccess/DBError.h"
#include "dataaccess/FieldDefs.h"
#include "dataaccess/Fields.h"

#include <QByteArray>
#include <QFlags>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>
#include <vector>

namespace dataaccess {

class TDataSource;
class TDataLink;

enum TDataSetState : quint8 {
    dsInactive,
    dsBrowse,
    dsEdit,
    dsInsert,
    dsSetKey,
    dsCalcFields,
    dsFilter,
    dsNewValue,
    dsOldValue,
    dsCurValue,
    dsBlockRead,
    dsInternalCalc,
    dsOpening
};

enum TDataEvent : quint8 {
    deFieldChange,
    deRecordChange,
    deDataSetChange,
    deDataSetScroll,
    deLayoutChange,
    deUpdateRecord,
    deUpdateState,
    deCheckBrowseMode,
    dePropertyChange,
    deFieldListChange,
    deFocusControl,
    deParentScroll,
    deConnectChange,
    deReconcileError,
    deDisabledStateChange
};

enum TGetMode : quint8 { gmCurrent, gmNext, gmPrior };
enum TGetResult : quint8 { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag : quint8 { bfCurrent, bfBOF, bfEOF, bfInserted };
enum TDataAction : quint8 { daFail, daAbort, daRetry };

enum TResyncModeItem : quint8 { rmExact = 0x01, rmCenter = 0x02 };
Q_DECLARE_FLAGS(TResyncMode, TResyncModeItem)

enum TLocateOption : quint8 { loCaseInsensitive = 0x01, loPartialKey = 0x02 };
Q_DECLARE_FLAGS(TLocateOptions, TLocateOption)

// The data set's filter options; the bits are those the filter evaluator takes.
enum TDataSetFilterOption : quint8 { dfoCaseInsensitive = 0x01, dfoNoPartialCompare = 0x02 };
Q_DECLARE_FLAGS(TDataSetFilterOptions, TDataSetFilterOption)

using TRecordBuffer = char *;
using TBookmark = QByteArray;

namespace msg {
inline constexpr const char *kSDataSetEmpty = "Cannot perform this operation on an empty dataset";
inline constexpr const char *kSRecordNotFound = "Record not found";
inline constexpr const char *kSNotEditingDataSet = "Dataset not in edit or insert mode";
inline constexpr const char *kSDataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr const char *kSFieldRequired = "Field '%s' must have a value";
inline constexpr const char *kSBookmarkNotFound = "Bookmark not found";
} // namespace msg

class TDataSet : public QObject
{
public:
    explicit TDataSet(QObject *AOwner = nullptr);
    ~TDataSet() override;

    // Opening and closing.
    bool Active() const { return m_State != dsInactive && m_State != dsOpening; }
    void SetActive(bool Value);
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }
    TDataSetState State() const { return m_State; }
    bool Bof() const { return m_Bof; }
    bool Eof() const { return m_Eof; }
    bool IsEmpty() const { return m_ActiveRecord >= m_RecordCount; }
    bool Modified() const { return m_Modified; }
    bool Found() const { return m_Found; }
    bool DefaultFields() const { return m_DefaultFields; }
    bool CanModify() { return GetCanModify(); }
    int RecordCount()
    {
        CheckActive();
        return GetRecordCount();
    }
    int RecNo() { return GetRecNo(); }
    void SetRecNo(int Value) { SetRecNoValue(Value); }

    // Fields.
    TFields *Fields() const { return m_Fields; }
    int FieldCount() const { return m_Fields->Count(); }
    TFieldDefs *FieldDefs() const { return m_FieldDefs; }
    TField *FindField(const QString &Name) const { return m_Fields->FindField(Name); }
    TField *FieldByName(const QString &Name) const { return m_Fields->FieldByName(Name); }
    // The fields named in a ";"-separated list; an unknown name raises "Field '%s' not found".
    void GetFieldList(std::vector<TField *> &List, const QString &FieldNames) const;
    QVariant FieldValues(const QString &FieldNames) const;
    int CalcFieldsSize() const { return m_CalcFieldsSize; }
    // Bytes a field takes in a record buffer: its data size, or a stream reference for a blob.
    static int FieldSlotSize(const TField *Field);

    // Navigation.
    void First();
    void Last();
    void Next() { MoveBy(1); }
    void Prior() { MoveBy(-1); }
    int MoveBy(int Distance);
    bool FindFirst() { return FindRecord(true, true); }
    bool FindLast() { return FindRecord(true, false); }
    bool FindNext() { return FindRecord(false, true); }
    bool FindPrior() { return FindRecord(false, false); }
    virtual bool Locate(const QString &KeyFields, const QVariant &KeyValues, TLocateOptions Options);
    virtual QVariant Lookup(const QString &KeyFields, const QVariant &KeyValues, const QString &ResultFields);

    // Editing.
    void Edit();
    void Insert();
    void Append();
    virtual void Post();
    virtual void Cancel();
    void Delete();
    void Refresh();
    void CheckBrowseMode();
    void UpdateRecord();

    // Bookmarks.
    TBookmark Bookmark();
    void SetBookmark(const TBookmark &Value) { GotoBookmark(Value); }
    TBookmark GetBookmark() { return Bookmark(); }
    void GotoBookmark(const TBookmark &Value);
    bool BookmarkAvailable();
    virtual bool BookmarkValid(const TBookmark &Bookmark);
    virtual int CompareBookmarks(const TBookmark &Bookmark1, const TBookmark &Bookmark2);
    int BookmarkSize() const { return m_BookmarkSize; }

    // Filtering.
    const QString &Filter() const { return m_FilterText; }
    void SetFilter(const QString &Value) { SetFilterText(Value); }
    bool Filtered() const { return m_Filtered; }
    void SetFilteredValue(bool Value) { SetFiltered(Value); }
    TDataSetFilterOptions FilterOptions() const { return m_FilterOptions; }
    void SetFilterOptionsValue(TDataSetFilterOptions Value) { SetFilterOptions(Value); }

    void CheckActive() const;
    void CheckInactive() const;

    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return m_DisableCount != 0; }

    virtual TStream *CreateBlobStream(TField *Field, TBlobStreamMode Mode);

    // Field data of the current state's buffer.
    virtual bool GetFieldData(TField *Field, void *Buffer);
    bool GetFieldData(TField *Field, void *Buffer, bool NativeFormat);
    virtual void SetFieldData(TField *Field, const void *Buffer);
    void SetFieldData(TField *Field, const void *Buffer, bool NativeFormat);
    virtual void DataConvert(TField *Field, const void *Source, void *Dest, bool ToNative);

    TDataSource *DataSource() const { return GetDataSource(); }
    // Whether this data set is DataSource's data set or one its master chain leads to.
    bool IsLinkedTo(TDataSource *DataSource) const;

    // Sends an event to the data set and every data source attached to it.
    virtual void DataEvent(TDataEvent Event, qintptr Info);

    // Events (fire only when assigned).
    std::function<void(QObject *Sender)> BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeInsert, AfterInsert,
        BeforeEdit, AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel, BeforeDelete, AfterDelete,
        BeforeScroll, AfterScroll, BeforeRefresh, AfterRefresh, OnCalcFields, OnNewRecord;
    std::function<void(QObject *Sender, bool &Accept)> OnFilterRecord;
    std::function<void(QObject *Sender, const Exception &E, TDataAction &Action)> OnDeleteError, OnEditError,
        OnPostError;

protected:
    // The record-buffer protocol a descendant implements.
    virtual TRecordBuffer AllocRecordBuffer() = 0;
    virtual void FreeRecordBuffer(TRecordBuffer &Buffer) = 0;
    virtual void GetBookmarkData(TRecordBuffer Buffer, void *Data) = 0;
    virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer Buffer) = 0;
    virtual TGetResult GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck) = 0;
    virtual int GetRecordSize() = 0;
    virtual void InternalAddRecord(TRecordBuffer Buffer, bool Append) = 0;
    virtual void InternalClose() = 0;
    virtual void InternalDelete() = 0;
    virtual void InternalFirst() = 0;
    virtual void InternalGotoBookmark(const void *Bookmark) = 0;
    virtual void InternalHandleException() = 0;
    virtual void InternalInitFieldDefs() = 0;
    virtual void InternalInitRecord(TRecordBuffer Buffer) = 0;
    virtual void InternalLast() = 0;
    virtual void InternalOpen() = 0;
    virtual void InternalPost();
    virtual void InternalSetToRecord(TRecordBuffer Buffer) = 0;
    virtual bool IsCursorOpen() = 0;
    virtual void SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) = 0;
    virtual void SetBookmarkData(TRecordBuffer Buffer, const void *Data) = 0;

    virtual void InternalEdit() {}
    virtual void InternalInsert() {}
    virtual void InternalCancel() {}
    virtual void InternalRefresh() {}
    virtual void ClearCalcFields(TRecordBuffer Buffer);
    virtual bool GetCanModify() { return true; }
    virtual int GetRecordCount() { return -1; }
    virtual int GetRecNo() { return -1; }
    virtual void SetRecNoValue(int) {}
    virtual bool FindRecord(bool Restart, bool GoForward);
    virtual TDataSource *GetDataSource() const { return nullptr; }
    virtual void SetFiltered(bool Value) { m_Filtered = Value; }
    virtual void SetFilterText(const QString &Value) { m_FilterText = Value; }
    virtual void SetFilterOptions(TDataSetFilterOptions Value) { m_FilterOptions = Value; }

    virtual void OpenCursor(bool InfoQuery);
    virtual void CloseCursor();
    virtual void DoAfterOpen();
    virtual void CreateFields();
    virtual void DestroyFields();
    virtual void BindFields(bool Binding);

    void DoBeforeScroll() { Fire(BeforeScroll); }
    void DoAfterScroll() { Fire(AfterScroll); }
    void DoOnNewRecord() { Fire(OnNewRecord); }

    void SetState(TDataSetState Value);
    void SetTempState(TDataSetState Value, TDataSetState &Saved)
    {
        Saved = m_State;
        m_State = Value;
    }
    void RestoreState(TDataSetState Value) { m_State = Value; }
    void SetFound(bool Value) { m_Found = Value; }
    void SetModified(bool Value) { m_Modified = Value; }
    void SetBookmarkSize(int Value) { m_BookmarkSize = Value; }
    void SetDefaultFields(bool Value) { m_DefaultFields = Value; }

    void CheckCanModify();
    void CursorPosChanged() { m_CurrentRecord = -1; }
    void UpdateCursorPos();
    void Resync(TResyncMode Mode);
    void ClearBuffers();
    void CalculateFields(TRecordBuffer Buffer);
    void GetCalcFields(TRecordBuffer Buffer);
    void InitRecord(TRecordBuffer Buffer);

    TRecordBuffer ActiveBuffer() const { return m_Buffers.empty() ? nullptr : m_Buffers[m_ActiveRecord]; }
    TRecordBuffer TempBuffer() const { return m_Buffers.empty() ? nullptr : m_Buffers.back(); }
    TRecordBuffer CalcBuffer() const { return m_CalcBuffer; }
    bool IsLoading() const { return false; }

private:
    friend class TDataSource;
    void Fire(const std::function<void(QObject *)> &Event)
    {
        if (Event)
            Event(this);
    }
    void DoInternalOpen();
    void SetBufListSize(int Value);
    void SetCurrentRecord(int Index);
    bool GetNextRecord();
    bool GetPriorRecord();
    int GetNextRecords();
    int GetPriorRecords();
    void MoveBuffer(int CurIndex, int NewIndex);
    void ActivateBuffers();
    void BeginInsertAppend();
    void EndInsertAppend();
    void CheckOperation(void (TDataSet::*Operation)(),
                        const std::function<void(QObject *, const Exception &, TDataAction &)> &ErrorEvent);
    void CheckRequiredFields();
    void AddDataSource(TDataSource *Source);
    void RemoveDataSource(TDataSource *Source);

    TFields *m_Fields;
    TFieldDefs *m_FieldDefs;
    std::vector<TDataSource *> m_DataSources;
    std::vector<TRecordBuffer> m_Buffers; // the window, then the temporary buffer
    TRecordBuffer m_CalcBuffer = nullptr;
    int m_BufferCount = 0;
    int m_RecordCount = 0;
    int m_ActiveRecord = 0;
    int m_CurrentRecord = -1;
    int m_BookmarkSize = 0;
    int m_CalcFieldsSize = 0;
    int m_DisableCount = 0;
    TDataSetState m_State = dsInactive;
    TDataSetState m_DisableState = dsInactive;
    TDataEvent m_EnableEvent = deDataSetChange;
    bool m_Bof = true;
    bool m_Eof = true;
    bool m_Modified = false;
    bool m_Found = false;
    bool m_Filtered = false;
    bool m_DefaultFields = false;
    bool m_InternalOpenComplete = false;
    QString m_FilterText;
    TDataSetFilterOptions m_FilterOptions;
};

// Connects data links to a data set.
class TDataSource : public QObject
{
public:
    explicit TDataSource(QObject *AOwner = nullptr);
    ~TDataSource() override;

    TDataSet *DataSet() const { return m_DataSet; }
    void SetDataSet(TDataSet *Value);
    bool Enabled() const { return m_Enabled; }
    void SetEnabled(bool Value);
    TDataSetState State() const { return m_State; }

    std::function<void(QObject *Sender)> OnStateChange;
    std::function<void(QObject *Sender, TField *Field)> OnDataChange;

private:
    friend class TDataSet;
    friend class TDataLink;
    void DataEvent(TDataEvent Event, qintptr Info);
    void NotifyState();
    void NotifyDataLinks(TDataEvent Event, qintptr Info);
    void AddDataLink(TDataLink *Link);
    void RemoveDataLink(TDataLink *Link);

    TDataSet *m_DataSet = nullptr;
    std::vector<TDataLink *> m_DataLinks;
    TDataSetState m_State = dsInactive;
    bool m_Enabled = true;
};

// A client of a data source, told of every data event.
class TDataLink
{
public:
    TDataLink();
    virtual ~TDataLink();
    TDataLink(const TDataLink &) = delete;
    TDataLink &operator=(const TDataLink &) = delete;

    TDataSource *DataSource() const { return m_DataSource; }
    void SetDataSource(TDataSource *Value);
    TDataSet *DataSet() const { return m_DataSource ? m_DataSource->DataSet() : nullptr; }
    bool Active() const { return m_Active; }

protected:
    virtual void ActiveChanged() {}
    virtual void CheckBrowseMode() {}
    virtual void DataSetChanged() { RecordChanged(nullptr); }
    virtual void LayoutChanged() { DataSetChanged(); }
    virtual void RecordChanged(TField *) {}
    virtual void UpdateData() {}

private:
    friend class TDataSource;
    void DataEvent(TDataEvent Event, qintptr Info);
    void UpdateState();

    TDataSource *m_DataSource = nullptr;
    bool m_Active = false;
    bool m_Updating = false;
};

// The link of a detail data set to its master: the master's key fields, and notices when
// the master moves or closes.
class TMasterDataLink : public TDataLink
{
public:
    explicit TMasterDataLink(TDataSet *ADataSet) : m_DataSet(ADataSet) {}

    TDataSet *DetailDataSet() const { return m_DataSet; }
    const QString &FieldNames() const { return m_FieldNames; }
    void SetFieldNames(const QString &Value);
    const std::vector<TField *> &Fields() const { return m_Fields; }

    std::function<void(QObject *Sender)> OnMasterChange, OnMasterDisable;

protected:
    void ActiveChanged() override;
    void CheckBrowseMode() override;
    void LayoutChanged() override { ActiveChanged(); }
    void RecordChanged(TField *Field) override;

private:
    TDataSet *m_DataSet;
    QString m_FieldNames;
    std::vector<TField *> m_Fields;
};

} // namespace dataaccess

Q_DECLARE_OPERATORS_FOR_FLAGS(dataaccess::TResyncMode)
Q_DECLARE_OPERATORS_FOR_FLAGS(dataaccess::TLocateOptions)
Q_DECLARE_OPERATORS_FOR_FLAGS(dataaccess::TDataSetFilterOptions)

using dataaccess::TBookmark;
using dataaccess::TBookmarkFlag;
using dataaccess::TDataAction;
using dataaccess::TDataEvent;
using dataaccess::TDataLink;
using dataaccess::TDataSet;
using dataaccess::TDataSetFilterOptions;
using dataaccess::TDataSetState;
using dataaccess::TDataSource;
using dataaccess::TGetMode;
using dataaccess::TGetResult;
using dataaccess::TLocateOption;
using dataaccess::TLocateOptions;
using dataaccess::TMasterDataLink;
using dataaccess::TRecordBuffer;
using dataaccess::TResyncMode;
using enum dataaccess::TDataSetState;
using enum dataaccess::TDataEvent;
using enum dataaccess::TGetMode;
using enum dataaccess::TGetResult;
using enum dataaccess::TBookmarkFlag;
using enum dataaccess::TDataAction;
using enum dataaccess::TResyncModeItem;
using enum dataaccess::TLocateOption;
using enum dataaccess::TDataSetFilterOption;

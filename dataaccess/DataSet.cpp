#include "dataaccess/DataSet.h"

#include "dataaccess/DateTime.h"
#include "dataaccess/Logging.h"
#include "platform/Logging.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace dataaccess {

namespace {

// A field event carries its field in the event's integer, as the data-event interface passes it.
TField *FieldOfEvent(qintptr Info)
{
    return reinterpret_cast<TField *>(Info); // NOLINT(performance-no-int-to-ptr): see above
}

bool IsDateTimeType(TFieldType T)
{
    return T == ftDate || T == ftTime || T == ftDateTime;
}

bool InWriteMode(TDataSetState S)
{
    switch (S) {
    case dsEdit:
    case dsInsert:
    case dsSetKey:
    case dsCalcFields:
    case dsFilter:
    case dsNewValue:
    case dsInternalCalc:
        return true;
    default:
        return false;
    }
}

} // namespace

// ---------------------------------------------------------------- life

TDataSet::TDataSet(QObject *AOwner) : QObject(AOwner), m_Fields(new TFields(this)), m_FieldDefs(new TFieldDefs(this)) {}

TDataSet::~TDataSet()
{
    // A descendant closes its cursor in its own destructor: the protocol is gone by now.
    while (!m_DataSources.empty()) {
        TDataSource *ds = m_DataSources.back();
        m_DataSources.pop_back();
        ds->m_DataSet = nullptr;
        ds->DataEvent(deUpdateState, 0);
    }
    delete m_Fields;
    m_Fields = nullptr;
    delete m_FieldDefs;
}

int TDataSet::FieldSlotSize(const TField *Field)
{
    return Field->IsBlob() ? int(sizeof(void *)) : Field->DataSize();
}

void TDataSet::CheckActive() const
{
    if (!Active())
        DatabaseError(QString::fromLatin1(msg::kSDataSetClosed));
}

void TDataSet::CheckInactive() const
{
    if (Active())
        DatabaseError(QString::fromLatin1(msg::kSDataSetOpen));
}

void TDataSet::CheckCanModify()
{
    if (!GetCanModify())
        DatabaseError(QString::fromLatin1(msg::kSDataSetReadOnly));
}

void TDataSet::SetState(TDataSetState Value)
{
    if (m_State != Value) {
        m_State = Value;
        m_Modified = false;
        DataEvent(deUpdateState, 0);
    }
}

// ---------------------------------------------------------------- open and close

void TDataSet::SetActive(bool Value)
{
    if (Active() == Value)
        return;
    if (Value) {
        Fire(BeforeOpen);
        m_InternalOpenComplete = false;
        try {
            OpenCursor(false);
        } catch (...) {
            SetState(dsInactive);
            try {
                CloseCursor();
            } catch (...) {
                // The open's own failure is the one raised.
                qCWarning(lcDataAccess) << "closing after a failed open:" << platform::CurrentExceptionText();
            }
            throw;
        }
        SetState(dsBrowse);
        DoAfterOpen();
        if (!IsEmpty())
            DoAfterScroll();
    } else {
        Fire(BeforeClose);
        SetState(dsInactive);
        CloseCursor();
        Fire(AfterClose);
    }
}

void TDataSet::OpenCursor(bool InfoQuery)
{
    if (InfoQuery)
        InternalInitFieldDefs();
    else
        DoInternalOpen();
}

void TDataSet::DoInternalOpen()
{
    m_DefaultFields = FieldCount() == 0;
    InternalOpen();
    m_InternalOpenComplete = true;
    m_BufferCount = 1;
    SetBufListSize(m_BufferCount + 1);
    ClearBuffers();
    GetNextRecords();
    m_Bof = true;
}

void TDataSet::CloseCursor()
{
    m_InternalOpenComplete = false;
    ClearBuffers();
    SetBufListSize(0);
    m_BufferCount = 0;
    InternalClose();
    m_DefaultFields = false;
}

void TDataSet::DoAfterOpen()
{
    Fire(AfterOpen);
}

void TDataSet::SetBufListSize(int Value)
{
    while (int(m_Buffers.size()) > Value) {
        TRecordBuffer b = m_Buffers.back();
        m_Buffers.pop_back();
        FreeRecordBuffer(b);
    }
    while (int(m_Buffers.size()) < Value)
        m_Buffers.push_back(AllocRecordBuffer());
}

void TDataSet::CreateFields()
{
    for (int i = 0; i < m_FieldDefs->Count(); ++i) {
        const TFieldDef *def = m_FieldDefs->Items(i);
        TField *f = CreateFieldOfType(def->DataType(), def->Size());
        if (!f)
            DatabaseErrorFmt(QString::fromLatin1(msg::kSUnknownFieldType), def->Name());
        f->SetFieldName(def->Name());
        f->SetRequired(def->Required());
        f->SetDataSet(this);
    }
}

void TDataSet::DestroyFields()
{
    m_Fields->Clear();
}

void TDataSet::BindFields(bool Binding)
{
    m_CalcFieldsSize = 0;
    for (int i = 0; i < m_Fields->Count(); ++i) {
        TField *f = m_Fields->Fields(i);
        if (!Binding) {
            f->m_FieldNo = 0;
            continue;
        }
        if (f->FieldKind() == fkCalculated || f->FieldKind() == fkLookup) {
            f->m_FieldNo = -1;
            f->m_Offset = m_CalcFieldsSize;
            m_CalcFieldsSize += FieldSlotSize(f) + 1;
            continue;
        }
        const int idx = m_FieldDefs->IndexOf(f->FieldName());
        if (idx < 0)
            DatabaseErrorFmt(QString::fromLatin1(msg::kSFieldNotFound), f->FieldName());
        const TFieldDef *def = m_FieldDefs->Items(idx);
        if (def->DataType() != f->DataType())
            DatabaseErrorFmt(QString::fromLatin1(msg::kSFieldTypeMismatch), f->FieldName(),
                             FieldTypeName(f->DataType()), FieldTypeName(def->DataType()));
        if (f->DataType() == ftString || f->DataType() == ftFixedChar)
            f->m_Size = def->Size();
        f->m_FieldNo = def->FieldNo();
    }
}

// ---------------------------------------------------------------- buffers

void TDataSet::ClearBuffers()
{
    m_RecordCount = 0;
    m_ActiveRecord = 0;
    m_CurrentRecord = -1;
    m_Bof = true;
    m_Eof = true;
}

void TDataSet::ActivateBuffers()
{
    m_RecordCount = 1;
    m_ActiveRecord = 0;
    m_CurrentRecord = 0;
    m_Bof = false;
    m_Eof = false;
}

void TDataSet::MoveBuffer(int CurIndex, int NewIndex)
{
    if (CurIndex == NewIndex)
        return;
    TRecordBuffer b = m_Buffers[size_t(CurIndex)];
    if (CurIndex < NewIndex)
        for (int i = CurIndex; i < NewIndex; ++i)
            m_Buffers[size_t(i)] = m_Buffers[size_t(i) + 1];
    else
        for (int i = CurIndex; i > NewIndex; --i)
            m_Buffers[size_t(i)] = m_Buffers[size_t(i - 1)];
    m_Buffers[size_t(NewIndex)] = b;
}

void TDataSet::SetCurrentRecord(int Index)
{
    if (m_CurrentRecord == Index)
        return;
    TRecordBuffer b = m_Buffers[size_t(Index)];
    switch (GetBookmarkFlag(b)) {
    case bfCurrent:
    case bfInserted:
        InternalSetToRecord(b);
        break;
    case bfBOF:
        InternalFirst();
        break;
    case bfEOF:
        InternalLast();
        break;
    }
    m_CurrentRecord = Index;
}

void TDataSet::UpdateCursorPos()
{
    if (m_RecordCount > 0)
        SetCurrentRecord(m_ActiveRecord);
}

bool TDataSet::GetNextRecord()
{
    TGetMode mode = gmNext;
    if (m_RecordCount > 0) {
        SetCurrentRecord(m_RecordCount - 1);
        if (m_State == dsInsert && m_CurrentRecord == m_ActiveRecord && GetBookmarkFlag(ActiveBuffer()) == bfCurrent)
            mode = gmCurrent;
    }
    const bool ok = GetRecord(m_Buffers[size_t(m_RecordCount)], mode, true) == grOK;
    if (ok) {
        if (m_RecordCount == 0)
            ActivateBuffers();
        else if (m_RecordCount < m_BufferCount)
            ++m_RecordCount;
        else
            MoveBuffer(0, m_RecordCount);
        m_CurrentRecord = m_RecordCount - 1;
    } else {
        CursorPosChanged();
    }
    return ok;
}

bool TDataSet::GetPriorRecord()
{
    if (m_RecordCount > 0)
        SetCurrentRecord(0);
    const bool ok = GetRecord(m_Buffers[size_t(m_RecordCount)], gmPrior, true) == grOK;
    if (ok) {
        if (m_RecordCount == 0) {
            ActivateBuffers();
        } else {
            MoveBuffer(m_RecordCount, 0);
            if (m_RecordCount < m_BufferCount) {
                ++m_RecordCount;
                ++m_ActiveRecord;
            }
        }
        m_CurrentRecord = 0;
    } else {
        CursorPosChanged();
    }
    return ok;
}

int TDataSet::GetNextRecords()
{
    int n = 0;
    while (m_RecordCount < m_BufferCount && GetNextRecord())
        ++n;
    return n;
}

int TDataSet::GetPriorRecords()
{
    int n = 0;
    while (m_RecordCount < m_BufferCount && GetPriorRecord())
        ++n;
    return n;
}

void TDataSet::Resync(TResyncMode Mode)
{
    TRecordBuffer spare = m_Buffers[size_t(m_RecordCount)];
    if (Mode & rmExact) {
        CursorPosChanged();
        if (GetRecord(spare, gmCurrent, true) != grOK)
            DatabaseError(QString::fromLatin1(msg::kSRecordNotFound));
    } else if (GetRecord(spare, gmCurrent, false) != grOK && GetRecord(spare, gmNext, false) != grOK &&
               GetRecord(spare, gmPrior, false) != grOK) {
        ClearBuffers();
        DataEvent(deDataSetChange, 0);
        return;
    }
    int count = (Mode & rmCenter) ? (m_BufferCount - 1) / 2 : m_ActiveRecord;
    MoveBuffer(m_RecordCount, 0);
    ActivateBuffers();
    try {
        while (count > 0 && GetPriorRecord())
            --count;
        GetNextRecords();
        GetPriorRecords();
    } catch (...) {
        DataEvent(deDataSetChange, 0);
        throw;
    }
    DataEvent(deDataSetChange, 0);
}

// ---------------------------------------------------------------- calculated fields

void TDataSet::ClearCalcFields(TRecordBuffer Buffer)
{
    if (Buffer && m_CalcFieldsSize > 0)
        std::memset(Buffer + GetRecordSize(), 0, size_t(m_CalcFieldsSize));
}

void TDataSet::CalculateFields(TRecordBuffer Buffer)
{
    m_CalcBuffer = Buffer;
    if (m_State == dsInternalCalc)
        return;
    TDataSetState saved;
    SetTempState(dsCalcFields, saved);
    try {
        ClearCalcFields(Buffer);
        for (int i = 0; i < m_Fields->Count(); ++i) {
            TField *f = m_Fields->Fields(i);
            if (f->FieldKind() != fkLookup || !f->LookupDataSet() || !f->LookupDataSet()->Active())
                continue;
            const QVariant keys = FieldValues(f->KeyFields);
            f->SetValue(f->LookupDataSet()->Lookup(f->LookupKeyFields, keys, f->LookupResultField));
        }
        Fire(OnCalcFields);
    } catch (...) {
        RestoreState(saved);
        throw;
    }
    RestoreState(saved);
}

void TDataSet::GetCalcFields(TRecordBuffer Buffer)
{
    if (m_CalcFieldsSize > 0)
        CalculateFields(Buffer);
}

void TDataSet::InitRecord(TRecordBuffer Buffer)
{
    InternalInitRecord(Buffer);
    ClearCalcFields(Buffer);
    SetBookmarkFlag(Buffer, bfInserted);
}

// ---------------------------------------------------------------- fields

void TDataSet::GetFieldList(std::vector<TField *> &List, const QString &FieldNames) const
{
    List.clear();
    for (const QString &name : SplitFieldList(FieldNames))
        List.push_back(FieldByName(name));
}

QVariant TDataSet::FieldValues(const QString &FieldNames) const
{
    std::vector<TField *> list;
    GetFieldList(list, FieldNames);
    if (list.size() == 1)
        return list.front()->Value();
    QVariantList values;
    for (TField *f : list)
        values.append(f->Value());
    return values;
}

bool TDataSet::GetFieldData(TField *, void *)
{
    return false;
}

bool TDataSet::GetFieldData(TField *Field, void *Buffer, bool NativeFormat)
{
    if (NativeFormat || !IsDateTimeType(Field->DataType()))
        return GetFieldData(Field, Buffer);
    if (!Buffer)
        return GetFieldData(Field, nullptr);
    char stored[8] = {};
    const bool has = GetFieldData(Field, stored);
    if (has)
        DataConvert(Field, stored, Buffer, false);
    return has;
}

void TDataSet::SetFieldData(TField *, const void *) {}

void TDataSet::SetFieldData(TField *Field, const void *Buffer, bool NativeFormat)
{
    // A value written outside an edit would be lost with the buffer: refuse it.
    if (!InWriteMode(m_State))
        DatabaseError(QString::fromLatin1(msg::kSNotEditing));
    if (Field->FieldKind() == fkData && Field->ReadOnly() && m_State != dsSetKey && m_State != dsFilter)
        DatabaseErrorFmt(QString::fromLatin1(msg::kSFieldReadOnly), Field->FieldName());
    if (NativeFormat || !Buffer || !IsDateTimeType(Field->DataType())) {
        SetFieldData(Field, Buffer);
        return;
    }
    char stored[8] = {};
    DataConvert(Field, Buffer, stored, true);
    SetFieldData(Field, stored);
}

void TDataSet::DataConvert(TField *Field, const void *Source, void *Dest, bool ToNative)
{
    const TFieldType type = Field->DataType();
    if (!IsDateTimeType(type))
        return;
    const auto bad = [Field]() { DatabaseErrorFmt(QString::fromLatin1(msg::kSInvalidStoredDate), Field->FieldName()); };
    if (ToNative) {
        TDateTime dt;
        std::memcpy(&dt, Source, sizeof dt);
        if (!IsValidDateTime(dt))
            bad();
        const TTimeStamp ts = DateTimeToTimeStamp(dt);
        if (type == ftDate) {
            std::memcpy(Dest, &ts.Date, 4);
        } else if (type == ftTime) {
            std::memcpy(Dest, &ts.Time, 4);
        } else {
            const double ms = TimeStampToMSecs(ts);
            std::memcpy(Dest, &ms, 8);
        }
        return;
    }
    TTimeStamp ts;
    if (type == ftDate) {
        std::memcpy(&ts.Date, Source, 4);
        ts.Time = 0;
    } else if (type == ftTime) {
        std::memcpy(&ts.Time, Source, 4);
        ts.Date = kDateDelta;
    } else {
        double ms;
        std::memcpy(&ms, Source, 8);
        if (!std::isfinite(ms) || ms < 0 || ms >= double(kMaxDateDay + 1) * kMSecsPerDay)
            bad();
        ts = MSecsToTimeStamp(std::round(ms));
    }
    if (!IsValidTimeStamp(ts))
        bad();
    const TDateTime dt = TimeStampToDateTime(ts);
    std::memcpy(Dest, &dt, sizeof dt);
}

TStream *TDataSet::CreateBlobStream(TField *, TBlobStreamMode)
{
    return nullptr;
}

// ---------------------------------------------------------------- navigation

void TDataSet::First()
{
    CheckBrowseMode();
    DoBeforeScroll();
    ClearBuffers();
    try {
        InternalFirst();
        GetNextRecord();
        GetNextRecords();
    } catch (...) {
        m_Bof = true;
        DataEvent(deDataSetChange, 0);
        throw;
    }
    m_Bof = true;
    DataEvent(deDataSetChange, 0);
    DoAfterScroll();
}

void TDataSet::Last()
{
    CheckBrowseMode();
    DoBeforeScroll();
    ClearBuffers();
    try {
        InternalLast();
        GetPriorRecord();
        GetPriorRecords();
    } catch (...) {
        m_Eof = true;
        DataEvent(deDataSetChange, 0);
        throw;
    }
    m_Eof = true;
    DataEvent(deDataSetChange, 0);
    DoAfterScroll();
}

int TDataSet::MoveBy(int Distance)
{
    CheckBrowseMode();
    int result = 0;
    DoBeforeScroll();
    if ((Distance > 0 && !m_Eof) || (Distance < 0 && !m_Bof)) {
        m_Bof = false;
        m_Eof = false;
        int scroll = 0;
        const auto finish = [&]() { DataEvent(deDataSetScroll, scroll); };
        try {
            while (Distance > 0) {
                if (m_ActiveRecord < m_RecordCount - 1) {
                    ++m_ActiveRecord;
                } else {
                    const int step = m_RecordCount < m_BufferCount ? 0 : 1;
                    if (GetNextRecord()) {
                        scroll -= step;
                    } else {
                        m_Eof = true;
                        break;
                    }
                }
                --Distance;
                ++result;
            }
            while (Distance < 0) {
                if (m_ActiveRecord > 0) {
                    --m_ActiveRecord;
                } else {
                    const int step = m_RecordCount < m_BufferCount ? 0 : 1;
                    if (GetPriorRecord()) {
                        scroll += step;
                    } else {
                        m_Bof = true;
                        break;
                    }
                }
                ++Distance;
                --result;
            }
        } catch (...) {
            finish();
            throw;
        }
        finish();
        DoAfterScroll();
    }
    return result;
}

bool TDataSet::FindRecord(bool, bool)
{
    return false;
}

bool TDataSet::Locate(const QString &, const QVariant &, TLocateOptions)
{
    return false;
}

QVariant TDataSet::Lookup(const QString &, const QVariant &, const QString &)
{
    return QVariant();
}

// ---------------------------------------------------------------- editing

void TDataSet::CheckBrowseMode()
{
    CheckActive();
    DataEvent(deCheckBrowseMode, 0);
    switch (m_State) {
    case dsEdit:
    case dsInsert:
        UpdateRecord();
        if (m_Modified)
            Post();
        else
            Cancel();
        break;
    case dsSetKey:
        Post();
        break;
    default:
        break;
    }
}

void TDataSet::UpdateRecord()
{
    if (!InWriteMode(m_State))
        DatabaseError(QString::fromLatin1(msg::kSNotEditingDataSet));
    DataEvent(deUpdateRecord, 0);
}

void TDataSet::CheckOperation(void (TDataSet::*Operation)(),
                              const std::function<void(QObject *, const Exception &, TDataAction &)> &ErrorEvent)
{
    for (;;) {
        try {
            UpdateCursorPos();
            (this->*Operation)();
            return;
        } catch (const EDatabaseError &e) {
            TDataAction action = daFail;
            if (ErrorEvent)
                ErrorEvent(this, e, action);
            if (action == daFail)
                throw;
            if (action == daAbort)
                Abort();
        }
    }
}

void TDataSet::Edit()
{
    if (m_State == dsEdit || m_State == dsInsert)
        return;
    if (m_RecordCount == 0) {
        Insert();
        return;
    }
    CheckBrowseMode();
    CheckCanModify();
    Fire(BeforeEdit);
    CheckOperation(&TDataSet::InternalEdit, OnEditError);
    GetCalcFields(ActiveBuffer());
    SetState(dsEdit);
    DataEvent(deRecordChange, 0);
    Fire(AfterEdit);
}

void TDataSet::BeginInsertAppend()
{
    CheckBrowseMode();
    CheckCanModify();
    Fire(BeforeInsert);
    DoBeforeScroll();
}

void TDataSet::EndInsertAppend()
{
    SetState(dsInsert);
    try {
        DoOnNewRecord();
    } catch (...) {
        UpdateCursorPos();
        SetState(dsBrowse);
        Resync({});
        throw;
    }
    m_Modified = false;
    DataEvent(deDataSetChange, 0);
    Fire(AfterInsert);
    DoAfterScroll();
}

void TDataSet::Insert()
{
    BeginInsertAppend();
    const TBookmark oldCurrent = Bookmark();
    MoveBuffer(m_RecordCount, m_ActiveRecord);
    TRecordBuffer b = ActiveBuffer();
    InitRecord(b);
    if (m_RecordCount == 0)
        SetBookmarkFlag(b, bfBOF);
    else if (oldCurrent.size() >= m_BookmarkSize)
        SetBookmarkData(b, oldCurrent.constData());
    if (m_RecordCount < m_BufferCount)
        ++m_RecordCount;
    InternalInsert();
    EndInsertAppend();
}

void TDataSet::Append()
{
    BeginInsertAppend();
    ClearBuffers();
    TRecordBuffer b = m_Buffers[0];
    InitRecord(b);
    SetBookmarkFlag(b, bfEOF);
    m_RecordCount = 1;
    m_Bof = false;
    GetPriorRecords();
    InternalInsert();
    EndInsertAppend();
}

void TDataSet::CheckRequiredFields()
{
    for (int i = 0; i < m_Fields->Count(); ++i) {
        TField *f = m_Fields->Fields(i);
        if (f->Required() && !f->ReadOnly() && f->FieldKind() == fkData && f->IsNull())
            DatabaseErrorFmt(QString::fromLatin1(msg::kSFieldRequired), f->FieldName());
    }
}

void TDataSet::InternalPost()
{
    CheckRequiredFields();
}

void TDataSet::Post()
{
    UpdateRecord();
    if (m_State != dsEdit && m_State != dsInsert)
        return;
    DataEvent(deCheckBrowseMode, 0);
    Fire(BeforePost);
    CheckOperation(&TDataSet::InternalPost, OnPostError);
    SetState(dsBrowse);
    Resync({});
    Fire(AfterPost);
}

void TDataSet::Cancel()
{
    if (m_State != dsEdit && m_State != dsInsert)
        return;
    DataEvent(deCheckBrowseMode, 0);
    Fire(BeforeCancel);
    const bool scrollEvents = m_State == dsInsert;
    if (scrollEvents)
        DoBeforeScroll();
    UpdateCursorPos();
    InternalCancel();
    SetState(dsBrowse);
    Resync({});
    Fire(AfterCancel);
    if (scrollEvents)
        DoAfterScroll();
}

void TDataSet::Delete()
{
    CheckActive();
    if (m_State == dsInsert || m_State == dsSetKey) {
        Cancel();
        return;
    }
    if (m_RecordCount == 0)
        DatabaseError(QString::fromLatin1(msg::kSDataSetEmpty));
    DataEvent(deCheckBrowseMode, 0);
    Fire(BeforeDelete);
    DoBeforeScroll();
    CheckOperation(&TDataSet::InternalDelete, OnDeleteError);
    SetState(dsBrowse);
    Resync({});
    Fire(AfterDelete);
    DoAfterScroll();
}

void TDataSet::Refresh()
{
    Fire(BeforeRefresh);
    CheckBrowseMode();
    UpdateCursorPos();
    try {
        InternalRefresh();
    } catch (...) {
        Resync({});
        throw;
    }
    Resync({});
    Fire(AfterRefresh);
}

// ---------------------------------------------------------------- bookmarks

bool TDataSet::BookmarkAvailable()
{
    return (m_State == dsBrowse || m_State == dsEdit || m_State == dsInsert) && !IsEmpty() &&
        GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
}

TBookmark TDataSet::Bookmark()
{
    if (!BookmarkAvailable())
        return TBookmark();
    TBookmark b(m_BookmarkSize, '\0');
    GetBookmarkData(ActiveBuffer(), b.data());
    return b;
}

void TDataSet::GotoBookmark(const TBookmark &Value)
{
    if (Value.isEmpty())
        return;
    if (Value.size() < m_BookmarkSize)
        DatabaseError(QString::fromLatin1(msg::kSBookmarkNotFound));
    CheckBrowseMode();
    DoBeforeScroll();
    InternalGotoBookmark(Value.constData());
    Resync(rmExact | rmCenter);
    DoAfterScroll();
}

bool TDataSet::BookmarkValid(const TBookmark &)
{
    return false;
}

int TDataSet::CompareBookmarks(const TBookmark &, const TBookmark &)
{
    return 0;
}

// ---------------------------------------------------------------- events and links

void TDataSet::DataEvent(TDataEvent Event, qintptr Info)
{
    if (Event == deFieldChange) {
        auto *f = FieldOfEvent(Info);
        if (f->FieldKind() == fkData || f->FieldKind() == fkInternalCalc)
            m_Modified = true;
        if (m_State != dsSetKey && m_CalcFieldsSize != 0 && f->FieldKind() == fkData && m_State != dsCalcFields &&
            ActiveBuffer())
            CalculateFields(ActiveBuffer());
    }
    // Values written into a scratch buffer (a search key, a filter or calculation pass) are
    // not the current record's: the data sources and their links are not told of them.
    if (Event == deFieldChange && (m_State == dsFilter || m_State == dsCalcFields || m_State == dsSetKey))
        return;
    if (m_DisableCount == 0) {
        const std::vector<TDataSource *> sources = m_DataSources;
        for (TDataSource *ds : sources)
            ds->DataEvent(Event, Info);
    } else if ((Event == deUpdateState && m_State == dsInactive) || Event == deLayoutChange) {
        m_EnableEvent = deLayoutChange;
    }
}

void TDataSet::DisableControls()
{
    if (m_DisableCount == 0) {
        m_DisableState = m_State;
        m_EnableEvent = deDataSetChange;
    }
    ++m_DisableCount;
}

void TDataSet::EnableControls()
{
    if (m_DisableCount == 0)
        return;
    if (--m_DisableCount == 0) {
        if (m_DisableState != m_State)
            DataEvent(deUpdateState, 0);
        if (m_DisableState != dsInactive && m_State != dsInactive)
            DataEvent(m_EnableEvent, 0);
    }
}

bool TDataSet::IsLinkedTo(TDataSource *DataSource) const
{
    // A bounded walk: a chain that loops without reaching us is not a link to us.
    for (int guard = 0; DataSource && guard < 1000; ++guard) {
        TDataSet *ds = DataSource->DataSet();
        if (!ds)
            break;
        if (ds == this)
            return true;
        DataSource = ds->DataSource();
    }
    return false;
}

void TDataSet::AddDataSource(TDataSource *Source)
{
    m_DataSources.push_back(Source);
}

void TDataSet::RemoveDataSource(TDataSource *Source)
{
    m_DataSources.erase(std::remove(m_DataSources.begin(), m_DataSources.end(), Source), m_DataSources.end());
}

// ---------------------------------------------------------------- TDataSource

TDataSource::TDataSource(QObject *AOwner) : QObject(AOwner) {}

TDataSource::~TDataSource()
{
    OnStateChange = nullptr;
    OnDataChange = nullptr;
    SetDataSet(nullptr);
    while (!m_DataLinks.empty()) {
        TDataLink *link = m_DataLinks.back();
        m_DataLinks.pop_back();
        link->m_DataSource = nullptr;
        link->UpdateState();
    }
}

void TDataSource::SetDataSet(TDataSet *Value)
{
    if (Value == m_DataSet)
        return;
    if (m_DataSet)
        m_DataSet->RemoveDataSource(this);
    m_DataSet = Value;
    if (m_DataSet)
        m_DataSet->AddDataSource(this);
    NotifyState();
}

void TDataSource::SetEnabled(bool Value)
{
    m_Enabled = Value;
    NotifyState();
}

void TDataSource::NotifyState()
{
    const TDataSetState s = (m_Enabled && m_DataSet) ? m_DataSet->State() : dsInactive;
    if (s == m_State)
        return;
    const TDataSetState prior = m_State;
    m_State = s;
    NotifyDataLinks(deUpdateState, 0);
    if (OnStateChange)
        OnStateChange(this);
    if (prior == dsInactive && OnDataChange)
        OnDataChange(this, nullptr);
}

void TDataSource::DataEvent(TDataEvent Event, qintptr Info)
{
    if (Event == deUpdateState) {
        NotifyState();
        return;
    }
    if (m_State == dsInactive)
        return;
    NotifyDataLinks(Event, Info);
    if (OnDataChange) {
        switch (Event) {
        case deFieldChange:
            OnDataChange(this, FieldOfEvent(Info));
            break;
        case deRecordChange:
        case deDataSetChange:
        case deDataSetScroll:
        case deLayoutChange:
            OnDataChange(this, nullptr);
            break;
        default:
            break;
        }
    }
}

void TDataSource::NotifyDataLinks(TDataEvent Event, qintptr Info)
{
    const std::vector<TDataLink *> links = m_DataLinks;
    for (TDataLink *link : links)
        if (std::find(m_DataLinks.begin(), m_DataLinks.end(), link) != m_DataLinks.end())
            link->DataEvent(Event, Info);
}

void TDataSource::AddDataLink(TDataLink *Link)
{
    m_DataLinks.push_back(Link);
}

void TDataSource::RemoveDataLink(TDataLink *Link)
{
    m_DataLinks.erase(std::remove(m_DataLinks.begin(), m_DataLinks.end(), Link), m_DataLinks.end());
}

// ---------------------------------------------------------------- TDataLink

TDataLink::TDataLink() = default;

TDataLink::~TDataLink()
{
    if (m_DataSource)
        m_DataSource->RemoveDataLink(this);
    m_DataSource = nullptr;
}

void TDataLink::SetDataSource(TDataSource *Value)
{
    if (Value == m_DataSource)
        return;
    if (m_DataSource)
        m_DataSource->RemoveDataLink(this);
    m_DataSource = Value;
    if (m_DataSource)
        m_DataSource->AddDataLink(this);
    UpdateState();
}

void TDataLink::UpdateState()
{
    const bool active = m_DataSource && m_DataSource->Enabled() && m_DataSource->State() != dsInactive;
    if (active != m_Active) {
        m_Active = active;
        ActiveChanged();
    }
}

void TDataLink::DataEvent(TDataEvent Event, qintptr Info)
{
    if (Event == deUpdateState) {
        UpdateState();
        return;
    }
    if (!m_Active)
        return;
    switch (Event) {
    case deFieldChange:
    case deRecordChange:
        if (!m_Updating)
            RecordChanged(FieldOfEvent(Info));
        break;
    case deDataSetChange:
    case deDataSetScroll:
        DataSetChanged();
        break;
    case deLayoutChange:
        LayoutChanged();
        break;
    case deUpdateRecord:
        m_Updating = true;
        try {
            UpdateData();
        } catch (...) {
            m_Updating = false;
            throw;
        }
        m_Updating = false;
        break;
    case deCheckBrowseMode:
        CheckBrowseMode();
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------- TMasterDataLink

void TMasterDataLink::SetFieldNames(const QString &Value)
{
    if (Value != m_FieldNames) {
        m_FieldNames = Value;
        ActiveChanged();
    }
}

void TMasterDataLink::ActiveChanged()
{
    m_Fields.clear();
    if (Active() && DataSet()) {
        try {
            DataSet()->GetFieldList(m_Fields, m_FieldNames);
        } catch (...) {
            m_Fields.clear();
            throw;
        }
    }
    if (m_DataSet->Active()) {
        if (Active() && !m_Fields.empty()) {
            if (OnMasterChange)
                OnMasterChange(m_DataSet);
        } else if (OnMasterDisable) {
            OnMasterDisable(m_DataSet);
        }
    }
}

void TMasterDataLink::CheckBrowseMode()
{
    if (m_DataSet->Active())
        m_DataSet->CheckBrowseMode();
}

void TMasterDataLink::RecordChanged(TField *Field)
{
    if (DataSource()->State() != dsSetKey && m_DataSet->Active() && OnMasterChange &&
        (!Field || std::find(m_Fields.begin(), m_Fields.end(), Field) != m_Fields.end()))
        OnMasterChange(m_DataSet);
}

} // namespace dataaccess

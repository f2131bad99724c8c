#include "dataaccess/DataSet.h"

#include "dataaccess/DateTime.h"
#include "dataaccess/Logging.h"
#include "platform/Logging.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace dataaccess {

namespace {

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

TDataSet::TDataSet(QObject *AOwner) : QObject(AOwner), m_fields(new TFields(this)), m_fieldDefs(new TFieldDefs(this)) {}

TDataSet::~TDataSet()
{
    // A descendant closes its cursor in its own destructor: the protocol is gone by now.
    while (!m_dataSources.empty()) {
        TDataSource *ds = m_dataSources.back();
        m_dataSources.pop_back();
        ds->m_dataSet = nullptr;
        ds->DataEvent(deUpdateState, 0);
    }
    delete m_fields;
    m_fields = nullptr;
    delete m_fieldDefs;
}

int TDataSet::FieldSlotSize(const TField *Field)
{
    return Field->IsBlob() ? int(sizeof(void *)) : Field->DataSize();
}

void TDataSet::CheckActive() const
{
    if (!Active())
        DatabaseError(QString::fromLatin1(msg::SDataSetClosed));
}

void TDataSet::CheckInactive() const
{
    if (Active())
        DatabaseError(QString::fromLatin1(msg::SDataSetOpen));
}

void TDataSet::CheckCanModify()
{
    if (!GetCanModify())
        DatabaseError(QString::fromLatin1(msg::SDataSetReadOnly));
}

void TDataSet::SetState(TDataSetState Value)
{
    if (m_state != Value) {
        m_state = Value;
        m_modified = false;
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
        m_internalOpenComplete = false;
        try {
            OpenCursor(false);
        } catch (...) {
            SetState(dsInactive);
            try {
                CloseCursor();
            } catch (...) {
                // The open's own failure is the one raised.
                qCWarning(lcDataAccess) << "closing after a failed open:" << platform::currentExceptionText();
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
    m_defaultFields = FieldCount() == 0;
    InternalOpen();
    m_internalOpenComplete = true;
    m_bufferCount = 1;
    SetBufListSize(m_bufferCount + 1);
    ClearBuffers();
    GetNextRecords();
    m_bof = true;
}

void TDataSet::CloseCursor()
{
    m_internalOpenComplete = false;
    ClearBuffers();
    SetBufListSize(0);
    m_bufferCount = 0;
    InternalClose();
    m_defaultFields = false;
}

void TDataSet::DoAfterOpen()
{
    Fire(AfterOpen);
}

void TDataSet::SetBufListSize(int Value)
{
    while (int(m_buffers.size()) > Value) {
        TRecordBuffer b = m_buffers.back();
        m_buffers.pop_back();
        FreeRecordBuffer(b);
    }
    while (int(m_buffers.size()) < Value)
        m_buffers.push_back(AllocRecordBuffer());
}

void TDataSet::CreateFields()
{
    for (int i = 0; i < m_fieldDefs->Count(); ++i) {
        const TFieldDef *def = m_fieldDefs->Items(i);
        TField *f = CreateFieldOfType(def->DataType(), def->Size());
        if (!f)
            DatabaseErrorFmt(QString::fromLatin1(msg::SUnknownFieldType), def->Name());
        f->SetFieldName(def->Name());
        f->SetRequired(def->Required());
        f->SetDataSet(this);
    }
}

void TDataSet::DestroyFields()
{
    m_fields->Clear();
}

void TDataSet::BindFields(bool Binding)
{
    m_calcFieldsSize = 0;
    for (int i = 0; i < m_fields->Count(); ++i) {
        TField *f = m_fields->Fields(i);
        if (!Binding) {
            f->m_fieldNo = 0;
            continue;
        }
        if (f->FieldKind() == fkCalculated || f->FieldKind() == fkLookup) {
            f->m_fieldNo = -1;
            f->m_offset = m_calcFieldsSize;
            m_calcFieldsSize += FieldSlotSize(f) + 1;
            continue;
        }
        const int idx = m_fieldDefs->IndexOf(f->FieldName());
        if (idx < 0)
            DatabaseErrorFmt(QString::fromLatin1(msg::SFieldNotFound), f->FieldName());
        const TFieldDef *def = m_fieldDefs->Items(idx);
        if (def->DataType() != f->DataType())
            DatabaseErrorFmt(QString::fromLatin1(msg::SFieldTypeMismatch), f->FieldName(), FieldTypeName(f->DataType()),
                             FieldTypeName(def->DataType()));
        if (f->DataType() == ftString || f->DataType() == ftFixedChar)
            f->m_size = def->Size();
        f->m_fieldNo = def->FieldNo();
    }
}

// ---------------------------------------------------------------- buffers

void TDataSet::ClearBuffers()
{
    m_recordCount = 0;
    m_activeRecord = 0;
    m_currentRecord = -1;
    m_bof = true;
    m_eof = true;
}

void TDataSet::ActivateBuffers()
{
    m_recordCount = 1;
    m_activeRecord = 0;
    m_currentRecord = 0;
    m_bof = false;
    m_eof = false;
}

void TDataSet::MoveBuffer(int CurIndex, int NewIndex)
{
    if (CurIndex == NewIndex)
        return;
    TRecordBuffer b = m_buffers[size_t(CurIndex)];
    if (CurIndex < NewIndex)
        for (int i = CurIndex; i < NewIndex; ++i)
            m_buffers[size_t(i)] = m_buffers[size_t(i + 1)];
    else
        for (int i = CurIndex; i > NewIndex; --i)
            m_buffers[size_t(i)] = m_buffers[size_t(i - 1)];
    m_buffers[size_t(NewIndex)] = b;
}

void TDataSet::SetCurrentRecord(int Index)
{
    if (m_currentRecord == Index)
        return;
    TRecordBuffer b = m_buffers[size_t(Index)];
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
    m_currentRecord = Index;
}

void TDataSet::UpdateCursorPos()
{
    if (m_recordCount > 0)
        SetCurrentRecord(m_activeRecord);
}

bool TDataSet::GetNextRecord()
{
    TGetMode mode = gmNext;
    if (m_recordCount > 0) {
        SetCurrentRecord(m_recordCount - 1);
        if (m_state == dsInsert && m_currentRecord == m_activeRecord && GetBookmarkFlag(ActiveBuffer()) == bfCurrent)
            mode = gmCurrent;
    }
    const bool ok = GetRecord(m_buffers[size_t(m_recordCount)], mode, true) == grOK;
    if (ok) {
        if (m_recordCount == 0)
            ActivateBuffers();
        else if (m_recordCount < m_bufferCount)
            ++m_recordCount;
        else
            MoveBuffer(0, m_recordCount);
        m_currentRecord = m_recordCount - 1;
    } else {
        CursorPosChanged();
    }
    return ok;
}

bool TDataSet::GetPriorRecord()
{
    if (m_recordCount > 0)
        SetCurrentRecord(0);
    const bool ok = GetRecord(m_buffers[size_t(m_recordCount)], gmPrior, true) == grOK;
    if (ok) {
        if (m_recordCount == 0) {
            ActivateBuffers();
        } else {
            MoveBuffer(m_recordCount, 0);
            if (m_recordCount < m_bufferCount) {
                ++m_recordCount;
                ++m_activeRecord;
            }
        }
        m_currentRecord = 0;
    } else {
        CursorPosChanged();
    }
    return ok;
}

int TDataSet::GetNextRecords()
{
    int n = 0;
    while (m_recordCount < m_bufferCount && GetNextRecord())
        ++n;
    return n;
}

int TDataSet::GetPriorRecords()
{
    int n = 0;
    while (m_recordCount < m_bufferCount && GetPriorRecord())
        ++n;
    return n;
}

void TDataSet::Resync(TResyncMode Mode)
{
    TRecordBuffer spare = m_buffers[size_t(m_recordCount)];
    if (Mode & rmExact) {
        CursorPosChanged();
        if (GetRecord(spare, gmCurrent, true) != grOK)
            DatabaseError(QString::fromLatin1(msg::SRecordNotFound));
    } else if (GetRecord(spare, gmCurrent, false) != grOK && GetRecord(spare, gmNext, false) != grOK &&
               GetRecord(spare, gmPrior, false) != grOK) {
        ClearBuffers();
        DataEvent(deDataSetChange, 0);
        return;
    }
    int count = (Mode & rmCenter) ? (m_bufferCount - 1) / 2 : m_activeRecord;
    MoveBuffer(m_recordCount, 0);
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
    if (Buffer && m_calcFieldsSize > 0)
        std::memset(Buffer + GetRecordSize(), 0, size_t(m_calcFieldsSize));
}

void TDataSet::CalculateFields(TRecordBuffer Buffer)
{
    m_calcBuffer = Buffer;
    if (m_state == dsInternalCalc)
        return;
    TDataSetState saved;
    SetTempState(dsCalcFields, saved);
    try {
        ClearCalcFields(Buffer);
        for (int i = 0; i < m_fields->Count(); ++i) {
            TField *f = m_fields->Fields(i);
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
    if (m_calcFieldsSize > 0)
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
    if (!InWriteMode(m_state))
        DatabaseError(QString::fromLatin1(msg::SNotEditing));
    if (Field->FieldKind() == fkData && Field->ReadOnly() && m_state != dsSetKey && m_state != dsFilter)
        DatabaseErrorFmt(QString::fromLatin1(msg::SFieldReadOnly), Field->FieldName());
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
    const auto bad = [Field]() { DatabaseErrorFmt(QString::fromLatin1(msg::SInvalidStoredDate), Field->FieldName()); };
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
        ts.Date = DateDelta;
    } else {
        double ms;
        std::memcpy(&ms, Source, 8);
        if (!std::isfinite(ms) || ms < 0 || ms >= double(MaxDateDay + 1) * MSecsPerDay)
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
        m_bof = true;
        DataEvent(deDataSetChange, 0);
        throw;
    }
    m_bof = true;
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
        m_eof = true;
        DataEvent(deDataSetChange, 0);
        throw;
    }
    m_eof = true;
    DataEvent(deDataSetChange, 0);
    DoAfterScroll();
}

int TDataSet::MoveBy(int Distance)
{
    CheckBrowseMode();
    int result = 0;
    DoBeforeScroll();
    if ((Distance > 0 && !m_eof) || (Distance < 0 && !m_bof)) {
        m_bof = false;
        m_eof = false;
        int scroll = 0;
        const auto finish = [&]() { DataEvent(deDataSetScroll, scroll); };
        try {
            while (Distance > 0) {
                if (m_activeRecord < m_recordCount - 1) {
                    ++m_activeRecord;
                } else {
                    const int step = m_recordCount < m_bufferCount ? 0 : 1;
                    if (GetNextRecord()) {
                        scroll -= step;
                    } else {
                        m_eof = true;
                        break;
                    }
                }
                --Distance;
                ++result;
            }
            while (Distance < 0) {
                if (m_activeRecord > 0) {
                    --m_activeRecord;
                } else {
                    const int step = m_recordCount < m_bufferCount ? 0 : 1;
                    if (GetPriorRecord()) {
                        scroll += step;
                    } else {
                        m_bof = true;
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
    switch (m_state) {
    case dsEdit:
    case dsInsert:
        UpdateRecord();
        if (m_modified)
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
    if (!InWriteMode(m_state))
        DatabaseError(QString::fromLatin1(msg::SNotEditingDataSet));
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
        } catch (const EDatabaseError &E) {
            TDataAction action = daFail;
            if (ErrorEvent)
                ErrorEvent(this, E, action);
            if (action == daFail)
                throw;
            if (action == daAbort)
                Abort();
        }
    }
}

void TDataSet::Edit()
{
    if (m_state == dsEdit || m_state == dsInsert)
        return;
    if (m_recordCount == 0) {
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
    m_modified = false;
    DataEvent(deDataSetChange, 0);
    Fire(AfterInsert);
    DoAfterScroll();
}

void TDataSet::Insert()
{
    BeginInsertAppend();
    const TBookmark oldCurrent = Bookmark();
    MoveBuffer(m_recordCount, m_activeRecord);
    TRecordBuffer b = ActiveBuffer();
    InitRecord(b);
    if (m_recordCount == 0)
        SetBookmarkFlag(b, bfBOF);
    else if (oldCurrent.size() >= m_bookmarkSize)
        SetBookmarkData(b, oldCurrent.constData());
    if (m_recordCount < m_bufferCount)
        ++m_recordCount;
    InternalInsert();
    EndInsertAppend();
}

void TDataSet::Append()
{
    BeginInsertAppend();
    ClearBuffers();
    TRecordBuffer b = m_buffers[0];
    InitRecord(b);
    SetBookmarkFlag(b, bfEOF);
    m_recordCount = 1;
    m_bof = false;
    GetPriorRecords();
    InternalInsert();
    EndInsertAppend();
}

void TDataSet::CheckRequiredFields()
{
    for (int i = 0; i < m_fields->Count(); ++i) {
        TField *f = m_fields->Fields(i);
        if (f->Required() && !f->ReadOnly() && f->FieldKind() == fkData && f->IsNull())
            DatabaseErrorFmt(QString::fromLatin1(msg::SFieldRequired), f->FieldName());
    }
}

void TDataSet::InternalPost()
{
    CheckRequiredFields();
}

void TDataSet::Post()
{
    UpdateRecord();
    if (m_state != dsEdit && m_state != dsInsert)
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
    if (m_state != dsEdit && m_state != dsInsert)
        return;
    DataEvent(deCheckBrowseMode, 0);
    Fire(BeforeCancel);
    const bool scrollEvents = m_state == dsInsert;
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
    if (m_state == dsInsert || m_state == dsSetKey) {
        Cancel();
        return;
    }
    if (m_recordCount == 0)
        DatabaseError(QString::fromLatin1(msg::SDataSetEmpty));
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
    return (m_state == dsBrowse || m_state == dsEdit || m_state == dsInsert) && !IsEmpty() &&
        GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
}

TBookmark TDataSet::Bookmark()
{
    if (!BookmarkAvailable())
        return TBookmark();
    TBookmark b(m_bookmarkSize, '\0');
    GetBookmarkData(ActiveBuffer(), b.data());
    return b;
}

void TDataSet::GotoBookmark(const TBookmark &Value)
{
    if (Value.isEmpty())
        return;
    if (Value.size() < m_bookmarkSize)
        DatabaseError(QString::fromLatin1(msg::SBookmarkNotFound));
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
        auto *f = reinterpret_cast<TField *>(Info);
        if (f->FieldKind() == fkData || f->FieldKind() == fkInternalCalc)
            m_modified = true;
        if (m_state != dsSetKey && m_calcFieldsSize != 0 && f->FieldKind() == fkData && m_state != dsCalcFields &&
            ActiveBuffer())
            CalculateFields(ActiveBuffer());
    }
    // Values written into a scratch buffer (a search key, a filter or calculation pass) are
    // not the current record's: the data sources and their links are not told of them.
    if (Event == deFieldChange && (m_state == dsFilter || m_state == dsCalcFields || m_state == dsSetKey))
        return;
    if (m_disableCount == 0) {
        const std::vector<TDataSource *> sources = m_dataSources;
        for (TDataSource *ds : sources)
            ds->DataEvent(Event, Info);
    } else if ((Event == deUpdateState && m_state == dsInactive) || Event == deLayoutChange) {
        m_enableEvent = deLayoutChange;
    }
}

void TDataSet::DisableControls()
{
    if (m_disableCount == 0) {
        m_disableState = m_state;
        m_enableEvent = deDataSetChange;
    }
    ++m_disableCount;
}

void TDataSet::EnableControls()
{
    if (m_disableCount == 0)
        return;
    if (--m_disableCount == 0) {
        if (m_disableState != m_state)
            DataEvent(deUpdateState, 0);
        if (m_disableState != dsInactive && m_state != dsInactive)
            DataEvent(m_enableEvent, 0);
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
    m_dataSources.push_back(Source);
}

void TDataSet::RemoveDataSource(TDataSource *Source)
{
    m_dataSources.erase(std::remove(m_dataSources.begin(), m_dataSources.end(), Source), m_dataSources.end());
}

// ---------------------------------------------------------------- TDataSource

TDataSource::TDataSource(QObject *AOwner) : QObject(AOwner) {}

TDataSource::~TDataSource()
{
    OnStateChange = nullptr;
    OnDataChange = nullptr;
    SetDataSet(nullptr);
    while (!m_dataLinks.empty()) {
        TDataLink *link = m_dataLinks.back();
        m_dataLinks.pop_back();
        link->m_dataSource = nullptr;
        link->UpdateState();
    }
}

void TDataSource::SetDataSet(TDataSet *Value)
{
    if (Value == m_dataSet)
        return;
    if (m_dataSet)
        m_dataSet->RemoveDataSource(this);
    m_dataSet = Value;
    if (m_dataSet)
        m_dataSet->AddDataSource(this);
    NotifyState();
}

void TDataSource::SetEnabled(bool Value)
{
    m_enabled = Value;
    NotifyState();
}

void TDataSource::NotifyState()
{
    const TDataSetState s = (m_enabled && m_dataSet) ? m_dataSet->State() : dsInactive;
    if (s == m_state)
        return;
    const TDataSetState prior = m_state;
    m_state = s;
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
    if (m_state == dsInactive)
        return;
    NotifyDataLinks(Event, Info);
    if (OnDataChange) {
        switch (Event) {
        case deFieldChange:
            OnDataChange(this, reinterpret_cast<TField *>(Info));
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
    const std::vector<TDataLink *> links = m_dataLinks;
    for (TDataLink *link : links)
        if (std::find(m_dataLinks.begin(), m_dataLinks.end(), link) != m_dataLinks.end())
            link->DataEvent(Event, Info);
}

void TDataSource::AddDataLink(TDataLink *Link)
{
    m_dataLinks.push_back(Link);
}

void TDataSource::RemoveDataLink(TDataLink *Link)
{
    m_dataLinks.erase(std::remove(m_dataLinks.begin(), m_dataLinks.end(), Link), m_dataLinks.end());
}

// ---------------------------------------------------------------- TDataLink

TDataLink::TDataLink() = default;

TDataLink::~TDataLink()
{
    if (m_dataSource)
        m_dataSource->RemoveDataLink(this);
    m_dataSource = nullptr;
}

void TDataLink::SetDataSource(TDataSource *Value)
{
    if (Value == m_dataSource)
        return;
    if (m_dataSource)
        m_dataSource->RemoveDataLink(this);
    m_dataSource = Value;
    if (m_dataSource)
        m_dataSource->AddDataLink(this);
    UpdateState();
}

void TDataLink::UpdateState()
{
    const bool active = m_dataSource && m_dataSource->Enabled() && m_dataSource->State() != dsInactive;
    if (active != m_active) {
        m_active = active;
        ActiveChanged();
    }
}

void TDataLink::DataEvent(TDataEvent Event, qintptr Info)
{
    if (Event == deUpdateState) {
        UpdateState();
        return;
    }
    if (!m_active)
        return;
    switch (Event) {
    case deFieldChange:
    case deRecordChange:
        if (!m_updating)
            RecordChanged(reinterpret_cast<TField *>(Info));
        break;
    case deDataSetChange:
    case deDataSetScroll:
        DataSetChanged();
        break;
    case deLayoutChange:
        LayoutChanged();
        break;
    case deUpdateRecord:
        m_updating = true;
        try {
            UpdateData();
        } catch (...) {
            m_updating = false;
            throw;
        }
        m_updating = false;
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
    if (Value != m_fieldNames) {
        m_fieldNames = Value;
        ActiveChanged();
    }
}

void TMasterDataLink::ActiveChanged()
{
    m_fields.clear();
    if (Active() && DataSet()) {
        try {
            DataSet()->GetFieldList(m_fields, m_fieldNames);
        } catch (...) {
            m_fields.clear();
            throw;
        }
    }
    if (m_dataSet->Active()) {
        if (Active() && !m_fields.empty()) {
            if (OnMasterChange)
                OnMasterChange(m_dataSet);
        } else if (OnMasterDisable) {
            OnMasterDisable(m_dataSet);
        }
    }
}

void TMasterDataLink::CheckBrowseMode()
{
    if (m_dataSet->Active())
        m_dataSet->CheckBrowseMode();
}

void TMasterDataLink::RecordChanged(TField *Field)
{
    if (DataSource()->State() != dsSetKey && m_dataSet->Active() && OnMasterChange &&
        (!Field || std::find(m_fields.begin(), m_fields.end(), Field) != m_fields.end()))
        OnMasterChange(m_dataSet);
}

} // namespace dataaccess

#include "dictdb/DictDataSet.h"

#include "dictdb/DictDBFileIO.h"
#include "dictdb/DictTableIO.h"

#include <QCoreApplication>

#include <cstdlib>
#include <cstring>

namespace {

constexpr int kBookmarkSize = 4;

} // namespace

// ---------------------------------------------------------------- TTDBDataSet

TTDBDataSet::TTDBDataSet(QObject *AOwner) : TDataSet(AOwner)
{
    if (auto *db = dynamic_cast<TDictDatabase *>(AOwner)) {
        m_databaseName = db->DatabaseName();
        m_sessionName = db->SessionName();
    }
}

TTDBDataSet::~TTDBDataSet() = default;

TDictSession *TTDBDataSet::DBSession() const
{
    if (m_database && m_database->Session())
        return m_database->Session();
    if (TDictSession *s = Sessions()->FindSession(m_sessionName))
        return s;
    return DefaultSession();
}

void TTDBDataSet::SetDatabaseName(const QString &Value)
{
    if (Value == m_databaseName)
        return;
    CheckInactive();
    if (m_database)
        DatabaseError(QString::fromLatin1(dictdb::msg::SDatabaseOpen));
    m_databaseName = Value;
    DataEvent(dePropertyChange, 0);
}

void TTDBDataSet::SetSessionName(const QString &Value)
{
    CheckInactive();
    m_sessionName = Value;
    DataEvent(dePropertyChange, 0);
}

void TTDBDataSet::SetClientSessionName(const QString &Value)
{
    m_sessionName = Value;
}

void TTDBDataSet::DatabaseConnectChange(bool Connected)
{
    DataEvent(deConnectChange, Connected ? 1 : 0);
}

void TTDBDataSet::OpenCursor(bool InfoQuery)
{
    // A database of our name that the default session holds moves to the session we name.
    if (!m_sessionName.isEmpty() && !m_databaseName.isEmpty()) {
        TDictSession *own = Sessions()->FindSession(m_sessionName);
        if (own && own != DefaultSession() && !own->FindDatabase(m_databaseName)) {
            if (TDictDatabase *db = DefaultSession()->FindDatabase(m_databaseName)) {
                db->SetSessionName(m_sessionName);
                own->SetActive(true);
            }
        }
    }
    TDictSession *session = Sessions()->GetSession(m_sessionName);
    m_database = session->OpenDatabase(m_databaseName, this, true);
    m_database->RegisterClient(this);
    m_database->CheckCanAccess();
    TDataSet::OpenCursor(InfoQuery);
}

void TTDBDataSet::CloseCursor()
{
    struct Release
    {
        TTDBDataSet *Self;
        ~Release()
        {
            TDictDatabase *db = Self->m_database;
            if (!db)
                return;
            Self->m_database = nullptr;
            db->UnregisterClient(Self);
            if (TDictSession *s = db->Session())
                s->CloseDatabase(db);
        }
    } release{this};
    TDataSet::CloseCursor();
}

// ---------------------------------------------------------------- TTDEDataSet

TTDEDataSet::TTDEDataSet(QObject *AOwner) : TTDBDataSet(AOwner), m_filterParser(std::make_unique<TFilterParser>(this))
{}

TTDEDataSet::~TTDEDataSet()
{
    m_filterParser.reset();
}

void TTDEDataSet::SetMediumType(TDictDBMediumType Value)
{
    if (Value == m_mediumType)
        return;
    CheckInactive();
    m_mediumType = Value;
    if (TDictSession *s = DBSession())
        if (TDictDatabase *db = s->FindDatabase(DatabaseName()); db && db->MediumType() != Value)
            db->SetMediumType(Value);
}

void TTDEDataSet::SetClientMediumType(TDictDBMediumType Value)
{
    m_mediumType = Value;
}

void TTDEDataSet::InternalHandleException()
{
    // The engine has no application-wide handler to hand an exception to; the caller's
    // own handler sees every exception, so there is nothing to do here.
}

void TTDEDataSet::DataConvert(TField *Field, const void *Source, void *Dest, bool ToNative)
{
    TDataSet::DataConvert(Field, Source, Dest, ToNative);
}

int TTDEDataSet::FieldOffset(int FieldNo) const
{
    if (FieldNo < 1 || FieldNo > int(m_fieldOffsets.size()))
        DatabaseError(QString::fromLatin1(dictdb::msg::SGeneralError));
    return m_fieldOffsets[size_t(FieldNo - 1)];
}

void TTDEDataSet::CalcRecordLayout()
{
    int highest = 0;
    for (int i = 0; i < FieldCount(); ++i)
        highest = std::max(highest, Fields()->Fields(i)->FieldNo());
    m_fieldOffsets.assign(size_t(highest), 0);
    int offset = 0;
    for (int no = 1; no <= highest; ++no) {
        m_fieldOffsets[size_t(no - 1)] = offset;
        if (TField *f = Fields()->FieldByNumber(no); f && f->FieldKind() == fkData)
            offset += FieldSlotSize(f);
    }
    m_recordSize = offset;
    m_recBufSize = m_recordSize + CalcFieldsSize() + kBookmarkSize + 1;
}

void TTDEDataSet::AllocKeyBuffers()
{
    for (TRecordBuffer &b : KeyBuffers) {
        b = AllocRecordBuffer();
        InitRecord(b);
    }
}

void TTDEDataSet::FreeKeyBuffers()
{
    for (TRecordBuffer &b : KeyBuffers)
        if (b)
            FreeRecordBuffer(b);
    KeyBuffer = nullptr;
}

TRecordBuffer TTDEDataSet::AllocRecordBuffer()
{
    auto *b = static_cast<TRecordBuffer>(std::calloc(size_t(std::max(m_recBufSize, 1)), 1));
    if (!b)
        throw std::bad_alloc();
    for (int i = 0; i < FieldCount(); ++i) {
        TField *f = Fields()->Fields(i);
        if (f->FieldKind() == fkData && f->IsBlob() && f->FieldNo() >= 1) {
            TOptimBlobStream *s = new TOptimBlobStream(this);
            std::memcpy(b + FieldOffset(f->FieldNo()), &s, sizeof s);
        }
    }
    return b;
}

void TTDEDataSet::FreeRecordBuffer(TRecordBuffer &Buffer)
{
    if (!Buffer)
        return;
    for (int i = 0; i < FieldCount(); ++i) {
        TField *f = Fields()->Fields(i);
        if (f->FieldKind() == fkData && f->IsBlob() && f->FieldNo() >= 1 &&
            f->FieldNo() <= int(m_fieldOffsets.size())) {
            TOptimBlobStream *s = nullptr;
            std::memcpy(&s, Buffer + FieldOffset(f->FieldNo()), sizeof s);
            delete s;
        }
    }
    std::free(Buffer);
    Buffer = nullptr;
}

TOptimBlobStream *TTDEDataSet::BlobStreamOf(TRecordBuffer Buffer, TField *Field) const
{
    if (!Buffer || !Field->IsBlob())
        return nullptr;
    TOptimBlobStream *s = nullptr;
    if (Field->FieldNo() >= 1)
        std::memcpy(&s, Buffer + FieldOffset(Field->FieldNo()), sizeof s);
    else
        std::memcpy(&s, Buffer + m_recordSize + Field->Offset() + 1, sizeof s);
    return s;
}

void TTDEDataSet::GetBookmarkData(TRecordBuffer Buffer, void *Data)
{
    std::memcpy(Data, Buffer + m_recordSize + CalcFieldsSize(), kBookmarkSize);
}

void TTDEDataSet::SetBookmarkData(TRecordBuffer Buffer, const void *Data)
{
    std::memcpy(Buffer + m_recordSize + CalcFieldsSize(), Data, kBookmarkSize);
}

TBookmarkFlag TTDEDataSet::GetBookmarkFlag(TRecordBuffer Buffer)
{
    return TBookmarkFlag(quint8(Buffer[m_recordSize + CalcFieldsSize() + kBookmarkSize]));
}

void TTDEDataSet::SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value)
{
    Buffer[m_recordSize + CalcFieldsSize() + kBookmarkSize] = char(Value);
}

void TTDEDataSet::InternalSetToRecord(TRecordBuffer Buffer)
{
    qint32 bm = 0;
    GetBookmarkData(Buffer, &bm);
    InternalGotoBookmark(&bm);
}

void TTDEDataSet::InternalInitRecord(TRecordBuffer Buffer)
{
    for (int i = 0; i < FieldCount(); ++i) {
        TField *f = Fields()->Fields(i);
        if (f->FieldNo() < 1) {
            char *p = Buffer + m_recordSize + f->Offset();
            p[0] = 0;
            if (f->IsBlob()) {
                if (TOptimBlobStream *s = BlobStreamOf(Buffer, f))
                    s->Clear();
            } else {
                std::memset(p + 1, 0, size_t(f->DataSize()));
            }
            continue;
        }
        char *p = Buffer + FieldOffset(f->FieldNo());
        if (f->IsBlob()) {
            if (TOptimBlobStream *s = BlobStreamOf(Buffer, f)) {
                // Forget the old record's value so that the new one never loads it.
                s->SetBlobInfo(nullptr, 0, false, false);
                s->Clear();
                s->Loaded = true;
            }
            continue;
        }
        switch (f->DataType()) {
        case ftDateTime: {
            const double ms = double(DateDelta) * MSecsPerDay;
            std::memcpy(p, &ms, sizeof ms);
            break;
        }
        case ftDate: {
            const qint32 d = dataaccess::DateTimeToTimeStamp(dataaccess::Date()).Date;
            std::memcpy(p, &d, 4);
            break;
        }
        case ftTime: {
            const qint32 t = dataaccess::DateTimeToTimeStamp(dataaccess::Time()).Time;
            std::memcpy(p, &t, 4);
            break;
        }
        default:
            std::memset(p, 0, size_t(f->DataSize()));
            break;
        }
    }
}

bool TTDEDataSet::GetActiveRecBuf(TRecordBuffer &RecBuf)
{
    switch (State()) {
    case dsBrowse:
        RecBuf = IsEmpty() ? nullptr : ActiveBuffer();
        break;
    case dsEdit:
    case dsInsert:
    case dsNewValue:
        RecBuf = ActiveBuffer();
        break;
    case dsSetKey:
        RecBuf = KeyBuffer;
        break;
    case dsCalcFields:
        RecBuf = CalcBuffer();
        break;
    case dsFilter:
        RecBuf = FilterBuffer;
        break;
    default:
        RecBuf = nullptr;
        break;
    }
    return RecBuf != nullptr;
}

bool TTDEDataSet::GetFieldData(TField *Field, void *Buffer)
{
    TRecordBuffer rb = nullptr;
    if (!GetActiveRecBuf(rb))
        return false;
    if (Field->FieldNo() < 1) {
        const char *p = rb + m_recordSize + Field->Offset();
        const bool has = p[0] != 0;
        if (has && Buffer)
            std::memcpy(Buffer, p + 1, size_t(Field->DataSize()));
        return has;
    }
    if (Buffer) {
        if (Field->IsBlob())
            DatabaseError(QString::fromLatin1(dictdb::msg::SGeneralError));
        std::memcpy(Buffer, rb + FieldOffset(Field->FieldNo()), size_t(Field->DataSize()));
    }
    return true;
}

void TTDEDataSet::SetFieldData(TField *Field, const void *Buffer)
{
    TRecordBuffer rb = nullptr;
    if (!GetActiveRecBuf(rb))
        return;
    if (Field->FieldNo() < 1) {
        char *p = rb + m_recordSize + Field->Offset();
        p[0] = Buffer ? 1 : 0;
        if (Buffer)
            std::memcpy(p + 1, Buffer, size_t(Field->DataSize()));
    } else if (Buffer) {
        if (Field->IsBlob())
            DatabaseError(QString::fromLatin1(dictdb::msg::SGeneralError));
        std::memcpy(rb + FieldOffset(Field->FieldNo()), Buffer, size_t(Field->DataSize()));
        DataEvent(deFieldChange, reinterpret_cast<qintptr>(Field));
    }
    if (State() != dsCalcFields && State() != dsFilter)
        DataEvent(deFieldChange, reinterpret_cast<qintptr>(Field));
}

void TTDEDataSet::ReadBlobData(TStream *, int, int)
{
    DatabaseError(QString::fromLatin1(dictdb::msg::SGeneralError));
}

TStream *TTDEDataSet::CreateBlobStream(TField *Field, TBlobStreamMode Mode)
{
    auto *blob = dynamic_cast<TBlobField *>(Field);
    if (!blob)
        DatabaseError(QString::fromLatin1(dictdb::msg::SGeneralError));
    return new TDictBlobStream(blob, Mode);
}

int TTDEDataSet::GetRecNo()
{
    UpdateCursorPos();
    if (m_curRec == -1 && GetRecordCount() > 0)
        return 1;
    return m_curRec + 1;
}

void TTDEDataSet::SetRecNoValue(int Value)
{
    CheckBrowseMode();
    if (Value >= 0 && Value <= GetRecordCount() && Value != RecNo()) {
        DoBeforeScroll();
        m_curRec = Value - 1;
        Resync({});
        DoAfterScroll();
    }
}

void TTDEDataSet::DoAfterOpen()
{
    if (Filtered())
        ActivateFilter();
    TTDBDataSet::DoAfterOpen();
}

TFilterOptions TTDEDataSet::EvaluatorOptions() const
{
    TFilterOptions o;
    if (FilterOptions() & dfoCaseInsensitive)
        o |= foCaseInsensitive;
    if (FilterOptions() & dfoNoPartialCompare)
        o |= foNoPartialCompare;
    return o;
}

void TTDEDataSet::ParseFilter(const QString &Text)
{
    m_filterParser->Parse(Text);
}

bool TTDEDataSet::FilterAccept()
{
    bool accept = true;
    // Calculated fields of the record just read, so that the expression and the handler
    // see this record's values rather than those the buffer held before.
    if (FilterBuffer)
        GetCalcFields(FilterBuffer);
    if (OnFilterRecord)
        OnFilterRecord(this, accept);
    if (accept && !Filter().isEmpty()) {
        QVariant result;
        m_filterParser->Evaluate(EvaluatorOptions(), result);
        accept = result.toBool();
    }
    return accept;
}

void TTDEDataSet::SetFilterData(const QString &Text, TDataSetFilterOptions Options)
{
    bool changed = false;
    if (Active()) {
        CheckBrowseMode();
        if (!Text.isEmpty())
            ParseFilter(Text);
        changed = Text != Filter() || Options != FilterOptions();
    }
    TDataSet::SetFilterText(Text);
    TDataSet::SetFilterOptions(Options);
    if (changed && Filtered()) {
        DeactivateFilter();
        ActivateFilter();
    }
}

void TTDEDataSet::SetFilterText(const QString &Value)
{
    SetFilterData(Value, FilterOptions());
}

void TTDEDataSet::SetFilterOptions(TDataSetFilterOptions Value)
{
    SetFilterData(Filter(), Value);
}

void TTDEDataSet::SetFiltered(bool Value)
{
    if (!Active()) {
        TDataSet::SetFiltered(Value);
        return;
    }
    CheckBrowseMode();
    if (Value != Filtered()) {
        if (Value)
            ActivateFilter();
        else
            DeactivateFilter();
        TDataSet::SetFiltered(Value);
    }
    First();
}

bool TTDEDataSet::FindRecord(bool Restart, bool GoForward)
{
    CheckBrowseMode();
    DoBeforeScroll();
    SetFound(false);
    UpdateCursorPos();
    CursorPosChanged();
    const int count = GetRecordCount();
    int pos = GoForward ? (Restart ? 0 : m_curRec + 1) : (Restart ? count - 1 : m_curRec - 1);
    if (!Filter().isEmpty())
        ParseFilter(Filter());
    const int saved = m_curRec;
    bool found = false;
    TDataSetState savedState;
    SetTempState(dsFilter, savedState);
    try {
        TSequentialReads scan(Database() ? Database()->FileIO() : nullptr);
        while (GoForward ? pos < count : pos >= 0) {
            if (pos >= 0) {
                m_curRec = pos;
                FilterBuffer = ActiveBuffer();
                ReadRecordBuffer(FilterBuffer, m_curRec);
                if (FilterAccept()) {
                    found = true;
                    break;
                }
            }
            pos += GoForward ? 1 : -1;
        }
    } catch (...) {
        RestoreState(dsBrowse);
        m_curRec = saved;
        Resync({});
        throw;
    }
    RestoreState(dsBrowse);
    (void)savedState;
    if (found)
        SetFound(true);
    else
        m_curRec = saved;
    Resync({});
    if (found)
        DoAfterScroll();
    return found;
}

int TTDEDataSet::FilterFieldIndex(const QString &Name) const
{
    TField *f = FindField(Name);
    return f ? Fields()->IndexOf(f) : -1;
}

TFieldType TTDEDataSet::FilterFieldType(int FieldIndex) const
{
    return Fields()->Fields(FieldIndex)->DataType();
}

const char *TTDEDataSet::FilterFieldData(int FieldIndex, int &Size) const
{
    TField *f = Fields()->Fields(FieldIndex);
    TRecordBuffer rb = nullptr;
    if (!const_cast<TTDEDataSet *>(this)->GetActiveRecBuf(rb))
        return nullptr;
    Size = f->DataSize();
    if (f->FieldNo() < 1)
        return rb + m_recordSize + f->Offset() + 1;
    return rb + FieldOffset(f->FieldNo());
}

QString TTDEDataSet::FilterFieldText(int FieldIndex) const
{
    return Fields()->Fields(FieldIndex)->AsString();
}

// ---------------------------------------------------------------- TDictBlobStream

TDictBlobStream::TDictBlobStream(TBlobField *AField, TBlobStreamMode AMode)
    : Field(AField), DataSet(dynamic_cast<TTDEDataSet *>(AField->DataSet())), Mode(AMode), FieldNo(AField->FieldNo())
{
    if (!DataSet)
        DatabaseErrorFmt(QString::fromLatin1(dataaccess::msg::SDataSetMissing), AField->FieldName());
    TOptimBlobStream *target = Target();
    if (Mode == bmRead || Mode == bmReadWrite) {
        if (target) {
            target->LoadIfNeeded();
            const qint64 size = target->Size();
            SetSize(size);
            if (size > 0)
                std::memcpy(Memory(), target->Memory(), size_t(size));
            SetPosition(0);
        }
    } else {
        if (DataSet->State() != dsEdit && DataSet->State() != dsInsert && DataSet->State() != dsSetKey &&
            DataSet->State() != dsFilter && DataSet->State() != dsCalcFields)
            DatabaseError(QString::fromLatin1(dataaccess::msg::SNotEditing));
        Clear();
        CopyBack();
        Field->SetModified(true);
        Modified = true;
    }
    Opened = true;
}

TDictBlobStream::~TDictBlobStream() = default;

TOptimBlobStream *TDictBlobStream::Target() const
{
    TRecordBuffer rb = nullptr;
    if (!DataSet->GetActiveRecBuf(rb))
        return nullptr;
    return DataSet->BlobStreamOf(rb, Field);
}

void TDictBlobStream::CopyBack()
{
    TOptimBlobStream *target = Target();
    if (!target)
        return;
    target->SetSize(0);
    const qint64 size = Size();
    if (size > 0) {
        target->SetPosition(0);
        target->WriteBuffer(Memory(), size);
    }
    target->Loaded = true;
}

qint64 TDictBlobStream::Write(const void *Buffer, qint64 Count)
{
    if (Mode == bmRead)
        return 0;
    const qint64 n = TMemoryStream::Write(Buffer, Count);
    Modified = true;
    CopyBack();
    Field->SetModified(true);
    DataSet->DataEvent(deFieldChange, reinterpret_cast<qintptr>(Field));
    return n;
}

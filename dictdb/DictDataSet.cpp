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
        m_DatabaseName = db->DatabaseName();
        m_SessionName = db->SessionName();
    }
}

TTDBDataSet::~TTDBDataSet() = default;

TDictSession *TTDBDataSet::DBSession() const
{
    if (m_Database && m_Database->Session())
        return m_Database->Session();
    if (TDictSession *s = Sessions()->FindSession(m_SessionName))
        return s;
    return DefaultSession();
}

void TTDBDataSet::SetDatabaseName(const QString &Value)
{
    if (Value == m_DatabaseName)
        return;
    CheckInactive();
    if (m_Database)
        DatabaseError(QString::fromLatin1(dictdb::msg::kSDatabaseOpen));
    m_DatabaseName = Value;
    DataEvent(dePropertyChange, 0);
}

void TTDBDataSet::SetSessionName(const QString &Value)
{
    CheckInactive();
    m_SessionName = Value;
    DataEvent(dePropertyChange, 0);
}

void TTDBDataSet::SetClientSessionName(const QString &Value)
{
    m_SessionName = Value;
}

void TTDBDataSet::DatabaseConnectChange(bool Connected)
{
    DataEvent(deConnectChange, Connected ? 1 : 0);
}

void TTDBDataSet::OpenCursor(bool InfoQuery)
{
    // A database of our name that the default session holds moves to the session we name.
    if (!m_SessionName.isEmpty() && !m_DatabaseName.isEmpty()) {
        TDictSession *own = Sessions()->FindSession(m_SessionName);
        if (own && own != DefaultSession() && !own->FindDatabase(m_DatabaseName)) {
            if (TDictDatabase *db = DefaultSession()->FindDatabase(m_DatabaseName)) {
                db->SetSessionName(m_SessionName);
                own->SetActive(true);
            }
        }
    }
    TDictSession *session = Sessions()->GetSession(m_SessionName);
    m_Database = session->OpenDatabase(m_DatabaseName, this, true);
    m_Database->RegisterClient(this);
    m_Database->CheckCanAccess();
    TDataSet::OpenCursor(InfoQuery);
}

void TTDBDataSet::CloseCursor()
{
    struct Release
    {
        TTDBDataSet *Self;
        ~Release()
        {
            TDictDatabase *db = Self->m_Database;
            if (!db)
                return;
            Self->m_Database = nullptr;
            db->UnregisterClient(Self);
            if (TDictSession *s = db->Session())
                s->CloseDatabase(db);
        }
    } release{this};
    TDataSet::CloseCursor();
}

// ---------------------------------------------------------------- TTDEDataSet

TTDEDataSet::TTDEDataSet(QObject *AOwner) : TTDBDataSet(AOwner), m_FilterParser(std::make_unique<TFilterParser>(this))
{}

TTDEDataSet::~TTDEDataSet()
{
    m_FilterParser.reset();
}

void TTDEDataSet::SetMediumType(TDictDBMediumType Value)
{
    if (Value == m_MediumType)
        return;
    CheckInactive();
    m_MediumType = Value;
    if (TDictSession *s = DBSession())
        if (TDictDatabase *db = s->FindDatabase(DatabaseName()); db && db->MediumType() != Value)
            db->SetMediumType(Value);
}

void TTDEDataSet::SetClientMediumType(TDictDBMediumType Value)
{
    m_MediumType = Value;
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
    if (FieldNo < 1 || FieldNo > int(m_FieldOffsets.size()))
        DatabaseError(QString::fromLatin1(dictdb::msg::kSGeneralError));
    return m_FieldOffsets[size_t(FieldNo - 1)];
}

void TTDEDataSet::CalcRecordLayout()
{
    int highest = 0;
    for (int i = 0; i < FieldCount(); ++i)
        highest = std::max(highest, Fields()->Fields(i)->FieldNo());
    m_FieldOffsets.assign(size_t(highest), 0);
    int offset = 0;
    for (int no = 1; no <= highest; ++no) {
        m_FieldOffsets[size_t(no - 1)] = offset;
        if (TField *f = Fields()->FieldByNumber(no); f && f->FieldKind() == fkData)
            offset += FieldSlotSize(f);
    }
    m_RecordSize = offset;
    m_RecBufSize = m_RecordSize + CalcFieldsSize() + kBookmarkSize + 1;
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
    auto *b = static_cast<TRecordBuffer>(std::calloc(size_t(std::max(m_RecBufSize, 1)), 1));
    if (!b)
        throw std::bad_alloc();
    for (int i = 0; i < FieldCount(); ++i) {
        TField *f = Fields()->Fields(i);
        if (f->FieldKind() == fkData && f->IsBlob() && f->FieldNo() >= 1) {
            TOptimBlobStream *s = new TOptimBlobStream(this);
            std::memcpy(b + FieldOffset(f->FieldNo()), &s,
                        sizeof s); // NOLINT(bugprone-sizeof-expression): the buffer holds the pointer
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
            f->FieldNo() <= int(m_FieldOffsets.size())) {
            TOptimBlobStream *s = nullptr;
            std::memcpy(&s, Buffer + FieldOffset(f->FieldNo()),
                        sizeof s); // NOLINT(bugprone-sizeof-expression): the buffer holds the pointer
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
        std::memcpy(&s, Buffer + FieldOffset(Field->FieldNo()),
                    sizeof s); // NOLINT(bugprone-sizeof-expression): the buffer holds the pointer
    else
        std::memcpy(&s, Buffer + m_RecordSize + Field->Offset() + 1,
                    sizeof s); // NOLINT(bugprone-sizeof-expression): the buffer holds the pointer
    return s;
}

void TTDEDataSet::GetBookmarkData(TRecordBuffer Buffer, void *Data)
{
    std::memcpy(Data, Buffer + m_RecordSize + CalcFieldsSize(), kBookmarkSize);
}

void TTDEDataSet::SetBookmarkData(TRecordBuffer Buffer, const void *Data)
{
    std::memcpy(Buffer + m_RecordSize + CalcFieldsSize(), Data, kBookmarkSize);
}

TBookmarkFlag TTDEDataSet::GetBookmarkFlag(TRecordBuffer Buffer)
{
    return TBookmarkFlag(quint8(Buffer[m_RecordSize + CalcFieldsSize() + kBookmarkSize]));
}

void TTDEDataSet::SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value)
{
    Buffer[m_RecordSize + CalcFieldsSize() + kBookmarkSize] = char(Value);
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
            char *p = Buffer + m_RecordSize + f->Offset();
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
            const double ms = double(kDateDelta) * kMSecsPerDay;
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
        const char *p = rb + m_RecordSize + Field->Offset();
        const bool has = p[0] != 0;
        if (has && Buffer)
            std::memcpy(Buffer, p + 1, size_t(Field->DataSize()));
        return has;
    }
    if (Buffer) {
        if (Field->IsBlob())
            DatabaseError(QString::fromLatin1(dictdb::msg::kSGeneralError));
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
        char *p = rb + m_RecordSize + Field->Offset();
        p[0] = Buffer ? 1 : 0;
        if (Buffer)
            std::memcpy(p + 1, Buffer, size_t(Field->DataSize()));
    } else if (Buffer) {
        if (Field->IsBlob())
            DatabaseError(QString::fromLatin1(dictdb::msg::kSGeneralError));
        std::memcpy(rb + FieldOffset(Field->FieldNo()), Buffer, size_t(Field->DataSize()));
        DataEvent(deFieldChange, reinterpret_cast<qintptr>(Field));
    }
    if (State() != dsCalcFields && State() != dsFilter)
        DataEvent(deFieldChange, reinterpret_cast<qintptr>(Field));
}

void TTDEDataSet::ReadBlobData(TStream *, int, int)
{
    DatabaseError(QString::fromLatin1(dictdb::msg::kSGeneralError));
}

TStream *TTDEDataSet::CreateBlobStream(TField *Field, TBlobStreamMode Mode)
{
    auto *blob = dynamic_cast<TBlobField *>(Field);
    if (!blob)
        DatabaseError(QString::fromLatin1(dictdb::msg::kSGeneralError));
    return new TDictBlobStream(blob, Mode);
}

int TTDEDataSet::GetRecNo()
{
    UpdateCursorPos();
    if (m_CurRec == -1 && GetRecordCount() > 0)
        return 1;
    return m_CurRec + 1;
}

void TTDEDataSet::SetRecNoValue(int Value)
{
    CheckBrowseMode();
    if (Value >= 0 && Value <= GetRecordCount() && Value != RecNo()) {
        DoBeforeScroll();
        m_CurRec = Value - 1;
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
    m_FilterParser->Parse(Text);
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
        m_FilterParser->Evaluate(EvaluatorOptions(), result);
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
    int pos = GoForward ? (Restart ? 0 : m_CurRec + 1) : (Restart ? count - 1 : m_CurRec - 1);
    if (!Filter().isEmpty())
        ParseFilter(Filter());
    const int saved = m_CurRec;
    bool found = false;
    TDataSetState savedState;
    SetTempState(dsFilter, savedState);
    try {
        TSequentialReads scan(Database() ? Database()->FileIO() : nullptr);
        while (GoForward ? pos < count : pos >= 0) {
            if (pos >= 0) {
                m_CurRec = pos;
                FilterBuffer = ActiveBuffer();
                ReadRecordBuffer(FilterBuffer, m_CurRec);
                if (FilterAccept()) {
                    found = true;
                    break;
                }
            }
            pos += GoForward ? 1 : -1;
        }
    } catch (...) {
        RestoreState(dsBrowse);
        m_CurRec = saved;
        Resync({});
        throw;
    }
    RestoreState(dsBrowse);
    (void)savedState;
    if (found)
        SetFound(true);
    else
        m_CurRec = saved;
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
        return rb + m_RecordSize + f->Offset() + 1;
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
        DatabaseErrorFmt(QString::fromLatin1(dataaccess::msg::kSDataSetMissing), AField->FieldName());
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
            DatabaseError(QString::fromLatin1(dataaccess::msg::kSNotEditing));
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

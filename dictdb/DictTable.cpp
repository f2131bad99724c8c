#include "dictdb/DictTable.h"

#include "dictdb/DictDBFileIO.h"
#include "dictdb/Logging.h"
#include "platform/Logging.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace {

// The table's list that holds an index's records: list 0 is record-number order (index -1),
// list k + 1 index k.
size_t ListOfIndex(int IndexIdx)
{
    return IndexIdx < 0 ? 0 : size_t(IndexIdx) + 1;
}

// A record list up to this long is walked rather than searched by key: below it the walk in
// memory costs less than the reads from the file a search makes.
constexpr size_t kSearchedListSize = 4096;

bool RecIndexBefore(const TRecInfo &E, qint32 RecIndex)
{
    return E.RecIndex < RecIndex;
}

// Where record RecIndex stands in a list in record-number order; -1 when the list lacks it.
int PosByRecIndex(const TRecInfoList &List, qint32 RecIndex)
{
    const auto it = std::lower_bound(List.begin(), List.end(), RecIndex, RecIndexBefore);
    return it != List.end() && it->RecIndex == RecIndex ? int(it - List.begin()) : -1;
}

bool IsTextField(const TField *F)
{
    return F->DataType() == ftString || F->DataType() == ftFixedChar || F->DataType() == ftWideString;
}

} // namespace

// ---------------------------------------------------------------- life

TDictTable::TDictTable(QObject *AOwner)
    : TTDEDataSet(AOwner), m_IndexDefs(std::make_unique<TIndexDefs>(this)),
      m_MasterLink(std::make_unique<TMasterDataLink>(this))
{
    m_MasterLink->OnMasterChange = [this](QObject *) { MasterChanged(); };
    m_MasterLink->OnMasterDisable = [this](QObject *) { MasterDisabled(); };
}

TDictTable::~TDictTable()
{
    // A destructor cannot report a failed close.
    try {
        Close();
    } catch (...) {
        qCWarning(lcEngine) << "closing a table at destruction failed:" << platform::CurrentExceptionText();
    }
    m_MasterLink.reset();
    m_IndexDefs.reset();
}

// ---------------------------------------------------------------- properties

void TDictTable::SetTableName(const QString &Value)
{
    if (Value == m_TableName)
        return;
    CheckInactive();
    m_TableName = Value;
}

void TDictTable::SetDatabaseName(const QString &Value)
{
    TTDEDataSet::SetDatabaseName(Value);
    m_TableName.clear();
    m_IndexName.clear();
}

int TDictTable::FindIndexIdx(const QString &Name) const
{
    if (!m_TableIo)
        return -1;
    if (!Name.isEmpty())
        if (const int idx = m_TableIo->IndexDefs()->IndexOf(Name); idx >= 0)
            return idx;
    return m_TableIo->GetPrimaryIndexIdx();
}

void TDictTable::ReadIndexList()
{
    const size_t list = ListOfIndex(m_IndexIdx);
    if (list < m_TableIo->IndexLists.size())
        m_RecList = m_TableIo->IndexLists[list];
    else
        m_RecList = m_TableIo->IndexLists.empty() ? TRecInfoList() : m_TableIo->IndexLists[0];
    m_ListVersion = m_TableIo->ListsVersion;
    m_CurRec = -1;
}

bool TDictTable::FollowsTableList() const
{
    return m_RecList && m_TableIo && m_ListVersion == m_TableIo->ListsVersion &&
        ListOfIndex(m_IndexIdx) < m_TableIo->IndexLists.size();
}

bool TDictTable::MirrorsTableList() const
{
    return FollowsTableList() && !FilterOrRange();
}

int TDictTable::RecordListPos(qint32 RecIndex)
{
    if (!m_RecList)
        return -1;
    const TRecInfoList &list = *m_RecList;
    if (m_IndexIdx < 0) {
        // Physical order is record-number order, however the list was narrowed and whatever
        // others did to the table since.
        return PosByRecIndex(list, RecIndex);
    }
    // An index's order is the order of the keys the file holds while the list follows the
    // table's: the record is searched for by its key. A whole list that misses a record of the
    // table does not follow its keys (a file written with another order of texts), and a list
    // that others changed the table under may not: those are walked.
    if (list.size() >= kSearchedListSize && FollowsTableList()) {
        const int at = m_TableIo->FindRecord(list, m_IndexIdx, RecIndex);
        if (at >= 0 || FilterOrRange())
            return at;
    }
    const auto it =
        std::find_if(list.begin(), list.end(), [RecIndex](const TRecInfo &E) { return E.RecIndex == RecIndex; });
    return it != list.end() ? int(it - list.begin()) : -1;
}

void TDictTable::SetIndexName(const QString &Value)
{
    m_IndexName = Value;
    if (Value.isEmpty())
        m_IndexIdx = -1;
    if (!Active())
        return;
    CheckBrowseMode();
    m_IndexIdx = FindIndexIdx(Value);
    ReadIndexList();
    m_RangeActive = false;
    CheckMasterRange();
    First();
}

void TDictTable::SetMasterSource(TDataSource *Value)
{
    if (Value && IsLinkedTo(Value))
        DatabaseError(QString::fromLatin1(dataaccess::msg::kSCircularDataLink));
    m_MasterLink->SetDataSource(Value);
}

bool TDictTable::GetCanModify()
{
    const bool fileReadOnly = Database() && Database()->FileIO() && Database()->FileIO()->FileIsReadOnly;
    return TTDEDataSet::GetCanModify() && !m_ReadOnly && !fileReadOnly;
}

bool TDictTable::BookmarkValid(const TBookmark &Bookmark)
{
    if (!m_RecList || Bookmark.size() < 4)
        return false;
    qint32 rec = 0;
    std::memcpy(&rec, Bookmark.constData(), 4);
    return std::any_of(m_RecList->begin(), m_RecList->end(), [rec](const TRecInfo &E) { return E.RecIndex == rec; });
}

void TDictTable::ReadBlobData(TStream *Dest, int RecIdx, int FieldIdx)
{
    if (!m_TableIo)
        DatabaseError(QString::fromLatin1(dataaccess::msg::kSDataSetClosed));
    m_TableIo->ReadFieldData(Dest, RecIdx, FieldIdx);
}

// ---------------------------------------------------------------- open and close

void TDictTable::InternalInitFieldDefs()
{
    FieldDefs()->Clear();
    if (!m_TableIo)
        return;
    TDictFieldDefs *defs = m_TableIo->FieldDefs();
    for (int i = 0; i < defs->Count(); ++i) {
        const TDictFieldDef *d = defs->Items(i);
        const bool sized = d->FieldType == ftString || d->FieldType == ftFixedChar || d->FieldType == ftWideString ||
            d->FieldType == ftGuid;
        FieldDefs()->Add(d->Name(), d->FieldType, sized ? d->FieldSize : 0, false);
    }
}

void TDictTable::InternalOpen()
{
    TDictTableIO *io = Database() ? Database()->TableIOByName(m_TableName) : nullptr;
    if (!io)
        DatabaseErrorFmt(QString::fromLatin1(dictdb::msg::kSTableNotFound), m_TableName);
    io->Open();
    m_TableIo = io;

    m_RecList = TRecInfoList();
    m_ReadBuffers.reset();
    m_ReadBuffer = nullptr;
    m_CurRec = -1;
    SetBookmarkSize(4);
    m_CanModify = true;

    InternalInitFieldDefs();
    if (DefaultFields())
        CreateFields();
    BindFields(true);

    m_IndexDefs->Clear();
    TDictIndexDefs *idx = io->IndexDefs();
    for (int i = 0; i < idx->Count(); ++i) {
        const TDictIndexDef *d = idx->Items(i);
        QStringList names;
        for (qint32 no : d->FieldIdxes)
            if (no >= 0 && no < io->FieldDefs()->Count())
                names.append(io->FieldDefs()->Items(no)->Name());
        TIndexOptions opts;
        if (d->Options & tiPrimary)
            opts |= ixPrimary;
        if (d->Options & tiUnique)
            opts |= ixUnique;
        if (d->Options & tiDescending)
            opts |= ixDescending;
        if (d->Options & tiCaseInsensitive)
            opts |= ixCaseInsensitive;
        m_IndexDefs->Add(d->Name(), names.join(QLatin1Char(';')), opts);
    }

    m_IndexIdx = FindIndexIdx(m_IndexName);
    ReadIndexList();
    m_CanModify = true;

    CalcRecordLayout();
    AllocKeyBuffers();
}

void TDictTable::InternalClose()
{
    m_ReadBuffers.reset();
    m_ReadBuffer = nullptr;
    FreeKeyBuffers();
    if (m_TableIo) {
        TDictTableIO *io = m_TableIo;
        m_TableIo = nullptr;
        io->Close();
    }
    m_RecList.reset();
    if (DefaultFields())
        DestroyFields();
    m_CurRec = -1;
    m_CanModify = false;
    m_RangeActive = false;
    m_KeyFieldCount = 0;
}

void TDictTable::DoAfterOpen()
{
    if (m_MasterLink->Active())
        CheckMasterRange();
    TTDEDataSet::DoAfterOpen();
}

// ---------------------------------------------------------------- reading

TGetResult TDictTable::GetRecord(TRecordBuffer Buffer, TGetMode GetMode, bool DoCheck)
{
    const int n = GetRecordCount();
    TGetResult result = grOK;
    if (n < 1) {
        result = grEOF;
    } else {
        switch (GetMode) {
        case gmCurrent:
            if (m_CurRec < 0 || m_CurRec >= n)
                result = grError;
            break;
        case gmNext:
            if (m_CurRec < n - 1)
                ++m_CurRec;
            else
                result = grEOF;
            break;
        case gmPrior:
            if (m_CurRec > 0)
                --m_CurRec;
            else
                result = grBOF;
            break;
        }
    }
    if (result == grOK) {
        ReadRecordBuffer(Buffer, m_CurRec);
        SetBookmarkFlag(Buffer, bfCurrent);
        const qint32 rec = (*m_RecList)[size_t(m_CurRec)].RecIndex;
        SetBookmarkData(Buffer, &rec);
        GetCalcFields(Buffer);
    } else if (result == grError && DoCheck) {
        DatabaseError(QString::fromLatin1(dictdb::msg::kSNoRecords));
    }
    return result;
}

void TDictTable::BuildFieldBuffers(TRecordBuffer Buffer, TFieldBuffers &FieldBuffers)
{
    FieldBuffers.Clear();
    TDictFieldDefs *defs = m_TableIo->FieldDefs();
    for (int i = 0; i < defs->Count(); ++i) {
        TField *f = Fields()->FieldByNumber(i + 1);
        if (f && f->FieldKind() == fkData) {
            const qint32 size = f->IsBlob() ? 0 : f->DataSize();
            FieldBuffers.Add(Buffer + FieldOffset(i + 1), f->DataType(), size);
        } else {
            TFieldBufferItem *item = FieldBuffers.Add(nullptr, ftUnknown, 0);
            item->Active = false;
        }
    }
}

void TDictTable::ReadRecordBuffer(TRecordBuffer Buffer, int RecIndex)
{
    if (!m_RecList || RecIndex < 0 || RecIndex >= int(m_RecList->size()))
        return;
    // A scan reads record after record into the same buffer: its description is made once.
    if (!m_ReadBuffers || m_ReadBuffer != Buffer) {
        m_ReadBuffers.reset();
        auto fb = std::make_unique<TFieldBuffers>();
        BuildFieldBuffers(Buffer, *fb);
        m_ReadBuffers = std::move(fb);
        m_ReadBuffer = Buffer;
    }
    m_TableIo->ReadRecordData(*m_ReadBuffers, *m_RecList, RecIndex);
}

void TDictTable::FreeRecordBuffer(TRecordBuffer &Buffer)
{
    if (Buffer && Buffer == m_ReadBuffer) {
        m_ReadBuffers.reset();
        m_ReadBuffer = nullptr;
    }
    TTDEDataSet::FreeRecordBuffer(Buffer);
}

void TDictTable::InternalGotoBookmark(const void *Bookmark)
{
    qint32 rec = 0;
    std::memcpy(&rec, Bookmark, 4);
    if (m_RecList)
        for (size_t i = 0; i < m_RecList->size(); ++i)
            if ((*m_RecList)[i].RecIndex == rec) {
                m_CurRec = int(i);
                return;
            }
    DatabaseError(QString::fromLatin1(dataaccess::msg::kSBookmarkNotFound));
}

void TDictTable::InternalRefresh()
{
    ReadIndexList();
    if (m_RangeActive) {
        if (m_IndexIdx == -1)
            DatabaseError(QString::fromLatin1(dictdb::msg::kSNoIndexActive));
        ApplyRange();
    }
    if (Filtered())
        ActivateFilter();
}

// ---------------------------------------------------------------- filter

void TDictTable::ActivateFilter()
{
    TRecInfoList result;
    TDataSetState saved;
    SetTempState(dsFilter, saved);
    // The engine has no screen: the session's hour-glass setting is kept but shows nothing.
    const auto finish = [&]() {
        RestoreState(dsBrowse);
        m_CurRec = -1;
    };
    try {
        if (!Filter().isEmpty())
            ParseFilter(Filter());
        FilterBuffer = ActiveBuffer() ? ActiveBuffer() : TempBuffer();
        TDictDBFileIO *io = Database() ? Database()->FileIO() : nullptr;
        TSequentialReads scan(io);
        const int n = GetRecordCount();
        for (int i = 0; i < n; ++i) {
            // Records stand in the file in another order than in the list: the next few are
            // fetched ahead while this one is read.
            if (io && i + 4 < n)
                io->Prefetch((*m_RecList)[size_t(i) + 4].DataOffset);
            m_CurRec = i;
            ReadRecordBuffer(FilterBuffer, i);
            if (FilterAccept())
                result.push_back((*m_RecList)[size_t(i)]);
            if (OnFilterProgress)
                OnFilterProgress(this, int(qint64(i) * 100 / n));
        }
        if (result.size() != m_RecList->size())
            *m_RecList = std::move(result);
    } catch (...) {
        finish();
        throw;
    }
    finish();
    First();
}

void TDictTable::DeactivateFilter()
{
    ReadIndexList();
    m_CurRec = -1;
    First();
    m_CanModify = true;
}

// ---------------------------------------------------------------- locate and lookup

bool TDictTable::LocateRecord(const QString &KeyFields, const QVariant &KeyValues, TLocateOptions Options,
                              bool SyncCursor)
{
    CheckBrowseMode();
    CursorPosChanged();
    TRecordBuffer buffer = TempBuffer();
    TDataSetState saved;
    SetTempState(dsFilter, saved);
    FilterBuffer = buffer;
    int hit = -1;
    try {
        const std::vector<TField *> fields = SetLocateKey(KeyFields, KeyValues);
        const bool partialKey = Options & loPartialKey;
        const bool caseInsensitive = Options & loCaseInsensitive;
        if (const int index = LocateIndexFor(fields, caseInsensitive); index >= 0) {
            TFieldBuffers key;
            BuildFieldBuffers(buffer, key);
            hit = LocateByIndex(key, index, int(fields.size()), partialKey);
        } else {
            hit = LocateByScan(buffer, fields, partialKey, caseInsensitive);
        }
        if (hit >= 0) {
            ReadRecordBuffer(buffer, hit);
            if (SyncCursor)
                m_CurRec = hit;
        }
    } catch (...) {
        RestoreState(saved);
        throw;
    }
    RestoreState(saved);
    return hit >= 0;
}

std::vector<TField *> TDictTable::SetLocateKey(const QString &KeyFields, const QVariant &KeyValues)
{
    std::vector<TField *> fields;
    GetFieldList(fields, KeyFields);
    // One field takes the value itself (or the first of a list), several the list's values.
    const bool isList = KeyValues.typeId() == QMetaType::QVariantList;
    const QVariantList list = isList ? KeyValues.toList() : QVariantList();
    for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i]->IsBlob() || fields[i]->FieldKind() != fkData)
            DatabaseError(QString::fromLatin1(dictdb::msg::kSGeneralError));
        fields[i]->SetValue(fields.size() == 1 && !isList ? KeyValues : list.value(qsizetype(i)));
    }
    return fields;
}

int TDictTable::LocateIndexFor(const std::vector<TField *> &Fields, bool CaseInsensitive) const
{
    // The index's fields are the key fields in their order; a text key also needs the index to
    // compare case as the locate does.
    const bool hasText = std::any_of(Fields.begin(), Fields.end(), IsTextField);
    const auto keyOf = [&](const TDictIndexDef *D) {
        if (D->FieldIdxes.size() != Fields.size())
            return false;
        for (size_t i = 0; i < Fields.size(); ++i)
            if (D->FieldIdxes[i] != Fields[i]->FieldNo() - 1)
                return false;
        return !hasText || bool(D->Options & tiCaseInsensitive) == CaseInsensitive;
    };
    const TDictIndexDefs *defs = m_TableIo->IndexDefs();
    for (int k = 0; k < defs->Count(); ++k)
        if (keyOf(defs->Items(k)))
            return k;
    return -1;
}

int TDictTable::LocateByIndex(TFieldBuffers &Key, int IndexIdx, int FieldCount, bool PartialKey)
{
    // The first match in index order that the record list holds. A record list in that very
    // order is part of the index's list, in its order: its own first match is the one.
    if (IndexIdx == m_IndexIdx && FollowsTableList()) {
        const std::vector<int> first =
            m_TableIo->SearchIndexedFieldMatches(Key, *m_RecList, PartialKey, FieldCount, IndexIdx, true);
        return first.empty() ? -1 : first.front();
    }
    // Any other record list is searched for the index's matches in their order; the others are
    // looked for only when the first is not held at once. The first stays a candidate: a
    // narrowed list whose keys are out of order (a file written with another order of texts)
    // can hold a record its search by key misses.
    const TRecInfoList &full = m_TableIo->IndexLists[ListOfIndex(IndexIdx)];
    const std::vector<int> matches =
        m_TableIo->SearchIndexedFieldMatches(Key, full, PartialKey, FieldCount, IndexIdx, false);
    if (matches.empty())
        return -1;
    if (const int at = RecordListPos(full[size_t(matches.front())].RecIndex); at >= 0)
        return at;
    return FirstHeld(full, matches);
}

int TDictTable::FirstHeld(const TRecInfoList &TableList, const std::vector<int> &Candidates)
{
    if (m_IndexIdx < 0) {
        for (const int p : Candidates)
            if (const int at = RecordListPos(TableList[size_t(p)].RecIndex); at >= 0)
                return at;
        return -1;
    }
    // A record list in another index's order is walked once, each entry looked up among the
    // candidates by record number; the one first in the table list's order wins.
    std::unordered_map<qint32, int> rank;
    for (size_t r = 0; r < Candidates.size(); ++r)
        rank.emplace(TableList[size_t(Candidates[r])].RecIndex, int(r));
    int best = -1, bestRank = int(Candidates.size());
    for (size_t i = 0; i < m_RecList->size() && bestRank > 0; ++i)
        if (const auto r = rank.find((*m_RecList)[i].RecIndex); r != rank.end() && r->second < bestRank) {
            best = int(i);
            bestRank = r->second;
        }
    return best;
}

int TDictTable::LocateByScan(TRecordBuffer Buffer, const std::vector<TField *> &Fields, bool PartialKey,
                             bool CaseInsensitive)
{
    TSequentialReads scan(Database() ? Database()->FileIO() : nullptr);
    for (size_t p = 0; p < m_RecList->size(); ++p)
        if (StoredValuesMatch(Buffer, (*m_RecList)[p].RecIndex, Fields, PartialKey, CaseInsensitive))
            return int(p);
    return -1;
}

bool TDictTable::StoredValuesMatch(TRecordBuffer Buffer, qint32 RecIndex, const std::vector<TField *> &Fields,
                                   bool PartialKey, bool CaseInsensitive)
{
    return std::all_of(Fields.begin(), Fields.end(), [&](TField *F) {
        TMemoryStream stored;
        m_TableIo->ReadFieldData(&stored, RecIndex, F->FieldNo() - 1);
        QByteArray value(static_cast<const char *>(stored.Memory()), qsizetype(stored.Size()));
        value.append(QByteArray(16, '\0'));
        const char *key = Buffer + FieldOffset(F->FieldNo());
        return CompareFieldValue(key, value.constData(), PartialKey, CaseInsensitive, F->DataType()) == 0;
    });
}

bool TDictTable::Locate(const QString &KeyFields, const QVariant &KeyValues, TLocateOptions Options)
{
    DoBeforeScroll();
    const bool found = LocateRecord(KeyFields, KeyValues, Options, true);
    if (found) {
        Resync({});
        DoAfterScroll();
    }
    return found;
}

QVariant TDictTable::Lookup(const QString &KeyFields, const QVariant &KeyValues, const QString &ResultFields)
{
    QVariant result;
    if (!LocateRecord(KeyFields, KeyValues, {}, false))
        return result;
    TDataSetState saved;
    SetTempState(dsCalcFields, saved);
    try {
        CalculateFields(TempBuffer());
        result = FieldValues(ResultFields);
    } catch (...) {
        RestoreState(saved);
        throw;
    }
    RestoreState(saved);
    return result;
}

// ---------------------------------------------------------------- writing

int TDictTable::PhysicalPos(qint32 RecIndex) const
{
    const int pos = PosByRecIndex(m_TableIo->IndexLists[0], RecIndex);
    if (pos < 0)
        DatabaseError(QString::fromLatin1(dataaccess::msg::kSBookmarkNotFound));
    return pos;
}

int TDictTable::PlaceEntry(qint32 RecIndex)
{
    TRecInfoList &list = *m_RecList;
    for (size_t i = list.size(); i-- > 0;)
        if (list[i].RecIndex == RecIndex)
            list.erase(list.begin() + qsizetype(i));
    const TRecInfo entry = m_TableIo->IndexLists[0][size_t(PhysicalPos(RecIndex))];
    size_t pos = 0;
    if (m_IndexIdx < 0) {
        pos = size_t(std::lower_bound(list.begin(), list.end(), RecIndex, RecIndexBefore) - list.begin());
    } else {
        // The record list is a part of the index's list in the same order: the entry goes
        // after every visible entry that comes before it there.
        const TRecInfoList &full = m_TableIo->IndexLists[ListOfIndex(m_IndexIdx)];
        std::unordered_map<qint32, int> order;
        for (size_t i = 0; i < full.size(); ++i)
            order.emplace(full[i].RecIndex, int(i));
        const auto at = order.find(RecIndex);
        const int mine = at == order.end() ? int(full.size()) : at->second;
        while (pos < list.size()) {
            const auto o = order.find(list[pos].RecIndex);
            if (o == order.end() || o->second > mine)
                break;
            ++pos;
        }
    }
    list.insert(list.begin() + qsizetype(pos), entry);
    return int(pos);
}

void TDictTable::InternalAddRecord(TRecordBuffer Buffer, bool Append)
{
    if (Append)
        InternalLast();
    TFieldBuffers fb;
    BuildFieldBuffers(Buffer, fb);
    TRecInfo added{-1, -1};
    const bool mirrors = MirrorsTableList();
    const int physicalEnd = int(m_TableIo->IndexLists[0].size());
    int at = -1;
    m_TableIo->AppendRecordData(fb, Database()->FlushAfterWrite(),
                                [&](int IndexIdx, int InsertPos, const TRecInfo &Item) {
                                    if (IndexIdx == -1)
                                        added = Item;
                                    if (IndexIdx == m_IndexIdx)
                                        at = IndexIdx == -1 ? physicalEnd : InsertPos;
                                });
    if (added.RecIndex < 0)
        return;
    // A record list that is the table's own list takes the entry where the table put it;
    // any other is searched for its place.
    if (mirrors && at >= 0 && size_t(at) <= m_RecList->size()) {
        m_RecList->insert(m_RecList->begin() + at, added);
        m_ListVersion = m_TableIo->ListsVersion;
        m_CurRec = at;
    } else {
        m_CurRec = PlaceEntry(added.RecIndex);
    }
}

void TDictTable::InternalPost()
{
    TTDEDataSet::InternalPost();
    TRecordBuffer rb = nullptr;
    if (!GetActiveRecBuf(rb))
        return;
    if (State() != dsEdit) {
        InternalAddRecord(rb, false);
        return;
    }
    if (m_CurRec < 0 || m_CurRec >= GetRecordCount())
        DatabaseError(QString::fromLatin1(dictdb::msg::kSNoRecords));
    const qint32 rec = (*m_RecList)[size_t(m_CurRec)].RecIndex;
    TFieldBuffers fb;
    BuildFieldBuffers(rb, fb);
    const bool mirrors = MirrorsTableList();
    int from = -1, to = -1;
    m_TableIo->ModifyRecordData(
        fb, PhysicalPos(rec),
        [&](int IndexIdx, int FromPos, int ToPos) {
            if (IndexIdx == m_IndexIdx) {
                from = FromPos;
                to = ToPos;
            }
        },
        Database()->FlushAfterWrite());
    if (!mirrors) {
        m_CurRec = PlaceEntry(rec);
        return;
    }
    if (from >= 0 && from < int(m_RecList->size()) && to >= 0 && to < int(m_RecList->size())) {
        const TRecInfo entry = (*m_RecList)[size_t(from)];
        m_RecList->erase(m_RecList->begin() + from);
        m_RecList->insert(m_RecList->begin() + to, entry);
        m_CurRec = to;
    }
    m_ListVersion = m_TableIo->ListsVersion;
}

void TDictTable::InternalDelete()
{
    if (m_CurRec < 0 || m_CurRec >= GetRecordCount())
        DatabaseError(QString::fromLatin1(dictdb::msg::kSNoRecords));
    const qint32 rec = (*m_RecList)[size_t(m_CurRec)].RecIndex;
    const bool mirrors = MirrorsTableList();
    m_TableIo->DeleteRecordData(PhysicalPos(rec), Database()->FlushAfterWrite());
    m_RecList->erase(m_RecList->begin() + m_CurRec);
    if (mirrors)
        m_ListVersion = m_TableIo->ListsVersion;
    if (m_CurRec >= GetRecordCount())
        --m_CurRec;
}

void TDictTable::Post()
{
    TTDEDataSet::Post();
    if (State() == dsSetKey) {
        DataEvent(deCheckBrowseMode, 0);
        SetState(dsBrowse);
        DataEvent(deDataSetChange, 0);
    }
}

// ---------------------------------------------------------------- master range

void TDictTable::CheckMasterRange()
{
    if (m_MasterLink->Active() && !m_MasterLink->Fields().empty())
        MasterChanged();
}

void TDictTable::MasterChanged()
{
    if (m_IndexIdx < 0 || !m_TableIo)
        return;
    if (Filtered())
        SetFilteredValue(false);
    CheckBrowseMode();
    const std::vector<TField *> &master = m_MasterLink->Fields();
    const TDictIndexDef *index = m_TableIo->IndexDefs()->Items(m_IndexIdx);
    const size_t n = std::min(master.size(), index->FieldIdxes.size());
    TDataSetState saved;
    SetTempState(dsSetKey, saved);
    try {
        for (int k = 1; k <= 2; ++k) {
            KeyBuffer = KeyBuffers[size_t(k)];
            InitRecord(KeyBuffer);
            for (size_t i = 0; i < n; ++i) {
                TField *f = Fields()->FieldByNumber(index->FieldIdxes[i] + 1);
                if (!f)
                    DatabaseError(QString::fromLatin1(dictdb::msg::kSGeneralError));
                f->SetValue(master[i]->Value());
            }
        }
    } catch (...) {
        RestoreState(saved);
        throw;
    }
    RestoreState(saved);
    m_KeyFieldCount = int(n);
    ApplyRange();
    First();
}

void TDictTable::ApplyRange()
{
    const TRecInfoList &full = m_TableIo->IndexLists[ListOfIndex(m_IndexIdx)];
    TFieldBuffers start, end;
    BuildFieldBuffers(KeyBuffers[1], start);
    BuildFieldBuffers(KeyBuffers[2], end);
    int s1 = 0, s2 = 0;
    const int lo = m_TableIo->SearchIndexedFieldBound(start, full, false, m_KeyFieldCount, s1, m_IndexIdx, true);
    const int hi = m_TableIo->SearchIndexedFieldBound(end, full, false, m_KeyFieldCount, s2, m_IndexIdx, false);
    // A master with no matching detail shows none, not the previous master's details.
    if (s1 == 0 && s2 == 0 && lo >= 0 && hi >= lo)
        m_RecList = TRecInfoList(full.begin() + lo, full.begin() + hi + 1);
    else
        m_RecList = TRecInfoList();
    m_CurRec = -1;
    m_RangeActive = true;
}

void TDictTable::MasterDisabled()
{
    if (!Active())
        return;
    CheckBrowseMode();
    UpdateCursorPos();
    ReadIndexList();
    Resync({});
    First();
    m_CanModify = true;
    m_RangeActive = false;
    m_KeyFieldCount = 0;
    if (Filtered())
        ActivateFilter();
}

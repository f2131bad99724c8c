// How a write keeps the file whole
//
// The file only grows: nothing is freed or moved, so new bytes go to space nothing refers
// to yet. An append or a modify is planned whole before its first write (unique checks, the
// auto-increment value, the record's place in every index, the encoded blobs, where every
// new byte goes), then written in this order:
//
//   append                                       modify
//   1. one run at the end of the file: a         1. the new blob areas at the end of the
//      record-tab block when the record begins      file
//      one, the record, its blob areas, a block
//      of each index tab when one begins
//   2. the record's entries in tab blocks that   2. the record leaves each chain it moves
//      exist, or the links to the new blocks:       in (its predecessor's link, or the
//      beyond the record total, so unread           head and a new auto-increment value
//                                                   in the table header)
//   3. the commit point: the table header        3. the commit point: the record's bytes,
//      counts the record and heads the chains       in place, in one write
//      it leads
//   4. each predecessor's link to the record     4. each such chain links it again where
//                                                   its new key belongs, its own link
//                                                   first
//
// Three words, each with this one meaning here:
//   fresh writes  the writes to bytes no reader reads yet: steps 1 and 2 of an append, step
//                 1 of a modify (WriteAppendFresh, WriteModifyFresh).
//   live writes   the writes from the first one a reader sees to the last link: steps 3 and
//                 4 of an append, 2 to 4 of a modify (RunLiveWrites).
//   commit point  step 3, the one write that decides whether the operation took place: a
//                 crash before it leaves the operation undone, a crash after it done.
// A delete is one byte, the record-tab entry's mark: it is written or it is not.
//
// What the write order holds in the file whatever write fails or a crash interrupts:
//   I1 fresh first: every fresh write comes before the first live write, and a record's
//      own link before any link that leads to it, so nothing a reader reads leads to a
//      byte not yet written. With write-verify on, blobs are read back after their fresh
//      write.
//   I2 known until live: a write that fails before the live writes leaves the file as this
//      object knows it; one that fails during them may leave the file ahead of this object,
//      which then refuses to write until the table is loaded anew.
//   I3 one torn record: from the first live write to the last link, a chain misses at most
//      one record, the one appended or moved, whose bytes hold its old key before a
//      modify's commit point and its new key after it.
//
// Mending. A load mends exactly what I3 allows: a chain that holds every other record once,
// without a loop, gets the missing one linked in where its key, as the file holds it,
// belongs among the live records (a deleted one goes to the head); a writer writes the
// mended links back under its exclusive lock. Every other damage (a chain missing two
// records, a loop, an entry or a record out of range) is refused as a damaged file.
//
// What holds in memory after every load and write; builds with assertions check each by its
// name, whole after a load and, after a write, at the records the write touched:
//   I4 tab per record: one record-tab entry per record the header counts.
//   I5 links agree: in every index the chain's entries and the predecessor list agree: a
//      record's successor has it as predecessor, and only the head has none.
//   I6 every record once: each chain, walked from its head, holds every record, deleted
//      ones included, exactly once.

#include "dictdb/DictTableIO.h"

#include "dictdb/DictDBFileIO.h"
#include "dictdb/FilterParser.h"

#include <algorithm>
#include <cassert>
#include <cstring>

using namespace dictdb;

namespace {

const char *const kSTableNotFound = "Table '%s' not found";
const char *const kSInvalidUniqueValue = "Invalid unique field value '%s'";
const char *const kSTableChanged = "Table '%s' was changed by another program; open it again";
const char *const kSTableUnfinished = "Table '%s' was left unfinished by a failed write; open it again";
const char *const kSVerifyFailed = "Blob of field '%s' does not read back as written";
const char *const kSTableFull = "Table '%s' holds the most records a table can";
const char *const kSFileTooLarge = "Database file '%s' would exceed 2 GiB";
const int kVerifyAttempts = 3;

QString L(const char *S)
{
    return QString::fromLatin1(S);
}

bool IsStringField(TFieldType T)
{
    return T == ftString || T == ftFixedChar;
}

// A truth value is stored in 16 bits, any non-zero meaning true; it is kept as 0 or 1 so
// that one-byte readers agree.
void NormalizeValue(TFieldType Type, char *Data, int Size)
{
    if (Size <= 0)
        return;
    if (Type == ftBoolean && Size >= 2) {
        const bool on = Data[0] != 0 || Data[1] != 0;
        Data[0] = on ? 1 : 0;
        Data[1] = 0;
    } else if (IsStringField(Type)) {
        Data[Size - 1] = 0;
    }
}

struct LockGuard
{
    TDictDBFileIO *Io;
    LockGuard(TDictDBFileIO *F, bool Write) : Io(F) { Io->Lock(Write); }
    ~LockGuard() { Io->Unlock(); }
};

qint32 SlotSize(const TDictFieldDef *Def)
{
    return IsBlobFieldType(Def->FieldType) ? kBlobSlotSize : GetFieldSize(Def->FieldType, Def->FieldSize);
}

// Entry Number of a vector held per record, field, index or list position: the engine counts
// in int32, never negative where it indexes.
template <class Items>
bool Holds(const Items &List, qint64 Number)
{
    return Number >= 0 && std::size_t(Number) < List.size();
}

template <class Items>
decltype(auto) Nth(Items &List, qint64 Number)
{
    assert(Holds(List, Number));
    return List[std::size_t(Number)];
}

// The buffer of field FieldIdx when the caller gave it a value.
TFieldBufferItem *ActiveItem(TFieldBuffers &Buffers, int FieldIdx)
{
    TFieldBufferItem *item = FieldIdx < Buffers.Count() ? Buffers.Items(FieldIdx) : nullptr;
    return item && item->Active && item->Buffer ? item : nullptr;
}

TMemoryStream *BlobValue(TFieldBufferItem *Item)
{
    return Item && Item->IsBlob() ? Item->BlobStream() : nullptr;
}

} // namespace

TDictTableIO::TDictTableIO(TDictDBFileOwner *ADatabase)
    : Database(ADatabase), m_FieldDefs(std::make_unique<TDictFieldDefs>(nullptr)),
      m_IndexDefs(std::make_unique<TDictIndexDefs>(nullptr))
{}

TDictTableIO::TDictTableIO(TDictDBFileIO *AFileIO)
    : m_OwnFileIo(AFileIO), m_FieldDefs(std::make_unique<TDictFieldDefs>(nullptr)),
      m_IndexDefs(std::make_unique<TDictIndexDefs>(nullptr))
{}

TDictTableIO::~TDictTableIO() = default;

TDictDBFileIO *TDictTableIO::CurrentFileIO() const
{
    return Database ? Database->FileIO() : m_OwnFileIo;
}

TRecInfoList &TDictTableIO::IndexList(int IndexIdx)
{
    return Nth(IndexLists, IndexIdx + 1);
}

TRecordTabItem &TDictTableIO::RecTab(qint32 RecIdx)
{
    return Nth(m_RecTabItems, RecIdx);
}

const TRecordTabItem &TDictTableIO::RecTab(qint32 RecIdx) const
{
    return Nth(m_RecTabItems, RecIdx);
}

TIndexTabItem &TDictTableIO::ChainEntry(int IndexIdx, qint32 RecIdx)
{
    return Nth(Nth(m_IdxTabItems, IndexIdx), RecIdx);
}

const TIndexTabItem &TDictTableIO::ChainEntry(int IndexIdx, qint32 RecIdx) const
{
    return Nth(Nth(m_IdxTabItems, IndexIdx), RecIdx);
}

qint32 &TDictTableIO::ChainPred(int IndexIdx, qint32 RecIdx)
{
    return Nth(Nth(m_IdxTabPrev, IndexIdx), RecIdx);
}

qint32 TDictTableIO::ChainPred(int IndexIdx, qint32 RecIdx) const
{
    return Nth(Nth(m_IdxTabPrev, IndexIdx), RecIdx);
}

qint32 TDictTableIO::FieldOffset(int FieldIdx) const
{
    return Nth(FieldOffsets, FieldIdx);
}

TDictDBFileIO *TDictTableIO::FileIO() const
{
    TDictDBFileIO *io = CurrentFileIO();
    if (!io || !io->IsOpen())
        DatabaseError(L(msg::kSDatabaseClosed));
    return io;
}

QString TDictTableIO::Where(int FieldIdx) const
{
    return QStringLiteral(" (table '%1', field '%2')").arg(TableName, m_FieldDefs->Items(FieldIdx)->Name());
}

void TDictTableIO::Open()
{
    if (RefCount == 0)
        Load();
    ++RefCount;
}

void TDictTableIO::Close()
{
    if (RefCount <= 0)
        return;
    if (--RefCount == 0)
        Unload();
}

void TDictTableIO::Unload()
{
    TableIdx = -1;
    m_FieldDefs->Clear();
    m_IndexDefs->Clear();
    RecordSize = 0;
    FieldOffsets.clear();
    AutoIncFieldIdx = -1;
    std::memset(&m_TableHeader, 0, sizeof m_TableHeader);
    m_RecTabItems.clear();
    m_RecTabBlockOffsets.clear();
    m_IdxTabBlockOffsets.clear();
    m_IdxTabItems.clear();
    m_IdxTabPrev.clear();
    IndexLists.clear();
    m_KeySpans.clear();
    m_Stale = false;
    ++ListsVersion;
}

// ---- loading, and mending a chain an interrupted write tore ----

void TDictTableIO::Load()
{
    TDictDBFileIO *io = FileIO();
    RepairedChains.clear();
    {
        LockGuard lock(io, false);
        LoadFromFile(false);
    }
    if (RepairedChains.empty() || io->FileIsReadOnly)
        return;
    // A writer writes the mended links back, under its exclusive lock and from a new reading
    // of the file: another writer may have mended it meanwhile.
    Unload();
    RepairedChains.clear();
    LockGuard lock(io, true);
    LoadFromFile(true);
}

void TDictTableIO::LoadFromFile(bool WriteRepairs)
{
    try {
        const int idx = FindTable();
        TTableHeader hdr;
        FileIO()->ReadTableHeader(idx, hdr);
        LoadDefinitions(hdr);
        LoadRecordTab(hdr);
        m_TableHeader = hdr;
        std::vector<std::pair<int, qint32>> torn;
        for (int k = 0; k < hdr.IndexCount; ++k)
            if (qint32 missing = -1; !LoadChain(k, missing))
                torn.push_back({k, missing});
        TableIdx = idx;
        MendTornChains(torn, WriteRepairs);
    } catch (...) {
        Unload();
        throw;
    }
    AssertInvariants();
    ++ListsVersion;
}

int TDictTableIO::FindTable() const
{
    TDictDBFileIO *io = FileIO();
    int idx = -1;
    if (LoadTableIdx >= 0) {
        if (LoadTableIdx < io->TableTab.TableCount)
            idx = LoadTableIdx;
    } else {
        QStringList names;
        io->GetTableNames(names);
        for (int i = 0; i < names.size() && idx < 0; ++i)
            if (CompareDBString(names.at(i), TableName, false, true, 0) == 0)
                idx = i;
    }
    if (idx < 0)
        DatabaseErrorFmt(L(kSTableNotFound), TableName);
    return idx;
}

void TDictTableIO::LoadDefinitions(const TTableHeader &Header)
{
    m_FieldDefs->BeginUpdate();
    for (int f = 0; f < Header.FieldCount; ++f) {
        const TFieldTabItem &fi = Header.FieldTab[f];
        TDictFieldDef *def = m_FieldDefs->Add();
        def->SetName(SlotText(fi.FieldName, kNameSize));
        def->FieldType = TFieldType(fi.FieldType);
        def->FieldSize = fi.FieldSize;
        def->DPMode = fi.DPMode;
    }
    m_FieldDefs->EndUpdate();
    m_IndexDefs->BeginUpdate();
    for (int k = 0; k < Header.IndexCount; ++k) {
        const TIndexHeaderItem &ix = Header.IndexHeader[k];
        TDictIndexDef *def = m_IndexDefs->Add();
        def->SetName(SlotText(ix.IndexName, kNameSize));
        def->Options = TTDIndexOptions::fromInt(ix.IndexOptions);
        for (int n = 0; n < kMaxIndexFields && ix.IndexFields[n] != -1; ++n)
            def->FieldIdxes.push_back(qint32{ix.IndexFields[n]});
    }
    m_IndexDefs->EndUpdate();

    // The header was checked against the format's limits: these sums stay small.
    qint64 recordSize = 0;
    FieldOffsets.clear();
    AutoIncFieldIdx = -1;
    for (int f = 0; f < Header.FieldCount; ++f) {
        FieldOffsets.push_back(qint32(recordSize));
        recordSize += SlotSize(m_FieldDefs->Items(f));
        if (TFieldType(Header.FieldTab[f].FieldType) == ftAutoInc && AutoIncFieldIdx < 0)
            AutoIncFieldIdx = f;
    }
    if (recordSize > kMaxRecordSize)
        FileIO()->Corrupt("record size too large");
    RecordSize = qint32(recordSize);
    m_KeySpans.clear();
    for (int k = 0; k < Header.IndexCount; ++k) {
        TKeySpan span{RecordSize, 0};
        for (const qint32 f : m_IndexDefs->Items(k)->FieldIdxes) {
            span.Lo = qMin(span.Lo, FieldOffset(f));
            span.Hi = qMax(span.Hi, FieldOffset(f) + SlotSize(m_FieldDefs->Items(f)));
        }
        span.Hi = qMax(span.Hi, span.Lo);
        m_KeySpans.push_back(span);
    }
}

void TDictTableIO::LoadRecordTab(const TTableHeader &Header)
{
    TDictDBFileIO *io = FileIO();
    io->ReadRecordTabItems(Header, m_RecTabItems, m_RecTabBlockOffsets);
    const qint64 size = io->FileSize();
    IndexLists.assign(std::size_t(Header.IndexCount) + 1, TRecInfoList());
    for (qint32 r = 0; r < Header.RecordTotal; ++r) {
        const TRecordTabItem &it = RecTab(r);
        if (it.DeleteFlag != 0)
            continue;
        if (it.DataOffset < kDataStart || it.DataOffset > size - RecordSize)
            io->Corrupt("record data outside the file");
        IndexList(-1).push_back({it.DataOffset, r});
    }
    m_IdxTabBlockOffsets.assign(std::size_t(Header.IndexCount), TIntegerAry());
    m_IdxTabItems.assign(std::size_t(Header.IndexCount), TIndexTabItems());
    m_IdxTabPrev.assign(std::size_t(Header.IndexCount), TIntegerAry());
}

bool TDictTableIO::LoadChain(int IndexIdx, qint32 &Missing)
{
    TDictDBFileIO *io = FileIO();
    const TIndexHeaderItem &ix = m_TableHeader.IndexHeader[IndexIdx];
    const qint32 total = m_TableHeader.RecordTotal;
    if (total == 0)
        return true;
    if (ix.IndexTabOffset == 0)
        io->Corrupt("index without a tab");
    TIndexTabItems &items = Nth(m_IdxTabItems, IndexIdx);
    io->ReadIndexTabItems(m_TableHeader, IndexIdx, Nth(m_IdxTabBlockOffsets, IndexIdx), items);
    for (qint32 r = 0; r < total; ++r) {
        const TIndexTabItem &e = Nth(items, r);
        if (e.RecIndex != r || e.NextRecIndex < -1 || e.NextRecIndex >= total)
            io->Corrupt("bad index entry");
    }
    // Every record, deleted ones included, lies once on the chain.
    TIntegerAry &prev = Nth(m_IdxTabPrev, IndexIdx);
    prev.assign(std::size_t(total), -1);
    std::vector<bool> seen(std::size_t(total), false);
    TRecInfoList &list = IndexList(IndexIdx);
    qint32 steps = 0;
    for (qint32 r = ix.StartIndex, before = -1; r != -1; before = r, r = Nth(items, r).NextRecIndex) {
        if (r < 0 || r >= total || Nth(seen, r))
            io->Corrupt("index chain loops");
        Nth(seen, r) = true;
        Nth(prev, r) = before;
        ++steps;
        if (RecTab(r).DeleteFlag == 0)
            list.push_back({RecTab(r).DataOffset, r});
    }
    if (steps == total)
        return true;
    if (!IsTornChain(seen, Missing))
        io->Corrupt("index chain misses records");
    if (!RepairTornChains)
        io->Corrupt(QStringLiteral("index '%1' misses record %2, torn by an interrupted write")
                        .arg(m_IndexDefs->Items(IndexIdx)->Name())
                        .arg(Missing));
    return false;
}

void TDictTableIO::MendTornChains(const std::vector<std::pair<int, qint32>> &Torn, bool Write)
{
    // The mends come last: a torn chain's record is placed by a search of the others.
    bool headerChanged = false;
    for (const auto &[k, r] : Torn) {
        MendChain(k, r, Write, headerChanged);
        RepairedChains.push_back({k, r});
    }
    if (Write && headerChanged)
        FileIO()->WriteTableHeader(TableIdx, m_TableHeader);
}

void TDictTableIO::AssertInvariants() const
{
    AssertTabPerRecord();
    for (int k = 0; k < m_IndexDefs->Count(); ++k) {
        for (qint32 r = 0; r < qint32(Nth(m_IdxTabPrev, k).size()); ++r)
            AssertLinksAgree(k, r);
        AssertEveryRecordOnce(k);
    }
}

void TDictTableIO::AssertTabPerRecord() const
{
    assert(m_RecTabItems.size() == std::size_t(m_TableHeader.RecordTotal) && "I4 tab per record");
}

void TDictTableIO::AssertLinksAgree(int IndexIdx, qint32 RecIdx) const
{
    const qint32 pred = ChainPred(IndexIdx, RecIdx);
    const qint32 next = ChainEntry(IndexIdx, RecIdx).NextRecIndex;
    assert((pred < 0 ? m_TableHeader.IndexHeader[IndexIdx].StartIndex == RecIdx
                     : ChainEntry(IndexIdx, pred).NextRecIndex == RecIdx) &&
           "I5 links agree");
    assert((next < 0 || ChainPred(IndexIdx, next) == RecIdx) && "I5 links agree");
    (void)pred;
    (void)next;
}

void TDictTableIO::AssertEveryRecordOnce(int IndexIdx) const
{
#ifndef NDEBUG
    const qint32 total = m_TableHeader.RecordTotal;
    std::vector<bool> seen(std::size_t(total), false);
    qint32 steps = 0;
    for (qint32 r = total == 0 ? -1 : m_TableHeader.IndexHeader[IndexIdx].StartIndex; r != -1;
         r = ChainEntry(IndexIdx, r).NextRecIndex) {
        assert(Holds(seen, r) && !Nth(seen, r) && "I6 every record once");
        Nth(seen, r) = true;
        ++steps;
    }
    assert(steps == total && "I6 every record once");
#else
    (void)IndexIdx;
#endif
}

bool TDictTableIO::IsTornChain(const std::vector<bool> &OnChain, qint32 &Missing)
{
    Missing = -1;
    for (std::size_t r = 0; r < OnChain.size(); ++r)
        if (!OnChain[r]) {
            if (Missing >= 0)
                return false;
            Missing = qint32(r);
        }
    return Missing >= 0;
}

void TDictTableIO::MendChain(int IndexIdx, qint32 RecIdx, bool Write, bool &HeaderChanged)
{
    qint32 pred = -1;
    const TRecordTabItem &tab = RecTab(RecIdx);
    if (tab.DeleteFlag == 0) {
        // The record goes where its key (as the file now holds it) belongs.
        const std::vector<char> raw = ReadRecordBytes(tab.DataOffset);
        const TKey key = KeyOfRecord(raw.data(), IndexIdx);
        TRecInfoList &list = IndexList(IndexIdx);
        int state = 0;
        const int found = Search(key, list, false, 0, state, IndexIdx);
        const int pos = InsertPosOf(found, state);
        pred = pos > 0 ? Nth(list, pos - 1).RecIndex : -1;
        list.insert(list.begin() + pos, TRecInfo{tab.DataOffset, RecIdx});
    }
    LinkAfter(IndexIdx, RecIdx, pred, HeaderChanged, Write);
}

std::vector<char> TDictTableIO::ReadRecordBytes(qint32 DataOffset)
{
    std::vector<char> raw(static_cast<std::size_t>(RecordSize));
    FileIO()->ReadBuffer(raw.data(), DataOffset, RecordSize);
    return raw;
}

qint64 TDictTableIO::RecTabPosition(int RecIdx) const
{
    if (!Holds(m_RecTabItems, RecIdx))
        DatabaseError(L(msg::kSGeneralError));
    return qint64(Nth(m_RecTabBlockOffsets, RecIdx / kTabBlockEntries)) + 4 +
        qint64(RecIdx % kTabBlockEntries) * kRecordTabEntrySize;
}

qint64 TDictTableIO::IdxTabPosition(int IndexIdx, int RecIdx) const
{
    return qint64(Nth(Nth(m_IdxTabBlockOffsets, IndexIdx), RecIdx / kTabBlockEntries)) + 4 +
        qint64(RecIdx % kTabBlockEntries) * kIndexTabEntrySize;
}

bool TDictTableIO::FieldIsEncrypted(int FieldIdx) const
{
    const TDictDBFileIO *io = CurrentFileIO();
    return io && io->Encrypted() && m_FieldDefs->Items(FieldIdx)->DPMode == 0;
}

bool TDictTableIO::FieldIsCompressed(int FieldIdx) const
{
    const TDictDBFileIO *io = CurrentFileIO();
    const TDictFieldDef *def = m_FieldDefs->Items(FieldIdx);
    return io && io->Compressed() && def->DPMode == 0 && IsBlobFieldType(def->FieldType);
}

int TDictTableIO::GetPrimaryIndexIdx() const
{
    for (int k = 0; k < m_IndexDefs->Count(); ++k)
        if (m_IndexDefs->Items(k)->Options.testFlag(tiPrimary))
            return k;
    return -1;
}

// ---- reading ----

void TDictTableIO::ReadFieldData(TStream *Dest, int RecIdx, int FieldIdx)
{
    TDictDBFileIO *io = FileIO();
    if (FieldIdx < 0 || FieldIdx >= m_FieldDefs->Count())
        DatabaseError(L(msg::kSGeneralError));
    const TDictFieldDef *def = m_FieldDefs->Items(FieldIdx);
    const bool blob = IsBlobFieldType(def->FieldType);
    const qint32 size = SlotSize(def);
    try {
        io->ReadFieldData(Dest, RecTabPosition(RecIdx), FieldIsCompressed(FieldIdx), FieldIsEncrypted(FieldIdx), blob,
                          size, FieldOffset(FieldIdx));
    } catch (const EDatabaseError &e) {
        DatabaseError(e.Message() + Where(FieldIdx));
    }
    if (!blob)
        if (auto *m = dynamic_cast<TMemoryStream *>(Dest))
            NormalizeValue(def->FieldType, static_cast<char *>(m->Memory()), int(qMin<qint64>(m->Size(), size)));
}

QByteArray TDictTableIO::RecordValue(int RecIdx, int FieldIdx)
{
    TMemoryStream s;
    ReadFieldData(&s, RecIdx, FieldIdx);
    // QByteArray keeps a NUL after its bytes, so texts and blobs read as C strings.
    return QByteArray(static_cast<const char *>(s.Memory()), int(s.Size()));
}

QByteArray TDictTableIO::FieldValueOf(const char *RawRecord, int FieldIdx)
{
    TDictDBFileIO *io = FileIO();
    const TDictFieldDef *def = m_FieldDefs->Items(FieldIdx);
    const qint32 off = FieldOffset(FieldIdx);
    if (IsBlobFieldType(def->FieldType)) {
        TBlobSlot bs;
        std::memcpy(&bs, RawRecord + off, sizeof bs);
        TMemoryStream s;
        io->ReadBlobData(&s, bs, FieldIsCompressed(FieldIdx), FieldIsEncrypted(FieldIdx), Where(FieldIdx));
        return QByteArray(static_cast<const char *>(s.Memory()), int(s.Size()));
    }
    const qint32 slot = SlotSize(def);
    QByteArray value(slot, '\0');
    io->DecodeMemoryBuffer(RawRecord + off, value.data(), FieldIsEncrypted(FieldIdx), slot);
    NormalizeValue(def->FieldType, value.data(), slot);
    return value;
}

void TDictTableIO::ReadRecordData(TFieldBuffers &FieldBuffers, const TRecInfoList &List, int Pos)
{
    TDictDBFileIO *io = FileIO();
    if (!Holds(List, Pos))
        return;
    const TRecInfo info = Nth(List, Pos);
    LockGuard lock(io, false);
    m_Record.resize(std::size_t(RecordSize));
    io->ReadBuffer(m_Record.data(), info.DataOffset, RecordSize);
    const int n = qMin(FieldBuffers.Count(), m_FieldDefs->Count());
    for (int f = 0; f < n; ++f) {
        TFieldBufferItem *item = FieldBuffers.Items(f);
        if (!item->Active || !item->Buffer)
            continue;
        const TDictFieldDef *def = m_FieldDefs->Items(f);
        const qint32 off = FieldOffset(f);
        if (IsBlobFieldType(def->FieldType)) {
            TMemoryStream *stream = item->IsBlob() ? item->BlobStream() : nullptr;
            if (!stream)
                continue;
            if (auto *o = dynamic_cast<TOptimBlobStream *>(stream)) {
                o->SetBlobInfo(io, info.DataOffset + off, FieldIsEncrypted(f), FieldIsCompressed(f), Where(f));
            } else {
                TBlobSlot bs;
                std::memcpy(&bs, m_Record.data() + off, sizeof bs);
                io->ReadBlobData(stream, bs, FieldIsCompressed(f), FieldIsEncrypted(f), Where(f));
                stream->SetPosition(0);
            }
            continue;
        }
        const qint32 slot = GetFieldSize(def->FieldType, def->FieldSize);
        const int size = int(qMin(slot, item->FieldSize));
        if (size <= 0)
            continue;
        if (size == slot) {
            io->DecodeMemoryBuffer(m_Record.data() + off, item->Buffer, FieldIsEncrypted(f), size);
        } else {
            // A buffer narrower than the slot still gets a whole, decoded slot's prefix.
            std::vector<char> tmp(static_cast<std::size_t>(slot));
            io->DecodeMemoryBuffer(m_Record.data() + off, tmp.data(), FieldIsEncrypted(f), slot);
            std::memcpy(item->Buffer, tmp.data(), std::size_t(size));
        }
        NormalizeValue(def->FieldType, static_cast<char *>(item->Buffer), size);
    }
}

// ---- keys and searching ----

int TDictTableIO::CompareFieldValue(const void *Value1, const void *Value2, bool PartialCompare, bool CaseInsensitive,
                                    TFieldType FieldType)
{
    return ::CompareFieldValue(Value1, Value2, PartialCompare, CaseInsensitive, FieldType);
}

void TDictTableIO::PrepareFixedField(int FieldIdx, const TFieldBufferItem *Item, char *Dest)
{
    const TDictFieldDef *def = m_FieldDefs->Items(FieldIdx);
    const qint32 slot = GetFieldSize(def->FieldType, def->FieldSize);
    std::memset(Dest, 0, std::size_t(slot));
    if (Item && Item->Buffer && !Item->IsBlob())
        std::memcpy(Dest, Item->Buffer, std::size_t(qBound(0, Item->FieldSize, slot)));
    if (IsStringField(def->FieldType)) {
        // Text ends at its first NUL, fits the slot with a NUL and never ends inside a character.
        const void *nul = std::memchr(Dest, 0, std::size_t(slot));
        const int len = nul ? int(static_cast<const char *>(nul) - Dest) : slot;
        const int keep = Utf8CutLength(Dest, len, slot - 1);
        std::memset(Dest + keep, 0, std::size_t(slot - keep));
    } else {
        NormalizeValue(def->FieldType, Dest, slot);
    }
}

TDictTableIO::TKey TDictTableIO::KeyOfBuffers(TFieldBuffers &FieldBuffers, int IndexIdx, const char *FallbackRecord)
{
    const TDictIndexDef *ix = m_IndexDefs->Items(IndexIdx);
    TKey key;
    key.Values.reserve(ix->FieldIdxes.size());
    for (const qint32 f : ix->FieldIdxes) {
        const TDictFieldDef *def = m_FieldDefs->Items(f);
        const bool blob = IsBlobFieldType(def->FieldType);
        const TFieldBufferItem *item = f < FieldBuffers.Count() ? FieldBuffers.Items(f) : nullptr;
        QByteArray value;
        if (item && item->Active && item->Buffer) {
            if (item->IsBlob()) {
                TMemoryStream *s = item->BlobStream();
                if (auto *o = dynamic_cast<TOptimBlobStream *>(s))
                    o->LoadIfNeeded();
                value = QByteArray(static_cast<const char *>(s->Memory()), int(s->Size()));
            } else if (!blob) {
                value.resize(GetFieldSize(def->FieldType, def->FieldSize));
                PrepareFixedField(f, item, value.data());
            }
        } else if (FallbackRecord) {
            value = FieldValueOf(FallbackRecord, f);
        }
        if (!blob && value.size() < SlotSize(def))
            value.append(QByteArray(SlotSize(def) - value.size(), '\0'));
        key.Values.push_back(value);
    }
    return key;
}

TDictTableIO::TKey TDictTableIO::KeyOfRecord(const char *RawRecord, int IndexIdx)
{
    TKey key;
    for (const qint32 f : m_IndexDefs->Items(IndexIdx)->FieldIdxes)
        key.Values.push_back(FieldValueOf(RawRecord, f));
    return key;
}

int TDictTableIO::CompareKeyAt(const TKey &Key, const TRecInfo &Entry, int IndexIdx, bool PartialCompare,
                               int FieldCount, bool Run)
{
    TDictDBFileIO *io = FileIO();
    const TDictIndexDef *ix = m_IndexDefs->Items(IndexIdx);
    const bool ci = ix->Options.testFlag(tiCaseInsensitive);
    int n = int(ix->FieldIdxes.size());
    if (FieldCount > 0 && FieldCount < n)
        n = FieldCount;
    // One read of the bytes that hold the key fields, from the file, at every probe.
    const TKeySpan &span = Nth(m_KeySpans, IndexIdx);
    const qint32 spanSize = span.Hi - span.Lo;
    if (m_Probe.size() < std::size_t(spanSize) * 2)
        m_Probe.resize(std::size_t(spanSize) * 2);
    char *raw = m_Probe.data();
    char *plain = raw + spanSize;
    io->ReadBuffer(raw, qint64(Entry.DataOffset) + span.Lo, spanSize);
    int c = 0;
    for (int i = 0; i < n && c == 0; ++i) {
        const int f = Nth(ix->FieldIdxes, i);
        const TDictFieldDef *def = m_FieldDefs->Items(f);
        const bool blob = IsBlobFieldType(def->FieldType);
        // The run of a partial text: its leading characters case-folded, as the index orders first.
        const bool runEnd = Run && PartialCompare &&
            (blob || IsStringField(def->FieldType) || def->FieldType == ftWideString || def->FieldType == ftGuid);
        if (blob) {
            const QByteArray value = FieldValueOf(raw - span.Lo, f);
            c = CompareFieldValue(Key.Values[i].constData(), value.constData(), PartialCompare, ci || runEnd, ftString);
        } else {
            const qint32 at = FieldOffset(f) - span.Lo;
            const qint32 slot = GetFieldSize(def->FieldType, def->FieldSize);
            io->DecodeMemoryBuffer(raw + at, plain + at, FieldIsEncrypted(f), slot);
            NormalizeValue(def->FieldType, plain + at, slot);
            c = CompareFieldValue(Key.Values[i].constData(), plain + at, PartialCompare, ci || runEnd, def->FieldType);
        }
        if (runEnd)
            break;
    }
    if (ix->Options.testFlag(tiDescending))
        c = -c;
    return c;
}

int TDictTableIO::Search(const TKey &Key, const TRecInfoList &List, bool PartialCompare, int FieldCount,
                         int &ResultState, int IndexIdx, int Skip)
{
    ResultState = -2;
    const int count = int(List.size()) - (Skip >= 0 ? 1 : 0);
    const auto at = [&](int I) -> const TRecInfo & { return Nth(List, Skip >= 0 && I >= Skip ? I + 1 : I); };
    int low = 0, high = count - 1, result = -1;
    while (low <= high) {
        const int mid = low + (high - low) / 2;
        result = mid;
        const int c = CompareKeyAt(Key, at(mid), IndexIdx, PartialCompare, FieldCount);
        if (c == 0) {
            ResultState = 0;
            break;
        }
        if (c < 0) {
            high = mid - 1;
            ResultState = -1;
        } else {
            low = mid + 1;
            ResultState = 1;
        }
    }
    return result;
}

int TDictTableIO::SearchBound(const TKey &Key, const TRecInfoList &List, bool PartialCompare, int FieldCount,
                              int &ResultState, int IndexIdx, bool LowBound, bool Run)
{
    ResultState = -2;
    int low = 0, high = int(List.size()) - 1, result = -1;
    bool found = false;
    while (low <= high) {
        const int mid = low + (high - low) / 2;
        const int c = CompareKeyAt(Key, Nth(List, mid), IndexIdx, PartialCompare, FieldCount, Run);
        if (c == 0) {
            found = true;
            result = mid;
            ResultState = 0;
            if (LowBound)
                high = mid - 1;
            else
                low = mid + 1;
            continue;
        }
        if (!found)
            result = mid;
        if (c < 0) {
            high = mid - 1;
            if (!found)
                ResultState = -1;
        } else {
            low = mid + 1;
            if (!found)
                ResultState = 1;
        }
    }
    return result;
}

int TDictTableIO::InsertPosOf(int Pos, int ResultState)
{
    if (ResultState == 0 || ResultState == 1)
        return Pos + 1;
    if (ResultState == -2)
        return 0;
    return Pos;
}

int TDictTableIO::SearchIndexedField(TFieldBuffers &FieldBuffers, const TRecInfoList &List, bool PartialCompare,
                                     int FieldCount, int &ResultState, int IndexIdx)
{
    const TKey key = KeyOfBuffers(FieldBuffers, IndexIdx);
    return Search(key, List, PartialCompare, FieldCount, ResultState, IndexIdx);
}

int TDictTableIO::SearchIndexedFieldBound(TFieldBuffers &FieldBuffers, const TRecInfoList &List, bool PartialCompare,
                                          int FieldCount, int &ResultState, int IndexIdx, bool LowBound)
{
    const TKey key = KeyOfBuffers(FieldBuffers, IndexIdx);
    return SearchBound(key, List, PartialCompare, FieldCount, ResultState, IndexIdx, LowBound);
}

std::vector<int> TDictTableIO::SearchIndexedFieldMatches(TFieldBuffers &FieldBuffers, const TRecInfoList &List,
                                                         bool PartialCompare, int FieldCount, int IndexIdx,
                                                         bool FirstOnly)
{
    const TKey key = KeyOfBuffers(FieldBuffers, IndexIdx);
    std::vector<int> matches;
    int state = 0;
    const int lo = SearchBound(key, List, PartialCompare, FieldCount, state, IndexIdx, true, true);
    if (state != 0 || lo < 0)
        return matches;
    const int hi = SearchBound(key, List, PartialCompare, FieldCount, state, IndexIdx, false, true);
    for (int i = lo; i <= hi && Holds(List, i); ++i) {
        if (CompareKeyAt(key, Nth(List, i), IndexIdx, PartialCompare, FieldCount) != 0)
            continue;
        matches.push_back(i);
        if (FirstOnly)
            break;
    }
    return matches;
}

int TDictTableIO::SearchInsertPos(TFieldBuffers &FieldBuffers, int IndexIdx, int &ResultState)
{
    const TKey key = KeyOfBuffers(FieldBuffers, IndexIdx);
    const int found = Search(key, IndexList(IndexIdx), false, 0, ResultState, IndexIdx);
    return InsertPosOf(found, ResultState);
}

int TDictTableIO::FindInList(int IndexIdx, int RecIdx, const TKey &Key)
{
    const TRecInfoList &list = IndexList(IndexIdx);
    if (const int pos = FindByKey(list, IndexIdx, RecIdx, Key); pos >= 0)
        return pos;
    // A list whose order the keys no longer explain (a file written with another order of
    // texts) is walked whole.
    for (int i = 0; Holds(list, i); ++i)
        if (Nth(list, i).RecIndex == RecIdx)
            return i;
    return -1;
}

int TDictTableIO::FindByKey(const TRecInfoList &List, int IndexIdx, int RecIdx, const TKey &Key)
{
    int state = 0;
    const int pos = Search(Key, List, false, 0, state, IndexIdx);
    if (state != 0)
        return -1;
    if (Nth(List, pos).RecIndex == RecIdx)
        return pos;
    // Among equal keys: the run is found by two more searches, then walked in memory.
    int s1 = 0, s2 = 0;
    const int lo = SearchBound(Key, List, false, 0, s1, IndexIdx, true);
    const int hi = SearchBound(Key, List, false, 0, s2, IndexIdx, false);
    for (int i = qMax(lo, 0); s1 == 0 && s2 == 0 && i <= hi && Holds(List, i); ++i)
        if (Nth(List, i).RecIndex == RecIdx)
            return i;
    return -1;
}

int TDictTableIO::FindRecord(const TRecInfoList &List, int IndexIdx, int RecIdx)
{
    if (IndexIdx < 0 || IndexIdx >= m_IndexDefs->Count())
        DatabaseError(L(msg::kSGeneralError));
    if (!Holds(m_RecTabItems, RecIdx))
        return -1;
    const std::vector<char> raw = ReadRecordBytes(RecTab(RecIdx).DataOffset);
    return FindByKey(List, IndexIdx, RecIdx, KeyOfRecord(raw.data(), IndexIdx));
}

int TDictTableIO::CompareRecordKeys(int RecA, int RecB, int IndexIdx)
{
    if (IndexIdx < 0 || IndexIdx >= m_IndexDefs->Count() || !Holds(m_RecTabItems, RecA) || !Holds(m_RecTabItems, RecB))
        DatabaseError(L(msg::kSGeneralError));
    const std::vector<char> raw = ReadRecordBytes(RecTab(RecA).DataOffset);
    const TKey key = KeyOfRecord(raw.data(), IndexIdx);
    return CompareKeyAt(key, TRecInfo{RecTab(RecB).DataOffset, RecB}, IndexIdx, false, 0);
}

void TDictTableIO::RaiseDuplicate(int IndexIdx, TFieldBuffers &FieldBuffers, const char *FallbackRecord)
{
    QStringList values;
    for (int f : m_IndexDefs->Items(IndexIdx)->FieldIdxes) {
        const TFieldBufferItem *item = f < FieldBuffers.Count() ? FieldBuffers.Items(f) : nullptr;
        if (item && item->Active && item->Buffer) {
            values << item->AsString();
        } else if (FallbackRecord) {
            const QByteArray v = FieldValueOf(FallbackRecord, f);
            TFieldBufferItem tmp;
            tmp.Buffer = const_cast<char *>(v.constData());
            tmp.FieldType = m_FieldDefs->Items(f)->FieldType;
            tmp.FieldSize = int(v.size());
            values << (tmp.IsBlob() ? QString::fromUtf8(v.constData()) : tmp.AsString());
            tmp.Buffer = nullptr;
        } else {
            values << QString();
        }
    }
    DatabaseErrorFmt(L(kSInvalidUniqueValue), values.join(QLatin1Char(',')));
}

// ---- writing ----

void TDictTableIO::CheckWritable()
{
    if (m_Stale) // a live write failed (I2)
        DatabaseErrorFmt(L(kSTableUnfinished), TableName);
    // The bytes alone: equal to the header this object checked when it loaded, they need no
    // second check.
    TDictDBFileIO *io = FileIO();
    TTableHeader cur;
    io->ReadBuffer(&cur, io->TableTab.TableHeaderOffset[TableIdx], sizeof cur);
    if (std::memcmp(&cur, &m_TableHeader, sizeof cur) != 0)
        DatabaseErrorFmt(L(kSTableChanged), TableName);
}

void TDictTableIO::CheckEntries(std::vector<std::pair<int, int>> Entries)
{
    // A relink may rely on one entry twice (a record moved past its successor): read once.
    std::sort(Entries.begin(), Entries.end());
    Entries.erase(std::unique(Entries.begin(), Entries.end()), Entries.end());
    TDictDBFileIO *io = FileIO();
    for (const auto &[k, rec] : Entries) {
        if (rec < 0)
            continue;
        TIndexTabItem onDisk;
        io->ReadBuffer(&onDisk, IdxTabPosition(k, rec), sizeof onDisk);
        const TIndexTabItem &mine = ChainEntry(k, rec);
        if (onDisk.RecIndex != mine.RecIndex || onDisk.NextRecIndex != mine.NextRecIndex)
            DatabaseErrorFmt(L(kSTableChanged), TableName);
    }
}

QByteArray TDictTableIO::EncodeBlob(TMemoryStream *Value, int FieldIdx)
{
    TMemoryStream empty;
    TMemoryStream *src = Value ? Value : &empty;
    if (auto *o = dynamic_cast<TOptimBlobStream *>(src))
        o->LoadIfNeeded();
    TMemoryStream out;
    const qint64 pos = src->Position();
    FileIO()->EncodeMemoryStream(src, &out, FieldIsCompressed(FieldIdx), FieldIsEncrypted(FieldIdx));
    src->SetPosition(pos);
    if (BlobCapacity(out.Size()) >= kMaxFileSize)
        DatabaseErrorFmt(QStringLiteral("Blob of field '%s' is too large"), m_FieldDefs->Items(FieldIdx)->Name());
    return QByteArray(static_cast<const char *>(out.Memory()), int(out.Size()));
}

// The blob's bytes are already in place; with write-verify on they are read back and
// written again (in the same fresh area) until they decode to the value.
void TDictTableIO::WriteBlob(TMemoryStream *Value, int FieldIdx, qint64 Offset, const QByteArray &Encoded)
{
    TDictDBFileIO *io = FileIO();
    if (!io->VerifyWrites())
        return;
    TMemoryStream empty;
    TMemoryStream *src = Value ? Value : &empty;
    const qint32 want = CalcBufferCRC32(src->Memory(), int(src->Size()));
    QByteArray bytes = Encoded;
    for (int attempt = 0; attempt < kVerifyAttempts; ++attempt) {
        bool same = false;
        try {
            TMemoryStream back, decoded;
            back.SetSize(bytes.size());
            io->ReadBuffer(back.Memory(), Offset, bytes.size());
            io->DecodeMemoryStream(&back, &decoded, FieldIsCompressed(FieldIdx), FieldIsEncrypted(FieldIdx));
            same = decoded.Size() == src->Size() && CalcBufferCRC32(decoded.Memory(), int(decoded.Size())) == want;
        } catch (const EDatabaseError &) {
            same = false;
        }
        if (same)
            return;
        if (attempt + 1 == kVerifyAttempts)
            break;
        const QByteArray again = EncodeBlob(src, FieldIdx);
        if (again.size() != bytes.size())
            break;
        bytes = again;
        io->WriteBuffer(bytes.constData(), Offset, bytes.size());
    }
    DatabaseErrorFmt(L(kSVerifyFailed), m_FieldDefs->Items(FieldIdx)->Name());
}

void TDictTableIO::WriteIndexEntry(int IndexIdx, int RecIdx)
{
    const TIndexTabItem &e = ChainEntry(IndexIdx, RecIdx);
    FileIO()->WriteBuffer(&e, IdxTabPosition(IndexIdx, RecIdx), sizeof e);
}

void TDictTableIO::Unlink(int IndexIdx, int RecIdx, bool &HeaderChanged, bool Write)
{
    const qint32 p = ChainPred(IndexIdx, RecIdx);
    const qint32 next = ChainEntry(IndexIdx, RecIdx).NextRecIndex;
    if (p < 0) {
        m_TableHeader.IndexHeader[IndexIdx].StartIndex = next;
        HeaderChanged = true;
    } else {
        ChainEntry(IndexIdx, p).NextRecIndex = next;
        if (Write)
            WriteIndexEntry(IndexIdx, p);
    }
    if (next >= 0)
        ChainPred(IndexIdx, next) = p;
    ChainPred(IndexIdx, RecIdx) = -1;
}

void TDictTableIO::RunLiveWrites(const std::function<void()> &Writes)
{
    try {
        Writes();
    } catch (...) {
        m_Stale = true;
        throw;
    }
}

void TDictTableIO::LinkAfter(int IndexIdx, int RecIdx, int Predecessor, bool &HeaderChanged, bool Write)
{
    TIndexHeaderItem &ix = m_TableHeader.IndexHeader[IndexIdx];
    const qint32 next = Predecessor < 0 ? ix.StartIndex : ChainEntry(IndexIdx, Predecessor).NextRecIndex;
    // The record's own link first: until its predecessor leads to it, nothing reads it (I1).
    ChainEntry(IndexIdx, RecIdx).NextRecIndex = next;
    if (Write)
        WriteIndexEntry(IndexIdx, RecIdx);
    if (Predecessor < 0) {
        ix.StartIndex = RecIdx;
        HeaderChanged = true;
    } else {
        ChainEntry(IndexIdx, Predecessor).NextRecIndex = RecIdx;
        if (Write)
            WriteIndexEntry(IndexIdx, Predecessor);
    }
    ChainPred(IndexIdx, RecIdx) = Predecessor;
    if (next >= 0)
        ChainPred(IndexIdx, next) = RecIdx;
}

// ---- appending ----

void TDictTableIO::AppendRecordData(TFieldBuffers &FieldBuffers, bool Flush, const TOnAdjustIndexForAppend &OnAdjust)
{
    TDictDBFileIO *io = FileIO();
    if (!Loaded())
        DatabaseError(L(msg::kSGeneralError));
    LockGuard lock(io, true);
    CheckWritable();

    TAppendPlan plan;
    PlanAppendPlaces(FieldBuffers, plan);
    PlanAppendLayout(FieldBuffers, plan);
    const QByteArray image = BuildAppendImage(FieldBuffers, plan);
    CheckEntries(ReliedByAppend(plan));
    WriteAppendFresh(FieldBuffers, plan, image);
    RunLiveWrites([&] {
        io->WriteTableHeader(TableIdx, plan.Header); // the commit point
        LinkAppended(plan);
    });
    ApplyAppend(plan, OnAdjust);
    if (Flush)
        io->Flush();
}

void TDictTableIO::PlanAppendPlaces(TFieldBuffers &FieldBuffers, TAppendPlan &Plan)
{
    Plan.Header = m_TableHeader;
    Plan.Rec = Plan.Header.RecordTotal;
    if (Plan.Rec == INT32_MAX)
        DatabaseErrorFmt(L(kSTableFull), TableName);
    const int indexCount = m_IndexDefs->Count();
    Plan.Steps.assign(std::size_t(indexCount), TIndexStep());

    // The unique check comes before the auto-increment, which must not touch the caller's
    // buffer when the record is refused; its searches also give the places in the lists.
    std::vector<bool> searched(std::size_t(indexCount), false);
    for (int k = 0; k < indexCount; ++k) {
        if (!(m_IndexDefs->Items(k)->Options & (tiPrimary | tiUnique)))
            continue;
        TIndexStep &s = Nth(Plan.Steps, k);
        s.Key = KeyOfBuffers(FieldBuffers, k);
        int state = 0;
        const int pos = Search(s.Key, IndexList(k), false, 0, state, k);
        if (state == 0)
            RaiseDuplicate(k, FieldBuffers);
        s.NewPos = InsertPosOf(pos, state);
        Nth(searched, k) = true;
    }

    const bool autoAssigned = AssignAutoInc(FieldBuffers, Plan.Header);
    for (int k = 0; k < indexCount; ++k) {
        const TIntegerAry &fields = m_IndexDefs->Items(k)->FieldIdxes;
        const bool keyChanged =
            autoAssigned && std::find(fields.begin(), fields.end(), AutoIncFieldIdx) != fields.end();
        TIndexStep &s = Nth(Plan.Steps, k);
        if (!Nth(searched, k) || keyChanged) {
            s.Key = KeyOfBuffers(FieldBuffers, k);
            int state = 0;
            const int found = Search(s.Key, IndexList(k), false, 0, state, k);
            s.NewPos = InsertPosOf(found, state);
        }
        s.Pred = s.NewPos > 0 ? Nth(IndexList(k), s.NewPos - 1).RecIndex : -1;
    }
}

bool TDictTableIO::AssignAutoInc(TFieldBuffers &FieldBuffers, TTableHeader &Header)
{
    if (AutoIncFieldIdx < 0)
        return false;
    TFieldBufferItem *item = ActiveItem(FieldBuffers, AutoIncFieldIdx);
    qint32 v = 0;
    if (item && item->FieldSize >= 4)
        std::memcpy(&v, item->Buffer, 4);
    bool assigned = false;
    if (v != 0) {
        if (v > Header.AutoIncCounter)
            Header.AutoIncCounter = v;
    } else {
        if (Header.AutoIncCounter == INT32_MAX)
            DatabaseErrorFmt(L(kSTableFull), TableName);
        v = ++Header.AutoIncCounter;
        assigned = true;
    }
    if (item && item->FieldSize >= 4)
        std::memcpy(item->Buffer, &v, 4);
    return assigned;
}

void TDictTableIO::PlanAppendLayout(TFieldBuffers &FieldBuffers, TAppendPlan &Plan)
{
    TDictDBFileIO *io = FileIO();
    const int fieldCount = m_FieldDefs->Count();
    const int indexCount = m_IndexDefs->Count();
    const qint32 n = Plan.Rec;

    // Blobs are encoded first, so that the layout is known before anything is written.
    Plan.Blobs.assign(std::size_t(fieldCount), QByteArray());
    for (int f = 0; f < fieldCount; ++f)
        if (IsBlobFieldType(m_FieldDefs->Items(f)->FieldType))
            Nth(Plan.Blobs, f) = EncodeBlob(BlobValue(ActiveItem(FieldBuffers, f)), f);

    // Everything new lies in one run at the end of the file: a record-tab block when one
    // begins, the record, its blob areas, and a block of each index tab when one begins.
    Plan.NewBlock = n % kTabBlockEntries == 0;
    Plan.Start = io->FileSize();
    qint64 pos = Plan.Start;
    if (Plan.NewBlock) {
        Plan.RecBlockPos = pos;
        pos += kRecordTabBlockSize;
    }
    Plan.DataOffset = pos;
    pos += RecordSize;
    Plan.BlobPos.assign(std::size_t(fieldCount), 0);
    for (int f = 0; f < fieldCount; ++f)
        if (IsBlobFieldType(m_FieldDefs->Items(f)->FieldType)) {
            Nth(Plan.BlobPos, f) = pos;
            pos += BlobCapacity(Nth(Plan.Blobs, f).size());
        }
    Plan.IdxBlockPos.assign(std::size_t(indexCount), -1);
    if (Plan.NewBlock)
        for (int k = 0; k < indexCount; ++k) {
            Nth(Plan.IdxBlockPos, k) = pos;
            pos += kIndexTabBlockSize;
        }
    if (pos > kMaxFileSize)
        DatabaseErrorFmt(L(kSFileTooLarge), io->DatabaseName);
    Plan.End = pos;

    // The new entries of the record and index tabs.
    Plan.Tab = TRecordTabItem{qint32(Plan.DataOffset), 0};
    Plan.Entries.assign(std::size_t(indexCount), TIndexTabItem());
    for (int k = 0; k < indexCount; ++k) {
        const qint32 pred = Nth(Plan.Steps, k).Pred;
        TIndexTabItem &e = Nth(Plan.Entries, k);
        e.RecIndex = n;
        if (pred >= 0)
            e.NextRecIndex = ChainEntry(k, pred).NextRecIndex;
        else
            e.NextRecIndex = n == 0 ? -1 : Plan.Header.IndexHeader[k].StartIndex;
    }

    // The header the commit point writes: it counts the record and heads the chains it leads.
    for (int k = 0; k < indexCount; ++k)
        if (Nth(Plan.Steps, k).Pred < 0)
            Plan.Header.IndexHeader[k].StartIndex = n;
    if (n == 0) {
        Plan.Header.RecTabOffset = qint32(Plan.RecBlockPos);
        for (int k = 0; k < indexCount; ++k)
            Plan.Header.IndexHeader[k].IndexTabOffset = qint32(Nth(Plan.IdxBlockPos, k));
    }
    Plan.Header.RecordTotal = n + 1;
}

QByteArray TDictTableIO::BuildAppendImage(TFieldBuffers &FieldBuffers, const TAppendPlan &Plan)
{
    TDictDBFileIO *io = FileIO();
    QByteArray image(int(Plan.End - Plan.Start), '\0');
    const auto at = [&](qint64 Position) { return image.data() + (Position - Plan.Start); };
    if (Plan.NewBlock)
        std::memcpy(at(Plan.RecBlockPos) + 4, &Plan.Tab, sizeof Plan.Tab);
    for (int f = 0; f < m_FieldDefs->Count(); ++f) {
        const TDictFieldDef *def = m_FieldDefs->Items(f);
        char *slot = at(Plan.DataOffset) + FieldOffset(f);
        if (IsBlobFieldType(def->FieldType)) {
            const QByteArray &bytes = Nth(Plan.Blobs, f);
            const qint64 blobPos = Nth(Plan.BlobPos, f);
            std::memcpy(at(blobPos), bytes.constData(), std::size_t(bytes.size()));
            const TBlobSlot bs{qint32(blobPos), qint32(bytes.size()), qint32(BlobCapacity(bytes.size())), 0, 0};
            std::memcpy(slot, &bs, sizeof bs);
        } else {
            PrepareFixedField(f, ActiveItem(FieldBuffers, f), slot);
            io->EncodeMemoryBuffer(slot, slot, FieldIsEncrypted(f), GetFieldSize(def->FieldType, def->FieldSize));
        }
    }
    if (Plan.NewBlock)
        for (int k = 0; k < m_IndexDefs->Count(); ++k)
            std::memcpy(at(Nth(Plan.IdxBlockPos, k)) + 4, &Nth(Plan.Entries, k), sizeof(TIndexTabItem));
    return image;
}

std::vector<std::pair<int, qint32>> TDictTableIO::ReliedByAppend(const TAppendPlan &Plan) const
{
    // What the links rely on must still be in the file as this object knows it.
    std::vector<std::pair<int, qint32>> relied;
    for (int k = 0; k < m_IndexDefs->Count(); ++k)
        if (const qint32 p = Nth(Plan.Steps, k).Pred; p >= 0) {
            relied.push_back({k, p});
            relied.push_back({k, ChainPred(k, p)});
        }
    return relied;
}

void TDictTableIO::WriteAppendFresh(TFieldBuffers &FieldBuffers, const TAppendPlan &Plan, const QByteArray &Image)
{
    TDictDBFileIO *io = FileIO();
    const int indexCount = m_IndexDefs->Count();
    // Fresh space only: nothing refers to it yet (I1).
    io->WriteBuffer(Image.constData(), Plan.Start, Image.size());
    for (int f = 0; f < m_FieldDefs->Count(); ++f)
        if (IsBlobFieldType(m_FieldDefs->Items(f)->FieldType))
            WriteBlob(BlobValue(ActiveItem(FieldBuffers, f)), f, Nth(Plan.BlobPos, f), Nth(Plan.Blobs, f));
    // The new tab entries in blocks that exist, and the links to new blocks: all beyond the
    // record total, so no reader looks at them yet.
    if (!Plan.NewBlock) {
        const qint64 at = Plan.Rec % kTabBlockEntries;
        for (int k = 0; k < indexCount; ++k)
            io->WriteBuffer(&Nth(Plan.Entries, k),
                            qint64(Nth(m_IdxTabBlockOffsets, k).back()) + 4 + at * kIndexTabEntrySize,
                            sizeof(TIndexTabItem));
        io->WriteBuffer(&Plan.Tab, qint64(m_RecTabBlockOffsets.back()) + 4 + at * kRecordTabEntrySize, sizeof Plan.Tab);
    } else if (Plan.Rec > 0) {
        const qint32 next = qint32(Plan.RecBlockPos);
        io->WriteBuffer(&next, m_RecTabBlockOffsets.back(), 4);
        for (int k = 0; k < indexCount; ++k) {
            const qint32 idxNext = qint32(Nth(Plan.IdxBlockPos, k));
            io->WriteBuffer(&idxNext, Nth(m_IdxTabBlockOffsets, k).back(), 4);
        }
    }
}

void TDictTableIO::LinkAppended(const TAppendPlan &Plan)
{
    // A crash before one of these links leaves that chain missing just this record, which the
    // next load links in again (I3).
    for (int k = 0; k < m_IndexDefs->Count(); ++k)
        if (const qint32 p = Nth(Plan.Steps, k).Pred; p >= 0) {
            const TIndexTabItem link{p, Plan.Rec};
            FileIO()->WriteBuffer(&link, IdxTabPosition(k, p), sizeof link);
        }
}

void TDictTableIO::ApplyAppend(const TAppendPlan &Plan, const TOnAdjustIndexForAppend &OnAdjust)
{
    const int indexCount = m_IndexDefs->Count();
    const qint32 n = Plan.Rec;
    m_TableHeader = Plan.Header;
    m_RecTabItems.push_back(Plan.Tab);
    if (Plan.NewBlock) {
        m_RecTabBlockOffsets.push_back(qint32(Plan.RecBlockPos));
        for (int k = 0; k < indexCount; ++k)
            Nth(m_IdxTabBlockOffsets, k).push_back(qint32(Nth(Plan.IdxBlockPos, k)));
    }
    for (int k = 0; k < indexCount; ++k) {
        const qint32 p = Nth(Plan.Steps, k).Pred;
        const qint32 next = Nth(Plan.Entries, k).NextRecIndex;
        Nth(m_IdxTabItems, k).push_back(Nth(Plan.Entries, k));
        Nth(m_IdxTabPrev, k).push_back(p);
        if (p >= 0)
            ChainEntry(k, p).NextRecIndex = n;
        if (next >= 0)
            ChainPred(k, next) = n;
        AssertLinksAgree(k, n);
    }
    AssertTabPerRecord();

    const TRecInfo item{qint32(Plan.DataOffset), n};
    IndexList(-1).push_back(item);
    ++ListsVersion;
    if (OnAdjust)
        OnAdjust(-1, -1, item);
    for (int k = 0; k < indexCount; ++k) {
        const int at = Nth(Plan.Steps, k).NewPos;
        if (OnAdjust)
            OnAdjust(k, at, item);
        TRecInfoList &list = IndexList(k);
        list.insert(list.begin() + at, item);
    }
}

// ---- modifying ----

void TDictTableIO::ModifyRecordData(TFieldBuffers &FieldBuffers, int RecPos, const TOnAdjustIndexForModify &OnAdjust,
                                    bool Flush)
{
    TDictDBFileIO *io = FileIO();
    if (!Loaded() || !Holds(IndexList(-1), RecPos))
        DatabaseError(L(msg::kSGeneralError));
    LockGuard lock(io, true);
    CheckWritable();

    TModifyPlan plan;
    plan.Info = Nth(IndexList(-1), RecPos);
    plan.Old = ReadRecordBytes(plan.Info.DataOffset);
    PlanModifyPlaces(FieldBuffers, plan);
    BuildModifiedRecord(FieldBuffers, plan);
    CheckEntries(ReliedByModify(plan));
    WriteModifyFresh(plan);
    RunLiveWrites([&] {
        UnlinkMoved(plan);
        io->WriteBuffer(plan.Rec.data(), plan.Info.DataOffset, RecordSize); // the commit point
        LinkMoved(plan);
    });
    ApplyModify(plan, OnAdjust);
    if (Flush)
        io->Flush();
}

void TDictTableIO::PlanModifyPlaces(TFieldBuffers &FieldBuffers, TModifyPlan &Plan)
{
    // Where the record stands in each list now, and where its new key puts it.
    const qint32 r = Plan.Info.RecIndex;
    const int indexCount = m_IndexDefs->Count();
    Plan.Steps.assign(std::size_t(indexCount), TIndexStep());
    for (int k = 0; k < indexCount; ++k) {
        TIndexStep &s = Nth(Plan.Steps, k);
        const TKey oldKey = KeyOfRecord(Plan.Old.data(), k);
        s.Key = KeyOfBuffers(FieldBuffers, k, Plan.Old.data());
        s.OldPos = FindInList(k, r, oldKey);
        if (s.OldPos < 0)
            continue;
        const TRecInfoList &list = IndexList(k);
        const bool unique = m_IndexDefs->Items(k)->Options & (tiPrimary | tiUnique);
        // A key left as it was leaves its chain alone; equal keys stand together, so only a
        // neighbour could clash with it.
        if (s.Key.Values == oldKey.Values) {
            s.NewPos = s.OldPos;
            if (unique)
                for (const int i : {s.OldPos - 1, s.OldPos + 1})
                    if (Holds(list, i) && CompareKeyAt(s.Key, Nth(list, i), k, false, 0) == 0)
                        RaiseDuplicate(k, FieldBuffers, Plan.Old.data());
            continue;
        }
        // A new key: searched for among the other records, where an equal one clashes.
        int state = 0;
        const int found = Search(s.Key, list, false, 0, state, k, s.OldPos);
        if (unique && state == 0)
            RaiseDuplicate(k, FieldBuffers, Plan.Old.data());
        s.NewPos = InsertPosOf(found, state);
        s.Moves = s.NewPos != s.OldPos;
        if (s.Moves) {
            const int before = s.NewPos - 1;
            s.Pred = before < 0 ? -1 : Nth(list, before >= s.OldPos ? before + 1 : before).RecIndex;
        }
    }
}

void TDictTableIO::BuildModifiedRecord(TFieldBuffers &FieldBuffers, TModifyPlan &Plan)
{
    // New blob values go to fresh space at the end of the file, so that the values the record
    // holds stay intact until its commit point points it elsewhere.
    TDictDBFileIO *io = FileIO();
    Plan.AutoIncCounter = m_TableHeader.AutoIncCounter;
    Plan.Rec = Plan.Old;
    Plan.Start = io->FileSize();
    Plan.End = Plan.Start;
    for (int f = 0; f < m_FieldDefs->Count() && f < FieldBuffers.Count(); ++f) {
        TFieldBufferItem *item = ActiveItem(FieldBuffers, f);
        if (!item)
            continue;
        const TDictFieldDef *def = m_FieldDefs->Items(f);
        char *slot = Plan.Rec.data() + FieldOffset(f);
        if (IsBlobFieldType(def->FieldType)) {
            TMemoryStream *value = BlobValue(item);
            QByteArray bytes = EncodeBlob(value, f);
            TBlobSlot bs;
            std::memcpy(&bs, slot, sizeof bs);
            bs.Offset = qint32(qMin<qint64>(Plan.End, kMaxFileSize));
            bs.Length = qint32(bytes.size());
            bs.Capacity = qint32(BlobCapacity(bytes.size()));
            std::memcpy(slot, &bs, sizeof bs);
            Plan.Blobs.push_back({f, Plan.End, std::move(bytes), value});
            Plan.End += bs.Capacity;
        } else if (def->FieldType == ftAutoInc) {
            qint32 v = 0;
            std::memcpy(&v, item->Buffer, std::size_t(qBound(0, item->FieldSize, 4)));
            if (v == 0)
                continue;
            std::memcpy(slot, &v, 4);
            io->EncodeMemoryBuffer(slot, slot, FieldIsEncrypted(f), 4);
            if (v > Plan.AutoIncCounter)
                Plan.AutoIncCounter = v;
        } else {
            PrepareFixedField(f, item, slot);
            io->EncodeMemoryBuffer(slot, slot, FieldIsEncrypted(f), GetFieldSize(def->FieldType, def->FieldSize));
        }
    }
    if (Plan.End > kMaxFileSize)
        DatabaseErrorFmt(L(kSFileTooLarge), io->DatabaseName);
}

std::vector<std::pair<int, qint32>> TDictTableIO::ReliedByModify(const TModifyPlan &Plan) const
{
    const qint32 r = Plan.Info.RecIndex;
    std::vector<std::pair<int, qint32>> relied;
    for (int k = 0; k < m_IndexDefs->Count(); ++k) {
        const TIndexStep &s = Nth(Plan.Steps, k);
        if (!s.Moves)
            continue;
        relied.push_back({k, r});
        relied.push_back({k, ChainPred(k, r)});
        if (s.Pred >= 0) {
            relied.push_back({k, s.Pred});
            relied.push_back({k, ChainPred(k, s.Pred)});
        }
    }
    return relied;
}

void TDictTableIO::WriteModifyFresh(const TModifyPlan &Plan)
{
    // The new blob areas, in fresh space.
    if (Plan.Blobs.empty())
        return;
    QByteArray image(int(Plan.End - Plan.Start), '\0');
    for (const TNewBlob &b : Plan.Blobs)
        std::memcpy(image.data() + (b.At - Plan.Start), b.Bytes.constData(), std::size_t(b.Bytes.size()));
    FileIO()->WriteBuffer(image.constData(), Plan.Start, image.size());
    for (const TNewBlob &b : Plan.Blobs)
        WriteBlob(b.Value, b.Field, b.At, b.Bytes);
}

void TDictTableIO::UnlinkMoved(const TModifyPlan &Plan)
{
    // A crash from here until the record is linked again leaves each chain it moves in
    // missing just this record, which the next load links in where its key (old or new,
    // whichever the file holds) belongs (I3).
    bool headerChanged = Plan.AutoIncCounter != m_TableHeader.AutoIncCounter;
    m_TableHeader.AutoIncCounter = Plan.AutoIncCounter;
    for (int k = 0; k < m_IndexDefs->Count(); ++k)
        if (Nth(Plan.Steps, k).Moves)
            Unlink(k, Plan.Info.RecIndex, headerChanged, true);
    if (headerChanged)
        FileIO()->WriteTableHeader(TableIdx, m_TableHeader);
}

void TDictTableIO::LinkMoved(const TModifyPlan &Plan)
{
    bool headerChanged = false;
    for (int k = 0; k < m_IndexDefs->Count(); ++k)
        if (const TIndexStep &s = Nth(Plan.Steps, k); s.Moves)
            LinkAfter(k, Plan.Info.RecIndex, s.Pred, headerChanged, true);
    if (headerChanged)
        FileIO()->WriteTableHeader(TableIdx, m_TableHeader);
}

void TDictTableIO::ApplyModify(const TModifyPlan &Plan, const TOnAdjustIndexForModify &OnAdjust)
{
    for (int k = 0; k < m_IndexDefs->Count(); ++k) {
        const TIndexStep &s = Nth(Plan.Steps, k);
        if (!s.Moves)
            continue;
        AssertLinksAgree(k, Plan.Info.RecIndex);
        if (OnAdjust)
            OnAdjust(k, s.OldPos, s.NewPos);
        TRecInfoList &list = IndexList(k);
        const TRecInfo entry = Nth(list, s.OldPos);
        list.erase(list.begin() + s.OldPos);
        list.insert(list.begin() + s.NewPos, entry);
    }
    ++ListsVersion;
}

void TDictTableIO::DeleteRecordData(int RecPos, bool Flush)
{
    TDictDBFileIO *io = FileIO();
    if (!Loaded() || !Holds(IndexList(-1), RecPos))
        DatabaseError(L(msg::kSGeneralError));
    LockGuard lock(io, true);
    CheckWritable();
    const TRecInfo info = Nth(IndexList(-1), RecPos);
    const int r = info.RecIndex;
    const int indexCount = m_IndexDefs->Count();
    std::vector<int> positions(std::size_t(indexCount), -1);
    if (indexCount > 0) {
        const std::vector<char> raw = ReadRecordBytes(info.DataOffset);
        for (int k = 0; k < indexCount; ++k)
            Nth(positions, k) = FindInList(k, r, KeyOfRecord(raw.data(), k));
    }
    // One byte: it is written or it is not.
    io->DeleteRecordTab(RecTabPosition(r));
    RecTab(r).DeleteFlag = 1;
    IndexList(-1).erase(IndexList(-1).begin() + RecPos);
    for (int k = 0; k < indexCount; ++k)
        if (const int p = Nth(positions, k); p >= 0) {
            TRecInfoList &list = IndexList(k);
            list.erase(list.begin() + p);
        }
    ++ListsVersion;
    if (Flush)
        io->Flush();
}

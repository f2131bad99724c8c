#include "dictdb/DictTableIO.h"

#include "dictdb/DictDBFileIO.h"
#include "dictdb/FilterParser.h"

#include <algorithm>
#include <cstring>

using namespace dictdb;

namespace {

const char *const STableNotFound = "Table '%s' not found";
const char *const SInvalidUniqueValue = "Invalid unique field value '%s'";
const char *const STableChanged = "Table '%s' was changed by another program; open it again";
const char *const STableUnfinished = "Table '%s' was left unfinished by a failed write; open it again";
const char *const SVerifyFailed = "Blob of field '%s' does not read back as written";
const char *const STableFull = "Table '%s' holds the most records a table can";
const char *const SFileTooLarge = "Database file '%s' would exceed 2 GiB";
const int kVerifyAttempts = 3;

QString L(const char *s)
{
    return QString::fromLatin1(s);
}

bool IsStringField(TFieldType t)
{
    return t == ftString || t == ftFixedChar;
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
    TDictDBFileIO *io;
    LockGuard(TDictDBFileIO *f, bool write) : io(f) { io->Lock(write); }
    ~LockGuard() { io->Unlock(); }
};

qint32 SlotSize(const TDictFieldDef *Def)
{
    return IsBlobFieldType(Def->FieldType) ? kBlobSlotSize : GetFieldSize(Def->FieldType, Def->FieldSize);
}

} // namespace

TDictTableIO::TDictTableIO(TDictDBFileOwner *ADatabase)
    : Database(ADatabase), m_fieldDefs(std::make_unique<TDictFieldDefs>(nullptr)),
      m_indexDefs(std::make_unique<TDictIndexDefs>(nullptr))
{}

TDictTableIO::TDictTableIO(TDictDBFileIO *AFileIO)
    : m_ownFileIO(AFileIO), m_fieldDefs(std::make_unique<TDictFieldDefs>(nullptr)),
      m_indexDefs(std::make_unique<TDictIndexDefs>(nullptr))
{}

TDictTableIO::~TDictTableIO() = default;

TDictDBFileIO *TDictTableIO::CurrentFileIO() const
{
    return Database ? Database->FileIO() : m_ownFileIO;
}

TDictDBFileIO *TDictTableIO::FileIO() const
{
    TDictDBFileIO *io = CurrentFileIO();
    if (!io || !io->IsOpen())
        DatabaseError(L(msg::SDatabaseClosed));
    return io;
}

QString TDictTableIO::Where(int FieldIdx) const
{
    return QStringLiteral(" (table '%1', field '%2')").arg(TableName, m_fieldDefs->Items(FieldIdx)->Name());
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
    m_fieldDefs->Clear();
    m_indexDefs->Clear();
    RecordSize = 0;
    FieldOffsets.clear();
    AutoIncFieldIdx = -1;
    std::memset(&TableHeader, 0, sizeof TableHeader);
    RecTabItems.clear();
    RecTabBlockOffsets.clear();
    IdxTabBlockOffsets.clear();
    IdxTabItems.clear();
    IdxTabPrev.clear();
    IndexLists.clear();
    m_keySpans.clear();
    m_stale = false;
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
    // A writer writes the mended links back, under its exclusive lock and from a fresh look
    // at the file: another writer may have mended it meanwhile.
    Unload();
    RepairedChains.clear();
    LockGuard lock(io, true);
    LoadFromFile(true);
}

void TDictTableIO::LoadFromFile(bool WriteRepairs)
{
    TDictDBFileIO *io = FileIO();
    try {
        int idx = -1;
        if (LoadTableIdx >= 0) {
            if (LoadTableIdx < io->TableTab.TableCount)
                idx = LoadTableIdx;
        } else {
            QStringList names;
            io->GetTableNames(names);
            for (int i = 0; i < names.size(); ++i)
                if (CompareDBString(names.at(i), TableName, false, true, 0) == 0) {
                    idx = i;
                    break;
                }
        }
        if (idx < 0)
            DatabaseErrorFmt(L(STableNotFound), TableName);
        TTableHeader hdr;
        io->ReadTableHeader(idx, hdr);

        m_fieldDefs->BeginUpdate();
        for (int f = 0; f < hdr.FieldCount; ++f) {
            const TFieldTabItem &fi = hdr.FieldTab[f];
            TDictFieldDef *def = m_fieldDefs->Add();
            def->SetName(SlotText(fi.FieldName, kNameSize));
            def->FieldType = TFieldType(fi.FieldType);
            def->FieldSize = fi.FieldSize;
            def->DPMode = fi.DPMode;
        }
        m_fieldDefs->EndUpdate();
        m_indexDefs->BeginUpdate();
        for (int k = 0; k < hdr.IndexCount; ++k) {
            const TIndexHeaderItem &ix = hdr.IndexHeader[k];
            TDictIndexDef *def = m_indexDefs->Add();
            def->SetName(SlotText(ix.IndexName, kNameSize));
            def->Options = TTDIndexOptions::fromInt(ix.IndexOptions);
            for (int n = 0; n < kMaxIndexFields && ix.IndexFields[n] != -1; ++n)
                def->FieldIdxes.push_back(qint32{ix.IndexFields[n]});
        }
        m_indexDefs->EndUpdate();

        // The header was checked against the format's limits: these sums stay small.
        qint64 recordSize = 0;
        FieldOffsets.assign(size_t(hdr.FieldCount), 0);
        AutoIncFieldIdx = -1;
        for (int f = 0; f < hdr.FieldCount; ++f) {
            const TFieldType t = TFieldType(hdr.FieldTab[f].FieldType);
            FieldOffsets[size_t(f)] = qint32(recordSize);
            recordSize += SlotSize(m_fieldDefs->Items(f));
            if (t == ftAutoInc && AutoIncFieldIdx < 0)
                AutoIncFieldIdx = f;
        }
        if (recordSize > kMaxRecordSize)
            io->Corrupt("record size too large");
        RecordSize = qint32(recordSize);
        m_keySpans.assign(size_t(hdr.IndexCount), TKeySpan());
        for (int k = 0; k < hdr.IndexCount; ++k) {
            TKeySpan &span = m_keySpans[size_t(k)];
            span.Lo = RecordSize;
            for (qint32 f : m_indexDefs->Items(k)->FieldIdxes) {
                span.Lo = qMin(span.Lo, FieldOffsets[size_t(f)]);
                span.Hi = qMax(span.Hi, FieldOffsets[size_t(f)] + SlotSize(m_fieldDefs->Items(f)));
            }
            if (span.Hi < span.Lo)
                span.Hi = span.Lo;
        }

        io->ReadRecordTabItems(hdr, RecTabItems, RecTabBlockOffsets);
        const qint64 size = io->FileSize();
        const qint32 total = hdr.RecordTotal;
        IndexLists.assign(size_t(hdr.IndexCount) + 1, TRecInfoList());
        IndexLists[0].reserve(size_t(total));
        for (qint32 r = 0; r < total; ++r) {
            const TRecordTabItem &it = RecTabItems[size_t(r)];
            if (it.DeleteFlag != 0)
                continue;
            if (it.DataOffset < kDataStart || it.DataOffset > size - RecordSize)
                io->Corrupt("record data outside the file");
            IndexLists[0].push_back({it.DataOffset, r});
        }
        TableHeader = hdr;
        IdxTabBlockOffsets.assign(size_t(hdr.IndexCount), TIntegerAry());
        IdxTabItems.assign(size_t(hdr.IndexCount), TIndexTabItems());
        IdxTabPrev.assign(size_t(hdr.IndexCount), TIntegerAry());
        std::vector<std::pair<int, int>> torn;
        for (int k = 0; k < hdr.IndexCount; ++k) {
            const TIndexHeaderItem &ix = hdr.IndexHeader[k];
            if (total == 0)
                continue;
            if (ix.IndexTabOffset == 0)
                io->Corrupt("index without a tab");
            TIndexTabItems &items = IdxTabItems[size_t(k)];
            io->ReadIndexTabItems(hdr, k, IdxTabBlockOffsets[size_t(k)], items);
            for (qint32 r = 0; r < total; ++r) {
                const TIndexTabItem &e = items[size_t(r)];
                if (e.RecIndex != r || e.NextRecIndex < -1 || e.NextRecIndex >= total)
                    io->Corrupt("bad index entry");
            }
            // Every record, deleted ones included, lies once on the chain.
            TIntegerAry &prev = IdxTabPrev[size_t(k)];
            prev.assign(size_t(total), -1);
            std::vector<bool> seen(static_cast<size_t>(total), false);
            TRecInfoList &list = IndexLists[size_t(k) + 1];
            list.reserve(IndexLists[0].size());
            qint32 steps = 0;
            for (qint32 r = ix.StartIndex, before = -1; r != -1; before = r, r = items[size_t(r)].NextRecIndex) {
                if (r < 0 || r >= total || seen[size_t(r)])
                    io->Corrupt("index chain loops");
                seen[size_t(r)] = true;
                prev[size_t(r)] = before;
                ++steps;
                if (RecTabItems[size_t(r)].DeleteFlag == 0)
                    list.push_back({RecTabItems[size_t(r)].DataOffset, r});
            }
            if (steps == total)
                continue;
            int missing = -1;
            if (!IsTornChain(seen, missing))
                io->Corrupt("index chain misses records");
            if (!RepairTornChains)
                io->Corrupt(QStringLiteral("index '%1' misses record %2, torn by an interrupted write")
                                .arg(m_indexDefs->Items(k)->Name())
                                .arg(missing));
            torn.push_back({k, missing});
        }
        TableIdx = idx;
        // The mends come last: a torn chain's record is placed by a search of the others.
        bool headerChanged = false;
        for (const auto &[k, r] : torn) {
            MendChain(k, r, WriteRepairs, headerChanged);
            RepairedChains.push_back({k, r});
        }
        if (WriteRepairs && headerChanged)
            io->WriteTableHeader(TableIdx, TableHeader);
    } catch (...) {
        Unload();
        throw;
    }
    ++ListsVersion;
}

bool TDictTableIO::IsTornChain(const std::vector<bool> &OnChain, int &Missing)
{
    Missing = -1;
    for (size_t r = 0; r < OnChain.size(); ++r)
        if (!OnChain[r]) {
            if (Missing >= 0)
                return false;
            Missing = int(r);
        }
    return Missing >= 0;
}

void TDictTableIO::MendChain(int IndexIdx, int RecIdx, bool Write, bool &HeaderChanged)
{
    TDictDBFileIO *io = FileIO();
    int pred = -1;
    const TRecordTabItem &tab = RecTabItems[size_t(RecIdx)];
    if (tab.DeleteFlag == 0) {
        // The record goes where its key (as the file now holds it) belongs.
        std::vector<char> raw(static_cast<size_t>(RecordSize));
        io->ReadBuffer(raw.data(), tab.DataOffset, RecordSize);
        const TKey key = KeyOfRecord(raw.data(), IndexIdx);
        TRecInfoList &list = IndexLists[size_t(IndexIdx) + 1];
        int state = 0;
        const int found = Search(key, list, false, 0, state, IndexIdx);
        const int pos = InsertPosOf(found, state);
        pred = pos > 0 ? list[size_t(pos - 1)].RecIndex : -1;
        list.insert(list.begin() + pos, TRecInfo{tab.DataOffset, RecIdx});
    }
    LinkAfter(IndexIdx, RecIdx, pred, HeaderChanged, Write);
}

qint64 TDictTableIO::RecTabPosition(int RecIdx) const
{
    if (RecIdx < 0 || size_t(RecIdx) >= RecTabItems.size())
        DatabaseError(L(msg::SGeneralError));
    return qint64(RecTabBlockOffsets[size_t(RecIdx / kTabBlockEntries)]) + 4 +
        qint64(RecIdx % kTabBlockEntries) * kRecordTabEntrySize;
}

qint64 TDictTableIO::IdxTabPosition(int IndexIdx, int RecIdx) const
{
    return qint64(IdxTabBlockOffsets[size_t(IndexIdx)][size_t(RecIdx / kTabBlockEntries)]) + 4 +
        qint64(RecIdx % kTabBlockEntries) * kIndexTabEntrySize;
}

bool TDictTableIO::FieldIsEncrypted(int FieldIdx) const
{
    const TDictDBFileIO *io = CurrentFileIO();
    return io && io->Encrypted() && m_fieldDefs->Items(FieldIdx)->DPMode == 0;
}

bool TDictTableIO::FieldIsCompressed(int FieldIdx) const
{
    const TDictDBFileIO *io = CurrentFileIO();
    const TDictFieldDef *def = m_fieldDefs->Items(FieldIdx);
    return io && io->Compressed() && def->DPMode == 0 && IsBlobFieldType(def->FieldType);
}

int TDictTableIO::GetPrimaryIndexIdx() const
{
    for (int k = 0; k < m_indexDefs->Count(); ++k)
        if (m_indexDefs->Items(k)->Options.testFlag(tiPrimary))
            return k;
    return -1;
}

int TDictTableIO::ConvertRecIdx(int FromIndex, int Pos, int ToIndex) const
{
    if (FromIndex + 1 < 0 || size_t(FromIndex + 1) >= IndexLists.size() || ToIndex + 1 < 0 ||
        size_t(ToIndex + 1) >= IndexLists.size())
        return -1;
    const TRecInfoList &from = IndexLists[size_t(FromIndex + 1)];
    if (Pos < 0 || size_t(Pos) >= from.size())
        return -1;
    const qint32 rec = from[size_t(Pos)].RecIndex;
    const TRecInfoList &to = IndexLists[size_t(ToIndex + 1)];
    if (ToIndex == -1) {
        const auto it =
            std::lower_bound(to.begin(), to.end(), rec, [](const TRecInfo &a, qint32 r) { return a.RecIndex < r; });
        return it != to.end() && it->RecIndex == rec ? int(it - to.begin()) : -1;
    }
    for (size_t i = 0; i < to.size(); ++i)
        if (to[i].RecIndex == rec)
            return int(i);
    return -1;
}

// ---- reading ----

void TDictTableIO::ReadFieldData(TStream *Dest, int RecIdx, int FieldIdx)
{
    TDictDBFileIO *io = FileIO();
    if (FieldIdx < 0 || FieldIdx >= m_fieldDefs->Count())
        DatabaseError(L(msg::SGeneralError));
    const TDictFieldDef *def = m_fieldDefs->Items(FieldIdx);
    const bool blob = IsBlobFieldType(def->FieldType);
    const qint32 size = SlotSize(def);
    try {
        io->ReadFieldData(Dest, RecTabPosition(RecIdx), FieldIsCompressed(FieldIdx), FieldIsEncrypted(FieldIdx), blob,
                          size, FieldOffsets[size_t(FieldIdx)]);
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
    const TDictFieldDef *def = m_fieldDefs->Items(FieldIdx);
    const qint32 off = FieldOffsets[size_t(FieldIdx)];
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
    if (Pos < 0 || size_t(Pos) >= List.size())
        return;
    const TRecInfo info = List[size_t(Pos)];
    LockGuard lock(io, false);
    m_record.resize(size_t(RecordSize));
    io->ReadBuffer(m_record.data(), info.DataOffset, RecordSize);
    const int n = qMin(FieldBuffers.Count(), m_fieldDefs->Count());
    for (int f = 0; f < n; ++f) {
        TFieldBufferItem *item = FieldBuffers.Items(f);
        if (!item->Active || !item->Buffer)
            continue;
        const TDictFieldDef *def = m_fieldDefs->Items(f);
        const qint32 off = FieldOffsets[size_t(f)];
        if (IsBlobFieldType(def->FieldType)) {
            TMemoryStream *stream = item->IsBlob() ? item->BlobStream() : nullptr;
            if (!stream)
                continue;
            if (auto *o = dynamic_cast<TOptimBlobStream *>(stream)) {
                o->SetBlobInfo(io, info.DataOffset + off, FieldIsEncrypted(f), FieldIsCompressed(f), Where(f));
            } else {
                TBlobSlot bs;
                std::memcpy(&bs, m_record.data() + off, sizeof bs);
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
            io->DecodeMemoryBuffer(m_record.data() + off, item->Buffer, FieldIsEncrypted(f), size);
        } else {
            // A buffer narrower than the slot still gets a whole, decoded slot's prefix.
            std::vector<char> tmp(static_cast<size_t>(slot));
            io->DecodeMemoryBuffer(m_record.data() + off, tmp.data(), FieldIsEncrypted(f), slot);
            std::memcpy(item->Buffer, tmp.data(), size_t(size));
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
    const TDictFieldDef *def = m_fieldDefs->Items(FieldIdx);
    const qint32 slot = GetFieldSize(def->FieldType, def->FieldSize);
    std::memset(Dest, 0, size_t(slot));
    if (Item && Item->Buffer && !Item->IsBlob())
        std::memcpy(Dest, Item->Buffer, size_t(qMax(0, qMin(slot, Item->FieldSize))));
    if (IsStringField(def->FieldType)) {
        // Text ends at its first NUL, fits the slot with a NUL and never ends inside a character.
        const void *nul = std::memchr(Dest, 0, size_t(slot));
        const int len = nul ? int(static_cast<const char *>(nul) - Dest) : slot;
        const int keep = Utf8CutLength(Dest, len, slot - 1);
        std::memset(Dest + keep, 0, size_t(slot - keep));
    } else {
        NormalizeValue(def->FieldType, Dest, slot);
    }
}

TDictTableIO::TKey TDictTableIO::KeyOfBuffers(TFieldBuffers &FieldBuffers, int IndexIdx, const char *FallbackRecord)
{
    const TDictIndexDef *ix = m_indexDefs->Items(IndexIdx);
    TKey key;
    key.Values.reserve(ix->FieldIdxes.size());
    for (const qint32 f : ix->FieldIdxes) {
        const TDictFieldDef *def = m_fieldDefs->Items(f);
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
    for (const qint32 f : m_indexDefs->Items(IndexIdx)->FieldIdxes)
        key.Values.push_back(FieldValueOf(RawRecord, f));
    return key;
}

int TDictTableIO::CompareKeyAt(const TKey &Key, const TRecInfo &Entry, int IndexIdx, bool PartialCompare,
                               int FieldCount)
{
    TDictDBFileIO *io = FileIO();
    const TDictIndexDef *ix = m_indexDefs->Items(IndexIdx);
    const bool ci = ix->Options.testFlag(tiCaseInsensitive);
    size_t n = ix->FieldIdxes.size();
    if (FieldCount > 0 && size_t(FieldCount) < n)
        n = size_t(FieldCount);
    // One read of the bytes that hold the key fields, from the file, at every probe.
    const TKeySpan &span = m_keySpans[size_t(IndexIdx)];
    const qint32 spanSize = span.Hi - span.Lo;
    if (m_probe.size() < size_t(spanSize) * 2)
        m_probe.resize(size_t(spanSize) * 2);
    char *raw = m_probe.data();
    char *plain = raw + spanSize;
    io->ReadBuffer(raw, qint64(Entry.DataOffset) + span.Lo, spanSize);
    int c = 0;
    for (size_t i = 0; i < n && c == 0; ++i) {
        const int f = ix->FieldIdxes[i];
        const TDictFieldDef *def = m_fieldDefs->Items(f);
        if (IsBlobFieldType(def->FieldType)) {
            const QByteArray value = FieldValueOf(raw - span.Lo, f);
            c = CompareFieldValue(Key.Values[i].constData(), value.constData(), PartialCompare, ci, ftString);
            continue;
        }
        const qint32 at = FieldOffsets[size_t(f)] - span.Lo;
        const qint32 slot = GetFieldSize(def->FieldType, def->FieldSize);
        io->DecodeMemoryBuffer(raw + at, plain + at, FieldIsEncrypted(f), slot);
        NormalizeValue(def->FieldType, plain + at, slot);
        c = CompareFieldValue(Key.Values[i].constData(), plain + at, PartialCompare, ci, def->FieldType);
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
    const auto at = [&](int i) -> const TRecInfo & { return List[size_t(Skip >= 0 && i >= Skip ? i + 1 : i)]; };
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
                              int &ResultState, int IndexIdx, bool LowBound)
{
    ResultState = -2;
    int low = 0, high = int(List.size()) - 1, result = -1;
    bool found = false;
    while (low <= high) {
        const int mid = low + (high - low) / 2;
        const int c = CompareKeyAt(Key, List[size_t(mid)], IndexIdx, PartialCompare, FieldCount);
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

int TDictTableIO::SearchInsertPos(TFieldBuffers &FieldBuffers, int IndexIdx, int &ResultState)
{
    const TKey key = KeyOfBuffers(FieldBuffers, IndexIdx);
    const int found = Search(key, IndexLists[size_t(IndexIdx) + 1], false, 0, ResultState, IndexIdx);
    return InsertPosOf(found, ResultState);
}

int TDictTableIO::FindInList(int IndexIdx, int RecIdx, const TKey &Key)
{
    const TRecInfoList &list = IndexLists[size_t(IndexIdx) + 1];
    int state = 0;
    const int pos = Search(Key, list, false, 0, state, IndexIdx);
    if (state == 0) {
        if (list[size_t(pos)].RecIndex == RecIdx)
            return pos;
        // Among equal keys: the run is found by two more searches, then walked in memory.
        int s1 = 0, s2 = 0;
        const int lo = SearchBound(Key, list, false, 0, s1, IndexIdx, true);
        const int hi = SearchBound(Key, list, false, 0, s2, IndexIdx, false);
        for (int i = qMax(lo, 0); s1 == 0 && s2 == 0 && i <= hi && size_t(i) < list.size(); ++i)
            if (list[size_t(i)].RecIndex == RecIdx)
                return i;
    }
    // A list whose order the keys no longer explain (a file written with another order of
    // texts) is walked whole.
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].RecIndex == RecIdx)
            return int(i);
    return -1;
}

int TDictTableIO::CompareRecordKeys(int RecA, int RecB, int IndexIdx)
{
    if (IndexIdx < 0 || IndexIdx >= m_indexDefs->Count() || RecA < 0 || size_t(RecA) >= RecTabItems.size() ||
        RecB < 0 || size_t(RecB) >= RecTabItems.size())
        DatabaseError(L(msg::SGeneralError));
    const qint32 at = RecTabItems[size_t(RecA)].DataOffset;
    std::vector<char> raw(static_cast<size_t>(RecordSize));
    FileIO()->ReadBuffer(raw.data(), at, RecordSize);
    const TKey key = KeyOfRecord(raw.data(), IndexIdx);
    return CompareKeyAt(key, TRecInfo{RecTabItems[size_t(RecB)].DataOffset, RecB}, IndexIdx, false, 0);
}

void TDictTableIO::RaiseDuplicate(int IndexIdx, TFieldBuffers &FieldBuffers, const char *FallbackRecord)
{
    QStringList values;
    for (int f : m_indexDefs->Items(IndexIdx)->FieldIdxes) {
        const TFieldBufferItem *item = f < FieldBuffers.Count() ? FieldBuffers.Items(f) : nullptr;
        if (item && item->Active && item->Buffer) {
            values << item->AsString();
        } else if (FallbackRecord) {
            const QByteArray v = FieldValueOf(FallbackRecord, f);
            TFieldBufferItem tmp;
            tmp.Buffer = const_cast<char *>(v.constData());
            tmp.FieldType = m_fieldDefs->Items(f)->FieldType;
            tmp.FieldSize = int(v.size());
            values << (tmp.IsBlob() ? QString::fromUtf8(v.constData()) : tmp.AsString());
            tmp.Buffer = nullptr;
        } else {
            values << QString();
        }
    }
    DatabaseErrorFmt(L(SInvalidUniqueValue), values.join(QLatin1Char(',')));
}

// ---- writing ----

void TDictTableIO::CheckWritable()
{
    if (m_stale)
        DatabaseErrorFmt(L(STableUnfinished), TableName);
    // The bytes alone: equal to the header this object checked when it loaded, they need no
    // second check.
    TDictDBFileIO *io = FileIO();
    TTableHeader cur;
    io->ReadBuffer(&cur, io->TableTab.TableHeaderOffset[TableIdx], sizeof cur);
    if (std::memcmp(&cur, &TableHeader, sizeof cur) != 0)
        DatabaseErrorFmt(L(STableChanged), TableName);
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
        const TIndexTabItem &mine = IdxTabItems[size_t(k)][size_t(rec)];
        if (onDisk.RecIndex != mine.RecIndex || onDisk.NextRecIndex != mine.NextRecIndex)
            DatabaseErrorFmt(L(STableChanged), TableName);
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
        DatabaseErrorFmt(QStringLiteral("Blob of field '%s' is too large"), m_fieldDefs->Items(FieldIdx)->Name());
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
    DatabaseErrorFmt(L(SVerifyFailed), m_fieldDefs->Items(FieldIdx)->Name());
}

void TDictTableIO::WriteIndexEntry(int IndexIdx, int RecIdx)
{
    const TIndexTabItem &e = IdxTabItems[size_t(IndexIdx)][size_t(RecIdx)];
    FileIO()->WriteBuffer(&e, IdxTabPosition(IndexIdx, RecIdx), sizeof e);
}

void TDictTableIO::Unlink(int IndexIdx, int RecIdx, bool &HeaderChanged, bool Write)
{
    TIndexTabItems &items = IdxTabItems[size_t(IndexIdx)];
    TIntegerAry &prev = IdxTabPrev[size_t(IndexIdx)];
    const qint32 p = prev[size_t(RecIdx)];
    const qint32 next = items[size_t(RecIdx)].NextRecIndex;
    if (p < 0) {
        TableHeader.IndexHeader[IndexIdx].StartIndex = next;
        HeaderChanged = true;
    } else {
        items[size_t(p)].NextRecIndex = next;
        if (Write)
            WriteIndexEntry(IndexIdx, p);
    }
    if (next >= 0)
        prev[size_t(next)] = p;
    prev[size_t(RecIdx)] = -1;
}

void TDictTableIO::LinkAfter(int IndexIdx, int RecIdx, int Predecessor, bool &HeaderChanged, bool Write)
{
    TIndexTabItems &items = IdxTabItems[size_t(IndexIdx)];
    TIntegerAry &prev = IdxTabPrev[size_t(IndexIdx)];
    TIndexHeaderItem &ix = TableHeader.IndexHeader[IndexIdx];
    const qint32 next = Predecessor < 0 ? ix.StartIndex : items[size_t(Predecessor)].NextRecIndex;
    // The record's own link first: until its predecessor leads to it, nothing reads it.
    items[size_t(RecIdx)].NextRecIndex = next;
    if (Write)
        WriteIndexEntry(IndexIdx, RecIdx);
    if (Predecessor < 0) {
        ix.StartIndex = RecIdx;
        HeaderChanged = true;
    } else {
        items[size_t(Predecessor)].NextRecIndex = RecIdx;
        if (Write)
            WriteIndexEntry(IndexIdx, Predecessor);
    }
    prev[size_t(RecIdx)] = Predecessor;
    if (next >= 0)
        prev[size_t(next)] = RecIdx;
}

void TDictTableIO::AppendRecordData(TFieldBuffers &FieldBuffers, bool Flush, const TOnAdjustIndexForAppend &OnAdjust)
{
    TDictDBFileIO *io = FileIO();
    if (!Loaded())
        DatabaseError(L(msg::SGeneralError));
    LockGuard lock(io, true);
    CheckWritable();

    TTableHeader hdr = TableHeader;
    const qint32 n = hdr.RecordTotal;
    if (n == INT32_MAX)
        DatabaseErrorFmt(L(STableFull), TableName);
    const int fieldCount = m_fieldDefs->Count();
    const int indexCount = m_indexDefs->Count();
    auto itemOf = [&](int f) -> TFieldBufferItem * {
        TFieldBufferItem *item = f < FieldBuffers.Count() ? FieldBuffers.Items(f) : nullptr;
        return item && item->Active && item->Buffer ? item : nullptr;
    };

    // The unique check comes before the auto-increment, which must not touch the caller's
    // buffer when the record is refused; its searches also give the places in the lists.
    std::vector<TIndexStep> steps(static_cast<size_t>(indexCount));
    std::vector<bool> searched(static_cast<size_t>(indexCount), false);
    for (int k = 0; k < indexCount; ++k) {
        if (!(m_indexDefs->Items(k)->Options & (tiPrimary | tiUnique)))
            continue;
        TIndexStep &s = steps[size_t(k)];
        s.Key = KeyOfBuffers(FieldBuffers, k);
        int state = 0;
        const int pos = Search(s.Key, IndexLists[size_t(k) + 1], false, 0, state, k);
        if (state == 0)
            RaiseDuplicate(k, FieldBuffers);
        s.NewPos = InsertPosOf(pos, state);
        searched[size_t(k)] = true;
    }

    bool autoAssigned = false;
    if (AutoIncFieldIdx >= 0) {
        TFieldBufferItem *item = itemOf(AutoIncFieldIdx);
        qint32 v = 0;
        if (item && item->FieldSize >= 4)
            std::memcpy(&v, item->Buffer, 4);
        if (v != 0) {
            if (v > hdr.AutoIncCounter)
                hdr.AutoIncCounter = v;
        } else {
            if (hdr.AutoIncCounter == INT32_MAX)
                DatabaseErrorFmt(L(STableFull), TableName);
            v = ++hdr.AutoIncCounter;
            autoAssigned = true;
        }
        if (item && item->FieldSize >= 4)
            std::memcpy(item->Buffer, &v, 4);
    }
    for (int k = 0; k < indexCount; ++k) {
        const TIntegerAry &fields = m_indexDefs->Items(k)->FieldIdxes;
        const bool keyChanged =
            autoAssigned && std::find(fields.begin(), fields.end(), AutoIncFieldIdx) != fields.end();
        TIndexStep &s = steps[size_t(k)];
        if (!searched[size_t(k)] || keyChanged) {
            s.Key = KeyOfBuffers(FieldBuffers, k);
            int state = 0;
            const int found = Search(s.Key, IndexLists[size_t(k) + 1], false, 0, state, k);
            s.NewPos = InsertPosOf(found, state);
        }
        s.Pred = s.NewPos > 0 ? IndexLists[size_t(k) + 1][size_t(s.NewPos - 1)].RecIndex : -1;
    }

    // Blobs are encoded first, so that the layout is known before anything is written.
    std::vector<QByteArray> blobs(static_cast<size_t>(fieldCount));
    for (int f = 0; f < fieldCount; ++f)
        if (IsBlobFieldType(m_fieldDefs->Items(f)->FieldType)) {
            TFieldBufferItem *item = itemOf(f);
            blobs[size_t(f)] = EncodeBlob(item && item->IsBlob() ? item->BlobStream() : nullptr, f);
        }

    // Everything new lies in one run at the end of the file: a record-tab block when one
    // begins, the record, its blob areas, and a block of each index tab when one begins.
    const bool newBlock = n % kTabBlockEntries == 0;
    const qint64 start = io->FileSize();
    qint64 pos = start;
    const qint64 recBlockPos = newBlock ? pos : -1;
    if (newBlock)
        pos += kRecordTabBlockSize;
    const qint64 dataOffset = pos;
    pos += RecordSize;
    std::vector<qint64> blobPos(static_cast<size_t>(fieldCount), 0);
    for (int f = 0; f < fieldCount; ++f)
        if (IsBlobFieldType(m_fieldDefs->Items(f)->FieldType)) {
            blobPos[size_t(f)] = pos;
            pos += BlobCapacity(blobs[size_t(f)].size());
        }
    std::vector<qint64> idxBlockPos(static_cast<size_t>(indexCount), -1);
    if (newBlock)
        for (int k = 0; k < indexCount; ++k) {
            idxBlockPos[size_t(k)] = pos;
            pos += kIndexTabBlockSize;
        }
    if (pos > kMaxFileSize)
        DatabaseErrorFmt(L(SFileTooLarge), io->DatabaseName);

    // The new entries of the record and index tabs.
    const TRecordTabItem tab{qint32(dataOffset), 0};
    std::vector<TIndexTabItem> entries(static_cast<size_t>(indexCount));
    for (int k = 0; k < indexCount; ++k) {
        const TIndexStep &s = steps[size_t(k)];
        entries[size_t(k)].RecIndex = n;
        if (s.Pred >= 0)
            entries[size_t(k)].NextRecIndex = IdxTabItems[size_t(k)][size_t(s.Pred)].NextRecIndex;
        else
            entries[size_t(k)].NextRecIndex = n == 0 ? -1 : hdr.IndexHeader[k].StartIndex;
    }

    QByteArray image(int(pos - start), '\0');
    char *const base = image.data() - start;
    if (newBlock)
        std::memcpy(base + recBlockPos + 4, &tab, sizeof tab);
    char *const rec = base + dataOffset;
    for (int f = 0; f < fieldCount; ++f) {
        const TDictFieldDef *def = m_fieldDefs->Items(f);
        char *slot = rec + FieldOffsets[size_t(f)];
        if (IsBlobFieldType(def->FieldType)) {
            const QByteArray &bytes = blobs[size_t(f)];
            std::memcpy(base + blobPos[size_t(f)], bytes.constData(), size_t(bytes.size()));
            const TBlobSlot bs{qint32(blobPos[size_t(f)]), qint32(bytes.size()), qint32(BlobCapacity(bytes.size())), 0,
                               0};
            std::memcpy(slot, &bs, sizeof bs);
        } else {
            PrepareFixedField(f, itemOf(f), slot);
            io->EncodeMemoryBuffer(slot, slot, FieldIsEncrypted(f), GetFieldSize(def->FieldType, def->FieldSize));
        }
    }
    if (newBlock)
        for (int k = 0; k < indexCount; ++k)
            std::memcpy(base + idxBlockPos[size_t(k)] + 4, &entries[size_t(k)], sizeof(TIndexTabItem));

    // What the links below rely on must still be in the file as this object knows it.
    std::vector<std::pair<int, int>> relied;
    for (int k = 0; k < indexCount; ++k)
        if (const int p = steps[size_t(k)].Pred; p >= 0) {
            relied.push_back({k, p});
            relied.push_back({k, IdxTabPrev[size_t(k)][size_t(p)]});
        }
    CheckEntries(std::move(relied));

    for (int k = 0; k < indexCount; ++k)
        if (steps[size_t(k)].Pred < 0)
            hdr.IndexHeader[k].StartIndex = n;
    if (n == 0) {
        hdr.RecTabOffset = qint32(recBlockPos);
        for (int k = 0; k < indexCount; ++k)
            hdr.IndexHeader[k].IndexTabOffset = qint32(idxBlockPos[size_t(k)]);
    }
    hdr.RecordTotal = n + 1;
    // A write that fails before the commit point leaves this object as true to the file as it
    // was: what was written lies beyond everything the file refers to.
    bool committing = false;
    try {
        // 1. Fresh space only: nothing refers to it yet.
        io->WriteBuffer(image.constData(), start, image.size());
        for (int f = 0; f < fieldCount; ++f)
            if (IsBlobFieldType(m_fieldDefs->Items(f)->FieldType)) {
                TFieldBufferItem *item = itemOf(f);
                WriteBlob(item && item->IsBlob() ? item->BlobStream() : nullptr, f, blobPos[size_t(f)],
                          blobs[size_t(f)]);
            }
        // 2. The new tab entries in blocks that exist, and the links to new blocks: all
        //    beyond the record total, so no reader looks at them yet.
        if (!newBlock) {
            const qint64 at = n % kTabBlockEntries;
            for (int k = 0; k < indexCount; ++k)
                io->WriteBuffer(&entries[size_t(k)],
                                qint64(IdxTabBlockOffsets[size_t(k)].back()) + 4 + at * kIndexTabEntrySize,
                                sizeof(TIndexTabItem));
            io->WriteBuffer(&tab, qint64(RecTabBlockOffsets.back()) + 4 + at * kRecordTabEntrySize, sizeof tab);
        } else if (n > 0) {
            const qint32 next = qint32(recBlockPos);
            io->WriteBuffer(&next, RecTabBlockOffsets.back(), 4);
            for (int k = 0; k < indexCount; ++k) {
                const qint32 idxNext = qint32(idxBlockPos[size_t(k)]);
                io->WriteBuffer(&idxNext, IdxTabBlockOffsets[size_t(k)].back(), 4);
            }
        }
        // 3. The commit point: the header counts the record (and heads the chains it leads).
        committing = true;
        io->WriteTableHeader(TableIdx, hdr);
        // 4. The chains' links to the record. A crash before one of them leaves that chain
        //    missing just this record, which the next load links in again.
        for (int k = 0; k < indexCount; ++k)
            if (const int p = steps[size_t(k)].Pred; p >= 0) {
                const TIndexTabItem link{p, n};
                io->WriteBuffer(&link, IdxTabPosition(k, p), sizeof link);
            }
    } catch (...) {
        if (committing)
            m_stale = true;
        throw;
    }

    TableHeader = hdr;
    RecTabItems.push_back(tab);
    if (newBlock) {
        RecTabBlockOffsets.push_back(qint32(recBlockPos));
        for (int k = 0; k < indexCount; ++k)
            IdxTabBlockOffsets[size_t(k)].push_back(qint32(idxBlockPos[size_t(k)]));
    }
    for (int k = 0; k < indexCount; ++k) {
        const int p = steps[size_t(k)].Pred;
        const qint32 next = entries[size_t(k)].NextRecIndex;
        IdxTabItems[size_t(k)].push_back(entries[size_t(k)]);
        IdxTabPrev[size_t(k)].push_back(p);
        if (p >= 0)
            IdxTabItems[size_t(k)][size_t(p)].NextRecIndex = n;
        if (next >= 0)
            IdxTabPrev[size_t(k)][size_t(next)] = n;
    }

    const TRecInfo item{qint32(dataOffset), n};
    IndexLists[0].push_back(item);
    ++ListsVersion;
    if (OnAdjust)
        OnAdjust(-1, -1, item);
    for (int k = 0; k < indexCount; ++k) {
        const int at = steps[size_t(k)].NewPos;
        if (OnAdjust)
            OnAdjust(k, at, item);
        TRecInfoList &list = IndexLists[size_t(k) + 1];
        list.insert(list.begin() + at, item);
    }
    if (Flush)
        io->Flush();
}

void TDictTableIO::ModifyRecordData(TFieldBuffers &FieldBuffers, int RecPos, const TOnAdjustIndexForModify &OnAdjust,
                                    bool Flush)
{
    TDictDBFileIO *io = FileIO();
    if (!Loaded() || RecPos < 0 || size_t(RecPos) >= IndexLists[0].size())
        DatabaseError(L(msg::SGeneralError));
    LockGuard lock(io, true);
    CheckWritable();
    const TRecInfo info = IndexLists[0][size_t(RecPos)];
    const int r = info.RecIndex;
    const int fieldCount = m_fieldDefs->Count();
    const int indexCount = m_indexDefs->Count();

    std::vector<char> old(static_cast<size_t>(RecordSize));
    io->ReadBuffer(old.data(), info.DataOffset, RecordSize);

    // Where the record stands in each list now, and where its new key puts it.
    std::vector<TIndexStep> steps(static_cast<size_t>(indexCount));
    for (int k = 0; k < indexCount; ++k) {
        TIndexStep &s = steps[size_t(k)];
        const TKey oldKey = KeyOfRecord(old.data(), k);
        s.Key = KeyOfBuffers(FieldBuffers, k, old.data());
        s.OldPos = FindInList(k, r, oldKey);
        if (s.OldPos < 0)
            continue;
        const TRecInfoList &list = IndexLists[size_t(k) + 1];
        const bool unique = m_indexDefs->Items(k)->Options & (tiPrimary | tiUnique);
        // A key left as it was leaves its chain alone; equal keys stand together, so only a
        // neighbour could clash with it.
        if (s.Key.Values == oldKey.Values) {
            s.NewPos = s.OldPos;
            if (unique)
                for (const int i : {s.OldPos - 1, s.OldPos + 1})
                    if (i >= 0 && size_t(i) < list.size() && CompareKeyAt(s.Key, list[size_t(i)], k, false, 0) == 0)
                        RaiseDuplicate(k, FieldBuffers, old.data());
            continue;
        }
        // A new key: searched for among the other records, where an equal one clashes.
        int state = 0;
        const int found = Search(s.Key, list, false, 0, state, k, s.OldPos);
        if (unique && state == 0)
            RaiseDuplicate(k, FieldBuffers, old.data());
        s.NewPos = InsertPosOf(found, state);
        s.Moves = s.NewPos != s.OldPos;
        if (s.Moves) {
            const int before = s.NewPos - 1;
            s.Pred = before < 0 ? -1 : list[size_t(before >= s.OldPos ? before + 1 : before)].RecIndex;
        }
    }

    // The new record bytes; new blob values go to fresh space at the end of the file, so that
    // the committed ones stay intact until the record points elsewhere.
    qint32 autoIncCounter = TableHeader.AutoIncCounter;
    std::vector<char> rec = old;
    const qint64 start = io->FileSize();
    qint64 end = start;
    struct NewBlob
    {
        int Field;
        qint64 At;
        QByteArray Bytes;
        TMemoryStream *Value;
    };
    std::vector<NewBlob> newBlobs;
    for (int f = 0; f < fieldCount && f < FieldBuffers.Count(); ++f) {
        TFieldBufferItem *item = FieldBuffers.Items(f);
        if (!item->Active || !item->Buffer)
            continue;
        const TDictFieldDef *def = m_fieldDefs->Items(f);
        char *slot = rec.data() + FieldOffsets[size_t(f)];
        if (IsBlobFieldType(def->FieldType)) {
            TMemoryStream *value = item->IsBlob() ? item->BlobStream() : nullptr;
            QByteArray bytes = EncodeBlob(value, f);
            TBlobSlot bs;
            std::memcpy(&bs, slot, sizeof bs);
            bs.Offset = qint32(qMin<qint64>(end, kMaxFileSize));
            bs.Length = qint32(bytes.size());
            bs.Capacity = qint32(BlobCapacity(bytes.size()));
            std::memcpy(slot, &bs, sizeof bs);
            newBlobs.push_back({f, end, std::move(bytes), value});
            end += bs.Capacity;
        } else if (def->FieldType == ftAutoInc) {
            qint32 v = 0;
            std::memcpy(&v, item->Buffer, qMin<size_t>(4, size_t(qMax(0, item->FieldSize))));
            if (v == 0)
                continue;
            std::memcpy(slot, &v, 4);
            io->EncodeMemoryBuffer(slot, slot, FieldIsEncrypted(f), 4);
            if (v > autoIncCounter)
                autoIncCounter = v;
        } else {
            PrepareFixedField(f, item, slot);
            io->EncodeMemoryBuffer(slot, slot, FieldIsEncrypted(f), GetFieldSize(def->FieldType, def->FieldSize));
        }
    }
    if (end > kMaxFileSize)
        DatabaseErrorFmt(L(SFileTooLarge), io->DatabaseName);

    std::vector<std::pair<int, int>> relied;
    for (int k = 0; k < indexCount; ++k) {
        const TIndexStep &s = steps[size_t(k)];
        if (!s.Moves)
            continue;
        relied.push_back({k, r});
        relied.push_back({k, IdxTabPrev[size_t(k)][size_t(r)]});
        if (s.Pred >= 0) {
            relied.push_back({k, s.Pred});
            relied.push_back({k, IdxTabPrev[size_t(k)][size_t(s.Pred)]});
        }
    }
    CheckEntries(std::move(relied));

    bool committing = false;
    try {
        // 1. The new blob areas, in fresh space.
        if (!newBlobs.empty()) {
            QByteArray image(int(end - start), '\0');
            for (const NewBlob &b : newBlobs)
                std::memcpy(image.data() + (b.At - start), b.Bytes.constData(), size_t(b.Bytes.size()));
            io->WriteBuffer(image.constData(), start, image.size());
            for (const NewBlob &b : newBlobs)
                WriteBlob(b.Value, b.Field, b.At, b.Bytes);
        }
        // 2. The record leaves the chains it moves in; a crash from here until it is linked
        //    again leaves each such chain missing just this record, which the next load links
        //    in where its key (old or new, whichever the file holds) belongs.
        committing = true;
        bool headerChanged = autoIncCounter != TableHeader.AutoIncCounter;
        TableHeader.AutoIncCounter = autoIncCounter;
        for (int k = 0; k < indexCount; ++k)
            if (steps[size_t(k)].Moves)
                Unlink(k, r, headerChanged, true);
        if (headerChanged)
            io->WriteTableHeader(TableIdx, TableHeader);
        // 3. The commit point of the values.
        io->WriteBuffer(rec.data(), info.DataOffset, RecordSize);
        // 4. Linked again where the new key belongs.
        headerChanged = false;
        for (int k = 0; k < indexCount; ++k)
            if (steps[size_t(k)].Moves)
                LinkAfter(k, r, steps[size_t(k)].Pred, headerChanged, true);
        if (headerChanged)
            io->WriteTableHeader(TableIdx, TableHeader);
    } catch (...) {
        if (committing)
            m_stale = true;
        throw;
    }

    for (int k = 0; k < indexCount; ++k) {
        const TIndexStep &s = steps[size_t(k)];
        if (!s.Moves)
            continue;
        if (OnAdjust)
            OnAdjust(k, s.OldPos, s.NewPos);
        TRecInfoList &list = IndexLists[size_t(k) + 1];
        const TRecInfo entry = list[size_t(s.OldPos)];
        list.erase(list.begin() + s.OldPos);
        list.insert(list.begin() + s.NewPos, entry);
    }
    ++ListsVersion;
    if (Flush)
        io->Flush();
}

void TDictTableIO::DeleteRecordData(int RecPos, bool Flush)
{
    TDictDBFileIO *io = FileIO();
    if (!Loaded() || RecPos < 0 || size_t(RecPos) >= IndexLists[0].size())
        DatabaseError(L(msg::SGeneralError));
    LockGuard lock(io, true);
    CheckWritable();
    const TRecInfo info = IndexLists[0][size_t(RecPos)];
    const int r = info.RecIndex;
    const int indexCount = m_indexDefs->Count();
    std::vector<int> positions(static_cast<size_t>(indexCount), -1);
    if (indexCount > 0) {
        std::vector<char> raw(static_cast<size_t>(RecordSize));
        io->ReadBuffer(raw.data(), info.DataOffset, RecordSize);
        for (int k = 0; k < indexCount; ++k)
            positions[size_t(k)] = FindInList(k, r, KeyOfRecord(raw.data(), k));
    }
    // One byte: it is written or it is not.
    io->DeleteRecordTab(RecTabPosition(r));
    RecTabItems[size_t(r)].DeleteFlag = 1;
    IndexLists[0].erase(IndexLists[0].begin() + RecPos);
    for (int k = 0; k < indexCount; ++k)
        if (const int p = positions[size_t(k)]; p >= 0) {
            TRecInfoList &list = IndexLists[size_t(k) + 1];
            list.erase(list.begin() + p);
        }
    ++ListsVersion;
    if (Flush)
        io->Flush();
}

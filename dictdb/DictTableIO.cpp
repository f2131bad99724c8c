#include "dictdb/DictTableIO.h"

#include "dictdb/DictDB.h"
#include "dictdb/DictDBFileIO.h"
#include "dictdb/FilterParser.h"

#include <algorithm>
#include <cstring>

using namespace dictdb;

namespace {

const char *const STableNotFound = "Table '%s' not found";
const char *const SInvalidUniqueValue = "Invalid unique field value '%s'";
const char *const STableChanged = "Table '%s' was changed by another program; open it again";
const char *const SVerifyFailed = "Blob of field '%s' does not read back as written";
const char *const STableFull = "Table '%s' holds the most records a table can";
const int kVerifyAttempts = 3;

QString L(const char *s) { return QString::fromLatin1(s); }

bool IsStringField(TFieldType t) { return t == ftString || t == ftFixedChar; }

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

} // namespace

TDictTableIO::TDictTableIO(TDictDatabase *ADatabase)
    : Database(ADatabase), m_fieldDefs(std::make_unique<TDictFieldDefs>(nullptr)),
      m_indexDefs(std::make_unique<TDictIndexDefs>(nullptr))
{
}

TDictTableIO::TDictTableIO(TDictDBFileIO *AFileIO)
    : m_ownFileIO(AFileIO), m_fieldDefs(std::make_unique<TDictFieldDefs>(nullptr)),
      m_indexDefs(std::make_unique<TDictIndexDefs>(nullptr))
{
}

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
    IndexLists.clear();
}

void TDictTableIO::Load()
{
    TDictDBFileIO *io = FileIO();
    LockGuard lock(io, false);
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

        RecordSize = 0;
        FieldOffsets.assign(size_t(hdr.FieldCount), 0);
        AutoIncFieldIdx = -1;
        for (int f = 0; f < hdr.FieldCount; ++f) {
            const TFieldType t = TFieldType(hdr.FieldTab[f].FieldType);
            FieldOffsets[size_t(f)] = RecordSize;
            RecordSize += IsBlobFieldType(t) ? kBlobSlotSize : GetFieldSize(t, hdr.FieldTab[f].FieldSize);
            if (t == ftAutoInc && AutoIncFieldIdx < 0)
                AutoIncFieldIdx = f;
        }

        io->ReadRecordTabItems(hdr, RecTabItems, RecTabBlockOffsets);
        const qint64 size = io->FileSize();
        const qint32 total = hdr.RecordTotal;
        IndexLists.assign(size_t(hdr.IndexCount) + 1, TRecInfoList());
        for (qint32 r = 0; r < total; ++r) {
            const TRecordTabItem &it = RecTabItems[size_t(r)];
            if (it.DeleteFlag != 0)
                continue;
            if (it.DataOffset < kDataStart || it.DataOffset > size - RecordSize)
                io->Corrupt("record data outside the file");
            IndexLists[0].push_back({it.DataOffset, r});
        }
        IdxTabBlockOffsets.assign(size_t(hdr.IndexCount), TIntegerAry());
        IdxTabItems.assign(size_t(hdr.IndexCount), TIndexTabItems());
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
            std::vector<bool> seen(static_cast<size_t>(total), false);
            qint32 steps = 0;
            for (qint32 r = ix.StartIndex; r != -1; r = items[size_t(r)].NextRecIndex) {
                if (r < 0 || r >= total || seen[size_t(r)])
                    io->Corrupt("index chain loops");
                seen[size_t(r)] = true;
                ++steps;
                if (RecTabItems[size_t(r)].DeleteFlag == 0)
                    IndexLists[size_t(k) + 1].push_back({RecTabItems[size_t(r)].DataOffset, r});
            }
            if (steps != total)
                io->Corrupt("index chain misses records");
        }
        TableHeader = hdr;
        TableIdx = idx;
    } catch (...) {
        Unload();
        throw;
    }
}

qint64 TDictTableIO::RecTabPosition(int RecIdx) const
{
    if (RecIdx < 0 || size_t(RecIdx) >= RecTabItems.size())
        DatabaseError(L(msg::SGeneralError));
    return qint64(RecTabBlockOffsets[size_t(RecIdx / kTabBlockEntries)]) + 4
           + qint64(RecIdx % kTabBlockEntries) * kRecordTabEntrySize;
}

qint64 TDictTableIO::IdxTabPosition(int IndexIdx, int RecIdx) const
{
    return qint64(IdxTabBlockOffsets[size_t(IndexIdx)][size_t(RecIdx / kTabBlockEntries)]) + 4
           + qint64(RecIdx % kTabBlockEntries) * kIndexTabEntrySize;
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

QString TDictTableIO::Where(int FieldIdx) const
{
    return QStringLiteral(" (table '%1', field '%2')").arg(TableName, m_fieldDefs->Items(FieldIdx)->Name());
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
    if (FromIndex + 1 < 0 || size_t(FromIndex + 1) >= IndexLists.size() || ToIndex + 1 < 0
        || size_t(ToIndex + 1) >= IndexLists.size())
        return -1;
    const TRecInfoList &from = IndexLists[size_t(FromIndex + 1)];
    if (Pos < 0 || size_t(Pos) >= from.size())
        return -1;
    const qint32 rec = from[size_t(Pos)].RecIndex;
    const TRecInfoList &to = IndexLists[size_t(ToIndex + 1)];
    if (ToIndex == -1) {
        const auto it = std::lower_bound(to.begin(), to.end(), rec,
                                         [](const TRecInfo &a, qint32 r) { return a.RecIndex < r; });
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
    const qint32 size = blob ? kBlobSlotSize : GetFieldSize(def->FieldType, def->FieldSize);
    try {
        io->ReadFieldData(Dest, RecTabPosition(RecIdx), FieldIsCompressed(FieldIdx), FieldIsEncrypted(FieldIdx),
                          blob, size, FieldOffsets[size_t(FieldIdx)]);
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

void TDictTableIO::ReadRecordData(TFieldBuffers &FieldBuffers, const TRecInfoList &List, int Pos)
{
    TDictDBFileIO *io = FileIO();
    if (Pos < 0 || size_t(Pos) >= List.size())
        return;
    const TRecInfo info = List[size_t(Pos)];
    LockGuard lock(io, false);
    std::vector<char> rec(static_cast<size_t>(RecordSize));
    io->ReadBuffer(rec.data(), info.DataOffset, RecordSize);
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
                io->ReadBlobData(stream, qint64(info.DataOffset) + off, FieldIsCompressed(f), FieldIsEncrypted(f),
                                 Where(f));
                stream->SetPosition(0);
            }
            continue;
        }
        const qint32 slot = GetFieldSize(def->FieldType, def->FieldSize);
        const int size = int(qMin(slot, item->FieldSize));
        if (size <= 0)
            continue;
        if (size == slot) {
            io->DecodeMemoryBuffer(rec.data() + off, item->Buffer, FieldIsEncrypted(f), size);
        } else {
            // A buffer narrower than the slot still gets a whole, decoded slot's prefix.
            std::vector<char> tmp(static_cast<size_t>(slot));
            io->DecodeMemoryBuffer(rec.data() + off, tmp.data(), FieldIsEncrypted(f), slot);
            std::memcpy(item->Buffer, tmp.data(), size_t(size));
        }
        NormalizeValue(def->FieldType, static_cast<char *>(item->Buffer), size);
    }
}

// ---- keys and searching ----

int TDictTableIO::CompareFieldValue(const void *Value1, const void *Value2, bool PartialCompare,
                                    bool CaseInsensitive, TFieldType FieldType)
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

int TDictTableIO::CompareKey(TFieldBuffers &FieldBuffers, int RecIdx, int IndexIdx, bool PartialCompare, int FieldCount)
{
    const TDictIndexDef *ix = m_indexDefs->Items(IndexIdx);
    const bool ci = ix->Options.testFlag(tiCaseInsensitive);
    int n = int(ix->FieldIdxes.size());
    if (FieldCount > 0 && FieldCount < n)
        n = FieldCount;
    int c = 0;
    for (int i = 0; i < n && c == 0; ++i) {
        const int f = ix->FieldIdxes[size_t(i)];
        const TDictFieldDef *def = m_fieldDefs->Items(f);
        QByteArray key;
        const TFieldBufferItem *item = f < FieldBuffers.Count() ? FieldBuffers.Items(f) : nullptr;
        if (item && item->Active && item->Buffer) {
            if (item->IsBlob()) {
                TMemoryStream *s = item->BlobStream();
                if (auto *o = dynamic_cast<TOptimBlobStream *>(s))
                    o->LoadIfNeeded();
                key = QByteArray(static_cast<const char *>(s->Memory()), int(s->Size()));
            } else {
                key.resize(GetFieldSize(def->FieldType, def->FieldSize));
                PrepareFixedField(f, item, key.data());
            }
        } else if (m_keyFallbackRec >= 0) {
            key = RecordValue(m_keyFallbackRec, f);
        } else if (!IsBlobFieldType(def->FieldType)) {
            key = QByteArray(GetFieldSize(def->FieldType, def->FieldSize), '\0');
        }
        const QByteArray rec = RecordValue(RecIdx, f);
        const qsizetype need = IsBlobFieldType(def->FieldType) ? 0 : GetFieldSize(def->FieldType, def->FieldSize);
        if (key.size() < need)
            key.append(QByteArray(need - key.size(), '\0'));
        c = CompareFieldValue(key.constData(), rec.constData(), PartialCompare, ci,
                              IsBlobFieldType(def->FieldType) ? ftString : def->FieldType);
    }
    if (ix->Options.testFlag(tiDescending))
        c = -c;
    return c;
}

int TDictTableIO::SearchIndexedField(TFieldBuffers &FieldBuffers, const TRecInfoList &List, bool PartialCompare,
                                     int FieldCount, int &ResultState, int IndexIdx)
{
    ResultState = -2;
    int low = 0, high = int(List.size()) - 1, result = -1;
    while (low <= high) {
        const int mid = low + (high - low) / 2;
        result = mid;
        const int c = CompareKey(FieldBuffers, List[size_t(mid)].RecIndex, IndexIdx, PartialCompare, FieldCount);
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

int TDictTableIO::SearchIndexedFieldBound(TFieldBuffers &FieldBuffers, const TRecInfoList &List,
                                          bool PartialCompare, int FieldCount, int &ResultState, int IndexIdx,
                                          bool LowBound)
{
    ResultState = -2;
    int low = 0, high = int(List.size()) - 1, result = -1;
    bool found = false;
    while (low <= high) {
        const int mid = low + (high - low) / 2;
        const int c = CompareKey(FieldBuffers, List[size_t(mid)].RecIndex, IndexIdx, PartialCompare, FieldCount);
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

int TDictTableIO::SearchInsertPos(TFieldBuffers &FieldBuffers, int IndexIdx, int &ResultState)
{
    const int pos = SearchIndexedField(FieldBuffers, IndexLists[size_t(IndexIdx) + 1], false, 0, ResultState,
                                       IndexIdx);
    if (ResultState == 0 || ResultState == 1)
        return pos + 1;
    if (ResultState == -2)
        return 0;
    return pos;
}

void TDictTableIO::CheckUnique(TFieldBuffers &FieldBuffers, int ExceptRecIdx)
{
    for (int k = 0; k < m_indexDefs->Count(); ++k) {
        const TDictIndexDef *ix = m_indexDefs->Items(k);
        if (!(ix->Options & (tiPrimary | tiUnique)))
            continue;
        const TRecInfoList &list = IndexLists[size_t(k) + 1];
        int state = 0;
        const int pos = SearchIndexedField(FieldBuffers, list, false, 0, state, k);
        if (state != 0)
            continue;
        // Equal keys stand together: look at the whole run around the hit.
        bool clash = false;
        for (int dir = -1; dir <= 1 && !clash; dir += 2)
            for (int i = pos; i >= 0 && size_t(i) < list.size(); i += dir) {
                if (i != pos && CompareKey(FieldBuffers, list[size_t(i)].RecIndex, k, false, 0) != 0)
                    break;
                if (list[size_t(i)].RecIndex != ExceptRecIdx) {
                    clash = true;
                    break;
                }
            }
        if (!clash)
            continue;
        QStringList values;
        for (int f : ix->FieldIdxes) {
            const TFieldBufferItem *item = f < FieldBuffers.Count() ? FieldBuffers.Items(f) : nullptr;
            if (item && item->Active && item->Buffer)
                values << item->AsString();
            else if (m_keyFallbackRec >= 0) {
                TFieldBufferItem tmp;
                const QByteArray v = RecordValue(m_keyFallbackRec, f);
                tmp.Buffer = const_cast<char *>(v.constData());
                tmp.FieldType = m_fieldDefs->Items(f)->FieldType;
                tmp.FieldSize = int(v.size());
                values << (tmp.IsBlob() ? QString::fromUtf8(v.constData()) : tmp.AsString());
                tmp.Buffer = nullptr;
            } else
                values << QString();
        }
        DatabaseErrorFmt(L(SInvalidUniqueValue), values.join(QLatin1Char(',')));
    }
}

int TDictTableIO::CompareRecordKeys(int RecA, int RecB, int IndexIdx)
{
    if (IndexIdx < 0 || IndexIdx >= m_indexDefs->Count())
        DatabaseError(L(msg::SGeneralError));
    const TDictIndexDef *ix = m_indexDefs->Items(IndexIdx);
    const bool ci = ix->Options.testFlag(tiCaseInsensitive);
    int c = 0;
    for (size_t i = 0; i < ix->FieldIdxes.size() && c == 0; ++i) {
        const int f = ix->FieldIdxes[i];
        const TDictFieldDef *def = m_fieldDefs->Items(f);
        const QByteArray a = RecordValue(RecA, f);
        const QByteArray b = RecordValue(RecB, f);
        c = CompareFieldValue(a.constData(), b.constData(), false, ci,
                              IsBlobFieldType(def->FieldType) ? ftString : def->FieldType);
    }
    return ix->Options.testFlag(tiDescending) ? -c : c;
}

// ---- writing ----

void TDictTableIO::CheckHeaderUnchanged()
{
    TDictDBFileIO *io = FileIO();
    TTableHeader cur;
    io->ReadTableHeader(TableIdx, cur);
    if (std::memcmp(&cur, &TableHeader, sizeof cur) != 0)
        DatabaseErrorFmt(L(STableChanged), TableName);
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
    if (out.Size() >= kMaxFileSize)
        DatabaseErrorFmt(QStringLiteral("Blob of field '%s' is too large"), m_fieldDefs->Items(FieldIdx)->Name());
    return QByteArray(static_cast<const char *>(out.Memory()), int(out.Size()));
}

void TDictTableIO::WriteBlob(TMemoryStream *Value, int FieldIdx, qint64 Offset, const QByteArray &Encoded)
{
    TDictDBFileIO *io = FileIO();
    io->WriteBuffer(Encoded.constData(), Offset, Encoded.size());
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

int TDictTableIO::ChainPredecessor(int IndexIdx, int RecIdx) const
{
    const TIndexTabItems &items = IdxTabItems[size_t(IndexIdx)];
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].NextRecIndex == RecIdx)
            return int(i);
    return -1;
}

void TDictTableIO::Unlink(int IndexIdx, int RecIdx, bool &HeaderChanged)
{
    TIndexTabItems &items = IdxTabItems[size_t(IndexIdx)];
    TIndexHeaderItem &ix = TableHeader.IndexHeader[IndexIdx];
    if (ix.StartIndex == RecIdx) {
        ix.StartIndex = items[size_t(RecIdx)].NextRecIndex;
        HeaderChanged = true;
    } else {
        const int p = ChainPredecessor(IndexIdx, RecIdx);
        if (p >= 0) {
            items[size_t(p)].NextRecIndex = items[size_t(RecIdx)].NextRecIndex;
            WriteIndexEntry(IndexIdx, p);
        }
    }
}

void TDictTableIO::LinkAfter(int IndexIdx, int RecIdx, int Predecessor, bool &HeaderChanged)
{
    TIndexTabItems &items = IdxTabItems[size_t(IndexIdx)];
    TIndexHeaderItem &ix = TableHeader.IndexHeader[IndexIdx];
    if (Predecessor < 0) {
        items[size_t(RecIdx)].NextRecIndex = ix.StartIndex;
        ix.StartIndex = RecIdx;
        HeaderChanged = true;
    } else {
        items[size_t(RecIdx)].NextRecIndex = items[size_t(Predecessor)].NextRecIndex;
        items[size_t(Predecessor)].NextRecIndex = RecIdx;
        WriteIndexEntry(IndexIdx, Predecessor);
    }
    WriteIndexEntry(IndexIdx, RecIdx);
}

void TDictTableIO::AppendRecordData(TFieldBuffers &FieldBuffers, bool Flush, const TOnAdjustIndexForAppend &OnAdjust)
{
    TDictDBFileIO *io = FileIO();
    if (!Loaded())
        DatabaseError(L(msg::SGeneralError));
    LockGuard lock(io, true);
    CheckHeaderUnchanged();
    CheckUnique(FieldBuffers, -1);

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
        }
        if (item && item->FieldSize >= 4)
            std::memcpy(item->Buffer, &v, 4);
    }

    // Blobs are encoded first, so that the layout is known before anything is written.
    std::vector<QByteArray> blobs(static_cast<size_t>(fieldCount));
    for (int f = 0; f < fieldCount; ++f)
        if (IsBlobFieldType(m_fieldDefs->Items(f)->FieldType)) {
            TFieldBufferItem *item = itemOf(f);
            blobs[size_t(f)] = EncodeBlob(item && item->IsBlob() ? item->BlobStream() : nullptr, f);
        }

    const bool newBlock = n % kTabBlockEntries == 0;
    qint64 pos = io->FileSize();
    const qint64 recBlockPos = newBlock ? pos : -1;
    if (newBlock)
        pos += kRecordTabBlockSize;
    const qint64 dataOffset = pos;
    pos += RecordSize;
    std::vector<qint64> blobPos(static_cast<size_t>(fieldCount), 0);
    for (int f = 0; f < fieldCount; ++f)
        if (IsBlobFieldType(m_fieldDefs->Items(f)->FieldType)) {
            blobPos[size_t(f)] = pos;
            pos += BlobCapacity(qint32(blobs[size_t(f)].size()));
        }
    std::vector<qint64> idxBlockPos(static_cast<size_t>(indexCount), -1);
    if (newBlock)
        for (int k = 0; k < indexCount; ++k) {
            idxBlockPos[size_t(k)] = pos;
            pos += kIndexTabBlockSize;
        }
    if (pos > kMaxFileSize)
        DatabaseErrorFmt(QStringLiteral("Database file '%s' would exceed 2 GiB"), io->DatabaseName);

    // 1. The record's data and blobs: nothing refers to them yet.
    if (newBlock)
        io->WriteZeros(recBlockPos, kRecordTabBlockSize);
    std::vector<char> rec(static_cast<size_t>(RecordSize), 0);
    for (int f = 0; f < fieldCount; ++f) {
        const TDictFieldDef *def = m_fieldDefs->Items(f);
        char *slot = rec.data() + FieldOffsets[size_t(f)];
        if (IsBlobFieldType(def->FieldType)) {
            const QByteArray &bytes = blobs[size_t(f)];
            const qint32 cap = BlobCapacity(qint32(bytes.size()));
            TFieldBufferItem *item = itemOf(f);
            io->WriteZeros(blobPos[size_t(f)] + bytes.size(), cap - bytes.size());
            WriteBlob(item && item->IsBlob() ? item->BlobStream() : nullptr, f, blobPos[size_t(f)], bytes);
            const TBlobSlot bs{qint32(blobPos[size_t(f)]), qint32(bytes.size()), cap, 0, 0};
            std::memcpy(slot, &bs, sizeof bs);
        } else {
            PrepareFixedField(f, itemOf(f), slot);
            const qint32 size = GetFieldSize(def->FieldType, def->FieldSize);
            io->EncodeMemoryBuffer(slot, slot, FieldIsEncrypted(f), size);
        }
    }
    io->WriteBuffer(rec.data(), dataOffset, RecordSize);

    // 2. The new record's own index entries (the chains do not lead to it yet).
    std::vector<int> insertPos(static_cast<size_t>(indexCount)), pred(static_cast<size_t>(indexCount));
    std::vector<TIndexTabItem> entries(static_cast<size_t>(indexCount));
    for (int k = 0; k < indexCount; ++k) {
        int state = 0;
        insertPos[size_t(k)] = SearchInsertPos(FieldBuffers, k, state);
        pred[size_t(k)] = insertPos[size_t(k)] > 0 ? IndexLists[size_t(k) + 1][size_t(insertPos[size_t(k)] - 1)].RecIndex : -1;
        TIndexTabItem e;
        e.RecIndex = n;
        if (pred[size_t(k)] >= 0)
            e.NextRecIndex = IdxTabItems[size_t(k)][size_t(pred[size_t(k)])].NextRecIndex;
        else
            e.NextRecIndex = n == 0 ? -1 : hdr.IndexHeader[k].StartIndex;
        entries[size_t(k)] = e;
        qint64 blockAt;
        if (newBlock) {
            io->WriteZeros(idxBlockPos[size_t(k)], kIndexTabBlockSize);
            if (n == 0) {
                hdr.IndexHeader[k].IndexTabOffset = qint32(idxBlockPos[size_t(k)]);
            } else {
                const qint32 next = qint32(idxBlockPos[size_t(k)]);
                io->WriteBuffer(&next, IdxTabBlockOffsets[size_t(k)].back(), 4);
            }
            blockAt = idxBlockPos[size_t(k)];
        } else {
            blockAt = IdxTabBlockOffsets[size_t(k)].back();
        }
        io->WriteBuffer(&e, blockAt + 4 + qint64(n % kTabBlockEntries) * kIndexTabEntrySize, sizeof e);
        if (pred[size_t(k)] < 0)
            hdr.IndexHeader[k].StartIndex = n;
    }

    // 3. The record-tab entry, then the header: the commit point.
    if (newBlock) {
        if (n == 0) {
            hdr.RecTabOffset = qint32(recBlockPos);
        } else {
            const qint32 next = qint32(recBlockPos);
            io->WriteBuffer(&next, RecTabBlockOffsets.back(), 4);
        }
    }
    const TRecordTabItem tab{qint32(dataOffset), 0};
    const qint64 tabBlock = newBlock ? recBlockPos : RecTabBlockOffsets.back();
    io->WriteBuffer(&tab, tabBlock + 4 + qint64(n % kTabBlockEntries) * kRecordTabEntrySize, sizeof tab);
    hdr.RecordTotal = n + 1;
    io->WriteTableHeader(TableIdx, hdr);

    TableHeader = hdr;
    RecTabItems.push_back(tab);
    if (newBlock) {
        RecTabBlockOffsets.push_back(qint32(recBlockPos));
        for (int k = 0; k < indexCount; ++k)
            IdxTabBlockOffsets[size_t(k)].push_back(qint32(idxBlockPos[size_t(k)]));
    }
    for (int k = 0; k < indexCount; ++k)
        IdxTabItems[size_t(k)].push_back(entries[size_t(k)]);

    // 4. Lead each chain to the new record.
    for (int k = 0; k < indexCount; ++k)
        if (pred[size_t(k)] >= 0) {
            IdxTabItems[size_t(k)][size_t(pred[size_t(k)])].NextRecIndex = n;
            WriteIndexEntry(k, pred[size_t(k)]);
        }

    const TRecInfo item{qint32(dataOffset), n};
    IndexLists[0].push_back(item);
    if (OnAdjust)
        OnAdjust(-1, -1, item);
    for (int k = 0; k < indexCount; ++k) {
        if (OnAdjust)
            OnAdjust(k, insertPos[size_t(k)], item);
        TRecInfoList &list = IndexLists[size_t(k) + 1];
        list.insert(list.begin() + insertPos[size_t(k)], item);
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
    CheckHeaderUnchanged();
    const TRecInfo info = IndexLists[0][size_t(RecPos)];
    const int r = info.RecIndex;
    struct Fallback
    {
        int &ref;
        ~Fallback() { ref = -1; }
    } fallback{m_keyFallbackRec};
    m_keyFallbackRec = r;
    CheckUnique(FieldBuffers, r);

    const int fieldCount = m_fieldDefs->Count();
    std::vector<char> rec(static_cast<size_t>(RecordSize));
    io->ReadBuffer(rec.data(), info.DataOffset, RecordSize);
    bool headerChanged = false;
    for (int f = 0; f < fieldCount && f < FieldBuffers.Count(); ++f) {
        TFieldBufferItem *item = FieldBuffers.Items(f);
        if (!item->Active || !item->Buffer)
            continue;
        const TDictFieldDef *def = m_fieldDefs->Items(f);
        char *slot = rec.data() + FieldOffsets[size_t(f)];
        if (IsBlobFieldType(def->FieldType)) {
            TMemoryStream *value = item->IsBlob() ? item->BlobStream() : nullptr;
            const QByteArray bytes = EncodeBlob(value, f);
            TBlobSlot old;
            std::memcpy(&old, slot, sizeof old);
            const qint32 len = qint32(bytes.size());
            qint64 at;
            qint32 cap;
            if (old.Capacity > len && old.Offset >= kDataStart && old.Capacity >= 0
                && qint64(old.Offset) + old.Capacity <= io->FileSize()) {
                at = old.Offset;
                cap = old.Capacity;
            } else {
                const qint64 end = io->FileSize();
                at = (old.Offset >= kDataStart && old.Capacity >= 0 && qint64(old.Offset) + old.Capacity == end)
                         ? old.Offset
                         : end;
                cap = BlobCapacity(len);
            }
            if (at + cap > kMaxFileSize)
                DatabaseErrorFmt(QStringLiteral("Database file '%s' would exceed 2 GiB"), io->DatabaseName);
            io->WriteZeros(at + len, cap - len);
            WriteBlob(value, f, at, bytes);
            old.Offset = qint32(at);
            old.Length = len;
            old.Capacity = cap;
            std::memcpy(slot, &old, sizeof old);
        } else if (def->FieldType == ftAutoInc) {
            qint32 v = 0;
            std::memcpy(&v, item->Buffer, qMin<size_t>(4, size_t(qMax(0, item->FieldSize))));
            if (v == 0)
                continue;
            std::memcpy(slot, &v, 4);
            io->EncodeMemoryBuffer(slot, slot, FieldIsEncrypted(f), 4);
            if (v > TableHeader.AutoIncCounter) {
                TTableHeader hdr = TableHeader;
                hdr.AutoIncCounter = v;
                io->WriteTableHeader(TableIdx, hdr);
                TableHeader = hdr;
            }
        } else {
            PrepareFixedField(f, item, slot);
            io->EncodeMemoryBuffer(slot, slot, FieldIsEncrypted(f), GetFieldSize(def->FieldType, def->FieldSize));
        }
    }
    io->WriteBuffer(rec.data(), info.DataOffset, RecordSize);

    for (int k = 0; k < m_indexDefs->Count(); ++k) {
        TRecInfoList &list = IndexLists[size_t(k) + 1];
        const auto it = std::find_if(list.begin(), list.end(), [r](const TRecInfo &e) { return e.RecIndex == r; });
        if (it == list.end())
            continue;
        const int oldPos = int(it - list.begin());
        const TRecInfo entry = *it;
        list.erase(it);
        int state = 0;
        const int newPos = SearchInsertPos(FieldBuffers, k, state);
        if (newPos != oldPos) {
            if (OnAdjust)
                OnAdjust(k, oldPos, newPos);
            Unlink(k, r, headerChanged);
            const int p = newPos > 0 ? list[size_t(newPos - 1)].RecIndex : -1;
            LinkAfter(k, r, p, headerChanged);
        }
        list.insert(list.begin() + newPos, entry);
    }
    if (headerChanged)
        io->WriteTableHeader(TableIdx, TableHeader);
    if (Flush)
        io->Flush();
}

void TDictTableIO::DeleteRecordData(int RecPos, bool Flush)
{
    TDictDBFileIO *io = FileIO();
    if (!Loaded() || RecPos < 0 || size_t(RecPos) >= IndexLists[0].size())
        DatabaseError(L(msg::SGeneralError));
    LockGuard lock(io, true);
    CheckHeaderUnchanged();
    const int r = IndexLists[0][size_t(RecPos)].RecIndex;
    io->DeleteRecordTab(RecTabPosition(r));
    RecTabItems[size_t(r)].DeleteFlag = 1;
    for (TRecInfoList &list : IndexLists) {
        const auto it = std::find_if(list.begin(), list.end(), [r](const TRecInfo &e) { return e.RecIndex == r; });
        if (it != list.end())
            list.erase(it);
    }
    if (Flush)
        io->Flush();
}

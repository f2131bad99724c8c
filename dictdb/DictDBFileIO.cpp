#include "dictdb/DictDBFileIO.h"

#include "dictdb/DataProcess.h"
#include "dictdb/DictDBUtils.h"

#include <QFileInfo>
#include <QThread>

#include "platform/files/FileStat.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <set>

using namespace dictdb;

namespace {

const char *const kSFailedToOpen = "Failed to open file";
const char *const kSInvalidDictDb = "Database file '%s' is a invalid DictDB";
const char *const kSVersionNotCompatible = "Version 1.00 is not compatible";
const char *const kSVersionTooHigh = "Version of database file is too High";
const char *const kSLockTimeOut = "Wait for unlock time out";
const char *const kSReadOnly = "Database file '%s' is read-only";
const char *const kSFileTooLarge = "Database file '%s' would exceed 2 GiB";

const char *const kSWriteFailed = "Cannot write database file '%s': %s";
constexpr qint64 kPageSize = 4096;
constexpr size_t kMaxPages = 8192; // 32 MiB at most, then the pages are read afresh

QString L(const char *S)
{
    return QString::fromLatin1(S);
}

#if TASKVANE_TEST_SEAMS
std::atomic<TDictDBWriteHook> g_writeHook{nullptr};
#endif

} // namespace

#if TASKVANE_TEST_SEAMS
void SetDictDBWriteHook(TDictDBWriteHook Hook)
{
    g_writeHook.store(Hook);
}
#endif

// ---- TDictDBFileStream ----

TDictDBFileStream::TDictDBFileStream(const QString &FileName, quint16 Mode) : TFileStream(FileName, Mode) {}

qint64 TDictDBFileStream::Write(const void *Buffer, qint64 Count)
{
    Flushed = false;
    return TFileStream::Write(Buffer, Count);
}

qint64 TDictDBFileStream::WriteAt(qint64 Pos, const void *Buffer, qint64 Count)
{
    Flushed = false;
    return TFileStream::WriteAt(Pos, Buffer, Count);
}

void TDictDBFileStream::Flush()
{
    platform::files::SyncHandle(Handle());
    Flushed = true;
}

// ---- TDictDBFileIO ----

TDictDBFileIO::TDictDBFileIO(const TDictDBFileSettings &Settings)
    : MediumType(Settings.MediumType), Exclusive(Settings.Exclusive), CompressMgr(std::make_unique<TCompressMgr>(this)),
      EncryptMgr(std::make_unique<TEncryptMgr>(this)), m_LockRetryCount(Settings.LockRetryCount),
      m_LockWaitTime(Settings.LockWaitTime)
{
    CompressMgr->OnEncodeProgress = Settings.OnCompressProgress;
    CompressMgr->OnDecodeProgress = Settings.OnUncompressProgress;
    EncryptMgr->OnEncodeProgress = Settings.OnEncryptProgress;
    EncryptMgr->OnDecodeProgress = Settings.OnDecryptProgress;
}

TDictDBFileIO::~TDictDBFileIO()
{
    Close();
}

void TDictDBFileIO::CheckHead(const char *Head, qint64 Count, const QString &Name)
{
    if (Count < 12 || SlotText(Head, 7) != QLatin1String(kMagic))
        DatabaseErrorFmt(L(kSInvalidDictDb), Name);
    const QByteArray version(Head + 7, int(qstrnlen(Head + 7, 5)));
    if (version == "1.00")
        DatabaseError(L(kSVersionNotCompatible));
    if (version > QByteArray(kVersion))
        DatabaseError(L(kSVersionTooHigh));
}

void TDictDBFileIO::Open(const QString &ADatabaseName, TDictDBMediumType AMediumType, bool AExclusive)
{
    if (IsOpen())
        return;
    MediumType = AMediumType;
    Exclusive = AExclusive;
    char head[12] = {};
    if (MediumType == mtDisk) {
        // One look at the file and one descriptor: the dictionary is opened for every question
        // asked of it.
        platform::files::FileStatus st;
        if (ADatabaseName.isEmpty() || !platform::files::StatFile(ADatabaseName, st) ||
            st.Kind != platform::files::FileKind::Regular)
            DatabaseError(L(kSFailedToOpen));
        FileIsReadOnly = ReadOnlyAccess || (st.Mode & 0222) == 0 || !platform::files::MayWriteFile(ADatabaseName);
        const quint16 mode =
            (FileIsReadOnly ? fmOpenRead : fmOpenReadWrite) | (Exclusive ? fmShareExclusive : fmShareDenyNone);
        std::unique_ptr<TDictDBFileStream> file;
        qint64 got = 0;
        try {
            file = std::make_unique<TDictDBFileStream>(ADatabaseName, mode);
            got = file->ReadAt(0, head, sizeof head);
        } catch (const EStreamError &e) {
            if (!file)
                DatabaseError(L(kSFailedToOpen));
            DatabaseError(e.Message());
        }
        CheckHead(head, got, ADatabaseName);
        m_HandleStream = file.get();
        DBStream = file.release();
        m_OwnsStream = true;
    } else {
        TStream *stream = DBNameToStreamAddr(ADatabaseName);
        if (!stream)
            DatabaseErrorFmt(L(msg::kSInvalidDbName), ADatabaseName);
        std::lock_guard<std::mutex> g(m_Io);
        const qint64 got = stream->ReadAt(0, head, sizeof head);
        CheckHead(head, got, ADatabaseName);
        DBStream = stream;
        m_HandleStream = dynamic_cast<THandleStream *>(stream);
        m_OwnsStream = false;
        FileIsReadOnly = ReadOnlyAccess;
    }
    DatabaseName = ADatabaseName;
    // Whatever fails from here on must not leave a half-open file behind.
    try {
        if (FileSize() < kDataStart)
            Corrupt("shorter than its fixed areas");
        ReadExtData();
        SelectPlugins();
        ReadTableTab();
    } catch (...) {
        Close();
        throw;
    }
}

void TDictDBFileIO::SelectPlugins()
{
    RegisterBuiltinDataProcessAlgos();
    try {
        if (ExtData.CompressFlag != 0)
            CompressMgr->SetAlgoName(SlotText(ExtData.CompressAlgoName, kNameSize));
        if (ExtData.EncryptFlag != 0) {
            EncryptMgr->SetAlgoName(SlotText(ExtData.EncryptAlgoName, kNameSize));
            EncryptMgr->SetMode(ExtData.EncryptMode);
        }
    } catch (const EDatabaseError &) {
        throw;
    } catch (const dataaccess::Exception &e) {
        DatabaseError(e.Message());
    }
}

void TDictDBFileIO::Close()
{
    if (!DBStream)
        return;
    if (m_OwnsStream)
        delete DBStream;
    DBStream = nullptr;
    m_HandleStream = nullptr;
    m_OwnsStream = false;
    m_Sequential = 0;
    DropPages();
    // A lock still held belongs to the descriptor just closed and went with it.
    while (!m_LockStack.empty()) {
        m_LockStack.pop_back();
        m_LockOwner.unlock();
    }
    m_HeldType = platform::files::RangeLock::None;
}

bool TDictDBFileIO::Flushed() const
{
    if (auto *fs = dynamic_cast<TDictDBFileStream *>(DBStream))
        return fs->Flushed;
    return true;
}

void TDictDBFileIO::Flush()
{
    if (auto *fs = dynamic_cast<TDictDBFileStream *>(DBStream))
        fs->Flush();
}

bool TDictDBFileIO::SetPassword(const QString &Password)
{
    if (!IsOpen())
        return false;
    if (ExtData.EncryptFlag == 0)
        return true;
    const QString stored = SlotText(ExtData.PwdCheckText, int(sizeof ExtData.PwdCheckText));
    if (HashPassword(Password) != stored)
        return false;
    std::lock_guard<std::recursive_mutex> g(m_Cs);
    EncryptMgr->SetPassword(Password);
    return true;
}

// ---- locking ----

int TDictDBFileIO::LockRetryCount() const
{
    return m_LockRetryCount ? m_LockRetryCount() : 20;
}

int TDictDBFileIO::LockWaitTime() const
{
    return m_LockWaitTime ? m_LockWaitTime() : 100;
}

bool TDictDBFileIO::ApplyLock(platform::files::RangeLock Type)
{
    auto *fs = dynamic_cast<THandleStream *>(DBStream);
    if (!fs)
        return true;
    QString why;
    switch (platform::files::LockRange(fs->Handle(), 1, 1, Type, why)) {
    case platform::files::RangeLockResult::Done:
        return true;
    case platform::files::RangeLockResult::Busy:
        return false;
    case platform::files::RangeLockResult::Failed:
        break;
    }
    DatabaseErrorFmt(QStringLiteral("Cannot lock database file '%s': %s"), DatabaseName, why);
}

void TDictDBFileIO::Lock(bool ForWriting)
{
    if (!IsOpen())
        return;
    m_LockOwner.lock();
    if (MediumType == mtDisk) {
        if (ForWriting && FileIsReadOnly) {
            m_LockOwner.unlock();
            DatabaseErrorFmt(L(kSReadOnly), DatabaseName);
        }
        // Re-entrant: a held exclusive lock covers a shared request; a shared one is upgraded.
        using platform::files::RangeLock;
        const RangeLock want = ForWriting ? RangeLock::Exclusive : RangeLock::Shared;
        if (m_HeldType == RangeLock::None || (want == RangeLock::Exclusive && m_HeldType == RangeLock::Shared)) {
            int attempts = 0;
            try {
                while (!ApplyLock(want)) {
                    ++attempts;
                    const int retries = LockRetryCount();
                    if (retries != 0 && attempts > retries)
                        DatabaseError(L(kSLockTimeOut));
                    QThread::msleep(ulong(LockWaitTime()));
                }
            } catch (...) {
                m_LockOwner.unlock();
                throw;
            }
            m_HeldType = want;
        }
    }
    m_LockStack.push_back(ForWriting);
}

void TDictDBFileIO::Unlock()
{
    if (m_LockStack.empty())
        return;
    m_LockStack.pop_back();
    if (IsOpen() && MediumType == mtDisk) {
        using platform::files::RangeLock;
        RangeLock want = RangeLock::None;
        for (bool w : m_LockStack)
            want = w || want == RangeLock::Exclusive ? RangeLock::Exclusive : RangeLock::Shared;
        // Releasing or downgrading never waits.
        if (want != m_HeldType) {
            ApplyLock(want);
            m_HeldType = want;
        }
    }
    m_LockOwner.unlock();
}

// ---- raw access, bounded by the file ----

void TDictDBFileIO::Corrupt(const char *Why) const
{
    Corrupt(QString::fromLatin1(Why));
}

void TDictDBFileIO::Corrupt(const QString &Why) const
{
    DatabaseErrorFmt(L(msg::kSCorruptFile), DatabaseName, Why);
}

qint64 TDictDBFileIO::FileSize() const
{
    if (!DBStream)
        return 0;
    if (m_HandleStream)
        return m_HandleStream->Size();
    std::lock_guard<std::mutex> g(const_cast<std::mutex &>(m_Io));
    return DBStream->Size();
}

void TDictDBFileIO::BeginSequentialReads()
{
    Lock(false);
    if (m_Sequential++ == 0) {
        m_SequentialThread = std::this_thread::get_id();
        m_Pages.clear();
    }
}

void TDictDBFileIO::EndSequentialReads()
{
    if (m_Sequential > 0 && --m_Sequential == 0)
        DropPages();
    Unlock();
}

void TDictDBFileIO::DropPages()
{
    if (!m_Pages.empty())
        std::unordered_map<qint64, std::vector<char>>().swap(m_Pages);
}

void TDictDBFileIO::Prefetch(qint64 Position) const
{
    if (m_Sequential == 0 || std::this_thread::get_id() != m_SequentialThread)
        return;
    const auto it = m_Pages.find(Position / kPageSize);
    if (it != m_Pages.end() && Position % kPageSize < qint64(it->second.size()))
        __builtin_prefetch(it->second.data() + Position % kPageSize);
}

bool TDictDBFileIO::ReadFromPages(void *Buffer, qint64 Position, qint64 Count)
{
    if (m_Sequential == 0 || !m_HandleStream || Count > kPageSize || std::this_thread::get_id() != m_SequentialThread)
        return false;
    char *out = static_cast<char *>(Buffer);
    const qint64 end = Position + Count;
    for (qint64 at = Position; at < end;) {
        const qint64 page = at / kPageSize;
        auto it = m_Pages.find(page);
        if (it == m_Pages.end()) {
            if (m_Pages.size() >= kMaxPages)
                m_Pages.clear();
            std::vector<char> bytes(static_cast<size_t>(kPageSize));
            bytes.resize(size_t(qMax<qint64>(0, m_HandleStream->ReadAt(page * kPageSize, bytes.data(), kPageSize))));
            it = m_Pages.emplace(page, std::move(bytes)).first;
        }
        const qint64 from = at - page * kPageSize;
        const qint64 n = qMin(end, (page + 1) * kPageSize) - at;
        // A page the file ends in: the read is left to come back short the usual way.
        if (from + n > qint64(it->second.size()))
            return false;
        std::memcpy(out, it->second.data() + from, size_t(n));
        out += n;
        at += n;
    }
    return true;
}

void TDictDBFileIO::ReadBuffer(void *Buffer, qint64 Position, qint64 Count)
{
    if (!DBStream)
        DatabaseError(L(msg::kSDatabaseClosed));
    if (Count == 0)
        return;
    // Callers bound what they allocate by the file's size first; a read past its end is
    // refused here by coming back short.
    if (Position < 0 || Count < 0 || Position > kMaxFileSize)
        Corrupt("a reference points outside the file");
    if (ReadFromPages(Buffer, Position, Count))
        return;
    qint64 got;
    if (m_HandleStream) {
        got = m_HandleStream->ReadAt(Position, Buffer, Count);
    } else {
        std::lock_guard<std::mutex> g(m_Io);
        got = DBStream->ReadAt(Position, Buffer, Count);
    }
    if (got != Count)
        Corrupt("a reference points outside the file");
}

void TDictDBFileIO::WriteBuffer(const void *Buffer, qint64 Position, qint64 Count)
{
    if (!DBStream)
        DatabaseError(L(msg::kSDatabaseClosed));
    if (Count == 0)
        return;
    if (Position < kDataStart && Position != kExtDataOffset)
        Corrupt("a write would touch the fixed areas");
    if (Position + Count > kMaxFileSize)
        DatabaseErrorFmt(L(kSFileTooLarge), DatabaseName);
    DropPages();
    TASKVANE_TEST_SEAM(
        if (const TDictDBWriteHook hook = g_writeHook.load(); hook && !hook(Position, Count))
            DatabaseErrorFmt(L(kSWriteFailed), DatabaseName, QString::fromLocal8Bit(std::strerror(EIO))));
    qint64 done;
    if (m_HandleStream) {
        done = m_HandleStream->WriteAt(Position, Buffer, Count);
    } else {
        std::lock_guard<std::mutex> g(m_Io);
        done = DBStream->WriteAt(Position, Buffer, Count);
    }
    if (done != Count) {
        const int err = m_HandleStream ? m_HandleStream->LastError() : ENOSPC;
        DatabaseErrorFmt(L(kSWriteFailed), DatabaseName, QString::fromLocal8Bit(std::strerror(err ? err : EIO)));
    }
}

void TDictDBFileIO::ReadExtData()
{
    ReadBuffer(&ExtData, kExtDataOffset, sizeof ExtData);
}

void TDictDBFileIO::ReadTableTab()
{
    ReadBuffer(&TableTab, kTableTabOffset, sizeof TableTab);
    if (TableTab.TableCount < 0 || TableTab.TableCount > kMaxTables)
        Corrupt("bad table count");
    const qint64 size = FileSize();
    for (int i = 0; i < TableTab.TableCount; ++i) {
        const qint64 off = TableTab.TableHeaderOffset[i];
        if (off < kDataStart || off > size - qint64(sizeof(TTableHeader)))
            Corrupt("bad table header offset");
    }
}

qint64 TDictDBFileIO::TableHeaderOffset(int TableIdx) const
{
    if (TableIdx < 0 || TableIdx >= TableTab.TableCount)
        DatabaseError(L(msg::kSGeneralError));
    return TableTab.TableHeaderOffset[TableIdx];
}

void TDictDBFileIO::CheckTableHeader(const TTableHeader &H) const
{
    const qint64 size = FileSize();
    if (H.FieldCount < 0 || H.FieldCount > kMaxFields)
        Corrupt("bad field count");
    if (H.IndexCount < 0 || H.IndexCount > kMaxIndexes)
        Corrupt("bad index count");
    if (H.RecordTotal < 0)
        Corrupt("bad record total");
    const qint64 blocks = (qint64(H.RecordTotal) + kTabBlockEntries - 1) / kTabBlockEntries;
    if (blocks * kRecordTabBlockSize > size)
        Corrupt("record total beyond the file");
    if (H.RecordTotal > 0 && (H.RecTabOffset < kDataStart || H.RecTabOffset > size - kRecordTabBlockSize))
        Corrupt("bad record tab offset");
    qint64 recordSize = 0;
    for (int f = 0; f < H.FieldCount; ++f) {
        const TFieldTabItem &fi = H.FieldTab[f];
        const TFieldType t = TFieldType(fi.FieldType);
        qint64 slot;
        switch (t) {
        case ftString:
        case ftFixedChar:
            if (fi.FieldSize < 0 || fi.FieldSize >= kMaxRecordSize)
                Corrupt("bad string size");
            slot = qint64(fi.FieldSize) + 1;
            break;
        case ftSmallint:
        case ftWord:
        case ftBoolean:
            slot = 2;
            break;
        case ftInteger:
        case ftDate:
        case ftTime:
        case ftAutoInc:
            slot = 4;
            break;
        case ftFloat:
        case ftCurrency:
        case ftDateTime:
        case ftLargeint:
            slot = 8;
            break;
        case ftBlob:
        case ftMemo:
        case ftGraphic:
        case ftFmtMemo:
            slot = kBlobSlotSize;
            break;
        default:
            Corrupt("unsupported field type");
        }
        recordSize += slot;
    }
    // Whatever the record count: an empty table's record size is still allocated by every
    // data set that opens it.
    if (recordSize > kMaxRecordSize)
        Corrupt("record size too large");
    if (H.RecordTotal > 0 && recordSize > size)
        Corrupt("record size beyond the file");
    for (int k = 0; k < H.IndexCount; ++k) {
        const TIndexHeaderItem &ix = H.IndexHeader[k];
        int n = 0;
        for (; n < kMaxIndexFields && ix.IndexFields[n] != -1; ++n)
            if (ix.IndexFields[n] < 0 || ix.IndexFields[n] >= H.FieldCount)
                Corrupt("index field number out of range");
        if (H.RecordTotal > 0) {
            if (ix.IndexTabOffset != 0 &&
                (ix.IndexTabOffset < kDataStart || ix.IndexTabOffset > size - kIndexTabBlockSize))
                Corrupt("bad index tab offset");
            if (ix.IndexTabOffset != 0 && (ix.StartIndex < -1 || ix.StartIndex >= H.RecordTotal))
                Corrupt("bad index head");
        }
    }
}

qint64 TDictDBFileIO::StructuresEnd()
{
    TSequentialReads scan(this);
    const qint64 size = FileSize();
    qint64 end = kDataStart;
    const auto takes = [&](qint64 From, qint64 Length) {
        if (From < kDataStart || Length < 0 || From > size - Length)
            Corrupt("a structure lies outside the file");
        end = qMax(end, From + Length);
    };
    for (int i = 0; i < TableTab.TableCount; ++i) {
        TTableHeader header;
        ReadTableHeader(i, header);
        takes(TableHeaderOffset(i), sizeof header);
        TRecordTabItems records;
        TIntegerAry blocks;
        ReadRecordTabItems(header, records, blocks);
        for (const qint32 b : blocks)
            takes(b, kRecordTabBlockSize);
        for (int k = 0; k < header.IndexCount; ++k) {
            if (header.RecordTotal == 0 || header.IndexHeader[k].IndexTabOffset == 0)
                continue;
            TIndexTabItems entries;
            ReadIndexTabItems(header, k, blocks, entries);
            for (const qint32 b : blocks)
                takes(b, kIndexTabBlockSize);
        }
        // The record's slots in field order, as the table lays them out.
        qint64 recordSize = 0;
        std::vector<qint64> blobSlots;
        for (int f = 0; f < header.FieldCount; ++f) {
            const TFieldTabItem &field = header.FieldTab[f];
            if (IsBlobFieldType(field.FieldType)) {
                blobSlots.push_back(recordSize);
                recordSize += kBlobSlotSize;
            } else {
                recordSize += GetFieldSize(TFieldType(field.FieldType), field.FieldSize);
            }
        }
        for (const TRecordTabItem &record : records) {
            takes(record.DataOffset, recordSize);
            for (const qint64 at : blobSlots) {
                TBlobSlot slot;
                ReadBuffer(&slot, record.DataOffset + at, sizeof slot);
                // A slot never written holds no area.
                if (slot.Length == 0 && slot.Capacity == 0)
                    continue;
                if (slot.Length < 0 || slot.Capacity < slot.Length)
                    Corrupt("bad blob slot");
                takes(slot.Offset, slot.Capacity);
            }
        }
    }
    return end;
}

void TDictDBFileIO::CheckExactExtent()
{
    const qint64 beyond = FileSize() - StructuresEnd();
    if (beyond != 0)
        Corrupt(QStringLiteral("%1 bytes lie beyond its last structure").arg(beyond));
}

void TDictDBFileIO::ReadTableHeader(int TableIdx, TTableHeader &Header)
{
    ReadBuffer(&Header, TableHeaderOffset(TableIdx), sizeof Header);
    CheckTableHeader(Header);
}

void TDictDBFileIO::WriteTableHeader(int TableIdx, const TTableHeader &Header)
{
    WriteBuffer(&Header, TableHeaderOffset(TableIdx), sizeof Header);
}

void TDictDBFileIO::GetTableNames(QStringList &List)
{
    List.clear();
    for (int i = 0; i < TableTab.TableCount; ++i) {
        char name[kNameSize];
        ReadBuffer(name, TableHeaderOffset(i), kNameSize);
        List << SlotText(name, kNameSize);
    }
}

template <class Item>
void TDictDBFileIO::ReadTabChain(qint32 FirstBlock, qint32 Total, qint32 BlockSize, std::vector<Item> &Items,
                                 TIntegerAry &BlockOffsets)
{
    Items.clear();
    BlockOffsets.clear();
    if (Total <= 0)
        return;
    // The blocks must fit the file before their entries are allocated.
    const qint64 size = FileSize();
    const int blocks = int((qint64(Total) + kTabBlockEntries - 1) / kTabBlockEntries);
    if (qint64(blocks) * BlockSize > size)
        Corrupt("tab larger than the file");
    std::vector<Item> items(static_cast<size_t>(Total));
    BlockOffsets.reserve(size_t(blocks));
    std::set<qint32> seen;
    std::vector<char> block(static_cast<size_t>(BlockSize));
    qint32 pos = FirstBlock;
    qint64 read = 0;
    for (int b = 0; b < blocks; ++b) {
        if (pos < kDataStart || pos > size - BlockSize)
            Corrupt("bad tab block offset");
        if (!seen.insert(pos).second)
            Corrupt("tab chain loops");
        BlockOffsets.push_back(pos);
        ReadBuffer(block.data(), pos, BlockSize);
        const qint64 n = qMin<qint64>(Total - read, kTabBlockEntries);
        std::memcpy(items.data() + read, block.data() + 4, size_t(n) * sizeof(Item));
        read += n;
        std::memcpy(&pos, block.data(), 4);
    }
    Items.swap(items);
}

void TDictDBFileIO::ReadRecordTabItems(const TTableHeader &Header, TRecordTabItems &Items, TIntegerAry &BlockOffsets)
{
    ReadTabChain(Header.RecTabOffset, Header.RecordTotal, kRecordTabBlockSize, Items, BlockOffsets);
}

void TDictDBFileIO::ReadIndexTabItems(const TTableHeader &Header, int IndexIdx, TIntegerAry &BlockOffsets,
                                      TIndexTabItems &Items)
{
    Items.clear();
    if (IndexIdx < 0 || IndexIdx >= Header.IndexCount)
        DatabaseError(L(msg::kSGeneralError));
    ReadTabChain(Header.IndexHeader[IndexIdx].IndexTabOffset, Header.RecordTotal, kIndexTabBlockSize, Items,
                 BlockOffsets);
}

void TDictDBFileIO::DeleteRecordTab(qint64 Position)
{
    // The mark alone: one byte, so that a delete is one write that happens or does not.
    const quint8 deleted = 1;
    WriteBuffer(&deleted, Position + qint64(offsetof(TRecordTabItem, DeleteFlag)), 1);
}

void TDictDBFileIO::ReadFieldData(TStream *Dest, qint64 RecTabPosition, bool Compressed, bool Encrypted, bool IsBlob,
                                  qint32 Size, qint32 FieldOffset)
{
    TRecordTabItem item;
    ReadBuffer(&item, RecTabPosition, sizeof item);
    const qint64 at = qint64(item.DataOffset) + FieldOffset;
    if (IsBlob) {
        ReadBlobData(Dest, at, Compressed, Encrypted);
        return;
    }
    if (Size < 0 || at < 0 || at > FileSize() - Size)
        Corrupt("a reference points outside the file");
    TMemoryStream raw;
    raw.SetSize(Size);
    ReadBuffer(raw.Memory(), at, Size);
    DecodeMemoryStream(&raw, Dest, false, Encrypted);
}

namespace {

// Runs f; a refusal ends with Where when given.
template <class Fn>
void Placed(const QString &Where, Fn &&F)
{
    try {
        F();
    } catch (const EDatabaseError &e) {
        if (Where.isEmpty())
            throw;
        DatabaseError(e.Message() + Where);
    }
}

} // namespace

void TDictDBFileIO::ReadBlobData(TStream *Dest, qint64 SlotPosition, bool Compressed, bool Encrypted,
                                 const QString &Where)
{
    TBlobSlot slot;
    Placed(Where, [&] { ReadBuffer(&slot, SlotPosition, sizeof slot); });
    ReadBlobData(Dest, slot, Compressed, Encrypted, Where);
}

void TDictDBFileIO::ReadBlobData(TStream *Dest, const TBlobSlot &Slot, bool Compressed, bool Encrypted,
                                 const QString &Where)
{
    Placed(Where, [&] {
        if (Slot.Length < 0 || Slot.Capacity < Slot.Length || (Slot.Length > 0 && Slot.Offset < kDataStart))
            Corrupt("bad blob slot");
        // Checked before anything is allocated: a slot cannot ask for more than the file holds.
        if (qint64(Slot.Offset) + qint64(Slot.Length) > FileSize())
            Corrupt("a blob lies outside the file");
        TMemoryStream raw;
        raw.SetSize(Slot.Length);
        ReadBuffer(raw.Memory(), Slot.Offset, Slot.Length);
        try {
            DecodeMemoryStream(&raw, Dest, Compressed, Encrypted);
        } catch (const EDatabaseError &e) {
            Corrupt(QStringLiteral("a stored value does not decode (%1)").arg(e.Message()));
        }
    });
}

// ---- encoding and decoding ----

namespace {

// The plug-ins report their own failures; to the engine's callers every one of them is a
// database error.
template <class Fn>
void AsDatabaseError(Fn &&F)
{
    try {
        F();
    } catch (const EDatabaseError &) {
        throw;
    } catch (const EAbort &) {
        throw;
    } catch (const dataaccess::Exception &e) {
        DatabaseError(e.Message());
    } catch (const std::bad_alloc &) {
        DatabaseError(QStringLiteral("Out of memory while decoding"));
    }
}

void ClearStream(TStream *S)
{
    if (auto *m = dynamic_cast<TMemoryStream *>(S))
        m->Clear();
    else
        S->SetSize(0);
    S->SetPosition(0);
}

} // namespace

void TDictDBFileIO::DecodeMemoryStream(TMemoryStream *Source, TStream *Dest, bool Decompress, bool Decrypt)
{
    std::lock_guard<std::recursive_mutex> g(m_Cs);
    AsDatabaseError([&] {
        Source->SetPosition(0);
        if (Dest != Source)
            ClearStream(Dest);
        if (!Decompress && !Decrypt) {
            if (Dest != Source)
                Dest->CopyFrom(Source, 0);
            return;
        }
        if (Decrypt)
            EncryptMgr->DecodeStream(Source, Dest, -1);
        if (Decompress) {
            if (Decrypt) {
                TMemoryStream tmp;
                tmp.CopyFrom(Dest, 0);
                ClearStream(Dest);
                tmp.SetPosition(0);
                CompressMgr->DecodeStream(&tmp, Dest, -1);
            } else {
                Source->SetPosition(0);
                CompressMgr->DecodeStream(Source, Dest, -1);
            }
        }
    });
}

void TDictDBFileIO::EncodeMemoryStream(TMemoryStream *Source, TStream *Dest, bool Compress, bool Encrypt)
{
    std::lock_guard<std::recursive_mutex> g(m_Cs);
    AsDatabaseError([&] {
        Source->SetPosition(0);
        if (Dest != Source)
            ClearStream(Dest);
        if (!Compress && !Encrypt) {
            if (Dest != Source)
                Dest->CopyFrom(Source, 0);
            return;
        }
        if (Compress)
            CompressMgr->EncodeStream(Source, Dest, -1);
        if (Encrypt) {
            if (Compress) {
                TMemoryStream tmp;
                tmp.CopyFrom(Dest, 0);
                ClearStream(Dest);
                tmp.SetPosition(0);
                EncryptMgr->EncodeStream(&tmp, Dest, -1);
            } else {
                Source->SetPosition(0);
                EncryptMgr->EncodeStream(Source, Dest, -1);
            }
        }
    });
}

void TDictDBFileIO::DecodeMemoryBuffer(const void *Source, void *Dest, bool Decrypt, int Size)
{
    if (Size <= 0)
        return;
    // A copy touches no plug-in state: only the cipher needs the critical section.
    if (!Decrypt) {
        std::memmove(Dest, Source, size_t(Size));
        return;
    }
    std::lock_guard<std::recursive_mutex> g(m_Cs);
    AsDatabaseError([&] { EncryptMgr->DecodeBuffer(Source, Dest, Size); });
}

void TDictDBFileIO::EncodeMemoryBuffer(const void *Source, void *Dest, bool Encrypt, int Size)
{
    if (Size <= 0)
        return;
    if (!Encrypt) {
        std::memmove(Dest, Source, size_t(Size));
        return;
    }
    std::lock_guard<std::recursive_mutex> g(m_Cs);
    AsDatabaseError([&] { EncryptMgr->EncodeBuffer(Source, Dest, Size); });
}

#pragma once

#include "dictdb/DataProcess.h"
#include "dictdb/DictDBTypes.h"
#include "dictdb/DictDBUtils.h"
#include "dataaccess/Streams.h"
#include "platform/files/FileHandle.h"
#include "platform/system/TestSeams.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#if TASKVANE_TEST_SEAMS
// A seam for fault-injection tests: called before every write to any database file with
// its position and length; answering false makes that write fail the way a failing or full
// disk does. nullptr removes it.
using TDictDBWriteHook = bool (*)(qint64 Position, qint64 Count);
void SetDictDBWriteHook(TDictDBWriteHook Hook);
#endif

// The disk stream of an open database: remembers whether it was written since the
// last flush.
class TDictDBFileStream : public TFileStream
{
public:
    TDictDBFileStream(const QString &FileName, quint16 Mode);

    bool Flushed = true;

    qint64 Write(const void *Buffer, qint64 Count) override;
    qint64 WriteAt(qint64 Pos, const void *Buffer, qint64 Count) override;
    void Flush();
};

// What the owner of a file object hands it when it makes it: how the file is opened, how
// long a writer waits for the byte-range lock (read at each lock, so that a change of the
// owner's session is seen), and where the plug-ins' progress goes. An unset callback means
// the defaults: 20 retries 100 ms apart, no progress reports.
struct TDictDBFileSettings
{
    TDictDBMediumType MediumType = mtDisk;
    bool Exclusive = false;
    std::function<int()> LockRetryCount;
    std::function<int()> LockWaitTime;
    TOnProgressEvent OnCompressProgress, OnUncompressProgress, OnEncryptProgress, OnDecryptProgress;
};

// The open database file: checks the fixed areas, selects the plug-ins, locks for
// writers, reads and writes headers and tabs and runs every encoding and decoding of
// stored bytes under one critical section. Every access is bounded by the file's size
// and refused with a database error when the file is corrupt.
class TDictDBFileIO : public QObject, public TDictBlobReader
{
public:
    TDictDBFileIO() : TDictDBFileIO(TDictDBFileSettings()) {}
    explicit TDictDBFileIO(const TDictDBFileSettings &Settings);
    ~TDictDBFileIO() override;

    QString DatabaseName;
    TDictDBMediumType MediumType = mtDisk;
    bool Exclusive = false;
    TStream *DBStream = nullptr; // owned only for mtDisk
    bool FileIsReadOnly = false;
    // Set before Open: the file is opened for reading only, whatever its permissions.
    bool ReadOnlyAccess = false;
    const std::unique_ptr<TCompressMgr> CompressMgr;
    const std::unique_ptr<TEncryptMgr> EncryptMgr;
    dictdb::TExtData ExtData{};
    dictdb::TTableTab TableTab{};

    void Open(const QString &ADatabaseName, TDictDBMediumType AMediumType, bool AExclusive);
    void Close();
    bool IsOpen() const { return DBStream != nullptr; }
    bool Flushed() const;
    void Flush();
    bool SetPassword(const QString &Password);

    bool Encrypted() const { return ExtData.EncryptFlag != 0; }
    bool Compressed() const { return ExtData.CompressFlag != 0; }
    bool VerifyWrites() const { return ExtData.VerifyFlag != 0; }

    // The byte-range lock of writers (exclusive) and loaders (shared); re-entrant.
    void Lock(bool ForWriting = true);
    void Unlock();
    // A scan: takes the shared lock and, while it is held, serves this thread's small reads
    // from the file's pages, each read once (no writer can change the file under the lock;
    // this object's own writes drop the pages).
    void BeginSequentialReads();
    void EndSequentialReads();
    // Within a scan: the bytes at Position will be read soon; a page already read is
    // brought near the processor meanwhile.
    void Prefetch(qint64 Position) const;

    qint64 FileSize() const;
    void ReadBuffer(void *Buffer, qint64 Position, qint64 Count);
    void WriteBuffer(const void *Buffer, qint64 Position, qint64 Count);

    void ReadExtData();
    void ReadTableTab();
    void ReadTableHeader(int TableIdx, dictdb::TTableHeader &Header);
    void WriteTableHeader(int TableIdx, const dictdb::TTableHeader &Header);
    void GetTableNames(QStringList &List);
    void ReadRecordTabItems(const dictdb::TTableHeader &Header, TRecordTabItems &Items, TIntegerAry &BlockOffsets);
    void ReadIndexTabItems(const dictdb::TTableHeader &Header, int IndexIdx, TIntegerAry &BlockOffsets,
                           TIndexTabItems &Items);
    void DeleteRecordTab(qint64 Position);
    void ReadFieldData(TStream *Dest, qint64 RecTabPosition, bool Compressed, bool Encrypted, bool IsBlob, qint32 Size,
                       qint32 FieldOffset);
    // Reads the blob whose slot lies at SlotPosition and decodes it into Dest. A refusal
    // ends with Where (such as " (table 'T', field 'F')") when given.
    void ReadBlobData(TStream *Dest, qint64 SlotPosition, bool Compressed, bool Encrypted,
                      const QString &Where = QString()) override;
    // The same for a slot already read (with the record that holds it).
    void ReadBlobData(TStream *Dest, const dictdb::TBlobSlot &Slot, bool Compressed, bool Encrypted,
                      const QString &Where = QString());

    void DecodeMemoryStream(TMemoryStream *Source, TStream *Dest, bool Decompress, bool Decrypt);
    void EncodeMemoryStream(TMemoryStream *Source, TStream *Dest, bool Compress, bool Encrypt);
    void DecodeMemoryBuffer(const void *Source, void *Dest, bool Decrypt, int Size);
    void EncodeMemoryBuffer(const void *Source, void *Dest, bool Encrypt, int Size);

    // Raises the corrupt-file refusal with a short reason.
    [[noreturn]] void Corrupt(const char *Why) const;
    [[noreturn]] void Corrupt(const QString &Why) const;
    // Checks a table header against the format's limits and the file's size.
    void CheckTableHeader(const dictdb::TTableHeader &Header) const;

    // Where the file's structures end: the furthest byte taken up by the fixed areas, a table
    // header, a block of a record or index tab, a record (deleted ones too: their tab entries
    // still lead to them) or a blob area with its filler. Refuses a structure that lies
    // outside the file. Nothing is ever freed and every allocation appends, so a file that
    // only whole appends wrote ends exactly there.
    qint64 StructuresEnd();
    // Refuses a file that does not end where its structures end. Bytes beyond them belong to
    // nothing: an append that an interrupted write left unfinished (which the next append
    // simply passes), or bytes added to a file handed on, which a whole copy never has.
    void CheckExactExtent();

private:
    void CheckHead(const char *Head, qint64 Count, const QString &Name);
    void SelectPlugins();
    bool ApplyLock(platform::files::RangeLock Type);
    int LockRetryCount() const;
    int LockWaitTime() const;
    qint64 TableHeaderOffset(int TableIdx) const;
    template <class Item>
    void ReadTabChain(qint32 FirstBlock, qint32 Total, qint32 BlockSize, std::vector<Item> &Items,
                      TIntegerAry &BlockOffsets);

    bool ReadFromPages(void *Buffer, qint64 Position, qint64 Count);
    void DropPages();

    std::function<int()> m_LockRetryCount;
    std::function<int()> m_LockWaitTime;
    std::recursive_mutex m_Cs; // encoding and decoding
    std::mutex m_Io;           // positioned access of shared memory streams
    std::recursive_mutex m_LockOwner;
    std::vector<bool> m_LockStack;                                            // modes of the nested Lock calls
    platform::files::RangeLock m_HeldType = platform::files::RangeLock::None; // in effect
    bool m_OwnsStream = false;
    THandleStream *m_HandleStream = nullptr; // DBStream when it is a file
    int m_Sequential = 0;                    // nesting of sequential-read scopes
    std::thread::id m_SequentialThread;
    std::unordered_map<qint64, std::vector<char>> m_Pages; // page number -> its bytes
};

// Whoever owns a database's file object. The file object lives only while the database is
// connected, so users of the file ask the owner for it at each access.
class TDictDBFileOwner
{
public:
    virtual TDictDBFileIO *FileIO() const = 0;

protected:
    ~TDictDBFileOwner() = default;
};

// A scan's sequential reads of one file, for the scope of a block; nothing without a file.
class TSequentialReads
{
public:
    explicit TSequentialReads(TDictDBFileIO *AFileIO) : m_Io(AFileIO && AFileIO->IsOpen() ? AFileIO : nullptr)
    {
        if (m_Io)
            m_Io->BeginSequentialReads();
    }
    ~TSequentialReads()
    {
        if (m_Io)
            m_Io->EndSequentialReads();
    }
    TSequentialReads(const TSequentialReads &) = delete;
    TSequentialReads &operator=(const TSequentialReads &) = delete;

private:
    TDictDBFileIO *m_Io;
};

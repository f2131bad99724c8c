#pragma once

#include "dataaccess/DBError.h"

#include <QString>

#include <mutex>

namespace dataaccess {

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

// A sequential byte stream with a position. Read and Write move the position and
// answer the number of bytes moved; ReadBuffer/WriteBuffer insist on all of them.
class TStream
{
public:
    virtual ~TStream();

    virtual qint64 Read(void *Buffer, qint64 Count) = 0;
    virtual qint64 Write(const void *Buffer, qint64 Count) = 0;
    virtual qint64 Seek(qint64 Offset, TSeekOrigin Origin) = 0;

    qint64 Position() { return Seek(0, soCurrent); }
    void SetPosition(qint64 Pos) { Seek(Pos, soBeginning); }
    virtual qint64 Size();
    virtual void SetSize(qint64 NewSize);

    // Positioned access that leaves the position alone where the stream can (files use
    // pread/pwrite, so that threads sharing one stream never race on a shared offset).
    virtual qint64 ReadAt(qint64 Pos, void *Buffer, qint64 Count);
    virtual qint64 WriteAt(qint64 Pos, const void *Buffer, qint64 Count);

    void ReadBuffer(void *Buffer, qint64 Count);        // EReadError "Stream read error"
    void WriteBuffer(const void *Buffer, qint64 Count); // EWriteError "Stream write error"

    // Copies Count bytes from Source's position; Count 0 copies all of Source from its start.
    qint64 CopyFrom(TStream *Source, qint64 Count);

protected:
    TStream() = default;
    TStream(const TStream &) = delete;
    TStream &operator=(const TStream &) = delete;
};

// A stream in one growable block of memory.
class TMemoryStream : public TStream
{
public:
    TMemoryStream() = default;
    ~TMemoryStream() override;

    qint64 Read(void *Buffer, qint64 Count) override;
    qint64 Write(const void *Buffer, qint64 Count) override;
    qint64 Seek(qint64 Offset, TSeekOrigin Origin) override;
    qint64 Size() override { return m_Size; }
    void SetSize(qint64 NewSize) override;

    // The block; valid until the next growth. Null while the stream is empty.
    void *Memory() const { return m_Memory; }
    void Clear();
    void LoadFromStream(TStream *Stream);
    void SaveToStream(TStream *Stream);
    void LoadFromFile(const QString &FileName);
    void SaveToFile(const QString &FileName);

protected:
    // Grows (or shrinks) the block to at least NewCapacity bytes.
    virtual void Realloc(qint64 NewCapacity);
    void SetPointer(void *Ptr, qint64 Size);

private:
    char *m_Memory = nullptr;
    qint64 m_Size = 0;
    qint64 m_Position = 0;
    qint64 m_Capacity = 0;
};

// Open modes: one access mode or'ed with one sharing mode; fmCreate creates or truncates.
enum : quint16 {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareCompat = 0x0000,
    fmShareExclusive = 0x0010,
    fmShareDenyWrite = 0x0020,
    fmShareDenyRead = 0x0030,
    fmShareDenyNone = 0x0040,
    fmCreate = 0xFF00,
};

// A stream over an open file descriptor. Sharing is cooperative: an exclusive opener
// holds an exclusive flock and every other opener a shared one, so the two refuse
// each other the way sharing modes do; non-cooperating programs are not stopped.
class THandleStream : public TStream
{
public:
    explicit THandleStream(int Handle);
    ~THandleStream() override;

    qint64 Read(void *Buffer, qint64 Count) override;
    qint64 Write(const void *Buffer, qint64 Count) override;
    qint64 Seek(qint64 Offset, TSeekOrigin Origin) override;
    qint64 Size() override;
    void SetSize(qint64 NewSize) override;
    qint64 ReadAt(qint64 Pos, void *Buffer, qint64 Count) override;
    qint64 WriteAt(qint64 Pos, const void *Buffer, qint64 Count) override;

    int Handle() const { return m_Handle; }
    // The errno of the last read or write that moved fewer bytes than asked (0: end of file).
    int LastError() const { return m_LastError; }

protected:
    int m_Handle = -1;
    int m_LastError = 0;
};

class TFileStream : public THandleStream
{
public:
    // Refuses with EFOpenError ("Cannot open file ...", or "Cannot create file ..." for fmCreate).
    TFileStream(const QString &FileName, quint16 Mode);
    ~TFileStream() override;

    const QString &FileName() const { return m_FileName; }

private:
    QString m_FileName;
};

} // namespace dataaccess

using dataaccess::TFileStream;
using dataaccess::THandleStream;
using dataaccess::TMemoryStream;
using dataaccess::TSeekOrigin;
using dataaccess::TStream;
using enum dataaccess::TSeekOrigin;
using dataaccess::fmCreate;
using dataaccess::fmOpenRead;
using dataaccess::fmOpenReadWrite;
using dataaccess::fmOpenWrite;
using dataaccess::fmShareCompat;
using dataaccess::fmShareDenyNone;
using dataaccess::fmShareDenyRead;
using dataaccess::fmShareDenyWrite;
using dataaccess::fmShareExclusive;

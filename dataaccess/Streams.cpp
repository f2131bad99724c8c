#include "dataaccess/Streams.h"

#include "platform/files/FileHandle.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace dataaccess {

namespace files = platform::files;

// ---- TStream ----

TStream::~TStream() = default;

qint64 TStream::Size()
{
    const qint64 pos = Seek(0, soCurrent);
    const qint64 size = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return size;
}

void TStream::SetSize(qint64) {}

qint64 TStream::ReadAt(qint64 Pos, void *Buffer, qint64 Count)
{
    Seek(Pos, soBeginning);
    return Read(Buffer, Count);
}

qint64 TStream::WriteAt(qint64 Pos, const void *Buffer, qint64 Count)
{
    Seek(Pos, soBeginning);
    return Write(Buffer, Count);
}

void TStream::ReadBuffer(void *Buffer, qint64 Count)
{
    if (Count != 0 && Read(Buffer, Count) != Count)
        throw EReadError(QString::fromLatin1(msg::kSReadError));
}

void TStream::WriteBuffer(const void *Buffer, qint64 Count)
{
    if (Count != 0 && Write(Buffer, Count) != Count)
        throw EWriteError(QString::fromLatin1(msg::kSWriteError));
}

qint64 TStream::CopyFrom(TStream *Source, qint64 Count)
{
    if (Count == 0) {
        Source->SetPosition(0);
        Count = Source->Size();
    }
    const qint64 result = Count;
    char buf[61440];
    while (Count > 0) {
        const qint64 n = Count > qint64(sizeof buf) ? qint64(sizeof buf) : Count;
        Source->ReadBuffer(buf, n);
        WriteBuffer(buf, n);
        Count -= n;
    }
    return result;
}

// ---- TMemoryStream ----

TMemoryStream::~TMemoryStream()
{
    std::free(m_Memory);
}

qint64 TMemoryStream::Read(void *Buffer, qint64 Count)
{
    if (m_Position < 0 || Count <= 0)
        return 0;
    qint64 n = m_Size - m_Position;
    if (n <= 0)
        return 0;
    if (n > Count)
        n = Count;
    std::memcpy(Buffer, m_Memory + m_Position, size_t(n));
    m_Position += n;
    return n;
}

qint64 TMemoryStream::Write(const void *Buffer, qint64 Count)
{
    if (m_Position < 0 || Count <= 0)
        return 0;
    const qint64 end = m_Position + Count;
    if (end > m_Size) {
        if (end > m_Capacity)
            Realloc(end);
        m_Size = end;
    }
    std::memmove(m_Memory + m_Position, Buffer, size_t(Count));
    m_Position = end;
    return Count;
}

qint64 TMemoryStream::Seek(qint64 Offset, TSeekOrigin Origin)
{
    switch (Origin) {
    case soBeginning:
        m_Position = Offset;
        break;
    case soCurrent:
        m_Position += Offset;
        break;
    case soEnd:
        m_Position = m_Size + Offset;
        break;
    }
    return m_Position;
}

void TMemoryStream::SetSize(qint64 NewSize)
{
    if (NewSize < 0)
        NewSize = 0;
    const qint64 old = m_Size;
    if (NewSize > m_Capacity || NewSize == 0)
        Realloc(NewSize);
    if (NewSize > old && m_Memory)
        std::memset(m_Memory + old, 0, size_t(NewSize - old));
    m_Size = NewSize;
    if (m_Position > NewSize)
        m_Position = NewSize;
}

void TMemoryStream::Realloc(qint64 NewCapacity)
{
    if (NewCapacity <= 0) {
        std::free(m_Memory);
        m_Memory = nullptr;
        m_Capacity = 0;
        return;
    }
    qint64 cap = m_Capacity > 0 ? m_Capacity : 256;
    while (cap < NewCapacity)
        cap += cap / 2 + 64;
    void *p = std::realloc(m_Memory, size_t(cap));
    if (!p)
        throw std::bad_alloc();
    m_Memory = static_cast<char *>(p);
    m_Capacity = cap;
}

void TMemoryStream::SetPointer(void *Ptr, qint64 Size)
{
    m_Memory = static_cast<char *>(Ptr);
    m_Size = Size;
}

void TMemoryStream::Clear()
{
    Realloc(0);
    m_Size = 0;
    m_Position = 0;
}

void TMemoryStream::LoadFromStream(TStream *Stream)
{
    Stream->SetPosition(0);
    const qint64 n = Stream->Size();
    SetSize(n);
    if (n != 0)
        Stream->ReadBuffer(m_Memory, n);
    m_Position = 0;
}

void TMemoryStream::SaveToStream(TStream *Stream)
{
    if (m_Size != 0)
        Stream->WriteBuffer(m_Memory, m_Size);
}

void TMemoryStream::LoadFromFile(const QString &FileName)
{
    TFileStream f(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(&f);
}

void TMemoryStream::SaveToFile(const QString &FileName)
{
    TFileStream f(FileName, fmCreate);
    SaveToStream(&f);
}

// ---- THandleStream ----

THandleStream::THandleStream(int Handle) : m_Handle(Handle) {}

THandleStream::~THandleStream() = default;

qint64 THandleStream::Read(void *Buffer, qint64 Count)
{
    return files::ReadHandle(m_Handle, Buffer, Count);
}

qint64 THandleStream::Write(const void *Buffer, qint64 Count)
{
    return files::WriteHandle(m_Handle, Buffer, Count);
}

qint64 THandleStream::Seek(qint64 Offset, TSeekOrigin Origin)
{
    const files::HandleSeek from = Origin == soBeginning ? files::HandleSeek::Start
        : Origin == soCurrent                            ? files::HandleSeek::Current
                                                         : files::HandleSeek::End;
    return files::SeekHandle(m_Handle, Offset, from);
}

qint64 THandleStream::Size()
{
    return files::HandleSize(m_Handle);
}

void THandleStream::SetSize(qint64 NewSize)
{
    if (!files::TruncateHandle(m_Handle, NewSize))
        throw EWriteError(QString::fromLatin1(msg::kSWriteError));
    if (Position() > NewSize)
        Seek(0, soEnd);
}

qint64 THandleStream::ReadAt(qint64 Pos, void *Buffer, qint64 Count)
{
    return files::ReadHandleAt(m_Handle, Pos, Buffer, Count, m_LastError);
}

qint64 THandleStream::WriteAt(qint64 Pos, const void *Buffer, qint64 Count)
{
    return files::WriteHandleAt(m_Handle, Pos, Buffer, Count, m_LastError);
}

// ---- TFileStream ----

TFileStream::TFileStream(const QString &FileName, quint16 Mode) : THandleStream(-1), m_FileName(FileName)
{
    const bool create = Mode == fmCreate;
    const files::HandleAccess access = (Mode & 3) == fmOpenWrite ? files::HandleAccess::Write
        : (Mode & 3) == fmOpenReadWrite                          ? files::HandleAccess::ReadWrite
                                                                 : files::HandleAccess::Read;
    QString why;
    const int fd = files::OpenHandle(FileName, access, create, why);
    if (fd < 0)
        throw EFOpenError(Format(QString::fromLatin1(create ? msg::kSfCreateError : msg::kSfOpenError), FileName, why));
    const quint16 share = create ? fmShareExclusive : (Mode & 0xF0);
    if (share != fmShareCompat || !create) {
        if (!files::LockHandle(fd, share == fmShareExclusive, why)) {
            files::CloseHandle(fd);
            throw EFOpenError(Format(QString::fromLatin1(msg::kSfOpenError), FileName, why));
        }
    }
    m_Handle = fd;
}

TFileStream::~TFileStream()
{
    if (m_Handle >= 0)
        files::CloseHandle(m_Handle);
}

} // namespace dataaccess

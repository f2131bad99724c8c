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
        throw EReadError(QString::fromLatin1(msg::SReadError));
}

void TStream::WriteBuffer(const void *Buffer, qint64 Count)
{
    if (Count != 0 && Write(Buffer, Count) != Count)
        throw EWriteError(QString::fromLatin1(msg::SWriteError));
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
    std::free(m_memory);
}

qint64 TMemoryStream::Read(void *Buffer, qint64 Count)
{
    if (m_position < 0 || Count <= 0)
        return 0;
    qint64 n = m_size - m_position;
    if (n <= 0)
        return 0;
    if (n > Count)
        n = Count;
    std::memcpy(Buffer, m_memory + m_position, size_t(n));
    m_position += n;
    return n;
}

qint64 TMemoryStream::Write(const void *Buffer, qint64 Count)
{
    if (m_position < 0 || Count <= 0)
        return 0;
    const qint64 end = m_position + Count;
    if (end > m_size) {
        if (end > m_capacity)
            Realloc(end);
        m_size = end;
    }
    std::memmove(m_memory + m_position, Buffer, size_t(Count));
    m_position = end;
    return Count;
}

qint64 TMemoryStream::Seek(qint64 Offset, TSeekOrigin Origin)
{
    switch (Origin) {
    case soBeginning:
        m_position = Offset;
        break;
    case soCurrent:
        m_position += Offset;
        break;
    case soEnd:
        m_position = m_size + Offset;
        break;
    }
    return m_position;
}

void TMemoryStream::SetSize(qint64 NewSize)
{
    if (NewSize < 0)
        NewSize = 0;
    const qint64 old = m_size;
    if (NewSize > m_capacity || NewSize == 0)
        Realloc(NewSize);
    if (NewSize > old && m_memory)
        std::memset(m_memory + old, 0, size_t(NewSize - old));
    m_size = NewSize;
    if (m_position > NewSize)
        m_position = NewSize;
}

void TMemoryStream::Realloc(qint64 NewCapacity)
{
    if (NewCapacity <= 0) {
        std::free(m_memory);
        m_memory = nullptr;
        m_capacity = 0;
        return;
    }
    qint64 cap = m_capacity > 0 ? m_capacity : 256;
    while (cap < NewCapacity)
        cap += cap / 2 + 64;
    void *p = std::realloc(m_memory, size_t(cap));
    if (!p)
        throw std::bad_alloc();
    m_memory = static_cast<char *>(p);
    m_capacity = cap;
}

void TMemoryStream::SetPointer(void *Ptr, qint64 Size)
{
    m_memory = static_cast<char *>(Ptr);
    m_size = Size;
}

void TMemoryStream::Clear()
{
    Realloc(0);
    m_size = 0;
    m_position = 0;
}

void TMemoryStream::LoadFromStream(TStream *Stream)
{
    Stream->SetPosition(0);
    const qint64 n = Stream->Size();
    SetSize(n);
    if (n != 0)
        Stream->ReadBuffer(m_memory, n);
    m_position = 0;
}

void TMemoryStream::SaveToStream(TStream *Stream)
{
    if (m_size != 0)
        Stream->WriteBuffer(m_memory, m_size);
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

THandleStream::THandleStream(int Handle) : m_handle(Handle) {}

THandleStream::~THandleStream() = default;

qint64 THandleStream::Read(void *Buffer, qint64 Count)
{
    return files::readHandle(m_handle, Buffer, Count);
}

qint64 THandleStream::Write(const void *Buffer, qint64 Count)
{
    return files::writeHandle(m_handle, Buffer, Count);
}

qint64 THandleStream::Seek(qint64 Offset, TSeekOrigin Origin)
{
    const files::HandleSeek from = Origin == soBeginning ? files::HandleSeek::Start
        : Origin == soCurrent                            ? files::HandleSeek::Current
                                                         : files::HandleSeek::End;
    return files::seekHandle(m_handle, Offset, from);
}

qint64 THandleStream::Size()
{
    return files::handleSize(m_handle);
}

void THandleStream::SetSize(qint64 NewSize)
{
    if (!files::truncateHandle(m_handle, NewSize))
        throw EWriteError(QString::fromLatin1(msg::SWriteError));
    if (Position() > NewSize)
        Seek(0, soEnd);
}

qint64 THandleStream::ReadAt(qint64 Pos, void *Buffer, qint64 Count)
{
    return files::readHandleAt(m_handle, Pos, Buffer, Count, m_lastError);
}

qint64 THandleStream::WriteAt(qint64 Pos, const void *Buffer, qint64 Count)
{
    return files::writeHandleAt(m_handle, Pos, Buffer, Count, m_lastError);
}

// ---- TFileStream ----

TFileStream::TFileStream(const QString &FileName, quint16 Mode) : THandleStream(-1), m_fileName(FileName)
{
    const bool create = Mode == fmCreate;
    const files::HandleAccess access = (Mode & 3) == fmOpenWrite ? files::HandleAccess::Write
        : (Mode & 3) == fmOpenReadWrite                          ? files::HandleAccess::ReadWrite
                                                                 : files::HandleAccess::Read;
    QString why;
    const int fd = files::openHandle(FileName, access, create, why);
    if (fd < 0)
        throw EFOpenError(Format(QString::fromLatin1(create ? msg::SFCreateError : msg::SFOpenError), FileName, why));
    const quint16 share = create ? fmShareExclusive : (Mode & 0xF0);
    if (share != fmShareCompat || !create) {
        if (!files::lockHandle(fd, share == fmShareExclusive, why)) {
            files::closeHandle(fd);
            throw EFOpenError(Format(QString::fromLatin1(msg::SFOpenError), FileName, why));
        }
    }
    m_handle = fd;
}

TFileStream::~TFileStream()
{
    if (m_handle >= 0)
        files::closeHandle(m_handle);
}

} // namespace dataaccess

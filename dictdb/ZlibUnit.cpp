#include "dictdb/ZlibUnit.h"

#include "dictdb/Logging.h"
#include "platform/Logging.h"

#include <algorithm>

namespace {

const char *const kSError = "error";
const char *const kSInvalidStreamOp = "Invalid stream operation";

// zlib counts in 32-bit units: larger calls are split.
constexpr qint64 kMaxPortion = qint64(1) << 30;

int ZlibLevel(TCompressionLevel Level)
{
    switch (Level) {
    case clNone:
        return Z_NO_COMPRESSION;
    case clFastest:
        return Z_BEST_SPEED;
    case clDefault:
        return Z_DEFAULT_COMPRESSION;
    case clMax:
        return Z_BEST_COMPRESSION;
    }
    return Z_NO_COMPRESSION;
}

[[noreturn]] void CompressError(const char *Message)
{
    throw ECompressionError(QString::fromLatin1(Message));
}

[[noreturn]] void DecompressError(const char *Message)
{
    throw EDecompressionError(QString::fromLatin1(Message));
}

} // namespace

// ---- TCustomZlibStream ----

TCustomZlibStream::TCustomZlibStream(TStream *AStrm)
    : m_Strm(AStrm), m_StrmPos(AStrm ? AStrm->Position() : 0), m_Buffer(new Bytef[kBufferSize])
{}

TCustomZlibStream::~TCustomZlibStream() = default;

void TCustomZlibStream::Progress()
{
    if (OnProgress)
        OnProgress(this);
}

void TCustomZlibStream::Reposition()
{
    if (m_Strm->Position() != m_StrmPos)
        m_Strm->SetPosition(m_StrmPos);
}

// ---- TCompressionStream ----

TCompressionStream::TCompressionStream(TCompressionLevel CompressionLevel, TStream *Dest) : TCustomZlibStream(Dest)
{
    if (!Dest)
        CompressError(kSInvalidStreamOp);
    m_ZStream.next_out = m_Buffer.get();
    m_ZStream.avail_out = kBufferSize;
    if (deflateInit(&m_ZStream, ZlibLevel(CompressionLevel)) != Z_OK)
        CompressError(kSError);
}

TCompressionStream::~TCompressionStream()
{
    if (!m_Finished) {
        try {
            Finish();
        } catch (...) {
            // A destructor cannot report: Finish is called explicitly where it matters.
            qCWarning(lcEngine) << "finishing a compression stream failed:" << platform::CurrentExceptionText();
        }
    }
    deflateEnd(&m_ZStream);
}

qint64 TCompressionStream::Read(void *, qint64)
{
    CompressError(kSInvalidStreamOp);
}

qint64 TCompressionStream::Write(const void *Buffer, qint64 Count)
{
    if (m_Finished)
        CompressError(kSInvalidStreamOp);
    if (!Buffer || Count <= 0)
        return 0;
    Reposition();
    const auto *p = static_cast<const Bytef *>(Buffer);
    qint64 left = Count;
    while (left > 0) {
        const qint64 portion = std::min(left, kMaxPortion);
        m_ZStream.next_in = const_cast<Bytef *>(p);
        m_ZStream.avail_in = uInt(portion);
        while (m_ZStream.avail_in > 0) {
            if (deflate(&m_ZStream, Z_NO_FLUSH) < 0)
                CompressError(kSError);
            if (m_ZStream.avail_out == 0) {
                m_Strm->WriteBuffer(m_Buffer.get(), kBufferSize);
                m_ZStream.next_out = m_Buffer.get();
                m_ZStream.avail_out = kBufferSize;
                m_StrmPos = m_Strm->Position();
                Progress();
            }
        }
        p += portion;
        left -= portion;
    }
    m_ZStream.next_in = nullptr;
    return Count;
}

qint64 TCompressionStream::Seek(qint64 Offset, TSeekOrigin Origin)
{
    if (Offset == 0 && Origin == soCurrent)
        return BytesIn();
    CompressError(kSInvalidStreamOp);
}

void TCompressionStream::Finish()
{
    if (m_Finished)
        return;
    m_Finished = true;
    m_ZStream.next_in = nullptr;
    m_ZStream.avail_in = 0;
    Reposition();
    for (;;) {
        const int r = deflate(&m_ZStream, Z_FINISH);
        if (r < 0 && r != Z_BUF_ERROR)
            CompressError(kSError);
        if (r == Z_STREAM_END || m_ZStream.avail_out != 0)
            break;
        m_Strm->WriteBuffer(m_Buffer.get(), kBufferSize);
        m_ZStream.next_out = m_Buffer.get();
        m_ZStream.avail_out = kBufferSize;
    }
    if (m_ZStream.avail_out < uInt(kBufferSize))
        m_Strm->WriteBuffer(m_Buffer.get(), kBufferSize - m_ZStream.avail_out);
    m_StrmPos = m_Strm->Position();
}

// ---- TDecompressionStream ----

TDecompressionStream::TDecompressionStream(TStream *Source) : TCustomZlibStream(Source)
{
    if (!Source)
        DecompressError(kSInvalidStreamOp);
    m_ZStream.next_in = m_Buffer.get();
    m_ZStream.avail_in = 0;
    if (inflateInit(&m_ZStream) != Z_OK)
        DecompressError(kSError);
}

TDecompressionStream::~TDecompressionStream()
{
    inflateEnd(&m_ZStream);
}

qint64 TDecompressionStream::Read(void *Buffer, qint64 Count)
{
    if (!Buffer || Count <= 0)
        return 0;
    auto *p = static_cast<Bytef *>(Buffer);
    qint64 done = 0;
    while (done < Count) {
        const uInt portion = uInt(std::min(Count - done, kMaxPortion));
        const qint64 n = ReadPortion(p + done, portion);
        done += n;
        if (n < qint64(portion))
            break;
    }
    return done;
}

qint64 TDecompressionStream::ReadPortion(Bytef *Buffer, uInt Count)
{
    if (m_Ended)
        return 0;
    m_ZStream.next_out = Buffer;
    m_ZStream.avail_out = Count;
    Reposition();
    while (m_ZStream.avail_out > 0) {
        if (m_ZStream.avail_in == 0) {
            const qint64 n = m_Strm->Read(m_Buffer.get(), kBufferSize);
            if (n <= 0)
                break;
            m_ZStream.next_in = m_Buffer.get();
            m_ZStream.avail_in = uInt(n);
            m_StrmPos = m_Strm->Position();
            Progress();
        }
        const uInt inBefore = m_ZStream.avail_in;
        const uInt outBefore = m_ZStream.avail_out;
        const int r = inflate(&m_ZStream, Z_NO_FLUSH);
        if (r == Z_STREAM_END) {
            // Bytes after the end of the stream are not ours: stop here.
            m_Ended = true;
            break;
        }
        // A dictionary request cannot be answered, and a call that moves nothing never will.
        if (r < 0 || r == Z_NEED_DICT || (m_ZStream.avail_in == inBefore && m_ZStream.avail_out == outBefore))
            DecompressError(kSError);
    }
    const qint64 produced = qint64(Count - m_ZStream.avail_out);
    m_ZStream.next_out = nullptr;
    m_ZStream.avail_out = 0;
    return produced;
}

qint64 TDecompressionStream::Write(const void *, qint64)
{
    DecompressError(kSInvalidStreamOp);
}

void TDecompressionStream::Discard(qint64 Count)
{
    Bytef buf[8192];
    while (Count > 0) {
        const qint64 n = std::min<qint64>(Count, sizeof buf);
        ReadBuffer(buf, n);
        Count -= n;
    }
}

qint64 TDecompressionStream::Seek(qint64 Offset, TSeekOrigin Origin)
{
    const qint64 produced = qint64(m_ZStream.total_out);
    if (Offset == 0 && Origin == soBeginning) {
        if (inflateReset(&m_ZStream) != Z_OK)
            DecompressError(kSError);
        m_ZStream.next_in = m_Buffer.get();
        m_ZStream.avail_in = 0;
        m_Ended = false;
        m_Strm->SetPosition(0);
        m_StrmPos = 0;
    } else if (Origin == soCurrent && Offset >= 0) {
        Discard(Offset);
    } else if (Origin == soBeginning && Offset > produced) {
        Discard(Offset - produced);
    } else {
        DecompressError(kSInvalidStreamOp);
    }
    return qint64(m_ZStream.total_out);
}

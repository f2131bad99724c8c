#include "dictdb/ZlibUnit.h"

#include "dictdb/Logging.h"
#include "platform/Logging.h"

#include <algorithm>

namespace {

const char *const SError = "error";
const char *const SInvalidStreamOp = "Invalid stream operation";

// zlib counts in 32-bit units: larger calls are split.
constexpr qint64 MaxPortion = qint64(1) << 30;

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
    : Strm(AStrm), StrmPos(AStrm ? AStrm->Position() : 0), FBuffer(new Bytef[BufferSize])
{}

TCustomZlibStream::~TCustomZlibStream() = default;

void TCustomZlibStream::Progress()
{
    if (OnProgress)
        OnProgress(this);
}

void TCustomZlibStream::Reposition()
{
    if (Strm->Position() != StrmPos)
        Strm->SetPosition(StrmPos);
}

// ---- TCompressionStream ----

TCompressionStream::TCompressionStream(TCompressionLevel CompressionLevel, TStream *Dest) : TCustomZlibStream(Dest)
{
    if (!Dest)
        CompressError(SInvalidStreamOp);
    FZRec.next_out = FBuffer.get();
    FZRec.avail_out = BufferSize;
    if (deflateInit(&FZRec, ZlibLevel(CompressionLevel)) != Z_OK)
        CompressError(SError);
}

TCompressionStream::~TCompressionStream()
{
    if (!m_finished) {
        try {
            Finish();
        } catch (...) {
            // A destructor cannot report: Finish is called explicitly where it matters.
            qCWarning(lcEngine) << "finishing a compression stream failed:" << platform::currentExceptionText();
        }
    }
    deflateEnd(&FZRec);
}

qint64 TCompressionStream::Read(void *, qint64)
{
    CompressError(SInvalidStreamOp);
}

qint64 TCompressionStream::Write(const void *Buffer, qint64 Count)
{
    if (m_finished)
        CompressError(SInvalidStreamOp);
    if (!Buffer || Count <= 0)
        return 0;
    Reposition();
    const auto *p = static_cast<const Bytef *>(Buffer);
    qint64 left = Count;
    while (left > 0) {
        const qint64 portion = std::min(left, MaxPortion);
        FZRec.next_in = const_cast<Bytef *>(p);
        FZRec.avail_in = uInt(portion);
        while (FZRec.avail_in > 0) {
            if (deflate(&FZRec, Z_NO_FLUSH) < 0)
                CompressError(SError);
            if (FZRec.avail_out == 0) {
                Strm->WriteBuffer(FBuffer.get(), BufferSize);
                FZRec.next_out = FBuffer.get();
                FZRec.avail_out = BufferSize;
                StrmPos = Strm->Position();
                Progress();
            }
        }
        p += portion;
        left -= portion;
    }
    FZRec.next_in = nullptr;
    return Count;
}

qint64 TCompressionStream::Seek(qint64 Offset, TSeekOrigin Origin)
{
    if (Offset == 0 && Origin == soCurrent)
        return BytesIn();
    CompressError(SInvalidStreamOp);
}

void TCompressionStream::Finish()
{
    if (m_finished)
        return;
    m_finished = true;
    FZRec.next_in = nullptr;
    FZRec.avail_in = 0;
    Reposition();
    for (;;) {
        const int r = deflate(&FZRec, Z_FINISH);
        if (r < 0 && r != Z_BUF_ERROR)
            CompressError(SError);
        if (r == Z_STREAM_END || FZRec.avail_out != 0)
            break;
        Strm->WriteBuffer(FBuffer.get(), BufferSize);
        FZRec.next_out = FBuffer.get();
        FZRec.avail_out = BufferSize;
    }
    if (FZRec.avail_out < uInt(BufferSize))
        Strm->WriteBuffer(FBuffer.get(), BufferSize - FZRec.avail_out);
    StrmPos = Strm->Position();
}

// ---- TDecompressionStream ----

TDecompressionStream::TDecompressionStream(TStream *Source) : TCustomZlibStream(Source)
{
    if (!Source)
        DecompressError(SInvalidStreamOp);
    FZRec.next_in = FBuffer.get();
    FZRec.avail_in = 0;
    if (inflateInit(&FZRec) != Z_OK)
        DecompressError(SError);
}

TDecompressionStream::~TDecompressionStream()
{
    inflateEnd(&FZRec);
}

qint64 TDecompressionStream::Read(void *Buffer, qint64 Count)
{
    if (!Buffer || Count <= 0)
        return 0;
    auto *p = static_cast<Bytef *>(Buffer);
    qint64 done = 0;
    while (done < Count) {
        const uInt portion = uInt(std::min(Count - done, MaxPortion));
        const qint64 n = ReadPortion(p + done, portion);
        done += n;
        if (n < qint64(portion))
            break;
    }
    return done;
}

qint64 TDecompressionStream::ReadPortion(Bytef *Buffer, uInt Count)
{
    if (m_ended)
        return 0;
    FZRec.next_out = Buffer;
    FZRec.avail_out = Count;
    Reposition();
    while (FZRec.avail_out > 0) {
        if (FZRec.avail_in == 0) {
            const qint64 n = Strm->Read(FBuffer.get(), BufferSize);
            if (n <= 0)
                break;
            FZRec.next_in = FBuffer.get();
            FZRec.avail_in = uInt(n);
            StrmPos = Strm->Position();
            Progress();
        }
        const uInt inBefore = FZRec.avail_in;
        const uInt outBefore = FZRec.avail_out;
        const int r = inflate(&FZRec, Z_NO_FLUSH);
        if (r == Z_STREAM_END) {
            // Bytes after the end of the stream are not ours: stop here.
            m_ended = true;
            break;
        }
        // A dictionary request cannot be answered, and a call that moves nothing never will.
        if (r < 0 || r == Z_NEED_DICT || (FZRec.avail_in == inBefore && FZRec.avail_out == outBefore))
            DecompressError(SError);
    }
    const qint64 produced = qint64(Count - FZRec.avail_out);
    FZRec.next_out = nullptr;
    FZRec.avail_out = 0;
    return produced;
}

qint64 TDecompressionStream::Write(const void *, qint64)
{
    DecompressError(SInvalidStreamOp);
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
    const qint64 produced = qint64(FZRec.total_out);
    if (Offset == 0 && Origin == soBeginning) {
        if (inflateReset(&FZRec) != Z_OK)
            DecompressError(SError);
        FZRec.next_in = FBuffer.get();
        FZRec.avail_in = 0;
        m_ended = false;
        Strm->SetPosition(0);
        StrmPos = 0;
    } else if (Origin == soCurrent && Offset >= 0) {
        Discard(Offset);
    } else if (Origin == soBeginning && Offset > produced) {
        Discard(Offset - produced);
    } else {
        DecompressError(SInvalidStreamOp);
    }
    return qint64(FZRec.total_out);
}

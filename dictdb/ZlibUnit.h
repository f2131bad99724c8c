#pragma once

#include "dataaccess/DBError.h"
#include "dataaccess/Streams.h"

#include <zlib.h>

#include <functional>
#include <memory>

class EZlibError : public dataaccess::Exception
{
public:
    using dataaccess::Exception::Exception;
};
class ECompressionError : public EZlibError
{
public:
    using EZlibError::EZlibError;
};
class EDecompressionError : public EZlibError
{
public:
    using EZlibError::EZlibError;
};

class TCustomZlibStream;
using TZlibNotifyEvent = std::function<void(TCustomZlibStream *Sender)>;

// A stream that runs zlib between its caller and an underlying stream (not owned).
class TCustomZlibStream : public TStream
{
public:
    ~TCustomZlibStream() override;

    // Fired each time a whole buffer of the underlying stream is turned over.
    TZlibNotifyEvent OnProgress;

    // Input bytes zlib has consumed so far.
    qint64 BytesIn() const { return qint64(m_ZStream.total_in); }

    static constexpr int kBufferSize = 131072;

protected:
    explicit TCustomZlibStream(TStream *AStrm);
    virtual void Progress();
    // Puts the underlying stream back where this stream left it.
    void Reposition();

    TStream *m_Strm = nullptr;
    qint64 m_StrmPos = 0;
    z_stream m_ZStream{};
    std::unique_ptr<Bytef[]> m_Buffer;
};

// Stream level codes.
enum TCompressionLevel : quint8 { clNone = 0, clFastest = 1, clDefault = 2, clMax = 3 };

// Write-only: compresses what is written into Dest.
class TCompressionStream : public TCustomZlibStream
{
public:
    TCompressionStream(TCompressionLevel CompressionLevel, TStream *Dest);
    // Finishes the stream when Finish was not called (errors can no longer be reported then).
    ~TCompressionStream() override;

    qint64 Read(void *Buffer, qint64 Count) override;
    qint64 Write(const void *Buffer, qint64 Count) override;
    // Answers BytesIn for a seek of 0 from the current position; any other seek is refused.
    qint64 Seek(qint64 Offset, TSeekOrigin Origin) override;

    // Flushes the rest of the zlib stream to Dest and ends it.
    void Finish();

private:
    bool m_Finished = false;
};

// Read-only, forward-only: inflates one zlib stream from Source; reading stops at its end.
class TDecompressionStream : public TCustomZlibStream
{
public:
    explicit TDecompressionStream(TStream *Source);
    ~TDecompressionStream() override;

    qint64 Read(void *Buffer, qint64 Count) override;
    qint64 Write(const void *Buffer, qint64 Count) override;
    // 0 from the beginning restarts; forward seeks read and discard; answers the output so far.
    qint64 Seek(qint64 Offset, TSeekOrigin Origin) override;

    // True once zlib reported the end of the compressed data.
    bool StreamEnded() const { return m_Ended; }

private:
    qint64 ReadPortion(Bytef *Buffer, uInt Count);
    void Discard(qint64 Count);

    bool m_Ended = false;
};

#include "dictdb/Compress_Zlib.h"

#include <QtEndian>

#include <limits>
#include <memory>

namespace {

TMemoryStream *MemoryStreamOf(TStream *Stream, bool Compress)
{
    auto *memory = dynamic_cast<TMemoryStream *>(Stream);
    if (!memory) {
        const QString text = QStringLiteral("Invalid stream operation");
        if (Compress)
            throw ECompressionError(text);
        throw EDecompressionError(text);
    }
    return memory;
}

void WriteHeader(TStream *Dest, qint32 Header)
{
    quint8 bytes[4];
    qToLittleEndian<qint32>(Header, bytes);
    Dest->WriteBuffer(bytes, 4);
}

} // namespace

TCompAlgo_Zlib::TCompAlgo_Zlib(QObject *AOwner) : TCompressAlgo(AOwner) {}

TCompressionLevel TCompAlgo_Zlib::StreamLevel(quint8 ALevel)
{
    switch (ALevel) {
    case 0:
        return clMax;
    case 1:
        return clDefault;
    case 2:
    case 3:
        return clFastest;
    default:
        return clNone;
    }
}

qint64 TCompAlgo_Zlib::MaxInflatedSize(qint64 CompressedSize)
{
    if (CompressedSize <= 0)
        return 0;
    return CompressedSize * 1032 + 1024;
}

void TCompAlgo_Zlib::EncodeStream(TStream *Source, TStream *Dest, qint64 DataSize)
{
    Q_UNUSED(DataSize);
    TMemoryStream *source = MemoryStreamOf(Source, true);
    TMemoryStream *dest = MemoryStreamOf(Dest, true);
    m_Total = source->Size();
    if (m_Total == 0) {
        dest->Clear();
        return;
    }
    // The header holds the size in 32 bits.
    if (m_Total > std::numeric_limits<qint32>::max())
        throw ECompressionError(QStringLiteral("error"));
    dest->Clear();
    WriteHeader(dest, qint32(m_Total));
    {
        TCompressionStream zip(StreamLevel(m_Level), dest);
        zip.OnProgress = [this](TCustomZlibStream *Sender) {
            EncodeProgress(ProgressPercent(Sender->BytesIn(), m_Total));
        };
        zip.WriteBuffer(source->Memory(), m_Total);
        zip.Finish();
    }
    dest->SetPosition(0);
    if (source->Size() <= dest->Size() - 4) {
        dest->Clear();
        WriteHeader(dest, qint32(-source->Size()));
        dest->WriteBuffer(source->Memory(), source->Size());
    }
}

void TCompAlgo_Zlib::DecodeStream(TStream *Source, TStream *Dest, qint64 DataSize)
{
    Q_UNUSED(DataSize);
    TMemoryStream *dest = MemoryStreamOf(Dest, false);
    if (!Source)
        throw EDecompressionError(QStringLiteral("Invalid stream operation"));
    m_Total = Source->Size();
    if (m_Total == 0) {
        dest->Clear();
        return;
    }
    Source->SetPosition(0);
    quint8 bytes[4];
    Source->ReadBuffer(bytes, 4);
    const qint32 header = qFromLittleEndian<qint32>(bytes);
    if (header < 0) {
        dest->Clear();
        if (m_Total > 4)
            dest->CopyFrom(Source, m_Total - 4);
        return;
    }
    // Ten bytes must not be able to ask for gigabytes: the header is bounded by what the
    // compressed bytes can produce, and the output grows only as it is produced.
    if (qint64(header) > MaxInflatedSize(m_Total - 4))
        throw EDecompressionError(QStringLiteral("error"));
    TMemoryStream plain;
    {
        TDecompressionStream unzip(Source);
        unzip.OnProgress = [this](TCustomZlibStream *Sender) {
            DecodeProgress(ProgressPercent(Sender->BytesIn(), m_Total));
        };
        constexpr qint64 kChunk = 65536;
        std::unique_ptr<quint8[]> buffer(new quint8[kChunk]);
        qint64 left = header;
        while (left > 0) {
            const qint64 want = std::min(left, kChunk);
            const qint64 n = unzip.Read(buffer.get(), want);
            if (n > 0)
                plain.WriteBuffer(buffer.get(), n);
            left -= n;
            if (n < want)
                break;
        }
        if (left > 0)
            throw EReadError(QString::fromLatin1(dataaccess::msg::kSReadError));
        // More output than the header promised is as wrong as less.
        quint8 extra;
        if (unzip.Read(&extra, 1) != 0)
            throw EDecompressionError(QStringLiteral("error"));
    }
    dest->LoadFromStream(&plain);
    dest->SetPosition(0);
}

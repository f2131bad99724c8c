#pragma once

#include "dictdb/DataProcess.h"
#include "dictdb/ZlibUnit.h"

// The "ZLIB" compressor. A block is an int32 header and a zlib stream (header > 0: the
// uncompressed size), or the negated size and the raw bytes when compression would not shrink
// them; an empty value is an empty block. Source and Dest are memory streams.
class TCompAlgo_Zlib : public TCompressAlgo
{
public:
    explicit TCompAlgo_Zlib(QObject *AOwner);

    void EncodeStream(TStream *Source, TStream *Dest, qint64 DataSize) override;
    void DecodeStream(TStream *Source, TStream *Dest, qint64 DataSize) override;
    void SetLevel(quint8 ALevel) override { m_Level = ALevel; }
    quint8 GetLevel() const override { return m_Level; }

    // The stream level code a plug-in level selects.
    static TCompressionLevel StreamLevel(quint8 ALevel);

    // The most a zlib stream of CompressedSize bytes can inflate to (deflate's limit is 1032:1).
    static qint64 MaxInflatedSize(qint64 CompressedSize);

private:
    quint8 m_Level = 1;
    qint64 m_Total = 0;
};

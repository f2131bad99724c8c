#pragma once

#include "dictdb/HashBase.h"

class THash_XOR32 : public THash
{
public:
    ~THash_XOR32() override;

    void Init() override { m_Value = 0; }
    void Update(const void *Data, int DataSize) override;
    void Final() override {}
    // m_Value's four bytes, least significant first.
    void *DigestData() override;
    int DigestSize() const override { return 4; }

protected:
    quint32 m_Value = 0;

private:
    quint8 m_Digest[4] = {};
};

// The standard CRC-32 (zip, zlib); the blob read-back check uses it.
class THash_CRC32 : public THash_XOR32
{
public:
    void Init() override { m_Value = 0xFFFFFFFF; }
    void Update(const void *Data, int DataSize) override;
    void Final() override { m_Value = ~m_Value; }
};

quint32 UpdateCRC32(quint32 CRC, const void *Data, int Count);

#pragma once

#include "dictdb/HashBase.h"

// MD4, and the shared block buffering of the MD4 family (RIPEMD-160 and SHA build on it).
class THash_MD4 : public THash
{
public:
    THash_MD4() = default;
    ~THash_MD4() override;

    void Init() override;
    void Update(const void *Data, int DataSize) override;
    void Final() override;
    void *DigestData() override { return m_Digest; }
    int DigestSize() const override { return 16; }

protected:
    // Compresses one 64-byte block.
    virtual void ProcessBlock(const void *Block);
    // The published compression functions come from the crypto library, which keeps their
    // state itself: these feed it and fetch the finished digest into m_Digest.
    void LibraryWrite(int Algo, const void *Data, int Size);
    void LibraryFinal(int Algo);

    quint32 m_Count = 0; // bytes appended since Init (wraps like the stored 32-bit counter)
    quint8 m_Buffer[64] = {};
    quint32 m_Digest[10] = {};

private:
    void *m_Library = nullptr; // the crypto library's digest handle, opened on first use
    int m_LibraryAlgo = 0;
};

#pragma once

#include "dictdb/ClassRef.h"

#include <QString>
#include <QtGlobal>

// The root of the message digests. A digest object is created, initialised, fed and finished by
// its user; after Final the digest stays readable until the next Init or the destruction.
class THash
{
public:
    THash() = default;
    THash(const THash &) = delete;
    THash &operator=(const THash &) = delete;
    // Descendants wipe their digest in their own destructors.
    virtual ~THash() = default;

    virtual void Init() {}
    virtual void Update(const void *Data, int DataSize)
    {
        Q_UNUSED(Data);
        Q_UNUSED(DataSize);
    }
    virtual void Final() {}
    virtual void *DigestData() { return nullptr; }
    virtual int DigestSize() const { return 0; }
};

using THashClass = TClassRef<THash>;

template <class T>
THashClass HashClassOf()
{
    return THashClass::Of<T>();
}

// Hashes the first Length(Text) bytes of the text's UTF-16LE form (so an ASCII text counts only
// by half: stored password check texts and keys rely on it). Answers the digest in the default
// text form; copies DigestSize bytes to Digest when it is not null.
QString HashText(const THashClass &HashClass, void *Digest, const QString &Text);
QString HashBuffer(const THashClass &HashClass, void *Digest, const void *Buffer, int Size);

// Format 16: hexadecimal; 0 or 64 (and any other value): the Base64 form below.
QString DigestToText(THash *Hash, int Format);

// A negative Size means Data is a zero-terminated byte string.
QString BytesToHex(const void *Data, int Size);
// Base64 that stops each group as soon as its remaining bits are zero (stored texts rely on it).
QString BytesToBase64(const void *Data, int Size);

void SwapWords(const void *Source, void *Dest, int Count);

#pragma once

#include "dataaccess/DBError.h"

#include <QString>

#include <functional>

// MD5 digests as text.
class TMD5
{
public:
    TMD5() = delete;

    // Digest := 32 upper-case hexadecimal digits of the file's MD5, or empty when the file is
    // missing or a read fails. A file that exists but cannot be opened throws EFOpenError.
    static void HashFile(const QString &FileName, QString &Digest);

    // The same for a file already open for reading, from its current position to its end. Empty
    // on a read error, and when `Cancelled` (asked between reads) says the digest is no longer wanted.
    static void HashHandle(int Handle, QString &Digest, const std::function<bool()> &Cancelled = {});

    // The digest of a memory block, as 32 upper-case hexadecimal digits.
    static QString HashBuffer(const void *Data, qint64 Size);
};

#pragma once

#include "dataaccess/DBError.h"

#include <QString>

// MD5 digests as text.
class TMD5
{
public:
    TMD5() = delete;

    // Digest := 32 upper-case hexadecimal digits of the file's MD5, or empty when the file is
    // missing or a read fails. A file that exists but cannot be opened throws EFOpenError.
    static void HashFile(const QString &FileName, QString &Digest);

    // The digest of a memory block, as 32 upper-case hexadecimal digits.
    static QString HashBuffer(const void *Data, qint64 Size);
};

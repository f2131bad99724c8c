#pragma once

#include "dataaccess/DBError.h"
#include "dataaccess/Streams.h"

#include <QString>

// Raised by TAES.DecryptStream for a byte count that is not a whole number of blocks.
class EAESError : public dataaccess::Exception
{
public:
    using dataaccess::Exception::Exception;
};

// AES decryption (ECB, no padding) with a key made from a pass phrase's UTF-16 bytes.
class TAES
{
public:
    TAES() = delete;

    static quint8 GetKeySize(const QString &PassPhrase);

    // KeySize 0 derives the size from the pass phrase; 16, 24 and 32 choose AES-128/192/256;
    // any other value does nothing. Count 0 decrypts the whole of Source from its start,
    // otherwise up to Count bytes from its current position.
    // Throws EAESError, and EReadError / EWriteError for a short read or write.
    static void DecryptStream(TStream *Source, TStream *Dest, const QString &PassPhrase, qint64 Count = 0,
                              quint8 KeySize = 0);

    // Never throws: PlainText is empty on any failure.
    static void DecryptHexString(const QString &HexText, const QString &PassPhrase, quint8 KeySize, QString &PlainText);
};

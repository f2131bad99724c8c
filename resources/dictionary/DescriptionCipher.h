#pragma once

// The dictionary's description form, written by the dictionary generator and by tests that
// make dictionaries of their own: the inverse of the dictionary access's decipher step.

#include "platform/crypto/Gcrypt.h"

#include <gcrypt.h>

#include <QByteArray>
#include <QString>

#include <cstring>
#include <optional>

// The pass phrase the dictionary access deciphers descriptions with.
inline const QString kDictionaryDescriptionKey = QStringLiteral("5r2t8v3k6m4");

// The text's UTF-16 bytes with a terminating zero character, zero-padded to whole blocks,
// enciphered with AES in ECB mode under the pass phrase's zero-padded UTF-16 bytes; every
// 8 bytes written as one little-endian number of 16 upper-case hexadecimal digits.
// Nothing when the cipher cannot be used.
inline std::optional<QString> EncryptDescriptionHex(const QString &Plain,
                                                    const QString &PassPhrase = kDictionaryDescriptionKey)
{
    if (!platform::crypto::EnsureGcrypt())
        return std::nullopt;
    QByteArray data(reinterpret_cast<const char *>(Plain.utf16()), Plain.size() * 2);
    data.append(2, '\0');
    data.append(QByteArray((16 - data.size() % 16) % 16, '\0'));

    const QByteArray phrase(reinterpret_cast<const char *>(PassPhrase.utf16()), PassPhrase.size() * 2);
    const int keySize = phrase.size() <= 16 ? 16 : phrase.size() <= 24 ? 24 : 32;
    QByteArray key(keySize, '\0');
    std::memcpy(key.data(), phrase.constData(), size_t(qMin(keySize, int(phrase.size()))));
    const int algo = keySize == 16 ? GCRY_CIPHER_AES128 : keySize == 24 ? GCRY_CIPHER_AES192 : GCRY_CIPHER_AES256;

    gcry_cipher_hd_t hd = nullptr;
    if (gcry_cipher_open(&hd, algo, GCRY_CIPHER_MODE_ECB, 0) != 0)
        return std::nullopt;
    const bool ok = gcry_cipher_setkey(hd, key.constData(), size_t(key.size())) == 0 &&
        gcry_cipher_encrypt(hd, data.data(), size_t(data.size()), nullptr, 0) == 0;
    gcry_cipher_close(hd);
    if (!ok)
        return std::nullopt;

    QString hex;
    for (qsizetype i = 0; i < data.size(); i += 8) {
        quint64 v = 0;
        for (int b = 7; b >= 0; --b)
            v = (v << 8) | quint8(data.at(i + b));
        hex += QStringLiteral("%1").arg(v, 16, 16, QLatin1Char('0')).toUpper();
    }
    return hex;
}

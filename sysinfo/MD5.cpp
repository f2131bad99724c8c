#include "sysinfo/MD5.h"

#include "platform/crypto/Md5.h"
#include "platform/files/FileHandle.h"
#include "platform/files/RegularFile.h"

#include <QByteArray>

#include <array>
#include <vector>

namespace {

constexpr qint64 ChunkSize = 16384;

QString DigestText(const std::array<std::uint8_t, 16> &Digest)
{
    static const char hex[] = "0123456789ABCDEF";
    QString text;
    text.reserve(32);
    for (std::uint8_t b : Digest) {
        text.append(QLatin1Char(hex[b >> 4]));
        text.append(QLatin1Char(hex[b & 0xF]));
    }
    return text;
}

} // namespace

QString TMD5::HashBuffer(const void *Data, qint64 Size)
{
    platform::crypto::Md5 md5;
    if (!md5.isValid())
        return QString();
    const auto *p = static_cast<const char *>(Data);
    for (qint64 done = 0; done < Size;) {
        const qint64 n = std::min(ChunkSize, Size - done);
        md5.update(p + done, std::size_t(n));
        done += n;
    }
    return DigestText(md5.final());
}

void TMD5::HashHandle(int Handle, QString &Digest, const std::function<bool()> &Cancelled)
{
    Digest.clear();
    platform::crypto::Md5 md5;
    if (Handle < 0 || !md5.isValid())
        return;
    std::vector<char> buffer(std::size_t(ChunkSize) * 4);
    for (;;) {
        if (Cancelled && Cancelled())
            return;
        const qint64 n = platform::files::readHandle(Handle, buffer.data(), qint64(buffer.size()));
        if (n < 0)
            return;
        if (n == 0)
            break;
        md5.update(buffer.data(), std::size_t(n));
    }
    Digest = DigestText(md5.final());
}

void TMD5::HashFile(const QString &FileName, QString &Digest)
{
    Digest.clear();
    if (!platform::files::pathExists(FileName))
        return;
    platform::files::RegularFileReader file;
    switch (file.open(FileName)) {
    case platform::files::RegularFileReader::OpenResult::Opened:
        break;
    case platform::files::RegularFileReader::OpenResult::Failed:
        throw EFOpenError(
            dataaccess::Format(QString::fromLatin1(dataaccess::msg::SFOpenError), FileName, file.errorText()));
    default:
        // Gone meanwhile, or a directory, device or pipe: nothing to hash.
        return;
    }
    try {
        platform::crypto::Md5 md5;
        if (!md5.isValid())
            return;
        // Read in chunks: a file is never held whole in memory.
        std::vector<char> buffer(std::size_t(ChunkSize) * 4);
        for (;;) {
            const qint64 n = file.read(buffer.data(), qint64(buffer.size()));
            if (n < 0)
                return;
            if (n == 0)
                break;
            md5.update(buffer.data(), std::size_t(n));
        }
        Digest = DigestText(md5.final());
    } catch (...) {
        // Once the file is open, any failure gives an empty digest rather than an exception.
        Digest.clear();
    }
}

#include "sysinfo/MD5.h"

#include "platform/crypto/Md5.h"
#include "platform/files/FileHandle.h"
#include "platform/files/RegularFile.h"

#include <QByteArray>

#include <array>
#include <vector>

namespace {

constexpr qint64 kChunkSize = 16384;

QString DigestText(const std::array<std::uint8_t, 16> &Digest)
{
    static const char kHex[] = "0123456789ABCDEF";
    QString text;
    text.reserve(32);
    for (std::uint8_t b : Digest) {
        text.append(QLatin1Char(kHex[b >> 4]));
        text.append(QLatin1Char(kHex[b & 0xF]));
    }
    return text;
}

} // namespace

QString TMD5::HashBuffer(const void *Data, qint64 Size)
{
    platform::crypto::Md5 md5;
    if (!md5.IsValid())
        return QString();
    const auto *p = static_cast<const char *>(Data);
    for (qint64 done = 0; done < Size;) {
        const qint64 n = std::min(kChunkSize, Size - done);
        md5.Update(p + done, std::size_t(n));
        done += n;
    }
    return DigestText(md5.Final());
}

namespace {

// The digest of what `Read` gives, chunk by chunk (a file is never held whole in memory); empty
// on a read error or once `Cancelled` holds.
QString HashReads(const std::function<qint64(char *, qint64)> &Read, const std::function<bool()> &Cancelled)
{
    platform::crypto::Md5 md5;
    if (!md5.IsValid())
        return QString();
    std::vector<char> buffer(std::size_t(kChunkSize) * 4);
    for (;;) {
        if (Cancelled && Cancelled())
            return QString();
        const qint64 n = Read(buffer.data(), qint64(buffer.size()));
        if (n < 0)
            return QString();
        if (n == 0)
            break;
        md5.Update(buffer.data(), std::size_t(n));
    }
    return DigestText(md5.Final());
}

} // namespace

void TMD5::HashHandle(int Handle, QString &Digest, const std::function<bool()> &Cancelled)
{
    Digest.clear();
    if (Handle < 0)
        return;
    Digest = HashReads(
        [Handle](char *Buffer, qint64 Size) { return platform::files::ReadHandle(Handle, Buffer, Size); }, Cancelled);
}

void TMD5::HashFile(const QString &FileName, QString &Digest)
{
    Digest.clear();
    // One open decides: a missing file, a folder, device or pipe give nothing to hash.
    platform::files::RegularFileReader file;
    switch (file.Open(FileName)) {
    case platform::files::RegularFileReader::OpenResult::Opened:
        break;
    case platform::files::RegularFileReader::OpenResult::Failed:
        throw EFOpenError(
            dataaccess::Format(QString::fromLatin1(dataaccess::msg::kSfOpenError), FileName, file.ErrorText()));
    default:
        // Gone meanwhile, or a directory, device or pipe: nothing to hash.
        return;
    }
    try {
        Digest = HashReads([&file](char *Buffer, qint64 Size) { return file.Read(Buffer, Size); }, {});
    } catch (...) {
        // Once the file is open, any failure gives an empty digest rather than an exception.
        Digest.clear();
    }
}

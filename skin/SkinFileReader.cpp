#include "skin/SkinFileReader.h"

#include "platform/files/RegularFile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUuid>

#include <array>
#include <cstring>

namespace {

// A skin table is a few hundred kilobytes of small pictures. Declared sizes beyond these limits
// are not skin files: refusing them keeps a hostile file from filling the disk or the memory.
constexpr qint64 kMaxEntrySize = qint64{64} * 1024 * 1024;
constexpr int kMaxEntryNameLength = 259; // the name buffer holds 260 bytes with its NUL
constexpr int kMaxBitmapSide = 16384;
constexpr qint64 kMaxBitmapPixels = qint64{16} * 1024 * 1024;

constexpr quint16 kSkinSignature = 0x4B53; // "SK"
constexpr quint32 kEndRecordSignature = 0x06054B50;
constexpr int kEndRecordSize = 22;
constexpr int kCentralHeaderSize = 46;
constexpr int kLocalHeaderSize = 30;

quint16 Le16(const uchar *P)
{
    return quint16(P[0] | (P[1] << 8));
}

quint32 Le32(const uchar *P)
{
    return quint32(P[0]) | (quint32(P[1]) << 8) | (quint32(P[2]) << 16) | (quint32(P[3]) << 24);
}

bool ReadExact(QIODevice &Device, void *Buffer, qint64 Size)
{
    return Device.read(static_cast<char *>(Buffer), Size) == Size;
}

// ---- CRC-32 and the traditional ZIP encryption ----

const std::array<quint32, 256> &CrcTable()
{
    static const std::array<quint32, 256> kTable = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return kTable;
}

quint32 CrcStep(quint32 Crc, quint8 Byte)
{
    return CrcTable()[(Crc ^ Byte) & 0xFF] ^ (Crc >> 8);
}

struct TZipKeys
{
    quint32 Key0 = 0x12345678;
    quint32 Key1 = 0x23456789;
    quint32 Key2 = 0x34567890;

    void Update(quint8 Plain)
    {
        Key0 = CrcStep(Key0, Plain);
        Key1 = (Key1 + (Key0 & 0xFF)) * 0x08088405u + 1;
        Key2 = CrcStep(Key2, quint8(Key1 >> 24));
    }

    quint8 Decrypt(quint8 Cipher)
    {
        const quint32 t = (Key2 & 0xFFFF) | 2;
        const quint8 plain = Cipher ^ quint8(((t * (t ^ 1)) >> 8) & 0xFF);
        Update(plain);
        return plain;
    }
};

// Deciphers the archive from its current position to its end while the inflater reads it.
class TDecipherDevice : public QIODevice
{
public:
    TDecipherDevice(QIODevice &Source, const TZipKeys &Keys) : m_Source(Source), m_Keys(Keys) {}
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *Data, qint64 MaxSize) override
    {
        const qint64 n = m_Source.read(Data, qMin<qint64>(MaxSize, 1024));
        for (qint64 i = 0; i < n; ++i)
            Data[i] = char(m_Keys.Decrypt(quint8(Data[i])));
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QIODevice &m_Source;
    TZipKeys m_Keys;
};

// ---- Inflater ----

const quint16 kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const quint8 kLengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 0, 0};
const quint16 kDistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                   33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                   1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const quint8 kDistanceExtra[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6, 6,
                                   7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 0, 0};
const quint8 kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct TFixedTables
{
    THuffmanTree Literals;
    THuffmanTree Distances;
    TFixedTables()
    {
        std::vector<quint8> lit(288);
        for (int i = 0; i < 288; ++i)
            lit[size_t(i)] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        Literals.Build(lit, 257, kLengthExtra, 31);
        Distances.Build(std::vector<quint8>(32, 5), 0, kDistanceExtra, 32);
    }
};

const TFixedTables &FixedTables()
{
    static const TFixedTables kTables;
    return kTables;
}

constexpr int kWindowFlushAt = 65536;
constexpr int kWindowKeep = 32768;
constexpr int kWindowSize = 65536 + 258;
constexpr qint64 kInputBufferSize = 16384;

class TInflater
{
public:
    TInflater(QIODevice &Source, QIODevice &Sink, qint64 MaxOutput)
        : m_Source(Source), m_Sink(Sink), m_MaxOutput(MaxOutput), m_Input(size_t(kInputBufferSize)),
          m_Window(size_t(kWindowSize))
    {}

    bool Run()
    {
        bool final = false;
        while (!final) {
            final = Bits(1) != 0;
            const quint32 type = Bits(2);
            if (Overrun())
                return false;
            bool ok = false;
            switch (type) {
            case 0:
                ok = Stored();
                break;
            case 1:
                ok = Codes(FixedTables().Literals, FixedTables().Distances);
                break;
            case 2:
                ok = Dynamic();
                break;
            default:
                ok = false;
                break;
            }
            if (!ok)
                return false;
        }
        return Flush(m_Pos);
    }

private:
    // Bits past the end of the input read as 0; using them means the stream was cut short.
    bool Need(int Count)
    {
        while (m_BitCount < Count) {
            if (m_InPos == m_InLen) {
                m_InLen = m_Eof ? 0 : m_Source.read(reinterpret_cast<char *>(m_Input.data()), kInputBufferSize);
                m_InPos = 0;
                if (m_InLen <= 0) {
                    m_InLen = 0;
                    m_Eof = true;
                    m_Acc |= quint64(0) << m_BitCount;
                    m_BitCount += 8;
                    continue;
                }
                m_RealBits += quint64(m_InLen) * 8;
            }
            m_Acc |= quint64(m_Input[size_t(m_InPos++)]) << m_BitCount;
            m_BitCount += 8;
        }
        return true;
    }

    quint32 Peek(int Count)
    {
        Need(Count);
        return quint32(m_Acc & ((quint64(1) << Count) - 1));
    }

    void Drop(int Count)
    {
        m_Acc >>= Count;
        m_BitCount -= Count;
        m_UsedBits += quint64(Count);
    }

    quint32 Bits(int Count)
    {
        if (Count == 0)
            return 0;
        const quint32 v = Peek(Count);
        Drop(Count);
        return v;
    }

    bool Overrun() const { return m_UsedBits > m_RealBits; }

    bool Flush(int Count)
    {
        if (Count <= 0)
            return true;
        return m_Sink.write(reinterpret_cast<const char *>(m_Window.data()), Count) == Count;
    }

    bool Put(quint8 Byte)
    {
        if (++m_Total > m_MaxOutput)
            return false;
        m_Window[size_t(m_Pos++)] = Byte;
        if (m_Pos >= kWindowFlushAt) {
            if (!Flush(kWindowKeep))
                return false;
            std::memmove(m_Window.data(), m_Window.data() + kWindowKeep, size_t(m_Pos - kWindowKeep));
            m_Pos -= kWindowKeep;
        }
        return true;
    }

    bool Stored()
    {
        Drop(m_BitCount % 8);
        const quint32 len = Bits(16);
        Bits(16); // the complement is not checked
        for (quint32 i = 0; i < len; ++i) {
            const quint8 b = quint8(Bits(8));
            if (Overrun() || !Put(b))
                return false;
        }
        return !Overrun();
    }

    // The next symbol of Tree with its extra bits; -1 for a code the tree does not hold.
    int Decode(const THuffmanTree &Tree, quint32 &Extra)
    {
        const int longest = Tree.Longest();
        if (longest == 0)
            return -1;
        const quint32 entry = Tree.Entry(Peek(longest));
        const int length = int((entry >> 16) & 0xFF);
        if (entry == 0xFFFFFFFFu || length == 0 || length > longest)
            return -1;
        Drop(length);
        Extra = Bits(int(entry >> 24));
        if (Overrun())
            return -1;
        return int(entry & 0xFFFF);
    }

    bool Codes(const THuffmanTree &Literals, const THuffmanTree &Distances)
    {
        for (;;) {
            quint32 extra = 0;
            const int sym = Decode(Literals, extra);
            if (sym < 0)
                return false;
            if (sym < 256) {
                if (!Put(quint8(sym)))
                    return false;
                continue;
            }
            if (sym == 256)
                return true;
            if (sym > 285)
                return false;
            const int length = (sym == 285) ? 258 : kLengthBase[sym - 257] + int(extra);
            const int dsym = Decode(Distances, extra);
            if (dsym < 0 || dsym > 29)
                return false;
            const qint64 distance = kDistanceBase[dsym] + qint64(extra);
            // A distance before the start of the output has nothing to copy.
            if (distance > m_Total || distance > m_Pos)
                return false;
            for (int i = 0; i < length; ++i)
                if (!Put(m_Window[size_t(m_Pos - distance)]))
                    return false;
        }
    }

    bool Dynamic()
    {
        const int hlit = int(Bits(5)) + 257;
        const int hdist = int(Bits(5)) + 1;
        const int hclen = int(Bits(4)) + 4;
        if (hlit > 286 || hdist > 30)
            return false;
        std::vector<quint8> clen(19, 0);
        for (int i = 0; i < hclen; ++i)
            clen[kCodeLengthOrder[i]] = quint8(Bits(3));
        THuffmanTree lengthTree;
        if (Overrun() || !lengthTree.Build(clen, 19, nullptr, 0))
            return false;
        std::vector<quint8> lengths;
        lengths.reserve(size_t(hlit) + size_t(hdist));
        while (int(lengths.size()) < hlit + hdist) {
            quint32 unused = 0;
            const int sym = Decode(lengthTree, unused);
            if (sym < 0)
                return false;
            if (sym < 16) {
                lengths.push_back(quint8(sym));
                continue;
            }
            int repeat = 0;
            quint8 value = 0;
            if (sym == 16) {
                if (lengths.empty())
                    return false;
                value = lengths.back();
                repeat = 3 + int(Bits(2));
            } else if (sym == 17) {
                repeat = 3 + int(Bits(3));
            } else {
                repeat = 11 + int(Bits(7));
            }
            if (Overrun() || int(lengths.size()) + repeat > hlit + hdist)
                return false;
            lengths.insert(lengths.end(), size_t(repeat), value);
        }
        const std::vector<quint8> lit(lengths.begin(), lengths.begin() + hlit);
        const std::vector<quint8> dist(lengths.begin() + hlit, lengths.end());
        THuffmanTree literals, distances;
        if (!literals.Build(lit, 257, kLengthExtra, 31) || !distances.Build(dist, 0, kDistanceExtra, 32))
            return false;
        return Codes(literals, distances);
    }

    QIODevice &m_Source;
    QIODevice &m_Sink;
    qint64 m_MaxOutput;
    std::vector<quint8> m_Input;
    qint64 m_InPos = 0;
    qint64 m_InLen = 0;
    bool m_Eof = false;
    quint64 m_Acc = 0;
    int m_BitCount = 0;
    quint64 m_RealBits = 0;
    quint64 m_UsedBits = 0;
    std::vector<quint8> m_Window;
    int m_Pos = 0;
    qint64 m_Total = 0;
};

struct TCentralEntry
{
    quint16 Flags = 0;
    quint32 UncompressedSize = 0;
    quint32 LocalOffset = 0;
};

// Finds the entry in the archive's central directory. False for anything that is not a skin
// archive or does not hold the entry.
bool FindEntry(QFile &Archive, const QString &EntryName, TCentralEntry &Entry)
{
    const qint64 size = Archive.size();
    if (size < 4 + kEndRecordSize)
        return false;
    uchar head[4];
    if (!Archive.seek(0) || !ReadExact(Archive, head, 4) || Le16(head) != kSkinSignature)
        return false;
    uchar end[kEndRecordSize];
    const qint64 endPos = size - kEndRecordSize;
    if (!Archive.seek(endPos) || !ReadExact(Archive, end, kEndRecordSize))
        return false;
    if (Le32(end) != kEndRecordSignature || Le16(end + 20) != 0)
        return false;
    qint64 pos = Le32(end + 16);
    const QByteArray wanted = EntryName.toLatin1().toUpper();
    while (pos < endPos) {
        uchar h[kCentralHeaderSize];
        if (!Archive.seek(pos) || !ReadExact(Archive, h, kCentralHeaderSize))
            return false;
        const int nameLength = Le16(h + 28);
        if (nameLength > kMaxEntryNameLength)
            return false;
        QByteArray name(nameLength, '\0');
        if (nameLength > 0 && !ReadExact(Archive, name.data(), nameLength))
            return false;
        // The name ends at its first NUL, as in the fixed buffer it is read into.
        const qsizetype nul = name.indexOf('\0');
        if (nul >= 0)
            name.truncate(nul);
        if (name.toUpper() == wanted) {
            Entry.Flags = Le16(h + 8);
            Entry.UncompressedSize = Le32(h + 24);
            Entry.LocalOffset = Le32(h + 42);
            return true;
        }
        pos += kCentralHeaderSize + nameLength + Le16(h + 30) + Le16(h + 32);
    }
    return false;
}

// Positions the archive at the entry's data; flags, CRC and time from its local header.
bool OpenEntryData(QFile &Archive, const TCentralEntry &Entry, quint16 &Flags, quint32 &Crc, quint16 &Time)
{
    uchar h[kLocalHeaderSize];
    if (!Archive.seek(Entry.LocalOffset) || !ReadExact(Archive, h, kLocalHeaderSize))
        return false;
    Flags = Entry.Flags;
    Time = Le16(h + 10);
    Crc = Le32(h + 14);
    return Archive.seek(qint64(Entry.LocalOffset) + kLocalHeaderSize + Le16(h + 26) + Le16(h + 28));
}

} // namespace

// ---- THuffmanTree ----

bool THuffmanTree::Build(const std::vector<quint8> &Lengths, int FirstExtraSymbol, const quint8 *ExtraBits,
                         int ExtraCount)
{
    m_Table.clear();
    m_Longest = 0;
    int count[kMaxCodeLength + 1] = {};
    for (quint8 len : Lengths) {
        if (len > kMaxCodeLength)
            return false;
        ++count[len];
        m_Longest = qMax(m_Longest, int(len));
    }
    m_Table.assign(size_t(1) << m_Longest, 0xFFFFFFFFu);
    if (m_Longest == 0)
        return true; // no codes: any decode through this table fails
    count[0] = 0;
    quint32 next[kMaxCodeLength + 2] = {};
    quint32 code = 0;
    for (int bits = 1; bits <= kMaxCodeLength; ++bits) {
        code = (code + quint32(count[bits - 1])) << 1;
        next[bits] = code;
    }
    for (size_t sym = 0; sym < Lengths.size(); ++sym) {
        const int len = Lengths[sym];
        if (len == 0)
            continue;
        const quint32 c = next[len]++;
        if (c >= (quint32(1) << len))
            return false; // more codes of this length than it can hold
        quint32 reversed = 0;
        for (int i = 0; i < len; ++i)
            reversed |= ((c >> i) & 1) << (len - 1 - i);
        quint32 extra = 0;
        const int e = int(sym) - FirstExtraSymbol;
        if (ExtraBits && e >= 0 && e < ExtraCount)
            extra = ExtraBits[e];
        const quint32 entry = quint32(sym) | (quint32(len) << 16) | (extra << 24);
        for (size_t i = reversed; i < m_Table.size(); i += size_t(1) << len)
            m_Table[i] = entry;
    }
    return true;
}

bool InflateRaw(QIODevice &Source, QIODevice &Sink, qint64 MaxOutput)
{
    TInflater inflater(Source, Sink, MaxOutput);
    return inflater.Run();
}

TSkinExtractResult ExtractSkinEntry(const QString &ArchiveName, const QString &EntryName, const QString &OutputName,
                                    const QString &Password)
{
    // Opened once, as a regular file and without waiting; everything is read from that descriptor.
    platform::files::RegularFileReader source;
    if (source.Open(ArchiveName) != platform::files::RegularFileReader::OpenResult::Opened)
        return serNotExtracted;
    QFile archive;
    if (!archive.open(source.Handle(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return serNotExtracted;
    TCentralEntry entry;
    if (!FindEntry(archive, EntryName, entry))
        return serNotExtracted;

    QFile output(OutputName);
    if (!output.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return serNotExtracted;
    auto fail = [&](TSkinExtractResult Result) {
        output.close();
        QFile::remove(OutputName);
        return Result;
    };
    if (qint64(entry.UncompressedSize) > kMaxEntrySize)
        return fail(serRefused);

    quint16 flags = 0, time = 0;
    quint32 crc = 0;
    if (!OpenEntryData(archive, entry, flags, crc, time))
        return fail(serNotExtracted);

    // One byte beyond the declared size is enough to see that the size is wrong.
    const qint64 limit = qint64(entry.UncompressedSize) + 1;
    bool normalEnd = false;
    if (!(flags & 1)) {
        normalEnd = InflateRaw(archive, output, limit);
    } else {
        if (Password.isEmpty())
            return fail(serRefused);
        TZipKeys keys;
        for (QChar ch : Password)
            keys.Update(quint8(ch.unicode() & 0xFF));
        uchar header[12];
        if (!ReadExact(archive, header, 12))
            return fail(serRefused);
        quint8 last = 0;
        for (uchar b : header)
            last = keys.Decrypt(b);
        const quint8 check = (flags & 8) ? quint8(time >> 8) : quint8(crc >> 24);
        if (last != check)
            return fail(serRefused);
        TDecipherDevice plain(archive, keys);
        plain.open(QIODevice::ReadOnly);
        normalEnd = InflateRaw(plain, output, limit);
    }
    output.close();
    const qint64 written = QFileInfo(OutputName).size();
    TSkinExtractResult result;
    if (normalEnd && written == 0)
        result = serNotExtracted;
    else if (written != qint64(entry.UncompressedSize))
        result = serRefused;
    else
        result = normalEnd ? serExtracted : serNotExtracted;
    if (result != serExtracted)
        QFile::remove(OutputName);
    return result;
}

// ---- Tsk2SkinFileReader ----

namespace {

constexpr int kRecordSize = 77;
constexpr int kRecordNameSize = 64;

// Checks the bitmap-file header before decoding, so that a hostile size never reaches the
// decoder's allocation.
bool PlausibleBitmap(const QByteArray &Data)
{
    if (Data.size() < 26 || Data[0] != 'B' || Data[1] != 'M')
        return false;
    const auto *p = reinterpret_cast<const uchar *>(Data.constData());
    const quint32 infoSize = Le32(p + 14);
    qint64 w = 0, h = 0;
    if (infoSize == 12) {
        w = Le16(p + 18);
        h = Le16(p + 20);
    } else {
        if (Data.size() < 26 || infoSize < 16)
            return false;
        w = qint32(Le32(p + 18));
        h = qint32(Le32(p + 22));
    }
    w = qAbs(w);
    h = qAbs(h);
    return w > 0 && h > 0 && w <= kMaxBitmapSide && h <= kMaxBitmapSide && w * h <= kMaxBitmapPixels;
}

} // namespace

Tsk2SkinFileReader::Tsk2SkinFileReader(const QString &FileName, const QString &Password)
{
    Load(FileName, Password);
}

void Tsk2SkinFileReader::Load(const QString &FileName, const QString &Password)
{
    m_Ready = false;
    QString temp = QDir::tempPath();
    if (!temp.endsWith(QLatin1Char('/')))
        temp += QLatin1Char('/');
    temp += QUuid::createUuid().toString();
    const TSkinExtractResult r = ExtractSkinEntry(FileName, QStringLiteral("SKINDATA.SK2"), temp, Password);
    if (r == serRefused)
        return;
    if (r != serExtracted)
        throw ESkinFileError("Failed to read skin file!");
    bool ok = false;
    {
        QFile file(temp);
        if (file.open(QIODevice::ReadOnly))
            ok = ParseTable(file);
    }
    QFile::remove(temp);
    if (!ok) {
        m_BitmapNames.clear();
        m_Bitmaps.clear();
        m_Integers.clear();
        m_Booleans.clear();
        m_Strings.clear();
        throw ESkinFileError("Failed to read skin file!");
    }
    m_Ready = true;
}

bool Tsk2SkinFileReader::ParseTable(QIODevice &File)
{
    const qint64 size = File.size();
    uchar header[16];
    if (!ReadExact(File, header, 16))
        return false;
    const qint64 second = Le32(header + 12);
    if (second < 24 || 16 + second > size)
        return false;
    uchar firstOffset[4];
    if (!File.seek(16 + 20) || !ReadExact(File, firstOffset, 4))
        return false;
    qint64 pos = Le32(firstOffset);
    // A chain that comes back to a record it has read would never end.
    QSet<qint64> visited;
    for (;;) {
        if (visited.contains(pos))
            return false;
        visited.insert(pos);
        uchar rec[kRecordSize];
        if (!File.seek(pos) || !ReadExact(File, rec, kRecordSize))
            return false;
        const qint64 next = Le32(rec + kRecordNameSize + 9);
        if (next == 0)
            return true;
        const char *raw = reinterpret_cast<const char *>(rec);
        const QString name = QString::fromLatin1(raw, qsizetype(qstrnlen(raw, kRecordNameSize)));
        const int type = rec[kRecordNameSize];
        const qint64 dataOffset = Le32(rec + kRecordNameSize + 1);
        const qint64 dataSize = Le32(rec + kRecordNameSize + 5);
        if (!File.seek(dataOffset))
            return false;
        switch (type) {
        case 0: {
            if (dataSize > size - dataOffset)
                return false;
            const QByteArray data = File.read(dataSize);
            if (data.size() != dataSize || !PlausibleBitmap(data))
                return false;
            QImage img = QImage::fromData(data, "BMP");
            if (img.isNull())
                return false;
            m_BitmapNames.append(name);
            if (!m_Bitmaps.contains(name.toUpper()))
                m_Bitmaps.insert(name.toUpper(), img);
            break;
        }
        case 1: {
            uchar v[4];
            if (!ReadExact(File, v, 4))
                return false;
            m_Integers.append(name + QLatin1Char('=') + QString::number(qint32(Le32(v))));
            break;
        }
        case 2: {
            uchar v = 0;
            if (!ReadExact(File, &v, 1))
                return false;
            m_Booleans.append(name + QLatin1Char('=') + QString::number(v));
            break;
        }
        case 3: {
            if (dataSize > size - dataOffset)
                return false;
            const QByteArray text = File.read(dataSize);
            if (text.size() != dataSize)
                return false;
            m_Strings.append(name + QLatin1Char('=') + QString::fromLatin1(text));
            break;
        }
        default:
            break; // a kind this reader does not know carries nothing it uses
        }
        pos = next;
    }
}

QString Tsk2SkinFileReader::ValueOf(const QStringList &List, const QString &Name, bool &Found)
{
    for (const QString &line : List) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq >= 0 && QStringView(line).left(eq).compare(Name, Qt::CaseInsensitive) == 0) {
            Found = true;
            return line.mid(eq + 1);
        }
    }
    Found = false;
    return {};
}

const QImage *Tsk2SkinFileReader::GetBitmap(const QString &Name) const
{
    auto it = m_Bitmaps.constFind(Name.toUpper());
    return it == m_Bitmaps.constEnd() ? nullptr : &it.value();
}

qint32 Tsk2SkinFileReader::GetInteger(const QString &Name) const
{
    bool found = false;
    const QString v = ValueOf(m_Integers, Name, found);
    bool ok = false;
    const int n = v.toInt(&ok);
    return (found && ok) ? n : -1;
}

quint8 Tsk2SkinFileReader::GetBool(const QString &Name) const
{
    bool found = false;
    const QString v = ValueOf(m_Booleans, Name, found);
    bool ok = false;
    const int n = v.toInt(&ok);
    return (found && ok) ? quint8(n) : 0;
}

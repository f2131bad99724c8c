#pragma once

// Writes skin files for the tests: the table entry, its deflated data, the traditional ZIP
// encryption and the archive around it. Header-only: the form tests use it too.

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QString>

#include <vector>

#include <zlib.h>

namespace skintest {

struct Record
{
    QByteArray Name;
    int Type; // 0 bitmap, 1 integer, 2 Boolean, 3 text
    QByteArray Data;
};

struct ArchiveOptions
{
    QByteArray EntryName = "SKINDATA.SK2";
    QByteArray Password;      // empty: not enciphered
    bool CheckByTime = false; // flag bit 3: the header's check byte is the time's top byte
    QByteArray Signature = "SK";
    QByteArray Comment;                   // an archive comment (not allowed in skin files)
    qint64 DeclaredSize = -1;             // the uncompressed size recorded; -1: the real one
    std::vector<QByteArray> OtherEntries; // names of other entries listed first
};

// Little-endian fields, the CRC step and the traditional ZIP cipher's keys.
inline void Put16(QByteArray &B, quint32 V)
{
    B.append(char(V & 0xFF));
    B.append(char((V >> 8) & 0xFF));
}

inline void Put32(QByteArray &B, quint32 V)
{
    Put16(B, V & 0xFFFF);
    Put16(B, V >> 16);
}

inline QByteArray Le32(qint32 V)
{
    QByteArray b;
    Put32(b, quint32(V));
    return b;
}

inline quint32 Crc(quint32 C, quint8 B)
{
    C ^= B;
    for (int k = 0; k < 8; ++k)
        C = (C & 1) ? 0xEDB88320u ^ (C >> 1) : C >> 1;
    return C;
}

struct Keys
{
    quint32 K0 = 0x12345678, K1 = 0x23456789, K2 = 0x34567890;
    void Update(quint8 P)
    {
        K0 = Crc(K0, P);
        K1 = (K1 + (K0 & 0xFF)) * 0x08088405u + 1;
        K2 = Crc(K2, quint8(K1 >> 24));
    }
    quint8 Encrypt(quint8 P)
    {
        const quint32 t = (K2 & 0xFFFF) | 2;
        const quint8 c = P ^ quint8(((t * (t ^ 1)) >> 8) & 0xFF);
        Update(P);
        return c;
    }
};

inline Record BitmapRecord(const QByteArray &Name, const QImage &Image)
{
    QByteArray data;
    QBuffer buf(&data);
    buf.open(QIODevice::WriteOnly);
    Image.convertToFormat(QImage::Format_RGB32).save(&buf, "BMP");
    return {Name, 0, data};
}

inline Record IntegerRecord(const QByteArray &Name, qint32 Value)
{
    return {Name, 1, Le32(Value)};
}

inline Record BoolRecord(const QByteArray &Name, bool Value)
{
    return {Name, 2, QByteArray(1, Value ? '\1' : '\0')};
}

inline Record TextRecord(const QByteArray &Name, const QByteArray &Text)
{
    return {Name, 3, Text};
}

// The table: header, second header, records chained in order, closing record.
inline QByteArray BuildTable(const std::vector<Record> &Records)
{
    const int secondSize = 32;
    const quint32 firstRecord = 16 + secondSize;
    const quint32 dataStart = firstRecord + 77 * quint32(Records.size() + 1);
    QByteArray out;
    out.append("SK2TABLE", 8);
    Put32(out, 1);
    Put32(out, secondSize);
    QByteArray second(secondSize, '\0');
    second.replace(20, 4, Le32(qint32(firstRecord)));
    out += second;
    quint32 dataPos = dataStart;
    QByteArray data;
    for (size_t i = 0; i < Records.size(); ++i) {
        const Record &r = Records[i];
        QByteArray name = r.Name.left(63);
        name.append(QByteArray(64 - name.size(), '\0'));
        out += name;
        out.append(char(r.Type));
        Put32(out, dataPos);
        Put32(out, quint32(r.Data.size()));
        Put32(out, firstRecord + 77 * quint32(i + 1));
        data += r.Data;
        dataPos += quint32(r.Data.size());
    }
    out += QByteArray(77, '\0'); // the closing record: next offset 0
    out += data;
    return out;
}

// Raw deflate; Strategy as zlib's (Z_DEFAULT_STRATEGY, Z_FIXED …), Level 0 gives stored blocks.
inline QByteArray Deflate(const QByteArray &Data, int Level = 6, int Strategy = 0)
{
    z_stream s{};
    deflateInit2(&s, Level, Z_DEFLATED, -15, 8, Strategy);
    QByteArray out(int(deflateBound(&s, uLong(Data.size()))) + 64, '\0');
    s.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(Data.constData()));
    s.avail_in = uInt(Data.size());
    s.next_out = reinterpret_cast<Bytef *>(out.data());
    s.avail_out = uInt(out.size());
    deflate(&s, Z_FINISH);
    out.resize(qsizetype(s.total_out));
    deflateEnd(&s);
    return out;
}

// The archive around already compressed data.
inline QByteArray BuildArchiveRaw(const QByteArray &Compressed, quint32 UncompressedSize,
                                  const ArchiveOptions &Options = {})
{
    const quint32 crc = quint32(crc32(0, nullptr, 0)) ^ 0xA5C3E1u; // only its top byte is checked
    const quint16 time = 0x7A21;
    quint16 flags = 0;
    QByteArray payload = Compressed;
    if (!Options.Password.isEmpty()) {
        flags |= 1;
        if (Options.CheckByTime)
            flags |= 8;
        Keys k;
        for (char c : Options.Password)
            k.Update(quint8(c));
        QByteArray header;
        for (int i = 0; i < 11; ++i)
            header.append(char(k.Encrypt(quint8(0x31 * i + 7))));
        header.append(char(k.Encrypt(Options.CheckByTime ? quint8(time >> 8) : quint8(crc >> 24))));
        QByteArray body;
        for (char c : Compressed)
            body.append(char(k.Encrypt(quint8(c))));
        payload = header + body;
    }
    const quint32 declared = Options.DeclaredSize >= 0 ? quint32(Options.DeclaredSize) : UncompressedSize;

    QByteArray out;
    struct Entry
    {
        QByteArray Name;
        quint32 Offset;
        bool Real;
    };
    std::vector<Entry> entries;
    auto local = [&](const QByteArray &Name, const QByteArray &Data, bool Real) {
        entries.push_back({Name, quint32(out.size()), Real});
        out.append(Options.Signature.left(2));
        Put16(out, 0x0403);
        Put16(out, 20);
        Put16(out, Real ? flags : 0);
        Put16(out, 8);
        Put16(out, time);
        Put16(out, 0x5A21);
        Put32(out, Real ? crc : 0);
        Put32(out, quint32(Data.size()));
        Put32(out, Real ? declared : 0);
        Put16(out, quint32(Name.size()));
        Put16(out, 0);
        out += Name;
        out += Data;
    };
    for (const QByteArray &other : Options.OtherEntries)
        local(other, Deflate(QByteArray()), false);
    local(Options.EntryName, payload, true);
    const quint32 cdOffset = quint32(out.size());
    for (const Entry &e : entries) {
        Put32(out, 0x02014B50);
        Put16(out, 20);
        Put16(out, 20);
        Put16(out, e.Real ? flags : 0);
        Put16(out, 8);
        Put16(out, time);
        Put16(out, 0x5A21);
        Put32(out, e.Real ? crc : 0);
        Put32(out, e.Real ? quint32(payload.size()) : 2);
        Put32(out, e.Real ? declared : 0);
        Put16(out, quint32(e.Name.size()));
        Put16(out, 0);
        Put16(out, 0);
        Put16(out, 0);
        Put16(out, 0);
        Put32(out, 0);
        Put32(out, e.Offset);
        out += e.Name;
    }
    const quint32 cdSize = quint32(out.size()) - cdOffset;
    Put32(out, 0x06054B50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, quint32(entries.size()));
    Put16(out, quint32(entries.size()));
    Put32(out, cdSize);
    Put32(out, cdOffset);
    Put16(out, quint32(Options.Comment.size()));
    out += Options.Comment;
    return out;
}

inline QByteArray BuildArchive(const QByteArray &Table, const ArchiveOptions &Options = {})
{
    return BuildArchiveRaw(Deflate(Table), quint32(Table.size()), Options);
}

inline bool WriteFile(const QString &Path, const QByteArray &Data)
{
    QFile f(Path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(Data) == Data.size();
}

} // namespace skintest

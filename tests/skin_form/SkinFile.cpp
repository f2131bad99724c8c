#include "SkinFile.h"

#include <QBuffer>
#include <QFile>

#include <zlib.h>

namespace sftest {

namespace {

void Put16(QByteArray &B, quint32 V)
{
    B.append(char(V & 0xFF));
    B.append(char((V >> 8) & 0xFF));
}

void Put32(QByteArray &B, quint32 V)
{
    Put16(B, V & 0xFFFF);
    Put16(B, V >> 16);
}

QByteArray RawDeflate(const QByteArray &Data)
{
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(Data.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(Data.constData()));
    z.avail_in = uInt(Data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(int(z.total_out));
    deflateEnd(&z);
    return out;
}

QByteArray Table(const std::vector<SkinValue> &Values)
{
    QByteArray t(16, '\0');
    const int secondSize = 24;
    t[12] = char(secondSize);
    QByteArray second(secondSize, '\0');
    const quint32 first = 16 + secondSize;
    second[20] = char(first & 0xFF);
    second[21] = char((first >> 8) & 0xFF);
    t += second;
    // Records first, one after the other, then the data.
    const quint32 recordsEnd = first + quint32(Values.size() + 1) * 77;
    quint32 dataPos = recordsEnd;
    QByteArray data;
    for (size_t i = 0; i <= Values.size(); ++i) {
        QByteArray rec(64, '\0');
        if (i == Values.size()) {
            rec.append(char(0));
            Put32(rec, 0);
            Put32(rec, 0);
            Put32(rec, 0);
        } else {
            const SkinValue &v = Values[i];
            rec.replace(0, int(v.Name.size()), v.Name);
            rec.append(char(v.Type));
            Put32(rec, dataPos);
            Put32(rec, quint32(v.Data.size()));
            Put32(rec, first + quint32(i + 1) * 77);
            data += v.Data;
            dataPos += quint32(v.Data.size());
        }
        t += rec;
    }
    return t + data;
}

} // namespace

SkinValue SkinBitmap(const QByteArray &Name, const QImage &Image)
{
    QByteArray bmp;
    QBuffer buf(&bmp);
    buf.open(QIODevice::WriteOnly);
    Image.convertToFormat(QImage::Format_RGB888).save(&buf, "BMP");
    return {Name, 0, bmp};
}

SkinValue SkinInteger(const QByteArray &Name, qint32 Value)
{
    QByteArray d;
    Put32(d, quint32(Value));
    return {Name, 1, d};
}

SkinValue SkinBool(const QByteArray &Name, bool Value)
{
    return {Name, 2, QByteArray(1, Value ? '\1' : '\0')};
}

bool WriteSkinFile(const QString &Path, const std::vector<SkinValue> &Values)
{
    const QByteArray table = Table(Values);
    const QByteArray packed = RawDeflate(table);
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(table.constData()), uInt(table.size())));
    const QByteArray name("SKINDATA.SK2");

    QByteArray a("SK");
    Put16(a, 0x0403);
    Put16(a, 20);
    Put16(a, 0);
    Put16(a, 8);
    Put16(a, 0);
    Put16(a, 0);
    Put32(a, crc);
    Put32(a, quint32(packed.size()));
    Put32(a, quint32(table.size()));
    Put16(a, quint32(name.size()));
    Put16(a, 0);
    a += name;
    a += packed;

    const quint32 cdOffset = quint32(a.size());
    QByteArray cd;
    Put32(cd, 0x02014B50);
    Put16(cd, 20);
    Put16(cd, 20);
    Put16(cd, 0);
    Put16(cd, 8);
    Put16(cd, 0);
    Put16(cd, 0);
    Put32(cd, crc);
    Put32(cd, quint32(packed.size()));
    Put32(cd, quint32(table.size()));
    Put16(cd, quint32(name.size()));
    Put16(cd, 0);
    Put16(cd, 0);
    Put16(cd, 0);
    Put16(cd, 0);
    Put32(cd, 0);
    Put32(cd, 0);
    cd += name;
    a += cd;

    Put32(a, 0x06054B50);
    Put16(a, 0);
    Put16(a, 0);
    Put16(a, 1);
    Put16(a, 1);
    Put32(a, quint32(cd.size()));
    Put32(a, cdOffset);
    Put16(a, 0);

    QFile f(Path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(a) == a.size();
}

} // namespace sftest

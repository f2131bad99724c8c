#pragma once

// Writes skin files for the tests: the table entry, its deflated data, the traditional ZIP
// encryption and the archive around it.

#include <QByteArray>
#include <QImage>
#include <QString>

#include <vector>

namespace skintest {

struct Record
{
    QByteArray Name;
    int Type; // 0 bitmap, 1 integer, 2 Boolean, 3 text
    QByteArray Data;
};

Record BitmapRecord(const QByteArray &Name, const QImage &Image);
Record IntegerRecord(const QByteArray &Name, qint32 Value);
Record BoolRecord(const QByteArray &Name, bool Value);
Record TextRecord(const QByteArray &Name, const QByteArray &Text);

// The table: header, second header, records chained in order, closing record.
QByteArray BuildTable(const std::vector<Record> &Records);

// Raw deflate; Strategy as zlib's (Z_DEFAULT_STRATEGY, Z_FIXED …), Level 0 gives stored blocks.
QByteArray Deflate(const QByteArray &Data, int Level = 6, int Strategy = 0);

struct ArchiveOptions
{
    QByteArray EntryName = "SKINDATA.SK2";
    QByteArray Password;            // empty: not enciphered
    bool CheckByTime = false;       // flag bit 3: the header's check byte is the time's top byte
    QByteArray Signature = "SK";
    QByteArray Comment;             // an archive comment (not allowed in skin files)
    qint64 DeclaredSize = -1;       // the uncompressed size recorded; -1: the real one
    std::vector<QByteArray> OtherEntries; // names of other entries listed first
};

QByteArray BuildArchive(const QByteArray &Table, const ArchiveOptions &Options = {});
// The archive around already compressed data.
QByteArray BuildArchiveRaw(const QByteArray &Compressed, quint32 UncompressedSize, const ArchiveOptions &Options = {});

bool WriteFile(const QString &Path, const QByteArray &Data);

} // namespace skintest

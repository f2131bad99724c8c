#pragma once

// Lays down a new, empty database file: fixed areas, table directory and table headers.
// Records are then added through the engine's own append path.

#include "dictdb/DictDBTypes.h"
#include "dataaccess/Streams.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

struct TDictDBFieldLayout
{
    QString Name;
    TFieldType FieldType = ftUnknown;
    qint32 Size = 0;   // characters of a string field
    quint8 DPMode = 0; // 0: takes part in compression and encryption
};

struct TDictDBIndexLayout
{
    QString Name;
    TTDIndexOptions Options;
    QStringList Fields; // key fields by name, most significant first
};

struct TDictDBTableLayout
{
    QString Name;
    QList<TDictDBFieldLayout> Fields;
    QList<TDictDBIndexLayout> Indexes;
};

struct TDictDBFileLayout
{
    QList<TDictDBTableLayout> Tables;
    bool Compress = false;
    QString CompressAlgo = QStringLiteral("ZLIB");
    bool Encrypt = false;
    QString EncryptAlgo = QStringLiteral("Blowfish");
    quint8 EncryptMode = 0;
    QString Password; // its check text is stored when Encrypt is set
    bool VerifyWrites = false;
};

// The file's bytes. Refuses (database error) a definition beyond the format's limits.
QByteArray BuildDictDBImage(const TDictDBFileLayout &Layout);
// Creates (or replaces) a database file.
void CreateDictDBFile(const QString &FileName, const TDictDBFileLayout &Layout);
// Writes the image into a stream from its start (for memory databases).
void CreateDictDBStream(TStream *Stream, const TDictDBFileLayout &Layout);

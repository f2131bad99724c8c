#pragma once

// Reader of skin files: an archive in the ZIP layout starting with "SK" whose entry
// "SKINDATA.SK2" (deflated, optionally enciphered with the traditional ZIP encryption) holds a
// table of named bitmaps, integers, Booleans and strings.

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <stdexcept>
#include <vector>

class QIODevice;

// Raised by the reader's constructor when the file holds no readable skin table.
class ESkinFileError : public std::runtime_error
{
public:
    explicit ESkinFileError(const char *Message) : std::runtime_error(Message) {}
};

// Decoding table of one Huffman code: 2^longest packed entries (symbol in bits 0-15, code length
// in bits 16-23, extra bits in 24-31).
class THuffmanTree
{
public:
    static constexpr int kMaxCodeLength = 15;

    // Builds the table from the code lengths of symbols 0..Lengths.size()-1; symbols from
    // FirstExtraSymbol on carry ExtraBits[symbol - FirstExtraSymbol] extra bits. False when the
    // lengths give no code or exceed the maximum.
    bool Build(const std::vector<quint8> &Lengths, int FirstExtraSymbol, const quint8 *ExtraBits, int ExtraCount);

    int Longest() const { return m_Longest; }
    quint32 Entry(quint32 Index) const { return m_Table[Index]; }
    int EntryCount() const { return int(m_Table.size()); }

private:
    std::vector<quint32> m_Table;
    int m_Longest = 0;
};

// Results of extracting an entry.
enum TSkinExtractResult : int {
    serExtracted = 0,
    serNotExtracted = 1, // missing file, not a skin archive, no end record, entry absent, nothing written
    serRefused = 2,      // enciphered without the right password, or the output's size is wrong
};

// Extracts EntryName of the skin archive ArchiveName into OutputName; any result other than
// serExtracted deletes the output file.
TSkinExtractResult ExtractSkinEntry(const QString &ArchiveName, const QString &EntryName, const QString &OutputName,
                                    const QString &Password);

// Inflates a raw deflate stream from Source into Sink. Answers whether the final block was
// reached; a damaged stream stops early. Output beyond MaxOutput stops it too.
bool InflateRaw(QIODevice &Source, QIODevice &Sink, qint64 MaxOutput);

class Tsk2SkinFileReader
{
public:
    // Loads the table of FileName's "SKINDATA.SK2" entry. Throws ESkinFileError
    // ("Failed to read skin file!") when the entry cannot be extracted; a wrong or missing
    // password or a damaged entry gives an empty reader that is not ready.
    Tsk2SkinFileReader(const QString &FileName, const QString &Password);
    ~Tsk2SkinFileReader() = default;
    Tsk2SkinFileReader(const Tsk2SkinFileReader &) = delete;
    Tsk2SkinFileReader &operator=(const Tsk2SkinFileReader &) = delete;

    bool Ready() const { return m_Ready; }

    // The bitmap of that name (case-insensitive); nil when absent.
    const QImage *GetBitmap(const QString &Name) const;
    // Colours and integers; -1 when absent or not a number.
    qint32 GetInteger(const QString &Name) const;
    // 0 when absent or not a number.
    quint8 GetBool(const QString &Name) const;

    // The four lists, "name=value" lines as loaded (bitmaps: names only).
    const QStringList &BitmapNames() const { return m_BitmapNames; }
    const QStringList &IntegerList() const { return m_Integers; }
    const QStringList &BooleanList() const { return m_Booleans; }
    const QStringList &StringList() const { return m_Strings; }

private:
    void Load(const QString &FileName, const QString &Password);
    bool ParseTable(QIODevice &File);
    static QString ValueOf(const QStringList &List, const QString &Name, bool &Found);

    QStringList m_BitmapNames;
    QHash<QString, QImage> m_Bitmaps; // by upper-cased name
    QStringList m_Integers;
    QStringList m_Booleans;
    QStringList m_Strings;
    bool m_Ready = false;
};

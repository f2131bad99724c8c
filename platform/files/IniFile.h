#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace platform::files {

// An INI text in the classic "[Section]" / "Key=Value" layout, kept line by line so that
// comments, blank lines and entries nobody touched are written back as they were.
// Section and key names compare without regard to letter case; where a name occurs twice
// the first occurrence counts. Values are trimmed, and one pair of enclosing quotes ("" or '')
// is removed on reading. Text is UTF-8 (a leading byte-order mark is skipped); lines end
// with "\n" or "\r\n".
// A line that is no UTF-8 text or holds a NUL character cannot be read: it is no key, a section
// header among such lines opens a section nobody can name (its keys belong to no section), and
// the line is written back byte for byte, so that one damaged entry never costs the others.
class IniFile
{
public:
    // Files larger than this are refused by Load.
    static constexpr qint64 kMaxFileSize = qint64{16} * 1024 * 1024;

    IniFile() = default;

    // Reads a file of the running user's own. A missing file gives an empty text and true; false
    // (and an empty text) when the file cannot be read, is not a regular file, is larger than
    // kMaxFileSize, is a link, or it or its folder is another user's or writable by others (see
    // OwnFolder).
    bool Load(const QString &Path);
    // Replaces the content by the text given.
    void Parse(const QByteArray &Text);
    // The whole text as it would be saved.
    QByteArray ToText() const;
    // Writes the text so that a reader sees the old or the new file, never a mix; creates a
    // missing directory. Only in a folder of the user's own (see WriteFileAtomically). False on
    // any failure (the old file stays).
    bool Save(const QString &Path) const;

    // Names of the sections / of the keys of one section, in file order, first spelling.
    QStringList SectionNames() const;
    QStringList KeyNames(const QString &Section) const;
    bool HasSection(const QString &Section) const;
    bool HasKey(const QString &Section, const QString &Key) const;

    QString Value(const QString &Section, const QString &Key, const QString &DefaultValue = QString()) const;
    // A decimal integer (optionally signed, or "0x" followed by hexadecimal digits); the
    // default for a missing key or any other text.
    int IntValue(const QString &Section, const QString &Key, int DefaultValue) const;

    // Writes one key: replaces the first line of the key in the section, else appends it to
    // the section, else appends the section at the end. Refused (false) for an empty or blank
    // section or key name, a name or value with a line break or a NUL character, a section name
    // with "]", and a key name with "=" or beginning with "[", ";" or "#". A value that would not
    // read back as written (blank at either end, enclosing quotes) is written in double quotes.
    bool SetValue(const QString &Section, const QString &Key, const QString &Value);
    bool SetIntValue(const QString &Section, const QString &Key, int Value);
    // Removes every line of the key in the section; false when there was none.
    bool RemoveKey(const QString &Section, const QString &Key);
    // Removes the section's header and its lines (up to the next section); false when absent.
    bool RemoveSection(const QString &Section);

private:
    // Damaged: a line that cannot be read (see above); DamagedSection: such a line that opens
    // a section.
    enum class Kind { Other, Section, Key, Damaged, DamagedSection };
    struct Line
    {
        IniFile::Kind Kind = IniFile::Kind::Other;
        QString Raw;      // the line as read (without its line end)
        QByteArray Bytes; // a damaged line as read
        QString Name;     // section or key name, trimmed
        QString Value;    // key value, trimmed and unquoted
    };

    // Index of the first header of the section, or -1.
    qsizetype FindSection(const QString &Section) const;
    // Index after the last line of the section starting at header index `At`.
    qsizetype SectionEnd(qsizetype At) const;
    qsizetype FindKey(qsizetype Header, const QString &Key) const;

    std::vector<Line> m_Lines;
    bool m_Crlf = false;
};

} // namespace platform::files

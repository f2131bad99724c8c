#include "platform/files/IniFile.h"

#include "platform/Logging.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/OwnFolder.h"

#include <QStringDecoder>

#include <algorithm>
#include <limits>
#include <optional>

namespace platform::files {

namespace {

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool isQuote(QChar c)
{
    return c == QLatin1Char('"') || c == QLatin1Char('\'');
}

QString unquote(const QString &v)
{
    if (v.size() >= 2 && isQuote(v.front()) && v.back() == v.front())
        return v.mid(1, v.size() - 2);
    return v;
}

bool hasLineBreak(const QString &s)
{
    return s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r'));
}

// What no line of the file can hold and read back.
bool unwritable(const QString &s)
{
    return hasLineBreak(s) || s.contains(QChar(0));
}

// The text of a line, or nothing when it is no UTF-8 text or holds a NUL character.
std::optional<QString> lineText(QByteArrayView bytes)
{
    if (bytes.contains('\0'))
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

bool isSectionStart(QByteArrayView bytes)
{
    return bytes.trimmed().startsWith('[');
}

} // namespace

bool IniFile::load(const QString &path)
{
    m_lines.clear();
    m_crlf = false;
    bool missing = false;
    const std::optional<QByteArray> data = readOwnFile(path, MaxFileSize, &missing);
    if (!data) {
        if (!missing)
            qCWarning(lcPlatform) << "reading" << path << "failed: not a file of the user's own, or too large";
        return missing;
    }
    parse(*data);
    return true;
}

void IniFile::parse(const QByteArray &text)
{
    m_lines.clear();
    QByteArrayView bytes = text;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    m_crlf = bytes.contains("\r\n");
    qsizetype at = 0;
    while (at < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', at);
        if (end < 0)
            end = bytes.size();
        QByteArrayView row = bytes.sliced(at, end - at);
        at = end + 1;
        if (row.endsWith('\r'))
            row.chop(1);
        Line line;
        const std::optional<QString> decoded = lineText(row);
        if (!decoded) {
            line.kind = isSectionStart(row) ? Kind::DamagedSection : Kind::Damaged;
            line.bytes = row.toByteArray();
            m_lines.push_back(std::move(line));
            continue;
        }
        line.raw = *decoded;
        const QString t = line.raw.trimmed();
        if (t.startsWith(QLatin1Char('['))) {
            const qsizetype close = t.indexOf(QLatin1Char(']'));
            line.kind = Kind::Section;
            line.name = (close < 0 ? t.mid(1) : t.mid(1, close - 1)).trimmed();
        } else if (!t.isEmpty() && !t.startsWith(QLatin1Char(';')) && !t.startsWith(QLatin1Char('#'))) {
            const qsizetype eq = t.indexOf(QLatin1Char('='));
            if (eq > 0) {
                line.kind = Kind::Key;
                line.name = t.left(eq).trimmed();
                line.value = unquote(t.mid(eq + 1).trimmed());
                if (line.name.isEmpty())
                    line.kind = Kind::Other;
            }
        }
        m_lines.push_back(std::move(line));
    }
}

QByteArray IniFile::toText() const
{
    const QByteArray eol = m_crlf ? QByteArray("\r\n") : QByteArray("\n");
    QByteArray out;
    for (const Line &l : m_lines) {
        out += (l.kind == Kind::Damaged || l.kind == Kind::DamagedSection) ? l.bytes : l.raw.toUtf8();
        out += eol;
    }
    return out;
}

bool IniFile::save(const QString &path) const
{
    return writeFileAtomically(path, toText());
}

qsizetype IniFile::findSection(const QString &section) const
{
    const QString s = section.trimmed();
    for (std::size_t i = 0; i < m_lines.size(); ++i)
        if (m_lines[i].kind == Kind::Section && sameName(m_lines[i].name, s))
            return qsizetype(i);
    return -1;
}

qsizetype IniFile::sectionEnd(qsizetype at) const
{
    std::size_t i = std::size_t(at) + 1;
    while (i < m_lines.size() && m_lines[i].kind != Kind::Section && m_lines[i].kind != Kind::DamagedSection)
        ++i;
    return qsizetype(i);
}

qsizetype IniFile::findKey(qsizetype header, const QString &key) const
{
    const QString k = key.trimmed();
    const qsizetype end = sectionEnd(header);
    for (qsizetype i = header + 1; i < end; ++i) {
        const Line &l = m_lines[std::size_t(i)];
        if (l.kind == Kind::Key && sameName(l.name, k))
            return i;
    }
    return -1;
}

QStringList IniFile::sectionNames() const
{
    QStringList out;
    for (const Line &l : m_lines)
        if (l.kind == Kind::Section && !out.contains(l.name, Qt::CaseInsensitive))
            out.append(l.name);
    return out;
}

QStringList IniFile::keyNames(const QString &section) const
{
    QStringList out;
    const qsizetype h = findSection(section);
    if (h < 0)
        return out;
    const qsizetype end = sectionEnd(h);
    for (qsizetype i = h + 1; i < end; ++i) {
        const Line &l = m_lines[std::size_t(i)];
        if (l.kind == Kind::Key && !out.contains(l.name, Qt::CaseInsensitive))
            out.append(l.name);
    }
    return out;
}

bool IniFile::hasSection(const QString &section) const
{
    return findSection(section) >= 0;
}

bool IniFile::hasKey(const QString &section, const QString &key) const
{
    const qsizetype h = findSection(section);
    return h >= 0 && findKey(h, key) >= 0;
}

QString IniFile::value(const QString &section, const QString &key, const QString &defaultValue) const
{
    const qsizetype h = findSection(section);
    const qsizetype k = h < 0 ? -1 : findKey(h, key);
    return k < 0 ? defaultValue : m_lines[std::size_t(k)].value;
}

int IniFile::intValue(const QString &section, const QString &key, int defaultValue) const
{
    const qsizetype h = findSection(section);
    const qsizetype k = h < 0 ? -1 : findKey(h, key);
    if (k < 0)
        return defaultValue;
    QString v = m_lines[std::size_t(k)].value.trimmed();
    bool ok = false;
    int result = 0;
    if (v.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) && v.size() > 2) {
        // Hexadecimal digits only: Qt would also take a sign or a second prefix here.
        const QString digits = v.mid(2);
        const bool allHex = std::all_of(digits.begin(), digits.end(), [](QChar c) {
            const char16_t u = c.unicode();
            return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
        });
        if (allHex)
            result = int(digits.toUInt(&ok, 16));
        if (ok && digits.toUInt(nullptr, 16) > uint(std::numeric_limits<int>::max()))
            ok = false;
    } else {
        result = v.toInt(&ok, 10);
    }
    return ok ? result : defaultValue;
}

bool IniFile::setValue(const QString &section, const QString &key, const QString &value)
{
    const QString s = section.trimmed();
    const QString k = key.trimmed();
    if (s.isEmpty() || k.isEmpty() || unwritable(section) || unwritable(key) || unwritable(value) ||
        s.contains(QLatin1Char(']')) || k.contains(QLatin1Char('=')) || k.startsWith(QLatin1Char('[')) ||
        k.startsWith(QLatin1Char(';')) || k.startsWith(QLatin1Char('#')))
        return false;
    QString written = value;
    if (value != value.trimmed() || unquote(value) != value)
        written = QLatin1Char('"') + value + QLatin1Char('"');

    qsizetype h = findSection(s);
    if (h < 0) {
        Line header;
        header.kind = Kind::Section;
        header.name = s;
        header.raw = QLatin1Char('[') + s + QLatin1Char(']');
        m_lines.push_back(std::move(header));
        h = qsizetype(m_lines.size()) - 1;
    }
    const qsizetype at = findKey(h, k);
    if (at >= 0) {
        Line &l = m_lines[std::size_t(at)];
        l.value = value;
        l.raw = l.name + QLatin1Char('=') + written;
        return true;
    }
    // After the last non-blank line of the section, so that a blank separator stays last.
    qsizetype pos = sectionEnd(h);
    while (pos > h + 1 && m_lines[std::size_t(pos - 1)].kind == Kind::Other &&
           m_lines[std::size_t(pos - 1)].raw.trimmed().isEmpty())
        --pos;
    Line line;
    line.kind = Kind::Key;
    line.name = k;
    line.value = value;
    line.raw = k + QLatin1Char('=') + written;
    m_lines.insert(m_lines.begin() + pos, std::move(line));
    return true;
}

bool IniFile::setIntValue(const QString &section, const QString &key, int value)
{
    return setValue(section, key, QString::number(value));
}

bool IniFile::removeKey(const QString &section, const QString &key)
{
    const qsizetype h = findSection(section);
    if (h < 0)
        return false;
    bool removed = false;
    for (qsizetype at = findKey(h, key); at >= 0; at = findKey(h, key)) {
        m_lines.erase(m_lines.begin() + at);
        removed = true;
    }
    return removed;
}

bool IniFile::removeSection(const QString &section)
{
    const qsizetype h = findSection(section);
    if (h < 0)
        return false;
    m_lines.erase(m_lines.begin() + h, m_lines.begin() + sectionEnd(h));
    return true;
}

} // namespace platform::files

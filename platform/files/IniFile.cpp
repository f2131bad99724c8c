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

bool SameName(const QString &A, const QString &B)
{
    return A.compare(B, Qt::CaseInsensitive) == 0;
}

bool IsQuote(QChar C)
{
    return C == QLatin1Char('"') || C == QLatin1Char('\'');
}

QString Unquote(const QString &V)
{
    if (V.size() >= 2 && IsQuote(V.front()) && V.back() == V.front())
        return V.mid(1, V.size() - 2);
    return V;
}

bool HasLineBreak(const QString &S)
{
    return S.contains(QLatin1Char('\n')) || S.contains(QLatin1Char('\r'));
}

// What no line of the file can hold and read back.
bool Unwritable(const QString &S)
{
    return HasLineBreak(S) || S.contains(QChar(0));
}

// The text of a line, or nothing when it is no UTF-8 text or holds a NUL character.
std::optional<QString> LineText(QByteArrayView Bytes)
{
    if (Bytes.contains('\0'))
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(Bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

bool IsSectionStart(QByteArrayView Bytes)
{
    return Bytes.trimmed().startsWith('[');
}

} // namespace

bool IniFile::Load(const QString &Path)
{
    m_Lines.clear();
    m_Crlf = false;
    bool missing = false;
    const std::optional<QByteArray> data = ReadOwnFile(Path, kMaxFileSize, &missing);
    if (!data) {
        if (!missing)
            qCWarning(lcPlatform) << "reading" << Path << "failed: not a file of the user's own, or too large";
        return missing;
    }
    Parse(*data);
    return true;
}

void IniFile::Parse(const QByteArray &Text)
{
    m_Lines.clear();
    QByteArrayView bytes = Text;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    m_Crlf = bytes.contains("\r\n");
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
        const std::optional<QString> decoded = LineText(row);
        if (!decoded) {
            line.Kind = IsSectionStart(row) ? Kind::DamagedSection : Kind::Damaged;
            line.Bytes = row.toByteArray();
            m_Lines.push_back(std::move(line));
            continue;
        }
        line.Raw = *decoded;
        const QString t = line.Raw.trimmed();
        if (t.startsWith(QLatin1Char('['))) {
            const qsizetype close = t.indexOf(QLatin1Char(']'));
            line.Kind = Kind::Section;
            line.Name = (close < 0 ? t.mid(1) : t.mid(1, close - 1)).trimmed();
        } else if (!t.isEmpty() && !t.startsWith(QLatin1Char(';')) && !t.startsWith(QLatin1Char('#'))) {
            const qsizetype eq = t.indexOf(QLatin1Char('='));
            if (eq > 0) {
                line.Kind = Kind::Key;
                line.Name = t.left(eq).trimmed();
                line.Value = Unquote(t.mid(eq + 1).trimmed());
                if (line.Name.isEmpty())
                    line.Kind = Kind::Other;
            }
        }
        m_Lines.push_back(std::move(line));
    }
}

QByteArray IniFile::ToText() const
{
    const QByteArray eol = m_Crlf ? QByteArray("\r\n") : QByteArray("\n");
    QByteArray out;
    for (const Line &l : m_Lines) {
        out += (l.Kind == Kind::Damaged || l.Kind == Kind::DamagedSection) ? l.Bytes : l.Raw.toUtf8();
        out += eol;
    }
    return out;
}

bool IniFile::Save(const QString &Path) const
{
    return WriteFileAtomically(Path, ToText());
}

qsizetype IniFile::FindSection(const QString &Section) const
{
    const QString s = Section.trimmed();
    for (std::size_t i = 0; i < m_Lines.size(); ++i)
        if (m_Lines[i].Kind == Kind::Section && SameName(m_Lines[i].Name, s))
            return qsizetype(i);
    return -1;
}

qsizetype IniFile::SectionEnd(qsizetype At) const
{
    std::size_t i = std::size_t(At) + 1;
    while (i < m_Lines.size() && m_Lines[i].Kind != Kind::Section && m_Lines[i].Kind != Kind::DamagedSection)
        ++i;
    return qsizetype(i);
}

qsizetype IniFile::FindKey(qsizetype Header, const QString &Key) const
{
    const QString k = Key.trimmed();
    const qsizetype end = SectionEnd(Header);
    for (qsizetype i = Header + 1; i < end; ++i) {
        const Line &l = m_Lines[std::size_t(i)];
        if (l.Kind == Kind::Key && SameName(l.Name, k))
            return i;
    }
    return -1;
}

QStringList IniFile::SectionNames() const
{
    QStringList out;
    for (const Line &l : m_Lines)
        if (l.Kind == Kind::Section && !out.contains(l.Name, Qt::CaseInsensitive))
            out.append(l.Name);
    return out;
}

QStringList IniFile::KeyNames(const QString &Section) const
{
    QStringList out;
    const qsizetype h = FindSection(Section);
    if (h < 0)
        return out;
    const qsizetype end = SectionEnd(h);
    for (qsizetype i = h + 1; i < end; ++i) {
        const Line &l = m_Lines[std::size_t(i)];
        if (l.Kind == Kind::Key && !out.contains(l.Name, Qt::CaseInsensitive))
            out.append(l.Name);
    }
    return out;
}

bool IniFile::HasSection(const QString &Section) const
{
    return FindSection(Section) >= 0;
}

bool IniFile::HasKey(const QString &Section, const QString &Key) const
{
    const qsizetype h = FindSection(Section);
    return h >= 0 && FindKey(h, Key) >= 0;
}

QString IniFile::Value(const QString &Section, const QString &Key, const QString &DefaultValue) const
{
    const qsizetype h = FindSection(Section);
    const qsizetype k = h < 0 ? -1 : FindKey(h, Key);
    return k < 0 ? DefaultValue : m_Lines[std::size_t(k)].Value;
}

int IniFile::IntValue(const QString &Section, const QString &Key, int DefaultValue) const
{
    const qsizetype h = FindSection(Section);
    const qsizetype k = h < 0 ? -1 : FindKey(h, Key);
    if (k < 0)
        return DefaultValue;
    QString v = m_Lines[std::size_t(k)].Value.trimmed();
    bool ok = false;
    int result = 0;
    if (v.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) && v.size() > 2) {
        // Hexadecimal digits only: Qt would also take a sign or a second prefix here.
        const QString digits = v.mid(2);
        const bool allHex = std::all_of(digits.begin(), digits.end(), [](QChar C) {
            const char16_t u = C.unicode();
            return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
        });
        if (allHex)
            result = int(digits.toUInt(&ok, 16));
        if (ok && digits.toUInt(nullptr, 16) > uint(std::numeric_limits<int>::max()))
            ok = false;
    } else {
        result = v.toInt(&ok, 10);
    }
    return ok ? result : DefaultValue;
}

bool IniFile::SetValue(const QString &Section, const QString &Key, const QString &Value)
{
    const QString s = Section.trimmed();
    const QString k = Key.trimmed();
    if (s.isEmpty() || k.isEmpty() || Unwritable(Section) || Unwritable(Key) || Unwritable(Value) ||
        s.contains(QLatin1Char(']')) || k.contains(QLatin1Char('=')) || k.startsWith(QLatin1Char('[')) ||
        k.startsWith(QLatin1Char(';')) || k.startsWith(QLatin1Char('#')))
        return false;
    QString written = Value;
    if (Value != Value.trimmed() || Unquote(Value) != Value)
        written = QLatin1Char('"') + Value + QLatin1Char('"');

    qsizetype h = FindSection(s);
    if (h < 0) {
        Line header;
        header.Kind = Kind::Section;
        header.Name = s;
        header.Raw = QLatin1Char('[') + s + QLatin1Char(']');
        m_Lines.push_back(std::move(header));
        h = qsizetype(m_Lines.size()) - 1;
    }
    const qsizetype at = FindKey(h, k);
    if (at >= 0) {
        Line &l = m_Lines[std::size_t(at)];
        l.Value = Value;
        l.Raw = l.Name + QLatin1Char('=') + written;
        return true;
    }
    // After the last non-blank line of the section, so that a blank separator stays last.
    qsizetype pos = SectionEnd(h);
    while (pos > h + 1 && m_Lines[std::size_t(pos - 1)].Kind == Kind::Other &&
           m_Lines[std::size_t(pos - 1)].Raw.trimmed().isEmpty())
        --pos;
    Line line;
    line.Kind = Kind::Key;
    line.Name = k;
    line.Value = Value;
    line.Raw = k + QLatin1Char('=') + written;
    m_Lines.insert(m_Lines.begin() + pos, std::move(line));
    return true;
}

bool IniFile::SetIntValue(const QString &Section, const QString &Key, int Value)
{
    return SetValue(Section, Key, QString::number(Value));
}

bool IniFile::RemoveKey(const QString &Section, const QString &Key)
{
    const qsizetype h = FindSection(Section);
    if (h < 0)
        return false;
    bool removed = false;
    for (qsizetype at = FindKey(h, Key); at >= 0; at = FindKey(h, Key)) {
        m_Lines.erase(m_Lines.begin() + at);
        removed = true;
    }
    return removed;
}

bool IniFile::RemoveSection(const QString &Section)
{
    const qsizetype h = FindSection(Section);
    if (h < 0)
        return false;
    m_Lines.erase(m_Lines.begin() + h, m_Lines.begin() + SectionEnd(h));
    return true;
}

} // namespace platform::files

#include "platform/files/DesktopEntryFile.h"

#include "platform/files/NameBytes.h"
#include "platform/files/RegularFile.h"

#include <QByteArray>
#include <QHash>

namespace platform::files {

namespace {

// The escapes of string values: \s \n \t \r \\.
QString UnescapeValue(const QString &Value)
{
    QString out;
    out.reserve(Value.size());
    for (qsizetype i = 0; i < Value.size(); ++i) {
        const QChar c = Value.at(i);
        if (c != QLatin1Char('\\') || i + 1 >= Value.size()) {
            out.append(c);
            continue;
        }
        const QChar n = Value.at(++i);
        switch (n.unicode()) {
        case 's':
            out.append(QLatin1Char(' '));
            break;
        case 'n':
            out.append(QLatin1Char('\n'));
            break;
        case 't':
            out.append(QLatin1Char('\t'));
            break;
        case 'r':
            out.append(QLatin1Char('\r'));
            break;
        case '\\':
            out.append(QLatin1Char('\\'));
            break;
        default:
            out.append(QLatin1Char('\\')).append(n);
            break;
        }
    }
    return out;
}

} // namespace

std::optional<QStringList> SplitExec(const QString &Exec)
{
    QStringList words;
    QString word;
    bool inWord = false;
    bool quoted = false;
    bool dropWord = false;
    auto finish = [&] {
        if (inWord && !dropWord)
            words.append(word);
        word.clear();
        inWord = false;
        dropWord = false;
    };
    for (qsizetype i = 0; i < Exec.size(); ++i) {
        const QChar c = Exec.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                quoted = false;
            } else if (i + 1 < Exec.size() &&
                       ((c == QLatin1Char('\\') && QStringLiteral("\"`$\\").contains(Exec.at(i + 1))) ||
                        // A literal percent sign is doubled inside quotes too.
                        (c == QLatin1Char('%') && Exec.at(i + 1) == QLatin1Char('%')))) {
                word.append(Exec.at(++i));
            } else {
                word.append(c);
            }
            continue;
        }
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            finish();
        } else if (c == QLatin1Char('"')) {
            inWord = true;
            quoted = true;
        } else if (c == QLatin1Char('%') && i + 1 < Exec.size()) {
            const QChar code = Exec.at(++i);
            inWord = true;
            if (code == QLatin1Char('%'))
                word.append(QLatin1Char('%'));
            else if (QStringLiteral("fFuUdDnNickvm").contains(code) && word.isEmpty() &&
                     (i + 1 >= Exec.size() || Exec.at(i + 1) == QLatin1Char(' ') ||
                      Exec.at(i + 1) == QLatin1Char('\t')))
                dropWord = true; // a field code standing alone is replaced by nothing here
        } else {
            inWord = true;
            word.append(c);
        }
    }
    if (quoted)
        return std::nullopt;
    finish();
    return words;
}

std::optional<DesktopEntryInfo> ReadDesktopEntry(const QString &Path, const QString &LocaleName)
{
    const std::optional<QByteArray> content = ReadRegularFile(Path, kMaxDesktopEntrySize);
    if (!content)
        return std::nullopt;
    return ParseDesktopEntry(*content, LocaleName);
}

bool MayBeDesktopEntry(const QByteArray &Head)
{
    for (const QByteArray &raw : Head.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        // A first line cut off by the end of the head may still grow into the group's name.
        return line.startsWith("[Desktop Entry]") || QByteArray("[Desktop Entry]").startsWith(line);
    }
    return true;
}

std::optional<DesktopEntryInfo> ParseDesktopEntry(const QByteArray &Content, const QString &LocaleName)
{
    if (Content.size() > kMaxDesktopEntrySize)
        return std::nullopt;
    QHash<QString, QString> keys;
    bool inMainGroup = false;
    bool seenGroup = false;
    for (const QByteArray &raw : Content.split('\n')) {
        QString line = DecodeNameBytes(raw);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
            continue;
        if (trimmed.startsWith(QLatin1Char('['))) {
            if (seenGroup)
                break; // only the first group is read
            if (trimmed != QLatin1String("[Desktop Entry]"))
                return std::nullopt;
            seenGroup = inMainGroup = true;
            continue;
        }
        if (!seenGroup)
            return std::nullopt; // a key before any group
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        if (!keys.contains(key))
            keys.insert(key, UnescapeValue(line.mid(eq + 1).trimmed()));
    }
    if (!inMainGroup)
        return std::nullopt;

    DesktopEntryInfo info;
    if (const auto words = SplitExec(keys.value(QStringLiteral("Exec"))); words && !words->isEmpty()) {
        info.Program = words->first();
        info.Arguments = words->mid(1);
    }
    info.Path = keys.value(QStringLiteral("Path"));
    info.Icon = keys.value(QStringLiteral("Icon"));
    info.Hidden = keys.value(QStringLiteral("Hidden")) == QLatin1String("true");
    // Comment[ll_CC], then Comment[ll], then Comment.
    QStringList commentKeys;
    if (!LocaleName.isEmpty()) {
        commentKeys << QStringLiteral("Comment[%1]").arg(LocaleName);
        const qsizetype us = LocaleName.indexOf(QLatin1Char('_'));
        if (us > 0)
            commentKeys << QStringLiteral("Comment[%1]").arg(LocaleName.left(us));
    }
    commentKeys << QStringLiteral("Comment");
    for (const QString &k : commentKeys) {
        if (keys.contains(k)) {
            info.Comment = keys.value(k);
            break;
        }
    }
    return info;
}

} // namespace platform::files

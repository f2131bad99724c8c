#include "platform/processes/CommandLine.h"

namespace platform::processes {

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r');
}

} // namespace

std::optional<QStringList> splitCommandLine(const QString &text)
{
    QStringList words;
    QString word;
    bool inWord = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (isBlank(c)) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else if (c == QLatin1Char('"')) {
            inWord = true;
            for (++i;; ++i) {
                if (i >= text.size())
                    return std::nullopt;
                const QChar q = text.at(i);
                if (q == QLatin1Char('"'))
                    break;
                if (q == QLatin1Char('\\') && i + 1 < text.size() &&
                    (text.at(i + 1) == QLatin1Char('"') || text.at(i + 1) == QLatin1Char('\\')))
                    word += text.at(++i);
                else
                    word += q;
            }
        } else if (c == QLatin1Char('\'')) {
            inWord = true;
            const qsizetype end = text.indexOf(QLatin1Char('\''), i + 1);
            if (end < 0)
                return std::nullopt;
            word += text.mid(i + 1, end - i - 1);
            i = end;
        } else if (c == QLatin1Char('\\')) {
            if (i + 1 >= text.size())
                return std::nullopt;
            inWord = true;
            word += text.at(++i);
        } else {
            inWord = true;
            word += c;
        }
    }
    if (inWord)
        words << word;
    return words;
}

QString quoteArgument(const QString &word)
{
    bool needs = word.isEmpty();
    for (const QChar c : word) {
        if (isBlank(c) || c == QLatin1Char('"') || c == QLatin1Char('\'') || c == QLatin1Char('\\'))
            needs = true;
    }
    if (!needs)
        return word;
    QString out = QStringLiteral("\"");
    for (const QChar c : word) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        out += c;
    }
    out += QLatin1Char('"');
    return out;
}

QString joinCommandLine(const QStringList &words)
{
    QStringList quoted;
    quoted.reserve(words.size());
    for (const QString &w : words)
        quoted << quoteArgument(w);
    return quoted.join(QLatin1Char(' '));
}

} // namespace platform::processes

#include "platform/processes/CommandLine.h"

namespace platform::processes {

namespace {

bool IsBlank(QChar C)
{
    return C == QLatin1Char(' ') || C == QLatin1Char('\t') || C == QLatin1Char('\n') || C == QLatin1Char('\r');
}

} // namespace

std::optional<QStringList> SplitCommandLine(const QString &Text)
{
    QStringList words;
    QString word;
    bool inWord = false;
    for (qsizetype i = 0; i < Text.size(); ++i) {
        const QChar c = Text.at(i);
        if (IsBlank(c)) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else if (c == QLatin1Char('"')) {
            inWord = true;
            for (++i;; ++i) {
                if (i >= Text.size())
                    return std::nullopt;
                const QChar q = Text.at(i);
                if (q == QLatin1Char('"'))
                    break;
                if (q == QLatin1Char('\\') && i + 1 < Text.size() &&
                    (Text.at(i + 1) == QLatin1Char('"') || Text.at(i + 1) == QLatin1Char('\\')))
                    word += Text.at(++i);
                else
                    word += q;
            }
        } else if (c == QLatin1Char('\'')) {
            inWord = true;
            const qsizetype end = Text.indexOf(QLatin1Char('\''), i + 1);
            if (end < 0)
                return std::nullopt;
            word += Text.mid(i + 1, end - i - 1);
            i = end;
        } else if (c == QLatin1Char('\\')) {
            if (i + 1 >= Text.size())
                return std::nullopt;
            inWord = true;
            word += Text.at(++i);
        } else {
            inWord = true;
            word += c;
        }
    }
    if (inWord)
        words << word;
    return words;
}

QString QuoteArgument(const QString &Word)
{
    bool needs = Word.isEmpty();
    for (const QChar c : Word) {
        if (IsBlank(c) || c == QLatin1Char('"') || c == QLatin1Char('\'') || c == QLatin1Char('\\'))
            needs = true;
    }
    if (!needs)
        return Word;
    QString out = QStringLiteral("\"");
    for (const QChar c : Word) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        out += c;
    }
    out += QLatin1Char('"');
    return out;
}

QString JoinCommandLine(const QStringList &Words)
{
    QStringList quoted;
    quoted.reserve(Words.size());
    for (const QString &w : Words)
        quoted << QuoteArgument(w);
    return quoted.join(QLatin1Char(' '));
}

} // namespace platform::processes

#include "dataaccess/DBError.h"

namespace dataaccess {

Exception::Exception(const QString &Message) : m_Message(Message), m_Utf8(Message.toUtf8()) {}

QString FormatText(const QString &Fmt, const QStringList &Args)
{
    QString out;
    out.reserve(Fmt.size() + 32);
    qsizetype next = 0;
    for (qsizetype i = 0; i < Fmt.size(); ++i) {
        const QChar c = Fmt.at(i);
        if (c == QLatin1Char('%') && i + 1 < Fmt.size()) {
            const QChar k = Fmt.at(i + 1);
            if (k == QLatin1Char('%')) {
                out += QLatin1Char('%');
                ++i;
                continue;
            }
            if (k == QLatin1Char('s') || k == QLatin1Char('d')) {
                if (next < Args.size())
                    out += Args.at(next);
                ++next;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

void DatabaseError(const QString &Message)
{
    throw EDatabaseError(Message);
}

void Abort()
{
    throw EAbort(QString::fromLatin1(msg::kSOperationAborted));
}

} // namespace dataaccess

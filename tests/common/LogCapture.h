#pragma once

#include <QList>
#include <QLoggingCategory>
#include <QMutex>
#include <QString>
#include <QtGlobal>

namespace tvtest {

// Collects every message Qt's logging lets through while it lives, under the rules given
// (empty: the categories' own defaults); the earlier handler and rules come back after.
class LogCapture
{
public:
    struct Message
    {
        QtMsgType type;
        QString category;
        QString text;
    };

    explicit LogCapture(const QString &rules)
    {
        QLoggingCategory::setFilterRules(rules);
        s_current = this;
        m_previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
        QLoggingCategory::setFilterRules(QString());
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QList<Message> messages() const
    {
        QMutexLocker lock(&m_lock);
        return m_messages;
    }
    // The warnings of one category, one text each.
    QStringList warnings(const QString &category) const
    {
        QStringList out;
        for (const Message &m : messages()) {
            if (m.type == QtWarningMsg && m.category == category)
                out << m.text;
        }
        return out;
    }
    // The rules a user's environment sets would override the ones a test sets.
    static bool environmentSetsRules() { return qEnvironmentVariableIsSet("QT_LOGGING_RULES"); }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (LogCapture *self = s_current) {
            QMutexLocker lock(&self->m_lock);
            self->m_messages.append({type, QString::fromUtf8(context.category ? context.category : ""), text});
        }
    }

    static inline LogCapture *s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_lock;
    QList<Message> m_messages;
};

} // namespace tvtest

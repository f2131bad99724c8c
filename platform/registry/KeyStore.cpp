#include "platform/registry/KeyStore.h"

#include "platform/Logging.h"
#include "platform/files/AtomicFile.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::registry {

namespace {

const QByteArray kHeader = "TASKVANE-KEYSTORE 1";

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

void appendQuoted(QByteArray &out, const QString &s)
{
    out += '"';
    for (const QChar c : s) {
        const char16_t u = c.unicode();
        if (u == '\\')
            out += "\\\\";
        else if (u == '"')
            out += "\\\"";
        else if (u == '\n')
            out += "\\n";
        else if (u == '\r')
            out += "\\r";
        else if (u == '\t')
            out += "\\t";
        else if (u < 0x20 || u == 0x7F || c.isSurrogate())
            out += "\\u" + QByteArray::number(u, 16).rightJustified(4, '0');
        else
            out += QString(c).toUtf8();
    }
    out += '"';
}

// A quoted string at `p`; advances past it.
bool takeQuoted(const QByteArray &line, qsizetype &p, QString &out)
{
    if (p >= line.size() || line[p] != '"')
        return false;
    ++p;
    QByteArray plain;
    out.clear();
    auto flush = [&] {
        if (!plain.isEmpty()) {
            out += QString::fromUtf8(plain);
            plain.clear();
        }
    };
    while (p < line.size()) {
        const char c = line[p];
        if (c == '"') {
            ++p;
            flush();
            return true;
        }
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
        if (c != '\\') {
            plain += c;
            ++p;
            continue;
        }
        if (p + 1 >= line.size())
            return false;
        const char e = line[p + 1];
        p += 2;
        switch (e) {
        case '\\':
            plain += '\\';
            break;
        case '"':
            plain += '"';
            break;
        case 'n':
            plain += '\n';
            break;
        case 'r':
            plain += '\r';
            break;
        case 't':
            plain += '\t';
            break;
        case 'u': {
            if (p + 4 > line.size())
                return false;
            bool ok = false;
            const QByteArray hex = line.mid(p, 4);
            for (const char h : hex) {
                if (!std::isxdigit(static_cast<unsigned char>(h)))
                    return false;
            }
            const uint v = hex.toUInt(&ok, 16);
            if (!ok)
                return false;
            flush();
            out += QChar(char16_t(v));
            p += 4;
            break;
        }
        default:
            return false;
        }
    }
    return false;
}

bool validUtf8(const QByteArray &text)
{
    const QString s = QString::fromUtf8(text);
    return s.toUtf8() == text;
}

QString configHome()
{
    const QByteArray xdg = qgetenv("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && xdg.startsWith('/'))
        return QString::fromLocal8Bit(xdg);
    return QDir::homePath() + QStringLiteral("/.config");
}

class FileLock
{
public:
    FileLock(const QString &storeFile, bool exclusive)
    {
        const QByteArray path = (storeFile + QStringLiteral(".lock")).toLocal8Bit();
        m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (m_fd < 0 && !exclusive)
            m_fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0)
            return;
        int rc;
        do {
            rc = ::flock(m_fd, exclusive ? LOCK_EX : LOCK_SH);
        } while (rc < 0 && errno == EINTR);
        m_locked = rc == 0;
    }
    ~FileLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    bool locked() const { return m_locked; }

private:
    int m_fd = -1;
    bool m_locked = false;
};

enum class ReadResult { Ok, Missing, Error };

ReadResult readWhole(const QString &file, QByteArray &out)
{
    const QByteArray path = file.toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Error;
    out.clear();
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return ReadResult::Error;
        }
        if (n == 0)
            break;
        out.append(buf, n);
        if (out.size() > (64 << 20)) {
            ::close(fd);
            return ReadResult::Error;
        }
    }
    ::close(fd);
    return ReadResult::Ok;
}

} // namespace

const Value *Key::find(const QString &name) const
{
    for (const Value &v : values) {
        if (sameName(v.name, name))
            return &v;
    }
    return nullptr;
}

Value *Key::find(const QString &name)
{
    return const_cast<Value *>(static_cast<const Key *>(this)->find(name));
}

std::optional<QString> normalizeSubKey(const QString &subKey)
{
    QString s = subKey;
    while (s.startsWith(QLatin1Char('\\')))
        s.remove(0, 1);
    while (s.endsWith(QLatin1Char('\\')))
        s.chop(1);
    if (s.isEmpty())
        return QString();
    for (const QString &part : s.split(QLatin1Char('\\'))) {
        if (part.isEmpty())
            return std::nullopt;
        for (const QChar c : part) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                return std::nullopt;
        }
    }
    return s;
}

QString Store::fileOf(RootKey root)
{
    const QByteArray dir = qgetenv("TASKVANE_REGISTRY_DIR");
    switch (root) {
    case RootKey::CurrentUser:
        if (!dir.isEmpty())
            return QString::fromLocal8Bit(dir) + QStringLiteral("/HKEY_CURRENT_USER.reg");
        return configHome() + QStringLiteral("/taskvane/HKEY_CURRENT_USER.reg");
    case RootKey::LocalMachine:
        if (!dir.isEmpty())
            return QString::fromLocal8Bit(dir) + QStringLiteral("/HKEY_LOCAL_MACHINE.reg");
        return QStringLiteral("/etc/taskvane/HKEY_LOCAL_MACHINE.reg");
    default:
        return QString();
    }
}

std::optional<Store> Store::parse(const QByteArray &text)
{
    if (!validUtf8(text))
        return std::nullopt;
    QList<QByteArray> lines = text.split('\n');
    if (lines.isEmpty() || lines.first() != kHeader)
        return std::nullopt;
    if (!text.endsWith('\n'))
        return std::nullopt; // a cut-off file
    lines.removeLast();      // after the final newline
    Store store;
    store.m_keys.push_back(Key{});
    Key *current = nullptr;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        qsizetype p = 2;
        if (line.startsWith("K ")) {
            QString path;
            if (!takeQuoted(line, p, path) || p != line.size())
                return std::nullopt;
            const auto norm = normalizeSubKey(path);
            if (!norm || *norm != path)
                return std::nullopt;
            if (path.isEmpty()) {
                current = &store.m_keys.front();
            } else {
                if (store.key(path))
                    return std::nullopt; // a key twice
                store.m_keys.push_back(Key{path, {}});
                current = &store.m_keys.back();
            }
        } else if (line.startsWith("V ")) {
            if (!current)
                return std::nullopt;
            Value v;
            if (!takeQuoted(line, p, v.name) || p >= line.size() || line[p] != ' ')
                return std::nullopt;
            if (current->find(v.name))
                return std::nullopt;
            ++p;
            const qsizetype sp = line.indexOf(' ', p);
            if (sp < 0)
                return std::nullopt;
            const QByteArray type = line.mid(p, sp - p);
            p = sp + 1;
            if (type == "SZ" || type == "EXPAND_SZ") {
                v.type = type == "SZ" ? ValueType::String : ValueType::ExpandString;
                if (!takeQuoted(line, p, v.text) || p != line.size())
                    return std::nullopt;
            } else if (type == "DWORD") {
                const QByteArray num = line.mid(p);
                if (num.isEmpty() || num.size() > 10)
                    return std::nullopt;
                for (const char c : num) {
                    if (c < '0' || c > '9')
                        return std::nullopt;
                }
                const qulonglong n = num.toULongLong();
                if (n > 0xFFFFFFFFull)
                    return std::nullopt;
                v.type = ValueType::DWord;
                v.dword = quint32(n);
            } else {
                return std::nullopt;
            }
            current->values.push_back(v);
        } else {
            return std::nullopt;
        }
    }
    // Parents of every key exist.
    for (const Key &k : store.m_keys) {
        const qsizetype slash = k.path.lastIndexOf(QLatin1Char('\\'));
        if (slash > 0 && !store.key(k.path.left(slash)))
            return std::nullopt;
    }
    return store;
}

QByteArray Store::serialize() const
{
    QByteArray out = kHeader + '\n';
    for (const Key &k : m_keys) {
        out += "K ";
        appendQuoted(out, k.path);
        out += '\n';
        for (const Value &v : k.values) {
            out += "V ";
            appendQuoted(out, v.name);
            switch (v.type) {
            case ValueType::String:
                out += " SZ ";
                appendQuoted(out, v.text);
                break;
            case ValueType::ExpandString:
                out += " EXPAND_SZ ";
                appendQuoted(out, v.text);
                break;
            case ValueType::DWord:
                out += " DWORD " + QByteArray::number(v.dword);
                break;
            }
            out += '\n';
        }
    }
    return out;
}

const Key *Store::key(const QString &subKey) const
{
    for (const Key &k : m_keys) {
        if (sameName(k.path, subKey))
            return &k;
    }
    return nullptr;
}

Key *Store::key(const QString &subKey)
{
    return const_cast<Key *>(static_cast<const Store *>(this)->key(subKey));
}

Key &Store::createKey(const QString &subKey)
{
    if (m_keys.empty())
        m_keys.push_back(Key{});
    if (Key *k = key(subKey))
        return *k;
    const qsizetype slash = subKey.lastIndexOf(QLatin1Char('\\'));
    QString path = subKey;
    if (slash > 0) {
        // Keep the spelling of an existing parent.
        const QString parent = createKey(subKey.left(slash)).path;
        path = parent + subKey.mid(slash);
    }
    m_keys.push_back(Key{path, {}});
    return m_keys.back();
}

std::optional<Store> load(RootKey root)
{
    const QString file = Store::fileOf(root);
    if (file.isEmpty())
        return std::nullopt;
    FileLock lock(file, false);
    QByteArray text;
    switch (readWhole(file, text)) {
    case ReadResult::Missing: {
        Store empty;
        empty.createKey(QString());
        return empty;
    }
    case ReadResult::Error:
        return std::nullopt;
    case ReadResult::Ok:
        break;
    }
    return Store::parse(text);
}

bool modify(RootKey root, const std::function<Edit(Store &)> &change)
{
    const QString file = Store::fileOf(root);
    if (file.isEmpty())
        return false;
    if (!QDir().mkpath(QFileInfo(file).absolutePath()))
        return false;
    FileLock lock(file, true);
    if (!lock.locked()) {
        qCWarning(lcPlatform) << "key store" << file << "could not be locked";
        return false;
    }
    QByteArray text;
    std::optional<Store> store;
    switch (readWhole(file, text)) {
    case ReadResult::Missing:
        store = Store();
        store->createKey(QString());
        break;
    case ReadResult::Error:
        qCWarning(lcPlatform) << "key store" << file << "could not be read";
        return false;
    case ReadResult::Ok:
        store = Store::parse(text);
        break;
    }
    if (!store) {
        qCWarning(lcPlatform) << "key store" << file << "is damaged: left as it is";
        return false;
    }
    switch (change(*store)) {
    case Edit::Fail:
        return false;
    case Edit::Keep:
        return true;
    case Edit::Write:
        return platform::files::writeFileAtomically(file, store->serialize());
    }
    return false;
}

} // namespace platform::registry

#include "platform/registry/KeyStore.h"

#include "platform/files/OwnFolder.h"
#include "platform/files/RegularFile.h"
#include "platform/shell/Shell.h"

#include <QByteArray>
#include <QDeadlineTimer>
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

QString folded(const QString &name)
{
    return name.toCaseFolded();
}

// A store's folder and file name, and whose it may be.
struct Place
{
    QString folder;
    QString name;
    bool machine = false;
};

std::optional<Place> placeOf(RootKey root)
{
    const QString file = Store::fileOf(root);
    if (file.isEmpty())
        return std::nullopt;
    const QFileInfo info(file);
    return Place{info.absolutePath(), info.fileName(), root == RootKey::LocalMachine};
}

// A store of a few Run keys is some kilobytes; anything near this is no store of ours.
constexpr qint64 kMaxStoreSize = 64 << 20;

enum class ReadResult { Ok, Missing, Error };

ReadResult readStore(const Place &place, QByteArray &out)
{
    if (!place.machine) {
        // The user's own store, in a folder of the user's alone.
        if (!platform::files::pathExists(place.folder) && !QFileInfo(place.folder).isSymLink())
            return ReadResult::Missing;
        const auto folder = platform::files::OwnFolder::open(place.folder);
        if (!folder)
            return ReadResult::Error;
        bool missing = false;
        auto data = folder->readFile(place.name, kMaxStoreSize, &missing);
        if (!data)
            return missing ? ReadResult::Missing : ReadResult::Error;
        out = std::move(*data);
        return ReadResult::Ok;
    }
    // Everyone's store: written by root (or by the user, in a folder of the user's own).
    if (!platform::files::isTrustedPath(place.folder))
        return ReadResult::Error;
    platform::files::RegularFileReader reader;
    switch (reader.open(place.folder + QLatin1Char('/') + place.name)) {
    case platform::files::RegularFileReader::OpenResult::Opened:
        break;
    case platform::files::RegularFileReader::OpenResult::Missing:
        return ReadResult::Missing;
    default:
        return ReadResult::Error;
    }
    if (!reader.isPrivate(true))
        return ReadResult::Error;
    auto data = reader.readAll(kMaxStoreSize);
    if (!data)
        return ReadResult::Error;
    out = std::move(*data);
    return ReadResult::Ok;
}

// The writers' lock, held while the file descriptor is open.
class WriteLock
{
public:
    WriteLock(const platform::files::OwnFolder &folder, const QString &name)
    {
        m_fd = folder.openLockFile(name + QStringLiteral(".lock"));
        if (m_fd < 0)
            return;
        // Waited for in short steps up to a bound: a writer that never lets go costs one failure.
        QDeadlineTimer deadline(kLockWaitMs);
        for (;;) {
            if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
                m_locked = true;
                return;
            }
            if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired())
                return;
            ::usleep(10000);
        }
    }
    ~WriteLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    WriteLock(const WriteLock &) = delete;
    WriteLock &operator=(const WriteLock &) = delete;
    bool locked() const { return m_locked; }

private:
    int m_fd = -1;
    bool m_locked = false;
};

} // namespace

const Value *Key::find(const QString &name) const
{
    const auto it = m_index.constFind(folded(name));
    return it == m_index.cend() ? nullptr : &m_values[*it];
}

Value *Key::find(const QString &name)
{
    const auto it = m_index.constFind(folded(name));
    return it == m_index.cend() ? nullptr : &m_values[*it];
}

Value *Key::add(const Value &value)
{
    const QString f = folded(value.name);
    if (m_index.contains(f))
        return nullptr;
    m_index.insert(f, m_values.size());
    m_values.push_back(value);
    return &m_values.back();
}

bool Key::remove(const QString &name)
{
    const auto it = m_index.constFind(folded(name));
    if (it == m_index.cend())
        return false;
    const std::size_t at = *it;
    m_values.erase(m_values.begin() + std::ptrdiff_t(at));
    m_index.erase(it);
    for (auto &place : m_index) {
        if (place > at)
            --place;
    }
    return true;
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
        if (const QString config = platform::shell::userConfigDir(); !config.isEmpty())
            return config + QStringLiteral("/taskvane/HKEY_CURRENT_USER.reg");
        return QString();
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
    store.append(QString());
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
                current = &store.append(path);
            }
        } else if (line.startsWith("V ")) {
            if (!current)
                return std::nullopt;
            Value v;
            if (!takeQuoted(line, p, v.name) || p >= line.size() || line[p] != ' ')
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
            if (!current->add(v))
                return std::nullopt; // a value twice
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
        for (const Value &v : k.values()) {
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
    const auto it = m_index.constFind(folded(subKey));
    return it == m_index.cend() ? nullptr : &m_keys[*it];
}

Key *Store::key(const QString &subKey)
{
    return const_cast<Key *>(static_cast<const Store *>(this)->key(subKey));
}

Key &Store::append(const QString &path)
{
    m_index.insert(folded(path), m_keys.size());
    m_keys.emplace_back(path);
    return m_keys.back();
}

Key &Store::createKey(const QString &subKey)
{
    if (m_keys.empty())
        append(QString());
    if (Key *k = key(subKey))
        return *k;
    const qsizetype slash = subKey.lastIndexOf(QLatin1Char('\\'));
    QString path = subKey;
    if (slash > 0) {
        // Keep the spelling of an existing parent.
        const QString parent = createKey(subKey.left(slash)).path;
        path = parent + subKey.mid(slash);
    }
    return append(path);
}

std::optional<Store> load(RootKey root)
{
    const auto place = placeOf(root);
    if (!place)
        return std::nullopt;
    QByteArray text;
    switch (readStore(*place, text)) {
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
    const auto place = placeOf(root);
    if (!place)
        return false;
    // Everyone's store is for everyone to read; the user's own is the user's alone.
    const auto folder = platform::files::OwnFolder::make(place->folder, place->machine ? 0755 : 0700);
    if (!folder)
        return false;
    WriteLock lock(*folder, place->name);
    if (!lock.locked())
        return false;
    bool missing = false;
    std::optional<Store> store;
    if (auto text = folder->readFile(place->name, kMaxStoreSize, &missing)) {
        store = Store::parse(*text);
    } else if (missing) {
        store = Store();
        store->createKey(QString());
    }
    if (!store)
        return false;
    switch (change(*store)) {
    case Edit::Fail:
        return false;
    case Edit::Keep:
        return true;
    case Edit::Write:
        return folder->writeFile(place->name, store->serialize(), 0644);
    }
    return false;
}

} // namespace platform::registry

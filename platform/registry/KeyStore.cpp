#include "platform/registry/KeyStore.h"

#include "platform/Logging.h"
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
bool takeQuoted(QByteArrayView line, qsizetype &p, QString &out)
{
    if (p >= line.size() || line[p] != '"')
        return false;
    ++p;
    // Most texts hold no escape: taken whole.
    for (qsizetype q = p; q < line.size(); ++q) {
        const char c = line[q];
        if (c == '"') {
            out = QString::fromUtf8(line.sliced(p, q - p));
            p = q + 1;
            return true;
        }
        if (c == '\\' || static_cast<unsigned char>(c) < 0x20)
            break;
    }
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
            // The run up to the next quote or escape at once.
            qsizetype q = p + 1;
            while (q < line.size() && line[q] != '"' && line[q] != '\\' && static_cast<unsigned char>(line[q]) >= 0x20)
                ++q;
            plain += line.sliced(p, q - p);
            p = q;
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
            const QByteArrayView hex = line.sliced(p, 4);
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

// A value name: like takeQuoted, but the names many keys share (a program's settings under each of
// its keys) are kept once, in `names` (viewing `line`'s text, which outlives it).
bool takeName(QByteArrayView line, qsizetype &p, QString &out, QHash<QByteArrayView, QString> &names)
{
    constexpr qsizetype kMostNames = 256;
    const qsizetype close = p < line.size() && line[p] == '"' ? line.indexOf('"', p + 1) : -1;
    if (close < 0)
        return takeQuoted(line, p, out);
    const QByteArrayView raw = line.sliced(p + 1, close - p - 1);
    if (const auto it = names.constFind(raw); it != names.cend()) {
        out = *it;
        p = close + 1;
        return true;
    }
    if (!takeQuoted(line, p, out))
        return false;
    // Only a name without escapes ends at the first quote.
    if (p == close + 1 && names.size() < kMostNames)
        names.insert(raw, out);
    return true;
}

// Well-formed UTF-8: no stray or missing continuation bytes, no overlong forms, no surrogates,
// nothing above U+10FFFF.
bool validUtf8(QByteArrayView text)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n;) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        int length = 0;
        char32_t code = 0, least = 0;
        if ((c & 0xE0) == 0xC0) {
            length = 2, code = c & 0x1F, least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3, code = c & 0x0F, least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4, code = c & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (i + length > n)
            return false;
        for (int k = 1; k < length; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (d & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

FoldedName folded(const QString &name)
{
    return FoldedName::of(name);
}

// A sub-key path as the store writes it: parts without control characters, none empty.
bool isNormalSubKey(const QString &path)
{
    if (path.isEmpty())
        return true;
    QChar previous = QLatin1Char('\\');
    for (const QChar c : path) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || (c == QLatin1Char('\\') && previous == c))
            return false;
        previous = c;
    }
    return previous != QLatin1Char('\\');
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
    const std::size_t at = placeOf(name);
    return at < m_values.size() ? &m_values[at] : nullptr;
}

Value *Key::find(const QString &name)
{
    const std::size_t at = placeOf(name);
    return at < m_values.size() ? &m_values[at] : nullptr;
}

std::size_t Key::placeOf(const QString &name) const
{
    if (m_index.isEmpty()) {
        for (std::size_t i = 0; i < m_values.size(); ++i) {
            if (m_values[i].name.compare(name, Qt::CaseInsensitive) == 0)
                return i;
        }
        return m_values.size();
    }
    return m_index.value(folded(name), m_values.size());
}

Value *Key::add(const Value &value)
{
    if (placeOf(value.name) < m_values.size())
        return nullptr;
    m_values.push_back(value);
    if (!m_index.isEmpty()) {
        m_index.insert(folded(value.name), m_values.size() - 1);
    } else if (m_values.size() >= kIndexFrom) {
        for (std::size_t i = 0; i < m_values.size(); ++i)
            m_index.insert(folded(m_values[i].name), i);
    }
    return &m_values.back();
}

bool Key::remove(const QString &name)
{
    const std::size_t at = placeOf(name);
    if (at >= m_values.size())
        return false;
    if (!m_index.isEmpty()) {
        m_index.remove(folded(m_values[at].name));
        for (auto &place : m_index) {
            if (place > at)
                --place;
        }
    }
    m_values.erase(m_values.begin() + std::ptrdiff_t(at));
    return true;
}

FoldedName FoldedName::of(const QString &name)
{
    // By code point, folded as the comparison folds it, so that equal names hash alike.
    size_t seed = 0;
    const QString &t = name;
    for (qsizetype i = 0; i < t.size(); ++i) {
        char32_t c = t.at(i).unicode();
        if (c < 0x80) {
            // ASCII folds to lower case; no table needed.
            if (c >= 'A' && c <= 'Z')
                c += 'a' - 'A';
            seed ^= size_t(c) + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2);
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < t.size() && t.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(t.at(i), t.at(i + 1));
            ++i;
        }
        seed ^= size_t(QChar::toCaseFolded(c)) + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2);
    }
    return FoldedName{name, seed};
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
    if (!text.startsWith(kHeader + '\n'))
        return std::nullopt;
    if (!text.endsWith('\n'))
        return std::nullopt; // a cut-off file
    Store store;
    const qsizetype keys = text.count("\nK ");
    store.m_keys.reserve(std::size_t(keys) + 1);
    store.m_index.reserve(keys + 1);
    store.append(QString());
    Key *current = nullptr;
    QStringList orphans;
    QHash<QByteArrayView, QString> names;
    for (qsizetype at = kHeader.size() + 1; at < text.size();) {
        const qsizetype end = text.indexOf('\n', at);
        const QByteArrayView line = QByteArrayView(text).sliced(at, end - at);
        at = end + 1;
        qsizetype p = 2;
        if (line.startsWith("K ")) {
            QString path;
            if (!takeQuoted(line, p, path) || p != line.size())
                return std::nullopt;
            if (!isNormalSubKey(path))
                return std::nullopt;
            if (path.isEmpty()) {
                current = &store.m_keys.front();
            } else {
                current = store.appendNew(path);
                if (!current)
                    return std::nullopt; // a key twice
                // A parent written further down is looked for at the end.
                const qsizetype slash = path.lastIndexOf(QLatin1Char('\\'));
                if (slash > 0 && !store.key(path.left(slash)))
                    orphans << path.left(slash);
            }
        } else if (line.startsWith("V ")) {
            if (!current)
                return std::nullopt;
            Value v;
            if (!takeName(line, p, v.name, names) || p >= line.size() || line[p] != ' ')
                return std::nullopt;
            ++p;
            const qsizetype sp = line.indexOf(' ', p);
            if (sp < 0)
                return std::nullopt;
            const QByteArrayView type = line.sliced(p, sp - p);
            p = sp + 1;
            if (type == "SZ" || type == "EXPAND_SZ") {
                v.type = type == "SZ" ? ValueType::String : ValueType::ExpandString;
                if (!takeQuoted(line, p, v.text) || p != line.size())
                    return std::nullopt;
            } else if (type == "DWORD") {
                const QByteArrayView num = line.sliced(p);
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
    for (const QString &parent : orphans) {
        if (!store.key(parent))
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

Key *Store::appendNew(const QString &path)
{
    // One look into the index for both the test and the insertion.
    const qsizetype before = m_index.size();
    std::size_t &place = m_index[folded(path)];
    if (m_index.size() == before)
        return nullptr;
    place = m_keys.size();
    m_keys.emplace_back(path);
    return &m_keys.back();
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
    if (!lock.locked()) {
        qCWarning(lcPlatform) << "key store" << place->name << "could not be locked";
        return false;
    }
    bool missing = false;
    std::optional<Store> store;
    if (auto text = folder->readFile(place->name, kMaxStoreSize, &missing)) {
        store = Store::parse(*text);
    } else if (missing) {
        store = Store();
        store->createKey(QString());
    }
    if (!store) {
        qCWarning(lcPlatform) << "key store" << place->name << "is unreadable or damaged: left as it is";
        return false;
    }
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

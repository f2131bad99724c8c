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

void AppendQuoted(QByteArray &Out, const QString &S)
{
    Out += '"';
    for (const QChar c : S) {
        const char16_t u = c.unicode();
        if (u == '\\')
            Out += "\\\\";
        else if (u == '"')
            Out += "\\\"";
        else if (u == '\n')
            Out += "\\n";
        else if (u == '\r')
            Out += "\\r";
        else if (u == '\t')
            Out += "\\t";
        else if (u < 0x20 || u == 0x7F || c.isSurrogate())
            Out += "\\u" + QByteArray::number(u, 16).rightJustified(4, '0');
        else
            Out += QString(c).toUtf8();
    }
    Out += '"';
}

// A quoted string at `p`; advances past it.
bool TakeQuoted(QByteArrayView Line, qsizetype &P, QString &Out)
{
    if (P >= Line.size() || Line[P] != '"')
        return false;
    ++P;
    // Most texts hold no escape: taken whole.
    for (qsizetype q = P; q < Line.size(); ++q) {
        const char c = Line[q];
        if (c == '"') {
            Out = QString::fromUtf8(Line.sliced(P, q - P));
            P = q + 1;
            return true;
        }
        if (c == '\\' || static_cast<unsigned char>(c) < 0x20)
            break;
    }
    QByteArray plain;
    Out.clear();
    auto flush = [&] {
        if (!plain.isEmpty()) {
            Out += QString::fromUtf8(plain);
            plain.clear();
        }
    };
    while (P < Line.size()) {
        const char c = Line[P];
        if (c == '"') {
            ++P;
            flush();
            return true;
        }
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
        if (c != '\\') {
            // The run up to the next quote or escape at once.
            qsizetype q = P + 1;
            while (q < Line.size() && Line[q] != '"' && Line[q] != '\\' && static_cast<unsigned char>(Line[q]) >= 0x20)
                ++q;
            plain += Line.sliced(P, q - P);
            P = q;
            continue;
        }
        if (P + 1 >= Line.size())
            return false;
        const char e = Line[P + 1];
        P += 2;
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
            if (P + 4 > Line.size())
                return false;
            bool ok = false;
            const QByteArrayView hex = Line.sliced(P, 4);
            for (const char h : hex) {
                if (!std::isxdigit(static_cast<unsigned char>(h)))
                    return false;
            }
            const uint v = hex.toUInt(&ok, 16);
            if (!ok)
                return false;
            flush();
            Out += QChar(char16_t(v));
            P += 4;
            break;
        }
        default:
            return false;
        }
    }
    return false;
}

// A value name: like TakeQuoted, but the names many keys share (a program's settings under each of
// its keys) are kept once, in `Names` (viewing `Line`'s text, which outlives it).
bool TakeName(QByteArrayView Line, qsizetype &P, QString &Out, QHash<QByteArrayView, QString> &Names)
{
    constexpr qsizetype kMostNames = 256;
    const qsizetype close = P < Line.size() && Line[P] == '"' ? Line.indexOf('"', P + 1) : -1;
    if (close < 0)
        return TakeQuoted(Line, P, Out);
    const QByteArrayView raw = Line.sliced(P + 1, close - P - 1);
    if (const auto it = Names.constFind(raw); it != Names.cend()) {
        Out = *it;
        P = close + 1;
        return true;
    }
    if (!TakeQuoted(Line, P, Out))
        return false;
    // Only a name without escapes ends at the first quote.
    if (P == close + 1 && Names.size() < kMostNames)
        Names.insert(raw, Out);
    return true;
}

// Well-formed UTF-8: no stray or missing continuation bytes, no overlong forms, no surrogates,
// nothing above U+10FFFF.
bool ValidUtf8(QByteArrayView Text)
{
    const qsizetype n = Text.size();
    for (qsizetype i = 0; i < n;) {
        const auto c = static_cast<unsigned char>(Text[i]);
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
            const auto d = static_cast<unsigned char>(Text[i + k]);
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

FoldedName Folded(const QString &Name)
{
    return FoldedName::Of(Name);
}

// A sub-key path as the store writes it: parts without control characters, none empty.
bool IsNormalSubKey(const QString &Path)
{
    if (Path.isEmpty())
        return true;
    QChar previous = QLatin1Char('\\');
    for (const QChar c : Path) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || (c == QLatin1Char('\\') && previous == c))
            return false;
        previous = c;
    }
    return previous != QLatin1Char('\\');
}

// A store's folder and file name, and whose it may be.
struct Place
{
    QString Folder;
    QString Name;
    bool Machine = false;
};

std::optional<Place> PlaceOf(RootKey Root)
{
    const QString file = Store::FileOf(Root);
    if (file.isEmpty())
        return std::nullopt;
    const QFileInfo info(file);
    return Place{info.absolutePath(), info.fileName(), Root == RootKey::LocalMachine};
}

// A store of a few Run keys is some kilobytes; anything near this is no store of ours.
constexpr qint64 kMaxStoreSize = 64 << 20;

enum class ReadResult { Ok, Missing, Error };

ReadResult ReadStore(const Place &Place, QByteArray &Out)
{
    if (!Place.Machine) {
        // The user's own store, in a folder of the user's alone.
        if (!platform::files::PathExists(Place.Folder) && !QFileInfo(Place.Folder).isSymLink())
            return ReadResult::Missing;
        const auto folder = platform::files::OwnFolder::Open(Place.Folder);
        if (!folder)
            return ReadResult::Error;
        bool missing = false;
        auto data = folder->ReadFile(Place.Name, kMaxStoreSize, &missing);
        if (!data)
            return missing ? ReadResult::Missing : ReadResult::Error;
        Out = std::move(*data);
        return ReadResult::Ok;
    }
    // Everyone's store: written by root (or by the user, in a folder of the user's own).
    if (!platform::files::IsTrustedPath(Place.Folder))
        return ReadResult::Error;
    platform::files::RegularFileReader reader;
    switch (reader.Open(Place.Folder + QLatin1Char('/') + Place.Name)) {
    case platform::files::RegularFileReader::OpenResult::Opened:
        break;
    case platform::files::RegularFileReader::OpenResult::Missing:
        return ReadResult::Missing;
    default:
        return ReadResult::Error;
    }
    if (!reader.IsPrivate(true))
        return ReadResult::Error;
    auto data = reader.ReadAll(kMaxStoreSize);
    if (!data)
        return ReadResult::Error;
    Out = std::move(*data);
    return ReadResult::Ok;
}

// The writers' lock, held while the file descriptor is open.
class WriteLock
{
public:
    WriteLock(const platform::files::OwnFolder &Folder, const QString &Name)
    {
        m_Fd = Folder.OpenLockFile(Name + QStringLiteral(".lock"));
        if (m_Fd < 0)
            return;
        // Waited for in short steps up to a bound: a writer that never lets go costs one failure.
        QDeadlineTimer deadline(kLockWaitMs);
        for (;;) {
            if (::flock(m_Fd, LOCK_EX | LOCK_NB) == 0) {
                m_Locked = true;
                return;
            }
            if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired())
                return;
            ::usleep(10000);
        }
    }
    ~WriteLock()
    {
        if (m_Fd >= 0)
            ::close(m_Fd); // releases the lock
    }
    WriteLock(const WriteLock &) = delete;
    WriteLock &operator=(const WriteLock &) = delete;
    bool Locked() const { return m_Locked; }

private:
    int m_Fd = -1;
    bool m_Locked = false;
};

} // namespace

const Value *Key::Find(const QString &Name) const
{
    const std::size_t at = PlaceOf(Name);
    return at < m_Values.size() ? &m_Values[at] : nullptr;
}

Value *Key::Find(const QString &Name)
{
    const std::size_t at = PlaceOf(Name);
    return at < m_Values.size() ? &m_Values[at] : nullptr;
}

std::size_t Key::PlaceOf(const QString &Name) const
{
    if (m_Index.isEmpty()) {
        for (std::size_t i = 0; i < m_Values.size(); ++i) {
            if (m_Values[i].Name.compare(Name, Qt::CaseInsensitive) == 0)
                return i;
        }
        return m_Values.size();
    }
    return m_Index.value(Folded(Name), m_Values.size());
}

Value *Key::Add(const Value &Value)
{
    if (PlaceOf(Value.Name) < m_Values.size())
        return nullptr;
    m_Values.push_back(Value);
    if (!m_Index.isEmpty()) {
        m_Index.insert(Folded(Value.Name), m_Values.size() - 1);
    } else if (m_Values.size() >= kIndexFrom) {
        for (std::size_t i = 0; i < m_Values.size(); ++i)
            m_Index.insert(Folded(m_Values[i].Name), i);
    }
    return &m_Values.back();
}

bool Key::Remove(const QString &Name)
{
    const std::size_t at = PlaceOf(Name);
    if (at >= m_Values.size())
        return false;
    if (!m_Index.isEmpty()) {
        m_Index.remove(Folded(m_Values[at].Name));
        for (auto &place : m_Index) {
            if (place > at)
                --place;
        }
    }
    m_Values.erase(m_Values.begin() + std::ptrdiff_t(at));
    return true;
}

FoldedName FoldedName::Of(const QString &Name)
{
    // By code point, folded as the comparison folds it, so that equal names hash alike.
    size_t seed = 0;
    const QString &t = Name;
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
    return FoldedName{Name, seed};
}

std::optional<QString> NormalizeSubKey(const QString &SubKey)
{
    QString s = SubKey;
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

QString Store::FileOf(RootKey Root)
{
    const QByteArray dir = qgetenv("TASKVANE_REGISTRY_DIR");
    switch (Root) {
    case RootKey::CurrentUser:
        if (!dir.isEmpty())
            return QString::fromLocal8Bit(dir) + QStringLiteral("/HKEY_CURRENT_USER.reg");
        if (const QString config = platform::shell::UserConfigDir(); !config.isEmpty())
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

std::optional<Store> Store::Parse(const QByteArray &Text)
{
    if (!ValidUtf8(Text))
        return std::nullopt;
    if (!Text.startsWith(kHeader + '\n'))
        return std::nullopt;
    if (!Text.endsWith('\n'))
        return std::nullopt; // a cut-off file
    Store store;
    const qsizetype keys = Text.count("\nK ");
    store.m_Keys.reserve(std::size_t(keys) + 1);
    store.m_Index.reserve(keys + 1);
    store.Append(QString());
    Key *current = nullptr;
    QStringList orphans;
    QHash<QByteArrayView, QString> names;
    for (qsizetype at = kHeader.size() + 1; at < Text.size();) {
        const qsizetype end = Text.indexOf('\n', at);
        const QByteArrayView line = QByteArrayView(Text).sliced(at, end - at);
        at = end + 1;
        qsizetype p = 2;
        if (line.startsWith("K ")) {
            QString path;
            if (!TakeQuoted(line, p, path) || p != line.size())
                return std::nullopt;
            if (!IsNormalSubKey(path))
                return std::nullopt;
            if (path.isEmpty()) {
                current = &store.m_Keys.front();
            } else {
                current = store.AppendNew(path);
                if (!current)
                    return std::nullopt; // a key twice
                // A parent written further down is looked for at the end.
                const qsizetype slash = path.lastIndexOf(QLatin1Char('\\'));
                if (slash > 0 && !store.FindKey(path.left(slash)))
                    orphans << path.left(slash);
            }
        } else if (line.startsWith("V ")) {
            if (!current)
                return std::nullopt;
            Value v;
            if (!TakeName(line, p, v.Name, names) || p >= line.size() || line[p] != ' ')
                return std::nullopt;
            ++p;
            const qsizetype sp = line.indexOf(' ', p);
            if (sp < 0)
                return std::nullopt;
            const QByteArrayView type = line.sliced(p, sp - p);
            p = sp + 1;
            if (type == "SZ" || type == "EXPAND_SZ") {
                v.Type = type == "SZ" ? ValueType::String : ValueType::ExpandString;
                if (!TakeQuoted(line, p, v.Text) || p != line.size())
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
                v.Type = ValueType::DWord;
                v.Dword = quint32(n);
            } else {
                return std::nullopt;
            }
            if (!current->Add(v))
                return std::nullopt; // a value twice
        } else {
            return std::nullopt;
        }
    }
    // Parents of every key exist.
    for (const QString &parent : orphans) {
        if (!store.FindKey(parent))
            return std::nullopt;
    }
    return store;
}

QByteArray Store::Serialize() const
{
    QByteArray out = kHeader + '\n';
    for (const Key &k : m_Keys) {
        out += "K ";
        AppendQuoted(out, k.Path);
        out += '\n';
        for (const Value &v : k.Values()) {
            out += "V ";
            AppendQuoted(out, v.Name);
            switch (v.Type) {
            case ValueType::String:
                out += " SZ ";
                AppendQuoted(out, v.Text);
                break;
            case ValueType::ExpandString:
                out += " EXPAND_SZ ";
                AppendQuoted(out, v.Text);
                break;
            case ValueType::DWord:
                out += " DWORD " + QByteArray::number(v.Dword);
                break;
            }
            out += '\n';
        }
    }
    return out;
}

const Key *Store::FindKey(const QString &SubKey) const
{
    const auto it = m_Index.constFind(Folded(SubKey));
    return it == m_Index.cend() ? nullptr : &m_Keys[*it];
}

Key *Store::FindKey(const QString &SubKey)
{
    return const_cast<Key *>(static_cast<const Store *>(this)->FindKey(SubKey));
}

Key &Store::Append(const QString &Path)
{
    m_Index.insert(Folded(Path), m_Keys.size());
    m_Keys.emplace_back(Path);
    return m_Keys.back();
}

Key *Store::AppendNew(const QString &Path)
{
    // One look into the index for both the test and the insertion.
    const qsizetype before = m_Index.size();
    std::size_t &place = m_Index[Folded(Path)];
    if (m_Index.size() == before)
        return nullptr;
    place = m_Keys.size();
    m_Keys.emplace_back(Path);
    return &m_Keys.back();
}

Key &Store::CreateKey(const QString &SubKey)
{
    if (m_Keys.empty())
        Append(QString());
    if (Key *k = FindKey(SubKey))
        return *k;
    const qsizetype slash = SubKey.lastIndexOf(QLatin1Char('\\'));
    QString path = SubKey;
    if (slash > 0) {
        // Keep the spelling of an existing parent.
        const QString parent = CreateKey(SubKey.left(slash)).Path;
        path = parent + SubKey.mid(slash);
    }
    return Append(path);
}

std::optional<Store> Load(RootKey Root)
{
    const auto place = PlaceOf(Root);
    if (!place)
        return std::nullopt;
    QByteArray text;
    switch (ReadStore(*place, text)) {
    case ReadResult::Missing: {
        Store empty;
        empty.CreateKey(QString());
        return empty;
    }
    case ReadResult::Error:
        return std::nullopt;
    case ReadResult::Ok:
        break;
    }
    return Store::Parse(text);
}

bool Modify(RootKey Root, const std::function<Edit(Store &)> &Change)
{
    const auto place = PlaceOf(Root);
    if (!place)
        return false;
    // Everyone's store is for everyone to read; the user's own is the user's alone.
    const auto folder = platform::files::OwnFolder::Make(place->Folder, place->Machine ? 0755 : 0700);
    if (!folder)
        return false;
    WriteLock lock(*folder, place->Name);
    if (!lock.Locked()) {
        qCWarning(lcPlatform) << "key store" << place->Name << "could not be locked";
        return false;
    }
    bool missing = false;
    std::optional<Store> store;
    if (auto text = folder->ReadFile(place->Name, kMaxStoreSize, &missing)) {
        store = Store::Parse(*text);
    } else if (missing) {
        store = Store();
        store->CreateKey(QString());
    }
    if (!store) {
        qCWarning(lcPlatform) << "key store" << place->Name << "is unreadable or damaged: left as it is";
        return false;
    }
    switch (Change(*store)) {
    case Edit::Fail:
        return false;
    case Edit::Keep:
        return true;
    case Edit::Write:
        return folder->WriteFile(place->Name, store->Serialize(), 0644);
    }
    return false;
}

} // namespace platform::registry

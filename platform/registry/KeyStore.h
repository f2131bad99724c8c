#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace platform::registry {

// The root keys by their customary handle values.
enum class RootKey : quint32 {
    ClassesRoot = 0x80000000u,
    CurrentUser = 0x80000001u,
    LocalMachine = 0x80000002u,
    Users = 0x80000003u,
    PerformanceData = 0x80000004u,
    CurrentConfig = 0x80000005u,
    DynData = 0x80000006u,
};

enum class ValueType : quint32 { String = 1, ExpandString = 2, DWord = 4 };

struct Value
{
    QString name; // as first written; looked up ignoring case
    ValueType type = ValueType::String;
    QString text;
    quint32 dword = 0;
};

// A name as the store compares it: letter case does not count. Shares the name's text and keeps
// its hash, so that names that differ are told apart without reading their text.
struct FoldedName
{
    QString text;
    size_t hash = 0;

    static FoldedName of(const QString &name);
    bool operator==(const FoldedName &other) const
    {
        return hash == other.hash && text.compare(other.text, Qt::CaseInsensitive) == 0;
    }
};
inline size_t qHash(const FoldedName &name, size_t seed = 0) noexcept
{
    return name.hash ^ seed;
}

// One key: its values in the order they were written, looked up by name (through an index once
// there are many).
class Key
{
public:
    Key() = default;
    explicit Key(const QString &Path) : path(Path) {}

    QString path; // sub-key path below the root, "\"-separated, as first written; "" is the root

    const std::vector<Value> &values() const { return m_values; }
    const Value *find(const QString &name) const;
    Value *find(const QString &name);
    // Appends a value whose name the key does not hold yet; null when it does.
    Value *add(const Value &value);
    // Removes the value of that name; false when there is none.
    bool remove(const QString &name);

private:
    // A few values are searched one by one; from this many on, through the index.
    static constexpr std::size_t kIndexFrom = 16;
    // The place of the value of that name; m_values.size() when there is none.
    std::size_t placeOf(const QString &name) const;

    std::vector<Value> m_values;
    QHash<FoldedName, std::size_t> m_index; // name -> place in m_values, once indexed
};

// One root key's store: a text file, one per root. HKEY_CURRENT_USER lives in the user's own
// config folder (platform::shell::userConfigDir), HKEY_LOCAL_MACHINE under /etc;
// $TASKVANE_REGISTRY_DIR moves both. Other roots have no store: every access to them fails.
class Store
{
public:
    static QString fileOf(RootKey root);

    // Parses a store text, in time linear in its length; nullopt when it is malformed in any way.
    static std::optional<Store> parse(const QByteArray &text);
    QByteArray serialize() const;

    // The key of a normalised sub-key path; null when absent.
    const Key *key(const QString &subKey) const;
    Key *key(const QString &subKey);
    // Creates the key and its parents when missing.
    Key &createKey(const QString &subKey);

private:
    Key &append(const QString &path);
    // Appends the key when no key of that path is there yet; null when one is.
    Key *appendNew(const QString &path);

    std::vector<Key> m_keys;                // the root first
    QHash<FoldedName, std::size_t> m_index; // path -> place in m_keys
};

// Normalises a sub-key path (outer backslashes dropped); nullopt when a part is empty or
// holds a control character.
std::optional<QString> normalizeSubKey(const QString &subKey);

// Reads a root's store. No lock is taken: every write replaces the file by a rename, so a reader
// sees one whole store or the other. A missing file is an empty store; a store that cannot be
// read, is corrupt, or is not trusted gives nullopt. Trusted: a regular file (never a FIFO or
// device) that nobody else may write, owned by the running user (HKEY_CURRENT_USER, in a folder
// of the user's alone) or by the running user or root (HKEY_LOCAL_MACHINE, on a path no one else
// can change).
std::optional<Store> load(RootKey root);

enum class Edit { Fail, Keep, Write };

// How long a writer waits for another writer's lock before it gives up.
constexpr int kLockWaitMs = 2000;

// Locks the store for writing, reads it and lets `change` look at or edit it; on Write the store
// is written back atomically (temporary file, fsync, rename). Only the store's owner writes: the
// folder and the store must be the running user's (see platform::files::OwnFolder), and the lock
// file beside the store ("<store>.lock", 0600) is opened without following a link. True for Keep
// and for a Write that reached the disk; false for Fail, for a write error, when the lock is not
// had within kLockWaitMs, and when the store cannot be read or is corrupt (a corrupt store is
// never rewritten).
bool modify(RootKey root, const std::function<Edit(Store &)> &change);

} // namespace platform::registry

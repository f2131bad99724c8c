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
    QString Name; // as first written; looked up ignoring case
    ValueType Type = ValueType::String;
    QString Text;
    quint32 Dword = 0;
};

// A name as the store compares it: letter case does not count. Shares the name's text and keeps
// its hash, so that names that differ are told apart without reading their text.
struct FoldedName
{
    QString Text;
    size_t Hash = 0;

    static FoldedName Of(const QString &Name);
    bool operator==(const FoldedName &Other) const
    {
        return Hash == Other.Hash && Text.compare(Other.Text, Qt::CaseInsensitive) == 0;
    }
};
inline size_t qHash(const FoldedName &Name, size_t Seed = 0) noexcept
{
    return Name.Hash ^ Seed;
}

// One key: its values in the order they were written, looked up by name (through an index once
// there are many).
class Key
{
public:
    Key() = default;
    explicit Key(const QString &Path) : Path(Path) {}

    QString Path; // sub-key path below the root, "\"-separated, as first written; "" is the root

    const std::vector<Value> &Values() const { return m_Values; }
    const Value *Find(const QString &Name) const;
    Value *Find(const QString &Name);
    // Appends a value whose name the key does not hold yet; null when it does.
    Value *Add(const Value &Value);
    // Removes the value of that name; false when there is none.
    bool Remove(const QString &Name);

private:
    // A few values are searched one by one; from this many on, through the index.
    static constexpr std::size_t kIndexFrom = 16;
    // The place of the value of that name; m_Values.size() when there is none.
    std::size_t PlaceOf(const QString &Name) const;

    std::vector<Value> m_Values;
    QHash<FoldedName, std::size_t> m_Index; // name -> place in m_Values, once indexed
};

// One root key's store: a text file, one per root. HKEY_CURRENT_USER lives in the user's own
// config folder (platform::shell::UserConfigDir), HKEY_LOCAL_MACHINE under /etc;
// $TASKVANE_REGISTRY_DIR moves both. Other roots have no store: every access to them fails.
class Store
{
public:
    static QString FileOf(RootKey Root);

    // Parses a store text, in time linear in its length; nullopt when it is malformed in any way.
    static std::optional<Store> Parse(const QByteArray &Text);
    QByteArray Serialize() const;

    // The key of a normalised sub-key path; null when absent.
    const Key *FindKey(const QString &SubKey) const;
    Key *FindKey(const QString &SubKey);
    // Creates the key and its parents when missing.
    Key &CreateKey(const QString &SubKey);

private:
    Key &Append(const QString &Path);
    // Appends the key when no key of that path is there yet; null when one is.
    Key *AppendNew(const QString &Path);

    std::vector<Key> m_Keys;                // the root first
    QHash<FoldedName, std::size_t> m_Index; // path -> place in m_Keys
};

// Normalises a sub-key path (outer backslashes dropped); nullopt when a part is empty or
// holds a control character.
std::optional<QString> NormalizeSubKey(const QString &SubKey);

// Reads a root's store. No lock is taken: every write replaces the file by a rename, so a reader
// sees one whole store or the other. A missing file is an empty store; a store that cannot be
// read, is corrupt, or is not trusted gives nullopt. Trusted: a regular file (never a FIFO or
// device) that nobody else may write, owned by the running user (HKEY_CURRENT_USER, in a folder
// of the user's alone) or by the running user or root (HKEY_LOCAL_MACHINE, on a path no one else
// can change).
std::optional<Store> Load(RootKey Root);

enum class Edit { Fail, Keep, Write };

// How long a writer waits for another writer's lock before it gives up.
constexpr int kLockWaitMs = 2000;

// Locks the store for writing, reads it and lets `Change` look at or edit it; on Write the store
// is written back atomically (temporary file, fsync, rename). Only the store's owner writes: the
// folder and the store must be the running user's (see platform::files::OwnFolder), and the lock
// file beside the store ("<store>.lock", 0600) is opened without following a link. True for Keep
// and for a Write that reached the disk; false for Fail, for a write error, when the lock is not
// had within kLockWaitMs, and when the store cannot be read or is corrupt (a corrupt store is
// never rewritten).
bool Modify(RootKey Root, const std::function<Edit(Store &)> &Change);

} // namespace platform::registry

#pragma once

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

struct Key
{
    QString path; // sub-key path below the root, "\"-separated, as first written; "" is the root
    std::vector<Value> values;

    const Value *find(const QString &name) const;
    Value *find(const QString &name);
};

// One root key's store: a text file, one per root. HKEY_CURRENT_USER lives in the user's
// XDG config directory, HKEY_LOCAL_MACHINE under /etc; $TASKVANE_REGISTRY_DIR moves both
// (tests). Other roots have no store: every access to them fails.
class Store
{
public:
    static QString fileOf(RootKey root);

    // Parses a store text; nullopt when it is malformed in any way.
    static std::optional<Store> parse(const QByteArray &text);
    QByteArray serialize() const;

    // The key of a normalised sub-key path; null when absent.
    const Key *key(const QString &subKey) const;
    Key *key(const QString &subKey);
    // Creates the key and its parents when missing.
    Key &createKey(const QString &subKey);

private:
    std::vector<Key> m_keys; // the root first
};

// Normalises a sub-key path (outer backslashes dropped); nullopt when a part is empty or
// holds a control character.
std::optional<QString> normalizeSubKey(const QString &subKey);

// Reads a root's store under a shared lock. A missing file is an empty store; an
// unreadable or corrupt one gives nullopt.
std::optional<Store> load(RootKey root);

enum class Edit { Fail, Keep, Write };

// Reads the store under an exclusive lock and lets `change` look at or edit it; on Write
// the store is written back atomically (temporary file, fsync, rename). True for Keep and
// for a Write that reached the disk; false for Fail, for a write error, and when the store
// cannot be read or is corrupt (a corrupt store is never rewritten).
bool modify(RootKey root, const std::function<Edit(Store &)> &change);

} // namespace platform::registry

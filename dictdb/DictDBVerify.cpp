#include "dictdb/DictDBVerify.h"

#include "dictdb/DictDBFileIO.h"
#include "dictdb/DictTableIO.h"

#include <cstring>
#include <exception>
#include <new>
#include <vector>

using namespace dictdb;

namespace {

QString Where(const QString &Table, const QString &Field = QString())
{
    if (Field.isEmpty())
        return QStringLiteral(" (table '%1')").arg(Table);
    return QStringLiteral(" (table '%1', field '%2')").arg(Table, Field);
}

// A refusal found by the check itself, as opposed to one the engine raised.
[[noreturn]] void Damage(const TDictDBFileIO &Io, const QString &Why)
{
    DatabaseErrorFmt(QString::fromLatin1(msg::kSCorruptFile), Io.DatabaseName, Why);
}

// Runs f; an engine refusal gets the table and field it concerns appended.
template <class Fn>
void InContext(const QString &Table, const QString &Field, Fn &&F)
{
    try {
        F();
    } catch (const EDatabaseError &e) {
        DatabaseError(e.Message() + Where(Table, Field));
    }
}

// The whole area, filler included, was written before anything referred to it.
void CheckBlobSlot(const TDictDBFileIO &Io, const TBlobSlot &Slot)
{
    if (Slot.Length < 0)
        Damage(Io, QStringLiteral("negative blob length"));
    if (Slot.Length == 0)
        return;
    if (Slot.Offset < kDataStart || Slot.Capacity < Slot.Length ||
        qint64(Slot.Offset) + qint64(Slot.Capacity) > Io.FileSize())
        Damage(Io, QStringLiteral("blob area outside the file"));
}

void CheckStop(const TDictDBFileIO &Io, const TDictVerifyOptions &Options)
{
    if (Options.Stop && Options.Stop())
        DatabaseErrorFmt(QStringLiteral("The check of database file '%s' was stopped"), Io.DatabaseName);
}

void VerifyTable(TDictDBFileIO &Io, int TableIdx, const QString &Name, const TDictVerifyOptions &Options)
{
    TDictTableIO table(&Io);
    table.TableName = Name;
    table.LoadTableIdx = TableIdx;
    table.RepairTornChains = false;
    InContext(Name, QString(), [&] { table.Open(); });
    struct Closer
    {
        TDictTableIO &T;
        ~Closer() { T.Close(); }
    } closer{table};

    const qint64 size = Io.FileSize();
    const qint64 recordSize = table.RecordSize;
    // Deleted records stay on the index chains: their data must lie in the file as well.
    for (size_t r = 0; r < table.RecTabItems().size(); ++r) {
        const qint64 at = table.RecTabItems()[r].DataOffset;
        if (at < kDataStart || at > size - recordSize)
            Damage(Io, QStringLiteral("record data outside the file") + Where(Name));
    }

    TDictFieldDefs *defs = table.FieldDefs();
    std::vector<char> record(static_cast<size_t>(recordSize));
    std::vector<char> plain(static_cast<size_t>(recordSize));
    for (const TRecInfo &info : table.IndexLists[0]) {
        CheckStop(Io, Options);
        InContext(Name, QString(), [&] { Io.ReadBuffer(record.data(), info.DataOffset, recordSize); });
        for (int f = 0; f < defs->Count(); ++f) {
            const TDictFieldDef *def = defs->Items(f);
            const qint32 offset = table.FieldOffsets[size_t(f)];
            InContext(Name, def->Name(), [&] {
                if (IsBlobFieldType(def->FieldType)) {
                    TBlobSlot slot;
                    std::memcpy(&slot, record.data() + offset, sizeof slot);
                    CheckBlobSlot(Io, slot);
                    TMemoryStream value;
                    Io.ReadBlobData(&value, slot, table.FieldIsCompressed(f), table.FieldIsEncrypted(f));
                } else {
                    const qint32 bytes = GetFieldSize(def->FieldType, def->FieldSize);
                    Io.DecodeMemoryBuffer(record.data() + offset, plain.data() + offset, table.FieldIsEncrypted(f),
                                          bytes);
                }
            });
        }
    }

    // The open refused any chain that misses a record or holds one twice; what is left to
    // check is the order of the live ones.
    TDictIndexDefs *indexes = table.IndexDefs();
    for (int k = 0; k < indexes->Count(); ++k) {
        const TRecInfoList &list = table.IndexLists[size_t(k) + 1];
        for (size_t i = 1; i < list.size(); ++i) {
            int c = 0;
            InContext(Name, QString(), [&] { c = table.CompareRecordKeys(list[i - 1].RecIndex, list[i].RecIndex, k); });
            if (c > 0)
                Damage(Io,
                       QStringLiteral("index '%1' is out of order at record %2")
                               .arg(indexes->Items(k)->Name())
                               .arg(list[i].RecIndex) +
                           Where(Name));
        }
    }
}

bool Verify(const QString &FileName, const TDictVerifyOptions &Options, QString *Reason)
{
    auto refuse = [&](const QString &Why) {
        if (Reason)
            *Reason = Why;
        return false;
    };
    try {
        TDictDBFileIO io;
        io.ReadOnlyAccess = true;
        io.Open(FileName, mtDisk, false);
        if (io.Encrypted()) {
            bool open = false;
            for (const QString &p : Options.Passwords)
                if (io.SetPassword(p)) {
                    open = true;
                    break;
                }
            if (!open)
                return refuse(
                    QStringLiteral("Database file '%1' is enciphered and no password given opens it").arg(FileName));
        }
        QStringList names;
        io.GetTableNames(names);
        for (int i = 0; i < names.size(); ++i)
            VerifyTable(io, i, names.at(i), Options);
        if (Options.ExactExtent)
            io.CheckExactExtent();
    } catch (const dataaccess::Exception &e) {
        return refuse(e.Message().isEmpty() ? QStringLiteral("Database file '%1' cannot be read").arg(FileName)
                                            : e.Message());
    } catch (const std::bad_alloc &) {
        return refuse(QStringLiteral("Database file '%1' is too large to check").arg(FileName));
    } catch (const std::exception &e) {
        return refuse(
            QStringLiteral("Database file '%1' cannot be read: %2").arg(FileName, QString::fromLocal8Bit(e.what())));
    } catch (...) {
        return refuse(QStringLiteral("Database file '%1' cannot be read").arg(FileName));
    }
    if (Reason)
        Reason->clear();
    return true;
}

} // namespace

bool VerifyDictDatabaseFile(const QString &FileName, QString *Reason)
{
    return Verify(FileName, TDictVerifyOptions(), Reason);
}

bool VerifyDictDatabaseFile(const QString &FileName, const QStringList &Passwords, QString *Reason)
{
    TDictVerifyOptions options;
    options.Passwords = Passwords;
    return Verify(FileName, options, Reason);
}

bool VerifyDictDatabaseFile(const QString &FileName, const TDictVerifyOptions &Options, QString *Reason)
{
    return Verify(FileName, Options, Reason);
}

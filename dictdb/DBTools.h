#pragma once

// The dictionary access: the process dictionary's version and its look-up by process
// name, read from Ravel.db. Every failure is silent.

#include <QString>
#include <QStringList>

#include <functional>

// The version of no dictionary: what the look-ups answer without one, and what a descriptor
// without a dictionary version offers.
inline const QString kNoDictVersion = QStringLiteral("0000-00-00");

// What a check of one file found, and which file that was: it stays the same file while its
// device, inode, size and modification time do.
struct TDictFileCheck
{
    bool Whole = false;
    QString Version = kNoDictVersion;
    quint64 Device = 0;
    quint64 Inode = 0;
    qint64 Size = 0;
    qint64 ModifySeconds = 0;
    quint32 ModifyNanoseconds = 0;

    bool SameFile(const TDictFileCheck &Other) const
    {
        return Device == Other.Device && Inode == Other.Inode && Size == Other.Size &&
            ModifySeconds == Other.ModifySeconds && ModifyNanoseconds == Other.ModifyNanoseconds;
    }
};

// Where Ravel.db may lie, as the program's start finds it: the user's own copy (the one the
// update writes) and the copies shipped with the program, in the order they are looked for.
// Only a file that is a whole dictionary is used (CheckDictFile, done once for each file
// identity); of the user's copy and the first whole shipped copy the newer
// is used, so that an old download never hides the newer dictionary of an upgrade. `IsNewer`
// compares two version texts as the update check does (true when Offered is newer than Own).
struct TDictFiles
{
    QString UserFile;
    QStringList ShippedFiles;
    std::function<bool(const QString &Offered, const QString &Own)> IsNewer;
};

// Run by the unit's start and end; the table lives between them.
void CreateDictTable();
void FreeDictTable();

// Sets the places above and chooses the file the look-ups read. Until it is called there is no
// dictionary.
void SetDictFiles(const TDictFiles &Files);
// The file the look-ups read, as chosen by the last CreateDictTable, SetDictFiles or
// GetDictVersion; empty when no place holds a whole dictionary.
QString DictFileInUse();

// kNoDictVersion unless the dictionary answers with its version. Chooses the file afresh (a file
// replaced or added since is seen).
void GetDictVersion(QString &Version);
// The same for a dictionary file elsewhere; later look-ups read that file (until the next
// GetDictVersion or SetDictFiles chooses again).
void GetDictVersionIn(const QString &FileName, QString &Version);
// The version of the dictionary in use, chosen afresh as GetDictVersion chooses it, as the check
// of that file found it: a file that is still the one checked is not opened again.
QString CheckedDictVersion();

// Checks a file as the choice above does: a whole dictionary (the engine's read-only
// verification) that ends where its structures end, and its version. Uses none of the
// look-ups' state, so any thread may ask; Stop, asked between records, ends the check as a
// refusal. A file that changed while it was checked is refused.
TDictFileCheck CheckDictFile(const QString &FileName, const std::function<bool()> &Stop = {});
// Replaces the dictionary To by From when From is a whole dictionary (CheckDictFile) of at most
// Limit bytes: To is written beside itself and renamed, so that it is never seen half written
// and stays as it was on any failure. Any thread. True when To was replaced; Installed then says
// what To is now, for TakeDictFileCheck.
bool InstallDictFile(const QString &From, const QString &To, qint64 Limit, TDictFileCheck &Installed,
                     const std::function<bool()> &Stop = {});
// The choice takes what a check made elsewhere found (such as the worker that installed the
// file): while the file stays that file it is not checked again.
void TakeDictFileCheck(const QString &FileName, const TDictFileCheck &Check);

// True with the description and the dangerous flag when the name is in the dictionary;
// otherwise False, and Description and IsVirus keep what they held.
bool LookupProcess(const QString &Name, QString &Description, bool &IsVirus);

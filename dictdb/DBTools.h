#pragma once

// The dictionary access: the process dictionary's version and its look-up by process
// name, read from Ravel.db. Every failure is silent.

#include <QString>
#include <QStringList>

#include <functional>

// Where Ravel.db may lie, as the program's start finds it: the user's own copy (the one the
// update writes) and the copies shipped with the program, in the order they are looked for.
// Only a file that is a whole dictionary is used (the engine's read-only verification, done
// once for each file identity); of the user's copy and the first whole shipped copy the newer
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

// The version of no dictionary: what the look-ups answer without one, and what a descriptor
// without a dictionary version offers.
inline const QString kNoDictVersion = QStringLiteral("0000-00-00");

// kNoDictVersion unless the dictionary answers with its version. Chooses the file afresh (a file
// replaced or added since is seen).
void GetDictVersion(QString &Version);
// The same for a dictionary file elsewhere; later look-ups read that file (until the next
// GetDictVersion or SetDictFiles chooses again).
void GetDictVersionIn(const QString &FileName, QString &Version);
// True with the file's version when the file is a whole dictionary (checked as the choice above
// checks); the look-ups keep the file they read. Version is kNoDictVersion when false.
bool ReadWholeDictVersion(const QString &FileName, QString &Version);

// True with the description and the dangerous flag when the name is in the dictionary;
// otherwise False, and Description and IsVirus keep what they held.
bool LookupProcess(const QString &Name, QString &Description, bool &IsVirus);

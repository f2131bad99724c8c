#pragma once

// The dictionary access: the process dictionary's version and its look-up by process
// name, read from Ravel.db in the program directory. Every failure is silent.

#include <QString>

// Run by the unit's start and end; the table lives between them.
void CreateDictTable();
void FreeDictTable();

// "0000-00-00" unless the dictionary answers with its version.
void GetDictVersion(QString &Version);
// The same for a dictionary file elsewhere; later look-ups read that file.
void GetDictVersionIn(const QString &FileName, QString &Version);

// True with the description and the dangerous flag when the name is in the dictionary;
// otherwise False, and Description and IsVirus keep what they held.
bool LookupProcess(const QString &Name, QString &Description, bool &IsVirus);

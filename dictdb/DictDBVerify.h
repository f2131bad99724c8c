#pragma once

// A read-only check that a file is a whole, readable database: for deciding whether a
// copied or downloaded file may take the place of a good one.

#include <QString>
#include <QStringList>

// True only when the file opens as a complete database: every table loads, every record
// and every blob reads (deciphered and decompressed where the file says so), and every
// index chain holds every record once, its live records in key order. Opens the file for
// reading only, never writes or repairs it, never waits for a writer for long, never
// raises, and reads no more than the file can hold. An index chain torn by an
// interrupted write counts as damage here although a writer's open would mend it. On
// false, Reason (when given) says in English which file, table and field is wrong.
bool VerifyDictDatabaseFile(const QString &FileName, QString *Reason = nullptr);
// The same for an enciphered file, trying each password in turn; a file that needs a
// password none of them opens is refused.
bool VerifyDictDatabaseFile(const QString &FileName, const QStringList &Passwords, QString *Reason);

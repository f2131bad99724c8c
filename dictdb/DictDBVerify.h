#pragma once

// A read-only check that a file is a whole, readable database: for deciding whether a
// copied or downloaded file may take the place of a good one.

#include <QString>
#include <QStringList>

#include <functional>

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

// How strictly the check above judges, beyond a file being whole.
struct TDictVerifyOptions
{
    // Tried in turn for an enciphered file.
    QStringList Passwords{QString()};
    // The file must also end where its structures end (TDictDBFileIO::CheckExactExtent): for a
    // file handed on whole, such as a download, which no interrupted write can have lengthened.
    bool ExactExtent = false;
    // Asked between records; true ends the check, as a refusal.
    std::function<bool()> Stop;
};
bool VerifyDictDatabaseFile(const QString &FileName, const TDictVerifyOptions &Options, QString *Reason);

#pragma once

#include <QString>

namespace platform::files {

// Byte access on an open file descriptor for the stream classes above this layer. Every
// transfer is retried after an interruption and stops at the end of the file or at the
// first error.

enum class HandleAccess { Read, Write, ReadWrite };
enum class HandleSeek { Start, Current, End };

// Opens an existing file (Create false; a regular file only, without waiting for it, as
// OpenRegularFile does) or creates or truncates one for reading and writing (Create true; Access
// is then ignored). -1 on failure, with the system's text in Why.
int OpenHandle(const QString &Path, HandleAccess Access, bool Create, QString &Why);
// The non-blocking whole-file lock of cooperating openers: shared or exclusive. False with
// the system's text in Why when another opener holds a lock that refuses it.
bool LockHandle(int Handle, bool Exclusive, QString &Why);
void CloseHandle(int Handle);
// Whether this process may open the file for writing, by the system's access check.
bool MayWriteFile(const QString &Path);

// A lock on a range of bytes, held by the open file description (so also between threads
// of one process) and released when it is closed.
enum class RangeLock { None, Shared, Exclusive };
enum class RangeLockResult { Done, Busy, Failed };
// Sets the range's lock to Type without waiting: Busy while another holder refuses it,
// Failed (with the system's text in Why) on any other error. None releases it.
RangeLockResult LockRange(int Handle, qint64 Start, qint64 Length, RangeLock Type, QString &Why);
// Writes the file's data and metadata through to the disk.
bool SyncHandle(int Handle);

// Bytes moved from or to the current position.
qint64 ReadHandle(int Handle, void *Buffer, qint64 Count);
qint64 WriteHandle(int Handle, const void *Buffer, qint64 Count);
// Bytes moved at Position, leaving the current position alone. When fewer bytes than asked
// move, Error is the system's error number (0 at the end of the file; a write that moves
// nothing without an error counts as a full disk).
qint64 ReadHandleAt(int Handle, qint64 Position, void *Buffer, qint64 Count, int &Error);
qint64 WriteHandleAt(int Handle, qint64 Position, const void *Buffer, qint64 Count, int &Error);

// The new position, -1 on failure.
qint64 SeekHandle(int Handle, qint64 Offset, HandleSeek Origin);
// The file's size, -1 on failure.
qint64 HandleSize(int Handle);
bool TruncateHandle(int Handle, qint64 Size);

} // namespace platform::files

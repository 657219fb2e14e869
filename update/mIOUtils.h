#pragma once
// File utilities of the update package: the digest and size of a file, and a free name.
// A file exists here when the path names something other than a folder; a symbolic link
// counts as its target.

#include <QString>

// The MD5 digest of the file's content as 32 lower-case hexadecimal digits; empty when no
// file exists at AFileName. A file that cannot be opened alone, or that is no regular file (a
// FIFO is never waited on), raises EFOpenError.
QString GetFileMD5(const QString& AFileName);

// The file's size in bytes; -1 when no file exists at AFileName or its entry cannot be read.
qint64 GetFileSizeOf(const QString& AFileName);

// AFileName as a full path, with a new name in the same folder when a file exists there.
// Raises the path checks' failures.
QString MakeUniqueFileName(const QString& AFileName);

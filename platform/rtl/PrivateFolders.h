#pragma once
// Folders that hold files the program writes and later loads must be the user's alone, or
// another user could put a file of their own in their place. Both checks raise EInOutError
// with the reason.

#include <QString>

// APath itself (a symbolic link is not followed, and refused) must be a folder that belongs
// to the user and that neither the group nor others may write to.
void CheckPrivateFolder(const QString& APath);

// APath (followed) may hold private folders: it belongs to the user or to root, and when the
// group or others may write to it, its sticky bit keeps them from renaming or removing what
// is not theirs (as in /tmp).
void CheckSafeParentFolder(const QString& APath);

// What a folder entry is, judged without following a symbolic link.
enum class TEntryKind {
    None,         // nothing there
    Folder,       // a folder (not a link to one)
    PrivateFile,  // a regular file of the user's that neither the group nor others may write to
    Other,        // anything else: a link (dangling or not), a FIFO, a socket, a device, a file
                  // of another user's or one that others may write to
};
// EInOutError "Cannot check file "%s". %s" when the entry cannot be looked at.
TEntryKind EntryKind(const QString& APath);

// Whether programs may be loaded from files in AFolder: false when its file system is mounted
// noexec. A folder that does not exist yet is judged by the nearest one above it that exists.
// EInOutError "Cannot check folder "%s". %s" when that cannot be found out.
bool AllowsExecution(const QString& AFolder);

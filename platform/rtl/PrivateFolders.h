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

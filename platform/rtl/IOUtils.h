#pragma once
// Paths, files and folders as the run-time library offers them, with Linux meanings: "/" is
// the only separator, a rooted path starts with "/", and NUL is the only character a path may
// not hold. Drives and path formats do not exist here, so the checks for them never fail.
//
// A path is too long when it has PATH_MAX (4096) characters or more, the longest path Linux
// takes with its terminating NUL.

#include <QByteArrayView>
#include <QString>

class TPath {
public:
    static constexpr qsizetype MaxPathLength = 4096;  // PATH_MAX

    // Joins two parts with one "/": an empty part gives the other part, a rooted second part
    // stands alone. EArgumentException "Invalid characters in path" for a NUL in either part.
    static QString Combine(const QString& APath1, const QString& APath2);

    // The absolute form of APath: a relative path is taken against the current folder, "."
    // and ".." parts are resolved by name (symbolic links are not followed) and repeated
    // separators collapse; a trailing separator stays. Fails with "Invalid characters in path",
    // "The specified path is too long" or the system's text when the current folder is gone.
    static QString GetFullPath(const QString& APath);

    // The text before the last "/" ("/" itself for a file in the root folder; empty when there
    // is no separator). The text after the last "/" (the whole path when there is none).
    // Both fail with "Invalid characters in path" for a NUL.
    static QString GetDirectoryName(const QString& APath);
    static QString GetFileName(const QString& APath);

    // False for a NUL in the path; true otherwise.
    static bool HasValidPathChars(const QString& APath);
};

class TFile {
public:
    // True when APath names something that is not a folder. A symbolic link counts as its
    // target (a dangling link is no file).
    static bool Exists(const QString& APath);

    // Writes ABytes to APath, creating or truncating the file, and holds the file exclusively
    // (an exclusive lock, taken before the old content is cut) while writing. A new file is
    // private to the user (mode 0600). Fails with EFCreateError "Cannot create file "%s". %s"
    // (the full path and the system's text), also when the file is in use or a write fails,
    // and when APath names a symbolic link ("Is a symbolic link"; the link is never followed)
    // or anything else that is not a regular file ("Not a regular file").
    static void WriteAllBytes(const QString& APath, QByteArrayView ABytes);

    // Deletes the file at APath (a link itself, never its target). Path checks as GetFullPath;
    // every failure of the system raises EInOutError with the system's text and its code
    // (errno): none passes silently, and callers judge the code.
    static void Delete(const QString& APath);
};

class TDirectory {
public:
    // True when APath names a folder (a symbolic link counts as its target).
    static bool Exists(const QString& APath);

    // Creates APath with every missing parent folder. Folders made here are private to the
    // user (mode 0700). Failure: EInOutError "Cannot create folder "%s". %s".
    static void CreateDirectory(const QString& APath);
};

// A file opened for reading that no one else may open while it is open (an exclusive lock,
// refused at once when anyone else holds the file). Closed by the destructor.
class TFileStream {
public:
    // EFOpenError "Cannot open file "%s". %s" (the full path and the system's text) when the
    // file cannot be opened, is a folder or anything else but a regular file ("Not a regular
    // file"; nothing blocks on a FIFO), or someone else has it open.
    explicit TFileStream(const QString& AFileName);
    ~TFileStream();
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    // Up to ACount bytes from the current position; 0 at the end. EReadError when the system
    // fails the read.
    qint64 Read(char* ABuffer, qint64 ACount);

private:
    int FHandle;
};

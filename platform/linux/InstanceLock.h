#pragma once
// One copy of the updater per working folder. The copy that starts first holds an exclusive
// flock on a lock file in that folder for its whole run; a second copy must not unpack over
// the first one's files nor talk to the same boot loader. The kernel drops the lock with its
// process, so a lock file left behind by a crashed copy is free again.

#include <QString>

#include <memory>

class TInstanceLock {
public:
    enum class TStatus {
        Acquired,  // this process holds the lock until the object goes
        Busy,      // another process holds it
        Failed,    // the folder or the lock file is unusable (AErMsg names it, says why and what to do)
    };

    // Makes AFolder (and its missing parents) private to the user when missing, refuses it
    // unless it is a folder of the user's that no one else may write to (a link is not
    // followed), then tries the lock without waiting. The lock file is opened without
    // following a link.
    static std::unique_ptr<TInstanceLock> Acquire(const QString& AFolder, TStatus& AStatus, QString& AErMsg);

    ~TInstanceLock();
    TInstanceLock(const TInstanceLock&) = delete;
    TInstanceLock& operator=(const TInstanceLock&) = delete;

    QString Path() const { return FPath; }

    // The lock file's name inside the folder.
    static QString FileName();

private:
    TInstanceLock(int AFd, QString APath);
    int FFd;
    QString FPath;
};

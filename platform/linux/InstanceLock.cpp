#include "InstanceLock.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// What the user can do, after the reason. Without the lock a second copy could drive the same
// boot loader, so the program does not start.
const QString cRemoveIt = QStringLiteral(
    "\r\nThat name belongs to the updater's lock file: remove \"%1\" and start the updater again.");
const QString cOtherFolder = QStringLiteral(
    "\r\nStart the updater with TMPDIR set to a folder of your own on a local file system.");

QString SystemText(int AErrno)
{
    return QString::fromLocal8Bit(std::strerror(AErrno));
}

// Each missing part of the path is made with mode 0700; existing parts are left as they are
// (the package manager judges them before it writes anything).
bool MakeFolders(const QString& AFolder, QString& AErMsg)
{
    const QString clean = QDir::cleanPath(AFolder);
    QString path = clean.startsWith(u'/') ? QStringLiteral("/") : QString();
    for (const QString& part : clean.split(u'/', Qt::SkipEmptyParts)) {
        path = path.isEmpty() || path.endsWith(u'/') ? path + part : path + u'/' + part;
        const QByteArray native = QFile::encodeName(path);
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
            AErMsg = QStringLiteral("Cannot create folder \"%1\": %2.").arg(path, SystemText(errno)) + cOtherFolder;
            return false;
        }
    }
    return true;
}

}  // namespace

QString TInstanceLock::FileName()
{
    return QStringLiteral("updater.lock");
}

std::unique_ptr<TInstanceLock> TInstanceLock::Acquire(const QString& AFolder, TStatus& AStatus, QString& AErMsg)
{
    AStatus = TStatus::Failed;
    AErMsg.clear();
    if (!MakeFolders(AFolder, AErMsg))
        return nullptr;
    const QString path = QDir::cleanPath(AFolder) + u'/' + FileName();
    const QByteArray native = QFile::encodeName(path);
    // Not blocking: a FIFO there must not hold the start.
    const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) {
        AErMsg = QStringLiteral("Cannot open lock file \"%1\": %2.").arg(path, SystemText(errno)) + cRemoveIt.arg(path);
        return nullptr;
    }
    std::unique_ptr<TInstanceLock> lock(new TInstanceLock(fd, path));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        AErMsg = QStringLiteral("Lock file \"%1\" is not a file of this user.").arg(path) + cRemoveIt.arg(path);
        return nullptr;
    }
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        if (errno == EWOULDBLOCK) {
            AStatus = TStatus::Busy;
            AErMsg = QStringLiteral("The firmware updater is already running. Finish the update in its window "
                                    "or close it before starting the updater again.\r\n(lock file \"%1\")")
                         .arg(path);
        } else {
            AErMsg = QStringLiteral("Cannot lock \"%1\": %2.").arg(path, SystemText(errno)) + cOtherFolder;
        }
        return nullptr;
    }
    AStatus = TStatus::Acquired;
    return lock;
}

TInstanceLock::TInstanceLock(int AFd, QString APath) : FFd(AFd), FPath(std::move(APath)) {}

TInstanceLock::~TInstanceLock()
{
    // Closing drops the lock; the file stays for the next copy.
    ::close(FFd);
}

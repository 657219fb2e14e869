#include "InstanceLock.h"

#include <rtl/IOUtils.h>
#include <rtl/PrivateFolders.h>
#include <rtl/SysUtils.h>

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

// Missing parts are made private to the user; the folder itself is then judged as the
// working folder is before anything is unpacked there (never followed), so the lock file is
// never made where a link points nor where another user could swap it.
bool MakePrivateFolder(const QString& AFolder, QString& AErMsg)
{
    try {
        TDirectory::CreateDirectory(AFolder);
        CheckPrivateFolder(AFolder);
        return true;
    } catch (const Exception& E) {
        AErMsg = E.Message() + cOtherFolder;
        return false;
    }
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
    if (!MakePrivateFolder(AFolder, AErMsg))
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

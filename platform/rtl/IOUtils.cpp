#include "IOUtils.h"

#include "SysUtils.h"

#include <QStringList>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

const QString cFolderCreateError = QStringLiteral("Cannot create folder \"%s\". %s");
const QString cNotRegular = QStringLiteral("Not a regular file");
const QString cSymbolicLink = QStringLiteral("Is a symbolic link");

QByteArray Native(const QString& APath)
{
    return APath.toLocal8Bit();
}

void CheckPathChars(const QString& APath)
{
    if (!TPath::HasValidPathChars(APath))
        throw EArgumentException(RtlConsts::SInvalidCharsInPath);
}

void CheckPathLength(const QString& APath)
{
    if (APath.size() >= TPath::MaxPathLength)
        throw EPathTooLongException(RtlConsts::SPathTooLong);
}

QString CurrentFolder()
{
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer)) {
        const int error = errno;
        throw EInOutError(SysErrorMessage(error), error);
    }
    return QString::fromLocal8Bit(buffer);
}

// The full path for a failure message: never fails itself.
QString MessagePath(const QString& APath)
{
    try {
        return TPath::GetFullPath(APath);
    } catch (const Exception&) {
        return APath;
    }
}

// Closes a descriptor on every way out.
class TDescriptor {
public:
    explicit TDescriptor(int AHandle) : FHandle(AHandle) {}
    ~TDescriptor()
    {
        if (FHandle >= 0)
            ::close(FHandle);
    }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    int Get() const { return FHandle; }
    int Release() { return std::exchange(FHandle, -1); }

private:
    int FHandle;
};

}  // namespace

bool TPath::HasValidPathChars(const QString& APath)
{
    return !APath.contains(QChar(u'\0'));
}

QString TPath::Combine(const QString& APath1, const QString& APath2)
{
    if (APath1.isEmpty())
        return APath2;
    if (APath2.isEmpty())
        return APath1;
    CheckPathChars(APath1);
    CheckPathChars(APath2);
    if (APath2.startsWith(u'/'))
        return APath2;
    if (APath1.endsWith(u'/'))
        return APath1 + APath2;
    return APath1 + u'/' + APath2;
}

QString TPath::GetFullPath(const QString& APath)
{
    CheckPathChars(APath);
    CheckPathLength(APath);
    const QString absolute = APath.startsWith(u'/') ? APath : Combine(CurrentFolder(), APath);
    QStringList parts;
    for (const QString& part : absolute.split(u'/', Qt::SkipEmptyParts)) {
        if (part == u".")
            continue;
        if (part == u"..") {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(part);
    }
    QString result = u'/' + parts.join(u'/');
    if (!parts.isEmpty() && absolute.endsWith(u'/'))
        result += u'/';
    CheckPathLength(result);
    return result;
}

QString TPath::GetDirectoryName(const QString& APath)
{
    CheckPathChars(APath);
    const qsizetype slash = APath.lastIndexOf(u'/');
    if (slash < 0)
        return QString();
    if (slash == 0)
        return QStringLiteral("/");
    return APath.left(slash);
}

QString TPath::GetFileName(const QString& APath)
{
    CheckPathChars(APath);
    return APath.mid(APath.lastIndexOf(u'/') + 1);
}

bool TFile::Exists(const QString& APath)
{
    struct stat info;
    if (APath.isEmpty() || !TPath::HasValidPathChars(APath) || ::stat(Native(APath).constData(), &info) != 0)
        return false;
    return !S_ISDIR(info.st_mode);
}

void TFile::WriteAllBytes(const QString& APath, QByteArrayView ABytes)
{
    auto fail = [&](const QString& AReason) {
        throw EFCreateError(Format(RtlConsts::SFCreateErrorEx, {MessagePath(APath), AReason}));
    };
    auto failWith = [&](int AError) { fail(SysErrorMessage(AError)); };
    if (!TPath::HasValidPathChars(APath))
        failWith(EINVAL);
    const QByteArray path = Native(APath);
    // The entry is judged as it is: a link is never followed, so nothing is written where a
    // link points, and only a regular file is ever opened for writing.
    struct stat entry;
    const bool present = ::lstat(path.constData(), &entry) == 0;
    if (!present && errno != ENOENT)
        failWith(errno);
    if (present && S_ISDIR(entry.st_mode))
        failWith(EISDIR);
    if (present && S_ISLNK(entry.st_mode))
        fail(cSymbolicLink);
    if (present && !S_ISREG(entry.st_mode))
        fail(cNotRegular);
    // A new file must be new (whatever appeared meanwhile is refused) and is the user's alone.
    // An existing one: no O_TRUNC, the old content is cut only once the lock is ours, so a
    // file that someone else holds stays as it is.
    const int flags = O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | (present ? 0 : O_CREAT | O_EXCL);
    TDescriptor file(::open(path.constData(), flags, 0600));
    if (file.Get() < 0)
        failWith(errno);
    struct stat opened;
    if (::fstat(file.Get(), &opened) != 0)
        failWith(errno);
    if (present && (opened.st_dev != entry.st_dev || opened.st_ino != entry.st_ino))
        failWith(EAGAIN);  // replaced between the look and the open
    if (::flock(file.Get(), LOCK_EX | LOCK_NB) != 0 || ::ftruncate(file.Get(), 0) != 0)
        failWith(errno);
    const char* data = ABytes.data();
    qsizetype left = ABytes.size();
    while (left > 0) {
        const ssize_t written = ::write(file.Get(), data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            failWith(errno);
        }
        data += written;
        left -= written;
    }
    if (::close(file.Release()) != 0)
        failWith(errno);
}

void TFile::Delete(const QString& APath)
{
    CheckPathChars(APath);
    CheckPathLength(APath);
    if (::unlink(Native(APath).constData()) != 0) {
        const int error = errno;
        throw EInOutError(SysErrorMessage(error), error);
    }
}

bool TDirectory::Exists(const QString& APath)
{
    struct stat info;
    if (APath.isEmpty() || !TPath::HasValidPathChars(APath) || ::stat(Native(APath).constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode);
}

void TDirectory::CreateDirectory(const QString& APath)
{
    const QString full = TPath::GetFullPath(APath);
    QString folder;
    for (const QString& part : full.split(u'/', Qt::SkipEmptyParts)) {
        folder += u'/' + part;
        if (::mkdir(Native(folder).constData(), 0700) == 0 || (errno == EEXIST && Exists(folder)))
            continue;
        const int error = errno == EEXIST ? ENOTDIR : errno;
        throw EInOutError(Format(cFolderCreateError, {folder, SysErrorMessage(error)}), error);
    }
}

TFileStream::TFileStream(const QString& AFileName) : FHandle(-1)
{
    auto fail = [&](int AError) {
        throw EFOpenError(Format(RtlConsts::SFOpenErrorEx, {MessagePath(AFileName), SysErrorMessage(AError)}));
    };
    if (!TPath::HasValidPathChars(AFileName))
        fail(EINVAL);
    // Without blocking: opening a FIFO for reading would wait for a writer.
    TDescriptor file(::open(Native(AFileName).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.Get() < 0)
        fail(errno);
    struct stat info;
    if (::fstat(file.Get(), &info) != 0)
        fail(errno);
    if (S_ISDIR(info.st_mode))
        fail(EISDIR);
    // Only regular files are read: a FIFO, a socket or a device could block or never end.
    if (!S_ISREG(info.st_mode))
        throw EFOpenError(Format(RtlConsts::SFOpenErrorEx, {MessagePath(AFileName), cNotRegular}));
    if (::flock(file.Get(), LOCK_EX | LOCK_NB) != 0)
        fail(errno);
    FHandle = file.Release();
}

TFileStream::~TFileStream()
{
    ::close(FHandle);
}

qint64 TFileStream::Read(char* ABuffer, qint64 ACount)
{
    for (;;) {
        const ssize_t count = ::read(FHandle, ABuffer, size_t(ACount));
        if (count >= 0)
            return count;
        if (errno != EINTR)
            throw EReadError(SysErrorMessage(errno));
    }
}

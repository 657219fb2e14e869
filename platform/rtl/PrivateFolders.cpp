#include "PrivateFolders.h"

#include "IOUtils.h"
#include "SysUtils.h"

#include <cerrno>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

const QString cNotPrivate = QStringLiteral("The folder \"%s\" is not private to the user: %s.");
const QString cNotSafe = QStringLiteral("The folder \"%s\" is not safe for the user's files: %s.");
const QString cCannotCheck = QStringLiteral("Cannot check folder \"%s\". %s");
const QString cCannotCheckFile = QStringLiteral("Cannot check file \"%s\". %s");

[[noreturn]] void Refuse(const QString& AMessage, const QString& APath, const char* AReason)
{
    throw EInOutError(Format(AMessage, {APath, QString::fromLatin1(AReason)}));
}

struct stat Status(const QString& APath, bool AFollowLink)
{
    struct stat info;
    const QByteArray path = APath.toLocal8Bit();
    if ((AFollowLink ? ::stat(path.constData(), &info) : ::lstat(path.constData(), &info)) != 0) {
        const int error = errno;
        throw EInOutError(Format(cCannotCheck, {APath, SysErrorMessage(error)}), error);
    }
    return info;
}

}  // namespace

void CheckPrivateFolder(const QString& APath)
{
    const struct stat info = Status(APath, false);
    if (S_ISLNK(info.st_mode))
        Refuse(cNotPrivate, APath, "it is a symbolic link");
    if (!S_ISDIR(info.st_mode))
        Refuse(cNotPrivate, APath, "it is not a folder");
    if (info.st_uid != ::geteuid())
        Refuse(cNotPrivate, APath, "it belongs to another user");
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        Refuse(cNotPrivate, APath, "others may write to it");
}

void CheckSafeParentFolder(const QString& APath)
{
    const struct stat info = Status(APath, true);
    if (!S_ISDIR(info.st_mode))
        Refuse(cNotSafe, APath, "it is not a folder");
    if (info.st_uid != ::geteuid() && info.st_uid != 0)
        Refuse(cNotSafe, APath, "it belongs to another user");
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) && !(info.st_mode & S_ISVTX))
        Refuse(cNotSafe, APath, "others may write to it");
}

TEntryKind EntryKind(const QString& APath)
{
    struct stat info;
    if (::lstat(APath.toLocal8Bit().constData(), &info) != 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return TEntryKind::None;
        throw EInOutError(Format(cCannotCheckFile, {APath, SysErrorMessage(error)}), error);
    }
    if (S_ISDIR(info.st_mode))
        return TEntryKind::Folder;
    if (S_ISREG(info.st_mode) && info.st_uid == ::geteuid() && !(info.st_mode & (S_IWGRP | S_IWOTH)))
        return TEntryKind::PrivateFile;
    return TEntryKind::Other;
}

bool AllowsExecution(const QString& AFolder)
{
    QString folder = TPath::GetFullPath(AFolder);
    for (;;) {
        struct statvfs info;
        if (::statvfs(folder.toLocal8Bit().constData(), &info) == 0)
            return !(info.f_flag & ST_NOEXEC);
        const int error = errno;
        if (error != ENOENT || folder == u"/")
            throw EInOutError(Format(cCannotCheck, {folder, SysErrorMessage(error)}), error);
        folder = TPath::GetDirectoryName(folder);
    }
}

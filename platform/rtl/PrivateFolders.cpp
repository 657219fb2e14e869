#include "PrivateFolders.h"

#include "SysUtils.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString cNotPrivate = QStringLiteral("The folder \"%s\" is not private to the user: %s.");
const QString cNotSafe = QStringLiteral("The folder \"%s\" is not safe for the user's files: %s.");
const QString cCannotCheck = QStringLiteral("Cannot check folder \"%s\". %s");

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

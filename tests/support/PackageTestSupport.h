#pragma once
// Helpers of the package manager and file utility tests: real files in the test's private
// temporary folder, md5sum as the independent digest, and a way to make root obey file
// permissions for a moment.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTest>

#include <linux/capability.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace PackageTest {

inline QByteArray ReadAll(const QString& APath)
{
    QFile file(APath);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

inline bool WriteAll(const QString& APath, const QByteArray& ABytes)
{
    QFile file(APath);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(ABytes) == ABytes.size();
}

// The digest as md5sum prints it.
inline QString Md5Sum(const QString& APath)
{
    QProcess md5sum;
    md5sum.start(QStringLiteral("md5sum"), {APath});
    if (!md5sum.waitForFinished(30000) || md5sum.exitCode() != 0)
        return QStringLiteral("md5sum failed");
    return QString::fromLatin1(md5sum.readAllStandardOutput().left(32));
}

inline bool MakeFolder(const QString& APath, mode_t AMode)
{
    return ::mkdir(QFile::encodeName(APath).constData(), 0700) == 0
        && ::chmod(QFile::encodeName(APath).constData(), AMode) == 0;
}

inline mode_t Mode(const QString& APath)
{
    struct stat info;
    if (::lstat(QFile::encodeName(APath).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

inline struct stat Status(const QString& APath)
{
    struct stat info {};
    ::lstat(QFile::encodeName(APath).constData(), &info);
    return info;
}

// The names in a folder, sorted; hidden ones included.
inline QStringList Entries(const QString& AFolder)
{
    return QDir(AFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// While it lives, the calling thread's file permission checks apply to root as to anyone:
// the capabilities that override them leave the effective set. Nothing changes for others.
class TObeyPermissions {
public:
    TObeyPermissions()
    {
        if (::geteuid() != 0)
            return;
        FHeader.version = _LINUX_CAPABILITY_VERSION_3;
        FHeader.pid = 0;
        if (::syscall(SYS_capget, &FHeader, FSaved) != 0)
            return;
        __user_cap_data_struct lowered[2] = {FSaved[0], FSaved[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        FActive = ::syscall(SYS_capset, &FHeader, lowered) == 0;
    }
    ~TObeyPermissions()
    {
        if (FActive)
            ::syscall(SYS_capset, &FHeader, FSaved);
    }
    TObeyPermissions(const TObeyPermissions&) = delete;
    TObeyPermissions& operator=(const TObeyPermissions&) = delete;
    // False when root could not give up the override (permissions would not hold).
    bool Holds() const { return ::geteuid() != 0 || FActive; }

private:
    __user_cap_header_struct FHeader{};
    __user_cap_data_struct FSaved[2]{};
    bool FActive = false;
};

// A fresh tmpfs (mode 0700) at APath with the mount flags AFlags (MS_NOEXEC, say). Only the
// calling thread sees it: the first call gives the thread a mount namespace of its own, which
// ends with the process, so nothing is left mounted. False where this process may not mount
// (not root, or no namespaces here).
inline bool MountTmpfs(const QString& APath, unsigned long AFlags)
{
    static thread_local const bool own =
        ::unshare(CLONE_NEWNS) == 0 && ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return own && ::mount("tmpfs", QFile::encodeName(APath).constData(), "tmpfs", AFlags, "mode=0700") == 0;
}

// The tmpfs at APath, from now on read-only.
inline bool RemountReadOnly(const QString& APath)
{
    return ::mount(nullptr, QFile::encodeName(APath).constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

// A fresh private folder under the test's own temporary folder for each case, made the
// temporary folder (TMPDIR) while the case runs.
class TTempScope {
public:
    explicit TTempScope(const QString& AName)
        : FOld(qgetenv("TMPDIR")), FPath(QDir::tempPath() + QStringLiteral("/") + AName)
    {
        // QDir::tempPath() is TMPDIR (the test's own folder under ctest), else /tmp: never "/".
        QDir(FPath).removeRecursively();
        QDir().mkpath(FPath);
        ::chmod(QFile::encodeName(FPath).constData(), 0700);
        qputenv("TMPDIR", QFile::encodeName(FPath));
    }
    ~TTempScope() { qputenv("TMPDIR", FOld); }
    TTempScope(const TTempScope&) = delete;
    TTempScope& operator=(const TTempScope&) = delete;
    const QString& Path() const { return FPath; }
    QString Ovk() const { return FPath + QStringLiteral("/ovk"); }
    QString Work() const { return FPath + QStringLiteral("/ovk/trelmint"); }

private:
    QByteArray FOld;
    QString FPath;
};

}  // namespace PackageTest

#include "FileApi.h"

#include <QByteArray>
#include <QString>

#include <algorithm>

#include <sys/stat.h>

namespace {

struct TFindHandle {};

QByteArray Native(LPCWSTR APath)
{
    return QString::fromUtf16(APath).toLocal8Bit();
}

// Copies AText with its NUL when it fits; answers the length the caller's contract asks either way.
DWORD CopyOut(const QString& AText, LPWSTR ABuffer, DWORD ABufferLength)
{
    const DWORD length = DWORD(AText.size());
    if (length + 1 > ABufferLength)
        return length + 1;
    std::copy_n(AText.utf16(), length, ABuffer);
    ABuffer[length] = 0;
    return length;
}

}  // namespace

DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer)
{
    QString folder = qEnvironmentVariable("TMPDIR");
    if (folder.isEmpty())
        folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty())
        folder = QStringLiteral("/tmp");
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return CopyOut(folder, lpBuffer, nBufferLength);
}

DWORD GetLongPathNameW(LPCWSTR lpszShortPath, LPWSTR lpszLongPath, DWORD cchBuffer)
{
    struct stat info;
    if (!lpszShortPath || ::stat(Native(lpszShortPath).constData(), &info) != 0)
        return 0;
    return CopyOut(QString::fromUtf16(lpszShortPath), lpszLongPath, cchBuffer);
}

HANDLE FindFirstFileW(LPCWSTR lpFileName, WIN32_FIND_DATAW* lpFindFileData)
{
    struct stat info;
    if (!lpFileName || ::stat(Native(lpFileName).constData(), &info) != 0)
        return INVALID_HANDLE_VALUE;
    const auto size = std::uint64_t(info.st_size);
    *lpFindFileData = WIN32_FIND_DATAW{
        S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL,
        DWORD(size >> 32),
        DWORD(size & 0xFFFFFFFFu),
    };
    return new TFindHandle;
}

BOOL FindClose(HANDLE hFindFile)
{
    if (!hFindFile || hFindFile == INVALID_HANDLE_VALUE)
        return 0;
    delete static_cast<TFindHandle*>(hFindFile);
    return 1;
}

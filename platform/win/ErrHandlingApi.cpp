#include "ErrHandlingApi.h"

#include "WinError.h"

#include <rtl/SysUtils.h>

#include <atomic>

namespace {
std::atomic<UINT> gErrorMode{0};
struct TLastError {
    DWORD Code = ERROR_SUCCESS;
    QString Text;
};
thread_local TLastError tLastError;
}  // namespace

UINT SetErrorMode(UINT uMode)
{
    return gErrorMode.exchange(uMode);
}

DWORD GetLastError()
{
    return tLastError.Code;
}

void SetLastError(DWORD dwErrCode)
{
    SetLastError(dwErrCode, QString());
}

void SetLastError(DWORD dwErrCode, const QString& AText)
{
    tLastError = {dwErrCode, AText};
}

QString GetLastErrorText()
{
    return tLastError.Text.isEmpty() ? WinErrorMessage(tLastError.Code) : tLastError.Text;
}

QString WinErrorMessage(DWORD AErrorCode)
{
    switch (AErrorCode) {
    case ERROR_SUCCESS: return QStringLiteral("The operation completed successfully.");
    case ERROR_INVALID_FUNCTION: return QStringLiteral("Incorrect function.");
    case ERROR_INVALID_HANDLE: return QStringLiteral("The handle is invalid.");
    case ERROR_INVALID_DATA: return QStringLiteral("The data is invalid.");
    case ERROR_GEN_FAILURE: return QStringLiteral("A device attached to the system is not functioning.");
    case ERROR_INVALID_PARAMETER: return QStringLiteral("The parameter is incorrect.");
    case ERROR_INSUFFICIENT_BUFFER: return QStringLiteral("The data area passed to a system call is too small.");
    case ERROR_MOD_NOT_FOUND: return QStringLiteral("The specified module could not be found.");
    case ERROR_NO_MORE_ITEMS: return QStringLiteral("No more data is available.");
    case ERROR_INVALID_FLAGS: return QStringLiteral("Invalid flags.");
    case ERROR_INVALID_USER_BUFFER: return QStringLiteral("The supplied user buffer is not valid for the requested operation.");
    case ERROR_INVALID_CLASS: return QStringLiteral("The class is invalid.");
    default: return QString();
    }
}

void RaiseLastOSError()
{
    const DWORD code = GetLastError();
    throw EOSError(Format(QStringLiteral("System Error.  Code: %d.\n%s"), {int(code), WinErrorMessage(code)}),
                   int(code));
}

#include "LibLoaderApi.h"

#include "HandleTable.h"
#include "WinError.h"

#include <QFile>

#include <dlfcn.h>

#include <limits>

namespace {

// dlopen/dlclose keep their own counts; the table mirrors one reference per LoadLibraryW so
// each FreeLibrary matches one dlclose. Handles stay within 32 bits for the system's code.
win::THandleTable<HMODULE, void*>& Table()
{
    static win::THandleTable<HMODULE, void*> table(1, HMODULE(std::numeric_limits<std::int32_t>::max()));
    return table;
}

QString DlError()
{
    const char* text = dlerror();
    return text ? QString::fromLocal8Bit(text) : QStringLiteral("Unknown error");
}

}  // namespace

HMODULE LoadLibraryW(const QString& AFileName)
{
    // dlopen(NULL) would give the program itself; a NUL would silently cut the path.
    if (AFileName.isEmpty() || AFileName.contains(QChar(0))) {
        SetLastError(ERROR_INVALID_PARAMETER, QStringLiteral("Invalid library file name"));
        return 0;
    }
    const QByteArray path = QFile::encodeName(AFileName);
    void* library = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        SetLastError(ERROR_MOD_NOT_FOUND, DlError());
        return 0;
    }
    const HMODULE handle = Table().AddReference(library);
    if (handle == 0) {
        dlclose(library);
        SetLastError(ERROR_NO_MORE_ITEMS, QStringLiteral("No module handles left"));
    }
    return handle;
}

FARPROC GetProcAddress(HMODULE AModule, const char* AProcName)
{
    if (AModule == 0 || !AProcName)
        return nullptr;
    void* library = Table().Find(AModule).value_or(nullptr);
    if (!library)
        return nullptr;
    return reinterpret_cast<FARPROC>(dlsym(library, AProcName));
}

bool FreeLibrary(HMODULE AModule)
{
    void* library = AModule == 0 ? nullptr : Table().Release(AModule).value_or(nullptr);
    if (!library) {
        SetLastError(ERROR_INVALID_HANDLE, QStringLiteral("Invalid module handle"));
        return false;
    }
    if (dlclose(library) != 0) {
        SetLastError(ERROR_GEN_FAILURE, DlError());
        return false;
    }
    return true;
}

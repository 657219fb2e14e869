#include "LibLoaderApi.h"

#include <QFile>

#include <dlfcn.h>

#include <limits>
#include <map>
#include <mutex>

namespace {

struct TModule {
    void* Library;
    int References;
};

// The process's handle table. dlopen/dlclose keep their own counts; the table mirrors one
// reference per LoadLibraryW so each FreeLibrary matches one dlclose.
class THandleTable {
public:
    HMODULE Add(void* ALibrary, QString& AError)
    {
        std::lock_guard lock(FMutex);
        for (auto& [handle, module] : FModules)
            if (module.Library == ALibrary) {
                ++module.References;
                return handle;
            }
        if (FNext > HMODULE(std::numeric_limits<std::int32_t>::max())) {
            AError = QStringLiteral("No module handles left");
            return 0;
        }
        const HMODULE handle = FNext++;
        FModules.emplace(handle, TModule{ALibrary, 1});
        return handle;
    }

    void* Find(HMODULE AModule) const
    {
        std::lock_guard lock(FMutex);
        const auto it = FModules.find(AModule);
        return it == FModules.end() ? nullptr : it->second.Library;
    }

    // The library to dlclose for one reference, or null for an unknown handle.
    void* Release(HMODULE AModule)
    {
        std::lock_guard lock(FMutex);
        const auto it = FModules.find(AModule);
        if (it == FModules.end())
            return nullptr;
        void* library = it->second.Library;
        if (--it->second.References == 0)
            FModules.erase(it);
        return library;
    }

private:
    mutable std::mutex FMutex;
    std::map<HMODULE, TModule> FModules;
    HMODULE FNext = 1;
};

THandleTable& Table()
{
    static THandleTable table;
    return table;
}

thread_local QString LastErrorText;

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
        LastErrorText = QStringLiteral("Invalid library file name");
        return 0;
    }
    const QByteArray path = QFile::encodeName(AFileName);
    void* library = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        LastErrorText = DlError();
        return 0;
    }
    QString error;
    const HMODULE handle = Table().Add(library, error);
    if (handle == 0) {
        dlclose(library);
        LastErrorText = error;
    }
    return handle;
}

FARPROC GetProcAddress(HMODULE AModule, const char* AProcName)
{
    if (AModule == 0 || !AProcName)
        return nullptr;
    void* library = Table().Find(AModule);
    if (!library)
        return nullptr;
    return reinterpret_cast<FARPROC>(dlsym(library, AProcName));
}

bool FreeLibrary(HMODULE AModule)
{
    void* library = AModule == 0 ? nullptr : Table().Release(AModule);
    if (!library) {
        LastErrorText = QStringLiteral("Invalid module handle");
        return false;
    }
    if (dlclose(library) != 0) {
        LastErrorText = DlError();
        return false;
    }
    return true;
}

QString GetLastErrorText()
{
    return LastErrorText;
}

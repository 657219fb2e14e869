#pragma once
// The BSL library as its users see it: loaded by path with dlopen, every export looked up by
// name. One load per test program; the library keeps its state for the whole run.

#include <bsl430.h>

#include <dlfcn.h>

#include <QByteArray>
#include <QString>
#include <stdexcept>

class BslApi {
    void* FHandle;  // first: the lookups below need it

public:
    explicit BslApi(const char* APath) : FHandle(dlopen(APath, RTLD_NOW | RTLD_LOCAL)) {
        if (!FHandle) throw std::runtime_error(dlerror());
    }
    ~BslApi() { dlclose(FHandle); }
    BslApi(const BslApi&) = delete;
    BslApi& operator=(const BslApi&) = delete;

    // The loaded library of this program (the simulator build).
    static BslApi& instance() {
        static BslApi api(BSL430SIM_PATH);
        return api;
    }

    template <typename F>
    F* get(const char* AName) const {
        auto* f = reinterpret_cast<F*>(dlsym(FHandle, AName));
        if (!f) throw std::runtime_error(std::string("missing export ") + AName);
        return f;
    }

#define BSL_EXPORT(name) decltype(&::name) name = get<decltype(::name)>(#name)
    BSL_EXPORT(BSL_setFamily);
    BSL_EXPORT(BSL_setCom);
    BSL_EXPORT(BSL_initialize_BSL);
    BSL_EXPORT(BSL_close_BSL);
    BSL_EXPORT(BSL_NumOfUSBDevices);
    BSL_EXPORT(BSL_RegisterUSBDeviceNotification);
    BSL_EXPORT(BSL_UnRegisterUSBDeviceNotification);
    BSL_EXPORT(BSL_changeBaudRate);
    BSL_EXPORT(BSL_SetVerbose);
    BSL_EXPORT(BSL_setReportCallback);
    BSL_EXPORT(BSL_getLastError);
    BSL_EXPORT(BSL_RX_Password);
    BSL_EXPORT(BSL_getDefaultPass);
    BSL_EXPORT(BSL_massErase);
    BSL_EXPORT(BSL_eraseSegment);
    BSL_EXPORT(BSL_eraseMainOrInfo);
    BSL_EXPORT(BSL_toggleInfo);
    BSL_EXPORT(BSL_eraseCheck);
    BSL_EXPORT(BSL_CRC_Check);
    BSL_EXPORT(BSL_get_RX_Buffer);
    BSL_EXPORT(BSL_LoadPC);
    BSL_EXPORT(BSL_setMemOffset);
    BSL_EXPORT(BSL_TX_BSL_Version_String);
    BSL_EXPORT(BSL_TX_BufferSize);
    BSL_EXPORT(BSL_RX_TXT);
    BSL_EXPORT(BSL_RX_TXT_File);
    BSL_EXPORT(BSL_TX_TXT_File);
    BSL_EXPORT(BSL_openTI_TextForRead);
    BSL_EXPORT(BSL_moreDataToRead_TextFile);
    BSL_EXPORT(BSL_readTI_TextFile);
    BSL_EXPORT(BSL_closeTI_Text);
    BSL_EXPORT(BSL_readTI_Text);
#undef BSL_EXPORT

    QString lastError() const { return QString::fromUtf8(BSL_getLastError()); }
};

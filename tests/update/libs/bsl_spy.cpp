// Stands in front of the simulated-analyzer build of the BSL library (BSL_SPY_TARGET): every
// export is recorded, handed to a hook the test set (which may act on the analyzer or throw),
// then forwarded. Control exports (Spy_...) are not part of the library's set.

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "BslRecords.h"

namespace {

using Hook = void (*)(const char* AName, const char* AArgs, void* AContext);

struct Spy {
    std::mutex lock;
    std::string calls;
    Hook hook = nullptr;
    void* context = nullptr;
    void* target = nullptr;
};

Spy& S()
{
    static Spy spy;
    return spy;
}

template <class T>
T Target(const char* AName)
{
    Spy& s = S();
    {
        std::lock_guard lock(s.lock);
        if (!s.target) {
            s.target = dlopen(BSL_SPY_TARGET, RTLD_NOW | RTLD_LOCAL);
            if (!s.target) {
                std::fprintf(stderr, "bsl_spy: %s\n", dlerror());
                std::abort();
            }
        }
    }
    void* proc = dlsym(s.target, AName);
    if (!proc) {
        std::fprintf(stderr, "bsl_spy: %s missing in the target\n", AName);
        std::abort();
    }
    return reinterpret_cast<T>(proc);
}

// Short texts whole (line breaks as \r \n), long ones by their size.
std::string Text(const char* AText)
{
    if (!AText)
        return "null";
    const std::string text(AText);
    if (text.size() > 64)
        return "<" + std::to_string(text.size()) + " characters>";
    std::string shown = "\"";
    for (char c : text)
        shown += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    return shown + "\"";
}

std::string Hex(const uint8_t* AData, std::size_t ACount)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (std::size_t i = 0; i < ACount; ++i) {
        hex += digits[AData[i] >> 4];
        hex += digits[AData[i] & 15];
    }
    return hex;
}

void Call(const char* AName, const std::string& AArgs = std::string())
{
    Hook hook;
    void* context;
    {
        std::lock_guard lock(S().lock);
        S().calls += std::string(AName) + "(" + AArgs + ")\n";
        hook = S().hook;
        context = S().context;
    }
    if (hook)
        hook(AName, AArgs.c_str(), context);
}

}  // namespace

#define EXPORT extern "C" __attribute__((visibility("default")))

// ---- control ----

EXPORT void Spy_Reset()
{
    std::lock_guard lock(S().lock);
    S().calls.clear();
    S().hook = nullptr;
    S().context = nullptr;
}
EXPORT void Spy_SetHook(Hook AHook, void* AContext)
{
    std::lock_guard lock(S().lock);
    S().hook = AHook;
    S().context = AContext;
}
// Every call so far, one line each: name(arguments). Valid until the next call.
EXPORT const char* Spy_Calls()
{
    static thread_local std::string copy;
    std::lock_guard lock(S().lock);
    copy = S().calls;
    return copy.c_str();
}

// ---- the library's exports ----

// The diagnostic is forwarded unrecorded: it reads the library, it does not drive it.
EXPORT const char* BSL_getLastError()
{
    return Target<const char* (*)()>("BSL_getLastError")();
}

EXPORT uint8_t BSL_close_BSL()
{
    Call("BSL_close_BSL");
    return Target<uint8_t (*)()>("BSL_close_BSL")();
}
EXPORT uint8_t BSL_initialize_BSL(const char* com)
{
    Call("BSL_initialize_BSL", Text(com));
    return Target<uint8_t (*)(const char*)>("BSL_initialize_BSL")(com);
}
EXPORT const char* BSL_TX_BSL_Version_String()
{
    Call("BSL_TX_BSL_Version_String");
    return Target<const char* (*)()>("BSL_TX_BSL_Version_String")();
}
EXPORT uint32_t BSL_TX_BufferSize()
{
    Call("BSL_TX_BufferSize");
    return Target<uint32_t (*)()>("BSL_TX_BufferSize")();
}
EXPORT uint32_t BSL_TX_TXT_File(const char* fileName, uint32_t addr, uint32_t length)
{
    Call("BSL_TX_TXT_File", Text(fileName) + "," + std::to_string(addr) + "," + std::to_string(length));
    return Target<uint32_t (*)(const char*, uint32_t, uint32_t)>("BSL_TX_TXT_File")(fileName, addr, length);
}
EXPORT uint32_t BSL_RX_TXT_File(const char* fileName, int32_t fast)
{
    Call("BSL_RX_TXT_File", Text(fileName) + "," + std::to_string(fast));
    return Target<uint32_t (*)(const char*, int32_t)>("BSL_RX_TXT_File")(fileName, fast);
}
EXPORT uint32_t BSL_RX_TXT(const char* dataArray, int32_t fast)
{
    Call("BSL_RX_TXT", Text(dataArray) + "," + std::to_string(fast));
    return Target<uint32_t (*)(const char*, int32_t)>("BSL_RX_TXT")(dataArray, fast);
}
EXPORT void BSL_setFamily(uint32_t family)
{
    Call("BSL_setFamily", std::to_string(family));
    Target<void (*)(uint32_t)>("BSL_setFamily")(family);
}
EXPORT void BSL_setCom(uint32_t com)
{
    Call("BSL_setCom", std::to_string(com));
    Target<void (*)(uint32_t)>("BSL_setCom")(com);
}
EXPORT uint8_t BSL_RegisterUSBDeviceNotification(void* hwnd)
{
    Call("BSL_RegisterUSBDeviceNotification");
    return Target<uint8_t (*)(void*)>("BSL_RegisterUSBDeviceNotification")(hwnd);
}
EXPORT uint8_t BSL_UnRegisterUSBDeviceNotification()
{
    Call("BSL_UnRegisterUSBDeviceNotification");
    return Target<uint8_t (*)()>("BSL_UnRegisterUSBDeviceNotification")();
}
EXPORT Buffer BSL_get_RX_Buffer()
{
    Call("BSL_get_RX_Buffer");
    return Target<Buffer (*)()>("BSL_get_RX_Buffer")();
}
EXPORT uint8_t BSL_eraseCheck(uint32_t addr, uint32_t length)
{
    Call("BSL_eraseCheck", std::to_string(addr) + "," + std::to_string(length));
    return Target<uint8_t (*)(uint32_t, uint32_t)>("BSL_eraseCheck")(addr, length);
}
EXPORT uint8_t BSL_LoadPC(uint32_t addr)
{
    Call("BSL_LoadPC", std::to_string(addr));
    return Target<uint8_t (*)(uint32_t)>("BSL_LoadPC")(addr);
}
EXPORT uint8_t BSL_setMemOffset(uint32_t addr)
{
    Call("BSL_setMemOffset", std::to_string(addr));
    return Target<uint8_t (*)(uint32_t)>("BSL_setMemOffset")(addr);
}
EXPORT uint8_t BSL_CRC_Check(uint32_t addr, uint32_t length)
{
    Call("BSL_CRC_Check", std::to_string(addr) + "," + std::to_string(length));
    return Target<uint8_t (*)(uint32_t, uint32_t)>("BSL_CRC_Check")(addr, length);
}
EXPORT uint8_t BSL_massErase()
{
    Call("BSL_massErase");
    return Target<uint8_t (*)()>("BSL_massErase")();
}
EXPORT uint8_t BSL_eraseSegment(uint32_t addr)
{
    Call("BSL_eraseSegment", std::to_string(addr));
    return Target<uint8_t (*)(uint32_t)>("BSL_eraseSegment")(addr);
}
EXPORT uint8_t BSL_eraseMainOrInfo(uint32_t addr)
{
    Call("BSL_eraseMainOrInfo", std::to_string(addr));
    return Target<uint8_t (*)(uint32_t)>("BSL_eraseMainOrInfo")(addr);
}
EXPORT uint8_t BSL_RX_Password(Block data)
{
    Call("BSL_RX_Password", std::to_string(data.startAddr) + "," + std::to_string(data.numberOfBytes) + ","
                                + Hex(data.data, data.numberOfBytes < 32 ? data.numberOfBytes : 32));
    return Target<uint8_t (*)(Block)>("BSL_RX_Password")(data);
}
EXPORT Block BSL_readTI_TextFile(int32_t bytesToRead)
{
    Call("BSL_readTI_TextFile", std::to_string(bytesToRead));
    return Target<Block (*)(int32_t)>("BSL_readTI_TextFile")(bytesToRead);
}
EXPORT int32_t BSL_moreDataToRead_TextFile()
{
    Call("BSL_moreDataToRead_TextFile");
    return Target<int32_t (*)()>("BSL_moreDataToRead_TextFile")();
}
EXPORT void BSL_closeTI_Text()
{
    Call("BSL_closeTI_Text");
    Target<void (*)()>("BSL_closeTI_Text")();
}
EXPORT int32_t BSL_openTI_TextForRead(const char* filename)
{
    Call("BSL_openTI_TextForRead", Text(filename));
    return Target<int32_t (*)(const char*)>("BSL_openTI_TextForRead")(filename);
}
EXPORT Block BSL_readTI_Text(const char* dataArray, int32_t bytesToRead)
{
    Call("BSL_readTI_Text", Text(dataArray) + "," + std::to_string(bytesToRead));
    return Target<Block (*)(const char*, int32_t)>("BSL_readTI_Text")(dataArray, bytesToRead);
}
EXPORT Block BSL_getDefaultPass()
{
    Call("BSL_getDefaultPass");
    return Target<Block (*)()>("BSL_getDefaultPass")();
}

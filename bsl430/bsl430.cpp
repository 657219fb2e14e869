// The C exports: each one hands over to the library's single state object. No exception may
// cross into the caller (a C frame cannot unwind it): each export answers with its
// failure value instead and leaves the reason for BSL_getLastError.
#include "bsl430.h"

#include "Library.h"
#include "Transport.h"

#include <exception>

namespace {

bsl430::Library& library() {
    static bsl430::Library instance(bsl430::makeTransport());
    return instance;
}

// Keeps the reason of a failure that broke an export off, if even that is possible.
void keep(const char* AWhy) noexcept {
    try {
        library().broke(AWhy);
    } catch (...) {
        // The answer still tells the failure.
    }
}

template <typename R, typename F>
R guarded(R AOnFailure, F&& ABody) noexcept {
    try {
        return ABody();
    } catch (const std::exception& e) {
        keep(e.what());
    } catch (...) {
        keep("unknown exception");
    }
    return AOnFailure;
}

template <typename F>
void guarded(F&& ABody) noexcept {
    guarded(0, [&] {
        ABody();
        return 0;
    });
}

constexpr std::uint8_t kBroke = BSL430_ERR_INTERNAL;

}  // namespace

extern "C" {

void BSL_setFamily(uint32_t family) { guarded([&] { library().setFamily(family); }); }
void BSL_setCom(uint32_t com) { guarded([&] { library().setCom(com); }); }
uint8_t BSL_initialize_BSL(const char* com) {
    return guarded<uint8_t>(BSL430_INIT_DEVICE_NOT_FOUND, [&] { return library().initialize(com); });
}
uint8_t BSL_close_BSL(void) { return guarded(kBroke, [] { return library().close(); }); }
int32_t BSL_NumOfUSBDevices(uint16_t vid, uint16_t pid) {
    return guarded<int32_t>(0, [&] { return library().countDevices(vid, pid); });
}
uint8_t BSL_RegisterUSBDeviceNotification(void*) { return 0; }
uint8_t BSL_UnRegisterUSBDeviceNotification(void) { return 0; }
uint8_t BSL_changeBaudRate(uint32_t) { return 0; }
void BSL_SetVerbose(uint32_t verbose) { guarded([&] { library().setVerbose(verbose != 0); }); }
void BSL_setReportCallback(BSL_ReportCallback callback, void* context) {
    guarded([&] { library().setReporter(callback, context); });
}
const char* BSL_getLastError(void) { return guarded<const char*>("", [] { return library().lastError(); }); }

uint8_t BSL_RX_Password(DataBlock data) { return guarded(kBroke, [&] { return library().rxPassword(data); }); }
DataBlock BSL_getDefaultPass(void) { return guarded(DataBlock{}, [] { return library().defaultPassword(); }); }
uint8_t BSL_massErase(void) { return guarded(kBroke, [] { return library().massErase(); }); }
uint8_t BSL_eraseSegment(uint32_t addr) { return guarded(kBroke, [&] { return library().eraseSegment(addr); }); }
uint8_t BSL_eraseMainOrInfo(uint32_t addr) {
    return guarded(kBroke, [&] { return library().eraseMainOrInfo(addr); });
}
uint8_t BSL_toggleInfo(void) { return guarded(kBroke, [] { return library().toggleInfo(); }); }
uint8_t BSL_eraseCheck(uint32_t addr, uint32_t length) {
    return guarded(kBroke, [&] { return library().eraseCheck(addr, length); });
}
uint8_t BSL_CRC_Check(uint32_t addr, uint32_t length) {
    return guarded(kBroke, [&] { return library().crcCheck(addr, length); });
}
dataBuffer BSL_get_RX_Buffer(void) { return guarded(dataBuffer{}, [] { return library().rxBuffer(); }); }
uint8_t BSL_LoadPC(uint32_t addr) { return guarded(kBroke, [&] { return library().loadPc(addr); }); }
uint8_t BSL_setMemOffset(uint32_t addr) { return guarded(kBroke, [&] { return library().setMemOffset(addr); }); }
const char* BSL_TX_BSL_Version_String(void) {
    return guarded<const char*>("ERROR", [] { return library().versionString(); });
}
uint32_t BSL_TX_BufferSize(void) { return guarded<uint32_t>(0, [] { return library().bufferSize(); }); }

uint32_t BSL_RX_TXT(const char* dataArray, int32_t fast) {
    return guarded<uint32_t>(kBroke, [&] { return library().rxText(dataArray, fast != 0); });
}
uint32_t BSL_RX_TXT_File(const char* fileName, int32_t fast) {
    return guarded<uint32_t>(kBroke, [&] { return library().rxFile(fileName, fast != 0); });
}
uint32_t BSL_TX_TXT_File(const char* fileName, uint32_t addr, uint32_t length) {
    return guarded<uint32_t>(kBroke, [&] { return library().txFile(fileName, addr, length); });
}

int32_t BSL_openTI_TextForRead(const char* filename) {
    return guarded<int32_t>(BSL430_TEXT_OPEN_FAILED, [&] { return library().openText(filename); });
}
int32_t BSL_moreDataToRead_TextFile(void) { return guarded<int32_t>(0, [] { return library().moreText(); }); }
DataBlock BSL_readTI_TextFile(int32_t bytesToRead) {
    return guarded(DataBlock{}, [&] { return library().readText(bytesToRead); });
}
void BSL_closeTI_Text(void) { guarded([] { library().closeText(); }); }
DataBlock BSL_readTI_Text(const char* dataArray, int32_t bytesToRead) {
    return guarded(DataBlock{}, [&] { return library().firstBlock(dataArray, bytesToRead); });
}

}  // extern "C"

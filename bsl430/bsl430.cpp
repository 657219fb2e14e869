// The C exports: each one hands over to the library's single state object.
#include "bsl430.h"

#include "Library.h"
#include "Transport.h"

namespace {

bsl430::Library& library() {
    static bsl430::Library instance(bsl430::makeTransport());
    return instance;
}

}  // namespace

extern "C" {

void BSL_setFamily(uint32_t family) { library().setFamily(family); }
void BSL_setCom(uint32_t com) { library().setCom(com); }
uint8_t BSL_initialize_BSL(const char* com) { return library().initialize(com); }
uint8_t BSL_close_BSL(void) { return library().close(); }
int32_t BSL_NumOfUSBDevices(uint16_t vid, uint16_t pid) { return library().countDevices(vid, pid); }
uint8_t BSL_RegisterUSBDeviceNotification(void*) { return 0; }
uint8_t BSL_UnRegisterUSBDeviceNotification(void) { return 0; }
uint8_t BSL_changeBaudRate(uint32_t) { return 0; }
void BSL_SetVerbose(uint32_t verbose) { library().setVerbose(verbose != 0); }
const char* BSL_getLastError(void) { return library().lastError(); }

uint8_t BSL_RX_Password(DataBlock data) { return library().rxPassword(data); }
DataBlock BSL_getDefaultPass(void) { return library().defaultPassword(); }
uint8_t BSL_massErase(void) { return library().massErase(); }
uint8_t BSL_eraseSegment(uint32_t addr) { return library().eraseSegment(addr); }
uint8_t BSL_eraseMainOrInfo(uint32_t addr) { return library().eraseMainOrInfo(addr); }
uint8_t BSL_toggleInfo(void) { return library().toggleInfo(); }
uint8_t BSL_eraseCheck(uint32_t addr, uint32_t length) { return library().eraseCheck(addr, length); }
uint8_t BSL_CRC_Check(uint32_t addr, uint32_t length) { return library().crcCheck(addr, length); }
dataBuffer BSL_get_RX_Buffer(void) { return library().rxBuffer(); }
uint8_t BSL_LoadPC(uint32_t addr) { return library().loadPc(addr); }
uint8_t BSL_setMemOffset(uint32_t addr) { return library().setMemOffset(addr); }
const char* BSL_TX_BSL_Version_String(void) { return library().versionString(); }
uint32_t BSL_TX_BufferSize(void) { return library().bufferSize(); }

uint32_t BSL_RX_TXT(const char* dataArray, int32_t fast) { return library().rxText(dataArray, fast != 0); }
uint32_t BSL_RX_TXT_File(const char* fileName, int32_t fast) { return library().rxFile(fileName, fast != 0); }
uint32_t BSL_TX_TXT_File(const char* fileName, uint32_t addr, uint32_t length) {
    return library().txFile(fileName, addr, length);
}

int32_t BSL_openTI_TextForRead(const char* filename) { return library().openText(filename); }
int32_t BSL_moreDataToRead_TextFile(void) { return library().moreText(); }
DataBlock BSL_readTI_TextFile(int32_t bytesToRead) { return library().readText(bytesToRead); }
void BSL_closeTI_Text(void) { library().closeText(); }
DataBlock BSL_readTI_Text(const char* dataArray, int32_t bytesToRead) {
    return library().firstBlock(dataArray, bytesToRead);
}

}  // extern "C"

// A stand-in for the BSL library that answers what a test scripted and records every call.
// Built twice: complete, and without BSL_setFamily (OMIT_SET_FAMILY).
// Control exports (Script_...) set the answers; they are not part of the library's set.

#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

#include "BslRecords.h"

namespace {

struct Script {
    std::map<std::string, std::deque<int64_t>> answers;  // queued answers; the last one stays
    std::map<std::string, std::deque<Block>> blocks;     // queued blocks; the last one stays
    std::optional<Buffer> buffer;
    std::string throwIn;
    std::optional<std::string> version = std::string("Vendor:[00],CI:[07],API:[08],PI:[38]");
    std::string calls;
    Block lastPassword{};
};

Script& S()
{
    static Script script;
    return script;
}

// A text argument as recorded: quoted, with line breaks shown as \r and \n.
std::string Text(const char* AText)
{
    if (!AText)
        return "null";
    std::string text = "\"";
    for (const char* c = AText; *c; ++c)
        text += *c == '\r' ? std::string("\\r") : *c == '\n' ? std::string("\\n") : std::string(1, *c);
    return text + "\"";
}

void Call(const char* AName, const std::string& AArgs = std::string())
{
    S().calls += std::string(AName) + "(" + AArgs + ")\n";
    if (S().throwIn == AName)
        throw std::runtime_error(std::string("scripted failure in ") + AName);
}

int64_t Answer(const char* AName)
{
    auto it = S().answers.find(AName);
    if (it == S().answers.end() || it->second.empty())
        return 0;
    const int64_t value = it->second.front();
    if (it->second.size() > 1)
        it->second.pop_front();
    return value;
}

Block NextBlock(const char* AName)
{
    auto it = S().blocks.find(AName);
    if (it == S().blocks.end() || it->second.empty())
        return Block{};
    const Block block = it->second.front();
    if (it->second.size() > 1)
        it->second.pop_front();
    return block;
}

}  // namespace

#define EXPORT extern "C" __attribute__((visibility("default")))

// ---- control ----

EXPORT void Script_Reset()
{
    S() = Script();
}
// Answers of an export in turn; the last one repeats.
EXPORT void Script_Answer(const char* AName, int64_t AValue)
{
    S().answers[AName].push_back(AValue);
}
EXPORT void Script_Block(const char* AName, const void* ABlock)
{
    Block block;
    std::memcpy(&block, ABlock, sizeof block);
    S().blocks[AName].push_back(block);
}
EXPORT void Script_Buffer(const void* ABuffer)
{
    Buffer buffer;
    std::memcpy(&buffer, ABuffer, sizeof buffer);
    S().buffer = buffer;
}
EXPORT void Script_Version(const char* AText)
{
    S().version = AText ? std::optional<std::string>(AText) : std::nullopt;
}
EXPORT void Script_ThrowIn(const char* AName)
{
    S().throwIn = AName ? AName : "";
}
// Every call so far, one line each: name(arguments).
EXPORT const char* Script_Calls()
{
    return S().calls.c_str();
}
EXPORT void Script_LastPassword(void* ABlock)
{
    std::memcpy(ABlock, &S().lastPassword, sizeof(Block));
}

// ---- the library's exports ----

EXPORT uint8_t BSL_close_BSL()
{
    Call("BSL_close_BSL");
    return uint8_t(Answer("BSL_close_BSL"));
}
EXPORT uint8_t BSL_initialize_BSL(const char* com)
{
    Call("BSL_initialize_BSL", Text(com));
    return uint8_t(Answer("BSL_initialize_BSL"));
}
EXPORT const char* BSL_TX_BSL_Version_String()
{
    Call("BSL_TX_BSL_Version_String");
    return S().version ? S().version->c_str() : nullptr;
}
EXPORT uint32_t BSL_TX_BufferSize()
{
    Call("BSL_TX_BufferSize");
    return uint32_t(Answer("BSL_TX_BufferSize"));
}
EXPORT uint32_t BSL_TX_TXT_File(const char* fileName, uint32_t addr, uint32_t length)
{
    Call("BSL_TX_TXT_File", Text(fileName) + "," + std::to_string(addr) + "," + std::to_string(length));
    return uint32_t(Answer("BSL_TX_TXT_File"));
}
EXPORT uint32_t BSL_RX_TXT_File(const char* fileName, int32_t fast)
{
    Call("BSL_RX_TXT_File", Text(fileName) + "," + std::to_string(fast));
    return uint32_t(Answer("BSL_RX_TXT_File"));
}
EXPORT uint32_t BSL_RX_TXT(const char* dataArray, int32_t fast)
{
    Call("BSL_RX_TXT", Text(dataArray) + "," + std::to_string(fast));
    return uint32_t(Answer("BSL_RX_TXT"));
}
#ifndef OMIT_SET_FAMILY
EXPORT void BSL_setFamily(uint32_t family)
{
    Call("BSL_setFamily", std::to_string(family));
}
#endif
EXPORT void BSL_setCom(uint32_t com)
{
    Call("BSL_setCom", std::to_string(com));
}
EXPORT uint8_t BSL_RegisterUSBDeviceNotification(void* hwnd)
{
    Call("BSL_RegisterUSBDeviceNotification", std::to_string(reinterpret_cast<uintptr_t>(hwnd)));
    return uint8_t(Answer("BSL_RegisterUSBDeviceNotification"));
}
EXPORT uint8_t BSL_UnRegisterUSBDeviceNotification()
{
    Call("BSL_UnRegisterUSBDeviceNotification");
    return uint8_t(Answer("BSL_UnRegisterUSBDeviceNotification"));
}
EXPORT Buffer BSL_get_RX_Buffer()
{
    Call("BSL_get_RX_Buffer");
    return S().buffer ? *S().buffer : Buffer{};
}
EXPORT uint8_t BSL_eraseCheck(uint32_t addr, uint32_t length)
{
    Call("BSL_eraseCheck", std::to_string(addr) + "," + std::to_string(length));
    return uint8_t(Answer("BSL_eraseCheck"));
}
EXPORT uint8_t BSL_LoadPC(uint32_t addr)
{
    Call("BSL_LoadPC", std::to_string(addr));
    return uint8_t(Answer("BSL_LoadPC"));
}
EXPORT uint8_t BSL_setMemOffset(uint32_t addr)
{
    Call("BSL_setMemOffset", std::to_string(addr));
    return uint8_t(Answer("BSL_setMemOffset"));
}
EXPORT uint8_t BSL_CRC_Check(uint32_t addr, uint32_t length)
{
    Call("BSL_CRC_Check", std::to_string(addr) + "," + std::to_string(length));
    return uint8_t(Answer("BSL_CRC_Check"));
}
EXPORT uint8_t BSL_massErase()
{
    Call("BSL_massErase");
    return uint8_t(Answer("BSL_massErase"));
}
EXPORT uint8_t BSL_eraseSegment(uint32_t addr)
{
    Call("BSL_eraseSegment", std::to_string(addr));
    return uint8_t(Answer("BSL_eraseSegment"));
}
EXPORT uint8_t BSL_eraseMainOrInfo(uint32_t addr)
{
    Call("BSL_eraseMainOrInfo", std::to_string(addr));
    return uint8_t(Answer("BSL_eraseMainOrInfo"));
}
EXPORT uint8_t BSL_RX_Password(Block data)
{
    Call("BSL_RX_Password", std::to_string(data.startAddr) + "," + std::to_string(data.numberOfBytes));
    S().lastPassword = data;
    return uint8_t(Answer("BSL_RX_Password"));
}
EXPORT Block BSL_readTI_TextFile(int32_t bytesToRead)
{
    Call("BSL_readTI_TextFile", std::to_string(bytesToRead));
    return NextBlock("BSL_readTI_TextFile");
}
EXPORT int32_t BSL_moreDataToRead_TextFile()
{
    Call("BSL_moreDataToRead_TextFile");
    return int32_t(Answer("BSL_moreDataToRead_TextFile"));
}
EXPORT void BSL_closeTI_Text()
{
    Call("BSL_closeTI_Text");
}
EXPORT int32_t BSL_openTI_TextForRead(const char* filename)
{
    Call("BSL_openTI_TextForRead", Text(filename));
    return int32_t(Answer("BSL_openTI_TextForRead"));
}
EXPORT Block BSL_readTI_Text(const char* dataArray, int32_t bytesToRead)
{
    Call("BSL_readTI_Text", Text(dataArray) + "," + std::to_string(bytesToRead));
    return NextBlock("BSL_readTI_Text");
}
EXPORT Block BSL_getDefaultPass()
{
    Call("BSL_getDefaultPass");
    return NextBlock("BSL_getDefaultPass");
}

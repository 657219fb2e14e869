#pragma once
// Everything the library keeps between calls: the connection to the boot loader, the TI-TXT
// reading in progress, the last answer, the last diagnostic. The exports hold exactly one
// instance; each operation here stands behind the export of the same meaning (bsl430.h).

#include "Protocol.h"
#include "TiTxt.h"
#include "Transport.h"
#include "bsl430.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace bsl430 {

struct DeviceId {
    std::uint16_t vid = 0x2047;
    std::uint16_t pid = 0x0200;
    int index = 0;
};

// Reads a device text such as "VID=0x2047,PID=0x200,DEVICEINDEX=0"; nothing when malformed,
// with the reason in AError.
std::optional<DeviceId> parseDeviceText(std::string_view AText, std::string& AError);

class Library {
public:
    static constexpr std::uint32_t kFamilyF5xx = 3;
    static constexpr std::uint32_t kComUsb = 2;

    explicit Library(std::unique_ptr<Transport> ATransport);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    void setFamily(std::uint32_t AFamily);
    void setCom(std::uint32_t ACom);
    void setVerbose(bool AVerbose);
    // Diagnostics go to ACallback instead of standard error; null: none set.
    void setReporter(BSL_ReportCallback ACallback, void* AContext);
    std::uint8_t initialize(const char* ACom);
    std::uint8_t close();
    std::int32_t countDevices(std::uint16_t AVid, std::uint16_t APid);
    const char* lastError();

    std::uint8_t rxPassword(const DataBlock& ABlock);
    DataBlock defaultPassword();
    std::uint8_t massErase();
    std::uint8_t eraseSegment(std::uint32_t AAddr);
    std::uint8_t eraseMainOrInfo(std::uint32_t AAddr);
    std::uint8_t toggleInfo();
    std::uint8_t eraseCheck(std::uint32_t AAddr, std::uint32_t ALength);
    std::uint8_t crcCheck(std::uint32_t AAddr, std::uint32_t ALength);
    dataBuffer rxBuffer();
    std::uint8_t loadPc(std::uint32_t AAddr);
    std::uint8_t setMemOffset(std::uint32_t AAddr);
    const char* versionString();
    std::uint32_t bufferSize();

    std::uint32_t rxText(const char* AText, bool AFast);
    std::uint32_t rxFile(const char* AFileName, bool AFast);
    std::uint32_t txFile(const char* AFileName, std::uint32_t AAddr, std::uint32_t ALength);

    std::int32_t openText(const char* AFileName);
    std::int32_t moreText();
    DataBlock readText(std::int32_t ABytes);
    void closeText();
    DataBlock firstBlock(const char* AText, std::int32_t ABytes);

    // An operation broke off with an exception: keeps its reason as the diagnostic.
    void broke(const char* AWhy);

private:
    // Every operation starts with no diagnostic; a failure leaves one.
    void begin();
    void fail(const std::string& AWhy);
    // Keeps an answer as the receive buffer and its diagnostic; gives its code.
    std::uint8_t judge(const Reply& AReply);
    std::uint32_t program(const Image& AImage, bool AFast);

    std::mutex FMutex;
    std::unique_ptr<Transport> FTransport;
    Protocol FProtocol;
    std::uint32_t FFamily = kFamilyF5xx;
    std::uint32_t FCom = kComUsb;
    bool FVerbose = false;
    // Own lock: setting it never waits for a device operation (fail() runs under FMutex).
    std::mutex FReporterMutex;
    BSL_ReportCallback FReporter = nullptr;
    void* FReporterContext = nullptr;
    BlockReader FReader;
    dataBuffer FRxBuffer{};
    std::string FVersion;
    std::string FLastError;
    // Load PC was accepted: the device is re-enumerating and the next open waits for it.
    bool FComingBack = false;
};

}  // namespace bsl430

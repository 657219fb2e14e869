#include "Library.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>

namespace bsl430 {

namespace {

using Lock = std::scoped_lock<std::mutex>;

constexpr std::uint32_t kPasswordAddress = 0xFFE0;
constexpr std::uint32_t kPasswordSize = 32;
constexpr std::uint32_t kInfoStart = 0x1800;
constexpr std::uint32_t kInfoEnd = 0x1A00;
constexpr std::uint32_t kInfoSegment = 128;
// A device takes one to three seconds to come back after Load PC.
constexpr int kReenumerationWaitMs = 4000;
constexpr std::uint32_t kResetVector = 0xFFFE;  // the word the device starts from

std::string_view trim(std::string_view AText) {
    while (!AText.empty() && std::isspace(static_cast<unsigned char>(AText.front())))
        AText.remove_prefix(1);
    while (!AText.empty() && std::isspace(static_cast<unsigned char>(AText.back())))
        AText.remove_suffix(1);
    return AText;
}

std::string upper(std::string_view AText) {
    std::string s(AText);
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// "0x2047" or "8263"; nothing for anything else or a value above AMax.
std::optional<std::uint32_t> number(std::string_view AText, std::uint32_t AMax) {
    unsigned base = 10;
    if (AText.size() > 2 && AText[0] == '0' && (AText[1] == 'x' || AText[1] == 'X')) {
        base = 16;
        AText.remove_prefix(2);
    }
    if (AText.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : AText) {
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return std::nullopt;
        value = value * base + static_cast<unsigned>(digit);
        if (value > AMax) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::uint16_t crc16(std::uint16_t ACrc, std::uint8_t AByte) {
    std::uint16_t x = static_cast<std::uint8_t>((ACrc >> 8) ^ AByte);
    x ^= x >> 4;
    return static_cast<std::uint16_t>((ACrc << 8) ^ (x << 12) ^ (x << 5) ^ x);
}

DataBlock toDataBlock(const Section& ASection) {
    DataBlock block{};
    const std::size_t n = std::min<std::size_t>(ASection.bytes.size(), sizeof block.data);
    std::copy_n(ASection.bytes.begin(), n, block.data);
    block.numberOfBytes = static_cast<std::uint32_t>(n);
    block.startAddr = n > 0 ? ASection.address : 0;
    return block;
}

std::size_t blockCount(std::int32_t ABytes) {
    return static_cast<std::size_t>(
        std::min<std::int32_t>(ABytes, static_cast<std::int32_t>(BSL430_DATABLOCK_CAPACITY)));
}

std::string badCount(std::int32_t ABytes) {
    return "a block of " + std::to_string(ABytes) + " bytes cannot be read";
}

std::string text(const char* AText) { return AText ? std::string(AText) : std::string(); }

std::string hex(std::uint32_t AValue, int ADigits = 4) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", ADigits, AValue);
    return buf;
}

// Writes the whole file next to its final name first, so a failure leaves no half file.
bool writeFileWhole(const std::string& APath, const std::string& AContents, std::string& AError) {
    std::string temp = APath + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        AError = "cannot create \"" + temp + "\": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < AContents.size()) {
        const ssize_t n = ::write(fd, AContents.data() + done, AContents.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const int writeErrno = errno;
    ::fchmod(fd, 0644);  // mkstemp makes it private; a memory dump is no secret
    const bool closed = ::close(fd) == 0;
    if (done != AContents.size() || !closed) {
        AError = "cannot write \"" + temp + "\": " + std::strerror(closed ? writeErrno : errno);
        ::unlink(temp.c_str());
        return false;
    }
    if (::rename(temp.c_str(), APath.c_str()) != 0) {
        AError = "cannot write \"" + APath + "\": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::optional<DeviceId> parseDeviceText(std::string_view AText, std::string& AError) {
    DeviceId id;
    AText = trim(AText);
    if (AText.empty() || upper(AText) == "USB") return id;
    bool seenVid = false, seenPid = false, seenIndex = false;
    while (!AText.empty()) {
        const std::size_t comma = AText.find(',');
        const std::string_view item = trim(AText.substr(0, comma));
        AText = comma == std::string_view::npos ? std::string_view() : AText.substr(comma + 1);
        if (item.empty()) continue;
        const std::size_t eq = item.find('=');
        if (eq == std::string_view::npos) {
            AError = "device text: \"" + std::string(item) + "\" is not KEY=VALUE";
            return std::nullopt;
        }
        const std::string key = upper(trim(item.substr(0, eq)));
        const std::string_view value = trim(item.substr(eq + 1));
        bool* seen = key == "VID" ? &seenVid : key == "PID" ? &seenPid
                   : key == "DEVICEINDEX" ? &seenIndex : nullptr;
        if (!seen) {
            AError = "device text: unknown key \"" + key + "\"";
            return std::nullopt;
        }
        if (*seen) {
            AError = "device text: " + key + " given twice";
            return std::nullopt;
        }
        *seen = true;
        const auto v = number(value, key == "DEVICEINDEX" ? 255u : 0xFFFFu);
        if (!v) {
            AError = "device text: bad value \"" + std::string(value) + "\" for " + key;
            return std::nullopt;
        }
        if (key == "VID") id.vid = static_cast<std::uint16_t>(*v);
        else if (key == "PID") id.pid = static_cast<std::uint16_t>(*v);
        else id.index = static_cast<int>(*v);
    }
    return id;
}

Library::Library(std::unique_ptr<Transport> ATransport)
    : FTransport(std::move(ATransport)), FProtocol(*FTransport) {}

Library::~Library() { FTransport->close(); }

void Library::begin() { FLastError.clear(); }

void Library::fail(const std::string& AWhy) {
    FLastError = AWhy;
    {
        std::lock_guard reporter(FReporterMutex);
        if (FReporter) {
            FReporter(AWhy.c_str(), FReporterContext);
            return;
        }
    }
    if (FVerbose) std::fprintf(stderr, "bsl430: %s\n", AWhy.c_str());
}

std::uint8_t Library::judge(const Reply& AReply) {
    FRxBuffer = dataBuffer{};
    const std::size_t n = std::min(AReply.core.size(), sizeof FRxBuffer.data);
    std::copy_n(AReply.core.begin(), n, FRxBuffer.data);
    FRxBuffer.size = static_cast<std::uint32_t>(n);
    if (AReply.code != 0) fail(AReply.error);
    return AReply.code;
}

void Library::setFamily(std::uint32_t AFamily) {
    Lock lock(FMutex);
    begin();
    FFamily = AFamily;
}

void Library::setCom(std::uint32_t ACom) {
    Lock lock(FMutex);
    begin();
    FCom = ACom;
}

void Library::setVerbose(bool AVerbose) {
    Lock lock(FMutex);
    FVerbose = AVerbose;
}

void Library::setReporter(BSL_ReportCallback ACallback, void* AContext) {
    std::lock_guard reporter(FReporterMutex);
    FReporter = ACallback;
    FReporterContext = AContext;
}

std::uint8_t Library::initialize(const char* ACom) {
    Lock lock(FMutex);
    begin();
    FTransport->close();
    FProtocol.newSession();
    if (FFamily != kFamilyF5xx) {
        fail("boot loader family " + std::to_string(FFamily) + " is not supported (3: F5xx/F6xx)");
        return BSL430_INIT_DEVICE_NOT_FOUND;
    }
    if (FCom != kComUsb) {
        fail("connection kind " + std::to_string(FCom) + " is not supported (2: USB)");
        return BSL430_INIT_DEVICE_NOT_FOUND;
    }
    std::string error;
    const auto id = parseDeviceText(text(ACom), error);
    if (!id) {
        fail(error);
        return BSL430_INIT_DEVICE_NOT_FOUND;
    }
    const int waitMs = std::exchange(FComingBack, false) ? kReenumerationWaitMs : 0;
    if (!FTransport->open(id->vid, id->pid, id->index, waitMs)) {
        fail("no boot loader with VID " + hex(id->vid) + ", PID " + hex(id->pid) + " at index " +
             std::to_string(id->index) + " " + FTransport->lastError());
        return BSL430_INIT_DEVICE_NOT_FOUND;
    }
    return BSL430_INIT_OK;
}

std::uint8_t Library::close() {
    Lock lock(FMutex);
    begin();
    FTransport->close();
    FProtocol.newSession();
    return 0;
}

std::int32_t Library::countDevices(std::uint16_t AVid, std::uint16_t APid) {
    Lock lock(FMutex);
    begin();
    return FTransport->count(AVid, APid);
}

const char* Library::lastError() {
    Lock lock(FMutex);
    return FLastError.c_str();
}

std::uint8_t Library::rxPassword(const DataBlock& ABlock) {
    Lock lock(FMutex);
    begin();
    if (ABlock.numberOfBytes != kPasswordSize) {
        // A wrong password mass-erases the device: never send a guess.
        fail("password block holds " + std::to_string(ABlock.numberOfBytes) +
             " bytes, not 32; nothing sent");
        return BSL430_ERR_BAD_ARGUMENT;
    }
    return judge(FProtocol.rxPassword(std::span<const std::uint8_t, 32>(ABlock.data, 32)));
}

DataBlock Library::defaultPassword() {
    Lock lock(FMutex);
    begin();
    DataBlock block{};
    std::fill_n(block.data, kPasswordSize, 0xFF);
    block.numberOfBytes = kPasswordSize;
    block.startAddr = kPasswordAddress;
    return block;
}

std::uint8_t Library::massErase() {
    Lock lock(FMutex);
    begin();
    return judge(FProtocol.massErase());
}

std::uint8_t Library::eraseSegment(std::uint32_t AAddr) {
    Lock lock(FMutex);
    begin();
    return judge(FProtocol.eraseSegment(AAddr));
}

std::uint8_t Library::eraseMainOrInfo(std::uint32_t AAddr) {
    Lock lock(FMutex);
    begin();
    if (AAddr < kInfoStart || AAddr >= kInfoEnd) return judge(FProtocol.massErase());
    for (std::uint32_t segment = kInfoStart; segment < kInfoEnd; segment += kInfoSegment) {
        if (const std::uint8_t code = judge(FProtocol.eraseSegment(segment))) return code;
    }
    return 0;
}

std::uint8_t Library::toggleInfo() {
    Lock lock(FMutex);
    begin();
    return judge(FProtocol.toggleInfo());
}

std::uint8_t Library::eraseCheck(std::uint32_t AAddr, std::uint32_t ALength) {
    Lock lock(FMutex);
    begin();
    if (!FTransport->isOpen()) {
        fail("no boot loader is open");
        return BSL430_ERR_NO_DEVICE;
    }
    if (AAddr > kMaxWireAddress || ALength > kMaxWireAddress + 1 - AAddr) {
        fail("erase check range beyond 24 bits");
        return BSL430_ERR_BAD_ARGUMENT;
    }
    for (std::uint32_t done = 0; done < ALength;) {
        const std::uint32_t n = std::min<std::uint32_t>(0xFFFF, ALength - done);
        const Reply reply = FProtocol.crcCheck(AAddr + done, n);
        if (const std::uint8_t code = judge(reply)) return code;
        std::uint16_t erased = 0xFFFF;
        for (std::uint32_t i = 0; i < n; ++i) erased = crc16(erased, 0xFF);
        if (reply.data[0] != (erased & 0xFF) || reply.data[1] != (erased >> 8)) {
            fail("range " + hex(AAddr + done, 5) + " (" + std::to_string(n) +
                 " bytes) is not erased");
            return BSL430_ERR_NOT_ERASED;
        }
        done += n;
    }
    return 0;
}

std::uint8_t Library::crcCheck(std::uint32_t AAddr, std::uint32_t ALength) {
    Lock lock(FMutex);
    begin();
    return judge(FProtocol.crcCheck(AAddr, ALength));
}

dataBuffer Library::rxBuffer() {
    Lock lock(FMutex);
    begin();
    return FRxBuffer;
}

std::uint8_t Library::loadPc(std::uint32_t AAddr) {
    Lock lock(FMutex);
    begin();
    const Reply reply = FProtocol.loadPc(AAddr);
    if (reply.code != 0) fail(reply.error);
    else FComingBack = true;
    return reply.code;
}

std::uint8_t Library::setMemOffset(std::uint32_t AAddr) {
    Lock lock(FMutex);
    begin();
    if (AAddr == 0) return 0;
    fail("a memory offset has no meaning with 24-bit addresses");
    return BSL430_ERR_UNSUPPORTED;
}

const char* Library::versionString() {
    Lock lock(FMutex);
    begin();
    const Reply reply = FProtocol.txBslVersion();
    if (judge(reply) != 0) {
        FVersion = "ERROR";
    } else {
        char buf[64];
        std::snprintf(buf, sizeof buf, "Vendor:[%02X],CI:[%02X],API:[%02X],PI:[%02X]",
                      reply.data[0], reply.data[1], reply.data[2], reply.data[3]);
        FVersion = buf;
    }
    return FVersion.c_str();
}

std::uint32_t Library::bufferSize() {
    Lock lock(FMutex);
    begin();
    const Reply reply = FProtocol.txBufferSize();
    if (judge(reply) != 0) return 0;
    return static_cast<std::uint32_t>(reply.data[0] | (reply.data[1] << 8));
}

std::uint32_t Library::program(const Image& AImage, bool AFast) {
    if (!FTransport->isOpen()) {  // also for an image with nothing in it
        fail("no boot loader is open");
        return BSL430_ERR_NO_DEVICE;
    }
    const auto send = [&](std::uint32_t AAddr, std::span<const std::uint8_t> AChunk) -> std::uint32_t {
        if (AFast) {
            const Reply reply = FProtocol.rxDataBlockFast(AAddr, AChunk);
            if (reply.code != 0) fail(reply.error + " at " + hex(AAddr, 5));
            return reply.code;
        }
        const std::uint8_t code = judge(FProtocol.rxDataBlock(AAddr, AChunk));
        if (code) FLastError += " at " + hex(AAddr, 5);
        return code;
    };
    // The chunk with the reset vector goes last: programming that breaks off leaves the
    // vector blank, and a blank reset vector starts the boot loader at the next power-up
    // instead of a half-written firmware.
    std::vector<std::pair<std::uint32_t, std::span<const std::uint8_t>>> last;
    for (const Section& s : AImage.sections) {
        for (std::size_t done = 0; done < s.bytes.size();) {
            const auto addr = static_cast<std::uint32_t>(s.address + done);
            // Flash is programmed in words: a chunk that starts on an odd address costs a
            // word more, so only a run's first chunk may start there, one byte short.
            const std::size_t room = kMaxRxData - (addr & 1u);
            const std::size_t n = std::min(room, s.bytes.size() - done);
            const std::span<const std::uint8_t> chunk(s.bytes.data() + done, n);
            done += n;
            if (addr <= kResetVector + 1 && kResetVector < addr + n) {
                last.emplace_back(addr, chunk);
                continue;
            }
            if (const std::uint32_t code = send(addr, chunk)) return code;
        }
    }
    for (const auto& [addr, chunk] : last)
        if (const std::uint32_t code = send(addr, chunk)) return code;
    return 0;
}

std::uint32_t Library::rxText(const char* AText, bool AFast) {
    Lock lock(FMutex);
    begin();
    const ParseResult parsed = parseTiTxt(text(AText));
    if (!parsed.ok) {
        fail("TI-TXT text: " + parsed.error + "; nothing sent");
        return BSL430_ERR_BAD_IMAGE;
    }
    return program(parsed.image, AFast);
}

std::uint32_t Library::rxFile(const char* AFileName, bool AFast) {
    Lock lock(FMutex);
    begin();
    const ParseResult parsed = readTiTxtFile(text(AFileName));
    if (!parsed.ok) {
        fail(parsed.error + "; nothing sent");
        return parsed.unreadable ? BSL430_ERR_FILE : BSL430_ERR_BAD_IMAGE;
    }
    return program(parsed.image, AFast);
}

std::uint32_t Library::txFile(const char* AFileName, std::uint32_t AAddr, std::uint32_t ALength) {
    Lock lock(FMutex);
    begin();
    const std::string path = text(AFileName);
    if (path.empty()) {
        fail("no file name given");
        return BSL430_ERR_BAD_ARGUMENT;
    }
    if (!FTransport->isOpen()) {
        fail("no boot loader is open");
        return BSL430_ERR_NO_DEVICE;
    }
    const Reply reply = FProtocol.txDataBlock(AAddr, ALength);
    if (const std::uint8_t code = judge(reply)) return code;
    Image image;
    if (ALength > 0) image.sections.push_back(Section{AAddr, reply.data});
    std::string error;
    if (!writeFileWhole(path, formatTiTxt(image), error)) {
        fail(error);
        return BSL430_ERR_FILE;
    }
    return 0;
}

std::int32_t Library::openText(const char* AFileName) {
    Lock lock(FMutex);
    begin();
    FReader = BlockReader();
    ParseResult parsed = readTiTxtFile(text(AFileName));
    if (!parsed.ok) {
        fail(parsed.error);
        return BSL430_TEXT_OPEN_FAILED;
    }
    FReader = BlockReader(std::move(parsed.image));
    return BSL430_TEXT_OPEN_OK;
}

std::int32_t Library::moreText() {
    Lock lock(FMutex);
    begin();
    return FReader.more() ? 1 : 0;
}

DataBlock Library::readText(std::int32_t ABytes) {
    Lock lock(FMutex);
    begin();
    if (ABytes <= 0) {
        // Nothing would ever be read: end the reading rather than let its loop spin.
        fail(badCount(ABytes) + "; the reading is ended");
        FReader = BlockReader();
        return DataBlock{};
    }
    return toDataBlock(FReader.next(blockCount(ABytes)));
}

void Library::closeText() {
    Lock lock(FMutex);
    begin();
    FReader = BlockReader();
}

DataBlock Library::firstBlock(const char* AText, std::int32_t ABytes) {
    Lock lock(FMutex);
    begin();
    if (ABytes <= 0) {
        fail(badCount(ABytes));
        return DataBlock{};
    }
    ParseResult parsed = parseTiTxt(text(AText));
    if (!parsed.ok) {
        fail("TI-TXT text: " + parsed.error);
        return DataBlock{};
    }
    return toDataBlock(BlockReader(std::move(parsed.image)).next(blockCount(ABytes)));
}

void Library::broke(const char* AWhy) {
    Lock lock(FMutex);
    fail(std::string("the library failed: ") + AWhy);
}

}  // namespace bsl430

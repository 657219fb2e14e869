#include "TiTxt.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bsl430 {

namespace {

bool isBlank(char AChar) { return AChar == ' ' || AChar == '\t' || AChar == '\r'; }

int hexValue(char AChar) {
    if (AChar >= '0' && AChar <= '9') return AChar - '0';
    if (AChar >= 'a' && AChar <= 'f') return AChar - 'a' + 10;
    if (AChar >= 'A' && AChar <= 'F') return AChar - 'A' + 10;
    return -1;
}

std::string_view trim(std::string_view AText) {
    while (!AText.empty() && isBlank(AText.front())) AText.remove_prefix(1);
    while (!AText.empty() && isBlank(AText.back())) AText.remove_suffix(1);
    return AText;
}

// A token as the reader saw it, shortened and with unprintable bytes escaped.
std::string quote(std::string_view AToken) {
    std::string s = "\"";
    std::size_t shown = 0;
    for (char c : AToken) {
        if (++shown > 24) {
            s += "...";
            break;
        }
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            s += c;
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", u);
            s += buf;
        }
    }
    return s + "\"";
}

std::string hex(std::uint32_t AValue) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%05X", AValue);
    return buf;
}

struct FileHandle {
    explicit FileHandle(int AFd) : fd(AFd) {}
    ~FileHandle() {
        if (fd >= 0) ::close(fd);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    const int fd;
};

class Parser {
public:
    ParseResult run(std::string_view AText) {
        FCovered.assign(kTiTxtAddressLimit, false);
        std::size_t pos = 0;
        while (pos < AText.size()) {
            const std::size_t eol = AText.find('\n', pos);
            const std::size_t len = (eol == std::string_view::npos ? AText.size() : eol) - pos;
            const std::string_view line = trim(AText.substr(pos, len));
            pos += len + 1;
            ++FLine;
            if (line.empty()) continue;
            bool good = true;
            if (FEnded) {
                good = fail("text after the end line \"q\"");
            } else if (line.front() == '@') {
                good = address(line.substr(1));
            } else if (line == "q" || line == "Q") {
                FEnded = true;
            } else {
                good = data(line);
            }
            if (!good) return std::move(FResult);
        }
        if (!FEnded) {
            FLine = 0;
            fail("the end line \"q\" is missing (truncated image?)");
            return std::move(FResult);
        }
        FResult.ok = true;
        FResult.image = normalised();
        return std::move(FResult);
    }

private:
    bool fail(const std::string& AWhat) {
        FResult.ok = false;
        FResult.error = FLine > 0 ? "line " + std::to_string(FLine) + ": " + AWhat : AWhat;
        return false;
    }

    bool address(std::string_view ADigits) {
        if (ADigits.empty()) return fail("address line without an address");
        std::uint32_t value = 0;
        for (char c : ADigits) {
            const int v = hexValue(c);
            if (v < 0) return fail("bad address " + quote(ADigits));
            value = value * 16 + static_cast<std::uint32_t>(v);
            if (value >= kTiTxtAddressLimit)
                return fail("address " + quote(ADigits) + " is beyond 20 bits");
        }
        FSections.push_back(Section{value, {}});
        FNext = value;
        return true;
    }

    bool data(std::string_view ALine) {
        if (FSections.empty()) return fail("data before any address line");
        Section& section = FSections.back();
        std::size_t pos = 0;
        while (pos < ALine.size()) {
            if (isBlank(ALine[pos])) {
                ++pos;
                continue;
            }
            std::size_t end = pos;
            while (end < ALine.size() && !isBlank(ALine[end])) ++end;
            const std::string_view token = ALine.substr(pos, end - pos);
            pos = end;
            bool allHex = true;
            for (char c : token) allHex = allHex && hexValue(c) >= 0;
            if (!allHex) return fail(quote(token) + " is not a pair of hex digits");
            if (token.size() % 2 != 0)
                return fail(quote(token) + " has an odd number of hex digits");
            if (token.size() != 2)
                return fail(quote(token) + ": bytes must be separated by blanks");
            if (FNext >= kTiTxtAddressLimit)
                return fail("data runs past the 20-bit address range");
            if (FCovered[FNext]) return fail("data for " + hex(FNext) + " given twice");
            FCovered[FNext] = true;
            section.bytes.push_back(
                static_cast<std::uint8_t>(hexValue(token[0]) * 16 + hexValue(token[1])));
            ++FNext;
        }
        return true;
    }

    Image normalised() {
        Image image;
        for (Section& s : FSections) {
            if (s.bytes.empty()) continue;
            if (!image.sections.empty() && image.sections.back().end() == s.address) {
                auto& back = image.sections.back().bytes;
                back.insert(back.end(), s.bytes.begin(), s.bytes.end());
            } else {
                image.sections.push_back(std::move(s));
            }
        }
        return image;
    }

    ParseResult FResult;
    std::vector<Section> FSections;
    std::vector<bool> FCovered;  // bytes given so far, to refuse a second value for one
    std::uint32_t FNext = 0;
    std::size_t FLine = 0;
    bool FEnded = false;
};

}  // namespace

std::size_t Image::byteCount() const {
    std::size_t n = 0;
    for (const Section& s : sections) n += s.bytes.size();
    return n;
}

ParseResult parseTiTxt(std::string_view AText) { return Parser().run(AText); }

ParseResult readTiTxtFile(const std::string& APath) {
    ParseResult failed;
    failed.unreadable = true;
    auto fail = [&](const std::string& AWhat, int AErrno) {
        failed.error = AWhat + " \"" + APath + "\": " + std::strerror(AErrno);
        return failed;
    };
    // Without O_NONBLOCK a FIFO without a writer would hold the open for ever; fstat then
    // turns away everything that is not a plain file (a FIFO, a device, a folder).
    const FileHandle file(::open(APath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    const int fd = file.fd;
    if (fd < 0) return fail("cannot open", errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail("cannot open", errno);
    if (!S_ISREG(st.st_mode)) {
        failed.error = "\"" + APath + "\" is not a regular file";
        return failed;
    }
    std::string text;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail("cannot read", errno);
        if (n == 0) break;
        text.append(buf, static_cast<std::size_t>(n));
        if (text.size() > kTiTxtMaxFileSize) {
            failed.unreadable = false;
            failed.error = "\"" + APath + "\" is too large for a TI-TXT image";
            return failed;
        }
    }
    ParseResult result = parseTiTxt(text);
    if (!result.ok) result.error = "\"" + APath + "\": " + result.error;
    return result;
}

std::string formatTiTxt(const Image& AImage) {
    std::string out;
    char buf[16];
    for (const Section& s : AImage.sections) {
        std::snprintf(buf, sizeof buf, "@%04X\n", s.address);
        out += buf;
        for (std::size_t i = 0; i < s.bytes.size(); ++i) {
            std::snprintf(buf, sizeof buf, "%02X", s.bytes[i]);
            out += buf;
            out += (i % 16 == 15 || i + 1 == s.bytes.size()) ? '\n' : ' ';
        }
    }
    out += "q\n";
    return out;
}

BlockReader::BlockReader(Image AImage) : FImage(std::move(AImage)) {}

bool BlockReader::more() const { return FSection < FImage.sections.size(); }

Section BlockReader::next(std::size_t AMax) {
    Section block;
    if (!more() || AMax == 0) return block;
    const Section& s = FImage.sections[FSection];
    block.address = s.address + static_cast<std::uint32_t>(FOffset);
    std::size_t n = std::min(AMax, s.bytes.size() - FOffset);
    if ((AMax & (AMax - 1)) == 0) n = std::min(n, AMax - (block.address & (AMax - 1)));
    block.bytes.assign(s.bytes.begin() + static_cast<std::ptrdiff_t>(FOffset),
                       s.bytes.begin() + static_cast<std::ptrdiff_t>(FOffset + n));
    FOffset += n;
    if (FOffset == s.bytes.size()) {
        ++FSection;
        FOffset = 0;
    }
    return block;
}

}  // namespace bsl430

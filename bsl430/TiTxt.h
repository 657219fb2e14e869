#pragma once
// TI-TXT images: "@ADDR" lines, lines of hexadecimal byte pairs, "q" at the end.
// A text is checked whole before anyone may use a byte of it, so a damaged image is never
// programmed in part.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bsl430 {

// Images address 20 bits; data may reach up to this address, not beyond.
constexpr std::uint32_t kTiTxtAddressLimit = 0x100000;
// Larger files cannot hold a 20-bit image in any sensible layout.
constexpr std::size_t kTiTxtMaxFileSize = 64u * 1024u * 1024u;

// One contiguous run of bytes at a target address.
struct Section {
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;

    std::uint32_t end() const { return address + static_cast<std::uint32_t>(bytes.size()); }
};

// An image's runs in file order; empty runs dropped, runs that continue each other joined.
struct Image {
    std::vector<Section> sections;

    std::size_t byteCount() const;
};

struct ParseResult {
    bool ok = false;
    Image image;
    std::string error;  // what is wrong and on which line, when not ok
    bool unreadable = false;  // the file itself could not be read
};

// Checks and reads a whole text. Accepts upper- and lower-case digits, CR LF or LF, blank
// lines, blanks around tokens, a last line without a line break.
ParseResult parseTiTxt(std::string_view AText);

// The same for a file; a file that cannot be read fails with the system's reason.
ParseResult readTiTxtFile(const std::string& APath);

// Writes an image as TI-TXT: upper-case digits, 16 bytes a line, LF line ends.
std::string formatTiTxt(const Image& AImage);

// Hands an image out in blocks: consecutive bytes of one run, at most the count asked for.
// A power-of-two count also keeps each block inside one aligned window of that size, so a
// reader that erases "the segment at each block's start" reaches every segment the image
// touches.
class BlockReader {
public:
    BlockReader() = default;
    explicit BlockReader(Image AImage);

    bool more() const;
    // Empty (no bytes) when nothing is left or AMax is 0.
    Section next(std::size_t AMax);

private:
    Image FImage;
    std::size_t FSection = 0;
    std::size_t FOffset = 0;
};

}  // namespace bsl430

// libFuzzer target for the TI-TXT reader: any input either fails with a diagnostic or gives
// an image whose blocks cover it exactly, within the count asked for, and that reads back the
// same after writing it out again.

#include "TiTxt.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <unistd.h>

namespace {

void check(bool ACondition) {
    if (!ACondition) std::abort();
}

void checkBlocks(const bsl430::Image& AImage, std::size_t ACount) {
    bsl430::BlockReader reader(AImage);
    std::size_t section = 0, offset = 0, seen = 0;
    while (reader.more()) {
        const bsl430::Section block = reader.next(ACount);
        check(!block.bytes.empty() && block.bytes.size() <= ACount);
        check(section < AImage.sections.size());
        const bsl430::Section& s = AImage.sections[section];
        check(block.address == s.address + offset);
        check(offset + block.bytes.size() <= s.bytes.size());
        for (std::size_t i = 0; i < block.bytes.size(); ++i) check(block.bytes[i] == s.bytes[offset + i]);
        if ((ACount & (ACount - 1)) == 0)
            check(block.address / ACount == (block.end() - 1) / ACount);
        offset += block.bytes.size();
        seen += block.bytes.size();
        if (offset == s.bytes.size()) {
            ++section;
            offset = 0;
        }
    }
    check(seen == AImage.byteCount());
    check(reader.next(ACount).bytes.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    const std::string_view text(reinterpret_cast<const char*>(AData), ASize);
    const bsl430::ParseResult parsed = bsl430::parseTiTxt(text);

    // The file reader must come to the same result as the text reader.
    static const std::string path = "fuzz-input-" + std::to_string(::getpid()) + ".txt";
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        const bool written = std::fwrite(AData, 1, ASize, file) == ASize;
        std::fclose(file);
        if (written) {
            const bsl430::ParseResult fromFile = bsl430::readTiTxtFile(path);
            check(fromFile.ok == parsed.ok && (fromFile.ok || !fromFile.error.empty()));
            check(fromFile.image.sections.size() == parsed.image.sections.size());
        }
        std::remove(path.c_str());
    }

    if (!parsed.ok) {
        check(!parsed.error.empty());
        return 0;
    }
    for (const bsl430::Section& s : parsed.image.sections) {
        check(!s.bytes.empty());
        check(s.end() <= bsl430::kTiTxtAddressLimit);
    }
    const bsl430::ParseResult again = bsl430::parseTiTxt(bsl430::formatTiTxt(parsed.image));
    check(again.ok && again.image.sections.size() == parsed.image.sections.size());
    for (std::size_t i = 0; i < again.image.sections.size(); ++i) {
        check(again.image.sections[i].address == parsed.image.sections[i].address);
        check(again.image.sections[i].bytes == parsed.image.sections[i].bytes);
    }
    checkBlocks(parsed.image, ASize > 0 ? AData[0] % 70 + 1 : 1);
    checkBlocks(parsed.image, 512);
    checkBlocks(parsed.image, 5000);
    // A block count of 0 hands out nothing and takes nothing from the image.
    bsl430::BlockReader reader(parsed.image);
    check(reader.next(0).bytes.empty());
    check(reader.more() == (parsed.image.byteCount() > 0));
    return 0;
}

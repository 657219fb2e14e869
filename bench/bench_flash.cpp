// Runs the package image through the BSL library on the simulated analyzer with datasheet
// timing, phase by phase as the flashing service does, and prints what it cost: HID reports,
// modeled seconds, and how close the sending comes to what the protocol allows at best.
// Usage: bench_flash [folder with Pass, RAM_BSL, ForcedBOR, BinVorel]

#include <bsl430.h>
#include <sim/Analyzer.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr const char* kDevice = "VID=0x2047,PID=0x200,DEVICEINDEX=0";
constexpr double kWordSeconds = 75e-6;   // programming one flash word
constexpr double kFrameSeconds = 1e-3;   // one full-speed frame

bool readFile(const std::string& APath, std::string& AText) {
    std::ifstream in(APath, std::ios::binary);
    if (!in) return false;
    AText.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

struct Phase {
    const char* name;
    sim::Stats start;
};

class Meter {
public:
    explicit Meter(std::shared_ptr<sim::Analyzer> ADevice) : FDevice(std::move(ADevice)) {}

    void begin(const char* AName) { FPhase = {AName, FDevice->stats()}; }

    double end() {
        const sim::Stats now = FDevice->stats();
        const double seconds = double(now.modeledMicros - FPhase.start.modeledMicros) / 1e6;
        std::printf("  %-10s %8llu reports out %6llu in %9.3f s modeled\n", FPhase.name,
                    static_cast<unsigned long long>(now.reportsToDevice - FPhase.start.reportsToDevice),
                    static_cast<unsigned long long>(now.reportsToHost - FPhase.start.reportsToHost),
                    seconds);
        return seconds;
    }

private:
    std::shared_ptr<sim::Analyzer> FDevice;
    Phase FPhase{};
};

int fail(const char* AStep) {
    std::fprintf(stderr, "bench_flash: %s failed: %s\n", AStep, BSL_getLastError());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir = argc > 1 ? argv[1] : BENCH_PACKAGE_DIR;
    std::string pass, ramBsl, forcedBor, probe;
    if (!readFile(dir + "/BinVorel", probe)) dir = BENCH_FIXTURE_DIR;
    if (!readFile(dir + "/Pass", pass) || !readFile(dir + "/RAM_BSL", ramBsl) ||
        !readFile(dir + "/ForcedBOR", forcedBor)) {
        std::fprintf(stderr, "bench_flash: no package images in %s\n", dir.c_str());
        return 1;
    }
    const std::string image = dir + "/BinVorel";

    // What the image holds: bytes and the flash words they touch.
    std::size_t bytes = 0;
    std::set<std::uint32_t> words;
    if (BSL_openTI_TextForRead(image.c_str()) != 0) return fail("reading the image");
    while (BSL_moreDataToRead_TextFile() == 1) {
        const DataBlock b = BSL_readTI_TextFile(10240);
        bytes += b.numberOfBytes;
        for (std::uint32_t i = 0; i < b.numberOfBytes; ++i) words.insert((b.startAddr + i) >> 1);
    }
    BSL_closeTI_Text();

    auto device = sim::Analyzer::create({.timing = sim::Timing::Realistic, .faults = {}});
    device->load(0x8000, std::vector<std::uint8_t>(0x40000, 0x00));  // the old firmware
    const DataBlock password = BSL_readTI_Text(pass.c_str(), 32);
    device->load(password.startAddr,
                 std::vector<std::uint8_t>(password.data, password.data + password.numberOfBytes));
    sim::Bus::instance().plug(device);
    Meter meter(device);

    std::printf("bench_flash: %s, %zu bytes in %zu flash words\n", image.c_str(), bytes, words.size());

    meter.begin("start-up");
    BSL_setFamily(3);
    BSL_setCom(2);
    if (BSL_initialize_BSL(kDevice) != 0) return fail("opening");
    if (BSL_RX_Password(password) != 0) return fail("the password");
    if (BSL_RX_TXT(ramBsl.c_str(), 1) != 0) return fail("sending the RAM BSL");
    if (BSL_LoadPC(0x2504) != 0) return fail("Load PC");
    BSL_close_BSL();
    if (BSL_initialize_BSL(kDevice) != 0) return fail("reopening");
    if (BSL_RX_Password(password) != 0) return fail("the RAM BSL's password");
    std::printf("  version    %s\n", BSL_TX_BSL_Version_String());
    if (BSL_eraseSegment(0xFFFF) != 0) return fail("erasing the reset vector");
    meter.end();

    meter.begin("erasing");
    if (BSL_openTI_TextForRead(image.c_str()) != 0) return fail("reading the image");
    while (BSL_moreDataToRead_TextFile() == 1) {
        if (BSL_eraseSegment(BSL_readTI_TextFile(512).startAddr) != 0) return fail("erasing");
    }
    BSL_closeTI_Text();
    const double erasing = meter.end();

    meter.begin("sending");
    if (BSL_RX_TXT_File(image.c_str(), 1) != 0) return fail("sending");
    const double sending = meter.end();

    meter.begin("verifying");
    std::size_t mismatches = 0;
    if (BSL_openTI_TextForRead(image.c_str()) != 0) return fail("reading the image");
    while (BSL_moreDataToRead_TextFile() != 0) {
        const DataBlock b = BSL_readTI_TextFile(5000);
        if (BSL_CRC_Check(b.startAddr, b.numberOfBytes) != 0) return fail("the CRC check");
        const dataBuffer rx = BSL_get_RX_Buffer();
        std::uint16_t crc = 0xFFFF;
        for (std::uint32_t i = 0; i < b.numberOfBytes; ++i) {
            std::uint16_t x = static_cast<std::uint8_t>((crc >> 8) ^ b.data[i]);
            x ^= x >> 4;
            crc = static_cast<std::uint16_t>((crc << 8) ^ (x << 12) ^ (x << 5) ^ x);
        }
        if ((rx.data[1] | rx.data[2] << 8) != crc) ++mismatches;
    }
    BSL_closeTI_Text();
    const double verifying = meter.end();

    meter.begin("reset");
    BSL_RX_TXT(forcedBor.c_str(), 1);
    meter.end();

    const double frames = std::ceil(double(bytes) / BSL430_MAX_DATA_PER_REPORT) * kFrameSeconds;
    const double programming = double(words.size()) * kWordSeconds;
    const double bound = std::max(frames, programming);
    std::printf("total: %llu reports out, %llu in, %.3f s modeled; %zu blocks differ\n",
                static_cast<unsigned long long>(device->stats().reportsToDevice),
                static_cast<unsigned long long>(device->stats().reportsToHost),
                double(device->stats().modeledMicros) / 1e6, mismatches);
    std::printf("erasing %.3f s, sending %.3f s, verifying %.3f s\n", erasing, sending, verifying);
    std::printf("lower bound for sending: max(%.3f s of frames, %.3f s of programming) = %.3f s\n",
                frames, programming, bound);
    std::printf("sending / lower bound = %.3f (target <= 1.10)\n", sending / bound);
    return mismatches == 0 ? 0 : 1;
}

#pragma once
// The simulated analyzer: a model of the MSP430 USB boot loader (flash BSL, RAM BSL, flash
// memory, password, CRC, re-enumeration, forced reset) seen from the USB host as 64-byte HID
// reports. Used by the BSL library's in-process transport (tests) and by benchmarks.

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace sim {

constexpr std::size_t kReportSize = 64;
using Report = std::array<std::uint8_t, kReportSize>;

constexpr std::uint16_t kVendorId = 0x2047;
constexpr std::uint16_t kProductId = 0x0200;

enum class Timing {
    Instant,    // tests: no modeled time passes
    Realistic,  // benchmarks: datasheet timing on a virtual clock (nothing really waits)
    RealTime,   // the same timing waited out on the host's clock: an answer is there once its
                // time has come, the device is off the bus for its time after Load PC
};

// What runs on the device at the moment.
enum class Mode {
    FlashBsl,     // the small boot loader in flash (after plugging in in update mode)
    RamBsl,       // the RAM BSL started by Load PC
    Application,  // after the forced reset: no longer a boot loader, off the bus
    Unplugged,    // taken off the bus by a fault or by unplug()
};

// What becomes of the answer to one chosen command.
enum class AnswerFault {
    None,
    Lost,     // never sent
    Garbled,  // sent, but not as a BSL report (its report id is damaged)
    Late,     // sent after the host has waited lateMillis for it
};

struct Faults {
    bool absent = false;                 // never enumerates
    bool refusePassword = false;         // every non-default password is refused (and mass-erases)
    bool refuseDefaultPassword = false;  // the all-0xFF password is refused too
    bool refuseRamBslPassword = false;   // the RAM BSL refuses every password
    // Drops off the bus right after handling the n-th command (1-based) whose code is given.
    std::optional<std::uint8_t> unplugAfterCommand;
    int unplugAfterCount = 1;
    // The RAM BSL reports these four bytes instead of those found at 0x2500.
    std::optional<std::array<std::uint8_t, 4>> ramBslVersion;
    // Flash writes to this address store the byte with bit 0 flipped.
    std::optional<std::uint32_t> flipBitAt;
    bool refuseCrcCheck = false;         // CRC Check answers with an error message
    bool refuseSegmentErase = false;     // Erase Segment answers with an error message
    // The answer to the n-th command (1-based) with this code suffers answerFault. A late
    // answer holds back every answer after it. Only a host that says how long it waits
    // (Link::read's argument, as the in-process transport does) ever gets it.
    std::optional<std::uint8_t> answerFaultCommand;
    int answerFaultCount = 1;
    AnswerFault answerFault = AnswerFault::None;
    int lateMillis = 2500;
    // From the n-th command (1-based) with this code on, the device stays on the bus and takes
    // reports, but neither carries them out nor answers (that command included).
    std::optional<std::uint8_t> silentFromCommand;
    int silentFromCount = 1;
};

struct Stats {
    std::uint64_t reportsToDevice = 0;
    std::uint64_t reportsToHost = 0;
    std::uint64_t modeledMicros = 0;     // virtual clock; stays 0 in Timing::Instant
    std::uint64_t massErases = 0;
    std::uint64_t segmentErases = 0;
    std::uint64_t resets = 0;            // forced brown-out resets
    std::uint64_t reenumerations = 0;    // after Load PC
    // How long the host waited for answers, as it told Link::read (virtual: the in-process
    // transport does not really wait).
    std::uint64_t hostWaitMillis = 0;
};

class Analyzer;

// One open connection from the host. It dies when the device leaves the bus (re-enumeration,
// reset, unplug); a dead link refuses writes and reads.
class Link {
public:
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    bool alive() const;
    // One OUT report (report id 0x3F, length, core command, padding). False when dead.
    bool write(const Report& AReport);
    // The next IN report the device has queued, or nothing (no answer pending, or dead).
    // AWaitMs: how long the host waits for it; only a late answer makes that matter.
    std::optional<Report> read(int AWaitMs = 0);

private:
    friend class Analyzer;
    Link(std::shared_ptr<Analyzer> AAnalyzer, std::uint64_t AGeneration);
    std::shared_ptr<Analyzer> FAnalyzer;
    std::uint64_t FGeneration;
};

struct Options {
    Timing timing = Timing::Instant;
    Faults faults;
};

class Analyzer : public std::enable_shared_from_this<Analyzer> {
public:
    // A device in update mode (flash BSL running, locked), flash erased.
    static std::shared_ptr<Analyzer> create(Options AOptions = {});
    ~Analyzer();

    // --- host side ---
    bool enumerated() const;              // on the bus as 2047:0200
    std::unique_ptr<Link> open();         // nullptr when not enumerated
    // Timing::RealTime: when the next answer falls due or the device comes back on the bus;
    // nothing when it waits for the host, and in the other timings.
    std::optional<std::chrono::steady_clock::time_point> nextDue() const;
    // Timing::RealTime: when the device can take the next OUT report, while it is still busy
    // with the one before (the host's write waits till then); nothing once it can.
    std::optional<std::chrono::steady_clock::time_point> takesReportAt() const;

    // --- test side ---
    // Direct memory access, bypassing the boot loader (the firmware already on the device,
    // inspection after an update).
    void load(std::uint32_t AAddr, const std::vector<std::uint8_t>& ABytes);
    std::vector<std::uint8_t> read(std::uint32_t AAddr, std::size_t ALength) const;
    Mode mode() const;
    Stats stats() const;
    void setFaults(const Faults& AFaults);
    void unplug();
    // Every core command received, in order (code and payload, without report framing).
    std::vector<std::vector<std::uint8_t>> commandLog() const;

private:
    friend class Link;
    explicit Analyzer(Options AOptions);
    struct State;
    std::unique_ptr<State> FState;
    mutable std::mutex FMutex;
};

// The simulated USB bus that the in-process transport searches: tests plug analyzers in.
class Bus {
public:
    static Bus& instance();
    void plug(std::shared_ptr<Analyzer> AAnalyzer);
    void unplugAll();
    // The index-th plugged analyzer that is enumerated with the given ids, or nullptr.
    std::shared_ptr<Analyzer> find(std::uint16_t AVid, std::uint16_t APid, int AIndex) const;

private:
    Bus() = default;
    mutable std::mutex FMutex;
    std::vector<std::shared_ptr<Analyzer>> FAnalyzers;
};

}  // namespace sim

#include "Analyzer.h"

#include "BootLoader.h"
#include "Memory.h"
#include "Messages.h"
#include "Reports.h"
#include "VirtualClock.h"

#include <algorithm>
#include <deque>

namespace sim {

struct Analyzer::State {
    explicit State(Options AOptions)
        : faults(AOptions.faults), clock(AOptions.timing), bootLoader(memory, stats)
    {
        bootLoader.enter(Mode::FlashBsl);
    }

    bool enumerated() const
    {
        return !faults.absent && (mode == Mode::FlashBsl || mode == Mode::RamBsl)
               && clock.reached(backOnBus);
    }

    // The device leaves the bus: every open link dies and pending answers are lost.
    void dropOff(Mode ANext)
    {
        mode = ANext;
        ++generation;
        answers.clear();
        late.reset();
    }

    void handle(const std::vector<std::uint8_t>& ACore);
    void send(const std::vector<std::uint8_t>& ACore);

    Faults faults;
    int unplugCount = 0;  // commands seen that the unplug fault counts
    int answerFaultSeen = 0;  // commands seen that the answer fault counts
    int silentSeen = 0;       // commands seen that the silence fault counts
    bool silent = false;      // the silence fault has struck
    std::optional<Report> late;  // an answer on its way, ahead of all others
    int lateRemainingMs = 0;
    Stats stats;
    Memory memory;
    VirtualClock clock;
    BootLoader bootLoader;
    Mode mode = Mode::FlashBsl;
    std::uint64_t generation = 0;
    std::uint64_t backOnBus = 0;  // clock time the last re-enumeration ends
    struct Answer {
        std::uint64_t due;  // clock time it reaches the host
        Report report;
    };
    std::deque<Answer> answers;
    std::vector<std::vector<std::uint8_t>> log;
};

void Analyzer::State::send(const std::vector<std::uint8_t>& ACore)
{
    clock.reportToHost();
    answers.push_back({clock.now(), frameReport(ACore)});
    ++stats.reportsToHost;
}

void Analyzer::State::handle(const std::vector<std::uint8_t>& ACore)
{
    log.push_back(ACore);
    if (faults.silentFromCommand && *faults.silentFromCommand == ACore.front()
        && ++silentSeen == faults.silentFromCount)
        silent = true;
    if (silent)
        return;
    const Outcome out = bootLoader.execute(ACore, faults);
    clock.process(out.micros);
    const bool struck = faults.answerFaultCommand && *faults.answerFaultCommand == ACore.front()
                        && ++answerFaultSeen == faults.answerFaultCount;
    for (const auto& answer : out.answers) {
        if (!struck || faults.answerFault == AnswerFault::None) {
            send(answer);
            continue;
        }
        switch (faults.answerFault) {
        case AnswerFault::None:
        case AnswerFault::Lost:
            break;
        case AnswerFault::Garbled:
            send(answer);
            answers.back().report[0] ^= 0x5A;
            break;
        case AnswerFault::Late:
            clock.reportToHost();
            ++stats.reportsToHost;
            late = frameReport(answer);
            lateRemainingMs = faults.lateMillis;
            break;
        }
    }

    switch (out.event) {
    case Outcome::Event::None:
        break;
    case Outcome::Event::StartRamBsl:
        dropOff(Mode::RamBsl);
        clock.reenumerate();
        backOnBus = clock.now();
        ++stats.reenumerations;
        bootLoader.enter(Mode::RamBsl);
        break;
    case Outcome::Event::Leave:
        dropOff(Mode::Application);
        break;
    case Outcome::Event::ForcedReset:
        dropOff(Mode::Application);
        memory.clearPeripherals();
        ++stats.resets;
        break;
    }

    if (faults.unplugAfterCommand && *faults.unplugAfterCommand == ACore.front()
        && ++unplugCount == faults.unplugAfterCount && enumerated())
        dropOff(Mode::Unplugged);
}

// --- Link ---

Link::Link(std::shared_ptr<Analyzer> AAnalyzer, std::uint64_t AGeneration)
    : FAnalyzer(std::move(AAnalyzer)), FGeneration(AGeneration)
{
}

Link::~Link() = default;

bool Link::alive() const
{
    std::lock_guard lock(FAnalyzer->FMutex);
    const auto& s = *FAnalyzer->FState;
    return s.enumerated() && s.generation == FGeneration;
}

bool Link::write(const Report& AReport)
{
    std::lock_guard lock(FAnalyzer->FMutex);
    auto& s = *FAnalyzer->FState;
    if (!s.enumerated() || s.generation != FGeneration)
        return false;
    ++s.stats.reportsToDevice;
    s.clock.reportToDevice();
    const ParsedReport parsed = parseReport(AReport);
    if (s.silent) {
        if (parsed.kind == ParsedReport::Kind::Command && !parsed.core.empty())
            s.log.push_back(parsed.core);
        return true;
    }
    switch (parsed.kind) {
    case ParsedReport::Kind::Foreign:
        break;
    case ParsedReport::Kind::Oversize:
        s.clock.process(0);
        s.send({msg::kMessageAnswer, msg::kPacketTooLarge});
        break;
    case ParsedReport::Kind::Command:
        if (parsed.core.empty()) {
            s.clock.process(0);
            s.send({msg::kMessageAnswer, msg::kUnknownCommand});
        } else {
            s.handle(parsed.core);
        }
        break;
    }
    s.stats.modeledMicros = s.clock.now();
    return true;
}

std::optional<Report> Link::read(int AWaitMs)
{
    std::lock_guard lock(FAnalyzer->FMutex);
    auto& s = *FAnalyzer->FState;
    if (!s.enumerated() || s.generation != FGeneration)
        return std::nullopt;
    const auto wait = std::uint64_t(std::max(AWaitMs, 0));
    if (s.late) {
        if (s.lateRemainingMs > AWaitMs) {
            s.lateRemainingMs -= std::max(AWaitMs, 0);
            s.stats.hostWaitMillis += wait;
            return std::nullopt;
        }
        s.stats.hostWaitMillis += std::uint64_t(std::max(s.lateRemainingMs, 0));
        const Report report = *s.late;
        s.late.reset();
        return report;
    }
    if (s.answers.empty() || !s.clock.reached(s.answers.front().due)) {
        s.stats.hostWaitMillis += wait;
        return std::nullopt;
    }
    Report report = s.answers.front().report;
    s.answers.pop_front();
    return report;
}

// --- Analyzer ---

std::shared_ptr<Analyzer> Analyzer::create(Options AOptions)
{
    return std::shared_ptr<Analyzer>(new Analyzer(std::move(AOptions)));
}

Analyzer::Analyzer(Options AOptions) : FState(std::make_unique<State>(std::move(AOptions))) {}

Analyzer::~Analyzer() = default;

bool Analyzer::enumerated() const
{
    std::lock_guard lock(FMutex);
    return FState->enumerated();
}

std::unique_ptr<Link> Analyzer::open()
{
    std::lock_guard lock(FMutex);
    if (!FState->enumerated())
        return nullptr;
    FState->answers.clear();  // reports nobody was reading for are gone
    return std::unique_ptr<Link>(new Link(shared_from_this(), FState->generation));
}

std::optional<std::chrono::steady_clock::time_point> Analyzer::nextDue() const
{
    std::lock_guard lock(FMutex);
    const auto& s = *FState;
    if (!s.answers.empty() && !s.clock.reached(s.answers.front().due))
        return s.clock.at(s.answers.front().due);
    if (!s.clock.reached(s.backOnBus))
        return s.clock.at(s.backOnBus);
    return std::nullopt;
}

std::optional<std::chrono::steady_clock::time_point> Analyzer::takesReportAt() const
{
    std::lock_guard lock(FMutex);
    const auto& s = *FState;
    if (s.clock.reached(s.clock.bufferFree()))
        return std::nullopt;
    return s.clock.at(s.clock.bufferFree());
}

void Analyzer::load(std::uint32_t AAddr, const std::vector<std::uint8_t>& ABytes)
{
    std::lock_guard lock(FMutex);
    FState->memory.load(AAddr, ABytes);
}

std::vector<std::uint8_t> Analyzer::read(std::uint32_t AAddr, std::size_t ALength) const
{
    std::lock_guard lock(FMutex);
    return FState->memory.read(AAddr, ALength);
}

Mode Analyzer::mode() const
{
    std::lock_guard lock(FMutex);
    return FState->mode;
}

Stats Analyzer::stats() const
{
    std::lock_guard lock(FMutex);
    return FState->stats;
}

void Analyzer::setFaults(const Faults& AFaults)
{
    std::lock_guard lock(FMutex);
    auto& s = *FState;
    if (AFaults.absent && !s.faults.absent)
        ++s.generation;  // gone from the bus: open links die for good
    s.faults = AFaults;
    s.unplugCount = 0;
    s.answerFaultSeen = 0;
    s.silentSeen = 0;
    s.silent = false;
}

void Analyzer::unplug()
{
    std::lock_guard lock(FMutex);
    FState->dropOff(Mode::Unplugged);
}

std::vector<std::vector<std::uint8_t>> Analyzer::commandLog() const
{
    std::lock_guard lock(FMutex);
    return FState->log;
}

// --- Bus ---

Bus& Bus::instance()
{
    static Bus bus;
    return bus;
}

void Bus::plug(std::shared_ptr<Analyzer> AAnalyzer)
{
    if (!AAnalyzer)
        return;
    std::lock_guard lock(FMutex);
    if (std::find(FAnalyzers.begin(), FAnalyzers.end(), AAnalyzer) == FAnalyzers.end())
        FAnalyzers.push_back(std::move(AAnalyzer));
}

void Bus::unplugAll()
{
    std::lock_guard lock(FMutex);
    for (const auto& analyzer : FAnalyzers)
        analyzer->unplug();
    FAnalyzers.clear();
}

std::shared_ptr<Analyzer> Bus::find(std::uint16_t AVid, std::uint16_t APid, int AIndex) const
{
    if (AVid != kVendorId || APid != kProductId || AIndex < 0)
        return nullptr;
    std::lock_guard lock(FMutex);
    int index = 0;
    for (const auto& analyzer : FAnalyzers) {
        if (analyzer->enumerated() && index++ == AIndex)
            return analyzer;
    }
    return nullptr;
}

}  // namespace sim

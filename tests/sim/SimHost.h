#pragma once
// A raw-report host for driving the simulated analyzer in tests.

#include <sim/Analyzer.h>

#include <cstdint>
#include <stdexcept>
#include <memory>
#include <vector>

namespace simtest {

using Bytes = std::vector<std::uint8_t>;

class SimHost {
public:
    explicit SimHost(std::shared_ptr<sim::Analyzer> AAnalyzer) : FAnalyzer(std::move(AAnalyzer))
    {
        reopen();
    }

    bool reopen()
    {
        FLink = FAnalyzer->open();
        return FLink != nullptr;
    }
    sim::Link* link() const { return FLink.get(); }

    // Sends one core command; false when the link refused the report.
    bool send(const Bytes& ACore)
    {
        if (ACore.size() > sim::kReportSize - 2)
            throw std::length_error("core command larger than one report");
        sim::Report r;
        r.fill(0xAC);
        r[0] = 0x3F;
        r[1] = static_cast<std::uint8_t>(ACore.size());
        std::copy(ACore.begin(), ACore.end(), r.begin() + 2);
        return FLink && FLink->write(r);
    }
    // The next answer's core bytes, empty when none is queued.
    Bytes answer()
    {
        if (!FLink)
            return {};
        const auto r = FLink->read();
        if (!r)
            return {};
        return Bytes(r->begin() + 2, r->begin() + 2 + (*r)[1]);
    }
    // One command and its (first) answer.
    Bytes call(const Bytes& ACore)
    {
        send(ACore);
        return answer();
    }

    static Bytes addr(std::uint32_t A) { return {std::uint8_t(A), std::uint8_t(A >> 8), std::uint8_t(A >> 16)}; }
    static Bytes cat(Bytes A, const Bytes& B)
    {
        A.insert(A.end(), B.begin(), B.end());
        return A;
    }
    static Bytes password(std::uint8_t AFill = 0xFF) { return cat({0x11}, Bytes(32, AFill)); }
    static Bytes rxBlock(std::uint32_t A, const Bytes& D, bool AFast = false)
    {
        return cat(cat({std::uint8_t(AFast ? 0x1B : 0x10)}, addr(A)), D);
    }
    static Bytes withLength(std::uint8_t ACode, std::uint32_t A, std::uint16_t L)
    {
        return cat(cat({ACode}, addr(A)), {std::uint8_t(L), std::uint8_t(L >> 8)});
    }
    static Bytes ok() { return {0x3B, 0x00}; }
    static Bytes message(std::uint8_t C) { return {0x3B, C}; }

    // A minimal RAM BSL image in one fast block: version bytes, then code at the entry point.
    static Bytes ramBsl(const Bytes& AVersion = {0x00, 0x07, 0x08, 0x38})
    {
        return cat(AVersion, Bytes(54, 0x3C));
    }
    // Unlocks the flash BSL with the default password, loads and starts a RAM BSL, reopens
    // and (unless told not to) unlocks it.
    bool startRamBsl(const Bytes& AVersion = {0x00, 0x07, 0x08, 0x38}, bool AUnlock = true)
    {
        if (call(password()) != ok())
            return false;
        const Bytes image = ramBsl(AVersion);
        for (std::size_t at = 0; at < image.size(); at += 58) {
            const Bytes chunk(image.begin() + at, image.begin() + std::min(image.size(), at + 58));
            send(rxBlock(0x2500 + std::uint32_t(at), chunk, true));
        }
        send(cat({0x17}, addr(0x2504)));
        return reopen() && (!AUnlock || call(password()) == ok());
    }

private:
    std::shared_ptr<sim::Analyzer> FAnalyzer;
    std::unique_ptr<sim::Link> FLink;
};

}  // namespace simtest

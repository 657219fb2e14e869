#include "SimTransport.h"

#include "Analyzer.h"

namespace bsl430 {

static_assert(sim::kReportSize == kReportSize);

std::unique_ptr<Transport> makeTransport() { return std::make_unique<SimTransport>(); }

SimTransport::SimTransport() = default;

SimTransport::~SimTransport() = default;

// The simulated bus re-enumerates at once: nothing to wait for.
bool SimTransport::open(std::uint16_t AVid, std::uint16_t APid, int AIndex, int) {
    close();
    FError.clear();
    const auto analyzer = sim::Bus::instance().find(AVid, APid, AIndex);
    if (analyzer) FLink = analyzer->open();
    if (!FLink) FError = "(not on the simulated bus)";
    return FLink != nullptr;
}

void SimTransport::close() { FLink.reset(); }

bool SimTransport::isOpen() const { return FLink != nullptr; }

bool SimTransport::write(const Report& AReport) {
    if (FLink && FLink->write(AReport)) return true;
    FError = "(the simulated device left the bus)";
    return false;
}

ReadStatus SimTransport::read(Report& AReport, int ATimeoutMs) {
    // The model answers while it handles a report; only a late answer needs the host's wait,
    // which the model counts instead of anyone waiting for real.
    if (!FLink) return ReadStatus::Lost;
    if (auto report = FLink->read(ATimeoutMs)) {
        AReport = *report;
        return ReadStatus::Ok;
    }
    if (FLink->alive()) return ReadStatus::Timeout;
    FError = "(the simulated device left the bus)";
    return ReadStatus::Lost;
}

int SimTransport::count(std::uint16_t AVid, std::uint16_t APid) {
    int n = 0;
    while (sim::Bus::instance().find(AVid, APid, n)) ++n;
    return n;
}

std::string SimTransport::lastError() const { return FError; }

}  // namespace bsl430

#pragma once
// The simulated analyzer in the same process: the library's own tests and the benchmark
// plug analyzers into sim::Bus and drive them through this library build.

#include <Transport.h>

#include <memory>

namespace sim {
class Link;
}

namespace bsl430 {

class SimTransport final : public Transport {
public:
    SimTransport();
    ~SimTransport() override;

    bool open(std::uint16_t AVid, std::uint16_t APid, int AIndex, int AWaitMs) override;
    void close() override;
    bool isOpen() const override;
    bool write(const Report& AReport) override;
    ReadStatus read(Report& AReport, int ATimeoutMs) override;
    int count(std::uint16_t AVid, std::uint16_t APid) override;
    std::string lastError() const override;

private:
    std::unique_ptr<sim::Link> FLink;
    std::string FError;
};

}  // namespace bsl430

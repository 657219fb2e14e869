#pragma once
// The link to one boot loader: 64-byte HID reports out and in. Which implementation the
// library carries is decided when it is built (makeTransport).

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace bsl430 {

constexpr std::size_t kReportSize = 64;
using Report = std::array<std::uint8_t, kReportSize>;

enum class ReadStatus {
    Ok,       // a report arrived
    Timeout,  // nothing within the time allowed
    Lost,     // the device is gone (or nothing is open)
};

class Transport {
public:
    virtual ~Transport() = default;

    // Opens the AIndex-th device with these ids (0-based); false when there is none.
    // AWaitMs > 0: the device opened last is expected back after a re-enumeration; wait up to
    // that long for it (and for it to become accessible) instead of taking whatever is there.
    virtual bool open(std::uint16_t AVid, std::uint16_t APid, int AIndex, int AWaitMs) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // One OUT report, byte 0 the report id. False when it could not be delivered.
    virtual bool write(const Report& AReport) = 0;
    // The next IN report, waiting at most ATimeoutMs (0: only what is already there).
    // A report shorter than its length byte declares arrives as all zeros, which no answer
    // can be taken for.
    virtual ReadStatus read(Report& AReport, int ATimeoutMs) = 0;
    // Devices with these ids that open() could reach.
    virtual int count(std::uint16_t AVid, std::uint16_t APid) = 0;
    // The reason of the last failure, for diagnostics; may be empty.
    virtual std::string lastError() const = 0;
};

// The transport this build of the library uses.
std::unique_ptr<Transport> makeTransport();

}  // namespace bsl430

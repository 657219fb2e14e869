#pragma once
// Core-command answer bytes of the boot loader.

#include <cstdint>

namespace sim::msg {

constexpr std::uint8_t kDataAnswer = 0x3A;     // followed by data
constexpr std::uint8_t kMessageAnswer = 0x3B;  // followed by one message byte

constexpr std::uint8_t kSuccess = 0x00;
constexpr std::uint8_t kWriteCheckFailed = 0x01;
constexpr std::uint8_t kFlashFailBit = 0x02;
constexpr std::uint8_t kVoltageChange = 0x03;
constexpr std::uint8_t kLocked = 0x04;
constexpr std::uint8_t kPasswordError = 0x05;
constexpr std::uint8_t kByteWriteForbidden = 0x06;
constexpr std::uint8_t kUnknownCommand = 0x07;
constexpr std::uint8_t kPacketTooLarge = 0x08;

}  // namespace sim::msg

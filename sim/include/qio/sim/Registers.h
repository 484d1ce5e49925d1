// The QIO-5162 register window as the board decodes it: offsets from the I/O
// base, command codes, and the fields of the mode word, the clock-generator
// word, the interrupt registers and the DIO direction byte. Each is named once.
#pragma once

#include <cstdint>

namespace qio::sim {

inline constexpr std::uint16_t kWindowLength = 0x40;
inline constexpr unsigned kBlockCount = 4;       // blocks 0, 1 have pins; 2, 3 are partners
inline constexpr unsigned kCounterCount = 2;     // CLK0/OUT0, CLK1/OUT1
inline constexpr unsigned kGeneratorCount = 2;   // FOUT0, FOUT1
inline constexpr unsigned kPortCount = 3;        // A, B, C
inline constexpr unsigned kDiChannelCount = 24;

namespace offset {
inline constexpr std::uint16_t kBlockStride = 8;
constexpr std::uint16_t Mode(unsigned block) { return static_cast<std::uint16_t>(0x00 + kBlockStride * block); }
constexpr std::uint16_t Load(unsigned block) { return static_cast<std::uint16_t>(0x02 + kBlockStride * block); }
constexpr std::uint16_t Hold(unsigned block) { return static_cast<std::uint16_t>(0x04 + kBlockStride * block); }
constexpr std::uint16_t Command(unsigned block) { return static_cast<std::uint16_t>(0x06 + kBlockStride * block); }
inline constexpr std::uint16_t kStrobe = 0x20;
inline constexpr std::uint16_t kInterrupt = 0x22;  // write: enable; read: status
inline constexpr std::uint16_t kInterruptClear = 0x24;
constexpr std::uint16_t PortData(unsigned port) { return static_cast<std::uint16_t>(0x26 + 2 * port); }
inline constexpr std::uint16_t kDirection = 0x2C;
constexpr std::uint16_t DiFlags(unsigned port) { return static_cast<std::uint16_t>(0x2E + 2 * port); }
constexpr std::uint16_t Generator(unsigned generator) { return static_cast<std::uint16_t>(0x38 + 2 * generator); }
}  // namespace offset

// Command codes, applied by the strobe.
namespace command {
inline constexpr std::uint8_t kDisarm = 0x00;
inline constexpr std::uint8_t kLoad = 0x01;
inline constexpr std::uint8_t kLoadAndArm = 0x05;
inline constexpr std::uint8_t kLatch = 0x06;
inline constexpr std::uint8_t kReset = 0x07;
}  // namespace command

// Mode word fields.
namespace mode {
inline constexpr std::uint16_t kOutputField = 0x0007;
inline constexpr std::uint16_t kCountUp = 0x0008;
inline constexpr std::uint16_t kRepeat = 0x0010;
inline constexpr std::uint16_t kAlternate = 0x0020;
inline constexpr std::uint16_t kSingleWindow = 0x0040;
inline constexpr std::uint16_t kSourceField = 0x0700;
inline constexpr unsigned kSourceShift = 8;
inline constexpr std::uint16_t kCascade = 0x1000;
inline constexpr std::uint16_t kGateField = 0xE000;
inline constexpr unsigned kGateShift = 13;

// OUT field values.
inline constexpr unsigned kOutputLow = 0;
inline constexpr unsigned kOutputToggle = 6;
inline constexpr unsigned kOutputToggleAlso = 2;

// SRC field values.
inline constexpr unsigned kSourceBase = 0;
inline constexpr unsigned kSourcePin = 2;
inline constexpr unsigned kSourceGenerator0 = 4;
inline constexpr unsigned kSourceGenerator1 = 5;
inline constexpr unsigned kSourcePair = 7;

// GATE field values.
inline constexpr unsigned kGateNone = 0;
inline constexpr unsigned kGateLevel = 4;
inline constexpr unsigned kGateHighPhase = 5;
inline constexpr unsigned kGateLowPhase = 7;
}  // namespace mode

// Clock generator word.
namespace generator {
inline constexpr std::uint16_t kDivisorField = 0x000F;
inline constexpr std::uint16_t kSourceField = 0x0700;
inline constexpr unsigned kSourceShift = 8;
inline constexpr std::uint16_t kEnable = 0x1000;
inline constexpr unsigned kSourceBase = 1;      // 20 MHz
inline constexpr unsigned kSourcePin = 2;       // CLKn
inline constexpr unsigned kSource10MHz = 3;
inline constexpr unsigned kSource1MHz = 4;
inline constexpr unsigned kSource100kHz = 5;
inline constexpr unsigned kSource10kHz = 6;
inline constexpr unsigned kSource1kHz = 7;
}  // namespace generator

// Interrupt enable / status bits.
namespace interrupt {
constexpr std::uint16_t TerminalCount(unsigned counter) { return static_cast<std::uint16_t>(1u << counter); }
constexpr std::uint16_t DiPort(unsigned port) { return static_cast<std::uint16_t>(1u << (2 + port)); }
inline constexpr std::uint16_t kAll = 0x001F;
}  // namespace interrupt

// DIO direction byte: a set bit makes the lines inputs.
namespace direction {
inline constexpr std::uint8_t kPortA = 0x10;
inline constexpr std::uint8_t kPortB = 0x02;
inline constexpr std::uint8_t kPortCLow = 0x01;
inline constexpr std::uint8_t kPortCHigh = 0x08;
inline constexpr std::uint8_t kAll = kPortA | kPortB | kPortCLow | kPortCHigh;
}  // namespace direction

// The board's base clock: 20 MHz, 50 ns.
inline constexpr std::uint64_t kBaseClockPeriodPs = 50'000;

}  // namespace qio::sim

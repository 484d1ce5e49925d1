// A device template: the configuration of one board in the target system, and
// the fixed choices its base address and interrupt line are taken from.
#pragma once

#include <array>
#include <cstdint>

namespace qio::config {

struct TemplateRecord {
  std::uint32_t inUse = 0;       // nonzero when the slot holds a template
  std::uint32_t irq = 0;         // interrupt line, 0 = none ("Irq")
  std::uint32_t ioBase = 0;      // I/O port base, 0 = none ("IoBase")
  std::uint32_t timerClock = 0;  // "TimerClock", set each time the template is written
  // "DigPortCfg": [0] port A, [1] port B direction (kPortInput/kPortOutput);
  // [2] port C code (kPortC...).
  std::array<std::uint8_t, 3> portConfig{};
};

inline constexpr int kTemplateSlots = 16;

// Port directions.
inline constexpr std::uint8_t kPortInput = 0;
inline constexpr std::uint8_t kPortOutput = 1;
// Port C codes.
inline constexpr std::uint8_t kPortCInput = 0;           // lines 0-7 input
inline constexpr std::uint8_t kPortCOutput = 1;          // lines 0-7 output
inline constexpr std::uint8_t kPortCLowInHighOut = 3;    // lines 0-3 input, 4-7 output
inline constexpr std::uint8_t kPortCLowOutHighIn = 4;    // lines 0-3 output, 4-7 input

// Base addresses a board can be jumpered to, in the order they are offered.
inline constexpr std::array<std::uint32_t, 12> kBaseAddresses = {
    0x100, 0x140, 0x180, 0x1C0, 0x200, 0x240, 0x280, 0x2C0, 0x300, 0x340, 0x380, 0x3C0};
// Interrupt lines the board can drive, as a mask over lines 0-15: 3, 4, 5, 6,
// 7, 9, 11, 12 and 15.
inline constexpr std::uint32_t kIrqMask = 0x9AF8;
// The line given to a template when every line of the mask is taken.
inline constexpr std::uint32_t kDefaultIrq = 3;
// Length of the board's port window.
inline constexpr std::uint32_t kPortWindowLength = 0x40;
// Value of "TimerClock" written with every template.
inline constexpr std::uint32_t kTimerClock = 20;

constexpr bool IsOfferedBase(std::uint32_t value) {
  for (const auto base : kBaseAddresses) {
    if (base == value) return true;
  }
  return false;
}

constexpr bool IsOfferedIrq(std::uint32_t line) { return line < 16 && ((kIrqMask >> line) & 1u) != 0; }

}  // namespace qio::config

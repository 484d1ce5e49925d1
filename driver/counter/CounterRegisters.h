// The counter/timer blocks as the engine drives them: command codes, strobe
// masks, the mode words it writes, the clock-generator word, and the values
// of the ownership fields `counterFunction` and `generatorState`.
//
// Counter n (0 or 1) is block n; block n + 1 is its partner (gate or edge
// counter of a frequency measurement, phase counter of the period method).
#pragma once

#include <cstdint>

namespace qio::driver::counter {

// ---- commands (written to CommandRegister n, applied by the strobe) ----
inline constexpr std::uint8_t kCmdDisarm = 0x00;
inline constexpr std::uint8_t kCmdLoad = 0x01;        // load only, not armed
inline constexpr std::uint8_t kCmdLoadAndArm = 0x05;  // load and start counting
inline constexpr std::uint8_t kCmdLatch = 0x06;       // current count -> HoldRegister
inline constexpr std::uint8_t kCmdReset = 0x07;

constexpr std::uint8_t StrobeMask(unsigned block) { return static_cast<std::uint8_t>(1u << block); }
// Counter n and its partner block n + 1.
constexpr std::uint8_t PairMask(unsigned n) { return static_cast<std::uint8_t>((1u << n) | (1u << (n + 1))); }

// ---- mode word fields ----
inline constexpr std::uint16_t kSourceField = 0x0700;  // bits 8-10: count source
inline constexpr std::uint16_t kSourceBaseClock = 0x0000;
inline constexpr std::uint16_t kCascadeBit = 0x1000;  // second block of a cascaded pair
// Source value 4 + n: the output of ClockGenerator n.
constexpr std::uint16_t GeneratorSource(unsigned n) { return static_cast<std::uint16_t>((4u + n) << 8); }

// In the raw configuration, the source word 0x0C00 stands for source 7.
inline constexpr std::uint16_t kRawSourceAlias = 0x0C00;
inline constexpr std::uint16_t kRawSourceReplacement = 0x0700;

// ---- mode words ----
// Count the own input pin upwards, repeating: total = tally x 65536 + count.
inline constexpr std::uint16_t kModeEventCount = 0x0218;
inline constexpr std::uint16_t kEventInitialCount = 1;
// Down-counting square wave: output toggles at every terminal count. The gate
// of an edge count (low for one load, high for the next) and the pulse output.
inline constexpr std::uint16_t kModeSquareWave = 0x0016;
// Edge counter of a gated count: counts the pair's input edges upwards during
// the first high window of the partner's output, then holds.
inline constexpr std::uint16_t kModeGatedEdgeCount = 0x9748;
// Period method: count the time base down during one high (resp. low) phase
// of the counter's input.
inline constexpr std::uint16_t kModeHighPhaseDown = 0xA040;
inline constexpr std::uint16_t kModeLowPhaseDown = 0xF040;
// PWM measurement: the same phases counted upwards.
inline constexpr std::uint16_t kModeHighPhaseUp = 0xA048;
inline constexpr std::uint16_t kModeLowPhaseUp = 0xF048;
// PWM output: low for LoadRegister counts, high for HoldRegister counts.
inline constexpr std::uint16_t kModePwmBaseClock = 0x0036;
inline constexpr std::uint16_t kModePwmBaseClockCascaded = 0x1036;
// PWM output on ClockGenerator n: n x 0x100 + these.
inline constexpr std::uint16_t kModePwmGenerator = 0x0436;
inline constexpr std::uint16_t kModePwmGeneratorCascaded = 0x1436;
inline constexpr std::uint16_t kModeBlockStep = 0x0100;
// Prescaler of a counted PWM: one load count, then a window of c - 1 counts
// with the output high, then stop.
inline constexpr std::uint16_t kModePrescalerBaseClock = 0x0026;
inline constexpr std::uint16_t kModePrescalerGenerator = 0x0426;
// The PWM enable writes the mode with the output field masked while it arms.
inline constexpr std::uint16_t kPwmArmMask = 0xFFFB;
inline constexpr std::uint16_t kPrescalerLoadMask = 0xFFF8;

// ---- clock generator word ----
inline constexpr std::uint16_t kGeneratorEnable = 0x1000;
inline constexpr std::uint16_t kGeneratorStopped = 0x0000;
// Source codes (bits 8-10 of the word).
inline constexpr unsigned kSource10MHz = 3;
inline constexpr unsigned kSource1MHz = 4;
inline constexpr unsigned kSource100kHz = 5;
inline constexpr unsigned kSource10kHz = 6;
inline constexpr unsigned kSource1kHz = 7;
constexpr std::uint16_t GeneratorSourceBits(unsigned code) { return static_cast<std::uint16_t>(code << 8); }
constexpr std::uint16_t GeneratorWord(unsigned divisor, std::uint16_t sourceBits) {
  return static_cast<std::uint16_t>((divisor - 1u) | sourceBits | kGeneratorEnable);
}

// ---- clocks ----
inline constexpr std::uint32_t kBaseClockHz = 20'000'000;
inline constexpr std::uint32_t kBaseTicksPerMs = 20'000;

// ---- counterFunction: which function owns counter n ----
inline constexpr std::int16_t kFunctionIdle = 0;
inline constexpr std::int16_t kFunctionEventCount = 1;
inline constexpr std::int16_t kFunctionFrequency = 2;
inline constexpr std::int16_t kFunctionPulse = 4;
inline constexpr std::int16_t kFunctionPwm = 8;
inline constexpr std::int16_t kFunctionPwmMeasure = 0x28;  // ORed into both counters

// ---- generatorState: what owns ClockGenerator n ----
inline constexpr std::uint16_t kGeneratorIdle = 0;
inline constexpr std::uint16_t kGeneratorGate = 0x02;  // time base of a frequency measurement
inline constexpr std::uint16_t kGeneratorPulse = 0x04;
inline constexpr std::uint16_t kGeneratorPwm = 0x08;
inline constexpr std::uint16_t kGeneratorFreqOut = 0x0A;  // also ORed in by every generator start
inline constexpr std::uint16_t kGeneratorPwmSetting = 0x14;  // a PWM setting reprograms it
inline constexpr std::uint16_t kGeneratorPwmSettingAgain = 0x1C;
inline constexpr std::uint16_t kGeneratorPwmMeasure = 0x28;

}  // namespace qio::driver::counter

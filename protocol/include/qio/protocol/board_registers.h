// The QIO-5162 register window: offsets from the I/O base, command codes,
// the fields of the mode word, the clock-generator word, the interrupt
// registers and the DIO direction byte, each named once. The driver programs
// the board with these, the board model decodes them, and the tool's trace
// decoder and the tests read traces with them.
//
// The last section composes the mode words that the driver writes from the
// named fields; each is pinned to its value.
#pragma once

#include <cstdint>

namespace qio::board {

inline constexpr std::uint16_t kWindowLength = 0x40;
inline constexpr unsigned kBlockCount = 4;      // blocks 0, 1 have pins; 2, 3 are partners
inline constexpr unsigned kCounterCount = 2;    // CLK0/OUT0, CLK1/OUT1
inline constexpr unsigned kGeneratorCount = 2;  // FOUT0, FOUT1
inline constexpr unsigned kPortCount = 3;       // A, B, C
inline constexpr unsigned kDiChannelCount = 24;

// The on-board base clock: 20 MHz, 50 ns.
inline constexpr std::uint32_t kBaseClockHz = 20'000'000;
inline constexpr std::uint32_t kBaseTicksPerMs = kBaseClockHz / 1000;
inline constexpr std::uint64_t kBaseClockPeriodPs = 1'000'000'000'000 / kBaseClockHz;
// A 16-bit count register at its top: the load of a block that counts down
// a whole phase, and what an up-counting single-window block saturates at.
inline constexpr std::uint16_t kFullCount = 0xFFFF;

// ---- register offsets ------------------------------------------------------
namespace offset {
inline constexpr std::uint16_t kBlockStride = 8;
// Counter/timer block b (0..3).
constexpr std::uint16_t ModeRegister(unsigned b) { return static_cast<std::uint16_t>(0x00 + kBlockStride * b); }
constexpr std::uint16_t LoadRegister(unsigned b) { return static_cast<std::uint16_t>(0x02 + kBlockStride * b); }
// Second reload value; after a latch command it holds the latched count.
constexpr std::uint16_t HoldRegister(unsigned b) { return static_cast<std::uint16_t>(0x04 + kBlockStride * b); }
// 8 or 16 bits; the low byte is the command, pending until strobed.
constexpr std::uint16_t CommandRegister(unsigned b) { return static_cast<std::uint16_t>(0x06 + kBlockStride * b); }
// A write of a block mask applies the pending command of every block in it.
inline constexpr std::uint16_t kCommandStrobe = 0x20;
// Write: interrupt enable (interrupt control); read: interrupt status.
inline constexpr std::uint16_t kInterruptControl = 0x22;
// A write of any value clears the interrupt status and the DI flags.
inline constexpr std::uint16_t kInterruptClear = 0x24;
// DIO port data, port p (0 A, 1 B, 2 C).
constexpr std::uint16_t PortData(unsigned p) { return static_cast<std::uint16_t>(0x26 + 2 * p); }
inline constexpr std::uint16_t kDirectionControl = 0x2C;
// DI interrupt flags of port p (read only).
constexpr std::uint16_t DiFlags(unsigned p) { return static_cast<std::uint16_t>(0x2E + 2 * p); }
// Clock generator n, feeding source 4 + n of every block and the pin FOUTn.
constexpr std::uint16_t ClockGenerator(unsigned n) { return static_cast<std::uint16_t>(0x38 + 2 * n); }
}  // namespace offset

// ---- commands (written to a CommandRegister, applied by the strobe) --------
namespace command {
inline constexpr std::uint8_t kDisarm = 0x00;      // stop counting, keep the count
inline constexpr std::uint8_t kLoad = 0x01;        // count := load register, not armed
inline constexpr std::uint8_t kLoadAndArm = 0x05;  // start counting from the load register
inline constexpr std::uint8_t kLatch = 0x06;       // hold register := current count
inline constexpr std::uint8_t kReset = 0x07;       // disarm, count := 0, output low

// Strobe masks: one block, or counter n with its partner block n + 1.
constexpr std::uint8_t StrobeMask(unsigned b) { return static_cast<std::uint8_t>(1u << b); }
constexpr std::uint8_t PairMask(unsigned n) { return static_cast<std::uint8_t>((1u << n) | (1u << (n + 1))); }
}  // namespace command

// ---- mode word -------------------------------------------------------------
namespace mode {
inline constexpr std::uint16_t kOutputField = 0x0007;  // OUT
inline constexpr std::uint16_t kCountUp = 0x0008;      // DIR: 1 up, 0 down
inline constexpr std::uint16_t kRepeat = 0x0010;       // REP: reload at a terminal count and go on
inline constexpr std::uint16_t kAlternate = 0x0020;    // ALT: reload from load and hold in turn
inline constexpr std::uint16_t kSingleWindow = 0x0040; // WIN: count in the first gate window only
inline constexpr std::uint16_t kSourceField = 0x0700;  // SRC
inline constexpr unsigned kSourceShift = 8;
inline constexpr std::uint16_t kCascade = 0x1000;      // CAS: upper block of a pair with block b - 1
inline constexpr std::uint16_t kGateField = 0xE000;    // GATE
inline constexpr unsigned kGateShift = 13;

// OUT values: 6 and 2 toggle at every terminal count, 0 holds low, any other
// value gives a one-tick pulse.
inline constexpr unsigned kOutputLow = 0;
inline constexpr unsigned kOutputToggleAlso = 2;
inline constexpr unsigned kOutputToggle = 6;

// SRC values.
inline constexpr unsigned kSourceBase = 0;  // the 20 MHz base clock
inline constexpr unsigned kSourcePin = 2;   // the block's own input pin
inline constexpr unsigned kSourceGenerator0 = 4;
inline constexpr unsigned kSourceGenerator1 = 5;
inline constexpr unsigned kSourcePair = 7;  // the lower block's pin with CAS, else the own pin

// GATE values.
inline constexpr unsigned kGateNone = 0;
inline constexpr unsigned kGateLevel = 4;      // while the gate is high
inline constexpr unsigned kGateHighPhase = 5;  // one high phase of the reference
inline constexpr unsigned kGateLowPhase = 7;   // one low phase of the reference

constexpr std::uint16_t Output(unsigned value) { return static_cast<std::uint16_t>(value & kOutputField); }
constexpr std::uint16_t Source(unsigned value) {
  return static_cast<std::uint16_t>((value << kSourceShift) & kSourceField);
}
constexpr std::uint16_t Gate(unsigned value) { return static_cast<std::uint16_t>((value << kGateShift) & kGateField); }
// Source field of a block counting the output of ClockGenerator n.
constexpr std::uint16_t GeneratorSource(unsigned n) { return Source(kSourceGenerator0 + n); }
constexpr unsigned SourceOf(std::uint16_t word) { return (word & kSourceField) >> kSourceShift; }
}  // namespace mode

// ---- clock generator word --------------------------------------------------
namespace generator {
inline constexpr std::uint16_t kDivisorField = 0x000F;  // divisor - 1
inline constexpr std::uint16_t kSourceField = 0x0700;
inline constexpr unsigned kSourceShift = 8;
inline constexpr std::uint16_t kEnable = 0x1000;
inline constexpr std::uint16_t kStopped = 0x0000;
inline constexpr unsigned kMaxDivisor = 16;

// Source codes.
inline constexpr unsigned kSourceNone = 0;
inline constexpr unsigned kSourceBase = 1;  // 20 MHz
inline constexpr unsigned kSourcePin = 2;   // CLKn
inline constexpr unsigned kSource10MHz = 3;
inline constexpr unsigned kSource1MHz = 4;
inline constexpr unsigned kSource100kHz = 5;
inline constexpr unsigned kSource10kHz = 6;
inline constexpr unsigned kSource1kHz = 7;

constexpr std::uint16_t SourceBits(unsigned code) {
  return static_cast<std::uint16_t>((code << kSourceShift) & kSourceField);
}
// The enabled word for a divisor and source bits (source code << 8); the
// divisor goes in unchecked, as divisor - 1.
constexpr std::uint16_t Word(unsigned divisor, std::uint16_t sourceBits) {
  return static_cast<std::uint16_t>((divisor - 1u) | sourceBits | kEnable);
}
constexpr unsigned SourceOf(std::uint32_t word) { return (word & kSourceField) >> kSourceShift; }
constexpr unsigned DivisorOf(std::uint32_t word) { return (word & kDivisorField) + 1; }
}  // namespace generator

// ---- interrupt enable / status bits ---------------------------------------
namespace interrupt {
constexpr std::uint16_t TerminalCount(unsigned counter) { return static_cast<std::uint16_t>(1u << counter); }
constexpr std::uint16_t DiPort(unsigned port) { return static_cast<std::uint16_t>(1u << (2 + port)); }
inline constexpr std::uint16_t kTerminalCounts = 0x0003;
inline constexpr std::uint16_t kDiPorts = 0x001C;
inline constexpr std::uint16_t kAll = 0x001F;
}  // namespace interrupt

// ---- DIO direction byte: a set bit makes the lines inputs ------------------
namespace direction {
inline constexpr std::uint8_t kPortA = 0x10;
inline constexpr std::uint8_t kPortB = 0x02;
inline constexpr std::uint8_t kPortCLow = 0x01;
inline constexpr std::uint8_t kPortCHigh = 0x08;
inline constexpr std::uint8_t kAll = kPortA | kPortB | kPortCLow | kPortCHigh;
}  // namespace direction

// ---- the mode words the driver programs ------------------------------------
namespace mode {
// Event counting: count the own pin upwards, repeating; one terminal count per
// 65536 edges, so that total = tally x 65536 + count.
inline constexpr std::uint16_t kEventCount = Source(kSourcePin) | kRepeat | kCountUp;
// Down-counting square wave, toggling at every terminal count: the gate of an
// edge count (low for one load, high for the next) and the pulse output.
inline constexpr std::uint16_t kSquareWave = Output(kOutputToggle) | kRepeat;
// Edge counter of a gated count: the pair's input edges, upwards, in the first
// high window of the partner's output, then held.
inline constexpr std::uint16_t kGatedEdgeCount =
    Gate(kGateLevel) | kCascade | Source(kSourcePair) | kSingleWindow | kCountUp;
// Period method: the time base counted down during one high phase of the
// counter's input, and (on the partner, cascaded) during one low phase.
inline constexpr std::uint16_t kHighPhaseDown = Gate(kGateHighPhase) | kSingleWindow;
inline constexpr std::uint16_t kLowPhaseDown = Gate(kGateLowPhase) | kCascade | kSingleWindow;
// PWM measurement: the same phases counted upwards.
inline constexpr std::uint16_t kHighPhaseUp = kHighPhaseDown | kCountUp;
inline constexpr std::uint16_t kLowPhaseUp = kLowPhaseDown | kCountUp;
// PWM output: low for LoadRegister counts, high for HoldRegister counts,
// repeatedly; cascaded, only while the prescaler's output is high.
inline constexpr std::uint16_t kPwm = Output(kOutputToggle) | kRepeat | kAlternate;
inline constexpr std::uint16_t kPwmCascaded = kPwm | kCascade;
// Prescaler of a counted PWM: one load count, then the hold count with the
// output high, then stop.
inline constexpr std::uint16_t kPrescaler = Output(kOutputToggle) | kAlternate;
// The PWM enable arms with the output field cleared (prescaler) or reduced to
// its toggle-also value (the PWM counter), then writes the full word.
inline constexpr std::uint16_t kPwmArmMask = static_cast<std::uint16_t>(~Output(kOutputToggle & ~kOutputToggleAlso));
inline constexpr std::uint16_t kPrescalerLoadMask = static_cast<std::uint16_t>(~kOutputField);

static_assert(kEventCount == 0x0218);
static_assert(kSquareWave == 0x0016);
static_assert((kSquareWave | GeneratorSource(0)) == 0x0416);
static_assert(kGatedEdgeCount == 0x9748);
static_assert(kHighPhaseDown == 0xA040);
static_assert(kLowPhaseDown == 0xF040);
static_assert((kHighPhaseDown | GeneratorSource(0)) == 0xA440);
static_assert((kLowPhaseDown | GeneratorSource(0)) == 0xF440);
static_assert(kHighPhaseUp == 0xA048);
static_assert(kLowPhaseUp == 0xF048);
static_assert(kPwm == 0x0036);
static_assert(kPwmCascaded == 0x1036);
static_assert((kPwm | GeneratorSource(0)) == 0x0436);
static_assert((kPwmCascaded | GeneratorSource(1)) == 0x1536);
static_assert(kPrescaler == 0x0026);
static_assert((kPrescaler | GeneratorSource(0)) == 0x0426);
static_assert(kPwmArmMask == 0xFFFB);
static_assert(kPrescalerLoadMask == 0xFFF8);
}  // namespace mode

static_assert(generator::Word(1, generator::SourceBits(generator::kSource1MHz)) == 0x1400);
static_assert(generator::Word(16, generator::SourceBits(generator::kSource10MHz)) == 0x130F);

}  // namespace qio::board

// The arithmetic of the PWM output, free of hardware: the search of the 80
// candidate time bases for the low and high counts, and the prescaler that
// opens a window of N periods. The handlers in PwmOutput.cpp load what these
// compute.
#pragma once

#include <cstdint>
#include <optional>

namespace qio::driver::counter::pwm {

// Candidate i (0..79): decade k = i / 16, divisor d = i % 16 + 1,
// f = (10 MHz / 10^k) / d on generator source k + 3.
inline constexpr unsigned kCandidateCount = 80;
struct Candidate {
  unsigned decade;
  unsigned divisor;
  double frequencyHz;
  unsigned SourceCode() const { return decade + 3; }
};
Candidate CandidateAt(unsigned index);

// Counts of the two phases of one period.
struct OutputPlan {
  bool baseClock;         // true: the 20 MHz base clock, no generator
  Candidate timeBase;     // the chosen candidate when !baseClock
  double frequencyHz;     // time base the counts refer to
  std::uint16_t lowCount;   // LoadRegister: low phase
  std::uint16_t highCount;  // HoldRegister: high phase
  std::uint16_t mode;
  double periodMs;        // the period the counts produce
  double lowMs;           // the low time they produce
};

// Plans a PWM with period P and high time H (milliseconds). `baseMode` is the
// mode word of the generator case (n x 0x100 + 0x0436, or 0x1436 for the
// second counter of a cascade); `counted` selects the cascaded base-clock
// mode. Empty when no time base reproduces the times in 16-bit counts, or
// when the times are not finite with 0 < H < P.
std::optional<OutputPlan> PlanOutput(float periodMs, float highMs, bool counted, std::uint16_t baseMode);

// The prescaler counter p of a run of N periods: one load count, then a window
// of count - 1 ticks with its output high, during which counter p + 1 runs.
struct PrescalerPlan {
  bool baseClock;
  Candidate timeBase;
  double frequencyHz;
  std::uint16_t count;  // the window is count - 1 ticks
  std::uint16_t mode;
};

// Plans the window for N periods of the actual period Pa and low time La
// (milliseconds, from PlanOutput). Empty when N x Pa is outside (0.5 ms,
// 60 s] or no time base fits.
std::optional<PrescalerPlan> PlanPrescaler(unsigned p, std::uint32_t pulses, double periodMs, double lowMs);

}  // namespace qio::driver::counter::pwm

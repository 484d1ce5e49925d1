// PWM time-base search and prescaler.
//
// Precision: the request carries P and H as single-precision milliseconds;
// everything after that is double precision. The arithmetic is written with
// double constants (65 536 000, 0.001, the square root), and in single
// precision the products that should come out as exact counts do not: with
// P = 1000 ms and H = 250 ms the 62.5 kHz time base gives 62500 x 750 x 0.001
// = 46875 exactly in double, while float rounding of the same product lands
// on either side of the integer and truncation then loses a whole count.
// Doubles hold the difference P - H of two floats exactly.
#include "PwmTiming.h"

#include <algorithm>
#include <cmath>

#include "qio/protocol/board_registers.h"

namespace qio::driver::counter::pwm {

namespace {

constexpr double kTopDecadeHz = 10'000'000.0;
constexpr unsigned kDivisorsPerDecade = 16;
// Counts of one phase fit 16 bits while f x M / 1000 <= 65536.
constexpr double kOutputSpan = 65'536'000.0;
// The prescaler window is count - 1 ticks, so one tick less fits.
constexpr double kPrescalerSpan = 65'535'000.0;
namespace mode = qio::board::mode;
constexpr double kBaseClockHz = qio::board::kBaseClockHz;
constexpr double kBaseTicksPerMs = qio::board::kBaseTicksPerMs;
constexpr double kNoCandidateYet = 10'000'000.0;
constexpr double kMaxWindowMs = 60'000.0;
constexpr double kMinWindowMs = 0.5;
constexpr double kWindowSlackMs = 0.000001;
constexpr std::uint32_t kMinCount = 2;
constexpr std::uint32_t kMaxCount = qio::board::kFullCount;

// Truncation toward zero, raised to 2 when it is 2 or less. The callers keep
// x within [0, 65536].
std::uint32_t CountOf(double x) {
  const auto count = static_cast<std::uint32_t>(x);
  return count <= kMinCount ? kMinCount : count;
}

std::uint16_t ToRegister(std::uint32_t count) { return static_cast<std::uint16_t>(std::min(count, kMaxCount)); }

// Ticks of the prescaler for a window of x ticks: the truncation raised to 2,
// plus one when it falls short of x (never beyond 0xFFFF).
std::uint32_t WindowCount(double x) {
  std::uint32_t count = CountOf(x);
  if (static_cast<double>(count) < x && count != kMaxCount) ++count;
  return count;
}

// Whether one more tick than `count` still closes the window inside the low
// time after the last period. Without that tick the window is count - 1
// ticks, shorter than the run: it closes during the last high phase (the
// output then stays high) or before it (a period is lost).
bool ExtraTickFits(double frequencyHz, double error, double lowMs, std::uint32_t count) {
  return (1.0 / frequencyHz + error) * 1000.0 - lowMs < -kWindowSlackMs && count != kMaxCount;
}

}  // namespace

Candidate CandidateAt(unsigned index) {
  const unsigned decade = index / kDivisorsPerDecade;
  const unsigned divisor = index % kDivisorsPerDecade + 1;
  // 10 MHz / 10^k is exact in double for k = 0..4.
  const double decadeHz = kTopDecadeHz / std::pow(10.0, decade);
  return {decade, divisor, decadeHz / divisor};
}

std::optional<OutputPlan> PlanOutput(float periodMs, float highMs, bool counted, std::uint16_t baseMode) {
  const double period = periodMs;
  const double high = highMs;
  if (!std::isfinite(period) || !std::isfinite(high) || !(high > 0.0) || !(high < period)) return std::nullopt;

  const double low = period - high;
  const double longer = low > high ? low : high;
  // Candidates whose frequency is above q would overflow the longer phase.
  const double q = kOutputSpan / longer;

  OutputPlan plan{};
  if (q >= kBaseClockHz) {
    plan.baseClock = true;
    plan.frequencyHz = kBaseClockHz;
    plan.mode = counted ? mode::kPwmCascaded : mode::kPwm;
    plan.lowCount = ToRegister(CountOf(low * kBaseTicksPerMs));
    plan.highCount = ToRegister(CountOf(high * kBaseTicksPerMs));
  } else {
    double best = kNoCandidateYet;
    std::optional<unsigned> chosen;
    for (unsigned i = 0; i < kCandidateCount; ++i) {
      const double f = CandidateAt(i).frequencyHz;
      if (f - q > 0.0) continue;
      const double xL = f * low * 0.001;
      const double cl = CountOf(xL);
      // The high phase enters the error only through its raise to 2: its
      // time is truncated before the comparison.
      const double tH = std::trunc(f * high * 0.001);
      const double ch = CountOf(tH);
      const double error = std::sqrt((xL - cl) * (xL - cl) + (tH - ch) * (tH - ch)) / f;
      if (error < best) {  // strictly: a tie keeps the earlier candidate
        best = error;
        chosen = i;
      }
    }
    if (!chosen) return std::nullopt;
    plan.baseClock = false;
    plan.timeBase = CandidateAt(*chosen);
    plan.frequencyHz = plan.timeBase.frequencyHz;
    plan.mode = baseMode;
    plan.lowCount = ToRegister(CountOf(plan.frequencyHz * low * 0.001));
    plan.highCount = ToRegister(CountOf(std::trunc(plan.frequencyHz * high * 0.001)));
  }
  const double f = plan.frequencyHz;
  plan.periodMs = (static_cast<double>(plan.lowCount) + plan.highCount) / f * 1000.0;
  plan.lowMs = plan.periodMs - plan.highCount / f * 1000.0;
  return plan;
}

std::optional<PrescalerPlan> PlanPrescaler(unsigned p, std::uint32_t pulses, double periodMs, double lowMs) {
  const double window = pulses * periodMs;
  if (!(window <= kMaxWindowMs) || window <= kMinWindowMs) return std::nullopt;
  const double q = kPrescalerSpan / window;

  PrescalerPlan plan{};
  double error = 0.0;
  if (q >= kBaseClockHz) {
    plan.baseClock = true;
    plan.frequencyHz = kBaseClockHz;
    plan.mode = mode::kPrescaler;
    const double x = window * kBaseTicksPerMs;
    std::uint32_t count = CountOf(x);
    if (x - count > 0.0) ++count;
    plan.count = ToRegister(count);
  } else {
    double best = kNoCandidateYet;
    std::optional<unsigned> chosen;
    for (unsigned i = 0; i < kCandidateCount; ++i) {
      const double f = CandidateAt(i).frequencyHz;
      if (f - q > 0.0) continue;
      const double x = f * window * 0.001;
      const std::uint32_t count = WindowCount(x);
      const double candidateError = (count - x) / f;
      // A time base whose ticks are too coarse to end the window between
      // the last period and the next cannot give exactly N periods.
      if (!ExtraTickFits(f, candidateError, lowMs, count)) continue;
      if (candidateError < best) {
        best = candidateError;
        chosen = i;
      }
    }
    if (!chosen) return std::nullopt;
    plan.baseClock = false;
    plan.timeBase = CandidateAt(*chosen);
    plan.frequencyHz = plan.timeBase.frequencyHz;
    plan.mode = static_cast<std::uint16_t>(mode::kPrescaler | mode::GeneratorSource(p));
    const double x = plan.frequencyHz * window * 0.001;
    plan.count = ToRegister(WindowCount(x));
    error = (plan.count - x) / plan.frequencyHz;
  }
  // One tick more when the window's overshoot stays inside the low time of
  // the period after the last one.
  if (ExtraTickFits(plan.frequencyHz, error, lowMs, plan.count)) ++plan.count;
  return plan;
}

}  // namespace qio::driver::counter::pwm

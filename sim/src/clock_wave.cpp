// Frequencies to exact periods. A frequency given to the micro-hertz has an
// exact rational period in picoseconds (1e18 / micro-hertz); it is kept
// exact when its denominator is small, which covers every round frequency
// (3 MHz is 1000000/3 ps), and otherwise replaced by the closest fraction
// with a bounded denominator (an error far below a femtosecond per period).
#include <cmath>

#include "qio/sim/BoardCore.h"
#include "wide_math.h"

namespace qio::sim {

namespace {

using detail::Gcd;
using detail::Int128;

struct Fraction {
  Int128 num = 0;
  Int128 den = 1;
};

constexpr double kMinHz = 0.01;
constexpr double kMaxHz = 100e6;
constexpr Int128 kMaxPeriodDen = 100'000;
constexpr Int128 kMaxPeriodNum = static_cast<Int128>(10'000'000'000'000'000LL);  // 1e16
constexpr Int128 kPartsPerMillion = 1'000'000;

Fraction Reduce(Fraction f) {
  const Int128 g = Gcd(f.num, f.den);
  if (g > 1) {
    f.num /= g;
    f.den /= g;
  }
  return f;
}

Int128 AbsDiff(Int128 a, Int128 b) { return a > b ? a - b : b - a; }

// The fraction closest to num/den whose denominator is at most maxDen
// (continued-fraction convergents and the last semiconvergent).
Fraction BestRational(Fraction target, Int128 maxDen) {
  target = Reduce(target);
  if (target.den <= maxDen) return target;
  Int128 p0 = 0, q0 = 1, p1 = 1, q1 = 0;
  Int128 n = target.num, d = target.den;
  while (d != 0) {
    const Int128 a = n / d;
    const Int128 q2 = q0 + a * q1;
    if (q2 > maxDen) break;
    const Int128 p2 = p0 + a * p1;
    p0 = p1;
    q0 = q1;
    p1 = p2;
    q1 = q2;
    const Int128 r = n - a * d;
    n = d;
    d = r;
  }
  const Int128 k = (maxDen - q0) / q1;
  const Fraction semi{p0 + k * p1, q0 + k * q1};
  const Fraction conv{p1, q1};
  // Compare |semi - target| with |conv - target| without division.
  const Int128 errSemi = AbsDiff(semi.num * target.den, target.num * semi.den) * conv.den;
  const Int128 errConv = AbsDiff(conv.num * target.den, target.num * conv.den) * semi.den;
  return Reduce(errSemi < errConv ? semi : conv);
}

Fraction PeriodPs(double hz) {
  const long double micro = static_cast<long double>(hz) * 1e6L;
  const long double rounded = std::floor(micro + 0.5L);
  Fraction period;
  if (std::fabs(micro - rounded) <= 1e-3L + micro * 1e-15L) {
    period = Fraction{static_cast<Int128>(1'000'000'000'000'000'000LL), static_cast<Int128>(rounded)};
  } else {
    // Not a whole number of micro-hertz: take the period in binary fixed point.
    const long double ps = 1e12L / static_cast<long double>(hz);
    Int128 scale = 1;
    while (ps * static_cast<long double>(scale) < 1e17L) scale *= 2;
    period = Fraction{static_cast<Int128>(std::floor(ps * static_cast<long double>(scale) + 0.5L)), scale};
  }
  const long double ps = 1e12L / static_cast<long double>(hz);
  Int128 maxDen = kMaxPeriodDen;
  const Int128 byMagnitude = kMaxPeriodNum / static_cast<Int128>(ps + 1.0L);
  if (byMagnitude < maxDen) maxDen = byMagnitude < 1 ? 1 : byMagnitude;
  return BestRational(period, maxDen);
}

}  // namespace

std::optional<ClockWave> WaveFromFrequency(double hz, double dutyPercent) {
  if (!std::isfinite(hz) || hz < kMinHz || hz > kMaxHz) return std::nullopt;
  if (!std::isfinite(dutyPercent) || dutyPercent < 1.0 || dutyPercent > 99.0) return std::nullopt;
  Fraction period = PeriodPs(hz);
  const Int128 dutyPpm = static_cast<Int128>(std::llround(dutyPercent * 1e4));
  // Make the high time a whole number of the wave's units when the duty
  // cycle allows it with a small extra denominator (50 % of an odd period).
  const Int128 highScaled = period.num * dutyPpm;
  const Int128 g = Gcd(highScaled, kPartsPerMillion);
  const Int128 extra = kPartsPerMillion / g;
  Int128 highNum = 0;
  if (extra <= 100) {
    period.num *= extra;
    period.den *= extra;
    highNum = highScaled / g;
  } else {
    highNum = (highScaled + kPartsPerMillion / 2) / kPartsPerMillion;
  }
  if (period.num < 2) return std::nullopt;
  if (highNum < 1) highNum = 1;
  if (highNum > period.num - 1) highNum = period.num - 1;
  ClockWave wave;
  wave.periodNum = static_cast<std::int64_t>(period.num);
  wave.highNum = static_cast<std::int64_t>(highNum);
  wave.den = static_cast<std::int64_t>(period.den);
  return wave;
}

}  // namespace qio::sim

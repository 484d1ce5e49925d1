// Exact integer arithmetic for the board model's clock domain. Every instant
// and period is a 128-bit count of clock quanta (a fixed fraction of a
// picosecond), so edge counts come out of floor and ceiling divisions with no
// rounding anywhere.
#pragma once

#include <cstdint>
#include <optional>

namespace qio::sim::detail {

using Int128 = __int128;
using UInt128 = unsigned __int128;

// Far beyond any instant the model reaches, and safe to add small values to.
inline constexpr Int128 kNever = static_cast<Int128>(1) << 120;
// Element counts of unbounded sets saturate here.
inline constexpr std::int64_t kUnbounded = INT64_MAX / 4;

// Division rounding toward minus infinity; `divisor` must be positive.
inline Int128 FloorDiv(Int128 value, Int128 divisor) {
  Int128 quotient = value / divisor;
  if (value % divisor != 0 && value < 0) {
    --quotient;
  }
  return quotient;
}

inline Int128 CeilDiv(Int128 value, Int128 divisor) { return -FloorDiv(-value, divisor); }

inline Int128 FloorMod(Int128 value, Int128 divisor) { return value - FloorDiv(value, divisor) * divisor; }

inline Int128 Gcd(Int128 a, Int128 b) {
  if (a < 0) a = -a;
  if (b < 0) b = -b;
  while (b != 0) {
    const Int128 r = a % b;
    a = b;
    b = r;
  }
  return a;
}

inline std::int64_t ClampCount(Int128 value) {
  if (value > kUnbounded) return kUnbounded;
  if (value < 0) return 0;
  return static_cast<std::int64_t>(value);
}

// Sum over i = 0 .. n-1 of floor((a * i + b) / m) for n >= 0, m > 0, a >= 0,
// b >= 0, by the Euclidean-like reduction (logarithmic in m and a). Empty when
// an intermediate value would not fit 128 bits.
inline std::optional<Int128> FloorSum(Int128 n, Int128 m, Int128 a, Int128 b) {
  UInt128 un = static_cast<UInt128>(n);
  UInt128 um = static_cast<UInt128>(m);
  UInt128 ua = static_cast<UInt128>(a);
  UInt128 ub = static_cast<UInt128>(b);
  UInt128 total = 0;
  while (true) {
    if (un == 0) break;
    if (ua >= um) {
      const UInt128 pairs = (un % 2 == 0) ? (un / 2) * (un - 1) : un * ((un - 1) / 2);
      UInt128 term = 0;
      if (__builtin_mul_overflow(pairs, ua / um, &term) || __builtin_add_overflow(total, term, &total)) {
        return std::nullopt;
      }
      ua %= um;
    }
    if (ub >= um) {
      UInt128 term = 0;
      if (__builtin_mul_overflow(un, ub / um, &term) || __builtin_add_overflow(total, term, &total)) {
        return std::nullopt;
      }
      ub %= um;
    }
    UInt128 yMax = 0;
    if (__builtin_mul_overflow(ua, un, &yMax) || __builtin_add_overflow(yMax, ub, &yMax)) {
      return std::nullopt;
    }
    if (yMax < um) break;
    un = yMax / um;
    ub = yMax % um;
    const UInt128 swap = um;
    um = ua;
    ua = swap;
  }
  if (total > static_cast<UInt128>(kNever)) return std::nullopt;
  return static_cast<Int128>(total);
}

}  // namespace qio::sim::detail

// The codes of DeviceContext's ownership fields: which function owns a
// counter block, what owns a clock generator, and where the open/close cycle
// of the board stands. The values are the ones the bookkeeping has always
// used, so that a dump of the record reads the same; where codes are bit
// patterns that get ORed together, the enum has flag operators.
#pragma once

#include <cstdint>
#include <type_traits>

namespace qio::driver {

// counterFunction n: which function owns counter block n. Every start on a
// counter that is not idle (or that a frequency measurement on counter n - 1
// borrows as its partner, see pairGateInUse) fails as busy.
enum class CounterFunction : std::int16_t {
  kIdle = 0,
  kEventCount = 1,
  kFrequency = 2,     // also owns block n + 1 (pairGateInUse n) and reserves generator n
  kPulse = 4,
  kPwm = 8,           // a cascade marks both counters
  kPwmMeasure = 0x28, // marks both counters while it runs; reserves generator 0
};

// generatorState n: what owns ClockGenerator n. A counter function takes the
// generator of its own counter (a counted PWM also that of its prescaler); a
// frequency output takes it without the counter.
enum class GeneratorState : std::uint16_t {
  kIdle = 0,
  kGate = 0x02,        // time base of a frequency measurement
  kPulse = 0x04,
  kPwm = 0x08,         // time base of a PWM setting (or of a counted PWM's prescaler)
  kFreqOut = 0x0A,
  kPwmMeasure = 0x28,
};

// Where the board's open/close cycle stands: the first open and the last close
// do their work outside every lock, and an open or close that comes meanwhile
// waits for it to settle.
enum class OpenState : std::uint8_t { kClosed, kOpening, kOpen, kClosing };

// Flag operators for the codes that are bit patterns.
template <typename E>
struct IsOwnershipFlags : std::false_type {};
template <>
struct IsOwnershipFlags<GeneratorState> : std::true_type {};
template <>
struct IsOwnershipFlags<CounterFunction> : std::true_type {};

template <typename E>
concept OwnershipFlags = IsOwnershipFlags<E>::value;

template <OwnershipFlags E>
constexpr E operator|(E a, E b) {
  using U = std::underlying_type_t<E>;
  return static_cast<E>(static_cast<U>(static_cast<U>(a) | static_cast<U>(b)));
}
template <OwnershipFlags E>
constexpr E operator&(E a, E b) {
  using U = std::underlying_type_t<E>;
  return static_cast<E>(static_cast<U>(static_cast<U>(a) & static_cast<U>(b)));
}
// True when `value` has any of the bits of `flags`.
template <OwnershipFlags E>
constexpr bool HasAny(E value, E flags) {
  return (value & flags) != E{};
}

static_assert((GeneratorState::kGate | GeneratorState::kPwm) == GeneratorState::kFreqOut);
static_assert(HasAny(GeneratorState::kFreqOut, GeneratorState::kGate));

}  // namespace qio::driver

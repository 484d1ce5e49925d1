// A small reference model of who owns what on the board, for the tests that
// run the board's functions side by side: each function placed on a counter
// needs counter blocks and clock generators; a start is accepted when what it
// needs is free, and a counter reset ends every function that uses the
// counter's block or generator. The inputs of the tests are chosen so that
// every function here needs exactly the resources listed (a 1 MHz input makes
// the frequency measurement use generator 0; the pulse and PWM periods need
// their counter's generator).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace qio::library::testing {

enum class Fn {
  kEventCount,   // CounterEventStart
  kAutoFreq,     // CounterFreqStart, automatic ranging (counter 0)
  kFixedFreq,    // CounterFreqStart, 10 ms gate (counter 0)
  kPulse,        // CounterPulseStart, 62.5 ms (1 MHz time base)
  kFreqOut,      // FreqOutStart, 1 MHz / 4
  kPwm,          // CounterPWMSetting 40 ms / 10 ms (2 MHz time base) + CounterPWMEnable
  kCountedPwm,   // the same, 20 ms / 10 ms, 1000 periods (counter 1, prescaler counter 0)
  kPwmMeasure,   // PWMStartRead (counter 0, both counters while it runs)
  kDiEvents,     // EnableEvent of DI channel 0
  kTcEvents,     // EnableEvent of counter n's terminal count
  kReset,        // CounterReset
};

struct Placement {
  Fn fn;
  unsigned counter;
  bool operator==(const Placement&) const = default;
};

// Resources: counter blocks 0, 1 and clock generators 0, 1.
inline constexpr unsigned kBlock0 = 0x1;
inline constexpr unsigned kBlock1 = 0x2;
inline constexpr unsigned kGen0 = 0x4;
inline constexpr unsigned kGen1 = 0x8;
constexpr unsigned Block(unsigned n) { return n == 0 ? kBlock0 : kBlock1; }
constexpr unsigned Gen(unsigned n) { return n == 0 ? kGen0 : kGen1; }

inline unsigned Needs(const Placement& p) {
  switch (p.fn) {
    case Fn::kEventCount: return Block(p.counter);
    case Fn::kAutoFreq:
    case Fn::kFixedFreq:
    case Fn::kPwmMeasure: return kBlock0 | kBlock1 | kGen0;
    case Fn::kPulse:
    case Fn::kPwm: return Block(p.counter) | Gen(p.counter);
    case Fn::kFreqOut: return Gen(p.counter);
    case Fn::kCountedPwm: return kBlock0 | kBlock1 | kGen0 | kGen1;
    case Fn::kDiEvents:
    case Fn::kTcEvents:
    case Fn::kReset: return 0;
  }
  return 0;
}

inline bool IsFrequency(Fn fn) { return fn == Fn::kAutoFreq || fn == Fn::kFixedFreq; }

// Terminal-count interrupt bits a running function needs in the
// interrupt-enable register, and the DI port A bit of the DI events.
inline std::uint16_t InterruptBits(const Placement& p) {
  switch (p.fn) {
    case Fn::kEventCount:
    case Fn::kTcEvents: return static_cast<std::uint16_t>(1u << p.counter);
    case Fn::kCountedPwm: return 0x01;  // the prescaler's terminal count ends the run
    case Fn::kDiEvents: return 0x04;
    default: return 0;
  }
}

// Counter n reaches terminal counts while the function runs (so that its
// terminal-count events come).
inline bool MakesTerminalCounts(const Placement& p, unsigned n) {
  switch (p.fn) {
    case Fn::kEventCount:
    case Fn::kPulse:
    case Fn::kPwm: return p.counter == n;
    case Fn::kCountedPwm: return n == 1;
    default: return false;
  }
}

inline std::string Name(const Placement& p) {
  static const char* const kNames[] = {"EventCount", "AutoFreq", "FixedFreq", "Pulse",    "FreqOut", "Pwm",
                                       "CountedPwm", "PwmMeasure", "DiEvents", "TcEvents", "Reset"};
  std::string name = kNames[static_cast<int>(p.fn)];
  if (p.fn != Fn::kDiEvents) name += std::to_string(p.counter);
  return name;
}

// Every legal placement: the frequency and PWM measurements run on counter
// 0 only, a counted PWM on counter 1 only.
inline std::vector<Placement> AllPlacements() {
  return {{Fn::kEventCount, 0}, {Fn::kEventCount, 1}, {Fn::kAutoFreq, 0},   {Fn::kFixedFreq, 0},
          {Fn::kPulse, 0},      {Fn::kPulse, 1},      {Fn::kFreqOut, 0},    {Fn::kFreqOut, 1},
          {Fn::kPwm, 0},        {Fn::kPwm, 1},        {Fn::kCountedPwm, 1}, {Fn::kPwmMeasure, 0},
          {Fn::kDiEvents, 0},   {Fn::kTcEvents, 0},   {Fn::kTcEvents, 1},   {Fn::kReset, 0},
          {Fn::kReset, 1}};
}

// What runs on the board, as the model sees it.
class OwnershipModel {
 public:
  const std::vector<Placement>& Running() const { return running_; }

  // True when the start is to be accepted; the model then runs it.
  bool Start(const Placement& p) {
    if (p.fn == Fn::kReset) {
      Reset(p.counter);
      return true;
    }
    if (p.fn == Fn::kDiEvents || p.fn == Fn::kTcEvents) {
      if (!Runs(p)) running_.push_back(p);
      return true;
    }
    // A frequency start while the measurement runs is taken by it (the
    // method may change); the value stays what the input gives.
    if (IsFrequency(p.fn)) {
      for (Placement& r : running_) {
        if (IsFrequency(r.fn)) {
          r = p;
          return true;
        }
      }
    }
    if ((Needs(p) & Taken()) != 0) return false;
    // The PWM measurement returns when it is done and holds nothing after.
    if (p.fn != Fn::kPwmMeasure) running_.push_back(p);
    return true;
  }

  // A counter reset ends every function that uses the counter's block or
  // generator (a measurement that borrowed it as its partner, a counted run
  // whose prescaler it is); event enables stay.
  void Reset(unsigned n) {
    const unsigned hit = Block(n) | Gen(n);
    std::erase_if(running_, [&](const Placement& r) { return (Needs(r) & hit) != 0; });
  }

  // The last close: nothing runs any more, no event is enabled.
  void CloseAll() { running_.clear(); }

  bool Runs(const Placement& p) const { return std::find(running_.begin(), running_.end(), p) != running_.end(); }

  // The terminal-count bits that must stay off: a block that counts for a
  // measurement (counter 0's frequency measurement takes both blocks, and so
  // does the PWM measurement) reaches terminal counts at up to its input's
  // rate, which an enabled event must not turn into a storm of interrupts.
  std::uint16_t ForbiddenInterruptBits() const {
    std::uint16_t bits = 0;
    for (const Placement& r : running_) {
      if (r.fn == Fn::kAutoFreq || r.fn == Fn::kFixedFreq || r.fn == Fn::kPwmMeasure) bits |= 0x03;
    }
    return bits;
  }

  std::uint16_t RequiredInterruptBits() const {
    std::uint16_t bits = 0;
    for (const Placement& r : running_) bits = static_cast<std::uint16_t>(bits | InterruptBits(r));
    return static_cast<std::uint16_t>(bits & ~ForbiddenInterruptBits());
  }

  // Counter n runs a PWM output (either half of a counted run): its hold
  // register is a reload value, and an event-count read of it is refused.
  bool RunsPwmOn(unsigned n) const {
    return std::any_of(running_.begin(), running_.end(), [&](const Placement& r) {
      return (r.fn == Fn::kPwm && r.counter == n) || r.fn == Fn::kCountedPwm;
    });
  }

  bool TerminalCountsOn(unsigned n) const {
    return std::any_of(running_.begin(), running_.end(), [&](const Placement& r) { return MakesTerminalCounts(r, n); });
  }

 private:
  unsigned Taken() const {
    unsigned taken = 0;
    for (const Placement& r : running_) taken |= Needs(r);
    return taken;
  }

  std::vector<Placement> running_;
};

}  // namespace qio::library::testing

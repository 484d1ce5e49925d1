// Building the present segment's signals: the CLK pins, the clock
// generators (FOUTn) and, for every block, its source edges, its qualifying
// edges (source edges inside its gate) and its output. Signals that feed
// each other are built on demand in dependency order; a wiring loop (for
// example OUT1 wired to CLK0 while block 1 counts OUT0) is cut where it is
// first met: the signal that closes the loop holds its level for the segment.
#include <algorithm>

#include "board_state.h"

namespace qio::sim {

using detail::BlockPlan;
using detail::Count;
using detail::EdgeSet;
using detail::GateKind;
using detail::IndexSeq;
using detail::Int128;
using detail::kNever;
using detail::kUnbounded;
using detail::Mark;
using detail::Signal;
using detail::WindowState;
using Instant = detail::Instant;

namespace {

constexpr std::array<std::int64_t, 8> kGeneratorSourcePs = {
    0,              // nothing
    50'000,         // 20 MHz base clock
    0,              // CLKn (from the pin)
    100'000,        // 10 MHz
    1'000'000,      // 1 MHz
    10'000'000,     // 100 kHz
    100'000'000,    // 10 kHz
    1'000'000'000,  // 1 kHz
};

}  // namespace

Int128 BoardCore::State::ClockDen() const {
  Int128 result = 1;
  for (const auto& pin : clk) {
    if (pin.kind == detail::ClockPin::Kind::kWave) {
      result = result / detail::Gcd(result, pin.wave.den) * pin.wave.den;
    }
  }
  return result;
}

Instant BoardCore::State::PinUnitsToInstant(const detail::UnitWave& wave, Int128 value) const {
  return value * (den / wave.den);
}

const EdgeSet* BoardCore::State::NewSet(const EdgeSet& set) {
  if (plan.setsUsed >= plan.sets.size()) return &plan.empty;
  plan.sets[plan.setsUsed] = set;
  return &plan.sets[plan.setsUsed++];
}

const Signal* BoardCore::State::NewSignal(const Signal& signal) {
  if (plan.signalsUsed >= plan.signals.size()) return &plan.constant[signal.level0 ? 1 : 0];
  plan.signals[plan.signalsUsed] = signal;
  return &plan.signals[plan.signalsUsed++];
}

// A signal whose level just before the segment was `before`: if the event
// that began the segment changed it, that change is an edge at the segment
// start, seen by everything the signal feeds.
const Signal* BoardCore::State::WithLevelBefore(const Signal& core, bool before) {
  if (core.level0 == before) return NewSignal(core);
  Signal result = core;
  result.level0 = before;
  if (core.level0) {
    result.rises = NewSet(EdgeSet::Prepend(SegmentStart(), core.rises));
  } else {
    result.falls = NewSet(EdgeSet::Prepend(SegmentStart(), core.falls));
  }
  return NewSignal(result);
}

// A square wave with a rising edge at `origin`: its edges after the segment
// start, and its level at the start.
Signal BoardCore::State::LatticeSignal(Instant origin, Instant period, Instant high) {
  const Instant start = SegmentStart();
  const Instant firstRise = origin + period * (detail::FloorDiv(start - origin, period) + 1);
  const Instant fallOrigin = origin + high;
  const Instant firstFall = fallOrigin + period * (detail::FloorDiv(start - fallOrigin, period) + 1);
  Signal signal;
  signal.level0 = detail::FloorMod(start - origin, period) < high;
  signal.rises = NewSet(EdgeSet::Lattice(firstRise, period));
  signal.falls = NewSet(EdgeSet::Lattice(firstFall, period));
  return signal;
}

void BoardCore::State::Rebuild() {
  den = ClockDen();
  plan.setsUsed = 0;
  plan.signalsUsed = 0;
  plan.empty = EdgeSet::Empty();
  plan.constant[0] = Signal{false, &plan.empty, &plan.empty};
  plan.constant[1] = Signal{true, &plan.empty, &plan.empty};
  plan.pinMark.fill(Mark::kNone);
  plan.generatorMark.fill(Mark::kNone);
  plan.blockMark.fill(Mark::kNone);
  for (unsigned pin = kCounterCount; pin < kBlockCount; ++pin) {
    plan.pins[pin] = &plan.constant[0];
    plan.pinMark[pin] = Mark::kBuilt;
  }
  for (unsigned pin = 0; pin < kCounterCount; ++pin) PinSignal(pin);
  for (unsigned g = 0; g < kGeneratorCount; ++g) GeneratorSignal(g);
  for (unsigned b = 0; b < kBlockCount; ++b) OutputSignal(b);
}

const Signal* BoardCore::State::PinSignal(unsigned pin) {
  if (pin >= kCounterCount) return &plan.constant[0];
  if (plan.pinMark[pin] == Mark::kBuilt) return plan.pins[pin];
  const bool old = haveOld && pinOld[pin];
  if (plan.pinMark[pin] == Mark::kBuilding) return &plan.constant[old ? 1 : 0];
  plan.pinMark[pin] = Mark::kBuilding;
  const detail::ClockPin& source = clk[pin];
  Signal core;
  switch (source.kind) {
    case detail::ClockPin::Kind::kLevel:
      core = plan.constant[source.level ? 1 : 0];
      break;
    case detail::ClockPin::Kind::kWave:
      core = LatticeSignal(PinUnitsToInstant(source.wave, source.wave.origin),
                           PinUnitsToInstant(source.wave, source.wave.period),
                           PinUnitsToInstant(source.wave, source.wave.high));
      break;
    case detail::ClockPin::Kind::kWire: {
      const auto wire = static_cast<unsigned>(source.wire);
      core = wire < 2 ? *OutputSignal(wire) : *GeneratorSignal(wire - 2);
      break;
    }
  }
  plan.pins[pin] = WithLevelBefore(core, haveOld ? pinOld[pin] : core.level0);
  plan.pinMark[pin] = Mark::kBuilt;
  return plan.pins[pin];
}

const Signal* BoardCore::State::GeneratorSignal(unsigned g) {
  detail::GeneratorPlan& out = plan.generators[g];
  if (plan.generatorMark[g] == Mark::kBuilt) return out.out;
  const bool old = haveOld && generatorOld[g];
  if (plan.generatorMark[g] == Mark::kBuilding) return &plan.constant[old ? 1 : 0];
  plan.generatorMark[g] = Mark::kBuilding;
  const std::uint16_t word = generatorWord[g];
  const Int128 divisor = (word & generator::kDivisorField) + 1;
  const unsigned source = (word & generator::kSourceField) >> generator::kSourceShift;
  out.running = false;
  out.period = 0;
  if ((word & generator::kEnable) != 0) {
    if (source == generator::kSourcePin) {
      const auto period = PinSignal(g)->rises->Period();
      if (period && period->perPeriod == 1) {
        // Follow CLKn's period; a new period restarts the generator's phase.
        if (period->span * generatorPinDen[g] != generatorPinSpan[g] * den) {
          generatorAnchorNs[g] = segmentNs;
          generatorPinSpan[g] = period->span;
          generatorPinDen[g] = den;
        }
        out.running = true;
        out.period = divisor * period->span;
      } else {
        generatorPinSpan[g] = 0;
      }
    } else if (kGeneratorSourcePs[source] != 0) {
      out.running = true;
      out.period = divisor * kGeneratorSourcePs[source] * den;
    }
  }
  Signal core = plan.constant[0];
  if (out.running) core = LatticeSignal(ToInstant(generatorAnchorNs[g]), out.period, out.period / 2);
  out.out = WithLevelBefore(core, haveOld ? generatorOld[g] : core.level0);
  plan.generatorMark[g] = Mark::kBuilt;
  return out.out;
}

const Signal* BoardCore::State::OutputSignal(unsigned block) {
  BlockPlan& p = plan.blocks[block];
  if (plan.blockMark[block] == Mark::kBuilt) return p.out;
  const bool old = haveOld && outOld[block];
  if (plan.blockMark[block] == Mark::kBuilding) return &plan.constant[old ? 1 : 0];
  plan.blockMark[block] = Mark::kBuilding;
  p.mode = detail::ModeFields::Decode(mode[block], block);
  p.machine.Build(p.mode, blocks[block], load[block], hold[block]);
  p.windowed = false;
  p.windowStart = p.windowEnd = kNever;
  p.qualifying = QualifyingSet(block, p);
  Signal core;
  core.level0 = p.machine.InitialLevel();
  core.rises = NewSet(EdgeSet::Mapped(p.qualifying, p.machine.OutputRises()));
  core.falls = NewSet(EdgeSet::Mapped(p.qualifying, p.machine.OutputFalls()));
  p.out = WithLevelBefore(core, haveOld ? outOld[block] : core.level0);
  plan.blockMark[block] = Mark::kBuilt;
  return p.out;
}

const EdgeSet* BoardCore::State::SourceSet(unsigned block, const detail::ModeFields& fields) {
  switch (fields.source) {
    case mode::kSourceBase: {
      // The block's own base clock: tick 0 at the arming strobe.
      const Instant anchor = ToInstant(blocks[block].armNs);
      const Instant period = static_cast<Int128>(kBaseClockPeriodPs) * den;
      const Instant first = anchor + period * (detail::FloorDiv(SegmentStart() - anchor, period) + 1);
      return NewSet(EdgeSet::Lattice(first, period));
    }
    case mode::kSourcePin:
      return PinSignal(block)->rises;
    case mode::kSourceGenerator0:
    case mode::kSourceGenerator1:
      return GeneratorSignal(fields.source - mode::kSourceGenerator0)->rises;
    case mode::kSourcePair:
      return PinSignal(fields.cascade ? block - 1 : block)->rises;
    default:
      return &plan.empty;  // codes 1, 3 and 6 count nothing
  }
}

const EdgeSet* BoardCore::State::QualifyingSet(unsigned block, BlockPlan& p) {
  const detail::BlockState& state = blocks[block];
  if (!state.armed) return &plan.empty;
  const EdgeSet* source = SourceSet(block, p.mode);
  const Instant start = SegmentStart();
  Instant from = start;
  Instant to = kNever;
  const GateKind gate = p.mode.Gate();
  switch (gate) {
    case GateKind::kNone:
      if (!p.mode.singleWindow) return source;
      break;
    case GateKind::kLevel: {
      const Signal* level = OutputSignal(block - 1);
      if (!p.mode.singleWindow) {
        if (!level->HasEdges()) return level->level0 ? source : &plan.empty;
        return NewSet(EdgeSet::Gated(source, level));
      }
      if (state.window == WindowState::kPending) {
        from = level->LevelAt(start) ? start : level->NextRiseAfter(start);
        to = from >= kNever ? kNever : level->NextFallAfter(from);
      } else {
        // An open window ends at the gate's next fall, or at once if the
        // gate is already low (a mode write may have changed the gate).
        to = level->LevelAt(start) ? level->NextFallAfter(start) : start;
      }
      break;
    }
    case GateKind::kHighPhase:
    case GateKind::kLowPhase: {
      // One whole phase of the reference: from its first opening edge after
      // arming to the next closing edge.
      const Signal* reference = PinSignal(p.mode.cascade ? block - 1 : block);
      const bool high = gate == GateKind::kHighPhase;
      const EdgeSet* opening = high ? reference->rises : reference->falls;
      const EdgeSet* closing = high ? reference->falls : reference->rises;
      if (state.window == WindowState::kPending) {
        from = opening->First();
        to = from >= kNever ? kNever : closing->Nth(closing->CountUpTo(from) + 1);
      } else {
        to = closing->First();
      }
      break;
    }
  }
  if (state.window == WindowState::kClosed) return &plan.empty;
  p.windowed = true;
  p.windowStart = from;
  p.windowEnd = to;
  if (from >= kNever) return &plan.empty;
  const Count low = source->CountBelow(from) + 1;
  if (to >= kNever) return NewSet(EdgeSet::Mapped(source, IndexSeq::Periodic(low, 1, {0}, kUnbounded)));
  return NewSet(EdgeSet::Mapped(source, IndexSeq::Range(low, source->CountBelow(to))));
}

Count BoardCore::State::QualifyingCount(unsigned block, Instant t) const {
  return plan.blocks[block].qualifying->CountUpTo(t);
}

}  // namespace qio::sim

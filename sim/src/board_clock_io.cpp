// The counter side of the simulator's own interface: what drives CLK0 and
// CLK1, and what OUTn and FOUTn show.
#include <cmath>

#include "board_state.h"

namespace qio::sim {

using detail::ClockPin;
using detail::Count;
using detail::Int128;
using detail::kNever;
using detail::Signal;
using Instant = detail::Instant;

namespace {

constexpr double kPsPerSecond = 1e12;

// Frequency and high time of a signal whose edges repeat for ever. The
// periodicity of the edge sets may span several identical periods; the
// smallest sub-period that repeats the rises exactly is the signal's period.
OutputWave Waveform(const Signal& signal, Int128 den) {
  const auto rise = signal.rises->Period();
  const auto fall = signal.falls->Period();
  if (!rise || !fall || rise->span != fall->span) return {};
  const Count per = rise->perPeriod;
  const Count first = rise->firstIndex;
  Count periods = per;
  for (Count q = 1; q <= per; ++q) {
    if (per % q != 0 || (rise->span * q) % per != 0) continue;
    const Instant step = rise->span * q / per;
    bool repeats = true;
    for (Count i = 0; i < per && repeats; ++i) {
      repeats = signal.rises->Nth(first + i + q) - signal.rises->Nth(first + i) == step;
    }
    if (repeats) {
      periods = q;
      break;
    }
  }
  const Instant period = rise->span * periods / per;
  Instant high = 0;
  for (Count i = 0; i < periods; ++i) {
    const Instant up = signal.rises->Nth(first + i);
    const Instant down = signal.NextFallAfter(up);
    if (up >= kNever || down >= kNever) return {};
    high += down - up;
  }
  const double quantaPerSecond = static_cast<double>(den) * kPsPerSecond;
  return OutputWave{quantaPerSecond / static_cast<double>(period), static_cast<double>(high) / quantaPerSecond};
}

}  // namespace

bool BoardCore::SetCounterWave(unsigned counter, const ClockWave& wave, double phase, std::uint64_t tNs) {
  if (counter >= kCounterCount || wave.den < 1 || wave.periodNum < 2 || wave.highNum < 1 ||
      wave.highNum >= wave.periodNum || !std::isfinite(phase) || phase < 0.0 || phase >= 1.0) {
    return false;
  }
  State& s = *state_;
  const std::uint64_t t = s.Clamp(tNs);
  s.Event(t, [&] {
    ClockPin& pin = s.clk[counter];
    pin = ClockPin{};
    pin.kind = ClockPin::Kind::kWave;
    pin.wave.period = wave.periodNum;
    pin.wave.high = wave.highNum;
    pin.wave.den = wave.den;
    // At t the wave stands at `phase` of its period: its last rise was then.
    const auto lead = static_cast<Int128>(std::llround(phase * static_cast<double>(wave.periodNum)));
    pin.wave.origin = static_cast<Int128>(t) * detail::kPsPerNs * wave.den - lead;
  });
  return true;
}

bool BoardCore::SetCounterInput(unsigned counter, double hz, double dutyPercent, double phase, std::uint64_t tNs) {
  if (counter >= kCounterCount) return false;
  if (hz == 0.0) return SetCounterLevel(counter, false, tNs);
  const auto wave = WaveFromFrequency(hz, dutyPercent);
  if (!wave) return false;
  return SetCounterWave(counter, *wave, phase, tNs);
}

bool BoardCore::SetCounterLevel(unsigned counter, bool level, std::uint64_t tNs) {
  if (counter >= kCounterCount) return false;
  state_->Event(tNs, [&] {
    ClockPin& pin = state_->clk[counter];
    pin = ClockPin{};
    pin.level = level;
  });
  return true;
}

bool BoardCore::WireCounterInput(unsigned counter, ClockWire source, std::uint64_t tNs) {
  if (counter >= kCounterCount || static_cast<unsigned>(source) > static_cast<unsigned>(ClockWire::kFreqOut1)) {
    return false;
  }
  state_->Event(tNs, [&] {
    ClockPin& pin = state_->clk[counter];
    pin = ClockPin{};
    pin.kind = ClockPin::Kind::kWire;
    pin.wire = source;
  });
  return true;
}

OutputWave BoardCore::Output(unsigned block, std::uint64_t) const {
  if (block >= kBlockCount) return {};
  return Waveform(*state_->plan.blocks[block].out, state_->den);
}

bool BoardCore::OutputLevel(unsigned block, std::uint64_t tNs) const {
  if (block >= kBlockCount) return false;
  return state_->plan.blocks[block].out->LevelAt(state_->ToInstant(state_->Clamp(tNs)));
}

double BoardCore::FreqOut(unsigned g) const {
  if (g >= kGeneratorCount) return 0.0;
  const detail::GeneratorPlan& plan = state_->plan.generators[g];
  if (!plan.running) return 0.0;
  return static_cast<double>(state_->den) * kPsPerSecond / static_cast<double>(plan.period);
}

bool BoardCore::FreqOutLevel(unsigned g, std::uint64_t tNs) const {
  if (g >= kGeneratorCount) return false;
  return state_->plan.generators[g].out->LevelAt(state_->ToInstant(state_->Clamp(tNs)));
}

std::uint16_t BoardCore::CountNow(unsigned block, std::uint64_t tNs) const {
  if (block >= kBlockCount) return 0;
  const State& s = *state_;
  return s.plan.blocks[block].machine.CountAfter(s.QualifyingCount(block, s.ToInstant(s.Clamp(tNs))));
}

std::uint64_t BoardCore::OutputRises(unsigned block, std::uint64_t tNs) const {
  if (block >= kBlockCount) return 0;
  const State& s = *state_;
  const Count now = s.plan.blocks[block].out->rises->CountUpTo(s.ToInstant(s.Clamp(tNs)));
  return s.risesBefore[block] + static_cast<std::uint64_t>(now);
}

std::uint64_t BoardCore::TerminalCounts(unsigned block, std::uint64_t tNs) const {
  if (block >= kBlockCount) return 0;
  const State& s = *state_;
  const Count m = s.QualifyingCount(block, s.ToInstant(s.Clamp(tNs)));
  return s.tcsBefore[block] + static_cast<std::uint64_t>(s.plan.blocks[block].machine.TerminalCountsAfter(m));
}

}  // namespace qio::sim

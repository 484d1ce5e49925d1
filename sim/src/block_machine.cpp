#include "block_machine.h"

#include <algorithm>

#include "qio/protocol/board_registers.h"

namespace qio::sim::detail {

using namespace qio::board;

namespace {

constexpr Count kWrap = 0x10000;  // a phase of count 0 lasts 65536 edges

std::uint16_t Low16(Int128 value) { return static_cast<std::uint16_t>(FloorMod(value, kWrap)); }

}  // namespace

ModeFields ModeFields::Decode(std::uint16_t word, unsigned block) {
  ModeFields fields;
  fields.output = word & mode::kOutputField;
  fields.countUp = (word & mode::kCountUp) != 0;
  fields.repeat = (word & mode::kRepeat) != 0;
  fields.alternate = (word & mode::kAlternate) != 0;
  fields.singleWindow = (word & mode::kSingleWindow) != 0;
  fields.source = (word & mode::kSourceField) >> mode::kSourceShift;
  fields.cascade = block > 0 && (word & mode::kCascade) != 0;
  fields.gate = (word & mode::kGateField) >> mode::kGateShift;
  return fields;
}

bool ModeFields::Toggles() const { return output == mode::kOutputToggle || output == mode::kOutputToggleAlso; }

bool ModeFields::Pulses() const { return output != mode::kOutputLow && !Toggles(); }

GateKind ModeFields::Gate() const {
  if (gate == mode::kGateHighPhase) return GateKind::kHighPhase;
  if (gate == mode::kGateLowPhase) return GateKind::kLowPhase;
  // GATE 4 and every other code gate on the lower block's output with CAS,
  // and not at all without it.
  return cascade ? GateKind::kLevel : GateKind::kNone;
}

Count BlockMachine::PhaseLength(std::uint8_t phase) const {
  const std::uint16_t value = phase == 0 ? load_ : hold_;
  return value == 0 ? kWrap : value;
}

void BlockMachine::Build(const ModeFields& mode, const BlockState& state, std::uint16_t load, std::uint16_t hold) {
  mode_ = mode;
  state_ = state;
  load_ = load;
  hold_ = hold;
  active_ = state.armed && !state.stopped;
  level0_ = mode.output == mode::kOutputLow ? false : state.outLevel;
  state_.outLevel = level0_;
  tcs_ = IndexSeq::Empty();
  raising_ = IndexSeq::Empty();
  stopAt_ = 0;
  first_ = inc1_ = inc2_ = 0;

  if (active_) {
    bool counts = true;
    if (mode.countUp) {
      if (mode.singleWindow) {
        counts = false;  // saturates at 0xFFFF instead of wrapping: no terminal count
      } else {
        first_ = kWrap - state.count;
        inc1_ = inc2_ = kWrap;
        stopAt_ = mode.repeat ? kUnbounded : 1;
      }
    } else {
      first_ = state.count == 0 ? kWrap : state.count;
      if (mode.alternate) {
        inc1_ = PhaseLength(static_cast<std::uint8_t>(1 - state.phase));
        inc2_ = PhaseLength(state.phase);
      } else {
        inc1_ = inc2_ = PhaseLength(0);
      }
      if (mode.singleWindow || !mode.repeat) {
        // Without REP the block stops at 0, but with ALT only once its hold
        // phase has run; WIN always stops at the first 0.
        stopAt_ = (!mode.singleWindow && mode.alternate && state.phase == 0) ? 2 : 1;
      } else {
        stopAt_ = kUnbounded;
      }
    }
    if (counts) {
      if (inc1_ == inc2_) {
        tcs_ = IndexSeq::Periodic(first_, inc1_, {0}, stopAt_);
      } else {
        tcs_ = IndexSeq::Periodic(first_, inc1_ + inc2_, {0, inc1_}, stopAt_);
      }
      if (mode.repeat && !mode.singleWindow) {
        raising_ = tcs_;
      } else {
        raising_ = IndexSeq::Range(tcs_.Nth(stopAt_), tcs_.Nth(stopAt_));
      }
    }
  }
  BuildOutputEdges();
}

void BlockMachine::BuildOutputEdges() {
  rises_ = IndexSeq::Empty();
  falls_ = IndexSeq::Empty();
  if (mode_.output == mode::kOutputLow) return;
  const bool hasTcs = tcs_.Size() > 0;
  const Count period = inc1_ + inc2_;
  const bool endless = stopAt_ >= kUnbounded;

  if (mode_.Toggles()) {
    if (!hasTcs) return;
    // Odd- and even-numbered terminal counts, each an arithmetic progression.
    const Count odd = endless ? kUnbounded : (stopAt_ + 1) / 2;
    const Count even = endless ? kUnbounded : stopAt_ / 2;
    const IndexSeq oddSeq = IndexSeq::Periodic(first_, period, {0}, odd);
    const IndexSeq evenSeq = IndexSeq::Periodic(first_ + inc1_, period, {0}, even);
    rises_ = level0_ ? evenSeq : oddSeq;
    falls_ = level0_ ? oddSeq : evenSeq;
    return;
  }

  // Pulses: high from a terminal-count edge to the next qualifying edge; a
  // terminal count on that next edge keeps the output high.
  const bool pending = level0_;
  if (!hasTcs) {
    // A pulse still high at the segment start ends at the next qualifying edge.
    if (pending && state_.armed) falls_ = IndexSeq::Range(1, 1);
    return;
  }
  const Count e1 = first_;
  const bool riseFirst = !(pending && e1 == 1);
  const bool fallPending = pending && e1 != 1;
  if (endless) {
    // From the second terminal count on, even-numbered ones follow a gap of
    // inc1 and odd-numbered ones a gap of inc2; a gap of one edge merges two
    // pulses.
    const Count e2 = e1 + inc1_;
    if (inc1_ > 1 && inc2_ > 1) {
      rises_ = IndexSeq::Periodic(e2, period, {0, inc2_}, kUnbounded);
      falls_ = IndexSeq::Periodic(e2 + 1, period, {0, inc2_}, kUnbounded);
    } else if (inc1_ > 1) {
      rises_ = IndexSeq::Periodic(e2, period, {0}, kUnbounded);
      falls_ = IndexSeq::Periodic(e2 + 1 + inc2_, period, {0}, kUnbounded);
    } else if (inc2_ > 1) {
      rises_ = IndexSeq::Periodic(e2 + inc2_, period, {0}, kUnbounded);
      falls_ = IndexSeq::Periodic(e2 + 1, period, {0}, kUnbounded);
    }
    if (inc1_ > 1) falls_.AddPrefix(e1 + 1);
    if (fallPending) falls_.AddPrefix(1);
    if (riseFirst) rises_.AddPrefix(e1);
    return;
  }
  // One or two terminal counts, then the block stops.
  if (stopAt_ >= 2) {
    const Count e2 = e1 + inc1_;
    falls_.AddPrefix(e2 + 1);
    if (inc1_ > 1) {
      rises_.AddPrefix(e2);
      falls_.AddPrefix(e1 + 1);
    }
  } else {
    falls_.AddPrefix(e1 + 1);
  }
  if (fallPending) falls_.AddPrefix(1);
  if (riseFirst) rises_.AddPrefix(e1);
}

Count BlockMachine::TerminalCountsAfter(Count m) const {
  if (!active_) return 0;
  return std::min(tcs_.CountUpTo(m), stopAt_);
}

std::uint16_t BlockMachine::CountAfter(Count m) const {
  if (!active_) return state_.count;
  if (tcs_.Size() == 0) {
    // Up-counting single window: saturate.
    return static_cast<std::uint16_t>(std::min<Int128>(static_cast<Int128>(state_.count) + m, kFullCount));
  }
  const Count k = tcs_.CountUpTo(m);
  if (k == 0) {
    return mode_.countUp ? Low16(static_cast<Int128>(state_.count) + m) : Low16(static_cast<Int128>(state_.count) - m);
  }
  if (k >= stopAt_) return 0;
  const Count sinceTc = m - tcs_.Nth(k);
  if (mode_.countUp) return Low16(sinceTc);
  const std::uint8_t phase = mode_.alternate ? static_cast<std::uint8_t>(state_.phase ^ (k & 1)) : 0;
  return Low16(static_cast<Int128>(phase == 0 ? load_ : hold_) - sinceTc);
}

bool BlockMachine::LevelAfter(Count m) const {
  if (mode_.output == mode::kOutputLow) return false;
  if (mode_.Toggles()) {
    if (!active_) return level0_;
    return level0_ != ((TerminalCountsAfter(m) & 1) != 0);
  }
  if (!state_.armed) return level0_;
  if (!active_ || tcs_.Size() == 0) return level0_ && m == 0;
  const Count k = tcs_.CountUpTo(m);
  if (k == 0) return level0_ && m == 0;
  return m == tcs_.Nth(k);
}

BlockState BlockMachine::StateAfter(Count m) const {
  BlockState next = state_;
  next.count = CountAfter(m);
  next.outLevel = LevelAfter(m);
  if (active_ && tcs_.Size() > 0) {
    const Count k = tcs_.CountUpTo(m);
    if (k >= stopAt_) {
      next.stopped = true;
    } else if (k > 0 && !mode_.countUp) {
      next.phase = mode_.alternate ? static_cast<std::uint8_t>(state_.phase ^ (k & 1)) : 0;
    }
  }
  return next;
}

}  // namespace qio::sim::detail

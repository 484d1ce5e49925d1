// One counter block between two register events: its mode word decoded, its
// state when the segment began, and the arithmetic that turns "m qualifying
// edges so far" into the count, the phase, the output level and the terminal
// counts. Everything here is a function of the qualifying-edge index; where
// those edges fall in time is the edge sets' business.
#pragma once

#include <cstdint>

#include "edge_set.h"

namespace qio::sim::detail {

enum class GateKind : std::uint8_t { kNone, kLevel, kHighPhase, kLowPhase };

struct ModeFields {
  unsigned output = 0;
  bool countUp = false;
  bool repeat = false;
  bool alternate = false;
  bool singleWindow = false;
  unsigned source = 0;
  bool cascade = false;  // never set on block 0
  unsigned gate = 0;

  static ModeFields Decode(std::uint16_t word, unsigned block);
  bool Toggles() const;
  bool Pulses() const;
  GateKind Gate() const;
};

// Where a single gate window stands (WIN, or a one-phase gate).
enum class WindowState : std::uint8_t { kPending, kOpen, kClosed };

struct BlockState {
  bool armed = false;
  bool stopped = false;  // ran to its final terminal count
  std::uint16_t count = 0;
  std::uint8_t phase = 0;  // 0: load-register phase, 1: hold-register phase
  bool outLevel = false;
  WindowState window = WindowState::kPending;
  std::uint64_t armNs = 0;  // tick 0 of the block's base clock
};

class BlockMachine {
 public:
  void Build(const ModeFields& mode, const BlockState& state, std::uint16_t load, std::uint16_t hold);

  // Counting runs in this segment (armed and not yet stopped).
  bool Active() const { return active_; }
  // Terminal counts, as qualifying-edge indices.
  const IndexSeq& TerminalCounts() const { return tcs_; }
  // Those terminal counts that set the interrupt status.
  const IndexSeq& StatusCounts() const { return raising_; }
  // Output rises and falls, as qualifying-edge indices.
  const IndexSeq& OutputRises() const { return rises_; }
  const IndexSeq& OutputFalls() const { return falls_; }
  // The output level at the segment start, after the event that began it.
  bool InitialLevel() const { return level0_; }

  std::uint16_t CountAfter(Count m) const;
  bool LevelAfter(Count m) const;
  Count TerminalCountsAfter(Count m) const;
  // The state after m qualifying edges (the window state is the caller's).
  BlockState StateAfter(Count m) const;

 private:
  Count PhaseLength(std::uint8_t phase) const;
  void BuildOutputEdges();

  ModeFields mode_;
  BlockState state_;
  std::uint16_t load_ = 0;
  std::uint16_t hold_ = 0;
  bool active_ = false;
  bool level0_ = false;
  Count first_ = 0;   // qualifying edges to the first terminal count
  Count inc1_ = 0;    // edges after odd-numbered terminal counts
  Count inc2_ = 0;    // edges after even-numbered terminal counts
  Count stopAt_ = 0;  // number of the terminal count that stops the block, or kUnbounded
  IndexSeq tcs_;
  IndexSeq raising_;
  IndexSeq rises_;
  IndexSeq falls_;
};

}  // namespace qio::sim::detail

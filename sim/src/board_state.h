// The board model's state and the plan of its present segment. A segment
// runs from one event (a register write that changes something, a strobe, a
// stimulus change) to the next; within it every register and input is
// constant, so every signal is a fixed closed-form function of time. At each
// event the model takes the state at that instant, applies the event, and
// builds the new segment's plan.
#pragma once

#include <array>
#include <utility>
#include <cstdint>
#include <deque>

#include "block_machine.h"
#include "edge_set.h"
#include "pin_history.h"
#include "qio/sim/BoardCore.h"
#include "qio/protocol/board_registers.h"

namespace qio::sim {

// The register map the model decodes, shared with the driver that programs it.
using namespace qio::board;

namespace detail {

inline constexpr Int128 kPsPerNs = 1000;

// A square wave in units of 1/den picoseconds; origin is a rising edge.
struct UnitWave {
  Int128 period = 1;
  Int128 high = 0;
  Int128 origin = 0;
  Int128 den = 1;

  bool LevelAt(Int128 t) const { return FloorMod(t - origin, period) < high; }
  Int128 FirstRiseAfter(Int128 t) const { return origin + (FloorDiv(t - origin, period) + 1) * period; }
};

struct ClockPin {
  enum class Kind : std::uint8_t { kLevel, kWave, kWire };
  Kind kind = Kind::kLevel;
  bool level = false;
  UnitWave wave;
  ClockWire wire = ClockWire::kOut0;
};

struct DiLine {
  enum class Kind : std::uint8_t { kLevel, kSquare, kLoop };
  Kind kind = Kind::kLevel;
  bool level = false;
  UnitWave wave;
  std::uint8_t fromPort = 0;
};

struct BlockPlan {
  ModeFields mode;
  BlockMachine machine;
  const EdgeSet* qualifying = nullptr;
  bool windowed = false;
  Instant windowStart = kNever;
  Instant windowEnd = kNever;
  const Signal* out = nullptr;
};

struct GeneratorPlan {
  bool running = false;
  Instant period = 0;
  const Signal* out = nullptr;
};

enum class Mark : std::uint8_t { kNone, kBuilding, kBuilt };

struct Plan {
  static constexpr std::size_t kSets = 64;
  static constexpr std::size_t kSignals = 32;
  std::array<EdgeSet, kSets> sets;
  std::size_t setsUsed = 0;
  std::array<Signal, kSignals> signals;
  std::size_t signalsUsed = 0;

  EdgeSet empty;
  std::array<Signal, 2> constant;  // low, high
  std::array<const Signal*, kBlockCount> pins{};  // CLK0, CLK1, and no pins on blocks 2, 3
  std::array<GeneratorPlan, kGeneratorCount> generators{};
  std::array<BlockPlan, kBlockCount> blocks{};
  std::array<Mark, kBlockCount> pinMark{};
  std::array<Mark, kGeneratorCount> generatorMark{};
  std::array<Mark, kBlockCount> blockMark{};
};

}  // namespace detail

struct BoardCore::State {
  using Instant = detail::Instant;

  // ---- time ----------------------------------------------------------------
  std::uint64_t segmentNs = 0;
  detail::Int128 den = 1;  // clock quanta per picosecond

  // ---- registers -----------------------------------------------------------
  std::array<std::uint16_t, kBlockCount> mode{};
  std::array<std::uint16_t, kBlockCount> load{};
  std::array<std::uint16_t, kBlockCount> hold{};
  std::array<int, kBlockCount> pending{-1, -1, -1, -1};
  std::array<std::uint16_t, kGeneratorCount> generatorWord{};
  std::array<std::uint64_t, kGeneratorCount> generatorAnchorNs{};
  // Period of CLKn (ps, as num/den) a pin-sourced generator divides; 0 if none.
  std::array<detail::Int128, kGeneratorCount> generatorPinSpan{};
  std::array<detail::Int128, kGeneratorCount> generatorPinDen{};
  std::uint16_t intEnable = 0;
  std::uint16_t status = 0;
  std::array<std::uint8_t, kPortCount> latch{};
  std::array<std::uint8_t, kPortCount> flags{};
  std::uint8_t direction = direction::kAll;

  // ---- blocks and inputs ---------------------------------------------------
  std::array<detail::BlockState, kBlockCount> blocks{};
  std::array<std::uint64_t, kBlockCount> risesBefore{};
  std::array<std::uint64_t, kBlockCount> tcsBefore{};
  std::array<detail::ClockPin, kCounterCount> clk{};
  std::array<detail::DiLine, kDiChannelCount> di{};

  // Levels of every signal at the start of the present segment, before the
  // event that began it.
  bool haveOld = false;
  std::array<bool, kCounterCount> pinOld{};
  std::array<bool, kGeneratorCount> generatorOld{};
  std::array<bool, kBlockCount> outOld{};

  unsigned requests = 0;
  bool trace = false;
  std::deque<PortAccess> traceLog;
  detail::PinHistory history;

  detail::Plan plan;

  explicit State(std::uint64_t powerUpNs);

  // ---- time helpers ----------------------------------------------------------
  Instant ToInstant(std::uint64_t ns) const;
  std::uint64_t ToNsCeil(Instant at) const;
  Instant SegmentStart() const { return ToInstant(segmentNs); }
  std::uint64_t Clamp(std::uint64_t ns) const { return ns < segmentNs ? segmentNs : ns; }

  // ---- segments (board_core.cpp) ---------------------------------------------
  // Ends the segment at t, applies `change`, starts the next one.
  template <class Change>
  void Event(std::uint64_t t, Change&& change);
  // A change of the DIO latches or directions alone: the counters' plan does
  // not depend on them, so the segment goes on (re-planning costs more than
  // the rest of a port write). While the pin history records, every change
  // starts a segment, as the history keeps the port pins per segment.
  template <class Change>
  void DioEvent(std::uint64_t t, Change&& change);
  void Rebase(std::uint64_t t);
  void Advance(std::uint64_t t);
  std::optional<std::uint64_t> NextInterruptTime() const;

  // ---- registers (board_core.cpp) --------------------------------------------
  std::uint16_t ReadSlot(std::uint16_t slot, std::uint64_t t);
  void WriteSlot(std::uint16_t slot, std::uint16_t value, std::uint16_t mask, std::uint64_t t);
  void ApplyCommand(unsigned block, std::uint8_t code, std::uint64_t t);

  // ---- plan (board_plan.cpp) --------------------------------------------------
  void Rebuild();
  const detail::Signal* PinSignal(unsigned pin);
  const detail::Signal* GeneratorSignal(unsigned generator);
  const detail::Signal* OutputSignal(unsigned block);
  const detail::EdgeSet* SourceSet(unsigned block, const detail::ModeFields& mode);
  const detail::EdgeSet* QualifyingSet(unsigned block, detail::BlockPlan& plan);
  const detail::EdgeSet* NewSet(const detail::EdgeSet& set);
  const detail::Signal* NewSignal(const detail::Signal& signal);
  const detail::Signal* WithLevelBefore(const detail::Signal& core, bool before);
  detail::Signal LatticeSignal(Instant origin, Instant period, Instant high);
  detail::Int128 ClockDen() const;
  Instant PinUnitsToInstant(const detail::UnitWave& wave, detail::Int128 value) const;
  detail::Count QualifyingCount(unsigned block, Instant t) const;

  // ---- DIO (board_dio.cpp) ----------------------------------------------------
  bool LineIsInput(unsigned line) const;
  bool PinLevel(unsigned line, std::uint64_t t) const;
  std::uint8_t PortPins(unsigned port, std::uint64_t t) const;
  std::uint8_t InputLevels(unsigned port, std::uint64_t t) const;
  std::uint8_t SquareRises(unsigned port, std::uint64_t from, std::uint64_t to) const;
  std::optional<std::uint64_t> NextSquareRise(unsigned port, std::uint64_t after) const;
  void SetDiEdgeFlags(const std::array<std::uint8_t, kPortCount>& before, std::uint64_t t);
};

template <class Change>
void BoardCore::State::Event(std::uint64_t t, Change&& change) {
  t = Clamp(t);
  std::array<std::uint8_t, kPortCount> before{};
  for (unsigned p = 0; p < kPortCount; ++p) before[p] = InputLevels(p, t);
  Rebase(t);
  change();
  Rebuild();
  SetDiEdgeFlags(before, t);
  Advance(t);
}

template <class Change>
void BoardCore::State::DioEvent(std::uint64_t t, Change&& change) {
  if (history.on) {
    Event(t, std::forward<Change>(change));
    return;
  }
  t = Clamp(t);
  std::array<std::uint8_t, kPortCount> before{};
  for (unsigned p = 0; p < kPortCount; ++p) before[p] = InputLevels(p, t);
  change();
  SetDiEdgeFlags(before, t);
  Advance(t);
}

}  // namespace qio::sim

// Sets of signal edges in closed form. The model never walks edge by edge: a
// clock is a lattice of rising edges, a block's qualifying edges are a slice
// or a gated subset of its source's edges, and a block's output changes at
// arithmetic progressions of qualifying-edge indices. Each set answers "how
// many elements up to t" and "where is the n-th element" with a few integer
// divisions, whatever the frequency.
//
// All sets belong to one segment of the board's history (from the last
// register write or stimulus change on): they hold only the edges of that
// segment, so the first element is the first edge the segment sees.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>

#include "wide_math.h"

namespace qio::sim::detail {

using Instant = Int128;  // clock quanta
using Count = std::int64_t;

// An increasing sequence of positive indices: a short explicit prefix, then
// start + j * step + offsets[i] for j >= 0 and i in order, with at most
// `limit` elements in all (prefix included).
class IndexSeq {
 public:
  static constexpr std::size_t kMaxPrefix = 4;
  static constexpr std::size_t kMaxOffsets = 2;

  static IndexSeq Empty() { return IndexSeq{}; }
  // first .. last inclusive (empty when last < first).
  static IndexSeq Range(Count first, Count last);
  static IndexSeq Periodic(Count start, Count step, std::initializer_list<Count> offsets, Count limit);

  // Adds an index before every other element (must be smaller than all).
  void AddPrefix(Count index);

  Count CountUpTo(Count m) const;  // elements <= m
  Count Nth(Count k) const;        // k-th element (1-based); 0 when none
  Count Size() const;              // kUnbounded when infinite
  bool Unbounded() const { return Size() >= kUnbounded; }

  // Periodic part, for composing periodicities.
  std::size_t PrefixCount() const { return prefixCount_; }
  std::size_t OffsetCount() const { return offsetCount_; }
  Count Start() const { return start_; }
  Count Step() const { return step_; }

 private:
  std::array<Count, kMaxPrefix> prefix_{};
  std::size_t prefixCount_ = 0;
  Count start_ = 1;
  Count step_ = 1;
  std::array<Count, kMaxOffsets> offsets_{};
  std::size_t offsetCount_ = 0;
  Count periodicLimit_ = 0;  // elements of the periodic part
};

// For n >= firstIndex: Nth(n + perPeriod) == Nth(n) + span.
struct Periodicity {
  Count firstIndex = 1;
  Count perPeriod = 1;
  Instant span = 1;
};

class EdgeSet;

// A two-level signal over the segment: its level just before the segment
// starts, and its rising and falling edges (alternating) from then on.
struct Signal {
  bool level0 = false;
  const EdgeSet* rises = nullptr;
  const EdgeSet* falls = nullptr;

  bool LevelAt(Instant t) const;
  Instant NextRiseAfter(Instant t) const;  // first rise > t, or kNever
  Instant NextFallAfter(Instant t) const;
  bool HasEdges() const;
};

class EdgeSet {
 public:
  enum class Kind : std::uint8_t { kEmpty, kLattice, kMapped, kGated, kPrepend };
  static constexpr std::size_t kMaxClasses = 8;

  static EdgeSet Empty() { return EdgeSet{}; }
  // first, first + period, first + 2 * period, ...
  static EdgeSet Lattice(Instant first, Instant period);
  // The base's elements at the given indices.
  static EdgeSet Mapped(const EdgeSet* base, const IndexSeq& indices);
  // `at` followed by the base's elements (all later than `at`).
  static EdgeSet Prepend(Instant at, const EdgeSet* base);
  // The source's elements at which the gate is high. Both must outlive the set.
  static EdgeSet Gated(const EdgeSet* source, const Signal* gate);

  Kind kind() const { return kind_; }
  Count CountUpTo(Instant t) const;
  Count CountBelow(Instant t) const { return CountUpTo(t - 1); }
  Instant Nth(Count n) const;  // n-th element (1-based), kNever when none
  Instant First() const { return Nth(1); }
  bool IsEmpty() const { return Nth(1) >= kNever; }
  // Empty by construction (no look-ahead): an empty set, or a selection of
  // no indices.
  bool KnownEmpty() const;
  // Set when the elements repeat with a fixed span from some index on, for
  // ever, with at most kMaxClasses elements per period.
  std::optional<Periodicity> Period() const;

 private:
  struct GatedForm {
    bool closed = false;        // the floor-sum form applies
    Count lead = 0;             // windows before the periodic regime
    Instant regimeStart = 0;    // first gate rise of the periodic regime
    Count classes = 0;          // gate windows per period
    Instant span = 0;           // gate period
    std::array<Instant, kMaxClasses> windowStart{};
    std::array<Instant, kMaxClasses> windowWidth{};
    Count sourceFirstPeriodic = 0;  // source index where its periodicity begins
    Count sourceClasses = 0;
    Instant sourceSpan = 0;
    std::array<Instant, kMaxClasses> sourceOffset{};
  };

  void PrepareGated();
  Count GatedCountUpTo(Instant t) const;
  std::optional<Count> GatedCountClosed(Instant t) const;
  bool HighInRegime(Instant t) const;
  Instant WindowStart(Count k) const;  // gate window k (1-based)
  Instant WindowEnd(Count k) const;
  Count GatedCountLooped(Instant t) const;
  Instant GatedNth(Count n) const;
  Instant GatedNthLooped(Count n) const;
  Count NextWindowWithSource(Count k, Instant after) const;  // 0: none
  Count SourceCountIn(Instant from, Instant to) const;  // source elements in [from, to)

  Kind kind_ = Kind::kEmpty;
  Instant first_ = 0;
  Instant period_ = 1;
  const EdgeSet* base_ = nullptr;
  IndexSeq indices_;
  const Signal* gate_ = nullptr;
  GatedForm gated_;
  // Window walk of the looped form: windows before `window` are complete and
  // hold `before` elements. Queries mostly move forward, so a walk resumes
  // where the last one stopped.
  struct Cursor {
    Count window = 1;
    Count before = 0;
    Instant reached = -kNever;  // end of the last complete window
  };
  mutable Cursor cursor_;
};

}  // namespace qio::sim::detail

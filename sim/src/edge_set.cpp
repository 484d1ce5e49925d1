#include "edge_set.h"

#include <algorithm>

namespace qio::sim::detail {

// ---- IndexSeq ---------------------------------------------------------------

IndexSeq IndexSeq::Range(Count first, Count last) {
  IndexSeq seq;
  if (last < first) return seq;
  seq.start_ = first;
  seq.step_ = 1;
  seq.offsets_[0] = 0;
  seq.offsetCount_ = 1;
  seq.periodicLimit_ = last - first + 1;
  return seq;
}

IndexSeq IndexSeq::Periodic(Count start, Count step, std::initializer_list<Count> offsets, Count limit) {
  IndexSeq seq;
  seq.start_ = start;
  seq.step_ = step;
  for (const Count offset : offsets) {
    if (seq.offsetCount_ >= kMaxOffsets) break;
    // Keep the offsets in ascending order (insertion; there are at most two).
    std::size_t at = seq.offsetCount_++;
    while (at > 0 && seq.offsets_[at - 1] > offset) {
      seq.offsets_[at] = seq.offsets_[at - 1];
      --at;
    }
    seq.offsets_[at] = offset;
  }
  seq.periodicLimit_ = seq.offsetCount_ == 0 ? 0 : std::max<Count>(limit, 0);
  return seq;
}

void IndexSeq::AddPrefix(Count index) {
  if (prefixCount_ >= kMaxPrefix) return;
  for (std::size_t i = prefixCount_; i > 0; --i) prefix_[i] = prefix_[i - 1];
  prefix_[0] = index;
  ++prefixCount_;
}

Count IndexSeq::CountUpTo(Count m) const {
  Count count = 0;
  for (std::size_t i = 0; i < prefixCount_; ++i) {
    if (prefix_[i] <= m) ++count;
  }
  if (periodicLimit_ == 0 || m < start_) return count;
  const Count distance = m - start_;
  const Count periods = distance / step_;
  const Count rest = distance % step_;
  Int128 periodic = static_cast<Int128>(periods) * static_cast<Int128>(offsetCount_);
  for (std::size_t i = 0; i < offsetCount_; ++i) {
    if (offsets_[i] <= rest) ++periodic;
  }
  return count + ClampCount(std::min<Int128>(periodic, periodicLimit_));
}

Count IndexSeq::Nth(Count k) const {
  if (k <= 0) return 0;
  if (static_cast<std::size_t>(k) <= prefixCount_) return prefix_[static_cast<std::size_t>(k) - 1];
  const Count u = k - static_cast<Count>(prefixCount_) - 1;
  if (u >= periodicLimit_) return 0;
  const Count oc = static_cast<Count>(offsetCount_);
  const Int128 value = static_cast<Int128>(start_) + static_cast<Int128>(u / oc) * step_ +
                       offsets_[static_cast<std::size_t>(u % oc)];
  return value >= kUnbounded ? 0 : static_cast<Count>(value);
}

Count IndexSeq::Size() const {
  return ClampCount(static_cast<Int128>(prefixCount_) + periodicLimit_);
}

// ---- Signal -----------------------------------------------------------------

bool Signal::LevelAt(Instant t) const {
  const Count up = rises->CountUpTo(t);
  const Count down = falls->CountUpTo(t);
  return (level0 ? 1 : 0) + up - down > 0;
}

Instant Signal::NextRiseAfter(Instant t) const { return rises->Nth(rises->CountUpTo(t) + 1); }

Instant Signal::NextFallAfter(Instant t) const { return falls->Nth(falls->CountUpTo(t) + 1); }

bool Signal::HasEdges() const { return !rises->KnownEmpty() || !falls->KnownEmpty(); }

// ---- EdgeSet ----------------------------------------------------------------

EdgeSet EdgeSet::Lattice(Instant first, Instant period) {
  EdgeSet set;
  set.kind_ = Kind::kLattice;
  set.first_ = first;
  set.period_ = period;
  return set;
}

EdgeSet EdgeSet::Mapped(const EdgeSet* base, const IndexSeq& indices) {
  EdgeSet set;
  set.kind_ = Kind::kMapped;
  set.base_ = base;
  set.indices_ = indices;
  return set;
}

EdgeSet EdgeSet::Prepend(Instant at, const EdgeSet* base) {
  EdgeSet set;
  set.kind_ = Kind::kPrepend;
  set.first_ = at;
  set.base_ = base;
  return set;
}

EdgeSet EdgeSet::Gated(const EdgeSet* source, const Signal* gate) {
  EdgeSet set;
  set.kind_ = Kind::kGated;
  set.base_ = source;
  set.gate_ = gate;
  set.PrepareGated();
  return set;
}

Count EdgeSet::CountUpTo(Instant t) const {
  switch (kind_) {
    case Kind::kEmpty:
      return 0;
    case Kind::kLattice:
      if (t < first_) return 0;
      return ClampCount(FloorDiv(t - first_, period_) + 1);
    case Kind::kMapped:
      return indices_.CountUpTo(base_->CountUpTo(t));
    case Kind::kPrepend: {
      const Count rest = base_->CountUpTo(t);
      return t >= first_ ? std::min<Count>(rest + 1, kUnbounded) : rest;
    }
    case Kind::kGated:
      return GatedCountUpTo(t);
  }
  return 0;
}

Instant EdgeSet::Nth(Count n) const {
  if (n <= 0 || n >= kUnbounded) return kNever;
  switch (kind_) {
    case Kind::kEmpty:
      return kNever;
    case Kind::kLattice: {
      const Instant at = first_ + static_cast<Int128>(n - 1) * period_;
      return at >= kNever ? kNever : at;
    }
    case Kind::kMapped: {
      const Count index = indices_.Nth(n);
      return index == 0 ? kNever : base_->Nth(index);
    }
    case Kind::kPrepend:
      return n == 1 ? first_ : base_->Nth(n - 1);
    case Kind::kGated:
      return GatedNth(n);
  }
  return kNever;
}

bool EdgeSet::KnownEmpty() const {
  switch (kind_) {
    case Kind::kEmpty:
      return true;
    case Kind::kMapped:
      return indices_.Size() == 0 || base_->KnownEmpty();
    case Kind::kGated:
      return base_->KnownEmpty();
    default:
      return false;
  }
}

std::optional<Periodicity> EdgeSet::Period() const {
  switch (kind_) {
    case Kind::kEmpty:
    case Kind::kGated:
      return std::nullopt;
    case Kind::kLattice:
      return Periodicity{1, 1, period_};
    case Kind::kPrepend: {
      auto inner = base_->Period();
      if (inner) ++inner->firstIndex;
      return inner;
    }
    case Kind::kMapped: {
      if (!indices_.Unbounded() || indices_.OffsetCount() == 0) return std::nullopt;
      const auto inner = base_->Period();
      if (!inner) return std::nullopt;
      const Count per = static_cast<Count>(indices_.OffsetCount()) * inner->perPeriod;
      if (per > static_cast<Count>(kMaxClasses)) return std::nullopt;
      const Count lead = std::max<Count>(0, static_cast<Count>(CeilDiv(inner->firstIndex - indices_.Start(), indices_.Step())));
      Periodicity result;
      result.firstIndex = static_cast<Count>(indices_.PrefixCount()) + 1 +
                          static_cast<Count>(indices_.OffsetCount()) * lead;
      result.perPeriod = per;
      result.span = inner->span * indices_.Step();
      return result;
    }
  }
  return std::nullopt;
}

// ---- gated sets ---------------------------------------------------------------
//
// Window k of the gate is [start_k, end_k): with the gate low at the segment
// start it is [rise_k, fall_k); with the gate high, window 1 runs from the
// segment start to fall_1 and window k to [rise_{k-1}, fall_k). Once the
// gate's rises and falls are periodic with a common span T, a source element
// e lies in a window of class c exactly when (e - a_c) mod T < w_c, and the
// number of periodic source elements for which that holds is a difference
// of two floor sums per (source class, window class).

Instant EdgeSet::WindowStart(Count k) const {
  const Count lead = gate_->level0 ? 1 : 0;
  if (k == 1 && lead == 1) return -kNever;
  return gate_->rises->Nth(k - lead);
}

Instant EdgeSet::WindowEnd(Count k) const { return gate_->falls->Nth(k); }

Count EdgeSet::SourceCountIn(Instant from, Instant to) const {
  if (to <= from) return 0;
  return base_->CountBelow(to) - base_->CountBelow(from);
}

void EdgeSet::PrepareGated() {
  gated_ = GatedForm{};
  const auto source = base_->Period();
  const auto rise = gate_->rises->Period();
  const auto fall = gate_->falls->Period();
  if (!source || !rise || !fall) return;
  if (rise->perPeriod != fall->perPeriod || rise->span != fall->span) return;
  const Count shift = gate_->level0 ? 1 : 0;  // fall index = rise index + shift
  const Count firstRise = std::max<Count>({rise->firstIndex, fall->firstIndex - shift, 1});
  GatedForm form;
  form.classes = rise->perPeriod;
  form.span = rise->span;
  for (Count c = 0; c < form.classes; ++c) {
    const Instant start = gate_->rises->Nth(firstRise + c);
    const Instant end = gate_->falls->Nth(firstRise + c + shift);
    if (start >= kNever || end >= kNever || end <= start || end - start >= form.span) return;
    form.windowStart[static_cast<std::size_t>(c)] = start;
    form.windowWidth[static_cast<std::size_t>(c)] = end - start;
  }
  form.lead = firstRise - 1 + shift;
  form.regimeStart = form.windowStart[0];
  form.sourceFirstPeriodic = source->firstIndex;
  form.sourceClasses = source->perPeriod;
  form.sourceSpan = source->span;
  for (Count i = 0; i < form.sourceClasses; ++i) {
    const Instant at = base_->Nth(source->firstIndex + i);
    if (at >= kNever) return;
    form.sourceOffset[static_cast<std::size_t>(i)] = at;
  }
  form.closed = true;
  gated_ = form;
}

bool EdgeSet::HighInRegime(Instant t) const {
  for (Count c = 0; c < gated_.classes; ++c) {
    const auto k = static_cast<std::size_t>(c);
    if (FloorMod(t - gated_.windowStart[k], gated_.span) < gated_.windowWidth[k]) return true;
  }
  return false;
}

Count EdgeSet::GatedCountUpTo(Instant t) const {
  if (t >= kNever / 2) return kUnbounded;
  if (gated_.closed) {
    if (const auto count = GatedCountClosed(t)) return *count;
  }
  return GatedCountLooped(t);
}

std::optional<Count> EdgeSet::GatedCountClosed(Instant t) const {
  Int128 total = 0;
  for (Count k = 1; k <= gated_.lead; ++k) {
    const Instant start = WindowStart(k);
    if (start > t) return ClampCount(total);
    total += SourceCountIn(start, std::min(WindowEnd(k), t + 1));
  }
  if (t < gated_.regimeStart) return ClampCount(total);

  const Count low = base_->CountBelow(gated_.regimeStart) + 1;
  const Count high = base_->CountUpTo(t);
  const Count periodicFrom = std::max(low, gated_.sourceFirstPeriodic);
  for (Count n = low; n <= high && n < gated_.sourceFirstPeriodic; ++n) {
    if (HighInRegime(base_->Nth(n))) ++total;
  }
  const Instant span = gated_.span;
  const Instant step = FloorMod(gated_.sourceSpan, span);
  for (Count i = 0; i < gated_.sourceClasses; ++i) {
    const Count base = gated_.sourceFirstPeriodic + i;  // index of j = 0
    const Count jLow = std::max<Count>(0, static_cast<Count>(CeilDiv(periodicFrom - base, gated_.sourceClasses)));
    if (high < base) continue;
    const Count jHigh = (high - base) / gated_.sourceClasses;
    if (jHigh < jLow) continue;
    const Int128 terms = static_cast<Int128>(jHigh) - jLow + 1;
    const Instant first = gated_.sourceOffset[static_cast<std::size_t>(i)] + static_cast<Int128>(jLow) * gated_.sourceSpan;
    for (Count c = 0; c < gated_.classes; ++c) {
      const auto k = static_cast<std::size_t>(c);
      const Instant upper = first - gated_.windowStart[k];
      const Instant lower = upper - gated_.windowWidth[k];
      const auto a = FloorSum(terms, span, step, FloorMod(upper, span));
      const auto b = FloorSum(terms, span, step, FloorMod(lower, span));
      if (!a || !b) return std::nullopt;
      total += *a - *b + terms * (FloorDiv(upper, span) - FloorDiv(lower, span));
    }
  }
  return ClampCount(total);
}

// Window by window: used when the gate or the source is not periodic in a
// form the floor sums can take (a gate that is itself the output of a
// periodically gated block, or figures beyond 128 bits). Exact, but its cost
// grows with the number of gate windows walked; the cursor makes a sequence
// of forward queries cost one walk in all.
Count EdgeSet::NextWindowWithSource(Count k, Instant after) const {
  // Windows holding no source element are skipped: the next one to look at
  // is the window in which the next source element falls (or the first to
  // start after it).
  const Instant next = base_->Nth(base_->CountBelow(after) + 1);
  if (next >= kNever) return 0;
  const Count started = gate_->rises->CountUpTo(next) + (gate_->level0 ? 1 : 0);
  return std::max(k + 1, started);
}

Count EdgeSet::GatedCountLooped(Instant t) const {
  if (t < cursor_.reached) cursor_ = Cursor{};
  for (Count k = cursor_.window;;) {
    const Instant start = WindowStart(k);
    if (start >= kNever || start > t) return ClampCount(cursor_.before);
    const Instant end = WindowEnd(k);
    const Count inside = SourceCountIn(start, std::min(end, t + 1));
    if (end > t) return ClampCount(static_cast<Int128>(cursor_.before) + inside);
    cursor_.before = ClampCount(static_cast<Int128>(cursor_.before) + inside);
    cursor_.reached = end;
    k = NextWindowWithSource(k, end);
    cursor_.window = k == 0 ? kUnbounded : k;
    if (k == 0) return ClampCount(cursor_.before);
  }
}

Instant EdgeSet::GatedNthLooped(Count n) const {
  if (cursor_.before >= n) cursor_ = Cursor{};
  for (Count k = cursor_.window;;) {
    const Instant start = WindowStart(k);
    if (start >= kNever) return kNever;
    const Instant end = WindowEnd(k);
    const Count inside = SourceCountIn(start, end);
    if (static_cast<Int128>(cursor_.before) + inside >= n) {
      return base_->Nth(base_->CountBelow(start) + (n - cursor_.before));
    }
    if (end >= kNever) return kNever;
    cursor_.before += inside;
    cursor_.reached = end;
    k = NextWindowWithSource(k, end);
    cursor_.window = k == 0 ? kUnbounded : k;
    if (k == 0) return kNever;
  }
}

Instant EdgeSet::GatedNth(Count n) const {
  if (!gated_.closed) return GatedNthLooped(n);
  // The answer is a source element: search the smallest source index whose
  // element has n qualifying elements at or before it.
  auto qualifies = [&](Count index, bool& valid) {
    const Instant at = base_->Nth(index);
    valid = at < kNever;
    return valid && GatedCountUpTo(at) >= n;
  };
  Count low = 0;  // known not to qualify
  Count high = 1;
  bool valid = true;
  while (!qualifies(high, valid)) {
    if (!valid) break;
    low = high;
    if (high >= kUnbounded / 2) return kNever;
    high *= 2;
  }
  if (!valid) {
    // The source ends between low and high: find its last element.
    Count lastValid = low;
    Count beyond = high;
    while (beyond - lastValid > 1) {
      const Count mid = lastValid + (beyond - lastValid) / 2;
      if (base_->Nth(mid) < kNever) {
        lastValid = mid;
      } else {
        beyond = mid;
      }
    }
    if (lastValid == low || !qualifies(lastValid, valid)) return kNever;
    high = lastValid;
  }
  while (high - low > 1) {
    const Count mid = low + (high - low) / 2;
    if (qualifies(mid, valid)) {
      high = mid;
    } else {
      low = mid;
    }
  }
  return base_->Nth(high);
}

}  // namespace qio::sim::detail

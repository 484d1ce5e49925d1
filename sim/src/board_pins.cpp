// The changes of the board's pins over time: CLKn, OUTn and FOUTn from the
// present segment's edge sets, the DIO ports from their square-wave lines.
// Nothing is sampled: each change is the n-th element of a closed-form set,
// and the changes of a span that are not listed are counted in closed form.
// The pin history keeps the changes of earlier segments (pin_history.h).
#include <algorithm>

#include "board_state.h"
#include "pin_history.h"

namespace qio::sim {

using detail::Count;
using detail::Int128;
using detail::kNever;
using detail::Signal;
using detail::UnitWave;
using Instant = detail::Instant;

namespace {

constexpr unsigned kLinesPerPort = 8;

// Changes that a listing or the history could not take.
struct Rest {
  std::uint64_t count = 0;
  std::uint64_t firstNs = UINT64_MAX;
};

const Signal* SignalOf(const BoardCore::State& s, Pin pin) {
  switch (pin) {
    case Pin::kClk0:
    case Pin::kClk1:
      return s.plan.pins[static_cast<unsigned>(pin) - static_cast<unsigned>(Pin::kClk0)];
    case Pin::kOut0:
    case Pin::kOut1:
      return s.plan.blocks[static_cast<unsigned>(pin) - static_cast<unsigned>(Pin::kOut0)].out;
    case Pin::kFreqOut0:
    case Pin::kFreqOut1:
      return s.plan.generators[static_cast<unsigned>(pin) - static_cast<unsigned>(Pin::kFreqOut0)].out;
    default:
      return nullptr;
  }
}

unsigned PortOf(Pin pin) { return static_cast<unsigned>(pin) - static_cast<unsigned>(Pin::kPortA); }

std::uint64_t Saturated(Count count) { return count > 0 ? static_cast<std::uint64_t>(count) : 0; }

// The pin's value at tNs (at or after the segment start), every change at or
// before tNs included.
std::uint32_t ValueAt(const BoardCore::State& s, Pin pin, std::uint64_t tNs) {
  if (const Signal* signal = SignalOf(s, pin)) return signal->LevelAt(s.ToInstant(tNs)) ? 1u : 0u;
  return s.PortPins(PortOf(pin), tNs);
}

// Passes the changes of a two-level signal in (fromNs, toNs] to `sink`, oldest
// first, until it refuses one; that one and all later ones are counted.
template <class Sink>
Rest SignalChanges(const BoardCore::State& s, const Signal& signal, std::uint64_t fromNs, std::uint64_t toNs,
                   Sink&& sink) {
  const Instant lo = s.ToInstant(fromNs);
  const Instant hi = s.ToInstant(toNs);
  Count rise = signal.rises->CountUpTo(lo) + 1;
  Count fall = signal.falls->CountUpTo(lo) + 1;
  bool level = signal.LevelAt(lo);
  while (true) {
    const Instant nextRise = signal.rises->Nth(rise);
    const Instant nextFall = signal.falls->Nth(fall);
    // A rise and a fall at one instant (an event forcing a level that an
    // edge had just reached) follow the level they start from.
    const bool riseFirst = nextRise < nextFall || (nextRise == nextFall && !level);
    const Instant at = riseFirst ? nextRise : nextFall;
    if (at >= kNever || at > hi) return {};
    const std::uint64_t ns = s.ToNsCeil(at);
    if (!sink(ns, riseFirst ? 1u : 0u)) {
      return {Saturated(signal.rises->CountUpTo(hi) - rise + 1) + Saturated(signal.falls->CountUpTo(hi) - fall + 1),
              ns};
    }
    level = riseFirst;
    (riseFirst ? rise : fall) += 1;
  }
}

// A DI line driven by a square wave, in the wave's own units.
struct SquareLine {
  const UnitWave* wave = nullptr;
  Int128 next = 0;  // its next edge

  Int128 Units(std::uint64_t ns) const { return static_cast<Int128>(ns) * detail::kPsPerNs * wave->den; }
  std::uint64_t Ns(Int128 units) const {
    const Int128 ns = detail::CeilDiv(units, detail::kPsPerNs * wave->den);
    return ns >= static_cast<Int128>(UINT64_MAX) ? UINT64_MAX : static_cast<std::uint64_t>(ns);
  }
  // The first edge (rise or fall) after `units`.
  Int128 EdgeAfter(Int128 units) const {
    const Int128 rise = wave->FirstRiseAfter(units);
    const Int128 fallOrigin = wave->origin + wave->high;
    const Int128 fall = fallOrigin + (detail::FloorDiv(units - fallOrigin, wave->period) + 1) * wave->period;
    return std::min(rise, fall);
  }
  // Edges in (fromNs, toNs].
  std::uint64_t EdgesIn(std::uint64_t fromNs, std::uint64_t toNs) const {
    const Int128 a = Units(fromNs);
    const Int128 b = Units(toNs);
    const Int128 fallOrigin = wave->origin + wave->high;
    const Int128 rises = detail::FloorDiv(b - wave->origin, wave->period) - detail::FloorDiv(a - wave->origin, wave->period);
    const Int128 falls = detail::FloorDiv(b - fallOrigin, wave->period) - detail::FloorDiv(a - fallOrigin, wave->period);
    return Saturated(detail::ClampCount(rises + falls));
  }
};

// The changes of a port's pins in (fromNs, toNs]: within a segment only its
// input lines that carry a square wave move. Each change passes the port's
// value after it; the count of what is refused is in line edges.
template <class Sink>
Rest PortChanges(const BoardCore::State& s, unsigned port, std::uint64_t fromNs, std::uint64_t toNs, Sink&& sink) {
  std::array<SquareLine, kLinesPerPort> lines{};
  std::size_t used = 0;
  for (unsigned bit = 0; bit < kLinesPerPort; ++bit) {
    const unsigned line = port * kLinesPerPort + bit;
    const detail::DiLine& drive = s.di[line];
    if (drive.kind != detail::DiLine::Kind::kSquare || !s.LineIsInput(line)) continue;
    SquareLine& square = lines[used++];
    square.wave = &drive.wave;
    square.next = square.EdgeAfter(square.Units(fromNs));
  }
  while (used > 0) {
    std::uint64_t at = UINT64_MAX;
    for (std::size_t i = 0; i < used; ++i) at = std::min(at, lines[i].Ns(lines[i].next));
    if (at > toNs) return {};
    if (!sink(at, s.PortPins(port, at))) {
      Rest rest{0, at};
      for (std::size_t i = 0; i < used; ++i) rest.count += lines[i].EdgesIn(at - 1, toNs);
      return rest;
    }
    for (std::size_t i = 0; i < used; ++i) {
      while (lines[i].Ns(lines[i].next) <= at) lines[i].next = lines[i].EdgeAfter(lines[i].next);
    }
  }
  return {};
}

template <class Sink>
Rest Changes(const BoardCore::State& s, Pin pin, std::uint64_t fromNs, std::uint64_t toNs, Sink&& sink) {
  if (toNs <= fromNs) return {};
  if (const Signal* signal = SignalOf(s, pin)) return SignalChanges(s, *signal, fromNs, toNs, sink);
  return PortChanges(s, PortOf(pin), fromNs, toNs, sink);
}

// Builds a listing: merges changes on one nanosecond, drops those that do not
// change the value, and stops at the caller's limit.
class Collector {
 public:
  Collector(std::uint64_t fromNs, std::uint64_t toNs, std::size_t maxChanges, std::uint64_t knownFromNs)
      : fromNs_(fromNs), toNs_(toNs), max_(maxChanges) {
    listing_.known = true;
    listing_.knownFromNs = knownFromNs;
  }

  // False when the change was not taken because the listing is full.
  bool Add(std::uint64_t ns, std::uint32_t value) {
    std::vector<PinChange>& changes = listing_.changes;
    if (ns <= fromNs_) {
      listing_.valueAtFrom = value;
      return true;
    }
    if (ns > toNs_) return true;
    if (!changes.empty() && changes.back().timeNs == ns) {
      changes.back().value = value;
      if (value == ValueBefore(changes.size() - 1)) changes.pop_back();
      return true;
    }
    if (value == ValueBefore(changes.size())) return true;
    if (changes.size() >= max_) return false;
    changes.push_back({ns, value});
    return true;
  }
  void LeaveOut(const Rest& rest) {
    listing_.notListed += rest.count;
    listing_.firstNotListedNs = std::min(listing_.firstNotListedNs, rest.firstNs);
  }
  PinListing Take() { return std::move(listing_); }

 private:
  std::uint32_t ValueBefore(std::size_t index) const {
    return index == 0 ? listing_.valueAtFrom : listing_.changes[index - 1].value;
  }

  std::uint64_t fromNs_;
  std::uint64_t toNs_;
  std::size_t max_;
  PinListing listing_;
};

}  // namespace

namespace detail {

void CaptureSegment(BoardCore::State& s, std::uint64_t tNs) {
  PinHistory& history = s.history;
  for (unsigned p = 0; p < kPinCount; ++p) {
    const auto pin = static_cast<Pin>(p);
    PinTrack& track = history.tracks[p];
    auto keep = [&](std::uint64_t ns, std::uint32_t value) {
      if (value == track.lastValue) return true;
      if (track.kept.size() >= history.cap) return false;
      track.kept.push_back({ns, value});
      track.lastValue = value;
      return true;
    };
    auto drop = [&](const Rest& rest) {
      track.dropped += rest.count;
      track.firstDroppedNs = std::min(track.firstDroppedNs, rest.firstNs);
    };
    std::uint64_t from = history.startNs;
    if (s.segmentNs >= history.startNs) {
      // The event that began this segment may have moved the pin.
      from = s.segmentNs;
      if (!keep(from, ValueAt(s, pin, from))) drop({1, from});
    }
    drop(Changes(s, pin, from, tNs, keep));
    track.lastValue = ValueAt(s, pin, tNs);
  }
}

}  // namespace detail

void BoardCore::StartPinHistory(std::size_t maxChangesPerPin, std::uint64_t tNs) {
  State& s = *state_;
  const std::uint64_t t = s.Clamp(tNs);
  s.history = detail::PinHistory{};
  s.history.on = true;
  s.history.startNs = t;
  s.history.cap = maxChangesPerPin;
  for (unsigned p = 0; p < kPinCount; ++p) {
    detail::PinTrack& track = s.history.tracks[p];
    track.startValue = track.lastValue = ValueAt(s, static_cast<Pin>(p), t);
  }
}

void BoardCore::StopPinHistory() { state_->history = detail::PinHistory{}; }

PinListing BoardCore::ListPinChanges(Pin pin, std::uint64_t fromNs, std::uint64_t toNs, std::size_t maxChanges) const {
  const State& s = *state_;
  const detail::PinHistory& history = s.history;
  PinListing refused;
  refused.knownFromNs = history.on ? history.startNs : s.segmentNs;
  if (static_cast<unsigned>(pin) >= kPinCount || fromNs < refused.knownFromNs) return refused;
  toNs = std::max(toNs, fromNs);
  Collector listing(fromNs, toNs, maxChanges, refused.knownFromNs);
  auto add = [&listing](std::uint64_t ns, std::uint32_t value) { return listing.Add(ns, value); };
  auto countRest = [&](std::uint64_t from) {
    return Changes(s, pin, std::max(from, s.segmentNs), toNs, [](std::uint64_t, std::uint32_t) { return false; });
  };
  if (history.on) {
    const detail::PinTrack& track = history.tracks[static_cast<unsigned>(pin)];
    listing.Add(history.startNs, track.startValue);
    for (std::size_t i = 0; i < track.kept.size() && track.kept[i].timeNs <= toNs; ++i) {
      if (listing.Add(track.kept[i].timeNs, track.kept[i].value)) continue;
      // The listing is full: count the kept changes left in the span, and
      // everything after them.
      Rest rest{0, track.kept[i].timeNs};
      for (std::size_t j = i; j < track.kept.size(); ++j) rest.count += track.kept[j].timeNs <= toNs ? 1 : 0;
      if (track.firstDroppedNs <= toNs) rest.count += track.dropped;
      rest.count += countRest(s.segmentNs).count;
      listing.LeaveOut(rest);
      return listing.Take();
    }
    if (track.dropped > 0 && track.firstDroppedNs <= toNs) {
      // The history lost this pin's changes from here on.
      Rest rest = countRest(s.segmentNs);
      rest.count += track.dropped;
      rest.firstNs = track.firstDroppedNs;
      listing.LeaveOut(rest);
      return listing.Take();
    }
  }
  const std::uint64_t from = std::max(fromNs, s.segmentNs);
  listing.Add(from, ValueAt(s, pin, from));
  listing.LeaveOut(Changes(s, pin, from, toNs, add));
  return listing.Take();
}

TerminalCountOutlook BoardCore::TerminalCountAhead(unsigned counter, std::uint64_t tNs) const {
  TerminalCountOutlook outlook;
  if (counter >= kCounterCount) return outlook;
  const State& s = *state_;
  const detail::BlockPlan& plan = s.plan.blocks[counter];
  const Count edges = plan.qualifying->CountUpTo(s.ToInstant(s.Clamp(tNs)));
  const detail::BlockState state = plan.machine.StateAfter(edges);
  outlook.counting = state.armed && !state.stopped;
  const detail::IndexSeq& raising = plan.machine.StatusCounts();
  const Count index = raising.Nth(raising.CountUpTo(edges) + 1);
  if (index > 0) {
    const Instant at = plan.qualifying->Nth(index);
    if (at < kNever) outlook.nextNs = s.ToNsCeil(at);
  }
  return outlook;
}

}  // namespace qio::sim

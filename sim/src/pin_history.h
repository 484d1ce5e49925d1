// The pin history of the board model: while it is on, each configuration's
// pin changes are kept when the configuration ends (its segment's plan is
// about to be replaced), so that a span reaching back into earlier
// configurations can still be listed. Each pin keeps at most `cap` changes;
// later ones are only counted.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "qio/sim/BoardCore.h"

namespace qio::sim::detail {

struct PinTrack {
  std::uint32_t startValue = 0;  // at the history's start
  std::uint32_t lastValue = 0;   // after the last change seen, kept or not
  std::vector<PinChange> kept;   // the first `cap` changes
  std::uint64_t dropped = 0;
  std::uint64_t firstDroppedNs = UINT64_MAX;
};

struct PinHistory {
  bool on = false;
  std::uint64_t startNs = 0;
  std::size_t cap = 0;
  std::array<PinTrack, kPinCount> tracks{};
};

// Keeps the changes that the present segment showed up to tNs. Called as the
// segment ends, with its plan still in place.
void CaptureSegment(BoardCore::State& state, std::uint64_t tNs);

}  // namespace qio::sim::detail

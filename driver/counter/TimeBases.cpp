// Time-base tables of pulse output, frequency measurement and PWM
// measurement.
#include "TimeBases.h"

#include <algorithm>

#include "qio/protocol/board_registers.h"

namespace qio::driver::counter {

namespace {

using namespace qio::board::generator;
using qio::board::kBaseClockHz;

// Pulse output: first row whose interval (low, high] contains r; the last row
// also includes its lower bound. The bounds are single-precision constants
// because r is computed in single precision: T = 50 s gives r = 0.04f, which
// must land in the 2 kHz row.
struct PulseRow {
  float low;
  float high;
  bool lowInclusive;
  PulseTimeBase base;
};
constexpr PulseRow kPulseRows[] = {
    {500.0f, 2000.0f, false, {{0, 1}, static_cast<float>(kBaseClockHz)}},
    {100.0f, 500.0f, false, {{kSource10MHz, 2}, 5'000'000.0f}},
    {20.0f, 100.0f, false, {{kSource1MHz, 1}, 1'000'000.0f}},
    {5.0f, 20.0f, false, {{kSource1MHz, 5}, 200'000.0f}},
    {1.0f, 5.0f, false, {{kSource100kHz, 2}, 50'000.0f}},
    {0.2f, 1.0f, false, {{kSource10kHz, 1}, 10'000.0f}},
    {0.04f, 0.2f, true, {{kSource10kHz, 5}, 2'000.0f}},
};

// Medium range: rows by the 2 ms estimate, [low, high).
struct MediumRow {
  float low;
  float high;
  MediumRangeRow row;
};
constexpr MediumRow kMediumRows[] = {
    {2'000'000.0f, 6'000'000.0f, {10, {kSource1MHz, 1}, 10000}},
    {600'000.0f, 2'000'000.0f, {20, {kSource1MHz, 1}, 20000}},
    {120'000.0f, 600'000.0f, {100, {kSource100kHz, 1}, 10000}},
    {50'000.0f, 120'000.0f, {200, {kSource100kHz, 1}, 20000}},
    {10'000.0f, 50'000.0f, {1000, {kSource10kHz, 1}, 10000}},
    {5'000.0f, 10'000.0f, {2000, {kSource10kHz, 2}, 10000}},
};

// Fixed gate: rows by the gate length, [first, last] ms.
struct GateRow {
  std::uint16_t first;
  std::uint16_t last;
  FixedGateRow row;
};
constexpr GateRow kGateRows[] = {
    {1, 3, {kBaseClockHz, {0, 1}}},
    {4, 6, {10'000'000, {kSource10MHz, 1}}},
    {7, 30, {2'000'000, {kSource10MHz, 5}}},
    {31, 60, {1'000'000, {kSource1MHz, 1}}},
    {61, 300, {200'000, {kSource1MHz, 5}}},
    {301, 600, {100'000, {kSource100kHz, 1}}},
    {601, 1000, {50'000, {kSource100kHz, 2}}},
    {1001, 2000, {20'000, {kSource100kHz, 5}}},
};

constexpr std::uint32_t kMaxGateCount = 60000;

}  // namespace

float GeneratorSetting::Hz() const {
  if (!UsesGenerator()) return static_cast<float>(kBaseClockHz);
  // Sources 3 to 7 are the decades from 10 MHz down to 1 kHz.
  double source = 10'000'000.0;
  for (unsigned code = kSource10MHz; code < sourceCode && code < kSource1kHz; ++code) source /= 10.0;
  return static_cast<float>(source / divisor);
}

std::optional<PulseTimeBase> FindPulseTimeBase(float r) {
  for (const PulseRow& row : kPulseRows) {
    const bool aboveLow = row.lowInclusive ? r >= row.low : r > row.low;
    if (aboveLow && r <= row.high) return row.base;
  }
  return std::nullopt;  // also NaN and infinities
}

std::optional<PulsePlan> PlanPulse(float periodSeconds) {
  const float r = 2.0f / periodSeconds;
  const std::optional<PulseTimeBase> row = FindPulseTimeBase(r);
  if (!row) return std::nullopt;
  // Every row keeps C / r between 10000 and 50000, so the truncation fits.
  const float count = row->timeBaseHz / r;
  return PulsePlan{*row, static_cast<std::uint32_t>(count)};
}

std::optional<MediumRangeRow> FindMediumRangeRow(float estimateHz) {
  for (const MediumRow& row : kMediumRows) {
    if (estimateHz >= row.low && estimateHz < row.high) return row.row;
  }
  return std::nullopt;
}

std::optional<FixedGateRow> FindFixedGateRow(std::uint16_t gateMs) {
  for (const GateRow& row : kGateRows) {
    if (gateMs >= row.first && gateMs <= row.last) return row.row;
  }
  return std::nullopt;
}

std::uint16_t FixedGateCount(const FixedGateRow& row, std::uint16_t gateMs) {
  const std::uint32_t count = (row.timeBaseHz / 1000u) * gateMs;
  return static_cast<std::uint16_t>(std::min(count, kMaxGateCount));
}

PhaseTimeBase FindPhaseTimeBase(float signalHz) {
  if (signalHz <= 10.0f) return {{kSource1kHz, 1}, 1'000};
  if (signalHz <= 100.0f) return {{kSource10kHz, 1}, 10'000};
  if (signalHz <= 1000.0f) return {{kSource10MHz, 5}, 2'000'000};
  return {{0, 1}, kBaseClockHz};
}

}  // namespace qio::driver::counter

// The time-base tables of the counter functions, as pure lookups: which clock
// a measurement or an output runs on, with what divisor and count. The PWM
// search has its own file (PwmTiming.h).
#pragma once

#include <cstdint>
#include <optional>

namespace qio::driver::counter {

// A clock-generator setting; source code 0 means the 20 MHz base clock
// (no generator).
struct GeneratorSetting {
  unsigned sourceCode = 0;
  unsigned divisor = 1;
  bool UsesGenerator() const { return sourceCode != 0; }
  // The frequency this setting gives (the base clock without a generator).
  float Hz() const;
};

// ---- pulse output ----
// Row chosen for r = 2 / T (T the period in seconds, single precision):
// C is the effective time base; the half-period count is trunc(C / r).
struct PulseTimeBase {
  GeneratorSetting generator;
  float timeBaseHz;
};
std::optional<PulseTimeBase> FindPulseTimeBase(float r);
// r = 2 / T and the count of the row, both in single precision. Empty when
// the period is outside the table.
struct PulsePlan {
  PulseTimeBase row;
  std::uint32_t halfPeriodCount;
};
std::optional<PulsePlan> PlanPulse(float periodSeconds);

// ---- frequency measurement, medium range (after a 2 ms gate) ----
struct MediumRangeRow {
  std::uint16_t gateMs;
  GeneratorSetting generator;
  std::uint16_t gateCount;
};
std::optional<MediumRangeRow> FindMediumRangeRow(float estimateHz);

// ---- frequency measurement, fixed gate of g ms ----
struct FixedGateRow {
  std::uint32_t timeBaseHz;
  GeneratorSetting generator;
};
// g from 1 to 2000; empty otherwise.
std::optional<FixedGateRow> FindFixedGateRow(std::uint16_t gateMs);
// The gate length in time-base ticks: (time base / 1000) x g, at most 60000.
std::uint16_t FixedGateCount(const FixedGateRow& row, std::uint16_t gateMs);

// ---- PWM measurement: time base of the phase counts for a signal of f Hz
// (1 <= f <= 5 000 500).
struct PhaseTimeBase {
  GeneratorSetting generator;
  std::uint32_t timeBaseHz;
};
PhaseTimeBase FindPhaseTimeBase(float signalHz);

}  // namespace qio::driver::counter

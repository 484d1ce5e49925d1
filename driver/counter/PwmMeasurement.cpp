// PWM measurement: the durations of the high and the low phase of the signal
// on counter 0, counted by counters 0 and 1 on a time base chosen from a
// frequency estimate, reported in microseconds.
#include <cmath>

#include "CounterEngine.h"
#include "CounterOps.h"
#include "TimeBases.h"
#include "qio/platform/clock.h"
#include "qio/protocol/records.h"

namespace qio::driver {

using counter::FindPhaseTimeBase;
using counter::PhaseTimeBase;

namespace {

constexpr unsigned kCounter0 = 0;
constexpr unsigned kCounter1 = 1;
constexpr std::uint8_t kBothCounters = command::PairMask(kCounter0);
constexpr std::uint32_t kEstimateSleepMs = 2u * kShortGateMs + 10u;
constexpr std::uint16_t kEstimateMinEdges = 2;
constexpr std::uint16_t kEstimateMaxEdges = 60000;
constexpr std::uint32_t kEstimateTimeoutMs = 3000;
// Between two reads of a measurement still in progress.
constexpr std::uint32_t kEstimatePollMs = 10;
constexpr float kMinSignalHz = 1.0f;
constexpr float kMaxSignalHz = 5'000'500.0f;
constexpr auto kMaxFrequencyHz = static_cast<float>(kBaseClockHz);
constexpr std::uint32_t kPhaseSettleMs = 10;
constexpr std::uint32_t kShortPhaseSleepMs = 5;

constexpr std::size_t kFirstOffset = offsetof(protocol::PwmStartReadRecord, firstUs);
constexpr std::size_t kSecondOffset = offsetof(protocol::PwmStartReadRecord, secondUs);

// The measurement holds counters 0 and 1 from its start to its end; a reset
// of either ends it.
struct Held {
  Claim counter0;
  Claim counter1;
  bool Holds(const DeviceContext& ctx) const {
    return ClaimHoldsLocked(ctx, counter0) && ClaimHoldsLocked(ctx, counter1);
  }
};

template <typename Section>
bool WhileMeasuring(DeviceContext& ctx, const Held& held, Section&& section) {
  DeviceLock lock(ctx.lock);
  if (!held.Holds(ctx)) return false;
  section();
  return true;
}

// Edges of counter 0's input in a 2 ms gate of the base clock; false when a
// reset ended the measurement.
bool QuickEstimate(DeviceContext& ctx, const Held& held, float& estimate) {
  ctx.gateMs.store(kShortGateMs);
  if (!WhileMeasuring(ctx, held, [&] {
        WriteWord(ctx, offset::ModeRegister(kCounter0), mode::kSquareWave);
        WriteWord(ctx, offset::ModeRegister(kCounter1), mode::kGatedEdgeCount);
        WriteWord(ctx, offset::LoadRegister(kCounter0), kShortGateTicks);
        WriteWord(ctx, offset::LoadRegister(kCounter1), 1);
        WriteWord(ctx, offset::CommandRegister(kCounter0), command::kLoadAndArm);
        WriteWord(ctx, offset::CommandRegister(kCounter1), command::kLoadAndArm);
        WriteByte(ctx, offset::kCommandStrobe, kBothCounters);
      })) {
    return false;
  }
  platform::Sleep(kEstimateSleepMs);
  std::uint16_t edges = 0;
  if (!WhileMeasuring(ctx, held, [&] {
        WriteWord(ctx, offset::CommandRegister(kCounter1), command::kLatch);
        WriteWord(ctx, offset::kCommandStrobe, kBothCounters);
        edges = ReadWord(ctx, offset::HoldRegister(kCounter1));
      })) {
    return false;
  }
  if (edges < kEstimateMinEdges) {
    PublishFrequency(ctx, held.counter0, 0.0f);
  } else if (edges <= kEstimateMaxEdges) {
    const auto hertz = static_cast<float>((std::uint32_t{edges} * 1000u) / kShortGateMs);
    PublishFrequency(ctx, held.counter0, hertz);
    if (hertz > kMaxFrequencyHz) Fail(ctx, protocol::kDriverCodeOutOfRange);
  } else {
    ctx.frequencyResult[kCounter0].store(ctx.frequencyRaw[kCounter0].load());
  }
  estimate = ctx.frequencyResult[kCounter0].load();
  return true;
}

// Until the frequency measurement has a value (the slow time base needs about
// 1.3 s), for at most 3 s. The measurement runs with automatic ranging: a
// fixed gate left from an earlier start would give a gate-limited estimate.
float EstimateFrequency(DeviceContext& ctx, const Held& held, float estimate) {
  const std::uint32_t begin = platform::GetTickCount();
  while (estimate == 0.0f && platform::GetTickCount() - begin < kEstimateTimeoutMs) {
    RunMeasurementPass(ctx, held.counter0, 0);
    estimate = ctx.frequencyResult[kCounter0].load();
    if (estimate == 0.0f) platform::Sleep(kEstimatePollMs);
  }
  // The measurement threads work on counters 0 and 1 and generator 0: they
  // must be gone before the phases are counted there.
  StopMeasurementWorkers(ctx);
  return estimate;
}

struct Phases {
  float firstUs;
  float secondUs;
};

bool MeasurePhases(DeviceContext& ctx, const Held& held, const PhaseTimeBase& timeBase, float signalHz,
                   Phases& phases) {
  const std::uint16_t source =
      timeBase.generator.UsesGenerator() ? mode::GeneratorSource(kCounter0) : mode::Source(mode::kSourceBase);
  if (!WhileMeasuring(ctx, held, [&] {
        WriteByte(ctx, offset::CommandRegister(kCounter0), command::kDisarm);
        WriteByte(ctx, offset::CommandRegister(kCounter1), command::kDisarm);
        WriteByte(ctx, offset::CommandRegister(kCounter0), command::kReset);
        WriteByte(ctx, offset::CommandRegister(kCounter1), command::kReset);
      })) {
    return false;
  }
  if (!WhileMeasuring(ctx, held, [&] {
        WriteByte(ctx, offset::kCommandStrobe, kBothCounters);
        WriteWord(ctx, offset::ModeRegister(kCounter0), static_cast<std::uint16_t>(mode::kHighPhaseUp | source));
        WriteWord(ctx, offset::ModeRegister(kCounter1), static_cast<std::uint16_t>(mode::kLowPhaseUp | source));
        WriteWord(ctx, offset::LoadRegister(kCounter0), 1);
        WriteWord(ctx, offset::LoadRegister(kCounter1), 1);
        WriteByte(ctx, offset::CommandRegister(kCounter0), command::kLoadAndArm);
        WriteByte(ctx, offset::CommandRegister(kCounter1), command::kLoadAndArm);
        WriteByte(ctx, offset::kCommandStrobe, kBothCounters);
      })) {
    return false;
  }
  // Two periods and a margin: the first edge of each phase can come a whole
  // period after the arm.
  const float periodMs = 1000.0f / signalHz;
  platform::Sleep(periodMs >= 1.0f ? static_cast<std::uint32_t>(periodMs) * 2u + kPhaseSettleMs : kShortPhaseSleepMs);
  std::uint16_t first = 0;
  std::uint16_t second = 0;
  if (!WhileMeasuring(ctx, held, [&] {
        WriteByte(ctx, offset::CommandRegister(kCounter0), command::kLatch);
        WriteByte(ctx, offset::CommandRegister(kCounter1), command::kLatch);
        WriteByte(ctx, offset::kCommandStrobe, kBothCounters);
        first = ReadWord(ctx, offset::HoldRegister(kCounter0));
        second = ReadWord(ctx, offset::HoldRegister(kCounter1));
      })) {
    return false;
  }
  // A saturated phase counter means the phase did not fit: no valid pair.
  if (first == kFullCount || second == kFullCount) first = second = 0;
  const double usPerTick = 1'000'000.0 / timeBase.timeBaseHz;
  phases = {static_cast<float>(first * usPerTick), static_cast<float>(second * usPerTick)};
  return true;
}

void StorePhases(const Request& request, float firstUs, float secondUs) {
  StoreField(request.out, kFirstOffset, firstUs);
  StoreField(request.out, kSecondOffset, secondUs);
}

// Gives the counters back: stops both blocks, marks them idle and stops
// generator 0 (always written at the end of a measurement, idle when nothing
// needed it). A phase counter left armed with its load of 1 would go on
// reaching its terminal count at every tick: an interrupt storm for an
// enabled terminal-count event, and a block that the next function's first
// register writes set counting before it is ready.
void EndMeasurementLocked(DeviceContext& ctx, bool stopGenerator) {
  WriteByte(ctx, offset::CommandRegister(kCounter0), command::kDisarm);
  WriteByte(ctx, offset::CommandRegister(kCounter1), command::kDisarm);
  WriteByte(ctx, offset::kCommandStrobe, kBothCounters);
  if (stopGenerator || ctx.generatorState[kCounter0].load() != GeneratorState::kIdle) {
    StopGeneratorLocked(ctx, kCounter0);
  }
  ctx.counterFunction[kCounter0].store(CounterFunction::kIdle);
  ctx.counterFunction[kCounter1].store(CounterFunction::kIdle);
  WriteInterruptEnableLocked(ctx);
  // Its frequency estimate was a step of the measurement, not one of its own.
  ctx.frequencyView[kCounter0].stage.store(FrequencyStage::kNone);
}

// A reset ended the measurement: nothing valid was measured.
HandlerResult CutShort(DeviceContext& ctx, const Request& request) {
  StorePhases(request, 0.0f, 0.0f);
  return FailBusy(ctx);
}

}  // namespace

HandlerResult HandlePwmStartRead(DeviceContext& ctx, const Request& request) {
  const auto read = protocol::Load<protocol::PwmStartReadRecord>(request.in.data(), request.in.size());
  if (read.counter != kCounter0) return Fail(ctx, protocol::kDriverCodeBadCounter);
  Held held;
  {
    DeviceLock lock(ctx.lock);
    if (!BlockFreeLocked(ctx, kCounter0) || !BlockFreeLocked(ctx, kCounter1) ||
        ctx.generatorState[kCounter0].load() != GeneratorState::kIdle) {
      return FailBusy(ctx);
    }
    ctx.counterFunction[kCounter0].store(CounterFunction::kPwmMeasure);
    ctx.counterFunction[kCounter1].store(CounterFunction::kPwmMeasure);
    BlockReprogrammedLocked(ctx, kCounter0);
    BlockReprogrammedLocked(ctx, kCounter1);
    WriteInterruptEnableLocked(ctx);
    held = {CurrentClaim(ctx, kCounter0), CurrentClaim(ctx, kCounter1)};
  }

  float estimate = 0.0f;
  if (!QuickEstimate(ctx, held, estimate)) return CutShort(ctx, request);
  const float signalHz = EstimateFrequency(ctx, held, estimate);
  if (!WhileMeasuring(ctx, held, [&] { ctx.frequencyResult[kCounter0].store(signalHz); })) {
    return CutShort(ctx, request);
  }
  // Also NaN: no signal the phase counters can time.
  if (!(signalHz >= kMinSignalHz && signalHz <= kMaxSignalHz)) {
    WhileMeasuring(ctx, held, [&] { EndMeasurementLocked(ctx, false); });
    StorePhases(request, 0.0f, 0.0f);
    return Fail(ctx, protocol::kDriverCodeOutOfRange);
  }

  const PhaseTimeBase timeBase = FindPhaseTimeBase(signalHz);
  ctx.pwmTimebase[kCounter0].store(timeBase.timeBaseHz);
  if (timeBase.generator.UsesGenerator()) {
    bool taken = false;
    if (!WhileMeasuring(ctx, held, [&] {
          taken = TakeGeneratorLocked(ctx, kCounter0, GeneratorState::kPwmMeasure, timeBase.generator.divisor,
                                      generator::SourceBits(timeBase.generator.sourceCode));
          if (!taken) EndMeasurementLocked(ctx, false);
        })) {
      return CutShort(ctx, request);
    }
    if (!taken) return FailBusy(ctx);
  }

  Phases phases{};
  if (!MeasurePhases(ctx, held, timeBase, signalHz, phases)) return CutShort(ctx, request);
  ctx.pwmPhase0Us.store(phases.firstUs);
  ctx.pwmPhase1Us.store(phases.secondUs);
  if (!WhileMeasuring(ctx, held, [&] { EndMeasurementLocked(ctx, true); })) return CutShort(ctx, request);
  StorePhases(request, phases.firstUs, phases.secondUs);
  return 1;
}

}  // namespace qio::driver

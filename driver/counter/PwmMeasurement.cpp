// PWM measurement: the durations of the high and the low phase of the signal
// on counter 0, counted by counters 0 and 1 on a time base chosen from a
// frequency estimate, reported in microseconds.
#include <cmath>

#include "CounterEngine.h"
#include "CounterOps.h"
#include "CounterRegisters.h"
#include "TimeBases.h"
#include "qio/platform/clock.h"
#include "qio/protocol/records.h"

namespace qio::driver {

using namespace counter;

namespace {

constexpr unsigned kCounter0 = 0;
constexpr unsigned kCounter1 = 1;
constexpr std::uint8_t kBothCounters = 0x03;
constexpr std::uint16_t kEstimateGateMs = 2;
constexpr std::uint16_t kEstimateGateCount = 40000;
constexpr std::uint32_t kEstimateSleepMs = 14;
constexpr std::uint16_t kEstimateMinEdges = 2;
constexpr std::uint16_t kEstimateMaxEdges = 60000;
constexpr std::uint32_t kEstimateTimeoutMs = 3000;
// Between two reads of a measurement still in progress.
constexpr std::uint32_t kEstimatePollMs = 10;
constexpr float kMinSignalHz = 1.0f;
constexpr float kMaxSignalHz = 5'000'500.0f;
constexpr float kMaxFrequencyHz = 20'000'000.0f;
constexpr std::uint32_t kPhaseSettleMs = 10;
constexpr std::uint32_t kShortPhaseSleepMs = 5;
constexpr std::uint16_t kSaturated = 0xFFFF;

constexpr std::size_t kFirstOffset = offsetof(protocol::PwmStartReadRecord, firstUs);
constexpr std::size_t kSecondOffset = offsetof(protocol::PwmStartReadRecord, secondUs);

// Edges of counter 0's input in a 2 ms gate of the base clock.
float QuickEstimate(DeviceContext& ctx) {
  ctx.gateMs.store(kEstimateGateMs);
  {
    DeviceLock lock(ctx.lock);
    WriteWord(ctx, reg::ModeRegister(kCounter0), kModeSquareWave);
    WriteWord(ctx, reg::ModeRegister(kCounter1), kModeGatedEdgeCount);
    WriteWord(ctx, reg::LoadRegister(kCounter0), kEstimateGateCount);
    WriteWord(ctx, reg::LoadRegister(kCounter1), 1);
    WriteWord(ctx, reg::CommandRegister(kCounter0), kCmdLoadAndArm);
    WriteWord(ctx, reg::CommandRegister(kCounter1), kCmdLoadAndArm);
    WriteByte(ctx, reg::kCommandStrobe, kBothCounters);
  }
  platform::Sleep(kEstimateSleepMs);
  std::uint16_t edges;
  {
    DeviceLock lock(ctx.lock);
    WriteWord(ctx, reg::CommandRegister(kCounter1), kCmdLatch);
    WriteWord(ctx, reg::kCommandStrobe, kBothCounters);
    edges = ReadWord(ctx, reg::HoldRegister(kCounter1));
  }
  if (edges < kEstimateMinEdges) {
    PublishFrequency(ctx, kCounter0, 0.0f);
  } else if (edges <= kEstimateMaxEdges) {
    const auto hertz = static_cast<float>((std::uint32_t{edges} * 1000u) / kEstimateGateMs);
    PublishFrequency(ctx, kCounter0, hertz);
    if (hertz > kMaxFrequencyHz) Fail(ctx, protocol::kDriverCodeOutOfRange);
  } else {
    ctx.frequencyResult[kCounter0].store(ctx.frequencyRaw[kCounter0].load());
  }
  return ctx.frequencyResult[kCounter0].load();
}

// Until the frequency measurement has a value (the slow time base needs about
// 1.3 s), for at most 3 s. The measurement runs with automatic ranging: a
// fixed gate left from an earlier start would give a gate-limited estimate.
float EstimateFrequency(DeviceContext& ctx, float estimate) {
  const std::uint32_t begin = platform::GetTickCount();
  while (estimate == 0.0f && platform::GetTickCount() - begin < kEstimateTimeoutMs) {
    estimate = ReadFrequency(ctx, kCounter0, 0).hertz;
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

Phases MeasurePhases(DeviceContext& ctx, const PhaseTimeBase& timeBase, float signalHz) {
  const std::uint16_t source = timeBase.generator.UsesGenerator() ? GeneratorSource(kCounter0) : kSourceBaseClock;
  {
    DeviceLock lock(ctx.lock);
    WriteByte(ctx, reg::CommandRegister(kCounter0), kCmdDisarm);
    WriteByte(ctx, reg::CommandRegister(kCounter1), kCmdDisarm);
    WriteByte(ctx, reg::CommandRegister(kCounter0), kCmdReset);
    WriteByte(ctx, reg::CommandRegister(kCounter1), kCmdReset);
  }
  {
    DeviceLock lock(ctx.lock);
    WriteByte(ctx, reg::kCommandStrobe, kBothCounters);
    WriteWord(ctx, reg::ModeRegister(kCounter0), static_cast<std::uint16_t>(kModeHighPhaseUp | source));
    WriteWord(ctx, reg::ModeRegister(kCounter1), static_cast<std::uint16_t>(kModeLowPhaseUp | source));
    WriteWord(ctx, reg::LoadRegister(kCounter0), 1);
    WriteWord(ctx, reg::LoadRegister(kCounter1), 1);
    WriteByte(ctx, reg::CommandRegister(kCounter0), kCmdLoadAndArm);
    WriteByte(ctx, reg::CommandRegister(kCounter1), kCmdLoadAndArm);
    WriteByte(ctx, reg::kCommandStrobe, kBothCounters);
  }
  // Two periods and a margin: the first edge of each phase can come a whole
  // period after the arm.
  const float periodMs = 1000.0f / signalHz;
  platform::Sleep(periodMs >= 1.0f ? static_cast<std::uint32_t>(periodMs) * 2u + kPhaseSettleMs : kShortPhaseSleepMs);
  std::uint16_t first;
  std::uint16_t second;
  {
    DeviceLock lock(ctx.lock);
    WriteByte(ctx, reg::CommandRegister(kCounter0), kCmdLatch);
    WriteByte(ctx, reg::CommandRegister(kCounter1), kCmdLatch);
    WriteByte(ctx, reg::kCommandStrobe, kBothCounters);
    first = ReadWord(ctx, reg::HoldRegister(kCounter0));
    second = ReadWord(ctx, reg::HoldRegister(kCounter1));
  }
  // A saturated phase counter means the phase did not fit: no valid pair.
  if (first == kSaturated || second == kSaturated) first = second = 0;
  const double usPerTick = 1'000'000.0 / timeBase.timeBaseHz;
  return {static_cast<float>(first * usPerTick), static_cast<float>(second * usPerTick)};
}

void StorePhases(const Request& request, float firstUs, float secondUs) {
  StoreField(request.out, kFirstOffset, firstUs);
  StoreField(request.out, kSecondOffset, secondUs);
}

}  // namespace

HandlerResult HandlePwmStartRead(DeviceContext& ctx, const Request& request) {
  const auto read = protocol::Load<protocol::PwmStartReadRecord>(request.in.data(), request.in.size());
  if (read.counter != kCounter0) return Fail(ctx, protocol::kDriverCodeBadCounter);
  if (ctx.counterFunction[kCounter0].load() != kFunctionIdle || ctx.counterFunction[kCounter1].load() != kFunctionIdle ||
      ctx.generatorState[kCounter0].load() != kGeneratorIdle) {
    return FailBusy(ctx);
  }

  const float signalHz = EstimateFrequency(ctx, QuickEstimate(ctx));
  ctx.counterFunction[kCounter0].store(kFunctionIdle);
  ctx.counterFunction[kCounter1].store(kFunctionIdle);
  ctx.generatorState[kCounter0].store(kGeneratorIdle);
  ctx.frequencyResult[kCounter0].store(signalHz);
  // Also NaN: no signal the phase counters can time.
  if (!(signalHz >= kMinSignalHz && signalHz <= kMaxSignalHz)) {
    StorePhases(request, 0.0f, 0.0f);
    return Fail(ctx, protocol::kDriverCodeOutOfRange);
  }

  const PhaseTimeBase timeBase = FindPhaseTimeBase(signalHz);
  ctx.pwmTimebase[kCounter0].store(timeBase.timeBaseHz);
  if (timeBase.generator.UsesGenerator()) {
    if (ctx.generatorState[kCounter0].load() != kGeneratorIdle) return FailBusy(ctx);
    if (!StartClockGenerator(ctx, kCounter0, timeBase.generator.divisor,
                             GeneratorSourceBits(timeBase.generator.sourceCode))) {
      StopClockGenerator(ctx, kCounter0);
      return 0;
    }
    ctx.generatorState[kCounter0].fetch_or(kGeneratorPwmMeasure);
  }
  ctx.counterFunction[kCounter0].fetch_or(kFunctionPwmMeasure);
  ctx.counterFunction[kCounter1].fetch_or(kFunctionPwmMeasure);

  const Phases phases = MeasurePhases(ctx, timeBase, signalHz);
  ctx.pwmPhase0Us.store(phases.firstUs);
  ctx.pwmPhase1Us.store(phases.secondUs);
  StopClockGenerator(ctx, kCounter0);
  ctx.counterFunction[kCounter0].store(kFunctionIdle);
  ctx.counterFunction[kCounter1].store(kFunctionIdle);

  StorePhases(request, phases.firstUs, phases.secondUs);
  return 1;
}

}  // namespace qio::driver

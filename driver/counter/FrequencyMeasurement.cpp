// Frequency measurement of the signal on counter n, with its partner block
// n + 1: the automatic method (a 2 ms edge count that publishes, hands over to
// a long-gate thread, or switches to measuring the two signal phases) and the
// fixed-gate method. Results are single-precision hertz.
#include <cmath>

#include "CounterEngine.h"
#include "CounterOps.h"
#include "CounterRegisters.h"
#include "TimeBases.h"
#include "qio/protocol/records.h"

namespace qio::driver {

using namespace counter;

namespace {

using protocol::kDriverCodeBusy;
using protocol::kDriverCodeOutOfRange;

constexpr std::uint16_t kShortGateMs = 2;
constexpr std::uint16_t kShortGateCount = 40000;  // 2 ms of the base clock
constexpr std::uint32_t kGateSettleMs = 10;
constexpr std::uint16_t kPeriodMethodBelow = 10;   // edges in 2 ms: under 5 kHz
constexpr std::uint16_t kDirectFrom = 10000;       // edges in 2 ms: 5 MHz and up
constexpr std::uint16_t kCountLimit = 60000;
constexpr float kMaxFrequencyHz = 20'000'000.0f;
constexpr float kPeriodMethodLimitHz = 5000.0f;
constexpr float kBaseTimebaseHz = 20'000'000.0f;
constexpr float kSlowTimebaseHz = 100'000.0f;
constexpr unsigned kSlowTimebaseDivisor = 1;
// A pass of the period method that moves back to the edge count can move on
// again; real signals settle after one such step, a changing one is cut off.
constexpr unsigned kMaxPassDepth = 4;

std::uint32_t AutomaticPass(DeviceContext& ctx, unsigned n, unsigned depth);

// Mark a generator as the measurement's time base. The generator start has
// ORed in the frequency-output bits; keeping only the measurement's own mark
// lets the next pass take the generator again, while a real frequency output
// (0x0A) stays protected from every measurement.
void MarkMeasurementGenerator(DeviceContext& ctx, unsigned n) { ctx.generatorState[n].store(kGeneratorGate); }

std::uint32_t SwitchToSlowTimebase(DeviceContext& ctx, unsigned n) {
  ctx.lowFreqRestarts.fetch_add(1);
  {
    DeviceLock lock(ctx.lock);
    WriteWord(ctx, reg::ModeRegister(n), kModeHighPhaseDown | GeneratorSource(n));
    WriteWord(ctx, reg::ModeRegister(n + 1), kModeLowPhaseDown | GeneratorSource(n));
  }
  if (!StartClockGenerator(ctx, n, kSlowTimebaseDivisor, GeneratorSourceBits(kSource100kHz))) {
    return kDriverCodeBusy;
  }
  MarkMeasurementGenerator(ctx, n);
  ctx.lowFreqTimebase.store(kSlowTimebaseHz);
  ctx.measuredCounter.store(static_cast<std::uint16_t>(n));
  if (!WorkerRunning(ctx.lowFreqThread)) LaunchWorker(ctx, ctx.lowFreqThread, LowFreqThread);
  return kCodeOk;
}

std::uint32_t PeriodMethod(DeviceContext& ctx, unsigned n, unsigned depth) {
  ctx.lowFreqTimebase.store(kBaseTimebaseHz);
  {
    DeviceLock lock(ctx.lock);
    WriteWord(ctx, reg::ModeRegister(n), kModeHighPhaseDown);
    WriteWord(ctx, reg::ModeRegister(n + 1), kModeLowPhaseDown);
  }
  return PhasePass(ctx, n, depth);
}

std::uint32_t MediumRange(DeviceContext& ctx, unsigned n, std::uint16_t edges, std::uint16_t gateMs) {
  if (ctx.rangeDecisions.load() > 0 && ctx.generatorState[n].load() == kGeneratorGate) {
    ctx.generatorState[n].store(kGeneratorIdle);
  }
  ctx.rangeDecisions.fetch_add(1);
  const auto estimate = static_cast<float>((std::uint32_t{edges} * 1000u) / gateMs);
  ctx.frequencyRaw[n].store(estimate);

  const std::optional<MediumRangeRow> row = FindMediumRangeRow(estimate);
  if (!row) return kCodeOk;
  {
    DeviceLock lock(ctx.lock);
    const std::uint16_t mode = ReadWord(ctx, reg::ModeRegister(n));
    WriteWord(ctx, reg::ModeRegister(n), static_cast<std::uint16_t>(mode | GeneratorSource(n)));
  }
  if (!StartClockGenerator(ctx, n, row->generator.divisor, GeneratorSourceBits(row->generator.sourceCode))) {
    return kDriverCodeBusy;
  }
  MarkMeasurementGenerator(ctx, n);
  ctx.gateMs.store(row->gateMs);
  ctx.gateCount.store(row->gateCount);
  ctx.measuredCounter.store(static_cast<std::uint16_t>(n));

  if (row->gateMs == 1000) {
    if (!WorkerRunning(ctx.longGate1sThread) && ctx.longGate1sEnded.load() == 0) {
      LaunchWorker(ctx, ctx.longGate1sThread, LongGate1sThread);
    }
  } else if (row->gateMs == 2000) {
    if (!WorkerRunning(ctx.longGate2sThread) && ctx.longGate2sEnded.load() == 0) {
      LaunchWorker(ctx, ctx.longGate2sThread, LongGate2sThread);
    }
  } else {
    PublishFrequency(ctx, n, estimate);  // the 2 ms estimate is the result
  }
  return kCodeOk;
}

std::uint32_t AutomaticPass(DeviceContext& ctx, unsigned n, unsigned depth) {
  if (ctx.stopAutoRange.load() == 1 || depth > kMaxPassDepth) return kCodeOk;
  ctx.pairGateInUse[n / 2].store(1);
  {
    DeviceLock lock(ctx.lock);
    WriteWord(ctx, reg::ModeRegister(n), kModeSquareWave);
    WriteWord(ctx, reg::ModeRegister(n + 1), kModeGatedEdgeCount);
  }

  // While a long gate runs it owns the pair; after it ended, start over at 2 ms.
  if (SlotOccupied(ctx.longGate1sThread)) return kCodeOk;
  if (ctx.longGate1sEnded.exchange(0) != 0) ctx.gateMs.store(kShortGateMs);
  if (SlotOccupied(ctx.longGate2sThread)) return kCodeOk;
  if (ctx.longGate2sEnded.exchange(0) != 0) ctx.gateMs.store(kShortGateMs);
  const std::uint16_t gateMs = ctx.gateMs.load();

  {
    DeviceLock lock(ctx.lock);
    WriteWord(ctx, reg::LoadRegister(n), kShortGateCount);
    WriteWord(ctx, reg::LoadRegister(n + 1), 1);
    WriteWord(ctx, reg::CommandRegister(n), kCmdLoadAndArm);
    WriteWord(ctx, reg::CommandRegister(n + 1), kCmdLoadAndArm);
    WriteByte(ctx, reg::kCommandStrobe, PairMask(n));
  }
  if (!MeasurementSleep(ctx, 2u * gateMs + kGateSettleMs)) return kCodeOk;
  std::uint16_t edges;
  {
    DeviceLock lock(ctx.lock);
    WriteByte(ctx, reg::CommandRegister(n + 1), kCmdLatch);
    WriteByte(ctx, reg::kCommandStrobe, PairMask(n));
    edges = ReadWord(ctx, reg::HoldRegister(n + 1));
  }

  if (edges < kPeriodMethodBelow) return PeriodMethod(ctx, n, depth);
  if (edges < kDirectFrom) return MediumRange(ctx, n, edges, gateMs);
  if (edges > kCountLimit) return kDriverCodeOutOfRange;  // nothing is stored
  const float hertz = static_cast<float>(edges) * 1000.0f / static_cast<float>(gateMs);
  PublishFrequency(ctx, n, hertz);
  return hertz > kMaxFrequencyHz ? kDriverCodeOutOfRange : kCodeOk;
}

std::uint32_t FixedGateStart(DeviceContext& ctx, unsigned n, std::uint16_t gateMs) {
  const std::optional<FixedGateRow> row = FindFixedGateRow(gateMs);
  if (!row) return kDriverCodeOutOfRange;  // 0 or above 2000 ms
  ctx.measuredCounter.store(static_cast<std::uint16_t>(n));
  std::uint16_t mode = kModeSquareWave;
  if (row->generator.UsesGenerator()) {
    if (!StartClockGenerator(ctx, n, row->generator.divisor, GeneratorSourceBits(row->generator.sourceCode))) {
      return kDriverCodeBusy;
    }
    MarkMeasurementGenerator(ctx, n);
    mode = static_cast<std::uint16_t>(mode | GeneratorSource(n));
  }
  {
    DeviceLock lock(ctx.lock);
    WriteWord(ctx, reg::ModeRegister(n), mode);
    WriteWord(ctx, reg::ModeRegister(n + 1), kModeGatedEdgeCount);
    WriteWord(ctx, reg::LoadRegister(n), FixedGateCount(*row, gateMs));
    WriteWord(ctx, reg::LoadRegister(n + 1), 1);
  }
  LaunchWorker(ctx, ctx.fixedGateThread, FixedGateThread);
  return kCodeOk;
}

}  // namespace

// ---- the period method's phase pass ----

namespace {

struct PhaseCounts {
  std::uint16_t high;  // HoldRegister n: 0xFFFF minus the ticks of the high phase
  std::uint16_t low;   // HoldRegister n + 1: the same for the low phase
  bool operator==(const PhaseCounts&) const = default;
};

PhaseCounts LatchPhases(DeviceContext& ctx, unsigned n) {
  DeviceLock lock(ctx.lock);
  WriteByte(ctx, reg::CommandRegister(n), kCmdLatch);
  WriteByte(ctx, reg::CommandRegister(n + 1), kCmdLatch);
  WriteByte(ctx, reg::kCommandStrobe, PairMask(n));
  return {ReadWord(ctx, reg::HoldRegister(n)), ReadWord(ctx, reg::HoldRegister(n + 1))};
}

constexpr std::uint32_t kBasePassMs = 15;
constexpr std::uint32_t kSlowPassMs = 1300;
// On the slow time base a phase of a signal just above 1 Hz may still be
// counting after 1300 ms (its first edge can come a whole period after the
// arm). A second latch shows whether a block still counts; a phase that fits
// 16 bits at 100 kHz lasts at most 655 ms, so 700 ms more always completes it.
constexpr std::uint32_t kStillCountingProbeMs = 10;
constexpr std::uint32_t kCompletionMs = 700;
constexpr std::uint16_t kNotStarted = 0xFFFF;

}  // namespace

std::uint32_t PhasePass(DeviceContext& ctx, unsigned n, unsigned depth) {
  if (StopRequested(ctx)) return kCodeOk;
  const float timebase = ctx.lowFreqTimebase.load();
  const bool slow = timebase != kBaseTimebaseHz;
  {
    DeviceLock lock(ctx.lock);
    WriteWord(ctx, reg::LoadRegister(n), 0xFFFF);
    WriteWord(ctx, reg::LoadRegister(n + 1), 0xFFFF);
    WriteWord(ctx, reg::CommandRegister(n), kCmdLoadAndArm);
    WriteWord(ctx, reg::CommandRegister(n + 1), kCmdLoadAndArm);
    WriteByte(ctx, reg::kCommandStrobe, PairMask(n));
  }
  if (!MeasurementSleep(ctx, slow ? kSlowPassMs : kBasePassMs)) return kCodeOk;
  PhaseCounts counts = LatchPhases(ctx, n);
  if (slow) {
    if (!MeasurementSleep(ctx, kStillCountingProbeMs)) return kCodeOk;
    PhaseCounts again = LatchPhases(ctx, n);
    const bool oneStarted = (again.high == kNotStarted) != (again.low == kNotStarted);
    if (!(again == counts) || oneStarted) {
      if (!MeasurementSleep(ctx, kCompletionMs)) return kCodeOk;
      again = LatchPhases(ctx, n);
    }
    counts = again;
  }

  const auto a = static_cast<std::uint16_t>(0xFFFF - counts.high);
  const auto b = static_cast<std::uint16_t>(0xFFFF - counts.low);
  if (a == 0 || a == 0xFFFF || b == 0 || b == 0xFFFF) {
    // No complete phase: on the slow time base that is no signal at all.
    if (slow && ctx.lowFreqRestarts.load() == 1) {
      PublishFrequency(ctx, n, 0.0f);
      ctx.lowFreqRestarts.store(0);
      return kCodeOk;
    }
    return SwitchToSlowTimebase(ctx, n);
  }
  const float hertz = timebase / static_cast<float>(std::uint32_t{a} + b);
  PublishFrequency(ctx, n, hertz);
  if (hertz >= kPeriodMethodLimitHz) {
    ctx.gateMs.store(kShortGateMs);
    return AutomaticPass(ctx, n, depth + 1);
  }
  return kCodeOk;
}

// ---- start and read ----

void PublishFrequency(DeviceContext& ctx, unsigned n, float hertz, bool overRange) {
  ctx.frequencyRaw[n].store(hertz);
  ctx.frequencyOverRange[n].store(overRange ? 1 : 0);
  ctx.frequencyResult[n].store(hertz);
}

bool GeneratorHeldByMeasurement(const DeviceContext& ctx, unsigned n) {
  const std::uint16_t state = ctx.generatorState[n].load();
  return (state & kGeneratorGate) != 0 && state != kGeneratorFreqOut;
}

std::uint32_t StartFrequencyMeasurement(DeviceContext& ctx, unsigned n, std::uint16_t method) {
  const std::int16_t function = ctx.counterFunction[n].load();
  if (function != kFunctionIdle && function != kFunctionFrequency) {
    FailBusy(ctx);
    return kDriverCodeBusy;
  }
  CollectFinishedWorkers(ctx);
  if (AnyWorkerSlotOccupied(ctx)) return kCodeOk;  // a measurement is in progress

  ctx.lowFreqRestarts.store(0);
  ctx.gateCount.store(kShortGateCount);
  ctx.gateMs.store(kShortGateMs);
  ctx.stopAutoRange.store(0);
  ctx.stopLongGate.store(0);
  ctx.measureMethod.store(method);
  const std::uint32_t code = method == 0 ? AutomaticPass(ctx, n, 0) : FixedGateStart(ctx, n, method);
  if (code != kCodeOk) return code;
  ctx.counterFunction[n].store(kFunctionFrequency);
  // A frequency output keeps its generator; otherwise the measurement owns it.
  if (ctx.generatorState[n].load() != kGeneratorFreqOut) ctx.generatorState[n].store(kGeneratorGate);
  return kCodeOk;
}

FrequencyReading ReadFrequency(DeviceContext& ctx, unsigned n, std::uint16_t method) {
  std::uint32_t code = StartFrequencyMeasurement(ctx, n, method);
  const float hertz = ctx.frequencyResult[n].load();
  if (code == kCodeOk && (hertz > kMaxFrequencyHz || ctx.frequencyOverRange[n].load() != 0)) {
    code = kDriverCodeOutOfRange;
  }
  return {code, hertz};
}

HandlerResult HandleCounterFreqStart(DeviceContext& ctx, const Request& request) {
  const auto start = protocol::Load<protocol::CounterFreqStartRequest>(request.in.data(), request.in.size());
  if (!ValidCounter(start.counter)) return Fail(ctx, protocol::kDriverCodeBadCounter);
  const std::uint32_t code = StartFrequencyMeasurement(ctx, start.counter, start.method);
  return code == kCodeOk ? 1 : Fail(ctx, code);
}

HandlerResult HandleCounterFreqRead(DeviceContext& ctx, const Request& request) {
  const auto read = protocol::Load<protocol::CounterFreqReadRecord>(request.in.data(), request.in.size());
  if (!ValidCounter(read.counter)) return Fail(ctx, protocol::kDriverCodeBadCounter);
  const FrequencyReading reading = ReadFrequency(ctx, read.counter, ctx.measureMethod.load());
  // The value goes out also when the read fails (over range, or busy).
  StoreField(request.out, offsetof(protocol::CounterFreqReadRecord, frequency), reading.hertz);
  return reading.code == kCodeOk ? 1 : Fail(ctx, reading.code);
}

}  // namespace qio::driver

// Frequency measurement of the signal on counter n, with its partner block
// n + 1: the automatic method (a 2 ms edge count that publishes, hands over to
// a long-gate thread, or switches to measuring the two signal phases) and the
// fixed-gate method. Results are single-precision hertz.
//
// Every register sequence of a pass runs under the device lock while the
// measurement's claim holds, so a pass that a reset has ended (the pass runs
// on a request thread, which the reset does not wait for) never writes the
// board, starts a thread or publishes a value again.
#include <cmath>

#include "CounterEngine.h"
#include "CounterOps.h"
#include "TimeBases.h"
#include "qio/protocol/records.h"

namespace qio::driver {

namespace {

using counter::FindFixedGateRow;
using counter::FindMediumRangeRow;
using counter::FixedGateCount;
using counter::FixedGateRow;
using counter::GeneratorSetting;
using counter::MediumRangeRow;
using protocol::kDriverCodeBusy;
using protocol::kDriverCodeOutOfRange;

constexpr std::uint32_t kGateSettleMs = 10;
constexpr std::uint16_t kPeriodMethodBelow = 10;   // edges in 2 ms: under 5 kHz
constexpr std::uint16_t kDirectFrom = 10000;       // edges in 2 ms: 5 MHz and up
constexpr std::uint16_t kCountLimit = 60000;
constexpr auto kMaxFrequencyHz = static_cast<float>(kBaseClockHz);  // the read's upper limit
constexpr float kPeriodMethodLimitHz = 5000.0f;
constexpr auto kBaseTimebaseHz = static_cast<float>(kBaseClockHz);
constexpr float kSlowTimebaseHz = 100'000.0f;
constexpr unsigned kSlowTimebaseDivisor = 1;
// A pass of the period method that moves back to the edge count can move on
// again; real signals settle after one such step, a changing one is cut off.
constexpr unsigned kMaxPassDepth = 4;
// A pass that a reset ended: the start it belongs to reports success.
constexpr std::uint32_t kCodeEnded = 0xFFFF'FFFF;

std::uint32_t AutomaticPass(DeviceContext& ctx, const Claim& claim, unsigned depth);

// Records what the measurement on counter n now does, for the state view
// (the caller holds the lock, with the claim).
void SetStageLocked(DeviceContext& ctx, unsigned n, FrequencyStage stage, std::uint16_t gateMs,
                    const GeneratorSetting& timeBase) {
  FrequencyView& view = ctx.frequencyView[n];
  view.stage.store(stage);
  view.gateMs.store(gateMs);
  view.timebaseHz.store(timeBase.Hz());
  view.gateClock.store(timeBase.UsesGenerator()
                           ? generator::Word(timeBase.divisor, generator::SourceBits(timeBase.sourceCode))
                           : std::uint16_t{0});
}

constexpr GeneratorSetting kBaseClock{};
constexpr GeneratorSetting kSlowTimebase{generator::kSource100kHz, kSlowTimebaseDivisor};

FrequencyStage StageOfGate(std::uint16_t gateMs) {
  if (gateMs == 1000) return FrequencyStage::kLongGate1s;
  if (gateMs == 2000) return FrequencyStage::kLongGate2s;
  return FrequencyStage::kMediumRange;
}

// Launches a measurement thread for the claim; an ended thread left in the
// slot is released after the lock.
void Launch(DeviceContext& ctx, WorkerSlot& slot, platform::ThreadProc proc, const Claim& claim) {
  Handle ended = platform::kNullHandle;
  {
    DeviceLock lock(ctx.lock);
    LaunchWorkerLocked(ctx, slot, proc, claim, ended);
  }
  if (ended != platform::kNullHandle) {
    EndedThreads release;
    release.Add(ended);
    ReleaseThreads(release);
  }
}

// Takes generator n as the measurement's time base; kCodeEnded after a reset.
std::uint32_t TakeGateClock(DeviceContext& ctx, const Claim& claim, const GeneratorSetting& setting) {
  std::uint32_t code = kCodeEnded;
  WhileHeld(ctx, claim, [&] {
    const bool taken = TakeGeneratorLocked(ctx, claim.counter, GeneratorState::kGate, setting.divisor,
                                           generator::SourceBits(setting.sourceCode));
    code = taken ? kCodeOk : kDriverCodeBusy;
  });
  return code;
}

std::uint32_t SwitchToSlowTimebase(DeviceContext& ctx, const Claim& claim) {
  const unsigned n = claim.counter;
  ctx.lowFreqRestarts.fetch_add(1);
  if (!WhileHeld(ctx, claim, [&] {
        WriteWord(ctx, offset::ModeRegister(n), mode::kHighPhaseDown | mode::GeneratorSource(n));
        WriteWord(ctx, offset::ModeRegister(n + 1), mode::kLowPhaseDown | mode::GeneratorSource(n));
        SetStageLocked(ctx, n, FrequencyStage::kPeriodSlow, 0, kSlowTimebase);
      })) {
    return kCodeEnded;
  }
  const std::uint32_t code = TakeGateClock(ctx, claim, kSlowTimebase);
  if (code != kCodeOk) return code;
  ctx.lowFreqTimebase.store(kSlowTimebaseHz);
  ctx.measuredCounter.store(static_cast<std::uint16_t>(n));
  Launch(ctx, ctx.lowFreqThread, LowFreqThread, claim);
  return kCodeOk;
}

std::uint32_t PeriodMethod(DeviceContext& ctx, const Claim& claim, unsigned depth) {
  const unsigned n = claim.counter;
  ctx.lowFreqTimebase.store(kBaseTimebaseHz);
  if (!WhileHeld(ctx, claim, [&] {
        WriteWord(ctx, offset::ModeRegister(n), mode::kHighPhaseDown);
        WriteWord(ctx, offset::ModeRegister(n + 1), mode::kLowPhaseDown);
        SetStageLocked(ctx, n, FrequencyStage::kPeriodBase, 0, kBaseClock);
      })) {
    return kCodeEnded;
  }
  return PhasePass(ctx, claim, depth);
}

std::uint32_t MediumRange(DeviceContext& ctx, const Claim& claim, std::uint16_t edges, std::uint16_t gateMs) {
  const unsigned n = claim.counter;
  const auto estimate = static_cast<float>((std::uint32_t{edges} * 1000u) / gateMs);
  const std::optional<MediumRangeRow> row = FindMediumRangeRow(estimate);
  bool held = WhileHeld(ctx, claim, [&] {
    if (ctx.rangeDecisions.load() > 0 && ctx.generatorState[n].load() == GeneratorState::kGate) {
      ctx.generatorState[n].store(GeneratorState::kIdle);
    }
    ctx.rangeDecisions.fetch_add(1);
    ctx.frequencyRaw[n].store(estimate);
    if (!row) return;
    SetStageLocked(ctx, n, StageOfGate(row->gateMs), row->gateMs, row->generator);
    // Counter n now counts the generator's output.
    const std::uint16_t word = ReadWord(ctx, offset::ModeRegister(n));
    WriteWord(ctx, offset::ModeRegister(n), static_cast<std::uint16_t>(word | mode::GeneratorSource(n)));
  });
  if (!held) return kCodeEnded;
  if (!row) return kCodeOk;
  const std::uint32_t code = TakeGateClock(ctx, claim, row->generator);
  if (code != kCodeOk) return code;
  ctx.gateMs.store(row->gateMs);
  ctx.gateCount.store(row->gateCount);
  ctx.measuredCounter.store(static_cast<std::uint16_t>(n));

  if (row->gateMs == 1000) {
    if (!WorkerRunning(ctx.longGate1sThread) && ctx.longGate1sEnded.load() == 0) {
      Launch(ctx, ctx.longGate1sThread, LongGate1sThread, claim);
    }
  } else if (row->gateMs == 2000) {
    if (!WorkerRunning(ctx.longGate2sThread) && ctx.longGate2sEnded.load() == 0) {
      Launch(ctx, ctx.longGate2sThread, LongGate2sThread, claim);
    }
  } else {
    PublishFrequency(ctx, claim, estimate);  // the 2 ms estimate is the result
  }
  return kCodeOk;
}

std::uint32_t AutomaticPass(DeviceContext& ctx, const Claim& claim, unsigned depth) {
  const unsigned n = claim.counter;
  if (ctx.stopAutoRange.load() == 1 || depth > kMaxPassDepth) return kCodeOk;
  if (!WhileHeld(ctx, claim, [&] {
        WriteWord(ctx, offset::ModeRegister(n), mode::kSquareWave);
        WriteWord(ctx, offset::ModeRegister(n + 1), mode::kGatedEdgeCount);
      })) {
    return kCodeEnded;
  }

  // While a long gate runs it owns the pair; after it ended, start over at 2 ms.
  if (SlotOccupied(ctx.longGate1sThread)) return kCodeOk;
  if (ctx.longGate1sEnded.exchange(0) != 0) ctx.gateMs.store(kShortGateMs);
  if (SlotOccupied(ctx.longGate2sThread)) return kCodeOk;
  if (ctx.longGate2sEnded.exchange(0) != 0) ctx.gateMs.store(kShortGateMs);
  const std::uint16_t gateMs = ctx.gateMs.load();

  if (!WhileHeld(ctx, claim, [&] {
        WriteWord(ctx, offset::LoadRegister(n), kShortGateTicks);
        WriteWord(ctx, offset::LoadRegister(n + 1), 1);
        WriteWord(ctx, offset::CommandRegister(n), command::kLoadAndArm);
        WriteWord(ctx, offset::CommandRegister(n + 1), command::kLoadAndArm);
        WriteByte(ctx, offset::kCommandStrobe, command::PairMask(n));
      })) {
    return kCodeEnded;
  }
  if (!MeasurementSleep(ctx, 2u * gateMs + kGateSettleMs)) return kCodeOk;
  std::uint16_t edges = 0;
  if (!WhileHeld(ctx, claim, [&] {
        WriteByte(ctx, offset::CommandRegister(n + 1), command::kLatch);
        WriteByte(ctx, offset::kCommandStrobe, command::PairMask(n));
        edges = ReadWord(ctx, offset::HoldRegister(n + 1));
        ctx.frequencyView[n].gateEdges.store(edges);
        if (edges >= kDirectFrom) SetStageLocked(ctx, n, FrequencyStage::kGateEdges, gateMs, kBaseClock);
      })) {
    return kCodeEnded;
  }

  if (edges < kPeriodMethodBelow) return PeriodMethod(ctx, claim, depth);
  if (edges < kDirectFrom) return MediumRange(ctx, claim, edges, gateMs);
  if (edges > kCountLimit) return kDriverCodeOutOfRange;  // nothing is stored
  const float hertz = static_cast<float>(edges) * 1000.0f / static_cast<float>(gateMs);
  PublishFrequency(ctx, claim, hertz);
  return hertz > kMaxFrequencyHz ? kDriverCodeOutOfRange : kCodeOk;
}

std::uint32_t FixedGateStart(DeviceContext& ctx, const Claim& claim, std::uint16_t gateMs) {
  const unsigned n = claim.counter;
  const std::optional<FixedGateRow> row = FindFixedGateRow(gateMs);
  if (!row) return kDriverCodeOutOfRange;  // 0 or above 2000 ms
  ctx.measuredCounter.store(static_cast<std::uint16_t>(n));
  std::uint16_t word = mode::kSquareWave;
  if (row->generator.UsesGenerator()) {
    const std::uint32_t code = TakeGateClock(ctx, claim, row->generator);
    if (code != kCodeOk) return code;
    word = static_cast<std::uint16_t>(word | mode::GeneratorSource(n));
  }
  if (!WhileHeld(ctx, claim, [&] {
        WriteWord(ctx, offset::ModeRegister(n), word);
        WriteWord(ctx, offset::ModeRegister(n + 1), mode::kGatedEdgeCount);
        WriteWord(ctx, offset::LoadRegister(n), FixedGateCount(*row, gateMs));
        WriteWord(ctx, offset::LoadRegister(n + 1), 1);
        SetStageLocked(ctx, n, FrequencyStage::kFixedGate, gateMs, row->generator);
      })) {
    return kCodeEnded;
  }
  Launch(ctx, ctx.fixedGateThread, FixedGateThread, claim);
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

bool LatchPhases(DeviceContext& ctx, const Claim& claim, PhaseCounts& counts) {
  const unsigned n = claim.counter;
  return WhileHeld(ctx, claim, [&] {
    WriteByte(ctx, offset::CommandRegister(n), command::kLatch);
    WriteByte(ctx, offset::CommandRegister(n + 1), command::kLatch);
    WriteByte(ctx, offset::kCommandStrobe, command::PairMask(n));
    counts = {ReadWord(ctx, offset::HoldRegister(n)), ReadWord(ctx, offset::HoldRegister(n + 1))};
    FrequencyView& view = ctx.frequencyView[n];
    view.highTicks.store(static_cast<std::uint16_t>(kFullCount - counts.high));
    view.lowTicks.store(static_cast<std::uint16_t>(kFullCount - counts.low));
  });
}

constexpr std::uint32_t kBasePassMs = 15;
constexpr std::uint32_t kSlowPassMs = 1300;
// On the slow time base a phase of a signal just above 1 Hz may still be
// counting after 1300 ms (its first edge can come a whole period after the
// arm). A second latch shows whether a block still counts; a phase that fits
// 16 bits at 100 kHz lasts at most 655 ms, so 700 ms more always completes it.
constexpr std::uint32_t kStillCountingProbeMs = 10;
constexpr std::uint32_t kCompletionMs = 700;
constexpr std::uint16_t kNotStarted = kFullCount;

}  // namespace

std::uint32_t PhasePass(DeviceContext& ctx, const Claim& claim, unsigned depth) {
  const unsigned n = claim.counter;
  if (StopRequested(ctx)) return kCodeOk;
  const float timebase = ctx.lowFreqTimebase.load();
  const bool slow = timebase != kBaseTimebaseHz;
  if (!WhileHeld(ctx, claim, [&] {
        WriteWord(ctx, offset::LoadRegister(n), kFullCount);
        WriteWord(ctx, offset::LoadRegister(n + 1), kFullCount);
        WriteWord(ctx, offset::CommandRegister(n), command::kLoadAndArm);
        WriteWord(ctx, offset::CommandRegister(n + 1), command::kLoadAndArm);
        WriteByte(ctx, offset::kCommandStrobe, command::PairMask(n));
      })) {
    return kCodeEnded;
  }
  if (!MeasurementSleep(ctx, slow ? kSlowPassMs : kBasePassMs)) return kCodeOk;
  PhaseCounts counts{};
  if (!LatchPhases(ctx, claim, counts)) return kCodeEnded;
  if (slow) {
    if (!MeasurementSleep(ctx, kStillCountingProbeMs)) return kCodeOk;
    PhaseCounts again{};
    if (!LatchPhases(ctx, claim, again)) return kCodeEnded;
    const bool oneStarted = (again.high == kNotStarted) != (again.low == kNotStarted);
    if (!(again == counts) || oneStarted) {
      if (!MeasurementSleep(ctx, kCompletionMs)) return kCodeOk;
      if (!LatchPhases(ctx, claim, again)) return kCodeEnded;
    }
    counts = again;
  }

  const auto a = static_cast<std::uint16_t>(kFullCount - counts.high);
  const auto b = static_cast<std::uint16_t>(kFullCount - counts.low);
  if (a == 0 || a == kFullCount || b == 0 || b == kFullCount) {
    // No complete phase: on the slow time base that is no signal at all.
    if (slow && ctx.lowFreqRestarts.load() == 1) {
      PublishFrequency(ctx, claim, 0.0f);
      ctx.lowFreqRestarts.store(0);
      return kCodeOk;
    }
    return SwitchToSlowTimebase(ctx, claim);
  }
  const float hertz = timebase / static_cast<float>(std::uint32_t{a} + b);
  PublishFrequency(ctx, claim, hertz);
  if (hertz >= kPeriodMethodLimitHz) {
    ctx.gateMs.store(kShortGateMs);
    return AutomaticPass(ctx, claim, depth + 1);
  }
  return kCodeOk;
}

// ---- publishing ----

void PublishFrequency(DeviceContext& ctx, const Claim& claim, float hertz, bool overRange) {
  const unsigned n = claim.counter;
  WhileHeld(ctx, claim, [&] {
    ctx.frequencyRaw[n].store(hertz);
    ctx.frequencyOverRange[n].store(overRange ? 1 : 0);
    ctx.frequencyResult[n].store(hertz);
    ctx.frequencyView[n].sequence.fetch_add(1);
    ctx.frequencyView[n].published.store(1);
  });
}

void ClearFrequencyResult(DeviceContext& ctx, unsigned n) {
  ctx.frequencyRaw[n].store(0.0f);
  ctx.frequencyOverRange[n].store(0);
  ctx.frequencyResult[n].store(0.0f);
  ctx.frequencyView[n].published.store(0);
  ctx.frequencyView[n].stage.store(FrequencyStage::kNone);
}

// ---- start and read ----

std::uint32_t RunMeasurementPass(DeviceContext& ctx, const Claim& claim, std::uint16_t method) {
  const unsigned n = claim.counter;
  EndedThreads ended;
  bool inProgress = false;
  {
    DeviceLock lock(ctx.lock);
    if (!ClaimHoldsLocked(ctx, claim)) return kCodeOk;
    CollectFinishedWorkersLocked(ctx, ended);
    // A thread, or a pass on another request thread, is measuring already.
    inProgress = AnyWorkerSlotOccupied(ctx) || ctx.passEpoch[n].load() == claim.epoch + 1;
    if (!inProgress) {
      ctx.passEpoch[n].store(claim.epoch + 1);
      ctx.lowFreqRestarts.store(0);
      ctx.gateCount.store(kShortGateTicks);
      ctx.gateMs.store(kShortGateMs);
      ctx.stopAutoRange.store(0);
      ctx.stopLongGate.store(0);
      ctx.measureMethod.store(method);
    }
  }
  ReleaseThreads(ended);
  if (inProgress) return kCodeOk;

  std::uint32_t code = method == 0 ? AutomaticPass(ctx, claim, 0) : FixedGateStart(ctx, claim, method);
  std::uint32_t mine = claim.epoch + 1;
  ctx.passEpoch[n].compare_exchange_strong(mine, 0);
  return code;
}

std::uint32_t StartFrequencyMeasurement(DeviceContext& ctx, unsigned n, std::uint16_t method, bool clearResult) {
  Claim claim;
  bool fresh = false;
  {
    DeviceLock lock(ctx.lock);
    // A reset of the counter is under way: its measurement is ending, and a
    // start that joined it now would run on after the reset marks it idle.
    if (ctx.resetsUnderWay[n].load() != 0) return kDriverCodeBusy;
    const CounterFunction function = ctx.counterFunction[n].load();
    if (function != CounterFunction::kFrequency) {
      // The measurement takes counter n and its partner block n + 1.
      const bool partnerFree = n + 1 >= kCounters || BlockFreeLocked(ctx, n + 1);
      if (!BlockFreeLocked(ctx, n) || !partnerFree) return kDriverCodeBusy;
      ctx.counterFunction[n].store(CounterFunction::kFrequency);
      ctx.pairGateInUse[n].store(1);
      BlockReprogrammedLocked(ctx, n);
      if (n + 1 < kCounters) BlockReprogrammedLocked(ctx, n + 1);
      WriteInterruptEnableLocked(ctx);
      fresh = true;
    }
    claim = CurrentClaim(ctx, n);
    // A new start never reports the previous measurement's value; a start
    // while the measurement is under way leaves it alone.
    const bool underWay = AnyWorkerSlotOccupied(ctx) || ctx.passEpoch[n].load() == claim.epoch + 1;
    if (clearResult && (fresh || !underWay)) ClearFrequencyResult(ctx, n);
  }

  std::uint32_t code = RunMeasurementPass(ctx, claim, method);
  DeviceLock lock(ctx.lock);
  // Cut short by a reset: the reset came after the start and has the last word.
  if (code == kCodeEnded || !ClaimHoldsLocked(ctx, claim)) return kCodeOk;
  if (code != kCodeOk) {
    // A start that took the counters gives them back, stopped: a pass that
    // failed may have left them armed with loads as small as 1.
    if (fresh) {
      WriteByte(ctx, offset::CommandRegister(n), command::kDisarm);
      if (n + 1 < kCounters) WriteByte(ctx, offset::CommandRegister(n + 1), command::kDisarm);
      WriteByte(ctx, offset::kCommandStrobe, command::PairMask(n));
      ctx.counterFunction[n].store(CounterFunction::kIdle);
      ctx.pairGateInUse[n].store(0);
      WriteInterruptEnableLocked(ctx);
    }
    return code;
  }
  // An idle generator is the measurement's to take from now on.
  if (ctx.generatorState[n].load() == GeneratorState::kIdle) ctx.generatorState[n].store(GeneratorState::kGate);
  return kCodeOk;
}

FrequencyReading ReadFrequency(DeviceContext& ctx, unsigned n, std::uint16_t method) {
  std::uint32_t code = StartFrequencyMeasurement(ctx, n, method, false);
  const float hertz = ctx.frequencyResult[n].load();
  if (code == kCodeOk && (hertz > kMaxFrequencyHz || ctx.frequencyOverRange[n].load() != 0)) {
    code = kDriverCodeOutOfRange;
  }
  return {code, hertz};
}

HandlerResult HandleCounterFreqStart(DeviceContext& ctx, const Request& request) {
  const auto start = protocol::Load<protocol::CounterFreqStartRequest>(request.in.data(), request.in.size());
  if (!ValidCounter(start.counter)) return Fail(ctx, protocol::kDriverCodeBadCounter);
  const std::uint32_t code = StartFrequencyMeasurement(ctx, start.counter, start.method, true);
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

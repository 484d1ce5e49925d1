// The register primitives every counter function is built from, the raw
// counter configuration and the counter reset.
#include <array>
#include <cstdint>

#include "CounterEngine.h"
#include "CounterOps.h"
#include "qio/platform/clock.h"
#include "qio/protocol/records.h"

namespace qio::driver {

namespace {

constexpr std::uint32_t kArmSettleMs = 50;
// In the raw configuration the source word 0x0C00 stands for source 7.
constexpr std::uint16_t kRawSourceAlias = 0x0C00;
constexpr std::uint16_t kRawSourceReplacement = mode::Source(mode::kSourcePair);
constexpr unsigned kRawSourceWord = 5;  // the mode field word at offset 14

// The counters whose functions a reset of counter n ends, beside n itself.
struct ResetScope {
  std::array<unsigned, 2> linked{};
  unsigned count = 0;
  void Add(unsigned c) {
    for (unsigned i = 0; i < count; ++i) {
      if (linked[i] == c) return;
    }
    linked[count++] = c;
  }
};

ResetScope ScopeOfResetLocked(const DeviceContext& ctx, unsigned n) {
  ResetScope scope;
  // A frequency measurement on counter n - 1 has lost its partner block.
  if (n >= 1 && ctx.pairGateInUse[n - 1].load() != 0) scope.Add(n - 1);
  // A counted PWM is one function on two counters, and so is the PWM
  // measurement: the reset of either half ends both.
  const CounterFunction function = ctx.counterFunction[n].load();
  if (n >= 1 && RunsCascadedPwm(ctx, n) && ctx.counterFunction[n - 1].load() == CounterFunction::kPwm) {
    scope.Add(n - 1);
  } else if (n + 1 < kCounters && function == CounterFunction::kPwm && RunsCascadedPwm(ctx, n + 1)) {
    scope.Add(n + 1);
  } else if (function == CounterFunction::kPwmMeasure) {
    const unsigned other = 1 - n;
    if (ctx.counterFunction[other].load() == CounterFunction::kPwmMeasure) scope.Add(other);
  }
  return scope;
}

// Disarms and clears counter n (with its partner block when a measurement on
// n borrowed it), stops its generator and marks it idle. A linked reset (the
// counter was not the one asked for) leaves a frequency output on the
// generator running: it belongs to no counter function.
void ResetCounterLocked(DeviceContext& ctx, unsigned n, bool linked) {
  WriteByte(ctx, offset::CommandRegister(n), command::kDisarm);
  WriteByte(ctx, offset::CommandRegister(n), command::kReset);
  if (ctx.pairGateInUse[n].exchange(0) != 0) {
    WriteByte(ctx, offset::CommandRegister(n + 1), command::kDisarm);
    WriteByte(ctx, offset::CommandRegister(n + 1), command::kReset);
  }
  WriteByte(ctx, offset::kCommandStrobe, command::PairMask(n));

  const GeneratorState state = ctx.generatorState[n].load();
  if (state != GeneratorState::kIdle && !(linked && state == GeneratorState::kFreqOut)) StopGeneratorLocked(ctx, n);
  ctx.counterFunction[n].store(CounterFunction::kIdle);
  ctx.counterIntEnable.fetch_and(~std::uint32_t{interrupt::TerminalCount(n)});
  ClearFrequencyResult(ctx, n);
}

}  // namespace

// ---- shared register operations ----

bool ArmCounter(DeviceContext& ctx, const Claim& claim) {
  const unsigned n = claim.counter;
  const bool armed = WhileHeld(ctx, claim, [&] {
    WriteWord(ctx, offset::CommandRegister(n), command::kLoadAndArm);
    WriteWord(ctx, offset::kCommandStrobe, command::StrobeMask(n));
  });
  if (armed) platform::Sleep(kArmSettleMs);
  return armed;
}

void LatchCounterLocked(DeviceContext& ctx, unsigned n) {
  WriteWord(ctx, offset::CommandRegister(n), command::kLatch);
  WriteWord(ctx, offset::kCommandStrobe, command::StrobeMask(n));
}

// ---- engine set-up ----

bool CounterEngineInit(DeviceContext& ctx) {
  // Manual reset: once a stop is requested every sleeping thread sees it.
  ctx.stopEvent = platform::CreateEvent(true, false);
  return ctx.stopEvent != platform::kNullHandle;
}

void CounterEngineRelease(DeviceContext& ctx) {
  StopMeasurementWorkers(ctx);
  if (ctx.stopEvent != platform::kNullHandle) platform::CloseHandle(ctx.stopEvent);
  ctx.stopEvent = platform::kNullHandle;
}

// ---- raw configuration ----

HandlerResult HandleCounterConfig(DeviceContext& ctx, const Request& request) {
  const auto config = protocol::Load<protocol::CounterConfigRequest>(request.in.data(), request.in.size());
  const unsigned n = config.counter;
  if (!ValidCounter(n)) return Fail(ctx, protocol::kDriverCodeBadCounter);

  std::uint16_t fields[8];
  for (unsigned i = 0; i < 8; ++i) fields[i] = config.modeFields[i];
  if (fields[kRawSourceWord] == kRawSourceAlias) fields[kRawSourceWord] = kRawSourceReplacement;
  std::uint16_t word = 0;
  for (std::uint16_t field : fields) word = static_cast<std::uint16_t>(word | field);

  DeviceLock lock(ctx.lock);
  if (!BlockFreeLocked(ctx, n)) return FailBusy(ctx);
  BlockReprogrammedLocked(ctx, n);
  ctx.modeConfigured[n].store(1);
  WriteWord(ctx, offset::CommandRegister(n), command::kReset);
  WriteWord(ctx, offset::kCommandStrobe, command::PairMask(n));
  WriteWord(ctx, offset::ModeRegister(n), word);
  WriteWord(ctx, offset::LoadRegister(n), config.initialCount);
  WriteWord(ctx, offset::HoldRegister(n), config.initialCount);
  return 1;
}

// ---- counter reset ----

std::uint32_t ResetCounter(DeviceContext& ctx, std::uint16_t n) {
  if (!ValidCounter(n)) return 0;
  ResetScope scope;
  {
    // From here on nothing that the ended functions still had under way (a
    // start waiting for its counter to settle, a measurement pass) may write
    // the board or mark a counter again.
    DeviceLock lock(ctx.lock);
    ctx.lowFreqRestarts.store(0);
    if (SlotOccupied(ctx.longGate1sThread)) ctx.stopAutoRange.store(1);
    if (SlotOccupied(ctx.longGate2sThread)) ctx.stopLongGate.store(1);
    scope = ScopeOfResetLocked(ctx, n);
    ctx.claimEpoch[n].fetch_add(1);
    for (unsigned i = 0; i < scope.count; ++i) ctx.claimEpoch[scope.linked[i]].fetch_add(1);
    // A start that came now would claim a block that the end of this reset
    // marks idle, and run on unseen: the blocks stay taken until then.
    ctx.resetsUnderWay[n].fetch_add(1);
    for (unsigned i = 0; i < scope.count; ++i) ctx.resetsUnderWay[scope.linked[i]].fetch_add(1);
  }
  // Every measurement thread of the board leaves (the wait is outside the lock).
  StopMeasurementWorkers(ctx);

  DeviceLock lock(ctx.lock);
  ctx.resetsUnderWay[n].fetch_sub(1);
  for (unsigned i = 0; i < scope.count; ++i) ctx.resetsUnderWay[scope.linked[i]].fetch_sub(1);
  ResetCounterLocked(ctx, n, false);
  for (unsigned i = 0; i < scope.count; ++i) ResetCounterLocked(ctx, scope.linked[i], true);
  // Removes the terminal-count interrupts of the counters reset.
  WriteInterruptEnableLocked(ctx);
  return 1;
}

HandlerResult HandleCounterReset(DeviceContext& ctx, const Request& request) {
  const auto reset = protocol::Load<protocol::CounterResetRequest>(request.in.data(), request.in.size());
  if (!ValidCounter(reset.counter)) return Fail(ctx, protocol::kDriverCodeBadCounter);
  return static_cast<HandlerResult>(ResetCounter(ctx, reset.counter));
}

}  // namespace qio::driver

// The register primitives every counter function is built from, the raw
// counter configuration and the counter reset.
#include <cstdint>

#include "CounterEngine.h"
#include "CounterOps.h"
#include "CounterRegisters.h"
#include "qio/platform/clock.h"
#include "qio/protocol/records.h"

namespace qio::driver {

using namespace counter;

namespace {

constexpr std::uint32_t kArmSettleMs = 50;

bool FunctionUsesGenerator(std::int16_t function) {
  return function == kFunctionFrequency || function == kFunctionPulse || function == kFunctionPwm ||
         function == kFunctionPwmMeasure;
}

bool GeneratorOwnedByFunction(std::uint16_t state) {
  return (state & kGeneratorGate) != 0 || state == kGeneratorPwmMeasure || state == kGeneratorPulse ||
         state == kGeneratorPwm;
}

// Disarm and clear counter n (and its partner block when it served as the
// gate counter of a frequency measurement), then restore the generator and
// interrupt ownership of the counter.
void ResetCounterRegisters(DeviceContext& ctx, unsigned n) {
  {
    DeviceLock lock(ctx.lock);
    WriteByte(ctx, reg::CommandRegister(n), kCmdDisarm);
    WriteByte(ctx, reg::CommandRegister(n), kCmdReset);
    if (ctx.pairGateInUse[n / 2].load() == 1) {
      WriteByte(ctx, reg::CommandRegister(n + 1), kCmdDisarm);
      WriteByte(ctx, reg::CommandRegister(n + 1), kCmdReset);
      ctx.pairGateInUse[n / 2].store(0);
    }
    WriteByte(ctx, reg::kCommandStrobe, PairMask(n));
  }

  const std::int16_t function = ctx.counterFunction[n].load();
  if (FunctionUsesGenerator(function) && GeneratorOwnedByFunction(ctx.generatorState[n].load())) {
    StopClockGenerator(ctx, n);
  }
  const std::uint16_t state = ctx.generatorState[n].load();
  // A frequency output runs on the generator while the counter is idle.
  if (state == kGeneratorFreqOut) StopClockGenerator(ctx, n);
  // A PWM time base that was loaded but never enabled (the counter is still
  // idle): without this the generator would stay owned until another PWM.
  if (function == kFunctionIdle && state == kGeneratorPwm) StopClockGenerator(ctx, n);

  // The prescaler of a cascaded PWM is counter n - 1.
  if (function == kFunctionPwm && ctx.pwmStandalone[n].load() == 0 && n % 2 == 1) {
    ResetCounter(ctx, static_cast<std::uint16_t>(n - 1));
  }

  ctx.counterFunction[n].store(kFunctionIdle);
  // Removes the counter interrupts that event counting or a counted PWM added.
  WriteInterruptEnable(ctx, 0);
}

}  // namespace

// ---- shared register operations ----

bool ArmCounter(DeviceContext& ctx, unsigned n) {
  {
    DeviceLock lock(ctx.lock);
    WriteWord(ctx, reg::CommandRegister(n), kCmdLoadAndArm);
    WriteWord(ctx, reg::kCommandStrobe, StrobeMask(n));
  }
  platform::Sleep(kArmSettleMs);
  return true;
}

std::uint16_t LatchAndReadCounter(DeviceContext& ctx, unsigned n) {
  {
    DeviceLock lock(ctx.lock);
    WriteWord(ctx, reg::CommandRegister(n), kCmdLatch);
    WriteWord(ctx, reg::kCommandStrobe, StrobeMask(n));
  }
  return ReadWord(ctx, reg::HoldRegister(n));
}

bool StartClockGenerator(DeviceContext& ctx, unsigned n, unsigned divisor, std::uint16_t sourceBits) {
  std::atomic<std::uint16_t>& state = ctx.generatorState[n];
  const std::uint16_t current = state.load();
  const auto withoutSetting = static_cast<std::uint16_t>(current & ~kGeneratorPwmSetting);
  if (current == kGeneratorPwmSetting || current == kGeneratorPwmSettingAgain) {
    state.store(withoutSetting);  // a PWM setting takes its own generator again
  } else if (current != kGeneratorIdle && current != kGeneratorGate) {
    state.store(withoutSetting);
    FailBusy(ctx);
    return false;
  }
  {
    DeviceLock lock(ctx.lock);
    WriteWord(ctx, reg::ClockGenerator(n), GeneratorWord(divisor, sourceBits));
  }
  state.fetch_or(kGeneratorFreqOut);
  return true;
}

void StopClockGenerator(DeviceContext& ctx, unsigned n) {
  {
    DeviceLock lock(ctx.lock);
    WriteWord(ctx, reg::ClockGenerator(n), kGeneratorStopped);
  }
  ctx.generatorState[n].store(kGeneratorIdle);
}

void WriteInterruptEnable(DeviceContext& ctx, std::uint32_t extraBits) {
  DeviceLock lock(ctx.lock);
  WriteWord(ctx, reg::kInterruptControl, static_cast<std::uint16_t>(ctx.intControl.load() | extraBits));
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
  if (ctx.counterFunction[n].load() != kFunctionIdle) return FailBusy(ctx);

  ctx.modeConfigured[n].store(1);
  std::uint16_t fields[8];
  for (unsigned i = 0; i < 8; ++i) fields[i] = config.modeFields[i];
  constexpr unsigned kSourceWord = 5;  // the word at offset 14
  if (fields[kSourceWord] == kRawSourceAlias) fields[kSourceWord] = kRawSourceReplacement;
  std::uint16_t mode = 0;
  for (std::uint16_t field : fields) mode = static_cast<std::uint16_t>(mode | field);

  DeviceLock lock(ctx.lock);
  WriteWord(ctx, reg::CommandRegister(n), kCmdReset);
  WriteWord(ctx, reg::kCommandStrobe, PairMask(n));
  WriteWord(ctx, reg::ModeRegister(n), mode);
  WriteWord(ctx, reg::LoadRegister(n), config.initialCount);
  WriteWord(ctx, reg::HoldRegister(n), config.initialCount);
  return 1;
}

// ---- counter reset ----

std::uint32_t ResetCounter(DeviceContext& ctx, std::uint16_t n) {
  if (!ValidCounter(n)) return 0;
  ctx.lowFreqRestarts.store(0);
  if (SlotOccupied(ctx.longGate1sThread)) ctx.stopAutoRange.store(1);
  if (SlotOccupied(ctx.longGate2sThread)) ctx.stopLongGate.store(1);
  StopMeasurementWorkers(ctx);
  ResetCounterRegisters(ctx, n);
  return 1;
}

HandlerResult HandleCounterReset(DeviceContext& ctx, const Request& request) {
  const auto reset = protocol::Load<protocol::CounterResetRequest>(request.in.data(), request.in.size());
  if (!ValidCounter(reset.counter)) return Fail(ctx, protocol::kDriverCodeBadCounter);
  return static_cast<HandlerResult>(ResetCounter(ctx, reset.counter));
}

}  // namespace qio::driver

// PWM output: the setting computes and loads the two phase counts (and, for a
// run of N periods, the prescaler on counter n - 1 that opens a window of N
// periods); the enable starts the counters. The end of a counted run is seen
// by the interrupt service thread at counter 0's terminal count.
#include "CounterEngine.h"
#include "CounterOps.h"
#include "CounterRegisters.h"
#include "PwmTiming.h"
#include "qio/protocol/records.h"

namespace qio::driver {

using namespace counter;

namespace {

using protocol::kDriverCodeBadCounter;
using protocol::kDriverCodeBusy;
using protocol::kDriverCodeOutOfRange;

bool RunsCascadedPwm(const DeviceContext& ctx, unsigned n) {
  return ctx.counterFunction[n].load() == kFunctionPwm && ctx.pwmStandalone[n].load() == 0;
}

// Takes ClockGenerator n for a PWM time base; the 0x14 mark lets a setting
// reprogram a generator that an earlier setting of the same PWM holds.
bool TakePwmGenerator(DeviceContext& ctx, unsigned n, const pwm::Candidate& timeBase) {
  ctx.generatorState[n].fetch_or(kGeneratorPwmSetting);
  if (!StartClockGenerator(ctx, n, timeBase.divisor, GeneratorSourceBits(timeBase.SourceCode()))) return false;
  ctx.generatorState[n].store(kGeneratorPwm);
  return true;
}

// Loads the prescaler for N periods of the actual period and low time.
// Returns 0 or a code.
std::uint32_t LoadPrescaler(DeviceContext& ctx, unsigned n, std::uint32_t pulses, const pwm::OutputPlan& output) {
  if (pulses == 0) return kCodeOk;
  const int p = static_cast<int>(n) - 1;
  if (p % 2 != 0) return kDriverCodeBadCounter;  // also counter 0: no counter below it
  const auto prescaler = static_cast<unsigned>(p);
  if (ctx.counterFunction[prescaler].load() != kFunctionIdle || ctx.counterFunction[n].load() != kFunctionIdle) {
    return kDriverCodeBusy;
  }
  const std::optional<pwm::PrescalerPlan> plan =
      pwm::PlanPrescaler(prescaler, pulses, output.periodMs, output.lowMs);
  if (!plan) return kDriverCodeOutOfRange;

  {
    DeviceLock lock(ctx.lock);
    WriteWord(ctx, reg::LoadRegister(prescaler), 1);
    WriteWord(ctx, reg::HoldRegister(prescaler), static_cast<std::uint16_t>(plan->count - 1));
  }
  if (!plan->baseClock && !TakePwmGenerator(ctx, prescaler, plan->timeBase)) return kDriverCodeBusy;
  ctx.pwmModeWord[prescaler].store(plan->mode);
  return kCodeOk;
}

}  // namespace

HandlerResult HandlePwmSetting(DeviceContext& ctx, const Request& request) {
  const auto setting = protocol::Load<protocol::PwmSettingRequest>(request.in.data(), request.in.size());
  const unsigned n = setting.counter;
  if (!ValidCounter(n)) return Fail(ctx, kDriverCodeBadCounter);
  const std::int16_t function = ctx.counterFunction[n].load();
  if (function != kFunctionIdle && function != kFunctionPwm) return FailBusy(ctx);
  // An even counter is the prescaler of a cascade on counter n + 1.
  if (n % 2 == 0 && n + 1 < kCounters && RunsCascadedPwm(ctx, n + 1)) return FailBusy(ctx);

  const bool counted = setting.pulseCount != 0;
  ctx.pwmStandalone[n].store(counted ? 0 : 1);
  const auto baseMode =
      static_cast<std::uint16_t>(n * kModeBlockStep + (counted ? kModePwmGeneratorCascaded : kModePwmGenerator));

  const std::optional<pwm::OutputPlan> plan = pwm::PlanOutput(setting.periodMs, setting.highMs, counted, baseMode);
  if (!plan) return Fail(ctx, kDriverCodeOutOfRange);  // no time base reproduces the times
  const std::uint32_t code = LoadPrescaler(ctx, n, setting.pulseCount, *plan);
  if (code != kCodeOk) return Fail(ctx, code);
  if (!plan->baseClock && !TakePwmGenerator(ctx, n, plan->timeBase)) return 0;

  {
    DeviceLock lock(ctx.lock);
    WriteWord(ctx, reg::LoadRegister(n), plan->lowCount);
    WriteWord(ctx, reg::HoldRegister(n), plan->highCount);
    WriteWord(ctx, reg::ModeRegister(n), plan->mode);
  }
  ctx.pwmModeWord[n].store(plan->mode);
  // The counter runs only after the enable.
  return 1;
}

HandlerResult HandlePwmEnable(DeviceContext& ctx, const Request& request) {
  const auto enable = protocol::Load<protocol::CounterResetRequest>(request.in.data(), request.in.size());
  const unsigned n = enable.counter;
  if (!ValidCounter(n)) return Fail(ctx, kDriverCodeBadCounter);
  if (ctx.counterFunction[n].load() != kFunctionIdle) return FailBusy(ctx);
  const bool cascaded = ctx.pwmStandalone[n].load() == 0;
  // The prescaler of a cascade is counter n - 1; counter 0 has none.
  if (cascaded && n == 0) return Fail(ctx, kDriverCodeBadCounter);
  const unsigned p = n - 1;

  if (cascaded) {
    const std::uint16_t mode = ctx.pwmModeWord[p].load();
    DeviceLock lock(ctx.lock);
    WriteWord(ctx, reg::ModeRegister(p), static_cast<std::uint16_t>(mode & kPrescalerLoadMask));
    WriteByte(ctx, reg::CommandRegister(p), kCmdLoad);
    WriteByte(ctx, reg::kCommandStrobe, StrobeMask(p));
    WriteWord(ctx, reg::ModeRegister(p), mode);
  }
  {
    const std::uint16_t mode = ctx.pwmModeWord[n].load();
    DeviceLock lock(ctx.lock);
    WriteWord(ctx, reg::ModeRegister(n), static_cast<std::uint16_t>(mode & kPwmArmMask));
    WriteByte(ctx, reg::CommandRegister(n), kCmdLoadAndArm);
    WriteByte(ctx, reg::kCommandStrobe, StrobeMask(n));
    WriteWord(ctx, reg::ModeRegister(n), mode);
  }
  if (cascaded) {
    // Both counters are marked before the prescaler runs: a short window may
    // end (terminal count of counter 0) before this handler returns.
    ctx.counterFunction[n].store(kFunctionPwm);
    ctx.counterFunction[p].store(kFunctionPwm);
    DeviceLock lock(ctx.lock);
    WriteByte(ctx, reg::CommandRegister(p), kCmdLoadAndArm);
    WriteByte(ctx, reg::kCommandStrobe, StrobeMask(p));
    WriteWord(ctx, reg::kInterruptControl,
              static_cast<std::uint16_t>(ctx.intControl.load() | reg::kIntTerminalCount0));
    return 1;
  }
  ctx.counterFunction[n].store(kFunctionPwm);
  return 1;
}

}  // namespace qio::driver

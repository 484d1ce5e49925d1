// PWM output: the setting computes and loads the two phase counts (and, for a
// run of N periods, the prescaler on counter n - 1 that opens a window of N
// periods); the enable starts the counters. The end of a counted run is seen
// by the interrupt service thread at counter 0's terminal count.
#include "CounterEngine.h"
#include "CounterOps.h"
#include "PwmTiming.h"
#include "qio/protocol/records.h"

namespace qio::driver {

namespace pwm = counter::pwm;

namespace {

using protocol::kDriverCodeBadCounter;
using protocol::kDriverCodeBusy;
using protocol::kDriverCodeOutOfRange;
// An enable without a loaded setting: the code the library gives the same case.
constexpr std::uint32_t kDriverCodeNoSetting = protocol::kDriverCodeBadBuffer;

// The prescaler of a run of N periods, planned and checked, not yet loaded.
struct PrescalerLoad {
  bool used = false;
  unsigned counter = 0;
  pwm::PrescalerPlan plan{};
};

// Checks and plans the prescaler for N periods of the actual period and low
// time (counter p = n - 1). Returns 0 or a code; nothing is written.
std::uint32_t PlanPrescalerLocked(const DeviceContext& ctx, unsigned n, std::uint32_t pulses,
                                  const pwm::OutputPlan& output, PrescalerLoad& load) {
  if (pulses == 0) return kCodeOk;
  const int p = static_cast<int>(n) - 1;
  if (p % 2 != 0) return kDriverCodeBadCounter;  // also counter 0: no counter below it
  const auto prescaler = static_cast<unsigned>(p);
  if (!BlockFreeLocked(ctx, prescaler) || ctx.counterFunction[n].load() != CounterFunction::kIdle) {
    return kDriverCodeBusy;
  }
  const std::optional<pwm::PrescalerPlan> plan =
      pwm::PlanPrescaler(prescaler, pulses, output.periodMs, output.lowMs);
  if (!plan) return kDriverCodeOutOfRange;
  if (!plan->baseClock && !GeneratorTakeableLocked(ctx, prescaler, GeneratorState::kPwm)) return kDriverCodeBusy;
  load = {true, prescaler, *plan};
  return kCodeOk;
}

void TakePwmGeneratorLocked(DeviceContext& ctx, unsigned n, const pwm::Candidate& timeBase) {
  TakeGeneratorLocked(ctx, n, GeneratorState::kPwm, timeBase.divisor, generator::SourceBits(timeBase.SourceCode()));
}

}  // namespace

HandlerResult HandlePwmSetting(DeviceContext& ctx, const Request& request) {
  const auto setting = protocol::Load<protocol::PwmSettingRequest>(request.in.data(), request.in.size());
  const unsigned n = setting.counter;
  if (!ValidCounter(n)) return Fail(ctx, kDriverCodeBadCounter);
  const bool counted = setting.pulseCount != 0;

  // Everything is checked before anything is written: a setting that fails
  // leaves the last good one (or none) loaded.
  DeviceLock lock(ctx.lock);
  const CounterFunction function = ctx.counterFunction[n].load();
  const bool free = BlockFreeLocked(ctx, n);
  // A setting may be repeated while its continuous PWM runs; a counted run
  // keeps its setting until it ends.
  const bool runningContinuous = function == CounterFunction::kPwm && !RunsCascadedPwm(ctx, n);
  if (!free && !runningContinuous) return FailBusy(ctx);
  // An even counter is the prescaler of a cascade on counter n + 1.
  if (n % 2 == 0 && n + 1 < kCounters && RunsCascadedPwm(ctx, n + 1)) return FailBusy(ctx);

  const auto baseMode = static_cast<std::uint16_t>((counted ? mode::kPwmCascaded : mode::kPwm) |
                                                   mode::GeneratorSource(n));
  const std::optional<pwm::OutputPlan> plan = pwm::PlanOutput(setting.periodMs, setting.highMs, counted, baseMode);
  if (!plan) return Fail(ctx, kDriverCodeOutOfRange);  // no time base reproduces the times
  PrescalerLoad prescaler;
  const std::uint32_t code = PlanPrescalerLocked(ctx, n, setting.pulseCount, *plan, prescaler);
  if (code != kCodeOk) return Fail(ctx, code);
  if (!plan->baseClock && !GeneratorTakeableLocked(ctx, n, GeneratorState::kPwm)) return FailBusy(ctx);

  if (prescaler.used) {
    const unsigned p = prescaler.counter;
    BlockReprogrammedLocked(ctx, p);
    WriteWord(ctx, offset::LoadRegister(p), 1);
    WriteWord(ctx, offset::HoldRegister(p), static_cast<std::uint16_t>(prescaler.plan.count - 1));
    if (!prescaler.plan.baseClock) TakePwmGeneratorLocked(ctx, p, prescaler.plan.timeBase);
    ctx.pwmModeWord[p].store(prescaler.plan.mode);
  }
  BlockReprogrammedLocked(ctx, n);
  if (!plan->baseClock) TakePwmGeneratorLocked(ctx, n, plan->timeBase);
  WriteWord(ctx, offset::LoadRegister(n), plan->lowCount);
  WriteWord(ctx, offset::HoldRegister(n), plan->highCount);
  WriteWord(ctx, offset::ModeRegister(n), plan->mode);
  ctx.pwmModeWord[n].store(plan->mode);
  ctx.pwmStandalone[n].store(counted ? 0 : 1);
  ctx.pwmPulses[n].store(setting.pulseCount);
  ctx.pwmConfigured[n].store(1);
  // The counter runs only after the enable.
  return 1;
}

HandlerResult HandlePwmEnable(DeviceContext& ctx, const Request& request) {
  const auto enable = protocol::Load<protocol::CounterResetRequest>(request.in.data(), request.in.size());
  const unsigned n = enable.counter;
  if (!ValidCounter(n)) return Fail(ctx, kDriverCodeBadCounter);

  DeviceLock lock(ctx.lock);
  if (!BlockFreeLocked(ctx, n)) return FailBusy(ctx);
  // Only a loaded setting can run: none was made, it failed, or another
  // function has since reprogrammed its blocks or a reset stopped its clock.
  if (ctx.pwmConfigured[n].load() == 0) return Fail(ctx, kDriverCodeNoSetting);
  const bool cascaded = ctx.pwmStandalone[n].load() == 0;
  const unsigned p = n - 1;  // a cascade is never loaded on counter 0
  if (cascaded && !BlockFreeLocked(ctx, p)) return FailBusy(ctx);

  ctx.counterFunction[n].store(CounterFunction::kPwm);
  if (cascaded) {
    // Both counters are marked before the prescaler runs: a short window may
    // end (terminal count of counter 0) right after it is armed.
    ctx.counterFunction[p].store(CounterFunction::kPwm);
    const std::uint16_t word = ctx.pwmModeWord[p].load();
    WriteWord(ctx, offset::ModeRegister(p), static_cast<std::uint16_t>(word & mode::kPrescalerLoadMask));
    WriteByte(ctx, offset::CommandRegister(p), command::kLoad);
    WriteByte(ctx, offset::kCommandStrobe, command::StrobeMask(p));
    WriteWord(ctx, offset::ModeRegister(p), word);
  }
  const std::uint16_t word = ctx.pwmModeWord[n].load();
  WriteWord(ctx, offset::ModeRegister(n), static_cast<std::uint16_t>(word & mode::kPwmArmMask));
  WriteByte(ctx, offset::CommandRegister(n), command::kLoadAndArm);
  WriteByte(ctx, offset::kCommandStrobe, command::StrobeMask(n));
  WriteWord(ctx, offset::ModeRegister(n), word);
  if (cascaded) {
    WriteByte(ctx, offset::CommandRegister(p), command::kLoadAndArm);
    WriteByte(ctx, offset::kCommandStrobe, command::StrobeMask(p));
    // The prescaler's terminal count ends the run.
    AddCounterInterruptLocked(ctx, interrupt::TerminalCount(p));
  }
  return 1;
}

}  // namespace qio::driver
